#include "TnDeviceU3V.h"

#include <string.h>

#include <atomic>

#include "TnByteOrder.h"
#include "TnDeviceCore.h"
#include "TnGevAddress.h"
#include "TnSimulatedU3V.h"
#include "TnSystemInternal.h"
#include "TnText.h"

namespace tn
{
namespace device
{
namespace
{
// Where a USB3 Vision device's bootstrap registers point to its GenICam
// description: the manifest table's address, and in each 64-byte entry the
// file type bits of its second word.
constexpr uint64_t kAbrmManifestTable = 0x01D0;
constexpr uint32_t kManifestFileType = 0x3F << 10; // 0 plain XML, 1 zip

uint64_t GetLE(const uint8_t *aBytes, size_t aSize)
{
    return ReadUnsigned(aBytes, aSize, false);
}

// The controller's link: the simulated device's control interface, taken
// for the connection.
class U3vLink : public Link
{
public:
    explicit U3vLink(std::shared_ptr<SimulatedU3v> aDevice) : mDevice(std::move(aDevice)) {}
    ~U3vLink() override { Close(false); }

    TnResult Read(uint64_t aAddress, void *aData, size_t aSize) override
    {
        ++mCommands;
        if (!mOpen)
        {
            return Failure(TN_NOT_CONNECTED, "the device is not connected");
        }
        return mDevice->Read(aAddress, aData, aSize);
    }

    TnResult Write(uint64_t aAddress, const void *aData, size_t aSize) override
    {
        ++mCommands;
        if (!mOpen)
        {
            return Failure(TN_NOT_CONNECTED, "the device is not connected");
        }
        return mDevice->Write(aAddress, aData, aSize);
    }

    uint64_t GetAddressLimit() const override { return ~0ull; }

    TnResult ReadXmlUrl(std::string &aUrl) override
    {
        uint8_t lEntry[72];
        uint8_t lTable[8];
        TnResult lResult = Read(kAbrmManifestTable, lTable, sizeof(lTable));
        const uint64_t lManifest = GetLE(lTable, 8);
        if (lResult.IsOK())
        {
            lResult = Read(lManifest, lEntry, sizeof(lEntry));
        }
        if (!lResult.IsOK())
        {
            return lResult;
        }
        if (GetLE(lEntry, 8) == 0)
        {
            return Failure(TN_CANT_READ_MANIFEST, "the device's manifest lists no GenICam file");
        }
        const bool lZipped = ((GetLE(lEntry + 12, 4) & kManifestFileType) >> 10) == 1;
        const uint64_t lAddress = GetLE(lEntry + 16, 8);
        const uint64_t lSize = GetLE(lEntry + 24, 8);
        char lName[21] = {0};
        memcpy(lName, lEntry + 52, 20);
        std::string lFile = lName[0] != '\0' ? lName : (lZipped ? "device.zip" : "device.xml");
        char lUrl[128];
        snprintf(lUrl, sizeof(lUrl), ";%llx;%llx", static_cast<unsigned long long>(lAddress),
                 static_cast<unsigned long long>(lSize));
        aUrl = "Local:" + lFile + lUrl;
        return TnResult(TN_OK);
    }

    void ApplySettings(const LinkSettings &) override {}

    void AddStatistics(LinkStatistics &aStatistics) const override { aStatistics.mCommands += mCommands; }

    void Close(bool) override
    {
        if (mOpen.exchange(false))
        {
            mDevice->CloseControl();
        }
    }

    uint32_t GetStreamChannelCount() const override { return 1; }

private:
    std::shared_ptr<SimulatedU3v> mDevice;
    std::atomic<bool> mOpen{true};
    std::atomic<uint64_t> mCommands{0};
};

class U3vCore : public DeviceCore
{
public:
    U3vCore() : DeviceCore(TnDeviceTypeU3V) {}

protected:
    bool Accepts(const TnDeviceInfo &aInfo) const override
    {
        return dynamic_cast<const TnDeviceInfoU3V *>(&aInfo) != nullptr;
    }

    TnResult OpenLink(const TnDeviceInfo &aInfo, TnAccessType, std::shared_ptr<Link> &aLink) override
    {
        std::shared_ptr<SimulatedU3v> lDevice;
        TnResult lResult = SimulatedU3v::Find(aInfo.mUniqueID, lDevice);
        if (lResult.IsOK())
        {
            lResult = lDevice->OpenControl();
        }
        if (!lResult.IsOK())
        {
            return Failure(lResult.GetCode(), "Connect: " + Describe(lResult));
        }
        aLink = std::make_shared<U3vLink>(lDevice);
        return lResult;
    }
};
} // namespace
} // namespace device
} // namespace tn

TnDeviceU3V::TnDeviceU3V() : TnDevice(new tn::device::U3vCore)
{
}

TnDeviceU3V::~TnDeviceU3V() = default;

TnResult TnDeviceU3V::Connect(const TnString &aInfo)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceU3V::Connect");
    }
    return GetCore()->Connect(aInfo, TnAccessControl);
}

TnResult TnDeviceU3V::Connect(const TnDeviceInfo *aDeviceInfo)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceU3V::Connect");
    }
    return GetCore()->Connect(aDeviceInfo, TnAccessControl);
}

TnString TnDeviceU3V::GetGUID() const
{
    std::shared_ptr<const TnDeviceInfo> lInfo = GetCore()->GetInfo();
    const TnDeviceInfoU3V *lU3v = dynamic_cast<const TnDeviceInfoU3V *>(lInfo.get());
    return lU3v != nullptr && IsConnected() ? lU3v->GetDeviceGUID() : TnString("");
}

TnResult TnDeviceVexmoorProtocol::SetIPConfiguration(const TnString &aMACAddress, const TnString &aIP,
                                                     const TnString &aSubnetMask, const TnString &aGateway)
{
    uint64_t lMac = 0;
    uint32_t lAddress = 0;
    if (!tn::gev::ParseMac(tn::ToString(aMACAddress), lMac) || lMac == 0)
    {
        return tn::Failure(TN_INVALID_PARAMETER,
                           "SetIPConfiguration: '" + tn::ToString(aMACAddress) + "' is no MAC address");
    }
    if (!tn::gev::ParseIPv4(tn::ToString(aIP), lAddress) || !tn::gev::ParseIPv4(tn::ToString(aSubnetMask), lAddress) ||
        !tn::gev::ParseIPv4(tn::ToString(aGateway), lAddress))
    {
        return tn::Failure(TN_INVALID_PARAMETER,
                           "SetIPConfiguration: the address, subnet mask and gateway must be IPv4 addresses");
    }
    tn::system::TnSimulatedSource lSource;
    tn::system::LoadSimulatedDevices(lSource);
    for (const tn::system::TnSimulatedDeviceRecord &lRecord : lSource.mDevices)
    {
        if (lRecord.mKind == tn::system::kSimulatedVexmoor && tn::gev::MacFromBytes(lRecord.mMac) == lMac)
        {
            return tn::Failure(TN_NOT_SUPPORTED, "SetIPConfiguration: this host has no Vexmoor Protocol "
                                                 "transport; simulated devices keep their configuration");
        }
    }
    return tn::Failure(TN_NOT_FOUND, "SetIPConfiguration: no Vexmoor Protocol device has the MAC address " +
                                         tn::gev::FormatMac(lMac));
}
