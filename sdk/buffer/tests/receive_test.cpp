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
    ImageGeometry lGeometry;
    lGeometry.mPixelType = TnPixelMono8;
    lGeometry.mWidth = aWidth;
    lGeometry.mHeight = aHeight;
    return lGeometry;
}
} // namespace

TEST(Receive, ImageBlockWithLeaderAndTrailer)
{
    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.Alloc(4096).IsOK());
    lBuffer.SetID(3);
    ASSERT_TRUE(BeginBlock(lBuffer, TnPayloadTypeImage).IsOK());
    lBuffer.SetBlockID(0x123456789ull);
    lBuffer.SetTimestamp(555);
    SetBlockFlags(lBuffer, true, true);
    ImageGeometry lGeometry = Mono8(32, 16);
    lGeometry.mOffsetX = 8;
    lGeometry.mPaddingX = 4;
    ASSERT_TRUE(SetImageGeometry(lBuffer, lGeometry).IsOK());

    std::vector<uint8_t> lLine(36, 0x3C);
    for (uint32_t lY = 0; lY < 16; ++lY)
    {
        ASSERT_TRUE(WriteBlockData(lBuffer, lY * 36, lLine.data(), 36).IsOK());
    }
    BlockEnd lEnd;
    lEnd.mOperationResult = TnResult(TN_MISSING_PACKETS);
    lEnd.mAcquiredSize = 576;
    lEnd.mRequiredSize = 600;
    lEnd.mPayloadSize = 576;
    lEnd.mHeaderValid = true;
    ASSERT_TRUE(EndBlock(lBuffer, lEnd).IsOK());
    ImageStatus lStatus;
    lStatus.mPartialLineMissing = true;
    SetImageStatus(lBuffer, lStatus);
    PacketStatistics lStatistics;
    lStatistics.mLostPackets = 2;
    lStatistics.mPacketsOutOfOrder = 5;
    SetPacketStatistics(lBuffer, lStatistics);
    ASSERT_TRUE(AddMissingPacketGroup(lBuffer, 7, 8).IsOK());
    EXPECT_EQ(AddMissingPacketGroup(lBuffer, 9, 8).GetCode(), TN_INVALID_PARAMETER);

    EXPECT_EQ(lBuffer.GetID(), 3u);
    EXPECT_EQ(lBuffer.GetBlockID(), 0x123456789ull);
    EXPECT_TRUE(lBuffer.IsExtendedID());
    EXPECT_TRUE(lBuffer.IsLargeLeaderTrailerEnabled());
    EXPECT_EQ(lBuffer.GetOperationResult().GetCode(), TN_MISSING_PACKETS);
    EXPECT_EQ(lBuffer.GetAcquiredSize(), 576u);
    EXPECT_EQ(lBuffer.GetRequiredSize(), 600u);
    EXPECT_EQ(lBuffer.GetPayloadSize(), 576u);
    EXPECT_TRUE(lBuffer.IsHeaderValid());
    EXPECT_FALSE(lBuffer.IsTrailerValid());
    EXPECT_EQ(lBuffer.GetLostPacketCount(), 2u);
    EXPECT_EQ(lBuffer.GetPacketOutOfOrderCount(), 5u);
    uint32_t lCount = 0;
    uint32_t lFirst = 0;
    uint32_t lLast = 0;
    lBuffer.GetMissingPacketIdsCount(lCount);
    EXPECT_EQ(lCount, 1u);
    EXPECT_TRUE(lBuffer.GetMissingPacketIds(0, lFirst, lLast).IsOK());
    EXPECT_EQ(lFirst, 7u);
    EXPECT_EQ(lLast, 8u);

    TnImage *lImage = lBuffer.GetImage();
    EXPECT_EQ(lImage->GetImageSize(), 576u);
    EXPECT_EQ(lImage->GetOffsetX(), 8u);
    EXPECT_EQ(lImage->GetBlockID(), 0x123456789ull);
    EXPECT_EQ(lImage->GetTimestamp(), 555u);
    EXPECT_EQ(lImage->GetRequiredSize(), 600u);
    EXPECT_TRUE(lImage->IsPartialLineMissing());
    EXPECT_EQ(lImage->GetDataPointer()[575], 0x3C);

    // The next block forgets this one.
    ASSERT_TRUE(BeginBlock(lBuffer, TnPayloadTypeImage).IsOK());
    EXPECT_EQ(lBuffer.GetLostPacketCount(), 0u);
    EXPECT_FALSE(lImage->IsPartialLineMissing());
    lBuffer.GetMissingPacketIdsCount(lCount);
    EXPECT_EQ(lCount, 0u);
    EXPECT_EQ(lBuffer.GetID(), 3u);
}

