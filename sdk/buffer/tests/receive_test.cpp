#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <vector>

#include "TnBuffer.h"
#include "TnBufferInternal.h"

using namespace tn::buffer;

namespace
{
ImageGeometry Mono8(uint32_t aWidth, uint32_t aHeight)
{
    ImageGeometry geometry;
    geometry.mPixelType = TnPixelMono8;
    geometry.mWidth = aWidth;
    geometry.mHeight = aHeight;
    return geometry;
}
} // namespace

TEST(Receive, ImageBlockWithLeaderAndTrailer)
{
    TnBuffer buffer;
    ASSERT_TRUE(buffer.Alloc(4096).IsOK());
    buffer.SetID(3);
    ASSERT_TRUE(BeginBlock(buffer, TnPayloadTypeImage).IsOK());
    buffer.SetBlockID(0x123456789ull);
    buffer.SetTimestamp(555);
    SetBlockFlags(buffer, true, true);
    ImageGeometry geometry = Mono8(32, 16);
    geometry.mOffsetX = 8;
    geometry.mPaddingX = 4;
    ASSERT_TRUE(SetImageGeometry(buffer, geometry).IsOK());

    std::vector<uint8_t> line(36, 0x3C);
    for (uint32_t y = 0; y < 16; ++y)
    {
        ASSERT_TRUE(WriteBlockData(buffer, y * 36, line.data(), 36).IsOK());
    }
    BlockEnd end;
    end.mOperationResult = TnResult(TN_MISSING_PACKETS);
    end.mAcquiredSize = 576;
    end.mRequiredSize = 600;
    end.mPayloadSize = 576;
    end.mHeaderValid = true;
    ASSERT_TRUE(EndBlock(buffer, end).IsOK());
    ImageStatus status;
    status.mPartialLineMissing = true;
    SetImageStatus(buffer, status);
    PacketStatistics statistics;
    statistics.mLostPackets = 2;
    statistics.mPacketsOutOfOrder = 5;
    SetPacketStatistics(buffer, statistics);
    ASSERT_TRUE(AddMissingPacketGroup(buffer, 7, 8).IsOK());
    EXPECT_EQ(AddMissingPacketGroup(buffer, 9, 8).GetCode(), TN_INVALID_PARAMETER);

    EXPECT_EQ(buffer.GetID(), 3u);
    EXPECT_EQ(buffer.GetBlockID(), 0x123456789ull);
    EXPECT_TRUE(buffer.IsExtendedID());
    EXPECT_TRUE(buffer.IsLargeLeaderTrailerEnabled());
    EXPECT_EQ(buffer.GetOperationResult().GetCode(), TN_MISSING_PACKETS);
    EXPECT_EQ(buffer.GetAcquiredSize(), 576u);
    EXPECT_EQ(buffer.GetRequiredSize(), 600u);
    EXPECT_EQ(buffer.GetPayloadSize(), 576u);
    EXPECT_TRUE(buffer.IsHeaderValid());
    EXPECT_FALSE(buffer.IsTrailerValid());
    EXPECT_EQ(buffer.GetLostPacketCount(), 2u);
    EXPECT_EQ(buffer.GetPacketOutOfOrderCount(), 5u);
    uint32_t count = 0;
    uint32_t first = 0;
    uint32_t last = 0;
    buffer.GetMissingPacketIdsCount(count);
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(buffer.GetMissingPacketIds(0, first, last).IsOK());
    EXPECT_EQ(first, 7u);
    EXPECT_EQ(last, 8u);

    TnImage *image = buffer.GetImage();
    EXPECT_EQ(image->GetImageSize(), 576u);
    EXPECT_EQ(image->GetOffsetX(), 8u);
    EXPECT_EQ(image->GetBlockID(), 0x123456789ull);
    EXPECT_EQ(image->GetTimestamp(), 555u);
    EXPECT_EQ(image->GetRequiredSize(), 600u);
    EXPECT_TRUE(image->IsPartialLineMissing());
    EXPECT_EQ(image->GetDataPointer()[575], 0x3C);

    // The next block forgets this one.
    ASSERT_TRUE(BeginBlock(buffer, TnPayloadTypeImage).IsOK());
    EXPECT_EQ(buffer.GetLostPacketCount(), 0u);
    EXPECT_FALSE(image->IsPartialLineMissing());
    buffer.GetMissingPacketIdsCount(count);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(buffer.GetID(), 3u);
}

