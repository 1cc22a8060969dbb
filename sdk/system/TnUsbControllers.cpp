#include <dirent.h>
#include <stdio.h>

#include <algorithm>

#include "TnSystemInternal.h"
#include "TnSystemText.h"

namespace tn
{
namespace system
{
namespace
{
constexpr unsigned long kUsbControllerClass = 0x0C03;
constexpr unsigned long kUsbDeviceInterface = 0xFE; // a USB device controller, not a host

uint32_t ReadHex(const std::string &aPath, bool &aOk)
{
    unsigned long lValue = 0;
    if (!ParseUnsigned(ReadAttribute(aPath), 16, lValue) || lValue > 0xFFFFFFFFul)
    {
        aOk = false;
        return 0;
    }
    return static_cast<uint32_t>(lValue);
}

const char *KindName(uint32_t aProgrammingInterface)
{
    switch (aProgrammingInterface)
    {
    case 0x00:
        return "UHCI";
    case 0x10:
        return "OHCI";
    case 0x20:
        return "EHCI";
    case 0x30:
        return "xHCI";
    case 0x40:
        return "USB4";
    default:
        return nullptr;
    }
}
} // namespace

TnUSBSpeed UsbSpeedOfProgrammingInterface(uint32_t aProgrammingInterface)
{
    switch (aProgrammingInterface)
    {
    case 0x00:
    case 0x10:
        return TnUSBSpeedFull;
    case 0x20:
        return TnUSBSpeedHigh;
    case 0x30:
    case 0x40:
        return TnUSBSpeedSuper;
    default:
        return TnUSBSpeedUnknown;
    }
}

TnResult ListUsbHostControllers(std::vector<TnUsbHostControllerInfo> &aControllers, const std::string &aPciRoot)
{
    aControllers.clear();
    DIR *lDirectory = opendir(aPciRoot.c_str());
    if (lDirectory == nullptr)
    {
        return TnResult(TN_OK); // no PCI bus to look at: no controllers
    }
    std::vector<std::string> lNames;
    while (const dirent *lEntry = readdir(lDirectory))
    {
        if (lEntry->d_name[0] != '.')
        {
            lNames.push_back(lEntry->d_name);
        }
    }
    closedir(lDirectory);
    std::sort(lNames.begin(), lNames.end());

    for (const std::string &lName : lNames)
    {
        const std::string lDevice = aPciRoot + "/" + lName + "/";
        bool lOk = true;
        const uint32_t lClass = ReadHex(lDevice + "class", lOk);
        if (!lOk || (lClass >> 8) != kUsbControllerClass || (lClass & 0xFF) == kUsbDeviceInterface)
        {
            continue;
        }
        TnUsbHostControllerInfo lController;
        lController.mName = lName;
        lController.mClassCode = lClass;
        lController.mVendorId = ReadHex(lDevice + "vendor", lOk);
        lController.mDeviceId = ReadHex(lDevice + "device", lOk);
        if (!lOk)
        {
            continue; // not a readable PCI device
        }
        // Optional attributes: 0 when missing.
        bool lOptional = true;
        lController.mSubsystemVendorId = ReadHex(lDevice + "subsystem_vendor", lOptional);
        lController.mSubsystemDeviceId = ReadHex(lDevice + "subsystem_device", lOptional);
        lController.mRevision = ReadHex(lDevice + "revision", lOptional);
        lController.mSubsystemId = ((lController.mSubsystemDeviceId & 0xFFFF) << 16) |
                                   (lController.mSubsystemVendorId & 0xFFFF);
        lController.mDriver = LinkBaseName(lDevice + "driver");
        lController.mSpeed = UsbSpeedOfProgrammingInterface(lClass & 0xFF);

        const char *lKind = KindName(lClass & 0xFF);
        char lText[160];
        snprintf(lText, sizeof(lText), "%s%sUSB host controller (%04x:%04x%s%s)", lKind != nullptr ? lKind : "",
                 lKind != nullptr ? " " : "", lController.mVendorId & 0xFFFF, lController.mDeviceId & 0xFFFF,
                 lController.mDriver.empty() ? "" : ", ", lController.mDriver.c_str());
        lController.mDescription = lText;
        aControllers.push_back(lController);
    }
    return TnResult(TN_OK);
}
} // namespace system
} // namespace tn
