#include "TnGvspReceiver.h"

#include <errno.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "TnGevBytes.h"
#include "TnThreads.h"

namespace tn
{
namespace gev
{
namespace
{
constexpr uint64_t kPublishIntervalUs = 1000;
constexpr uint64_t kIdleWaitUs = 100000;
constexpr uint64_t kMinWaitUs = 20;
// Full batches in a row after which the timers are judged although the
// socket has not run dry (a steady flood).
constexpr uint32_t kFloodBatches = 256;
// Ring blocks in a row after which the timers are judged and the socket
// looked at although the ring has not run dry.
constexpr uint32_t kFloodRingBlocks = 16;

// A ring block is handed over when full, or about this long after it
// started filling (the kernel's timer: a tick or two). Below the rate that
// fills a block in that time (1 Gb/s here) the ring holds its number of
// blocks times the timeout, whatever its size: many small blocks (each
// still takes the largest datagram) hold a quarter of a second at any rate
// that does not fill the ring sooner.
constexpr size_t kRingBlockSize = 128u << 10;
constexpr uint32_t kRingBlockTimeoutMs = 1;
// Longer than any packet stays in the kernel's block before it is handed
// over: after a flush, packets older than the flush are dropped this long.
constexpr uint64_t kFlushWindowUs = 100000;
// IPv4 header bytes before a UDP datagram.
constexpr uint32_t kIpHeaderBytes = 20;
// The largest payload per packet for which an automatic receiver takes the
// ring: below it the ring's savings per packet (no system call, no socket
// queue) outweigh its second copy (into the ring, then into the block);
// jumbo packets come cheaper through the socket, which the kernel copies
// once, straight into the block.
constexpr uint32_t kRingLargestPayload = 4096;

// How long the kernel may hold a packet in the ring block it fills before
// it hands the block over: its timer retires a block one or two ticks after
// the block opened (a tick is the coarse clocks' resolution), and a little
// more for the timer to run.
uint64_t RingHoldMicroseconds()
{
    timespec lTick = {0, 10000000};
    clock_getres(CLOCK_MONOTONIC_COARSE, &lTick);
    const uint64_t lTickUs = std::max<uint64_t>(static_cast<uint64_t>(lTick.tv_sec) * 1000000u +
                                                    static_cast<uint64_t>(lTick.tv_nsec) / 1000u,
                                                kRingBlockTimeoutMs * 1000u);
    return 2 * lTickUs + 1000;
}

uint64_t RealtimeNanoseconds()
{
    timespec lNow;
    clock_gettime(CLOCK_REALTIME, &lNow);
    return static_cast<uint64_t>(lNow.tv_sec) * 1000000000u + static_cast<uint64_t>(lNow.tv_nsec);
}
} // namespace

// ---------------------------------------------------------------- scatter batch

void TnGvspScatterBatch::Configure(size_t aSlots, size_t aDatagramCapacity)
{
    mSlots = std::max<size_t>(1, aSlots);
    mCapacity = std::max<size_t>(aDatagramCapacity, kGvspExtendedHeaderSize + kGvspImageLeaderSize);
    mMessages.assign(mSlots, mmsghdr());
    mVectors.assign(mSlots * 3, iovec());
    mScratch.assign(mSlots * mCapacity, 0);
    mPredictions.assign(mSlots, TnGvspPrediction());
    mKinds.assign(mSlots, kScratch);
    mHeaderSize = 0;
}

size_t TnGvspScatterBatch::Prepare(TnGvspAssembler &aAssembler)
{
    size_t lPredicted = aAssembler.Predict(mPredictions.data(), mSlots);
    mHeaderSize = aAssembler.GetHeaderSize();
    for (size_t lSlot = 0; lSlot < mSlots; ++lSlot)
    {
        uint8_t *lScratch = mScratch.data() + lSlot * mCapacity;
        iovec *lVectors = mVectors.data() + lSlot * 3;
        msghdr &lHeader = mMessages[lSlot].msg_hdr;
        lHeader.msg_name = nullptr;
        lHeader.msg_namelen = 0;
        lHeader.msg_control = nullptr;
        lHeader.msg_controllen = 0;
        lHeader.msg_flags = 0;
        lHeader.msg_iov = lVectors;
        mMessages[lSlot].msg_len = 0;
        if (lSlot >= lPredicted)
        {
            mPredictions[lSlot] = TnGvspPrediction();
        }
        const TnGvspPrediction &lPrediction = mPredictions[lSlot];
        if (lPrediction.mData == nullptr || mHeaderSize + lPrediction.mSize > mCapacity)
        {
            lVectors[0].iov_base = lScratch;
            lVectors[0].iov_len = mCapacity;
            lHeader.msg_iovlen = 1;
            continue;
        }
        // Header slot, the payload's place, then scratch for what is longer:
        // laid out so that the scratch part continues where the payload's
        // copy would end.
        lVectors[0].iov_base = lScratch;
        lVectors[0].iov_len = mHeaderSize;
        lVectors[1].iov_base = lPrediction.mData;
        lVectors[1].iov_len = lPrediction.mSize;
        lVectors[2].iov_base = lScratch + mHeaderSize + lPrediction.mSize;
        lVectors[2].iov_len = mCapacity - mHeaderSize - lPrediction.mSize;
        lHeader.msg_iovlen = 3;
    }
    return mSlots;
}

void TnGvspScatterBatch::Complete(TnGvspAssembler &aAssembler, size_t aReceived, uint64_t aNowUs)
{
    aReceived = std::min(aReceived, mSlots);
    // First every datagram that missed its prediction is made whole in its
    // scratch, before any copy into a block can overwrite the place it was
    // partly received into.
    for (size_t lSlot = 0; lSlot < aReceived; ++lSlot)
    {
        const size_t lLength = mMessages[lSlot].msg_len;
        const TnGvspPrediction &lPrediction = mPredictions[lSlot];
        uint8_t *lScratch = mScratch.data() + lSlot * mCapacity;
        mKinds[lSlot] = kScratch;
        if ((mMessages[lSlot].msg_hdr.msg_flags & MSG_TRUNC) != 0)
        {
            continue;
        }
        if (mMessages[lSlot].msg_hdr.msg_iovlen == 1 || lLength <= mHeaderSize)
        {
            continue;
        }
        const size_t lPayload = lLength - mHeaderSize;
        if (aAssembler.Matches(lPrediction, lScratch, mHeaderSize, lPayload))
        {
            mKinds[lSlot] = kInPlace;
            continue;
        }
        memcpy(lScratch + mHeaderSize, lPrediction.mData, std::min<size_t>(lPayload, lPrediction.mSize));
    }
    size_t lInPlaceEnd = 0; // past the last datagram in place
    for (size_t lSlot = 0; lSlot < aReceived; ++lSlot)
    {
        lInPlaceEnd = mKinds[lSlot] == kInPlace ? lSlot + 1 : lInPlaceEnd;
    }
    for (size_t lSlot = 0; lSlot < aReceived; ++lSlot)
    {
        if ((mMessages[lSlot].msg_hdr.msg_flags & MSG_TRUNC) != 0)
        {
            ++mTruncated;
            continue;
        }
        const size_t lLength = mMessages[lSlot].msg_len;
        uint8_t *lScratch = mScratch.data() + lSlot * mCapacity;
        if (lSlot + 1 < lInPlaceEnd && lLength > mHeaderSize &&
            lLength - mHeaderSize != aAssembler.GetPayloadPerPacket() &&
            aAssembler.ChangesPacketSize(lScratch, mHeaderSize, lLength - mHeaderSize))
        {
            // The packets changed size: the payloads received in place after
            // this one lie at the former size's offsets, where placing this
            // one and the others may write; they are saved first.
            for (size_t lLater = lSlot + 1; lLater < lInPlaceEnd; ++lLater)
            {
                if (mKinds[lLater] == kInPlace)
                {
                    uint8_t *lLaterScratch = mScratch.data() + lLater * mCapacity;
                    memcpy(lLaterScratch + mHeaderSize, mPredictions[lLater].mData,
                           mMessages[lLater].msg_len - mHeaderSize);
                    mKinds[lLater] = kScratch;
                }
            }
            lInPlaceEnd = 0;
        }
        if (mKinds[lSlot] == kInPlace)
        {
            aAssembler.OnPredicted(mPredictions[lSlot], lScratch, mHeaderSize, lLength - mHeaderSize, aNowUs);
        }
        else
        {
            aAssembler.OnDatagram(lScratch, lLength, aNowUs);
        }
    }
}

// ---------------------------------------------------------------- receiver

TnGvspReceiver::TnGvspReceiver()
    : mProvider(nullptr), mResetRequested(false), mRequireLeader(false), mCoalesceUs(0), mRingActive(false),
      mSocketPriority(0), mAppliedPriority(0), mRequests(0),
      mRingHoldUs(0), mFlushBeforeNs(0), mFlushUntilUs(0), mRingTruncated(0), mRingMalformed(0), mRingShed(0),
      mRingSkipToLeader(false), mRingBlocksRead(0), mRingPacketsPerBlock(0), mRingSkipped(0), mRingDropped(false), mShedKnown(false),
      mShedBlock(0), mShedVerdict(false), mDropsSeen(0),
      mRequestId(0), mLastPublishUs(0)
{
}

TnGvspReceiver::~TnGvspReceiver()
{
    Close();
}

TnResult TnGvspReceiver::Open(const TnGvspReceiverConfig &aConfig, TnGvspBlockProvider *aProvider)
{
    Close();
    if (aProvider == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    mConfig = aConfig;
    mConfig.mPacketBufferSize = std::max<uint32_t>(576, std::min<uint32_t>(mConfig.mPacketBufferSize, 65535));
    mConfig.mBatchSize = std::max<uint32_t>(1, std::min<uint32_t>(mConfig.mBatchSize, 1024));
    const bool lMulticast = mConfig.mMulticastAddress != 0;
    TnResult lResult = lMulticast ? mSocket.OpenShared(0, mConfig.mLocalPort)
                                  : mSocket.Open(mConfig.mLocalAddress, mConfig.mLocalPort);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    const int lHandle = mSocket.GetHandle();
    if (lMulticast)
    {
        lResult = JoinMulticastGroup(lHandle, mConfig.mMulticastAddress, mConfig.mMulticastInterface);
        if (!lResult.IsOK())
        {
            mSocket.Close();
            return lResult;
        }
    }
    if (mConfig.mSocketBufferSize > 0)
    {
        SetLargeReceiveBuffer(lHandle, mConfig.mSocketBufferSize);
    }
    mRingActive = false;
    if (mConfig.mKind != TnGvspReceiverKind::kSocket)
    {
        lResult = OpenRing();
        if (!lResult.IsOK() && mConfig.mKind == TnGvspReceiverKind::kPacketRing)
        {
            mSocket.Close();
            return lResult;
        }
    }
    lResult = mResendSocket.Open();
    if (!lResult.IsOK())
    {
        mRing.Close();
        mSocket.Close();
        return lResult;
    }
    lResult = mThread.Open();
    if (!lResult.IsOK())
    {
        Close();
        return lResult;
    }
    mProvider = aProvider;
    mRequireLeader = mConfig.mAssembler.mRequireLeader;
    mCoalesceUs = mConfig.mCoalesceUs;
    mRequests = 0;
    mAssembler.Configure(mConfig.mAssembler);
    mAssembler.SetProvider(aProvider);
    mAssembler.SetResendRequester(this);
    mBatch.Configure(mConfig.mBatchSize, mConfig.mPacketBufferSize);
    mDropsSeen = 0; // a new socket has dropped nothing
    mFlushBeforeNs = mFlushUntilUs = 0;
    mRingTruncated = mRingMalformed = mRingShed = mRingSkipped = 0;
    mRingSkipToLeader = false;
    mRingBlocksRead = 0;
    mRingPacketsPerBlock = 0;
    mRingDropped = false;
    mLocal = TnGvspReceiverStatistics();
    mPublished = TnGvspReceiverStatistics();
    return TnResult(TN_OK);
}

TnResult TnGvspReceiver::OpenRing()
{
    // The ring listens on the interface of the address the data comes to:
    // the one bound, the one the group was joined on, or the one the route
    // to the device (or group) leaves from.
    const bool lMulticast = mConfig.mMulticastAddress != 0;
    uint32_t lLocal = lMulticast ? mConfig.mMulticastInterface : mConfig.mLocalAddress;
    if (lLocal == 0)
    {
        const uint32_t lPeer = mConfig.mDeviceAddress != 0 ? mConfig.mDeviceAddress : mConfig.mMulticastAddress;
        lLocal = lPeer != 0 ? LocalAddressFor(lPeer) : 0;
    }
    TnPacketRingConfig lConfig;
    std::string lName;
    uint32_t lMtu = 0;
    if (!FindInterface(lLocal, lConfig.mInterfaceIndex, lName, lMtu) || lMtu <= kIpHeaderBytes)
    {
        return TnResult(TN_NOT_FOUND, TnString("packet ring: no local interface for the stream's address"));
    }
    lConfig.mFilter.mAddress = mConfig.mMulticastAddress;
    lConfig.mFilter.mPort = mSocket.GetLocalPort();
    lConfig.mFilter.mLargestDatagram = std::min<uint32_t>(lMtu - kIpHeaderBytes, 65535);
    lConfig.mBlockSize = kRingBlockSize;
    lConfig.mSize = std::max<size_t>(kRingBlockSize, mConfig.mRingSize / kRingBlockSize * kRingBlockSize);
    lConfig.mBlockTimeoutMs = kRingBlockTimeoutMs;
    TnResult lResult = mRing.Open(lConfig);
    if (lResult.IsOK())
    {
        lResult = AttachFilter(mSocket.GetHandle(), SocketFilterProgram(lConfig.mInterfaceIndex,
                                                                        lConfig.mFilter.mLargestDatagram));
    }
    if (!lResult.IsOK())
    {
        mRing.Close();
        return lResult;
    }
    // Datagrams the socket took before its filter came are read from it as
    // usual; one the ring took too counts as redundant.
    mRingHoldUs = RingHoldMicroseconds();
    ResetGate();
    mRingActive = true;
    return TnResult(TN_OK);
}

TnResult TnGvspReceiver::Start()
{
    if (!mSocket.IsOpen())
    {
        return TnResult(TN_NOT_CONNECTED);
    }
    {
        std::lock_guard<std::mutex> lLock(mPriorityMutex);
        mAppliedPriority = 0; // a new thread's
    }
    return mThread.Start([this] { Run(); });
}

bool TnGvspReceiver::SetSocketPriority(uint32_t aPriority)
{
    std::lock_guard<std::mutex> lLock(mPriorityMutex);
    if (mThread.IsRunning() && !mRingActive.load())
    {
        if (!tn::SetThreadPriority(mThread.GetNativeHandle(), aPriority))
        {
            return false;
        }
        mAppliedPriority = aPriority;
    }
    mSocketPriority = aPriority;
    return true;
}

uint32_t TnGvspReceiver::GetSocketPriority() const
{
    std::lock_guard<std::mutex> lLock(mPriorityMutex);
    return mSocketPriority;
}

void TnGvspReceiver::ApplySourcePriority(bool aRing)
{
    // The source's flag changes before the thread turns to it, so that a
    // setter either sees the new source or is followed by this.
    std::lock_guard<std::mutex> lLock(mPriorityMutex);
    const uint32_t lWanted = aRing ? 0 : mSocketPriority;
    if (lWanted != mAppliedPriority && tn::SetThreadPriority(pthread_self(), lWanted))
    {
        mAppliedPriority = lWanted;
    }
}

void TnGvspReceiver::Stop()
{
    mThread.Stop();
    mAssembler.FinishAll(TN_ABORTED, MonotonicMicroseconds());
    Publish(MonotonicMicroseconds(), true);
}

void TnGvspReceiver::Close()
{
    Stop();
    mRingActive = false;
    mRing.Close();
    mSocket.Close();
    mResendSocket.Close();
    mThread.Close();
}

TnResult TnGvspReceiver::GetSocketBufferSize(uint32_t &aBytes) const
{
    aBytes = 0;
    if (!mSocket.IsOpen())
    {
        return TnResult(TN_NOT_CONNECTED);
    }
    int lSize = 0;
    socklen_t lLength = sizeof(lSize);
    if (getsockopt(mSocket.GetHandle(), SOL_SOCKET, SO_RCVBUF, &lSize, &lLength) != 0)
    {
        return SocketFailure("SO_RCVBUF", errno);
    }
    aBytes = static_cast<uint32_t>(lSize);
    return TnResult(TN_OK);
}

TnResult TnGvspReceiver::Flush()
{
    return RunAbort(true);
}

TnResult TnGvspReceiver::AbortBlocks()
{
    return RunAbort(false);
}

TnResult TnGvspReceiver::RunAbort(bool aDrain)
{
    if (!mSocket.IsOpen())
    {
        return TnResult(TN_NOT_CONNECTED);
    }
    // The thread serves every request before its next receive; a thread that
    // ends meanwhile (Stop) finishes the blocks itself.
    if (!mThread.Request([&] { mRequests.fetch_or(kRequestAbort | (aDrain ? kRequestDrain : 0u)); }))
    {
        if (aDrain)
        {
            Drain();
        }
        mAssembler.FinishAll(TN_ABORTED, MonotonicMicroseconds());
    }
    return TnResult(TN_OK);
}

void TnGvspReceiver::SetPolicy(const TnGvspAssemblerConfig &aConfig)
{
    std::lock_guard<std::mutex> lLock(mThread.GetRequestMutex());
    mPolicy = aConfig;
    mRequireLeader = aConfig.mRequireLeader;
    if (!mThread.IsRunning())
    {
        mAssembler.SetPolicy(aConfig);
        return;
    }
    mRequests.fetch_or(kRequestPolicy);
    mThread.Wake();
}

void TnGvspReceiver::ServeRequests()
{
    uint32_t lRequests;
    uint64_t lTaken;
    {
        // Taken with the lock that requests are made under: one made after
        // this waits for the next serve.
        std::lock_guard<std::mutex> lLock(mThread.GetRequestMutex());
        lRequests = mRequests.exchange(0);
        lTaken = mThread.TakeRequests();
    }
    if ((lRequests & kRequestPolicy) != 0)
    {
        std::lock_guard<std::mutex> lLock(mThread.GetRequestMutex());
        mAssembler.SetPolicy(mPolicy);
    }
    if ((lRequests & kRequestAbort) != 0)
    {
        if ((lRequests & kRequestDrain) != 0)
        {
            Drain();
        }
        mAssembler.FinishAll(TN_ABORTED, MonotonicMicroseconds());
        mThread.Served(lTaken);
    }
    if (mResetRequested.load(std::memory_order_relaxed))
    {
        mResetRequested = false;
        ResetCounters();
    }
}

void TnGvspReceiver::TakeRequests()
{
    if (mRequests.load(std::memory_order_relaxed) != 0 || mResetRequested.load(std::memory_order_relaxed))
    {
        ServeRequests();
    }
    if (mRequireLeader.load(std::memory_order_relaxed) != mAssembler.GetConfig().mRequireLeader)
    {
        mAssembler.SetRequireLeader(mRequireLeader.load());
    }
}

timespec TnGvspReceiver::IdleWait(uint64_t aNowUs, uint64_t aWaitUs)
{
    // The statistics are published first, so that they are current while
    // the stream is idle.
    Publish(aNowUs, true);
    const uint64_t lWait = std::max(kMinWaitUs, std::min(aWaitUs, kIdleWaitUs));
    return timespec{static_cast<time_t>(lWait / 1000000u), static_cast<long>((lWait % 1000000u) * 1000u)};
}

void TnGvspReceiver::Drain()
{
    uint8_t lSink[64];
    while (recv(mSocket.GetHandle(), lSink, sizeof(lSink), MSG_DONTWAIT | MSG_TRUNC) >= 0)
    {
    }
    if (mRing.IsOpen())
    {
        size_t lSize;
        while (mRing.Next(lSize) != nullptr)
        {
            mRing.Release();
        }
        // The block the kernel fills now is handed over later: what it took
        // before this moment goes too.
        mFlushBeforeNs = RealtimeNanoseconds();
        mFlushUntilUs = MonotonicMicroseconds() + kFlushWindowUs;
        OpenGate();
    }
}

void TnGvspReceiver::SetRequireLeader(bool aRequireLeader)
{
    mRequireLeader = aRequireLeader;
    if (!mThread.IsRunning())
    {
        mAssembler.SetRequireLeader(aRequireLeader);
    }
}

TnGvspReceiverStatistics TnGvspReceiver::GetStatistics() const
{
    std::lock_guard<std::mutex> lLock(mPublishMutex);
    return mPublished;
}

void TnGvspReceiver::ResetStatistics()
{
    if (mThread.IsRunning())
    {
        mResetRequested = true;
    }
    else
    {
        ResetCounters();
    }
    std::lock_guard<std::mutex> lLock(mPublishMutex);
    mPublished = TnGvspReceiverStatistics();
}

void TnGvspReceiver::ResetCounters()
{
    mLocal = TnGvspReceiverStatistics();
    mAssembler.ResetStatistics();
    mBatch.ResetTruncated();
    mRingTruncated = mRingMalformed = mRingShed = mRingSkipped = 0;
    ReadSocketDrops(mDropsSeen);
    mRing.TakeDrops();
}

bool TnGvspReceiver::ReadSocketDrops(uint32_t &aDrops) const
{
    if (mRingActive.load(std::memory_order_relaxed))
    {
        // The socket's count holds every datagram its filter left to the
        // ring: the ring counts its own drops (TakeDrops).
        return false;
    }
    uint32_t lInfo[SK_MEMINFO_VARS];
    socklen_t lLength = sizeof(lInfo);
    if (!mSocket.IsOpen() || getsockopt(mSocket.GetHandle(), SOL_SOCKET, SO_MEMINFO, lInfo, &lLength) != 0 ||
        lLength <= SK_MEMINFO_DROPS * sizeof(uint32_t))
    {
        return false;
    }
    aDrops = lInfo[SK_MEMINFO_DROPS];
    return true;
}

void TnGvspReceiver::Publish(uint64_t aNowUs, bool aForce)
{
    if (!aForce && aNowUs - mLastPublishUs < kPublishIntervalUs)
    {
        return;
    }
    mLastPublishUs = aNowUs;
    // The socket's drop counter, read here rather than with every datagram.
    uint32_t lDrops;
    if (ReadSocketDrops(lDrops))
    {
        mLocal.mSocketDrops += lDrops - mDropsSeen;
        mDropsSeen = lDrops;
    }
    const uint64_t lRingDrops = mRing.TakeDrops();
    mRingDropped = mRingDropped || lRingDrops != 0;
    mLocal.mSocketDrops += lRingDrops + mRingShed;
    mRingShed = 0;
    mLocal.mAssembly = mAssembler.GetStatistics();
    // Datagrams the ring handed over that never reached the assembler.
    mLocal.mAssembly.mPackets += mRingMalformed + mRingSkipped;
    mLocal.mAssembly.mMalformedPackets += mRingMalformed;
    mLocal.mAssembly.mPacketsIgnored += mRingSkipped;
    mLocal.mTruncated = mBatch.GetTruncated() + mRingTruncated;
    std::lock_guard<std::mutex> lLock(mPublishMutex);
    mPublished = mLocal;
}

void TnGvspReceiver::RequestResend(uint64_t aBlockId, uint32_t aFirstPacketId, uint32_t aLastPacketId,
                                   bool aExtendedIds)
{
    if (mConfig.mDeviceAddress == 0)
    {
        return;
    }
    TnGvcpPacketResend lResend;
    lResend.mExtendedIds = aExtendedIds;
    lResend.mStreamChannel = mConfig.mStreamChannel;
    lResend.mBlockId = aBlockId;
    lResend.mFirstPacketId = aFirstPacketId;
    lResend.mLastPacketId = aLastPacketId;
    mRequestId = NextRequestId(mRequestId);
    const std::vector<uint8_t> lCommand = BuildPacketResendCmd(mRequestId, lResend);
    if (mResendSocket.SendTo(mConfig.mDeviceAddress, mConfig.mDevicePort, lCommand.data(), lCommand.size()).IsOK())
    {
        ++mLocal.mResendRequestsSent;
    }
    else
    {
        ++mLocal.mResendSendErrors;
    }
}

int TnGvspReceiver::ReceiveBatch(uint64_t &aNowUs)
{
    const size_t lSlots = mBatch.Prepare(mAssembler);
    const int lReceived =
        recvmmsg(mSocket.GetHandle(), mBatch.GetMessages(), static_cast<unsigned>(lSlots), MSG_DONTWAIT, nullptr);
    aNowUs = MonotonicMicroseconds();
    if (lReceived < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
    {
        ++mLocal.mReceiveErrors;
    }
    if (lReceived > 0)
    {
        ++mLocal.mReceiveCalls;
        mBatch.Complete(mAssembler, static_cast<size_t>(lReceived), aNowUs);
    }
    return lReceived;
}

void TnGvspReceiver::Run()
{
    while (!mThread.StopRequested())
    {
        const bool lRing = mRingActive.load();
        ApplySourcePriority(lRing);
        if (lRing)
        {
            RunRing();
        }
        else
        {
            RunSocket();
        }
    }
    Publish(MonotonicMicroseconds(), true);
}

bool TnGvspReceiver::RingSuits() const
{
    const uint32_t lPayload = mAssembler.GetPayloadPerPacket();
    return lPayload == 0 || lPayload <= kRingLargestPayload;
}

TnResult TnGvspReceiver::SetRingActive(bool aActive)
{
    // The source that takes over gets its filter first: a datagram that
    // comes meanwhile is taken twice (and counted redundant), none is lost.
    const TnRingFilter &lFilter = mRing.GetConfig().mFilter;
    ResetGate();
    const TnResult lFirst = aActive ? AttachFilter(mRing.GetHandle(), RingFilterProgram(lFilter))
                                    : AttachFilter(mSocket.GetHandle(), AcceptAllProgram());
    if (!lFirst.IsOK())
    {
        return lFirst;
    }
    const TnResult lSecond =
        aActive ? AttachFilter(mSocket.GetHandle(), SocketFilterProgram(mRing.GetConfig().mInterfaceIndex,
                                                                        lFilter.mLargestDatagram))
                : AttachFilter(mRing.GetHandle(), DropAllProgram());
    mRingActive = aActive;
    if (!aActive)
    {
        ReadSocketDrops(mDropsSeen); // from here on the socket's drops are the stream's
    }
    return lSecond;
}

void TnGvspReceiver::RunSocket()
{
    const int lHandle = mSocket.GetHandle();
    bool lWaitFirst = false;
    size_t lLastCount = 0;
    uint32_t lFullBatches = 0;
    // The block timers (timeouts, holes, resend requests) are judged only
    // when the socket has just run dry, at the time it did: a receiver that
    // the machine held up finds the packets it missed in the socket, and no
    // block fails while its packets wait there.
    auto lPollTimers = [this](bool aDrained, uint32_t &aFullBatches, uint64_t aNow) {
        if (aDrained || aFullBatches >= kFloodBatches)
        {
            mAssembler.Poll(aNow);
            aFullBatches = 0;
        }
    };
    while (!mThread.StopRequested())
    {
        TakeRequests();
        uint64_t lNow;
        if (lWaitFirst)
        {
            lNow = MonotonicMicroseconds();
            // The socket was drained: sleep until a datagram comes (or, after
            // a short batch with coalescing, a little while, so that the next
            // receive takes many), the assembler's next timer, or a wake-up.
            const uint32_t lCoalesceUs = mCoalesceUs.load(std::memory_order_relaxed);
            const bool lCoalesce = lCoalesceUs > 0 && lLastCount > 0;
            const uint64_t lDeadline = mAssembler.GetNextDeadline();
            const uint64_t lWait = lDeadline > lNow ? lDeadline - lNow : 0;
            const timespec lTimeout = IdleWait(lNow, lCoalesce ? std::min<uint64_t>(lWait, lCoalesceUs) : lWait);
            pollfd lPoll[2] = {{mThread.GetWakeHandle(), POLLIN, 0}, {lHandle, POLLIN, 0}};
            if (ppoll(lPoll, lCoalesce ? 1 : 2, &lTimeout, nullptr) > 0 && (lPoll[0].revents & POLLIN) != 0)
            {
                mThread.TakeWakeUp();
                continue;
            }
        }
        const int lReceived = ReceiveBatch(lNow);
        // A short batch leaves the socket empty: wait before the next receive.
        lWaitFirst = lReceived < static_cast<int>(mBatch.GetSlots());
        lLastCount = lReceived > 0 ? static_cast<size_t>(lReceived) : 0;
        lFullBatches = lWaitFirst ? 0 : lFullBatches + 1;
        lPollTimers(lWaitFirst, lFullBatches, lNow);
        if (lReceived > 0)
        {
            Publish(lNow, false);
        }
        if (mConfig.mKind == TnGvspReceiverKind::kAutomatic && lReceived > 0 && mRing.IsOpen() &&
            mAssembler.GetPayloadPerPacket() != 0 && RingSuits() && SetRingActive(true).IsOK())
        {
            // The packets became small enough for the ring; what the socket
            // still holds is read here first.
            while (ReceiveBatch(lNow) > 0)
            {
            }
            return;
        }
    }
}

void TnGvspReceiver::TakeRingBlock(const uint8_t *aBlock, size_t aSize, uint64_t aNowUs)
{
    ++mLocal.mReceiveCalls;
    ++mRingBlocksRead;
    if (mFlushBeforeNs != 0 && aNowUs >= mFlushUntilUs)
    {
        mFlushBeforeNs = 0;
    }
    const uint32_t lPackets = TnPacketRing::CountPackets(aBlock);
    if (lPackets > mRingPacketsPerBlock)
    {
        mRingPacketsPerBlock = lPackets;
        mGate.SetRingBlockPackets(lPackets);
    }
    const uint8_t *lLastPassed = nullptr; // the last datagram the assembler took
    size_t lLastPassedSize = 0;
    ForEachRingPacket(aBlock, aSize, [&](const TnRingPacket &aPacket) {
        const uint8_t *lPayload;
        size_t lSize;
        switch (ParseRingDatagram(aPacket, mRing.GetConfig().mFilter, lPayload, lSize))
        {
        case TnRingVerdict::kTaken:
            if (mRingSkipToLeader)
            {
                // After a shed, up to the start of a block.
                if (lSize < kGvspHeaderSize || (lPayload[4] & 0x0F) != kGvspFormatLeader)
                {
                    ++mRingShed;
                    return;
                }
                mRingSkipToLeader = false;
            }
            if (mFlushBeforeNs != 0)
            {
                if (aPacket.mTimeNs < mFlushBeforeNs)
                {
                    return; // came before the flush
                }
                mFlushBeforeNs = 0;
            }
            if (PassesGate(lPayload, lSize, aPacket.mTimeNs, aNowUs))
            {
                mAssembler.OnDatagram(lPayload, lSize, aNowUs);
                lLastPassed = lPayload;
                lLastPassedSize = lSize;
            }
            break;
        case TnRingVerdict::kTruncated:
            ++mRingTruncated;
            break;
        case TnRingVerdict::kMalformed:
            ++mRingMalformed;
            break;
        case TnRingVerdict::kForeign:
        case TnRingVerdict::kFragment:
            break; // the socket's to take
        }
    });
    if (mGate.GetSpan() == 0 && lLastPassed != nullptr && lPackets == mRingPacketsPerBlock &&
        lLastPassedSize >= kGvspHeaderSize)
    {
        // No block measured yet: the size of the newest, as its leader tells,
        // over what a full ring block holds.
        const bool lExtended = (lLastPassed[4] & kGvspExtendedIdBit) != 0;
        if (!lExtended || lLastPassedSize >= kGvspExtendedHeaderSize)
        {
            const uint32_t lDataPackets =
                mAssembler.GetDataPacketCount(lExtended ? GetU64(lLastPassed + 8) : GetU16(lLastPassed + 2));
            if (lDataPackets != 0)
            {
                mGate.EstimateSpan(uint64_t(lDataPackets) + 2); // with its leader and trailer
            }
        }
    }
}

bool TnGvspReceiver::ShedRingBacklog()
{
    // A receiver that falls behind for good finds the ring full, and the
    // kernel then drops packets whenever it has no block to fill: a few
    // between every two blocks read, so that every frame misses some and
    // none completes. When the ring is about to be full (all but one block
    // wait), half of it goes unread at once instead, and what follows up to
    // the next block's leader: the frames it held are lost (as they would
    // have been), the receiver has caught up, and the frames after them
    // come whole, from their first packet on.
    const size_t lBlocks = mRing.GetBlockCount();
    if (lBlocks < 8 || !mRing.IsBehind(lBlocks - 1))
    {
        return false;
    }
    for (size_t lShed = 0; lShed < lBlocks / 2; ++lShed)
    {
        size_t lSize;
        const uint8_t *lBlock = mRing.Next(lSize);
        if (lBlock == nullptr)
        {
            break;
        }
        mRingShed += TnPacketRing::CountPackets(lBlock);
        mRing.Release();
        ++mRingBlocksRead;
    }
    mRingSkipToLeader = true;
    mRingDropped = true; // the gate engages: from here on blocks are shed whole
    return true;
}

uint64_t TnGvspReceiver::RingSettledUs(uint64_t aNowUs) const
{
    uint64_t lSinceNs;
    const TnPacketRing::Unread lUnread = mRing.GetUnread(lSinceNs);
    if (lUnread == TnPacketRing::Unread::kNone)
    {
        return aNowUs;
    }
    // The kernel's real-time clock on the monotonic one.
    const uint64_t lRealNs = RealtimeNanoseconds();
    const uint64_t lAgoUs = lRealNs > lSinceNs ? (lRealNs - lSinceNs) / 1000u : 0;
    uint64_t lSettled = aNowUs > lAgoUs ? aNowUs - lAgoUs : 0;
    if (lUnread == TnPacketRing::Unread::kHeld)
    {
        // The kernel hands a block over within mRingHoldUs of opening it
        // (whatever the real-time clock did meanwhile).
        lSettled = std::max(lSettled, aNowUs > mRingHoldUs ? aNowUs - mRingHoldUs : 0);
    }
    return std::min(lSettled, aNowUs);
}

bool TnGvspReceiver::PassesGate(const uint8_t *aPayload, size_t aSize, uint64_t aArrivedNs, uint64_t aNowUs)
{
    if (aSize < kGvspHeaderSize)
    {
        return true;
    }
    const uint8_t lFormat = aPayload[4];
    const bool lExtended = (lFormat & kGvspExtendedIdBit) != 0;
    if (lExtended && aSize < kGvspExtendedHeaderSize)
    {
        return true;
    }
    const uint64_t lId = lExtended ? GetU64(aPayload + 8) : GetU16(aPayload + 2);
    const uint8_t lKind = lFormat & 0x0F;
    if (lKind == kGvspFormatLeader)
    {
        const bool lTaken = mGate.OnLeader(lId, lExtended, aArrivedNs, mRingBlocksRead);
        mShedKnown = true;
        mShedBlock = lId;
        mShedVerdict = !lTaken;
        if (!lTaken)
        {
            mAssembler.DropBlock(lId, lExtended, aNowUs);
            ++mRingSkipped;
        }
        return lTaken;
    }
    if (mGate.HasShed())
    {
        if (!mShedKnown || mShedBlock != lId)
        {
            mShedKnown = true;
            mShedBlock = lId;
            mShedVerdict = mGate.IsShed(lId);
        }
        if (mShedVerdict)
        {
            ++mRingSkipped;
            return false;
        }
    }
    if (lKind == kGvspFormatTrailer)
    {
        mGate.OnTrailer(lId, lExtended ? GetU32(aPayload + 16) : GetU24(aPayload + 5), mRingBlocksRead);
    }
    return true;
}

TnRingNewest TnGvspReceiver::NewestRingPacket() const
{
    // The first of the stream's packets in the newest block handed over: no
    // more than a ring block behind the kernel, found at the cost of one.
    TnRingNewest lNewest;
    size_t lSize;
    const uint8_t *lBlock = mRing.Newest(lSize);
    if (lBlock != nullptr)
    {
        ForEachRingPacket(lBlock, lSize, [&](const TnRingPacket &aPacket) {
            return !RingPacketIds(aPacket, mRing.GetConfig().mFilter, lNewest);
        });
    }
    return lNewest;
}

void TnGvspReceiver::SteerRing()
{
    // The blocks waiting: counted on from where the last count ended (a
    // status word or two, of blocks the kernel just wrote).
    const size_t lUnread = mRing.CountUnread();
    if (!mGate.IsEngaged() && !mRingDropped && lUnread * 4 < mRing.GetBlockCount())
    {
        return; // keeping up
    }
    mGate.Behind(lUnread, mRingDropped);
    mRingDropped = false;
    if (!mGate.WantsPlan() && !mGate.IsEngaged())
    {
        return;
    }
    // Engaged, after every ring block: a block is let in as soon as the
    // ring has room for it, before it starts.
    const TnRingNewest lNewest = mGate.IsEngaged() ? NewestRingPacket() : TnRingNewest();
    TnRingWindow lWindow;
    if (mGate.Plan(lNewest, lUnread, lWindow) &&
        AttachFilter(mRing.GetHandle(), RingFilterProgram(mRing.GetConfig().mFilter, lWindow)).IsOK())
    {
        mGate.Installed(lWindow, RealtimeNanoseconds());
    }
}

void TnGvspReceiver::ResetGate()
{
    mGate.Reset(mRing.GetBlockCount());
    mGate.SetRingBlockPackets(mRingPacketsPerBlock);
    mShedKnown = false;
}

void TnGvspReceiver::OpenGate()
{
    const bool lGated = !mGate.GetWindow().mOpen;
    ResetGate();
    if (lGated && mRingActive.load(std::memory_order_relaxed))
    {
        AttachFilter(mRing.GetHandle(), RingFilterProgram(mRing.GetConfig().mFilter));
    }
}

void TnGvspReceiver::RunRing()
{
    bool lIdle = false;
    bool lTaken = false;   // blocks taken since the last wait
    bool lLeaving = false; // the socket took over: read what the ring holds, then return
    uint32_t lBlocks = 0;
    uint64_t lLastBlockUs = MonotonicMicroseconds();
    // The block timers are judged as of the time up to which every packet
    // the kernel took has been read: a packet still in the block the kernel
    // fills makes no block fail, and asks for no resend, as a packet waiting
    // in the socket does not (see Run).
    auto lPollTimers = [this](uint64_t aNow) { mAssembler.Poll(RingSettledUs(aNow)); };
    while (!mThread.StopRequested())
    {
        TakeRequests();
        uint64_t lNow;
        if (lIdle)
        {
            // Nothing handed over: sleep until a block is, a datagram comes
            // to the socket (one the ring cannot see), the assembler's next
            // timer, or a wake-up; after blocks were taken, with coalescing,
            // a little while first, so that the next look takes several
            // (one wake-up for them, not one each).
            lNow = MonotonicMicroseconds();
            // A timer due but not yet judged waits for the block the kernel
            // fills: its hand-over wakes the thread (or mRingHoldUs passes).
            const uint64_t lSettled = RingSettledUs(lNow);
            const uint64_t lDeadline = mAssembler.GetNextDeadline();
            const uint32_t lCoalesceUs = mCoalesceUs.load(std::memory_order_relaxed);
            const bool lCoalesce = lCoalesceUs > 0 && lTaken;
            lTaken = false;
            uint64_t lWait = lDeadline > lSettled ? lDeadline - lSettled : (lSettled < lNow ? mRingHoldUs : 0);
            if (mGate.IsEngaged())
            {
                // The gate opens on time should nothing come.
                const uint64_t lQuietAt = lLastBlockUs + mGate.GetQuietNs() / 1000;
                lWait = std::min(lWait, lQuietAt > lNow ? lQuietAt - lNow : 0);
            }
            const timespec lTimeout = IdleWait(lNow, lCoalesce ? std::min<uint64_t>(lWait, lCoalesceUs) : lWait);
            pollfd lPoll[3] = {{mThread.GetWakeHandle(), POLLIN, 0},
                               {mRing.GetHandle(), POLLIN, 0},
                               {mSocket.GetHandle(), POLLIN, 0}};
            if (ppoll(lPoll, lCoalesce ? 1 : 3, &lTimeout, nullptr) > 0)
            {
                if ((lPoll[0].revents & POLLIN) != 0)
                {
                    mThread.TakeWakeUp();
                    continue;
                }
                if ((lPoll[2].revents & POLLIN) != 0)
                {
                    while (ReceiveBatch(lNow) >= static_cast<int>(mBatch.GetSlots()))
                    {
                    }
                }
            }
        }
        size_t lSize;
        const uint8_t *lBlock = mRing.Next(lSize);
        lNow = MonotonicMicroseconds();
        if (lBlock == nullptr)
        {
            uint64_t lSinceNs;
            if (lLeaving && mRing.GetUnread(lSinceNs) == TnPacketRing::Unread::kNone)
            {
                return; // all read: on with the socket
            }
            lIdle = true;
            lBlocks = 0;
            lPollTimers(lNow);
            if (mGate.IsEngaged())
            {
                // Nothing came for a while: the stream paused (and may
                // resume with any block id), the receiver is not behind.
                if (lNow - lLastBlockUs >= mGate.GetQuietNs() / 1000)
                {
                    OpenGate();
                }
                else
                {
                    SteerRing();
                }
            }
            continue;
        }
        lIdle = false;
        if (ShedRingBacklog())
        {
            continue;
        }
        TakeRingBlock(lBlock, lSize, lNow);
        mRing.Release();
        lTaken = true;
        lLastBlockUs = lNow;
        SteerRing();
        if (mConfig.mKind == TnGvspReceiverKind::kAutomatic && !lLeaving && !RingSuits())
        {
            // Jumbo packets: the socket takes over; the ring hands over what
            // it took before.
            lLeaving = SetRingActive(false).IsOK();
        }
        if (++lBlocks >= kFloodRingBlocks)
        {
            // A steady flood: the socket's datagrams and the timers get
            // their turn now and then.
            lBlocks = 0;
            while (ReceiveBatch(lNow) >= static_cast<int>(mBatch.GetSlots()))
            {
            }
            lPollTimers(lNow);
        }
        Publish(lNow, false);
    }
}
} // namespace gev
} // namespace tn
