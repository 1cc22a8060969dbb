#include "TnGvspSender.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "TnWait.h"

namespace tn
{
namespace gev
{
namespace
{
uint64_t NowNs()
{
    return MonotonicNanoseconds();
}

void SleepUntilNs(uint64_t aDeadline)
{
    timespec lWhen = {static_cast<time_t>(aDeadline / 1000000000u), static_cast<long>(aDeadline % 1000000000u)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &lWhen, nullptr) == EINTR)
    {
    }
}

// Resend ranges longer than this are cut: no block is that long in practice,
// and a bogus request must not keep the sender busy.
constexpr uint32_t kMaxResendRange = 1u << 20;
constexpr size_t kMaxPendingResends = 4096;
// The last part of a pacing pause is slept to the microsecond.
constexpr uint64_t kPreciseSleepNs = 1000000;
} // namespace

ITnGvspResendTarget::~ITnGvspResendTarget() = default;
ITnPacketTap::~ITnPacketTap() = default;
TnGvspSenderListener::~TnGvspSenderListener() = default;

bool RoutePacketResend(const uint8_t *aData, size_t aSize, ITnGvspResendTarget *const *aTargets, size_t aCount)
{
    TnGvcpCommand lCommand;
    TnGvcpPacketResend lResend;
    if (!DecodeCommand(aData, aSize, lCommand) || lCommand.mHeader.mCommand != kGvcpPacketResendCmd ||
        !DecodePacketResendCmd(lCommand, lResend) || lResend.mStreamChannel >= aCount ||
        aTargets[lResend.mStreamChannel] == nullptr)
    {
        return false;
    }
    aTargets[lResend.mStreamChannel]->QueuePacketResend(lResend.mBlockId, lResend.mFirstPacketId,
                                                        lResend.mLastPacketId);
    return true;
}

TnGvspSender::TnGvspSender()
    : mResendPending(false), mReleaseWanted(false), mStop(true), mBusy(false), mRunning(false), mForgetAsked(0),
      mForgetServed(0), mNextBlockId(1), mRate(0), mRetainTimeoutMs(0),
      mListener(nullptr), mDestinationAddress(0), mDestinationPort(0), mTap(nullptr), mFill(0), mNextSendNs(0),
      mRandom(1), mHeld(-1)
{
}

TnGvspSender::~TnGvspSender()
{
    Close();
}

TnResult TnGvspSender::Open(uint32_t aDestinationAddress, uint16_t aDestinationPort,
                            const TnGvspSenderConfig &aConfig, TnGvspSenderListener *aListener,
                            uint32_t aSourceAddress, uint16_t aSourcePort)
{
    std::lock_guard<std::mutex> lLife(mLifeMutex);
    CloseSender();
    if (aDestinationAddress == 0 || aDestinationPort == 0 ||
        !mPacketiser.Configure(aConfig.mPacketSize, aConfig.mExtendedIds) ||
        !mRtpPacketiser.Configure(aConfig.mPacketSize, aConfig.mRtpPayloadType, aConfig.mRtpSsrc,
                                  aConfig.mRtpFirstSequence))
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    TnResult lResult = mSocket.Open(aSourceAddress, aSourcePort);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    const int lHandle = mSocket.GetHandle();
    if ((aDestinationAddress >> 28) == 0xE && aSourceAddress != 0)
    {
        // A multicast group: leave through the interface of the source address.
        in_addr lInterface;
        lInterface.s_addr = htonl(aSourceAddress);
        setsockopt(lHandle, IPPROTO_IP, IP_MULTICAST_IF, &lInterface, sizeof(lInterface));
    }
    sockaddr_in lTarget;
    memset(&lTarget, 0, sizeof(lTarget));
    lTarget.sin_family = AF_INET;
    lTarget.sin_addr.s_addr = htonl(aDestinationAddress);
    lTarget.sin_port = htons(aDestinationPort);
    if (connect(lHandle, reinterpret_cast<const sockaddr *>(&lTarget), sizeof(lTarget)) != 0)
    {
        const int lError = errno;
        mSocket.Close();
        return TnResult(TN_NETWORK_ERROR, static_cast<uint32_t>(lError),
                        TnString((std::string("connect: ") + strerror(lError)).c_str()));
    }
    const int lDiscover = aConfig.mDoNotFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    setsockopt(lHandle, IPPROTO_IP, IP_MTU_DISCOVER, &lDiscover, sizeof(lDiscover));
    if (aConfig.mSendBufferSize > 0)
    {
        mSocket.SetSendBufferSize(aConfig.mSendBufferSize);
    }
    mConfig = aConfig;
    mConfig.mBatchSize = std::max<uint32_t>(1, std::min<uint32_t>(mConfig.mBatchSize, 1024));
    mConfig.mQueueCapacity = std::max<uint32_t>(1, mConfig.mQueueCapacity);
    mRate = std::max(0.0, aConfig.mMaxBytesPerSecond);
    mRetainTimeoutMs = aConfig.mRetainTimeoutMs;
    mListener = aListener;
    mDestinationAddress = aDestinationAddress;
    mDestinationPort = aDestinationPort;
    mNextBlockId = 1;
    mSlots.assign(mConfig.mBatchSize, Slot());
    mMessages.assign(mConfig.mBatchSize, mmsghdr());
    mFill = 0;
    mHeld = -1;
    mNextSendNs = 0;
    mRandom = aConfig.mSeed != 0 ? aConfig.mSeed : 1;
    mResendPacketiser.Configure(mConfig.mPacketSize, mConfig.mExtendedIds);
    ResetStatistics();
    mStop = false;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mRunning = true;
    }
    try
    {
        mThread = std::thread(&TnGvspSender::Run, this);
    }
    catch (...)
    {
        mStop = true;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mRunning = false;
        }
        mSocket.Close();
        return TnResult(TN_THREAD_ERROR);
    }
    return TnResult(TN_OK);
}

