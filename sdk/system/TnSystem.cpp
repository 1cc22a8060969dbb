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
#include "TnSinkRegistry.h"
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
        for (std::pair<TnInterface *, std::string> &lKept : mKept)
        {
            lKept.first->mHolder = nullptr;
            delete lKept.first;
        }
    }

    void ForgetInterface(const TnInterface *aInterface) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mKept.erase(std::remove_if(mKept.begin(), mKept.end(),
                                   [aInterface](const std::pair<TnInterface *, std::string> &aKept) {
                                       return aKept.first == aInterface;
                                   }),
                    mKept.end());
        mInterfaces.erase(std::remove(mInterfaces.begin(), mInterfaces.end(), aInterface), mInterfaces.end());
        for (const TnDeviceInfo *lDevice : aInterface->mDevices)
        {
            mDevices.erase(std::remove(mDevices.begin(), mDevices.end(), lDevice), mDevices.end());
        }
    }

    void ForgetDevice(const TnDeviceInfo *aDevice) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mDevices.erase(std::remove(mDevices.begin(), mDevices.end(), aDevice), mDevices.end());
        for (std::pair<TnInterface *, std::string> &lKept : mKept)
        {
            if (lKept.first == aDevice->mInterface)
            {
                lKept.second.clear();
                lKept.first->AppendSignature(lKept.second);
            }
        }
    }

    // Makes a search's interfaces the current ones, handing out the objects
    // of earlier searches instead where they say the same.
    std::vector<const TnDeviceInfo *> Publish(std::vector<TnInterface *> &aFresh)
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        std::vector<TnInterface *> lPublished;
        for (TnInterface *lFresh : aFresh)
        {
            std::string lSignature;
            lFresh->AppendSignature(lSignature);
            TnInterface *lSame = nullptr;
            for (const std::pair<TnInterface *, std::string> &lKept : mKept)
            {
                if (lKept.second == lSignature &&
                    std::find(lPublished.begin(), lPublished.end(), lKept.first) == lPublished.end())
                {
                    lSame = lKept.first;
                    break;
                }
            }
            if (lSame != nullptr)
            {
                delete lFresh;
                lPublished.push_back(lSame);
            }
            else
            {
                lFresh->mHolder = this;
                mKept.emplace_back(lFresh, lSignature);
                lPublished.push_back(lFresh);
            }
        }
        aFresh.clear();
        mInterfaces = lPublished;
        mDevices.clear();
        for (const TnInterface *lInterface : mInterfaces)
        {
            mDevices.insert(mDevices.end(), lInterface->mDevices.begin(), lInterface->mDevices.end());
        }
        return mDevices;
    }

    void Notify(const std::vector<const TnDeviceInfo *> &aDevices)
    {
        std::lock_guard<std::recursive_mutex> lLock(mSinkMutex);
        const std::vector<TnSystemEventSink *> lSinks = mSinks;
        for (const TnDeviceInfo *lDevice : aDevices)
        {
            for (TnSystemEventSink *lSink : lSinks)
            {
                // A sink may have unregistered itself or another one.
                if (std::find(mSinks.begin(), mSinks.end(), lSink) == mSinks.end())
                {
                    continue;
                }
                try
                {
                    lSink->OnDeviceFound(lDevice);
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
        uint32_t lTimeout;
        bool lSubnetBroadcast;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lTimeout = mTimeout;
            lSubnetBroadcast = mSubnetBroadcast;
        }
        TnResult lResult(TN_OK);
        std::vector<TnNetworkAdapterInfo> lAdapterInfos;
        const TnResult lListed = ListNetworkAdapters(lAdapterInfos);
        if (!lListed.IsOK())
        {
            lResult |= lListed;
            lAdapterInfos.clear();
        }
        std::vector<TnUsbHostControllerInfo> lControllerInfos;
        ListUsbHostControllers(lControllerInfos); // a host without a PCI listing has none
        TnSimulatedSource lSimulated;
        const TnResult lLoaded = LoadSimulatedDevices(lSimulated);
        if (!lLoaded.IsOK())
        {
            const std::string lWhy = tn::ToString(lLoaded.GetDescription());
            WarnOfSearch(__FILE__, __LINE__, !lWhy.empty() ? lWhy : "simulated devices cannot be read");
            lResult |= lLoaded;
        }
        for (const std::string &lWarning : lSimulated.mWarnings)
        {
            WarnOfSearch(__FILE__, __LINE__, "simulated devices: " + lWarning);
        }

        std::vector<TnNetworkAdapter *> lAdapters;
        for (const TnNetworkAdapterInfo &lInfo : lAdapterInfos)
        {
            lAdapters.push_back(MakeAdapter(lInfo));
        }
        std::vector<TnUSBHostController *> lControllers;
        std::set<std::string> lControllerNames;
        for (const std::vector<TnUsbHostControllerInfo> *lList : {&lControllerInfos, &lSimulated.mControllers})
        {
            for (const TnUsbHostControllerInfo &lInfo : *lList)
            {
                if (!lControllerNames.insert(lInfo.mName).second)
                {
                    WarnOfSearch(__FILE__, __LINE__,
                                 "simulated devices: a second USB host controller named " + lInfo.mName +
                                     " is left out");
                    continue;
                }
                lControllers.push_back(MakeController(lInfo));
            }
        }
        PlaceSimulatedDevices(lSimulated, lAdapters, lControllers);

        // Devices that need no waiting may already be the one looked for.
        bool lFound = false;
        auto lLookAt = [&lFound, &aIdentifier](const TnInterface *aInterface) {
            for (const TnDeviceInfo *lDevice : aInterface->mDevices)
            {
                lFound = lFound || (!aIdentifier.empty() && MatchesIdentifier(*lDevice, aIdentifier));
            }
        };
        std::for_each(lAdapters.begin(), lAdapters.end(), lLookAt);
        std::for_each(lControllers.begin(), lControllers.end(), lLookAt);
        if (!lFound)
        {
            TnGevDiscoveryOptions lOptions;
            lOptions.mTimeoutMs = lTimeout;
            lOptions.mSubnetBroadcast = lSubnetBroadcast;
            if (!aIdentifier.empty())
            {
                uint32_t lAddress = 0;
                if (tn::gev::ParseIPv4(aIdentifier, lAddress) && lAddress != 0)
                {
                    lOptions.mUnicastAddress = lAddress;
                }
                lOptions.mStopWhen = [&aIdentifier](const TnGevDeviceRecord &aRecord) {
                    const std::unique_ptr<TnDeviceInfoGEV> lDevice(MakeGevDevice(aRecord));
                    return MatchesIdentifier(*lDevice, aIdentifier);
                };
            }
            std::vector<TnGevDeviceRecord> lRecords;
            const TnResult lDiscovered = DiscoverGevDevices(lAdapterInfos, lOptions, lRecords);
            // TN_NOT_FOUND: no adapter was up with an address to search from.
            if (!lDiscovered.IsOK() && lDiscovered.GetCode() != TN_NOT_FOUND)
            {
                lResult |= lDiscovered;
            }
            for (const TnGevDeviceRecord &lRecord : lRecords)
            {
                if (lRecord.mAdapterPosition < lAdapters.size())
                {
                    lAdapters[lRecord.mAdapterPosition]->AddDevice(MakeGevDevice(lRecord));
                }
            }
        }

        // The order the operating system gives: adapters, then controllers.
        std::vector<TnInterface *> lInterfaces(lAdapters.begin(), lAdapters.end());
        lInterfaces.insert(lInterfaces.end(), lControllers.begin(), lControllers.end());
        aDevices = Publish(lInterfaces);
        Notify(aDevices);
        return lResult;
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
    std::vector<const TnDeviceInfo *> lDevices;
    return mState->Search(std::string(), lDevices);
}

TnResult TnSystem::FindDevice(const TnString &aDeviceToFind, const TnDeviceInfo **aDeviceInfo)
{
    if (aDeviceInfo == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no place for the device was given"));
    }
    *aDeviceInfo = nullptr;
    const std::string lIdentifier = tn::ToString(aDeviceToFind);
    if (lIdentifier.empty())
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no device to find was named"));
    }
    std::vector<const TnDeviceInfo *> lDevices;
    const TnResult lResult = mState->Search(lIdentifier, lDevices);
    for (const TnDeviceInfo *lDevice : lDevices)
    {
        if (tn::system::MatchesIdentifier(*lDevice, lIdentifier))
        {
            *aDeviceInfo = lDevice;
            return TnResult(TN_OK);
        }
    }
    std::string lWhy = "no device answers to " + lIdentifier;
    if (!lResult.IsOK())
    {
        lWhy += " (the search failed: " + tn::Describe(lResult) + ")";
    }
    return tn::Failure(TN_NOT_FOUND, lWhy);
}

void TnSystem::SetDetectionTimeout(uint32_t aTimeout)
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    mState->mTimeout = std::min(std::max(aTimeout, kMinimumTimeout), kMaximumTimeout);
}

