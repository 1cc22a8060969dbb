#include "TnSystem.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "TnDiscoveryObjects.h"
#include "TnGevAddress.h"
#include "TnLog.h"
#include "TnSessionDiscovery.h"
#include "TnSystemInternal.h"
#include "TnUdpSocket.h"

namespace
{
const uint32_t kMinimumTimeout = 100;
const uint32_t kMaximumTimeout = 60000;
const uint32_t kGEVVersion = 0x00020002; // 2.2
const uint32_t kU3VVersion = 0x00010002; // 1.2
const char kInterfaceOrderNetwork[] = "1 "; // adapters sort after controllers
const char kInterfaceOrderUSB[] = "0 ";

TnLogger &Logger()
{
    static TnLogger *sLogger = new TnLogger(TnString("TnSystem")); // outlives every system
    return *sLogger;
}

void Warn(const std::string &aMessage)
{
    Logger().LogWarning(__FILE__, __LINE__, "TnSystem::Find", aMessage.c_str());
}

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

TnNetworkAdapter *MakeAdapter(const tn::system::TnNetworkAdapterInfo &aInfo)
{
    TnNetworkAdapter *adapter = new TnNetworkAdapter;
    adapter->mSystemName = aInfo.mName;
    adapter->mName = aInfo.mDescription.empty() ? aInfo.mName : aInfo.mDescription;
    adapter->mDescription = adapter->mName;
    adapter->mMACAddress = tn::gev::FormatMacDotted(tn::gev::MacFromBytes(aInfo.mMac));
    for (const tn::system::TnAdapterAddress &address : aInfo.mAddresses)
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

TnUSBHostController *MakeController(const tn::system::TnUsbHostControllerInfo &aInfo)
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

TnDeviceInfoGEV *MakeGevDevice(const tn::system::TnGevDeviceRecord &aRecord)
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


// What names a simulated device itself: its GUID, serial number or MAC
// address, else the line of its description.
std::string SimulatedKey(const tn::system::TnSimulatedDeviceRecord &aRecord)
{
    std::string key;
    switch (aRecord.mKind)
    {
    case tn::system::kSimulatedU3V:
        key = aRecord.mGUID;
        break;
    case tn::system::kSimulatedUSB:
        key = aRecord.mSerialNumber;
        break;
    case tn::system::kSimulatedVexmoor:
        if (tn::gev::MacFromBytes(aRecord.mMac) != 0)
        {
            key = tn::gev::FormatMac(tn::gev::MacFromBytes(aRecord.mMac));
        }
        break;
    }
    return key.empty() ? "line-" + std::to_string(aRecord.mLine) : key;
}

void FillCommon(TnDeviceInfo &aInfo, const tn::system::TnSimulatedDeviceRecord &aRecord, const std::string &aKind)
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

TnDeviceInfo *MakeVexmoorDevice(const tn::system::TnSimulatedDeviceRecord &aRecord, const TnNetworkAdapter &aAdapter)
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

TnDeviceInfo *MakeUsbDevice(const tn::system::TnSimulatedDeviceRecord &aRecord, TnUSBSpeed aControllerSpeed)
{
    if (aRecord.mKind == tn::system::kSimulatedUSB)
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
    info->mSpeedMessage = aRecord.mSpeedMessage.empty() ? tn::system::UsbSpeedName(aRecord.mSpeed) : aRecord.mSpeedMessage;
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

// Whether a description answers to an identifier: a network device to its
// MAC or IP address, a USB3 Vision device to its GUID or USB3 Vision serial
// number, every device to its user-defined name, serial number, connection or
// unique identifier. An all-zero MAC address or 0.0.0.0 names no device.
bool Matches(const TnDeviceInfo &aInfo, const std::string &aIdentifier)
{
    if (aIdentifier.empty())
    {
        return false;
    }
    uint64_t mac = 0;
    const bool isMac = tn::gev::ParseMac(aIdentifier, mac) && mac != 0;
    uint32_t address = 0;
    const bool isAddress = tn::gev::ParseIPv4(aIdentifier, address) && address != 0;
    if (const TnDeviceInfoGEV *gev = dynamic_cast<const TnDeviceInfoGEV *>(&aInfo))
    {
        if ((isMac && mac == gev->mMAC) || (isAddress && address == gev->mIPAddress))
        {
            return true;
        }
    }
    if (const TnDeviceInfoVexmoorProtocol *vexmoor = dynamic_cast<const TnDeviceInfoVexmoorProtocol *>(&aInfo))
    {
        if ((isMac && mac == vexmoor->mMAC) || (isAddress && address == vexmoor->mIPAddress))
        {
            return true;
        }
    }
    if (const TnDeviceInfoU3V *u3v = dynamic_cast<const TnDeviceInfoU3V *>(&aInfo))
    {
        if ((!u3v->mDeviceGUID.empty() && aIdentifier == u3v->mDeviceGUID) ||
            (!u3v->mU3VSerialNumber.empty() && aIdentifier == u3v->mU3VSerialNumber))
        {
            return true;
        }
    }
    return aIdentifier == aInfo.mUserDefinedName || aIdentifier == aInfo.mSerialNumber ||
           aIdentifier == aInfo.mConnectionID || aIdentifier == aInfo.mUniqueID;
}

// The interface a simulated device names: by its position in the list or by
// its system name.
template <class Interface>
Interface *FindByName(const std::vector<Interface *> &aInterfaces, const std::string &aName)
{
    if (!aName.empty() && aName.size() < 9 && aName.find_first_not_of("0123456789") == std::string::npos)
    {
        const size_t position = std::stoul(aName);
        return position < aInterfaces.size() ? aInterfaces[position] : nullptr;
    }
    for (Interface *interface : aInterfaces)
    {
        if (interface->mSystemName == aName)
        {
            return interface;
        }
    }
    return nullptr;
}

std::string LinePrefix(const tn::system::TnSimulatedDeviceRecord &aRecord)
{
    return "simulated devices: line " + std::to_string(aRecord.mLine) + ": ";
}

// Puts the simulated devices on the interfaces they name. A device whose
// interface is missing is left out, with a warning; USB devices that name no
// controller go on the first one, and on a simulated one when the host has
// none.
void PlaceSimulatedDevices(const tn::system::TnSimulatedSource &aSource, std::vector<TnNetworkAdapter *> &aAdapters,
                           std::vector<TnUSBHostController *> &aControllers)
{
    std::set<std::string> uniqueIDs;
    for (const tn::system::TnSimulatedDeviceRecord &record : aSource.mDevices)
    {
        TnInterface *interface = nullptr;
        TnDeviceInfo *info = nullptr;
        if (record.mKind == tn::system::kSimulatedVexmoor)
        {
            TnNetworkAdapter *adapter = nullptr;
            if (!record.mAdapter.empty())
            {
                adapter = FindByName(aAdapters, record.mAdapter);
            }
            else
            {
                for (TnNetworkAdapter *candidate : aAdapters)
                {
                    if (adapter == nullptr && AdapterSubnetHolds(*candidate, record.mIPAddress))
                    {
                        adapter = candidate;
                    }
                }
                if (adapter == nullptr && !aAdapters.empty())
                {
                    adapter = aAdapters.front();
                }
            }
            if (adapter == nullptr)
            {
                Warn(LinePrefix(record) + "no network adapter '" + record.mAdapter + "'; the device is left out");
                continue;
            }
            interface = adapter;
            info = MakeVexmoorDevice(record, *adapter);
        }
        else
        {
            TnUSBHostController *controller = nullptr;
            if (!record.mController.empty())
            {
                controller = FindByName(aControllers, record.mController);
                if (controller == nullptr)
                {
                    Warn(LinePrefix(record) + "no USB host controller '" + record.mController +
                         "'; the device is left out");
                    continue;
                }
            }
            else if (!aControllers.empty())
            {
                controller = aControllers.front();
            }
            else
            {
                tn::system::TnUsbHostControllerInfo simulated;
                simulated.mName = "simulated";
                simulated.mDescription = "Simulated USB host controller";
                simulated.mSpeed = TnUSBSpeedSuper;
                simulated.mSimulated = true;
                controller = MakeController(simulated);
                aControllers.push_back(controller);
            }
            interface = controller;
            info = MakeUsbDevice(record, controller->mSpeed);
        }
        // Descriptions that name the same device: the later ones get their
        // line as well, so that every device keeps an identifier of its own.
        if (!uniqueIDs.insert(info->mUniqueID).second)
        {
            Warn(LinePrefix(record) + "a device named " + info->mUniqueID + " was described before");
            const bool connectByID = info->mConnectionID == info->mUniqueID;
            info->mUniqueID += "@line-" + std::to_string(record.mLine);
            if (connectByID)
            {
                info->mConnectionID = info->mUniqueID;
            }
            uniqueIDs.insert(info->mUniqueID);
        }
        interface->AddDevice(info);
    }
}
} // namespace

TnSystemEventSink::~TnSystemEventSink() = default;

namespace tn
{
namespace system
{
struct SystemState final : public TnInterfaceHolder
{
    mutable std::mutex mMutex; // guards the lists and the settings
    std::vector<TnInterface *> mInterfaces;     // the last search's, in order
    std::vector<const TnDeviceInfo *> mDevices; // theirs, in order
    // Every interface a search published, with its devices, and the signature
    // it was published with. None changes or goes before the system does, so
    // that whatever a program holds stays valid and can be read while another
    // thread searches; a later search that finds the same again hands out
    // the same objects, so that repeated searches do not pile up copies.
    std::vector<std::pair<TnInterface *, std::string>> mKept;
    uint32_t mTimeout = 1500;
    bool mSubnetBroadcast = false;

    // Held while sinks are told of devices, so that a sink is never called
    // after UnregisterEventSink returned; recursive, for sinks that search or
    // unregister from inside their call.
    std::recursive_mutex mSinkMutex;
    std::vector<TnSystemEventSink *> mSinks;

    mutable std::mutex mSessionMutex;
    mutable std::vector<SessionAnnouncement> mSessions;

    ~SystemState()
    {
        for (std::pair<TnInterface *, std::string> &kept : mKept)
        {
            kept.first->mHolder = nullptr;
            delete kept.first;
        }
    }

    void ForgetInterface(const TnInterface *aInterface) override
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mKept.erase(std::remove_if(mKept.begin(), mKept.end(),
                                   [aInterface](const std::pair<TnInterface *, std::string> &aKept) {
                                       return aKept.first == aInterface;
                                   }),
                    mKept.end());
        mInterfaces.erase(std::remove(mInterfaces.begin(), mInterfaces.end(), aInterface), mInterfaces.end());
        for (const TnDeviceInfo *device : aInterface->mDevices)
        {
            mDevices.erase(std::remove(mDevices.begin(), mDevices.end(), device), mDevices.end());
        }
    }

    void ForgetDevice(const TnDeviceInfo *aDevice) override
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mDevices.erase(std::remove(mDevices.begin(), mDevices.end(), aDevice), mDevices.end());
        for (std::pair<TnInterface *, std::string> &kept : mKept)
        {
            if (kept.first == aDevice->mInterface)
            {
                kept.second.clear();
                kept.first->AppendSignature(kept.second);
            }
        }
    }

    // Makes a search's interfaces the current ones, handing out the objects
    // of earlier searches instead where they say the same.
    std::vector<const TnDeviceInfo *> Publish(std::vector<TnInterface *> &aFresh)
    {
        std::lock_guard<std::mutex> lock(mMutex);
        std::vector<TnInterface *> published;
        for (TnInterface *fresh : aFresh)
        {
            std::string signature;
            fresh->AppendSignature(signature);
            TnInterface *same = nullptr;
            for (const std::pair<TnInterface *, std::string> &kept : mKept)
            {
                if (kept.second == signature &&
                    std::find(published.begin(), published.end(), kept.first) == published.end())
                {
                    same = kept.first;
                    break;
                }
            }
            if (same != nullptr)
            {
                delete fresh;
                published.push_back(same);
            }
            else
            {
                fresh->mHolder = this;
                mKept.emplace_back(fresh, signature);
                published.push_back(fresh);
            }
        }
        aFresh.clear();
        mInterfaces = published;
        mDevices.clear();
        for (const TnInterface *interface : mInterfaces)
        {
            mDevices.insert(mDevices.end(), interface->mDevices.begin(), interface->mDevices.end());
        }
        return mDevices;
    }

    void Notify(const std::vector<const TnDeviceInfo *> &aDevices)
    {
        std::lock_guard<std::recursive_mutex> lock(mSinkMutex);
        const std::vector<TnSystemEventSink *> sinks = mSinks;
        for (const TnDeviceInfo *device : aDevices)
        {
            for (TnSystemEventSink *sink : sinks)
            {
                // A sink may have unregistered itself or another one.
                if (std::find(mSinks.begin(), mSinks.end(), sink) == mSinks.end())
                {
                    continue;
                }
                try
                {
                    sink->OnDeviceFound(device);
                }
                catch (...)
                {
                    // A failing sink misses this device; the search goes on.
                }
            }
        }
    }

    // One search over every interface. With aIdentifier the search ends as
    // soon as that device answers, and an IP address is asked directly.
    TnResult Search(const std::string &aIdentifier, std::vector<const TnDeviceInfo *> &aDevices)
    {
        uint32_t timeout;
        bool subnetBroadcast;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            timeout = mTimeout;
            subnetBroadcast = mSubnetBroadcast;
        }
        TnResult result(TN_OK);
        std::vector<TnNetworkAdapterInfo> adapterInfos;
        const TnResult listed = ListNetworkAdapters(adapterInfos);
        if (!listed.IsOK())
        {
            result |= listed;
            adapterInfos.clear();
        }
        std::vector<TnUsbHostControllerInfo> controllerInfos;
        ListUsbHostControllers(controllerInfos); // a host without a PCI listing has none
        TnSimulatedSource simulated;
        const TnResult loaded = LoadSimulatedDevices(simulated);
        if (!loaded.IsOK())
        {
            const char *why = loaded.GetDescription().GetAscii();
            Warn(why != nullptr ? why : "simulated devices cannot be read");
            result |= loaded;
        }
        for (const std::string &warning : simulated.mWarnings)
        {
            Warn("simulated devices: " + warning);
        }

        std::vector<TnNetworkAdapter *> adapters;
        for (const TnNetworkAdapterInfo &info : adapterInfos)
        {
            adapters.push_back(MakeAdapter(info));
        }
        std::vector<TnUSBHostController *> controllers;
        std::set<std::string> controllerNames;
        for (const std::vector<TnUsbHostControllerInfo> *list : {&controllerInfos, &simulated.mControllers})
        {
            for (const TnUsbHostControllerInfo &info : *list)
            {
                if (!controllerNames.insert(info.mName).second)
                {
                    Warn("simulated devices: a second USB host controller named " + info.mName + " is left out");
                    continue;
                }
                controllers.push_back(MakeController(info));
            }
        }
        PlaceSimulatedDevices(simulated, adapters, controllers);

        // Devices that need no waiting may already be the one looked for.
        bool found = false;
        auto lookAt = [&found, &aIdentifier](const TnInterface *aInterface) {
            for (const TnDeviceInfo *device : aInterface->mDevices)
            {
                found = found || (!aIdentifier.empty() && Matches(*device, aIdentifier));
            }
        };
        std::for_each(adapters.begin(), adapters.end(), lookAt);
        std::for_each(controllers.begin(), controllers.end(), lookAt);
        if (!found)
        {
            TnGevDiscoveryOptions options;
            options.mTimeoutMs = timeout;
            options.mSubnetBroadcast = subnetBroadcast;
            if (!aIdentifier.empty())
            {
                uint32_t address = 0;
                if (tn::gev::ParseIPv4(aIdentifier, address) && address != 0)
                {
                    options.mUnicastAddress = address;
                }
                options.mStopWhen = [&aIdentifier](const TnGevDeviceRecord &aRecord) {
                    const std::unique_ptr<TnDeviceInfoGEV> device(MakeGevDevice(aRecord));
                    return Matches(*device, aIdentifier);
                };
            }
            std::vector<TnGevDeviceRecord> records;
            const TnResult discovered = DiscoverGevDevices(adapterInfos, options, records);
            // TN_NOT_FOUND: no adapter was up with an address to search from.
            if (!discovered.IsOK() && discovered.GetCode() != TN_NOT_FOUND)
            {
                result |= discovered;
            }
            for (const TnGevDeviceRecord &record : records)
            {
                if (record.mAdapterPosition < adapters.size())
                {
                    adapters[record.mAdapterPosition]->AddDevice(MakeGevDevice(record));
                }
            }
        }

        // The order the operating system gives: adapters, then controllers.
        std::vector<TnInterface *> interfaces(adapters.begin(), adapters.end());
        interfaces.insert(interfaces.end(), controllers.begin(), controllers.end());
        aDevices = Publish(interfaces);
        Notify(aDevices);
        return result;
    }
};
} // namespace system
} // namespace tn

