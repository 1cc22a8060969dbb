#include "TnStreamChannel.h"

#include <string.h>
#include <time.h>

#include <algorithm>
#include <chrono>

#include "TnBuffer.h"
#include "TnGevAddress.h"
#include "TnGvspBufferBlock.h"
#include "TnImage.h"
#include "TnRtp.h"
#include "TnSoftDeviceLog.h"
#include "TnStreamingChannelSourceDefault.h"
#include "TnThreads.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace softdevice
{
namespace
{
// How long the channel waits in one step, and for a source to give back what
// it holds when streaming stops.
constexpr auto kStep = std::chrono::milliseconds(10);
constexpr uint64_t kDrainMs = 2000;
} // namespace

struct TnStreamChannel::Shared final : public gev::TnGvspSenderListener
{
    size_t mIndex = 0;
    const void *mOwner = nullptr; // the device
    ITnSWStreamingChannelSource *mSource = nullptr;
    bool mDefaultSource = false;
    uint32_t mLocalAddress = 0;
    std::vector<TnBuffer *> mBuffers;

    mutable std::mutex mMutex;
    std::condition_variable mWake;
    bool mAcquire = false;     // requested by AcquisitionStart / Stop
    bool mQuit = false;
    bool mEnded = false;       // the thread has left its loop
    // Set when a stop gave up waiting for the thread (the source may be gone
    // by the time its stuck call returns) or the source was destroyed: the
    // thread calls it no more.
    std::atomic<bool> mAbandoned{false};
    std::condition_variable mEndedSignal;
    bool mRunning = false; // Run started the thread
    std::thread::id mThread;
    std::deque<TnBuffer *> mFree;   // buffers neither with the source nor with the sender
    std::set<TnBuffer *> mQueued;   // buffers with the source
    // Buffers with the sender, queued or kept for resends: a run stopped and
    // started again gets them back only when the sender lets them go.
    std::set<TnBuffer *> mSending;
    uint32_t mDestination = 0;
    uint16_t mPort = 0;
    uint32_t mPacketSize = 1500;
    uint32_t mPacketDelay = 0;
    bool mTimestamping = true;
    bool mGenDC = false;
    uint64_t mTimestampOrigin = 0;
    TnChannelGeometry mGeometry;
    TnChannelCounters mCounters;

    // The thread's own: a RetrieveBuffer of this run threw. What that call
    // had taken from the source's queue never comes back, so a stop waits
    // for nothing such a source cannot give.
    bool mSourceLost = false;

    gev::TnGvspSender mSender;  // opened on demand, by the thread or FireTestPacket
    std::mutex mSenderMutex;    // opening and closing the sender
    std::atomic<bool> mStreaming{false};

    /// The source was destroyed: the thread calls it no more and, unless
    /// this is that thread, has ended when this returns, its sender closed
    /// and the source's buffers let go of.
    void SourceGone()
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        mAbandoned.store(true);
        mQuit = true;
        mAcquire = false;
        mWake.notify_all();
        if (mRunning && std::this_thread::get_id() != mThread &&
            !mEndedSignal.wait_for(lLock, std::chrono::milliseconds(2 * kDrainMs), [&] { return mEnded; }))
        {
            LogError("StreamChannel", "stream channel " + std::to_string(mIndex) + " did not end with its source");
        }
    }

    // RTP, once enabled: where it goes, whether it is selected, and what the
    // announcement says (the thread's own).
    bool mRtpEnabled = false;
    bool mRtp = false;
    uint32_t mRtpGroup = 0;
    uint16_t mRtpPort = 0;
    uint32_t mRtpSsrc = 0;
    uint32_t mTcpAddress = 0;
    std::string mSessionName;
    gev::TnSapAnnouncer *mAnnouncer = nullptr;
    gev::TnRtpTcpServer mTcpServer;
    gev::TnRtpSessionDescription mAnnounced;

    /// Announces what the block just sent is, when it differs from the last.
    void Announce(const gev::TnGvspBlock &aBlock)
    {
        gev::TnRtpSessionDescription lDescription;
        lDescription.mH264 = gev::BasePayloadType(aBlock.mLeader.mPayloadType) == gev::kGvspPayloadH264;
        if (!lDescription.mH264)
        {
            gev::RawSamplingOf(aBlock.mLeader.mPixelFormat, lDescription.mSampling);
            lDescription.mWidth = aBlock.mLeader.mSizeX;
            lDescription.mHeight = aBlock.mLeader.mSizeY;
        }
        if (mAnnouncer == nullptr ||
            (mAnnounced.mPort != 0 && mAnnounced.mH264 == lDescription.mH264 &&
             mAnnounced.mSampling.mSampling == lDescription.mSampling.mSampling &&
             mAnnounced.mWidth == lDescription.mWidth && mAnnounced.mHeight == lDescription.mHeight))
        {
            return;
        }
        lDescription.mName = mSessionName;
        lDescription.mSessionId = mRtpSsrc;
        lDescription.mVersion = mAnnounced.mVersion + 1;
        lDescription.mOrigin = mLocalAddress;
        lDescription.mGroup = mRtpGroup;
        lDescription.mPort = mRtpPort;
        lDescription.mTcpAddress = mTcpServer.GetPort() != 0 ? mTcpAddress : 0;
        mAnnounced = lDescription;
        mAnnouncer->Set(static_cast<uint32_t>(mIndex), gev::BuildSdp(lDescription));
    }

    /// The RTP stream ends: its announcement is withdrawn.
    void Withdraw()
    {
        if (mAnnouncer != nullptr && mAnnounced.mPort != 0)
        {
            mAnnouncer->Remove(static_cast<uint32_t>(mIndex));
        }
        mAnnounced.mPort = 0;
    }

    void OnBlockReleased(void *aContext, uint64_t, bool) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        TnBuffer *lBuffer = static_cast<TnBuffer *>(aContext);
        mSending.erase(lBuffer);
        mFree.push_back(lBuffer);
        mWake.notify_all();
    }

    /// Opens the sender towards the current destination, or reopens it when
    /// the destination or the packet size changed. False without one.
    bool PrepareSender()
    {
        uint32_t lDestination;
        uint16_t lPort;
        uint32_t lPacketSize;
        uint32_t lDelay;
        bool lRtp;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lRtp = mRtp;
            lDestination = lRtp ? mRtpGroup : mDestination;
            lPort = lRtp ? mRtpPort : mPort;
            lPacketSize = std::max<uint32_t>(gev::kGvspMinPacketSize, mPacketSize);
            lDelay = mPacketDelay;
        }
        if (lDestination == 0 || lPort == 0)
        {
            return false;
        }
        std::lock_guard<std::mutex> lLock(mSenderMutex);
        if (mSender.IsOpen() && mSender.GetDestinationAddress() == lDestination &&
            mSender.GetDestinationPort() == lPort && mSender.GetPacketSize() == lPacketSize &&
            mSender.IsRtp() == lRtp)
        {
            return true;
        }
        mSender.Close();
        gev::TnGvspSenderConfig lConfig;
        lConfig.mPacketSize = lPacketSize;
        lConfig.mRetainedBlocks = 8;
        lConfig.mRetainTimeoutMs = 1000;
        lConfig.mQueueCapacity = 64;
        lConfig.mSendBufferSize = 4 * 1024 * 1024;
        // The packet delay register counts timestamp ticks (nanoseconds).
        lConfig.mInterPacketDelayNs = lDelay;
        lConfig.mRtp = lRtp;
        lConfig.mRtpSsrc = mRtpSsrc;
        lConfig.mRtpFirstSequence = mRtpSsrc * 2654435761u; // any start, as RTP wants
        const TnResult lResult = mSender.Open(lDestination, lPort, lConfig, this, mLocalAddress, 0);
        mSender.SetPacketTap(lRtp && mTcpServer.GetPort() != 0 ? &mTcpServer : nullptr);
        if (!lResult.IsOK())
        {
            LogError("StreamChannel", "stream channel " + std::to_string(mIndex) + " cannot send to " +
                                          gev::FormatIPv4(lDestination) + ":" + std::to_string(lPort));
            return false;
        }
        return true;
    }

    bool Acquiring()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mAcquire && !mQuit;
    }

    void CountFailure()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        ++mCounters.mSourceFailures;
    }

    /// Hands a retrieved buffer to the sender; false when it could not go.
    bool Send(TnBuffer *aBuffer)
    {
        TnChannelGeometry lGeometry;
        bool lStamp;
        bool lGenDC;
        uint64_t lOrigin;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lGeometry = mGeometry;
            lStamp = mTimestamping;
            lGenDC = mGenDC;
            lOrigin = mTimestampOrigin;
        }
        if (lStamp)
        {
            aBuffer->SetTimestamp(gev::MonotonicNanoseconds() - lOrigin);
        }
        gev::TnGvspBlock lBlock;
        if (!gev::BlockFromBuffer(*aBuffer, lGeometry, lBlock, lGenDC))
        {
            CountFailure();
            LogWarning("StreamChannel", "a retrieved buffer holds no data; it is not sent");
            return false;
        }
        if (!PrepareSender())
        {
            return false;
        }
        // A block id the source gave the buffer is kept; else the next.
        uint64_t lId = aBuffer->GetBlockID();
        if (lId == 0)
        {
            lId = mSender.PeekNextBlockId();
            aBuffer->SetBlockID(lId);
        }
        {
            // Before it is queued: the sender may release it at once.
            std::lock_guard<std::mutex> lLock(mMutex);
            mSending.insert(aBuffer);
        }
        for (int lTry = 0; lTry < 500; ++lTry)
        {
            const TnResult lResult = mSender.Queue(lBlock, aBuffer, lId);
            if (lResult.GetCode() == TN_PENDING || lResult.IsOK())
            {
                if (mSender.IsRtp())
                {
                    Announce(lBlock);
                }
                std::lock_guard<std::mutex> lLock(mMutex);
                ++mCounters.mBlocks;
                return true;
            }
            if (lResult.GetCode() != TN_BUSY || !Acquiring())
            {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::lock_guard<std::mutex> lLock(mMutex);
        mSending.erase(aBuffer);
        return false;
    }

    /// The SDK's default source streams its own geometry: a buffer of it
    /// whose image no longer has the current one (a controller changed
    /// Width, Height or PixelFormat) gets it before it is queued again.
    void Reshape(TnBuffer &aBuffer)
    {
        if (!mDefaultSource)
        {
            return;
        }
        TnChannelGeometry lGeometry;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lGeometry = mGeometry;
        }
        TnImage *lImage = aBuffer.GetImage();
        if (lImage == nullptr || lGeometry.mWidth == 0 || lGeometry.mHeight == 0 ||
            (lImage->GetWidth() == lGeometry.mWidth && lImage->GetHeight() == lGeometry.mHeight &&
             lImage->GetPixelType() == lGeometry.mPixelType))
        {
            return;
        }
        if (!lImage->Alloc(lGeometry.mWidth, lGeometry.mHeight, lGeometry.mPixelType, 0, 0,
                           lImage->GetMaximumChunkLength())
                 .IsOK())
        {
            LogWarning("StreamChannel", "a buffer could not take the new image geometry");
        }
    }

    /// Checks what a source gave back: one of the channel's buffers that the
    /// source holds. Anything else is nonsense and is dropped.
    bool TakeBack(TnBuffer *aBuffer)
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        const auto lFound = mQueued.find(aBuffer);
        if (lFound == mQueued.end())
        {
            ++mCounters.mSourceFailures;
            return false;
        }
        mQueued.erase(lFound);
        return true;
    }

    void Release(TnBuffer *aBuffer)
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mFree.push_back(aBuffer);
    }

    /// One RetrieveBuffer call; the buffer it gave back (checked), or null.
    TnBuffer *Retrieve(TnResult &aResult)
    {
        TnBuffer *lBuffer = nullptr;
        bool lCalled = false;
        bool lReturned = false;
        aResult = GuardedResult(mGate, mSource, "RetrieveBuffer", [&] {
            lCalled = true;
            const TnResult lResult = mSource->RetrieveBuffer(&lBuffer);
            lReturned = true;
            return lResult;
        });
        if (lCalled && !lReturned)
        {
            mSourceLost = true;
            lBuffer = nullptr;
        }
        if (lBuffer != nullptr && !TakeBack(lBuffer))
        {
            LogWarning("RetrieveBuffer", "the source gave back a buffer it did not hold; it is ignored");
            lBuffer = nullptr;
        }
        return lBuffer;
    }

    void Stream()
    {
        uint32_t lUse = static_cast<uint32_t>(mBuffers.size());
        uint32_t lAsked = 0;
        const TnResult lCount = GuardedResult(mGate, mSource, "GetTxNumBuffersToUse",
                                              [&] { return mSource->GetTxNumBuffersToUse(lAsked); });
        if (lCount.IsOK() && lAsked >= std::min<uint32_t>(4, lUse) && lAsked <= lUse && lAsked != 0)
        {
            lUse = lAsked;
        }
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mFree.clear();
            for (uint32_t lIndex = 0; lIndex < lUse; ++lIndex)
            {
                if (mSending.count(mBuffers[lIndex]) == 0)
                {
                    mFree.push_back(mBuffers[lIndex]);
                }
            }
            mQueued.clear();
        }
        mSourceLost = false;
        mStreaming.store(true);
        Guarded(mGate, mSource, "OnStreamingStart", [&] { mSource->OnStreamingStart(); });
        PrepareSender();
        while (Acquiring())
        {
            // Keep the source supplied with empty buffers.
            TnBuffer *lEmpty = nullptr;
            {
                std::lock_guard<std::mutex> lLock(mMutex);
                if (!mFree.empty())
                {
                    lEmpty = mFree.front();
                    mFree.pop_front();
                }
            }
            if (lEmpty != nullptr)
            {
                bool lGo = false;
                const TnResult lPre = GuardedResult(mGate, mSource, "PreQueueBufferProc", [&] {
                    lGo = mSource->PreQueueBufferProc();
                    return TnResult(TN_OK);
                });
                if (!lPre.IsOK())
                {
                    CountFailure();
                }
                TnResult lQueued(TN_GENERIC_ERROR);
                if (lGo)
                {
                    {
                        std::lock_guard<std::mutex> lLock(mMutex);
                        mQueued.insert(lEmpty);
                    }
                    lEmpty->SetBlockID(0);
                    Reshape(*lEmpty);
                    lQueued =
                        GuardedResult(mGate, mSource, "QueueBuffer", [&] { return mSource->QueueBuffer(lEmpty); });
                    if (!lQueued.IsOK())
                    {
                        std::lock_guard<std::mutex> lLock(mMutex);
                        mQueued.erase(lEmpty);
                    }
                }
                if (lQueued.IsOK())
                {
                    std::lock_guard<std::mutex> lLock(mMutex);
                    if (!mFree.empty())
                    {
                        continue; // every free buffer goes to the source first
                    }
                }
                else
                {
                    // Skipped (a triggered source waits for its trigger) or
                    // refused: what the source holds is sent meanwhile.
                    Release(lEmpty);
                    std::unique_lock<std::mutex> lLock(mMutex);
                    if (mQueued.empty())
                    {
                        mWake.wait_for(lLock, std::chrono::milliseconds(1));
                        continue;
                    }
                }
            }
            size_t lHeld;
            {
                std::lock_guard<std::mutex> lLock(mMutex);
                lHeld = mQueued.size();
            }
            if (lHeld == 0)
            {
                // Everything is on its way out or kept for resends: once
                // nothing is left to send, the resend ring gives one back.
                mSender.ReleaseRetained();
                std::unique_lock<std::mutex> lLock(mMutex);
                mWake.wait_for(lLock, kStep, [&] { return !mFree.empty() || !mAcquire || mQuit; });
                continue;
            }
            TnResult lResult;
            TnBuffer *lFilled = Retrieve(lResult);
            if (mAbandoned.load())
            {
                break;
            }
            if (lFilled == nullptr)
            {
                continue; // no image yet (the source waits in short steps)
            }
            Guarded(mGate, mSource, "PostRetrieveBufferProc", [&] { mSource->PostRetrieveBufferProc(); });
            if (!lResult.IsOK() || !Send(lFilled))
            {
                Release(lFilled);
            }
        }
        if (mAbandoned.load())
        {
            mStreaming.store(false);
            return;
        }
        // Stop: the source gives back what it holds, until it has nothing
        // left to give. One that lost buffers (a RetrieveBuffer threw) has
        // nothing left once it answers without one; the next run hands every
        // buffer out afresh.
        Guarded(mGate, mSource, "AbortQueuedBuffers", [&] { mSource->AbortQueuedBuffers(); });
        const uint64_t lDeadline = gev::MonotonicMilliseconds() + kDrainMs;
        while (gev::MonotonicMilliseconds() < lDeadline && !mAbandoned.load())
        {
            {
                std::lock_guard<std::mutex> lLock(mMutex);
                if (mQueued.empty())
                {
                    break;
                }
            }
            TnResult lResult;
            TnBuffer *lBack = Retrieve(lResult);
            if (lBack != nullptr)
            {
                Release(lBack);
            }
            else if (mSourceLost)
            {
                break;
            }
            else if (!lResult.IsOK() && lResult.GetCode() != TN_TIMEOUT)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        mSender.AbortQueued();
        mSender.WaitIdle(1000);
        Withdraw();
        if (!mAbandoned.load())
        {
            Guarded(mGate, mSource, "OnStreamingStop", [&] { mSource->OnStreamingStop(); });
        }
        mStreaming.store(false);
    }

    // Every call of the source is made through the gate, which the source
    // leaves as it is destroyed (SourceGone then ends the thread). Declared
    // last, so that it outlives nothing SourceGone uses.
    SinkRegistry<ITnSWStreamingChannelSource> mGate{TrackSinks(),
                                                    [this](ITnSWStreamingChannelSource *) { SourceGone(); }};
};

