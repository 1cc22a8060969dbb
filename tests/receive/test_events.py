"""Device events through our own GigE Vision responder (what the independent
peer lacks), and simulated USB3 Vision devices through the factory; each test
in a network namespace of its own."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("events_child.py")


def test_events_reach_python_sinks(isolated):
    out = isolated(CHILD, "events_reach_python_sinks")
    assert out["connect"] == ["OK", "TnDeviceGEV"]
    assert out["register"] == ["OK", "OK"] and out["sent"] == [0, 0] and out["idle"] == "OK"
    assert out["events"] == [["TnDevice", 0x9001, 0xFFFF, 5, 123456789, [0, 0, 0, 7, 1, 2], True],
                             ["TnDevice", 0x9002, 0xFFFF, 6, 123456789, [], True]]
    assert out["features"] == [[0x9001, ["EventTestPort", "EventTestFrameID"], 7]]
    assert out["kept"] == [[0, 0, 0, 7, 1, 2], []]
    assert out["owners"][0] is True
    assert out["stdout"].count("In method 'OnEvent': ValueErrorrefused\n") == 3
    assert "In method 'OnEventGenICam': KeyError'gone'\n" in out["stdout"]
    assert out["unregister"] == "OK" and out["after"] == 0 and out["quiet"] == 2


SIMULATED = """
[controller]
name = sim0
speed = super

[u3v]
serial = U3-7
guid = EVENTS-U3-7
controller = sim0

[vexmoor]
serial = VX-7
"""


def test_factory_and_memory_on_a_simulated_usb3_vision_device(isolated, tmp_path):
    devices = tmp_path / "devices.ini"
    devices.write_text(SIMULATED)
    out = isolated(CHILD, "factory_and_memory_on_a_simulated_usb3_vision_device", env={"TARN_SIMULATED_DEVICES": str(devices)})
    assert out["vexmoor"] == ["NOT_SUPPORTED", None]
    assert out["factory"] == ["OK", "TnDeviceU3V", "EVENTS-U3-7"]
    assert out["width"] > 0
    assert out["read"] == ["OK", [8]]
    assert out["refused"] == {name: "INVALID_PARAMETER" for name in out["refused"]}
    assert out["negative count"] == "OverflowError"
    assert out["adapter"] == [True, True, "OK"] and out["adapter after free"] is False
    assert out["freed"] == "in method 'TnDeviceU3V_GetGUID', argument 1 of type 'TnDeviceU3V const *'"


def test_sinks_busy_in_python_at_the_interpreters_exit(isolated):
    """The program ends while the device's message channel thread is inside
    a Python sink (busy, sleeping, or waiting for the interpreter lock that
    the main thread holds until sys.exit), with a Python log sink attached:
    the process ends cleanly."""
    for ending in ("busy", "sleeping", "waiting"):
        for attempt in range(2):
            assert isolated(CHILD, "sinks_busy_in_python_at_the_interpreters_exit", ending)["called"], ending
