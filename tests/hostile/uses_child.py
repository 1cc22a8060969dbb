"""Objects that a call on another thread uses, destroyed or re-allocated
while it runs, through proxy methods and module functions alike; objects
destroyed inside a call of their own thread; a Ctrl-C while a change waits
for a call. Each program fills `out` with what the calls answered.

    uses_child.py NAME    (in a network namespace, freed memory perturbed)"""

import os
import random
import signal
import socket
import struct
import threading
import time

import numpy as np

import child
from child import out

import _tarn_base_313 as base
import tarn_base_313 as tarn
import tn_testhooks as hooks


def refused(call, *args):
    """Whether a call through a destroyed object is refused (as None would
    be), rather than answered."""
    try:
        call(*args)
    except TypeError:
        return True
    return False


def meanwhile(action):
    """Runs ACTION on another thread a moment after the call that follows
    has started (the event is set just before it): the thread."""
    started = threading.Event()

    def run():
        started.wait()
        time.sleep(0.003)
        action()

    thread = threading.Thread(target=run)
    thread.start()
    return started, thread


def holding(buffer):
    """A call on another thread that keeps BUFFER in use until
    hooks.EndHold(): the thread and what the call read of it at its end."""
    seen = {}
    thread = threading.Thread(target=lambda: seen.setdefault("size", hooks.HoldInCall(buffer, 60000)))
    thread.start()
    while hooks.Holds() == 0:
        time.sleep(0.001)
    return thread, seen


def image_buffer(width, height, pixel):
    buffer = tarn.TnBuffer()
    buffer.GetImage().Alloc(width, height, pixel)
    return buffer


def rtp_stream(port, width=64, height=8):
    import tarn_receive_313 as rx
    stream = rx.TnStreamRTP()
    stream.PrepareFor(width, height, tarn.TnPixelMono8)
    assert stream.Open("127.0.0.1", port).IsOK()
    return stream


def rtp_sender(port, running, width=64, height=8):
    """Sends Mono8 frames to PORT while RUNNING is set."""
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sequence = frame = 0
    while running.is_set():
        for y in range(height):
            header = struct.pack(">BBHII", 0x80, (0x80 if y == height - 1 else 0) | 96, sequence & 0xFFFF, frame, 7)
            sender.sendto(header + struct.pack(">HHHH", 0, width, y, 0) + bytes([(frame + y) & 0xFF]) * width,
                          ("127.0.0.1", port))
            sequence += 1
        frame += 1
        time.sleep(0.0005)


if child.NAME == "conversions":
    # A conversion, a compression and a decompression while another thread
    # destroys or re-allocates their source, their destination, the image
    # given as source, or the converter or filter itself.
    import _tarn_receive_313 as receive
    import tarn_receive_313 as rx

    bayer = np.random.default_rng(7).integers(0, 255, (4096, 4096), dtype=np.uint8)
    ways = {
        "destination deleted": lambda c, s, d: base.delete_TnBuffer(d),
        "destination freed": lambda c, s, d: d.Free(),
        "destination freed (function)": lambda c, s, d: base.TnBuffer_Free(d),
        "destination image re-allocated": lambda c, s, d: d.GetImage().Alloc(8, 8, tarn.TnPixelRGB8),
        "destination reset": lambda c, s, d: base.TnBuffer_Reset(d, tarn.TnPayloadTypeImage),
        "source freed": lambda c, s, d: s.Free(),
        "source deleted": lambda c, s, d: base.delete_TnBuffer(s),
        "converter deleted": lambda c, s, d: receive.delete_TnBufferConverter(c),
    }
    answers = {}
    for name, way in ways.items():
        for form in ("method", "function", "image"):
            src = image_buffer(4096, 4096, tarn.TnPixelBayerRG8)
            src.GetImage().GetDataPointer()[:] = bayer
            dst = image_buffer(1, 1, tarn.TnPixelRGB8)
            converter = rx.TnBufferConverter()
            started, thread = meanwhile(lambda: way(converter, src, dst))
            started.set()
            if form == "method":
                result = converter.Convert(src, dst)
            elif form == "function":
                result = receive.TnBufferConverter_Convert(converter, src, dst)
            else:
                result = converter.Convert(src.GetImage(), dst)
            thread.join()
            alive = not refused(dst.GetSize)
            # What is left reads as a buffer: its memory is its own.
            if alive and dst.GetImage() is not None and dst.GetImage().GetDataPointer() is not None:
                int(dst.GetImage().GetDataPointer().sum())
            answers.setdefault(name, set()).add(
                (result[0].GetCodeString(), alive, not refused(converter.GetBayerFilter)))
    out["conversions"] = {name: sorted(map(list, seen)) for name, seen in answers.items()}

    # A compressed frame decompressed while its destination or the filter is
    # destroyed; compressed while its destination is.
    source = image_buffer(4096, 4096, tarn.TnPixelMono8)
    source.GetImage().GetDataPointer()[:] = bayer
    filters = []
    for name in ("decompressed into", "decompressing filter", "compressed into"):
        compressed = tarn.TnBuffer(tarn.TnPayloadTypeVexmoorCompressed)
        assert rx.TnCompressionFilter().Execute(source, compressed)[0].IsOK()
        output = tarn.TnBuffer(tarn.TnPayloadTypeVexmoorCompressed if name == "compressed into" else tarn.TnPayloadTypeImage)
        flt = rx.TnCompressionFilter() if name == "compressed into" else rx.TnDecompressionFilter()
        destroy = {"decompressed into": lambda: base.delete_TnBuffer(output),
                   "decompressing filter": lambda: receive.delete_TnDecompressionFilter(flt),
                   "compressed into": lambda: base.delete_TnBuffer(output)}[name]
        started, thread = meanwhile(destroy)
        started.set()
        result = flt.Execute(source if name == "compressed into" else compressed, output)
        thread.join()
        filters.append([name, result[0].GetCodeString(), refused(output.GetSize)])
    out["filters"] = filters

