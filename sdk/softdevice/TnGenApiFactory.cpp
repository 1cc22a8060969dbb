// The feature factory.
#include "TnGenApiFactory.h"

#include <math.h>

#include <algorithm>

#include "TnRegister.h"
#include "TnSoftDeviceLog.h"
#include "TnText.h"

ITnGenApiFactory::~ITnGenApiFactory() = default;

namespace tn
{
namespace softdevice
{
namespace
{
bool IsBoundToValue(FeatureKind aKind)
{
    return aKind == FeatureKind::Integer || aKind == FeatureKind::Float || aKind == FeatureKind::Boolean ||
           aKind == FeatureKind::Command || aKind == FeatureKind::Enumeration;
}
} // namespace

TnGenApiFactory::TnGenApiFactory(TnRegisterMap &aMap) : mMap(aMap), mOpen(true), mOwner(-1), mPersistOrder(0) {}

TnGenApiFactory::~TnGenApiFactory() = default;

// Attribute operations: each sets or appends one item of the pending feature.

void TnGenApiFactory::SetName(const TnString &aName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mName = tn::ToString(aName); });
}
void TnGenApiFactory::SetDisplayName(const TnString &aDisplayName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mDisplayName = tn::ToString(aDisplayName); });
}
void TnGenApiFactory::SetCategory(const TnString &aCategory)
{
    Edit([&](FeatureSpec &aPending) {
        aPending.mCategory = tn::ToString(aCategory);
        aPending.mCategoryDisplayName.clear();
    });
}
void TnGenApiFactory::SetCategory(const TnString &aCategory, const TnString &aCategoryDisplayName)
{
    Edit([&](FeatureSpec &aPending) {
        aPending.mCategory = tn::ToString(aCategory);
        aPending.mCategoryDisplayName = tn::ToString(aCategoryDisplayName);
    });
}
void TnGenApiFactory::SetDescription(const TnString &aDescription)
{
    Edit([&](FeatureSpec &aPending) { aPending.mDescription = tn::ToString(aDescription); });
}
void TnGenApiFactory::SetToolTip(const TnString &aToolTip)
{
    Edit([&](FeatureSpec &aPending) { aPending.mToolTip = tn::ToString(aToolTip); });
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
    Edit([&](FeatureSpec &aPending) { aPending.mUnit = tn::ToString(aUnit); });
}
void TnGenApiFactory::SetPValue(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPValue = tn::ToString(aFeatureName); });
}
void TnGenApiFactory::SetPIsAvailable(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPIsAvailable = tn::ToString(aFeatureName); });
}
void TnGenApiFactory::SetPIsLocked(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPIsLocked = tn::ToString(aFeatureName); });
}
void TnGenApiFactory::SetPMin(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPMin = tn::ToString(aFeatureName); });
}
void TnGenApiFactory::SetPMax(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPMax = tn::ToString(aFeatureName); });
}
void TnGenApiFactory::SetPInc(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mPInc = tn::ToString(aFeatureName); });
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
    Edit([&](FeatureSpec &aPending) { aPending.mSelectors.push_back(tn::ToString(aFeatureName)); });
}
void TnGenApiFactory::AddInvalidator(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mInvalidators.push_back(tn::ToString(aFeatureName)); });
}
void TnGenApiFactory::AddVariable(const TnString &aFeatureName)
{
    Edit([&](FeatureSpec &aPending) { aPending.mVariables.push_back(tn::ToString(aFeatureName)); });
}

void TnGenApiFactory::AddEnumEntry(const TnString &aName, uint32_t aValue)
{
    Edit([&](FeatureSpec &aPending) {
        EnumEntrySpec lEntry;
        lEntry.mName = tn::ToString(aName);
        lEntry.mValue = aValue;
        aPending.mEntries.push_back(lEntry);
    });
}

