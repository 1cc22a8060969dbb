// The device controller against our own responder (sdk/gev), for what the
// independent peer lacks: events, pending answers, packet limits, packet
// size negotiation, zipped descriptions and force IP. Each test runs in a
// network namespace of its own.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <stdexcept>

#include <zip.h>

#include "TnDeviceAdapter.h"
#include "TnDeviceGEV.h"
#include "TnDeviceSerialPort.h"
#include "TnDeviceTestUtil.h"
#include "TnGevBytes.h"
#include "TnGvcpDevice.h"
#include "TnGvcpServer.h"
#include "TnSinkRegistry.h"
#include "TnSystem.h"
#include "TnTestNetwork.h"

using namespace tn::test;
using tn::gev::TnGvcpDevice;

namespace
{
constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint64_t kMac = 0x0250C2001234ull;
constexpr uint32_t kXmlAddress = 0x8000;
constexpr uint16_t kExposureEnd = 0x9001;

const char kXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<RegisterDescription ModelName=\"Responder\" VendorName=\"TarnTest\" StandardNameSpace=\"None\""
    " SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" MajorVersion=\"1\""
    " MinorVersion=\"0\" SubMinorVersion=\"0\" ProductGuid=\"0\" VersionGuid=\"0\""
    " xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n"
    "<Category Name=\"Root\"><pFeature>Width</pFeature><pFeature>EventExposureEndFrameID</pFeature></Category>\n"
    "<StringReg Name=\"DeviceVendorName\"><Address>0x48</Address><Length>32</Length><AccessMode>RO</AccessMode>"
    "<pPort>Device</pPort></StringReg>\n"
    "<Integer Name=\"Width\"><pValue>WidthReg</pValue><Min>16</Min><Max>4096</Max></Integer>\n"
    "<IntReg Name=\"WidthReg\"><Address>0x1000</Address><Length>4</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort><Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess>"
    "</IntReg>\n"
    "<Integer Name=\"TLParamsLocked\"><pValue>LockedReg</pValue><Min>0</Min><Max>1</Max></Integer>\n"
    "<IntReg Name=\"LockedReg\"><Address>0x1008</Address><Length>4</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>\n"
    "<IntReg Name=\"EventExposureEndTimestamp\"><Address>16</Address><Length>8</Length><AccessMode>RO</AccessMode>"
    "<pPort>EventExposureEndPort</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>\n"
    "<IntReg Name=\"EventExposureEndFrameID\"><Address>24</Address><Length>4</Length><AccessMode>RO</AccessMode>"
    "<pPort>EventExposureEndPort</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>\n"
    "<Port Name=\"EventExposureEndPort\"><EventID>9001</EventID></Port>\n"
    "<Port Name=\"Device\"/>\n"
    "</RegisterDescription>\n";

std::vector<uint8_t> Bytes(const std::string &aText)
{
    return std::vector<uint8_t>(aText.begin(), aText.end());
}

// A zip archive holding one file.
std::vector<uint8_t> Zip(const std::string &aName, const std::string &aContent)
{
    zip_error_t lError;
    zip_error_init(&lError);
    zip_source_t *lTarget = zip_source_buffer_create(nullptr, 0, 0, &lError);
    zip_source_keep(lTarget);
    zip_t *lArchive = zip_open_from_source(lTarget, ZIP_TRUNCATE, &lError);
    zip_source_t *lFile = zip_source_buffer(lArchive, aContent.data(), aContent.size(), 0);
    zip_file_add(lArchive, aName.c_str(), lFile, ZIP_FL_OVERWRITE);
    zip_close(lArchive);
    std::vector<uint8_t> lBytes;
    zip_stat_t lStat;
    if (zip_source_stat(lTarget, &lStat) == 0 && zip_source_open(lTarget) == 0)
    {
        lBytes.resize(lStat.size);
        zip_source_read(lTarget, lBytes.data(), lBytes.size());
        zip_source_close(lTarget);
    }
    zip_source_free(lTarget);
    zip_error_fini(&lError);
    return lBytes;
}

class Responder : public tn::test::FreshNetworkTest
{
protected:
    void SetUp() override
    {
        FreshNetworkTest::SetUp();
        if (IsSkipped())
        {
            return;
        }
        tn::gev::TnGvcpDeviceInfo lInfo;
        lInfo.mVersionMajor = 2;
        lInfo.SetMacValue(kMac);
        lInfo.mCurrentIP = kLoopback;
        lInfo.mSubnetMask = 0xFF000000;
        lInfo.mManufacturerName = "TarnTest";
        lInfo.mModelName = "Responder";
        lInfo.mSerialNumber = "RESP-1";
        mDevice.reset(new TnGvcpDevice(lInfo, 0x20000));
        mDevice->SetRegister(0x1000, 640);
        ASSERT_TRUE(mDevice->SetLocalXml("responder.xml", kXmlAddress, Bytes(kXml)));
        ASSERT_TRUE(mServer.Start(mDevice.get(), kLoopback).IsOK());
    }

