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
    std::string nodes;
    for (int i = 0; i < kThreads; ++i)
    {
        const std::string index = std::to_string(i);
        nodes += IntReg("Reg" + index, 0x10 + 4 * i) + "<Integer Name=\"Value" + index + "\"><pValue>Reg" + index +
                 "</pValue><Min>0</Min><Max>1000000</Max></Integer>";
    }
    nodes += "<IntSwissKnife Name=\"Sum\"><pVariable Name=\"A\">Value0</pVariable><pVariable Name=\"B\">Value1</pVariable>"
             "<Formula>A + B</Formula></IntSwissKnife>";
    Device device(nodes);
    ASSERT_TRUE(device);

    struct CountingSink : TnGenEventSink
    {
        void OnParameterUpdate(TnGenParameter *) override { ++mCalls; }
        std::atomic<int> mCalls{0};
    } sink;

    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
    {
        threads.emplace_back([&, i]() {
            const std::string name = "Value" + std::to_string(i);
            TnGenInteger *value = device->GetInteger(name.c_str());
            for (int round = 0; round < kRounds; ++round)
            {
                int64_t read = -1;
                if (!value->SetValue(round).IsOK() || !value->GetValue(read).IsOK() || read != round)
                {
                    ++failures;
                }
                int64_t sum = 0;
                if (!device->GetIntegerValue("Sum", sum).IsOK())
                {
                    ++failures;
                }
            }
        });
    }
    // Cache invalidation, polling, chunk attachment and sink registration run
    // beside the writers.
    std::thread housekeeping([&]() {
        uint8_t chunk[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        while (!stop)
        {
            device->InvalidateCache();
            device->Poll();
            device->AttachDataChunks(chunk, sizeof(chunk));
            device->Get("Sum")->RegisterEventSink(&sink);
            device->Get("Sum")->UnregisterEventSink(&sink);
            TnGenParameterList list;
            device->Get("Value0")->GetSelectingParameters(list);
        }
    });
    for (std::thread &thread : threads)
    {
        thread.join();
    }
    stop = true;
    housekeeping.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_TRUE(device->InvalidateCache().IsOK());
    for (int i = 0; i < kThreads; ++i)
    {
        EXPECT_EQ(kRounds - 1, device.Int(("Value" + std::to_string(i)).c_str()));
    }
    EXPECT_EQ(2 * (kRounds - 1), device.Int("Sum"));
}
