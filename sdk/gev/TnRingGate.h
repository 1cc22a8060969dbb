// Whole blocks under overload: which blocks (frames) a packet ring takes
// when the network offers more than the receiving core can take.
//
// A ring that falls behind fills, and the kernel then drops packets
// wherever it finds no room: a few of every frame, so that none completes.
// The gate decides per block instead. While the receiver keeps up it is
// open (the ring's filter takes every packet of the stream). Once the
// receiver falls behind (a quarter of the ring waits, or the ring dropped
// packets) it engages: the ring's filter then takes every leader (so that
// the receiver sees each block start) and the other packets only of the
// blocks the gate has let in. After every ring block read, the gate lets in
// as many blocks after the newest that started as the free ring blocks hold
// (each takes its span, as measured, and a ring block for each leader of a
// block shed meanwhile): the ring does not overflow, the blocks let in come
// whole, and the packets of the others are dropped by the filter, before
// the kernel copies them. A block that started before it was let in (its
// leader came earlier than the filter that took it) lost packets to the
// filter: it is shed whole, as are the blocks whose leader came while they
// were not let in. Once 64 blocks in a row were taken, or the stream paused,
// the gate opens again.
//
// The gate is pure logic (no socket, no clock): the receiver tells it what
// it reads from the ring and installs the windows it plans.
#ifndef TN_RING_GATE_H
#define TN_RING_GATE_H

#include <stddef.h>
#include <stdint.h>

#include "TnGevExport.h"

namespace tn
{
namespace gev
{
/// Block ids as a stream counts them: standard ids run 1 to 65535 and wrap
/// to 1 (0 is never used), extended ids are 64-bit.
TN_GEV_API uint64_t BlockIdAfter(uint64_t aId, uint64_t aSteps, bool aExtendedIds);
/// Steps from aFrom to aTo (0 when equal; large when aTo comes before aFrom).
TN_GEV_API uint64_t BlockIdSteps(uint64_t aFrom, uint64_t aTo, bool aExtendedIds);
/// Whether aId comes after aThan (within half the id space).
TN_GEV_API bool BlockIdIsAfter(uint64_t aId, uint64_t aThan, bool aExtendedIds);

/// The newest packet of the stream the kernel is known to have taken.
struct TnRingNewest
{
    bool mKnown = false;
    bool mExtendedIds = false;
    uint64_t mBlockId = 0;
    uint32_t mPacketId = 0;
};

/// Blocks mFirst to mLast, both included, in id order.
struct TnRingIdRange
{
    uint64_t mFirst = 0;
    uint64_t mLast = 0;
};

/// What a ring's filter takes of the stream: everything (open), or every
/// leader and the other packets of the blocks in its ranges.
struct TnRingWindow
{
    static constexpr size_t kMaxRanges = 4;

    bool mOpen = true;
    bool mExtendedIds = false;
    size_t mRangeCount = 0;
    TnRingIdRange mRanges[kMaxRanges];

    /// Whether the filter takes the packets of block aId other than its
    /// leader.
    TN_GEV_API bool Takes(uint64_t aId) const;
    TN_GEV_API bool operator==(const TnRingWindow &aOther) const;
    bool operator!=(const TnRingWindow &aOther) const
    {
        return !(*this == aOther);
    }
};

class TN_GEV_API TnRingGate
{
public:
    /// Windows remembered with the time they took effect: a leader older
    /// than all of them is judged by the oldest.
    static constexpr size_t kHistory = 16;
    /// Recent shed blocks whose packets the receiver skips.
    static constexpr size_t kShedMemory = 16;

    TnRingGate();

    /// Open, nothing seen: a ring of aRingBlocks blocks.
    void Reset(size_t aRingBlocks);

    bool IsEngaged() const
    {
        return mEngaged;
    }

    /// The ring blocks a block of the stream spans, as measured (0: not yet).
    size_t GetSpan() const
    {
        return mSpan;
    }

    /// How many blocks, from a leader just read on, the ring holds whole.
    size_t GetBlocksAhead() const;

    /// After this long with nothing from the ring the stream paused (four
    /// times the time between its leaders, 10 ms at least): the receiver is
    /// not behind, and whatever block comes next is to be taken.
    uint64_t GetQuietNs() const;

