#include "TnDeviceGEV.h"

#include <sys/socket.h>

#include <algorithm>

#include "TnDeviceCore.h"
#include "TnDeviceGevLink.h"
#include "TnGevAddress.h"
#include "TnGvcp.h"
#include "TnGvcpClient.h"
#include "TnSystemInternal.h"
#include "TnText.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace device
{
namespace
{
// "a.b.c.d" or "a.b.c.d:port".
bool ParseEndpoint(const std::string &aText, uint32_t &aAddress, uint16_t &aPort)
{
    const size_t lColon = aText.find(':');
    aPort = gev::kGvcpPort;
    if (lColon != std::string::npos)
    {
        const std::string lPort = aText.substr(lColon + 1);
        if (lPort.empty() || lPort.size() > 5 || lPort.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(lPort) == 0 || std::stoul(lPort) > 0xFFFF)
        {
            return false;
        }
        aPort = static_cast<uint16_t>(std::stoul(lPort));
    }
    return gev::ParseIPv4(aText.substr(0, lColon), aAddress) && aAddress != 0;
}

uint32_t ChannelRegister(uint32_t aChannel, uint32_t aOffset)
{
    return gev::kRegStreamChannelBase + gev::kRegStreamChannelStride * aChannel + aOffset;
}
} // namespace

class GevCore : public DeviceCore
{
public:
    GevCore() : DeviceCore(TnDeviceTypeGEV) {}

    // The GigE Vision link of a connected controller, or a failure.
    TnResult Connected(std::shared_ptr<GevLink> &aLink, const char *aWhat)
    {
        aLink = std::static_pointer_cast<GevLink>(GetLink());
        if (!aLink || !IsConnected())
        {
            return Failure(TN_NOT_CONNECTED, std::string(aWhat) + ": the device is not connected");
        }
        return TnResult(TN_OK);
    }

    TnResult Channel(std::shared_ptr<GevLink> &aLink, uint32_t aChannel, const char *aWhat, bool aWrite = true)
    {
        TnResult lResult = Connected(aLink, aWhat);
        if (lResult.IsOK() && aChannel >= aLink->GetStreamChannelCount())
        {
            lResult = Failure(TN_INVALID_PARAMETER,
                              std::string(aWhat) + ": the device has no stream channel " + std::to_string(aChannel));
        }
        if (lResult.IsOK() && aWrite)
        {
            lResult = CheckWritable();
        }
        return lResult;
    }

protected:
    bool Accepts(const TnDeviceInfo &aInfo) const override
    {
        return dynamic_cast<const TnDeviceInfoGEV *>(&aInfo) != nullptr;
    }

    TnResult OpenLink(const TnDeviceInfo &aInfo, TnAccessType aAccess, std::shared_ptr<Link> &aLink) override
    {
        std::shared_ptr<GevLink> lLink = std::make_shared<GevLink>(*this);
        TnResult lResult = lLink->Open(static_cast<const TnDeviceInfoGEV &>(aInfo), aAccess, GetSettings());
        if (lResult.IsOK())
        {
            aLink = lLink;
        }
        return lResult;
    }
};

namespace
{
GevCore &Core(const TnDeviceGEV &aDevice)
{
    return *static_cast<GevCore *>(aDevice.GetCore());
}

// Sizes a packet size negotiation tries, largest first.
const uint32_t kTestSizes[] = {9000, 8192, 7000, 6000, 5000, 4000, 3000, 2000, 1500, 1400, 1200, 1000, 800, 576};
constexpr uint32_t kIpUdpHeaders = 28;
constexpr uint32_t kTestPacketWaitMs = 250;

// Asks for one test packet of aSize bytes and waits for it.
bool TestPacketArrives(GevLink &aLink, gev::TnUdpSocket &aSocket, uint32_t aChannel, uint32_t aFlags, uint32_t aSize)
{
    std::vector<uint8_t> lBuffer(65536);
    size_t lReceived = 0;
    uint32_t lFrom = 0;
    uint16_t lPort = 0;
    while (aSocket.ReceiveFrom(lBuffer.data(), lBuffer.size(), lReceived, lFrom, lPort, 0).IsOK())
    {
        // drop what an earlier size left behind
    }
    if (!aLink.GetClient()
             .WriteRegister(ChannelRegister(aChannel, gev::kRegStreamChannelPacketSize),
                            aFlags | gev::kPacketSizeFireTestPacket | aSize)
             .IsOK())
    {
        return false;
    }
    const uint64_t lDeadline = gev::MonotonicMilliseconds() + kTestPacketWaitMs;
    for (;;)
    {
        const uint64_t lNow = gev::MonotonicMilliseconds();
        if (lNow >= lDeadline)
        {
            return false;
        }
        const TnResult lResult = aSocket.ReceiveFrom(lBuffer.data(), lBuffer.size(), lReceived, lFrom, lPort,
                                                     static_cast<uint32_t>(lDeadline - lNow));
        if (lResult.GetCode() == TN_TIMEOUT)
        {
            return false;
        }
        if (lResult.IsOK() && lFrom == aLink.GetClient().GetDeviceAddress() && lReceived + kIpUdpHeaders >= aSize)
        {
            return true;
        }
    }
}
} // namespace
} // namespace device
} // namespace tn

