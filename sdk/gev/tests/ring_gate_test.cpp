// Whole blocks under overload: the ring filter's windows run on crafted
// packets, the gate's decisions step by step and against a simulated kernel
// that offers more than the reader takes, and blocks the receiver drops
// whole in the assembler.
#include <gtest/gtest.h>

#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>

#include <deque>
#include <map>
#include <vector>

#include "TnGevBytes.h"
#include "TnGvspAssembler.h"
#include "TnGvspPacketiser.h"
#include "TnPacketRing.h"
#include "TnResult.h"
#include "TnRingGate.h"
#include "TnTestStreams.h"

using namespace tn::gev;

namespace
{
constexpr uint16_t kPort = 50400;

// A classic socket filter run as the kernel runs it, for the instructions
// the ring's programs use; a load past the packet drops it.
uint32_t RunFilter(const std::vector<sock_filter> &aProgram, const std::vector<uint8_t> &aPacket,
                   uint8_t aPacketType = PACKET_HOST, uint32_t aInterface = 1)
{
    uint32_t lA = 0;
    uint32_t lX = 0;
    for (size_t lPc = 0; lPc < aProgram.size(); ++lPc)
    {
        const sock_filter &lOp = aProgram[lPc];
        auto lLoad = [&](uint32_t aOffset, uint32_t aSize, bool &aOk) -> uint32_t {
            if (aOffset >= uint32_t(SKF_AD_OFF))
            {
                aOk = true;
                switch (aOffset - uint32_t(SKF_AD_OFF))
                {
                case SKF_AD_PROTOCOL:
                    return ETH_P_IP;
                case SKF_AD_PKTTYPE:
                    return aPacketType;
                case SKF_AD_IFINDEX:
                    return aInterface;
                default:
                    aOk = false;
                    return 0;
                }
            }
            aOk = aOffset + aSize <= aPacket.size();
            uint32_t lValue = 0;
            for (uint32_t lByte = 0; aOk && lByte < aSize; ++lByte)
            {
                lValue = lValue << 8 | aPacket[aOffset + lByte];
            }
            return lValue;
        };
        const uint32_t lSize = BPF_SIZE(lOp.code) == BPF_B ? 1 : BPF_SIZE(lOp.code) == BPF_H ? 2 : 4;
        bool lOk = true;
        switch (BPF_CLASS(lOp.code))
        {
        case BPF_LD:
            lA = BPF_MODE(lOp.code) == BPF_LEN  ? uint32_t(aPacket.size())
                 : BPF_MODE(lOp.code) == BPF_IND ? lLoad(lX + lOp.k, lSize, lOk)
                                                 : lLoad(lOp.k, lSize, lOk);
            break;
        case BPF_LDX:
            EXPECT_EQ(BPF_MODE(lOp.code), BPF_MSH);
            lX = 4 * (lLoad(lOp.k, 1, lOk) & 0x0F);
            break;
        case BPF_ALU:
            EXPECT_EQ(BPF_SRC(lOp.code), BPF_K);
            lA = BPF_OP(lOp.code) == BPF_AND ? lA & lOp.k : BPF_OP(lOp.code) == BPF_SUB ? lA - lOp.k : 0xDEAD;
            EXPECT_TRUE(BPF_OP(lOp.code) == BPF_AND || BPF_OP(lOp.code) == BPF_SUB);
            break;
        case BPF_JMP: {
            bool lTrue = false;
            switch (BPF_OP(lOp.code))
            {
            case BPF_JEQ:
                lTrue = lA == lOp.k;
                break;
            case BPF_JGT:
                lTrue = lA > lOp.k;
                break;
            case BPF_JGE:
                lTrue = lA >= lOp.k;
                break;
            case BPF_JSET:
                lTrue = (lA & lOp.k) != 0;
                break;
            default:
                ADD_FAILURE() << "jump " << lOp.code;
            }
            lPc += lTrue ? lOp.jt : lOp.jf;
            break;
        }
        case BPF_RET:
            return lOp.k;
        default:
            ADD_FAILURE() << "instruction " << lOp.code;
            return 0;
        }
        if (!lOk)
        {
            return 0;
        }
    }
    ADD_FAILURE() << "the program ran past its end";
    return 0;
}

// An IPv4 UDP packet to aPort carrying a GigE Vision header of format
// aFormat for block aId (extended ids with aExtended), and a few bytes.
std::vector<uint8_t> StreamPacket(uint8_t aFormat, uint64_t aId, bool aExtended = false, uint16_t aPort = kPort)
{
    std::vector<uint8_t> lGvsp(aExtended ? kGvspExtendedHeaderSize : kGvspHeaderSize, 0);
    lGvsp[4] = static_cast<uint8_t>(aFormat | (aExtended ? kGvspExtendedIdBit : 0));
    if (aExtended)
    {
        PutU64(&lGvsp[8], aId);
    }
    else
    {
        PutU16(&lGvsp[2], static_cast<uint16_t>(aId));
    }
    lGvsp.insert(lGvsp.end(), 16, 0xAB);
    std::vector<uint8_t> lPacket(28 + lGvsp.size(), 0);
    lPacket[0] = 0x45;
    PutU16(&lPacket[2], static_cast<uint16_t>(lPacket.size()));
    lPacket[8] = 64;
    lPacket[9] = 17;
    PutU32(&lPacket[12], 0x7F000002);
    PutU32(&lPacket[16], 0x7F000001);
    PutU16(&lPacket[20], 40000);
    PutU16(&lPacket[22], aPort);
    PutU16(&lPacket[24], static_cast<uint16_t>(8 + lGvsp.size()));
    std::copy(lGvsp.begin(), lGvsp.end(), lPacket.begin() + 28);
    return lPacket;
}

TnRingWindow Window(std::initializer_list<TnRingIdRange> aRanges, bool aExtended = false)
{
    TnRingWindow lWindow;
    lWindow.mOpen = false;
    lWindow.mExtendedIds = aExtended;
    for (const TnRingIdRange &lRange : aRanges)
    {
        lWindow.mRanges[lWindow.mRangeCount++] = lRange;
    }
    return lWindow;
}

// The kernel's newest packet: packet aPacket of block aId.
TnRingNewest Newest(uint64_t aId, uint32_t aPacket = 400, bool aExtended = false)
{
    TnRingNewest lNewest;
    lNewest.mKnown = true;
    lNewest.mExtendedIds = aExtended;
    lNewest.mBlockId = aId;
    lNewest.mPacketId = aPacket;
    return lNewest;
}
} // namespace

