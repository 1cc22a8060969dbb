"""Trigger selectors, the trigger callback and the triggered source: the
selectors' state machines, the callback's forwarding, and a Python source
built on the triggered source serving a device whose client fires software
triggers."""

import pathlib

import pytest

HERE = pathlib.Path(__file__).resolve().parent


def outcome(call, *args):
    try:
        return call(*args)
    except Exception as error:
        return type(error), str(error)


def states(selector, *steps):
    seen = []
    for step in steps:
        name, *args = step if isinstance(step, tuple) else (step,)
        getattr(selector, name)(*args)
        seen.append(selector.GetState())
    return seen


def test_selector_state_machines(ed, edge):
    default = ed.TnTriggerSelectorDefault()
    assert [default.GetName(), default.GetSource(), default.GetState(), default.GetMode()] == ["N/A", 0, 0, False]
    assert states(default, ("Start", 480), "Stop", "FireTrigger", "Rearm", ("SetMode", True)) == [0, 0, 0, 0, 1]
    acquisition = ed.TnTriggerSelectorAcquisitionStart()
    assert states(acquisition, ("Start", 480), ("SetMode", True), ("Start", 480), "FireTrigger", "Rearm", "Stop") == [
        0, 1, 2, 4, 4, 1]
    frame = ed.TnTriggerSelectorFrameStart("Frames")
    assert frame.GetName() == "Frames"
    assert states(frame, ("SetMode", True), ("Start", 1), "FireTrigger", "FireTrigger", "Rearm", ("SetMode", True)) == [
        1, 2, 3, 3, 2, 1]
    line = ed.TnTriggerSelectorLineStart()
    assert states(line, ("SetMode", True), ("Start", 3), "FireTrigger", "FireTrigger", "FireTrigger", "Rearm",
                  "FireTrigger", "FireTrigger", "FireTrigger") == [1, 2, 2, 2, 3, 2, 2, 2, 3]
    assert line.GetMode() and line.IsEnabled()
    edge.ITnTriggerSelector_FireTrigger(frame)  # the concrete class's own, through the interface
    assert edge.ITnTriggerSelector_Stop(ed.TnTriggerSelectorFrameStart()) is None
    frame.SetSource(4294967295)
    assert frame.GetSource() == 4294967295
    assert outcome(frame.SetMode, 1) == (TypeError, "in method 'TnTriggerSelectorDefault_SetMode', argument 2 of type 'bool'")
    assert outcome(line.Start, -1)[0] is OverflowError and outcome(line.Start, "x")[0] is TypeError
    error, text = outcome(edge.new_TnTriggerSelectorLineStart, b"bytes")
    assert error is TypeError and text.startswith(
        "Wrong number or type of arguments for overloaded function 'new_TnTriggerSelectorLineStart'.")
    assert not hasattr(edge, "TnTriggerSelectorDefault_GetState")


def test_callback_forwarding(ed, edge, capfd):
    assert outcome(edge.new_ITnTriggerCallback, None) == (RuntimeError, "accessing abstract class or protected constructor")

    class Callback(ed.ITnTriggerCallback):
        def TriggerCallbackMethod(self, selector):
            self.seen = None if selector is None else (selector.GetName(), selector.GetState())
            return 5

    callback = Callback()
    selector = ed.TnTriggerSelectorFrameStart("Fired")
    assert edge.ITnTriggerCallback_TriggerCallbackMethod(callback.this, selector) is None
    assert callback.seen == ("Fired", 0)
    edge.ITnTriggerCallback_TriggerCallbackMethod(callback.this, None)
    assert callback.seen is None
    assert outcome(edge.ITnTriggerCallback_TriggerCallbackMethod, callback, selector) == (
        RuntimeError, "SWIG director pure virtual method called ITnTriggerCallback::TriggerCallbackMethod")

    class Raising(ed.ITnTriggerCallback):
        def TriggerCallbackMethod(self, selector):
            raise ValueError("x")

    raising = Raising()
    assert outcome(edge.ITnTriggerCallback_TriggerCallbackMethod, raising.this, None)[0] is RuntimeError
    assert capfd.readouterr().out == "In method 'TriggerCallbackMethod': ValueError: x\n"
    # A pointer object kept past its Python object refuses every call.
    kept = Raising().this
    assert outcome(edge.ITnTriggerCallback_TriggerCallbackMethod, kept, None) == (
        TypeError, "in method 'ITnTriggerCallback_TriggerCallbackMethod', argument 1 of type 'ITnTriggerCallback *'")


def test_triggered_source_forms(ed, edge):
    assert outcome(edge.new_TnStreamingChannelSourceTrigger, None, 0, 0x20000) == (
        RuntimeError, "accessing abstract class or protected constructor")
    assert outcome(edge.new_TnStreamingChannelSourceTrigger, None, -1, 0) == (
        OverflowError, "in method 'new_TnStreamingChannelSourceTrigger', argument 2 of type 'uint32_t'")
    assert outcome(edge.new_TnStreamingChannelSourceTrigger, None, 0, 1.5) == (
        TypeError, "in method 'new_TnStreamingChannelSourceTrigger', argument 3 of type 'uint32_t'")

    class Source(ed.TnStreamingChannelSourceTrigger):
        pass

    source = Source(0, 0x20000)
    assert source.AddSelector(13, None) is None and source.AddSelector(-1, ed.TnTriggerSelectorDefault()) is None
    assert outcome(source.AddSelector, 2**31, None) == (
        OverflowError, "in method 'TnStreamingChannelSourceTrigger_AddSelector', argument 2 of type 'TriggerSelectorEnum'")
    assert outcome(source.AddSelector, 0, ed.TnString("x")) == (
        TypeError, "in method 'TnStreamingChannelSourceTrigger_AddSelector', argument 3 of type "
                   "'TnStreamingChannelSourceTrigger::SelectorEntry'")
    assert outcome(source.AddSource, 2, 5) == (TypeError, "Argument 3: failed to create TnString from Python string")
    assert outcome(edge.TnStreamingChannelSourceTrigger_CreateTriggerSource, source, None, None) == (
        RuntimeError, "accessing protected member CreateTriggerSource")
    assert outcome(edge.TnStreamingChannelSourceTrigger_CreateTriggerSource, source, 5, None)[1] == (
        "in method 'TnStreamingChannelSourceTrigger_CreateTriggerSource', argument 2 of type 'ITnRegisterMap *'")
    # Not stopped-while-streaming: the pre-queue step answers at once.
    assert source.PreQueueBufferProc() is False and source.GetMode() is False
    # Python is never asked how many buffers the transmitter uses.
    result, count = edge.ITnSWStreamingChannelSource_GetTxNumBuffersToUse(source.this, 0)
    assert (result.GetCode(), count) == (ed.TN_NOT_IMPLEMENTED, 0)
    assert edge.TnStreamingChannelSourceTrigger_PreRead(source, None).GetCode() == ed.TN_OK


