#include "TnPacketRing.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stddef.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "TnGevBytes.h"
#include "TnGvsp.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace gev
{
namespace
{
using namespace ring_layout;

static_assert(offsetof(tpacket_block_desc, hdr) + offsetof(tpacket_hdr_v1, block_status) == kBlockStatus, "");
static_assert(offsetof(tpacket_block_desc, hdr) + offsetof(tpacket_hdr_v1, num_pkts) == kBlockPackets, "");
static_assert(offsetof(tpacket_block_desc, hdr) + offsetof(tpacket_hdr_v1, offset_to_first_pkt) == kBlockFirst, "");
static_assert(offsetof(tpacket_block_desc, hdr) + offsetof(tpacket_hdr_v1, ts_first_pkt) == kBlockOpenSec, "");
static_assert(offsetof(tpacket_block_desc, hdr) + offsetof(tpacket_hdr_v1, ts_first_pkt) +
                      offsetof(tpacket_bd_ts, ts_nsec) ==
                  kBlockOpenNsec,
              "");
static_assert(offsetof(tpacket3_hdr, tp_next_offset) == kPacketNext, "");
static_assert(offsetof(tpacket3_hdr, tp_sec) == kPacketSec, "");
static_assert(offsetof(tpacket3_hdr, tp_nsec) == kPacketNsec, "");
static_assert(offsetof(tpacket3_hdr, tp_snaplen) == kPacketSnapLength, "");
static_assert(offsetof(tpacket3_hdr, tp_len) == kPacketLength, "");
static_assert(offsetof(tpacket3_hdr, tp_status) == kPacketStatus, "");
static_assert(offsetof(tpacket3_hdr, tp_net) == kPacketNet, "");
static_assert(TPACKET_ALIGN(sizeof(tpacket3_hdr)) == kPacketHeaderSize, "");
static_assert(offsetof(sockaddr_ll, sll_pkttype) == kAddressPacketType, "");

constexpr uint8_t kProtocolUdp = 17;
constexpr size_t kIpHeaderSize = 20;
constexpr size_t kUdpHeaderSize = 8;
constexpr uint32_t kAcceptAll = 0x40000;

// A classic filter program with forward jumps to labels.
class Program
{
public:
    using Label = size_t;
    static constexpr Label kNext = 0;
    static constexpr Label kAccept = 1;
    static constexpr Label kDrop = 2;

    Label NewLabel()
    {
        mLabels.push_back(SIZE_MAX);
        return kDrop + mLabels.size();
    }

    /// The label is the next instruction's.
    void Bind(Label aLabel)
    {
        mLabels[aLabel - kDrop - 1] = mCode.size();
    }

    void Statement(uint16_t aCode, uint32_t aValue)
    {
        mCode.push_back(BPF_STMT(aCode, aValue));
        mJumps.push_back({kNext, kNext});
    }

    void Jump(uint16_t aCode, uint32_t aValue, Label aTrue, Label aFalse)
    {
        mCode.push_back(BPF_JUMP(aCode, aValue, 0, 0));
        mJumps.push_back({aTrue, aFalse});
    }

    std::vector<sock_filter> Finish()
    {
        const size_t lAccept = mCode.size();
        mCode.push_back(BPF_STMT(BPF_RET | BPF_K, kAcceptAll));
        const size_t lDrop = mCode.size();
        mCode.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
        for (size_t lIndex = 0; lIndex < mJumps.size(); ++lIndex)
        {
            auto lTarget = [&](Label aLabel) -> uint8_t {
                const size_t lTo = aLabel == kNext     ? lIndex + 1
                                   : aLabel == kAccept ? lAccept
                                   : aLabel == kDrop   ? lDrop
                                                       : mLabels[aLabel - kDrop - 1];
                return static_cast<uint8_t>(lTo - lIndex - 1);
            };
            if (BPF_CLASS(mCode[lIndex].code) == BPF_JMP)
            {
                mCode[lIndex].jt = lTarget(mJumps[lIndex].first);
                mCode[lIndex].jf = lTarget(mJumps[lIndex].second);
            }
        }
        return mCode;
    }

private:
    std::vector<sock_filter> mCode;
    std::vector<std::pair<Label, Label>> mJumps;
    std::vector<size_t> mLabels;
};

// Offsets from the UDP header of a GigE Vision header's fields.
constexpr uint32_t kUdpGvspBlockId = kUdpHeaderSize + 2;
constexpr uint32_t kUdpGvspFormat = kUdpHeaderSize + 4;
constexpr uint32_t kUdpGvspExtendedBlockIdLow = kUdpHeaderSize + 12;

// The stream's packets (the X register holds the IP header's length):
// every leader, and the other packets of the blocks in the window's ranges.
void AddWindow(Program &aProgram, const TnRingWindow &aWindow)
{
    const Program::Label lExtended = aProgram.NewLabel();
    aProgram.Statement(BPF_LD | BPF_B | BPF_IND, kUdpGvspFormat);
    aProgram.Jump(BPF_JMP | BPF_JSET | BPF_K, kGvspExtendedIdBit, lExtended, Program::kNext);
    for (const bool lExtendedIds : {false, true})
    {
        if (lExtendedIds)
        {
            aProgram.Bind(lExtended);
            aProgram.Statement(BPF_LD | BPF_B | BPF_IND, kUdpGvspFormat);
        }
        aProgram.Statement(BPF_ALU | BPF_AND | BPF_K, 0x0F);
        aProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, kGvspFormatLeader, Program::kAccept, Program::kNext);
        const uint32_t lMask = lExtendedIds ? 0xFFFFFFFFu : 0xFFFFu;
        for (size_t lIndex = 0; lIndex < aWindow.mRangeCount && aWindow.mExtendedIds == lExtendedIds; ++lIndex)
        {
            const TnRingIdRange &lRange = aWindow.mRanges[lIndex];
            const uint32_t lFirst = static_cast<uint32_t>(lRange.mFirst) & lMask;
            const uint32_t lWidth = static_cast<uint32_t>(lRange.mLast - lRange.mFirst) & lMask;
            aProgram.Statement(lExtendedIds ? BPF_LD | BPF_W | BPF_IND : BPF_LD | BPF_H | BPF_IND,
                               lExtendedIds ? kUdpGvspExtendedBlockIdLow : kUdpGvspBlockId);
            aProgram.Statement(BPF_ALU | BPF_SUB | BPF_K, lFirst);
            if (!lExtendedIds)
            {
                aProgram.Statement(BPF_ALU | BPF_AND | BPF_K, lMask);
            }
            aProgram.Jump(BPF_JMP | BPF_JGT | BPF_K, lWidth, Program::kNext, Program::kAccept);
        }
        aProgram.Statement(BPF_RET | BPF_K, 0);
    }
}
} // namespace

