"""Lets go early, over and over for the given seconds, of one kind of object
that Python and the SDK lend each other, while streams, pipelines and
devices run: the names of proxies rebound or deleted, objects destroyed
through their delete_ functions, before or after what they lent or were lent
to, reached through proxy methods and module functions alike. Every object
that is still used must answer as a working object or raise a Python error;
frames read through objects kept this way must hold the frame that was sent.
Prints the rounds, the frames checked and the refusals seen.

    lending_child.py KIND SECONDS    (in a network namespace)"""

import gc
import os
import socket
import struct
import sys
import threading
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "edge"))
sys.path.insert(0, os.path.join(HERE, os.pardir, "gendc"))

import _tarn_base_313 as base  # noqa: E402
import tarn_base_313 as tarn  # noqa: E402

KIND, SECONDS = sys.argv[1], float(sys.argv[2])
WIDTH, HEIGHT, PORT = 64, 8, 40130
checked, refused = [0], [0]


def refuses(call, *args):
    """Calls something whose object was destroyed: a Python error is the only
    answer allowed."""
    try:
        call(*args)
    except (TypeError, RuntimeError):
        refused[0] += 1
        return True
    raise AssertionError(f"{call} answered through a destroyed object")


def check_frame(image):
    """A frame of the RTP sender: row y holds (k + y) & 0xFF for one k."""
    data = image.GetDataPointer()
    assert data.shape == (HEIGHT, WIDTH)
    assert (data == data[:, :1]).all() and ((np.diff(data[:, 0].astype(np.int32)) % 256) == 1).all(), data[:, 0]
    checked[0] += 1


class RtpSender(threading.Thread):
    """Sends Mono8 frames of RFC 4175 lines to the port until stopped."""

    def __init__(self):
        super().__init__(daemon=True)
        self.running = True
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.start()

    def run(self):
        sequence = frame = 0
        while self.running:
            for y in range(HEIGHT):
                marker = 0x80 if y == HEIGHT - 1 else 0
                header = struct.pack(">BBHII", 0x80, marker | 96, sequence & 0xFFFF, frame, 7)
                line = struct.pack(">HHHH", 0, WIDTH, y, 0) + bytes([(frame + y) & 0xFF]) * WIDTH
                self.socket.sendto(header + line, ("127.0.0.1", PORT))
                sequence += 1
            frame += 1
            time.sleep(0.0005)

    def stop(self):
        self.running = False
        self.join()


def rtp_stream():
    import tarn_receive_313 as rx

    stream = rx.TnStreamRTP()
    stream.PrepareFor(WIDTH, HEIGHT, tarn.TnPixelMono8)
    assert stream.Open("127.0.0.1", PORT).IsOK()
    return stream


def stream_buffers(deadline):
    """Buffers queued to a running stream: the proxies that made them are
    rebound, deleted or destroyed while queued; retrieved buffers outlive
    them and their images outlive the retrieved buffers; streams go with
    buffers queued."""
    import _tarn_receive_313 as receive

    sender, stream, rounds = RtpSender(), rtp_stream(), 0
    while time.monotonic() < deadline:
        way = rounds % 6
        buffers = [tarn.TnBuffer() for _ in range(3)]
        for index, buffer in enumerate(buffers):
            buffer.Alloc(WIDTH * HEIGHT)
            (stream.QueueBuffer if index % 2 else lambda b: receive.TnStream_QueueBuffer(stream, b))(buffer)
        if way == 1:
            base.delete_TnBuffer(buffers[0])  # destroyed while queued: it leaves the stream
            refuses(buffers[0].GetSize)
        elif way == 2:
            buffers.clear()  # the last names of queued buffers
        for _ in range(2):
            if way % 2:
                result, buffer, operation = stream.RetrieveBuffer(1000)
            else:
                result, buffer, operation = receive.TnStream_RetrieveBuffer(stream, 1000)
            if buffer is None:
                continue
            buffers = None  # rebinds the names the buffers were made under
            image = buffer.GetImage() if way < 3 else base.TnBuffer_GetImage(buffer)
            if way == 3:
                del buffer
            elif way == 4:
                base.delete_TnBuffer(buffer)  # borrowed: destroys nothing
            gc.collect()
            if operation.IsOK():
                check_frame(image)
            if way == 5:
                stream.QueueBuffer(buffer)  # queued again through the retrieved proxy
        if rounds % 5 == 4:
            # The stream goes with buffers queued, the retrieved proxies live on.
            kept = stream.RetrieveBuffer(1000)[1]
            (receive.delete_TnStreamRTP if rounds % 2 else lambda s: None)(stream)
            stream = None
            gc.collect()
            if kept is not None:
                kept.GetImage().GetDataPointer()
            stream = rtp_stream()
        rounds += 1
    sender.stop()
    return rounds