void TnGvspSender::Close()
{
    std::lock_guard<std::mutex> lLife(mLifeMutex);
    CloseSender();
}

void TnGvspSender::CloseSender()
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (!mThread.joinable())
        {
            return;
        }
        mStop = true;
    }
    mWake.notify_all();
    mThread.join();
    std::deque<Entry> lQueued;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lQueued.swap(mQueue);
        mResends.clear();
    }
    for (const Entry &lEntry : lQueued)
    {
        ++mCounters.mBlocksAborted;
        Release(lEntry, false);
    }
    mIdle.notify_all();
    mSocket.Close();
}

bool TnGvspSender::IsOpen() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return !mStop && mThread.joinable();
}

bool TnGvspSender::IsTransmitting() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mBusy || !mQueue.empty();
}

TnResult TnGvspSender::Queue(const TnGvspBlock &aBlock, void *aContext, uint64_t aBlockId)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mStop)
    {
        return TnResult(TN_NOT_CONNECTED);
    }
    if (mQueue.size() >= mConfig.mQueueCapacity)
    {
        return TnResult(TN_BUSY);
    }
    uint64_t lId = aBlockId != 0 ? aBlockId : mNextBlockId;
    if (!mConfig.mExtendedIds)
    {
        lId &= 0xFFFFu;
    }
    bool lFits;
    if (mConfig.mRtp)
    {
        TnRtpPacketiser lCheck;
        lFits = lCheck.Configure(mConfig.mPacketSize, mConfig.mRtpPayloadType, 0, 0) && lCheck.Begin(aBlock, lId);
    }
    else
    {
        TnGvspPacketiser lCheck;
        lFits = lCheck.Configure(mConfig.mPacketSize, mConfig.mExtendedIds) && lCheck.Begin(aBlock, lId);
    }
    if (lId == 0 || !lFits)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    Entry lEntry;
    lEntry.mBlock = aBlock;
    lEntry.mBlockId = lId;
    lEntry.mContext = aContext;
    mQueue.push_back(lEntry);
    mNextBlockId = NextGvspBlockId(lId, mConfig.mExtendedIds);
    mWake.notify_one();
    return TnResult(TN_PENDING);
}

uint64_t TnGvspSender::PeekNextBlockId() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mNextBlockId;
}

