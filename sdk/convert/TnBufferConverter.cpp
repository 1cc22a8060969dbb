#include "TnBufferConverter.h"

#include <math.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "TnBuffer.h"
#include "TnConvertBuffers.h"
#include "TnConvertTable.h"
#include "TnImage.h"
#include "TnText.h"
#include "TnWorkerPool.h"

namespace tn
{
namespace convert
{
namespace
{
// Images of fewer pixels are converted on the calling thread alone.
constexpr uint64_t kThreadedPixels = 1u << 16;
// Bands of rows for each thread of a threaded conversion: the threads take
// them in turn, so that one the system keeps waiting leaves its later bands
// to the others.
constexpr uint32_t kBandsPerThread = 4;
// Rows of a band of the white balance's RGB copy.
constexpr uint32_t kBalanceRows = 64;

uint64_t RowBytes(uint32_t aWidth, TnPixelType aPixelType)
{
    return (uint64_t(aWidth) * TnPixelTypeGetBitsPerPixel(aPixelType) + 7) / 8;
}

SourceImage ImageOf(const SourceView &aView)
{
    return SourceImage{aView.mData, aView.mWidth, aView.mHeight, aView.mPaddingX};
}
} // namespace

class ConverterCore
{
public:
    explicit ConverterCore(int32_t aMaxNumberOfThreads)
        : mThreads(aMaxNumberOfThreads <= 0 ? ProcessorCount() : uint32_t(aMaxNumberOfThreads))
    {
    }

    TnResult Convert(const ITnImage *aSource, TnBuffer *aDestination, bool aReallocIfNeeded, bool aFlipY);

    /// Starts the workers besides the calling thread, once.
    TnResult StartWorkers()
    {
        if (mThreads > 1 && mPool.GetWorkerCount() == 0)
        {
            return mPool.Start(mThreads - 1);
        }
        return TnResult(TN_OK);
    }

    mutable std::mutex mLock;
    const uint32_t mThreads;
    WorkerPool mPool;
    TnBayerFilterType mBayerFilter = TnBayerFilter3X3;
    TnBiColorFilterType mBiColorFilter = TnBiColorFilter1X2;
    bool mFiltered = false;
    uint8_t mLookUp[3][256];
};

TnResult ConverterCore::Convert(const ITnImage *aSource, TnBuffer *aDestination, bool aReallocIfNeeded, bool aFlipY)
{
    SourceView lSource;
    TnResult lResult = ViewOf(aSource, lSource);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    TnImage *lImage = aDestination != nullptr ? aDestination->GetImage() : nullptr;
    if (lImage == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the destination is not an image buffer"));
    }
    const TnPixelType lPixelType = lImage->GetPixelType();
    if (lPixelType == TnPixelUndefined)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the destination has no pixel type"));
    }
    const Conversion *lConversion = FindConversion(lSource.mPixelType, lPixelType);
    if (lConversion == nullptr)
    {
        return TnResult(TN_NOT_SUPPORTED, TnString("the converter does not convert these pixel types"));
    }
    if (Overlaps(lSource.mData, lSource.mSize, aDestination->GetDataPointer(), aDestination->GetSize()))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the source and the destination share memory"));
    }
    // A destination of the same geometry keeps its paddings.
    const bool lSame = lImage->GetWidth() == lSource.mWidth && lImage->GetHeight() == lSource.mHeight;
    lResult = FitImage(*aDestination, lPixelType, lSource.mWidth, lSource.mHeight, lSame ? lImage->GetPaddingX() : 0,
                       lSame ? lImage->GetPaddingY() : 0, aReallocIfNeeded);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    Target lTarget{lImage->GetDataPointer(), RowBytes(lSource.mWidth, lPixelType) + lImage->GetPaddingX(), 0, aFlipY};
    lTarget.mStream = ExceedsCaches(lImage->GetImageSize());
    ConvertOptions lOptions;
    lOptions.mBayerFilter = mBayerFilter;
    lOptions.mBiColorFilter = mBiColorFilter;
    lOptions.mLookUp = mFiltered ? mLookUp : nullptr;
    const SourceImage lImageIn = ImageOf(lSource);
    uint32_t lParts = 1;
    if (uint64_t(lSource.mWidth) * lSource.mHeight >= kThreadedPixels && StartWorkers().IsOK())
    {
        lParts = std::min((mPool.GetWorkerCount() + 1) * kBandsPerThread, lSource.mHeight);
    }
    bool lOutOfMemory = false;
    mPool.Run(lParts, true, [&](uint32_t aPart, uint32_t) {
        const uint32_t lFirst = uint32_t(uint64_t(lSource.mHeight) * aPart / lParts);
        const uint32_t lEnd = uint32_t(uint64_t(lSource.mHeight) * (aPart + 1) / lParts);
        try
        {
            ConvertRows(*lConversion, lImageIn, lOptions, lTarget, lFirst, lEnd);
        }
        catch (const std::bad_alloc &)
        {
            lOutOfMemory = true;
        }
    });
    if (lOutOfMemory)
    {
        return tn::Failure(TN_NOT_ENOUGH_MEMORY, "Convert: no memory for the rows being converted");
    }
    lImage->SetOffsetX(lSource.mOffsetX);
    lImage->SetOffsetY(lSource.mOffsetY);
    aDestination->SetBlockID(lSource.mBlockID);
    aDestination->SetTimestamp(lSource.mTimestamp);
    aDestination->SetReceptionTime(lSource.mReceptionTime);
    return TnResult(TN_OK);
}
} // namespace convert
} // namespace tn

