"""Walk of a received GenDC container of 4 components and 8 parts: every
header getter of the container, its components and parts, and a data view
of every part, per container; beside it the independent reader
(gendc-python) parsing the same bytes and taking every part's data, given a
memoryview of them (its data slices copy nothing) and given bytes (its data
slices copy). Parts of 64x48 and of 2048x1536 pixels: a view costs the same
whatever the part's size."""

import os
import pathlib
import sys
import timeit

import numpy as np
import tarn_base_313 as tarn
from gendc_python.gendc_separator import descriptor

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "gendc"))
import gendc_packing as packing  # noqa: E402


def container_bytes(width, height):
    components = [packing.Component(type_id, [packing.image(width, height, seed=2 * index),
                                              packing.image(width, height, packing.MONO16, flow=1, seed=2 * index + 1)],
                                    source_id=index, format=packing.MONO8)
                  for index, type_id in enumerate((1, 4, 6, 0x8001))]
    return packing.pack(components).data


def walk(container):
    """Our walk: validity and sizes, every component's and part's header
    fields, a view of every part's data."""
    values = [container.IsValid(), container.GetComponentCount(), container.GetDataSize(),
              container.GetDescriptorSize()]
    for component in container:
        values += [component.GetFlags(), component.GetHeaderSize(), component.GetGroupID(), component.GetSourceID(),
                   component.GetRegionID(), component.GetRegionOffsetX(), component.GetRegionOffsetY(),
                   component.GetTimestamp(), component.GetTypeID(), component.GetFormat(), component.GetPartCount()]
        for part in component:
            values += [part.GetHeaderType(), part.GetFlags(), part.GetHeaderSize(), part.GetFormat(),
                       part.GetFlowID(), part.GetFlowOffset(), part.GetDataSize(), part.GetDataOffset(),
                       part.GetDataPointer()]
    return values


def reference(data):
    """The independent reader: parse, then the same fields and each part's data."""
    container = descriptor.Container(data)
    values = [container.get_component_count(), container.get_data_size(), container.get_descriptor_size()]
    for index in range(container.get_component_count()):
        component = container.get_component_by_index(index)
        values += [component.get(key) for key in ("Flags", "HeaderSize", "GroupId", "SourceId", "RegionId",
                                                  "RegionOffsetX", "RegionOffsetY", "Timestamp", "TypeId", "Format",
                                                  "PartCount")]
        for number in range(component.get_part_count()):
            part = component.get_part_by_index(number)
            values += [part.get(key) for key in ("HeaderType", "Flags", "HeaderSize", "Format", "FlowId",
                                                 "FlowOffset", "DataSize", "DataOffset")]
            values.append(part.get_data())
    return values


def per_call_us(function, argument, number=200, repeat=9):
    return min(timeit.repeat(lambda: function(argument), number=number, repeat=repeat)) / number * 1e6


def main():
    print("load average " + " ".join(f"{value:.2f}" for value in os.getloadavg()))
    print(f"{'parts':<26} {'walk':>9} {'one view':>9} {'gendc-python':>13} {'ratio':>6} {'on bytes':>10} {'ratio':>6}")
    for width, height in ((64, 48), (2048, 1536)):
        data = container_bytes(width, height)
        memory = np.frombuffer(bytearray(data), np.uint8)
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeGenDC)
        assert buffer.Attach(memory).IsOK()
        container = buffer.GetGenDC()
        assert len([v for v in walk(container) if isinstance(v, np.ndarray)]) == 8
        assert len(reference(memoryview(memory))) == 3 + 4 * 11 + 8 * 9
        walk_us = per_call_us(walk, container)
        view_us = per_call_us(lambda part: part.GetDataPointer(), container[0][0], number=20000)
        theirs_us = per_call_us(reference, memoryview(memory))
        bytes_us = per_call_us(reference, data, number=5 if width > 64 else 200)
        label = f"{width}x{height}, {len(data) / 1e6:.1f} MB"
        print(f"{label:<26} {walk_us:7.1f}us {view_us * 1e3:7.0f}ns {theirs_us:11.1f}us {theirs_us / walk_us:5.1f}x"
              f" {bytes_us:8.1f}us {bytes_us / walk_us:5.1f}x")


if __name__ == "__main__":
    main()
