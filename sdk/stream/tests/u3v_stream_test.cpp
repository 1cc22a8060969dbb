// The USB3 Vision stream on simulated devices: the rules of opening, blocks
// received whole in place or copied, buffers too small, blocks the device
// dropped, and aborts.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TnDeviceU3V.h"
#include "TnStreamTestUtil.h"
#include "TnStreamU3V.h"
#include "TnTestDevices.h"

using namespace tn;

namespace
{
const char kDevices[] = "[u3v]\nmodel = EX-1\nguid = U3V-STREAM-1\n\n[u3v]\nmodel = EX-2\nguid = U3V-STREAM-2\n";
constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 16;

// Whether the buffer holds its block's frame: byte i of line y of block b is
// (i + 3 y + 7 b) mod 256.
bool HoldsFrame(TnBuffer &aBuffer)
{
    TnImage *lImage = aBuffer.GetImage();
    if (lImage == nullptr || lImage->GetWidth() != kWidth || lImage->GetHeight() != kHeight)
    {
        return false;
    }
    const uint8_t *lBytes = aBuffer.GetDataPointer();
    for (uint32_t lLine = 0; lLine < kHeight; ++lLine)
    {
        for (uint32_t lColumn = 0; lColumn < kWidth; ++lColumn)
        {
            if (lBytes[lLine * kWidth + lColumn] != ((lColumn + 3 * lLine + 7 * aBuffer.GetBlockID()) & 0xFF))
            {
                return false;
            }
        }
    }
    return true;
}

int64_t Counter(TnStream &aStream, const char *aName)
{
    int64_t lValue = -1;
    EXPECT_TRUE(aStream.GetParameters()->GetIntegerValue(TnString(aName), lValue).IsOK()) << aName;
    return lValue;
}

class U3vStream : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mInfo.mUniqueID = "U3V:U3V-STREAM-1";
        ASSERT_TRUE(mController.Connect(&mInfo).IsOK());
        mFeatures = mController.GetParameters();
        ASSERT_TRUE(mFeatures->SetIntegerValue(TnString("Width"), kWidth).IsOK());
        ASSERT_TRUE(mFeatures->SetIntegerValue(TnString("Height"), kHeight).IsOK());
        ASSERT_TRUE(mFeatures->SetFloatValue(TnString("AcquisitionFrameRate"), 2000.0).IsOK());
    }

    void TearDown() override { mFeatures->ExecuteCommand(TnString("AcquisitionStop")); }

    void Start() { ASSERT_TRUE(mFeatures->ExecuteCommand(TnString("AcquisitionStart")).IsOK()); }

    test::SimulatedDevicesFile mFile{kDevices};
    TnDeviceInfoU3V mInfo;
    TnDeviceU3V mController;
    TnGenParameterArray *mFeatures = nullptr;
};

TEST_F(U3vStream, OpensOneStreamPerChannel)
{
    TnStreamU3V lStream;
    EXPECT_EQ(lStream.GetType(), TnStreamTypeU3V);
    EXPECT_EQ(lStream.GetGUID(), TnString(""));
    EXPECT_EQ(lStream.Open(static_cast<const TnDeviceInfo *>(nullptr)).GetCode(), TN_INVALID_PARAMETER);
    TnDeviceInfoGEV lGev;
    EXPECT_EQ(lStream.Open(&lGev).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lStream.Open(TnString("NO-SUCH-GUID")).GetCode(), TN_NOT_FOUND);
    EXPECT_EQ(lStream.Open(&mInfo, 1).GetCode(), TN_NOT_FOUND) << "one channel";
    EXPECT_EQ(lStream.Open(&mInfo, 0, 0).GetCode(), TN_INVALID_PARAMETER);
    ASSERT_TRUE(lStream.Open(&mInfo, 0, 8).IsOK());
    EXPECT_EQ(lStream.GetGUID(), TnString("U3V-STREAM-1"));
    EXPECT_EQ(lStream.GetQueuedBufferMaximum(), 8u);
    EXPECT_EQ(lStream.Open(&mInfo).GetCode(), TN_STATE_ERROR);
    TnStreamU3V lSecond;
    EXPECT_EQ(lSecond.Open(TnString("U3V-STREAM-1")).GetCode(), TN_BUSY);
    TnResult lResult;
    TnStream *lOther = TnStream::CreateAndOpen(TnString("U3V-STREAM-2"), &lResult);
    ASSERT_NE(lOther, nullptr) << lResult.GetDescription().GetAscii();
    EXPECT_NE(dynamic_cast<TnStreamU3V *>(lOther), nullptr);
    TnStream::Free(lOther);
    ASSERT_TRUE(lStream.Close().IsOK());
    EXPECT_TRUE(lSecond.Open(TnString("U3V-STREAM-1")).IsOK());
}