    void TearDown() override { mServer.Stop(); }

    TnResult Connect(TnDeviceGEV &aDevice, TnAccessType aAccess = TnAccessControl)
    {
        return aDevice.Connect(TnString("RESP-1"), aAccess);
    }

    TnGenParameterArray &Settings(TnDevice &aDevice) { return *aDevice.GetCommunicationParameters(); }

    int64_t Counter(TnDevice &aDevice, const char *aName)
    {
        int64_t lValue = -1;
        EXPECT_TRUE(Settings(aDevice).GetIntegerValue(TnString(aName), lValue).IsOK()) << aName;
        return lValue;
    }

    std::unique_ptr<TnGvcpDevice> mDevice;
    tn::gev::TnGvcpServer mServer;
};

TEST_F(Responder, EventsReachTheSinksAndTheEventFeatures)
{
    TnDeviceGEV lDevice;
    RecordingSink lSink;
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    ASSERT_TRUE(Connect(lDevice).IsOK());
    ASSERT_NE(mDevice->GetRegister(tn::gev::kRegMessageChannelPort), 0u) << "connecting opens the message channel";

    uint8_t lData[12];
    tn::gev::PutU64(lData, 0x1122334455667788ull);
    tn::gev::PutU32(lData + 8, 7);
    tn::gev::TnGvcpEvent lEvent;
    lEvent.mEventId = kExposureEnd;
    lEvent.mStreamChannel = 0;
    lEvent.mBlockId = 42;
    lEvent.mTimestamp = 123456789;
    ASSERT_TRUE(mDevice->SendEvent(lEvent, lData, sizeof(lData)).IsOK()) << "the event is acknowledged";
    lEvent.mEventId = 0x9002;
    lEvent.mStreamChannel = 0xFFFF;
    ASSERT_TRUE(mDevice->SendEvent(lEvent).IsOK());
    ASSERT_TRUE(lDevice.WaitForMessagingChannelIdle(2000).IsOK());

    std::lock_guard<std::mutex> lLock(lSink.mMutex);
    ASSERT_EQ(lSink.mEvents.size(), 2u);
    EXPECT_EQ(lSink.mEvents[0].mId, kExposureEnd);
    EXPECT_EQ(lSink.mEvents[0].mBlock, 42u);
    EXPECT_EQ(lSink.mEvents[0].mTimestamp, 123456789u);
    EXPECT_EQ(lSink.mEvents[0].mData, std::vector<uint8_t>(lData, lData + sizeof(lData)));
    EXPECT_EQ(lSink.mEvents[1].mId, 0x9002);
    EXPECT_EQ(lSink.mEvents[1].mChannel, 0xFFFF);
    EXPECT_FALSE(lSink.mEvents[1].mHadData);
    // Only the event the description maps reaches OnEventGenICam, with its
    // port and the features that read its data, addressed from the header on.
    ASSERT_EQ(lSink.mGenICamEvents.size(), 1u);
    EXPECT_EQ(lSink.mGenICamEvents[0],
              "36865:EventExposureEndPort,EventExposureEndTimestamp=1234605616436508552,EventExposureEndFrameID=7");
    int64_t lFrame = 0;
    EXPECT_TRUE(lDevice.GetParameters()->GetIntegerValue(TnString("EventExposureEndFrameID"), lFrame).IsOK());
    EXPECT_EQ(lFrame, 7);
    EXPECT_EQ(Counter(lDevice, "EventsReceived"), 2);
}

TEST_F(Responder, AnEventSentAgainIsAcknowledgedButDeliveredOnce)
{
    TnDeviceGEV lDevice;
    RecordingSink lSink;
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    ASSERT_TRUE(Connect(lDevice).IsOK());
    tn::gev::TnGvcpEvent lEvent;
    lEvent.mEventId = 0x9005;
    std::vector<uint8_t> lCommand = tn::gev::BuildEventCmd(77, {lEvent});
    tn::gev::TnUdpSocket lSocket;
    ASSERT_TRUE(lSocket.Open(kLoopback, 0).IsOK());
    const uint32_t lAddress = mDevice->GetRegister(tn::gev::kRegMessageChannelDestination);
    const uint16_t lPort = static_cast<uint16_t>(mDevice->GetRegister(tn::gev::kRegMessageChannelPort));
    for (int lTime = 0; lTime < 2; ++lTime)
    {
        ASSERT_TRUE(lSocket.SendTo(lAddress, lPort, lCommand.data(), lCommand.size()).IsOK());
        uint8_t lAnswer[64];
        size_t lReceived = 0;
        uint32_t lFrom = 0;
        uint16_t lFromPort = 0;
        ASSERT_TRUE(lSocket.ReceiveFrom(lAnswer, sizeof(lAnswer), lReceived, lFrom, lFromPort, 1000).IsOK());
        tn::gev::TnGvcpAck lAck;
        ASSERT_TRUE(tn::gev::DecodeAck(lAnswer, lReceived, lAck));
        EXPECT_EQ(lAck.mHeader.mAcknowledge, tn::gev::kGvcpEventAck);
        EXPECT_EQ(lAck.mHeader.mAckId, 77);
    }
    ASSERT_TRUE(lDevice.WaitForMessagingChannelIdle(2000).IsOK());
    std::lock_guard<std::mutex> lLock(lSink.mMutex);
    EXPECT_EQ(lSink.mEvents.size(), 1u);
}

// A sink that fails, and one that takes its time.
class ThrowingSink : public TnDeviceEventSink
{
public:
    void OnEvent(TnDevice *, uint16_t, uint16_t, uint64_t, uint64_t, const void *, uint32_t) override
    {
        ++mCalls;
        throw std::runtime_error("sink failure");
    }
    std::atomic<int> mCalls{0};
};

class SlowSink : public TnDeviceEventSink
{
public:
    void OnEvent(TnDevice *aDevice, uint16_t, uint16_t, uint64_t, uint64_t, const void *, uint32_t) override
    {
        mStarted = true;
        if (mUnregisterInside)
        {
            // From inside its own callback: returns at once.
            mInsideResult = aDevice->UnregisterEventSink(this).GetCode();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        mFinished = true;
    }
    std::atomic<bool> mStarted{false};
    std::atomic<bool> mFinished{false};
    bool mUnregisterInside = false;
    std::atomic<uint32_t> mInsideResult{0xFFFF};
};

TEST_F(Responder, FailingSinksAndUnregisteringDuringACallback)
{
    TnDeviceGEV lDevice;
    ThrowingSink lThrowing;
    RecordingSink lRecording;
    SlowSink lSlow;
    ASSERT_TRUE(lDevice.RegisterEventSink(&lThrowing).IsOK());
    ASSERT_TRUE(lDevice.RegisterEventSink(&lRecording).IsOK());
    EXPECT_EQ(lDevice.RegisterEventSink(&lRecording).GetCode(), tn::kSinkRegisteredTwice);
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSlow).IsOK());
    ASSERT_TRUE(Connect(lDevice).IsOK());
    tn::gev::TnGvcpEvent lEvent;
    lEvent.mEventId = 1;
    ASSERT_TRUE(mDevice->SendEvent(lEvent).IsOK());
    ASSERT_TRUE(lRecording.WaitFor([&] { return !lRecording.mEvents.empty(); }, 2000))
        << "a throwing sink keeps no other sink from the event";
    EXPECT_EQ(lThrowing.mCalls, 1);