TEST(Receive, NothingGoesPastTheMemory)
{
    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.Alloc(100).IsOK());
    BeginBlock(lBuffer, TnPayloadTypeImage);
    EXPECT_EQ(SetImageGeometry(lBuffer, Mono8(10, 11)).GetCode(), TN_BUFFER_TOO_SMALL);
    ImageGeometry lUnsized = Mono8(10, 10);
    lUnsized.mPixelType = TnPixelUndefined;
    EXPECT_EQ(SetImageGeometry(lBuffer, lUnsized).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.GetImage()->GetWidth(), 0u);

    const uint8_t lData[8] = {};
    EXPECT_EQ(GetBlockCapacity(lBuffer), 100u);
    EXPECT_EQ(WriteBlockData(lBuffer, 96, lData, 5).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(WriteBlockData(lBuffer, 0xFFFFFFFFu, lData, 8).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(WriteBlockData(lBuffer, 0, nullptr, 8).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(GetBlockPointer(lBuffer, 96, 5), nullptr);
    EXPECT_EQ(GetBlockPointer(lBuffer, 96, 4), lBuffer.GetDataPointer() + 96);

    BlockEnd lEnd;
    lEnd.mAcquiredSize = 101;
    EXPECT_EQ(EndBlock(lBuffer, lEnd).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.GetAcquiredSize(), 0u);

    TnBuffer lRaw(TnPayloadTypeRawData);
    ASSERT_TRUE(lRaw.Alloc(10).IsOK());
    EXPECT_EQ(SetRawDataPayloadLength(lRaw, 11).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(SetRawDataPayloadLength(lRaw, 0x100000000ull).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_TRUE(SetRawDataPayloadLength(lRaw, 10).IsOK());
    EXPECT_EQ(lRaw.GetRawData()->GetPayloadLength(), 10u);
}

TEST(Receive, BlockContinuesIntoChunkMemory)
{
    // The program's memory holds the image alone; the chunks go to memory of
    // the buffer's own.
    std::vector<uint8_t> lPixels(64);
    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.GetImage()->Attach(lPixels.data(), 8, 8, TnPixelMono8).IsOK());
    ASSERT_TRUE(lBuffer.AllocChunk(32).IsOK());
    BeginBlock(lBuffer, TnPayloadTypeImage);
    ASSERT_TRUE(SetImageGeometry(lBuffer, Mono8(8, 8)).IsOK());
    EXPECT_EQ(GetBlockCapacity(lBuffer), 64u + 40u);

    std::vector<uint8_t> lBlock(64, 0x12);
    const uint8_t lTail[] = {0, 0, 0, 1, 0, 0, 0, 64, 0xC1, 0xC2, 0, 0, 0, 0x99, 0, 0, 0, 2};
    lBlock.insert(lBlock.end(), lTail, lTail + sizeof(lTail));
    // One write across the end of the image.
    ASSERT_TRUE(WriteBlockData(lBuffer, 0, lBlock.data(), uint32_t(lBlock.size())).IsOK());
    EXPECT_EQ(GetBlockPointer(lBuffer, 60, 8), nullptr);
    EXPECT_NE(GetBlockPointer(lBuffer, 64, 8), nullptr);

    BlockEnd lEnd;
    lEnd.mAcquiredSize = uint32_t(lBlock.size());
    lEnd.mChunksPresent = true;
    ASSERT_TRUE(EndBlock(lBuffer, lEnd).IsOK());
    EXPECT_EQ(lPixels[63], 0x12);
    ASSERT_EQ(lBuffer.GetChunkCount(), 1u);
    EXPECT_EQ(lBuffer.GetChunkSizeByID(0x99), 2u);
    EXPECT_EQ(lBuffer.GetChunkRawDataByID(0x99)[1], 0xC2);
    EXPECT_EQ(WriteBlockData(lBuffer, 64, lBlock.data(), 41).GetCode(), TN_BUFFER_TOO_SMALL);
}

TEST(Receive, ChunkDataPayloadLength)
{
    TnBuffer lBuffer(TnPayloadTypeChunkData);
    ASSERT_TRUE(lBuffer.GetChunkData()->Alloc(64).IsOK());
    BeginBlock(lBuffer, TnPayloadTypeChunkData);
    SetChunkDataPayloadLength(lBuffer, 0x123456789ull);
    EXPECT_EQ(lBuffer.GetChunkData()->GetChunkDataPayloadLength(), 0x123456789ull);
}
