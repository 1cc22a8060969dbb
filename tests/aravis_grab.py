"""aravis's own client, beside the SDK's in the tests: grabs complete frames
of the GigE Vision device at ADDRESS with aravis's GObject binding.

    /usr/bin/python3 aravis_grab.py ADDRESS FRAMES [FOLDER]
    /usr/bin/python3 aravis_grab.py ADDRESS --software-triggers COUNT

Prints one line per frame: its id and the CRC-32 of its bytes, or "failed",
its id and status; "timeout" when none comes in time. With FOLDER it first
sets Mono8, prints the image's width and height on a line of their own, and
saves each complete frame's bytes as FOLDER/ID.raw.

With --software-triggers it sets TriggerSelector FrameStart, TriggerMode On
and TriggerSource Software, starts the acquisition, and prints what arrives
before any trigger ("before" and a frame line), then COUNT times what
arrives after one TriggerSoftware command ("trigger" and a frame line), and
last what arrives after them ("after" and a frame line).

Runs under the system's python3 (Debian: python3-gi, gir1.2-aravis-0.8)."""

import pathlib
import sys
import zlib

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402


class Grabber:
    def __init__(self, address):
        self.camera = Aravis.Camera.new(address)

    def start(self):
        self.camera.set_acquisition_mode(Aravis.AcquisitionMode.CONTINUOUS)
        payload = self.camera.get_payload()
        self.stream = self.camera.create_stream(None, None)
        for _ in range(8):
            self.stream.push_buffer(Aravis.Buffer.new_allocate(payload))
        self.camera.start_acquisition()

    def next(self, seconds, folder=None):
        """The line of the next frame, or "timeout"; whether it was complete."""
        buffer = self.stream.timeout_pop_buffer(int(seconds * 1000000))
        if buffer is None:
            return "timeout", False
        try:
            if buffer.get_status() != Aravis.BufferStatus.SUCCESS:
                return f"failed {buffer.get_frame_id()} {buffer.get_status()}", False
            data = bytes(buffer.get_image_data() if hasattr(buffer, "get_image_data") else buffer.get_data())
            if folder is not None:
                (folder / f"{buffer.get_frame_id()}.raw").write_bytes(data)
            return f"{buffer.get_frame_id()} {zlib.crc32(data)}", True
        finally:
            self.stream.push_buffer(buffer)


def grab(address, frames, folder):
    grabber = Grabber(address)
    if folder is not None:
        grabber.camera.set_pixel_format_from_string("Mono8")
        region = grabber.camera.get_region()
        print(region.width, region.height, flush=True)
    grabber.start()
    done = 0
    try:
        while done < frames:
            line, complete = grabber.next(3, folder)
            print(line, flush=True)
            if line == "timeout":
                break
            done += complete
    finally:
        grabber.camera.stop_acquisition()


def software_triggers(address, count):
    grabber = Grabber(address)
    device = grabber.camera.get_device()
    device.set_string_feature_value("TriggerSelector", "FrameStart")
    device.set_string_feature_value("TriggerMode", "On")
    device.set_string_feature_value("TriggerSource", "Software")
    grabber.start()
    try:
        print("before", grabber.next(0.5)[0], flush=True)
        for _ in range(count):
            device.execute_command("TriggerSoftware")
            print("trigger", grabber.next(3)[0], flush=True)
        print("after", grabber.next(0.5)[0], flush=True)
    finally:
        grabber.camera.stop_acquisition()


def main():
    address = sys.argv[1]
    if sys.argv[2] == "--software-triggers":
        software_triggers(address, int(sys.argv[3]))
    else:
        grab(address, int(sys.argv[2]), pathlib.Path(sys.argv[3]) if len(sys.argv) > 3 else None)


if __name__ == "__main__":
    main()
