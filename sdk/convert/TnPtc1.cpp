#include "TnPtc1.h"

#include <string.h>

#include <algorithm>
#include <atomic>
#include <new>

#include <zstd.h>
#include <zstd_errors.h>

#include "TnCheckedSize.h"
#include "TnChecksum.h"
#include "TnConvertKernels.h"
#include "TnConvertTable.h"
#include "TnMemory.h"
#include "TnText.h"

namespace tn
{
namespace convert
{
namespace ptc1
{
namespace
{
constexpr uint8_t kMagic[4] = {'P', 'T', 'C', '1'};
constexpr uint16_t kVersion = 1;
constexpr int kLevel = 1;
constexpr uint64_t kMaximumBands = 64;
constexpr uint64_t kSmallestBand = 65536; // bytes of image a band holds at least
constexpr uint64_t kMaximumSize = 0xFFFFFFFFull;

enum Mode : uint16_t
{
    kModeBytes = 0,
    kModeSamples8 = 1,
    kModeSamples16 = 2,
    kModePacked = 3
};

/// How an image is cut into samples and bands; a function of its pixel type
/// and geometry alone.
struct Plan
{
    Mode mMode = kModeBytes;
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
    uint32_t mSamples = 0;    ///< samples of a row
    uint32_t mStep = 1;       ///< samples from one to its left neighbour
    uint32_t mRowStep = 1;    ///< rows from one to the row it is predicted from
    uint32_t mComponents = 0; ///< of RGB pixels predicted after green is taken from red and blue; else 0
    Packing mPacking = Packing::Byte;
    uint32_t mBits = 0;
    uint64_t mRowBytes = 0;
    uint64_t mStride = 0;
    uint64_t mImageSize = 0;
    uint32_t mPaddingX = 0;
    uint32_t mPaddingY = 0;

