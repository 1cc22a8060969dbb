// Waits that a host may cut short (TnWaitInterrupt.h). Every wait of the SDK
// on a thread that calls it (for a buffer, an answer, a free buffer, data or
// a sender's end) goes through these: with no interrupt scope on the thread
// they wait as the system calls do, with one they sleep in slices of the
// scope's interval and ask the host between slices, with no lock held.
//
// A wait that was interrupted returns as if it had run out; its caller asks
// Interrupted() before it takes anything, so that what it waited for stays
// where a later call finds it.
#ifndef TN_WAIT_H
#define TN_WAIT_H

#include <poll.h>
#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "TnExport.h"

namespace tn
{
using WaitClock = std::chrono::steady_clock;

/// The interval of the calling thread's interrupt scope in milliseconds; 0
/// without one.
TN_BASE_API uint32_t InterruptSliceMs();

/// Whether a wait of the calling thread's call was interrupted (without
/// asking the host).
TN_BASE_API bool Interrupted();

/// Asks the host whether the calling thread's waits are to end (true at once
/// when one was). Call it with no lock held.
TN_BASE_API bool AskInterrupt();

/// poll(), in slices when the thread has an interrupt scope: its result, or
/// 0 when the time ran out or the wait was interrupted.
TN_BASE_API int Poll(pollfd *aPolls, nfds_t aCount, int aTimeoutMs);

/// Sleeps aMs milliseconds; false when interrupted.
TN_BASE_API bool Sleep(uint32_t aMs);

/// For loops that wait in short steps of their own: asks the host at most
/// once per slice of the thread's interrupt scope.
class InterruptPacer
{
public:
    /// Whether the loop is to end (interrupted).
    bool Stop()
    {
        const uint32_t lSlice = InterruptSliceMs();
        if (lSlice == 0 || Interrupted())
        {
            return Interrupted();
        }
        const WaitClock::time_point lNow = WaitClock::now();
        if (lNow - mAsked < std::chrono::milliseconds(lSlice))
        {
            return false;
        }
        mAsked = lNow;
        return AskInterrupt();
    }

private:
    WaitClock::time_point mAsked = WaitClock::now();
};

/// Waits on aSignal until aReady() holds (true) or aDeadline passes (false);
/// false also when interrupted, with aLock taken again.
template <class Predicate>
bool WaitUntil(std::condition_variable &aSignal, std::unique_lock<std::mutex> &aLock, WaitClock::time_point aDeadline,
               Predicate aReady)
{
    const uint32_t lSlice = InterruptSliceMs();
    if (lSlice == 0)
    {
        return aSignal.wait_until(aLock, aDeadline, aReady);
    }
    for (;;)
    {
        if (aReady())
        {
            return true;
        }
        const WaitClock::time_point lNow = WaitClock::now();
        if (Interrupted() || lNow >= aDeadline)
        {
            return false;
        }
        const WaitClock::time_point lUntil =
            aDeadline - lNow > std::chrono::milliseconds(lSlice) ? lNow + std::chrono::milliseconds(lSlice) : aDeadline;
        if (aSignal.wait_until(aLock, lUntil, aReady))
        {
            return true;
        }
        aLock.unlock();
        const bool lStop = lUntil != aDeadline && AskInterrupt();
        aLock.lock();
        if (lStop)
        {
            return false;
        }
    }
}

/// WaitUntil for at most aTimeoutMs milliseconds.
template <class Predicate>
bool WaitFor(std::condition_variable &aSignal, std::unique_lock<std::mutex> &aLock, uint64_t aTimeoutMs,
             Predicate aReady)
{
    return WaitUntil(aSignal, aLock, WaitClock::now() + std::chrono::milliseconds(aTimeoutMs), aReady);
}

/// WaitUntil without a deadline: false only when interrupted.
template <class Predicate>
bool Wait(std::condition_variable &aSignal, std::unique_lock<std::mutex> &aLock, Predicate aReady)
{
    if (InterruptSliceMs() == 0)
    {
        aSignal.wait(aLock, aReady);
        return true;
    }
    // About 35 years: no deadline that any wait reaches.
    return WaitFor(aSignal, aLock, uint64_t(1) << 40, aReady);
}
} // namespace tn

#endif