using tn::convert::ConverterCore;

TnBufferConverterRGBFilter::TnBufferConverterRGBFilter()
{
    Reset();
}

TnBufferConverterRGBFilter::~TnBufferConverterRGBFilter() = default;

double TnBufferConverterRGBFilter::GetGainR() const
{
    return mGain[0];
}

double TnBufferConverterRGBFilter::GetGainG() const
{
    return mGain[1];
}

double TnBufferConverterRGBFilter::GetGainB() const
{
    return mGain[2];
}

void TnBufferConverterRGBFilter::SetGainR(double aValue)
{
    mGain[0] = aValue;
}

void TnBufferConverterRGBFilter::SetGainG(double aValue)
{
    mGain[1] = aValue;
}

void TnBufferConverterRGBFilter::SetGainB(double aValue)
{
    mGain[2] = aValue;
}

int32_t TnBufferConverterRGBFilter::GetOffsetR() const
{
    return mOffset[0];
}

int32_t TnBufferConverterRGBFilter::GetOffsetG() const
{
    return mOffset[1];
}

int32_t TnBufferConverterRGBFilter::GetOffsetB() const
{
    return mOffset[2];
}

void TnBufferConverterRGBFilter::SetOffsetR(int32_t aValue)
{
    mOffset[0] = aValue;
}

void TnBufferConverterRGBFilter::SetOffsetG(int32_t aValue)
{
    mOffset[1] = aValue;
}

void TnBufferConverterRGBFilter::SetOffsetB(int32_t aValue)
{
    mOffset[2] = aValue;
}

void TnBufferConverterRGBFilter::Reset()
{
    for (int lColour = 0; lColour < 3; ++lColour)
    {
        mGain[lColour] = 1.0;
        mOffset[lColour] = 0;
    }
}

TnResult TnBufferConverterRGBFilter::WhiteBalance(TnBuffer *aBuffer)
{
    using namespace tn::convert;
    SourceView lSource;
    TnResult lResult = ViewOf(aBuffer != nullptr ? aBuffer->GetImage() : nullptr, lSource);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    // Grey sources convert to RGB8 too, but have no colours to balance.
    const Conversion *lConversion = FindConversion(lSource.mPixelType, TnPixelRGB8);
    if (lConversion == nullptr || lConversion->mSource->mKind == SourceKind::Mono)
    {
        return TnResult(TN_NOT_SUPPORTED, TnString("the image has no colours to balance"));
    }
    // The image as RGB8, a band of rows at a time.
    uint64_t lSums[3] = {0, 0, 0};
    try
    {
        const uint64_t lStride = uint64_t(lSource.mWidth) * 3;
        std::vector<uint8_t> lBand(size_t(lStride * std::min(kBalanceRows, lSource.mHeight)));
        const SourceImage lImage = ImageOf(lSource);
        for (uint32_t lFirst = 0; lFirst < lSource.mHeight; lFirst += kBalanceRows)
        {
            const uint32_t lEnd = std::min(lFirst + kBalanceRows, lSource.mHeight);
            ConvertRows(*lConversion, lImage, ConvertOptions(), Target{lBand.data(), lStride, lFirst, false}, lFirst,
                        lEnd);
            const uint8_t *lPixel = lBand.data();
            for (uint64_t lIndex = 0; lIndex < uint64_t(lEnd - lFirst) * lSource.mWidth; ++lIndex, lPixel += 3)
            {
                lSums[0] += lPixel[0];
                lSums[1] += lPixel[1];
                lSums[2] += lPixel[2];
            }
        }
    }
    catch (const std::bad_alloc &)
    {
        return tn::Failure(TN_NOT_ENOUGH_MEMORY, "no memory for the band of rows the white balance reads");
    }
    if (lSums[0] == 0 || lSums[1] == 0 || lSums[2] == 0)
    {
        return TnResult(TN_GENERIC_ERROR, TnString("a colour averages 0: no gain balances it"));
    }
    const double lLargest = double(std::max({lSums[0], lSums[1], lSums[2]}));
    for (int lColour = 0; lColour < 3; ++lColour)
    {
        mGain[lColour] = lLargest / double(lSums[lColour]);
    }
    return TnResult(TN_OK);
}

