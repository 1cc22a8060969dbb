// RTP packets cut by the packetiser and put together by the assembler (with
// loss, reordering, duplicates and foreign senders), and the whole road over
// loopback: the stream sender in RTP mode, over UDP into the receiver's
// scatter batches and over TCP through the packet tap.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnGevBytes.h"
#include "TnGvsp.h"
#include "TnRtp.h"
#include "TnRtpAssembler.h"
#include "TnRtpReceiver.h"
#include "TnRtpSession.h"
#include "TnTestNetwork.h"

using namespace tn::gev;

namespace
{
using Datagram = std::vector<uint8_t>;

constexpr uint32_t kRgb8 = 0x02180014;
constexpr uint32_t kMono8 = 0x01080001;

std::vector<uint8_t> Pattern(size_t aSize, uint32_t aSeed)
{
    std::vector<uint8_t> lBytes(aSize);
    for (size_t lIndex = 0; lIndex < aSize; ++lIndex)
    {
        lBytes[lIndex] = static_cast<uint8_t>(lIndex * 7 + aSeed * 13 + (lIndex >> 8));
    }
    return lBytes;
}

TnGvspBlock ImageBlock(const std::vector<uint8_t> &aData, uint32_t aWidth, uint32_t aHeight, uint32_t aPixelType,
                       uint64_t aTimestamp)
{
    TnGvspBlock lBlock;
    lBlock.mLeader.mPayloadType = kGvspPayloadImage;
    lBlock.mLeader.mTimestamp = aTimestamp;
    lBlock.mLeader.mPixelFormat = aPixelType;
    lBlock.mLeader.mSizeX = aWidth;
    lBlock.mLeader.mSizeY = aHeight;
    lBlock.mSegments[0].mData = aData.data();
    lBlock.mSegments[0].mSize = aData.size();
    return lBlock;
}

std::vector<Datagram> Packetise(TnRtpPacketiser &aPacketiser, const TnGvspBlock &aBlock)
{
    EXPECT_TRUE(aPacketiser.Begin(aBlock, 1));
    std::vector<Datagram> lPackets;
    for (uint32_t lIndex = 0; lIndex < aPacketiser.GetPacketCount(); ++lIndex)
    {
        uint8_t lHeader[kGvspMaxHeaderBufferSize];
        iovec lVectors[kGvspMaxPacketVectors];
        size_t lSize = 0;
        const size_t lCount = aPacketiser.Build(lIndex, 0, lHeader, lVectors, lSize);
        Datagram lPacket;
        for (size_t lVector = 0; lVector < lCount; ++lVector)
        {
            const uint8_t *lBase = static_cast<const uint8_t *>(lVectors[lVector].iov_base);
            lPacket.insert(lPacket.end(), lBase, lBase + lVectors[lVector].iov_len);
        }
        EXPECT_EQ(lPacket.size(), lSize);
        lPackets.push_back(lPacket);
    }
    return lPackets;
}

struct Finished
{
    TnRtpFrameReport mReport;
    std::vector<uint8_t> mData;
};

// Hands out memory of one size and keeps what comes back.
class Provider : public TnRtpFrameProvider
{
public:
    explicit Provider(size_t aSize, size_t aCount = 4) : mMemory(aCount, std::vector<uint8_t>(aSize, 0xEE))
    {
        for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
        {
            mFree.push_back(lIndex);
        }
    }

    bool AcquireFrame(TnGvspBlockTarget &aTarget) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
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

    void FinishFrame(const TnGvspBlockTarget &aTarget, const TnRtpFrameReport &aReport) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        Finished lFinished;
        lFinished.mReport = aReport;
        lFinished.mData.assign(aTarget.mData, aTarget.mData + std::min<uint64_t>(aReport.mSize, aTarget.mSize));
        mFinished.push_back(lFinished);
        mFree.push_back(reinterpret_cast<size_t>(aTarget.mContext));
    }

    void ReturnFrame(const TnGvspBlockTarget &aTarget) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mFree.push_back(reinterpret_cast<size_t>(aTarget.mContext));
    }

    std::vector<Finished> Take()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        std::vector<Finished> lFinished;
        lFinished.swap(mFinished);
        return lFinished;
    }

    std::mutex mMutex;
    std::vector<std::vector<uint8_t>> mMemory;
    std::vector<size_t> mFree;
    std::vector<Finished> mFinished;
};

TnRtpAssemblerConfig RawConfig(uint32_t aWidth, uint32_t aHeight, uint32_t aPixelType, uint32_t aPaddingX = 0)
{
    TnRtpAssemblerConfig lConfig;
    lConfig.mPayload = TnRtpPayload::RawVideo;
    lConfig.mWidth = aWidth;
    lConfig.mHeight = aHeight;
    lConfig.mPaddingX = aPaddingX;
    EXPECT_TRUE(RawSamplingOf(aPixelType, lConfig.mSampling));
    return lConfig;
}

void Feed(TnRtpAssembler &aAssembler, const std::vector<Datagram> &aPackets, uint64_t &aNow)
{
    for (const Datagram &lPacket : aPackets)
    {
        aAssembler.OnDatagram(lPacket.data(), lPacket.size(), aNow++);
    }
}

