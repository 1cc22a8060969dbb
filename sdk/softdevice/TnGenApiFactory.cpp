// The feature factory.
#include "TnGenApiFactory.h"

#include <math.h>

#include <algorithm>

#include "TnRegister.h"
#include "TnSoftDeviceLog.h"

ITnGenApiFactory::~ITnGenApiFactory() = default;

namespace tn
{
namespace softdevice
{
namespace
{
std::string Text(const TnString &aValue)
{
    const char *text = aValue.GetAscii();
    return text != nullptr ? text : "";
}

bool IsBoundToValue(FeatureKind aKind)
{
    return aKind == FeatureKind::Integer || aKind == FeatureKind::Float || aKind == FeatureKind::Boolean ||
           aKind == FeatureKind::Command || aKind == FeatureKind::Enumeration;
}
} // namespace

const char *KindName(FeatureKind aKind)
{
    switch (aKind)
    {
    case FeatureKind::Integer:
        return "Integer";
    case FeatureKind::Float:
        return "Float";
    case FeatureKind::String:
        return "String";
    case FeatureKind::Register:
        return "Register";
    case FeatureKind::Boolean:
        return "Boolean";
    case FeatureKind::Command:
        return "Command";
    case FeatureKind::Enumeration:
        return "Enumeration";
    case FeatureKind::IntSwissKnife:
        return "IntSwissKnife";
    case FeatureKind::FloatSwissKnife:
        return "SwissKnife";
    case FeatureKind::IntConverter:
        return "IntConverter";
    case FeatureKind::FloatConverter:
        return "Converter";
    }
    return "Node";
}

bool IsFeatureName(const std::string &aName)
{
    if (aName.empty() || !isalpha(static_cast<unsigned char>(aName[0])))
    {
        return false;
    }
    return std::all_of(aName.begin(), aName.end(),
                       [](char aChar) { return isalnum(static_cast<unsigned char>(aChar)) || aChar == '_'; });
}

TnGenApiFactory::TnGenApiFactory(TnRegisterMap &aMap) : mMap(aMap), mOpen(true), mOwner(-1), mPersistOrder(0) {}

TnGenApiFactory::~TnGenApiFactory() = default;

// Attribute operations: each sets or appends one item of the pending feature.

void TnGenApiFactory::SetName(const TnString &aName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mName = Text(aName); });
}
void TnGenApiFactory::SetDisplayName(const TnString &aDisplayName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mDisplayName = Text(aDisplayName); });
}
void TnGenApiFactory::SetCategory(const TnString &aCategory)
{
    Edit([&](FeatureSpec &aPending) {
        aPending.mCategory = Text(aCategory);
        aPending.mCategoryDisplayName.clear();
    });
}
void TnGenApiFactory::SetCategory(const TnString &aCategory, const TnString &aCategoryDisplayName)
{
    Edit([&](FeatureSpec &aPending) {
        aPending.mCategory = Text(aCategory);
        aPending.mCategoryDisplayName = Text(aCategoryDisplayName);
    });
}
void TnGenApiFactory::SetDescription(const TnString &aDescription)
{
    Edit([&](FeatureSpec &aPending) { aPending.mDescription = Text(aDescription); });
}
void TnGenApiFactory::SetToolTip(const TnString &aToolTip)
{
    Edit([&](FeatureSpec &aPending) { aPending.mToolTip = Text(aToolTip); });
}
void TnGenApiFactory::SetAccessMode(TnGenAccessMode aAccessMode)
{
    Edit([&](FeatureSpec &aPending) { aPending.mAccessMode = aAccessMode; });
}
void TnGenApiFactory::SetRepresentation(TnGenRepresentation aRepresentation)
{
    Edit([&](FeatureSpec &aPending) { aPending.mRepresentation = aRepresentation; });
}
void TnGenApiFactory::SetVisibility(TnGenVisibility aVisibility)
{
    Edit([&](FeatureSpec &aPending) { aPending.mVisibility = aVisibility; });
}
void TnGenApiFactory::SetCachable(TnGenCache aCache)
{
    Edit([&](FeatureSpec &aPending) { aPending.mCache = aCache; });
}
void TnGenApiFactory::SetPollingTime(uint32_t aPollingTime)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPollingTime = aPollingTime; });
}
void TnGenApiFactory::SetNameSpace(TnGenNameSpace aNameSpace)
{
    Edit([&](FeatureSpec &aPending) { aPending.mNameSpace = aNameSpace; });
}
void TnGenApiFactory::SetTLLocked(bool aLocked)
{
    Edit([&](FeatureSpec &aPending) { aPending.mTLLocked = aLocked; });
}
void TnGenApiFactory::SetStreamable(bool aStreamable)
{
    Edit([&](FeatureSpec &aPending) { aPending.mStreamable = aStreamable; });
}
void TnGenApiFactory::SetUnit(const TnString &aUnit)
{
    Edit([&](FeatureSpec &aPending) { aPending.mUnit = Text(aUnit); });
}
void TnGenApiFactory::SetPValue(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPValue = Text(aFeatureName); });
}
void TnGenApiFactory::SetPIsAvailable(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPIsAvailable = Text(aFeatureName); });
}
void TnGenApiFactory::SetPIsLocked(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPIsLocked = Text(aFeatureName); });
}
void TnGenApiFactory::SetPMin(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPMin = Text(aFeatureName); });
}
void TnGenApiFactory::SetPMax(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPMax = Text(aFeatureName); });
}
void TnGenApiFactory::SetPInc(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPInc = Text(aFeatureName); });
}

