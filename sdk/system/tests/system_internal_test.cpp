#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "TnDeviceMatching.h"
#include "TnDeviceRecords.h"
#include "TnGevAddress.h"
#include "TnGvcpServer.h"
#include "TnSystemInternal.h"
#include "TnTestDevices.h"
#include "TnTestNetwork.h"
#include "TnUdpSocket.h"

using namespace tn::system;

namespace
{
const ::testing::Environment *gEnvironment =
    ::testing::AddGlobalTestEnvironment(new tn::test::PrivateNetworkEnvironment);

// Whether the device a search found answers to an identifier, as the
// public search judges it.
bool Names(const TnGevDeviceRecord &aDevice, const std::string &aIdentifier)
{
    const std::unique_ptr<TnDeviceInfoGEV> lInfo(MakeGevDevice(aDevice));
    return MatchesIdentifier(*lInfo, aIdentifier);
}

// A scratch directory, removed with everything in it.
class ScratchDirectory
{
public:
    ScratchDirectory()
    {
        char lTemplate[] = "/tmp/tn-system-test-XXXXXX";
        const char *lPath = mkdtemp(lTemplate);
        mPath = lPath != nullptr ? lPath : "";
    }

    ~ScratchDirectory()
    {
        if (!mPath.empty())
        {
            std::error_code lError;
            std::filesystem::remove_all(mPath, lError);
        }
    }

    const std::string &Path() const
    {
        return mPath;
    }

    void Write(const std::string &aRelative, const std::string &aText) const
    {
        std::ofstream(mPath + "/" + aRelative) << aText;
    }

private:
    std::string mPath;
};

void AddPciDevice(const ScratchDirectory &aRoot, const std::string &aName, const char *aClass, const char *aVendor,
                  const char *aDevice, const char *aDriver)
{
    ASSERT_EQ(mkdir((aRoot.Path() + "/" + aName).c_str(), 0755), 0);
    aRoot.Write(aName + "/class", std::string(aClass) + "\n");
    if (aVendor != nullptr)
    {
        aRoot.Write(aName + "/vendor", std::string(aVendor) + "\n");
    }
    aRoot.Write(aName + "/device", std::string(aDevice) + "\n");
    aRoot.Write(aName + "/subsystem_vendor", "0x17aa\n");
    aRoot.Write(aName + "/subsystem_device", "0x2233\n");
    aRoot.Write(aName + "/revision", "0x21\n");
    if (aDriver != nullptr)
    {
        ASSERT_EQ(symlink((std::string("../../../bus/pci/drivers/") + aDriver).c_str(),
                          (aRoot.Path() + "/" + aName + "/driver").c_str()),
                  0);
    }
}

// A responder for discovery on loopback.
tn::gev::TnGvcpDeviceInfo LoopDevice()
{
    tn::gev::TnGvcpDeviceInfo lInfo;
    lInfo.mVersionMajor = 1;
    lInfo.mVersionMinor = 2;
    lInfo.SetMacValue(0x0250C2ABCDEFull);
    lInfo.mCurrentIP = 0x7F000001;
    lInfo.mSubnetMask = 0xFF000000;
    lInfo.mModelName = "Loop";
    lInfo.mSerialNumber = "LOOP-7";
    lInfo.mUserDefinedName = "bench";
    return lInfo;
}
} // namespace

TEST(Routes, EachInterfaceGetsItsCheapestDefaultGateway)
{
    const std::string lTable =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t FE0200C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n"
        "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "wlan0\t00000000\t0101A8C0\t0001\t0\t0\t0\t00000000\t0\t0\t0\n" // no gateway flag
        "eth1\t00000000\t0100000A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "eth2\t00000000\tnothex!!\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "short line\n";
    const std::map<std::string, uint32_t> lGateways = ParseDefaultGateways(lTable);
    ASSERT_EQ(lGateways.size(), 2u);
    EXPECT_EQ(tn::gev::FormatIPv4(lGateways.at("eth0")), "192.0.2.254");
    EXPECT_EQ(tn::gev::FormatIPv4(lGateways.at("eth1")), "10.0.0.1");
    EXPECT_TRUE(ParseDefaultGateways("").empty());
}