// The kernel's part of a receive into a scatter batch: the datagram written
// over its message's vectors in order (a longer one cut and flagged).
void Scatter(TnRtpScatterBatch &aBatch, size_t aSlot, const Datagram &aPacket)
{
    mmsghdr &lMessage = aBatch.GetMessages()[aSlot];
    msghdr &lHeader = lMessage.msg_hdr;
    size_t lDone = 0;
    for (size_t lVector = 0; lVector < lHeader.msg_iovlen && lDone < aPacket.size(); ++lVector)
    {
        const size_t lTake = std::min(lHeader.msg_iov[lVector].iov_len, aPacket.size() - lDone);
        memcpy(lHeader.msg_iov[lVector].iov_base, aPacket.data() + lDone, lTake);
        lDone += lTake;
    }
    lMessage.msg_len = static_cast<unsigned>(lDone);
    lHeader.msg_flags = lDone < aPacket.size() ? MSG_TRUNC : 0;
}

// One raw-video packet of a whole Mono8 line whose bytes all hold aValue.
Datagram LinePacket(uint16_t aSequence, uint32_t aTimestamp, bool aMarker, uint16_t aLine, uint16_t aWidth,
                    uint8_t aValue)
{
    Datagram lPacket(kRtpHeaderSize + kRtpRawExtendedSequenceSize + kRtpRawLineHeaderSize + aWidth, aValue);
    EncodeRtpHeader(lPacket.data(), 96, aMarker, aSequence, aTimestamp, 7);
    uint8_t *lHeaders = lPacket.data() + kRtpHeaderSize;
    PutU16(lHeaders, 0);
    PutU16(lHeaders + 2, aWidth);
    PutU16(lHeaders + 4, aLine);
    PutU16(lHeaders + 6, 0);
    return lPacket;
}
} // namespace

TEST(Rtp, HeadersAndSamplings)
{
    uint8_t lPacket[28] = {};
    EncodeRtpHeader(lPacket, 96, true, 0xABCD, 0x01020304, 0xCAFEF00D);
    TnRtpHeader lHeader;
    ASSERT_TRUE(DecodeRtpHeader(lPacket, sizeof(lPacket), lHeader));
    EXPECT_TRUE(lHeader.mMarker);
    EXPECT_EQ(lHeader.mPayloadType, 96);
    EXPECT_EQ(lHeader.mSequence, 0xABCD);
    EXPECT_EQ(lHeader.mTimestamp, 0x01020304u);
    EXPECT_EQ(lHeader.mSsrc, 0xCAFEF00Du);
    EXPECT_EQ(lHeader.mPayloadSize, 16u);
    // A contributing source, an extension of one word and 3 bytes of padding.
    lPacket[0] = 0x80 | 0x20 | 0x10 | 1;
    PutU16(lPacket + 18, 1);
    lPacket[27] = 3;
    ASSERT_TRUE(DecodeRtpHeader(lPacket, sizeof(lPacket), lHeader));
    EXPECT_EQ(lHeader.mHeaderSize, 24u);
    EXPECT_EQ(lHeader.mPayloadSize, 1u);
    lPacket[25] = 3; // padding into the header: no packet
    EXPECT_FALSE(DecodeRtpHeader(lPacket, 26, lHeader));
    lPacket[0] = 0x80;
    lPacket[1] = 200; // an RTCP sender report on the same port
    EXPECT_FALSE(DecodeRtpHeader(lPacket, sizeof(lPacket), lHeader));

    TnRawSampling lSampling;
    EXPECT_TRUE(RawSamplingOf(0x0210001F, lSampling));
    EXPECT_EQ(std::string(lSampling.mSampling), "YCbCr-4:2:2");
    EXPECT_EQ(lSampling.mGroupBytes, 4u);
    EXPECT_TRUE(RawSamplingOf(0x0108000B, lSampling)); // BayerBG8
    EXPECT_EQ(lSampling.mGroupBytes, 1u);
    EXPECT_FALSE(RawSamplingOf(0x01100007, lSampling)); // Mono16: big-endian on the wire, not the pixel type's bytes
    EXPECT_FALSE(RawSamplingOf(0x02100032, lSampling)); // YUV422_8 (YUYV): not the sampling's order
}

