"""An uncached integer feature read and a feature write over the GigE Vision
control channel, against the independent peer's fake camera in a network
namespace of its own: from Python through the receive module, our SDK's
controller alone (libTnDevice), and aravis's own client, all in the same run,
in microseconds per operation.

Every client reads Width with nothing cached (ours invalidates the feature
array's cache before each read; from Python that is one more call, counted
in the figure; aravis runs with its register cache disabled) and writes it.
The aravis side needs Debian's libaravis-dev (scripts/apt-bench-packages.txt);
without it only our figures are printed."""

import os
import pathlib

from peer import FAKE_CAMERA, run_in_namespace

ROUNDS = 2000
REPETITIONS = 7
ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "sdk" / "device"

# The receive module's client: one run of ROUNDS reads and writes, in blocks
# that alternate as the C programs' do; prints "read write".
PYTHON_CLIENT = '''
import sys, time
import tarn_receive_313 as rx
rounds = int(sys.argv[1])
device = rx.TnDeviceGEV()
assert device.Connect("127.0.0.1").IsOK()
features = device.GetParameters()
width = features.Get("Width")
invalidate, read, write = features.InvalidateCache, width.GetValue, width.SetValue
block, done, reading, writing = 100, 0, 0.0, 0.0
while done < rounds:
    start = time.perf_counter()
    for _ in range(block):
        invalidate()
        result, value = read()
    reading += time.perf_counter() - start
    start = time.perf_counter()
    for n in range(block):
        write(256 if n % 2 == 0 else 512)
    writing += time.perf_counter() - start
    done += block
print(f"{reading / done * 1e6:.1f} {writing / done * 1e6:.1f}")
device.Disconnect()
'''

PROGRAM = f'''
import os, statistics, subprocess, sys, time
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
camera = subprocess.Popen(["{FAKE_CAMERA}", "-i", "127.0.0.1", "-s", "BENCH1"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
time.sleep(1.0)
clients = [
    ("receive module (Python)", [sys.executable, "-c", {PYTHON_CLIENT!r}, "{ROUNDS}"]),
    ("libTnDevice (C++)", ["{BUILD / 'tn_bench_device'}", "127.0.0.1", "Width", "{ROUNDS}"]),
    ("aravis (C)", ["{BUILD / 'arv_bench_device'}", "127.0.0.1", "Width", "{ROUNDS}"]),
]
figures = {{name: [] for name, _ in clients}}
try:
    # Alternating runs, so that every client meets the same load of this
    # shared machine; each run is a fresh controller.
    for repetition in range({REPETITIONS}):
        for name, command in clients:
            if not os.path.exists(command[0]):
                continue
            done = subprocess.run(command, capture_output=True, text=True)
            if done.returncode != 0:
                print(f"{{name}}: failed: {{done.stderr.strip()[-300:]}}")
                continue
            read, write = done.stdout.split()[:2]
            figures[name].append((float(read), float(write)))
            time.sleep(0.3)
finally:
    camera.kill()
for name, command in clients:
    runs = figures[name]
    if not runs:
        print(f"{{name:24s}}: " + ("no figures" if os.path.exists(command[0]) else "not built"))
        continue
    # The median, and the best run: on a machine shared with other work the
    # best run is the client's own cost.
    read = statistics.median(run[0] for run in runs)
    write = statistics.median(run[1] for run in runs)
    best = min(runs)
    print(f"{{name:24s}}: Width read {{read:6.1f}} us/read, write {{write:6.1f}} us/write "
          f"(median of {{len(runs)}} runs of {ROUNDS}; best run {{best[0]:.1f}} / {{best[1]:.1f}})")
'''


def main():
    # The receive module of this build tree, as the tests find it.
    path = [str(ROOT / "build" / "python")] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    os.environ["PYTHONPATH"] = os.pathsep.join(path)
    run_in_namespace(PROGRAM)


if __name__ == "__main__":
    main()