using tn::device::GevCore;
using tn::device::GevLink;

TnDeviceGEV::TnDeviceGEV() : TnDevice(new GevCore)
{
}

TnDeviceGEV::~TnDeviceGEV() = default;

TnResult TnDeviceGEV::Connect(const TnDeviceInfo *aDeviceInfo)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::Connect");
    }
    return GetCore()->Connect(aDeviceInfo, TnAccessControl);
}

TnResult TnDeviceGEV::Connect(const TnDeviceInfo *aDeviceInfo, TnAccessType aAccessType)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::Connect");
    }
    return GetCore()->Connect(aDeviceInfo, aAccessType);
}

TnResult TnDeviceGEV::Connect(const TnString &aInfo)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::Connect");
    }
    return GetCore()->Connect(aInfo, TnAccessControl);
}

TnResult TnDeviceGEV::Connect(const TnString &aInfo, TnAccessType aAccessType)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::Connect");
    }
    return GetCore()->Connect(aInfo, aAccessType);
}

TnResult TnDeviceGEV::SetStreamDestination(const TnString &aIPAddress, uint16_t aDataPort, uint32_t aChannel)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::SetStreamDestination");
    }
    using namespace tn::gev;
    std::shared_ptr<GevLink> lLink;
    TnResult lResult = tn::device::Core(*this).Channel(lLink, aChannel, "SetStreamDestination");
    uint32_t lAddress = 0;
    if (lResult.IsOK() && (!ParseIPv4(tn::ToString(aIPAddress), lAddress) || lAddress == 0))
    {
        lResult = tn::Failure(TN_INVALID_PARAMETER,
                              "SetStreamDestination: '" + tn::ToString(aIPAddress) + "' is no IPv4 address");
    }
    uint32_t lPort = 0;
    if (lResult.IsOK())
    {
        lResult = lLink->GetClient().ReadRegister(tn::device::ChannelRegister(aChannel, kRegStreamChannelPort), lPort);
    }
    if (lResult.IsOK())
    {
        lResult = lLink->GetClient().WriteRegister(tn::device::ChannelRegister(aChannel, kRegStreamChannelDestination),
                                                   lAddress);
    }
    if (lResult.IsOK())
    {
        lResult = lLink->GetClient().WriteRegister(tn::device::ChannelRegister(aChannel, kRegStreamChannelPort),
                                                   (lPort & ~kPacketSizeMask) | aDataPort);
    }
    return lResult;
}