void TnGvspSender::AbortQueued()
{
    std::deque<Entry> lQueued;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lQueued.swap(mQueue);
    }
    for (const Entry &lEntry : lQueued)
    {
        ++mCounters.mBlocksAborted;
        Release(lEntry, false);
    }
    mIdle.notify_all();
}

void TnGvspSender::Forget(const void *aContext)
{
    std::unique_lock<std::mutex> lLock(mMutex);
    mQueue.erase(std::remove_if(mQueue.begin(), mQueue.end(),
                                [aContext](const Entry &aEntry) { return aEntry.mContext == aContext; }),
                 mQueue.end());
    if (!mRunning)
    {
        return;
    }
    if (mThread.get_id() == std::this_thread::get_id())
    {
        // The listener's call: nothing is being sent, and the kept blocks
        // are this thread's own.
        mRetained.erase(std::remove_if(mRetained.begin(), mRetained.end(),
                                       [aContext](const Entry &aEntry) { return aEntry.mContext == aContext; }),
                        mRetained.end());
        return;
    }
    mForget.push_back(aContext);
    const uint64_t lTicket = ++mForgetAsked;
    mWake.notify_all();
    mForgotten.wait(lLock, [&] { return mForgetServed >= lTicket || !mRunning; });
}

// Called by the thread with mMutex held, between blocks and resends.
void TnGvspSender::DropForgotten()
{
    if (mForget.empty())
    {
        return;
    }
    mRetained.erase(std::remove_if(mRetained.begin(), mRetained.end(),
                                   [this](const Entry &aEntry) {
                                       return std::find(mForget.begin(), mForget.end(), aEntry.mContext) !=
                                              mForget.end();
                                   }),
                    mRetained.end());
    mForget.clear();
    mForgetServed = mForgetAsked;
    mForgotten.notify_all();
}

TnResult TnGvspSender::WaitIdle(uint32_t aTimeoutMs)
{
    std::unique_lock<std::mutex> lLock(mMutex);
    const bool lIdle = WaitFor(mIdle, lLock, aTimeoutMs, [this] { return mStop || (!mBusy && mQueue.empty()); });
    return TnResult(lIdle ? TN_OK : Interrupted() ? TN_ABORTED : TN_TIMEOUT);
}

uint32_t TnGvspSender::GetQueuedCount() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return static_cast<uint32_t>(mQueue.size());
}

void TnGvspSender::SetMaxBytesPerSecond(double aBytesPerSecond)
{
    mRate = aBytesPerSecond > 0 ? aBytesPerSecond : 0;
}

double TnGvspSender::GetMaxBytesPerSecond() const
{
    return mRate.load();
}

TnResult TnGvspSender::SetPacketSize(uint32_t aPacketSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aPacketSize < kGvspMinPacketSize || aPacketSize > kGvspMaxPacketSize)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    if (mBusy || !mQueue.empty())
    {
        return TnResult(TN_BUSY);
    }
    mConfig.mPacketSize = aPacketSize;
    return TnResult(TN_OK);
}

uint32_t TnGvspSender::GetPacketSize() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mConfig.mPacketSize;
}

TnResult TnGvspSender::SetExtendedIds(bool aExtendedIds)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mBusy || !mQueue.empty())
    {
        return TnResult(TN_BUSY);
    }
    if (aExtendedIds != mConfig.mExtendedIds)
    {
        mConfig.mExtendedIds = aExtendedIds;
        mNextBlockId = 1;
    }
    return TnResult(TN_OK);
}

bool TnGvspSender::GetExtendedIds() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mConfig.mExtendedIds;
}

void TnGvspSender::SetRetainTimeoutMs(uint32_t aMilliseconds)
{
    mRetainTimeoutMs = aMilliseconds;
    mWake.notify_one();
}

uint32_t TnGvspSender::GetRetainTimeoutMs() const
{
    return mRetainTimeoutMs.load();
}

void TnGvspSender::ReleaseRetained()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mReleaseWanted = true;
    mWake.notify_all();
}

void TnGvspSender::QueuePacketResend(uint64_t aBlockId, uint32_t aFirstPacketId, uint32_t aLastPacketId)
{
    ++mCounters.mResendRequests;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (mStop || aFirstPacketId > aLastPacketId || mResends.size() >= kMaxPendingResends)
        {
            ++mCounters.mResendRequestsRefused;
            return;
        }
        mResends.push_back(Resend{aBlockId, aFirstPacketId, aLastPacketId});
        mResendPending = true;
    }
    mWake.notify_one();
}

