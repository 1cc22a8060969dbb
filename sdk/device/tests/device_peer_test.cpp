// The device controller against an independent GigE Vision device: the aravis
// fake camera, each test in a network namespace of its own (see TnTestDevices.h).
#include <gtest/gtest.h>

#include <stdio.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "TnDeviceGEV.h"
#include "TnDeviceTestUtil.h"
#include "TnSystem.h"
#include "TnTestDevices.h"
#include "TnTestProcess.h"
#include "TnText.h"

using namespace tn::test;

namespace
{
constexpr const char *kTool = "arv-tool-0.8";

class FakeDevice : public FakeCameraTest
{
protected:
    // The fake camera as discovery reports it.
    const TnDeviceInfo *Find()
    {
        const TnDeviceInfo *lInfo = nullptr;
        EXPECT_TRUE(mSystem.FindDevice(TnString(mSerial.c_str()), &lInfo).IsOK());
        return lInfo;
    }

    int64_t Integer(TnDevice &aDevice, const char *aName)
    {
        int64_t lValue = -1;
        EXPECT_TRUE(aDevice.GetParameters()->GetIntegerValue(TnString(aName), lValue).IsOK()) << aName;
        return lValue;
    }

    std::string String(TnDevice &aDevice, const char *aName)
    {
        TnString lValue;
        EXPECT_TRUE(aDevice.GetParameters()->GetStringValue(TnString(aName), lValue).IsOK()) << aName;
        return tn::ToString(lValue);
    }

