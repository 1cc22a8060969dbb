// Generic data containers (GenDC): the interfaces through which a container is
// walked down to its parts' data, and built on the send side; the decoded
// fields of a part's header.
//
// A container is a descriptor (the container header, the flow table, the
// component headers and the part headers, TnGenDCHeaders.h) followed by the
// data of its parts. The interfaces read and write the container's own bytes:
// every call reads the headers afresh, so a header written through a mutable
// record or a view is what the next call sees. Offsets count from the
// container's start. A call that finds a header or data that does not fit the
// container's bytes answers as for what does not exist (0, null), and
// IsValid tells whether the whole descriptor fits.
//
// Components, parts and their views belong to their container and live as
// long as it does; the container belongs to the buffer or manager that
// hands it out.
#ifndef TN_GENDC_H
#define TN_GENDC_H

#include <stdint.h>

#include "TnExport.h"
#include "TnGenDCHeaders.h"
#include "TnGenDCTypes.h"
#include "TnPixelType.h"
#include "TnResult.h"

class ITnGenericDataComponent;
class ITnGenericDataPart;
class ITnGenDCImage;
class ITnGenDCChunkData;
class ITnGenDCChunkWriter;

// The fields that follow the common header of a metadata part, decoded.
struct TnGenDCPartMetadataFields
{
    uint64_t Size;
    uint16_t Padding;
    uint16_t PaddingReserved;
    uint32_t InfoReserved;
    uint64_t InfoTypeSpecific;
};

// The fields that follow the common header of a 1-D part, decoded.
struct TnGenDCPart1DFields
{
    uint64_t Size;
    uint16_t Padding;
    uint16_t PaddingReserved;
    uint32_t InfoReserved;
    uint64_t InfoTypeSpecific;
};

// The fields that follow the common header of a 2-D part, decoded; the
// paddings widened to 32 bits.
struct TnGenDCPart2DFields
{
    uint32_t SizeX;
    uint32_t SizeY;
    uint32_t PaddingX;
    uint32_t PaddingY;
    uint32_t InfoReserved;
};

// The fields of an H.264 part, decoded: the 2-D fields, then the H.264
// information with its flags split into their bits.
struct TnGenDCPartH264Fields : TnGenDCPart2DFields
{
    // The H.264 flags, bit 0 first.
    struct H264Flags
    {
        uint8_t CS_set0_flag : 1;
        uint8_t CS_set1_flag : 1;
        uint8_t CS_set2_flag : 1;
        uint8_t CS_set3_flag : 1;
        uint8_t PM : 2;
        uint8_t RF : 2;
    };

    uint8_t Reserved;
    uint8_t ProfileIDC;
    H264Flags Flags;
    uint8_t LevelIDC;
    uint16_t SpropInterleavingDepth;
    uint16_t SpropMaxDonDiff;
    uint32_t SpropDeintBufReq;
    uint32_t SpropInitBufTime;
};

#ifndef SWIG
static_assert(sizeof(TnGenDCPartMetadataFields) == 24 && sizeof(TnGenDCPart1DFields) == 24, "");
static_assert(sizeof(TnGenDCPart2DFields) == 20 && sizeof(TnGenDCPartH264Fields) == 36, "");
static_assert(sizeof(TnGenDCPartH264Fields::H264Flags) == 1, "");
#endif

#ifndef SWIG
/// How many bytes a GenDC container that the SDK holds (a buffer's, a
/// manager's) has from aAddress on, for reading the arrays that follow a
/// header record taken from it; 0 when aAddress lies in no such container.
TN_BUFFER_API uint64_t TnGenDCBytesAt(const void *aAddress);
#endif

/// A GenDC container: its components, its headers and, on the send side, the
/// components added to it.
class TN_BUFFER_API ITnGenericDataContainer
{
public:
#ifndef SWIG
    virtual ~ITnGenericDataContainer();
#endif

    /// The number of components; 0 when the container header does not fit.
    virtual uint32_t GetComponentCount() const = 0;