TnResult TnDeviceGEV::ResetStreamDestination(uint32_t aChannel)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::ResetStreamDestination");
    }
    using namespace tn::gev;
    std::shared_ptr<GevLink> lLink;
    TnResult lResult = tn::device::Core(*this).Channel(lLink, aChannel, "ResetStreamDestination");
    uint32_t lPort = 0;
    if (lResult.IsOK())
    {
        lResult = lLink->GetClient().ReadRegister(tn::device::ChannelRegister(aChannel, kRegStreamChannelPort), lPort);
    }
    if (lResult.IsOK())
    {
        lResult = lLink->GetClient().WriteRegister(tn::device::ChannelRegister(aChannel, kRegStreamChannelPort),
                                                   lPort & ~kPacketSizeMask);
    }
    if (lResult.IsOK())
    {
        lResult =
            lLink->GetClient().WriteRegister(tn::device::ChannelRegister(aChannel, kRegStreamChannelDestination), 0);
    }
    return lResult;
}

TnResult TnDeviceGEV::SetPacketSize(uint32_t aPacketSize, uint32_t aChannel)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::SetPacketSize");
    }
    using namespace tn::gev;
    std::shared_ptr<GevLink> lLink;
    TnResult lResult = tn::device::Core(*this).Channel(lLink, aChannel, "SetPacketSize");
    if (lResult.IsOK() && (aPacketSize < 64 || aPacketSize > kPacketSizeMask))
    {
        lResult = tn::Failure(TN_INVALID_PARAMETER, "SetPacketSize: packet sizes run from 64 to 65535 bytes");
    }
    const uint32_t lRegister = tn::device::ChannelRegister(aChannel, kRegStreamChannelPacketSize);
    uint32_t lValue = 0;
    if (lResult.IsOK())
    {
        lResult = lLink->GetClient().ReadRegister(lRegister, lValue);
    }
    if (lResult.IsOK())
    {
        lResult = lLink->GetClient().WriteRegister(
            lRegister, (lValue & ~(kPacketSizeMask | kPacketSizeFireTestPacket)) | aPacketSize);
    }
    return lResult;
}

TnResult TnDeviceGEV::NegotiatePacketSize(uint32_t aChannel, uint32_t aDefaultPacketSize)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::NegotiatePacketSize");
    }
    using namespace tn::gev;
    std::shared_ptr<GevLink> lLink;
    TnResult lResult = tn::device::Core(*this).Channel(lLink, aChannel, "NegotiatePacketSize");
    if (!lResult.IsOK())
    {
        return lResult;
    }
    TnGvcpClient &lClient = lLink->GetClient();
    const uint32_t lPortRegister = tn::device::ChannelRegister(aChannel, kRegStreamChannelPort);
    const uint32_t lDestinationRegister = tn::device::ChannelRegister(aChannel, kRegStreamChannelDestination);
    const uint32_t lSizeRegister = tn::device::ChannelRegister(aChannel, kRegStreamChannelPacketSize);
    uint32_t lPort = 0;
    uint32_t lDestination = 0;
    uint32_t lSize = 0;
    lResult = lClient.ReadRegister(lPortRegister, lPort);
    if (lResult.IsOK())
    {
        lResult = lClient.ReadRegister(lDestinationRegister, lDestination);
    }
    if (lResult.IsOK())
    {
        lResult = lClient.ReadRegister(lSizeRegister, lSize);
    }
    TnUdpSocket lSocket;
    if (lResult.IsOK())
    {
        lResult = lSocket.Open(lClient.GetLocalAddress(), 0);
    }
    if (lResult.IsOK())
    {
        lSocket.SetReceiveBufferSize(1 << 20);
        lResult = lClient.WriteRegister(lDestinationRegister, lSocket.GetLocalAddress());
    }
    if (lResult.IsOK())
    {
        lResult = lClient.WriteRegister(lPortRegister, (lPort & ~kPacketSizeMask) | lSocket.GetLocalPort());
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    // Test packets must not be fragmented on their way.
    const uint32_t lFlags = (lSize & ~(kPacketSizeMask | kPacketSizeFireTestPacket)) | kPacketSizeDoNotFragment;
    uint32_t lFound = 0;
    for (uint32_t lCandidate : tn::device::kTestSizes)
    {
        if (tn::device::TestPacketArrives(*lLink, lSocket, aChannel, lFlags, lCandidate))
        {
            lFound = lCandidate;
            break;
        }
    }
    // The stream destination as it was.
    lClient.WriteRegister(lDestinationRegister, lDestination);
    lClient.WriteRegister(lPortRegister, lPort);
    const uint32_t lKeep = lSize & ~(kPacketSizeMask | kPacketSizeFireTestPacket);
    if (lFound != 0)
    {
        return lClient.WriteRegister(lSizeRegister, lKeep | lFound);
    }
    lClient.WriteRegister(lSizeRegister, lKeep | (aDefaultPacketSize != 0 ? aDefaultPacketSize & kPacketSizeMask
                                                                          : lSize & kPacketSizeMask));
    return tn::Failure(TN_TIMEOUT, "NegotiatePacketSize: no test packet arrived; the packet size is " +
                                       std::string(aDefaultPacketSize != 0 ? "the default one" : "left as it was"));
}

