// Constants of the generic data container (GenDC) format.
#ifndef TN_GENDC_TYPES_H
#define TN_GENDC_TYPES_H

#include <stdint.h>

/// GenDC header values.
enum : int32_t
{
    GDC_SIGNATURE = 0x43444E47,
    GDC_VERSION_MAJOR = 0x0001,
    GDC_VERSION_MINOR = 0x0001,
    GDC_VERSION_SUBMINOR = 0x0000,
    GDC_HEADER_TYPE_MASK = 0xF000,
    GDC_UNDEFINED_HEADER = 0x0000,
    GDC_CONTAINER_HEADER = 0x1000,
    GDC_COMPONENT_HEADER = 0x2000,
    GDC_PART_HEADER_MIN = 0x4000,
    GDC_PART_HEADER_MAX = 0x4FFF,
    GDC_PART_HEADER = 0x4000,
    GDC_FLOW_TABLE_HEADER = 0x7000,
    GDC_UNDEFINED_COMPONENT = 0x0000,
    GDC_INTENSITY = 0x0001,
    GDC_INFRARED = 0x0002,
    GDC_ULTRAVIOLET = 0x0003,
    GDC_RANGE = 0x0004,
    GDC_REFLECTANCE = 0x0005,
    GDC_CONFIDENCE = 0x0006,
    GDC_SCATTER = 0x0007,
    GDC_DISPARITY = 0x0008,
    GDC_MULTISPECTRAL = 0x0009,
    GDC_EXTENDED_COMPONENT = 0x8000,
    GDC_METADATA = 0x8001,
    GDC_CUSTOM_COMPONENT_MIN = 0xFF00,
    GDC_CUSTOM_COMPONENT_MAX = 0xFFFE,
    GDC_CUSTOM_COMPONENT = 0xFF00,
    GDC_RESERVED_COMPONENT = 0xFFFF,
    GDC_UNDEFINED_PART = 0x0000,
    GDC_GENERIC_PART_TYPE_MASK = 0x4F00,
    GDC_GENERIC_PART_METADATA = 0x4000,
    GDC_GENERIC_PART_1D = 0x4100,
    GDC_GENERIC_PART_2D = 0x4200,
    GDC_GENERIC_PART_CUSTOM = 0x4F00,
    GDC_METADATA_GENICAM_CHUNK = 0x4000,
    GDC_METADATA_GENICAM_XML = 0x4001,
    GDC_1D = 0x4100,
    GDC_2D = 0x4200,
    GDC_2D_JPEG = 0x4201,
    GDC_2D_JPEG2000 = 0x4202,
    GDC_2D_H264 = 0x4203
};

/// GenDC header and type values.
enum : int32_t
{
    Signature_GNDC = 0x43444E47,
    VersionMajorCurrent = 0x0001,
    VersionMinorCurrent = 0x0001,
    VersionSubMinorCurrent = 0x0000,
    ReservedDefaultValue = 0x0000,
    TypeHeaderMask = 0xF000,
    TypeUndefined = 0x0000,
    TypeContainer = 0x1000,
    TypeComponent = 0x2000,
    TypePart = 0x4000,
    TypeFlowTable = 0x7000,
    TypeUndefinedComponent = 0x0000,
    TypeIntensity = 0x0001,
    TypeInfrared = 0x0002,
    TypeUltraviolet = 0x0003,
    TypeRange = 0x0004,
    TypeReflectance = 0x0005,
    TypeConfidence = 0x0006,
    TypeDisparity = 0x0008,
    TypeScatter = 0x0007,
    TypeMultispectral = 0x0009,
    TypeExtended = 0x8000,
    TypeMetadata = 0x8001,
    TypeCustomComponent = 0xFF00,
    TypeReservedComponent = 0xFFFF,
    TypeUndefinedPart = 0x0000,
    TypeGenericPartMetadata = 0x4000,
    TypeGenericPart1D = 0x4100,
    TypeGenericPart2D = 0x4200,
    TypeGenericPartCustom = 0x4F00,
    TypeGenericPartMask = 0x4F00,
    TypeMetadataGenICamChunk = 0x4000,
    TypeMetadataGenICamXML = 0x4001,
    TypeMetadataCustom = 0x40F0,
    Type1D = 0x4100,
    Type1DCustom = 0x41F0,
    Type2D = 0x4200,
    TypeJPEG = 0x4201,
    TypeJPEG2000 = 0x4202,
    TypeH264 = 0x4203,
    Type2DCustom = 0x42F0,
    TypeCustomPart = 0x4F00
};

/// Wildcards and invalid indices of GenDC lookups.
enum : int32_t
{
    GenDCAllComponents = -1,
    GenDCAllFlows = -1,
    GenDCAllParts = 0xFFFF,
    GenDCAllData = -1,
    GenDCCenter = -2,
    GenDCInvalidComponentIndex = -1,
    GenDCInvalidPartIndex = 0xFFFF
};

/// Least counts of a GenDC container.
enum : int32_t
{
    GDC_CONTAINER_COMPONENT_COUNT_MIN = 0x0001,
    GDC_COMPONENT_PART_COUNT_MIN = 0x0001
};

/// Component types of GenDC data.
enum TnComponentType
{
    TnComponentUndefined = 0x0000,
    TnComponentIntensity = 0x0001,
    TnComponentInfrared = 0x0002,
    TnComponentUltraviolet = 0x0003,
    TnComponentRange = 0x0004,
    TnComponentReflectance = 0x0005,
    TnComponentConfidence = 0x0006,
    TnComponentScatter = 0x0007,
    TnComponentDisparity = 0x0008,
    TnComponentMultispectral = 0x0009,
    TnComponentMetadata = 0x8001,
    TnComponentCustom = 0x8002,
    TnComponentReserved = 0xFFFF
};

/// The flags of a container's variable-fields group, in their bit order.
enum TnGenDCVariableField
{
    TnGenDCVFDataSize = 0x0000,
    TnGenDCVFSizeX = 0x0001,
    TnGenDCVFSizeY = 0x0002,
    TnGenDCVFRegionOffset = 0x0003,
    TnGenDCVFFormat = 0x0004,
    TnGenDCVFTimestamp = 0x0005,
    TnGenDCVFComponentCount = 0x0006,
    TnGenDCVFComponentInvalid = 0x0007,
    TnGenDCVFReserved = 0x0008
};

/// GenDC part types.
enum TnGenDCPartType
{
    TnGenDCPartMetadataGenICamChunk = 0x4000,
    TnGenDCPartMetadataGenICamXML = 0x4001,
    TnGenDCPart1D = 0x4100,
    TnGenDCPart2D = 0x4200,
    TnGenDCPart2DJpeg = 0x4201,
    TnGenDCPart2DJpeg2000 = 0x4202,
    TnGenDCPart2DH264 = 0x4203,
    TnGenDCPartMetadataCustom = 0x4204,
    TnGenDCPart1DCustom = 0x4205,
    TnGenDCPart2DCustom = 0x4206,
    TnGenDCPartCustom = 0x4207,
    TnGenDCPartUnknown = 0x0000
};

#endif
