#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/if_packet.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "TnSystemInternal.h"
#include "TnSystemText.h"

namespace tn
{
namespace system
{
namespace
{
// The interface an address label ("eth0:1") belongs to.
std::string BaseInterfaceName(const char *aLabel)
{
    std::string lName(aLabel);
    const size_t lColon = lName.find(':');
    if (lColon != std::string::npos)
    {
        lName.erase(lColon);
    }
    return lName;
}

uint32_t AddressOf(const sockaddr *aAddress)
{
    if (aAddress == nullptr || aAddress->sa_family != AF_INET)
    {
        return 0;
    }
    return ntohl(reinterpret_cast<const sockaddr_in *>(aAddress)->sin_addr.s_addr);
}

// Driver name that ethtool reports; works for virtual interfaces too.
std::string EthtoolDriver(int aSocket, const std::string &aName)
{
    if (aSocket < 0 || aName.size() >= IFNAMSIZ)
    {
        return std::string();
    }
    ethtool_drvinfo lInfo;
    memset(&lInfo, 0, sizeof(lInfo));
    lInfo.cmd = ETHTOOL_GDRVINFO;
    ifreq lRequest;
    memset(&lRequest, 0, sizeof(lRequest));
    memcpy(lRequest.ifr_name, aName.c_str(), aName.size());
    lRequest.ifr_data = reinterpret_cast<char *>(&lInfo);
    if (ioctl(aSocket, SIOCETHTOOL, &lRequest) != 0)
    {
        return std::string();
    }
    lInfo.driver[sizeof(lInfo.driver) - 1] = 0;
    return lInfo.driver;
}

void FillFromIoctl(int aSocket, TnNetworkAdapterInfo &aAdapter)
{
    if (aSocket < 0 || aAdapter.mName.size() >= IFNAMSIZ)
    {
        return;
    }
    ifreq lRequest;
    memset(&lRequest, 0, sizeof(lRequest));
    memcpy(lRequest.ifr_name, aAdapter.mName.c_str(), aAdapter.mName.size());
    if (!aAdapter.mHasMac && ioctl(aSocket, SIOCGIFHWADDR, &lRequest) == 0 &&
        (lRequest.ifr_hwaddr.sa_family == ARPHRD_ETHER || lRequest.ifr_hwaddr.sa_family == ARPHRD_LOOPBACK))
    {
        memcpy(aAdapter.mMac, lRequest.ifr_hwaddr.sa_data, 6);
        aAdapter.mHasMac = true;
    }
    memset(&lRequest.ifr_ifru, 0, sizeof(lRequest.ifr_ifru));
    if (ioctl(aSocket, SIOCGIFMTU, &lRequest) == 0 && lRequest.ifr_mtu > 0)
    {
        aAdapter.mMtu = static_cast<uint32_t>(lRequest.ifr_mtu);
    }
}

std::string Describe(const TnNetworkAdapterInfo &aAdapter)
{
    if (aAdapter.mIsLoopback)
    {
        return "Loopback adapter (" + aAdapter.mName + ")";
    }
    if (!aAdapter.mDriver.empty())
    {
        return aAdapter.mDriver + " network adapter (" + aAdapter.mName + ")";
    }
    return "Network adapter (" + aAdapter.mName + ")";
}
} // namespace

std::map<std::string, uint32_t> ParseDefaultGateways(const std::string &aRouteTable)
{
    constexpr unsigned long kRouteUp = 0x0001;
    constexpr unsigned long kRouteGateway = 0x0002;
    std::map<std::string, uint32_t> lGateways;
    std::map<std::string, unsigned long> lMetrics;
    std::istringstream lLines(aRouteTable);
    std::string lLine;
    bool lHeader = true;
    while (std::getline(lLines, lLine))
    {
        if (lHeader)
        {
            lHeader = false;
            continue;
        }
        std::istringstream lFields(lLine);
        std::string lName;
        std::string lDestination;
        std::string lGateway;
        std::string lFlags;
        std::string lRefCount;
        std::string lUse;
        std::string lMetric;
        std::string lMask;
        if (!(lFields >> lName >> lDestination >> lGateway >> lFlags >> lRefCount >> lUse >> lMetric >> lMask))
        {
            continue;
        }
        unsigned long lDestinationValue = 0;
        unsigned long lGatewayValue = 0;
        unsigned long lFlagsValue = 0;
        unsigned long lMetricValue = 0;
        unsigned long lMaskValue = 0;
        if (!ParseUnsigned(lDestination, 16, lDestinationValue) || !ParseUnsigned(lGateway, 16, lGatewayValue) ||
            !ParseUnsigned(lFlags, 16, lFlagsValue) || !ParseUnsigned(lMetric, 10, lMetricValue) ||
            !ParseUnsigned(lMask, 16, lMaskValue) || lGatewayValue > 0xFFFFFFFFul)
        {
            continue;
        }
        if (lDestinationValue != 0 || lMaskValue != 0 || (lFlagsValue & kRouteUp) == 0 ||
            (lFlagsValue & kRouteGateway) == 0)
        {
            continue;
        }
        // The table prints each address as the in-memory value of its
        // network-order bytes.
        const uint32_t lAddress = ntohl(static_cast<uint32_t>(lGatewayValue));
        auto lKnown = lMetrics.find(lName);
        if (lKnown == lMetrics.end() || lMetricValue < lKnown->second)
        {
            lMetrics[lName] = lMetricValue;
            lGateways[lName] = lAddress;
        }
    }
    return lGateways;
}

TnResult ListNetworkAdapters(std::vector<TnNetworkAdapterInfo> &aAdapters)
{
    aAdapters.clear();
    ifaddrs *lList = nullptr;
    if (getifaddrs(&lList) != 0)
    {
        const int lError = errno;
        return TnResult(TN_NETWORK_ERROR, static_cast<uint32_t>(lError),
                        TnString((std::string("getifaddrs: ") + strerror(lError)).c_str()));
    }
    std::map<std::string, size_t> lByName;
    for (const ifaddrs *lEntry = lList; lEntry != nullptr; lEntry = lEntry->ifa_next)
    {
        if (lEntry->ifa_name == nullptr)
        {
            continue;
        }
        const std::string lName = BaseInterfaceName(lEntry->ifa_name);
        auto lFound = lByName.find(lName);
        if (lFound == lByName.end())
        {
            lFound = lByName.emplace(lName, aAdapters.size()).first;
            aAdapters.push_back(TnNetworkAdapterInfo());
            aAdapters.back().mName = lName;
        }
        TnNetworkAdapterInfo &lAdapter = aAdapters[lFound->second];
        if (lName == lEntry->ifa_name)
        {
            lAdapter.mIsUp = (lEntry->ifa_flags & IFF_UP) != 0;
            lAdapter.mIsRunning = (lEntry->ifa_flags & IFF_RUNNING) != 0;
            lAdapter.mIsLoopback = (lEntry->ifa_flags & IFF_LOOPBACK) != 0;
        }
        if (lEntry->ifa_addr == nullptr)
        {
            continue;
        }
        if (lEntry->ifa_addr->sa_family == AF_INET)
        {
            TnAdapterAddress lAddress;
            lAddress.mAddress = AddressOf(lEntry->ifa_addr);
            lAddress.mSubnetMask = AddressOf(lEntry->ifa_netmask);
            lAdapter.mAddresses.push_back(lAddress);
        }
        else if (lEntry->ifa_addr->sa_family == AF_PACKET)
        {
            const sockaddr_ll *lLink = reinterpret_cast<const sockaddr_ll *>(lEntry->ifa_addr);
            if (lLink->sll_ifindex > 0)
            {
                lAdapter.mIndex = static_cast<uint32_t>(lLink->sll_ifindex);
            }
            if (lLink->sll_halen == 6)
            {
                memcpy(lAdapter.mMac, lLink->sll_addr, 6);
                lAdapter.mHasMac = true;
            }
        }
    }
    freeifaddrs(lList);

    const int lSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const std::map<std::string, uint32_t> lGateways = ParseDefaultGateways(ReadTextFile("/proc/net/route", 1 << 20));
    for (TnNetworkAdapterInfo &lAdapter : aAdapters)
    {
        if (lAdapter.mIndex == 0)
        {
            lAdapter.mIndex = if_nametoindex(lAdapter.mName.c_str());
        }
        FillFromIoctl(lSocket, lAdapter);
        if (lAdapter.mIsLoopback && !lAdapter.mHasMac)
        {
            lAdapter.mHasMac = true; // all zeros
        }
        lAdapter.mDriver = LinkBaseName("/sys/class/net/" + lAdapter.mName + "/device/driver");
        if (lAdapter.mDriver.empty())
        {
            lAdapter.mDriver = EthtoolDriver(lSocket, lAdapter.mName);
        }
        lAdapter.mDescription = Describe(lAdapter);
        auto lGateway = lGateways.find(lAdapter.mName);
        if (lGateway != lGateways.end())
        {
            lAdapter.mDefaultGateway = lGateway->second;
        }
    }
    if (lSocket >= 0)
    {
        ::close(lSocket);
    }
    std::stable_sort(aAdapters.begin(), aAdapters.end(),
                     [](const TnNetworkAdapterInfo &aFirst, const TnNetworkAdapterInfo &aSecond) {
                         return aFirst.mIndex < aSecond.mIndex;
                     });
    return TnResult(TN_OK);
}
} // namespace system
} // namespace tn
