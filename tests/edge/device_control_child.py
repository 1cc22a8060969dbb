"""Child programs of test_device_control.py. The isolated fixture runs each in
a network namespace of its own: device_control_child.py NAME."""

import child
from child import failure, out

import devices
import gvcp
import tarn_edge_313 as edge


if child.NAME == "connect_heartbeat_expiry_and_messages":
    import threading
    sink = devices.DeviceSink()
    device = devices.started(devices.PatternSource(), sink)
    channel = device.GetMessagingChannel()
    out["closed"] = [channel.IsOpened(), channel.FireEvent(0x9001).GetCodeString()]
    client = gvcp.Client()
    out["control"] = client.write(gvcp.PRIVILEGE, 2)
    out["heartbeat"] = client.write(gvcp.HEARTBEAT_TIMEOUT, 500)
    sink.wait_for("connect")
    messages = gvcp.Messages()
    out["message channel"] = [client.write(gvcp.MESSAGE_PORT, messages.port),
                              client.write(gvcp.MESSAGE_DESTINATION, 0x7F000001)]
    out["open"] = channel.IsOpened()
    out["fired"] = [channel.FireEvent(0x9001).GetCodeString(), channel.FireEvent(0x9002, b"\x01\x02\x03\x04").GetCodeString(),
                    channel.FireEvent(0x9003, 7, 0).GetCodeString()]
    # The client stops its heartbeat: the device lets it go.
    out["expired"] = sink.wait_for("disconnect", timeout=5)
    messages.close()
    out["events"] = [[event, data.hex()] for event, data in messages.events]
    out["client port"] = client.port
    statistics = device.GetStatistics()
    out["statistics"] = [statistics.GetHeartbeatFailedCount(), statistics.GetSessionsOpened(), statistics.GetEventsIssued(),
                         statistics.GetEventDatasIssued(), statistics.GetWriteRegsReceived() >= 4]
    statistics.Reset()
    out["reset"] = statistics.GetWriteRegsReceived()
    out["stop"] = device.Stop().GetCodeString()
    out["sink"] = sink.events


if child.NAME == "memory_is_written_in_whole_words":
    import tarn_receive_313 as rx
    device = devices.started(devices.PatternSource())
    controller = rx.TnDeviceGEV()
    assert controller.Connect("127.0.0.1").IsOK()
    whole = controller.WriteMemory(0xE8, b"tarn")
    refused = [controller.WriteMemory(address, data) for address, data in
               [(0xE8, b"abc"), (0xE9, b"abcd"), (0xEA, b"ab"), (0xE8, b"abcdefg")]]
    out["controller"] = [whole.GetCodeString()] + [[result.GetCodeString(), result.GetDescription()]
                                                   for result in refused]
    out["kept"] = controller.ReadMemory(0xE8, 4)[1].tobytes().decode()
    result, data = controller.ReadMemory(0xE9, 3)
    out["read"] = [result.GetCodeString(), data.tobytes().decode()]
    controller.Disconnect()
    # The device answers commands of partial words as invalid parameters.
    client = gvcp.Client()
    assert client.write(gvcp.PRIVILEGE, 2) == 0
    out["device"] = [client.write_memory(0xE8, b"abc"), client.read_memory(0xE8, 3)[0],
                     client.write_memory(0xE8, b"abcd"), list(client.read_memory(0xE8, 4))]
    out["device"][3][1] = out["device"][3][1].decode()
    client.close()
    device.Stop()


