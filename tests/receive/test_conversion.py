"""The buffer converter's conversions against numpy references and OpenCV:
every pair of its table, Bayer interpolation of real photographs, packed
and high-bit samples, the colour filter and white balance, flipping, threads
and the rules for destination memory."""

import cv2
import numpy as np
import pytest
from skimage import data

import imaging

PHOTOGRAPHS = {"astronaut": data.astronaut(), "chelsea": data.chelsea(), "coffee": data.coffee()}
COLOUR = ["RGB8", "BGR8", "RGBa8", "BGRa8"]

# The converter's sources: name, kind, packing, significant bits.
SOURCES = ([("Mono8", "mono", "Byte", 8)] +
           [(f"Mono{bits}", "mono", "Word", bits) for bits in (10, 12, 14, 16)] +
           [(f"Mono{bits}p", "mono", "p", bits) for bits in (10, 12, 14)] +
           [(f"Mono{bits}Packed", "mono", "gev", bits) for bits in (10, 12)] +
           [(f"Bayer{order}{suffix}", "bayer", packing, bits) for order in imaging.BAYER_CELLS
            for suffix, packing, bits in [("8", "Byte", 8), ("10", "Word", 10), ("12", "Word", 12),
                                          ("14", "Word", 14), ("16", "Word", 16), ("10p", "p", 10),
                                          ("12p", "p", 12), ("14p", "p", 14), ("10Packed", "gev", 10),
                                          ("12Packed", "gev", 12)]] +
           [(name, "rgb", "Byte", 8) for name in COLOUR] +
           [("YUV422_8_UYVY", "yuv", "Byte", 8), ("YUV422_8", "yuv", "Byte", 8),
            ("BiColorRGBG8", "bicolor", "Byte", 8), ("BiColorBGRG8", "bicolor", "Byte", 8)])
DESTINATIONS = {"mono": ["Mono8", "Mono16"] + COLOUR, "bayer": COLOUR + ["Mono8"], "rgb": COLOUR + ["Mono8"],
                "yuv": COLOUR, "bicolor": COLOUR}


def pixel(tarn, name):
    return getattr(tarn, "TnPixel" + name)


def convert(rx, source, target, converter=None, **flags):
    """Converts into a fresh destination of the target type; its bytes."""
    converter = converter or rx.TnBufferConverter()
    destination = imaging.destination(pixel(rx, target))
    args = [flags["realloc"], flags["flip"]] if flags else []
    result, out = converter.Convert(source, destination, *args)
    assert result.IsOK(), result.GetCodeString()
    assert out == destination
    return imaging.image_bytes(destination)


def yuv_reference(raw, order, width):
    """Full-range BT.601 of 4:2:2 pixels (float; the converter's fixed point
    lies within 1 of it)."""
    pairs = raw.reshape(raw.shape[0], -1, 4).astype(np.float64)
    y0, u, y1, v = (pairs[..., 1], pairs[..., 0], pairs[..., 3], pairs[..., 2]) if order == "UYVY" else (
        pairs[..., 0], pairs[..., 1], pairs[..., 2], pairs[..., 3])
    luma = np.stack([y0, y1], axis=-1).reshape(raw.shape[0], -1)[:, :width]
    u, v = np.repeat(u, 2, axis=1)[:, :width] - 128, np.repeat(v, 2, axis=1)[:, :width] - 128
    rgb = np.stack([luma + 1.402 * v, luma - 0.344136 * u - 0.714136 * v, luma + 1.772 * u], axis=-1)
    return np.clip(np.floor(rgb + 0.5), 0, 255)


def bicolor_reference(raw, first_is_red, three):
    own, green = raw[..., 0].astype(np.int64), raw[..., 1]
    padded = np.pad(own, ((0, 0), (1, 1)), mode="reflect")
    other = (padded[:, :-2] + padded[:, 2:] + 1) >> 1 if three else np.concatenate([own[:, 1:], own[:, -2:-1]], 1)
    red_here = (np.arange(own.shape[1]) % 2 == 0) == first_is_red
    return np.stack([np.where(red_here, own, other), green, np.where(red_here, other, own)], axis=-1)


