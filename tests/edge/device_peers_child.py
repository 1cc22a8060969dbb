"""Child programs of test_device_peers.py. The isolated fixture runs each in a
network namespace of its own: device_peers_child.py NAME [grab | no-grab]
(grab: aravis's GObject receiver takes frames too)."""

import pathlib
import subprocess

import child
from child import out

import tarn_base_313 as tarn

import devices
import tarn_edge_313 as edge

# aravis's GObject receiver, run by the system's Python.
GRAB = pathlib.Path(__file__).resolve().parent.parent / "aravis_grab.py"


def tool(*args):
    done = child.arv_tool(*args)
    return done.stdout + done.stderr


if child.NAME == "aravis_finds_reads_writes_and_streams":
    source = devices.PatternSource(64, 48)
    sink = devices.DeviceSink(features=True)
    device = devices.started(source, sink)
    out["created"] = [[name, (result[0] if isinstance(result, tuple) else result).GetCode()]
                      for name, result in sink.results]
    result, xml = device.GetGenICamXMLFile()
    register = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM)
    out["python write"] = register.Write(7).GetCode()
    out["list"] = tool()
    out["xml"] = [result.GetCode(), tool("-a", "127.0.0.1", "genicam").strip() == xml.strip(), xml.count('<Enumeration Name="TarnEnum"')]
    out["features"] = tool("-a", "127.0.0.1", "features")
    out["read"] = tool("-a", "127.0.0.1", "control", "TarnInt", "TarnDouble", "TarnMilli", "TarnEnum", "TarnBool")
    out["write"] = tool("-a", "127.0.0.1", "control", "TarnInt=42", "TarnText=hello", "TarnEnum=High", "Width=32")
    out["refused"] = tool("-a", "127.0.0.1", "control", "TarnInt=420")
    out["after"] = [register.ReadInt()[1], sink.limit.writes, source.widths,
                    device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM + 8).ReadString()[1]]
    test = subprocess.run(["arv-camera-test-0.8", "-n", "127.0.0.1", "--duration=1"], capture_output=True, text=True,
                          timeout=60)
    out["camera test"] = test.stdout
    if child.ARGUMENTS == ["grab"]:
        frames = subprocess.run(["/usr/bin/python3", "-I", str(GRAB), "127.0.0.1", "20"],
                                capture_output=True, text=True, timeout=60)
        out["grabbed"] = frames.stdout.split("\n") + [frames.stderr[-2000:]]
        out["sent"] = {str(block): crc for block, crc in source.sent.items()}
    out["events"] = sink.events
    out["stop"] = device.Stop().GetCode()


if child.NAME == "the_receive_module_as_client":
    import tarn_receive_313 as rx
    source = devices.PatternSource(64, 48)
    sink = devices.DeviceSink(features=True)
    device = devices.started(source, sink)
    device.GetInfo().SetSerialNumber("TARN0001")
    system = tarn.TnSystem()
    system.SetDetectionTimeout(500)
    found, info = system.FindDevice("TARN0001")
    out["found"] = [found.GetCodeString(), info.GetModelName(), info.GetSerialNumber()]
    client = rx.TnDeviceGEV()
    out["connect"] = client.Connect(info).GetCodeString()
    features = client.GetParameters()
    register = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM)
    register.Write(9)
    out["read"] = [features.GetIntegerValue(name)[1] for name in ("Width", "Height", "PayloadSize", "TarnInt", "TarnDouble")]
    out["write"] = [features.SetIntegerValue("TarnInt", 55).GetCodeString(), features.SetIntegerValue("TarnInt", 555).GetCode(),
                    register.ReadInt()[1]]
    out["strings"] = [features.SetStringValue("TarnText", "from rx")[0].GetCodeString(), features.GetEnumValueString("TarnEnum")[1]]
    features.InvalidateCache()
    out["enum"] = [features.SetEnumValue("TarnEnum", "High")[0].GetCodeString(), features.GetIntegerValue("TarnMilli")[1]]
    out["seen"] = [sink.limit.writes, device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM + 8).ReadString()[1]]
    out["disconnect"] = client.Disconnect().GetCodeString()
    sink.wait_for("disconnect")
    out["events"] = [event for event in sink.events if event[0] in ("connect", "disconnect")]
    statistics = device.GetStatistics()
    out["statistics"] = [statistics.GetSessionsOpened(), statistics.GetSessionsClosed(), statistics.GetReadRegsReceived() > 0]
    device.Stop()
