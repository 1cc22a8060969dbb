"""Objects that start threads or sessions, started and stopped (opened and
closed, connected and disconnected) again and again; what the process holds
after a warm-up and after the cycles.

    growth_child.py KIND CYCLES    (in a network namespace)

out["figures"]: the growth over CYCLES cycles after a warm-up of a tenth of
them (at least 20) of resident memory, of the C heap in use (malloc's own
count, which the allocator's caching does not blur) and of Python's
allocated blocks; out["answers"]: the answers of the last cycle."""

import ctypes
import gc
import os
import sys

import child
from child import out

import tarn_base_313 as tarn

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, os.pardir, "edge")]
import devices  # noqa: E402
import tarn_edge_313 as edge  # noqa: E402
import tarn_receive_313 as rx  # noqa: E402

KIND, CYCLES = child.NAME, int(child.ARGUMENTS[0])
MAC = devices.LOOPBACK_MAC
LIBC = ctypes.CDLL(None)


class MallInfo(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


LIBC.mallinfo2.restype = MallInfo


def held():
    """Resident bytes, C heap bytes in use, Python's allocated blocks."""
    gc.collect()
    LIBC.malloc_trim(0)
    info = LIBC.mallinfo2()
    with open("/proc/self/statm") as statm:
        resident = int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    return resident, info.uordblks + info.hblkhd, sys.getallocatedblocks()


def code(result):
    return result.GetCodeString()


def new_device():
    device = edge.TnSoftDeviceGEV()
    device.AddStream(devices.PatternSource(buffers=2))
    return device


def soft_device():
    device = new_device()
    return [code(device.Start(MAC)), code(device.Stop())]


kept = {}


def soft_device_again():
    device = kept.setdefault("device", new_device())
    answers = [code(device.Start(MAC))]
    # A register of the run before, kept through this start, still answers
    # (the map it belongs to stays while it is held); then this run's takes
    # its place and the earlier map goes.
    earlier = kept.get("register")
    answers.append(earlier is None or earlier.GetName() == kept["name"])
    kept["register"] = device.GetRegisterMap().GetRegisterByIndex(0)
    kept["name"] = kept["register"].GetName()
    return answers + [code(device.Stop())]


def virtual_device():
    device = edge.TnVirtualDeviceGEV()
    transmitter = edge.TnTransmitterGEV()
    answers = [code(device.AddTransmitterGEV(transmitter)), code(device.StartListening(edge.TnString("127.0.0.1")))]
    device.StopListening()
    return answers


def transmitter():
    sender = edge.TnTransmitterGEV()
    return [code(sender.Open(edge.TnString("127.0.0.1"), 50123)), code(sender.Close())]


def served():
    """A software device that serves the controllers."""
    if "served" not in kept:
        kept["served"] = new_device()
        assert kept["served"].Start(MAC).IsOK()
    return kept["served"]


def controller():
    served()
    client = rx.TnDeviceGEV()
    return [code(client.Connect("127.0.0.1")), code(client.Disconnect())]


def controller_again():
    served()
    client = kept.setdefault("client", rx.TnDeviceGEV())
    answers = [code(client.Connect("127.0.0.1"))]
    # A feature of the connection before, kept through this connect, still
    # answers; then this connection's takes its place.
    earlier = kept.get("feature")
    answers.append(earlier is None or earlier.GetName()[1] == "Width")
    kept["feature"] = client.GetParameters().Get("Width")
    return answers + [code(client.Disconnect())]


def stream():
    served()  # the stream asks the device at the address what it can do
    opened = rx.TnStreamGEV()
    return [code(opened.Open("127.0.0.1", 0)), code(opened.Close())]


def pipeline():
    served()
    if "stream" not in kept:
        kept["stream"] = rx.TnStreamGEV()
        assert kept["stream"].Open("127.0.0.1", 0).IsOK()
    running = rx.TnPipeline(kept["stream"])
    return [code(running.Start()), code(running.Stop())]


def serial_port():
    if "adapter" not in kept:
        system = tarn.TnSystem()
        system.SetDetectionTimeout(100)
        result, info = system.FindDevice("SERIAL-0001")
        result, kept["controller"] = rx.TnDevice.CreateAndConnect(info)
        kept["adapter"] = rx.TnDeviceAdapter(kept["controller"])
    port = rx.TnDeviceSerialPort()
    return [code(port.Open(kept["adapter"], rx.TnDeviceSerial0)), code(port.Close())]


CYCLE = {"soft-device": soft_device, "soft-device-again": soft_device_again, "virtual-device": virtual_device,
         "transmitter": transmitter, "controller": controller, "controller-again": controller_again,
         "stream": stream, "pipeline": pipeline, "serial-port": serial_port}[KIND]

for _ in range(max(20, CYCLES // 10)):
    out["answers"] = CYCLE()
before = held()
for _ in range(CYCLES):
    out["answers"] = CYCLE()
after = held()
out["figures"] = {name: after[index] - before[index] for index, name in enumerate(("resident", "heap", "blocks"))}
