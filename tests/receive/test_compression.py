"""The compression and decompression filters: byte-identical round trips of
every pixel type and shape, compressed buffers and their header, damaged
input that fails cleanly, threads and the output buffer's memory."""

import time

import numpy as np
import pytest
import zstandard
from skimage import data

import imaging


def pixel_types(tarn):
    return {name[len("TnPixel"):]: value for name, value in vars(tarn).items()
            if name.startswith("TnPixel") and type(value) is int and not name.startswith("TnPixelType")}


def compress(rx, tarn, source):
    packed = tarn.TnBuffer()
    result, out = rx.TnCompressionFilter().Execute(source, packed)
    assert result.IsOK(), result.GetCodeString()
    assert out == packed
    return packed


def round_trip(rx, tarn, source, decompressor=None):
    packed = compress(rx, tarn, source)
    back = tarn.TnBuffer()
    result, out = (decompressor or rx.TnDecompressionFilter()).Execute(packed, back)
    assert result.IsOK(), result.GetCodeString()
    return packed, back


def test_every_pixel_type_and_shape_round_trips(rx, tarn):
    """Random bytes of every pixel type with a bit count, in shapes that put
    packed rows off their bytes, single rows and columns, and paddings."""
    rng = np.random.default_rng(1)
    decompressor = rx.TnDecompressionFilter()
    shapes = [(37, 13, 0, 0), (1, 9, 0, 0), (40, 1, 0, 0), (64, 16, 3, 5), (7, 7, 1, 0)]
    tried = 0
    for name, code in pixel_types(tarn).items():
        if tarn.TnPixelTypeGetBitsPerPixel(code) == 0:
            continue
        for width, height, padding_x, padding_y in shapes:
            source = tarn.TnBuffer()
            assert source.GetImage().Alloc(width, height, code, padding_x, padding_y).IsOK()
            view = source.GetDataPointer()
            view[:] = rng.integers(0, 256, view.size)
            source.SetBlockID(tried)
            packed, back = round_trip(rx, tarn, source, decompressor)
            image = back.GetImage()
            assert (image.GetPixelType() & 0xFFFFFFFF, image.GetWidth(), image.GetHeight(), image.GetPaddingX(),
                    image.GetPaddingY()) == (code & 0xFFFFFFFF, width, height, padding_x, padding_y), name
            assert np.array_equal(imaging.image_bytes(back), imaging.image_bytes(source)), (name, width, height)
            assert back.GetBlockID() == tried
            tried += 1
    assert tried > 1200


def test_flat_noise_and_photographs(rx, tarn):
    rng = np.random.default_rng(2)
    photo = data.camera()
    for name, raw in [("Mono8", np.full((300, 200), 77, np.uint8)), ("Mono8", rng.integers(0, 256, (300, 200))),
                      ("Mono16", rng.integers(0, 65536, (120, 90)).astype("<u2").view(np.uint8)),
                      ("Mono8", photo), ("BayerGR8", imaging.mosaic(data.astronaut(), "GR")),
                      ("RGB8", data.coffee())]:
        width = raw.shape[1] * (raw.shape[2] if raw.ndim == 3 else 1) // (2 if name == "Mono16" else 1)
        width //= 3 if name == "RGB8" else 1
        source = imaging.image_buffer(raw, getattr(tarn, "TnPixel" + name), width, raw.shape[0])
        packed, back = round_trip(rx, tarn, source)
        assert np.array_equal(imaging.image_bytes(back), imaging.image_bytes(source))
        if raw.dtype == np.uint8 and raw.ndim == 2 and raw[0, 0] == 77 and (raw == 77).all():
            assert packed.GetPayloadSize() < 2000
    # The predictors earn their keep: a photograph compresses well below
    # what zstd makes of its raw bytes at the same level.
    source = imaging.image_buffer(photo, tarn.TnPixelMono8, 512, 512)
    assert compress(rx, tarn, source).GetPayloadSize() < 0.8 * len(zstandard.ZstdCompressor(level=1).compress(
        photo.tobytes()))


