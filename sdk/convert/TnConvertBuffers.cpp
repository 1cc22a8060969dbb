#include "TnConvertBuffers.h"

#include "TnBufferInternal.h"

namespace tn
{
namespace convert
{
TnResult ViewOf(const ITnImage *aImage, SourceView &aView)
{
    if (aImage == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no source image"));
    }
    SourceView lView;
    lView.mPixelType = aImage->GetPixelType();
    lView.mWidth = aImage->GetWidth();
    lView.mHeight = aImage->GetHeight();
    lView.mOffsetX = aImage->GetOffsetX();
    lView.mOffsetY = aImage->GetOffsetY();
    lView.mPaddingX = aImage->GetPaddingX();
    lView.mPaddingY = aImage->GetPaddingY();
    lView.mBlockID = aImage->GetBlockID();
    lView.mTimestamp = aImage->GetTimestamp();
    lView.mReceptionTime = aImage->GetReceptionTime();
    lView.mData = aImage->GetDataPointer();
    if (lView.mData == nullptr || lView.mWidth == 0 || lView.mHeight == 0 || !buffer::ComputeImageSize(lView, lView.mSize) ||
        lView.mSize > aImage->GetImageSize())
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the source is no image in memory"));
    }
    aView = lView;
    return TnResult(TN_OK);
}

bool Overlaps(const uint8_t *aFirst, uint64_t aFirstSize, const uint8_t *aSecond, uint64_t aSecondSize)
{
    if (aFirst == nullptr || aSecond == nullptr || aFirstSize == 0 || aSecondSize == 0)
    {
        return false;
    }
    const uintptr_t lFirst = reinterpret_cast<uintptr_t>(aFirst), lSecond = reinterpret_cast<uintptr_t>(aSecond);
    return lFirst < lSecond + aSecondSize && lSecond < lFirst + aFirstSize;
}

TnResult FitImage(TnBuffer &aBuffer, TnPixelType aPixelType, uint32_t aWidth, uint32_t aHeight, uint16_t aPaddingX,
                  uint16_t aPaddingY, bool aReallocate)
{
    TnImage *lImage = aBuffer.GetImage();
    if (lImage == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the destination is not an image buffer"));
    }
    buffer::ImageGeometry lGeometry;
    lGeometry.mPixelType = aPixelType;
    lGeometry.mWidth = aWidth;
    lGeometry.mHeight = aHeight;
    lGeometry.mOffsetX = lImage->GetOffsetX();
    lGeometry.mOffsetY = lImage->GetOffsetY();
    lGeometry.mPaddingX = aPaddingX;
    lGeometry.mPaddingY = aPaddingY;
    uint32_t lSize = 0;
    if (!buffer::ComputeImageSize(lGeometry, lSize))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no image of this geometry fits a buffer"));
    }
    if (aBuffer.GetDataPointer() != nullptr && lSize <= aBuffer.GetSize())
    {
        return buffer::SetImageGeometry(aBuffer, lGeometry);
    }
    if (aBuffer.IsAttached())
    {
        return TnResult(TN_BUFFER_TOO_SMALL, TnString("the image does not fit the memory attached to the buffer"));
    }
    if (!aReallocate)
    {
        return TnResult(TN_BUFFER_TOO_SMALL, TnString("the image does not fit the buffer's memory"));
    }
    return lImage->Alloc(aWidth, aHeight, aPixelType, aPaddingX, aPaddingY);
}
} // namespace convert
} // namespace tn
