// The GVSP block of an SDK buffer: what a sender sends of it, without copying.
// Shared by the stream transmitter and the software device's stream channels
// (header only: it uses libTnBuffer's public classes, which both link).
#ifndef TN_GVSP_BUFFER_BLOCK_H
#define TN_GVSP_BUFFER_BLOCK_H

#include <stdint.h>

#include "TnBuffer.h"
#include "TnCheckedSize.h"
#include "TnGvspPacketiser.h"
#include "TnImage.h"
#include "TnPixelType.h"

namespace tn
{
namespace gev
{
/// The image a block's leader describes when the buffer's image gives none.
struct TnBlockGeometry
{
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
    uint32_t mOffsetX = 0;
    uint32_t mOffsetY = 0;
    TnPixelType mPixelType = TnPixelMono8;
};

/// Fills aBlock from aBuffer: an H.264 buffer sends its access unit; a
/// buffer of the GenDC payload type its container (as long as the container
/// laid into it, else its memory) as a GenDC block when aGenDC, else as raw
/// data; an image buffer with geometry sends its image with that geometry
/// (and padding); any other buffer sends its bytes (at most the image of
/// aFallback, when that is not empty) as an image of aFallback's geometry,
/// or as raw data when aFallback is empty. False for a buffer without data.
inline bool BlockFromBuffer(const TnBuffer &aBuffer, const TnBlockGeometry &aFallback, TnGvspBlock &aBlock,
                            bool aGenDC = true)
{
    aBlock = TnGvspBlock();
    aBlock.mLeader.mTimestamp = aBuffer.GetTimestamp();
    const ITnH264AccessUnit *lUnit = aBuffer.GetH264AccessUnit();
    if (lUnit != nullptr)
    {
        aBlock.mLeader.mPayloadType = kGvspPayloadH264;
        aBlock.mSegments[0].mData = lUnit->GetData();
        aBlock.mSegments[0].mSize = lUnit->GetDataSize();
        return lUnit->GetData() != nullptr && lUnit->GetDataSize() != 0;
    }
    TnBlockGeometry lGeometry = aFallback;
    const uint8_t *lData = aBuffer.GetDataPointer();
    uint64_t lSize = aBuffer.GetSize();
    if (aBuffer.GetPayloadType() == TnPayloadTypeGenDC)
    {
        lSize = aBuffer.GetPayloadSize();
        if (lData == nullptr || lSize == 0)
        {
            return false;
        }
        aBlock.mLeader.mPayloadType = aGenDC ? kGvspPayloadGenDC : kGvspPayloadRawData;
        aBlock.mSegments[0].mData = lData;
        aBlock.mSegments[0].mSize = static_cast<size_t>(lSize);
        return true;
    }
    const TnImage *lImage = aBuffer.GetPayloadType() == TnPayloadTypeImage ? aBuffer.GetImage() : nullptr;
    if (lImage != nullptr && lImage->GetWidth() != 0 && lImage->GetHeight() != 0 && lImage->GetDataPointer() != nullptr)
    {
        lGeometry.mWidth = lImage->GetWidth();
        lGeometry.mHeight = lImage->GetHeight();
        lGeometry.mPixelType = lImage->GetPixelType();
        lGeometry.mOffsetX = lImage->GetOffsetX();
        lGeometry.mOffsetY = lImage->GetOffsetY();
        aBlock.mLeader.mPaddingX = lImage->GetPaddingX();
        lData = lImage->GetDataPointer();
        lSize = lImage->GetImageSize();
    }
    // Without padding the lines follow each other bit for bit; with it each
    // line takes its whole bytes and the padding. An image too large to
    // count is never smaller than the memory.
    const uint64_t lBits = TnPixelTypeGetBitsPerPixel(lGeometry.mPixelType);
    const uint16_t lPaddingX = aBlock.mLeader.mPaddingX;
    const uint64_t lImageBytes =
        (lPaddingX == 0 ? (CheckedSize(lGeometry.mWidth) * lGeometry.mHeight * lBits).DividedUp(8)
                        : ((CheckedSize(lGeometry.mWidth) * lBits).DividedUp(8) + lPaddingX) * lGeometry.mHeight)
            .Saturated(UINT64_MAX);
    if (lImageBytes != 0 && lImageBytes < lSize)
    {
        lSize = lImageBytes;
    }
    if (lData == nullptr || lSize == 0)
    {
        return false;
    }
    if (lImageBytes == 0)
    {
        aBlock.mLeader.mPayloadType = kGvspPayloadRawData;
    }
    else
    {
        aBlock.mLeader.mPayloadType = kGvspPayloadImage;
        aBlock.mLeader.mPixelFormat = static_cast<uint32_t>(lGeometry.mPixelType);
        aBlock.mLeader.mSizeX = lGeometry.mWidth;
        aBlock.mLeader.mSizeY = lGeometry.mHeight;
        aBlock.mLeader.mOffsetX = lGeometry.mOffsetX;
        aBlock.mLeader.mOffsetY = lGeometry.mOffsetY;
    }
    aBlock.mSegments[0].mData = lData;
    aBlock.mSegments[0].mSize = static_cast<size_t>(lSize);
    return true;
}
} // namespace gev
} // namespace tn

#endif
