"""What every child program of the tests (the *_child.py files beside them)
starts with. The tests run such a program as `python FILE NAME [ARGUMENT...]`
(the isolated fixture of tests/conftest.py in a network namespace of its own
with loopback up): NAME picks one of the file's programs, ARGUMENTS are its
arguments.

Importing this module imports the base module first of the three, as the
tests do, and makes `out`, the dict the program fills, which is printed as
the program's last line ("RESULT" and its JSON) however the program ends;
the fixture hands it to the test."""

import atexit
import json
import subprocess
import sys

import tarn_base_313

NAME = sys.argv[1] if len(sys.argv) > 1 else ""
ARGUMENTS = sys.argv[2:]
out = {}


@atexit.register
def _report():
    print("RESULT " + json.dumps(out), flush=True)


def start_fake_camera(serial="TNTEST1", *options):
    """Starts the independent peer's fake GigE Vision camera on loopback, with
    the serial number SERIAL and its OPTIONS, and waits until it answers
    discovery: the camera's process."""
    camera = subprocess.Popen(["arv-fake-gv-camera-0.8", "-i", "127.0.0.1", "-s", serial, *options],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for attempt in range(50):
        assert camera.poll() is None, "the fake camera ended early"
        probe = tarn_base_313.TnSystem()
        probe.SetDetectionTimeout(200)
        if probe.FindDevice(serial)[0].IsOK():
            return camera
    raise AssertionError("the fake camera did not answer within 10 s")
