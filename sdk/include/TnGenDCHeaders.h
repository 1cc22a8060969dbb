// The headers of a GenDC descriptor (GenICam Generic Data Container, version
// 1.1.0) as plain records: each is the byte image of its header, little-endian,
// field for field. A record is either a header of its own or a window on a
// header inside a container's descriptor.
#ifndef TN_GENDC_HEADERS_H
#define TN_GENDC_HEADERS_H

#include <stddef.h>
#include <stdint.h>

#include "TnUint24.h"

#ifndef SWIG
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "GenDC records are little-endian byte images");
#endif

/// A major, minor or sub-minor version number.
typedef uint8_t GenDCVersionField;
typedef uint8_t GenDCReserved8;
typedef uint16_t GenDCReserved16;
typedef uint32_t GenDCReserved32;
/// Flags of a header.
typedef uint16_t GenDCHeaderFlags;
/// Size of a header in bytes.
typedef uint32_t GenDCHeaderSize;
typedef uint64_t GenDCContainerId;
typedef uint64_t GenDCDataSize;
/// An offset in bytes from the start of the container.
typedef int64_t GenDCOffset;
typedef uint32_t GenDCDescriptorSize;
typedef uint32_t GenDCComponentCount;
typedef uint32_t GenDCFlowCount;
typedef uint64_t GenDCFlowSize;
typedef uint16_t GenDCGroupId;
typedef uint16_t GenDCSourceId;
typedef uint16_t GenDCRegionId;
typedef uint32_t GenDCRegionOffset;
/// Start of data creation in nanoseconds.
typedef int64_t GenDCTimestamp;
typedef uint64_t GenDCComponentTypeId;
typedef uint16_t GenDCPartCount;
typedef uint16_t GenDCFlowId;
/// An offset in bytes within a flow.
typedef int64_t GenDCFlowOffset;
typedef uint64_t GenDCSize1D;
typedef uint32_t GenDCSize2D;
/// Padding in bytes.
typedef uint16_t GenDCPadding;
/// A 24-bit data value.
typedef uint24_t GenDCDataU24;

/// The type of a header (GDC_CONTAINER_HEADER, GDC_COMPONENT_HEADER,
/// GDC_FLOW_TABLE_HEADER ...), stored in 16 bits.
enum GenDCHeaderType : uint16_t
{
};

/// The type of a part header (GDC_2D, GDC_METADATA_GENICAM_CHUNK ...), stored
/// in 16 bits.
enum GenDCPartType : uint16_t
{
};

/// A pixel format code, as TnPixelType.
enum GenDCFormat : int32_t
{
};

/// The signature of a container, "GNDC" read as a little-endian 32-bit value
/// (GDC_SIGNATURE).
enum GenDCSignature : int32_t
{
};

/// The container's flags.
struct GenDCContainerFlagsGroup
{
    GenDCHeaderFlags Value;
};

/// Which fields may vary from one container to the next.
struct GenDCContainerVariableFieldsGroup
{
    GenDCHeaderFlags Value;
};

/// The container header.
struct GenDCContainerHeaderBase
{
    GenDCSignature Signature;
    GenDCVersionField VersionMajor;
    GenDCVersionField VersionMinor;
    GenDCVersionField VersionSubMinor;
    GenDCReserved8 Reserved;
    GenDCHeaderType HeaderType;
    GenDCContainerFlagsGroup Flags;
    GenDCHeaderSize HeaderSize;
    GenDCContainerId Id;
    GenDCContainerVariableFieldsGroup VariableFields;
    GenDCReserved16 Reserved16;
    GenDCReserved32 Reserved32;
    GenDCDataSize DataSize;
    GenDCOffset DataOffset;
    GenDCDescriptorSize DescriptorSize;
    GenDCComponentCount ComponentCount;
};

/// The container header with the first of its ComponentCount component
/// offsets, which follow its fixed part.
struct GenDCContainerHeader : GenDCContainerHeaderBase
{
    GenDCOffset ComponentOffsets[1];
};

typedef GenDCContainerHeader GenDCDescriptor;

/// The flow table: how many flows carry the container and their sizes.
struct GenDCFlowTableHeader
{
    GenDCHeaderType HeaderType;
    GenDCHeaderFlags Flags;
    GenDCHeaderSize HeaderSize;
    GenDCVersionField VersionMajor;
    GenDCVersionField VersionMinor;
    GenDCReserved16 Reserved;
    GenDCFlowCount FlowCount;
};

/// The flow table with the first of its FlowCount flow sizes.
struct GenDCFlowTable : GenDCFlowTableHeader
{
    GenDCFlowSize FlowSize[1];
};

