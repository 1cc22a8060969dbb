"""Discovery: the system, interfaces and device information, against the
independent peer's fake camera and simulated USB3 Vision devices, each in a
network namespace of its own."""

import pytest


def test_system_settings_and_argument_checks(tarn, base):
    system = tarn.TnSystem()
    assert system.GetDetectionTimeout() == 1500
    system.SetDetectionTimeout(4294967295)
    assert system.GetDetectionTimeout() == 60000
    system.SetDetectionTimeout(1)
    assert system.GetDetectionTimeout() == 100
    with pytest.raises(OverflowError) as error:
        system.SetDetectionTimeout(4294967296)
    assert str(error.value) == "in method 'TnSystem_SetDetectionTimeout', argument 2 of type 'uint32_t'"
    with pytest.raises(TypeError) as error:
        system.SetSubnetBroadcastEnabled(1)
    assert str(error.value) == "in method 'TnSystem_SetSubnetBroadcastEnabled', argument 2 of type 'bool'"
    system.SetSubnetBroadcastEnabled(True)
    assert system.GetSubnetBroadcastEnabled() is True
    assert system.GetGEVSupportedVersion() >> 16 == 2
    assert system.GetInterface(system.GetInterfaceCount()) is None
    assert system.GetDeviceInfo(system.GetDeviceCount()) is None
    with pytest.raises(OverflowError, match="'TnSystem_GetInterface', argument 2 of type 'uint32_t'"):
        system.GetInterface(-1)
    with pytest.raises(TypeError, match="'TnSystem_GetDeviceInfo', argument 2 of type 'uint32_t'"):
        system.GetDeviceInfo(1.5)
    with pytest.raises(TypeError) as error:
        system.FindDevice(5)
    assert str(error.value) == "Argument 2: failed to create TnString from Python string"
    with pytest.raises(TypeError, match="invalid null reference"):
        system.FindDevice(None)
    with pytest.raises(TypeError) as error:
        system.GetSessionInfo(0, None)
    assert str(error.value) == "invalid null reference in method 'TnSystem_GetSessionInfo', argument 3 of type 'TnSessionInfo &'"
    with pytest.raises(TypeError, match="argument 3 of type 'TnSessionInfo &'"):
        system.GetSessionInfo(0, 3)
    assert system.GetSessionInfo(0, tarn.TnSessionInfo()).GetCode() == tarn.TN_NOT_FOUND
    assert system.RegisterEventSink(None).GetCode() == tarn.TN_INVALID_PARAMETER
    with pytest.raises(TypeError, match="'TnSystem_RegisterEventSink', argument 2 of type 'TnSystemEventSink \\*'"):
        system.RegisterEventSink(system)
    with pytest.raises(TypeError, match="argument 1 of type 'TnSystem const \\*'"):
        base.TnSystem_GetInterfaceCount(tarn.TnString("x"))


def test_fake_camera_is_found(isolated, fake_camera_code):
    out = isolated(fake_camera_code + '''
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
tarn.delete_TnDeviceInfo(copy) if hasattr(tarn, "delete_TnDeviceInfo") else None
camera.kill()
''')
    assert out["find"] and "TnNetworkAdapter" in out["interfaces"]
    assert out["class"] == "TnDeviceInfoGEV"
    mac, ip, model, serial, user, vendor, major, kind, valid, connection = out["values"]
    assert ip == "127.0.0.1" and serial == "TNTEST1" and kind == 0 and valid is True
    assert len(mac.split(":")) == 6 and mac == mac.lower()
    assert vendor and model and isinstance(major, int) and connection
    assert out["adapter"] == ["TnNetworkAdapter", 1, "127.0.0.1", 1, "TnDeviceInfoGEV", True, False, ""]
    assert out["find_device"] == [[True, "TnDeviceInfo", "TNTEST1"]] * 3
    assert out["missing"] == [25, None]
    assert out["copy"] == ["TnDeviceInfo", "TNTEST1", None]
    assert "argument 1 of type 'TnDeviceInfoGEV const *'" in out["copy_refused"]


SIMULATED = """
[controller]
name = sim0
description = Simulated xHCI
speed = super
vendor_id = 0x8086

[u3v]
vendor = Tarn
model = U3 Camera
serial = U3-42
guid = TARN-U3-0042
controller = sim0
speed = high

[vexmoor]
vendor = Tarn
model = Link
serial = VX-1
vendor_id = 200
software_major = 3
"""


