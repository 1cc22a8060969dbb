"""Views kept past what they show: every kind of array over SDK memory kept
while its owner is freed, re-allocated, detached, reset or destroyed
(through proxies and module functions), and arrays attached and dropped by
the caller. Run with MALLOC_PERTURB_; the programs fill the memory with
other objects before they read their views.

    kept_views_child.py NAME    (in a network namespace)"""

import gc
import os
import socket
import struct
import sys
import threading
import weakref

import numpy as np

import child
from child import out

import _tarn_base_313 as base
import tarn_base_313 as tarn

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "gendc"))
W, H, PORT = 64, 4, 40146


def churn():
    """Frees what nothing holds and fills the heap and fresh mappings with
    other bytes, where freed SDK memory would now show them."""
    gc.collect()
    return [bytearray(b"\x5a" * (1 << 20)) for _ in range(24)] + [bytes(range(256)) * 4 for _ in range(2000)]


def holds(view):
    """Whether the view's base chain ends in what pins SDK memory."""
    while isinstance(view, np.ndarray):
        view = view.base
    return type(view).__name__ == "TnMemoryHold"


def filled(view, value):
    view[...] = value
    return view


def rtp_stream(rx):
    stream = rx.TnStreamRTP()
    stream.PrepareFor(W, H, tarn.TnPixelMono8)
    stream.Open("127.0.0.1", PORT)
    return stream


