// The interfaces of a software GigE Vision device: the device itself, what it
// hands out (its information, statistics and message channel) and what it
// takes (event sink, user-set notification, action handler, sources).
//
// Threads: the device serves its control channel on a thread of its own and
// streams each channel on a thread of its own. Its callbacks (event sinks,
// user-set notification, sources, register sinks) come on those threads, or,
// for the creation callbacks, on the thread inside Start. It holds none of
// its locks while it calls back, and catches what a callback throws (logs it
// and goes on). Start and Stop block until the device is up or down; Stop
// waits for the streaming threads, at most a few seconds each, whatever a
// source does.
#ifndef ITN_VIRTUAL_DEVICE_GEV_H
#define ITN_VIRTUAL_DEVICE_GEV_H

#include <stdint.h>

#include "ITnGenApiFactory.h"
#include "ITnRegisterMap.h"
#include "ITnStreamingChannelSource.h"
#include "TnAccessType.h"
#include "TnExport.h"
#include "TnResult.h"
#include "TnString.h"

/// The acknowledge status of an action command.
typedef enum
{
    TnActionAckStatusOK = 0,
    TnActionAckStatusLate = 1,
    TnActionAckStatusOverflow = 2,
    TnActionAckStatusNoRefTime = 3
} TnActionAckStatusEnum;

/// The steps of a user-set save or load.
enum TnUserSetState
{
    TnUserSetStateSaveStart = 0,
    TnUserSetStateSaveCompleted = 1,
    TnUserSetStateLoadStart = 2,
    TnUserSetStateLoadCompleted = 3
};

namespace TnVirtualDeviceLib
{
/// Takes the action commands (ACTION_CMD) a device accepts: those whose
/// device key matches and whose group key and mask select the device.
class TN_SOFTDEVICE_API IActionHandler
{
public:
    virtual ~IActionHandler() {}
    /// An action for the device; aActionTime 0 for an immediate action.
    /// The answer is acknowledged to the sender when it asked for one.
    virtual TnActionAckStatusEnum OnAction(uint32_t aGroupKey, uint32_t aGroupMask, uint64_t aActionTime) = 0;
};
} // namespace TnVirtualDeviceLib

/// Told of each step of a user-set save or load.
class TN_SOFTDEVICE_API ITnUserSetNotify
{
public:
    ITnUserSetNotify() {}
    /// Virtual destructor.
    // It leaves the devices the notification is set on, as
    // ITnRegisterEventSink's leaves its registers.
    virtual ~ITnUserSetNotify();
    /// aUserSetIndex: 0 the default set, then 1 to the user-set count. A
    /// result other than TN_OK at a start step abandons the save or load,
    /// which the controller sees as an error status.
    virtual TnResult UserSetStateNotify(TnUserSetState aUserSetState, uint32_t aUserSetIndex) = 0;
};

#ifndef SWIG
/// As TnSoftDeviceRelease(ITnRegisterEventSink *), for the devices.
TN_SOFTDEVICE_API void TnSoftDeviceRelease(ITnUserSetNotify *aNotify);
#endif

/// The device's identity: its bootstrap strings and the header of the
/// GenICam XML it generates. Belongs to the device.
class TN_SOFTDEVICE_API ITnVirtualDeviceGEVInfo
{
public:
    virtual ~ITnVirtualDeviceGEVInfo() {}

