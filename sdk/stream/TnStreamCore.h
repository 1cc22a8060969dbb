// What every stream shares: the open and closed states, the bounded queue of
// the program's buffers, retrieval with timeouts, aborting, the stream's
// parameters and event sinks, and the pipelines built on it.
//
// A buffer goes through three lists: waiting (queued, not yet given to the
// receiver), in flight (the receiver writes a block into it) and done (filled,
// failed or aborted, waiting to be retrieved). The queued count covers all
// three. A receiver (Engine) takes buffers with Take and gives them back with
// Complete or Return, on its own thread, taking the core's lock once per
// block.
//
// Each queued buffer carries an owner tag: null for the program's own, the
// pipeline for a pipeline's, so that a pipeline retrieves only its buffers.
#ifndef TN_STREAM_CORE_H
#define TN_STREAM_CORE_H

#include <pthread.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TnBuffer.h"
#include "TnBufferInternal.h"
#include "TnFork.h"
#include "TnGenICamInternal.h"
#include "TnGenParameterArray.h"
#include "TnResult.h"
#include "TnSinkRegistry.h"
#include "TnStream.h"
#include "TnStreamEventSink.h"
#include "TnText.h"
#include "TnThreads.h"

namespace tn
{
namespace stream
{
class PipelineLink;

/// A stream's receiver, as the core sees it.
class Engine
{
public:
    virtual ~Engine();

    /// Ends every block in flight with TN_ABORTED (through Complete) and
    /// gives buffers taken in advance back (through Return); returns once
    /// done.
    virtual void AbortBlocks() = 0;
};

/// The monotonic clock in microseconds, as buffers' reception times use it.
uint64_t NowUs();

/// A stream made before a fork of this process belongs to the parent
/// (TnFork.h).
class StreamCore : public buffer::BufferHolder, public ProcessOwner
{
public:
    StreamCore();
    ~StreamCore() override;
    StreamCore(const StreamCore &) = delete;
    StreamCore &operator=(const StreamCore &) = delete;

    /// The stream the core belongs to, told by TnStream's constructor.
    void Bind(TnStream &aStream) { mStream = &aStream; }

    TnStream &GetStream() { return *mStream; }

    // ---- states, for the stream classes

    /// The stream is open: buffers may be queued, at most aCapacity at a time.
    void SetOpen(uint32_t aCapacity, uint16_t aChannel, Engine *aEngine);

    /// Closes: stops the pipelines, then the receiver (StopReceiver), and
    /// ends every buffer still waiting with TN_ABORTED. TN_NOT_CONNECTED when
    /// not open.
    TnResult CloseStream();

    /// Before the stream goes (from its most derived destructor, and again
    /// from TnStream's): closes, detaches the pipelines; the buffers it still
    /// holds are forgotten.
    void Shutdown();

    bool IsOpen() const { return mOpen.load(); }
    /// Open and not closing: a pipeline may start on it (a pipeline that
    /// starts while it closes would run on a closed stream).
    bool TakesPipelines() const;

    uint16_t GetChannel() const { return mChannel.load(); }

    // ---- the program's side

    TnResult Queue(TnBuffer *aBuffer, const void *aOwner);

    /// The next done buffer (of aOwner's, unless aAnyOwner), waiting at most
    /// aTimeoutMs. A set aCancel ends the wait with TN_ABORTED; Wake makes
    /// waiters look at it.
    TnResult Retrieve(TnBuffer **aBuffer, TnResult *aOperationResult, uint32_t aTimeoutMs, const void *aOwner,
                      bool aAnyOwner, const std::atomic<bool> *aCancel = nullptr);

    TnResult Abort();
    void Wake();

    /// The result of a retrieval (aCall names it) whose wait of aTimeoutMs
    /// ended with nothing done. Runs without any lock of the core.
    TnResult TimedOut(const char *aCall, uint32_t aTimeoutMs);

    uint32_t GetQueuedCount() const;
    uint32_t GetCapacity() const;
    /// Buffers of aOwner's that the stream holds (waiting, in flight or
    /// done).
    uint32_t GetQueuedCount(const void *aOwner) const;

    TnResult RegisterEventSink(TnStreamEventSink *aSink);
    TnResult UnregisterEventSink(TnStreamEventSink *aSink);

    TnGenParameterArray *GetParameters() { return mParameters.get(); }

    // ---- the receiver's side (receive thread)

    /// The next waiting buffer, now in flight; null when none waits (or an
    /// abort runs).
    TnBuffer *Take();

    /// A buffer in flight is done; its operation result is in the buffer.
    void Complete(TnBuffer *aBuffer);

    /// A buffer in flight that received nothing goes back to the front of
    /// the waiting list (or is aborted, during an abort).
    void Return(TnBuffer *aBuffer);

    /// A queued buffer that changes its memory or goes leaves the stream
    /// first; one a block is being written into ends that block (and the
    /// other blocks in flight) aborted.
    void Release(TnBuffer &aBuffer) override;
    /// A stream inherited across a fork lets another holder take its buffers.
    bool Yield(TnBuffer &aBuffer) override;

