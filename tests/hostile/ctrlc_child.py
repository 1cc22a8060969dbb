"""Ctrl-C where a program's main thread meets callbacks.

    ctrlc_child.py inside CALLBACK    (in a network namespace)
    ctrlc_child.py waiting CASE

inside: the main thread makes one SDK call that runs the callback CALLBACK
on the main thread; the callback sends the process SIGINT and goes on in
Python, where the handler raises. out["raised"] is what the call raised,
out["again"] what the same call answers once more.

waiting: another thread's callback sleeps (until `release` is set) while the
main thread stops, closes or destroys what runs it; SIGINT comes 0.3 s into
that call. out["raised"] is what the call raised and out["seconds"] how long
it took; out["after"] what the object (or one in its place) answers once the
callback has returned."""

import os
import signal
import sys
import threading
import time

import child
from child import out

import _tarn_base_313

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, os.pardir, "edge")]
import devices  # noqa: E402
import gvcp  # noqa: E402
import tarn_edge_313 as edge  # noqa: E402
import tarn_receive_313 as rx  # noqa: E402

MODE, CASE = child.NAME, child.ARGUMENTS[0]
MAC = devices.LOOPBACK_MAC
inside, release = threading.Event(), threading.Event()
calls = []  # the callbacks that ran, by name


def code(result):
    return result.GetCodeString()


class Stopped(Exception):
    """What a handler of the program's own raises."""


def stop(*_):
    raise Stopped("a handler of its own")


def interrupt_here(name):
    """The callback NAME, on the main thread: SIGINT (SIGUSR1, whose handler
    raises Stopped, for the case "handler"), then Python code."""
    calls.append(name)
    if len(calls) == 1:
        os.kill(os.getpid(), signal.SIGUSR1 if CASE == "handler" else signal.SIGINT)
        for _ in range(200):
            time.sleep(0.01)
        calls.append("not interrupted")


def sleep_here(name):
    """The callback NAME, on another thread: the first one waits for release."""
    calls.append(name)
    if not inside.is_set():
        inside.set()
        release.wait(30)


def raised(call, *arguments):
    """What CALL raised ([type name, seconds]), else ["returned", its answer]."""
    start = time.monotonic()
    try:
        answer = call(*arguments)
        for _ in range(100):  # an interrupt that comes as the call returns
            pass
    except BaseException as error:
        return [type(error).__name__, time.monotonic() - start]
    return ["returned", code(answer) if hasattr(answer, "GetCodeString") else None]


def interrupted_after(delay, call, *arguments):
    threading.Timer(delay, os.kill, (os.getpid(), signal.SIGINT)).start()
    return raised(call, *arguments)


def until(check, what, seconds=60):
    deadline = time.monotonic() + seconds
    while not check():
        assert time.monotonic() < deadline, f"no {what}"
        time.sleep(0.05)


class Source(devices.PatternSource):
    def __init__(self, **options):
        super().__init__(**options)
        self.freed = threading.Event()

    def CreateRegisters(self, registers, factory):
        if CASE == "source":
            interrupt_here("CreateRegisters")

    def RetrieveBuffer(self, location):
        if CASE == "source-stop" and self.block == 2:
            sleep_here("RetrieveBuffer")
            return edge.TN_TIMEOUT, None
        return super().RetrieveBuffer(location)

    def FreeBuffer(self, buffer):
        edge.TnStreamingChannelSourceDefault.FreeBuffer(self, buffer)
        self.freed.set()


class DeviceSink(edge.ITnVirtualDeviceGEVEventSink):
    def OnCreateCustomRegisters(self, device, factory):
        factory.AddRegister("TarnOwnReg", devices.CUSTOM, 4, edge.TnGenAccessModeReadWrite, register_sink)
        if CASE == "device-sink":
            interrupt_here("OnCreateCustomRegisters")


class RegisterSink(edge.ITnRegisterEventSink):
    def PostWrite(self, register):
        if CASE in ("register", "handler"):
            interrupt_here("PostWrite")

    def PreRead(self, register):
        if MODE == "waiting" and CASE in ("device-stop", "device-delete", "device-drop"):
            sleep_here("PreRead")
        return edge.TN_OK


class PipelineSink(rx.TnPipelineEventSink):
    def OnBufferCreated(self, pipeline, buffer):
        if CASE == "pipeline-sink":
            interrupt_here("OnBufferCreated")

    def OnBufferReady(self, pipeline):
        if MODE == "waiting":
            sleep_here("OnBufferReady")


