// The GigE Vision stream protocol (GVSP): packet headers, leaders, trailers
// and payload packets, for the stream receiver and the stream transmitter.
//
// A block (one image or other payload) travels as a leader (packet id 0),
// payload packets 1 to N and a trailer (N + 1), or as one all-in packet.
// A GenDC block's leader tells the container's size (as a raw-data leader
// tells its payload's), its payload packets take the GenDC format and carry
// the container's bytes in order, the descriptor first, each packet's at
// (packet id - 1) x the payload bytes per packet; its trailer names the
// payload type and nothing more.
// Decoders never read past the datagram they are given.
#ifndef TN_GVSP_H
#define TN_GVSP_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "TnGevExport.h"

namespace tn
{
namespace gev
{
constexpr size_t kGvspHeaderSize = 8;
constexpr size_t kGvspExtendedHeaderSize = 20;
constexpr uint8_t kGvspExtendedIdBit = 0x80;
constexpr uint32_t kGvspMaxStandardPacketId = 0x00FFFFFFu;

// Packet formats (low nibble of the format byte).
enum : uint8_t
{
    kGvspFormatLeader = 1,
    kGvspFormatTrailer = 2,
    kGvspFormatPayload = 3,
    kGvspFormatAllIn = 4,
    kGvspFormatH264 = 5,
    kGvspFormatMultiZone = 6,
    kGvspFormatMultipart = 7,
    kGvspFormatGenDC = 8
};

// Payload types of leaders and trailers.
enum : uint16_t
{
    kGvspPayloadImage = 0x0001,
    kGvspPayloadRawData = 0x0002,
    kGvspPayloadFile = 0x0003,
    kGvspPayloadChunkData = 0x0004,
    kGvspPayloadExtendedChunkData = 0x0005,
    kGvspPayloadJpeg = 0x0006,
    kGvspPayloadJpeg2000 = 0x0007,
    kGvspPayloadH264 = 0x0008,
    kGvspPayloadMultiZoneImage = 0x0009,
    kGvspPayloadMultipart = 0x000A,
    kGvspPayloadGenDC = 0x000B,
    kGvspPayloadDeviceSpecific = 0x8000,
    kGvspPayloadChunkFlag = 0x4000 // set on a payload type when chunks follow the data
};

constexpr size_t kGvspImageLeaderSize = 36;
constexpr size_t kGvspRawDataLeaderSize = 20;
constexpr size_t kGvspLeaderBaseSize = 12;
constexpr size_t kGvspTrailerSize = 8;
// IPv4 and UDP headers: a packet size (GevSCPSPacketSize) counts them, the
// datagram does not.
constexpr size_t kGvspIpUdpOverhead = 28;
constexpr size_t kGvspMultipartLeaderBaseSize = 12;
constexpr size_t kGvspPartDescriptionSize = 48;

struct TnGvspHeader
{
    uint16_t mStatus = 0;
    bool mExtendedIds = false;
    uint16_t mFlags = 0;  // extended ids only
    uint8_t mFormat = 0;  // kGvspFormat...
    uint64_t mBlockId = 0; // 16 bits with standard ids
    uint32_t mPacketId = 0; // 24 bits with standard ids

    size_t GetSize() const
    {
        return mExtendedIds ? kGvspExtendedHeaderSize : kGvspHeaderSize;
    }
};

/// A decoded packet: its header and where its payload lies in the datagram.
struct TnGvspPacket
{
    TnGvspHeader mHeader;
    const uint8_t *mPayload = nullptr;
    size_t mPayloadSize = 0;
};

struct TnGvspImageLeader
{
    uint16_t mReserved = 0;
    uint16_t mPayloadType = kGvspPayloadImage;
    uint64_t mTimestamp = 0;
    uint32_t mPixelFormat = 0;
    uint32_t mSizeX = 0;
    uint32_t mSizeY = 0;
    uint32_t mOffsetX = 0;
    uint32_t mOffsetY = 0;
    uint16_t mPaddingX = 0;
    uint16_t mPaddingY = 0;
};

/// The fields every leader starts with; the rest depends on the payload type.
struct TnGvspLeaderBase
{
    uint16_t mReserved = 0;
    uint16_t mPayloadType = 0;
    uint64_t mTimestamp = 0;
};

/// A raw-data leader: the base fields and the payload's length. A GenDC
/// leader has the same fields, the container's size as the length.
struct TnGvspRawDataLeader
{
    uint16_t mReserved = 0;
    uint16_t mPayloadType = kGvspPayloadRawData;
    uint64_t mTimestamp = 0;
    uint64_t mPayloadSize = 0;
};

struct TnGvspTrailer
{
    uint16_t mReserved = 0;
    uint16_t mPayloadType = kGvspPayloadImage;
    bool mHasSizeY = true; // image trailers carry the height actually sent
    uint32_t mSizeY = 0;
};

/// One part of a multipart leader. The description is kept as it came; the
/// accessors read its leading fields (data type, part length, pixel format).
struct TN_GEV_API TnGvspPartDescription
{
    uint8_t mBytes[kGvspPartDescriptionSize] = {};

