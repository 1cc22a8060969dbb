#include "TnPipeline.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <new>
#include <string>

#include "TnBufferInternal.h"
#include "TnMemory.h"
#include "TnPipelineState.h"
#include "TnStreamLog.h"
#include "TnThreads.h"
#include "TnWait.h"

namespace tn
{
namespace stream
{
namespace
{
constexpr uint32_t kDefaultBufferCount = 16;
constexpr uint32_t kDefaultBufferSize = 1u << 20;
constexpr uint32_t kMaxPriority = 99;
// How long the thread waits for the stream at a time; a stop or a reset
// wakes it earlier.
constexpr uint32_t kWaitSliceMs = 200;

// Sinks and the pipelines they are registered with (guarded by the link
// lock; never destroyed, as sinks may go at exit).
std::map<TnPipelineEventSink *, std::vector<std::weak_ptr<PipelineShared>>> &SinkNotes()
{
    static auto *sNotes = new std::map<TnPipelineEventSink *, std::vector<std::weak_ptr<PipelineShared>>>();
    return *sNotes;
}

// The buffers of the pool a pipeline keeps in the stream at least: half the
// pool, at most 4. Filled buffers waiting to be retrieved that would leave
// fewer are dropped.
uint32_t MinAvailable(uint32_t aCount)
{
    return std::min<uint32_t>(4, aCount / 2);
}

} // namespace

void NoteSink(TnPipelineEventSink *aSink, const std::shared_ptr<PipelineShared> &aPipeline)
{
    std::lock_guard<std::mutex> lLock(LinkMutex());
    SinkNotes()[aSink].push_back(aPipeline);
}

void ForgetSinkNote(TnPipelineEventSink *aSink, const PipelineShared *aPipeline)
{
    std::lock_guard<std::mutex> lLock(LinkMutex());
    auto lFound = SinkNotes().find(aSink);
    if (lFound == SinkNotes().end())
    {
        return;
    }
    auto &lList = lFound->second;
    lList.erase(std::remove_if(lList.begin(), lList.end(),
                               [aPipeline](const std::weak_ptr<PipelineShared> &aEntry) {
                                   std::shared_ptr<PipelineShared> lEntry = aEntry.lock();
                                   return !lEntry || lEntry.get() == aPipeline;
                               }),
                lList.end());
    if (lList.empty())
    {
        SinkNotes().erase(lFound);
    }
}

// A pipeline over a stream inherited across a fork is the parent's too.
PipelineShared::PipelineShared(TnPipeline *aOwner, TnStream *aStream)
    : ProcessOwner(aStream != nullptr ? ProcessOwner(*aStream->GetCore()) : ProcessOwner()), mOwner(aOwner), mStream(aStream), mCount(kDefaultBufferCount), mBufferSize(0), mRefusedSize(0),
      mHandleTooSmall(true),
      mPriority(0), mRunning(false), mStopRequested(false), mSelfStop(false), mResetRequested(false),
      mResetPending(false), mCountChanged(false), mBusy(false)
{
}

PipelineShared::~PipelineShared()
{
    if (mThread.joinable())
    {
        mThread.detach(); // only when the last holder is the thread itself
    }
}

void PipelineShared::Attach()
{
    if (mStream != nullptr && !IsInherited())
    {
        mStream->GetCore()->AddPipeline(shared_from_this());
    }
}

template <typename Call> void PipelineShared::Notify(const char *aWhat, Call aCall)
{
    TnPipeline *lOwner;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lOwner = mOwner;
    }
    if (lOwner == nullptr)
    {
        return;
    }
    mSinks.ForEach([&](TnPipelineEventSink *aSink) { aCall(aSink, lOwner); },
                   [aWhat](TnPipelineEventSink *, std::exception_ptr aError) {
                       LogWarning(std::string("a pipeline event sink failed in ") + aWhat + ": " +
                                  DescribeException(aError));
                   });
}

bool PipelineShared::OnOwnThread() const
{
    const std::thread::id lThread = mThreadId.load();
    return lThread != std::thread::id() && std::this_thread::get_id() == lThread;
}

bool PipelineShared::BeginControl()
{
    const std::thread::id lSelf = std::this_thread::get_id();
    std::unique_lock<std::mutex> lLock(mMutex);
    if (mBusy && mBusyThread == lSelf)
    {
        return false;
    }
    mControlDone.wait(lLock, [this] { return !mBusy; });
    mBusy = true;
    mBusyThread = lSelf;
    return true;
}

bool PipelineShared::BeginControlUnlessInterrupted(bool &aTurn)
{
    const std::thread::id lSelf = std::this_thread::get_id();
    std::unique_lock<std::mutex> lLock(mMutex);
    aTurn = false;
    if (mBusy && mBusyThread == lSelf)
    {
        return true;
    }
    if (!tn::Wait(mControlDone, lLock, [this] { return !mBusy; }))
    {
        return false;
    }
    mBusy = true;
    mBusyThread = lSelf;
    aTurn = true;
    return true;
}

void PipelineShared::EndControl()
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mBusy = false;
        mBusyThread = std::thread::id();
    }
    mControlDone.notify_all();
}

PipelineShared::Slot *PipelineShared::Find(const TnBuffer *aBuffer)
{
    for (Slot &lSlot : mSlots)
    {
        if (lSlot.mBuffer.get() == aBuffer)
        {
            return &lSlot;
        }
    }
    return nullptr;
}