class ControllerSink(rx.TnDeviceEventSink):
    def OnCmdLinkRead(self, *arguments):
        if CASE == "controller-sink" and threading.current_thread() is threading.main_thread():
            interrupt_here("OnCmdLinkRead")

    def OnEvent(self, *arguments):
        sleep_here("OnEvent")


class Notify(edge.ITnUserSetNotify):
    def UserSetStateNotify(self, state, index):
        interrupt_here("UserSetStateNotify")
        return edge.TN_OK


class Trigger(edge.ITnTriggerCallback):
    def TriggerCallbackMethod(self, selector):
        interrupt_here("TriggerCallbackMethod")


register_sink, device_sink, notify, trigger = RegisterSink(), DeviceSink(), Notify(), Trigger()
USER_SET_SELECTOR, USER_SET_LOAD, TRIGGER_SOFTWARE = 0xF0000008, 0xF0000010, 0x2000C


def soft_device(**options):
    device = edge.TnSoftDeviceGEV()
    device.RegisterEventSink(device_sink)
    device.AddStream(source := Source(**options))
    return device, source


def streaming(soft, pipelined):
    """A controller streaming from the software device: (controller, stream,
    pipeline or the queued buffers)."""
    system, info, client, features, stream, buffers = devices.connect(count=0 if pipelined else 8)
    if pipelined:
        pipeline = rx.TnPipeline(stream)
        pipeline.SetBufferSize(features.GetIntegerValue("PayloadSize")[1])
        pipeline.RegisterEventSink(pipeline_sink)
        pipeline.SetBufferCount(8)
        pipeline.Start()
        buffers = pipeline
    client.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort())
    features.ExecuteCommand("AcquisitionStart")
    return client, stream, buffers


def inside_case():
    signal.signal(signal.SIGUSR1, stop)
    if CASE in ("register", "handler", "device-sink", "source", "user-set", "trigger"):
        device = edge.TnSoftDeviceGEV()
        device.RegisterEventSink(device_sink)
        device.SetUserSetCount(1), device.SetUserSetNotify(notify)
        if CASE == "trigger":
            device.AddStream(source := devices.TriggeredSource())
            source.AddSelectorTriggerCallback(edge.TRIGGER_SELECTOR_FRAMESTART, trigger)
        else:
            device.AddStream(source := Source())
        start = lambda: device.Start(MAC)  # noqa: E731
        if CASE in ("register", "handler", "user-set", "trigger"):
            # Writes of the program's own thread run the register's sink, the
            # user sets' notification, the trigger's callback.
            assert device.Start(MAC).IsOK()
            registers = device.GetRegisterMap()
            address, value = {"register": (devices.CUSTOM, 5), "handler": (devices.CUSTOM, 5),
                              "user-set": (USER_SET_LOAD, 1), "trigger": (TRIGGER_SOFTWARE, 1)}[CASE]
            if CASE == "user-set":
                registers.GetRegisterByAddress(USER_SET_SELECTOR).Write(1)
                calls.clear()
            out["raised"] = raised(registers.GetRegisterByAddress(address).Write, value)
            calls[:] = ["again"]
            out["again"] = code(registers.GetRegisterByAddress(address).Write(value))
        else:
            out["raised"] = raised(start)
            calls[:] = ["again"]
            device.Stop()
            out["again"] = code(start())
        device.Stop()
    elif CASE == "pipeline-sink":
        stream = rx.TnStreamRTP()
        stream.PrepareFor(64, 48, rx.TnPixelMono8)
        stream.Open("127.0.0.1", 0)
        pipeline = rx.TnPipeline(stream)
        pipeline.RegisterEventSink(pipeline_sink)
        out["raised"] = raised(pipeline.SetBufferCount, 4)
        calls[:] = ["again"]
        out["again"] = code(pipeline.SetBufferCount(6))
        del pipeline
        stream.Close()
    elif CASE == "controller-sink":
        soft, source = soft_device()
        soft.Start(MAC)
        system, info, client, features, stream, buffers = devices.connect(count=0)
        client.RegisterEventSink(controller_sink := ControllerSink())
        features.InvalidateCache()
        # The base module's read, whose call runs the receive module's sink.
        out["raised"] = raised(_tarn_base_313.TnGenParameterArray_GetIntegerValue, features, "GevHeartbeatTimeout")
        calls[:] = ["again"]
        features.InvalidateCache()
        out["again"] = code(features.GetIntegerValue("GevHeartbeatTimeout")[0])
        stream.Close()
        del features
        rx.TnDevice.Free(client)
        soft.Stop()
    out["calls"] = calls


