#include "TnSessionDiscovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "TnGevAddress.h"
#include "TnSystemInternal.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace system
{
namespace
{
// Fills the name, address and port from an SDP description.
void ParseSdp(const std::string &aText, SessionAnnouncement &aAnnouncement)
{
    std::istringstream lines(aText);
    std::string line;
    bool havePort = false;
    while (std::getline(lines, line))
    {
        if (!line.empty() && line.back() == '\r')
        {
            line.pop_back();
        }
        if (line.compare(0, 2, "s=") == 0)
        {
            aAnnouncement.mName = line.substr(2);
        }
        else if (line.compare(0, 9, "c=IN IP4 ") == 0 && aAnnouncement.mAddress.empty())
        {
            std::string address = line.substr(9);
            aAnnouncement.mAddress = address.substr(0, address.find('/'));
        }
        else if (line.compare(0, 2, "m=") == 0 && !havePort)
        {
            std::istringstream media(line.substr(2));
            std::string kind;
            unsigned long port = 0;
            if (media >> kind >> port && port <= 65535)
            {
                aAnnouncement.mPort = static_cast<uint16_t>(port);
                havePort = true;
            }
        }
    }
}
} // namespace

bool DecodeSapPacket(const uint8_t *aData, size_t aSize, SessionAnnouncement &aAnnouncement)
{
    if (aData == nullptr || aSize < 8)
    {
        return false;
    }
    const uint8_t flags = aData[0];
    const unsigned version = flags >> 5;
    const bool ipv6 = (flags & 0x10) != 0;
    const bool encrypted = (flags & 0x02) != 0;
    const bool compressed = (flags & 0x01) != 0;
    if (version != 1 || ipv6 || encrypted || compressed)
    {
        return false;
    }
    const size_t authenticationLength = static_cast<size_t>(aData[1]) * 4;
    size_t offset = 8 + authenticationLength;
    if (offset > aSize)
    {
        return false;
    }
    aAnnouncement = SessionAnnouncement();
    aAnnouncement.mDeletion = (flags & 0x04) != 0;
    aAnnouncement.mHash = static_cast<uint16_t>((aData[2] << 8) | aData[3]);
    aAnnouncement.mSource = (static_cast<uint32_t>(aData[4]) << 24) | (aData[5] << 16) | (aData[6] << 8) | aData[7];
    std::string payload(reinterpret_cast<const char *>(aData + offset), aSize - offset);
    // An optional payload type ends with a null byte; SDP itself starts "v=".
    if (payload.compare(0, 2, "v=") != 0)
    {
        const size_t end = payload.find('\0');
        if (end == std::string::npos || payload.compare(0, end, "application/sdp") != 0)
        {
            return false;
        }
        payload.erase(0, end + 1);
    }
    ParseSdp(payload, aAnnouncement);
    return !aAnnouncement.mName.empty() || aAnnouncement.mDeletion;
}

bool SameSession(const SessionAnnouncement &aFirst, const SessionAnnouncement &aSecond)
{
    if (aFirst.mSource != aSecond.mSource || aFirst.mHash != aSecond.mHash)
    {
        return false;
    }
    return aFirst.mHash != 0 || (aFirst.mName == aSecond.mName && aFirst.mAddress == aSecond.mAddress &&
                                 aFirst.mPort == aSecond.mPort);
}

void UpdateSessions(std::vector<SessionAnnouncement> &aSessions, const std::vector<SessionAnnouncement> &aHeard,
                    uint64_t aNow)
{
    for (const SessionAnnouncement &packet : aHeard)
    {
        auto known = std::find_if(aSessions.begin(), aSessions.end(),
                                  [&packet](const SessionAnnouncement &aKnown) { return SameSession(aKnown, packet); });
        if (packet.mDeletion)
        {
            if (known != aSessions.end())
            {
                aSessions.erase(known);
            }
        }
        else if (known != aSessions.end())
        {
            *known = packet;
        }
        else
        {
            aSessions.push_back(packet);
        }
    }
    aSessions.erase(std::remove_if(aSessions.begin(), aSessions.end(),
                                   [aNow](const SessionAnnouncement &aKnown) {
                                       return aKnown.mHeardAt + kSessionLifetimeMs < aNow;
                                   }),
                    aSessions.end());
}

void ListenForSessions(uint32_t aTimeoutMs, std::vector<SessionAnnouncement> &aHeard)
{
    aHeard.clear();
    const int handle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (handle < 0)
    {
        return;
    }
    const int yes = 1;
    setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    setsockopt(handle, IPPROTO_IP, IP_PKTINFO, &yes, sizeof(yes));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kSapPort);
    local.sin_addr.s_addr = htonl(kSapGroup);
    if (bind(handle, reinterpret_cast<sockaddr *>(&local), sizeof(local)) != 0)
    {
        close(handle);
        return;
    }
    std::vector<TnNetworkAdapterInfo> adapters;
    ListNetworkAdapters(adapters);
    for (const TnNetworkAdapterInfo &adapter : adapters)
    {
        ip_mreqn membership{};
        membership.imr_multiaddr.s_addr = htonl(kSapGroup);
        membership.imr_ifindex = static_cast<int>(adapter.mIndex);
        setsockopt(handle, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership));
    }
    const uint64_t deadline = tn::gev::MonotonicMilliseconds() + aTimeoutMs;
    std::vector<uint8_t> packet(65536);
    for (;;)
    {
        const uint64_t now = tn::gev::MonotonicMilliseconds();
        if (now >= deadline)
        {
            break;
        }
        pollfd waiting{handle, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(std::min<uint64_t>(deadline - now, 1000))) <= 0)
        {
            continue;
        }
        char control[256];
        iovec vector{packet.data(), packet.size()};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        const ssize_t received = recvmsg(handle, &message, 0);
        SessionAnnouncement announcement;
        if (received <= 0 || !DecodeSapPacket(packet.data(), static_cast<size_t>(received), announcement))
        {
            continue;
        }
        for (cmsghdr *header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header))
        {
            if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO)
            {
                in_pktinfo info;
                memcpy(&info, CMSG_DATA(header), sizeof(info));
                announcement.mLocalAddress = tn::gev::FormatIPv4(ntohl(info.ipi_spec_dst.s_addr));
            }
        }
        announcement.mHeardAt = tn::gev::MonotonicMilliseconds();
        aHeard.push_back(announcement);
    }
    close(handle);
}
} // namespace system
} // namespace tn
