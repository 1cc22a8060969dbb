"""Device events through our own GigE Vision responder (what the independent
peer lacks), and simulated USB3 Vision devices through the factory; each test
in a network namespace of its own."""

RESPONDER_XML = """<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="Responder" VendorName="TarnTest" StandardNameSpace="None" SchemaMajorVersion="1"
 SchemaMinorVersion="1" SchemaSubMinorVersion="0" MajorVersion="1" MinorVersion="0" SubMinorVersion="0"
 ProductGuid="0" VersionGuid="0" xmlns="http://www.genicam.org/GenApi/Version_1_1">
<Category Name="Root"><pFeature>Width</pFeature></Category>
<Integer Name="Width"><pValue>WidthReg</pValue><Min>16</Min><Max>4096</Max></Integer>
<IntReg Name="WidthReg"><Address>0x1000</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
<Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>
<IntReg Name="EventTestFrameID"><Address>16</Address><Length>4</Length><AccessMode>RO</AccessMode>
<pPort>EventTestPort</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>
<Port Name="EventTestPort"><EventID>9001</EventID></Port>
<Port Name="Device"/>
</RegisterDescription>
"""


def test_events_reach_python_sinks(isolated):
    out = isolated(f'''
import gc
import tarn_receive_313 as rx
import tn_testhooks as hooks
responder = hooks.ResponderStart("RESP-9", {RESPONDER_XML!r})
result, device = rx.TnDevice.CreateAndConnect("RESP-9")
out["connect"] = [result.GetCodeString(), type(device).__name__]

class Sink(rx.TnDeviceEventSink):
    def __init__(self):
        super().__init__()
        self.events, self.features, self.kept = [], [], []

    def OnEvent(self, device, event, channel, block, timestamp, data):
        self.events.append((type(device).__name__, event, channel, block, timestamp, data.tolist(), data.flags.writeable))
        self.kept.append(data)

    def OnEventGenICam(self, device, event, channel, block, timestamp, parameters):
        names = [parameters.GetItem(i).GetName()[1] for i in range(parameters.GetSize())]
        self.features.append((event, names, device.GetParameters().GetIntegerValue("EventTestFrameID")[1]))

class Failing(rx.TnDeviceEventSink):
    def OnEvent(self, *arguments):
        raise ValueError("refused")

    def OnEventGenICam(self, *arguments):
        arguments[5].GetItem(0).GetName()
        raise KeyError("gone")

failing, sink = Failing(), Sink()
out["register"] = [device.RegisterEventSink(failing).GetCodeString(), device.RegisterEventSink(sink).GetCodeString()]
out["sent"] = [hooks.ResponderSendEvent(responder, 0x9001, 5, bytes([0, 0, 0, 7, 1, 2])),
               hooks.ResponderSendEvent(responder, 0x9002, 6, None)]
out["idle"] = device.WaitForMessagingChannelIdle(2000).GetCodeString()
out["events"] = sink.events
out["features"] = sink.features
gc.collect()
# Data a sink kept stays readable: it became a copy when the call ended.
out["kept"] = [view.tolist() for view in sink.kept]
out["owners"] = [view.base is not None for view in sink.kept]
out["unregister"] = device.UnregisterEventSink(sink).GetCodeString()
out["after"] = hooks.ResponderSendEvent(responder, 0x9002, 7, None)
device.WaitForMessagingChannelIdle(2000)
out["quiet"] = len(sink.events)
device.UnregisterEventSink(failing)
rx.TnDevice.Free(device)
hooks.ResponderStop(responder)
''')
    assert out["connect"] == ["OK", "TnDeviceGEV"]
    assert out["register"] == ["OK", "OK"] and out["sent"] == [0, 0] and out["idle"] == "OK"
    assert out["events"] == [["TnDevice", 0x9001, 0xFFFF, 5, 123456789, [0, 0, 0, 7, 1, 2], True],
                             ["TnDevice", 0x9002, 0xFFFF, 6, 123456789, [], True]]
    assert out["features"] == [[0x9001, ["EventTestPort", "EventTestFrameID"], 7]]
    assert out["kept"] == [[0, 0, 0, 7, 1, 2], []]
    assert out["owners"][0] is True
    assert out["stdout"].count("In method 'OnEvent': ValueErrorrefused\n") == 3
    assert "In method 'OnEventGenICam': KeyError'gone'\n" in out["stdout"]
    assert out["unregister"] == "OK" and out["after"] == 0 and out["quiet"] == 2


SIMULATED = """
[controller]
name = sim0
speed = super

[u3v]
serial = U3-7
guid = EVENTS-U3-7
controller = sim0

[vexmoor]
serial = VX-7
"""