uint32_t TnSystem::GetDetectionTimeout() const
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return mState->mTimeout;
}

void TnSystem::SetSubnetBroadcastEnabled(bool aEnabled)
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    mState->mSubnetBroadcast = aEnabled;
}

bool TnSystem::GetSubnetBroadcastEnabled() const
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
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
    std::lock_guard<std::recursive_mutex> lLock(mState->mSinkMutex);
    if (std::find(mState->mSinks.begin(), mState->mSinks.end(), aEventSink) != mState->mSinks.end())
    {
        return tn::Failure(tn::kSinkRegisteredTwice, "the event sink is registered already");
    }
    mState->mSinks.push_back(aEventSink);
    return TnResult(TN_OK);
}

TnResult TnSystem::UnregisterEventSink(TnSystemEventSink *aEventSink)
{
    // Waits for a search that is telling its sinks on another thread.
    std::lock_guard<std::recursive_mutex> lLock(mState->mSinkMutex);
    auto lFound = std::find(mState->mSinks.begin(), mState->mSinks.end(), aEventSink);
    if (lFound == mState->mSinks.end())
    {
        return TnResult(TN_NOT_FOUND, TnString("the event sink is not registered"));
    }
    mState->mSinks.erase(lFound);
    return TnResult(TN_OK);
}