    uint32_t SampleBytes() const { return mMode == kModeSamples8 ? 1 : 2; }
};

/// The plan of an image in its own mode, or with aBytes in the bytes mode
/// (which every image may take).
bool MakePlan(const ImageInfo &aImage, Plan &aPlan, bool aBytes = false)
{
    const uint32_t lBitsPerPixel = TnPixelTypeGetBitsPerPixel(aImage.mPixelType);
    const uint32_t lBitsPerComponent = TnPixelTypeGetBitsPerComponent(aImage.mPixelType);
    if (lBitsPerPixel == 0 || lBitsPerComponent == 0 || aImage.mWidth == 0 || aImage.mHeight == 0)
    {
        return false;
    }
    uint32_t lSize = 0;
    if (!buffer::ComputeImageSize(aImage, lSize))
    {
        return false;
    }
    Plan lPlan;
    lPlan.mWidth = aImage.mWidth;
    lPlan.mHeight = aImage.mHeight;
    lPlan.mImageSize = lSize;
    lPlan.mRowBytes = (uint64_t(aImage.mWidth) * lBitsPerPixel + 7) / 8;
    lPlan.mStride = lPlan.mRowBytes + aImage.mPaddingX;
    lPlan.mPaddingX = aImage.mPaddingX;
    lPlan.mPaddingY = aImage.mPaddingY;
    const SourceFormat *lFormat = FindSourceFormat(aImage.mPixelType);
    const bool lBayer = lFormat != nullptr && lFormat->mKind == SourceKind::Bayer;
    const bool lPacked = lFormat != nullptr && lFormat->mPacking != Packing::Byte && lFormat->mPacking != Packing::Word;
    const bool lWholeBytes = uint64_t(aImage.mWidth) * lBitsPerPixel % 8 == 0;
    uint32_t lComponents = 1;
    if (lPacked)
    {
        lPlan.mMode = lWholeBytes ? kModePacked : kModeBytes;
        lPlan.mPacking = lFormat->mPacking;
        lPlan.mBits = lFormat->mBits;
        lPlan.mSamples = aImage.mWidth;
    }
    else if (lBitsPerPixel % 8 == 0 && lBitsPerComponent <= 8 && lBitsPerPixel <= 32)
    {
        lPlan.mMode = kModeSamples8;
        lComponents = lBitsPerPixel / 8;
        lPlan.mSamples = uint32_t(lPlan.mRowBytes);
    }
    else if (lBitsPerPixel % 16 == 0 && lBitsPerComponent <= 16 && lBitsPerPixel <= 64)
    {
        lPlan.mMode = kModeSamples16;
        lComponents = lBitsPerPixel / 16;
        lPlan.mSamples = uint32_t(lPlan.mRowBytes / 2);
    }
    if (aBytes)
    {
        lPlan.mMode = kModeBytes;
    }
    lPlan.mStep = lBayer ? 2 : lComponents;
    lPlan.mRowStep = lBayer ? 2 : 1;
    switch (aImage.mPixelType)
    {
    case TnPixelRGB8:
    case TnPixelBGR8:
    case TnPixelRGBa8:
    case TnPixelBGRa8:
        lPlan.mComponents = lComponents;
        break;
    default:
        break;
    }
    aPlan = lPlan;
    return true;
}

/// Whether packing the samples of each row gives its bytes back: not so for
/// GigE Vision 10-bit groups whose middle byte has bits set that no pixel
/// uses.
bool Repacks(const Plan &aPlan, const uint8_t *aPixels)
{
    if (aPlan.mMode != kModePacked || aPlan.mPacking != Packing::Gev10)
    {
        return true;
    }
    for (uint32_t lRow = 0; lRow < aPlan.mHeight; ++lRow)
    {
        const uint8_t *lGroup = aPixels + lRow * aPlan.mStride;
        for (uint32_t lX = 0; lX < aPlan.mWidth; lX += 2, lGroup += 3)
        {
            if ((lGroup[1] & 0xCC) != 0)
            {
                return false;
            }
        }
    }
    return true;
}

/// The plan for the mode a header names: the image's own or the bytes mode.
bool PlanOf(const ImageInfo &aImage, uint16_t aMode, Plan &aPlan)
{
    return MakePlan(aImage, aPlan, aMode == kModeBytes) && aPlan.mMode == aMode;
}

uint64_t Units(const Plan &aPlan)
{
    return aPlan.mMode == kModeBytes ? aPlan.mImageSize : aPlan.mHeight;
}

/// What the encoder takes for a band: rows, or bytes in the bytes mode.
uint32_t ChooseBandUnit(const Plan &aPlan)
{
    if (aPlan.mMode == kModeBytes)
    {
        return uint32_t(std::max((aPlan.mImageSize + kMaximumBands - 1) / kMaximumBands, kSmallestBand));
    }
    uint64_t lRows = std::max((uint64_t(aPlan.mHeight) + kMaximumBands - 1) / kMaximumBands,
                              (kSmallestBand + aPlan.mStride - 1) / aPlan.mStride);
    lRows += lRows % aPlan.mRowStep;
    return uint32_t(std::min<uint64_t>(lRows, aPlan.mHeight));
}

struct Band
{
    uint32_t mFirstRow = 0;
    uint32_t mRows = 0;
    bool mLast = false;
    uint64_t mBegin = 0; ///< the band's bytes of the image
    uint64_t mEnd = 0;
    uint64_t mStreamSize = 0;
};

Band BandOf(const Plan &aPlan, uint32_t aUnit, uint32_t aCount, uint32_t aIndex)
{
    Band lBand;
    lBand.mLast = aIndex + 1 == aCount;
    if (aPlan.mMode == kModeBytes)
    {
        lBand.mBegin = uint64_t(aIndex) * aUnit;
        lBand.mEnd = std::min(lBand.mBegin + aUnit, aPlan.mImageSize);
        lBand.mStreamSize = lBand.mEnd - lBand.mBegin;
        return lBand;
    }
    lBand.mFirstRow = aIndex * aUnit;
    lBand.mRows = std::min(aUnit, aPlan.mHeight - lBand.mFirstRow);
    const uint64_t lPaddingY = lBand.mLast ? aPlan.mPaddingY : 0;
    lBand.mBegin = lBand.mFirstRow * aPlan.mStride;
    lBand.mEnd = lBand.mBegin + lBand.mRows * aPlan.mStride + lPaddingY;
    lBand.mStreamSize = lBand.mRows * (1 + uint64_t(aPlan.mSamples) * aPlan.SampleBytes() + aPlan.mPaddingX) + lPaddingY;
    return lBand;
}

void Put16(uint8_t *aOut, uint16_t aValue)
{
    aOut[0] = uint8_t(aValue);
    aOut[1] = uint8_t(aValue >> 8);
}

void Put32(uint8_t *aOut, uint32_t aValue)
{
    for (int lByte = 0; lByte < 4; ++lByte)
    {
        aOut[lByte] = uint8_t(aValue >> (8 * lByte));
    }
}

void Put64(uint8_t *aOut, uint64_t aValue)
{
    for (int lByte = 0; lByte < 8; ++lByte)
    {
        aOut[lByte] = uint8_t(aValue >> (8 * lByte));
    }
}

uint16_t Get16(const uint8_t *aIn)
{
    return uint16_t(aIn[0] | (aIn[1] << 8));
}

uint32_t Get32(const uint8_t *aIn)
{
    return uint32_t(aIn[0]) | (uint32_t(aIn[1]) << 8) | (uint32_t(aIn[2]) << 16) | (uint32_t(aIn[3]) << 24);
}

uint64_t Get64(const uint8_t *aIn)
{
    return uint64_t(Get32(aIn)) | (uint64_t(Get32(aIn + 4)) << 32);
}

uint32_t HeaderChecksum(const uint8_t *aHeader)
{
    return uint32_t(Checksum64(aHeader, kHeaderSize - 4));
}

/// A band's row ring: the samples of the last three rows.
template <typename T>
struct Ring
{
    std::vector<T> mRows[3];

