// Plain records of discovery: an announced multicast session and an IP
// configuration.
#ifndef TN_SESSION_INFO_H
#define TN_SESSION_INFO_H

#include <stdint.h>

#include <string>

#include "TnExport.h"
#include "TnString.h"

/// A multicast session announced with SAP.
struct TN_SYSTEM_API TnSessionInfo
{
    /// The session's name as announced.
    TnString mName;
    /// The session's connection address.
    TnString mAddress;
    /// The session's port.
    uint16_t mPort;
    /// The local address the announcement was received on.
    TnString mLocalAddress;

    /// Empty strings and port 0.
    TnSessionInfo();
};

namespace TnSystemLib
{
/// An IP address and its subnet mask, as text.
struct TN_SYSTEM_API IPConfig
{
    std::string mIPAddress;
    std::string mSubnetMask;
};
} // namespace TnSystemLib

#endif