TnResult TnGvspSender::FireTestPacket()
{
    uint32_t lPacketSize;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (mStop)
        {
            return TnResult(TN_NOT_CONNECTED);
        }
        if (mConfig.mRtp)
        {
            return TnResult(TN_NOT_SUPPORTED);
        }
        lPacketSize = mConfig.mPacketSize;
    }
    std::vector<uint8_t> lPacket(lPacketSize);
    const size_t lSize = BuildGvspTestPacket(lPacket.data(), lPacketSize);
    if (send(mSocket.GetHandle(), lPacket.data(), lSize, MSG_NOSIGNAL) != static_cast<ssize_t>(lSize))
    {
        ++mCounters.mSendErrors;
        return TnResult(TN_NETWORK_ERROR, static_cast<uint32_t>(errno));
    }
    ++mCounters.mTestPackets;
    return TnResult(TN_OK);
}

TnGvspSenderStatistics TnGvspSender::GetStatistics() const
{
    TnGvspSenderStatistics lStatistics;
    lStatistics.mBlocksSent = mCounters.mBlocksSent;
    lStatistics.mBlocksAborted = mCounters.mBlocksAborted;
    lStatistics.mPacketsSent = mCounters.mPacketsSent;
    lStatistics.mBytesSent = mCounters.mBytesSent;
    lStatistics.mPayloadBytesSent = mCounters.mPayloadBytesSent;
    lStatistics.mResendRequests = mCounters.mResendRequests;
    lStatistics.mResendRequestsRefused = mCounters.mResendRequestsRefused;
    lStatistics.mPacketsResent = mCounters.mPacketsResent;
    lStatistics.mTestPackets = mCounters.mTestPackets;
    lStatistics.mPacketsDropped = mCounters.mPacketsDropped;
    lStatistics.mSendErrors = mCounters.mSendErrors;
    lStatistics.mPacketsLost = mCounters.mPacketsLost;
    lStatistics.mElapsedNs = NowNs() - mCounters.mResetNs;
    return lStatistics;
}

void TnGvspSender::ResetStatistics()
{
    for (std::atomic<uint64_t> *lCounter :
         {&mCounters.mBlocksSent, &mCounters.mBlocksAborted, &mCounters.mPacketsSent, &mCounters.mBytesSent,
          &mCounters.mPayloadBytesSent, &mCounters.mResendRequests, &mCounters.mResendRequestsRefused,
          &mCounters.mPacketsResent, &mCounters.mTestPackets, &mCounters.mPacketsDropped, &mCounters.mSendErrors,
          &mCounters.mPacketsLost})
    {
        lCounter->store(0);
    }
    mCounters.mResetNs = NowNs();
}

void TnGvspSender::Release(const Entry &aEntry, bool aSent)
{
    if (mListener != nullptr)
    {
        mListener->OnBlockReleased(aEntry.mContext, aEntry.mBlockId, aSent);
    }
}

void TnGvspSender::ReleaseExpired(uint64_t aNowNs, bool aAll, bool aIdle)
{
    const uint64_t lTimeout = static_cast<uint64_t>(mRetainTimeoutMs.load()) * 1000000u;
    while (!mRetained.empty())
    {
        const Entry &lOldest = mRetained.front();
        const bool lExpired = lTimeout != 0 && aNowNs - lOldest.mSentNs >= lTimeout;
        // An owner short of buffers gets one block back, once nothing is
        // left to send (until then the next block sent pushes one out).
        const bool lAsked = aIdle && mReleaseWanted.exchange(false);
        if (!aAll && !lExpired && !lAsked && mRetained.size() <= mConfig.mRetainedBlocks)
        {
            break;
        }
        const Entry lEntry = lOldest;
        mRetained.pop_front();
        Release(lEntry, true);
    }
}

