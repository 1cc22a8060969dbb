"""Buffers: memory, views, identity, chunks and payload interfaces."""

import numpy as np
import pytest


def test_construction_and_overloads(tarn, base):
    assert tarn.TnBuffer().GetPayloadType() == tarn.TnPayloadTypeImage
    assert tarn.TnBuffer(2).GetPayloadType() == 2
    assert tarn.TnBuffer(-1).GetPayloadType() == -1
    for bad in (2 ** 31, 1.0, "1"):
        with pytest.raises(TypeError) as error:
            tarn.TnBuffer(bad)
        assert str(error.value) == (
            "Wrong number or type of arguments for overloaded function 'new_TnBuffer'.\n"
            "  Possible C/C++ prototypes are:\n    TnBuffer::TnBuffer(TnPayloadType)\n    TnBuffer::TnBuffer()\n")
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
    assert buffer.Reset().IsOK() and buffer.GetPayloadType() == tarn.TnPayloadTypeImage


def test_memory_view_writes_through(tarn, base):
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
    assert buffer.GetDataPointer() is None or buffer.GetDataPointer().size == 0
    assert buffer.Alloc(1024).IsOK() and buffer.IsAllocated() and buffer.GetSize() == 1024
    view = buffer.GetDataPointer()
    assert (view.dtype, view.shape, type(view.base).__name__) == (np.uint8, (1024,), "TnMemoryHold")
    assert view.flags.c_contiguous and view.flags.writeable and view.flags.aligned
    view[:4] = [1, 2, 3, 4]
    assert list(buffer.GetDataPointer()[:4]) == [1, 2, 3, 4]
    assert buffer.GetDataPointer().ctypes.data == view.ctypes.data
    for bad, kind in ((2 ** 32, OverflowError), (-1, OverflowError), ("1", TypeError)):
        with pytest.raises(kind) as error:
            buffer.Alloc(bad)
        assert str(error.value) == "in method 'TnBuffer_Alloc', argument 2 of type 'uint32_t'"
    buffer.Free()
    assert not buffer.IsAllocated()
    assert list(view[:4]) == [1, 2, 3, 4]  # the view keeps the memory it shows
    with pytest.raises(TypeError, match="overloaded function 'TnBuffer_GetDataPointer'"):
        base.TnBuffer_GetDataPointer(tarn.TnString("x"))
    with pytest.raises(TypeError) as error:
        base.TnBuffer_GetSize(tarn.TnString("x"))
    assert str(error.value) == "in method 'TnBuffer_GetSize', argument 1 of type 'TnBuffer const *'"


def test_attach_uses_the_array_in_place(tarn):
    memory = np.zeros(256, np.uint8)
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
    assert buffer.Attach(memory).IsOK() and buffer.IsAttached() and buffer.GetSize() == 256
    buffer.GetDataPointer()[10] = 99
    assert memory[10] == 99
    assert isinstance(buffer.Detach(), np.ndarray) and not buffer.IsAttached()


def test_attach_refuses_memory_it_could_not_keep(tarn):
    buffer = tarn.TnBuffer()
    read_only = np.zeros(16, np.uint8)
    read_only.flags.writeable = False
    for refused in ([1, 2, 3], np.zeros(16, np.uint16), np.zeros(32, np.uint8)[::2], read_only, b"abcd"):
        with pytest.raises(TypeError, match="'TnBuffer_Attach', argument 2: the SDK uses the memory in place"):
            buffer.Attach(refused)
    with pytest.raises(TypeError) as error:
        buffer.Attach(np.zeros((4, 4), np.uint8))
    assert str(error.value) == "Array must have 1 dimensions.  Given array has 2 dimensions"
    assert not buffer.IsAttached()


def test_identity(tarn, base):
    buffer, other = tarn.TnBuffer(), tarn.TnBuffer()
    image = buffer.GetImage()
    again = image.GetBuffer()
    assert again == buffer and hash(again) == hash(buffer)
    assert again is not buffer and not again.this.own()
    assert buffer != other and (buffer == None) is False  # noqa: E711
    assert base.TnBuffer___eq__(buffer, 5) is NotImplemented
    assert (buffer == "x") is False
    assert {buffer: 1}[again] == 1


def test_identifiers_and_times(tarn):
    buffer = tarn.TnBuffer()
    assert buffer.SetID(2 ** 64 - 1) is None and buffer.GetID() == 2 ** 64 - 1
    with pytest.raises(OverflowError, match="'TnBuffer_SetID', argument 2 of type 'uint64_t'"):
        buffer.SetID(2 ** 64)
    for setter, getter in (("SetBlockID", "GetBlockID"), ("SetTimestamp", "GetTimestamp"),
                           ("SetReceptionTime", "GetReceptionTime"), ("SetDuration", "GetDuration")):
        assert getattr(buffer, setter)(123456789012).IsOK()
        assert getattr(buffer, getter)() == 123456789012
    assert isinstance(buffer.GetOperationResult(), tarn.TnResult)
    result, count = buffer.GetMissingPacketIdsCount()
    assert count == 0
    missing = buffer.GetMissingPacketIds(0)
    assert len(missing) == 3 and isinstance(missing[0], tarn.TnResult)
    assert buffer.GetLostPacketCount() == 0 and buffer.IsHeaderValid() in (True, False)


