#include "TnSystem.h"

#include <algorithm>
#include <typeinfo>
#include <mutex>
#include <vector>

#include "TnGevAddress.h"
#include "TnSessionDiscovery.h"
#include "TnSystemInternal.h"

namespace
{
const uint32_t kMinimumTimeout = 100;
const uint32_t kMaximumTimeout = 60000;
const uint32_t kGEVVersion = 0x00020002;      // 2.2
const uint32_t kU3VVersion = 0x00010002;      // 1.2
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

TnNetworkAdapter *MakeAdapter(const tn::system::TnNetworkAdapterInfo &aInfo)
{
    TnNetworkAdapter *adapter = new TnNetworkAdapter;
    adapter->mSystemName = aInfo.mName;
    adapter->mName = aInfo.mDescription.empty() ? aInfo.mName : aInfo.mDescription;
    adapter->mDescription = adapter->mName;
    uint64_t mac = 0;
    for (uint8_t byte : aInfo.mMac)
    {
        mac = (mac << 8) | byte;
    }
    adapter->mMACAddress = tn::gev::FormatMacDotted(mac);
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

void FillCommon(TnDeviceInfo &aInfo, const tn::system::TnSimulatedDeviceRecord &aRecord, const std::string &aKind)
{
    aInfo.mVendorName = aRecord.mVendorName;
    aInfo.mModelName = aRecord.mModelName;
    aInfo.mVersion = aRecord.mVersion;
    aInfo.mManufacturerInfo = aRecord.mManufacturerInfo;
    aInfo.mSerialNumber = aRecord.mSerialNumber;
    aInfo.mUserDefinedName = aRecord.mUserDefinedName;
    aInfo.mClass = aRecord.mClass;
    aInfo.mConnectionID = aKind + ":" + aRecord.mSerialNumber;
    aInfo.mUniqueID = aInfo.mConnectionID;
    aInfo.mDisplayID = aRecord.mVendorName + " " + aRecord.mModelName + " (" + aRecord.mSerialNumber + ")";
}

TnDeviceInfo *MakeSimulatedDevice(const tn::system::TnSimulatedDeviceRecord &aRecord, TnUSBSpeed aControllerSpeed)
{
    if (aRecord.mKind == tn::system::kSimulatedVexmoor)
    {
        TnDeviceInfoVexmoorProtocol *info = new TnDeviceInfoVexmoorProtocol;
        FillCommon(*info, aRecord, "Vexmoor");
        uint64_t mac = 0;
        for (uint8_t byte : aRecord.mMac)
        {
            mac = (mac << 8) | byte;
        }
        info->mMAC = mac;
        info->mIPAddress = aRecord.mIPAddress;
        info->mSubnetMask = aRecord.mSubnetMask;
        info->mDefaultGateway = aRecord.mDefaultGateway;
        info->mDeviceID = aRecord.mDeviceID;
        info->mModuleID = aRecord.mModuleID;
        info->mSubID = aRecord.mSubID;
        info->mVendorID = aRecord.mVendorID;
        info->mSoftwareMajor = aRecord.mSoftwareMajor;
        info->mSoftwareMinor = aRecord.mSoftwareMinor;
        return info;
    }
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
    info->mCurrentSpeedSupported = aRecord.mSpeed <= aControllerSpeed;
    info->mMaxPower = aRecord.mMaxPower;
    info->mMaxPacketSize = aRecord.mMaxPacketSize;
    info->mVexmoorDriverInstalled = aRecord.mDriverInstalled;
    info->mInitializedCapabilities = aRecord.mCapabilitiesInitialized;
    if (!aRecord.mGUID.empty())
    {
        info->mConnectionID = "U3V:" + aRecord.mGUID;
        info->mUniqueID = info->mConnectionID;
    }
    info->mConfigurationValid = aRecord.mStatus == TnUSBStatusConnected && aRecord.mDriverInstalled;
    return info;
}

// Whether a description answers to an identifier: for GigE Vision devices
// their MAC or IP address, otherwise their GUID or connection identifier, and
// for all their user-defined name or serial number.
bool Matches(const TnDeviceInfo &aInfo, const std::string &aIdentifier)
{
    if (aIdentifier.empty())
    {
        return false;
    }
    if (const TnDeviceInfoGEV *gev = dynamic_cast<const TnDeviceInfoGEV *>(&aInfo))
    {
        uint64_t mac = 0;
        if (tn::gev::ParseMac(aIdentifier, mac))
        {
            return mac == gev->mMAC && mac != 0;
        }
        uint32_t address = 0;
        if (tn::gev::ParseIPv4(aIdentifier, address))
        {
            return address == gev->mIPAddress;
        }
    }
    if (const TnDeviceInfoU3V *u3v = dynamic_cast<const TnDeviceInfoU3V *>(&aInfo))
    {
        if (aIdentifier == u3v->mDeviceGUID)
        {
            return true;
        }
    }
    return aIdentifier == aInfo.mUserDefinedName || aIdentifier == aInfo.mSerialNumber ||
           aIdentifier == aInfo.mConnectionID;
}
} // namespace

TnSystemEventSink::~TnSystemEventSink() = default;

namespace tn
{
namespace system
{
struct SystemState
{
    mutable std::mutex mMutex;
    std::vector<TnInterface *> mInterfaces; // owned
    std::vector<const TnDeviceInfo *> mDevices;
    uint32_t mTimeout = 1500;
    bool mSubnetBroadcast = false;
    std::vector<TnSystemEventSink *> mSinks;
    mutable std::vector<SessionAnnouncement> mSessions;
    // What earlier searches handed out and later ones no longer found: kept
    // so that pointers the program holds stay valid until the system goes.
    std::vector<TnInterface *> mRetiredInterfaces;
    std::vector<TnDeviceInfo *> mRetiredDevices;

