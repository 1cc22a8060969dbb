// USB3 Vision controllers on simulated devices (TARN_SIMULATED_DEVICES), and
// what the factory makes of devices no controller speaks to. Discovery runs
// in a network namespace of the test's own.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "TnDeviceGEV.h"
#include "TnDeviceTestUtil.h"
#include "TnDeviceU3V.h"
#include "TnSystem.h"
#include "TnTestNetwork.h"

using namespace tn::test;

namespace
{
const char kOwnXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<RegisterDescription ModelName=\"Own\" VendorName=\"TarnTest\" StandardNameSpace=\"None\""
    " SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" MajorVersion=\"1\""
    " MinorVersion=\"0\" SubMinorVersion=\"0\" ProductGuid=\"0\" VersionGuid=\"0\""
    " xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n"
    "<Integer Name=\"Gain\"><pValue>GainReg</pValue><Min>0</Min><Max>48</Max></Integer>\n"
    "<IntReg Name=\"GainReg\"><Address>0x10020</Address><Length>4</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>\n"
    "<Port Name=\"Device\"/>\n"
    "</RegisterDescription>\n";

class SimulatedDevices : public tn::test::FreshNetworkTest
{
protected:
    void SetUp() override
    {
        FreshNetworkTest::SetUp();
        if (IsSkipped())
        {
            return;
        }
        char lDirectory[] = "/tmp/tn-device-sim-XXXXXX";
        ASSERT_NE(mkdtemp(lDirectory), nullptr);
        mDirectory = lDirectory;
        std::ofstream(mDirectory + "/own.xml") << kOwnXml;
        std::ofstream lFile(mDirectory + "/devices.ini");
        lFile << "[controller]\nname = sim-usb0\n\n"
                 "[u3v]\nvendor = Example Vision\nmodel = EX-1\nserial = 1234\nguid = EXAMPLE-0001\n"
                 "user_name = left\n\n"
                 "[u3v]\nvendor = Example Vision\nmodel = EX-2\nserial = 5678\nguid = EXAMPLE-0002\nxml = " +
                     mDirectory +
                     "/own.xml\n\n"
                     "[vexmoor]\nmodel = VX-2\nmac = 00:11:22:33:44:55\nip = 127.0.0.9\n";
        lFile.close();
        setenv("TARN_SIMULATED_DEVICES", (mDirectory + "/devices.ini").c_str(), 1);
    }

    void TearDown() override
    {
        unsetenv("TARN_SIMULATED_DEVICES");
        if (!mDirectory.empty())
        {
            unlink((mDirectory + "/own.xml").c_str());
            unlink((mDirectory + "/devices.ini").c_str());
            rmdir(mDirectory.c_str());
        }
    }