TnSystem::TnSystem() : mState(new tn::system::SystemState) {}

TnSystem::~TnSystem()
{
    delete mState;
}

TnResult TnSystem::Find()
{
    std::vector<const TnDeviceInfo *> devices;
    return mState->Search(std::string(), devices);
}

TnResult TnSystem::FindDevice(const TnString &aDeviceToFind, const TnDeviceInfo **aDeviceInfo)
{
    if (aDeviceInfo == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no place for the device was given"));
    }
    *aDeviceInfo = nullptr;
    const char *text = aDeviceToFind.GetAscii();
    const std::string identifier = text != nullptr ? text : "";
    if (identifier.empty())
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no device to find was named"));
    }
    std::vector<const TnDeviceInfo *> devices;
    const TnResult result = mState->Search(identifier, devices);
    for (const TnDeviceInfo *device : devices)
    {
        if (Matches(*device, identifier))
        {
            *aDeviceInfo = device;
            return TnResult(TN_OK);
        }
    }
    std::string why = "no device answers to " + identifier;
    if (!result.IsOK())
    {
        const char *failure = result.GetDescription().GetAscii();
        why += std::string(" (the search failed: ") + (failure != nullptr && *failure != '\0' ? failure
                                                           : result.GetCodeString().GetAscii()) + ")";
    }
    return TnResult(TN_NOT_FOUND, TnString(why.c_str()));
}