    ~SystemState()
    {
        Clear(mInterfaces);
        Clear(mRetiredInterfaces);
        for (TnDeviceInfo *device : mRetiredDevices)
        {
            delete device;
        }
    }

    template <class Item> static Item *TakeSame(std::vector<Item *> &aItems, const Item &aItem)
    {
        for (auto item = aItems.begin(); item != aItems.end(); ++item)
        {
            if ((*item)->mUniqueID == aItem.mUniqueID && typeid(**item) == typeid(aItem))
            {
                Item *same = *item;
                aItems.erase(item);
                return same;
            }
        }
        return nullptr;
    }

    // The interfaces of a new search, with the objects of earlier searches
    // updated in place where they describe the same interface or device, so
    // that what the program holds stays valid. Called with mMutex held.
    std::vector<TnInterface *> Merge(std::vector<TnInterface *> &aFresh)
    {
        std::vector<TnInterface *> merged;
        std::vector<TnInterface *> previous;
        previous.swap(mInterfaces);
        for (TnInterface *fresh : aFresh)
        {
            TnInterface *kept = TakeSame(previous, *fresh);
            if (kept == nullptr)
            {
                merged.push_back(fresh);
                continue;
            }
            kept->UpdateFrom(*fresh);
            std::vector<TnDeviceInfo *> oldDevices;
            oldDevices.swap(kept->mDevices);
            for (TnDeviceInfo *device : fresh->mDevices)
            {
                TnDeviceInfo *same = TakeSame(oldDevices, *device);
                if (same != nullptr)
                {
                    same->UpdateFrom(*device);
                    kept->mDevices.push_back(same);
                    delete device;
                }
                else
                {
                    kept->AddDevice(device);
                }
            }
            fresh->mDevices.clear();
            mRetiredDevices.insert(mRetiredDevices.end(), oldDevices.begin(), oldDevices.end());
            delete fresh;
            merged.push_back(kept);
        }
        aFresh.clear();
        mRetiredInterfaces.insert(mRetiredInterfaces.end(), previous.begin(), previous.end());
        return merged;
    }

    static void Clear(std::vector<TnInterface *> &aInterfaces)
    {
        for (TnInterface *interface : aInterfaces)
        {
            delete interface;
        }
        aInterfaces.clear();
    }

    // One search over every interface; aIdentifier, when not empty, lets it
    // stop once that device answered (and asks an IP address directly).
    TnResult Search(const std::string &aIdentifier)
    {
        uint32_t timeout;
        bool subnetBroadcast;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            timeout = mTimeout;
            subnetBroadcast = mSubnetBroadcast;
        }
        std::vector<TnNetworkAdapterInfo> adapterInfos;
        TnResult result = ListNetworkAdapters(adapterInfos);
        if (!result.IsOK())
        {
            return result;
        }
        std::vector<TnUsbHostControllerInfo> controllerInfos;
        ListUsbHostControllers(controllerInfos); // a host without a PCI listing has none
        TnSimulatedSource simulated;
        LoadSimulatedDevices(simulated);
        controllerInfos.insert(controllerInfos.end(), simulated.mControllers.begin(), simulated.mControllers.end());

        TnGevDiscoveryOptions options;
        options.mTimeoutMs = timeout;
        options.mSubnetBroadcast = subnetBroadcast;
        uint32_t unicast = 0;
        if (!aIdentifier.empty())
        {
            if (tn::gev::ParseIPv4(aIdentifier, unicast))
            {
                options.mUnicastAddress = unicast;
            }
            options.mStopWhen = [&aIdentifier](const TnGevDeviceRecord &aRecord) {
                return MatchesGevIdentifier(aRecord, aIdentifier);
            };
        }
        std::vector<TnGevDeviceRecord> records;
        DiscoverGevDevices(adapterInfos, options, records);

