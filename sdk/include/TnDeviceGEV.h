// The controller of a GigE Vision device.
#ifndef TN_DEVICE_GEV_H
#define TN_DEVICE_GEV_H

#include <stdint.h>

#include "TnAccessType.h"
#include "TnDevice.h"
#include "TnDiscoveryTypes.h"
#include "TnExport.h"
#include "TnResult.h"
#include "TnString.h"

/// A GigE Vision device's controller, over the GigE Vision control protocol.
///
/// Connecting takes the access asked for (control privilege unless told
/// otherwise) and keeps it with heartbeats from a thread of its own; a device
/// that stops answering is reported to the event sinks'
/// ``OnLinkDisconnected`` and the controller disconnects. Events of the
/// device's message channel reach the sinks' ``OnEvent`` and
/// ``OnEventGenICam``.
class TN_DEVICE_API TnDeviceGEV : public TnDevice
{
public:
    TnDeviceGEV();
    virtual ~TnDeviceGEV();

    /// Connects with control privilege.
    TnResult Connect(const TnDeviceInfo *aDeviceInfo);

    /// Connects with the given access.
    TnResult Connect(const TnDeviceInfo *aDeviceInfo, TnAccessType aAccessType);

    /// Finds the device by its MAC address, IP address, user-defined name,
    /// serial number or connection ID, and connects with control privilege.
    TnResult Connect(const TnString &aInfo);

    /// Finds the device as the other form does and connects with the given
    /// access.
    TnResult Connect(const TnString &aInfo, TnAccessType aAccessType);

    /// Where a stream channel sends its packets: an IPv4 address (unicast or
    /// multicast, dotted) and a UDP port.
    TnResult SetStreamDestination(const TnString &aIPAddress, uint16_t aDataPort, uint32_t aChannel = 0);

    /// Clears a stream channel's destination.
    TnResult ResetStreamDestination(uint32_t aChannel = 0);

    /// Sets a stream channel's packet size in bytes (IP, UDP and stream
    /// headers included).
    TnResult SetPacketSize(uint32_t aPacketSize, uint32_t aChannel = 0);

    /// Finds the largest packet size that reaches this host, by asking the
    /// device for test packets of falling sizes, and sets it. When none
    /// arrives, sets ``aDefaultPacketSize`` (0: the device keeps its own
    /// setting) and fails.
    TnResult NegotiatePacketSize(uint32_t aChannel = 0, uint32_t aDefaultPacketSize = 0);

    /// Reads a 32-bit register (the address a multiple of 4).
    TnResult ReadRegister(int64_t aAddress, uint32_t &aValue);

    /// Writes a 32-bit register; without ``aAcknowledge`` the call returns
    /// as soon as the command is sent.
    TnResult WriteRegister(int64_t aAddress, uint32_t aValue, bool aAcknowledge = true);

    /// What the connected device does.
    TnDeviceClass GetClass() const;

    /// The connected device's IP address, dotted; empty when not connected.
    TnString GetIPAddress() const;

    /// The connected device's MAC address (aa:bb:cc:dd:ee:ff); empty when
    /// not connected.
    TnString GetMACAddress() const;

    /// The access this controller holds; ``TnAccessUnknown`` when not
    /// connected.
    TnAccessType GetAccessType() const;

    /// The access some application holds on the device at an IP address, as
    /// the device's privilege register tells it.
    static TnResult GetAccessType(const TnString &aDeviceIPAddress, TnAccessType &aAccessType);

    /// Gives a device, found by its MAC address, an IP configuration with
    /// the force-IP command. The device must not be connected.
    static TnResult SetIPConfiguration(const TnString &aMACAddress, const TnString &aIP,
                                       const TnString &aSubnetMask = "255.255.255.0",
                                       const TnString &aGateway = "0.0.0.0");

#ifndef SWIG
private:
    TnDeviceGEV(const TnDeviceGEV &) = delete;
    TnDeviceGEV &operator=(const TnDeviceGEV &) = delete;
#endif
};

#endif
