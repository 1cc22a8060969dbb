"""Sizes near 2**32: each size argument of every function that sizes memory
from its arguments, at 0, 2**31, 2**32 - 8 to 2**32 - 1 and 2**64 - 1. None
answers OK with less memory than it was asked for, and none takes a value
its C type cannot hold (the wrapper's OverflowError or overload TypeError)."""

import numpy as np

from machine import machine_bytes

U16, U32, U64 = 2**16 - 1, 2**32 - 1, 2**64 - 1
EDGES = [0, 2**31, *range(2**32 - 8, 2**32), 2**64 - 1]


def calls(call, limits, base):
    """call with each argument of base in turn at each edge value: the
    arguments and what it returned, for the calls the wrapper let through."""
    for index in range(len(base)):
        for value in EDGES:
            arguments = base[:index] + (value,) + base[index + 1:]
            outside = any(limit is not None and a > limit for a, limit in zip(arguments, limits))
            try:
                returned = call(*arguments)
            except (OverflowError, TypeError):
                assert outside, arguments
                continue
            assert not outside, (arguments, returned)
            yield arguments, returned


def ok(result):
    return result is not None and result.IsOK()


def image_bytes(width, height, bits, padding_x=0, padding_y=0):
    # Padded lines end on whole bytes; unpadded ones follow bit for bit.
    if padding_x:
        return ((width * bits + 7) // 8 + padding_x) * height + padding_y
    return (width * height * bits + 7) // 8 + padding_y


def room(chunks):
    return chunks + 8 if chunks else 0  # chunks follow the payload's own 8-byte tag


def test_buffers_images_raw_data_and_chunks(tarn):
    for kind, check in [("Alloc", lambda b, n: b.GetSize() == n),
                        ("AllocChunk", lambda b, n: b.GetImage().GetMaximumChunkLength() >= n)]:
        buffer = tarn.TnBuffer()
        for (size,), result in calls(getattr(buffer, kind), [U32], (16,)):
            assert not ok(result) or check(buffer, size)
    for pixel_type in (tarn.TnPixelMono8, tarn.TnPixelMono12Packed, tarn.TnPixelRGB16):
        bits = tarn.TnPixelTypeGetBitsPerPixel(pixel_type)
        buffer = tarn.TnBuffer()
        image = buffer.GetImage()
        alloc = lambda *a: image.Alloc(a[0], a[1], pixel_type, *a[2:])  # noqa: E731
        for (w, h, x, y, c), result in calls(alloc, [U32, U32, U16, U16, U32], (16, 16, 0, 0, 16)):
            if ok(result):
                assert image.GetImageSize() == image_bytes(w, h, bits, x, y)
                assert buffer.GetSize() >= image.GetImageSize() + room(c) and image.GetMaximumChunkLength() >= c
        attach = lambda *a: image.Attach(np.zeros((8, 8), np.uint8), pixel_type, *a)  # noqa: E731
        for (x, y, c), result in calls(attach, [U16, U16, U32], (0, 0, 16)):
            assert not ok(result) or image_bytes(8, 8, bits, x, y) <= 64 and image.GetMaximumChunkLength() >= c
    raw_buffer = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
    for (length, c), result in calls(raw_buffer.GetRawData().Alloc, [U64, U32], (16, 16)):
        assert not ok(result) or raw_buffer.GetSize() >= length + room(c)
    chunk_buffer = tarn.TnBuffer(tarn.TnPayloadTypeChunkData)
    for (length,), result in calls(chunk_buffer.GetChunkData().Alloc, [U32], (16,)):
        assert not ok(result) or chunk_buffer.GetSize() >= length


def test_multipart_parts_and_their_memory(tarn):
    def laid_out(buffer, parts, asked):
        if parts.AllocAllParts().IsOK():
            assert buffer.GetSize() >= sum(asked)
        for index, size in enumerate(asked):
            assert not parts.AllocPart(index).IsOK() or parts.GetPart(index).GetSize() >= size

    def image_part(*arguments):
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
        parts = buffer.GetMultiPartContainer()
        if parts.AddImagePart(tarn.TnMultiPart2DImage, arguments[0], arguments[1], tarn.TnPixelMono16, 0, 0,
                              arguments[2]).IsOK():
            laid_out(buffer, parts, [image_bytes(arguments[0], arguments[1], 16, arguments[2])])

    list(calls(image_part, [U32, U32, U16], (16, 16, 0)))
    for add in ("AddJPEGPart", "AddChunkPart"):
        def second_part(length):
            # Behind a first part of 2 GiB: the two do not fit one buffer.
            buffer = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
            parts = buffer.GetMultiPartContainer()
            assert parts.AddJPEGPart(tarn.TnMultiPartJPEGImage, 2**31, 0, 0, 0).IsOK()
            added = (parts.AddJPEGPart(tarn.TnMultiPartJPEGImage, length, 0, 0, 0) if add == "AddJPEGPart"
                     else parts.AddChunkPart(length, 0))
            if added.IsOK():
                laid_out(buffer, parts, [2**31, length])
                assert length == U32 or not parts.SetPartFinalLength(1, length + 1).IsOK()

        list(calls(second_part, [U32], (16,)))


def test_pipelines_and_rtp_frames(tarn, rx):
    for (count,), result in calls(rx.TnPipeline(None).SetBufferCount, [U32], (16,)):
        assert not ok(result) or count << 20 <= machine_bytes()
    for count in (1, 16, 1024):
        pipeline = rx.TnPipeline(None)
        for (size,), _ in calls(pipeline.SetBufferSize, [U32], (1 << 20,)):
            assert not pipeline.SetBufferCount(count).IsOK() or count * pipeline.GetBufferSize() <= machine_bytes()
    # RGBa8: lines of 4 bytes a pixel, then the padding; no frame larger than a buffer.
    prepare = lambda *a: rx.TnStreamRTP().PrepareFor(a[0], a[1], tarn.TnPixelRGBa8, a[2])  # noqa: E731
    for (w, h, x), result in calls(prepare, [U32, U32, U16], (32, 32, 0)):
        assert not ok(result) or (w * 4 + x) * h <= U32
    assert prepare(32766, 32767, 0).IsOK()
    assert prepare(32766, 32767, 65535).GetCode() == tarn.TN_INVALID_PARAMETER


def test_the_software_devices_default_source(tarn):
    import tarn_edge_313 as ed

    class Source(ed.TnStreamingChannelSourceDefault):
        pass

    for pixel_type in (tarn.TnPixelMono8, tarn.TnPixelRGB16):
        for (w, h, count), source in calls(lambda *a: Source(a[0], a[1], pixel_type, a[2]), [U32, U32, U64],
                                           (16, 16, 2)):
            buffer = source.AllocBuffer()
            if buffer is not None:
                asked = image_bytes(w, h, tarn.TnPixelTypeGetBitsPerPixel(pixel_type))
                assert buffer.GetImage().GetImageSize() == asked and buffer.GetSize() >= asked + 8
                source.FreeBuffer(buffer)
    # A pool no larger than the machine: 64 buffers of 1.5 GiB are more than most.
    source = Source(16384, 16384, tarn.TnPixelRGB16, 64)
    buffers = []
    while (buffer := source.AllocBuffer()) is not None:
        buffers.append(buffer)
    assert buffers and len(buffers) * buffers[0].GetSize() <= machine_bytes()
    for buffer in buffers:
        source.FreeBuffer(buffer)
