"""The stream transmitter alone, answered for by the light virtual device:
Python's buffers sent to the SDK's receiver through a lossy relay, lost
packets resent on the receiver's requests; the argument forms of the
transmitter, the virtual device and the frame-rate stabiliser."""

import math
import os
import pathlib

import pytest

CHILD = pathlib.Path(__file__).resolve().with_name("transmitter_child.py")

HERE = pathlib.Path(__file__).resolve().parent
BUILD = pathlib.Path(os.environ.get("TARN_BUILD_DIR", HERE.parents[1] / "build"))
RECEIVER = BUILD / "sdk" / "gev" / "tools" / "tn_gvsp_receive"


def outcome(call, *args):
    try:
        return call(*args)
    except Exception as error:
        return type(error), str(error)


def test_sends_python_buffers_with_loss_and_resend(isolated):
    if not RECEIVER.exists():
        pytest.skip("the SDK's stream tools are built with the tests (TARN_BUILD_TESTS)")
    out = isolated(CHILD, "sends_python_buffers_with_loss_and_resend", RECEIVER, timeout=90)
    assert out["device"] == ["OK", "OK", "OK", "BUSY"]
    assert out["open"] == ["OK", "OK", True, "127.0.0.1", "OK"]
    assert out["queued"] == [0] * 24
    assert out["sent"] == [24, 24 * 256 * 128, True, True]
    assert out["close"] == ["OK", "OK"]
    result = dict(item.split("=") for item in out["received"].split("RESULT ")[1].split())
    assert result["good_total"] == "24" and result["failed"] == "0" and result["bad"] == "0", out["received"]
    assert int(result["recovered"]) > 0 and result["missing_packets"] == "0"


def test_transmitter_argument_forms(ed, edge):
    transmitter = ed.TnTransmitterGEV()
    open_ = "Wrong number or type of arguments for overloaded function 'TnTransmitterGEV_Open'."
    for arguments in [(ed.TnString("127.0.0.1"),), ("127.0.0.1", 5000), (None, 5000), (ed.TnString("1.2.3.4"), 65536),
                      (ed.TnString("1.2.3.4"), 5000, ed.TnString(""), 0, 1)]:
        error, text = outcome(transmitter.Open, *arguments)
        assert error is TypeError and text.startswith(open_)
    assert text.endswith("    TnTransmitterGEV::Open(TnString,uint16_t)\n") and text.count("TnTransmitterGEV::Open(") == 9
    assert outcome(edge.TnTransmitterGEV_Open, transmitter, *range(11)) [1].startswith(
        "TnTransmitterGEV_Open expected at most 11 arguments, got 12")
    assert transmitter.Open(ed.TnString("no address"), 5000).GetCode() == ed.TN_INVALID_PARAMETER
    assert outcome(transmitter.LoadBufferPool, [1, 2], 2) == (
        TypeError, "in method 'TnTransmitterGEV_LoadBufferPool', argument 2 of type 'TnBuffer **'")
    assert transmitter.LoadBufferPool(None, 3).GetCode() == ed.TN_INVALID_PARAMETER
    assert transmitter.RetrieveFreeBuffer(None).GetCode() == ed.TN_INVALID_PARAMETER
    assert outcome(transmitter.AbortQueuedBuffers, 5, True)[0] is TypeError
    assert transmitter.QueueBuffer(None).GetCode() == ed.TN_INVALID_PARAMETER
    assert transmitter.QueuePacketResend(2**64 - 1, 0, 1) is None
    for value, error in [(2**64, OverflowError), (-1, OverflowError), (1.5, TypeError)]:
        assert outcome(transmitter.QueuePacketResend, value, 0, 1) == (
            error, "in method 'TnTransmitterGEV_QueuePacketResend', argument 2 of type 'uint64_t'")
    assert outcome(transmitter.SetMaxPayloadThroughput, 1e39)[0] is OverflowError
    assert transmitter.SetMaxPayloadThroughput(math.inf).GetCodeString() in ("OK", "INVALID_PARAMETER")
    assert transmitter.SetMaxPayloadThroughput(1000).GetCodeString() == "OK"
    assert transmitter.GetMaxPayloadThroughput() == 1000.0
    interface = edge.ITnTransmitterGEV_IsOpen(transmitter), edge.ITnTransmitterGEV_GetExtendedIDs(transmitter)
    assert interface == (transmitter.IsOpen(), transmitter.GetExtendedIDs()) == (False, False)
    assert outcome(transmitter.SetExtendedIDs, 1)[0] is TypeError


def test_virtual_device_and_stabiliser_forms(ed, edge):
    device = ed.TnVirtualDeviceGEV()
    assert isinstance(device.GetGVCPCapabilityPacketResendCommandSupported(), bool)
    assert device.GetDevicePortThreadPriority() >= 0
    assert outcome(device.StartListening, "127.0.0.1") == (
        TypeError, "in method 'TnVirtualDeviceGEV_StartListening', argument 2 of type 'TnString'")
    assert outcome(device.GetGEVSpecificationVersion, 1, 2) == (
        TypeError, "in method 'TnVirtualDeviceGEV_GetGEVSpecificationVersion', argument 2 of type 'uint16_t &'")
    assert outcome(device.SetGEVSpecificationVersion, 65536, 0)[0] is OverflowError
    assert device.AddTransmitterGEV(None).GetCode() == ed.TN_INVALID_PARAMETER
    assert outcome(edge.ITnVirtualDeviceGEV_GetInfo, device)[0] is TypeError
    stabiliser = ed.TnFPSStabilizer()
    assert isinstance(stabiliser.IsTimeToDisplay(30), bool)
    for value, error in [(-1, OverflowError), (2**32, OverflowError), (30.0, TypeError)]:
        assert outcome(stabiliser.IsTimeToDisplay, value) == (
            error, "in method 'TnFPSStabilizer_IsTimeToDisplay', argument 2 of type 'uint32_t'")
    assert outcome(edge.TnFPSStabilizer_IsTimeToDisplay, stabiliser) == (
        TypeError, "TnFPSStabilizer_IsTimeToDisplay expected 2 arguments, got 1")
    assert stabiliser.Reset() is None and stabiliser.GetAverage() >= 0
    assert edge.delete_TnFPSStabilizer(None) is None
