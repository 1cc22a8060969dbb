// The stream transmitter alone, sending to the SDK's stream receiver on
// loopback through a relay that loses packets, with resends served from the
// recently sent blocks; its rules, statistics and rate limit; the virtual
// device; the display-rate limiter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "TnBuffer.h"
#include "TnFPSStabilizer.h"
#include "TnGvcpClient.h"
#include "TnGvspBufferBlock.h"
#include "TnGvspSender.h"
#include "TnImage.h"
#include "TnTestNetwork.h"
#include "TnTestProcess.h"
#include "TnText.h"
#include "TnTransmitterGEV.h"
#include "TnUdpSocket.h"
#include "TnVirtualDeviceGEV.h"

namespace
{
constexpr uint32_t kLoopback = 0x7F000001;

/// The C test camera's pattern: the block id in bytes 0..7, then
/// (i % line + i / line) & 0xFF.
void FillPattern(TnBuffer &aBuffer, uint64_t aBlockId)
{
    TnImage *lImage = aBuffer.GetImage();
    uint8_t *lData = lImage->GetDataPointer();
    const size_t lLine = lImage->GetWidth();
    for (size_t lIndex = 8; lIndex < lImage->GetImageSize(); ++lIndex)
    {
        lData[lIndex] = static_cast<uint8_t>(lIndex % lLine + lIndex / lLine);
    }
    for (size_t lIndex = 0; lIndex < 8; ++lIndex)
    {
        lData[lIndex] = static_cast<uint8_t>(aBlockId >> (56 - 8 * lIndex));
    }
    aBuffer.SetBlockID(aBlockId);
}

std::vector<std::unique_ptr<TnBuffer>> MakeBuffers(size_t aCount, uint32_t aWidth, uint32_t aHeight)
{
    std::vector<std::unique_ptr<TnBuffer>> lBuffers;
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        lBuffers.emplace_back(new TnBuffer(TnPayloadTypeImage));
        EXPECT_TRUE(lBuffers.back()->GetImage()->Alloc(aWidth, aHeight, TnPixelMono8).IsOK());
    }
    return lBuffers;
}

/// Forwards datagrams from its port to a destination, dropping one in
/// aDropEvery (never a leader or a trailer, so that every block is known).
class LossyRelay
{
public:
    LossyRelay(uint16_t aDestinationPort, int aDropEvery) : mPort(aDestinationPort), mDropEvery(aDropEvery)
    {
        EXPECT_TRUE(mSocket.Open(kLoopback, 0).IsOK());
        mSocket.SetReceiveBufferSize(8 * 1024 * 1024);
        mThread = std::thread([this] { Run(); });
    }
    ~LossyRelay()
    {
        mStop = true;
        mThread.join();
    }
    uint16_t GetPort() const { return mSocket.GetLocalPort(); }
    std::atomic<int> mDropped{0};

private:
    void Run()
    {
        std::vector<uint8_t> lData(65536);
        int lCount = 0;
        while (!mStop)
        {
            size_t lSize = 0;
            uint32_t lAddress = 0;
            uint16_t lPort = 0;
            if (!mSocket.ReceiveFrom(lData.data(), lData.size(), lSize, lAddress, lPort, 50).IsOK())
            {
                continue;
            }
            // The packet format (byte 4, low nibble): 1 leader, 2 trailer, 3 payload.
            const bool lPayload = lSize > 4 && (lData[4] & 0x0F) == 3;
            const bool lResent = lSize > 1 && (lData[0] != 0 || lData[1] != 0);
            if (lPayload && !lResent && ++lCount % mDropEvery == 0)
            {
                ++mDropped;
                continue;
            }
            mSocket.SendTo(kLoopback, mPort, lData.data(), lSize);
        }
    }

    tn::gev::TnUdpSocket mSocket;
    uint16_t mPort;
    int mDropEvery;
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

/// Routes a receiver's resend requests to the transmitter, as a device's
/// control port would.
class ToTransmitter : public tn::gev::ITnGvspResendTarget
{
public:
    explicit ToTransmitter(ITnTransmitterGEV &aTransmitter) : mTransmitter(aTransmitter) {}
    void QueuePacketResend(uint64_t aBlockId, uint32_t aFirst, uint32_t aLast) override
    {
        mTransmitter.QueuePacketResend(aBlockId, aFirst, aLast);
    }

private:
    ITnTransmitterGEV &mTransmitter;
};

using TransmitterPeer = tn::test::FreshNetworkTest;
} // namespace

