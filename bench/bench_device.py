"""An uncached integer feature read and a feature write over the GigE Vision
control channel, against the independent peer's fake camera in a network
namespace of its own: from Python through the receive module, our SDK's
controller alone (libTnDevice, bench/device_bench.cpp), and aravis's own
client (bench/aravis_bench.c), all in the same run.

Every client reads Width with nothing cached (ours invalidates the feature
array's cache before each read; from Python that is one more call, counted
in the figure; aravis runs with its register cache disabled) and writes it.
Per operation, each client reports (bench_probe.h, and the same here in
Python):

  us         wall time
  cpu        its process's CPU time (all its threads): near the wall time
             for a client that waits busily, far under it for one that sleeps
  sleeps     voluntary context switches: 1 for a client that sleeps once per
             round trip, 0 for one that never does
  preempt    involuntary ones: the core was taken from the client, as when
             the camera is woken on the client's core and runs at once
  datagrams  UDP datagrams received in the namespace: 2 for one round trip
             (the command and its answer)

A round trip's time is mostly two wake-ups (the camera's, then the
client's), and what a wake-up costs depends on where the two processes run:
on one core it is a switch between them; on two, an idle core has to wake
up first, which on a virtual machine takes tens of microseconds more. So
the clients are compared under the same placements, each printed with its
own rows:

  split     the camera on CPU 0, the client on CPU 1 (fastcam's bench.sh
            places sender and receiver so): every round trip wakes the other
            core. The placement to compare clients by.
  shared    camera and client on CPU 1: no core wakes, only switches.
  free      no pinning: the scheduler's choice, which differs from process
            to process (one figure of an earlier run came out 4 times faster
            than the others because its client happened to share the
            camera's core).

Settings: BENCH_DEVICE_PLACEMENTS ("split shared free"), BENCH_DEVICE_ROUNDS
(2000), BENCH_DEVICE_REPETITIONS (5). The aravis client needs Debian's
libaravis-dev (scripts/apt-bench-packages.txt, installed by `make bench`);
without it only our figures are printed."""

import os
import pathlib

from peer import FAKE_CAMERA, run_in_namespace

ROUNDS = int(os.environ.get("BENCH_DEVICE_ROUNDS", "2000"))
REPETITIONS = int(os.environ.get("BENCH_DEVICE_REPETITIONS", "5"))
PLACEMENTS = os.environ.get("BENCH_DEVICE_PLACEMENTS", "split shared free").split()
ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "sdk" / "device"

# The receive module's client: one run of ROUNDS reads and writes, in blocks
# that alternate as the C programs' do; prints what bench_probe.h prints.
PYTHON_CLIENT = '''
import resource, sys, time
import tarn_receive_313 as rx

def datagrams():
    with open("/proc/net/snmp") as snmp:
        lines = [line.split() for line in snmp if line.startswith("Udp: ")]
    return float(lines[1][1])

def usage():
    own = resource.getrusage(resource.RUSAGE_SELF)
    return own.ru_utime + own.ru_stime, own.ru_nvcsw, own.ru_nivcsw

def begin():
    count = datagrams()
    return (time.perf_counter(),) + usage() + (count,)

def end():
    wall = time.perf_counter()
    return (wall,) + usage() + (datagrams(),)

def add(total, start, stop):
    for index in range(5):
        total[index] += stop[index] - start[index]

rounds = int(sys.argv[1])
device = rx.TnDeviceGEV()
assert device.Connect("127.0.0.1").IsOK()
features = device.GetParameters()
width = features.Get("Width")
invalidate, read, write = features.InvalidateCache, width.GetValue, width.SetValue
block, done = 100, 0
reading, writing = [0.0] * 5, [0.0] * 5
while done < rounds:
    start = begin()
    for _ in range(block):
        invalidate()
        result, value = read()
    add(reading, start, end())
    start = begin()
    for n in range(block):
        write(256 if n % 2 == 0 else 512)
    add(writing, start, end())
    done += block
print(" ".join(f"{name}_us={total[0] / done * 1e6:.2f} {name}_cpu_us={total[1] / done * 1e6:.2f} "
               f"{name}_sleeps={total[2] / done:.3f} {name}_preempted={total[3] / done:.3f} "
               f"{name}_datagrams={total[4] / done:.3f}"
               for name, total in (("read", reading), ("write", writing))))
device.Disconnect()
'''

