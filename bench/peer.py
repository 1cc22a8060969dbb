"""Runs a benchmark program in a network namespace of its own, where the
independent peer's fake camera can be started on loopback."""

import shutil
import subprocess
import sys

FAKE_CAMERA = "arv-fake-gv-camera-0.8"


def run_in_namespace(program):
    """Runs the Python text `program` under `unshare -n`; says why not when
    namespaces or the fake camera are missing."""
    if shutil.which(FAKE_CAMERA) is None or subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        print("skipped: needs network namespaces and", FAKE_CAMERA)
        return
    subprocess.run(["unshare", "-n", sys.executable, "-c", program], check=True)
