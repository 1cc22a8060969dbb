#include "TnStreamCore.h"

#include <string.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include <sched.h>

#include "TnBufferInternal.h"
#include "TnStreamLog.h"
#include "TnText.h"
#include "TnWait.h"

namespace tn
{
namespace stream
{
namespace
{
// How long a waiter that was told of a block about to complete watches for
// it before it sleeps again.
constexpr uint64_t kWatchUs = 200;
} // namespace

Engine::~Engine() = default;
PipelineLink::~PipelineLink() = default;

uint64_t NowUs()
{
    timespec lNow;
    clock_gettime(CLOCK_MONOTONIC, &lNow);
    return static_cast<uint64_t>(lNow.tv_sec) * 1000000u + static_cast<uint64_t>(lNow.tv_nsec) / 1000u;
}

std::mutex &LinkMutex()
{
    static std::mutex *sMutex = new std::mutex(); // outlives every stream and pipeline thread
    return *sMutex;
}

StreamCore::StreamCore()
    : mStream(nullptr), mOpen(false), mChannel(0), mPipelineDrops(0), mEngine(nullptr), mCapacity(0), mClosing(false),
      mAborting(0)
{
}

StreamCore::~StreamCore() = default;

void StreamCore::SetOpen(uint32_t aCapacity, uint16_t aChannel, Engine *aEngine)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mCapacity = aCapacity;
    mChannel = aChannel;
    mEngine = aEngine;
    mOpen = true;
}

TnResult StreamCore::CloseStream()
{
    if (!BeginClose())
    {
        return TnResult(TN_NOT_CONNECTED, TnString("Close: the stream is not open"));
    }
    StopReceiver();
    EndClose();
    return TnResult(TN_OK);
}

void StreamCore::Shutdown()
{
    if (IsInherited())
    {
        return; // the parent's stream: its threads and buffers stay as they are
    }
    CloseStream();
    DetachPipelines();
    // The buffers still here are forgotten: they no longer tell this stream
    // when they go.
    buffer::ForgetHolder(this, [this](std::vector<TnBuffer *> &aHeld) {
        std::lock_guard<std::mutex> lLock(mMutex);
        for (const std::deque<Entry> *lList : {&mWaiting, &mDone})
        {
            for (const Entry &lEntry : *lList)
            {
                aHeld.push_back(lEntry.mBuffer);
            }
        }
        for (const Entry &lEntry : mInFlight)
        {
            aHeld.push_back(lEntry.mBuffer);
        }
    });
}

bool StreamCore::Yield(TnBuffer &)
{
    return IsInherited(); // no thread of this process writes into it
}

void StreamCore::Release(TnBuffer &aBuffer)
{
    if (IsInherited())
    {
        return; // no thread of this process writes into it
    }
    std::unique_lock<std::mutex> lLock(mMutex);
    mPrepared.wait(lLock, [&] { return std::find(mPreparing.begin(), mPreparing.end(), &aBuffer) == mPreparing.end(); });
    auto lIs = [&aBuffer](const Entry &aEntry) { return aEntry.mBuffer == &aBuffer; };
    auto lWaiting = std::find_if(mWaiting.begin(), mWaiting.end(), lIs);
    if (lWaiting != mWaiting.end())
    {
        mWaiting.erase(lWaiting);
        return;
    }
    if (std::any_of(mInFlight.begin(), mInFlight.end(), lIs))
    {
        // The receiver writes into it: its block ends first.
        ++mAborting;
        Engine *lEngine = mEngine;
        lLock.unlock();
        if (lEngine != nullptr)
        {
            lEngine->AbortBlocks();
        }
        lLock.lock();
        --mAborting;
        auto lInFlight = std::find_if(mInFlight.begin(), mInFlight.end(), lIs);
        if (lInFlight != mInFlight.end())
        {
            mInFlight.erase(lInFlight); // no receiver gave it back: it has stopped
        }
    }
    auto lDone = std::find_if(mDone.begin(), mDone.end(), lIs);
    if (lDone != mDone.end())
    {
        mDone.erase(lDone);
    }
    lLock.unlock();
    mDoneChanged.notify_all(); // retrievals waiting for it look again
}

void StreamCore::StopReceiver()
{
}

bool StreamCore::BeginClose()
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (!mOpen.load() || mClosing)
        {
            return false;
        }
        mClosing = true;
    }
    // The pipelines take their buffers back while the stream still runs.
    StopPipelines();
    return true;
}