elif child.NAME == "transmitter":
    # The main thread queues one buffer over and over while another thread
    # destroys or changes the transmitter's buffers.
    import tarn_edge_313 as edge

    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sink.bind(("127.0.0.1", 0))
    rounds = []
    for way in ("deleted", "freed", "re-allocated") * 4:
        transmitter = edge.TnTransmitterGEV()
        transmitter.Open(edge.TnString("127.0.0.1"), sink.getsockname()[1])
        buffers = [image_buffer(640, 480, tarn.TnPixelMono8) for _ in range(16)]
        change = {"deleted": base.delete_TnBuffer, "freed": lambda b: b.Free(),
                  "re-allocated": lambda b: base.TnImage_Alloc(b.GetImage(), 16, 16, tarn.TnPixelMono8)}[way]
        started, thread = meanwhile(lambda: [change(b) for b in list(buffers)])
        started.set()
        codes, calls = set(), 0
        while thread.is_alive() or calls < 1000:
            calls += 1
            # A deleted buffer is no buffer any more: TN_INVALID_PARAMETER.
            codes.add(transmitter.QueueBuffer(buffers[0]).GetCodeString())
        thread.join()
        transmitter.Close()
        rounds.append([way, sorted(codes)])
    out["transmitter"] = rounds

elif child.NAME == "stream":
    # Sixteen buffers queued to an RTP stream, four threads retrieving, one
    # aborting every millisecond, while the main thread queues a buffer and
    # frees and re-allocates one in ten of them.
    running = threading.Event()
    running.set()
    stream = rtp_stream(40141)
    buffers = [tarn.TnBuffer() for _ in range(16)]
    for buffer in buffers:
        buffer.Alloc(512)
        stream.QueueBuffer(buffer)
    retrieved = [0]

    def retrieve():
        while running.is_set():
            if stream.RetrieveBuffer(50)[1] is not None:
                retrieved[0] += 1

    def abort():
        while running.is_set():
            stream.AbortQueuedBuffers()
            time.sleep(0.001)

    threads = [threading.Thread(target=rtp_sender, args=(40141, running)), threading.Thread(target=abort)]
    threads += [threading.Thread(target=retrieve) for _ in range(4)]
    for thread in threads:
        thread.start()
    rounds = int(child.ARGUMENTS[0])
    for _ in range(rounds):
        buffer = random.choice(buffers)
        stream.QueueBuffer(buffer)
        if random.random() < 0.1:
            buffer.Free()
            buffer.Alloc(512)
    running.clear()
    for thread in threads:
        thread.join()
    out["stream"] = [rounds, retrieved[0] > 0, stream.Close().GetCodeString()]

    # A stream destroyed while another thread waits in RetrieveBuffer with
    # no timeout: it closes first, and the retrieval answers.
    import _tarn_receive_313 as receive
    import tarn_receive_313 as rx
    waits = []
    for destroy in (receive.delete_TnStreamRTP, receive.delete_TnPipeline):
        stream = rtp_stream(40142)
        if destroy is receive.delete_TnStreamRTP:
            kept = [tarn.TnBuffer() for _ in range(2)]
            for buffer in kept:
                buffer.Alloc(512)
                stream.QueueBuffer(buffer)
            target, wait = stream, lambda: stream.RetrieveBuffer()
        else:
            target = rx.TnPipeline(stream)
            target.Start()
            wait = lambda: target.RetrieveNextBuffer(0xFFFFFFFF)
        answer = {}
        thread = threading.Thread(target=lambda: answer.setdefault("result", wait()))
        thread.start()
        time.sleep(0.2)  # in the wait by now, or not yet: both end
        destroy(target)
        thread.join(30)
        waits.append([not thread.is_alive(), answer["result"][0].GetCodeString(), refused(target.GetParameters if
                      destroy is receive.delete_TnStreamRTP else target.IsStarted)])
    out["waits"] = waits

