"""GenDC header records and part fields: byte layouts against struct, value
ranges, nested groups, arrays and the H.264 flags."""

import ctypes
import gc
import struct

import pytest

# Records and their fields in declaration order, with the struct format of
# their bytes; "Flags" of a header record is its nested group.
HEADER_FIELDS = "HeaderType Flags HeaderSize Format Reserved FlowId FlowOffset DataSize DataOffset".split()
LAYOUTS = [
    ("GenDCContainerFlagsGroup", "<H", ["Value"]),
    ("GenDCContainerVariableFieldsGroup", "<H", ["Value"]),
    ("GenDCContainerHeaderBase", "<iBBBBHHIQHHIQqII",
     "Signature VersionMajor VersionMinor VersionSubMinor Reserved HeaderType Flags HeaderSize Id VariableFields "
     "Reserved16 Reserved32 DataSize DataOffset DescriptorSize ComponentCount".split()),
    ("GenDCFlowTableHeader", "<HHIBBHI", "HeaderType Flags HeaderSize VersionMajor VersionMinor Reserved "
                                         "FlowCount".split()),
    ("GenDCComponentFlagsGroup", "<H", ["Value"]),
    ("GenDCComponentHeaderBase", "<HHIHHHHIIqQiHH",
     "HeaderType Flags HeaderSize Reserved GroupId SourceId RegionId RegionOffsetX RegionOffsetY Timestamp TypeId "
     "Format Reserved2 PartCount".split()),
    ("GenDCPartFlagsGroup", "<H", ["Value"]),
    ("GenDCPartHeaderBase", "<HHIiHHqQq", HEADER_FIELDS),
    ("GenDCPartHeader", "<HHIiHHqQq", HEADER_FIELDS),
    *[(name, "<HHIiHHqQqQHHIQ", HEADER_FIELDS + "SizeX PaddingX PaddingReserved InfoReserved InfoTypeSpecific".split())
      for name in ("GenDCPartHeader1DBase", "GenDCPartHeader1D", "GenDCPartHeaderGenICamChunk",
                   "GenDCPartHeaderGenICamXML")],
    *[(name, "<HHIiHHqQqIIHHI", HEADER_FIELDS + "SizeX SizeY PaddingX PaddingY InfoReserved".split())
      for name in ("GenDCPartHeader2DBase", "GenDCPartHeader2D", "GenDCPartHeaderJPEG", "GenDCPartHeaderJPEG2000")],
    ("GenDCPartHeaderH264", "<HHIiHHqQqIIHHIBBxBHHII",
     HEADER_FIELDS + "SizeX SizeY PaddingX PaddingY InfoReserved".split()
     + ["InfoTypeSpecific." + f for f in "Reserved ProfileIDC LevelIDC SpropInterleavingDepth SpropMaxDonDiff "
                                         "SpropDeintBufReq SpropInitBufTime".split()]),
    ("GenDCInfoTypeSpecificH264", "<BBxBHHII",
     "Reserved ProfileIDC LevelIDC SpropInterleavingDepth SpropMaxDonDiff SpropDeintBufReq SpropInitBufTime".split()),
    ("TnGenDCPartMetadataFields", "<QHHIQ", "Size Padding PaddingReserved InfoReserved InfoTypeSpecific".split()),
    ("TnGenDCPart1DFields", "<QHHIQ", "Size Padding PaddingReserved InfoReserved InfoTypeSpecific".split()),
    ("TnGenDCPart2DFields", "<IIIII", "SizeX SizeY PaddingX PaddingY InfoReserved".split()),
    ("TnGenDCPartH264Fields", "<IIIIIBBBBHHII",
     "SizeX SizeY PaddingX PaddingY InfoReserved Reserved ProfileIDC Flags LevelIDC SpropInterleavingDepth "
     "SpropMaxDonDiff SpropDeintBufReq SpropInitBufTime".split()),
    ("H264Flags", "<B", [""]),  # the record itself
]
SAMPLES = {"B": 0xA5, "H": 0xB2C3, "I": 0xC4D5E6F7, "Q": 0xF1E2D3C4B5A69788, "i": -0x12345678, "q": -0x123456789ABC}
BITS = (("CS_set0_flag", 0, 1), ("CS_set1_flag", 1, 1), ("CS_set2_flag", 2, 1), ("CS_set3_flag", 3, 1),
        ("PM", 4, 2), ("RF", 6, 2))


def raw(record, size):
    return ctypes.string_at(int(record.this), size)


def field_of(record, path):
    """The record that holds a field, and the field's name ("" for the record)."""
    *parents, name = path.split(".")
    for parent in parents:
        record = getattr(record, parent)
    return record, name


def set_field(record, path, value):
    owner, name = field_of(record, path)
    target = getattr(owner, name) if name else owner
    if hasattr(target, "CS_set0_flag"):
        for bit, shift, width in BITS:
            setattr(target, bit, value >> shift & ((1 << width) - 1))
    elif hasattr(target, "Value"):
        target.Value = value
    else:
        setattr(owner, name, value)


