#include "TnU3vLayout.h"

#include <initializer_list>

#include "TnByteOrder.h"

namespace tn
{
namespace u3v
{
namespace
{
uint64_t Get(const uint8_t *aData, size_t aOffset, size_t aLength)
{
    return ReadUnsigned(aData + aOffset, aLength, false);
}

void Put(uint8_t *aData, size_t aOffset, uint64_t aValue, size_t aLength)
{
    WriteUnsigned(aValue, aData + aOffset, aLength, false);
}
} // namespace

// Leader: magic 0, reserved 4, leader size 6, block ID 8, reserved 16,
// payload type 18; image fields: timestamp 20, pixel format 28, size X 32,
// size Y 36, offset X 40, offset Y 44, padding X 48, reserved 50.
size_t WriteLeader(const Leader &aLeader, uint8_t *aData, size_t aSize)
{
    const bool lImage = aLeader.mPayloadType == kPayloadImage;
    const size_t lSize = lImage ? kImageLeaderSize : kGenericLeaderSize;
    if (aData == nullptr || aSize < lSize)
    {
        return 0;
    }
    for (size_t lIndex = 0; lIndex < lSize; ++lIndex)
    {
        aData[lIndex] = 0;
    }
    Put(aData, 0, kLeaderMagic, 4);
    Put(aData, 6, lSize, 2);
    Put(aData, 8, aLeader.mBlockId, 8);
    Put(aData, 18, aLeader.mPayloadType, 2);
    if (lImage)
    {
        Put(aData, 20, aLeader.mTimestamp, 8);
        Put(aData, 28, aLeader.mPixelFormat, 4);
        Put(aData, 32, aLeader.mSizeX, 4);
        Put(aData, 36, aLeader.mSizeY, 4);
        Put(aData, 40, aLeader.mOffsetX, 4);
        Put(aData, 44, aLeader.mOffsetY, 4);
        Put(aData, 48, aLeader.mPaddingX, 2);
    }
    return lSize;
}

bool ParseLeader(const uint8_t *aData, size_t aSize, Leader &aLeader)
{
    if (aData == nullptr || aSize < kGenericLeaderSize || Get(aData, 0, 4) != kLeaderMagic)
    {
        return false;
    }
    const size_t lSize = static_cast<size_t>(Get(aData, 6, 2));
    const uint16_t lType = static_cast<uint16_t>(Get(aData, 18, 2));
    if (lSize < kGenericLeaderSize || lSize > aSize || (lType == kPayloadImage && lSize < kImageLeaderSize))
    {
        return false;
    }
    Leader lLeader;
    lLeader.mBlockId = Get(aData, 8, 8);
    lLeader.mPayloadType = lType;
    if (lType == kPayloadImage)
    {
        lLeader.mTimestamp = Get(aData, 20, 8);
        lLeader.mPixelFormat = static_cast<uint32_t>(Get(aData, 28, 4));
        lLeader.mSizeX = static_cast<uint32_t>(Get(aData, 32, 4));
        lLeader.mSizeY = static_cast<uint32_t>(Get(aData, 36, 4));
        lLeader.mOffsetX = static_cast<uint32_t>(Get(aData, 40, 4));
        lLeader.mOffsetY = static_cast<uint32_t>(Get(aData, 44, 4));
        lLeader.mPaddingX = static_cast<uint16_t>(Get(aData, 48, 2));
    }
    aLeader = lLeader;
    return true;
}

// Trailer: magic 0, reserved 4, trailer size 6, block ID 8, status 16,
// reserved 18, valid payload size 20; image trailer: size Y 28.
size_t WriteTrailer(const Trailer &aTrailer, uint8_t *aData, size_t aSize)
{
    const size_t lSize = aTrailer.mHasSizeY ? kImageTrailerSize : kGenericTrailerSize;
    if (aData == nullptr || aSize < lSize)
    {
        return 0;
    }
    for (size_t lIndex = 0; lIndex < lSize; ++lIndex)
    {
        aData[lIndex] = 0;
    }
    Put(aData, 0, kTrailerMagic, 4);
    Put(aData, 6, lSize, 2);
    Put(aData, 8, aTrailer.mBlockId, 8);
    Put(aData, 16, aTrailer.mStatus, 2);
    Put(aData, 20, aTrailer.mValidPayloadSize, 8);
    if (aTrailer.mHasSizeY)
    {
        Put(aData, 28, aTrailer.mSizeY, 4);
    }
    return lSize;
}

bool ParseTrailer(const uint8_t *aData, size_t aSize, Trailer &aTrailer)
{
    if (aData == nullptr || aSize < kGenericTrailerSize || Get(aData, 0, 4) != kTrailerMagic ||
        Get(aData, 6, 2) != aSize)
    {
        return false;
    }
    Trailer lTrailer;
    lTrailer.mBlockId = Get(aData, 8, 8);
    lTrailer.mStatus = static_cast<uint16_t>(Get(aData, 16, 2));
    lTrailer.mValidPayloadSize = Get(aData, 20, 8);
    lTrailer.mHasSizeY = aSize >= kImageTrailerSize;
    lTrailer.mSizeY = lTrailer.mHasSizeY ? static_cast<uint32_t>(Get(aData, 28, 4)) : 0;
    aTrailer = lTrailer;
    return true;
}

uint64_t TransferPlan::Capacity() const
{
    return static_cast<uint64_t>(mSize) * mCount + mFinal1 + mFinal2;
}

uint32_t TransferPlan::SizeOf(uint64_t aIndex) const
{
    const uint64_t lRegular = mSize != 0 ? mCount : 0;
    if (aIndex < lRegular)
    {
        return mSize;
    }
    aIndex -= lRegular;
    for (uint32_t lFinal : {mFinal1, mFinal2})
    {
        if (lFinal == 0)
        {
            continue;
        }
        if (aIndex == 0)
        {
            return lFinal;
        }
        --aIndex;
    }
    return 0;
}

bool TransferPlan::IsConsistent(uint32_t aAlignment) const
{
    const uint32_t lMask = aAlignment - 1;
    return aAlignment != 0 && (aAlignment & lMask) == 0 && Capacity() != 0 && (mSize & lMask) == 0 &&
           (mFinal1 & lMask) == 0 && (mFinal2 & lMask) == 0;
}
} // namespace u3v
} // namespace tn
