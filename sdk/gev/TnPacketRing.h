// The packet ring: how a stream's datagrams are received without a system
// call per packet. The kernel copies each IPv4 packet that a socket filter
// lets through into a memory-mapped ring of blocks (AF_PACKET, TPACKET_V3) in
// its receive path; the receiver reads a whole block of packets at a time
// and hands it back. Opening one needs CAP_NET_RAW.
//
// The pure part, tested with crafted memory: walking a block the way the
// kernel lays it out (ForEachRingPacket), checking a packet's IPv4 and UDP
// headers before any field of them is trusted (ParseRingDatagram), and the
// socket filters (RingFilterProgram, SocketFilterProgram). TnPacketRing is
// the rest: the socket, the mapping and the hand-over of blocks.
//
// Each datagram is taken once: the ring takes what arrives on its interface
// unfragmented and no longer than the interface's MTU allows; the stream's
// UDP socket stays open (so that the port is in use and the kernel sends no
// port-unreachable answers) with a filter that lets through only what the
// ring cannot see: datagrams that came on another interface or were
// reassembled from fragments.
#ifndef TN_PACKET_RING_H
#define TN_PACKET_RING_H

#include <linux/filter.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <type_traits>
#include <vector>

#include "TnGevExport.h"
#include "TnResult.h"
#include "TnRingGate.h"

