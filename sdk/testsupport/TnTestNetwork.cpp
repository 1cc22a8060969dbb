#include "TnTestNetwork.h"

#include <errno.h>
#include <net/if.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "TnPacketRing.h"

namespace tn
{
namespace test
{
bool EnterPrivateNetwork(std::string *aWhy)
{
    if (unshare(CLONE_NEWNET) != 0)
    {
        if (aWhy != nullptr)
        {
            *aWhy = std::string("cannot create a network namespace: ") + strerror(errno);
        }
        return false;
    }
    const int lSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq lRequest;
    memset(&lRequest, 0, sizeof(lRequest));
    strcpy(lRequest.ifr_name, "lo");
    bool lUp = lSocket >= 0 && ioctl(lSocket, SIOCGIFFLAGS, &lRequest) == 0;
    if (lUp)
    {
        lRequest.ifr_flags = static_cast<short>(lRequest.ifr_flags | IFF_UP);
        lUp = ioctl(lSocket, SIOCSIFFLAGS, &lRequest) == 0;
    }
    if (!lUp && aWhy != nullptr)
    {
        *aWhy = std::string("cannot bring the loopback interface up: ") + strerror(errno);
    }
    if (lSocket >= 0)
    {
        close(lSocket);
    }
    return lUp;
}

namespace
{
// Runs interface requests on the loopback interface: aRequests(socket,
// request) with the request's name filled in.
template <typename Requests>
bool ChangeLoopback(Requests aRequests)
{
    const int lSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (lSocket < 0)
    {
        return false;
    }
    ifreq lRequest;
    memset(&lRequest, 0, sizeof(lRequest));
    strcpy(lRequest.ifr_name, "lo");
    const bool lDone = aRequests(lSocket, lRequest);
    close(lSocket);
    return lDone;
}
} // namespace

bool EnableLoopbackMulticast()
{
    return ChangeLoopback([](int aSocket, ifreq &aRequest) {
        if (ioctl(aSocket, SIOCGIFFLAGS, &aRequest) != 0)
        {
            return false;
        }
        aRequest.ifr_flags = static_cast<short>(aRequest.ifr_flags | IFF_MULTICAST);
        return ioctl(aSocket, SIOCSIFFLAGS, &aRequest) == 0;
    });
}

bool SetLoopbackMtu(int aMtu)
{
    return ChangeLoopback([aMtu](int aSocket, ifreq &aRequest) {
        aRequest.ifr_mtu = aMtu;
        return ioctl(aSocket, SIOCSIFMTU, &aRequest) == 0;
    });
}

bool HavePacketRing(std::string *aWhy)
{
    if (tn::gev::CanOpenPacketRing(0x7F000001))
    {
        return true;
    }
    if (aWhy != nullptr)
    {
        *aWhy = "no packet ring can be opened on the loopback interface (it needs CAP_NET_RAW)";
    }
    return false;
}

bool UnderCI()
{
    const char *lCi = getenv("CI");
    return lCi != nullptr && strcasecmp(lCi, "true") == 0; // as the Python tests read it
}

bool UsePrivateNetwork(std::string *aWhy)
{
    static std::string sWhy;
    static const bool kEntered = EnterPrivateNetwork(&sWhy);
    if (aWhy != nullptr)
    {
        *aWhy = sWhy;
    }
    return kEntered;
}

void PrivateNetworkEnvironment::SetUp()
{
    UsePrivateNetwork();
}

void PrivateNetworkTest::SetUp()
{
    std::string lWhy;
    if (!UsePrivateNetwork(&lWhy))
    {
        GTEST_SKIP() << lWhy;
    }
}

void FreshNetworkTest::SetUp()
{
    std::string lWhy;
    if (!EnterPrivateNetwork(&lWhy))
    {
        GTEST_SKIP() << lWhy;
    }
}
} // namespace test
} // namespace tn
