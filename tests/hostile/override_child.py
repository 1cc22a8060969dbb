"""One child process of the hostile-override test: Python classes that
misbehave as implementations of every overridable class of one module.

    override_child.py forward MODULE
    override_child.py running MODULE

Kinds of misbehaving object, made for each overridable class:
  missing    a subclass that defines no method at all
  raising    a subclass whose every method raises
  wrong      a subclass whose every method returns a value of a wrong type
  protected  a subclass whose every method calls the class's protected
             operations and its own base operation (once deep)
  namespace  a forwarding object made over a plain object without methods
  gone       a forwarding object whose Python object was collected while its
             pointer object was handed over

`forward` calls every operation of each through the module's functions, so
that it is forwarded to the Python object, and prints what each call raised
as JSON. `running` attaches them to what runs: log sinks to the SDK's log,
observers to an updater, device and pipeline sinks to a device and a
pipeline streaming from a software device, and sources, device sinks,
register sinks, user-set notifications and trigger callbacks to software
devices that a client connects to, reads, writes, triggers and streams from.
A crash, a hang or a SystemError is a fault; every exception is an answer."""

import gc
import importlib
import inspect
import json
import pathlib
import re
import sys
import threading
import time
import types

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "edge"))

KINDS = ["missing", "raising", "wrong", "protected", "namespace", "gone"]
WRONG = [None, "wrong", 2**70, -1, 1.5, (1,), (None, None, None), object(), b"x", [0, 1], True]
CANDIDATES = [None, 0, True, "x", 1.5, b"x"]
CONSTRUCTION = {"TnStreamingChannelSourceDefault": (32, 16), "TnStreamingChannelSourceTrigger": (0, 0x20000)}
PROTECTED = {"TnStreamingChannelSourceTrigger": ["CreateTriggerSelector", "CreateTriggerMode", "CreateTriggerSource",
                                                 "CreateTriggerSoftware"]}
ARGUMENT = re.compile(r"[Aa]rgument (\d+)")


def overridable(proxy):
    """The proxy module's classes that Python may override."""
    return [cls for name, cls in sorted(vars(proxy).items())
            if isinstance(cls, type) and "__disown__" in vars(cls) and cls.__module__ == proxy.__name__]


def operations(cls, extension):
    """The class's operations that have a module function of its own or of
    a base class: name -> (function, number of arguments after self)."""
    found = {}
    for name in dir(cls):
        if not name[:1].isupper() or not callable(getattr(cls, name, None)):
            continue
        for klass in cls.__mro__:
            function = getattr(extension, f"{klass.__name__}_{name}", None)
            if function is not None:
                try:
                    count = len(inspect.signature(getattr(cls, name)).parameters) - 1
                except (TypeError, ValueError):
                    count = 0
                found[name] = (function, count)
                break
    return found


def answer(error):
    return f"{type(error).__name__}: {error}"[:300]


def reach(function, target, count):
    """Calls function(target, ...) with arguments that the function's
    conversions accept where it can find them: each argument a conversion
    refuses is replaced by the next candidate. What the last call raised or
    returned."""
    arguments, choices = [None] * count, [0] * count
    for _ in range(40):
        try:
            result = function(target, *arguments)
            return f"returned {type(result).__name__}"
        except Exception as error:
            if isinstance(error, SystemError):
                raise
            position = ARGUMENT.search(str(error))
            index = int(position.group(1)) - 2 if position else -1
            if not 0 <= index < count or choices[index] + 1 >= len(CANDIDATES):
                return answer(error)
            choices[index] += 1
            arguments[index] = CANDIDATES[choices[index]]
    return "too many tries"