    std::string mDirectory;
};

TEST_F(SimulatedDevices, UsbDevicesConnectThroughTheirFeatures)
{
    TnSystem lSystem;
    lSystem.SetDetectionTimeout(100);
    const TnDeviceInfo *lInfo = nullptr;
    ASSERT_TRUE(lSystem.FindDevice(TnString("EXAMPLE-0001"), &lInfo).IsOK());
    TnResult lResult;
    TnDevice *lDevice = TnDevice::CreateAndConnect(lInfo, &lResult);
    ASSERT_NE(lDevice, nullptr) << Describe(lResult);
    TnDeviceU3V *lU3v = dynamic_cast<TnDeviceU3V *>(lDevice);
    ASSERT_NE(lU3v, nullptr);
    EXPECT_EQ(lDevice->GetType(), TnDeviceTypeU3V);
    EXPECT_EQ(tn::ToString(lU3v->GetGUID()), "EXAMPLE-0001");
    TnGenParameterArray &lFeatures = *lDevice->GetParameters();
    TnString lText;
    ASSERT_TRUE(lFeatures.GetStringValue(TnString("DeviceVendorName"), lText).IsOK());
    EXPECT_EQ(tn::ToString(lText), "Example Vision");
    ASSERT_TRUE(lFeatures.GetStringValue(TnString("DeviceUserID"), lText).IsOK());
    EXPECT_EQ(tn::ToString(lText), "left");
    ASSERT_TRUE(lFeatures.SetIntegerValue(TnString("Width"), 800).IsOK());
    ASSERT_TRUE(lFeatures.SetEnumValue(TnString("PixelFormat"), TnString("Mono16")).IsOK());
    EXPECT_EQ(lDevice->GetPayloadSize(), 800u * 480u * 2u);
    ASSERT_TRUE(lDevice->StreamEnable().IsOK());
    int64_t lLocked = 0;
    ASSERT_TRUE(lFeatures.GetIntegerValue(TnString("TLParamsLocked"), lLocked).IsOK());
    EXPECT_EQ(lLocked, 1);
    EXPECT_EQ(lDevice->WriteMemory(0x4, reinterpret_cast<const uint8_t *>("X"), 1).GetCode(), TN_INVALID_PARAMETER)
        << "the bootstrap block is read-only";

    // One controller at a time; the registers stay with the device.
    TnDeviceU3V lSecond;
    EXPECT_EQ(lSecond.Connect(TnString("EXAMPLE-0001")).GetCode(), TN_BUSY);
    TnDevice::Free(lDevice);
    ASSERT_TRUE(lSecond.Connect(TnString("left")).IsOK());
    int64_t lWidth = 0;
    ASSERT_TRUE(lSecond.GetParameters()->GetIntegerValue(TnString("Width"), lWidth).IsOK());
    EXPECT_EQ(lWidth, 800);
    TnDeviceGEV lWrongKind;
    EXPECT_EQ(lWrongKind.Connect(lInfo).GetCode(), TN_INVALID_PARAMETER);

    // A device with a description of its own.
    TnDeviceU3V lOwn;
    ASSERT_TRUE(lOwn.Connect(TnString("EXAMPLE-0002")).IsOK());
    ASSERT_TRUE(lOwn.GetParameters()->SetIntegerValue(TnString("Gain"), 12).IsOK());
    EXPECT_EQ(lOwn.GetParameters()->GetInteger(TnString("Width")), nullptr);
    EXPECT_TRUE(lOwn.GetDefaultGenICamXMLFilename(lText).IsOK());
    EXPECT_EQ(tn::ToString(lText), "own.xml");
}

TEST_F(SimulatedDevices, DevicesWithoutAControllerGiveNone)
{
    TnSystem lSystem;
    lSystem.SetDetectionTimeout(100);
    const TnDeviceInfo *lInfo = nullptr;
    ASSERT_TRUE(lSystem.FindDevice(TnString("00:11:22:33:44:55"), &lInfo).IsOK());
    ASSERT_EQ(lInfo->GetType(), TnDeviceInfoTypeVexmoorProtocol);
    TnResult lResult;
    EXPECT_EQ(TnDevice::CreateAndConnect(lInfo, &lResult), nullptr);
    EXPECT_EQ(lResult.GetCode(), TN_NOT_SUPPORTED);
    EXPECT_EQ(TnDevice::CreateAndConnect(nullptr, &lResult), nullptr);
    EXPECT_EQ(lResult.GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(TnDevice::CreateAndConnect(TnString("nothing-by-this-name"), &lResult), nullptr);
    EXPECT_EQ(lResult.GetCode(), TN_NOT_FOUND);

    EXPECT_EQ(
        TnDeviceVexmoorProtocol::SetIPConfiguration(TnString("00:11:22:33:44:55"), TnString("127.0.0.8")).GetCode(),
        TN_NOT_SUPPORTED);
    EXPECT_EQ(
        TnDeviceVexmoorProtocol::SetIPConfiguration(TnString("00:11:22:33:44:56"), TnString("127.0.0.8")).GetCode(),
        TN_NOT_FOUND);
    EXPECT_EQ(TnDeviceVexmoorProtocol::SetIPConfiguration(TnString("00:11:22:33:44:55"), TnString("127.0.0")).GetCode(),
              TN_INVALID_PARAMETER);

    // A controller that never connected.
    TnDeviceU3V lDevice;
    EXPECT_FALSE(lDevice.IsConnected());
    EXPECT_EQ(lDevice.GetParameters(), nullptr);
    EXPECT_NE(lDevice.GetCommunicationParameters(), nullptr);
    EXPECT_EQ(lDevice.GetPayloadSize(), 0u);
    EXPECT_EQ(tn::ToString(lDevice.GetGUID()), "");
    EXPECT_EQ(lDevice.Disconnect().GetCode(), TN_NOT_CONNECTED);
    uint8_t lByte = 0;
    EXPECT_EQ(lDevice.ReadMemory(0, &lByte, 1).GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(lDevice.WaitForMessagingChannelIdle(10).GetCode(), TN_OK);
    EXPECT_EQ(lDevice.RegisterEventSink(nullptr).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lDevice.DumpGenICamXML(TnString("/tmp/none.xml")).GetCode(), TN_NOT_CONNECTED);
}
} // namespace