namespace
{
TnResult CheckRegisterAddress(int64_t aAddress, const char *aWhat)
{
    if (aAddress < 0 || aAddress > 0xFFFFFFFCll || aAddress % 4 != 0)
    {
        return tn::Failure(TN_INVALID_PARAMETER,
                           std::string(aWhat) + ": register addresses are multiples of 4 below 2^32");
    }
    return TnResult(TN_OK);
}
} // namespace

TnResult TnDeviceGEV::ReadRegister(int64_t aAddress, uint32_t &aValue)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::ReadRegister");
    }
    std::shared_ptr<GevLink> lLink;
    TnResult lResult = tn::device::Core(*this).Connected(lLink, "ReadRegister");
    if (lResult.IsOK())
    {
        lResult = CheckRegisterAddress(aAddress, "ReadRegister");
    }
    uint32_t lValue = 0;
    if (lResult.IsOK())
    {
        lResult = lLink->GetClient().ReadRegister(static_cast<uint32_t>(aAddress), lValue);
    }
    if (lResult.IsOK())
    {
        aValue = lValue;
    }
    return lResult;
}

TnResult TnDeviceGEV::WriteRegister(int64_t aAddress, uint32_t aValue, bool aAcknowledge)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceGEV::WriteRegister");
    }
    std::shared_ptr<GevLink> lLink;
    TnResult lResult = tn::device::Core(*this).Connected(lLink, "WriteRegister");
    if (lResult.IsOK())
    {
        lResult = CheckRegisterAddress(aAddress, "WriteRegister");
    }
    if (lResult.IsOK())
    {
        lResult = GetCore()->CheckWritable();
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    if (!aAcknowledge)
    {
        return lLink->WriteRegisterUnacknowledged(static_cast<uint32_t>(aAddress), aValue);
    }
    return lLink->GetClient().WriteRegister(static_cast<uint32_t>(aAddress), aValue);
}

TnDeviceClass TnDeviceGEV::GetClass() const
{
    std::shared_ptr<const TnDeviceInfo> lInfo = GetCore()->GetInfo();
    return lInfo && IsConnected() ? lInfo->GetClass() : TnDeviceClassUnknown;
}

TnString TnDeviceGEV::GetIPAddress() const
{
    std::shared_ptr<const TnDeviceInfo> lInfo = GetCore()->GetInfo();
    const TnDeviceInfoGEV *lGev = dynamic_cast<const TnDeviceInfoGEV *>(lInfo.get());
    return lGev != nullptr && IsConnected() ? lGev->GetIPAddress() : TnString("");
}

TnString TnDeviceGEV::GetMACAddress() const
{
    std::shared_ptr<const TnDeviceInfo> lInfo = GetCore()->GetInfo();
    const TnDeviceInfoGEV *lGev = dynamic_cast<const TnDeviceInfoGEV *>(lInfo.get());
    return lGev != nullptr && IsConnected() ? lGev->GetMACAddress() : TnString("");
}

TnAccessType TnDeviceGEV::GetAccessType() const
{
    return GetCore()->GetAccessType();
}

