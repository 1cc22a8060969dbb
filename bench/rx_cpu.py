"""Runs a receiver command for fastcam's bench.sh (its RX_CMD slot) and adds
the CPU time of the receiver's whole core to its RESULT line, beside the
process's own.

    python3 bench/rx_cpu.py [--cpu N] -- COMMAND [ARGS...]

A process's CPU time (getrusage) does not show all the work done for it:
the kernel's receive processing (softirq: IP and UDP delivery, a packet
socket's copy into its ring) is charged to whatever task runs on the core
when it happens, which is the receiver when it is busy and nobody when it
sleeps. The core's busy time (/proc/stat: user, nice, system, irq, softirq,
steal) over a window in the middle of the run counts everything that ran
there, whoever was charged. With the receiver pinned to its own core (as
bench.sh does) that is the receiver's full cost, comparable between a UDP
socket and a packet socket.

Appended to the child's RESULT line:
  core_cpu_ms_per_frame  busy time of the core per good frame
  core_busy_pct          the core's busy share in the window
  core_softirq_pct       of which softirq
The window is from --skip seconds after the start to --skip before the
child's FASTCAM_DURATION ends; frames in it are counted at the child's
average rate (frames / seconds of its RESULT line)."""

import argparse
import os
import subprocess
import sys
import threading
import time

BUSY = ("user", "nice", "system", "irq", "softirq", "steal")
FIELDS = ("user", "nice", "system", "idle", "iowait", "irq", "softirq", "steal")


def core_times(cpu):
    with open("/proc/stat") as stat:
        for line in stat:
            parts = line.split()
            if parts[0] == f"cpu{cpu}":
                ticks = dict(zip(FIELDS, map(int, parts[1:1 + len(FIELDS)])))
                return {name: value / os.sysconf("SC_CLK_TCK") for name, value in ticks.items()}
    raise SystemExit(f"rx_cpu: no cpu{cpu} in /proc/stat")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cpu", type=int, default=None, help="the receiver's core (default: the one it runs on)")
    parser.add_argument("--skip", type=float, default=2.0, help="seconds left out at each end")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    cpu = args.cpu if args.cpu is not None else min(os.sched_getaffinity(0))
    duration = float(os.environ.get("FASTCAM_DURATION", "10"))
    window = duration - 2 * args.skip + 1.0  # the child's window starts about 1 s after the start
    samples = {}

    def sample():
        time.sleep(args.skip)
        samples["start"] = (time.monotonic(), core_times(cpu))
        time.sleep(max(window, 0.5))
        samples["end"] = (time.monotonic(), core_times(cpu))

    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()
    child = subprocess.run(command, stdout=subprocess.PIPE, text=True)
    sampler.join(timeout=0)
    out = child.stdout.splitlines()
    result = [index for index, line in enumerate(out) if line.startswith("RESULT ")]
    if result and "start" in samples and "end" in samples:
        (t0, a), (t1, b) = samples["start"], samples["end"]
        kv = dict(item.split("=", 1) for item in out[result[-1]].split()[1:] if "=" in item)
        fps = float(kv.get("frames", 0)) / float(kv.get("seconds", 0) or 1)
        busy = sum(b[name] - a[name] for name in BUSY)
        softirq = b["softirq"] - a["softirq"]
        span = t1 - t0
        per_frame = busy / (fps * span) * 1000 if fps > 0 else float("nan")
        out[result[-1]] += (f" core_cpu_ms_per_frame={per_frame:.2f} core_busy_pct={busy / span * 100:.0f}"
                            f" core_softirq_pct={softirq / span * 100:.0f}")
    elif result:
        out[result[-1]] += " core_cpu_ms_per_frame=nan"
    print("\n".join(out), flush=True)
    return child.returncode


if __name__ == "__main__":
    sys.exit(main())
