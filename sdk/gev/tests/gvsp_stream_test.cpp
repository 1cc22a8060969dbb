// The stream sender and receiver over loopback in a private network
// namespace: loss, reordering, duplicates, resend, undersized buffers,
// multicast, flushes and drops, each with the receiver taking its datagrams
// from the packet ring and from the socket; fragmented datagrams beside a
// ring; and the receiver against the C test camera.
#include <gtest/gtest.h>

#include <string.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnGvcpClient.h"
#include "TnGvspReceiver.h"
#include "TnGvspSender.h"
#include "TnGvspTool.h"
#include "TnTestNetwork.h"
#include "TnTestProcess.h"
#include "TnTestStreams.h"

using namespace tn;
using namespace tn::gev;
using tn::test::FaultySenderConfig;
using tn::test::TestFrames;

namespace
{
constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kGroup = 0xEFFF0001; // 239.255.0.1

bool gPrivateNetwork = false;
std::string gWhy;

class PrivateNetwork : public ::testing::Environment
{
public:
    void SetUp() override
    {
        gPrivateNetwork = test::UsePrivateNetwork(&gWhy);
        if (gPrivateNetwork)
        {
            // Multicast on the loopback interface, for the multicast case.
            test::EnableLoopbackMulticast();
        }
    }
};

const ::testing::Environment *gEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateNetwork);

#define REQUIRE_NETWORK()                                                                                              \
    if (!gPrivateNetwork)                                                                                              \
    GTEST_SKIP() << gWhy

// Tests that run with either kind of receiver.
class GvspReceive : public ::testing::TestWithParam<TnGvspReceiverKind>
{
protected:
    void SetUp() override
    {
        REQUIRE_NETWORK();
        if (GetParam() == TnGvspReceiverKind::kPacketRing)
        {
            REQUIRE_PACKET_RING();
        }
    }

    bool Ring() const
    {
        return GetParam() == TnGvspReceiverKind::kPacketRing;
    }

    TnGvspReceiverConfig Config() const
    {
        TnGvspReceiverConfig lConfig;
        lConfig.mKind = GetParam();
        return lConfig;
    }

    // On loopback, with room for the tests' bursts.
    TnGvspReceiverConfig LoopbackConfig() const
    {
        TnGvspReceiverConfig lConfig = Config();
        lConfig.mLocalAddress = kLoopback;
        lConfig.mSocketBufferSize = 4 << 20;
        return lConfig;
    }
};

std::string KindName(const ::testing::TestParamInfo<TnGvspReceiverKind> &aKind)
{
    return aKind.param == TnGvspReceiverKind::kPacketRing ? "PacketRing" : "Socket";
}

struct Outcome
{
    uint32_t mResult;
    bool mExact;
    bool mLeader; // the block's leader came
};

// Receives into its own buffers and checks every byte of every block
// reported complete.
class Checker : public tool::BufferPool
{
public:
    Checker(size_t aCount, size_t aSize, uint32_t aWidth) : BufferPool(aCount, aSize), mWidth(aWidth) {}

    bool AcquireBlock(TnGvspBlockTarget &aTarget) override
    {
        if (!BufferPool::AcquireBlock(aTarget))
        {
            return false;
        }
        memset(aTarget.mData, 0xA5, aTarget.mSize); // bytes left from before would show
        return true;
    }

    void FinishBlock(const TnGvspBlockTarget &aTarget, const TnGvspBlockReport &aReport) override
    {
        const bool lExact = aReport.mResult == TN_OK &&
                            aReport.mReceivedSize == size_t(mWidth) * aReport.mLeaderInfo.mSizeY &&
                            tool::PatternOk(aTarget.mData, aReport.mReceivedSize, mWidth, aReport.mBlockId, true);
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mOutcomes[aReport.mBlockId] = Outcome{aReport.mResult, lExact, aReport.mLeaderValid};
        }
        Release(IndexOf(aTarget));
        mDone.notify_all();
    }

    // Waits until every id in aIds has an outcome.
    bool WaitFor(const std::vector<uint64_t> &aIds, int aSeconds)
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        return mDone.wait_for(lLock, std::chrono::seconds(aSeconds), [&] {
            for (uint64_t lId : aIds)
            {
                if (mOutcomes.count(lId) == 0)
                {
                    return false;
                }
            }
            return true;
        });
    }

    uint32_t mWidth;
    std::condition_variable mDone;
    std::map<uint64_t, Outcome> mOutcomes;
};