elif child.NAME == "handed out":
    # The getters of payloads and views (each a const and a non-const form,
    # dispatched by hand) while another thread deletes the buffer: each
    # answers, or refuses the buffer deleted before it began.
    def image():
        buffer = image_buffer(64, 8, tarn.TnPixelMono8)
        return buffer

    def multipart():
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
        container = buffer.GetMultiPartContainer()
        container.AddImagePart(tarn.TnMultiPart2DImage, 16, 4, tarn.TnPixelMono8)
        container.AllocAllParts()
        return buffer

    calls = {
        "GetImage": (image, lambda b: b.GetImage().GetWidth()),
        "TnBuffer_GetImage": (image, lambda b: base.TnBuffer_GetImage(b).GetWidth()),
        "GetDataPointer": (image, lambda b: b.GetDataPointer()[-1]),
        "image GetDataPointer": (image, lambda b: b.GetImage().GetDataPointer()[-1, -1]),
        "GetRawData": (image, lambda b: b.GetRawData()),
        "GetChunkData": (image, lambda b: b.GetChunkData()),
        "GetPart": (multipart, lambda b: b.GetMultiPartContainer().GetPart(0).GetDataPointer()[-1]),
    }
    seconds = float(child.ARGUMENTS[0])
    answers = {}
    for name, (make, call) in calls.items():
        buffers = [make() for _ in range(8)]
        going = threading.Event()
        going.set()
        counts = {"answered": 0, "refused": 0}

        def delete():
            while going.is_set():
                index = random.randrange(len(buffers))
                gone, buffers[index] = buffers[index], make()
                base.delete_TnBuffer(gone)
                del gone
                time.sleep(0.0002)

        def use():
            while going.is_set():
                try:
                    call(random.choice(buffers))
                    counts["answered"] += 1
                except TypeError:
                    counts["refused"] += 1

        threads = [threading.Thread(target=f) for f in (delete, use, use)]
        for thread in threads:
            thread.start()
        time.sleep(seconds)
        going.clear()
        for thread in threads:
            thread.join()
        answers[name] = counts["answered"] > 0
    out["handed out"] = answers