def test_chunks_round_trip(tarn, base):
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeChunkData)
    assert buffer.GetChunkData().Alloc(256).IsOK()
    buffer.ResetChunks()
    buffer.SetChunkLayoutID(7)
    assert buffer.AddChunk(0x1001, b"abcd").IsOK()
    assert buffer.AddChunk(0x1002, b"0123456789ab").IsOK()
    assert buffer.AddChunk(0x1003, b"").IsOK()
    assert buffer.GetChunkLayoutID() == 7 and buffer.HasChunks()
    assert buffer.GetChunkCount() == 3
    assert buffer.GetChunkDataSize() == 4 + 12 + 0 + 3 * 8
    assert buffer.GetChunkDataCapacity() == 256 - buffer.GetChunkDataSize()
    ids = {buffer.GetChunkIDByIndex(i)[1] for i in range(3)}
    assert ids == {0x1001, 0x1002, 0x1003}
    view = buffer.GetChunkRawDataByID(0x1002)
    assert bytes(view) == b"0123456789ab" and type(view.base).__name__ == "TnMemoryHold"
    assert buffer.GetChunkSizeByID(0x1001) == 4
    assert buffer.GetChunkRawDataByIndex(99).size == 0
    assert buffer.GetChunkRawDataByID(0x9999).size == 0
    result, missing_id = buffer.GetChunkIDByIndex(99)
    assert result.GetCode() == tarn.TN_NOT_FOUND and missing_id == 0
    assert base.ITnChunkData_GetChunkCount(buffer) == buffer.GetChunkCount()
    assert buffer.AddChunk(1, b"x" * 1000).GetCode() == tarn.TN_BUFFER_TOO_SMALL
    for bad in (bytearray(b"ab"), memoryview(b"ab"), "ab", np.zeros(2, np.uint8)):
        with pytest.raises(TypeError) as error:
            buffer.AddChunk(1, bad)
        assert str(error.value) == "in method 'TnBuffer_AddChunk', argument 3 of type 'uint8_t const *'"

    class Chunk(bytes):
        pass

    buffer.ResetChunks()
    assert buffer.AddChunk(5, Chunk(b"sub")).IsOK()
    assert bytes(buffer.GetChunkRawDataByIndex(0)) == b"sub"


def test_payload_interfaces_follow_the_type(tarn, base):
    raw = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
    assert raw.GetImage() is None and isinstance(raw.GetRawData(), tarn.TnRawData)
    image = tarn.TnBuffer()
    assert isinstance(image.GetImage(), tarn.TnImage) and image.GetRawData() is None
    assert isinstance(tarn.TnBuffer(tarn.TnPayloadTypeMultiPart).GetMultiPartContainer(), tarn.ITnMultiPartContainer)
    assert tarn.TnBuffer(tarn.TnPayloadTypeGenDC).GetGenDC() is None
    assert repr(tarn.TnBuffer(tarn.TnPayloadTypeH264).GetH264AccessUnit()).startswith(
        "<Swig Object of type 'ITnH264AccessUnit *'")
    with pytest.raises(TypeError) as error:
        base.TnBuffer_GetImage(raw.GetRawData())
    assert "TnBuffer::GetImage()\n    TnBuffer::GetImage() const\n" in str(error.value)
    with pytest.raises(TypeError) as error:
        raw.AttachGenDCManager(None)
    assert str(error.value) == "invalid null reference in method 'TnBuffer_AttachGenDCManager', argument 2 of type 'ITnGenDCManager &'"
    with pytest.raises(TypeError, match="^in method 'TnBuffer_AttachGenDCManager', argument 2 of type 'ITnGenDCManager &'$"):
        raw.AttachGenDCManager(5)


def test_deleting_borrowed_interfaces_frees_nothing(tarn, base):
    buffer = tarn.TnBuffer()
    assert buffer.Alloc(64).IsOK()
    image = buffer.GetImage()
    for destroy, target in ((base.delete_TnImage, image), (base.delete_ITnImage, image),
                            (base.delete_ITnChunkData, buffer)):
        destroy(target)
    assert buffer.GetImage().GetBuffer() == buffer  # still alive and whole
    assert buffer.GetSize() == 64


def test_payload_interfaces_keep_their_buffer_alive(tarn):
    image = tarn.TnBuffer().GetImage()  # the buffer's proxy is dropped at once
    assert image.Alloc(16, 16, tarn.TnPixelMono8).IsOK()
    assert image.GetDataPointer().shape == (16, 16)
    section_image = None
    container = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart).GetMultiPartContainer()
    assert container.AddImagePart(tarn.TnMultiPart2DImage, 8, 8, tarn.TnPixelMono8).IsOK()
    assert container.AllocAllParts().IsOK()
    section_image = container.GetPart(0).GetImage()
    del container
    assert section_image.GetWidth() == 8


def test_buffers_and_images_print_readably(tarn):
    buffer = tarn.TnBuffer()
    assert repr(buffer) == "<TnBuffer Image, 0 bytes>"
    assert buffer.GetImage().Alloc(640, 480, tarn.TnPixelRGB8).IsOK()
    assert repr(buffer) == "<TnBuffer Image 640x480 RGB8, 921600 bytes>"
    assert repr(buffer.GetImage()) == "<TnImage 640x480 RGB8, 921600 bytes>"
    raw = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
    assert raw.Alloc(100).IsOK() and str(raw) == "<TnBuffer RawData, 100 bytes>"
    assert repr(tarn.TnBuffer(4321)) == "<TnBuffer payload type 4321, 0 bytes>"
