#include "TnChunkArea.h"

#include <string.h>

#include <new>

#include "TnBufferInternal.h"
#include "TnCheckedSize.h"
#include "TnChunkTrailer.h"

namespace tn
{
namespace buffer
{
namespace
{
constexpr uint32_t kTagSize = kChunkTagSize;

void WriteTag(uint8_t *aTag, uint32_t aID, uint32_t aLength)
{
    PutU32(aTag, aID);
    PutU32(aTag + 4, aLength);
}
} // namespace

void ChunkArea::Bind(uint8_t *aArea, uint32_t aCapacity, bool aHasMain, uint32_t aMainLength, bool aEnabled)
{
    mArea = aArea;
    mCapacity = aArea != nullptr ? aCapacity : 0;
    mHasMain = aHasMain;
    mMainLength = aMainLength;
    mEnabled = aEnabled;
    Reset();
}

void ChunkArea::Reset()
{
    mUsed = 0;
    mReceived = false;
    mReceivedPresent = false;
    mRegion = nullptr;
    mRegionLength = 0;
    mParsed = false;
    mEntries.clear();
}

void ChunkArea::SetReceived(uint8_t *aBegin, uint32_t aLength, ChunkWalk aWalk, bool aPresent, bool aLittleEndian)
{
    Reset();
    mReceived = true;
    mReceivedPresent = aPresent && aBegin != nullptr;
    mRegion = aBegin;
    mRegionLength = aBegin != nullptr ? aLength : 0;
    mWalk = aWalk;
    mLittleEndian = aLittleEndian;
}

TnResult ChunkArea::Add(uint32_t aID, const uint8_t *aData, uint32_t aLength)
{
    if (!mEnabled)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the payload type carries no chunks"));
    }
    if (mReceived)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the chunks of a received block: reset the chunks first"));
    }
    if (aData == nullptr && aLength != 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no chunk data"));
    }
    if (!(CheckedSize(aLength) + kTagSize).FitsIn(GetCapacity()))
    {
        return TnResult(TN_BUFFER_TOO_SMALL);
    }
    const uint32_t lMainTag = mHasMain ? kTagSize : 0;
    if (mHasMain)
    {
        WriteTag(mArea, kMainChunkID, mMainLength);
    }
    uint8_t *lData = mArea + lMainTag + mUsed;
    if (aLength != 0)
    {
        // The bytes may come from this very area (a chunk read back).
        memmove(lData, aData, aLength);
    }
    WriteTag(lData + aLength, aID, aLength);
    mUsed += aLength + kTagSize;
    mParsed = false;
    return TnResult(TN_OK);
}

bool ChunkArea::HasChunks() const
{
    return mReceived ? mReceivedPresent : mUsed != 0;
}

void ChunkArea::Parse() const
{
    if (mParsed)
    {
        return;
    }
    mParsed = true;
    mEntries.clear();

    uint8_t *lBegin = nullptr;
    uint32_t lLength = 0;
    ChunkWalk lWalk = ChunkWalk::Plain;
    bool lLittleEndian = false;
    if (mReceived)
    {
        if (!mReceivedPresent)
        {
            return;
        }
        lBegin = mRegion;
        lLength = mRegionLength;
        lWalk = mWalk;
        lLittleEndian = mLittleEndian;
    }
    else
    {
        if (mUsed == 0)
        {
            return;
        }
        lBegin = mArea + (mHasMain ? kTagSize : 0);
        lLength = mUsed;
    }

    // Offsets are relative to begin; the walk ends at stop.
    uint32_t lStop = 0;
    if (lWalk == ChunkWalk::MainTag)
    {
        if (lLength < kTagSize)
        {
            return;
        }
        lStop = kTagSize;
    }
    try
    {
        // The walk ends quietly at bytes that hold no tag or a length that
        // reaches past the region.
        WalkChunkTrailers(lBegin, lLength, lStop, lLittleEndian, [&](uint32_t aID, uint32_t aStart, uint32_t aLength) {
            if ((lWalk == ChunkWalk::MainData && aStart == 0) || mEntries.size() >= kMaximumChunks)
            {
                return false; // the main payload's chunk, or too many
            }
            mEntries.push_back(ChunkEntry{aID, aLength, lBegin + aStart});
            return true;
        });
    }
    catch (const std::bad_alloc &)
    {
        mEntries.clear();
    }
}

