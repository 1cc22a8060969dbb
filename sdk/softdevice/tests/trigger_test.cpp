// Trigger selectors and the triggered source: the selectors' state machines,
// and the source's registers, software trigger, callbacks and pre-queue wait.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "TnRegisterMap.h"
#include "TnStreamingChannelSourceTrigger.h"

using namespace tn::softdevice;

namespace
{
/// The pure operations answered, so that the source can be made.
class TriggerSource : public TnStreamingChannelSourceTrigger
{
public:
    TriggerSource() : TnStreamingChannelSourceTrigger(0, 0xA000) {}
    uint32_t GetWidth() const override { return 8; }
    uint32_t GetHeight() const override { return 4; }
    uint32_t GetOffsetX() const override { return 0; }
    uint32_t GetOffsetY() const override { return 0; }
    TnPixelType GetPixelType() const override { return TnPixelMono8; }
    void GetWidthInfo(uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) const override { aMin = aMax = aInc = 1; }
    void GetHeightInfo(uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) const override { aMin = aMax = aInc = 1; }
    uint32_t GetChunksSize() const override { return 0; }
    uint32_t GetPayloadSize() const override { return 0; }
    TnScanType GetScanType() const override { return TnScanTypeArea; }
    bool GetChunkModeActive() const override { return false; }
    bool GetChunkEnable(uint32_t) const override { return false; }
    TnResult GetSupportedPixelType(int, TnPixelType &) const override { return TnResult(TN_INVALID_PARAMETER); }
    TnResult GetSupportedChunk(int, uint32_t &, TnString &) const override { return TnResult(TN_INVALID_PARAMETER); }
    TnResult SetWidth(uint32_t) override { return TnResult(TN_OK); }
    TnResult SetHeight(uint32_t) override { return TnResult(TN_OK); }
    TnResult SetOffsetX(uint32_t) override { return TnResult(TN_OK); }
    TnResult SetOffsetY(uint32_t) override { return TnResult(TN_OK); }
    TnResult SetPixelType(TnPixelType) override { return TnResult(TN_OK); }
    TnResult SetChunkModeActive(bool) override { return TnResult(TN_OK); }
    TnResult SetChunkEnable(uint32_t, bool) override { return TnResult(TN_OK); }
    void OnOpen(const TnString &, uint16_t) override {}
    void OnClose() override {}
    TnBuffer *AllocBuffer() override { return nullptr; }
    void FreeBuffer(TnBuffer *) override {}
    TnResult GetTxNumBuffersToUse(uint32_t &) override { return TnResult(TN_NOT_IMPLEMENTED); }
    TnResult QueueBuffer(TnBuffer *) override { return TnResult(TN_OK); }
    TnResult RetrieveBuffer(TnBuffer **) override { return TnResult(TN_TIMEOUT); }
    void AbortQueuedBuffers() override {}
};

class CountingCallback : public ITnTriggerCallback
{
public:
    void TriggerCallbackMethod(const ITnTriggerSelector *aSelector) override
    {
        mLast = aSelector;
        ++mCalls;
    }
    std::atomic<int> mCalls{0};
    const ITnTriggerSelector *mLast = nullptr;
};
} // namespace

TEST(TriggerSelectors, StateMachines)
{
    TnTriggerSelectorDefault lDefault;
    EXPECT_EQ("N/A", std::string(lDefault.GetName().GetAscii()));
    EXPECT_EQ(0, lDefault.GetState());
    lDefault.Start(1);
    lDefault.FireTrigger();
    EXPECT_EQ(0, lDefault.GetState()) << "the default selector ignores the signals";
    lDefault.SetMode(true);
    EXPECT_EQ(1, lDefault.GetState());

    TnTriggerSelectorAcquisitionStart lAcquisition;
    lAcquisition.Start(480);
    EXPECT_EQ(ITnTriggerSelector::State_Disabled, lAcquisition.GetState());
    lAcquisition.SetMode(true);
    lAcquisition.Start(480);
    EXPECT_EQ(ITnTriggerSelector::State_Armed, lAcquisition.GetState());
    lAcquisition.FireTrigger();
    lAcquisition.Rearm();
    EXPECT_EQ(ITnTriggerSelector::State_OneShot, lAcquisition.GetState());
    lAcquisition.Stop();
    EXPECT_EQ(ITnTriggerSelector::State_Enabled, lAcquisition.GetState());

    TnTriggerSelectorLineStart lLine;
    lLine.SetMode(true);
    lLine.Start(3);
    lLine.FireTrigger();
    lLine.FireTrigger();
    EXPECT_EQ(ITnTriggerSelector::State_Armed, lLine.GetState());
    lLine.FireTrigger();
    EXPECT_EQ(ITnTriggerSelector::State_Fired, lLine.GetState());
    lLine.Rearm();
    EXPECT_EQ(ITnTriggerSelector::State_Armed, lLine.GetState());
    lLine.SetSource(4294967295u);
    EXPECT_EQ(4294967295u, lLine.GetSource());
    EXPECT_TRUE(lLine.GetMode());
    EXPECT_EQ("FrameStart", std::string(TnTriggerSelectorFrameStart().GetName().GetAscii()));
}

