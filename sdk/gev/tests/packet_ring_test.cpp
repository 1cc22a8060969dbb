// The packet ring's pure part with crafted memory: IPv4 and UDP headers
// checked before they are trusted, blocks walked as the kernel lays them out,
// and a whole frame taken from ring blocks into the assembler.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <string.h>

#include <vector>

#include "TnGevBytes.h"
#include "TnGvspAssembler.h"
#include "TnGvspPacketiser.h"
#include "TnPacketRing.h"
#include "TnResult.h"
#include "TnTestStreams.h"

using namespace tn::gev;

namespace
{
constexpr uint32_t kSource = 0x7F000002;
constexpr uint32_t kDestination = 0x7F000001;
constexpr uint16_t kPort = 50300;

// A checksum goes into the packet as summed: in the memory's own order.
void PutChecksum(uint8_t *aField, uint64_t aSum)
{
    const uint16_t lChecksum = static_cast<uint16_t>(~FoldInternetSum(aSum));
    memcpy(aField, &lChecksum, sizeof(lChecksum));
}

// An IPv4 packet with a UDP datagram of aPayload to aPort, checksums right
// (the UDP one only with aUdpChecksum), aOptions bytes of IP options.
std::vector<uint8_t> UdpPacket(const std::vector<uint8_t> &aPayload, uint16_t aPort = kPort,
                               bool aUdpChecksum = true, size_t aOptions = 0)
{
    const size_t lHeader = 20 + aOptions;
    std::vector<uint8_t> lPacket(lHeader + 8 + aPayload.size());
    lPacket[0] = static_cast<uint8_t>(0x40 | (lHeader / 4));
    PutU16(&lPacket[2], static_cast<uint16_t>(lPacket.size()));
    PutU16(&lPacket[6], 0x4000); // don't fragment
    lPacket[8] = 64;
    lPacket[9] = 17;
    PutU32(&lPacket[12], kSource);
    PutU32(&lPacket[16], kDestination);
    PutChecksum(&lPacket[10], InternetSum(lPacket.data(), lHeader));
    uint8_t *lUdp = &lPacket[lHeader];
    PutU16(lUdp, 40000);
    PutU16(lUdp + 2, aPort);
    PutU16(lUdp + 4, static_cast<uint16_t>(8 + aPayload.size()));
    memcpy(lUdp + 8, aPayload.data(), aPayload.size());
    if (aUdpChecksum)
    {
        uint64_t lSum = InternetSum(&lPacket[12], 8);
        lSum += htons(17);
        lSum += htons(static_cast<uint16_t>(8 + aPayload.size()));
        PutChecksum(lUdp + 6, InternetSum(lUdp, 8 + aPayload.size(), lSum));
        if (GetU16(lUdp + 6) == 0)
        {
            PutU16(lUdp + 6, 0xFFFF); // 0 would mean none
        }
    }
    return lPacket;
}

void FixIpChecksum(std::vector<uint8_t> &aPacket)
{
    const size_t lHeader = size_t(aPacket[0] & 0x0F) * 4;
    PutU16(&aPacket[10], 0);
    PutChecksum(&aPacket[10], InternetSum(aPacket.data(), lHeader));
}

TnRingVerdict Parse(const std::vector<uint8_t> &aPacket, size_t &aPayloadSize, uint32_t aStatus = 0,
                    uint8_t aType = PACKET_HOST, size_t aCaptured = SIZE_MAX, const TnRingFilter &aFilter = [] {
                        TnRingFilter lFilter;
                        lFilter.mPort = kPort;
                        return lFilter;
                    }())
{
    TnRingPacket lPacket;
    lPacket.mData = aPacket.data();
    lPacket.mLength = static_cast<uint32_t>(aPacket.size());
    lPacket.mCaptured = static_cast<uint32_t>(std::min(aCaptured, aPacket.size()));
    lPacket.mStatus = aStatus;
    lPacket.mPacketType = aType;
    const uint8_t *lPayload = nullptr;
    const TnRingVerdict lVerdict = ParseRingDatagram(lPacket, aFilter, lPayload, aPayloadSize);
    EXPECT_EQ(lPayload != nullptr, lVerdict == TnRingVerdict::kTaken);
    if (lPayload != nullptr)
    {
        EXPECT_EQ(lPayload, aPacket.data() + (aPacket[0] & 0x0F) * 4 + 8);
    }
    return lVerdict;
}

// Ring blocks laid out as the kernel fills them (TPACKET_V3, SOCK_DGRAM):
// the block header, then each packet's header, its address and its bytes.
class RingBlock
{
public:
    explicit RingBlock(size_t aSize) : mBytes(aSize, 0)
    {
        PutLE(16, 48); // the first packet after the block header, aligned
        mNext = 48;
    }

