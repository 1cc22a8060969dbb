"""Streams and the pipeline without a device: argument handling, overload
dispatch and its messages, ownership, and the pipeline event sink's
forwarding. Nothing here opens a stream (tests that do run in a network
namespace: test_stream_receive.py)."""

import pytest


def message(call, *args):
    with pytest.raises(Exception) as raised:
        call(*args)
    return raised.type, str(raised.value)


def overload_error(function, *prototypes):
    return (TypeError, f"Wrong number or type of arguments for overloaded function '{function}'.\n"
                       "  Possible C/C++ prototypes are:\n" + "".join(f"    {p}\n" for p in prototypes))


GEV_OPEN = [
    "TnStreamGEV::Open(TnDeviceInfo const *)",
    "TnStreamGEV::Open(TnDeviceInfo const *,uint16_t,uint16_t,TnString const &,uint32_t)",
    "TnStreamGEV::Open(TnDeviceInfo const *,uint16_t,uint16_t,TnString const &)",
    "TnStreamGEV::Open(TnDeviceInfo const *,uint16_t,uint16_t)",
    "TnStreamGEV::Open(TnDeviceInfo const *,uint16_t)",
    "TnStreamGEV::Open(TnDeviceInfo const *,TnString const &,uint16_t,uint16_t,TnString const &,uint32_t)",
    "TnStreamGEV::Open(TnDeviceInfo const *,TnString const &,uint16_t,uint16_t,TnString const &)",
    "TnStreamGEV::Open(TnDeviceInfo const *,TnString const &,uint16_t,uint16_t)",
    "TnStreamGEV::Open(TnDeviceInfo const *,TnString const &,uint16_t)",
    "TnStreamGEV::Open(TnString const &)",
    "TnStreamGEV::Open(TnString const &,uint16_t,uint16_t,TnString const &,uint32_t)",
    "TnStreamGEV::Open(TnString const &,uint16_t,uint16_t,TnString const &)",
    "TnStreamGEV::Open(TnString const &,uint16_t,uint16_t)",
    "TnStreamGEV::Open(TnString const &,uint16_t)",
    "TnStreamGEV::Open(TnString const &,TnString const &,uint16_t,uint16_t,TnString const &,uint32_t)",
    "TnStreamGEV::Open(TnString const &,TnString const &,uint16_t,uint16_t,TnString const &)",
    "TnStreamGEV::Open(TnString const &,TnString const &,uint16_t,uint16_t)",
    "TnStreamGEV::Open(TnString const &,TnString const &,uint16_t)",
]


