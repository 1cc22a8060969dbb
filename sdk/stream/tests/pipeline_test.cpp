// The pipeline over a GigE Vision stream fed by the SDK's sender: buffers
// flow, sizes follow the blocks, drops are counted, sinks are called on the
// right threads and may stop, reset or tear down from inside a call; streams
// and pipelines end in either order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "TnGenParameterArray.h"
#include "TnGvspSender.h"
#include "TnPipeline.h"
#include "TnSinkRegistry.h"
#include "TnStreamGEV.h"
#include "TnStreamTestUtil.h"
#include "TnTestStreams.h"

using namespace tn;
using namespace tn::test;

namespace
{
constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 200;

// Counts every call and where it came from; optional actions run inside.
class RecordingSink : public TnPipelineEventSink
{
public:
    void OnBufferCreated(TnPipeline *, TnBuffer *aBuffer) override
    {
        EXPECT_EQ(aBuffer->GetSize(), 0u); // before its memory
        ++mCreated;
    }
    void OnBufferDeleted(TnPipeline *, TnBuffer *) override { ++mDeleted; }
    void OnStart(TnPipeline *) override
    {
        mStartThread = std::this_thread::get_id();
        ++mStarts;
    }
    void OnStop(TnPipeline *) override
    {
        mStopThread = std::this_thread::get_id();
        ++mStops;
    }
    void OnReset(TnPipeline *) override { ++mResets; }
    void OnBufferTooSmall(TnPipeline *aPipeline, bool *aReallocAll, bool *aResetStats) override
    {
        ++mTooSmall;
        TnPipelineEventSink::OnBufferTooSmall(aPipeline, aReallocAll, aResetStats);
    }
    void OnBufferReady(TnPipeline *aPipeline) override
    {
        mReadyThread = std::this_thread::get_id();
        ++mReady;
        if (mOnReady)
        {
            mOnReady(aPipeline);
        }
    }

    std::atomic<int> mCreated{0}, mDeleted{0}, mStarts{0}, mStops{0}, mResets{0}, mTooSmall{0}, mReady{0};
    std::thread::id mStartThread, mStopThread, mReadyThread;
    std::function<void(TnPipeline *)> mOnReady;
};

// A sink that throws from everything.
class ThrowingSink : public TnPipelineEventSink
{
public:
    void OnStart(TnPipeline *) override { throw std::runtime_error("start"); }
    void OnBufferReady(TnPipeline *) override
    {
        ++mCalls;
        throw std::runtime_error("ready");
    }
    std::atomic<int> mCalls{0};
};

class PipelineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_STREAM_NETWORK();
        mStream.reset(new TnStreamGEV());
        ASSERT_TRUE(mStream->Open(TnString("127.0.0.1")).IsOK());
        ASSERT_TRUE(mSender.Open(kLoopback, mStream->GetLocalPort(), FaultySenderConfig(0, 0, 0), &mFrames).IsOK());
    }

    void TearDown() override { mSender.Close(); }

    // Sends aCount frames while retrieving buffers until the last of them
    // came, checking and releasing each. Frames may be dropped when this
    // side falls behind (a busy machine), but each one sent is either taken,
    // in order, or counted as dropped. Returns the block ids taken.
    std::vector<uint64_t> Deliver(TnPipeline &aPipeline, size_t aCount)
    {
        const int64_t lDroppedBefore = Dropped();
        const uint64_t lLast = mSender.PeekNextBlockId() + aCount - 1;
        std::vector<uint64_t> lSent;
        std::thread lSending([&] { lSent = mFrames.Send(mSender, aCount); });
        std::vector<uint64_t> lTaken;
        while (lTaken.empty() || lTaken.back() < lLast)
        {
            TnBuffer *lBuffer = nullptr;
            TnResult lOperation;
            const TnResult lResult = aPipeline.RetrieveNextBuffer(&lBuffer, 10000, &lOperation);
            if (!lResult.IsOK())
            {
                ADD_FAILURE() << "retrieval: " << lResult.GetCodeString().GetAscii();
                break;
            }
            EXPECT_TRUE(lOperation.IsOK()) << lOperation.GetCodeString().GetAscii();
            EXPECT_TRUE(HoldsPattern(*lBuffer, kWidth));
            if (lBuffer->GetBlockID() + aCount > lLast) // one of these frames
            {
                EXPECT_TRUE(lTaken.empty() || lBuffer->GetBlockID() > lTaken.back());
                lTaken.push_back(lBuffer->GetBlockID());
            }
            EXPECT_TRUE(aPipeline.ReleaseBuffer(lBuffer).IsOK());
        }
        lSending.join();
        EXPECT_EQ(lTaken.size() + size_t(Dropped() - lDroppedBefore), lSent.size());
        return lTaken;
    }

    int64_t Dropped()
    {
        int64_t lValue = -1;
        mStream->GetParameters()->GetInteger(TnString("PipelineImagesDropped"))->GetValue(lValue);
        return lValue;
    }

    std::unique_ptr<TnStreamGEV> mStream;
    TestFrames mFrames{kWidth, kHeight, 16};
    gev::TnGvspSender mSender;
};
} // namespace

