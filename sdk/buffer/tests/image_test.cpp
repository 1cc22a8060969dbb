#include <gtest/gtest.h>

#include <stdint.h>

#include <vector>

#include "TnBuffer.h"
#include "TnBufferInternal.h"

namespace
{
uint32_t ImageSize(TnPixelType aPixelType, uint32_t aWidth, uint32_t aHeight, uint16_t aPaddingX = 0,
                   uint16_t aPaddingY = 0)
{
    tn::buffer::ImageGeometry geometry;
    geometry.mPixelType = aPixelType;
    geometry.mWidth = aWidth;
    geometry.mHeight = aHeight;
    geometry.mPaddingX = aPaddingX;
    geometry.mPaddingY = aPaddingY;
    uint32_t size = 0;
    EXPECT_TRUE(tn::buffer::ComputeImageSize(geometry, size));
    return size;
}
} // namespace

TEST(ImageGeometry, SizesOfMonoColourAndPackedFormats)
{
    EXPECT_EQ(ImageSize(TnPixelMono8, 640, 480), 640u * 480u);
    EXPECT_EQ(ImageSize(TnPixelMono16, 640, 480), 640u * 480u * 2u);
    EXPECT_EQ(ImageSize(TnPixelRGB8, 640, 480), 640u * 480u * 3u);
    EXPECT_EQ(ImageSize(TnPixelRGBa16, 4, 2), 4u * 2u * 8u);
    EXPECT_EQ(ImageSize(TnPixelYUV422_8_UYVY, 10, 10), 200u);
    // Packed formats: lines follow each other bit for bit.
    EXPECT_EQ(ImageSize(TnPixelMono12Packed, 640, 480), 640u * 480u * 3u / 2u);
    EXPECT_EQ(ImageSize(TnPixelMono12Packed, 3, 1), 5u); // 36 bits
    EXPECT_EQ(ImageSize(TnPixelMono10p, 5, 3), 19u);     // 150 bits
    EXPECT_EQ(ImageSize(TnPixelMono1p, 9, 1), 2u);
}

TEST(ImageGeometry, PaddingIsCountedInBytes)
{
    EXPECT_EQ(ImageSize(TnPixelMono8, 640, 480, 16, 0), 656u * 480u);
    EXPECT_EQ(ImageSize(TnPixelMono16, 100, 10, 4, 32), (200u + 4u) * 10u + 32u);
    EXPECT_EQ(ImageSize(TnPixelRGB8, 2, 2, 0, 7), 12u + 7u);
    // With padding each packed line starts on a byte: 50 bits take 7 bytes.
    EXPECT_EQ(ImageSize(TnPixelMono10p, 5, 3, 1, 0), 3u * (7u + 1u));
}

TEST(ImageGeometry, RefusesSizesBeyondThirtyTwoBits)
{
    tn::buffer::ImageGeometry geometry;
    uint32_t size = 1;
    geometry.mPixelType = TnPixelUndefined;
    geometry.mWidth = 1;
    geometry.mHeight = 1;
    EXPECT_FALSE(tn::buffer::ComputeImageSize(geometry, size));
    EXPECT_EQ(size, 0u);

    geometry.mPixelType = TnPixelRGB16;
    geometry.mWidth = 0xFFFFFFFFu;
    geometry.mHeight = 0xFFFFFFFFu;
    EXPECT_FALSE(tn::buffer::ComputeImageSize(geometry, size));
    geometry.mPaddingX = 1;
    EXPECT_FALSE(tn::buffer::ComputeImageSize(geometry, size));

    // Exactly at the limit, and one byte over it through padding Y.
    geometry.mPixelType = TnPixelMono8;
    geometry.mPaddingX = 0;
    geometry.mWidth = 0xFFFF0000u;
    geometry.mHeight = 1;
    geometry.mPaddingY = 0xFFFF;
    EXPECT_TRUE(tn::buffer::ComputeImageSize(geometry, size));
    EXPECT_EQ(size, 0xFFFFFFFFu);
    geometry.mWidth += 1;
    EXPECT_FALSE(tn::buffer::ComputeImageSize(geometry, size));
}