TEST(RingGate, WindowsLetEveryLeaderThroughAndTheirBlocksOtherPackets)
{
    TnRingFilter lFilter;
    lFilter.mPort = kPort;
    const auto lTakes = [&](const TnRingWindow &aWindow, const std::vector<uint8_t> &aPacket) {
        return RunFilter(RingFilterProgram(lFilter, aWindow), aPacket) != 0;
    };
    // Open: every packet of the stream, as the plain program.
    EXPECT_EQ(RingFilterProgram(lFilter, TnRingWindow()).size(), RingFilterProgram(lFilter).size());
    EXPECT_TRUE(lTakes(TnRingWindow(), StreamPacket(kGvspFormatPayload, 900)));
    EXPECT_FALSE(lTakes(TnRingWindow(), StreamPacket(kGvspFormatPayload, 900, false, kPort + 1)));

    // Two ranges, the second across the wrap of standard ids (65535, then 1).
    const TnRingWindow lWindow = Window({{10, 12}, {65534, 2}});
    for (uint64_t lId : {10, 11, 12, 65534, 65535, 1, 2})
    {
        EXPECT_TRUE(lTakes(lWindow, StreamPacket(kGvspFormatPayload, lId))) << lId;
        EXPECT_TRUE(lTakes(lWindow, StreamPacket(kGvspFormatTrailer, lId))) << lId;
        EXPECT_TRUE(lWindow.Takes(lId)) << lId;
    }
    for (uint64_t lId : {9, 13, 3, 65533, 30000})
    {
        EXPECT_FALSE(lTakes(lWindow, StreamPacket(kGvspFormatPayload, lId))) << lId;
        EXPECT_FALSE(lTakes(lWindow, StreamPacket(kGvspFormatGenDC, lId))) << lId;
        EXPECT_TRUE(lTakes(lWindow, StreamPacket(kGvspFormatLeader, lId))) << lId; // leaders always
        EXPECT_FALSE(lWindow.Takes(lId)) << lId;
    }
    // Another port, another host's packet, a datagram too short to tell.
    EXPECT_FALSE(lTakes(lWindow, StreamPacket(kGvspFormatLeader, 11, false, kPort + 1)));
    EXPECT_EQ(RunFilter(RingFilterProgram(lFilter, lWindow), StreamPacket(kGvspFormatPayload, 11), PACKET_OTHERHOST),
              0u);
    std::vector<uint8_t> lShort = StreamPacket(kGvspFormatPayload, 11);
    lShort.resize(28 + 3);
    EXPECT_FALSE(lTakes(lWindow, lShort));

    // Extended ids compare their low 32 bits; a window of standard ids
    // lets only the leaders of extended ones through, and the other way round.
    const uint64_t lBase = 0x123456789ull << 8;
    const TnRingWindow lExtended = Window({{lBase + 5, lBase + 8}}, true);
    EXPECT_TRUE(lTakes(lExtended, StreamPacket(kGvspFormatPayload, lBase + 5, true)));
    EXPECT_TRUE(lTakes(lExtended, StreamPacket(kGvspFormatPayload, lBase + 8, true)));
    EXPECT_FALSE(lTakes(lExtended, StreamPacket(kGvspFormatPayload, lBase + 9, true)));
    EXPECT_FALSE(lTakes(lExtended, StreamPacket(kGvspFormatPayload, lBase + 4, true)));
    EXPECT_TRUE(lTakes(lExtended, StreamPacket(kGvspFormatLeader, lBase + 900, true)));
    EXPECT_FALSE(lTakes(lExtended, StreamPacket(kGvspFormatPayload, 6)));
    EXPECT_FALSE(lTakes(lWindow, StreamPacket(kGvspFormatPayload, 11, true)));
    EXPECT_TRUE(lTakes(lWindow, StreamPacket(kGvspFormatLeader, 11, true)));

    // The block and packet ids read back from a ring packet, for the newest
    // in the ring.
    TnRingPacket lPacket;
    std::vector<uint8_t> lBytes = StreamPacket(kGvspFormatPayload, lBase + 7, true);
    PutU32(&lBytes[28 + 16], 4321);
    lPacket.mData = lBytes.data();
    lPacket.mCaptured = lPacket.mLength = static_cast<uint32_t>(lBytes.size());
    TnRingNewest lIds;
    ASSERT_TRUE(RingPacketIds(lPacket, lFilter, lIds));
    EXPECT_TRUE(lIds.mKnown && lIds.mExtendedIds);
    EXPECT_EQ(lIds.mBlockId, lBase + 7);
    EXPECT_EQ(lIds.mPacketId, 4321u);
    lPacket.mCaptured = 28 + 12;
    EXPECT_FALSE(RingPacketIds(lPacket, lFilter, lIds));
    EXPECT_FALSE(lIds.mKnown);
    TnRingFilter lOther = lFilter;
    lOther.mPort = kPort + 1;
    lPacket.mCaptured = lPacket.mLength;
    EXPECT_FALSE(RingPacketIds(lPacket, lOther, lIds));
    std::vector<uint8_t> lStandard = StreamPacket(kGvspFormatTrailer, 65000);
    PutU24(&lStandard[28 + 5], 8601);
    lPacket.mData = lStandard.data();
    lPacket.mCaptured = lPacket.mLength = static_cast<uint32_t>(lStandard.size());
    ASSERT_TRUE(RingPacketIds(lPacket, lFilter, lIds));
    EXPECT_FALSE(lIds.mExtendedIds);
    EXPECT_EQ(lIds.mBlockId, 65000u);
    EXPECT_EQ(lIds.mPacketId, 8601u);
}

