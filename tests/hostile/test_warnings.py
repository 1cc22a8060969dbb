"""The modules under warnings as errors (-W error, PYTHONWARNINGS=error) and
in Python's development mode: each imports, works and ends the program
without a warning, alone or beside the others."""

import subprocess
import sys

import pytest

from children import child_env

# Uses the modules it imports: views, a refused string, calls and a refused
# answer of a Python source, objects destroyed, the end of the program.
PROGRAM = """
import gc, sys
import numpy as np
for name in sys.argv[1:]:
    __import__(name)
if "tarn_base_313" in sys.modules:
    tarn = sys.modules["tarn_base_313"]
    buffer = tarn.TnBuffer()
    buffer.GetImage().Alloc(16, 8, tarn.TnPixelMono8)
    buffer.GetImage().GetDataPointer()[:] = 7
    try:
        tarn.TnSystem().FindDevice(b"CAM-0042")
    except TypeError:
        pass
if "tarn_receive_313" in sys.modules:
    rx = sys.modules["tarn_receive_313"]
    assert not rx.TnDeviceSerialPort().Write(np.zeros(4, np.uint8))[0].IsOK()
    pipeline = rx.TnPipeline(rx.TnStreamRTP())
if "tarn_edge_313" in sys.modules:
    edge = sys.modules["tarn_edge_313"]
    source = type("Source", (edge.ITnSWStreamingChannelSource,), {"GetWidth": lambda self: None})()
    try:
        sys.modules["_tarn_edge_313"].ITnStreamingChannelSource_GetWidth(source.this)
    except TypeError:
        pass
    edge.TnSoftDeviceGEV().AddStream(source)
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
