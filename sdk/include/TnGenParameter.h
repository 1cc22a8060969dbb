// GenICam features of a parameter array: the parameter base, the typed
// parameters, enumeration entries, categories, parameter lists and the
// receiver of update notifications.
#ifndef TN_GEN_PARAMETER_H
#define TN_GEN_PARAMETER_H

#include <stdint.h>

#include <mutex>
#include <vector>

#include "TnExport.h"
#include "TnGenTypes.h"
#include "TnResult.h"
#include "TnString.h"

#ifndef SWIG
#define TN_GENAPI_NS TnGenApi
#endif

namespace TN_GENAPI_NS
{
class INode;
class INodeMap;
} // namespace TN_GENAPI_NS

class TnGenParameter;
class TnGenParameterList;

#ifndef SWIG
namespace tn
{
namespace genicam
{
struct ParameterArrayState;
}
} // namespace tn
#endif

/// Receives the update notifications of the parameters it is registered with.
class TN_GENICAM_API TnGenEventSink
{
public:
    /// Called after the value of aParameter, or what it depends on, changed.
    virtual void OnParameterUpdate(TnGenParameter *aParameter) = 0;

#ifndef SWIG
    /// Sinks are never destroyed through this interface.
    ~TnGenEventSink() {}
#endif
};

/// One GenICam feature of a parameter array; the array owns it.
class TN_GENICAM_API TnGenParameter
{
public:
    /// The feature's name.
    TnResult GetName(TnString &aName) const;

    /// The label a user interface shows.
    TnResult GetDisplayName(TnString &aDisplayName) const;

    /// A short help text.
    TnResult GetToolTip(TnString &aToolTip) const;

    /// A long help text.
    TnResult GetDescription(TnString &aDescription) const;

    /// The name of the category that holds the feature.
    TnResult GetCategory(TnString &aCategory) const;

    /// The value as text.
    TnResult ToString(TnString &aValue) const;

    /// Sets the value from text.
    TnResult FromString(const TnString &aValue);

    /// The kind of the feature.
    TnResult GetType(TnGenType &aType) const;

    /// Whether the feature is standard or custom.
    TnResult GetNameSpace(TnGenNameSpace &aNameSpace) const;

    /// The visibility level of the feature.
    TnResult GetVisibility(TnGenVisibility &aVisibility) const;

    /// Whether the feature is shown at the given visibility level.
    TnResult IsVisible(TnGenVisibility aVisibility, bool &aVisible) const;

    /// Whether the host keeps a cached copy of the value.
    TnResult IsValueCached(bool &aCached) const;

    /// Whether the value belongs in a saved state of the feature set.
    TnResult IsPersistent(bool &aPersistent) const;

    /// Whether the device implements the feature.
    TnResult IsImplemented(bool &aImplemented) const;

    /// Whether the feature is available now.
    TnResult IsAvailable(bool &aAvailable) const;

    /// Whether the feature can be written now.
    TnResult IsWritable(bool &aWritable) const;

    /// Whether the feature can be read now.
    TnResult IsReadable(bool &aReadable) const;

    /// Whether the feature is streamable.
    TnResult IsStreamable(bool &aStreamable) const;

    /// Whether the feature selects others.
    TnResult IsSelector(bool &aSelector) const;

    /// The features this one selects.
    TnResult GetSelectedParameters(TnGenParameterList &aList) const;

    /// The selectors that act on this feature.
    TnResult GetSelectingParameters(TnGenParameterList &aList) const;

    /// The node behind the feature.
    TN_GENAPI_NS::INode *GetNode();

    /// Registers a sink for the feature's update notifications.
    TnResult RegisterEventSink(TnGenEventSink *aEventSink);

    /// Unregisters a sink.
    TnResult UnregisterEventSink(TnGenEventSink *aEventSink);

    /// Whether update notifications are sent.
    bool GetUpdatesEnabled();

    /// Suspends (false) or resumes (true) the update notifications.
    void SetUpdatesEnabled(bool aEnabled);

#ifndef SWIG
    virtual ~TnGenParameter();

protected:
    explicit TnGenParameter(TN_GENAPI_NS::INode *aNode);
    TN_GENAPI_NS::INode *mNode;
    // Set by the array that creates the parameter.
    tn::genicam::ParameterArrayState *mArrayState;

private:
    friend struct tn::genicam::ParameterArrayState;
    TnGenParameter(const TnGenParameter &) = delete;
    TnGenParameter &operator=(const TnGenParameter &) = delete;
    // Guarded by the array state's sink mutex.
    std::vector<TnGenEventSink *> mSinks;
    bool mUpdatesEnabled;
#endif
};

