"""GenDC streaming from the software device to the receive module on
loopback, in a private network namespace: a Python GenDC source whose
container holds a 4096x3072 Mono8 image part and a chunk part, beside the
same image streamed as a plain image payload by a Python image source, in
the same run. Each source only stamps the frame's id (the chunk, or the
image's first bytes) into buffers filled once; the receiver (the receive
module's GigE Vision stream, from Python) checks every frame's id and, for
GenDC, walks the container to its chunk. Packets of 9000 bytes; paced to 40
frames/s (4.0 Gb/s) and unpaced. Device on CPU 0, receiver on CPU 1; runs
alternate between the two payloads, so both meet the same load of this
shared machine, whose load averages are printed beside the figures.

Columns: frames/s and Gb/s received whole, failed frames (failed status, or
ids that never came), bad frames (an id that does not match), and the
GenDC rate over the plain one.

Settings: BENCH_GENDC_DURATION (5 s per run), BENCH_GENDC_RUNS (3 per
payload and pacing)."""

import os
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

DEVICE = r'''
import sys, time
import tarn_base_313 as tarn
import tarn_edge_313 as edge
import devices
kind, rate = sys.argv[1], float(sys.argv[2])
W, H = 4096, 3072
period, deadline = (1 / rate if rate else 0), [time.monotonic()]

def pace():
    if period:
        deadline[0] = max(deadline[0] + period, time.monotonic() - period)
        time.sleep(max(0.0, deadline[0] - time.monotonic()))

class GenDC(devices.GenDCSource):
    def write(self, buffer, block):
        if block == 0:
            return super().write(buffer, block)   # the image, once per buffer
        pace()
        writer = buffer.GetGenDC()[1][0].GetGenDCChunkWriter()
        writer.ResetChunks()
        writer.AddChunk(self.CHUNK, block.to_bytes(8, "little"))

class Plain(devices.PatternSource):
    def fill(self, buffer):
        pace()
        buffer.GetImage().GetDataPointer().reshape(-1)[:8] = list(self.block.to_bytes(8, "little"))

source = GenDC([(edge.TnPixelMono8, W, H)], refill=False) if kind == "gendc" else Plain(W, H, 8)
device = edge.TnSoftDeviceGEV()
device.SetGenDCEnabled(kind == "gendc")
device.AddStream(source)
assert device.Start(devices.LOOPBACK_MAC).IsOK()
print("ready", flush=True)
sys.stdin.read()
device.Stop()
'''

RECEIVER = r'''
import sys, time
import tarn_base_313 as tarn
import devices
kind, duration = sys.argv[1], float(sys.argv[2])
CHUNK = 0x4242
system, info, device, features, stream, buffers = devices.connect(packet_size=9000)
assert device.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort()).IsOK()
assert features.Get("AcquisitionStart").Execute().IsOK()

def frame_id(buffer):
    if kind == "gendc":
        if buffer.GetPayloadType() != tarn.TnPayloadTypeGenDC:
            return None
        chunk = buffer.GetGenDC()[1][0].GetGenDCChunkData().GetChunkRawDataByID(CHUNK)
        return int.from_bytes(chunk.tobytes(), "little")
    return int.from_bytes(bytes(buffer.GetImage().GetDataPointer().reshape(-1)[:8]), "little")

frames = failed = bad = size = 0
ids, start = [], None
while start is None or time.monotonic() - start < duration:
    result, buffer, operation = stream.RetrieveBuffer(2000)
    if not result.IsOK():
        break
    if start is None:
        start = time.monotonic()   # the window opens with the first frame
    elif operation.IsOK():
        frames += 1
        size += buffer.GetPayloadSize()
        ids.append(buffer.GetBlockID())
        bad += frame_id(buffer) != buffer.GetBlockID()
    else:
        failed += 1
    stream.QueueBuffer(buffer)
seconds = time.monotonic() - (start or time.monotonic())
missing = max(ids) - min(ids) + 1 - len(ids) - failed if ids else 0
features.Get("AcquisitionStop").Execute()
print(f"RESULT {frames} {failed + max(0, missing)} {bad} {size} {seconds:.3f}")
'''

PROGRAM = r'''
import os, subprocess, sys, time
duration, runs, edge_dir, device_code, receiver_code = sys.argv[1:6]
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
env = {**os.environ, "PYTHONPATH": os.pathsep.join([edge_dir, os.environ.get("PYTHONPATH", "")])}
rows = {}
for run in range(int(runs)):
    for rate in (40, 0):
        for kind in ("gendc", "plain"):
            device = subprocess.Popen(["taskset", "-c", "0", sys.executable, "-c", device_code, kind, str(rate)],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env)
            assert device.stdout.readline().strip() == "ready"
            done = subprocess.run(["taskset", "-c", "1", sys.executable, "-c", receiver_code, kind, duration],
                                  capture_output=True, text=True, env=env)
            device.communicate("", timeout=30)
            line = [l for l in done.stdout.splitlines() if l.startswith("RESULT ")]
            if not line:
                print(f"{kind} at {rate}/s: the receiver failed: {done.stderr.strip()[-300:]}")
                continue
            frames, failed, bad, size, seconds = (float(v) for v in line[-1].split()[1:])
            rows.setdefault((rate, kind), []).append((frames / seconds, size * 8 / seconds / 1e9, int(failed),
                                                      int(bad), os.getloadavg()[0]))
            time.sleep(0.5)
print(f"4096x3072 Mono8 (GenDC: and a chunk part), packets of 9000 bytes, {float(duration):g} s per run;"
      " device on CPU 0, receiver on CPU 1")
print(f"{'payload':>8} {'paced':>6} {'frames/s':>9} {'Gb/s':>6} {'failed':>7} {'bad':>4} {'load 1 min':>10}")
for (rate, kind), results in rows.items():
    for fps, gbps, failed, bad, load in results:
        print(f"{kind:>8} {('%d/s' % rate) if rate else 'no':>6} {fps:9.1f} {gbps:6.2f} {failed:7d} {bad:4d} "
              f"{load:10.2f}")
for rate in (40, 0):
    mine, plain = rows.get((rate, "gendc")), rows.get((rate, "plain"))
    if mine and plain:
        ratio = sum(r[1] for r in mine) / sum(r[1] for r in plain)
        print(f"GenDC / plain, {'paced' if rate else 'unpaced'}: {ratio:.2f}x the Gb/s")
print("load averages now: " + " ".join(f"{v:.2f}" for v in os.getloadavg()))
'''


def main():
    if subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        print("skipped: needs network namespaces")
        return
    subprocess.run(["unshare", "-n", sys.executable, "-c", PROGRAM, os.environ.get("BENCH_GENDC_DURATION", "5"),
                    os.environ.get("BENCH_GENDC_RUNS", "3"), str(ROOT / "tests" / "edge"), DEVICE, RECEIVER],
                   check=False)


if __name__ == "__main__":
    main()
