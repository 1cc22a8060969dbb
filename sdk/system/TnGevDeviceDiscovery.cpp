#include <algorithm>

#include "TnGevAddress.h"
#include "TnGvcpDiscovery.h"
#include "TnSystemInternal.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace system
{
namespace
{
struct TargetOrigin
{
    size_t mAdapter;
    uint32_t mSubnetMask;
};

void AddTargets(const std::vector<TnNetworkAdapterInfo> &aAdapters, size_t aPosition, uint32_t aOnlyInSubnetOf,
                std::vector<tn::gev::TnGvcpDiscoveryTarget> &aTargets, std::vector<TargetOrigin> &aOrigins)
{
    const TnNetworkAdapterInfo &lAdapter = aAdapters[aPosition];
    for (const TnAdapterAddress &lAddress : lAdapter.mAddresses)
    {
        if (lAddress.mAddress == 0)
        {
            continue;
        }
        if (aOnlyInSubnetOf != 0 &&
            (lAddress.mSubnetMask == 0 || !tn::gev::SameSubnet(lAddress.mAddress, aOnlyInSubnetOf, lAddress.mSubnetMask)))
        {
            continue;
        }
        tn::gev::TnGvcpDiscoveryTarget lTarget;
        lTarget.mLocalAddress = lAddress.mAddress;
        lTarget.mSubnetMask = lAddress.mSubnetMask;
        lTarget.mInterface = lAdapter.mName;
        aTargets.push_back(lTarget);
        aOrigins.push_back(TargetOrigin{aPosition, lAddress.mSubnetMask});
    }
}
} // namespace

bool TnGevDeviceRecord::IsOnAdapterSubnet() const
{
    return mLocalAddress != 0 && mLocalSubnetMask != 0 &&
           tn::gev::SameSubnet(mLocalAddress, mDevice.mCurrentIP, mLocalSubnetMask);
}

TnResult DiscoverGevDevices(const std::vector<TnNetworkAdapterInfo> &aAdapters, const TnGevDiscoveryOptions &aOptions,
                            std::vector<TnGevDeviceRecord> &aDevices)
{
    aDevices.clear();
    std::vector<size_t> lUsable;
    for (size_t lPosition = 0; lPosition < aAdapters.size(); ++lPosition)
    {
        const TnNetworkAdapterInfo &lAdapter = aAdapters[lPosition];
        if (!lAdapter.mIsUp || lAdapter.mAddresses.empty())
        {
            continue;
        }
        if (!aOptions.mAdapterName.empty() && lAdapter.mName != aOptions.mAdapterName)
        {
            continue;
        }
        lUsable.push_back(lPosition);
    }

    std::vector<tn::gev::TnGvcpDiscoveryTarget> lTargets;
    std::vector<TargetOrigin> lOrigins;
    if (aOptions.mUnicastAddress != 0)
    {
        for (size_t lPosition : lUsable)
        {
            AddTargets(aAdapters, lPosition, aOptions.mUnicastAddress, lTargets, lOrigins);
        }
        if (lTargets.empty())
        {
            // No adapter's subnet holds the address: ask from the address the
            // system routes it through, if that is one of ours.
            const uint32_t lLocal = tn::gev::LocalAddressFor(aOptions.mUnicastAddress);
            for (size_t lPosition : lUsable)
            {
                for (const TnAdapterAddress &lAddress : aAdapters[lPosition].mAddresses)
                {
                    if (lLocal != 0 && lAddress.mAddress == lLocal && lTargets.empty())
                    {
                        tn::gev::TnGvcpDiscoveryTarget lTarget;
                        lTarget.mLocalAddress = lLocal;
                        lTarget.mSubnetMask = lAddress.mSubnetMask;
                        lTarget.mInterface = aAdapters[lPosition].mName;
                        lTargets.push_back(lTarget);
                        lOrigins.push_back(TargetOrigin{lPosition, lAddress.mSubnetMask});
                    }
                }
            }
        }
    }
    else
    {
        for (size_t lPosition : lUsable)
        {
            AddTargets(aAdapters, lPosition, 0, lTargets, lOrigins);
        }
    }
    if (lTargets.empty())
    {
        return TnResult(TN_NOT_FOUND, TnString("GigE Vision discovery: no adapter to search"));
    }

    tn::gev::TnGvcpDiscoverySettings lSettings;
    lSettings.mTimeoutMs = aOptions.mTimeoutMs;
    lSettings.mSubnetBroadcast = aOptions.mSubnetBroadcast;
    lSettings.mUnicastAddress = aOptions.mUnicastAddress;
    lSettings.mPort = aOptions.mPort;
    lSettings.mAnyDeviceAddress = aOptions.mAnyDeviceAddress;
    auto lMakeRecord = [&](const tn::gev::TnGvcpDiscoveryAnswer &aAnswer) {
        TnGevDeviceRecord lRecord;
        const TargetOrigin &lOrigin = lOrigins[aAnswer.mTargetIndex];
        const TnNetworkAdapterInfo &lAdapter = aAdapters[lOrigin.mAdapter];
        lRecord.mDevice = aAnswer.mInfo;
        lRecord.mAdapterName = lAdapter.mName;
        lRecord.mAdapterIndex = lAdapter.mIndex;
        lRecord.mAdapterPosition = lOrigin.mAdapter;
        lRecord.mLocalAddress = aAnswer.mLocalAddress;
        lRecord.mLocalSubnetMask = lOrigin.mSubnetMask;
        lRecord.mAnswerAddress = aAnswer.mSourceAddress;
        lRecord.mAnswerPort = aAnswer.mSourcePort;
        return lRecord;
    };
    if (aOptions.mStopWhen)
    {
        lSettings.mStopWhen = [&](const tn::gev::TnGvcpDiscoveryAnswer &aAnswer) {
            return aOptions.mStopWhen(lMakeRecord(aAnswer));
        };
    }
    std::vector<tn::gev::TnGvcpDiscoveryAnswer> lAnswers;
    TnResult lResult = tn::gev::DiscoverDevices(lTargets, lSettings, lAnswers);
    for (const tn::gev::TnGvcpDiscoveryAnswer &lAnswer : lAnswers)
    {
        aDevices.push_back(lMakeRecord(lAnswer));
    }
    return lResult;
}

std::string FormatIPConfig(uint32_t aBits)
{
    static const struct
    {
        uint32_t mBit;
        const char *mName;
    } kMethods[] = {{tn::gev::kIPConfigLla, "LLA(L)"},
                    {tn::gev::kIPConfigDhcp, "DHCP(D)"},
                    {tn::gev::kIPConfigPersistent, "Persistent_IP(P)"},
                    {tn::gev::kIPConfigPauseReception, "PAUSE_reception(PR)"},
                    {tn::gev::kIPConfigPauseGeneration, "PAUSE_generation(PG)"}};
    std::string lText;
    for (const auto &lMethod : kMethods)
    {
        if ((aBits & lMethod.mBit) != 0)
        {
            if (!lText.empty())
            {
                lText += ", ";
            }
            lText += lMethod.mName;
        }
    }
    return lText;
}
} // namespace system
} // namespace tn
