#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <vector>

#include "TnBuffer.h"
#include "TnBufferInternal.h"

namespace
{
// A container with an image, a JPEG and a chunk-data part.
ITnMultiPartContainer *Build(TnBuffer &aBuffer)
{
    ITnMultiPartContainer *lContainer = aBuffer.GetMultiPartContainer();
    EXPECT_NE(lContainer, nullptr);
    lContainer->Reset();
    EXPECT_TRUE(lContainer->AddImagePart(TnMultiPart2DImage, 7, 5, TnPixelMono16, 1, 2, 2).IsOK());
    EXPECT_TRUE(lContainer->AddJPEGPart(TnMultiPartJPEGImage, 100, 3, 1000000, 9).IsOK());
    EXPECT_TRUE(lContainer->AddChunkPart(40, 0x77).IsOK());
    return lContainer;
}
} // namespace

TEST(MultiPart, SectionsOfEachDataType)
{
    TnBuffer lBuffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *lContainer = Build(lBuffer);
    ASSERT_EQ(lContainer->GetPartCount(), 3u);
    EXPECT_EQ(lContainer->GetPart(3), nullptr);
    EXPECT_EQ(lContainer->Validate().GetCode(), TN_BUFFER_TOO_SMALL);

    ASSERT_TRUE(lContainer->AllocAllParts().IsOK());
    ASSERT_TRUE(lContainer->Validate().IsOK());
    ITnMultiPartSection *lImage = lContainer->GetPart(0);
    ITnMultiPartSection *lJpeg = lContainer->GetPart(1);
    ITnMultiPartSection *lChunk = lContainer->GetPart(2);

    // Image: 7 pixels of 2 bytes and 2 bytes of padding per line, 5 lines.
    EXPECT_EQ(lImage->GetDataType(), TnMultiPart2DImage);
    EXPECT_EQ(lImage->GetSize(), 80u);
    EXPECT_EQ(lImage->GetEffectiveSize(), 80u);
    ASSERT_NE(lImage->GetImage(), nullptr);
    EXPECT_EQ(lImage->GetJPEG(), nullptr);
    EXPECT_EQ(lImage->GetChunkData(), nullptr);
    ITnImage *lView = lImage->GetImage();
    EXPECT_EQ(lView->GetWidth(), 7u);
    EXPECT_EQ(lView->GetHeight(), 5u);
    EXPECT_EQ(lView->GetPixelType(), TnPixelMono16);
    EXPECT_EQ(lView->GetOffsetX(), 1u);
    EXPECT_EQ(lView->GetOffsetY(), 2u);
    EXPECT_EQ(lView->GetPaddingX(), 2u);
    EXPECT_EQ(lView->GetImageSize(), 80u);
    EXPECT_EQ(lView->GetDataPointer(), lImage->GetDataPointer());

    // JPEG: the whole maximum length until a final length is confirmed.
    ASSERT_NE(lJpeg->GetJPEG(), nullptr);
    EXPECT_EQ(lJpeg->GetImage(), nullptr);
    EXPECT_EQ(lJpeg->GetJPEG()->GetFlag(), 3u);
    EXPECT_EQ(lJpeg->GetJPEG()->GetTimestampTickFrequency(), 1000000u);
    EXPECT_EQ(lJpeg->GetJPEG()->GetDataFormat(), 9u);
    EXPECT_EQ(lJpeg->GetJPEG()->GetDataSize(), 100u);
    ASSERT_TRUE(lContainer->SetPartFinalLength(1, 60).IsOK());
    EXPECT_EQ(lJpeg->GetSize(), 100u);
    EXPECT_EQ(lJpeg->GetEffectiveSize(), 60u);
    EXPECT_EQ(lJpeg->GetJPEG()->GetDataSize(), 60u);
    EXPECT_FALSE(lContainer->SetPartFinalLength(1, 101).IsOK());

    // One block, each part on an 8-byte boundary.
    const uint8_t *lMemory = lBuffer.GetDataPointer();
    EXPECT_EQ(lImage->GetDataPointer(), lMemory);
    EXPECT_EQ(lJpeg->GetDataPointer(), lMemory + 80);
    EXPECT_EQ(lChunk->GetDataPointer(), lMemory + 184);
    EXPECT_EQ(lBuffer.GetSize(), 224u);

    // Chunk data: its effective size follows the chunks written.
    ITnChunkData *lChunks = lChunk->GetChunkData();
    ASSERT_NE(lChunks, nullptr);
    EXPECT_EQ(lChunks->GetChunkLayoutID(), 0x77u);
    EXPECT_EQ(lChunk->GetEffectiveSize(), 0u);
    const uint8_t lBytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(lChunks->AddChunk(0x99, lBytes, 8).IsOK());
    EXPECT_EQ(lChunk->GetEffectiveSize(), 16u);
    // The buffer's chunk operations reach the chunk-data part.
    EXPECT_EQ(lBuffer.GetChunkCount(), 1u);
    EXPECT_EQ(lBuffer.GetChunkSizeByID(0x99), 8u);
    EXPECT_EQ(lBuffer.GetPayloadSize(), 80u + 60u + 16u);

    ASSERT_TRUE(lContainer->SetPartFinalImageHeight(0, 3).IsOK());
    EXPECT_EQ(lView->GetHeight(), 3u);
    EXPECT_EQ(lImage->GetEffectiveSize(), 48u);
    EXPECT_FALSE(lContainer->SetPartFinalImageHeight(0, 6).IsOK());
    EXPECT_FALSE(lContainer->SetPartFinalImageHeight(1, 1).IsOK());
}

