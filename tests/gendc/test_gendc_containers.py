"""GenDC containers walked in a buffer's bytes: hand-packed ones and the ones
the send side's manager lays out, checked against the packed values and
against an independent reader; hostile descriptors."""

import struct

import numpy as np
import pytest

import gendc_packing as packing
from gendc_packing import agrees_with_independent_reader

TWO_D = {0x4200: "2D", 0x4201: "JPEG", 0x4202: "JPEG2000", 0x4203: "H264"}
TYPED = {0x4100: "1D", 0x4000: "GenICamChunk", 0x4001: "GenICamXML", **TWO_D}


def attach(tarn, data):
    """A GenDC buffer over a writeable copy of the bytes, and the copy."""
    memory = np.frombuffer(bytearray(data), np.uint8)
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeGenDC)
    assert buffer.Attach(memory).IsOK()
    return buffer, memory


@pytest.mark.parametrize("count", [1, 2, 3, 4])
def test_walk_of_hand_packed_containers(tarn, count):
    packed = packing.pack(packing.sample(count))
    buffer, memory = attach(tarn, packed.data)
    container = buffer.GetGenDC()
    assert container.IsValid()
    assert (container.GetComponentCount(), container.GetDescriptorSize(), container.GetDataSize()) == (
        count, packed.descriptor_size, packed.data_size)
    assert container.GetHeader().Id == 0x1122334455667788
    assert container[count] is None and container.GetComponent(count) is None
    enums = {1: tarn.TnComponentIntensity, 0x8001: tarn.TnComponentMetadata, 4: tarn.TnComponentRange,
             0xFF05: tarn.TnComponentCustom}
    for component, expected in zip(container, packed.components):
        assert [component.GetTypeID(), component.GetTypeIDEnum(), component.GetFlags(), component.GetHeaderSize(),
                component.GetGroupID(), component.GetSourceID(), component.GetRegionID(),
                component.GetRegionOffsetX(), component.GetRegionOffsetY(), component.GetTimestamp(),
                component.GetFormat(), component.GetPartCount()] == [
            expected.type_id, enums[expected.type_id], expected.flags, expected.header_size, expected.group_id,
            expected.source_id, expected.region_id, *expected.region, expected.timestamp % 2**64, expected.format,
            len(expected.parts)]
        assert component[len(expected.parts)] is None
        for index, (part, wanted) in enumerate(zip(component, expected.parts)):
            assert component.GetPartHeaderOffset(index) == wanted.header_offset
            assert [part.GetHeaderType(), part.GetHeaderTypeEnum(), part.GetFlags(), part.GetHeaderSize(),
                    part.GetFormat(), part.GetFlowID(), part.GetFlowOffset(), part.GetDataSize(),
                    part.GetDataOffset(), part.GetReceptionTime()] == [
                wanted.header_type, wanted.header_type, wanted.flags, wanted.header_size, wanted.format, wanted.flow,
                wanted.flow_offset, len(wanted.data), wanted.data_offset, 0]
            view = part.GetDataPointer()
            assert view.tobytes() == wanted.data and np.shares_memory(view, memory)
            assert type(view.base).__name__ == "TnMemoryHold"
            for kind, name in TYPED.items():
                assert (getattr(part, f"Get{name}Header")() is not None) == (kind == wanted.header_type), name
            result, fields = part.Get2DSpecificFields()
            assert result.IsOK() == wanted.two_d and (fields.SizeX, fields.SizeY) == (wanted.size if wanted.two_d else (0, 0))
            image = part.GetGenDCImage()
            assert (image is not None) == wanted.two_d
            if image is not None:
                width, height = wanted.size
                array = image.GetDataPointer()
                assert array.shape == (height, width) and array.dtype == (np.uint16 if wanted.format == packing.MONO16
                                                                          else np.uint8)
                assert (image.GetPixelType(), image.GetImageSize(), image.GetBitsPerPixel()) == (
                    wanted.format, len(wanted.data), 16 if wanted.format == packing.MONO16 else 8)
                assert (image.GetOffsetX(), image.GetOffsetY(), image.GetBlockID()) == (
                    *expected.region, 0x1122334455667788)
            chunks = part.GetGenDCChunkData()
            assert (chunks is not None) == (wanted.header_type == 0x4000) == (part.GetGenDCChunkWriter() is not None)
            if chunks is not None:
                assert chunks.HasChunks() and chunks.GetChunkCount() == 2 and chunks.GetChunkLayoutID() == 0xAB
                result, first = chunks.GetChunkIDByIndex(0)
                assert result.IsOK() and first == 0x20  # counted from the end
                assert chunks.GetChunkRawDataByID(0x10).tobytes() == b"\x01\x02\x03\x04"
                assert chunks.GetChunkSizeByIndex(0) == 12 and chunks.GetChunkSizeByID(0x99) == 0
                assert chunks.GetChunkRawDataByIndex(2).shape == (0,)
                result, missing = chunks.GetChunkIDByIndex(2)
                assert not result.IsOK() and missing == 0
                result, fields = part.GetMetadataSpecificFields()
                assert result.IsOK() and (fields.Size, fields.InfoTypeSpecific) == (len(wanted.data), 0xAB)
    agrees_with_independent_reader(memory, container)

    # Headers and views write the buffer's own bytes; a write shows at once.
    part = container[0][0]
    part.GetGenDCImage().GetDataPointer()[0, 1] = 0xEE
    assert memory[part.GetDataOffset() + 1] == 0xEE
    container[0].GetMutableHeader().SourceId = 0x0A0B
    part.Get2DHeader().SizeY = 2
    assert memory[packed.components[0].header_offset + 12] == 0x0B
    assert part.GetGenDCImage().GetDataPointer().shape == (2, 16) and container[0].GetSourceID() == 0x0A0B
    assert repr(part.GetGenDCImage()).startswith("<ITnGenDCImage 16x2 ")
    container.GetMutableHeader().DataOffset = -1
    assert not container.IsValid()