    void Add(const std::vector<uint8_t> &aPacket, uint8_t aType = PACKET_HOST,
             uint32_t aStatus = TP_STATUS_CSUMNOTREADY)
    {
        const size_t lNet = 48 + 20 + 12; // header, address, aligned to 16
        const size_t lLength = (lNet + aPacket.size() + 15) / 16 * 16;
        ASSERT_LE(mNext + lLength, mBytes.size());
        if (mLast != 0)
        {
            PutLE(mLast, static_cast<uint32_t>(mNext - mLast));
        }
        PutLE(mNext + 4, 1000); // seconds
        PutLE(mNext + 12, static_cast<uint32_t>(aPacket.size()));
        PutLE(mNext + 16, static_cast<uint32_t>(aPacket.size()));
        PutLE(mNext + 20, aStatus);
        mBytes[mNext + 24] = static_cast<uint8_t>(lNet);
        mBytes[mNext + 26] = static_cast<uint8_t>(lNet);
        mBytes[mNext + 48 + 10] = aType;
        memcpy(&mBytes[mNext + lNet], aPacket.data(), aPacket.size());
        mLast = mNext;
        mNext += lLength;
        PutLE(12, ++mCount);
    }

    void PutLE(size_t aOffset, uint32_t aValue)
    {
        memcpy(&mBytes[aOffset], &aValue, sizeof(aValue));
    }

    std::vector<uint8_t> mBytes;
    size_t mNext = 0;
    size_t mLast = 0;
    uint32_t mCount = 0;
};

class Keeper : public TnGvspBlockProvider
{
public:
    bool AcquireBlock(TnGvspBlockTarget &aTarget) override
    {
        mMemory.assign(20000, 0xEE);
        aTarget.mData = mMemory.data();
        aTarget.mSize = mMemory.size();
        return true;
    }
    void FinishBlock(const TnGvspBlockTarget &, const TnGvspBlockReport &aReport) override
    {
        mResults.push_back(aReport.mResult);
        mReceived = aReport.mReceivedSize;
    }
    void ReturnBlock(const TnGvspBlockTarget &) override {}

    std::vector<uint8_t> mMemory;
    std::vector<uint32_t> mResults;
    uint64_t mReceived = 0;
};
} // namespace

