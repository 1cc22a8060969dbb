// A buffer pump over an open stream.
#ifndef TN_PIPELINE_H
#define TN_PIPELINE_H

#include <stddef.h>
#include <stdint.h>

#include "TnBuffer.h"
#include "TnExport.h"
#include "TnPipelineEventSink.h"
#include "TnResult.h"
#include "TnStream.h"

#ifndef SWIG
namespace tn
{
namespace stream
{
class PipelineState;
}
} // namespace tn
#endif

/// Keeps a stream supplied with buffers from a pool of its own and hands the
/// filled ones out: ``RetrieveNextBuffer`` takes the next one, ``ReleaseBuffer``
/// gives it back. Release every buffer retrieved: the pipeline needs at least
/// 4 of its buffers in the stream at all times, and when the buffers that
/// wait to be retrieved would leave the stream fewer, the oldest of them is
/// dropped (given back to the stream) and counted by the stream's parameter
/// ``PipelineImagesDropped``.
///
/// Buffer size: a buffer is reallocated when it is smaller than the blocks
/// need or more than four times larger; the size follows the blocks that
/// arrive, from ``SetBufferSize`` (1 MiB when not set) on. With the
/// buffer-too-small handling on (the default), a block that did not fit its
/// buffer is not handed out: the sinks' ``OnBufferTooSmall`` is asked, and
/// the buffer (or every buffer) is reallocated and queued again.
///
/// The pipeline runs a thread of its own while started. It keeps a plain
/// pointer to its stream: a stream that closes stops its pipelines, and one
/// that is destroyed leaves them detached (``Start`` then answers
/// ``TN_NOT_CONNECTED``).
class TN_STREAM_API TnPipeline
{
public:
    /// A stopped pipeline on an open stream, with 16 buffers to come.
    TnPipeline(TnStream *aStream);

    /// Stops the pipeline and deletes its buffers; buffers retrieved and not
    /// released end too.
    virtual ~TnPipeline();

    /// The size of the buffers the pipeline allocates, in bytes.
    uint32_t GetBufferSize() const;

    /// The number of buffers of the pool.
    uint32_t GetBufferCount() const;

    /// The buffers that wait in the output queue to be retrieved.
    uint32_t GetOutputQueueSize() const;

    /// Whether blocks that did not fit their buffers are handled by the
    /// pipeline (buffers reallocated and queued again) rather than handed out.
    bool GetHandleBufferTooSmall() const;

    /// Whether the pipeline runs.
    bool IsStarted();

    /// The size of the buffers to allocate, in bytes; buffers are reallocated
    /// to it as they are queued again. 0 for the default.
    void SetBufferSize(uint32_t aSize);

    /// Adds or removes buffers until the pool has ``aBufferCount`` of them;
    /// the pipeline pauses meanwhile. Buffers retrieved and not released are
    /// removed when they are released. A buffer removed loses its memory but
    /// stays a valid object (of size 0) until the pipeline goes, so that a
    /// pointer to it kept after its release reaches no freed memory; the pool
    /// takes such buffers back first when it grows again. ``TN_OK``,
    /// ``TN_INVALID_PARAMETER`` for 0, ``TN_NOT_ENOUGH_MEMORY``.
    TnResult SetBufferCount(uint32_t aBufferCount);

    /// Sets whether blocks that did not fit their buffers are handled by the
    /// pipeline (true) or handed out like any other (false).
    void SetHandleBufferTooSmall(bool aValue);

    /// Takes the next filled buffer, waiting at most ``aTimeout``
    /// milliseconds; ``aOperationResult`` (may be null) receives what became
    /// of its block. Give the buffer back with ``ReleaseBuffer``.
    ///
    /// ``TN_OK``; ``TN_TIMEOUT``; ``TN_INVALID_PARAMETER`` for a null
    /// ``aBuffer``; ``TN_NO_MORE_ITEM`` when the pipeline does not run and
    /// nothing waits; ``TN_NOT_CONNECTED`` when its stream is gone.
    TnResult RetrieveNextBuffer(TnBuffer **aBuffer, uint32_t aTimeout = 0xFFFFFFFF, TnResult *aOperationResult = NULL);

    /// Gives a retrieved buffer back to the pipeline, which queues it again.
    /// ``TN_OK``, ``TN_INVALID_PARAMETER`` for a buffer that is not one of the
    /// pipeline's retrieved buffers, ``TN_NOT_ENOUGH_MEMORY`` when its
    /// reallocation fails.
    TnResult ReleaseBuffer(TnBuffer *aBuffer);

    /// Starts the pipeline's thread, which keeps buffers queued in the stream
    /// and moves filled ones to the output queue. ``TN_OK``;
    /// ``TN_NOT_CONNECTED`` when the stream is gone or closed;
    /// ``TN_NOT_ENOUGH_MEMORY``; ``TN_THREAD_ERROR``.
    TnResult Start();

    /// Stops the pipeline: its buffers come back from the stream; those in
    /// the output queue stay there. May be called from a sink, on the
    /// pipeline's thread too. ``TN_OK``.
    TnResult Stop();

    /// Aborts the stream's buffers, waits for them all to leave the stream
    /// and queues a fresh set. ``TN_OK``; ``TN_STATE_ERROR`` when the pipeline
    /// does not run or another reset is pending.
    TnResult Reset();

    /// Registers a sink; the pipeline does not own it. ``TN_OK``,
    /// ``TN_INVALID_PARAMETER`` for a null sink or one registered already.
    TnResult RegisterEventSink(TnPipelineEventSink *aEventSink);

    /// Unregisters a sink. Unless called from inside one of its calls, it
    /// returns once no call to it runs any more. ``TN_OK``,
    /// ``TN_INVALID_PARAMETER`` for a null sink, ``TN_NOT_FOUND`` for one not
    /// registered.
    TnResult UnregisterEventSink(TnPipelineEventSink *aEventSink);

    /// The priority of the pipeline's thread: 0 (the system's normal
    /// scheduling) to 99 (real-time scheduling, SCHED_FIFO, with the
    /// privilege for it).
    uint32_t GetBufferHandlingThreadPriority() const;

    /// Sets the priority of the pipeline's thread, now and when it starts
    /// again. ``TN_OK``, ``TN_INVALID_PARAMETER`` above 99, ``TN_THREAD_ERROR``
    /// when the system refuses it.
    TnResult SetBufferHandlingThreadPriority(uint32_t aPriority);

#ifndef SWIG
    tn::stream::PipelineState *GetState() const
    {
        return mState;
    }

private:
    TnPipeline(const TnPipeline &) = delete;
    TnPipeline &operator=(const TnPipeline &) = delete;
    tn::stream::PipelineState *mState;
#endif
};

#endif