    /// Manufacturer name, bootstrap register 0x0048, 32 bytes.
    virtual const TnString &GetManufacturerName() = 0;
    /// Model name, bootstrap register 0x0068, 32 bytes.
    virtual const TnString &GetModelName() = 0;
    /// Device version, bootstrap register 0x0088, 32 bytes.
    virtual const TnString &GetDeviceVersion() = 0;
    /// Device firmware version, register 0x3FFF0100, 32 bytes.
    virtual const TnString &GetDeviceFirmwareVersion() = 0;
    /// Manufacturer information, bootstrap register 0x00A8, 48 bytes.
    virtual const TnString &GetManufacturerInformation() = 0;
    /// Serial number, bootstrap register 0x00D8, 16 bytes.
    virtual const TnString &GetSerialNumber() = 0;
    /// At most 31 characters: TN_INVALID_PARAMETER beyond.
    virtual TnResult SetManufacturerName(const TnString &aValue) = 0;
    /// At most 31 characters.
    virtual TnResult SetModelName(const TnString &aValue) = 0;
    /// At most 31 characters.
    virtual TnResult SetDeviceVersion(const TnString &aValue) = 0;
    /// At most 31 characters.
    virtual TnResult SetDeviceFirmwareVersion(const TnString &aValue) = 0;
    /// At most 47 characters (48 bytes).
    virtual TnResult SetManufacturerInformation(const TnString &aValue) = 0;
    /// At most 15 characters.
    virtual TnResult SetSerialNumber(const TnString &aValue) = 0;
    /// The major version of the GenICam XML the device generates.
    virtual uint16_t GetGenICamXMLVersionMajor() const = 0;
    /// The minor version of the GenICam XML the device generates.
    virtual uint16_t GetGenICamXMLVersionMinor() const = 0;
    /// The subminor version of the GenICam XML the device generates.
    virtual uint16_t GetGenICamXMLVersionSubMinor() const = 0;
    /// The product GUID of the GenICam XML, 32 hexadecimal digits in groups
    /// of 8, 4, 4, 4 and 12 joined by hyphens.
    virtual const TnString &GetGenICamXMLProductGUID() = 0;
    /// The version GUID of the GenICam XML, in the same form.
    virtual const TnString &GetGenICamXMLVersionGUID() = 0;
    /// The model name of the XML's register description (32 bytes); by
    /// default the device's model name.
    virtual const TnString &GetGenICamXMLRegDescModelName()
    {
        return GetModelName();
    }
    /// The vendor name of the XML's register description (32 bytes); by
    /// default the manufacturer name.
    virtual const TnString &GetGenICamXMLRegDescVendorName()
    {
        return GetManufacturerName();
    }
    /// TN_STATE_ERROR once the device has created its GenICam XML.
    virtual TnResult SetGenICamXMLVersion(uint16_t aMajor, uint16_t aMinor, uint16_t aSubMinor) = 0;
    /// GUIDs as 32 hexadecimal digits in groups of 8, 4, 4, 4 and 12 joined
    /// by hyphens (TN_INVALID_PARAMETER otherwise); TN_STATE_ERROR once the
    /// device has created its GenICam XML.
    virtual TnResult SetGenICamXMLGUIDs(const TnString &aProductGUID, const TnString &aVersionGUID) = 0;
    /// Sets the model name of the XML's register description, at most 31
    /// characters: TN_INVALID_PARAMETER beyond; TN_STATE_ERROR once the
    /// device has created its GenICam XML.
    virtual TnResult SetGenICamXMLRegDescModelName(const TnString &aValue)
    {
        (void)aValue;
        return TnResult(TN_OK);
    }
    /// Sets the vendor name of the XML's register description, at most 31
    /// characters: TN_INVALID_PARAMETER beyond; TN_STATE_ERROR once the
    /// device has created its GenICam XML.
    virtual TnResult SetGenICamXMLRegDescVendorName(const TnString &aValue)
    {
        (void)aValue;
        return TnResult(TN_OK);
    }
};

/// The device's protocol counters. Belongs to the device.
class TN_SOFTDEVICE_API ITnVirtualDeviceGEVStatistics
{
public:
    virtual ~ITnVirtualDeviceGEVStatistics() {}
    /// Resets all counters to zero.
    virtual void Reset() = 0;
    virtual uint64_t GetReadMemsReceived() const = 0;
    virtual uint64_t GetWriteMemsReceived() const = 0;
    virtual uint64_t GetReadRegsReceived() const = 0;
    virtual uint64_t GetWriteRegsReceived() const = 0;
    virtual uint64_t GetDiscoveriesReceived() const = 0;
    virtual uint64_t GetActionCommandsReceived() const = 0;
    virtual uint64_t GetForceIpsReceived() const = 0;
    virtual uint64_t GetPacketResendRequestsReceived() const = 0;
    virtual uint64_t GetPendingAcksIssued() const = 0;
    /// Commands received again (the same request id from the same sender).
    virtual uint64_t GetRetriesReceived() const = 0;
    /// The most retries received for one command.
    virtual uint64_t GetRetriesReceivedMax() const = 0;
    virtual uint64_t GetEventsIssued() const = 0;
    virtual uint64_t GetEventDatasIssued() const = 0;
    virtual uint64_t GetEventRetriesIssued() const = 0;
    /// The most retries issued for one event.
    virtual uint64_t GetEventRetriesIssuedMax() const = 0;
    virtual uint64_t GetSessionsOpened() const = 0;
    virtual uint64_t GetSessionsClosed() const = 0;
    /// Sessions closed because the controller's heartbeat stopped.
    virtual uint64_t GetHeartbeatFailedCount() const = 0;
    virtual uint64_t GetGVSPTestPacketsIssued() const = 0;
};

