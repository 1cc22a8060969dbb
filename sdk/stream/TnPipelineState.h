// The inside of a pipeline: its buffer pool, output queue, thread and sinks.
//
// Each pool buffer is in one place at a time: home (free), in the stream,
// ready (in the output queue), held by the program (retrieved), or being
// reallocated. The thread keeps the free ones queued in the stream, takes
// filled ones back and puts them in the output queue.
//
// The state is shared: the pipeline object owns it, and the pipeline's
// thread and the stream's closing hold it while they use it, so that a
// pipeline destroyed from its own thread (from a sink) or a stream that
// closes while its pipeline goes away never reach freed memory.
//
// Locks: mMutex guards everything here; the link lock (LinkMutex) is taken
// before it, never after. The stream pointer is used outside mMutex only
// through a StreamUse, which the stream's going waits for. No lock is held
// while a sink is called or while the thread waits for the stream. Start,
// Stop, Reset and SetBufferCount take turns (mBusy); a call of one of them
// from a sink inside another, on the same thread, goes ahead. On the
// pipeline's own thread they only ask the thread to act once the sink
// returns.
#ifndef TN_PIPELINE_STATE_H
#define TN_PIPELINE_STATE_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "TnBuffer.h"
#include "TnFork.h"
#include "TnPipeline.h"
#include "TnPipelineEventSink.h"
#include "TnSinkRegistry.h"
#include "TnStreamCore.h"

