#include "TnStreamingChannelSourceTrigger.h"

#include <algorithm>
#include <chrono>

#include "TnSoftDeviceLog.h"
#include "TnText.h"

using tn::softdevice::Guarded;

namespace
{
// Offsets of the trigger registers from the base address.
constexpr uint32_t kSelector = 0x0;
constexpr uint32_t kMode = 0x4;
constexpr uint32_t kSource = 0x8;
constexpr uint32_t kSoftware = 0xC;
// How long the pre-queue step waits for a trigger before it skips a buffer.
constexpr std::chrono::milliseconds kPreQueueWait(10);

std::string Suffix(uint32_t aChannel)
{
    return aChannel == 0 ? std::string() : std::to_string(aChannel);
}
} // namespace

void TnSoftDeviceRelease(ITnTriggerCallback *aCallback)
{
    tn::SinkRegistry<ITnTriggerCallback>::Forget(aCallback);
}

ITnTriggerCallback::~ITnTriggerCallback()
{
    TnSoftDeviceRelease(this);
}

struct TnStreamingChannelSourceTrigger::Callbacks
{
    std::map<int, tn::SinkSlot<ITnTriggerCallback>> mBySelector; // guarded by the source's mutex; never shrinks
    // The selectors handed to callbacks right now, with their number of
    // calls (guarded by the source's mutex): a selector replaced or removed
    // stays in use until they end.
    std::map<const ITnTriggerSelector *, unsigned> mFiring;
};

namespace
{
// The sources and selectors whose callbacks this thread runs.
thread_local std::vector<std::pair<const TnStreamingChannelSourceTrigger *, const ITnTriggerSelector *>> tFiring;
} // namespace

TnStreamingChannelSourceTrigger::TnStreamingChannelSourceTrigger(uint32_t mChannel, uint32_t aRegisterBaseAddress)
    : mChannelIndex(mChannel), mBase(aRegisterBaseAddress), mCallbacks(new Callbacks),
      mCurrent(TRIGGER_SELECTOR_FRAMESTART), mStreaming(false), mHeight(1)
{
    mSources.emplace_back(TRIGGER_SOURCE_SOFTWARE, "Software");
}

TnStreamingChannelSourceTrigger::~TnStreamingChannelSourceTrigger()
{
    // The device and the registers call the source no more before its parts
    // go.
    TnSoftDeviceRelease(static_cast<ITnSWStreamingChannelSource *>(this));
    TnSoftDeviceRelease(static_cast<ITnRegisterEventSink *>(this));
}

void TnStreamingChannelSourceTrigger::AddSelector(TriggerSelectorEnum aIndex, SelectorEntry aSelector)
{
    std::unique_lock<std::mutex> lLock(mMutex);
    const auto lFound = mSelectors.find(aIndex);
    const ITnTriggerSelector *lBefore = lFound != mSelectors.end() ? lFound->second : nullptr;
    if (aSelector == nullptr)
    {
        mSelectors.erase(aIndex);
    }
    else
    {
        mSelectors[aIndex] = aSelector;
    }
    // The selector given up may go once this returns: the callbacks that
    // were handed it on other threads end first (on this thread, inside one
    // of them, waiting would never end).
    const auto lFiring = [&] {
        const auto lCalls = mCallbacks->mFiring.find(lBefore);
        return lCalls != mCallbacks->mFiring.end() && lCalls->second != 0;
    };
    if (lBefore != nullptr && lBefore != aSelector &&
        std::find(tFiring.begin(), tFiring.end(), std::make_pair(static_cast<const TnStreamingChannelSourceTrigger *>(this), lBefore)) == tFiring.end())
    {
        mChanged.wait(lLock, [&] { return !lFiring(); });
    }
}

void TnStreamingChannelSourceTrigger::AddSelectorTriggerCallback(TriggerSelectorEnum aIndex, ITnTriggerCallback *aCallback)
{
    tn::SinkSlot<ITnTriggerCallback> *lSlot;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lSlot = &mCallbacks->mBySelector[aIndex];
    }
    lSlot->Set(aCallback); // the former callback's call in progress ends first
}