/// A component's flags; bit 0 set means the source marked the component
/// invalid.
struct GenDCComponentFlagsGroup
{
    GenDCHeaderFlags Value;
};

/// The header of a component.
struct GenDCComponentHeaderBase
{
    GenDCHeaderType HeaderType;
    GenDCComponentFlagsGroup Flags;
    GenDCHeaderSize HeaderSize;
    GenDCReserved16 Reserved;
    GenDCGroupId GroupId;
    GenDCSourceId SourceId;
    GenDCRegionId RegionId;
    GenDCRegionOffset RegionOffsetX;
    GenDCRegionOffset RegionOffsetY;
    GenDCTimestamp Timestamp;
    GenDCComponentTypeId TypeId;
    GenDCFormat Format;
    GenDCReserved16 Reserved2;
    GenDCPartCount PartCount;
};

/// The component header with the first of its PartCount part offsets.
struct GenDCComponentHeader : GenDCComponentHeaderBase
{
    GenDCOffset PartOffsets[1];
};

/// A part's flags.
struct GenDCPartFlagsGroup
{
    /// Raw 16-bit flags value.
    GenDCHeaderFlags Value;
};

/// The header every part starts with.
struct GenDCPartHeaderBase
{
    /// Part type identifier. Determines which derived header struct applies. See GenDCPartType.
    GenDCPartType HeaderType;
    /// Part-level flags.
    GenDCPartFlagsGroup Flags;
    /// Total size of this part header in bytes.
    GenDCHeaderSize HeaderSize;
    /// Pixel format of the part data (a TnPixelType code).
    GenDCFormat Format;
    /// Reserved for alignment.
    GenDCReserved16 Reserved;
    /// Identifier of the flow that carries this part's data.
    GenDCFlowId FlowId;
    /// Byte offset of this part's data within the flow.
    GenDCFlowOffset FlowOffset;
    /// Size of this part's data payload in bytes.
    GenDCDataSize DataSize;
    /// Byte offset from the start of the container to this part's data.
    GenDCOffset DataOffset;
};

/// The header under which a part's header is handed out; the root of the 1-D
/// and 2-D families.
struct GenDCPartHeader : GenDCPartHeaderBase
{
};

/// The header of a one-dimensional or metadata part.
struct GenDCPartHeader1DBase : GenDCPartHeader
{
    /// Number of elements in the 1-D array.
    GenDCSize1D SizeX;
    /// Padding at the end of the data in bytes.
    GenDCPadding PaddingX;
    /// Reserved for alignment.
    GenDCReserved16 PaddingReserved;
    /// Reserved.
    GenDCReserved32 InfoReserved;
    /// Type-specific information; its interpretation depends on the part type.
    uint64_t InfoTypeSpecific;
};

/// The header of a 1-D part (GDC_1D).
struct GenDCPartHeader1D : GenDCPartHeader1DBase
{
};

/// The header of a GenICam chunk metadata part (GDC_METADATA_GENICAM_CHUNK).
struct GenDCPartHeaderGenICamChunk : GenDCPartHeader1DBase
{
};

/// The header of a GenICam XML metadata part (GDC_METADATA_GENICAM_XML).
struct GenDCPartHeaderGenICamXML : GenDCPartHeader1DBase
{
};

/// The header of a two-dimensional part.
struct GenDCPartHeader2DBase : GenDCPartHeader
{
    /// Width of the image in pixels.
    GenDCSize2D SizeX;
    /// Height of the image in pixels.
    GenDCSize2D SizeY;
    /// Padding at the end of each row in bytes.
    GenDCPadding PaddingX;
    /// Padding at the end of each column in bytes.
    GenDCPadding PaddingY;
    /// Reserved.
    GenDCReserved32 InfoReserved;
};

/// The header of a 2-D image part (GDC_2D).
struct GenDCPartHeader2D : GenDCPartHeader2DBase
{
};

/// The header of a JPEG part (GDC_2D_JPEG).
struct GenDCPartHeaderJPEG : GenDCPartHeader2DBase
{
};

/// The header of a JPEG 2000 part (GDC_2D_JPEG2000).
struct GenDCPartHeaderJPEG2000 : GenDCPartHeader2DBase
{
};

/// The type-specific information of an H.264 part, with the stream parameters
/// of the RTP payload format for H.264 video.
struct GenDCInfoTypeSpecificH264
{
    /// The H.264 flags byte, whose bits the records do not name.
    struct H264Flags
    {
        uint8_t Bits;
    };