// Sends aCount frames at each packet size in turn, each size by a sender of
// its own that starts where the last one ended, as one device would, and
// checks that every frame comes whole; aBefore runs before each size.
// Returns the packets sent.
uint64_t SendAtSizes(uint16_t aPort, Checker &aChecker, TestFrames &aFrames, const std::vector<uint32_t> &aSizes,
                     size_t aCount, const std::function<void()> &aBefore = [] {})
{
    uint64_t lSent = 0;
    uint64_t lFirstId = 1;
    for (uint32_t lPacketSize : aSizes)
    {
        aBefore();
        TnGvspSenderConfig lSendConfig = FaultySenderConfig(0, 0, 0);
        lSendConfig.mPacketSize = lPacketSize;
        TnGvspSender lSender;
        EXPECT_TRUE(lSender.Open(kLoopback, aPort, lSendConfig, &aFrames).IsOK());
        const std::vector<uint64_t> lIds = aFrames.Send(lSender, aCount, lFirstId);
        lFirstId += aCount;
        EXPECT_TRUE(aChecker.WaitFor(lIds, 5));
        EXPECT_TRUE(lSender.WaitIdle(5000).IsOK());
        lSent += lSender.GetStatistics().mPacketsSent;
        for (uint64_t lId : lIds)
        {
            EXPECT_TRUE(aChecker.mOutcomes[lId].mResult == TN_OK && aChecker.mOutcomes[lId].mExact)
                << "block " << lId << " of packet size " << lPacketSize;
        }
    }
    return lSent;
}

// A packet-ring receiver on loopback with a ring of aRingSize bytes.
TnGvspReceiverConfig RingOnLoopback(uint32_t aRingSize)
{
    TnGvspReceiverConfig lConfig;
    lConfig.mKind = TnGvspReceiverKind::kPacketRing;
    lConfig.mLocalAddress = kLoopback;
    lConfig.mRingSize = aRingSize;
    return lConfig;
}

// A sender without faults at aBytesPerSecond.
TnGvspSenderConfig SenderAt(double aBytesPerSecond)
{
    TnGvspSenderConfig lConfig = FaultySenderConfig(0, 0, 0);
    lConfig.mMaxBytesPerSecond = aBytesPerSecond;
    return lConfig;
}

} // namespace

TEST_P(GvspReceive, LossReorderAndDuplicatesNeverGiveWrongBytes)
{
    Checker lChecker(8, 64000, 320);
    TnGvspReceiverConfig lReceiveConfig = LoopbackConfig();
    TnGvspReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(lReceiveConfig, &lChecker).IsOK());
    EXPECT_EQ(lReceiver.GetKind(), GetParam());
    EXPECT_NE(lReceiver.GetLocalPort(), 0); // port 0 asked: a free one
    ASSERT_TRUE(lReceiver.Start().IsOK());

    TestFrames lFrames(320, 200, 6);
    TnGvspSender lSender;
    ASSERT_TRUE(lSender.Open(kLoopback, lReceiver.GetLocalPort(), FaultySenderConfig(10, 30, 20), &lFrames).IsOK());
    std::vector<uint64_t> lIds = lFrames.Send(lSender, 60);
    ASSERT_TRUE(lSender.WaitIdle(5000).IsOK());
    lIds.pop_back(); // the last block's end shows only by its trailer or a timeout
    EXPECT_TRUE(lChecker.WaitFor(lIds, 5));
    lReceiver.Stop();

    size_t lComplete = 0, lFailed = 0;
    for (uint64_t lId : lIds)
    {
        const Outcome &lOutcome = lChecker.mOutcomes[lId];
        if (lOutcome.mResult == TN_OK)
        {
            EXPECT_TRUE(lOutcome.mExact) << "block " << lId << " reported complete with wrong bytes";
            ++lComplete;
        }
        else
        {
            EXPECT_EQ(lOutcome.mResult, TN_MISSING_PACKETS) << "block " << lId;
            ++lFailed;
        }
    }
    EXPECT_GT(lComplete, 10u);
    EXPECT_GT(lFailed, 3u);
    const TnGvspReceiverStatistics lStatistics = lReceiver.GetStatistics();
    EXPECT_GT(lStatistics.mAssembly.mPacketsRedundant, 0u);
    EXPECT_GT(lStatistics.mAssembly.mPacketsOutOfOrder, 0u);
    if (Ring())
    {
        // Each payload copied once from the ring.
        EXPECT_EQ(lStatistics.mAssembly.mPacketsInPlace, 0u);
        EXPECT_GT(lStatistics.mAssembly.mPacketsCopied, 0u);
    }
    else
    {
        // How many land in place depends on how late the receive thread runs;
        // the scatter test checks the in-place path itself.
        EXPECT_GT(lStatistics.mAssembly.mPacketsInPlace, 0u);
    }
    EXPECT_EQ(lStatistics.mAssembly.mBlocksFailed, lFailed);
}

