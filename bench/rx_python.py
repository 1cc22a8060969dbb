"""A GigE Vision receiver through the receive module, for the RX_CMD slot of
the C test camera's bench.sh (fastcam): configures the camera from bench.sh's
FASTCAM_* environment, receives for FASTCAM_DURATION seconds as fast as it
can and prints one line

    RESULT frames=N failed=N seconds=S cpu_s=S bytes=N bad=N missing=N ...

`frames` are good frames after the first, inside the measured window (from
the first frame to the end); `failed` counts frames handed back with a failed
operation result and block ids that never came; `bad` counts good frames whose
bytes differ from the camera's pattern (block id in bytes 0 to 7, byte i =
(i % line + i // line) & 0xFF, checked at 64 places and the last byte of
every frame). `input_queue_drops` counts the datagrams the cores' input
queues dropped meanwhile, before any socket (with RPS=1 every namespace's
loopback traffic queues on the receiver's core: another benchmark running
beside this one loses its overflow there, and so does this one).

--receiver picks the stream's data receiver (its parameter DataReceiver):
PacketRing, UserMode or Automatic (the default: the packet ring where it can
be opened); the RESULT line names the one used (receiver=driver or
receiver=usermode).

--pipeline receives through a TnPipeline and a Python TnPipelineEventSink
instead of queueing buffers by hand. Either way the RESULT line ends with
the delay from a completed block (the buffer's reception time) to the first
line of Python that has it, the sink's OnBufferReady or the return of
RetrieveBuffer, median and 99th percentile in microseconds
(latency_median_us, latency_p99_us).

Run it with the build's modules: PYTHONPATH=build/python .venv/bin/python
bench/rx_python.py (bench/bench_stream.py does that, inside bench.sh)."""

import argparse
import os
import resource
import sys
import threading
import time

import numpy as np

import tarn_base_313 as tarn
import tarn_receive_313 as rx

BYTES_PER_PIXEL = {"Mono8": 1, "Mono10": 2, "Mono12": 2, "Mono16": 2, "RGB8": 3, "BGR8": 3}


def input_queue_drops():
    """Datagrams the cores' input queues dropped (/proc/net/softnet_stat,
    second column), in every namespace: with RPS a burst waits there for
    the receiver's core, and what overflows never reaches any socket."""
    with open("/proc/net/softnet_stat") as stat:
        return sum(int(line.split()[1], 16) for line in stat)


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def now_us(clock=time.clock_gettime_ns, monotonic=time.CLOCK_MONOTONIC):
    return clock(monotonic) // 1000


