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
    for (uint32_t lValue : {aID, uint32_t(aData.size())})
    {
        for (int lIndex = 0; lIndex < 4; ++lIndex)
        {
            const int lShift = aLittleEndian ? 8 * lIndex : 24 - 8 * lIndex;
            aBlock.push_back(uint8_t(lValue >> lShift));
        }
    }
}

// A received block of the given payload type carrying aBlock.
void Receive(TnBuffer &aBuffer, TnPayloadType aPayloadType, const std::vector<uint8_t> &aBlock,
             bool aLittleEndian = false)
{
    ASSERT_TRUE(tn::buffer::BeginBlock(aBuffer, aPayloadType).IsOK());
    ASSERT_TRUE(tn::buffer::WriteBlockData(aBuffer, 0, aBlock.data(), uint32_t(aBlock.size())).IsOK());
    tn::buffer::BlockEnd lEnd;
    lEnd.mAcquiredSize = uint32_t(aBlock.size());
    lEnd.mPayloadSize = uint32_t(aBlock.size());
    lEnd.mChunksPresent = true;
    lEnd.mChunkLayoutID = 0x55;
    lEnd.mLittleEndianTags = aLittleEndian;
    ASSERT_TRUE(tn::buffer::EndBlock(aBuffer, lEnd).IsOK());
}
} // namespace

TEST(Chunks, RoundTripByIndexAndID)
{
    TnBuffer lBuffer(TnPayloadTypeChunkData);
    TnChunkData *lChunkData = lBuffer.GetChunkData();
    ASSERT_NE(lChunkData, nullptr);
    ASSERT_TRUE(lChunkData->Alloc(64).IsOK());
    EXPECT_FALSE(lBuffer.HasChunks());
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 64u);

    const uint8_t lFirst[5] = {1, 2, 3, 4, 5};
    const uint8_t lSecond[12] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
    lBuffer.ResetChunks();
    lBuffer.SetChunkLayoutID(3);
    ASSERT_TRUE(lBuffer.AddChunk(0xA0, lFirst, sizeof(lFirst)).IsOK());
    ASSERT_TRUE(lBuffer.AddChunk(0xB0, lSecond, sizeof(lSecond)).IsOK());
    ASSERT_TRUE(lBuffer.AddChunk(0xC0, nullptr, 0).IsOK());

    EXPECT_TRUE(lBuffer.HasChunks());
    EXPECT_EQ(lBuffer.GetChunkLayoutID(), 3u);
    EXPECT_EQ(lBuffer.GetChunkDataSize(), 5u + 12u + 0u + 24u);
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 64u - 41u);
    EXPECT_EQ(lChunkData->GetChunkDataPayloadLength(), 41u);
    EXPECT_EQ(lBuffer.GetPayloadSize(), 41u);

    // Index 0 is the chunk nearest the end.
    ASSERT_EQ(lBuffer.GetChunkCount(), 3u);
    uint32_t lId = 0;
    EXPECT_TRUE(lBuffer.GetChunkIDByIndex(0, lId).IsOK());
    EXPECT_EQ(lId, 0xC0u);
    EXPECT_TRUE(lBuffer.GetChunkIDByIndex(2, lId).IsOK());
    EXPECT_EQ(lId, 0xA0u);
    EXPECT_EQ(lBuffer.GetChunkSizeByIndex(1), 12u);
    EXPECT_EQ(memcmp(lBuffer.GetChunkRawDataByIndex(1), lSecond, sizeof(lSecond)), 0);
    EXPECT_EQ(lBuffer.GetChunkSizeByID(0xA0), 5u);
    EXPECT_EQ(memcmp(lBuffer.GetChunkRawDataByID(0xA0), lFirst, sizeof(lFirst)), 0);
    EXPECT_EQ(lBuffer.GetChunkSizeByID(0xC0), 0u);

    // The layout in memory: data, then ID and length big-endian.
    const uint8_t *lData = lBuffer.GetDataPointer();
    EXPECT_EQ(ReadBigEndian(lData + 5), 0xA0u);
    EXPECT_EQ(ReadBigEndian(lData + 9), 5u);

    // Lookups that find nothing.
    lId = 7;
    EXPECT_EQ(lBuffer.GetChunkIDByIndex(3, lId).GetCode(), TN_NOT_FOUND);
    EXPECT_EQ(lId, 0u);
    EXPECT_EQ(lBuffer.GetChunkSizeByIndex(3), 0u);
    EXPECT_EQ(lBuffer.GetChunkRawDataByIndex(3), nullptr);
    EXPECT_EQ(lBuffer.GetChunkSizeByID(0xD0), 0u);
    EXPECT_EQ(lBuffer.GetChunkRawDataByID(0xD0), nullptr);

    // The chunk-data object, the buffer and the interface see the same chunks.
    ITnChunkData &lChunks = lBuffer;
    EXPECT_EQ(lChunkData->GetChunkCount(), 3u);
    EXPECT_EQ(lChunks.GetChunkSizeByID(0xB0), 12u);

    lBuffer.ResetChunks();
    EXPECT_FALSE(lBuffer.HasChunks());
    EXPECT_EQ(lBuffer.GetChunkCount(), 0u);
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 64u);
}