/// A 64-bit integer feature.
class TN_GENICAM_API TnGenInteger : public TnGenParameter
{
public:
    /// The current value.
    TnResult GetValue(int64_t &aValue) const;
    /// Sets the value.
    TnResult SetValue(int64_t aValue);
    /// The smallest value the feature takes now.
    TnResult GetMin(int64_t &aMin) const;
    /// The largest value the feature takes now.
    TnResult GetMax(int64_t &aMax) const;
    /// The step a user interface suggests.
    TnResult GetIncrement(int64_t &aIncrement) const;
    /// How a user interface shows the value.
    TnResult GetRepresentation(TnGenRepresentation &aRepresentation) const;
    /// The unit of the value; empty without one.
    TnResult GetUnit(TnString &aUnit) const;

#ifndef SWIG
    explicit TnGenInteger(TN_GENAPI_NS::INode *aNode);
#endif
};

/// A floating-point feature.
class TN_GENICAM_API TnGenFloat : public TnGenParameter
{
public:
    /// The current value.
    TnResult GetValue(double &aValue) const;
    /// Sets the value.
    TnResult SetValue(double aValue);
    /// The smallest value the feature takes now.
    TnResult GetMin(double &aMin) const;
    /// The largest value the feature takes now.
    TnResult GetMax(double &aMax) const;
    /// How a user interface shows the value.
    TnResult GetRepresentation(TnGenRepresentation &aRepresentation) const;
    /// The unit of the value; empty without one.
    TnResult GetUnit(TnString &aUnit) const;

#ifndef SWIG
    explicit TnGenFloat(TN_GENAPI_NS::INode *aNode);
#endif
};

/// One entry of an enumeration feature.
class TN_GENICAM_API TnGenEnumEntry
{
public:
    /// The entry's integer value.
    TnResult GetValue(int64_t &aValue) const;
    /// The entry's symbolic name.
    TnResult GetName(TnString &aName) const;
    /// The label a user interface shows.
    TnResult GetDisplayName(TnString &aDisplayName) const;
    /// A long help text.
    TnResult GetDescription(TnString &aDescription) const;
    /// A short help text.
    TnResult GetToolTip(TnString &aToolTip) const;
    /// The visibility level of the entry.
    TnResult GetVisibility(TnGenVisibility &aVisibility) const;
    /// Whether the entry is standard or custom.
    TnResult GetNameSpace(TnGenNameSpace &aNameSpace) const;
    /// Whether the entry is shown at the given visibility level.
    TnResult IsVisible(TnGenVisibility aVisibility, bool &aVisible) const;
    /// Whether the entry can be selected now.
    TnResult IsAvailable(bool &aAvailable) const;

#ifndef SWIG
    explicit TnGenEnumEntry(TN_GENAPI_NS::INode *aNode);
    ~TnGenEnumEntry();

private:
    TnGenEnumEntry(const TnGenEnumEntry &) = delete;
    TnGenEnumEntry &operator=(const TnGenEnumEntry &) = delete;
    TN_GENAPI_NS::INode *mNode;
#endif
};

/// An enumeration feature: its value is one of its entries.
class TN_GENICAM_API TnGenEnum : public TnGenParameter
{
public:
    /// The current entry's integer value.
    TnResult GetValue(int64_t &aValue) const;
    /// The current entry's symbolic name.
    TnResult GetValue(TnString &aValue) const;
    /// Selects the entry with the given integer value.
    TnResult SetValue(int64_t aValue);
    /// Selects the entry with the given name.
    TnResult SetValue(const TnString &aValue);
    /// The number of entries.
    TnResult GetEntriesCount(int64_t &aCount) const;
    /// The entry at a position, from 0; the entry belongs to the enumeration.
    TnResult GetEntryByIndex(int64_t aIndex, const TnGenEnumEntry **aEntry) const;
    /// The entry with the given integer value.
    TnResult GetEntryByValue(int64_t aValue, const TnGenEnumEntry **aEntry) const;
    /// The entry with the given symbolic name.
    TnResult GetEntryByName(const TnString &aName, const TnGenEnumEntry **aEntry) const;

#ifndef SWIG
    explicit TnGenEnum(TN_GENAPI_NS::INode *aNode);
    ~TnGenEnum();

private:
    std::vector<TnGenEnumEntry *> mEntries;
#endif
};