    TnSystem mSystem;
};

TEST_F(FakeDevice, ConnectReadsAndWritesFeatures)
{
    const TnDeviceInfo *lInfo = Find();
    ASSERT_NE(lInfo, nullptr);
    TnResult lResult;
    TnDevice *lDevice = TnDevice::CreateAndConnect(lInfo, &lResult);
    ASSERT_NE(lDevice, nullptr) << Describe(lResult);
    ASSERT_NE(dynamic_cast<TnDeviceGEV *>(lDevice), nullptr);
    EXPECT_TRUE(lDevice->IsConnected());
    EXPECT_EQ(lDevice->GetType(), TnDeviceTypeGEV);
    TnDeviceGEV &lGev = *static_cast<TnDeviceGEV *>(lDevice);
    EXPECT_EQ(tn::ToString(lGev.GetIPAddress()), "127.0.0.1");
    EXPECT_EQ(lGev.GetAccessType(), TnAccessControl);

    EXPECT_EQ(String(*lDevice, "DeviceVendorName"), "Aravis");
    EXPECT_EQ(String(*lDevice, "DeviceModelName"), "Fake");
    EXPECT_EQ(String(*lDevice, "DeviceID"), mSerial);
    EXPECT_FALSE(String(*lDevice, "DeviceVersion").empty());
    EXPECT_FALSE(String(*lDevice, "DeviceManufacturerInfo").empty());
    const int64_t lHeight = Integer(*lDevice, "Height");
    EXPECT_GT(Integer(*lDevice, "Width"), 0);
    EXPECT_GT(lHeight, 0);
    TnString lFormat;
    ASSERT_TRUE(lDevice->GetParameters()->GetEnumValue(TnString("PixelFormat"), lFormat).IsOK());
    EXPECT_FALSE(tn::ToString(lFormat).empty());
    ASSERT_TRUE(lDevice->GetParameters()->SetEnumValue(TnString("PixelFormat"), TnString("Mono8")).IsOK());

    ASSERT_TRUE(lDevice->GetParameters()->SetIntegerValue(TnString("Width"), 256).IsOK());
    lDevice->GetParameters()->InvalidateCache();
    EXPECT_EQ(Integer(*lDevice, "Width"), 256);
    EXPECT_EQ(Integer(*lDevice, "PayloadSize"), 256 * lHeight);
    EXPECT_EQ(lDevice->GetPayloadSize(), static_cast<uint32_t>(256 * lHeight));
    TnString lId;
    EXPECT_TRUE(lDevice->GetUniqueID(lId).IsOK());
    EXPECT_EQ(tn::ToString(lId), tn::ToString(lInfo->GetUniqueID()));

    ASSERT_TRUE(lDevice->Disconnect().IsOK());
    EXPECT_FALSE(lDevice->IsConnected());
    int64_t lValue = 0;
    EXPECT_EQ(lDevice->GetParameters()->GetIntegerValue(TnString("Width"), lValue).GetCode(), TN_GENERIC_ERROR)
        << "the features of a disconnected device are not available";
    EXPECT_EQ(lDevice->GetUniqueID(lId).GetCode(), TN_NOT_CONNECTED);
    TnDevice::Free(lDevice);

    // The peer's own client sees what we wrote, after we let go.
    const std::string lTool = FindProgram(kTool);
    if (lTool.empty())
    {
        GTEST_SKIP() << kTool << " is not installed (Debian package aravis-tools-cli)";
    }
    int lStatus = -1;
    const std::string lOutput = RunProgram({lTool, "-a", "127.0.0.1", "control", "Width"}, 20000, &lStatus);
    EXPECT_EQ(lStatus, 0) << lOutput;
    EXPECT_NE(lOutput.find("Width = 256"), std::string::npos) << lOutput;
}

TEST_F(FakeDevice, ConnectsByIdentifierAndReadsMemory)
{
    TnDeviceGEV lDevice;
    ASSERT_TRUE(lDevice.Connect(TnString(mSerial.c_str()), TnAccessExclusive).IsOK());
    EXPECT_EQ(lDevice.GetAccessType(), TnAccessExclusive);
    EXPECT_EQ(tn::ToString(lDevice.GetIPAddress()), "127.0.0.1");
    TnAccessType lAccess = TnAccessUnknown;
    ASSERT_TRUE(TnDeviceGEV::GetAccessType(TnString("127.0.0.1"), lAccess).IsOK());
    EXPECT_EQ(lAccess, TnAccessExclusive);

    // The description, as the device keeps it, dumped to a file.
    TnString lName;
    ASSERT_TRUE(lDevice.GetDefaultGenICamXMLFilename(lName).IsOK());
    EXPECT_NE(tn::ToString(lName).find(".xml"), std::string::npos) << tn::ToString(lName);
    char lPath[] = "/tmp/tn-device-xml-XXXXXX";
    const int lHandle = mkstemp(lPath);
    ASSERT_GE(lHandle, 0);
    close(lHandle);
    ASSERT_TRUE(lDevice.DumpGenICamXML(TnString(lPath)).IsOK());
    std::ifstream lFile(lPath);
    std::stringstream lText;
    lText << lFile.rdbuf();
    unlink(lPath);
    EXPECT_NE(lText.str().find("RegisterDescription"), std::string::npos);

    // Registers and memory straight, and what cannot be asked.
    uint32_t lVersion = 0;
    ASSERT_TRUE(lDevice.ReadRegister(0x0938, lVersion).IsOK());
    EXPECT_EQ(lVersion, 3000u) << "the fake camera's heartbeat timeout";
    uint8_t lBytes[6] = {};
    ASSERT_TRUE(lDevice.ReadMemory(0x48, lBytes, 6).IsOK()); // manufacturer name, unaligned length
    EXPECT_EQ(std::string(reinterpret_cast<char *>(lBytes), 6), "Aravis");
    EXPECT_EQ(lDevice.ReadRegister(2, lVersion).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lDevice.WriteMemory(0xE8, lBytes, -1).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lDevice.WriteMemory(0, lBytes, 1ll << 31).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lDevice.WriteMemory(0xFFFFFFFFll, lBytes, 2).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lDevice.WriteMemory(-4, lBytes, 4).GetCode(), TN_INVALID_PARAMETER);
    // Memory is written in whole words: a partial word is refused before
    // anything is sent, and the device's bytes stay.
    const uint8_t lName16[4] = {'t', 'n', '-', 'x'};
    ASSERT_TRUE(lDevice.WriteMemory(0xE8, lName16, 4).IsOK());
    const uint8_t lOther[4] = {'a', 'b', 'c', 'd'};
    const TnResult lPartial = lDevice.WriteMemory(0xE9, lOther, 3);
    EXPECT_EQ(lPartial.GetCode(), TN_INVALID_PARAMETER);
    EXPECT_NE(tn::Describe(lPartial).find("whole words of 4 bytes"), std::string::npos) << tn::Describe(lPartial);
    EXPECT_EQ(lDevice.WriteMemory(0xE9, lOther, 4).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lDevice.WriteMemory(0xE8, lOther, 3).GetCode(), TN_INVALID_PARAMETER);
    uint8_t lBack[4] = {};
    ASSERT_TRUE(lDevice.ReadMemory(0xE8, lBack, 4).IsOK());
    EXPECT_EQ(std::string(reinterpret_cast<char *>(lBack), 4), "tn-x");
    // Reads take any address and count: the words that hold them are asked for.
    ASSERT_TRUE(lDevice.ReadMemory(0xE9, lBack, 3).IsOK());
    EXPECT_EQ(std::string(reinterpret_cast<char *>(lBack), 3), "n-x");
}

TEST_F(FakeDevice, SecondControllerIsRefusedWhileTheFirstHoldsControl)
{
    const TnDeviceInfo *lInfo = Find();
    ASSERT_NE(lInfo, nullptr);
    TnDeviceGEV lFirst;
    ASSERT_TRUE(lFirst.Connect(lInfo).IsOK());
    TnDeviceGEV lSecond;
    const TnResult lRefused = lSecond.Connect(lInfo);
    EXPECT_FALSE(lRefused.IsOK());
    EXPECT_NE(tn::ToString(lRefused.GetDescription()).find("another application controls it"), std::string::npos)
        << Describe(lRefused);
    EXPECT_FALSE(lSecond.IsConnected());
    // Without privilege a second controller may still look.
    ASSERT_TRUE(lSecond.Connect(lInfo, TnAccessReadOnly).IsOK());
    int64_t lWidth = 0;
    EXPECT_TRUE(lSecond.GetParameters()->GetIntegerValue(TnString("Width"), lWidth).IsOK());
    EXPECT_FALSE(lSecond.GetParameters()->SetIntegerValue(TnString("Width"), 128).IsOK());
    lSecond.Disconnect();

    ASSERT_TRUE(lFirst.Disconnect().IsOK());
    EXPECT_TRUE(lSecond.Connect(lInfo).IsOK()) << "control is free once the first controller let go";
}

TEST_F(FakeDevice, HeartbeatKeepsControlAcrossSeveralTimeouts)
{
    const TnDeviceInfo *lInfo = Find();
    ASSERT_NE(lInfo, nullptr);
    TnDeviceGEV lFirst;
    // A short heartbeat timeout given to the device: idling through three of
    // them proves the heartbeat, in a fraction of the default's time.
    ASSERT_TRUE(lFirst.GetCommunicationParameters()->SetIntegerValue(TnString("HeartbeatTimeout"), 1000).IsOK());
    ASSERT_TRUE(lFirst.Connect(lInfo).IsOK());
    uint32_t lTimeout = 0;
    ASSERT_TRUE(lFirst.ReadRegister(0x0938, lTimeout).IsOK());
    ASSERT_EQ(lTimeout, 1000u) << "the device took the heartbeat timeout";
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_TRUE(lFirst.IsConnected());
    TnDeviceGEV lSecond;
    EXPECT_FALSE(lSecond.Connect(lInfo).IsOK()) << "control was lost while idle";
    int64_t lSent = 0;
    ASSERT_TRUE(lFirst.GetCommunicationParameters()->GetIntegerValue(TnString("HeartbeatsSent"), lSent).IsOK());
    EXPECT_GE(lSent, 8) << "a heartbeat every third of the timeout";

    // Without heartbeats the device lets control go after its timeout.
    ASSERT_TRUE(lFirst.GetCommunicationParameters()->SetIntegerValue(TnString("HeartbeatInterval"), 600000).IsOK());
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_TRUE(lSecond.Connect(lInfo).IsOK());
}

TEST_F(FakeDevice, KillingTheDeviceReportsTheLostLink)
{
    const TnDeviceInfo *lInfo = Find();
    ASSERT_NE(lInfo, nullptr);
    TnDeviceGEV lDevice;
    RecordingSink lSink;
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    ASSERT_TRUE(lDevice.Connect(lInfo).IsOK());
    uint32_t lTimeout = 0;
    ASSERT_TRUE(lDevice.ReadRegister(0x0938, lTimeout).IsOK());

    const auto lKilled = std::chrono::steady_clock::now();
    mCamera.Kill();
    ASSERT_TRUE(lSink.WaitFor([&] { return lSink.mDisconnects > 0; }, lTimeout + 1000));
    const auto lElapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lKilled).count();
    EXPECT_LE(lElapsed, lTimeout) << "the loss is noticed within the heartbeat timeout";
    EXPECT_EQ(lSink.mDisconnectedDevice, &lDevice);
    EXPECT_FALSE(lDevice.IsConnected());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(lSink.mDisconnects, 1);
    EXPECT_TRUE(lDevice.UnregisterEventSink(&lSink).IsOK());
    // Connecting again after a lost link needs no Disconnect first.
    EXPECT_EQ(lDevice.Connect(lInfo).GetCode(), TN_TIMEOUT);
}
} // namespace