uint64_t InternetSum(const uint8_t *aData, size_t aSize, uint64_t aSum)
{
    // 32-bit words into a 64-bit sum: the carries collect in the upper half.
    while (aSize >= 16)
    {
        uint32_t lWords[4];
        memcpy(lWords, aData, sizeof(lWords));
        aSum += uint64_t(lWords[0]) + lWords[1] + lWords[2] + lWords[3];
        aData += 16;
        aSize -= 16;
    }
    while (aSize >= 4)
    {
        uint32_t lWord;
        memcpy(&lWord, aData, sizeof(lWord));
        aSum += lWord;
        aData += 4;
        aSize -= 4;
    }
    if (aSize >= 2)
    {
        uint16_t lHalf;
        memcpy(&lHalf, aData, sizeof(lHalf));
        aSum += lHalf;
        aData += 2;
        aSize -= 2;
    }
    if (aSize != 0)
    {
        // The odd byte is the high byte of a word padded with zero, in network order.
        const uint8_t lLast[2] = {aData[0], 0};
        uint16_t lHalf;
        memcpy(&lHalf, lLast, sizeof(lHalf));
        aSum += lHalf;
    }
    return aSum;
}

uint16_t FoldInternetSum(uint64_t aSum)
{
    while ((aSum >> 16) != 0)
    {
        aSum = (aSum & 0xFFFF) + (aSum >> 16);
    }
    return static_cast<uint16_t>(aSum);
}

