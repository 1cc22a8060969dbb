// The control client, the responder and discovery talking to each other over
// loopback addresses.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TnGevAddress.h"
#include "TnGevBytes.h"
#include "TnGvcp.h"
#include "TnGvcpClient.h"
#include "TnGvcpDiscovery.h"
#include "TnGvcpServer.h"
#include "TnTestDevices.h"
#include "TnTestNetwork.h"
#include "TnUdpSocket.h"

using namespace tn::gev;

namespace
{
constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kXmlAddress = 0x10000;
constexpr uint32_t kXmlLength = 0x3E67; // not a whole number of words or chunks
constexpr uint32_t kThrowingAddress = 0xBAD0;

const ::testing::Environment *gEnvironment =
    ::testing::AddGlobalTestEnvironment(new tn::test::PrivateNetworkEnvironment);

TnGvcpDeviceInfo Description(uint64_t aMac, const char *aSerial)
{
    TnGvcpDeviceInfo lInfo;
    lInfo.mVersionMajor = 2;
    lInfo.mVersionMinor = 0;
    lInfo.SetMacValue(aMac);
    lInfo.mSupportedIPConfig = kIPConfigLla | kIPConfigDhcp;
    lInfo.mCurrentIPConfig = kIPConfigLla;
    lInfo.mCurrentIP = kLoopback;
    lInfo.mSubnetMask = 0xFF000000;
    lInfo.mManufacturerName = "Tarn Test";
    lInfo.mModelName = "Memory";
    lInfo.mDeviceVersion = "1.0";
    lInfo.mSerialNumber = aSerial;
    return lInfo;
}

// A device whose registers are plain memory: the description's region holds
// patterned bytes, one register fails by throwing, and the first two
// bootstrap registers are write-protected.
class MemoryDevice : public tn::test::MemoryDevice
{
public:
    explicit MemoryDevice(uint64_t aMac = 0x0250C2000001ull, const char *aSerial = "SN-1")
        : tn::test::MemoryDevice(Description(aMac, aSerial), 0x20000)
    {
        ProtectBelow(8);
        const std::string lUrl = "Local:memory.xml;10000;3e67";
        Write(kRegFirstUrl, lUrl.data(), lUrl.size());
        std::vector<uint8_t> lPattern(kXmlLength);
        for (uint32_t lIndex = 0; lIndex < kXmlLength; ++lIndex)
        {
            lPattern[lIndex] = static_cast<uint8_t>(lIndex * 7 + (lIndex >> 8));
        }
        Write(kXmlAddress, lPattern.data(), lPattern.size());
    }

    uint16_t ReadMemory(const TnGvcpPeer &aPeer, uint32_t aAddress, uint8_t *aData, size_t aSize) override
    {
        if (aAddress == kThrowingAddress)
        {
            throw std::runtime_error("register map failure");
        }
        return tn::test::MemoryDevice::ReadMemory(aPeer, aAddress, aData, aSize);
    }
};

// A device played by the test: a socket and a script run on its own thread.
class ScriptedDevice
{
public:
    explicit ScriptedDevice(uint32_t aAddress = kLoopback)
    {
        EXPECT_TRUE(mSocket.Open(aAddress, 0).IsOK());
    }

    ~ScriptedDevice()
    {
        if (mThread.joinable())
        {
            mThread.join();
        }
    }

    void Run(std::function<void(ScriptedDevice &)> aScript)
    {
        mThread = std::thread([this, aScript] { aScript(*this); });
    }

    // The next command, or false after aTimeoutMs.
    bool Receive(TnGvcpCommandHeader &aHeader, std::vector<uint8_t> &aPacket, uint32_t aTimeoutMs = 2000)
    {
        aPacket.resize(2048);
        size_t lSize = 0;
        if (!mSocket.ReceiveFrom(aPacket.data(), aPacket.size(), lSize, mPeer, mPeerPort, aTimeoutMs).IsOK())
        {
            return false;
        }
        aPacket.resize(lSize);
        TnGvcpCommand lCommand;
        if (!DecodeCommand(aPacket.data(), aPacket.size(), lCommand))
        {
            return false;
        }
        aHeader = lCommand.mHeader;
        return true;
    }