TEST(Rtp, RawVideoRoundTripsWhateverTheOrder)
{
    const uint32_t lWidth = 100;
    const uint32_t lHeight = 37;
    TnRtpPacketiser lPacketiser;
    ASSERT_TRUE(lPacketiser.Configure(1000, 96, 0x1234, 0xFFF0)); // the sequence wraps within the frames
    Provider lProvider(lWidth * lHeight * 3);
    TnRtpAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    lAssembler.Configure(RawConfig(lWidth, lHeight, kRgb8));
    uint64_t lNow = 1000;
    std::vector<std::vector<uint8_t>> lFrames;
    for (uint32_t lFrame = 0; lFrame < 4; ++lFrame)
    {
        lFrames.push_back(Pattern(lWidth * lHeight * 3, lFrame));
        std::vector<Datagram> lPackets = Packetise(lPacketiser, ImageBlock(lFrames.back(), lWidth, lHeight, kRgb8,
                                                                             lFrame * 40000000ull));
        ASSERT_GT(lPackets.size(), 10u);
        if (lFrame == 1)
        {
            std::reverse(lPackets.begin() + 1, lPackets.end() - 1); // the middle reversed
        }
        if (lFrame == 2)
        {
            lPackets.insert(lPackets.begin() + 5, lPackets[3]); // a duplicate
        }
        Feed(lAssembler, lPackets, lNow);
    }
    const std::vector<Finished> lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 4u);
    for (size_t lIndex = 0; lIndex < 4; ++lIndex)
    {
        EXPECT_EQ(lFinished[lIndex].mReport.mResult, static_cast<uint32_t>(TN_OK)) << lIndex;
        EXPECT_EQ(lFinished[lIndex].mData, lFrames[lIndex]) << lIndex;
    }
    EXPECT_GT(lFinished[1].mReport.mOutOfOrder, 0u);
    EXPECT_EQ(lFinished[2].mReport.mRedundant, 1u);
    EXPECT_EQ(lAssembler.GetStatistics().mFramesCompleted, 4u);
}

TEST(Rtp, RawVideoLinesKeepTheirPaddingOnEitherSide)
{
    // 4:2:2 (two pixels in four bytes): the sender's lines padded by 6 bytes,
    // the receiver's by 10; the packets carry the pixels only.
    const uint32_t lWidth = 90;
    const uint32_t lHeight = 25;
    const uint32_t lLine = lWidth * 2;
    std::vector<uint8_t> lSent = Pattern((lLine + 6) * lHeight, 5);
    TnGvspBlock lBlock = ImageBlock(lSent, lWidth, lHeight, 0x0210001F, 1000000);
    lBlock.mLeader.mPaddingX = 6;
    TnRtpPacketiser lPacketiser;
    ASSERT_TRUE(lPacketiser.Configure(700, 96, 3, 0));
    Provider lProvider((lLine + 10) * lHeight);
    TnRtpAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    lAssembler.Configure(RawConfig(lWidth, lHeight, 0x0210001F, 10));
    uint64_t lNow = 1;
    Feed(lAssembler, Packetise(lPacketiser, lBlock), lNow);
    const std::vector<Finished> lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 1u);
    EXPECT_EQ(lFinished[0].mReport.mResult, static_cast<uint32_t>(TN_OK));
    for (uint32_t lRow = 0; lRow < lHeight; ++lRow)
    {
        EXPECT_TRUE(std::equal(lSent.begin() + lRow * (lLine + 6), lSent.begin() + lRow * (lLine + 6) + lLine,
                               lFinished[0].mData.begin() + lRow * (lLine + 10)))
            << lRow;
    }
    // A width that is no whole number of pixel groups cannot be sent.
    lBlock.mLeader.mSizeX = 89;
    EXPECT_FALSE(lPacketiser.Begin(lBlock, 1));
}

TEST(Rtp, RawVideoWithAGapNeverComesComplete)
{
    const uint32_t lWidth = 64;
    const uint32_t lHeight = 20;
    TnRtpPacketiser lPacketiser;
    ASSERT_TRUE(lPacketiser.Configure(400, 96, 7, 100));
    Provider lProvider(lWidth * lHeight);
    TnRtpAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    lAssembler.Configure(RawConfig(lWidth, lHeight, kMono8));
    uint64_t lNow = 1000;
    for (uint32_t lFrame = 0; lFrame < 5; ++lFrame)
    {
        const std::vector<uint8_t> lImage = Pattern(lWidth * lHeight, lFrame);
        std::vector<Datagram> lPackets =
            Packetise(lPacketiser, ImageBlock(lImage, lWidth, lHeight, kMono8, lFrame * 40000000ull));
        switch (lFrame)
        {
        case 0:
            lPackets.erase(lPackets.begin() + 2); // a middle packet
            break;
        case 1:
            lPackets.pop_back(); // the marker
            break;
        case 2:
            lPackets.erase(lPackets.begin()); // the first: nothing tells but the missing bytes
            break;
        default:
            break;
        }
        Feed(lAssembler, lPackets, lNow);
        lAssembler.Poll(lNow += 10000);
    }
    const std::vector<Finished> lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 5u);
    for (size_t lIndex = 0; lIndex < 3; ++lIndex)
    {
        EXPECT_EQ(lFinished[lIndex].mReport.mResult, static_cast<uint32_t>(TN_MISSING_PACKETS)) << lIndex;
    }
    EXPECT_EQ(lFinished[0].mReport.mLost, 1u);
    EXPECT_EQ(lFinished[3].mReport.mResult, static_cast<uint32_t>(TN_OK));
    EXPECT_EQ(lFinished[4].mReport.mResult, static_cast<uint32_t>(TN_OK));
}

