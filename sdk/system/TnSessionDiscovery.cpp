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
#include "TnWait.h"

namespace tn
{
namespace system
{
namespace
{
// Fills the name, address and port from an SDP description.
void ParseSdp(const std::string &aText, SessionAnnouncement &aAnnouncement)
{
    std::istringstream lLines(aText);
    std::string lLine;
    bool lHavePort = false;
    while (std::getline(lLines, lLine))
    {
        if (!lLine.empty() && lLine.back() == '\r')
        {
            lLine.pop_back();
        }
        if (lLine.compare(0, 2, "s=") == 0)
        {
            aAnnouncement.mName = lLine.substr(2);
        }
        else if (lLine.compare(0, 9, "c=IN IP4 ") == 0 && aAnnouncement.mAddress.empty())
        {
            std::string lAddress = lLine.substr(9);
            aAnnouncement.mAddress = lAddress.substr(0, lAddress.find('/'));
        }
        else if (lLine.compare(0, 2, "m=") == 0 && !lHavePort)
        {
            std::istringstream lMedia(lLine.substr(2));
            std::string lKind;
            unsigned long lPort = 0;
            if (lMedia >> lKind >> lPort && lPort <= 65535)
            {
                aAnnouncement.mPort = static_cast<uint16_t>(lPort);
                lHavePort = true;
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
    const uint8_t lFlags = aData[0];
    const unsigned lVersion = lFlags >> 5;
    const bool lIpv6 = (lFlags & 0x10) != 0;
    const bool lEncrypted = (lFlags & 0x02) != 0;
    const bool lCompressed = (lFlags & 0x01) != 0;
    if (lVersion != 1 || lIpv6 || lEncrypted || lCompressed)
    {
        return false;
    }
    const size_t lAuthenticationLength = static_cast<size_t>(aData[1]) * 4;
    size_t lOffset = 8 + lAuthenticationLength;
    if (lOffset > aSize)
    {
        return false;
    }
    aAnnouncement = SessionAnnouncement();
    aAnnouncement.mDeletion = (lFlags & 0x04) != 0;
    aAnnouncement.mHash = static_cast<uint16_t>((aData[2] << 8) | aData[3]);
    aAnnouncement.mSource = (static_cast<uint32_t>(aData[4]) << 24) | (aData[5] << 16) | (aData[6] << 8) | aData[7];
    std::string lPayload(reinterpret_cast<const char *>(aData + lOffset), aSize - lOffset);
    // An optional payload type ends with a null byte; SDP itself starts "v=".
    if (lPayload.compare(0, 2, "v=") != 0)
    {
        const size_t lEnd = lPayload.find('\0');
        if (lEnd == std::string::npos || lPayload.compare(0, lEnd, "application/sdp") != 0)
        {
            return false;
        }
        lPayload.erase(0, lEnd + 1);
    }
    ParseSdp(lPayload, aAnnouncement);
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
    for (const SessionAnnouncement &lPacket : aHeard)
    {
        auto lKnown = std::find_if(aSessions.begin(), aSessions.end(), [&lPacket](const SessionAnnouncement &aKnown) {
            return SameSession(aKnown, lPacket);
        });
        if (lPacket.mDeletion)
        {
            if (lKnown != aSessions.end())
            {
                aSessions.erase(lKnown);
            }
        }
        else if (lKnown != aSessions.end())
        {
            *lKnown = lPacket;
        }
        else
        {
            aSessions.push_back(lPacket);
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
    const int lHandle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (lHandle < 0)
    {
        return;
    }
    const int lYes = 1;
    setsockopt(lHandle, SOL_SOCKET, SO_REUSEADDR, &lYes, sizeof(lYes));
    setsockopt(lHandle, IPPROTO_IP, IP_PKTINFO, &lYes, sizeof(lYes));
    sockaddr_in lLocal{};
    lLocal.sin_family = AF_INET;
    lLocal.sin_port = htons(kSapPort);
    lLocal.sin_addr.s_addr = htonl(kSapGroup);
    if (bind(lHandle, reinterpret_cast<sockaddr *>(&lLocal), sizeof(lLocal)) != 0)
    {
        close(lHandle);
        return;
    }
    std::vector<TnNetworkAdapterInfo> lAdapters;
    ListNetworkAdapters(lAdapters);
    for (const TnNetworkAdapterInfo &lAdapter : lAdapters)
    {
        ip_mreqn lMembership{};
        lMembership.imr_multiaddr.s_addr = htonl(kSapGroup);
        lMembership.imr_ifindex = static_cast<int>(lAdapter.mIndex);
        setsockopt(lHandle, IPPROTO_IP, IP_ADD_MEMBERSHIP, &lMembership, sizeof(lMembership));
    }
    const uint64_t lDeadline = tn::gev::MonotonicMilliseconds() + aTimeoutMs;
    std::vector<uint8_t> lPacket(65536);
    for (;;)
    {
        const uint64_t lNow = tn::gev::MonotonicMilliseconds();
        if (lNow >= lDeadline)
        {
            break;
        }
        pollfd lWaiting{lHandle, POLLIN, 0};
        if (tn::Poll(&lWaiting, 1, static_cast<int>(std::min<uint64_t>(lDeadline - lNow, 1000))) <= 0)
        {
            if (tn::Interrupted())
            {
                break;
            }
            continue;
        }
        char lControl[256];
        iovec lVector{lPacket.data(), lPacket.size()};
        msghdr lMessage{};
        lMessage.msg_iov = &lVector;
        lMessage.msg_iovlen = 1;
        lMessage.msg_control = lControl;
        lMessage.msg_controllen = sizeof(lControl);
        const ssize_t lReceived = recvmsg(lHandle, &lMessage, 0);
        SessionAnnouncement lAnnouncement;
        if (lReceived <= 0 || !DecodeSapPacket(lPacket.data(), static_cast<size_t>(lReceived), lAnnouncement))
        {
            continue;
        }
        for (cmsghdr *lHeader = CMSG_FIRSTHDR(&lMessage); lHeader != nullptr; lHeader = CMSG_NXTHDR(&lMessage, lHeader))
        {
            if (lHeader->cmsg_level == IPPROTO_IP && lHeader->cmsg_type == IP_PKTINFO)
            {
                in_pktinfo lInfo;
                memcpy(&lInfo, CMSG_DATA(lHeader), sizeof(lInfo));
                lAnnouncement.mLocalAddress = tn::gev::FormatIPv4(ntohl(lInfo.ipi_spec_dst.s_addr));
            }
        }
        lAnnouncement.mHeardAt = tn::gev::MonotonicMilliseconds();
        aHeard.push_back(lAnnouncement);
    }
    close(lHandle);
}
} // namespace system
} // namespace tn
