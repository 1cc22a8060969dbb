// Caching, invalidation, polling and update notifications.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "GenICamTestUtil.h"

using tn::genicam::test::Device;
using tn::genicam::test::IntReg;

namespace
{
// Remembers the names of the parameters it was told about.
class RecordingSink : public TnGenEventSink
{
public:
    void OnParameterUpdate(TnGenParameter *aParameter) override
    {
        TnString lName;
        aParameter->GetName(lName);
        mNames.push_back(lName.GetAscii());
    }

    bool Saw(const std::string &aName) const
    {
        for (const std::string &lName : mNames)
        {
            if (lName == aName)
            {
                return true;
            }
        }
        return false;
    }

    std::vector<std::string> mNames;
};

const std::string kImage = IntReg("WidthReg", 0x10) + IntReg("HeightReg", 0x14) +
                           "<Integer Name=\"Width\"><pValue>WidthReg</pValue></Integer>"
                           "<Integer Name=\"Height\"><pValue>HeightReg</pValue></Integer>"
                           "<IntSwissKnife Name=\"Payload\"><pVariable Name=\"W\">Width</pVariable>"
                           "<pVariable Name=\"H\">Height</pVariable><Formula>W * H</Formula></IntSwissKnife>";
} // namespace

TEST(Cache, WriteThroughServesReadsUntilInvalidated)
{
    Device lDevice(kImage);
    ASSERT_TRUE(lDevice);
    lDevice.PokeLittle(0x10, 64);
    EXPECT_EQ(64, lDevice.Int("Width"));
    const uint64_t lReads = lDevice.mPort->GetReadCount();
    EXPECT_EQ(64, lDevice.Int("Width"));
    EXPECT_EQ(lReads, lDevice.mPort->GetReadCount());
    bool lCached = false;
    EXPECT_TRUE(lDevice->Get("Width")->IsValueCached(lCached).IsOK());
    EXPECT_TRUE(lCached);

    // A write keeps the written value; the device is not asked again.
    EXPECT_TRUE(lDevice->SetIntegerValue("Width", 80).IsOK());
    EXPECT_EQ(80, lDevice.Int("Width"));
    EXPECT_EQ(lReads, lDevice.mPort->GetReadCount());

    // Changes behind the cache show after invalidation.
    lDevice.PokeLittle(0x10, 96);
    EXPECT_EQ(80, lDevice.Int("Width"));
    EXPECT_TRUE(lDevice->InvalidateCache().IsOK());
    EXPECT_TRUE(lDevice->Get("Width")->IsValueCached(lCached).IsOK());
    EXPECT_FALSE(lCached);
    EXPECT_EQ(96, lDevice.Int("Width"));
}

TEST(Cache, ModesInvalidatorsAndOverlaps)
{
    Device lDevice(IntReg("Direct", 0x10, 4, "<AccessMode>RW</AccessMode><Cachable>NoCache</Cachable>") +
                   IntReg("Around", 0x14, 4, "<AccessMode>RW</AccessMode><Cachable>WriteAround</Cachable>") +
                   IntReg("Status", 0x18, 4, "<AccessMode>RO</AccessMode><pInvalidator>Reset</pInvalidator>") +
                   IntReg("Reset", 0x1C) + IntReg("Word", 0x20, 4) + IntReg("HalfWord", 0x22, 2) +
                   "<Integer Name=\"Selector\"><pValue>SelectorReg</pValue><pSelected>Level</pSelected></Integer>" +
                   IntReg("SelectorReg", 0x30) + "<Integer Name=\"Level\"><pValue>LevelReg</pValue></Integer>" +
                   IntReg("LevelReg", 0x34));
    ASSERT_TRUE(lDevice);
    EXPECT_EQ(0, lDevice.Int("Direct"));
    lDevice.PokeLittle(0x10, 5);
    EXPECT_EQ(5, lDevice.Int("Direct"));

    EXPECT_TRUE(lDevice->SetIntegerValue("Around", 7).IsOK());
    uint64_t lReads = lDevice.mPort->GetReadCount();
    EXPECT_EQ(7, lDevice.Int("Around"));
    EXPECT_EQ(lReads + 1, lDevice.mPort->GetReadCount());

    // Writing an invalidator drops what depends on it.
    EXPECT_EQ(0, lDevice.Int("Status"));
    lDevice.PokeLittle(0x18, 9);
    EXPECT_EQ(0, lDevice.Int("Status"));
    EXPECT_TRUE(lDevice->SetIntegerValue("Reset", 1).IsOK());
    EXPECT_EQ(9, lDevice.Int("Status"));

    // A write to some bytes drops every cached value that covers them.
    EXPECT_EQ(0, lDevice.Int("Word"));
    EXPECT_TRUE(lDevice->SetIntegerValue("HalfWord", 0xABCD).IsOK());
    EXPECT_EQ(0xABCD0000, lDevice.Int("Word"));

    // A selector's write drops what its selected features read, even where
    // the device switches the register's contents behind one address.
    EXPECT_EQ(0, lDevice.Int("Level"));
    lDevice.PokeLittle(0x34, 5);
    EXPECT_TRUE(lDevice->SetIntegerValue("Selector", 1).IsOK());
    EXPECT_EQ(5, lDevice.Int("Level"));
}