namespace tn
{
namespace gev
{
namespace ring_layout
{
// The fixed layout of TPACKET_V3 (linux/if_packet.h), read field by field
// so that the walk needs no kernel structure.
constexpr size_t kBlockStatus = 8;
constexpr size_t kBlockPackets = 12;
constexpr size_t kBlockFirst = 16;
constexpr size_t kBlockOpenSec = 32;  // ts_first_pkt: when the kernel opened the block
constexpr size_t kBlockOpenNsec = 36;
constexpr size_t kPacketNext = 0;
constexpr size_t kPacketSec = 4;
constexpr size_t kPacketNsec = 8;
constexpr size_t kPacketSnapLength = 12;
constexpr size_t kPacketLength = 16;
constexpr size_t kPacketStatus = 20;
constexpr size_t kPacketNet = 26;
constexpr size_t kPacketHeaderSize = 48;  // tpacket3_hdr, aligned to 16
constexpr size_t kAddressPacketType = 10; // sll_pkttype in the sockaddr_ll after the header

inline uint32_t Get32(const uint8_t *aData)
{
    uint32_t lValue;
    __builtin_memcpy(&lValue, aData, sizeof(lValue));
    return lValue;
}

inline uint16_t Get16(const uint8_t *aData)
{
    uint16_t lValue;
    __builtin_memcpy(&lValue, aData, sizeof(lValue));
    return lValue;
}
} // namespace ring_layout

/// One packet in a ring block, as the kernel describes it.
struct TnRingPacket
{
    const uint8_t *mData = nullptr; ///< the IPv4 header
    uint32_t mCaptured = 0;         ///< bytes in the ring
    uint32_t mLength = 0;           ///< bytes the packet had
    uint32_t mStatus = 0;           ///< TP_STATUS_* flags of the packet
    uint8_t mPacketType = 0;        ///< PACKET_HOST, PACKET_MULTICAST, ...
    uint64_t mTimeNs = 0;           ///< when the kernel took it (its real-time clock)
};

/// Calls aVisit(const TnRingPacket &) with every packet of the ring block at
/// aBlock (aBlockSize bytes, TPACKET_V3 layout), in order; a visit that
/// returns false ends the walk, as does a packet whose description points
/// outside the block. Returns the packets visited.
template <typename Visit>
size_t ForEachRingPacket(const uint8_t *aBlock, size_t aBlockSize, Visit &&aVisit);

/// Which datagrams a stream takes from the ring.
struct TnRingFilter
{
    uint32_t mAddress = 0; ///< destination address (host order); 0: any
    uint16_t mPort = 0;    ///< destination port
    /// Datagrams whose UDP length (header included) exceeds this are the
    /// UDP socket's (SocketFilterProgram lets them through there).
    uint32_t mLargestDatagram = 65535;
};

enum class TnRingVerdict : uint8_t
{
    kTaken,     ///< a datagram of the stream: aPayload, aPayloadSize
    kForeign,   ///< not for this stream, or the UDP socket's to take
    kFragment,  ///< part of a fragmented datagram (the UDP socket gets it whole)
    kTruncated, ///< longer than the ring's room for a packet
    kMalformed  ///< lengths or checksums that do not add up
};

/// Checks the packet's IPv4 and UDP headers (version, lengths, header
/// checksum, fragments, addresses, and the UDP checksum unless the kernel
/// vouches for it) and finds the UDP payload.
TN_GEV_API TnRingVerdict ParseRingDatagram(const TnRingPacket &aPacket, const TnRingFilter &aFilter,
                                           const uint8_t *&aPayload, size_t &aPayloadSize);

/// The one's-complement sum of aSize bytes added to aSum, not folded.
TN_GEV_API uint64_t InternetSum(const uint8_t *aData, size_t aSize, uint64_t aSum = 0);

/// aSum folded into 16 bits.
TN_GEV_API uint16_t FoldInternetSum(uint64_t aSum);

/// The GigE Vision block and packet ids of a packet of the stream, read
/// with only the checks that reading them needs (no checksum); false when
/// the packet is none of the stream's.
TN_GEV_API bool RingPacketIds(const TnRingPacket &aPacket, const TnRingFilter &aFilter, TnRingNewest &aIds);

/// The packet socket's filter (it sees packets from their network header
/// on): incoming IPv4 UDP packets to aFilter's port (and address, when
/// given), no fragments; of those, what aWindow takes (TnRingGate.h).
TN_GEV_API std::vector<sock_filter> RingFilterProgram(const TnRingFilter &aFilter);
TN_GEV_API std::vector<sock_filter> RingFilterProgram(const TnRingFilter &aFilter, const TnRingWindow &aWindow);

/// The UDP socket's filter while a ring serves its stream: only datagrams
/// that did not come on interface aInterfaceIndex or are longer than
/// aLargestDatagram.
TN_GEV_API std::vector<sock_filter> SocketFilterProgram(int aInterfaceIndex, uint32_t aLargestDatagram);

/// Programs that take every packet whole, and none.
TN_GEV_API std::vector<sock_filter> AcceptAllProgram();
TN_GEV_API std::vector<sock_filter> DropAllProgram();

/// The interface that holds the local IPv4 address aAddress (host order):
/// its index, name and MTU. False when none does.
TN_GEV_API bool FindInterface(uint32_t aAddress, int &aIndex, std::string &aName, uint32_t &aMtu);

/// Whether a packet ring could receive what comes to the local address
/// aAddress: an interface holds it and this process may open packet sockets.
TN_GEV_API bool CanOpenPacketRing(uint32_t aAddress);

/// Attaches a classic socket filter to aHandle.
TN_GEV_API TnResult AttachFilter(int aHandle, const std::vector<sock_filter> &aProgram);

struct TnPacketRingConfig
{
    int mInterfaceIndex = 0;
    TnRingFilter mFilter;
    size_t mSize = 32u << 20;      ///< bytes of the ring, a whole number of blocks
    size_t mBlockSize = 1u << 20;  ///< bytes of a block (a power of two, at least a page)
    uint32_t mBlockTimeoutMs = 1;  ///< a block that started filling is handed over after at most about this long
};

class TN_GEV_API TnPacketRing
{
public:
    TnPacketRing() = default;
    ~TnPacketRing();
    TnPacketRing(const TnPacketRing &) = delete;
    TnPacketRing &operator=(const TnPacketRing &) = delete;

    /// Opens the packet socket, its filter and ring, and binds it to the
    /// interface. TN_NOT_SUPPORTED without CAP_NET_RAW; the ring's memory
    /// is the kernel's, taken here at once (a ring the machine cannot hold
    /// fails here).
    TnResult Open(const TnPacketRingConfig &aConfig);
    void Close();
    bool IsOpen() const
    {
        return mHandle >= 0;
    }

    /// The descriptor to poll for POLLIN (a block was handed over).
    int GetHandle() const
    {
        return mHandle;
    }

