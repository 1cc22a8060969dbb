// RTP for image streams, the parts both sides share: the fixed header
// (RFC 3550), raw video payloads (RFC 4175) and their pixel groups, H.264
// payloads (RFC 6184), the 2-byte length before each packet of RTP over TCP
// (RFC 4571), and the session description (SDP, RFC 4566) that SAP
// (RFC 2974) announces. Pure logic: no sockets, no clock.
//
// TnRtpPacketiser lays out the packets of one block as the stream sender
// sends them (it is one of the sender's packet layouts, beside GVSP's):
// an image block as raw video, line segments filling each packet in turn; an
// H.264 block (an access unit in Annex B form) as single NAL unit packets and
// FU-A fragments. The packets point into the block's own memory.
#ifndef TN_RTP_H
#define TN_RTP_H

#include <stddef.h>
#include <stdint.h>
#include <sys/uio.h>

#include <string>
#include <vector>

#include "TnGevExport.h"
#include "TnGvspPacketiser.h"

namespace tn
{
namespace gev
{
constexpr size_t kRtpHeaderSize = 12;
/// The payload type a sender of this SDK uses (the first dynamic one).
constexpr uint8_t kRtpDynamicPayloadType = 96;
/// The clock of video payloads' timestamps.
constexpr uint32_t kRtpVideoClockRate = 90000;
/// A raw-video payload: the extended sequence number, then 6 bytes per line
/// segment (length, field and line number, continuation and offset).
constexpr size_t kRtpRawExtendedSequenceSize = 2;
constexpr size_t kRtpRawLineHeaderSize = 6;
/// Line numbers and offsets are 15-bit fields.
constexpr uint32_t kRtpRawMaxLines = 0x8000;
/// Line segments one packet carries at most when this SDK sends: room for
/// the headers in the sender's header buffer.
constexpr size_t kRtpRawMaxSegments = 8;
/// An RTP packet of a stream over TCP follows its length in 2 bytes.
constexpr size_t kRtpTcpLengthSize = 2;
/// H.264 NAL unit types of the payload format: aggregation and fragments.
constexpr uint8_t kH264StapA = 24;
constexpr uint8_t kH264FuA = 28;

/// The fixed header of a packet, and where its payload lies.
struct TnRtpHeader
{
    uint8_t mPayloadType = 0;
    bool mMarker = false;
    uint16_t mSequence = 0;
    uint32_t mTimestamp = 0;
    uint32_t mSsrc = 0;
    /// The fixed header, contributing sources and header extension.
    size_t mHeaderSize = 0;
    /// The payload after the header, padding left out.
    size_t mPayloadSize = 0;
};

/// Decodes a packet's header; false for anything that is no version 2 RTP
/// packet (RTCP sent to the same port included) or whose lengths do not fit.
TN_GEV_API bool DecodeRtpHeader(const uint8_t *aData, size_t aSize, TnRtpHeader &aHeader);

/// Writes a fixed header of kRtpHeaderSize bytes (no contributing sources,
/// no extension, no padding).
TN_GEV_API void EncodeRtpHeader(uint8_t *aOut, uint8_t aPayloadType, bool aMarker, uint16_t aSequence,
                                uint32_t aTimestamp, uint32_t aSsrc);

/// A timestamp of the 90 kHz video clock from nanoseconds.
inline uint32_t RtpVideoTimestamp(uint64_t aNanoseconds)
{
    return static_cast<uint32_t>((aNanoseconds / 1000u) * 9u / 100u);
}

/// How a pixel type travels as raw video: groups of mGroupPixels pixels in
/// mGroupBytes bytes, the pixel type's own bytes in the order of the RFC 4175
/// sampling mSampling at 8 bits per sample.
struct TnRawSampling
{
    uint32_t mGroupBytes = 0;
    uint32_t mGroupPixels = 0;
    const char *mSampling = "";
};

/// The sampling of a pixel type whose bytes are those of a raw-video
/// sampling: 8-bit RGB, BGR, RGBA, BGRA, YCbCr 4:4:4 (UYV), 4:2:2 (UYVY) and
/// 4:1:1 (UYYVYY), and single 8-bit samples (Mono8 and the 8-bit Bayer
/// types, announced as "GRAYSCALE"). False for any other.
TN_GEV_API bool RawSamplingOf(uint32_t aPixelType, TnRawSampling &aSampling);

/// One line segment of a raw-video packet: mLength bytes of line mLine
/// from pixel mOffset.
struct TnRawSegment
{
    uint32_t mLength = 0;
    uint32_t mLine = 0;
    uint32_t mOffset = 0;
    bool mSecondField = false;
};

/// Decodes the extended sequence number and the line headers at the start of
/// a raw-video payload, at most aMax of them (aCount tells how many there
/// were, also beyond aMax); aHeaderBytes receives where the data starts.
/// False for headers that run past the payload or segments whose data does.
TN_GEV_API bool DecodeRawHeaders(const uint8_t *aPayload, size_t aSize, uint16_t &aExtendedSequence,
                                 TnRawSegment *aSegments, size_t aMax, size_t &aCount, size_t &aHeaderBytes);

/// How a raw-video sender fills a packet, from pixel aOffset of line aLine:
/// a line header and as many whole pixel groups as fit, and while room is
/// left for another header and a group, the next line. The segments
/// (at most aMax) go to aOut; returns their number, 0 when nothing fits or
/// the image is done.
TN_GEV_API size_t FillRawPacket(size_t aPayloadRoom, uint32_t aWidth, uint32_t aHeight,
                                const TnRawSampling &aSampling, uint32_t aLine, uint32_t aOffset, TnRawSegment *aOut,
                                size_t aMax);

/// Cuts an Annex B byte stream into its NAL units (start codes and the zero
/// bytes that may trail a unit left out).
TN_GEV_API void SplitAnnexB(const uint8_t *aData, size_t aSize, std::vector<TnGvspSegment> &aUnits);

/// Whether a NAL unit can begin an access unit: an access unit delimiter,
/// SEI, sequence or picture parameter set, or the first slice of a picture.
TN_GEV_API bool StartsAccessUnit(const uint8_t *aUnit, size_t aSize);

/// The packets of one block as RTP: an image block as raw video, an H.264
/// block as single NAL unit packets and FU-A fragments. Sequence numbers run
/// on from block to block; the timestamp is the block's, on the video clock.
class TN_GEV_API TnRtpPacketiser final : public ITnPacketLayout
{
public:
    /// aPacketSize counts the IP and UDP headers, as the GVSP packet size
    /// does. False outside kGvspMinPacketSize to kGvspMaxPacketSize.
    bool Configure(uint32_t aPacketSize, uint8_t aPayloadType, uint32_t aSsrc, uint32_t aFirstSequence);

