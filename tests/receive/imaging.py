"""numpy references of the converter's and the codec's image formats: Bayer
mosaics and their interpolation, packed samples, YUV and bi-colour pixels,
and the buffers that carry them."""

import numpy as np

import tarn_base_313 as tarn

# The sites of each Bayer order: the colour (0 red, 1 green, 2 blue) of the
# 2x2 cell's top-left, top-right, bottom-left and bottom-right pixel.
BAYER_CELLS = {"RG": (0, 1, 1, 2), "GR": (1, 0, 2, 1), "GB": (1, 2, 0, 1), "BG": (2, 1, 1, 0)}
# OpenCV names a Bayer pattern by the second row's second and third pixels.
OPENCV_BAYER = {"RG": "BG", "GR": "GB", "GB": "GR", "BG": "RG"}
# Every layout's byte of red, green and blue, and of alpha (None: none).
LAYOUTS = {"RGB8": (0, 1, 2, None), "BGR8": (2, 1, 0, None), "RGBa8": (0, 1, 2, 3), "BGRa8": (2, 1, 0, 3)}


def colours(order, height, width):
    """The colour index of each site of a Bayer image."""
    cell = np.array(BAYER_CELLS[order]).reshape(2, 2)
    return np.tile(cell, ((height + 1) // 2, (width + 1) // 2))[:height, :width]


def mosaic(rgb, order):
    """The Bayer image a sensor of that order takes of an RGB picture."""
    sites = colours(order, *rgb.shape[:2])
    return np.take_along_axis(rgb, sites[..., None], axis=2)[..., 0]


def bilinear(raw, order):
    """3x3 bilinear interpolation: each missing colour the rounded average of
    its nearest sites, the image mirrored at its edges (about the edge pixel)."""
    height, width = raw.shape
    sites = colours(order, height, width)
    p = np.pad(raw.astype(np.int64), 1, mode="reflect")
    centre, left, right, up, down = p[1:-1, 1:-1], p[1:-1, :-2], p[1:-1, 2:], p[:-2, 1:-1], p[2:, 1:-1]
    cross = (left + right + up + down + 2) >> 2
    diagonal = (p[:-2, :-2] + p[:-2, 2:] + p[2:, :-2] + p[2:, 2:] + 2) >> 2
    across, along = (left + right + 1) >> 1, (up + down + 1) >> 1
    # The colour of the row's other sites: red rows hold red and green.
    row_has = np.where((sites == 0).any(axis=1), 0, 2)[:, None]
    out = np.empty((height, width, 3), np.int64)
    for colour in (0, 2):
        other = 2 - colour
        out[..., colour] = np.where(sites == colour, centre, np.where(
            sites == other, diagonal, np.where(row_has == colour, across, along)))
    out[..., 1] = np.where(sites == 1, centre, cross)
    return out


def simple(raw, order):
    """2x2 interpolation: each pixel's colours from the block that starts at
    it (the one that ends there at the last row and column), red and blue as
    they are, green the rounded average of the two greens."""
    height, width = raw.shape
    sites = colours(order, height, width)
    rows = np.minimum(np.arange(height), height - 2)[:, None]
    cols = np.minimum(np.arange(width), width - 2)[None, :]
    out = np.zeros((height, width, 3), np.int64)
    greens = np.zeros((height, width), np.int64)
    for dy in (0, 1):
        for dx in (0, 1):
            value, site = raw[rows + dy, cols + dx].astype(np.int64), sites[rows + dy, cols + dx]
            for colour in (0, 2):
                out[..., colour] += np.where(site == colour, value, 0)
            greens += np.where(site == 1, value, 0)
    out[..., 1] = (greens + 1) >> 1
    return out


def luminance(rgb):
    rgb = rgb.astype(np.int64)
    return ((77 * rgb[..., 0] + 150 * rgb[..., 1] + 29 * rgb[..., 2] + 128) >> 8).astype(np.uint8)


def layout(rgb, name, alpha=None):
    """RGB values (h, w, 3) in a layout, alpha 255 unless given."""
    red, green, blue, alpha_at = LAYOUTS[name]
    out = np.empty(rgb.shape[:2] + (4 if alpha_at is not None else 3,), np.uint8)
    out[..., red], out[..., green], out[..., blue] = rgb[..., 0], rgb[..., 1], rgb[..., 2]
    if alpha_at is not None:
        out[..., alpha_at] = 255 if alpha is None else alpha
    return out


def pack_bits(samples, bits):
    """The "p" packing: the samples' bits one after the other, least
    significant first."""
    spread = (samples.reshape(-1, 1).astype(np.uint32) >> np.arange(bits)) & 1
    return np.packbits(spread.astype(np.uint8).reshape(-1), bitorder="little")


def pack_gev(samples, bits):
    """GigE Vision's 10- and 12-bit packing: two pixels in three bytes, the
    high bits of each in the outer bytes, the low bits shared in the middle."""
    low = bits - 8
    pairs = np.append(samples.reshape(-1), [0] * (samples.size % 2)).astype(np.uint32).reshape(-1, 2)
    out = np.stack([pairs[:, 0] >> low, (pairs[:, 0] & ((1 << low) - 1)) | ((pairs[:, 1] & ((1 << low) - 1)) << 4),
                    pairs[:, 1] >> low], axis=1).astype(np.uint8).reshape(-1)
    return out[: (samples.size * 12 + 7) // 8]


def packed(samples, packing, bits):
    """The bytes of a sample image under a packing of the converter's table."""
    if packing == "Word":
        return samples.astype("<u2").view(np.uint8).reshape(-1)
    if packing == "Byte":
        return samples.astype(np.uint8).reshape(-1)
    if packing == "p":
        return pack_bits(samples, bits)
    return pack_gev(samples, bits)


def image_buffer(data, pixel_type, width, height, padding_x=0, padding_y=0):
    """A buffer whose own memory holds the given bytes as an image."""
    buffer = tarn.TnBuffer()
    assert buffer.GetImage().Alloc(width, height, pixel_type, padding_x, padding_y).IsOK()
    view = buffer.GetDataPointer()
    data = np.asarray(data, np.uint8).reshape(-1)
    view[: data.size] = data
    return buffer


def destination(pixel_type):
    buffer = tarn.TnBuffer()
    assert buffer.GetImage().Alloc(1, 1, pixel_type).IsOK()
    return buffer


def image_bytes(buffer):
    image = buffer.GetImage()
    return buffer.GetDataPointer()[: image.GetImageSize()].copy()


def psnr(ours, reference):
    error = np.mean((ours.astype(np.float64) - reference.astype(np.float64)) ** 2)
    return 10 * np.log10(255.0 ** 2 / error)