    /// Reserved for future use.
    uint8_t Reserved;
    /// H.264 profile IDC (profile_idc of the sequence parameter set).
    uint8_t ProfileIDC;
    H264Flags Flags;
    /// H.264 level IDC (level_idc of the sequence parameter set).
    uint8_t LevelIDC;
    /// sprop-interleaving-depth parameter.
    uint16_t SpropInterleavingDepth;
    /// sprop-max-don-diff parameter.
    uint16_t SpropMaxDonDiff;
    /// sprop-deint-buf-req parameter, in bytes.
    uint32_t SpropDeintBufReq;
    /// sprop-init-buf-time parameter, in ticks of a 90 kHz clock.
    uint32_t SpropInitBufTime;
};

/// The type-specific information of a JPEG part: none.
struct GenDCInfoTypeSpecificJPEG
{
};

/// The header of an H.264 part (GDC_2D_H264).
struct GenDCPartHeaderH264 : GenDCPartHeader2DBase
{
    /// H.264 type-specific information: profile, level and packetization parameters.
    GenDCInfoTypeSpecificH264 InfoTypeSpecific;
};

#ifndef SWIG
// Each record is the header's byte image: its size, and each field at its
// offset. Fields of derived records are checked through the derived record.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#define TN_GENDC_AT(RECORD, FIELD, OFFSET) static_assert(offsetof(RECORD, FIELD) == OFFSET, #RECORD "::" #FIELD)

static_assert(sizeof(GenDCHeaderType) == 2 && sizeof(GenDCPartType) == 2 && sizeof(GenDCFormat) == 4 &&
                  sizeof(GenDCSignature) == 4,
              "");
static_assert(sizeof(GenDCContainerFlagsGroup) == 2 && sizeof(GenDCContainerVariableFieldsGroup) == 2, "");
static_assert(sizeof(GenDCContainerHeaderBase) == 56 && sizeof(GenDCContainerHeader) == 64, "");
TN_GENDC_AT(GenDCContainerHeaderBase, Signature, 0);
TN_GENDC_AT(GenDCContainerHeaderBase, VersionMajor, 4);
TN_GENDC_AT(GenDCContainerHeaderBase, VersionMinor, 5);
TN_GENDC_AT(GenDCContainerHeaderBase, VersionSubMinor, 6);
TN_GENDC_AT(GenDCContainerHeaderBase, Reserved, 7);
TN_GENDC_AT(GenDCContainerHeaderBase, HeaderType, 8);
TN_GENDC_AT(GenDCContainerHeaderBase, Flags, 10);
TN_GENDC_AT(GenDCContainerHeaderBase, HeaderSize, 12);
TN_GENDC_AT(GenDCContainerHeaderBase, Id, 16);
TN_GENDC_AT(GenDCContainerHeaderBase, VariableFields, 24);
TN_GENDC_AT(GenDCContainerHeaderBase, Reserved16, 26);
TN_GENDC_AT(GenDCContainerHeaderBase, Reserved32, 28);
TN_GENDC_AT(GenDCContainerHeaderBase, DataSize, 32);
TN_GENDC_AT(GenDCContainerHeaderBase, DataOffset, 40);
TN_GENDC_AT(GenDCContainerHeaderBase, DescriptorSize, 48);
TN_GENDC_AT(GenDCContainerHeaderBase, ComponentCount, 52);
TN_GENDC_AT(GenDCContainerHeader, ComponentOffsets, 56);

static_assert(sizeof(GenDCFlowTableHeader) == 16 && sizeof(GenDCFlowTable) == 24, "");
TN_GENDC_AT(GenDCFlowTableHeader, HeaderType, 0);
TN_GENDC_AT(GenDCFlowTableHeader, Flags, 2);
TN_GENDC_AT(GenDCFlowTableHeader, HeaderSize, 4);
TN_GENDC_AT(GenDCFlowTableHeader, VersionMajor, 8);
TN_GENDC_AT(GenDCFlowTableHeader, VersionMinor, 9);
TN_GENDC_AT(GenDCFlowTableHeader, Reserved, 10);
TN_GENDC_AT(GenDCFlowTableHeader, FlowCount, 12);
TN_GENDC_AT(GenDCFlowTable, FlowSize, 16);