TEST(PacketRing, HeadersAreCheckedBeforeTheyAreTrusted)
{
    const std::vector<uint8_t> lPayload = {1, 2, 3, 4, 5, 6, 7};
    size_t lSize = 0;
    // Whole and right: with the UDP checksum checked here, with none, and
    // with one the kernel vouches for; IP options move the UDP header.
    EXPECT_EQ(Parse(UdpPacket(lPayload), lSize), TnRingVerdict::kTaken);
    EXPECT_EQ(lSize, lPayload.size());
    EXPECT_EQ(Parse(UdpPacket(lPayload, kPort, false), lSize), TnRingVerdict::kTaken);
    EXPECT_EQ(Parse(UdpPacket(lPayload, kPort, true, 8), lSize), TnRingVerdict::kTaken);
    std::vector<uint8_t> lWrongSum = UdpPacket(lPayload);
    lWrongSum.back() ^= 0x10;
    EXPECT_EQ(Parse(lWrongSum, lSize), TnRingVerdict::kMalformed);
    EXPECT_EQ(Parse(lWrongSum, lSize, TP_STATUS_CSUMNOTREADY), TnRingVerdict::kTaken);
    EXPECT_EQ(Parse(lWrongSum, lSize, TP_STATUS_CSUM_VALID), TnRingVerdict::kTaken);
    // An odd length's last byte counts in the checksum.
    const std::vector<uint8_t> lOdd(1471, 0x5A);
    EXPECT_EQ(Parse(UdpPacket(lOdd), lSize), TnRingVerdict::kTaken);
    EXPECT_EQ(lSize, 1471u);

    // A header checksum that does not add up, or lengths that contradict
    // the header or the packet.
    std::vector<uint8_t> lBad = UdpPacket(lPayload);
    lBad[8] ^= 1;
    EXPECT_EQ(Parse(lBad, lSize), TnRingVerdict::kMalformed);
    lBad = UdpPacket(lPayload);
    lBad[0] = 0x44; // a header of 16 bytes
    FixIpChecksum(lBad);
    EXPECT_EQ(Parse(lBad, lSize), TnRingVerdict::kMalformed);
    lBad = UdpPacket(lPayload);
    PutU16(&lBad[2], static_cast<uint16_t>(lBad.size() + 1)); // longer than the packet
    FixIpChecksum(lBad);
    EXPECT_EQ(Parse(lBad, lSize), TnRingVerdict::kMalformed);
    lBad = UdpPacket(lPayload, kPort, false);
    PutU16(&lBad[24], static_cast<uint16_t>(8 + lPayload.size() + 1)); // UDP longer than the IP payload
    EXPECT_EQ(Parse(lBad, lSize), TnRingVerdict::kMalformed);
    PutU16(&lBad[24], 7); // shorter than its header
    EXPECT_EQ(Parse(lBad, lSize), TnRingVerdict::kMalformed);
    EXPECT_EQ(Parse(UdpPacket(lPayload), lSize, 0, PACKET_HOST, 10), TnRingVerdict::kTruncated);
    EXPECT_EQ(Parse(UdpPacket(lPayload), lSize, 0, PACKET_HOST, 30), TnRingVerdict::kTruncated);

    // A UDP length shorter than the IP payload (padding after it) ends the
    // datagram, as the kernel has it.
    std::vector<uint8_t> lPadded = UdpPacket(lPayload, kPort, false);
    lPadded.push_back(0);
    lPadded.push_back(0);
    PutU16(&lPadded[2], static_cast<uint16_t>(lPadded.size()));
    FixIpChecksum(lPadded);
    EXPECT_EQ(Parse(lPadded, lSize), TnRingVerdict::kTaken);
    EXPECT_EQ(lSize, lPayload.size());

    // Fragments, and packets of others: another port, address or protocol,
    // what this host sends, another host's, one too long for the ring's
    // share of datagrams.
    for (uint16_t lFragment : {0x2000, 0x0001, 0x2010})
    {
        std::vector<uint8_t> lPart = UdpPacket(lPayload);
        PutU16(&lPart[6], lFragment);
        FixIpChecksum(lPart);
        EXPECT_EQ(Parse(lPart, lSize), TnRingVerdict::kFragment) << lFragment;
    }
    EXPECT_EQ(Parse(UdpPacket(lPayload, kPort + 1), lSize), TnRingVerdict::kForeign);
    std::vector<uint8_t> lTcp = UdpPacket(lPayload);
    lTcp[9] = 6;
    FixIpChecksum(lTcp);
    EXPECT_EQ(Parse(lTcp, lSize), TnRingVerdict::kForeign);
    EXPECT_EQ(Parse(UdpPacket(lPayload), lSize, 0, PACKET_OUTGOING), TnRingVerdict::kForeign);
    EXPECT_EQ(Parse(UdpPacket(lPayload), lSize, 0, PACKET_OTHERHOST), TnRingVerdict::kForeign);
    TnRingFilter lFilter;
    lFilter.mPort = kPort;
    lFilter.mAddress = 0xEFFF0001;
    EXPECT_EQ(Parse(UdpPacket(lPayload), lSize, 0, PACKET_HOST, SIZE_MAX, lFilter), TnRingVerdict::kForeign);
    lFilter.mAddress = kDestination;
    EXPECT_EQ(Parse(UdpPacket(lPayload), lSize, 0, PACKET_HOST, SIZE_MAX, lFilter), TnRingVerdict::kTaken);
    lFilter.mLargestDatagram = 8 + lPayload.size() - 1;
    EXPECT_EQ(Parse(UdpPacket(lPayload), lSize, 0, PACKET_HOST, SIZE_MAX, lFilter), TnRingVerdict::kForeign);
    std::vector<uint8_t> lSix = UdpPacket(lPayload);
    lSix[0] = 0x65;
    EXPECT_EQ(Parse(lSix, lSize), TnRingVerdict::kForeign);
}

