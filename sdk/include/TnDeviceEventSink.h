// The receiver of a device's notifications.
#ifndef TN_DEVICE_EVENT_SINK_H
#define TN_DEVICE_EVENT_SINK_H

#include <stdint.h>

#include "TnExport.h"

class TnDevice;
class TnGenParameterList;

/// Receives the notifications of the devices it is registered with.
///
/// The SDK calls these methods on its own threads, one call at a time per
/// device, between ``TnDevice::RegisterEventSink`` and
/// ``TnDevice::UnregisterEventSink``. Whatever a method throws is caught and
/// logged; the device runs on. Each method of this class does nothing:
/// override the ones of interest. A sink destroyed while registered is
/// unregistered from every device as it goes.
class TN_DEVICE_API TnDeviceEventSink
{
public:
    TnDeviceEventSink();
    virtual ~TnDeviceEventSink();

    /// The device stopped answering, or took control away: the controller
    /// is disconnected now. Called once per lost link.
    virtual void OnLinkDisconnected(TnDevice *aDevice);

    /// Deprecated: the SDK no longer calls it.
    virtual void OnLinkReconnected(TnDevice *aDevice);

    /// An event of the device's message channel.
    ///
    /// ``aChannel`` is 0xFFFF when the event belongs to no stream channel,
    /// ``aBlockID`` 0 when it belongs to no block, ``aTimestamp`` is in the
    /// device's time unit. ``aData`` holds the event's data in the device's
    /// byte order, ``aDataLength`` bytes, and is null when the event carries
    /// none; it is valid during the call only.
    virtual void OnEvent(TnDevice *aDevice, uint16_t aEventID, uint16_t aChannel, uint64_t aBlockID,
                         uint64_t aTimestamp, const void *aData, uint32_t aDataLength);

    /// An event that the device's GenICam description maps onto features:
    /// ``aData`` lists the features that read the event's data (valid during
    /// the call only). Called after ``OnEvent`` for the same event.
    virtual void OnEventGenICam(TnDevice *aDevice, uint16_t aEventID, uint16_t aChannel, uint64_t aBlockID,
                                uint64_t aTimestamp, TnGenParameterList *aData);

    /// A read through the device's GenICam port succeeded: ``aLength`` bytes
    /// at ``aAddress``, as the device sent them.
    virtual void OnCmdLinkRead(const void *aBuffer, int64_t aAddress, int64_t aLength);

    /// A write through the device's GenICam port succeeded.
    virtual void OnCmdLinkWrite(const void *aBuffer, int64_t aAddress, int64_t aLength);
};

#endif
