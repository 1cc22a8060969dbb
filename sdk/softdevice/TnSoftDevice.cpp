#include "TnSoftDevice.h"

#include <string.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <deque>

#include "TnBuffer.h"
#include "TnGevAddress.h"
#include "TnGevBytes.h"
#include "TnGvspSender.h"
#include "TnSoftDeviceLog.h"
#include "TnSystemInternal.h"
#include "TnText.h"

void TnSoftDeviceRelease(ITnUserSetNotify *aNotify)
{
    tn::SinkRegistry<ITnUserSetNotify>::Forget(aNotify);
}

void TnSoftDeviceRelease(ITnVirtualDeviceGEVEventSink *aSink)
{
    tn::SinkRegistry<ITnVirtualDeviceGEVEventSink>::Forget(aSink);
}

void TnSoftDeviceRelease(ITnSWStreamingChannelSource *aSource)
{
    tn::SinkRegistry<ITnSWStreamingChannelSource>::Forget(aSource);
}

ITnUserSetNotify::~ITnUserSetNotify()
{
    TnSoftDeviceRelease(this);
}

ITnVirtualDeviceGEVEventSink::~ITnVirtualDeviceGEVEventSink()
{
    TnSoftDeviceRelease(this);
}

ITnSWStreamingChannelSource::~ITnSWStreamingChannelSource()
{
    TnSoftDeviceRelease(this);
}

namespace tn
{
namespace softdevice
{
namespace
{
constexpr size_t kMaxStreams = 4;
constexpr size_t kMaxBuffersPerChannel = 64;
constexpr uint32_t kMaxUserSets = 256;
constexpr uint32_t kFirmwareVersionAddress = 0x3FFF0100;
constexpr uint32_t kFirmwareVersionSize = 32;
// The longest a stream channel may take to stop before it is left behind.
constexpr uint32_t kChannelStopMs = 5000;
// Bounds on the start-up questions, whatever a source answers.
constexpr int kMaxPixelTypes = 256;
constexpr int kMaxChunkTypes = 64;
// The first stream channel's RTP port; the next channels take every other
// port from there.
constexpr uint16_t kRtpFirstPort = 5004;

gev::TnGvcpDeviceInfo PlaceholderInfo()
{
    gev::TnGvcpDeviceInfo lInfo;
    lInfo.mVersionMajor = 2;
    lInfo.mVersionMinor = 0;
    return lInfo;
}

} // namespace

TnSoftDevice::TnSoftDevice(ITnVirtualDeviceGEV *aOuter)
    : gev::TnGvcpDevice(PlaceholderInfo(), 0x1000), mOuter(aOuter), mRunning(false), mInfoAvailable(false),
      mInfo(*this), mMessageChannel(*this)
{
}

TnSoftDevice::~TnSoftDevice()
{
    Stop();
}

TnResult TnSoftDevice::SetUserSetCount(uint32_t aCount)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mState != State::Stopped)
    {
        return Failure(TN_STATE_ERROR, "the user-set count is set before Start");
    }
    if (aCount > kMaxUserSets)
    {
        return Failure(TN_INVALID_PARAMETER, "at most 256 user sets besides the default one");
    }
    mUserSetCount = aCount;
    return TnResult(TN_OK);
}

TnResult TnSoftDevice::SetUserSetNotify(ITnUserSetNotify *aNotify)
{
    mUserSetNotify.Set(aNotify);
    return TnResult(TN_OK);
}

TnResult TnSoftDevice::SetActionHandler(TnVirtualDeviceLib::IActionHandler *aHandler)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mActionHandler = aHandler;
    return TnResult(TN_OK);
}

TnResult TnSoftDevice::RegisterEventSink(ITnVirtualDeviceGEVEventSink *aSink)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aSink == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "no event sink");
    }
    if (mSinks.Contains(aSink))
    {
        return Failure(kSinkRegisteredTwice, "the event sink is registered already");
    }
    if (mState != State::Stopped)
    {
        return Failure(TN_STATE_ERROR, "event sinks are registered before Start");
    }
    mSinks.Add(aSink);
    return TnResult(TN_OK);
}

TnResult TnSoftDevice::UnregisterEventSink(ITnVirtualDeviceGEVEventSink *aSink)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mState != State::Stopped)
    {
        return Failure(TN_STATE_ERROR, "event sinks are unregistered before Start or after Stop");
    }
    if (!mSinks.Remove(aSink))
    {
        return Failure(TN_INVALID_PARAMETER, "the event sink is not registered");
    }
    return TnResult(TN_OK);
}

