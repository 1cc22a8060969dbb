// Stream packets cut by the packetiser and put together by the assembler,
// with crafted loss, reordering, duplicates, resends and undersized memory.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "TnGevBytes.h"
#include "TnGvcp.h"
#include "TnGvspAssembler.h"
#include "TnGvspPacketiser.h"
#include "TnGvspReceiver.h"
#include "TnResult.h"

using namespace tn::gev;

namespace
{
using Datagram = std::vector<uint8_t>;

std::vector<uint8_t> Pattern(size_t aSize, uint32_t aSeed)
{
    std::vector<uint8_t> lBytes(aSize);
    for (size_t lIndex = 0; lIndex < aSize; ++lIndex)
    {
        lBytes[lIndex] = static_cast<uint8_t>(lIndex * 31 + aSeed + (lIndex >> 9));
    }
    return lBytes;
}

TnGvspBlock ImageBlock(const std::vector<uint8_t> &aData, uint32_t aWidth, uint16_t aType = kGvspPayloadImage)
{
    TnGvspBlock lBlock;
    lBlock.mLeader.mPayloadType = aType;
    lBlock.mLeader.mTimestamp = 0x1122334455667788ull;
    lBlock.mLeader.mPixelFormat = 0x01080001; // Mono8
    lBlock.mLeader.mSizeX = aWidth;
    lBlock.mLeader.mSizeY = static_cast<uint32_t>(aData.size() / aWidth);
    lBlock.mSegments[0].mData = aData.data();
    lBlock.mSegments[0].mSize = aData.size();
    return lBlock;
}

// Every packet of a block, in order, as whole datagrams.
std::vector<Datagram> Packetise(const TnGvspBlock &aBlock, uint64_t aBlockId, uint32_t aPacketSize, bool aExtended,
                                uint16_t aStatus = 0)
{
    TnGvspPacketiser lPacketiser;
    EXPECT_TRUE(lPacketiser.Configure(aPacketSize, aExtended));
    EXPECT_TRUE(lPacketiser.Begin(aBlock, aBlockId));
    std::vector<Datagram> lPackets;
    for (uint32_t lId = 0; lId <= lPacketiser.GetLastPacketId(); ++lId)
    {
        uint8_t lHeader[kGvspMaxHeaderBufferSize];
        iovec lVectors[kGvspMaxPacketVectors];
        size_t lSize = 0;
        const size_t lCount = lPacketiser.Build(lId, aStatus, lHeader, lVectors, lSize);
        Datagram lPacket;
        for (size_t lIndex = 0; lIndex < lCount; ++lIndex)
        {
            const uint8_t *lBase = static_cast<const uint8_t *>(lVectors[lIndex].iov_base);
            lPacket.insert(lPacket.end(), lBase, lBase + lVectors[lIndex].iov_len);
        }
        EXPECT_EQ(lPacket.size(), lSize);
        lPackets.push_back(lPacket);
    }
    return lPackets;
}

Datagram WithStatus(Datagram aPacket, uint16_t aStatus)
{
    PutU16(aPacket.data(), aStatus);
    return aPacket;
}

struct Finished
{
    TnGvspBlockReport mReport;
    std::vector<TnGvspPacketRange> mMissing;
    std::vector<uint8_t> mData;
};

// Hands out memory blocks of one size and keeps what comes back.
class Provider : public TnGvspBlockProvider
{
public:
    explicit Provider(size_t aSize, size_t aCount = 8) : mMemory(aCount, std::vector<uint8_t>(aSize, 0xEE))
    {
        for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
        {
            mFree.push_back(lIndex);
        }
    }

    bool AcquireBlock(TnGvspBlockTarget &aTarget) override
    {
        if (mFree.empty())
        {
            return false;
        }
        const size_t lIndex = mFree.front();
        mFree.erase(mFree.begin());
        std::fill(mMemory[lIndex].begin(), mMemory[lIndex].end(), 0xEE);
        aTarget.mData = mMemory[lIndex].data();
        aTarget.mSize = mMemory[lIndex].size();
        aTarget.mContext = reinterpret_cast<void *>(lIndex);
        return true;
    }

    void FinishBlock(const TnGvspBlockTarget &aTarget, const TnGvspBlockReport &aReport) override
    {
        Finished lFinished;
        lFinished.mReport = aReport;
        lFinished.mMissing.assign(aReport.mMissing, aReport.mMissing + aReport.mMissingCount);
        lFinished.mData.assign(aTarget.mData, aTarget.mData + std::min<uint64_t>(aReport.mReceivedSize, aTarget.mSize));
        mFinished.push_back(lFinished);
        mFree.push_back(reinterpret_cast<size_t>(aTarget.mContext));
    }

    void ReturnBlock(const TnGvspBlockTarget &aTarget) override
    {
        ++mReturned;
        mFree.push_back(reinterpret_cast<size_t>(aTarget.mContext));
    }

    std::vector<std::vector<uint8_t>> mMemory;
    std::vector<size_t> mFree;
    std::vector<Finished> mFinished;
    int mReturned = 0;
};

class Requester : public TnGvspResendRequester
{
public:
    void RequestResend(uint64_t aBlockId, uint32_t aFirst, uint32_t aLast, bool) override
    {
        mRequests.push_back({aBlockId, aFirst, aLast});
    }

    struct Request
    {
        uint64_t mBlockId;
        uint32_t mFirst;
        uint32_t mLast;
    };
    std::vector<Request> mRequests;
};

// An assembler with its provider and resend requester.
struct Rig
{
    Rig(const TnGvspAssemblerConfig &aConfig, size_t aMemory) : mProvider(aMemory)
    {
        mAssembler.Configure(aConfig);
        mAssembler.SetProvider(&mProvider);
        mAssembler.SetResendRequester(&mRequester);
    }

    Provider mProvider;
    Requester mRequester;
    TnGvspAssembler mAssembler;
};

void Feed(TnGvspAssembler &aAssembler, const std::vector<Datagram> &aPackets, uint64_t aNowUs)
{
    for (const Datagram &lPacket : aPackets)
    {
        aAssembler.OnDatagram(lPacket.data(), lPacket.size(), aNowUs);
    }
}

std::vector<Datagram> Without(std::vector<Datagram> aPackets, std::initializer_list<size_t> aIds)
{
    std::vector<size_t> lIds(aIds);
    std::sort(lIds.rbegin(), lIds.rend());
    for (size_t lId : lIds)
    {
        aPackets.erase(aPackets.begin() + static_cast<long>(lId));
    }
    return aPackets;
}
} // namespace

