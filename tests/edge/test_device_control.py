"""The software device's own control side from Python: the event sink's
callbacks at their moments (with the client's address and port), heartbeat
expiry, the messaging channel, the device's information and statistics,
user sets saved and loaded, and the device functions' argument rules."""

import pathlib

import pytest

HERE = pathlib.Path(__file__).resolve().parent
PRELUDE = f'''
sys.path.insert(0, {str(HERE)!r})
import devices, gvcp
import tarn_edge_313 as edge
'''


def test_connect_heartbeat_expiry_and_messages(isolated):
    out = isolated(PRELUDE + '''
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
out["fired"] = [channel.FireEvent(0x9001).GetCodeString(), channel.FireEvent(0x9002, b"\\x01\\x02\\x03\\x04").GetCodeString(),
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
''')
    assert out["closed"] == [False, "STATE_ERROR"]
    assert out["control"] == 0 and out["heartbeat"] == 0 and out["message channel"] == [0, 0]
    assert out["open"] is True and out["fired"] == ["OK", "OK", "OK"]
    assert out["events"] == [[0x9001, ""], [0x9002, "01020304"], [0x9003, ""]]
    assert out["expired"] is True
    assert out["statistics"] == [1, 1, 2, 1, True] and out["reset"] == 0
    assert out["stop"] == "OK"
    events = out["sink"]
    assert events[:3] == [["registers"], ["features"], ["start", "00:00:00:00:00:00", "127.0.0.1", 3956]]
    assert events[3] == ["connect", "127.0.0.1", out["client port"], 2]
    assert events[4:] == [["disconnect"], ["stop"]]


def test_user_sets_restore_registers(isolated):
    out = isolated(PRELUDE + '''
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
''')
    assert out["configure"] == ["OK", "OK", "INVALID_PARAMETER"]
    assert out["save"] == "OK" and out["load"] == "OK"
    # Only the streamable feature (TarnInt) is in the user sets.
    assert out["restored"] == [33, 33, "changed"]
    assert out["steps"] == [[0, 1], [1, 1], [2, 1], [3, 1]]
    assert out["persisted"] == ["TarnIntReg"]
    assert out["in use"] == "STATE_ERROR"


def test_device_information_and_argument_rules(isolated, edge):
    out = isolated(PRELUDE + '''
import _tarn_edge_313 as module
def failure(call, *args):
    try:
        call(*args)
    except Exception as error:
        return [type(error).__name__, str(error)]
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
''')
    assert out["before"] == [None, None, None, None, "STATE_ERROR", None, "STATE_ERROR"]
    assert out["settings"] == ["OK", "OK", "INVALID_PARAMETER", "INVALID_PARAMETER", "OK", "INVALID_PARAMETER"]
    assert out["errors"] == [
        ["TypeError", "in method 'TnSoftDeviceGEV_SetTCPTransportEnabled', argument 2 of type 'bool'"],
        ["OverflowError", "in method 'TnSoftDeviceGEV_SetUserSetCount', argument 2 of type 'uint32_t'"],
        ["TypeError", "in method 'TnSoftDeviceGEV_AddStream', argument 2 of type 'ITnSWStreamingChannelSource *'"],
        ["TypeError", "in method 'TnSoftDeviceGEV_SetActionHandler', argument 2 of type "
                      "'TnVirtualDeviceLib::IActionHandler *'"],
        ["TypeError", "in method 'ITnVirtualDeviceGEV_Start', argument 1 of type 'ITnVirtualDeviceGEV *'"],
        ["TypeError", "in method 'ITnSoftDeviceGEV_AddStream', argument 2 of type 'ITnSWStreamingChannelSource *'"]]
    assert out["interface"] == "NOT_FOUND"
    assert out["identity"][:7] == ["OK", "INVALID_PARAMETER", "A" * 15, "OK", "Tarn Model", "OK", "STATE_ERROR"]
    assert out["identity"][7] == ["OverflowError",
                                  "in method 'ITnVirtualDeviceGEVInfo_SetGenICamXMLVersion', argument 4 of type 'uint16_t'"]
    assert out["identity"][8] == ["TypeError", "Argument 2: failed to create TnString from Python string"]
    assert out["xml"] == ["OK", True]
    assert out["running"] == ["STATE_ERROR", "STATE_ERROR", "STATE_ERROR"]
    overload = "Wrong number or type of arguments for overloaded function 'ITnMessageChannel_FireEvent'."
    for error in out["fire errors"]:
        assert error[0] == "TypeError" and error[1].startswith(overload)
    assert out["fire errors"][0][1].endswith("    ITnMessageChannel::FireEvent(uint16_t,uint8_t *,uint32_t)\n")