TnResult TnSoftDevice::AddStream(ITnSWStreamingChannelSource *aSource)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aSource == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "no source");
    }
    if (mState != State::Stopped)
    {
        return Failure(TN_STATE_ERROR, "streams are added before Start");
    }
    DropDestroyedSources();
    if (mSources.size() >= kMaxStreams)
    {
        return Failure(TN_NOT_SUPPORTED, "a device has at most " + std::to_string(kMaxStreams) + " streams");
    }
    mSources.push_back(aSource);
    mSourceGate.Add(aSource);
    return TnResult(TN_OK);
}

void TnSoftDevice::DropDestroyedSources()
{
    const auto lDestroyed = [this](ITnSWStreamingChannelSource *aSource) { return !mSourceGate.Contains(aSource); };
    mSources.erase(std::remove_if(mSources.begin(), mSources.end(), lDestroyed), mSources.end());
}

TnResult TnSoftDevice::SetStreamTimestamping(bool aEnabled)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mTimestamping = aEnabled;
    for (auto &lChannel : mChannels)
    {
        lChannel->SetTimestamping(aEnabled);
    }
    return TnResult(TN_OK);
}

TnResult TnSoftDevice::SetFlag(Flag aWhich, bool aEnabled)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mFlags[aWhich] = aEnabled;
    return TnResult(TN_OK);
}

std::vector<ITnVirtualDeviceGEVEventSink *> TnSoftDevice::Sinks()
{
    return mSinks.Snapshot();
}

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

void TnSoftDevice::SetUpGenDC()
{
    bool lEnabled;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lEnabled = mFlags[FlagGenDC];
    }
    if (mGenDCManagers.size() < mSources.size())
    {
        mGenDCManagers.resize(mSources.size());
    }
    for (size_t lIndex = 0; lIndex < mSources.size() && lEnabled; ++lIndex)
    {
        auto *lSource = dynamic_cast<ITnSWStreamingChannelSourceGenDC *>(mSources[lIndex]);
        if (lSource == nullptr)
        {
            continue;
        }
        std::unique_ptr<buffer::GenDCManager> &lManager = mGenDCManagers[lIndex];
        if (!lManager)
        {
            lManager.reset(new buffer::GenDCManager());
        }
        lManager->ResetContainer(); // each start lays out the container anew
        Guarded("AssignGenDCManager", [&] { lSource->AssignGenDCManager(lManager.get()); });
        Guarded("SetupGenDCContainer", [&] { lSource->SetupGenDCContainer(); });
        bool lMode = false;
        Guarded("GetGenDCStreamingMode", [&] { lMode = lSource->GetGenDCStreamingMode(); });
        TnRegisterSpec lSpec;
        lSpec.mName = "GenDCStreamingMode" + std::to_string(lIndex);
        lSpec.mAddress = kSourceRegisters + static_cast<uint32_t>(lIndex) * kSourceRegisterStride +
                         kGenDCStreamingModeOffset;
        lSpec.mSink = this;
        TnRegister *lRegister = nullptr;
        if (mMap->Add(lSpec, &lRegister).IsOK())
        {
            lRegister->PokeInt(lMode ? 1u : 0u);
            mRegisters.mSources[lIndex].mGenDCStreamingMode = lRegister;
        }
    }
}

bool TnSoftDevice::StreamsGenDC(size_t aIndex) const
{
    const TnRegister *lMode =
        aIndex < mRegisters.mSources.size() ? mRegisters.mSources[aIndex].mGenDCStreamingMode : nullptr;
    return lMode != nullptr && lMode->PeekInt() != 0;
}

uint32_t TnSoftDevice::AskPayloadSize(size_t aIndex)
{
    if (StreamsGenDC(aIndex))
    {
        return static_cast<uint32_t>(std::min<uint64_t>(mGenDCManagers[aIndex]->GetTotalPayloadSize(), 0xFFFFFFFFu));
    }
    uint32_t lSize = 0;
    ITnSWStreamingChannelSource *lSource = mSources[aIndex];
    Guarded(mSourceGate, lSource, "GetPayloadSize", [&] { lSize = lSource->GetPayloadSize(); });
    return lSize;
}

