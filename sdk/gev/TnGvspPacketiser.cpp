#include "TnGvspPacketiser.h"

#include "TnGevBytes.h"

namespace tn
{
namespace gev
{
ITnPacketLayout::~ITnPacketLayout() = default;

bool TnGvspPacketiser::Configure(uint32_t aPacketSize, bool aExtendedIds)
{
    if (aPacketSize < kGvspMinPacketSize || aPacketSize > kGvspMaxPacketSize)
    {
        return false;
    }
    mPacketSize = aPacketSize;
    mExtendedIds = aExtendedIds;
    mPayloadPerPacket = GvspPacketPayloadSize(aPacketSize, aExtendedIds);
    mDataPackets = 0;
    return true;
}

bool TnGvspPacketiser::Begin(const TnGvspBlock &aBlock, uint64_t aBlockId)
{
    mDataPackets = 0;
    if (mPayloadPerPacket == 0)
    {
        return false;
    }
    for (const TnGvspSegment &lSegment : aBlock.mSegments)
    {
        if (lSegment.mSize > 0 && lSegment.mData == nullptr)
        {
            return false;
        }
    }
    const uint64_t lPackets = (aBlock.GetPayloadSize() + mPayloadPerPacket - 1) / mPayloadPerPacket;
    // The trailer's id must fit too.
    const uint64_t lLimit = mExtendedIds ? 0xFFFFFFFEull : kGvspMaxStandardPacketId - 1;
    if (lPackets > lLimit)
    {
        return false;
    }
    mBlock = aBlock;
    mBlockId = mExtendedIds ? aBlockId : (aBlockId & 0xFFFFu);
    mDataPackets = static_cast<uint32_t>(lPackets);
    return true;
}

size_t TnGvspPacketiser::Build(uint32_t aPacketId, uint16_t aStatus, uint8_t *aHeader, iovec *aVectors,
                               size_t &aDatagramSize) const
{
    aDatagramSize = 0;
    if (mPayloadPerPacket == 0 || aPacketId > mDataPackets + 1)
    {
        return 0;
    }
    TnGvspHeader lHeader;
    lHeader.mStatus = aStatus;
    lHeader.mExtendedIds = mExtendedIds;
    lHeader.mBlockId = mBlockId;
    lHeader.mPacketId = aPacketId;
    const uint16_t lBaseType = BasePayloadType(mBlock.mLeader.mPayloadType);
    if (aPacketId == 0)
    {
        lHeader.mFormat = kGvspFormatLeader;
        size_t lSize = WriteGvspHeader(aHeader, lHeader);
        if (lBaseType == kGvspPayloadImage)
        {
            lSize += WriteImageLeader(aHeader + lSize, mBlock.mLeader);
        }
        else if (HasSizedLeader(lBaseType))
        {
            TnGvspRawDataLeader lLeader;
            lLeader.mPayloadType = mBlock.mLeader.mPayloadType;
            lLeader.mTimestamp = mBlock.mLeader.mTimestamp;
            lLeader.mPayloadSize = mBlock.GetPayloadSize();
            lSize += WriteRawDataLeader(aHeader + lSize, lLeader);
        }
        else
        {
            TnGvspLeaderBase lLeader;
            lLeader.mPayloadType = mBlock.mLeader.mPayloadType;
            lLeader.mTimestamp = mBlock.mLeader.mTimestamp;
            lSize += WriteLeaderBase(aHeader + lSize, lLeader);
        }
        aVectors[0].iov_base = aHeader;
        aVectors[0].iov_len = lSize;
        aDatagramSize = lSize;
        return 1;
    }
    if (aPacketId == mDataPackets + 1)
    {
        lHeader.mFormat = kGvspFormatTrailer;
        size_t lSize = WriteGvspHeader(aHeader, lHeader);
        TnGvspTrailer lTrailer;
        lTrailer.mPayloadType = mBlock.mLeader.mPayloadType;
        // Image trailers carry the height sent, chunk-data trailers the
        // payload's length; other trailers have the field reserved.
        lTrailer.mSizeY = lBaseType == kGvspPayloadImage       ? mBlock.mLeader.mSizeY
                          : lBaseType == kGvspPayloadChunkData ? static_cast<uint32_t>(mBlock.GetPayloadSize())
                                                               : 0;
        lSize += WriteTrailer(aHeader + lSize, lTrailer);
        aVectors[0].iov_base = aHeader;
        aVectors[0].iov_len = lSize;
        aDatagramSize = lSize;
        return 1;
    }
    lHeader.mFormat = PayloadFormatOf(lBaseType);
    const size_t lHeaderSize = WriteGvspHeader(aHeader, lHeader);
    aVectors[0].iov_base = aHeader;
    aVectors[0].iov_len = lHeaderSize;
    size_t lCount = 1;
    size_t lOffset = static_cast<size_t>(aPacketId - 1) * mPayloadPerPacket;
    size_t lRemaining = mBlock.GetPayloadSize() - lOffset;
    if (lRemaining > mPayloadPerPacket)
    {
        lRemaining = mPayloadPerPacket;
    }
    aDatagramSize = lHeaderSize + lRemaining;
    for (const TnGvspSegment &lSegment : mBlock.mSegments)
    {
        if (lRemaining == 0)
        {
            break;
        }
        if (lOffset >= lSegment.mSize)
        {
            lOffset -= lSegment.mSize;
            continue;
        }
        const size_t lTake = lSegment.mSize - lOffset < lRemaining ? lSegment.mSize - lOffset : lRemaining;
        aVectors[lCount].iov_base = const_cast<uint8_t *>(lSegment.mData + lOffset);
        aVectors[lCount].iov_len = lTake;
        ++lCount;
        lRemaining -= lTake;
        lOffset = 0;
    }
    return lCount;
}

size_t BuildGvspTestPacket(uint8_t *aOut, uint32_t aPacketSize)
{
    if (aPacketSize < kGvspIpUdpOverhead + kGvspHeaderSize)
    {
        return 0;
    }
    const size_t lSize = aPacketSize - kGvspIpUdpOverhead;
    TnGvspHeader lHeader;
    WriteGvspHeader(aOut, lHeader);
    // Filler from a 16-bit LFSR: not all zeros, so that a path that strips
    // or compresses it shows.
    uint32_t lState = 0xACE1u;
    for (size_t lIndex = kGvspHeaderSize; lIndex < lSize; ++lIndex)
    {
        lState = (lState >> 1) ^ (-(lState & 1u) & 0xB400u);
        aOut[lIndex] = static_cast<uint8_t>(lState);
    }
    return lSize;
}
} // namespace gev
} // namespace tn