TEST(RingGate, BlockIdsCountAcrossTheWrap)
{
    EXPECT_EQ(BlockIdAfter(65535, 1, false), 1u);
    EXPECT_EQ(BlockIdAfter(65530, 10, false), 5u);
    EXPECT_EQ(BlockIdSteps(65530, 5, false), 10u);
    EXPECT_EQ(BlockIdSteps(7, 7, false), 0u);
    EXPECT_TRUE(BlockIdIsAfter(2, 65535, false));
    EXPECT_FALSE(BlockIdIsAfter(65535, 2, false));
    EXPECT_EQ(BlockIdAfter(uint64_t(-1), 2, true), 1u);
    EXPECT_TRUE(BlockIdIsAfter(1, uint64_t(-1), true));
}

TEST(RingGate, BehindItLetsInWhatTheRingHoldsAndShedsBlocksThatStartedOutside)
{
    // 108 ring blocks, a block of the stream spans 10: 108 - 10 spare leave
    // room for 8 whole blocks, each with a ring block for a leader of one
    // shed.
    TnRingGate lGate;
    lGate.Reset(108);
    EXPECT_FALSE(lGate.Behind(60, false)); // nothing measured yet: no gate
    EXPECT_TRUE(lGate.OnLeader(1, false, 1000, 0));
    // Until a block is read whole, its size tells: 800 packets, 100 to a
    // ring block, start anywhere in the first.
    lGate.SetRingBlockPackets(100);
    lGate.EstimateSpan(800);
    EXPECT_EQ(lGate.GetSpan(), 9u);
    lGate.OnTrailer(1, 799, 9);
    EXPECT_EQ(lGate.GetSpan(), 10u);
    lGate.EstimateSpan(100); // measured: no estimate any more
    EXPECT_EQ(lGate.GetSpan(), 10u);
    EXPECT_EQ(lGate.GetBlocksAhead(), 8u);
    EXPECT_TRUE(lGate.OnLeader(2, false, 2000, 10));
    EXPECT_FALSE(lGate.Behind(20, false)); // a fifth of the ring: keeping up
    EXPECT_FALSE(lGate.IsEngaged());
    EXPECT_TRUE(lGate.Behind(30, false));
    ASSERT_TRUE(lGate.WantsPlan());

    // The kernel has half of block 4 already, 20 ring blocks wait: what
    // started stays taken, and the 87 free blocks, less the rest of block 4
    // (5) and 10 spare, hold 6 more blocks of 11 ring blocks (a span and a
    // leader's of one shed).
    TnRingWindow lWindow;
    ASSERT_TRUE(lGate.Plan(Newest(4), 20, lWindow));
    EXPECT_FALSE(lWindow.mOpen);
    ASSERT_EQ(lWindow.mRangeCount, 1u);
    EXPECT_EQ(lWindow.mRanges[0].mLast, 10u);
    EXPECT_TRUE(lWindow.Takes(2) && lWindow.Takes(4) && lWindow.Takes(10) && !lWindow.Takes(11));
    lGate.Installed(lWindow, 5000);

    // Blocks 3 and 4 started before the window: taken whole all the same
    // (the open filter took them). So does 5, let in before it came.
    EXPECT_TRUE(lGate.OnLeader(3, false, 3000, 20));
    EXPECT_TRUE(lGate.OnLeader(4, false, 4000, 30));
    EXPECT_TRUE(lGate.OnLeader(5, false, 6000, 40));
    EXPECT_FALSE(lGate.IsShed(5));
    // Far behind (65 ring blocks wait), the reader finds the kernel at block
    // 12 when it reads leader 6: 11 and 12 started outside the window and
    // stay out; 13 and 14 are let in, what the free blocks hold.
    EXPECT_TRUE(lGate.OnLeader(6, false, 7000, 50));
    ASSERT_TRUE(lGate.Plan(Newest(12), 65, lWindow));
    EXPECT_TRUE(lWindow.Takes(6) && lWindow.Takes(10) && lWindow.Takes(13) && lWindow.Takes(14));
    EXPECT_FALSE(lWindow.Takes(11) || lWindow.Takes(12) || lWindow.Takes(15));
    lGate.Installed(lWindow, 8000);
    // Their leaders came before the window: shed, their packets left unread.
    EXPECT_FALSE(lGate.OnLeader(11, false, 7500, 60));
    EXPECT_TRUE(lGate.IsShed(11));
    EXPECT_FALSE(lGate.OnLeader(12, false, 7600, 61));
    EXPECT_TRUE(lGate.OnLeader(13, false, 9000, 62));
    EXPECT_FALSE(lGate.IsShed(13));
    // Reading 13, caught up, the reader lets in up to 21.
    ASSERT_TRUE(lGate.Plan(Newest(13), 0, lWindow));
    EXPECT_TRUE(lWindow.Takes(14) && lWindow.Takes(21) && !lWindow.Takes(22) && !lWindow.Takes(12));
    lGate.Installed(lWindow, 12000);
    EXPECT_TRUE(lGate.OnLeader(14, false, 9500, 63));
    // 15 was let in after its leader came (the filter dropped its first
    // packets): shed.
    EXPECT_FALSE(lGate.OnLeader(15, false, 11000, 70));
    EXPECT_TRUE(lGate.IsShed(15));
    // A late leader (a resend of one in flight) is judged by its block.
    EXPECT_TRUE(lGate.OnLeader(14, false, 13000, 71));
    EXPECT_FALSE(lGate.OnLeader(12, false, 13000, 71));
}

