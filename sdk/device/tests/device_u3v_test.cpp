// The USB3 Vision stream layout, the simulated devices' stream channel, and
// serial ports over their echoing lines.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnByteOrder.h"
#include "TnDeviceAdapter.h"
#include "TnDeviceSerialPort.h"
#include "TnDeviceU3V.h"
#include "TnSimulatedU3V.h"
#include "TnTestDevices.h"
#include "TnU3vLayout.h"

using namespace tn;

namespace
{
TEST(U3vLayout, LeadersTrailersAndTransferPlans)
{
    u3v::Leader lLeader;
    lLeader.mBlockId = 0x1122334455667788ull;
    lLeader.mTimestamp = 99;
    lLeader.mPixelFormat = 0x01080001;
    lLeader.mSizeX = 640;
    lLeader.mSizeY = 480;
    lLeader.mPaddingX = 2;
    uint8_t lBytes[64];
    EXPECT_EQ(u3v::WriteLeader(lLeader, lBytes, u3v::kImageLeaderSize - 1), 0u);
    ASSERT_EQ(u3v::WriteLeader(lLeader, lBytes, sizeof(lBytes)), u3v::kImageLeaderSize);
    EXPECT_EQ(GetLittleU32(lBytes), 0x4C563355u); // "U3VL" on the bus
    u3v::Leader lParsed;
    ASSERT_TRUE(u3v::ParseLeader(lBytes, sizeof(lBytes), lParsed));
    EXPECT_EQ(lParsed.mBlockId, lLeader.mBlockId);
    EXPECT_EQ(lParsed.mTimestamp, 99u);
    EXPECT_EQ(lParsed.mPixelFormat, 0x01080001u);
    EXPECT_EQ(lParsed.mSizeX, 640u);
    EXPECT_EQ(lParsed.mSizeY, 480u);
    EXPECT_EQ(lParsed.mPaddingX, 2u);
    EXPECT_FALSE(u3v::ParseLeader(lBytes, u3v::kImageLeaderSize - 1, lParsed)) << "cut short";
    lBytes[0] ^= 1;
    EXPECT_FALSE(u3v::ParseLeader(lBytes, sizeof(lBytes), lParsed)) << "no magic";
    lLeader.mPayloadType = 0x4000;
    ASSERT_EQ(u3v::WriteLeader(lLeader, lBytes, sizeof(lBytes)), u3v::kGenericLeaderSize);
    ASSERT_TRUE(u3v::ParseLeader(lBytes, u3v::kGenericLeaderSize, lParsed));
    EXPECT_EQ(lParsed.mPayloadType, 0x4000);
    EXPECT_EQ(lParsed.mSizeX, 0u);

    u3v::Trailer lTrailer;
    lTrailer.mBlockId = 7;
    lTrailer.mStatus = u3v::kStatusDataDiscarded;
    lTrailer.mValidPayloadSize = 1000;
    lTrailer.mHasSizeY = true;
    lTrailer.mSizeY = 3;
    ASSERT_EQ(u3v::WriteTrailer(lTrailer, lBytes, sizeof(lBytes)), u3v::kImageTrailerSize);
    u3v::Trailer lRead;
    EXPECT_FALSE(u3v::ParseTrailer(lBytes, sizeof(lBytes), lRead)) << "a trailer is a transfer of its own size";
    ASSERT_TRUE(u3v::ParseTrailer(lBytes, u3v::kImageTrailerSize, lRead));
    EXPECT_EQ(lRead.mBlockId, 7u);
    EXPECT_EQ(lRead.mStatus, u3v::kStatusDataDiscarded);
    EXPECT_EQ(lRead.mValidPayloadSize, 1000u);
    EXPECT_TRUE(lRead.mHasSizeY);
    EXPECT_EQ(lRead.mSizeY, 3u);

    const u3v::TransferPlan lPlan{1024, 3, 512, 0};
    EXPECT_EQ(lPlan.Capacity(), 3584u);
    EXPECT_EQ(lPlan.SizeOf(2), 1024u);
    EXPECT_EQ(lPlan.SizeOf(3), 512u);
    EXPECT_EQ(lPlan.SizeOf(4), 0u);
    EXPECT_TRUE(lPlan.IsConsistent(512));
    EXPECT_FALSE(lPlan.IsConsistent(1024));
    EXPECT_EQ((u3v::TransferPlan{0, 5, 0, 256}.SizeOf(0)), 256u);
    EXPECT_FALSE((u3v::TransferPlan{0, 0, 0, 0}.IsConsistent(1)));
}

const char kDevices[] = "[u3v]\nvendor = Example Vision\nmodel = EX-1\nserial = 77\nguid = U3V-TEST-1\n";

class SimulatedU3vTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mInfo.mUniqueID = "U3V:U3V-TEST-1";
        ASSERT_TRUE(device::SimulatedU3v::Find("U3V-TEST-1", mDevice).IsOK());
        ASSERT_TRUE(mController.Connect(&mInfo).IsOK());
        mFeatures = mController.GetParameters();
    }

    uint64_t Read(uint64_t aAddress, size_t aSize)
    {
        uint8_t lBytes[8] = {0};
        EXPECT_TRUE(mDevice->Read(aAddress, lBytes, aSize).IsOK());
        return ReadUnsigned(lBytes, aSize, false);
    }

    TnResult Write32(uint64_t aAddress, uint32_t aValue)
    {
        uint8_t lBytes[4];
        WriteUnsigned(aValue, lBytes, 4, false);
        return mDevice->Write(aAddress, lBytes, 4);
    }

    // Sets the channel's transfers (with leader and trailer room for 64
    // bytes) and enables it.
    TnResult Enable(uint64_t aSirm, uint32_t aSize, uint32_t aCount)
    {
        EXPECT_TRUE(Write32(aSirm + u3v::kSiControl, 0).IsOK());
        const uint32_t lSettings[][2] = {{u3v::kSiMaximumLeaderSize, 64u},
                                         {u3v::kSiPayloadTransferSize, aSize},
                                         {u3v::kSiPayloadTransferCount, aCount},
                                         {u3v::kSiMaximumTrailerSize, 64u}};
        for (const uint32_t(&lSetting)[2] : lSettings)
        {
            EXPECT_TRUE(Write32(aSirm + lSetting[0], lSetting[1]).IsOK());
        }
        return Write32(aSirm + u3v::kSiControl, u3v::kSiControlEnable);
    }

    test::SimulatedDevicesFile mFile{kDevices};
    std::shared_ptr<device::SimulatedU3v> mDevice;
    TnDeviceInfoU3V mInfo;
    TnDeviceU3V mController;
    TnGenParameterArray *mFeatures = nullptr;
};

