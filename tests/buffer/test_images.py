"""Images, raw data and chunk-data payloads, and the shapes of their views."""

import numpy as np
import pytest


def image_of(tarn, pixel_type, width=8, height=4, padding_x=0, padding_y=0):
    buffer = tarn.TnBuffer()
    image = buffer.GetImage()
    assert image.Alloc(width, height, pixel_type, padding_x, padding_y).IsOK()
    return buffer, image


@pytest.mark.parametrize("name, dtype, shape", [
    ("TnPixelMono8", np.uint8, (4, 8)), ("TnPixelBayerRG8", np.uint8, (4, 8)), ("TnPixelMono16", np.uint16, (4, 8)),
    ("TnPixelYUV422_8_UYVY", np.uint8, (4, 8, 2)), ("TnPixelRGB8", np.uint8, (4, 8, 3)),
    ("TnPixelRGBa8", np.uint8, (4, 8, 4)), ("TnPixelRGB16", np.uint16, (4, 8, 3)),
    ("TnPixelBGR16", np.uint16, (4, 8, 3)), ("TnPixelRGBa16", np.uint16, (4, 8, 4)),
    ("TnPixelCoord3D_ABC32f", np.uint8, (4, 8, 12)),
])
def test_view_shape_follows_the_pixel_type(tarn, name, dtype, shape):
    buffer, image = image_of(tarn, getattr(tarn, name))
    view = image.GetDataPointer()
    assert (view.dtype, view.shape, type(view.base).__name__) == (dtype, shape, "TnMemoryHold")
    assert view.flags.c_contiguous and view.flags.writeable
    assert view.nbytes <= image.GetImageSize()


@pytest.mark.parametrize("name", ["TnPixelMono10p", "TnPixelMono12Packed", "TnPixelMono32"])
def test_packed_and_other_mono_fall_back_to_bytes(tarn, name):
    buffer, image = image_of(tarn, getattr(tarn, name))
    view = image.GetDataPointer()
    assert view.shape == (image.GetImageSize(),) and view.dtype == np.uint8


def test_view_writes_into_the_image_and_back(tarn):
    buffer, image = image_of(tarn, tarn.TnPixelMono8, 640, 480)
    view = image.GetDataPointer()
    assert view.shape == (480, 640)
    view[0, 0] = 200
    view[479, 639] = 7
    raw = buffer.GetDataPointer()
    assert raw[0] == 200 and raw[480 * 640 - 1] == 7
    raw[1] = 5
    assert image.GetDataPointer()[0, 1] == 5


def test_padding_in_bytes_never_reaches_past_the_image(tarn):
    buffer, image = image_of(tarn, tarn.TnPixelMono16, 8, 4, padding_x=4, padding_y=0)
    view = image.GetDataPointer()
    assert view.shape == (4, 10)  # 4 bytes of line padding are 2 more uint16 columns
    assert view.nbytes <= image.GetImageSize()
    buffer, image = image_of(tarn, tarn.TnPixelRGB8, 8, 4, padding_x=2)
    view = image.GetDataPointer()  # padding that is no whole pixel: the bytes of the image
    assert view.ndim == 1 and view.size == image.GetImageSize()
    buffer, image = image_of(tarn, tarn.TnPixelMono8, 8, 4, padding_y=16)
    assert image.GetDataPointer().shape == (6, 8)


def test_alloc_overloads(tarn, base):
    image = tarn.TnBuffer().GetImage()
    assert image.Alloc(64, 32, tarn.TnPixelMono8).IsOK()
    assert (image.GetWidth(), image.GetHeight(), image.GetPaddingX(), image.GetPaddingY()) == (64, 32, 0, 0)
    assert image.GetMaximumChunkLength() == 0 and image.IsAllocated()
    with pytest.raises(TypeError) as error:
        image.Alloc(64, 32, tarn.TnPixelMono8, 65536)
    assert str(error.value).endswith(
        "    TnImage::Alloc(uint32_t,uint32_t,TnPixelType,uint16_t,uint16_t,uint32_t)\n"
        "    TnImage::Alloc(uint32_t,uint32_t,TnPixelType,uint16_t,uint16_t)\n"
        "    TnImage::Alloc(uint32_t,uint32_t,TnPixelType,uint16_t)\n"
        "    TnImage::Alloc(uint32_t,uint32_t,TnPixelType)\n")
    with pytest.raises(OverflowError, match="'TnImage_SetOffsetX', argument 2 of type 'uint32_t'"):
        image.SetOffsetX(-1)
    image.SetOffsetX(3)
    assert image.GetOffsetX() == 3