TnResult TnDeviceGEV::GetAccessType(const TnString &aDeviceIPAddress, TnAccessType &aAccessType)
{
    using namespace tn::gev;
    uint32_t lAddress = 0;
    uint16_t lPort = 0;
    if (!tn::device::ParseEndpoint(tn::ToString(aDeviceIPAddress), lAddress, lPort))
    {
        return tn::Failure(TN_INVALID_PARAMETER,
                           "GetAccessType: '" + tn::ToString(aDeviceIPAddress) + "' is no IPv4 address");
    }
    TnGvcpClient lClient;
    TnResult lResult = lClient.Open(lAddress, lPort);
    uint32_t lPrivilege = 0;
    if (lResult.IsOK())
    {
        lResult = lClient.ReadRegister(kRegControlChannelPrivilege, lPrivilege);
    }
    if (!lResult.IsOK())
    {
        if (lClient.GetLastStatus() == kGvcpStatusAccessDenied)
        {
            aAccessType = TnAccessExclusive; // nobody else may even read
            return TnResult(TN_OK);
        }
        return lResult;
    }
    aAccessType = (lPrivilege & kPrivilegeExclusive) != 0 ? TnAccessExclusive
                  : (lPrivilege & kPrivilegeControl) != 0 ? TnAccessControl
                                                          : TnAccessOpen;
    return TnResult(TN_OK);
}

TnResult TnDeviceGEV::SetIPConfiguration(const TnString &aMACAddress, const TnString &aIP, const TnString &aSubnetMask,
                                         const TnString &aGateway)
{
    using namespace tn::gev;
    using namespace tn::system;
    TnGvcpForceIp lForce;
    if (!ParseMac(tn::ToString(aMACAddress), lForce.mMac) || lForce.mMac == 0)
    {
        return tn::Failure(TN_INVALID_PARAMETER,
                           "SetIPConfiguration: '" + tn::ToString(aMACAddress) + "' is no MAC address");
    }
    if (!ParseIPv4(tn::ToString(aIP), lForce.mIP) || !ParseIPv4(tn::ToString(aSubnetMask), lForce.mSubnetMask) ||
        !ParseIPv4(tn::ToString(aGateway), lForce.mGateway))
    {
        return tn::Failure(TN_INVALID_PARAMETER,
                           "SetIPConfiguration: the address, subnet mask and gateway must be IPv4 addresses");
    }
    std::vector<TnNetworkAdapterInfo> lAdapters;
    TnResult lResult = ListNetworkAdapters(lAdapters);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    TnGevDiscoveryOptions lOptions;
    lOptions.mTimeoutMs = 1000;
    // A device that claims an address no host can have is the one that needs
    // a new one; it is told where it answered from.
    lOptions.mAnyDeviceAddress = true;
    const uint64_t lMac = lForce.mMac;
    lOptions.mStopWhen = [lMac](const TnGevDeviceRecord &aRecord) { return aRecord.mDevice.GetMacValue() == lMac; };
    std::vector<TnGevDeviceRecord> lDevices;
    DiscoverGevDevices(lAdapters, lOptions, lDevices);
    auto lFound = std::find_if(lDevices.begin(), lDevices.end(), [lMac](const TnGevDeviceRecord &aRecord) {
        return aRecord.mDevice.GetMacValue() == lMac;
    });
    if (lFound == lDevices.end())
    {
        return tn::Failure(TN_NOT_FOUND,
                           "SetIPConfiguration: no GigE Vision device has the MAC address " + FormatMac(lMac));
    }
    TnGvcpClient lClient;
    lResult = lClient.Open(lFound->mAnswerAddress, lFound->mAnswerPort, lFound->mLocalAddress);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    std::vector<uint8_t> lCommand = BuildForceIpCmd(0, lForce);
    std::vector<uint8_t> lAnswer;
    TnGvcpAck lAck;
    lResult = lClient.Transact(lCommand, kGvcpForceIpAck, lAnswer, lAck);
    if (!lResult.IsOK())
    {
        return tn::Failure(lResult.GetCode(), "SetIPConfiguration: the device did not take the configuration: " +
                                                  tn::ToString(lResult.GetDescription()));
    }
    return lResult;
}