TEST(RingGate, WaitingItLetsInWhateverComesNextAndOpensOnceCalm)
{
    // 256 ring blocks, a span of 20: 11 blocks ahead.
    TnRingGate lGate;
    lGate.Reset(256);
    ASSERT_TRUE(lGate.OnLeader(100, false, 100, 0));
    lGate.OnTrailer(100, 999, 19);
    ASSERT_EQ(lGate.GetBlocksAhead(), 11u);
    ASSERT_TRUE(lGate.OnLeader(101, false, 200, 20));
    ASSERT_TRUE(lGate.Behind(0, true)); // the ring dropped packets
    TnRingWindow lWindow;
    ASSERT_TRUE(lGate.Plan(TnRingNewest(), 0, lWindow));
    lGate.Installed(lWindow, 300);
    EXPECT_TRUE(lWindow.Takes(111) && !lWindow.Takes(112));
    // The reader caught up, in block 113 (shed: the window did not let it
    // in), and waits: as many blocks as the ring holds are let in from the
    // next to start, whatever their ids (blocks the network lost leave a
    // gap); no more, should the reader stall now.
    EXPECT_FALSE(lGate.OnLeader(113, false, 350, 25));
    ASSERT_TRUE(lGate.Plan(TnRingNewest(), 0, lWindow));
    lGate.Installed(lWindow, 400);
    EXPECT_TRUE(lWindow.Takes(114) && lWindow.Takes(123) && !lWindow.Takes(124) && !lWindow.Takes(113));
    EXPECT_FALSE(lGate.Plan(TnRingNewest(), 0, lWindow)); // nothing new to install
    EXPECT_TRUE(lGate.OnLeader(120, false, 500, 30));
    // Behind again, 75 blocks free: what they cannot hold is taken back
    // (blocks 121 and 122 fit, with the rest of 120 and the spare).
    ASSERT_TRUE(lGate.Plan(TnRingNewest(), 180, lWindow));
    lGate.Installed(lWindow, 600);
    EXPECT_TRUE(lWindow.Takes(120) && lWindow.Takes(122) && !lWindow.Takes(123));
    EXPECT_FALSE(lWindow.Takes(100)); // nothing kept from far back

    // A count that restarts (the device began a new acquisition): the first
    // block, whose packets the filter dropped, is shed; the next come.
    EXPECT_FALSE(lGate.OnLeader(1, false, 700, 40));
    ASSERT_TRUE(lGate.Plan(TnRingNewest(), 0, lWindow));
    lGate.Installed(lWindow, 800);
    EXPECT_TRUE(lWindow.Takes(2) && !lWindow.Takes(120));
    uint64_t lNow = 900;
    for (uint64_t lId = 2; lId < 2 + 63; ++lId)
    {
        EXPECT_TRUE(lGate.OnLeader(lId, false, lNow, 50 + lId)) << lId;
        if (lGate.WantsPlan() && lGate.Plan(TnRingNewest(), 0, lWindow))
        {
            lGate.Installed(lWindow, lNow);
        }
        lNow += 100;
    }
    EXPECT_TRUE(lGate.IsEngaged());
    // 64 blocks taken in a row: open again.
    EXPECT_TRUE(lGate.OnLeader(65, false, lNow, 200));
    ASSERT_TRUE(lGate.Plan(TnRingNewest(), 0, lWindow));
    EXPECT_TRUE(lWindow.mOpen);
    EXPECT_FALSE(lGate.IsEngaged());
}