def expected_of(kind, packing, bits, name, samples, target, width):
    """What the converter makes of the samples in the target type."""
    if kind == "mono":
        grey = np.minimum(samples >> (bits - 8), 255).astype(np.uint8)
        if target == "Mono8":
            return grey
        if target in COLOUR:
            # OpenCV's GRAY2RGB of the Mono8 levels.
            return imaging.layout(np.stack([grey] * 3, axis=-1), target)
        return (samples.astype(np.uint32) << (16 - bits)).astype("<u2").view(np.uint8)
    if kind == "bayer":
        rgb = imaging.bilinear(samples, name[5:7]) >> (bits - 8)
    elif kind == "rgb":
        red, green, blue, alpha = imaging.LAYOUTS[name]
        rgb = samples[..., [red, green, blue]]
        if target in COLOUR:
            return imaging.layout(rgb, target, samples[..., alpha] if alpha is not None else None)
    elif kind == "yuv":
        rgb = yuv_reference(samples, "UYVY" if name.endswith("UYVY") else "YUYV", width)
    else:
        rgb = bicolor_reference(samples.reshape(samples.shape[0], -1, 2), name == "BiColorRGBG8", False)
    return imaging.luminance(rgb) if target == "Mono8" else imaging.layout(rgb, target)


def source_of(kind, packing, bits, name, rng, width, height):
    """Random samples of a source and their bytes."""
    if kind in ("mono", "bayer"):
        samples = rng.integers(0, 1 << bits, (height, width))
        return samples, imaging.packed(samples, packing, bits)
    if kind == "rgb":
        samples = rng.integers(0, 256, (height, width, 4 if name.endswith("a8") else 3))
    else:
        samples = rng.integers(0, 256, (height, 2 * width))  # two bytes a pixel
    return samples, samples.astype(np.uint8).reshape(-1)


def test_support_table_is_the_conversions_listed(rx, tarn):
    codes = {name[len("TnPixel"):]: value for name, value in vars(tarn).items()
             if name.startswith("TnPixel") and type(value) is int and not name.startswith("TnPixelType")}
    supported = {(s, d) for s in codes for d in ("Mono8", "Mono16", *COLOUR)
                 if rx.TnBufferConverter.IsConversionSupported(codes[s], codes[d])}
    listed = {(name, target) for name, kind, _, _ in SOURCES for target in DESTINATIONS[kind]}
    assert supported == listed
    # No other destination takes anything.
    others = [code for name, code in codes.items() if name not in ("Mono8", "Mono16", *COLOUR)]
    assert not any(rx.TnBufferConverter.IsConversionSupported(codes[s], d) for s in codes for d in others)
    assert rx.TnBufferConverter.IsConversionSupported(tarn.TnPixelRGB8, tarn.TnPixelBGR8) is True


@pytest.mark.parametrize("width,height,padding", [(22, 14, 0), (19, 9, 3)])
def test_every_pair_converts_like_its_reference(rx, tarn, width, height, padding):
    rng = np.random.default_rng(width)
    converter = rx.TnBufferConverter()
    for name, kind, packing, bits in SOURCES:
        if kind == "yuv" and width % 2:
            continue
        samples, raw = source_of(kind, packing, bits, name, rng, width, height)
        if padding:
            # Each line on bytes of its own, then the padding.
            rows = [imaging.packed(samples[row], packing, bits) if kind in ("mono", "bayer")
                    else samples[row].astype(np.uint8).reshape(-1) for row in range(height)]
            raw = np.concatenate([np.append(row, np.full(padding, 0xEE, np.uint8)) for row in rows])
        source = imaging.image_buffer(raw, pixel(tarn, name), width, height, padding)
        for target in DESTINATIONS[kind]:
            ours = convert(rx, source, target, converter)
            expected = expected_of(kind, packing, bits, name, samples, target, width).reshape(-1)
            if kind == "yuv":
                assert np.abs(ours.astype(int) - expected.astype(int)).max() <= 1, (name, target)
            else:
                assert np.array_equal(ours, expected), (name, target)


