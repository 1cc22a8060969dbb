"""A camera's GenICam description is hostile input: served by the hostile
camera on loopback, a description that declares entities, that would cost
more than any real one or holds nothing is refused with a result that says
why, within an address-space limit; one whose 5,000 StructReg entries share
a 100 KB ToolTip loads; a Ctrl-C during the loading ends the connection."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("descriptions_child.py")


def test_costly_and_empty_descriptions_are_refused(isolated):
    out = isolated(CHILD, "served", timeout=300)
    refused = {
        "entity, 20,000 uses": "entity 'a'", "entity, 200,000 uses": "entity 'a'",
        "external entity": "entity 'e'", "parameter entity": "entity 'p'",
        "StructReg 3,000 shared x 3,000": "more than 200000 elements",
        "StructReg 100 KB ToolTip x 36,000": "the StructReg element holds more than 16384 elements",
        "60 MiB of <x/> in one node": "the Integer element holds more than 16384 elements",
        "300,000 attributes": "more than 64 attributes", "1 MiB ToolTip": "longer than 256 KiB",
        "8 NUL bytes": "empty", "an empty zip member": "empty", "an empty file": "empty",
    }
    for name, reason in refused.items():
        code, description = out[name]
        assert code == "GENICAM_XML_ERROR" and reason in description, (name, out[name])
    assert out["a zip of a folder"] == ["INVALID_DATA_FORMAT", "GenICam description: the zip archive holds no file"]
    assert out["StructReg 100 KB ToolTip x 5,000"] == ["OK", "", 640, [100_000]]
    # Within every limit, what real descriptions never come near.
    assert out["150,000 undefined names"][:3] == out["near every limit, 60 MiB"][:3] == ["OK", "", 640]


def test_a_ctrl_c_ends_the_loading_of_a_description(isolated):
    out = isolated(CHILD, "interrupted", timeout=120)
    assert "heard" in out and out["connected"] is False, out
    assert out["again"] == ["OK", ""], out
