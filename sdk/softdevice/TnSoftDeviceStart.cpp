// The software device's start and stop: the network interface it serves on,
// its register map and description built with the program's sinks and
// sources, its stream channels and control channel started, and all of it
// taken down again.
#include "TnSoftDevice.h"

#include <chrono>
#include <deque>

#include "TnGevAddress.h"
#include "TnHeldObjects.h"
#include "TnSoftDeviceLog.h"
#include "TnSystemInternal.h"
#include "TnText.h"
#include "TnThreads.h"
#include "TnWait.h"

namespace tn
{
namespace softdevice
{
namespace
{
constexpr uint32_t kFirmwareVersionSize = 32;
// The longest a stream channel may take to stop before it is left behind.
constexpr uint32_t kChannelStopMs = 5000;
// The first stream channel's RTP port; the next channels take every other
// port from there.
constexpr uint16_t kRtpFirstPort = 5004;
} // namespace

TnResult TnSoftDevice::FindInterface(const std::string &aMac, Interface &aInterface)
{
    uint64_t lMac = 0;
    if (!gev::ParseMac(aMac, lMac))
    {
        return Failure(TN_INVALID_PARAMETER, "'" + aMac + "' is no MAC address");
    }
    std::vector<system::TnNetworkAdapterInfo> lAdapters;
    TnResult lResult = system::ListNetworkAdapters(lAdapters);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    for (const system::TnNetworkAdapterInfo &lAdapter : lAdapters)
    {
        uint64_t lAdapterMac = 0;
        for (uint8_t lByte : lAdapter.mMac)
        {
            lAdapterMac = (lAdapterMac << 8) | lByte;
        }
        if (lAdapterMac != lMac || lAdapter.mAddresses.empty() || !lAdapter.mIsUp)
        {
            continue;
        }
        aInterface.mName = lAdapter.mName;
        aInterface.mMac = lMac;
        aInterface.mAddress = lAdapter.mAddresses.front().mAddress;
        aInterface.mMask = lAdapter.mAddresses.front().mSubnetMask;
        aInterface.mGateway = lAdapter.mDefaultGateway;
        return TnResult(TN_OK);
    }
    return Failure(TN_NOT_FOUND, "no network interface with the MAC address " + aMac + " is up with an IPv4 address");
}

TnResult TnSoftDevice::Build(const Interface &aInterface)
{
    mMap.reset(new TnRegisterMap());
    mMap->SetUse(&mRegisterUse);
    TnDeviceIdentity lIdentity = mInfo.Identity();
    lIdentity.mMacAddress = aInterface.mMac;
    lIdentity.mIPAddress = aInterface.mAddress;
    lIdentity.mSubnetMask = aInterface.mMask;
    lIdentity.mGateway = aInterface.mGateway;
    mConfig = TnStandardConfig();
    mConfig.mIdentity = lIdentity;
    mConfig.mUserSetCount = mUserSetCount;
    bool lRtp;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lRtp = mFlags[FlagRtp];
    }
    TnResult lResult = CreateDeviceRegisters(*mMap, lIdentity, mSources.size(), this, mRegisters, lRtp);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    TnRegisterSpec lFirmware;
    lFirmware.mName = "DeviceFirmwareVersion";
    lFirmware.mAddress = kFirmwareVersionAddress;
    lFirmware.mLength = kFirmwareVersionSize;
    lFirmware.mAccessMode = TnGenAccessModeReadOnly;
    lFirmware.mByteArray = true;
    lResult = mMap->Add(lFirmware, &mFirmwareVersion);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    mFirmwareVersion->PokeString(tn::ToString(mInfo.GetDeviceFirmwareVersion()));
    mInfoAvailable.store(true);