TnRingVerdict ParseRingDatagram(const TnRingPacket &aPacket, const TnRingFilter &aFilter, const uint8_t *&aPayload,
                                size_t &aPayloadSize)
{
    aPayload = nullptr;
    aPayloadSize = 0;
    if (aPacket.mPacketType == PACKET_OUTGOING || aPacket.mPacketType == PACKET_OTHERHOST)
    {
        return TnRingVerdict::kForeign; // a copy of what this host sends, or another host's
    }
    const uint8_t *lIp = aPacket.mData;
    if (aPacket.mCaptured < kIpHeaderSize)
    {
        return aPacket.mLength > aPacket.mCaptured ? TnRingVerdict::kTruncated : TnRingVerdict::kMalformed;
    }
    if ((lIp[0] >> 4) != 4)
    {
        return TnRingVerdict::kForeign;
    }
    const size_t lHeaderSize = size_t(lIp[0] & 0x0F) * 4;
    const size_t lTotal = GetU16(lIp + 2);
    if (lHeaderSize < kIpHeaderSize || lTotal < lHeaderSize || lHeaderSize > aPacket.mCaptured)
    {
        return TnRingVerdict::kMalformed;
    }
    if (FoldInternetSum(InternetSum(lIp, lHeaderSize)) != 0xFFFF)
    {
        return TnRingVerdict::kMalformed;
    }
    if (lIp[9] != kProtocolUdp || (aFilter.mAddress != 0 && GetU32(lIp + 16) != aFilter.mAddress))
    {
        return TnRingVerdict::kForeign;
    }
    if ((GetU16(lIp + 6) & 0x3FFF) != 0)
    {
        return TnRingVerdict::kFragment; // more fragments follow, or this is not the first
    }
    if (lTotal > aPacket.mLength)
    {
        return TnRingVerdict::kMalformed; // the header claims more than the packet had
    }
    if (lTotal < lHeaderSize + kUdpHeaderSize)
    {
        return TnRingVerdict::kMalformed;
    }
    if (lHeaderSize + kUdpHeaderSize > aPacket.mCaptured)
    {
        return TnRingVerdict::kTruncated;
    }
    const uint8_t *lUdp = lIp + lHeaderSize;
    if (GetU16(lUdp + 2) != aFilter.mPort)
    {
        return TnRingVerdict::kForeign;
    }
    // As the kernel does: a UDP length shorter than the IP payload ends
    // the datagram there; a longer one is an error.
    const size_t lUdpLength = GetU16(lUdp + 4);
    if (lUdpLength < kUdpHeaderSize || lUdpLength > lTotal - lHeaderSize)
    {
        return TnRingVerdict::kMalformed;
    }
    if (lUdpLength > aFilter.mLargestDatagram)
    {
        return TnRingVerdict::kForeign;
    }
    if (lHeaderSize + lUdpLength > aPacket.mCaptured)
    {
        return TnRingVerdict::kTruncated;
    }
    // The checksum: 0 means none; the kernel vouches for it when the device
    // checked it, or when the packet never left this host (its checksum is
    // then not filled in yet).
    const uint16_t lChecksum = GetU16(lUdp + 6);
    if (lChecksum != 0 && (aPacket.mStatus & (TP_STATUS_CSUMNOTREADY | TP_STATUS_CSUM_VALID)) == 0)
    {
        uint64_t lSum = InternetSum(lIp + 12, 8); // the pseudo-header's addresses
        lSum += htons(kProtocolUdp);
        lSum += htons(static_cast<uint16_t>(lUdpLength));
        if (FoldInternetSum(InternetSum(lUdp, lUdpLength, lSum)) != 0xFFFF)
        {
            return TnRingVerdict::kMalformed;
        }
    }
    aPayload = lUdp + kUdpHeaderSize;
    aPayloadSize = lUdpLength - kUdpHeaderSize;
    return TnRingVerdict::kTaken;
}

