"""What Python prints of the objects a program holds: each names its class
and what identifies it, read from what the object holds (never from the
device), and an object that was freed says so."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("printing_child.py")


def assert_no_proxy_text(printed):
    for what, text in printed.items():
        assert "Swig Object" not in text and "proxy of" not in text, (what, text)


def test_a_camera_and_its_parts_print_what_they_are(isolated, fake_camera):
    out = isolated(CHILD, "a_camera_and_its_parts")
    printed = out["printed"]
    assert_no_proxy_text(printed)
    assert out["connect"] == "OK" and out["sent"] == 0  # printing asked nothing of the device
    kind, model, address, mac, local, port, interfaces = out["identity"]
    assert printed["system"] == f"<TnSystem: {interfaces} interfaces, 1 devices found>"
    assert printed["info"] == f"<{kind} {model!r} serial 'TNPRINT' at '{address}'>"
    assert printed["not connected"] == "<TnDeviceGEV, not connected>"
    assert printed["device"] == f"<TnDeviceGEV at {address} ({mac}), connected>"
    assert printed["disconnected"] == "<TnDeviceGEV, not connected>"
    count = out["loop"][1]
    assert printed["features"] == f"<TnGenParameterArray of {count} features>"
    assert {"TnGenInteger", "TnGenFloat", "TnGenEnum", "TnGenBoolean", "TnGenCommand", "TnGenString",
            "TnGenEnumEntry", "TnGenCategory"} <= set(out["names"])
    for kind, name in out["names"].items():
        assert printed[kind] == f"<{kind} {name!r}" + (", type Undefined>" if kind == "TnGenParameter" else ">")
    assert printed["stream closed"] == "<TnStreamGEV, closed>"
    assert printed["stream"] == f"<TnStreamGEV at {local} port {port}, open>" and port > 0
    assert printed["pipeline"].startswith("<TnPipeline stopped, ")
    assert printed["pipeline started"].startswith("<TnPipeline started, ")
    for kind in ("pipeline", "stream", "device", "system"):
        assert printed[kind + " freed"] == f"<{printed[kind][1:].split()[0].rstrip(':')}, freed>"
    assert printed["features of the freed device"] == "<TnGenParameterArray, freed>"
    # A loop over the device's features ends after the last; `in` asks by name.
    assert out["loop"] == [count, count, count, True] and count > 10
    assert out["in"] == [True, False, True]


def test_a_software_device_prints_its_serial_number_and_whether_it_runs(isolated):
    out = isolated(CHILD, "a_software_device")
    printed = out["printed"]
    assert_no_proxy_text(printed)
    assert printed["made"] == "<TnSoftDeviceGEV, not running>"
    assert printed["running"] == "<TnSoftDeviceGEV serial 'TNSOFT1', running>"
    assert printed["stopped"] == "<TnSoftDeviceGEV, not running>"
    assert printed["freed"] == "<TnSoftDeviceGEV, freed>"
    assert printed["array"] == "<TnGenParameterArray of 0 features>" and out["array"] == [[], 0, False]
    assert printed["list"] == "<TnGenParameterList of 0 features>" and out["list"] == [[], 0, False]
