#include "TnWorkerPool.h"

#include <errno.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <new>

namespace tn
{
namespace convert
{
namespace
{
// The scheduler's nice level of each priority.
constexpr int kNiceLevels[kHighestPriority + 1] = {19, 10, 5, 0, -5, -10, -20};

// How long a worker that finished a job, and a caller whose parts others
// still run, wait spinning before they sleep: a job that follows at once
// (frames converted one after another) then needs no thread woken, and the
// caller no wake-up at its end.
constexpr std::chrono::microseconds kSpin(50);

inline void Pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

/// Spins until aReady() holds or kSpin passes: whether it holds.
template <typename Ready> bool SpinUntil(Ready &&aReady)
{
    const auto lEnd = std::chrono::steady_clock::now() + kSpin;
    for (;;)
    {
        for (int lRound = 0; lRound < 64; ++lRound)
        {
            if (aReady())
            {
                return true;
            }
            Pause();
        }
        if (std::chrono::steady_clock::now() >= lEnd)
        {
            return aReady();
        }
    }
}

int CurrentThreadID()
{
    return int(syscall(SYS_gettid));
}

int ApplyNice(int aThreadID, uint32_t aPriority)
{
    return setpriority(PRIO_PROCESS, id_t(aThreadID), kNiceLevels[aPriority]) == 0 ? 0 : errno;
}
} // namespace

uint32_t ProcessorCount()
{
    const unsigned lCount = std::thread::hardware_concurrency();
    return lCount == 0 ? 1 : lCount;
}

WorkerPool::~WorkerPool()
{
    Stop();
}

void WorkerPool::ForgetInherited()
{
    if (!mProcess.IsInherited())
    {
        return;
    }
    // The threads are not in this process: neither joined nor destroyed
    // (a joinable thread's destruction ends the process). The locks and
    // conditions are the parent's copies, which its threads may have held
    // or waited on.
    new std::vector<std::thread>(std::move(mWorkers));
    mWorkers.clear();
    mThreadIDs.clear();
    new (&mLock) std::mutex();
    new (&mWake) std::condition_variable();
    new (&mDone) std::condition_variable();
    mOpen = false;
    mActive = 0;
    mProcess = ProcessOwner();
}

TnResult WorkerPool::Start(uint32_t aCount)
{
    Stop();
    {
        std::lock_guard<std::mutex> lGuard(mLock);
        mStopping = false;
        mThreadIDs.assign(aCount, 0);
    }
    TnResult lResult(TN_OK);
    for (uint32_t lSlot = 0; lSlot < aCount; ++lSlot)
    {
        try
        {
            mWorkers.emplace_back(&WorkerPool::Work, this, lSlot);
        }
        catch (const std::exception &)
        {
            lResult = TnResult(TN_THREAD_ERROR, TnString("a worker thread cannot be started"));
            break;
        }
    }
    // Each worker applies the priority as it starts; wait for them, so that
    // SetPriority reaches every one.
    std::unique_lock<std::mutex> lGuard(mLock);
    mDone.wait(lGuard, [this] {
        for (size_t lSlot = 0; lSlot < mWorkers.size(); ++lSlot)
        {
            if (mThreadIDs[lSlot] == 0)
            {
                return false;
            }
        }
        return true;
    });
    return lResult;
}

void WorkerPool::Stop()
{
    ForgetInherited();
    {
        std::lock_guard<std::mutex> lGuard(mLock);
        mStopping = true;
    }
    mWake.notify_all();
    for (std::thread &lWorker : mWorkers)
    {
        lWorker.join();
    }
    mWorkers.clear();
}

void WorkerPool::Work(uint32_t aSlot)
{
    std::unique_lock<std::mutex> lGuard(mLock);
    const int lThreadID = CurrentThreadID();
    if (mPriority != kNormalPriority)
    {
        ApplyNice(lThreadID, mPriority);
    }
    mThreadIDs[aSlot] = lThreadID;
    mDone.notify_all();
    uint64_t lSeen = mGeneration;
    for (;;)
    {
        if (!mStopping && mGeneration == lSeen)
        {
            lGuard.unlock();
            SpinUntil([&] { return mGeneration.load(std::memory_order_acquire) != lSeen; });
            lGuard.lock();
            mWake.wait(lGuard, [&] { return mStopping || mGeneration != lSeen; });
        }
        if (mStopping)
        {
            return;
        }
        lSeen = mGeneration;
        if (!mOpen)
        {
            continue; // ended before this worker came
        }
        ++mActive;
        lGuard.unlock();
        TakeParts(aSlot);
        lGuard.lock();
        if (--mActive == 0)
        {
            mDone.notify_all();
        }
    }
}

void WorkerPool::TakeParts(uint32_t aSlot)
{
    for (;;)
    {
        const uint32_t lPart = mNextPart.fetch_add(1, std::memory_order_relaxed);
        if (lPart >= mParts)
        {
            return;
        }
        (*mTask)(lPart, aSlot);
        mCompleted.fetch_add(1, std::memory_order_acq_rel);
    }
}

void WorkerPool::WaitForParts()
{
    // The job ends when every part is done and no worker is still taking
    // parts; a worker that comes later finds it closed.
    SpinUntil([&] { return mCompleted.load(std::memory_order_acquire) == mParts; });
    std::unique_lock<std::mutex> lGuard(mLock);
    mDone.wait(lGuard, [this] { return mActive == 0 && mCompleted.load(std::memory_order_acquire) == mParts; });
    mOpen = false;
    mTask = nullptr;
}

void WorkerPool::Run(uint32_t aParts, bool aCallerJoins, const Task &aTask)
{
    ForgetInherited();
    if (aParts == 0)
    {
        return;
    }
    const uint32_t lWorkers = GetWorkerCount();
    if (lWorkers == 0 || (aParts == 1 && aCallerJoins))
    {
        for (uint32_t lPart = 0; lPart < aParts; ++lPart)
        {
            aTask(lPart, lWorkers);
        }
        return;
    }
    {
        std::lock_guard<std::mutex> lGuard(mLock);
        mTask = &aTask;
        mParts = aParts;
        mNextPart.store(0, std::memory_order_relaxed);
        mCompleted.store(0, std::memory_order_relaxed);
        mOpen = true;
        mGeneration.fetch_add(1, std::memory_order_release);
    }
    mWake.notify_all();
    if (aCallerJoins)
    {
        TakeParts(lWorkers);
    }
    WaitForParts();
}

TnResult WorkerPool::SetPriority(uint32_t aPriority)
{
    if (aPriority > kHighestPriority)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("thread priorities run from 0 to 6"));
    }
    ForgetInherited(); // the parent's threads' IDs name no thread of this process
    std::lock_guard<std::mutex> lGuard(mLock);
    for (size_t lIndex = 0; lIndex < mWorkers.size(); ++lIndex)
    {
        const int lError = ApplyNice(mThreadIDs[lIndex], aPriority);
        if (lError != 0)
        {
            for (size_t lDone = 0; lDone < lIndex; ++lDone)
            {
                ApplyNice(mThreadIDs[lDone], mPriority);
            }
            return TnResult(TN_GENERIC_ERROR, uint32_t(lError), TnString("the system refuses the thread priority"));
        }
    }
    mPriority = aPriority;
    return TnResult(TN_OK);
}
} // namespace convert
} // namespace tn
