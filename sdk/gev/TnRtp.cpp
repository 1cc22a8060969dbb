#include "TnRtp.h"

#include <string.h>

#include <algorithm>

#include "TnGevAddress.h"
#include "TnGevBytes.h"
#include "TnGvsp.h"

namespace tn
{
namespace gev
{
namespace
{
constexpr size_t kIpUdpOverhead = 28;
constexpr uint8_t kFuHeaderSize = 2;

// RTCP packet types 200 to 204 read as payload types with the marker set.
bool IsRtcpType(uint8_t aSecondByte)
{
    return aSecondByte >= 200 && aSecondByte <= 204;
}
} // namespace

bool DecodeRtpHeader(const uint8_t *aData, size_t aSize, TnRtpHeader &aHeader)
{
    if (aData == nullptr || aSize < kRtpHeaderSize || (aData[0] >> 6) != 2 || IsRtcpType(aData[1]))
    {
        return false;
    }
    size_t lHeaderSize = kRtpHeaderSize + 4u * (aData[0] & 0x0F);
    if ((aData[0] & 0x10) != 0)
    {
        if (lHeaderSize + 4 > aSize)
        {
            return false;
        }
        lHeaderSize += 4 + 4u * GetU16(aData + lHeaderSize + 2);
    }
    if (lHeaderSize > aSize)
    {
        return false;
    }
    size_t lEnd = aSize;
    if ((aData[0] & 0x20) != 0)
    {
        const uint8_t lPadding = aData[aSize - 1];
        if (lPadding == 0 || lPadding > aSize - lHeaderSize)
        {
            return false;
        }
        lEnd -= lPadding;
    }
    aHeader.mMarker = (aData[1] & 0x80) != 0;
    aHeader.mPayloadType = aData[1] & 0x7F;
    aHeader.mSequence = GetU16(aData + 2);
    aHeader.mTimestamp = GetU32(aData + 4);
    aHeader.mSsrc = GetU32(aData + 8);
    aHeader.mHeaderSize = lHeaderSize;
    aHeader.mPayloadSize = lEnd - lHeaderSize;
    return true;
}

void EncodeRtpHeader(uint8_t *aOut, uint8_t aPayloadType, bool aMarker, uint16_t aSequence, uint32_t aTimestamp,
                     uint32_t aSsrc)
{
    aOut[0] = 0x80;
    aOut[1] = static_cast<uint8_t>((aMarker ? 0x80 : 0) | (aPayloadType & 0x7F));
    PutU16(aOut + 2, aSequence);
    PutU32(aOut + 4, aTimestamp);
    PutU32(aOut + 8, aSsrc);
}

bool RawSamplingOf(uint32_t aPixelType, TnRawSampling &aSampling)
{
    switch (aPixelType)
    {
    case 0x02180014: // RGB8
        aSampling = {3, 1, "RGB"};
        return true;
    case 0x02180015: // BGR8
        aSampling = {3, 1, "BGR"};
        return true;
    case 0x02200016: // RGBa8
        aSampling = {4, 1, "RGBA"};
        return true;
    case 0x02200017: // BGRa8
        aSampling = {4, 1, "BGRA"};
        return true;
    case 0x02180020: // YUV8_UYV
        aSampling = {3, 1, "YCbCr-4:4:4"};
        return true;
    case 0x0210001F: // YUV422_8_UYVY
        aSampling = {4, 2, "YCbCr-4:2:2"};
        return true;
    case 0x020C001E: // YUV411_8_UYYVYY
        aSampling = {6, 4, "YCbCr-4:1:1"};
        return true;
    default:
        break;
    }
    // Single 8-bit samples: monochrome and Bayer types of 8 bits.
    if ((aPixelType & 0xFF000000u) == 0x01000000u && ((aPixelType >> 16) & 0xFF) == 8)
    {
        aSampling = {1, 1, "GRAYSCALE"};
        return true;
    }
    return false;
}

bool DecodeRawHeaders(const uint8_t *aPayload, size_t aSize, uint16_t &aExtendedSequence, TnRawSegment *aSegments,
                      size_t aMax, size_t &aCount, size_t &aHeaderBytes)
{
    aCount = 0;
    aHeaderBytes = 0;
    if (aPayload == nullptr || aSize < kRtpRawExtendedSequenceSize)
    {
        return false;
    }
    aExtendedSequence = GetU16(aPayload);
    size_t lOffset = kRtpRawExtendedSequenceSize;
    uint64_t lData = 0;
    for (;;)
    {
        if (lOffset + kRtpRawLineHeaderSize > aSize)
        {
            return false;
        }
        const uint8_t *lHeader = aPayload + lOffset;
        TnRawSegment lSegment;
        lSegment.mLength = GetU16(lHeader);
        lSegment.mSecondField = (lHeader[2] & 0x80) != 0;
        lSegment.mLine = GetU16(lHeader + 2) & 0x7FFF;
        lSegment.mOffset = GetU16(lHeader + 4) & 0x7FFF;
        const bool lContinues = (lHeader[4] & 0x80) != 0;
        if (aCount < aMax)
        {
            aSegments[aCount] = lSegment;
        }
        ++aCount;
        lData += lSegment.mLength;
        lOffset += kRtpRawLineHeaderSize;
        if (!lContinues)
        {
            break;
        }
    }
    aHeaderBytes = lOffset;
    return lData <= aSize - lOffset;
}

size_t FillRawPacket(size_t aPayloadRoom, uint32_t aWidth, uint32_t aHeight, const TnRawSampling &aSampling,
                     uint32_t aLine, uint32_t aOffset, TnRawSegment *aOut, size_t aMax)
{
    if (aSampling.mGroupBytes == 0 || aSampling.mGroupPixels == 0 || aPayloadRoom < kRtpRawExtendedSequenceSize)
    {
        return 0;
    }
    size_t lRoom = aPayloadRoom - kRtpRawExtendedSequenceSize;
    size_t lCount = 0;
    while (aLine < aHeight && aOffset < aWidth && lCount < aMax &&
           lRoom > kRtpRawLineHeaderSize + aSampling.mGroupBytes)
    {
        lRoom -= kRtpRawLineHeaderSize;
        const uint32_t lLeft = aWidth - aOffset;
        const size_t lLeftBytes = size_t(lLeft / aSampling.mGroupPixels) * aSampling.mGroupBytes;
        uint32_t lPixels = lLeft;
        size_t lBytes = lLeftBytes;
        if (lRoom < lLeftBytes)
        {
            lPixels = static_cast<uint32_t>(lRoom / aSampling.mGroupBytes) * aSampling.mGroupPixels;
            lBytes = size_t(lPixels / aSampling.mGroupPixels) * aSampling.mGroupBytes;
        }
        TnRawSegment &lSegment = aOut[lCount++];
        lSegment = TnRawSegment();
        lSegment.mLength = static_cast<uint32_t>(lBytes);
        lSegment.mLine = aLine;
        lSegment.mOffset = aOffset;
        lRoom -= lBytes;
        if (lPixels < lLeft)
        {
            break; // the packet is full
        }
        ++aLine;
        aOffset = 0;
    }
    return lCount;
}

void SplitAnnexB(const uint8_t *aData, size_t aSize, std::vector<TnGvspSegment> &aUnits)
{
    aUnits.clear();
    if (aData == nullptr || aSize == 0)
    {
        return;
    }
    // The start codes: 00 00 01 (a zero byte before one belongs to it).
    std::vector<size_t> lStarts;
    for (size_t lIndex = 0; lIndex + 2 < aSize; ++lIndex)
    {
        if (aData[lIndex] == 0 && aData[lIndex + 1] == 0 && aData[lIndex + 2] == 1)
        {
            lStarts.push_back(lIndex + 3);
            lIndex += 2;
        }
    }
    if (lStarts.empty())
    {
        lStarts.push_back(0); // a unit without a start code
    }
    for (size_t lIndex = 0; lIndex < lStarts.size(); ++lIndex)
    {
        const size_t lBegin = lStarts[lIndex];
        size_t lEnd = lIndex + 1 < lStarts.size() ? lStarts[lIndex + 1] - 3 : aSize;
        while (lEnd > lBegin && aData[lEnd - 1] == 0)
        {
            --lEnd; // trailing zero bytes, and the leading zero of the next start code
        }
        if (lEnd > lBegin)
        {
            TnGvspSegment lUnit;
            lUnit.mData = aData + lBegin;
            lUnit.mSize = lEnd - lBegin;
            aUnits.push_back(lUnit);
        }
    }
}

bool StartsAccessUnit(const uint8_t *aUnit, size_t aSize)
{
    if (aUnit == nullptr || aSize == 0)
    {
        return false;
    }
    switch (aUnit[0] & 0x1F)
    {
    case 6:  // SEI
    case 7:  // sequence parameter set
    case 8:  // picture parameter set
    case 9:  // access unit delimiter
    case 14: // prefix NAL unit
    case 15: // subset sequence parameter set
        return true;
    case 1:
    case 5:
        // A slice whose first_mb_in_slice, the first Exp-Golomb code, is 0.
        return aSize >= 2 && (aUnit[1] & 0x80) != 0;
    default:
        return false;
    }
}

// ---------------------------------------------------------------- packetiser

bool TnRtpPacketiser::Configure(uint32_t aPacketSize, uint8_t aPayloadType, uint32_t aSsrc, uint32_t aFirstSequence)
{
    if (aPacketSize < kGvspMinPacketSize || aPacketSize > kGvspMaxPacketSize)
    {
        return false;
    }
    mRoom = aPacketSize - kIpUdpOverhead - kRtpHeaderSize;
    mPayloadType = aPayloadType;
    mSsrc = aSsrc;
    mNextSequence = aFirstSequence;
    mPackets.clear();
    return true;
}

bool TnRtpPacketiser::Begin(const TnGvspBlock &aBlock, uint64_t)
{
    mPackets.clear();
    mSegments.clear();
    if (mRoom == 0 || aBlock.mSegments[0].mData == nullptr || aBlock.mSegments[0].mSize == 0)
    {
        return false;
    }
    const uint16_t lType = BasePayloadType(aBlock.mLeader.mPayloadType);
    mH264 = lType == kGvspPayloadH264;
    const bool lBuilt = mH264 ? BeginH264(aBlock) : lType == kGvspPayloadImage && BeginRaw(aBlock);
    if (!lBuilt || mPackets.empty())
    {
        mPackets.clear();
        return false;
    }
    mTimestamp = RtpVideoTimestamp(aBlock.mLeader.mTimestamp);
    mFirstSequence = mNextSequence;
    mNextSequence += static_cast<uint32_t>(mPackets.size());
    return true;
}

bool TnRtpPacketiser::BeginRaw(const TnGvspBlock &aBlock)
{
    TnRawSampling lSampling;
    const uint32_t lWidth = aBlock.mLeader.mSizeX;
    const uint32_t lHeight = aBlock.mLeader.mSizeY;
    if (!RawSamplingOf(aBlock.mLeader.mPixelFormat, lSampling) || lWidth == 0 || lHeight == 0 ||
        lWidth >= kRtpRawMaxLines || lHeight >= kRtpRawMaxLines || lWidth % lSampling.mGroupPixels != 0)
    {
        return false;
    }
    const uint64_t lLineBytes = uint64_t(lWidth / lSampling.mGroupPixels) * lSampling.mGroupBytes;
    const uint64_t lStride = lLineBytes + aBlock.mLeader.mPaddingX;
    if (lStride * (lHeight - 1) + lLineBytes > aBlock.mSegments[0].mSize)
    {
        return false;
    }
    const uint8_t *lBase = aBlock.mSegments[0].mData;
    uint32_t lLine = 0;
    uint32_t lOffset = 0;
    TnRawSegment lFilled[kRtpRawMaxSegments];
    while (lLine < lHeight)
    {
        const size_t lCount =
            FillRawPacket(mRoom, lWidth, lHeight, lSampling, lLine, lOffset, lFilled, kRtpRawMaxSegments);
        if (lCount == 0)
        {
            return false; // no group fits a packet
        }
        Packet lPacket;
        lPacket.mFirst = static_cast<uint32_t>(mSegments.size());
        lPacket.mCount = static_cast<uint32_t>(lCount);
        for (size_t lIndex = 0; lIndex < lCount; ++lIndex)
        {
            const TnRawSegment &lSegment = lFilled[lIndex];
            Placed lPlaced;
            lPlaced.mSegment = lSegment;
            lPlaced.mData = lBase + lSegment.mLine * lStride +
                            uint64_t(lSegment.mOffset / lSampling.mGroupPixels) * lSampling.mGroupBytes;
            mSegments.push_back(lPlaced);
        }
        const TnRawSegment &lLast = lFilled[lCount - 1];
        lOffset = lLast.mOffset + lLast.mLength / lSampling.mGroupBytes * lSampling.mGroupPixels;
        lLine = lLast.mLine;
        if (lOffset >= lWidth)
        {
            lOffset = 0;
            ++lLine;
        }
        mPackets.push_back(lPacket);
    }
    return true;
}

bool TnRtpPacketiser::BeginH264(const TnGvspBlock &aBlock)
{
    SplitAnnexB(aBlock.mSegments[0].mData, aBlock.mSegments[0].mSize, mUnits);
    if (mRoom <= kFuHeaderSize)
    {
        return false;
    }
    const size_t lFragment = mRoom - kFuHeaderSize;
    for (size_t lUnit = 0; lUnit < mUnits.size(); ++lUnit)
    {
        const size_t lSize = mUnits[lUnit].mSize;
        Packet lPacket;
        lPacket.mFirst = static_cast<uint32_t>(lUnit);
        if (lSize <= mRoom)
        {
            lPacket.mLength = static_cast<uint32_t>(lSize);
            mPackets.push_back(lPacket);
            continue;
        }
        // Fragments of the unit's bytes after its header byte.
        lPacket.mCount = 1;
        for (size_t lOffset = 1; lOffset < lSize; lOffset += lFragment)
        {
            lPacket.mOffset = static_cast<uint32_t>(lOffset);
            lPacket.mLength = static_cast<uint32_t>(std::min(lFragment, lSize - lOffset));
            lPacket.mStart = lOffset == 1;
            lPacket.mEnd = lOffset + lPacket.mLength == lSize;
            mPackets.push_back(lPacket);
        }
    }
    return true;
}

uint32_t TnRtpPacketiser::GetPacketCount() const
{
    return static_cast<uint32_t>(mPackets.size());
}

size_t TnRtpPacketiser::Build(uint32_t aIndex, uint16_t, uint8_t *aHeader, iovec *aVectors,
                              size_t &aDatagramSize) const
{
    aDatagramSize = 0;
    if (aIndex >= mPackets.size())
    {
        return 0;
    }
    const Packet &lPacket = mPackets[aIndex];
    const uint32_t lSequence = mFirstSequence + aIndex;
    EncodeRtpHeader(aHeader, mPayloadType, aIndex + 1 == mPackets.size(), static_cast<uint16_t>(lSequence),
                    mTimestamp, mSsrc);
    size_t lHeaderSize = kRtpHeaderSize;
    size_t lVectors = 1;
    if (mH264)
    {
        const TnGvspSegment &lUnit = mUnits[lPacket.mFirst];
        const uint8_t *lData = lUnit.mData;
        size_t lLength = lPacket.mLength;
        if (lPacket.mCount != 0)
        {
            aHeader[lHeaderSize++] = static_cast<uint8_t>((lUnit.mData[0] & 0xE0) | kH264FuA);
            aHeader[lHeaderSize++] = static_cast<uint8_t>((lPacket.mStart ? 0x80 : 0) | (lPacket.mEnd ? 0x40 : 0) |
                                                          (lUnit.mData[0] & 0x1F));
            lData += lPacket.mOffset;
        }
        aVectors[1].iov_base = const_cast<uint8_t *>(lData);
        aVectors[1].iov_len = lLength;
        lVectors = 2;
        aDatagramSize = lHeaderSize + lLength;
    }
    else
    {
        PutU16(aHeader + lHeaderSize, static_cast<uint16_t>(lSequence >> 16));
        lHeaderSize += kRtpRawExtendedSequenceSize;
        size_t lData = 0;
        for (uint32_t lIndex = 0; lIndex < lPacket.mCount; ++lIndex)
        {
            const Placed &lPlaced = mSegments[lPacket.mFirst + lIndex];
            uint8_t *lLine = aHeader + lHeaderSize;
            PutU16(lLine, static_cast<uint16_t>(lPlaced.mSegment.mLength));
            PutU16(lLine + 2, static_cast<uint16_t>(lPlaced.mSegment.mLine));
            PutU16(lLine + 4, static_cast<uint16_t>(lPlaced.mSegment.mOffset | (lIndex + 1 < lPacket.mCount ? 0x8000 : 0)));
            lHeaderSize += kRtpRawLineHeaderSize;
            iovec &lLast = aVectors[lVectors - 1];
            if (lVectors > 1 && static_cast<const uint8_t *>(lLast.iov_base) + lLast.iov_len == lPlaced.mData)
            {
                lLast.iov_len += lPlaced.mSegment.mLength; // the next line follows in memory
            }
            else
            {
                aVectors[lVectors].iov_base = const_cast<uint8_t *>(lPlaced.mData);
                aVectors[lVectors].iov_len = lPlaced.mSegment.mLength;
                ++lVectors;
            }
            lData += lPlaced.mSegment.mLength;
        }
        aDatagramSize = lHeaderSize + lData;
    }
    aVectors[0].iov_base = aHeader;
    aVectors[0].iov_len = lHeaderSize;
    return lVectors;
}

// ---------------------------------------------------------------- session description

std::string BuildSdp(const TnRtpSessionDescription &aDescription)
{
    const std::string lPayloadType = std::to_string(aDescription.mPayloadType);
    std::string lFormat;
    if (aDescription.mH264)
    {
        lFormat = "a=rtpmap:" + lPayloadType + " H264/90000\r\na=fmtp:" + lPayloadType + " packetization-mode=1\r\n";
    }
    else
    {
        lFormat = "a=rtpmap:" + lPayloadType + " raw/90000\r\na=fmtp:" + lPayloadType +
                  " sampling=" + aDescription.mSampling.mSampling + "; width=" + std::to_string(aDescription.mWidth) +
                  "; height=" + std::to_string(aDescription.mHeight) + "; depth=8; colorimetry=BT601-5\r\n";
    }
    std::string lText = "v=0\r\no=- " + std::to_string(aDescription.mSessionId) + " " +
                        std::to_string(aDescription.mVersion) + " IN IP4 " + FormatIPv4(aDescription.mOrigin) +
                        "\r\ns=" + aDescription.mName + "\r\nc=IN IP4 " + FormatIPv4(aDescription.mGroup) + "/" +
                        std::to_string(aDescription.mTtl) + "\r\nt=0 0\r\nm=video " +
                        std::to_string(aDescription.mPort) + " RTP/AVP " + lPayloadType + "\r\n" + lFormat;
    if (aDescription.mTcpAddress != 0)
    {
        lText += "m=video " + std::to_string(aDescription.mPort) + " TCP/RTP/AVP " + lPayloadType +
                 "\r\nc=IN IP4 " + FormatIPv4(aDescription.mTcpAddress) + "\r\na=setup:passive\r\na=connection:new\r\n" +
                 lFormat;
    }
    return lText;
}

std::vector<uint8_t> BuildSapPacket(uint32_t aOrigin, uint16_t aHash, const std::string &aSdp, bool aDeletion)
{
    static const char kType[] = "application/sdp"; // sent with its null byte
    std::vector<uint8_t> lPacket(8 + sizeof(kType) + aSdp.size());
    lPacket[0] = static_cast<uint8_t>(0x20 | (aDeletion ? 0x04 : 0)); // version 1, IPv4 origin
    lPacket[1] = 0;                                                   // no authentication
    PutU16(lPacket.data() + 2, aHash);
    PutU32(lPacket.data() + 4, aOrigin);
    memcpy(lPacket.data() + 8, kType, sizeof(kType));
    memcpy(lPacket.data() + 8 + sizeof(kType), aSdp.data(), aSdp.size());
    return lPacket;
}
} // namespace gev
} // namespace tn
