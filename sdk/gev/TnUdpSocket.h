// A small IPv4 UDP socket: non-blocking, with waits bounded by poll.
#ifndef TN_UDP_SOCKET_H
#define TN_UDP_SOCKET_H

#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "TnGevExport.h"
#include "TnResult.h"

namespace tn
{
namespace gev
{
class TN_GEV_API TnUdpSocket
{
public:
    TnUdpSocket();
    ~TnUdpSocket();
    TnUdpSocket(TnUdpSocket &&aOther) noexcept;
    TnUdpSocket &operator=(TnUdpSocket &&aOther) noexcept;
    TnUdpSocket(const TnUdpSocket &) = delete;
    TnUdpSocket &operator=(const TnUdpSocket &) = delete;

    /// Opens the socket and binds it to a local address and port (0: any
    /// address, any free port). With aInterface, the socket also sends and
    /// receives only through that network interface; that needs privilege,
    /// and a refusal fails the open.
    TnResult Open(uint32_t aLocalAddress = 0, uint16_t aLocalPort = 0, const std::string &aInterface = std::string());

    /// Opens like Open, but lets other sockets bind the same address and port
    /// (SO_REUSEADDR), as a listener on a well-known port does.
    TnResult OpenShared(uint32_t aLocalAddress, uint16_t aLocalPort);

    void Close();
    bool IsOpen() const;

    TnResult SetBroadcast(bool aEnabled);
    TnResult SetReceiveBufferSize(int aBytes);
    TnResult SetSendBufferSize(int aBytes);

    /// Sends one datagram; a partial send is a failure.
    TnResult SendTo(uint32_t aAddress, uint16_t aPort, const void *aData, size_t aSize);

    /// Waits at most aTimeoutMs (0: only what is already there) for one
    /// datagram. TN_TIMEOUT when none came; TN_BUFFER_TOO_SMALL when the
    /// datagram was longer than aCapacity (it is consumed, aReceived tells
    /// what was kept).
    TnResult ReceiveFrom(void *aBuffer, size_t aCapacity, size_t &aReceived, uint32_t &aAddress, uint16_t &aPort,
                         uint32_t aTimeoutMs);

    /// Takes the datagrams already waiting, at most aLimit of them, without
    /// waiting for more: each whole one goes to aOnDatagram(const uint8_t
    /// *data, size_t size, uint32_t address, uint16_t port), which returns
    /// whether to go on. A datagram longer than aCapacity is dropped (and
    /// counted in aDropped, when given); a socket error ends the round.
    /// False when aOnDatagram asked to stop.
    template <typename OnDatagram>
    bool ReceiveWaiting(uint8_t *aBuffer, size_t aCapacity, size_t aLimit, OnDatagram &&aOnDatagram,
                        uint64_t *aDropped = nullptr);

    /// Whether a datagram is waiting, waiting at most aTimeoutMs.
    bool WaitReadable(uint32_t aTimeoutMs) const;

    uint32_t GetLocalAddress() const;
    uint16_t GetLocalPort() const;
    int GetHandle() const;

private:
    TnResult OpenWith(uint32_t aLocalAddress, uint16_t aLocalPort, const std::string &aInterface, bool aShared);

    int mHandle;
    uint32_t mLocalAddress;
    uint16_t mLocalPort;
};

template <typename OnDatagram>
bool TnUdpSocket::ReceiveWaiting(uint8_t *aBuffer, size_t aCapacity, size_t aLimit, OnDatagram &&aOnDatagram,
                                 uint64_t *aDropped)
{
    for (size_t lCount = 0; lCount < aLimit; ++lCount)
    {
        size_t lReceived = 0;
        uint32_t lAddress = 0;
        uint16_t lPort = 0;
        const TnResult lResult = ReceiveFrom(aBuffer, aCapacity, lReceived, lAddress, lPort, 0);
        if (lResult.GetCode() == TN_BUFFER_TOO_SMALL)
        {
            if (aDropped != nullptr)
            {
                ++*aDropped;
            }
            continue;
        }
        if (!lResult.IsOK())
        {
            return true; // nothing more is waiting, or the socket failed
        }
        if (!aOnDatagram(static_cast<const uint8_t *>(aBuffer), lReceived, lAddress, lPort))
        {
            return false;
        }
    }
    return true;
}

/// The failure of a system call: aCode with the error number and the text
/// "aWhat: the error's description".
TN_GEV_API TnResult SocketFailure(const char *aWhat, int aError, uint32_t aCode = TN_NETWORK_ERROR);

/// Joins the socket aHandle to the multicast group aGroup on the local
/// address aInterface (0: the system's choice).
TN_GEV_API TnResult JoinMulticastGroup(int aHandle, uint32_t aGroup, uint32_t aInterface);

/// Gives the socket aHandle a receive buffer of aBytes; past the system's
/// limit a privileged process still gets it.
TN_GEV_API void SetLargeReceiveBuffer(int aHandle, int aBytes);

/// An IPv4 socket address from an address and port in host order.
TN_GEV_API sockaddr_in SocketAddress(uint32_t aAddress, uint16_t aPort);

/// Milliseconds of a monotonic clock.
TN_GEV_API uint64_t MonotonicMilliseconds();

/// Microseconds of the same clock.
TN_GEV_API uint64_t MonotonicMicroseconds();

/// Nanoseconds of the same clock.
TN_GEV_API uint64_t MonotonicNanoseconds();

/// The local address the system would send from to reach aDestination; 0
/// when there is no route. Nothing is sent.
TN_GEV_API uint32_t LocalAddressFor(uint32_t aDestination);
} // namespace gev
} // namespace tn

#endif
