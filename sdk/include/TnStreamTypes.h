// Kinds of streams and of the data receivers behind them.
#ifndef TN_STREAM_TYPES_H
#define TN_STREAM_TYPES_H

/// The kind of a stream.
enum TnStreamType
{
    /// No stream, or one of an unknown kind.
    TnStreamTypeUnknown = -1,
    /// A GigE Vision stream.
    TnStreamTypeGEV = 0,
    /// A USB3 Vision stream.
    TnStreamTypeU3V = 1,
    /// An RTP stream.
    TnStreamTypeRTP = 2
};

/// What receives the data of a GigE Vision stream.
enum TnDataReceiverType
{
    /// An unknown receiver.
    TnDataReceiverTypeUnknown = -1,
    /// The SDK's network driver.
    TnDataReceiverTypeTarnDriver = 0,
    /// The SDK's user-mode receiver, on ordinary sockets.
    TnDataReceiverTypeUserMode = 1,
    /// A TCP receiver.
    TnDataReceiverTypeTCP = 2,
    /// The GigE Vision driver with direct memory access.
    TnDataReceiverTypeGEVDriverDMA = 3
};

#endif
