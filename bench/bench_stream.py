"""The receive module's GigE Vision stream from Python, in fastcam's bench.sh
(a private network namespace, root needed), its RX_CMD slot holding
bench/rx_python.py beside iperf3's UDP ceiling and aravis's receivers
measured in the same run. 4096x3072 Mono8, RPS=1 (lo's receive processing on
the receiver's core, as on a host whose NIC interrupts land there). Our
receiver runs with each data receiver in turn (BENCH_STREAM_RECEIVERS,
"Automatic PacketRing UserMode": the automatic choice, which takes the packet
ring at 1500 and the socket for jumbo packets, the packet ring, the SDK's
network driver, and the UDP socket), one bench.sh run each, the references in
the first; one table per part then holds them all:

1. unpaced: packet sizes 9000 and 1500, fastcam as fast as it can send (at
   1500 more than one core takes: the ring sheds whole frames);
2. paced: fastcam at each of BENCH_STREAM_PACED_RATES ("40 80 100" frames/s,
   about 4, 8 and 10 Gb/s), packet sizes 9000 and 1500 at the first rate and
   1500 at the others, BENCH_STREAM_PACED_RUNS times (1);
3. sustained: 125 MB/s (one Gigabit Ethernet line, 9.93 frames/s) for 60 s;
4. latency: the delay from a completed block to the Python sink's
   OnBufferReady, median and 99th percentile, at 40 frames/s, beside the
   same delay to a Python thread waiting in the stream's RetrieveBuffer
   (no pipeline) in a second run;
5. cores: aravis's packet-socket receiver in the same slot, so that both
   get the CPU time of the receiver's whole core beside their own (a packet
   socket's copy runs in softirq, which the process is not always charged
   for): unpaced at 9000 and 1500, and paced at 40 frames/s at 9000 and
   1500.

Our receiver always runs under bench/rx_cpu.py, which adds the core's busy
time per frame (core_cpu_ms_per_frame) to its RESULT line; the table shows it
as "core ms/frame".

Parts 1 to 3 receive by queueing buffers by hand, or through a pipeline with
BENCH_STREAM_PIPELINE=1; part 4 through a pipeline, then by hand. Settings:
BENCH_STREAM_PARTS ("unpaced paced sustained latency cores"), BENCH_STREAM_DURATION
(10 s; the sustained part always 60 s), BENCH_STREAM_MODULES (the folder of the
Python modules to measure, default the build's; another build's to compare)."""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
BUILD = ROOT / "build"
FASTCAM = BUILD / "sdk" / "gev" / "tools" / "fastcam"
FASTCAM_DIRS = [ROOT.parent / "shared" / "tools" / "fastcam", ROOT.parent.parent / "shared" / "tools" / "fastcam"]

PARTS = os.environ.get("BENCH_STREAM_PARTS", "unpaced paced sustained latency cores").split()
DURATION = os.environ.get("BENCH_STREAM_DURATION", "10")
PIPELINE = os.environ.get("BENCH_STREAM_PIPELINE", "") == "1"
MODULES = os.environ.get("BENCH_STREAM_MODULES", str(BUILD / "python"))
RECEIVERS = os.environ.get("BENCH_STREAM_RECEIVERS", "Automatic PacketRing UserMode").split()
PACED_RUNS = int(os.environ.get("BENCH_STREAM_PACED_RUNS", "1"))
PACED_RATES = os.environ.get("BENCH_STREAM_PACED_RATES", "40 80 100").split()
LABELS = {"PacketRing": "ring", "UserMode": "user", "Automatic": "auto"}

