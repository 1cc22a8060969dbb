import pathlib
import struct

import pytest

XML = pathlib.Path(__file__).resolve().parent.parent / "data" / "genicam" / "camera.xml"
MONO8 = 0x01080001
MONO16 = 0x01100007


def be32(value):
    return struct.pack(">I", value)


def bef(value):
    return struct.pack(">f", value)


@pytest.fixture
def array(hooks, tarn):
    """The test camera's features over fresh register memory."""
    features = hooks.LoadParameterArray(str(XML), 0x400)
    assert features is not None, "the test camera's XML does not load"
    for address, data in ((0x100, be32(640)), (0x104, be32(480)), (0x108, be32(MONO8)), (0x10C, be32(0)),
                          (0x12C, be32(1000)), (0x118, be32(0)), (0x11C, bef(1.5)), (0x120, bef(3.0)),
                          (0x140, b"cam-1".ljust(16, b"\0")), (0x160, bytes(range(8))), (0x170, bef(36.5))):
        assert hooks.WritePort(features, address, data)
    yield features
    del features