TEST_F(U3vStream, ReceivesBlocksWholeInPlaceOrCopied)
{
    for (uint32_t lThreshold : {512u, 4096u})
    {
        TnStreamU3V lStream;
        ASSERT_TRUE(lStream.Open(&mInfo, 0, 64, lThreshold).IsOK());
        std::vector<std::unique_ptr<TnBuffer>> lBuffers = test::MakeBuffers(4, kWidth * kHeight);
        ASSERT_TRUE(test::QueueAll(lStream, lBuffers));
        Start();
        uint64_t lLast = 0;
        for (int lBlock = 0; lBlock < 6; ++lBlock)
        {
            TnBuffer *lBuffer = nullptr;
            TnResult lOperation;
            ASSERT_TRUE(lStream.RetrieveBuffer(&lBuffer, &lOperation, 2000).IsOK());
            ASSERT_TRUE(lOperation.IsOK()) << lOperation.GetDescription().GetAscii();
            EXPECT_TRUE(HoldsFrame(*lBuffer)) << lBlock;
            EXPECT_TRUE(lBlock == 0 || lBuffer->GetBlockID() > lLast);
            lLast = lBuffer->GetBlockID();
            ASSERT_EQ(lStream.QueueBuffer(lBuffer).GetCode(), TN_PENDING);
        }
        EXPECT_GE(Counter(lStream, "BlocksCompleted"), 6);
        EXPECT_EQ(Counter(lStream, "BlocksCopied") > 0, lThreshold > kWidth * kHeight);
        EXPECT_EQ(Counter(lStream, "BlocksFailed"), 0);
        ASSERT_TRUE(mFeatures->ExecuteCommand(TnString("AcquisitionStop")).IsOK());
    }
}

TEST_F(U3vStream, FailsBuffersTooSmallCountsDroppedBlocksAndAborts)
{
    TnStreamU3V lStream;
    ASSERT_TRUE(lStream.Open(&mInfo).IsOK());
    std::vector<std::unique_ptr<TnBuffer>> lSmall = test::MakeBuffers(1, kWidth * kHeight / 2);
    ASSERT_TRUE(test::QueueAll(lStream, lSmall));
    Start();
    TnBuffer *lBuffer = nullptr;
    TnResult lOperation;
    ASSERT_TRUE(lStream.RetrieveBuffer(&lBuffer, &lOperation, 2000).IsOK());
    EXPECT_EQ(lOperation.GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(Counter(lStream, "BlocksTooSmall"), 1);

    // No buffer for a while: the device drops what it cannot keep.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::vector<std::unique_ptr<TnBuffer>> lBuffers = test::MakeBuffers(2, kWidth * kHeight);
    ASSERT_TRUE(test::QueueAll(lStream, lBuffers));
    for (int lBlock = 0; lBlock < 2; ++lBlock)
    {
        ASSERT_TRUE(lStream.RetrieveBuffer(&lBuffer, &lOperation, 2000).IsOK());
        EXPECT_TRUE(lOperation.IsOK() && HoldsFrame(*lBuffer));
    }
    EXPECT_GT(Counter(lStream, "BlocksMissed"), 10);

    // Without frames (reopening empties the device's memory), queued
    // buffers end with an abort, and with closing.
    ASSERT_TRUE(mFeatures->ExecuteCommand(TnString("AcquisitionStop")).IsOK());
    ASSERT_TRUE(lStream.Close().IsOK());
    ASSERT_TRUE(lStream.Open(&mInfo).IsOK());
    ASSERT_TRUE(test::QueueAll(lStream, lBuffers));
    ASSERT_TRUE(lStream.AbortQueuedBuffers().IsOK());
    for (int lBlock = 0; lBlock < 2; ++lBlock)
    {
        ASSERT_TRUE(lStream.RetrieveBuffer(&lBuffer, &lOperation, 2000).IsOK());
        EXPECT_EQ(lOperation.GetCode(), TN_ABORTED);
    }
    ASSERT_TRUE(test::QueueAll(lStream, lBuffers));
    ASSERT_TRUE(lStream.Close().IsOK());
    ASSERT_TRUE(lStream.RetrieveBuffer(&lBuffer, &lOperation, 0).IsOK());
    EXPECT_EQ(lOperation.GetCode(), TN_ABORTED);
}
} // namespace