def read_custom():
    """A controller reads the custom register (its sink sleeps meanwhile)."""
    client = gvcp.Client()
    try:
        client.read(devices.CUSTOM)
    except TimeoutError:
        pass
    client.close()


def waiting_case():
    soft, source = soft_device()
    assert soft.Start(MAC).IsOK()
    if CASE in ("device-stop", "device-delete", "device-drop"):
        threading.Thread(target=read_custom, daemon=True).start()
        assert inside.wait(30), "no read"
        if CASE == "device-stop":
            out["raised"] = interrupted_after(0.3, soft.Stop)
            release.set()
            until(lambda: soft.Start(MAC).IsOK(), "start once stopped")
        else:
            if CASE == "device-delete":
                out["raised"] = interrupted_after(0.3, type(soft).__swig_destroy__, soft)
            else:  # the last reference goes: Ctrl-C comes once it went
                held = [soft]
                del soft
                out["raised"] = interrupted_after(0.3, held.clear)
            release.set()
            until(source.freed.is_set, "end of the device")
            soft, source = soft_device()
            until(lambda: soft.Start(MAC).IsOK(), "start on the port the device let go of")
        out["after"] = [code(soft.Stop()), code(soft.Start(MAC))]
    elif CASE == "source-stop":
        client, stream, buffers = streaming(soft, False)
        assert inside.wait(30), "no retrieval"
        out["raised"] = interrupted_after(0.3, soft.Stop)
        release.set()
        until(lambda: soft.Start(MAC).IsOK(), "start once stopped")
        out["after"] = [code(soft.Stop())]
        stream.Close()
        rx.TnDevice.Free(client)
    elif CASE in ("pipeline-stop", "pipeline-delete", "stream-close"):
        client, stream, pipeline = streaming(soft, True)
        assert inside.wait(30), "no buffer ready"
        if CASE == "pipeline-stop":
            out["raised"] = interrupted_after(0.3, pipeline.Stop)
            out["start"] = interrupted_after(0.3, pipeline.Start)  # waits for that stop
            release.set()
            until(lambda: not pipeline.IsStarted(), "stop of the pipeline")
            out["after"] = [code(pipeline.Start()), code(pipeline.Stop())]
        elif CASE == "pipeline-delete":
            out["raised"] = interrupted_after(0.3, type(pipeline).__swig_destroy__, pipeline)
            release.set()
            pipeline = rx.TnPipeline(stream)
            pipeline.SetBufferSize(client.GetParameters().GetIntegerValue("PayloadSize")[1])
            pipeline.SetBufferCount(4)
            out["after"] = [code(pipeline.Start()), code(pipeline.Stop())]
        else:
            out["raised"] = interrupted_after(0.3, stream.Close)
            release.set()
            until(lambda: stream.Open("127.0.0.1", 0).IsOK(), "opening once closed")
            out["after"] = [code(stream.Close())]
        del pipeline
        stream.Close()
        rx.TnDevice.Free(client)
    elif CASE == "controller-free":
        system, info, client, features, stream, buffers = devices.connect(count=0)
        client.RegisterEventSink(controller_sink := ControllerSink())
        for attempt in range(100):
            if inside.wait(0.05):
                break
            soft.GetMessagingChannel().FireEvent(0x9001, bytes(8))
        assert inside.is_set(), "no event"
        stream.Close()
        del features
        out["raised"] = interrupted_after(0.3, rx.TnDevice.Free, client)
        release.set()
        again = []  # the device's control comes back once the controller has ended
        until(lambda: again.append(rx.TnDevice.CreateAndConnect(info)) or again[-1][0].IsOK(), "control back")
        client = again[-1][1]
        out["after"] = [code(client.GetParameters().GetIntegerValue("Width")[0]), code(client.Disconnect())]
        rx.TnDevice.Free(client)
    soft.Stop()
    out["calls"] = calls


pipeline_sink = PipelineSink()
{"inside": inside_case, "waiting": waiting_case}[MODE]()
out["done"] = True
