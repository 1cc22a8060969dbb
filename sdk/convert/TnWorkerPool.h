// Worker threads that share out the parts of one job: the converter's bands
// of rows and the decompression filter's bands.
#ifndef TN_WORKER_POOL_H
#define TN_WORKER_POOL_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "TnExport.h"
#include "TnFork.h"
#include "TnResult.h"

namespace tn
{
namespace convert
{
/// The normal thread priority of the 0 (idle) to 6 (time critical) scale.
constexpr uint32_t kNormalPriority = 3;
constexpr uint32_t kHighestPriority = 6;

/// A number of threads of its own, idle between jobs. A job is a count of
/// parts and a task; the threads (and, when it joins, the calling thread)
/// take the parts one at a time until none is left. One job runs at a time:
/// the owner calls Run from one thread at a time. In a forked child the
/// parent's workers are gone: the pool forgets them (their memory is left)
/// and works without workers until started again.
class TN_BUFFER_RECEIVE_API WorkerPool
{
public:
    /// A task: runs part aPart on the thread of slot aSlot (0 to the worker
    /// count - 1 for the workers, the worker count for a calling thread that
    /// joins), so that a slot's scratch memory is used by one thread at a time.
    using Task = std::function<void(uint32_t aPart, uint32_t aSlot)>;

    WorkerPool() = default;
    ~WorkerPool();

    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    /// Ends the threads there were and starts aCount (0: none) at the
    /// pool's priority. TN_THREAD_ERROR when a thread cannot be started (the
    /// pool then has those that started).
    TnResult Start(uint32_t aCount);

    /// Ends the threads once they finished their part.
    void Stop();

    uint32_t GetWorkerCount() const { return uint32_t(mWorkers.size()); }

    /// Runs aParts parts of aTask and returns when all are done. Without
    /// workers, or with aCallerJoins, the calling thread takes parts too.
    void Run(uint32_t aParts, bool aCallerJoins, const Task &aTask);

    /// The priority, 0 to 6.
    uint32_t GetPriority() const { return mPriority; }

    /// Gives every worker the priority (and those started later): TN_OK,
    /// TN_INVALID_PARAMETER above 6, TN_GENERIC_ERROR with the system's error
    /// when it refuses it for a thread (every worker then keeps the priority
    /// it had).
    TnResult SetPriority(uint32_t aPriority);

private:
    /// Forgets workers of the process the pool was inherited from.
    void ForgetInherited();
    void Work(uint32_t aSlot);
    void TakeParts(uint32_t aSlot);
    void WaitForParts();

    std::vector<std::thread> mWorkers;
    std::vector<int> mThreadIDs; // guarded by mLock
    ProcessOwner mProcess;       // the process of the workers
    uint32_t mPriority = kNormalPriority;

    std::mutex mLock;
    std::condition_variable mWake;
    std::condition_variable mDone;
    // Changed under mLock; read without it by workers that wait spinning.
    std::atomic<uint64_t> mGeneration{0};
    bool mOpen = false;       // guarded by mLock: the job takes workers
    uint32_t mActive = 0;     // guarded by mLock: workers taking parts
    bool mStopping = false;   // guarded by mLock
    // Set before a job opens, unchanged until it closes (no worker active).
    const Task *mTask = nullptr;
    uint32_t mParts = 0;
    std::atomic<uint32_t> mNextPart{0};
    std::atomic<uint32_t> mCompleted{0};
};

/// The threads of one processor each, at least 1.
TN_BUFFER_RECEIVE_API uint32_t ProcessorCount();
} // namespace convert
} // namespace tn

#endif
