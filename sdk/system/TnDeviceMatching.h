// Which device an identifier names.
#ifndef TN_DEVICE_MATCHING_H
#define TN_DEVICE_MATCHING_H

#include <string>

#include "TnDeviceInfo.h"

namespace tn
{
namespace system
{
/// Whether a description answers to an identifier: a network device to its
/// MAC address (in any form ParseMac takes) or IP address, a USB3 Vision
/// device to its GUID or USB3 Vision serial number, every device to its
/// user-defined name, serial number, connection or unique identifier. An
/// empty identifier, an all-zero MAC address or 0.0.0.0 names no device.
bool MatchesIdentifier(const TnDeviceInfo &aInfo, const std::string &aIdentifier);
} // namespace system
} // namespace tn

#endif