TEST(Receive, NothingGoesPastTheMemory)
{
    TnBuffer buffer;
    ASSERT_TRUE(buffer.Alloc(100).IsOK());
    BeginBlock(buffer, TnPayloadTypeImage);
    EXPECT_EQ(SetImageGeometry(buffer, Mono8(10, 11)).GetCode(), TN_BUFFER_TOO_SMALL);
    ImageGeometry unsized = Mono8(10, 10);
    unsized.mPixelType = TnPixelUndefined;
    EXPECT_EQ(SetImageGeometry(buffer, unsized).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(buffer.GetImage()->GetWidth(), 0u);

    const uint8_t data[8] = {};
    EXPECT_EQ(GetBlockCapacity(buffer), 100u);
    EXPECT_EQ(WriteBlockData(buffer, 96, data, 5).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(WriteBlockData(buffer, 0xFFFFFFFFu, data, 8).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(WriteBlockData(buffer, 0, nullptr, 8).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(GetBlockPointer(buffer, 96, 5), nullptr);
    EXPECT_EQ(GetBlockPointer(buffer, 96, 4), buffer.GetDataPointer() + 96);

    BlockEnd end;
    end.mAcquiredSize = 101;
    EXPECT_EQ(EndBlock(buffer, end).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(buffer.GetAcquiredSize(), 0u);

    TnBuffer raw(TnPayloadTypeRawData);
    ASSERT_TRUE(raw.Alloc(10).IsOK());
    EXPECT_EQ(SetRawDataPayloadLength(raw, 11).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(SetRawDataPayloadLength(raw, 0x100000000ull).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_TRUE(SetRawDataPayloadLength(raw, 10).IsOK());
    EXPECT_EQ(raw.GetRawData()->GetPayloadLength(), 10u);
}

TEST(Receive, BlockContinuesIntoChunkMemory)
{
    // The program's memory holds the image alone; the chunks go to memory of
    // the buffer's own.
    std::vector<uint8_t> pixels(64);
    TnBuffer buffer;
    ASSERT_TRUE(buffer.GetImage()->Attach(pixels.data(), 8, 8, TnPixelMono8).IsOK());
    ASSERT_TRUE(buffer.AllocChunk(32).IsOK());
    BeginBlock(buffer, TnPayloadTypeImage);
    ASSERT_TRUE(SetImageGeometry(buffer, Mono8(8, 8)).IsOK());
    EXPECT_EQ(GetBlockCapacity(buffer), 64u + 40u);

    std::vector<uint8_t> block(64, 0x12);
    const uint8_t tail[] = {0, 0, 0, 1, 0, 0, 0, 64, 0xC1, 0xC2, 0, 0, 0, 0x99, 0, 0, 0, 2};
    block.insert(block.end(), tail, tail + sizeof(tail));
    // One write across the end of the image.
    ASSERT_TRUE(WriteBlockData(buffer, 0, block.data(), uint32_t(block.size())).IsOK());
    EXPECT_EQ(GetBlockPointer(buffer, 60, 8), nullptr);
    EXPECT_NE(GetBlockPointer(buffer, 64, 8), nullptr);

    BlockEnd end;
    end.mAcquiredSize = uint32_t(block.size());
    end.mChunksPresent = true;
    ASSERT_TRUE(EndBlock(buffer, end).IsOK());
    EXPECT_EQ(pixels[63], 0x12);
    ASSERT_EQ(buffer.GetChunkCount(), 1u);
    EXPECT_EQ(buffer.GetChunkSizeByID(0x99), 2u);
    EXPECT_EQ(buffer.GetChunkRawDataByID(0x99)[1], 0xC2);
    EXPECT_EQ(WriteBlockData(buffer, 64, block.data(), 41).GetCode(), TN_BUFFER_TOO_SMALL);
}

TEST(Receive, ChunkDataPayloadLength)
{
    TnBuffer buffer(TnPayloadTypeChunkData);
    ASSERT_TRUE(buffer.GetChunkData()->Alloc(64).IsOK());
    BeginBlock(buffer, TnPayloadTypeChunkData);
    SetChunkDataPayloadLength(buffer, 0x123456789ull);
    EXPECT_EQ(buffer.GetChunkData()->GetChunkDataPayloadLength(), 0x123456789ull);
}
