"""Child programs of test_urls.py, each in a network namespace of its own
with the hostile camera on loopback: urls_child.py NAME DIRECTORY, where
DIRECTORY is the test's own temporary directory."""

import pathlib
import sys

import child
from child import out
from hostile_camera import DISCOVERY, HostileCamera

import tarn_base_313 as tarn
import tarn_receive_313 as rx

XML = (pathlib.Path(__file__).resolve().parent.parent / "data" / "genicam" / "camera.xml").read_bytes()


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
