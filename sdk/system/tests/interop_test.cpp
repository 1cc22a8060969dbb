// Our discovery and control client against an independent GigE Vision device
// (the aravis fake camera), and our responder against an independent client
// (arv-tool). Every test runs in a network namespace of its own with only
// loopback up, and starts its own peer there: nothing reaches the host's
// network, and no peer outlives its test. Without namespaces or the tools the
// tests are skipped.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "TnDeviceMatching.h"
#include "TnDeviceRecords.h"
#include "TnGenApiLocation.h"
#include "TnGevAddress.h"
#include "TnGevBytes.h"
#include "TnGvcpClient.h"
#include "TnGvcpServer.h"
#include "TnSystemInternal.h"
#include "TnTestDevices.h"
#include "TnTestNetwork.h"
#include "TnTestProcess.h"

using namespace tn::system;
using tn::gev::TnGvcpClient;

namespace
{
constexpr uint32_t kLoopback = 0x7F000001;
constexpr const char *kTool = "arv-tool-0.8";

// Whether the device a search found answers to an identifier, as the
// public search judges it.
bool Names(const TnGevDeviceRecord &aDevice, const std::string &aIdentifier)
{
    const std::unique_ptr<TnDeviceInfoGEV> lInfo(MakeGevDevice(aDevice));
    return MatchesIdentifier(*lInfo, aIdentifier);
}

std::vector<TnGevDeviceRecord> Discover(const TnGevDiscoveryOptions &aOptions)
{
    std::vector<TnNetworkAdapterInfo> lAdapters;
    EXPECT_TRUE(ListNetworkAdapters(lAdapters).IsOK());
    std::vector<TnGevDeviceRecord> lDevices;
    EXPECT_TRUE(DiscoverGevDevices(lAdapters, aOptions, lDevices).IsOK());
    return lDevices;
}

using PrivateNamespace = tn::test::FreshNetworkTest;

using FakeCamera = tn::test::FakeCameraTest;

constexpr uint32_t kWidthAddress = 0x1000;

// A device whose registers are plain memory, for the independent client: a
// description with one feature, Width, in a register of its own.
tn::gev::TnGvcpDeviceInfo ResponderDescription()
{
    tn::gev::TnGvcpDeviceInfo lInfo;
    lInfo.mVersionMajor = 2;
    lInfo.mVersionMinor = 0;
    lInfo.SetMacValue(0x0250C2001234ull);
    lInfo.mCurrentIP = kLoopback;
    lInfo.mSubnetMask = 0xFF000000;
    lInfo.mManufacturerName = "TarnTest";
    lInfo.mModelName = "Responder";
    lInfo.mDeviceVersion = "7.0";
    lInfo.mSerialNumber = "RESP-1";
    return lInfo;
}

class MemoryDevice : public tn::test::MemoryDevice
{
public:
    MemoryDevice() : tn::test::MemoryDevice(ResponderDescription(), 0x10000)
    {
        PutWord(tn::gev::kRegHeartbeatTimeout, 3000);
        PutWord(kWidthAddress, 640);
        SetDescription(
            "responder.xml",
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<RegisterDescription ModelName=\"Responder\" VendorName=\"TarnTest\" StandardNameSpace=\"None\""
            " SchemaMajorVersion=\"1\" SchemaMinorVersion=\"0\" SchemaSubMinorVersion=\"1\" MajorVersion=\"1\""
            " MinorVersion=\"0\" SubMinorVersion=\"0\" ToolTip=\"tarn-responder-marker\""
            " ProductGuid=\"0\" VersionGuid=\"0\" xmlns=\"http://www.genicam.org/GenApi/Version_1_0\">\n"
            "  <Category Name=\"Root\" NameSpace=\"Standard\"><pFeature>Width</pFeature></Category>\n"
            "  <Integer Name=\"Width\" NameSpace=\"Standard\"><pValue>WidthRegister</pValue>"
            "<Min>16</Min><Max>4096</Max></Integer>\n"
            "  <IntReg Name=\"WidthRegister\"><Address>0x1000</Address><Length>4</Length><AccessMode>RW</AccessMode>"
            "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>\n"
            "  <Port Name=\"Device\" NameSpace=\"Standard\"/>\n"
            "</RegisterDescription>\n",
            0x2000);
    }
};
} // namespace