TEST(Cache, AccessFollowsWhatItRestsOn)
{
    // Availability read from a register the host does not cache follows the
    // device from one call to the next; read from a cached one, it holds
    // until the cache is invalidated.
    Device lDevice(IntReg("Live", 0x10, 4, "<AccessMode>RO</AccessMode><Cachable>NoCache</Cachable>") +
                   IntReg("Kept", 0x14, 4, "<AccessMode>RO</AccessMode>") + IntReg("ValueReg", 0x18) +
                   "<Integer Name=\"ByLive\"><pIsAvailable>Live</pIsAvailable><pValue>ValueReg</pValue></Integer>"
                   "<Integer Name=\"ByKept\"><pIsAvailable>Kept</pIsAvailable><pValue>ValueReg</pValue></Integer>");
    ASSERT_TRUE(lDevice);
    const auto lAvailable = [&](const char *aName) {
        bool lFlag = false;
        EXPECT_TRUE(lDevice->Get(aName)->IsAvailable(lFlag).IsOK());
        return lFlag;
    };
    lDevice.PokeLittle(0x10, 1);
    lDevice.PokeLittle(0x14, 1);
    EXPECT_TRUE(lAvailable("ByLive"));
    EXPECT_TRUE(lAvailable("ByKept"));
    lDevice.PokeLittle(0x10, 0);
    lDevice.PokeLittle(0x14, 0);
    EXPECT_FALSE(lAvailable("ByLive"));
    EXPECT_TRUE(lAvailable("ByKept"));
    EXPECT_EQ(0, lDevice.Int("ByKept"));
    EXPECT_TRUE(lDevice->InvalidateCache().IsOK());
    EXPECT_FALSE(lAvailable("ByKept"));
    lDevice.PokeLittle(0x10, 1);
    EXPECT_EQ(0, lDevice.Int("ByLive"));
}