bool RingPacketIds(const TnRingPacket &aPacket, const TnRingFilter &aFilter, TnRingNewest &aIds)
{
    aIds = TnRingNewest();
    const uint8_t *lIp = aPacket.mData;
    if (aPacket.mPacketType == PACKET_OUTGOING || aPacket.mPacketType == PACKET_OTHERHOST ||
        aPacket.mCaptured < kIpHeaderSize || (lIp[0] >> 4) != 4 || lIp[9] != kProtocolUdp ||
        (GetU16(lIp + 6) & 0x3FFF) != 0 || (aFilter.mAddress != 0 && GetU32(lIp + 16) != aFilter.mAddress))
    {
        return false;
    }
    const size_t lHeaderSize = size_t(lIp[0] & 0x0F) * 4;
    const size_t lGvsp = lHeaderSize + kUdpHeaderSize;
    if (lHeaderSize < kIpHeaderSize || aPacket.mCaptured < lGvsp + kGvspHeaderSize ||
        GetU16(lIp + lHeaderSize + 2) != aFilter.mPort)
    {
        return false;
    }
    const uint8_t *lHeader = lIp + lGvsp;
    aIds.mExtendedIds = (lHeader[4] & kGvspExtendedIdBit) != 0;
    if (!aIds.mExtendedIds)
    {
        aIds.mBlockId = GetU16(lHeader + 2);
        aIds.mPacketId = GetU24(lHeader + 5);
    }
    else if (aPacket.mCaptured >= lGvsp + kGvspExtendedHeaderSize)
    {
        aIds.mBlockId = GetU64(lHeader + 8);
        aIds.mPacketId = GetU32(lHeader + 16);
    }
    else
    {
        return false;
    }
    aIds.mKnown = true;
    return true;
}

std::vector<sock_filter> RingFilterProgram(const TnRingFilter &aFilter)
{
    return RingFilterProgram(aFilter, TnRingWindow());
}

std::vector<sock_filter> RingFilterProgram(const TnRingFilter &aFilter, const TnRingWindow &aWindow)
{
    Program lProgram;
    lProgram.Statement(BPF_LD | BPF_H | BPF_ABS, uint32_t(SKF_AD_OFF + SKF_AD_PROTOCOL));
    lProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, Program::kNext, Program::kDrop);
    lProgram.Statement(BPF_LD | BPF_W | BPF_ABS, uint32_t(SKF_AD_OFF + SKF_AD_PKTTYPE));
    lProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, Program::kDrop, Program::kNext);
    lProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OTHERHOST, Program::kDrop, Program::kNext);
    lProgram.Statement(BPF_LD | BPF_B | BPF_ABS, 0);
    lProgram.Statement(BPF_ALU | BPF_AND | BPF_K, 0xF0);
    lProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, 0x40, Program::kNext, Program::kDrop);
    lProgram.Statement(BPF_LD | BPF_B | BPF_ABS, 9);
    lProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, kProtocolUdp, Program::kNext, Program::kDrop);
    lProgram.Statement(BPF_LD | BPF_H | BPF_ABS, 6);
    lProgram.Jump(BPF_JMP | BPF_JSET | BPF_K, 0x3FFF, Program::kDrop, Program::kNext);
    if (aFilter.mAddress != 0)
    {
        lProgram.Statement(BPF_LD | BPF_W | BPF_ABS, 16);
        lProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, aFilter.mAddress, Program::kNext, Program::kDrop);
    }
    lProgram.Statement(BPF_LDX | BPF_B | BPF_MSH, 0);
    lProgram.Statement(BPF_LD | BPF_H | BPF_IND, 2);
    if (aWindow.mOpen)
    {
        lProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, aFilter.mPort, Program::kAccept, Program::kDrop);
        return lProgram.Finish();
    }
    lProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, aFilter.mPort, Program::kNext, Program::kDrop);
    AddWindow(lProgram, aWindow);
    return lProgram.Finish();
}

std::vector<sock_filter> AcceptAllProgram()
{
    return {BPF_STMT(BPF_RET | BPF_K, kAcceptAll)};
}

std::vector<sock_filter> DropAllProgram()
{
    return {BPF_STMT(BPF_RET | BPF_K, 0)};
}

