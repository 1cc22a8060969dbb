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
    for (uint32_t value : {aId, aLength})
    {
        for (int shift = 24; shift >= 0; shift -= 8)
        {
            aBuffer.push_back(static_cast<uint8_t>(value >> shift));
        }
    }
}

std::vector<uint8_t> Layout(uint32_t aCounter, int32_t aStamp)
{
    std::vector<uint8_t> buffer;
    Append(buffer, std::vector<uint8_t>(16, 0xEE), 0x1, 16); // image data, not read by any port
    Append(buffer, {uint8_t(aCounter >> 24), uint8_t(aCounter >> 16), uint8_t(aCounter >> 8), uint8_t(aCounter)},
           0x1234ABCD, 4);
    const uint32_t stamp = static_cast<uint32_t>(aStamp);
    Append(buffer, {0, 0, 0, 0, uint8_t(stamp), uint8_t(stamp >> 8), uint8_t(stamp >> 16), uint8_t(stamp >> 24)}, 0x2, 8);
    return buffer;
}
} // namespace

TEST(Chunks, FeaturesReadCopiesTakenAtAttach)
{
    Device device(kChunks);
    ASSERT_TRUE(device);
    int64_t value = 0;
    bool available = true;
    EXPECT_TRUE(device->Get("Counter")->IsAvailable(available).IsOK());
    EXPECT_FALSE(available);
    EXPECT_CODE(TN_GENERIC_ERROR, device->GetIntegerValue("Counter", value));

    struct Sink : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override { ++mCalls; }
        int mCalls = 0;
    } sink;
    EXPECT_TRUE(device->Get("Stamp")->RegisterEventSink(&sink).IsOK());

    std::vector<uint8_t> *buffer = new std::vector<uint8_t>(Layout(0x01020304, -5));
    EXPECT_TRUE(device->AttachDataChunks(buffer->data(), static_cast<uint32_t>(buffer->size())).IsOK());
    EXPECT_EQ(1, sink.mCalls);
    // The caller may reuse or free its memory at once.
    memset(buffer->data(), 0x55, buffer->size());
    delete buffer;
    EXPECT_EQ(0x01020304, device.Int("Counter"));
    EXPECT_EQ(-5, device.Int("Stamp"));
    EXPECT_TRUE(device->Get("Counter")->IsAvailable(available).IsOK());
    EXPECT_TRUE(available);
    bool writable = true;
    EXPECT_TRUE(device->Get("Stamp")->IsWritable(writable).IsOK());
    EXPECT_FALSE(writable);
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetIntegerValue("Stamp", 1));
    // Reads never reach past a chunk's data.
    EXPECT_CODE(TN_GENERIC_ERROR, device->GetIntegerValue("Beyond", value));

    // A new payload replaces the old one; nothing of it is cached.
    std::vector<uint8_t> next = Layout(7, 9);
    EXPECT_TRUE(device->AttachDataChunks(next.data(), static_cast<uint32_t>(next.size())).IsOK());
    EXPECT_EQ(7, device.Int("Counter"));
    EXPECT_EQ(9, device.Int("Stamp"));

    EXPECT_TRUE(device->DetachDataChunks().IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, device->GetIntegerValue("Counter", value));
    EXPECT_CODE(TN_GENERIC_ERROR, device->GetIntegerValue("Stamp", value));
    EXPECT_TRUE(device->DetachDataChunks().IsOK());
    EXPECT_EQ(3, sink.mCalls);
    EXPECT_TRUE(device->Get("Stamp")->UnregisterEventSink(&sink).IsOK());

    // A payload without one of the chunks leaves its features unavailable.
    std::vector<uint8_t> partial;
    Append(partial, {0, 0, 0, 42}, 0x1234ABCD, 4);
    EXPECT_TRUE(device->AttachDataChunks(partial.data(), static_cast<uint32_t>(partial.size())).IsOK());
    EXPECT_EQ(42, device.Int("Counter"));
    EXPECT_TRUE(device->Get("Stamp")->IsAvailable(available).IsOK());
    EXPECT_FALSE(available);
}

TEST(Chunks, MalformedLayoutsAreRefused)
{
    Device device(kChunks);
    ASSERT_TRUE(device);
    uint8_t byte = 0;
    EXPECT_CODE(TN_INVALID_PARAMETER, device->AttachDataChunks(nullptr, 16));
    EXPECT_CODE(TN_INVALID_PARAMETER, device->AttachDataChunks(&byte, 0));

    std::vector<uint8_t> good = Layout(1, 2);
    EXPECT_TRUE(device->AttachDataChunks(good.data(), static_cast<uint32_t>(good.size())).IsOK());

    // A tag claiming more data than precedes it.
    std::vector<uint8_t> overrun;
    Append(overrun, {1, 2, 3, 4}, 0x1234ABCD, 5);
    EXPECT_CODE(TN_INVALID_DATA_FORMAT, device->AttachDataChunks(overrun.data(), static_cast<uint32_t>(overrun.size())));
    std::vector<uint8_t> huge;
    Append(huge, {1, 2, 3, 4}, 0x1234ABCD, 0xFFFFFFF8u);
    EXPECT_CODE(TN_INVALID_DATA_FORMAT, device->AttachDataChunks(huge.data(), static_cast<uint32_t>(huge.size())));
    // Bytes left over in front of the first chunk, or a buffer shorter than a tag.
    std::vector<uint8_t> leftover = {9, 9, 9};
    Append(leftover, {0, 0, 0, 1}, 0x1234ABCD, 4);
    EXPECT_CODE(TN_INVALID_DATA_FORMAT, device->AttachDataChunks(leftover.data(), static_cast<uint32_t>(leftover.size())));
    EXPECT_CODE(TN_INVALID_DATA_FORMAT, device->AttachDataChunks(good.data(), 7));
    // The earlier payload is gone after a failed attach.
    int64_t value = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, device->GetIntegerValue("Counter", value));

    // A payload of empty chunks parses.
    std::vector<uint8_t> empty;
    Append(empty, {}, 0x1234ABCD, 0);
    Append(empty, {}, 0x2, 0);
    EXPECT_TRUE(device->AttachDataChunks(empty.data(), static_cast<uint32_t>(empty.size())).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, device->GetIntegerValue("Counter", value));
}