PROGRAM = f'''
import os, statistics, subprocess, sys, time
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
clients = [
    ("receive module (Python)", [sys.executable, "-c", {PYTHON_CLIENT!r}, "{ROUNDS}"]),
    ("libTnDevice (C++)", ["{BUILD / 'tn_bench_device'}", "127.0.0.1", "Width", "{ROUNDS}"]),
    ("aravis (C)", ["{BUILD / 'arv_bench_device'}", "127.0.0.1", "Width", "{ROUNDS}"]),
]
# placement: (camera's CPU, client's CPU), None for no pinning
placements = {{"split": ("0", "1"), "shared": ("1", "1"), "free": (None, None)}}
two_cores = os.cpu_count() >= 2

def pinned(cpu, command):
    return (["taskset", "-c", cpu] if cpu is not None and two_cores else []) + command

def load():
    return " ".join(f"{{value:.2f}}" for value in os.getloadavg())

for placement in {PLACEMENTS!r}:
    camera_cpu, client_cpu = placements[placement]
    print(f"-- {{placement}}: camera on CPU {{camera_cpu or 'any'}}, client on CPU {{client_cpu or 'any'}}; "
          f"load average {{load()}}", flush=True)
    camera = subprocess.Popen(pinned(camera_cpu, ["{FAKE_CAMERA}", "-i", "127.0.0.1", "-s", "BENCH1"]),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    figures = {{name: [] for name, _ in clients}}
    try:
        # Alternating runs, so that every client meets the same load of this
        # shared machine; each run is a fresh controller.
        for repetition in range({REPETITIONS}):
            for name, command in clients:
                if not os.path.exists(command[0]):
                    continue
                done = subprocess.run(pinned(client_cpu, command), capture_output=True, text=True)
                if done.returncode != 0:
                    print(f"{{name}}: failed: {{done.stderr.strip()[-300:]}}")
                    continue
                figures[name].append(dict((key, float(value)) for key, value in
                                          (item.split("=") for item in done.stdout.split())))
                time.sleep(0.2)
    finally:
        camera.kill()
        camera.wait()
    heads = " ".join(f"{{head:>{{width}}s}}" for head, width in (("cpu", 6), ("sleeps", 6), ("preempt", 7), ("dgrams", 6)))
    print(f"   {{'client':24s}} {{'read us':>8s}} {{heads}}   {{'write us':>8s}} {{heads}}   best read/write us")
    for name, command in clients:
        runs = figures[name]
        if not runs:
            print(f"   {{name:24s}} " + ("no figures" if os.path.exists(command[0]) else "not built"))
            continue
        # The median, and the best run: on a machine shared with other work
        # the best run is nearest the client's own cost.
        median = {{key: statistics.median(run[key] for run in runs) for key in runs[0]}}
        columns = "   ".join(" ".join(f"{{median[f'{{op}}_{{key}}']:{{width}}}}" for key, width in
                                      (("us", "8.1f"), ("cpu_us", "6.1f"), ("sleeps", "6.2f"),
                                       ("preempted", "7.2f"), ("datagrams", "6.2f")))
                             for op in ("read", "write"))
        best = min(runs, key=lambda run: run["read_us"])
        print(f"   {{name:24s}} {{columns}}   {{best['read_us']:.1f}} / {{min(run['write_us'] for run in runs):.1f}}")
    print(f"   (median of {REPETITIONS} runs of {ROUNDS}; load average after {{load()}})", flush=True)
'''


def main():
    # The receive module of this build tree, as the tests find it.
    path = [str(ROOT / "build" / "python")] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    os.environ["PYTHONPATH"] = os.pathsep.join(path)
    run_in_namespace(PROGRAM)


if __name__ == "__main__":
    main()