/// A true-or-false feature.
class TN_GENICAM_API TnGenBoolean : public TnGenParameter
{
public:
    /// The current value.
    TnResult GetValue(bool &aValue) const;
    /// Sets the value.
    TnResult SetValue(bool aValue);

#ifndef SWIG
    explicit TnGenBoolean(TN_GENAPI_NS::INode *aNode);
#endif
};

/// A text feature.
class TN_GENICAM_API TnGenString : public TnGenParameter
{
public:
    /// The current text.
    TnResult GetValue(TnString &aValue) const;
    /// Sets the text, at most the longest text long.
    TnResult SetValue(const TnString &aValue);
    /// The longest text, in characters.
    TnResult GetMaxLength(int64_t &aMaxLength) const;

#ifndef SWIG
    explicit TnGenString(TN_GENAPI_NS::INode *aNode);
#endif
};

/// An action the device carries out.
class TN_GENICAM_API TnGenCommand : public TnGenParameter
{
public:
    /// Starts the command.
    TnResult Execute();
    /// Whether the device finished the command.
    TnResult IsDone(bool &aDone);

#ifndef SWIG
    explicit TnGenCommand(TN_GENAPI_NS::INode *aNode);
#endif
};

/// A block of raw bytes of fixed length.
class TN_GENICAM_API TnGenRegister : public TnGenParameter
{
public:
    /// The register's length in bytes.
    TnResult GetLength(int64_t &aLength) const;
    /// Reads aLength bytes of the register into aBuffer.
    TnResult Get(uint8_t *aBuffer, int64_t aLength) const;
    /// Writes aLength bytes from aBuffer to the register.
    TnResult Set(const uint8_t *aBuffer, int64_t aLength);

#ifndef SWIG
    explicit TnGenRegister(TN_GENAPI_NS::INode *aNode);
#endif
};

/// A category: a named group of features.
class TN_GENICAM_API TnGenCategory
{
public:
    /// The category's name.
    TnResult GetName(TnString &aName) const;
    /// The label a user interface shows.
    TnResult GetDisplayName(TnString &aDisplayName) const;
    /// A short help text.
    TnResult GetToolTip(TnString &aToolTip) const;
    /// A long help text.
    TnResult GetDescription(TnString &aDescription) const;
    /// Whether the category is standard or custom.
    TnResult GetNameSpace(TnGenNameSpace &aNameSpace) const;
    /// The visibility level of the category.
    TnResult GetVisibility(TnGenVisibility &aVisibility) const;
    /// Whether the category is shown at the given visibility level.
    TnResult IsVisible(TnGenVisibility aVisibility, bool &aVisible) const;
    /// Whether the device implements the category.
    TnResult IsImplemented(bool &aImplemented) const;
    /// The node behind the category.
    TN_GENAPI_NS::INode *GetNode();

#ifndef SWIG
    explicit TnGenCategory(TN_GENAPI_NS::INode *aNode);
    ~TnGenCategory();

private:
    TnGenCategory(const TnGenCategory &) = delete;
    TnGenCategory &operator=(const TnGenCategory &) = delete;
    TN_GENAPI_NS::INode *mNode;
#endif
};

/// An ordered list of parameters; it owns none of them.
class TN_GENICAM_API TnGenParameterList
{
public:
    TnGenParameterList();
    ~TnGenParameterList();

    /// Appends a parameter and sets the walk back to the start.
    void Add(TnGenParameter *aParameter);
    /// Removes every item and sets the walk back to the start.
    void Clear();
    uint32_t GetSize() const;
    /// The item at a position; null past the end.
    TnGenParameter *GetItem(uint32_t aIndex);
    /// The item at a position; null past the end.
    TnGenParameter *operator[](uint32_t aIndex);
    /// Starts a walk: the first item, null for an empty list.
    TnGenParameter *GetFirst();
    /// The next item of the walk, null past the end.
    TnGenParameter *GetNext();

#ifndef SWIG
    TnGenParameterList(const TnGenParameterList &aList);
    TnGenParameterList &operator=(const TnGenParameterList &aList);

private:
    mutable std::mutex mMutex;
    std::vector<TnGenParameter *> mItems;
    // The item the next GetNext returns.
    size_t mPosition;
#endif
};

#endif
