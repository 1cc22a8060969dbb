"""GenDC containers packed byte by byte with struct, as another sender would
lay them out: the container header and its component offsets, the flow table,
the component headers with their part offsets, the part headers, then each
part's data; and the check that an independent reader finds in a
container's bytes what our walk finds. Shared by the tests and the
benchmark."""

import struct
from dataclasses import dataclass, field

from gendc_python.gendc_separator import descriptor

CONTAINER = struct.Struct("<iBBBBHHIQHHIQqII")  # 56 bytes
FLOW_TABLE = struct.Struct("<HHIBBHI")  # 16 bytes
COMPONENT = struct.Struct("<HHIHHHHIIqQiHH")  # 48 bytes
PART = struct.Struct("<HHIiHHqQq")  # 40 bytes
PART_1D = struct.Struct("<QHHIQ")  # 24 bytes after the common part
PART_2D = struct.Struct("<IIHHI")  # 16 bytes after the common part

SIGNATURE = 0x43444E47
MONO8, MONO16, DATA8 = 0x01080001, 0x01100007, 0x01080116


def chunks(*items):
    """Chunk data: each chunk's bytes and its big-endian tag (id, length)."""
    return b"".join(data + struct.pack(">II", chunk_id, len(data)) for chunk_id, data in items)


@dataclass
class Part:
    header_type: int
    data: bytes
    format: int = DATA8
    flow: int = 0
    flags: int = 0
    size: tuple = ()  # (width, height) of a 2-D part, (count,) of a 1-D one
    padding: tuple = (0, 0)
    info: int = 0  # the 1-D family's type-specific word
    # Filled by pack():
    header_offset: int = 0
    data_offset: int = 0
    flow_offset: int = 0

    @property
    def two_d(self):
        return self.header_type & 0xFF00 == 0x4200

    @property
    def header_size(self):
        return PART.size + (PART_2D.size if self.two_d else PART_1D.size)


@dataclass
class Component:
    type_id: int
    parts: list
    source_id: int = 0
    group_id: int = 0
    region_id: int = 0
    region: tuple = (0, 0)
    timestamp: int = 0
    format: int = DATA8
    flags: int = 0
    header_offset: int = 0

    @property
    def header_size(self):
        return COMPONENT.size + 8 * len(self.parts)


@dataclass
class Packed:
    data: bytes
    components: list
    descriptor_size: int
    data_size: int
    flows: list = field(default_factory=list)


def pack(components, container_id=0x1122334455667788, flows=None, align=8):
    """The container's bytes, with every offset filled into the components
    and parts given."""
    parts = [part for component in components for part in component.parts]
    flow_count = flows if flows is not None else max((p.flow for p in parts), default=0) + 1
    header_size = CONTAINER.size + 8 * len(components)
    at = header_size + FLOW_TABLE.size + 8 * flow_count
    for component in components:
        component.header_offset = at
        at += component.header_size
    for part in parts:
        part.header_offset = at
        at += part.header_size
    descriptor_size = at
    flow_sizes = []
    for flow in range(flow_count):
        base = 0 if flow == 0 else at
        for part in (p for p in parts if p.flow == flow):
            at = (at + align - 1) // align * align
            part.data_offset, part.flow_offset = at, at - base
            at += len(part.data)
        flow_sizes.append(at - base)
    total = at

    out = bytearray(total)
    CONTAINER.pack_into(out, 0, SIGNATURE, 1, 1, 0, 0, 0x1000, 0, header_size, container_id, 0, 0, 0,
                        total - descriptor_size, descriptor_size, descriptor_size, len(components))
    struct.pack_into(f"<{len(components)}q", out, CONTAINER.size, *(c.header_offset for c in components))
    table = header_size
    FLOW_TABLE.pack_into(out, table, 0x7000, 0, FLOW_TABLE.size + 8 * flow_count, 1, 1, 0, flow_count)
    struct.pack_into(f"<{flow_count}Q", out, table + FLOW_TABLE.size, *flow_sizes)
    for component in components:
        COMPONENT.pack_into(out, component.header_offset, 0x2000, component.flags, component.header_size, 0,
                            component.group_id, component.source_id, component.region_id, *component.region,
                            component.timestamp, component.type_id, component.format, 0, len(component.parts))
        struct.pack_into(f"<{len(component.parts)}q", out, component.header_offset + COMPONENT.size,
                         *(p.header_offset for p in component.parts))
        for part in component.parts:
            PART.pack_into(out, part.header_offset, part.header_type, part.flags, part.header_size, part.format, 0,
                           part.flow, part.flow_offset, len(part.data), part.data_offset)
            if part.two_d:
                width, height = part.size
                PART_2D.pack_into(out, part.header_offset + PART.size, width, height, *part.padding, 0)
            else:
                count = part.size[0] if part.size else len(part.data)
                PART_1D.pack_into(out, part.header_offset + PART.size, count, part.padding[0], 0, 0, part.info)
            out[part.data_offset:part.data_offset + len(part.data)] = part.data
    return Packed(bytes(out), components, descriptor_size, total - descriptor_size, flow_sizes)


