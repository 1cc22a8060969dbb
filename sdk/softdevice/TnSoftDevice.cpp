// The software device's configuration, the objects it hands out and its
// counters (TnSoftDevice.h). The destruction of what a program hands it
// makes the object leave it.
#include "TnSoftDevice.h"

#include "TnHeldObjects.h"

#include "TnGevAddress.h"
#include "TnSoftDeviceLog.h"
#include "TnThreads.h"

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
constexpr uint32_t kMaxUserSets = 256;

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
    // Never on one of the device's own threads (Destroy): a Start or Stop
    // under way elsewhere (to its last step), or a stop running on a thread
    // of its own, ends first.
    bool lRunning;
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        mSettled.wait(lLock,
                      [this] { return (mState == State::Stopped || mState == State::Running) && mInside == 0; });
        lRunning = mState == State::Running;
        mState = lRunning ? State::Stopping : mState;
    }
    if (lRunning)
    {
        StopNow();
    }
    // A program's thread inside a register access (one that destroyed the
    // device from a sink, or another) leaves it before the registers go.
    mRegisterUse.AwaitIdle();
    // The maps of earlier runs that proxies still hold go with the device.
    EndRetired(this, mMap.get());
}

void TnSoftDevice::Destroy(TnSoftDevice *aDevice)
{
    // A thread that asks from inside the device (a callback) returns into
    // the device's code, which stays until the thread is out of it.
    if (!DeleteWhereItCanWait(aDevice, aDevice->OnOwnThread(), [aDevice] { aDevice->mEnding.store(true); }))
    {
        LogError("~TnSoftDeviceGEV", "no thread could be made to end a device destroyed from its own callback; "
                                     "it is left as it is");
    }
}

bool TnSoftDevice::OnOwnThread() const
{
    return WorkingFor::Now(this) || mServer.IsServingThread();
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