void TnStreamingChannelSourceTrigger::AddSource(uint32_t aIndex, const TnString &aName)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    for (auto &lSource : mSources)
    {
        if (lSource.first == aIndex)
        {
            lSource.second = tn::ToString(aName);
            return;
        }
    }
    mSources.emplace_back(aIndex, tn::ToString(aName));
}

uint32_t TnStreamingChannelSourceTrigger::GetSource() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    const auto lFound = mSelectors.find(mCurrent);
    return lFound == mSelectors.end() ? 0 : lFound->second->GetSource();
}

bool TnStreamingChannelSourceTrigger::GetMode() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    const auto lFound = mSelectors.find(mCurrent);
    return lFound != mSelectors.end() && lFound->second->GetMode();
}

void TnStreamingChannelSourceTrigger::OnStreamingStart()
{
    uint32_t lHeight = 1;
    Guarded("GetHeight", [&] { lHeight = GetHeight(); });
    std::lock_guard<std::mutex> lLock(mMutex);
    mStreaming = true;
    mHeight = lHeight;
    for (auto &lSelector : mSelectors)
    {
        lSelector.second->Start(lHeight);
    }
    mChanged.notify_all();
}

void TnStreamingChannelSourceTrigger::OnStreamingStop()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mStreaming = false;
    for (auto &lSelector : mSelectors)
    {
        lSelector.second->Stop();
    }
    mChanged.notify_all();
}

void TnStreamingChannelSourceTrigger::CreateRegisters(ITnRegisterMap *, ITnRegisterFactory *aFactory)
{
    if (aFactory == nullptr)
    {
        return;
    }
    const std::string lSuffix = Suffix(mChannelIndex);
    aFactory->AddRegister(TnString(("TriggerSelectorReg" + lSuffix).c_str()), mBase + kSelector, 4,
                          TnGenAccessModeReadWrite, this);
    aFactory->AddRegister(TnString(("TriggerModeReg" + lSuffix).c_str()), mBase + kMode, 4, TnGenAccessModeReadWrite,
                          this);
    aFactory->AddRegister(TnString(("TriggerSourceReg" + lSuffix).c_str()), mBase + kSource, 4,
                          TnGenAccessModeReadWrite, this);
    aFactory->AddRegister(TnString(("TriggerSoftwareReg" + lSuffix).c_str()), mBase + kSoftware, 4,
                          TnGenAccessModeWriteOnly, this);
}

void TnStreamingChannelSourceTrigger::CreateGenApiFeatures(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory)
{
    CreateTriggerSelector(aRegisterMap, aFactory);
    CreateTriggerMode(aRegisterMap, aFactory);
    CreateTriggerSource(aRegisterMap, aFactory);
    CreateTriggerSoftware(aRegisterMap, aFactory);
}

void TnStreamingChannelSourceTrigger::CreateTriggerSelector(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory)
{
    if (aRegisterMap == nullptr || aFactory == nullptr)
    {
        return;
    }
    std::map<int, std::string> lNames;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        for (const auto &lSelector : mSelectors)
        {
            lNames[lSelector.first] = tn::ToString(lSelector.second->GetName());
        }
    }
    if (lNames.empty())
    {
        lNames[TRIGGER_SELECTOR_FRAMESTART] = "FrameStart";
    }
    aFactory->SetName("TriggerSelector");
    aFactory->SetCategory("AcquisitionControl");
    aFactory->SetNameSpace(TnGenNameSpaceStandard);
    aFactory->SetDescription("Selects the trigger that the other trigger features configure.");
    for (const auto &lName : lNames)
    {
        aFactory->AddEnumEntry(TnString(lName.second.c_str()), static_cast<uint32_t>(lName.first));
    }
    aFactory->CreateEnum(aRegisterMap->GetRegisterByAddress(mBase + kSelector));
}

