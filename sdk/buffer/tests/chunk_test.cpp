#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <vector>

#include "TnBuffer.h"
#include "TnBufferInternal.h"

namespace
{
uint32_t ReadBigEndian(const uint8_t *aData)
{
    return (uint32_t(aData[0]) << 24) | (uint32_t(aData[1]) << 16) | (uint32_t(aData[2]) << 8) | aData[3];
}

void AppendChunk(std::vector<uint8_t> &aBlock, uint32_t aID, std::vector<uint8_t> aData, bool aLittleEndian = false)
{
    aBlock.insert(aBlock.end(), aData.begin(), aData.end());
    for (uint32_t value : {aID, uint32_t(aData.size())})
    {
        for (int i = 0; i < 4; ++i)
        {
            const int shift = aLittleEndian ? 8 * i : 24 - 8 * i;
            aBlock.push_back(uint8_t(value >> shift));
        }
    }
}

// A received block of the given payload type carrying aBlock.
void Receive(TnBuffer &aBuffer, TnPayloadType aPayloadType, const std::vector<uint8_t> &aBlock,
             bool aLittleEndian = false)
{
    ASSERT_TRUE(tn::buffer::BeginBlock(aBuffer, aPayloadType).IsOK());
    ASSERT_TRUE(tn::buffer::WriteBlockData(aBuffer, 0, aBlock.data(), uint32_t(aBlock.size())).IsOK());
    tn::buffer::BlockEnd end;
    end.mAcquiredSize = uint32_t(aBlock.size());
    end.mPayloadSize = uint32_t(aBlock.size());
    end.mChunksPresent = true;
    end.mChunkLayoutID = 0x55;
    end.mLittleEndianTags = aLittleEndian;
    ASSERT_TRUE(tn::buffer::EndBlock(aBuffer, end).IsOK());
}
} // namespace

TEST(Chunks, RoundTripByIndexAndID)
{
    TnBuffer buffer(TnPayloadTypeChunkData);
    TnChunkData *chunkData = buffer.GetChunkData();
    ASSERT_NE(chunkData, nullptr);
    ASSERT_TRUE(chunkData->Alloc(64).IsOK());
    EXPECT_FALSE(buffer.HasChunks());
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 64u);

    const uint8_t first[5] = {1, 2, 3, 4, 5};
    const uint8_t second[12] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
    buffer.ResetChunks();
    buffer.SetChunkLayoutID(3);
    ASSERT_TRUE(buffer.AddChunk(0xA0, first, sizeof(first)).IsOK());
    ASSERT_TRUE(buffer.AddChunk(0xB0, second, sizeof(second)).IsOK());
    ASSERT_TRUE(buffer.AddChunk(0xC0, nullptr, 0).IsOK());

    EXPECT_TRUE(buffer.HasChunks());
    EXPECT_EQ(buffer.GetChunkLayoutID(), 3u);
    EXPECT_EQ(buffer.GetChunkDataSize(), 5u + 12u + 0u + 24u);
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 64u - 41u);
    EXPECT_EQ(chunkData->GetChunkDataPayloadLength(), 41u);
    EXPECT_EQ(buffer.GetPayloadSize(), 41u);

    // Index 0 is the chunk nearest the end.
    ASSERT_EQ(buffer.GetChunkCount(), 3u);
    uint32_t id = 0;
    EXPECT_TRUE(buffer.GetChunkIDByIndex(0, id).IsOK());
    EXPECT_EQ(id, 0xC0u);
    EXPECT_TRUE(buffer.GetChunkIDByIndex(2, id).IsOK());
    EXPECT_EQ(id, 0xA0u);
    EXPECT_EQ(buffer.GetChunkSizeByIndex(1), 12u);
    EXPECT_EQ(memcmp(buffer.GetChunkRawDataByIndex(1), second, sizeof(second)), 0);
    EXPECT_EQ(buffer.GetChunkSizeByID(0xA0), 5u);
    EXPECT_EQ(memcmp(buffer.GetChunkRawDataByID(0xA0), first, sizeof(first)), 0);
    EXPECT_EQ(buffer.GetChunkSizeByID(0xC0), 0u);

    // The layout in memory: data, then ID and length big-endian.
    const uint8_t *data = buffer.GetDataPointer();
    EXPECT_EQ(ReadBigEndian(data + 5), 0xA0u);
    EXPECT_EQ(ReadBigEndian(data + 9), 5u);

    // Lookups that find nothing.
    id = 7;
    EXPECT_EQ(buffer.GetChunkIDByIndex(3, id).GetCode(), TN_NOT_FOUND);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(buffer.GetChunkSizeByIndex(3), 0u);
    EXPECT_EQ(buffer.GetChunkRawDataByIndex(3), nullptr);
    EXPECT_EQ(buffer.GetChunkSizeByID(0xD0), 0u);
    EXPECT_EQ(buffer.GetChunkRawDataByID(0xD0), nullptr);

    // The chunk-data object, the buffer and the interface see the same chunks.
    ITnChunkData &chunks = buffer;
    EXPECT_EQ(chunkData->GetChunkCount(), 3u);
    EXPECT_EQ(chunks.GetChunkSizeByID(0xB0), 12u);

    buffer.ResetChunks();
    EXPECT_FALSE(buffer.HasChunks());
    EXPECT_EQ(buffer.GetChunkCount(), 0u);
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 64u);
}