TEST(MultiPart, IdentifiersAndZones)
{
    TnBuffer lBuffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *lContainer = Build(lBuffer);
    ASSERT_TRUE(lContainer->SetPartIDs(1, 10, 20, 30).IsOK());
    ASSERT_TRUE(lContainer->SetPartZoneInfo(1, 2, 0xA0000000u).IsOK());
    const ITnMultiPartContainerReader &lReader = *lContainer;
    const ITnMultiPartSection *lPart = lReader.GetPart(1);
    EXPECT_EQ(lPart->GetSourceID(), 10u);
    EXPECT_EQ(lPart->GetDataPurposeID(), 20u);
    EXPECT_EQ(lPart->GetRegionID(), 30u);
    EXPECT_EQ(lPart->GetAdditionalZones(), 2u);
    EXPECT_EQ(lPart->GetZoneDirectionMask(), 0xA0000000u);
    EXPECT_EQ(lContainer->SetPartIDs(3, 1, 1, 1).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lContainer->SetPartZoneInfo(3, 1, 1).GetCode(), TN_INVALID_PARAMETER);
}

TEST(MultiPart, DefinitionsThatAreRefused)
{
    TnBuffer lBuffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *lContainer = lBuffer.GetMultiPartContainer();
    EXPECT_EQ(lContainer->AllocAllParts().GetCode(), TN_STATE_ERROR);
    EXPECT_EQ(lContainer->Validate().GetCode(), TN_STATE_ERROR);
    EXPECT_FALSE(lContainer->AddImagePart(TnMultiPartChunkData, 8, 8, TnPixelMono8).IsOK());
    EXPECT_FALSE(lContainer->AddImagePart(TnMultiPartInvalid, 8, 8, TnPixelMono8).IsOK());
    EXPECT_FALSE(lContainer->AddImagePart(TnMultiPart2DImage, 0, 8, TnPixelMono8).IsOK());
    EXPECT_FALSE(lContainer->AddImagePart(TnMultiPart2DImage, 8, 8, TnPixelUndefined).IsOK());
    EXPECT_FALSE(lContainer->AddImagePart(TnMultiPart2DImage, 0x10000, 0x10000, TnPixelRGB8).IsOK());
    EXPECT_FALSE(lContainer->AddJPEGPart(TnMultiPart2DImage, 8, 0, 0, 0).IsOK());
    EXPECT_FALSE(lContainer->AddJPEGPart(TnMultiPartJPEG2000Image, 0, 0, 0, 0).IsOK());
    EXPECT_FALSE(lContainer->AddChunkPart(0, 0).IsOK());
    EXPECT_EQ(lContainer->GetPartCount(), 0u);

    // The chunk-data part is the last one.
    ASSERT_TRUE(lContainer->AddChunkPart(16, 0).IsOK());
    EXPECT_FALSE(lContainer->AddChunkPart(16, 0).IsOK());
    EXPECT_FALSE(lContainer->AddJPEGPart(TnMultiPartJPEGImage, 8, 0, 0, 0).IsOK());
    EXPECT_EQ(lContainer->GetPartCount(), 1u);

    lContainer->Reset();
    for (uint32_t lIndex = 0; lIndex < 256; ++lIndex)
    {
        ASSERT_TRUE(lContainer->AddJPEGPart(TnMultiPartJPEGImage, 1, 0, 0, 0).IsOK());
    }
    EXPECT_FALSE(lContainer->AddJPEGPart(TnMultiPartJPEGImage, 1, 0, 0, 0).IsOK());
    EXPECT_EQ(lContainer->GetPartCount(), 256u);
}

