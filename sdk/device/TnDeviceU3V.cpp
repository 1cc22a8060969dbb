#include "TnDeviceU3V.h"

#include <string.h>

#include <fstream>
#include <map>

#include "TnDeviceCore.h"
#include "TnGevAddress.h"
#include "TnSystemInternal.h"

namespace tn
{
namespace device
{
namespace
{
TnResult Failure(uint32_t aCode, const std::string &aText)
{
    return TnResult(aCode, TnString(aText.c_str()));
}

// The register layout of a simulated USB3 Vision device (little-endian, as
// USB3 Vision devices are): the technology-agnostic bootstrap registers, a
// manifest of one GenICam file, the camera's own registers and the file.
enum : uint64_t
{
    kAbrmGenCPVersion = 0x0000,
    kAbrmManufacturerName = 0x0004,
    kAbrmModelName = 0x0044,
    kAbrmFamilyName = 0x0084,
    kAbrmDeviceVersion = 0x00C4,
    kAbrmManufacturerInfo = 0x0104,
    kAbrmSerialNumber = 0x0144,
    kAbrmUserDefinedName = 0x0184,
    kAbrmManifestTable = 0x01D0,
    kAbrmHeartbeatTimeout = 0x01E8,
    kAbrmTextSize = 64,
    kManifest = 0x1000,             // entry count (64 bits), then 64-byte entries
    kManifestFileType = 0x3F << 10, // in the entry's second word: 0 plain XML, 1 zip
    kCamera = 0x10000,
    kCameraWidth = kCamera + 0x00,
    kCameraHeight = kCamera + 0x04,
    kCameraPixelFormat = kCamera + 0x08,
    kCameraAcquisition = kCamera + 0x0C,
    kCameraParamsLocked = kCamera + 0x10,
    kCameraEnd = kCamera + 0x100,
    kXmlAddress = 0x100000
};

const char kBuiltInXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<RegisterDescription ModelName=\"SimulatedU3V\" VendorName=\"Tarn\" StandardNameSpace=\"None\""
    " SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" MajorVersion=\"1\""
    " MinorVersion=\"0\" SubMinorVersion=\"0\" ProductGuid=\"0\" VersionGuid=\"0\""
    " xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n"
    "<Category Name=\"Root\" NameSpace=\"Standard\"><pFeature>DeviceControl</pFeature>"
    "<pFeature>ImageFormatControl</pFeature><pFeature>AcquisitionControl</pFeature></Category>\n"
    "<Category Name=\"DeviceControl\" NameSpace=\"Standard\"><pFeature>DeviceVendorName</pFeature>"
    "<pFeature>DeviceModelName</pFeature><pFeature>DeviceVersion</pFeature>"
    "<pFeature>DeviceSerialNumber</pFeature><pFeature>DeviceUserID</pFeature></Category>\n"
    "<Category Name=\"ImageFormatControl\" NameSpace=\"Standard\"><pFeature>Width</pFeature>"
    "<pFeature>Height</pFeature><pFeature>PixelFormat</pFeature><pFeature>PayloadSize</pFeature></Category>\n"
    "<Category Name=\"AcquisitionControl\" NameSpace=\"Standard\"><pFeature>AcquisitionStart</pFeature>"
    "<pFeature>AcquisitionStop</pFeature><pFeature>TLParamsLocked</pFeature></Category>\n"
    "<StringReg Name=\"DeviceVendorName\" NameSpace=\"Standard\"><Address>0x4</Address><Length>64</Length>"
    "<AccessMode>RO</AccessMode><pPort>Device</pPort></StringReg>\n"
    "<StringReg Name=\"DeviceModelName\" NameSpace=\"Standard\"><Address>0x44</Address><Length>64</Length>"
    "<AccessMode>RO</AccessMode><pPort>Device</pPort></StringReg>\n"
    "<StringReg Name=\"DeviceVersion\" NameSpace=\"Standard\"><Address>0xC4</Address><Length>64</Length>"
    "<AccessMode>RO</AccessMode><pPort>Device</pPort></StringReg>\n"
    "<StringReg Name=\"DeviceSerialNumber\" NameSpace=\"Standard\"><Address>0x144</Address><Length>64</Length>"
    "<AccessMode>RO</AccessMode><pPort>Device</pPort></StringReg>\n"
    "<StringReg Name=\"DeviceUserID\" NameSpace=\"Standard\"><Address>0x184</Address><Length>64</Length>"
    "<AccessMode>RW</AccessMode><pPort>Device</pPort></StringReg>\n"
    "<Integer Name=\"Width\" NameSpace=\"Standard\"><pValue>WidthReg</pValue><Min>16</Min><Max>4096</Max>"
    "<Inc>4</Inc></Integer>\n"
    "<IntReg Name=\"WidthReg\"><Address>0x10000</Address><Length>4</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>\n"
    "<Integer Name=\"Height\" NameSpace=\"Standard\"><pValue>HeightReg</pValue><Min>16</Min><Max>4096</Max>"
    "</Integer>\n"
    "<IntReg Name=\"HeightReg\"><Address>0x10004</Address><Length>4</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>\n"
    "<Enumeration Name=\"PixelFormat\" NameSpace=\"Standard\">"
    "<EnumEntry Name=\"Mono8\" NameSpace=\"Standard\"><Value>17301505</Value></EnumEntry>"
    "<EnumEntry Name=\"Mono16\" NameSpace=\"Standard\"><Value>17825799</Value></EnumEntry>"
    "<pValue>PixelFormatReg</pValue></Enumeration>\n"
    "<IntReg Name=\"PixelFormatReg\"><Address>0x10008</Address><Length>4</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>\n"
    "<IntSwissKnife Name=\"PayloadSize\" NameSpace=\"Standard\"><pVariable Name=\"W\">Width</pVariable>"
    "<pVariable Name=\"H\">Height</pVariable><pVariable Name=\"P\">PixelFormatReg</pVariable>"
    "<Formula>W * H * ((P &gt;&gt; 16) &amp; 0xFF) / 8</Formula></IntSwissKnife>\n"
    "<Command Name=\"AcquisitionStart\" NameSpace=\"Standard\"><pValue>AcquisitionReg</pValue>"
    "<CommandValue>1</CommandValue></Command>\n"
    "<Command Name=\"AcquisitionStop\" NameSpace=\"Standard\"><pValue>AcquisitionReg</pValue>"
    "<CommandValue>0</CommandValue></Command>\n"
    "<IntReg Name=\"AcquisitionReg\"><Address>0x1000C</Address><Length>4</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort><Cachable>NoCache</Cachable><Sign>Unsigned</Sign>"
    "<Endianess>LittleEndian</Endianess></IntReg>\n"
    "<Integer Name=\"TLParamsLocked\" NameSpace=\"Standard\"><pValue>ParamsLockedReg</pValue><Min>0</Min>"
    "<Max>1</Max></Integer>\n"
    "<IntReg Name=\"ParamsLockedReg\"><Address>0x10010</Address><Length>4</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>\n"
    "<Port Name=\"Device\" NameSpace=\"Standard\"/>\n"
    "</RegisterDescription>\n";

void PutLE(std::vector<uint8_t> &aMemory, uint64_t aAddress, uint64_t aValue, size_t aSize)
{
    for (size_t lIndex = 0; lIndex < aSize; ++lIndex, aValue >>= 8)
    {
        aMemory[aAddress + lIndex] = static_cast<uint8_t>(aValue);
    }
}

uint64_t GetLE(const uint8_t *aBytes, size_t aSize)
{
    uint64_t lValue = 0;
    for (size_t lIndex = aSize; lIndex > 0; --lIndex)
    {
        lValue = (lValue << 8) | aBytes[lIndex - 1];
    }
    return lValue;
}

void PutText(std::vector<uint8_t> &aMemory, uint64_t aAddress, const std::string &aText)
{
    memcpy(aMemory.data() + aAddress, aText.data(), std::min<size_t>(aText.size(), kAbrmTextSize - 1));
}

// One simulated device: its memory, shared by the controllers of this
// process, which may open it one at a time.
struct SimulatedDevice
{
    std::mutex mMutex;
    std::vector<uint8_t> mMemory;
    bool mOpen = false;
};

std::string SimulatedKey(const system::TnSimulatedDeviceRecord &aRecord)
{
    return aRecord.mGUID.empty() ? "line-" + std::to_string(aRecord.mLine) : aRecord.mGUID;
}

TnResult BuildDevice(const system::TnSimulatedDeviceRecord &aRecord, SimulatedDevice &aDevice)
{
    std::vector<uint8_t> lFile(kBuiltInXml, kBuiltInXml + sizeof(kBuiltInXml) - 1);
    bool lZipped = false;
    std::string lName = "SimulatedU3V.xml";
    if (!aRecord.mXmlPath.empty())
    {
        std::ifstream lStream(aRecord.mXmlPath, std::ios::binary);
        if (!lStream)
        {
            return Failure(TN_CANNOT_OPEN_FILE,
                           "Connect: the simulated device's GenICam file " + aRecord.mXmlPath + " cannot be read");
        }
        lFile.assign(std::istreambuf_iterator<char>(lStream), std::istreambuf_iterator<char>());
        const size_t lSlash = aRecord.mXmlPath.find_last_of('/');
        lName = lSlash == std::string::npos ? aRecord.mXmlPath : aRecord.mXmlPath.substr(lSlash + 1);
        lZipped = lName.size() > 4 &&
                  (lName.compare(lName.size() - 4, 4, ".zip") == 0 || lName.compare(lName.size() - 4, 4, ".ZIP") == 0);
    }
    if (lFile.size() > kMaxXmlSize)
    {
        return Failure(TN_INVALID_DATA_FORMAT, "Connect: the simulated device's GenICam file is too large");
    }
    std::vector<uint8_t> &lMemory = aDevice.mMemory;
    lMemory.assign(kXmlAddress + lFile.size(), 0);
    PutLE(lMemory, kAbrmGenCPVersion, aRecord.mGenCPVersion, 4);
    PutText(lMemory, kAbrmManufacturerName, aRecord.mVendorName);
    PutText(lMemory, kAbrmModelName, aRecord.mModelName);
    PutText(lMemory, kAbrmFamilyName, aRecord.mFamilyName);
    PutText(lMemory, kAbrmDeviceVersion, aRecord.mVersion);
    PutText(lMemory, kAbrmManufacturerInfo, aRecord.mManufacturerInfo);
    PutText(lMemory, kAbrmSerialNumber, aRecord.mSerialNumber);
    PutText(lMemory, kAbrmUserDefinedName, aRecord.mUserDefinedName);
    PutLE(lMemory, kAbrmManifestTable, kManifest, 8);
    PutLE(lMemory, kAbrmHeartbeatTimeout, 3000, 4);
    PutLE(lMemory, kManifest, 1, 8);
    PutLE(lMemory, kManifest + 8, 0x00010000, 4);                 // file version 1.0.0
    PutLE(lMemory, kManifest + 12, (lZipped ? 1u : 0u) << 10, 4); // file type
    PutLE(lMemory, kManifest + 16, kXmlAddress, 8);
    PutLE(lMemory, kManifest + 24, lFile.size(), 8);
    // The manifest's name of the file, for the file name of a dump.
    memcpy(lMemory.data() + kManifest + 52, lName.data(), std::min<size_t>(lName.size(), 20));
    PutLE(lMemory, kCameraWidth, 640, 4);
    PutLE(lMemory, kCameraHeight, 480, 4);
    PutLE(lMemory, kCameraPixelFormat, 0x01080001, 4);
    memcpy(lMemory.data() + kXmlAddress, lFile.data(), lFile.size());
    return TnResult(TN_OK);
}

// The simulated device a description names, made on first use.
TnResult OpenSimulated(const TnDeviceInfoU3V &aInfo, std::shared_ptr<SimulatedDevice> &aDevice)
{
    static std::mutex sMutex;
    static std::map<std::string, std::shared_ptr<SimulatedDevice>> *sDevices =
        new std::map<std::string, std::shared_ptr<SimulatedDevice>>;
    system::TnSimulatedSource lSource;
    TnResult lResult = system::LoadSimulatedDevices(lSource);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    const system::TnSimulatedDeviceRecord *lRecord = nullptr;
    for (const system::TnSimulatedDeviceRecord &lCandidate : lSource.mDevices)
    {
        if (lCandidate.mKind == system::kSimulatedU3V && "U3V:" + SimulatedKey(lCandidate) == aInfo.mUniqueID)
        {
            lRecord = &lCandidate;
            break;
        }
    }
    if (lRecord == nullptr)
    {
        return Failure(TN_NOT_FOUND, "Connect: no USB3 Vision device " + aInfo.mUniqueID +
                                         " is attached (this host reaches simulated devices only)");
    }
    std::lock_guard<std::mutex> lLock(sMutex);
    std::shared_ptr<SimulatedDevice> &lDevice = (*sDevices)[aInfo.mUniqueID];
    if (!lDevice)
    {
        std::shared_ptr<SimulatedDevice> lNew = std::make_shared<SimulatedDevice>();
        lResult = BuildDevice(*lRecord, *lNew);
        if (!lResult.IsOK())
        {
            return lResult;
        }
        lDevice = lNew;
    }
    std::lock_guard<std::mutex> lDeviceLock(lDevice->mMutex);
    if (lDevice->mOpen)
    {
        return Failure(TN_BUSY, "Connect: the device is opened by another controller");
    }
    lDevice->mOpen = true;
    aDevice = lDevice;
    return TnResult(TN_OK);
}

class U3vLink : public Link
{
public:
    explicit U3vLink(std::shared_ptr<SimulatedDevice> aDevice) : mDevice(std::move(aDevice)) {}
    ~U3vLink() override { Close(false); }