void TnGenApiFactory::AddEnumEntry(const TnString &aName, uint32_t aValue, const TnString &aDisplayName,
                                   TnGenNameSpace aNameSpace)
{
    Edit([&](FeatureSpec &aPending) {
        EnumEntrySpec lEntry;
        lEntry.mName = tn::ToString(aName);
        lEntry.mValue = aValue;
        lEntry.mDisplayName = tn::ToString(aDisplayName);
        lEntry.mNameSpace = aNameSpace;
        aPending.mEntries.push_back(lEntry);
    });
}

TnResult TnGenApiFactory::CheckPending(FeatureKind aKind, ITnRegister *aRegister, RegisterBinding &aBinding)
{
    FeatureSpec &lFeature = mPending;
    const std::string lWhat = std::string(KindName(aKind)) + " '" + lFeature.mName + "'";
    if (!IsFeatureName(lFeature.mName))
    {
        return Failure(TN_INVALID_PARAMETER,
                       lWhat + ": a name takes letters, digits and underscores, beginning with a letter");
    }
    if (!lFeature.mCategory.empty())
    {
        size_t lStart = 0;
        while (true)
        {
            const size_t lEnd = lFeature.mCategory.find('\\', lStart);
            if (!IsFeatureName(lFeature.mCategory.substr(lStart, lEnd - lStart)))
            {
                return Failure(TN_INVALID_PARAMETER,
                               lWhat + ": the category '" + lFeature.mCategory + "' is no path of names");
            }
            if (lEnd == std::string::npos)
            {
                break;
            }
            lStart = lEnd + 1;
        }
    }
    const bool lFormula = aKind == FeatureKind::IntSwissKnife || aKind == FeatureKind::FloatSwissKnife ||
                          aKind == FeatureKind::IntConverter || aKind == FeatureKind::FloatConverter;
    if (lFormula)
    {
        for (const std::string &lVariable : lFeature.mVariables)
        {
            if (!IsFeatureName(lVariable))
            {
                return Failure(TN_INVALID_PARAMETER, lWhat + ": the variable '" + lVariable + "' is no feature name");
            }
        }
        return TnResult(TN_OK);
    }
    int lBindings = (aRegister != nullptr) + lFeature.mHasChunk + lFeature.mHasEvent + !lFeature.mPValue.empty();
    if (lBindings == 0)
    {
        return Failure(TN_INVALID_PARAMETER, lWhat + " needs a register, a chunk or event mapping, or a pValue");
    }
    if (lBindings > 1)
    {
        return Failure(TN_INVALID_PARAMETER, lWhat + " is given more than one of a register, a chunk mapping, an event "
                                                     "mapping and a pValue");
    }
    if (aKind == FeatureKind::Register && !lFeature.mPValue.empty())
    {
        return Failure(TN_INVALID_PARAMETER, lWhat + ": a register feature takes no pValue");
    }
    if (aKind == FeatureKind::Command && (lFeature.mHasChunk || lFeature.mHasEvent))
    {
        return Failure(TN_INVALID_PARAMETER, lWhat + ": a command needs a register or a pValue");
    }
    const MappingSpec *lMapping = lFeature.mHasChunk   ? &lFeature.mChunk
                                  : lFeature.mHasEvent ? &lFeature.mEvent
                                                       : nullptr;
    if (lMapping != nullptr)
    {
        const bool lNumber = IsBoundToValue(aKind);
        if (lMapping->mLength == 0 || lMapping->mLength > 0xFFFFFFFFull || (lNumber && lMapping->mLength > 8) ||
            (aKind == FeatureKind::Float && lMapping->mLength != 4 && lMapping->mLength != 8))
        {
            return Failure(TN_INVALID_PARAMETER, lWhat + ": a mapping of " + std::to_string(lMapping->mLength) +
                                                     " bytes cannot hold its value");
        }
        if (lMapping->mEndianness != TnGenEndiannessLittle && lMapping->mEndianness != TnGenEndiannessBig)
        {
            return Failure(TN_INVALID_PARAMETER, lWhat + ": the mapping's byte order is neither little nor big endian");
        }
    }
    if (aRegister != nullptr)
    {
        TnRegister *lReg = dynamic_cast<TnRegister *>(aRegister);
        if (lReg == nullptr || mMap.Find(lReg->GetAddress()).get() != lReg)
        {
            return Failure(TN_INVALID_PARAMETER, lWhat + ": the register is none of the device's");
        }
        if (IsBoundToValue(aKind) && lReg->GetLength() != 4 && lReg->GetLength() != 8)
        {
            return Failure(TN_INVALID_PARAMETER, lWhat + ": its register '" + lReg->GetNameText() + "' has " +
                                                     std::to_string(lReg->GetLength()) + " bytes, not 4 or 8");
        }
        aBinding.mAddress = lReg->GetAddress();
        aBinding.mLength = static_cast<uint32_t>(lReg->GetLength());
        aBinding.mReadable = lReg->IsReadable();
        aBinding.mWritable = lReg->IsWritable();
        aBinding.mSigned = lFeature.mHasIntLimits && lFeature.mMin < 0;
    }
    if (lFeature.mHasIntLimits && (lFeature.mMin > lFeature.mMax || lFeature.mInc < 1))
    {
        return Failure(TN_INVALID_PARAMETER, lWhat + ": minimum " + std::to_string(lFeature.mMin) + ", maximum " +
                                                 std::to_string(lFeature.mMax) + " and increment " +
                                                 std::to_string(lFeature.mInc) + " do not go together");
    }
    if (lFeature.mHasFloatLimits &&
        (isnan(lFeature.mFloatMin) || isnan(lFeature.mFloatMax) || lFeature.mFloatMin > lFeature.mFloatMax))
    {
        return Failure(TN_INVALID_PARAMETER, lWhat + ": the minimum and maximum do not go together");
    }
    if (aKind == FeatureKind::Enumeration)
    {
        if (lFeature.mEntries.empty())
        {
            return Failure(TN_INVALID_PARAMETER, lWhat + " has no entries");
        }
        for (size_t lIndex = 0; lIndex < lFeature.mEntries.size(); ++lIndex)
        {
            const EnumEntrySpec &lEntry = lFeature.mEntries[lIndex];
            if (!IsFeatureName(lEntry.mName))
            {
                return Failure(TN_INVALID_PARAMETER, lWhat + ": the entry name '" + lEntry.mName + "' is no name");
            }
            for (size_t lOther = 0; lOther < lIndex; ++lOther)
            {
                if (lFeature.mEntries[lOther].mName == lEntry.mName)
                {
                    return Failure(TN_INVALID_PARAMETER, lWhat + " has two entries named '" + lEntry.mName + "'");
                }
            }
        }
    }
    return TnResult(TN_OK);
}

