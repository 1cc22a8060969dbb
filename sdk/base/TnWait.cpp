#include "TnWait.h"

#include <errno.h>
#include <time.h>

#include <cxxabi.h>

#include <pthread.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <thread>

#include "TnWaitInterrupt.h"

// The scopes of a thread, innermost first.
class TnWaitInterruptAccess
{
public:
    static TnWaitInterruptScope *&Current()
    {
        static thread_local TnWaitInterruptScope *sCurrent = nullptr;
        return sCurrent;
    }

    static void Enter(TnWaitInterruptScope &aScope)
    {
        aScope.mOuter = Current();
        Current() = &aScope;
    }

    static void Leave(TnWaitInterruptScope &aScope)
    {
        if (Current() == &aScope)
        {
            Current() = aScope.mOuter;
        }
    }

    static uint32_t Slice()
    {
        const TnWaitInterruptScope *lScope = Current();
        return lScope != nullptr ? std::max<uint32_t>(1, lScope->mIntervalMs) : 0;
    }

    static bool Interrupted()
    {
        const TnWaitInterruptScope *lScope = Current();
        return lScope != nullptr && lScope->mInterrupted;
    }

    static bool Ask()
    {
        TnWaitInterruptScope *lScope = Current();
        if (lScope == nullptr)
        {
            return false;
        }
        if (!lScope->mInterrupted && lScope->mInterrupter.IsInterrupted())
        {
            lScope->mInterrupted = true;
        }
        return lScope->mInterrupted;
    }
};

TnWaitInterrupter::~TnWaitInterrupter() = default;

bool TnWaitInterrupter::Keep(void *)
{
    return false;
}

TnWaitInterruptScope *TnWaitInterruptScope::Innermost()
{
    return TnWaitInterruptAccess::Current();
}

TnWaitInterruptScope::TnWaitInterruptScope(TnWaitInterrupter &aInterrupter, uint32_t aIntervalMs)
    : mInterrupter(aInterrupter), mIntervalMs(aIntervalMs), mInterrupted(false), mOuter(nullptr)
{
    TnWaitInterruptAccess::Enter(*this);
}

TnWaitInterruptScope::~TnWaitInterruptScope()
{
    TnWaitInterruptAccess::Leave(*this);
}

namespace tn
{
namespace
{
uint64_t NowMs()
{
    timespec lNow;
    clock_gettime(CLOCK_MONOTONIC, &lNow);
    return uint64_t(lNow.tv_sec) * 1000u + uint64_t(lNow.tv_nsec) / 1000000u;
}
} // namespace

uint32_t InterruptSliceMs()
{
    return TnWaitInterruptAccess::Slice();
}

bool Interrupted()
{
    return TnWaitInterruptAccess::Interrupted();
}

bool AskInterrupt()
{
    return TnWaitInterruptAccess::Ask();
}

int Poll(pollfd *aPolls, nfds_t aCount, int aTimeoutMs)
{
    const uint32_t lSlice = InterruptSliceMs();
    if (lSlice == 0)
    {
        return poll(aPolls, aCount, aTimeoutMs);
    }
    const bool lForever = aTimeoutMs < 0;
    const uint64_t lDeadline = NowMs() + (lForever ? 0 : uint64_t(aTimeoutMs));
    for (;;)
    {
        if (Interrupted())
        {
            return 0;
        }
        const uint64_t lNow = NowMs();
        const uint64_t lLeft = lForever ? lSlice : (lNow >= lDeadline ? 0 : lDeadline - lNow);
        const int lWait = static_cast<int>(std::min<uint64_t>(lLeft, lSlice));
        const int lReady = poll(aPolls, aCount, lWait);
        if (lReady < 0 && errno == EINTR)
        {
            // A signal came to this thread: the host hears of it now.
            if (AskInterrupt())
            {
                return 0;
            }
            continue;
        }
        if (lReady != 0 || (!lForever && lLeft <= lSlice))
        {
            return lReady;
        }
        if (AskInterrupt())
        {
            return 0;
        }
    }
}

bool Sleep(uint32_t aMs)
{
    const uint64_t lDeadline = NowMs() + aMs;
    for (uint64_t lNow = NowMs(); lNow < lDeadline; lNow = NowMs())
    {
        Poll(nullptr, 0, static_cast<int>(std::min<uint64_t>(lDeadline - lNow, 0x7FFFFFFF)));
        if (Interrupted())
        {
            return false;
        }
    }
    return true;
}
} // namespace tn