    // The creation callbacks, on this thread, with no lock held.
    TnRegisterFactory lRegisters(*mMap);
    TellSinks("OnCreateCustomRegisters", [&](ITnVirtualDeviceGEVEventSink *lSink) {
        lSink->OnCreateCustomRegisters(mOuter, &lRegisters);
    });
    for (ITnSWStreamingChannelSource *lSource : mSources)
    {
        Guarded("CreateRegisters", [&] { lSource->CreateRegisters(mMap.get(), &lRegisters); });
    }
    lRegisters.Close();
    TnGenApiFactory lFeatures(*mMap);
    lFeatures.SetOwner(-1);
    TellSinks("OnCreateCustomGenApiFeatures", [&](ITnVirtualDeviceGEVEventSink *lSink) {
        lSink->OnCreateCustomGenApiFeatures(mOuter, &lFeatures);
    });
    for (size_t lIndex = 0; lIndex < mSources.size(); ++lIndex)
    {
        lFeatures.SetOwner(static_cast<int>(lIndex));
        Guarded("CreateGenApiFeatures", [&] { mSources[lIndex]->CreateGenApiFeatures(mMap.get(), &lFeatures); });
    }
    lFeatures.Close();
    SetUpGenDC();
    AskSources();

    const TnDescriptionInfo lDescription = mInfo.Description();
    std::string lXml;
    lResult = BuildDeviceDescription(*mMap, mConfig, mRegisters, lFeatures, lDescription, lXml);
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mXml = lXml;
        mXmlBuilt = true;
    }
    mInfo.SetXmlBuilt(true);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    mUserSets.reset(new TnUserSets(*mMap));
    mUserSets->SetCount(mUserSetCount);
    mUserSetControl.reset(new TnUserSetControl(*mUserSets, mRegisters, [this](bool aSave, bool aDone, uint32_t aIndex) {
        const TnUserSetState lState = aSave ? (aDone ? TnUserSetStateSaveCompleted : TnUserSetStateSaveStart)
                                            : (aDone ? TnUserSetStateLoadCompleted : TnUserSetStateLoadStart);
        mUserSetNotify.CallIfSet([&](ITnUserSetNotify *aNotify) { aNotify->UserSetStateNotify(lState, aIndex); });
    }));
    mRegisters.mUserSetLoad->AddEventSink(mUserSetControl.get());
    mRegisters.mUserSetSave->AddEventSink(mUserSetControl.get());
    mUserSets->SaveDefault();
    mMap->SetRunning(true);
    return TnResult(TN_OK);
}

bool TnSoftDevice::Enter(State aFrom, State aTo)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mState != aFrom)
    {
        return false;
    }
    mState = aTo;
    return true;
}

void TnSoftDevice::Leave(State aTo)
{
    // Told with the lock held: a destruction waiting for it may free the
    // device as soon as the lock is let go.
    std::lock_guard<std::mutex> lLock(mMutex);
    mState = aTo;
    mSettled.notify_all();
}

TnSoftDevice::Inside::Inside(TnSoftDevice &aDevice) : mDevice(aDevice), mMark(&aDevice)
{
    std::lock_guard<std::mutex> lLock(mDevice.mMutex);
    ++mDevice.mInside;
}

TnSoftDevice::Inside::~Inside()
{
    std::lock_guard<std::mutex> lLock(mDevice.mMutex);
    --mDevice.mInside;
    mDevice.mSettled.notify_all();
}

bool TnSoftDevice::AwaitStopElsewhere()
{
    std::unique_lock<std::mutex> lLock(mMutex);
    return Wait(mSettled, lLock, [this] { return !mStopElsewhere; });
}