TEST(GvspPacketiser, LaysOutLeaderPayloadAndTrailerForBothIdWidths)
{
    const std::vector<uint8_t> lData = Pattern(10000, 1);
    const TnGvspBlock lBlock = ImageBlock(lData, 100, kGvspPayloadImage | kGvspPayloadChunkFlag);
    for (bool lExtended : {false, true})
    {
        const uint32_t lPerPacket = GvspPacketPayloadSize(1500, lExtended);
        EXPECT_EQ(lPerPacket, lExtended ? 1452u : 1464u);
        const std::vector<Datagram> lPackets = Packetise(lBlock, 0x1234567, 1500, lExtended);
        const size_t lDataPackets = (lData.size() + lPerPacket - 1) / lPerPacket;
        ASSERT_EQ(lPackets.size(), lDataPackets + 2);
        TnGvspPacket lLeader;
        ASSERT_TRUE(DecodeGvspPacket(lPackets[0].data(), lPackets[0].size(), lLeader));
        EXPECT_EQ(lLeader.mHeader.mFormat, kGvspFormatLeader);
        EXPECT_EQ(lLeader.mHeader.mBlockId, lExtended ? 0x1234567u : 0x4567u);
        TnGvspImageLeader lImage;
        ASSERT_TRUE(DecodeImageLeader(lLeader.mPayload, lLeader.mPayloadSize, lImage));
        EXPECT_EQ(lImage.mPayloadType, kGvspPayloadImage | kGvspPayloadChunkFlag);
        EXPECT_EQ(lImage.mSizeY, 100u);
        EXPECT_EQ(lImage.mTimestamp, 0x1122334455667788ull);
        // Payload packets are full but for the last, and carry the data in order.
        std::vector<uint8_t> lJoined;
        for (size_t lIndex = 1; lIndex <= lDataPackets; ++lIndex)
        {
            TnGvspPacket lPacket;
            ASSERT_TRUE(DecodeGvspPacket(lPackets[lIndex].data(), lPackets[lIndex].size(), lPacket));
            EXPECT_EQ(lPacket.mHeader.mPacketId, lIndex);
            EXPECT_EQ(lPacket.mHeader.mExtendedIds, lExtended);
            if (lIndex < lDataPackets)
            {
                EXPECT_EQ(lPackets[lIndex].size() + kGvspIpUdpOverhead, 1500u);
            }
            lJoined.insert(lJoined.end(), lPacket.mPayload, lPacket.mPayload + lPacket.mPayloadSize);
        }
        EXPECT_EQ(lJoined, lData);
        TnGvspPacket lTrailerPacket;
        ASSERT_TRUE(DecodeGvspPacket(lPackets.back().data(), lPackets.back().size(), lTrailerPacket));
        EXPECT_EQ(lTrailerPacket.mHeader.mFormat, kGvspFormatTrailer);
        EXPECT_EQ(lTrailerPacket.mHeader.mPacketId, lDataPackets + 1);
        TnGvspTrailer lTrailer;
        ASSERT_TRUE(DecodeTrailer(lTrailerPacket.mPayload, lTrailerPacket.mPayloadSize, lTrailer));
        EXPECT_EQ(lTrailer.mSizeY, 100u);
    }
}

TEST(GvspPacketiser, PacketsSpanTwoSegmentsAndLimitsHold)
{
    const std::vector<uint8_t> lMain = Pattern(1000, 2);
    const std::vector<uint8_t> lChunks = Pattern(700, 3);
    TnGvspBlock lBlock;
    lBlock.mLeader.mPayloadType = kGvspPayloadRawData;
    lBlock.mSegments[0] = {lMain.data(), lMain.size()};
    lBlock.mSegments[1] = {lChunks.data(), lChunks.size()};
    TnGvspPacketiser lPacketiser;
    ASSERT_TRUE(lPacketiser.Configure(600, false)); // 564 bytes per packet
    ASSERT_TRUE(lPacketiser.Begin(lBlock, 7));
    uint8_t lHeader[kGvspMaxHeaderBufferSize];
    iovec lVectors[kGvspMaxPacketVectors];
    size_t lSize = 0;
    // Packet 2 takes bytes 564..1127: the end of the main segment and the start of the chunks.
    ASSERT_EQ(lPacketiser.Build(2, 0, lHeader, lVectors, lSize), 3u);
    EXPECT_EQ(lVectors[1].iov_base, lMain.data() + 564);
    EXPECT_EQ(lVectors[1].iov_len, 436u);
    EXPECT_EQ(lVectors[2].iov_base, lChunks.data());
    EXPECT_EQ(lVectors[2].iov_len, 128u);
    EXPECT_EQ(lPacketiser.Build(lPacketiser.GetLastPacketId() + 1, 0, lHeader, lVectors, lSize), 0u);
    // The raw-data leader tells the whole length.
    ASSERT_EQ(lPacketiser.Build(0, 0, lHeader, lVectors, lSize), 1u);
    TnGvspRawDataLeader lRaw;
    ASSERT_TRUE(DecodeRawDataLeader(lHeader + kGvspHeaderSize, lSize - kGvspHeaderSize, lRaw));
    EXPECT_EQ(lRaw.mPayloadSize, 1700u);

    // 24-bit packet ids: a block of more than 2^24 - 2 payload packets is refused.
    TnGvspBlock lHuge;
    static const uint8_t kByte = 0;
    lHuge.mSegments[0] = {&kByte, size_t(564) * 0xFFFFFF};
    EXPECT_FALSE(lPacketiser.Begin(lHuge, 1));
    ASSERT_TRUE(lPacketiser.Configure(128, true));
    EXPECT_TRUE(lPacketiser.Begin(lHuge, 1));
    EXPECT_FALSE(lPacketiser.Configure(100, false));
    lBlock.mSegments[1].mData = nullptr;
    EXPECT_FALSE(lPacketiser.Begin(lBlock, 1));

    EXPECT_EQ(NextGvspBlockId(65535, false), 1u);
    EXPECT_EQ(NextGvspBlockId(7, false), 8u);
    EXPECT_EQ(NextGvspBlockId(65535, true), 65536u);
    EXPECT_EQ(NextGvspBlockId(UINT64_MAX, true), 1u);

    std::vector<uint8_t> lTest(9000);
    EXPECT_EQ(BuildGvspTestPacket(lTest.data(), 9000), 9000u - 28u);
    TnGvspPacket lPacket;
    ASSERT_TRUE(DecodeGvspPacket(lTest.data(), 8972, lPacket));
    EXPECT_TRUE(IsGvspTestPacket(lPacket.mHeader));
}

TEST(GvspAssembler, CompletesInOrderBlocksWithBothIdWidths)
{
    const std::vector<uint8_t> lData = Pattern(50000, 4);
    for (bool lExtended : {false, true})
    {
        Provider lProvider(60000);
        TnGvspAssembler lAssembler;
        lAssembler.SetProvider(&lProvider);
        Feed(lAssembler, Packetise(ImageBlock(lData, 250), 65535, 1500, lExtended), 10);
        Feed(lAssembler, Packetise(ImageBlock(lData, 250), NextGvspBlockId(65535, lExtended), 1500, lExtended), 20);
        ASSERT_EQ(lProvider.mFinished.size(), 2u);
        for (const Finished &lFinished : lProvider.mFinished)
        {
            EXPECT_EQ(lFinished.mReport.mResult, TN_OK);
            EXPECT_EQ(lFinished.mData, lData);
            EXPECT_TRUE(lFinished.mReport.mLeaderValid && lFinished.mReport.mTrailerValid);
            EXPECT_EQ(lFinished.mReport.mLeaderInfo.mSizeX, 250u);
            EXPECT_EQ(lFinished.mReport.mLeaderInfo.mPixelFormat, 0x01080001u);
            EXPECT_EQ(lFinished.mReport.mExtendedIds, lExtended);
            EXPECT_EQ(lFinished.mReport.mCounters.mOutOfOrder + lFinished.mReport.mCounters.mRedundant, 0u);
        }
        EXPECT_EQ(lProvider.mFinished[1].mReport.mBlockId, lExtended ? 65536u : 1u);
        EXPECT_EQ(lAssembler.GetStatistics().mBlocksMissed, 0u);
        EXPECT_EQ(lAssembler.GetBlocksInFlight(), 0u);
    }
}