TEST_P(GvspReceive, ResendRecoversDroppedPacketsWithBothIdWidths)
{
    for (bool lExtended : {false, true})
    {
        Checker lChecker(8, 64000, 320);
        TestFrames lFrames(320, 200, 40);
        TnGvspSender lSender;
        // The receiver asks the sender's control port, as it would ask a device.
        TnGvspResendServer lControl;
        ASSERT_TRUE(lControl.Start({&lSender}, kLoopback, 0).IsOK());
        TnGvspReceiverConfig lReceiveConfig = Config();
        lReceiveConfig.mLocalAddress = kLoopback;
        lReceiveConfig.mSocketBufferSize = 4 << 20;
        lReceiveConfig.mAssembler.mResendEnabled = true;
        // Recovery is what is checked, not its speed: a machine busy with other work may keep
        // the sender's control thread waiting longer than a device would take to answer.
        lReceiveConfig.mAssembler.mResendResponseTimeoutUs = 50000;
        lReceiveConfig.mAssembler.mMaxResendRetries = 4;
        lReceiveConfig.mAssembler.mMaxResendLatenessUs = 1000000;
        lReceiveConfig.mDeviceAddress = kLoopback;
        lReceiveConfig.mDevicePort = lControl.GetPort();
        TnGvspReceiver lReceiver;
        ASSERT_TRUE(lReceiver.Open(lReceiveConfig, &lChecker).IsOK());
        TnGvspSenderConfig lSendConfig = FaultySenderConfig(30, 10, 0);
        lSendConfig.mExtendedIds = lExtended;
        // Some 100 ms of sent blocks stay for resends: a receiver that a busy machine keeps
        // waiting still finds its packets.
        lSendConfig.mRetainedBlocks = 32;
        ASSERT_TRUE(lSender.Open(kLoopback, lReceiver.GetLocalPort(), lSendConfig, &lFrames).IsOK());
        ASSERT_TRUE(lReceiver.Start().IsOK());

        std::vector<uint64_t> lIds = lFrames.Send(lSender, 41);
        lIds.pop_back();
        EXPECT_TRUE(lChecker.WaitFor(lIds, 10));
        lReceiver.Stop();
        for (uint64_t lId : lIds)
        {
            EXPECT_EQ(lChecker.mOutcomes[lId].mResult, TN_OK) << "block " << lId;
            EXPECT_TRUE(lChecker.mOutcomes[lId].mExact) << "block " << lId;
        }
        const TnGvspReceiverStatistics lStatistics = lReceiver.GetStatistics();
        EXPECT_GT(lStatistics.mAssembly.mPacketsRecovered, 0u);
        EXPECT_GT(lStatistics.mResendRequestsSent, 0u);
        EXPECT_GT(lSender.GetStatistics().mPacketsResent, 0u);
        EXPECT_EQ(lSender.GetStatistics().mResendRequests, lControl.GetRequestCount());
        lControl.Stop();
    }
}

TEST_P(GvspReceive, BlocksLargerThanTheBufferFailAsTooSmall)
{
    Checker lChecker(4, 30000, 320);
    TnGvspReceiverConfig lReceiveConfig = Config();
    lReceiveConfig.mLocalAddress = kLoopback;
    TnGvspReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(lReceiveConfig, &lChecker).IsOK());
    ASSERT_TRUE(lReceiver.Start().IsOK());
    TestFrames lFrames(320, 200, 4);
    TnGvspSender lSender;
    ASSERT_TRUE(lSender.Open(kLoopback, lReceiver.GetLocalPort(), FaultySenderConfig(0, 0, 0), &lFrames).IsOK());
    const std::vector<uint64_t> lIds = lFrames.Send(lSender, 5);
    EXPECT_TRUE(lChecker.WaitFor(lIds, 5));
    lReceiver.Stop();
    for (uint64_t lId : lIds)
    {
        EXPECT_EQ(lChecker.mOutcomes[lId].mResult, TN_BUFFER_TOO_SMALL) << "block " << lId;
    }
}

TEST_P(GvspReceive, MulticastGroupAndSocketSettings)
{
    Checker lChecker(4, 64000, 320);
    TnGvspReceiverConfig lReceiveConfig = Config();
    lReceiveConfig.mMulticastAddress = kGroup;
    lReceiveConfig.mMulticastInterface = kLoopback;
    lReceiveConfig.mSocketBufferSize = 4 << 20;
    TnGvspReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(lReceiveConfig, &lChecker).IsOK());
    EXPECT_EQ(lReceiver.GetKind(), GetParam());
    uint32_t lBuffer = 0;
    ASSERT_TRUE(lReceiver.GetSocketBufferSize(lBuffer).IsOK());
    if (geteuid() == 0)
    {
        EXPECT_GE(lBuffer, 4u << 20); // past the system's limit, as a privileged process
    }
    ASSERT_TRUE(lReceiver.Start().IsOK());
    TestFrames lFrames(320, 200, 4);
    TnGvspSender lSender;
    ASSERT_TRUE(
        lSender.Open(kGroup, lReceiver.GetLocalPort(), FaultySenderConfig(0, 0, 0), &lFrames, kLoopback).IsOK());
    EXPECT_TRUE(lSender.FireTestPacket().IsOK());
    const std::vector<uint64_t> lIds = lFrames.Send(lSender, 3);
    EXPECT_TRUE(lChecker.WaitFor(lIds, 5));
    // The sender counts a batch once it is out, maybe after the receiver took it.
    ASSERT_TRUE(lSender.WaitIdle(5000).IsOK());
    lReceiver.Stop();
    for (uint64_t lId : lIds)
    {
        EXPECT_TRUE(lChecker.mOutcomes[lId].mExact) << "block " << lId;
    }
    EXPECT_EQ(lReceiver.GetStatistics().mAssembly.mTestPackets, 1u);
    // Each datagram taken once.
    EXPECT_EQ(lReceiver.GetStatistics().mAssembly.mPackets, lSender.GetStatistics().mPacketsSent + 1);
    EXPECT_EQ(lReceiver.GetStatistics().mAssembly.mPacketsRedundant, 0u);
    EXPECT_FALSE(lReceiver.Open(lReceiveConfig, nullptr).IsOK());
}

