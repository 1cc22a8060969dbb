#include <algorithm>
#include <mutex>

#include "ITnFilter.h"
#include "TnBuffer.h"
#include "TnBufferInternal.h"
#include "TnCompressionFilter.h"
#include "TnConvertBuffers.h"
#include "TnDecompressionFilter.h"
#include "TnPtc1.h"
#include "TnWorkerPool.h"

namespace tn
{
namespace convert
{
namespace
{
constexpr uint32_t kMostThreads = 64;

/// The compressed bytes of a buffer and their header's state.
ptc1::HeaderState ReadCompressed(const TnBuffer *aIn, ptc1::Header &aHeader, const uint8_t *&aData, uint32_t &aSize)
{
    const TnVexmoorCompressed *lCompressed = aIn->GetVexmoorCompressed();
    if (lCompressed == nullptr)
    {
        return ptc1::HeaderState::NotCompressed;
    }
    aData = lCompressed->GetData();
    aSize = lCompressed->GetDataSize();
    return ptc1::ReadHeader(aData, aSize, aHeader);
}

TnResult ResultOf(ptc1::HeaderState aState)
{
    if (aState == ptc1::HeaderState::NotCompressed)
    {
        return TnResult(TN_NOT_SUPPORTED, TnString("the buffer is not a compressed image"));
    }
    return TnResult(TN_IMAGE_ERROR, TnString("the compressed image's header is corrupted or cut short"));
}
} // namespace

class CompressionCore
{
public:
    std::mutex mLock;
    TnEncodingEnum mEncoding = TnEncodingPTC1;
    ptc1::Encoder mEncoder;
};

class DecompressionCore
{
public:
    /// The workers, started at first use.
    WorkerPool &Pool()
    {
        if (mPool.GetWorkerCount() != mThreads)
        {
            mPool.Start(mThreads);
        }
        return mPool;
    }

    uint32_t Priority() const { return mPool.GetPriority(); }

    mutable std::mutex mLock;
    uint32_t mThreads = std::max(1u, ProcessorCount() / 2);
    ptc1::Decoder mDecoder;

private:
    WorkerPool mPool;
};
} // namespace convert
} // namespace tn

using tn::convert::CompressionCore;
using tn::convert::DecompressionCore;

ITnFilter::~ITnFilter() = default;

TnCompressionFilter::TnCompressionFilter() : mCore(new CompressionCore())
{
}

TnCompressionFilter::~TnCompressionFilter()
{
    delete mCore;
}

TnResult TnCompressionFilter::Execute(const TnBuffer *aIn, TnBuffer *aOut)
{
    using namespace tn::convert;
    if (aIn == nullptr || aOut == nullptr || aIn == aOut)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("compression needs an input and another output buffer"));
    }
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    if (mCore->mEncoding != TnEncodingPTC1)
    {
        return TnResult(TN_NOT_SUPPORTED, TnString("the encoding is not supported"));
    }
    SourceView lSource;
    if (!ViewOf(aIn->GetImage(), lSource).IsOK() || !ptc1::CanEncode(lSource.mPixelType))
    {
        return TnResult(TN_NOT_SUPPORTED, TnString("the input is not an image in memory of a known pixel type"));
    }
    if (Overlaps(lSource.mData, lSource.mSize, aOut->GetDataPointer(), aOut->GetSize()))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the input and the output share memory"));
    }
    const uint64_t lBound = std::min<uint64_t>(ptc1::Encoder::Bound(lSource), 0xFFFFFFFFull);
    if (aOut->GetSize() < lBound && !aOut->IsAttached())
    {
        TnResult lAllocated = aOut->Alloc(uint32_t(lBound));
        if (!lAllocated.IsOK())
        {
            return lAllocated;
        }
    }
    TnResult lResult = tn::buffer::BeginBlock(*aOut, TnPayloadTypeVexmoorCompressed);
    uint64_t lWritten = 0;
    if (lResult.IsOK())
    {
        lResult = mCore->mEncoder.Encode(lSource, lSource.mData, aOut->GetDataPointer(), aOut->GetSize(), lWritten);
    }
    tn::buffer::BlockEnd lEnd;
    lEnd.mOperationResult = lResult;
    lEnd.mAcquiredSize = uint32_t(lWritten);
    lEnd.mRequiredSize = uint32_t(lWritten);
    lEnd.mPayloadSize = uint32_t(lWritten);
    lEnd.mHeaderValid = lResult.IsOK();
    lEnd.mTrailerValid = lResult.IsOK();
    tn::buffer::EndBlock(*aOut, lEnd);
    if (lResult.IsOK())
    {
        aOut->SetBlockID(lSource.mBlockID);
        aOut->SetTimestamp(lSource.mTimestamp);
        aOut->SetReceptionTime(lSource.mReceptionTime);
    }
    return lResult;
}

TnResult TnCompressionFilter::SetThreadCount(uint32_t aCount)
{
    (void)aCount;
    return TnResult(TN_NOT_SUPPORTED, TnString("the compression filter has no worker threads"));
}