def send(timestamp, first):
    """One RTP frame of H lines of W bytes; line y holds first + y."""
    tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    for y in range(H):
        tx.sendto(struct.pack(">BBHII", 0x80, (0x80 if y == H - 1 else 0) | 96, timestamp // 1000 * H + y, timestamp, 7)
                  + struct.pack(">HHHH", 0, W, y, 0) + bytes([first + y]) * W, ("127.0.0.1", PORT))


if child.NAME == "the_reported_programs":
    import tarn_receive_313 as rx
    kept = []
    for ending in ("del", "Free", "Alloc"):
        b = tarn.TnBuffer()
        b.Alloc(64 << 20)
        v = filled(b.GetDataPointer(), 1)
        if ending == "Free":
            b.Free()
        elif ending == "Alloc":
            b.Alloc(1024)
        del b
        junk = churn()
        kept.append(int(v[-1]))
    out["kept"] = kept
    converter, rgb, frames = rx.TnBufferConverter(), tarn.TnBuffer(), []
    rgb.GetImage().Alloc(1, 1, tarn.TnPixelRGB8)
    for width, height in [(64, 48), (1920, 1080), (640, 480)]:
        raw = tarn.TnBuffer()
        raw.GetImage().Alloc(width, height, tarn.TnPixelBayerRG8)
        raw.GetDataPointer()[:] = 0
        converter.Convert(raw, rgb)  # re-allocates rgb for the new size
        frames.append(rgb.GetImage().GetDataPointer())
    junk = churn()
    out["converted"] = [int(f.sum()) for f in frames]
    buffer = tarn.TnBuffer()
    buffer.Attach(np.zeros(1 << 24, np.uint8))  # no name kept for the array
    junk = churn()
    out["attached"] = int(buffer.GetDataPointer()[-1])
    stream, queued = rtp_stream(rx), tarn.TnBuffer()
    queued.Attach(np.zeros(W * H, np.uint8))
    stream.QueueBuffer(queued)
    junk = churn()
    send(1000, 3)
    result, retrieved, operation = stream.RetrieveBuffer(2000)
    out["streamed"] = [result.GetCodeString(), retrieved.GetImage().GetDataPointer()[:, 0].tolist()]


if child.NAME == "every_view_kept_past_its_owner":
    import gendc_packing as packing

    def plain():
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
        buffer.Alloc(100)
        image = tarn.TnBuffer()
        image.GetImage().Alloc(32, 8, tarn.TnPixelMono16)
        return (buffer, image), [filled(buffer.GetDataPointer(), 11), filled(image.GetImage().GetDataPointer(), 4660),
                                 base.ITnImage_GetDataPointer(image.GetImage())]

    def chunks():  # in the buffer's memory after the image, and in chunk memory
        inline, apart = tarn.TnBuffer(), tarn.TnBuffer(tarn.TnPayloadTypeChunkData)
        inline.GetImage().Alloc(8, 8, tarn.TnPixelMono8, 0, 0, 64)
        inline.AddChunk(0x10, b"inline chunk")
        apart.Alloc(64)
        apart.AllocChunk(64)
        apart.AddChunk(0x20, b"chunk memory")
        return (inline, apart), [inline.GetChunkRawDataByID(0x10), base.TnBuffer_GetChunkRawDataByIndex(inline, 0),
                                 apart.GetChunkRawDataByID(0x20), apart.GetChunkData().GetChunkRawDataByIndex(0)]

    def parts():  # parts in the buffer's memory, and a part with memory of its own
        buffer, own = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart), tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
        container = buffer.GetMultiPartContainer()
        container.AddImagePart(tarn.TnMultiPart2DImage, 16, 4, tarn.TnPixelMono8)
        container.AddJPEGPart(tarn.TnMultiPartJPEGImage, 64, 1, 90000, 0)
        container.AddChunkPart(64, 3)
        container.AllocAllParts()
        container.SetPartFinalLength(1, 64)
        container.GetPart(2).GetChunkData().AddChunk(0x30, b"part chunk")
        own.GetMultiPartContainer().AddImagePart(tarn.TnMultiPart2DImage, 16, 4, tarn.TnPixelMono8)
        own.GetMultiPartContainer().AllocPart(0)
        return (buffer, own), [filled(container.GetPart(0).GetDataPointer(), 21),
                               container.GetPart(0).GetImage().GetDataPointer(),
                               filled(container.GetPart(1).GetJPEG().GetDataPointer(), 22),
                               container.GetPart(2).GetChunkData().GetChunkRawDataByID(0x30),
                               filled(own.GetMultiPartContainer().GetPart(0).GetDataPointer(), 23)]

    def gendc():
        packed = packing.pack(packing.sample(2)).data
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeGenDC)
        buffer.Alloc(len(packed))
        buffer.GetDataPointer()[:] = np.frombuffer(packed, np.uint8)
        container = buffer.GetGenDC()
        return buffer, [container[0][0].GetDataPointer(), container[0][0].GetGenDCImage().GetDataPointer(),
                        container[1][0].GetGenDCChunkData().GetChunkRawDataByID(0x20), buffer.GetDataPointer()]

    def detached():  # what Detach hands back, and a view taken before
        buffer, raw = tarn.TnBuffer(), tarn.TnBuffer(tarn.TnPayloadTypeRawData)
        chunk = tarn.TnBuffer(tarn.TnPayloadTypeChunkData)
        buffer.GetImage().Attach(np.full((4, 16), 31, np.uint8), tarn.TnPixelMono8)
        raw.GetRawData().Attach(np.full(50, 32, np.uint8))
        chunk.GetChunkData().Attach(np.full(50, 33, np.uint8))
        return (buffer, raw, chunk), [buffer.GetDataPointer(), buffer.GetImage().Detach(),
                                      base.TnRawData_Detach(raw.GetRawData()), chunk.GetChunkData().Detach()]

    def end(buffer, ending):
        if ending == "Free":
            buffer.Free()
        elif ending == "Alloc":
            buffer.Alloc(16)
        elif ending == "Reset":
            buffer.Reset(tarn.TnPayloadTypeMultiPart)
            container = buffer.GetMultiPartContainer()
            container.Reset()
            container.AddImagePart(tarn.TnMultiPart2DImage, 4, 4, tarn.TnPixelMono8)
            container.AllocPart(0)
        elif ending == "delete_":
            base.delete_TnBuffer(buffer)

    results = {}
    for make in (plain, chunks, parts, gendc, detached):
        for ending in ("Free", "Alloc", "Reset", "delete_", "dropped"):
            owners, views = make()
            wanted = [view.tobytes() for view in views]
            for owner in owners if isinstance(owners, tuple) else (owners,):
                end(owner, ending)
            del owners, owner
            junk = churn()
            results[f"{make.__name__} {ending}"] = [[view.tobytes() for view in views] == wanted,
                                                   all(holds(view) for view in views)]
            del views, junk
    out["views"] = results