    void Send(const std::vector<uint8_t> &aPacket)
    {
        mSocket.SendTo(mPeer, mPeerPort, aPacket.data(), aPacket.size());
    }

    void SendFrom(TnUdpSocket &aOther, const std::vector<uint8_t> &aPacket)
    {
        aOther.SendTo(mPeer, mPeerPort, aPacket.data(), aPacket.size());
    }

    uint16_t GetPort() const
    {
        return mSocket.GetLocalPort();
    }

private:
    TnUdpSocket mSocket;
    uint32_t mPeer = 0;
    uint16_t mPeerPort = 0;
    std::thread mThread;
};

// A raw control channel to a responder, for commands the client never sends.
std::vector<uint8_t> Exchange(TnUdpSocket &aSocket, uint16_t aPort, const std::vector<uint8_t> &aCommand,
                              uint32_t aTimeoutMs = 300)
{
    EXPECT_TRUE(aSocket.SendTo(kLoopback, aPort, aCommand.data(), aCommand.size()).IsOK());
    std::vector<uint8_t> lAnswer(2048);
    size_t lSize = 0;
    uint32_t lFrom = 0;
    uint16_t lFromPort = 0;
    if (!aSocket.ReceiveFrom(lAnswer.data(), lAnswer.size(), lSize, lFrom, lFromPort, aTimeoutMs).IsOK())
    {
        return std::vector<uint8_t>();
    }
    lAnswer.resize(lSize);
    return lAnswer;
}

uint16_t StatusOf(const std::vector<uint8_t> &aAnswer)
{
    return aAnswer.size() >= 2 ? GetU16(aAnswer.data()) : 0xFFFF;
}

class ClientServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mServer.Start(&mDevice, kLoopback, 0).IsOK());
        ASSERT_TRUE(mClient.Open(kLoopback, mServer.GetPort()).IsOK());
        mClient.SetTimeout(150);
        mClient.SetRetryCount(1);
    }

    MemoryDevice mDevice;
    TnGvcpServer mServer;
    TnGvcpClient mClient;
};
} // namespace

TEST_F(ClientServer, RegistersAndMemoryTravelBothWays)
{
    std::string lUrl;
    ASSERT_TRUE(mClient.ReadString(kRegFirstUrl, kUrlSize, lUrl).IsOK());
    EXPECT_EQ(lUrl, "Local:memory.xml;10000;3e67");
    std::vector<uint8_t> lXml(kXmlLength);
    ASSERT_TRUE(mClient.ReadMemory(kXmlAddress, lXml.data(), lXml.size()).IsOK());
    EXPECT_EQ(lXml, mDevice.Snapshot(kXmlAddress, kXmlLength));

    // An unaligned read inside one word and across words.
    uint8_t lPiece[6] = {};
    ASSERT_TRUE(mClient.ReadMemory(kXmlAddress + 3, lPiece, sizeof(lPiece)).IsOK());
    EXPECT_EQ(std::vector<uint8_t>(lPiece, lPiece + 6), mDevice.Snapshot(kXmlAddress + 3, 6));

    const uint32_t lAddresses[] = {0x1000, 0x1004, 0x1008, 0x2000};
    const uint32_t lValues[] = {1, 0xFFFFFFFF, 0x12345678, 42};
    for (bool lConcatenation : {false, true})
    {
        mClient.SetConcatenation(lConcatenation);
        size_t lWritten = 0;
        ASSERT_TRUE(mClient.WriteRegisters(lAddresses, lValues, 4, &lWritten).IsOK());
        EXPECT_EQ(lWritten, 4u);
        uint32_t lBack[4] = {};
        ASSERT_TRUE(mClient.ReadRegisters(lAddresses, lBack, 4).IsOK());
        EXPECT_EQ(std::vector<uint32_t>(lBack, lBack + 4), std::vector<uint32_t>(lValues, lValues + 4));
    }
    uint32_t lVersion = 0;
    ASSERT_TRUE(mClient.ReadRegister(kRegVersion, lVersion).IsOK());
    EXPECT_EQ(lVersion, 0x00020000u);

    // Writes of any length and alignment leave the neighbouring bytes alone.
    const std::vector<uint8_t> lBefore = mDevice.Snapshot(0x3000, 16);
    ASSERT_TRUE(mClient.WriteMemory(0x3001, "ABCDE", 5).IsOK());
    std::vector<uint8_t> lExpected = lBefore;
    memcpy(lExpected.data() + 1, "ABCDE", 5);
    EXPECT_EQ(mDevice.Snapshot(0x3000, 16), lExpected);
    std::vector<uint8_t> lLarge(1500);
    for (size_t lIndex = 0; lIndex < lLarge.size(); ++lIndex)
    {
        lLarge[lIndex] = static_cast<uint8_t>(lIndex ^ 0x5A);
    }
    ASSERT_TRUE(mClient.WriteMemory(0x4000, lLarge.data(), lLarge.size()).IsOK());
    EXPECT_EQ(mDevice.Snapshot(0x4000, lLarge.size()), lLarge);
}