    TnResult Read(uint64_t aAddress, void *aData, size_t aSize) override
    {
        std::lock_guard<std::mutex> lLock(mDevice->mMutex);
        ++mCommands;
        if (!mOpen || aAddress > mDevice->mMemory.size() || aSize > mDevice->mMemory.size() - aAddress)
        {
            return Failure(mOpen ? TN_INVALID_PARAMETER : TN_NOT_CONNECTED, "no device memory lies there");
        }
        memcpy(aData, mDevice->mMemory.data() + aAddress, aSize);
        return TnResult(TN_OK);
    }

    TnResult Write(uint64_t aAddress, const void *aData, size_t aSize) override
    {
        std::lock_guard<std::mutex> lLock(mDevice->mMutex);
        ++mCommands;
        // The bootstrap block is read-only but for the user-defined name.
        const bool lWritable =
            (aAddress >= kAbrmUserDefinedName && aAddress + aSize <= kAbrmUserDefinedName + kAbrmTextSize) ||
            (aAddress >= kCamera && aAddress + aSize <= kCameraEnd);
        if (!mOpen || !lWritable)
        {
            return Failure(mOpen ? TN_INVALID_PARAMETER : TN_NOT_CONNECTED, "the device memory there is read-only");
        }
        memcpy(mDevice->mMemory.data() + aAddress, aData, aSize);
        return TnResult(TN_OK);
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
        std::lock_guard<std::mutex> lLock(mDevice->mMutex);
        if (mOpen)
        {
            mOpen = false;
            mDevice->mOpen = false;
        }
    }

