// What the converter and the filters share about the buffers they read and
// write: the source image, and a destination image made to fit.
#ifndef TN_CONVERT_BUFFERS_H
#define TN_CONVERT_BUFFERS_H

#include <stdint.h>

#include "TnBuffer.h"
#include "TnBufferInternal.h"
#include "TnImage.h"
#include "TnResult.h"

namespace tn
{
namespace convert
{
/// What describes an image besides its bytes: its geometry, block ID and
/// timestamp.
struct ImageInfo : buffer::ImageGeometry
{
    uint64_t mBlockID = 0;
    uint64_t mTimestamp = 0;
};

/// A readable image: its memory holds its image size of bytes.
struct SourceView : ImageInfo
{
    const uint8_t *mData = nullptr;
    uint32_t mSize = 0; ///< bytes of the image, paddings included
    uint64_t mReceptionTime = 0;
};

/// The view of an image: TN_INVALID_PARAMETER for no image, one without
/// memory or one whose memory is smaller than its geometry needs.
TnResult ViewOf(const ITnImage *aImage, SourceView &aView);

/// Whether [aFirst, aFirst + aFirstSize) and [aSecond, aSecond + aSecondSize)
/// share a byte.
bool Overlaps(const uint8_t *aFirst, uint64_t aFirstSize, const uint8_t *aSecond, uint64_t aSecondSize);

/// Makes aBuffer an image of the given geometry: in its memory when that
/// holds it, else in memory of its own (reallocated when aReallocate, and
/// only when its memory is not attached). TN_BUFFER_TOO_SMALL otherwise,
/// TN_INVALID_PARAMETER for a geometry without a size, TN_NOT_ENOUGH_MEMORY.
TnResult FitImage(TnBuffer &aBuffer, TnPixelType aPixelType, uint32_t aWidth, uint32_t aHeight, uint16_t aPaddingX,
                  uint16_t aPaddingY, bool aReallocate);
} // namespace convert
} // namespace tn

#endif
