#include "TnRtpReceiver.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "TnGevBytes.h"

namespace tn
{
namespace gev
{
namespace
{
constexpr uint64_t kPublishIntervalUs = 1000;
constexpr uint64_t kIdleWaitUs = 100000;
constexpr uint64_t kMinWaitUs = 20;
constexpr uint64_t kReconnectUs = 100000;
constexpr size_t kDatagramCapacity = 65536;
constexpr size_t kStreamCapacity = 1 << 20;
// Full receives in a row after which the timers are judged although the
// socket has not run dry (a steady flood).
constexpr uint32_t kFloodReceives = 256;
enum : uint32_t
{
    kRequestAbort = 1,
    kRequestDrain = 2,
    kRequestTimes = 4,
    kRequestAssembly = 8
};
} // namespace

// ---------------------------------------------------------------- scatter batch

void TnRtpScatterBatch::Configure(size_t aSlots, size_t aDatagramCapacity)
{
    mSlots = std::max<size_t>(1, aSlots);
    mCapacity = std::max<size_t>(aDatagramCapacity, 2048);
    mMessages.assign(mSlots, mmsghdr());
    mVectors.assign(mSlots * kVectors, iovec());
    mScratch.assign(mSlots * mCapacity, 0);
    mPredictions.assign(mSlots, TnRtpPrediction());
    mInPlace.assign(mSlots, 0);
}

size_t TnRtpScatterBatch::Prepare(TnRtpAssembler &aAssembler)
{
    const size_t lPredicted = aAssembler.Predict(mPredictions.data(), mSlots);
    for (size_t lSlot = 0; lSlot < mSlots; ++lSlot)
    {
        uint8_t *lScratch = mScratch.data() + lSlot * mCapacity;
        iovec *lVectors = mVectors.data() + lSlot * kVectors;
        msghdr &lHeader = mMessages[lSlot].msg_hdr;
        memset(&lHeader, 0, sizeof(lHeader));
        lHeader.msg_iov = lVectors;
        mMessages[lSlot].msg_len = 0;
        TnRtpPrediction &lPrediction = mPredictions[lSlot];
        if (lSlot >= lPredicted || lPrediction.mHeaderSize + lPrediction.mTotal > mCapacity)
        {
            lPrediction = TnRtpPrediction();
            lVectors[0].iov_base = lScratch;
            lVectors[0].iov_len = mCapacity;
            lHeader.msg_iovlen = 1;
            continue;
        }
        // The headers, each segment's place (segments that follow each other
        // in memory as one), then scratch where the data would have ended.
        size_t lCount = 0;
        lVectors[lCount].iov_base = lScratch;
        lVectors[lCount++].iov_len = lPrediction.mHeaderSize;
        for (uint32_t lIndex = 0; lIndex < lPrediction.mCount; ++lIndex)
        {
            uint8_t *lPlace = lPrediction.mData[lIndex];
            const size_t lLength = lPrediction.mSegments[lIndex].mLength;
            iovec &lLast = lVectors[lCount - 1];
            if (lCount > 1 && static_cast<uint8_t *>(lLast.iov_base) + lLast.iov_len == lPlace)
            {
                lLast.iov_len += lLength;
            }
            else
            {
                lVectors[lCount].iov_base = lPlace;
                lVectors[lCount++].iov_len = lLength;
            }
        }
        const size_t lUsed = lPrediction.mHeaderSize + lPrediction.mTotal;
        lVectors[lCount].iov_base = lScratch + lUsed;
        lVectors[lCount++].iov_len = mCapacity - lUsed;
        lHeader.msg_iovlen = lCount;
    }
    return mSlots;
}

void TnRtpScatterBatch::Complete(TnRtpAssembler &aAssembler, size_t aReceived, uint64_t aNowUs)
{
    aReceived = std::min(aReceived, mSlots);
    // Every datagram that missed its prediction is made whole in its scratch
    // before anything is copied into a frame.
    for (size_t lSlot = 0; lSlot < aReceived; ++lSlot)
    {
        const TnRtpPrediction &lPrediction = mPredictions[lSlot];
        const msghdr &lHeader = mMessages[lSlot].msg_hdr;
        const size_t lLength = mMessages[lSlot].msg_len;
        mInPlace[lSlot] = 0;
        if ((lHeader.msg_flags & MSG_TRUNC) != 0 || lHeader.msg_iovlen == 1 || lLength <= lPrediction.mHeaderSize)
        {
            continue;
        }
        uint8_t *lScratch = mScratch.data() + lSlot * mCapacity;
        if (aAssembler.Matches(lPrediction, lScratch, lLength))
        {
            mInPlace[lSlot] = 1;
            continue;
        }
        size_t lLeft = std::min<size_t>(lLength - lPrediction.mHeaderSize, lPrediction.mTotal);
        uint8_t *lTo = lScratch + lPrediction.mHeaderSize;
        for (size_t lVector = 1; lVector + 1 < lHeader.msg_iovlen && lLeft > 0; ++lVector)
        {
            const size_t lPart = std::min(lLeft, lHeader.msg_iov[lVector].iov_len);
            memcpy(lTo, lHeader.msg_iov[lVector].iov_base, lPart);
            lTo += lPart;
            lLeft -= lPart;
        }
    }
    for (size_t lSlot = 0; lSlot < aReceived; ++lSlot)
    {
        if ((mMessages[lSlot].msg_hdr.msg_flags & MSG_TRUNC) != 0)
        {
            ++mTruncated;
            continue;
        }
        const uint8_t *lScratch = mScratch.data() + lSlot * mCapacity;
        const size_t lLength = mMessages[lSlot].msg_len;
        if (mInPlace[lSlot] != 0)
        {
            aAssembler.OnPredicted(mPredictions[lSlot], lScratch, lLength, aNowUs);
        }
        else
        {
            aAssembler.OnDatagram(lScratch, lLength, aNowUs);
        }
    }
}

// ---------------------------------------------------------------- receiver

TnRtpReceiver::TnRtpReceiver()
    : mProvider(nullptr), mHandle(-1), mTcp(false), mLocalAddress(0), mLocalPort(0), mRequests(0),
      mReorderToleranceUs(0), mFrameTimeoutUs(0), mResetRequested(false), mStreamFill(0), mNextConnectUs(0),
      mDropsSeen(0), mLastPublishUs(0)
{
}

TnRtpReceiver::~TnRtpReceiver()
{
    Close();
}

void TnRtpReceiver::CloseSocket()
{
    if (mHandle >= 0)
    {
        ::close(mHandle);
        mHandle = -1;
    }
    mStreamFill = 0;
}

TnResult TnRtpReceiver::Connect(uint32_t aTimeoutMs)
{
    CloseSocket();
    mHandle = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (mHandle < 0)
    {
        return SocketFailure("socket", errno);
    }
    if (mConfig.mSocketBufferSize > 0)
    {
        SetLargeReceiveBuffer(mHandle, mConfig.mSocketBufferSize);
    }
    const sockaddr_in lServer = SocketAddress(mConfig.mServerAddress, mConfig.mServerPort);
    if (connect(mHandle, reinterpret_cast<const sockaddr *>(&lServer), sizeof(lServer)) != 0 && errno != EINPROGRESS)
    {
        const int lError = errno;
        CloseSocket();
        return SocketFailure("connect", lError, TN_NOT_CONNECTED);
    }
    pollfd lPoll = {mHandle, POLLOUT, 0};
    int lError = ETIMEDOUT;
    if (poll(&lPoll, 1, static_cast<int>(aTimeoutMs)) > 0)
    {
        socklen_t lLength = sizeof(lError);
        getsockopt(mHandle, SOL_SOCKET, SO_ERROR, &lError, &lLength);
    }
    if (lError != 0)
    {
        CloseSocket();
        return SocketFailure("connect", lError, TN_NOT_CONNECTED);
    }
    sockaddr_in lLocal;
    socklen_t lLength = sizeof(lLocal);
    getsockname(mHandle, reinterpret_cast<sockaddr *>(&lLocal), &lLength);
    mLocalAddress = ntohl(lLocal.sin_addr.s_addr);
    mLocalPort = ntohs(lLocal.sin_port);
    ++mLocal.mConnections;
    return TnResult(TN_OK);
}

TnResult TnRtpReceiver::Open(const TnRtpReceiverConfig &aConfig, TnRtpFrameProvider *aProvider)
{
    Close();
    if (aProvider == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    mConfig = aConfig;
    mConfig.mBatchSize = std::max<uint32_t>(1, std::min<uint32_t>(mConfig.mBatchSize, 1024));
    mTcp = mConfig.mServerAddress != 0;
    mLocal = TnRtpReceiverStatistics();
    mPublished = TnRtpReceiverStatistics();
    TnResult lResult(TN_OK);
    if (mTcp)
    {
        lResult = Connect(2000);
        mStream.assign(kStreamCapacity, 0);
    }
    else
    {
        const bool lMulticast = mConfig.mMulticastAddress != 0;
        TnUdpSocket lSocket;
        lResult = lMulticast ? lSocket.OpenShared(mConfig.mMulticastAddress, mConfig.mLocalPort)
                             : lSocket.Open(mConfig.mLocalAddress, mConfig.mLocalPort);
        if (lResult.IsOK() && lMulticast)
        {
            lResult = JoinMulticastGroup(lSocket.GetHandle(), mConfig.mMulticastAddress, mConfig.mMulticastInterface);
        }
        if (lResult.IsOK())
        {
            mLocalAddress = lMulticast ? mConfig.mMulticastInterface : lSocket.GetLocalAddress();
            mLocalPort = lSocket.GetLocalPort();
            mHandle = dup(lSocket.GetHandle());
            if (mHandle < 0)
            {
                lResult = SocketFailure("dup", errno);
            }
            else if (mConfig.mSocketBufferSize > 0)
            {
                SetLargeReceiveBuffer(mHandle, mConfig.mSocketBufferSize);
            }
        }
        mBatch.Configure(mConfig.mBatchSize, kDatagramCapacity);
    }
    if (!lResult.IsOK())
    {
        CloseSocket();
        return lResult;
    }
    lResult = mThread.Open();
    if (!lResult.IsOK())
    {
        Close();
        return lResult;
    }
    mProvider = aProvider;
    mAssembler.SetProvider(aProvider);
    mAssembler.Configure(mConfig.mAssembler, MonotonicMicroseconds());
    mReorderToleranceUs = mConfig.mAssembler.mReorderToleranceUs;
    mFrameTimeoutUs = mConfig.mAssembler.mFrameTimeoutUs;
    mRequests = 0;
    mDropsSeen = 0;
    return TnResult(TN_OK);
}

TnResult TnRtpReceiver::Start()
{
    if (mHandle < 0 && !mTcp)
    {
        return TnResult(TN_NOT_CONNECTED);
    }
    return mThread.Start([this] { Run(); });
}

void TnRtpReceiver::Stop()
{
    mThread.Stop();
    mAssembler.FinishAll(TN_ABORTED, MonotonicMicroseconds());
    Publish(MonotonicMicroseconds(), true);
}

void TnRtpReceiver::Close()
{
    Stop();
    CloseSocket();
    mThread.Close();
    mLocalAddress = 0;
    mLocalPort = 0;
}

TnResult TnRtpReceiver::AbortFrames(bool aDrain)
{
    if (!mThread.Request([&] { mRequests |= kRequestAbort | (aDrain ? kRequestDrain : 0u); }))
    {
        if (aDrain)
        {
            Drain();
        }
        mAssembler.FinishAll(TN_ABORTED, MonotonicMicroseconds());
    }
    return TnResult(TN_OK);
}

void TnRtpReceiver::SetTimes(uint32_t aReorderToleranceUs, uint32_t aFrameTimeoutUs)
{
    std::lock_guard<std::mutex> lLock(mThread.GetRequestMutex());
    mReorderToleranceUs = aReorderToleranceUs;
    mFrameTimeoutUs = aFrameTimeoutUs;
    if (!mThread.IsRunning())
    {
        mAssembler.SetTimes(aReorderToleranceUs, aFrameTimeoutUs);
    }
    else
    {
        mRequests |= kRequestTimes;
    }
}

void TnRtpReceiver::SetAssembly(const TnRtpAssemblerConfig &aConfig)
{
    std::unique_lock<std::mutex> lLock(mThread.GetRequestMutex());
    mPendingAssembly = aConfig;
    if (!mThread.IsRunning())
    {
        lLock.unlock();
        mAssembler.Configure(aConfig, MonotonicMicroseconds());
        return;
    }
    mRequests |= kRequestAssembly;
    mThread.Wake();
}

void TnRtpReceiver::Serve()
{
    uint32_t lRequests;
    uint64_t lTaken;
    {
        std::lock_guard<std::mutex> lLock(mThread.GetRequestMutex());
        lRequests = mRequests;
        mRequests = 0;
        lTaken = mThread.TakeRequests();
        if ((lRequests & kRequestTimes) != 0)
        {
            mAssembler.SetTimes(mReorderToleranceUs, mFrameTimeoutUs);
        }
        if (mResetRequested)
        {
            mResetRequested = false;
            mLocal = TnRtpReceiverStatistics();
            mAssembler.ResetStatistics();
            mBatch.ResetTruncated();
        }
    }
    if ((lRequests & kRequestAssembly) != 0)
    {
        TnRtpAssemblerConfig lConfig;
        {
            std::lock_guard<std::mutex> lLock(mThread.GetRequestMutex());
            lConfig = mPendingAssembly;
        }
        mAssembler.Configure(lConfig, MonotonicMicroseconds());
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
}

void TnRtpReceiver::Drain()
{
    if (mHandle < 0)
    {
        return;
    }
    uint8_t lSink[2048];
    while (recv(mHandle, lSink, sizeof(lSink), MSG_DONTWAIT | MSG_TRUNC) > 0)
    {
    }
    mStreamFill = 0; // a stream's partial packet goes too: the connection starts anew
    if (mTcp)
    {
        CloseSocket();
        mNextConnectUs = 0;
    }
}

TnRtpReceiverStatistics TnRtpReceiver::GetStatistics() const
{
    std::lock_guard<std::mutex> lLock(mPublishMutex);
    return mPublished;
}

void TnRtpReceiver::ResetStatistics()
{
    {
        std::lock_guard<std::mutex> lLock(mThread.GetRequestMutex());
        if (mThread.IsRunning())
        {
            mResetRequested = true;
        }
        else
        {
            mLocal = TnRtpReceiverStatistics();
            mAssembler.ResetStatistics();
        }
    }
    std::lock_guard<std::mutex> lLock(mPublishMutex);
    mPublished = TnRtpReceiverStatistics();
}

void TnRtpReceiver::Publish(uint64_t aNowUs, bool aForce)
{
    if (!aForce && aNowUs - mLastPublishUs < kPublishIntervalUs)
    {
        return;
    }
    mLastPublishUs = aNowUs;
    uint32_t lInfo[SK_MEMINFO_VARS];
    socklen_t lLength = sizeof(lInfo);
    if (!mTcp && mHandle >= 0 && getsockopt(mHandle, SOL_SOCKET, SO_MEMINFO, lInfo, &lLength) == 0 &&
        lLength > SK_MEMINFO_DROPS * sizeof(uint32_t))
    {
        mLocal.mSocketDrops += lInfo[SK_MEMINFO_DROPS] - mDropsSeen;
        mDropsSeen = lInfo[SK_MEMINFO_DROPS];
    }
    mLocal.mAssembly = mAssembler.GetStatistics();
    mLocal.mTruncated = mBatch.GetTruncated();
    std::lock_guard<std::mutex> lLock(mPublishMutex);
    mPublished = mLocal;
}

void TnRtpReceiver::ReceiveDatagrams(uint64_t aNowUs, bool &aDrained)
{
    const size_t lSlots = mBatch.Prepare(mAssembler);
    const int lReceived = recvmmsg(mHandle, mBatch.GetMessages(), static_cast<unsigned>(lSlots), MSG_DONTWAIT, nullptr);
    aDrained = lReceived < static_cast<int>(lSlots);
    if (lReceived <= 0)
    {
        if (lReceived < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        {
            ++mLocal.mReceiveErrors;
        }
        return;
    }
    ++mLocal.mReceiveCalls;
    mBatch.Complete(mAssembler, static_cast<size_t>(lReceived), aNowUs);
}

void TnRtpReceiver::ReceiveStream(uint64_t aNowUs, bool &aDrained)
{
    aDrained = true;
    if (mHandle < 0)
    {
        if (aNowUs >= mNextConnectUs && !Connect(50).IsOK())
        {
            mNextConnectUs = aNowUs + kReconnectUs;
        }
        return;
    }
    const ssize_t lRead = recv(mHandle, mStream.data() + mStreamFill, mStream.size() - mStreamFill, MSG_DONTWAIT);
    if (lRead == 0 || (lRead < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
    {
        // The server closed the connection: what was in flight is lost.
        if (lRead < 0)
        {
            ++mLocal.mReceiveErrors;
        }
        CloseSocket();
        mAssembler.FinishAll(TN_MISSING_PACKETS, aNowUs);
        mNextConnectUs = aNowUs + kReconnectUs;
        return;
    }
    if (lRead < 0)
    {
        return;
    }
    ++mLocal.mReceiveCalls;
    aDrained = mStreamFill + static_cast<size_t>(lRead) < mStream.size();
    mStreamFill += static_cast<size_t>(lRead);
    size_t lOffset = 0;
    while (lOffset + kRtpTcpLengthSize <= mStreamFill)
    {
        const size_t lLength = GetU16(mStream.data() + lOffset);
        if (lOffset + kRtpTcpLengthSize + lLength > mStreamFill)
        {
            break;
        }
        if (lLength != 0)
        {
            mAssembler.OnDatagram(mStream.data() + lOffset + kRtpTcpLengthSize, lLength, aNowUs);
        }
        lOffset += kRtpTcpLengthSize + lLength;
    }
    memmove(mStream.data(), mStream.data() + lOffset, mStreamFill - lOffset);
    mStreamFill -= lOffset;
}

void TnRtpReceiver::Run()
{
    bool lDrained = true;
    bool lLastEmpty = true;
    uint32_t lFull = 0;
    while (!mThread.StopRequested())
    {
        Serve();
        uint64_t lNow = MonotonicMicroseconds();
        if (lDrained)
        {
            // Sleep until a packet comes (after a short batch with coalescing,
            // a little while, so that the next receive takes many), the
            // assembler's next timer, or a wake-up.
            Publish(lNow, true);
            const uint64_t lDeadline = mAssembler.GetNextDeadline();
            uint64_t lWait = lDeadline > lNow ? lDeadline - lNow : 0;
            lWait = std::max(kMinWaitUs, std::min(lWait, kIdleWaitUs));
            const bool lCoalesce = mConfig.mCoalesceUs > 0 && !lLastEmpty && !mTcp;
            if (lCoalesce)
            {
                lWait = std::min<uint64_t>(lWait, mConfig.mCoalesceUs);
            }
            pollfd lPoll[2] = {{mThread.GetWakeHandle(), POLLIN, 0}, {mHandle, POLLIN, 0}};
            const nfds_t lCount = lCoalesce || mHandle < 0 ? 1 : 2;
            timespec lTimeout = {static_cast<time_t>(lWait / 1000000u), static_cast<long>((lWait % 1000000u) * 1000u)};
            if (ppoll(lPoll, lCount, &lTimeout, nullptr) > 0 && (lPoll[0].revents & POLLIN) != 0)
            {
                mThread.TakeWakeUp();
                continue;
            }
            lNow = MonotonicMicroseconds();
        }
        const uint64_t lPackets = mAssembler.GetStatistics().mPackets;
        if (mTcp)
        {
            ReceiveStream(lNow, lDrained);
        }
        else
        {
            ReceiveDatagrams(lNow, lDrained);
        }
        lLastEmpty = mAssembler.GetStatistics().mPackets == lPackets;
        // The frames' timers are judged when the socket has just run dry:
        // packets still waiting there never count as missing.
        lFull = lDrained ? 0 : lFull + 1;
        if (lDrained || lFull >= kFloodReceives)
        {
            mAssembler.Poll(lNow);
            lFull = 0;
        }
        Publish(lNow, false);
    }
    Publish(MonotonicMicroseconds(), true);
}
} // namespace gev
} // namespace tn
