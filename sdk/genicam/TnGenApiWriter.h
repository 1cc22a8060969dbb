// Writing GenICam XML: a device's features, described as plain records, turned
// into a description in the GenApi schema (RegisterDescription root, Port
// "Device"), written with libxml2's tree API and checked by loading it into
// the engine and running its strict check (CheckDefinitions).
//
// What the XML holds, besides the features themselves:
// - a Category "Root" over the top-level categories, one Category per level;
// - for a feature whose value lies in a register, chunk or event: a private
//   register node named after the feature with "_Reg" added (string and
//   register features are the register node themselves), on the Port
//   "Device", on "ChunkPort_<ID>" (with ChunkID) or "EventPort_<ID>" (with
//   EventID);
// - for features made by some of several sources (owners): availability,
//   register address and differing limits that follow the source selector,
//   as private IntSwissKnife or SwissKnife nodes named after the feature with
//   "_Avail", "_Address", "_Min", "_Max" or "_Inc" added; an enumeration shows
//   the entries of the selected source ("<feature>_<entry>_Avail");
// - a feature locked both while streaming and by its pIsLocked gets
//   "<feature>_Locked".
//
// A description that cannot be built answers TN_GENICAM_XML_ERROR with a
// description that begins "feature '<name>': " for the feature at fault.
#ifndef TN_GENAPI_WRITER_H
#define TN_GENAPI_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "TnExport.h"
#include "TnGenTypes.h"
#include "TnResult.h"

namespace tn
{
namespace genicam
{
enum class FeatureKind
{
    Integer,
    Float,
    String,
    Register,
    Boolean,
    Command,
    Enumeration,
    IntSwissKnife,
    FloatSwissKnife,
    IntConverter,
    FloatConverter
};

/// "Integer", "Float", ... for messages: the node's element name.
TN_GENICAM_API const char *KindName(FeatureKind aKind);

struct EnumEntrySpec
{
    std::string mName;
    int64_t mValue = 0;
    std::string mDisplayName;
    TnGenNameSpace mNameSpace = TnGenNameSpaceCustom;
    std::string mIsAvailable; // pIsAvailable
};

/// A chunk or event mapping.
struct MappingSpec
{
    uint32_t mId = 0;
    uint32_t mOffset = 0;
    uint64_t mLength = 0;
    TnGenEndianness mEndianness = TnGenEndiannessLittle;
    bool mAdjust = false;
};

/// The device register a feature's value lies in.
struct RegisterBinding
{
    uint32_t mAddress = 0;
    uint32_t mLength = 0;
    bool mReadable = true;
    bool mWritable = true;
    /// A bit field of the big-endian value (bit 0 the least significant),
    /// for the device's own flag features; -1 for the whole register.
    int mLowBit = -1;
    int mHighBit = -1;
    bool mSigned = false;
    /// An array indexed by a selector: the address grows by mIndexOffset
    /// per unit of the selector's value.
    std::string mIndexSelector;
    uint32_t mIndexOffset = 0;
};

struct FeatureSpec
{
    FeatureKind mKind = FeatureKind::Integer;
    std::string mName;
    std::string mDisplayName;
    std::string mCategory;
    std::string mCategoryDisplayName;
    std::string mDescription;
    std::string mToolTip;
    std::string mUnit;
    TnGenAccessMode mAccessMode = TnGenAccessModeUndefined;
    TnGenRepresentation mRepresentation = TnGenRepresentationUndefined;
    TnGenVisibility mVisibility = TnGenVisibilityBeginner;
    TnGenCache mCache = TnGenCacheNone;
    uint32_t mPollingTime = 0;
    TnGenNameSpace mNameSpace = TnGenNameSpaceCustom;
    bool mTLLocked = false;
    bool mStreamable = false;

    std::string mPValue;
    std::string mPIsAvailable;
    std::string mPIsLocked;
    std::string mPMin;
    std::string mPMax;
    std::string mPInc;

    bool mHasChunk = false;
    MappingSpec mChunk;
    bool mHasEvent = false;
    MappingSpec mEvent;
    bool mHasRegister = false;
    RegisterBinding mRegister;

    std::vector<std::string> mSelectors;   // features that select this one
    std::vector<std::string> mInvalidators;
    std::vector<std::string> mVariables;
    std::vector<EnumEntrySpec> mEntries;

    bool mHasIntLimits = false;
    int64_t mMin = 0;
    int64_t mMax = 0;
    int64_t mInc = 1;
    bool mHasFloatLimits = false;
    double mFloatMin = 0;
    double mFloatMax = 0;

    std::string mFormula;     // SwissKnifes; converters: the from formula
    std::string mToFormula;   // converters
    std::string mValueFeature; // converters

    /// -1 for a device-wide feature, else the index of the source that made it.
    int mOwner = -1;
};

/// A change to a feature that the description defines elsewhere (one of the
/// device's standard features), applied when the description is built.
struct FeatureChange
{
    enum Kind
    {
        AddInvalidator,
        AddSelected, // mTarget is the selector, mArgument the selected feature
        SetPIsAvailable,
        SetPIsAvailableForEntry,
        SetPIsLocked,
        SetPValue,
        SetPMin,
        SetPMax,
        SetPInc
    };
    Kind mKind = AddInvalidator;
    std::string mTarget;
    std::string mEntry;
    std::string mArgument;
};

/// Whether a name is a GenICam name: letters, digits and underscores,
/// beginning with a letter.
TN_GENICAM_API bool IsFeatureName(const std::string &aName);

/// The RegisterDescription's attributes, and the features the description
/// builds on.
struct DescriptionInfo
{
    std::string mModelName;
    std::string mVendorName;
    std::string mToolTip;
    uint32_t mMajorVersion = 1;
    uint32_t mMinorVersion = 0;
    uint32_t mSubMinorVersion = 0;
    std::string mProductGuid;
    std::string mVersionGuid;
    /// The number of sources; features of sources need mSourceSelector when
    /// there are several.
    int mSourceCount = 1;
    std::string mSourceSelector = "SourceSelector";
    /// The feature that locks the features marked mTLLocked.
    std::string mTLParamsLocked = "TLParamsLocked";
};

/// Writes the description of aFeatures, with aChanges applied, into aXml.
TN_GENICAM_API TnResult WriteDescription(const std::vector<FeatureSpec> &aFeatures,
                                         const std::vector<FeatureChange> &aChanges, const DescriptionInfo &aInfo,
                                         std::string &aXml);

/// The display name made from a feature's name and category: the first word
/// of the category's last level is taken off the name's front and blanks go
/// between the words ("DeviceType" in "DeviceControl" shows as "Type").
TN_GENICAM_API std::string GenerateDisplayName(const std::string &aName, const std::string &aCategory);
} // namespace genicam
} // namespace tn

#endif
