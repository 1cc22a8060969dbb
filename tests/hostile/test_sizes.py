"""Sizes near 2**32: every function that sizes memory from its arguments,
called with each size argument at 0, 2**31, 2**32 - 8 to 2**32 - 1 and
2**64 - 1. None answers OK with less memory than it was asked for, and none
takes a value its C type cannot hold (OverflowError or the overload TypeError
are the wrapper's answers there)."""

import math

import numpy as np

from machine import machine_bytes

U16, U32, U64 = 2**16 - 1, 2**32 - 1, 2**64 - 1
EDGES = [0, 2**31, *range(2**32 - 8, 2**32), 2**64 - 1]
LARGEST_BUFFER = U32


def answer(call, limits, *arguments):
    """call(*arguments): what it returned, or None when the wrapper refused an
    argument that its C type (limits: the largest value of each) cannot hold.
    A value beyond its type that the call took anyway fails."""
    outside = any(limit is not None and value > limit for value, limit in zip(arguments, limits))
    try:
        returned = call(*arguments)
    except (OverflowError, TypeError):
        assert outside, (call, arguments)
        return None
    assert not outside, (call, arguments, returned)
    return returned


def varied(base):
    """Each argument of base in turn at each edge value, the others as given."""
    for index in range(len(base)):
        for value in EDGES:
            yield base[:index] + (value,) + base[index + 1:]


def image_bytes(width, height, bits, padding_x, padding_y):
    if padding_x == 0:
        return math.ceil(width * height * bits / 8) + padding_y
    return (math.ceil(width * bits / 8) + padding_x) * height + padding_y


def chunk_room(length):
    # Chunks follow the main payload, behind its own 8-byte tag.
    return length + 8 if length else 0


def test_buffers_images_raw_data_and_chunks(tarn):
    for size, in varied((16,)):
        buffer = tarn.TnBuffer()
        result = answer(buffer.Alloc, [U32], size)
        if result is not None and result.IsOK():
            assert buffer.GetSize() == size
        result = answer(buffer.AllocChunk, [U32], size)
        if result is not None and result.IsOK():
            assert buffer.GetImage().GetMaximumChunkLength() >= size

    for pixel_type in (tarn.TnPixelMono8, tarn.TnPixelMono12Packed, tarn.TnPixelRGB16):
        bits = tarn.TnPixelTypeGetBitsPerPixel(pixel_type)
        cases = [(w, h, pixel_type, x, y, c) for w, h, x, y, c in varied((16, 16, 0, 0, 16))]
        cases += [(65536, 65536, pixel_type, 0, 0, 0), (65536, 65535, pixel_type, 4, 0, 0)]
        for width, height, _, padding_x, padding_y, chunks in cases:
            buffer = tarn.TnBuffer()
            image = buffer.GetImage()
            result = answer(image.Alloc, [U32, U32, None, U16, U16, U32], width, height, pixel_type, padding_x,
                            padding_y, chunks)
            if result is not None and result.IsOK():
                asked = image_bytes(width, height, bits, padding_x, padding_y)
                assert image.GetImageSize() == asked
                assert buffer.GetSize() >= asked + chunk_room(chunks)
                assert image.GetMaximumChunkLength() >= chunks
        # Attached memory of 8 lines of 8 bytes holds no larger image; its
        # chunks get memory of their own.
        memory = np.zeros((8, 8), np.uint8)
        for padding_x, padding_y, chunks in varied((0, 0, 16)):
            image = tarn.TnBuffer().GetImage()
            result = answer(image.Attach, [None, None, U16, U16, U32], memory, pixel_type, padding_x, padding_y,
                            chunks)
            if result is not None and result.IsOK():
                assert image_bytes(8, 8, bits, padding_x, padding_y) <= memory.size
                assert image.GetMaximumChunkLength() >= chunks

    for length, chunks in varied((16, 16)):
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
        raw = buffer.GetRawData()
        result = answer(raw.Alloc, [U64, U32], length, chunks)
        if result is not None and result.IsOK():
            assert raw.GetPayloadLength() == length
            assert buffer.GetSize() >= length + chunk_room(chunks)
    for length, in varied((16,)):
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeChunkData)
        result = answer(buffer.GetChunkData().Alloc, [U32], length)
        if result is not None and result.IsOK():
            assert buffer.GetSize() >= length

    # What an unchecked sum of the image and its chunks made of these: a
    # buffer of 256 to 263 bytes with no room for chunks, answered OK.
    for chunks in (0xFFFFFFF8, 0xFFFFFFFC, 0xFFFFFFFF):
        assert tarn.TnBuffer().GetImage().Alloc(16, 16, tarn.TnPixelMono8, 0, 0, chunks).GetCode() == \
            tarn.TN_INVALID_PARAMETER
        assert tarn.TnBuffer(tarn.TnPayloadTypeRawData).GetRawData().Alloc(16, chunks).GetCode() == \
            tarn.TN_INVALID_PARAMETER