void StreamCore::EndClose()
{
    std::vector<TnBuffer *> lEnded;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        // The receiver has stopped: whatever it did not give back is aborted.
        for (const Entry &lEntry : mInFlight)
        {
            EndUnused(lEntry.mBuffer, TN_ABORTED);
            mDone.push_back(lEntry);
            lEnded.push_back(lEntry.mBuffer);
        }
        mInFlight.clear();
        for (const Entry &lEntry : mWaiting)
        {
            EndUnused(lEntry.mBuffer, TN_ABORTED);
            mDone.push_back(lEntry);
            lEnded.push_back(lEntry.mBuffer);
        }
        mWaiting.clear();
        CountDone();
        mEngine = nullptr;
        mOpen = false;
        mClosing = false;
    }
    mDoneChanged.notify_all();
    for (TnBuffer *lBuffer : lEnded)
    {
        NotifyReady(lBuffer);
    }
    mSinks.ForEach([this](TnStreamEventSink *aSink) { aSink->OnClose(mStream); },
                   [](TnStreamEventSink *, std::exception_ptr aError) {
                       LogWarning(std::string("a stream event sink failed in OnClose: ") + DescribeException(aError));
                   });
}

bool StreamCore::TakesPipelines() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mOpen.load() && !mClosing;
}

void StreamCore::StopPipelines()
{
    std::vector<std::shared_ptr<PipelineLink>> lLinks;
    {
        std::lock_guard<std::mutex> lLock(LinkMutex());
        lLinks = mPipelines;
    }
    for (const std::shared_ptr<PipelineLink> &lLink : lLinks)
    {
        lLink->OnStreamClosing();
    }
}

void StreamCore::DetachPipelines()
{
    std::vector<std::shared_ptr<PipelineLink>> lLinks;
    {
        std::lock_guard<std::mutex> lLock(LinkMutex());
        lLinks.swap(mPipelines);
    }
    // Outside the lock: each waits until its threads no longer use the
    // stream (one of them may be leaving the list meanwhile), and the links
    // may end here.
    for (const std::shared_ptr<PipelineLink> &lLink : lLinks)
    {
        lLink->OnStreamGone();
    }
}

void StreamCore::AddPipeline(const std::shared_ptr<PipelineLink> &aLink)
{
    std::lock_guard<std::mutex> lLock(LinkMutex());
    mPipelines.push_back(aLink);
}

void StreamCore::RemovePipeline(PipelineLink *aLink)
{
    std::shared_ptr<PipelineLink> lGone;
    std::lock_guard<std::mutex> lLock(LinkMutex());
    for (auto lIt = mPipelines.begin(); lIt != mPipelines.end(); ++lIt)
    {
        if (lIt->get() == aLink)
        {
            lGone = *lIt;
            mPipelines.erase(lIt);
            break;
        }
    }
    // lGone is released after the lock, declared before it.
}

void StreamCore::EndUnused(TnBuffer *aBuffer, uint32_t aCode)
{
    buffer::BeginBlock(*aBuffer, aBuffer->GetPayloadType());
    buffer::BlockEnd lEnd;
    lEnd.mOperationResult = TnResult(aCode);
    buffer::EndBlock(*aBuffer, lEnd);
    aBuffer->SetReceptionTime(NowUs());
}

TnResult StreamCore::Queue(TnBuffer *aBuffer, const void *aOwner)
{
    if (aBuffer == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("QueueBuffer: no buffer"));
    }
    if (aBuffer->GetDataPointer() == nullptr || aBuffer->GetSize() == 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("QueueBuffer: the buffer has no memory"));
    }
    // The stream holds the buffer from now on; one held already is queued
    // here or to another stream.
    uint64_t lHolding = 0;
    if (!buffer::SetHolder(*aBuffer, this, nullptr, &lHolding))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("QueueBuffer: the buffer is queued already"));
    }
    TnResult lResult(TN_PENDING);
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        if (!mOpen.load() || mClosing)
        {
            lResult = TnResult(TN_NOT_CONNECTED, TnString("QueueBuffer: the stream is not open"));
        }
        else if (mWaiting.size() + mInFlight.size() + mDone.size() >= mCapacity)
        {
            lResult =
                TnResult(TN_NO_MORE_ENTRY, TnString("QueueBuffer: as many buffers as the stream takes are queued"));
        }
        else
        {
            mWaiting.push_back(Entry{aBuffer, aOwner, lHolding});
            PrepareAhead(lLock);
        }
    }
    if (lResult.GetCode() != TN_PENDING)
    {
        buffer::EndHolding(*aBuffer, this, lHolding);
    }
    else
    {
        OnQueued();
    }
    return lResult;
}

