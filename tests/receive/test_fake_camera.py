"""The receive module against an independent GigE Vision device, the aravis
fake camera, each test in a network namespace of its own."""

import pathlib
import shutil

import pytest

CHILD = pathlib.Path(__file__).resolve().with_name("fake_camera_child.py")

TOOL = "arv-tool-0.8"


def test_connect_read_write_and_the_peer_sees_it(isolated, fake_camera):
    if shutil.which(TOOL) is None:
        pytest.skip(f"{TOOL} is not installed (Debian package aravis-tools-cli)")
    out = isolated(CHILD, "connect_read_write_and_the_peer_sees_it")
    assert out["found"] >= 1
    assert out["connected"] == ["OK", "TnDeviceGEV", True]
    assert out["integers"]["Width"] > 0 and out["integers"]["Height"] > 0
    assert out["integers"]["PayloadSize"] >= out["integers"]["Width"] * out["integers"]["Height"]
    assert out["format"]
    assert out["strings"]["DeviceVendorName"] == "Aravis" and out["strings"]["DeviceModelName"] == "Fake"
    assert out["strings"]["DeviceID"] == "TNTEST1" and out["strings"]["DeviceVersion"]
    assert out["typed"][0] == "TnGenInteger" and out["typed"][1] == out["integers"]["Width"]
    assert out["typed"][2] <= 256 <= out["typed"][3]
    assert out["write"] == "OK"
    height = out["integers"]["Height"]
    assert out["read back"] == [256, 256 * height, 256 * height]
    assert out["id"] == [True, "127.0.0.1"]
    assert out["disconnect"] == "OK" and out["after"] == [False, None]
    assert out["freed"] == "in method 'TnDevice_IsConnected', argument 1 of type 'TnDevice const *'"
    assert out["features freed"] == ["TypeError", "TypeError"]
    assert "Width = 256" in out["peer"]


def test_one_controller_at_a_time_held_by_heartbeats(isolated, fake_camera):
    out = isolated(CHILD, "one_controller_at_a_time_held_by_heartbeats")
    assert out["timeout"] == "OK" and out["first"] == "OK" and out["register"] == 1000
    assert out["refused"][0] != "OK" and "another application controls it" in out["refused"][1]
    assert out["refused"][2] is False
    assert out["asked"] == "OK" and out["as held"] is True
    assert out["ticks"] > 10
    assert out["held"][0] is True and out["held"][1] != "OK"
    assert out["heartbeats"] >= 8
    assert out["release"] == "OK" and out["second"] == "OK"


def test_a_killed_camera_is_reported_as_a_lost_link(isolated, fake_camera):
    out = isolated(CHILD, "a_killed_camera_is_reported_as_a_lost_link")
    assert out["registered"] == ["OK", "OK"] and out["connect"] == "OK"
    assert out["reads"] == [True]
    assert len(out["lost"]) == 1 and out["once"] == 1
    elapsed, kind, connected = out["lost"][0]
    assert elapsed <= 1.0, "noticed within the heartbeat timeout"
    assert kind == "TnDevice" and connected is False
    assert out["connected"] is False
    assert "In method 'OnLinkDisconnected': RuntimeErrorsink failed\n" in out["stdout"]
    assert out["unregister"] == ["OK", "OK"]
