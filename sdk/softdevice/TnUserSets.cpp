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
    std::string key;
    TnRegister *reg = dynamic_cast<TnRegister *>(&aRegister);
    if (reg != nullptr && !reg->GetFeatureName().empty())
    {
        key = reg->GetFeatureName();
    }
    else
    {
        key = tn::ToString(aRegister.GetName());
    }
    const char *suffix = aSuffix.GetAscii();
    return suffix != nullptr ? key + suffix : key;
}
} // namespace

TnResult TnRegisterStore::Persist(ITnRegister *aRegister, const TnString &aNameSuffix)
{
    if (aRegister == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "no register to persist");
    }
    bool save;
    std::map<std::string, std::vector<uint8_t>> *set;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (!mActive)
        {
            return Failure(TN_STATE_ERROR, "the register store is usable only while a user set is saved or loaded");
        }
        save = mSave;
        set = mSet;
    }
    const std::string key = KeyOf(*aRegister, aNameSuffix);
    const uint32_t length = static_cast<uint32_t>(aRegister->GetLength());
    if (save)
    {
        std::vector<uint8_t> bytes(length);
        TnResult result = aRegister->ReadBytes(bytes.data(), length, 0);
        if (result.IsOK())
        {
            std::lock_guard<std::mutex> lock(mMutex);
            (*set)[key] = bytes;
        }
        return result;
    }
    std::vector<uint8_t> bytes;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        const auto found = set->find(key);
        if (found == set->end())
        {
            return Failure(TN_NOT_FOUND, "the user set holds nothing under '" + key + "'");
        }
        bytes = found->second;
    }
    if (bytes.size() != length)
    {
        return Failure(TN_INVALID_PARAMETER, "the user set holds " + std::to_string(bytes.size()) + " bytes under '" +
                                                 key + "' for a register of " + std::to_string(length));
    }
    return aRegister->Write(bytes.data(), length, 0);
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
    std::lock_guard<std::mutex> lock(mMutex);
    mCount = aCount;
    mSets.resize(aCount + 1);
    mSaved.resize(aCount + 1, false);
    return TnResult(TN_OK);
}

uint32_t TnUserSets::GetCount() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mCount;
}

bool TnUserSets::IsSaved(uint32_t aIndex) const
{
    std::lock_guard<std::mutex> lock(mMutex);
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
    Set set;
    TnResult result = Begin(aIndex, nullptr);
    if (!result.IsOK())
    {
        return result;
    }
    result = Run(true, set);
    std::lock_guard<std::mutex> lock(mMutex);
    mBusy = false;
    if (aIndex < mSets.size())
    {
        mSets[aIndex] = std::move(set);
        mSaved[aIndex] = true;
    }
    return result;
}

TnResult TnUserSets::Begin(uint32_t aIndex, Set *aLoaded)
{
    std::lock_guard<std::mutex> lock(mMutex);
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
    Set set;
    TnResult result = Begin(aIndex, &set);
    if (!result.IsOK())
    {
        return result;
    }
    result = Run(false, set);
    std::lock_guard<std::mutex> lock(mMutex);
    mBusy = false;
    return result;
}

TnResult TnUserSets::Run(bool aSave, Set &aSet)
{
    {
        std::lock_guard<std::mutex> lock(mStore.mMutex);
        mStore.mActive = true;
        mStore.mSave = aSave;
        mStore.mSet = &aSet;
    }
    std::vector<std::shared_ptr<TnRegister>> registers = mMap.GetRegisters();
    registers.erase(std::remove_if(registers.begin(), registers.end(),
                                   [](const std::shared_ptr<TnRegister> &aRegister) { return !aRegister->IsPersistent(); }),
                    registers.end());
    std::stable_sort(registers.begin(), registers.end(),
                     [](const std::shared_ptr<TnRegister> &aFirst, const std::shared_ptr<TnRegister> &aSecond) {
                         return aFirst->GetPersistOrder() < aSecond->GetPersistOrder();
                     });
    TnResult overall(TN_OK);
    std::string failures;
    for (const auto &reg : registers)
    {
        bool handled = false;
        TnResult failure(TN_OK);
        for (ITnRegisterEventSink *sink : reg->GetSinks())
        {
            const TnResult result =
                GuardedResult("ITnRegisterEventSink::Persist", [&] { return sink->Persist(reg.get(), &mStore); });
            if (result.IsOK())
            {
                handled = true;
            }
            else if (result.GetCode() != TN_NOT_IMPLEMENTED && failure.IsOK())
            {
                failure = result;
            }
        }
        if (failure.IsOK() && !handled)
        {
            failure = mStore.Persist(reg.get(), TnString(""));
            if (!aSave && failure.GetCode() == TN_NOT_FOUND)
            {
                failure = TnResult(TN_OK); // registers added since the save keep their value
            }
        }
        if (!failure.IsOK())
        {
            if (overall.IsOK())
            {
                overall = failure;
            }
            const std::string text = failure.GetDescription().GetAscii() != nullptr ? failure.GetDescription().GetAscii() : "";
            failures += (failures.empty() ? "" : "; ") + reg->GetFeatureName() + (text.empty() ? "" : ": " + text);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mStore.mMutex);
        mStore.mActive = false;
        mStore.mSet = nullptr;
    }
    if (!overall.IsOK())
    {
        overall.SetDescription(TnString(((aSave ? "saving" : "loading") + std::string(" the user set failed for ") + failures).c_str()));
        LogWarning(aSave ? "TnUserSets::Save" : "TnUserSets::Load", overall.GetDescription().GetAscii());
    }
    return overall;
}
} // namespace softdevice
} // namespace tn