void TnGenApiFactory::MapChunk(uint32_t aChunkID, uint32_t aAddress, size_t aLength, TnGenEndianness aEndianness)
{
    Edit([&](FeatureSpec &aPending) {
        aPending.mHasChunk = true;
        aPending.mChunk = MappingSpec{aChunkID, aAddress, aLength, aEndianness, false};
    });
}

void TnGenApiFactory::MapEvent(uint32_t aEventID, uint32_t aAddress, size_t aLength, TnGenEndianness aEndianness,
                               bool aAdjustAddress)
{
    Edit([&](FeatureSpec &aPending) {
        aPending.mHasEvent = true;
        aPending.mEvent = MappingSpec{aEventID, aAddress, aLength, aEndianness, aAdjustAddress};
    });
}

void TnGenApiFactory::AddSelected(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mSelectors.push_back(Text(aFeatureName)); });
}
void TnGenApiFactory::AddInvalidator(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mInvalidators.push_back(Text(aFeatureName)); });
}
void TnGenApiFactory::AddVariable(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mVariables.push_back(Text(aFeatureName)); });
}

void TnGenApiFactory::AddEnumEntry(const TnString &aName, uint32_t aValue)
{
    Edit([&](FeatureSpec &aPending) {
        EnumEntrySpec entry;
        entry.mName = Text(aName);
        entry.mValue = aValue;
        aPending.mEntries.push_back(entry);
    });
}

void TnGenApiFactory::AddEnumEntry(const TnString &aName, uint32_t aValue, const TnString &aDisplayName,
                                   TnGenNameSpace aNameSpace)
{
    Edit([&](FeatureSpec &aPending) {
        EnumEntrySpec entry;
        entry.mName = Text(aName);
        entry.mValue = aValue;
        entry.mDisplayName = Text(aDisplayName);
        entry.mNameSpace = aNameSpace;
        aPending.mEntries.push_back(entry);
    });
}

