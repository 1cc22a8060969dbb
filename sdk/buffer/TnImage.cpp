#include "TnImage.h"

#include <stdint.h>

#include <utility>

#include "TnBufferCore.h"
#include "TnCheckedSize.h"

using tn::buffer::BufferCore;
using tn::buffer::ImageGeometry;

namespace
{
constexpr uint32_t kTagSize = 8;
constexpr uint64_t kMaximumSize = tn::kMaximumBufferSize;

// The geometry Alloc and Attach take, and the image size it gives.
TnResult CheckGeometry(const ImageGeometry &aGeometry, uint32_t &aImageSize)
{
    if (aGeometry.mWidth == 0 || aGeometry.mHeight == 0 ||
        !tn::buffer::ComputeImageSize(aGeometry, aImageSize))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no image of this geometry fits a buffer"));
    }
    return TnResult(TN_OK);
}

ImageGeometry MakeGeometry(uint32_t aWidth, uint32_t aHeight, TnPixelType aPixelType, uint16_t aPaddingX,
                           uint16_t aPaddingY, const ImageGeometry &aOffsets)
{
    ImageGeometry lGeometry;
    lGeometry.mPixelType = aPixelType;
    lGeometry.mWidth = aWidth;
    lGeometry.mHeight = aHeight;
    lGeometry.mPaddingX = aPaddingX;
    lGeometry.mPaddingY = aPaddingY;
    lGeometry.mOffsetX = aOffsets.mOffsetX;
    lGeometry.mOffsetY = aOffsets.mOffsetY;
    return lGeometry;
}
} // namespace

ITnImage::~ITnImage() = default;

ITnImageJPEG::~ITnImageJPEG() = default;

TnImage::TnImage(BufferCore &aCore) : mCore(aCore) {}

TnImage::~TnImage() = default;

uint32_t TnImage::GetMaximumChunkLength() const
{
    // The room actually there: chunk memory of its own, or what follows the
    // image in the buffer's memory; 8 bytes of it take the image's tag.
    uint64_t lRoom = 0;
    if (mCore.GetChunkMemorySize() != 0)
    {
        lRoom = mCore.GetChunkMemorySize();
    }
    else if (mCore.GetData() != nullptr && mCore.GetSize() > mCore.GetImageSize())
    {
        lRoom = mCore.GetSize() - mCore.GetImageSize();
    }
    return lRoom > kTagSize ? uint32_t(lRoom - kTagSize) : 0;
}

uint32_t TnImage::GetRequiredSize() const
{
    return mCore.mRequiredSize;
}

uint32_t TnImage::GetEffectiveImageSize() const
{
    uint32_t lSize = 0;
    tn::buffer::ComputeEffectiveImageSize(mCore.GetGeometry(), lSize);
    return lSize;
}

void TnImage::SetOffsetX(uint32_t aOffsetX)
{
    mCore.SetOffsets(aOffsetX, mCore.GetGeometry().mOffsetY);
}

void TnImage::SetOffsetY(uint32_t aOffsetY)
{
    mCore.SetOffsets(mCore.GetGeometry().mOffsetX, aOffsetY);
}

bool TnImage::IsAllocated() const
{
    return mCore.GetMemoryKind() == tn::buffer::MemoryKind::Allocated;
}

bool TnImage::IsAttached() const
{
    return mCore.GetMemoryKind() == tn::buffer::MemoryKind::Attached;
}

TnResult TnImage::Alloc(uint32_t aWidth, uint32_t aHeight, TnPixelType aPixelType, uint16_t aPaddingX,
                        uint16_t aPaddingY, uint32_t aMaximumChunkLength)
{
    const ImageGeometry lGeometry =
        MakeGeometry(aWidth, aHeight, aPixelType, aPaddingX, aPaddingY, mCore.GetGeometry());
    uint32_t lImageSize = 0;
    TnResult lResult = CheckGeometry(lGeometry, lImageSize);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    // The chunks follow the image, behind the image's own tag.
    const tn::CheckedSize lChunks = aMaximumChunkLength != 0 ? tn::CheckedSize(kTagSize) + aMaximumChunkLength : 0u;
    uint32_t lTotal = 0;
    if (!(lChunks + lImageSize).Get(lTotal, kMaximumSize))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("image and chunks do not fit a buffer"));
    }
    lResult = mCore.Alloc(lTotal);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    if (aMaximumChunkLength != 0)
    {
        // The room for chunks follows the image in the new memory.
        mCore.FreeChunk();
    }
    mCore.SetGeometry(lGeometry);
    return lResult;
}

void TnImage::Free()
{
    mCore.Free();
}