    /// A block is about to complete: a thread waiting in Retrieve wakes now
    /// and watches for it for a moment, so that it takes the buffer the
    /// moment it is done instead of a scheduler wake-up later.
    void Anticipate();

    // ---- pipelines

    /// The pipelines built on the stream: they stop when it closes and are
    /// detached when it goes. Guarded by the process-wide link lock.
    void AddPipeline(const std::shared_ptr<PipelineLink> &aLink);
    void RemovePipeline(PipelineLink *aLink);

    /// Blocks a pipeline dropped (its output queue was full), for the
    /// parameter PipelineImagesDropped.
    void CountPipelineDrop() { mPipelineDrops.fetch_add(1, std::memory_order_relaxed); }
    uint64_t GetPipelineDrops() const { return mPipelineDrops.load(std::memory_order_relaxed); }

    /// Resets the receiver's statistics and the pipeline drop count.
    void ResetStatistics();

protected:
    /// The parameters, made by the stream class once at construction.
    void SetParameters(TnGenParameterArray *aParameters) { mParameters.reset(aParameters); }

    /// The receiver's own statistics reset (a stream class overrides it).
    virtual void ResetReceiverStatistics();

    /// A buffer was queued: a receiver that waits for buffers looks again.
    /// Runs without any lock of the core.
    virtual void OnQueued();

    /// Stops the receiver at closing: blocks in flight end (Complete, Return)
    /// before it returns. Runs without any lock of the core.
    virtual void StopReceiver();

    /// What a retrieval that timed out tells besides the wait: for a stream
    /// that has heard nothing, where it listens ("" for nothing to tell).
    /// Runs without any lock of the core.
    virtual std::string DescribeSilence() { return std::string(); }

private:
    struct Entry
    {
        TnBuffer *mBuffer;
        const void *mOwner;
        uint64_t mHolding; // the buffer's holding that queued it here
    };

    bool BeginClose();
    void EndClose();
    void DetachPipelines();
    void StopPipelines();
    /// Ends a buffer that never received a block with aCode.
    static void EndUnused(TnBuffer *aBuffer, uint32_t aCode);
    void NotifyReady(TnBuffer *aBuffer);
    /// With the lock held (let go meanwhile): the waiting buffers the
    /// receiver fills next are faulted in for writing on the calling thread,
    /// so that the receiver writes into them without faulting page by page.
    void PrepareAhead(std::unique_lock<std::mutex> &aLock);
    /// With the lock held: a buffer is done.
    void CountDone();

    TnStream *mStream;
    std::unique_ptr<TnGenParameterArray> mParameters;
    std::atomic<bool> mOpen;
    std::atomic<uint16_t> mChannel;
    std::atomic<uint64_t> mPipelineDrops;

    mutable std::mutex mMutex;
    std::condition_variable mDoneChanged;
    Engine *mEngine; // while open
    uint32_t mCapacity;
    bool mClosing;
    uint32_t mAborting; // aborts in progress
    std::deque<Entry> mWaiting;
    std::vector<Entry> mInFlight;
    std::deque<Entry> mDone;
    std::vector<TnBuffer *> mPreparing; // being faulted in (PrepareAhead)
    std::condition_variable mPrepared;
    // Completions and anticipated completions, for waiters that watch
    // without the lock; the anticipations up to mResolved came true.
    std::atomic<uint64_t> mCompletions;
    std::atomic<uint64_t> mAnticipations;
    std::atomic<uint64_t> mResolved;
    std::atomic<uint32_t> mWaiters;  // asleep in Retrieve
    std::atomic<uint32_t> mWatchers; // watching in Retrieve

    SinkRegistry<TnStreamEventSink> mSinks;
    std::vector<std::shared_ptr<PipelineLink>> mPipelines; // guarded by the link lock
};

/// The port of a stream's parameters (the streams' XML descriptions): a
/// register image of aImageSize bytes that aRender fills, 32-bit settings
/// from aSettingsBegin below aSettingsEnd that aWrite takes with the stream's
/// own rules, and a command at aReset whose non-zero write resets aCore's
/// statistics.
std::shared_ptr<genicam::IPort> NewParameterPort(StreamCore &aCore, uint32_t aImageSize, uint32_t aSettingsBegin,
                                                 uint32_t aSettingsEnd, uint32_t aReset,
                                                 genicam::SettingsImagePort::Render aRender,
                                                 genicam::SettingsImagePort::WriteRule aWrite);

/// The process-wide lock of the links between streams and pipelines (never
/// destroyed, so that threads still running at exit may take it).
std::mutex &LinkMutex();

/// A pipeline as its stream sees it: the pipeline's shared state, which
/// outlives the pipeline object while a stream or the pipeline's thread
/// still uses it.
class PipelineLink
{
public:
    virtual ~PipelineLink();

    /// The stream closes: stop (from the closing thread, which may be the
    /// pipeline's own).
    virtual void OnStreamClosing() = 0;

    /// The stream goes: forget it, once no thread but this one uses it.
    /// Called without the link lock.
    virtual void OnStreamGone() = 0;
};
} // namespace stream
} // namespace tn

#endif
