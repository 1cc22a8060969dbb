"""Running the tests' child programs: each finds the modules, the test hooks
and the figures tool as the tests do."""

import json
import os
import re
import subprocess
import sys


def child_env(extra=None):
    """The environment of a child program: this one's, with the tests' module
    path as PYTHONPATH, and EXTRA's variables."""
    path = os.pathsep.join(os.path.abspath(p) for p in sys.path if p)
    return {**os.environ, "PYTHONPATH": path, **(extra or {})}


def run_child(argv, env=None, timeout=60):
    """Runs ARGV (a child program, which starts by importing child.py) with
    ENV's variables added, and checks that it ended well: the dict `out` it
    filled, with what it printed under "stdout"."""
    done = subprocess.run(argv, capture_output=True, text=True, timeout=timeout, env=child_env(env))
    lines = [line for line in done.stdout.splitlines() if line.startswith("RESULT ")]
    assert done.returncode == 0 and lines, done.stdout + done.stderr
    out = json.loads(lines[-1][len("RESULT "):])
    out["stdout"] = done.stdout
    return out


def few_failed_and_counted(printed):
    """Whether the demonstration's frames came whole but for a few, each
    counted by the stream: the fake camera ignores resend requests, and on a
    loaded machine loopback may lose a datagram now and then."""
    failed = re.search(r"received \d+ frames in .*, (\d+) failed", printed)
    counted = re.search(r"BlocksFailed (\d+)", printed)
    return failed is not None and counted is not None and int(failed[1]) <= 2 and \
        int(counted[1]) >= int(failed[1])
