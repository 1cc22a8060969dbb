"""Trigger selectors, the trigger callback and the triggered source: the
selectors' state machines, the callback's forwarding, and a Python source
built on the triggered source serving a device whose client fires software
triggers."""

import gc
import pathlib
import sys
import subprocess
import types
import weakref

import pytest

CHILD = pathlib.Path(__file__).resolve().with_name("triggers_child.py")


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
    # The source holds its selectors and callbacks by address: it keeps the
    # latest selector of each index (its owning pointer object), until the
    # source goes; its proxy keeps the callbacks.
    frame, line = ed.TnTriggerSelectorFrameStart(), ed.TnTriggerSelectorLineStart()
    callback = type("Callback", (ed.ITnTriggerCallback,), {})()
    pointers, called = [frame.this, line.this], weakref.ref(callback)
    counts = [sys.getrefcount(pointers[0]), sys.getrefcount(pointers[1])]
    source.AddSelector(0, frame)
    source.AddSelectorTriggerCallback(0, callback)
    source.AddSelector(0, line)
    edge.TnStreamingChannelSourceTrigger_AddSelector(source, 1, pointers[1])
    del frame, line, callback
    gc.collect()
    changes = [sys.getrefcount(pointers[0]) - counts[0], sys.getrefcount(pointers[1]) - counts[1]]
    assert changes == [-1, 1]
    assert called() is not None
    assert pointers[1].own() and edge.ITnTriggerSelector_GetName(pointers[1]) == "LineStart"
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
    # A selector destroyed while the source holds it: its pointer object is
    # emptied, the selector goes with the source.
    count = sys.getrefcount(pointers[1])
    edge.delete_TnTriggerSelectorLineStart(pointers[1])
    dropped = count - sys.getrefcount(pointers[1])
    assert dropped == 2 and not pointers[1].own()
    assert outcome(edge.ITnTriggerSelector_GetName, pointers[1])[0] is TypeError
    del source
    gc.collect()


def test_protected_operations_outside_their_forwarded_call(ed, edge):
    """A forwarding object whose Python object lacks the operation fails its
    forwarded call before Python runs: the protected operation stays refused
    afterwards, and never receives null objects."""
    target = types.SimpleNamespace()
    target.this = edge.new_TnStreamingChannelSourceTrigger(target, 0, 0x20000)
    try:
        assert outcome(edge.TnStreamingChannelSourceTrigger_CreateGenApiFeatures, target, None, None) == (
            AttributeError, "'types.SimpleNamespace' object has no attribute 'CreateTriggerSelector'")
        assert outcome(edge.TnStreamingChannelSourceTrigger_CreateTriggerSelector, target, None, None) == (
            RuntimeError, "accessing protected member CreateTriggerSelector")
    finally:
        edge.delete_TnStreamingChannelSourceTrigger(target.this)


def test_triggered_source_in_a_device(isolated):
    out = isolated(CHILD, "triggered_source_in_a_device")
    assert out["owned"] == [False] * 4
    assert out["features"] == ["OK", "OK", "FrameStart"]
    assert out["mode"] == [True, 1]
    assert len(out["fired"]) == 3 and all(name == "FrameStart" for name, _ in out["fired"])
    null = "invalid null reference in method 'TnStreamingChannelSourceTrigger_CreateTriggerMode', argument {} of type '{}'"
    assert out["protected"] == [
        "None", ["RuntimeError", "accessing protected member CreateTriggerSelector"],
        ["TypeError", null.format(2, "ITnRegisterMap *")], ["TypeError", null.format(3, "ITnGenApiFactory *")],
        ["RuntimeError", "accessing protected member CreateTriggerMode"]]
    assert out["outside"] == [["RuntimeError", "accessing protected member CreateTriggerMode"]] * 2 + [
        ["RuntimeError", "accessing protected member CreateTriggerSoftware"]] * 2
    assert out["freed"] == [True, [True] * 4]


def test_software_triggers_from_aravis(isolated):
    """aravis's client sets the trigger features, starts the acquisition and
    fires three software triggers: one frame each, none before the first and
    none after the last."""
    done = subprocess.run(["/usr/bin/python3", "-I", "-c", "import gi; gi.require_version('Aravis', '0.8')"],
                          capture_output=True)
    if done.returncode != 0:
        pytest.skip("aravis's GObject binding (gir1.2-aravis-0.8) is not installed")
    out = isolated(CHILD, "software_triggers_from_aravis", timeout=120)
    assert out["fired"] == 3, out
    sent = iter(out["sent"])
    assert out["lines"] == ["before timeout"] + [f"trigger {block} {next(sent)}" for block in (1, 2, 3)] + [
        "after timeout"], out
