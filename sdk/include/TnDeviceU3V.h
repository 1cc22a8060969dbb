// The controller of a USB3 Vision device, and the IP configuration of
// Vexmoor Protocol devices.
#ifndef TN_DEVICE_U3V_H
#define TN_DEVICE_U3V_H

#include "TnDevice.h"
#include "TnExport.h"
#include "TnResult.h"
#include "TnString.h"

/// A USB3 Vision device's controller.
///
/// This host has no USB3 Vision transport: the controller reaches the
/// simulated devices that discovery reports (see ``TARN_SIMULATED_DEVICES``),
/// whose registers and GenICam description live in the SDK's memory.
class TN_DEVICE_API TnDeviceU3V : public TnDevice
{
public:
    TnDeviceU3V();
    virtual ~TnDeviceU3V();

    /// Finds the device by its GUID, serial number, user-defined name or
    /// connection ID, and connects to it.
    TnResult Connect(const TnString &aInfo);

    /// Connects to a device a search found.
    TnResult Connect(const TnDeviceInfo *aDeviceInfo);

    /// The connected device's GUID; empty when not connected.
    TnString GetGUID() const;

#ifndef SWIG
private:
    TnDeviceU3V(const TnDeviceU3V &) = delete;
    TnDeviceU3V &operator=(const TnDeviceU3V &) = delete;
#endif
};

/// Operations on devices that speak the Vexmoor Protocol.
class TN_DEVICE_API TnDeviceVexmoorProtocol
{
public:
    /// Gives a device, found by its MAC address, an IP configuration.
    /// This host has no Vexmoor Protocol transport: a device that discovery
    /// does not report is TN_NOT_FOUND, a simulated one TN_NOT_SUPPORTED.
    static TnResult SetIPConfiguration(const TnString &aMACAddress, const TnString &aIP,
                                       const TnString &aSubnetMask = "255.255.255.0",
                                       const TnString &aGateway = "0.0.0.0");

private:
    // Nothing to build: the class offers static operations only.
    TnDeviceVexmoorProtocol();
};

#endif
