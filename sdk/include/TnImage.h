// Images: the read interface of any image, the image of a buffer and the JPEG
// part of a multipart container.
//
// Image memory holds height lines of width pixels. Padding X is the number of
// bytes at the end of each line, padding Y the number of bytes at the end of
// the image. Without padding X the lines follow each other bit for bit, as
// packed formats lay them out; with padding X every line starts on a byte.
#ifndef TN_IMAGE_H
#define TN_IMAGE_H

#include <stdint.h>

#include "TnExport.h"
#include "TnPixelType.h"
#include "TnResult.h"

class TnBuffer;

#ifndef SWIG
namespace tn
{
namespace buffer
{
class BufferCore;
}
} // namespace tn
#endif

/// The read interface of an image: its memory, geometry, pixel type, block ID
/// and times.
///
/// The object belongs to the buffer or container that hands it out; it cannot
/// be deleted through this interface.
class TN_BUFFER_API ITnImage
{
public:
    /// The image memory, at least GetImageSize() bytes; null when the image
    /// has no memory that holds it.
    virtual const uint8_t *GetDataPointer() const = 0;

    /// The image memory, at least GetImageSize() bytes; null when the image
    /// has no memory that holds it.
    virtual uint8_t *GetDataPointer() = 0;

    /// Bytes of the image, paddings included.
    virtual uint32_t GetImageSize() const = 0;

    /// Width in pixels.
    virtual uint32_t GetWidth() const = 0;

    /// Height in lines.
    virtual uint32_t GetHeight() const = 0;

    /// The pixel type.
    virtual TnPixelType GetPixelType() const = 0;

    /// Horizontal offset of the image within the sensor, in pixels.
    virtual uint32_t GetOffsetX() const = 0;

    /// Vertical offset of the image within the sensor, in pixels.
    virtual uint32_t GetOffsetY() const = 0;

    /// Bytes at the end of each line.
    virtual uint16_t GetPaddingX() const = 0;

    /// Bytes at the end of the image.
    virtual uint16_t GetPaddingY() const = 0;

    /// The block ID of the buffer that holds the image.
    virtual uint64_t GetBlockID() const = 0;

    /// The timestamp of the block.
    virtual uint64_t GetTimestamp() const = 0;

    /// The host's reception time in microseconds; not an absolute time.
    virtual uint64_t GetReceptionTime() const = 0;

#ifndef SWIG
protected:
    virtual ~ITnImage();
#endif
};

/// The image of a buffer, handed out by TnBuffer::GetImage for a buffer of
/// payload type TnPayloadTypeImage. It belongs to the buffer; its memory is the
/// buffer's memory.
class TN_BUFFER_API TnImage : public ITnImage
{
public:
    /// Bytes of room for chunks after the image, 8 bytes of tag per chunk
    /// included.
    uint32_t GetMaximumChunkLength() const;

    /// Bytes the last received block needed; 0 before a block was received.
    uint32_t GetRequiredSize() const;

    /// Bytes of the pixels alone, without any padding.
    uint32_t GetEffectiveImageSize() const;

    /// Sets the horizontal offset in pixels.
    void SetOffsetX(uint32_t aOffsetX);

    /// Sets the vertical offset in pixels.
    void SetOffsetY(uint32_t aOffsetY);

    /// Whether the buffer has memory of its own.
    bool IsAllocated() const;

    /// Whether the buffer works in memory attached by the caller.
    bool IsAttached() const;

    /// Gives the buffer memory of its own for an image of the given geometry
    /// and, when aMaximumChunkLength is not 0, that many bytes for chunks plus
    /// the 8-byte tag of the image. The memory starts zeroed.
    ///
    /// Returns TN_INVALID_PARAMETER for a width or height of 0, a pixel type
    /// without a bit count, or a total that does not fit a buffer (4 GiB less
    /// one byte), TN_NOT_ENOUGH_MEMORY when the memory cannot be had.
    TnResult Alloc(uint32_t aWidth, uint32_t aHeight, TnPixelType aPixelType, uint16_t aPaddingX = 0,
                   uint16_t aPaddingY = 0, uint32_t aMaximumChunkLength = 0);

    /// Releases the buffer's memory; the geometry stays.
    void Free();