TEST(GvspAssembler, ReorderedAndDuplicatedPacketsStillGiveTheExactBlock)
{
    const std::vector<uint8_t> lData = Pattern(40000, 5);
    Provider lProvider(40000);
    TnGvspAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    std::vector<Datagram> lPackets = Packetise(ImageBlock(lData, 200), 9, 1000, false);
    std::mt19937 lRandom(7);
    std::shuffle(lPackets.begin(), lPackets.end(), lRandom);
    const Datagram lThird = lPackets[3];
    const Datagram lTenth = lPackets[10];
    lPackets.push_back(lThird);
    lPackets.insert(lPackets.begin() + 5, lTenth);
    // The trailer comes before the last payload packets: the block must wait for them.
    Feed(lAssembler, lPackets, 100);
    ASSERT_EQ(lProvider.mFinished.size(), 1u);
    const TnGvspBlockReport &lReport = lProvider.mFinished[0].mReport;
    EXPECT_EQ(lReport.mResult, TN_OK);
    EXPECT_EQ(lProvider.mFinished[0].mData, lData);
    EXPECT_GT(lReport.mCounters.mOutOfOrder, 0u);
    // The second copy of packet 3 arrives after the block completed: a stale packet.
    EXPECT_EQ(lReport.mCounters.mRedundant, 1u);
    EXPECT_EQ(lAssembler.GetStatistics().mPacketsIgnored, 1u);
}

TEST(GvspAssembler, LossWithoutResendFailsTheBlockNeverReportsItComplete)
{
    const std::vector<uint8_t> lData = Pattern(20000, 6);
    Provider lProvider(20000);
    TnGvspAssembler lAssembler;
    TnGvspAssemblerConfig lConfig;
    lConfig.mReorderToleranceUs = 1000;
    lAssembler.Configure(lConfig);
    lAssembler.SetProvider(&lProvider);
    // Payload packets 4 and 5 lost, then the next block's trailer lost.
    Feed(lAssembler, Without(Packetise(ImageBlock(lData, 100), 1, 1500, false), {4, 5}), 1000);
    lAssembler.Poll(1500);
    EXPECT_TRUE(lProvider.mFinished.empty()); // still within the reorder tolerance
    lAssembler.Poll(2000);
    ASSERT_EQ(lProvider.mFinished.size(), 1u);
    EXPECT_EQ(lProvider.mFinished[0].mReport.mResult, TN_MISSING_PACKETS);
    ASSERT_EQ(lProvider.mFinished[0].mMissing.size(), 1u);
    EXPECT_EQ(lProvider.mFinished[0].mMissing[0].mFirst, 4u);
    EXPECT_EQ(lProvider.mFinished[0].mMissing[0].mLast, 5u);
    EXPECT_EQ(lProvider.mFinished[0].mReport.mCounters.mLost, 2u);

    std::vector<Datagram> lSecond = Packetise(ImageBlock(lData, 100), 2, 1500, false);
    lSecond.pop_back();
    Feed(lAssembler, lSecond, 3000);
    lAssembler.Poll(100000);
    EXPECT_EQ(lProvider.mFinished.size(), 1u); // its end is unknown until a newer block or the timeout
    EXPECT_EQ(lAssembler.GetNextDeadline(), 3000 + lConfig.mBlockTimeoutUs); // nothing to do before
    Feed(lAssembler, Packetise(ImageBlock(lData, 100), 3, 1500, false), 100000);
    lAssembler.Poll(101000);
    ASSERT_EQ(lProvider.mFinished.size(), 3u);
    EXPECT_EQ(lProvider.mFinished[1].mReport.mResult, TN_OK); // block 3 completed at once
    EXPECT_EQ(lProvider.mFinished[2].mReport.mBlockId, 2u);
    EXPECT_EQ(lProvider.mFinished[2].mReport.mResult, TN_MISSING_PACKETS);
    EXPECT_FALSE(lProvider.mFinished[2].mReport.mTrailerValid);

    // A block that stops without an end times out.
    Feed(lAssembler, Without(Packetise(ImageBlock(lData, 100), 4, 1500, false), {13, 15}), 200000);
    lAssembler.Poll(200000 + lConfig.mBlockTimeoutUs);
    ASSERT_EQ(lProvider.mFinished.size(), 4u);
    EXPECT_NE(lProvider.mFinished[3].mReport.mResult, TN_OK);
}

TEST(GvspAssembler, ResendRequestsBringMissingPacketsAndCountThem)
{
    const std::vector<uint8_t> lData = Pattern(30000, 8);
    Provider lProvider(30000);
    Requester lRequester;
    TnGvspAssembler lAssembler;
    TnGvspAssemblerConfig lConfig;
    lConfig.mResendEnabled = true;
    lConfig.mReorderToleranceUs = 1000;
    lConfig.mResendResponseTimeoutUs = 5000;
    lAssembler.Configure(lConfig);
    lAssembler.SetProvider(&lProvider);
    lAssembler.SetResendRequester(&lRequester);
    const std::vector<Datagram> lAll = Packetise(ImageBlock(lData, 100), 40, 1500, true);
    // Leader, payload packets 3, 4 and 10, and the trailer lost.
    std::vector<Datagram> lSent = Without(lAll, {0, 3, 4, 10, lAll.size() - 1});
    Feed(lAssembler, lSent, 0);
    lAssembler.Poll(999);
    EXPECT_TRUE(lRequester.mRequests.empty());
    lAssembler.Poll(1000);
    // The leader's loss shows, the trailer's not yet: the block may still be arriving.
    ASSERT_EQ(lRequester.mRequests.size(), 3u);
    EXPECT_EQ(lRequester.mRequests[0].mFirst, 0u);
    EXPECT_EQ(lRequester.mRequests[0].mLast, 0u);
    EXPECT_EQ(lRequester.mRequests[1].mFirst, 3u);
    EXPECT_EQ(lRequester.mRequests[1].mLast, 4u);
    EXPECT_EQ(lRequester.mRequests[2].mFirst, 10u);
    EXPECT_EQ(lRequester.mRequests[2].mBlockId, 40u);
    // Packet 3 comes back, as a resend; the rest does not: asked again after the response timeout,
    // with the trailer once a newer block shows the end.
    lAssembler.OnDatagram(WithStatus(lAll[3], kGvcpStatusPacketResend).data(), lAll[3].size(), 2000);
    Feed(lAssembler, {Packetise(ImageBlock(lData, 100), 41, 1500, true)[0]}, 3000);
    lRequester.mRequests.clear();
    lAssembler.Poll(6000);
    ASSERT_EQ(lRequester.mRequests.size(), 4u);
    EXPECT_EQ(lRequester.mRequests[1].mFirst, 4u);
    EXPECT_EQ(lRequester.mRequests[1].mLast, 4u);
    EXPECT_EQ(lRequester.mRequests[3].mFirst, lAll.size() - 1);
    for (size_t lId : {size_t(0), size_t(4), size_t(10), lAll.size() - 1})
    {
        lAssembler.OnDatagram(lAll[lId].data(), lAll[lId].size(), 7000);
    }
    ASSERT_EQ(lProvider.mFinished.size(), 1u);
    const TnGvspBlockReport &lReport = lProvider.mFinished[0].mReport;
    EXPECT_EQ(lReport.mResult, TN_OK);
    EXPECT_EQ(lProvider.mFinished[0].mData, lData);
    EXPECT_EQ(lReport.mCounters.mRecovered, 5u);
    EXPECT_EQ(lReport.mCounters.mRecoveredSingleResend, 2u); // packet 3 and the trailer
    EXPECT_EQ(lReport.mCounters.mResendGroupsRequested, 7u);
    EXPECT_EQ(lReport.mCounters.mResendPacketsRequested, 8u);
    EXPECT_EQ(lReport.mCounters.mOutOfOrder, 0u);
}

