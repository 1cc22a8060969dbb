"""Every function of every built module, called with hostile arguments: None,
wrong types, extreme numbers, strings with NULs, arrays numpy must copy or
cannot write, borrowed objects, too few and too many arguments, and objects
returned while hostile proxy classes are registered. A crash, a hang or a
SystemError fails the test; every other exception is a fine answer.

The calls run in child processes (hostile_child.py), inside a network
namespace of their own when the machine allows one. A child that crashes or
hangs is replaced by one that goes on behind the call that failed, so one run
lists every fault."""

import importlib.util
import json
import pathlib
import signal
import struct
import subprocess
import sys
import time

import pytest

import netns
from children import child_env

CHILD = pathlib.Path(__file__).resolve().parent / "hostile_child.py"
MODULES = ["_tarn_base_313", "_tarn_receive_313", "_tarn_edge_313"]
HANG_SECONDS = 30
MODULE_SECONDS = 900

SIMULATED = """
[controller]
name = sim0
speed = super

[u3v]
serial = U3-1
guid = HOSTILE-U3-1
controller = sim0

[usb]
serial = USB-1
controller = sim0

[vexmoor]
serial = VX-1
"""


class Children:
    def __init__(self, module, folder):
        self.module = module
        # The children's working folder: files that calls write (a
        # description dumped under a hostile name) land there.
        self.folder = folder
        self.progress = folder / "progress"
        self.report = folder / "report.jsonl"
        self.errors = folder / "stderr.txt"
        self.report.write_text("")
        devices = folder / "devices.ini"
        devices.write_text(SIMULATED)
        self.isolated = netns.available()
        self.env = child_env({"HOSTILE_SEARCH": "1" if self.isolated else "", "TARN_SIMULATED_DEVICES": str(devices)})
        self.env.pop("TARN_LOG_FILE", None)

    def command(self, *args):
        argv = [sys.executable, str(CHILD), *map(str, args)]
        return netns.command(argv) if self.isolated else argv

    def position(self):
        return struct.unpack("<qq", self.progress.read_bytes()[:16])

    def run_from(self, function, number):
        """Runs one child from the given call; returns (exit status, position)."""
        self.progress.write_bytes(struct.pack("<qq", function, -2))
        with open(self.errors, "w") as errors:
            child = subprocess.Popen(self.command("run", self.module, self.progress, self.report, function, number),
                                     stdout=subprocess.DEVNULL, stderr=errors, env=self.env, cwd=self.folder)
            last, since = self.position(), time.monotonic()
            while child.poll() is None:
                time.sleep(0.1)
                now = self.position()
                if now != last:
                    last, since = now, time.monotonic()
                elif time.monotonic() - since > HANG_SECONDS:
                    child.kill()
                    child.wait()
                    return "hang", self.position()
        return child.returncode, self.position()

    def describe(self, function, number):
        done = subprocess.run(self.command("describe", self.module, function, number), capture_output=True,
                              text=True, env=self.env, timeout=120, cwd=self.folder)
        return done.stdout.strip() or f"function {function}, call {number}: {done.stderr.strip()[-500:]}"

    def stderr_tail(self):
        return self.errors.read_text(errors="replace").strip()[-1500:]


def fault_name(status):
    if status == "hang":
        return f"hang (no progress for {HANG_SECONDS} s)"
    if status < 0:
        return f"crash ({signal.Signals(-status).name})"
    return f"exit status {status}"


@pytest.mark.parametrize("module", MODULES)
def test_no_crash_hang_or_systemerror(module, tmp_path):
    if importlib.util.find_spec(module) is None:
        pytest.skip(f"{module} is not built yet")
    children = Children(module, tmp_path)
    faults = []
    function, number = 0, 0
    deadline = time.monotonic() + MODULE_SECONDS
    while True:
        status, (at_function, at_number) = children.run_from(function, number)
        if status == 0:
            break
        if at_number == -2:
            pytest.fail(f"the child did not start: {children.stderr_tail()}")
        faults.append(f"{fault_name(status)}: {children.describe(at_function, at_number)}\n"
                      f"{children.stderr_tail()}")
        function, number = (at_function + 1, 0) if at_number < 0 else (at_function, at_number + 1)
        assert time.monotonic() < deadline, "too slow; faults so far:\n" + "\n".join(faults)
    for line in children.report.read_text().splitlines():
        entry = json.loads(line)
        faults.append(f"SystemError: {entry['function']}{entry['args']}: {entry['message']}")
    assert not faults, f"{len(faults)} faults:\n" + "\n\n".join(faults)