@pytest.mark.parametrize("photo", PHOTOGRAPHS)
def test_bayer_interpolation_of_photographs(rx, tarn, photo):
    """3x3 equals OpenCV's bilinear interpolation on every interior pixel and
    the mirrored-edge reference everywhere; 2x2 equals its own rule; in 8
    bits and, for one order, in 12 bits unpacked and packed."""
    rgb = PHOTOGRAPHS[photo]
    height, width, _ = rgb.shape
    threes, simple = rx.TnBufferConverter(), rx.TnBufferConverter()
    assert threes.GetBayerFilter() == rx.TnBayerFilter3X3
    assert simple.SetBayerFilter(rx.TnBayerFilterSimple).IsOK()
    for order in imaging.BAYER_CELLS:
        raw = imaging.mosaic(rgb, order)
        source = imaging.image_buffer(raw, pixel(tarn, f"Bayer{order}8"), width, height)
        ours = convert(rx, source, "RGB8", threes).reshape(height, width, 3)
        opencv = cv2.cvtColor(raw, getattr(cv2, f"COLOR_Bayer{imaging.OPENCV_BAYER[order]}2RGB"))
        assert np.array_equal(ours[1:-1, 1:-1], opencv[1:-1, 1:-1]), order
        assert np.array_equal(ours, imaging.bilinear(raw, order)), order
        assert imaging.psnr(ours, rgb) > 25
        two = convert(rx, source, "BGRa8", simple).reshape(height, width, 4)
        assert np.array_equal(two, imaging.layout(imaging.simple(raw, order), "BGRa8")), order
    raw = imaging.mosaic(rgb, "GB").astype(np.uint16) << 4 | 0x9
    opencv = cv2.cvtColor(raw, cv2.COLOR_BayerGR2RGB) >> 4
    for name, packing in [("BayerGB12", "Word"), ("BayerGB12p", "p"), ("BayerGB12Packed", "gev")]:
        source = imaging.image_buffer(imaging.packed(raw, packing, 12), pixel(tarn, name), width, height)
        ours = convert(rx, source, "RGB8", threes).reshape(height, width, 3)
        assert np.array_equal(ours[1:-1, 1:-1], opencv[1:-1, 1:-1]), name


def test_flip_threads_and_image_sources(rx, tarn):
    rng = np.random.default_rng(3)
    raw = rng.integers(0, 256, (701, 1030), np.uint8)
    source = imaging.image_buffer(raw, tarn.TnPixelBayerBG8, 1030, 701)
    source.SetBlockID(41)
    source.SetTimestamp(99)
    one = convert(rx, source, "RGB8", rx.TnBufferConverter(1))
    for threads in (0, 3, 7):
        assert np.array_equal(convert(rx, source, "RGB8", rx.TnBufferConverter(threads)), one)
    flipped = convert(rx, source, "RGB8", rx.TnBufferConverter(3), realloc=True, flip=True)
    assert np.array_equal(flipped.reshape(701, 1030, 3), one.reshape(701, 1030, 3)[::-1])
    # The image form takes a buffer's image; the destination takes the
    # source's block ID and times.
    destination = imaging.destination(tarn.TnPixelRGB8)
    result, out = rx.TnBufferConverter().Convert(source.GetImage(), destination, False, False)
    assert result.GetCode() == rx.TN_BUFFER_TOO_SMALL and out is None
    result, out = rx.TnBufferConverter().Convert(source.GetImage(), destination)
    assert result.IsOK() and out.GetBlockID() == 41 and out.GetTimestamp() == 99
    assert np.array_equal(imaging.image_bytes(destination), one)