uint32_t PipelineShared::CountIn(Place aPlace) const
{
    return static_cast<uint32_t>(
        std::count_if(mSlots.begin(), mSlots.end(), [aPlace](const Slot &aSlot) { return aSlot.mPlace == aPlace; }));
}

uint32_t PipelineShared::TargetSize() const
{
    return mBufferSize != 0 ? mBufferSize : kDefaultBufferSize;
}

TnResult PipelineShared::PoolFits(const char *aCall)
{
    const uint32_t lTarget = TargetSize();
    if (MemoryFits(mCount, lTarget))
    {
        return TnResult(TN_OK);
    }
    mRefusedSize = lTarget;
    return NotEnoughMemory(std::string(aCall) + ": the pipeline's buffers", mCount, lTarget);
}

bool PipelineShared::WrongSize(const TnBuffer &aBuffer) const
{
    const uint64_t lSize = aBuffer.GetSize();
    const uint64_t lTarget = TargetSize();
    return aBuffer.GetDataPointer() == nullptr || lSize < lTarget || lSize > 4 * lTarget;
}

bool PipelineShared::NeedsSize(const TnBuffer &aBuffer) const
{
    // A size refused for want of memory is not asked for again: the buffers
    // keep the memory they have.
    return WrongSize(aBuffer) && TargetSize() != mRefusedSize;
}

bool PipelineShared::CanSupply(const TnBuffer &aBuffer) const
{
    return aBuffer.GetDataPointer() != nullptr || NeedsSize(aBuffer);
}

void PipelineShared::Follow(uint32_t aRequiredSize)
{
    if (aRequiredSize == 0)
    {
        return;
    }
    const uint64_t lTarget = TargetSize();
    if (aRequiredSize > lTarget || lTarget > 4ull * aRequiredSize)
    {
        mBufferSize = aRequiredSize;
    }
}

// ------------------------------------------------------------ getters

uint32_t PipelineShared::GetBufferSize() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return TargetSize();
}

uint32_t PipelineShared::GetBufferCount() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mCount;
}

uint32_t PipelineShared::GetOutputQueueSize() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return static_cast<uint32_t>(mOutput.size());
}

bool PipelineShared::GetHandleBufferTooSmall() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mHandleTooSmall;
}

bool PipelineShared::IsStarted() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mRunning;
}

void PipelineShared::SetBufferSize(uint32_t aSize)
{
    // Returns nothing: a pool this makes too large for the machine is
    // refused by the next call that answers (Start, SetBufferCount,
    // ReleaseBuffer) before anything is allocated.
    std::lock_guard<std::mutex> lLock(mMutex);
    mBufferSize = aSize;
    mRefusedSize = 0;
}

void PipelineShared::SetHandleBufferTooSmall(bool aValue)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mHandleTooSmall = aValue;
}

uint32_t PipelineShared::GetPriority() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mPriority;
}

TnResult PipelineShared::SetPriority(uint32_t aPriority)
{
    if (aPriority > kMaxPriority)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("SetBufferHandlingThreadPriority: the priority is 0 to 99"));
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mRunning && mThread.joinable() && !tn::SetThreadPriority(mThread.native_handle(), aPriority))
    {
        return TnResult(TN_THREAD_ERROR, TnString("SetBufferHandlingThreadPriority: the system refused the "
                                                  "priority"));
    }
    mPriority = aPriority;
    return TnResult(TN_OK);
}

// ------------------------------------------------------------ sinks

TnResult PipelineShared::RegisterEventSink(TnPipelineEventSink *aSink)
{
    if (aSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("RegisterEventSink: no sink"));
    }
    if (!mSinks.Add(aSink))
    {
        return tn::Failure(kSinkRegisteredTwice, "RegisterEventSink: the sink is registered already");
    }
    NoteSink(aSink, shared_from_this());
    return TnResult(TN_OK);
}

TnResult PipelineShared::UnregisterEventSink(TnPipelineEventSink *aSink)
{
    if (aSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("UnregisterEventSink: no sink"));
    }
    if (!mSinks.Remove(aSink))
    {
        return TnResult(TN_NOT_FOUND, TnString("UnregisterEventSink: the sink is not registered"));
    }
    ForgetSinkNote(aSink, this);
    return TnResult(TN_OK);
}

void PipelineShared::ForgetSink(TnPipelineEventSink *aSink)
{
    mSinks.Remove(aSink);
}

// ------------------------------------------------------------ retrieval

TnResult PipelineShared::RetrieveNextBuffer(TnBuffer **aBuffer, uint32_t aTimeout, TnResult *aOperationResult)
{
    if (aBuffer == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("RetrieveNextBuffer: no place for the buffer"));
    }
    *aBuffer = nullptr;
    const auto lDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeout);
    std::unique_lock<std::mutex> lLock(mMutex);
    for (;;)
    {
        if (!mOutput.empty())
        {
            TnBuffer *lBuffer = mOutput.front();
            // Read while the pipeline still has it: once held, it is the
            // program's to change.
            if (aOperationResult != nullptr)
            {
                *aOperationResult = lBuffer->GetOperationResult();
            }
            mOutput.pop_front();
            Find(lBuffer)->mPlace = Place::Held;
            lLock.unlock();
            *aBuffer = lBuffer;
            return TnResult(TN_OK);
        }
        if (mStream == nullptr)
        {
            return TnResult(TN_NOT_CONNECTED, TnString("RetrieveNextBuffer: the pipeline's stream is gone"));
        }
        if (!mRunning)
        {
            return TnResult(TN_NO_MORE_ITEM, TnString("RetrieveNextBuffer: the pipeline does not run"));
        }
        // An interrupted retrieval takes nothing: a buffer that came
        // meanwhile waits for the next.
        if (aTimeout == 0 ||
            !WaitUntil(mOutputChanged, lLock, lDeadline, [&] { return !mOutput.empty() || mStream == nullptr || !mRunning; }))
        {
            if (Interrupted())
            {
                return TnResult(TN_ABORTED, TnString("RetrieveNextBuffer: interrupted"));
            }
            if (mOutput.empty())
            {
                return mStream != nullptr ? mStream->GetCore()->TimedOut("RetrieveNextBuffer", aTimeout)
                                          : TnResult(TN_TIMEOUT);
            }
        }
    }
}

