/* Streams and the pipeline: the stream base with its factory, the GigE Vision,
 * RTP and USB3 Vision streams, the pipeline and its overridable event sink.
 * Buffers and device information come from the base module: here they are
 * pointer types only, whose proxy classes the base module binds. The stream event sink is a
 * pointer type only, with no proxy class anywhere. */

%{
#include "TnPipeline.h"
#include "TnPipelineEventSink.h"
#include "TnStream.h"
#include "TnStreamGEV.h"
#include "TnStreamRTP.h"
#include "TnStreamU3V.h"
%}

/* ------------------------------------------------------------------------
 * The stream base. */

/* A stream as the proxy of its class: a GigE Vision, RTP or USB3 Vision
 * stream, or the base class for any other. */
%{
static PyObject *tn_stream_to_python(TnStream *aStream)
{
    if (aStream == NULL) {
        return SWIG_Py_Void();
    }
    if (TnStreamGEV *gev = dynamic_cast<TnStreamGEV *>(aStream)) {
        return SWIG_NewPointerObj(gev, SWIGTYPE_p_TnStreamGEV, 0);
    }
    if (TnStreamRTP *rtp = dynamic_cast<TnStreamRTP *>(aStream)) {
        return SWIG_NewPointerObj(rtp, SWIGTYPE_p_TnStreamRTP, 0);
    }
    if (TnStreamU3V *u3v = dynamic_cast<TnStreamU3V *>(aStream)) {
        return SWIG_NewPointerObj(u3v, SWIGTYPE_p_TnStreamU3V, 0);
    }
    return SWIG_NewPointerObj(aStream, SWIGTYPE_p_TnStream, 0);
}
%}

/* CreateAndOpen: the tuple (result, stream or None). A stream that cannot
 * be handed to Python is freed again. */
%typemap(in, numinputs=0) TnResult *aResult (TnResult outcome) {
    $1 = &outcome;
}
%typemap(out) TnStream *CreateAndOpen {
    $result = tn_stream_to_python($1);
    if ($result == NULL && $1 != NULL) {
        SWIG_PYTHON_THREAD_BEGIN_ALLOW;
        TnStream::Free($1);
        SWIG_PYTHON_THREAD_END_ALLOW;
    }
}
%typemap(argout) TnResult *aResult {
    {
        PyObject *stream = $result;
        $result = stream != NULL ? SWIG_NewPointerObj(new TnResult(*$1), SWIGTYPE_p_TnResult, SWIG_POINTER_OWN) : NULL;
        $result = tn_output_tuple($result, &stream, 1);
    }
    if ($result == NULL) {
        SWIG_fail;
    }
}

/* Streams still open when the program ends are closed before the
 * interpreter shuts down (after their pipelines stopped). */
%pythonappend TnStream::CreateAndOpen %{
    if val[1] is not None:
        _tn_stop_at_exit(val[1], 1, "IsOpen", "Close")
%}
%pythonappend TnStream::Open %{
    _tn_stop_at_exit(self, 1, "IsOpen", "Close")
%}
%pythonappend TnStreamGEV::Open %{
    _tn_stop_at_exit(self, 1, "IsOpen", "Close")
%}
%pythonappend TnStreamRTP::Open %{
    _tn_stop_at_exit(self, 1, "IsOpen", "Close")
%}
%pythonappend TnStreamRTP::OpenTCP %{
    _tn_stop_at_exit(self, 1, "IsOpen", "Close")
%}
%pythonappend TnStreamU3V::Open %{
    _tn_stop_at_exit(self, 1, "IsOpen", "Close")
%}

/* Free: a stream it released leaves its proxy empty, and so do the
 * proxies of what it handed out (its parameters), and it notes no queued
 * buffer any more. */
TN_FREED_BY_FACTORY(TnStream, aStream)

/* Buffers queued to a stream: a buffer destroyed while queued leaves the
 * queue first (the SDK's doing), so the stream keeps none alive; it notes
 * each one's owner (the proxy that made it, whatever proxy was queued), and
 * the buffer retrieved keeps that owner, so that Python may rebind or drop
 * the name of the proxy it queued. A stream destroyed notes nothing. */
%exception TnStream::QueueBuffer {
    TN_GUARDED_ACTION
    if (result.GetCode() == TN_PENDING || result.IsOK()) {
        tn_note(static_cast<TnStream *>(arg1), arg2, swig_obj[1]);
    }
}
TN_LENDING_HOLDER(TnStream, static_cast<TnStream *>(arg1))
TN_LENDING_HOLDER(TnStreamGEV, static_cast<TnStream *>(arg1))
TN_LENDING_HOLDER(TnStreamRTP, static_cast<TnStream *>(arg1))
TN_LENDING_HOLDER(TnStreamU3V, static_cast<TnStream *>(arg1))

/* A buffer retrieved: a new borrowed proxy, which keeps the owner noted for
 * it (or, for a buffer queued by other means, the stream's). */
