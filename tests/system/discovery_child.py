"""Child programs of test_discovery.py. The isolated fixture runs each in a
network namespace of its own: discovery_child.py NAME."""

import child
from child import out

import tarn_base_313 as tarn


if child.NAME == "fake_camera_is_found":
    camera = child.start_fake_camera()
    system = tarn.TnSystem()
    system.SetDetectionTimeout(500)
    out["find"] = system.Find().IsOK()
    out["interfaces"] = [type(system.GetInterface(i)).__name__ for i in range(system.GetInterfaceCount())]
    info = system.GetDeviceInfo(0)
    out["class"] = type(info).__name__
    out["values"] = [info.GetMACAddress(), info.GetIPAddress(), info.GetModelName(), info.GetSerialNumber(),
                     info.GetUserDefinedName(), info.GetVendorName(), info.GetGEVVersion() >> 16,
                     info.GetType(), info.IsConfigurationValid(), info.GetConnectionID()]
    adapter = info.GetInterface()
    out["adapter"] = [type(adapter).__name__, adapter.GetType(), adapter.GetIPAddress(0), adapter.GetDeviceCount(),
                      type(adapter.GetDeviceInfo(0)).__name__, adapter.GetDeviceInfo(1) is None,
                      tarn.TnInterface.Compare(adapter, adapter), adapter.GetVexmoorDriverVersion()]
    for key in ("127.0.0.1", tarn.TnString("127.0.0.1"), "TNTEST1"):
        result, found = system.FindDevice(key)
        out.setdefault("find_device", []).append([result.IsOK(), type(found).__name__, found.GetSerialNumber()])
    result, found = system.FindDevice("127.0.0.77")
    out["missing"] = [result.GetCode(), found]
    copy = info.Copy()
    del system
    out["copy"] = [type(copy).__name__, copy.GetSerialNumber(), copy.GetInterface()]
    try:
        tarn.TnDeviceInfoGEV.GetMACAddress(copy)
    except TypeError as error:
        out["copy_refused"] = str(error)
    camera.kill()


if child.NAME == "simulated_devices":
    system = tarn.TnSystem()
    system.SetDetectionTimeout(100)
    system.Find()
    kinds = {}
    for i in range(system.GetDeviceCount()):
        info = system.GetDeviceInfo(i)
        kinds[info.GetType()] = info
    u3v = kinds[tarn.TnDeviceInfoTypeU3V]
    out["u3v"] = [type(u3v).__name__, u3v.GetSerialNumber(), type(u3v.GetInterface()).__name__,
                  u3v.GetInterface().GetType(), u3v.GetInterface().GetName()]
    try:
        tarn._tarn_base_313.TnDeviceInfoU3V_GetSpeed(u3v)
    except TypeError as error:
        out["refused"] = str(error)
    controller = u3v.GetInterface()
    out["controller"] = [controller.GetVendorID(), controller.GetSpeed()]
    vexmoor = kinds[tarn.TnDeviceInfoTypeVexmoorProtocol]
    out["vexmoor"] = [type(vexmoor).__name__, vexmoor.GetSerialNumber()]
    result, found = system.FindDevice("TARN-U3-0042")
    out["found"] = [result.IsOK(), found.GetSerialNumber()]