void TnSoftDevice::AskSources()
{
    mConfig.mSources.clear();
    for (size_t lIndex = 0; lIndex < mSources.size(); ++lIndex)
    {
        ITnSWStreamingChannelSource *lSource = mSources[lIndex];
        TnSourceDescription lAnswer;
        Guarded("GetWidth", [&] { lAnswer.mWidth = lSource->GetWidth(); });
        Guarded("GetHeight", [&] { lAnswer.mHeight = lSource->GetHeight(); });
        Guarded("GetOffsetX", [&] { lAnswer.mOffsetX = lSource->GetOffsetX(); });
        Guarded("GetOffsetY", [&] { lAnswer.mOffsetY = lSource->GetOffsetY(); });
        Guarded("GetPixelType", [&] { lAnswer.mPixelType = lSource->GetPixelType(); });
        Guarded("GetWidthInfo", [&] { lSource->GetWidthInfo(lAnswer.mWidthMin, lAnswer.mWidthMax, lAnswer.mWidthInc); });
        Guarded("GetHeightInfo",
                [&] { lSource->GetHeightInfo(lAnswer.mHeightMin, lAnswer.mHeightMax, lAnswer.mHeightInc); });
        Guarded("GetChunksSize", [&] { lAnswer.mChunksSize = lSource->GetChunksSize(); });
        lAnswer.mPayloadSize = AskPayloadSize(lIndex);
        Guarded("GetScanType", [&] { lAnswer.mScanType = lSource->GetScanType(); });
        Guarded("GetChunkModeActive", [&] { lAnswer.mChunkModeActive = lSource->GetChunkModeActive(); });
        // Nonsense kept out: limits in order, increments at least 1, the
        // current values inside.
        lAnswer.mWidthInc = std::max<uint32_t>(1, lAnswer.mWidthInc);
        lAnswer.mHeightInc = std::max<uint32_t>(1, lAnswer.mHeightInc);
        lAnswer.mWidthMin = std::max<uint32_t>(1, lAnswer.mWidthMin);
        lAnswer.mHeightMin = std::max<uint32_t>(1, lAnswer.mHeightMin);
        lAnswer.mWidthMax = std::max(lAnswer.mWidthMax, std::max(lAnswer.mWidthMin, lAnswer.mWidth));
        lAnswer.mHeightMax = std::max(lAnswer.mHeightMax, std::max(lAnswer.mHeightMin, lAnswer.mHeight));
        for (int lTypeIndex = 0; lTypeIndex < kMaxPixelTypes; ++lTypeIndex)
        {
            TnPixelType lType = TnPixelUndefined;
            const TnResult lResult = GuardedResult(
                "GetSupportedPixelType", [&] { return lSource->GetSupportedPixelType(lTypeIndex, lType); });
            if (!lResult.IsOK())
            {
                break;
            }
            if (std::find(lAnswer.mPixelTypes.begin(), lAnswer.mPixelTypes.end(), lType) == lAnswer.mPixelTypes.end())
            {
                lAnswer.mPixelTypes.push_back(lType);
            }
        }
        if (std::find(lAnswer.mPixelTypes.begin(), lAnswer.mPixelTypes.end(), lAnswer.mPixelType) ==
            lAnswer.mPixelTypes.end())
        {
            lAnswer.mPixelTypes.insert(lAnswer.mPixelTypes.begin(), lAnswer.mPixelType);
        }
        for (int lChunkIndex = 0; lChunkIndex < kMaxChunkTypes; ++lChunkIndex)
        {
            uint32_t lId = 0;
            TnString lName;
            const TnResult lResult = GuardedResult(
                "GetSupportedChunk", [&] { return lSource->GetSupportedChunk(lChunkIndex, lId, lName); });
            if (!lResult.IsOK())
            {
                break;
            }
            lAnswer.mChunks.emplace_back(lId, tn::ToString(lName));
        }
        uint32_t lMax = 0;
        const TnResult lPacket =
            GuardedResult("GetGevSCPSPacketSizeInfo", [&] { return lSource->GetGevSCPSPacketSizeInfo(lMax); });
        if (lPacket.IsOK() && lMax >= gev::kGvspMinPacketSize && lMax <= 65535)
        {
            lAnswer.mPacketSizeMax = lMax;
        }
        mConfig.mSources.push_back(lAnswer);
    }
}

void TnSoftDevice::AllocateBuffers()
{
    mAllocated.assign(mSources.size(), std::vector<TnBuffer *>());
    for (size_t lIndex = 0; lIndex < mSources.size(); ++lIndex)
    {
        std::vector<TnBuffer *> &lBuffers = mAllocated[lIndex];
        while (lBuffers.size() < kMaxBuffersPerChannel)
        {
            TnBuffer *lBuffer = nullptr;
            const TnResult lResult = GuardedResult("AllocBuffer", [&] {
                lBuffer = mSources[lIndex]->AllocBuffer();
                return TnResult(TN_OK);
            });
            if (!lResult.IsOK() || lBuffer == nullptr)
            {
                break;
            }
            if (std::find(lBuffers.begin(), lBuffers.end(), lBuffer) != lBuffers.end())
            {
                LogWarning("AllocBuffer", "a source gave the same buffer twice; it is used once");
                continue;
            }
            lBuffers.push_back(lBuffer);
        }
    }
}

void TnSoftDevice::FreeBuffers()
{
    for (size_t lIndex = 0; lIndex < mAllocated.size() && lIndex < mSources.size(); ++lIndex)
    {
        for (TnBuffer *lBuffer : mAllocated[lIndex])
        {
            Guarded(mSourceGate, mSources[lIndex], "FreeBuffer", [&] { mSources[lIndex]->FreeBuffer(lBuffer); });
        }
    }
    mAllocated.clear();
}

