"""Imports the base and receive modules in the order given, from wherever it
runs, and uses objects of each with the other's functions; prints the
modules it imported first.

    receive_startup_child.py FIRST SECOND"""

import importlib
import sys

first, second = (importlib.import_module(name) for name in sys.argv[1:3])
import tarn_base_313 as base  # noqa: E402
import tarn_receive_313 as receive  # noqa: E402

text = base.TnString("shared")
result = receive.TnResult(receive.TN_TIMEOUT, receive.TnString("late"))
assert receive.TnLogger("x").GetLogPriority() is not None
assert base.TnResult.GetCode(result) == 30
assert repr(result) == "<TnResult TIMEOUT: late>" and repr(receive.TnString("x")) == "TnString('x')"
info = base.TnDeviceInfoU3V()
device = receive.TnDeviceU3V()
assert not device.Connect(info).IsOK()
assert device.Connect(text).GetCode() != 0
assert device.GetGUID() == ""
assert sys.modules["swig_runtime_data4"].type_pointer_capsule is not None
print("imported", first.__name__, second.__name__)