TnResult TnGenApiFactory::CheckPending(FeatureKind aKind, ITnRegister *aRegister, RegisterBinding &aBinding)
{
    FeatureSpec &feature = mPending;
    const std::string what = std::string(KindName(aKind)) + " '" + feature.mName + "'";
    if (!IsFeatureName(feature.mName))
    {
        return Failure(TN_INVALID_PARAMETER,
                       what + ": a name takes letters, digits and underscores, beginning with a letter");
    }
    if (!feature.mCategory.empty())
    {
        size_t start = 0;
        while (true)
        {
            const size_t end = feature.mCategory.find('\\', start);
            if (!IsFeatureName(feature.mCategory.substr(start, end - start)))
            {
                return Failure(TN_INVALID_PARAMETER,
                               what + ": the category '" + feature.mCategory + "' is no path of names");
            }
            if (end == std::string::npos)
            {
                break;
            }
            start = end + 1;
        }
    }
    const bool formula = aKind == FeatureKind::IntSwissKnife || aKind == FeatureKind::FloatSwissKnife ||
                         aKind == FeatureKind::IntConverter || aKind == FeatureKind::FloatConverter;
    if (formula)
    {
        for (const std::string &variable : feature.mVariables)
        {
            if (!IsFeatureName(variable))
            {
                return Failure(TN_INVALID_PARAMETER, what + ": the variable '" + variable + "' is no feature name");
            }
        }
        return TnResult(TN_OK);
    }
    int bindings = (aRegister != nullptr) + feature.mHasChunk + feature.mHasEvent + !feature.mPValue.empty();
    if (bindings == 0)
    {
        return Failure(TN_INVALID_PARAMETER, what + " needs a register, a chunk or event mapping, or a pValue");
    }
    if (bindings > 1)
    {
        return Failure(TN_INVALID_PARAMETER, what + " is given more than one of a register, a chunk mapping, an event "
                                                    "mapping and a pValue");
    }
    if (aKind == FeatureKind::Register && !feature.mPValue.empty())
    {
        return Failure(TN_INVALID_PARAMETER, what + ": a register feature takes no pValue");
    }
    if (aKind == FeatureKind::Command && (feature.mHasChunk || feature.mHasEvent))
    {
        return Failure(TN_INVALID_PARAMETER, what + ": a command needs a register or a pValue");
    }
    const MappingSpec *mapping = feature.mHasChunk ? &feature.mChunk : feature.mHasEvent ? &feature.mEvent : nullptr;
    if (mapping != nullptr)
    {
        const bool number = IsBoundToValue(aKind);
        if (mapping->mLength == 0 || mapping->mLength > 0xFFFFFFFFull || (number && mapping->mLength > 8) ||
            (aKind == FeatureKind::Float && mapping->mLength != 4 && mapping->mLength != 8))
        {
            return Failure(TN_INVALID_PARAMETER, what + ": a mapping of " + std::to_string(mapping->mLength) +
                                                     " bytes cannot hold its value");
        }
        if (mapping->mEndianness != TnGenEndiannessLittle && mapping->mEndianness != TnGenEndiannessBig)
        {
            return Failure(TN_INVALID_PARAMETER, what + ": the mapping's byte order is neither little nor big endian");
        }
    }
    if (aRegister != nullptr)
    {
        TnRegister *reg = dynamic_cast<TnRegister *>(aRegister);
        if (reg == nullptr || mMap.Find(reg->GetAddress()).get() != reg)
        {
            return Failure(TN_INVALID_PARAMETER, what + ": the register is none of the device's");
        }
        if (IsBoundToValue(aKind) && reg->GetLength() != 4 && reg->GetLength() != 8)
        {
            return Failure(TN_INVALID_PARAMETER, what + ": its register '" + reg->GetNameText() + "' has " +
                                                     std::to_string(reg->GetLength()) + " bytes, not 4 or 8");
        }
        aBinding.mRegister = reg;
        aBinding.mAddress = reg->GetAddress();
        aBinding.mLength = static_cast<uint32_t>(reg->GetLength());
        aBinding.mReadable = reg->IsReadable();
        aBinding.mWritable = reg->IsWritable();
        aBinding.mSigned = feature.mHasIntLimits && feature.mMin < 0;
    }
    if (feature.mHasIntLimits && (feature.mMin > feature.mMax || feature.mInc < 1))
    {
        return Failure(TN_INVALID_PARAMETER, what + ": minimum " + std::to_string(feature.mMin) + ", maximum " +
                                                 std::to_string(feature.mMax) + " and increment " +
                                                 std::to_string(feature.mInc) + " do not go together");
    }
    if (feature.mHasFloatLimits &&
        (isnan(feature.mFloatMin) || isnan(feature.mFloatMax) || feature.mFloatMin > feature.mFloatMax))
    {
        return Failure(TN_INVALID_PARAMETER, what + ": the minimum and maximum do not go together");
    }
    if (aKind == FeatureKind::Enumeration)
    {
        if (feature.mEntries.empty())
        {
            return Failure(TN_INVALID_PARAMETER, what + " has no entries");
        }
        for (size_t index = 0; index < feature.mEntries.size(); ++index)
        {
            const EnumEntrySpec &entry = feature.mEntries[index];
            if (!IsFeatureName(entry.mName))
            {
                return Failure(TN_INVALID_PARAMETER, what + ": the entry name '" + entry.mName + "' is no name");
            }
            for (size_t other = 0; other < index; ++other)
            {
                if (feature.mEntries[other].mName == entry.mName)
                {
                    return Failure(TN_INVALID_PARAMETER, what + " has two entries named '" + entry.mName + "'");
                }
            }
        }
    }
    return TnResult(TN_OK);
}