def test_colour_filter_and_white_balance(rx, tarn):
    rng = np.random.default_rng(4)
    rgb = rng.integers(0, 256, (10, 40, 3), np.uint8)
    source = imaging.image_buffer(rgb, tarn.TnPixelRGB8, 40, 10)
    colour = rx.TnBufferConverterRGBFilter()
    colour.SetGainR(1.5), colour.SetGainG(0.5), colour.SetGainB(2)
    colour.SetOffsetR(-20), colour.SetOffsetG(7), colour.SetOffsetB(300)
    converter = rx.TnBufferConverter()
    assert converter.SetRGBFilter(colour).IsOK()
    colour.Reset()  # the converter took a copy
    ours = convert(rx, source, "BGR8", converter).reshape(10, 40, 3)
    gains, offsets = np.array([1.5, 0.5, 2]), np.array([-20, 7, 300])
    expected = np.clip(np.floor(rgb * gains + offsets + 0.5), 0, 255).astype(np.uint8)
    assert np.array_equal(ours, expected[..., ::-1])
    assert (ours[..., 0] == 255).all() and (ours[..., 2] == 0).any()
    # Before the luminance of a Mono8 destination, and gone after a reset.
    assert np.array_equal(convert(rx, source, "Mono8", converter).reshape(10, 40), imaging.luminance(expected))
    assert converter.ResetRGBFilter().IsOK()
    assert np.array_equal(convert(rx, source, "RGB8", converter).reshape(10, 40, 3), rgb)

    # White balance: gains make each channel's average the largest one.
    flat = np.empty((8, 12, 3), np.uint8)
    flat[...] = (100, 50, 200)
    for name, raw in [("RGB8", flat), ("BayerGR8", imaging.mosaic(flat, "GR"))]:
        assert colour.WhiteBalance(imaging.image_buffer(raw, pixel(tarn, name), 12, 8)).IsOK()
        assert (colour.GetGainR(), colour.GetGainG(), colour.GetGainB()) == (2.0, 4.0, 1.0)
    assert colour.GetOffsetB() == 0
    # A grey image converts to RGB8, but has no colours to balance; the
    # colour filter leaves its grey alone.
    levels = rng.integers(0, 256, (8, 12), np.uint8)
    grey = imaging.image_buffer(levels, tarn.TnPixelMono8, 12, 8)
    assert colour.WhiteBalance(grey).GetCode() == rx.TN_NOT_SUPPORTED
    assert converter.SetRGBFilter(colour).IsOK()
    assert np.array_equal(convert(rx, grey, "RGB8", converter).reshape(8, 12, 3), np.stack([levels] * 3, axis=-1))
    black = imaging.image_buffer(np.zeros(288, np.uint8), tarn.TnPixelRGB8, 12, 8)
    assert colour.WhiteBalance(black).GetCode() == rx.TN_GENERIC_ERROR
    assert colour.GetGainG() == 4.0
    assert colour.WhiteBalance(None).GetCode() == rx.TN_INVALID_PARAMETER


def test_bicolor_filters(rx, tarn):
    rng = np.random.default_rng(5)
    raw = rng.integers(0, 256, (6, 9, 2), np.uint8)
    source = imaging.image_buffer(raw, tarn.TnPixelBiColorBGRG8, 9, 6)
    converter = rx.TnBufferConverter()
    assert converter.GetBiColorFilter() == rx.TnBiColorFilter1X2
    two = convert(rx, source, "RGB8", converter).reshape(6, 9, 3)
    assert np.array_equal(two, bicolor_reference(raw, False, False))
    assert converter.SetBiColorFilter(rx.TnBiColorFilter1X3).IsOK()
    three = convert(rx, source, "RGB8", converter).reshape(6, 9, 3)
    assert np.array_equal(three, bicolor_reference(raw, False, True))
    assert converter.SetBiColorFilter(0).GetCode() == rx.TN_INVALID_PARAMETER
    assert converter.GetBiColorFilter() == rx.TnBiColorFilter1X3
    assert converter.SetBayerFilter(7).GetCode() == rx.TN_INVALID_PARAMETER
    assert converter.GetBayerFilter() == rx.TnBayerFilter3X3