TnResult PipelineShared::ReleaseBuffer(TnBuffer *aBuffer)
{
    std::unique_lock<std::mutex> lLock(mMutex);
    Slot *lSlot = aBuffer != nullptr ? Find(aBuffer) : nullptr;
    if (lSlot == nullptr || lSlot->mPlace != Place::Held)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("ReleaseBuffer: the buffer is no retrieved buffer of this "
                                                       "pipeline"));
    }
    if (mSlots.size() > mCount)
    {
        // The pool shrank while the buffer was out.
        std::unique_ptr<TnBuffer> lBuffer = std::move(lSlot->mBuffer);
        mSlots.erase(mSlots.begin() + (lSlot - mSlots.data()));
        lLock.unlock();
        Notify("OnBufferDeleted",
               [&](TnPipelineEventSink *aSink, TnPipeline *aOwner) { aSink->OnBufferDeleted(aOwner, lBuffer.get()); });
        Retire(std::move(lBuffer));
        return TnResult(TN_OK);
    }
    TnResult lResult(TN_OK);
    if (WrongSize(*aBuffer))
    {
        // Refused whenever such a buffer comes back while the pool does not
        // fit, whoever found it first.
        lResult = PoolFits("ReleaseBuffer");
    }
    if (lResult.IsOK() && NeedsSize(*aBuffer))
    {
        const uint32_t lSize = TargetSize();
        lSlot->mPlace = Place::Moving;
        lLock.unlock();
        lResult = aBuffer->Alloc(lSize);
        lLock.lock();
        lSlot = Find(aBuffer);
        if (lSlot == nullptr)
        {
            return lResult;
        }
    }
    lSlot->mPlace = Place::Home;
    if (mRunning && !mStopRequested.load() && !mResetRequested && mStream != nullptr && aBuffer->GetSize() != 0 &&
        mStream->GetCore()->Queue(aBuffer, this).GetCode() == TN_PENDING)
    {
        lSlot->mPlace = Place::Stream;
    }
    lLock.unlock();
    mWork.notify_all();
    return lResult;
}

// ------------------------------------------------------------ control

TnResult PipelineShared::ApplyCount(std::unique_lock<std::mutex> &aLock, const char *aCall)
{
    // Called with the lock held, with the thread stopped or from it; the
    // lock is let go around the sinks and allocations.
    TnResult lResult(TN_OK);
    if (mSlots.size() < mCount)
    {
        lResult = PoolFits(aCall);
    }
    while (lResult.IsOK() && mSlots.size() < mCount)
    {
        std::unique_ptr<TnBuffer> lBuffer;
        if (!mRetired.empty())
        {
            lBuffer = std::move(mRetired.back());
            mRetired.pop_back();
            lBuffer->Reset(TnPayloadTypeImage);
        }
        else
        {
            lBuffer.reset(new (std::nothrow) TnBuffer(TnPayloadTypeImage));
        }
        if (!lBuffer)
        {
            return NotEnoughMemory(std::string(aCall) + ": a pipeline buffer's record", 1, sizeof(TnBuffer));
        }
        TnBuffer *lRaw = lBuffer.get();
        Slot lSlot;
        lSlot.mBuffer = std::move(lBuffer);
        lSlot.mPlace = Place::Moving;
        mSlots.push_back(std::move(lSlot));
        const uint32_t lSize = TargetSize();
        aLock.unlock();
        Notify("OnBufferCreated",
               [&](TnPipelineEventSink *aSink, TnPipeline *aOwner) { aSink->OnBufferCreated(aOwner, lRaw); });
        const TnResult lAlloc = lRaw->Alloc(lSize);
        aLock.lock();
        Slot *lMine = Find(lRaw);
        if (lMine != nullptr)
        {
            lMine->mPlace = Place::Home;
        }
        if (!lAlloc.IsOK())
        {
            lResult = lAlloc;
            break;
        }
    }
    // Removing: home buffers first, then the oldest waiting in the output
    // queue; held ones go when they are released.
    while (mSlots.size() > mCount)
    {
        auto lVictim =
            std::find_if(mSlots.begin(), mSlots.end(), [](const Slot &aSlot) { return aSlot.mPlace == Place::Home; });
        if (lVictim == mSlots.end() && !mOutput.empty())
        {
            TnBuffer *lOldest = mOutput.front();
            mOutput.pop_front();
            lVictim = mSlots.begin() + (Find(lOldest) - mSlots.data());
        }
        if (lVictim == mSlots.end())
        {
            break;
        }
        std::unique_ptr<TnBuffer> lBuffer = std::move(lVictim->mBuffer);
        mSlots.erase(lVictim);
        aLock.unlock();
        Notify("OnBufferDeleted",
               [&](TnPipelineEventSink *aSink, TnPipeline *aOwner) { aSink->OnBufferDeleted(aOwner, lBuffer.get()); });
        Retire(std::move(lBuffer));
        aLock.lock();
    }
    return lResult;
}