TnResult TnSoftDevice::Build(const Interface &aInterface)
{
    mMap.reset(new TnRegisterMap());
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
    for (ITnVirtualDeviceGEVEventSink *lSink : Sinks())
    {
        Guarded(mSinks, lSink, "OnCreateCustomRegisters",
                [&] { lSink->OnCreateCustomRegisters(mOuter, &lRegisters); });
    }
    for (ITnSWStreamingChannelSource *lSource : mSources)
    {
        Guarded("CreateRegisters", [&] { lSource->CreateRegisters(mMap.get(), &lRegisters); });
    }
    lRegisters.Close();
    TnGenApiFactory lFeatures(*mMap);
    lFeatures.SetOwner(-1);
    for (ITnVirtualDeviceGEVEventSink *lSink : Sinks())
    {
        Guarded(mSinks, lSink, "OnCreateCustomGenApiFeatures",
                [&] { lSink->OnCreateCustomGenApiFeatures(mOuter, &lFeatures); });
    }
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
    std::lock_guard<std::mutex> lLock(mMutex);
    mState = aTo;
}

TnResult TnSoftDevice::Start(const TnString &aMACAddress)
{
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
            std::unique_ptr<TnStreamChannel> lChannel(new TnStreamChannel(lIndex, mSources[lIndex], lInterface.mAddress));
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
    mHousekeeper = std::thread(&TnSoftDevice::Housekeeping, this);
    mRunning.store(true);
    Leave(State::Running);
    const TnString lMac(gev::FormatMac(lInterface.mMac).c_str());
    const TnString lAddress(gev::FormatIPv4(lInterface.mAddress).c_str());
    const TnString lMask(gev::FormatIPv4(lInterface.mMask).c_str());
    const TnString lGateway(gev::FormatIPv4(lInterface.mGateway).c_str());
    for (ITnVirtualDeviceGEVEventSink *lSink : Sinks())
    {
        Guarded(mSinks, lSink, "OnControlChannelStart", [&] {
            lSink->OnControlChannelStart(mOuter, lMac, lAddress, lMask, lGateway, mServer.GetPort());
        });
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
    // A program may keep the map or its registers past Stop: the map is kept
    // (one per Start) until the device is destroyed.
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mMap)
    {
        mRetiredMaps.push_back(std::move(mMap));
    }
    mRegisters = TnStandardRegisters();
}

TnResult TnSoftDevice::Stop()
{
    if (!Enter(State::Running, State::Stopping))
    {
        return Failure(TN_STATE_ERROR, "the device is not running");
    }
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
    for (ITnVirtualDeviceGEVEventSink *lSink : Sinks())
    {
        Guarded(mSinks, lSink, "OnControlChannelStop", [&] { lSink->OnControlChannelStop(mOuter); });
    }
    TearDown();
    Leave(State::Stopped);
    return TnResult(TN_OK);
}

void TnSoftDevice::Housekeeping()
{
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

ITnVirtualDeviceGEVInfo *TnSoftDevice::GetInfo()
{
    return mInfoAvailable.load() ? &mInfo : nullptr;
}

ITnRegisterMap *TnSoftDevice::GetRegisterMap()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mInfoAvailable.load() ? mMap.get() : nullptr;
}

ITnVirtualDeviceGEVStatistics *TnSoftDevice::GetStatistics()
{
    return mRunning.load() ? &mStatistics : nullptr;
}

ITnMessageChannel *TnSoftDevice::GetMessagingChannel()
{
    return mRunning.load() ? &mMessageChannel : nullptr;
}

TnResult TnSoftDevice::GetGenICamXMLFile(TnString &aString) const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!mXmlBuilt)
    {
        return Failure(TN_STATE_ERROR, "the device has not been started");
    }
    aString = TnString(mXml.c_str());
    return TnResult(TN_OK);
}

TnRegister *TnSoftDevice::IdentityRegister(uint32_t aAddress)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!mMap)
    {
        return nullptr;
    }
    if (aAddress == kFirmwareVersionAddress)
    {
        return mFirmwareVersion;
    }
    return mMap->Find(aAddress).get();
}

bool TnSoftDevice::HasController()
{
    gev::TnGvcpPeer lPeer;
    return GetController(lPeer);
}

uint64_t TnSoftDevice::TimestampNow() const
{
    return gev::MonotonicNanoseconds() - mTimestampOrigin;
}

// The control channel.

uint16_t TnSoftDevice::ReadSpace(uint32_t aAddress, uint8_t *aData, size_t aSize)
{
    TnRegisterMap *lMap = mMap.get();
    return lMap == nullptr ? static_cast<uint16_t>(gev::kGvcpStatusBusy) : lMap->ReadMemory(aAddress, aData, aSize).mStatus;
}