TnStreamChannel::TnStreamChannel(size_t aIndex, ITnSWStreamingChannelSource *aSource, uint32_t aLocalAddress,
                                 const void *aOwner)
    : mShared(std::make_shared<Shared>())
{
    mShared->mIndex = aIndex;
    mShared->mOwner = aOwner;
    mShared->mSource = aSource;
    mShared->mGate.Add(aSource);
    mShared->mDefaultSource = dynamic_cast<TnStreamingChannelSourceDefault *>(aSource) != nullptr;
    mShared->mLocalAddress = aLocalAddress;
}

TnStreamChannel::~TnStreamChannel()
{
    Shutdown(5000);
}

void TnStreamChannel::SetBuffers(const std::vector<TnBuffer *> &aBuffers)
{
    mBuffers = aBuffers;
    mShared->mBuffers = aBuffers;
}

void TnStreamChannel::SetDestination(uint32_t aAddress, uint16_t aPort)
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mDestination = aAddress;
    mShared->mPort = aPort;
}

void TnStreamChannel::SetPacketSize(uint32_t aPacketSize)
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mPacketSize = aPacketSize;
}

void TnStreamChannel::SetPacketDelay(uint32_t aTicks)
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mPacketDelay = aTicks;
}

void TnStreamChannel::SetTimestamping(bool aEnabled)
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mTimestamping = aEnabled;
}

