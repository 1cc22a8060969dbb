// The receiving end of a GigE Vision stream channel.
#ifndef TN_STREAM_GEV_H
#define TN_STREAM_GEV_H

#include <stdint.h>

#include "TnDeviceInfo.h"
#include "TnExport.h"
#include "TnResult.h"
#include "TnStream.h"
#include "TnStreamTypes.h"
#include "TnString.h"

/// Receives the blocks (images or raw data) a GigE Vision transmitter sends to
/// this host (unicast) or to a multicast group.
///
/// The SDK's user-mode receiver does the work: one thread per stream, which
/// takes the datagrams in batches and has the system write each packet's
/// payload straight into its place in a queued buffer. Packets that do not
/// come are asked for again when the device offers packet resend (the
/// parameter ``RequestMissingPackets``); a block that stays incomplete comes
/// back failed (``TN_MISSING_PACKETS``, ``TN_RESENDS_FAILURE``,
/// ``TN_TOO_MANY_RESENDS``), one larger than its buffer with
/// ``TN_BUFFER_TOO_SMALL``.
///
/// The receiver's settings and statistics are features of ``GetParameters``.
class TN_STREAM_API TnStreamGEV : public TnStream
{
public:
    /// A closed stream.
    TnStreamGEV();

    /// Closes the stream first.
    virtual ~TnStreamGEV();

    /// Opens the stream unicast on the device's channel 0, on a port the
    /// system chooses, with room for 64 buffers.
    virtual TnResult Open(const TnDeviceInfo *aDeviceInfo);

    /// Opens the stream unicast: the device by its information, the local
    /// port for the data (0: a port the system chooses, see ``GetLocalPort``),
    /// the device's streaming channel, the local address (deprecated and
    /// ignored: the address the device was found through is used) and the
    /// most buffers that can be queued at once.
    ///
    /// The stream only receives: pointing the device's channel at
    /// ``GetLocalIPAddress`` and ``GetLocalPort`` is the device controller's
    /// part. ``TN_OK``, ``TN_INVALID_PARAMETER`` (no GigE Vision device, a
    /// capacity of 0), ``TN_STATE_ERROR`` when the stream is open already,
    /// ``TN_NETWORK_ERROR`` when the port cannot be had.
    TnResult Open(const TnDeviceInfo *aDeviceInfo, uint16_t aLocalPort, uint16_t aChannel = 0,
                  const TnString &aLocalIPAddress = TnString(), uint32_t aBuffersCapacity = 64);

    /// Opens the stream on a multicast group: the device by its information,
    /// the group's address and data port, the device's streaming channel, the
    /// local address (deprecated and ignored) and the most buffers that can be
    /// queued at once.
    TnResult Open(const TnDeviceInfo *aDeviceInfo, const TnString &aMulticastAddr, uint16_t aDataPort,
                  uint16_t aChannel = 0, const TnString &aLocalIPAddress = TnString(), uint32_t aBuffersCapacity = 64);

    /// Opens the stream unicast on channel 0 of the device at this IP address
    /// (dotted form), on a port the system chooses.
    virtual TnResult Open(const TnString &aIPAddress);

    /// Opens the stream unicast from the device at this IP address: the local
    /// port (0: the system chooses), the streaming channel, the local address
    /// to receive on (empty: the one the route to the device leaves from) and
    /// the most buffers that can be queued at once.
    TnResult Open(const TnString &aIPAddress, uint16_t aLocalPort, uint16_t aChannel = 0,
                  const TnString &aLocalIPAddress = TnString(), uint32_t aBuffersCapacity = 64);

    /// Opens the stream on a multicast group, from the device at this IP
    /// address: the group's address and data port, the streaming channel, the
    /// local address to join the group on (empty: the system's choice) and
    /// the most buffers that can be queued at once.
    TnResult Open(const TnString &aIPAddress, const TnString &aMulticastAddr, uint16_t aDataPort, uint16_t aChannel = 0,
                  const TnString &aLocalIPAddress = TnString(), uint32_t aBuffersCapacity = 64);

    /// ``TnStreamTypeGEV``.
    virtual TnStreamType GetType() const;