TnResult PipelineShared::SetBufferCount(uint32_t aCount)
{
    if (aCount == 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("SetBufferCount: a pipeline needs at least one buffer"));
    }
    const uint32_t lSize = GetBufferSize();
    if (!MemoryFits(aCount, lSize))
    {
        return NotEnoughMemory("SetBufferCount: the pipeline's buffers", aCount, lSize);
    }
    if (OnOwnThread())
    {
        // From a sink on the pipeline's thread: the thread applies it.
        std::lock_guard<std::mutex> lLock(mMutex);
        mRefusedSize = 0;
        mCount = aCount;
        mCountChanged = true;
        return TnResult(TN_OK);
    }
    const bool lTurn = BeginControl();
    const bool lWasRunning = Halt();
    TnResult lResult;
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        const uint32_t lBefore = mCount;
        mCount = aCount;
        mRefusedSize = 0;
        lResult = ApplyCount(lLock, "SetBufferCount");
        if (lResult.GetCode() == TN_NOT_ENOUGH_MEMORY && lBefore < aCount)
        {
            // The pool stays as it was.
            mCount = lBefore;
            ApplyCount(lLock, "SetBufferCount");
        }
    }
    if (lWasRunning)
    {
        TnResult lLaunch = Launch();
        if (!lLaunch.IsOK() && lResult.IsOK())
        {
            lResult = lLaunch;
        }
    }
    if (lTurn)
    {
        EndControl();
    }
    return lResult;
}

TnResult PipelineShared::Launch()
{
    std::unique_lock<std::mutex> lLock(mMutex);
    if (mStream == nullptr || !mStream->GetCore()->TakesPipelines())
    {
        return TnResult(TN_NOT_CONNECTED, TnString("Start: the pipeline's stream is gone or closed"));
    }
    if (mThread.joinable())
    {
        std::thread lOld = std::move(mThread);
        lLock.unlock();
        lOld.join();
        lLock.lock();
    }
    mStopRequested = false;
    mSelfStop = false;
    mResetRequested = false;
    mCountChanged = false;
    mRunning = true;
    mThreadEnded = false;
    // The stream has its buffers before Start returns.
    lLock.unlock();
    Supply();
    lLock.lock();
    try
    {
        std::shared_ptr<PipelineShared> lSelf = shared_from_this();
        mThread = std::thread([lSelf] { lSelf->Run(); });
        mThreadId = mThread.get_id();
    }
    catch (...)
    {
        mRunning = false;
        lLock.unlock();
        TakeBack(true);
        return TnResult(TN_THREAD_ERROR, TnString("Start: no thread could be made"));
    }
    if (mPriority != 0)
    {
        tn::SetThreadPriority(mThread.native_handle(), mPriority);
    }
    return TnResult(TN_OK);
}

void PipelineShared::Supply()
{
    std::vector<TnBuffer *> lResize;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        Refill(lResize);
    }
    if (!lResize.empty())
    {
        Resize(lResize);
        std::lock_guard<std::mutex> lLock(mMutex);
        lResize.clear();
        Refill(lResize);
    }
}

TnResult PipelineShared::Start()
{
    if (OnOwnThread())
    {
        // From a sink on the pipeline's thread: a stop asked for there is
        // taken back.
        bool lRestarted = false;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            if (!mRunning && mSelfStop && mStream != nullptr)
            {
                mSelfStop = false;
                mStopRequested = false;
                mRunning = true;
                lRestarted = true;
            }
        }
        if (lRestarted)
        {
            Notify("OnStart", [](TnPipelineEventSink *aSink, TnPipeline *aOwner) { aSink->OnStart(aOwner); });
        }
        return TnResult(TN_OK);
    }
    // A stop that another thread makes (or one that goes on by itself
    // after an interrupted wait) ends first.
    bool lTurn = false;
    if (!BeginControlUnlessInterrupted(lTurn))
    {
        return TnResult(TN_ABORTED, TnString("Start: interrupted while the pipeline stopped"));
    }
    TnResult lResult(TN_OK);
    bool lStarted = false;
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        if (!mRunning)
        {
            if (mStream == nullptr || !mStream->GetCore()->TakesPipelines())
            {
                lResult = TnResult(TN_NOT_CONNECTED, TnString("Start: the pipeline's stream is gone or closed"));
            }
            else
            {
                // A pool the machine cannot hold is refused before any of
                // it is allocated.
                mRefusedSize = 0;
                lResult = PoolFits("Start");
                if (lResult.IsOK())
                {
                    lResult = ApplyCount(lLock, "Start");
                }
                if (lResult.IsOK())
                {
                    lLock.unlock();
                    lResult = Launch();
                    lStarted = lResult.IsOK();
                }
            }
        }
    }
    if (lTurn)
    {
        EndControl();
    }
    if (lStarted)
    {
        Notify("OnStart", [](TnPipelineEventSink *aSink, TnPipeline *aOwner) { aSink->OnStart(aOwner); });
    }
    return lResult;
}