TnResult TnSoftDevice::Start(const TnString &aMACAddress)
{
    // A stop asked for on one of the device's threads ends first, unless
    // this is one of them (it waits for this thread).
    if (!OnOwnThread() && !AwaitStopElsewhere())
    {
        return Failure(TN_ABORTED, "Start was interrupted while the device stopped");
    }
    // The creation callbacks run on this thread, inside the device.
    const Inside lInside(*this);
    // The state, not a lock, keeps a second Start or a Stop out meanwhile:
    // the creation callbacks run inside, and may call the device.
    if (!Enter(State::Stopped, State::Starting))
    {
        return Failure(TN_STATE_ERROR, "the device is running, starting or stopping");
    }
    Interface lInterface;
    TnResult lResult = FindInterface(tn::ToString(aMACAddress), lInterface);
    if (!lResult.IsOK())
    {
        Leave(State::Stopped);
        return lResult;
    }
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mXml.clear();
        mXmlBuilt = false;
        mInterface = lInterface;
    }
    // The sources stay while Start asks them: one destroyed meanwhile on
    // another thread waits for its end. Those destroyed before are left out.
    std::deque<SinkRegistry<ITnSWStreamingChannelSource>::CallScope> lAsking;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        for (ITnSWStreamingChannelSource *lSource : mSources)
        {
            lAsking.emplace_back(mSourceGate, lSource);
        }
        DropDestroyedSources();
    }
    mTimestampOrigin = gev::MonotonicNanoseconds();
    lResult = Build(lInterface);
    if (lResult.IsOK() && mEnding.load())
    {
        lResult = Failure(TN_ABORTED, "the device was destroyed while it started");
    }
    bool lRtp;
    bool lTcp;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lRtp = mFlags[FlagRtp];
        lTcp = mFlags[FlagTcp];
    }
    if (lResult.IsOK() && lRtp)
    {
        lResult = mAnnouncer.Start(lInterface.mAddress);
    }
    if (lResult.IsOK())
    {
        AllocateBuffers();
        for (size_t lIndex = 0; lIndex < mSources.size(); ++lIndex)
        {
            std::unique_ptr<TnStreamChannel> lChannel(
                new TnStreamChannel(lIndex, mSources[lIndex], lInterface.mAddress, this));
            lChannel->SetBuffers(mAllocated[lIndex]);
            lChannel->SetTimestamping(mTimestamping);
            lChannel->SetTimestampOrigin(mTimestampOrigin);
            lChannel->SetPacketSize(mRegisters.mSources[lIndex].mPacketSize->PeekInt() & 0xFFFF);
            lChannel->SetGenDC(StreamsGenDC(lIndex));
            if (lRtp)
            {
                // Each channel's RTP stream goes to a group of the
                // administratively scoped range named after the device's
                // address, on the ports RTP conventionally takes.
                const uint32_t lGroup = 0xEFFF0000u | (lInterface.mAddress & 0xFFFF);
                const uint16_t lPort = static_cast<uint16_t>(kRtpFirstPort + 2 * lIndex);
                lChannel->EnableRtp(lGroup, lPort, lTcp ? lInterface.mAddress : 0, &mAnnouncer,
                                    tn::ToString(mInfo.GetModelName()) + " stream " + std::to_string(lIndex));
            }
            mChannels.push_back(std::move(lChannel));
            UpdatePayloadSize(lIndex);
            mChannels.back()->Run();
        }
        StartRtpChannels();
        SetHeartbeatTimeout(mRegisters.mHeartbeatTimeout->PeekInt());
        lResult = mServer.Start(this, lInterface.mAddress, gev::kGvcpPort);
    }
    if (!lResult.IsOK())
    {
        TearDown();
        Leave(State::Stopped);
        return lResult;
    }
    {
        std::lock_guard<std::mutex> lLock(mHousekeeperMutex);
        mHousekeeperStop = false;
    }
    try
    {
        mHousekeeper = std::thread(&TnSoftDevice::Housekeeping, this);
    }
    catch (...)
    {
        mServer.Stop();
        TearDown();
        Leave(State::Stopped);
        return Failure(TN_THREAD_ERROR, "no housekeeping thread could be made");
    }
    mRunning.store(true);
    Leave(State::Running);
    const TnString lMac(gev::FormatMac(lInterface.mMac).c_str());
    const TnString lAddress(gev::FormatIPv4(lInterface.mAddress).c_str());
    const TnString lMask(gev::FormatIPv4(lInterface.mMask).c_str());
    const TnString lGateway(gev::FormatIPv4(lInterface.mGateway).c_str());
    TellSinks("OnControlChannelStart", [&](ITnVirtualDeviceGEVEventSink *lSink) {
        lSink->OnControlChannelStart(mOuter, lMac, lAddress, lMask, lGateway, mServer.GetPort());
    });
    if (mEnding.load())
    {
        return Failure(TN_ABORTED, "the device was destroyed as it started");
    }
    return TnResult(TN_OK);
}

