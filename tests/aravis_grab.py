"""aravis's own client, beside the SDK's in the tests: grabs complete frames
of the GigE Vision device at ADDRESS with aravis's GObject binding.

    /usr/bin/python3 aravis_grab.py ADDRESS FRAMES [FOLDER]

Prints one line per frame: its id and the CRC-32 of its bytes, or "failed",
its id and status; "timeout" when none comes in time. With FOLDER it first
sets Mono8, prints the image's width and height on a line of their own, and
saves each complete frame's bytes as FOLDER/ID.raw.

Runs under the system's python3 (Debian: python3-gi, gir1.2-aravis-0.8)."""

import pathlib
import sys
import zlib

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402


def main():
    address, frames = sys.argv[1], int(sys.argv[2])
    folder = pathlib.Path(sys.argv[3]) if len(sys.argv) > 3 else None
    camera = Aravis.Camera.new(address)
    if folder is not None:
        camera.set_pixel_format_from_string("Mono8")
        region = camera.get_region()
        print(region.width, region.height, flush=True)
    camera.set_acquisition_mode(Aravis.AcquisitionMode.CONTINUOUS)
    payload = camera.get_payload()
    stream = camera.create_stream(None, None)
    for _ in range(8):
        stream.push_buffer(Aravis.Buffer.new_allocate(payload))
    camera.start_acquisition()
    done = 0
    try:
        while done < frames:
            buffer = stream.timeout_pop_buffer(3000000)
            if buffer is None:
                print("timeout", flush=True)
                break
            if buffer.get_status() == Aravis.BufferStatus.SUCCESS:
                data = buffer.get_image_data() if hasattr(buffer, "get_image_data") else buffer.get_data()
                if folder is not None:
                    (folder / f"{buffer.get_frame_id()}.raw").write_bytes(bytes(data))
                print(buffer.get_frame_id(), zlib.crc32(bytes(data)), flush=True)
                done += 1
            else:
                print("failed", buffer.get_frame_id(), buffer.get_status(), flush=True)
            stream.push_buffer(buffer)
    finally:
        camera.stop_acquisition()


if __name__ == "__main__":
    main()