class Maker:
    """Makes the misbehaving objects of one module's overridable classes."""

    def __init__(self, module):
        self.extension = importlib.import_module("_" + module)
        self.proxy = importlib.import_module(module)
        self.kept = []
        self.depth = threading.local()

    def variant(self, cls, kind):
        names = list(operations(cls, self.extension))
        if kind == "missing":
            return type("Missing" + cls.__name__, (cls,), {})
        body = {}
        for index, name in enumerate(names):
            if kind == "raising":
                def method(self, *arguments, name=name):
                    raise ValueError(f"hostile {name}")
            elif kind == "wrong":
                def method(self, *arguments, value=WRONG[index % len(WRONG)]):
                    return value
            else:
                def method(self, *arguments, name=name, maker=self, cls=cls):
                    return maker.reenter(self, cls, name, arguments)
            body[name] = method
        return type(kind.title() + cls.__name__, (cls,), body)

    def reenter(self, instance, cls, name, arguments):
        """Calls the protected operations, and this operation's base, from
        inside a forwarded call; one level deep on each thread."""
        depth = getattr(self.depth, "value", 0)
        if depth:
            return None
        self.depth.value = 1
        try:
            for protected in PROTECTED.get(cls.__name__, []):
                function = getattr(self.extension, f"{cls.__name__}_{protected}")
                for call in ((instance, None, None), (instance, *arguments[:2])):
                    try:
                        function(*call)
                    except Exception:
                        pass
            function, count = operations(cls, self.extension)[name]
            try:
                return function(instance, *arguments[:count])
            except Exception:
                return None
        finally:
            self.depth.value = 0

    def make(self, cls, kind):
        """A misbehaving object of the class, as what the module functions
        take: a proxy, or a pointer object."""
        construct = getattr(self.extension, "new_" + cls.__name__)
        extra = CONSTRUCTION.get(cls.__name__, ())
        if kind == "namespace":
            return construct(types.SimpleNamespace(), *extra)
        instance = self.variant(cls, "missing" if kind == "gone" else kind)(*extra)
        if kind != "gone":
            self.kept.append(instance)
            return instance
        pointer = instance.this
        pointer.disown()
        del instance
        gc.collect()
        return pointer

    def target(self, made):
        """What a module function forwards to the Python object with."""
        return getattr(made, "this", made)


def forward(module):
    maker = Maker(module)
    report = {}
    for cls in overridable(maker.proxy):
        report[cls.__name__] = {}
        for kind in KINDS:
            made = maker.make(cls, kind)
            report[cls.__name__][kind] = {
                name: reach(function, maker.target(made), count)
                for name, (function, count) in sorted(operations(cls, maker.extension).items())}
    print("REPORT " + json.dumps(report), flush=True)


# --- Running ----------------------------------------------------------------


def all_kinds(maker, cls):
    return [maker.make(cls, kind) for kind in KINDS]


def running_base(maker):
    hooks = importlib.import_module("tn_testhooks")
    sinks = all_kinds(maker, maker.proxy.TnLogSink)
    for sink in sinks:
        hooks.AddLogSink(sink)
    for index in range(3):
        hooks.DispatchLogFromThread(maker.proxy.TnLogLevelError, f"line {index}")
        maker.proxy.TnLogger("hostile").LogError("f", 1, "g", f"direct {index}")
    for sink in sinks:
        hooks.RemoveLogSink(sink)


def wait(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.01)


def running_receive(maker):
    import devices  # noqa: F401  (loads the edge module beside this one)
    rx, ext = maker.proxy, maker.extension
    hooks = importlib.import_module("tn_testhooks")
    lines = []

    class Lines(rx.TnLogSink):
        def Log(self, level, source, line, function, logger, message):
            lines.append(message)

    log = Lines()
    hooks.AddLogSink(log)
    updater = rx.TnGenFUUpdater("/nonexistent", "update.bin", None, "", False)
    observers = all_kinds(maker, rx.IUpdaterObserver)
    for observer in observers:
        ext.TnGenFUUpdater_Attach(updater, observer)
    updater.Start()
    wait(updater.IsDone, 10)
    for observer in observers:
        ext.TnGenFUUpdater_Detach(updater, observer)

    source = devices.PatternSource(64, 48)
    device = devices.started(source)
    channel = device.GetMessagingChannel()
    client = rx.TnDeviceGEV()
    client.Connect("127.0.0.1")
    sinks = all_kinds(maker, rx.TnDeviceEventSink)
    for sink in sinks:
        ext.TnDevice_RegisterEventSink(client, sink)
    features = client.GetParameters()
    stream = rx.TnStreamGEV()
    stream.Open("127.0.0.1", 0)
    pipeline = rx.TnPipeline(stream)
    pipeline.SetBufferSize(features.GetIntegerValue("PayloadSize")[1])
    pipeline_sinks = all_kinds(maker, rx.TnPipelineEventSink)
    for sink in pipeline_sinks:
        ext.TnPipeline_RegisterEventSink(pipeline, sink)
    pipeline.SetBufferCount(4)
    pipeline.Start()
    client.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort())
    features.Get("AcquisitionStart").Execute()
    taken = []
    deadline = time.monotonic() + 3
    while len(taken) < 5 and time.monotonic() < deadline:
        result, buffer, operation = pipeline.RetrieveNextBuffer(100)
        if result.IsOK():
            taken.append(buffer.GetBlockID())
            pipeline.ReleaseBuffer(buffer)
    for event in (0x9001, 0x9002):
        channel.FireEvent(event)
    pipeline.SetBufferCount(6)
    pipeline.Reset()
    features.Get("AcquisitionStop").Execute()
    pipeline.Stop()
    for sink in pipeline_sinks:
        ext.TnPipeline_UnregisterEventSink(pipeline, sink)
    device.Stop()  # the link to the client goes down under its sinks
    time.sleep(0.3)
    for sink in sinks:
        ext.TnDevice_UnregisterEventSink(client, sink)
    client.Disconnect()
    stream.Close()
    hooks.RemoveLogSink(log)
    print("REPORT " + json.dumps({"frames": len(taken), "updater": [line for line in lines if "observer" in line]}),
          flush=True)