TEST(UsbControllers, HostControllersOfThePciListing)
{
    ScratchDirectory lRoot;
    ASSERT_FALSE(lRoot.Path().empty());
    AddPciDevice(lRoot, "0000:00:14.0", "0x0c0330", "0x8086", "0xa36d", "xhci_hcd");
    AddPciDevice(lRoot, "0000:00:1a.0", "0x0c0320", "0x8086", "0x1e2d", "ehci-pci");
    AddPciDevice(lRoot, "0000:00:1d.0", "0x0c0300", "0x8086", "0x1e26", nullptr);
    AddPciDevice(lRoot, "0000:00:06.0", "0x0c0310", "0x10de", "0x0aa5", "ohci-pci");
    AddPciDevice(lRoot, "0000:00:08.0", "0x0c03fe", "0x1234", "0x0001", nullptr); // a USB device port
    AddPciDevice(lRoot, "0000:00:03.0", "0x020000", "0x1af4", "0x1000", "virtio-pci"); // a network adapter
    AddPciDevice(lRoot, "0000:00:09.0", "garbage", "0x1234", "0x0002", nullptr);
    AddPciDevice(lRoot, "0000:00:0a.0", "0x0c0330", nullptr, "0x0003", nullptr); // no vendor file

    std::vector<TnUsbHostControllerInfo> lControllers;
    ASSERT_TRUE(ListUsbHostControllers(lControllers, lRoot.Path()).IsOK());
    ASSERT_EQ(lControllers.size(), 4u);
    EXPECT_EQ(lControllers[0].mName, "0000:00:06.0");
    EXPECT_EQ(lControllers[0].mSpeed, TnUSBSpeedFull);
    EXPECT_EQ(lControllers[1].mName, "0000:00:14.0");
    EXPECT_EQ(lControllers[1].mSpeed, TnUSBSpeedSuper);
    EXPECT_EQ(lControllers[1].mVendorId, 0x8086u);
    EXPECT_EQ(lControllers[1].mDeviceId, 0xA36Du);
    EXPECT_EQ(lControllers[1].mSubsystemId, 0x223317AAu);
    EXPECT_EQ(lControllers[1].mRevision, 0x21u);
    EXPECT_EQ(lControllers[1].mDriver, "xhci_hcd");
    EXPECT_EQ(lControllers[1].mDescription, "xHCI USB host controller (8086:a36d, xhci_hcd)");
    EXPECT_EQ(lControllers[2].mSpeed, TnUSBSpeedHigh);
    EXPECT_EQ(lControllers[3].mSpeed, TnUSBSpeedFull); // UHCI
    EXPECT_TRUE(lControllers[3].mDriver.empty());

    ASSERT_TRUE(ListUsbHostControllers(lControllers, lRoot.Path() + "/missing").IsOK());
    EXPECT_TRUE(lControllers.empty());
    EXPECT_EQ(UsbSpeedOfProgrammingInterface(0x80), TnUSBSpeedUnknown);
}

