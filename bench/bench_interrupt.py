"""Time from SIGINT to the KeyboardInterrupt of a call that waits in the SDK
(the stream's and the pipeline's retrieval, the transmitter's abort, a
search, a serial read), several calls each, beside the same for Python's own
waits (time.sleep, Event.wait) in the same run. In a network namespace of its
own."""

import os
import subprocess
import sys
import tempfile

PROGRAM = r'''
import os, random, signal, socket, statistics, subprocess, threading, time
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
import tarn_base_313 as tarn, tarn_receive_313 as rx, tarn_edge_313 as ed

ROUNDS = 10
fired = [0.0]

def fire(delay):
    def run():
        time.sleep(delay)
        fired[0] = time.monotonic()
        os.kill(os.getpid(), signal.SIGINT)
    threading.Thread(target=run, daemon=True).start()

def measure(name, call, *args):
    delays = []
    for _ in range(ROUNDS):
        fire(random.uniform(0.15, 0.35))
        try:
            call(*args)
            delays.append(float("nan"))
        except KeyboardInterrupt:
            delays.append((time.monotonic() - fired[0]) * 1000)
    print(f"{name:48s} median {statistics.median(delays):6.1f} ms  max {max(delays):6.1f} ms  ({ROUNDS} calls)")

print("load average: %.2f %.2f %.2f" % os.getloadavg())
measure("reference: time.sleep(60)", time.sleep, 60)
measure("reference: threading.Event().wait(60)", threading.Event().wait, 60)

stream = rx.TnStreamRTP()
stream.Open("127.0.0.1", 0)
buffer = tarn.TnBuffer()
buffer.Alloc(1 << 16)
stream.QueueBuffer(buffer)
measure("TnStream.RetrieveBuffer()", stream.RetrieveBuffer)
measure("TnStream.RetrieveBuffer(60000)", stream.RetrieveBuffer, 60000)
stream.AbortQueuedBuffers()
stream.RetrieveBuffer(1000)
pipeline = rx.TnPipeline(stream)
pipeline.SetBufferCount(4)
pipeline.Start()
measure("TnPipeline.RetrieveNextBuffer(0xFFFFFFFF)", pipeline.RetrieveNextBuffer, 0xFFFFFFFF)
pipeline.Stop()
del pipeline
stream.Close()

receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
receiver.bind(("127.0.0.1", 0))
transmitter = ed.TnTransmitterGEV()
transmitter.Open(ed.TnString("127.0.0.1"), receiver.getsockname()[1])
transmitter.SetMaxPayloadThroughput(64000.0)
block = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
block.Alloc(1 << 20)
transmitter.QueueBuffer(block)
time.sleep(0.1)
measure("TnTransmitterGEV.AbortQueuedBuffers(60000)", transmitter.AbortQueuedBuffers, 60000)
transmitter.Close()

system = tarn.TnSystem()
system.SetDetectionTimeout(60000)
measure("TnSystem.Find() (detection timeout 60 s)", system.Find)
measure("TnDeviceGEV.Connect to nobody", rx.TnDeviceGEV().Connect, "127.0.0.1")

system.SetDetectionTimeout(100)
result, info = system.FindDevice("BENCH-SERIAL")
result, device = rx.TnDevice.CreateAndConnect(info)
adapter = rx.TnDeviceAdapter(device)
port = rx.TnDeviceSerialPort()
port.Open(adapter, rx.TnDeviceSerial0)
measure("TnDeviceSerialPort.Read(16, 60000)", port.Read, 16, 60000)
port.Close()
rx.TnDevice.Free(device)
'''


def main():
    if subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        print("skipped: needs network namespaces")
        return
    with tempfile.NamedTemporaryFile("w", suffix=".ini") as devices:
        devices.write("[u3v]\nmodel = EX-1\nguid = BENCH-SERIAL\n")
        devices.flush()
        subprocess.run(["unshare", "-n", sys.executable, "-c", PROGRAM], check=True,
                       env={**os.environ, "TARN_SIMULATED_DEVICES": devices.name})


if __name__ == "__main__":
    main()