bool ChunkArea::IsReceivedLayoutWhole() const
{
    if (!mReceived || !mReceivedPresent)
    {
        return true;
    }
    if (mWalk == ChunkWalk::MainTag && mRegionLength < kTagSize)
    {
        return false;
    }
    const ChunkWalkEnd lEnd = WalkChunkTrailers(mRegion, mRegionLength, mWalk == ChunkWalk::MainTag ? kTagSize : 0,
                                                mLittleEndian, [this](uint32_t, uint32_t aStart, uint32_t) {
                                                    return !(mWalk == ChunkWalk::MainData && aStart == 0);
                                                });
    return lEnd.mReason == ChunkWalkEnd::Complete || (lEnd.mReason == ChunkWalkEnd::Stopped && lEnd.mPosition == 0);
}

uint32_t ChunkArea::GetCount() const
{
    Parse();
    return uint32_t(mEntries.size());
}

const ChunkEntry *ChunkArea::GetByIndex(uint32_t aIndex) const
{
    Parse();
    return aIndex < mEntries.size() ? &mEntries[aIndex] : nullptr;
}

const ChunkEntry *ChunkArea::GetByID(uint32_t aID) const
{
    Parse();
    for (const ChunkEntry &lEntry : mEntries)
    {
        if (lEntry.mID == aID)
        {
            return &lEntry;
        }
    }
    return nullptr;
}

TnResult ChunkArea::GetIDByIndex(uint32_t aIndex, uint32_t &aID) const
{
    const ChunkEntry *lEntry = GetByIndex(aIndex);
    aID = lEntry != nullptr ? lEntry->mID : 0;
    return TnResult(lEntry != nullptr ? TN_OK : TN_NOT_FOUND);
}

uint32_t ChunkArea::GetSizeByIndex(uint32_t aIndex) const
{
    const ChunkEntry *lEntry = GetByIndex(aIndex);
    return lEntry != nullptr ? lEntry->mLength : 0;
}

uint32_t ChunkArea::GetSizeByID(uint32_t aID) const
{
    const ChunkEntry *lEntry = GetByID(aID);
    return lEntry != nullptr ? lEntry->mLength : 0;
}

uint8_t *ChunkArea::GetDataByIndex(uint32_t aIndex) const
{
    const ChunkEntry *lEntry = GetByIndex(aIndex);
    return lEntry != nullptr ? lEntry->mData : nullptr;
}

uint8_t *ChunkArea::GetDataByID(uint32_t aID) const
{
    const ChunkEntry *lEntry = GetByID(aID);
    return lEntry != nullptr ? lEntry->mData : nullptr;
}

uint32_t ChunkArea::GetDataSize() const
{
    if (!mReceived)
    {
        return mUsed;
    }
    Parse();
    uint64_t lSize = 0;
    for (const ChunkEntry &lEntry : mEntries)
    {
        lSize += uint64_t(lEntry.mLength) + kTagSize;
    }
    // Entries lie within one 32-bit region, so their sum fits.
    return uint32_t(lSize);
}

uint32_t ChunkArea::GetCapacity() const
{
    if (!mEnabled || mReceived)
    {
        return 0;
    }
    const uint64_t lReserved = uint64_t(mHasMain ? kTagSize : 0) + mUsed;
    return mCapacity > lReserved ? uint32_t(mCapacity - lReserved) : 0;
}

uint32_t ChunkArea::GetWrittenSectionSize() const
{
    if (mReceived || mUsed == 0)
    {
        return 0;
    }
    return mUsed + (mHasMain ? kTagSize : 0);
}
} // namespace buffer
} // namespace tn