TEST(Image, AllocGivesMemoryForImageAndChunks)
{
    TnBuffer buffer;
    TnImage *image = buffer.GetImage();
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(image->Alloc(640, 480, TnPixelMono8).IsOK());
    EXPECT_EQ(image->GetWidth(), 640u);
    EXPECT_EQ(image->GetHeight(), 480u);
    EXPECT_EQ(image->GetPixelType(), TnPixelMono8);
    EXPECT_EQ(image->GetImageSize(), 640u * 480u);
    EXPECT_EQ(image->GetEffectiveImageSize(), 640u * 480u);
    EXPECT_EQ(image->GetMaximumChunkLength(), 0u);
    EXPECT_EQ(buffer.GetSize(), 640u * 480u);
    EXPECT_EQ(image->GetDataPointer(), buffer.GetDataPointer());
    EXPECT_TRUE(image->IsAllocated());

    ASSERT_TRUE(image->Alloc(100, 10, TnPixelRGB8, 4, 12, 64).IsOK());
    EXPECT_EQ(image->GetImageSize(), 304u * 10u + 12u);
    EXPECT_EQ(image->GetEffectiveImageSize(), 3000u);
    EXPECT_EQ(image->GetPaddingX(), 4u);
    EXPECT_EQ(image->GetPaddingY(), 12u);
    EXPECT_EQ(image->GetMaximumChunkLength(), 64u);
    EXPECT_EQ(buffer.GetSize(), image->GetImageSize() + 8u + 64u);
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 64u);

    image->SetOffsetX(3);
    image->SetOffsetY(4);
    EXPECT_EQ(image->GetOffsetX(), 3u);
    EXPECT_EQ(image->GetOffsetY(), 4u);

    EXPECT_EQ(image->Alloc(0, 10, TnPixelMono8).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(image->Alloc(10, 10, TnPixelUndefined).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(image->Alloc(65536, 65536, TnPixelMono8, 0, 0, 16).GetCode(), TN_INVALID_PARAMETER);
    // The refused calls left the image as it was.
    EXPECT_EQ(image->GetWidth(), 100u);
    EXPECT_EQ(image->GetOffsetX(), 3u);
}

TEST(Image, AttachRefusesMemoryTooSmallForTheGeometry)
{
    TnBuffer buffer;
    TnImage *image = buffer.GetImage();
    std::vector<uint8_t> memory(640 * 480);

    EXPECT_EQ(image->AttachChecked(memory.data(), memory.size(), 640, 480, TnPixelRGB8, 0, 0, 0).GetCode(),
              TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(image->AttachChecked(memory.data(), memory.size(), 640, 480, TnPixelMono8, 0, 1, 0).GetCode(),
              TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(image->Attach(nullptr, 640, 480, TnPixelMono8).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_FALSE(image->IsAttached());

    ASSERT_TRUE(image->AttachChecked(memory.data(), memory.size(), 640, 480, TnPixelMono8, 0, 0, 32).IsOK());
    EXPECT_TRUE(image->IsAttached());
    EXPECT_EQ(buffer.GetSize(), memory.size());
    EXPECT_EQ(image->GetDataPointer(), memory.data());
    // Room for chunks lies apart from the caller's memory.
    EXPECT_EQ(image->GetMaximumChunkLength(), 32u);
    const uint8_t chunk[4] = {9, 9, 9, 9};
    EXPECT_TRUE(buffer.AddChunk(7, chunk, 4).IsOK());
    EXPECT_EQ(buffer.GetChunkRawDataByID(7)[0], 9);

    EXPECT_EQ(image->Detach(), memory.data());
    EXPECT_EQ(image->GetWidth(), 640u);
    EXPECT_EQ(image->GetHeight(), 480u);
    EXPECT_EQ(image->GetDataPointer(), nullptr);
}

TEST(Image, HandsOutNoMemorySmallerThanItsGeometry)
{
    TnBuffer buffer;
    TnImage *image = buffer.GetImage();
    ASSERT_TRUE(image->Alloc(64, 64, TnPixelMono16).IsOK());
    std::vector<uint8_t> small(100);
    ASSERT_TRUE(buffer.Attach(small.data(), uint32_t(small.size())).IsOK());
    EXPECT_EQ(image->GetImageSize(), 64u * 64u * 2u);
    EXPECT_EQ(image->GetDataPointer(), nullptr);
    EXPECT_EQ(static_cast<const ITnImage *>(image)->GetDataPointer(), nullptr);
}

TEST(Image, StatusFlags)
{
    TnBuffer buffer;
    TnImage *image = buffer.GetImage();
    image->SetEOFByLineCount();
    image->SetFullLineMissing(true, 17);
    EXPECT_TRUE(image->IsEOFByLineCount());
    EXPECT_TRUE(image->IsFullLineMissing());
    EXPECT_EQ(tn::buffer::GetImageStatus(buffer).mFirstMissingLine, 17u);
    image->ClearEOFStatus();
    EXPECT_FALSE(image->IsEOFByLineCount());
    EXPECT_FALSE(image->IsFullLineMissing());
}
