"""The receive module against an independent GigE Vision device, the aravis
fake camera, each test in a network namespace of its own."""

import shutil

import pytest

TOOL = "arv-tool-0.8"


def test_connect_read_write_and_the_peer_sees_it(isolated, fake_camera_code):
    if shutil.which(TOOL) is None:
        pytest.skip(f"{TOOL} is not installed (Debian package aravis-tools-cli)")
    out = isolated(fake_camera_code + '''
import tarn_receive_313 as rx
system = tarn.TnSystem()
system.SetDetectionTimeout(500)
out["found"] = system.Find().IsOK() and system.GetDeviceCount()
found, info = system.FindDevice("TNTEST1")
result, device = rx.TnDevice.CreateAndConnect(info)
out["connected"] = [result.GetCodeString(), type(device).__name__, device.IsConnected()]
features = device.GetParameters()
out["integers"] = {name: features.GetIntegerValue(name)[1] for name in ("Width", "Height", "PayloadSize")}
out["format"] = features.GetEnumValueString("PixelFormat")[1]
out["strings"] = {name: features.GetStringValue(name)[1]
                  for name in ("DeviceVendorName", "DeviceModelName", "DeviceID", "DeviceVersion")}
width = features.Get("Width")
out["typed"] = [type(width).__name__, width.GetValue()[1], width.GetMin()[1], width.GetMax()[1]]
out["write"] = features.SetIntegerValue("Width", 256).GetCodeString()
features.InvalidateCache()
out["read back"] = [width.GetValue()[1], features.GetIntegerValue("PayloadSize")[1], device.GetPayloadSize()]
out["id"] = [device.GetUniqueID()[1] == info.GetUniqueID(), device.GetIPAddress()]
out["disconnect"] = device.Disconnect().GetCodeString()
out["after"] = [device.IsConnected(), features.GetIntegerValue("Width")[1]]
rx.TnDevice.Free(device)
try:
    device.IsConnected()
except TypeError as error:
    out["freed"] = str(error)
# What it handed out goes with it: its features and parameters refuse.
out["features freed"] = []
for call in (features.InvalidateCache, width.GetValue):
    try:
        call()
    except TypeError as error:
        out["features freed"].append(type(error).__name__)
out["peer"] = subprocess.run(["arv-tool-0.8", "-a", "127.0.0.1", "control", "Width"], capture_output=True,
                             text=True, timeout=20).stdout
camera.kill()
''')
    assert out["found"] >= 1
    assert out["connected"] == ["OK", "TnDeviceGEV", True]
    assert out["integers"]["Width"] > 0 and out["integers"]["Height"] > 0
    assert out["integers"]["PayloadSize"] >= out["integers"]["Width"] * out["integers"]["Height"]
    assert out["format"]
    assert out["strings"]["DeviceVendorName"] == "Aravis" and out["strings"]["DeviceModelName"] == "Fake"
    assert out["strings"]["DeviceID"] == "TNTEST1" and out["strings"]["DeviceVersion"]
    assert out["typed"][0] == "TnGenInteger" and out["typed"][1] == out["integers"]["Width"]
    assert out["typed"][2] <= 256 <= out["typed"][3]
    assert out["write"] == "OK"
    height = out["integers"]["Height"]
    assert out["read back"] == [256, 256 * height, 256 * height]
    assert out["id"] == [True, "127.0.0.1"]
    assert out["disconnect"] == "OK" and out["after"] == [False, None]
    assert out["freed"] == "in method 'TnDevice_IsConnected', argument 1 of type 'TnDevice const *'"
    assert out["features freed"] == ["TypeError", "TypeError"]
    assert "Width = 256" in out["peer"]