TEST(Chunks, CapacityAndRefusals)
{
    TnBuffer lBuffer(TnPayloadTypeChunkData);
    const uint8_t lData[16] = {};
    // No memory, no room.
    EXPECT_EQ(lBuffer.AddChunk(1, lData, 0).GetCode(), TN_BUFFER_TOO_SMALL);

    ASSERT_TRUE(lBuffer.GetChunkData()->Alloc(24).IsOK());
    EXPECT_EQ(lBuffer.AddChunk(1, nullptr, 4).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.AddChunk(1, lData, 17).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(lBuffer.AddChunk(1, lData, 0xFFFFFFFFu).GetCode(), TN_BUFFER_TOO_SMALL);
    ASSERT_TRUE(lBuffer.AddChunk(1, lData, 16).IsOK());
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 0u);
    EXPECT_EQ(lBuffer.AddChunk(2, lData, 0).GetCode(), TN_BUFFER_TOO_SMALL);

    // A chunk copied from the buffer's own chunk memory.
    lBuffer.GetChunkData()->Alloc(64);
    const uint8_t lBytes[4] = {7, 8, 9, 10};
    ASSERT_TRUE(lBuffer.AddChunk(1, lBytes, 4).IsOK());
    ASSERT_TRUE(lBuffer.AddChunk(2, lBuffer.GetChunkRawDataByID(1), 4).IsOK());
    EXPECT_EQ(memcmp(lBuffer.GetChunkRawDataByID(2), lBytes, 4), 0);

    // Payload types without chunks.
    TnBuffer lH264(TnPayloadTypeH264);
    ASSERT_TRUE(lH264.Alloc(64).IsOK());
    EXPECT_EQ(lH264.AddChunk(1, lData, 4).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lH264.GetChunkDataCapacity(), 0u);
}

TEST(Chunks, ImagePayloadTagsTheImageFirst)
{
    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.GetImage()->Alloc(4, 2, TnPixelMono8, 0, 0, 32).IsOK());
    const uint8_t lData[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_TRUE(lBuffer.AddChunk(0x1234, lData, 4).IsOK());
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 32u - 12u);

    const uint8_t *lMemory = lBuffer.GetDataPointer();
    EXPECT_EQ(ReadBigEndian(lMemory + 8), tn::buffer::kMainChunkID);
    EXPECT_EQ(ReadBigEndian(lMemory + 12), 8u); // the image's length
    EXPECT_EQ(memcmp(lMemory + 16, lData, 4), 0);
    EXPECT_EQ(ReadBigEndian(lMemory + 20), 0x1234u);
    EXPECT_EQ(ReadBigEndian(lMemory + 24), 4u);
    EXPECT_EQ(lBuffer.GetPayloadSize(), 28u);

    // The image itself is not listed among the chunks.
    EXPECT_EQ(lBuffer.GetChunkCount(), 1u);
    tn::buffer::PayloadSegments lSegments = tn::buffer::GetPayloadSegments(lBuffer);
    EXPECT_EQ(lSegments.mMain, lMemory);
    EXPECT_EQ(lSegments.mMainLength, 28u);
    EXPECT_EQ(lSegments.mChunksLength, 0u);

    // A new geometry moves the chunk section: the old chunks are gone.
    tn::buffer::ImageGeometry lGeometry;
    lGeometry.mPixelType = TnPixelMono8;
    lGeometry.mWidth = 4;
    lGeometry.mHeight = 3;
    ASSERT_TRUE(tn::buffer::SetImageGeometry(lBuffer, lGeometry).IsOK());
    EXPECT_EQ(lBuffer.GetChunkCount(), 0u);
}

