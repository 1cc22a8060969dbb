#include "TnGvcpDiscovery.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <utility>

#include "TnGevAddress.h"
#include "TnUdpSocket.h"
#include "TnWait.h"

namespace tn
{
namespace gev
{
namespace
{
constexpr size_t kReceiveCapacity = 2048;
constexpr size_t kDatagramsPerRound = 256;

uint16_t TakeDiscoveryId()
{
    static std::atomic<uint32_t> sCounter(static_cast<uint32_t>(MonotonicMilliseconds()));
    uint16_t lId = 0;
    while (lId == 0)
    {
        lId = static_cast<uint16_t>(sCounter.fetch_add(1));
    }
    return lId;
}

struct OpenTarget
{
    size_t mIndex;
    TnUdpSocket mSocket;
    std::vector<uint32_t> mDestinations;
};

// One key per device: its MAC, or where it answered from when it has none.
std::pair<uint64_t, uint64_t> DeviceKey(const TnGvcpDiscoveryAnswer &aAnswer)
{
    const uint64_t lMac = aAnswer.mInfo.GetMacValue();
    if (lMac != 0)
    {
        return std::make_pair(lMac, 0);
    }
    return std::make_pair(0, (static_cast<uint64_t>(aAnswer.mSourceAddress) << 16) | aAnswer.mSourcePort);
}

// Whether the address an answer claims can be sent commands: a unicast host
// address, on its own subnet and on the target's when it lies there.
bool ClaimsHostAddress(const TnGvcpDiscoveryTarget &aTarget, const TnGvcpDeviceInfo &aInfo)
{
    const uint32_t lAddress = aInfo.mCurrentIP;
    if (NotAHostAddress(lAddress, aInfo.mSubnetMask) != nullptr)
    {
        return false;
    }
    return aTarget.mSubnetMask == 0 || !SameSubnet(aTarget.mLocalAddress, lAddress, aTarget.mSubnetMask) ||
           NotAHostAddress(lAddress, aTarget.mSubnetMask) == nullptr;
}

bool OnTargetSubnet(const TnGvcpDiscoveryTarget &aTarget, uint32_t aDeviceAddress)
{
    return aTarget.mLocalAddress != 0 && aTarget.mSubnetMask != 0 &&
           SameSubnet(aTarget.mLocalAddress, aDeviceAddress, aTarget.mSubnetMask);
}

// Whether the caller's test says the search may end with this answer; a test
// that fails does not end it.
bool StopsSearch(const TnGvcpDiscoverySettings &aSettings, const TnGvcpDiscoveryAnswer &aAnswer)
{
    if (!aSettings.mStopWhen)
    {
        return false;
    }
    try
    {
        return aSettings.mStopWhen(aAnswer);
    }
    catch (...)
    {
        return false;
    }
}

bool SendAll(std::vector<OpenTarget> &aOpen, const std::vector<uint8_t> &aCommand, uint16_t aPort)
{
    bool lAnySent = false;
    for (OpenTarget &lTarget : aOpen)
    {
        for (uint32_t lDestination : lTarget.mDestinations)
        {
            if (lTarget.mSocket.SendTo(lDestination, aPort, aCommand.data(), aCommand.size()).IsOK())
            {
                lAnySent = true;
            }
        }
    }
    return lAnySent;
}
} // namespace

TnResult DiscoverDevices(const std::vector<TnGvcpDiscoveryTarget> &aTargets,
                         const TnGvcpDiscoverySettings &aSettings, std::vector<TnGvcpDiscoveryAnswer> &aAnswers)
{
    aAnswers.clear();
    if (aTargets.empty())
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("discovery: no local address to search from"));
    }
    if (aSettings.mPort == 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("discovery: no port"));
    }

    std::vector<OpenTarget> lOpen;
    TnResult lLastError(TN_NETWORK_ERROR, TnString("discovery: no local address could be used"));
    for (size_t lIndex = 0; lIndex < aTargets.size(); ++lIndex)
    {
        const TnGvcpDiscoveryTarget &lTarget = aTargets[lIndex];
        OpenTarget lEntry;
        lEntry.mIndex = lIndex;
        TnResult lResult = lEntry.mSocket.Open(lTarget.mLocalAddress, 0, lTarget.mInterface);
        if (!lResult.IsOK() && !lTarget.mInterface.empty())
        {
            // Binding to an interface needs privilege; the address alone
            // still picks the interface for broadcasts.
            lResult = lEntry.mSocket.Open(lTarget.mLocalAddress, 0);
        }
        if (!lResult.IsOK())
        {
            lLastError = lResult;
            continue;
        }
        if (aSettings.mUnicastAddress != 0)
        {
            lEntry.mDestinations.push_back(aSettings.mUnicastAddress);
            if (aSettings.mUnicastAddress == 0xFFFFFFFFu)
            {
                lEntry.mSocket.SetBroadcast(true);
            }
        }
        else
        {
            lEntry.mSocket.SetBroadcast(true);
            if (aSettings.mLimitedBroadcast)
            {
                lEntry.mDestinations.push_back(0xFFFFFFFFu);
            }
            if (aSettings.mSubnetBroadcast && lTarget.mLocalAddress != 0 && lTarget.mSubnetMask != 0 &&
                lTarget.mSubnetMask != 0xFFFFFFFFu)
            {
                const uint32_t lDirected = SubnetBroadcast(lTarget.mLocalAddress, lTarget.mSubnetMask);
                if (lDirected != 0xFFFFFFFFu || !aSettings.mLimitedBroadcast)
                {
                    lEntry.mDestinations.push_back(lDirected);
                }
            }
        }
        if (!lEntry.mDestinations.empty())
        {
            lOpen.push_back(std::move(lEntry));
        }
    }
    if (lOpen.empty())
    {
        return lLastError;
    }

    const uint16_t lRequestId = TakeDiscoveryId();
    const std::vector<uint8_t> lCommand = BuildDiscoveryCmd(lRequestId, aSettings.mAllowBroadcastAck);
    const uint32_t lTimeout = std::min<uint32_t>(aSettings.mTimeoutMs, 60000);
    const uint32_t lSendCount = std::max<uint32_t>(1, std::min<uint32_t>(aSettings.mSendCount, 10));
    const uint64_t lStart = MonotonicMilliseconds();
    const uint64_t lDeadline = lStart + lTimeout;
    if (!SendAll(lOpen, lCommand, aSettings.mPort))
    {
        return TnResult(TN_NETWORK_ERROR, TnString("discovery: the command could not be sent"));
    }
    uint32_t lSent = 1;

    std::map<std::pair<uint64_t, uint64_t>, size_t> lKnown;
    std::vector<pollfd> lPolls(lOpen.size());
    std::vector<uint8_t> lBuffer(kReceiveCapacity);
    for (;;)
    {
        const uint64_t lNow = MonotonicMilliseconds();
        if (lNow >= lDeadline)
        {
            break;
        }
        uint64_t lWakeUp = lDeadline;
        if (lSent < lSendCount)
        {
            const uint64_t lNextSend = lStart + (lTimeout / 2) * lSent / (lSendCount - 1 > 0 ? lSendCount - 1 : 1);
            if (lNow >= lNextSend)
            {
                SendAll(lOpen, lCommand, aSettings.mPort);
                ++lSent;
                continue;
            }
            lWakeUp = std::min(lWakeUp, lNextSend);
        }
        for (size_t lIndex = 0; lIndex < lOpen.size(); ++lIndex)
        {
            lPolls[lIndex].fd = lOpen[lIndex].mSocket.GetHandle();
            lPolls[lIndex].events = POLLIN;
            lPolls[lIndex].revents = 0;
        }
        const int lWait = static_cast<int>(std::min<uint64_t>(lWakeUp - lNow, 1000));
        const int lReady = Poll(lPolls.data(), lPolls.size(), lWait);
        if (Interrupted())
        {
            return TnResult(TN_ABORTED, TnString("discovery: interrupted"));
        }
        if (lReady <= 0)
        {
            continue;
        }
        for (size_t lIndex = 0; lIndex < lOpen.size(); ++lIndex)
        {
            if ((lPolls[lIndex].revents & (POLLIN | POLLERR)) == 0)
            {
                continue;
            }
            const bool lGoOn = lOpen[lIndex].mSocket.ReceiveWaiting(
                lBuffer.data(), lBuffer.size(), kDatagramsPerRound,
                [&](const uint8_t *aData, size_t aSize, uint32_t aFrom, uint16_t aFromPort) {
                    TnGvcpAck lAck;
                    TnGvcpDiscoveryAnswer lAnswer;
                    if (!DecodeAck(aData, aSize, lAck) || lAck.mHeader.mAckId != lRequestId ||
                        lAck.mHeader.mStatus != kGvcpStatusSuccess || !DecodeDiscoveryAck(lAck, lAnswer.mInfo))
                    {
                        return true;
                    }
                    const size_t lTargetIndex = lOpen[lIndex].mIndex;
                    if (!aSettings.mAnyDeviceAddress && !ClaimsHostAddress(aTargets[lTargetIndex], lAnswer.mInfo))
                    {
                        return true;
                    }
                    lAnswer.mTargetIndex = lTargetIndex;
                    lAnswer.mLocalAddress = lOpen[lIndex].mSocket.GetLocalAddress();
                    lAnswer.mSourceAddress = aFrom;
                    lAnswer.mSourcePort = aFromPort;
                    const std::pair<uint64_t, uint64_t> lKey = DeviceKey(lAnswer);
                    auto lFound = lKnown.find(lKey);
                    if (lFound != lKnown.end())
                    {
                        TnGvcpDiscoveryAnswer &lEarlier = aAnswers[lFound->second];
                        if (lEarlier.mTargetIndex != lTargetIndex &&
                            !OnTargetSubnet(aTargets[lEarlier.mTargetIndex], lEarlier.mInfo.mCurrentIP) &&
                            OnTargetSubnet(aTargets[lTargetIndex], lAnswer.mInfo.mCurrentIP))
                        {
                            lEarlier = lAnswer;
                        }
                        return true;
                    }
                    lKnown.emplace(lKey, aAnswers.size());
                    aAnswers.push_back(lAnswer);
                    return !StopsSearch(aSettings, aAnswers.back());
                });
            if (!lGoOn)
            {
                return TnResult(TN_OK);
            }
        }
    }
    return TnResult(TN_OK);
}
} // namespace gev
} // namespace tn
