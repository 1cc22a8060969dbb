// Session discovery: multicast sessions announced with SAP (RFC 2974), whose
// payload is an SDP description (RFC 4566).
#ifndef TN_SESSION_DISCOVERY_H
#define TN_SESSION_DISCOVERY_H

#include <stdint.h>

#include <string>
#include <vector>

namespace tn
{
namespace system
{
constexpr uint32_t kSapGroup = 0xE0027FFE; // 224.2.127.254
constexpr uint16_t kSapPort = 9875;

struct SessionAnnouncement
{
    std::string mName;         // the SDP "s=" line
    std::string mAddress;      // the SDP "c=" connection address
    uint16_t mPort = 0;        // the first SDP "m=" line's port
    std::string mLocalAddress; // the local address the announcement came to
    uint32_t mSource = 0;      // originating source, with mHash the session's identity
    uint16_t mHash = 0;
    bool mDeletion = false;
};

/// Decodes one SAP packet; false for anything that is not a well-formed
/// IPv4 announcement or deletion carrying SDP.
bool DecodeSapPacket(const uint8_t *aData, size_t aSize, SessionAnnouncement &aAnnouncement);

/// Listens on every IPv4 adapter for aTimeoutMs and returns the sessions
/// announced and not deleted meanwhile, one entry per session.
void ListenForSessions(uint32_t aTimeoutMs, std::vector<SessionAnnouncement> &aSessions);
} // namespace system
} // namespace tn

#endif
