// The compressed image format: round trips of every kind of image, and
// decoding of damaged data that must fail cleanly.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <chrono>
#include <random>
#include <vector>

#include "TnChecksum.h"
#include "TnPtc1.h"

using namespace tn::convert;

namespace
{
uint32_t ImageSize(const ImageInfo &aImage)
{
    uint32_t lSize = 0;
    EXPECT_TRUE(tn::buffer::ComputeImageSize(aImage, lSize));
    return lSize;
}

ImageInfo Image(TnPixelType aPixelType, uint32_t aWidth, uint32_t aHeight, uint16_t aPaddingX = 0,
                      uint16_t aPaddingY = 0)
{
    ImageInfo lImage;
    lImage.mPixelType = aPixelType;
    lImage.mWidth = aWidth;
    lImage.mHeight = aHeight;
    lImage.mPaddingX = aPaddingX;
    lImage.mPaddingY = aPaddingY;
    lImage.mOffsetX = 3;
    lImage.mOffsetY = 4;
    lImage.mBlockID = 77;
    lImage.mTimestamp = 1234567;
    return lImage;
}

/// A smooth picture with noise, so that the predictors have something to do.
std::vector<uint8_t> Picture(uint32_t aSize, uint32_t aSeed)
{
    std::mt19937 lRandom(aSeed);
    std::vector<uint8_t> lBytes(aSize);
    for (uint32_t lIndex = 0; lIndex < aSize; ++lIndex)
    {
        lBytes[lIndex] = uint8_t((lIndex / 7) % 97 + lRandom() % 5);
    }
    return lBytes;
}

struct Compressed
{
    std::vector<uint8_t> mBytes;
    ptc1::Header mHeader;
};

Compressed Compress(const ImageInfo &aImage, const std::vector<uint8_t> &aPixels)
{
    Compressed lCompressed;
    ptc1::Encoder lEncoder;
    lCompressed.mBytes.resize(ptc1::Encoder::Bound(aImage));
    uint64_t lWritten = 0;
    EXPECT_TRUE(
        lEncoder.Encode(aImage, aPixels.data(), lCompressed.mBytes.data(), lCompressed.mBytes.size(), lWritten).IsOK());
    lCompressed.mBytes.resize(lWritten);
    EXPECT_EQ(ptc1::ReadHeader(lCompressed.mBytes.data(), lWritten, lCompressed.mHeader), ptc1::HeaderState::Valid);
    return lCompressed;
}

/// Decodes aBytes whole: the header state, then the result.
TnResult Decode(const std::vector<uint8_t> &aBytes, WorkerPool &aPool, std::vector<uint8_t> &aOut)
{
    ptc1::Header lHeader;
    switch (ptc1::ReadHeader(aBytes.data(), aBytes.size(), lHeader))
    {
    case ptc1::HeaderState::NotCompressed:
        return TnResult(TN_NOT_SUPPORTED);
    case ptc1::HeaderState::Corrupted:
        return TnResult(TN_IMAGE_ERROR);
    default:
        break;
    }
    // Guard bytes behind the image catch a write past it.
    constexpr size_t kGuard = 64;
    aOut.assign(lHeader.mImageSize + kGuard, 0xA5);
    ptc1::Decoder lDecoder;
    const TnResult lResult = lDecoder.Decode(lHeader, aBytes.data(), aBytes.size(), aOut.data(), aPool);
    for (size_t lIndex = lHeader.mImageSize; lIndex < aOut.size(); ++lIndex)
    {
        EXPECT_EQ(aOut[lIndex], 0xA5) << "written past the image";
    }
    aOut.resize(lHeader.mImageSize);
    return lResult;
}
} // namespace

TEST(Checksum, IsXXH64)
{
    EXPECT_EQ(Checksum64("", 0), 0xEF46DB3751D8E999ull);
    EXPECT_EQ(Checksum64("abc", 3), 0x44BC2CF5AD770999ull);
}