uint32_t TnSystem::GetInterfaceCount() const
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return static_cast<uint32_t>(mState->mInterfaces.size());
}

TnInterface *TnSystem::GetInterface(uint32_t aIndex) const
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return aIndex < mState->mInterfaces.size() ? mState->mInterfaces[aIndex] : nullptr;
}

uint32_t TnSystem::GetDeviceCount() const
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return static_cast<uint32_t>(mState->mDevices.size());
}

const TnDeviceInfo *TnSystem::GetDeviceInfo(uint32_t aIndex) const
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return aIndex < mState->mDevices.size() ? mState->mDevices[aIndex] : nullptr;
}

uint32_t TnSystem::DiscoverSessions() const
{
    std::vector<tn::system::SessionAnnouncement> lHeard;
    tn::system::ListenForSessions(GetDetectionTimeout(), lHeard);
    std::lock_guard<std::mutex> lLock(mState->mSessionMutex);
    tn::system::UpdateSessions(mState->mSessions, lHeard, tn::gev::MonotonicMilliseconds());
    return static_cast<uint32_t>(mState->mSessions.size());
}

TnResult TnSystem::GetSessionInfo(uint32_t aIndex, TnSessionInfo &aSessionInfo) const
{
    std::lock_guard<std::mutex> lLock(mState->mSessionMutex);
    if (aIndex >= mState->mSessions.size())
    {
        return TnResult(TN_NOT_FOUND, TnString("no session of that index is announced"));
    }
    const tn::system::SessionAnnouncement &lSession = mState->mSessions[aIndex];
    aSessionInfo.mName = TnString(lSession.mName.c_str());
    aSessionInfo.mAddress = TnString(lSession.mAddress.c_str());
    aSessionInfo.mPort = lSession.mPort;
    aSessionInfo.mLocalAddress = TnString(lSession.mLocalAddress.c_str());
    return TnResult(TN_OK);
}

TnSessionInfo::TnSessionInfo() : mPort(0) {}