def pipeline_buffers(deadline):
    """Buffers taken from a running pipeline outlive the pipeline's proxy,
    and their images the buffers; a pipeline destroyed explicitly empties
    them; sinks registered through the module function are dropped while the
    pipeline calls them."""
    import _tarn_receive_313 as receive
    import tarn_receive_313 as rx

    class Sink(rx.TnPipelineEventSink):
        def OnBufferReady(self, pipeline):
            pass

    sender, stream, rounds = RtpSender(), rtp_stream(), 0
    while time.monotonic() < deadline:
        way = rounds % 5
        pipeline = rx.TnPipeline(stream)
        pipeline.SetBufferSize(WIDTH * HEIGHT)
        sink = Sink()
        receive.TnPipeline_RegisterEventSink(pipeline, sink)
        pipeline.Start()
        if way % 2:
            result, buffer, operation = pipeline.RetrieveNextBuffer(1000)
        else:
            result, buffer, operation = receive.TnPipeline_RetrieveNextBuffer(pipeline, 1000)
        if rounds % 3 == 0:
            receive.delete_TnPipelineEventSink(sink)
        del sink
        if buffer is None:
            del pipeline
            rounds += 1
            continue
        image = base.TnBuffer_GetImage(buffer) if way < 2 else buffer.GetImage()
        if way == 0:
            pipeline.Stop()
            del pipeline  # the program of the issue
        elif way == 1:
            del pipeline  # still running
        elif way == 2:
            del buffer  # the image alone keeps the pipeline
            del pipeline
        elif way == 3:
            receive.delete_TnPipeline(pipeline)  # destroyed: what it handed out refuses
            refuses(buffer.GetSize)
            refuses(image.GetWidth)
            refuses(receive.TnPipeline_Start, pipeline)
            del pipeline
        elif way == 4:
            pipeline.ReleaseBuffer(buffer)
            del buffer, pipeline
        gc.collect()
        if way != 3:
            if operation.IsOK():
                check_frame(image)
            if way in (0, 1):
                buffer.GetSize()
        del image
        if rounds % 7 == 6:
            # The stream goes (closed as it is destroyed) under a pipeline
            # that a buffer keeps.
            kept = rx.TnPipeline(stream)
            kept.SetBufferSize(WIDTH * HEIGHT)
            kept.Start()
            buffer = kept.RetrieveNextBuffer(1000)[1]
            del kept
            (receive.delete_TnStreamRTP if rounds % 2 else lambda s: None)(stream)
            stream = None
            gc.collect()
            if buffer is not None:
                buffer.GetSize()
            del buffer
            stream = rtp_stream()
        rounds += 1
    sender.stop()
    return rounds


def payloads(deadline):
    """Images, chunk data, multipart parts and GenDC containers, components,
    parts, records and views, whose buffers (and containers) go first: by
    losing their names or being destroyed."""
    import gendc_packing

    packed = gendc_packing.pack(gendc_packing.sample(3)).data
    rounds = 0
    while time.monotonic() < deadline:
        way = rounds % 4
        image_buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
        image_buffer.GetImage().Alloc(WIDTH, HEIGHT, tarn.TnPixelMono8)
        image = base.TnBuffer_GetImage(image_buffer) if way % 2 else image_buffer.GetImage()
        parts = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
        container = parts.GetMultiPartContainer() if way % 2 else base.TnBuffer_GetMultiPartContainer(parts)
        container.AddImagePart(tarn.TnMultiPart2DImage, 16, 16, tarn.TnPixelMono8)
        section = container.GetPart(0)
        section_image = section.GetImage()
        memory = np.frombuffer(bytearray(packed), np.uint8)
        gendc = tarn.TnBuffer(tarn.TnPayloadTypeGenDC)
        gendc.Attach(memory)
        walked = gendc.GetGenDC() if way % 2 else base.TnBuffer_GetGenDC(gendc)
        component = walked[0]
        part = component[0] if way < 2 else base.ITnGenericDataComponent_GetPart(component, 0)
        header = walked.GetHeader()
        flags = header.Flags
        if way < 2:
            del image_buffer, parts, gendc, container, walked, component
            gc.collect()
            image.GetDataPointer()[:] = 3
            assert section_image.GetWidth() == 16 and section.GetDataPointer() is not None
            assert part.GetDataSize() >= 0 and header.ComponentCount == 3 and flags.Value == header.Flags.Value
            checked[0] += 1
        else:
            base.delete_TnBuffer(image_buffer)
            base.delete_TnBuffer(parts)
            base.delete_TnBuffer(gendc)
            for call in (image.GetWidth, section.GetDataPointer, section_image.GetHeight, part.GetDataSize,
                         component.GetPartCount, walked.GetComponentCount, lambda: header.ComponentCount,
                         lambda: flags.Value, lambda: base.ITnMultiPartContainerReader_GetPartCount(container)):
                refuses(call)
        del image, section, section_image, part, header, flags, memory
        rounds += 1
    return rounds