TEST(Cache, PollInvalidatesWhatIsDue)
{
    Device lDevice(IntReg("Temperature", 0x10, 4, "<AccessMode>RO</AccessMode><PollingTime>40</PollingTime>") +
                   "<Integer Name=\"Shown\"><pValue>Temperature</pValue></Integer>" + IntReg("Still", 0x14, 4));
    ASSERT_TRUE(lDevice);
    RecordingSink lSink;
    EXPECT_TRUE(lDevice->Get("Shown")->RegisterEventSink(&lSink).IsOK());
    EXPECT_EQ(0, lDevice.Int("Shown"));
    EXPECT_EQ(0, lDevice.Int("Still"));
    lDevice.PokeLittle(0x10, 30);
    lDevice.PokeLittle(0x14, 1);
    const auto lStart = std::chrono::steady_clock::now();
    EXPECT_TRUE(lDevice->Poll().IsOK());
    if (std::chrono::steady_clock::now() - lStart < std::chrono::milliseconds(30))
    {
        EXPECT_EQ(0, lDevice.Int("Shown"));
        EXPECT_TRUE(lSink.mNames.empty());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_TRUE(lDevice->Poll().IsOK());
    EXPECT_TRUE(lSink.Saw("Shown"));
    EXPECT_EQ(30, lDevice.Int("Shown"));
    // Nodes without a polling time keep their cache.
    EXPECT_EQ(0, lDevice.Int("Still"));
    EXPECT_TRUE(lDevice->Get("Shown")->UnregisterEventSink(&lSink).IsOK());
}

TEST(Notification, SinksHearOfChangesToWhatTheyDependOn)
{
    Device lDevice(kImage);
    ASSERT_TRUE(lDevice);
    RecordingSink lWidthSink;
    RecordingSink lPayloadSink;
    TnGenParameter *lWidth = lDevice->Get("Width");
    TnGenParameter *lPayload = lDevice->Get("Payload");
    EXPECT_CODE(TN_INVALID_PARAMETER, lWidth->RegisterEventSink(nullptr));
    EXPECT_CODE(TN_INVALID_PARAMETER, lWidth->UnregisterEventSink(nullptr));
    EXPECT_CODE(TN_NOT_FOUND, lWidth->UnregisterEventSink(&lWidthSink));
    EXPECT_TRUE(lWidth->RegisterEventSink(&lWidthSink).IsOK());
    EXPECT_TRUE(lWidth->RegisterEventSink(&lWidthSink).IsOK());
    EXPECT_TRUE(lPayload->RegisterEventSink(&lPayloadSink).IsOK());

    // Writing the register behind Width reaches Width and the formula over it.
    EXPECT_TRUE(lDevice->SetIntegerValue("WidthReg", 10).IsOK());
    EXPECT_EQ(std::vector<std::string>{"Width"}, lWidthSink.mNames);
    EXPECT_TRUE(lPayloadSink.Saw("Payload"));
    lPayloadSink.mNames.clear();
    EXPECT_TRUE(lDevice->SetIntegerValue("Height", 3).IsOK());
    EXPECT_TRUE(lPayloadSink.Saw("Payload"));
    EXPECT_EQ(1u, lWidthSink.mNames.size());

    // Suspended updates are not delivered.
    EXPECT_TRUE(lWidth->GetUpdatesEnabled());
    lWidth->SetUpdatesEnabled(false);
    EXPECT_FALSE(lWidth->GetUpdatesEnabled());
    EXPECT_TRUE(lDevice->SetIntegerValue("Width", 11).IsOK());
    EXPECT_EQ(1u, lWidthSink.mNames.size());
    lWidth->SetUpdatesEnabled(true);
    EXPECT_TRUE(lDevice->InvalidateCache().IsOK());
    EXPECT_EQ(2u, lWidthSink.mNames.size());

    EXPECT_TRUE(lWidth->UnregisterEventSink(&lWidthSink).IsOK());
    EXPECT_TRUE(lDevice->SetIntegerValue("Width", 12).IsOK());
    EXPECT_EQ(2u, lWidthSink.mNames.size());
    EXPECT_TRUE(lPayload->UnregisterEventSink(&lPayloadSink).IsOK());
}

TEST(Notification, SinksMayThrowAndCallBack)
{
    Device lDevice(kImage);
    ASSERT_TRUE(lDevice);
    struct Throwing : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override
        {
            ++mCalls;
            throw std::runtime_error("sink failure");
        }
        int mCalls = 0;
    } lThrowing;
    // A sink that reads and writes the array from inside its notification:
    // it is called without any lock of the array held.
    struct Reentrant : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override
        {
            int64_t lPayload = 0;
            mResult = mArray->GetIntegerValue("Payload", lPayload);
            mPayload = lPayload;
            if (mDepth++ == 0)
            {
                mArray->SetIntegerValue("Height", 2);
            }
            std::thread lOther([this]() { mOtherResult = mArray->GetIntegerValue("Width", mOtherWidth); });
            lOther.join();
        }
        TnGenParameterArray *mArray = nullptr;
        TnResult mResult, mOtherResult;
        int64_t mPayload = 0, mOtherWidth = 0;
        int mDepth = 0;
    } lReentrant;
    lReentrant.mArray = lDevice.mArray.get();
    EXPECT_TRUE(lDevice->Get("Width")->RegisterEventSink(&lThrowing).IsOK());
    EXPECT_TRUE(lDevice->Get("Width")->RegisterEventSink(&lReentrant).IsOK());
    EXPECT_TRUE(lDevice->SetIntegerValue("Width", 5).IsOK());
    EXPECT_EQ(1, lThrowing.mCalls);
    EXPECT_TRUE(lReentrant.mResult.IsOK());
    EXPECT_TRUE(lReentrant.mOtherResult.IsOK());
    EXPECT_EQ(5, lReentrant.mOtherWidth);
    EXPECT_EQ(2, lDevice.Int("Height"));
    EXPECT_EQ(10, lDevice.Int("Payload"));
}

TEST(Notification, UnregisteredSinksAreNotCalledAfterwards)
{
    Device lDevice(kImage);
    ASSERT_TRUE(lDevice);
    TnGenParameter *lWidth = lDevice->Get("Width");
    // A sink that drops another one while the same notification runs.
    struct Counting : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override { ++mCalls; }
        std::atomic<int> mCalls{0};
    } lSecond;
    struct Dropping : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *aParameter) override { aParameter->UnregisterEventSink(mOther); }
        TnGenEventSink *mOther = nullptr;
    } lFirst;
    lFirst.mOther = &lSecond;
    EXPECT_TRUE(lWidth->RegisterEventSink(&lFirst).IsOK());
    EXPECT_TRUE(lWidth->RegisterEventSink(&lSecond).IsOK());
    EXPECT_TRUE(lDevice->SetIntegerValue("Width", 1).IsOK());
    EXPECT_EQ(0, lSecond.mCalls.load());
    EXPECT_TRUE(lWidth->UnregisterEventSink(&lFirst).IsOK());

    // Unregistering on another thread waits for a call in progress.
    struct Slow : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override
        {
            mInside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            mFinished = true;
        }
        std::atomic<bool> mInside{false};
        std::atomic<bool> mFinished{false};
    } lSlow;
    EXPECT_TRUE(lWidth->RegisterEventSink(&lSlow).IsOK());
    std::thread lWriter([&]() { lDevice->SetIntegerValue("Width", 2); });
    while (!lSlow.mInside)
    {
        std::this_thread::yield();
    }
    EXPECT_TRUE(lWidth->UnregisterEventSink(&lSlow).IsOK());
    EXPECT_TRUE(lSlow.mFinished);
    lWriter.join();
}