void TnGenApiFactory::Commit(FeatureSpec &aFeature)
{
    aFeature.mOwner = mOwner;
    if (aFeature.mHasRegister && aFeature.mRegister.mRegister != nullptr)
    {
        if (aFeature.mStreamable)
        {
            aFeature.mRegister.mRegister->SetPersistence(aFeature.mName, ++mPersistOrder);
        }
        if (aFeature.mKind == FeatureKind::Command)
        {
            aFeature.mRegister.mRegister->SetSelfClearing(true);
        }
    }
    mFeatures.push_back(aFeature);
}

TnResult TnGenApiFactory::Create(FeatureKind aKind, ITnRegister *aRegister)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mOpen)
    {
        return Failure(TN_STATE_ERROR, "features are created only while the device starts");
    }
    // The pending feature is consumed, whatever comes of it.
    FeatureSpec feature;
    TnResult result(TN_OK);
    RegisterBinding binding;
    if (mPending.mName.empty())
    {
        result = Failure(TN_NOT_INITIALIZED, std::string("a ") + KindName(aKind) + " feature needs a name");
    }
    else
    {
        result = CheckPending(aKind, aRegister, binding);
    }
    feature = std::move(mPending);
    mPending = FeatureSpec();
    if (!result.IsOK())
    {
        return result;
    }
    feature.mKind = aKind;
    if (aRegister != nullptr)
    {
        feature.mHasRegister = true;
        feature.mRegister = binding;
    }
    if (aKind != FeatureKind::Enumeration)
    {
        feature.mEntries.clear();
    }
    const bool formula = aKind == FeatureKind::IntSwissKnife || aKind == FeatureKind::FloatSwissKnife ||
                         aKind == FeatureKind::IntConverter || aKind == FeatureKind::FloatConverter;
    if (!formula)
    {
        feature.mVariables.clear();
    }
    Commit(feature);
    return TnResult(TN_OK);
}

TnResult TnGenApiFactory::CreateInteger(ITnRegister *aRegister, int64_t aMin, int64_t aMax, int64_t aInc)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mPending.mHasIntLimits = true;
        mPending.mMin = aMin;
        mPending.mMax = aMax;
        mPending.mInc = aInc;
    }
    return Create(FeatureKind::Integer, aRegister);
}

TnResult TnGenApiFactory::CreateInteger(ITnRegister *aRegister)
{
    return Create(FeatureKind::Integer, aRegister);
}

