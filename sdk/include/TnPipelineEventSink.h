// What a pipeline tells about its work.
#ifndef TN_PIPELINE_EVENT_SINK_H
#define TN_PIPELINE_EVENT_SINK_H

#include "TnExport.h"

class TnBuffer;
class TnPipeline;

/// Told of a pipeline's buffers and state changes; override the operations
/// of interest. The pipeline calls a sink with none of its locks held:
///
/// - ``OnStart``, ``OnStop`` and ``OnReset`` on the thread that called the
///   pipeline's ``Start``, ``Stop`` or ``Reset``;
/// - ``OnBufferCreated`` right after the pipeline creates a buffer, before the
///   buffer's memory is allocated, and ``OnBufferDeleted`` right before it
///   deletes one, on the thread that made it do so;
/// - ``OnBufferReady`` on the pipeline's own thread, once a buffer taken from
///   the stream waits in the output queue;
/// - ``OnBufferTooSmall`` on the pipeline's own thread, when a block did not
///   fit its buffer.
///
/// A sink may call the pipeline back, ``Stop`` and ``RetrieveNextBuffer``
/// included. What a sink throws is logged and goes no further.
class TN_STREAM_API TnPipelineEventSink
{
public:
    TnPipelineEventSink();

    /// Unregisters the sink from every pipeline it is registered with.
    virtual ~TnPipelineEventSink();

    /// The pipeline created a buffer; its memory is not allocated yet.
    virtual void OnBufferCreated(TnPipeline *aPipeline, TnBuffer *aBuffer);

    /// The pipeline is about to delete a buffer.
    virtual void OnBufferDeleted(TnPipeline *aPipeline, TnBuffer *aBuffer);

    /// The pipeline started.
    virtual void OnStart(TnPipeline *aPipeline);

    /// The pipeline stopped.
    virtual void OnStop(TnPipeline *aPipeline);

    /// The pipeline was reset.
    virtual void OnReset(TnPipeline *aPipeline);

    /// A block did not fit its buffer. Both flags come in false. When a sink
    /// sets ``aReallocAll``, the pipeline reallocates all its buffers at once
    /// after the notification, and ``aResetStats`` (heeded only together with
    /// ``aReallocAll``) resets the stream's statistics; otherwise only the
    /// failed buffer is reallocated before it is queued again. The default
    /// sets both.
    virtual void OnBufferTooSmall(TnPipeline *aPipeline, bool *aReallocAll, bool *aResetStats);

    /// A buffer waits in the output queue: ``RetrieveNextBuffer`` takes it.
    virtual void OnBufferReady(TnPipeline *aPipeline);

#ifndef SWIG
private:
    TnPipelineEventSink(const TnPipelineEventSink &) = delete;
    TnPipelineEventSink &operator=(const TnPipelineEventSink &) = delete;
#endif
};

#endif
