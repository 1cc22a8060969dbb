"""The programs of the report that let go early of what they lent or were
lent, and used to end in freed memory: a buffer retrieved under the name of
the one queued, a buffer kept past its pipeline, a buffer released from a
pool that shrank, a buffer a sink kept past its pipeline, a selector given
to a module function and not kept, a conversion's destination handed back
once its own name is gone. Each prints what it read.

    let_go_child.py NAME    (in a network namespace)"""

import pathlib
import socket
import struct
import sys
import time

import tarn_base_313 as tarn

NAME = sys.argv[1]
W, H = 64, 4


def rtp_stream():
    import tarn_receive_313 as rx

    stream = rx.TnStreamRTP()
    stream.PrepareFor(W, H, tarn.TnPixelMono8)
    stream.Open("127.0.0.1", 40124)
    return rx, stream


def send(timestamp=1000):
    tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    for y in range(H):
        tx.sendto(struct.pack(">BBHII", 0x80, (0x80 if y == H - 1 else 0) | 96, timestamp // 1000 * H + y, timestamp, 7)
                  + struct.pack(">HHHH", 0, W, y, 0) + bytes([y]) * W, ("127.0.0.1", 40124))


if NAME == "retrieved_under_the_queued_name":
    rx, s = rtp_stream()
    buffer = tarn.TnBuffer(); buffer.Alloc(W * H); s.QueueBuffer(buffer)
    send()
    result, buffer, operation = s.RetrieveBuffer(2000)
    print(buffer.GetImage().GetDataPointer()[:, 0].tolist())

if NAME == "kept_past_its_pipeline":
    rx, s = rtp_stream()
    pipeline = rx.TnPipeline(s); pipeline.SetBufferSize(W * H); pipeline.Start()
    time.sleep(0.2)
    send()
    result, buffer = pipeline.RetrieveNextBuffer(2000)[:2]
    pipeline.Stop(); del pipeline
    print(buffer.GetImage().GetDataPointer()[:, 0].tolist())

if NAME == "released_from_a_pool_that_shrank":
    import _tarn_base_313 as base
    rx, s = rtp_stream()
    pipeline = rx.TnPipeline(s); pipeline.SetBufferSize(W * H); pipeline.SetBufferCount(4); pipeline.Start()
    time.sleep(0.2)
    send()
    buffer = pipeline.RetrieveNextBuffer(2000)[1]
    send(2000)
    other = pipeline.RetrieveNextBuffer(2000)[1]
    image = buffer.GetImage()
    pipeline.SetBufferCount(1)  # two held: they go as they are released
    pipeline.ReleaseBuffer(buffer)
    junk = [bytes(range(256)) * 4 for _ in range(4000)]  # freed memory is used again
    print([buffer.GetSize(), base.TnBuffer_GetSize(buffer), base.TnBuffer_GetImage(buffer).GetDataPointer() is None,
           image.GetDataPointer() is None, pipeline.ReleaseBuffer(buffer).GetCodeString()])
    pipeline.SetBufferCount(4)  # the pool takes it back
    print([buffer.GetSize(), pipeline.GetBufferCount()])

if NAME == "kept_by_a_sink_past_its_pipeline":
    rx, s = rtp_stream()

    class Sink(rx.TnPipelineEventSink):
        def __init__(self):
            super().__init__()
            self.made = []

        def OnBufferCreated(self, pipeline, buffer):
            self.made.append(buffer)

    sink = Sink()
    pipeline = rx.TnPipeline(s); pipeline.SetBufferSize(W * H); pipeline.RegisterEventSink(sink); pipeline.Start()
    del pipeline
    junk = [bytes(range(256)) * 4 for _ in range(4000)]
    print(sorted({buffer.GetSize() for buffer in sink.made}))

if NAME == "a_selector_not_kept":
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "edge"))
    import devices, _tarn_edge_313, tarn_edge_313 as edge
    source = devices.TriggeredSource()
    _tarn_edge_313.TnStreamingChannelSourceTrigger_AddSelector(source, edge.TRIGGER_SELECTOR_FRAMESTART,
                                                               edge.TnTriggerSelectorFrameStart())
    device = edge.TnSoftDeviceGEV()
    device.AddStream(source)
    print([device.Start(devices.LOOPBACK_MAC).GetCodeString(), device.Stop().GetCodeString()])

if NAME == "converted_into_a_buffer_no_longer_named":
    import _tarn_receive_313 as receive, tarn_receive_313 as rx

    def destination():
        buffer = tarn.TnBuffer(); buffer.GetImage().Alloc(1, 1, tarn.TnPixelMono8)
        return buffer

    source = tarn.TnBuffer(); source.GetImage().Alloc(W, H, tarn.TnPixelMono8); source.GetImage().GetDataPointer()[:] = 3
    compressed = tarn.TnBuffer(tarn.TnPayloadTypeVexmoorCompressed); rx.TnCompressionFilter().Execute(source, compressed)
    handed = [rx.TnBufferConverter().Convert(source, destination())[1],
              receive.TnBufferConverter_Convert(rx.TnBufferConverter(), source, destination())[1],
              rx.TnDecompressionFilter().Execute(compressed, destination())[1]]
    junk = [bytes(range(256)) * 4 for _ in range(4000)]
    print([int(buffer.GetImage().GetDataPointer().sum()) for buffer in handed])
