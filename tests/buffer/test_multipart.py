"""Multipart containers: building parts, their memory and their views."""

import numpy as np
import pytest


@pytest.fixture
def container(tarn):
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart)
    yield buffer.GetMultiPartContainer()
    del buffer


def test_build_and_read_sections(tarn, base, container):
    container.Reset()
    assert container.AddImagePart(tarn.TnMultiPart2DImage, 64, 48, tarn.TnPixelMono8).IsOK()
    assert container.AddJPEGPart(tarn.TnMultiPartJPEGImage, 4096, 1, 90000, 0).IsOK()
    assert container.AddChunkPart(256, 3).IsOK()
    assert container.SetPartIDs(0, 1, 2, 3).IsOK()
    assert container.SetPartZoneInfo(0, 1, 0x80000000).IsOK()
    assert container.AllocAllParts().IsOK()
    assert container.SetPartFinalLength(1, 100).IsOK()
    assert container.SetPartFinalImageHeight(0, 40).IsOK()
    assert container.Validate().IsOK()
    assert container.GetPartCount() == 3

    image_part, jpeg_part, chunk_part = (container.GetPart(i) for i in range(3))
    assert container.GetPart(3) is None
    assert image_part.GetDataType() == tarn.TnMultiPart2DImage
    assert (image_part.GetSourceID(), image_part.GetDataPurposeID(), image_part.GetRegionID()) == (1, 2, 3)
    assert (image_part.GetAdditionalZones(), image_part.GetZoneDirectionMask()) == (1, 0x80000000)
    image = image_part.GetImage()
    assert isinstance(image, tarn.ITnImage) and image.GetDataPointer().shape == (40, 64)
    image.GetDataPointer()[0, 0] = 9
    assert image_part.GetDataPointer()[0] == 9
    assert image_part.GetJPEG() is None and image_part.GetChunkData() is None

    jpeg = jpeg_part.GetJPEG()
    assert jpeg.GetFlag() == 1 and jpeg.GetTimestampTickFrequency() == 90000
    assert jpeg.GetDataPointer().size == jpeg.GetDataSize() == 100
    view = jpeg_part.GetDataPointer()
    assert view.size == jpeg_part.GetEffectiveSize() == 100 and jpeg_part.GetSize() == 4096

    assert chunk_part.GetImage() is None
    chunks = chunk_part.GetChunkData()
    assert isinstance(chunks, tarn.ITnChunkData)
    assert chunks.AddChunk(0x77, b"meta").IsOK()
    assert bytes(chunks.GetChunkRawDataByID(0x77)) == b"meta"


def test_attach_part(tarn, container):
    assert container.AddImagePart(tarn.TnMultiPart2DImage, 16, 16, tarn.TnPixelMono8).IsOK()
    memory = np.zeros(256, np.uint8)
    assert container.AttachPart(0, memory).IsOK()
    container.GetPart(0).GetDataPointer()[5] = 42
    assert memory[5] == 42
    assert container.AttachPart(0, np.zeros(8, np.uint8)).GetCode() == tarn.TN_BUFFER_TOO_SMALL
    with pytest.raises(TypeError) as error:
        container.AttachPart(0, np.zeros((2, 2), np.uint8))
    assert str(error.value) == "Array must have 1 dimensions.  Given array has 2 dimensions"
    with pytest.raises(OverflowError, match="'ITnMultiPartContainerWriter_AttachPart', argument 2 of type 'uint32_t'"):
        container.AttachPart(-1, memory)


def test_argument_checks(tarn, base, container):
    with pytest.raises(TypeError) as error:
        container.AddImagePart(tarn.TnMultiPart2DImage, 64, 48, tarn.TnPixelMono8, 0, 0, 65536)
    assert "ITnMultiPartContainerWriter::AddImagePart(TnMultiPartDataType,uint32_t,uint32_t,TnPixelType)\n" in str(error.value)
    with pytest.raises(OverflowError) as error:
        container.AddJPEGPart(tarn.TnMultiPartJPEGImage, 4096, 256, 0, 0)
    assert str(error.value) == "in method 'ITnMultiPartContainerWriter_AddJPEGPart', argument 4 of type 'uint8_t'"
    with pytest.raises(TypeError, match="ITnMultiPartContainerWriter_AddJPEGPart expected 6 arguments, got 5"):
        base.ITnMultiPartContainerWriter_AddJPEGPart(container, 11, 4096, 1, 0)
    with pytest.raises(TypeError) as error:
        container.GetPart(-1)
    assert str(error.value).endswith("    ITnMultiPartContainerReader::GetPart(uint32_t) const\n"
                                     "    ITnMultiPartContainerReader::GetPart(uint32_t)\n")
    assert container.Reset() is None
    assert base.ITnMultiPartContainerReader_GetPartCount(container) == 0
    assert container.AddChunkPart(16, 0).IsOK()
    assert container.AddImagePart(tarn.TnMultiPart2DImage, 4, 4, tarn.TnPixelMono8).IsFailure()  # chunk part is last
