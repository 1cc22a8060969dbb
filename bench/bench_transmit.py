"""The transmit road's senders on loopback, in a private network namespace
(root needed): the software device (libTnSoftDeviceGEV, a source that only
stamps each frame's id into a buffer holding the C test camera's pattern) and
the stream transmitter (libTnTransmitter) beside the C test camera (fastcam),
4096x3072 Mono8 at packet sizes 9000 and 1500, unpaced and paced to 40
frames/s (4.0 Gb/s), into aravis's GObject receiver (its packet socket) and
the SDK's receive engine (tn_gvsp_receive). Sender on CPU 0, receiver on CPU
1, lo's receive processing (RPS) on CPU 1, as fastcam's bench.sh places them.

fastcam runs with packet resend (-R), as the software device and the
transmitter serve it: receivers that lose packets ask both for them again.

Columns: what the sender sent over its run (Gb/s of frames), frames/s and
Gb/s the receiver got whole, failed frames (bad status,
missing ids, no buffer), and the sender's CPU per frame (its process's CPU
time over the receiver's window divided by the frames that reached the
receiver). Every received frame's pixels are checked against the pattern.
The transmitter has no control channel of its own, so only the SDK's
receiver (in listen mode) takes its stream.

Settings: BENCH_TX_DURATION (6 s), BENCH_TX_PACKET_SIZES ("9000 1500"),
BENCH_TX_RATES ("0 40").
"""

import os
import pathlib
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
BUILD = ROOT / "build" / "sdk"
FASTCAM_DIRS = [ROOT.parent / "shared" / "tools" / "fastcam", ROOT.parent.parent / "shared" / "tools" / "fastcam"]