void TnSystem::SetDetectionTimeout(uint32_t aTimeout)
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
    mState->mTimeout = std::min(std::max(aTimeout, kMinimumTimeout), kMaximumTimeout);
}

uint32_t TnSystem::GetDetectionTimeout() const
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
    return mState->mTimeout;
}

void TnSystem::SetSubnetBroadcastEnabled(bool aEnabled)
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
    mState->mSubnetBroadcast = aEnabled;
}

bool TnSystem::GetSubnetBroadcastEnabled() const
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
    return mState->mSubnetBroadcast;
}

uint32_t TnSystem::GetGEVSupportedVersion() const
{
    return kGEVVersion;
}

uint32_t TnSystem::GetU3VSupportedVersion() const
{
    return kU3VVersion;
}

TnResult TnSystem::RegisterEventSink(TnSystemEventSink *aEventSink)
{
    if (aEventSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no event sink was given"));
    }
    std::lock_guard<std::recursive_mutex> lock(mState->mSinkMutex);
    if (std::find(mState->mSinks.begin(), mState->mSinks.end(), aEventSink) != mState->mSinks.end())
    {
        return TnResult(TN_GENERIC_ERROR, TnString("the event sink is registered already"));
    }
    mState->mSinks.push_back(aEventSink);
    return TnResult(TN_OK);
}

