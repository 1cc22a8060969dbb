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
#include "TnSystem.h"
#include "TnTestDevices.h"
#include "TnTestNetwork.h"

namespace
{
std::string Text(const TnString &aText)
{
    return aText.GetAscii() != nullptr ? aText.GetAscii() : "";
}

// A device announcing itself on loopback.
tn::gev::TnGvcpDeviceInfo LoopDevice(const char *aSerial)
{
    tn::gev::TnGvcpDeviceInfo info;
    info.mVersionMajor = 2;
    info.mVersionMinor = 1;
    info.mDeviceMode = 0x80000000u; // big-endian transmitter
    info.SetMacValue(0x0250C2ABCDEFull);
    info.mSupportedIPConfig = 0x80000007u;
    info.mCurrentIPConfig = 0x00000005u;
    info.mCurrentIP = 0x7F000001;
    info.mSubnetMask = 0xFF000000;
    info.mDefaultGateway = 0x7F0000FE;
    info.mManufacturerName = "Tarn";
    info.mModelName = "Loop";
    info.mDeviceVersion = "1.2.3";
    info.mManufacturerInfo = "made for tests";
    info.mSerialNumber = aSerial;
    info.mUserDefinedName = "bench";
    return info;
}

using PrivateNetwork = tn::test::PrivateNetworkTest;

const TnNetworkAdapter *Loopback(const TnSystem &aSystem)
{
    for (uint32_t i = 0; i < aSystem.GetInterfaceCount(); ++i)
    {
        const TnNetworkAdapter *adapter = dynamic_cast<const TnNetworkAdapter *>(aSystem.GetInterface(i));
        if (adapter != nullptr && adapter->GetIPAddressCount() > 0 && Text(adapter->GetIPAddress(0)) == "127.0.0.1")
        {
            return adapter;
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
    TnSystem system;
    EXPECT_EQ(system.GetDetectionTimeout(), 1500u);
    system.SetDetectionTimeout(5);
    EXPECT_EQ(system.GetDetectionTimeout(), 100u);
    system.SetDetectionTimeout(4294967295u);
    EXPECT_EQ(system.GetDetectionTimeout(), 60000u);
    EXPECT_FALSE(system.GetSubnetBroadcastEnabled());
    system.SetSubnetBroadcastEnabled(true);
    EXPECT_TRUE(system.GetSubnetBroadcastEnabled());
    EXPECT_EQ(system.GetGEVSupportedVersion() >> 16, 2u);
    EXPECT_EQ(system.GetInterface(0), nullptr);
    EXPECT_EQ(system.GetDeviceInfo(0), nullptr);
    const TnDeviceInfo *found = reinterpret_cast<const TnDeviceInfo *>(1);
    EXPECT_EQ(system.FindDevice(TnString(""), &found).GetCode(), static_cast<uint32_t>(TN_INVALID_PARAMETER));
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(system.FindDevice(TnString("x"), nullptr).GetCode(), static_cast<uint32_t>(TN_INVALID_PARAMETER));
    EXPECT_EQ(system.RegisterEventSink(nullptr).GetCode(), static_cast<uint32_t>(TN_INVALID_PARAMETER));
    EXPECT_EQ(system.UnregisterEventSink(nullptr).GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
    TnSessionInfo session;
    EXPECT_EQ(system.GetSessionInfo(0, session).GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
    EXPECT_FALSE(TnInterface::Compare(nullptr, nullptr));
}

TEST_F(PrivateNetwork, FindsOurResponderOnLoopback)
{
    tn::test::BootstrapDevice device(LoopDevice("LOOP-7"));
    tn::gev::TnGvcpServer server;
    ASSERT_TRUE(server.Start(&device, 0x7F000001).IsOK());
    TnSystem system;
    system.SetDetectionTimeout(300);
    CountingSink sink;
    ASSERT_TRUE(system.RegisterEventSink(&sink).IsOK());
    EXPECT_EQ(system.RegisterEventSink(&sink).GetCode(), static_cast<uint32_t>(TN_GENERIC_ERROR));
    ASSERT_TRUE(system.Find().IsOK());
    EXPECT_EQ(sink.mFound, 1);
    const TnNetworkAdapter *loopback = Loopback(system);
    ASSERT_NE(loopback, nullptr);
    EXPECT_EQ(loopback->GetType(), TnInterfaceTypeNetworkAdapter);
    EXPECT_EQ(Text(loopback->GetMACAddress()), "00.00.00.00.00.00");
    EXPECT_EQ(Text(loopback->GetSubnetMask(0)), "255.0.0.0");
    EXPECT_EQ(Text(loopback->GetIPAddress(9)), "");
    ASSERT_EQ(loopback->GetDeviceCount(), 1u);
    ASSERT_EQ(system.GetDeviceCount(), 1u);
    const TnDeviceInfoGEV *gev = dynamic_cast<const TnDeviceInfoGEV *>(system.GetDeviceInfo(0));
    ASSERT_NE(gev, nullptr);
    EXPECT_EQ(gev, loopback->GetDeviceInfo(0));
    EXPECT_EQ(gev->GetInterface(), loopback);
    EXPECT_EQ(gev->GetType(), TnDeviceInfoTypeGEV);
    EXPECT_EQ(Text(gev->GetMACAddress()), "02:50:c2:ab:cd:ef");
    EXPECT_EQ(Text(gev->GetIPAddress()), "127.0.0.1");
    EXPECT_EQ(Text(gev->GetDefaultGateway()), "127.0.0.254");
    EXPECT_EQ(Text(gev->GetSubnetMask()), "255.0.0.0");
    EXPECT_EQ(gev->GetGEVVersion(), 0x00020001u);
    EXPECT_EQ(Text(gev->GetVendorName()), "Tarn");
    EXPECT_EQ(Text(gev->GetVersion()), "1.2.3");
    EXPECT_EQ(Text(gev->GetSerialNumber()), "LOOP-7");
    EXPECT_EQ(Text(gev->GetUserDefinedName()), "bench");
    EXPECT_EQ(Text(gev->GetConnectionID()), "127.0.0.1");
    EXPECT_EQ(gev->GetClass(), TnDeviceClassTransmitter);
    EXPECT_TRUE(gev->IsConfigurationValid());
    EXPECT_TRUE(gev->IsLLAAvailable() && gev->IsDHCPAvailable() && gev->IsPersistentAvailable());
    EXPECT_TRUE(gev->IsPRAvailable() && !gev->IsPGAvailable());
    EXPECT_TRUE(gev->IsPersistentEnabled() && gev->IsLLAEnabled() && !gev->IsDHCPEnabled());
    EXPECT_EQ(Text(gev->GetIPConfigCurrentString()), "LLA(L), Persistent_IP(P)");

    for (const char *identifier : {"02:50:c2:ab:cd:ef", "127.0.0.1", "bench", "LOOP-7"})
    {
        const TnDeviceInfo *found = nullptr;
        EXPECT_TRUE(system.FindDevice(TnString(identifier), &found).IsOK()) << identifier;
        ASSERT_NE(found, nullptr) << identifier;
        EXPECT_EQ(Text(found->GetSerialNumber()), "LOOP-7");
    }
    // Searches that find the same again hand out the same objects.
    EXPECT_EQ(system.GetDeviceInfo(0), gev);
    EXPECT_EQ(Loopback(system), loopback);
    EXPECT_EQ(Text(gev->GetSerialNumber()), "LOOP-7");
    const TnDeviceInfo *missing = nullptr;
    EXPECT_EQ(system.FindDevice(TnString("127.0.0.9"), &missing).GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
    EXPECT_EQ(missing, nullptr);
    system.UnregisterEventSink(&sink);
}

TEST_F(PrivateNetwork, LaterSearchesLeaveWhatEarlierOnesHandedOutUnchanged)
{
    TnSystem system;
    system.SetDetectionTimeout(200);
    const TnDeviceInfo *first = nullptr;
    const TnNetworkAdapter *firstLoopback = nullptr;
    {
        tn::test::BootstrapDevice device(LoopDevice("KEEP-1"));
        tn::gev::TnGvcpServer server;
        ASSERT_TRUE(server.Start(&device, 0x7F000001).IsOK());
        ASSERT_TRUE(system.Find().IsOK());
        firstLoopback = Loopback(system);
        ASSERT_NE(firstLoopback, nullptr);
        ASSERT_EQ(firstLoopback->GetDeviceCount(), 1u);
        first = firstLoopback->GetDeviceInfo(0);
        ASSERT_TRUE(system.Find().IsOK());
        EXPECT_EQ(Loopback(system), firstLoopback);
        EXPECT_EQ(system.GetDeviceInfo(0), first);
        server.Stop();
    }
    // The same address now answers with another serial number: the new
    // search describes it anew, and the old description still says what it
    // said.
    tn::test::BootstrapDevice device(LoopDevice("KEEP-2"));
    tn::gev::TnGvcpServer server;
    ASSERT_TRUE(server.Start(&device, 0x7F000001).IsOK());
    ASSERT_TRUE(system.Find().IsOK());
    const TnNetworkAdapter *loopback = Loopback(system);
    ASSERT_NE(loopback, nullptr);
    ASSERT_EQ(loopback->GetDeviceCount(), 1u);
    EXPECT_NE(loopback->GetDeviceInfo(0), first);
    EXPECT_EQ(Text(loopback->GetDeviceInfo(0)->GetSerialNumber()), "KEEP-2");
    EXPECT_EQ(Text(first->GetSerialNumber()), "KEEP-1");
    EXPECT_EQ(first->GetInterface(), firstLoopback);
    EXPECT_EQ(firstLoopback->GetDeviceInfo(0), first);
    // Nothing answers: the lists empty, the old objects stay readable.
    server.Stop();
    ASSERT_TRUE(system.Find().IsOK());
    EXPECT_EQ(system.GetDeviceCount(), 0u);
    EXPECT_EQ(Text(first->GetSerialNumber()), "KEEP-1");
}

TEST_F(PrivateNetwork, CopiesOutliveTheirSystem)
{
    tn::test::BootstrapDevice device(LoopDevice("COPY-1"));
    tn::gev::TnGvcpServer server;
    ASSERT_TRUE(server.Start(&device, 0x7F000001).IsOK());
    TnDeviceInfo *deviceCopy = nullptr;
    TnInterface *adapterCopy = nullptr;
    {
        TnSystem system;
        system.SetDetectionTimeout(200);
        ASSERT_TRUE(system.Find().IsOK());
        const TnNetworkAdapter *loopback = Loopback(system);
        ASSERT_NE(loopback, nullptr);
        ASSERT_EQ(loopback->GetDeviceCount(), 1u);
        deviceCopy = loopback->GetDeviceInfo(0)->Copy();
        adapterCopy = loopback->Copy();
        // Releasing what the system holds does nothing.
        const_cast<TnDeviceInfo *>(loopback->GetDeviceInfo(0))->Release();
        const_cast<TnNetworkAdapter *>(loopback)->Release();
        EXPECT_EQ(Text(loopback->GetDeviceInfo(0)->GetSerialNumber()), "COPY-1");
    }
    EXPECT_EQ(Text(deviceCopy->GetSerialNumber()), "COPY-1");
    EXPECT_EQ(deviceCopy->GetInterface(), nullptr);
    EXPECT_NE(dynamic_cast<TnDeviceInfoGEV *>(deviceCopy), nullptr);
    ASSERT_EQ(adapterCopy->GetDeviceCount(), 1u);
    EXPECT_EQ(adapterCopy->GetDeviceInfo(0)->GetInterface(), adapterCopy);
    EXPECT_FALSE(TnInterface::Compare(adapterCopy, adapterCopy));
    deviceCopy->Release();
    adapterCopy->Release();
}

TEST_F(PrivateNetwork, SimulatedUsb3VisionDevices)
{
    char path[] = "/tmp/tn-simulated-XXXXXX";
    const int handle = mkstemp(path);
    ASSERT_GE(handle, 0);
    close(handle);
    std::ofstream(path) << "[controller]\nname = sim0\ndescription = Simulated xHCI\nspeed = super\n"
                           "[u3v]\nvendor = Tarn\nmodel = U3\nserial = U3-1\nguid = TARN-U3-0001\n"
                           "controller = sim0\nspeed = high\n";
    setenv("TARN_SIMULATED_DEVICES", path, 1);
    TnSystem system;
    system.SetDetectionTimeout(100);
    ASSERT_TRUE(system.Find().IsOK());
    const TnDeviceInfoU3V *u3v = nullptr;
    for (uint32_t i = 0; i < system.GetDeviceCount() && u3v == nullptr; ++i)
    {
        u3v = dynamic_cast<const TnDeviceInfoU3V *>(system.GetDeviceInfo(i));
    }
    unsetenv("TARN_SIMULATED_DEVICES");
    unlink(path);
    ASSERT_NE(u3v, nullptr);
    EXPECT_EQ(u3v->GetType(), TnDeviceInfoTypeU3V);
    EXPECT_EQ(Text(u3v->GetDeviceGUID()), "TARN-U3-0001");
    EXPECT_EQ(u3v->GetSpeed(), TnUSBSpeedHigh);
    EXPECT_TRUE(u3v->IsCurrentSpeedSupported());
    EXPECT_EQ(Text(u3v->GetPowerMessage()), "Ok");
    const TnUSBHostController *controller = dynamic_cast<const TnUSBHostController *>(u3v->GetInterface());
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(Text(controller->GetName()), "Simulated xHCI");
    EXPECT_EQ(controller->GetSpeed(), TnUSBSpeedSuper);
    const TnDeviceInfo *found = nullptr;
    setenv("TARN_SIMULATED_DEVICES", "/nonexistent", 1);
    EXPECT_EQ(system.FindDevice(TnString("TARN-U3-0001"), &found).GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
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
        std::lock_guard<std::mutex> lock(mMutex);
        mLines.push_back({aFile, aFunction, aLogger, aMessage});
    }

    std::vector<Line> Lines()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mLines;
    }

private:
    std::mutex mMutex;
    std::vector<Line> mLines;
};

TEST_F(PrivateNetwork, AFailedSearchTellsWhyAndWhereInTheSources)
{
    KeptLines log;
    setenv("TARN_SIMULATED_DEVICES", "/nonexistent/devices.ini", 1);
    TnSystem system;
    system.SetDetectionTimeout(100);
    const TnResult searched = system.Find();
    const TnDeviceInfo *found = nullptr;
    const TnResult missing = system.FindDevice(TnString("NO-SUCH-DEVICE"), &found);
    unsetenv("TARN_SIMULATED_DEVICES");

    EXPECT_EQ(searched.GetCode(), static_cast<uint32_t>(TN_CANNOT_OPEN_FILE));
    EXPECT_EQ(missing.GetCode(), static_cast<uint32_t>(TN_NOT_FOUND));
    EXPECT_EQ(Text(missing.GetDescription()), "no device answers to NO-SUCH-DEVICE (the search failed: simulated "
                                              "devices: cannot open /nonexistent/devices.ini)");
    const std::vector<KeptLines::Line> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u); // one warning a search
    for (const KeptLines::Line &line : lines)
    {
        EXPECT_EQ(line.mMessage, "simulated devices: cannot open /nonexistent/devices.ini");
        EXPECT_EQ(line.mLogger, "TnSystem");
        EXPECT_EQ(line.mFunction, "TnSystem::Find");
        // The source file by its path in the source tree, not on the build machine.
        EXPECT_EQ(line.mFile, "sdk/system/TnSystem.cpp");
    }
}

TEST(Sessions, AnnouncementsDecode)
{
    const std::string sdp = "v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=Camera 7\r\nc=IN IP4 239.1.2.3/16\r\n"
                            "t=0 0\r\nm=video 5004 RTP/AVP 96\r\n";
    std::vector<uint8_t> packet = {0x20, 0x00, 0x12, 0x34, 10, 0, 0, 1};
    const std::string type = "application/sdp";
    packet.insert(packet.end(), type.begin(), type.end());
    packet.push_back(0);
    packet.insert(packet.end(), sdp.begin(), sdp.end());
    tn::system::SessionAnnouncement session;
    ASSERT_TRUE(tn::system::DecodeSapPacket(packet.data(), packet.size(), session));
    EXPECT_EQ(session.mName, "Camera 7");
    EXPECT_EQ(session.mAddress, "239.1.2.3");
    EXPECT_EQ(session.mPort, 5004);
    EXPECT_EQ(session.mHash, 0x1234);
    EXPECT_FALSE(session.mDeletion);
    packet[1] = 200; // authentication data longer than the packet
    EXPECT_FALSE(tn::system::DecodeSapPacket(packet.data(), packet.size(), session));
    packet[1] = 0;
    packet[0] = 0x30; // IPv6 origin
    EXPECT_FALSE(tn::system::DecodeSapPacket(packet.data(), packet.size(), session));
    EXPECT_FALSE(tn::system::DecodeSapPacket(packet.data(), 5, session));
}

TEST_F(PrivateNetwork, SessionsAnnouncedOnLoopbackAreListed)
{
    // Loopback carries multicast here once asked to.
    const int control = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    strcpy(request.ifr_name, "lo");
    ASSERT_EQ(ioctl(control, SIOCGIFFLAGS, &request), 0);
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_MULTICAST);
    ASSERT_EQ(ioctl(control, SIOCSIFFLAGS, &request), 0);
    close(control);

    std::thread announcer([] {
        const int sender = socket(AF_INET, SOCK_DGRAM, 0);
        in_addr loopback{};
        loopback.s_addr = htonl(INADDR_LOOPBACK);
        setsockopt(sender, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof(loopback));
        const std::string sdp = "v=0\r\ns=Line scan\r\nc=IN IP4 239.9.9.9\r\nm=video 6000 RTP/AVP 96\r\n";
        std::vector<uint8_t> packet = {0x20, 0x00, 0x00, 0x07, 127, 0, 0, 1};
        packet.insert(packet.end(), sdp.begin(), sdp.end());
        sockaddr_in group{};
        group.sin_family = AF_INET;
        group.sin_port = htons(tn::system::kSapPort);
        group.sin_addr.s_addr = htonl(tn::system::kSapGroup);
        for (int i = 0; i < 10; ++i)
        {
            sendto(sender, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&group), sizeof(group));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        close(sender);
    });
    TnSystem system;
    system.SetDetectionTimeout(400);
    const uint32_t count = system.DiscoverSessions();
    announcer.join();
    ASSERT_EQ(count, 1u);
    TnSessionInfo session;
    ASSERT_TRUE(system.GetSessionInfo(0, session).IsOK());
    EXPECT_EQ(Text(session.mName), "Line scan");
    EXPECT_EQ(Text(session.mAddress), "239.9.9.9");
    EXPECT_EQ(session.mPort, 6000);
    EXPECT_FALSE(Text(session.mLocalAddress).empty());
}
