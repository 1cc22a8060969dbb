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
    ITnMultiPartContainer *container = aBuffer.GetMultiPartContainer();
    EXPECT_NE(container, nullptr);
    container->Reset();
    EXPECT_TRUE(container->AddImagePart(TnMultiPart2DImage, 7, 5, TnPixelMono16, 1, 2, 2).IsOK());
    EXPECT_TRUE(container->AddJPEGPart(TnMultiPartJPEGImage, 100, 3, 1000000, 9).IsOK());
    EXPECT_TRUE(container->AddChunkPart(40, 0x77).IsOK());
    return container;
}
} // namespace

TEST(MultiPart, SectionsOfEachDataType)
{
    TnBuffer buffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *container = Build(buffer);
    ASSERT_EQ(container->GetPartCount(), 3u);
    EXPECT_EQ(container->GetPart(3), nullptr);
    EXPECT_EQ(container->Validate().GetCode(), TN_BUFFER_TOO_SMALL);

    ASSERT_TRUE(container->AllocAllParts().IsOK());
    ASSERT_TRUE(container->Validate().IsOK());
    ITnMultiPartSection *image = container->GetPart(0);
    ITnMultiPartSection *jpeg = container->GetPart(1);
    ITnMultiPartSection *chunk = container->GetPart(2);

    // Image: 7 pixels of 2 bytes and 2 bytes of padding per line, 5 lines.
    EXPECT_EQ(image->GetDataType(), TnMultiPart2DImage);
    EXPECT_EQ(image->GetSize(), 80u);
    EXPECT_EQ(image->GetEffectiveSize(), 80u);
    ASSERT_NE(image->GetImage(), nullptr);
    EXPECT_EQ(image->GetJPEG(), nullptr);
    EXPECT_EQ(image->GetChunkData(), nullptr);
    ITnImage *view = image->GetImage();
    EXPECT_EQ(view->GetWidth(), 7u);
    EXPECT_EQ(view->GetHeight(), 5u);
    EXPECT_EQ(view->GetPixelType(), TnPixelMono16);
    EXPECT_EQ(view->GetOffsetX(), 1u);
    EXPECT_EQ(view->GetOffsetY(), 2u);
    EXPECT_EQ(view->GetPaddingX(), 2u);
    EXPECT_EQ(view->GetImageSize(), 80u);
    EXPECT_EQ(view->GetDataPointer(), image->GetDataPointer());

    // JPEG: the whole maximum length until a final length is confirmed.
    ASSERT_NE(jpeg->GetJPEG(), nullptr);
    EXPECT_EQ(jpeg->GetImage(), nullptr);
    EXPECT_EQ(jpeg->GetJPEG()->GetFlag(), 3u);
    EXPECT_EQ(jpeg->GetJPEG()->GetTimestampTickFrequency(), 1000000u);
    EXPECT_EQ(jpeg->GetJPEG()->GetDataFormat(), 9u);
    EXPECT_EQ(jpeg->GetJPEG()->GetDataSize(), 100u);
    ASSERT_TRUE(container->SetPartFinalLength(1, 60).IsOK());
    EXPECT_EQ(jpeg->GetSize(), 100u);
    EXPECT_EQ(jpeg->GetEffectiveSize(), 60u);
    EXPECT_EQ(jpeg->GetJPEG()->GetDataSize(), 60u);
    EXPECT_FALSE(container->SetPartFinalLength(1, 101).IsOK());

    // One block, each part on an 8-byte boundary.
    const uint8_t *memory = buffer.GetDataPointer();
    EXPECT_EQ(image->GetDataPointer(), memory);
    EXPECT_EQ(jpeg->GetDataPointer(), memory + 80);
    EXPECT_EQ(chunk->GetDataPointer(), memory + 184);
    EXPECT_EQ(buffer.GetSize(), 224u);

    // Chunk data: its effective size follows the chunks written.
    ITnChunkData *chunks = chunk->GetChunkData();
    ASSERT_NE(chunks, nullptr);
    EXPECT_EQ(chunks->GetChunkLayoutID(), 0x77u);
    EXPECT_EQ(chunk->GetEffectiveSize(), 0u);
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(chunks->AddChunk(0x99, bytes, 8).IsOK());
    EXPECT_EQ(chunk->GetEffectiveSize(), 16u);
    // The buffer's chunk operations reach the chunk-data part.
    EXPECT_EQ(buffer.GetChunkCount(), 1u);
    EXPECT_EQ(buffer.GetChunkSizeByID(0x99), 8u);
    EXPECT_EQ(buffer.GetPayloadSize(), 80u + 60u + 16u);

    ASSERT_TRUE(container->SetPartFinalImageHeight(0, 3).IsOK());
    EXPECT_EQ(view->GetHeight(), 3u);
    EXPECT_EQ(image->GetEffectiveSize(), 48u);
    EXPECT_FALSE(container->SetPartFinalImageHeight(0, 6).IsOK());
    EXPECT_FALSE(container->SetPartFinalImageHeight(1, 1).IsOK());
}