    // Unregistering waits for the call in progress.
    while (!lSlow.mStarted)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(lDevice.UnregisterEventSink(&lSlow).IsOK());
    EXPECT_TRUE(lSlow.mFinished) << "UnregisterEventSink returned while the sink was still being called";
    EXPECT_EQ(lDevice.UnregisterEventSink(&lSlow).GetCode(), TN_NOT_FOUND);

    SlowSink lSelf;
    lSelf.mUnregisterInside = true;
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSelf).IsOK());
    ASSERT_TRUE(mDevice->SendEvent(lEvent).IsOK());
    ASSERT_TRUE(lDevice.WaitForMessagingChannelIdle(2000).IsOK());
    EXPECT_EQ(lSelf.mInsideResult, TN_OK);
    EXPECT_TRUE(lDevice.IsConnected()) << "the device runs on after a sink failed";
}

TEST_F(Responder, CommunicationSettingsChangeTheClient)
{
    TnDeviceGEV lDevice;
    ASSERT_TRUE(Connect(lDevice).IsOK());
    TnGenParameterArray &lSettings = Settings(lDevice);
    ASSERT_TRUE(lSettings.SetIntegerValue(TnString("AnswerTimeout"), 100).IsOK());
    ASSERT_TRUE(lSettings.SetIntegerValue(TnString("CommandRetryCount"), 0).IsOK());
    EXPECT_FALSE(lSettings.SetIntegerValue(TnString("ReadMemoryPacketSize"), 1000).IsOK()) << "beyond the limit";

    // A slow write the device announces with a pending answer succeeds...
    mDevice->SetSlowWrites(500, 300);
    ASSERT_TRUE(lDevice.GetParameters()->SetIntegerValue(TnString("Width"), 800).IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x1000), 800u);
    EXPECT_GE(Counter(lDevice, "PendingAcknowledges"), 1);
    // ... one it does not announce outlasts the answer timeout ...
    mDevice->SetSlowWrites(0, 300);
    const TnResult lLate = lDevice.GetParameters()->SetIntegerValue(TnString("Width"), 900);
    EXPECT_EQ(lLate.GetCode(), TN_TIMEOUT) << Describe(lLate);
    EXPECT_EQ(Counter(lDevice, "CommandTimeouts"), 1);
    EXPECT_EQ(Counter(lDevice, "CommandRetries"), 0);
    // ... and passes with a longer one.
    ASSERT_TRUE(lSettings.SetIntegerValue(TnString("AnswerTimeout"), 1000).IsOK());
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // the late answer of the last write
    EXPECT_TRUE(lDevice.GetParameters()->SetIntegerValue(TnString("Width"), 1000).IsOK());
    // Retries: the device answers a repeated command once it is done.
    ASSERT_TRUE(lSettings.SetIntegerValue(TnString("AnswerTimeout"), 150).IsOK());
    ASSERT_TRUE(lSettings.SetIntegerValue(TnString("CommandRetryCount"), 3).IsOK());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(lDevice.GetParameters()->SetIntegerValue(TnString("Width"), 1100).IsOK());
    EXPECT_GE(Counter(lDevice, "CommandRetries"), 1);
    mDevice->SetSlowWrites(0, 0);
    EXPECT_TRUE(lDevice.IsConnected());

    // Without the message channel the device is not told where events go.
    ASSERT_TRUE(lDevice.Disconnect().IsOK());
    EXPECT_EQ(mDevice->GetRegister(tn::gev::kRegMessageChannelPort), 0u) << "closed on disconnection";
    ASSERT_TRUE(lSettings.SetBooleanValue(TnString("MessageChannelEnabled"), false).IsOK());
    ASSERT_TRUE(Connect(lDevice).IsOK());
    EXPECT_EQ(mDevice->GetRegister(tn::gev::kRegMessageChannelPort), 0u);
    tn::gev::TnGvcpPeer lController;
    EXPECT_TRUE(mDevice->GetController(lController));
}