TEST_F(FakeCamera, DiscoveryAnnouncesWhatItsRegistersHold)
{
    std::vector<TnNetworkAdapterInfo> lAdapters;
    ASSERT_TRUE(ListNetworkAdapters(lAdapters).IsOK());
    ASSERT_EQ(lAdapters.size(), 1u) << "the namespace should hold loopback only";

    TnGevDiscoveryOptions lOptions;
    lOptions.mTimeoutMs = 500;
    lOptions.mSubnetBroadcast = true;
    const std::vector<TnGevDeviceRecord> lDevices = Discover(lOptions);
    ASSERT_EQ(lDevices.size(), 1u);
    const TnGevDeviceRecord &lFound = lDevices[0];
    EXPECT_EQ(lFound.mAdapterName, "lo");
    EXPECT_EQ(lFound.mLocalAddress, kLoopback);
    EXPECT_TRUE(lFound.IsOnAdapterSubnet());
    const tn::gev::TnGvcpDeviceInfo &lInfo = lFound.mDevice;
    EXPECT_EQ(lInfo.mManufacturerName, "Aravis");
    EXPECT_EQ(lInfo.mModelName, "Fake");
    EXPECT_EQ(lInfo.mSerialNumber, mSerial);
    EXPECT_EQ(lInfo.mUserDefinedName, "");
    EXPECT_EQ(tn::gev::FormatIPv4(lInfo.mCurrentIP), "127.0.0.1");
    EXPECT_EQ(lInfo.GetMacValue(), tn::gev::MacFromBytes(lAdapters[0].mMac)); // loopback's own MAC
    const std::string lPackage = tn::test::PackageVersion("aravis-tools");
    if (!lPackage.empty())
    {
        EXPECT_EQ(lInfo.mDeviceVersion, lPackage);
    }

    // The same facts, read one by one from the bootstrap registers.
    TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback).IsOK());
    const uint32_t lAddresses[] = {tn::gev::kRegVersion, tn::gev::kRegDeviceMode, tn::gev::kRegMacHigh,
                                   tn::gev::kRegMacLow,  tn::gev::kRegCurrentIP,  tn::gev::kRegCurrentSubnetMask,
                                   tn::gev::kRegCurrentIPConfig};
    uint32_t lValues[7] = {};
    ASSERT_TRUE(lClient.ReadRegisters(lAddresses, lValues, 7).IsOK());
    EXPECT_EQ(lValues[0], lInfo.GetVersion());
    EXPECT_EQ(lValues[1], lInfo.mDeviceMode);
    EXPECT_EQ((static_cast<uint64_t>(lValues[2] & 0xFFFF) << 32) | lValues[3], lInfo.GetMacValue());
    EXPECT_EQ(lValues[4], lInfo.mCurrentIP);
    EXPECT_EQ(lValues[5], lInfo.mSubnetMask);
    EXPECT_EQ(lValues[6], lInfo.mCurrentIPConfig);
    std::string lText;
    ASSERT_TRUE(lClient.ReadString(tn::gev::kRegModelName, tn::gev::kModelNameSize, lText).IsOK());
    EXPECT_EQ(lText, lInfo.mModelName);
    ASSERT_TRUE(lClient.ReadString(tn::gev::kRegDeviceVersion, tn::gev::kDeviceVersionSize, lText).IsOK());
    EXPECT_EQ(lText, lInfo.mDeviceVersion);
    ASSERT_TRUE(lClient.ReadString(tn::gev::kRegManufacturerInfo, tn::gev::kManufacturerInfoSize, lText).IsOK());
    EXPECT_EQ(lText, lInfo.mManufacturerInfo);
    ASSERT_TRUE(lClient.ReadString(tn::gev::kRegSerialNumber, tn::gev::kSerialNumberSize, lText).IsOK());
    EXPECT_EQ(lText, mSerial);
}

TEST_F(FakeCamera, UserDefinedNameIsAnnouncedAndFound)
{
    TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback).IsOK());
    char lName[tn::gev::kUserDefinedNameSize] = "tn-interop";
    ASSERT_TRUE(lClient.WriteMemory(tn::gev::kRegUserDefinedName, lName, sizeof(lName)).IsOK());

    TnGevDiscoveryOptions lOptions;
    lOptions.mTimeoutMs = 5000;
    lOptions.mStopWhen = [](const TnGevDeviceRecord &aDevice) { return Names(aDevice, "tn-interop"); };
    const uint64_t lStart = tn::gev::MonotonicMilliseconds();
    const std::vector<TnGevDeviceRecord> lDevices = Discover(lOptions);
    EXPECT_LT(tn::gev::MonotonicMilliseconds() - lStart, 2500u) << "the search went on after the device answered";
    ASSERT_EQ(lDevices.size(), 1u);
    EXPECT_EQ(lDevices[0].mDevice.mUserDefinedName, "tn-interop");
    EXPECT_TRUE(Names(lDevices[0], mSerial));
    EXPECT_TRUE(Names(lDevices[0], "127.0.0.1"));
}