TEST_P(GvspReceive, DatagramsTheSocketOrRingDroppedAreCounted)
{
    Checker lChecker(4, 64000, 320);
    TnGvspReceiverConfig lReceiveConfig = Config();
    lReceiveConfig.mLocalAddress = kLoopback;
    lReceiveConfig.mSocketBufferSize = 4096; // the system's least: a few datagrams
    lReceiveConfig.mRingSize = 1u << 20;     // some 16 frames
    TnGvspReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(lReceiveConfig, &lChecker).IsOK());
    TestFrames lFrames(320, 200, 4);
    TnGvspSender lSender;
    ASSERT_TRUE(lSender.Open(kLoopback, lReceiver.GetLocalPort(), FaultySenderConfig(0, 0, 0), &lFrames).IsOK());
    lFrames.Send(lSender, Ring() ? 40 : 3); // nobody receives yet: the socket or ring overflows
    ASSERT_TRUE(lSender.WaitIdle(5000).IsOK());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(lReceiver.Start().IsOK());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lReceiver.Stop();
    const uint64_t lDrops = lReceiver.GetStatistics().mSocketDrops;
    EXPECT_GT(lDrops, 0u);
    size_t lComplete = 0;
    for (const auto &lOutcome : lChecker.mOutcomes)
    {
        lComplete += lOutcome.second.mResult == TN_OK;
        EXPECT_TRUE(lOutcome.second.mResult != TN_OK || lOutcome.second.mExact) << "block " << lOutcome.first;
    }
    // The socket kept a datagram or two; the ring what its blocks hold.
    EXPECT_LT(lComplete, Ring() ? 20u : 1u);
    // Every packet sent was taken or counted as dropped.
    EXPECT_EQ(lReceiver.GetStatistics().mAssembly.mPackets + lDrops, lSender.GetStatistics().mPacketsSent);
    // A reset starts the count anew from the socket's current count.
    lReceiver.ResetStatistics();
    lReceiver.Stop();
    EXPECT_EQ(lReceiver.GetStatistics().mSocketDrops, 0u);
}

TEST_P(GvspReceive, AFlushDropsWhatWaitsForTheReceiver)
{
    Checker lChecker(8, 64000, 320);
    TnGvspReceiverConfig lReceiveConfig = LoopbackConfig();
    TnGvspReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(lReceiveConfig, &lChecker).IsOK());
    TestFrames lFrames(320, 200, 4);
    TnGvspSender lSender;
    ASSERT_TRUE(lSender.Open(kLoopback, lReceiver.GetLocalPort(), FaultySenderConfig(0, 0, 0), &lFrames).IsOK());
    // Sent while nobody receives: in the socket, or in the ring (the last of
    // it still in the block the kernel fills).
    const std::vector<uint64_t> lOld = lFrames.Send(lSender, 3);
    ASSERT_TRUE(lSender.WaitIdle(5000).IsOK());
    const uint64_t lOldPackets = lSender.GetStatistics().mPacketsSent;
    EXPECT_TRUE(lReceiver.Flush().IsOK());
    ASSERT_TRUE(lReceiver.Start().IsOK());
    const std::vector<uint64_t> lNew = lFrames.Send(lSender, 3);
    EXPECT_TRUE(lChecker.WaitFor(lNew, 5));
    ASSERT_TRUE(lSender.WaitIdle(5000).IsOK());
    lReceiver.Stop();
    for (uint64_t lId : lOld)
    {
        EXPECT_EQ(lChecker.mOutcomes.count(lId), 0u) << "block " << lId << " came after the flush";
    }
    for (uint64_t lId : lNew)
    {
        EXPECT_TRUE(lChecker.mOutcomes[lId].mResult == TN_OK && lChecker.mOutcomes[lId].mExact) << "block " << lId;
    }
    EXPECT_EQ(lReceiver.GetStatistics().mAssembly.mPackets, lSender.GetStatistics().mPacketsSent - lOldPackets);
}