    uint32_t GetStreamChannelCount() const override { return 1; }

private:
    std::shared_ptr<SimulatedDevice> mDevice;
    bool mOpen = true;
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
        std::shared_ptr<SimulatedDevice> lDevice;
        TnResult lResult = OpenSimulated(static_cast<const TnDeviceInfoU3V &>(aInfo), lDevice);
        if (lResult.IsOK())
        {
            aLink = std::make_shared<U3vLink>(lDevice);
        }
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
    return GetCore()->Connect(aInfo, TnAccessControl);
}

TnResult TnDeviceU3V::Connect(const TnDeviceInfo *aDeviceInfo)
{
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
    auto lText = [](const TnString &aValue) {
        const char *lChars = aValue.GetAscii();
        return std::string(lChars != nullptr ? lChars : "");
    };
    uint64_t lMac = 0;
    uint32_t lAddress = 0;
    if (!tn::gev::ParseMac(lText(aMACAddress), lMac) || lMac == 0)
    {
        return tn::device::Failure(TN_INVALID_PARAMETER,
                                   "SetIPConfiguration: '" + lText(aMACAddress) + "' is no MAC address");
    }
    if (!tn::gev::ParseIPv4(lText(aIP), lAddress) || !tn::gev::ParseIPv4(lText(aSubnetMask), lAddress) ||
        !tn::gev::ParseIPv4(lText(aGateway), lAddress))
    {
        return tn::device::Failure(TN_INVALID_PARAMETER,
                                   "SetIPConfiguration: the address, subnet mask and gateway must be IPv4 addresses");
    }
    tn::system::TnSimulatedSource lSource;
    tn::system::LoadSimulatedDevices(lSource);
    for (const tn::system::TnSimulatedDeviceRecord &lRecord : lSource.mDevices)
    {
        if (lRecord.mKind == tn::system::kSimulatedVexmoor && tn::gev::MacFromBytes(lRecord.mMac) == lMac)
        {
            return tn::device::Failure(TN_NOT_SUPPORTED, "SetIPConfiguration: this host has no Vexmoor Protocol "
                                                         "transport; simulated devices keep their configuration");
        }
    }
    return tn::device::Failure(TN_NOT_FOUND, "SetIPConfiguration: no Vexmoor Protocol device has the MAC address " +
                                                 tn::gev::FormatMac(lMac));
}