if child.NAME == "user_sets_restore_registers":
    import tarn_receive_313 as rx
    class Notify(edge.ITnUserSetNotify):
        def __init__(self):
            super().__init__()
            self.steps = []
        def UserSetStateNotify(self, state, index):
            self.steps.append([state, index])
            return 0
    notify = Notify()
    sink = devices.DeviceSink(features=True)
    device = edge.TnSoftDeviceGEV()
    out["configure"] = [device.SetUserSetCount(2).GetCodeString(), device.SetUserSetNotify(notify).GetCodeString(),
                        device.SetUserSetCount(300).GetCodeString()]
    device.RegisterEventSink(sink)
    device.AddStream(devices.PatternSource())
    device.Start(devices.LOOPBACK_MAC)
    client = rx.TnDeviceGEV()
    client.Connect("127.0.0.1")
    features = client.GetParameters()
    features.SetIntegerValue("TarnInt", 33)
    features.SetStringValue("TarnText", "saved")
    features.SetEnumValue("UserSetSelector", "UserSet1")
    out["save"] = features.ExecuteCommand("UserSetSave").GetCodeString()
    features.SetIntegerValue("TarnInt", 5)
    features.SetStringValue("TarnText", "changed")
    out["load"] = features.ExecuteCommand("UserSetLoad").GetCodeString()
    features.InvalidateCache()
    registers = device.GetRegisterMap()
    out["restored"] = [features.GetIntegerValue("TarnInt")[1], registers.GetRegisterByAddress(devices.CUSTOM).ReadInt()[1],
                       registers.GetRegisterByAddress(devices.CUSTOM + 8).ReadString()[1]]
    out["steps"] = notify.steps
    out["persisted"] = sorted(set(sink.limit.persisted))
    out["in use"] = device.SetUserSetCount(1).GetCodeString()
    client.Disconnect()
    device.Stop()


if child.NAME == "device_information_and_argument_rules":
    import _tarn_edge_313 as module
    device = edge.TnSoftDeviceGEV()
    out["before"] = [device.GetInfo(), device.GetRegisterMap(), device.GetStatistics(), device.GetMessagingChannel(),
                     device.GetGenICamXMLFile()[0].GetCodeString(), device.GetGenICamXMLFile()[1], device.Stop().GetCodeString()]
    out["settings"] = [device.SetTCPTransportEnabled(True).GetCodeString(), device.SetStreamTimestamping(False).GetCodeString(),
                       device.AddStream(None).GetCodeString(), device.RegisterEventSink(None).GetCodeString(),
                       device.SetActionHandler(None).GetCodeString(), device.Start("no MAC").GetCodeString()]
    out["errors"] = [failure(device.SetTCPTransportEnabled, 1), failure(device.SetUserSetCount, -1),
                     failure(device.AddStream, 5), failure(device.SetActionHandler, device),
                     failure(module.ITnVirtualDeviceGEV_Start, edge.TnVirtualDeviceGEV(), "x"),
                     failure(module.ITnSoftDeviceGEV_AddStream, device, object())]
    out["interface"] = module.ITnVirtualDeviceGEV_Start(device, "02:00:5e:ff:ff:fe").GetCodeString()
    device.Start(devices.LOOPBACK_MAC)
    info = device.GetInfo()
    out["identity"] = [info.SetSerialNumber("A" * 15).GetCodeString(), info.SetSerialNumber("A" * 16).GetCodeString(),
                       info.GetSerialNumber(), info.SetModelName(edge.TnString("Tarn Model")).GetCodeString(),
                       info.GetGenICamXMLRegDescModelName(), info.SetManufacturerInformation("m" * 47).GetCodeString(),
                       info.SetGenICamXMLVersion(1, 2, 3).GetCodeString(), failure(info.SetGenICamXMLVersion, 1, 2, 65536),
                       failure(info.SetModelName, b"bytes")]
    result, xml = device.GetGenICamXMLFile()
    out["xml"] = [result.GetCodeString(), xml.startswith("<?xml")]
    out["running"] = [device.Start(devices.LOOPBACK_MAC).GetCodeString(), device.SetUserSetCount(1).GetCodeString(),
                      device.AddStream(devices.PatternSource()).GetCodeString()]
    channel = device.GetMessagingChannel()
    out["fire errors"] = [failure(channel.FireEvent, 65536), failure(channel.FireEvent, 1, bytearray(4)),
                          failure(channel.FireEvent, -1)]
    device.Stop()