    /// Where the open stream takes its data from:
    /// ``TnDataReceiverTypeTarnDriver`` when the SDK's packet ring receives it
    /// (the kernel copies each packet into memory the receiver reads a block
    /// of packets at a time; it needs the privilege to open packet sockets),
    /// ``TnDataReceiverTypeUserMode`` when the stream's UDP socket does (also
    /// while the stream is closed). The stream parameter ``DataReceiver``
    /// chooses; by default the packet ring where it can be opened, except for
    /// jumbo packets (more than 4 KiB of payload), which the socket takes
    /// from the first one on.
    TnDataReceiverType GetDataReceiverType() const;

    /// Drops every packet the receiver has not yet processed, and every block
    /// in flight (its buffer ends with ``TN_ABORTED``). Call it before resuming
    /// after a pause, so that old packets are not taken for new data.
    /// ``TN_OK``, ``TN_NOT_CONNECTED``.
    TnResult FlushPacketQueue();

    /// Whether a capture starts only with a block's first packet (its
    /// leader): packets of a block whose leader was missed are ignored.
    bool GetWaitForFirstPacketOfBlockToStart() const;

    /// Sets whether a capture starts only with a block's first packet; it
    /// holds from the next block on. ``TN_OK``, ``TN_NOT_CONNECTED`` when the
    /// stream is not open.
    TnResult SetWaitForFirstPacketOfBlockToStart(bool aWaitForFirstPacketOfBlockToStart);

    /// The local port the data comes to (the one the system chose when 0 was
    /// asked for); 0 when not open.
    uint16_t GetLocalPort() const;

    /// The local port asked for at opening; 0 when none was asked for or the
    /// stream is not open.
    uint16_t GetSpecificLocalPort() const;

    /// The local address the data comes to.
    TnString GetLocalIPAddress() const;

    /// The multicast group's address; empty for a unicast stream.
    TnString GetMulticastIPAddress() const;

    /// The address of the device the stream receives from.
    TnString GetDeviceIPAddress() const;

    /// The user-mode receiver's thread priority, as set: 0 (the system's
    /// normal scheduling) to 99 (real-time scheduling, with the privilege for
    /// it). It applies while the stream's socket takes the data
    /// (``TnDataReceiverTypeUserMode``); the packet ring's receive
    /// (``TnDataReceiverTypeTarnDriver``) runs at 0 whatever is set.
    uint32_t GetUserModeDataReceiverThreadPriority() const;

    /// Sets the user-mode receiver's thread priority, now when the socket
    /// takes the data, and whenever it does later (this opening or later
    /// ones). ``TN_OK``, ``TN_INVALID_PARAMETER`` above 99,
    /// ``TN_THREAD_ERROR`` when the system refuses it now.
    TnResult SetUserModeDataReceiverThreadPriority(uint32_t aPriority);

    /// The receive socket's buffer size (SO_RCVBUF) as the system reports it,
    /// which may be double what was asked. ``TN_OK``, ``TN_NOT_CONNECTED``,
    /// ``TN_NOT_SUPPORTED`` when the packet ring receives the data.
    TnResult GetUserModeSocketRxBufferSize(uint32_t &aSize);

    /// The receive socket's buffer size (SO_RCVBUF) to ask for; 0 for the
    /// SDK's choice (32 MiB where the system allows it). Set it before
    /// opening: ``TN_NETWORK_CONFIG_ERROR`` while open.
    TnResult SetUserModeSocketRxBufferSize(uint32_t aSize);

    /// The largest packet the receiver takes: 17000 (the default) to 65500;
    /// values outside are taken as the nearest bound. Set it before opening:
    /// ``TN_NETWORK_CONFIG_ERROR`` while open.
    TnResult SetUserModeRxPacketBufferSize(uint32_t aSize);

    /// Whether the device at this IP address is reached through the SDK's
    /// network driver: whether a packet ring can be opened on the interface
    /// that the route to the address leaves from.
    /// ``TN_OK``, ``TN_INVALID_PARAMETER`` for text that is no IP address. The
    /// local address is deprecated and ignored.
    static TnResult IsDriverInstalled(TnString &aIPAddress, bool &aInstalled,
                                      const TnString &aLocalIPAddress = TnString());

#ifndef SWIG
private:
    TnStreamGEV(const TnStreamGEV &) = delete;
    TnStreamGEV &operator=(const TnStreamGEV &) = delete;
#endif
};

#endif
