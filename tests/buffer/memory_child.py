"""Child programs of test_memory.py: memory_child.py NAME [ARGUMENTS]. The
first two run with their address space capped at ARGUMENTS[0] bytes (the
second asks for ARGUMENTS[1] buffers of 1 MiB, more than the machine holds);
the others run in a network namespace of their own (the isolated fixture)."""

import resource

import child
from child import out

import tarn_base_313 as tarn
import tarn_receive_313 as rx

GiB = 1 << 30
MiB = 1 << 20


def status(name):
    with open("/proc/self/status") as lines:
        return next(int(line.split()[1]) * 1024 for line in lines if line.startswith(name + ":"))


if child.NAME in ("buffers_and_images_commit_only_what_is_written", "pipeline_buffers_beyond_the_machine_fail_at_once"):
    cap = int(child.ARGUMENTS[0])
    resource.setrlimit(resource.RLIMIT_AS, (cap, cap))


if child.NAME == "buffers_and_images_commit_only_what_is_written":
    start = status("VmRSS")
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
    out["alloc"] = buffer.Alloc(GiB).IsOK()
    view = buffer.GetDataPointer()
    out["zero"] = int(view[0]) + int(view[GiB // 2]) + int(view[-1])
    view[GiB // 3] = 7
    out["written"] = int(buffer.GetDataPointer()[GiB // 3])
    image = tarn.TnBuffer().GetImage()
    out["image"] = image.Alloc(32768, 32768, tarn.TnPixelMono8).IsOK()
    out["image_zero"] = int(image.GetDataPointer()[-1, -1])
    out["grown"] = status("VmHWM") - start
    buffer.Free()


if child.NAME == "pipeline_buffers_beyond_the_machine_fail_at_once":
    beyond = int(child.ARGUMENTS[1])
    start = status("VmHWM")
    pipeline = rx.TnPipeline(None)
    assert pipeline.GetBufferSize() == MiB
    out["thousand"] = pipeline.SetBufferCount(1000).GetCode()
    out["count"] = pipeline.GetBufferCount()
    out["grown"] = status("VmHWM") - start
    refused = pipeline.SetBufferCount(beyond)
    out["beyond"] = refused.GetCode()
    out["after"] = pipeline.GetBufferCount()
    out["beyond_grown"] = status("VmHWM") - start
    pipeline.SetBufferSize(0xFFFFFFFF)
    out["large"] = pipeline.SetBufferCount(beyond // 4096 + 8).GetCode()
    out["last"] = pipeline.GetBufferCount()


if child.NAME == "a_started_pipeline_commits_only_what_its_stream_fills_next":
    # ARGUMENTS: the buffer size, the count (0: as many as the stream
    # queues), and which of them is set first. The codes of SetBufferCount
    # and Start, and their descriptions under "why".
    size, count, first = int(child.ARGUMENTS[0]), int(child.ARGUMENTS[1]), child.ARGUMENTS[2]
    stream = rx.TnStreamRTP()
    assert stream.Open("127.0.0.1", 0).IsOK()
    pipeline = rx.TnPipeline(stream)
    start = status("VmHWM")
    results = {}
    setters = {"size": lambda: pipeline.SetBufferSize(size),
               "count": lambda: results.update(count=pipeline.SetBufferCount(count or stream.GetQueuedBufferMaximum()))}
    for name in (first, "count" if first == "size" else "size"):
        setters[name]()
    results["start"] = pipeline.Start()
    out.update({name: result.GetCodeString() for name, result in results.items()})
    out["why"] = {name: result.GetDescription() for name, result in results.items()}
    out["pool"], out["running"] = pipeline.GetBufferCount(), pipeline.IsStarted()
    out["queued"] = stream.GetQueuedBufferCount()
    out["grown"] = status("VmHWM") - start
    pipeline.Stop()
    del pipeline
    stream.Close()


if child.NAME == "a_size_beyond_the_machine_is_refused_by_the_next_release":
    # ARGUMENTS: a count of 4 GiB buffers beyond the machine. Frames of
    # 64x4 Mono8 come over RTP on loopback.
    import socket
    import struct
    beyond = int(child.ARGUMENTS[0])
    stream = rx.TnStreamRTP()
    assert stream.PrepareFor(64, 4, tarn.TnPixelMono8).IsOK() and stream.Open("127.0.0.1", 0).IsOK()
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)

    def send(timestamp):
        for line in range(4):
            marker = 0x80 if line == 3 else 0
            sender.sendto(struct.pack(">BBHII", 0x80, marker | 96, timestamp * 4 + line, timestamp, 7) +
                          struct.pack(">HHHH", 0, 64, line, 0) + bytes([timestamp]) * 64,
                          ("127.0.0.1", stream.GetLocalPort()))

    pipeline = rx.TnPipeline(stream)
    pipeline.SetBufferSize(256)
    assert pipeline.SetBufferCount(beyond).IsOK() and pipeline.Start().IsOK()
    send(1)
    result, buffer, operation = pipeline.RetrieveNextBuffer(5000)
    start = status("VmHWM")
    pipeline.SetBufferSize(0xFFFFFFFF)  # returns nothing: the pool no longer fits
    released = pipeline.ReleaseBuffer(buffer)
    out["released"] = [released.GetCodeString(), released.GetDescription(), buffer.GetSize()]
    # The pool runs on in the memory it has, and follows the blocks' size.
    send(2)
    result, buffer, operation = pipeline.RetrieveNextBuffer(5000)
    out["next"] = [result.GetCodeString(), operation.GetCodeString(), int(buffer.GetDataPointer()[0])]
    again = pipeline.ReleaseBuffer(buffer)
    out["again"] = [again.GetCodeString(), pipeline.GetBufferSize()]
    out["grown"] = status("VmHWM") - start
    pipeline.Stop()
    del pipeline
    stream.Close()