TEST_F(Responder, ThreadsAndHeartbeatShareTheControlChannel)
{
    TnDeviceGEV lDevice;
    ASSERT_TRUE(Settings(lDevice).SetIntegerValue(TnString("HeartbeatInterval"), 20).IsOK());
    ASSERT_TRUE(Connect(lDevice).IsOK());
    std::atomic<int> lFailures{0};
    std::atomic<bool> lStop{false};
    std::vector<std::thread> lThreads;
    for (int lThread = 0; lThread < 4; ++lThread)
    {
        lThreads.emplace_back([&, lThread] {
            for (uint32_t lRound = 0; !lStop; ++lRound)
            {
                uint32_t lValue = 0;
                const int64_t lAddress = 0x1100 + 4 * lThread;
                if (!lDevice.WriteRegister(lAddress, lRound).IsOK() || !lDevice.ReadRegister(lAddress, lValue).IsOK() ||
                    lValue != lRound)
                {
                    ++lFailures;
                }
            }
        });
    }
    // Busy callers keep the channel full; heartbeats still get their turns.
    const int64_t lBefore = Counter(lDevice, "HeartbeatsSent");
    for (int lWait = 0; lWait < 300 && Counter(lDevice, "HeartbeatsSent") < lBefore + 5; ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    lStop = true;
    for (std::thread &lThread : lThreads)
    {
        lThread.join();
    }
    EXPECT_EQ(lFailures, 0);
    EXPECT_GE(Counter(lDevice, "HeartbeatsSent"), lBefore + 5);
    EXPECT_EQ(Counter(lDevice, "CommandTimeouts"), 0);
    EXPECT_TRUE(lDevice.IsConnected());
}

TEST_F(Responder, PacketLimitsOfTheDevice)
{
    mServer.SetMemoryLimits(256, 256);
    TnDeviceGEV lDevice;
    const TnResult lRefused = Connect(lDevice);
    EXPECT_FALSE(lRefused.IsOK()) << "reading the description in 512-byte pieces must fail here";
    ASSERT_TRUE(Settings(lDevice).SetIntegerValue(TnString("ReadMemoryPacketSize"), 256).IsOK());
    ASSERT_TRUE(Settings(lDevice).SetIntegerValue(TnString("WriteMemoryPacketSize"), 256).IsOK());
    ASSERT_TRUE(Connect(lDevice).IsOK());
    // Writes in whole words, reads of any alignment, both in 256-byte pieces.
    std::vector<uint8_t> lBlock(1000);
    for (size_t lIndex = 0; lIndex < lBlock.size(); ++lIndex)
    {
        lBlock[lIndex] = static_cast<uint8_t>(lIndex * 7);
    }
    ASSERT_TRUE(lDevice.WriteMemory(0x4000, lBlock.data(), static_cast<int64_t>(lBlock.size())).IsOK());
    std::vector<uint8_t> lBack(lBlock.size());
    ASSERT_TRUE(mDevice->Peek(0x4000, lBack.data(), lBack.size()));
    EXPECT_EQ(lBack, lBlock);
    lBack.assign(lBlock.size() - 2, 0);
    ASSERT_TRUE(lDevice.ReadMemory(0x4001, lBack.data(), static_cast<int64_t>(lBack.size())).IsOK());
    EXPECT_EQ(lBack, std::vector<uint8_t>(lBlock.begin() + 1, lBlock.end() - 1));
}

TEST_F(Responder, DescriptionLocations)
{
    // Zipped in device memory.
    const std::vector<uint8_t> lZip = Zip("responder.xml", kXml);
    ASSERT_TRUE(mDevice->SetLocalXml("responder.zip", kXmlAddress, lZip));
    TnDeviceGEV lDevice;
    ASSERT_TRUE(Connect(lDevice).IsOK());
    TnString lName;
    ASSERT_TRUE(lDevice.GetDefaultGenICamXMLFilename(lName).IsOK());
    EXPECT_EQ(tn::ToString(lName), "responder.zip");
    char lPath[] = "/tmp/tn-device-zip-XXXXXX";
    const int lHandle = mkstemp(lPath);
    ASSERT_GE(lHandle, 0);
    close(lHandle);
    ASSERT_TRUE(lDevice.DumpGenICamXML(TnString(lPath)).IsOK());
    std::ifstream lDumped(lPath, std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(lDumped), {}), lZip) << "the archive as stored";
    int64_t lWidth = 0;
    EXPECT_TRUE(lDevice.GetParameters()->GetIntegerValue(TnString("Width"), lWidth).IsOK());
    EXPECT_EQ(lWidth, 640);
    lDevice.Disconnect();

    // A file of this host.
    {
        std::ofstream lFile(lPath, std::ios::binary | std::ios::trunc);
        lFile << kXml;
    }
    mDevice->SetFirstUrl(std::string("File:///") + (lPath + 1));
    ASSERT_TRUE(Connect(lDevice).IsOK());
    EXPECT_NE(lDevice.GetParameters()->GetInteger(TnString("Width")), nullptr);
    lDevice.Disconnect();
    unlink(lPath);

    // A web server: not supported, said so.
    mDevice->SetFirstUrl("http://example.invalid/responder.xml");
    const TnResult lHttp = Connect(lDevice);
    EXPECT_EQ(lHttp.GetCode(), TN_NOT_SUPPORTED);
    EXPECT_NE(tn::ToString(lHttp.GetDescription()).find("http://example.invalid/responder.xml"), std::string::npos);
    EXPECT_FALSE(lDevice.IsConnected());
}