std::vector<sock_filter> SocketFilterProgram(int aInterfaceIndex, uint32_t aLargestDatagram)
{
    Program lProgram;
    lProgram.Statement(BPF_LD | BPF_W | BPF_ABS, uint32_t(SKF_AD_OFF + SKF_AD_IFINDEX));
    lProgram.Jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(aInterfaceIndex), Program::kNext, Program::kAccept);
    lProgram.Statement(BPF_LD | BPF_W | BPF_LEN, 0);
    lProgram.Jump(BPF_JMP | BPF_JGT | BPF_K, aLargestDatagram, Program::kAccept, Program::kDrop);
    return lProgram.Finish();
}

bool FindInterface(uint32_t aAddress, int &aIndex, std::string &aName, uint32_t &aMtu)
{
    aIndex = 0;
    aName.clear();
    aMtu = 0;
    ifaddrs *lList = nullptr;
    if (aAddress == 0 || getifaddrs(&lList) != 0)
    {
        return false;
    }
    for (const ifaddrs *lEntry = lList; lEntry != nullptr; lEntry = lEntry->ifa_next)
    {
        if (lEntry->ifa_addr != nullptr && lEntry->ifa_addr->sa_family == AF_INET &&
            ntohl(reinterpret_cast<const sockaddr_in *>(lEntry->ifa_addr)->sin_addr.s_addr) == aAddress)
        {
            aName = lEntry->ifa_name;
            break;
        }
    }
    freeifaddrs(lList);
    if (aName.empty() || aName.size() >= IFNAMSIZ)
    {
        return false;
    }
    aIndex = static_cast<int>(if_nametoindex(aName.c_str()));
    const int lHandle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (lHandle >= 0)
    {
        ifreq lRequest;
        memset(&lRequest, 0, sizeof(lRequest));
        memcpy(lRequest.ifr_name, aName.c_str(), aName.size());
        if (ioctl(lHandle, SIOCGIFMTU, &lRequest) == 0 && lRequest.ifr_mtu > 0)
        {
            aMtu = static_cast<uint32_t>(lRequest.ifr_mtu);
        }
        ::close(lHandle);
    }
    return aIndex > 0 && aMtu != 0;
}

bool CanOpenPacketRing(uint32_t aAddress)
{
    int lIndex;
    std::string lName;
    uint32_t lMtu;
    if (!FindInterface(aAddress, lIndex, lName, lMtu))
    {
        return false;
    }
    const int lHandle = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (lHandle < 0)
    {
        return false;
    }
    ::close(lHandle);
    return true;
}

TnResult AttachFilter(int aHandle, const std::vector<sock_filter> &aProgram)
{
    sock_fprog lProgram;
    lProgram.len = static_cast<unsigned short>(aProgram.size());
    lProgram.filter = const_cast<sock_filter *>(aProgram.data());
    if (setsockopt(aHandle, SOL_SOCKET, SO_ATTACH_FILTER, &lProgram, sizeof(lProgram)) != 0)
    {
        return SocketFailure("SO_ATTACH_FILTER", errno);
    }
    return TnResult(TN_OK);
}

// ---------------------------------------------------------------- the ring

TnPacketRing::~TnPacketRing()
{
    Close();
}