TnResult TnGenApiFactory::CreateFloat(ITnRegister *aRegister, double aMin, double aMax)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mPending.mHasFloatLimits = true;
        mPending.mFloatMin = aMin;
        mPending.mFloatMax = aMax;
    }
    return Create(FeatureKind::Float, aRegister);
}

TnResult TnGenApiFactory::CreateFloat(ITnRegister *aRegister)
{
    return Create(FeatureKind::Float, aRegister);
}
TnResult TnGenApiFactory::CreateString(ITnRegister *aRegister)
{
    return Create(FeatureKind::String, aRegister);
}
TnResult TnGenApiFactory::CreateRegister(ITnRegister *aRegister)
{
    return Create(FeatureKind::Register, aRegister);
}
TnResult TnGenApiFactory::CreateBoolean(ITnRegister *aRegister)
{
    return Create(FeatureKind::Boolean, aRegister);
}
TnResult TnGenApiFactory::CreateCommand(ITnRegister *aRegister)
{
    return Create(FeatureKind::Command, aRegister);
}
TnResult TnGenApiFactory::CreateEnum(ITnRegister *aRegister)
{
    return Create(FeatureKind::Enumeration, aRegister);
}

TnResult TnGenApiFactory::CreateIntSwissKnife(const TnString &aFormula)
{
    return CreateConverterOrKnife(FeatureKind::IntSwissKnife, TnString(""), aFormula, TnString(""));
}

TnResult TnGenApiFactory::CreateFloatSwissKnife(const TnString &aFormula)
{
    return CreateConverterOrKnife(FeatureKind::FloatSwissKnife, TnString(""), aFormula, TnString(""));
}

TnResult TnGenApiFactory::CreateIntConverter(const TnString &aValueFeatureName, const TnString &aFromFormula,
                                             const TnString &aToFormula)
{
    return CreateConverterOrKnife(FeatureKind::IntConverter, aValueFeatureName, aFromFormula, aToFormula);
}

TnResult TnGenApiFactory::CreateFloatConverter(const TnString &aValueFeatureName, const TnString &aFromFormula,
                                               const TnString &aToFormula)
{
    return CreateConverterOrKnife(FeatureKind::FloatConverter, aValueFeatureName, aFromFormula, aToFormula);
}

TnResult TnGenApiFactory::CreateConverterOrKnife(FeatureKind aKind, const TnString &aValueFeatureName,
                                                 const TnString &aFromFormula, const TnString &aToFormula)
{
    const bool converter = aKind == FeatureKind::IntConverter || aKind == FeatureKind::FloatConverter;
    std::string missing;
    if (Text(aFromFormula).empty())
    {
        missing = "a formula";
    }
    else if (converter && (Text(aValueFeatureName).empty() || Text(aToFormula).empty()))
    {
        missing = "a value feature and two formulas";
    }
    if (!missing.empty())
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (!mOpen)
        {
            return Failure(TN_STATE_ERROR, "features are created only while the device starts");
        }
        const std::string name = mPending.mName;
        mPending = FeatureSpec();
        if (name.empty())
        {
            return Failure(TN_NOT_INITIALIZED, std::string("a ") + KindName(aKind) + " feature needs a name");
        }
        return Failure(TN_INVALID_PARAMETER, std::string(KindName(aKind)) + " '" + name + "' needs " + missing);
    }
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mPending.mFormula = Text(aFromFormula);
        mPending.mToFormula = Text(aToFormula);
        mPending.mValueFeature = Text(aValueFeatureName);
    }
    return Create(aKind, nullptr);
}