namespace
{
// A raw-video packet (Mono8, source 7) of line segments {line, offset,
// length}, each segment's bytes its line's number.
Datagram RawPacket(uint16_t aSequence, uint32_t aTimestamp, bool aMarker,
                   std::initializer_list<std::array<uint16_t, 3>> aSegments)
{
    Datagram lPacket = {0x80, static_cast<uint8_t>(96 | (aMarker ? 0x80 : 0)), 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0};
    PutU16(lPacket.data() + 2, aSequence);
    PutU32(lPacket.data() + 4, aTimestamp);
    Datagram lData;
    size_t lLeft = aSegments.size();
    for (const std::array<uint16_t, 3> &lSegment : aSegments)
    {
        const uint16_t lOffset = static_cast<uint16_t>(lSegment[1] | (--lLeft != 0 ? 0x8000 : 0));
        lPacket.insert(lPacket.end(), {uint8_t(lSegment[2] >> 8), uint8_t(lSegment[2]), 0, uint8_t(lSegment[0]),
                                       uint8_t(lOffset >> 8), uint8_t(lOffset)});
        lData.insert(lData.end(), lSegment[2], static_cast<uint8_t>(lSegment[0]));
    }
    lPacket.insert(lPacket.end(), lData.begin(), lData.end());
    return lPacket;
}
} // namespace

TEST(Rtp, OverlappingSegmentsNeverMakeAnImageWhole)
{
    // 64 x 2 Mono8: 128 bytes, which line 0 sent twice adds up to too.
    Provider lProvider(128);
    TnRtpAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    lAssembler.Configure(RawConfig(64, 2, kMono8));
    uint64_t lNow = 1000;
    Feed(lAssembler,
         {// The first frame heard (its start unknown): line 0 twice.
          RawPacket(100, 1000, false, {{0, 0, 64}}), RawPacket(101, 1000, true, {{0, 0, 64}}),
          // Line 0, then half of it again and half of line 1.
          RawPacket(102, 2000, false, {{0, 0, 64}}), RawPacket(103, 2000, true, {{0, 32, 32}, {1, 0, 32}}),
          // Overlapping, yet every pixel came.
          RawPacket(104, 3000, false, {{0, 0, 64}}), RawPacket(105, 3000, true, {{0, 32, 32}, {1, 0, 64}})},
         lNow);
    lAssembler.Poll(lNow + 100000);
    std::vector<Finished> lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 3u);
    std::sort(lFinished.begin(), lFinished.end(), [](const Finished &aFirst, const Finished &aSecond) {
        return aFirst.mReport.mTimestamp < aSecond.mReport.mTimestamp;
    });
    EXPECT_EQ(lFinished[0].mReport.mResult, static_cast<uint32_t>(TN_MISSING_PACKETS));
    EXPECT_EQ(lFinished[1].mReport.mResult, static_cast<uint32_t>(TN_INVALID_DATA_FORMAT));
    EXPECT_EQ(lFinished[2].mReport.mResult, static_cast<uint32_t>(TN_OK));
    EXPECT_EQ(std::count(lFinished[2].mData.begin(), lFinished[2].mData.begin() + 64, 0), 64);
    EXPECT_EQ(std::count(lFinished[2].mData.begin() + 64, lFinished[2].mData.end(), 1), 64);
}

TEST(Rtp, AFrameWithoutItsMarkerEndsAtTheNextFramesPacket)
{
    const uint32_t lWidth = 64;
    const uint32_t lHeight = 20;
    TnRtpPacketiser lPacketiser;
    ASSERT_TRUE(lPacketiser.Configure(400, 96, 7, 100));
    std::vector<std::vector<Datagram>> lFrames;
    for (uint32_t lFrame = 0; lFrame < 4; ++lFrame)
    {
        lFrames.push_back(Packetise(lPacketiser, ImageBlock(Pattern(lWidth * lHeight, lFrame), lWidth, lHeight,
                                                            kMono8, lFrame * 40000000ull)));
    }
    lFrames[0].pop_back();
    Provider lProvider(lWidth * lHeight);
    TnRtpAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    TnRtpAssemblerConfig lConfig = RawConfig(lWidth, lHeight, kMono8);
    lConfig.mReorderToleranceUs = 2000;
    lConfig.mFrameTimeoutUs = 1000000;
    lAssembler.Configure(lConfig);
    // The next frame comes whole and completes: nothing else is in flight
    // but the frame whose marker was lost.
    uint64_t lNow = 1000;
    Feed(lAssembler, lFrames[0], lNow);
    Feed(lAssembler, lFrames[1], lNow);
    const uint64_t lEnded = lNow - lFrames[1].size();
    EXPECT_LE(lAssembler.GetNextDeadline(), lEnded + 2000);
    lAssembler.Poll(lNow + 2000);
    std::vector<Finished> lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 2u);
    EXPECT_EQ(lFinished[0].mReport.mResult, static_cast<uint32_t>(TN_OK));
    EXPECT_EQ(lFinished[1].mReport.mResult, static_cast<uint32_t>(TN_MISSING_PACKETS));
    EXPECT_EQ(lFinished[1].mReport.mLost, 1u);
    EXPECT_EQ(lFinished[1].mReport.mLastSequence, lFinished[0].mReport.mFirstSequence - 1);
    EXPECT_EQ(lAssembler.GetStatistics().mPacketsLost, 1u);
    EXPECT_EQ(lAssembler.GetFramesInFlight(), 0u);

    // A marker that comes late, after the next frame's first packet but
    // within the reorder tolerance, still completes its frame.
    const Datagram lLate = lFrames[2].back();
    lFrames[2].pop_back();
    Feed(lAssembler, lFrames[2], lNow);
    Feed(lAssembler, std::vector<Datagram>(lFrames[3].begin(), lFrames[3].begin() + 1), lNow);
    lAssembler.Poll(lNow + 1000);
    EXPECT_TRUE(lProvider.Take().empty());
    Feed(lAssembler, std::vector<Datagram>(1, lLate), lNow);
    Feed(lAssembler, std::vector<Datagram>(lFrames[3].begin() + 1, lFrames[3].end()), lNow);
    lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 2u);
    EXPECT_EQ(lFinished[0].mReport.mResult, static_cast<uint32_t>(TN_OK));
    EXPECT_EQ(lFinished[0].mReport.mLost, 0u);
    EXPECT_EQ(lFinished[1].mReport.mResult, static_cast<uint32_t>(TN_OK));
    EXPECT_EQ(lAssembler.GetStatistics().mPacketsLost, 1u);
}