TEST(RingGate, WhereMostBlocksAreShedTheirLeadersTakeRingBlocksToo)
{
    // 256 ring blocks, a span of 20; each block let in takes its span and a
    // ring block for the leader of each block shed meanwhile.
    TnRingGate lGate;
    lGate.Reset(256);
    ASSERT_TRUE(lGate.OnLeader(1, false, 100, 0));
    lGate.OnTrailer(1, 999, 19);
    ASSERT_TRUE(lGate.Behind(100, false));
    TnRingWindow lWindow;
    ASSERT_TRUE(lGate.Plan(TnRingNewest(), 0, lWindow));
    lGate.Installed(lWindow, 200);
    // 255 free less 30 spare, 21 blocks each: 10 let in after block 1.
    EXPECT_TRUE(lWindow.Takes(11) && !lWindow.Takes(12));
    // Nine shed for every one taken (as counts that fade tell: some six):
    // fewer let in after the newest.
    uint64_t lId = 50;
    for (int lRound = 0; lRound < 8; ++lRound)
    {
        for (int lShed = 0; lShed < 9; ++lShed)
        {
            EXPECT_FALSE(lGate.OnLeader(lId++, false, 150, 1));
        }
        lGate.Installed(Window({{lId, lId}}), 300);
        EXPECT_TRUE(lGate.OnLeader(lId++, false, 400, 1));
    }
    ASSERT_TRUE(lGate.Plan(TnRingNewest(), 0, lWindow));
    const uint64_t lLast = lId - 1;
    EXPECT_TRUE(lWindow.Takes(lLast + 7) && !lWindow.Takes(lLast + 10)) << lLast;
}