TEST_F(ClientServer, DeviceRefusalsAndBadArgumentsComeBackAsFailedResults)
{
    uint32_t lValue = 0;
    TnResult lResult = mClient.ReadRegister(0x30000, lValue);
    EXPECT_EQ(lResult.GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(mClient.GetLastStatus(), kGvcpStatusInvalidAddress);

    mClient.SetConcatenation(true);
    const uint32_t lAddresses[] = {0x1000, 0x0004, 0x1008};
    const uint32_t lValues[] = {1, 2, 3};
    size_t lWritten = 99;
    lResult = mClient.WriteRegisters(lAddresses, lValues, 3, &lWritten);
    EXPECT_TRUE(lResult.IsFailure());
    EXPECT_EQ(mClient.GetLastStatus(), kGvcpStatusWriteProtect);
    EXPECT_EQ(lWritten, 1u);

    // A register map that throws answers an error, and the responder lives on.
    lResult = mClient.ReadRegister(kThrowingAddress, lValue);
    EXPECT_EQ(lResult.GetCode(), TN_GENERIC_ERROR);
    EXPECT_EQ(mClient.GetLastStatus(), kGvcpStatusError);
    EXPECT_TRUE(mClient.ReadRegister(kRegVersion, lValue).IsOK());

    // Refused before anything is sent.
    EXPECT_EQ(mClient.ReadRegister(0x1002, lValue).GetCode(), TN_INVALID_PARAMETER);
    uint8_t lByte = 0;
    EXPECT_EQ(mClient.ReadMemory(0xFFFFFFFF, &lByte, 2).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(mClient.ReadMemory(0, nullptr, 4).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(mClient.WriteMemory(0xFFFFFFFC, "12345678", 8).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(mClient.ReadRegisters(nullptr, &lValue, 1).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_TRUE(mClient.ReadMemory(0, nullptr, 0).IsOK());
    mClient.Close();
    EXPECT_EQ(mClient.ReadRegister(kRegVersion, lValue).GetCode(), TN_NOT_CONNECTED);
    TnGvcpClient lUnopened;
    EXPECT_EQ(lUnopened.Open(0, kGvcpPort).GetCode(), TN_INVALID_PARAMETER);
}

TEST_F(ClientServer, RepeatedAndMalformedCommandsDoNoHarm)
{
    TnUdpSocket lRaw;
    ASSERT_TRUE(lRaw.Open(kLoopback, 0).IsOK());
    const uint16_t lPort = mServer.GetPort();

    // A write sent twice with one request id (its answer lost) runs once.
    const uint32_t lAddress = 0x5000;
    const uint32_t lValue = 7;
    const std::vector<uint8_t> lWrite = BuildWriteRegCmd(0x0101, &lAddress, &lValue, 1);
    EXPECT_EQ(StatusOf(Exchange(lRaw, lPort, lWrite)), kGvcpStatusSuccess);
    EXPECT_EQ(StatusOf(Exchange(lRaw, lPort, lWrite)), kGvcpStatusSuccess);
    EXPECT_EQ(mDevice.GetWriteCount(), 1);
    EXPECT_EQ(StatusOf(Exchange(lRaw, lPort, BuildWriteRegCmd(0x0102, &lAddress, &lValue, 1))), kGvcpStatusSuccess);
    EXPECT_EQ(mDevice.GetWriteCount(), 2);

    // Garbage gets no answer; a header promising more than it brings is refused.
    EXPECT_TRUE(Exchange(lRaw, lPort, {0x42, 0x01, 0x00}, 150).empty());
    EXPECT_TRUE(Exchange(lRaw, lPort, {0x41, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0x01}, 150).empty());
    std::vector<uint8_t> lLying = BuildReadMemCmd(0x0103, 0, 4);
    lLying[5] = 0x40;
    const std::vector<uint8_t> lRefused = Exchange(lRaw, lPort, lLying);
    EXPECT_EQ(StatusOf(lRefused), kGvcpStatusInvalidHeader);
    ASSERT_GE(lRefused.size(), 8u);
    EXPECT_EQ(GetU16(lRefused.data() + 6), 0x0103);

    // Memory reads the responder cannot serve as asked.
    EXPECT_EQ(StatusOf(Exchange(lRaw, lPort, BuildReadMemCmd(0x0104, 0, 0))), kGvcpStatusInvalidParameter);
    EXPECT_EQ(StatusOf(Exchange(lRaw, lPort, BuildReadMemCmd(0x0105, 0, 1000))), kGvcpStatusInvalidParameter);
    EXPECT_EQ(StatusOf(Exchange(lRaw, lPort, BuildReadMemCmd(0x0106, 2, 4))), kGvcpStatusBadAlignment);
    EXPECT_EQ(StatusOf(Exchange(lRaw, lPort, BuildReadMemCmd(0x0107, 0xFFFFFFFC, 8))), kGvcpStatusInvalidAddress);
    const uint8_t lThree[] = {1, 2, 3};
    EXPECT_EQ(StatusOf(Exchange(lRaw, lPort, BuildWriteMemCmd(0x0108, 0x3000, lThree, 3))),
              kGvcpStatusInvalidParameter);

    // Commands it does not serve, and commands that want no answer.
    TnGvcpAction lAction;
    const std::vector<uint8_t> lUnknown = Exchange(lRaw, lPort, BuildActionCmd(0x0109, lAction));
    EXPECT_EQ(StatusOf(lUnknown), kGvcpStatusNotImplemented);
    ASSERT_GE(lUnknown.size(), 4u);
    EXPECT_EQ(GetU16(lUnknown.data() + 2), kGvcpActionAck);
    EXPECT_TRUE(Exchange(lRaw, lPort, BuildActionCmd(0x010A, lAction, false), 150).empty());
    EXPECT_GT(mServer.GetRejectedCount(), 0u);

    uint32_t lVersion = 0;
    EXPECT_TRUE(mClient.ReadRegister(kRegVersion, lVersion).IsOK());
}

TEST(Responder, StopsFromItsOwnHandlerAndStartsAgain)
{
    class Stopping : public MemoryDevice
    {
    public:
        uint16_t WriteMemory(const TnGvcpPeer &aPeer, uint32_t aAddress, const uint8_t *aData, size_t aSize) override
        {
            if (aAddress == 0x6000)
            {
                mServer->Stop();
            }
            return MemoryDevice::WriteMemory(aPeer, aAddress, aData, aSize);
        }
        TnGvcpServer *mServer = nullptr;
    };
    Stopping lDevice;
    TnGvcpServer lServer;
    lDevice.mServer = &lServer;
    ASSERT_TRUE(lServer.Start(&lDevice, kLoopback, 0).IsOK());
    TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback, lServer.GetPort()).IsOK());
    EXPECT_TRUE(lClient.WriteRegister(0x6000, 1).IsOK()); // answered, then the thread ends
    for (int lWait = 0; lWait < 100 && lServer.IsRunning(); ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(lServer.IsRunning());
    ASSERT_TRUE(lServer.Start(&lDevice, kLoopback, 0).IsOK());
    ASSERT_TRUE(lClient.Open(kLoopback, lServer.GetPort()).IsOK());
    uint32_t lValue = 0;
    EXPECT_TRUE(lClient.ReadRegister(0x6000, lValue).IsOK());
    EXPECT_EQ(lValue, 1u);
}

TEST(Client, NoAnswerTimesOutAfterEveryRetry)
{
    TnUdpSocket lSilent;
    ASSERT_TRUE(lSilent.Open(kLoopback, 0).IsOK());
    TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback, lSilent.GetLocalPort()).IsOK());
    lClient.SetTimeout(60);
    lClient.SetRetryCount(2);
    uint32_t lValue = 0;
    const uint64_t lStart = MonotonicMilliseconds();
    EXPECT_EQ(lClient.ReadRegister(0, lValue).GetCode(), TN_TIMEOUT);
    const uint64_t lElapsed = MonotonicMilliseconds() - lStart;
    EXPECT_GE(lElapsed, 170u);
    EXPECT_LT(lElapsed, 1500u);
    // Three attempts, all with the same request id.
    std::vector<uint16_t> lIds;
    for (int lIndex = 0; lIndex < 4; ++lIndex)
    {
        uint8_t lBuffer[64];
        size_t lSize = 0;
        uint32_t lFrom = 0;
        uint16_t lPort = 0;
        if (lSilent.ReceiveFrom(lBuffer, sizeof(lBuffer), lSize, lFrom, lPort, 0).IsOK() && lSize >= 8)
        {
            lIds.push_back(GetU16(lBuffer + 6));
        }
    }
    ASSERT_EQ(lIds.size(), 3u);
    EXPECT_NE(lIds[0], 0);
    EXPECT_EQ(lIds[0], lIds[1]);
    EXPECT_EQ(lIds[1], lIds[2]);
}

TEST(Client, OnlyTheMatchingAnswerCounts)
{
    ScriptedDevice lDevice;
    TnUdpSocket lStranger;
    const bool lStrangerOpen = lStranger.Open(0x7F000002, 0).IsOK();
    lDevice.Run([&](ScriptedDevice &aDevice) {
        TnGvcpCommandHeader lHeader;
        std::vector<uint8_t> lPacket;
        if (!aDevice.Receive(lHeader, lPacket))
        {
            return;
        }
        const uint32_t lWrong = 666;
        const uint32_t lRight = 0x00020001;
        aDevice.Send(BuildReadRegAck(0, static_cast<uint16_t>(lHeader.mRequestId + 1), &lWrong, 1)); // stale id
        if (lStrangerOpen)
        {
            aDevice.SendFrom(lStranger, BuildReadRegAck(0, lHeader.mRequestId, &lWrong, 1)); // other address
        }
        std::vector<uint8_t> lTruncated = BuildReadRegAck(0, lHeader.mRequestId, &lWrong, 1);
        lTruncated.resize(10);
        aDevice.Send(lTruncated);
        aDevice.Send(BuildWriteRegAck(0, lHeader.mRequestId, 1)); // success, but another answer kind
        aDevice.Send(BuildReadRegAck(0, lHeader.mRequestId, &lRight, 1));
    });
    TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback, lDevice.GetPort()).IsOK());
    lClient.SetTimeout(1000);
    lClient.SetRetryCount(0);
    uint32_t lValue = 0;
    ASSERT_TRUE(lClient.ReadRegister(0, lValue).IsOK());
    EXPECT_EQ(lValue, 0x00020001u);
}

