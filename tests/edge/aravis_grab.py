"""Grabs frames from a GigE Vision device with aravis's GObject binding and
prints one line per complete frame: its id and the CRC-32 of its bytes.

    /usr/bin/python3 aravis_grab.py ADDRESS FRAMES

Runs under the system's python3 (Debian: python3-gi, gir1.2-aravis-0.8)."""

import sys
import zlib

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402


def main():
    address, frames = sys.argv[1], int(sys.argv[2])
    camera = Aravis.Camera.new(address)
    camera.set_acquisition_mode(Aravis.AcquisitionMode.CONTINUOUS)
    payload = camera.get_payload()
    stream = camera.create_stream(None, None)
    for _ in range(8):
        stream.push_buffer(Aravis.Buffer.new_allocate(payload))
    camera.start_acquisition()
    done = 0
    try:
        while done < frames:
            buffer = stream.timeout_pop_buffer(2000000)
            if buffer is None:
                print("timeout", flush=True)
                break
            if buffer.get_status() == Aravis.BufferStatus.SUCCESS:
                data = buffer.get_image_data() if hasattr(buffer, "get_image_data") else buffer.get_data()
                print(buffer.get_frame_id(), zlib.crc32(bytes(data)), flush=True)
                done += 1
            else:
                print("failed", buffer.get_frame_id(), buffer.get_status(), flush=True)
            stream.push_buffer(buffer)
    finally:
        camera.stop_acquisition()


if __name__ == "__main__":
    main()
