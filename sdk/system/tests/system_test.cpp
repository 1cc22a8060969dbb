// The public discovery classes: the host's own interfaces, GigE Vision
// devices served by our responder in a private network namespace, simulated
// USB3 Vision devices, copies and session announcements.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnGvcpServer.h"
#include "TnLogDispatch.h"
#include "TnSessionDiscovery.h"
#include "TnSinkRegistry.h"
#include "TnSystem.h"
#include "TnTestDevices.h"
#include "TnTestNetwork.h"
#include "TnText.h"

namespace
{
// A device announcing itself on loopback.
tn::gev::TnGvcpDeviceInfo LoopDevice(const char *aSerial)
{
    tn::gev::TnGvcpDeviceInfo lInfo;
    lInfo.mVersionMajor = 2;
    lInfo.mVersionMinor = 1;
    lInfo.mDeviceMode = 0x80000000u; // big-endian transmitter
    lInfo.SetMacValue(0x0250C2ABCDEFull);
    lInfo.mSupportedIPConfig = 0x80000007u;
    lInfo.mCurrentIPConfig = 0x00000005u;
    lInfo.mCurrentIP = 0x7F000001;
    lInfo.mSubnetMask = 0xFF000000;
    lInfo.mDefaultGateway = 0x7F0000FE;
    lInfo.mManufacturerName = "Tarn";
    lInfo.mModelName = "Loop";
    lInfo.mDeviceVersion = "1.2.3";
    lInfo.mManufacturerInfo = "made for tests";
    lInfo.mSerialNumber = aSerial;
    lInfo.mUserDefinedName = "bench";
    return lInfo;
}

using PrivateNetwork = tn::test::PrivateNetworkTest;

const TnNetworkAdapter *Loopback(const TnSystem &aSystem)
{
    for (uint32_t lIndex = 0; lIndex < aSystem.GetInterfaceCount(); ++lIndex)
    {
        const TnNetworkAdapter *lAdapter = dynamic_cast<const TnNetworkAdapter *>(aSystem.GetInterface(lIndex));
        if (lAdapter != nullptr && lAdapter->GetIPAddressCount() > 0 &&
            tn::ToString(lAdapter->GetIPAddress(0)) == "127.0.0.1")
        {
            return lAdapter;
        }
    }
    return nullptr;
}

class CountingSink : public TnSystemEventSink
{
public:
    void OnDeviceFound(const TnDeviceInfo *) override
    {
        ++mFound;
        throw std::runtime_error("a failing sink must not end the search");
    }
    int mFound = 0;
};
} // namespace