%{
static PyObject *tn_retrieved_buffer(TnStream *aStream, TnBuffer *aBuffer, PyObject *aStreamObject)
{
    PyObject *buffer = tn_new_pointer_obj(NULL, aBuffer, SWIGTYPE_p_TnBuffer, 0);
    PyObject *owner = aBuffer != NULL ? tn_take_note(aStream, aBuffer, aBuffer) : NULL;
    if (owner != NULL) {
        tn_keep_anchor(buffer, owner);
    } else if (buffer != NULL) {
        tn_keep_owner(buffer, aStreamObject);
    }
    return buffer;
}
%}

/* RetrieveBuffer: the list [result, buffer or None, operation result], none
 * of them gated on the result. */
%typemap(in, numinputs=0) (TnBuffer **aBuffer, TnResult *aOperationResult) (TnBuffer *slot = NULL,
                                                                             TnResult operation) {
    $1 = &slot;
    $2 = &operation;
}
%typemap(argout) (TnBuffer **aBuffer, TnResult *aOperationResult) {
    TN_APPEND(tn_append_output($result, tn_retrieved_buffer(arg1, *$1, swig_obj[0])))
    TN_APPEND(tn_append_output($result, SWIG_NewPointerObj(new TnResult(*$2), SWIGTYPE_p_TnResult, SWIG_POINTER_OWN)))
}

/* In print: a stream by where it receives (its local address and port) while
 * open, a pipeline by whether it runs and its buffers. */
%pythoncode %{
def _tn_stream_text(stream):
    name = type(stream).__name__
    if not stream.IsOpen():
        return "<%s, closed>" % name
    if hasattr(stream, "GetLocalPort"):
        return "<%s at %s port %d, open>" % (name, stream.GetLocalIPAddress(), stream.GetLocalPort())
    if hasattr(stream, "GetGUID"):
        return "<%s of %s, open>" % (name, stream.GetGUID())
    return "<%s channel %d, open>" % (name, stream.GetChannel())


def _tn_pipeline_text(pipeline):
    return "<TnPipeline %s, %d buffers of %d bytes>" % ("started" if pipeline.IsStarted() else "stopped",
                                                       pipeline.GetBufferCount(), pipeline.GetBufferSize())
%}
%define TN_READABLE_STREAM(CLASS, TEXT)
%extend CLASS {
%pythoncode %{
    def __repr__(self):
        return _tn_readable(self, TEXT)
%}
}
%enddef
TN_READABLE_STREAM(TnStream, _tn_stream_text)
TN_READABLE_STREAM(TnStreamGEV, _tn_stream_text)
TN_READABLE_STREAM(TnStreamRTP, _tn_stream_text)
TN_READABLE_STREAM(TnStreamU3V, _tn_stream_text)
TN_READABLE_STREAM(TnPipeline, _tn_pipeline_text)

/* A close or destruction that waits for a pipeline's sink (the stream
 * stops its pipelines) ends on Ctrl-C, and so do a pipeline's stop and
 * destruction; they finish by themselves once the sink has returned. */
TN_STOPS_HEARING_INTERRUPTS(TnStream, Close)
TN_DESTROYED_HEARING_INTERRUPTS(TnStream)
TN_DESTROYED_HEARING_INTERRUPTS(TnStreamGEV)
TN_DESTROYED_HEARING_INTERRUPTS(TnStreamRTP)
TN_DESTROYED_HEARING_INTERRUPTS(TnStreamU3V)
TN_STOPS_HEARING_INTERRUPTS(TnPipeline, Stop)
TN_DESTROYED_HEARING_INTERRUPTS(TnPipeline)

%include "TnStream.h"

%clear TnResult *aResult, TnStream *CreateAndOpen, TnStream *aStream;
%clear (TnBuffer **aBuffer, TnResult *aOperationResult);

/* ------------------------------------------------------------------------
 * The GigE Vision stream. */

TN_GATED_TUPLE_OUTPUT(uint32_t &aSize, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))

/* The device's address of IsDriverInstalled: a wrapped TnString only, as the
 * SDK takes it by non-constant reference; None is no string. */
%typemap(in) TnString &aIPAddress (void *argp = 0, int res = 0, TnUse tnuse) {
    res = SWIG_ConvertPtr($input, &argp, $descriptor, 0);
    if (!SWIG_IsOK(res)) {
        %argument_fail(res, "$type", $symname, $argnum);
    }
    if (argp == NULL) {
        %argument_nullref("$type", $symname, $argnum);
    }
    $1 = reinterpret_cast<$ltype>(argp);
    if (!TN_USE_BEGIN(tnuse, tn_use_pointer($input), "$symname", $argnum)) {
        SWIG_fail;
    }
}
%typecheck(SWIG_TYPECHECK_POINTER) TnString &aIPAddress {
    $1 = tn_string_check($input) || $input == Py_None;
}

%include "TnStreamGEV.h"

%clear uint32_t &aSize, TnString &aIPAddress;

/* ------------------------------------------------------------------------
 * The RTP stream. Its session description is a pointer type only. */

%include "TnStreamRTP.h"

/* ------------------------------------------------------------------------
 * The USB3 Vision stream. */

%include "TnStreamU3V.h"

