// The thread of a receive engine and how other threads reach it: a wake-up
// descriptor that the engine's loop polls beside its socket, a stop flag, and
// requests that the loop serves before its next receive while their callers
// wait.
#ifndef TN_RECEIVE_THREAD_H
#define TN_RECEIVE_THREAD_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "TnGevExport.h"
#include "TnResult.h"

namespace tn
{
namespace gev
{
class TN_GEV_API TnReceiveThread
{
public:
    TnReceiveThread() = default;
    ~TnReceiveThread();
    TnReceiveThread(const TnReceiveThread &) = delete;
    TnReceiveThread &operator=(const TnReceiveThread &) = delete;

    /// Makes the wake-up descriptor (again after Close).
    TnResult Open();
    /// Stops the thread and closes the descriptor.
    void Close();

    /// Runs aLoop on a new thread; the loop returns once StopRequested.
    TnResult Start(std::function<void()> aLoop);
    /// Asks the loop to end, wakes it and waits for it; callers waiting in
    /// Request return.
    void Stop();

    bool IsRunning() const { return mRunning.load(); }
    bool StopRequested() const { return mStopRequested.load(std::memory_order_relaxed); }
    std::thread::native_handle_type GetNativeHandle() { return mThread.native_handle(); }

    /// The descriptor the loop polls for POLLIN, and what it does when that
    /// comes: takes the wake-up.
    int GetWakeHandle() const { return mWakeHandle; }
    void TakeWakeUp();
    /// Wakes the loop from its poll.
    void Wake();

    /// Guards what callers hand the loop; held by Request's aRecord.
    std::mutex &GetRequestMutex() { return mRequestMutex; }

    /// Runs a request on the loop: with the request lock held, aRecord notes
    /// it for the loop, which serves it before its next receive and calls
    /// Served; returns once served (or the thread ended). False, with nothing
    /// recorded, when the thread does not run or is the caller's: the caller
    /// does the work itself.
    bool Request(const std::function<void()> &aRecord);
    /// The loop served a request (the request lock not held).
    void Served();

private:
    int mWakeHandle = -1;
    std::thread mThread;
    std::atomic<bool> mRunning{false};
    std::atomic<bool> mStopRequested{false};
    std::mutex mRequestMutex;
    std::condition_variable mRequestDone;
    uint64_t mServed = 0; // guarded by mRequestMutex
};
} // namespace gev
} // namespace tn

#endif
