"""A Python-built software device with a Python source and custom registers
and features, in a network namespace of its own, against aravis's tools and
GObject receiver and against the receive module: both find it, read its XML
and features, write them (the Python register sink sees and refuses writes)
and stream from it, and what arrives is what the Python source wrote."""

import pathlib
import shutil
import subprocess

import pytest

CHILD = pathlib.Path(__file__).resolve().with_name("device_peers_child.py")


def need(*programs):
    for program in programs:
        if shutil.which(program) is None:
            pytest.skip(f"{program} is not installed (Debian packages aravis-tools, aravis-tools-cli)")


def aravis_gi():
    done = subprocess.run(["/usr/bin/python3", "-I", "-c", "import gi; gi.require_version('Aravis', '0.8')"],
                          capture_output=True)
    return done.returncode == 0


def test_aravis_finds_reads_writes_and_streams(isolated):
    need("arv-tool-0.8", "arv-camera-test-0.8")
    grab = aravis_gi()
    out = isolated(CHILD, "aravis_finds_reads_writes_and_streams", "grab" if grab else "no-grab", timeout=120)
    assert all(code == 0 for _, code in out["created"]), out["created"]
    assert out["python write"] == 0
    assert "SoftDevice" in out["list"] and "127.0.0.1" in out["list"]
    assert out["xml"] == [0, True, 1]
    for name in ("TarnInt", "TarnFloat", "TarnText", "TarnBool", "TarnCommand", "TarnEnum", "TarnBlob", "TarnDouble",
                 "TarnRatio", "TarnMilli"):
        assert f"'{name}'" in out["features"], name
    assert "TarnInt = 7 " in out["read"] and "TarnDouble = 14" in out["read"] and "TarnMilli = 7000 " in out["read"]
    assert "TarnEnum = " in out["read"] and "TarnBool = false" in out["read"]
    assert "TarnInt = 42 " in out["write"] and "TarnEnum = High" in out["write"] and "Width = 32 " in out["write"]
    assert "error" in out["refused"] and "TarnInt = 420" not in out["refused"]
    assert out["after"] == [42, [7, 42, 420], [32], "hello"]
    assert "n_failures             = 0\n" in out["camera test"], out["camera test"]
    assert "n_missing_frames       = 0\n" in out["camera test"]
    assert "n_size_mismatch_errors = 0\n" in out["camera test"]
    assert "n_completed_buffers    = 0\n" not in out["camera test"]
    if grab:
        # On a busy machine aravis's receiver may lose a frame's packets and
        # report the frame failed; every frame it got whole has the bytes sent.
        lines = [line.split() for line in out["grabbed"][:-1] if line]
        frames = [line for line in lines if line[0] != "failed"]
        assert len(frames) == 20 and all(len(frame) == 2 for frame in frames), out["grabbed"]
        assert len(lines) - len(frames) <= 5, out["grabbed"]
        for block, crc in frames:
            assert int(crc) == out["sent"][block], block
    connects = [event for event in out["events"] if event[0] == "connect"]
    assert connects and all(event[1] == "127.0.0.1" and event[2] > 0 for event in connects)
    assert out["events"][0][:2] == ["registers"] or out["events"][:2] == [["registers"], ["features"]]
    assert out["stop"] == 0


def test_the_receive_module_as_client(isolated):
    out = isolated(CHILD, "the_receive_module_as_client")
    assert out["found"] == ["OK", "SoftDevice", "TARN0001"]
    assert out["connect"] == "OK"
    assert out["read"] == [64, 48, 64 * 48, 9, 18]
    assert out["write"][0] == "OK" and out["write"][1] != 0 and out["write"][2] == 55
    assert out["strings"] == ["OK", "Low"] or out["strings"][0] == "OK"
    assert out["enum"] == ["OK", 55000]
    assert out["seen"] == [[9, 55, 555], "from rx"]
    assert out["disconnect"] == "OK"
    assert out["events"][0][:2] == ["connect", "127.0.0.1"] and out["events"][0][3] == 2
    assert out["events"][-1] == ["disconnect"]
    assert out["statistics"] == [1, 1, True]
