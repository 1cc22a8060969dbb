#include "TnDeviceRecords.h"

#include <string>

#include "TnGevAddress.h"
#include "TnGvcp.h"

namespace tn
{
namespace system
{
namespace
{
const char kInterfaceOrderNetwork[] = "1 "; // adapters sort after controllers
const char kInterfaceOrderUSB[] = "0 ";

TnDeviceClass ClassOfGev(uint32_t aClass)
{
    switch (aClass)
    {
    case tn::gev::kDeviceClassTransmitter:
        return TnDeviceClassTransmitter;
    case tn::gev::kDeviceClassReceiver:
        return TnDeviceClassReceiver;
    case tn::gev::kDeviceClassTransceiver:
        return TnDeviceClassTransceiver;
    case tn::gev::kDeviceClassPeripheral:
        return TnDeviceClassPeripheral;
    default:
        return TnDeviceClassUnknown;
    }
}

// What names a simulated device itself: its GUID, serial number or MAC
// address, else the line of its description.
std::string SimulatedKey(const TnSimulatedDeviceRecord &aRecord)
{
    std::string key;
    switch (aRecord.mKind)
    {
    case kSimulatedU3V:
        key = aRecord.mGUID;
        break;
    case kSimulatedUSB:
        key = aRecord.mSerialNumber;
        break;
    case kSimulatedVexmoor:
        if (tn::gev::MacFromBytes(aRecord.mMac) != 0)
        {
            key = tn::gev::FormatMac(tn::gev::MacFromBytes(aRecord.mMac));
        }
        break;
    }
    return key.empty() ? "line-" + std::to_string(aRecord.mLine) : key;
}

void FillCommon(TnDeviceInfo &aInfo, const TnSimulatedDeviceRecord &aRecord, const std::string &aKind)
{
    aInfo.mVendorName = aRecord.mVendorName;
    aInfo.mModelName = aRecord.mModelName;
    aInfo.mVersion = aRecord.mVersion;
    aInfo.mManufacturerInfo = aRecord.mManufacturerInfo;
    aInfo.mSerialNumber = aRecord.mSerialNumber;
    aInfo.mUserDefinedName = aRecord.mUserDefinedName;
    aInfo.mClass = aRecord.mClass;
    aInfo.mUniqueID = aKind + ":" + SimulatedKey(aRecord);
    aInfo.mConnectionID = aInfo.mUniqueID;
    aInfo.mDisplayID = aRecord.mVendorName + " " + aRecord.mModelName + " (" +
                       (aRecord.mSerialNumber.empty() ? SimulatedKey(aRecord) : aRecord.mSerialNumber) + ")";
}
} // namespace

TnNetworkAdapter *MakeAdapter(const TnNetworkAdapterInfo &aInfo)
{
    TnNetworkAdapter *adapter = new TnNetworkAdapter;
    adapter->mSystemName = aInfo.mName;
    adapter->mName = aInfo.mDescription.empty() ? aInfo.mName : aInfo.mDescription;
    adapter->mDescription = adapter->mName;
    adapter->mMACAddress = tn::gev::FormatMacDotted(tn::gev::MacFromBytes(aInfo.mMac));
    for (const TnAdapterAddress &address : aInfo.mAddresses)
    {
        adapter->mIPAddresses.push_back(address.mAddress);
        adapter->mSubnetMasks.push_back(address.mSubnetMask);
    }
    adapter->mDefaultGateway = aInfo.mDefaultGateway;
    adapter->mDisplayID = aInfo.mName + " (" + adapter->mMACAddress + ")";
    adapter->mUniqueID = "NetworkAdapter:" + aInfo.mName;
    adapter->mCompareID = kInterfaceOrderNetwork + aInfo.mName;
    return adapter;
}

TnUSBHostController *MakeController(const TnUsbHostControllerInfo &aInfo)
{
    TnUSBHostController *controller = new TnUSBHostController;
    controller->mSystemName = aInfo.mName;
    controller->mName = aInfo.mDescription.empty() ? aInfo.mName : aInfo.mDescription;
    controller->mDisplayID = controller->mName;
    controller->mUniqueID = "USBHostController:" + aInfo.mName;
    controller->mCompareID = kInterfaceOrderUSB + aInfo.mName;
    controller->mVendorID = aInfo.mVendorId;
    controller->mDeviceID = aInfo.mDeviceId;
    controller->mSubsystemID = aInfo.mSubsystemId;
    controller->mRevision = aInfo.mRevision;
    controller->mSpeed = aInfo.mSpeed;
    return controller;
}

TnDeviceInfoGEV *MakeGevDevice(const TnGevDeviceRecord &aRecord)
{
    const tn::gev::TnGvcpDeviceInfo &device = aRecord.mDevice;
    TnDeviceInfoGEV *info = new TnDeviceInfoGEV;
    info->mVendorName = device.mManufacturerName;
    info->mModelName = device.mModelName;
    info->mVersion = device.mDeviceVersion;
    info->mManufacturerInfo = device.mManufacturerInfo;
    info->mSerialNumber = device.mSerialNumber;
    info->mUserDefinedName = device.mUserDefinedName;
    info->mMAC = device.GetMacValue();
    info->mIPAddress = device.mCurrentIP;
    info->mSubnetMask = device.mSubnetMask;
    info->mDefaultGateway = device.mDefaultGateway;
    info->mGEVVersion = device.GetVersion();
    info->mIPConfigOptions = device.mSupportedIPConfig;
    info->mIPConfigCurrent = device.mCurrentIPConfig;
    info->mClass = ClassOfGev(device.GetDeviceClass());
    info->mConfigurationValid = aRecord.IsOnAdapterSubnet();
    info->mLocalAddress = aRecord.mLocalAddress;
    // Devices on loopback may share an address and have no MAC: the port the
    // answer came from then tells them apart.
    const uint32_t address = device.mCurrentIP != 0 ? device.mCurrentIP : aRecord.mAnswerAddress;
    info->mControlPort = aRecord.mAnswerPort != 0 ? aRecord.mAnswerPort : tn::gev::kGvcpPort;
    info->mConnectionID = tn::gev::FormatIPv4(address);
    if (info->mControlPort != tn::gev::kGvcpPort)
    {
        info->mConnectionID += ":" + std::to_string(info->mControlPort);
    }
    info->mUniqueID = info->mMAC != 0 ? "GEV:" + tn::gev::FormatMac(info->mMAC) : "GEV:" + info->mConnectionID;
    info->mDisplayID = device.mManufacturerName + " " + device.mModelName + " (" + info->mConnectionID + ")";
    return info;
}

bool AdapterSubnetHolds(const TnNetworkAdapter &aAdapter, uint32_t aAddress)
{
    if (aAddress == 0)
    {
        return false;
    }
    for (size_t index = 0; index < aAdapter.mIPAddresses.size() && index < aAdapter.mSubnetMasks.size(); ++index)
    {
        if (aAdapter.mSubnetMasks[index] != 0 &&
            tn::gev::SameSubnet(aAdapter.mIPAddresses[index], aAddress, aAdapter.mSubnetMasks[index]))
        {
            return true;
        }
    }
    return false;
}

TnDeviceInfo *MakeVexmoorDevice(const TnSimulatedDeviceRecord &aRecord, const TnNetworkAdapter &aAdapter)
{
    TnDeviceInfoVexmoorProtocol *info = new TnDeviceInfoVexmoorProtocol;
    FillCommon(*info, aRecord, "Vexmoor");
    info->mMAC = tn::gev::MacFromBytes(aRecord.mMac);
    info->mIPAddress = aRecord.mIPAddress;
    info->mSubnetMask = aRecord.mSubnetMask;
    info->mDefaultGateway = aRecord.mDefaultGateway;
    info->mDeviceID = aRecord.mDeviceID;
    info->mModuleID = aRecord.mModuleID;
    info->mSubID = aRecord.mSubID;
    info->mVendorID = aRecord.mVendorID;
    info->mSoftwareMajor = aRecord.mSoftwareMajor;
    info->mSoftwareMinor = aRecord.mSoftwareMinor;
    if (aRecord.mIPAddress != 0)
    {
        info->mConnectionID = tn::gev::FormatIPv4(aRecord.mIPAddress);
    }
    info->mConfigurationValid = AdapterSubnetHolds(aAdapter, aRecord.mIPAddress);
    return info;
}

TnDeviceInfo *MakeUsbDevice(const TnSimulatedDeviceRecord &aRecord, TnUSBSpeed aControllerSpeed)
{
    if (aRecord.mKind == kSimulatedUSB)
    {
        TnDeviceInfoUSB *info = new TnDeviceInfoUSB;
        FillCommon(*info, aRecord, "USB");
        info->mStatus = aRecord.mStatus;
        info->mConfigurationValid = aRecord.mStatus == TnUSBStatusConnected;
        return info;
    }
    TnDeviceInfoU3V *info = new TnDeviceInfoU3V;
    FillCommon(*info, aRecord, "U3V");
    info->mStatus = aRecord.mStatus;
    info->mGenCPVersion = aRecord.mGenCPVersion;
    info->mU3VVersion = aRecord.mU3VVersion;
    info->mDeviceGUID = aRecord.mGUID;
    info->mFamilyName = aRecord.mFamilyName;
    info->mU3VSerialNumber = aRecord.mU3VSerialNumber;
    info->mDevicePath = aRecord.mDevicePath;
    info->mDeviceKey = aRecord.mDeviceKey;
    info->mSpeed = aRecord.mSpeed;
    info->mSpeedMessage = aRecord.mSpeedMessage.empty() ? UsbSpeedName(aRecord.mSpeed) : aRecord.mSpeedMessage;
    info->mPowerMessage = aRecord.mPowerMessage.empty() ? "Ok" : aRecord.mPowerMessage;
    info->mLowSpeedSupported = aRecord.mLowSpeedSupported;
    info->mFullSpeedSupported = aRecord.mFullSpeedSupported;
    info->mHighSpeedSupported = aRecord.mHighSpeedSupported;
    info->mSuperSpeedSupported = aRecord.mSuperSpeedSupported;
    info->mSuperSpeedPlusSupported = aRecord.mSuperSpeedPlusSupported;
    // A controller of unknown kind cannot be held against the device.
    info->mCurrentSpeedSupported = aRecord.mSpeed > TnUSBSpeedUnknown &&
                                   (aControllerSpeed == TnUSBSpeedUnknown || aRecord.mSpeed <= aControllerSpeed);
    info->mMaxPower = aRecord.mMaxPower;
    info->mMaxPacketSize = aRecord.mMaxPacketSize;
    info->mVexmoorDriverInstalled = aRecord.mDriverInstalled;
    info->mInitializedCapabilities = aRecord.mCapabilitiesInitialized;
    info->mConfigurationValid = aRecord.mStatus == TnUSBStatusConnected && aRecord.mDriverInstalled;
    return info;
}
} // namespace system
} // namespace tn
