#include "TnSystem.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "TnDeviceMatching.h"
#include "TnDeviceRecords.h"
#include "TnDiscoveryObjects.h"
#include "TnGevAddress.h"
#include "TnSessionDiscovery.h"
#include "TnSimulatedPlacement.h"
#include "TnSystemInternal.h"
#include "TnSystemLog.h"
#include "TnText.h"
#include "TnUdpSocket.h"

namespace
{
const uint32_t kMinimumTimeout = 100;
const uint32_t kMaximumTimeout = 60000;
const uint32_t kGEVVersion = 0x00020002; // 2.2
const uint32_t kU3VVersion = 0x00010002; // 1.2
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
            const std::string why = tn::ToString(loaded.GetDescription());
            WarnOfSearch(__FILE__, __LINE__, !why.empty() ? why : "simulated devices cannot be read");
            result |= loaded;
        }
        for (const std::string &warning : simulated.mWarnings)
        {
            WarnOfSearch(__FILE__, __LINE__, "simulated devices: " + warning);
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
                    WarnOfSearch(__FILE__, __LINE__,
                                 "simulated devices: a second USB host controller named " + info.mName +
                                     " is left out");
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
                found = found || (!aIdentifier.empty() && MatchesIdentifier(*device, aIdentifier));
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
                    return MatchesIdentifier(*device, aIdentifier);
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
    const std::string identifier = tn::ToString(aDeviceToFind);
    if (identifier.empty())
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no device to find was named"));
    }
    std::vector<const TnDeviceInfo *> devices;
    const TnResult result = mState->Search(identifier, devices);
    for (const TnDeviceInfo *device : devices)
    {
        if (tn::system::MatchesIdentifier(*device, identifier))
        {
            *aDeviceInfo = device;
            return TnResult(TN_OK);
        }
    }
    std::string why = "no device answers to " + identifier;
    if (!result.IsOK())
    {
        const std::string failure = tn::ToString(result.GetDescription());
        why += " (the search failed: " + (!failure.empty() ? failure : tn::ToString(result.GetCodeString())) + ")";
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
