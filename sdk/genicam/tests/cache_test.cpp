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
        TnString name;
        aParameter->GetName(name);
        mNames.push_back(name.GetAscii());
    }

    bool Saw(const std::string &aName) const
    {
        for (const std::string &name : mNames)
        {
            if (name == aName)
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
    Device device(kImage);
    ASSERT_TRUE(device);
    device.PokeLittle(0x10, 64);
    EXPECT_EQ(64, device.Int("Width"));
    const uint64_t reads = device.mPort->GetReadCount();
    EXPECT_EQ(64, device.Int("Width"));
    EXPECT_EQ(reads, device.mPort->GetReadCount());
    bool cached = false;
    EXPECT_TRUE(device->Get("Width")->IsValueCached(cached).IsOK());
    EXPECT_TRUE(cached);

    // A write keeps the written value; the device is not asked again.
    EXPECT_TRUE(device->SetIntegerValue("Width", 80).IsOK());
    EXPECT_EQ(80, device.Int("Width"));
    EXPECT_EQ(reads, device.mPort->GetReadCount());

    // Changes behind the cache show after invalidation.
    device.PokeLittle(0x10, 96);
    EXPECT_EQ(80, device.Int("Width"));
    EXPECT_TRUE(device->InvalidateCache().IsOK());
    EXPECT_TRUE(device->Get("Width")->IsValueCached(cached).IsOK());
    EXPECT_FALSE(cached);
    EXPECT_EQ(96, device.Int("Width"));
}

TEST(Cache, ModesInvalidatorsAndOverlaps)
{
    Device device(IntReg("Direct", 0x10, 4, "<AccessMode>RW</AccessMode><Cachable>NoCache</Cachable>") +
                  IntReg("Around", 0x14, 4, "<AccessMode>RW</AccessMode><Cachable>WriteAround</Cachable>") +
                  IntReg("Status", 0x18, 4, "<AccessMode>RO</AccessMode><pInvalidator>Reset</pInvalidator>") +
                  IntReg("Reset", 0x1C) + IntReg("Word", 0x20, 4) + IntReg("HalfWord", 0x22, 2) +
                  "<Integer Name=\"Selector\"><pValue>SelectorReg</pValue><pSelected>Level</pSelected></Integer>" +
                  IntReg("SelectorReg", 0x30) + "<Integer Name=\"Level\"><pValue>LevelReg</pValue></Integer>" +
                  IntReg("LevelReg", 0x34));
    ASSERT_TRUE(device);
    EXPECT_EQ(0, device.Int("Direct"));
    device.PokeLittle(0x10, 5);
    EXPECT_EQ(5, device.Int("Direct"));

    EXPECT_TRUE(device->SetIntegerValue("Around", 7).IsOK());
    uint64_t reads = device.mPort->GetReadCount();
    EXPECT_EQ(7, device.Int("Around"));
    EXPECT_EQ(reads + 1, device.mPort->GetReadCount());

    // Writing an invalidator drops what depends on it.
    EXPECT_EQ(0, device.Int("Status"));
    device.PokeLittle(0x18, 9);
    EXPECT_EQ(0, device.Int("Status"));
    EXPECT_TRUE(device->SetIntegerValue("Reset", 1).IsOK());
    EXPECT_EQ(9, device.Int("Status"));

    // A write to some bytes drops every cached value that covers them.
    EXPECT_EQ(0, device.Int("Word"));
    EXPECT_TRUE(device->SetIntegerValue("HalfWord", 0xABCD).IsOK());
    EXPECT_EQ(0xABCD0000, device.Int("Word"));

    // A selector's write drops what its selected features read, even where
    // the device switches the register's contents behind one address.
    EXPECT_EQ(0, device.Int("Level"));
    device.PokeLittle(0x34, 5);
    EXPECT_TRUE(device->SetIntegerValue("Selector", 1).IsOK());
    EXPECT_EQ(5, device.Int("Level"));
}

TEST(Cache, PollInvalidatesWhatIsDue)
{
    Device device(IntReg("Temperature", 0x10, 4, "<AccessMode>RO</AccessMode><PollingTime>40</PollingTime>") +
                  "<Integer Name=\"Shown\"><pValue>Temperature</pValue></Integer>" + IntReg("Still", 0x14, 4));
    ASSERT_TRUE(device);
    RecordingSink sink;
    EXPECT_TRUE(device->Get("Shown")->RegisterEventSink(&sink).IsOK());
    EXPECT_EQ(0, device.Int("Shown"));
    EXPECT_EQ(0, device.Int("Still"));
    device.PokeLittle(0x10, 30);
    device.PokeLittle(0x14, 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(device->Poll().IsOK());
    if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(30))
    {
        EXPECT_EQ(0, device.Int("Shown"));
        EXPECT_TRUE(sink.mNames.empty());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_TRUE(device->Poll().IsOK());
    EXPECT_TRUE(sink.Saw("Shown"));
    EXPECT_EQ(30, device.Int("Shown"));
    // Nodes without a polling time keep their cache.
    EXPECT_EQ(0, device.Int("Still"));
    EXPECT_TRUE(device->Get("Shown")->UnregisterEventSink(&sink).IsOK());
}

TEST(Notification, SinksHearOfChangesToWhatTheyDependOn)
{
    Device device(kImage);
    ASSERT_TRUE(device);
    RecordingSink widthSink;
    RecordingSink payloadSink;
    TnGenParameter *width = device->Get("Width");
    TnGenParameter *payload = device->Get("Payload");
    EXPECT_CODE(TN_INVALID_PARAMETER, width->RegisterEventSink(nullptr));
    EXPECT_CODE(TN_INVALID_PARAMETER, width->UnregisterEventSink(nullptr));
    EXPECT_CODE(TN_NOT_FOUND, width->UnregisterEventSink(&widthSink));
    EXPECT_TRUE(width->RegisterEventSink(&widthSink).IsOK());
    EXPECT_TRUE(width->RegisterEventSink(&widthSink).IsOK());
    EXPECT_TRUE(payload->RegisterEventSink(&payloadSink).IsOK());

    // Writing the register behind Width reaches Width and the formula over it.
    EXPECT_TRUE(device->SetIntegerValue("WidthReg", 10).IsOK());
    EXPECT_EQ(std::vector<std::string>{"Width"}, widthSink.mNames);
    EXPECT_TRUE(payloadSink.Saw("Payload"));
    payloadSink.mNames.clear();
    EXPECT_TRUE(device->SetIntegerValue("Height", 3).IsOK());
    EXPECT_TRUE(payloadSink.Saw("Payload"));
    EXPECT_EQ(1u, widthSink.mNames.size());

    // Suspended updates are not delivered.
    EXPECT_TRUE(width->GetUpdatesEnabled());
    width->SetUpdatesEnabled(false);
    EXPECT_FALSE(width->GetUpdatesEnabled());
    EXPECT_TRUE(device->SetIntegerValue("Width", 11).IsOK());
    EXPECT_EQ(1u, widthSink.mNames.size());
    width->SetUpdatesEnabled(true);
    EXPECT_TRUE(device->InvalidateCache().IsOK());
    EXPECT_EQ(2u, widthSink.mNames.size());

    EXPECT_TRUE(width->UnregisterEventSink(&widthSink).IsOK());
    EXPECT_TRUE(device->SetIntegerValue("Width", 12).IsOK());
    EXPECT_EQ(2u, widthSink.mNames.size());
    EXPECT_TRUE(payload->UnregisterEventSink(&payloadSink).IsOK());
}

TEST(Notification, SinksMayThrowAndCallBack)
{
    Device device(kImage);
    ASSERT_TRUE(device);
    struct Throwing : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override
        {
            ++mCalls;
            throw std::runtime_error("sink failure");
        }
        int mCalls = 0;
    } throwing;
    // A sink that reads and writes the array from inside its notification:
    // it is called without any lock of the array held.
    struct Reentrant : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override
        {
            int64_t payload = 0;
            mResult = mArray->GetIntegerValue("Payload", payload);
            mPayload = payload;
            if (mDepth++ == 0)
            {
                mArray->SetIntegerValue("Height", 2);
            }
            std::thread other([this]() { mOtherResult = mArray->GetIntegerValue("Width", mOtherWidth); });
            other.join();
        }
        TnGenParameterArray *mArray = nullptr;
        TnResult mResult, mOtherResult;
        int64_t mPayload = 0, mOtherWidth = 0;
        int mDepth = 0;
    } reentrant;
    reentrant.mArray = device.mArray.get();
    EXPECT_TRUE(device->Get("Width")->RegisterEventSink(&throwing).IsOK());
    EXPECT_TRUE(device->Get("Width")->RegisterEventSink(&reentrant).IsOK());
    EXPECT_TRUE(device->SetIntegerValue("Width", 5).IsOK());
    EXPECT_EQ(1, throwing.mCalls);
    EXPECT_TRUE(reentrant.mResult.IsOK());
    EXPECT_TRUE(reentrant.mOtherResult.IsOK());
    EXPECT_EQ(5, reentrant.mOtherWidth);
    EXPECT_EQ(2, device.Int("Height"));
    EXPECT_EQ(10, device.Int("Payload"));
}