    /// The next block the kernel handed over, or null; aSize its size.
    const uint8_t *Next(size_t &aSize) const;
    /// Gives the block Next returned back to the kernel and moves on.
    void Release();

    /// Whether the kernel has handed over aAhead blocks or more that have not
    /// been read (the next aAhead blocks are all handed over).
    bool IsBehind(size_t aAhead) const;

    /// The blocks handed over and not yet given back (the one Next returned
    /// among them).
    size_t CountUnread() const;

    /// The newest block handed over, or null; aSize its size.
    const uint8_t *Newest(size_t &aSize) const;

    size_t GetBlockCount() const
    {
        return mBlockCount;
    }

    /// The packets in a block handed over.
    static uint32_t CountPackets(const uint8_t *aBlock)
    {
        return ring_layout::Get32(aBlock + ring_layout::kBlockPackets);
    }

    /// What of the packets the kernel took the receiver has not read yet.
    enum class Unread : uint8_t
    {
        kNone,    ///< none: the block the kernel fills is empty
        kHeld,    ///< some, in the block the kernel fills: it opened at aSinceNs
        kHandedOver ///< the next block is handed over, not yet read: it opened at aSinceNs
    };
    /// aSinceNs on the kernel's real-time clock; no packet taken before it
    /// is unread.
    Unread GetUnread(uint64_t &aSinceNs) const;

    /// Packets the ring dropped (it was full) since the last call.
    uint64_t TakeDrops();

    const TnPacketRingConfig &GetConfig() const
    {
        return mConfig;
    }

private:
    TnPacketRingConfig mConfig;
    int mHandle = -1;
    uint8_t *mMap = nullptr;
    size_t mMapSize = 0;
    size_t mBlockCount = 0;
    size_t mCurrent = 0;
    uint64_t mCurrentCount = 0;     // blocks given back since the ring opened
    mutable uint64_t mFrontier = 0; // all blocks before it (in that count) were handed over when last looked at
};

// ---------------------------------------------------------------- inline

template <typename Visit>
size_t ForEachRingPacket(const uint8_t *aBlock, size_t aBlockSize, Visit &&aVisit)
{
    using namespace ring_layout;
    if (aBlockSize < kBlockFirst + 4)
    {
        return 0;
    }
    const uint32_t lCount = Get32(aBlock + kBlockPackets);
    size_t lOffset = Get32(aBlock + kBlockFirst);
    size_t lVisited = 0;
    for (uint32_t lIndex = 0; lIndex < lCount; ++lIndex)
    {
        if (lOffset < kBlockFirst + 4 || lOffset > aBlockSize ||
            aBlockSize - lOffset < kPacketHeaderSize + kAddressPacketType + 1)
        {
            break;
        }
        const uint8_t *lHeader = aBlock + lOffset;
        TnRingPacket lPacket;
        const size_t lNet = Get16(lHeader + kPacketNet);
        lPacket.mCaptured = Get32(lHeader + kPacketSnapLength);
        if (lNet > aBlockSize - lOffset || lPacket.mCaptured > aBlockSize - lOffset - lNet)
        {
            break;
        }
        lPacket.mData = lHeader + lNet;
        lPacket.mLength = Get32(lHeader + kPacketLength);
        lPacket.mStatus = Get32(lHeader + kPacketStatus);
        lPacket.mPacketType = lHeader[kPacketHeaderSize + kAddressPacketType];
        lPacket.mTimeNs = uint64_t(Get32(lHeader + kPacketSec)) * 1000000000u + Get32(lHeader + kPacketNsec);
        ++lVisited;
        if constexpr (std::is_same<decltype(aVisit(static_cast<const TnRingPacket &>(lPacket))), bool>::value)
        {
            if (!aVisit(static_cast<const TnRingPacket &>(lPacket)))
            {
                break;
            }
        }
        else
        {
            aVisit(static_cast<const TnRingPacket &>(lPacket));
        }
        const uint32_t lNext = Get32(lHeader + kPacketNext);
        if (lNext == 0)
        {
            break;
        }
        lOffset += lNext;
    }
    return lVisited;
}
} // namespace gev
} // namespace tn

#endif