TnResult TnPacketRing::Open(const TnPacketRingConfig &aConfig)
{
    Close();
    mConfig = aConfig;
    const size_t lPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (mConfig.mBlockSize < lPage || (mConfig.mBlockSize & (mConfig.mBlockSize - 1)) != 0 ||
        mConfig.mSize < mConfig.mBlockSize || mConfig.mInterfaceIndex <= 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("packet ring: bad block size, ring size or interface"));
    }
    mBlockCount = mConfig.mSize / mConfig.mBlockSize;
    // No protocol until bound: nothing arrives before the filter is in place.
    const int lHandle = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (lHandle < 0)
    {
        const int lError = errno;
        return SocketFailure("packet socket", lError,
                             lError == EPERM || lError == EACCES ? TN_NOT_SUPPORTED : TN_NETWORK_ERROR);
    }
    mHandle = lHandle;
    TnResult lResult = AttachFilter(lHandle, RingFilterProgram(mConfig.mFilter));
    auto lFail = [this](TnResult aResult) {
        Close();
        return aResult;
    };
    if (!lResult.IsOK())
    {
        return lFail(lResult);
    }
    const int lVersion = TPACKET_V3;
    if (setsockopt(lHandle, SOL_PACKET, PACKET_VERSION, &lVersion, sizeof(lVersion)) != 0)
    {
        return lFail(SocketFailure("PACKET_VERSION", errno));
    }
    // The socket takes every protocol of its interface, which puts it among
    // the interface's taps: they see a packet before the IP layer does, so
    // that the IP layer, coming last, has the packet to itself (a socket of
    // one protocol and interface comes after it and makes it copy the
    // packet's header first). Copies of what this host sends are kept out;
    // a kernel that cannot do that gets a socket of IPv4 alone.
    const int lOne = 1;
    const bool lTap = setsockopt(lHandle, SOL_PACKET, PACKET_IGNORE_OUTGOING, &lOne, sizeof(lOne)) == 0;
    tpacket_req3 lRequest;
    memset(&lRequest, 0, sizeof(lRequest));
    lRequest.tp_block_size = static_cast<unsigned>(mConfig.mBlockSize);
    lRequest.tp_block_nr = static_cast<unsigned>(mBlockCount);
    lRequest.tp_frame_size = 2048;
    lRequest.tp_frame_nr = static_cast<unsigned>(mConfig.mBlockSize / 2048 * mBlockCount);
    lRequest.tp_retire_blk_tov = mConfig.mBlockTimeoutMs;
    lRequest.tp_sizeof_priv = 0;
    lRequest.tp_feature_req_word = 0;
    if (setsockopt(lHandle, SOL_PACKET, PACKET_RX_RING, &lRequest, sizeof(lRequest)) != 0)
    {
        const int lError = errno;
        return lFail(
            SocketFailure("PACKET_RX_RING", lError, lError == ENOMEM ? TN_NOT_ENOUGH_MEMORY : TN_NETWORK_ERROR));
    }
    mMapSize = mConfig.mBlockSize * mBlockCount;
    void *lMap = mmap(nullptr, mMapSize, PROT_READ | PROT_WRITE, MAP_SHARED, lHandle, 0);
    if (lMap == MAP_FAILED)
    {
        const int lError = errno;
        mMapSize = 0;
        return lFail(SocketFailure("packet ring mmap", lError, TN_NOT_ENOUGH_MEMORY));
    }
    mMap = static_cast<uint8_t *>(lMap);
    sockaddr_ll lAddress;
    memset(&lAddress, 0, sizeof(lAddress));
    lAddress.sll_family = AF_PACKET;
    lAddress.sll_protocol = htons(lTap ? ETH_P_ALL : ETH_P_IP);
    lAddress.sll_ifindex = mConfig.mInterfaceIndex;
    if (bind(lHandle, reinterpret_cast<const sockaddr *>(&lAddress), sizeof(lAddress)) != 0)
    {
        return lFail(SocketFailure("packet socket bind", errno));
    }
    mCurrent = 0;
    mCurrentCount = mFrontier = 0;
    TakeDrops();
    return TnResult(TN_OK);
}

void TnPacketRing::Close()
{
    if (mMap != nullptr)
    {
        munmap(mMap, mMapSize);
        mMap = nullptr;
        mMapSize = 0;
    }
    if (mHandle >= 0)
    {
        ::close(mHandle);
        mHandle = -1;
    }
    mCurrent = 0;
    mCurrentCount = mFrontier = 0;
}

