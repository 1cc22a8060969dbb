// The receiving end of an RTP stream.
#ifndef TN_STREAM_RTP_H
#define TN_STREAM_RTP_H

#include <stdint.h>

#include "TnDeviceInfo.h"
#include "TnExport.h"
#include "TnPixelType.h"
#include "TnResult.h"
#include "TnStream.h"
#include "TnStreamTypes.h"
#include "TnString.h"

/// A session's description (an SDP record). No function hands one out.
class TnSessionInfoSDP;

/// Receives a stream sent over RTP: unicast to a local address and port,
/// from a multicast group's data port, or over TCP from an RTP server
/// (RFC 4571: a 2-byte length before each packet).
///
/// What the stream makes of the packets depends on what it was told to
/// expect, before or while it is open:
///
/// - ``PrepareFor``: uncompressed video (RFC 4175) of that width, height and
///   pixel type: each frame is received into one buffer, each line segment
///   written at its line and offset (over UDP straight from the socket), and
///   the buffer holds an image of that geometry. Pixel types whose bytes are
///   those of an RFC 4175 sampling at 8 bits: RGB8, BGR8, RGBa8, BGRa8,
///   YUV8_UYV (4:4:4), YUV422_8_UYVY (4:2:2), YUV411_8_UYYVYY (4:1:1) and the
///   8-bit monochrome and Bayer types (one sample per pixel).
/// - ``PrepareForH264``: H.264 (RFC 6184: single NAL units, STAP-A, FU-A):
///   each access unit comes in a buffer of payload type
///   ``TnPayloadTypeH264``, in Annex B form (a 4-byte start code before each
///   NAL unit).
/// - nothing (``ResetPayloadType``): each frame's packets' payloads one
///   after the other, as raw data.
///
/// A frame ends with the packet that carries the marker bit. A frame that
/// misses a packet (a gap in the sequence numbers) comes back failed
/// (``TN_MISSING_PACKETS``), never complete with a hole; one that does not fit
/// its buffer with ``TN_BUFFER_TOO_SMALL``; packets that do not fit what the
/// stream expects with ``TN_INVALID_DATA_FORMAT``. The stream follows the
/// first sender it hears; another one is taken only after that one has been
/// silent for a while.
///
/// The receiver's statistics are features of ``GetParameters``.
class TN_STREAM_API TnStreamRTP : public TnStream
{
public:
    /// A closed stream that expects nothing in particular.
    TnStreamRTP();

    /// Closes the stream first.
    virtual ~TnStreamRTP();

    /// Expects uncompressed video: aWidth x aHeight pixels of aPixelType,
    /// each line followed by aPaddingX bytes in the buffer. It holds from the
    /// next frame on. ``TN_OK``; ``TN_INVALID_PARAMETER`` for a pixel type that
    /// is no RFC 4175 sampling at 8 bits, a width that is no whole number of
    /// pixel groups, or a width or height of 0 or above 32767.
    TnResult PrepareFor(uint32_t aWidth, uint32_t aHeight, TnPixelType aPixelType, uint16_t aPaddingX = 0);

    /// Expects H.264 access units, from the next frame on. ``TN_OK``.
    TnResult PrepareForH264();

    /// Expects nothing in particular, from the next frame on. ``TN_OK``.
    TnResult ResetPayloadType();

    /// Not supported with RTP: ``TN_NOT_SUPPORTED``.
    virtual TnResult Open(const TnDeviceInfo *aDeviceInfo);

    /// Not supported with RTP: ``TN_NOT_SUPPORTED``.
    virtual TnResult Open(const TnString &aInfo);

    /// Opening from a session description: ``TN_NOT_SUPPORTED``.
    TnResult Open(const TnSessionInfoSDP *aSession, const TnString &aLocalIpAddress, uint16_t aLocalPort = 0);

    /// Receives unicast on the local address (empty: every address) and port
    /// (0: a free one, see ``GetLocalPort``). ``TN_OK``; ``TN_INVALID_PARAMETER``
    /// for text that is no IPv4 address; ``TN_STATE_ERROR`` when the stream is
    /// open already; ``TN_NETWORK_ERROR`` when the port cannot be had.
    TnResult Open(const TnString &aLocalIpAddress, uint16_t aLocalPort);

    /// Receives a multicast group's data port, joining the group on the
    /// local address (empty: the system's choice). Results as the unicast
    /// open, and ``TN_INVALID_PARAMETER`` for an address that is no multicast
    /// group.
    TnResult Open(const TnString &aMulticastAddress, uint16_t aDataPort, const TnString &aLocalIpAddress);

    /// Receives over TCP from the RTP server at that address and port
    /// (RFC 4571). Connecting again when the server closes the connection.
    /// ``TN_OK``; ``TN_INVALID_PARAMETER`` for text that is no IPv4 address or
    /// port 0; ``TN_NOT_CONNECTED`` when no server answers.
    TnResult OpenTCP(const TnString &aServerIPAddress, uint16_t aServerPort);

    /// ``TnStreamTypeRTP``.
    virtual TnStreamType GetType() const;

    /// The local port the packets come to (for TCP, the connection's); 0
    /// when not open.
    uint16_t GetLocalPort() const;

    /// The local address the packets come to; empty when not open or bound
    /// to every address.
    TnString GetLocalIPAddress() const;

    /// The multicast group; empty unless the stream receives one.
    TnString GetMulticastIPAddress() const;

    /// The TCP server's address; empty unless the stream was opened with
    /// ``OpenTCP``.
    TnString GetTCPServerIPAddress() const;

    /// The TCP server's port; 0 unless the stream was opened with ``OpenTCP``.
    uint16_t GetTCPServerPort() const;

    /// The receive thread's priority: 0 (the system's normal scheduling) to
    /// 99 (real-time scheduling, with the privilege for it).
    uint32_t GetThreadPriority() const;

    /// Sets the receive thread's priority, now and for later openings.
    /// ``TN_OK``, ``TN_INVALID_PARAMETER`` above 99, ``TN_THREAD_ERROR`` when
    /// the system refuses it.
    TnResult SetThreadPriority(uint32_t aPriority);

#ifndef SWIG
private:
    TnStreamRTP(const TnStreamRTP &) = delete;
    TnStreamRTP &operator=(const TnStreamRTP &) = delete;
#endif
};

#endif