# part: bench.sh settings
SETTINGS = {
    "unpaced": dict(RATE="0", PACKET_SIZES="9000 1500", DURATION=DURATION),
    **{f"paced-{rate}": dict(RATE=rate, PACKET_SIZES="9000 1500" if index == 0 else "1500", DURATION=DURATION,
                             ARAVIS_UDP_ARGS="") for index, rate in enumerate(PACED_RATES)},
    "sustained": dict(RATE="9.93", PACKET_SIZES="9000", DURATION="60", SKIP_IPERF="1", ARAVIS_UDP_ARGS=""),
    "latency": dict(RATE="40", PACKET_SIZES="9000", DURATION=DURATION, SKIP_IPERF="1", SKIP_ARAVIS="1"),
    "latency-retrieve": dict(RATE="40", PACKET_SIZES="9000", DURATION=DURATION, SKIP_IPERF="1", SKIP_ARAVIS="1"),
    "cores": dict(RATE="0", PACKET_SIZES="9000 1500", DURATION=DURATION, SKIP_IPERF="1", SKIP_ARAVIS="1"),
    "cores-paced": dict(RATE="40", PACKET_SIZES="9000 1500", DURATION=DURATION, SKIP_IPERF="1", SKIP_ARAVIS="1"),
}
# Parts that put aravis's packet-socket receiver into the slot instead of ours.
ARAVIS_IN_SLOT = {"cores", "cores-paced"}


def receiver_command(pipeline, receiver):
    command = f"PYTHONPATH={MODULES} {sys.executable} {HERE / 'rx_cpu.py'} -- " \
              f"{sys.executable} {HERE / 'rx_python.py'} --receiver {receiver}"
    return command + (" --pipeline" if pipeline else "")


def aravis_command(bench_sh):
    """aravis_rx.py under rx_cpu.py, with a python3 that has aravis's binding."""
    candidates = [os.environ.get("PYTHON"), "/usr/bin/python3", shutil.which("python3")]
    probe = "import gi; gi.require_version('Aravis', '0.8'); from gi.repository import Aravis"
    python = next((c for c in candidates if c and subprocess.run([c, "-c", probe], capture_output=True).returncode == 0),
                  "python3")
    return f"{sys.executable} {HERE / 'rx_cpu.py'} -- {python} {bench_sh.parent / 'aravis_rx.py'} -q --verify"


def result_fields(line):
    return dict(item.split("=", 1) for item in line.split()[1:] if "=" in item)


def print_table(title, runs):
    """One table of the rows of every bench.sh run of a part (the first run's
    iperf3 rows are the ceiling), with the receiver's core time per frame
    where rx_cpu.py measured it."""
    rows = []
    for work in runs:
        cores = {}
        for out in pathlib.Path(work).glob("rx-*.out"):
            line = [entry for entry in out.read_text().splitlines() if entry.startswith("RESULT ")]
            fields = result_fields(line[-1]) if line else {}
            cores[out.stem[3:]] = fields.get("core_cpu_ms_per_frame", "")
        table = pathlib.Path(work, "rows.tsv")
        for row in (table.read_text().splitlines() if table.exists() else []):
            cells = row.split("\t")
            if len(cells) >= 8:
                rows.append(cells + [cores.get(f"{cells[0]}-{cells[1]}", "")])
    ceiling = {}
    for cells in rows:
        if cells[0] == "iperf3 UDP":
            try:
                ceiling[int(cells[1])] = float(cells[3])
            except ValueError:
                pass
    head = ["receiver", "packet", "frames/s", "Gb/s", "x iperf3", "failed", "CPU ms/frame", "core ms/frame",
            "rx CPU %", "sent Gb/s"]
    table = [head]
    for cells in rows:
        iperf = cells[0] == "iperf3 UDP"
        datagram = int(cells[1]) if iperf else int(cells[1]) - 28
        try:
            ratio = f"{float(cells[3]) / ceiling[datagram]:.2f}"
        except (KeyError, ValueError, ZeroDivisionError):
            ratio = "-"
        label = f"{cells[1]} B dgram" if iperf else f"SCPS {cells[1]}"
        table.append([cells[0], label, cells[2], cells[3], ratio, cells[4], cells[5], cells[-1] or "-", cells[6],
                      cells[7]])
    widths = [max(len(row[index]) for row in table) for index in range(len(head))]
    print(title)
    for row in table:
        print("  " + "  ".join(cell.ljust(widths[index]) if index == 0 else cell.rjust(widths[index])
                               for index, cell in enumerate(row)))


