"""Views kept past what they show: every kind of array over SDK memory,
kept while its buffer, image, part or container is freed, re-allocated,
detached, reset or destroyed (through its proxy and through module
functions), and arrays attached and dropped by the caller. The test runs
each program with MALLOC_PERTURB_, so that freed memory reads as garbage;
the programs then fill memory with other objects and read their views.

    kept_views_child.py NAME    (in a network namespace)"""

import gc
import os
import socket
import struct
import sys
import threading
import time
import weakref

import numpy as np

import child
from child import out

import _tarn_base_313 as base
import tarn_base_313 as tarn

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "gendc"))


def churn():
    """Frees what Python holds no more and fills the heap and fresh mappings
    with other bytes, where freed SDK memory would now show them."""
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


W, H, PORT = 64, 4, 40146


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
    # A 64 MB buffer's view kept past del, Free and Alloc.
    kept = []
    for ending in ("del", "Free", "Alloc"):
        b = tarn.TnBuffer()
        b.Alloc(64 << 20)
        v = b.GetDataPointer()
        v[:] = 1
        if ending == "del":
            del b
        elif ending == "Free":
            b.Free()
        else:
            b.Alloc(1024)
        junk = churn()
        kept.append(int(v[-1]))
        del junk
    out["kept"] = kept
    # The converter re-allocates its destination for each new size.
    import tarn_receive_313 as rx
    converter = rx.TnBufferConverter()
    rgb = tarn.TnBuffer()
    rgb.GetImage().Alloc(1, 1, tarn.TnPixelRGB8)
    frames = []
    for width, height in [(64, 48), (1920, 1080), (640, 480)]:
        raw = tarn.TnBuffer()
        raw.GetImage().Alloc(width, height, tarn.TnPixelBayerRG8)
        raw.GetDataPointer()[:] = 0
        converter.Convert(raw, rgb)
        frames.append(rgb.GetImage().GetDataPointer())
    junk = churn()
    out["converted"] = [int(f.sum()) for f in frames]
    # An array attached with no name kept for it, read through a view and
    # filled by a stream.
    buffer = tarn.TnBuffer()
    buffer.Attach(np.zeros(1 << 24, np.uint8))
    junk = churn()
    out["attached"] = int(buffer.GetDataPointer()[-1])
    stream = rtp_stream(rx)
    queued = tarn.TnBuffer()
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
        return buffer, [filled(buffer.GetDataPointer(), 11)]

    def image():
        buffer = tarn.TnBuffer()
        buffer.GetImage().Alloc(32, 8, tarn.TnPixelMono16)
        return buffer, [filled(buffer.GetImage().GetDataPointer(), 0x1234), filled(base.ITnImage_GetDataPointer(
            buffer.GetImage()), 0x1234)]

    def chunks():
        # Chunks in the buffer's memory after the image, and in chunk memory
        # of their own.
        inline = tarn.TnBuffer()
        inline.GetImage().Alloc(8, 8, tarn.TnPixelMono8, 0, 0, 64)
        inline.AddChunk(0x10, b"inline chunk")
        apart = tarn.TnBuffer(tarn.TnPayloadTypeChunkData)
        apart.Alloc(64)
        apart.AllocChunk(64)
        apart.AddChunk(0x20, b"chunk memory")
        views = [inline.GetChunkRawDataByID(0x10), base.TnBuffer_GetChunkRawDataByIndex(inline, 0),
                 apart.GetChunkRawDataByID(0x20), apart.GetChunkData().GetChunkRawDataByIndex(0)]
        return (inline, apart), views

    def parts():
        # A container whose parts lie in the buffer's memory, and a part with
        # memory of its own.
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
        container = buffer.GetMultiPartContainer()
        container.AddImagePart(tarn.TnMultiPart2DImage, 16, 4, tarn.TnPixelMono8)
        container.AddJPEGPart(tarn.TnMultiPartJPEGImage, 64, 1, 90000, 0)
        container.AddChunkPart(64, 3)
        container.AllocAllParts()
        container.SetPartFinalLength(1, 64)
        container.GetPart(2).GetChunkData().AddChunk(0x30, b"part chunk")
        own = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
        own.GetMultiPartContainer().AddImagePart(tarn.TnMultiPart2DImage, 16, 4, tarn.TnPixelMono8)
        own.GetMultiPartContainer().AllocPart(0)
        views = [filled(container.GetPart(0).GetDataPointer(), 21), filled(container.GetPart(0).GetImage().GetDataPointer(), 21),
                 filled(container.GetPart(1).GetJPEG().GetDataPointer(), 22),
                 container.GetPart(2).GetChunkData().GetChunkRawDataByID(0x30),
                 filled(own.GetMultiPartContainer().GetPart(0).GetDataPointer(), 23)]
        return (buffer, own), views

    def gendc():
        packed = packing.pack(packing.sample(2))
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeGenDC)
        buffer.Alloc(len(packed.data))
        buffer.GetDataPointer()[:] = np.frombuffer(packed.data, np.uint8)
        container = buffer.GetGenDC()
        views = [container[0][0].GetDataPointer(), container[0][0].GetGenDCImage().GetDataPointer(),
                 container[1][0].GetGenDCChunkData().GetChunkRawDataByID(0x20), buffer.GetDataPointer()]
        return buffer, views

    def attached_then_detached():
        # What Detach hands back keeps the array it shows, and so does a view
        # taken before.
        buffer = tarn.TnBuffer()
        buffer.GetImage().Attach(np.full((4, 16), 31, np.uint8), tarn.TnPixelMono8)
        raw = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
        raw.GetRawData().Attach(np.full(50, 32, np.uint8))
        chunk = tarn.TnBuffer(tarn.TnPayloadTypeChunkData)
        chunk.GetChunkData().Attach(np.full(50, 33, np.uint8))
        before = buffer.GetDataPointer()
        views = [before, buffer.GetImage().Detach(), base.TnRawData_Detach(raw.GetRawData()),
                 chunk.GetChunkData().Detach()]
        return (buffer, raw, chunk), views

    def ended(owner, ending):
        """Lets the SDK object go in one of the ways that ends its memory."""
        owners = owner if isinstance(owner, tuple) else (owner,)
        for buffer in owners:
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

    makers = {"plain": plain, "image": image, "chunks": chunks, "parts": parts, "gendc": gendc,
              "detached": attached_then_detached}
    results = {}
    for name, make in makers.items():
        for ending in ("Free", "Alloc", "Reset", "delete_", "dropped"):
            owner, views = make()
            wanted = [view.tobytes() for view in views]
            ended(owner, ending)
            del owner
            junk = churn()
            same = [view.tobytes() == before for view, before in zip(views, wanted)]
            results[f"{name} {ending}"] = [all(same), all(holds(view) for view in views), len(views)]
            del views, junk
    out["views"] = results