def get_field(record, path):
    owner, name = field_of(record, path)
    value = getattr(owner, name) if name else owner
    if hasattr(value, "CS_set0_flag"):
        return sum(getattr(value, bit) << shift for bit, shift, _ in BITS)
    return value.Value if hasattr(value, "Value") else value


@pytest.mark.parametrize("name,layout,fields", LAYOUTS, ids=[f"{entry[0]}-{entry[1]}" for entry in LAYOUTS])
def test_records_are_the_byte_images_of_their_fields(tarn, name, layout, fields):
    record = getattr(tarn, name)()
    size = struct.calcsize(layout)
    assert raw(record, size) == bytes(size)
    codes = layout[1:].replace("x", "")
    values = [SAMPLES[code] + index for index, code in enumerate(codes)]
    for path, value in zip(fields, values):
        set_field(record, path, value)
    assert raw(record, size) == struct.pack(layout, *values)
    # Getters give the values back, unsigned 64-bit ones above 2^63 positive.
    assert [get_field(record, path) for path in fields] == values


def test_setters_check_the_declared_range(tarn, base):
    container, component, part = tarn.GenDCContainerHeader(), tarn.GenDCComponentHeader(), tarn.GenDCPartHeaderH264()
    refused = [
        (container, "GenDCContainerHeaderBase", "VersionMajor", 256, OverflowError, "GenDCVersionField"),
        (container, "GenDCContainerHeaderBase", "VersionMajor", -1, OverflowError, "GenDCVersionField"),
        (container, "GenDCContainerHeaderBase", "Signature", 0x80000000, OverflowError, "GenDCSignature"),
        (container, "GenDCContainerHeaderBase", "HeaderType", 2**31, OverflowError, "GenDCHeaderType"),
        (container, "GenDCContainerHeaderBase", "DataSize", -1, OverflowError, "GenDCDataSize"),
        (component, "GenDCComponentHeaderBase", "PartCount", 65536, OverflowError, "GenDCPartCount"),
        (component, "GenDCComponentHeaderBase", "TypeId", -1, OverflowError, "GenDCComponentTypeId"),
        (component, "GenDCComponentHeaderBase", "Format", 0x80000000, OverflowError, "GenDCFormat"),
        (part, "GenDCPartHeader2DBase", "PaddingX", 65536, OverflowError, "GenDCPadding"),
        (part, "GenDCPartHeader2DBase", "PaddingX", 1.5, TypeError, "GenDCPadding"),
        (part, "GenDCPartHeaderBase", "FlowId", "1", TypeError, "GenDCFlowId"),
        (part.InfoTypeSpecific, "GenDCInfoTypeSpecificH264", "ProfileIDC", 256, OverflowError, "uint8_t"),
        (part.InfoTypeSpecific, "GenDCInfoTypeSpecificH264", "SpropInitBufTime", 2**32, OverflowError, "uint32_t"),
        (tarn.H264Flags(), "H264Flags", "RF", -1, OverflowError, "uint8_t"),
        (tarn.H264Flags(), "H264Flags", "PM", 256, OverflowError, "uint8_t"),
    ]
    for record, owner, field, value, error, declared in refused:
        before = getattr(record, field)
        with pytest.raises(error) as raised:
            getattr(base, f"{owner}_{field}_set")(record, value)
        assert str(raised.value) == f"in method '{owner}_{field}_set', argument 2 of type '{declared}'"
        assert getattr(record, field) == before
    # 16-bit header types take the signed 32-bit range and keep the low bits.
    container.HeaderType = 0x11000
    component.HeaderType = 0x12000
    part.HeaderType = tarn.GDC_2D_H264 + 65536
    assert (container.HeaderType, component.HeaderType, part.HeaderType) == (0x1000, 0x2000, tarn.GDC_2D_H264)
    part.HeaderType = -1
    part.Format = tarn.TNPIXELCUSTOM
    component.Timestamp = -1
    part.FlowOffset = -5
    container.DataSize = 2**64 - 1
    assert (part.HeaderType, part.Format, component.Timestamp, part.FlowOffset) == (65535, -2**31, -1, -5)
    assert container.DataSize == 18446744073709551615 and container.Signature == 0
    # The part fields are wider than the header fields they decode.
    fields = tarn.TnGenDCPart2DFields()
    fields.PaddingX = 65536
    metadata = tarn.TnGenDCPartMetadataFields()
    metadata.Size = 2**64 - 1
    assert (fields.PaddingX, metadata.Size) == (65536, 2**64 - 1)
    # None as the record: refused, not ignored.
    with pytest.raises(TypeError, match="argument 1 of type 'GenDCContainerHeaderBase \\*'"):
        base.GenDCContainerHeaderBase_Signature_set(None, 1)