PROGRAM = r'''
import os, re, subprocess, sys, time
receive, fastcam, bench, aravis_rx, duration, sizes, rates = sys.argv[1:8]
duration, sizes, rates = float(duration), sizes.split(), [float(r) for r in rates.split()]
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
subprocess.run(["mount", "--make-rprivate", "/"], check=True)
subprocess.run(["mount", "-t", "sysfs", "sysfs", "/sys"], check=True)
open("/sys/class/net/lo/queues/rx-0/rps_cpus", "w").write("2")
on_sender, on_receiver = ["taskset", "-c", "0"], ["taskset", "-c", "1"]
W, H = 4096, 3072
python = "/usr/bin/python3"
have_aravis = aravis_rx and subprocess.run([python, "-c", "import gi; gi.require_version('Aravis', '0.8')"],
                                           capture_output=True).returncode == 0

def cpu(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

def result(text):
    line = [l for l in text.splitlines() if l.startswith("RESULT ")]
    return dict(t.split("=", 1) for t in line[-1].split()[1:]) if line else {}

def receivers(size, soft):
    rx = [("tn_gvsp_receive", on_receiver + [receive, "-a", "127.0.0.1", "-W", str(W), "-H", str(H), "-p", size,
                                           "-d", str(duration), "-n", "0", "--verify", "--coalesce-us", "100", "-q"]
           + (["--soft-device"] if soft else []))]
    if have_aravis:
        rx.append(("aravis (packet socket)", on_receiver + [python, aravis_rx, "-a", "127.0.0.1", "-W", str(W),
                                                           "-H", str(H), "-p", size, "-d", str(duration),
                                                           "-n", "1000000", "--verify", "-q"]))
    return rx

def measure(sender, rx):
    start = cpu(sender.pid)
    out = subprocess.run(rx, capture_output=True, text=True).stdout
    used = cpu(sender.pid) - start
    return result(out), used

rows = []
for size in sizes:
    for rate in rates:
        for name, soft in (("fastcam", False), ("software device", True)):
            for rx_name, rx in receivers(size, soft):
                if soft:
                    sender = subprocess.Popen(on_sender + [bench, "stream", "-W", str(W), "-H", str(H),
                                                           "-r", str(rate)], stdout=subprocess.PIPE, text=True)
                else:
                    sender = subprocess.Popen(on_sender + [fastcam, "-R", "-r", str(rate), "-s", f"{W}x{H}", "-p", size],
                                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                time.sleep(0.7)
                fields, used = measure(sender, rx)
                sender.terminate()
                out, err = sender.communicate()
                # What the sender sent over its whole run, in Gb/s.
                if soft:
                    line = [l for l in (out or "").splitlines() if l.startswith("SENDER ")]
                    f = dict(t.split("=", 1) for t in line[-1].split()[1:]) if line else {}
                    secs = float(f.get("seconds", "0") or 0)
                    sent = float(f.get("frames", "0")) * W * H * 8 / secs / 1e9 if secs else float("nan")
                else:
                    found = re.findall(r"stream stop: .*gbps=([0-9.]+)", err or "")
                    sent = float(found[-1]) if found else float("nan")
                rows.append((name, rx_name, size, rate, fields, used, sent))
                time.sleep(0.3)
        port = "50400"
        listener = subprocess.Popen(on_receiver + [receive, "--listen", port, "-W", str(W), "-H", str(H), "--verify",
                                                   "--coalesce-us", "100", "-q", "-d", str(duration + 5),
                                                   "--idle-exit", "1"], stdout=subprocess.PIPE, text=True)
        time.sleep(0.3)
        sender = subprocess.Popen(on_sender + [bench, "transmit", port, "-W", str(W), "-H", str(H), "-p", size,
                                               "-d", str(duration), "-r", str(rate)], stdout=subprocess.PIPE, text=True)
        sent = sender.communicate()[0]
        fields = result(listener.communicate()[0])
        line = [l for l in sent.splitlines() if l.startswith("SENDER ")]
        f = dict(t.split("=", 1) for t in line[-1].split()[1:]) if line else {}
        used = float(f.get("cpu_s", "nan"))
        secs = float(f.get("seconds", "0") or 0)
        rate_sent = float(f.get("frames", "0")) * W * H * 8 / secs / 1e9 if secs else float("nan")
        rows.append(("transmitter", "tn_gvsp_receive (listen)", size, rate, fields, used, rate_sent))

print(f"4096x3072 Mono8, {duration:g} s per run; sender on CPU 0, receiver and lo's RPS on CPU 1")
head = ("sender", "receiver", "packet", "paced", "sent Gb/s", "frames/s", "Gb/s", "failed", "bad", "sender ms/frame")
widths = (16, 26, 6, 7, 9, 9, 6, 7, 4, 15)
print("  ".join(f"{h:>{w}}" for h, w in zip(head, widths)))
rate_of = {}
sent_of = {}
for name, rx_name, size, rate, f, used, sent in rows:
    secs = float(f.get("seconds", "0") or 0)
    frames = float(f.get("frames", "0") or 0)
    fps = frames / secs if secs else 0.0
    gbps = float(f.get("bytes", "0") or 0) * 8 / secs / 1e9 if secs else 0.0
    total = frames + float(f.get("failed", "0") or 0)
    per = used / total * 1000 if total else float("nan")
    rate_of[(name, rx_name, size, rate)] = gbps
    sent_of[(name, rx_name, size, rate)] = sent
    print("  ".join(f"{v:>{w}}" for v, w in zip(
        (name, rx_name, size, "no" if rate == 0 else f"{rate:g}/s", f"{sent:.2f}", f"{fps:.1f}", f"{gbps:.2f}",
         f.get("failed", "-"), f.get("bad", "-"), f"{per:.2f}"), widths)))
print("software device / fastcam, sent and received Gb/s:")
for (name, rx_name, size, rate), gbps in rate_of.items():
    key = ("fastcam", rx_name, size, rate)
    if name == "software device" and rate_of.get(key) and sent_of.get(key):
        print(f"  {rx_name:26s} SCPS {size:>4} {'unpaced' if rate == 0 else f'{rate:g}/s':>7}: "
              f"sent {sent_of[(name, rx_name, size, rate)] / sent_of[key]:.2f}x, received {gbps / rate_of[key]:.2f}x")
'''


def main():
    if os.geteuid() != 0 or subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        print("skipped: needs root for network namespaces, taskset and RPS")
        return
    receive = BUILD / "gev" / "tools" / "tn_gvsp_receive"
    fastcam = BUILD / "gev" / "tools" / "fastcam"
    bench = BUILD / "transmitter" / "tn_bench_softdevice"
    aravis_rx = next((d / "aravis_rx.py" for d in FASTCAM_DIRS if (d / "aravis_rx.py").exists()), "")
    if not receive.exists() or not fastcam.exists() or not bench.exists():
        print("skipped: build the tools (make build) with fastcam's sources beside the checkout")
        return
    subprocess.run(["unshare", "-n", "-m", sys.executable, "-c", PROGRAM, str(receive), str(fastcam), str(bench),
                    str(aravis_rx), os.environ.get("BENCH_TX_DURATION", "6"),
                    os.environ.get("BENCH_TX_PACKET_SIZES", "9000 1500"), os.environ.get("BENCH_TX_RATES", "0 40")],
                   check=False)


if __name__ == "__main__":
    main()