TEST(Rtp, RawVideoRefusesWhatDoesNotFit)
{
    TnRtpPacketiser lPacketiser;
    ASSERT_TRUE(lPacketiser.Configure(600, 96, 7, 0));
    // A sender's image smaller than expected: every packet came, the image is
    // not whole.
    Provider lProvider(64 * 40);
    TnRtpAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    lAssembler.Configure(RawConfig(64, 40, kMono8));
    uint64_t lNow = 1;
    const std::vector<uint8_t> lSmall = Pattern(64 * 30, 1);
    for (uint64_t lFrame = 0; lFrame < 2; ++lFrame)
    {
        Feed(lAssembler, Packetise(lPacketiser, ImageBlock(lSmall, 64, 30, kMono8, lFrame * 1000000)), lNow);
    }
    // A larger one: lines beyond the image.
    const std::vector<uint8_t> lLarge = Pattern(64 * 50, 2);
    Feed(lAssembler, Packetise(lPacketiser, ImageBlock(lLarge, 64, 50, kMono8, 9000000)), lNow);
    lAssembler.Poll(lNow + 100000);
    std::vector<Finished> lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 3u);
    std::sort(lFinished.begin(), lFinished.end(), [](const Finished &aFirst, const Finished &aSecond) {
        return aFirst.mReport.mFirstSequence < aSecond.mReport.mFirstSequence;
    });
    EXPECT_EQ(lFinished[0].mReport.mResult, static_cast<uint32_t>(TN_MISSING_PACKETS)); // its start unknown
    EXPECT_EQ(lFinished[1].mReport.mResult, static_cast<uint32_t>(TN_INVALID_DATA_FORMAT));
    EXPECT_EQ(lFinished[2].mReport.mResult, static_cast<uint32_t>(TN_INVALID_DATA_FORMAT));
    // Memory too small for the image: the frame says so, and nothing is written.
    Provider lTight(64 * 40 - 1);
    TnRtpAssembler lTooSmall;
    lTooSmall.SetProvider(&lTight);
    lTooSmall.Configure(RawConfig(64, 40, kMono8));
    const std::vector<uint8_t> lImage = Pattern(64 * 40, 3);
    Feed(lTooSmall, Packetise(lPacketiser, ImageBlock(lImage, 64, 40, kMono8, 1)), lNow);
    const std::vector<Finished> lSmallFinished = lTight.Take();
    ASSERT_EQ(lSmallFinished.size(), 1u);
    EXPECT_EQ(lSmallFinished[0].mReport.mResult, static_cast<uint32_t>(TN_BUFFER_TOO_SMALL));
    EXPECT_EQ(lSmallFinished[0].mReport.mRequiredSize, 64u * 40u);
}

