// A controller of one device: connection, features, memory and events.
#ifndef TN_DEVICE_H
#define TN_DEVICE_H

#include <stdint.h>

#include "TnDeviceEventSink.h"
#include "TnDeviceInfo.h"
#include "TnDiscoveryTypes.h"
#include "TnExport.h"
#include "TnGenParameterArray.h"
#include "TnResult.h"
#include "TnString.h"

namespace tn
{
namespace device
{
class DeviceCore;
}
} // namespace tn

/// The controller of one GigE Vision or USB3 Vision device.
///
/// ``CreateAndConnect`` builds and connects a controller of the device's kind;
/// ``TnDeviceGEV`` and ``TnDeviceU3V`` can also be built and connected
/// directly. Every operation may be called from any thread; operations that
/// talk to the device block until it answers or the answer timeout (with its
/// retries) runs out.
class TN_DEVICE_API TnDevice
{
public:
    /// Builds a controller of the device's kind and connects it: a
    /// ``TnDeviceGEV`` for GigE Vision, a ``TnDeviceU3V`` for USB3 Vision.
    /// Returns null when the connection fails; ``aResult`` (may be null)
    /// receives the outcome. Release the controller with ``Free``.
    static TnDevice *CreateAndConnect(const TnDeviceInfo *aDeviceInfo, TnResult *aResult);

    /// Finds the device by its MAC address, IP address, user-defined name,
    /// serial number or connection ID, then builds and connects a controller
    /// as the other form does.
    static TnDevice *CreateAndConnect(const TnString &aInfo, TnResult *aResult);

    /// Disconnects and destroys a controller made by ``CreateAndConnect``.
    /// Any other controller, and one freed already, is left alone (and a
    /// warning logged).
    static void Free(TnDevice *aDevice);

    virtual ~TnDevice();

    /// Connects to a device a search found; the device information may come
    /// from a system that no longer exists once this returns.
    virtual TnResult Connect(const TnDeviceInfo *aDeviceInfo);

    /// Finds the device by its MAC address, IP address, user-defined name,
    /// serial number or connection ID, and connects to it.
    virtual TnResult Connect(const TnString &aInfo);

    /// Gives the device's control back and closes the link. The parameter
    /// arrays handed out stay valid, but their features are not available.
    TnResult Disconnect();

    /// Whether the controller is connected and the link alive.
    bool IsConnected() const;

    /// Whether the connected device is built on a Vexmoor design.
    bool IsVexmoorPowered() const;

    /// The kind of controller.
    TnDeviceType GetType() const;

    /// Locks the transport parameters of a stream channel before streaming.
    TnResult StreamEnable(uint32_t aChannel = 0);

    /// Unlocks the transport parameters of a stream channel after streaming.
    TnResult StreamDisable(uint32_t aChannel = 0);

    /// Saves the device's GenICam description (the XML file, or the zip
    /// archive that holds it, as the device keeps it) under a file name.
    TnResult DumpGenICamXML(const TnString &aFilename);

    /// The file name of the device's GenICam description, from its location,
    /// for ``DumpGenICamXML``.
    TnResult GetDefaultGenICamXMLFilename(TnString &aFilename);

    /// The device's GenICam features; null before the first connection. The
    /// array belongs to the controller.
    TnGenParameterArray *GetParameters();

    /// The controller's own link settings as GenICam features (answer
    /// timeout, retries, heartbeat, packet limits, statistics). The array
    /// belongs to the controller.
    TnGenParameterArray *GetCommunicationParameters();

    /// Reads ``aByteCount`` bytes of device memory at ``aAddress``, at any
    /// address and of any count: a GigE Vision device is asked for the whole
    /// 4-byte words that hold them.
    TnResult ReadMemory(int64_t aAddress, uint8_t *aDestination, int64_t aByteCount);

    /// Writes ``aByteCount`` bytes to device memory at ``aAddress``. Negative
    /// counts, counts of 2^31 bytes or more and ranges outside the device's
    /// address space fail with TN_INVALID_PARAMETER, and so do, for a GigE
    /// Vision device, which writes memory in whole 4-byte words, an address or
    /// a count that is no multiple of 4.
    TnResult WriteMemory(int64_t aAddress, const uint8_t *aSource, int64_t aByteCount);

    /// Waits until every event received so far has been delivered to the
    /// event sinks: TN_OK, or TN_TIMEOUT after ``aTimeout`` milliseconds.
    TnResult WaitForMessagingChannelIdle(uint32_t aTimeout);

    /// Registers a sink for the device's notifications; the controller does
    /// not own it.
    TnResult RegisterEventSink(TnDeviceEventSink *aEventSink);

    /// Unregisters a sink. Unless called from inside one of the sink's own
    /// callbacks, it returns only once no callback to it runs any more.
    TnResult UnregisterEventSink(TnDeviceEventSink *aEventSink);

    /// Priorities of the controller's threads (heartbeat, message channel
    /// receiver, notification queue), on the SDK's own scale. The values are
    /// kept and handed back; the threads run at the system's normal priority.
    uint32_t GetHeartbeatThreadPriority() const;
    TnResult SetHeartbeatThreadPriority(uint32_t aPriority);
    uint32_t GetInterruptLinkThreadPriority() const;
    TnResult SetInterruptLinkThreadPriority(uint32_t aPriority);
    uint32_t GetInterruptQueueThreadPriority() const;
    TnResult SetInterruptQueueThreadPriority(uint32_t aPriority);

    /// The size of the buffers to allocate for the current stream
    /// configuration, in bytes; 0 when not connected.
    uint32_t GetPayloadSize();

    /// Text that tells the connected device from every other one.
    TnResult GetUniqueID(TnString &aUniqueID);

#ifndef SWIG
    tn::device::DeviceCore *GetCore() const
    {
        return mCore;
    }
#endif

protected:
    /// Controllers are built by the derived classes only.
    explicit TnDevice(tn::device::DeviceCore *aCore);

#ifndef SWIG
private:
    TnDevice(const TnDevice &) = delete;
    TnDevice &operator=(const TnDevice &) = delete;
    tn::device::DeviceCore *mCore;
#endif
};

#endif