namespace
{
// One run elsewhere: what the waiting thread and the running one share.
struct ElsewhereRun
{
    std::mutex mMutex;
    std::condition_variable mEnded;
    bool mDone = false;
    std::function<void()> mWork;
};

// Tells the waiting thread, however the work ends (a thread that the host
// ends unwinds through it too).
struct ElsewhereEnd
{
    std::shared_ptr<ElsewhereRun> mRun;

    ~ElsewhereEnd()
    {
        {
            std::lock_guard<std::mutex> lLock(mRun->mMutex);
            mRun->mDone = true;
        }
        mRun->mEnded.notify_all();
    }
};

void RunWork(const std::shared_ptr<ElsewhereRun> &aRun)
{
    const ElsewhereEnd lEnd{aRun};
    try
    {
        aRun->mWork();
    }
    catch (abi::__forced_unwind &)
    {
        throw;
    }
    catch (...)
    {
    }
    // What the work holds goes before the waiting thread hears of its end.
    aRun->mWork = nullptr;
}

// The threads that run work elsewhere: one that has run its work waits a
// while for the next one, so that a program's stops and closes do not each
// make a thread.
struct ElsewherePool
{
    std::mutex mMutex;
    std::condition_variable mQueued;
    std::deque<std::shared_ptr<ElsewhereRun>> mQueue;
    size_t mIdle = 0; // threads waiting for work
};

constexpr std::chrono::seconds kElsewhereIdle(10);

ElsewherePool *&Pool();

// A forked child has none of the parent's threads.
void PoolAfterFork()
{
    Pool() = new ElsewherePool;
}

ElsewherePool *&Pool()
{
    static ElsewherePool *sPool = [] {
        pthread_atfork(nullptr, nullptr, PoolAfterFork);
        return new ElsewherePool;
    }();
    return sPool;
}

void Serve(ElsewherePool *aPool)
{
    std::unique_lock<std::mutex> lLock(aPool->mMutex);
    for (;;)
    {
        ++aPool->mIdle;
        const bool lWork = aPool->mQueued.wait_for(lLock, kElsewhereIdle, [&] { return !aPool->mQueue.empty(); });
        --aPool->mIdle;
        if (!lWork)
        {
            return;
        }
        std::shared_ptr<ElsewhereRun> lRun = std::move(aPool->mQueue.front());
        aPool->mQueue.pop_front();
        lLock.unlock();
        RunWork(lRun);
        lRun.reset();
        lLock.lock();
    }
}
} // namespace

bool TnRunElsewhere(std::function<void()> aWork)
{
    std::shared_ptr<ElsewhereRun> lRun = std::make_shared<ElsewhereRun>();
    lRun->mWork = std::move(aWork);
    bool lQueued = true;
    {
        ElsewherePool *lPool = Pool();
        std::lock_guard<std::mutex> lLock(lPool->mMutex);
        lPool->mQueue.push_back(lRun);
        if (lPool->mIdle >= lPool->mQueue.size())
        {
            lPool->mQueued.notify_one();
        }
        else
        {
            try
            {
                std::thread(Serve, lPool).detach();
            }
            catch (...)
            {
                lPool->mQueue.pop_back();
                lQueued = false;
            }
        }
    }
    if (!lQueued)
    {
        // No thread: the work runs here.
        RunWork(lRun);
        return true;
    }
    std::unique_lock<std::mutex> lLock(lRun->mMutex);
    return tn::Wait(lRun->mEnded, lLock, [&] { return lRun->mDone; });
}
