"""Objects ended or stopped from inside their own calls into Python, while
the program's main thread sleeps in one call: a software device from each
kind of its callbacks, a device controller from its event sinks, a serial port (and
its device) from a read of the port's thread, the firmware updater from its
observer.
Nothing crashes or waits for the main thread, the access that was running
answers a failure, nothing is called once its object ended, and each
object, or a new one in its place, works afterwards (own_threads_child.py)."""

import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "receive"))
from test_firmware_update import FIRMWARE, update_file  # noqa: E402

CHILD = pathlib.Path(__file__).resolve().parent / "own_threads_child.py"


def run(isolated, kind, callback, env=None):
    out = isolated(CHILD, kind, callback, env=env, timeout=240)
    assert "error" not in out, out["error"]
    return out


@pytest.mark.parametrize("callback", ["connect", "disconnect", "expire", "postwrite", "python-write", "userset",
                                      "trigger", "retrieve", "streaming-start", "registers", "control-start",
                                      "control-stop"])
def test_a_software_device_ended_from_its_callback(isolated, callback):
    out = run(isolated, "soft-device", callback)
    assert out["rounds"] == ["delete", "drop", "stop"]
    for action in out["rounds"]:
        # What a stop or an end lets go of stays until the callback returned.
        assert out[action]["freed inside"] is False, action
        assert out[action]["streams"] == ["OK", "OK", "OK"] and out[action]["stop again"] == "OK", action
    assert out["delete"]["emptied"] is True
    if callback in ("registers", "control-start"):
        assert out["delete"]["start"] == "ABORTED"
    if callback == "python-write":  # the write whose sink ended the device (a drop ends it once the write returned)
        assert out["delete"]["write"] == "ABORTED" and out["drop"]["write"] == "OK"
    assert out["stop"]["stop"] == ("STATE_ERROR" if callback in ("registers", "control-stop") else "OK")
    assert out["stop"]["restart"] == "OK"


@pytest.mark.parametrize("callback", ["event", "event-genicam", "link-lost", "read", "write"])
def test_a_device_controller_ended_from_its_event_sink(isolated, callback):
    out = run(isolated, "device", callback)
    assert out["rounds"] == ["delete", "drop", "free", "disconnect"]
    for action in out["rounds"]:
        assert out[action]["again"] == ["OK", "OK"], action
    assert out["delete"]["emptied"] is True and out["disconnect"]["disconnect"] == "OK"
    if callback in ("read", "write"):
        # The access that called the sink fails once its device is gone.
        assert out["delete"]["call"] == out["free"]["call"] == "NOT_CONNECTED"


def test_a_serial_port_ended_from_a_read_of_its_thread(isolated, tmp_path):
    devices = tmp_path / "devices.ini"
    devices.write_text("[u3v]\nmodel = EX-1\nguid = SERIAL-0001\n")
    out = run(isolated, "serial-port", "poll", {"TARN_SIMULATED_DEVICES": str(devices)})
    assert out["rounds"] == ["delete", "drop", "close", "free-device"]
    for action in out["rounds"]:
        assert out[action]["again"] == ["OK", "OK", "tarn", "OK"], action
    assert out["delete"]["emptied"] is True
    assert out["close"]["close"] == "OK" and out["close"]["open after"] is False
    assert out["free-device"]["close"] == "OK" and out["free-device"]["connect"] == "OK"


def test_the_firmware_updater_ended_from_its_observer(isolated, tmp_path):
    path, name = update_file(tmp_path / "update.zip")
    out = run(isolated, "updater", "progress", {"TARN_UPDATE_FILE": f"{path}/{name}", "TARN_FIRMWARE": FIRMWARE.hex()})
    assert out["rounds"] == ["delete", "drop", "detach"]
    for action in out["rounds"]:
        # The update runs to its end, telling no observer once it was let go.
        assert [out[action][key] for key in ("updated", "late calls", "again")] == [True, 0, "OK"], action
    assert out["delete"]["emptied"] is True
