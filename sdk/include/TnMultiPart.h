// Multipart containers: several parts (image planes, confidence maps, JPEG
// data, chunk data) carried in one block.
#ifndef TN_MULTI_PART_H
#define TN_MULTI_PART_H

#include <stdint.h>

#include "ITnChunkData.h"
#include "TnExport.h"
#include "TnImage.h"
#include "TnMultiPartTypes.h"
#include "TnPixelType.h"
#include "TnResult.h"

/// One part of a multipart container: its data, what it holds, its
/// identifiers and zones, and a typed view of its data.
///
/// The section belongs to its container; it cannot be deleted through this
/// interface.
class TN_BUFFER_API ITnMultiPartSection
{
public:
    /// The part's data; null while the part has no memory.
    virtual const uint8_t *GetDataPointer() const = 0;

    /// The part's data; null while the part has no memory.
    virtual uint8_t *GetDataPointer() = 0;

    /// The maximum data size of the part in bytes; 0 while it has no memory.
    virtual uint32_t GetSize() const = 0;

    /// The effective data size of the part in bytes; 0 while it has no memory.
    virtual uint32_t GetEffectiveSize() const = 0;

    /// What the part holds.
    virtual TnMultiPartDataType GetDataType() const = 0;

    /// The part as an image; null unless it holds one of the image data types
    /// (TnMultiPart2DImage to TnMultiPartConfidenceMap).
    virtual ITnImage *GetImage() = 0;

    /// The part as JPEG data; null unless it holds TnMultiPartJPEGImage or
    /// TnMultiPartJPEG2000Image.
    virtual ITnImageJPEG *GetJPEG() = 0;

    /// The part's chunks; null unless it holds TnMultiPartChunkData.
    virtual ITnChunkData *GetChunkData() = 0;

    /// Identifies data from one source.
    virtual uint32_t GetSourceID() const = 0;

    /// Tags parts of different purpose.
    virtual uint32_t GetDataPurposeID() const = 0;

    /// Tags parts of one region.
    virtual uint32_t GetRegionID() const = 0;

    /// The number of zones less one.
    virtual uint32_t GetAdditionalZones() const = 0;

    /// One bit per zone, zone 0 in the most significant bit: 0 top-down, 1
    /// bottom-up.
    virtual uint32_t GetZoneDirectionMask() const = 0;

#ifndef SWIG
protected:
    virtual ~ITnMultiPartSection();
#endif
};

/// Reading a multipart container: its parts by index.
class TN_BUFFER_API ITnMultiPartContainerReader
{
public:
    /// The number of parts.
    virtual uint32_t GetPartCount() const = 0;

    /// The part at aIndex (zero-based); null for an index out of range.
    virtual const ITnMultiPartSection *GetPart(uint32_t aIndex) const = 0;

    /// The part at aIndex (zero-based); null for an index out of range.
    virtual ITnMultiPartSection *GetPart(uint32_t aIndex) = 0;

#ifndef SWIG
protected:
    virtual ~ITnMultiPartContainerReader();
#endif
};

/// Building a multipart container: define the parts in transmission order
/// (image and JPEG parts, the chunk-data part last), give them memory, fill
/// them through their sections, confirm their final sizes and validate.
class TN_BUFFER_API ITnMultiPartContainerWriter : public virtual ITnMultiPartContainerReader
{
public:
    /// Removes every part; memory the parts had of their own is released.
    virtual void Reset() = 0;

    /// Appends an image part (data types TnMultiPart2DImage to
    /// TnMultiPartConfidenceMap) of aWidth pixels and at most aMaximumHeight
    /// lines, with aPaddingX bytes at the end of each line. It has no memory
    /// yet.
    ///
    /// Returns TN_INVALID_PARAMETER for another data type, a width or height of
    /// 0, a pixel type without a bit count, a size that does not fit a buffer,
    /// a part after the chunk-data part, or more than 256 parts.
    virtual TnResult AddImagePart(TnMultiPartDataType aDataType, uint32_t aWidth, uint32_t aMaximumHeight,
                                  TnPixelType aPixelType, uint32_t aOffsetX = 0, uint32_t aOffsetY = 0,
                                  uint16_t aPaddingX = 0) = 0;