void TnGenApiFactory::Commit(FeatureSpec &aFeature)
{
    aFeature.mOwner = mOwner;
    const std::shared_ptr<TnRegister> lRegister =
        aFeature.mHasRegister ? mMap.Find(aFeature.mRegister.mAddress) : nullptr;
    if (lRegister != nullptr)
    {
        if (aFeature.mStreamable)
        {
            lRegister->SetPersistence(aFeature.mName, ++mPersistOrder);
        }
        if (aFeature.mKind == FeatureKind::Command)
        {
            lRegister->SetSelfClearing(true);
        }
    }
    mFeatures.push_back(aFeature);
}

TnResult TnGenApiFactory::Create(FeatureKind aKind, ITnRegister *aRegister)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!mOpen)
    {
        return Failure(TN_STATE_ERROR, "features are created only while the device starts");
    }
    // The pending feature is consumed, whatever comes of it.
    FeatureSpec lFeature;
    TnResult lResult(TN_OK);
    RegisterBinding lBinding;
    if (mPending.mName.empty())
    {
        lResult = Failure(TN_NOT_INITIALIZED, std::string("a ") + KindName(aKind) + " feature needs a name");
    }
    else
    {
        lResult = CheckPending(aKind, aRegister, lBinding);
    }
    lFeature = std::move(mPending);
    mPending = FeatureSpec();
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lFeature.mKind = aKind;
    if (aRegister != nullptr)
    {
        lFeature.mHasRegister = true;
        lFeature.mRegister = lBinding;
    }
    if (aKind != FeatureKind::Enumeration)
    {
        lFeature.mEntries.clear();
    }
    const bool lFormula = aKind == FeatureKind::IntSwissKnife || aKind == FeatureKind::FloatSwissKnife ||
                          aKind == FeatureKind::IntConverter || aKind == FeatureKind::FloatConverter;
    if (!lFormula)
    {
        lFeature.mVariables.clear();
    }
    Commit(lFeature);
    return TnResult(TN_OK);
}