TEST(MultiPart, PartMemoryOfItsOwnOrAttached)
{
    TnBuffer lBuffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *lContainer = Build(lBuffer);
    std::vector<uint8_t> lMemory(100, 0xEE);

    EXPECT_EQ(lContainer->AttachPart(1, lMemory.data(), 99).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(lContainer->AttachPart(1, nullptr, 100).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lContainer->AttachPart(5, lMemory.data(), 100).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lContainer->GetPart(1)->GetDataPointer(), nullptr);
    EXPECT_EQ(lContainer->GetPart(1)->GetEffectiveSize(), 0u);

    ASSERT_TRUE(lContainer->AttachPart(1, lMemory.data(), 100).IsOK());
    EXPECT_EQ(lContainer->GetPart(1)->GetDataPointer(), lMemory.data());
    ASSERT_TRUE(lContainer->AllocPart(0).IsOK());
    ASSERT_TRUE(lContainer->AllocPart(2).IsOK());
    EXPECT_TRUE(lContainer->Validate().IsOK());
    EXPECT_EQ(lContainer->AllocPart(3).GetCode(), TN_INVALID_PARAMETER);
    const uint8_t *lOwn = lContainer->GetPart(0)->GetDataPointer();
    ASSERT_NE(lOwn, nullptr);
    EXPECT_EQ(lOwn[79], 0);

    // The buffer's memory is no part's: replacing it leaves the parts alone.
    ASSERT_TRUE(lBuffer.Alloc(8).IsOK());
    EXPECT_EQ(lContainer->GetPart(0)->GetDataPointer(), lOwn);
    EXPECT_EQ(lContainer->GetPart(1)->GetDataPointer(), lMemory.data());
}

TEST(MultiPart, PartsInTheBufferMemoryLoseItWithTheBuffer)
{
    TnBuffer lBuffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *lContainer = Build(lBuffer);
    ASSERT_TRUE(lContainer->AllocAllParts().IsOK());
    ITnMultiPartSection *lImage = lContainer->GetPart(0);

    std::vector<uint8_t> lMemory(16);
    ASSERT_TRUE(lBuffer.Attach(lMemory.data(), uint32_t(lMemory.size())).IsOK());
    EXPECT_EQ(lImage->GetDataPointer(), nullptr);
    EXPECT_EQ(lImage->GetImage()->GetDataPointer(), nullptr);
    EXPECT_EQ(lImage->GetSize(), 0u);
    EXPECT_EQ(lContainer->Validate().GetCode(), TN_BUFFER_TOO_SMALL);

    // A section handed out before Reset stays a valid object.
    lContainer->Reset();
    EXPECT_EQ(lContainer->GetPartCount(), 0u);
    EXPECT_EQ(lImage->GetDataPointer(), nullptr);
    lBuffer.Reset(TnPayloadTypeMultiPart);
    EXPECT_EQ(lBuffer.GetMultiPartContainer(), lContainer);
}

TEST(MultiPart, ChunkPartReadFromItsConfirmedLength)
{
    TnBuffer lBuffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *lContainer = lBuffer.GetMultiPartContainer();
    ASSERT_TRUE(lContainer->AddChunkPart(32, 1).IsOK());
    ASSERT_TRUE(lContainer->AllocPart(0).IsOK());
    ITnMultiPartSection *lSection = lContainer->GetPart(0);
    // Chunk bytes written by hand into the part.
    uint8_t *lData = lSection->GetDataPointer();
    const uint8_t lBytes[12] = {0xAA, 0xBB, 0xCC, 0xDD, 0, 0, 0, 0x42, 0, 0, 0, 4};
    memcpy(lData, lBytes, sizeof(lBytes));
    ASSERT_TRUE(lContainer->SetPartFinalLength(0, 12).IsOK());
    EXPECT_EQ(lSection->GetEffectiveSize(), 12u);
    ITnChunkData *lChunks = lSection->GetChunkData();
    ASSERT_EQ(lChunks->GetChunkCount(), 1u);
    EXPECT_EQ(lChunks->GetChunkRawDataByID(0x42), lData);
    EXPECT_FALSE(lChunks->AddChunk(1, lBytes, 1).IsOK());
    lChunks->ResetChunks();
    EXPECT_EQ(lSection->GetEffectiveSize(), 0u);
    EXPECT_TRUE(lChunks->AddChunk(1, lBytes, 1).IsOK());
}

TEST(MultiPart, ReceivedLayout)
{
    TnBuffer lBuffer;
    ASSERT_TRUE(lBuffer.Alloc(128).IsOK());
    ASSERT_TRUE(tn::buffer::BeginBlock(lBuffer, TnPayloadTypeMultiPart).IsOK());

    tn::buffer::ReceivedPart lParts[2];
    lParts[0].mDataType = TnMultiPartConfidenceMap;
    lParts[0].mOffset = 0;
    lParts[0].mSize = 64;
    lParts[0].mEffectiveSize = 48;
    lParts[0].mGeometry.mPixelType = TnPixelMono8;
    lParts[0].mGeometry.mWidth = 8;
    lParts[0].mGeometry.mHeight = 6;
    lParts[0].mSourceID = 4;
    lParts[1].mDataType = TnMultiPartChunkData;
    lParts[1].mOffset = 64;
    lParts[1].mSize = 64;
    lParts[1].mEffectiveSize = 12;
    const uint8_t lChunk[12] = {1, 2, 3, 4, 0, 0, 0, 0x21, 0, 0, 0, 4};
    ASSERT_TRUE(tn::buffer::WriteBlockData(lBuffer, 64, lChunk, sizeof(lChunk)).IsOK());
    ASSERT_TRUE(tn::buffer::SetMultiPartLayout(lBuffer, lParts, 2).IsOK());

    ITnMultiPartContainer *lContainer = lBuffer.GetMultiPartContainer();
    ASSERT_EQ(lContainer->GetPartCount(), 2u);
    ITnMultiPartSection *lMap = lContainer->GetPart(0);
    EXPECT_EQ(lMap->GetSize(), 64u);
    EXPECT_EQ(lMap->GetEffectiveSize(), 48u);
    EXPECT_EQ(lMap->GetSourceID(), 4u);
    ASSERT_NE(lMap->GetImage(), nullptr);
    EXPECT_EQ(lMap->GetImage()->GetHeight(), 6u);
    EXPECT_EQ(lBuffer.GetChunkCount(), 1u);
    EXPECT_EQ(lBuffer.GetChunkRawDataByID(0x21), lBuffer.GetDataPointer() + 64);

    // Parts that do not fit the memory leave the container empty.
    lParts[1].mOffset = 65;
    EXPECT_FALSE(tn::buffer::SetMultiPartLayout(lBuffer, lParts, 2).IsOK());
    EXPECT_EQ(lContainer->GetPartCount(), 0u);
    lParts[1].mOffset = 64;
    lParts[0].mGeometry.mHeight = 9;
    EXPECT_FALSE(tn::buffer::SetMultiPartLayout(lBuffer, lParts, 2).IsOK());
    lParts[0].mGeometry.mHeight = 6;
    lParts[0].mEffectiveSize = 65;
    EXPECT_FALSE(tn::buffer::SetMultiPartLayout(lBuffer, lParts, 2).IsOK());
}