uint16_t TnSoftDevice::WriteSpace(uint32_t aAddress, const uint8_t *aData, size_t aSize)
{
    TnRegisterMap *lMap = mMap.get();
    if (lMap == nullptr)
    {
        return gev::kGvcpStatusBusy;
    }
    const TnAccessStatus lStatus = lMap->WriteMemory(aAddress, aData, aSize);
    if (lStatus.mStatus != gev::kGvcpStatusSuccess)
    {
        const std::string lWhy = tn::ToString(lStatus.mResult.GetDescription());
        LogWarning("WriteMemory", "a controller's write at " + std::to_string(aAddress) + " was refused" +
                                      (lWhy.empty() ? std::string() : ": " + lWhy));
    }
    return lStatus.mStatus;
}

uint16_t TnSoftDevice::GetDiscoveryData(const gev::TnGvcpPeer &, uint8_t *aData, size_t aSize)
{
    TnRegisterMap *lMap = mMap.get();
    if (lMap == nullptr)
    {
        return gev::kGvcpStatusBusy;
    }
    return lMap->ReadMemory(0, aData, std::min<size_t>(aSize, gev::kDiscoveryDataSize)).mStatus;
}

void TnSoftDevice::OnCommand(const gev::TnGvcpPeer &, const gev::TnGvcpCommand &aCommand, bool aRepeated)
{
    if (aRepeated)
    {
        mStatistics.Add(TnSoftDeviceStatistics::Retries);
        // Retries of one command: counted while the same request id repeats.
        if (aCommand.mHeader.mRequestId == mLastRequestId)
        {
            ++mRepeats;
        }
        else
        {
            mLastRequestId = aCommand.mHeader.mRequestId;
            mRepeats = 1;
        }
        mStatistics.Max(TnSoftDeviceStatistics::RetriesMax, mRepeats);
        return;
    }
    switch (aCommand.mHeader.mCommand)
    {
    case gev::kGvcpDiscoveryCmd:
        mStatistics.Add(TnSoftDeviceStatistics::Discoveries);
        break;
    case gev::kGvcpReadRegCmd:
        mStatistics.Add(TnSoftDeviceStatistics::ReadRegs);
        break;
    case gev::kGvcpWriteRegCmd:
        mStatistics.Add(TnSoftDeviceStatistics::WriteRegs);
        break;
    case gev::kGvcpReadMemCmd:
        mStatistics.Add(TnSoftDeviceStatistics::ReadMems);
        break;
    case gev::kGvcpWriteMemCmd:
        mStatistics.Add(TnSoftDeviceStatistics::WriteMems);
        break;
    case gev::kGvcpForceIpCmd:
        mStatistics.Add(TnSoftDeviceStatistics::ForceIps);
        break;
    case gev::kGvcpActionCmd:
        mStatistics.Add(TnSoftDeviceStatistics::ActionCommands);
        break;
    case gev::kGvcpPacketResendCmd:
        mStatistics.Add(TnSoftDeviceStatistics::PacketResends);
        break;
    default:
        break;
    }
}

bool TnSoftDevice::HandleCommand(const gev::TnGvcpPeer &, const gev::TnGvcpCommand &aCommand, uint16_t &aStatus,
                                 uint16_t &aAcknowledge, std::vector<uint8_t> &aPayload)
{
    aPayload.clear();
    switch (aCommand.mHeader.mCommand)
    {
    case gev::kGvcpPacketResendCmd:
    {
        gev::TnGvcpPacketResend lResend;
        if (gev::DecodePacketResendCmd(aCommand, lResend) && lResend.mStreamChannel < mChannels.size())
        {
            mChannels[lResend.mStreamChannel]->GetResendTarget()->QueuePacketResend(
                lResend.mBlockId, lResend.mFirstPacketId, lResend.mLastPacketId);
        }
        aStatus = gev::kGvcpStatusSuccess;
        return false; // never acknowledged
    }
    case gev::kGvcpForceIpCmd:
    {
        gev::TnGvcpForceIp lForce;
        aAcknowledge = gev::kGvcpForceIpAck;
        if (!gev::DecodeForceIpCmd(aCommand, lForce))
        {
            aStatus = gev::kGvcpStatusInvalidParameter;
            return true;
        }
        if (lForce.mMac != mInterface.mMac)
        {
            return false;
        }
        // The address stays the interface's: a software device cannot move
        // its host. The network stack's reset is what it can do.
        ResetNetwork();
        aStatus = gev::kGvcpStatusSuccess;
        return true;
    }
    case gev::kGvcpActionCmd:
    {
        gev::TnGvcpAction lAction;
        TnVirtualDeviceLib::IActionHandler *lHandler;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lHandler = mActionHandler;
        }
        if (!gev::DecodeActionCmd(aCommand, lAction) || lHandler == nullptr)
        {
            return false;
        }
        aAcknowledge = gev::kGvcpActionAck;
        TnActionAckStatusEnum lAnswer = TnActionAckStatusOK;
        Guarded("OnAction", [&] {
            lAnswer = lHandler->OnAction(lAction.mGroupKey, lAction.mGroupMask, lAction.mScheduled ? lAction.mActionTime : 0);
        });
        aStatus = lAnswer == TnActionAckStatusOK ? gev::kGvcpStatusSuccess : gev::kGvcpStatusError;
        return true;
    }
    default:
        return false;
    }
}