def test_simulated_devices(isolated, tmp_path):
    description = tmp_path / "devices.ini"
    description.write_text(SIMULATED)
    out = isolated('''
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
    tarn.TnDeviceInfoU3V_GetSpeed(u3v) if False else tarn._tarn_base_313.TnDeviceInfoU3V_GetSpeed(u3v)
except TypeError as error:
    out["refused"] = str(error)
controller = u3v.GetInterface()
out["controller"] = [controller.GetVendorID(), controller.GetSpeed()]
vexmoor = kinds[tarn.TnDeviceInfoTypeVexmoorProtocol]
out["vexmoor"] = [type(vexmoor).__name__, vexmoor.GetSerialNumber()]
result, found = system.FindDevice("TARN-U3-0042")
out["found"] = [result.IsOK(), found.GetSerialNumber()]
''', env={"TARN_SIMULATED_DEVICES": str(description)})
    assert out["u3v"] == ["TnDeviceInfo", "U3-42", "TnUSBHostController", 0, "Simulated xHCI"]
    assert out["refused"] == "in method 'TnDeviceInfoU3V_GetSpeed', argument 1 of type 'TnDeviceInfoU3V const *'"
    assert out["controller"] == [0x8086, 4]
    assert out["vexmoor"] == ["TnDeviceInfo", "VX-1"]
    assert out["found"] == [True, "U3-42"]


def test_device_info_classes(tarn, base):
    u3v = tarn.TnDeviceInfoU3V()
    assert base.TnDeviceInfoUSB_GetStatus(u3v) == tarn.TnUSBStatusNotInitialized == -1
    assert u3v.GetSpeed() == tarn.TnUSBSpeedUnknown
    for info in (tarn.TnDeviceInfoGEV(), tarn.TnDeviceInfoVexmoorProtocol(), tarn.TnDeviceInfoUSB(), u3v):
        assert base.TnDeviceInfo_GetVendorName(info) == ""
        assert info.GetInterface() is None
    assert tarn.TnDeviceInfoVexmoorProtocol().GetVendorID() == 0
    assert tarn.TnDeviceInfoGEV().GetType() == tarn.TnDeviceInfoTypeGEV
    adapter = tarn.TnNetworkAdapter()
    assert adapter.GetType() == tarn.TnInterfaceTypeNetworkAdapter and adapter.GetIPAddressCount() == 0
    assert tarn.TnUSBHostController().GetType() == tarn.TnInterfaceTypeUSBHostController
    copy = adapter.Copy()
    assert type(copy) is tarn.TnInterface and copy.this.own()  # detached: its proxy frees it
    with pytest.raises(TypeError, match="'TnNetworkAdapter_GetMACAddress', argument 1 of type 'TnNetworkAdapter const \\*'"):
        base.TnNetworkAdapter_GetMACAddress(copy)
    base.delete_TnInterface(copy)
    assert tarn.TnInterface.Compare(None, adapter) is True
    with pytest.raises(TypeError, match="'TnInterface_Compare', argument 1 of type 'TnInterface const \\*'"):
        tarn.TnInterface.Compare(3, adapter)


def test_session_and_ip_records(tarn, base):
    session = tarn.TnSessionInfo()
    assert session.mPort == 0 and session.mName.GetAscii() == ""
    session.mPort = 65535
    assert session.mPort == 65535
    for bad, kind in ((65536, OverflowError), (-1, OverflowError), ("1", TypeError)):
        with pytest.raises(kind) as error:
            base.TnSessionInfo_mPort_set(session, bad)
        assert str(error.value) == "in method 'TnSessionInfo_mPort_set', argument 2 of type 'uint16_t'"
    with pytest.raises(TypeError) as error:
        base.TnSessionInfo_mName_set(session, "text")
    assert str(error.value) == "in method 'TnSessionInfo_mName_set', argument 2 of type 'TnString *'"
    with pytest.raises(TypeError, match="invalid null reference"):
        base.TnSessionInfo_mName_set(session, None)
    name = tarn.TnString("Camera")
    session.mName = name
    name += "changed"
    assert session.mName.GetAscii() == "Camera"
    field = session.mName
    field += " 7"  # the field in place
    assert base.TnSessionInfo_mName_get(session).GetAscii() == "Camera 7"

    config = tarn.IPConfig()
    assert config.mIPAddress == "" and config.mSubnetMask == ""
    config.mIPAddress = "192.168.0.9"
    config.mSubnetMask = "255.255.255.0 ü"
    assert (config.mIPAddress, config.mSubnetMask) == ("192.168.0.9", "255.255.255.0 ü")
    with pytest.raises(TypeError) as error:
        base.IPConfig_mIPAddress_set(config, None)
    assert str(error.value) == "invalid null reference in method 'IPConfig_mIPAddress_set', argument 2 of type 'std::string const &'"
    for bad in (5, "\udc80"):
        with pytest.raises(TypeError, match="'IPConfig_mIPAddress_set', argument 2 of type 'std::string const &'"):
            base.IPConfig_mIPAddress_set(config, bad)
    with pytest.raises(TypeError, match="argument 1 of type 'TnSystemLib::IPConfig \\*'"):
        base.IPConfig_mIPAddress_get(session)
