"""Child programs of test_events.py. The isolated fixture runs each in a
network namespace of its own: events_child.py NAME [ENDING]
(sinks_busy_in_python_at_the_interpreters_exit: what the sink does as the
program ends, busy, sleeping or waiting)."""

import sys
import time

import child
from child import out

import tarn_base_313 as tarn


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


if child.NAME == "events_reach_python_sinks":
    import gc
    import tarn_receive_313 as rx
    import tn_testhooks as hooks
    responder = hooks.ResponderStart("RESP-9", RESPONDER_XML)
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
    # Data a sink kept stays readable: its view holds the memory it shows.
    out["kept"] = [view.tolist() for view in sink.kept]
    out["owners"] = [view.base is not None for view in sink.kept]
    out["unregister"] = device.UnregisterEventSink(sink).GetCodeString()
    out["after"] = hooks.ResponderSendEvent(responder, 0x9002, 7, None)
    device.WaitForMessagingChannelIdle(2000)
    out["quiet"] = len(sink.events)
    device.UnregisterEventSink(failing)
    rx.TnDevice.Free(device)
    hooks.ResponderStop(responder)


if child.NAME == "factory_and_memory_on_a_simulated_usb3_vision_device":
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


if child.NAME == "sinks_busy_in_python_at_the_interpreters_exit":
    ending = child.ARGUMENTS[0]
    import threading
    import tarn_receive_313 as rx
    import tn_testhooks as hooks
    responder = hooks.ResponderStart("RESP-9", RESPONDER_XML)
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

    class Sink(rx.TnDeviceEventSink):
        def OnEvent(self, *arguments):
            self.calls = getattr(self, "calls", 0) + 1
            if ending == "busy":
                work(20000)
            elif ending == "sleeping":
                time.sleep(0.05)
            else:
                work(2000)
    log, sink = Log(), Sink()
    hooks.AddLogSink(log)
    device.RegisterEventSink(sink)
    threading.Thread(target=flood, daemon=True).start()
    while getattr(sink, "calls", 0) < 3:
        time.sleep(0.01)
    out["called"] = True
    if ending == "waiting":
        work(200000)
        sys.exit(0)