static_assert(sizeof(GenDCComponentFlagsGroup) == 2, "");
static_assert(sizeof(GenDCComponentHeaderBase) == 48 && sizeof(GenDCComponentHeader) == 56, "");
TN_GENDC_AT(GenDCComponentHeaderBase, HeaderType, 0);
TN_GENDC_AT(GenDCComponentHeaderBase, Flags, 2);
TN_GENDC_AT(GenDCComponentHeaderBase, HeaderSize, 4);
TN_GENDC_AT(GenDCComponentHeaderBase, Reserved, 8);
TN_GENDC_AT(GenDCComponentHeaderBase, GroupId, 10);
TN_GENDC_AT(GenDCComponentHeaderBase, SourceId, 12);
TN_GENDC_AT(GenDCComponentHeaderBase, RegionId, 14);
TN_GENDC_AT(GenDCComponentHeaderBase, RegionOffsetX, 16);
TN_GENDC_AT(GenDCComponentHeaderBase, RegionOffsetY, 20);
TN_GENDC_AT(GenDCComponentHeaderBase, Timestamp, 24);
TN_GENDC_AT(GenDCComponentHeaderBase, TypeId, 32);
TN_GENDC_AT(GenDCComponentHeaderBase, Format, 40);
TN_GENDC_AT(GenDCComponentHeaderBase, Reserved2, 44);
TN_GENDC_AT(GenDCComponentHeaderBase, PartCount, 46);
TN_GENDC_AT(GenDCComponentHeader, PartOffsets, 48);

static_assert(sizeof(GenDCPartFlagsGroup) == 2, "");
static_assert(sizeof(GenDCPartHeaderBase) == 40 && sizeof(GenDCPartHeader) == 40, "");
static_assert(sizeof(GenDCPartHeader1DBase) == 64 && sizeof(GenDCPartHeader1D) == 64, "");
static_assert(sizeof(GenDCPartHeaderGenICamChunk) == 64 && sizeof(GenDCPartHeaderGenICamXML) == 64, "");
static_assert(sizeof(GenDCPartHeader2DBase) == 56 && sizeof(GenDCPartHeader2D) == 56, "");
static_assert(sizeof(GenDCPartHeaderJPEG) == 56 && sizeof(GenDCPartHeaderJPEG2000) == 56, "");
static_assert(sizeof(GenDCPartHeaderH264) == 72, "");
TN_GENDC_AT(GenDCPartHeaderBase, HeaderType, 0);
TN_GENDC_AT(GenDCPartHeaderBase, Flags, 2);
TN_GENDC_AT(GenDCPartHeaderBase, HeaderSize, 4);
TN_GENDC_AT(GenDCPartHeaderBase, Format, 8);
TN_GENDC_AT(GenDCPartHeaderBase, Reserved, 12);
TN_GENDC_AT(GenDCPartHeaderBase, FlowId, 14);
TN_GENDC_AT(GenDCPartHeaderBase, FlowOffset, 16);
TN_GENDC_AT(GenDCPartHeaderBase, DataSize, 24);
TN_GENDC_AT(GenDCPartHeaderBase, DataOffset, 32);
TN_GENDC_AT(GenDCPartHeader1DBase, SizeX, 40);
TN_GENDC_AT(GenDCPartHeader1DBase, PaddingX, 48);
TN_GENDC_AT(GenDCPartHeader1DBase, PaddingReserved, 50);
TN_GENDC_AT(GenDCPartHeader1DBase, InfoReserved, 52);
TN_GENDC_AT(GenDCPartHeader1DBase, InfoTypeSpecific, 56);
TN_GENDC_AT(GenDCPartHeader2DBase, SizeX, 40);
TN_GENDC_AT(GenDCPartHeader2DBase, SizeY, 44);
TN_GENDC_AT(GenDCPartHeader2DBase, PaddingX, 48);
TN_GENDC_AT(GenDCPartHeader2DBase, PaddingY, 50);
TN_GENDC_AT(GenDCPartHeader2DBase, InfoReserved, 52);
TN_GENDC_AT(GenDCPartHeaderH264, InfoTypeSpecific, 56);

static_assert(sizeof(GenDCInfoTypeSpecificH264) == 16 && sizeof(GenDCInfoTypeSpecificH264::H264Flags) == 1, "");
TN_GENDC_AT(GenDCInfoTypeSpecificH264, Reserved, 0);
TN_GENDC_AT(GenDCInfoTypeSpecificH264, ProfileIDC, 1);
TN_GENDC_AT(GenDCInfoTypeSpecificH264, Flags, 2);
TN_GENDC_AT(GenDCInfoTypeSpecificH264, LevelIDC, 3);
TN_GENDC_AT(GenDCInfoTypeSpecificH264, SpropInterleavingDepth, 4);
TN_GENDC_AT(GenDCInfoTypeSpecificH264, SpropMaxDonDiff, 6);
TN_GENDC_AT(GenDCInfoTypeSpecificH264, SpropDeintBufReq, 8);
TN_GENDC_AT(GenDCInfoTypeSpecificH264, SpropInitBufTime, 12);

#undef TN_GENDC_AT
#pragma GCC diagnostic pop
#endif

#endif
