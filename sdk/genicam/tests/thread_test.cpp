// Concurrent use of one parameter array from several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "GenICamTestUtil.h"

using tn::genicam::test::Device;
using tn::genicam::test::IntReg;

TEST(Threads, ConcurrentAccessStaysConsistent)
{
    const int kThreads = 6;
    const int kRounds = 400;
    std::string lNodes;
    for (int lThread = 0; lThread < kThreads; ++lThread)
    {
        const std::string lIndex = std::to_string(lThread);
        lNodes += IntReg("Reg" + lIndex, 0x10 + 4 * lThread) + "<Integer Name=\"Value" + lIndex + "\"><pValue>Reg" +
                  lIndex + "</pValue><Min>0</Min><Max>1000000</Max></Integer>";
    }
    lNodes +=
        "<IntSwissKnife Name=\"Sum\"><pVariable Name=\"A\">Value0</pVariable><pVariable Name=\"B\">Value1</pVariable>"
        "<Formula>A + B</Formula></IntSwissKnife>";
    Device lDevice(lNodes);
    ASSERT_TRUE(lDevice);

    struct CountingSink : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override { ++mCalls; }
        std::atomic<int> mCalls{0};
    } lSink;

    std::atomic<int> lFailures{0};
    std::atomic<bool> lStop{false};
    std::vector<std::thread> lThreads;
    for (int lIndex = 0; lIndex < kThreads; ++lIndex)
    {
        lThreads.emplace_back([&, lIndex]() {
            const std::string lName = "Value" + std::to_string(lIndex);
            TnGenInteger *lValue = lDevice->GetInteger(lName.c_str());
            for (int lRound = 0; lRound < kRounds; ++lRound)
            {
                int64_t lRead = -1;
                if (!lValue->SetValue(lRound).IsOK() || !lValue->GetValue(lRead).IsOK() || lRead != lRound)
                {
                    ++lFailures;
                }
                int64_t lSum = 0;
                if (!lDevice->GetIntegerValue("Sum", lSum).IsOK())
                {
                    ++lFailures;
                }
            }
        });
    }
    // Cache invalidation, polling, chunk attachment and sink registration run
    // beside the writers.
    std::thread lHousekeeping([&]() {
        uint8_t lChunk[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        while (!lStop)
        {
            lDevice->InvalidateCache();
            lDevice->Poll();
            lDevice->AttachDataChunks(lChunk, sizeof(lChunk));
            lDevice->Get("Sum")->RegisterEventSink(&lSink);
            lDevice->Get("Sum")->UnregisterEventSink(&lSink);
            TnGenParameterList lList;
            lDevice->Get("Value0")->GetSelectingParameters(lList);
        }
    });
    for (std::thread &lThread : lThreads)
    {
        lThread.join();
    }
    lStop = true;
    lHousekeeping.join();
    EXPECT_EQ(0, lFailures.load());
    EXPECT_TRUE(lDevice->InvalidateCache().IsOK());
    for (int lIndex = 0; lIndex < kThreads; ++lIndex)
    {
        EXPECT_EQ(kRounds - 1, lDevice.Int(("Value" + std::to_string(lIndex)).c_str()));
    }
    EXPECT_EQ(2 * (kRounds - 1), lDevice.Int("Sum"));
}
