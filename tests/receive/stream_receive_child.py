"""Child programs of test_stream_receive.py. The isolated fixture runs each in
a network namespace of its own:

    stream_receive_child.py NAME [ARGUMENT...]

TARN_TEST_RECEIVER names the data receiver new_stream() asks for
(Automatic when unset), TARN_TEST_TOOLS the folder of the stream sender and
the C test camera; a program's tool arguments come as one argument string."""

import atexit
import json
import os
import pathlib
import subprocess
import sys
import threading
import time

import child
from child import out

import numpy as np

import tarn_base_313 as tarn
import tarn_receive_313 as rx

TOOLS = pathlib.Path(os.environ.get("TARN_TEST_TOOLS", "."))
ARGUMENTS = child.ARGUMENTS


def new_stream():
    """A GigE Vision stream with the data receiver the test asks for."""
    stream = rx.TnStreamGEV()
    receiver = os.environ.get("TARN_TEST_RECEIVER", "Automatic")
    assert stream.GetParameters().SetEnumValue("DataReceiver", receiver)[0].IsOK()
    return stream


# The fake camera's pattern: pixel (x, y) of block n is (x + y + n) % 255.
def fake_pattern(width, height, block):
    ramp = np.add.outer(np.arange(height), np.arange(width))
    return ((ramp + block) % 255).astype(np.uint8)


def holds_fake_pattern(buffer):
    image = buffer.GetImage()
    pixels = image.GetDataPointer()
    return pixels.shape == (image.GetHeight(), image.GetWidth()) and \
        bool((pixels == fake_pattern(image.GetWidth(), image.GetHeight(), buffer.GetBlockID())).all())