TnResult TnGenApiFactory::Change(FeatureChange::Kind aKind, const TnString &aTarget, const TnString &aArgument,
                                 const TnString *aEntry)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mOpen)
    {
        return Failure(TN_STATE_ERROR, "features are changed only while the device starts");
    }
    FeatureChange change;
    change.mKind = aKind;
    change.mTarget = Text(aTarget);
    change.mArgument = Text(aArgument);
    change.mEntry = aEntry != nullptr ? Text(*aEntry) : std::string();
    if (change.mTarget.empty() || change.mArgument.empty() || (aEntry != nullptr && change.mEntry.empty()))
    {
        return Failure(TN_INVALID_PARAMETER, "a change of a device feature needs the names of both features");
    }
    mChanges.push_back(change);
    return TnResult(TN_OK);
}

TnResult TnGenApiFactory::AddInvalidatorTo(const TnString &aStandardFeatureName,
                                           const TnString &aInvalidatorFeatureName)
{
    return Change(FeatureChange::AddInvalidator, aStandardFeatureName, aInvalidatorFeatureName);
}

TnResult TnGenApiFactory::AddSelectedTo(const TnString &aSelectorFeatureName, const TnString &aSelectedFeatureName)
{
    return Change(FeatureChange::AddSelected, aSelectorFeatureName, aSelectedFeatureName);
}

TnResult TnGenApiFactory::SetPIsAvailableFor(const TnString &aStandardFeatureName,
                                             const TnString &aPIsAvailableFeatureName)
{
    return Change(FeatureChange::SetPIsAvailable, aStandardFeatureName, aPIsAvailableFeatureName);
}

TnResult TnGenApiFactory::SetPIsAvailableForEnumEntry(const TnString &aStandardFeatureName,
                                                      const TnString &aEnumEntryName,
                                                      const TnString &aPIsAvailableFeatureName)
{
    return Change(FeatureChange::SetPIsAvailableForEntry, aStandardFeatureName, aPIsAvailableFeatureName,
                  &aEnumEntryName);
}

TnResult TnGenApiFactory::SetPIsLockedFor(const TnString &aStandardFeatureName, const TnString &aPIsLockedFeatureName)
{
    return Change(FeatureChange::SetPIsLocked, aStandardFeatureName, aPIsLockedFeatureName);
}

TnResult TnGenApiFactory::SetPValueFor(const TnString &aStandardFeatureName, const TnString &aPValueFeatureName)
{
    return Change(FeatureChange::SetPValue, aStandardFeatureName, aPValueFeatureName);
}

TnResult TnGenApiFactory::SetPMinFor(const TnString &aStandardFeatureName, const TnString &aPMinFeatureName)
{
    return Change(FeatureChange::SetPMin, aStandardFeatureName, aPMinFeatureName);
}

TnResult TnGenApiFactory::SetPMaxFor(const TnString &aStandardFeatureName, const TnString &aPMaxFeatureName)
{
    return Change(FeatureChange::SetPMax, aStandardFeatureName, aPMaxFeatureName);
}

TnResult TnGenApiFactory::SetPIncFor(const TnString &aStandardFeatureName, const TnString &aPIncFeatureName)
{
    return Change(FeatureChange::SetPInc, aStandardFeatureName, aPIncFeatureName);
}

void TnGenApiFactory::SetOwner(int aOwner)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mOwner = aOwner;
    mPending = FeatureSpec();
}

void TnGenApiFactory::AddFeature(const FeatureSpec &aFeature)
{
    std::lock_guard<std::mutex> lock(mMutex);
    FeatureSpec feature = aFeature;
    const int owner = mOwner;
    mOwner = aFeature.mOwner;
    Commit(feature);
    mOwner = owner;
}

void TnGenApiFactory::Close()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mOpen = false;
    mPending = FeatureSpec();
}

void TnGenApiFactory::Open()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mOpen = true;
}

std::vector<FeatureSpec> TnGenApiFactory::GetFeatures() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mFeatures;
}

std::vector<FeatureChange> TnGenApiFactory::GetChanges() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mChanges;
}

void TnGenApiFactory::Clear()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mFeatures.clear();
    mChanges.clear();
    mPending = FeatureSpec();
}
} // namespace softdevice
} // namespace tn