void TnStreamChannel::SetGenDC(bool aEnabled)
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mGenDC = aEnabled;
}

void TnStreamChannel::SetGeometry(const TnChannelGeometry &aGeometry)
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mGeometry = aGeometry;
}

void TnStreamChannel::SetTimestampOrigin(uint64_t aOriginNs)
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mTimestampOrigin = aOriginNs;
}

void TnStreamChannel::Loop(std::shared_ptr<Shared> aShared)
{
    Shared &lShared = *aShared;
    const WorkingFor lOwn(lShared.mOwner, WorkingFor::OwnThread);
    {
        std::lock_guard<std::mutex> lLock(lShared.mMutex);
        lShared.mThread = std::this_thread::get_id();
    }
    for (;;)
    {
        {
            std::unique_lock<std::mutex> lLock(lShared.mMutex);
            lShared.mWake.wait(lLock, [&] { return lShared.mAcquire || lShared.mQuit; });
            if (lShared.mQuit)
            {
                break;
            }
        }
        lShared.Stream();
    }
    {
        std::lock_guard<std::mutex> lLock(lShared.mSenderMutex);
        lShared.mSender.Close();
    }
    lShared.mTcpServer.Stop();
    std::lock_guard<std::mutex> lLock(lShared.mMutex);
    lShared.mEnded = true;
    lShared.mEndedSignal.notify_all();
}

