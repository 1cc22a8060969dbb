// Finding devices with the discovery command.
#ifndef TN_GVCP_DISCOVERY_H
#define TN_GVCP_DISCOVERY_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "TnGevExport.h"
#include "TnGvcp.h"
#include "TnResult.h"

namespace tn
{
namespace gev
{
/// One local address to search from.
struct TnGvcpDiscoveryTarget
{
    uint32_t mLocalAddress = 0; // the address to send from and hear answers on (0: any)
    uint32_t mSubnetMask = 0;   // its subnet, for the subnet-directed broadcast
    std::string mInterface;     // when set, also bind to this interface if the system lets us
};

/// A device's answer, with where it came in.
struct TnGvcpDiscoveryAnswer
{
    TnGvcpDeviceInfo mInfo;
    size_t mTargetIndex = 0;    // index into the targets of the search
    uint32_t mLocalAddress = 0; // the local address the answer came to
    uint32_t mSourceAddress = 0;
    uint16_t mSourcePort = 0;
};

struct TnGvcpDiscoverySettings
{
    uint32_t mTimeoutMs = 1500;    // how long to collect answers (at most 60000)
    bool mLimitedBroadcast = true; // ask 255.255.255.255
    bool mSubnetBroadcast = false; // also ask each target's subnet broadcast address
    uint32_t mUnicastAddress = 0;  // when set, ask only this address
    uint16_t mPort = kGvcpPort;
    bool mAllowBroadcastAck = false; // answers sent by broadcast reach only targets bound to any address
    uint32_t mSendCount = 1; // times the command is sent, spread over the first half of the timeout
    /// Whether answers that claim no unicast host address (multicast,
    /// broadcast, unspecified, reserved: see NotAHostAddress) are kept, for
    /// giving such a device an address; they are ignored otherwise.
    bool mAnyDeviceAddress = false;
    /// Called for each new answer; returning true ends the search at once.
    std::function<bool(const TnGvcpDiscoveryAnswer &)> mStopWhen;
};

/// Sends the discovery command from every target and collects the answers
/// until the timeout. Answers are checked (acknowledgement code, id, status,
/// size) and de-duplicated: one entry per device MAC address, or per answering
/// address and port for devices that announce no MAC (all zeros). When one
/// device answers on several targets, the target whose subnet holds the
/// device's address is kept. An answer whose device address is no unicast
/// host address, by its own subnet mask or by that of the target it came to,
/// is ignored unless mAnyDeviceAddress is set. TN_OK when at least one target could send (even
/// if nobody answered); TN_NETWORK_ERROR when none could.
TN_GEV_API TnResult DiscoverDevices(const std::vector<TnGvcpDiscoveryTarget> &aTargets,
                                    const TnGvcpDiscoverySettings &aSettings,
                                    std::vector<TnGvcpDiscoveryAnswer> &aAnswers);
} // namespace gev
} // namespace tn

#endif