TEST(Transmitter, RulesBeforeAndAfterOpen)
{
    TnTransmitterGEV lTransmitter;
    EXPECT_FALSE(lTransmitter.IsOpen());
    EXPECT_EQ(TN_INVALID_PARAMETER, lTransmitter.QueueBuffer(nullptr).GetCode());
    TnBuffer lBuffer;
    EXPECT_EQ(TN_NOT_CONNECTED, lTransmitter.QueueBuffer(&lBuffer).GetCode());
    EXPECT_EQ(TN_INVALID_PARAMETER, lTransmitter.Open(TnString("not an address"), 5000).GetCode());
    EXPECT_EQ(TN_INVALID_PARAMETER, lTransmitter.Open(TnString("127.0.0.1"), 5000, TnString(""), 0, true, false, 0).GetCode());
    EXPECT_EQ(TN_INVALID_PARAMETER, lTransmitter.SetPacketSize(100).GetCode());
    EXPECT_TRUE(lTransmitter.SetPacketSize(9000).IsOK());
    EXPECT_EQ(9000u, lTransmitter.GetPacketSize());
    EXPECT_EQ(TN_INVALID_PARAMETER, lTransmitter.SetMaxPayloadThroughput(-1.0f).GetCode());
    EXPECT_EQ(TN_INVALID_PARAMETER, lTransmitter.SetUserModeTransmitterThreadPriority(100).GetCode());
    EXPECT_EQ(TN_INVALID_PARAMETER, lTransmitter.LoadBufferPool(nullptr, 3).GetCode());
    EXPECT_EQ(TN_INVALID_PARAMETER, lTransmitter.RetrieveFreeBuffer(nullptr, 0).GetCode());
    TnBuffer *lFree = nullptr;
    EXPECT_EQ(TN_TIMEOUT, lTransmitter.RetrieveFreeBuffer(&lFree, 10).GetCode());
    EXPECT_EQ(TN_TIMEOUT, lTransmitter.RetrieveFreeBuffer(&lFree).GetCode()) << "a closed transmitter does not wait";
    EXPECT_EQ(nullptr, lFree);
    EXPECT_EQ(TN_STATE_ERROR, lTransmitter.Close().GetCode());
}

TEST(Transmitter, BlocksSendTheImageOfAGeometryTooLargeToCountWhole)
{
    // Raw bytes sent as the image of a fallback geometry (the software
    // device's) whose bits overflow 64 bits: no image is smaller than the
    // memory, so every byte goes. Wrapped round, these made an image of 4 bytes.
    TnBuffer lBuffer(TnPayloadTypeRawData);
    ASSERT_TRUE(lBuffer.Alloc(4096).IsOK());
    tn::gev::TnBlockGeometry lGeometry;
    lGeometry.mWidth = 4294836226u;
    lGeometry.mHeight = 2147549185u;
    lGeometry.mPixelType = TnPixelMono16;
    tn::gev::TnGvspBlock lBlock;
    ASSERT_TRUE(tn::gev::BlockFromBuffer(lBuffer, lGeometry, lBlock));
    EXPECT_EQ(4096u, lBlock.mSegments[0].mSize);
    // A smaller image goes alone, its last byte included: 60 bits take 8.
    lGeometry = {5, 1, 0, 0, TnPixelMono12Packed};
    ASSERT_TRUE(tn::gev::BlockFromBuffer(lBuffer, lGeometry, lBlock));
    EXPECT_EQ(8u, lBlock.mSegments[0].mSize);
}

