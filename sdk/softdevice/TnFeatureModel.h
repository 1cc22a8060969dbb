// The device's GenICam features before they become XML: what the feature
// factory collects from the program and the standard-feature builder from
// the device, and the changes the program makes to the device's features.
#ifndef TN_FEATURE_MODEL_H
#define TN_FEATURE_MODEL_H

#include <stdint.h>

#include <string>
#include <vector>

#include "TnGenTypes.h"

namespace tn
{
namespace softdevice
{
class TnRegister;

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

/// "Integer", "Float", ... for messages.
const char *KindName(FeatureKind aKind);

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
    TnRegister *mRegister = nullptr; // null for registers the description only names
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
    /// Defined by the device itself (a standard feature).
    bool mDeviceManaged = false;
};

/// A change to a feature the device defines (ITnGenApiFactory operations 39
/// to 47), applied when the description is built.
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
bool IsFeatureName(const std::string &aName);
} // namespace softdevice
} // namespace tn

#endif