TEST(GvspAssembler, ResendLimitsEndTheBlock)
{
    const std::vector<uint8_t> lData = Pattern(30000, 9);
    TnGvspAssemblerConfig lConfig;
    lConfig.mResendEnabled = true;
    lConfig.mReorderToleranceUs = 100;
    lConfig.mResendResponseTimeoutUs = 1000;
    lConfig.mMaxResendRetries = 1;
    lConfig.mMaxResendLatenessUs = 20000;
    const std::vector<Datagram> lAll = Packetise(ImageBlock(lData, 100), 5, 1500, false);
    {
        // Asked twice, never answered: the block waits for the answer until
        // it is too late for resend, then fails.
        Rig lRig(lConfig, 30000);
        Feed(lRig.mAssembler, Without(lAll, {7}), 0);
        for (uint64_t lNow = 0; lNow <= 19900; lNow += 100)
        {
            lRig.mAssembler.Poll(lNow);
        }
        EXPECT_EQ(lRig.mRequester.mRequests.size(), 2u);
        EXPECT_TRUE(lRig.mProvider.mFinished.empty());
        for (uint64_t lNow = 20000; lNow <= 30000; lNow += 100)
        {
            lRig.mAssembler.Poll(lNow);
        }
        EXPECT_EQ(lRig.mRequester.mRequests.size(), 2u);
        ASSERT_EQ(lRig.mProvider.mFinished.size(), 1u);
        EXPECT_EQ(lRig.mProvider.mFinished[0].mReport.mResult, TN_RESENDS_FAILURE);
        EXPECT_EQ(lRig.mProvider.mFinished[0].mReport.mCounters.mLost, 1u);
    }
    {
        // A device held up answers after the last request's timeout, with
        // newer blocks under way: the answer still completes the block.
        Rig lRig(lConfig, 30000);
        Feed(lRig.mAssembler, Without(lAll, {7}), 0);
        for (uint64_t lNow = 0; lNow <= 9000; lNow += 100)
        {
            lRig.mAssembler.Poll(lNow);
        }
        Feed(lRig.mAssembler, Packetise(ImageBlock(lData, 100), 6, 1500, false), 9000);
        lRig.mAssembler.Poll(9500);
        EXPECT_EQ(lRig.mRequester.mRequests.size(), 2u);
        lRig.mAssembler.OnDatagram(WithStatus(lAll[7], kGvcpStatusPacketResend).data(), lAll[7].size(), 10000);
        ASSERT_EQ(lRig.mProvider.mFinished.size(), 2u);
        EXPECT_EQ(lRig.mProvider.mFinished[1].mReport.mBlockId, 5u);
        EXPECT_EQ(lRig.mProvider.mFinished[1].mReport.mResult, TN_OK);
        EXPECT_EQ(lRig.mProvider.mFinished[1].mReport.mCounters.mRecovered, 1u);
    }
    {
        // More missing than the budget allows.
        lConfig.mMaxResendPacketsPerBlock = 2;
        Rig lRig(lConfig, 30000);
        Feed(lRig.mAssembler, Without(lAll, {2, 4, 6}), 0);
        lRig.mAssembler.Poll(200);
        ASSERT_EQ(lRig.mProvider.mFinished.size(), 1u);
        EXPECT_EQ(lRig.mProvider.mFinished[0].mReport.mResult, TN_TOO_MANY_RESENDS);
        EXPECT_EQ(lRig.mRequester.mRequests.size(), 2u);
    }
    {
        // The device answers that it no longer has the packet.
        lConfig.mMaxResendPacketsPerBlock = 0;
        Rig lRig(lConfig, 30000);
        Feed(lRig.mAssembler, Without(lAll, {7}), 0);
        lRig.mAssembler.Poll(200);
        Datagram lRefusal(lAll[7].begin(), lAll[7].begin() + kGvspHeaderSize);
        PutU16(lRefusal.data(), kGvcpStatusPacketUnavailable);
        lRig.mAssembler.OnDatagram(lRefusal.data(), lRefusal.size(), 300);
        ASSERT_EQ(lRig.mProvider.mFinished.size(), 1u);
        EXPECT_EQ(lRig.mProvider.mFinished[0].mReport.mResult, TN_RESENDS_FAILURE);
        EXPECT_EQ(lRig.mProvider.mFinished[0].mReport.mDeviceStatus, kGvcpStatusPacketUnavailable);
    }
}

TEST(GvspAssembler, BlocksLargerThanTheirMemoryFailAsTooSmall)
{
    const std::vector<uint8_t> lData = Pattern(10000, 10);
    // The leader announces more than the memory holds.
    {
        Provider lProvider(8000);
        TnGvspAssembler lAssembler;
        lAssembler.SetProvider(&lProvider);
        Feed(lAssembler, Packetise(ImageBlock(lData, 100), 1, 1000, false), 0);
        ASSERT_EQ(lProvider.mFinished.size(), 1u);
        EXPECT_EQ(lProvider.mFinished[0].mReport.mResult, TN_BUFFER_TOO_SMALL);
        EXPECT_EQ(lProvider.mFinished[0].mReport.mRequiredSize, 10000u);
        EXPECT_LE(lProvider.mFinished[0].mReport.mReceivedSize, 8000u);
        EXPECT_EQ(lAssembler.GetStatistics().mBlocksTooSmall, 1u);
    }
    // No leader; raw data with chunks, whose size only the packets show.
    {
        Provider lProvider(8000);
        TnGvspAssembler lAssembler;
        lAssembler.SetProvider(&lProvider);
        TnGvspBlock lBlock;
        lBlock.mLeader.mPayloadType = kGvspPayloadRawData | kGvspPayloadChunkFlag;
        lBlock.mSegments[0] = {lData.data(), lData.size()};
        Feed(lAssembler, Without(Packetise(lBlock, 2, 1000, false), {0}), 0);
        ASSERT_EQ(lProvider.mFinished.size(), 1u);
        EXPECT_EQ(lProvider.mFinished[0].mReport.mResult, TN_BUFFER_TOO_SMALL);
        EXPECT_EQ(lProvider.mFinished[0].mReport.mRequiredSize, 10000u);
    }
}