// A kernel that offers blocks of packets faster than the reader takes them,
// through the gate's windows into a ring of fixed room: every block the gate
// takes arrives whole, the ring never overflows once the gate is engaged,
// and the reader keeps about its own rate.
TEST(RingGate, UnderOverloadEveryBlockTakenIsWholeAndTheRingNeverOverflows)
{
    for (const bool lExtended : {false, true})
    {
        constexpr size_t kPerBlock = 10;    // packets per ring block
        constexpr size_t kRingBlocks = 64;
        constexpr uint32_t kPackets = 42;   // of a block of the stream: leader, 40 payload, trailer
        struct Packet
        {
            uint64_t mId;
            uint32_t mIndex;
            uint64_t mArrivedNs;
        };
        std::deque<Packet> lRing;
        TnRingGate lGate;
        lGate.Reset(kRingBlocks);
        lGate.SetRingBlockPackets(kPerBlock);
        std::map<uint64_t, uint32_t> lDelivered;
        std::map<uint64_t, bool> lTaken;
        uint64_t lOverflowAfterEngaged = 0;
        bool lEverEngaged = false;
        uint64_t lFirstGated = 0; // blocks before it may have overflowed the ring before the gate knew their span
        uint64_t lNextId = lExtended ? (uint64_t(1) << 40) - 300 : 65535 - 300; // across the wrap
        uint32_t lNextIndex = 0;
        uint64_t lReadBlocks = 0;
        uint64_t lLastLeader = 0;
        size_t lReadInBlock = 0;
        uint64_t lOffered = 0;
        for (uint64_t lTick = 1; lTick <= 20000; ++lTick)
        {
            const uint64_t lNowNs = lTick * 1000;
            // The kernel: 8 packets a tick (sometimes a burst), through the
            // window in force.
            if (!lEverEngaged && lGate.IsEngaged())
            {
                lEverEngaged = true;
                lFirstGated = BlockIdAfter(lNextId, 1, lExtended);
            }
            const size_t lArriving = lTick % 97 == 0 ? 60 : 8;
            for (size_t lCount = 0; lCount < lArriving; ++lCount)
            {
                const bool lLeader = lNextIndex == 0;
                if ((lLeader || lGate.GetWindow().Takes(lNextId)))
                {
                    if (lRing.size() < kRingBlocks * kPerBlock)
                    {
                        lRing.push_back({lNextId, lNextIndex, lNowNs});
                    }
                    else if (lGate.IsEngaged())
                    {
                        ++lOverflowAfterEngaged;
                    }
                }
                if (++lNextIndex == kPackets)
                {
                    lNextIndex = 0;
                    lNextId = BlockIdAfter(lNextId, 1, lExtended);
                    ++lOffered;
                }
            }
            // The reader: 5 packets a tick, pausing now and then.
            const size_t lReading = lTick % 1000 < 100 ? 0 : 5;
            for (size_t lCount = 0; lCount < lReading && !lRing.empty(); ++lCount)
            {
                const Packet lPacket = lRing.front();
                lRing.pop_front();
                if (lPacket.mIndex == 0)
                {
                    lTaken[lPacket.mId] = lGate.OnLeader(lPacket.mId, lExtended, lPacket.mArrivedNs, lReadBlocks);
                    lLastLeader = lPacket.mId;
                }
                else if (!lGate.IsShed(lPacket.mId))
                {
                    if (lPacket.mIndex == kPackets - 1)
                    {
                        lGate.OnTrailer(lPacket.mId, lPacket.mIndex, lReadBlocks);
                    }
                    ++lDelivered[lPacket.mId];
                }
                if (++lReadInBlock == kPerBlock)
                {
                    lReadInBlock = 0;
                    ++lReadBlocks;
                    const size_t lUnread = (lRing.size() + kPerBlock - 1) / kPerBlock;
                    lGate.Behind(lUnread, false);
                    TnRingWindow lWindow;
                    TnRingNewest lNewest;
                    if (!lRing.empty())
                    {
                        lNewest = Newest(lRing.back().mId, lRing.back().mIndex, lExtended);
                    }
                    if (lGate.WantsPlan() && lGate.Plan(lNewest, lUnread, lWindow))
                    {
                        lGate.Installed(lWindow, lNowNs);
                    }
                }
            }
            if (lRing.empty() && lGate.IsEngaged())
            {
                TnRingWindow lWindow;
                if (lGate.Plan(TnRingNewest(), 0, lWindow))
                {
                    lGate.Installed(lWindow, lNowNs);
                }
            }
        }
        ASSERT_TRUE(lEverEngaged);
        EXPECT_EQ(lOverflowAfterEngaged, 0u) << lExtended;
        size_t lWhole = 0;
        size_t lShed = 0;
        for (const auto &lBlock : lTaken)
        {
            if (!lBlock.second)
            {
                ++lShed;
                continue;
            }
            // Blocks after the last leader read may still be on their way.
            if (BlockIdSteps(lFirstGated, lBlock.first, lExtended) < BlockIdSteps(lFirstGated, lNextId, lExtended) &&
                BlockIdIsAfter(lLastLeader, lBlock.first, lExtended))
            {
                EXPECT_EQ(lDelivered[lBlock.first], kPackets - 1) << "block " << lBlock.first;
                lWhole += lDelivered[lBlock.first] == kPackets - 1;
            }
        }
        // The reader reads 5 packets a tick 90% of the time, the kernel
        // offers 8.5: it takes at least 80% of what it reads in whole
        // blocks, and sheds the rest.
        const size_t lReaderBlocks = 20000 * 9 / 10 * 5 / kPackets;
        EXPECT_GT(lWhole, lReaderBlocks * 8 / 10) << lExtended;
        EXPECT_GT(lShed, lOffered / 3) << lExtended;
    }
}