def test_compressed_buffers_and_their_header(rx, tarn):
    source = imaging.image_buffer(data.camera(), tarn.TnPixelMono8, 512, 512)
    source.SetTimestamp(1234)
    packed = compress(rx, tarn, source)
    assert packed.GetPayloadType() == tarn.TnPayloadTypeVexmoorCompressed
    assert packed.GetVexmoorCompressed() is not None and packed.GetImage() is None
    assert packed.GetTimestamp() == 1234
    assert rx.TnDecompressionFilter.IsCompressed(packed) is True
    result, pixel_type, width, height = rx.TnDecompressionFilter.GetOutputFormatFor(packed)
    assert result.IsOK() and (pixel_type, width, height) == (tarn.TnPixelMono8, 512, 512)
    # Only the header is read: a buffer cut after it still tells its format,
    # and decompressing it fails.
    header = packed.GetDataPointer()[:400].copy()
    cut = tarn.TnBuffer(tarn.TnPayloadTypeVexmoorCompressed)
    assert cut.Attach(header).IsOK()
    assert rx.TnDecompressionFilter.IsCompressed(cut)
    assert rx.TnDecompressionFilter.GetOutputFormatFor(cut)[1:] == (tarn.TnPixelMono8, 512, 512)
    result, out = rx.TnDecompressionFilter().Execute(cut, tarn.TnBuffer())
    assert result.GetCode() == rx.TN_IMAGE_ERROR and out is None
    # Not compressed: four items, a result that is not OK; execution not
    # supported.
    for buffer in (source, tarn.TnBuffer(tarn.TnPayloadTypeVexmoorCompressed)):
        result, *values = rx.TnDecompressionFilter.GetOutputFormatFor(buffer)
        assert result.GetCode() == rx.TN_NOT_SUPPORTED and len(values) == 3
        assert rx.TnDecompressionFilter.IsCompressed(buffer) is False
        assert rx.TnDecompressionFilter().Execute(buffer, tarn.TnBuffer())[0].GetCode() == rx.TN_NOT_SUPPORTED
    assert rx.TnDecompressionFilter.GetOutputFormatFor(None)[0].GetCode() == rx.TN_INVALID_PARAMETER
    assert rx.TnDecompressionFilter.IsCompressed(None) is False
    # A header changed: corrupted, not merely unknown.
    view = packed.GetDataPointer()
    view[12] ^= 1
    assert rx.TnDecompressionFilter.GetOutputFormatFor(packed)[0].GetCode() == rx.TN_IMAGE_ERROR
    assert rx.TnDecompressionFilter().Execute(packed, tarn.TnBuffer())[0].GetCode() == rx.TN_IMAGE_ERROR


def test_damaged_buffers_fail_cleanly(rx, tarn):
    """Mutated and cut compressed buffers, decompressed into memory with
    guard bytes after the image: a failed result (or, where the damage hit
    nothing that matters, the image itself), never a write past it."""
    rng = np.random.default_rng(3)
    source = imaging.image_buffer(imaging.mosaic(data.chelsea(), "BG"), tarn.TnPixelBayerBG8, 451, 300)
    original = imaging.image_bytes(source)
    packed = compress(rx, tarn, source)  # kept: its view is read below
    good = packed.GetDataPointer().copy()
    decompressor = rx.TnDecompressionFilter()
    memory = np.zeros(451 * 300 + 64, np.uint8)
    out = tarn.TnBuffer()
    assert out.GetImage().Attach(memory[: 451 * 300].reshape(300, 451), tarn.TnPixelBayerBG8).IsOK()
    start, failed = time.monotonic(), 0
    for round_ in range(300):
        damaged = good.copy()
        if round_ % 3 == 0:
            damaged = damaged[: rng.integers(0, damaged.size)]
        else:
            for _ in range(1 + round_ % 5):
                damaged[rng.integers(0, damaged.size)] ^= 1 << rng.integers(0, 8)
        memory[-64:] = 0xA5
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeVexmoorCompressed)
        if damaged.size:
            buffer.Attach(damaged)
        result, _ = decompressor.Execute(buffer, out)
        assert (memory[-64:] == 0xA5).all()
        if result.IsOK():
            assert np.array_equal(memory[: original.size], original)
        else:
            failed += 1
            assert result.GetCode() in (rx.TN_IMAGE_ERROR, rx.TN_NOT_SUPPORTED)
    assert failed > 250 and time.monotonic() - start < 60


