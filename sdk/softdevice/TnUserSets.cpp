// User sets and the register store.
#include "TnUserSets.h"

#include <algorithm>

#include "TnSoftDeviceLog.h"
#include "TnText.h"

namespace tn
{
namespace softdevice
{
namespace
{
std::string KeyOf(ITnRegister &aRegister, const TnString &aSuffix)
{
    std::string lKey;
    TnRegister *lReg = dynamic_cast<TnRegister *>(&aRegister);
    if (lReg != nullptr && !lReg->GetFeatureName().empty())
    {
        lKey = lReg->GetFeatureName();
    }
    else
    {
        lKey = tn::ToString(aRegister.GetName());
    }
    return lKey + tn::ToString(aSuffix);
}
} // namespace

TnResult TnRegisterStore::Persist(ITnRegister *aRegister, const TnString &aNameSuffix)
{
    if (aRegister == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "no register to persist");
    }
    bool lSave;
    std::map<std::string, std::vector<uint8_t>> *lSet;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (!mActive)
        {
            return Failure(TN_STATE_ERROR, "the register store is usable only while a user set is saved or loaded");
        }
        lSave = mSave;
        lSet = mSet;
    }
    const std::string lKey = KeyOf(*aRegister, aNameSuffix);
    const uint32_t lLength = static_cast<uint32_t>(aRegister->GetLength());
    if (lSave)
    {
        std::vector<uint8_t> lBytes(lLength);
        TnResult lResult = aRegister->ReadBytes(lBytes.data(), lLength, 0);
        if (lResult.IsOK())
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            (*lSet)[lKey] = lBytes;
        }
        return lResult;
    }
    std::vector<uint8_t> lBytes;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        const auto lFound = lSet->find(lKey);
        if (lFound == lSet->end())
        {
            return Failure(TN_NOT_FOUND, "the user set holds nothing under '" + lKey + "'");
        }
        lBytes = lFound->second;
    }
    if (lBytes.size() != lLength)
    {
        return Failure(TN_INVALID_PARAMETER, "the user set holds " + std::to_string(lBytes.size()) + " bytes under '" +
                                                 lKey + "' for a register of " + std::to_string(lLength));
    }
    return aRegister->Write(lBytes.data(), lLength, 0);
}

TnUserSets::TnUserSets(TnRegisterMap &aMap) : mMap(aMap), mCount(0), mBusy(false), mSets(1), mSaved(1, false) {}

TnUserSets::~TnUserSets() = default;

TnResult TnUserSets::SetCount(uint32_t aCount)
{
    if (aCount > kMaxCount)
    {
        return Failure(TN_INVALID_PARAMETER, "a device has at most " + std::to_string(kMaxCount) +
                                                 " user sets besides the default one, not " + std::to_string(aCount));
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    mCount = aCount;
    mSets.resize(aCount + 1);
    mSaved.resize(aCount + 1, false);
    return TnResult(TN_OK);
}

uint32_t TnUserSets::GetCount() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mCount;
}

bool TnUserSets::IsSaved(uint32_t aIndex) const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return aIndex < mSaved.size() && mSaved[aIndex];
}

TnResult TnUserSets::SaveDefault()
{
    return SaveInto(0);
}

TnResult TnUserSets::Save(uint32_t aIndex)
{
    if (aIndex == 0)
    {
        return Failure(TN_INVALID_PARAMETER, "the default user set cannot be saved");
    }
    return SaveInto(aIndex);
}

TnResult TnUserSets::SaveInto(uint32_t aIndex)
{
    Set lSet;
    TnResult lResult = Begin(aIndex, nullptr);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lResult = Run(true, lSet);
    std::lock_guard<std::mutex> lLock(mMutex);
    mBusy = false;
    if (aIndex < mSets.size())
    {
        mSets[aIndex] = std::move(lSet);
        mSaved[aIndex] = true;
    }
    return lResult;
}

TnResult TnUserSets::Begin(uint32_t aIndex, Set *aLoaded)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aIndex > mCount)
    {
        return Failure(TN_INVALID_PARAMETER, "there is no user set " + std::to_string(aIndex));
    }
    if (mBusy)
    {
        return Failure(TN_BUSY, "a user set is being saved or loaded");
    }
    if (aLoaded != nullptr)
    {
        *aLoaded = mSaved[aIndex] ? mSets[aIndex] : mSets[0];
    }
    mBusy = true;
    return TnResult(TN_OK);
}

TnResult TnUserSets::Load(uint32_t aIndex)
{
    Set lSet;
    TnResult lResult = Begin(aIndex, &lSet);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lResult = Run(false, lSet);
    std::lock_guard<std::mutex> lLock(mMutex);
    mBusy = false;
    return lResult;
}

TnResult TnUserSets::Run(bool aSave, Set &aSet)
{
    {
        std::lock_guard<std::mutex> lLock(mStore.mMutex);
        mStore.mActive = true;
        mStore.mSave = aSave;
        mStore.mSet = &aSet;
    }
    std::vector<std::shared_ptr<TnRegister>> lRegisters = mMap.GetRegisters();
    lRegisters.erase(
        std::remove_if(lRegisters.begin(), lRegisters.end(),
                       [](const std::shared_ptr<TnRegister> &aRegister) { return !aRegister->IsPersistent(); }),
        lRegisters.end());
    std::stable_sort(lRegisters.begin(), lRegisters.end(),
                     [](const std::shared_ptr<TnRegister> &aFirst, const std::shared_ptr<TnRegister> &aSecond) {
                         return aFirst->GetPersistOrder() < aSecond->GetPersistOrder();
                     });
    TnResult lOverall(TN_OK);
    std::string lFailures;
    for (const auto &lReg : lRegisters)
    {
        bool lHandled = false;
        TnResult lFailure(TN_OK);
        for (ITnRegisterEventSink *lSink : lReg->Sinks().Snapshot())
        {
            const TnResult lResult = GuardedResult(
                lReg->Sinks(), lSink, "ITnRegisterEventSink::Persist",
                [&] { return lSink->Persist(lReg.get(), &mStore); }, TnResult(TN_NOT_IMPLEMENTED));
            if (lResult.IsOK())
            {
                lHandled = true;
            }
            else if (lResult.GetCode() != TN_NOT_IMPLEMENTED && lFailure.IsOK())
            {
                lFailure = lResult;
            }
        }
        if (lFailure.IsOK() && !lHandled)
        {
            lFailure = mStore.Persist(lReg.get(), TnString(""));
            if (!aSave && lFailure.GetCode() == TN_NOT_FOUND)
            {
                lFailure = TnResult(TN_OK); // registers added since the save keep their value
            }
        }
        if (!lFailure.IsOK())
        {
            if (lOverall.IsOK())
            {
                lOverall = lFailure;
            }
            const std::string lText = tn::ToString(lFailure.GetDescription());
            lFailures += (lFailures.empty() ? "" : "; ") + lReg->GetFeatureName() + (lText.empty() ? "" : ": " + lText);
        }
    }
    {
        std::lock_guard<std::mutex> lLock(mStore.mMutex);
        mStore.mActive = false;
        mStore.mSet = nullptr;
    }
    if (!lOverall.IsOK())
    {
        lOverall.SetDescription(
            TnString(((aSave ? "saving" : "loading") + std::string(" the user set failed for ") + lFailures).c_str()));
        LogWarning(aSave ? "TnUserSets::Save" : "TnUserSets::Load", lOverall.GetDescription().GetAscii());
    }
    return lOverall;
}
} // namespace softdevice
} // namespace tn