TEST_F(SimulatedU3vTest, StreamChannelSendsLeaderPayloadAndTrailer)
{
    ASSERT_TRUE(mFeatures->SetIntegerValue(TnString("Width"), 64).IsOK());
    ASSERT_TRUE(mFeatures->SetIntegerValue(TnString("Height"), 32).IsOK());
    ASSERT_TRUE(mFeatures->SetEnumValue(TnString("PixelFormat"), TnString("Mono8")).IsOK());
    ASSERT_TRUE(mFeatures->SetFloatValue(TnString("AcquisitionFrameRate"), 1000.0).IsOK());
    EXPECT_EQ(mDevice->OpenStream(1).GetCode(), TN_NOT_FOUND);
    ASSERT_TRUE(mDevice->OpenStream(0).IsOK());
    EXPECT_EQ(mDevice->OpenStream(0).GetCode(), TN_BUSY);
    const uint64_t lSirm = Read(Read(u3v::kAbrmSbrmAddress, 8) + u3v::kSbrmSirmAddress, 8);
    EXPECT_EQ(Read(lSirm + u3v::kSiRequiredPayloadSize, 8), 64u * 32u);
    EXPECT_EQ(Read(lSirm + u3v::kSiInfo, 4) >> 24, 10u) << "transfers in multiples of 1024 bytes";
    EXPECT_FALSE(Enable(lSirm, 1000, 1).IsOK()) << "a transfer size out of alignment";
    ASSERT_TRUE(Enable(lSirm, 1024, 1).IsOK());
    EXPECT_EQ(Write32(lSirm + u3v::kSiPayloadTransferCount, 2).GetCode(), TN_STATE_ERROR);
    ASSERT_TRUE(mFeatures->ExecuteCommand(TnString("AcquisitionStart")).IsOK());

    // The transfers carry half of the payload: the rest is discarded.
    std::vector<uint8_t> lData(4096);
    size_t lReceived = 0;
    u3v::Leader lLeader;
    ASSERT_TRUE(mDevice->Transfer(lData.data(), lData.size(), 1000, lReceived).IsOK());
    ASSERT_TRUE(u3v::ParseLeader(lData.data(), lReceived, lLeader));
    EXPECT_EQ(lLeader.mBlockId, 0u);
    EXPECT_EQ(lLeader.mSizeX, 64u);
    EXPECT_EQ(lLeader.mSizeY, 32u);
    ASSERT_TRUE(mDevice->Transfer(lData.data(), lData.size(), 1000, lReceived).IsOK());
    ASSERT_EQ(lReceived, 1024u);
    for (size_t lIndex : {size_t(0), size_t(63), size_t(64), size_t(1023)})
    {
        EXPECT_EQ(lData[lIndex], (lIndex % 64 + 3 * (lIndex / 64)) & 0xFF) << lIndex;
    }
    u3v::Trailer lTrailer;
    ASSERT_TRUE(mDevice->Transfer(lData.data(), lData.size(), 1000, lReceived).IsOK());
    ASSERT_TRUE(u3v::ParseTrailer(lData.data(), lReceived, lTrailer));
    EXPECT_EQ(lTrailer.mStatus, u3v::kStatusDataDiscarded);
    EXPECT_EQ(lTrailer.mValidPayloadSize, 1024u);
    EXPECT_EQ(lTrailer.mSizeY, 16u);

    // Room for the whole payload: the trailer comes after the last full
    // transfer. Block IDs start again at 0.
    ASSERT_TRUE(Enable(lSirm, 1024, 100).IsOK());
    ASSERT_TRUE(mDevice->Transfer(lData.data(), lData.size(), 1000, lReceived).IsOK());
    ASSERT_TRUE(u3v::ParseLeader(lData.data(), lReceived, lLeader));
    EXPECT_EQ(lLeader.mBlockId, 0u);
    for (int lTransfer = 0; lTransfer < 2; ++lTransfer)
    {
        ASSERT_TRUE(mDevice->Transfer(lData.data() + 1024 * lTransfer, 1024, 1000, lReceived).IsOK());
        EXPECT_EQ(lReceived, 1024u);
    }
    EXPECT_EQ(lData[2047], (63 + 3 * 31) & 0xFF);
    ASSERT_TRUE(mDevice->Transfer(lData.data(), lData.size(), 1000, lReceived).IsOK());
    ASSERT_TRUE(u3v::ParseTrailer(lData.data(), lReceived, lTrailer));
    EXPECT_EQ(lTrailer.mStatus, u3v::kStatusSuccess);
    EXPECT_EQ(lTrailer.mValidPayloadSize, 2048u);
    EXPECT_EQ(lTrailer.mSizeY, 32u);

    // A transfer too small for what comes overflows; frames nobody reads
    // push the oldest out of the device's four.
    EXPECT_EQ(mDevice->Transfer(lData.data(), 10, 1000, lReceived).GetCode(), TN_ERR_OVERFLOW);
    EXPECT_EQ(lReceived, 10u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    do
    {
        ASSERT_TRUE(mDevice->Transfer(lData.data(), lData.size(), 1000, lReceived).IsOK());
    } while (!u3v::ParseLeader(lData.data(), lReceived, lLeader));
    EXPECT_GT(lLeader.mBlockId, 5u);

    // A transfer waiting for a frame ends when it is cancelled.
    ASSERT_TRUE(mFeatures->ExecuteCommand(TnString("AcquisitionStop")).IsOK());
    while (mDevice->Transfer(lData.data(), lData.size(), 0, lReceived).IsOK())
    {
    }
    std::thread lCancel([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        mDevice->CancelTransfers();
    });
    EXPECT_EQ(mDevice->Transfer(lData.data(), lData.size(), 10000, lReceived).GetCode(), TN_ABORTED);
    lCancel.join();
    mDevice->CloseStream();
    EXPECT_EQ(mDevice->Transfer(lData.data(), lData.size(), 0, lReceived).GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(Read(lSirm + u3v::kSiControl, 4), 0u);
}

class EchoRecorder : public TnDeviceSerialPortEchoSink
{
public:
    void OnWrite(const uint8_t *aData, uint32_t aSize) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mWritten.insert(mWritten.end(), aData, aData + aSize);
    }
    void OnRead(const uint8_t *aData, uint32_t aSize) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mRead.insert(mRead.end(), aData, aData + aSize);
    }
    void OnReadComplete() override {}

    std::mutex mMutex;
    std::vector<uint8_t> mWritten;
    std::vector<uint8_t> mRead;
};

