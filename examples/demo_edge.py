"""The transmit road: a software GigE Vision device built in Python, with a
Python streaming source and a feature of its own, started inside a private
network namespace; the receive module finds it and reads and writes its
features, aravis's receiver takes a frame from its stream, and the frame is
saved as a PNG picture.

    python examples/demo_edge.py [PICTURE]

The picture goes to build/edge-frame.png unless PICTURE says otherwise. Run
by examples/demo.py after the receive road."""

import collections
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import zlib

GRAB = r'''
import sys
import gi
gi.require_version("Aravis", "0.8")
from gi.repository import Aravis
camera = Aravis.Camera.new("127.0.0.1")
stream = camera.create_stream(None, None)
for _ in range(4):
    stream.push_buffer(Aravis.Buffer.new_allocate(camera.get_payload()))
camera.start_acquisition()
for _ in range(20):
    buffer = stream.timeout_pop_buffer(2000000)
    if buffer is not None and buffer.get_status() == Aravis.BufferStatus.SUCCESS:
        open(sys.argv[1], "wb").write(bytes(buffer.get_data()))
        print(buffer.get_frame_id(), buffer.get_image_width(), buffer.get_image_height())
        break
    if buffer is not None:
        stream.push_buffer(buffer)
camera.stop_acquisition()
'''


def write_png(path, pixels, width, height):
    """An 8-bit grey PNG of the bytes, row after row."""
    rows = b"".join(b"\0" + pixels[y * width:(y + 1) * width] for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    pathlib.Path(path).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
                                   + chunk(b"IEND", b""))


def run_device(picture):
    import numpy as np

    import tarn_base_313 as tarn
    import tarn_edge_313 as edge
    import tarn_receive_313 as rx

    class Source(edge.TnStreamingChannelSourceDefault):
        """Fills the default source's buffers: a gradient with a bar that
        moves from frame to frame."""

        def __init__(self):
            super().__init__(320, 240, edge.TnPixelMono8, 8)
            self.queue = collections.deque()
            self.changed = threading.Condition()
            self.frames = 0

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
            width = edge.TnStreamingChannelSourceDefault.GetWidth(self)
            height = edge.TnStreamingChannelSourceDefault.GetHeight(self)
            image = buffer.GetImage()
            if (image.GetWidth(), image.GetHeight()) != (width, height):  # a client changed the geometry
                image.Alloc(width, height, edge.TnPixelMono8)
            y, x = np.mgrid[0:height, 0:width]
            frame = ((x * 255 // max(width - 1, 1) + y) // 2).astype(np.uint8)
            bar = (self.frames * 8) % width
            frame[:, bar:bar + 16] = 255
            image.GetDataPointer()[:, :] = frame
            self.frames += 1
            return edge.TN_OK, buffer

        def AbortQueuedBuffers(self):
            pass

    class Sink(edge.ITnVirtualDeviceGEVEventSink):
        """Adds the feature DemoLevel on a register of its own, and tells
        who connects."""

        def OnCreateCustomRegisters(self, device, factory):
            factory.AddRegister("DemoLevelReg", 0xA000, 4, edge.TnGenAccessModeReadWrite)

        def OnCreateCustomGenApiFeatures(self, device, factory):
            factory.SetName("DemoLevel")
            factory.SetCategory("DemoControl")
            factory.SetDescription("A level the demo's Python code owns.")
            factory.CreateInteger(device.GetRegisterMap().GetRegisterByAddress(0xA000), 0, 100)

        def OnApplicationConnect(self, device, address, port, access):
            print(f"  a controller connected from {address.GetAscii()}:{port}")

    source, sink = Source(), Sink()
    device = edge.TnSoftDeviceGEV()
    device.AddStream(source)
    device.RegisterEventSink(sink)
    result = device.Start("00:00:00:00:00:00")
    print(f"software device on loopback: {result.GetCodeString()}, model {device.GetInfo().GetModelName()!r}")
    device.GetRegisterMap().GetRegisterByAddress(0xA000).Write(42)

    system = tarn.TnSystem()
    system.SetDetectionTimeout(500)
    found, info = system.FindDevice("127.0.0.1")
    client = rx.TnDeviceGEV()
    print(f"the receive module finds it ({found.GetCodeString()}) and connects: {client.Connect(info).GetCodeString()}")
    features = client.GetParameters()
    print(f"  Width {features.GetIntegerValue('Width')[1]}, Height {features.GetIntegerValue('Height')[1]}, "
          f"DemoLevel {features.GetIntegerValue('DemoLevel')[1]}")
    features.SetIntegerValue("DemoLevel", 7)
    print(f"  DemoLevel written by the client: the device's register holds "
          f"{device.GetRegisterMap().GetRegisterByAddress(0xA000).ReadInt()[1]}")
    client.Disconnect()

    grabber = "/usr/bin/python3"
    if subprocess.run([grabber, "-I", "-c", "import gi; gi.require_version('Aravis', '0.8')"],
                      capture_output=True).returncode != 0:
        print("stream: skipped (needs python3-gi and gir1.2-aravis-0.8)")
    else:
        with tempfile.TemporaryDirectory() as folder:
            raw = os.path.join(folder, "frame.raw")
            done = subprocess.run([grabber, "-I", "-c", GRAB, raw], capture_output=True, text=True, timeout=60)
            if done.returncode == 0 and done.stdout.split():
                frame_id, width, height = map(int, done.stdout.split())
                write_png(picture, pathlib.Path(raw).read_bytes(), width, height)
                print(f"aravis received frame {frame_id} ({width} x {height}) of the {source.frames} the Python source "
                      f"filled; saved as {picture}")
            else:
                print("stream: aravis received nothing", done.stderr[-300:])
    device.Stop()


def main(picture=None):
    build = pathlib.Path(__file__).resolve().parent.parent / "build"
    picture = os.path.abspath(picture or (build if build.is_dir() else pathlib.Path.cwd()) / "edge-frame.png")
    if len(sys.argv) > 2 and sys.argv[1] == "--inside":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        run_device(sys.argv[2])
        return
    if shutil.which("unshare") is None or subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        print("software device: skipped (needs network namespaces)")
        return
    subprocess.run(["unshare", "-n", sys.executable, os.path.abspath(__file__), "--inside", picture], check=True)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) == 2 else None)
