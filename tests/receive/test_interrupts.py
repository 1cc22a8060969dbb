"""Ctrl-C ends every wait: a signal whose Python handler raises ends a call
that waits in the SDK with that exception, soon after the signal and long
before the call's own timeout, while other threads run on; what the call
waited for stays where a later call finds it. Each case runs in a namespace
of its own, in a child process whose main thread runs the handlers."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("interrupts_child.py")


def test_stream_retrieval_ends_on_a_signal_and_keeps_its_buffer(isolated):
    out = isolated(CHILD, "stream_retrieval_ends_on_a_signal_and_keeps_its_buffer", timeout=40)
    assert all(seconds is not None and seconds < 5 for seconds in out["ended"]), out
    assert out["ticks"] > 100 and out["queued"] == 1
    assert out["race"] == "stopped"
    assert out["later"] == ["OK", True, "ABORTED"]
    code, heard, waited = out["quiet"]
    assert code == "TIMEOUT" and heard is not None and heard < 1.0 and waited >= 1.4
    assert out["closed"] == "OK"


def test_pipeline_and_transmitter_waits_end_on_a_signal(isolated):
    out = isolated(CHILD, "pipeline_and_transmitter_waits_end_on_a_signal", timeout=40)
    assert (out["start"], out["stop"], out["open"]) == ("OK", "OK", "OK")
    assert out["queue"] == "OK"
    for seconds in (out["pipeline"], out["abort"]):
        assert seconds is not None and seconds < 5, out


def test_discovery_connection_and_serial_reads_end_on_a_signal(isolated, tmp_path):
    devices = tmp_path / "devices.ini"
    devices.write_text("[u3v]\nmodel = EX-1\nguid = SERIAL-0002\n")
    out = isolated(CHILD, "discovery_connection_and_serial_reads_end_on_a_signal", env={"TARN_SIMULATED_DEVICES": str(devices)}, timeout=40)
    for name in ("find", "find_device", "connect", "read"):
        assert out[name] is not None and out[name] < 5, (name, out)
    assert out["connected"] is False and out["port"] == "OK"