    /// False for a block that is neither an image of a raw-video sampling
    /// (one segment, lines of the image's width, each followed by the
    /// leader's padding X) nor H.264, and for an image of kRtpRawMaxLines
    /// lines or pixels or more.
    bool Begin(const TnGvspBlock &aBlock, uint64_t aBlockId) override;
    uint32_t GetPacketCount() const override;
    size_t Build(uint32_t aIndex, uint16_t aStatus, uint8_t *aHeader, iovec *aVectors,
                 size_t &aDatagramSize) const override;

    /// The extended sequence number (the 16 bits of the header, and above
    /// them the 16 that raw-video payloads carry) of the next packet.
    uint32_t GetNextSequence() const { return mNextSequence; }
    uint32_t GetSsrc() const { return mSsrc; }

private:
    struct Packet
    {
        uint32_t mFirst = 0; // raw: first segment in mSegments; H.264: its NAL unit
        uint32_t mCount = 0; // raw: segments; H.264: 0 for a single NAL unit packet
        uint32_t mOffset = 0; // H.264 fragments: where in the unit
        uint32_t mLength = 0;
        bool mStart = false;
        bool mEnd = false;
    };
    struct Placed
    {
        TnRawSegment mSegment;
        const uint8_t *mData = nullptr;
    };

    bool BeginRaw(const TnGvspBlock &aBlock);
    bool BeginH264(const TnGvspBlock &aBlock);

    size_t mRoom = 0; // payload bytes per packet
    uint8_t mPayloadType = kRtpDynamicPayloadType;
    uint32_t mSsrc = 0;
    uint32_t mNextSequence = 0;
    uint32_t mFirstSequence = 0; // of the current block
    uint32_t mTimestamp = 0;
    bool mH264 = false;
    std::vector<Packet> mPackets;
    std::vector<Placed> mSegments;
    std::vector<TnGvspSegment> mUnits;
};

/// What an SDP description of one RTP stream says.
struct TnRtpSessionDescription
{
    std::string mName;
    uint64_t mSessionId = 0;
    uint64_t mVersion = 0;
    uint32_t mOrigin = 0;     ///< the sender's address
    uint32_t mGroup = 0;      ///< the multicast group the stream goes to
    uint8_t mTtl = 1;
    uint16_t mPort = 0;
    uint8_t mPayloadType = kRtpDynamicPayloadType;
    bool mH264 = false;
    /// Raw video: the sampling, width and height.
    TnRawSampling mSampling;
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
    /// With an address, the same stream is also served over TCP there, on
    /// the same port (a second media description).
    uint32_t mTcpAddress = 0;
};

/// The SDP text of a stream, lines ending in CRLF.
TN_GEV_API std::string BuildSdp(const TnRtpSessionDescription &aDescription);

/// A SAP announcement (or deletion) of an SDP description, from an IPv4
/// origin, with the message identifier hash.
TN_GEV_API std::vector<uint8_t> BuildSapPacket(uint32_t aOrigin, uint16_t aHash, const std::string &aSdp,
                                               bool aDeletion);
} // namespace gev
} // namespace tn

#endif