    void Prepare(uint32_t aSamples)
    {
        for (std::vector<T> &lRow : mRows)
        {
            lRow.resize(aSamples);
        }
    }

    T *Row(uint32_t aRow) { return mRows[aRow % 3].data(); }
};

/// The samples of one image row, as the predictors see them.
template <typename T>
void LoadRow(const Plan &aPlan, const uint8_t *aIn, T *aSamples)
{
    if (aPlan.mMode == kModePacked)
    {
        UnpackPackedRow(aIn, aPlan.mWidth, aPlan.mPacking, aPlan.mBits, reinterpret_cast<uint16_t *>(aSamples));
        return;
    }
    memcpy(aSamples, aIn, size_t(aPlan.mSamples) * sizeof(T));
    if (aPlan.mComponents != 0)
    {
        const uint32_t lComponents = aPlan.mComponents;
        for (uint32_t lIndex = 0; lIndex + 2 < aPlan.mSamples; lIndex += lComponents)
        {
            aSamples[lIndex] = T(aSamples[lIndex] - aSamples[lIndex + 1]);
            aSamples[lIndex + 2] = T(aSamples[lIndex + 2] - aSamples[lIndex + 1]);
        }
    }
}

/// The inverse of LoadRow.
template <typename T>
void StoreRow(const Plan &aPlan, const T *aSamples, uint8_t *aOut)
{
    if (aPlan.mMode == kModePacked)
    {
        PackPackedRow(reinterpret_cast<const uint16_t *>(aSamples), aPlan.mWidth, aPlan.mPacking, aPlan.mBits, aOut);
        return;
    }
    memcpy(aOut, aSamples, size_t(aPlan.mSamples) * sizeof(T));
    if (aPlan.mComponents != 0)
    {
        const uint32_t lComponents = aPlan.mComponents;
        for (uint32_t lIndex = 0; lIndex + 2 < aPlan.mSamples; lIndex += lComponents)
        {
            aOut[lIndex] = uint8_t(aSamples[lIndex] + aSamples[lIndex + 1]);
            aOut[lIndex + 2] = uint8_t(aSamples[lIndex + 2] + aSamples[lIndex + 1]);
        }
    }
}

void Residuals(const Kernels &aKernels, const uint8_t *aRow, const uint8_t *aAbove, const Plan &aPlan,
               uint32_t aPredictor, uint8_t *aLow, uint8_t *)
{
    aKernels.mResiduals8(aRow, aAbove, aPlan.mSamples, aPlan.mStep, aPredictor, aLow);
}

void Residuals(const Kernels &aKernels, const uint16_t *aRow, const uint16_t *aAbove, const Plan &aPlan,
               uint32_t aPredictor, uint8_t *aLow, uint8_t *aHigh)
{
    aKernels.mResiduals16(aRow, aAbove, aPlan.mSamples, aPlan.mStep, aPredictor, aLow, aHigh);
}

void Costs(const Kernels &aKernels, const uint8_t *aRow, const uint8_t *aAbove, const Plan &aPlan, uint64_t *aCosts)
{
    aKernels.mCosts8(aRow, aAbove, aPlan.mSamples, aPlan.mStep, aCosts);
}

void Costs(const Kernels &aKernels, const uint16_t *aRow, const uint16_t *aAbove, const Plan &aPlan,
           uint64_t *aCosts)
{
    aKernels.mCosts16(aRow, aAbove, aPlan.mSamples, aPlan.mStep, aCosts);
}

void Reconstruct(const Kernels &aKernels, const uint8_t *aLow, const uint8_t *, const uint8_t *aAbove,
                 const Plan &aPlan, uint32_t aPredictor, uint8_t *aRow)
{
    aKernels.mReconstruct8(aLow, aAbove, aPlan.mSamples, aPlan.mStep, aPredictor, aRow);
}

void Reconstruct(const Kernels &aKernels, const uint8_t *aLow, const uint8_t *aHigh, const uint16_t *aAbove,
                 const Plan &aPlan, uint32_t aPredictor, uint16_t *aRow)
{
    aKernels.mReconstruct16(aLow, aHigh, aAbove, aPlan.mSamples, aPlan.mStep, aPredictor, aRow);
}

/// Where the parts of a band's stream start.
struct StreamLayout
{
    uint64_t mLow;
    uint64_t mHigh;
    uint64_t mPadding;
};

StreamLayout LayoutOf(const Plan &aPlan, const Band &aBand)
{
    const uint64_t lPlane = uint64_t(aBand.mRows) * aPlan.mSamples;
    StreamLayout lLayout;
    lLayout.mLow = aBand.mRows;
    lLayout.mHigh = lLayout.mLow + lPlane;
    lLayout.mPadding = lLayout.mLow + lPlane * aPlan.SampleBytes();
    return lLayout;
}

template <typename T>
void EncodeRows(const Plan &aPlan, const Band &aBand, const uint8_t *aPixels, Ring<T> &aRing, uint8_t *aStream)
{
    const Kernels &lKernels = GetKernels();
    const StreamLayout lLayout = LayoutOf(aPlan, aBand);
    aRing.Prepare(aPlan.mSamples);
    for (uint32_t lRow = 0; lRow < aBand.mRows; ++lRow)
    {
        const uint8_t *lIn = aPixels + (aBand.mFirstRow + lRow) * aPlan.mStride;
        T *lSamples = aRing.Row(lRow);
        LoadRow(aPlan, lIn, lSamples);
        const T *lAbove = lRow >= aPlan.mRowStep ? aRing.Row(lRow - aPlan.mRowStep) : nullptr;
        uint32_t lPredictor = 0;
        if (lAbove != nullptr)
        {
            uint64_t lCosts[kPredictorCount];
            Costs(lKernels, lSamples, lAbove, aPlan, lCosts);
            lPredictor = uint32_t(std::min_element(lCosts, lCosts + kPredictorCount) - lCosts);
        }
        aStream[lRow] = uint8_t(lPredictor);
        const uint64_t lAt = uint64_t(lRow) * aPlan.mSamples;
        Residuals(lKernels, lSamples, lAbove, aPlan, lPredictor, aStream + lLayout.mLow + lAt,
                  aStream + lLayout.mHigh + lAt);
        memcpy(aStream + lLayout.mPadding + uint64_t(lRow) * aPlan.mPaddingX, lIn + aPlan.mRowBytes, aPlan.mPaddingX);
    }
    if (aBand.mLast)
    {
        memcpy(aStream + lLayout.mPadding + uint64_t(aBand.mRows) * aPlan.mPaddingX,
               aPixels + uint64_t(aPlan.mHeight) * aPlan.mStride, aPlan.mPaddingY);
    }
}

template <typename T>
bool DecodeRows(const Plan &aPlan, const Band &aBand, const uint8_t *aStream, Ring<T> &aRing, uint8_t *aOut)
{
    const Kernels &lKernels = GetKernels();
    const StreamLayout lLayout = LayoutOf(aPlan, aBand);
    aRing.Prepare(aPlan.mSamples);
    for (uint32_t lRow = 0; lRow < aBand.mRows; ++lRow)
    {
        const uint32_t lPredictor = aStream[lRow];
        if (lPredictor >= kPredictorCount)
        {
            return false;
        }
        uint8_t *lOut = aOut + (aBand.mFirstRow + lRow) * aPlan.mStride;
        T *lSamples = aRing.Row(lRow);
        const T *lAbove = lRow >= aPlan.mRowStep ? aRing.Row(lRow - aPlan.mRowStep) : nullptr;
        const uint64_t lAt = uint64_t(lRow) * aPlan.mSamples;
        Reconstruct(lKernels, aStream + lLayout.mLow + lAt, aStream + lLayout.mHigh + lAt, lAbove, aPlan, lPredictor,
                    lSamples);
        StoreRow(aPlan, lSamples, lOut);
        memcpy(lOut + aPlan.mRowBytes, aStream + lLayout.mPadding + uint64_t(lRow) * aPlan.mPaddingX, aPlan.mPaddingX);
    }
    if (aBand.mLast)
    {
        memcpy(aOut + uint64_t(aPlan.mHeight) * aPlan.mStride,
               aStream + lLayout.mPadding + uint64_t(aBand.mRows) * aPlan.mPaddingX, aPlan.mPaddingY);
    }
    return true;
}

uint64_t BandCount(const Plan &aPlan, uint32_t aUnit)
{
    return (Units(aPlan) + aUnit - 1) / aUnit;
}
} // namespace

HeaderState ReadHeader(const uint8_t *aData, uint64_t aSize, Header &aHeader)
{
    if (aData == nullptr || aSize < sizeof kMagic || memcmp(aData, kMagic, sizeof kMagic) != 0)
    {
        return HeaderState::NotCompressed;
    }
    if (aSize < kHeaderSize || Get32(aData + 76) != HeaderChecksum(aData) || Get16(aData + 4) != kVersion ||
        Get16(aData + 6) != kHeaderSize || Get32(aData + 72) != 0)
    {
        return HeaderState::Corrupted;
    }
    Header lHeader;
    lHeader.mImage.mPixelType = TnPixelType(int32_t(Get32(aData + 8)));
    lHeader.mImage.mWidth = Get32(aData + 12);
    lHeader.mImage.mHeight = Get32(aData + 16);
    lHeader.mImage.mOffsetX = Get32(aData + 20);
    lHeader.mImage.mOffsetY = Get32(aData + 24);
    lHeader.mImage.mPaddingX = Get16(aData + 28);
    lHeader.mImage.mPaddingY = Get16(aData + 30);
    lHeader.mImageSize = Get32(aData + 32);
    lHeader.mPayloadSize = Get32(aData + 36);
    lHeader.mMode = Get16(aData + 40);
    lHeader.mBandCount = Get16(aData + 42);
    lHeader.mBandUnit = Get32(aData + 44);
    lHeader.mImage.mBlockID = Get64(aData + 48);
    lHeader.mImage.mTimestamp = Get64(aData + 56);
    lHeader.mChecksum = Get64(aData + 64);
    Plan lPlan;
    if (!PlanOf(lHeader.mImage, lHeader.mMode, lPlan) || lPlan.mImageSize != lHeader.mImageSize ||
        lHeader.mBandUnit == 0 || lHeader.mBandCount == 0 || BandCount(lPlan, lHeader.mBandUnit) != lHeader.mBandCount ||
        uint64_t(lHeader.mBandCount) * kBandEntrySize > lHeader.mPayloadSize)
    {
        return HeaderState::Corrupted;
    }
    aHeader = lHeader;
    return HeaderState::Valid;
}

bool CanEncode(TnPixelType aPixelType)
{
    ImageInfo lImage;
    lImage.mPixelType = aPixelType;
    lImage.mWidth = 1;
    lImage.mHeight = 1;
    Plan lPlan;
    return MakePlan(lImage, lPlan);
}

struct Encoder::State
{
    ZSTD_CCtx *mContext = nullptr;
    std::vector<uint8_t> mStream;
    Ring<uint8_t> mRing8;
    Ring<uint16_t> mRing16;