TEST(Rtp, ForeignSendersAndStalePacketsAreIgnored)
{
    TnRtpPacketiser lFirst;
    TnRtpPacketiser lSecond;
    ASSERT_TRUE(lFirst.Configure(500, 96, 1, 0));
    ASSERT_TRUE(lSecond.Configure(500, 96, 2, 0));
    Provider lProvider(32 * 32);
    TnRtpAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    lAssembler.Configure(RawConfig(32, 32, kMono8));
    const std::vector<uint8_t> lImage = Pattern(32 * 32, 4);
    const std::vector<uint8_t> lOther = Pattern(32 * 32, 5);
    uint64_t lNow = 1;
    std::vector<Datagram> lMine = Packetise(lFirst, ImageBlock(lImage, 32, 32, kMono8, 1000000));
    const std::vector<Datagram> lTheirs = Packetise(lSecond, ImageBlock(lOther, 32, 32, kMono8, 1000000));
    // Interleaved: the second sender's packets of the same timestamp change nothing.
    for (size_t lIndex = 0; lIndex < lMine.size(); ++lIndex)
    {
        lAssembler.OnDatagram(lMine[lIndex].data(), lMine[lIndex].size(), lNow++);
        lAssembler.OnDatagram(lTheirs[lIndex].data(), lTheirs[lIndex].size(), lNow++);
    }
    // A late copy of a packet of the finished frame.
    lAssembler.OnDatagram(lMine[1].data(), lMine[1].size(), lNow++);
    std::vector<Finished> lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 1u);
    EXPECT_EQ(lFinished[0].mData, lImage);
    EXPECT_EQ(lAssembler.GetStatistics().mPacketsIgnored, lTheirs.size() + 1);
    // The first sender silent: the second one is taken.
    lNow += 1000000;
    Feed(lAssembler, Packetise(lSecond, ImageBlock(lOther, 32, 32, kMono8, 2000000)), lNow);
    Feed(lAssembler, Packetise(lSecond, ImageBlock(lOther, 32, 32, kMono8, 3000000)), lNow);
    lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 2u);
    EXPECT_EQ(lFinished[1].mReport.mResult, static_cast<uint32_t>(TN_OK));
    EXPECT_EQ(lFinished[1].mData, lOther);
    EXPECT_EQ(lAssembler.GetStatistics().mSourceChanges, 1u);
}

TEST(Rtp, H264AccessUnitsComeBackInAnnexB)
{
    // SPS, PPS, a large IDR slice (fragmented) and a small one; 3-byte and
    // 4-byte start codes, with zero bytes trailing a unit.
    const std::vector<uint8_t> lSps = {0x67, 0x42, 0xC0, 0x1E, 0xDA};
    const std::vector<uint8_t> lPps = {0x68, 0xCE, 0x3C, 0x80};
    std::vector<uint8_t> lIdr = Pattern(2900, 9);
    lIdr[0] = 0x65;
    lIdr[1] = 0x88; // first_mb_in_slice 0
    for (size_t lIndex = 2; lIndex + 2 < lIdr.size(); ++lIndex)
    {
        if (lIdr[lIndex] == 0 && lIdr[lIndex + 1] == 0)
        {
            lIdr[lIndex + 1] = 1; // no start code inside a unit
        }
    }
    lIdr.back() = 0x80;
    const std::vector<uint8_t> lSlice = {0x41, 0x9A, 0x02, 0x03};
    std::vector<uint8_t> lUnit;
    for (const std::vector<uint8_t> *lNal : {&lSps, &lPps, static_cast<const std::vector<uint8_t> *>(&lIdr)})
    {
        lUnit.insert(lUnit.end(), {0, 0, 1});
        lUnit.insert(lUnit.end(), lNal->begin(), lNal->end());
        lUnit.push_back(0); // trailing zero
    }
    std::vector<uint8_t> lExpected;
    for (const std::vector<uint8_t> *lNal : {&lSps, &lPps, static_cast<const std::vector<uint8_t> *>(&lIdr)})
    {
        lExpected.insert(lExpected.end(), {0, 0, 0, 1});
        lExpected.insert(lExpected.end(), lNal->begin(), lNal->end());
    }
    TnGvspBlock lBlock;
    lBlock.mLeader.mPayloadType = kGvspPayloadH264;
    lBlock.mLeader.mTimestamp = 1000000;
    lBlock.mSegments[0].mData = lUnit.data();
    lBlock.mSegments[0].mSize = lUnit.size();
    TnRtpPacketiser lPacketiser;
    ASSERT_TRUE(lPacketiser.Configure(1028, 96, 77, 500));
    std::vector<Datagram> lPackets = Packetise(lPacketiser, lBlock);
    ASSERT_EQ(lPackets.size(), 2u + 3u); // SPS, PPS, three fragments
    EXPECT_EQ(lPackets[2][12] & 0x1F, kH264FuA);
    EXPECT_EQ(lPackets[2][13], 0x80 | 5); // start, type 5
    EXPECT_EQ(lPackets[4][13], 0x40 | 5); // end
    EXPECT_EQ(lPackets[4][1] & 0x80, 0x80); // the marker on the last

    TnRtpAssemblerConfig lConfig;
    lConfig.mPayload = TnRtpPayload::H264;
    Provider lProvider(8192);
    TnRtpAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    lAssembler.Configure(lConfig);
    uint64_t lNow = 1;
    Feed(lAssembler, lPackets, lNow); // the first: its first unit begins an access unit
    // A STAP-A of the small slice, as another sender might aggregate.
    Datagram lStap(12);
    EncodeRtpHeader(lStap.data(), 96, true, 505, 99999, 77);
    lStap.push_back(0x18);
    lStap.insert(lStap.end(), {0, static_cast<uint8_t>(lSlice.size())});
    lStap.insert(lStap.end(), lSlice.begin(), lSlice.end());
    lAssembler.OnDatagram(lStap.data(), lStap.size(), lNow++);
    // The next unit with its middle fragment lost, then one out of order.
    lBlock.mLeader.mTimestamp = 2000000;
    lPackets = Packetise(lPacketiser, lBlock);
    for (size_t lIndex = 0; lIndex < lPackets.size(); ++lIndex)
    {
        PutU16(lPackets[lIndex].data() + 2, static_cast<uint16_t>(506 + lIndex));
    }
    std::vector<Datagram> lLossy = lPackets;
    lLossy.erase(lLossy.begin() + 3);
    Feed(lAssembler, lLossy, lNow);
    lBlock.mLeader.mTimestamp = 3000000;
    lPackets = Packetise(lPacketiser, lBlock);
    for (size_t lIndex = 0; lIndex < lPackets.size(); ++lIndex)
    {
        PutU16(lPackets[lIndex].data() + 2, static_cast<uint16_t>(511 + lIndex));
    }
    std::swap(lPackets[1], lPackets[2]);
    Feed(lAssembler, lPackets, lNow);
    lAssembler.Poll(lNow + 100000);
    const std::vector<Finished> lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 4u);
    EXPECT_EQ(lFinished[0].mReport.mResult, static_cast<uint32_t>(TN_OK));
    EXPECT_EQ(lFinished[0].mData, lExpected);
    EXPECT_EQ(lFinished[1].mReport.mResult, static_cast<uint32_t>(TN_OK));
    EXPECT_EQ(lFinished[1].mData, std::vector<uint8_t>({0, 0, 0, 1, 0x41, 0x9A, 0x02, 0x03}));
    EXPECT_EQ(lFinished[2].mReport.mResult, static_cast<uint32_t>(TN_MISSING_PACKETS));
    EXPECT_EQ(lFinished[3].mReport.mResult, static_cast<uint32_t>(TN_MISSING_PACKETS));
}