def test_destination_memory_rules(rx, tarn):
    rng = np.random.default_rng(6)
    source = imaging.image_buffer(rng.integers(0, 256, 64 * 48, np.uint8), tarn.TnPixelBayerRG8, 64, 48)
    converter = rx.TnBufferConverter()
    # Owned memory grows; memory large enough is kept.
    owned = imaging.destination(tarn.TnPixelRGB8)
    assert converter.Convert(source, owned)[0].IsOK() and owned.GetSize() >= 64 * 48 * 3
    before = owned.GetDataPointer().ctypes.data
    assert converter.Convert(source, owned)[0].IsOK() and owned.GetDataPointer().ctypes.data == before
    # Too small and attached: refused, not a byte written.
    memory = np.full((47, 64, 3), 0xAB, np.uint8)
    attached = tarn.TnBuffer()
    assert attached.GetImage().Attach(memory, tarn.TnPixelRGB8).IsOK()
    result, out = converter.Convert(source, attached)
    assert result.GetCode() == rx.TN_BUFFER_TOO_SMALL and out is None and (memory == 0xAB).all()
    # Attached and large enough: written in place.
    memory = np.zeros((48, 64, 3), np.uint8)
    attached = tarn.TnBuffer()
    assert attached.GetImage().Attach(memory, tarn.TnPixelRGB8).IsOK()
    reference = convert(rx, source, "RGB8").reshape(48, 64, 3)
    assert converter.Convert(source, attached)[0].IsOK() and np.array_equal(memory, reference)
    # A destination of the source's geometry keeps its padding.
    padded = tarn.TnBuffer()
    assert padded.GetImage().Alloc(64, 48, tarn.TnPixelRGB8, 5, 3).IsOK()
    padded.GetDataPointer()[:] = 0xEE
    assert converter.Convert(source, padded)[0].IsOK()
    lines = padded.GetDataPointer()[: 48 * 197].reshape(48, 197)
    assert np.array_equal(lines[:, :192].reshape(48, 64, 3), reference) and (lines[:, 192:] == 0xEE).all()
    assert padded.GetImage().GetPaddingY() == 3
    # Refusals: not reallocating, no pixel type, not an image, shared memory,
    # pixel types the converter does not convert, no source.
    small = imaging.destination(tarn.TnPixelRGB8)
    assert converter.Convert(source, small, False)[0].GetCode() == rx.TN_BUFFER_TOO_SMALL
    assert converter.Convert(source, tarn.TnBuffer())[0].GetCode() == rx.TN_INVALID_PARAMETER
    assert converter.Convert(source, tarn.TnBuffer(tarn.TnPayloadTypeRawData))[0].GetCode() == rx.TN_INVALID_PARAMETER
    shared = np.zeros((4, 4, 3), np.uint8)
    first, second = tarn.TnBuffer(), tarn.TnBuffer()
    first.GetImage().Attach(shared, tarn.TnPixelRGB8), second.GetImage().Attach(shared, tarn.TnPixelBGR8)
    assert converter.Convert(first, second)[0].GetCode() == rx.TN_INVALID_PARAMETER
    assert converter.Convert(first, first)[0].GetCode() == rx.TN_INVALID_PARAMETER
    assert converter.Convert(source, imaging.destination(tarn.TnPixelMono16))[0].GetCode() == rx.TN_NOT_SUPPORTED
    assert converter.Convert(None, owned)[0].GetCode() == rx.TN_INVALID_PARAMETER
    assert converter.Convert(None, owned, True)[0].GetCode() == rx.TN_INVALID_PARAMETER


def test_conversion_thread_priority(rx):
    converter = rx.TnBufferConverter(2)
    assert converter.GetConversionThreadsPriority() == 3
    assert converter.SetConversionThreadsPriority(7).GetCode() == rx.TN_INVALID_PARAMETER
    assert converter.SetConversionThreadsPriority(1).IsOK() and converter.GetConversionThreadsPriority() == 1
    # Raising it again needs privileges: refused, it stays.
    result = converter.SetConversionThreadsPriority(5)
    assert converter.GetConversionThreadsPriority() == (5 if result.IsOK() else 1)


def test_destinations_larger_than_the_caches_get_the_same_bytes(rx, tarn):
    """Such destinations are written past the caches, each line from wherever
    it starts (lines of 4001 pixels start anywhere relative to 16 bytes)."""
    rng = np.random.default_rng(8)
    rgb = rng.integers(0, 256, (1500, 4001, 3), np.uint8)
    source = imaging.image_buffer(rgb, tarn.TnPixelRGB8, 4001, 1500)
    assert np.array_equal(convert(rx, source, "BGR8").reshape(rgb.shape), rgb[..., ::-1])
    grey = imaging.image_buffer(rgb[..., 1], tarn.TnPixelMono8, 4001, 1500)
    expected = imaging.layout(np.repeat(rgb[..., 1:2], 3, axis=-1), "RGBa8")
    assert np.array_equal(convert(rx, grey, "RGBa8", rx.TnBufferConverter(1)).reshape(expected.shape), expected)
