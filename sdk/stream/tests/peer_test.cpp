// Streams from independent devices, each test in a network namespace of its
// own: the aravis fake camera (its pattern: pixel (x, y) of block n is
// (x + y + n) % 255), with and without its packet loss, and the C test
// camera with loss, with and without resend, and large frames at a high
// rate. The devices are controlled through libTnDevice.
#include <gtest/gtest.h>

#include <thread>

#include "TnDeviceGEV.h"
#include "TnGvspTool.h"
#include "TnPipeline.h"
#include "TnStreamGEV.h"
#include "TnSystem.h"
#include "TnTestDevices.h"
#include "TnTestProcess.h"

using namespace tn::test;

namespace
{
// A device under control, streaming to a stream on this host.
class Streaming
{
public:
    // Connects to the device at 127.0.0.1 and opens a stream from it.
    bool Begin()
    {
        const TnDeviceInfo *lInfo = nullptr;
        TnResult lResult = mSystem.FindDevice(TnString("127.0.0.1"), &lInfo);
        if (!lResult.IsOK())
        {
            ADD_FAILURE() << "no device found: " << lResult.GetCodeString().GetAscii();
            return false;
        }
        mDevice.reset(TnDevice::CreateAndConnect(lInfo, &lResult));
        if (!mDevice)
        {
            ADD_FAILURE() << "no connection: " << lResult.GetCodeString().GetAscii();
            return false;
        }
        lResult = mStream.Open(lInfo, 0);
        EXPECT_TRUE(lResult.IsOK()) << lResult.GetCodeString().GetAscii();
        return lResult.IsOK();
    }

    TnGenParameterArray &Features() { return *mDevice->GetParameters(); }

    int64_t Feature(const char *aName)
    {
        int64_t lValue = -1;
        EXPECT_TRUE(Features().GetIntegerValue(TnString(aName), lValue).IsOK()) << aName;
        return lValue;
    }

    int64_t StreamFeature(const char *aName)
    {
        int64_t lValue = -1;
        EXPECT_TRUE(mStream.GetParameters()->GetIntegerValue(TnString(aName), lValue).IsOK()) << aName;
        return lValue;
    }

    // Points the device at the stream and starts acquisition.
    bool Start()
    {
        TnDeviceGEV &lGev = static_cast<TnDeviceGEV &>(*mDevice);
        return lGev.SetStreamDestination(mStream.GetLocalIPAddress(), mStream.GetLocalPort()).IsOK() &&
               Features().GetCommand(TnString("AcquisitionStart"))->Execute().IsOK();
    }

    void Stop() { Features().GetCommand(TnString("AcquisitionStop"))->Execute(); }