def test_filter_threads_and_output_memory(rx, tarn, receive):
    rng = np.random.default_rng(4)
    raw = rng.integers(0, 4096, (700, 500)).astype("<u2")
    source = imaging.image_buffer(raw.view(np.uint8), tarn.TnPixelMono12, 500, 700)
    packed = compress(rx, tarn, source)
    decompressor = rx.TnDecompressionFilter()
    import os
    assert decompressor.GetThreadCount() == max(1, os.cpu_count() // 2)
    for count in (0, 65):
        assert decompressor.SetThreadCount(count).GetCode() == rx.TN_INVALID_PARAMETER
    for count in (1, 64, 3):
        assert decompressor.SetThreadCount(count).IsOK() and decompressor.GetThreadCount() == count
        back = tarn.TnBuffer(tarn.TnPayloadTypeRawData)  # made an image buffer
        assert decompressor.Execute(packed, back)[0].IsOK()
        assert np.array_equal(imaging.image_bytes(back), raw.view(np.uint8).reshape(-1))
    assert decompressor.SetThreadsPriority(7).GetCode() == rx.TN_INVALID_PARAMETER
    assert decompressor.SetThreadsPriority(2).IsOK()
    compressor = rx.TnCompressionFilter()
    assert compressor.SetThreadCount(0).GetCode() == rx.TN_NOT_SUPPORTED
    assert compressor.SetThreadsPriority(3).GetCode() == rx.TN_NOT_SUPPORTED
    assert compressor.GetThreadCount() == 1
    assert compressor.GetEncoding() == rx.TnEncodingPTC1
    assert compressor.SetEncoding(rx.TnEncodingUnknown).GetCode() == rx.TN_NOT_SUPPORTED
    assert compressor.SetEncoding(rx.TnEncodingPTC1).IsOK() and compressor.GetEncoding() == 0
    # Attached output memory too small: refused, never written past; the
    # decompressed image likewise.
    small = np.full(2000, 0xCD, np.uint8)
    attached = tarn.TnBuffer()
    assert attached.Attach(small[:1000]).IsOK()
    assert compressor.Execute(source, attached)[0].GetCode() == rx.TN_BUFFER_TOO_SMALL
    assert (small[1000:] == 0xCD).all()
    image = tarn.TnBuffer()
    assert image.GetImage().Attach(small[:1000].reshape(10, 100), tarn.TnPixelMono8).IsOK()
    assert decompressor.Execute(packed, image)[0].GetCode() == rx.TN_BUFFER_TOO_SMALL
    assert (small[1000:] == 0xCD).all()
    # What a filter cannot take.
    assert compressor.Execute(source, source)[0].GetCode() == rx.TN_INVALID_PARAMETER
    assert compressor.Execute(None, packed)[0].GetCode() == rx.TN_INVALID_PARAMETER
    result, out = compressor.Execute(tarn.TnBuffer(tarn.TnPayloadTypeRawData), tarn.TnBuffer())
    assert result.GetCode() == rx.TN_NOT_SUPPORTED and out is None
    assert decompressor.Execute(packed, packed)[0].GetCode() == rx.TN_INVALID_PARAMETER
    # The interface functions reach each filter's own operation.
    other = tarn.TnBuffer()
    assert receive.ITnFilter_Execute(compressor, source, other)[0].IsOK()
    assert receive.ITnFilter_Execute(decompressor, other, tarn.TnBuffer())[0].IsOK()
    assert receive.ITnFilter_GetThreadCount(compressor) == 1
    assert receive.ITnFilter_GetThreadCount(decompressor) == 3