def test_stream_dispatch_and_messages(rx, receive, tarn):
    stream = rx.TnStreamGEV()
    info = tarn.TnDeviceInfoGEV()
    create = ["TnStream::CreateAndOpen(TnDeviceInfo const *,TnResult *)",
              "TnStream::CreateAndOpen(TnString const &,TnResult *)"]
    assert message(receive.TnStream_CreateAndOpen, 42) == overload_error("TnStream_CreateAndOpen", *create)
    error, text = message(receive.TnStream_CreateAndOpen, info, 1)
    assert text == ("TnStream_CreateAndOpen expected at most 1 arguments, got 2\nAdditional information:\n" +
                    overload_error("TnStream_CreateAndOpen", *create)[1])
    assert message(receive.TnStream_Open, stream, 42) == (
        TypeError, "Argument 2: failed to create TnString from Python string")
    assert message(receive.TnStream_Open, 42, info) == overload_error(
        "TnStream_Open", "TnStream::Open(TnDeviceInfo const *)", "TnStream::Open(TnString const &)")
    retrieve = ["TnStream::RetrieveBuffer(TnBuffer **,TnResult *,uint32_t)",
                "TnStream::RetrieveBuffer(TnBuffer **,TnResult *)"]
    for timeout in (-1, 2**32, 1.5, None):
        assert message(receive.TnStream_RetrieveBuffer, stream, timeout) == overload_error(
            "TnStream_RetrieveBuffer", *retrieve)
    assert message(receive.TnStream_QueueBuffer, stream, 5) == (
        TypeError, "in method 'TnStream_QueueBuffer', argument 2 of type 'TnBuffer *'")
    assert message(receive.TnStream_RegisterEventSink, stream, 5) == (
        TypeError, "in method 'TnStream_RegisterEventSink', argument 2 of type 'TnStreamEventSink *'")
    # A stream event sink has no Python face: None only, and the SDK refuses it.
    assert stream.RegisterEventSink(None).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.UnregisterEventSink(None).GetCode() == rx.TN_INVALID_PARAMETER
    for name, kind in [("TnStream_Close", "TnStream *"), ("TnStream_GetType", "TnStream const *"),
                       ("TnStream_IsOpen", "TnStream const *"), ("TnStream_GetQueuedBufferCount", "TnStream const *"),
                       ("TnStreamGEV_FlushPacketQueue", "TnStreamGEV *"),
                       ("TnStreamGEV_GetLocalPort", "TnStreamGEV const *"), ("delete_TnStreamGEV", "TnStreamGEV *")]:
        assert message(getattr(receive, name), 5) == (TypeError, f"in method '{name}', argument 1 of type '{kind}'")
        if not name.startswith("delete_"):
            assert message(getattr(receive, name), None) == (
                TypeError, f"in method '{name}', argument 1 of type '{kind}'"), name
    assert receive.delete_TnStream(None) is None

    # The GigE Vision stream's opening forms.
    assert message(receive.TnStreamGEV_Open, stream, None, 65536) == overload_error("TnStreamGEV_Open", *GEV_OPEN)
    assert message(receive.TnStreamGEV_Open, stream, None, -1)[1] == overload_error("TnStreamGEV_Open", *GEV_OPEN)[1]
    assert message(receive.TnStreamGEV_Open, stream, None, 0, 0, "", 2**32)[0] is TypeError
    assert message(receive.TnStreamGEV_Open, stream, 5) == (
        TypeError, "Argument 2: failed to create TnString from Python string")
    assert message(receive.TnStreamGEV_Open, stream, None, 5.0, 1042) == (
        TypeError, "Argument 3: failed to create TnString from Python string")
    assert message(receive.TnStreamGEV_Open, stream, None, 65536, 1) == (
        TypeError, "Argument 3: failed to create TnString from Python string")
    assert message(receive.TnStreamGEV_Open, stream, "1.2.3.4", 0, 0, 7) == (
        TypeError, "Argument 5: failed to create TnString from Python string")
    error, text = message(receive.TnStreamGEV_Open, stream, None, 0, 0, "", 64, 1, 2)
    assert text.startswith("TnStreamGEV_Open expected at most 7 arguments, got 8\nAdditional information:\n")
    assert message(receive.TnStreamGEV_Open, rx.TnPipeline(stream), None)[1].startswith(
        "Wrong number or type of arguments for overloaded function 'TnStreamGEV_Open'.")
    # Device information of no GigE Vision device, or without an address: refused by the SDK.
    assert stream.Open(tarn.TnDeviceInfoU3V(), 0).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.Open(info).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.Open(None).GetCode() == rx.TN_INVALID_PARAMETER
    assert not stream.IsOpen()

    # Settings and the driver test.
    assert message(receive.TnStreamGEV_SetWaitForFirstPacketOfBlockToStart, stream, 1) == (
        TypeError, "in method 'TnStreamGEV_SetWaitForFirstPacketOfBlockToStart', argument 2 of type 'bool'")
    assert message(receive.TnStreamGEV_SetUserModeRxPacketBufferSize, stream, -1) == (
        OverflowError, "in method 'TnStreamGEV_SetUserModeRxPacketBufferSize', argument 2 of type 'uint32_t'")
    assert message(receive.TnStreamGEV_SetUserModeSocketRxBufferSize, stream, "x") == (
        TypeError, "in method 'TnStreamGEV_SetUserModeSocketRxBufferSize', argument 2 of type 'uint32_t'")
    assert stream.SetUserModeRxPacketBufferSize(100000).IsOK()
    result, size = stream.GetUserModeSocketRxBufferSize()
    assert result.GetCode() == rx.TN_NOT_CONNECTED and size is None
    assert stream.SetWaitForFirstPacketOfBlockToStart(True).GetCode() == rx.TN_NOT_CONNECTED
    assert stream.SetUserModeDataReceiverThreadPriority(100).GetCode() == rx.TN_INVALID_PARAMETER
    driver = ["TnStreamGEV::IsDriverInstalled(TnString &,bool &,TnString const &)",
              "TnStreamGEV::IsDriverInstalled(TnString &,bool &)"]
    assert message(receive.TnStreamGEV_IsDriverInstalled, "1.2.3.4", None) == overload_error(
        "TnStreamGEV_IsDriverInstalled", *driver)
    flag = receive.TnPipelineEventSink_OnBufferTooSmall  # no bool * maker exists: only pointer objects passed in
    assert callable(flag)
    assert stream.GetType() == rx.TnStreamTypeGEV and stream.GetDataReceiverType() == rx.TnDataReceiverTypeUserMode
    assert rx.TnStream.GetType(stream) == rx.TnStreamTypeGEV
    assert stream.GetLocalPort() == 0 and stream.GetLocalIPAddress() == "" and stream.GetDeviceIPAddress() == ""
    assert stream.GetQueuedBufferCount() == 0 and stream.GetChannel() == 0