INSTANTIATE_TEST_SUITE_P(Kinds, GvspReceive,
                         ::testing::Values(TnGvspReceiverKind::kPacketRing, TnGvspReceiverKind::kSocket), KindName);

TEST(GvspRing, FragmentedDatagramsComeThroughTheSocketEachOnce)
{
    REQUIRE_NETWORK();
    REQUIRE_PACKET_RING();
    // Packets larger than the interface's MTU go out in fragments, which the
    // ring does not take: the socket gets them whole.
    ASSERT_TRUE(test::SetLoopbackMtu(1500));
    struct Restore
    {
        ~Restore() { test::SetLoopbackMtu(65536); }
    } lRestore;
    Checker lChecker(8, 64000, 320);
    TnGvspReceiverConfig lReceiveConfig;
    lReceiveConfig.mKind = TnGvspReceiverKind::kPacketRing;
    lReceiveConfig.mLocalAddress = kLoopback;
    lReceiveConfig.mSocketBufferSize = 4 << 20;
    TnGvspReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(lReceiveConfig, &lChecker).IsOK());
    ASSERT_EQ(lReceiver.GetKind(), TnGvspReceiverKind::kPacketRing);
    ASSERT_TRUE(lReceiver.Start().IsOK());
    TestFrames lFrames(320, 200, 4);
    const uint64_t lSent = SendAtSizes(lReceiver.GetLocalPort(), lChecker, lFrames, {1500, 4000}, 4);
    lReceiver.Stop();
    const TnGvspReceiverStatistics lStatistics = lReceiver.GetStatistics();
    EXPECT_EQ(lStatistics.mAssembly.mPackets, lSent);
    EXPECT_EQ(lStatistics.mAssembly.mPacketsRedundant, 0u);
    EXPECT_EQ(lStatistics.mAssembly.mMalformedPackets, 0u);
}

