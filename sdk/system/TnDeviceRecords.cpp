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
    std::string lKey;
    switch (aRecord.mKind)
    {
    case kSimulatedU3V:
        lKey = aRecord.mGUID;
        break;
    case kSimulatedUSB:
        lKey = aRecord.mSerialNumber;
        break;
    case kSimulatedVexmoor:
        if (tn::gev::MacFromBytes(aRecord.mMac) != 0)
        {
            lKey = tn::gev::FormatMac(tn::gev::MacFromBytes(aRecord.mMac));
        }
        break;
    }
    return lKey.empty() ? "line-" + std::to_string(aRecord.mLine) : lKey;
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
    TnNetworkAdapter *lAdapter = new TnNetworkAdapter;
    lAdapter->mSystemName = aInfo.mName;
    lAdapter->mName = aInfo.mDescription.empty() ? aInfo.mName : aInfo.mDescription;
    lAdapter->mDescription = lAdapter->mName;
    lAdapter->mMACAddress = tn::gev::FormatMacDotted(tn::gev::MacFromBytes(aInfo.mMac));
    for (const TnAdapterAddress &lAddress : aInfo.mAddresses)
    {
        lAdapter->mIPAddresses.push_back(lAddress.mAddress);
        lAdapter->mSubnetMasks.push_back(lAddress.mSubnetMask);
    }
    lAdapter->mDefaultGateway = aInfo.mDefaultGateway;
    lAdapter->mDisplayID = aInfo.mName + " (" + lAdapter->mMACAddress + ")";
    lAdapter->mUniqueID = "NetworkAdapter:" + aInfo.mName;
    lAdapter->mCompareID = kInterfaceOrderNetwork + aInfo.mName;
    return lAdapter;
}

TnUSBHostController *MakeController(const TnUsbHostControllerInfo &aInfo)
{
    TnUSBHostController *lController = new TnUSBHostController;
    lController->mSystemName = aInfo.mName;
    lController->mName = aInfo.mDescription.empty() ? aInfo.mName : aInfo.mDescription;
    lController->mDisplayID = lController->mName;
    lController->mUniqueID = "USBHostController:" + aInfo.mName;
    lController->mCompareID = kInterfaceOrderUSB + aInfo.mName;
    lController->mVendorID = aInfo.mVendorId;
    lController->mDeviceID = aInfo.mDeviceId;
    lController->mSubsystemID = aInfo.mSubsystemId;
    lController->mRevision = aInfo.mRevision;
    lController->mSpeed = aInfo.mSpeed;
    return lController;
}

TnDeviceInfoGEV *MakeGevDevice(const TnGevDeviceRecord &aRecord)
{
    const tn::gev::TnGvcpDeviceInfo &lDevice = aRecord.mDevice;
    TnDeviceInfoGEV *lInfo = new TnDeviceInfoGEV;
    lInfo->mVendorName = lDevice.mManufacturerName;
    lInfo->mModelName = lDevice.mModelName;
    lInfo->mVersion = lDevice.mDeviceVersion;
    lInfo->mManufacturerInfo = lDevice.mManufacturerInfo;
    lInfo->mSerialNumber = lDevice.mSerialNumber;
    lInfo->mUserDefinedName = lDevice.mUserDefinedName;
    lInfo->mMAC = lDevice.GetMacValue();
    lInfo->mIPAddress = lDevice.mCurrentIP;
    lInfo->mSubnetMask = lDevice.mSubnetMask;
    lInfo->mDefaultGateway = lDevice.mDefaultGateway;
    lInfo->mGEVVersion = lDevice.GetVersion();
    lInfo->mIPConfigOptions = lDevice.mSupportedIPConfig;
    lInfo->mIPConfigCurrent = lDevice.mCurrentIPConfig;
    lInfo->mClass = ClassOfGev(lDevice.GetDeviceClass());
    lInfo->mConfigurationValid = aRecord.IsOnAdapterSubnet();
    lInfo->mLocalAddress = aRecord.mLocalAddress;
    // Devices on loopback may share an address and have no MAC: the port the
    // answer came from then tells them apart.
    const uint32_t lAddress = lDevice.mCurrentIP != 0 ? lDevice.mCurrentIP : aRecord.mAnswerAddress;
    lInfo->mControlPort = aRecord.mAnswerPort != 0 ? aRecord.mAnswerPort : tn::gev::kGvcpPort;
    lInfo->mConnectionID = tn::gev::FormatIPv4(lAddress);
    if (lInfo->mControlPort != tn::gev::kGvcpPort)
    {
        lInfo->mConnectionID += ":" + std::to_string(lInfo->mControlPort);
    }
    lInfo->mUniqueID = lInfo->mMAC != 0 ? "GEV:" + tn::gev::FormatMac(lInfo->mMAC) : "GEV:" + lInfo->mConnectionID;
    lInfo->mDisplayID = lDevice.mManufacturerName + " " + lDevice.mModelName + " (" + lInfo->mConnectionID + ")";
    return lInfo;
}

