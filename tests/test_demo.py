"""`make demo`'s program, examples/demo.py, runs to its end with every road
it shows taken: discovery, the receive road and the transmit road (each in a
network namespace of its own)."""

import pathlib
import subprocess
import sys

import pytest

import netns
from children import child_env, few_failed_and_counted

DEMO = pathlib.Path(__file__).resolve().parents[1] / "examples" / "demo.py"


def test_the_demo_takes_every_road():
    if not netns.available():
        pytest.skip("network namespaces are not available here")
    done = subprocess.run([sys.executable, str(DEMO)], capture_output=True, text=True, timeout=180,
                          env=child_env())
    assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
    assert "skipped" not in done.stdout, done.stdout
    for line in ("search: OK, 1 interface(s), 1 device(s)", "the receive module finds it (OK)",
                 "the device's register holds 7", "aravis received frame"):
        assert line in done.stdout, done.stdout
    assert few_failed_and_counted(done.stdout), done.stdout
