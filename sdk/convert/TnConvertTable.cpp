#include "TnConvertTable.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "TnBayerPixel.h"

namespace tn
{
namespace convert
{
namespace
{
constexpr uint32_t kBayerRedEven = 2; // mOrder flag: the own colour of even rows is red
// Destinations larger than this go past the caches: more than a core can
// expect to keep of them there.
constexpr uint64_t kStreamFrom = uint64_t(16) << 20;

std::vector<SourceFormat> MakeSourceFormats()
{
    std::vector<SourceFormat> lFormats = {
        {TnPixelMono8, SourceKind::Mono, Packing::Byte, 8, 0},
        {TnPixelMono10, SourceKind::Mono, Packing::Word, 10, 0},
        {TnPixelMono12, SourceKind::Mono, Packing::Word, 12, 0},
        {TnPixelMono14, SourceKind::Mono, Packing::Word, 14, 0},
        {TnPixelMono16, SourceKind::Mono, Packing::Word, 16, 0},
        {TnPixelMono10p, SourceKind::Mono, Packing::BitStream, 10, 0},
        {TnPixelMono12p, SourceKind::Mono, Packing::BitStream, 12, 0},
        {TnPixelMono14p, SourceKind::Mono, Packing::BitStream, 14, 0},
        {TnPixelMono10Packed, SourceKind::Mono, Packing::Gev10, 10, 0},
        {TnPixelMono12Packed, SourceKind::Mono, Packing::Gev12, 12, 0},
        {TnPixelRGB8, SourceKind::Rgb, Packing::Byte, 8, kLayoutRGB8},
        {TnPixelBGR8, SourceKind::Rgb, Packing::Byte, 8, kLayoutBGR8},
        {TnPixelRGBa8, SourceKind::Rgb, Packing::Byte, 8, kLayoutRGBa8},
        {TnPixelBGRa8, SourceKind::Rgb, Packing::Byte, 8, kLayoutBGRa8},
        {TnPixelYUV422_8_UYVY, SourceKind::Yuv, Packing::Byte, 8, 0},
        {TnPixelYUV422_8, SourceKind::Yuv, Packing::Byte, 8, 1},
        {TnPixelBiColorRGBG8, SourceKind::BiColor, Packing::Byte, 8, 0},
        {TnPixelBiColorBGRG8, SourceKind::BiColor, Packing::Byte, 8, 1},
    };
    // The Bayer orders by the colour that starts their even rows.
    struct Order
    {
        uint32_t mOrder;
        TnPixelType m8, m10, m12, m14, m16, m10p, m12p, m14p, m10Packed, m12Packed;
    };
    const Order kOrders[] = {
        {kBayerRedEven | 0, TnPixelBayerRG8, TnPixelBayerRG10, TnPixelBayerRG12, TnPixelBayerRG14, TnPixelBayerRG16,
         TnPixelBayerRG10p, TnPixelBayerRG12p, TnPixelBayerRG14p, TnPixelBayerRG10Packed, TnPixelBayerRG12Packed},
        {kBayerRedEven | 1, TnPixelBayerGR8, TnPixelBayerGR10, TnPixelBayerGR12, TnPixelBayerGR14, TnPixelBayerGR16,
         TnPixelBayerGR10p, TnPixelBayerGR12p, TnPixelBayerGR14p, TnPixelBayerGR10Packed, TnPixelBayerGR12Packed},
        {1, TnPixelBayerGB8, TnPixelBayerGB10, TnPixelBayerGB12, TnPixelBayerGB14, TnPixelBayerGB16,
         TnPixelBayerGB10p, TnPixelBayerGB12p, TnPixelBayerGB14p, TnPixelBayerGB10Packed, TnPixelBayerGB12Packed},
        {0, TnPixelBayerBG8, TnPixelBayerBG10, TnPixelBayerBG12, TnPixelBayerBG14, TnPixelBayerBG16,
         TnPixelBayerBG10p, TnPixelBayerBG12p, TnPixelBayerBG14p, TnPixelBayerBG10Packed, TnPixelBayerBG12Packed},
    };
    for (const Order &lOrder : kOrders)
    {
        const SourceFormat lBayer[] = {
            {lOrder.m8, SourceKind::Bayer, Packing::Byte, 8, lOrder.mOrder},
            {lOrder.m10, SourceKind::Bayer, Packing::Word, 10, lOrder.mOrder},
            {lOrder.m12, SourceKind::Bayer, Packing::Word, 12, lOrder.mOrder},
            {lOrder.m14, SourceKind::Bayer, Packing::Word, 14, lOrder.mOrder},
            {lOrder.m16, SourceKind::Bayer, Packing::Word, 16, lOrder.mOrder},
            {lOrder.m10p, SourceKind::Bayer, Packing::BitStream, 10, lOrder.mOrder},
            {lOrder.m12p, SourceKind::Bayer, Packing::BitStream, 12, lOrder.mOrder},
            {lOrder.m14p, SourceKind::Bayer, Packing::BitStream, 14, lOrder.mOrder},
            {lOrder.m10Packed, SourceKind::Bayer, Packing::Gev10, 10, lOrder.mOrder},
            {lOrder.m12Packed, SourceKind::Bayer, Packing::Gev12, 12, lOrder.mOrder},
        };
        lFormats.insert(lFormats.end(), std::begin(lBayer), std::end(lBayer));
    }
    return lFormats;
}

const std::vector<SourceFormat> &SourceFormats()
{
    static const std::vector<SourceFormat> sFormats = MakeSourceFormats();
    return sFormats;
}

std::vector<Conversion> MakeTable()
{
    const Conversion kColour[] = {
        {nullptr, TnPixelRGB8, DestinationKind::Colour, kLayoutRGB8},
        {nullptr, TnPixelBGR8, DestinationKind::Colour, kLayoutBGR8},
        {nullptr, TnPixelRGBa8, DestinationKind::Colour, kLayoutRGBa8},
        {nullptr, TnPixelBGRa8, DestinationKind::Colour, kLayoutBGRa8},
    };
    const Conversion kMono8 = {nullptr, TnPixelMono8, DestinationKind::Mono8, kLayoutRGB8};
    const Conversion kMono16 = {nullptr, TnPixelMono16, DestinationKind::Mono16, kLayoutRGB8};
    std::vector<Conversion> lTable;
    for (const SourceFormat &lSource : SourceFormats())
    {
        std::vector<Conversion> lEntries;
        lEntries.assign(std::begin(kColour), std::end(kColour));
        if (lSource.mKind == SourceKind::Mono)
        {
            lEntries.insert(lEntries.begin(), {kMono8, kMono16});
        }
        else if (lSource.mKind == SourceKind::Bayer || lSource.mKind == SourceKind::Rgb)
        {
            lEntries.push_back(kMono8);
        }
        for (Conversion &lEntry : lEntries)
        {
            lEntry.mSource = &lSource;
            lTable.push_back(lEntry);
        }
    }
    return lTable;
}

uint64_t RowBytes(uint32_t aWidth, uint32_t aBitsPerPixel)
{
    return (uint64_t(aWidth) * aBitsPerPixel + 7) / 8;
}

/// Where row aRow of an image starts: a byte and the index of its first
/// pixel counted from there (not 0 for packed rows that do not start on a
/// byte, which are counted from the start of the image).
struct RowStart
{
    const uint8_t *mBase;
    uint64_t mFirstPixel;
};

RowStart StartOf(const SourceImage &aImage, uint32_t aBitsPerPixel, uint32_t aRow)
{
    if (aImage.mPaddingX != 0)
    {
        return {aImage.mData + aRow * (RowBytes(aImage.mWidth, aBitsPerPixel) + aImage.mPaddingX), 0};
    }
    const uint64_t lFirst = uint64_t(aRow) * aImage.mWidth;
    if (lFirst * aBitsPerPixel % 8 == 0)
    {
        return {aImage.mData + lFirst * aBitsPerPixel / 8, 0};
    }
    return {aImage.mData, lFirst};
}

/// Pixel aIndex of a packed stream at aBase.
inline uint32_t PackedPixel(const uint8_t *aBase, uint64_t aIndex, Packing aPacking, uint32_t aBits)
{
    switch (aPacking)
    {
    case Packing::Gev10:
    case Packing::Gev12:
    {
        const uint8_t *lGroup = aBase + aIndex / 2 * 3;
        const uint32_t lLowBits = aPacking == Packing::Gev10 ? 2 : 4;
        const uint32_t lLow = (aIndex & 1) ? lGroup[1] >> 4 : lGroup[1] & 0x0F;
        return (uint32_t(lGroup[(aIndex & 1) ? 2 : 0]) << lLowBits) | (lLow & ((1u << lLowBits) - 1));
    }
    default:
    {
        const uint64_t lBit = aIndex * aBits;
        const uint8_t *lBytes = aBase + lBit / 8;
        const uint32_t lShift = uint32_t(lBit % 8);
        const uint32_t lCount = (lShift + aBits + 7) / 8;
        uint32_t lValue = 0;
        for (uint32_t lByte = 0; lByte < lCount; ++lByte)
        {
            lValue |= uint32_t(lBytes[lByte]) << (8 * lByte);
        }
        return (lValue >> lShift) & ((1u << aBits) - 1);
    }
    }
}

/// Row aRow of a source of one sample per pixel, as 16-bit samples.
void UnpackRow(const SourceImage &aImage, const SourceFormat &aFormat, uint32_t aBitsPerPixel, uint32_t aRow,
               uint16_t *aOut)
{
    const RowStart lStart = StartOf(aImage, aBitsPerPixel, aRow);
    const uint32_t lWidth = aImage.mWidth;
    switch (aFormat.mPacking)
    {
    case Packing::Byte:
        for (uint32_t lX = 0; lX < lWidth; ++lX)
        {
            aOut[lX] = lStart.mBase[lX];
        }
        break;
    case Packing::Word:
        memcpy(aOut, lStart.mBase, size_t(lWidth) * 2);
        break;
    default:
        for (uint32_t lX = 0; lX < lWidth; ++lX)
        {
            aOut[lX] = uint16_t(PackedPixel(lStart.mBase, lStart.mFirstPixel + lX, aFormat.mPacking, aFormat.mBits));
        }
        break;
    }
}

/// The rows a conversion band keeps: unpacked 16-bit source rows (the last
/// three asked for, for Bayer interpolation) and an RGB8 row.
class Scratch
{
public:
    Scratch(const SourceImage &aImage, const SourceFormat &aFormat)
        : mImage(aImage), mFormat(aFormat), mBitsPerPixel(TnPixelTypeGetBitsPerPixel(aFormat.mType))
    {
        for (Slot &lSlot : mSlots)
        {
            lSlot.mSamples.resize(aImage.mWidth);
        }
        mColour.resize(size_t(aImage.mWidth) * 3);
    }