TEST(Client, RetriesAndPendingAnswersExtendTheWait)
{
    ScriptedDevice lDevice;
    lDevice.Run([](ScriptedDevice &aDevice) {
        TnGvcpCommandHeader lFirst;
        TnGvcpCommandHeader lSecond;
        std::vector<uint8_t> lPacket;
        // The first attempt gets lost; the retry is answered.
        if (!aDevice.Receive(lFirst, lPacket) || !aDevice.Receive(lSecond, lPacket))
        {
            return;
        }
        const uint32_t lValue = lFirst.mRequestId == lSecond.mRequestId ? 1 : 0;
        aDevice.Send(BuildReadRegAck(0, lSecond.mRequestId, &lValue, 1));
        // The next command takes longer than the client's timeout, announced.
        TnGvcpCommandHeader lSlow;
        if (!aDevice.Receive(lSlow, lPacket))
        {
            return;
        }
        aDevice.Send(BuildPendingAck(lSlow.mRequestId, 400));
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        aDevice.Send(BuildWriteRegAck(0, lSlow.mRequestId, 1));
    });
    TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback, lDevice.GetPort()).IsOK());
    lClient.SetTimeout(100);
    lClient.SetRetryCount(1);
    uint32_t lValue = 0;
    ASSERT_TRUE(lClient.ReadRegister(0, lValue).IsOK());
    EXPECT_EQ(lValue, 1u) << "the retry changed the request id";
    lClient.SetRetryCount(0);
    EXPECT_TRUE(lClient.WriteRegister(0x100, 1).IsOK());
}