def test_stream_ownership_and_buffers(rx, receive, tarn):
    stream = rx.TnStreamGEV()
    # Free leaves a stream Python owns alone; a null stream is nothing.
    assert rx.TnStream.Free(stream) is None and stream.IsOpen() is False
    assert rx.TnStream.Free(None) is None
    result, none = rx.TnStream.CreateAndOpen(tarn.TnDeviceInfoU3V())
    assert result.GetCode() == rx.TN_NOT_FOUND and none is None
    result, none = rx.TnStream.CreateAndOpen("EXAMPLE-GUID")
    assert result.GetCode() == rx.TN_NOT_FOUND and none is None
    # Closed: nothing queues, retrieval says so; the list has three items.
    buffer = tarn.TnBuffer()
    buffer.Alloc(64)
    assert stream.QueueBuffer(buffer).GetCode() == rx.TN_NOT_CONNECTED
    retrieved = stream.RetrieveBuffer(0)
    assert isinstance(retrieved, list) and len(retrieved) == 3
    assert retrieved[0].GetCode() == rx.TN_NOT_CONNECTED and retrieved[1] is None
    assert type(retrieved[2]).__name__ == "TnResult"
    assert stream.GetParameters() is not stream.GetParameters()  # a new borrowed proxy each time
    assert stream.GetParameters().GetBooleanValue("RequestMissingPackets")[0].IsOK()