/// The device's messaging channel towards the controller. Belongs to the
/// device. FireEvent blocks until the controller acknowledged the event or
/// the channel's timeout and retries ran out.
class TN_SOFTDEVICE_API ITnMessageChannel
{
public:
    virtual ~ITnMessageChannel() {}
    /// Sends an event: a standard GigE Vision event code, or 0x9000 to
    /// 0xFFFF for custom events; aBlockID 0 when it belongs to no block,
    /// aChannelIndex 0xFFFF when no stream channel is involved.
    /// TN_STATE_ERROR when the channel is not open.
    virtual TnResult FireEvent(uint16_t aEventID, uint64_t aBlockID = 0, uint16_t aChannelIndex = 0xFFFF) = 0;
    /// The same with data (a multiple of 4 bytes, at most 512):
    /// TN_INVALID_PARAMETER for data missing, too long or not a multiple of
    /// 4 bytes. Features mapped with ITnGenApiFactory::MapEvent read it.
    virtual TnResult FireEvent(uint16_t aEventID, uint8_t *aData, uint32_t aDataLength, uint64_t aBlockID = 0,
                               uint16_t aChannelIndex = 0xFFFF) = 0;
    /// Open once a controller is connected and has set the message channel
    /// destination (MCDA 0x0B10 and MCP 0x0B00).
    virtual bool IsOpened() = 0;
};

class ITnVirtualDeviceGEV;

/// Told of the device's life. Every callback has an empty default.
class TN_SOFTDEVICE_API ITnVirtualDeviceGEVEventSink
{
public:
    ITnVirtualDeviceGEVEventSink() {}
    // It leaves the devices the sink is registered with, as
    // ITnRegisterEventSink's leaves its registers.
    virtual ~ITnVirtualDeviceGEVEventSink();

    /// A controller took the control channel: its IP address (dotted), its
    /// UDP port, and the access it secured.
    virtual void OnApplicationConnect(ITnVirtualDeviceGEV *aDevice, const TnString &aIPAddress, uint16_t aPort,
                                      TnAccessType aAccessType)
    {
        (void)aDevice;
        (void)aIPAddress;
        (void)aPort;
        (void)aAccessType;
    }
    /// The control channel started: the local interface's MAC address, the
    /// address, mask and gateway it is bound to, and its UDP port (3956).
    virtual void OnControlChannelStart(ITnVirtualDeviceGEV *aDevice, const TnString &aMACAddress,
                                       const TnString &aIPAddress, const TnString &aSubnetMask,
                                       const TnString &aDefaultGateway, uint16_t aPort)
    {
        (void)aDevice;
        (void)aMACAddress;
        (void)aIPAddress;
        (void)aSubnetMask;
        (void)aDefaultGateway;
        (void)aPort;
    }
    /// The controller released the control channel, also when the device
    /// released it after a heartbeat failure.
    virtual void OnApplicationDisconnect(ITnVirtualDeviceGEV *aDevice)
    {
        (void)aDevice;
    }
    /// The control channel stopped.
    virtual void OnControlChannelStop(ITnVirtualDeviceGEV *aDevice)
    {
        (void)aDevice;
    }
    /// The device performed a full reset (the equivalent of a power cycle).
    virtual void OnDeviceResetFull(ITnVirtualDeviceGEV *aDevice)
    {
        (void)aDevice;
    }
    /// The device reset its network stack (after a FORCEIP_CMD).
    virtual void OnDeviceResetNetwork(ITnVirtualDeviceGEV *aDevice)
    {
        (void)aDevice;
    }
    /// Inside Start, before the features: the one point to create
    /// device-wide registers.
    virtual void OnCreateCustomRegisters(ITnVirtualDeviceGEV *aDevice, ITnRegisterFactory *aFactory)
    {
        (void)aDevice;
        (void)aFactory;
    }
    /// Inside Start, after the registers: the one point to create
    /// device-wide GenICam features.
    virtual void OnCreateCustomGenApiFeatures(ITnVirtualDeviceGEV *aDevice, ITnGenApiFactory *aFactory)
    {
        (void)aDevice;
        (void)aFactory;
    }
};

#ifndef SWIG
/// As TnSoftDeviceRelease(ITnRegisterEventSink *), for the devices.
TN_SOFTDEVICE_API void TnSoftDeviceRelease(ITnVirtualDeviceGEVEventSink *aSink);
#endif

/// A software GigE Vision device.
class TN_SOFTDEVICE_API ITnVirtualDeviceGEV
{
public:
    /// Virtual destructor.
    virtual ~ITnVirtualDeviceGEV() {}

