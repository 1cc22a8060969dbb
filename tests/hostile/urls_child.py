"""Child programs of test_urls.py, each in a network namespace of its own
with the hostile camera on loopback: urls_child.py NAME DIRECTORY, where
DIRECTORY is the test's own temporary directory."""

import os
import pathlib
import sys
import time

import child
from child import out
from hostile_camera import AREA, DISCOVERY, HostileCamera, local_url, zipped

import tarn_base_313 as tarn
import tarn_receive_313 as rx

XML = (pathlib.Path(__file__).resolve().parent.parent / "data" / "genicam" / "camera.xml").read_bytes()
HERE = pathlib.Path(child.ARGUMENTS[0]) if child.ARGUMENTS else None


def connect(camera, url):
    """Connects to CAMERA serving URL: [result code, description, seconds
    taken, the default file name or None], disconnected again."""
    camera.set_url(url)
    device = rx.TnDeviceGEV()
    started = time.monotonic()
    result = device.Connect("HOSTILE1")
    taken = round(time.monotonic() - started, 1)
    name = device.GetDefaultGenICamXMLFilename()[1] if result.IsOK() else None
    if result.IsOK():
        device.Disconnect()
    return [result.GetCodeString(), result.GetDescription(), taken, name]


if child.NAME == "descriptions_from_the_hosts_files":
    (HERE / "camera.xml").write_bytes(XML)
    (HERE / "camera.zip").write_bytes(zipped(XML, "camera.xml"))
    os.mkfifo(HERE / "fifo")
    (HERE / "to-fifo").symlink_to(HERE / "fifo")
    os.chdir(HERE)
    camera = HostileCamera(XML)
    forms = {
        "regular": f"File://{HERE}/camera.xml",
        "zipped": f"File:{HERE}/camera.zip",
        "fifo": f"File://{HERE}/fifo",
        "link to a fifo": f"File://{HERE}/to-fifo",
        "directory": f"File://{HERE}",
        "null": "File:///dev/null",
        "zero": "File:///dev/zero",
        "environment": "File:///proc/self/environ",
        "kernel setting": "File:///proc/sys/kernel/hostname",
        "relative": "File:camera.xml",
        "climbing": f"File://{HERE}/../{HERE.name}/camera.xml",
        "other host": f"File://elsewhere{HERE}/camera.xml",
    }
    out["forms"] = {form: connect(camera, url) for form, url in forms.items()}
    camera.close()


if child.NAME == "the_camera_does_not_choose_where_the_host_writes":
    # The program runs in HERE/run/deep; the camera's names climb from there.
    run = HERE / "run" / "deep"
    run.mkdir(parents=True)
    (HERE / "x").mkdir()
    os.chdir(run)
    names = {
        "climbing": ("../../x/camera-wrote-this.sh", False),
        "slashes": ("///..//..//x/y.xml", False),
        "backslashes": ("..\\..\\x\\z.zip", True),
        "hidden": (".bashrc", False),
        "control": ("a\x01b\x1b[2Jc.xml", False),
        "only dots": ("..", False),
    }
    out["names"] = {}
    for form, (name, packed) in names.items():
        served = zipped(XML, "camera.xml") if packed else XML
        camera = HostileCamera(served, url=local_url(name, AREA, len(served)))
        device = rx.TnDeviceGEV()
        result = device.Connect("HOSTILE1")
        default = device.GetDefaultGenICamXMLFilename()[1]
        dumped = device.DumpGenICamXML(default).GetCodeString() if result.IsOK() else None
        out["names"][form] = [result.GetCodeString(), default, dumped]
        device.Disconnect()
        camera.close()
    out["files"] = sorted(str(path.relative_to(HERE)) for path in HERE.rglob("*") if path.is_file())


if child.NAME == "claimed_addresses_no_host_has":
    child.loopback_multicast()
    out["claims"] = {}
    for claimed in sys.argv[3:]:
        camera = HostileCamera(XML, claimed=claimed)
        system = tarn.TnSystem()
        system.SetDetectionTimeout(500)
        found = system.FindDevice("HOSTILE1")[0].GetCodeString()
        result, device = rx.TnDevice.CreateAndConnect("HOSTILE1")
        if device is not None:
            rx.TnDevice.Free(device)
        camera.close()
        sent = [code for code, destination, _ in camera.received if destination == claimed and code != DISCOVERY]
        out["claims"][claimed] = [found, result.GetCodeString(), len(sent)]