TEST_F(TransmitterPeer, SendsToTheReceiverWithLossAndResend)
{
    const uint32_t lWidth = 1024;
    const uint32_t lHeight = 512;
    const int lFrames = 60;
    TnTransmitterGEV lTransmitter;
    ToTransmitter lRoute(lTransmitter);
    tn::gev::TnGvspResendServer lResends;
    ASSERT_TRUE(lResends.Start({&lRoute}, kLoopback, 0).IsOK());

    tn::test::ChildProcess lReceiver;
    const uint16_t lReceivePort = 50123;
    const std::string lResendTo = "127.0.0.1:" + std::to_string(lResends.GetPort());
    const std::string lOutputFile = testing::TempDir() + "tn_transmitter_rx.txt";
    ASSERT_TRUE(lReceiver.Start({"/bin/sh", "-c",
                                 std::string(TARN_GVSP_RECEIVE) + " --listen " + std::to_string(lReceivePort) +
                                     " -W " + std::to_string(lWidth) + " -H " + std::to_string(lHeight) +
                                     " --verify-all -q -d 20 --idle-exit 1 --resend-to " + lResendTo + " > " +
                                     lOutputFile}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    LossyRelay lRelay(lReceivePort, 97);

    ASSERT_TRUE(lTransmitter.SetPacketSize(1500).IsOK());
    ASSERT_TRUE(lTransmitter.Open(TnString("127.0.0.1"), lRelay.GetPort()).IsOK());
    EXPECT_TRUE(lTransmitter.IsOpen());
    EXPECT_EQ("127.0.0.1", tn::ToString(lTransmitter.GetDestinationIPAddress()));
    EXPECT_NE(0, lTransmitter.GetSourcePort());
    EXPECT_EQ(TN_STATE_ERROR, lTransmitter.Open(TnString("127.0.0.1"), lRelay.GetPort()).GetCode());
    ASSERT_TRUE(lTransmitter.SetMaxPayloadThroughput(400e6f).IsOK()); // gentle on the relay

    std::vector<std::unique_ptr<TnBuffer>> lBuffers = MakeBuffers(8, lWidth, lHeight);
    std::vector<TnBuffer *> lPool;
    for (auto &lBuffer : lBuffers)
    {
        lPool.push_back(lBuffer.get());
    }
    ASSERT_TRUE(lTransmitter.LoadBufferPool(lPool.data(), static_cast<uint32_t>(lPool.size())).IsOK());
    for (int lFrame = 1; lFrame <= lFrames; ++lFrame)
    {
        TnBuffer *lBuffer = nullptr;
        ASSERT_TRUE(lTransmitter.RetrieveFreeBuffer(&lBuffer, 5000).IsOK());
        FillPattern(*lBuffer, static_cast<uint64_t>(lFrame));
        ASSERT_TRUE(lTransmitter.QueueBuffer(lBuffer).IsOK());
    }
    bool lAll = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the last resends
    EXPECT_TRUE(lTransmitter.AbortQueuedBuffers(2000, &lAll).IsOK());
    EXPECT_TRUE(lAll);
    EXPECT_EQ(static_cast<uint64_t>(lFrames), lTransmitter.GetBlocksTransmitted());
    EXPECT_EQ(static_cast<uint64_t>(lFrames) * lWidth * lHeight, lTransmitter.GetPayloadBytesTransmitted());
    EXPECT_GT(lTransmitter.GetNumberOfResendRequests(), 0u);
    EXPECT_GT(lTransmitter.GetAveragePayloadThroughput(), 0.0f);
    EXPECT_LT(lTransmitter.GetAveragePayloadThroughput(), 400e6f * 1.2f);
    EXPECT_GT(lRelay.mDropped.load(), 0);

    // Every buffer comes back free once it left the resend ring.
    EXPECT_TRUE(lTransmitter.Close().IsOK());
    int lBack = 0;
    TnBuffer *lBuffer = nullptr;
    while (lTransmitter.RetrieveFreeBuffer(&lBuffer, 0).IsOK())
    {
        ++lBack;
    }
    EXPECT_EQ(8, lBack);

    for (int lWait = 0; lWait < 50 && !lReceiver.HasEnded(); ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::string lOutput = tn::test::RunProgram({"/bin/cat", lOutputFile}, 5000);
    EXPECT_NE(std::string::npos, lOutput.find("RESULT frames=" + std::to_string(lFrames - 1) + " failed=0")) << lOutput;
    EXPECT_NE(std::string::npos, lOutput.find(" bad=0 ")) << lOutput;
    EXPECT_EQ(std::string::npos, lOutput.find(" recovered=0 ")) << lOutput;
    EXPECT_NE(std::string::npos, lOutput.find(" missing_packets=0 ")) << lOutput;
}

TEST_F(TransmitterPeer, TestPacketsExtendedIdsAndTheSentTimeout)
{
    tn::gev::TnUdpSocket lSink;
    ASSERT_TRUE(lSink.Open(kLoopback, 0).IsOK());
    TnTransmitterGEV lTransmitter;
    ASSERT_TRUE(lTransmitter.Open(TnString("127.0.0.1"), lSink.GetLocalPort(), TnString("127.0.0.1"), 0, true, true).IsOK());
    EXPECT_TRUE(lTransmitter.GetExtendedIDs());
    EXPECT_EQ("127.0.0.1", tn::ToString(lTransmitter.GetSourceIPAddress()));
    ASSERT_TRUE(lTransmitter.FireTestPacket().IsOK());
    std::vector<uint8_t> lData(2000);
    size_t lSize = 0;
    uint32_t lAddress = 0;
    uint16_t lPort = 0;
    ASSERT_TRUE(lSink.ReceiveFrom(lData.data(), lData.size(), lSize, lAddress, lPort, 1000).IsOK());
    EXPECT_EQ(1500u - 28u, lSize) << "a test packet of the packet size";

    // A sent buffer comes back free: after the sent timeout at the latest,
    // at once when the program asks for a free one.
    ASSERT_TRUE(lTransmitter.SetSentBuffersTimeout(50).IsOK());
    EXPECT_EQ(50u, lTransmitter.GetSentBuffersTimeout());
    std::vector<std::unique_ptr<TnBuffer>> lBuffers = MakeBuffers(1, 64, 64);
    FillPattern(*lBuffers[0], 1);
    ASSERT_TRUE(lTransmitter.QueueBuffer(lBuffers[0].get()).IsOK());
    TnBuffer *lFree = nullptr;
    ASSERT_TRUE(lTransmitter.RetrieveFreeBuffer(&lFree, 3000).IsOK());
    EXPECT_EQ(lBuffers[0].get(), lFree);
    EXPECT_EQ(1u, lTransmitter.GetBlocksTransmitted());
    lTransmitter.ResetStats();
    EXPECT_EQ(0u, lTransmitter.GetBlocksTransmitted());
}

TEST_F(TransmitterPeer, BuffersChangedOrDestroyedWhileQueuedLeaveItFirst)
{
    tn::gev::TnUdpSocket lSink;
    ASSERT_TRUE(lSink.Open(kLoopback, 0).IsOK());
    TnTransmitterGEV lTransmitter;
    ASSERT_TRUE(lTransmitter.Open(TnString("127.0.0.1"), lSink.GetLocalPort()).IsOK());
    // About 60 ms a block: the first is being sent, the others wait.
    ASSERT_TRUE(lTransmitter.SetMaxPayloadThroughput(8e6f).IsOK());
    std::vector<std::unique_ptr<TnBuffer>> lBuffers = MakeBuffers(4, 256, 256);
    for (size_t lIndex = 0; lIndex < lBuffers.size(); ++lIndex)
    {
        FillPattern(*lBuffers[lIndex], lIndex + 1);
        ASSERT_TRUE(lTransmitter.QueueBuffer(lBuffers[lIndex].get()).IsOK());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(lTransmitter.IsTransmitting());
    TnBuffer *lChanged = lBuffers[1].get();
    lBuffers[0].reset(); // being sent: it is sent to its end first
    lBuffers[2].reset(); // waiting
    ASSERT_TRUE(lChanged->GetImage()->Alloc(128, 128, TnPixelMono8).IsOK());
    ASSERT_TRUE(lTransmitter.AbortQueuedBuffers(3000).IsOK());
    // Only the buffer left as it was comes back free.
    std::vector<TnBuffer *> lFree;
    TnBuffer *lOne = nullptr;
    while (lTransmitter.RetrieveFreeBuffer(&lOne, 200).IsOK())
    {
        lFree.push_back(lOne);
    }
    EXPECT_LE(lFree.size(), 1u);
    for (TnBuffer *lBuffer : lFree)
    {
        EXPECT_EQ(lBuffers[3].get(), lBuffer);
    }

    // A buffer sent and kept for resends goes to another holder that asks
    // for it; one still waiting to be sent does not.
    TnTransmitterGEV lOther;
    ASSERT_TRUE(lOther.Open(TnString("127.0.0.1"), lSink.GetLocalPort()).IsOK());
    FillPattern(*lChanged, 9);
    ASSERT_TRUE(lTransmitter.SetMaxPayloadThroughput(0).IsOK());
    ASSERT_TRUE(lTransmitter.QueueBuffer(lChanged).IsOK());
    ASSERT_TRUE(lTransmitter.AbortQueuedBuffers(3000).IsOK());
    EXPECT_TRUE(lOther.QueueBuffer(lChanged).IsOK());
    EXPECT_EQ(TN_INVALID_PARAMETER, lTransmitter.QueueBuffer(lChanged).GetCode()) << "the other one holds it";
    EXPECT_TRUE(lOther.Close().IsOK());
    EXPECT_TRUE(lTransmitter.QueueBuffer(lChanged).IsOK());
    EXPECT_TRUE(lTransmitter.Close().IsOK());
}

TEST_F(TransmitterPeer, VirtualDeviceAnswersForItsTransmitters)
{
    TnVirtualDeviceGEV lDevice;
    TnTransmitterGEV lTransmitter;
    EXPECT_EQ(TN_INVALID_PARAMETER, lDevice.AddTransmitterGEV(nullptr).GetCode());
    EXPECT_TRUE(lDevice.AddTransmitterGEV(&lTransmitter).IsOK());
    EXPECT_EQ(TN_INVALID_PARAMETER, lDevice.SetSerialNumber("0123456789ABCDEF").GetCode());
    EXPECT_TRUE(lDevice.SetSerialNumber("VD-1").IsOK());
    EXPECT_TRUE(lDevice.SetModelName("Relay").IsOK());
    uint16_t lMajor = 0;
    uint16_t lMinor = 0;
    EXPECT_TRUE(lDevice.GetGEVSpecificationVersion(lMajor, lMinor).IsOK());
    EXPECT_EQ(2, lMajor);
    ASSERT_TRUE(lDevice.StartListening(TnString("127.0.0.1")).IsOK());
    EXPECT_EQ(TN_BUSY, lDevice.SetModelName("Other").GetCode());
    EXPECT_EQ(TN_BUSY, lDevice.AddTransmitterGEV(&lTransmitter).GetCode());

    tn::gev::TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback).IsOK());
    std::vector<uint8_t> lModel(32);
    ASSERT_TRUE(lClient.ReadMemory(tn::gev::kRegModelName, lModel.data(), lModel.size()).IsOK());
    EXPECT_EQ("Relay", std::string(reinterpret_cast<char *>(lModel.data())));
    uint32_t lCapability = 0;
    ASSERT_TRUE(lClient.ReadRegister(tn::gev::kRegGvcpCapability, lCapability).IsOK());
    EXPECT_NE(0u, lCapability & tn::gev::kCapabilityPacketResend);
    lClient.Close();
    lDevice.StopListening();
    EXPECT_TRUE(lDevice.SetModelName("Other").IsOK());
}

TEST(FPSStabilizer, ShowsAtMostTheTargetRate)
{
    TnFPSStabilizer lStabilizer;
    EXPECT_TRUE(lStabilizer.IsTimeToDisplay(0));
    EXPECT_TRUE(lStabilizer.IsTimeToDisplay(0)) << "a target of 0 shows every frame";
    lStabilizer.Reset();
    EXPECT_TRUE(lStabilizer.IsTimeToDisplay(10));
    EXPECT_FALSE(lStabilizer.IsTimeToDisplay(10)) << "a frame right after the last one waits";
    lStabilizer.Reset();
    EXPECT_TRUE(lStabilizer.IsTimeToDisplay(10));
    EXPECT_EQ(0u, lStabilizer.GetAverage());
}