void TnStreamingChannelSourceTrigger::CreateTriggerMode(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory)
{
    if (aRegisterMap == nullptr || aFactory == nullptr)
    {
        return;
    }
    aFactory->SetName("TriggerMode");
    aFactory->AddSelected("TriggerSelector");
    aFactory->SetCategory("AcquisitionControl");
    aFactory->SetNameSpace(TnGenNameSpaceStandard);
    aFactory->SetDescription("The trigger mode of the selected trigger.");
    aFactory->AddEnumEntry("Off", TRIGGER_MODE_OFF);
    aFactory->AddEnumEntry("On", TRIGGER_MODE_ON);
    aFactory->CreateEnum(aRegisterMap->GetRegisterByAddress(mBase + kMode));
}

void TnStreamingChannelSourceTrigger::CreateTriggerSource(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory)
{
    if (aRegisterMap == nullptr || aFactory == nullptr)
    {
        return;
    }
    std::vector<std::pair<uint32_t, std::string>> lSources;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lSources = mSources;
    }
    aFactory->SetName("TriggerSource");
    aFactory->AddSelected("TriggerSelector");
    aFactory->SetCategory("AcquisitionControl");
    aFactory->SetNameSpace(TnGenNameSpaceStandard);
    aFactory->SetDescription("The source of the selected trigger.");
    for (const auto &lSource : lSources)
    {
        aFactory->AddEnumEntry(TnString(lSource.second.c_str()), lSource.first);
    }
    aFactory->CreateEnum(aRegisterMap->GetRegisterByAddress(mBase + kSource));
}

void TnStreamingChannelSourceTrigger::CreateTriggerSoftware(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory)
{
    if (aRegisterMap == nullptr || aFactory == nullptr)
    {
        return;
    }
    aFactory->SetName("TriggerSoftware");
    aFactory->AddSelected("TriggerSelector");
    aFactory->SetCategory("AcquisitionControl");
    aFactory->SetNameSpace(TnGenNameSpaceStandard);
    aFactory->SetDescription("Fires a software trigger for the selected trigger.");
    aFactory->CreateCommand(aRegisterMap->GetRegisterByAddress(mBase + kSoftware));
}

bool TnStreamingChannelSourceTrigger::PreQueueBufferProc()
{
    std::unique_lock<std::mutex> lLock(mMutex);
    const auto lUntil = std::chrono::steady_clock::now() + kPreQueueWait;
    for (;;)
    {
        if (!mStreaming)
        {
            return false;
        }
        bool lAllowed = true;
        const auto lAcquisition = mSelectors.find(TRIGGER_SELECTOR_ACQUISITIONSTART);
        if (lAcquisition != mSelectors.end() && lAcquisition->second->IsEnabled() &&
            lAcquisition->second->GetState() != ITnTriggerSelector::State_OneShot)
        {
            lAllowed = false;
        }
        const auto lFrame = mSelectors.find(TRIGGER_SELECTOR_FRAMESTART);
        if (lAllowed && lFrame != mSelectors.end() && lFrame->second->IsEnabled())
        {
            if (lFrame->second->GetState() == ITnTriggerSelector::State_Enabled)
            {
                lFrame->second->Start(mHeight); // the mode came on while streaming
            }
            if (lFrame->second->GetState() != ITnTriggerSelector::State_Fired)
            {
                lAllowed = false;
            }
            else
            {
                lFrame->second->Rearm();
            }
        }
        if (lAllowed)
        {
            return true;
        }
        // A short wait only: the caller goes on sending what it holds, and a
        // stop is never held up.
        if (mChanged.wait_until(lLock, lUntil) == std::cv_status::timeout)
        {
            return false;
        }
    }
}

void TnStreamingChannelSourceTrigger::PostRetrieveBufferProc() {}

