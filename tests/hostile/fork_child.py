"""Objects of every kind that owns threads or a session, inherited by a
forked child: a software device streaming, its controller with a GigE
Vision stream and a pipeline, an RTP stream that another thread waits in
(RetrieveBuffer), a simulated USB3 Vision device with its stream and
serial port, a transmitter with its virtual device, a firmware updater and
a converter whose threads ran.

    fork_child.py HOW ACTION    (in a network namespace)

HOW: "fork" (os.fork, the child ends through sys.exit: the modules' exit
hook, then the interpreter's end) or "multiprocessing" (a worker of the
fork start method); a thread of the parent is inside a controller's event
sink as it forks, and the child lets go of the sink. ACTION, what the child does with what it inherited:
"exit" (nothing), "use" (a call of each), "delete" (each destroyed) or
"disconnect" (each stopped, closed or disconnected). The child then makes
objects of its own and uses them. out["child"]: what the child's calls
answered (or "hung", "crashed"); out["parent"]: what the parent's objects
do afterwards."""

import atexit
import json
import multiprocessing
import os
import signal
import sys
import threading
import time
import warnings

import child
from child import out

import tarn_base_313 as tarn

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, os.pardir, "edge")]
import devices  # noqa: E402
import tarn_edge_313 as edge  # noqa: E402
import tarn_receive_313 as rx  # noqa: E402

# The parent runs the SDK's threads when it forks: the child is what this
# program is about.
warnings.filterwarnings("ignore", r"This process .*is multi-threaded", DeprecationWarning)

HOW, ACTION = child.NAME, child.ARGUMENTS[0]
W, H = 64, 48


def code(result):
    return result.GetCodeString()


def image(width=W, height=H, pixel=tarn.TnPixelMono8):
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
    buffer.GetImage().Alloc(width, height, pixel)
    return buffer


def converted(converter):
    """A Bayer frame converted to RGB by CONVERTER: the answer."""
    source, destination = image(256, 256, tarn.TnPixelBayerRG8), image(256, 256, tarn.TnPixelRGB8)
    return code(converter.Convert(source, destination)[0])


class ReadSink(rx.TnDeviceEventSink):
    """Holds the first read of its controller until `go` is set: its call
    is in progress as the process forks."""

    def __init__(self):
        super().__init__()
        self.entered, self.go = threading.Event(), threading.Event()

    def OnCmdLinkRead(self, pair):
        if not self.entered.is_set():
            self.entered.set()
            self.go.wait(60)


def build():
    """The parent's objects, every one working."""
    o = {"source": devices.PatternSource(W, H, rate=100)}
    o["device"] = devices.started(o["source"])
    registers = o["device"].GetRegisterMap()
    o["register"] = next(register for register in map(registers.GetRegisterByIndex, range(registers.GetRegisterCount()))
                         if register.GetName().startswith("Width") and "Max" not in register.GetName())
    system = tarn.TnSystem()
    system.SetDetectionTimeout(500)
    o["info"] = system.FindDevice("127.0.0.1")[1]
    o["client"] = rx.TnDevice.CreateAndConnect(o["info"])[1]
    o["features"] = o["client"].GetParameters()
    o["stream"] = rx.TnStreamGEV()
    assert o["stream"].Open(o["info"], 0).IsOK()
    o["client"].SetStreamDestination(o["stream"].GetLocalIPAddress(), o["stream"].GetLocalPort())
    o["pipeline"] = rx.TnPipeline(o["stream"])
    o["pipeline"].SetBufferCount(8)
    o["pipeline"].SetBufferSize(o["features"].GetIntegerValue("PayloadSize")[1])
    assert o["pipeline"].Start().IsOK()
    assert o["features"].ExecuteCommand("AcquisitionStart").IsOK()
    # A thread waits in RetrieveBuffer when the process forks.
    o["rtp"] = rx.TnStreamRTP()
    assert o["rtp"].Open("127.0.0.1", 0).IsOK()
    o["rtp buffers"] = child.queue_buffers(o["rtp"], 2, W * H)
    o["waiter"] = threading.Thread(target=o["rtp"].RetrieveBuffer, args=(60000,), daemon=True)
    o["waiter"].start()
    # The simulated USB3 Vision device: its controller, stream and serial port.
    u3v = system.FindDevice("EXAMPLE-0001")[1]
    o["u3v"] = rx.TnDevice.CreateAndConnect(u3v)[1]
    o["u3v stream"] = rx.TnStream.CreateAndOpen(u3v)[1]
    o["serial"] = rx.TnDeviceSerialPort()
    o["adapter"] = rx.TnDeviceAdapter(o["u3v"])
    assert o["serial"].Open(o["adapter"], rx.TnDeviceSerial0).IsOK()
    # The transmitter and its virtual device.
    o["transmitter"], o["virtual"] = edge.TnTransmitterGEV(), edge.TnVirtualDeviceGEV()
    assert o["virtual"].AddTransmitterGEV(o["transmitter"]).IsOK()
    assert o["virtual"].StartListening(edge.TnString("127.0.0.2")).IsOK()
    assert o["transmitter"].Open(edge.TnString("127.0.0.1"), 50999).IsOK()
    o["sent"] = image()
    assert o["transmitter"].QueueBuffer(o["sent"]).IsOK()
    o["updater"] = rx.TnGenFUUpdater("/nonexistent", "update.zip", o["info"], "", False)
    o["updater"].Start()
    o["converter"] = rx.TnBufferConverter(4)
    assert converted(o["converter"]) == "OK"
    # A thread inside a sink's call.
    o["sink"] = ReadSink()
    assert o["client"].RegisterEventSink(o["sink"]).IsOK()
    o["reader"] = threading.Thread(target=o["features"].GetIntegerValue, args=("Width",), daemon=True)
    o["reader"].start()
    assert o["sink"].entered.wait(10)
    time.sleep(0.3)
    return o


