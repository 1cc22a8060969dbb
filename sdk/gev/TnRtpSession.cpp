#include "TnRtpSession.h"

#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "TnGevBytes.h"
#include "TnRtp.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace gev
{
namespace
{
constexpr uint32_t kSapGroup = 0xE0027FFE; // 224.2.127.254
constexpr uint16_t kSapPort = 9875;
// How long a client may keep the stream waiting before it is dropped.
constexpr int kClientPatienceMs = 200;

// Writes all the vectors to a stream socket, waiting at most kClientPatienceMs
// whenever its buffer is full; false when the client is gone or too slow.
bool WriteAll(int aSocket, iovec *aVectors, size_t aCount)
{
    while (aCount > 0)
    {
        msghdr lMessage;
        memset(&lMessage, 0, sizeof(lMessage));
        lMessage.msg_iov = aVectors;
        lMessage.msg_iovlen = std::min<size_t>(aCount, IOV_MAX);
        const ssize_t lSent = sendmsg(aSocket, &lMessage, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (lSent < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            pollfd lPoll = {aSocket, POLLOUT, 0};
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || poll(&lPoll, 1, kClientPatienceMs) <= 0 ||
                (lPoll.revents & POLLOUT) == 0)
            {
                return false;
            }
            continue;
        }
        size_t lLeft = static_cast<size_t>(lSent);
        while (aCount > 0 && lLeft >= aVectors->iov_len)
        {
            lLeft -= aVectors->iov_len;
            ++aVectors;
            --aCount;
        }
        if (aCount > 0)
        {
            aVectors->iov_base = static_cast<uint8_t *>(aVectors->iov_base) + lLeft;
            aVectors->iov_len -= lLeft;
        }
    }
    return true;
}
} // namespace

// ---------------------------------------------------------------- TCP server

TnRtpTcpServer::TnRtpTcpServer() : mListener(-1), mWake(-1), mPort(0) {}

TnRtpTcpServer::~TnRtpTcpServer()
{
    Stop();
}

TnResult TnRtpTcpServer::Start(uint32_t aAddress, uint16_t aPort)
{
    Stop();
    mListener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (mListener < 0)
    {
        return SocketFailure("socket", errno);
    }
    const int lOne = 1;
    setsockopt(mListener, SOL_SOCKET, SO_REUSEADDR, &lOne, sizeof(lOne));
    const sockaddr_in lLocal = SocketAddress(aAddress, aPort);
    if (bind(mListener, reinterpret_cast<const sockaddr *>(&lLocal), sizeof(lLocal)) != 0 ||
        listen(mListener, 8) != 0)
    {
        const TnResult lResult = SocketFailure("bind", errno);
        Stop();
        return lResult;
    }
    sockaddr_in lBound;
    socklen_t lLength = sizeof(lBound);
    getsockname(mListener, reinterpret_cast<sockaddr *>(&lBound), &lLength);
    mPort = ntohs(lBound.sin_port);
    mWake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (mWake < 0)
    {
        const TnResult lResult = SocketFailure("eventfd", errno);
        Stop();
        return lResult;
    }
    try
    {
        mThread = std::thread(&TnRtpTcpServer::Accept, this);
    }
    catch (...)
    {
        Stop();
        return TnResult(TN_THREAD_ERROR);
    }
    return TnResult(TN_OK);
}

void TnRtpTcpServer::Stop()
{
    if (mThread.joinable())
    {
        const uint64_t lOne = 1;
        if (write(mWake, &lOne, sizeof(lOne)) < 0)
        {
            // The thread looks again within its poll's timeout.
        }
        mThread.join();
    }
    for (int *lHandle : {&mListener, &mWake})
    {
        if (*lHandle >= 0)
        {
            close(*lHandle);
            *lHandle = -1;
        }
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    for (int lClient : mClients)
    {
        close(lClient);
    }
    mClients.clear();
    mPort = 0;
}

size_t TnRtpTcpServer::GetClientCount() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mClients.size();
}

void TnRtpTcpServer::Accept()
{
    for (;;)
    {
        pollfd lPoll[2] = {{mWake, POLLIN, 0}, {mListener, POLLIN, 0}};
        if (poll(lPoll, 2, 1000) <= 0)
        {
            continue;
        }
        if ((lPoll[0].revents & POLLIN) != 0)
        {
            return;
        }
        const int lClient = accept4(mListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (lClient < 0)
        {
            continue;
        }
        const int lSize = 4 << 20;
        setsockopt(lClient, SOL_SOCKET, SO_SNDBUF, &lSize, sizeof(lSize));
        std::lock_guard<std::mutex> lLock(mMutex);
        mClients.push_back(lClient);
    }
}

void TnRtpTcpServer::OnPackets(const mmsghdr *aMessages, size_t aCount)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mClients.empty())
    {
        return;
    }
    // Each packet's length, then its vectors.
    mLengths.resize(aCount * kRtpTcpLengthSize);
    std::vector<iovec> lPacked;
    lPacked.reserve(aCount * 4);
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        const msghdr &lMessage = aMessages[lIndex].msg_hdr;
        size_t lLength = 0;
        for (size_t lVector = 0; lVector < lMessage.msg_iovlen; ++lVector)
        {
            lLength += lMessage.msg_iov[lVector].iov_len;
        }
        uint8_t *lField = mLengths.data() + lIndex * kRtpTcpLengthSize;
        PutU16(lField, static_cast<uint16_t>(lLength));
        lPacked.push_back(iovec{lField, kRtpTcpLengthSize});
        lPacked.insert(lPacked.end(), lMessage.msg_iov, lMessage.msg_iov + lMessage.msg_iovlen);
    }
    for (auto lClient = mClients.begin(); lClient != mClients.end();)
    {
        mVectors = lPacked; // WriteAll moves through its own copy
        if (WriteAll(*lClient, mVectors.data(), mVectors.size()))
        {
            ++lClient;
            continue;
        }
        close(*lClient);
        lClient = mClients.erase(lClient);
    }
}