if child.NAME == "attached_arrays_dropped_by_the_caller":
    # How to attach an array to a fresh owner of each kind, and to view it.
    KINDS = {
        "buffer": (tarn.TnPayloadTypeImage, lambda o, a: o.Attach(a), lambda o: o.GetDataPointer()),
        "image": (tarn.TnPayloadTypeImage, lambda o, a: o.GetImage().Attach(a.reshape(4, 16), tarn.TnPixelMono8),
                  lambda o: o.GetImage().GetDataPointer()),
        "raw": (tarn.TnPayloadTypeRawData, lambda o, a: base.TnRawData_Attach(o.GetRawData(), a),
                lambda o: o.GetDataPointer()),
        "chunk": (tarn.TnPayloadTypeChunkData, lambda o, a: o.GetChunkData().Attach(a), lambda o: o.GetDataPointer()),
        "part": (tarn.TnPayloadTypeMultiPart, lambda o, a: o.GetMultiPartContainer().AttachPart(0, a),
                 lambda o: o.GetMultiPartContainer().GetPart(0).GetDataPointer()),
    }

    def let_go(owner, kind, ending):
        if ending == "Detach" and kind == "part":
            owner.GetMultiPartContainer().Reset()
        elif ending == "Detach":
            owner.Detach()
        elif ending == "Attach" and kind == "part":
            owner.GetMultiPartContainer().AttachPart(0, np.zeros(64, np.uint8))
        elif ending == "Attach":
            owner.Attach(np.zeros(64, np.uint8))
        elif ending == "Free":
            owner.Free()
        elif ending == "Free on a thread":
            thread = threading.Thread(target=owner.Free)
            thread.start()
            thread.join()
        elif ending == "delete_":
            base.delete_TnBuffer(owner)

    results = {}
    for ending in ("Detach", "Free", "Attach", "delete_", "dropped", "Free on a thread"):
        for kind, (payload, attach, view_of) in KINDS.items():
            owner, array = tarn.TnBuffer(payload), np.full(64, 7, np.uint8)
            if kind == "part":
                owner.GetMultiPartContainer().AddImagePart(tarn.TnMultiPart2DImage, 16, 4, tarn.TnPixelMono8)
            alive = weakref.ref(array)
            answer = attach(owner, array).GetCodeString()
            del array
            junk = churn()
            view = view_of(owner)
            held = [alive() is not None, int(view.sum()) == 7 * view.size, holds(view)]
            let_go(owner, kind, ending)
            del owner
            junk = churn()
            kept = [alive() is not None, int(view.sum()) == 7 * view.size]
            del view, junk
            gc.collect()
            results[f"{kind} {ending}"] = [answer, held, kept, alive() is None]
    out["attached"] = results
    # Attached and viewed as the program ends: the interpreter's end lets go.
    leftover = tarn.TnBuffer()
    leftover.Attach(np.zeros(1 << 20, np.uint8))
    leftover_view = leftover.GetDataPointer()


