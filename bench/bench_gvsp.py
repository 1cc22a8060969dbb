"""GigE Vision stream receive and send rates on loopback, in private network
namespaces (root needed):

1. fastcam's bench.sh, with the SDK's receive engine (tn_gvsp_receive) in its
   RX_CMD slot beside iperf3 and aravis's receivers: 4096x3072 Mono8, packet
   sizes 9000 and 1500, fastcam unpaced, RPS=1 (lo's receive processing on the
   receiver's core).
2. Senders: fastcam and the SDK's stream sender (tn_gvsp_send), each unpaced
   into the SDK's receiver, with the same placement; both sender rates side by
   side.

Settings: BENCH_GVSP_DURATION (10 s), BENCH_GVSP_PACKET_SIZES ("9000 1500"),
BENCH_GVSP_RATE (fastcam's frame rate for bench.sh, 0 = unpaced),
BENCH_GVSP_PARTS ("receive send"), BENCH_GVSP_RECEIVER (the engine's source:
"auto", the packet ring where it can be opened, "ring" or "socket").
"""

import os
import pathlib
import shutil
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
TOOLS = ROOT / "build" / "sdk" / "gev" / "tools"
FASTCAM_DIRS = [ROOT.parent / "shared" / "tools" / "fastcam", ROOT.parent.parent / "shared" / "tools" / "fastcam"]

DURATION = os.environ.get("BENCH_GVSP_DURATION", "10")
PACKET_SIZES = os.environ.get("BENCH_GVSP_PACKET_SIZES", "9000 1500")
RATE = os.environ.get("BENCH_GVSP_RATE", "0")
PARTS = os.environ.get("BENCH_GVSP_PARTS", "receive send").split()
RECEIVER = os.environ.get("BENCH_GVSP_RECEIVER", "auto")

SENDERS = r'''
import os, re, subprocess, sys, time
tools, duration, sizes = sys.argv[1], float(sys.argv[2]), sys.argv[3].split()
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
subprocess.run(["mount", "--make-rprivate", "/"], check=True)
subprocess.run(["mount", "-t", "sysfs", "sysfs", "/sys"], check=True)
open("/sys/class/net/lo/queues/rx-0/rps_cpus", "w").write("2")
on_sender, on_receiver = ["taskset", "-c", "0"], ["taskset", "-c", "1"]
receive = os.path.join(tools, "tn_gvsp_receive")

def fields(text):
    line = [l for l in text.splitlines() if l.startswith("RESULT ")]
    return dict(t.split("=", 1) for t in line[-1].split()[1:]) if line else {}

rows = []
for size in sizes:
    env = dict(os.environ, FASTCAM_ADDRESS="127.0.0.1", FASTCAM_WIDTH="4096", FASTCAM_HEIGHT="3072",
               FASTCAM_PIXEL_FORMAT="Mono8", FASTCAM_PACKET_SIZE=size, FASTCAM_DURATION=str(duration),
               FASTCAM_FRAMES="0")
    camera = subprocess.Popen(on_sender + [os.path.join(tools, "fastcam"), "-r", "0", "-s", "4096x3072", "-p", size],
                              stderr=subprocess.PIPE, text=True)
    time.sleep(0.5)
    out = subprocess.run(on_receiver + [receive, "--verify", "--coalesce-us", "100", "-q"], env=env, capture_output=True, text=True).stdout
    camera.terminate()
    log = camera.communicate()[1]
    sent = re.findall(r"stream stop: .*gbps=([0-9.]+)", log)
    rows.append(("fastcam", size, sent[-1] if sent else "-", fields(out)))

    listener = subprocess.Popen(on_receiver + [receive, "--listen", "50000", "-W", "4096", "-H", "3072", "--verify", "--coalesce-us", "100",
                                               "-q", "-d", str(duration + 5), "--idle-exit", "1"],
                                stdout=subprocess.PIPE, text=True)
    time.sleep(0.3)
    sender = subprocess.run(on_sender + [os.path.join(tools, "tn_gvsp_send"), "-t", "127.0.0.1:50000",
                                         "-s", "4096x3072", "-p", size, "-d", str(duration)],
                            capture_output=True, text=True)
    out = listener.communicate()[0]
    sent = re.findall(r"stream stop: .*gbps=([0-9.]+)", sender.stderr)
    rows.append(("tn_gvsp_send", size, sent[-1] if sent else "-", fields(out)))

print(f"Senders unpaced into tn_gvsp_receive, 4096x3072 Mono8, {duration:g} s per run; sender on CPU 0, "
      "receiver on CPU 1, lo receive processing (RPS) on CPU 1")
head = ("sender", "packet", "sent Gb/s", "rx frames/s", "rx Gb/s", "failed", "rx CPU ms/frame")
print("  ".join(f"{h:>15}" for h in head))
for name, size, sent, f in rows:
    secs = float(f.get("seconds", "0") or 0)
    frames = float(f.get("frames", "0") or 0)
    fps = frames / secs if secs else 0.0
    gbps = float(f.get("bytes", "0")) * 8 / secs / 1e9 if secs else 0.0
    cpu = float(f.get("cpu_s", "nan")) / frames * 1000 if frames else float("nan")
    print("  ".join(f"{v:>15}" for v in (name, f"SCPS {size}", sent, f"{fps:.1f}", f"{gbps:.2f}",
                                          f.get("failed", "-"), f"{cpu:.2f}")))
'''


def main():
    if os.geteuid() != 0 or subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        print("skipped: needs root for network namespaces, taskset and RPS")
        return
    receiver, fastcam = TOOLS / "tn_gvsp_receive", TOOLS / "fastcam"
    bench_sh = next((d / "bench.sh" for d in FASTCAM_DIRS if (d / "bench.sh").exists()), None)
    if not receiver.exists() or not fastcam.exists() or bench_sh is None:
        print("skipped: build the tools (make build) with fastcam's sources beside the checkout")
        return
    if "receive" in PARTS:
        env = dict(os.environ, DURATION=DURATION, PACKET_SIZES=PACKET_SIZES, RATE=RATE, RPS="1",
                   FASTCAM=str(fastcam), RX_NAME=f"tarn (tn_gvsp_receive, {RECEIVER})",
                   RX_CMD=f"{receiver} --verify --coalesce-us 100 --receiver {RECEIVER}")
        if shutil.which("iperf3") is None:
            env["SKIP_IPERF"] = "1"
        subprocess.run(["bash", str(bench_sh)], env=env, check=False)
    if "send" in PARTS:
        subprocess.run(["unshare", "-n", "-m", sys.executable, "-c", SENDERS, str(TOOLS), DURATION, PACKET_SIZES],
                       check=False)


if __name__ == "__main__":
    main()