TEST(Chunks, CapacityAndRefusals)
{
    TnBuffer buffer(TnPayloadTypeChunkData);
    const uint8_t data[16] = {};
    // No memory, no room.
    EXPECT_EQ(buffer.AddChunk(1, data, 0).GetCode(), TN_BUFFER_TOO_SMALL);

    ASSERT_TRUE(buffer.GetChunkData()->Alloc(24).IsOK());
    EXPECT_EQ(buffer.AddChunk(1, nullptr, 4).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(buffer.AddChunk(1, data, 17).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(buffer.AddChunk(1, data, 0xFFFFFFFFu).GetCode(), TN_BUFFER_TOO_SMALL);
    ASSERT_TRUE(buffer.AddChunk(1, data, 16).IsOK());
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 0u);
    EXPECT_EQ(buffer.AddChunk(2, data, 0).GetCode(), TN_BUFFER_TOO_SMALL);

    // A chunk copied from the buffer's own chunk memory.
    buffer.GetChunkData()->Alloc(64);
    const uint8_t bytes[4] = {7, 8, 9, 10};
    ASSERT_TRUE(buffer.AddChunk(1, bytes, 4).IsOK());
    ASSERT_TRUE(buffer.AddChunk(2, buffer.GetChunkRawDataByID(1), 4).IsOK());
    EXPECT_EQ(memcmp(buffer.GetChunkRawDataByID(2), bytes, 4), 0);

    // Payload types without chunks.
    TnBuffer h264(TnPayloadTypeH264);
    ASSERT_TRUE(h264.Alloc(64).IsOK());
    EXPECT_EQ(h264.AddChunk(1, data, 4).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(h264.GetChunkDataCapacity(), 0u);
}

TEST(Chunks, ImagePayloadTagsTheImageFirst)
{
    TnBuffer buffer;
    ASSERT_TRUE(buffer.GetImage()->Alloc(4, 2, TnPixelMono8, 0, 0, 32).IsOK());
    const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_TRUE(buffer.AddChunk(0x1234, data, 4).IsOK());
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 32u - 12u);

    const uint8_t *memory = buffer.GetDataPointer();
    EXPECT_EQ(ReadBigEndian(memory + 8), tn::buffer::kMainChunkID);
    EXPECT_EQ(ReadBigEndian(memory + 12), 8u); // the image's length
    EXPECT_EQ(memcmp(memory + 16, data, 4), 0);
    EXPECT_EQ(ReadBigEndian(memory + 20), 0x1234u);
    EXPECT_EQ(ReadBigEndian(memory + 24), 4u);
    EXPECT_EQ(buffer.GetPayloadSize(), 28u);

    // The image itself is not listed among the chunks.
    EXPECT_EQ(buffer.GetChunkCount(), 1u);
    tn::buffer::PayloadSegments segments = tn::buffer::GetPayloadSegments(buffer);
    EXPECT_EQ(segments.mMain, memory);
    EXPECT_EQ(segments.mMainLength, 28u);
    EXPECT_EQ(segments.mChunksLength, 0u);

    // A new geometry moves the chunk section: the old chunks are gone.
    tn::buffer::ImageGeometry geometry;
    geometry.mPixelType = TnPixelMono8;
    geometry.mWidth = 4;
    geometry.mHeight = 3;
    ASSERT_TRUE(tn::buffer::SetImageGeometry(buffer, geometry).IsOK());
    EXPECT_EQ(buffer.GetChunkCount(), 0u);
}

TEST(Chunks, SeparateChunkMemoryForAnAttachedImage)
{
    std::vector<uint8_t> pixels(16, 0x5A);
    TnBuffer buffer;
    ASSERT_TRUE(buffer.GetImage()->Attach(pixels.data(), 4, 4, TnPixelMono8).IsOK());
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 0u);
    ASSERT_TRUE(buffer.AllocChunk(20).IsOK());
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 20u);
    const uint8_t data[12] = {1};
    ASSERT_TRUE(buffer.AddChunk(9, data, sizeof(data)).IsOK());
    ASSERT_EQ(buffer.GetChunkCount(), 1u);
    EXPECT_EQ(buffer.GetChunkSizeByIndex(0), 12u);
    EXPECT_EQ(buffer.GetPayloadSize(), 16u + 8u + 20u);

    tn::buffer::PayloadSegments segments = tn::buffer::GetPayloadSegments(buffer);
    EXPECT_EQ(segments.mMain, pixels.data());
    EXPECT_EQ(segments.mMainLength, 16u);
    ASSERT_NE(segments.mChunks, nullptr);
    EXPECT_EQ(segments.mChunksLength, 28u);
    EXPECT_EQ(ReadBigEndian(segments.mChunks + 4), 16u);
    for (uint8_t value : pixels)
    {
        ASSERT_EQ(value, 0x5A);
    }

    buffer.FreeChunk();
    EXPECT_EQ(buffer.GetChunkCount(), 0u);
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 0u);
}