TEST(PacketRing, BlocksAreWalkedWithinTheirBounds)
{
    RingBlock lBlock(4096);
    lBlock.Add(UdpPacket({1, 2, 3}), PACKET_HOST, TP_STATUS_CSUMNOTREADY);
    lBlock.Add(UdpPacket({4, 5}), PACKET_MULTICAST, 0);
    lBlock.Add(UdpPacket(std::vector<uint8_t>(100, 9)), PACKET_OUTGOING, 0);
    std::vector<TnRingPacket> lSeen;
    const auto lCollect = [&](const TnRingPacket &aPacket) { lSeen.push_back(aPacket); };
    EXPECT_EQ(ForEachRingPacket(lBlock.mBytes.data(), lBlock.mBytes.size(), lCollect), 3u);
    ASSERT_EQ(lSeen.size(), 3u);
    EXPECT_EQ(lSeen[0].mCaptured, 31u);
    EXPECT_EQ(lSeen[0].mStatus, uint32_t(TP_STATUS_CSUMNOTREADY));
    EXPECT_EQ(lSeen[1].mPacketType, PACKET_MULTICAST);
    EXPECT_EQ(lSeen[2].mLength, 128u);
    EXPECT_EQ(lSeen[0].mTimeNs, 1000000000000ull);
    EXPECT_EQ(lSeen[1].mData[28], 4);
    // A visit that answers false ends the walk there.
    size_t lVisits = 0;
    EXPECT_EQ(ForEachRingPacket(lBlock.mBytes.data(), lBlock.mBytes.size(),
                                [&](const TnRingPacket &) { return ++lVisits < 2; }),
              2u);
    EXPECT_EQ(lVisits, 2u);

    // A count beyond the packets, a next offset or a packet's length that
    // leads out of the block: the walk ends there.
    lSeen.clear();
    lBlock.PutLE(12, 50);
    EXPECT_EQ(ForEachRingPacket(lBlock.mBytes.data(), lBlock.mBytes.size(), lCollect), 3u);
    lSeen.clear();
    lBlock.PutLE(lBlock.mLast, 100000);
    EXPECT_EQ(ForEachRingPacket(lBlock.mBytes.data(), lBlock.mBytes.size(), lCollect), 3u);
    lSeen.clear();
    lBlock.PutLE(lBlock.mLast + 12, 5000);
    EXPECT_EQ(ForEachRingPacket(lBlock.mBytes.data(), lBlock.mBytes.size(), lCollect), 2u);
    lBlock.PutLE(16, 4090);
    EXPECT_EQ(ForEachRingPacket(lBlock.mBytes.data(), lBlock.mBytes.size(), lCollect), 0u);
    EXPECT_EQ(ForEachRingPacket(lBlock.mBytes.data(), 10, lCollect), 0u);
}

TEST(PacketRing, AFrameFromRingBlocksArrivesWholeAmongForeignPackets)
{
    std::vector<uint8_t> lImage(12000);
    for (size_t lIndex = 0; lIndex < lImage.size(); ++lIndex)
    {
        lImage[lIndex] = static_cast<uint8_t>(lIndex * 13 + (lIndex >> 8));
    }
    TnGvspBlock lFrame;
    lFrame.mLeader.mPixelFormat = 0x01080001;
    lFrame.mLeader.mSizeX = 120;
    lFrame.mLeader.mSizeY = 100;
    lFrame.mSegments[0] = {lImage.data(), lImage.size()};
    const std::vector<std::vector<uint8_t>> lDatagrams = tn::test::BlockDatagrams(lFrame, 7, 1500);
    ASSERT_FALSE(lDatagrams.empty());
    // Two blocks; beside the stream's packets, another port's, a copy of one
    // going out, a fragment and one whose checksum is wrong.
    std::vector<RingBlock> lBlocks(2, RingBlock(16384));
    for (uint32_t lId = 0; lId < lDatagrams.size(); ++lId)
    {
        const std::vector<uint8_t> &lDatagram = lDatagrams[lId];
        RingBlock &lBlock = lBlocks[lId < 6 ? 0 : 1];
        lBlock.Add(UdpPacket(lDatagram), PACKET_HOST, 0);
        if (lId == 3)
        {
            lBlock.Add(UdpPacket(lDatagram, kPort + 1));
            lBlock.Add(UdpPacket(lDatagram), PACKET_OUTGOING);
            std::vector<uint8_t> lWrong = UdpPacket(lDatagram);
            lWrong[40] ^= 0xFF;
            lBlock.Add(lWrong, PACKET_HOST, 0);
            std::vector<uint8_t> lPart = UdpPacket(lDatagram);
            PutU16(&lPart[6], 0x2000);
            FixIpChecksum(lPart);
            lBlock.Add(lPart);
        }
    }
    Keeper lKeeper;
    TnGvspAssembler lAssembler;
    lAssembler.SetProvider(&lKeeper);
    TnRingFilter lFilter;
    lFilter.mPort = kPort;
    size_t lMalformed = 0;
    for (const RingBlock &lBlock : lBlocks)
    {
        ForEachRingPacket(lBlock.mBytes.data(), lBlock.mBytes.size(), [&](const TnRingPacket &aPacket) {
            const uint8_t *lPayload;
            size_t lSize;
            const TnRingVerdict lVerdict = ParseRingDatagram(aPacket, lFilter, lPayload, lSize);
            lMalformed += lVerdict == TnRingVerdict::kMalformed;
            if (lVerdict == TnRingVerdict::kTaken)
            {
                lAssembler.OnDatagram(lPayload, lSize, 0);
            }
        });
    }
    EXPECT_EQ(lMalformed, 1u);
    ASSERT_EQ(lKeeper.mResults, std::vector<uint32_t>{TN_OK});
    EXPECT_EQ(lKeeper.mReceived, lImage.size());
    EXPECT_EQ(memcmp(lKeeper.mMemory.data(), lImage.data(), lImage.size()), 0);
    EXPECT_EQ(lAssembler.GetStatistics().mPackets, lDatagrams.size());
    EXPECT_EQ(lAssembler.GetStatistics().mPacketsRedundant, 0u);
}
