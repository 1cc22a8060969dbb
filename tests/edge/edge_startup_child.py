"""Start-up programs of test_edge_startup.py, each in a process of its own
that imports nothing before it: edge_startup_child.py NAME [MODULE...].

import_in_any_order imports the modules given in that order and uses
objects of each with the others' functions; bare_before_base makes an object
of a base type in the edge module before the base module is imported. Each
prints what it found."""

import sys

NAME = sys.argv[1]

if NAME == "import_in_any_order":
    import importlib
    modules = [importlib.import_module(name) for name in sys.argv[2:]]
    import tarn_base_313 as base, tarn_receive_313 as receive, tarn_edge_313 as edge
    text = receive.TnString("shared")
    result = edge.TnResult(edge.TN_TIMEOUT, base.TnString("late"))
    assert base.TnResult.GetCode(result) == 30 and receive.TnResult.GetCode(result) == 30
    assert repr(result) == "<TnResult TIMEOUT: late>"
    # A buffer of the base module is a buffer to the edge module's functions.
    buffer = base.TnBuffer(base.TnPayloadTypeImage)
    transmitter = edge.TnTransmitterGEV()
    assert transmitter.QueueBuffer(buffer).GetCode() == edge.TN_NOT_CONNECTED
    info = edge.TnSoftDeviceGEV()
    assert info.Start(text).GetCode() == edge.TN_INVALID_PARAMETER
    assert sys.modules["swig_runtime_data4"].type_pointer_capsule is not None
    print("imported", *[module.__name__ for module in modules])


if NAME == "bare_before_base":
    import _tarn_edge_313 as module, tarn_edge_313 as edge

    class Source(edge.ITnSWStreamingChannelSource):
        def FreeBuffer(self, buffer):
            self.freed = buffer

    import _tarn_base_313 as base
    buffer = base.new_TnBuffer()
    source = Source()
    assert module.ITnSWStreamingChannelSource_FreeBuffer(source.this, buffer) is None
    print(repr(source.freed).split(" at ")[0])