bool PipelineShared::Halt()
{
    std::unique_lock<std::mutex> lLock(mMutex);
    const bool lWasRunning = mRunning;
    mRunning = false;
    mStopRequested = true;
    mSelfStop = false;
    StreamUse lUse(*this);
    TnStream *lStream = lUse.Take();
    std::thread lThread = std::move(mThread);
    lLock.unlock();
    mWork.notify_all();
    mOutputChanged.notify_all();
    if (lStream != nullptr)
    {
        lStream->GetCore()->Wake();
    }
    lUse.End();
    if (lThread.joinable())
    {
        lThread.join();
        mThreadId = std::thread::id();
    }
    return lWasRunning;
}

TnResult PipelineShared::Stop()
{
    if (OnOwnThread())
    {
        // From a sink on the pipeline's thread: the thread stops once the
        // sink returns.
        bool lWasRunning;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lWasRunning = mRunning;
            mRunning = false;
            mStopRequested = true;
            mSelfStop = lWasRunning;
        }
        mOutputChanged.notify_all();
        if (lWasRunning)
        {
            Notify("OnStop", [](TnPipelineEventSink *aSink, TnPipeline *aOwner) { aSink->OnStop(aOwner); });
        }
        return TnResult(TN_OK);
    }
    const bool lTurn = BeginControl();
    const bool lWasRunning = Halt();
    if (lTurn)
    {
        EndControl();
    }
    if (lWasRunning)
    {
        Notify("OnStop", [](TnPipelineEventSink *aSink, TnPipeline *aOwner) { aSink->OnStop(aOwner); });
    }
    return TnResult(TN_OK);
}

TnResult PipelineShared::Reset()
{
    const bool lOwnThread = OnOwnThread();
    const bool lTurn = lOwnThread ? false : BeginControl();
    TnResult lResult(TN_OK);
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        if (mRunning && mThreadEnded)
        {
            // The thread ended by itself: the stream went.
            lResult = TnResult(TN_NOT_CONNECTED, TnString("Reset: the pipeline's stream is gone"));
        }
        else if (!mRunning || mResetPending)
        {
            lResult = TnResult(TN_STATE_ERROR, TnString(mRunning ? "Reset: another reset is pending"
                                                                 : "Reset: the pipeline does not run"));
        }
        else
        {
            mResetPending = true;
            mResetRequested = true;
            StreamUse lUse(*this);
            TnStream *lStream = lUse.Take();
            lLock.unlock();
            mWork.notify_all();
            if (lStream != nullptr)
            {
                lStream->GetCore()->Wake();
            }
            lUse.End();
            lLock.lock();
            if (!lOwnThread)
            {
                // The thread takes every buffer back and queues a fresh set.
                mControlDone.wait(lLock, [this] { return !mResetPending || mThreadEnded || !mThread.joinable(); });
            }
        }
    }
    if (lTurn)
    {
        EndControl();
    }
    if (lResult.IsOK())
    {
        Notify("OnReset", [](TnPipelineEventSink *aSink, TnPipeline *aOwner) { aSink->OnReset(aOwner); });
    }
    return lResult;
}

void PipelineShared::OnStreamClosing()
{
    Stop();
}

void PipelineShared::OnStreamGone()
{
    std::unique_lock<std::mutex> lLock(mMutex);
    mStream = nullptr;
    // Whatever the stream held is forgotten: those buffers are home again.
    for (Slot &lSlot : mSlots)
    {
        if (lSlot.mPlace == Place::Stream)
        {
            lSlot.mPlace = Place::Home;
        }
    }
    mOutputChanged.notify_all();
    mWork.notify_all();
    // The stream goes once nothing uses it (the uses of this thread, which
    // called into the stream's going from a sink, excepted).
    const bool lOwnThread = OnOwnThread();
    mStreamIdle.wait(lLock, [&] { return mStreamUses == 0 && (lOwnThread || mOwnStreamUses == 0); });
}

TnStream *PipelineShared::StreamUse::Take()
{
    mStream = mShared.mStream;
    if (mStream != nullptr)
    {
        mOwn = mShared.OnOwnThread();
        ++(mOwn ? mShared.mOwnStreamUses : mShared.mStreamUses);
    }
    return mStream;
}

void PipelineShared::StreamUse::End()
{
    if (mStream == nullptr)
    {
        return;
    }
    mStream = nullptr;
    std::lock_guard<std::mutex> lLock(mShared.mMutex);
    --(mOwn ? mShared.mOwnStreamUses : mShared.mStreamUses);
    mShared.mStreamIdle.notify_all();
}

void PipelineShared::Destroy()
{
    std::shared_ptr<PipelineShared> lKeep = shared_from_this();
    if (OnOwnThread())
    {
        // Destroyed from a sink on its own thread: the thread ends once the
        // sink returns, and the state goes with it.
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mRunning = false;
            mStopRequested = true;
            mOwner = nullptr;
        }
        mOutputChanged.notify_all();
    }
    else
    {
        Stop();
        std::vector<std::unique_ptr<TnBuffer>> lBuffers;
        std::vector<std::unique_ptr<TnBuffer>> lRetired; // the sinks heard of them before
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            for (Slot &lSlot : mSlots)
            {
                lBuffers.push_back(std::move(lSlot.mBuffer));
            }
            mSlots.clear();
            mOutput.clear();
            lRetired.swap(mRetired);
        }
        for (std::unique_ptr<TnBuffer> &lBuffer : lBuffers)
        {
            Notify("OnBufferDeleted", [&](TnPipelineEventSink *aSink, TnPipeline *aOwner) {
                aSink->OnBufferDeleted(aOwner, lBuffer.get());
            });
            lBuffer.reset();
        }
        std::lock_guard<std::mutex> lLock(mMutex);
        mOwner = nullptr;
    }
    for (TnPipelineEventSink *lSink : mSinks.Snapshot())
    {
        mSinks.Remove(lSink);
        ForgetSinkNote(lSink, this);
    }
    if (!OnOwnThread())
    {
        Unlink();
    }
    // Else the thread, still at work in the stream, unlinks when it ends.
}

