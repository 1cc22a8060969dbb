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
    tn::buffer::ImageGeometry lGeometry;
    lGeometry.mPixelType = aPixelType;
    lGeometry.mWidth = aWidth;
    lGeometry.mHeight = aHeight;
    lGeometry.mPaddingX = aPaddingX;
    lGeometry.mPaddingY = aPaddingY;
    uint32_t lSize = 0;
    EXPECT_TRUE(tn::buffer::ComputeImageSize(lGeometry, lSize));
    return lSize;
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
    tn::buffer::ImageGeometry lGeometry;
    uint32_t lSize = 1;
    lGeometry.mPixelType = TnPixelUndefined;
    lGeometry.mWidth = 1;
    lGeometry.mHeight = 1;
    EXPECT_FALSE(tn::buffer::ComputeImageSize(lGeometry, lSize));
    EXPECT_EQ(lSize, 0u);

    lGeometry.mPixelType = TnPixelRGB16;
    lGeometry.mWidth = 0xFFFFFFFFu;
    lGeometry.mHeight = 0xFFFFFFFFu;
    EXPECT_FALSE(tn::buffer::ComputeImageSize(lGeometry, lSize));
    lGeometry.mPaddingX = 1;
    EXPECT_FALSE(tn::buffer::ComputeImageSize(lGeometry, lSize));

    // Exactly at the limit, and one byte over it through padding Y.
    lGeometry.mPixelType = TnPixelMono8;
    lGeometry.mPaddingX = 0;
    lGeometry.mWidth = 0xFFFF0000u;
    lGeometry.mHeight = 1;
    lGeometry.mPaddingY = 0xFFFF;
    EXPECT_TRUE(tn::buffer::ComputeImageSize(lGeometry, lSize));
    EXPECT_EQ(lSize, 0xFFFFFFFFu);
    lGeometry.mWidth += 1;
    EXPECT_FALSE(tn::buffer::ComputeImageSize(lGeometry, lSize));
}

TEST(Image, AllocGivesMemoryForImageAndChunks)
{
    TnBuffer lBuffer;
    TnImage *lImage = lBuffer.GetImage();
    ASSERT_NE(lImage, nullptr);
    ASSERT_TRUE(lImage->Alloc(640, 480, TnPixelMono8).IsOK());
    EXPECT_EQ(lImage->GetWidth(), 640u);
    EXPECT_EQ(lImage->GetHeight(), 480u);
    EXPECT_EQ(lImage->GetPixelType(), TnPixelMono8);
    EXPECT_EQ(lImage->GetImageSize(), 640u * 480u);
    EXPECT_EQ(lImage->GetEffectiveImageSize(), 640u * 480u);
    EXPECT_EQ(lImage->GetMaximumChunkLength(), 0u);
    EXPECT_EQ(lBuffer.GetSize(), 640u * 480u);
    EXPECT_EQ(lImage->GetDataPointer(), lBuffer.GetDataPointer());
    EXPECT_TRUE(lImage->IsAllocated());

    ASSERT_TRUE(lImage->Alloc(100, 10, TnPixelRGB8, 4, 12, 64).IsOK());
    EXPECT_EQ(lImage->GetImageSize(), 304u * 10u + 12u);
    EXPECT_EQ(lImage->GetEffectiveImageSize(), 3000u);
    EXPECT_EQ(lImage->GetPaddingX(), 4u);
    EXPECT_EQ(lImage->GetPaddingY(), 12u);
    EXPECT_EQ(lImage->GetMaximumChunkLength(), 64u);
    EXPECT_EQ(lBuffer.GetSize(), lImage->GetImageSize() + 8u + 64u);
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 64u);

    lImage->SetOffsetX(3);
    lImage->SetOffsetY(4);
    EXPECT_EQ(lImage->GetOffsetX(), 3u);
    EXPECT_EQ(lImage->GetOffsetY(), 4u);

    EXPECT_EQ(lImage->Alloc(0, 10, TnPixelMono8).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lImage->Alloc(10, 10, TnPixelUndefined).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lImage->Alloc(65536, 65536, TnPixelMono8, 0, 0, 16).GetCode(), TN_INVALID_PARAMETER);
    // The refused calls left the image as it was.
    EXPECT_EQ(lImage->GetWidth(), 100u);
    EXPECT_EQ(lImage->GetOffsetX(), 3u);
}

TEST(Image, AttachRefusesMemoryTooSmallForTheGeometry)
{
    TnBuffer lBuffer;
    TnImage *lImage = lBuffer.GetImage();
    std::vector<uint8_t> lMemory(640 * 480);

    EXPECT_EQ(lImage->AttachChecked(lMemory.data(), lMemory.size(), 640, 480, TnPixelRGB8, 0, 0, 0).GetCode(),
              TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(lImage->AttachChecked(lMemory.data(), lMemory.size(), 640, 480, TnPixelMono8, 0, 1, 0).GetCode(),
              TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(lImage->Attach(nullptr, 640, 480, TnPixelMono8).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_FALSE(lImage->IsAttached());

    ASSERT_TRUE(lImage->AttachChecked(lMemory.data(), lMemory.size(), 640, 480, TnPixelMono8, 0, 0, 32).IsOK());
    EXPECT_TRUE(lImage->IsAttached());
    EXPECT_EQ(lBuffer.GetSize(), lMemory.size());
    EXPECT_EQ(lImage->GetDataPointer(), lMemory.data());
    // Room for chunks lies apart from the caller's memory.
    EXPECT_EQ(lImage->GetMaximumChunkLength(), 32u);
    const uint8_t lChunk[4] = {9, 9, 9, 9};
    EXPECT_TRUE(lBuffer.AddChunk(7, lChunk, 4).IsOK());
    EXPECT_EQ(lBuffer.GetChunkRawDataByID(7)[0], 9);

    EXPECT_EQ(lImage->Detach(), lMemory.data());
    EXPECT_EQ(lImage->GetWidth(), 640u);
    EXPECT_EQ(lImage->GetHeight(), 480u);
    EXPECT_EQ(lImage->GetDataPointer(), nullptr);
}

TEST(Image, HandsOutNoMemorySmallerThanItsGeometry)
{
    TnBuffer lBuffer;
    TnImage *lImage = lBuffer.GetImage();
    ASSERT_TRUE(lImage->Alloc(64, 64, TnPixelMono16).IsOK());
    std::vector<uint8_t> lSmall(100);
    ASSERT_TRUE(lBuffer.Attach(lSmall.data(), uint32_t(lSmall.size())).IsOK());
    EXPECT_EQ(lImage->GetImageSize(), 64u * 64u * 2u);
    EXPECT_EQ(lImage->GetDataPointer(), nullptr);
    EXPECT_EQ(static_cast<const ITnImage *>(lImage)->GetDataPointer(), nullptr);
}

TEST(Image, StatusFlags)
{
    TnBuffer lBuffer;
    TnImage *lImage = lBuffer.GetImage();
    lImage->SetEOFByLineCount();
    lImage->SetFullLineMissing(true, 17);
    EXPECT_TRUE(lImage->IsEOFByLineCount());
    EXPECT_TRUE(lImage->IsFullLineMissing());
    EXPECT_EQ(tn::buffer::GetImageStatus(lBuffer).mFirstMissingLine, 17u);
    lImage->ClearEOFStatus();
    EXPECT_FALSE(lImage->IsEOFByLineCount());
    EXPECT_FALSE(lImage->IsFullLineMissing());
}