TEST(Rtp, SessionDescription)
{
    TnRtpSessionDescription lDescription;
    lDescription.mName = "Camera 1";
    lDescription.mOrigin = 0x7F000001;
    lDescription.mGroup = 0xEFFF0001;
    lDescription.mPort = 5004;
    RawSamplingOf(kRgb8, lDescription.mSampling);
    lDescription.mWidth = 640;
    lDescription.mHeight = 480;
    lDescription.mTcpAddress = 0x7F000001;
    const std::string lSdp = BuildSdp(lDescription);
    EXPECT_NE(lSdp.find("c=IN IP4 239.255.0.1/1\r\n"), std::string::npos);
    EXPECT_NE(lSdp.find("m=video 5004 RTP/AVP 96\r\na=rtpmap:96 raw/90000\r\n"), std::string::npos);
    EXPECT_NE(lSdp.find("sampling=RGB; width=640; height=480; depth=8"), std::string::npos);
    EXPECT_NE(lSdp.find("m=video 5004 TCP/RTP/AVP 96\r\nc=IN IP4 127.0.0.1\r\na=setup:passive"), std::string::npos);
    const std::vector<uint8_t> lPacket = BuildSapPacket(0x7F000001, 0x4242, lSdp, true);
    EXPECT_EQ(lPacket[0], 0x24);
    EXPECT_EQ(GetU16(lPacket.data() + 2), 0x4242);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(lPacket.data()) + 8), "application/sdp");
}

namespace
{
// Sends frames with the stream sender in RTP mode; returns them.
std::vector<std::vector<uint8_t>> SendFrames(TnGvspSender &aSender, uint32_t aWidth, uint32_t aHeight, size_t aCount)
{
    std::vector<std::vector<uint8_t>> lFrames;
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        lFrames.push_back(Pattern(aWidth * aHeight * 3, static_cast<uint32_t>(lIndex + 1)));
    }
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        const TnGvspBlock lBlock = ImageBlock(lFrames[lIndex], aWidth, aHeight, kRgb8, (lIndex + 1) * 33000000ull);
        while (aSender.Queue(lBlock, nullptr).GetCode() == TN_BUSY)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        aSender.WaitIdle(2000);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return lFrames;
}