    /// Appends a JPEG or JPEG 2000 part (TnMultiPartJPEGImage,
    /// TnMultiPartJPEG2000Image) of at most aMaximumLength bytes.
    ///
    /// Returns TN_INVALID_PARAMETER for another data type, a length of 0, a
    /// part after the chunk-data part, or more than 256 parts.
    virtual TnResult AddJPEGPart(TnMultiPartDataType aDataType, uint32_t aMaximumLength, uint8_t aFlag,
                                 uint64_t aTimestampTickFrequency, uint32_t aDataFormat) = 0;

    /// Appends the chunk-data part, of at most aMaximumLength bytes (8 bytes of
    /// tag per chunk included); it is the last part.
    ///
    /// Returns TN_INVALID_PARAMETER for a length of 0, a second chunk-data
    /// part, or more than 256 parts.
    virtual TnResult AddChunkPart(uint32_t aMaximumLength, uint32_t aChunkLayoutID) = 0;

    /// Sets the identifiers of the part at aIndex.
    virtual TnResult SetPartIDs(uint32_t aIndex, uint32_t aSourceID, uint32_t aDataPurposeID,
                                uint32_t aRegionID) = 0;

    /// Sets the zone information of the part at aIndex.
    virtual TnResult SetPartZoneInfo(uint32_t aIndex, uint8_t aAdditionalZones, uint32_t aZoneDirectionMask) = 0;

    /// Gives all parts one block of memory, the buffer's own memory, each part
    /// starting on an 8-byte boundary. Memory the parts had before is
    /// released.
    ///
    /// Returns TN_STATE_ERROR when no part is defined, TN_INVALID_PARAMETER
    /// when the total does not fit a buffer, TN_NOT_ENOUGH_MEMORY when the
    /// memory cannot be had.
    virtual TnResult AllocAllParts() = 0;

    /// Gives the part at aIndex memory of its own.
    virtual TnResult AllocPart(uint32_t aIndex) = 0;

    /// Makes aLength bytes at aAddress the memory of the part at aIndex. The
    /// caller keeps the memory alive and in place while the part uses it.
    ///
    /// Returns TN_INVALID_PARAMETER for a bad index or a null address and
    /// TN_BUFFER_TOO_SMALL for memory smaller than the part's maximum size.
    virtual TnResult AttachPart(uint32_t aIndex, void *aAddress, uint32_t aLength) = 0;

    /// Confirms the data length of a JPEG or chunk-data part, at most its
    /// maximum length.
    virtual TnResult SetPartFinalLength(uint32_t aIndex, uint32_t aLength) = 0;

    /// Confirms the height of an image part, at most its maximum height.
    virtual TnResult SetPartFinalImageHeight(uint32_t aIndex, uint32_t aHeight) = 0;

    /// Checks that parts are defined and that every part has its memory.
    ///
    /// Returns TN_STATE_ERROR when no part is defined and TN_BUFFER_TOO_SMALL
    /// when a part has no memory.
    virtual TnResult Validate() = 0;

#ifndef SWIG
protected:
    ~ITnMultiPartContainerWriter() override;
#endif
};

/// A multipart container, read and built through the same object; handed out
/// by TnBuffer::GetMultiPartContainer for a buffer of payload type
/// TnPayloadTypeMultiPart. It belongs to the buffer.
#ifdef SWIG
// The writer already is a reader: naming the reader again would give the
// proxy classes an order of bases that Python cannot resolve.
class TN_BUFFER_API ITnMultiPartContainer : public ITnMultiPartContainerWriter
#else
class TN_BUFFER_API ITnMultiPartContainer : public virtual ITnMultiPartContainerReader,
                                            public ITnMultiPartContainerWriter
#endif
{
#ifndef SWIG
protected:
    ~ITnMultiPartContainer() override;
#endif
};

#endif