    /// The number of flows the flow table lists; 0 without a flow table.
    virtual uint32_t GetFlowCount() const = 0;

    /// The component at aIndex; null at or beyond the component count, or
    /// when its header does not fit the container.
    virtual ITnGenericDataComponent *GetComponent(uint32_t aIndex) = 0;

    /// The flow table of the descriptor; null when it has none.
    virtual const GenDCFlowTable *GetFlowTable() const = 0;

    /// The flow table of the descriptor, to write; null when it has none.
    virtual GenDCFlowTable *GetMutableFlowTable() = 0;

    /// The cumulative data size of all parts in bytes: the valid size once
    /// the container is final, otherwise the most that the parts can hold.
    virtual uint64_t GetDataSize() const = 0;

    /// The cumulative size of the container, component and part headers in
    /// bytes.
    virtual uint64_t GetDescriptorSize() const = 0;

    /// Whether the descriptor is whole: the signature and version, every
    /// header of its type within the descriptor, every part's data within
    /// the container and apart from the others'.
    virtual bool IsValid() const = 0;

    /// The container header; null when the container has none.
    virtual const GenDCContainerHeader *GetHeader() const = 0;

    /// The container header, to write; null when the container has none.
    virtual GenDCContainerHeader *GetMutableHeader() = 0;

    /// Adds a component of the given type, without parts.
    ///
    /// Returns the zero-based index of the new component, or
    /// GenDCInvalidComponentIndex (0xFFFFFFFF) when the container cannot take
    /// it (a received container, an unknown type, a descriptor that is full).
    virtual uint32_t AddComponent(TnComponentType aComponentType) = 0;
};

/// The send side's GenDC manager: it keeps the container descriptor that a
/// source builds, and lays it into the buffers that carry it.
class TN_BUFFER_API ITnGenDCManager
{
public:
    /// The payload size of the container, descriptor and data, in bytes.
    virtual uint64_t GetTotalPayloadSize() const = 0;

    /// The container whose descriptor the manager builds.
    virtual ITnGenericDataContainer *GetGenDC() const = 0;

    /// Puts the descriptor back to its default state, with no components and
    /// no parts.
    virtual void ResetContainer() = 0;
};

/// One component of a container: one kind of data (intensity, range,
/// metadata ...) in one or more parts.
class TN_BUFFER_API ITnGenericDataComponent
{
public:
#ifndef SWIG
    virtual ~ITnGenericDataComponent();
#endif

    /// The component header; null when the component is gone.
    virtual const GenDCComponentHeader *GetHeader() const = 0;

    /// The component header, to write; null when the component is gone.
    virtual GenDCComponentHeader *GetMutableHeader() = 0;

    /// The component header's flags; bit 0 set means the source marked the
    /// component invalid.
    virtual uint16_t GetFlags() const = 0;

    /// The size of the component's header, which grows with its parts.
    virtual uint32_t GetHeaderSize() const = 0;

    /// The group ID: components of one group belong together.
    virtual uint16_t GetGroupID() const = 0;

    /// The source that produced the component.
    virtual uint16_t GetSourceID() const = 0;

    /// The region ID.
    virtual uint16_t GetRegionID() const = 0;

    /// The region's horizontal offset.
    virtual uint32_t GetRegionOffsetX() const = 0;

    /// The region's vertical offset.
    virtual uint32_t GetRegionOffsetY() const = 0;

    /// The start of data creation in nanoseconds.
    virtual uint64_t GetTimestamp() const = 0;

    /// The component's type ID exactly as the header holds it (ComponentIdValue
    /// of the GenICam standard features naming convention, custom values
    /// included).
    virtual uint64_t GetTypeID() const = 0;

    /// The type ID as a TnComponentType: TnComponentCustom for the custom
    /// range, TnComponentUndefined for a value no type names.
    virtual TnComponentType GetTypeIDEnum() const = 0;

    /// The pixel format of the whole component (the enclosing format of
    /// planar data; Data8 for data that is not pixels).
    virtual uint32_t GetFormat() const = 0;