void TnSoftDevice::ResetNetwork()
{
    DropControl();
    for (ITnVirtualDeviceGEVEventSink *lSink : Sinks())
    {
        Guarded(mSinks, lSink, "OnDeviceResetNetwork", [&] { lSink->OnDeviceResetNetwork(mOuter); });
    }
}

void TnSoftDevice::OnControlTaken(const gev::TnGvcpPeer &aPeer, uint32_t aPrivilege)
{
    mStatistics.Add(TnSoftDeviceStatistics::SessionsOpened);
    const TnString lAddress(gev::FormatIPv4(aPeer.mAddress).c_str());
    const TnAccessType lAccess = (aPrivilege & gev::kPrivilegeExclusive) != 0 ? TnAccessExclusive : TnAccessControl;
    if (mRegisters.mControlChannelPrivilege != nullptr)
    {
        mRegisters.mControlChannelPrivilege->PokeInt(aPrivilege);
    }
    for (ITnVirtualDeviceGEVEventSink *lSink : Sinks())
    {
        Guarded(mSinks, lSink, "OnApplicationConnect",
                [&] { lSink->OnApplicationConnect(mOuter, lAddress, aPeer.mPort, lAccess); });
    }
}

void TnSoftDevice::OnControlLeft(const gev::TnGvcpPeer &, bool aExpired)
{
    mStatistics.Add(TnSoftDeviceStatistics::SessionsClosed);
    if (aExpired)
    {
        mStatistics.Add(TnSoftDeviceStatistics::HeartbeatFailed);
    }
    if (mRegisters.mControlChannelPrivilege != nullptr)
    {
        mRegisters.mControlChannelPrivilege->PokeInt(0);
        mRegisters.mMessageChannelPort->PokeInt(0);
    }
    // A controller gone: its streams stop, as on a real device (RTP streams
    // are no controller's).
    for (auto &lChannel : mChannels)
    {
        if (!lChannel->IsRtp())
        {
            lChannel->StopAcquisition();
        }
    }
    for (ITnVirtualDeviceGEVEventSink *lSink : Sinks())
    {
        Guarded(mSinks, lSink, "OnApplicationDisconnect", [&] { lSink->OnApplicationDisconnect(mOuter); });
    }
}

// The device's own registers.

int TnSoftDevice::SourceOf(ITnRegister *aRegister) const
{
    for (size_t lIndex = 0; lIndex < mRegisters.mSources.size(); ++lIndex)
    {
        const TnSourceRegisters &lR = mRegisters.mSources[lIndex];
        for (const TnRegister *lRegister :
             {lR.mWidth, lR.mHeight, lR.mOffsetX, lR.mOffsetY, lR.mPixelFormat, lR.mAcquisitionStart,
              lR.mAcquisitionStop, lR.mChunkModeActive, lR.mChunkEnable, lR.mStreamPort, lR.mPacketSize,
              lR.mPacketDelay, lR.mDestination, lR.mGenDCStreamingMode, lR.mStreamProtocol})
        {
            if (lRegister == aRegister)
            {
                return static_cast<int>(lIndex);
            }
        }
    }
    return -1;
}

void TnSoftDevice::UpdatePayloadSize(size_t aIndex)
{
    if (aIndex >= mRegisters.mSources.size() || aIndex >= mConfig.mSources.size())
    {
        return;
    }
    TnSourceRegisters &lR = mRegisters.mSources[aIndex];
    TnSourceDescription lSource = mConfig.mSources[aIndex];
    lSource.mWidth = lR.mWidth->PeekInt();
    lSource.mHeight = lR.mHeight->PeekInt();
    lSource.mOffsetX = lR.mOffsetX->PeekInt();
    lSource.mOffsetY = lR.mOffsetY->PeekInt();
    lSource.mPixelType = static_cast<TnPixelType>(lR.mPixelFormat->PeekInt());
    lSource.mChunkModeActive = lR.mChunkModeActive->PeekInt() != 0;
    ITnSWStreamingChannelSource *lSourceObject = mSources[aIndex];
    lSource.mPayloadSize = AskPayloadSize(aIndex);
    Guarded(mSourceGate, lSourceObject, "GetChunksSize", [&] { lSource.mChunksSize = lSourceObject->GetChunksSize(); });
    lR.mPayloadSize->PokeInt(ComputePayloadSize(lSource));
    if (aIndex < mChannels.size())
    {
        TnChannelGeometry lGeometry;
        lGeometry.mWidth = lSource.mWidth;
        lGeometry.mHeight = lSource.mHeight;
        lGeometry.mOffsetX = lSource.mOffsetX;
        lGeometry.mOffsetY = lSource.mOffsetY;
        lGeometry.mPixelType = lSource.mPixelType;
        mChannels[aIndex]->SetGeometry(lGeometry);
    }
}