TEST(Client, MemoryAnswersForAnotherAddressAreRefused)
{
    ScriptedDevice lDevice;
    lDevice.Run([](ScriptedDevice &aDevice) {
        TnGvcpCommandHeader lHeader;
        std::vector<uint8_t> lPacket;
        if (aDevice.Receive(lHeader, lPacket))
        {
            const uint8_t lData[8] = {};
            aDevice.Send(BuildReadMemAck(0, lHeader.mRequestId, 0x104, lData, 8));
        }
        if (aDevice.Receive(lHeader, lPacket))
        {
            const uint8_t lData[4] = {};
            aDevice.Send(BuildReadMemAck(0, lHeader.mRequestId, 0x100, lData, 4)); // short
        }
    });
    TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback, lDevice.GetPort()).IsOK());
    lClient.SetRetryCount(0);
    uint8_t lBuffer[8];
    EXPECT_EQ(lClient.ReadMemory(0x100, lBuffer, 8).GetCode(), TN_INVALID_DATA_FORMAT);
    EXPECT_EQ(lClient.ReadMemory(0x100, lBuffer, 8).GetCode(), TN_INVALID_DATA_FORMAT);
}

TEST(Discovery, UnicastFindsTheResponder)
{
    MemoryDevice lDevice;
    TnGvcpServer lServer;
    ASSERT_TRUE(lServer.Start(&lDevice, kLoopback, 0).IsOK());
    TnGvcpDiscoveryTarget lTarget;
    lTarget.mLocalAddress = kLoopback;
    lTarget.mSubnetMask = 0xFF000000;
    TnGvcpDiscoverySettings lSettings;
    lSettings.mUnicastAddress = kLoopback;
    lSettings.mPort = lServer.GetPort();
    lSettings.mTimeoutMs = 300;
    std::vector<TnGvcpDiscoveryAnswer> lAnswers;
    ASSERT_TRUE(DiscoverDevices({lTarget}, lSettings, lAnswers).IsOK());
    ASSERT_EQ(lAnswers.size(), 1u);
    EXPECT_EQ(lAnswers[0].mInfo.mSerialNumber, "SN-1");
    EXPECT_EQ(lAnswers[0].mInfo.mModelName, "Memory");
    EXPECT_EQ(lAnswers[0].mInfo.GetMacValue(), 0x0250C2000001ull);
    EXPECT_EQ(lAnswers[0].mSourceAddress, kLoopback);
    EXPECT_EQ(lAnswers[0].mSourcePort, lServer.GetPort());
    EXPECT_EQ(lAnswers[0].mLocalAddress, kLoopback);

    lSettings.mUnicastAddress = 0x7F000009; // nobody there
    ASSERT_TRUE(DiscoverDevices({lTarget}, lSettings, lAnswers).IsOK());
    EXPECT_TRUE(lAnswers.empty());
    EXPECT_EQ(DiscoverDevices({}, lSettings, lAnswers).GetCode(), TN_INVALID_PARAMETER);
}