if child.NAME == "attached_arrays_dropped_by_the_caller":
    # The SDK object holds what was attached until it lets go of it; views
    # of the memory hold it too.
    def attach_kind(kind):
        """A fresh owner of the kind, how to attach an array to it and how
        to view what it shows."""
        if kind == "buffer":
            owner = tarn.TnBuffer()
            return owner, lambda a: owner.Attach(a), lambda: owner.GetDataPointer()
        if kind == "image":
            owner = tarn.TnBuffer()
            return (owner, lambda a: owner.GetImage().Attach(a.reshape(4, 16), tarn.TnPixelMono8),
                    lambda: owner.GetImage().GetDataPointer())
        if kind == "raw":
            owner = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
            return owner, lambda a: base.TnRawData_Attach(owner.GetRawData(), a), lambda: owner.GetDataPointer()
        if kind == "chunk":
            owner = tarn.TnBuffer(tarn.TnPayloadTypeChunkData)
            return owner, lambda a: owner.GetChunkData().Attach(a), lambda: owner.GetDataPointer()
        owner = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
        owner.GetMultiPartContainer().AddImagePart(tarn.TnMultiPart2DImage, 16, 4, tarn.TnPixelMono8)
        return (owner, lambda a: owner.GetMultiPartContainer().AttachPart(0, a),
                lambda: owner.GetMultiPartContainer().GetPart(0).GetDataPointer())

    def let_go(owner, kind, ending):
        if ending == "Detach":
            if kind == "part":
                owner.GetMultiPartContainer().Reset()
            else:
                owner.Detach()
        elif ending == "Free":
            owner.Free()
        elif ending == "Attach":
            if kind == "part":
                owner.GetMultiPartContainer().AttachPart(0, np.zeros(64, np.uint8))
            else:
                owner.Attach(np.zeros(64, np.uint8))
        elif ending == "delete_":
            base.delete_TnBuffer(owner)
        elif ending == "Free on a thread":
            thread = threading.Thread(target=owner.Free)
            thread.start()
            thread.join()

    results = {}
    for ending in ("Detach", "Free", "Attach", "delete_", "dropped", "Free on a thread"):
        for kind in ("buffer", "image", "raw", "chunk", "part"):
            owner, attach, view_of = attach_kind(kind)
            array = np.full(64, 7, np.uint8)
            alive = weakref.ref(array)
            answer = attach(array).GetCodeString()
            del array
            junk = churn()
            view = view_of()
            held = [alive() is not None, int(view.sum()) == 7 * view.size, holds(view)]
            let_go(owner, kind, ending)
            del owner, attach, view_of
            junk = churn()
            kept = [alive() is not None, int(view.sum()) == 7 * view.size]
            del view, junk
            gc.collect()
            results[f"{kind} {ending}"] = [answer, held, kept, alive() is None]
    out["attached"] = results
    # Arrays that keep no memory of their own: a bytearray's export stops it
    # from being resized while attached.
    memory = bytearray(64)
    buffer = tarn.TnBuffer()
    view = np.frombuffer(memory, np.uint8)
    buffer.Attach(view)
    del view
    try:
        memory.extend(b"x" * 4096)
        out["resized"] = True
    except BufferError:
        out["resized"] = False
    buffer.Free()
    gc.collect()
    memory.extend(b"x")
    out["resized after Free"] = len(memory)
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
    derived = [view[3:9, 2:40:3], view.reshape(-1), view[..., 1].T, np.asarray(view), view.reshape(-1).view(np.uint16)]
    as_memory = memoryview(view[5])
    flags = [view.flags.c_contiguous, view.flags.aligned, view.flags.writeable, view.dtype.str, view.shape]
    del view
    base.delete_TnBuffer(buffer)
    del buffer
    junk = churn()
    out["derived"] = [bool((derived[0] == wanted[3:9, 2:40:3]).all()), bool((derived[1] == wanted.reshape(-1)).all()),
                      bool((derived[2] == wanted[..., 1].T).all()), bool((derived[3] == wanted).all()),
                      bool((derived[4] == wanted.reshape(-1).view(np.uint16)).all()),
                      bytes(as_memory) == wanted[5].tobytes()]
    out["holds"] = [holds(array) for array in derived]
    out["flags"] = flags
    # A view attached to another buffer: the second holds the first's memory.
    first = tarn.TnBuffer()
    first.Alloc(256)
    first.GetDataPointer()[:] = 77
    second = tarn.TnBuffer()
    second.Attach(first.GetDataPointer()[128:])
    del first
    junk = churn()
    out["attached view"] = [int(second.GetDataPointer().min()), second.GetSize()]