def test_pipeline_dispatch_and_settings(rx, receive):
    stream = rx.TnStreamGEV()
    pipeline = rx.TnPipeline(stream)
    prototypes = ["TnPipeline::RetrieveNextBuffer(TnBuffer **,uint32_t,TnResult *)",
                  "TnPipeline::RetrieveNextBuffer(TnBuffer **,uint32_t)",
                  "TnPipeline::RetrieveNextBuffer(TnBuffer **)"]
    for args in [(pipeline,), (pipeline, -1), (pipeline, 2**32), (pipeline, 1.5), (pipeline, "x"),
                 (pipeline, 1, "x")]:
        assert message(receive.TnPipeline_RetrieveNextBuffer, *args) == overload_error(
            "TnPipeline_RetrieveNextBuffer", *prototypes)
    assert message(receive.TnPipeline_RetrieveNextBuffer, pipeline, 1, 2) == (
        TypeError, "in method 'TnPipeline_RetrieveNextBuffer', argument 2 of type 'TnBuffer **'")
    assert message(receive.TnPipeline_RetrieveNextBuffer, pipeline, 1, 2, 3)[1].startswith(
        "TnPipeline_RetrieveNextBuffer expected at most 3 arguments, got 4")
    result, buffer, operation = pipeline.RetrieveNextBuffer(0)
    assert result.GetCode() == rx.TN_NO_MORE_ITEM and buffer is None and type(operation).__name__ == "TnResult"
    assert pipeline.RetrieveNextBuffer(2**32 - 1)[0].GetCode() == rx.TN_NO_MORE_ITEM  # not started: no wait
    assert message(receive.TnPipeline_SetHandleBufferTooSmall, pipeline, 1) == (
        TypeError, "in method 'TnPipeline_SetHandleBufferTooSmall', argument 2 of type 'bool'")
    assert message(receive.TnPipeline_SetBufferSize, pipeline, -1) == (
        OverflowError, "in method 'TnPipeline_SetBufferSize', argument 2 of type 'uint32_t'")
    assert message(receive.TnPipeline_GetBufferSize, None) == (
        TypeError, "in method 'TnPipeline_GetBufferSize', argument 1 of type 'TnPipeline const *'")
    assert message(receive.TnPipeline_Start, 5) == (
        TypeError, "in method 'TnPipeline_Start', argument 1 of type 'TnPipeline *'")
    assert message(receive.TnPipeline_ReleaseBuffer, pipeline, 5) == (
        TypeError, "in method 'TnPipeline_ReleaseBuffer', argument 2 of type 'TnBuffer *'")
    assert message(receive.TnPipeline_RegisterEventSink, pipeline, 5) == (
        TypeError, "in method 'TnPipeline_RegisterEventSink', argument 2 of type 'TnPipelineEventSink *'")
    assert message(receive.new_TnPipeline, 5) == (
        TypeError, "in method 'new_TnPipeline', argument 1 of type 'TnStream *'")
    assert receive.delete_TnPipeline(None) is None
    assert pipeline.SetBufferSize(4096) is None and pipeline.GetBufferSize() == 4096
    assert pipeline.SetHandleBufferTooSmall(False) is None and pipeline.GetHandleBufferTooSmall() is False
    assert pipeline.GetBufferCount() == 16 and pipeline.GetOutputQueueSize() == 0 and pipeline.IsStarted() is False
    assert pipeline.SetBufferCount(0).GetCode() == rx.TN_INVALID_PARAMETER
    assert pipeline.SetBufferCount(3).IsOK() and pipeline.GetBufferCount() == 3
    assert pipeline.Start().GetCode() == rx.TN_NOT_CONNECTED  # the stream is closed
    assert pipeline.Reset().GetCode() == rx.TN_STATE_ERROR
    assert pipeline.Stop().IsOK()
    assert pipeline.ReleaseBuffer(None).GetCode() == rx.TN_INVALID_PARAMETER
    assert pipeline.RegisterEventSink(None).GetCode() == rx.TN_INVALID_PARAMETER
    assert pipeline.UnregisterEventSink(rx.TnPipelineEventSink()).GetCode() == rx.TN_NOT_FOUND
    assert pipeline.SetBufferHandlingThreadPriority(100).GetCode() == rx.TN_INVALID_PARAMETER
    assert pipeline.SetBufferHandlingThreadPriority(0).IsOK() and pipeline.GetBufferHandlingThreadPriority() == 0
    # A pipeline on no stream, and one whose stream goes first.
    orphan = rx.TnPipeline(None)
    assert orphan.Start().GetCode() == rx.TN_NOT_CONNECTED
    del stream
    assert pipeline.Start().GetCode() == rx.TN_NOT_CONNECTED
    assert pipeline.RetrieveNextBuffer(0)[0].GetCode() == rx.TN_NOT_CONNECTED