elif child.NAME == "closes":
    # A transmitter closed by two threads at once, or closed by one while
    # another deletes it (which closes it too): every close answers.
    import _tarn_edge_313 as edge_functions
    import tarn_edge_313 as edge
    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sink.bind(("127.0.0.1", 0))
    codes, ended = set(), True
    for round in range(int(child.ARGUMENTS[0])):
        transmitter = edge.TnTransmitterGEV()
        transmitter.Open(edge.TnString("127.0.0.1"), sink.getsockname()[1])
        both = threading.Barrier(2)
        second = (lambda: edge_functions.delete_TnTransmitterGEV(transmitter)) if round % 2 else transmitter.Close

        def close(call):
            both.wait()
            answer = call()
            if answer is not None:
                codes.add(answer.GetCodeString())

        threads = [threading.Thread(target=close, args=(call,)) for call in (transmitter.Close, second)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(30)
        ended = ended and not any(thread.is_alive() for thread in threads)
    out["closes"] = [ended, sorted(codes)]

    # A transmitter destroyed while another thread deletes the buffers
    # queued to it: it forgets only the buffers still there.
    rounds = int(child.ARGUMENTS[0]) // 4
    for round in range(rounds):
        transmitter = edge.TnTransmitterGEV()
        transmitter.SetMaxPayloadThroughput(1e6)
        transmitter.Open(edge.TnString("127.0.0.1"), sink.getsockname()[1])
        queued = [image_buffer(64, 8, tarn.TnPixelMono8) for _ in range(16)]
        for buffer in queued:
            transmitter.QueueBuffer(buffer)
        both = threading.Barrier(2)

        def delete_buffers():
            both.wait()
            while queued:
                base.delete_TnBuffer(queued.pop())

        thread = threading.Thread(target=delete_buffers)
        thread.start()
        both.wait()
        time.sleep(random.uniform(0, 0.0005))
        edge_functions.delete_TnTransmitterGEV(transmitter)
        thread.join(30)
    out["held"] = rounds

elif child.NAME == "pipelines":
    # A stream closed or destroyed (by name or by module function) while
    # two other threads start, reset, stop and resize its pipeline, frames
    # coming: every call answers, and the pipeline refuses to run on what
    # is left.
    import _tarn_receive_313 as receive
    import tarn_receive_313 as rx
    running = threading.Event()
    running.set()
    sender = threading.Thread(target=rtp_sender, args=(40143, running))
    sender.start()
    ends = {"closed": lambda s: s.Close(), "deleted": lambda s: receive.delete_TnStreamRTP(s),
            "dropped": lambda s: None}
    answers = {name: set() for name in ends}
    rounds = int(child.ARGUMENTS[0])
    for round in range(rounds):
        name = list(ends)[round % len(ends)]
        stream = rtp_stream(40143)
        pipeline = rx.TnPipeline(stream)
        pipeline.SetBufferSize(512)
        going = threading.Event()
        going.set()

        def control(seed):
            pick = random.Random(seed)
            while going.is_set():
                call = pick.choice([pipeline.Start, pipeline.Reset, pipeline.Stop,
                                    lambda: pipeline.SetBufferCount(pick.randint(1, 8))])
                answers[name].add(call().GetCodeString())

        threads = [threading.Thread(target=control, args=(round * 2 + n,)) for n in range(2)]
        for thread in threads:
            thread.start()
        time.sleep(random.uniform(0, 0.01))
        ends[name](stream)
        if name == "dropped":
            del stream
        time.sleep(0.002)
        going.clear()
        for thread in threads:
            thread.join(30)
        answers[name].add("ended" if not any(thread.is_alive() for thread in threads) else "hung")
        answers[name].add("start after: " + pipeline.Start().GetCodeString())
        pipeline.Stop()
    running.clear()
    sender.join()
    out["pipelines"] = {name: sorted(codes) for name, codes in answers.items()}

elif child.NAME == "device":
    # A controller destroyed (delete_ of one Python made, Free of one the
    # factory made) while another thread reads one of its features, held in
    # the device sink the read calls; and one destroyed inside that sink on
    # the reading thread itself.
    import _tarn_receive_313 as receive
    import tarn_edge_313 as edge
    import tarn_receive_313 as rx

    device = edge.TnSoftDeviceGEV()
    assert device.Start("00:00:00:00:00:00").IsOK()
    answers = []
    for way in ("delete", "free", "delete inside", "free inside"):
        for attempt in range(100):  # a controller ended inside its sink gives control back once the sink returned
            if way.startswith("free"):
                result, client = rx.TnDevice.CreateAndConnect("127.0.0.1")
            else:
                client = rx.TnDeviceGEV()
                result = client.Connect("127.0.0.1")
            if result.IsOK() or "ACCESS_DENIED" not in result.GetDescription():
                break
            time.sleep(0.05)
        assert result.IsOK(), result
        destroy = (lambda c: rx.TnDevice.Free(c)) if way.startswith("free") else receive.delete_TnDeviceGEV
        inside, release = threading.Event(), threading.Event()

        class Sink(rx.TnDeviceEventSink):
            def OnCmdLinkRead(self, *arguments):
                if way.endswith("inside"):
                    if not inside.is_set():
                        inside.set()
                        destroy(client)
                elif threading.current_thread() is not threading.main_thread():
                    inside.set()
                    release.wait(30)

        sink = Sink()
        client.RegisterEventSink(sink)
        features = client.GetParameters()
        features.InvalidateCache()
        read = {}
        if way.endswith("inside"):
            read["value"] = features.GetIntegerValue("GevHeartbeatTimeout")
            emptied = [refused(client.IsConnected), refused(features.GetIntegerValue, "GevHeartbeatTimeout")]
        else:
            thread = threading.Thread(target=lambda: read.setdefault("value", features.GetIntegerValue("GevHeartbeatTimeout")))
            thread.start()
            inside.wait(30)
            destroy(client)
            emptied = [refused(client.IsConnected), refused(features.GetIntegerValue, "GevHeartbeatTimeout")]
            release.set()
            thread.join(30)
        answers.append([way, read["value"][0].GetCodeString(), emptied])
    out["device"] = answers
    out["stop"] = device.Stop().GetCodeString()

elif child.NAME == "held":
    # A buffer a call keeps in use (the test hook's) on another thread:
    # Free, Alloc, Attach, Detach and Reset of it, its image's Alloc and Free
    # wait for the call; delete_ empties its proxies at once and destroys it
    # when the call returns, which still reads the buffer it was given.
    changes = {
        "Free": lambda b: b.Free(), "Alloc": lambda b: base.TnBuffer_Alloc(b, 64),
        "Attach": lambda b: b.Attach(kept.append(np.zeros(32, np.uint8)) or kept[-1]), "Detach": lambda b: base.TnBuffer_Detach(b),
        "Reset": lambda b: b.Reset(tarn.TnPayloadTypeRawData), "image Alloc": lambda b: b.GetImage().Alloc(2, 2, tarn.TnPixelMono8),
        "image Free": lambda b: base.TnImage_Free(b.GetImage()),
    }
    waited, kept = {}, []
    for name, change in changes.items():
        buffer = tarn.TnBuffer()
        buffer.Alloc(1000)
        thread, seen = holding(buffer)
        done = threading.Event()
        changer = threading.Thread(target=lambda: (change(buffer), done.set()))
        changer.start()
        while not hooks.UseWaited():
            time.sleep(0.001)
        before = done.is_set()
        hooks.EndHold()
        thread.join()
        changer.join()
        waited[name] = [before, seen["size"]]
    out["waited"] = waited

    buffer = tarn.TnBuffer()
    buffer.Alloc(777)
    image = buffer.GetImage()
    thread, seen = holding(buffer)
    base.delete_TnBuffer(buffer)
    emptied = [refused(buffer.GetSize), refused(image.GetWidth)]
    hooks.EndHold()
    thread.join()
    out["deleted"] = [emptied, seen["size"]]

    # Inside a call of this thread that uses the buffer (a callback it
    # runs): changes are refused, a destruction waits for the call.
    buffer = tarn.TnBuffer()
    buffer.Alloc(100)
    answers = [hooks.CallInCall(buffer, buffer.Free), hooks.CallInCall(buffer, lambda: base.TnImage_Alloc(
        buffer.GetImage(), 4, 4, tarn.TnPixelMono8)), buffer.GetSize()]
    out["inside"] = [[type(answer).__name__, str(answer)] for answer in answers[:2]] + [answers[2]]
    out["deleted inside"] = [hooks.CallInCall(buffer, lambda: base.delete_TnBuffer(buffer)), refused(buffer.GetSize)]

    # The same where the call's record of its use lies off the thread's
    # stack: the call is still this thread's (a wait for it would never end).
    def waited_for_good(*arguments):
        raise TimeoutError("Free waited for a call of its own thread")

    signal.signal(signal.SIGALRM, waited_for_good)
    buffer = tarn.TnBuffer()
    buffer.Alloc(100)
    signal.alarm(20)
    away = hooks.CallWithRecordAway(buffer, buffer.Free)
    signal.alarm(0)
    out["inside away"] = [type(away).__name__, buffer.GetSize()]

elif child.NAME == "interrupted":
    # Ctrl-C while the main thread's Free waits for another thread's call:
    # KeyboardInterrupt, and the buffer keeps its memory.
    buffer = tarn.TnBuffer()
    buffer.Alloc(1000)
    thread, seen = holding(buffer)

    def interrupt():
        while not hooks.UseWaited():
            time.sleep(0.001)
        os.kill(os.getpid(), signal.SIGINT)

    threading.Thread(target=interrupt).start()
    try:
        buffer.Free()
        out["interrupted"] = "freed"
    except KeyboardInterrupt:
        out["interrupted"] = ["KeyboardInterrupt", buffer.GetSize()]
    hooks.EndHold()
    thread.join()
    out["after"] = [seen["size"], buffer.Free(), buffer.GetSize()]