def image(width, height, pixel=MONO8, flow=0, seed=1):
    """A 2-D image part of distinct bytes."""
    size = width * height * (2 if pixel == MONO16 else 1)
    data = bytes((seed * 31 + index * 7) & 0xFF for index in range(size))
    return Part(0x4200, data, format=pixel, flow=flow, size=(width, height))


def sample(component_count=3, width=16, height=8):
    """One to four components: intensity images (Mono8, Mono16), chunk
    metadata, XML metadata and a 1-D part, spread over two flows."""
    made = [
        Component(1, [image(width, height, seed=1), image(width // 2, height, MONO16, flow=1, seed=2)],
                  source_id=3, group_id=1, region_id=2, region=(4, 5), timestamp=-7, format=MONO8, flags=0),
        Component(0x8001, [Part(0x4000, chunks((0x10, b"\x01\x02\x03\x04"), (0x20, bytes(range(12)))), info=0xAB),
                           Part(0x4001, b"<RegisterDescription/>\x00\x00")], source_id=3, group_id=1),
        Component(4, [Part(0x4100, bytes(range(40)), format=0x01100118, size=(20,))], timestamp=2**63 + 5 - 2**64),
        Component(0xFF05, [image(4, 4, seed=9)], flags=1),
    ]
    return made[:component_count]


def agrees_with_independent_reader(data, container):
    """The third-party reader finds what our walk finds in the same bytes."""
    theirs = descriptor.Container(bytes(data))
    assert theirs.get_component_count() == container.GetComponentCount() == len(list(container))
    assert (theirs.get_descriptor_size(), theirs.get_data_size()) == (container.GetDescriptorSize(),
                                                                      container.GetDataSize())
    assert tuple(theirs.get("ComponentOffset")) == container.GetHeader().GetComponentOffsets()
    for index, component in enumerate(container):
        other = theirs.get_component_by_index(index)
        assert [other.get(key) for key in ("TypeId", "SourceId", "GroupId", "Flags", "Format", "Timestamp")] == [
            component.GetTypeID(), component.GetSourceID(), component.GetGroupID(), component.GetFlags(),
            component.GetFormat(), component.GetTimestamp()]
        assert tuple(other.get("PartOffset")) == component.GetHeader().GetPartOffsets()
        assert other.get_part_count() == component.GetPartCount()
        for number, part in enumerate(component):
            mine = [part.GetHeaderType(), part.GetFlowID(), part.GetFlowOffset(), part.GetDataSize(),
                    part.GetDataOffset(), part.GetFormat(), part.GetHeaderSize()]
            found = other.get_part_by_index(number)
            assert mine == [found.get(key) for key in ("HeaderType", "FlowId", "FlowOffset", "DataSize", "DataOffset",
                                                       "Format", "HeaderSize")]
            assert component.GetPartHeaderOffset(number) == other.get("PartOffset")[number]
            assert bytes(found.get_data()) == part.GetDataPointer().tobytes()
            if part.GetGenDCImage() is not None:
                assert found.get_dimension() == [part.GetGenDCImage().GetWidth(), part.GetGenDCImage().GetHeight()]