bool WaitForFrames(Provider &aProvider, size_t aCount, std::vector<Finished> &aFinished)
{
    for (int lTry = 0; lTry < 300 && aFinished.size() < aCount; ++lTry)
    {
        std::vector<Finished> lMore = aProvider.Take();
        aFinished.insert(aFinished.end(), lMore.begin(), lMore.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return aFinished.size() >= aCount;
}
} // namespace

TEST(RtpStream, SenderToReceiverOverUdpAndTcp)
{
    if (!tn::test::UsePrivateNetwork())
    {
        GTEST_SKIP() << "no private network";
    }
    const uint32_t lWidth = 320;
    const uint32_t lHeight = 240;
    TnRtpReceiverConfig lConfig;
    lConfig.mLocalAddress = 0x7F000001;
    lConfig.mSocketBufferSize = 8 << 20;
    lConfig.mAssembler = RawConfig(lWidth, lHeight, kRgb8);
    Provider lProvider(lWidth * lHeight * 3, 6);
    TnRtpReceiver lReceiver;
    ASSERT_TRUE(lReceiver.Open(lConfig, &lProvider).IsOK());
    ASSERT_TRUE(lReceiver.Start().IsOK());
    TnRtpTcpServer lServer;
    ASSERT_TRUE(lServer.Start(0x7F000001, 0).IsOK());
    TnGvspSenderConfig lSenderConfig;
    lSenderConfig.mRtp = true;
    lSenderConfig.mRtpSsrc = 0x5EED;
    lSenderConfig.mPacketSize = 1428;
    TnGvspSender lSender;
    ASSERT_TRUE(lSender.Open(0x7F000001, lReceiver.GetLocalPort(), lSenderConfig, nullptr).IsOK());
    lSender.SetPacketTap(&lServer);

    std::vector<std::vector<uint8_t>> lFrames = SendFrames(lSender, lWidth, lHeight, 6);
    std::vector<Finished> lFinished;
    ASSERT_TRUE(WaitForFrames(lProvider, 6, lFinished));
    for (size_t lIndex = 0; lIndex < lFinished.size(); ++lIndex)
    {
        // The first frame's start is known by its bytes, the others' by the marker before.
        EXPECT_EQ(lFinished[lIndex].mReport.mResult, static_cast<uint32_t>(TN_OK)) << lIndex;
        EXPECT_EQ(lFinished[lIndex].mData, lFrames[lIndex]) << lIndex;
    }
    const TnRtpReceiverStatistics lStatistics = lReceiver.GetStatistics();
    // After the first packets the kernel writes the lines in place.
    EXPECT_GT(lStatistics.mAssembly.mPacketsInPlace, lStatistics.mAssembly.mPackets / 2);
    lReceiver.Close();

    // The same stream over TCP, through the tap.
    TnRtpReceiverConfig lTcp;
    lTcp.mServerAddress = 0x7F000001;
    lTcp.mServerPort = lServer.GetPort();
    lTcp.mAssembler = RawConfig(lWidth, lHeight, kRgb8);
    TnRtpReceiver lTcpReceiver;
    ASSERT_TRUE(lTcpReceiver.Open(lTcp, &lProvider).IsOK());
    ASSERT_TRUE(lTcpReceiver.Start().IsOK());
    for (int lTry = 0; lTry < 200 && lServer.GetClientCount() == 0; ++lTry)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    lFrames = SendFrames(lSender, lWidth, lHeight, 3);
    lFinished.clear();
    ASSERT_TRUE(WaitForFrames(lProvider, 3, lFinished));
    for (size_t lIndex = 0; lIndex < lFinished.size(); ++lIndex)
    {
        EXPECT_EQ(lFinished[lIndex].mReport.mResult, static_cast<uint32_t>(TN_OK)) << lIndex;
        EXPECT_EQ(lFinished[lIndex].mData, lFrames[lIndex]) << lIndex;
    }
    lSender.Close();
    lServer.Stop();
    lTcpReceiver.Close();
}


// Datagrams that are not the ones predicted land, as the kernel scatters
// them, where the predictions pointed: never over lines a frame already
// holds. Here the sender sends line 2 before line 1, so that after line 1
// the next packet is predicted for line 2, which came already; the marker
// packet (line 3) then comes there.
TEST(RtpScatter, DatagramsOffTheirPredictionLeaveTheLinesTakenAsTheyAre)
{
    const uint16_t lWidth = 64;
    Provider lProvider(lWidth * 4, 1);
    TnRtpAssembler lAssembler;
    lAssembler.SetProvider(&lProvider);
    lAssembler.Configure(RawConfig(lWidth, 4, kMono8));
    TnRtpScatterBatch lBatch;
    lBatch.Configure(4, 2048);
    const uint16_t lLines[] = {0, 2, 1, 3};
    uint64_t lNow = 1;
    for (uint16_t lIndex = 0; lIndex < 4; ++lIndex)
    {
        const uint16_t lLine = lLines[lIndex];
        lBatch.Prepare(lAssembler);
        Scatter(lBatch, 0, LinePacket(static_cast<uint16_t>(4 + lIndex), 1000, lLine == 3, lLine, lWidth,
                                      static_cast<uint8_t>(3 + lLine)));
        lBatch.Complete(lAssembler, 1, lNow++);
    }
    std::vector<Finished> lFinished = lProvider.Take();
    ASSERT_EQ(lFinished.size(), 1u);
    EXPECT_EQ(lFinished[0].mReport.mResult, static_cast<uint32_t>(TN_OK));
    std::string lRows;
    for (uint32_t lLine = 0; lLine < 4; ++lLine)
    {
        lRows += std::to_string(lFinished[0].mData[lLine * lWidth]) + " ";
        const std::vector<uint8_t> lExpected(lWidth, static_cast<uint8_t>(3 + lLine));
        EXPECT_TRUE(std::equal(lExpected.begin(), lExpected.end(), lFinished[0].mData.begin() + lLine * lWidth))
            << "line " << lLine;
    }
    EXPECT_EQ(lRows, "3 4 5 6 ");
}
