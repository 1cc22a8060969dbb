#include "TnRingGate.h"

#include <algorithm>
#include <iterator>

namespace tn
{
namespace gev
{
namespace
{
constexpr uint64_t kStandardIds = 65535; // 1 to 65535
// Blocks before the newest leader whose packets (late ones, resends) the
// filter still takes.
constexpr uint64_t kKeepBehind = 4;
// Leaders this far before the newest are a restarted count, not late ones.
constexpr uint64_t kRestartDistance = 64;
// Ids more than this far after the newest leader are of a count that
// restarted (far within half the space of standard ids).
constexpr uint64_t kIdBound = 16384;
// Blocks taken in a row, none shed, after which the gate opens again.
constexpr uint32_t kCalmBlocks = 64;
// The stream paused when nothing came for this many times the time between
// its leaders, and at least kQuietNs; gaps longer than kLongestGapNs are
// pauses, not its pace.
constexpr uint64_t kQuietBlocks = 4;
constexpr uint64_t kQuietNs = 10000000;
constexpr uint64_t kLongestGapNs = 1000000000;
// Ring blocks kept spare besides the rest of the block arriving: the one the
// kernel fills and the one being read, and for the leaders of blocks shed
// (each may take a ring block of its own, handed over by the kernel's timer
// before anything follows it) a 32nd of the ring, at least kLeaderBlocks.
constexpr size_t kSpareBlocks = 2;
constexpr size_t kLeaderBlocks = 8;
// The most ring blocks counted for leaders of blocks shed per block let in.
constexpr uint64_t kMostLeaders = 64;
// The most blocks let in ahead, whatever the ring holds (ids stay far
// within half their space).
constexpr size_t kMaxAhead = 1024;

uint64_t BlockIdBefore(uint64_t aId, uint64_t aSteps, bool aExtendedIds)
{
    if (aExtendedIds)
    {
        return aId - aSteps;
    }
    return (aId - 1 + kStandardIds - aSteps % kStandardIds) % kStandardIds + 1;
}
} // namespace

uint64_t BlockIdAfter(uint64_t aId, uint64_t aSteps, bool aExtendedIds)
{
    if (aExtendedIds)
    {
        return aId + aSteps;
    }
    return (((aId & 0xFFFF) + kStandardIds - 1) % kStandardIds + aSteps % kStandardIds) % kStandardIds + 1;
}

uint64_t BlockIdSteps(uint64_t aFrom, uint64_t aTo, bool aExtendedIds)
{
    if (aExtendedIds)
    {
        return aTo - aFrom;
    }
    const uint64_t lFrom = ((aFrom & 0xFFFF) + kStandardIds - 1) % kStandardIds;
    const uint64_t lTo = ((aTo & 0xFFFF) + kStandardIds - 1) % kStandardIds;
    return (lTo + kStandardIds - lFrom) % kStandardIds;
}

bool BlockIdIsAfter(uint64_t aId, uint64_t aThan, bool aExtendedIds)
{
    const uint64_t lSteps = BlockIdSteps(aThan, aId, aExtendedIds);
    return lSteps != 0 && lSteps < (aExtendedIds ? (uint64_t(1) << 63) : kStandardIds / 2);
}

bool TnRingWindow::Takes(uint64_t aId) const
{
    if (mOpen)
    {
        return true;
    }
    for (size_t lIndex = 0; lIndex < mRangeCount; ++lIndex)
    {
        const TnRingIdRange &lRange = mRanges[lIndex];
        if (BlockIdSteps(lRange.mFirst, aId, mExtendedIds) <= BlockIdSteps(lRange.mFirst, lRange.mLast, mExtendedIds))
        {
            return true;
        }
    }
    return false;
}

bool TnRingWindow::operator==(const TnRingWindow &aOther) const
{
    if (mOpen || aOther.mOpen)
    {
        return mOpen == aOther.mOpen;
    }
    if (mExtendedIds != aOther.mExtendedIds || mRangeCount != aOther.mRangeCount)
    {
        return false;
    }
    for (size_t lIndex = 0; lIndex < mRangeCount; ++lIndex)
    {
        if (mRanges[lIndex].mFirst != aOther.mRanges[lIndex].mFirst ||
            mRanges[lIndex].mLast != aOther.mRanges[lIndex].mLast)
        {
            return false;
        }
    }
    return true;
}

TnRingGate::TnRingGate()
{
    Reset(0);
}

void TnRingGate::Reset(size_t aRingBlocks)
{
    mRingBlocks = aRingBlocks;
    mEngaged = mOpening = mPlanWanted = false;
    mExtendedIds = false;
    mHaveLeader = false;
    mRestarted = false;
    mLeaderId = 0;
    mLeaderNs = mLeaderGapNs = 0;
    mSpanOpen = false;
    mSpanId = mSpanStart = 0;
    mSpan = 0;
    std::fill(std::begin(mSpans), std::end(mSpans), size_t(0));
    mSpanNext = 0;
    mBlockPackets = 0;
    mPerRingBlock = 0;
    mCalm = 0;
    mRecentTaken = mRecentShed = 0;
    mHistory[0] = Entry();
    mHistoryNext = 1;
    mHistoryCount = 1;
    mShedNext = mShedCount = 0;
}

uint64_t TnRingGate::GetQuietNs() const
{
    return std::max(kQuietNs, kQuietBlocks * mLeaderGapNs);
}

size_t TnRingGate::GetBlocksAhead() const
{
    if (mSpan == 0)
    {
        return 0;
    }
    // The block the kernel fills and the one being read are not free, and
    // blocks go out part-filled when the kernel's timer retires them: a
    // leader of a block shed takes a ring block of its own when nothing
    // follows it soon, one for each block let in, say.
    const size_t lSpare = kSpareBlocks + std::max(kLeaderBlocks, mRingBlocks / 32);
    const size_t lUsable = mRingBlocks > lSpare ? mRingBlocks - lSpare : 0;
    return std::max<size_t>(2, std::min(kMaxAhead, lUsable / (mSpan + 1)));
}

bool TnRingGate::TakenThroughout(uint64_t aId, uint64_t aArrivedNs) const
{
    for (size_t lBack = 1; lBack <= mHistoryCount; ++lBack)
    {
        const Entry &lEntry = mHistory[(mHistoryNext + kHistory - lBack) % kHistory];
        if (!lEntry.mWindow.Takes(aId))
        {
            return false;
        }
        if (lEntry.mSinceNs <= aArrivedNs)
        {
            break; // the window in force when the leader came
        }
    }
    return true;
}

void TnRingGate::Shed(uint64_t aId)
{
    mShed[mShedNext] = aId;
    mShedNext = (mShedNext + 1) % kShedMemory;
    mShedCount = std::min(mShedCount + 1, kShedMemory);
    mCalm = 0;
    mOpening = false;
}

bool TnRingGate::IsShed(uint64_t aId) const
{
    for (size_t lIndex = 0; lIndex < mShedCount; ++lIndex)
    {
        if (mShed[lIndex] == aId)
        {
            return true;
        }
    }
    return false;
}

bool TnRingGate::OnLeader(uint64_t aId, bool aExtendedIds, uint64_t aArrivedNs, uint64_t aRingBlock)
{
    if (mHaveLeader && aExtendedIds == mExtendedIds && !BlockIdIsAfter(aId, mLeaderId, aExtendedIds) &&
        BlockIdSteps(aId, mLeaderId, aExtendedIds) <= kRestartDistance)
    {
        // A late leader (a resend): taken when its block still is.
        return TakenThroughout(aId, aArrivedNs) && !IsShed(aId);
    }
    // The stream's pace: the time between leaders, smoothed (a pause of the
    // stream left out).
    if (mHaveLeader && aArrivedNs > mLeaderNs && aArrivedNs - mLeaderNs < kLongestGapNs)
    {
        const uint64_t lGap = aArrivedNs - mLeaderNs;
        mLeaderGapNs = mLeaderGapNs == 0 ? lGap : (7 * mLeaderGapNs + lGap) / 8;
    }
    mLeaderNs = aArrivedNs;
    // The newest leader, or the first of a count that restarted: what the
    // window let in of the old count means nothing any more.
    mRestarted = mHaveLeader && (aExtendedIds != mExtendedIds || !BlockIdIsAfter(aId, mLeaderId, aExtendedIds));
    mExtendedIds = aExtendedIds;
    mHaveLeader = true;
    mLeaderId = aId;
    const bool lTaken = TakenThroughout(aId, aArrivedNs);
    // Taken and shed lately: counts that fade by a sixteenth each leader.
    mRecentTaken = mRecentTaken - mRecentTaken / 16 + (lTaken ? 16 : 0);
    mRecentShed = mRecentShed - mRecentShed / 16 + (lTaken ? 0 : 16);
    if (lTaken)
    {
        mSpanOpen = true;
        mSpanId = aId;
        mSpanStart = aRingBlock;
        mOpening = mEngaged && ++mCalm >= kCalmBlocks;
    }
    else
    {
        Shed(aId);
        mSpanOpen = false;
    }
    mPlanWanted = mEngaged;
    return lTaken;
}

void TnRingGate::OnTrailer(uint64_t aId, uint32_t aPacketId, uint64_t aRingBlock)
{
    if (!mSpanOpen || aId != mSpanId || aRingBlock < mSpanStart)
    {
        return;
    }
    mBlockPackets = std::max<uint64_t>(mBlockPackets, uint64_t(aPacketId) + 1);
    mSpanOpen = false;
    mSpans[mSpanNext] = static_cast<size_t>(aRingBlock - mSpanStart) + 1;
    mSpanNext = (mSpanNext + 1) % (sizeof(mSpans) / sizeof(mSpans[0]));
    mSpan = *std::max_element(std::begin(mSpans), std::end(mSpans));
}

void TnRingGate::EstimateSpan(uint64_t aPackets)
{
    if (mSpan != 0 || aPackets == 0 || mPerRingBlock == 0)
    {
        return;
    }
    // Where the block starts in its first ring block is not known: one more.
    mSpan = static_cast<size_t>(std::min<uint64_t>((aPackets + mPerRingBlock - 1) / mPerRingBlock + 1, mRingBlocks));
    mBlockPackets = aPackets;
}

bool TnRingGate::Behind(size_t aUnreadBlocks, bool aDropped)
{
    const bool lBehind = aDropped || aUnreadBlocks * 4 >= mRingBlocks;
    if (!lBehind)
    {
        return false;
    }
    mCalm = 0;
    mOpening = false;
    if (mEngaged || mSpan == 0 || !mHaveLeader)
    {
        return false;
    }
    mEngaged = true;
    mPlanWanted = true;
    return true;
}

bool TnRingGate::Plan(const TnRingNewest &aNewest, size_t aUnreadBlocks, TnRingWindow &aWindow)
{
    mPlanWanted = false;
    const TnRingWindow &lNow = GetWindow();
    if (!mEngaged || !mHaveLeader)
    {
        return false;
    }
    if (mOpening)
    {
        mEngaged = mOpening = false;
        aWindow = TnRingWindow();
        return !lNow.mOpen;
    }
    const bool lExtended = mExtendedIds;
    const uint64_t lAhead = GetBlocksAhead();
    const uint64_t lFrom = BlockIdBefore(mLeaderId, kKeepBehind, lExtended);
    // Ids are counted in steps from lFrom, up to a bound that only a count
    // that restarted passes (a receiver far behind may have many blocks
    // shed between the leader it read last and the kernel's newest).
    const uint64_t lBound = kIdBound;
    auto lSteps = [&](uint64_t aId) { return BlockIdSteps(lFrom, aId, lExtended); };
    auto lId = [&](uint64_t aSteps) { return BlockIdAfter(lFrom, aSteps, lExtended); };
    // The newest block that started, as far as known: the leader's, or a
    // later one the kernel took.
    uint64_t lStarted = kKeepBehind;
    const bool lHaveNewest = aNewest.mKnown && aNewest.mExtendedIds == lExtended && lSteps(aNewest.mBlockId) <= lBound;
    if (lHaveNewest)
    {
        lStarted = std::max(lStarted, lSteps(aNewest.mBlockId));
    }
    // The ring blocks the rest of the newest block takes: as its packets
    // tell when the kernel's newest packet is one of it, else its span.
    size_t lRest = mSpan;
    if (lHaveNewest && lSteps(aNewest.mBlockId) == lStarted && mBlockPackets != 0 && mPerRingBlock != 0)
    {
        const uint64_t lLeft = mBlockPackets - std::min<uint64_t>(aNewest.mPacketId, mBlockPackets);
        lRest = static_cast<size_t>(std::min<uint64_t>((lLeft + mPerRingBlock - 1) / mPerRingBlock + 1, mSpan));
    }
    // How many blocks that have not started the free ring blocks hold: the
    // one the kernel fills and the rest of the newest block are kept spare,
    // and each block let in takes its span and, for the leaders of those
    // shed meanwhile, a ring block each (the kernel's timer hands a leader
    // over alone when nothing follows it soon): as many as are shed for each
    // one taken lately, one at least.
    const size_t lFree = aUnreadBlocks + 1 < mRingBlocks ? mRingBlocks - 1 - aUnreadBlocks : 0;
    const size_t lSpare = kSpareBlocks + lRest + std::max(kLeaderBlocks, mRingBlocks / 32);
    const uint64_t lLeaders = std::min<uint64_t>(
        kMostLeaders, std::max<uint64_t>(1, (mRecentShed + mRecentTaken - 1) / std::max<uint32_t>(mRecentTaken, 1)));
    // As many blocks after the newest that started as the free ring blocks
    // hold (waiting, the ring is empty: from the next to start, whatever its
    // id, should the count skip some). Nothing past that is let in any
    // longer, unless it started.
    const uint64_t lRoom =
        lFree > lSpare ? std::min<uint64_t>((lFree - lSpare) / (mSpan + lLeaders), kMaxAhead) : 0;
    const uint64_t lUpper = lStarted + lRoom;
    const uint64_t lClip = lUpper;
    TnRingIdRange lRanges[TnRingWindow::kMaxRanges + 1];
    size_t lCount = 0;
    auto lAdd = [&](uint64_t aFirst, uint64_t aLast) {
        aLast = std::min(aLast, lClip);
        if (aFirst > aLast)
        {
            return;
        }
        if (lCount > 0 && aFirst <= lRanges[lCount - 1].mLast + 1)
        {
            lRanges[lCount - 1].mLast = std::max(lRanges[lCount - 1].mLast, aLast);
            return;
        }
        if (lCount == TnRingWindow::kMaxRanges)
        {
            // Too many: the two oldest become one, with the blocks between
            // (shed ones, whose packets the receiver leaves unread).
            lRanges[0].mLast = lRanges[1].mLast;
            std::copy(lRanges + 2, lRanges + lCount, lRanges + 1);
            --lCount;
        }
        lRanges[lCount++] = {aFirst, aLast};
    };
    uint64_t lReachBefore = 0; // steps to the last block the window in force takes
    if (lNow.mOpen)
    {
        lAdd(0, lStarted);
    }
    else if (lNow.mExtendedIds == lExtended && !mRestarted)
    {
        for (size_t lIndex = 0; lIndex < lNow.mRangeCount; ++lIndex)
        {
            uint64_t lFirst = lSteps(lNow.mRanges[lIndex].mFirst);
            const uint64_t lLast = lSteps(lNow.mRanges[lIndex].mLast);
            if (lLast > lBound)
            {
                continue; // ended before lFrom, or of another count
            }
            lFirst = lFirst > lLast ? 0 : lFirst;
            lReachBefore = std::max(lReachBefore, lLast);
            lAdd(lFirst, lLast);
        }
    }
    // Blocks that started without being let in stay out: new ones from the
    // first that has not started.
    const uint64_t lFirstNew = std::max(lStarted, lCount > 0 ? lRanges[lCount - 1].mLast : 0) + 1;
    if (lFirstNew <= lUpper)
    {
        lAdd(lFirstNew, lUpper);
    }
    TnRingWindow lNext;
    lNext.mOpen = false;
    lNext.mExtendedIds = lExtended;
    lNext.mRangeCount = lCount;
    for (size_t lIndex = 0; lIndex < lCount; ++lIndex)
    {
        lNext.mRanges[lIndex] = {lId(lRanges[lIndex].mFirst), lId(lRanges[lIndex].mLast)};
    }
    if (lNext == lNow)
    {
        return false;
    }
    // A new filter costs a system call: installed when it is the gate's
    // first, lets in the block after the newest started, takes back what
    // the free blocks cannot hold, or reaches half as far again as the
    // window in force.
    const uint64_t lReach = lCount > 0 ? lRanges[lCount - 1].mLast : 0;
    const uint64_t lStep = std::max<uint64_t>(1, lAhead / 2);
    const bool lNextBlock = !lNow.Takes(lId(lStarted + 1)) && lNext.Takes(lId(lStarted + 1));
    if (!lNow.mOpen && !lNextBlock && lReach >= lReachBefore && lReach < lReachBefore + lStep)
    {
        return false;
    }
    aWindow = lNext;
    mRestarted = false;
    return true;
}

void TnRingGate::Installed(const TnRingWindow &aWindow, uint64_t aNowNs)
{
    Entry &lEntry = mHistory[mHistoryNext];
    lEntry.mWindow = aWindow;
    lEntry.mSinceNs = aNowNs;
    mHistoryNext = (mHistoryNext + 1) % kHistory;
    mHistoryCount = std::min(mHistoryCount + 1, kHistory);
}
} // namespace gev
} // namespace tn