    /// The offset of the header of part aIndex from the start of the
    /// container; 0 at or beyond the part count.
    virtual uint64_t GetPartHeaderOffset(uint32_t aIndex) const = 0;

    /// The number of parts.
    virtual uint32_t GetPartCount() const = 0;

    /// The part at aIndex; null at or beyond the part count, or when its
    /// header does not fit the container.
    virtual ITnGenericDataPart *GetPart(uint32_t aIndex) = 0;

    /// Adds a part of the given type whose data flow aFlow carries.
    ///
    /// Returns the zero-based index of the new part, or GenDCInvalidPartIndex
    /// (0xFFFF) when the component cannot take it (a received container, an
    /// unknown type, a flow beyond 0xFFFF, a component with 65535 parts, a
    /// descriptor that is full).
    virtual uint32_t AddPart(TnGenDCPartType aPartType, uint32_t aFlow) = 0;
};

/// One part of a component: one header and one block of data on one flow.
class TN_BUFFER_API ITnGenericDataPart
{
public:
#ifndef SWIG
    virtual ~ITnGenericDataPart();
#endif

    /// The part header; null when the part is gone.
    virtual const GenDCPartHeader *GetHeader() const = 0;

    /// The part header, to write; null when the part is gone.
    virtual GenDCPartHeader *GetMutableHeader() = 0;

    /// The header type exactly as the header holds it, 0x4000 to 0x4FFF,
    /// custom values included.
    virtual uint16_t GetHeaderType() const = 0;

    /// The header type as a TnGenDCPartType: a custom kind for an unnamed
    /// value of the metadata, 1-D, 2-D or custom range, TnGenDCPartUnknown
    /// outside the part range.
    virtual TnGenDCPartType GetHeaderTypeEnum() const = 0;

    /// The part's flags, whose meaning depends on the part type.
    virtual uint16_t GetFlags() const = 0;

    /// The size of the part's header, which depends on its type.
    virtual uint32_t GetHeaderSize() const = 0;

    /// The pixel format of the part's data (GenICam pixel format naming
    /// convention).
    virtual uint32_t GetFormat() const = 0;

    /// The flow that carries the part's data; flows count from 0, the flow of
    /// the descriptor.
    virtual uint16_t GetFlowID() const = 0;

    /// The offset of the part's data from the start of its flow.
    virtual uint64_t GetFlowOffset() const = 0;

    /// The part's data size in bytes: the valid size once the container is
    /// final, otherwise the most that the part can hold.
    virtual uint64_t GetDataSize() const = 0;

    /// The offset of the part's data from the start of the container.
    virtual uint64_t GetDataOffset() const = 0;

    /// The part's data; null when the container holds no data for it (a
    /// descriptor alone) or the data does not fit the container.
    virtual uint8_t *GetDataPointer() = 0;

    /// The part as an image; null unless its header type is a 2-D one.
    virtual ITnGenDCImage *GetGenDCImage() const = 0;

    /// The part's chunks; null unless it is a GenICam chunk metadata part.
    virtual ITnGenDCChunkData *GetGenDCChunkData() const = 0;

    /// The part's chunk writer; null unless it is a GenICam chunk metadata
    /// part.
    virtual ITnGenDCChunkWriter *GetGenDCChunkWriter() const = 0;

    /// The reception time of the container (the buffer's), 0 when it was not
    /// received.
    virtual uint64_t GetReceptionTime() const = 0;

    /// The fields of a metadata part.
    ///
    /// Returns TN_NOT_SUPPORTED, leaving aFields as they were, when the part
    /// is not a metadata part.
    virtual TnResult GetMetadataSpecificFields(TnGenDCPartMetadataFields &aFields) const = 0;

    /// The fields of a 1-D part.
    ///
    /// Returns TN_NOT_SUPPORTED, leaving aFields as they were, when the part
    /// is not a 1-D part.
    virtual TnResult Get1DSpecificFields(TnGenDCPart1DFields &aFields) const = 0;