class Checker:
    """The camera's pattern at 64 places and the last byte, and the ids of
    frames that never came."""

    def __init__(self, size, line):
        self.places = np.unique(np.append(np.linspace(8, size - 1, 64).astype(np.int64), size - 1))
        self.expected = ((self.places % line + self.places // line) & 0xFF).astype(np.uint8)
        self.last = None
        self.missing = 0

    def good(self, data, block):
        return int.from_bytes(data[:8].tobytes(), "big") == block and \
            bool((data[self.places] == self.expected).all())

    def seen(self, block):
        # Standard ids wrap from 65535 to 1; extended ids do not wrap here.
        if self.last is not None:
            wrap = block < 65536 and self.last < 65536
            gap = (block - self.last) % 65535 if wrap else block - self.last
            if 1 < gap < 32768:
                self.missing += gap - 1
        self.last = block


def main():
    env = os.environ.get
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--address", default=env("FASTCAM_ADDRESS", "127.0.0.1"))
    parser.add_argument("--width", type=int, default=int(env("FASTCAM_WIDTH", "0")))
    parser.add_argument("--height", type=int, default=int(env("FASTCAM_HEIGHT", "0")))
    parser.add_argument("--pixel-format", default=env("FASTCAM_PIXEL_FORMAT", ""))
    parser.add_argument("--packet-size", type=int, default=int(env("FASTCAM_PACKET_SIZE", "0")))
    parser.add_argument("--duration", type=float, default=float(env("FASTCAM_DURATION", "10")))
    parser.add_argument("--rate", type=float, default=None, help="set AcquisitionFrameRate")
    parser.add_argument("--buffers", type=int, default=16)
    parser.add_argument("--socket-buffer", type=int, default=64 << 20)
    parser.add_argument("--ring-size", type=int, default=64 << 20,
                        help="the packet ring's size (PacketRingSize), as much as the socket buffer holds")
    parser.add_argument("--coalesce-us", type=int, default=100,
                        help="the receiver's wait for more packets before it wakes (ReceiveCoalescingTime)")
    parser.add_argument("--pipeline", action="store_true", help="receive through a pipeline and a Python sink")
    parser.add_argument("--receiver", default="Automatic", choices=("Automatic", "PacketRing", "UserMode"),
                        help="the stream's data receiver (DataReceiver)")
    parser.add_argument("-q", "--quiet", action="store_true")
    args = parser.parse_args()

    system = tarn.TnSystem()
    system.SetDetectionTimeout(500)
    result, info = system.FindDevice(args.address)
    if not result.IsOK():
        print(f"rx_python: no device at {args.address}: {result.GetCodeString()}", file=sys.stderr)
        return 2
    result, device = rx.TnDevice.CreateAndConnect(info)
    if not result.IsOK():
        print(f"rx_python: connecting failed: {result.GetCodeString()}", file=sys.stderr)
        return 2
    features = device.GetParameters()
    if args.pixel_format:
        features.SetEnumValue("PixelFormat", args.pixel_format)
    if args.width:
        features.SetIntegerValue("Width", args.width)
    if args.height:
        features.SetIntegerValue("Height", args.height)
    if args.packet_size:
        features.SetIntegerValue("GevSCPSPacketSize", args.packet_size)
    if args.rate is not None:
        features.SetFloatValue("AcquisitionFrameRate", args.rate)
    payload = features.GetIntegerValue("PayloadSize")[1]
    width = features.GetIntegerValue("Width")[1]
    pixel_format = features.GetEnumValueString("PixelFormat")[1]
    checker = Checker(payload, width * BYTES_PER_PIXEL.get(pixel_format, 1))

    stream = rx.TnStreamGEV()
    stream.SetUserModeSocketRxBufferSize(args.socket_buffer)
    stream.GetParameters().SetEnumValue("DataReceiver", args.receiver)
    stream.GetParameters().SetIntegerValue("PacketRingSize", args.ring_size)
    result = stream.Open(info, 0)
    if not result.IsOK():
        print(f"rx_python: opening the stream failed: {result.GetCodeString()}", file=sys.stderr)
        return 2
    if args.coalesce_us is not None:
        stream.GetParameters().SetIntegerValue("ReceiveCoalescingTime", args.coalesce_us)
    device.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort())
    receiver = "driver" if stream.GetDataReceiverType() == rx.TnDataReceiverTypeTarnDriver else "usermode"

    tally = {"ok": 0, "counted": 0, "bytes": 0, "failed": 0, "bad": 0, "first": None, "cpu": None}
    latencies = []

    def take(buffer, operation, ready_us=None):
        block = buffer.GetBlockID()
        if tally["first"] is None:
            tally["first"], tally["cpu"] = time.monotonic(), cpu_seconds()
        else:
            checker.seen(block)
        if not operation.IsOK():
            tally["failed"] += 1
            return
        if ready_us is not None:
            latencies.append(ready_us - buffer.GetReceptionTime())
        if tally["ok"]:
            tally["counted"] += 1
            tally["bytes"] += payload
        tally["ok"] += 1
        if not checker.good(buffer.GetDataPointer(), block):
            tally["bad"] += 1

    start = features.Get("AcquisitionStart")
    stop = features.Get("AcquisitionStop")
    if args.pipeline:
        done = threading.Event()

        class Sink(rx.TnPipelineEventSink):
            def OnBufferReady(self, pipeline, clock=time.clock_gettime_ns, monotonic=time.CLOCK_MONOTONIC):
                ready = clock(monotonic) // 1000  # first of all (its own cost is in the figure)
                result, buffer, operation = pipeline.RetrieveNextBuffer(0)
                if result.IsOK():
                    if not done.is_set():
                        take(buffer, operation, ready)
                    pipeline.ReleaseBuffer(buffer)

        sink = Sink()
        pipeline = rx.TnPipeline(stream)
        pipeline.SetBufferSize(payload)
        pipeline.SetBufferCount(args.buffers)
        pipeline.RegisterEventSink(sink)
        pipeline.Start()
        drops = input_queue_drops()
        start.Execute()
        deadline = time.monotonic() + args.duration
        while time.monotonic() < deadline:
            time.sleep(0.05)
        done.set()
        end, cpu_end = time.monotonic(), cpu_seconds()
        stop.Execute()
        pipeline.Stop()
        pipeline.UnregisterEventSink(sink)
        dropped = stream.GetParameters().GetIntegerValue("PipelineImagesDropped")[1]
    else:
        buffers = [tarn.TnBuffer() for _ in range(args.buffers)]
        for buffer in buffers:
            buffer.Alloc(payload)
            stream.QueueBuffer(buffer)
        drops = input_queue_drops()
        start.Execute()
        deadline = time.monotonic() + args.duration
        timeouts = 0
        while time.monotonic() < deadline:
            result, buffer, operation = stream.RetrieveBuffer(500)
            ready = now_us()
            if buffer is None:
                timeouts += 1
                if timeouts >= 10 and tally["ok"] == 0:
                    print("rx_python: no frame within 5 s", file=sys.stderr)
                    break
                continue
            take(buffer, operation, ready)
            stream.QueueBuffer(buffer)
        end, cpu_end = time.monotonic(), cpu_seconds()
        stop.Execute()
        stream.AbortQueuedBuffers()
        dropped = 0

    statistics = stream.GetParameters()
    drops = input_queue_drops() - drops
    counters = {name: statistics.GetIntegerValue(name)[1] for name in
                ("PacketsReceived", "PacketsLost", "PacketsRecovered", "SocketDrops", "BlocksDropped")}
    stream.Close()
    rx.TnDevice.Free(device)

    window = end - tally["first"] if tally["first"] is not None else 0.0
    cpu = cpu_end - tally["cpu"] if tally["cpu"] is not None else 0.0
    failed = tally["failed"] + checker.missing
    extra = ""
    if latencies:
        delays = np.array(latencies, dtype=np.float64)
        extra = (f" latency_median_us={np.median(delays):.1f} latency_p99_us={np.percentile(delays, 99):.1f}"
                 f" latency_samples={len(delays)} pipeline_dropped={dropped}")
    if not args.quiet:
        fps = tally["counted"] / window if window > 0 else 0.0
        print(f"rx_python: {tally['counted']} frames in {window:.3f} s: {fps:.1f} frames/s, "
              f"{tally['bytes'] / window / 1e6 if window else 0:.1f} MB/s, failed {failed} "
              f"(missing ids {checker.missing}), bad {tally['bad']}, CPU {cpu:.3f} s, {receiver} receiver; "
              + ", ".join(f"{name} {value}" for name, value in counters.items())
              + f"; the cores' input queues dropped {drops} (all namespaces)", file=sys.stderr)
    print(f"RESULT frames={tally['counted']} failed={failed} seconds={window:.6f} cpu_s={cpu:.6f} "
          f"bytes={tally['bytes']} bad={tally['bad']} missing={checker.missing} "
          f"missing_packets={counters['PacketsLost']} input_queue_drops={drops} receiver={receiver}{extra}",
          flush=True)
    return 0 if tally["counted"] > 0 and tally["bad"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