TEST(Chunks, SeparateChunkMemoryForAnAttachedImage)
{
    std::vector<uint8_t> lPixels(16, 0x5A);
    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.GetImage()->Attach(lPixels.data(), 4, 4, TnPixelMono8).IsOK());
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 0u);
    ASSERT_TRUE(lBuffer.AllocChunk(20).IsOK());
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 20u);
    const uint8_t lData[12] = {1};
    ASSERT_TRUE(lBuffer.AddChunk(9, lData, sizeof(lData)).IsOK());
    ASSERT_EQ(lBuffer.GetChunkCount(), 1u);
    EXPECT_EQ(lBuffer.GetChunkSizeByIndex(0), 12u);
    EXPECT_EQ(lBuffer.GetPayloadSize(), 16u + 8u + 20u);

    tn::buffer::PayloadSegments lSegments = tn::buffer::GetPayloadSegments(lBuffer);
    EXPECT_EQ(lSegments.mMain, lPixels.data());
    EXPECT_EQ(lSegments.mMainLength, 16u);
    ASSERT_NE(lSegments.mChunks, nullptr);
    EXPECT_EQ(lSegments.mChunksLength, 28u);
    EXPECT_EQ(ReadBigEndian(lSegments.mChunks + 4), 16u);
    for (uint8_t lValue : lPixels)
    {
        ASSERT_EQ(lValue, 0x5A);
    }

    lBuffer.FreeChunk();
    EXPECT_EQ(lBuffer.GetChunkCount(), 0u);
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 0u);
}

TEST(Chunks, ReceivedImageWithChunks)
{
    std::vector<uint8_t> lBlock(6, 0x77); // a 3x2 Mono8 image
    for (int lIndex = 0; lIndex < 4; ++lIndex)
    {
        lBlock.push_back(uint8_t((tn::buffer::kMainChunkID >> (24 - 8 * lIndex)) & 0xFF));
    }
    lBlock.insert(lBlock.end(), {0, 0, 0, 6});
    AppendChunk(lBlock, 0x10, {1, 2, 3, 4});
    AppendChunk(lBlock, 0x20, {5, 6, 7, 8, 9, 10, 11, 12});

    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.Alloc(256).IsOK());
    Receive(lBuffer, TnPayloadTypeImage, lBlock);
    EXPECT_TRUE(lBuffer.HasChunks());
    EXPECT_EQ(lBuffer.GetChunkLayoutID(), 0x55u);
    ASSERT_EQ(lBuffer.GetChunkCount(), 2u);
    uint32_t lId = 0;
    lBuffer.GetChunkIDByIndex(0, lId);
    EXPECT_EQ(lId, 0x20u);
    EXPECT_EQ(lBuffer.GetChunkSizeByID(0x10), 4u);
    EXPECT_EQ(lBuffer.GetChunkRawDataByID(0x10)[3], 4);
    EXPECT_EQ(lBuffer.GetChunkDataSize(), 4u + 8u + 8u + 8u);
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 0u);
    EXPECT_EQ(lBuffer.GetPayloadSize(), uint32_t(lBlock.size()));

    // Received chunks stay until the program drops them on purpose.
    const uint8_t lData[2] = {};
    EXPECT_EQ(lBuffer.AddChunk(0x30, lData, 2).GetCode(), TN_INVALID_PARAMETER);
    lBuffer.ResetChunks();
    EXPECT_TRUE(lBuffer.AddChunk(0x30, lData, 2).IsOK());
}

