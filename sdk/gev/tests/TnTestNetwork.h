// Test helper: moves the test process into a network namespace of its own,
// with only the loopback interface, up. Nothing a test sends there can reach
// the host's real network.
#ifndef TN_TEST_NETWORK_H
#define TN_TEST_NETWORK_H

#include <errno.h>
#include <net/if.h>
#include <sched.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace tn
{
namespace test
{
/// True once the process is in a fresh namespace with loopback up; false
/// (with the reason) when the system does not allow it.
inline bool EnterPrivateNetwork(std::string *aWhy = nullptr)
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
} // namespace test
} // namespace tn

#endif
