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

namespace
{
// Appends what a fixed-buffer writer writes.
template <typename Fields, typename Writer>
void AppendWith(std::vector<uint8_t> &aPacket, const Fields &aFields, Writer aWriter)
{
    uint8_t lBytes[kGvspImageLeaderSize];
    const size_t lSize = aWriter(lBytes, aFields);
    aPacket.insert(aPacket.end(), lBytes, lBytes + lSize);
}
} // namespace

size_t WriteGvspHeader(uint8_t *aOut, const TnGvspHeader &aHeader)
{
    PutU16(aOut, aHeader.mStatus);
    const uint8_t lFormat = static_cast<uint8_t>(aHeader.mFormat & 0x0F);
    if (aHeader.mExtendedIds)
    {
        PutU16(aOut + 2, aHeader.mFlags);
        aOut[4] = static_cast<uint8_t>(kGvspExtendedIdBit | lFormat);
        PutU24(aOut + 5, 0);
        PutU64(aOut + 8, aHeader.mBlockId);
        PutU32(aOut + 16, aHeader.mPacketId);
        return kGvspExtendedHeaderSize;
    }
    PutU16(aOut + 2, static_cast<uint16_t>(aHeader.mBlockId));
    aOut[4] = lFormat;
    PutU24(aOut + 5, aHeader.mPacketId & kGvspMaxStandardPacketId);
    return kGvspHeaderSize;
}

void AppendGvspHeader(std::vector<uint8_t> &aPacket, const TnGvspHeader &aHeader)
{
    AppendWith(aPacket, aHeader, WriteGvspHeader);
}

size_t WriteLeaderBase(uint8_t *aOut, const TnGvspLeaderBase &aLeader)
{
    PutU16(aOut, aLeader.mReserved);
    PutU16(aOut + 2, aLeader.mPayloadType);
    PutU64(aOut + 4, aLeader.mTimestamp);
    return kGvspLeaderBaseSize;
}

// Image and raw-data leaders start with the base fields.
static size_t WriteBaseFields(uint8_t *aOut, uint16_t aReserved, uint16_t aPayloadType, uint64_t aTimestamp)
{
    TnGvspLeaderBase lBase;
    lBase.mReserved = aReserved;
    lBase.mPayloadType = aPayloadType;
    lBase.mTimestamp = aTimestamp;
    return WriteLeaderBase(aOut, lBase);
}

size_t WriteImageLeader(uint8_t *aOut, const TnGvspImageLeader &aLeader)
{
    WriteBaseFields(aOut, aLeader.mReserved, aLeader.mPayloadType, aLeader.mTimestamp);
    PutU32(aOut + 12, aLeader.mPixelFormat);
    PutU32(aOut + 16, aLeader.mSizeX);
    PutU32(aOut + 20, aLeader.mSizeY);
    PutU32(aOut + 24, aLeader.mOffsetX);
    PutU32(aOut + 28, aLeader.mOffsetY);
    PutU16(aOut + 32, aLeader.mPaddingX);
    PutU16(aOut + 34, aLeader.mPaddingY);
    return kGvspImageLeaderSize;
}

size_t WriteRawDataLeader(uint8_t *aOut, const TnGvspRawDataLeader &aLeader)
{
    WriteBaseFields(aOut, aLeader.mReserved, aLeader.mPayloadType, aLeader.mTimestamp);
    PutU64(aOut + 12, aLeader.mPayloadSize);
    return kGvspRawDataLeaderSize;
}

size_t WriteTrailer(uint8_t *aOut, const TnGvspTrailer &aTrailer)
{
    PutU16(aOut, aTrailer.mReserved);
    PutU16(aOut + 2, aTrailer.mPayloadType);
    if (!aTrailer.mHasSizeY)
    {
        return 4;
    }
    PutU32(aOut + 4, aTrailer.mSizeY);
    return kGvspTrailerSize;
}

bool GetImageLeaderSize(const TnGvspImageLeader &aLeader, uint64_t &aSize)
{
    const uint64_t lBits = PixelFormatBits(aLeader.mPixelFormat);
    if (lBits == 0)
    {
        aSize = 0;
        return false;
    }
    // Widths and heights of 32 bits: a product past 64 bits stands at the
    // largest size, which no memory holds.
    const unsigned __int128 lLineBits = static_cast<unsigned __int128>(aLeader.mSizeX) * lBits;
    unsigned __int128 lSize;
    if (aLeader.mPaddingX == 0)
    {
        lSize = (lLineBits * aLeader.mSizeY + 7) / 8;
    }
    else
    {
        lSize = ((lLineBits + 7) / 8 + aLeader.mPaddingX) * aLeader.mSizeY;
    }
    lSize += aLeader.mPaddingY;
    aSize = lSize > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(lSize);
    return true;
}

bool GetMultipartLeaderSize(const uint8_t *aPayload, size_t aSize, uint64_t &aTotal)
{
    aTotal = 0;
    if (aPayload == nullptr || aSize < kGvspMultipartLeaderBaseSize ||
        (aSize - kGvspMultipartLeaderBaseSize) % kGvspPartDescriptionSize != 0 ||
        BasePayloadType(GetU16(aPayload + 2)) != kGvspPayloadMultipart)
    {
        return false;
    }
    for (size_t lOffset = kGvspMultipartLeaderBaseSize; lOffset < aSize; lOffset += kGvspPartDescriptionSize)
    {
        // 48-bit lengths: their sum cannot wrap.
        aTotal += (static_cast<uint64_t>(GetU16(aPayload + lOffset + 2)) << 32) | GetU32(aPayload + lOffset + 4);
    }
    return true;
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
    AppendWith(aPacket, aLeader, WriteImageLeader);
}

void AppendTrailer(std::vector<uint8_t> &aPacket, const TnGvspTrailer &aTrailer)
{
    AppendWith(aPacket, aTrailer, WriteTrailer);
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

bool DecodeRawDataLeader(const uint8_t *aPayload, size_t aSize, TnGvspRawDataLeader &aLeader)
{
    TnByteReader lReader(aPayload, aSize);
    aLeader.mReserved = lReader.U16();
    aLeader.mPayloadType = lReader.U16();
    aLeader.mTimestamp = lReader.U64();
    aLeader.mPayloadSize = lReader.U64();
    return lReader.IsOk() && HasSizedLeader(aLeader.mPayloadType);
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