TEST(Notification, UnregisteredSinksAreNotCalledAfterwards)
{
    Device device(kImage);
    ASSERT_TRUE(device);
    TnGenParameter *width = device->Get("Width");
    // A sink that drops another one while the same notification runs.
    struct Counting : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override { ++mCalls; }
        std::atomic<int> mCalls{0};
    } second;
    struct Dropping : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *aParameter) override { aParameter->UnregisterEventSink(mOther); }
        TnGenEventSink *mOther = nullptr;
    } first;
    first.mOther = &second;
    EXPECT_TRUE(width->RegisterEventSink(&first).IsOK());
    EXPECT_TRUE(width->RegisterEventSink(&second).IsOK());
    EXPECT_TRUE(device->SetIntegerValue("Width", 1).IsOK());
    EXPECT_EQ(0, second.mCalls.load());
    EXPECT_TRUE(width->UnregisterEventSink(&first).IsOK());

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
    } slow;
    EXPECT_TRUE(width->RegisterEventSink(&slow).IsOK());
    std::thread writer([&]() { device->SetIntegerValue("Width", 2); });
    while (!slow.mInside)
    {
        std::this_thread::yield();
    }
    EXPECT_TRUE(width->UnregisterEventSink(&slow).IsOK());
    EXPECT_TRUE(slow.mFinished);
    writer.join();
}