TnResult StreamCore::Retrieve(TnBuffer **aBuffer, TnResult *aOperationResult, uint32_t aTimeoutMs, const void *aOwner,
                              bool aAnyOwner, const std::atomic<bool> *aCancel)
{
    if (aBuffer == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("RetrieveBuffer: no place for the buffer"));
    }
    *aBuffer = nullptr;
    const auto lDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    auto lMine = [aOwner, aAnyOwner](const Entry &aEntry) { return aAnyOwner || aEntry.mOwner == aOwner; };
    uint64_t lWatched = 0; // the last anticipation watched for
    std::unique_lock<std::mutex> lLock(mMutex);
    for (;;)
    {
        auto lFound = std::find_if(mDone.begin(), mDone.end(), lMine);
        if (lFound != mDone.end())
        {
            TnBuffer *lBuffer = lFound->mBuffer;
            const uint64_t lHolding = lFound->mHolding;
            // Read while the stream still holds it: once let go, the
            // program may queue it again (a receiver then writes its result)
            // or change its memory.
            if (aOperationResult != nullptr)
            {
                *aOperationResult = lBuffer->GetOperationResult();
            }
            mDone.erase(lFound);
            PrepareAhead(lLock);
            lLock.unlock();
            // Freed and queued again meanwhile, it stays held.
            buffer::EndHolding(*lBuffer, this, lHolding);
            *aBuffer = lBuffer;
            return TnResult(TN_OK);
        }
        if (aCancel != nullptr && aCancel->load())
        {
            return TnResult(TN_ABORTED);
        }
        const bool lPending = std::any_of(mWaiting.begin(), mWaiting.end(), lMine) ||
                              std::any_of(mInFlight.begin(), mInFlight.end(), lMine);
        if (!lPending)
        {
            if (!mOpen.load())
            {
                return TnResult(TN_NOT_CONNECTED, TnString("RetrieveBuffer: the stream is not open"));
            }
            return TnResult(TN_NO_MORE_ITEM, TnString("RetrieveBuffer: no buffer is queued"));
        }
        const uint64_t lAnticipated = mAnticipations.load();
        if (aTimeoutMs != 0 && lAnticipated > mResolved.load() && lAnticipated != lWatched)
        {
            // A block is about to complete: watch for it without sleeping.
            lWatched = lAnticipated;
            const uint64_t lCompletions = mCompletions.load();
            ++mWatchers;
            lLock.unlock();
            const uint64_t lUntil = NowUs() + kWatchUs;
            while (mCompletions.load(std::memory_order_acquire) == lCompletions && NowUs() < lUntil &&
                   (aCancel == nullptr || !aCancel->load(std::memory_order_relaxed)))
            {
                sched_yield();
            }
            --mWatchers;
            lLock.lock();
            continue;
        }
        // With an interrupt scope the sleep ends at least once a slice, and
        // the host is asked: an interrupted retrieval takes nothing, so that
        // a buffer done meanwhile waits for the next.
        const uint32_t lSlice = InterruptSliceMs();
        const auto lNow = std::chrono::steady_clock::now();
        const auto lUntil =
            lSlice != 0 && lDeadline - lNow > std::chrono::milliseconds(lSlice) ? lNow + std::chrono::milliseconds(lSlice)
                                                                               : lDeadline;
        ++mWaiters;
        const bool lSlept = aTimeoutMs == 0 || mDoneChanged.wait_until(lLock, lUntil) == std::cv_status::timeout;
        --mWaiters;
        if (lSlept && aTimeoutMs != 0 && lUntil != lDeadline)
        {
            lLock.unlock();
            const bool lInterrupted = AskInterrupt();
            lLock.lock();
            if (lInterrupted)
            {
                return TnResult(TN_ABORTED, TnString("RetrieveBuffer: interrupted"));
            }
            continue;
        }
        if (lSlept && std::none_of(mDone.begin(), mDone.end(), lMine))
        {
            lLock.unlock();
            return TimedOut("RetrieveBuffer", aTimeoutMs);
        }
    }
}