TEST(MultiPart, IdentifiersAndZones)
{
    TnBuffer buffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *container = Build(buffer);
    ASSERT_TRUE(container->SetPartIDs(1, 10, 20, 30).IsOK());
    ASSERT_TRUE(container->SetPartZoneInfo(1, 2, 0xA0000000u).IsOK());
    const ITnMultiPartContainerReader &reader = *container;
    const ITnMultiPartSection *part = reader.GetPart(1);
    EXPECT_EQ(part->GetSourceID(), 10u);
    EXPECT_EQ(part->GetDataPurposeID(), 20u);
    EXPECT_EQ(part->GetRegionID(), 30u);
    EXPECT_EQ(part->GetAdditionalZones(), 2u);
    EXPECT_EQ(part->GetZoneDirectionMask(), 0xA0000000u);
    EXPECT_EQ(container->SetPartIDs(3, 1, 1, 1).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(container->SetPartZoneInfo(3, 1, 1).GetCode(), TN_INVALID_PARAMETER);
}

TEST(MultiPart, DefinitionsThatAreRefused)
{
    TnBuffer buffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *container = buffer.GetMultiPartContainer();
    EXPECT_EQ(container->AllocAllParts().GetCode(), TN_STATE_ERROR);
    EXPECT_EQ(container->Validate().GetCode(), TN_STATE_ERROR);
    EXPECT_FALSE(container->AddImagePart(TnMultiPartChunkData, 8, 8, TnPixelMono8).IsOK());
    EXPECT_FALSE(container->AddImagePart(TnMultiPartInvalid, 8, 8, TnPixelMono8).IsOK());
    EXPECT_FALSE(container->AddImagePart(TnMultiPart2DImage, 0, 8, TnPixelMono8).IsOK());
    EXPECT_FALSE(container->AddImagePart(TnMultiPart2DImage, 8, 8, TnPixelUndefined).IsOK());
    EXPECT_FALSE(container->AddImagePart(TnMultiPart2DImage, 0x10000, 0x10000, TnPixelRGB8).IsOK());
    EXPECT_FALSE(container->AddJPEGPart(TnMultiPart2DImage, 8, 0, 0, 0).IsOK());
    EXPECT_FALSE(container->AddJPEGPart(TnMultiPartJPEG2000Image, 0, 0, 0, 0).IsOK());
    EXPECT_FALSE(container->AddChunkPart(0, 0).IsOK());
    EXPECT_EQ(container->GetPartCount(), 0u);

    // The chunk-data part is the last one.
    ASSERT_TRUE(container->AddChunkPart(16, 0).IsOK());
    EXPECT_FALSE(container->AddChunkPart(16, 0).IsOK());
    EXPECT_FALSE(container->AddJPEGPart(TnMultiPartJPEGImage, 8, 0, 0, 0).IsOK());
    EXPECT_EQ(container->GetPartCount(), 1u);

    container->Reset();
    for (uint32_t i = 0; i < 256; ++i)
    {
        ASSERT_TRUE(container->AddJPEGPart(TnMultiPartJPEGImage, 1, 0, 0, 0).IsOK());
    }
    EXPECT_FALSE(container->AddJPEGPart(TnMultiPartJPEGImage, 1, 0, 0, 0).IsOK());
    EXPECT_EQ(container->GetPartCount(), 256u);
}

TEST(MultiPart, PartMemoryOfItsOwnOrAttached)
{
    TnBuffer buffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *container = Build(buffer);
    std::vector<uint8_t> memory(100, 0xEE);

    EXPECT_EQ(container->AttachPart(1, memory.data(), 99).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(container->AttachPart(1, nullptr, 100).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(container->AttachPart(5, memory.data(), 100).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(container->GetPart(1)->GetDataPointer(), nullptr);
    EXPECT_EQ(container->GetPart(1)->GetEffectiveSize(), 0u);

    ASSERT_TRUE(container->AttachPart(1, memory.data(), 100).IsOK());
    EXPECT_EQ(container->GetPart(1)->GetDataPointer(), memory.data());
    ASSERT_TRUE(container->AllocPart(0).IsOK());
    ASSERT_TRUE(container->AllocPart(2).IsOK());
    EXPECT_TRUE(container->Validate().IsOK());
    EXPECT_EQ(container->AllocPart(3).GetCode(), TN_INVALID_PARAMETER);
    const uint8_t *own = container->GetPart(0)->GetDataPointer();
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own[79], 0);

    // The buffer's memory is no part's: replacing it leaves the parts alone.
    ASSERT_TRUE(buffer.Alloc(8).IsOK());
    EXPECT_EQ(container->GetPart(0)->GetDataPointer(), own);
    EXPECT_EQ(container->GetPart(1)->GetDataPointer(), memory.data());
}

TEST(MultiPart, PartsInTheBufferMemoryLoseItWithTheBuffer)
{
    TnBuffer buffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *container = Build(buffer);
    ASSERT_TRUE(container->AllocAllParts().IsOK());
    ITnMultiPartSection *image = container->GetPart(0);

    std::vector<uint8_t> memory(16);
    ASSERT_TRUE(buffer.Attach(memory.data(), uint32_t(memory.size())).IsOK());
    EXPECT_EQ(image->GetDataPointer(), nullptr);
    EXPECT_EQ(image->GetImage()->GetDataPointer(), nullptr);
    EXPECT_EQ(image->GetSize(), 0u);
    EXPECT_EQ(container->Validate().GetCode(), TN_BUFFER_TOO_SMALL);

    // A section handed out before Reset stays a valid object.
    container->Reset();
    EXPECT_EQ(container->GetPartCount(), 0u);
    EXPECT_EQ(image->GetDataPointer(), nullptr);
    buffer.Reset(TnPayloadTypeMultiPart);
    EXPECT_EQ(buffer.GetMultiPartContainer(), container);
}

TEST(MultiPart, ChunkPartReadFromItsConfirmedLength)
{
    TnBuffer buffer(TnPayloadTypeMultiPart);
    ITnMultiPartContainer *container = buffer.GetMultiPartContainer();
    ASSERT_TRUE(container->AddChunkPart(32, 1).IsOK());
    ASSERT_TRUE(container->AllocPart(0).IsOK());
    ITnMultiPartSection *section = container->GetPart(0);
    // Chunk bytes written by hand into the part.
    uint8_t *data = section->GetDataPointer();
    const uint8_t bytes[12] = {0xAA, 0xBB, 0xCC, 0xDD, 0, 0, 0, 0x42, 0, 0, 0, 4};
    memcpy(data, bytes, sizeof(bytes));
    ASSERT_TRUE(container->SetPartFinalLength(0, 12).IsOK());
    EXPECT_EQ(section->GetEffectiveSize(), 12u);
    ITnChunkData *chunks = section->GetChunkData();
    ASSERT_EQ(chunks->GetChunkCount(), 1u);
    EXPECT_EQ(chunks->GetChunkRawDataByID(0x42), data);
    EXPECT_FALSE(chunks->AddChunk(1, bytes, 1).IsOK());
    chunks->ResetChunks();
    EXPECT_EQ(section->GetEffectiveSize(), 0u);
    EXPECT_TRUE(chunks->AddChunk(1, bytes, 1).IsOK());
}

TEST(MultiPart, ReceivedLayout)
{
    TnBuffer buffer;
    ASSERT_TRUE(buffer.Alloc(128).IsOK());
    ASSERT_TRUE(tn::buffer::BeginBlock(buffer, TnPayloadTypeMultiPart).IsOK());

    tn::buffer::ReceivedPart parts[2];
    parts[0].mDataType = TnMultiPartConfidenceMap;
    parts[0].mOffset = 0;
    parts[0].mSize = 64;
    parts[0].mEffectiveSize = 48;
    parts[0].mGeometry.mPixelType = TnPixelMono8;
    parts[0].mGeometry.mWidth = 8;
    parts[0].mGeometry.mHeight = 6;
    parts[0].mSourceID = 4;
    parts[1].mDataType = TnMultiPartChunkData;
    parts[1].mOffset = 64;
    parts[1].mSize = 64;
    parts[1].mEffectiveSize = 12;
    const uint8_t chunk[12] = {1, 2, 3, 4, 0, 0, 0, 0x21, 0, 0, 0, 4};
    ASSERT_TRUE(tn::buffer::WriteBlockData(buffer, 64, chunk, sizeof(chunk)).IsOK());
    ASSERT_TRUE(tn::buffer::SetMultiPartLayout(buffer, parts, 2).IsOK());

    ITnMultiPartContainer *container = buffer.GetMultiPartContainer();
    ASSERT_EQ(container->GetPartCount(), 2u);
    ITnMultiPartSection *map = container->GetPart(0);
    EXPECT_EQ(map->GetSize(), 64u);
    EXPECT_EQ(map->GetEffectiveSize(), 48u);
    EXPECT_EQ(map->GetSourceID(), 4u);
    ASSERT_NE(map->GetImage(), nullptr);
    EXPECT_EQ(map->GetImage()->GetHeight(), 6u);
    EXPECT_EQ(buffer.GetChunkCount(), 1u);
    EXPECT_EQ(buffer.GetChunkRawDataByID(0x21), buffer.GetDataPointer() + 64);

    // Parts that do not fit the memory leave the container empty.
    parts[1].mOffset = 65;
    EXPECT_FALSE(tn::buffer::SetMultiPartLayout(buffer, parts, 2).IsOK());
    EXPECT_EQ(container->GetPartCount(), 0u);
    parts[1].mOffset = 64;
    parts[0].mGeometry.mHeight = 9;
    EXPECT_FALSE(tn::buffer::SetMultiPartLayout(buffer, parts, 2).IsOK());
    parts[0].mGeometry.mHeight = 6;
    parts[0].mEffectiveSize = 65;
    EXPECT_FALSE(tn::buffer::SetMultiPartLayout(buffer, parts, 2).IsOK());
}