def test_attach_image_memory(tarn):
    memory = np.zeros((480, 640, 3), np.uint8)
    image = tarn.TnBuffer().GetImage()
    assert image.Attach(memory, tarn.TnPixelRGB8).IsOK()
    assert (image.GetWidth(), image.GetHeight(), image.IsAttached()) == (640, 480, True)
    image.GetDataPointer()[1, 2] = (1, 2, 3)
    assert list(memory[1, 2]) == [1, 2, 3]
    detached = image.Detach()
    assert detached is not memory and detached.shape == (480, 640, 3)
    assert detached.ctypes.data == memory.ctypes.data and not image.IsAttached()


def test_attach_image_refusals(tarn, base):
    image = tarn.TnBuffer().GetImage()
    for wrong in (np.zeros(16, np.uint8), np.zeros((2, 2, 2, 2), np.uint8), np.zeros((4, 4), np.float32),
                  [[1, 2], [3, 4]]):
        with pytest.raises(TypeError) as error:
            image.Attach(wrong, tarn.TnPixelMono8)
        assert str(error.value) == "in method 'TnImage_Attach', argument 1 of type array"
    with pytest.raises(TypeError, match="overloaded function 'TnImage_Attach'"):
        image.Attach(5, tarn.TnPixelMono8)
    # Memory too small for the geometry it claims is refused by the SDK.
    result = image.Attach(np.zeros((480, 640), np.uint8), tarn.TnPixelRGB8)
    assert result.GetCode() == tarn.TN_BUFFER_TOO_SMALL and not image.IsAttached()


def test_status_flags(tarn, base):
    image = tarn.TnBuffer().GetImage()
    image.SetEOFByLineCount()
    assert image.IsEOFByLineCount() is True
    image.SetFullLineMissing(True, 3)
    assert image.IsFullLineMissing() is True
    image.ClearEOFStatus()
    assert (image.IsEOFByLineCount(), image.IsFullLineMissing()) == (False, False)
    with pytest.raises(TypeError) as error:
        image.SetEOFByLineCount(1)
    assert "TnImage::SetEOFByLineCount(bool)\n    TnImage::SetEOFByLineCount()\n" in str(error.value)
    with pytest.raises(TypeError, match="'TnImage_SetFullLineMissing', argument 2 of type 'bool'"):
        image.SetFullLineMissing(1, 3)


def test_raw_data(tarn, base):
    raw = tarn.TnBuffer(tarn.TnPayloadTypeRawData).GetRawData()
    assert raw.Alloc(100).IsOK() and raw.GetPayloadLength() == 100
    with pytest.raises(TypeError) as error:
        raw.Alloc(-1)
    assert "TnRawData::Alloc(uint64_t,uint32_t)\n    TnRawData::Alloc(uint64_t)\n" in str(error.value)
    with pytest.raises(TypeError, match="overloaded function 'TnRawData_Alloc'"):
        raw.Alloc(10, 2 ** 32)
    memory = np.arange(50, dtype=np.uint8)
    assert raw.Attach(memory).IsOK()
    assert raw.GetPayloadLength() == 50
    assert bytes(raw.Detach()) == bytes(memory)
    for wrong in (5, None):
        with pytest.raises(TypeError, match="overloaded function 'TnRawData_Attach'"):
            raw.Attach(wrong)
    with pytest.raises(TypeError) as error:
        raw.Attach(np.zeros((2, 2), np.uint8))
    assert str(error.value) == "Array must have 1 dimensions.  Given array has 2 dimensions"


def test_chunk_data_payload(tarn, base):
    chunks = tarn.TnBuffer(tarn.TnPayloadTypeChunkData).GetChunkData()
    with pytest.raises(OverflowError, match="'TnChunkData_Alloc', argument 2 of type 'uint32_t'"):
        chunks.Alloc(2 ** 32)
    memory = np.zeros(64, np.uint8)
    assert chunks.Attach(memory).IsOK()
    assert base.ITnChunkData_AddChunk(chunks, 0x42, b"wxyz").IsOK()
    # The chunk's data, then its tag, in the attached memory itself.
    assert memory[:12].tobytes() == b"wxyz" + bytes([0, 0, 0, 0x42, 0, 0, 0, 4])
    assert chunks.GetChunkDataPayloadLength() == 12
    with pytest.raises(TypeError) as error:
        chunks.Attach(np.zeros((2, 2), np.uint8))
    assert str(error.value) == "Array must have 1 dimensions.  Given array has 2 dimensions"
    with pytest.raises(TypeError, match="'ITnChunkData_AddChunk', argument 3 of type 'uint8_t const \\*'"):
        base.ITnChunkData_AddChunk(chunks, 1, "str")
    with pytest.raises(TypeError, match="'ITnChunkData_HasChunks', argument 1 of type 'ITnChunkData const \\*'"):
        base.ITnChunkData_HasChunks(tarn.TnString("x"))