        std::vector<TnInterface *> interfaces;
        std::vector<TnNetworkAdapter *> adapters;
        std::vector<TnUSBHostController *> controllers;
        for (const TnUsbHostControllerInfo &info : controllerInfos)
        {
            controllers.push_back(MakeController(info));
        }
        for (const TnNetworkAdapterInfo &info : adapterInfos)
        {
            adapters.push_back(MakeAdapter(info));
        }
        for (const TnGevDeviceRecord &record : records)
        {
            if (record.mAdapterPosition < adapters.size())
            {
                adapters[record.mAdapterPosition]->AddDevice(MakeGevDevice(record));
            }
        }
        for (const TnSimulatedDeviceRecord &record : simulated.mDevices)
        {
            if (record.mKind == kSimulatedVexmoor)
            {
                TnNetworkAdapter *adapter = FindByName(adapters, record.mAdapter);
                if (adapter != nullptr)
                {
                    adapter->AddDevice(MakeSimulatedDevice(record, TnUSBSpeedUnknown));
                }
                continue;
            }
            TnUSBHostController *controller = FindByName(controllers, record.mController);
            if (controller == nullptr)
            {
                TnUsbHostControllerInfo info;
                info.mName = "simulated";
                info.mDescription = "Simulated USB host controller";
                info.mSpeed = TnUSBSpeedSuper;
                info.mSimulated = true;
                controller = MakeController(info);
                controllers.push_back(controller);
            }
            controller->AddDevice(MakeSimulatedDevice(record, controller->mSpeed));
        }
        // The order the operating system gives: adapters, then controllers.
        interfaces.insert(interfaces.end(), adapters.begin(), adapters.end());
        interfaces.insert(interfaces.end(), controllers.begin(), controllers.end());

        std::vector<TnSystemEventSink *> sinks;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mInterfaces = Merge(interfaces);
            mDevices.clear();
            for (TnInterface *interface : mInterfaces)
            {
                interface->mHeld = true;
                mDevices.insert(mDevices.end(), interface->mDevices.begin(), interface->mDevices.end());
            }
            sinks = mSinks;
        }
        // The sinks run without the lock: they may read the lists.
        for (const TnDeviceInfo *device : Devices())
        {
            for (TnSystemEventSink *sink : sinks)
            {
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
        return TnResult(TN_OK);
    }

    std::vector<const TnDeviceInfo *> Devices() const
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mDevices;
    }

    // The interface a simulated device names: by its system name or by its
    // position; the first one when none is named.
    template <class Interface>
    static Interface *FindByName(const std::vector<Interface *> &aInterfaces, const std::string &aName)
    {
        if (!aName.empty() && aName.find_first_not_of("0123456789") == std::string::npos && aName.size() < 9)
        {
            const size_t position = std::stoul(aName);
            if (position < aInterfaces.size())
            {
                return aInterfaces[position];
            }
        }
        for (Interface *interface : aInterfaces)
        {
            if (aName.empty() || interface->mSystemName == aName)
            {
                return interface;
            }
        }
        return nullptr;
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
    return mState->Search(std::string());
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
    TnResult result = mState->Search(identifier);
    if (!result.IsOK())
    {
        return result;
    }
    for (const TnDeviceInfo *device : mState->Devices())
    {
        if (Matches(*device, identifier))
        {
            *aDeviceInfo = device;
            return TnResult(TN_OK);
        }
    }
    return TnResult(TN_NOT_FOUND, TnString(("no device answers to " + identifier).c_str()));
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
    std::lock_guard<std::mutex> lock(mState->mMutex);
    if (std::find(mState->mSinks.begin(), mState->mSinks.end(), aEventSink) != mState->mSinks.end())
    {
        return TnResult(TN_GENERIC_ERROR, TnString("the event sink is registered already"));
    }
    mState->mSinks.push_back(aEventSink);
    return TnResult(TN_OK);
}

TnResult TnSystem::UnregisterEventSink(TnSystemEventSink *aEventSink)
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
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
    std::vector<tn::system::SessionAnnouncement> sessions;
    tn::system::ListenForSessions(GetDetectionTimeout(), sessions);
    std::lock_guard<std::mutex> lock(mState->mMutex);
    mState->mSessions.swap(sessions);
    return static_cast<uint32_t>(mState->mSessions.size());
}

TnResult TnSystem::GetSessionInfo(uint32_t aIndex, TnSessionInfo &aSessionInfo) const
{
    std::lock_guard<std::mutex> lock(mState->mMutex);
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