TEST_F(PipelineTest, BuffersFlowAndSinksHearOfIt)
{
    TnPipeline lPipeline(mStream.get());
    RecordingSink lSink;
    EXPECT_TRUE(lPipeline.RegisterEventSink(&lSink).IsOK());
    EXPECT_EQ(lPipeline.RegisterEventSink(&lSink).GetCode(), tn::kSinkRegisteredTwice);
    EXPECT_EQ(lPipeline.RegisterEventSink(nullptr).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lPipeline.GetBufferCount(), 16u);
    EXPECT_TRUE(lPipeline.GetHandleBufferTooSmall());
    EXPECT_FALSE(lPipeline.IsStarted());
    TnBuffer *lBuffer = nullptr;
    EXPECT_EQ(lPipeline.RetrieveNextBuffer(&lBuffer, 0).GetCode(), TN_NO_MORE_ITEM);
    EXPECT_EQ(lPipeline.RetrieveNextBuffer(nullptr, 0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lPipeline.Reset().GetCode(), TN_STATE_ERROR);
    EXPECT_EQ(lPipeline.SetBufferCount(0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_TRUE(lPipeline.SetBufferCount(8).IsOK());
    EXPECT_EQ(lSink.mCreated, 8);
    EXPECT_EQ(lPipeline.SetBufferHandlingThreadPriority(100).GetCode(), TN_INVALID_PARAMETER);

    ASSERT_TRUE(lPipeline.Start().IsOK());
    EXPECT_TRUE(lPipeline.IsStarted());
    EXPECT_EQ(lSink.mStarts, 1);
    EXPECT_EQ(lSink.mStartThread, std::this_thread::get_id());
    EXPECT_EQ(lPipeline.RetrieveNextBuffer(&lBuffer, 10).GetCode(), TN_TIMEOUT);

    const std::vector<uint64_t> lTaken = Deliver(lPipeline, 30);
    EXPECT_GE(lTaken.size(), 10u);
    // The sink hears of a buffer after it is ready, so the last one may be
    // taken before its call ends.
    for (int lWait = 0; lWait < 100 && lSink.mReady < int(lTaken.size()); ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(lSink.mReady, int(lTaken.size()));
    EXPECT_NE(lSink.mReadyThread, std::this_thread::get_id());
    // The buffers shrank from the default to what the blocks need.
    EXPECT_EQ(lPipeline.GetBufferSize(), kWidth * kHeight);
    EXPECT_EQ(lPipeline.ReleaseBuffer(lBuffer).GetCode(), TN_INVALID_PARAMETER); // not retrieved
    TnBuffer lForeign;
    EXPECT_EQ(lPipeline.ReleaseBuffer(&lForeign).GetCode(), TN_INVALID_PARAMETER);

    // A reset takes every buffer back and queues them again; frames go on.
    EXPECT_TRUE(lPipeline.Reset().IsOK());
    EXPECT_EQ(lSink.mResets, 1);
    EXPECT_FALSE(Deliver(lPipeline, 5).empty());

    // More and fewer buffers while running.
    EXPECT_TRUE(lPipeline.SetBufferCount(12).IsOK());
    EXPECT_EQ(lSink.mCreated, 12);
    EXPECT_TRUE(lPipeline.SetBufferCount(6).IsOK());
    EXPECT_EQ(lSink.mDeleted, 6);
    EXPECT_TRUE(lPipeline.IsStarted());
    EXPECT_FALSE(Deliver(lPipeline, 5).empty());

    EXPECT_TRUE(lPipeline.Stop().IsOK());
    EXPECT_FALSE(lPipeline.IsStarted());
    EXPECT_EQ(lSink.mStops, 1);
    EXPECT_EQ(lSink.mStopThread, std::this_thread::get_id());
    EXPECT_EQ(mStream->GetQueuedBufferCount(), 0u); // every buffer came home
    EXPECT_TRUE(lPipeline.Stop().IsOK());
    EXPECT_EQ(lSink.mStops, 1);
    EXPECT_TRUE(lPipeline.UnregisterEventSink(&lSink).IsOK());
    EXPECT_EQ(lPipeline.UnregisterEventSink(&lSink).GetCode(), TN_NOT_FOUND);
}

TEST_F(PipelineTest, UnreleasedBuffersAreDroppedAndCounted)
{
    TnPipeline lPipeline(mStream.get());
    ASSERT_TRUE(lPipeline.SetBufferCount(8).IsOK());
    ASSERT_TRUE(lPipeline.Start().IsOK());
    mFrames.Send(mSender, 20);
    ASSERT_TRUE(mSender.WaitIdle(5000).IsOK());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // 8 buffers, at least 4 kept in the stream: 4 wait, the rest were dropped.
    EXPECT_EQ(lPipeline.GetOutputQueueSize(), 4u);
    EXPECT_EQ(Dropped(), 16);
    EXPECT_GE(mStream->GetQueuedBufferCount(), 4u);
    // The newest frames wait, oldest first.
    TnBuffer *lBuffer = nullptr;
    ASSERT_TRUE(lPipeline.RetrieveNextBuffer(&lBuffer, 0).IsOK());
    EXPECT_EQ(lBuffer->GetBlockID(), 17u);
    EXPECT_TRUE(lPipeline.ReleaseBuffer(lBuffer).IsOK());
    // Buffers still retrieved when the pipeline stops stay with the program.
    ASSERT_TRUE(lPipeline.RetrieveNextBuffer(&lBuffer, 0).IsOK());
    EXPECT_TRUE(lPipeline.Stop().IsOK());
    EXPECT_EQ(lPipeline.GetOutputQueueSize(), 2u);
    EXPECT_TRUE(lPipeline.ReleaseBuffer(lBuffer).IsOK());
}

TEST_F(PipelineTest, BuffersTooSmallAreReallocatedAfterTheSinkWasAsked)
{
    const uint32_t lBig = 1600;
    TestFrames lLarge(lBig, 1000, 4); // 1.6 MB: more than the default 1 MiB
    mSender.Close();
    ASSERT_TRUE(mSender.Open(kLoopback, mStream->GetLocalPort(), FaultySenderConfig(0, 0, 0), &lLarge).IsOK());
    struct Closer
    {
        gev::TnGvspSender &mSender;
        ~Closer() { mSender.Close(); }
    } lCloser{mSender};
    mSender.SetMaxBytesPerSecond(50e6);
    TnPipeline lPipeline(mStream.get());
    RecordingSink lSink;
    lPipeline.RegisterEventSink(&lSink);
    ASSERT_TRUE(lPipeline.SetBufferCount(4).IsOK());
    ASSERT_TRUE(lPipeline.Start().IsOK());
    lLarge.Send(mSender, 2);
    ASSERT_TRUE(mSender.WaitIdle(5000).IsOK());
    // Until the pipeline reallocated its buffers and queued them again.
    for (int lWait = 0; lWait < 1000 && (lSink.mTooSmall == 0 || mStream->GetQueuedBufferCount() < 4); ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(lSink.mTooSmall, 1);
    EXPECT_EQ(lPipeline.GetBufferSize(), lBig * 1000);
    const std::vector<uint64_t> lSent = lLarge.Send(mSender, 3);
    // Nothing too small is handed out. The second of the first blocks may
    // have come whole, into a buffer already reallocated for the first.
    for (size_t lTaken = 0; lTaken < lSent.size();)
    {
        TnBuffer *lBuffer = nullptr;
        TnResult lOperation;
        ASSERT_TRUE(lPipeline.RetrieveNextBuffer(&lBuffer, 10000, &lOperation).IsOK());
        EXPECT_TRUE(lOperation.IsOK());
        EXPECT_TRUE(HoldsPattern(*lBuffer, lBig));
        if (lBuffer->GetBlockID() >= lSent.front())
        {
            EXPECT_EQ(lBuffer->GetBlockID(), lSent[lTaken++]);
        }
        lPipeline.ReleaseBuffer(lBuffer);
    }

    // Without the handling, such buffers are handed out like any other.
    lPipeline.Stop();
    lPipeline.SetBufferSize(1000);
    lPipeline.SetHandleBufferTooSmall(false);
    EXPECT_FALSE(lPipeline.GetHandleBufferTooSmall());
    TnPipeline lSmall(mStream.get());
    lSmall.SetHandleBufferTooSmall(false);
    lSmall.SetBufferSize(1000);
    ASSERT_TRUE(lSmall.Start().IsOK());
    lLarge.Send(mSender, 1);
    TnBuffer *lBuffer = nullptr;
    TnResult lOperation;
    ASSERT_TRUE(lSmall.RetrieveNextBuffer(&lBuffer, 10000, &lOperation).IsOK());
    EXPECT_EQ(lOperation.GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(lBuffer->GetRequiredSize(), lBig * 1000);
}

TEST_F(PipelineTest, SinksMayStopResetAndTearDownFromInsideACall)
{
    // Stop from OnBufferReady, on the pipeline's own thread.
    {
        TnPipeline lPipeline(mStream.get());
        RecordingSink lSink;
        lSink.mOnReady = [](TnPipeline *aPipeline) { EXPECT_TRUE(aPipeline->Stop().IsOK()); };
        lPipeline.RegisterEventSink(&lSink);
        ASSERT_TRUE(lPipeline.Start().IsOK());
        mFrames.Send(mSender, 3);
        for (int lWait = 0; lWait < 1000 && lPipeline.IsStarted(); ++lWait)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_FALSE(lPipeline.IsStarted());
        EXPECT_EQ(lSink.mStops, 1);
        EXPECT_EQ(lSink.mStopThread, lSink.mReadyThread);
        ASSERT_TRUE(lPipeline.Start().IsOK()); // and it starts again
        lSink.mOnReady = nullptr;
        EXPECT_EQ(Deliver(lPipeline, 1).size(), 1u);
    }
    // Reset and more buffers from inside, then the pipeline destroyed from inside.
    {
        TnPipeline *lPipeline = new TnPipeline(mStream.get());
        RecordingSink lSink;
        std::atomic<int> lCalls{0};
        lSink.mOnReady = [&](TnPipeline *aPipeline) {
            const int lCall = ++lCalls;
            if (lCall == 1)
            {
                EXPECT_TRUE(aPipeline->Reset().IsOK());
                EXPECT_TRUE(aPipeline->SetBufferCount(20).IsOK());
            }
            else if (lCall == 3)
            {
                delete aPipeline;
            }
        };
        lPipeline->RegisterEventSink(&lSink);
        ASSERT_TRUE(lPipeline->Start().IsOK());
        mFrames.Send(mSender, 10);
        for (int lWait = 0; lWait < 1000 && lCalls < 3; ++lWait)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(lCalls, 3);
        EXPECT_EQ(lSink.mResets, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(lCalls, 3); // no call after the pipeline went
    }
    // A sink that throws: logged, the pipeline runs on.
    {
        TnPipeline lPipeline(mStream.get());
        ThrowingSink lSink;
        lPipeline.RegisterEventSink(&lSink);
        EXPECT_TRUE(lPipeline.Start().IsOK());
        EXPECT_EQ(lSink.mCalls, 0);
        const size_t lTaken = Deliver(lPipeline, 2).size();
        // A buffer can be taken before its OnBufferReady call has run.
        for (int lWait = 0; lWait < 100 && size_t(lSink.mCalls) < lTaken; ++lWait)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(lTaken, size_t(lSink.mCalls));
    }
    // A sink destroyed while registered (and not called) is not called again.
    {
        TnPipeline lPipeline(mStream.get());
        std::unique_ptr<RecordingSink> lSink(new RecordingSink());
        lPipeline.RegisterEventSink(lSink.get());
        lSink.reset();
        EXPECT_TRUE(lPipeline.Start().IsOK());
        EXPECT_FALSE(Deliver(lPipeline, 2).empty());
        EXPECT_EQ(lPipeline.UnregisterEventSink(reinterpret_cast<TnPipelineEventSink *>(16)).GetCode(), TN_NOT_FOUND);
    }
}

TEST_F(PipelineTest, StreamsAndPipelinesEndInEitherOrder)
{
    // The stream closes under a running pipeline: the pipeline stops.
    TnPipeline lPipeline(mStream.get());
    RecordingSink lSink;
    lPipeline.RegisterEventSink(&lSink);
    ASSERT_TRUE(lPipeline.Start().IsOK());
    EXPECT_FALSE(Deliver(lPipeline, 3).empty());
    EXPECT_TRUE(mStream->Close().IsOK());
    EXPECT_FALSE(lPipeline.IsStarted());
    EXPECT_EQ(lSink.mStops, 1);
    EXPECT_EQ(lPipeline.Start().GetCode(), TN_NOT_CONNECTED);
    ASSERT_TRUE(mStream->Open(TnString("127.0.0.1")).IsOK());
    ASSERT_TRUE(lPipeline.Start().IsOK());

    // The stream goes under a running pipeline: detached, and it says so.
    mStream.reset();
    EXPECT_FALSE(lPipeline.IsStarted());
    TnBuffer *lBuffer = nullptr;
    EXPECT_EQ(lPipeline.RetrieveNextBuffer(&lBuffer, 0).GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(lPipeline.Start().GetCode(), TN_NOT_CONNECTED);
    EXPECT_TRUE(lPipeline.Stop().IsOK());
    EXPECT_TRUE(lPipeline.SetBufferCount(2).IsOK());

    // A stream destroyed from a sink of its own pipeline.
    std::atomic<TnStreamGEV *> lStream{new TnStreamGEV()};
    ASSERT_TRUE(lStream.load()->Open(TnString("127.0.0.1")).IsOK());
    mSender.Close();
    ASSERT_TRUE(mSender.Open(kLoopback, lStream.load()->GetLocalPort(), FaultySenderConfig(0, 0, 0), &mFrames).IsOK());
    TnPipeline lOther(lStream.load());
    RecordingSink lDeleting;
    // The pointer clears once the stream is gone, so that the test looks at the
    // pipeline only after the stream has let go of it.
    lDeleting.mOnReady = [&](TnPipeline *) {
        if (TnStreamGEV *lGoing = lStream.load())
        {
            delete lGoing;
            lStream = nullptr;
        }
    };
    lOther.RegisterEventSink(&lDeleting);
    ASSERT_TRUE(lOther.Start().IsOK());
    mFrames.Send(mSender, 2);
    for (int lWait = 0; lWait < 1000 && lStream != nullptr; ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(lStream, nullptr);
    EXPECT_FALSE(lOther.IsStarted());
    EXPECT_EQ(lOther.Start().GetCode(), TN_NOT_CONNECTED);
}