TEST(GvspAssembler, StaleContradictoryAndForeignPacketsAreRefused)
{
    const std::vector<uint8_t> lData = Pattern(5000, 11);
    Provider lProvider(10000, 2);
    TnGvspAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    const std::vector<Datagram> lFirst = Packetise(ImageBlock(lData, 100), 100, 1000, false);
    Feed(lAssembler, lFirst, 0);
    ASSERT_EQ(lProvider.mFinished.size(), 1u);
    // Late packets of a finished block, a test packet, junk, and block id 0.
    Feed(lAssembler, {lFirst[2], lFirst[0]}, 10);
    uint8_t lTest[200];
    lAssembler.OnDatagram(lTest, BuildGvspTestPacket(lTest, 228), 10);
    const uint8_t lJunk[5] = {1, 2, 3, 4, 5};
    lAssembler.OnDatagram(lJunk, sizeof(lJunk), 10);
    Datagram lZero = lFirst[1];
    PutU16(lZero.data() + 2, 0);
    lAssembler.OnDatagram(lZero.data(), lZero.size(), 10);
    EXPECT_EQ(lProvider.mFinished.size(), 1u);
    EXPECT_EQ(lAssembler.GetStatistics().mTestPackets, 1u);
    EXPECT_EQ(lAssembler.GetStatistics().mMalformedPackets, 1u);
    EXPECT_EQ(lAssembler.GetStatistics().mPacketsIgnored, 3u);

    // A device that restarts its block ids: a leader far behind starts anew.
    Feed(lAssembler, Packetise(ImageBlock(lData, 100), 1, 1000, false), 20);
    ASSERT_EQ(lProvider.mFinished.size(), 2u);
    EXPECT_EQ(lProvider.mFinished[1].mReport.mResult, TN_OK);
    EXPECT_EQ(lAssembler.GetStatistics().mResyncs, 1u);

    // A short payload packet before the last one contradicts the layout.
    std::vector<Datagram> lShort = Packetise(ImageBlock(lData, 100), 2, 1000, false);
    lShort[2].resize(lShort[2].size() - 10);
    Feed(lAssembler, lShort, 30);
    lAssembler.Poll(1000000);
    ASSERT_EQ(lProvider.mFinished.size(), 3u);
    EXPECT_EQ(lProvider.mFinished[2].mReport.mResult, TN_INVALID_DATA_FORMAT);

    // Ids skipped entirely are counted; with no memory left a block is dropped.
    Feed(lAssembler, {Packetise(ImageBlock(lData, 100), 6, 1000, false)[0]}, 40);
    Feed(lAssembler, {Packetise(ImageBlock(lData, 100), 7, 1000, false)[0]}, 40);
    Feed(lAssembler, {Packetise(ImageBlock(lData, 100), 8, 1000, false)[0]}, 40);
    EXPECT_EQ(lAssembler.GetStatistics().mBlocksMissed, 3u);
    EXPECT_EQ(lAssembler.GetStatistics().mBlocksDropped, 1u);
    lAssembler.FinishAll(TN_ABORTED, 50);
    EXPECT_EQ(lProvider.mFinished.back().mReport.mResult, TN_ABORTED);
    EXPECT_EQ(lProvider.mFree.size(), 2u);

    // Waiting for a leader: a block whose leader was missed is not started.
    lAssembler.SetRequireLeader(true);
    const size_t lBefore = lProvider.mFinished.size();
    Feed(lAssembler, Without(Packetise(ImageBlock(lData, 100), 9, 1000, false), {0}), 60);
    lAssembler.Poll(10000000);
    EXPECT_EQ(lProvider.mFinished.size(), lBefore);
    Feed(lAssembler, Packetise(ImageBlock(lData, 100), 10, 1000, false), 70);
    ASSERT_EQ(lProvider.mFinished.size(), lBefore + 1);
    EXPECT_EQ(lProvider.mFinished.back().mReport.mResult, TN_OK);
}

namespace
{
// The kernel's part of a receive: each datagram scattered over its
// message's vectors in order; a longer one is cut and flagged.
size_t Scatter(TnGvspScatterBatch &aBatch, const std::vector<Datagram> &aPackets, size_t &aNext)
{
    mmsghdr *lMessages = aBatch.GetMessages();
    size_t lCount = 0;
    for (; lCount < aBatch.GetSlots() && aNext < aPackets.size(); ++lCount, ++aNext)
    {
        const Datagram &lPacket = aPackets[aNext];
        msghdr &lHeader = lMessages[lCount].msg_hdr;
        size_t lDone = 0;
        for (size_t lVector = 0; lVector < lHeader.msg_iovlen && lDone < lPacket.size(); ++lVector)
        {
            const size_t lTake = std::min(lHeader.msg_iov[lVector].iov_len, lPacket.size() - lDone);
            memcpy(lHeader.msg_iov[lVector].iov_base, lPacket.data() + lDone, lTake);
            lDone += lTake;
        }
        lMessages[lCount].msg_len = static_cast<unsigned>(lDone);
        lHeader.msg_flags = lDone < lPacket.size() ? MSG_TRUNC : 0;
    }
    return lCount;
}
} // namespace

TEST(GvspScatter, InOrderTrafficLandsInPlaceAndMispredictionsStayCorrect)
{
    const std::vector<uint8_t> lData = Pattern(64000, 12);
    Provider lProvider(64000, 4);
    TnGvspAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    TnGvspScatterBatch lBatch;
    lBatch.Configure(16, 2000);
    std::vector<Datagram> lTraffic;
    for (uint64_t lId = 1; lId <= 4; ++lId)
    {
        const std::vector<Datagram> lBlock = Packetise(ImageBlock(lData, 200), lId, 1500, false);
        lTraffic.insert(lTraffic.end(), lBlock.begin(), lBlock.end());
    }
    size_t lNext = 0;
    while (lNext < lTraffic.size())
    {
        lBatch.Prepare(lAssembler);
        const size_t lCount = Scatter(lBatch, lTraffic, lNext);
        lBatch.Complete(lAssembler, lCount, 0);
    }
    ASSERT_EQ(lProvider.mFinished.size(), 4u);
    for (const Finished &lFinished : lProvider.mFinished)
    {
        EXPECT_EQ(lFinished.mReport.mResult, TN_OK);
        EXPECT_EQ(lFinished.mData, lData);
    }
    // After the first packets show the layout, payloads of every later block go in place.
    const TnGvspReceiveStatistics &lStatistics = lAssembler.GetStatistics();
    const uint64_t lPayloadPackets = 4 * ((lData.size() + 1463) / 1464);
    EXPECT_GE(lStatistics.mPacketsInPlace, lPayloadPackets - 16);
    EXPECT_EQ(lStatistics.mPacketsInPlace + lStatistics.mPacketsCopied, lPayloadPackets);

    // Shuffled, duplicated and foreign traffic through the same path: the
    // result is still exact, or the block fails.
    std::mt19937 lRandom(3);
    for (int lRound = 0; lRound < 20; ++lRound)
    {
        std::vector<Datagram> lMixed;
        const uint64_t lFirstId = 10 + static_cast<uint64_t>(lRound) * 3;
        for (uint64_t lId = lFirstId; lId < lFirstId + 3; ++lId)
        {
            std::vector<Datagram> lBlock = Packetise(ImageBlock(lData, 200), lId, 1500, false);
            for (size_t lIndex = 0; lIndex + 1 < lBlock.size(); ++lIndex)
            {
                if (lRandom() % 10 == 0)
                {
                    std::swap(lBlock[lIndex], lBlock[lIndex + 1]);
                }
                if (lRandom() % 30 == 0)
                {
                    const Datagram lCopy = lBlock[lIndex + 1];
                    lBlock.insert(lBlock.begin() + static_cast<long>(lIndex), lCopy);
                }
            }
            if (lRound % 4 == 1)
            {
                lBlock.erase(lBlock.begin() + 5);
            }
            lMixed.insert(lMixed.end(), lBlock.begin(), lBlock.end());
        }
        lMixed.insert(lMixed.begin() + 30, Datagram(3000, 0x42)); // longer than the scratch
        lProvider.mFinished.clear();
        lNext = 0;
        const uint64_t lNow = (lRound + 1) * 100000000ull;
        while (lNext < lMixed.size())
        {
            lBatch.Prepare(lAssembler);
            const size_t lCount = Scatter(lBatch, lMixed, lNext);
            lBatch.Complete(lAssembler, lCount, lNow);
        }
        lAssembler.Poll(lNow + 10000000);
        ASSERT_EQ(lProvider.mFinished.size(), 3u);
        for (const Finished &lFinished : lProvider.mFinished)
        {
            if (lFinished.mReport.mResult == TN_OK)
            {
                EXPECT_EQ(lFinished.mData, lData) << "round " << lRound;
            }
            else
            {
                EXPECT_EQ(lRound % 4, 1);
                EXPECT_EQ(lFinished.mReport.mResult, TN_MISSING_PACKETS);
            }
        }
    }
    EXPECT_EQ(lBatch.GetTruncated(), 20u);
    lAssembler.FinishAll(TN_ABORTED, 0);
    EXPECT_EQ(lProvider.mFree.size(), 4u);
}