void TnGvspSender::Run()
{
    prctl(PR_SET_TIMERSLACK, 1000UL); // pacing sleeps to the microsecond
    std::unique_lock<std::mutex> lLock(mMutex);
    while (!mStop)
    {
        DropForgotten();
        if (mResendPending.load())
        {
            lLock.unlock();
            ServeResends();
            Flush();
            lLock.lock();
            continue;
        }
        if (!mQueue.empty())
        {
            Entry lEntry = mQueue.front();
            mQueue.pop_front();
            mBusy = true;
            lLock.unlock();
            if (SendBlock(lEntry))
            {
                lEntry.mSentNs = NowNs();
                mRetained.push_back(lEntry);
            }
            else
            {
                ++mCounters.mBlocksAborted;
                Release(lEntry, false);
            }
            bool lIdle;
            {
                std::lock_guard<std::mutex> lQueueLock(mMutex);
                lIdle = mQueue.empty();
            }
            ReleaseExpired(NowNs(), false, lIdle);
            lLock.lock();
            mBusy = false;
            if (mQueue.empty())
            {
                mIdle.notify_all();
            }
            continue;
        }
        uint64_t lWaitNs = 100000000u;
        const uint64_t lTimeout = static_cast<uint64_t>(mRetainTimeoutMs.load()) * 1000000u;
        if (lTimeout != 0 && !mRetained.empty())
        {
            const uint64_t lAge = NowNs() - mRetained.front().mSentNs;
            lWaitNs = std::min(lWaitNs, lAge >= lTimeout ? 0 : lTimeout - lAge);
        }
        if (lWaitNs > 0 && !mReleaseWanted.load())
        {
            mWake.wait_for(lLock, std::chrono::nanoseconds(lWaitNs));
        }
        const bool lIdle = mQueue.empty();
        lLock.unlock();
        ReleaseExpired(NowNs(), false, lIdle);
        lLock.lock();
    }
    DropForgotten();
    lLock.unlock();
    ReleaseExpired(0, true, true);
    lLock.lock();
    mForget.clear();
    mRunning = false;
    mForgotten.notify_all();
}

uint64_t TnGvspSender::Random()
{
    mRandom ^= mRandom << 13;
    mRandom ^= mRandom >> 7;
    mRandom ^= mRandom << 17;
    return mRandom;
}

ITnPacketLayout &TnGvspSender::Layout()
{
    if (!mConfig.mRtp)
    {
        mPacketiser.Configure(mConfig.mPacketSize, mConfig.mExtendedIds);
        mResendPacketiser.Configure(mConfig.mPacketSize, mConfig.mExtendedIds);
        return mPacketiser;
    }
    // The sequence runs on from block to block.
    mRtpPacketiser.Configure(mConfig.mPacketSize, mConfig.mRtpPayloadType, mConfig.mRtpSsrc,
                             mRtpPacketiser.GetNextSequence());
    return mRtpPacketiser;
}

bool TnGvspSender::SendBlock(Entry &aEntry)
{
    ITnPacketLayout *lLayout;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lLayout = &Layout();
    }
    if (!lLayout->Begin(aEntry.mBlock, aEntry.mBlockId))
    {
        return false;
    }
    const bool lFaults = mConfig.mDropPerMille != 0 || mConfig.mDuplicatePerMille != 0 || mConfig.mReorderPerMille != 0;
    const uint32_t lCount = lLayout->GetPacketCount();
    for (uint32_t lId = 0; lId < lCount; ++lId)
    {
        if ((lId & 63) == 0)
        {
            if (mStop)
            {
                mFill = 0; // closing: the block is abandoned
                mHeld = -1;
                return false;
            }
            if (mResendPending.load(std::memory_order_relaxed))
            {
                Flush();
                ServeResends();
            }
        }
        int lCopies = 1;
        bool lSwap = false;
        if (lFaults)
        {
            if (Random() % 1000 < mConfig.mDropPerMille)
            {
                ++mCounters.mPacketsDropped;
                continue;
            }
            lCopies += Random() % 1000 < mConfig.mDuplicatePerMille;
            lSwap = Random() % 1000 < mConfig.mReorderPerMille;
        }
        for (int lCopy = 0; lCopy < lCopies; ++lCopy)
        {
            Slot &lSlot = NextSlot();
            size_t lSize = 0;
            const size_t lVectors = lLayout->Build(lId, kGvcpStatusSuccess, lSlot.mHeader, lSlot.mVectors, lSize);
            AddToBatch(lSlot, lVectors, lSize);
        }
        if (lSwap && mHeld < 0)
        {
            mHeld = static_cast<int>(mFill) - 1;
        }
    }
    Flush();
    ++mCounters.mBlocksSent;
    mCounters.mPayloadBytesSent += aEntry.mBlock.GetPayloadSize();
    return true;
}