if child.NAME == "views_of_views":
    buffer = tarn.TnBuffer()
    buffer.GetImage().Alloc(64, 32, tarn.TnPixelRGB8)
    view = buffer.GetImage().GetDataPointer()
    view[...] = np.arange(64 * 32 * 3, dtype=np.uint32).reshape(32, 64, 3) % 251
    wanted = view.copy()
    made = [lambda v: v[3:9, 2:40:3], lambda v: v.reshape(-1), lambda v: v[..., 1].T, np.asarray,
            lambda v: v.reshape(-1).view(np.uint16)]
    derived = [make(view) for make in made]
    as_memory = memoryview(view[5])
    out["flags"] = [view.flags.c_contiguous, view.flags.aligned, view.flags.writeable, view.dtype.str, view.shape]
    del view
    base.delete_TnBuffer(buffer)
    junk = churn()
    out["derived"] = [bool((array == make(wanted)).all()) for array, make in zip(derived, made)]
    out["derived"].append(bytes(as_memory) == wanted[5].tobytes())
    out["holds"] = [holds(array) for array in derived]
    # A view attached to another buffer: the second holds the first's memory.
    first, second = tarn.TnBuffer(), tarn.TnBuffer()
    first.Alloc(256)
    first.GetDataPointer()[:] = 77
    second.Attach(first.GetDataPointer()[128:])
    del first
    junk = churn()
    out["attached view"] = [int(second.GetDataPointer().min()), second.GetSize()]


if child.NAME == "a_kept_view_of_a_queued_buffer_shows_the_newest_frame":
    import tarn_receive_313 as rx
    stream, buffer = rtp_stream(rx), tarn.TnBuffer()
    buffer.Alloc(W * H)
    stream.QueueBuffer(buffer)
    send(1000, 10)
    result, buffer, operation = stream.RetrieveBuffer(2000)
    kept = buffer.GetImage().GetDataPointer()
    first = kept[:, 0].tolist()
    stream.QueueBuffer(buffer)
    send(2000, 50)
    result, buffer, operation = stream.RetrieveBuffer(2000)
    newest = buffer.GetImage().GetDataPointer()
    out["frames"] = [first, kept[:, 0].tolist(), newest.ctypes.data == kept.ctypes.data]
    stream.AbortQueuedBuffers()
    stream.Close()
    # A pipeline's buffer kept past a pool that shrank and let it go.
    stream = rtp_stream(rx)
    pipeline = rx.TnPipeline(stream)
    pipeline.SetBufferSize(W * H)
    pipeline.SetBufferCount(4)
    pipeline.Start()
    send(3000, 90)
    result, buffer = pipeline.RetrieveNextBuffer(2000)[:2]
    send(4000, 120)
    other = pipeline.RetrieveNextBuffer(2000)[1]
    view = buffer.GetImage().GetDataPointer()
    pipeline.SetBufferCount(1)  # two held: they go as they are released
    pipeline.ReleaseBuffer(buffer)
    gone = buffer.GetSize() == 0
    del buffer
    pipeline.Stop()
    del pipeline, stream
    junk = churn()
    out["pool"] = [result.GetCodeString(), gone, view[:, 0].tolist(), holds(view)]


if child.NAME == "views_handed_to_overrides":
    # The bytes of command-link reports, kept by the sink with a slice of
    # them, outlive the call.
    import tarn_edge_313 as edge
    import tarn_receive_313 as rx

    class Sink(rx.TnDeviceEventSink):
        def __init__(self):
            super().__init__()
            self.kept = []

        def OnCmdLinkRead(self, pair):
            self.kept.append((pair[0], pair[0][1:], pair[0].tobytes()))

    device, client, sink = edge.TnSoftDeviceGEV(), rx.TnDeviceGEV(), Sink()
    out["start"] = device.Start("00:00:00:00:00:00").GetCodeString()
    out["connect"] = client.Connect("127.0.0.1").GetCodeString()
    client.RegisterEventSink(sink)
    for _ in range(3):
        client.GetParameters().InvalidateCache()
        client.GetParameters().GetIntegerValue("GevHeartbeatTimeout")
    client.UnregisterEventSink(sink)
    junk = churn()
    out["reads"] = len(sink.kept) > 0
    out["kept"] = all(view.tobytes() == saved and tail.tobytes() == saved[1:] and holds(view) and holds(tail)
                      for view, tail, saved in sink.kept)
    client.Disconnect()
    device.Stop()