def main():
    if os.geteuid() != 0 or subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        print("skipped: needs root for network namespaces, taskset and RPS")
        return
    bench_sh = next((d / "bench.sh" for d in FASTCAM_DIRS if (d / "bench.sh").exists()), None)
    if not FASTCAM.exists() or bench_sh is None:
        print("skipped: build the tools (make build) with fastcam's sources beside the checkout")
        return
    follow = {"cores": ("cores", "cores-paced"), "latency": ("latency", "latency-retrieve"),
              "paced": tuple(f"paced-{rate}" for rate in PACED_RATES)}
    parts = [name for part in PARTS for name in follow.get(part, (part,))]
    for part in parts:
        pipeline = PIPELINE or part == "latency"
        # Who takes the slot, one bench.sh run each: aravis's packet socket, or
        # ours with each data receiver.
        if part in ARAVIS_IN_SLOT:
            slots = [("aravis-gi (core)", aravis_command(bench_sh))]
        else:
            name = "tarn python" + (" (pipeline)" if pipeline else "")
            slots = [(f"{name} {LABELS.get(receiver, receiver)}", receiver_command(pipeline, receiver))
                     for receiver in RECEIVERS]
        for repeat in range(PACED_RUNS if part.startswith("paced") else 1):
            runs = []
            load = " ".join(f"{value:.2f}" for value in os.getloadavg())
            for index, (name, command) in enumerate(slots):
                work = tempfile.mkdtemp(prefix=f"bench-stream-{part}-")
                runs.append(work)
                env = dict(os.environ, RPS="1", FASTCAM=str(FASTCAM), WORK=work, SKIP_ARV_TEST="1", RX_NAME=name,
                           RX_CMD=command)
                env.update(SETTINGS[part])
                if index > 0:
                    env.update(SKIP_IPERF="1", SKIP_ARAVIS="1")  # the references once, in the first run
                if shutil.which("iperf3") is None:
                    env["SKIP_IPERF"] = "1"
                print(f"== {part}{f' run {repeat + 1}' if PACED_RUNS > 1 and part.startswith('paced') else ''}: "
                      f"{name}, RATE={env['RATE']} packet sizes {env['PACKET_SIZES']}, {env['DURATION']} s; "
                      f"load average {' '.join(f'{value:.2f}' for value in os.getloadavg())}", flush=True)
                subprocess.run(["bash", str(bench_sh)], env=env, check=False)
                for out in sorted(pathlib.Path(work).glob("rx-*.out")):
                    text = out.read_text().splitlines()
                    line = [entry for entry in text if entry.startswith("RESULT ")]
                    print("\n".join(f"  {out.stem}: {entry}" for entry in text if entry.startswith("rx_python: ")))
                    core = re.findall(r"core_(cpu_ms_per_frame|busy_pct|softirq_pct)=([0-9.na]+)", line[-1]) if line else []
                    if core:
                        print(f"  {out.stem}: receiver's core: " + ", ".join(f"{key} {value}" for key, value in core))
                    delays = re.findall(r"latency_(median|p99)_us=([0-9.]+)", line[-1]) if line else []
                    if delays:
                        print(f"  {out.stem}: completed block to "
                              f"{'OnBufferReady' if 'pipeline' in out.stem else 'the return of RetrieveBuffer'}: "
                              + ", ".join(f"{key} {value} us" for key, value in delays))
            print()
            title = f"paced {part[6:]} frames/s" if part.startswith("paced-") else part
            print_table(f"{title}: every receiver of this part, load average {load} before and "
                        f"{' '.join(f'{value:.2f}' for value in os.getloadavg())} after", runs)
            print("  core ms/frame: busy time of the receiver's whole core per good frame (rx_cpu.py); CPU ms/frame: "
                  "the process's own", flush=True)
            for work in runs:
                shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