# The C test camera's and the SDK sender's: byte i is (i % line + i // line)
# & 0xFF, bytes 0 to 7 the block id.
def holds_test_pattern(buffer, width, rows=None):
    data = buffer.GetImage().GetDataPointer().reshape(-1)
    if int.from_bytes(bytes(data[:8]), "big") != buffer.GetBlockID():
        return False
    lines = data.reshape(-1, width)
    for row in range(lines.shape[0]) if rows is None else rows:
        index = np.arange(row * width, (row + 1) * width)
        expected = ((index % width + index // width) & 0xFF).astype(np.uint8)
        start = 8 if row == 0 else 0
        if not (lines[row, start:] == expected[start:]).all():
            return False
    return True


def sender(arguments, **options):
    """The stream sender tool, started with ARGUMENTS; killed at exit."""
    send = subprocess.Popen([str(TOOLS / "tn_gvsp_send"), *arguments.split()], **options)
    atexit.register(send.kill)
    return send


def start_fastcam(arguments):
    camera = child.start_camera([str(TOOLS / "fastcam"), "-q", *arguments.split()], "127.0.0.1", 100, 100)
    atexit.register(camera.kill)
    return camera


class Connection:
    """The device found at 127.0.0.1, connected, and a stream opened on it."""

    def __init__(self):
        system = tarn.TnSystem()
        system.SetDetectionTimeout(500)
        found, info = system.FindDevice("127.0.0.1")
        result, self.device = rx.TnDevice.CreateAndConnect(info)
        assert result.IsOK(), result.GetCodeString()
        self.features = self.device.GetParameters()
        self.stream = new_stream()
        assert self.stream.Open(info, 0).IsOK()
        out["receiver"] = self.stream.GetDataReceiverType()

    def start(self):
        assert self.device.SetStreamDestination(self.stream.GetLocalIPAddress(), self.stream.GetLocalPort()).IsOK()
        assert self.features.Get("AcquisitionStart").Execute().IsOK()

    def stop(self):
        self.features.Get("AcquisitionStop").Execute()


def open_stream(port):
    stream = new_stream()
    assert stream.Open("127.0.0.1", port).IsOK()
    out["receiver"] = stream.GetDataReceiverType()
    return stream


def receive_until_silent(stream, check):
    """Retrieves and queues again until 2 s pass without a frame: each
    frame's check."""
    checks = []
    while True:
        result, buffer, operation = stream.RetrieveBuffer(2000)
        if not result.IsOK():
            return checks
        checks.append(check(buffer, operation))
        stream.QueueBuffer(buffer)


if child.NAME == "fake_camera_frames_equal_what_aravis_receives":
    # aravis's own client first, from the same device: ARGUMENTS are its
    # command and the folder it saves frames to.
    grab_command, folder = json.loads(ARGUMENTS[0]), ARGUMENTS[1]
    camera = child.start_fake_camera("TNSTREAM")
    grab = subprocess.run(grab_command, capture_output=True, text=True, timeout=30,
                          env={k: v for k, v in os.environ.items() if k != "PYTHONPATH"})
    # The image's width and height, then the ids of the frames it saved.
    lines = [line.split() for line in grab.stdout.splitlines() if line]
    out["aravis"] = (lines[0] + [line[0] for line in lines[1:] if line[0].isdigit()]) if lines else []
    out["aravis errors"] = grab.stderr[-1000:]
    c = Connection()
    assert c.features.SetEnumValue("PixelFormat", "Mono8")[0].IsOK()
    width, height = c.features.GetIntegerValue("Width")[1], c.features.GetIntegerValue("Height")[1]
    buffers = [tarn.TnBuffer() for _ in range(6)]
    for buffer in buffers:
        buffer.Alloc(c.features.GetIntegerValue("PayloadSize")[1])
        assert c.stream.QueueBuffer(buffer).GetCode() == rx.TN_PENDING
    c.start()
    frames = []
    for _ in range(8):
        result, buffer, operation = c.stream.RetrieveBuffer(3000)
        image = buffer.GetImage()
        frames.append([result.GetCodeString(), operation.GetCodeString(), buffer.GetBlockID(), image.GetWidth(),
                       image.GetHeight(), image.GetPixelType() == rx.TnPixelMono8, holds_fake_pattern(buffer)])
        if len(frames) == 1:
            first = buffer.GetImage().GetDataPointer().copy()
        c.stream.QueueBuffer(buffer)
    c.stop()
    out["frames"] = frames
    out["size"] = [width, height]
    # What aravis received, shifted by the frame ids, is what arrived here.
    theirs = out["aravis"][2:]
    if theirs:
        saved = np.fromfile(f"{folder}/{theirs[0]}.raw", np.uint8).reshape(height, width)
        shift = (frames[0][2] - int(theirs[0])) % 255
        out["same as aravis"] = bool((((saved.astype(int) + shift) % 255) == first).all())
        out["aravis pattern"] = bool((saved == fake_pattern(width, height, int(theirs[0]))).all())
    c.stream.Close()
    camera.kill()

if child.NAME == "fake_camera_through_a_pipeline_with_a_python_sink":
    import gc
    import weakref

    class Sink(rx.TnPipelineEventSink):
        def __init__(self):
            super().__init__()
            self.frames, self.threads, self.done = [], set(), threading.Event()
            self.local, self.calls, self.given = threading.local(), [], set()

        def OnBufferReady(self, pipeline):
            self.threads.add(threading.get_ident())
            self.given.add(weakref.ref(pipeline))
            # One Python thread state serves every call on the pipeline's thread.
            self.local.calls = getattr(self.local, "calls", 0) + 1
            self.calls.append(self.local.calls)
            result, buffer, operation = pipeline.RetrieveNextBuffer(0)
            if result.IsOK():
                self.frames.append([buffer.GetBlockID(), operation.IsOK(), holds_fake_pattern(buffer)])
                pipeline.ReleaseBuffer(buffer)
            if len(self.frames) >= 6:
                self.done.set()

    camera = child.start_fake_camera("TNSTREAM")
    c = Connection()
    sink = Sink()
    pipeline = rx.TnPipeline(c.stream)
    pipeline.SetBufferSize(c.features.GetIntegerValue("PayloadSize")[1])
    assert pipeline.RegisterEventSink(sink).IsOK()
    out["start"] = pipeline.Start().GetCodeString()
    c.start()
    out["in time"] = sink.done.wait(20)
    c.stop()
    pipeline.Stop()
    out["frames"] = sink.frames
    out["own thread"] = threading.get_ident() not in sink.threads and len(sink.threads) == 1
    out["one state"] = sink.calls == list(range(1, len(sink.calls) + 1))
    # The objects the sink was given go once the pipeline's thread has ended.
    gc.collect()
    out["given"] = [len(sink.given), sum(given() is None for given in sink.given)]
    pipeline.UnregisterEventSink(sink)
    camera.kill()

if child.NAME == "fake_camera_packet_loss":
    # ARGUMENTS: the fake camera's packet loss in a thousand.
    camera = child.start_fake_camera("TNSTREAM", "-r", ARGUMENTS[0])
    c = Connection()
    buffers = child.queue_buffers(c.stream, 8, c.features.GetIntegerValue("PayloadSize")[1])
    c.start()
    complete = failed = wrong = 0
    for _ in range(40):
        result, buffer, operation = c.stream.RetrieveBuffer(3000)
        assert result.IsOK(), result.GetCodeString()
        if operation.IsOK():
            complete += 1
            wrong += not holds_fake_pattern(buffer)
        else:
            failed += 1
            assert buffer.GetLostPacketCount() > 0 or operation.GetCode() == rx.TN_RESENDS_FAILURE
        c.stream.QueueBuffer(buffer)
    c.stop()
    out["counts"] = [complete, failed, wrong]
    out["lost"] = c.stream.GetParameters().GetIntegerValue("PacketsLost")[1]
    camera.kill()

if child.NAME == "sender_loss_reordering_and_duplicates":
    stream = open_stream(50100)
    buffers = child.queue_buffers(stream, 32, 320 * 200)
    send = sender(ARGUMENTS[0])
    checks = receive_until_silent(stream, lambda buffer, operation: (
        operation.GetCodeString(), operation.IsOK() and holds_test_pattern(buffer, 320)))
    send.wait(30)
    out["complete"] = sum(code == "OK" for code, _ in checks)
    out["wrong"] = sum(code == "OK" and not good for code, good in checks)
    out["codes"] = sorted({code for code, _ in checks if code != "OK"})
    out["failed"] = len(checks) - out["complete"]
    features = stream.GetParameters()
    out["statistics"] = [features.GetIntegerValue(name)[1]
                         for name in ("PacketsLost", "PacketsOutOfOrder", "PacketsRedundant")]

if child.NAME == "timeouts_and_small_buffers":
    stream, small = rx.TnStreamGEV(), tarn.TnBuffer()
    assert stream.Open("127.0.0.1", 50102).IsOK()
    small.Alloc(1000)
    stream.QueueBuffer(small)
    result = stream.RetrieveBuffer(200)[0]
    out["silent"] = [result.GetCodeString(), result.GetDescription()]
    send = sender(ARGUMENTS[0])
    result, buffer, operation = stream.RetrieveBuffer(3000)
    out["small"] = [result.GetCodeString(), operation.GetCodeString(), operation.GetDescription(),
                    buffer.GetBlockID()]
    send.wait(30)
    # The other two blocks found no buffer: once the stream has counted them
    # (a loaded machine may take a while), nothing more comes.
    deadline = time.monotonic() + 20
    while stream.GetParameters().GetIntegerValue("BlocksDropped")[1] < 2 and time.monotonic() < deadline:
        time.sleep(0.02)
    stream.QueueBuffer(small)
    result = stream.RetrieveBuffer(200)[0]
    out["heard"] = [result.GetCodeString(), result.GetDescription()]
    rtp = rx.TnStreamRTP()
    rtp.PrepareFor(64, 48, rx.TnPixelMono8)
    assert rtp.Open("127.0.0.1", 0).IsOK()
    frame = tarn.TnBuffer()
    frame.Alloc(64 * 48)
    rtp.QueueBuffer(frame)
    out["rtp"] = [rtp.RetrieveBuffer(150)[0].GetDescription(), rtp.GetLocalPort()]

if child.NAME == "resend_against_the_sender":
    stream = new_stream()
    features = stream.GetParameters()
    assert features.SetIntegerValue("MaximumBlocksInFlight", 64).IsOK()
    assert stream.Open("127.0.0.1", 50101).IsOK()
    out["receiver"] = stream.GetDataReceiverType()
    # The sender's port answers no register read: it offers no resend, until told.
    out["offered"] = features.GetBooleanValue("DeviceSupportsPacketResend")[1]
    assert features.SetBooleanValue("RequestMissingPackets", True).IsOK()
    assert features.SetIntegerValue("ResendResponseTimeout", 200000).IsOK()
    assert features.SetIntegerValue("MaximumResendLateness", 2000000).IsOK()
    buffers = child.queue_buffers(stream, 64, 320 * 200)
    send = sender(ARGUMENTS[0])
    checks = receive_until_silent(stream, lambda buffer, operation: (
        buffer.GetBlockID(), operation.GetCodeString(), operation.IsOK() and holds_test_pattern(buffer, 320)))
    send.wait(30)
    out["ids"] = [block for block, _, _ in checks]
    out["bad"] = [[block, code] for block, code, good in checks if not good]
    out["recovered"] = features.GetIntegerValue("PacketsRecovered")[1]
    out["requests"] = features.GetIntegerValue("ResendRequestsSent")[1]
    out["dropped"] = features.GetIntegerValue("BlocksDropped")[1]

if child.NAME == "blocks_shorter_than_they_describe":
    # A stream on the C test camera, fed crafted blocks instead: a leader of
    # 64 x 16 Mono8, PACKETS payload packets of 256 bytes (each block's bytes
    # its id), and a trailer telling LINES.
    import socket
    import struct
    camera = start_fastcam("")
    found, info = tarn.TnSystem().FindDevice("127.0.0.1")
    stream = new_stream()
    assert stream.Open(info, 0).IsOK()
    out["receiver"] = stream.GetDataReceiverType()
    send = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    buffer = tarn.TnBuffer()
    buffer.Alloc(1024)
    out["blocks"] = []
    for block, packets, lines in [(1, 4, 16), (2, 1, 16), (3, 1, 4)]:
        header = lambda form, packet: struct.pack(">HHBBH", 0, block, form, 0, packet)
        datagrams = [header(1, 0) + struct.pack(">HHQIIIIIHH", 0, 1, 0, 0x01080001, 64, 16, 0, 0, 0, 0)]
        datagrams += [header(3, packet) + bytes([block]) * 256 for packet in range(1, packets + 1)]
        datagrams.append(header(2, packets + 1) + struct.pack(">HHI", 0, 1, lines))
        stream.QueueBuffer(buffer)
        for datagram in datagrams:
            send.sendto(datagram, ("127.0.0.1", stream.GetLocalPort()))
        result, buffer, operation = stream.RetrieveBuffer(2000)
        image = buffer.GetImage()
        out["blocks"].append([operation.GetCodeString(), operation.GetDescription(), image.GetWidth(),
                              image.GetHeight(), buffer.GetAcquiredSize(),
                              sorted(set(image.GetDataPointer().reshape(-1).tolist()))])
    stream.Close()
    camera.terminate()

if child.NAME == "fastcam_through_a_pipeline":
    # ARGUMENTS: the camera's arguments, the packet size, the frame width,
    # then how many frames to take, or "2s" for all in two seconds, and at
    # least 50 (a loaded machine's camera sends fewer a second), with eight
    # buffers and four rows checked.
    camera = start_fastcam(ARGUMENTS[0])
    width, frames = int(ARGUMENTS[2]), ARGUMENTS[3]
    c = Connection()
    c.features.SetIntegerValue("GevSCPSPacketSize", int(ARGUMENTS[1]))
    pipeline = rx.TnPipeline(c.stream)
    pipeline.SetBufferSize(c.features.GetIntegerValue("PayloadSize")[1])
    rows = None
    if frames == "2s":
        pipeline.SetBufferCount(8)
        height = c.features.GetIntegerValue("Height")[1]
        rows = (0, 1, height // 2 - 1, height - 1)
    pipeline.Start()
    c.start()
    complete = failed = wrong = taken = 0
    began = time.monotonic()
    while time.monotonic() < began + 2 or taken < 50 and time.monotonic() < began + 60 if frames == "2s" else \
            taken < int(frames):
        result, buffer, operation = pipeline.RetrieveNextBuffer(3000)
        assert result.IsOK(), result.GetCodeString()
        taken += 1
        if operation.IsOK():
            complete += 1
            wrong += not holds_test_pattern(buffer, width, rows)
        else:
            failed += 1
        pipeline.ReleaseBuffer(buffer)
    c.stop()
    pipeline.Stop()
    parameters = c.stream.GetParameters()
    out["counts"] = [complete, failed, wrong]
    out["resend"] = [parameters.GetBooleanValue("RequestMissingPackets")[1],
                     parameters.GetIntegerValue("PacketsRecovered")[1]]
    out["dropped"] = parameters.GetIntegerValue("PipelineImagesDropped")[1]
    camera.terminate()

if child.NAME == "fastcam_packet_size_changed_while_streaming":
    # Smaller, jumbo, then ordinary packets again, the stream open all along.
    camera = start_fastcam(ARGUMENTS[0])
    c = Connection()
    buffers = child.queue_buffers(c.stream, 16, 320 * 200)
    c.start()
    out["codes"] = []
    for size in (1500, 600, 8000, 1500):
        assert c.features.SetIntegerValue("GevSCPSPacketSize", size).IsOK()
        codes = []
        for _ in range(6):
            result, buffer, operation = c.stream.RetrieveBuffer(2000)
            assert result.IsOK(), result.GetCodeString()
            codes.append(operation.GetCodeString() if operation.IsOK() and holds_test_pattern(buffer, 320) else
                         "wrong " + operation.GetCodeString())
            c.stream.QueueBuffer(buffer)
        out["codes"].append(codes)
    c.stop()
    camera.terminate()

if child.NAME == "receive_thread_priority":
    def real_time_threads():
        time.sleep(0.2)
        return sum(os.sched_getscheduler(int(task)) == os.SCHED_FIFO for task in os.listdir("/proc/self/task"))

    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
        os.sched_setscheduler(0, os.SCHED_OTHER, os.sched_param(0))
        out["privileged"] = True
    except PermissionError:
        out["privileged"] = False
    stream = open_stream(50101)
    out["set"] = stream.SetUserModeDataReceiverThreadPriority(10).GetCodeString()
    out["got"] = stream.GetUserModeDataReceiverThreadPriority()
    out["real-time"] = real_time_threads()
    if out["receiver"] == 0:
        automatic = rx.TnStreamGEV()
        assert automatic.Open("127.0.0.1", 50102).IsOK()
        assert automatic.SetUserModeDataReceiverThreadPriority(10).IsOK()
        out["automatic"] = [automatic.GetDataReceiverType(), real_time_threads()]
        buffers = child.queue_buffers(automatic, 1, 320 * 200)
        assert sender(ARGUMENTS[0]).wait(30) == 0
        assert automatic.RetrieveBuffer(2000)[0].IsOK()
        out["automatic"] += [automatic.GetDataReceiverType(), real_time_threads()]

if child.NAME == "without_the_privilege":
    # This file again, as a process that may not open packet sockets.
    run = child.rerun("received_through_the_socket", *ARGUMENTS,
                      prefix=["setpriv", "--bounding-set", "-net_raw", "--inh-caps", "-net_raw"])
    out.update(run.result if run.result is not None else {"errors": run.stderr[-2000:]})

if child.NAME == "received_through_the_socket":
    stream = new_stream()
    assert stream.Open("127.0.0.1", 50103).IsOK()
    out["automatic"] = stream.GetDataReceiverType()
    buffers = child.queue_buffers(stream, 8, 320 * 200)
    send = sender(ARGUMENTS[0])
    out["good"] = sum(receive_until_silent(stream, lambda buffer, operation: (
        operation.IsOK() and holds_test_pattern(buffer, 320))))
    send.wait(30)
    stream.AbortQueuedBuffers()
    while stream.RetrieveBuffer(0)[0].IsOK():
        pass
    stream.Close()
    stream.GetParameters().SetEnumValue("DataReceiver", "PacketRing")
    out["ring"] = stream.Open("127.0.0.1", 50103).GetCodeString()

# ---------------------------------------------------------------- endings

if child.NAME == "sinks_stop_and_fail_on_every_thread":
    stream = open_stream(50102)
    send = sender(ARGUMENTS[0], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    class Stopping(rx.TnPipelineEventSink):
        def __init__(self):
            super().__init__()
            self.stopped = threading.Event()

        def OnBufferReady(self, pipeline):
            out["stop inside"] = pipeline.Stop().GetCodeString()
            out["started inside"] = pipeline.IsStarted()

        def OnStop(self, pipeline):
            self.stopped.set()

    stopping = Stopping()
    pipeline = rx.TnPipeline(stream)
    pipeline.RegisterEventSink(stopping)
    pipeline.Start()
    out["stopped by the sink"] = stopping.stopped.wait(10)
    time.sleep(0.2)
    out["started after"] = pipeline.IsStarted()
    out["again"] = pipeline.Start().GetCodeString()
    pipeline.UnregisterEventSink(stopping)
    pipeline.Stop()

    # Overrides that raise on the calling thread: each prints its line, and
    # the wrapper returns normally (no SystemError).
    class Failing(rx.TnPipelineEventSink):
        def OnStart(self, pipeline): raise RuntimeError("start")
        def OnStop(self, pipeline): raise RuntimeError("stop")
        def OnReset(self, pipeline): raise RuntimeError("reset")
        def OnBufferCreated(self, pipeline, buffer): raise ValueError("created")
        def OnBufferDeleted(self, pipeline, buffer): raise KeyError("deleted")
        def OnBufferReady(self, pipeline): raise RuntimeError("ready")

    failing = Failing()
    other = rx.TnPipeline(stream)
    other.RegisterEventSink(failing)
    print("--- calls", flush=True)
    out["calls"] = [other.SetBufferCount(2).GetCodeString(), other.Start().GetCodeString(),
                    other.Reset().GetCodeString(), other.Stop().GetCodeString()]
    del other
    print("--- done", flush=True)

if child.NAME == "streams_and_pipelines_end_in_any_order":
    stream = open_stream(50102)
    send = sender(ARGUMENTS[0], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # A stream freed with buffers queued: the buffers stay the program's.
    buffers = child.queue_buffers(stream, 4, 320 * 200)
    pipeline = rx.TnPipeline(stream)
    pipeline.SetBufferSize(320 * 200)
    pipeline.Start()
    out["running"] = pipeline.RetrieveNextBuffer(3000)[0].GetCodeString()
    del stream
    # Frames done before the stream went are still handed out; then the
    # pipeline says its stream is gone.
    for _ in range(64):
        result, ready, _ = pipeline.RetrieveNextBuffer(0)
        if not result.IsOK():
            break
        pipeline.ReleaseBuffer(ready)
    out["after the stream"] = [pipeline.IsStarted(), pipeline.Start().GetCodeString(), result.GetCodeString()]
    out["buffers"] = [buffer.GetSize() for buffer in buffers]
    del pipeline

    # A buffer dropped while queued leaves the stream first.
    stream = new_stream()
    assert stream.Open("127.0.0.1", 50102).IsOK()
    buffers = child.queue_buffers(stream, 4, 320 * 200)
    del buffers[0:2]
    out["queued"] = stream.GetQueuedBufferCount()
    result, buffer, operation = stream.RetrieveBuffer(3000)
    out["still receives"] = [result.GetCodeString(), any(buffer.this == kept.this for kept in buffers)]

    # A factory stream freed under a pipeline.
    result, made = rx.TnStream.CreateAndOpen("127.0.0.1")
    pipeline = rx.TnPipeline(made)
    out["factory"] = [type(made).__name__, pipeline.Start().GetCodeString()]
    rx.TnStream.Free(made)
    out["freed"] = [pipeline.IsStarted(), pipeline.Start().GetCodeString()]

if child.NAME == "exits_with_a_running_pipeline":
    # This file again, once for each way to end, with a pipeline running.
    endings = ["falls_off_its_end", "sys_exit", "keeps_everything"]
    out["results"] = {}
    for ending in endings:
        run = child.rerun("ending", ending, *ARGUMENTS, timeout=30)
        out["results"][ending] = [run.returncode, "exiting" in run.stdout, run.stderr[-300:]]

if child.NAME == "ending":
    ending, arguments = ARGUMENTS[0], ARGUMENTS[1]
    stream = open_stream(50102)
    send = sender(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    class Sink(rx.TnPipelineEventSink):
        def OnBufferReady(self, pipeline):
            result, buffer, operation = pipeline.RetrieveNextBuffer(0)
            if result.IsOK():
                pipeline.ReleaseBuffer(buffer)
            time.sleep(0.001)  # a sink that holds the thread while the program ends

    sink = Sink()
    sink.__disown__()
    pipeline = rx.TnPipeline(stream)
    pipeline.RegisterEventSink(sink)
    pipeline.Start()
    while pipeline.RetrieveNextBuffer(1000)[0].GetCode() != rx.TN_OK:
        pass
    print("exiting", flush=True)
    if ending == "sys_exit":
        sys.exit(3)
    if ending == "keeps_everything":
        keep = [stream, pipeline]
