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
    /// The requests the loop takes (with the request lock held, as it takes
    /// what they noted): the mark to hand Served once it has served them. A
    /// request noted after this waits for the next serve, even when it comes
    /// before the loop has called Served for these.
    uint64_t TakeRequests() const { return mRequested; }
    /// The loop served the requests taken up to aTaken (the request lock not
    /// held).
    void Served(uint64_t aTaken);

private:
    int mWakeHandle = -1;
    std::thread mThread;
    std::atomic<bool> mRunning{false};
    std::atomic<bool> mStopRequested{false};
    std::mutex mRequestMutex;
    std::condition_variable mRequestDone;
    uint64_t mRequested = 0; // requests made; guarded by mRequestMutex
    uint64_t mServed = 0;    // requests served; guarded by mRequestMutex
};
} // namespace gev
} // namespace tn

#endif