namespace
{
class Keeper : public TnGvspBlockProvider
{
public:
    bool AcquireBlock(TnGvspBlockTarget &aTarget) override
    {
        mMemory.emplace_back(4096, 0);
        aTarget.mData = mMemory.back().data();
        aTarget.mSize = mMemory.back().size();
        ++mAcquired;
        return true;
    }
    void FinishBlock(const TnGvspBlockTarget &, const TnGvspBlockReport &aReport) override
    {
        mFinished[aReport.mBlockId] = aReport.mResult;
    }
    void ReturnBlock(const TnGvspBlockTarget &) override
    {
        ++mReturned;
    }

    std::deque<std::vector<uint8_t>> mMemory;
    std::map<uint64_t, uint32_t> mFinished;
    size_t mAcquired = 0;
    size_t mReturned = 0;
};

std::vector<std::vector<uint8_t>> Packets(uint64_t aId, const std::vector<uint8_t> &aImage)
{
    TnGvspBlock lBlock;
    lBlock.mLeader.mPixelFormat = 0x01080001;
    lBlock.mLeader.mSizeX = 64;
    lBlock.mLeader.mSizeY = static_cast<uint32_t>(aImage.size() / 64);
    lBlock.mSegments[0] = {aImage.data(), aImage.size()};
    return tn::test::BlockDatagrams(lBlock, aId, 576);
}
} // namespace

