"""The serial port moving bytes: over the echoing line of a simulated USB3
Vision device, and over the features of a Python-built software GigE Vision
device."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("serial_port_child.py")


SIMULATED = """
[u3v]
model = EX-1
guid = SERIAL-0001
"""


def test_echo_line_progress_statistics_and_a_lost_device(isolated, tmp_path):
    devices = tmp_path / "devices.ini"
    devices.write_text(SIMULATED)
    out = isolated(CHILD, "echo_line_progress_statistics_and_a_lost_device", env={"TARN_SIMULATED_DEVICES": str(devices)})
    assert out["supported"] == [False, True, True] + [False] * 8
    assert out["open"] == ["NOT_SUPPORTED", "OK"]
    assert out["write"] == ["OK", 4096, [4096, 4096]]
    assert out["progress"] >= 3
    assert out["echo"] is True
    assert out["statistics"] == [4096, 4096]
    assert out["bytes"] == [5, 5, 3, 4] and out["bytes back"] == "hello tarnxyzABCD"
    assert out["newest"] == [1000, 100, True]
    assert out["lost"] == ["NOT_CONNECTED", "NOT_CONNECTED", True, "OK", "NOT_CONNECTED"]
    assert out["kept"] == ["OK", 64, True, "OK"]
    assert out["left open"] == "OK"


def test_a_software_device_is_a_far_end(isolated):
    out = isolated(CHILD, "a_software_device_is_a_far_end")
    assert out["supported"] == [True, False, False]
    assert out["open"] == "OK"
    assert out["write"] == ["OK", 3000]
    assert out["echo"] == [True, True]
    assert out["lost"] == "NOT_CONNECTED"