def test_manager_builds_and_lays_out_a_container(tarn, hooks):
    manager = hooks.NewGenDCManager()
    try:
        container = manager.GetGenDC()
        assert container.GetComponentCount() == 0 and container.IsValid()
        intensity = container[container.AddComponent(tarn.TnComponentIntensity)]
        meta = container[container.AddComponent(tarn.TnComponentMetadata)]
        assert intensity.AddPart(tarn.TnGenDCPart2D, 0) == 0 and intensity.AddPart(tarn.TnGenDCPart2D, 1) == 1
        assert meta.AddPart(tarn.TnGenDCPartMetadataGenICamChunk, 0) == 0
        for index, pixel in enumerate((tarn.TnPixelMono8, tarn.TnPixelMono16)):
            header = intensity[index].Get2DHeader()
            header.Format, header.SizeX, header.SizeY = pixel, 32, 4
        meta[0].GetMutableHeader().DataSize = 64  # the room for chunks
        intensity.GetMutableHeader().GroupId = 5
        total = manager.GetTotalPayloadSize()
        assert total == container.GetDescriptorSize() + 128 + 64 + 256
        # The descriptor alone holds no data.
        assert intensity[0].GetDataPointer() is None and intensity[0].GetGenDCImage().GetWidth() == 32

        buffer = tarn.TnBuffer(tarn.TnPayloadTypeGenDC)
        assert buffer.AttachGenDCManager(manager).IsOK()
        assert buffer.GetPayloadSize() == total
        laid = buffer.GetGenDC()
        assert laid.IsValid() and [len(component) for component in laid] == [2, 1]
        laid[0][0].GetGenDCImage().GetDataPointer()[:] = 7
        laid[0][1].GetGenDCImage().GetDataPointer()[:] = 0x0102
        writer = laid[1][0].GetGenDCChunkWriter()
        writer.ResetChunks()
        assert writer.AddChunk(0x44, b"abcdefgh").IsOK() and writer.AddChunk(0x45, b"").IsOK()
        assert writer.AddChunk(0x46, bytes(64)).GetCode() == tarn.TN_BUFFER_TOO_SMALL
        with pytest.raises(TypeError, match="argument 3 of type 'uint8_t const \\*'"):
            writer.AddChunk(1, bytearray(4))
        with pytest.raises(OverflowError, match="argument 2 of type 'uint32_t'"):
            writer.AddChunk(-1, bytearray(4))
        chunks = laid[1][0].GetGenDCChunkData()
        assert chunks.GetChunkCount() == 2 and chunks.GetChunkRawDataByID(0x44).tobytes() == b"abcdefgh"
        assert laid[1][0].GetDataSize() == 24
        agrees_with_independent_reader(buffer.GetDataPointer()[:total], laid)

        # A reset leaves what was handed out answering as gone, not dangling.
        component, part, image = intensity, intensity[0], intensity[0].GetGenDCImage()
        record = intensity[0].Get2DHeader()
        manager.ResetContainer()
        assert container.GetComponentCount() == 0 and container[0] is None
        assert (component.GetPartCount(), component[0], component.GetHeader()) == (0, None, None)
        assert (part.GetDataSize(), part.GetGenDCImage(), part.Get2DHeader(), image.GetWidth()) == (0, None, None, 0)
        assert image.GetDataPointer().size == 0 and not part.Get2DSpecificFields()[0].IsOK()
        record.SizeX = 1  # still within the manager's descriptor memory
        assert container.IsValid() and manager.GetTotalPayloadSize() == 56 + 24
        assert laid.IsValid()  # the buffer keeps the container laid into it
    finally:
        hooks.DeleteGenDCManager(manager)