namespace
{
// Blocks 1 and 2 at 1500-byte packets, 3 to 6 at 600 (a device whose packet
// size was lowered), 7 and 8 at 1500 again, each block's datagrams apart:
// with the image leader's size, or with chunks (the leader tells no size, so
// the first packets of a block are what shows the new size). In block 3,
// payload packets 1 and 2 come swapped; with aSlowBlock, block 2 misses a
// payload packet that a resend brings once block 3 has started at the
// smaller size.
std::vector<std::vector<Datagram>> ResizedTraffic(const std::vector<uint8_t> &aData, bool aChunks, bool aSlowBlock)
{
    const uint16_t lType = kGvspPayloadImage | (aChunks ? kGvspPayloadChunkFlag : 0);
    std::vector<std::vector<Datagram>> lTraffic;
    Datagram lLate;
    for (uint64_t lId = 1; lId <= 8; ++lId)
    {
        std::vector<Datagram> lBlock = Packetise(ImageBlock(aData, 100, lType), lId, lId >= 3 && lId <= 6 ? 600 : 1500,
                                                 false);
        if (lId == 2 && aSlowBlock)
        {
            lLate = WithStatus(lBlock[5], kGvcpStatusPacketResend);
            lBlock = Without(lBlock, {5});
        }
        if (lId == 3)
        {
            std::swap(lBlock[1], lBlock[2]);
            if (aSlowBlock)
            {
                lBlock.insert(lBlock.begin() + 3, lLate);
            }
        }
        lTraffic.push_back(lBlock);
    }
    return lTraffic;
}
} // namespace

TEST(GvspAssembler, PacketsThatGetSmallerOrLargerAreFollowedBlockByBlock)
{
    // Every block arrives whole, from the packets of its own size, whichever
    // receiver hands them over: one datagram at a time (the packet ring) or
    // scattered in place at the predicted offsets (the socket). Predicted at
    // 600, the short last packet of a block at 1500 lands in place where the
    // block's larger packets write.
    const std::vector<uint8_t> lData = Pattern(19500, 14);
    for (bool lChunks : {false, true})
    {
        for (bool lSlowBlock : {false, true})
        {
            for (size_t lBatchSize : {0, 16, 64})
            {
                SCOPED_TRACE(std::string(lChunks ? "chunks" : "sized leader") + (lSlowBlock ? ", resend" : "") +
                             ", batches of " + std::to_string(lBatchSize));
                Rig lRig(TnGvspAssemblerConfig(), 24000);
                if (lSlowBlock)
                {
                    TnGvspAssemblerConfig lConfig;
                    lConfig.mResendEnabled = true;
                    lRig.mAssembler.SetPolicy(lConfig);
                }
                TnGvspScatterBatch lBatch;
                lBatch.Configure(std::max<size_t>(lBatchSize, 1), 2000);
                for (const std::vector<Datagram> &lBlock : ResizedTraffic(lData, lChunks, lSlowBlock))
                {
                    if (lBatchSize == 0)
                    {
                        Feed(lRig.mAssembler, lBlock, 0);
                    }
                    for (size_t lNext = 0; lBatchSize != 0 && lNext < lBlock.size();)
                    {
                        lBatch.Prepare(lRig.mAssembler);
                        const size_t lCount = Scatter(lBatch, lBlock, lNext);
                        lBatch.Complete(lRig.mAssembler, lCount, 0);
                    }
                }
                std::vector<uint64_t> lIds;
                for (const Finished &lFinished : lRig.mProvider.mFinished)
                {
                    const uint64_t lId = lFinished.mReport.mBlockId;
                    lIds.push_back(lId);
                    EXPECT_EQ(lFinished.mReport.mResult, TN_OK) << "block " << lId;
                    EXPECT_EQ(lFinished.mData, lData) << "block " << lId;
                    EXPECT_EQ(lFinished.mReport.mPayloadPerPacket, lId >= 3 && lId <= 6 ? 564u : 1464u);
                }
                std::sort(lIds.begin(), lIds.end());
                EXPECT_EQ(lIds, std::vector<uint64_t>({1, 2, 3, 4, 5, 6, 7, 8}));
                EXPECT_EQ(lRig.mAssembler.GetPayloadPerPacket(), 1464u);
                EXPECT_EQ(lRig.mAssembler.GetStatistics().mPacketsIgnored, 0u);
                if (lBatchSize != 0)
                {
                    // Blocks that keep the size land in place.
                    EXPECT_GT(lRig.mAssembler.GetStatistics().mPacketsInPlace, 100u);
                }
            }
        }
    }

    // A short packet that contradicts what its block placed before is no
    // new size: the block fails, the next one keeps the stream's size.
    Rig lRig(TnGvspAssemblerConfig(), 24000);
    std::vector<Datagram> lBlock = Packetise(ImageBlock(lData, 100), 1, 1500, false);
    lBlock[3].resize(lBlock[3].size() - 100);
    Feed(lRig.mAssembler, lBlock, 0);
    Feed(lRig.mAssembler, Packetise(ImageBlock(lData, 100), 2, 1500, false), 10);
    lRig.mAssembler.Poll(10000000);
    ASSERT_EQ(lRig.mProvider.mFinished.size(), 2u);
    EXPECT_EQ(lRig.mProvider.mFinished[0].mReport.mResult, TN_INVALID_DATA_FORMAT);
    EXPECT_EQ(lRig.mProvider.mFinished[1].mReport.mResult, TN_OK);
    EXPECT_EQ(lRig.mProvider.mFinished[1].mData, lData);
    EXPECT_EQ(lRig.mAssembler.GetPayloadPerPacket(), 1464u);
}

