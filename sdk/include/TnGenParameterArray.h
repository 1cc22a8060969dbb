// A GenICam feature set: the parameters of one node map, and the state stack
// that changes them by name.
#ifndef TN_GEN_PARAMETER_ARRAY_H
#define TN_GEN_PARAMETER_ARRAY_H

#include <stdint.h>

#include <mutex>
#include <utility>
#include <vector>

#include "TnExport.h"
#include "TnGenParameter.h"
#include "TnGenTypes.h"
#include "TnResult.h"
#include "TnString.h"

#ifndef SWIG
namespace tn
{
namespace genicam
{
struct ParameterArrayState;
}
} // namespace tn
#endif

/// The GenICam feature set of a device or a stream.
///
/// Everything it hands out (parameters, categories, the node map) belongs to
/// it and lives as long as the array.
class TN_GENICAM_API TnGenParameterArray
{
public:
    /// An array without features.
    TnGenParameterArray();
    virtual ~TnGenParameterArray();

    /// The number of parameters.
    uint32_t GetCount() const;
    /// The parameter at a position; null past the end.
    TnGenParameter *Get(uint32_t aIndex);
    /// The parameter of a name; null when there is none.
    TnGenParameter *Get(const TnString &aName);
    /// The parameter at a position; null past the end.
    TnGenParameter *operator[](uint32_t aIndex);
    /// The parameter of a name; null when there is none.
    TnGenParameter *operator[](const TnString &aName);

    /// The integer parameter of a name; null when there is none of that type.
    TnGenInteger *GetInteger(const TnString &aName);
    TnGenFloat *GetFloat(const TnString &aName);
    TnGenEnum *GetEnum(const TnString &aName);
    TnGenBoolean *GetBoolean(const TnString &aName);
    TnGenCommand *GetCommand(const TnString &aName);
    TnGenString *GetString(const TnString &aName);
    TnGenRegister *GetRegister(const TnString &aName);

    /// The number of categories.
    uint32_t GetCategoryCount() const;
    TnGenCategory *GetCategory(uint32_t aIndex);
    TnGenCategory *GetCategory(const TnString &aName);

    TnResult GetIntegerValue(const TnString &aName, int64_t &aValue);
    TnResult SetIntegerValue(const TnString &aName, int64_t aValue);
    TnResult GetFloatValue(const TnString &aName, double &aValue);
    TnResult SetFloatValue(const TnString &aName, double aValue);
    TnResult GetBooleanValue(const TnString &aName, bool &aValue);
    TnResult SetBooleanValue(const TnString &aName, bool aValue);
    TnResult GetStringValue(const TnString &aName, TnString &aValue);
    TnResult SetStringValue(const TnString &aName, const TnString &aValue);
    /// The integer value of an enumeration's current entry.
    TnResult GetEnumValue(const TnString &aName, int64_t &aValue);
    /// The name of an enumeration's current entry.
    TnResult GetEnumValue(const TnString &aName, TnString &aValue);
    TnResult SetEnumValue(const TnString &aName, const TnString &aValue);
    TnResult SetEnumValue(const TnString &aName, int64_t aValue);
    TnResult ExecuteCommand(const TnString &aName);
    TnResult GetIntegerRange(const TnString &aName, int64_t &aMin, int64_t &aMax);
    TnResult GetFloatRange(const TnString &aName, double &aMin, double &aMax);

    /// Invalidates every cached value.
    TnResult InvalidateCache();
    /// Invalidates the parameters whose polling time has elapsed.
    TnResult Poll();
    /// Lets the chunk features read from a chunk payload (GigE Vision chunk
    /// layout) until DetachDataChunks. The memory stays the caller's.
    TnResult AttachDataChunks(uint8_t *aBuffer, uint32_t aBufferLength);
    TnResult DetachDataChunks();
    /// The access mode of the node map's device port.
    TnGenAccessMode GetAccessMode() const;
    /// The node map behind the array.
    TN_GENAPI_NS::INodeMap *GetNodeMap();

#ifndef SWIG
    explicit TnGenParameterArray(tn::genicam::ParameterArrayState *aState);
    tn::genicam::ParameterArrayState *GetState() const { return mState; }

private:
    TnGenParameterArray(const TnGenParameterArray &) = delete;
    TnGenParameterArray &operator=(const TnGenParameterArray &) = delete;
    tn::genicam::ParameterArrayState *mState;
#endif
};

/// Changes parameters of one array by name. Destroying the stack restores
/// the values the parameters had before their first change through it, the
/// last change first.
class TN_GENICAM_API TnGenStateStack
{
public:
    TnGenStateStack(TnGenParameterArray *aArray);
    virtual ~TnGenStateStack();

    /// Sets the named integer parameter, keeping its former value.
    TnResult SetIntegerValue(const TnString &aName, int64_t aValue);
    /// Sets the named float parameter, keeping its former value.
    TnResult SetFloatValue(const TnString &aName, double aValue);
    /// Sets the named boolean parameter, keeping its former value.
    TnResult SetBooleanValue(const TnString &aName, bool aValue);
    /// Sets the named string parameter, keeping its former value.
    TnResult SetStringValue(const TnString &aName, const TnString &aValue);
    /// Selects the entry of that name of the named enumeration, keeping its
    /// former value.
    TnResult SetEnumValue(const TnString &aName, const TnString &aValue);
    /// Selects the entry of that value of the named enumeration, keeping its
    /// former value.
    TnResult SetEnumValue(const TnString &aName, int64_t aValue);

#ifndef SWIG
private:
    TnGenStateStack(const TnGenStateStack &) = delete;
    TnGenStateStack &operator=(const TnGenStateStack &) = delete;
    /// The parameter's value as text when the stack has not saved it yet.
    bool Capture(const TnString &aName, TnString &aValue);
    /// Keeps the earlier value after a successful first change.
    void Record(const TnResult &aResult, bool aCaptured, const TnString &aName, const TnString &aValue);
    std::mutex mMutex;
    TnGenParameterArray *mArray;
    std::vector<std::pair<TnString, TnString>> mSaved; // name, value as text
#endif
};

#endif