TEST(SimulatedDevices, DescriptionsOfEveryKind)
{
    TnSimulatedSource lSource;
    ParseSimulatedDevices("# simulated\r\n"
                          "[controller]\r\n"
                          "name = sim-usb0\n"
                          "vendor-id = 0x8086\n"
                          "DEVICE_ID = 41837\n"
                          "speed = High\n"
                          "\n"
                          "[u3v]\n"
                          "vendor = \"  Example Vision  \"\n"
                          "model = EX-1   # a comment\n"
                          "serial = \"12#34\"\n"
                          "class = peripheral\n"
                          "controller = sim-usb0\n"
                          "status = not_enough_power\n"
                          "speed = high\n"
                          "speeds = full, high, super, super_plus\n"
                          "gencp_version = 1.3\n"
                          "u3v_version = 0x00010002\n"
                          "max_power = 500\n"
                          "driver_installed = no\n"
                          "guid = 1234ABCD0001\n"
                          "\n"
                          "[usb]\n"
                          "model = plain\n"
                          "usb_product_id = 0xBEEF\n"
                          "[vexmoor]\n"
                          "mac = 00-11-22-33-44-55\n"
                          "ip = 192.168.7.20\n"
                          "mask = 255.255.255.0\n"
                          "vendor_id = 200\n"
                          "software_minor = 0xff\n"
                          "adapter = eth0\n",
                          lSource);
    EXPECT_TRUE(lSource.mWarnings.empty()) << lSource.mWarnings.front();
    ASSERT_EQ(lSource.mControllers.size(), 1u);
    EXPECT_EQ(lSource.mControllers[0].mName, "sim-usb0");
    EXPECT_EQ(lSource.mControllers[0].mDeviceId, 41837u);
    EXPECT_EQ(lSource.mControllers[0].mSpeed, TnUSBSpeedHigh);
    EXPECT_TRUE(lSource.mControllers[0].mSimulated);
    ASSERT_EQ(lSource.mDevices.size(), 3u);

    const TnSimulatedDeviceRecord &lCamera = lSource.mDevices[0];
    EXPECT_EQ(lCamera.mKind, kSimulatedU3V);
    EXPECT_EQ(lCamera.mLine, 8u);
    EXPECT_EQ(lCamera.mVendorName, "  Example Vision  ");
    EXPECT_EQ(lCamera.mModelName, "EX-1");
    EXPECT_EQ(lCamera.mSerialNumber, "12#34");
    EXPECT_EQ(lCamera.mClass, TnDeviceClassPeripheral);
    EXPECT_EQ(lCamera.mStatus, TnUSBStatusNotEnoughPower);
    EXPECT_EQ(lCamera.mSpeed, TnUSBSpeedHigh);
    EXPECT_FALSE(lCamera.mLowSpeedSupported);
    EXPECT_TRUE(lCamera.mSuperSpeedPlusSupported);
    EXPECT_EQ(lCamera.mGenCPVersion, 0x00010003u);
    EXPECT_EQ(lCamera.mU3VVersion, 0x00010002u);
    EXPECT_EQ(lCamera.mMaxPower, 500u);
    EXPECT_FALSE(lCamera.mDriverInstalled);
    EXPECT_EQ(lCamera.mGUID, "1234ABCD0001");

    EXPECT_EQ(lSource.mDevices[1].mKind, kSimulatedUSB);
    EXPECT_EQ(lSource.mDevices[1].mUsbProductId, 0xBEEFu);

    const TnSimulatedDeviceRecord &lNetwork = lSource.mDevices[2];
    EXPECT_EQ(lNetwork.mKind, kSimulatedVexmoor);
    EXPECT_EQ(tn::gev::FormatMac(tn::gev::MacFromBytes(lNetwork.mMac)), "00:11:22:33:44:55");
    EXPECT_EQ(tn::gev::FormatIPv4(lNetwork.mIPAddress), "192.168.7.20");
    EXPECT_EQ(lNetwork.mVendorID, 200);
    EXPECT_EQ(lNetwork.mSoftwareMinor, 255);
    EXPECT_EQ(lNetwork.mAdapter, "eth0");
}

TEST(SimulatedDevices, BadInputIsSkippedWithAWarning)
{
    TnSimulatedSource lSource;
    ParseSimulatedDevices("model = orphan\n"            // 1: outside any section
                          "[camera]\n"                  // 2: unknown kind
                          "model = ignored\n"           // 3: inside it: silently skipped
                          "[vexmoor\n"                  // 4: no ']'
                          "[vexmoor]\n"                 // 5
                          "vendor_id = 256\n"           // 6: out of range
                          "ip = 10.0.0.300\n"           // 7
                          "mac = 00:11:22:33:44\n"      // 8
                          "colour = red\n"              // 9: unknown key
                          "just words\n"                // 10: no '='
                          "gencp_version = 1.0\n"       // 11: not a network device's key
                          "model = kept\n"              // 12
                          "[u3v]\n"                     // 13
                          "speed = warp\n"              // 14
                          "speeds = high, ludicrous\n"  // 15
                          "max_power = -5\n"            // 16
                          "driver_installed = maybe\n"  // 17
                          "= value\n",                  // 18
                          lSource);
    ASSERT_EQ(lSource.mDevices.size(), 2u);
    EXPECT_EQ(lSource.mDevices[0].mModelName, "kept");
    EXPECT_EQ(lSource.mDevices[0].mVendorID, 0);
    EXPECT_EQ(lSource.mDevices[0].mIPAddress, 0u);
    EXPECT_EQ(lSource.mDevices[1].mSpeed, TnUSBSpeedSuper);
    EXPECT_TRUE(lSource.mDevices[1].mHighSpeedSupported);
    EXPECT_TRUE(lSource.mDevices[1].mDriverInstalled);
    ASSERT_EQ(lSource.mWarnings.size(), 14u);
    EXPECT_EQ(lSource.mWarnings[0].rfind("line 1: ", 0), 0u);
    EXPECT_NE(lSource.mWarnings[1].find("[camera]"), std::string::npos);
    EXPECT_EQ(lSource.mWarnings.back().rfind("line 18: ", 0), 0u);

    // Limits: an endless line, too many sections.
    TnSimulatedSource lLimits;
    std::string lText = "[usb]\nmodel = " + std::string(5000, 'x') + "\n";
    for (int lIndex = 0; lIndex < 300; ++lIndex)
    {
        lText += "[usb]\n";
    }
    ParseSimulatedDevices(lText, lLimits);
    EXPECT_EQ(lLimits.mDevices.size(), 256u);
    EXPECT_TRUE(lLimits.mDevices[0].mModelName.empty());
    EXPECT_EQ(lLimits.mWarnings.size(), 2u);
    TnSimulatedSource lBinary;
    ParseSimulatedDevices(std::string("[usb]\nmodel = a\0b\n", 18), lBinary);
    ASSERT_EQ(lBinary.mDevices.size(), 1u);
    EXPECT_TRUE(lBinary.mDevices[0].mModelName.empty());
    EXPECT_EQ(lBinary.mWarnings.size(), 1u);
}