TEST(GvspGenDC, ContainersTravelInTheirOwnFormatAndMixedBlocksFail)
{
    const std::vector<uint8_t> lContainer = Pattern(20000, 13);
    TnGvspBlock lBlock;
    lBlock.mLeader.mPayloadType = kGvspPayloadGenDC;
    lBlock.mLeader.mTimestamp = 77;
    lBlock.mSegments[0] = {lContainer.data(), lContainer.size()};
    for (bool lExtended : {false, true})
    {
        const std::vector<Datagram> lPackets = Packetise(lBlock, 3, 1500, lExtended);
        TnGvspPacket lLeader;
        ASSERT_TRUE(DecodeGvspPacket(lPackets[0].data(), lPackets[0].size(), lLeader));
        TnGvspRawDataLeader lSized;
        ASSERT_TRUE(DecodeRawDataLeader(lLeader.mPayload, lLeader.mPayloadSize, lSized));
        EXPECT_EQ(lSized.mPayloadType, kGvspPayloadGenDC);
        EXPECT_EQ(lSized.mPayloadSize, lContainer.size());
        for (size_t lIndex = 1; lIndex + 1 < lPackets.size(); ++lIndex)
        {
            EXPECT_EQ(lPackets[lIndex][4] & 0x0F, kGvspFormatGenDC);
        }
        TnGvspPacket lEnd;
        TnGvspTrailer lTrailer;
        ASSERT_TRUE(DecodeGvspPacket(lPackets.back().data(), lPackets.back().size(), lEnd));
        ASSERT_TRUE(DecodeTrailer(lEnd.mPayload, lEnd.mPayloadSize, lTrailer));
        EXPECT_EQ(lTrailer.mPayloadType, kGvspPayloadGenDC);
    }

    // Scattered in place, a lost packet resent: the container arrives whole.
    TnGvspAssemblerConfig lConfig;
    lConfig.mResendEnabled = true;
    Rig lRig(lConfig, 24000);
    TnGvspScatterBatch lBatch;
    lBatch.Configure(8, 2000);
    std::vector<Datagram> lTraffic;
    for (uint64_t lId = 1; lId <= 3; ++lId)
    {
        const std::vector<Datagram> lPackets = Packetise(lBlock, lId, 1500, false);
        lTraffic.insert(lTraffic.end(), lPackets.begin(), lPackets.end());
    }
    const Datagram lLost = lTraffic[lTraffic.size() - 5];
    lTraffic.erase(lTraffic.end() - 5);
    size_t lNext = 0;
    while (lNext < lTraffic.size())
    {
        lBatch.Prepare(lRig.mAssembler);
        lBatch.Complete(lRig.mAssembler, Scatter(lBatch, lTraffic, lNext), 0);
    }
    lRig.mAssembler.Poll(lConfig.mReorderToleranceUs);
    ASSERT_EQ(lRig.mRequester.mRequests.size(), 1u);
    lRig.mAssembler.OnDatagram(WithStatus(lLost, kGvcpStatusPacketResend).data(), lLost.size(), 3000);
    ASSERT_EQ(lRig.mProvider.mFinished.size(), 3u);
    for (const Finished &lFinished : lRig.mProvider.mFinished)
    {
        EXPECT_EQ(lFinished.mReport.mResult, TN_OK);
        EXPECT_EQ(BasePayloadType(lFinished.mReport.mLeaderInfo.mPayloadType), kGvspPayloadGenDC);
        EXPECT_EQ(lFinished.mReport.mLeaderPayloadSize, lContainer.size());
        EXPECT_EQ(lFinished.mData, lContainer);
    }
    EXPECT_GT(lRig.mAssembler.GetStatistics().mPacketsInPlace, 0u);

    // A plain payload packet in a GenDC block, a GenDC one in an image block,
    // or GenDC packets before an image leader: the packets contradict each other.
    std::vector<Datagram> lMixed = Packetise(lBlock, 10, 1500, false);
    lMixed[2][4] = kGvspFormatPayload;
    std::vector<Datagram> lImage = Packetise(ImageBlock(lContainer, 100), 11, 1500, false);
    lImage[3][4] = kGvspFormatGenDC;
    std::vector<Datagram> lLate = Packetise(ImageBlock(lContainer, 100), 12, 1500, false);
    for (size_t lIndex = 1; lIndex + 1 < lLate.size(); ++lIndex)
    {
        lLate[lIndex][4] = kGvspFormatGenDC;
    }
    std::rotate(lLate.begin(), lLate.begin() + 1, lLate.end() - 1); // the leader after the payload
    lRig.mProvider.mFinished.clear();
    for (const std::vector<Datagram> *lPackets : {&lMixed, &lImage, &lLate})
    {
        Feed(lRig.mAssembler, *lPackets, 10000);
    }
    lRig.mAssembler.Poll(10000 + 2 * lConfig.mBlockTimeoutUs);
    ASSERT_EQ(lRig.mProvider.mFinished.size(), 3u);
    for (const Finished &lFinished : lRig.mProvider.mFinished)
    {
        EXPECT_EQ(lFinished.mReport.mResult, TN_INVALID_DATA_FORMAT) << lFinished.mReport.mBlockId;
    }
}

namespace
{
// A crafted datagram of block 2 (standard ids): a header, then aPayload.
Datagram Crafted(uint8_t aFormat, uint32_t aPacketId, std::vector<uint8_t> aPayload, uint64_t aBlockId = 2)
{
    Datagram lPacket;
    TnGvspHeader lHeader;
    lHeader.mFormat = aFormat;
    lHeader.mBlockId = aBlockId;
    lHeader.mPacketId = aPacketId;
    AppendGvspHeader(lPacket, lHeader);
    lPacket.insert(lPacket.end(), aPayload.begin(), aPayload.end());
    return lPacket;
}

Datagram Leader64x16(uint16_t aType = kGvspPayloadImage, uint32_t aSizeX = 64, uint32_t aSizeY = 16,
                     uint32_t aPixelFormat = 0x01080001 /* Mono8 */)
{
    TnGvspImageLeader lLeader;
    lLeader.mPayloadType = aType;
    lLeader.mPixelFormat = aPixelFormat;
    lLeader.mSizeX = aSizeX;
    lLeader.mSizeY = aSizeY;
    Datagram lPacket;
    AppendImageLeader(lPacket, lLeader);
    return Crafted(kGvspFormatLeader, 0, lPacket);
}

Datagram SizedLeader(uint16_t aType, uint64_t aSize)
{
    TnGvspRawDataLeader lLeader;
    lLeader.mPayloadType = aType;
    lLeader.mPayloadSize = aSize;
    std::vector<uint8_t> lBytes(kGvspRawDataLeaderSize);
    lBytes.resize(WriteRawDataLeader(lBytes.data(), lLeader));
    return Crafted(kGvspFormatLeader, 0, lBytes);
}

Datagram Payload(uint32_t aPacketId, size_t aSize, uint8_t aFormat = kGvspFormatPayload)
{
    return Crafted(aFormat, aPacketId, std::vector<uint8_t>(aSize, 0x22));
}

Datagram Trailer(uint32_t aPacketId, uint32_t aLines, uint16_t aType = kGvspPayloadImage)
{
    TnGvspTrailer lTrailer;
    lTrailer.mPayloadType = aType;
    lTrailer.mSizeY = aLines;
    Datagram lPacket;
    AppendTrailer(lPacket, lTrailer);
    return Crafted(kGvspFormatTrailer, aPacketId, lPacket);
}
} // namespace