TnResult TnSoftDevice::PreRead(ITnRegister *aRegister)
{
    (void)aRegister;
    return TnResult(TN_OK);
}

TnResult TnSoftDevice::PreWrite(ITnRegister *aRegister)
{
    const int lIndex = SourceOf(aRegister);
    if (lIndex < 0 || static_cast<size_t>(lIndex) >= mSources.size())
    {
        return TnResult(TN_OK);
    }
    TnSourceRegisters &lR = mRegisters.mSources[lIndex];
    ITnSWStreamingChannelSource *lSource = mSources[lIndex];
    const SinkRegistry<ITnSWStreamingChannelSource>::CallScope lAsking(mSourceGate, lSource);
    if (!lAsking)
    {
        return Failure(TN_STATE_ERROR, "the source of stream channel " + std::to_string(lIndex) + " was destroyed");
    }
    uint32_t lValue = 0;
    aRegister->ReadInt(lValue);
    // What the source must accept: the geometry and the chunk settings.
    if (aRegister == lR.mWidth)
    {
        return GuardedResult("SetWidth", [&] { return lSource->SetWidth(lValue); });
    }
    if (aRegister == lR.mHeight)
    {
        return GuardedResult("SetHeight", [&] { return lSource->SetHeight(lValue); });
    }
    if (aRegister == lR.mOffsetX)
    {
        return GuardedResult("SetOffsetX", [&] { return lSource->SetOffsetX(lValue); });
    }
    if (aRegister == lR.mOffsetY)
    {
        return GuardedResult("SetOffsetY", [&] { return lSource->SetOffsetY(lValue); });
    }
    if (aRegister == lR.mPixelFormat)
    {
        return GuardedResult("SetPixelType", [&] { return lSource->SetPixelType(static_cast<TnPixelType>(lValue)); });
    }
    if (aRegister == lR.mChunkModeActive)
    {
        return GuardedResult("SetChunkModeActive", [&] { return lSource->SetChunkModeActive(lValue != 0); });
    }
    if (aRegister == lR.mChunkEnable)
    {
        const uint32_t lSelected = lR.mChunkSelector->PeekInt();
        if (lSelected < lR.mChunkIds.size())
        {
            const bool lEnabled = lR.mChunkEnable->PeekInt(4 * lSelected) != 0;
            return GuardedResult("SetChunkEnable",
                                 [&] { return lSource->SetChunkEnable(lR.mChunkIds[lSelected], lEnabled); });
        }
    }
    if (aRegister == lR.mGenDCStreamingMode)
    {
        auto *lGenDC = dynamic_cast<ITnSWStreamingChannelSourceGenDC *>(lSource);
        if (lValue > 1 || lGenDC == nullptr)
        {
            return Failure(TN_INVALID_PARAMETER, "GenDC streaming mode is 0 (Off) or 1 (On)");
        }
        return GuardedResult("SetGenDCStreamingMode", [&] { return lGenDC->SetGenDCStreamingMode(lValue != 0); });
    }
    return TnResult(TN_OK);
}

void TnSoftDevice::ResetFull()
{
    // As a power cycle: control released, streams stopped, the registers at
    // their values of the start (the default user set).
    DropControl();
    for (auto &lChannel : mChannels)
    {
        lChannel->StopAcquisition();
    }
    if (mUserSets)
    {
        mUserSets->Load(0);
    }
    StartRtpChannels();
    for (ITnVirtualDeviceGEVEventSink *lSink : Sinks())
    {
        Guarded(mSinks, lSink, "OnDeviceResetFull", [&] { lSink->OnDeviceResetFull(mOuter); });
    }
}

void TnSoftDevice::StartRtpChannels()
{
    for (size_t lIndex = 0; lIndex < mChannels.size() && lIndex < mRegisters.mSources.size(); ++lIndex)
    {
        const TnRegister *lProtocol = mRegisters.mSources[lIndex].mStreamProtocol;
        if (lProtocol != nullptr && lProtocol->PeekInt() == 1)
        {
            mChannels[lIndex]->SetRtp(true);
            mChannels[lIndex]->StartAcquisition();
        }
    }
}