    ~State() { ZSTD_freeCCtx(mContext); }
};

Encoder::Encoder() : mState(new State())
{
}

Encoder::~Encoder() = default;

uint64_t Encoder::Bound(const ImageInfo &aImage)
{
    // The image's own mode, or the bytes mode that the encoder may fall back on.
    uint64_t lLargest = 0;
    for (bool lBytes : {false, true})
    {
        Plan lPlan;
        if (!MakePlan(aImage, lPlan, lBytes))
        {
            return 0;
        }
        const uint32_t lUnit = ChooseBandUnit(lPlan);
        const uint32_t lCount = uint32_t(BandCount(lPlan, lUnit));
        CheckedSize lBound = CheckedSize(kHeaderSize) + CheckedSize(lCount) * kBandEntrySize;
        for (uint32_t lIndex = 0; lIndex < lCount; ++lIndex)
        {
            lBound += ZSTD_compressBound(size_t(BandOf(lPlan, lUnit, lCount, lIndex).mStreamSize));
        }
        lLargest = std::max(lLargest, lBound.Saturated(UINT64_MAX));
    }
    return lLargest;
}

TnResult Encoder::Encode(const ImageInfo &aImage, const uint8_t *aPixels, uint8_t *aOut, uint64_t aCapacity,
                         uint64_t &aWritten)
{
    aWritten = 0;
    Plan lPlan;
    if (!MakePlan(aImage, lPlan))
    {
        return TnResult(TN_NOT_SUPPORTED, TnString("no image of a known pixel type and size"));
    }
    if (!Repacks(lPlan, aPixels))
    {
        MakePlan(aImage, lPlan, true);
    }
    const uint32_t lUnit = ChooseBandUnit(lPlan);
    const uint32_t lCount = uint32_t(BandCount(lPlan, lUnit));
    uint64_t lOffset = kHeaderSize + uint64_t(lCount) * kBandEntrySize;
    if (aCapacity < lOffset)
    {
        return TnResult(TN_BUFFER_TOO_SMALL);
    }
    State &lState = *mState;
    if (lState.mContext == nullptr && (lState.mContext = ZSTD_createCCtx()) == nullptr)
    {
        return Failure(TN_NOT_ENOUGH_MEMORY, "no memory for the compressor's state");
    }
    std::vector<uint8_t> lChecksums(size_t(lCount) * 8);
    for (uint32_t lIndex = 0; lIndex < lCount; ++lIndex)
    {
        const Band lBand = BandOf(lPlan, lUnit, lCount, lIndex);
        const uint8_t *lStream = aPixels + lBand.mBegin;
        if (lPlan.mMode != kModeBytes)
        {
            try
            {
                lState.mStream.resize(size_t(lBand.mStreamSize));
            }
            catch (const std::bad_alloc &)
            {
                return NotEnoughMemory("a band of the compressed image", 1, lBand.mStreamSize);
            }
            if (lPlan.mMode == kModeSamples8)
            {
                EncodeRows(lPlan, lBand, aPixels, lState.mRing8, lState.mStream.data());
            }
            else
            {
                EncodeRows(lPlan, lBand, aPixels, lState.mRing16, lState.mStream.data());
            }
            lStream = lState.mStream.data();
        }
        const size_t lCompressed = ZSTD_compressCCtx(lState.mContext, aOut + lOffset, size_t(aCapacity - lOffset),
                                                     lStream, size_t(lBand.mStreamSize), kLevel);
        if (ZSTD_isError(lCompressed))
        {
            if (ZSTD_getErrorCode(lCompressed) == ZSTD_error_dstSize_tooSmall)
            {
                return TnResult(TN_BUFFER_TOO_SMALL);
            }
            return TnResult(TN_GENERIC_ERROR, TnString(ZSTD_getErrorName(lCompressed)));
        }
        const uint64_t lChecksum = Checksum64(aPixels + lBand.mBegin, size_t(lBand.mEnd - lBand.mBegin));
        uint8_t *lEntry = aOut + kHeaderSize + uint64_t(lIndex) * kBandEntrySize;
        Put32(lEntry, uint32_t(lCompressed));
        Put32(lEntry + 4, uint32_t(lBand.mStreamSize));
        Put64(lEntry + 8, lChecksum);
        Put64(lChecksums.data() + 8 * lIndex, lChecksum);
        lOffset += lCompressed;
        if (lOffset > kMaximumSize)
        {
            return TnResult(TN_BUFFER_TOO_SMALL);
        }
    }
    uint8_t *lHeader = aOut;
    memcpy(lHeader, kMagic, sizeof kMagic);
    Put16(lHeader + 4, kVersion);
    Put16(lHeader + 6, kHeaderSize);
    Put32(lHeader + 8, uint32_t(aImage.mPixelType));
    Put32(lHeader + 12, aImage.mWidth);
    Put32(lHeader + 16, aImage.mHeight);
    Put32(lHeader + 20, aImage.mOffsetX);
    Put32(lHeader + 24, aImage.mOffsetY);
    Put16(lHeader + 28, aImage.mPaddingX);
    Put16(lHeader + 30, aImage.mPaddingY);
    Put32(lHeader + 32, uint32_t(lPlan.mImageSize));
    Put32(lHeader + 36, uint32_t(lOffset - kHeaderSize));
    Put16(lHeader + 40, lPlan.mMode);
    Put16(lHeader + 42, uint16_t(lCount));
    Put32(lHeader + 44, lUnit);
    Put64(lHeader + 48, aImage.mBlockID);
    Put64(lHeader + 56, aImage.mTimestamp);
    Put64(lHeader + 64, Checksum64(lChecksums.data(), lChecksums.size()));
    Put32(lHeader + 72, 0);
    Put32(lHeader + 76, HeaderChecksum(lHeader));
    aWritten = lOffset;
    return TnResult(TN_OK);
}

struct Decoder::Slot
{
    ZSTD_DCtx *mContext = nullptr;
    std::vector<uint8_t> mStream;
    Ring<uint8_t> mRing8;
    Ring<uint16_t> mRing16;