void TnGvspSender::ServeResends()
{
    mResendWork.clear();
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mResendWork.swap(mResends);
        mResendPending = false;
    }
    for (const Resend &lResend : mResendWork)
    {
        if (mConfig.mRtp)
        {
            ++mCounters.mResendRequestsRefused;
            continue;
        }
        TnGvspPacketiser *lSource = nullptr;
        const uint64_t lMask = mPacketiser.GetExtendedIds() ? ~uint64_t(0) : 0xFFFFu;
        if (mBusy && (mPacketiser.GetBlockId() & lMask) == (lResend.mBlockId & lMask))
        {
            lSource = &mPacketiser;
        }
        else
        {
            for (auto lEntry = mRetained.rbegin(); lEntry != mRetained.rend(); ++lEntry)
            {
                if ((lEntry->mBlockId & lMask) == (lResend.mBlockId & lMask))
                {
                    if (mResendPacketiser.Begin(lEntry->mBlock, lEntry->mBlockId))
                    {
                        lSource = &mResendPacketiser;
                    }
                    break;
                }
            }
        }
        if (lSource == nullptr || lResend.mFirst > lSource->GetLastPacketId())
        {
            ++mCounters.mResendRequestsRefused;
            continue;
        }
        const uint32_t lLast = std::min({lResend.mLast, lSource->GetLastPacketId(), lResend.mFirst + kMaxResendRange});
        for (uint32_t lId = lResend.mFirst; lId <= lLast; ++lId)
        {
            Slot &lSlot = NextSlot();
            size_t lSize = 0;
            const size_t lVectors = lSource->Build(lId, kGvcpStatusPacketResend, lSlot.mHeader, lSlot.mVectors, lSize);
            AddToBatch(lSlot, lVectors, lSize);
            ++mCounters.mPacketsResent;
            if (lId == UINT32_MAX)
            {
                break;
            }
        }
    }
    Flush();
}

TnGvspSender::Slot &TnGvspSender::NextSlot()
{
    if (mFill == mSlots.size())
    {
        Flush();
    }
    return mSlots[mFill];
}

void TnGvspSender::AddToBatch(Slot &aSlot, size_t aVectors, size_t aSize)
{
    (void)aSize;
    msghdr &lHeader = mMessages[mFill].msg_hdr;
    memset(&lHeader, 0, sizeof(lHeader));
    lHeader.msg_iov = aSlot.mVectors;
    lHeader.msg_iovlen = aVectors;
    mMessages[mFill].msg_len = 0;
    ++mFill;
    if (mHeld >= 0 && static_cast<size_t>(mHeld) + 2 == mFill)
    {
        std::swap(mMessages[mFill - 2], mMessages[mFill - 1]);
        mHeld = -1;
    }
}

void TnGvspSender::Pace(uint64_t aBytes, uint32_t aPackets)
{
    const double lRate = mRate.load(std::memory_order_relaxed);
    const uint32_t lDelay = mConfig.mInterPacketDelayNs;
    if (lRate <= 0 && lDelay == 0)
    {
        return;
    }
    uint64_t lNow = NowNs();
    if (mNextSendNs > lNow)
    {
        if (mNextSendNs - lNow > 2 * kPreciseSleepNs)
        {
            // A long pause (a slow rate): a stop does not wait it out.
            std::unique_lock<std::mutex> lLock(mMutex);
            mWake.wait_for(lLock, std::chrono::nanoseconds(mNextSendNs - lNow - kPreciseSleepNs),
                           [this] { return mStop.load(); });
        }
        if (!mStop.load())
        {
            SleepUntilNs(mNextSendNs);
        }
        lNow = mNextSendNs;
    }
    else if (lNow - mNextSendNs > 1000000u)
    {
        mNextSendNs = lNow; // behind by more than a millisecond: no burst to catch up
    }
    uint64_t lSpan = static_cast<uint64_t>(aPackets) * lDelay;
    if (lRate > 0)
    {
        lSpan += static_cast<uint64_t>(static_cast<double>(aBytes) * 1e9 / lRate);
    }
    mNextSendNs = std::max(mNextSendNs, lNow - std::min<uint64_t>(lNow, 1000000u)) + lSpan;
}