def test_h264_flags_are_bits_of_one_byte(tarn, base):
    flags = tarn.H264Flags()
    flags.CS_set2_flag = 1
    flags.RF = 3
    assert raw(flags, 1) == b"\xc4"
    flags.PM = 5  # cut to its two bits
    flags.CS_set0_flag = 2
    flags.CS_set3_flag = True
    assert (flags.PM, flags.CS_set0_flag, flags.CS_set3_flag, raw(flags, 1)) == (1, 0, 1, b"\xdc")
    fields = tarn.TnGenDCPartH264Fields()
    fields.ProfileIDC, fields.LevelIDC = 100, 42
    fields.Flags = flags
    assert (fields.ProfileIDC, fields.LevelIDC, fields.Flags.RF) == (100, 42, 3)
    fields.Flags.PM = 2  # a borrowed window on the record's byte
    assert raw(fields, 36)[22] == 0xEC
    # The header's flags byte is opaque: copied between records only.
    first, second = tarn.GenDCInfoTypeSpecificH264(), tarn.GenDCInfoTypeSpecificH264()
    ctypes.memset(int(first.this) + 2, 0x5A, 1)
    second.SpropMaxDonDiff = 9
    base.GenDCInfoTypeSpecificH264_Flags_set(second, base.GenDCInfoTypeSpecificH264_Flags_get(first))
    assert raw(second, 16)[2] == 0x5A and second.SpropMaxDonDiff == 9
    for wrong in (flags, None, 0x5A):
        with pytest.raises(TypeError) as raised:
            base.GenDCInfoTypeSpecificH264_Flags_set(second, wrong)
        assert "argument 2 of type 'GenDCInfoTypeSpecificH264::H264Flags *'" in str(raised.value)
    with pytest.raises(TypeError, match="argument 2 of type 'TnGenDCPartH264Fields::H264Flags \\*'"):
        base.TnGenDCPartH264Fields_Flags_set(fields, base.GenDCInfoTypeSpecificH264_Flags_get(first))


def test_nested_groups_arrays_and_derived_records(tarn, base):
    header = tarn.GenDCContainerHeader()
    header.Flags.Value = 0x0102
    header.VariableFields.Value = 0x0304
    assert raw(header, 64)[10:12] == b"\x02\x01" and raw(header, 64)[24:26] == b"\x04\x03"
    # A group copied in; None and other types refused.
    group = tarn.GenDCContainerFlagsGroup()
    group.Value = 7
    header.Flags = group
    assert header.Flags.Value == 7
    for wrong in (None, tarn.GenDCComponentFlagsGroup()):
        with pytest.raises(TypeError, match="argument 2 of type 'GenDCContainerFlagsGroup \\*'"):
            base.GenDCContainerHeaderBase_Flags_set(header, wrong)
    # A nested proxy keeps its record alive.
    flags = tarn.GenDCPartHeaderH264().InfoTypeSpecific
    gc.collect()
    flags.LevelIDC = 51
    assert flags.LevelIDC == 51
    # One-element arrays: a pointer into the record, copied from one to another.
    source, target = tarn.GenDCComponentHeader(), tarn.GenDCComponentHeader()
    ctypes.memmove(int(source.this) + 48, struct.pack("<q", -77), 8)
    assert repr(source.PartOffsets).startswith("<Swig Object of type 'long long *'")
    target.PartOffsets = source.PartOffsets
    assert raw(target, 56)[48:] == struct.pack("<q", -77)
    with pytest.raises(TypeError) as raised:
        base.GenDCContainerHeader_ComponentOffsets_set(tarn.GenDCContainerHeader(), None)
    assert str(raised.value) == "invalid null reference in variable 'ComponentOffsets' of type 'GenDCOffset [1]'"
    with pytest.raises(TypeError, match="argument 2 of type 'GenDCFlowSize \\[1\\]'"):
        base.GenDCFlowTable_FlowSize_set(tarn.GenDCFlowTable(), source.PartOffsets)
    # A record of its own holds one element, whatever its count says.
    target.PartCount = 9
    assert target.GetPartOffsets() == (-77,)
    table = tarn.GenDCFlowTable()
    assert table.GetFlowSizes() == () and header.GetComponentOffsets() == ()
    # Derived records pass as their bases, siblings do not.
    jpeg = tarn.GenDCPartHeaderJPEG()
    base.GenDCPartHeader2DBase_SizeY_set(jpeg, 480)
    assert base.GenDCPartHeaderBase_HeaderType_get(jpeg) == 0 and jpeg.SizeY == 480
    assert base.GenDCContainerHeaderBase_ComponentCount_get(header) == 0
    assert base.TnGenDCPart2DFields_SizeX_get(tarn.TnGenDCPartH264Fields()) == 0
    with pytest.raises(TypeError) as raised:
        base.GenDCPartHeader1DBase_SizeX_get(jpeg)
    assert str(raised.value) == "in method 'GenDCPartHeader1DBase_SizeX_get', argument 1 of type " \
                                "'GenDCPartHeader1DBase *'"
    with pytest.raises(TypeError, match="argument 1 of type 'TnGenDCPartMetadataFields \\*'"):
        base.TnGenDCPartMetadataFields_Size_get(tarn.TnGenDCPart1DFields())