def frames(o, count):
    """COUNT frames through the parent's pipeline: how many came whole."""
    whole = 0
    for attempt in range(count):
        result, buffer, operation = o["pipeline"].RetrieveNextBuffer(5000)
        if result.IsOK():
            whole += operation.IsOK()
            o["pipeline"].ReleaseBuffer(buffer)
    return whole


STREAMS = ("stream", "rtp", "u3v stream")
CONTROLLERS = ("client", "u3v")


def use(o):
    """A call on each inherited object: the answers."""
    answers = {name: code(o[name].Close()) for name in STREAMS}
    answers["description"] = o["client"].Disconnect().GetDescription()
    answers["features"] = [code(o["features"].GetIntegerValue("Width")[0]),
                           code(o["features"].ExecuteCommand("AcquisitionStop"))]
    answers["read"] = code(o["client"].ReadRegister(0x0A00)[0])
    answers["connected"] = [o[name].IsConnected() for name in CONTROLLERS]
    answers["retrieve"] = code(o["rtp"].RetrieveBuffer(100)[0])
    answers["pipeline"] = [code(o["pipeline"].Stop()), code(o["pipeline"].RetrieveNextBuffer(100)[0])]
    answers["new pipeline"] = code(rx.TnPipeline(o["rtp"]).Start())  # over an inherited stream
    answers["device"] = [code(o["device"].Stop()), code(o["device"].Start(devices.LOOPBACK_MAC)),
                         code(o["register"].Write(32))]
    answers["serial"] = code(o["serial"].Write(b"tarn")[0])
    answers["transmitter"] = [code(o["transmitter"].QueueBuffer(image())), o["transmitter"].IsOpen()]
    answers["virtual"] = code(o["virtual"].StartListening(edge.TnString("127.0.0.3")))
    answers["updater"] = [o["updater"].IsDone(), code(o["updater"].GetResult())]
    # A converter's own work goes on: on the calling thread, its workers gone.
    answers["converter"] = converted(o["converter"])
    return answers


def delete(o):
    for name in ("pipeline", "rtp", "stream", "u3v stream", "serial", "adapter", "client", "u3v", "device",
                 "virtual", "transmitter", "updater", "converter"):
        o[name].__swig_destroy__(o[name])
    return {}


def disconnect(o):
    answers = {name: code(o[name].Disconnect()) for name in CONTROLLERS}
    answers.update({name: code(o[name].Close()) for name in STREAMS + ("serial", "transmitter")})
    answers["stopped"] = [code(o["pipeline"].Stop()), code(o["device"].Stop())]
    o["virtual"].StopListening()
    return answers


def own():
    """Objects the child makes: they work."""
    system = tarn.TnSystem()
    system.SetDetectionTimeout(300)
    answers = {"found": code(system.FindDevice("127.0.0.1")[0]), "converter": converted(rx.TnBufferConverter(4))}
    rtp = rx.TnStreamRTP()
    answers["stream"] = [code(rtp.Open("127.0.0.1", 0)), code(rtp.Close())]
    transmitter = edge.TnTransmitterGEV()
    answers["transmitter"] = [code(transmitter.Open(edge.TnString("127.0.0.1"), 50998)), code(transmitter.Close())]
    return answers


def in_child(o):
    o.pop("sink")  # its call on the parent's thread never ends here
    answers = {"exit": lambda o: {}, "use": use, "delete": delete, "disconnect": disconnect}[ACTION](o)
    answers["own"] = own()
    return answers


def waited(pid, seconds=60):
    """The child's end: "exited N", "signal N", or "hung" (then killed)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return f"signal {os.WTERMSIG(status)}" if os.WIFSIGNALED(status) else f"exited {os.WEXITSTATUS(status)}"
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    return "hung"


def worker(o, pipe):
    pipe.send(in_child(o))


o = build()
out["before"] = frames(o, 3)
sys.stdout.flush()
reading, writing = os.pipe()
if HOW == "fork":
    pid = os.fork()
    if pid == 0:
        os.close(reading)
        answers = in_child(o)
        os.write(writing, json.dumps(answers).encode())
        os.close(writing)
        atexit.unregister(child._report)  # the parent reports
        sys.exit(0)  # through the exit hook and the interpreter's end
    os.close(writing)
    out["end"] = waited(pid)
    with os.fdopen(reading) as answers:
        text = answers.read()
else:
    os.close(reading), os.close(writing)
    parent_end, child_end = multiprocessing.get_context("fork").Pipe()
    process = multiprocessing.get_context("fork").Process(target=worker, args=(o, child_end))
    process.start()
    text = json.dumps(parent_end.recv()) if parent_end.poll(60) else ""
    process.join(60)
    if process.exitcode is None:
        process.kill()
        process.join()
    out["end"] = "hung" if process.exitcode == -signal.SIGKILL else process.exitcode
out["child"] = json.loads(text) if text else None
o["sink"].go.set()
o["reader"].join(10)
# The parent's objects still work: its session, its streams, its threads.
out["parent"] = {"width": code(o["features"].GetIntegerValue("Width")[0]), "frames": frames(o, 5),
                 "connected": [o[name].IsConnected() for name in CONTROLLERS],
                 "serial": code(o["serial"].Write(b"tarn")[0]),
                 "transmitter": code(o["transmitter"].QueueBuffer(image())),
                 "converter": converted(o["converter"])}
o["features"].ExecuteCommand("AcquisitionStop")
o["pipeline"].Stop()
o["rtp"].Close()
o["waiter"].join(10)
out["waiter"] = o["waiter"].is_alive()
