"""Child programs of test_descriptions.py: a controller connects to the
hostile camera, which serves a description written to cost its reader. The
isolated fixture runs each in a network namespace of its own:
descriptions_child.py NAME. "served" runs again under an address-space limit
("limited"), so that a description that takes more memory than it may fails
the test instead of exhausting the machine."""

import io
import os
import pathlib
import signal
import tempfile
import threading
import time
import zipfile

import child
from child import out
from hostile_camera import AREA, READMEM, HostileCamera, zipped
from hostile_descriptions import DESCRIPTIONS, description, integer

import tarn_base_313 as tarn
import tarn_receive_313 as rx

LIMIT = 3 << 30  # address space: the process and its threads take about 1 GB


def connect(camera):
    """[code, description] of a controller's connection to CAMERA, and when
    it connects the feature Width's value and the length of every Bit
    entry's ToolTip."""
    device = rx.TnDeviceGEV()
    try:
        result = device.Connect("127.0.0.1")
        answer = [result.GetCodeString(), result.GetDescription()]
        if result.IsOK():
            features = device.GetParameters()
            answer.append(features.GetIntegerValue("Width")[1])
            answer.append(sorted({len(features.Get(index).GetToolTip()[1]) for index in range(features.GetCount())
                                  if features.Get(index).GetName()[1].startswith("Bit")}))
            device.Disconnect()
        return answer
    finally:
        camera.close()


if child.NAME == "served":
    # A sanitizer's shadow memory exceeds any such limit: there, its own bound
    # on a single allocation stands in for it.
    limit = () if os.environ.get("TARN_SANITIZED") else ("prlimit", f"--as={LIMIT}")
    out.update(child.rerun("limited", prefix=limit, timeout=300).result or {})


if child.NAME == "limited":
    for name, make in DESCRIPTIONS.items():
        data, packed = make()
        out[name] = connect(HostileCamera(data, zipped_description=packed))
    # Nothing but NUL, or nothing at all.
    out["8 NUL bytes"] = connect(HostileCamera(bytes(8)))
    empty = zipped(b"")
    out["an empty zip member"] = connect(HostileCamera(empty, url=f"Local:empty.zip;{AREA:x};{len(empty):x}"))
    archive = io.BytesIO()
    with zipfile.ZipFile(archive, "w") as writer:
        writer.writestr(zipfile.ZipInfo("folder/"), b"")
    folder = archive.getvalue()
    out["a zip of a folder"] = connect(HostileCamera(folder, url=f"Local:folder.zip;{AREA:x};{len(folder):x}"))
    with tempfile.NamedTemporaryFile(suffix=".xml") as file:
        out["an empty file"] = connect(HostileCamera(url=f"File://{file.name}"))


class SignalAfterServing(HostileCamera):
    """Sends the process SIGINT once it has served the description's last
    byte, while the controller reads what it got."""

    def __init__(self, data, **options):
        super().__init__(data, **options)
        self.end = AREA + len(data)
        self.signalled = None

    def answer(self, code, payload, sender):
        answer = super().answer(code, payload, sender)
        if code == READMEM and self.signalled is None and len(payload) >= 8:
            address, count = int.from_bytes(payload[:4], "big"), int.from_bytes(payload[6:8], "big")
            if address + count >= self.end:
                self.signalled = time.monotonic() + 0.02
                threading.Timer(0.02, os.kill, (os.getpid(), signal.SIGINT)).start()
        return answer


if child.NAME == "interrupted":
    # Slow to read, within every limit: many nodes and megabytes of comments.
    comment = "<!--" + " " * (1 << 20) + "-->\n"
    nodes = "".join(integer(f"N{i}") for i in range(15_000)) + comment * 60
    data = zipped(description(integer() + nodes))
    camera = SignalAfterServing(data, url=f"Local:slow.zip;{AREA:x};{len(data):x}", heartbeat_ms=1000)
    device = rx.TnDeviceGEV()
    try:
        result = device.Connect("127.0.0.1")
        out["returned"] = result.GetCodeString()
    except KeyboardInterrupt:
        out["heard"] = time.monotonic() - camera.signalled
    out["connected"] = device.IsConnected()
    # The camera is still there to connect to, once it no longer waits for
    # the interrupted controller's heartbeat.
    if camera.signalled is not None:
        camera.signalled = 0.0
    time.sleep(1.5)
    result = device.Connect("127.0.0.1")
    out["again"] = [result.GetCodeString(), result.GetDescription()]
    camera.close()