    ~Slot() { ZSTD_freeDCtx(mContext); }
};

Decoder::Decoder() = default;

Decoder::~Decoder() = default;

TnResult Decoder::Decode(const Header &aHeader, const uint8_t *aData, uint64_t aSize, uint8_t *aOut,
                         WorkerPool &aPool)
{
    Plan lPlan;
    if (!PlanOf(aHeader.mImage, aHeader.mMode, lPlan) || aSize < kHeaderSize + uint64_t(aHeader.mPayloadSize))
    {
        return TnResult(TN_IMAGE_ERROR, TnString("the compressed image's header is not valid"));
    }
    const uint32_t lCount = aHeader.mBandCount;
    const uint8_t *const lTable = aData + kHeaderSize;
    std::vector<uint64_t> lStarts(lCount);
    std::vector<uint8_t> lChecksums(size_t(lCount) * 8);
    uint64_t lStart = uint64_t(lCount) * kBandEntrySize;
    for (uint32_t lIndex = 0; lIndex < lCount; ++lIndex)
    {
        const uint8_t *lEntry = lTable + uint64_t(lIndex) * kBandEntrySize;
        const Band lBand = BandOf(lPlan, aHeader.mBandUnit, lCount, lIndex);
        if (Get32(lEntry) == 0 || Get32(lEntry + 4) != lBand.mStreamSize)
        {
            return TnResult(TN_IMAGE_ERROR, TnString("the compressed image's band table is corrupted"));
        }
        lStarts[lIndex] = lStart;
        lStart += Get32(lEntry);
        memcpy(lChecksums.data() + 8 * lIndex, lEntry + 8, 8);
    }
    if (lStart != aHeader.mPayloadSize || Checksum64(lChecksums.data(), lChecksums.size()) != aHeader.mChecksum)
    {
        return TnResult(TN_IMAGE_ERROR, TnString("the compressed image's band table is corrupted"));
    }
    try
    {
        while (mSlots.size() <= aPool.GetWorkerCount())
        {
            mSlots.emplace_back(new Slot());
        }
    }
    catch (const std::bad_alloc &)
    {
        return Failure(TN_NOT_ENOUGH_MEMORY, "no memory for the decompressor's states");
    }
    // 0: every band so far is whole; otherwise the first failure's code.
    std::atomic<uint32_t> lFailure{0};
    aPool.Run(lCount, false, [&](uint32_t aIndex, uint32_t aSlot) {
        if (lFailure.load(std::memory_order_relaxed) != 0)
        {
            return;
        }
        Slot &lSlot = *mSlots[aSlot];
        const Band lBand = BandOf(lPlan, aHeader.mBandUnit, lCount, aIndex);
        const uint8_t *lEntry = lTable + uint64_t(aIndex) * kBandEntrySize;
        uint32_t lCode = TN_OK;
        try
        {
            if (lSlot.mContext == nullptr && (lSlot.mContext = ZSTD_createDCtx()) == nullptr)
            {
                throw std::bad_alloc();
            }
            uint8_t *lStream = aOut + lBand.mBegin;
            if (lPlan.mMode != kModeBytes)
            {
                lSlot.mStream.resize(size_t(lBand.mStreamSize));
                lStream = lSlot.mStream.data();
            }
            const size_t lDecoded =
                ZSTD_decompressDCtx(lSlot.mContext, lStream, size_t(lBand.mStreamSize), lTable + lStarts[aIndex],
                                    Get32(lEntry));
            bool lWhole = lDecoded == lBand.mStreamSize;
            if (lWhole && lPlan.mMode == kModeSamples8)
            {
                lWhole = DecodeRows(lPlan, lBand, lStream, lSlot.mRing8, aOut);
            }
            else if (lWhole && lPlan.mMode != kModeBytes)
            {
                lWhole = DecodeRows(lPlan, lBand, lStream, lSlot.mRing16, aOut);
            }
            if (!lWhole || Checksum64(aOut + lBand.mBegin, size_t(lBand.mEnd - lBand.mBegin)) != Get64(lEntry + 8))
            {
                lCode = TN_IMAGE_ERROR;
            }
        }
        catch (const std::bad_alloc &)
        {
            lCode = TN_NOT_ENOUGH_MEMORY;
        }
        if (lCode != TN_OK)
        {
            uint32_t lNone = 0;
            lFailure.compare_exchange_strong(lNone, lCode);
        }
    });
    const uint32_t lCode = lFailure.load();
    if (lCode == TN_IMAGE_ERROR)
    {
        return TnResult(TN_IMAGE_ERROR, TnString("the compressed image is corrupted"));
    }
    if (lCode == TN_NOT_ENOUGH_MEMORY)
    {
        return Failure(TN_NOT_ENOUGH_MEMORY, "no memory for a band of the decompressed image");
    }
    return TnResult(lCode);
}
} // namespace ptc1
} // namespace convert
} // namespace tn