    TnSystem mSystem;
    std::unique_ptr<TnDevice, void (*)(TnDevice *)> mDevice{nullptr, &TnDevice::Free};
    TnStreamGEV mStream;
};

// Whether a Mono8 buffer holds the fake camera's pattern.
bool HoldsFakePattern(TnBuffer &aBuffer)
{
    TnImage *lImage = aBuffer.GetImage();
    if (lImage == nullptr || lImage->GetPixelType() != TnPixelMono8)
    {
        return false;
    }
    if (lImage->GetWidth() == 0 || lImage->GetHeight() == 0)
    {
        return false;
    }
    const uint8_t *lPixels = aBuffer.GetDataPointer();
    const uint64_t lId = aBuffer.GetBlockID();
    for (uint32_t lY = 0; lY < lImage->GetHeight(); ++lY)
    {
        for (uint32_t lX = 0; lX < lImage->GetWidth(); ++lX)
        {
            if (*lPixels++ != (lX + lY + lId) % 255)
            {
                return false;
            }
        }
    }
    return true;
}

class FakeStream : public FakeCameraTest
{
protected:
    // Receives aFrames blocks into queued buffers; counts the complete and
    // the failed ones and checks every complete one's pixels.
    void Receive(size_t aFrames, size_t &aComplete, size_t &aFailed)
    {
        aComplete = aFailed = 0;
        ASSERT_TRUE(mStreaming.Begin());
        ASSERT_TRUE(mStreaming.Features().SetEnumValue(TnString("PixelFormat"), TnString("Mono8")).IsOK());
        const int64_t lWidth = mStreaming.Feature("Width");
        const int64_t lHeight = mStreaming.Feature("Height");
        const int64_t lPayload = mStreaming.Feature("PayloadSize");
        EXPECT_EQ(lPayload, lWidth * lHeight);
        std::vector<std::unique_ptr<TnBuffer>> lBuffers;
        for (int lIndex = 0; lIndex < 8; ++lIndex)
        {
            lBuffers.emplace_back(new TnBuffer());
            ASSERT_TRUE(lBuffers.back()->Alloc(static_cast<uint32_t>(lPayload)).IsOK());
            ASSERT_EQ(mStreaming.mStream.QueueBuffer(lBuffers.back().get()).GetCode(), TN_PENDING);
        }
        ASSERT_TRUE(mStreaming.Start());
        // Complete blocks come in id order; a block that failed may come
        // after a newer one that completed while its holes were waited for.
        uint64_t lLastId = 0;
        for (size_t lFrame = 0; lFrame < aFrames; ++lFrame)
        {
            TnBuffer *lBuffer = nullptr;
            TnResult lOperation;
            ASSERT_TRUE(mStreaming.mStream.RetrieveBuffer(&lBuffer, &lOperation, 3000).IsOK());
            const uint64_t lId = lBuffer->GetBlockID();
            if (lOperation.IsOK())
            {
                EXPECT_TRUE(lLastId == 0 || lId > lLastId || (lLastId > 65000 && lId < 100)) << lLastId << " " << lId;
                lLastId = lId;
                ++aComplete;
                EXPECT_EQ(lBuffer->GetImage()->GetWidth(), lWidth);
                EXPECT_EQ(lBuffer->GetImage()->GetHeight(), lHeight);
                EXPECT_TRUE(HoldsFakePattern(*lBuffer)) << "block " << lId << " came back OK with wrong pixels";
            }
            else
            {
                ++aFailed;
            }
            mStreaming.mStream.QueueBuffer(lBuffer);
        }
        mStreaming.Stop();
        mStreaming.mStream.Close();
    }

    Streaming mStreaming;
};

// The C test camera, in this test's namespace.
class FastcamStream : public FreshNetworkTest
{
protected:
    bool StartCamera(std::vector<std::string> aArguments)
    {
#ifdef TARN_FASTCAM
        aArguments.insert(aArguments.begin(), TARN_FASTCAM);
        aArguments.push_back("-q");
        if (!mCamera.Start(aArguments))
        {
            return false;
        }
        for (int lTry = 0; lTry < 100; ++lTry)
        {
            const TnDeviceInfo *lInfo = nullptr;
            TnSystem lSystem;
            lSystem.SetDetectionTimeout(100);
            if (lSystem.FindDevice(TnString("127.0.0.1"), &lInfo).IsOK())
            {
                return true;
            }
        }
        return false;
#else
        (void)aArguments;
        return false;
#endif
    }

    // Receives for aSeconds through a pipeline; counts what came back. Every
    // byte of each complete frame is checked, or (aSampled) 64 spread over it.
    void Receive(double aSeconds, uint32_t aPacketSize, size_t &aComplete, size_t &aFailed, bool aSampled = false)
    {
        aComplete = aFailed = 0;
        ASSERT_TRUE(mStreaming.Begin());
        TnDeviceGEV &lGev = static_cast<TnDeviceGEV &>(*mStreaming.mDevice);
        ASSERT_TRUE(lGev.SetPacketSize(aPacketSize).IsOK());
        const int64_t lWidth = mStreaming.Feature("Width");
        TnPipeline lPipeline(&mStreaming.mStream);
        lPipeline.SetBufferSize(static_cast<uint32_t>(mStreaming.Feature("PayloadSize")));
        ASSERT_TRUE(lPipeline.Start().IsOK());
        ASSERT_TRUE(mStreaming.Start());
        const auto lEnd = std::chrono::steady_clock::now() + std::chrono::duration<double>(aSeconds);
        while (std::chrono::steady_clock::now() < lEnd)
        {
            TnBuffer *lBuffer = nullptr;
            TnResult lOperation;
            ASSERT_TRUE(lPipeline.RetrieveNextBuffer(&lBuffer, 3000, &lOperation).IsOK());
            if (lOperation.IsOK())
            {
                ++aComplete;
                EXPECT_TRUE(tn::tool::PatternOk(lBuffer->GetDataPointer(), lBuffer->GetPayloadSize(),
                                                static_cast<size_t>(lWidth), lBuffer->GetBlockID(), !aSampled))
                    << "block " << lBuffer->GetBlockID() << " came back OK with wrong bytes";
            }
            else
            {
                ++aFailed;
            }
            lPipeline.ReleaseBuffer(lBuffer);
        }
        mStreaming.Stop();
        lPipeline.Stop();
        EXPECT_EQ(mStreaming.StreamFeature("PipelineImagesDropped"), 0);
    }

