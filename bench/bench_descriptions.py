"""Loading a hostile GenICam description beside a real one: each description
of tests/hostile/hostile_descriptions.py, and the corpus's largest served
plain and zipped, is served by the hostile camera on loopback and loaded by
a controller's Connect, one process each in a private network namespace
(root needed for `unshare -n`), under an address-space limit of 4 GB. Per
description: the bytes served, the result, the time of the Connect (which
includes reading the description from the camera) and the process's peak
resident memory during it above what it held before. The engine's own load
of the corpus's largest from a file is the last row."""

import os
import pathlib
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "build" / "python"), str(ROOT / "build" / "tests" / "python"),
                str(ROOT / "tests" / "hostile"), str(ROOT / "tests" / "genicam")]

LIMIT = 4_000_000_000

# One description's load, in a process of its own: PROGRAM FILE ZIPPED|PLAIN|ENGINE.
PROGRAM = r"""
import sys, time
sys.path[:0] = sys.argv[4].split(":")
import tarn_base_313
import tarn_receive_313 as rx
import tn_testhooks as hooks
from hostile_camera import AREA, HostileCamera

def kilobytes(field):
    for line in open("/proc/self/status"):
        if line.startswith(field + ":"):
            return int(line.split()[1])

path, how = sys.argv[1], sys.argv[2]
data = open(path, "rb").read()
camera = None
if how != "ENGINE":
    name = "served.zip" if how == "ZIPPED" else "served.xml"
    camera = HostileCamera(data, url=f"Local:{name};{AREA:x};{len(data):x}")
device = rx.TnDeviceGEV()
before = kilobytes("VmRSS")
with open("/proc/self/clear_refs", "w") as peak:
    peak.write("5")  # the peak starts again from here
start = time.perf_counter()
if how == "ENGINE":
    code = "OK" if hooks.LoadZeroParameterArray(path) is not None else "refused"
    description = ""
else:
    result = device.Connect("127.0.0.1")
    code, description = result.GetCodeString(), result.GetDescription()
seconds = time.perf_counter() - start
growth = (kilobytes("VmHWM") - before) / 1024
print(f"{code}\t{seconds:.3f}\t{growth:.1f}\t{description[:60]}")
"""


def load_average():
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


def one(path, how):
    run = subprocess.run(
        ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$0" "$@"', "prlimit", f"--as={LIMIT}",
         sys.executable, "-c", PROGRAM, str(path), how, "", os.pathsep.join(sys.path[:4])],
        capture_output=True, text=True, timeout=600)
    lines = [line for line in run.stdout.splitlines() if "\t" in line]
    return lines[-1].split("\t") if lines else ["died", "", "", run.stderr.strip().splitlines()[-1:]]


def main():
    if subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode != 0:
        print("bench_descriptions: needs a private network namespace (unshare -n, as root)")
        return
    from corpus import corpus_directory
    from hostile_camera import zipped
    from hostile_descriptions import DESCRIPTIONS

    print(f"load average before: {load_average()}")
    with tempfile.TemporaryDirectory() as folder:
        rows = []
        for name, make in DESCRIPTIONS.items():
            data, packed = make()
            served = zipped(data) if packed else data
            path = pathlib.Path(folder, "served")
            path.write_bytes(served)
            rows.append((name, len(served), one(path, "ZIPPED" if packed else "PLAIN")))
        files = sorted(corpus_directory().glob("*.xml"), key=lambda file: file.stat().st_size)
        if files:
            largest = files[-1]
            path = pathlib.Path(folder, "largest.zip")
            path.write_bytes(zipped(largest.read_bytes(), largest.name))
            rows.append((f"{largest.name}, zipped", path.stat().st_size, one(path, "ZIPPED")))
            rows.append((f"{largest.name}, plain", largest.stat().st_size, one(largest, "PLAIN")))
            rows.append((f"{largest.name}, engine only", largest.stat().st_size, one(largest, "ENGINE")))
        print(f"{'description (one run each)':<40} {'served':>10} {'result':<18} {'s':>7} {'peak MB':>8}  why")
        for name, size, (code, seconds, growth, *why) in rows:
            print(f"{name:<40} {size:>10} {code:<18} {seconds:>7} {growth:>8}  {''.join(map(str, why))}")
    print(f"load average after: {load_average()}")


if __name__ == "__main__":
    main()