TEST(Discovery, BroadcastCollectsEachDeviceOnce)
{
    if (!tn::test::UsePrivateNetwork())
    {
        GTEST_SKIP() << "broadcasts are only sent inside a private network namespace";
    }
    MemoryDevice lFirst(0x0250C2000001ull, "SN-1");
    MemoryDevice lSecond(0x0250C2000002ull, "SN-2");
    MemoryDevice lTwin(0x0250C2000001ull, "SN-1");
    TnGvcpServer lServers[3];
    ASSERT_TRUE(lServers[0].Start(&lFirst, kLoopback, 0).IsOK());
    const uint16_t lPort = lServers[0].GetPort();
    ASSERT_TRUE(lServers[1].Start(&lSecond, 0x7F000002, lPort).IsOK());
    ASSERT_TRUE(lServers[2].Start(&lTwin, 0x7F000003, lPort).IsOK());

    TnGvcpDiscoveryTarget lTarget;
    lTarget.mLocalAddress = kLoopback;
    lTarget.mSubnetMask = 0xFF000000;
    TnGvcpDiscoverySettings lSettings;
    lSettings.mPort = lPort;
    lSettings.mTimeoutMs = 400;
    lSettings.mSubnetBroadcast = true;
    lSettings.mSendCount = 2;
    std::vector<TnGvcpDiscoveryAnswer> lAnswers;
    ASSERT_TRUE(DiscoverDevices({lTarget}, lSettings, lAnswers).IsOK());
    ASSERT_EQ(lAnswers.size(), 2u);
    EXPECT_NE(lAnswers[0].mInfo.GetMacValue(), lAnswers[1].mInfo.GetMacValue());

    // Stopping at the device of interest ends the search at once.
    lSettings.mTimeoutMs = 5000;
    lSettings.mStopWhen = [](const TnGvcpDiscoveryAnswer &aAnswer) { return aAnswer.mInfo.mSerialNumber == "SN-2"; };
    const uint64_t lStart = MonotonicMilliseconds();
    ASSERT_TRUE(DiscoverDevices({lTarget}, lSettings, lAnswers).IsOK());
    EXPECT_LT(MonotonicMilliseconds() - lStart, 2000u);
    ASSERT_FALSE(lAnswers.empty());
    EXPECT_EQ(lAnswers.back().mInfo.mSerialNumber, "SN-2");
}

