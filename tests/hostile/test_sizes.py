"""Sizes near 2**32: each size argument of every function that sizes memory
from its arguments, at 0, 2**31, 2**32 - 8 to 2**32 - 1 and 2**64 - 1. None
answers OK with less memory than it was asked for, and none takes a value
its C type cannot hold (the wrapper's OverflowError or overload TypeError)."""

import pathlib
import sys

import numpy as np

from children import run_child
from sweep import U16, U32, U64, calls, image_bytes, ok, room

CHILD = pathlib.Path(__file__).resolve().with_name("sizes_child.py")


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


def test_pipelines_rtp_frames_and_the_software_devices_default_source():
    # In a process of their own: the receive and the edge module stay out
    # of this one.
    for name in ("pipelines_and_rtp_frames", "the_software_devices_default_source"):
        run_child([sys.executable, str(CHILD), name])
