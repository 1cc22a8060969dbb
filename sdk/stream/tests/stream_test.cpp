// Streams: the buffer queue, retrieval, aborting and closing, the factory,
// the GigE Vision stream's opening forms and settings, and blocks from the
// SDK's sender over loopback, received through the packet ring and through
// the socket: loss, reordering, duplicates, resend, id wrap, undersized
// buffers, GenDC containers and multicast.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <thread>

#include "TnGenDCHeaders.h"
#include "TnGenDCTypes.h"
#include "TnGenParameterArray.h"
#include "TnGvspSender.h"
#include "TnStreamGEV.h"
#include "TnStreamTestUtil.h"
#include "TnTestNetwork.h"
#include "TnTestStreams.h"

using namespace tn;
using namespace tn::test;

namespace
{
constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 200;
constexpr uint32_t kFrameSize = kWidth * kHeight;

int64_t Feature(TnStream &aStream, const char *aName)
{
    TnGenInteger *lInteger = aStream.GetParameters()->GetInteger(aName);
    int64_t lValue = -1;
    EXPECT_TRUE(lInteger != nullptr && lInteger->GetValue(lValue).IsOK()) << aName;
    return lValue;
}

// A counter once it reached aValue (the receiver publishes its counters a
// moment after the blocks they count), or as it is after a second.
int64_t CounterReaching(TnStream &aStream, const char *aName, int64_t aValue)
{
    int64_t lValue = Feature(aStream, aName);
    for (int lWait = 0; lWait < 100 && lValue < aValue; ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lValue = Feature(aStream, aName);
    }
    return lValue;
}

bool FeatureFlag(TnStream &aStream, const char *aName)
{
    bool lValue = false;
    TnGenBoolean *lBoolean = aStream.GetParameters()->GetBoolean(aName);
    EXPECT_TRUE(lBoolean != nullptr && lBoolean->GetValue(lValue).IsOK()) << aName;
    return lValue;
}

// What came back of one block.
struct Received
{
    uint32_t mResult = 0;
    bool mExact = false;
    uint32_t mLost = 0;
    uint32_t mMissingGroups = 0;
};

// Retrieves buffers until every id of aIds came back (or a retrieval times
// out), queueing each buffer again.
std::map<uint64_t, Received> Collect(TnStream &aStream, const std::vector<uint64_t> &aIds, uint32_t aWidth)
{
    std::map<uint64_t, Received> lReceived;
    size_t lFound = 0;
    while (lFound < aIds.size())
    {
        TnBuffer *lBuffer = nullptr;
        TnResult lOperation;
        if (!aStream.RetrieveBuffer(&lBuffer, &lOperation, 3000).IsOK())
        {
            break;
        }
        Received lOne;
        lOne.mResult = lOperation.GetCode();
        lOne.mExact = lOperation.IsOK() && HoldsPattern(*lBuffer, aWidth);
        lOne.mLost = lBuffer->GetLostPacketCount();
        lBuffer->GetMissingPacketIdsCount(lOne.mMissingGroups);
        if (std::find(aIds.begin(), aIds.end(), lBuffer->GetBlockID()) != aIds.end() &&
            lReceived.count(lBuffer->GetBlockID()) == 0)
        {
            ++lFound;
        }
        lReceived[lBuffer->GetBlockID()] = lOne;
        aStream.QueueBuffer(lBuffer);
    }
    return lReceived;
}

// The stream's DataReceiver setting for the next opening.
void UseReceiver(TnStream &aStream, const char *aReceiver)
{
    EXPECT_TRUE(aStream.GetParameters()->SetEnumValue(TnString("DataReceiver"), TnString(aReceiver)).IsOK());
}

// A stream from a device on loopback, the device's control port played by
// StreamDevice, its packets sent by TnGvspSender, taken from the packet ring
// or from the socket.
class StreamFromSender : public ::testing::TestWithParam<const char *>
{
protected:
    void SetUp() override
    {
        REQUIRE_STREAM_NETWORK();
        if (Ring())
        {
            REQUIRE_PACKET_RING();
        }
        UseReceiver(mStream, GetParam());
    }

    bool Ring() const { return strcmp(GetParam(), "PacketRing") == 0; }

    void Begin(bool aResend, const gev::TnGvspSenderConfig &aSend, size_t aBuffers = 64,
               uint32_t aBufferSize = kFrameSize)
    {
        mDevice.reset(new StreamDevice(aResend));
        ASSERT_TRUE(mDevice->Start());
        mInfo = LoopbackDevice(mDevice->GetPort());
        ASSERT_TRUE(mStream.Open(mInfo.get(), 0).IsOK());
        ASSERT_EQ(mStream.GetDataReceiverType(), Ring() ? TnDataReceiverTypeTarnDriver : TnDataReceiverTypeUserMode);
        mBuffers = MakeBuffers(aBuffers, aBufferSize);
        ASSERT_TRUE(QueueAll(mStream, mBuffers));
        ASSERT_TRUE(mSender.Open(kLoopback, mStream.GetLocalPort(), aSend, &mFrames).IsOK());
        mDevice->SetSender(&mSender);
    }