TnResult TnStreamingChannelSourceTrigger::PreRead(ITnRegister *aRegister)
{
    if (aRegister == nullptr)
    {
        return TnResult(TN_OK);
    }
    const uint32_t lOffset = aRegister->GetAddress() - mBase;
    uint32_t lValue = 0;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        const auto lFound = mSelectors.find(mCurrent);
        if (lOffset == kSelector)
        {
            lValue = static_cast<uint32_t>(mCurrent);
        }
        else if (lOffset == kMode)
        {
            lValue = lFound != mSelectors.end() && lFound->second->GetMode() ? TRIGGER_MODE_ON : TRIGGER_MODE_OFF;
        }
        else if (lOffset == kSource)
        {
            lValue = lFound != mSelectors.end() ? lFound->second->GetSource() : 0;
        }
        else
        {
            return TnResult(TN_OK);
        }
    }
    return aRegister->Write(lValue);
}

TnResult TnStreamingChannelSourceTrigger::PreWrite(ITnRegister *aRegister)
{
    if (aRegister == nullptr)
    {
        return TnResult(TN_OK);
    }
    const uint32_t lOffset = aRegister->GetAddress() - mBase;
    uint32_t lValue = 0;
    aRegister->ReadInt(lValue);
    if (lOffset == kSoftware)
    {
        if (lValue != 0)
        {
            FireTrigger();
        }
        return TnResult(TN_OK);
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    const auto lFound = mSelectors.find(mCurrent);
    if (lOffset == kSelector)
    {
        if (mSelectors.find(static_cast<int>(lValue)) == mSelectors.end())
        {
            return TnResult(TN_INVALID_PARAMETER);
        }
        mCurrent = static_cast<int>(lValue);
    }
    else if (lOffset == kMode && lFound != mSelectors.end())
    {
        lFound->second->SetMode(lValue == TRIGGER_MODE_ON);
        if (mStreaming && lValue == TRIGGER_MODE_ON)
        {
            lFound->second->Start(mHeight);
        }
        mChanged.notify_all();
    }
    else if (lOffset == kSource && lFound != mSelectors.end())
    {
        lFound->second->SetSource(lValue);
    }
    return TnResult(TN_OK);
}

TnResult TnStreamingChannelSourceTrigger::Persist(ITnRegister *aRegister, ITnRegisterStore *aStore)
{
    (void)aRegister;
    (void)aStore;
    return TnResult(TN_NOT_IMPLEMENTED); // the plain content
}

void TnStreamingChannelSourceTrigger::FireTrigger() const
{
    int lIndex;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lIndex = mCurrent;
        const auto lFound = mSelectors.find(lIndex);
        if (lFound == mSelectors.end() || lFound->second->GetSource() != TRIGGER_SOURCE_SOFTWARE)
        {
            return;
        }
    }
    Fire(lIndex);
}

void TnStreamingChannelSourceTrigger::Fire(int aIndex) const
{
    ITnTriggerSelector *lSelector = nullptr;
    tn::SinkSlot<ITnTriggerCallback> *lCallback = nullptr;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        const auto lFound = mSelectors.find(aIndex);
        if (lFound == mSelectors.end())
        {
            return;
        }
        lSelector = lFound->second;
        lSelector->FireTrigger();
        const auto lCall = mCallbacks->mBySelector.find(aIndex);
        lCallback = lCall != mCallbacks->mBySelector.end() ? &lCall->second : nullptr;
        if (lCallback != nullptr)
        {
            ++mCallbacks->mFiring[lSelector];
        }
        mChanged.notify_all();
    }
    if (lCallback != nullptr)
    {
        // The selector is handed out until the call ends, however it ends.
        struct Firing
        {
            const TnStreamingChannelSourceTrigger &mSource;
            const ITnTriggerSelector *mSelector;
            ~Firing()
            {
                tFiring.pop_back();
                std::lock_guard<std::mutex> lLock(mSource.mMutex);
                const auto lCalls = mSource.mCallbacks->mFiring.find(mSelector);
                if (--lCalls->second == 0)
                {
                    mSource.mCallbacks->mFiring.erase(lCalls);
                }
                mSource.mChanged.notify_all();
            }
        };
        tFiring.emplace_back(this, lSelector);
        const Firing lFiring{*this, lSelector};
        Guarded("TriggerCallbackMethod", [&] {
            lCallback->CallIfSet([&](ITnTriggerCallback *aCallback) { aCallback->TriggerCallbackMethod(lSelector); });
        });
    }
}
