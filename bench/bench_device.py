"""An uncached integer feature read and a feature write over the GigE Vision
control channel, against the independent peer's fake camera in a network
namespace of its own: our controller (libTnDevice) beside aravis's own
client doing the same in the same run, in microseconds per operation.

Both clients read Width with nothing cached (ours invalidates its cache
before each read, aravis runs with its register cache disabled) and write it.
The aravis side needs Debian's libaravis-dev (scripts/apt-bench-packages.txt);
without it only our figures are printed."""

import pathlib

from peer import FAKE_CAMERA, run_in_namespace

ROUNDS = 2000
REPETITIONS = 7
BUILD = pathlib.Path(__file__).resolve().parent.parent / "build" / "sdk" / "device"

PROGRAM = f'''
import os, statistics, subprocess, time
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
camera = subprocess.Popen(["{FAKE_CAMERA}", "-i", "127.0.0.1", "-s", "BENCH1"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
time.sleep(1.0)
clients = [("libTnDevice", "{BUILD / 'tn_bench_device'}"), ("aravis", "{BUILD / 'arv_bench_device'}")]
figures = {{name: [] for name, _ in clients}}
try:
    # Alternating runs, so that both clients meet the same load of this
    # shared machine; each run is a fresh controller.
    for repetition in range({REPETITIONS}):
        for name, program in clients:
            if not os.path.exists(program):
                continue
            done = subprocess.run([program, "127.0.0.1", "Width", "{ROUNDS}"], capture_output=True, text=True)
            if done.returncode != 0:
                print(f"{{name}}: failed: {{done.stderr.strip()}}")
                continue
            read, write, _ = done.stdout.split()
            figures[name].append((float(read), float(write)))
            time.sleep(0.3)
finally:
    camera.kill()
for name, program in clients:
    runs = figures[name]
    if not runs:
        print(f"{{name:11s}}: " + ("no figures" if os.path.exists(program) else "not built"))
        continue
    read = statistics.median(run[0] for run in runs)
    write = statistics.median(run[1] for run in runs)
    print(f"{{name:11s}}: Width read {{read:6.1f}} us/read, write {{write:6.1f}} us/write "
          f"(median of {{len(runs)}} runs of {ROUNDS})")
'''


def main():
    run_in_namespace(PROGRAM)


if __name__ == "__main__":
    main()