TEST(SimulatedDevices, ReadFromTheFileTheEnvironmentNames)
{
    ScratchDirectory lDirectory;
    lDirectory.Write("devices.ini", "[u3v]\nmodel = from-file\n");
    TnSimulatedSource lSource;

    unsetenv(kSimulatedDevicesVariable);
    ASSERT_TRUE(LoadSimulatedDevices(lSource).IsOK());
    EXPECT_TRUE(lSource.mDevices.empty());

    setenv(kSimulatedDevicesVariable, (lDirectory.Path() + "/devices.ini").c_str(), 1);
    ASSERT_TRUE(LoadSimulatedDevices(lSource).IsOK());
    ASSERT_EQ(lSource.mDevices.size(), 1u);
    EXPECT_EQ(lSource.mDevices[0].mModelName, "from-file");

    TnSimulatedSource lMissing;
    setenv(kSimulatedDevicesVariable, (lDirectory.Path() + "/none.ini").c_str(), 1);
    EXPECT_EQ(LoadSimulatedDevices(lMissing).GetCode(), TN_CANNOT_OPEN_FILE);
    EXPECT_TRUE(LoadSimulatedDevicesFrom(lDirectory.Path(), lMissing).IsFailure());
    EXPECT_TRUE(lMissing.mDevices.empty());
    unsetenv(kSimulatedDevicesVariable);
}

TEST(Adapters, LoopbackIsListedWithItsAddress)
{
    std::vector<TnNetworkAdapterInfo> lAdapters;
    ASSERT_TRUE(ListNetworkAdapters(lAdapters).IsOK());
    const TnNetworkAdapterInfo *lLoopback = nullptr;
    for (const TnNetworkAdapterInfo &lAdapter : lAdapters)
    {
        if (lAdapter.mIsLoopback)
        {
            lLoopback = &lAdapter;
        }
    }
    ASSERT_NE(lLoopback, nullptr);
    EXPECT_EQ(lLoopback->mName, "lo");
    EXPECT_GT(lLoopback->mIndex, 0u);
    EXPECT_TRUE(lLoopback->mIsUp);
    EXPECT_TRUE(lLoopback->mHasMac);
    EXPECT_EQ(tn::gev::MacFromBytes(lLoopback->mMac), 0u);
    EXPECT_NE(lLoopback->mDescription.find("lo"), std::string::npos);
    ASSERT_FALSE(lLoopback->mAddresses.empty());
    EXPECT_EQ(lLoopback->mAddresses[0].mAddress, 0x7F000001u);
    EXPECT_EQ(lLoopback->mAddresses[0].mSubnetMask, 0xFF000000u);
    if (tn::test::UsePrivateNetwork())
    {
        EXPECT_EQ(lAdapters.size(), 1u);
        EXPECT_EQ(tn::gev::LocalAddressFor(0x7F000005), 0x7F000001u);
        EXPECT_EQ(tn::gev::LocalAddressFor(0x08080808), 0u); // no route out of here
    }
}