void PipelineShared::Unlink()
{
    StreamUse lUse(*this);
    TnStream *lStream;
    {
        std::lock_guard<std::mutex> lLock(LinkMutex());
        std::lock_guard<std::mutex> lOwnLock(mMutex);
        lStream = lUse.Take();
    }
    if (lStream != nullptr)
    {
        lStream->GetCore()->RemovePipeline(this);
    }
}

// ------------------------------------------------------------ the thread

void PipelineShared::Refill(std::vector<TnBuffer *> &aResize)
{
    // With the lock held.
    if (mStream == nullptr || !mRunning || mStopRequested.load() || mResetRequested)
    {
        return;
    }
    StreamCore *lCore = mStream->GetCore();
    for (Slot &lSlot : mSlots)
    {
        if (lSlot.mPlace != Place::Home)
        {
            continue;
        }
        if (NeedsSize(*lSlot.mBuffer))
        {
            lSlot.mPlace = Place::Moving;
            aResize.push_back(lSlot.mBuffer.get());
            continue;
        }
        if (!CanSupply(*lSlot.mBuffer))
        {
            continue; // no memory, and none to be had at this size
        }
        if (lCore->Queue(lSlot.mBuffer.get(), this).GetCode() != TN_PENDING)
        {
            break;
        }
        lSlot.mPlace = Place::Stream;
    }
}

void PipelineShared::Resize(const std::vector<TnBuffer *> &aBuffers)
{
    for (TnBuffer *lBuffer : aBuffers)
    {
        uint32_t lSize;
        bool lRefusedBefore;
        TnResult lResult;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lSize = TargetSize();
            // A size refused once is not asked for again (nor told of): the
            // buffers keep their memory.
            lRefusedBefore = lSize == mRefusedSize;
            lResult = lRefusedBefore ? TnResult(TN_NOT_ENOUGH_MEMORY) : PoolFits("a pipeline resizing its buffers");
        }
        if (lResult.IsOK())
        {
            lResult = lBuffer->Alloc(lSize);
        }
        if (!lResult.IsOK() && !lRefusedBefore)
        {
            LogWarning("a pipeline could not allocate a buffer of " + std::to_string(lSize) + " bytes: " +
                       Describe(lResult));
        }
        std::lock_guard<std::mutex> lLock(mMutex);
        if (!lResult.IsOK())
        {
            mRefusedSize = lSize;
        }
        Slot *lSlot = Find(lBuffer);
        if (lSlot != nullptr)
        {
            lSlot->mPlace = Place::Home;
        }
    }
}

void PipelineShared::Retire(std::unique_ptr<TnBuffer> aBuffer)
{
    aBuffer->Free();
    std::lock_guard<std::mutex> lLock(mMutex);
    mRetired.push_back(std::move(aBuffer));
}

void PipelineShared::TakeBack(bool aAbort)
{
    // Every buffer of this pipeline's comes back from the stream.
    StreamUse lUse(*this);
    TnStream *lStream;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lStream = lUse.Take();
    }
    if (lStream == nullptr)
    {
        return;
    }
    StreamCore *lCore = lStream->GetCore();
    if (aAbort)
    {
        lCore->Abort();
    }
    while (lCore->GetQueuedCount(this) != 0)
    {
        TnBuffer *lBuffer = nullptr;
        TnResult lOperation;
        const TnResult lResult = lCore->Retrieve(&lBuffer, &lOperation, kWaitSliceMs, this, false);
        if (lBuffer != nullptr)
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            Slot *lSlot = Find(lBuffer);
            if (lSlot != nullptr)
            {
                lSlot->mPlace = Place::Home;
            }
        }
        else if (lResult.GetCode() == TN_TIMEOUT)
        {
            lCore->Abort(); // one queued after the first abort
        }
        else
        {
            break;
        }
    }
}

