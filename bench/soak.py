"""A long acquisition must not grow: a software device (edge module, a
Python source) streams to a receive pipeline with a Python sink, both in
this one process, in a network namespace of its own. The client side is a
whole session each time: discovery, connection, stream, pipeline, 10,000
frames, then everything closed and disconnected, so that a client connects
and disconnects every 10,000 frames.

    python bench/soak.py [--small N] [--large N] [--session N] [--each]

By default 100,000 small frames (64 x 48 Mono8) and 2,000 of 4096 x 3072,
after a warm-up of one small and one large session. The process's resident
memory, open descriptors and threads are printed after the warm-up and at
the end (goal: under 1 MB of growth, the same descriptors and threads).

The source sends at most a few frames ahead of what the sink has taken (a
credit per frame, given back by the sink), so no frame is lost for want of
a buffer; each frame carries its block id in its first bytes, which the sink
checks. A failed frame's packets show in the stream's counters summed
over the run, beside the datagrams the cores' input queues dropped meanwhile
(all namespaces: another benchmark's burst fills the same queue)."""

import argparse
import collections
import gc
import os
import pathlib
import subprocess
import sys
import threading
import time

SMALL = (64, 48)
LARGE = (4096, 3072)
AHEAD = 4  # frames the source may send before the sink has taken them
# The stream's counters summed over the sessions: where a failed frame's
# packets went.
LOSSES = ("PacketsLost", "PacketsRecovered", "SocketDrops", "BlocksDropped")


def resources():
    """Resident memory (bytes), open descriptors and threads of this process."""
    gc.collect()
    with open("/proc/self/statm") as statm:
        resident = int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    return resident, len(os.listdir("/proc/self/fd")), len(os.listdir("/proc/self/task"))


