#include "TnUdpSocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "TnWait.h"

namespace tn
{
namespace gev
{
TnResult SocketFailure(const char *aWhat, int aError, uint32_t aCode)
{
    std::string lText(aWhat);
    lText += ": ";
    lText += strerror(aError);
    return TnResult(aCode, static_cast<uint32_t>(aError), TnString(lText.c_str()));
}

TnResult JoinMulticastGroup(int aHandle, uint32_t aGroup, uint32_t aInterface)
{
    ip_mreq lRequest;
    memset(&lRequest, 0, sizeof(lRequest));
    lRequest.imr_multiaddr.s_addr = htonl(aGroup);
    lRequest.imr_interface.s_addr = htonl(aInterface);
    if (setsockopt(aHandle, IPPROTO_IP, IP_ADD_MEMBERSHIP, &lRequest, sizeof(lRequest)) != 0)
    {
        return SocketFailure("IP_ADD_MEMBERSHIP", errno);
    }
    return TnResult(TN_OK);
}

void SetLargeReceiveBuffer(int aHandle, int aBytes)
{
    setsockopt(aHandle, SOL_SOCKET, SO_RCVBUF, &aBytes, sizeof(aBytes));
    int lActual = 0;
    socklen_t lLength = sizeof(lActual);
    if (getsockopt(aHandle, SOL_SOCKET, SO_RCVBUF, &lActual, &lLength) == 0 && lActual < aBytes)
    {
        setsockopt(aHandle, SOL_SOCKET, SO_RCVBUFFORCE, &aBytes, sizeof(aBytes));
    }
}

sockaddr_in SocketAddress(uint32_t aAddress, uint16_t aPort)
{
    sockaddr_in lAddress;
    memset(&lAddress, 0, sizeof(lAddress));
    lAddress.sin_family = AF_INET;
    lAddress.sin_addr.s_addr = htonl(aAddress);
    lAddress.sin_port = htons(aPort);
    return lAddress;
}

uint64_t MonotonicMilliseconds()
{
    timespec lNow;
    clock_gettime(CLOCK_MONOTONIC, &lNow);
    return static_cast<uint64_t>(lNow.tv_sec) * 1000u + static_cast<uint64_t>(lNow.tv_nsec) / 1000000u;
}

uint64_t MonotonicMicroseconds()
{
    return MonotonicNanoseconds() / 1000u;
}

uint64_t MonotonicNanoseconds()
{
    timespec lNow;
    clock_gettime(CLOCK_MONOTONIC, &lNow);
    return static_cast<uint64_t>(lNow.tv_sec) * 1000000000u + static_cast<uint64_t>(lNow.tv_nsec);
}

uint32_t LocalAddressFor(uint32_t aDestination)
{
    const int lHandle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (lHandle < 0)
    {
        return 0;
    }
    // Connecting a datagram socket sends nothing; it only picks the route.
    const sockaddr_in lTarget = SocketAddress(aDestination, 9);
    uint32_t lLocal = 0;
    if (connect(lHandle, reinterpret_cast<const sockaddr *>(&lTarget), sizeof(lTarget)) == 0)
    {
        sockaddr_in lBound;
        socklen_t lLength = sizeof(lBound);
        if (getsockname(lHandle, reinterpret_cast<sockaddr *>(&lBound), &lLength) == 0)
        {
            lLocal = ntohl(lBound.sin_addr.s_addr);
        }
    }
    ::close(lHandle);
    return lLocal;
}

TnUdpSocket::TnUdpSocket() : mHandle(-1), mLocalAddress(0), mLocalPort(0) {}

TnUdpSocket::~TnUdpSocket()
{
    Close();
}

TnUdpSocket::TnUdpSocket(TnUdpSocket &&aOther) noexcept
    : mHandle(aOther.mHandle), mLocalAddress(aOther.mLocalAddress), mLocalPort(aOther.mLocalPort)
{
    aOther.mHandle = -1;
}

TnUdpSocket &TnUdpSocket::operator=(TnUdpSocket &&aOther) noexcept
{
    if (this != &aOther)
    {
        Close();
        mHandle = aOther.mHandle;
        mLocalAddress = aOther.mLocalAddress;
        mLocalPort = aOther.mLocalPort;
        aOther.mHandle = -1;
    }
    return *this;
}

TnResult TnUdpSocket::Open(uint32_t aLocalAddress, uint16_t aLocalPort, const std::string &aInterface)
{
    return OpenWith(aLocalAddress, aLocalPort, aInterface, false);
}

TnResult TnUdpSocket::OpenShared(uint32_t aLocalAddress, uint16_t aLocalPort)
{
    return OpenWith(aLocalAddress, aLocalPort, std::string(), true);
}

TnResult TnUdpSocket::OpenWith(uint32_t aLocalAddress, uint16_t aLocalPort, const std::string &aInterface,
                               bool aShared)
{
    Close();
    const int lHandle = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (lHandle < 0)
    {
        return SocketFailure("socket", errno);
    }
    if (aShared)
    {
        const int lOne = 1;
        setsockopt(lHandle, SOL_SOCKET, SO_REUSEADDR, &lOne, sizeof(lOne));
    }
    if (!aInterface.empty())
    {
        if (aInterface.size() >= 16 ||
            setsockopt(lHandle, SOL_SOCKET, SO_BINDTODEVICE, aInterface.c_str(),
                       static_cast<socklen_t>(aInterface.size() + 1)) != 0)
        {
            const int lError = aInterface.size() >= 16 ? EINVAL : errno;
            ::close(lHandle);
            return SocketFailure("SO_BINDTODEVICE", lError);
        }
    }
    const sockaddr_in lAddress = SocketAddress(aLocalAddress, aLocalPort);
    if (bind(lHandle, reinterpret_cast<const sockaddr *>(&lAddress), sizeof(lAddress)) != 0)
    {
        const int lError = errno;
        ::close(lHandle);
        return SocketFailure("bind", lError);
    }
    sockaddr_in lBound;
    socklen_t lLength = sizeof(lBound);
    if (getsockname(lHandle, reinterpret_cast<sockaddr *>(&lBound), &lLength) != 0)
    {
        const int lError = errno;
        ::close(lHandle);
        return SocketFailure("getsockname", lError);
    }
    mHandle = lHandle;
    mLocalAddress = ntohl(lBound.sin_addr.s_addr);
    mLocalPort = ntohs(lBound.sin_port);
    return TnResult(TN_OK);
}

void TnUdpSocket::Close()
{
    if (mHandle >= 0)
    {
        ::close(mHandle);
        mHandle = -1;
    }
    mLocalAddress = 0;
    mLocalPort = 0;
}

bool TnUdpSocket::IsOpen() const
{
    return mHandle >= 0;
}

TnResult TnUdpSocket::SetBroadcast(bool aEnabled)
{
    if (mHandle < 0)
    {
        return TnResult(TN_NOT_INITIALIZED);
    }
    const int lValue = aEnabled ? 1 : 0;
    if (setsockopt(mHandle, SOL_SOCKET, SO_BROADCAST, &lValue, sizeof(lValue)) != 0)
    {
        return SocketFailure("SO_BROADCAST", errno);
    }
    return TnResult(TN_OK);
}

TnResult TnUdpSocket::SetReceiveBufferSize(int aBytes)
{
    if (mHandle < 0)
    {
        return TnResult(TN_NOT_INITIALIZED);
    }
    if (setsockopt(mHandle, SOL_SOCKET, SO_RCVBUF, &aBytes, sizeof(aBytes)) != 0)
    {
        return SocketFailure("SO_RCVBUF", errno);
    }
    return TnResult(TN_OK);
}

TnResult TnUdpSocket::SetSendBufferSize(int aBytes)
{
    if (mHandle < 0)
    {
        return TnResult(TN_NOT_INITIALIZED);
    }
    if (setsockopt(mHandle, SOL_SOCKET, SO_SNDBUF, &aBytes, sizeof(aBytes)) != 0)
    {
        return SocketFailure("SO_SNDBUF", errno);
    }
    return TnResult(TN_OK);
}

TnResult TnUdpSocket::SendTo(uint32_t aAddress, uint16_t aPort, const void *aData, size_t aSize)
{
    if (mHandle < 0)
    {
        return TnResult(TN_NOT_INITIALIZED);
    }
    if (aData == nullptr && aSize > 0)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    const sockaddr_in lAddress = SocketAddress(aAddress, aPort);
    for (int lAttempt = 0; lAttempt < 100; ++lAttempt)
    {
        const ssize_t lSent = sendto(mHandle, aData, aSize, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&lAddress),
                                     sizeof(lAddress));
        if (lSent >= 0)
        {
            if (static_cast<size_t>(lSent) != aSize)
            {
                return TnResult(TN_NETWORK_ERROR, TnString("sendto: datagram cut short"));
            }
            return TnResult(TN_OK);
        }
        if (errno == EINTR)
        {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)
        {
            // The send queue is full: wait for room, a little at a time.
            pollfd lPoll = {mHandle, POLLOUT, 0};
            poll(&lPoll, 1, 10);
            continue;
        }
        return SocketFailure("sendto", errno);
    }
    return TnResult(TN_TIMEOUT, TnString("sendto: no room in the send queue"));
}

bool TnUdpSocket::WaitReadable(uint32_t aTimeoutMs) const
{
    if (mHandle < 0)
    {
        return false;
    }
    const uint64_t lDeadline = MonotonicMilliseconds() + aTimeoutMs;
    for (;;)
    {
        const uint64_t lNow = MonotonicMilliseconds();
        const int lWait = lNow >= lDeadline ? 0 : static_cast<int>(std::min<uint64_t>(lDeadline - lNow, 1000));
        pollfd lPoll = {mHandle, POLLIN, 0};
        const int lReady = tn::Poll(&lPoll, 1, lWait);
        if (lReady > 0)
        {
            return true;
        }
        if ((lReady < 0 && errno != EINTR) || tn::Interrupted())
        {
            return false;
        }
        if (lWait == 0)
        {
            return false;
        }
    }
}

TnResult TnUdpSocket::ReceiveFrom(void *aBuffer, size_t aCapacity, size_t &aReceived, uint32_t &aAddress,
                                  uint16_t &aPort, uint32_t aTimeoutMs)
{
    aReceived = 0;
    if (mHandle < 0)
    {
        return TnResult(TN_NOT_INITIALIZED);
    }
    if (aBuffer == nullptr && aCapacity > 0)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    const uint64_t lDeadline = MonotonicMilliseconds() + aTimeoutMs;
    for (;;)
    {
        sockaddr_in lFrom;
        iovec lVector = {aBuffer, aCapacity};
        msghdr lMessage;
        memset(&lMessage, 0, sizeof(lMessage));
        lMessage.msg_name = &lFrom;
        lMessage.msg_namelen = sizeof(lFrom);
        lMessage.msg_iov = &lVector;
        lMessage.msg_iovlen = 1;
        const ssize_t lSize = recvmsg(mHandle, &lMessage, 0);
        if (lSize >= 0)
        {
            aReceived = static_cast<size_t>(lSize);
            aAddress = ntohl(lFrom.sin_addr.s_addr);
            aPort = ntohs(lFrom.sin_port);
            if ((lMessage.msg_flags & MSG_TRUNC) != 0)
            {
                return TnResult(TN_BUFFER_TOO_SMALL);
            }
            return TnResult(TN_OK);
        }
        if (errno == EINTR)
        {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK)
        {
            // Errors queued by earlier sends (an unreachable port) belong to
            // no datagram: report them, the next call reads on.
            return SocketFailure("recvmsg", errno);
        }
        const uint64_t lNow = MonotonicMilliseconds();
        if (lNow >= lDeadline)
        {
            return TnResult(TN_TIMEOUT);
        }
        pollfd lPoll = {mHandle, POLLIN, 0};
        const int lReady = tn::Poll(&lPoll, 1, static_cast<int>(std::min<uint64_t>(lDeadline - lNow, 1000)));
        if (lReady < 0 && errno != EINTR)
        {
            return SocketFailure("poll", errno);
        }
        if (tn::Interrupted())
        {
            return TnResult(TN_ABORTED, TnString("recvmsg: interrupted"));
        }
    }
}

uint32_t TnUdpSocket::GetLocalAddress() const
{
    return mLocalAddress;
}

uint16_t TnUdpSocket::GetLocalPort() const
{
    return mLocalPort;
}

int TnUdpSocket::GetHandle() const
{
    return mHandle;
}
} // namespace gev
} // namespace tn