    const uint16_t *Row(uint32_t aRow)
    {
        for (Slot &lSlot : mSlots)
        {
            if (lSlot.mRow == int64_t(aRow))
            {
                return lSlot.mSamples.data();
            }
        }
        // Rows are asked for in rising order, at most three at a time: the
        // lowest row kept is the one no longer needed.
        Slot *lOldest = &mSlots[0];
        for (Slot &lSlot : mSlots)
        {
            lOldest = lSlot.mRow < lOldest->mRow ? &lSlot : lOldest;
        }
        Slot &lSlot = *lOldest;
        UnpackRow(mImage, mFormat, mBitsPerPixel, aRow, lSlot.mSamples.data());
        lSlot.mRow = aRow;
        return lSlot.mSamples.data();
    }

    const uint8_t *Bytes(uint32_t aRow) const { return StartOf(mImage, mBitsPerPixel, aRow).mBase; }

    uint8_t *Colour() { return mColour.data(); }

    uint32_t BitsPerPixel() const { return mBitsPerPixel; }

private:
    struct Slot
    {
        int64_t mRow = -1;
        std::vector<uint16_t> mSamples;
    };

    const SourceImage &mImage;
    const SourceFormat &mFormat;
    uint32_t mBitsPerPixel;
    Slot mSlots[3];
    std::vector<uint8_t> mColour;
};

void StoreColour(uint8_t *aOut, const LayoutInfo &aLayout, uint32_t aRed, uint32_t aGreen, uint32_t aBlue)
{
    aOut[aLayout.mRed] = uint8_t(aRed);
    aOut[aLayout.mGreen] = uint8_t(aGreen);
    aOut[aLayout.mBlue] = uint8_t(aBlue);
    if (aLayout.mAlpha >= 0)
    {
        aOut[aLayout.mAlpha] = 255;
    }
}

/// The own colour of row y of a Bayer source: its x parity and whether it
/// is red.
void BayerRow(uint32_t aOrder, uint32_t aRow, uint32_t &aParity, bool &aRed)
{
    aParity = (aOrder & 1) ^ (aRow & 1);
    aRed = ((aOrder & kBayerRedEven) != 0) != ((aRow & 1) != 0);
}

/// One row of a Bayer source into a colour layout.
void BayerRowToColour(const Conversion &aConversion, const SourceImage &aImage, const ConvertOptions &aOptions,
                      Scratch &aScratch, uint32_t aRow, Layout aLayout, uint8_t *aOut)
{
    const SourceFormat &lFormat = *aConversion.mSource;
    const LayoutInfo &lLayout = kLayouts[aLayout];
    const uint32_t lWidth = aImage.mWidth, lHeight = aImage.mHeight;
    const bool lSimple = aOptions.mBayerFilter == TnBayerFilterSimple;
    // The rows the interpolation reads: above, own, below for 3x3; the
    // block's two rows (the last row takes the block that ends there) for 2x2.
    uint32_t lFirst, lSecond, lThird;
    if (lSimple)
    {
        lFirst = aRow + 1 < lHeight ? aRow : (lHeight >= 2 ? lHeight - 2 : 0);
        lSecond = lFirst + 1 < lHeight ? lFirst + 1 : lFirst;
        lThird = lSecond;
    }
    else
    {
        lFirst = Reflect(int64_t(aRow) - 1, lHeight);
        lSecond = aRow;
        lThird = Reflect(int64_t(aRow) + 1, lHeight);
    }
    uint32_t lParity;
    bool lRed;
    BayerRow(lFormat.mOrder, lSimple ? lFirst : aRow, lParity, lRed);
    const uint32_t lOwn = lRed ? 0 : 2, lOther = lRed ? 2 : 0;
    uint32_t lColours[3];
    if (lFormat.mPacking == Packing::Byte)
    {
        const Kernels &lKernels = GetKernels();
        const uint8_t *lA = aScratch.Bytes(lFirst), *lB = aScratch.Bytes(lSecond), *lC = aScratch.Bytes(lThird);
        if (lSimple)
        {
            if (lWidth >= 2)
            {
                lKernels.mBayer2x2[aLayout][lRed](lA, lB, aOut, 0, lWidth - 1, lParity);
            }
            Bayer2x2Pixel(lA, lB, lWidth - 1, lWidth, lParity, lColours);
            StoreColour(aOut + uint64_t(lWidth - 1) * lLayout.mBytes, lLayout, lColours[lOwn], lColours[1],
                        lColours[lOther]);
            return;
        }
        if (lWidth >= 3)
        {
            lKernels.mBayer3x3[aLayout][lRed](lA, lB, lC, aOut, 1, lWidth - 1, lParity);
        }
        for (uint32_t lX : {0u, lWidth - 1})
        {
            Bayer3x3Pixel(lA, lB, lC, lX, lWidth, lParity, lColours);
            StoreColour(aOut + uint64_t(lX) * lLayout.mBytes, lLayout, lColours[lOwn], lColours[1], lColours[lOther]);
        }
        return;
    }
    // Samples of more than 8 bits: interpolated at full precision, then the
    // top 8 bits kept.
    const uint32_t lShift = lFormat.mBits - 8;
    const uint16_t *lA = aScratch.Row(lFirst), *lB = aScratch.Row(lSecond), *lC = aScratch.Row(lThird);
    for (uint32_t lX = 0; lX < lWidth; ++lX)
    {
        if (lSimple)
        {
            Bayer2x2Pixel(lA, lB, lX, lWidth, lParity, lColours);
        }
        else
        {
            Bayer3x3Pixel(lA, lB, lC, lX, lWidth, lParity, lColours);
        }
        StoreColour(aOut + uint64_t(lX) * lLayout.mBytes, lLayout, std::min(lColours[lOwn] >> lShift, 255u),
                    std::min(lColours[1] >> lShift, 255u), std::min(lColours[lOther] >> lShift, 255u));
    }
}

/// One row of a bi-colour source: every pixel its own colour (red or blue by
/// pixel parity) and green; the other colour from the next pixel (1X2) or
/// both neighbours (1X3).
void BiColorRowToColour(const SourceFormat &aFormat, const ConvertOptions &aOptions, const uint8_t *aIn,
                        uint32_t aWidth, const LayoutInfo &aLayout, uint8_t *aOut)
{
    for (uint32_t lX = 0; lX < aWidth; ++lX)
    {
        uint32_t lOther;
        if (aOptions.mBiColorFilter == TnBiColorFilter1X3)
        {
            lOther = (uint32_t(aIn[2 * Reflect(int64_t(lX) - 1, aWidth)]) + aIn[2 * Reflect(int64_t(lX) + 1, aWidth)] +
                      1) >> 1;
        }
        else
        {
            lOther = aIn[2 * (lX + 1 < aWidth ? lX + 1 : (lX > 0 ? lX - 1 : lX))];
        }
        const uint32_t lOwn = aIn[2 * lX];
        const bool lOwnIsRed = ((lX & 1) == 0) == (aFormat.mOrder == 0);
        StoreColour(aOut + uint64_t(lX) * aLayout.mBytes, aLayout, lOwnIsRed ? lOwn : lOther, aIn[2 * lX + 1],
                    lOwnIsRed ? lOther : lOwn);
    }
}

/// One row of a colour source into a colour layout, past the caches with
/// aStream where a kernel can (not where the colour filter reads the row
/// back).
void ColourRow(const Conversion &aConversion, const SourceImage &aImage, const ConvertOptions &aOptions,
               Scratch &aScratch, uint32_t aRow, Layout aLayout, uint8_t *aOut, bool aStream = false)
{
    const SourceFormat &lFormat = *aConversion.mSource;
    const Kernels &lKernels = GetKernels();
    switch (lFormat.mKind)
    {
    case SourceKind::Bayer:
        BayerRowToColour(aConversion, aImage, aOptions, aScratch, aRow, aLayout, aOut);
        break;
    case SourceKind::Rgb:
    {
        const auto &lToRgb = aStream && aOptions.mLookUp == nullptr ? lKernels.mRgbToRgbStreaming : lKernels.mRgbToRgb;
        lToRgb[lFormat.mOrder][aLayout](aScratch.Bytes(aRow), aOut, aImage.mWidth);
        break;
    }
    case SourceKind::Yuv:
        lKernels.mYuv422ToRgb[lFormat.mOrder][aLayout](aScratch.Bytes(aRow), aOut, aImage.mWidth);
        break;
    case SourceKind::BiColor:
        BiColorRowToColour(lFormat, aOptions, aScratch.Bytes(aRow), aImage.mWidth, kLayouts[aLayout], aOut);
        break;
    default:
        break;
    }
    if (aOptions.mLookUp != nullptr)
    {
        const LayoutInfo &lLayout = kLayouts[aLayout];
        uint8_t *lPixel = aOut;
        for (uint32_t lX = 0; lX < aImage.mWidth; ++lX, lPixel += lLayout.mBytes)
        {
            lPixel[lLayout.mRed] = aOptions.mLookUp[0][lPixel[lLayout.mRed]];
            lPixel[lLayout.mGreen] = aOptions.mLookUp[1][lPixel[lLayout.mGreen]];
            lPixel[lLayout.mBlue] = aOptions.mLookUp[2][lPixel[lLayout.mBlue]];
        }
    }
}

void StoreWord(uint8_t *aOut, uint32_t aIndex, uint16_t aValue)
{
    memcpy(aOut + 2 * uint64_t(aIndex), &aValue, 2);
}

/// One row of a monochrome source into Mono8 (aToMono8) or Mono16.
void MonoRow(const SourceFormat &aFormat, bool aToMono8, const SourceImage &aImage, Scratch &aScratch, uint32_t aRow,
             uint8_t *aOut)
{
    const uint32_t lWidth = aImage.mWidth;
    if (aFormat.mPacking == Packing::Byte)
    {
        const uint8_t *lIn = aScratch.Bytes(aRow);
        if (aToMono8)
        {
            memcpy(aOut, lIn, lWidth);
        }
        else
        {
            for (uint32_t lX = 0; lX < lWidth; ++lX)
            {
                StoreWord(aOut, lX, uint16_t(lIn[lX] << 8));
            }
        }
        return;
    }
    if (!aToMono8 && aFormat.mBits == 16)
    {
        memcpy(aOut, aScratch.Bytes(aRow), size_t(lWidth) * 2);
        return;
    }
    if (!aToMono8 && aFormat.mType == TnPixelMono12p && lWidth >= 8)
    {
        const RowStart lStart = StartOf(aImage, 12, aRow);
        if (lStart.mFirstPixel % 2 == 0)
        {
            GetKernels().mMono12pToMono16(lStart.mBase + lStart.mFirstPixel / 2 * 3, aOut, lWidth);
            return;
        }
    }
    const uint16_t *lSamples = aScratch.Row(aRow);
    const uint32_t lBits = aFormat.mBits;
    if (aToMono8)
    {
        for (uint32_t lX = 0; lX < lWidth; ++lX)
        {
            aOut[lX] = uint8_t(std::min<uint32_t>(lSamples[lX] >> (lBits - 8), 255));
        }
    }
    else
    {
        const uint32_t lLimit = 1u << lBits;
        for (uint32_t lX = 0; lX < lWidth; ++lX)
        {
            StoreWord(aOut, lX, lSamples[lX] >= lLimit ? 0xFFFF : uint16_t(lSamples[lX] << (16 - lBits)));
        }
    }
}

/// One row of a monochrome source into a colour layout: its Mono8 level in
/// each colour (the colour filter is for colour sources).
void GreyRow(const SourceFormat &aFormat, const SourceImage &aImage, Scratch &aScratch, uint32_t aRow,
             Layout aLayout, uint8_t *aOut, bool aStream)
{
    const uint8_t *lGrey = aScratch.Bytes(aRow);
    if (aFormat.mPacking != Packing::Byte)
    {
        MonoRow(aFormat, true, aImage, aScratch, aRow, aScratch.Colour());
        lGrey = aScratch.Colour();
    }
    const Kernels &lKernels = GetKernels();
    (aStream ? lKernels.mGreyToColourStreaming : lKernels.mGreyToColour)[aLayout](lGrey, aOut, aImage.mWidth);
}
} // namespace

const SourceFormat *FindSourceFormat(TnPixelType aType)
{
    for (const SourceFormat &lFormat : SourceFormats())
    {
        if (lFormat.mType == aType)
        {
            return &lFormat;
        }
    }
    return nullptr;
}

void UnpackPackedRow(const uint8_t *aRow, uint32_t aCount, Packing aPacking, uint32_t aBits, uint16_t *aOut)
{
    for (uint32_t lX = 0; lX < aCount; ++lX)
    {
        aOut[lX] = uint16_t(PackedPixel(aRow, lX, aPacking, aBits));
    }
}

void PackPackedRow(const uint16_t *aSamples, uint32_t aCount, Packing aPacking, uint32_t aBits, uint8_t *aRow)
{
    const uint32_t lMask = (1u << aBits) - 1;
    if (aPacking == Packing::Gev10 || aPacking == Packing::Gev12)
    {
        const uint32_t lLowBits = aPacking == Packing::Gev10 ? 2 : 4;
        const uint32_t lLowMask = (1u << lLowBits) - 1;
        for (uint32_t lX = 0; lX < aCount; lX += 2)
        {
            uint8_t *lGroup = aRow + lX / 2 * 3;
            const uint32_t lFirst = aSamples[lX] & lMask;
            lGroup[0] = uint8_t(lFirst >> lLowBits);
            uint32_t lMiddle = lFirst & lLowMask;
            if (lX + 1 < aCount)
            {
                const uint32_t lSecond = aSamples[lX + 1] & lMask;
                lMiddle |= (lSecond & lLowMask) << 4;
                lGroup[2] = uint8_t(lSecond >> lLowBits);
            }
            lGroup[1] = uint8_t(lMiddle);
        }
        return;
    }
    memset(aRow, 0, (uint64_t(aCount) * aBits + 7) / 8);
    for (uint32_t lX = 0; lX < aCount; ++lX)
    {
        const uint64_t lBit = uint64_t(lX) * aBits;
        uint8_t *lBytes = aRow + lBit / 8;
        const uint32_t lValue = (aSamples[lX] & lMask) << (lBit % 8);
        for (uint32_t lByte = 0; lByte * 8 < (lBit % 8) + aBits; ++lByte)
        {
            lBytes[lByte] |= uint8_t(lValue >> (8 * lByte));
        }
    }
}

const std::vector<Conversion> &SupportTable()
{
    static const std::vector<Conversion> sTable = MakeTable();
    return sTable;
}

const Conversion *FindConversion(TnPixelType aSource, TnPixelType aDestination)
{
    for (const Conversion &lEntry : SupportTable())
    {
        if (lEntry.mSource->mType == aSource && lEntry.mDestination == aDestination)
        {
            return &lEntry;
        }
    }
    return nullptr;
}

bool ExceedsCaches(uint64_t aBytes)
{
    // kStreamFrom, or the last-level cache where the system reports a
    // smaller one (some report the whole processor's, which no core has).
    static const uint64_t sLimit = [] {
        const long lCache = sysconf(_SC_LEVEL3_CACHE_SIZE);
        return lCache > 0 ? std::min<uint64_t>(uint64_t(lCache), kStreamFrom) : kStreamFrom;
    }();
    return aBytes > sLimit;
}

void ConvertRows(const Conversion &aConversion, const SourceImage &aImage, const ConvertOptions &aOptions,
                 const Target &aTarget, uint32_t aFirst, uint32_t aEnd)
{
    Scratch lScratch(aImage, *aConversion.mSource);
    for (uint32_t lRow = aFirst; lRow < aEnd; ++lRow)
    {
        const uint32_t lPlace = aTarget.mFlip ? aImage.mHeight - 1 - lRow : lRow;
        uint8_t *lOut = aTarget.mData + uint64_t(lPlace - aTarget.mRowOrigin) * aTarget.mStride;
        if (aConversion.mSource->mKind == SourceKind::Mono && aConversion.mDestinationKind == DestinationKind::Colour)
        {
            GreyRow(*aConversion.mSource, aImage, lScratch, lRow, aConversion.mLayout, lOut, aTarget.mStream);
        }
        else if (aConversion.mSource->mKind == SourceKind::Mono)
        {
            MonoRow(*aConversion.mSource, aConversion.mDestinationKind == DestinationKind::Mono8, aImage, lScratch,
                    lRow, lOut);
        }
        else if (aConversion.mDestinationKind == DestinationKind::Colour)
        {
            ColourRow(aConversion, aImage, aOptions, lScratch, lRow, aConversion.mLayout, lOut, aTarget.mStream);
        }
        else
        {
            ColourRow(aConversion, aImage, aOptions, lScratch, lRow, kLayoutRGB8, lScratch.Colour());
            GetKernels().mRgb8ToMono8(lScratch.Colour(), lOut, aImage.mWidth);
        }
    }
    if (aTarget.mStream)
    {
        StreamingDone();
    }
}
} // namespace convert
} // namespace tn