const uint8_t *TnPacketRing::Next(size_t &aSize) const
{
    aSize = 0;
    if (mMap == nullptr)
    {
        return nullptr;
    }
    uint8_t *lBlock = mMap + mCurrent * mConfig.mBlockSize;
    uint32_t *lStatus = reinterpret_cast<uint32_t *>(lBlock + kBlockStatus);
    // The kernel's writes to the block come before it hands the block over.
    if ((__atomic_load_n(lStatus, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0)
    {
        return nullptr;
    }
    aSize = mConfig.mBlockSize;
    return lBlock;
}

void TnPacketRing::Release()
{
    uint8_t *lBlock = mMap + mCurrent * mConfig.mBlockSize;
    // Every read of the block comes before the kernel may fill it again.
    __atomic_store_n(reinterpret_cast<uint32_t *>(lBlock + kBlockStatus), uint32_t(TP_STATUS_KERNEL),
                     __ATOMIC_RELEASE);
    mCurrent = (mCurrent + 1) % mBlockCount;
    ++mCurrentCount;
}

bool TnPacketRing::IsBehind(size_t aAhead) const
{
    if (mMap == nullptr || aAhead == 0 || aAhead > mBlockCount)
    {
        return false;
    }
    // The kernel hands blocks over in order: the last of them tells.
    const uint8_t *lBlock = mMap + ((mCurrent + aAhead - 1) % mBlockCount) * mConfig.mBlockSize;
    return (__atomic_load_n(reinterpret_cast<const uint32_t *>(lBlock + kBlockStatus), __ATOMIC_ACQUIRE) &
            TP_STATUS_USER) != 0;
}

size_t TnPacketRing::CountUnread() const
{
    if (mMap == nullptr)
    {
        return 0;
    }
    // From the next block on, the handed-over ones come first: the kernel
    // hands them over in order, and fills the others after them. Those up
    // to the last count stay handed over until read; the look goes on from
    // there.
    const auto lHandedOver = [this](size_t aAhead) {
        const uint8_t *lBlock = mMap + ((mCurrent + aAhead) % mBlockCount) * mConfig.mBlockSize;
        return (__atomic_load_n(reinterpret_cast<const uint32_t *>(lBlock + kBlockStatus), __ATOMIC_ACQUIRE) &
                TP_STATUS_USER) != 0;
    };
    size_t lCount = mFrontier > mCurrentCount ? std::min<uint64_t>(mFrontier - mCurrentCount, mBlockCount) : 0;
    while (lCount < mBlockCount && lHandedOver(lCount))
    {
        ++lCount;
    }
    mFrontier = mCurrentCount + lCount;
    return lCount;
}

const uint8_t *TnPacketRing::Newest(size_t &aSize) const
{
    aSize = 0;
    const size_t lUnread = CountUnread();
    if (lUnread == 0)
    {
        return nullptr;
    }
    aSize = mConfig.mBlockSize;
    return mMap + ((mCurrent + lUnread - 1) % mBlockCount) * mConfig.mBlockSize;
}

TnPacketRing::Unread TnPacketRing::GetUnread(uint64_t &aSinceNs) const
{
    aSinceNs = 0;
    if (mMap == nullptr)
    {
        return Unread::kNone;
    }
    const uint8_t *lBlock = mMap + mCurrent * mConfig.mBlockSize;
    const uint32_t lStatus =
        __atomic_load_n(reinterpret_cast<const uint32_t *>(lBlock + kBlockStatus), __ATOMIC_ACQUIRE);
    // The next block to read is the one the kernel fills unless it was
    // handed over; the kernel counts its packets as it adds them, and set
    // the count to 0 and the time when it opened it.
    const uint32_t lPackets =
        __atomic_load_n(reinterpret_cast<const uint32_t *>(lBlock + kBlockPackets), __ATOMIC_ACQUIRE);
    if ((lStatus & TP_STATUS_USER) == 0 && lPackets == 0)
    {
        return Unread::kNone;
    }
    aSinceNs = uint64_t(Get32(lBlock + kBlockOpenSec)) * 1000000000u + Get32(lBlock + kBlockOpenNsec);
    return (lStatus & TP_STATUS_USER) != 0 ? Unread::kHandedOver : Unread::kHeld;
}

uint64_t TnPacketRing::TakeDrops()
{
    tpacket_stats_v3 lStatistics;
    socklen_t lLength = sizeof(lStatistics);
    if (mHandle < 0 || getsockopt(mHandle, SOL_PACKET, PACKET_STATISTICS, &lStatistics, &lLength) != 0)
    {
        return 0;
    }
    return lStatistics.tp_drops;
}
} // namespace gev
} // namespace tn