    /// The fields of a 2-D part (images, JPEG, JPEG 2000 and H.264 parts).
    ///
    /// Returns TN_NOT_SUPPORTED, leaving aFields as they were, when the part
    /// is not a 2-D part.
    virtual TnResult Get2DSpecificFields(TnGenDCPart2DFields &aFields) const = 0;

    /// The fields of an H.264 part.
    ///
    /// Returns TN_NOT_SUPPORTED, leaving aFields as they were, when the part
    /// is not an H.264 part.
    virtual TnResult GetH264SpecificFields(TnGenDCPartH264Fields &aFields) const = 0;
};

/// A 2-D part seen as an image.
class TN_BUFFER_API ITnGenDCImage
{
public:
#ifndef SWIG
    virtual ~ITnGenDCImage();
#endif

    /// The start of the image memory; null when the part has no data.
    virtual uint8_t *GetDataPointer() = 0;

    /// The image's size in bytes within the payload.
    virtual uint32_t GetImageSize() const = 0;

    /// The width in pixels.
    virtual uint32_t GetWidth() const = 0;

    /// The height in pixels.
    virtual uint32_t GetHeight() const = 0;

    /// The pixel type.
    virtual TnPixelType GetPixelType() const = 0;

    /// The bits per pixel of the pixel type.
    virtual uint32_t GetBitsPerPixel() const = 0;

    /// The horizontal offset in pixels (the component's region offset).
    virtual uint32_t GetOffsetX() const = 0;

    /// The vertical offset in pixels (the component's region offset).
    virtual uint32_t GetOffsetY() const = 0;

    /// The padding at the end of each line in bytes.
    virtual uint16_t GetPaddingX() const = 0;

    /// The padding at the end of the image in bytes.
    virtual uint16_t GetPaddingY() const = 0;

    /// The block ID: the container's ID.
    virtual uint64_t GetBlockID() const = 0;
};

/// The chunks of a GenICam chunk metadata part, read in place.
class TN_BUFFER_API ITnGenDCChunkData
{
public:
#ifndef SWIG
    virtual ~ITnGenDCChunkData();
#endif

    /// Whether the part holds chunks.
    virtual bool HasChunks() const = 0;

    /// The number of chunks; 0 when there are none.
    virtual uint32_t GetChunkCount() const = 0;

    /// The ID of the chunk at aIndex (counted from the end of the data).
    ///
    /// Returns TN_NOT_FOUND, with the ID 0, for an index out of range.
    virtual TnResult GetChunkIDByIndex(uint32_t aIndex, uint32_t &aID) const = 0;

    /// The size of the chunk at aIndex in bytes; 0 for an index out of range.
    virtual uint32_t GetChunkSizeByIndex(uint32_t aIndex) const = 0;

    /// The size of the chunk aID in bytes; 0 for an unknown ID.
    virtual uint32_t GetChunkSizeByID(uint32_t aID) const = 0;

    /// The bytes of the chunk at aIndex; null for an index out of range.
    virtual uint8_t *GetChunkRawDataByIndex(uint32_t aIndex) const = 0;

    /// The bytes of the chunk aID; null for an unknown ID.
    virtual uint8_t *GetChunkRawDataByID(uint32_t aID) const = 0;

    /// The chunk layout ID (the low 32 bits of the part's type-specific
    /// information).
    virtual uint32_t GetChunkLayoutID() const = 0;
};

/// The chunk writer of a GenICam chunk metadata part on the send side.
class TN_BUFFER_API ITnGenDCChunkWriter
{
public:
    /// Appends one chunk with that ID: aLength bytes (a multiple of 4 is
    /// expected) and its 8-byte tag, after the chunks added before.
    ///
    /// Returns TN_BUFFER_TOO_SMALL when the part has no room for it, and
    /// TN_INVALID_PARAMETER for null data.
    virtual TnResult AddChunk(uint32_t aID, const uint8_t *aData, uint32_t aLength) = 0;

    /// Removes the chunks added before; a sender calls it before the first
    /// AddChunk of each new set.
    virtual void ResetChunks() = 0;
};

#endif