def test_multipart_parts_and_their_memory(tarn):
    def container():
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
        return buffer, buffer.GetMultiPartContainer()

    def laid_out(buffer, parts, asked):
        # Every part whole in the memory that AllocAllParts or AllocPart gave.
        if parts.AllocAllParts().IsOK():
            assert buffer.GetSize() >= sum(asked)
            for index, size in enumerate(asked):
                assert parts.GetPart(index).GetSize() >= size
        for index, size in enumerate(asked):
            if parts.AllocPart(index).IsOK():
                assert parts.GetPart(index).GetSize() >= size

    limits = [None, U32, U32, None, U32, U32, U16]
    for width, height, _, _, padding_x in varied((16, 16, 0, 0, 0)):
        buffer, parts = container()
        result = answer(parts.AddImagePart, limits, tarn.TnMultiPart2DImage, width, height, tarn.TnPixelMono16, 0,
                        0, padding_x)
        if result is not None and result.IsOK():
            laid_out(buffer, parts, [image_bytes(width, height, 16, padding_x, 0)])
    for length, in varied((16,)):
        for add in (lambda n: parts.AddJPEGPart(tarn.TnMultiPartJPEGImage, n, 0, 0, 0),
                    lambda n: parts.AddChunkPart(n, 0)):
            buffer, parts = container()
            # A first part that leaves less than the second part's length.
            assert parts.AddJPEGPart(tarn.TnMultiPartJPEGImage, 2**31, 0, 0, 0).IsOK()
            result = answer(add, [U32], length)
            if result is not None and result.IsOK():
                laid_out(buffer, parts, [2**31, length])
                final = answer(lambda n: parts.SetPartFinalLength(1, n), [U32], length + 1)
                assert final is None or not final.IsOK()


def test_pipelines_and_streams(tarn, rx):
    machine = machine_bytes()
    for count, in varied((16,)):
        pipeline = rx.TnPipeline(None)
        result = answer(pipeline.SetBufferCount, [U32], count)
        if result is not None and result.IsOK():
            assert count * pipeline.GetBufferSize() <= machine
        elif result is not None and result.GetCode() == tarn.TN_NOT_ENOUGH_MEMORY:
            assert str(count) in result.GetDescription()
    for size, in varied((1 << 20,)):
        for count in (1, 16, 1024):
            pipeline = rx.TnPipeline(None)
            if answer(pipeline.SetBufferSize, [U32], size) is None:
                continue
            result = pipeline.SetBufferCount(count)
            if result.IsOK():
                assert count * pipeline.GetBufferSize() <= machine

    # A frame of the geometry PrepareFor is told fits a buffer: lines of pixel
    # groups (RGBa8: 4 bytes a pixel), then the padding.
    cases = [(w, h, tarn.TnPixelRGBa8, x) for w, h, x in varied((32, 32, 0))]
    cases += [(32766, 32767, tarn.TnPixelRGBa8, 0), (32766, 32767, tarn.TnPixelRGBa8, 65535),
              (32767 - 1, 32767 - 1, tarn.TnPixelMono8, 65535)]
    for width, height, pixel_type, padding_x in cases:
        stream = rx.TnStreamRTP()
        result = answer(stream.PrepareFor, [U32, U32, None, U16], width, height, pixel_type, padding_x)
        bytes_per_pixel = 4 if pixel_type == tarn.TnPixelRGBa8 else 1
        if result is not None and result.IsOK():
            assert (width * bytes_per_pixel + padding_x) * height <= LARGEST_BUFFER
    assert rx.TnStreamRTP().PrepareFor(32766, 32767, tarn.TnPixelRGBa8, 0).IsOK()
    assert rx.TnStreamRTP().PrepareFor(32766, 32767, tarn.TnPixelRGBa8, 65535).GetCode() == tarn.TN_INVALID_PARAMETER


def test_the_software_devices_default_source(tarn):
    import tarn_edge_313 as ed

    class Source(ed.TnStreamingChannelSourceDefault):
        pass

    for width, height, count in varied((16, 16, 2)):
        for pixel_type in (tarn.TnPixelMono8, tarn.TnPixelRGB16):
            source = answer(Source, [U32, U32, None, U64], width, height, pixel_type, count)
            buffer = source.AllocBuffer() if source is not None else None
            if buffer is not None:
                # The image as it is now, with room for the source's chunk.
                asked = image_bytes(width, height, tarn.TnPixelTypeGetBitsPerPixel(pixel_type), 0, 0)
                assert buffer.GetImage().GetImageSize() == asked
                assert buffer.GetSize() >= asked + 8
                source.FreeBuffer(buffer)

    # Its pool holds no more buffers than the machine: 64 buffers of
    # 1.5 GiB are more than most.
    source = Source(16384, 16384, tarn.TnPixelRGB16, 64)
    buffers = []
    while (buffer := source.AllocBuffer()) is not None:
        buffers.append(buffer)
    assert buffers and len(buffers) * buffers[0].GetSize() <= machine_bytes()
    for buffer in buffers:
        source.FreeBuffer(buffer)