def test_factory_and_memory_on_a_simulated_usb3_vision_device(isolated, tmp_path):
    devices = tmp_path / "devices.ini"
    devices.write_text(SIMULATED)
    out = isolated('''
import numpy as np
import tarn_receive_313 as rx
system = tarn.TnSystem()
system.SetDetectionTimeout(100)
system.Find()
infos = [system.GetDeviceInfo(i) for i in range(system.GetDeviceCount())]
usb = [info for info in infos if info.GetType() == tarn.TnDeviceInfoTypeU3V][0]
vexmoor = [info for info in infos if info.GetType() == tarn.TnDeviceInfoTypeVexmoorProtocol][0]
result, none = rx.TnDevice.CreateAndConnect(vexmoor)
out["vexmoor"] = [result.GetCodeString(), none]
result, device = rx.TnDevice.CreateAndConnect(usb)
out["factory"] = [result.GetCodeString(), type(device).__name__, device.GetGUID()]
out["width"] = device.GetParameters().GetIntegerValue("Width")[1]
result, data = device.ReadMemory(0, 8)
out["read"] = [result.GetCodeString(), data.shape]
checks = {
    "2^31 bytes": device.WriteMemory(0, np.empty(2**31 + 1, np.uint8)),
    "negative address": device.WriteMemory(-4, [1, 2, 3, 4]),
    "past the end": device.WriteMemory(2**62, [1, 2, 3, 4]),
    "negative read": device.ReadMemory(-4, 4)[0],
}
out["refused"] = {name: result.GetCodeString() for name, result in checks.items()}
try:
    device.ReadMemory(0, -1)
except OverflowError:
    out["negative count"] = "OverflowError"
adapter = rx.TnDeviceAdapter(device)
out["adapter"] = [adapter.IsUSB3Vision(), adapter.IsConnected(), adapter.RegisterGenInvalidator("Width").GetCodeString()]
rx.TnDevice.Free(device)
out["adapter after free"] = adapter.IsConnected()
del adapter
try:
    device.GetGUID()
except TypeError as error:
    out["freed"] = str(error)
rx.TnDevice.Free(device)  # again: nothing left to free
''', env={"TARN_SIMULATED_DEVICES": str(devices)})
    assert out["vexmoor"] == ["NOT_SUPPORTED", None]
    assert out["factory"] == ["OK", "TnDeviceU3V", "EVENTS-U3-7"]
    assert out["width"] > 0
    assert out["read"] == ["OK", [8]]
    assert out["refused"] == {name: "INVALID_PARAMETER" for name in out["refused"]}
    assert out["negative count"] == "OverflowError"
    assert out["adapter"] == [True, True, "OK"] and out["adapter after free"] is False
    assert out["freed"] == "in method 'TnDeviceU3V_GetGUID', argument 1 of type 'TnDeviceU3V const *'"


EXIT_PRELUDE = f'''
import threading
import tarn_receive_313 as rx
import tn_testhooks as hooks
responder = hooks.ResponderStart("RESP-9", {RESPONDER_XML!r})
result, device = rx.TnDevice.CreateAndConnect("RESP-9")
assert result.IsOK(), result.GetCodeString()

def work(count):
    total = 0
    for i in range(count):
        total += i
    return total

def flood():
    while True:
        hooks.ResponderSendEvent(responder, 0x9001, 5, bytes([0, 0, 0, 7]))

class Log(tarn.TnLogSink):
    def Log(self, *arguments):
        work(5000)
'''


def test_sinks_busy_in_python_at_the_interpreters_exit(isolated):
    """The program ends while the device's message channel thread is inside
    a Python sink (busy, sleeping, or waiting for the interpreter lock that
    the main thread holds until sys.exit), with a Python log sink attached:
    the process ends cleanly."""
    endings = {
        "busy": "work(20000)",
        "sleeping": "time.sleep(0.05)",
        "waiting": "work(2000)",
    }
    for ending, body in endings.items():
        code = EXIT_PRELUDE + f'''
class Sink(rx.TnDeviceEventSink):
    def OnEvent(self, *arguments):
        self.calls = getattr(self, "calls", 0) + 1
        {body}
log, sink = Log(), Sink()
hooks.AddLogSink(log)
device.RegisterEventSink(sink)
threading.Thread(target=flood, daemon=True).start()
while getattr(sink, "calls", 0) < 3:
    time.sleep(0.01)
out["called"] = True
if {ending!r} == "waiting":
    work(200000)
    sys.exit(0)
'''
        for attempt in range(2):
            assert isolated(code)["called"], ending