TEST(Chunks, ReceivedImageWithChunks)
{
    std::vector<uint8_t> block(6, 0x77); // a 3x2 Mono8 image
    for (int i = 0; i < 4; ++i)
    {
        block.push_back(uint8_t((tn::buffer::kMainChunkID >> (24 - 8 * i)) & 0xFF));
    }
    block.insert(block.end(), {0, 0, 0, 6});
    AppendChunk(block, 0x10, {1, 2, 3, 4});
    AppendChunk(block, 0x20, {5, 6, 7, 8, 9, 10, 11, 12});

    TnBuffer buffer;
    ASSERT_TRUE(buffer.Alloc(256).IsOK());
    Receive(buffer, TnPayloadTypeImage, block);
    EXPECT_TRUE(buffer.HasChunks());
    EXPECT_EQ(buffer.GetChunkLayoutID(), 0x55u);
    ASSERT_EQ(buffer.GetChunkCount(), 2u);
    uint32_t id = 0;
    buffer.GetChunkIDByIndex(0, id);
    EXPECT_EQ(id, 0x20u);
    EXPECT_EQ(buffer.GetChunkSizeByID(0x10), 4u);
    EXPECT_EQ(buffer.GetChunkRawDataByID(0x10)[3], 4);
    EXPECT_EQ(buffer.GetChunkDataSize(), 4u + 8u + 8u + 8u);
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 0u);
    EXPECT_EQ(buffer.GetPayloadSize(), uint32_t(block.size()));

    // Received chunks stay until the program drops them on purpose.
    const uint8_t data[2] = {};
    EXPECT_EQ(buffer.AddChunk(0x30, data, 2).GetCode(), TN_INVALID_PARAMETER);
    buffer.ResetChunks();
    EXPECT_TRUE(buffer.AddChunk(0x30, data, 2).IsOK());
}