void TnSoftDevice::TearDown()
{
    mServer.Stop();
    for (auto &lChannel : mChannels)
    {
        lChannel->Shutdown(kChannelStopMs);
    }
    mChannels.clear();
    mAnnouncer.Stop();
    FreeBuffers();
    // The map is retired before what its registers' sinks use goes away.
    if (mMap)
    {
        mMap->Retire();
    }
    mUserSetControl.reset();
    mUserSets.reset();
    mInfoAvailable.store(false);
    mFirmwareVersion = nullptr;
    // A program may keep the map or its registers past Stop: the map stays
    // while it holds them.
    std::shared_ptr<TnRegisterMap> lRetired;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lRetired = std::move(mMap);
        mRegisters = TnStandardRegisters();
    }
    if (lRetired)
    {
        TnRegisterMap *lAddress = lRetired.get();
        RetireObject(this, lAddress, std::move(lRetired));
    }
}

TnResult TnSoftDevice::Stop()
{
    if (OnOwnThread())
    {
        // A callback of the device asks (on one of the device's threads, or
        // inside its Start or Stop): the stop waits for this thread, so it
        // runs on a thread of its own and completes once the callback has
        // returned. Meanwhile the device counts as stopping.
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            if (mState != State::Running)
            {
                return Failure(TN_STATE_ERROR, "the device is not running");
            }
            mState = State::Stopping;
            mStopElsewhere = true;
        }
        const bool lStarted = EndElsewhere(this, [this] {
            {
                const WorkingFor lInside(this);
                StopNow();
            }
            std::lock_guard<std::mutex> lLock(mMutex);
            mStopElsewhere = false;
            mState = State::Stopped;
            mSettled.notify_all();
        });
        if (!lStarted)
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mStopElsewhere = false;
            mState = State::Running;
            mSettled.notify_all();
            return Failure(TN_THREAD_ERROR, "no thread could be made to stop the device");
        }
        return TnResult(TN_OK);
    }
    if (!AwaitStopElsewhere())
    {
        return Failure(TN_ABORTED, "Stop was interrupted while the device stopped");
    }
    const Inside lInside(*this);
    if (!Enter(State::Running, State::Stopping))
    {
        return Failure(TN_STATE_ERROR, "the device is not running");
    }
    StopNow();
    Leave(State::Stopped);
    return TnResult(TN_OK);
}

void TnSoftDevice::StopNow()
{
    {
        std::lock_guard<std::mutex> lLock(mHousekeeperMutex);
        mHousekeeperStop = true;
        mHousekeeperWake.notify_all();
    }
    if (mHousekeeper.joinable())
    {
        mHousekeeper.join();
    }
    mServer.Stop();
    DropControl();
    mRunning.store(false);
    TellSinks("OnControlChannelStop",
              [&](ITnVirtualDeviceGEVEventSink *lSink) { lSink->OnControlChannelStop(mOuter); });
    TearDown();
}

void TnSoftDevice::Housekeeping()
{
    const WorkingFor lOwn(this, WorkingFor::OwnThread);
    std::unique_lock<std::mutex> lLock(mHousekeeperMutex);
    while (!mHousekeeperStop)
    {
        mHousekeeperWake.wait_for(lLock, std::chrono::milliseconds(100));
        if (mHousekeeperStop)
        {
            break;
        }
        lLock.unlock();
        CheckHeartbeat();
        lLock.lock();
    }
}
} // namespace softdevice
} // namespace tn
