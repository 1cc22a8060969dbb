#include <stdio.h>
#include <stdlib.h>

#include <sstream>

#include "TnGevAddress.h"
#include "TnSystemInternal.h"
#include "TnSystemText.h"
#include "TnText.h"

namespace tn
{
namespace system
{
namespace
{
constexpr size_t kMaxFileSize = 1 << 20;
constexpr size_t kMaxLineSize = 4096;
constexpr size_t kMaxSections = 256;
constexpr size_t kMaxTextSize = 512;

enum SectionKind
{
    kSectionNone,
    kSectionSkipped,
    kSectionDevice,
    kSectionController
};

struct Names
{
    const char *mName;
    int mValue;
};

const Names kClasses[] = {{"transmitter", TnDeviceClassTransmitter},
                          {"receiver", TnDeviceClassReceiver},
                          {"transceiver", TnDeviceClassTransceiver},
                          {"peripheral", TnDeviceClassPeripheral},
                          {"unknown", TnDeviceClassUnknown}};

const Names kStatuses[] = {{"connected", TnUSBStatusConnected},
                           {"failed_enumeration", TnUSBStatusFailedEnumeration},
                           {"general_failure", TnUSBStatusGeneralFailure},
                           {"overcurrent", TnUSBStatusCausedOvercurrent},
                           {"not_enough_power", TnUSBStatusNotEnoughPower},
                           {"not_enough_bandwidth", TnUSBStatusNotEnoughBandwidth},
                           {"hub_nested_too_deeply", TnUSBStatusHubNestedTooDeeply},
                           {"legacy_hub", TnUSBStatusInLegacyHub},
                           {"enumerating", TnUSBStatusEnumerating},
                           {"reset", TnUSBStatusReset},
                           {"not_initialized", TnUSBStatusNotInitialized}};

const Names kSpeeds[] = {{"low", TnUSBSpeedLow},
                         {"full", TnUSBSpeedFull},
                         {"high", TnUSBSpeedHigh},
                         {"super", TnUSBSpeedSuper},
                         {"unknown", TnUSBSpeedUnknown}};

template <size_t N> bool LookUp(const Names (&aNames)[N], const std::string &aText, int &aValue)
{
    for (const Names &lEntry : aNames)
    {
        if (aText == lEntry.mName)
        {
            aValue = lEntry.mValue;
            return true;
        }
    }
    return false;
}

bool ParseNumber(const std::string &aText, unsigned long aMax, uint32_t &aValue)
{
    unsigned long lValue = 0;
    const bool lHex = aText.size() > 2 && aText[0] == '0' && (aText[1] == 'x' || aText[1] == 'X');
    if (!ParseUnsigned(aText, lHex ? 16 : 10, lValue) || lValue > aMax)
    {
        return false;
    }
    aValue = static_cast<uint32_t>(lValue);
    return true;
}

bool ParseByte(const std::string &aText, uint8_t &aValue)
{
    uint32_t lValue = 0;
    if (!ParseNumber(aText, 0xFF, lValue))
    {
        return false;
    }
    aValue = static_cast<uint8_t>(lValue);
    return true;
}

bool ParseBool(const std::string &aText, bool &aValue)
{
    const std::string lText = ToLower(aText);
    if (lText == "yes" || lText == "true" || lText == "on" || lText == "1")
    {
        aValue = true;
        return true;
    }
    if (lText == "no" || lText == "false" || lText == "off" || lText == "0")
    {
        aValue = false;
        return true;
    }
    return false;
}

bool ParseVersion(const std::string &aText, uint32_t &aValue)
{
    const size_t lDot = aText.find('.');
    if (lDot == std::string::npos)
    {
        return ParseNumber(aText, 0xFFFFFFFFul, aValue);
    }
    uint32_t lMajor = 0;
    uint32_t lMinor = 0;
    if (!ParseNumber(aText.substr(0, lDot), 0xFFFF, lMajor) || !ParseNumber(aText.substr(lDot + 1), 0xFFFF, lMinor))
    {
        return false;
    }
    aValue = (lMajor << 16) | lMinor;
    return true;
}

bool ParseSpeedList(const std::string &aText, TnSimulatedDeviceRecord &aDevice)
{
    bool lLow = false;
    bool lFull = false;
    bool lHigh = false;
    bool lSuper = false;
    bool lSuperPlus = false;
    std::istringstream lItems(aText);
    std::string lItem;
    while (std::getline(lItems, lItem, ','))
    {
        lItem = ToLower(Trim(lItem));
        if (lItem == "low")
        {
            lLow = true;
        }
        else if (lItem == "full")
        {
            lFull = true;
        }
        else if (lItem == "high")
        {
            lHigh = true;
        }
        else if (lItem == "super")
        {
            lSuper = true;
        }
        else if (lItem == "super_plus" || lItem == "superplus" || lItem == "super-plus")
        {
            lSuperPlus = true;
        }
        else if (!lItem.empty())
        {
            return false;
        }
    }
    aDevice.mLowSpeedSupported = lLow;
    aDevice.mFullSpeedSupported = lFull;
    aDevice.mHighSpeedSupported = lHigh;
    aDevice.mSuperSpeedSupported = lSuper;
    aDevice.mSuperSpeedPlusSupported = lSuperPlus;
    return true;
}

bool ParseMacBytes(const std::string &aText, uint8_t *aMac)
{
    uint64_t lMac = 0;
    if (!tn::gev::ParseMac(aText, lMac))
    {
        return false;
    }
    for (int lIndex = 5; lIndex >= 0; --lIndex)
    {
        aMac[lIndex] = static_cast<uint8_t>(lMac);
        lMac >>= 8;
    }
    return true;
}

// Outcome of one key: applied, not a key of this section, or a bad value.
enum KeyOutcome
{
    kApplied,
    kUnknownKey,
    kBadValue
};

KeyOutcome SetText(std::string &aField, const std::string &aValue)
{
    aField = aValue.size() > kMaxTextSize ? aValue.substr(0, kMaxTextSize) : aValue;
    return kApplied;
}

KeyOutcome Check(bool aOk)
{
    return aOk ? kApplied : kBadValue;
}

KeyOutcome ApplyDeviceKey(TnSimulatedDeviceRecord &aDevice, const std::string &aKey, const std::string &aValue)
{
    const std::string lLower = ToLower(aValue);
    int lEnum = 0;
    // Every device.
    if (aKey == "vendor")
    {
        return SetText(aDevice.mVendorName, aValue);
    }
    if (aKey == "model")
    {
        return SetText(aDevice.mModelName, aValue);
    }
    if (aKey == "version")
    {
        return SetText(aDevice.mVersion, aValue);
    }
    if (aKey == "manufacturer_info")
    {
        return SetText(aDevice.mManufacturerInfo, aValue);
    }
    if (aKey == "serial")
    {
        return SetText(aDevice.mSerialNumber, aValue);
    }
    if (aKey == "user_name")
    {
        return SetText(aDevice.mUserDefinedName, aValue);
    }
    if (aKey == "class")
    {
        if (!LookUp(kClasses, lLower, lEnum))
        {
            return kBadValue;
        }
        aDevice.mClass = static_cast<TnDeviceClass>(lEnum);
        return kApplied;
    }

    if (aDevice.mKind == kSimulatedVexmoor)
    {
        if (aKey == "mac")
        {
            return Check(ParseMacBytes(aValue, aDevice.mMac));
        }
        if (aKey == "ip")
        {
            return Check(tn::gev::ParseIPv4(aValue, aDevice.mIPAddress));
        }
        if (aKey == "mask")
        {
            return Check(tn::gev::ParseIPv4(aValue, aDevice.mSubnetMask));
        }
        if (aKey == "gateway")
        {
            return Check(tn::gev::ParseIPv4(aValue, aDevice.mDefaultGateway));
        }
        if (aKey == "adapter")
        {
            return SetText(aDevice.mAdapter, aValue);
        }
        if (aKey == "device_id")
        {
            return Check(ParseByte(aValue, aDevice.mDeviceID));
        }
        if (aKey == "module_id")
        {
            return Check(ParseByte(aValue, aDevice.mModuleID));
        }
        if (aKey == "sub_id")
        {
            return Check(ParseByte(aValue, aDevice.mSubID));
        }
        if (aKey == "vendor_id")
        {
            return Check(ParseByte(aValue, aDevice.mVendorID));
        }
        if (aKey == "software_major")
        {
            return Check(ParseByte(aValue, aDevice.mSoftwareMajor));
        }
        if (aKey == "software_minor")
        {
            return Check(ParseByte(aValue, aDevice.mSoftwareMinor));
        }
        return kUnknownKey;
    }

    // USB and USB3 Vision.
    if (aKey == "controller")
    {
        return SetText(aDevice.mController, aValue);
    }
    if (aKey == "status")
    {
        if (!LookUp(kStatuses, lLower, lEnum))
        {
            return kBadValue;
        }
        aDevice.mStatus = static_cast<TnUSBStatus>(lEnum);
        return kApplied;
    }
    if (aKey == "speed")
    {
        if (!LookUp(kSpeeds, lLower, lEnum))
        {
            return kBadValue;
        }
        aDevice.mSpeed = static_cast<TnUSBSpeed>(lEnum);
        return kApplied;
    }
    if (aKey == "speeds")
    {
        return Check(ParseSpeedList(aValue, aDevice));
    }
    if (aKey == "usb_vendor_id")
    {
        return Check(ParseNumber(aValue, 0xFFFF, aDevice.mUsbVendorId));
    }
    if (aKey == "usb_product_id")
    {
        return Check(ParseNumber(aValue, 0xFFFF, aDevice.mUsbProductId));
    }
    if (aDevice.mKind != kSimulatedU3V)
    {
        return kUnknownKey;
    }
    if (aKey == "gencp_version")
    {
        return Check(ParseVersion(aValue, aDevice.mGenCPVersion));
    }
    if (aKey == "u3v_version")
    {
        return Check(ParseVersion(aValue, aDevice.mU3VVersion));
    }
    if (aKey == "guid")
    {
        return SetText(aDevice.mGUID, aValue);
    }
    if (aKey == "xml")
    {
        return SetText(aDevice.mXmlPath, aValue);
    }
    if (aKey == "family")
    {
        return SetText(aDevice.mFamilyName, aValue);
    }
    if (aKey == "u3v_serial")
    {
        return SetText(aDevice.mU3VSerialNumber, aValue);
    }
    if (aKey == "device_path")
    {
        return SetText(aDevice.mDevicePath, aValue);
    }
    if (aKey == "device_key")
    {
        return SetText(aDevice.mDeviceKey, aValue);
    }
    if (aKey == "speed_message")
    {
        return SetText(aDevice.mSpeedMessage, aValue);
    }
    if (aKey == "power_message")
    {
        return SetText(aDevice.mPowerMessage, aValue);
    }
    if (aKey == "max_power")
    {
        return Check(ParseNumber(aValue, 0xFFFFFFFFul, aDevice.mMaxPower));
    }
    if (aKey == "max_packet_size")
    {
        return Check(ParseNumber(aValue, 0xFFFFFFFFul, aDevice.mMaxPacketSize));
    }
    if (aKey == "driver_installed")
    {
        return Check(ParseBool(aValue, aDevice.mDriverInstalled));
    }
    if (aKey == "capabilities_initialized")
    {
        return Check(ParseBool(aValue, aDevice.mCapabilitiesInitialized));
    }
    return kUnknownKey;
}

KeyOutcome ApplyControllerKey(TnUsbHostControllerInfo &aController, const std::string &aKey,
                              const std::string &aValue)
{
    if (aKey == "name")
    {
        return SetText(aController.mName, aValue);
    }
    if (aKey == "description")
    {
        return SetText(aController.mDescription, aValue);
    }
    if (aKey == "vendor_id")
    {
        return Check(ParseNumber(aValue, 0xFFFF, aController.mVendorId));
    }
    if (aKey == "device_id")
    {
        return Check(ParseNumber(aValue, 0xFFFF, aController.mDeviceId));
    }
    if (aKey == "subsystem_vendor_id")
    {
        return Check(ParseNumber(aValue, 0xFFFF, aController.mSubsystemVendorId));
    }
    if (aKey == "subsystem_device_id")
    {
        return Check(ParseNumber(aValue, 0xFFFF, aController.mSubsystemDeviceId));
    }
    if (aKey == "revision")
    {
        return Check(ParseNumber(aValue, 0xFF, aController.mRevision));
    }
    if (aKey == "speed")
    {
        int lSpeed = 0;
        if (!LookUp(kSpeeds, ToLower(aValue), lSpeed))
        {
            return kBadValue;
        }
        aController.mSpeed = static_cast<TnUSBSpeed>(lSpeed);
        return kApplied;
    }
    return kUnknownKey;
}

// The value of a "key = value" line: quotes keep everything inside them;
// without quotes a '#' ends the value.
std::string CleanValue(const std::string &aRaw)
{
    const std::string lValue = Trim(aRaw);
    if (lValue.size() >= 2 && lValue.front() == '"')
    {
        const size_t lClose = lValue.find('"', 1);
        if (lClose != std::string::npos)
        {
            return lValue.substr(1, lClose - 1);
        }
    }
    const size_t lHash = lValue.find('#');
    return Trim(lHash == std::string::npos ? lValue : lValue.substr(0, lHash));
}

std::string NormalizeKey(const std::string &aRaw)
{
    std::string lKey = ToLower(Trim(aRaw));
    for (char &lChar : lKey)
    {
        if (lChar == '-')
        {
            lChar = '_';
        }
    }
    return lKey;
}

void FinishController(TnUsbHostControllerInfo &aController, size_t aNumber)
{
    if (aController.mName.empty())
    {
        aController.mName = "sim-usb" + std::to_string(aNumber);
    }
    if (aController.mDescription.empty())
    {
        aController.mDescription = "Simulated USB host controller (" + aController.mName + ")";
    }
    aController.mSubsystemId =
        ((aController.mSubsystemDeviceId & 0xFFFF) << 16) | (aController.mSubsystemVendorId & 0xFFFF);
}
} // namespace

const char *UsbSpeedName(TnUSBSpeed aSpeed)
{
    switch (aSpeed)
    {
    case TnUSBSpeedLow:
        return "low";
    case TnUSBSpeedFull:
        return "full";
    case TnUSBSpeedHigh:
        return "high";
    case TnUSBSpeedSuper:
        return "super";
    default:
        return "Unknown";
    }
}

void ParseSimulatedDevices(const std::string &aText, TnSimulatedSource &aSource)
{
    auto lWarn = [&aSource](size_t aLine, const std::string &aText) {
        aSource.mWarnings.push_back("line " + std::to_string(aLine) + ": " + aText);
    };
    std::string lText = aText;
    if (lText.size() > kMaxFileSize)
    {
        lText.resize(kMaxFileSize);
        lWarn(0, "the file is longer than 1 MiB; the rest is ignored");
    }
    SectionKind lSection = kSectionNone;
    size_t lSections = 0;
    size_t lControllers = 0;
    size_t lLineNumber = 0;
    size_t lStart = 0;
    while (lStart < lText.size())
    {
        size_t lEnd = lText.find('\n', lStart);
        if (lEnd == std::string::npos)
        {
            lEnd = lText.size();
        }
        ++lLineNumber;
        std::string lLine = lText.substr(lStart, lEnd - lStart);
        lStart = lEnd + 1;
        if (lLine.size() > kMaxLineSize)
        {
            lWarn(lLineNumber, "line longer than 4096 bytes ignored");
            continue;
        }
        if (lLine.find('\0') != std::string::npos)
        {
            lWarn(lLineNumber, "line with a NUL byte ignored");
            continue;
        }
        lLine = Trim(lLine);
        if (lLine.empty() || lLine[0] == '#' || lLine[0] == ';')
        {
            continue;
        }
        if (lLine[0] == '[')
        {
            if (lLine.back() != ']')
            {
                lWarn(lLineNumber, "section header without ']'; its keys are ignored");
                lSection = kSectionSkipped;
                continue;
            }
            if (lSections >= kMaxSections)
            {
                if (lSections == kMaxSections)
                {
                    lWarn(lLineNumber, "more than 256 sections; the rest are ignored");
                }
                ++lSections;
                lSection = kSectionSkipped;
                continue;
            }
            const std::string lKind = ToLower(Trim(lLine.substr(1, lLine.size() - 2)));
            ++lSections;
            if (lKind == "u3v" || lKind == "usb" || lKind == "vexmoor")
            {
                TnSimulatedDeviceRecord lDevice;
                lDevice.mKind = lKind == "u3v" ? kSimulatedU3V : lKind == "usb" ? kSimulatedUSB : kSimulatedVexmoor;
                lDevice.mLine = lLineNumber;
                aSource.mDevices.push_back(lDevice);
                lSection = kSectionDevice;
            }
            else if (lKind == "controller")
            {
                TnUsbHostControllerInfo lController;
                lController.mSimulated = true;
                lController.mClassCode = 0x0C0330;
                lController.mSpeed = TnUSBSpeedSuper;
                aSource.mControllers.push_back(lController);
                ++lControllers;
                lSection = kSectionController;
            }
            else
            {
                lWarn(lLineNumber, "unknown section [" + lKind + "] ignored");
                lSection = kSectionSkipped;
            }
            continue;
        }
        const size_t lEquals = lLine.find('=');
        if (lEquals == std::string::npos || lEquals == 0)
        {
            lWarn(lLineNumber, "not a \"key = value\" line; ignored");
            continue;
        }
        if (lSection == kSectionSkipped)
        {
            continue;
        }
        if (lSection == kSectionNone)
        {
            lWarn(lLineNumber, "key outside any section ignored");
            continue;
        }
        const std::string lKey = NormalizeKey(lLine.substr(0, lEquals));
        const std::string lValue = CleanValue(lLine.substr(lEquals + 1));
        const KeyOutcome lOutcome = lSection == kSectionDevice
                                        ? ApplyDeviceKey(aSource.mDevices.back(), lKey, lValue)
                                        : ApplyControllerKey(aSource.mControllers.back(), lKey, lValue);
        if (lOutcome == kUnknownKey)
        {
            lWarn(lLineNumber, "unknown key '" + lKey + "' ignored");
        }
        else if (lOutcome == kBadValue)
        {
            lWarn(lLineNumber, "bad value '" + lValue + "' for '" + lKey + "' ignored");
        }
    }
    size_t lNumber = aSource.mControllers.size() - lControllers;
    for (size_t lIndex = aSource.mControllers.size() - lControllers; lIndex < aSource.mControllers.size(); ++lIndex)
    {
        FinishController(aSource.mControllers[lIndex], lNumber++);
    }
}

TnResult LoadSimulatedDevicesFrom(const std::string &aPath, TnSimulatedSource &aSource)
{
    FILE *lFile = fopen(aPath.c_str(), "rb");
    if (lFile == nullptr)
    {
        return tn::Failure(TN_CANNOT_OPEN_FILE, "simulated devices: cannot open " + aPath);
    }
    std::string lText;
    char lChunk[4096];
    size_t lRead = 0;
    while ((lRead = fread(lChunk, 1, sizeof(lChunk), lFile)) > 0 && lText.size() <= kMaxFileSize)
    {
        lText.append(lChunk, lRead);
    }
    const bool lFailed = ferror(lFile) != 0;
    fclose(lFile);
    if (lFailed)
    {
        return tn::Failure(TN_FILE_ERROR, "simulated devices: cannot read " + aPath);
    }
    ParseSimulatedDevices(lText, aSource);
    return TnResult(TN_OK);
}

TnResult LoadSimulatedDevices(TnSimulatedSource &aSource)
{
    const char *lPath = getenv(kSimulatedDevicesVariable);
    if (lPath == nullptr || lPath[0] == '\0')
    {
        return TnResult(TN_OK);
    }
    return LoadSimulatedDevicesFrom(lPath, aSource);
}
} // namespace system
} // namespace tn