TnResult TnSystem::UnregisterEventSink(TnSystemEventSink *aEventSink)
{
    // Waits for a search that is telling its sinks on another thread.
    std::lock_guard<std::recursive_mutex> lock(mState->mSinkMutex);
    auto found = std::find(mState->mSinks.begin(), mState->mSinks.end(), aEventSink);
    if (found == mState->mSinks.end())
    {
        return TnResult(TN_NOT_FOUND, TnString("the event sink is not registered"));
    }
    mState->mSinks.erase(found);
    return TnResult(TN_OK);
}

uint32_t TnSystem::GetInterfaceCount() const
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
    return static_cast<uint32_t>(mState->mInterfaces.size());
}

TnInterface *TnSystem::GetInterface(uint32_t aIndex) const
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
    return aIndex < mState->mInterfaces.size() ? mState->mInterfaces[aIndex] : nullptr;
}

uint32_t TnSystem::GetDeviceCount() const
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
    return static_cast<uint32_t>(mState->mDevices.size());
}

const TnDeviceInfo *TnSystem::GetDeviceInfo(uint32_t aIndex) const
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
    return aIndex < mState->mDevices.size() ? mState->mDevices[aIndex] : nullptr;
}

uint32_t TnSystem::DiscoverSessions() const
{
    std::vector<tn::system::SessionAnnouncement> heard;
    tn::system::ListenForSessions(GetDetectionTimeout(), heard);
    std::lock_guard<std::mutex> lock(mState->mSessionMutex);
    tn::system::UpdateSessions(mState->mSessions, heard, tn::gev::MonotonicMilliseconds());
    return static_cast<uint32_t>(mState->mSessions.size());
}

TnResult TnSystem::GetSessionInfo(uint32_t aIndex, TnSessionInfo &aSessionInfo) const
{
    std::lock_guard<std::mutex> lock(mState->mSessionMutex);
    if (aIndex >= mState->mSessions.size())
    {
        return TnResult(TN_NOT_FOUND, TnString("no session of that index is announced"));
    }
    const tn::system::SessionAnnouncement &session = mState->mSessions[aIndex];
    aSessionInfo.mName = TnString(session.mName.c_str());
    aSessionInfo.mAddress = TnString(session.mAddress.c_str());
    aSessionInfo.mPort = session.mPort;
    aSessionInfo.mLocalAddress = TnString(session.mLocalAddress.c_str());
    return TnResult(TN_OK);
}

TnSessionInfo::TnSessionInfo() : mPort(0) {}
