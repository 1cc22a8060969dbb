"""Child programs of test_fake_camera.py. The isolated fixture runs each in a
network namespace of its own: fake_camera_child.py NAME."""

import time

import child
from child import out

import tarn_base_313 as tarn


if child.NAME == "connect_read_write_and_the_peer_sees_it":
    camera = child.start_fake_camera()
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
    out["peer"] = child.arv_tool("-a", "127.0.0.1", "control", "Width", timeout=20).stdout
    camera.kill()


if child.NAME == "one_controller_at_a_time_held_by_heartbeats":
    camera = child.start_fake_camera()
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


if child.NAME == "a_killed_camera_is_reported_as_a_lost_link":
    camera = child.start_fake_camera()
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