void PipelineShared::Handle(TnBuffer *aBuffer, const TnResult &aOperationResult)
{
    std::unique_lock<std::mutex> lLock(mMutex);
    Slot *lSlot = Find(aBuffer);
    if (lSlot == nullptr)
    {
        return;
    }
    lSlot->mPlace = Place::Home;
    const uint32_t lCode = aOperationResult.GetCode();
    if (lCode == TN_ABORTED)
    {
        return;
    }
    if (lCode == TN_BUFFER_TOO_SMALL)
    {
        Follow(aBuffer->GetRequiredSize());
        if (mHandleTooSmall)
        {
            lLock.unlock();
            bool lReallocAll = false;
            bool lResetStats = false;
            Notify("OnBufferTooSmall", [&](TnPipelineEventSink *aSink, TnPipeline *aOwner) {
                aSink->OnBufferTooSmall(aOwner, &lReallocAll, &lResetStats);
            });
            if (lReallocAll)
            {
                // The buffers waiting in the stream are too small as well:
                // they come back now and are reallocated before they go again.
                TakeBack(true);
                StreamUse lUse(*this);
                TnStream *lStream;
                {
                    std::lock_guard<std::mutex> lOwnLock(mMutex);
                    lStream = lUse.Take();
                }
                if (lResetStats && lStream != nullptr)
                {
                    lStream->GetCore()->ResetStatistics();
                }
            }
            return;
        }
    }
    else if (lCode == TN_OK)
    {
        Follow(aBuffer->GetRequiredSize());
    }
    lSlot->mPlace = Place::Ready;
    mOutput.push_back(aBuffer);
    // Filled buffers that nobody takes do not starve the stream: the oldest
    // goes back.
    const uint32_t lMinimum = MinAvailable(mCount);
    uint32_t lDropped = 0;
    while (!mOutput.empty() && CountIn(Place::Stream) + CountIn(Place::Home) < lMinimum)
    {
        TnBuffer *lOldest = mOutput.front();
        mOutput.pop_front();
        Find(lOldest)->mPlace = Place::Home;
        ++lDropped;
    }
    const bool lReady = !mOutput.empty() && mOutput.back() == aBuffer;
    StreamUse lUse(*this);
    TnStream *lStream = lDropped != 0 ? lUse.Take() : nullptr;
    lLock.unlock();
    if (lStream != nullptr)
    {
        for (uint32_t lIndex = 0; lIndex < lDropped; ++lIndex)
        {
            lStream->GetCore()->CountPipelineDrop();
        }
    }
    lUse.End();
    if (lReady)
    {
        mOutputChanged.notify_all();
        Notify("OnBufferReady", [](TnPipelineEventSink *aSink, TnPipeline *aOwner) { aSink->OnBufferReady(aOwner); });
    }
}

void PipelineShared::Run()
{
    std::vector<TnBuffer *> lResize;
    for (;;)
    {
        StreamUse lUse(*this);
        TnStream *lStream;
        bool lReset = false;
        bool lCountChanged = false;
        {
            std::unique_lock<std::mutex> lLock(mMutex);
            if (mStopRequested.load() || mStream == nullptr || mOwner == nullptr)
            {
                break;
            }
            lReset = mResetRequested;
            lCountChanged = mCountChanged || mSlots.size() > mCount;
            mCountChanged = false;
            if (lCountChanged)
            {
                ApplyCount(lLock, "SetBufferCount");
                if (mStopRequested.load() || mStream == nullptr)
                {
                    break;
                }
            }
            lResize.clear();
            if (!lReset)
            {
                Refill(lResize);
            }
            lStream = lUse.Take();
        }
        if (lReset)
        {
            lUse.End();
            TakeBack(true);
            {
                std::lock_guard<std::mutex> lLock(mMutex);
                mResetRequested = false;
            }
            Supply(); // a fresh set before the reset returns
            {
                std::lock_guard<std::mutex> lLock(mMutex);
                mResetPending = false;
            }
            mControlDone.notify_all();
            continue;
        }
        if (!lResize.empty())
        {
            lUse.End();
            Resize(lResize);
            continue;
        }
        StreamCore *lCore = lStream->GetCore();
        if (lCore->GetQueuedCount(this) == 0)
        {
            // Nothing in the stream: wait for a released buffer, a stop or a
            // reset.
            lUse.End();
            std::unique_lock<std::mutex> lLock(mMutex);
            mWork.wait_for(lLock, std::chrono::milliseconds(kWaitSliceMs), [this] {
                return mStopRequested.load() || mResetRequested || mCountChanged || mStream == nullptr ||
                       std::any_of(mSlots.begin(), mSlots.end(), [this](const Slot &aSlot) {
                           return aSlot.mPlace == Place::Home && CanSupply(*aSlot.mBuffer);
                       });
            });
            continue;
        }
        TnBuffer *lBuffer = nullptr;
        TnResult lOperation;
        lCore->Retrieve(&lBuffer, &lOperation, kWaitSliceMs, this, false, &mStopRequested);
        lUse.End();
        if (lBuffer != nullptr)
        {
            Handle(lBuffer, lOperation);
        }
    }
    TakeBack(true);
    bool lOrphaned;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mResetPending = false;
        mThreadEnded = true;
        lOrphaned = mOwner == nullptr;
    }
    mControlDone.notify_all();
    if (lOrphaned)
    {
        Unlink();
    }
}
} // namespace stream
} // namespace tn

using tn::stream::PipelineShared;
using tn::stream::PipelineState;

TnPipeline::TnPipeline(TnStream *aStream) : mState(new PipelineState())
{
    mState->mShared = std::make_shared<PipelineShared>(this, aStream);
    mState->mShared->Attach();
}

TnPipeline::~TnPipeline()
{
    if (mState->mShared->IsInherited())
    {
        return; // the parent's: its thread is not in this process
    }
    mState->mShared->Destroy();
    delete mState;
}

uint32_t TnPipeline::GetBufferSize() const
{
    if (mState->mShared->IsInherited())
    {
        return 0;
    }
    return mState->mShared->GetBufferSize();
}

uint32_t TnPipeline::GetBufferCount() const
{
    if (mState->mShared->IsInherited())
    {
        return 0;
    }
    return mState->mShared->GetBufferCount();
}