TEST_F(Responder, NoCommandGoesToAnAddressNoDeviceHas)
{
    // Device information made by hand, as a program may make it.
    for (const auto &lCase : {std::make_pair(0xE0000001u, "multicast"), std::make_pair(0xFFFFFFFFu, "reserved"),
                              std::make_pair(0x7FFFFFFFu, "broadcast"), std::make_pair(0x7F000000u, "network")})
    {
        TnDeviceInfoGEV lInfo;
        lInfo.mIPAddress = lCase.first;
        lInfo.mSubnetMask = 0xFF000000u;
        lInfo.mLocalAddress = kLoopback;
        TnDeviceGEV lDevice;
        const TnResult lResult = lDevice.Connect(&lInfo);
        EXPECT_EQ(lResult.GetCode(), TN_INVALID_PARAMETER) << lCase.second;
        EXPECT_NE(tn::ToString(lResult.GetDescription()).find(std::string("(") + lCase.second + ")"), std::string::npos)
            << Describe(lResult);
        EXPECT_FALSE(lDevice.IsConnected());
    }
}

TEST_F(Responder, StreamChannelRegistersAndPacketSize)
{
    using namespace tn::gev;
    TnDeviceGEV lDevice;
    ASSERT_TRUE(Connect(lDevice).IsOK());
    ASSERT_TRUE(lDevice.SetStreamDestination(TnString("127.0.0.1"), 5000).IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x0D18), kLoopback);
    EXPECT_EQ(mDevice->GetRegister(0x0D00) & 0xFFFF, 5000u);
    EXPECT_EQ(lDevice.SetStreamDestination(TnString("127.0.0.1"), 5000, 1).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lDevice.SetStreamDestination(TnString("no address"), 5000).GetCode(), TN_INVALID_PARAMETER);

    mDevice->SetPathMtu(1500);
    ASSERT_TRUE(lDevice.NegotiatePacketSize().IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x0D04) & 0xFFFF, 1500u);
    EXPECT_EQ(mDevice->GetRegister(0x0D18), kLoopback) << "the destination is put back";
    EXPECT_EQ(mDevice->GetRegister(0x0D00) & 0xFFFF, 5000u);
    mDevice->SetPathMtu(9000);
    ASSERT_TRUE(lDevice.NegotiatePacketSize(0, 1400).IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x0D04) & 0xFFFF, 9000u);
    mDevice->SetPathMtu(0); // nothing gets through
    EXPECT_FALSE(lDevice.NegotiatePacketSize(0, 1400).IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x0D04) & 0xFFFF, 1400u) << "the default packet size";
    ASSERT_TRUE(lDevice.SetPacketSize(1200).IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x0D04) & 0xFFFF, 1200u);

    ASSERT_TRUE(lDevice.ResetStreamDestination().IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x0D18), 0u);
    EXPECT_EQ(mDevice->GetRegister(0x0D00) & 0xFFFF, 0u);

    ASSERT_TRUE(lDevice.StreamEnable().IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x1008), 1u);
    ASSERT_TRUE(lDevice.StreamDisable().IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x1008), 0u);
    EXPECT_EQ(lDevice.StreamEnable(1).GetCode(), TN_INVALID_PARAMETER);

    // A write without acknowledgement returns at once and still lands.
    ASSERT_TRUE(lDevice.WriteRegister(0x1000, 1234, false).IsOK());
    for (int lWait = 0; lWait < 100 && mDevice->GetRegister(0x1000) != 1234; ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(mDevice->GetRegister(0x1000), 1234u);
    uint32_t lValue = 0;
    ASSERT_TRUE(lDevice.ReadRegister(0x1000, lValue).IsOK());
    EXPECT_EQ(lValue, 1234u);
}