TEST(Ptc1, RoundTripsEveryKindOfImage)
{
    WorkerPool lPool;
    lPool.Start(2);
    const TnPixelType kTypes[] = {TnPixelMono8,       TnPixelMono12,      TnPixelMono16,    TnPixelMono10p,
                                  TnPixelMono12p,     TnPixelMono12Packed, TnPixelMono10Packed, TnPixelBayerRG8,
                                  TnPixelBayerGB12,   TnPixelBayerBG12p,  TnPixelRGB8,      TnPixelBGRa8,
                                  TnPixelRGB16,       TnPixelYUV422_8,    TnPixelMono1p,    TnPixelCoord3D_C32f,
                                  TnPixelRGB10p32,    TnPixelBiColorRGBG8};
    // Odd widths put packed rows off their bytes (the bytes mode); paddings
    // travel as they are; tall images make several bands.
    const uint32_t kSizes[][4] = {{1, 1, 0, 0}, {1, 37, 0, 0}, {53, 1, 0, 0}, {63, 21, 0, 0},
                                  {64, 20, 5, 3}, {17, 9, 1, 0}, {256, 700, 0, 0}, {130, 400, 7, 11}};
    for (TnPixelType lType : kTypes)
    {
        for (const auto &lSize : kSizes)
        {
            const ImageInfo lImage = Image(lType, lSize[0], lSize[1], uint16_t(lSize[2]), uint16_t(lSize[3]));
            const std::vector<uint8_t> lPixels = Picture(ImageSize(lImage), lType ^ lSize[0]);
            const Compressed lCompressed = Compress(lImage, lPixels);
            EXPECT_EQ(lCompressed.mHeader.mImage.mBlockID, 77u);
            EXPECT_EQ(lCompressed.mHeader.mImage.mOffsetY, 4u);
            std::vector<uint8_t> lOut;
            ASSERT_TRUE(Decode(lCompressed.mBytes, lPool, lOut).IsOK()) << std::hex << lType << " " << lSize[0];
            EXPECT_EQ(lOut, lPixels) << std::hex << lType << std::dec << " " << lSize[0] << "x" << lSize[1];
        }
    }
}

TEST(Ptc1, NoiseAndFlatImagesRoundTrip)
{
    WorkerPool lPool;
    std::mt19937 lRandom(5);
    for (TnPixelType lType : {TnPixelMono8, TnPixelMono16, TnPixelRGB8})
    {
        const ImageInfo lImage = Image(lType, 300, 200);
        std::vector<uint8_t> lNoise(ImageSize(lImage)), lFlat(ImageSize(lImage), 0xAB);
        for (uint8_t &lByte : lNoise)
        {
            lByte = uint8_t(lRandom());
        }
        for (const std::vector<uint8_t> *lPixels : {&lNoise, &lFlat})
        {
            const Compressed lCompressed = Compress(lImage, *lPixels);
            std::vector<uint8_t> lOut;
            ASSERT_TRUE(Decode(lCompressed.mBytes, lPool, lOut).IsOK());
            EXPECT_EQ(lOut, *lPixels);
        }
        EXPECT_LT(Compress(lImage, lFlat).mBytes.size(), lFlat.size() / 50);
    }
}

TEST(Ptc1, UnknownPixelTypesAreRefused)
{
    EXPECT_FALSE(ptc1::CanEncode(TnPixelUndefined));
    EXPECT_FALSE(ptc1::CanEncode(TnPixelType(0x01080FFF)));
    EXPECT_EQ(ptc1::Encoder::Bound(Image(TnPixelUndefined, 4, 4)), 0u);
    ptc1::Encoder lEncoder;
    uint8_t lOut[256];
    uint64_t lWritten = 1;
    EXPECT_EQ(lEncoder.Encode(Image(TnPixelMono8, 0, 4), lOut, lOut, sizeof lOut, lWritten).GetCode(),
              TN_NOT_SUPPORTED);
    EXPECT_EQ(lWritten, 0u);
}

TEST(Ptc1, TooLittleRoomFailsWithoutWritingPast)
{
    const ImageInfo lImage = Image(TnPixelMono8, 64, 64);
    const std::vector<uint8_t> lPixels = Picture(64 * 64, 1);
    ptc1::Encoder lEncoder;
    std::vector<uint8_t> lOut(4096 + 64, 0xEE);
    for (uint64_t lCapacity : {0u, 40u, 100u, 300u})
    {
        uint64_t lWritten = 0;
        EXPECT_EQ(lEncoder.Encode(lImage, lPixels.data(), lOut.data(), lCapacity, lWritten).GetCode(),
                  TN_BUFFER_TOO_SMALL);
        for (size_t lIndex = lCapacity; lIndex < lOut.size(); ++lIndex)
        {
            ASSERT_EQ(lOut[lIndex], 0xEE);
        }
    }
}