    uint16_t GetDataType() const;
    uint64_t GetPartLength() const; // 48 bits
    uint32_t GetPixelFormat() const;
};

struct TnGvspMultipartLeader
{
    uint16_t mReserved = 0;
    uint16_t mPayloadType = kGvspPayloadMultipart;
    uint64_t mTimestamp = 0;
    std::vector<TnGvspPartDescription> mParts;
};

/// Appends a header. Standard ids take the low 16 bits of the block id and
/// the low 24 bits of the packet id.
TN_GEV_API void AppendGvspHeader(std::vector<uint8_t> &aPacket, const TnGvspHeader &aHeader);
/// Writes a header to aOut (room for aHeader.GetSize() bytes); returns its size.
TN_GEV_API size_t WriteGvspHeader(uint8_t *aOut, const TnGvspHeader &aHeader);
/// Write a leader's or trailer's payload to aOut; return the bytes written.
TN_GEV_API size_t WriteImageLeader(uint8_t *aOut, const TnGvspImageLeader &aLeader);
TN_GEV_API size_t WriteRawDataLeader(uint8_t *aOut, const TnGvspRawDataLeader &aLeader);
TN_GEV_API size_t WriteLeaderBase(uint8_t *aOut, const TnGvspLeaderBase &aLeader);
TN_GEV_API size_t WriteTrailer(uint8_t *aOut, const TnGvspTrailer &aTrailer);
/// Fails on a datagram shorter than its header.
TN_GEV_API bool DecodeGvspPacket(const uint8_t *aData, size_t aSize, TnGvspPacket &aPacket);

TN_GEV_API void AppendImageLeader(std::vector<uint8_t> &aPacket, const TnGvspImageLeader &aLeader);
TN_GEV_API void AppendTrailer(std::vector<uint8_t> &aPacket, const TnGvspTrailer &aTrailer);
TN_GEV_API void AppendMultipartLeader(std::vector<uint8_t> &aPacket, const TnGvspMultipartLeader &aLeader);

TN_GEV_API bool DecodeLeaderBase(const uint8_t *aPayload, size_t aSize, TnGvspLeaderBase &aLeader);
/// An image leader (payload type image, with or without chunks).
TN_GEV_API bool DecodeImageLeader(const uint8_t *aPayload, size_t aSize, TnGvspImageLeader &aLeader);
/// A raw-data leader (payload type raw data, with or without chunks) or a
/// GenDC leader.
TN_GEV_API bool DecodeRawDataLeader(const uint8_t *aPayload, size_t aSize, TnGvspRawDataLeader &aLeader);
/// A trailer; the height is read when it is there.
TN_GEV_API bool DecodeTrailer(const uint8_t *aPayload, size_t aSize, TnGvspTrailer &aTrailer);
/// A multipart leader: the base fields and a whole number of descriptions.
TN_GEV_API bool DecodeMultipartLeader(const uint8_t *aPayload, size_t aSize, TnGvspMultipartLeader &aLeader);

/// Bits per pixel of a pixel format (its bits 16 to 23); 0 when not given.
inline uint32_t PixelFormatBits(uint32_t aPixelFormat)
{
    return (aPixelFormat >> 16) & 0xFF;
}

/// Bytes of the image an image leader describes, paddings included: lines of
/// ceil(width * bits / 8) + padding X bytes (without padding X the lines
/// follow each other bit for bit), then padding Y; UINT64_MAX for sizes
/// past 64 bits. False for a pixel format without a bit count.
TN_GEV_API bool GetImageLeaderSize(const TnGvspImageLeader &aLeader, uint64_t &aSize);

/// The bytes of every part a multipart leader's payload describes, one
/// after the other; false when it is no multipart leader.
TN_GEV_API bool GetMultipartLeaderSize(const uint8_t *aPayload, size_t aSize, uint64_t &aTotal);

/// The payload type without the chunk flag.
inline uint16_t BasePayloadType(uint16_t aPayloadType)
{
    return static_cast<uint16_t>(aPayloadType & ~kGvspPayloadChunkFlag);
}

/// Whether a leader of this payload type tells the payload's length in the
/// raw-data leader's layout.
inline bool HasSizedLeader(uint16_t aPayloadType)
{
    const uint16_t lBase = BasePayloadType(aPayloadType);
    return lBase == kGvspPayloadRawData || lBase == kGvspPayloadGenDC;
}

/// The format of a block's payload packets: GenDC blocks their own, every
/// other block the plain payload format.
inline uint8_t PayloadFormatOf(uint16_t aPayloadType)
{
    return BasePayloadType(aPayloadType) == kGvspPayloadGenDC ? kGvspFormatGenDC : kGvspFormatPayload;
}
} // namespace gev
} // namespace tn

#endif