TEST_F(FakeCamera, FindByAddressAsksThatAddressOnly)
{
    TnGevDiscoveryOptions lOptions;
    lOptions.mTimeoutMs = 400;
    lOptions.mUnicastAddress = kLoopback;
    std::vector<TnGevDeviceRecord> lDevices = Discover(lOptions);
    ASSERT_EQ(lDevices.size(), 1u);
    EXPECT_EQ(lDevices[0].mDevice.mSerialNumber, mSerial);
    EXPECT_EQ(lDevices[0].mAnswerAddress, kLoopback);
    EXPECT_EQ(lDevices[0].mAnswerPort, tn::gev::kGvcpPort);

    lOptions.mUnicastAddress = 0x7F000002; // nobody listens there
    lDevices = Discover(lOptions);
    EXPECT_TRUE(lDevices.empty());
}

TEST_F(FakeCamera, RegistersAndMemoryThroughOurClient)
{
    TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback).IsOK());
    std::string lUrl;
    ASSERT_TRUE(lClient.ReadString(tn::gev::kRegFirstUrl, tn::gev::kUrlSize, lUrl).IsOK());
    tn::genicam::XmlLocation lLocation;
    ASSERT_TRUE(tn::genicam::ParseXmlLocation(lUrl, lLocation)) << lUrl;
    ASSERT_EQ(lLocation.mKind, tn::genicam::XmlLocation::kLocal);
    ASSERT_GT(lLocation.mLength, 100u);
    ASSERT_LT(lLocation.mLength, 1u << 20);

    std::vector<char> lXml(lLocation.mLength + 1, 0);
    ASSERT_TRUE(lClient.ReadMemory(lLocation.mAddress, lXml.data(), lLocation.mLength).IsOK());
    const std::string lText(lXml.data());
    EXPECT_EQ(lText.size(), lLocation.mLength) << "the description holds a NUL";
    EXPECT_EQ(lText.rfind("<?xml", 0), 0u);
    EXPECT_NE(lText.find("<RegisterDescription"), std::string::npos);
    EXPECT_NE(lText.find("ModelName=\"Fake\""), std::string::npos);
    EXPECT_NE(lText.find("</RegisterDescription>"), std::string::npos);

    // Take control, as a controlling application does, and read it back.
    ASSERT_TRUE(lClient.WriteRegister(tn::gev::kRegControlChannelPrivilege, tn::gev::kPrivilegeControl).IsOK());
    uint32_t lPrivilege = 0;
    ASSERT_TRUE(lClient.ReadRegister(tn::gev::kRegControlChannelPrivilege, lPrivilege).IsOK());
    EXPECT_EQ(lPrivilege & tn::gev::kPrivilegeControl, tn::gev::kPrivilegeControl);
    uint32_t lHeartbeat = 0;
    ASSERT_TRUE(lClient.ReadRegister(tn::gev::kRegHeartbeatTimeout, lHeartbeat).IsOK());
    EXPECT_EQ(lHeartbeat, 3000u);
    ASSERT_TRUE(lClient.WriteRegister(tn::gev::kRegControlChannelPrivilege, 0).IsOK());
}

TEST_F(PrivateNamespace, TheirClientReadsOurResponder)
{
    const std::string lTool = tn::test::FindProgram(kTool);
    if (lTool.empty())
    {
        GTEST_SKIP() << kTool << " is not installed (Debian package aravis-tools-cli)";
    }
    MemoryDevice lDevice;
    tn::gev::TnGvcpServer lServer;
    ASSERT_TRUE(lServer.Start(&lDevice, kLoopback, tn::gev::kGvcpPort).IsOK());

    int lStatus = -1;
    const std::string lList = tn::test::RunProgram({lTool}, 20000, &lStatus);
    EXPECT_NE(lList.find("TarnTest-Responder-RESP-1"), std::string::npos) << lList;
    EXPECT_NE(lList.find("127.0.0.1"), std::string::npos) << lList;

    const std::string lXml = tn::test::RunProgram({lTool, "-a", "127.0.0.1", "genicam"}, 20000, &lStatus);
    EXPECT_NE(lXml.find("tarn-responder-marker"), std::string::npos) << lXml;

    const std::string lRead = tn::test::RunProgram({lTool, "-a", "127.0.0.1", "control", "Width"}, 20000, &lStatus);
    EXPECT_NE(lRead.find("Width = 640"), std::string::npos) << lRead;
    const std::string lWrite =
        tn::test::RunProgram({lTool, "-a", "127.0.0.1", "control", "Width=800"}, 20000, &lStatus);
    EXPECT_EQ(lDevice.Word(kWidthAddress), 800u) << lWrite;
}