    /// The leader of block aId came out of the ring; the kernel took it at
    /// aArrivedNs (its clock, the one Installed is given) into ring block
    /// aRingBlock (a count of the ring blocks read). Returns whether the block
    /// is taken: false means it is shed whole.
    bool OnLeader(uint64_t aId, bool aExtendedIds, uint64_t aArrivedNs, uint64_t aRingBlock);

    /// The trailer of block aId, packet aPacketId, came out of ring block
    /// aRingBlock: the span of a taken block from its leader on, and its
    /// packets.
    void OnTrailer(uint64_t aId, uint32_t aPacketId, uint64_t aRingBlock);

    /// A full ring block holds aPerRingBlock packets.
    void SetRingBlockPackets(uint32_t aPerRingBlock)
    {
        mPerRingBlock = aPerRingBlock;
    }

    /// Until a span is measured, the newest block is known to have aPackets
    /// packets: the span they make over a full ring block's (a receiver far
    /// behind may finish no block before the ring overflows).
    void EstimateSpan(uint64_t aPackets);

    /// Whether the packets of block aId are to be left unread (it was shed).
    bool IsShed(uint64_t aId) const;


    /// Whether anything was shed since the last Reset.
    bool HasShed() const
    {
        return mShedCount != 0;
    }

    /// The receiver is behind: aUnreadBlocks ring blocks wait, and with
    /// aDropped the ring dropped packets since the last call. Engages the
    /// gate when it should (and can: the span is known); whether it did.
    bool Behind(size_t aUnreadBlocks, bool aDropped);

    /// Whether a window should be planned now: after a leader, or when the
    /// gate engaged or means to open (engaged, the receiver plans after
    /// every ring block all the same).
    bool WantsPlan() const
    {
        return mPlanWanted;
    }

    /// The window to install next, given the newest packet the kernel is
    /// known to have taken and the ring blocks that wait (aUnreadBlocks):
    /// the blocks that started and were let in, and as many after the newest
    /// as the free ring blocks hold, whatever their ids (the count may skip
    /// some). False when the one in force stays.
    bool Plan(const TnRingNewest &aNewest, size_t aUnreadBlocks, TnRingWindow &aWindow);

    /// aWindow took effect at aNowNs.
    void Installed(const TnRingWindow &aWindow, uint64_t aNowNs);

    /// The window in force.
    const TnRingWindow &GetWindow() const
    {
        return mHistory[(mHistoryNext + kHistory - 1) % kHistory].mWindow;
    }

private:
    struct Entry
    {
        TnRingWindow mWindow;
        uint64_t mSinceNs = 0;
    };

    /// Whether every window in force since aArrivedNs took block aId.
    bool TakenThroughout(uint64_t aId, uint64_t aArrivedNs) const;
    void Shed(uint64_t aId);

    size_t mRingBlocks;
    bool mEngaged;
    bool mOpening; // calm again: the next plan opens
    bool mPlanWanted;
    bool mExtendedIds;
    bool mHaveLeader;
    bool mRestarted;          // the newest leader began a new count
    uint64_t mLeaderId;       // the newest leader read
    uint64_t mLeaderNs;       // when it came
    uint64_t mLeaderGapNs;    // the time between leaders, smoothed
    bool mSpanOpen;           // a taken block's trailer is awaited
    uint64_t mSpanId;
    uint64_t mSpanStart;      // its leader's ring block
    size_t mSpan;
    size_t mSpans[8];
    size_t mSpanNext;
    uint64_t mBlockPackets;  // the most packets a block of the stream had
    uint32_t mPerRingBlock;  // packets a full ring block holds
    uint32_t mCalm; // blocks taken in a row since the last shed
    uint32_t mRecentTaken; // leaders taken and shed lately, in sixteenths, fading
    uint32_t mRecentShed;
    Entry mHistory[kHistory];
    size_t mHistoryNext;
    size_t mHistoryCount;
    uint64_t mShed[kShedMemory];
    size_t mShedNext;
    size_t mShedCount;
};
} // namespace gev
} // namespace tn

#endif