void TnGvspSender::Flush()
{
    if (mFill == 0)
    {
        return;
    }
    mHeld = -1;
    uint64_t lWireBytes = 0;
    for (size_t lIndex = 0; lIndex < mFill; ++lIndex)
    {
        const msghdr &lHeader = mMessages[lIndex].msg_hdr;
        for (size_t lVector = 0; lVector < lHeader.msg_iovlen; ++lVector)
        {
            lWireBytes += lHeader.msg_iov[lVector].iov_len;
        }
        lWireBytes += kGvspIpUdpOverhead;
    }
    Pace(lWireBytes, static_cast<uint32_t>(mFill));
    const int lHandle = mSocket.GetHandle();
    size_t lDone = 0;
    int lTries = 0;
    while (lDone < mFill && lTries < 200 && !mStop)
    {
        const int lSent = sendmmsg(lHandle, mMessages.data() + lDone, static_cast<unsigned>(mFill - lDone), MSG_NOSIGNAL);
        if (lSent > 0)
        {
            uint64_t lBytes = 0;
            for (int lIndex = 0; lIndex < lSent; ++lIndex)
            {
                lBytes += mMessages[lDone + lIndex].msg_len;
            }
            mCounters.mBytesSent += lBytes;
            mCounters.mPacketsSent += static_cast<uint64_t>(lSent);
            lDone += static_cast<size_t>(lSent);
            continue;
        }
        ++lTries;
        if (errno == EINTR)
        {
            continue;
        }
        if (errno == ECONNREFUSED)
        {
            // An earlier datagram met a closed port; the error is cleared now.
            ++mCounters.mSendErrors;
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)
        {
            pollfd lPoll = {lHandle, POLLOUT, 0};
            poll(&lPoll, 1, 10);
            continue;
        }
        ++mCounters.mSendErrors;
        break;
    }
    mCounters.mPacketsLost += mFill - lDone;
    ITnPacketTap *lTap = mTap.load();
    if (lTap != nullptr && lDone > 0)
    {
        lTap->OnPackets(mMessages.data(), lDone);
    }
    mFill = 0;
}

// ---------------------------------------------------------------- resend server

TnGvspResendServer::TnGvspResendServer() : mStop(true), mRequests(0) {}

TnGvspResendServer::~TnGvspResendServer()
{
    Stop();
}

TnResult TnGvspResendServer::Start(const std::vector<ITnGvspResendTarget *> &aTargets, uint32_t aLocalAddress,
                                   uint16_t aPort)
{
    Stop();
    TnResult lResult = mSocket.Open(aLocalAddress, aPort);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    mTargets = aTargets;
    mStop = false;
    try
    {
        mThread = std::thread(&TnGvspResendServer::Run, this);
    }
    catch (...)
    {
        mStop = true;
        mSocket.Close();
        return TnResult(TN_THREAD_ERROR);
    }
    return TnResult(TN_OK);
}

void TnGvspResendServer::Stop()
{
    mStop = true;
    if (mThread.joinable())
    {
        mThread.join();
    }
    mSocket.Close();
}

void TnGvspResendServer::Run()
{
    std::vector<uint8_t> lBuffer(1500);
    while (!mStop)
    {
        size_t lSize = 0;
        uint32_t lAddress = 0;
        uint16_t lPort = 0;
        if (mSocket.ReceiveFrom(lBuffer.data(), lBuffer.size(), lSize, lAddress, lPort, 50).IsOK() &&
            RoutePacketResend(lBuffer.data(), lSize, mTargets.data(), mTargets.size()))
        {
            ++mRequests;
        }
    }
}
} // namespace gev
} // namespace tn
