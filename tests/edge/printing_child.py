"""Child programs of test_printing.py. The isolated fixture runs each in a
network namespace of its own: printing_child.py NAME."""

import itertools

import child
from child import out

import _tarn_base_313 as base
import tarn_base_313 as tarn


if child.NAME == "a_camera_and_its_parts":
    # The receive module's proxies: the edge module is not imported here.
    import _tarn_receive_313 as receive
    import tarn_receive_313 as rx
    camera = child.start_fake_camera("TNPRINT")
    system = tarn.TnSystem()
    system.SetDetectionTimeout(500)
    system.Find()
    found, info = system.FindDevice("TNPRINT")
    device = rx.TnDeviceGEV()
    link = device.GetCommunicationParameters()
    assert link.SetIntegerValue("HeartbeatTimeout", 600000).IsOK()  # no heartbeat while commands are counted
    printed = {"not connected": repr(device)}
    out["connect"] = device.Connect(info).GetCodeString()
    features = device.GetParameters()
    stream = rx.TnStreamGEV()
    printed["stream closed"] = repr(stream)
    stream.Open(info, 0)
    pipeline = rx.TnPipeline(stream)
    sent = link.GetIntegerValue("CommandsSent")[1]
    every = list(itertools.islice(features, features.GetCount() + 1))
    out["loop"] = [len(every), features.GetCount(), len(features), None not in every]
    out["in"] = ["Width" in features, "NoSuchFeature" in features, every[-1] in features]
    kinds = {}
    for feature in every:
        kinds.setdefault(type(feature).__name__, feature)
    out["names"] = {kind: feature.GetName()[1] for kind, feature in kinds.items()}
    printed.update({kind: repr(feature) for kind, feature in kinds.items()})
    entry = features.GetEnum("PixelFormat").GetEntryByIndex(0)[1]
    category = features.GetCategory(0)
    out["names"].update(TnGenEnumEntry=entry.GetName()[1], TnGenCategory=category.GetName()[1])
    printed.update(TnGenEnumEntry=repr(entry), TnGenCategory=repr(category))
    printed.update(system=repr(system), info=repr(info), device=repr(device), features=repr(features),
                   stream=repr(stream), pipeline=repr(pipeline))
    out["sent"] = link.GetIntegerValue("CommandsSent")[1] - sent
    out["identity"] = [type(info).__name__, info.GetModelName(), device.GetIPAddress(), device.GetMACAddress(),
                       stream.GetLocalIPAddress(), stream.GetLocalPort(), system.GetInterfaceCount()]
    pipeline.SetBufferSize(features.GetIntegerValue("PayloadSize")[1])
    pipeline.Start()
    printed["pipeline started"] = repr(pipeline)
    pipeline.Stop()
    receive.delete_TnPipeline(pipeline)
    printed["pipeline freed"] = repr(pipeline)
    stream.Close()
    receive.delete_TnStreamGEV(stream)
    printed["stream freed"] = repr(stream)
    device.Disconnect()
    printed["disconnected"] = repr(device)
    receive.delete_TnDeviceGEV(device)
    printed["device freed"] = repr(device)
    printed["features of the freed device"] = repr(features)
    base.delete_TnSystem(system)
    printed["system freed"] = repr(system)
    out["printed"] = printed
    camera.kill()


if child.NAME == "a_software_device":
    import _tarn_edge_313
    import devices
    import tarn_edge_313 as edge
    device = edge.TnSoftDeviceGEV()
    printed = {"made": repr(device)}
    device.AddStream(devices.PatternSource())
    device.Start(devices.LOOPBACK_MAC)
    assert device.GetInfo().SetSerialNumber("TNSOFT1").IsOK()
    printed["running"] = repr(device)
    device.Stop()
    printed["stopped"] = repr(device)
    _tarn_edge_313.delete_TnSoftDeviceGEV(device)
    printed["freed"] = repr(device)
    for kind, empty in (("array", edge.TnGenParameterArray()), ("list", edge.TnGenParameterList())):
        printed[kind] = repr(empty)
        out[kind] = [list(itertools.islice(empty, 1)), len(empty), "Width" in empty]
    out["printed"] = printed