def test_triggered_source_in_a_device(isolated):
    out = isolated(f'''
sys.path.insert(0, {str(HERE)!r})
import threading
import devices
import tarn_edge_313 as edge, _tarn_edge_313 as module
import tarn_receive_313 as rx

class Callback(edge.ITnTriggerCallback):
    def __init__(self):
        super().__init__()
        self.fired = []
    def TriggerCallbackMethod(self, selector):
        self.fired.append([selector.GetName(), selector.GetState()])

class Source(edge.TnStreamingChannelSourceTrigger):
    """A source of Python's own: geometry, buffers, queueing."""
    def __init__(self):
        super().__init__(0, 0x20000)
        self.buffers, self.queue, self.changed, self.protected = [], [], threading.Condition(), []
    def GetWidth(self): return 32
    def GetHeight(self): return 16
    def GetOffsetX(self): return 0
    GetOffsetY = GetChunksSize = GetPayloadSize = GetOffsetX
    def GetPixelType(self): return edge.TnPixelMono8
    def GetWidthInfo(self): return (32, 32, 1)
    GetHeightInfo = lambda self: (16, 16, 1)
    def GetScanType(self): return edge.TnScanTypeArea
    def GetChunkModeActive(self): return False
    def GetChunkEnable(self, chunk): return False
    def GetSupportedPixelType(self, index): return (0, edge.TnPixelMono8) if index == 0 else (edge.TN_INVALID_PARAMETER, 0)
    def GetSupportedChunk(self, index): return (edge.TN_INVALID_PARAMETER, 0, "")
    def SetWidth(self, value): return edge.TN_NOT_SUPPORTED
    SetHeight = SetOffsetX = SetOffsetY = SetPixelType = SetChunkModeActive = SetWidth
    def SetChunkEnable(self, chunk, enabled): return edge.TN_NOT_SUPPORTED
    def OnOpen(self, address, port): pass
    def OnClose(self): pass
    def AllocBuffer(self):
        if len(self.buffers) == 4:
            return None
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
        buffer.GetImage().Alloc(32, 16, tarn.TnPixelMono8)
        self.buffers.append(buffer)
        return buffer
    def FreeBuffer(self, buffer):
        for kept in self.buffers:
            if kept == buffer:
                kept.this.acquire()
        self.freed = True
    def QueueBuffer(self, buffer):
        with self.changed:
            self.queue.append(buffer)
            self.changed.notify()
        return 0
    def RetrieveBuffer(self, location):
        with self.changed:
            if not self.queue and not self.changed.wait(0.02):
                return (edge.TN_TIMEOUT, None)
            return (0, self.queue.pop(0))
    def AbortQueuedBuffers(self): pass
    def CreateTriggerMode(self, registers, factory):
        self.protected.append(str(module.TnStreamingChannelSourceTrigger_CreateTriggerMode(self, registers, factory)))
        try:
            module.TnStreamingChannelSourceTrigger_CreateTriggerSelector(self, registers, factory)
        except RuntimeError as error:
            self.protected.append(str(error))

source = Source()
frames = edge.TnTriggerSelectorFrameStart()
callback = Callback()
source.AddSelector(edge.TRIGGER_SELECTOR_FRAMESTART, frames)
source.AddSelectorTriggerCallback(edge.TRIGGER_SELECTOR_FRAMESTART, callback)
source.AddSource(edge.TRIGGER_SOURCE_USER, "User")
device = devices.started(source)
out["owned"] = [buffer.this.own() for buffer in source.buffers]
client = rx.TnDeviceGEV()
client.Connect("127.0.0.1")
features = client.GetParameters()
out["features"] = [features.SetEnumValue("TriggerMode", "On")[0].GetCodeString(),
                   features.SetEnumValue("TriggerSource", "Software")[0].GetCodeString(),
                   features.GetEnumValueString("TriggerSelector")[1]]
out["mode"] = [source.GetMode(), frames.GetState()]
for _ in range(3):
    features.ExecuteCommand("TriggerSoftware")
out["fired"] = callback.fired
out["protected"] = source.protected
client.Disconnect()
device.Stop()
out["freed"] = [getattr(source, "freed", False), [buffer.this.own() for buffer in source.buffers]]
''')
    assert out["owned"] == [False] * 4
    assert out["features"] == ["OK", "OK", "FrameStart"]
    assert out["mode"] == [True, 1]
    assert len(out["fired"]) == 3 and all(name == "FrameStart" for name, _ in out["fired"])
    assert out["protected"] == ["None", "accessing protected member CreateTriggerSelector"]
    assert out["freed"] == [True, [True] * 4]
