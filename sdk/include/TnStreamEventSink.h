// What a stream tells about its buffers, for the SDK's C++ users.
#ifndef TN_STREAM_EVENT_SINK_H
#define TN_STREAM_EVENT_SINK_H

#include "TnExport.h"

class TnBuffer;
class TnStream;

/// Told of a stream's buffers as the stream hands them back. The calls come
/// on the stream's receive thread (or on the thread that aborts or closes the
/// stream), with no lock of the stream held: keep them short, and do not wait
/// there for the stream's buffers.
class TN_STREAM_API TnStreamEventSink
{
public:
    TnStreamEventSink();
    virtual ~TnStreamEventSink();

    /// A buffer, filled or failed, waits to be retrieved.
    virtual void OnBufferReady(TnStream *aStream, TnBuffer *aBuffer);

    /// The stream closes; its buffers come back aborted.
    virtual void OnClose(TnStream *aStream);
};

#endif
