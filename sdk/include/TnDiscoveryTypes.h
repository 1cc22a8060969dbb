// Enumerations of device discovery.
#ifndef TN_DISCOVERY_TYPES_H
#define TN_DISCOVERY_TYPES_H

/// What a device does.
enum TnDeviceClass
{
    TnDeviceClassUnknown = 0,
    TnDeviceClassTransmitter = 1,
    TnDeviceClassReceiver = 2,
    TnDeviceClassTransceiver = 3,
    TnDeviceClassPeripheral = 4
};

/// Enumeration state of a USB device.
enum TnUSBStatus
{
    TnUSBStatusNotInitialized = -1,
    TnUSBStatusConnected = 0,
    TnUSBStatusFailedEnumeration = 1,
    TnUSBStatusGeneralFailure = 2,
    TnUSBStatusCausedOvercurrent = 3,
    TnUSBStatusNotEnoughPower = 4,
    TnUSBStatusNotEnoughBandwidth = 5,
    TnUSBStatusHubNestedTooDeeply = 6,
    TnUSBStatusInLegacyHub = 7,
    TnUSBStatusEnumerating = 8,
    TnUSBStatusReset = 9
};

/// Kinds of host interfaces.
enum TnInterfaceType
{
    TnInterfaceTypeUnknown = -1,
    TnInterfaceTypeUSBHostController = 0,
    TnInterfaceTypeNetworkAdapter = 1
};

/// Variants of device information.
enum TnDeviceInfoType
{
    TnDeviceInfoTypeUnknown = -1,
    TnDeviceInfoTypeGEV = 0,
    TnDeviceInfoTypeVexmoorProtocol = 1,
    TnDeviceInfoTypeUSB = 2,
    TnDeviceInfoTypeU3V = 3
};

/// USB bus speeds.
enum TnUSBSpeed
{
    TnUSBSpeedUnsupported = -1,
    TnUSBSpeedUnknown = 0,
    TnUSBSpeedLow = 1,
    TnUSBSpeedFull = 2,
    TnUSBSpeedHigh = 3,
    TnUSBSpeedSuper = 4
};

/// Kinds of device controllers.
enum TnDeviceType
{
    TnDeviceTypeUnknown = -1,
    TnDeviceTypeGEV = 0,
    TnDeviceTypeU3V = 1
};

#endif