TEST(Discovery, MalformedAnswersAreIgnored)
{
    ScriptedDevice lDevice;
    lDevice.Run([](ScriptedDevice &aDevice) {
        TnGvcpCommandHeader lHeader;
        std::vector<uint8_t> lPacket;
        if (!aDevice.Receive(lHeader, lPacket) || lHeader.mCommand != kGvcpDiscoveryCmd)
        {
            return;
        }
        TnGvcpDeviceInfo lInfo;
        lInfo.SetMacValue(0x0250C2000042ull);
        lInfo.mCurrentIP = kLoopback;
        lInfo.mSerialNumber = "GOOD";
        std::vector<uint8_t> lShort = BuildDiscoveryAck(lHeader.mRequestId, lInfo);
        lShort.resize(8 + 0xF0);
        lShort[4] = 0x00, lShort[5] = 0xF0;
        aDevice.Send(lShort);
        aDevice.Send(BuildDiscoveryAck(static_cast<uint16_t>(lHeader.mRequestId ^ 0x8000), lInfo));
        std::vector<uint8_t> lRefusal = BuildDiscoveryAck(lHeader.mRequestId, lInfo);
        lRefusal[0] = 0x80, lRefusal[1] = 0x01;
        aDevice.Send(lRefusal);
        aDevice.Send({0x00, 0x00, 0x00});
        aDevice.Send(BuildDiscoveryAck(lHeader.mRequestId, lInfo));
        aDevice.Send(BuildDiscoveryAck(lHeader.mRequestId, lInfo)); // twice: still one device
    });
    TnGvcpDiscoveryTarget lTarget;
    lTarget.mLocalAddress = kLoopback;
    TnGvcpDiscoverySettings lSettings;
    lSettings.mUnicastAddress = kLoopback;
    lSettings.mPort = lDevice.GetPort();
    lSettings.mTimeoutMs = 400;
    std::vector<TnGvcpDiscoveryAnswer> lAnswers;
    ASSERT_TRUE(DiscoverDevices({lTarget}, lSettings, lAnswers).IsOK());
    ASSERT_EQ(lAnswers.size(), 1u);
    EXPECT_EQ(lAnswers[0].mInfo.mSerialNumber, "GOOD");
}