    /// The number of user sets besides the default one, at most 256, set
    /// before Start: TN_INVALID_PARAMETER above the maximum, TN_STATE_ERROR
    /// while running.
    virtual TnResult SetUserSetCount(uint32_t aCount) = 0;
    /// The user-set notification (null: none). Held by address.
    virtual TnResult SetUserSetNotify(ITnUserSetNotify *aUserSetNotify) = 0;
    /// The action handler (null: action commands are not acknowledged).
    /// Held by address.
    virtual TnResult SetActionHandler(TnVirtualDeviceLib::IActionHandler *aActionHandler) = 0;
    /// Allowed before Start: TN_INVALID_PARAMETER for no sink or one
    /// already registered, TN_STATE_ERROR while running. Held by address.
    virtual TnResult RegisterEventSink(ITnVirtualDeviceGEVEventSink *aEventSink) = 0;
    /// Before Start and after Stop.
    virtual TnResult UnregisterEventSink(ITnVirtualDeviceGEVEventSink *aEventSink) = 0;
    /// Starts the device on the network interface with that MAC address
    /// ("00:11:22:33:44:55"; the loopback interface has 00:00:00:00:00:00):
    /// builds the registers and the GenICam description (calling the
    /// creation callbacks on this thread) and starts serving. Blocks until
    /// the device serves or failed. TN_STATE_ERROR when already running,
    /// TN_INVALID_PARAMETER for an invalid MAC address, TN_NOT_FOUND for no
    /// such interface, TN_GENICAM_XML_ERROR naming the feature for a
    /// description that cannot be built.
    virtual TnResult Start(const TnString &aMACAddress) = 0;
    /// Stops serving, streaming included, and frees the sources' buffers.
    /// Blocks until the device's threads ended. TN_STATE_ERROR when not
    /// running.
    virtual TnResult Stop() = 0;
    /// Null before Start. It is there from the creation callbacks inside
    /// Start on, so that the identity and the XML header can be set before
    /// the description is built; identity strings set later reach the
    /// bootstrap registers at once.
    virtual ITnVirtualDeviceGEVInfo *GetInfo() = 0;
    /// Null before Start; there from the creation callbacks inside Start
    /// on (an event sink finds its registers there to make features of
    /// them).
    virtual ITnRegisterMap *GetRegisterMap() = 0;
    /// Null while the device is not running.
    virtual ITnVirtualDeviceGEVStatistics *GetStatistics() = 0;
    /// Null while the device is not running.
    virtual ITnMessageChannel *GetMessagingChannel() = 0;
    /// The GenICam XML the device serves; after Start, whether it succeeded
    /// or failed (then what could be written); TN_STATE_ERROR before.
    virtual TnResult GetGenICamXMLFile(TnString &aString) const = 0;
};

/// A software GigE Vision device fed by software streaming channel sources.
class TN_SOFTDEVICE_API ITnSoftDeviceGEV : public ITnVirtualDeviceGEV
{
public:
    /// Virtual destructor.
    virtual ~ITnSoftDeviceGEV() {}
    /// Adds a stream channel served by aSource (held by address), before
    /// Start: TN_STATE_ERROR while running, TN_NOT_SUPPORTED when the
    /// maximum stream count (4) is reached, TN_INVALID_PARAMETER for no
    /// source.
    virtual TnResult AddStream(ITnSWStreamingChannelSource *aSource) = 0;
    /// With RTP selectable as well, each RTP stream is also served over TCP
    /// (RFC 4571: a 2-byte length before each packet) on the device's address
    /// and the stream's port, to every client that connects; the stream's
    /// announcement then offers it. Taken at the next Start; TN_OK.
    virtual TnResult SetTCPTransportEnabled(bool aEnabled) = 0;
    /// Makes RTP selectable per stream channel (the feature StreamProtocol
    /// of each source, RTP to begin with): an RTP channel streams from the
    /// device's start to its stop (AcquisitionStop and AcquisitionStart stop
    /// and restart it) to a multicast group of its own, 239.255.x.y after the
    /// device's address, port 5004 for the first channel and every other port
    /// after it; images go as raw video (RFC 4175), H.264 buffers as access
    /// units (RFC 6184). Each RTP stream is announced by SAP with an SDP
    /// description once its first block has gone, and withdrawn when it
    /// stops. Taken at the next Start; TN_OK.
    virtual TnResult SetRTPProtocolEnabled(bool aEnabled) = 0;
    /// GenDC streaming, taken at the next Start: each GenDC source gets its
    /// GenDC manager, lays out its container and has a GenDCStreamingMode
    /// feature (Off, On; starting as the source tells); while it is On the
    /// source's buffers of the GenDC payload type go as GenDC blocks. TN_OK.
    virtual TnResult SetGenDCEnabled(bool aEnabled) = 0;
};

#endif
