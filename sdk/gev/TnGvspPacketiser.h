// Cutting one block into stream packets: the leader, the payload packets and
// the trailer, with standard or extended ids, for the stream sender and for
// tests that craft traffic.
//
// Nothing here allocates or copies payload: a packet is a small header buffer
// (GVSP header, and the leader or trailer) followed by pointers into the
// block's own memory, ready for scatter-gather sends.
#ifndef TN_GVSP_PACKETISER_H
#define TN_GVSP_PACKETISER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/uio.h>

#include "TnGevExport.h"
#include "TnGvsp.h"

namespace tn
{
namespace gev
{
/// Room for the largest header buffer a packet needs: an extended header
/// with an image leader.
constexpr size_t kGvspMaxHeaderBufferSize = 64;
/// The most vectors one packet takes: its header buffer and payload from
/// both segments of a block (an RTP raw-video packet: a stretch per line
/// segment).
constexpr size_t kGvspMaxPacketVectors = 9;
/// The smallest packet size (IP, UDP and stream headers included) a sender
/// takes: room for the headers and a little payload.
constexpr uint32_t kGvspMinPacketSize = 128;
/// The largest packet size: a whole UDP datagram.
constexpr uint32_t kGvspMaxPacketSize = 65535;

/// The block id after aBlockId. Standard ids are 16 bits and skip 0 when they
/// wrap (65535 is followed by 1); extended ids are 64 bits and skip 0 too.
inline uint64_t NextGvspBlockId(uint64_t aBlockId, bool aExtendedIds)
{
    uint64_t lNext = aExtendedIds ? aBlockId + 1 : ((aBlockId + 1) & 0xFFFFu);
    return lNext == 0 ? 1 : lNext;
}

/// Payload bytes a payload packet carries at a packet size (IP, UDP and
/// stream headers included); 0 when the size leaves no room.
inline uint32_t GvspPacketPayloadSize(uint32_t aPacketSize, bool aExtendedIds)
{
    const uint32_t lHeaders = static_cast<uint32_t>(kGvspIpUdpOverhead) +
                              static_cast<uint32_t>(aExtendedIds ? kGvspExtendedHeaderSize : kGvspHeaderSize);
    return aPacketSize > lHeaders ? aPacketSize - lHeaders : 0;
}

/// A stretch of a block's memory.
struct TnGvspSegment
{
    const uint8_t *mData = nullptr;
    size_t mSize = 0;
};

/// What one block sends: the leader's fields and the payload, in up to two
/// segments sent one after the other (main payload, then chunk data kept
/// apart). A GenDC block (payload type kGvspPayloadGenDC) sends its
/// container as the payload.
struct TnGvspBlock
{
    /// The payload type (kGvspPayloadChunkFlag when chunk data follows) and
    /// timestamp of every leader; the geometry of image leaders.
    TnGvspImageLeader mLeader;
    TnGvspSegment mSegments[2];

    size_t GetPayloadSize() const
    {
        return mSegments[0].mSize + mSegments[1].mSize;
    }
};

/// How a stream sender cuts blocks into datagrams: GVSP's packets, or RTP's
/// (TnRtpPacketiser). Begin per block, then Build any packet index below
/// GetPacketCount, in any order and as often as needed.
class TN_GEV_API ITnPacketLayout
{
public:
    virtual ~ITnPacketLayout();
    virtual bool Begin(const TnGvspBlock &aBlock, uint64_t aBlockId) = 0;
    virtual uint32_t GetPacketCount() const = 0;
    /// One packet: its header buffer goes to aHeader
    /// (kGvspMaxHeaderBufferSize bytes), the vectors to aVectors
    /// (kGvspMaxPacketVectors entries). Returns the number of vectors, 0 for
    /// an index outside the block; aDatagramSize receives the length.
    virtual size_t Build(uint32_t aIndex, uint16_t aStatus, uint8_t *aHeader, iovec *aVectors,
                         size_t &aDatagramSize) const = 0;
};

/// Lays out the packets of one block at a time. Configure once per stream
/// setting, Begin per block, then Build any packet id, in any order and as
/// often as needed (resends). Packet ids are the layout's indexes.
class TN_GEV_API TnGvspPacketiser final : public ITnPacketLayout
{
public:
    /// False when the packet size is outside kGvspMinPacketSize to
    /// kGvspMaxPacketSize.
    bool Configure(uint32_t aPacketSize, bool aExtendedIds);

    /// Starts a block. False when its packets do not fit the id range
    /// (standard ids: 24-bit packet ids), when the packetiser is not
    /// configured, or when a segment has a size but no data.
    bool Begin(const TnGvspBlock &aBlock, uint64_t aBlockId) override;

    uint32_t GetPacketSize() const
    {
        return mPacketSize;
    }

    bool GetExtendedIds() const
    {
        return mExtendedIds;
    }

    /// Payload bytes of every payload packet but the last.
    uint32_t GetPayloadPerPacket() const
    {
        return mPayloadPerPacket;
    }

    uint64_t GetBlockId() const
    {
        return mBlockId;
    }

    /// Payload packets of the block (N); ids run from 0 (leader) to N + 1
    /// (trailer).
    uint32_t GetDataPacketCount() const
    {
        return mDataPackets;
    }

    uint32_t GetLastPacketId() const
    {
        return mDataPackets + 1;
    }

    uint32_t GetPacketCount() const override
    {
        return mPayloadPerPacket == 0 ? 0 : mDataPackets + 2;
    }

    /// One packet of the current block: its header buffer goes to aHeader
    /// (kGvspMaxHeaderBufferSize bytes), the vectors to aVectors
    /// (kGvspMaxPacketVectors entries). Returns the number of vectors, 0 for
    /// a packet id outside the block. aDatagramSize receives the datagram's
    /// length.
    size_t Build(uint32_t aPacketId, uint16_t aStatus, uint8_t *aHeader, iovec *aVectors,
                 size_t &aDatagramSize) const override;

private:
    uint32_t mPacketSize = 0;
    bool mExtendedIds = false;
    uint32_t mPayloadPerPacket = 0;
    uint32_t mDataPackets = 0;
    uint64_t mBlockId = 0;
    TnGvspBlock mBlock;
};

/// A test packet of exactly aPacketSize bytes on the wire (aPacketSize - 28
/// bytes of datagram): a standard header of format 0, block 0 and packet 0,
/// and filler. aOut has room for the datagram; returns its size, 0 for a
/// packet size too small for the header.
TN_GEV_API size_t BuildGvspTestPacket(uint8_t *aOut, uint32_t aPacketSize);

/// Whether a datagram is a test packet.
inline bool IsGvspTestPacket(const TnGvspHeader &aHeader)
{
    return aHeader.mFormat == 0 && aHeader.mBlockId == 0 && aHeader.mPacketId == 0;
}
} // namespace gev
} // namespace tn

#endif