def test_sink_forwarding_and_upcalls(rx, receive, capsys):
    calls = []

    class Quiet(rx.TnPipelineEventSink):
        pass

    class Loud(rx.TnPipelineEventSink):
        def OnBufferCreated(self, pipeline, buffer):
            calls.append(("created", type(pipeline).__name__, buffer.GetSize()))
            raise ValueError("created")

        def OnBufferDeleted(self, pipeline, buffer):
            calls.append("deleted")
            return 42  # ignored

        def OnBufferTooSmall(self, pipeline, realloc_all, reset_stats):
            calls.append((repr(realloc_all).split("'")[1], repr(reset_stats).split("'")[1]))
            rx.TnPipelineEventSink.OnBufferTooSmall(self, pipeline, realloc_all, reset_stats)

    stream = rx.TnStreamGEV()
    pipeline = rx.TnPipeline(stream)
    loud, quiet = Loud(), Quiet()
    assert pipeline.RegisterEventSink(loud).IsOK() and pipeline.RegisterEventSink(quiet).IsOK()
    assert pipeline.RegisterEventSink(loud).GetCode() == rx.TN_INVALID_PARAMETER
    # Two buffers made, each override raising on the calling thread: one line
    # each, and the wrapper returns its result.
    assert pipeline.SetBufferCount(2).IsOK()
    out = capsys.readouterr().out
    assert out == "In method 'OnBufferCreated': ValueErrorcreated\n" * 2
    assert calls == [("created", "TnPipeline", 0)] * 2
    assert pipeline.SetBufferCount(1).IsOK()
    assert calls[-1] == "deleted"
    # Upcalls: the SDK's defaults; None is no sink.
    assert rx.TnPipelineEventSink.OnStart(quiet, pipeline) is None
    assert rx.TnPipelineEventSink.OnBufferReady(quiet, None) is None
    assert rx.TnPipelineEventSink.OnBufferTooSmall(quiet, pipeline, None, None) is None
    assert message(receive.TnPipelineEventSink_OnStart, None, pipeline)[0] is TypeError
    assert message(receive.TnPipelineEventSink_OnBufferTooSmall, quiet, pipeline, True, False) == (
        TypeError, "in method 'TnPipelineEventSink_OnBufferTooSmall', argument 3 of type 'bool *'")
    assert message(receive.TnPipelineEventSink_OnBufferCreated, quiet, pipeline, 5) == (
        TypeError, "in method 'TnPipelineEventSink_OnBufferCreated', argument 3 of type 'TnBuffer *'")
    assert message(receive.TnPipelineEventSink_OnStop, quiet) == (
        TypeError, "TnPipelineEventSink_OnStop expected 2 arguments, got 1")
    plain = rx.TnPipelineEventSink()
    assert plain.OnReset(pipeline) is None and receive.disown_TnPipelineEventSink(plain) is None
    # Disowning twice takes one reference.
    import sys
    before = sys.getrefcount(loud)
    loud.__disown__()
    receive.disown_TnPipelineEventSink(loud)
    assert sys.getrefcount(loud) == before + 1
    assert pipeline.UnregisterEventSink(loud).IsOK() and pipeline.UnregisterEventSink(quiet).IsOK()


def test_sink_lookups_fail_as_stated(rx, capsys):
    class Uninitialised(rx.TnPipelineEventSink):
        def __init__(self):
            pass

    class Missing(rx.TnPipelineEventSink):
        def __getattribute__(self, name):
            if name == "OnBufferCreated":
                raise AttributeError(name)
            return super().__getattribute__(name)

    stream = rx.TnStreamGEV()
    pipeline = rx.TnPipeline(stream)
    missing = Missing()
    with pytest.raises(Exception):
        pipeline.RegisterEventSink(Uninitialised())
    assert pipeline.RegisterEventSink(missing).IsOK()
    assert pipeline.SetBufferCount(1).IsOK()  # the missing method fails the forwarding, not the call
    assert capsys.readouterr().out == ""
    pipeline.UnregisterEventSink(missing)