// ---------------------------------------------------------------- SAP

TnSapAnnouncer::TnSapAnnouncer() : mOrigin(0), mIntervalMs(1000), mSocket(-1), mStop(true), mDue(false) {}

TnSapAnnouncer::~TnSapAnnouncer()
{
    Stop();
}

TnResult TnSapAnnouncer::Start(uint32_t aOrigin, uint32_t aIntervalMs)
{
    Stop();
    mSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (mSocket < 0)
    {
        return SocketFailure("socket", errno);
    }
    in_addr lInterface;
    lInterface.s_addr = htonl(aOrigin);
    setsockopt(mSocket, IPPROTO_IP, IP_MULTICAST_IF, &lInterface, sizeof(lInterface));
    mOrigin = aOrigin;
    mIntervalMs = std::max<uint32_t>(100, aIntervalMs);
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mStop = false;
    }
    try
    {
        mThread = std::thread(&TnSapAnnouncer::Run, this);
    }
    catch (...)
    {
        close(mSocket);
        mSocket = -1;
        return TnResult(TN_THREAD_ERROR);
    }
    return TnResult(TN_OK);
}

void TnSapAnnouncer::Stop()
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mStop = true;
    }
    mWake.notify_all();
    if (mThread.joinable())
    {
        mThread.join();
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    for (const auto &lSession : mSessions)
    {
        Send(lSession.second, true);
    }
    mSessions.clear();
    if (mSocket >= 0)
    {
        close(mSocket);
        mSocket = -1;
    }
}

void TnSapAnnouncer::Set(uint32_t aKey, const std::string &aSdp)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    Session &lSession = mSessions[aKey];
    if (lSession.mSdp == aSdp)
    {
        return;
    }
    if (!lSession.mSdp.empty())
    {
        Send(lSession, true); // the former description is withdrawn
    }
    lSession.mSdp = aSdp;
    // The message identifier hash: changes whenever the description does.
    uint32_t lHash = 2166136261u;
    for (const char lChar : aSdp)
    {
        lHash = (lHash ^ static_cast<uint8_t>(lChar)) * 16777619u;
    }
    lSession.mHash = static_cast<uint16_t>((lHash >> 16) ^ lHash ^ aKey);
    mDue = true;
    mWake.notify_all();
}

void TnSapAnnouncer::Remove(uint32_t aKey)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    const auto lFound = mSessions.find(aKey);
    if (lFound == mSessions.end())
    {
        return;
    }
    Send(lFound->second, true);
    mSessions.erase(lFound);
}

void TnSapAnnouncer::Send(const Session &aSession, bool aDeletion)
{
    if (mSocket < 0)
    {
        return;
    }
    const std::vector<uint8_t> lPacket = BuildSapPacket(mOrigin, aSession.mHash, aSession.mSdp, aDeletion);
    const sockaddr_in lGroup = SocketAddress(kSapGroup, kSapPort);
    sendto(mSocket, lPacket.data(), lPacket.size(), 0, reinterpret_cast<const sockaddr *>(&lGroup), sizeof(lGroup));
}

void TnSapAnnouncer::Run()
{
    std::unique_lock<std::mutex> lLock(mMutex);
    while (!mStop)
    {
        mWake.wait_for(lLock, std::chrono::milliseconds(mIntervalMs), [this] { return mStop || mDue; });
        if (mStop)
        {
            break;
        }
        mDue = false;
        for (const auto &lSession : mSessions)
        {
            Send(lSession.second, false);
        }
    }
}
} // namespace gev
} // namespace tn