TEST(Chunks, ReceivedChunkPayloadInLittleEndian)
{
    std::vector<uint8_t> block;
    AppendChunk(block, 0x01020304, {1, 2, 3, 4}, true);
    AppendChunk(block, 0x0A0B0C0D, {}, true);
    TnBuffer buffer;
    ASSERT_TRUE(buffer.Alloc(64).IsOK());
    Receive(buffer, TnPayloadTypeChunkData, block, true);
    ASSERT_EQ(buffer.GetChunkCount(), 2u);
    EXPECT_EQ(buffer.GetChunkSizeByID(0x01020304), 4u);
    EXPECT_EQ(buffer.GetChunkRawDataByID(0x01020304), buffer.GetDataPointer());
    EXPECT_NE(buffer.GetChunkRawDataByID(0x0A0B0C0D), nullptr);
}

TEST(Chunks, MalformedLayoutsNeverReachOutside)
{
    TnBuffer buffer;
    ASSERT_TRUE(buffer.Alloc(256).IsOK());

    // A length reaching before the block: the walk stops there.
    std::vector<uint8_t> block;
    AppendChunk(block, 0x10, {1, 2, 3, 4});
    std::vector<uint8_t> broken = {0, 0, 0, 0x20, 0, 0, 0x10, 0};
    broken.insert(broken.begin(), block.begin(), block.end());
    Receive(buffer, TnPayloadTypeChunkData, broken);
    EXPECT_EQ(buffer.GetChunkCount(), 0u);
    EXPECT_EQ(buffer.GetChunkRawDataByID(0x20), nullptr);

    // Valid chunks after a malformed one are still listed.
    std::vector<uint8_t> tail = {0xFF, 0xFF, 0xFF};
    AppendChunk(tail, 0x30, {9, 9});
    Receive(buffer, TnPayloadTypeChunkData, tail);
    ASSERT_EQ(buffer.GetChunkCount(), 1u);
    EXPECT_EQ(buffer.GetChunkSizeByIndex(0), 2u);

    // Fewer bytes than one tag.
    Receive(buffer, TnPayloadTypeChunkData, {1, 2, 3});
    EXPECT_EQ(buffer.GetChunkCount(), 0u);

    // The largest length there is.
    Receive(buffer, TnPayloadTypeChunkData, {0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(buffer.GetChunkCount(), 0u);

    // An image block whose chunk lengths skip past the image's start.
    std::vector<uint8_t> image(8, 0);
    AppendChunk(image, 0x40, {1});
    image[image.size() - 1] = 12;
    Receive(buffer, TnPayloadTypeImage, image);
    EXPECT_EQ(buffer.GetChunkCount(), 0u);

    // A block that says it carries no chunks lists none, whatever it holds.
    tn::buffer::BeginBlock(buffer, TnPayloadTypeChunkData);
    tn::buffer::BlockEnd end;
    end.mAcquiredSize = uint32_t(block.size());
    tn::buffer::WriteBlockData(buffer, 0, block.data(), end.mAcquiredSize);
    ASSERT_TRUE(tn::buffer::EndBlock(buffer, end).IsOK());
    EXPECT_FALSE(buffer.HasChunks());
    EXPECT_EQ(buffer.GetChunkCount(), 0u);
}

TEST(Chunks, ZeroFilledRegionIsBounded)
{
    // Every 8 zero bytes read as an empty chunk; the walk lists at most the
    // maximum and stays within the region.
    const uint32_t size = 8 * 70000;
    TnBuffer buffer;
    ASSERT_TRUE(buffer.Alloc(size).IsOK());
    ASSERT_TRUE(tn::buffer::BeginBlock(buffer, TnPayloadTypeChunkData).IsOK());
    tn::buffer::BlockEnd end;
    end.mAcquiredSize = size;
    end.mChunksPresent = true;
    ASSERT_TRUE(tn::buffer::EndBlock(buffer, end).IsOK());
    EXPECT_EQ(buffer.GetChunkCount(), 65536u);
    EXPECT_EQ(buffer.GetChunkRawDataByIndex(0), buffer.GetDataPointer() + size - 8);
}
