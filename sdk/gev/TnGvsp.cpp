#include "TnGvsp.h"

#include "TnGevBytes.h"

namespace tn
{
namespace gev
{
uint16_t TnGvspPartDescription::GetDataType() const
{
    return GetU16(mBytes);
}

uint64_t TnGvspPartDescription::GetPartLength() const
{
    return (static_cast<uint64_t>(GetU16(mBytes + 2)) << 32) | GetU32(mBytes + 4);
}

uint32_t TnGvspPartDescription::GetPixelFormat() const
{
    return GetU32(mBytes + 8);
}

void AppendGvspHeader(std::vector<uint8_t> &aPacket, const TnGvspHeader &aHeader)
{
    TnByteWriter lWriter(aPacket);
    lWriter.U16(aHeader.mStatus);
    const uint8_t lFormat = static_cast<uint8_t>(aHeader.mFormat & 0x0F);
    if (aHeader.mExtendedIds)
    {
        lWriter.U16(aHeader.mFlags);
        lWriter.U8(static_cast<uint8_t>(kGvspExtendedIdBit | lFormat));
        lWriter.U24(0);
        lWriter.U64(aHeader.mBlockId);
        lWriter.U32(aHeader.mPacketId);
    }
    else
    {
        lWriter.U16(static_cast<uint16_t>(aHeader.mBlockId));
        lWriter.U8(lFormat);
        lWriter.U24(aHeader.mPacketId & kGvspMaxStandardPacketId);
    }
}

bool DecodeGvspPacket(const uint8_t *aData, size_t aSize, TnGvspPacket &aPacket)
{
    if (aData == nullptr || aSize < kGvspHeaderSize)
    {
        return false;
    }
    TnByteReader lReader(aData, aSize);
    TnGvspHeader &lHeader = aPacket.mHeader;
    lHeader.mStatus = lReader.U16();
    const uint16_t lSecond = lReader.U16();
    const uint8_t lFormat = lReader.U8();
    lHeader.mExtendedIds = (lFormat & kGvspExtendedIdBit) != 0;
    lHeader.mFormat = static_cast<uint8_t>(lFormat & 0x0F);
    if (lHeader.mExtendedIds)
    {
        lHeader.mFlags = lSecond;
        lReader.Skip(3);
        lHeader.mBlockId = lReader.U64();
        lHeader.mPacketId = lReader.U32();
    }
    else
    {
        lHeader.mFlags = 0;
        lHeader.mBlockId = lSecond;
        lHeader.mPacketId = lReader.U24();
    }
    if (!lReader.IsOk())
    {
        return false;
    }
    aPacket.mPayload = lReader.Current();
    aPacket.mPayloadSize = lReader.GetRemaining();
    return true;
}

void AppendImageLeader(std::vector<uint8_t> &aPacket, const TnGvspImageLeader &aLeader)
{
    TnByteWriter lWriter(aPacket);
    lWriter.U16(aLeader.mReserved);
    lWriter.U16(aLeader.mPayloadType);
    lWriter.U64(aLeader.mTimestamp);
    lWriter.U32(aLeader.mPixelFormat);
    lWriter.U32(aLeader.mSizeX);
    lWriter.U32(aLeader.mSizeY);
    lWriter.U32(aLeader.mOffsetX);
    lWriter.U32(aLeader.mOffsetY);
    lWriter.U16(aLeader.mPaddingX);
    lWriter.U16(aLeader.mPaddingY);
}

void AppendTrailer(std::vector<uint8_t> &aPacket, const TnGvspTrailer &aTrailer)
{
    TnByteWriter lWriter(aPacket);
    lWriter.U16(aTrailer.mReserved);
    lWriter.U16(aTrailer.mPayloadType);
    if (aTrailer.mHasSizeY)
    {
        lWriter.U32(aTrailer.mSizeY);
    }
}

void AppendMultipartLeader(std::vector<uint8_t> &aPacket, const TnGvspMultipartLeader &aLeader)
{
    TnByteWriter lWriter(aPacket);
    lWriter.U16(aLeader.mReserved);
    lWriter.U16(aLeader.mPayloadType);
    lWriter.U64(aLeader.mTimestamp);
    for (const TnGvspPartDescription &lPart : aLeader.mParts)
    {
        lWriter.Bytes(lPart.mBytes, sizeof(lPart.mBytes));
    }
}

bool DecodeLeaderBase(const uint8_t *aPayload, size_t aSize, TnGvspLeaderBase &aLeader)
{
    TnByteReader lReader(aPayload, aSize);
    aLeader.mReserved = lReader.U16();
    aLeader.mPayloadType = lReader.U16();
    aLeader.mTimestamp = lReader.U64();
    return lReader.IsOk();
}

bool DecodeImageLeader(const uint8_t *aPayload, size_t aSize, TnGvspImageLeader &aLeader)
{
    if (aSize < kGvspImageLeaderSize)
    {
        return false;
    }
    TnByteReader lReader(aPayload, aSize);
    aLeader.mReserved = lReader.U16();
    aLeader.mPayloadType = lReader.U16();
    aLeader.mTimestamp = lReader.U64();
    aLeader.mPixelFormat = lReader.U32();
    aLeader.mSizeX = lReader.U32();
    aLeader.mSizeY = lReader.U32();
    aLeader.mOffsetX = lReader.U32();
    aLeader.mOffsetY = lReader.U32();
    aLeader.mPaddingX = lReader.U16();
    aLeader.mPaddingY = lReader.U16();
    return lReader.IsOk() && BasePayloadType(aLeader.mPayloadType) == kGvspPayloadImage;
}

bool DecodeTrailer(const uint8_t *aPayload, size_t aSize, TnGvspTrailer &aTrailer)
{
    TnByteReader lReader(aPayload, aSize);
    aTrailer.mReserved = lReader.U16();
    aTrailer.mPayloadType = lReader.U16();
    if (!lReader.IsOk())
    {
        return false;
    }
    aTrailer.mHasSizeY = lReader.GetRemaining() >= 4;
    aTrailer.mSizeY = aTrailer.mHasSizeY ? lReader.U32() : 0;
    return lReader.IsOk();
}

bool DecodeMultipartLeader(const uint8_t *aPayload, size_t aSize, TnGvspMultipartLeader &aLeader)
{
    if (aPayload == nullptr || aSize < kGvspMultipartLeaderBaseSize ||
        (aSize - kGvspMultipartLeaderBaseSize) % kGvspPartDescriptionSize != 0)
    {
        return false;
    }
    TnByteReader lReader(aPayload, aSize);
    aLeader.mReserved = lReader.U16();
    aLeader.mPayloadType = lReader.U16();
    aLeader.mTimestamp = lReader.U64();
    if (BasePayloadType(aLeader.mPayloadType) != kGvspPayloadMultipart)
    {
        return false;
    }
    aLeader.mParts.resize((aSize - kGvspMultipartLeaderBaseSize) / kGvspPartDescriptionSize);
    for (TnGvspPartDescription &lPart : aLeader.mParts)
    {
        lReader.Bytes(lPart.mBytes, sizeof(lPart.mBytes));
    }
    return lReader.IsOk();
}
} // namespace gev
} // namespace tn