void TnStreamChannel::Run()
{
    {
        std::lock_guard<std::mutex> lLock(mShared->mMutex);
        mShared->mRunning = true;
    }
    std::thread(Loop, mShared).detach();
}

void TnStreamChannel::StartAcquisition()
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mAcquire = true;
    mShared->mWake.notify_all();
}

void TnStreamChannel::StopAcquisition()
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mAcquire = false;
    mShared->mWake.notify_all();
}

bool TnStreamChannel::Shutdown(uint32_t aTimeoutMs)
{
    std::unique_lock<std::mutex> lLock(mShared->mMutex);
    if (mShared->mAbandoned.load())
    {
        return mShared->mEnded; // given up on before: no second wait
    }
    mShared->mQuit = true;
    mShared->mAcquire = false;
    mShared->mWake.notify_all();
    if (mShared->mRunning && !mShared->mEnded && std::this_thread::get_id() == mShared->mThread)
    {
        return false; // waiting would never end
    }
    const bool lEnded = mShared->mEndedSignal.wait_for(lLock, std::chrono::milliseconds(aTimeoutMs),
                                                        [&] { return mShared->mEnded; });
    if (!lEnded && !mShared->mAbandoned.exchange(true))
    {
        LogError("Stop", "stream channel " + std::to_string(mShared->mIndex) +
                             ": the source does not return from its streaming operations; the channel is left behind");
    }
    return lEnded;
}

