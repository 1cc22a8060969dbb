"""The receive module's RTP stream beside GStreamer's own receiver, in a private
network namespace (root needed): GStreamer's rtpvrawpay sends 1920x1080 RGB8
frames (RFC 4175) over loopback, and each receiver in turn takes them:

- ours: TnStreamRTP (PrepareFor, unicast open) in a Python process that
  queues 16 buffers and retrieves and requeues them;
- GStreamer's: udpsrc ! rtpvrawdepay ! fakesink, frames counted from
  fakesink's messages.

Per receiver: frames complete, frames failed (ours; GStreamer's depayloader
hands out a frame whatever it missed, so only its missing frames show),
complete frames per second of the sender's run, and the receiving process's
CPU time (user and system, from the kernel's accounting of the child) per
frame. Both get a 32 MiB socket buffer. The machine's load averages are
printed before and after, since the cores are shared. At a rate above what
the sender reaches on the machine (120) it sends as fast as it can.

Settings: BENCH_RTP_RATES ("30 120" frames/s), BENCH_RTP_FRAMES (150 per run)."""

import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import textwrap
import time

HERE = pathlib.Path(__file__).resolve().parent
BUILD = HERE.parent / "build"
WIDTH, HEIGHT = 1920, 1080
RATES = [int(rate) for rate in os.environ.get("BENCH_RTP_RATES", "30 120").split()]
FRAMES = int(os.environ.get("BENCH_RTP_FRAMES", "150"))
PORT = 5600
CAPS = ("application/x-rtp,media=video,clock-rate=90000,encoding-name=RAW,sampling=RGB,depth=(string)8,"
        f"width=(string){WIDTH},height=(string){HEIGHT},colorimetry=(string)BT601-5,payload=96")

OURS = textwrap.dedent(f"""
    import sys, time
    import tarn_base_313 as tarn, tarn_receive_313 as rx
    stream = rx.TnStreamRTP()
    assert stream.PrepareFor({WIDTH}, {HEIGHT}, rx.TnPixelRGB8).IsOK()
    assert stream.Open("127.0.0.1", {PORT}).IsOK()
    buffers = []
    for _ in range(16):
        buffer = tarn.TnBuffer()
        buffer.Alloc({WIDTH * HEIGHT * 3})
        buffers.append(buffer)
        stream.QueueBuffer(buffer)
    print("READY", flush=True)
    good = failed = 0
    while True:
        result, buffer, operation = stream.RetrieveBuffer(1500 if good + failed else 30000)
        if buffer is None:
            break
        if operation.IsOK():
            good += 1
        else:
            failed += 1
        stream.QueueBuffer(buffer)
    parameters = stream.GetParameters()
    in_place = parameters.GetIntegerValue("PacketsInPlace")[1]
    packets = parameters.GetIntegerValue("PacketsReceived")[1]
    drops = parameters.GetIntegerValue("SocketDrops")[1]
    stream.Close()
    print(f"RESULT good={{good}} failed={{failed}} "
          f"in_place={{in_place}} packets={{packets}} socket_drops={{drops}}", flush=True)
""")


def sender(rate):
    return ["gst-launch-1.0", "-q", "videotestsrc", f"num-buffers={FRAMES}", "pattern=black", "!",
            f"video/x-raw,format=RGB,width={WIDTH},height={HEIGHT},framerate={rate}/1", "!", "rtpvrawpay", "!",
            "udpsink", "host=127.0.0.1", f"port={PORT}", "buffer-size=33554432"]


def cpu_of(process):
    """Waits for the process; its user and system seconds."""
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    return usage.ru_utime + usage.ru_stime


def run_ours(rate):
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    receiver = subprocess.Popen([sys.executable, "-c", OURS], stdout=subprocess.PIPE, text=True, env=env)
    assert receiver.stdout.readline().strip() == "READY"
    start = time.monotonic()
    subprocess.run(sender(rate), check=True)
    seconds = time.monotonic() - start
    output = receiver.stdout.read()
    cpu = cpu_of(receiver)
    fields = dict(item.split("=") for item in output.split("RESULT ", 1)[1].split())
    good, failed = int(fields["good"]), int(fields["failed"])
    extra = (f"{int(fields['in_place']) * 100 // max(1, int(fields['packets']))} % of packets in place, "
             f"{fields['socket_drops']} socket drops")
    return good, failed, seconds, cpu, extra


def run_gstreamer(rate):
    receiver = subprocess.Popen(["gst-launch-1.0", "-v", "-e", "udpsrc", f"port={PORT}", "buffer-size=33554432",
                                 f"caps={CAPS}", "!", "rtpvrawdepay", "!", "fakesink", "silent=false", "sync=false"],
                                stdout=subprocess.PIPE, text=True)
    time.sleep(1.0)  # the pipeline is playing
    start = time.monotonic()
    subprocess.run(sender(rate), check=True)
    seconds = time.monotonic() - start
    time.sleep(1.0)
    receiver.send_signal(signal.SIGINT)
    output = receiver.stdout.read()
    cpu = cpu_of(receiver)
    good = len(re.findall(r"last-message = chain", output))
    return good, 0, seconds, cpu, "frames handed on whatever was missed"


def main():
    if os.environ.get("BENCH_RTP_INSIDE") != "1":
        if shutil.which("gst-launch-1.0") is None:
            print("bench_rtp: GStreamer's gst-launch-1.0 is not installed (Debian package gstreamer1.0-tools)")
            return
        if subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode != 0:
            print("bench_rtp: needs a private network namespace (unshare -n, as root)")
            return
        subprocess.run(["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$0" "$@"', sys.executable,
                        __file__], env=dict(os.environ, BENCH_RTP_INSIDE="1"), check=False)
        return
    for rate in RATES:
        print(f"== {WIDTH}x{HEIGHT} RGB8 at {rate} frames/s, {FRAMES} frames from rtpvrawpay; load average "
              f"{' '.join(f'{value:.2f}' for value in os.getloadavg())}", flush=True)
        for name, run in (("tarn TnStreamRTP", run_ours), ("GStreamer rtpvrawdepay", run_gstreamer)):
            good, failed, seconds, cpu, extra = run(rate)
            rate_seen = good / seconds if seconds > 0 else 0.0
            print(f"  {name}: {good} complete, {failed} failed, {FRAMES - good - failed} missing of {FRAMES}; "
                  f"{rate_seen:.1f} complete frames/s over the sender's {seconds:.1f} s; "
                  f"CPU {cpu * 1000 / max(good, 1):.2f} ms per frame ({cpu:.2f} s); {extra}", flush=True)
        print(f"   load average after: {' '.join(f'{value:.2f}' for value in os.getloadavg())}", flush=True)


if __name__ == "__main__":
    main()