def selectors(deadline):
    """Selectors handed to a triggered source of a running device, and
    dropped or destroyed at once, while clients fire software triggers and
    the device restarts (reading the selectors again)."""
    import _tarn_edge_313 as edge_module
    import devices
    import gvcp
    import tarn_edge_313 as edge

    source = devices.TriggeredSource()
    device = devices.started(source)
    kinds = [edge.TnTriggerSelectorFrameStart, edge.TnTriggerSelectorLineStart,
             edge.TnTriggerSelectorAcquisitionStart, edge.TnTriggerSelectorDefault]
    clients = gvcp.Clients((0x20000 + 0xC, 1))
    rounds = 0
    while time.monotonic() < deadline:
        index = edge.TRIGGER_SELECTOR_FRAMESTART if rounds % 3 else rounds % 13
        selector = kinds[rounds % 4](f"Trigger{index}")
        selector.SetMode(True)
        if rounds % 2:
            edge_module.TnStreamingChannelSourceTrigger_AddSelector(source, index, selector)
        else:
            source.AddSelector(index, selector.this)
        if rounds % 4 == 1:
            type(selector).__swig_destroy__(selector)  # destroyed while the source holds it
            refuses(selector.GetState)
        del selector
        if rounds % 25 == 24:
            stopped = device.Stop()
            started = device.Start(devices.LOOPBACK_MAC)
            assert stopped.IsOK() and started.IsOK(), (stopped.GetDescription(), started.GetDescription())
        if rounds % 40 == 39:
            edge_module.TnStreamingChannelSourceTrigger_AddSelector(source, 0, None)
        time.sleep(0.001)
        rounds += 1
    clients.join()
    assert device.Stop().IsOK()
    checked[0] = len(source.fired)
    # The source goes first, then the device: the selectors it kept go with it.
    del source
    gc.collect()
    return rounds


def transmitters(deadline):
    """Transmitters added to a listening virtual device and dropped or
    destroyed at once, while resend requests reach them; buffers queued to a
    transmitter that sends, dropped or destroyed while it sends them."""
    import _tarn_edge_313 as edge_module
    import tarn_edge_313 as edge
    import gvcp

    device = edge.TnVirtualDeviceGEV()
    transmitters = [edge.TnTransmitterGEV() for _ in range(2)]
    edge_module.TnVirtualDeviceGEV_AddTransmitterGEV(device, transmitters[0])
    device.AddTransmitterGEV(transmitters[1])
    assert device.StartListening(edge.TnString("127.0.0.1")).IsOK()
    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sink.bind(("127.0.0.1", 0))
    sink.settimeout(0.2)
    transmitters[0].Open(edge.TnString("127.0.0.1"), sink.getsockname()[1])
    transmitters[0].SetMaxPayloadThroughput(40e6)
    bad = []

    def receive():
        """Every payload packet carries its block's fill byte: no block is
        sent from memory that was freed or changed under it."""
        while receiving:
            try:
                packet = sink.recv(2048)
            except TimeoutError:
                continue
            block, kind = struct.unpack(">H", packet[2:4])[0], packet[4] & 0x0F
            if kind == 3:
                checked[0] += 1
                if packet[8:].strip(bytes([block & 0xFF])):
                    bad.append(block)

    receiving = True
    receiver = threading.Thread(target=receive)
    receiver.start()
    if "destroy" in sys.argv[3:]:
        edge_module.delete_TnTransmitterGEV(transmitters[1])
    transmitters = transmitters[0]
    control = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    rounds = 0
    while time.monotonic() < deadline:
        for channel in (0, 1):
            # PACKETRESEND, unacknowledged: channel, block id, first and last packet.
            request = struct.pack(">BBHHHHHII", 0x42, 0, 0x0040, 12, rounds % 0xFFFF + 1, channel, 1, 1, 3)
            control.sendto(request, ("127.0.0.1", gvcp.PORT))
        block = rounds % 0xFFFF + 1
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
        buffer.GetImage().Alloc(256, 64, tarn.TnPixelMono8)
        buffer.GetImage().GetDataPointer()[:] = block & 0xFF
        buffer.SetBlockID(block)
        transmitters.QueueBuffer(buffer)
        if rounds % 3 == 1:
            base.delete_TnBuffer(buffer)  # destroyed while queued or sent
        elif rounds % 3 == 2:
            buffer.GetImage().Alloc(16, 16, tarn.TnPixelMono8)  # its memory replaced
        del buffer
        time.sleep(0.001)
        rounds += 1
    transmitters.Close()
    device.StopListening()
    receiving = False
    receiver.join()
    assert not bad, f"blocks sent from freed or changed memory: {bad[:10]}"
    return rounds


KINDS = {"stream-buffers": stream_buffers, "pipeline-buffers": pipeline_buffers, "payloads": payloads,
         "selectors": selectors, "transmitters": transmitters}
rounds = KINDS[KIND](time.monotonic() + SECONDS)
gc.collect()
print(rounds, checked[0], refused[0], flush=True)