uint32_t TnPipeline::GetOutputQueueSize() const
{
    if (mState->mShared->IsInherited())
    {
        return 0;
    }
    return mState->mShared->GetOutputQueueSize();
}

bool TnPipeline::GetHandleBufferTooSmall() const
{
    if (mState->mShared->IsInherited())
    {
        return false;
    }
    return mState->mShared->GetHandleBufferTooSmall();
}

bool TnPipeline::IsStarted()
{
    if (mState->mShared->IsInherited())
    {
        return false;
    }
    return mState->mShared->IsStarted();
}

void TnPipeline::SetBufferSize(uint32_t aSize)
{
    if (mState->mShared->IsInherited())
    {
        return;
    }
    mState->mShared->SetBufferSize(aSize);
}

TnResult TnPipeline::SetBufferCount(uint32_t aBufferCount)
{
    if (mState->mShared->IsInherited())
    {
        return tn::InheritedFailure("TnPipeline::SetBufferCount");
    }
    return mState->mShared->SetBufferCount(aBufferCount);
}

void TnPipeline::SetHandleBufferTooSmall(bool aValue)
{
    if (mState->mShared->IsInherited())
    {
        return;
    }
    mState->mShared->SetHandleBufferTooSmall(aValue);
}

TnResult TnPipeline::RetrieveNextBuffer(TnBuffer **aBuffer, uint32_t aTimeout, TnResult *aOperationResult)
{
    if (mState->mShared->IsInherited())
    {
        return tn::InheritedFailure("TnPipeline::RetrieveNextBuffer");
    }
    return mState->mShared->RetrieveNextBuffer(aBuffer, aTimeout, aOperationResult);
}

TnResult TnPipeline::ReleaseBuffer(TnBuffer *aBuffer)
{
    if (mState->mShared->IsInherited())
    {
        return tn::InheritedFailure("TnPipeline::ReleaseBuffer");
    }
    return mState->mShared->ReleaseBuffer(aBuffer);
}

TnResult TnPipeline::Start()
{
    if (mState->mShared->IsInherited())
    {
        return tn::InheritedFailure("TnPipeline::Start");
    }
    return mState->mShared->Start();
}

TnResult TnPipeline::Stop()
{
    if (mState->mShared->IsInherited())
    {
        return tn::InheritedFailure("TnPipeline::Stop");
    }
    return mState->mShared->Stop();
}

TnResult TnPipeline::Reset()
{
    if (mState->mShared->IsInherited())
    {
        return tn::InheritedFailure("TnPipeline::Reset");
    }
    return mState->mShared->Reset();
}

TnResult TnPipeline::RegisterEventSink(TnPipelineEventSink *aEventSink)
{
    if (mState->mShared->IsInherited())
    {
        return tn::InheritedFailure("TnPipeline::RegisterEventSink");
    }
    return mState->mShared->RegisterEventSink(aEventSink);
}

TnResult TnPipeline::UnregisterEventSink(TnPipelineEventSink *aEventSink)
{
    if (mState->mShared->IsInherited())
    {
        return tn::InheritedFailure("TnPipeline::UnregisterEventSink");
    }
    return mState->mShared->UnregisterEventSink(aEventSink);
}

uint32_t TnPipeline::GetBufferHandlingThreadPriority() const
{
    if (mState->mShared->IsInherited())
    {
        return 0;
    }
    return mState->mShared->GetPriority();
}

TnResult TnPipeline::SetBufferHandlingThreadPriority(uint32_t aPriority)
{
    if (mState->mShared->IsInherited())
    {
        return tn::InheritedFailure("TnPipeline::SetBufferHandlingThreadPriority");
    }
    return mState->mShared->SetPriority(aPriority);
}

// ------------------------------------------------------------ event sink

TnPipelineEventSink::TnPipelineEventSink() = default;

TnPipelineEventSink::~TnPipelineEventSink()
{
    std::vector<std::weak_ptr<PipelineShared>> lPipelines;
    {
        std::lock_guard<std::mutex> lLock(tn::stream::LinkMutex());
        auto lFound = tn::stream::SinkNotes().find(this);
        if (lFound != tn::stream::SinkNotes().end())
        {
            lPipelines.swap(lFound->second);
            tn::stream::SinkNotes().erase(lFound);
        }
    }
    for (const std::weak_ptr<PipelineShared> &lEntry : lPipelines)
    {
        std::shared_ptr<PipelineShared> lPipeline = lEntry.lock();
        if (lPipeline && !lPipeline->IsInherited()) // a parent's calls it no more
        {
            lPipeline->ForgetSink(this);
        }
    }
}

void TnPipelineEventSink::OnBufferCreated(TnPipeline *, TnBuffer *)
{
}

void TnPipelineEventSink::OnBufferDeleted(TnPipeline *, TnBuffer *)
{
}

void TnPipelineEventSink::OnStart(TnPipeline *)
{
}

void TnPipelineEventSink::OnStop(TnPipeline *)
{
}

void TnPipelineEventSink::OnReset(TnPipeline *)
{
}

void TnPipelineEventSink::OnBufferTooSmall(TnPipeline *, bool *aReallocAll, bool *aResetStats)
{
    if (aReallocAll != nullptr)
    {
        *aReallocAll = true;
    }
    if (aResetStats != nullptr)
    {
        *aResetStats = true;
    }
}

void TnPipelineEventSink::OnBufferReady(TnPipeline *)
{
}