    /// Makes the memory at aAddress the image memory, with the given geometry.
    /// The caller provides at least GetImageSize() bytes there and keeps them
    /// alive and in place until they are detached. Room for chunks
    /// (aMaximumChunkLength not 0) is allocated apart from the caller's memory.
    ///
    /// Returns TN_INVALID_PARAMETER for a null address and for the geometry
    /// that Alloc refuses, TN_NOT_ENOUGH_MEMORY when the chunk memory cannot be
    /// had.
    TnResult Attach(void *aAddress, uint32_t aWidth, uint32_t aHeight, TnPixelType aPixelType,
                    uint16_t aPaddingX = 0, uint16_t aPaddingY = 0, uint32_t aMaximumChunkLength = 0);

    /// Drops the attached memory and returns its address; null when no memory
    /// was attached. The geometry and pixel type stay as they were.
    uint8_t *Detach();

    /// Whether part of a line was lost in the last received block.
    bool IsPartialLineMissing() const;

    /// Whether a whole line was lost in the last received block.
    bool IsFullLineMissing() const;

    /// Sets whether a whole line was lost, and the first such line.
    void SetFullLineMissing(bool aValue, uint32_t aLineNumber);

    /// Sets whether the block ended because its line count was reached.
    void SetEOFByLineCount(bool aValue = true);

    /// Clears the end-of-frame-by-line-count and full-line-missing flags.
    void ClearEOFStatus();

    /// Whether the block ended because its line count was reached.
    bool IsEOFByLineCount() const;

    /// Whether the image holds the even field of an interlaced frame.
    bool IsInterlacedEven() const;

    /// Whether the image holds the odd field of an interlaced frame.
    bool IsInterlacedOdd() const;

    /// Whether the device dropped the image.
    bool IsImageDropped() const;

    /// Whether the device reported a data overrun for the image.
    bool IsDataOverrun() const;

    /// The buffer the image belongs to.
    TnBuffer *GetBuffer();

#ifndef SWIG
    /// Attach with the size of the memory at aAddress: refuses with
    /// TN_BUFFER_TOO_SMALL memory that cannot hold the image.
    TnResult AttachChecked(void *aAddress, uint64_t aSize, uint32_t aWidth, uint32_t aHeight,
                           TnPixelType aPixelType, uint16_t aPaddingX, uint16_t aPaddingY,
                           uint32_t aMaximumChunkLength);

    const uint8_t *GetDataPointer() const override;
    uint8_t *GetDataPointer() override;
    uint32_t GetImageSize() const override;
    uint32_t GetWidth() const override;
    uint32_t GetHeight() const override;
    TnPixelType GetPixelType() const override;
    uint32_t GetOffsetX() const override;
    uint32_t GetOffsetY() const override;
    uint16_t GetPaddingX() const override;
    uint16_t GetPaddingY() const override;
    uint64_t GetBlockID() const override;
    uint64_t GetTimestamp() const override;
    uint64_t GetReceptionTime() const override;

    TnImage(const TnImage &) = delete;
    TnImage &operator=(const TnImage &) = delete;
#endif

#ifndef SWIG
protected:
    ~TnImage() override;
#endif

private:
#ifdef SWIG
    TnImage();
#else
    friend class tn::buffer::BufferCore;
    explicit TnImage(tn::buffer::BufferCore &aCore);

    tn::buffer::BufferCore &mCore;
#endif
};

/// The JPEG or JPEG 2000 part of a multipart container: the compressed data
/// and the values of its JPEG header.
///
/// The object belongs to the container that hands it out; it cannot be deleted
/// through this interface.
class TN_BUFFER_API ITnImageJPEG
{
public:
    /// The compressed data; null when the part has no memory.
    virtual const uint8_t *GetDataPointer() const = 0;

    /// The compressed data; null when the part has no memory.
    virtual uint8_t *GetDataPointer() = 0;

    /// The JPEG flags of the compressed image.
    virtual uint8_t GetFlag() const = 0;

    /// The frequency of the timestamp's ticks.
    virtual uint64_t GetTimestampTickFrequency() const = 0;

    /// The data format.
    virtual uint32_t GetDataFormat() const = 0;

    /// Bytes of compressed data.
    virtual uint64_t GetDataSize() const = 0;

#ifndef SWIG
protected:
    virtual ~ITnImageJPEG();
#endif
};

#endif