TEST(System, SettingsAreClampedAndVersionsKnown)
{
    TnSystem lSystem;
    EXPECT_EQ(lSystem.GetDetectionTimeout(), 1500u);
    lSystem.SetDetectionTimeout(5);
    EXPECT_EQ(lSystem.GetDetectionTimeout(), 100u);
    lSystem.SetDetectionTimeout(4294967295u);
    EXPECT_EQ(lSystem.GetDetectionTimeout(), 60000u);
    EXPECT_FALSE(lSystem.GetSubnetBroadcastEnabled());
    lSystem.SetSubnetBroadcastEnabled(true);
    EXPECT_TRUE(lSystem.GetSubnetBroadcastEnabled());
    EXPECT_EQ(lSystem.GetGEVSupportedVersion() >> 16, 2u);
    EXPECT_EQ(lSystem.GetInterface(0), nullptr);
    EXPECT_EQ(lSystem.GetDeviceInfo(0), nullptr);
    const TnDeviceInfo *lFound = reinterpret_cast<const TnDeviceInfo *>(1);
    EXPECT_EQ(lSystem.FindDevice(TnString(""), &lFound).GetCode(), static_cast<uint32_t>(TN_INVALID_PARAMETER));
    EXPECT_EQ(lFound, nullptr);
    EXPECT_EQ(lSystem.FindDevice(TnString("x"), nullptr).GetCode(), static_cast<uint32_t>(TN_INVALID_PARAMETER));
    EXPECT_EQ(lSystem.RegisterEventSink(nullptr).GetCode(), static_cast<uint32_t>(TN_INVALID_PARAMETER));
    EXPECT_EQ(lSystem.UnregisterEventSink(nullptr).GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
    TnSessionInfo lSession;
    EXPECT_EQ(lSystem.GetSessionInfo(0, lSession).GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
    EXPECT_FALSE(TnInterface::Compare(nullptr, nullptr));
}

TEST_F(PrivateNetwork, FindsOurResponderOnLoopback)
{
    tn::test::BootstrapDevice lDevice(LoopDevice("LOOP-7"));
    tn::gev::TnGvcpServer lServer;
    ASSERT_TRUE(lServer.Start(&lDevice, 0x7F000001).IsOK());
    TnSystem lSystem;
    lSystem.SetDetectionTimeout(300);
    CountingSink lSink;
    ASSERT_TRUE(lSystem.RegisterEventSink(&lSink).IsOK());
    EXPECT_EQ(lSystem.RegisterEventSink(&lSink).GetCode(), tn::kSinkRegisteredTwice);
    ASSERT_TRUE(lSystem.Find().IsOK());
    EXPECT_EQ(lSink.mFound, 1);
    const TnNetworkAdapter *lLoopback = Loopback(lSystem);
    ASSERT_NE(lLoopback, nullptr);
    EXPECT_EQ(lLoopback->GetType(), TnInterfaceTypeNetworkAdapter);
    EXPECT_EQ(tn::ToString(lLoopback->GetMACAddress()), "00.00.00.00.00.00");
    EXPECT_EQ(tn::ToString(lLoopback->GetSubnetMask(0)), "255.0.0.0");
    EXPECT_EQ(tn::ToString(lLoopback->GetIPAddress(9)), "");
    ASSERT_EQ(lLoopback->GetDeviceCount(), 1u);
    ASSERT_EQ(lSystem.GetDeviceCount(), 1u);
    const TnDeviceInfoGEV *lGev = dynamic_cast<const TnDeviceInfoGEV *>(lSystem.GetDeviceInfo(0));
    ASSERT_NE(lGev, nullptr);
    EXPECT_EQ(lGev, lLoopback->GetDeviceInfo(0));
    EXPECT_EQ(lGev->GetInterface(), lLoopback);
    EXPECT_EQ(lGev->GetType(), TnDeviceInfoTypeGEV);
    EXPECT_EQ(tn::ToString(lGev->GetMACAddress()), "02:50:c2:ab:cd:ef");
    EXPECT_EQ(tn::ToString(lGev->GetIPAddress()), "127.0.0.1");
    EXPECT_EQ(tn::ToString(lGev->GetDefaultGateway()), "127.0.0.254");
    EXPECT_EQ(tn::ToString(lGev->GetSubnetMask()), "255.0.0.0");
    EXPECT_EQ(lGev->GetGEVVersion(), 0x00020001u);
    EXPECT_EQ(tn::ToString(lGev->GetVendorName()), "Tarn");
    EXPECT_EQ(tn::ToString(lGev->GetVersion()), "1.2.3");
    EXPECT_EQ(tn::ToString(lGev->GetSerialNumber()), "LOOP-7");
    EXPECT_EQ(tn::ToString(lGev->GetUserDefinedName()), "bench");
    EXPECT_EQ(tn::ToString(lGev->GetConnectionID()), "127.0.0.1");
    EXPECT_EQ(lGev->GetClass(), TnDeviceClassTransmitter);
    EXPECT_TRUE(lGev->IsConfigurationValid());
    EXPECT_TRUE(lGev->IsLLAAvailable() && lGev->IsDHCPAvailable() && lGev->IsPersistentAvailable());
    EXPECT_TRUE(lGev->IsPRAvailable() && !lGev->IsPGAvailable());
    EXPECT_TRUE(lGev->IsPersistentEnabled() && lGev->IsLLAEnabled() && !lGev->IsDHCPEnabled());
    EXPECT_EQ(tn::ToString(lGev->GetIPConfigCurrentString()), "LLA(L), Persistent_IP(P)");

    for (const char *lIdentifier : {"02:50:c2:ab:cd:ef", "127.0.0.1", "bench", "LOOP-7"})
    {
        const TnDeviceInfo *lFound = nullptr;
        EXPECT_TRUE(lSystem.FindDevice(TnString(lIdentifier), &lFound).IsOK()) << lIdentifier;
        ASSERT_NE(lFound, nullptr) << lIdentifier;
        EXPECT_EQ(tn::ToString(lFound->GetSerialNumber()), "LOOP-7");
    }
    // Searches that find the same again hand out the same objects.
    EXPECT_EQ(lSystem.GetDeviceInfo(0), lGev);
    EXPECT_EQ(Loopback(lSystem), lLoopback);
    EXPECT_EQ(tn::ToString(lGev->GetSerialNumber()), "LOOP-7");
    const TnDeviceInfo *lMissing = nullptr;
    EXPECT_EQ(lSystem.FindDevice(TnString("127.0.0.9"), &lMissing).GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
    EXPECT_EQ(lMissing, nullptr);
    lSystem.UnregisterEventSink(&lSink);
}

TEST_F(PrivateNetwork, LaterSearchesLeaveWhatEarlierOnesHandedOutUnchanged)
{
    TnSystem lSystem;
    lSystem.SetDetectionTimeout(200);
    const TnDeviceInfo *lFirst = nullptr;
    const TnNetworkAdapter *lFirstLoopback = nullptr;
    {
        tn::test::BootstrapDevice lDevice(LoopDevice("KEEP-1"));
        tn::gev::TnGvcpServer lServer;
        ASSERT_TRUE(lServer.Start(&lDevice, 0x7F000001).IsOK());
        ASSERT_TRUE(lSystem.Find().IsOK());
        lFirstLoopback = Loopback(lSystem);
        ASSERT_NE(lFirstLoopback, nullptr);
        ASSERT_EQ(lFirstLoopback->GetDeviceCount(), 1u);
        lFirst = lFirstLoopback->GetDeviceInfo(0);
        ASSERT_TRUE(lSystem.Find().IsOK());
        EXPECT_EQ(Loopback(lSystem), lFirstLoopback);
        EXPECT_EQ(lSystem.GetDeviceInfo(0), lFirst);
        lServer.Stop();
    }
    // The same address now answers with another serial number: the new
    // search describes it anew, and the old description still says what it
    // said.
    tn::test::BootstrapDevice lDevice(LoopDevice("KEEP-2"));
    tn::gev::TnGvcpServer lServer;
    ASSERT_TRUE(lServer.Start(&lDevice, 0x7F000001).IsOK());
    ASSERT_TRUE(lSystem.Find().IsOK());
    const TnNetworkAdapter *lLoopback = Loopback(lSystem);
    ASSERT_NE(lLoopback, nullptr);
    ASSERT_EQ(lLoopback->GetDeviceCount(), 1u);
    EXPECT_NE(lLoopback->GetDeviceInfo(0), lFirst);
    EXPECT_EQ(tn::ToString(lLoopback->GetDeviceInfo(0)->GetSerialNumber()), "KEEP-2");
    EXPECT_EQ(tn::ToString(lFirst->GetSerialNumber()), "KEEP-1");
    EXPECT_EQ(lFirst->GetInterface(), lFirstLoopback);
    EXPECT_EQ(lFirstLoopback->GetDeviceInfo(0), lFirst);
    // Nothing answers: the lists empty, the old objects stay readable.
    lServer.Stop();
    ASSERT_TRUE(lSystem.Find().IsOK());
    EXPECT_EQ(lSystem.GetDeviceCount(), 0u);
    EXPECT_EQ(tn::ToString(lFirst->GetSerialNumber()), "KEEP-1");
}

TEST_F(PrivateNetwork, CopiesOutliveTheirSystem)
{
    tn::test::BootstrapDevice lDevice(LoopDevice("COPY-1"));
    tn::gev::TnGvcpServer lServer;
    ASSERT_TRUE(lServer.Start(&lDevice, 0x7F000001).IsOK());
    TnDeviceInfo *lDeviceCopy = nullptr;
    TnInterface *lAdapterCopy = nullptr;
    {
        TnSystem lSystem;
        lSystem.SetDetectionTimeout(200);
        ASSERT_TRUE(lSystem.Find().IsOK());
        const TnNetworkAdapter *lLoopback = Loopback(lSystem);
        ASSERT_NE(lLoopback, nullptr);
        ASSERT_EQ(lLoopback->GetDeviceCount(), 1u);
        lDeviceCopy = lLoopback->GetDeviceInfo(0)->Copy();
        lAdapterCopy = lLoopback->Copy();
        // Releasing what the system holds does nothing.
        const_cast<TnDeviceInfo *>(lLoopback->GetDeviceInfo(0))->Release();
        const_cast<TnNetworkAdapter *>(lLoopback)->Release();
        EXPECT_EQ(tn::ToString(lLoopback->GetDeviceInfo(0)->GetSerialNumber()), "COPY-1");
    }
    EXPECT_EQ(tn::ToString(lDeviceCopy->GetSerialNumber()), "COPY-1");
    EXPECT_EQ(lDeviceCopy->GetInterface(), nullptr);
    EXPECT_NE(dynamic_cast<TnDeviceInfoGEV *>(lDeviceCopy), nullptr);
    ASSERT_EQ(lAdapterCopy->GetDeviceCount(), 1u);
    EXPECT_EQ(lAdapterCopy->GetDeviceInfo(0)->GetInterface(), lAdapterCopy);
    EXPECT_FALSE(TnInterface::Compare(lAdapterCopy, lAdapterCopy));
    lDeviceCopy->Release();
    lAdapterCopy->Release();
}

TEST_F(PrivateNetwork, SimulatedUsb3VisionDevices)
{
    char lPath[] = "/tmp/tn-simulated-XXXXXX";
    const int lHandle = mkstemp(lPath);
    ASSERT_GE(lHandle, 0);
    close(lHandle);
    std::ofstream(lPath) << "[controller]\nname = sim0\ndescription = Simulated xHCI\nspeed = super\n"
                            "[u3v]\nvendor = Tarn\nmodel = U3\nserial = U3-1\nguid = TARN-U3-0001\n"
                            "controller = sim0\nspeed = high\n";
    setenv("TARN_SIMULATED_DEVICES", lPath, 1);
    TnSystem lSystem;
    lSystem.SetDetectionTimeout(100);
    ASSERT_TRUE(lSystem.Find().IsOK());
    const TnDeviceInfoU3V *lU3v = nullptr;
    for (uint32_t lIndex = 0; lIndex < lSystem.GetDeviceCount() && lU3v == nullptr; ++lIndex)
    {
        lU3v = dynamic_cast<const TnDeviceInfoU3V *>(lSystem.GetDeviceInfo(lIndex));
    }
    unsetenv("TARN_SIMULATED_DEVICES");
    unlink(lPath);
    ASSERT_NE(lU3v, nullptr);
    EXPECT_EQ(lU3v->GetType(), TnDeviceInfoTypeU3V);
    EXPECT_EQ(tn::ToString(lU3v->GetDeviceGUID()), "TARN-U3-0001");
    EXPECT_EQ(lU3v->GetSpeed(), TnUSBSpeedHigh);
    EXPECT_TRUE(lU3v->IsCurrentSpeedSupported());
    EXPECT_EQ(tn::ToString(lU3v->GetPowerMessage()), "Ok");
    const TnUSBHostController *lController = dynamic_cast<const TnUSBHostController *>(lU3v->GetInterface());
    ASSERT_NE(lController, nullptr);
    EXPECT_EQ(tn::ToString(lController->GetName()), "Simulated xHCI");
    EXPECT_EQ(lController->GetSpeed(), TnUSBSpeedSuper);
    const TnDeviceInfo *lFound = nullptr;
    setenv("TARN_SIMULATED_DEVICES", "/nonexistent", 1);
    EXPECT_EQ(lSystem.FindDevice(TnString("TARN-U3-0001"), &lFound).GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
    unsetenv("TARN_SIMULATED_DEVICES");
}

// The lines the SDK's loggers write, as a registered sink receives them.
class KeptLines : public TnLogSink
{
public:
    struct Line
    {
        std::string mFile;
        std::string mFunction;
        std::string mLogger;
        std::string mMessage;
    };

    KeptLines() { tn::AddLogSink(this); }

    ~KeptLines() override { tn::RemoveLogSink(this); }

    void Log(TnLogLevelEnum, const char *aFile, uint32_t, const char *aFunction, const char *aLogger,
             const char *aMessage) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mLines.push_back({aFile, aFunction, aLogger, aMessage});
    }

    std::vector<Line> Lines()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mLines;
    }

private:
    std::mutex mMutex;
    std::vector<Line> mLines;
};

TEST_F(PrivateNetwork, AFailedSearchTellsWhyAndWhereInTheSources)
{
    KeptLines lLog;
    setenv("TARN_SIMULATED_DEVICES", "/nonexistent/devices.ini", 1);
    TnSystem lSystem;
    lSystem.SetDetectionTimeout(100);
    const TnResult lSearched = lSystem.Find();
    const TnDeviceInfo *lFound = nullptr;
    const TnResult lMissing = lSystem.FindDevice(TnString("NO-SUCH-DEVICE"), &lFound);
    unsetenv("TARN_SIMULATED_DEVICES");

    EXPECT_EQ(lSearched.GetCode(), static_cast<uint32_t>(TN_CANNOT_OPEN_FILE));
    EXPECT_EQ(lMissing.GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
    EXPECT_EQ(tn::ToString(lMissing.GetDescription()),
              "no device answers to NO-SUCH-DEVICE (the search failed: simulated "
              "devices: cannot open /nonexistent/devices.ini)");
    const std::vector<KeptLines::Line> lLines = lLog.Lines();
    ASSERT_EQ(lLines.size(), 2u); // one warning a search
    for (const KeptLines::Line &lLine : lLines)
    {
        EXPECT_EQ(lLine.mMessage, "simulated devices: cannot open /nonexistent/devices.ini");
        EXPECT_EQ(lLine.mLogger, "TnSystem");
        EXPECT_EQ(lLine.mFunction, "TnSystem::Find");
        // The source file by its path in the source tree, not on the build machine.
        EXPECT_EQ(lLine.mFile, "sdk/system/TnSystem.cpp");
    }
}

TEST(Sessions, AnnouncementsDecode)
{
    const std::string lSdp = "v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=Camera 7\r\nc=IN IP4 239.1.2.3/16\r\n"
                             "t=0 0\r\nm=video 5004 RTP/AVP 96\r\n";
    std::vector<uint8_t> lPacket = {0x20, 0x00, 0x12, 0x34, 10, 0, 0, 1};
    const std::string lType = "application/sdp";
    lPacket.insert(lPacket.end(), lType.begin(), lType.end());
    lPacket.push_back(0);
    lPacket.insert(lPacket.end(), lSdp.begin(), lSdp.end());
    tn::system::SessionAnnouncement lSession;
    ASSERT_TRUE(tn::system::DecodeSapPacket(lPacket.data(), lPacket.size(), lSession));
    EXPECT_EQ(lSession.mName, "Camera 7");
    EXPECT_EQ(lSession.mAddress, "239.1.2.3");
    EXPECT_EQ(lSession.mPort, 5004);
    EXPECT_EQ(lSession.mHash, 0x1234);
    EXPECT_FALSE(lSession.mDeletion);
    lPacket[1] = 200; // authentication data longer than the packet
    EXPECT_FALSE(tn::system::DecodeSapPacket(lPacket.data(), lPacket.size(), lSession));
    lPacket[1] = 0;
    lPacket[0] = 0x30; // IPv6 origin
    EXPECT_FALSE(tn::system::DecodeSapPacket(lPacket.data(), lPacket.size(), lSession));
    EXPECT_FALSE(tn::system::DecodeSapPacket(lPacket.data(), 5, lSession));
}

TEST_F(PrivateNetwork, SessionsAnnouncedOnLoopbackAreListed)
{
    // Loopback carries multicast here once asked to.
    const int lControl = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq lRequest{};
    strcpy(lRequest.ifr_name, "lo");
    ASSERT_EQ(ioctl(lControl, SIOCGIFFLAGS, &lRequest), 0);
    lRequest.ifr_flags = static_cast<short>(lRequest.ifr_flags | IFF_MULTICAST);
    ASSERT_EQ(ioctl(lControl, SIOCSIFFLAGS, &lRequest), 0);
    close(lControl);

    std::thread lAnnouncer([] {
        const int lSender = socket(AF_INET, SOCK_DGRAM, 0);
        in_addr lLoopback{};
        lLoopback.s_addr = htonl(INADDR_LOOPBACK);
        setsockopt(lSender, IPPROTO_IP, IP_MULTICAST_IF, &lLoopback, sizeof(lLoopback));
        const std::string lSdp = "v=0\r\ns=Line scan\r\nc=IN IP4 239.9.9.9\r\nm=video 6000 RTP/AVP 96\r\n";
        std::vector<uint8_t> lPacket = {0x20, 0x00, 0x00, 0x07, 127, 0, 0, 1};
        lPacket.insert(lPacket.end(), lSdp.begin(), lSdp.end());
        sockaddr_in lGroup{};
        lGroup.sin_family = AF_INET;
        lGroup.sin_port = htons(tn::system::kSapPort);
        lGroup.sin_addr.s_addr = htonl(tn::system::kSapGroup);
        for (int lIndex = 0; lIndex < 10; ++lIndex)
        {
            sendto(lSender, lPacket.data(), lPacket.size(), 0, reinterpret_cast<sockaddr *>(&lGroup), sizeof(lGroup));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        close(lSender);
    });
    TnSystem lSystem;
    lSystem.SetDetectionTimeout(400);
    const uint32_t lCount = lSystem.DiscoverSessions();
    lAnnouncer.join();
    ASSERT_EQ(lCount, 1u);
    TnSessionInfo lSession;
    ASSERT_TRUE(lSystem.GetSessionInfo(0, lSession).IsOK());
    EXPECT_EQ(tn::ToString(lSession.mName), "Line scan");
    EXPECT_EQ(tn::ToString(lSession.mAddress), "239.9.9.9");
    EXPECT_EQ(lSession.mPort, 6000);
    EXPECT_FALSE(tn::ToString(lSession.mLocalAddress).empty());
}
