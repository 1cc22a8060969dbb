// The objects a search hands out, made from what discovery found: network
// adapters and USB host controllers, GigE Vision devices from their discovery
// answers, and the devices of a simulated-devices description. Each function
// returns a new object that the caller owns.
#ifndef TN_DEVICE_RECORDS_H
#define TN_DEVICE_RECORDS_H

#include <stdint.h>

#include "TnDeviceInfo.h"
#include "TnDiscoveryTypes.h"
#include "TnInterface.h"
#include "TnSystemInternal.h"

namespace tn
{
namespace system
{
TnNetworkAdapter *MakeAdapter(const TnNetworkAdapterInfo &aInfo);
TnUSBHostController *MakeController(const TnUsbHostControllerInfo &aInfo);

/// A GigE Vision device as it answered discovery. Its connection identifier
/// is its address, with the control port when that is not the standard one.
TnDeviceInfoGEV *MakeGevDevice(const TnGevDeviceRecord &aRecord);

/// A simulated Vexmoor Protocol device found on aAdapter; its configuration
/// is valid when the adapter's subnet holds its address.
TnDeviceInfo *MakeVexmoorDevice(const TnSimulatedDeviceRecord &aRecord, const TnNetworkAdapter &aAdapter);

/// A simulated USB or USB3 Vision device on a controller of the given speed.
TnDeviceInfo *MakeUsbDevice(const TnSimulatedDeviceRecord &aRecord, TnUSBSpeed aControllerSpeed);

/// Whether one of the adapter's subnets holds aAddress (never 0.0.0.0).
bool AdapterSubnetHolds(const TnNetworkAdapter &aAdapter, uint32_t aAddress);
} // namespace system
} // namespace tn

#endif