uint32_t TnCompressionFilter::GetThreadCount() const
{
    return 1;
}

TnResult TnCompressionFilter::GetThreadsPriority(uint32_t &aPriority) const
{
    aPriority = tn::convert::kNormalPriority;
    return TnResult(TN_OK);
}

TnResult TnCompressionFilter::SetThreadsPriority(uint32_t aPriority)
{
    (void)aPriority;
    return TnResult(TN_NOT_SUPPORTED, TnString("the compression filter has no worker threads"));
}

TnResult TnCompressionFilter::SetEncoding(TnEncodingEnum aValue)
{
    if (aValue != TnEncodingPTC1)
    {
        return TnResult(TN_NOT_SUPPORTED, TnString("the encoding is not supported"));
    }
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    mCore->mEncoding = aValue;
    return TnResult(TN_OK);
}

TnEncodingEnum TnCompressionFilter::GetEncoding() const
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    return mCore->mEncoding;
}

TnDecompressionFilter::TnDecompressionFilter() : mCore(new DecompressionCore())
{
}

TnDecompressionFilter::~TnDecompressionFilter()
{
    delete mCore;
}

TnResult TnDecompressionFilter::Execute(const TnBuffer *aIn, TnBuffer *aOut)
{
    using namespace tn::convert;
    if (aIn == nullptr || aOut == nullptr || aIn == aOut)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("decompression needs an input and another output buffer"));
    }
    ptc1::Header lHeader;
    const uint8_t *lData = nullptr;
    uint32_t lSize = 0;
    const ptc1::HeaderState lState = ReadCompressed(aIn, lHeader, lData, lSize);
    if (lState != ptc1::HeaderState::Valid)
    {
        return ResultOf(lState);
    }
    if (Overlaps(lData, lSize, aOut->GetDataPointer(), aOut->GetSize()))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the input and the output share memory"));
    }
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    if (aOut->GetPayloadType() != TnPayloadTypeImage)
    {
        aOut->Reset(TnPayloadTypeImage);
    }
    const ImageInfo &lImage = lHeader.mImage;
    TnResult lResult = FitImage(*aOut, lImage.mPixelType, lImage.mWidth, lImage.mHeight, lImage.mPaddingX,
                                lImage.mPaddingY, true);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    TnImage *lOut = aOut->GetImage();
    lResult = mCore->mDecoder.Decode(lHeader, lData, lSize, lOut->GetDataPointer(), mCore->Pool());
    if (lResult.IsOK())
    {
        lOut->SetOffsetX(lImage.mOffsetX);
        lOut->SetOffsetY(lImage.mOffsetY);
        aOut->SetBlockID(lImage.mBlockID);
        aOut->SetTimestamp(lImage.mTimestamp);
        aOut->SetReceptionTime(aIn->GetReceptionTime());
    }
    return lResult;
}

TnResult TnDecompressionFilter::SetThreadCount(uint32_t aCount)
{
    if (aCount < 1 || aCount > tn::convert::kMostThreads)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the decompression filter takes 1 to 64 threads"));
    }
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    mCore->mThreads = aCount;
    return TnResult(TN_OK);
}

uint32_t TnDecompressionFilter::GetThreadCount() const
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    return mCore->mThreads;
}

TnResult TnDecompressionFilter::GetThreadsPriority(uint32_t &aPriority) const
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    aPriority = mCore->Priority();
    return TnResult(TN_OK);
}

TnResult TnDecompressionFilter::SetThreadsPriority(uint32_t aPriority)
{
    std::lock_guard<std::mutex> lGuard(mCore->mLock);
    // The workers, started now, take the priority or refuse it.
    return mCore->Pool().SetPriority(aPriority);
}

bool TnDecompressionFilter::IsCompressed(const TnBuffer *aIn)
{
    tn::convert::ptc1::Header lHeader;
    const uint8_t *lData = nullptr;
    uint32_t lSize = 0;
    return aIn != nullptr && tn::convert::ReadCompressed(aIn, lHeader, lData, lSize) ==
                                 tn::convert::ptc1::HeaderState::Valid;
}

TnResult TnDecompressionFilter::GetOutputFormatFor(const TnBuffer *aIn, TnPixelType &aPixelType, uint32_t &aWidth,
                                                  uint32_t &aHeight)
{
    if (aIn == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no buffer"));
    }
    tn::convert::ptc1::Header lHeader;
    const uint8_t *lData = nullptr;
    uint32_t lSize = 0;
    const tn::convert::ptc1::HeaderState lState = tn::convert::ReadCompressed(aIn, lHeader, lData, lSize);
    if (lState != tn::convert::ptc1::HeaderState::Valid)
    {
        return tn::convert::ResultOf(lState);
    }
    aPixelType = lHeader.mImage.mPixelType;
    aWidth = lHeader.mImage.mWidth;
    aHeight = lHeader.mImage.mHeight;
    return TnResult(TN_OK);
}
