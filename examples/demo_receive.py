"""The receive road end to end: a fake GigE Vision camera on loopback inside a
network namespace of its own, found by discovery, connected, streaming frames
through a pipeline into numpy arrays; prints the frame rate and the stream's
statistics and saves one frame as a PNG picture.

`receive_demo(path)` runs the whole of it from outside (it enters the
namespace itself); run as a script it does the same."""

import os
import pathlib
import shutil
import subprocess
import sys
import threading
import time

FAKE = "arv-fake-gv-camera-0.8"
SERIAL = "DEMO0002"
FRAMES = 30
STATISTICS = ["BlocksCompleted", "BlocksFailed", "BlocksDropped", "PacketsReceived", "PacketsLost",
              "PacketsInPlace", "PacketsCopied", "BytesReceived", "PipelineImagesDropped"]


def receive_demo(picture):
    """Runs the demonstration in a private network namespace; the picture goes
    to `picture`. Returns False when the machine cannot run it."""
    if shutil.which(FAKE) is None or shutil.which("unshare") is None or \
            subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode != 0:
        print("receive road: skipped (needs network namespaces and the fake camera, Debian aravis-tools)")
        return False
    script = 'ip link set lo up && exec "$0" "$@"'
    subprocess.run(["unshare", "-n", "sh", "-c", script, sys.executable, __file__, "--inside", str(picture)],
                   check=True)
    return True


def inside(picture):
    import numpy as np
    from PIL import Image

    import tarn_base_313 as tarn
    import tarn_receive_313 as rx

    camera = subprocess.Popen([FAKE, "-i", "127.0.0.1", "-s", SERIAL], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        # Discovery: the fake camera answers on loopback once it is up.
        system = tarn.TnSystem()
        system.SetDetectionTimeout(300)
        for _ in range(30):
            result, info = system.FindDevice(SERIAL)
            if result.IsOK():
                break
        else:
            raise SystemExit("receive road: the fake camera was not found")
        print(f"found {info.GetVendorName()} {info.GetModelName()} serial {info.GetSerialNumber()} "
              f"at {info.GetConnectionID()}")

        result, device = rx.TnDevice.CreateAndConnect(info)
        if not result.IsOK():
            raise SystemExit(f"receive road: connecting failed: {result.GetCodeString()}")
        features = device.GetParameters()
        features.SetEnumValue("PixelFormat", "Mono8")
        width = features.GetIntegerValue("Width")[1]
        height = features.GetIntegerValue("Height")[1]
        payload = features.GetIntegerValue("PayloadSize")[1]
        print(f"connected: {width} x {height} {features.GetEnumValueString('PixelFormat')[1]}, "
              f"{payload} bytes a frame")

        stream = rx.TnStreamGEV()
        result = stream.Open(info, 0)
        if not result.IsOK():
            raise SystemExit(f"receive road: opening the stream failed: {result.GetCodeString()}")
        device.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort())

        class Frames(rx.TnPipelineEventSink):
            """Takes each ready frame on the pipeline's thread into numpy."""

            def __init__(self):
                super().__init__()
                self.images, self.failed, self.done = [], 0, threading.Event()

            def OnBufferReady(self, pipeline):
                result, buffer, operation = pipeline.RetrieveNextBuffer(0)
                if not result.IsOK():
                    return
                if operation.IsOK():
                    self.images.append((buffer.GetBlockID(), buffer.GetImage().GetDataPointer().copy()))
                else:
                    self.failed += 1
                pipeline.ReleaseBuffer(buffer)
                if len(self.images) >= FRAMES:
                    self.done.set()

        sink = Frames()
        pipeline = rx.TnPipeline(stream)
        pipeline.SetBufferSize(payload)
        pipeline.SetBufferCount(8)
        pipeline.RegisterEventSink(sink)
        pipeline.Start()
        began = time.monotonic()
        features.Get("AcquisitionStart").Execute()
        sink.done.wait(30)
        elapsed = time.monotonic() - began
        features.Get("AcquisitionStop").Execute()
        pipeline.Stop()
        pipeline.UnregisterEventSink(sink)

        frames = len(sink.images)
        print(f"received {frames} frames in {elapsed:.2f} s: {frames / elapsed:.1f} frames/s, "
              f"{sink.failed} failed")
        statistics = stream.GetParameters()
        print("stream statistics: " + ", ".join(
            f"{name} {statistics.GetIntegerValue(name)[1]}" for name in STATISTICS))
        if frames:
            block, pixels = sink.images[-1]
            print(f"frame {block}: {pixels.shape} {pixels.dtype}, mean {pixels.mean():.1f}, "
                  f"min {pixels.min()}, max {pixels.max()}")
            pathlib.Path(picture).parent.mkdir(parents=True, exist_ok=True)
            Image.fromarray(np.ascontiguousarray(pixels), mode="L").save(picture)
            print(f"saved {picture}")

        stream.Close()
        rx.TnDevice.Free(device)
    finally:
        camera.kill()
        camera.wait()


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--inside":
        inside(sys.argv[2])
    else:
        target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.getcwd(), "frame.png")
        receive_demo(target)