TEST(GvspAssembler, BlocksThatEndBeforeWhatTheyDescribeNeverComplete)
{
    // After a whole 64 x 16 Mono8 block in 256-byte packets, block 2 as each
    // case has it: its verdict comes with its trailer, resend or not.
    TnGvspMultipartLeader lParts; // two parts, 600 and 400 bytes
    lParts.mParts.resize(2);
    PutU32(lParts.mParts[0].mBytes + 4, 600);
    PutU32(lParts.mParts[1].mBytes + 4, 400);
    Datagram lMultipart;
    AppendMultipartLeader(lMultipart, lParts);
    lMultipart = Crafted(kGvspFormatLeader, 0, lMultipart);
    struct Case
    {
        const char *mName;
        std::vector<Datagram> mPackets;
        uint32_t mResult;
        uint64_t mDescribed;
        uint64_t mReceived;
    } lCases[] = {
        {"trailer after one packet of four", {Leader64x16(), Payload(1, 256), Trailer(2, 16)}, TN_MISSING_PACKETS, 1024, 256},
        {"the 4 lines sent", {Leader64x16(), Payload(1, 256), Trailer(2, 4)}, TN_OK, 256, 256},
        {"last packet short", {Leader64x16(), Payload(1, 256), Payload(2, 256), Payload(3, 256), Payload(4, 200), Trailer(5, 16)},
         TN_MISSING_PACKETS, 1024, 968},
        // A short first packet the leader shows is no last one: smaller packets.
        {"smaller packets", {Leader64x16(), Payload(1, 128), Payload(2, 128), Trailer(3, 16)}, TN_MISSING_PACKETS, 1024, 256},
        {"chunks", {Leader64x16(kGvspPayloadImage | kGvspPayloadChunkFlag), Payload(1, 100), Trailer(2, 16)},
         TN_MISSING_PACKETS, 1024, 100},
        {"raw data", {SizedLeader(kGvspPayloadRawData, 1000), Payload(1, 256), Payload(2, 256), Trailer(3, 0, kGvspPayloadRawData)},
         TN_MISSING_PACKETS, 1000, 512},
        {"GenDC", {SizedLeader(kGvspPayloadGenDC, 700), Payload(1, 256, kGvspFormatGenDC), Trailer(2, 0, kGvspPayloadGenDC)},
         TN_MISSING_PACKETS, 700, 256},
        {"multipart", {lMultipart, Payload(1, 256), Payload(2, 256), Trailer(3, 0, kGvspPayloadMultipart)},
         TN_MISSING_PACKETS, 1000, 512},
    };
    for (const Case &lCase : lCases)
    {
        SCOPED_TRACE(lCase.mName);
        TnGvspAssemblerConfig lConfig;
        lConfig.mResendEnabled = true;
        Rig lRig(lConfig, 4096);
        std::vector<Datagram> lFirst = {Leader64x16()};
        for (uint32_t lId = 1; lId <= 4; ++lId)
        {
            lFirst.push_back(Payload(lId, 256));
        }
        lFirst.push_back(Trailer(5, 16));
        for (Datagram &lPacket : lFirst)
        {
            PutU16(lPacket.data() + 2, 1); // block 1
        }
        Feed(lRig.mAssembler, lFirst, 0);
        Feed(lRig.mAssembler, lCase.mPackets, 10);
        ASSERT_EQ(lRig.mProvider.mFinished.size(), 2u);
        const TnGvspBlockReport &lReport = lRig.mProvider.mFinished[1].mReport;
        EXPECT_EQ(lReport.mResult, lCase.mResult);
        EXPECT_EQ(lReport.mDescribedSize, lCase.mDescribed);
        EXPECT_EQ(lReport.mReceivedSize, lCase.mReceived);
        EXPECT_TRUE(lRig.mRequester.mRequests.empty());
    }
    // An image of 2^65 bytes (Mono16) fits no memory: its size does not wrap to 0.
    Rig lRig(TnGvspAssemblerConfig(), 4096);
    Feed(lRig.mAssembler, {Leader64x16(kGvspPayloadImage, 1u << 31, 1u << 30, 0x01100007), Payload(1, 256), Trailer(2, 0)}, 0);
    ASSERT_EQ(lRig.mProvider.mFinished.size(), 1u);
    EXPECT_EQ(lRig.mProvider.mFinished[0].mReport.mResult, TN_BUFFER_TOO_SMALL);
}

TEST(GvspAssembler, ABacklogOfBlocksKeepsTheOnesAResendCanStillComplete)
{
    // A receiver held up takes blocks 1 to 6 at once, blocks 1 to 4 each
    // missing a packet: the fifth to start finds four in flight.
    const std::vector<uint8_t> lData = Pattern(20000, 15);
    std::vector<Datagram> lBacklog;
    std::vector<Datagram> lLost;
    for (uint64_t lId = 1; lId <= 6; ++lId)
    {
        std::vector<Datagram> lBlock = Packetise(ImageBlock(lData, 100), lId, 1500, false);
        if (lId <= 4)
        {
            lLost.push_back(WithStatus(lBlock[3], kGvcpStatusPacketResend));
            lBlock = Without(lBlock, {3});
        }
        lBacklog.insert(lBacklog.end(), lBlock.begin(), lBlock.end());
    }
    TnGvspAssemblerConfig lConfig;
    lConfig.mResendEnabled = true;
    for (size_t lMemory : {8, 4})
    {
        Rig lRig(lConfig, 20000);
        lRig.mProvider.mFree.resize(lMemory);
        Feed(lRig.mAssembler, lBacklog, 100);
        lRig.mAssembler.Poll(100 + lConfig.mReorderToleranceUs);
        Feed(lRig.mAssembler, lLost, 5000);
        std::map<uint64_t, uint32_t> lResults;
        for (const Finished &lFinished : lRig.mProvider.mFinished)
        {
            lResults[lFinished.mReport.mBlockId] = lFinished.mReport.mResult;
            EXPECT_TRUE(lFinished.mReport.mResult != TN_OK || lFinished.mData == lData);
        }
        // With memory for every block, all come whole; with memory for four,
        // the oldest gave its memory to the fifth (none dropped).
        EXPECT_EQ(lResults, (std::map<uint64_t, uint32_t>{{1, lMemory == 8 ? TN_OK : TN_MISSING_PACKETS},
                                                          {2, TN_OK}, {3, TN_OK}, {4, TN_OK}, {5, TN_OK}, {6, TN_OK}}));
        EXPECT_EQ(lRig.mAssembler.GetStatistics().mBlocksDropped, 0u);
    }
}