    void TearDown() override
    {
        if (mDevice)
        {
            mDevice->SetSender(nullptr);
        }
        mSender.Close();
        mStream.Close();
    }

    std::unique_ptr<StreamDevice> mDevice;
    std::unique_ptr<TnDeviceInfoGEV> mInfo;
    std::vector<std::unique_ptr<TnBuffer>> mBuffers; // outlive the stream
    TnStreamGEV mStream;
    TestFrames mFrames{kWidth, kHeight, 64}; // room for a sender that keeps many for resends
    gev::TnGvspSender mSender;
};
} // namespace

TEST(Stream, QueueRetrieveAbortAndCloseKeepEveryBuffer)
{
    REQUIRE_STREAM_NETWORK();
    TnStreamGEV lStream;
    std::vector<std::unique_ptr<TnBuffer>> lBuffers = MakeBuffers(4, kFrameSize);
    TnBuffer *lBuffer = nullptr;
    TnResult lOperation;
    EXPECT_FALSE(lStream.IsOpen());
    EXPECT_EQ(lStream.QueueBuffer(lBuffers[0].get()).GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(lStream.RetrieveBuffer(&lBuffer, &lOperation, 0).GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(lStream.AbortQueuedBuffers().GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(lStream.Close().GetCode(), TN_NOT_CONNECTED);

    ASSERT_TRUE(lStream.Open(TnString("127.0.0.1"), 0, 0, TnString(""), 3).IsOK());
    EXPECT_EQ(lStream.Open(TnString("127.0.0.1")).GetCode(), TN_STATE_ERROR);
    EXPECT_EQ(lStream.GetQueuedBufferMaximum(), 3u);
    EXPECT_EQ(lStream.RetrieveBuffer(&lBuffer, &lOperation, 0).GetCode(), TN_NO_MORE_ITEM);
    EXPECT_EQ(lStream.RetrieveBuffer(nullptr, &lOperation, 0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lStream.QueueBuffer(nullptr).GetCode(), TN_INVALID_PARAMETER);
    TnBuffer lEmpty;
    EXPECT_EQ(lStream.QueueBuffer(&lEmpty).GetCode(), TN_INVALID_PARAMETER);
    for (int lIndex = 0; lIndex < 3; ++lIndex)
    {
        EXPECT_EQ(lStream.QueueBuffer(lBuffers[lIndex].get()).GetCode(), TN_PENDING);
    }
    EXPECT_EQ(lStream.QueueBuffer(lBuffers[0].get()).GetCode(), TN_INVALID_PARAMETER); // queued already
    EXPECT_EQ(lStream.QueueBuffer(lBuffers[3].get()).GetCode(), TN_NO_MORE_ENTRY);
    EXPECT_EQ(lStream.GetQueuedBufferCount(), 3u);
    EXPECT_EQ(lStream.RetrieveBuffer(&lBuffer, &lOperation, 20).GetCode(), TN_TIMEOUT);
    EXPECT_EQ(lBuffer, nullptr);

    // A retrieval waiting on another thread ends with the abort.
    std::thread lWaiter([&] {
        TnBuffer *lMine = nullptr;
        TnResult lMineOperation;
        EXPECT_TRUE(lStream.RetrieveBuffer(&lMine, &lMineOperation).IsOK());
        EXPECT_EQ(lMineOperation.GetCode(), TN_ABORTED);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(lStream.AbortQueuedBuffers().IsOK());
    lWaiter.join();
    for (int lIndex = 0; lIndex < 2; ++lIndex)
    {
        ASSERT_TRUE(lStream.RetrieveBuffer(&lBuffer, &lOperation, 0).IsOK());
        EXPECT_EQ(lOperation.GetCode(), TN_ABORTED);
        EXPECT_EQ(lBuffer->GetOperationResult().GetCode(), TN_ABORTED);
    }
    EXPECT_EQ(lStream.GetQueuedBufferCount(), 0u);

    // Closing ends the queued buffers too; they come back after it.
    EXPECT_EQ(lStream.QueueBuffer(lBuffers[0].get()).GetCode(), TN_PENDING);
    EXPECT_EQ(lStream.QueueBuffer(lBuffers[1].get()).GetCode(), TN_PENDING);
    EXPECT_TRUE(lStream.Close().IsOK());
    EXPECT_FALSE(lStream.IsOpen());
    EXPECT_EQ(lStream.GetQueuedBufferCount(), 2u);
    for (int lIndex = 0; lIndex < 2; ++lIndex)
    {
        ASSERT_TRUE(lStream.RetrieveBuffer(&lBuffer, &lOperation, 0).IsOK());
        EXPECT_EQ(lBuffer, lBuffers[lIndex].get());
        EXPECT_EQ(lOperation.GetCode(), TN_ABORTED);
    }
    EXPECT_EQ(lStream.RetrieveBuffer(&lBuffer, &lOperation, 0).GetCode(), TN_NOT_CONNECTED);

    // Destroyed with buffers queued: it forgets them; their owners keep them.
    std::unique_ptr<TnStreamGEV> lShortLived(new TnStreamGEV());
    ASSERT_TRUE(lShortLived->Open(TnString("127.0.0.1")).IsOK());
    ASSERT_TRUE(QueueAll(*lShortLived, lBuffers));
    EXPECT_EQ(lStream.Open(TnString("127.0.0.1")).GetCode(), TN_OK);
    EXPECT_EQ(lStream.QueueBuffer(lBuffers[0].get()).GetCode(), TN_INVALID_PARAMETER); // queued to the other
    lShortLived.reset();
    EXPECT_TRUE(lBuffers[3]->Alloc(16).IsOK());
    EXPECT_EQ(lStream.QueueBuffer(lBuffers[0].get()).GetCode(), TN_PENDING);

    // A buffer that changes its memory or goes while queued leaves the stream.
    EXPECT_EQ(lStream.QueueBuffer(lBuffers[1].get()).GetCode(), TN_PENDING);
    EXPECT_EQ(lStream.GetQueuedBufferCount(), 2u);
    EXPECT_TRUE(lBuffers[0]->Alloc(kFrameSize).IsOK());
    lBuffers[1].reset();
    EXPECT_EQ(lStream.GetQueuedBufferCount(), 0u);
    EXPECT_EQ(lStream.RetrieveBuffer(&lBuffer, &lOperation, 0).GetCode(), TN_NO_MORE_ITEM);
}

TEST(Stream, FactoryPicksTheStreamFromTheDevice)
{
    REQUIRE_STREAM_NETWORK();
    TnResult lResult;
    TnStream *lStream = TnStream::CreateAndOpen(TnString("127.0.0.1"), &lResult);
    ASSERT_NE(lStream, nullptr);
    EXPECT_TRUE(lResult.IsOK());
    EXPECT_EQ(lStream->GetType(), TnStreamTypeGEV);
    EXPECT_NE(dynamic_cast<TnStreamGEV *>(lStream), nullptr);
    EXPECT_TRUE(lStream->IsOpen());
    TnStream::Free(lStream);

    std::unique_ptr<TnDeviceInfoGEV> lInfo = LoopbackDevice(1);
    lStream = TnStream::CreateAndOpen(lInfo.get(), nullptr);
    ASSERT_NE(lStream, nullptr);
    EXPECT_EQ(static_cast<TnStreamGEV *>(lStream)->GetDeviceIPAddress(), TnString("127.0.0.1"));
    TnStream::Free(lStream);

    EXPECT_EQ(TnStream::CreateAndOpen(static_cast<const TnDeviceInfo *>(nullptr), &lResult), nullptr);
    EXPECT_EQ(lResult.GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(TnStream::CreateAndOpen(TnString("EXAMPLE-GUID-0001"), &lResult), nullptr);
    EXPECT_EQ(lResult.GetCode(), TN_NOT_FOUND);
    EXPECT_EQ(TnStream::CreateAndOpen(TnString(""), &lResult), nullptr);
    EXPECT_EQ(lResult.GetCode(), TN_INVALID_PARAMETER);
    TnDeviceInfoU3V lUsb; // no device has it
    EXPECT_EQ(TnStream::CreateAndOpen(&lUsb, &lResult), nullptr);
    EXPECT_EQ(lResult.GetCode(), TN_NOT_FOUND);
    TnStream::Free(nullptr);
}

TEST(Stream, OpeningFormsAddressesAndSettings)
{
    REQUIRE_STREAM_NETWORK();
    TnStreamGEV lStream;
    EXPECT_EQ(lStream.GetType(), TnStreamTypeGEV);
    EXPECT_EQ(lStream.GetDataReceiverType(), TnDataReceiverTypeUserMode);
    EXPECT_EQ(lStream.GetLocalPort(), 0);
    EXPECT_EQ(lStream.FlushPacketQueue().GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(lStream.SetWaitForFirstPacketOfBlockToStart(true).GetCode(), TN_NOT_CONNECTED);
    uint32_t lSize = 1;
    EXPECT_EQ(lStream.GetUserModeSocketRxBufferSize(lSize).GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(lSize, 0u);

    // Bad input is refused before anything opens.
    EXPECT_EQ(lStream.Open(TnString("not an address")).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lStream.Open(TnString("127.0.0.1"), 0, 0, TnString("bad"), 64).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lStream.Open(TnString("127.0.0.1"), 0, 0, TnString(""), 0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lStream.Open(TnString("127.0.0.1"), TnString("10.0.0.1"), 5000).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lStream.Open(static_cast<const TnDeviceInfo *>(nullptr)).GetCode(), TN_INVALID_PARAMETER);
    TnDeviceInfoU3V lUsb;
    EXPECT_EQ(lStream.Open(&lUsb, 0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_FALSE(lStream.IsOpen());

    // Settings made while closed hold at opening; some are refused while open.
    UseReceiver(lStream, "UserMode");
    EXPECT_TRUE(lStream.SetUserModeSocketRxBufferSize(1u << 20).IsOK());
    EXPECT_TRUE(lStream.SetUserModeRxPacketBufferSize(100000).IsOK()); // taken as 65500
    EXPECT_EQ(lStream.SetUserModeDataReceiverThreadPriority(100).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_TRUE(lStream.SetUserModeDataReceiverThreadPriority(0).IsOK());

    // A specific port, on channel 2, by address.
    gev::TnUdpSocket lProbe;
    ASSERT_TRUE(lProbe.Open(kLoopback, 0).IsOK());
    const uint16_t lPort = lProbe.GetLocalPort();
    lProbe.Close();
    ASSERT_TRUE(lStream.Open(TnString("127.0.0.1"), lPort, 2).IsOK());
    EXPECT_EQ(lStream.GetLocalPort(), lPort);
    EXPECT_EQ(lStream.GetSpecificLocalPort(), lPort);
    EXPECT_EQ(lStream.GetChannel(), 2);
    EXPECT_EQ(lStream.GetLocalIPAddress(), TnString("127.0.0.1"));
    EXPECT_EQ(lStream.GetDeviceIPAddress(), TnString("127.0.0.1"));
    EXPECT_EQ(lStream.GetMulticastIPAddress(), TnString(""));
    EXPECT_TRUE(lStream.GetUserModeSocketRxBufferSize(lSize).IsOK());
    EXPECT_GE(lSize, 1u << 20);
    EXPECT_EQ(lStream.SetUserModeSocketRxBufferSize(1).GetCode(), TN_NETWORK_CONFIG_ERROR);
    EXPECT_EQ(lStream.SetUserModeRxPacketBufferSize(1).GetCode(), TN_NETWORK_CONFIG_ERROR);
    EXPECT_TRUE(lStream.SetWaitForFirstPacketOfBlockToStart(true).IsOK());
    EXPECT_TRUE(lStream.GetWaitForFirstPacketOfBlockToStart());
    EXPECT_TRUE(lStream.FlushPacketQueue().IsOK());
    EXPECT_TRUE(lStream.Close().IsOK());
    EXPECT_EQ(lStream.GetSpecificLocalPort(), 0);
    EXPECT_EQ(lStream.GetLocalIPAddress(), TnString(""));

    // Port 0: one the system chooses.
    std::unique_ptr<TnDeviceInfoGEV> lInfo = LoopbackDevice(1);
    ASSERT_TRUE(lStream.Open(lInfo.get(), 0).IsOK());
    EXPECT_NE(lStream.GetLocalPort(), 0);
    EXPECT_EQ(lStream.GetSpecificLocalPort(), 0);
    EXPECT_TRUE(lStream.Close().IsOK());

    TnString lAddress("127.0.0.1");
    bool lInstalled = !HavePacketRing();
    EXPECT_TRUE(TnStreamGEV::IsDriverInstalled(lAddress, lInstalled).IsOK());
    EXPECT_EQ(lInstalled, HavePacketRing());
    TnString lNowhere("192.0.2.1"); // no route in the private network
    EXPECT_TRUE(TnStreamGEV::IsDriverInstalled(lNowhere, lInstalled).IsOK());
    EXPECT_FALSE(lInstalled);
    TnString lBad("x");
    EXPECT_EQ(TnStreamGEV::IsDriverInstalled(lBad, lInstalled).GetCode(), TN_INVALID_PARAMETER);
}

TEST(Stream, TheDataReceiverIsTheRingWhereOneOpensElseTheSocket)
{
    REQUIRE_STREAM_NETWORK();
    REQUIRE_PACKET_RING();
    TnStreamGEV lStream;
    TnGenParameterArray *lParameters = lStream.GetParameters();
    TnString lChoice;
    EXPECT_TRUE(lParameters->GetEnumValue(TnString("DataReceiver"), lChoice).IsOK());
    EXPECT_EQ(lChoice, TnString("Automatic"));
    EXPECT_EQ(Feature(lStream, "PacketRingSize"), 32 << 20);
    EXPECT_FALSE(lParameters->SetIntegerValue(TnString("PacketRingSize"), 1000).IsOK()); // whole MiB, at least one
    EXPECT_TRUE(lParameters->SetIntegerValue(TnString("PacketRingSize"), 4 << 20).IsOK());
    const std::pair<const char *, TnDataReceiverType> kChoices[] = {{"Automatic", TnDataReceiverTypeTarnDriver},
                                                                    {"UserMode", TnDataReceiverTypeUserMode},
                                                                    {"PacketRing", TnDataReceiverTypeTarnDriver}};
    for (const auto &lChoice : kChoices)
    {
        UseReceiver(lStream, lChoice.first);
        ASSERT_TRUE(lStream.Open(TnString("127.0.0.1")).IsOK()) << lChoice.first;
        EXPECT_EQ(lStream.GetDataReceiverType(), lChoice.second) << lChoice.first;
        uint32_t lSize = 0;
        EXPECT_EQ(lStream.GetUserModeSocketRxBufferSize(lSize).GetCode(),
                  lChoice.second == TnDataReceiverTypeUserMode ? TN_OK : TN_NOT_SUPPORTED);
        // The setting holds from the next opening.
        UseReceiver(lStream, lChoice.second == TnDataReceiverTypeUserMode ? "PacketRing" : "UserMode");
        EXPECT_EQ(lStream.GetDataReceiverType(), lChoice.second);
        EXPECT_TRUE(lStream.Close().IsOK());
        EXPECT_EQ(lStream.GetDataReceiverType(), TnDataReceiverTypeUserMode);
    }
}

TEST(Stream, ParametersShowTheReceiversSettingsAndStatistics)
{
    REQUIRE_STREAM_NETWORK();
    TnStreamGEV lStream;
    TnGenParameterArray *lParameters = lStream.GetParameters();
    ASSERT_NE(lParameters, nullptr);
    for (const char *lName :
         {"RequestMissingPackets", "ResendRequestDelay", "BlockTimeout", "BlocksCompleted", "PacketsLost",
          "PipelineImagesDropped", "SocketDrops", "AcquisitionRate", "Bandwidth", "ResetStatistics"})
    {
        EXPECT_NE(lParameters->Get(TnString(lName)), nullptr) << lName;
    }
    EXPECT_TRUE(lParameters->GetInteger(TnString("ResendRequestDelay"))->SetValue(5000).IsOK());
    EXPECT_EQ(Feature(lStream, "ResendRequestDelay"), 5000);
    EXPECT_FALSE(lParameters->GetInteger(TnString("MaximumResendRetries"))->SetValue(3).IsOK()); // 0 to 2
    EXPECT_FALSE(lParameters->GetInteger(TnString("BlocksCompleted"))->SetValue(1).IsOK());      // read-only
    double lRate = -1;
    EXPECT_TRUE(lParameters->GetFloat(TnString("AcquisitionRate"))->GetValue(lRate).IsOK());
    EXPECT_EQ(lRate, 0.0);

    // A device that offers no packet resend (nobody answers here): none asked.
    std::unique_ptr<TnDeviceInfoGEV> lInfo = LoopbackDevice(1);
    ASSERT_TRUE(lStream.Open(lInfo.get()).IsOK());
    EXPECT_FALSE(FeatureFlag(lStream, "DeviceSupportsPacketResend"));
    EXPECT_FALSE(FeatureFlag(lStream, "RequestMissingPackets"));
    EXPECT_EQ(Feature(lStream, "ResendRequestDelay"), 5000); // settings stay over an opening
    EXPECT_TRUE(lParameters->GetCommand(TnString("ResetStatistics"))->Execute().IsOK());
    EXPECT_EQ(Feature(lStream, "BlocksCompleted"), 0);
}

TEST_P(StreamFromSender, FramesArriveWholeWithTheirGeometry)
{
    Begin(false, FaultySenderConfig(0, 0, 0));
    const std::vector<uint64_t> lIds = mFrames.Send(mSender, 20);
    uint64_t lLastId = 0;
    for (uint64_t lId : lIds)
    {
        TnBuffer *lBuffer = nullptr;
        TnResult lOperation;
        ASSERT_TRUE(mStream.RetrieveBuffer(&lBuffer, &lOperation, 3000).IsOK());
        EXPECT_TRUE(lOperation.IsOK()) << lOperation.GetCodeString().GetAscii();
        EXPECT_EQ(lBuffer->GetBlockID(), lId);
        EXPECT_GT(lBuffer->GetBlockID(), lLastId);
        lLastId = lBuffer->GetBlockID();
        EXPECT_EQ(lBuffer->GetPayloadType(), TnPayloadTypeImage);
        EXPECT_EQ(lBuffer->GetImage()->GetHeight(), kHeight);
        EXPECT_EQ(lBuffer->GetImage()->GetPixelType(), TnPixelMono8);
        EXPECT_TRUE(HoldsPattern(*lBuffer, kWidth));
        EXPECT_TRUE(lBuffer->IsHeaderValid() && lBuffer->IsTrailerValid());
        EXPECT_EQ(lBuffer->GetLostPacketCount(), 0u);
        EXPECT_NE(lBuffer->GetReceptionTime(), 0u);
        mStream.QueueBuffer(lBuffer);
    }
    EXPECT_EQ(CounterReaching(mStream, "BlocksCompleted", 20), 20);
    if (Ring())
    {
        EXPECT_EQ(Feature(mStream, "PacketsInPlace"), 0);
        EXPECT_GT(Feature(mStream, "PacketsCopied"), 0);
        uint32_t lSize = 1;
        EXPECT_EQ(mStream.GetUserModeSocketRxBufferSize(lSize).GetCode(), TN_NOT_SUPPORTED);
    }
    else
    {
        EXPECT_GT(Feature(mStream, "PacketsInPlace"), Feature(mStream, "PacketsCopied"));
    }
}

TEST_P(StreamFromSender, LossReorderingAndDuplicatesNeverGiveAnOKBufferWithWrongBytes)
{
    Begin(false, FaultySenderConfig(10, 30, 20));
    std::vector<uint64_t> lIds = mFrames.Send(mSender, 60);
    ASSERT_TRUE(mSender.WaitIdle(5000).IsOK());
    lIds.pop_back(); // the last block's end shows only by its trailer or a timeout
    const std::map<uint64_t, Received> lReceived = Collect(mStream, lIds, kWidth);
    size_t lComplete = 0, lFailed = 0;
    for (uint64_t lId : lIds)
    {
        ASSERT_EQ(lReceived.count(lId), 1u) << "block " << lId;
        const Received &lOne = lReceived.at(lId);
        if (lOne.mResult == TN_OK)
        {
            EXPECT_TRUE(lOne.mExact) << "block " << lId << " came back OK with wrong bytes";
            ++lComplete;
        }
        else
        {
            EXPECT_EQ(lOne.mResult, TN_MISSING_PACKETS) << "block " << lId;
            EXPECT_GT(lOne.mLost, 0u);
            EXPECT_GT(lOne.mMissingGroups, 0u);
            ++lFailed;
        }
    }
    EXPECT_GT(lComplete, 10u);
    EXPECT_GT(lFailed, 3u);
    EXPECT_GT(Feature(mStream, "PacketsLost"), 0);
    EXPECT_GT(Feature(mStream, "PacketsRedundant"), 0);
    EXPECT_GT(Feature(mStream, "PacketsOutOfOrder"), 0);
    EXPECT_EQ(Feature(mStream, "ResendRequestsSent"), 0);
}

TEST_P(StreamFromSender, MissingPacketsAreAskedForWhereTheDeviceResends)
{
    gev::TnGvspSenderConfig lConfig = FaultySenderConfig(30, 10, 0);
    // The device keeps every block it sends: a request that a loaded machine
    // holds up still finds its block (one it no longer has fails the block).
    lConfig.mRetainedBlocks = 48;
    Begin(true, lConfig);
    EXPECT_TRUE(FeatureFlag(mStream, "DeviceSupportsPacketResend"));
    EXPECT_TRUE(FeatureFlag(mStream, "RequestMissingPackets"));
    std::vector<uint64_t> lIds = mFrames.Send(mSender, 41);
    lIds.pop_back();
    const std::map<uint64_t, Received> lReceived = Collect(mStream, lIds, kWidth);
    for (uint64_t lId : lIds)
    {
        ASSERT_EQ(lReceived.count(lId), 1u) << "block " << lId;
        EXPECT_EQ(lReceived.at(lId).mResult, TN_OK)
            << "block " << lId << "; requests the sender refused: " << mSender.GetStatistics().mResendRequestsRefused;
        EXPECT_TRUE(lReceived.at(lId).mExact) << "block " << lId;
    }
    EXPECT_GT(Feature(mStream, "PacketsRecovered"), 0);
    EXPECT_GT(Feature(mStream, "ResendRequestsSent"), 0);
    EXPECT_GT(mDevice->GetResendCount(), 0u);
    EXPECT_GT(mSender.GetStatistics().mPacketsResent, 0u);
}

TEST_P(StreamFromSender, StandardBlockIdsWrapAndExtendedIdsWork)
{
    Begin(false, FaultySenderConfig(0, 0, 0));
    // Standard ids: 65533 to 65535, then 1 (0 is skipped).
    std::vector<uint64_t> lIds = mFrames.Send(mSender, 6, 65533);
    EXPECT_EQ(lIds[3], 1u);
    std::map<uint64_t, Received> lReceived = Collect(mStream, lIds, kWidth);
    for (uint64_t lId : lIds)
    {
        EXPECT_EQ(lReceived[lId].mResult, TN_OK) << "block " << lId;
        EXPECT_TRUE(lReceived[lId].mExact) << "block " << lId;
    }
    // The device switches to extended ids.
    mSender.Close();
    gev::TnGvspSenderConfig lExtended = FaultySenderConfig(0, 0, 0);
    lExtended.mExtendedIds = true;
    ASSERT_TRUE(mSender.Open(kLoopback, mStream.GetLocalPort(), lExtended, &mFrames).IsOK());
    lIds = mFrames.Send(mSender, 4, 0x100000000ull);
    lReceived = Collect(mStream, lIds, kWidth);
    for (uint64_t lId : lIds)
    {
        EXPECT_EQ(lReceived[lId].mResult, TN_OK) << "block " << lId;
        EXPECT_TRUE(lReceived[lId].mExact) << "block " << lId;
    }
}

TEST_P(StreamFromSender, BlocksLargerThanTheirBuffersFailTooSmall)
{
    Begin(false, FaultySenderConfig(0, 0, 0), 4, kFrameSize / 2);
    const std::vector<uint64_t> lIds = mFrames.Send(mSender, 3);
    const std::map<uint64_t, Received> lReceived = Collect(mStream, lIds, kWidth);
    for (uint64_t lId : lIds)
    {
        ASSERT_EQ(lReceived.count(lId), 1u);
        EXPECT_EQ(lReceived.at(lId).mResult, TN_BUFFER_TOO_SMALL) << "block " << lId;
    }
    EXPECT_EQ(CounterReaching(mStream, "BlocksTooSmall", 3), 3);
}

TEST_P(StreamFromSender, GenDCContainersArriveWholeInTheBuffersOwnMemory)
{
    Begin(false, FaultySenderConfig(0, 0, 0), 0);
    // A buffer that holds the container, and one whose own memory (an image)
    // is too small for it though chunk memory kept apart would take the rest.
    std::vector<std::unique_ptr<TnBuffer>> lBuffers;
    lBuffers.emplace_back(new TnBuffer());
    ASSERT_TRUE(lBuffers[0]->Alloc(8000).IsOK());
    std::vector<uint8_t> lImageMemory(1000);
    lBuffers.emplace_back(new TnBuffer(TnPayloadTypeImage));
    ASSERT_TRUE(lBuffers[1]->GetImage()->Attach(lImageMemory.data(), 40, 25, TnPixelMono8, 0, 0, 65536).IsOK());
    ASSERT_TRUE(QueueAll(mStream, lBuffers));
    std::vector<uint8_t> lContainer(5000);
    for (size_t lIndex = 0; lIndex < lContainer.size(); ++lIndex)
    {
        lContainer[lIndex] = static_cast<uint8_t>(lIndex * 7);
    }
    gev::TnGvspBlock lBlock;
    lBlock.mLeader.mPayloadType = gev::kGvspPayloadGenDC;
    lBlock.mSegments[0] = {lContainer.data(), lContainer.size()};
    gev::TnGvspSender lSender;
    ASSERT_TRUE(lSender.Open(kLoopback, mStream.GetLocalPort(), FaultySenderConfig(0, 0, 0), nullptr).IsOK());
    for (uint64_t lId : {1, 2})
    {
        const TnResult lQueued = lSender.Queue(lBlock, nullptr, lId);
        ASSERT_TRUE(lQueued.IsOK() || lQueued.GetCode() == TN_PENDING);
    }
    TnBuffer *lBuffer = nullptr;
    TnResult lOperation;
    ASSERT_TRUE(mStream.RetrieveBuffer(&lBuffer, &lOperation, 3000).IsOK());
    ASSERT_EQ(lBuffer, lBuffers[0].get());
    EXPECT_TRUE(lOperation.IsOK());
    EXPECT_EQ(lBuffer->GetPayloadType(), TnPayloadTypeGenDC);
    ASSERT_EQ(lBuffer->GetPayloadSize(), lContainer.size());
    EXPECT_EQ(memcmp(lBuffer->GetDataPointer(), lContainer.data(), lContainer.size()), 0);
    EXPECT_NE(lBuffer->GetGenDC(), nullptr);
    ASSERT_TRUE(mStream.RetrieveBuffer(&lBuffer, &lOperation, 3000).IsOK());
    EXPECT_EQ(lOperation.GetCode(), TN_BUFFER_TOO_SMALL);
    lSender.Close();
}

TEST_P(StreamFromSender, PayloadsThatDescribeMoreThanCameFail)
{
    Begin(false, FaultySenderConfig(0, 0, 0), 0);
    std::vector<std::unique_ptr<TnBuffer>> lBuffers = MakeBuffers(1, 8000);
    ASSERT_TRUE(QueueAll(mStream, lBuffers));
    gev::TnGvspSender lSender;
    ASSERT_TRUE(lSender.Open(kLoopback, mStream.GetLocalPort(), FaultySenderConfig(0, 0, 0), nullptr).IsOK());
    uint64_t lId = 0;
    // Block aType of the bytes aMain then aChunks: the operation's code, or
    // TN_GENERIC_ERROR for chunks that came back other than sent.
    auto lSend = [&](uint16_t aType, const std::vector<uint8_t> &aMain, const std::vector<uint8_t> &aChunks) {
        gev::TnGvspBlock lBlock;
        lBlock.mLeader.mPayloadType = aType;
        lBlock.mLeader.mPixelFormat = TnPixelMono8;
        lBlock.mLeader.mSizeX = 40;
        lBlock.mLeader.mSizeY = 25;
        lBlock.mSegments[0] = {aMain.data(), aMain.size()};
        lBlock.mSegments[1] = {aChunks.data(), aChunks.size()};
        EXPECT_EQ(lSender.Queue(lBlock, nullptr, ++lId).GetCode(), TN_PENDING);
        TnBuffer *lBuffer = nullptr;
        TnResult lOperation;
        EXPECT_TRUE(mStream.RetrieveBuffer(&lBuffer, &lOperation, 3000).IsOK());
        const bool lChunkBack = aChunks.empty() || lBuffer->GetChunkSizeByID(0x4000) == 16;
        mStream.QueueBuffer(lBuffer);
        return lOperation.IsOK() && !lChunkBack ? uint32_t(TN_GENERIC_ERROR) : lOperation.GetCode();
    };
    // A 40 x 25 Mono8 image, its tag, 16 bytes of chunk 0x4000 and its tag:
    // whole, with a last tag naming 16 MiB more, and cut before that tag.
    const std::vector<uint8_t> lImage(1000, 0x5A);
    std::vector<uint8_t> lChunks = {0, 0, 0, 1, 0, 0, 0x03, 0xE8};
    lChunks.insert(lChunks.end(), 16, 0x77);
    lChunks.insert(lChunks.end(), {0, 0, 0x40, 0, 0, 0, 0, 16});
    std::vector<uint8_t> lOverlong = lChunks;
    lOverlong[lOverlong.size() - 4] = 0x01;
    const uint16_t lWithChunks = gev::kGvspPayloadImage | gev::kGvspPayloadChunkFlag;
    EXPECT_EQ(lSend(lWithChunks, lImage, lChunks), uint32_t(TN_OK));
    EXPECT_EQ(lSend(lWithChunks, lImage, lOverlong), uint32_t(TN_INVALID_DATA_FORMAT));
    EXPECT_EQ(lSend(lWithChunks, lImage, std::vector<uint8_t>(lChunks.begin(), lChunks.end() - 10)),
              uint32_t(TN_INVALID_DATA_FORMAT));
    // GenDC containers of 5000 bytes whose header tells their data's size:
    // the rest of the 5000, then far more.
    for (uint64_t lDataSize : {uint64_t(5000 - sizeof(GenDCContainerHeaderBase)), uint64_t(100000)})
    {
        GenDCContainerHeaderBase lHeader;
        memset(&lHeader, 0, sizeof(lHeader));
        lHeader.Signature = GenDCSignature(GDC_SIGNATURE);
        lHeader.HeaderType = GenDCHeaderType(GDC_CONTAINER_HEADER);
        lHeader.HeaderSize = lHeader.DescriptorSize = sizeof(lHeader);
        lHeader.DataOffset = sizeof(lHeader);
        lHeader.DataSize = lDataSize;
        std::vector<uint8_t> lContainer(5000, 0x3C);
        memcpy(lContainer.data(), &lHeader, sizeof(lHeader));
        EXPECT_EQ(lSend(gev::kGvspPayloadGenDC, lContainer, {}),
                  uint32_t(lDataSize < 5000 ? TN_OK : TN_MISSING_PACKETS));
    }
    lSender.Close();
}

TEST_P(StreamFromSender, BuffersThatGoWhileBlocksComeLeaveTheStreamFirst)
{
    Begin(false, FaultySenderConfig(0, 0, 0), 64, kFrameSize);
    std::thread lSending([&] { mFrames.Send(mSender, 60); });
    // Half the buffers go, one by one, while blocks are written into them.
    for (size_t lIndex = 0; lIndex < mBuffers.size(); lIndex += 2)
    {
        mBuffers[lIndex].reset();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    lSending.join();
    // What is left comes back whole or aborted, never a buffer that went.
    TnBuffer *lBuffer = nullptr;
    TnResult lOperation;
    while (mStream.RetrieveBuffer(&lBuffer, &lOperation, 200).IsOK())
    {
        EXPECT_TRUE(std::any_of(mBuffers.begin(), mBuffers.end(),
                                [lBuffer](const std::unique_ptr<TnBuffer> &aOne) { return aOne.get() == lBuffer; }));
        EXPECT_TRUE(!lOperation.IsOK() || HoldsPattern(*lBuffer, kWidth));
    }
    EXPECT_EQ(mStream.GetQueuedBufferCount(), 0u);
}

TEST_P(StreamFromSender, MulticastGroupByAddress)
{
    std::vector<std::unique_ptr<TnBuffer>> lBuffers = MakeBuffers(4, kFrameSize);
    TnStreamGEV lStream;
    UseReceiver(lStream, GetParam());
    ASSERT_TRUE(lStream.Open(TnString("127.0.0.1"), TnString("239.255.0.2"), 0, 0, TnString("127.0.0.1")).IsOK());
    EXPECT_EQ(lStream.GetMulticastIPAddress(), TnString("239.255.0.2"));
    EXPECT_EQ(lStream.GetDataReceiverType(), Ring() ? TnDataReceiverTypeTarnDriver : TnDataReceiverTypeUserMode);
    EXPECT_EQ(lStream.GetLocalIPAddress(), TnString("127.0.0.1"));
    ASSERT_TRUE(QueueAll(lStream, lBuffers));
    TestFrames lFrames(kWidth, kHeight, 4);
    gev::TnGvspSender lSender;
    ASSERT_TRUE(
        lSender.Open(0xEFFF0002, lStream.GetLocalPort(), FaultySenderConfig(0, 0, 0), &lFrames, kLoopback).IsOK());
    const std::vector<uint64_t> lIds = lFrames.Send(lSender, 3);
    const std::map<uint64_t, Received> lReceived = Collect(lStream, lIds, kWidth);
    for (uint64_t lId : lIds)
    {
        ASSERT_EQ(lReceived.count(lId), 1u);
        EXPECT_TRUE(lReceived.at(lId).mExact) << "block " << lId;
    }
    lSender.Close();
}

INSTANTIATE_TEST_SUITE_P(Receivers, StreamFromSender, ::testing::Values("PacketRing", "UserMode"),
                         [](const ::testing::TestParamInfo<const char *> &aInfo) { return std::string(aInfo.param); });