// Damaged compressed images: thousands of mutations (bit flips, changed
// header fields and band entries, cut lengths, junk appended or in place of
// bands) all end in a failed result, never in a crash, a hang or a write past
// the output, and no OK result hands out other bytes than the image's.
TEST(Ptc1, DamagedInputFailsCleanly)
{
    WorkerPool lPool;
    lPool.Start(2);
    std::mt19937 lRandom(20);
    struct Case
    {
        ImageInfo mImage;
        std::vector<uint8_t> mPixels;
        Compressed mCompressed;
    };
    std::vector<Case> lCases;
    for (TnPixelType lType : {TnPixelMono8, TnPixelBayerRG12p, TnPixelRGB8, TnPixelMono16, TnPixelMono1p})
    {
        Case lCase;
        lCase.mImage = Image(lType, 96, 150, 3, 5);
        lCase.mPixels = Picture(ImageSize(lCase.mImage), lType);
        lCase.mCompressed = Compress(lCase.mImage, lCase.mPixels);
        lCases.push_back(lCase);
    }
    const auto lStart = std::chrono::steady_clock::now();
    uint32_t lFailed = 0, lTried = 0;
    for (uint32_t lRound = 0; lRound < 4000; ++lRound)
    {
        const Case &lCase = lCases[lRound % lCases.size()];
        std::vector<uint8_t> lBytes = lCase.mCompressed.mBytes;
        const size_t lSize = lBytes.size();
        switch (lRound % 6)
        {
        case 0: // bit flips anywhere
            for (uint32_t lFlip = 0; lFlip <= lRandom() % 4; ++lFlip)
            {
                lBytes[lRandom() % lSize] ^= uint8_t(1u << (lRandom() % 8));
            }
            break;
        case 1: // cut short
            lBytes.resize(lRandom() % lSize);
            break;
        case 2: // a header field changed, its checksum made right again
        {
            const size_t lAt = lRandom() % 72;
            lBytes[lAt] = uint8_t(lRandom());
            const uint32_t lChecksum = uint32_t(Checksum64(lBytes.data(), 76));
            memcpy(lBytes.data() + 76, &lChecksum, 4);
            break;
        }
        case 3: // a band entry changed
            lBytes[ptc1::kHeaderSize + lRandom() % (lCase.mCompressed.mHeader.mBandCount * 16)] ^=
                uint8_t(1 + lRandom() % 255);
            break;
        case 4: // junk in place of band data
        {
            const size_t lFirst = ptc1::kHeaderSize + lCase.mCompressed.mHeader.mBandCount * 16;
            const size_t lAt = lFirst + lRandom() % (lSize - lFirst);
            for (size_t lIndex = lAt; lIndex < std::min(lSize, lAt + 1 + lRandom() % 64); ++lIndex)
            {
                lBytes[lIndex] = uint8_t(lRandom());
            }
            break;
        }
        default: // junk appended, or bytes dropped from the middle
            if (lRandom() % 2)
            {
                lBytes.insert(lBytes.end(), 1 + lRandom() % 100, uint8_t(lRandom()));
            }
            else
            {
                const size_t lAt = lRandom() % lSize;
                lBytes.erase(lBytes.begin() + lAt, lBytes.begin() + std::min(lSize, lAt + 1 + lRandom() % 50));
            }
            break;
        }
        std::vector<uint8_t> lOut;
        const TnResult lResult = Decode(lBytes, lPool, lOut);
        ++lTried;
        if (lResult.IsOK())
        {
            EXPECT_EQ(lOut, lCase.mPixels) << "round " << lRound;
        }
        else
        {
            ++lFailed;
            EXPECT_TRUE(lResult.GetCode() == TN_IMAGE_ERROR || lResult.GetCode() == TN_NOT_SUPPORTED)
                << lResult.GetCode();
        }
    }
    EXPECT_GT(lFailed, lTried * 3 / 4);
    EXPECT_LT(std::chrono::steady_clock::now() - lStart, std::chrono::seconds(60));
}