void TnSoftDevice::PostWrite(ITnRegister *aRegister)
{
    if (aRegister == mRegisters.mDeviceReset)
    {
        ResetFull();
        return;
    }
    if (aRegister == mRegisters.mHeartbeatTimeout)
    {
        SetHeartbeatTimeout(mRegisters.mHeartbeatTimeout->PeekInt());
        return;
    }
    if (aRegister == mRegisters.mTimestampControl)
    {
        const uint32_t lControl = mRegisters.mTimestampControl->PeekInt();
        if ((lControl & 1) != 0)
        {
            mTimestampOrigin = gev::MonotonicNanoseconds();
            for (auto &lChannel : mChannels)
            {
                lChannel->SetTimestampOrigin(mTimestampOrigin);
            }
        }
        if ((lControl & 2) != 0)
        {
            const uint64_t lNow = TimestampNow();
            mRegisters.mTimestampValueHigh->PokeInt(static_cast<uint32_t>(lNow >> 32));
            mRegisters.mTimestampValueLow->PokeInt(static_cast<uint32_t>(lNow));
        }
        mRegisters.mTimestampControl->PokeInt(0);
        return;
    }
    const int lIndex = SourceOf(aRegister);
    if (lIndex < 0 || static_cast<size_t>(lIndex) >= mChannels.size())
    {
        return;
    }
    TnSourceRegisters &lR = mRegisters.mSources[lIndex];
    TnStreamChannel &lChannel = *mChannels[lIndex];
    ITnSWStreamingChannelSource *lSource = mSources[lIndex];
    if (aRegister == lR.mWidth || aRegister == lR.mHeight || aRegister == lR.mOffsetX || aRegister == lR.mOffsetY ||
        aRegister == lR.mPixelFormat || aRegister == lR.mChunkModeActive || aRegister == lR.mChunkEnable)
    {
        UpdatePayloadSize(lIndex);
    }
    else if (aRegister == lR.mGenDCStreamingMode)
    {
        lChannel.SetGenDC(StreamsGenDC(lIndex));
        UpdatePayloadSize(lIndex);
    }
    else if (aRegister == lR.mAcquisitionStart)
    {
        lChannel.StartAcquisition();
    }
    else if (aRegister == lR.mAcquisitionStop)
    {
        lChannel.StopAcquisition();
    }
    else if (aRegister == lR.mPacketSize)
    {
        const uint32_t lValue = lR.mPacketSize->PeekInt();
        lChannel.SetPacketSize(lValue & 0xFFFF);
        if ((lValue & 0x80000000u) != 0)
        {
            lR.mPacketSize->PokeInt(lValue & ~0x80000000u);
            mStatistics.Add(TnSoftDeviceStatistics::TestPackets);
            lChannel.FireTestPacket();
        }
    }
    else if (aRegister == lR.mPacketDelay)
    {
        lChannel.SetPacketDelay(lR.mPacketDelay->PeekInt());
    }
    else if (aRegister == lR.mStreamProtocol)
    {
        // RTP streams from now on; GVSP waits for AcquisitionStart.
        const bool lRtp = lR.mStreamProtocol->PeekInt() == 1;
        lChannel.StopAcquisition();
        lChannel.SetRtp(lRtp);
        if (lRtp)
        {
            lChannel.StartAcquisition();
        }
    }
    else if (aRegister == lR.mDestination || aRegister == lR.mStreamPort)
    {
        const uint32_t lDestination = lR.mDestination->PeekInt();
        const uint16_t lPort = static_cast<uint16_t>(lR.mStreamPort->PeekInt());
        lChannel.SetDestination(lDestination, lPort);
        if (aRegister == lR.mStreamPort)
        {
            if (lPort != 0 && lDestination != 0)
            {
                const TnString lAddress(gev::FormatIPv4(lDestination).c_str());
                Guarded(mSourceGate, lSource, "OnOpen", [&] { lSource->OnOpen(lAddress, lPort); });
            }
            else if (lPort == 0)
            {
                lChannel.StopAcquisition();
                Guarded(mSourceGate, lSource, "OnClose", [&] { lSource->OnClose(); });
            }
        }
    }
}

// Statistics.

void TnSoftDeviceStatistics::Reset()
{
    for (std::atomic<uint64_t> &lCounter : mCounters)
    {
        lCounter.store(0);
    }
}

void TnSoftDeviceStatistics::Max(Counter aCounter, uint64_t aValue)
{
    uint64_t lOld = mCounters[aCounter].load();
    while (aValue > lOld && !mCounters[aCounter].compare_exchange_weak(lOld, aValue))
    {
    }
}
} // namespace softdevice
} // namespace tn