def test_one_controller_at_a_time_held_by_heartbeats(isolated, fake_camera_code):
    out = isolated(fake_camera_code + '''
import threading
import tarn_receive_313 as rx
first, second = rx.TnDeviceGEV(), rx.TnDeviceGEV()
# A short heartbeat timeout, given to the device: idling through three of
# them proves the heartbeat.
out["timeout"] = first.GetCommunicationParameters().SetIntegerValue("HeartbeatTimeout", 1000).GetCodeString()
out["first"] = first.Connect("TNTEST1").GetCodeString()
out["register"] = first.ReadRegister(0x0938)[1]
held = first.GetAccessType()
refused = second.Connect("127.0.0.1", held)
out["refused"] = [refused.GetCodeString(), refused.GetDescription(), second.IsConnected()]
# The static form writes the access someone holds into the value object.
unknown = second.GetAccessType()
out["asked"] = rx.TnDeviceGEV.GetAccessType("127.0.0.1", unknown).GetCodeString()
out["as held"] = second.Connect("127.0.0.1", unknown).GetCode() == refused.GetCode()
# While the first idles, a search in another thread runs: the calls let
# Python run.
ticks = []
searcher = threading.Thread(target=lambda: rx.TnDevice.CreateAndConnect("nobody-here"))
searcher.start()
while searcher.is_alive():
    ticks.append(1)
    time.sleep(0.01)
time.sleep(max(0.0, 3.5 - 0.01 * len(ticks)))
out["ticks"] = len(ticks)
out["held"] = [first.IsConnected(), second.Connect("TNTEST1").GetCodeString()]
out["heartbeats"] = first.GetCommunicationParameters().GetIntegerValue("HeartbeatsSent")[1]
out["release"] = first.Disconnect().GetCodeString()
out["second"] = second.Connect("TNTEST1").GetCodeString()
second.Disconnect()
camera.kill()
''')
    assert out["timeout"] == "OK" and out["first"] == "OK" and out["register"] == 1000
    assert out["refused"][0] != "OK" and "another application controls it" in out["refused"][1]
    assert out["refused"][2] is False
    assert out["asked"] == "OK" and out["as held"] is True
    assert out["ticks"] > 10
    assert out["held"][0] is True and out["held"][1] != "OK"
    assert out["heartbeats"] >= 8
    assert out["release"] == "OK" and out["second"] == "OK"


def test_a_killed_camera_is_reported_as_a_lost_link(isolated, fake_camera_code):
    out = isolated(fake_camera_code + '''
import threading
import tarn_receive_313 as rx

class Sink(rx.TnDeviceEventSink):
    def __init__(self):
        super().__init__()
        self.lost = []
        self.reads = []
        self.done = threading.Event()

    def OnLinkDisconnected(self, device):
        self.lost.append((time.monotonic(), type(device).__name__, device.IsConnected()))
        self.done.set()

    def OnCmdLinkRead(self, pair):
        self.reads.append((bytes(pair[0]), pair[1]))

class Failing(rx.TnDeviceEventSink):
    def OnLinkDisconnected(self, device):
        raise RuntimeError("sink failed")

device = rx.TnDeviceGEV()
device.GetCommunicationParameters().SetIntegerValue("HeartbeatTimeout", 1000)
sink, failing = Sink(), Failing()
out["registered"] = [device.RegisterEventSink(failing).GetCodeString(), device.RegisterEventSink(sink).GetCodeString()]
out["connect"] = device.Connect("TNTEST1").GetCodeString()
features = device.GetParameters()
features.InvalidateCache()
width = features.GetIntegerValue("Width")[1]
out["reads"] = [int.from_bytes(data, "big") == width and len(data) == 4 for data, address in sink.reads
                if address == 0x100]
killed = time.monotonic()
camera.kill()
camera.wait()
sink.done.wait(5)
out["lost"] = [(when - killed, kind, connected) for when, kind, connected in sink.lost]
out["connected"] = device.IsConnected()
time.sleep(0.3)
out["once"] = len(sink.lost)
out["unregister"] = [device.UnregisterEventSink(sink).GetCodeString(), device.UnregisterEventSink(failing).GetCodeString()]
''')
    assert out["registered"] == ["OK", "OK"] and out["connect"] == "OK"
    assert out["reads"] == [True]
    assert len(out["lost"]) == 1 and out["once"] == 1
    elapsed, kind, connected = out["lost"][0]
    assert elapsed <= 1.0, "noticed within the heartbeat timeout"
    assert kind == "TnDevice" and connected is False
    assert out["connected"] is False
    assert "In method 'OnLinkDisconnected': RuntimeErrorsink failed\n" in out["stdout"]
    assert out["unregister"] == ["OK", "OK"]
