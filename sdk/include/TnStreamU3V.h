// The receiving end of a USB3 Vision stream channel.
#ifndef TN_STREAM_U3V_H
#define TN_STREAM_U3V_H

#include <stdint.h>

#include "TnDeviceInfo.h"
#include "TnExport.h"
#include "TnResult.h"
#include "TnStream.h"
#include "TnStreamTypes.h"
#include "TnString.h"

/// Receives the blocks (images or raw data) of a USB3 Vision device's stream
/// channel.
///
/// This host has no USB3 Vision transport: the stream reads the channel of
/// the simulated device that discovery reports (see ``TARN_SIMULATED_DEVICES``).
/// It configures the device's streaming interface registers, enables the
/// channel and, on its own thread, reads each block as the device sends it:
/// the leader, the payload straight into the queued buffer's memory in
/// transfers of the size it configured, and the trailer. A block whose data
/// the device discarded, or that does not fit its buffer, comes back failed
/// (``TN_IMAGE_ERROR``, ``TN_BUFFER_TOO_SMALL``); blocks the device dropped
/// because no buffer was queued in time count in the parameter
/// ``BlocksMissed``.
///
/// Only one stream to a device's channel can be open at a time. The
/// receiver's settings and statistics are features of ``GetParameters``.
class TN_STREAM_API TnStreamU3V : public TnStream
{
public:
    /// A closed stream.
    TnStreamU3V();

    /// Closes the stream first.
    virtual ~TnStreamU3V();

    /// Opens the stream on the device's channel 0 with room for 64 buffers.
    virtual TnResult Open(const TnDeviceInfo *aDeviceInfo);

    /// Opens the stream: the device by its information, the streaming
    /// channel, the most buffers that can be queued at once, the payload
    /// size under which a block is received through the stream's own memory
    /// and copied rather than received in place, and the most transfer
    /// requests kept pending at the device.
    ///
    /// ``TN_OK``; ``TN_INVALID_PARAMETER`` (no USB3 Vision device, a capacity
    /// or request count of 0); ``TN_STATE_ERROR`` when the stream is open
    /// already; ``TN_NOT_FOUND`` when the device or the channel is not there;
    /// ``TN_BUSY`` when another stream receives the channel;
    /// ``TN_NOT_SUPPORTED`` when the device has no streaming interface.
    TnResult Open(const TnDeviceInfo *aDeviceInfo, uint16_t aChannel, uint32_t aBuffersCapacity = 64,
                  uint32_t aSmallImageThreshold = 512, uint32_t aMaximumNumberOfPendingURB = 64);

    /// Opens the stream on channel 0 of the device with this GUID (or
    /// unique ID) with room for 64 buffers.
    virtual TnResult Open(const TnString &aDeviceGUID);

    /// Opens the stream on a channel of the device with this GUID (or
    /// unique ID), as the form with device information does.
    TnResult Open(const TnString &aDeviceGUID, uint16_t aChannel, uint32_t aBuffersCapacity = 64,
                  uint32_t aSmallImageThreshold = 512, uint32_t aMaximumNumberOfPendingURB = 64);

    /// The GUID of the device the stream receives from; empty when not open.
    TnString GetGUID();

    /// ``TnStreamTypeU3V``.
    virtual TnStreamType GetType() const;

#ifndef SWIG
private:
    TnStreamU3V(const TnStreamU3V &) = delete;
    TnStreamU3V &operator=(const TnStreamU3V &) = delete;
#endif
};

#endif
