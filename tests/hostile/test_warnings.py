"""The modules under warnings as errors (-W error, PYTHONWARNINGS=error) and
in Python's development mode: each imports, works and ends the program
without a warning, alone or beside the others."""

import subprocess
import sys

import pytest

from children import child_env

# Uses every module it finds imported: objects made and destroyed, views,
# strings refused, a failing override reported, and the end of the program.
PROGRAM = """
import gc, sys
import numpy as np
for name in sys.argv[1:]:
    __import__(name)
tarn = sys.modules.get("tarn_base_313")
if tarn:
    buffer = tarn.TnBuffer()
    buffer.GetImage().Alloc(16, 8, tarn.TnPixelMono8)
    view = buffer.GetImage().GetDataPointer()
    view[:] = 7
    assert repr(buffer) and int(view.sum()) == 7 * 128 and str(tarn.TnResult(tarn.TN_TIMEOUT, "late"))
    try:
        tarn.TnSystem().FindDevice(b"CAM-0042")
    except TypeError:
        pass
    del buffer, view
rx = sys.modules.get("tarn_receive_313")
if rx:
    device, port = rx.TnDeviceGEV(), rx.TnDeviceSerialPort()
    assert not device.WriteMemory(0xE8, b"tarn").IsOK() and not port.Write(np.zeros(4, np.uint8))[0].IsOK()
    pipeline = rx.TnPipeline(rx.TnStreamRTP())
    del device, port, pipeline
edge = sys.modules.get("tarn_edge_313")
if edge:
    class Source(edge.ITnSWStreamingChannelSource):
        def GetWidth(self):
            return None
    source = Source()
    try:
        sys.modules["_tarn_edge_313"].ITnStreamingChannelSource_GetWidth(source.this)
    except TypeError:
        pass
    device = edge.TnSoftDeviceGEV()
    device.AddStream(source)
    del device, source
gc.collect()
print("done")
"""

MODULES = [["tarn_base_313"], ["tarn_receive_313"], ["tarn_edge_313"], ["tarn_edge_313", "tarn_receive_313"]]
OPTIONS = [["-W", "error"], ["-W", "error::DeprecationWarning"], ["-X", "dev"], ["-X", "dev", "-W", "error"]]


@pytest.mark.parametrize("modules", MODULES, ids="+".join)
@pytest.mark.parametrize("options", OPTIONS + [["PYTHONWARNINGS=error"]], ids=" ".join)
def test_modules_start_work_and_end_without_a_warning(modules, options):
    variables = dict(option.split("=", 1) for option in options if "=" in option)
    flags = [option for option in options if "=" not in option]
    done = subprocess.run([sys.executable, *flags, "-c", PROGRAM, *modules], capture_output=True, text=True,
                          timeout=120, env=child_env(variables))
    assert done.returncode == 0 and done.stdout.endswith("done\n"), (done.returncode, done.stdout, done.stderr)
    assert done.stderr == ""