/* A stream destroyed while another thread's call uses it (a retrieval that
 * waits for good) closes first: that call answers with what the close ends. */
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnStream, Close())
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnStreamGEV, Close())
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnStreamRTP, Close())
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnStreamU3V, Close())

/* ------------------------------------------------------------------------
 * The pipeline. */

/* RetrieveNextBuffer: the tuple (result, buffer or None, operation result)
 * of the form with a timeout; its other forms keep the SDK's parameters. */
%typemap(in) (TnBuffer **aBuffer, uint32_t aTimeout, TnResult *aOperationResult) (TnBuffer *slot = NULL,
                                                                                   TnResult operation,
                                                                                   unsigned int timeout = 0,
                                                                                   int res = 0) {
    res = SWIG_AsVal_unsigned_SS_int($input, &timeout);
    if (!SWIG_IsOK(res)) {
        %argument_fail(res, "uint32_t", $symname, 2);
    }
    $1 = &slot;
    $2 = timeout;
    $3 = &operation;
}
%typecheck(SWIG_TYPECHECK_UINT32) (TnBuffer **aBuffer, uint32_t aTimeout, TnResult *aOperationResult) {
    $1 = SWIG_CheckState(SWIG_AsVal_unsigned_SS_int($input, NULL));
}
%typemap(argout) (TnBuffer **aBuffer, uint32_t aTimeout, TnResult *aOperationResult) {
    {
        PyObject *values[2] = {SWIG_NewPointerObj(*$1, SWIGTYPE_p_TnBuffer, 0),
                               SWIG_NewPointerObj(new TnResult(*$3), SWIGTYPE_p_TnResult, SWIG_POINTER_OWN)};
        $result = tn_output_tuple($result, values, 2);
    }
    if ($result == NULL) {
        SWIG_fail;
    }
}
/* The buffer position of the other forms is checked as a number, as the
 * timeout form's first Python argument is: such a form is chosen only for
 * numbers, which are no buffer slots. */
%typecheck(SWIG_TYPECHECK_UINT32) TnBuffer **aBuffer {
    $1 = SWIG_CheckState(SWIG_AsVal_unsigned_SS_int($input, NULL));
}

/* A buffer handed to a sink keeps the pipeline's owner, as a retrieved one
 * does, so that a sink may keep it: the pipeline notes its owner when a sink
 * is registered through it (the note ends with that owner). */
%{
static const char tn_pipeline_owner_slot = 0;

static PyObject *tn_pipeline_owner(TnPipeline *aPipeline)
{
    PyObject *owner = tn_take_note(aPipeline, &tn_pipeline_owner_slot, aPipeline);
    if (owner != NULL) {
        tn_note(aPipeline, &tn_pipeline_owner_slot, owner);
    }
    return owner;
}
%}
%exception TnPipeline::RegisterEventSink {
    TN_GUARDED_ACTION
    tn_note(arg1, &tn_pipeline_owner_slot, swig_obj[0]);
}

/* Pipelines still running when the program ends are stopped before the
 * interpreter shuts down, before their streams are closed. */
%pythonappend TnPipeline::Start %{
    _tn_stop_at_exit(self, 0, "IsStarted", "Stop")
%}

%include "TnPipeline.h"

/* A pipeline destroyed while another thread's call uses it stops first. */
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnPipeline, Stop())

%clear (TnBuffer **aBuffer, uint32_t aTimeout, TnResult *aOperationResult), TnBuffer **aBuffer;

/* ------------------------------------------------------------------------
 * The pipeline's event sink, overridable from Python. */

TN_DIRECTOR(TnPipelineEventSink)
/* One call of the pipeline may reach the sinks several times on the thread
 * of a Python caller (OnBufferCreated for each buffer SetBufferCount makes).
 * An override that raised left its error pending there after the SDK had
 * answered its forwarding exception: each forwarded call starts clean, so
 * that the next override runs, and fails, on its own. */
%typemap(directorin) TnPipeline *aPipeline {
    PyErr_Clear();
    $input = tn_kept_proxy(SWIG_as_voidptr($1), $descriptor);
}
/* (A buffer handed to a sink keeps the pipeline's owner, noted above.) */
%typemap(directorin) TnBuffer *aBuffer {
    $input = SWIG_NewPointerObj(SWIG_as_voidptr($1), $descriptor, 0);
    tn_keep_anchor($input, tn_pipeline_owner(aPipeline));
}
/* The SDK's own implementations may come straight back into Python. */
%nothreadallow TnPipelineEventSink::OnBufferCreated;
%nothreadallow TnPipelineEventSink::OnBufferDeleted;
%nothreadallow TnPipelineEventSink::OnStart;
%nothreadallow TnPipelineEventSink::OnStop;
%nothreadallow TnPipelineEventSink::OnReset;
%nothreadallow TnPipelineEventSink::OnBufferTooSmall;
%nothreadallow TnPipelineEventSink::OnBufferReady;

%include "TnPipelineEventSink.h"

%clear TnPipeline *aPipeline, TnBuffer *aBuffer;