def test_arguments_and_iteration(tarn, base, hooks):
    buffer, _ = attach(tarn, packing.pack(packing.sample(2)).data)
    container = buffer.GetGenDC()
    for bad, error in ((-1, OverflowError), (2**32, OverflowError), (1.0, TypeError)):
        with pytest.raises(error) as raised:
            base.ITnGenericDataContainer_GetComponent(container, bad)
        assert str(raised.value) == "in method 'ITnGenericDataContainer_GetComponent', argument 2 of type 'uint32_t'"
    assert base.ITnGenericDataContainer___getitem__(container, True).GetTypeID() == 0x8001
    assert container[1].this == container.GetComponent(1).this
    assert len(container) == 2 and len(container[1]) == 2 and [p.GetHeaderType() for p in container[1]] == [
        0x4000, 0x4001]
    with pytest.raises(TypeError, match="argument 1 of type 'ITnGenericDataContainer const \\*'"):
        base.ITnGenericDataContainer_IsValid(container[0])
    manager = hooks.NewGenDCManager()
    try:
        built = manager.GetGenDC()
        with pytest.raises(OverflowError, match="argument 2 of type 'TnComponentType'"):
            built.AddComponent(2**31)
        component = built[built.AddComponent(tarn.TnComponentCustom)]
        assert component.GetTypeID() == tarn.GDC_CUSTOM_COMPONENT
        with pytest.raises(OverflowError, match="argument 3 of type 'uint32_t'"):
            component.AddPart(tarn.TnGenDCPart2D, 2**32)
        with pytest.raises(TypeError, match="argument 2 of type 'TnGenDCPartType'"):
            component.AddPart("2D", 2**32)
        assert component.AddPart(tarn.TnGenDCPartUnknown, 0) == tarn.GenDCInvalidPartIndex
        assert component.AddPart(tarn.TnGenDCPart1DCustom, 0) == 0
        assert component[0].GetHeaderType() == tarn.Type1DCustom
        assert component[0].GetHeaderTypeEnum() == tarn.TnGenDCPart1DCustom
    finally:
        hooks.DeleteGenDCManager(manager)
    # A received container takes no new structure.
    assert container.AddComponent(tarn.TnComponentIntensity) == 0xFFFFFFFF


def walk_everything(container):
    """Calls every getter of the container, its components, parts and views."""
    seen = [container.IsValid(), container.GetDataSize(), container.GetDescriptorSize(), container.GetHeader()]
    for index in range(min(container.GetComponentCount(), 8) + 1):
        component = container[index]
        if component is None:
            continue
        header = component.GetHeader()
        seen += [header and header.GetPartOffsets(), component.GetTypeIDEnum(), component.GetPartHeaderOffset(0)]
        for number in range(min(component.GetPartCount(), 8) + 1):
            part = component[number]
            if part is None:
                continue
            seen += [part.GetDataPointer(), part.GetHeaderTypeEnum(), part.Get2DSpecificFields(),
                     part.GetH264SpecificFields(), part.Get1DHeader(), part.GetH264Header()]
            if part.GetGenDCImage() is not None:
                seen.append(part.GetGenDCImage().GetDataPointer())
            if part.GetGenDCChunkData() is not None:
                chunks = part.GetGenDCChunkData()
                seen += [chunks.GetChunkRawDataByIndex(i) for i in range(min(chunks.GetChunkCount(), 4))]
    return seen


def test_hostile_descriptors_are_not_valid_and_stay_in_their_bytes(tarn):
    packed = packing.pack(packing.sample(4))
    good = packed.data
    components = packed.components
    first_part = components[0].parts[0]

    def patched(offset, fmt, value):
        data = bytearray(good)
        struct.pack_into(fmt, data, offset, value)
        return bytes(data)

    hostile = [good[:length] for length in range(1, len(good), 7)]  # truncated
    hostile += [
        patched(52, "<I", 0xFFFFFFFF),  # component count
        patched(52, "<I", 5),
        patched(components[1].header_offset + 46, "<H", 0xFFFF),  # part count
        patched(56, "<q", len(good) - 8),  # a component header past the end
        patched(56, "<q", -56),
        patched(components[0].header_offset + 48, "<q", 2**62),  # a part header far away
        patched(first_part.header_offset + 32, "<q", len(good) - 4),  # data past the end
        patched(first_part.header_offset + 24, "<Q", 2**64 - 1),  # data size
        patched(first_part.header_offset + 32, "<q", components[0].parts[1].data_offset + 4),  # overlapping parts
        patched(first_part.header_offset + 4, "<I", 2**32 - 1),  # header size
        patched(48, "<I", 60),  # descriptor size
        patched(0, "<i", packing.SIGNATURE ^ 1),  # signature
    ]
    for data in hostile:
        buffer, memory = attach(tarn, data)
        container = buffer.GetGenDC()
        walk_everything(container)
        assert not container.IsValid(), data[:64]
    # The flipped signature: nothing to walk, but the header stays reachable
    # to mend it.
    buffer, memory = attach(tarn, hostile[-1])
    container = buffer.GetGenDC()
    assert container.GetComponentCount() == 0 and container[0] is None
    container.GetMutableHeader().Signature = packing.SIGNATURE
    assert container.IsValid() and container.GetComponentCount() == 4