TnResult TnGenApiFactory::CreateInteger(ITnRegister *aRegister, int64_t aMin, int64_t aMax, int64_t aInc)
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
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
        std::lock_guard<std::mutex> lLock(mMutex);
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
    const bool lConverter = aKind == FeatureKind::IntConverter || aKind == FeatureKind::FloatConverter;
    std::string lMissing;
    if (tn::ToString(aFromFormula).empty())
    {
        lMissing = "a formula";
    }
    else if (lConverter && (tn::ToString(aValueFeatureName).empty() || tn::ToString(aToFormula).empty()))
    {
        lMissing = "a value feature and two formulas";
    }
    if (!lMissing.empty())
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (!mOpen)
        {
            return Failure(TN_STATE_ERROR, "features are created only while the device starts");
        }
        const std::string lName = mPending.mName;
        mPending = FeatureSpec();
        if (lName.empty())
        {
            return Failure(TN_NOT_INITIALIZED, std::string("a ") + KindName(aKind) + " feature needs a name");
        }
        return Failure(TN_INVALID_PARAMETER, std::string(KindName(aKind)) + " '" + lName + "' needs " + lMissing);
    }
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mPending.mFormula = tn::ToString(aFromFormula);
        mPending.mToFormula = tn::ToString(aToFormula);
        mPending.mValueFeature = tn::ToString(aValueFeatureName);
    }
    return Create(aKind, nullptr);
}

TnResult TnGenApiFactory::Change(FeatureChange::Kind aKind, const TnString &aTarget, const TnString &aArgument,
                                 const TnString *aEntry)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!mOpen)
    {
        return Failure(TN_STATE_ERROR, "features are changed only while the device starts");
    }
    FeatureChange lChange;
    lChange.mKind = aKind;
    lChange.mTarget = tn::ToString(aTarget);
    lChange.mArgument = tn::ToString(aArgument);
    lChange.mEntry = aEntry != nullptr ? tn::ToString(*aEntry) : std::string();
    if (lChange.mTarget.empty() || lChange.mArgument.empty() || (aEntry != nullptr && lChange.mEntry.empty()))
    {
        return Failure(TN_INVALID_PARAMETER, "a change of a device feature needs the names of both features");
    }
    mChanges.push_back(lChange);
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
    std::lock_guard<std::mutex> lLock(mMutex);
    mOwner = aOwner;
    mPending = FeatureSpec();
}

void TnGenApiFactory::AddFeature(const FeatureSpec &aFeature)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    FeatureSpec lFeature = aFeature;
    const int lOwner = mOwner;
    mOwner = aFeature.mOwner;
    Commit(lFeature);
    mOwner = lOwner;
}

void TnGenApiFactory::Close()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mOpen = false;
    mPending = FeatureSpec();
}

void TnGenApiFactory::Open()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mOpen = true;
}

std::vector<FeatureSpec> TnGenApiFactory::GetFeatures() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mFeatures;
}

std::vector<FeatureChange> TnGenApiFactory::GetChanges() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mChanges;
}

void TnGenApiFactory::Clear()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mFeatures.clear();
    mChanges.clear();
    mPending = FeatureSpec();
}
} // namespace softdevice
} // namespace tn