TEST_F(SimulatedU3vTest, SerialPortsEchoAndEchoSinksSeeTheTraffic)
{
    TnDeviceAdapter lAdapter(&mController);
    EXPECT_TRUE(TnDeviceSerialPort::IsSupported(&lAdapter, TnDeviceSerial1));
    EXPECT_FALSE(TnDeviceSerialPort::IsSupported(&lAdapter, TnDeviceSerialBulk0));
    EXPECT_FALSE(TnDeviceSerialPort::IsSupported(nullptr, TnDeviceSerial0));
    ASSERT_TRUE(mFeatures->SetIntegerValue(TnString("Serial1BaudRate"), 1000000).IsOK());
    TnDeviceSerialPort lPort;
    EXPECT_EQ(lPort.Open(&lAdapter, TnDeviceSerialBulk0).GetCode(), TN_NOT_SUPPORTED);
    ASSERT_TRUE(lPort.Open(&lAdapter, TnDeviceSerial1).IsOK());
    EXPECT_EQ(lPort.Open(&lAdapter, TnDeviceSerial1).GetCode(), TN_STATE_ERROR);
    EchoRecorder lEcho;
    ASSERT_TRUE(TnDeviceSerialPort::RegisterEchoSink(&lEcho).IsOK());

    std::vector<uint8_t> lData(3000);
    for (size_t lIndex = 0; lIndex < lData.size(); ++lIndex)
    {
        lData[lIndex] = static_cast<uint8_t>(lIndex * 7 % 251);
    }
    uint32_t lWritten = 0;
    ASSERT_TRUE(lPort.Write(lData.data(), static_cast<uint32_t>(lData.size()), lWritten).IsOK());
    EXPECT_EQ(lWritten, lData.size());
    std::vector<uint8_t> lBack;
    while (lBack.size() < lData.size())
    {
        uint8_t lChunk[512];
        uint32_t lRead = 0;
        ASSERT_TRUE(lPort.Read(lChunk, sizeof(lChunk), lRead, 2000).IsOK());
        lBack.insert(lBack.end(), lChunk, lChunk + lRead);
    }
    EXPECT_EQ(lBack, lData);
    uint32_t lDone = 0;
    uint32_t lTotal = 0;
    ASSERT_TRUE(lPort.GetWriteProgress(lDone, lTotal).IsOK());
    EXPECT_EQ(lDone, 3000u);
    EXPECT_EQ(lTotal, 3000u);
    EXPECT_EQ(lPort.GetBytesSent(), 3000u);
    EXPECT_EQ(lPort.GetBytesReceived(), 3000u);
    ASSERT_TRUE(TnDeviceSerialPort::UnregisterEchoSink(&lEcho).IsOK());
    EXPECT_EQ(lEcho.mWritten, lData);
    EXPECT_EQ(lEcho.mRead, lData);

    // The device goes: the port answers so.
    ASSERT_TRUE(mController.Disconnect().IsOK());
    EXPECT_EQ(lPort.Write(lData.data(), 3, lWritten).GetCode(), TN_NOT_CONNECTED);
    uint8_t lByte = 0;
    uint32_t lRead = 0;
    EXPECT_EQ(lPort.Read(&lByte, 1, lRead, 1000).GetCode(), TN_NOT_CONNECTED);
    EXPECT_TRUE(lPort.Close().IsOK());
}

