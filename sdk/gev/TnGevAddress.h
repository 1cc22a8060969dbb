// Text forms of IPv4 and MAC addresses. IPv4 addresses are host-order uint32_t
// (127.0.0.1 is 0x7F000001); MAC addresses are the low 48 bits of a uint64_t.
#ifndef TN_GEV_ADDRESS_H
#define TN_GEV_ADDRESS_H

#include <stdint.h>

#include <string>

#include "TnGevExport.h"

namespace tn
{
namespace gev
{
/// "a.b.c.d".
TN_GEV_API std::string FormatIPv4(uint32_t aAddress);

/// Strict dotted decimal: four parts of one to three digits, each 0 to 255,
/// nothing before or after. False (aAddress unchanged) otherwise.
TN_GEV_API bool ParseIPv4(const std::string &aText, uint32_t &aAddress);

/// "aa:bb:cc:dd:ee:ff", lowercase.
TN_GEV_API std::string FormatMac(uint64_t aMac);

/// "AA.BB.CC.DD.EE.FF", uppercase with periods (the form network adapters show).
TN_GEV_API std::string FormatMacDotted(uint64_t aMac);

/// Six two-digit hexadecimal bytes separated by ':', '-' or '.' (one separator
/// kind throughout), or twelve hexadecimal digits; either case.
TN_GEV_API bool ParseMac(const std::string &aText, uint64_t &aMac);

/// The MAC address of six bytes, first byte most significant.
TN_GEV_API uint64_t MacFromBytes(const uint8_t *aBytes);

/// The directed broadcast address of a subnet.
inline uint32_t SubnetBroadcast(uint32_t aAddress, uint32_t aMask)
{
    return aAddress | ~aMask;
}

/// Why aAddress cannot be one device's address: "unspecified" (0.0.0.0/8),
/// "multicast" (224.0.0.0/4), "reserved" (240.0.0.0/4, with the limited
/// broadcast 255.255.255.255), and with a contiguous aMask shorter than /31
/// "broadcast" or "network" for the subnet's directed broadcast or network
/// address; nullptr for a unicast host address. A zero or non-contiguous
/// mask is not used.
TN_GEV_API const char *NotAHostAddress(uint32_t aAddress, uint32_t aMask = 0);

/// Whether two addresses lie in the same subnet of aMask.
inline bool SameSubnet(uint32_t aFirst, uint32_t aSecond, uint32_t aMask)
{
    return (aFirst & aMask) == (aSecond & aMask);
}
} // namespace gev
} // namespace tn

#endif