TEST(Chunks, ReceivedChunkPayloadInLittleEndian)
{
    std::vector<uint8_t> lBlock;
    AppendChunk(lBlock, 0x01020304, {1, 2, 3, 4}, true);
    AppendChunk(lBlock, 0x0A0B0C0D, {}, true);
    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.Alloc(64).IsOK());
    Receive(lBuffer, TnPayloadTypeChunkData, lBlock, true);
    ASSERT_EQ(lBuffer.GetChunkCount(), 2u);
    EXPECT_EQ(lBuffer.GetChunkSizeByID(0x01020304), 4u);
    EXPECT_EQ(lBuffer.GetChunkRawDataByID(0x01020304), lBuffer.GetDataPointer());
    EXPECT_NE(lBuffer.GetChunkRawDataByID(0x0A0B0C0D), nullptr);
}

TEST(Chunks, MalformedLayoutsNeverReachOutside)
{
    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.Alloc(256).IsOK());

    // A length reaching before the block: the walk stops there.
    std::vector<uint8_t> lBlock;
    AppendChunk(lBlock, 0x10, {1, 2, 3, 4});
    std::vector<uint8_t> lBroken = {0, 0, 0, 0x20, 0, 0, 0x10, 0};
    lBroken.insert(lBroken.begin(), lBlock.begin(), lBlock.end());
    Receive(lBuffer, TnPayloadTypeChunkData, lBroken);
    EXPECT_EQ(lBuffer.GetChunkCount(), 0u);
    EXPECT_EQ(lBuffer.GetChunkRawDataByID(0x20), nullptr);

    // Valid chunks after a malformed one are still listed.
    std::vector<uint8_t> lTail = {0xFF, 0xFF, 0xFF};
    AppendChunk(lTail, 0x30, {9, 9});
    Receive(lBuffer, TnPayloadTypeChunkData, lTail);
    ASSERT_EQ(lBuffer.GetChunkCount(), 1u);
    EXPECT_EQ(lBuffer.GetChunkSizeByIndex(0), 2u);

    // Fewer bytes than one tag.
    Receive(lBuffer, TnPayloadTypeChunkData, {1, 2, 3});
    EXPECT_EQ(lBuffer.GetChunkCount(), 0u);

    // The largest length there is.
    Receive(lBuffer, TnPayloadTypeChunkData, {0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(lBuffer.GetChunkCount(), 0u);

    // An image block whose chunk lengths skip past the image's start.
    std::vector<uint8_t> lImage(8, 0);
    AppendChunk(lImage, 0x40, {1});
    lImage[lImage.size() - 1] = 12;
    Receive(lBuffer, TnPayloadTypeImage, lImage);
    EXPECT_EQ(lBuffer.GetChunkCount(), 0u);

    // A block that says it carries no chunks lists none, whatever it holds.
    tn::buffer::BeginBlock(lBuffer, TnPayloadTypeChunkData);
    tn::buffer::BlockEnd lEnd;
    lEnd.mAcquiredSize = uint32_t(lBlock.size());
    tn::buffer::WriteBlockData(lBuffer, 0, lBlock.data(), lEnd.mAcquiredSize);
    ASSERT_TRUE(tn::buffer::EndBlock(lBuffer, lEnd).IsOK());
    EXPECT_FALSE(lBuffer.HasChunks());
    EXPECT_EQ(lBuffer.GetChunkCount(), 0u);
}

TEST(Chunks, ZeroFilledRegionIsBounded)
{
    // Every 8 zero bytes read as an empty chunk; the walk lists at most the
    // maximum and stays within the region.
    const uint32_t lSize = 8 * 70000;
    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.Alloc(lSize).IsOK());
    ASSERT_TRUE(tn::buffer::BeginBlock(lBuffer, TnPayloadTypeChunkData).IsOK());
    tn::buffer::BlockEnd lEnd;
    lEnd.mAcquiredSize = lSize;
    lEnd.mChunksPresent = true;
    ASSERT_TRUE(tn::buffer::EndBlock(lBuffer, lEnd).IsOK());
    EXPECT_EQ(lBuffer.GetChunkCount(), 65536u);
    EXPECT_EQ(lBuffer.GetChunkRawDataByIndex(0), lBuffer.GetDataPointer() + lSize - 8);
}
