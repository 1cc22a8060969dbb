// Enumerations of the receive side's streams and buffer conversion: stream
// kinds, the GigE Vision stream's receiving paths, compression encodings and
// the buffer converter's colour filters.
#ifndef TN_STREAM_TYPES_H
#define TN_STREAM_TYPES_H

/// Compression encodings of the compression and decompression filters.
typedef enum
{
    TnEncodingUnknown = -1,
    TnEncodingPTC1 = 0
} TnEncodingEnum;

/// Bayer interpolation of the buffer converter.
typedef enum
{
    TnBayerFilterSimple = 1,
    TnBayerFilter3X3 = 2
} TnBayerFilterType;

/// Bi-colour interpolation of the buffer converter.
typedef enum
{
    TnBiColorFilter1X2 = 1,
    TnBiColorFilter1X3 = 2
} TnBiColorFilterType;

/// Kinds of streams.
typedef enum
{
    TnStreamTypeUnknown = -1,
    TnStreamTypeGEV = 0,
    TnStreamTypeU3V = 1,
    TnStreamTypeRTP = 2
} TnStreamType;

/// How a GigE Vision stream receives its packets.
typedef enum
{
    TnDataReceiverTypeUnknown = -1,
    TnDataReceiverTypeTarnDriver = 0,
    TnDataReceiverTypeUserMode = 1,
    TnDataReceiverTypeTCP = 2,
    TnDataReceiverTypeGEVDriverDMA = 3
} TnDataReceiverType;

#endif
