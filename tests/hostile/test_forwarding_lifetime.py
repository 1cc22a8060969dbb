"""A Python sink dropped on one thread while the SDK calls it from others, as
fast as it can: no call reaches the sink once its destruction has begun,
neither its half-destroyed forwarding object nor its Python object being
deallocated (which an override that keeps its object, say in a queue of
events, would bring back to life only to have it freed under it). Runs in a
child process with a time limit."""

import pathlib
import signal
import subprocess
import sys

import pytest

from children import child_env

CHILD = pathlib.Path(__file__).resolve().with_name("forwarding_lifetime_child.py")


def test_sinks_dropped_while_called():
    env = child_env()
    try:
        done = subprocess.run([sys.executable, str(CHILD), "3"], capture_output=True, text=True, timeout=120,
                              env=env)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"no end within 120 s\n{(expired.stderr or b'')[-2000:]}")
    status = done.returncode
    assert status == 0, (f"crash ({signal.Signals(-status).name})" if status < 0 else f"exit status {status}") + \
        "\n" + done.stderr[-3000:]
    rounds, late = map(int, done.stdout.split())
    assert rounds > 100
    assert late == 0, f"{late} calls reached sinks being destroyed\n{done.stdout}"
    assert "In method" not in done.stdout
