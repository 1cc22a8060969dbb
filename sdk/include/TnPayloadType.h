// Kinds of buffer payloads.
#ifndef TN_PAYLOAD_TYPE_H
#define TN_PAYLOAD_TYPE_H

/// The kind of payload a buffer carries.
enum TnPayloadType
{
    TnPayloadTypeUndefined = -1,
    TnPayloadTypeNone = 0,
    TnPayloadTypeImage = 1,
    TnPayloadTypeRawData = 2,
    TnPayloadTypeFile = 3,
    TnPayloadTypeChunkData = 4,
    TnPayloadTypeExtendedChunkData = 5,
    TnPayloadTypeJPEG = 6,
    TnPayloadTypeJPEG2000 = 7,
    TnPayloadTypeH264 = 8,
    TnPayloadTypeMultiZoneImage = 9,
    TnPayloadTypeMultiPart = 10,
    TnPayloadTypeGenDC = 11,
    TnPayloadTypeDeviceSpecificBase = 32768,
    TnPayloadTypeVexmoorCompressed = 32999
};

#endif