TEST(TriggeredSource, SoftwareTriggerReleasesTheBufferLoop)
{
    TnRegisterMap lMap;
    TnRegisterFactory lFactory(lMap);
    TriggerSource lSource;
    TnTriggerSelectorFrameStart lFrame;
    CountingCallback lCallback;
    lSource.AddSelector(TRIGGER_SELECTOR_FRAMESTART, &lFrame);
    lSource.AddSelectorTriggerCallback(TRIGGER_SELECTOR_FRAMESTART, &lCallback);
    lSource.AddSource(TRIGGER_SOURCE_USER, "User");
    lSource.CreateRegisters(&lMap, &lFactory);
    ASSERT_EQ(4u, lMap.GetRegisterCount());

    // Trigger mode off: buffers go on at once.
    lSource.OnStreamingStart();
    EXPECT_TRUE(lSource.PreQueueBufferProc());
    // On: no buffer goes until the software trigger fires; the step waits
    // for it a short while only, and wakes at once when it fires.
    ITnRegister *lMode = lMap.GetRegisterByAddress(0xA004);
    ITnRegister *lSoftware = lMap.GetRegisterByAddress(0xA00C);
    ASSERT_TRUE(lMode->Write(uint32_t(TRIGGER_MODE_ON)).IsOK());
    EXPECT_TRUE(lSource.GetMode());
    EXPECT_FALSE(lSource.PreQueueBufferProc());
    std::atomic<int> lPassed(0);
    std::thread lLoop([&] {
        while (!lSource.PreQueueBufferProc())
        {
        }
        lPassed = 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0, lPassed.load());
    ASSERT_TRUE(lSoftware->Write(uint32_t(1)).IsOK());
    lLoop.join();
    EXPECT_EQ(1, lCallback.mCalls.load());
    EXPECT_EQ(&lFrame, lCallback.mLast);
    EXPECT_EQ(ITnTriggerSelector::State_Armed, lFrame.GetState()) << "rearmed for the next frame";
    EXPECT_FALSE(lSource.PreQueueBufferProc()) << "one trigger, one buffer";

    // A trigger source other than software: the software trigger does nothing.
    ASSERT_TRUE(lMap.GetRegisterByAddress(0xA008)->Write(uint32_t(TRIGGER_SOURCE_USER)).IsOK());
    EXPECT_EQ(uint32_t(TRIGGER_SOURCE_USER), lSource.GetSource());
    lSource.FireTrigger();
    EXPECT_EQ(1, lCallback.mCalls.load());
    // Once streaming stopped the step lets no buffer go.
    lSource.OnStreamingStop();
    EXPECT_FALSE(lSource.PreQueueBufferProc());
    // Reads show the selected trigger's settings.
    uint32_t lValue = 0;
    ASSERT_TRUE(lMode->ReadInt(lValue).IsOK());
    EXPECT_EQ(uint32_t(TRIGGER_MODE_ON), lValue);
    EXPECT_EQ(TN_INVALID_PARAMETER, lMap.GetRegisterByAddress(0xA000)->Write(uint32_t(7)).GetCode())
        << "a selector the source does not have";
}

namespace
{
/// A callback that holds its call until released, and may replace the
/// selector of its index from inside the call.
class HoldingCallback : public ITnTriggerCallback
{
public:
    void TriggerCallbackMethod(const ITnTriggerSelector *aSelector) override
    {
        if (mReplaceWith != nullptr)
        {
            mSource->AddSelector(TRIGGER_SELECTOR_FRAMESTART, mReplaceWith);
        }
        mEntered = true;
        while (!mRelease.load())
        {
            std::this_thread::yield();
        }
        const TnString lName = aSelector->GetName();
        mName = lName.GetAscii();
    }
    TnStreamingChannelSourceTrigger *mSource = nullptr;
    ITnTriggerSelector *mReplaceWith = nullptr;
    std::atomic<bool> mEntered{false}, mRelease{false};
    std::string mName;
};
} // namespace

TEST(TriggeredSource, ASelectorReplacedStaysUntilItsCallbacksEnd)
{
    TnRegisterMap lMap;
    TnRegisterFactory lFactory(lMap);
    TriggerSource lSource;
    TnTriggerSelectorFrameStart lFrame, lOther("Other");
    HoldingCallback lCallback;
    lCallback.mSource = &lSource;
    lSource.AddSelector(TRIGGER_SELECTOR_FRAMESTART, &lFrame);
    lSource.AddSelectorTriggerCallback(TRIGGER_SELECTOR_FRAMESTART, &lCallback);
    lSource.CreateRegisters(&lMap, &lFactory);
    ITnRegister *lSoftware = lMap.GetRegisterByAddress(0xA00C);
    std::thread lFiring([&] { lSoftware->Write(uint32_t(1)); });
    while (!lCallback.mEntered.load())
    {
        std::this_thread::yield();
    }
    // Replaced on another thread: the call returns once the callback that
    // was handed the selector ends.
    std::atomic<bool> lReplaced(false);
    std::thread lReplacing([&] {
        lSource.AddSelector(TRIGGER_SELECTOR_FRAMESTART, &lOther);
        lReplaced = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(lReplaced.load());
    lCallback.mRelease = true;
    lFiring.join();
    lReplacing.join();
    EXPECT_EQ("FrameStart", lCallback.mName);

    // Replaced from inside the callback: at once.
    lCallback.mEntered = lCallback.mRelease = false;
    lCallback.mReplaceWith = &lFrame;
    std::thread lInside([&] { lSoftware->Write(uint32_t(1)); });
    while (!lCallback.mEntered.load())
    {
        std::this_thread::yield();
    }
    lCallback.mRelease = true;
    lInside.join();
    EXPECT_EQ("Other", lCallback.mName);
}
