"""Child programs of test_sizes.py, which import the receive and the edge
module in a process of their own: sizes_child.py NAME. A size answered with
less memory than asked fails an assertion, and the program with it."""

import child
from machine import machine_bytes
from sweep import U16, U32, U64, calls, image_bytes, ok

import tarn_base_313 as tarn
import tarn_edge_313 as ed
import tarn_receive_313 as rx


if child.NAME == "pipelines_and_rtp_frames":
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


if child.NAME == "the_software_devices_default_source":
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