TnResult StreamCore::TimedOut(const char *aCall, uint32_t aTimeoutMs)
{
    // A poll (no wait) that finds nothing done has nothing to explain.
    if (aTimeoutMs == 0)
    {
        return TnResult(TN_TIMEOUT);
    }
    std::string lText = std::string(aCall) + ": no buffer was done within " + std::to_string(aTimeoutMs) + " ms";
    const std::string lSilence = DescribeSilence();
    if (!lSilence.empty())
    {
        lText += "; " + lSilence;
    }
    return tn::Failure(TN_TIMEOUT, lText);
}

void StreamCore::Anticipate()
{
    ++mAnticipations;
    if (mWaiters.load() != 0)
    {
        {
            std::lock_guard<std::mutex> lLock(mMutex);
        }
        mDoneChanged.notify_all();
    }
}

void StreamCore::CountDone()
{
    mResolved = mAnticipations.load();
    mCompletions.fetch_add(1, std::memory_order_release);
}

void StreamCore::Wake()
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
    }
    mDoneChanged.notify_all();
}

TnResult StreamCore::Abort()
{
    Engine *lEngine = nullptr;
    std::vector<TnBuffer *> lEnded;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (!mOpen.load())
        {
            return TnResult(TN_NOT_CONNECTED, TnString("AbortQueuedBuffers: the stream is not open"));
        }
        ++mAborting;
        for (const Entry &lEntry : mWaiting)
        {
            EndUnused(lEntry.mBuffer, TN_ABORTED);
            mDone.push_back(lEntry);
            lEnded.push_back(lEntry.mBuffer);
        }
        mWaiting.clear();
        CountDone();
        lEngine = mEngine;
    }
    mDoneChanged.notify_all();
    if (lEngine != nullptr)
    {
        lEngine->AbortBlocks();
    }
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        --mAborting;
    }
    for (TnBuffer *lBuffer : lEnded)
    {
        NotifyReady(lBuffer);
    }
    return TnResult(TN_OK);
}

uint32_t StreamCore::GetQueuedCount() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return static_cast<uint32_t>(mWaiting.size() + mInFlight.size() + mDone.size());
}

uint32_t StreamCore::GetQueuedCount(const void *aOwner) const
{
    auto lMine = [aOwner](const Entry &aEntry) { return aEntry.mOwner == aOwner; };
    std::lock_guard<std::mutex> lLock(mMutex);
    return static_cast<uint32_t>(std::count_if(mWaiting.begin(), mWaiting.end(), lMine) +
                                 std::count_if(mInFlight.begin(), mInFlight.end(), lMine) +
                                 std::count_if(mDone.begin(), mDone.end(), lMine));
}

uint32_t StreamCore::GetCapacity() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mCapacity;
}

void StreamCore::PrepareAhead(std::unique_lock<std::mutex> &aLock)
{
    // The buffers the receiver fills next, up to a quarter of a second of
    // 10 Gb/s: their memory is faulted in just before it is written (on this
    // thread, not the receiver's), never that of buffers waiting far behind.
    // A buffer larger than that is faulted in as far as it reaches; the
    // receiver faults in the rest as it writes.
    constexpr uint64_t kAheadBytes = 256u << 20;
    std::vector<std::pair<TnBuffer *, uint64_t>> lPick;
    uint64_t lAhead = 0;
    for (size_t lIndex = 0; lIndex < mWaiting.size() && lAhead < kAheadBytes; ++lIndex)
    {
        TnBuffer *lBuffer = mWaiting[lIndex].mBuffer;
        const uint64_t lLength = std::min<uint64_t>(lBuffer->GetSize(), kAheadBytes - lAhead);
        lAhead += lLength;
        if (!buffer::IsPreparedForWriting(*lBuffer) &&
            std::find(mPreparing.begin(), mPreparing.end(), lBuffer) == mPreparing.end())
        {
            lPick.emplace_back(lBuffer, lLength);
            mPreparing.push_back(lBuffer);
        }
    }
    if (lPick.empty())
    {
        return;
    }
    // A buffer that leaves the stream meanwhile (Release) waits for this.
    aLock.unlock();
    for (const auto &lBuffer : lPick)
    {
        buffer::PrepareForWriting(*lBuffer.first, lBuffer.second);
    }
    aLock.lock();
    for (const auto &lBuffer : lPick)
    {
        mPreparing.erase(std::find(mPreparing.begin(), mPreparing.end(), lBuffer.first));
    }
    mPrepared.notify_all();
}

