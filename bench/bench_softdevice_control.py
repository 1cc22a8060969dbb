"""A register read by a client over the control channel, round trip in
microseconds: the software device (libTnSoftDeviceGEV) serving a feature of
its own, without and with a register sink on its register, beside the same
read from the independent peer's fake camera, in one run in a network
namespace of its own. The clients: aravis's own (arv_bench_device, with its
register cache off) and ours (libTnDevice, its cache invalidated before each
read); each also writes the feature, whose figure is printed too.

Needs Debian's libaravis-dev for the aravis client
(scripts/apt-bench-packages.txt); without it only our client's figures are
printed."""

import pathlib

from peer import FAKE_CAMERA, run_in_namespace

ROUNDS = 2000
REPETITIONS = 5
ROOT = pathlib.Path(__file__).resolve().parent.parent / "build" / "sdk"

PROGRAM = f'''
import os, statistics, subprocess, time
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
bench = "{ROOT / 'transmitter' / 'tn_bench_softdevice'}"
peers = [("aravis fake camera", ["{FAKE_CAMERA}", "-i", "127.0.0.1", "-s", "BENCH1"], "Width"),
         ("software device", [bench, "serve"], "BenchValue"),
         ("software device + sink", [bench, "serve", "--sink"], "BenchValue")]
clients = [("aravis", "{ROOT / 'device' / 'arv_bench_device'}"), ("libTnDevice", "{ROOT / 'device' / 'tn_bench_device'}")]
# As fastcam's bench.sh places sender and receiver: the device on CPU 0, the
# client on CPU 1 (bench_device.py shows what an unpinned placement does).
pin = (lambda cpu: ["taskset", "-c", cpu]) if os.cpu_count() >= 2 else (lambda cpu: [])
figures = {{}}
for repetition in range({REPETITIONS}):
    for peer, command, feature in peers:
        server = subprocess.Popen(pin("0") + command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.8)
        try:
            for client, program in clients:
                if not os.path.exists(program):
                    continue
                done = subprocess.run(pin("1") + [program, "127.0.0.1", feature, "{ROUNDS}"], capture_output=True,
                                      text=True)
                if done.returncode != 0:
                    print(f"{{client}} on {{peer}}: failed: {{done.stderr.strip()}}")
                    continue
                values = dict(item.split("=") for item in done.stdout.split())
                figures.setdefault((client, peer), []).append(
                    (float(values["read_us"]), float(values["write_us"]), float(values["read_cpu_us"])))
        finally:
            server.terminate()
            server.wait()
        time.sleep(0.3)
print(f"{{'client':12s}} {{'device':24s}} {{'read us':>8s}} {{'cpu us':>7s}} {{'write us':>9s}}   "
      f"(median of {REPETITIONS} runs of {ROUNDS}; the client's CPU time per read; "
      f"load average {{' '.join(f'{{value:.2f}}' for value in os.getloadavg())}})")
for (client, peer), runs in figures.items():
    read, write, cpu = (statistics.median(r[index] for r in runs) for index in range(3))
    print(f"{{client:12s}} {{peer:24s}} {{read:8.1f}} {{cpu:7.1f}} {{write:9.1f}}")
'''


def main():
    run_in_namespace(PROGRAM)


if __name__ == "__main__":
    main()