namespace tn
{
namespace stream
{
class PipelineShared : public PipelineLink,
                       public std::enable_shared_from_this<PipelineShared>,
                       public ProcessOwner // made before a fork: the parent's (TnFork.h)
{
public:
    explicit PipelineShared(TnPipeline *aOwner, TnStream *aStream);
    ~PipelineShared() override;

    /// Attaches to the stream (after construction: it needs a shared
    /// pointer to itself).
    void Attach();

    // The pipeline's operations.
    uint32_t GetBufferSize() const;
    uint32_t GetBufferCount() const;
    uint32_t GetOutputQueueSize() const;
    bool GetHandleBufferTooSmall() const;
    bool IsStarted() const;
    void SetBufferSize(uint32_t aSize);
    TnResult SetBufferCount(uint32_t aCount);
    void SetHandleBufferTooSmall(bool aValue);
    TnResult RetrieveNextBuffer(TnBuffer **aBuffer, uint32_t aTimeout, TnResult *aOperationResult);
    TnResult ReleaseBuffer(TnBuffer *aBuffer);
    TnResult Start();
    TnResult Stop();
    TnResult Reset();
    TnResult RegisterEventSink(TnPipelineEventSink *aSink);
    TnResult UnregisterEventSink(TnPipelineEventSink *aSink);
    uint32_t GetPriority() const;
    TnResult SetPriority(uint32_t aPriority);

    /// The pipeline object goes.
    void Destroy();

    // PipelineLink
    void OnStreamClosing() override;
    void OnStreamGone() override;

    /// A sink goes: unregisters it (from its destructor).
    void ForgetSink(TnPipelineEventSink *aSink);

private:
    enum class Place : uint8_t
    {
        Home,
        Stream,
        Ready,
        Held,
        Moving
    };
    struct Slot
    {
        std::unique_ptr<TnBuffer> mBuffer;
        Place mPlace = Place::Home;
    };

    bool OnOwnThread() const;
    /// Waits for the turn to run a control operation; false when this thread
    /// runs one already (the call comes from a sink inside it).
    bool BeginControl();
    /// BeginControl (aTurn: its answer) whose wait ends when the calling
    /// thread's waits are interrupted: false then.
    bool BeginControlUnlessInterrupted(bool &aTurn);
    void EndControl();

    /// Stops the thread and takes the buffers back; true when it ran.
    bool Halt();
    TnResult Launch();
    /// Adds or removes buffers until the count is reached; aCall names the
    /// operation in a failure.
    TnResult ApplyCount(std::unique_lock<std::mutex> &aLock, const char *aCall);
    Slot *Find(const TnBuffer *aBuffer);
    uint32_t CountIn(Place aPlace) const;
    uint32_t TargetSize() const;
    /// OK when the pool (mCount buffers of the target size) fits the
    /// machine; else TN_NOT_ENOUGH_MEMORY for aCall, and the target size is
    /// not asked for again until it or the count changes.
    TnResult PoolFits(const char *aCall);
    /// Whether a buffer's memory is not of the target size (none, smaller,
    /// or more than four times larger).
    bool WrongSize(const TnBuffer &aBuffer) const;
    /// Whether a buffer is to be reallocated: of the wrong size, and the
    /// target size not refused.
    bool NeedsSize(const TnBuffer &aBuffer) const;
    /// Whether a home buffer can go to the stream, or be resized for it.
    bool CanSupply(const TnBuffer &aBuffer) const;
    /// Queues the home buffers of the right size in the stream; those that
    /// need new memory are handed back in aResize.
    void Refill(std::vector<TnBuffer *> &aResize);
    /// Refills, reallocating what needs it.
    void Supply();
    void Follow(uint32_t aRequiredSize);
    void Run();
    void Handle(TnBuffer *aBuffer, const TnResult &aOperationResult);
    void TakeBack(bool aAbort);
    void Resize(const std::vector<TnBuffer *> &aBuffers);
    /// A buffer the pool lets go of (the lock not held): its memory goes, the
    /// object stays in mRetired.
    void Retire(std::unique_ptr<TnBuffer> aBuffer);
    /// Leaves the stream's list of pipelines.
    void Unlink();

    /// The stream, used outside the lock: the stream's going (OnStreamGone)
    /// waits until no use of it is left, but for the uses of the thread it
    /// goes on (the pipeline's own thread, when a sink destroys the stream,
    /// reads mStream again before it uses the stream after a sink).
    class StreamUse
    {
    public:
        explicit StreamUse(PipelineShared &aShared) : mShared(aShared)
        {
        }
        StreamUse(const StreamUse &) = delete;
        StreamUse &operator=(const StreamUse &) = delete;
        ~StreamUse()
        {
            End();
        }
        /// With mMutex held, once: the stream, null when it is gone.
        TnStream *Take();
        /// Without mMutex held.
        void End();

    private:
        PipelineShared &mShared;
        TnStream *mStream = nullptr;
        bool mOwn = false;
    };

    template <typename Call> void Notify(const char *aWhat, Call aCall);

    TnPipeline *mOwner; // null once the pipeline object is gone
    mutable std::mutex mMutex;
    std::condition_variable mOutputChanged; // retrievals wait here
    std::condition_variable mWork;          // the thread, when it has nothing in the stream
    std::condition_variable mControlDone;   // control operations, for their turn and for resets
    TnStream *mStream;                      // null once the stream is gone
    std::condition_variable mStreamIdle;    // the stream's going, for its uses to end
    uint32_t mStreamUses = 0;               // StreamUse of threads but the pipeline's own
    uint32_t mOwnStreamUses = 0;            // and of the pipeline's own thread
    std::vector<Slot> mSlots;
    // Buffers the pool let go of, without memory: Python may hold proxies of
    // them, so they stay until the pipeline goes, or until the pool grows
    // again and takes them back.
    std::vector<std::unique_ptr<TnBuffer>> mRetired;
    std::deque<TnBuffer *> mOutput;
    uint32_t mCount;
    uint32_t mBufferSize;
    uint32_t mRefusedSize; // a target size the machine could not hold; 0 for none
    bool mHandleTooSmall;
    uint32_t mPriority;
    bool mRunning;
    std::atomic<bool> mStopRequested;
    bool mSelfStop; // the stop was asked for from a sink on the thread
    bool mResetRequested;
    bool mResetPending;
    bool mThreadEnded = false; // the thread of the last Start returned (by itself, when the stream went)
    bool mCountChanged;
    bool mBusy;
    std::thread::id mBusyThread;
    std::thread mThread;
    std::atomic<std::thread::id> mThreadId;
    SinkRegistry<TnPipelineEventSink> mSinks;
};

/// Owned by the pipeline object.
class PipelineState
{
public:
    std::shared_ptr<PipelineShared> mShared;
};

/// Where sinks are registered, so that a sink that goes unregisters itself.
void NoteSink(TnPipelineEventSink *aSink, const std::shared_ptr<PipelineShared> &aPipeline);
void ForgetSinkNote(TnPipelineEventSink *aSink, const PipelineShared *aPipeline);
} // namespace stream
} // namespace tn

#endif