    ChildProcess mCamera;
    Streaming mStreaming;
};
} // namespace

TEST_F(FakeStream, FramesOfTheDevicesSizeWithItsPattern)
{
    size_t lComplete, lFailed;
    Receive(12, lComplete, lFailed);
    EXPECT_EQ(lComplete, 12u);
    EXPECT_EQ(lFailed, 0u);
}

TEST_F(FakeStream, ThroughAPipeline)
{
    ASSERT_TRUE(mStreaming.Begin());
    TnPipeline lPipeline(&mStreaming.mStream);
    lPipeline.SetBufferSize(static_cast<uint32_t>(mStreaming.Feature("PayloadSize")));
    ASSERT_TRUE(lPipeline.Start().IsOK());
    ASSERT_TRUE(mStreaming.Start());
    for (int lFrame = 0; lFrame < 6; ++lFrame)
    {
        TnBuffer *lBuffer = nullptr;
        TnResult lOperation;
        ASSERT_TRUE(lPipeline.RetrieveNextBuffer(&lBuffer, 3000, &lOperation).IsOK());
        EXPECT_TRUE(lOperation.IsOK());
        EXPECT_TRUE(HoldsFakePattern(*lBuffer));
        lPipeline.ReleaseBuffer(lBuffer);
    }
    mStreaming.Stop();
}

TEST_F(FakeStream, ItsPacketLossGivesFailedFramesNeverWrongOnes)
{
    mCamera.Stop();
    std::string lWhy;
    ASSERT_TRUE(mCamera.Start(mSerial, lWhy, {"-r", "5"})) << lWhy;
    size_t lComplete, lFailed;
    Receive(40, lComplete, lFailed);
    EXPECT_GT(lFailed, 0u);
    EXPECT_GT(lComplete, 0u);
}

TEST_F(FastcamStream, LossWithResendGivesCompleteFramesAndWithoutFailedOnes)
{
    if (!StartCamera({"-s", "640x480", "-r", "100", "-l", "20", "-R"}))
    {
        GTEST_SKIP() << "the C test camera is not built";
    }
    size_t lComplete, lFailed;
    Receive(1.0, 1500, lComplete, lFailed);
    EXPECT_GT(lComplete, 50u);
    EXPECT_EQ(lFailed, 0u);
    EXPECT_GT(mStreaming.StreamFeature("PacketsRecovered"), 0);
    mStreaming.mStream.Close();
    mStreaming.mDevice.reset();
    mCamera.Stop();

    ASSERT_TRUE(StartCamera({"-s", "320x240", "-r", "100", "-l", "20"}));
    Receive(1.0, 1500, lComplete, lFailed);
    EXPECT_GT(lFailed, 10u);
    EXPECT_EQ(mStreaming.StreamFeature("ResendRequestsSent"), 0);
}

TEST_F(FastcamStream, LargeFramesAtAHighRateArriveWhole)
{
    if (!StartCamera({"-s", "4096x3072", "-r", "40", "-R"}))
    {
        GTEST_SKIP() << "the C test camera is not built";
    }
    size_t lComplete, lFailed;
    Receive(1.5, 9000, lComplete, lFailed, true);
    EXPECT_GT(lComplete, 40u);
    EXPECT_EQ(lFailed, 0u);
}
