"""Discovery: the system, interfaces and device information, against the
independent peer's fake camera and simulated USB3 Vision devices, each in a
network namespace of its own."""

import pathlib

import pytest

CHILD = pathlib.Path(__file__).resolve().with_name("discovery_child.py")


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


def test_fake_camera_is_found(isolated, fake_camera):
    out = isolated(CHILD, "fake_camera_is_found")
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
    out = isolated(CHILD, "simulated_devices", env={"TARN_SIMULATED_DEVICES": str(description)})
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