TnBuffer *StreamCore::Take()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mAborting != 0 || mClosing || mWaiting.empty())
    {
        return nullptr;
    }
    const Entry lEntry = mWaiting.front();
    mWaiting.pop_front();
    mInFlight.push_back(lEntry);
    return lEntry.mBuffer;
}

void StreamCore::Complete(TnBuffer *aBuffer)
{
    bool lAwaited;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        auto lFound = std::find_if(mInFlight.begin(), mInFlight.end(),
                                   [aBuffer](const Entry &aEntry) { return aEntry.mBuffer == aBuffer; });
        if (lFound == mInFlight.end())
        {
            return;
        }
        mDone.push_back(*lFound);
        mInFlight.erase(lFound);
        CountDone();
        lAwaited = mWaiters.load() != 0 || mWatchers.load() != 0;
    }
    mDoneChanged.notify_all();
    if (lAwaited)
    {
        // A thread waits for it: where it shares this thread's processor,
        // it runs now rather than when this thread next sleeps.
        sched_yield();
    }
    NotifyReady(aBuffer);
}

void StreamCore::Return(TnBuffer *aBuffer)
{
    bool lEnded = false;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        auto lFound = std::find_if(mInFlight.begin(), mInFlight.end(),
                                   [aBuffer](const Entry &aEntry) { return aEntry.mBuffer == aBuffer; });
        if (lFound == mInFlight.end())
        {
            return;
        }
        const Entry lEntry = *lFound;
        mInFlight.erase(lFound);
        if (mAborting != 0 || mClosing)
        {
            EndUnused(aBuffer, TN_ABORTED);
            mDone.push_back(lEntry);
            CountDone();
            lEnded = true;
        }
        else
        {
            mWaiting.push_front(lEntry);
        }
    }
    if (lEnded)
    {
        mDoneChanged.notify_all();
        NotifyReady(aBuffer);
    }
}

void StreamCore::NotifyReady(TnBuffer *aBuffer)
{
    mSinks.ForEach([this, aBuffer](TnStreamEventSink *aSink) { aSink->OnBufferReady(mStream, aBuffer); },
                   [](TnStreamEventSink *, std::exception_ptr aError) {
                       LogWarning(std::string("a stream event sink failed in OnBufferReady: ") +
                                  DescribeException(aError));
                   });
}

TnResult StreamCore::RegisterEventSink(TnStreamEventSink *aSink)
{
    if (aSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("RegisterEventSink: no sink"));
    }
    if (!mSinks.Add(aSink))
    {
        return tn::Failure(kSinkRegisteredTwice, "RegisterEventSink: the sink is registered already");
    }
    return TnResult(TN_OK);
}

TnResult StreamCore::UnregisterEventSink(TnStreamEventSink *aSink)
{
    if (aSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("UnregisterEventSink: no sink"));
    }
    if (!mSinks.Remove(aSink))
    {
        return TnResult(TN_NOT_FOUND, TnString("UnregisterEventSink: the sink is not registered"));
    }
    return TnResult(TN_OK);
}

void StreamCore::ResetStatistics()
{
    mPipelineDrops = 0;
    ResetReceiverStatistics();
}

void StreamCore::ResetReceiverStatistics()
{
}

void StreamCore::OnQueued()
{
}

std::shared_ptr<genicam::IPort> NewParameterPort(StreamCore &aCore, uint32_t aImageSize, uint32_t aSettingsBegin,
                                                 uint32_t aSettingsEnd, uint32_t aReset,
                                                 genicam::SettingsImagePort::Render aRender,
                                                 genicam::SettingsImagePort::WriteRule aWrite)
{
    genicam::SettingsImagePort::Layout lLayout = {aImageSize,
                                                  aSettingsBegin,
                                                  aSettingsEnd,
                                                  {aReset},
                                                  "no stream parameter lies there",
                                                  "stream settings are written one 32-bit value at a time"};
    auto lReset = [&aCore](uint32_t, uint32_t aValue) {
        if (aValue != 0)
        {
            aCore.ResetStatistics();
        }
    };
    return std::make_shared<genicam::SettingsImagePort>(std::move(lLayout), std::move(aRender), std::move(aWrite),
                                                        lReset);
}
} // namespace stream
} // namespace tn