bool AdapterSubnetHolds(const TnNetworkAdapter &aAdapter, uint32_t aAddress)
{
    if (aAddress == 0)
    {
        return false;
    }
    for (size_t lIndex = 0; lIndex < aAdapter.mIPAddresses.size() && lIndex < aAdapter.mSubnetMasks.size(); ++lIndex)
    {
        if (aAdapter.mSubnetMasks[lIndex] != 0 &&
            tn::gev::SameSubnet(aAdapter.mIPAddresses[lIndex], aAddress, aAdapter.mSubnetMasks[lIndex]))
        {
            return true;
        }
    }
    return false;
}

TnDeviceInfo *MakeVexmoorDevice(const TnSimulatedDeviceRecord &aRecord, const TnNetworkAdapter &aAdapter)
{
    TnDeviceInfoVexmoorProtocol *lInfo = new TnDeviceInfoVexmoorProtocol;
    FillCommon(*lInfo, aRecord, "Vexmoor");
    lInfo->mMAC = tn::gev::MacFromBytes(aRecord.mMac);
    lInfo->mIPAddress = aRecord.mIPAddress;
    lInfo->mSubnetMask = aRecord.mSubnetMask;
    lInfo->mDefaultGateway = aRecord.mDefaultGateway;
    lInfo->mDeviceID = aRecord.mDeviceID;
    lInfo->mModuleID = aRecord.mModuleID;
    lInfo->mSubID = aRecord.mSubID;
    lInfo->mVendorID = aRecord.mVendorID;
    lInfo->mSoftwareMajor = aRecord.mSoftwareMajor;
    lInfo->mSoftwareMinor = aRecord.mSoftwareMinor;
    if (aRecord.mIPAddress != 0)
    {
        lInfo->mConnectionID = tn::gev::FormatIPv4(aRecord.mIPAddress);
    }
    lInfo->mConfigurationValid = AdapterSubnetHolds(aAdapter, aRecord.mIPAddress);
    return lInfo;
}

TnDeviceInfo *MakeUsbDevice(const TnSimulatedDeviceRecord &aRecord, TnUSBSpeed aControllerSpeed)
{
    if (aRecord.mKind == kSimulatedUSB)
    {
        TnDeviceInfoUSB *lInfo = new TnDeviceInfoUSB;
        FillCommon(*lInfo, aRecord, "USB");
        lInfo->mStatus = aRecord.mStatus;
        lInfo->mConfigurationValid = aRecord.mStatus == TnUSBStatusConnected;
        return lInfo;
    }
    TnDeviceInfoU3V *lInfo = new TnDeviceInfoU3V;
    FillCommon(*lInfo, aRecord, "U3V");
    lInfo->mStatus = aRecord.mStatus;
    lInfo->mGenCPVersion = aRecord.mGenCPVersion;
    lInfo->mU3VVersion = aRecord.mU3VVersion;
    lInfo->mDeviceGUID = aRecord.mGUID;
    lInfo->mFamilyName = aRecord.mFamilyName;
    lInfo->mU3VSerialNumber = aRecord.mU3VSerialNumber;
    lInfo->mDevicePath = aRecord.mDevicePath;
    lInfo->mDeviceKey = aRecord.mDeviceKey;
    lInfo->mSpeed = aRecord.mSpeed;
    lInfo->mSpeedMessage = aRecord.mSpeedMessage.empty() ? UsbSpeedName(aRecord.mSpeed) : aRecord.mSpeedMessage;
    lInfo->mPowerMessage = aRecord.mPowerMessage.empty() ? "Ok" : aRecord.mPowerMessage;
    lInfo->mLowSpeedSupported = aRecord.mLowSpeedSupported;
    lInfo->mFullSpeedSupported = aRecord.mFullSpeedSupported;
    lInfo->mHighSpeedSupported = aRecord.mHighSpeedSupported;
    lInfo->mSuperSpeedSupported = aRecord.mSuperSpeedSupported;
    lInfo->mSuperSpeedPlusSupported = aRecord.mSuperSpeedPlusSupported;
    // A controller of unknown kind cannot be held against the device.
    lInfo->mCurrentSpeedSupported = aRecord.mSpeed > TnUSBSpeedUnknown &&
                                    (aControllerSpeed == TnUSBSpeedUnknown || aRecord.mSpeed <= aControllerSpeed);
    lInfo->mMaxPower = aRecord.mMaxPower;
    lInfo->mMaxPacketSize = aRecord.mMaxPacketSize;
    lInfo->mVexmoorDriverInstalled = aRecord.mDriverInstalled;
    lInfo->mInitializedCapabilities = aRecord.mCapabilitiesInitialized;
    lInfo->mConfigurationValid = aRecord.mStatus == TnUSBStatusConnected && aRecord.mDriverInstalled;
    return lInfo;
}
} // namespace system
} // namespace tn