TEST_F(Responder, AccessTypesAndForceIP)
{
    TnDeviceGEV lOwner;
    ASSERT_TRUE(Connect(lOwner, TnAccessExclusive).IsOK());
    TnAccessType lAccess = TnAccessUnknown;
    ASSERT_TRUE(TnDeviceGEV::GetAccessType(TnString("127.0.0.1"), lAccess).IsOK());
    EXPECT_EQ(lAccess, TnAccessExclusive);
    TnDeviceGEV lOther;
    const TnResult lRefused = Connect(lOther, TnAccessControl);
    EXPECT_NE(tn::ToString(lRefused.GetDescription()).find("GEV_STATUS_ACCESS_DENIED"), std::string::npos)
        << Describe(lRefused);
    EXPECT_FALSE(Connect(lOther, TnAccessReadOnly).IsOK()) << "exclusive privilege keeps others from reading";
    ASSERT_TRUE(lOwner.Disconnect().IsOK());
    ASSERT_TRUE(TnDeviceGEV::GetAccessType(TnString("127.0.0.1"), lAccess).IsOK());
    EXPECT_EQ(lAccess, TnAccessOpen);

    // Read-only access refuses writes in the controller itself.
    ASSERT_TRUE(Connect(lOther, TnAccessReadOnly).IsOK());
    EXPECT_EQ(lOther.WriteRegister(0x1000, 1).GetCode(), TN_STATE_ERROR);
    EXPECT_FALSE(lOther.GetParameters()->SetIntegerValue(TnString("Width"), 320).IsOK());
    EXPECT_EQ(mDevice->GetRegister(0x1000), 640u);
    lOther.Disconnect();

    ASSERT_TRUE(TnDeviceGEV::SetIPConfiguration(TnString("02:50:c2:00:12:34"), TnString("127.0.0.1"),
                                                TnString("255.255.0.0"), TnString("127.0.0.254"))
                    .IsOK());
    EXPECT_EQ(mDevice->GetRegister(tn::gev::kRegCurrentSubnetMask), 0xFFFF0000u);
    EXPECT_EQ(mDevice->GetRegister(tn::gev::kRegCurrentGateway), 0x7F0000FEu);
    EXPECT_EQ(TnDeviceGEV::SetIPConfiguration(TnString("02:50:c2:00:99:99"), TnString("127.0.0.1")).GetCode(),
              TN_NOT_FOUND);
    EXPECT_EQ(TnDeviceGEV::SetIPConfiguration(TnString("not a mac"), TnString("127.0.0.1")).GetCode(),
              TN_INVALID_PARAMETER);
}