RTP_OPEN = [
    "TnStreamRTP::Open(TnDeviceInfo const *)",
    "TnStreamRTP::Open(TnString const &)",
    "TnStreamRTP::Open(TnSessionInfoSDP const *,TnString const &,uint16_t)",
    "TnStreamRTP::Open(TnSessionInfoSDP const *,TnString const &)",
    "TnStreamRTP::Open(TnString const &,uint16_t)",
    "TnStreamRTP::Open(TnString const &,uint16_t,TnString const &)",
]


def test_rtp_stream_dispatch_and_messages(rx, receive, tarn):
    stream = rx.TnStreamRTP()
    # The forms: device information and text are not supported, nor are
    # session descriptions (None is the only one Python has); a local address
    # with a port is unicast, a group with a port and an address multicast.
    assert stream.Open(tarn.TnDeviceInfoGEV()).GetCode() == rx.TN_NOT_SUPPORTED
    assert stream.Open("127.0.0.1").GetCode() == rx.TN_NOT_SUPPORTED
    assert stream.Open(None, "127.0.0.1").GetCode() == rx.TN_NOT_SUPPORTED
    assert stream.Open(None, "127.0.0.1", 5004).GetCode() == rx.TN_NOT_SUPPORTED
    assert message(receive.TnStreamRTP_Open, stream, None, 5) == (
        TypeError, "Argument 3: failed to create TnString from Python string")
    assert message(receive.TnStreamRTP_Open, stream, 5, 5) == (
        TypeError, "Argument 2: failed to create TnString from Python string")
    assert message(receive.TnStreamRTP_Open, stream, "239.1.1.1", 5, 7) == (
        TypeError, "Argument 4: failed to create TnString from Python string")
    for args in [("1.2.3.4", 65536), ("1.2.3.4", -1), ("1.2.3.4", 1.0), ("239.1.1.1", 65536, "")]:
        assert message(receive.TnStreamRTP_Open, stream, *args) == overload_error("TnStreamRTP_Open", *RTP_OPEN)
    assert message(receive.TnStreamRTP_Open, stream) == overload_error("TnStreamRTP_Open", *RTP_OPEN)
    error, text = message(receive.TnStreamRTP_Open, stream, "a", 1, "b", 2)
    assert text == ("TnStreamRTP_Open expected at most 4 arguments, got 5\nAdditional information:\n" +
                    overload_error("TnStreamRTP_Open", *RTP_OPEN)[1])
    assert message(receive.TnStreamRTP_Open, rx.TnStreamGEV(), "127.0.0.1", 0)[1].startswith(
        "Wrong number or type of arguments for overloaded function 'TnStreamRTP_Open'.")
    # Addresses the SDK refuses before it binds anything.
    assert stream.Open("localhost", 0).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.Open("10.1.2.3", 5004, "").GetCode() == rx.TN_INVALID_PARAMETER  # no multicast group
    assert stream.OpenTCP("", 5004).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.OpenTCP("127.0.0.1", 0).GetCode() == rx.TN_INVALID_PARAMETER
    assert not stream.IsOpen()

    prepare = ["TnStreamRTP::PrepareFor(uint32_t,uint32_t,TnPixelType,uint16_t)",
               "TnStreamRTP::PrepareFor(uint32_t,uint32_t,TnPixelType)"]
    for args in [(-1, 2, rx.TnPixelMono8), (2, 2, 2**31), (2, 2, rx.TnPixelMono8, 65536), (2, 2, 1.0)]:
        assert message(receive.TnStreamRTP_PrepareFor, stream, *args) == overload_error(
            "TnStreamRTP_PrepareFor", *prepare)
    assert message(receive.TnStreamRTP_PrepareFor, stream, 1, 2, 3, 4, 5)[1].startswith(
        "TnStreamRTP_PrepareFor expected at most 5 arguments, got 6\nAdditional information:\n")
    assert stream.PrepareFor(640, 480, rx.TnPixelRGB8).IsOK()
    assert stream.PrepareFor(640, 480, rx.TnPixelYUV422_8_UYVY, 16).IsOK()
    assert stream.PrepareFor(641, 480, rx.TnPixelYUV422_8_UYVY).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.PrepareFor(640, 480, rx.TnPixelMono16).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.PrepareFor(0, 480, rx.TnPixelMono8).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.PrepareForH264().IsOK() and stream.ResetPayloadType().IsOK()

    assert message(receive.TnStreamRTP_OpenTCP, stream, "1.2.3.4", 65536) == (
        OverflowError, "in method 'TnStreamRTP_OpenTCP', argument 3 of type 'uint16_t'")
    assert message(receive.TnStreamRTP_OpenTCP, stream, "1.2.3.4", 1.0) == (
        TypeError, "in method 'TnStreamRTP_OpenTCP', argument 3 of type 'uint16_t'")
    assert message(receive.TnStreamRTP_OpenTCP, stream, 7, 1) == (
        TypeError, "Argument 2: failed to create TnString from Python string")
    assert message(receive.TnStreamRTP_OpenTCP, stream, "1.2.3.4")[1] == (
        "TnStreamRTP_OpenTCP expected 3 arguments, got 2")
    assert message(receive.TnStreamRTP_SetThreadPriority, stream, -1) == (
        OverflowError, "in method 'TnStreamRTP_SetThreadPriority', argument 2 of type 'uint32_t'")
    assert stream.SetThreadPriority(100).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.SetThreadPriority(0).IsOK() and stream.GetThreadPriority() == 0

    # None or another class as the stream is refused before the SDK is called.
    for name, kind in [("TnStreamRTP_GetLocalPort", "TnStreamRTP const *"),
                       ("TnStreamRTP_GetLocalIPAddress", "TnStreamRTP const *"),
                       ("TnStreamRTP_GetMulticastIPAddress", "TnStreamRTP const *"),
                       ("TnStreamRTP_GetTCPServerIPAddress", "TnStreamRTP const *"),
                       ("TnStreamRTP_GetTCPServerPort", "TnStreamRTP const *"),
                       ("TnStreamRTP_GetThreadPriority", "TnStreamRTP const *"),
                       ("TnStreamRTP_GetType", "TnStreamRTP const *"),
                       ("TnStreamRTP_PrepareForH264", "TnStreamRTP *"),
                       ("TnStreamRTP_ResetPayloadType", "TnStreamRTP *")]:
        for bad in (None, rx.TnStreamGEV()):
            assert message(getattr(receive, name), bad) == (
                TypeError, f"in method '{name}', argument 1 of type '{kind}'"), name
    for call, args in [(receive.TnStreamRTP_OpenTCP, ("1.2.3.4", 1)), (receive.TnStreamRTP_SetThreadPriority, (1,)),
                       (receive.TnStreamRTP_PrepareFor, (2, 2, rx.TnPixelMono8)),
                       (receive.TnStreamRTP_Open, ("127.0.0.1", 0))]:
        assert message(call, None, *args)[0] is TypeError
    assert receive.delete_TnStreamRTP(None) is None

    # Closed: the stream base works on it; nothing of an opening shows.
    assert stream.GetType() == rx.TnStreamTypeRTP and rx.TnStream.GetType(stream) == rx.TnStreamTypeRTP
    assert (stream.GetLocalPort(), stream.GetLocalIPAddress(), stream.GetMulticastIPAddress(),
            stream.GetTCPServerIPAddress(), stream.GetTCPServerPort()) == (0, "", "", "", 0)
    assert stream.QueueBuffer(tarn.TnBuffer()).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.GetParameters().GetIntegerValue("ReorderTolerance")[1] == 2000
    assert rx.TnPipeline(stream).Start().GetCode() == rx.TN_NOT_CONNECTED