TnBufferConverter::TnBufferConverter(int32_t aMaxNumberOfThreads) : mCore(new ConverterCore(aMaxNumberOfThreads))
{
}

TnBufferConverter::TnBufferConverter() : TnBufferConverter(-1)
{
}

TnBufferConverter::~TnBufferConverter()
{
    delete mCore;
}

TnResult TnBufferConverter::Convert(const TnBuffer *aSource, TnBuffer *aDestination, bool aReallocIfNeeded,
                                    bool aFlipY)
{
    return Convert(aSource != nullptr ? aSource->GetImage() : nullptr, aDestination, aReallocIfNeeded, aFlipY);
}

TnResult TnBufferConverter::Convert(const ITnImage *aSource, TnBuffer *aDestination, bool aReallocIfNeeded,
                                    bool aFlipY)
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    return mCore->Convert(aSource, aDestination, aReallocIfNeeded, aFlipY);
}

bool TnBufferConverter::IsConversionSupported(TnPixelType aSource, TnPixelType aDestination)
{
    return tn::convert::FindConversion(aSource, aDestination) != nullptr;
}

TnBayerFilterType TnBufferConverter::GetBayerFilter() const
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    return mCore->mBayerFilter;
}

TnResult TnBufferConverter::SetBayerFilter(TnBayerFilterType aFilter)
{
    if (aFilter != TnBayerFilterSimple && aFilter != TnBayerFilter3X3)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no such Bayer filter"));
    }
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    mCore->mBayerFilter = aFilter;
    return TnResult(TN_OK);
}

TnBiColorFilterType TnBufferConverter::GetBiColorFilter() const
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    return mCore->mBiColorFilter;
}

TnResult TnBufferConverter::SetBiColorFilter(TnBiColorFilterType aFilter)
{
    if (aFilter != TnBiColorFilter1X2 && aFilter != TnBiColorFilter1X3)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no such bi-colour filter"));
    }
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    mCore->mBiColorFilter = aFilter;
    return TnResult(TN_OK);
}

TnResult TnBufferConverter::SetRGBFilter(TnBufferConverterRGBFilter &aFilter)
{
    const double lGains[3] = {aFilter.GetGainR(), aFilter.GetGainG(), aFilter.GetGainB()};
    const int32_t lOffsets[3] = {aFilter.GetOffsetR(), aFilter.GetOffsetG(), aFilter.GetOffsetB()};
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    bool lIdentity = true;
    for (int lColour = 0; lColour < 3; ++lColour)
    {
        for (int lLevel = 0; lLevel < 256; ++lLevel)
        {
            const double lValue = lGains[lColour] * lLevel + lOffsets[lColour];
            // NaN and anything below 0 give 0.
            const uint8_t lOut = !(lValue > 0) ? 0 : lValue >= 255 ? 255 : uint8_t(lround(lValue));
            mCore->mLookUp[lColour][lLevel] = lOut;
            lIdentity = lIdentity && lOut == lLevel;
        }
    }
    mCore->mFiltered = !lIdentity;
    return TnResult(TN_OK);
}

TnResult TnBufferConverter::ResetRGBFilter()
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    mCore->mFiltered = false;
    return TnResult(TN_OK);
}

uint32_t TnBufferConverter::GetConversionThreadsPriority() const
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    return mCore->mPool.GetPriority();
}

TnResult TnBufferConverter::SetConversionThreadsPriority(uint32_t aPriority)
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    if (aPriority <= tn::convert::kHighestPriority)
    {
        // The workers, started now, take the priority or refuse it.
        TnResult lStarted = mCore->StartWorkers();
        if (!lStarted.IsOK())
        {
            return lStarted;
        }
    }
    return mCore->mPool.SetPriority(aPriority);
}