def running_edge(maker):
    import devices
    edge, ext = maker.proxy, maker.extension
    rx = importlib.import_module("tarn_receive_313")
    sources = [cls for cls in overridable(edge) if issubclass(cls, edge.ITnSWStreamingChannelSource)]
    outcomes, outside = [], []
    for cls in sources:
        for kind in KINDS:
            source = maker.make(cls, kind)
            sink = devices.DeviceSink(features=True)
            device = edge.TnSoftDeviceGEV()
            device.SetUserSetCount(1)
            notify = maker.make(edge.ITnUserSetNotify, kind)
            device_sink = maker.make(edge.ITnVirtualDeviceGEVEventSink, kind)
            ext.ITnVirtualDeviceGEV_SetUserSetNotify(device, notify)
            ext.ITnVirtualDeviceGEV_RegisterEventSink(device, sink)
            ext.ITnVirtualDeviceGEV_RegisterEventSink(device, device_sink)
            ext.ITnSoftDeviceGEV_AddStream(device, source)
            selectors = []
            if cls is edge.TnStreamingChannelSourceTrigger:
                selectors = [edge.TnTriggerSelectorFrameStart(), maker.make(edge.ITnTriggerCallback, kind)]
                ext.TnStreamingChannelSourceTrigger_AddSelector(source, 0, selectors[0])
                ext.TnStreamingChannelSourceTrigger_AddSelectorTriggerCallback(source, 0, selectors[1])
                if kind == "missing":  # a selector only the source's proxy keeps
                    source.AddSelector(edge.TRIGGER_SELECTOR_ACQUISITIONSTART, edge.TnTriggerSelectorAcquisitionStart())
            started = device.Start(devices.LOOPBACK_MAC)
            outcomes.append([cls.__name__, kind, started.GetCodeString()])
            if cls is edge.TnStreamingChannelSourceTrigger:
                outside.append(reach(ext.TnStreamingChannelSourceTrigger_CreateTriggerMode, source, 2))
            if started.IsOK():
                register = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM)
                register_sink = maker.make(edge.ITnRegisterEventSink, kind)
                register.AddEventSink(register_sink)
                client = rx.TnDeviceGEV()
                if client.Connect("127.0.0.1").IsOK():
                    features = client.GetParameters()
                    features.SetIntegerValue("TarnInt", 7)
                    features.GetIntegerValue("TarnInt")
                    features.SetEnumValue("UserSetSelector", "UserSet1")
                    features.ExecuteCommand("UserSetSave")
                    features.ExecuteCommand("UserSetLoad")
                    features.SetEnumValue("TriggerMode", "On")
                    stream = rx.TnStreamGEV()
                    stream.Open("127.0.0.1", 0)
                    client.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort())
                    features.ExecuteCommand("AcquisitionStart")
                    features.ExecuteCommand("TriggerSoftware")
                    time.sleep(0.2)
                    features.ExecuteCommand("AcquisitionStop")
                    stream.Close()
                    client.Disconnect()
            device.Stop()
            del device
            gc.collect()
    print("REPORT " + json.dumps({"devices": outcomes, "outside": outside}), flush=True)


def main():
    mode, module = sys.argv[1], sys.argv[2]
    importlib.import_module("tarn_base_313")
    if mode == "forward":
        forward(module)
        return
    maker = Maker(module)
    {"tarn_base_313": running_base, "tarn_receive_313": running_receive, "tarn_edge_313": running_edge}[module](maker)


if __name__ == "__main__":
    main()