TEST_F(Responder, PortAccessesAreReportedToSinks)
{
    TnDeviceGEV lDevice;
    RecordingSink lSink;
    ASSERT_TRUE(Connect(lDevice).IsOK());
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    int64_t lWidth = 0;
    ASSERT_TRUE(lDevice.GetParameters()->GetIntegerValue(TnString("Width"), lWidth).IsOK());
    ASSERT_TRUE(lDevice.GetParameters()->SetIntegerValue(TnString("Width"), 320).IsOK());
    ASSERT_TRUE(lDevice.UnregisterEventSink(&lSink).IsOK());
    std::lock_guard<std::mutex> lLock(lSink.mMutex);
    ASSERT_FALSE(lSink.mReads.empty());
    EXPECT_EQ(lSink.mReads[0], (std::pair<int64_t, int64_t>(0x1000, 4)));
    ASSERT_EQ(lSink.mWrites.size(), 1u);
    EXPECT_EQ(lSink.mWrites[0], (std::pair<int64_t, int64_t>(0x1000, 4)));
}
} // namespace

namespace
{
class AdapterSink : public ITnDeviceEventSink
{
public:
    void OnLinkDisconnected() override {}
    void OnEvent(uint16_t aEventID, uint16_t, uint64_t, uint64_t, const void *, uint32_t) override
    {
        mEvent = aEventID;
    }
    void OnParameterUpdate(const TnString &aParameterName) override { mUpdated = tn::ToString(aParameterName); }
    std::atomic<int> mEvent{0};
    std::string mUpdated;
};

TEST_F(Responder, TheAdapterDrivesTheDeviceByName)
{
    TnDeviceGEV lDevice;
    ASSERT_TRUE(Connect(lDevice).IsOK());
    TnDeviceAdapter lAdapter(&lDevice);
    EXPECT_TRUE(lAdapter.IsConnected());
    EXPECT_TRUE(lAdapter.IsGigEVision());
    EXPECT_FALSE(lAdapter.IsUSB3Vision());
    EXPECT_TRUE(lAdapter.IsGenIntegerInNodeMap(TnString("Width")));
    EXPECT_FALSE(lAdapter.IsGenEnumInNodeMap(TnString("Width")));
    EXPECT_TRUE(lAdapter.IsGenWritable(TnString("Width")));
    EXPECT_FALSE(lAdapter.IsGenReadable(TnString("NoSuchFeature")));
    int64_t lWidth = 0;
    ASSERT_TRUE(lAdapter.GetGenIntegerValue(TnString("Width"), lWidth).IsOK());
    EXPECT_EQ(lWidth, 640);
    EXPECT_EQ(lAdapter.GetGenIntegerValue(TnString("NoSuchFeature"), lWidth).GetCode(), TN_NOT_FOUND);
    ASSERT_TRUE(lAdapter.WriteRegister(0x1000, 720).IsOK());
    uint32_t lValue = 0;
    ASSERT_TRUE(lAdapter.ReadRegister(0x1000, lValue).IsOK());
    EXPECT_EQ(lValue, 720u);
    EXPECT_EQ(mDevice->GetRegister(0x1000), 720u);
    TnString lText;
    ASSERT_TRUE(lAdapter.GetGenStringValue(TnString("DeviceVendorName"), lText).IsOK());
    EXPECT_EQ(tn::ToString(lText), "TarnTest");

    AdapterSink lSink;
    ASSERT_TRUE(lAdapter.RegisterEventSink(&lSink).IsOK());
    EXPECT_EQ(lAdapter.RegisterEventSink(&lSink).GetCode(), tn::kSinkRegisteredTwice);
    ASSERT_TRUE(lAdapter.RegisterGenInvalidator(TnString("Width")).IsOK());
    ASSERT_TRUE(lDevice.GetParameters()->SetIntegerValue(TnString("Width"), 800).IsOK());
    EXPECT_EQ(lSink.mUpdated, "Width");
    tn::gev::TnGvcpEvent lEvent;
    lEvent.mEventId = 0x1234;
    ASSERT_TRUE(mDevice->SendEvent(lEvent).IsOK());
    ASSERT_TRUE(lAdapter.WaitForMessagingChannelIdle(2000).IsOK());
    EXPECT_EQ(lSink.mEvent, 0x1234);
    ASSERT_TRUE(lAdapter.UnregisterGenInvalidator(TnString("Width")).IsOK());
    ASSERT_TRUE(lAdapter.UnregisterEventSink(&lSink).IsOK());
    EXPECT_EQ(lAdapter.UnregisterEventSink(&lSink).GetCode(), TN_NOT_FOUND);

    // No device offers a serial port here.
    TnDeviceSerialPort lPort;
    EXPECT_FALSE(TnDeviceSerialPort::IsSupported(&lAdapter, TnDeviceSerial0));
    EXPECT_EQ(lPort.Open(&lAdapter, TnDeviceSerial0).GetCode(), TN_NOT_SUPPORTED);
    EXPECT_EQ(lPort.Open(nullptr, TnDeviceSerial0).GetCode(), TN_INVALID_PARAMETER);
    lDevice.Disconnect();
    EXPECT_EQ(lPort.Open(&lAdapter, TnDeviceSerial0).GetCode(), TN_NOT_CONNECTED);
}

TEST_F(Responder, AdaptersAndDevicesEndInEitherOrder)
{
    // An adapter that goes first takes its invalidators with it: the
    // feature no longer knows it.
    TnDeviceGEV lDevice;
    ASSERT_TRUE(Connect(lDevice).IsOK());
    TnGenParameter *lWidth = lDevice.GetParameters()->Get(TnString("Width"));
    ASSERT_NE(lWidth, nullptr);
    TnDeviceAdapter *lFirst = new TnDeviceAdapter(&lDevice);
    ASSERT_TRUE(lFirst->RegisterGenInvalidator(TnString("Width")).IsOK());
    TnGenEventSink *lGone = lFirst;
    delete lFirst;
    EXPECT_EQ(lWidth->UnregisterEventSink(lGone).GetCode(), TN_NOT_FOUND);
    EXPECT_TRUE(lDevice.GetParameters()->SetIntegerValue(TnString("Width"), 800).IsOK());

    // A device that goes first leaves its adapters disconnected.
    TnDeviceGEV *lSecond = new TnDeviceGEV;
    ASSERT_TRUE(lDevice.Disconnect().IsOK());
    ASSERT_TRUE(Connect(*lSecond).IsOK());
    TnDeviceAdapter lAdapter(lSecond);
    ASSERT_TRUE(lAdapter.RegisterGenInvalidator(TnString("Width")).IsOK());
    delete lSecond;
    EXPECT_FALSE(lAdapter.IsConnected());
    EXPECT_FALSE(lAdapter.IsGenIntegerInNodeMap(TnString("Width")));
    uint32_t lValue = 0;
    EXPECT_EQ(lAdapter.ReadRegister(0x1000, lValue).GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(lAdapter.RegisterGenInvalidator(TnString("Width")).GetCode(), TN_NOT_FOUND);
}

TEST_F(Responder, ASinkDestroyedWhileRegisteredIsLetGoOf)
{
    TnDeviceGEV lDevice;
    RecordingSink *lSink = new RecordingSink;
    RecordingSink lStays;
    ASSERT_TRUE(lDevice.RegisterEventSink(lSink).IsOK());
    ASSERT_TRUE(lDevice.RegisterEventSink(&lStays).IsOK());
    ASSERT_TRUE(Connect(lDevice).IsOK());
    TnDeviceEventSink *lGone = lSink;
    delete lSink;
    EXPECT_EQ(lDevice.UnregisterEventSink(lGone).GetCode(), TN_NOT_FOUND);
    tn::gev::TnGvcpEvent lEvent;
    lEvent.mEventId = 0x9003;
    ASSERT_TRUE(mDevice->SendEvent(lEvent).IsOK());
    ASSERT_TRUE(lDevice.WaitForMessagingChannelIdle(2000).IsOK());
    EXPECT_EQ(lStays.mEvents.size(), 1u);
    EXPECT_TRUE(lDevice.UnregisterEventSink(&lStays).IsOK());
}

TEST_F(Responder, FreeReleasesOnlyWhatTheFactoryMade)
{
    TnResult lResult;
    TnDevice *lMade = TnDevice::CreateAndConnect(TnString("RESP-1"), &lResult);
    ASSERT_NE(lMade, nullptr) << Describe(lResult);
    TnDeviceAdapter lAdapter(lMade);
    TnDevice::Free(lMade);
    EXPECT_FALSE(lAdapter.IsConnected());
    TnDevice::Free(lMade); // freed already: left alone
    // Control was given back, so that another controller may take it.
    TnDeviceGEV lOwn;
    EXPECT_TRUE(Connect(lOwn).IsOK());
    TnDevice::Free(&lOwn); // not the factory's: left alone
    EXPECT_TRUE(lOwn.IsConnected());
    TnDevice::Free(nullptr);
}
} // namespace