TEST(GevDiscovery, DevicesAreTiedToTheAdapterTheyAnsweredOn)
{
    if (!tn::test::UsePrivateNetwork())
    {
        GTEST_SKIP() << "searches every adapter, so only inside a private network namespace";
    }
    tn::test::BootstrapDevice lDevice(LoopDevice());
    tn::gev::TnGvcpServer lServer;
    ASSERT_TRUE(lServer.Start(&lDevice, 0x7F000001, 0).IsOK());
    std::vector<TnNetworkAdapterInfo> lAdapters;
    ASSERT_TRUE(ListNetworkAdapters(lAdapters).IsOK());

    TnGevDiscoveryOptions lOptions;
    lOptions.mPort = lServer.GetPort();
    lOptions.mTimeoutMs = 300;
    lOptions.mSubnetBroadcast = true;
    std::vector<TnGevDeviceRecord> lDevices;
    ASSERT_TRUE(DiscoverGevDevices(lAdapters, lOptions, lDevices).IsOK());
    ASSERT_EQ(lDevices.size(), 1u);
    const TnGevDeviceRecord &lFound = lDevices[0];
    EXPECT_EQ(lFound.mDevice.mSerialNumber, "LOOP-7");
    EXPECT_EQ(lFound.mDevice.GetVersion(), 0x00010002u);
    EXPECT_EQ(lFound.mAdapterName, "lo");
    EXPECT_EQ(lFound.mAdapterIndex, lAdapters[lFound.mAdapterPosition].mIndex);
    EXPECT_EQ(lFound.mLocalAddress, 0x7F000001u);
    EXPECT_EQ(lFound.mLocalSubnetMask, 0xFF000000u);
    EXPECT_EQ(lFound.mAnswerPort, lServer.GetPort());
    EXPECT_TRUE(lFound.IsOnAdapterSubnet());

    for (const char *lName : {"02:50:c2:ab:cd:ef", "02-50-C2-AB-CD-EF", "127.0.0.1", "bench", "LOOP-7"})
    {
        EXPECT_TRUE(Names(lFound, lName)) << lName;
    }
    for (const char *lName : {"", "02:50:c2:ab:cd:ee", "127.0.0.2", "Loop"})
    {
        EXPECT_FALSE(Names(lFound, lName)) << lName;
    }

    // Find by address, stopping as soon as it answers.
    lOptions.mUnicastAddress = 0x7F000001;
    lOptions.mTimeoutMs = 5000;
    lOptions.mStopWhen = [](const TnGevDeviceRecord &aDevice) { return Names(aDevice, "bench"); };
    const uint64_t lStart = tn::gev::MonotonicMilliseconds();
    ASSERT_TRUE(DiscoverGevDevices(lAdapters, lOptions, lDevices).IsOK());
    EXPECT_LT(tn::gev::MonotonicMilliseconds() - lStart, 2000u);
    ASSERT_EQ(lDevices.size(), 1u);
    EXPECT_EQ(lDevices[0].mAdapterName, "lo");

    TnGevDiscoveryOptions lNowhere;
    lNowhere.mAdapterName = "no-such-adapter";
    EXPECT_EQ(DiscoverGevDevices(lAdapters, lNowhere, lDevices).GetCode(), TN_NOT_FOUND);
    std::vector<TnNetworkAdapterInfo> lDown = lAdapters;
    for (TnNetworkAdapterInfo &lAdapter : lDown)
    {
        lAdapter.mIsUp = false;
    }
    EXPECT_EQ(DiscoverGevDevices(lDown, TnGevDiscoveryOptions(), lDevices).GetCode(), TN_NOT_FOUND);
}

TEST(GevDiscovery, IPConfigurationNames)
{
    EXPECT_EQ(FormatIPConfig(0), "");
    EXPECT_EQ(FormatIPConfig(tn::gev::kIPConfigPersistent | tn::gev::kIPConfigLla | tn::gev::kIPConfigPauseGeneration),
              "LLA(L), Persistent_IP(P), PAUSE_generation(PG)");
    EXPECT_STREQ(UsbSpeedName(TnUSBSpeedSuper), "super");
    EXPECT_STREQ(UsbSpeedName(TnUSBSpeedUnsupported), "Unknown");
}
