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
    uint64_t mHeardAt = 0; // monotonic milliseconds
};

/// How long a session stays announced without being heard again: SAP repeats
/// announcements every few minutes and lets a session lapse after an hour.
constexpr uint64_t kSessionLifetimeMs = 60 * 60 * 1000;

/// Decodes one SAP packet; false for anything that is not a well-formed
/// IPv4 announcement or deletion carrying SDP.
bool DecodeSapPacket(const uint8_t *aData, size_t aSize, SessionAnnouncement &aAnnouncement);

/// Whether two packets speak of the same session: same origin and message
/// hash, and, for packets without a hash, the same description.
bool SameSession(const SessionAnnouncement &aFirst, const SessionAnnouncement &aSecond);

/// Listens on every IPv4 adapter for aTimeoutMs and returns the packets heard
/// (announcements and deletions), in the order they came.
void ListenForSessions(uint32_t aTimeoutMs, std::vector<SessionAnnouncement> &aHeard);

/// Applies heard packets to the sessions known: an announcement adds its
/// session or refreshes it, a deletion removes it; then sessions not heard
/// within kSessionLifetimeMs before aNow lapse.
void UpdateSessions(std::vector<SessionAnnouncement> &aSessions, const std::vector<SessionAnnouncement> &aHeard,
                    uint64_t aNow);
} // namespace system
} // namespace tn

#endif