TnResult TnImage::Attach(void *aAddress, uint32_t aWidth, uint32_t aHeight, TnPixelType aPixelType,
                         uint16_t aPaddingX, uint16_t aPaddingY, uint32_t aMaximumChunkLength)
{
    return AttachChecked(aAddress, UINT64_MAX, aWidth, aHeight, aPixelType, aPaddingX, aPaddingY,
                         aMaximumChunkLength);
}

TnResult TnImage::AttachChecked(void *aAddress, uint64_t aSize, uint32_t aWidth, uint32_t aHeight,
                                TnPixelType aPixelType, uint16_t aPaddingX, uint16_t aPaddingY,
                                uint32_t aMaximumChunkLength)
{
    if (aAddress == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no memory to attach"));
    }
    const ImageGeometry lGeometry =
        MakeGeometry(aWidth, aHeight, aPixelType, aPaddingX, aPaddingY, mCore.GetGeometry());
    uint32_t lImageSize = 0;
    TnResult lResult = CheckGeometry(lGeometry, lImageSize);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    if (aSize < lImageSize)
    {
        return TnResult(TN_BUFFER_TOO_SMALL, TnString("the memory cannot hold an image of this geometry"));
    }
    if (aMaximumChunkLength != 0)
    {
        // The caller's memory holds the image alone: chunks get memory apart.
        lResult = mCore.AllocChunk(aMaximumChunkLength);
        if (!lResult.IsOK())
        {
            return lResult;
        }
    }
    lResult = mCore.Attach(aAddress, lImageSize);
    if (lResult.IsOK())
    {
        mCore.SetGeometry(lGeometry);
    }
    return lResult;
}

uint8_t *TnImage::Detach()
{
    return mCore.Detach();
}

bool TnImage::IsPartialLineMissing() const
{
    return mCore.mImageStatus.mPartialLineMissing;
}

bool TnImage::IsFullLineMissing() const
{
    return mCore.mImageStatus.mFullLineMissing;
}

void TnImage::SetFullLineMissing(bool aValue, uint32_t aLineNumber)
{
    mCore.mImageStatus.mFullLineMissing = aValue;
    mCore.mImageStatus.mFirstMissingLine = aValue ? aLineNumber : 0;
}

void TnImage::SetEOFByLineCount(bool aValue)
{
    mCore.mImageStatus.mEOFByLineCount = aValue;
}

void TnImage::ClearEOFStatus()
{
    mCore.mImageStatus.mEOFByLineCount = false;
    mCore.mImageStatus.mFullLineMissing = false;
    mCore.mImageStatus.mFirstMissingLine = 0;
}

bool TnImage::IsEOFByLineCount() const
{
    return mCore.mImageStatus.mEOFByLineCount;
}

bool TnImage::IsInterlacedEven() const
{
    return mCore.mImageStatus.mInterlacedEven;
}

bool TnImage::IsInterlacedOdd() const
{
    return mCore.mImageStatus.mInterlacedOdd;
}

bool TnImage::IsImageDropped() const
{
    return mCore.mImageStatus.mImageDropped;
}

bool TnImage::IsDataOverrun() const
{
    return mCore.mImageStatus.mDataOverrun;
}

TnBuffer *TnImage::GetBuffer()
{
    return &mCore.GetOwner();
}

const uint8_t *TnImage::GetDataPointer() const
{
    return const_cast<TnImage *>(this)->GetDataPointer();
}

uint8_t *TnImage::GetDataPointer()
{
    // Memory given to the buffer afterwards may be smaller than the image.
    return mCore.GetImageSize() <= mCore.GetSize() ? mCore.GetData() : nullptr;
}

uint32_t TnImage::GetImageSize() const
{
    return mCore.GetImageSize();
}

uint32_t TnImage::GetWidth() const
{
    return mCore.GetGeometry().mWidth;
}

uint32_t TnImage::GetHeight() const
{
    return mCore.GetGeometry().mHeight;
}

TnPixelType TnImage::GetPixelType() const
{
    return mCore.GetGeometry().mPixelType;
}

uint32_t TnImage::GetOffsetX() const
{
    return mCore.GetGeometry().mOffsetX;
}

uint32_t TnImage::GetOffsetY() const
{
    return mCore.GetGeometry().mOffsetY;
}

uint16_t TnImage::GetPaddingX() const
{
    return mCore.GetGeometry().mPaddingX;
}

uint16_t TnImage::GetPaddingY() const
{
    return mCore.GetGeometry().mPaddingY;
}

uint64_t TnImage::GetBlockID() const
{
    return mCore.mBlockID;
}

uint64_t TnImage::GetTimestamp() const
{
    return mCore.mTimestamp;
}

uint64_t TnImage::GetReceptionTime() const
{
    return mCore.mReceptionTime;
}