def soak(arguments):
    import numpy as np

    import tarn_base_313 as tarn
    import tarn_edge_313 as edge
    import tarn_receive_313 as rx
    from rx_python import input_queue_drops

    credits = threading.Semaphore(0)
    losses = collections.Counter()

    class Source(edge.TnStreamingChannelSourceDefault):
        """The default source's buffers, each stamped with its block id; a
        frame goes only with a credit from the sink."""

        def __init__(self):
            super().__init__(LARGE[0], LARGE[1], edge.TnPixelMono8, 4)
            self.queue = collections.deque()
            self.changed = threading.Condition()
            self.block = 0

        def QueueBuffer(self, buffer):
            with self.changed:
                self.queue.append(buffer)
                self.changed.notify()
            return edge.TN_OK

        def RetrieveBuffer(self, location):
            with self.changed:
                if not self.queue and not self.changed.wait(0.02):
                    return edge.TN_TIMEOUT, None
                buffer = self.queue.popleft()
            # A lost frame never gives its credit back: wait a while only.
            credits.acquire(timeout=0.05)
            # Standard block ids: 1 to 65535, then 1 again.
            self.block = self.block % 0xFFFF + 1
            image = buffer.GetImage()
            width = edge.TnStreamingChannelSourceDefault.GetWidth(self)
            height = edge.TnStreamingChannelSourceDefault.GetHeight(self)
            if (image.GetWidth(), image.GetHeight()) != (width, height):
                image.Alloc(width, height, edge.TnPixelMono8)
            image.GetDataPointer().reshape(-1)[:8] = np.frombuffer(self.block.to_bytes(8, "big"), np.uint8)
            buffer.SetBlockID(self.block)
            return edge.TN_OK, buffer

        def AbortQueuedBuffers(self):
            pass

    class Sink(rx.TnPipelineEventSink):
        def __init__(self):
            super().__init__()
            self.good = self.failed = self.wrong = self.missing = 0
            self.last = None

        def OnBufferReady(self, pipeline):
            result, buffer, operation = pipeline.RetrieveNextBuffer(0)
            if not result.IsOK():
                return
            block = buffer.GetBlockID()
            if self.last is not None:  # frames that never came, leader and all
                self.missing += (block - self.last - 1) % 0xFFFF
            self.last = block
            if not operation.IsOK():
                self.failed += 1
            elif int.from_bytes(buffer.GetDataPointer()[:8].tobytes(), "big") != buffer.GetBlockID():
                self.wrong += 1
            else:
                self.good += 1
            pipeline.ReleaseBuffer(buffer)
            credits.release()

    source = Source()
    device = edge.TnSoftDeviceGEV()
    device.AddStream(source)
    result = device.Start("00:00:00:00:00:00")
    if not result.IsOK():
        raise SystemExit(f"soak: the software device did not start: {result.GetCodeString()}")

    def session(geometry, frames):
        """One client's whole life; returns (good, failed, wrong, missing, seconds)."""
        system = tarn.TnSystem()
        system.SetDetectionTimeout(500)
        found, info = system.FindDevice("127.0.0.1")
        assert found.IsOK(), found.GetCodeString()
        client = rx.TnDeviceGEV()
        assert client.Connect(info).IsOK()
        features = client.GetParameters()
        assert features.SetIntegerValue("Width", geometry[0]).IsOK()
        assert features.SetIntegerValue("Height", geometry[1]).IsOK()
        stream = rx.TnStreamGEV()
        stream.SetUserModeSocketRxBufferSize(64 << 20)
        assert stream.Open(info, 0).IsOK()
        sink = Sink()
        pipeline = rx.TnPipeline(stream)
        pipeline.SetBufferSize(features.GetIntegerValue("PayloadSize")[1])
        pipeline.SetBufferCount(8)
        assert pipeline.RegisterEventSink(sink).IsOK()
        assert pipeline.Start().IsOK()
        assert client.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort()).IsOK()
        for _ in range(AHEAD):
            credits.release()
        start = time.monotonic()
        assert features.Get("AcquisitionStart").Execute().IsOK()
        seen, stalled = 0, time.monotonic()
        while sink.good + sink.failed + sink.wrong < frames:
            time.sleep(0.01)
            done = sink.good + sink.failed + sink.wrong
            if done != seen:
                seen, stalled = done, time.monotonic()
            elif time.monotonic() - stalled > 10:
                print(f"soak: no frame for 10 s after {done}", flush=True)
                break
        seconds = time.monotonic() - start
        features.Get("AcquisitionStop").Execute()
        statistics = stream.GetParameters()
        for name in LOSSES:
            losses[name] += statistics.GetIntegerValue(name)[1]
        pipeline.Stop()
        pipeline.UnregisterEventSink(sink)
        stream.Close()
        client.Disconnect()
        while credits.acquire(blocking=False):  # the next session starts with its own
            pass
        return sink.good, sink.failed, sink.wrong, sink.missing, seconds

    def run(label, geometry, frames):
        losses.clear()
        dropped = input_queue_drops()
        sessions = max(1, -(-frames // arguments.session))
        totals = [0, 0, 0, 0, 0.0]
        for index in range(sessions):
            figures = session(geometry, min(arguments.session, frames - index * arguments.session))
            totals = [total + figure for total, figure in zip(totals, figures)]
            if arguments.each:
                resident, descriptors, threads = resources()
                print(f"  {label} session {index + 1}: {figures[0]} good frames; resident {resident / 2**20:.2f} MB, "
                      f"{descriptors} descriptors, {threads} threads", flush=True)
        good, failed, wrong, missing, seconds = totals
        dropped = input_queue_drops() - dropped
        print(f"{label}: {sessions} sessions of {geometry[0]}x{geometry[1]}: {good} good frames, {failed} failed, "
              f"{wrong} with wrong bytes, {missing} never came, {good / seconds if seconds else 0:.0f} frames/s"
              + "".join(f", {name} {value}" for name, value in losses.items() if value)
              + (f", the cores' input queues dropped {dropped} (all namespaces)" if dropped else "") + "; "
              f"load average {' '.join(f'{value:.2f}' for value in os.getloadavg())}", flush=True)
        return failed + wrong + missing

    bad = run("warm-up", SMALL, arguments.session) + run("warm-up", LARGE, min(200, max(arguments.large, 1)))
    before = resources()
    # The large frames come in two parts, halfway and at the end.
    bad += run("small", SMALL, arguments.small // 2) + run("large", LARGE, arguments.large // 2)
    bad += run("small", SMALL, arguments.small - arguments.small // 2)
    bad += run("large", LARGE, arguments.large - arguments.large // 2)
    after = resources()
    device.Stop()
    print(f"{'':22s} {'resident MB':>12s} {'descriptors':>12s} {'threads':>8s}")
    for label, (resident, descriptors, threads) in (("after the warm-up", before), ("at the end", after)):
        print(f"{label:22s} {resident / 2**20:12.2f} {descriptors:12d} {threads:8d}")
    growth = (after[0] - before[0]) / 2**20
    print(f"growth: {growth:.2f} MB (goal under 1), descriptors {after[1] - before[1]:+d}, "
          f"threads {after[2] - before[2]:+d} (goal 0 each)")
    return 0 if bad == 0 and growth < 1 and after[1:] == before[1:] else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--small", type=int, default=100000, help="small frames after the warm-up")
    parser.add_argument("--large", type=int, default=2000, help="4096 x 3072 frames after the warm-up")
    parser.add_argument("--session", type=int, default=10000, help="frames per client session")
    parser.add_argument("--each", action="store_true", help="print the resources after every session")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.inside:
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return soak(arguments)
    if subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode != 0:
        print("skipped: needs network namespaces (root)")
        return 0
    build = pathlib.Path(__file__).resolve().parent.parent / "build" / "python"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(build)] + [p for p in [os.environ.get("PYTHONPATH")] if p]))
    return subprocess.run(["unshare", "-n", sys.executable, __file__, "--inside", *sys.argv[1:]], env=env).returncode


if __name__ == "__main__":
    sys.exit(main())
