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
import signal
import subprocess
import sys

# Ctrl-C raises KeyboardInterrupt here even where the suite was started with
# SIGINT ignored (a background job of a shell), which Python then keeps.
signal.signal(signal.SIGINT, signal.default_int_handler)

import tarn_base_313  # noqa: E402

NAME = sys.argv[1] if len(sys.argv) > 1 else ""
ARGUMENTS = sys.argv[2:]
out = {}


@atexit.register
def _report():
    print("RESULT " + json.dumps(out), flush=True)


def start_camera(argv, key, attempts, probe_ms, **options):
    """Starts the camera program ARGV (with Popen's OPTIONS) and waits until
    a search for KEY finds it, ATTEMPTS searches of PROBE_MS each: the
    camera's process."""
    camera = subprocess.Popen(argv, **options)
    for attempt in range(attempts):
        assert camera.poll() is None, f"{argv[0]} ended early"
        probe = tarn_base_313.TnSystem()
        probe.SetDetectionTimeout(probe_ms)
        if probe.FindDevice(key)[0].IsOK():
            return camera
    raise AssertionError(f"{argv[0]} did not answer within {attempts * probe_ms / 1000:g} s")


def start_fake_camera(serial="TNTEST1", *options):
    """Starts the independent peer's fake GigE Vision camera on loopback, with
    the serial number SERIAL and its OPTIONS, and waits until it answers
    discovery: the camera's process."""
    return start_camera(["arv-fake-gv-camera-0.8", "-i", "127.0.0.1", "-s", serial, *options], serial, 50, 200,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def rerun(name, *arguments, prefix=(), timeout=60):
    """This program's file run again as the program NAME with ARGUMENTS (after
    the command PREFIX): the ended process, whose `result` is the dict the
    program filled (None if it printed none)."""
    run = subprocess.run([*prefix, sys.executable, sys.argv[0], name, *arguments],
                         capture_output=True, text=True, timeout=timeout)
    lines = [line for line in run.stdout.splitlines() if line.startswith("RESULT ")]
    run.result = json.loads(lines[-1][len("RESULT "):]) if lines else None
    return run


def failure(call, *args):
    """The exception CALL(*ARGS) raises, as [its class's name, its message];
    None if it raises none."""
    try:
        call(*args)
    except Exception as error:
        return [type(error).__name__, str(error)]
    return None


def queue_buffers(stream, count, size):
    """COUNT buffers of SIZE bytes, queued in STREAM."""
    buffers = [tarn_base_313.TnBuffer() for _ in range(count)]
    for buffer in buffers:
        buffer.Alloc(size)
        stream.QueueBuffer(buffer)
    return buffers


def loopback_multicast():
    """Multicast on loopback, whose groups are routed there."""
    subprocess.run(["ip", "link", "set", "lo", "multicast", "on"], check=True)
    subprocess.run(["ip", "route", "add", "224.0.0.0/4", "dev", "lo"], check=True)


def arv_tool(*args, timeout=30):
    """The independent peer's control tool run with ARGS: the ended process,
    with its output as text."""
    return subprocess.run(["arv-tool-0.8", *args], capture_output=True, text=True, timeout=timeout)