TEST(RingGate, BlocksDroppedWholeAreCountedDroppedNotMissedOrFailed)
{
    const std::vector<uint8_t> lImage(64 * 40, 0x5C);
    Keeper lKeeper;
    TnGvspAssembler lAssembler;
    lAssembler.SetProvider(&lKeeper);
    auto lFeed = [&](uint64_t aId, size_t aFrom = 0) {
        const auto lPackets = Packets(aId, lImage);
        for (size_t lIndex = aFrom; lIndex < lPackets.size(); ++lIndex)
        {
            lAssembler.OnDatagram(lPackets[lIndex].data(), lPackets[lIndex].size(), 10);
        }
    };
    lFeed(1);
    // 2 and 3 dropped before any packet of theirs; 2's packets, should some
    // come, change nothing. 4 dropped in flight: its memory goes back.
    lAssembler.DropBlock(2, false, 20);
    lFeed(2, 1);
    lAssembler.DropBlock(3, false, 20);
    const auto lFour = Packets(4, lImage);
    lAssembler.OnDatagram(lFour[0].data(), lFour[0].size(), 30);
    lAssembler.OnDatagram(lFour[1].data(), lFour[1].size(), 30);
    const size_t lAcquiredBefore = lKeeper.mAcquired;
    lAssembler.DropBlock(4, false, 30);
    lAssembler.DropBlock(4, false, 30); // twice: counted once
    for (size_t lIndex = 2; lIndex < lFour.size(); ++lIndex)
    {
        lAssembler.OnDatagram(lFour[lIndex].data(), lFour[lIndex].size(), 30);
    }
    lFeed(5);
    lAssembler.DropBlock(1, false, 40); // ended already: nothing
    const TnGvspReceiveStatistics &lStatistics = lAssembler.GetStatistics();
    EXPECT_EQ(lStatistics.mBlocksDropped, 3u);
    EXPECT_EQ(lStatistics.mBlocksMissed, 0u);
    EXPECT_EQ(lStatistics.mBlocksFailed, 0u);
    EXPECT_EQ(lStatistics.mPacketsLost, 0u);
    EXPECT_EQ(lStatistics.mBlocksCompleted, 2u);
    EXPECT_EQ((std::map<uint64_t, uint32_t>{{1, TN_OK}, {5, TN_OK}}), lKeeper.mFinished);
    EXPECT_EQ(lKeeper.mReturned, 1u);
    EXPECT_LE(lKeeper.mAcquired, lAcquiredBefore + 2); // block 5, and memory taken ahead
}
