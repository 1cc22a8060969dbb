// Chunk data: the GigE Vision layout, copies taken at attach time, and the
// failures of malformed payloads.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "GenICamTestUtil.h"

using tn::genicam::test::Device;

namespace
{
const std::string kChunks =
    "<Port Name=\"ChunkA\"><ChunkID>1234ABCD</ChunkID></Port>"
    "<Port Name=\"ChunkB\"><ChunkID>0x2</ChunkID></Port>"
    "<IntReg Name=\"Counter\"><Address>0</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>ChunkA</pPort>"
    "<Endianess>BigEndian</Endianess></IntReg>"
    "<IntReg Name=\"Beyond\"><Address>4</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>ChunkA</pPort></IntReg>"
    "<Integer Name=\"Stamp\"><pValue>StampReg</pValue></Integer>"
    "<IntReg Name=\"StampReg\"><Address>4</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>ChunkB</pPort>"
    "<Sign>Signed</Sign></IntReg>";

void Append(std::vector<uint8_t> &aBuffer, const std::vector<uint8_t> &aData, uint32_t aId, uint32_t aLength)
{
    aBuffer.insert(aBuffer.end(), aData.begin(), aData.end());
    for (uint32_t lValue : {aId, aLength})
    {
        for (int lShift = 24; lShift >= 0; lShift -= 8)
        {
            aBuffer.push_back(static_cast<uint8_t>(lValue >> lShift));
        }
    }
}

std::vector<uint8_t> Layout(uint32_t aCounter, int32_t aStamp)
{
    std::vector<uint8_t> lBuffer;
    Append(lBuffer, std::vector<uint8_t>(16, 0xEE), 0x1, 16); // image data, not read by any port
    Append(lBuffer, {uint8_t(aCounter >> 24), uint8_t(aCounter >> 16), uint8_t(aCounter >> 8), uint8_t(aCounter)},
           0x1234ABCD, 4);
    const uint32_t lStamp = static_cast<uint32_t>(aStamp);
    Append(lBuffer, {0, 0, 0, 0, uint8_t(lStamp), uint8_t(lStamp >> 8), uint8_t(lStamp >> 16), uint8_t(lStamp >> 24)},
           0x2, 8);
    return lBuffer;
}
} // namespace

TEST(Chunks, FeaturesReadCopiesTakenAtAttach)
{
    Device lDevice(kChunks);
    ASSERT_TRUE(lDevice);
    int64_t lValue = 0;
    bool lAvailable = true;
    EXPECT_TRUE(lDevice->Get("Counter")->IsAvailable(lAvailable).IsOK());
    EXPECT_FALSE(lAvailable);
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Counter", lValue));

    struct Sink : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override { ++mCalls; }
        int mCalls = 0;
    } lSink;
    EXPECT_TRUE(lDevice->Get("Stamp")->RegisterEventSink(&lSink).IsOK());

    std::vector<uint8_t> *lBuffer = new std::vector<uint8_t>(Layout(0x01020304, -5));
    EXPECT_TRUE(lDevice->AttachDataChunks(lBuffer->data(), static_cast<uint32_t>(lBuffer->size())).IsOK());
    EXPECT_EQ(1, lSink.mCalls);
    // The caller may reuse or free its memory at once.
    memset(lBuffer->data(), 0x55, lBuffer->size());
    delete lBuffer;
    EXPECT_EQ(0x01020304, lDevice.Int("Counter"));
    EXPECT_EQ(-5, lDevice.Int("Stamp"));
    EXPECT_TRUE(lDevice->Get("Counter")->IsAvailable(lAvailable).IsOK());
    EXPECT_TRUE(lAvailable);
    bool lWritable = true;
    EXPECT_TRUE(lDevice->Get("Stamp")->IsWritable(lWritable).IsOK());
    EXPECT_FALSE(lWritable);
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetIntegerValue("Stamp", 1));
    // Reads never reach past a chunk's data.
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Beyond", lValue));

    // A new payload replaces the old one; nothing of it is cached.
    std::vector<uint8_t> lNext = Layout(7, 9);
    EXPECT_TRUE(lDevice->AttachDataChunks(lNext.data(), static_cast<uint32_t>(lNext.size())).IsOK());
    EXPECT_EQ(7, lDevice.Int("Counter"));
    EXPECT_EQ(9, lDevice.Int("Stamp"));

    EXPECT_TRUE(lDevice->DetachDataChunks().IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Counter", lValue));
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Stamp", lValue));
    EXPECT_TRUE(lDevice->DetachDataChunks().IsOK());
    EXPECT_EQ(3, lSink.mCalls);
    EXPECT_TRUE(lDevice->Get("Stamp")->UnregisterEventSink(&lSink).IsOK());

    // A payload without one of the chunks leaves its features unavailable.
    std::vector<uint8_t> lPartial;
    Append(lPartial, {0, 0, 0, 42}, 0x1234ABCD, 4);
    EXPECT_TRUE(lDevice->AttachDataChunks(lPartial.data(), static_cast<uint32_t>(lPartial.size())).IsOK());
    EXPECT_EQ(42, lDevice.Int("Counter"));
    EXPECT_TRUE(lDevice->Get("Stamp")->IsAvailable(lAvailable).IsOK());
    EXPECT_FALSE(lAvailable);
}

TEST(Chunks, MalformedLayoutsAreRefused)
{
    Device lDevice(kChunks);
    ASSERT_TRUE(lDevice);
    uint8_t lByte = 0;
    EXPECT_CODE(TN_INVALID_PARAMETER, lDevice->AttachDataChunks(nullptr, 16));
    EXPECT_CODE(TN_INVALID_PARAMETER, lDevice->AttachDataChunks(&lByte, 0));

    std::vector<uint8_t> lGood = Layout(1, 2);
    EXPECT_TRUE(lDevice->AttachDataChunks(lGood.data(), static_cast<uint32_t>(lGood.size())).IsOK());

    // A tag claiming more data than precedes it.
    std::vector<uint8_t> lOverrun;
    Append(lOverrun, {1, 2, 3, 4}, 0x1234ABCD, 5);
    EXPECT_CODE(TN_INVALID_DATA_FORMAT,
                lDevice->AttachDataChunks(lOverrun.data(), static_cast<uint32_t>(lOverrun.size())));
    std::vector<uint8_t> lHuge;
    Append(lHuge, {1, 2, 3, 4}, 0x1234ABCD, 0xFFFFFFF8u);
    EXPECT_CODE(TN_INVALID_DATA_FORMAT, lDevice->AttachDataChunks(lHuge.data(), static_cast<uint32_t>(lHuge.size())));
    // Bytes left over in front of the first chunk, or a buffer shorter than a tag.
    std::vector<uint8_t> lLeftover = {9, 9, 9};
    Append(lLeftover, {0, 0, 0, 1}, 0x1234ABCD, 4);
    EXPECT_CODE(TN_INVALID_DATA_FORMAT,
                lDevice->AttachDataChunks(lLeftover.data(), static_cast<uint32_t>(lLeftover.size())));
    EXPECT_CODE(TN_INVALID_DATA_FORMAT, lDevice->AttachDataChunks(lGood.data(), 7));
    // The earlier payload is gone after a failed attach.
    int64_t lValue = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Counter", lValue));

    // A payload of empty chunks parses.
    std::vector<uint8_t> lEmpty;
    Append(lEmpty, {}, 0x1234ABCD, 0);
    Append(lEmpty, {}, 0x2, 0);
    EXPECT_TRUE(lDevice->AttachDataChunks(lEmpty.data(), static_cast<uint32_t>(lEmpty.size())).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Counter", lValue));
}