// Waits (at most 10 s) for aDone.
template <typename Done> bool Eventually(Done aDone)
{
    for (int lStep = 0; lStep < 2000 && !aDone(); ++lStep)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return aDone();
}

// Closes the port from its own thread as the first bytes come.
class ClosingEcho : public TnDeviceSerialPortEchoSink
{
public:
    explicit ClosingEcho(TnDeviceSerialPort &aPort) : mPort(aPort) {}
    void OnWrite(const uint8_t *, uint32_t) override {}
    void OnRead(const uint8_t *, uint32_t) override
    {
        if (!mClosed.exchange(true))
        {
            mPort.Close();
        }
    }
    void OnReadComplete() override {}

    TnDeviceSerialPort &mPort;
    std::atomic<bool> mClosed{false};
};

TEST_F(SimulatedU3vTest, AClosedSerialPortKeepsNothingForTheNextSession)
{
    TnDeviceAdapter lAdapter(&mController);
    ASSERT_TRUE(mFeatures->SetIntegerValue(TnString("Serial0BaudRate"), 1000000).IsOK());
    TnDeviceSerialPort lPort;
    ASSERT_TRUE(lPort.Open(&lAdapter, TnDeviceSerial0).IsOK());
    uint32_t lWritten = 0;
    ASSERT_TRUE(lPort.Write(reinterpret_cast<const uint8_t *>("old"), 3, lWritten).IsOK());
    ASSERT_TRUE(Eventually([&] {
        uint32_t lReady = 0;
        return lPort.GetRxBytesReady(lReady).IsOK() && lReady == 3;
    }));
    // Taken but never read: gone with the close.
    ASSERT_TRUE(lPort.Close().IsOK());
    ASSERT_TRUE(lPort.Open(&lAdapter, TnDeviceSerial0).IsOK());
    uint32_t lReady = 99;
    ASSERT_TRUE(lPort.GetRxBytesReady(lReady).IsOK());
    EXPECT_EQ(lReady, 0u);

    // Closed on its own thread as a byte comes: neither the port nor the
    // device keeps that byte for the next session.
    ClosingEcho lEcho(lPort);
    ASSERT_TRUE(TnDeviceSerialPort::RegisterEchoSink(&lEcho).IsOK());
    ASSERT_TRUE(lPort.Write(reinterpret_cast<const uint8_t *>("s"), 1, lWritten).IsOK());
    ASSERT_TRUE(Eventually([&] { return !lPort.IsOpened(); }));
    ASSERT_TRUE(TnDeviceSerialPort::UnregisterEchoSink(&lEcho).IsOK());
    ASSERT_TRUE(lPort.Open(&lAdapter, TnDeviceSerial0).IsOK());
    ASSERT_TRUE(lPort.GetRxBytesReady(lReady).IsOK());
    EXPECT_EQ(lReady, 0u);
    ASSERT_TRUE(lPort.Write(reinterpret_cast<const uint8_t *>("new"), 3, lWritten).IsOK());
    std::string lBack;
    while (lBack.size() < 3)
    {
        char lChunk[8];
        uint32_t lRead = 0;
        ASSERT_TRUE(lPort.Read(reinterpret_cast<uint8_t *>(lChunk), sizeof(lChunk), lRead, 5000).IsOK()) << lBack;
        lBack.append(lChunk, lRead);
    }
    EXPECT_EQ(lBack, "new");
    EXPECT_TRUE(lPort.Close().IsOK());
}
} // namespace