if child.NAME == "a_kept_view_of_a_queued_buffer_shows_the_newest_frame":
    import tarn_receive_313 as rx
    stream = rtp_stream(rx)
    buffer = tarn.TnBuffer()
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
    # A pipeline's buffer kept past a pool that shrank and let it go.
    stream.AbortQueuedBuffers()
    stream.Close()
    stream = rtp_stream(rx)
    pipeline = rx.TnPipeline(stream)
    pipeline.SetBufferSize(W * H)
    pipeline.SetBufferCount(4)
    pipeline.Start()
    time.sleep(0.2)
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
    # The bytes of a command-link report and of an event, kept by the sink
    # with a slice of them, outlive the call.
    import tarn_edge_313 as edge
    import tarn_receive_313 as rx

    class Sink(rx.TnDeviceEventSink):
        def __init__(self):
            super().__init__()
            self.kept = []

        def OnCmdLinkRead(self, pair):
            view = pair[0]
            self.kept.append((view, view[1:], view.tobytes(), pair[1]))

    device = edge.TnSoftDeviceGEV()
    out["start"] = device.Start("00:00:00:00:00:00").GetCodeString()
    client = rx.TnDeviceGEV()
    out["connect"] = client.Connect("127.0.0.1").GetCodeString()
    sink = Sink()
    client.RegisterEventSink(sink)
    features = client.GetParameters()
    for _ in range(3):
        features.InvalidateCache()
        features.GetIntegerValue("GevHeartbeatTimeout")
    client.UnregisterEventSink(sink)
    junk = churn()
    out["reads"] = len(sink.kept) > 0
    out["kept"] = all(view.tobytes() == saved and tail.tobytes() == saved[1:] and holds(view) and holds(tail)
                      for view, tail, saved, address in sink.kept)
    client.Disconnect()
    device.Stop()