TEST(GvspRing, AReceiverFarBehindLeavesHalfTheRingAndCountsEveryPacket)
{
    REQUIRE_NETWORK();
    REQUIRE_PACKET_RING();
    Checker lChecker(8, 640 * 480, 640);
    TnGvspReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(RingOnLoopback(8u << 20), &lChecker).IsOK());
    TestFrames lFrames(640, 480, 4);
    TnGvspSender lSender;
    ASSERT_TRUE(lSender.Open(kLoopback, lReceiver.GetLocalPort(), SenderAt(100e6), &lFrames).IsOK());
    // Half as much again as the ring holds, while nobody reads: the kernel
    // drops the rest, and the receiver, once it starts, finds the ring full.
    const std::vector<uint64_t> lBehind = lFrames.Send(lSender, 40);
    ASSERT_TRUE(lSender.WaitIdle(5000).IsOK());
    ASSERT_TRUE(lReceiver.Start().IsOK());
    // Once the receiver has read what the ring held (every packet taken or
    // counted dropped), the stream pauses, then goes on.
    const uint64_t lBehindPackets = lSender.GetStatistics().mPacketsSent;
    for (int lWait = 0; lWait < 1000; ++lWait)
    {
        const TnGvspReceiverStatistics lRead = lReceiver.GetStatistics();
        if (lRead.mAssembly.mPackets + lRead.mSocketDrops >= lBehindPackets)
        {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<uint64_t> lAfter = lFrames.Send(lSender, 4);
    EXPECT_TRUE(lChecker.WaitFor(lAfter, 5));
    ASSERT_TRUE(lSender.WaitIdle(5000).IsOK());
    lReceiver.Stop();
    size_t lComplete = 0;
    std::string lSeen; // each block's id and result, for a failure's message
    for (const auto &lOutcome : lChecker.mOutcomes)
    {
        EXPECT_TRUE(lOutcome.second.mResult != TN_OK || lOutcome.second.mExact) << "block " << lOutcome.first;
        EXPECT_TRUE(lOutcome.second.mLeader) << "block " << lOutcome.first << " came without its start";
        lComplete += lOutcome.second.mResult == TN_OK;
        lSeen += " " + std::to_string(lOutcome.first) + ":" + std::to_string(lOutcome.second.mResult);
    }
    for (uint64_t lId : lAfter)
    {
        EXPECT_EQ(lChecker.mOutcomes[lId].mResult, uint32_t(TN_OK)) << "block " << lId;
    }
    // What the ring held past the half left unread came whole, from the
    // first leader on; half the ring is some 13 frames, which never reached
    // the assembler, and no frame reached it without its start (above). The
    // last the kernel took before it dropped is cut short; the kernel may
    // also drop a packet where its timer hands a ring block over (counted
    // as dropped), which fails one more now and then.
    EXPECT_GT(lComplete, lAfter.size() + 5) << lSeen;
    EXPECT_LT(lComplete, lBehind.size() - 12) << lSeen;
    EXPECT_LE(lChecker.mOutcomes.size(), lComplete + 2) << lSeen;
    // Every packet sent was taken or counted as dropped.
    const TnGvspReceiverStatistics lStatistics = lReceiver.GetStatistics();
    EXPECT_EQ(lStatistics.mAssembly.mPackets + lStatistics.mSocketDrops, lSender.GetStatistics().mPacketsSent);
}

TEST(GvspRing, AReceiverThatCannotKeepUpShedsWholeBlocksAndCountsThemDropped)
{
    REQUIRE_NETWORK();
    REQUIRE_PACKET_RING();
    // The receive thread spends 8 ms on every block it finishes, while the
    // sender offers one every 3 ms: the ring falls behind for good.
    class Slow : public Checker
    {
    public:
        using Checker::Checker;
        void FinishBlock(const TnGvspBlockTarget &aTarget, const TnGvspBlockReport &aReport) override
        {
            Checker::FinishBlock(aTarget, aReport);
            std::this_thread::sleep_for(std::chrono::milliseconds(8));
        }
    };
    Slow lChecker(8, 640 * 480, 640);
    TnGvspReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(RingOnLoopback(8u << 20), &lChecker).IsOK()); // some 20 blocks of the stream
    ASSERT_TRUE(lReceiver.Start().IsOK());
    TestFrames lFrames(640, 480, 4);
    TnGvspSender lSender;
    ASSERT_TRUE(lSender.Open(kLoopback, lReceiver.GetLocalPort(), SenderAt(100e6), &lFrames).IsOK());
    const std::vector<uint64_t> lIds = lFrames.Send(lSender, 80);
    ASSERT_TRUE(lSender.WaitIdle(10000).IsOK());
    // Every block ends: complete, or shed whole.
    TnGvspReceiverStatistics lStatistics;
    for (int lWait = 0; lWait < 1000; ++lWait)
    {
        lStatistics = lReceiver.GetStatistics();
        if (lStatistics.mAssembly.mBlocksCompleted + lStatistics.mAssembly.mBlocksDropped >= lIds.size())
        {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    lReceiver.Stop();
    lStatistics = lReceiver.GetStatistics();
    size_t lComplete = 0;
    for (const auto &lOutcome : lChecker.mOutcomes)
    {
        EXPECT_EQ(lOutcome.second.mResult, uint32_t(TN_OK)) << "block " << lOutcome.first;
        EXPECT_TRUE(lOutcome.second.mExact) << "block " << lOutcome.first;
        lComplete += lOutcome.second.mResult == TN_OK;
    }
    // The shed blocks count as dropped: not failed, not missed, and none of
    // their packets as lost; the ring never overflowed.
    EXPECT_GT(lComplete, 10u);
    EXPECT_GT(lStatistics.mAssembly.mBlocksDropped, 10u);
    EXPECT_EQ(lStatistics.mAssembly.mBlocksCompleted + lStatistics.mAssembly.mBlocksDropped, lIds.size());
    EXPECT_EQ(lStatistics.mAssembly.mBlocksFailed, 0u);
    EXPECT_EQ(lStatistics.mAssembly.mBlocksMissed, 0u);
    EXPECT_EQ(lStatistics.mAssembly.mPacketsLost, 0u);
    EXPECT_EQ(lStatistics.mSocketDrops, 0u);
    // Most of the shed blocks' packets never came out of the ring: the
    // filter dropped them before the kernel copied them.
    const uint64_t lPerBlock = lSender.GetStatistics().mPacketsSent / lIds.size();
    EXPECT_LT(lStatistics.mAssembly.mPackets - lComplete * lPerBlock,
              lStatistics.mAssembly.mBlocksDropped * lPerBlock / 4);
    EXPECT_EQ(lReceiver.GetKind(), TnGvspReceiverKind::kPacketRing);
}

TEST(GvspRing, AnAutomaticReceiverLeavesJumboPacketsToTheSocket)
{
    REQUIRE_NETWORK();
    REQUIRE_PACKET_RING();
    Checker lChecker(8, 64000, 320);
    TnGvspReceiverConfig lReceiveConfig;
    lReceiveConfig.mLocalAddress = kLoopback;
    lReceiveConfig.mSocketBufferSize = 4 << 20;
    TnGvspReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(lReceiveConfig, &lChecker).IsOK());
    ASSERT_TRUE(lReceiver.Start().IsOK());
    TestFrames lFrames(320, 200, 4);
    const uint64_t lSent = SendAtSizes(lReceiver.GetLocalPort(), lChecker, lFrames, {1500, 9000}, 6, [&] {
        EXPECT_EQ(lReceiver.GetKind(), TnGvspReceiverKind::kPacketRing); // no jumbo packet yet
    });
    // From the first jumbo packet on, the socket takes them.
    EXPECT_EQ(lReceiver.GetKind(), TnGvspReceiverKind::kSocket);
    lReceiver.Stop();
    // A packet that came while the socket took over may have come twice.
    const TnGvspReceiverStatistics lStatistics = lReceiver.GetStatistics();
    EXPECT_EQ(lStatistics.mAssembly.mPackets, lSent + lStatistics.mAssembly.mPacketsRedundant);
    EXPECT_LT(lStatistics.mAssembly.mPacketsRedundant, 8u);
    EXPECT_EQ(lStatistics.mSocketDrops, 0u);
}

TEST(GvspStream, SenderKeepsRecentBlocksForResendAndReleasesEachBlockOnce)
{
    REQUIRE_NETWORK();
    TnUdpSocket lSink; // takes the datagrams, reads none
    ASSERT_TRUE(lSink.Open(kLoopback, 0).IsOK());
    lSink.SetReceiveBufferSize(4 << 20);

    struct Releases : TnGvspSenderListener
    {
        void OnBlockReleased(void *aContext, uint64_t aBlockId, bool aSent) override
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mReleased.push_back({reinterpret_cast<size_t>(aContext), aBlockId, aSent});
        }
        struct Release
        {
            size_t mContext;
            uint64_t mBlockId;
            bool mSent;
        };
        std::mutex mMutex;
        std::vector<Release> mReleased;
    } lReleases;

    std::vector<uint8_t> lData(20000, 7);
    TnGvspBlock lBlock;
    lBlock.mLeader.mPixelFormat = 0x01080001;
    lBlock.mLeader.mSizeX = 200;
    lBlock.mLeader.mSizeY = 100;
    lBlock.mSegments[0] = {lData.data(), lData.size()};
    TnGvspSenderConfig lConfig;
    lConfig.mRetainedBlocks = 2;
    lConfig.mQueueCapacity = 8;
    TnGvspSender lSender;
    EXPECT_FALSE(lSender.Queue(lBlock, nullptr).IsSuccess()); // not open
    ASSERT_TRUE(lSender.Open(kLoopback, lSink.GetLocalPort(), lConfig, &lReleases).IsOK());
    EXPECT_EQ(lSender.PeekNextBlockId(), 1u);
    for (size_t lIndex = 1; lIndex <= 5; ++lIndex)
    {
        ASSERT_TRUE(lSender.Queue(lBlock, reinterpret_cast<void *>(lIndex)).IsPending());
    }
    ASSERT_TRUE(lSender.WaitIdle(5000).IsOK());
    {
        // The three oldest left the ring; blocks 4 and 5 are kept for resends.
        std::lock_guard<std::mutex> lLock(lReleases.mMutex);
        ASSERT_EQ(lReleases.mReleased.size(), 3u);
        for (size_t lIndex = 0; lIndex < 3; ++lIndex)
        {
            EXPECT_EQ(lReleases.mReleased[lIndex].mBlockId, lIndex + 1);
            EXPECT_EQ(lReleases.mReleased[lIndex].mContext, lIndex + 1);
            EXPECT_TRUE(lReleases.mReleased[lIndex].mSent);
        }
    }
    const uint64_t lPacketsBefore = lSender.GetStatistics().mPacketsSent;
    lSender.QueuePacketResend(5, 1, 3);  // kept: three packets again
    lSender.QueuePacketResend(1, 1, 3);  // no longer kept
    lSender.QueuePacketResend(5, 9, 2);  // first after last
    lSender.QueuePacketResend(5, 50, 60); // past the block's end
    for (int lWait = 0; lWait < 200 && (lSender.GetStatistics().mPacketsSent < lPacketsBefore + 3 ||
                                        lSender.GetStatistics().mResendRequestsRefused < 3);
         ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    TnGvspSenderStatistics lStatistics = lSender.GetStatistics();
    EXPECT_EQ(lStatistics.mPacketsResent, 3u);
    EXPECT_EQ(lStatistics.mPacketsSent, lPacketsBefore + 3);
    EXPECT_EQ(lStatistics.mResendRequests, 4u);
    EXPECT_EQ(lStatistics.mResendRequestsRefused, 3u);
    EXPECT_EQ(lStatistics.mBlocksSent, 5u);
    EXPECT_EQ(lStatistics.mPayloadBytesSent, 5 * lData.size());
    // Packet size and ids change only while idle; a block too long for standard ids is refused.
    EXPECT_TRUE(lSender.SetPacketSize(9000).IsOK());
    EXPECT_FALSE(lSender.SetPacketSize(64).IsOK());
    TnGvspBlock lHuge = lBlock;
    static const uint8_t kByte = 0;
    lHuge.mSegments[0] = {&kByte, size_t(9000) * 0xFFFFFF};
    EXPECT_EQ(lSender.Queue(lHuge, nullptr).GetCode(), TN_INVALID_PARAMETER);
    lSender.Close();
    std::lock_guard<std::mutex> lLock(lReleases.mMutex);
    ASSERT_EQ(lReleases.mReleased.size(), 5u);
    EXPECT_EQ(lReleases.mReleased[4].mBlockId, 5u);
}

#if defined(TARN_FASTCAM) && defined(TARN_GVSP_RECEIVE)
namespace
{
// The C test camera in this namespace, for the length of a test; ready once
// it answers a register read.
bool StartFastcam(test::ChildProcess &aCamera, std::vector<std::string> aArguments)
{
    aArguments.insert(aArguments.begin(), TARN_FASTCAM);
    aArguments.push_back("-q");
    if (!aCamera.Start(aArguments))
    {
        return false;
    }
    TnGvcpClient lClient;
    lClient.Open(kLoopback);
    lClient.SetTimeout(50);
    uint32_t lVersion = 0;
    for (int lTry = 0; lTry < 60; ++lTry)
    {
        if (lClient.ReadRegister(kRegVersion, lVersion).IsOK())
        {
            return true;
        }
    }
    return false;
}

// Runs the receiver tool against the camera and returns its RESULT fields.
std::map<std::string, double> Receive(std::vector<std::string> aArguments)
{
    aArguments.insert(aArguments.begin(), {TARN_GVSP_RECEIVE, "-a", "127.0.0.1", "-q"});
    const std::string lOutput = test::RunProgram(aArguments, 20000);
    std::map<std::string, double> lFields;
    const size_t lLine = lOutput.rfind("RESULT ");
    if (lLine == std::string::npos)
    {
        return lFields;
    }
    std::string lRest = lOutput.substr(lLine + 7, lOutput.find('\n', lLine) - lLine - 7);
    for (char *lToken = strtok(&lRest[0], " "); lToken != nullptr; lToken = strtok(nullptr, " "))
    {
        char *lEquals = strchr(lToken, '=');
        if (lEquals != nullptr)
        {
            *lEquals = 0;
            lFields[lToken] = atof(lEquals + 1);
        }
    }
    return lFields;
}

// The receiver tool with either kind of receiver.
class GvspFastcam : public GvspReceive
{
protected:
    std::map<std::string, double> Receive(std::vector<std::string> aArguments)
    {
        aArguments.insert(aArguments.end(), {"--receiver", Ring() ? "ring" : "socket"});
        std::map<std::string, double> lResult = ::Receive(aArguments);
        return lResult;
    }
};
} // namespace

TEST_P(GvspFastcam, LossWithResendGivesCompleteFramesAndWithoutResendFailedOnes)
{
    {
        test::ChildProcess lCamera;
        ASSERT_TRUE(StartFastcam(lCamera, {"-s", "640x480", "-r", "100", "-p", "1500", "-l", "20", "-R"}));
        std::map<std::string, double> lResult = Receive({"-d", "1.5", "--verify-all"});
        ASSERT_EQ(lResult.count("frames"), 1u) << "no RESULT line";
        EXPECT_GT(lResult["frames"], 50);
        EXPECT_EQ(lResult["failed"], 0);
        EXPECT_EQ(lResult["bad"], 0);
        EXPECT_GT(lResult["recovered"], 0);
    }
    {
        test::ChildProcess lCamera;
        ASSERT_TRUE(StartFastcam(lCamera, {"-s", "320x240", "-r", "100", "-p", "1500", "-l", "20"}));
        std::map<std::string, double> lResult = Receive({"-d", "1.5", "--verify-all"});
        ASSERT_EQ(lResult.count("frames"), 1u) << "no RESULT line";
        EXPECT_GT(lResult["failed"], 10);
        EXPECT_EQ(lResult["bad"], 0);
        EXPECT_EQ(lResult["resend_requests"], 0); // the camera does not offer resend
    }
}

TEST_P(GvspFastcam, LargeFramesAtHighRateArriveWhole)
{
    test::ChildProcess lCamera;
    ASSERT_TRUE(StartFastcam(lCamera, {"-s", "2048x1536", "-r", "60", "-p", "9000", "-R"}));
    std::map<std::string, double> lResult = Receive({"-d", "1.5", "--verify"});
    ASSERT_EQ(lResult.count("frames"), 1u) << "no RESULT line";
    EXPECT_GT(lResult["frames"], 50);
    EXPECT_EQ(lResult["failed"], 0);
    EXPECT_EQ(lResult["bad"], 0);
    if (Ring())
    {
        EXPECT_EQ(lResult["in_place"], 0); // every payload copied once, from the ring
        EXPECT_GT(lResult["copied"], 0);
    }
    else
    {
        EXPECT_GT(lResult["in_place"], 10 * lResult["copied"]);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, GvspFastcam,
                         ::testing::Values(TnGvspReceiverKind::kPacketRing, TnGvspReceiverKind::kSocket), KindName);
#endif