void TnStreamChannel::EnableRtp(uint32_t aGroup, uint16_t aPort, uint32_t aTcpAddress,
                                gev::TnSapAnnouncer *aAnnouncer, const std::string &aName)
{
    Shared &lShared = *mShared;
    lShared.mRtpEnabled = true;
    lShared.mRtpGroup = aGroup;
    lShared.mRtpPort = aPort;
    lShared.mTcpAddress = aTcpAddress;
    lShared.mAnnouncer = aAnnouncer;
    lShared.mSessionName = aName;
    // The synchronisation source: any number, different per channel and run.
    lShared.mRtpSsrc = static_cast<uint32_t>(gev::MonotonicNanoseconds() * 2654435761u) ^
                       static_cast<uint32_t>(lShared.mIndex << 24) ^ aGroup;
    if (aTcpAddress != 0 && !lShared.mTcpServer.Start(aTcpAddress, aPort).IsOK())
    {
        LogWarning("StreamChannel", "stream channel " + std::to_string(lShared.mIndex) +
                                        " cannot serve its RTP stream over TCP on port " + std::to_string(aPort));
    }
}

void TnStreamChannel::SetRtp(bool aRtp)
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    mShared->mRtp = aRtp && mShared->mRtpEnabled;
}

bool TnStreamChannel::IsRtp() const
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    return mShared->mRtp;
}

void TnStreamChannel::FireTestPacket()
{
    {
        std::lock_guard<std::mutex> lLock(mShared->mMutex);
        ++mShared->mCounters.mTestPackets;
    }
    // At the packet size set last; while streaming the open sender has it.
    if (mShared->mStreaming.load() || mShared->PrepareSender())
    {
        mShared->mSender.FireTestPacket();
    }
}

bool TnStreamChannel::IsStreaming() const
{
    return mShared->mStreaming.load();
}

gev::ITnGvspResendTarget *TnStreamChannel::GetResendTarget()
{
    return &mShared->mSender;
}

uint16_t TnStreamChannel::GetSourcePort() const
{
    return mShared->mSender.GetSourcePort();
}

TnChannelCounters TnStreamChannel::GetCounters() const
{
    std::lock_guard<std::mutex> lLock(mShared->mMutex);
    return mShared->mCounters;
}
} // namespace softdevice
} // namespace tn
