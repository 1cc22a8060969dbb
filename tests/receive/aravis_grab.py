"""aravis's own client, for comparison: grabs frames of the GigE Vision
device at an address in Mono8 and writes each frame's bytes to a file named
after its frame id in a folder. Run by the system's python3 (aravis's
GObject binding); prints the ids it saved."""

import pathlib
import sys

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402

address, count, folder = sys.argv[1], int(sys.argv[2]), pathlib.Path(sys.argv[3])
camera = Aravis.Camera.new(address)
camera.set_pixel_format_from_string("Mono8")
region = camera.get_region()
stream = camera.create_stream(None, None)
payload = camera.get_payload()
for _ in range(4):
    stream.push_buffer(Aravis.Buffer.new_allocate(payload))
camera.start_acquisition()
saved = []
while len(saved) < count:
    buffer = stream.timeout_pop_buffer(3000000)
    if buffer is None:
        break
    if buffer.get_status() == Aravis.BufferStatus.SUCCESS:
        (folder / f"{buffer.get_frame_id()}.raw").write_bytes(buffer.get_data())
        saved.append(buffer.get_frame_id())
    stream.push_buffer(buffer)
camera.stop_acquisition()
print(region.width, region.height, *saved)
