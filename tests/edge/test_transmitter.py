"""The stream transmitter alone, answered for by the light virtual device:
Python's buffers sent to the SDK's receiver through a lossy relay, lost
packets resent on the receiver's requests; the argument forms of the
transmitter, the virtual device and the frame-rate stabiliser."""

import math
import os
import pathlib

import pytest

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
    out = isolated(f'''
import sys
sys.path.insert(0, {str(HERE)!r})
import devices
import numpy as np
import tarn_edge_313 as edge
width, height, frames = 256, 128, 24

receiver = subprocess.Popen([{str(RECEIVER)!r}, "--listen", "50123", "-W", str(width), "-H", str(height),
                             "--verify-all", "-q", "-d", "20", "--idle-exit", "1", "--resend-to", "127.0.0.1:3956"],
                            stdout=subprocess.PIPE, text=True)
transmitter = edge.TnTransmitterGEV()
device = edge.TnVirtualDeviceGEV()
out["device"] = [device.SetModelName("Tarn Transmitter").GetCodeString(), device.AddTransmitterGEV(transmitter).GetCodeString(),
                 device.StartListening(edge.TnString("127.0.0.1")).GetCodeString(),
                 device.SetModelName("busy").GetCodeString()]
relay = devices.Relay(50123, 53)
relay.start()
time.sleep(0.3)
out["open"] = [transmitter.SetPacketSize(1500).GetCodeString(),
               transmitter.Open(edge.TnString("127.0.0.1"), relay.port).GetCodeString(),
               transmitter.IsOpen(), transmitter.GetDestinationIPAddress(),
               transmitter.SetMaxPayloadThroughput(200e6).GetCodeString()]
# fastcam's pattern: bytes 0..7 the block id, byte i after them (i % line + i // line) & 0xFF.
index = np.arange(width * height, dtype=np.uint64)
base = ((index % width + index // width) & 0xFF).astype(np.uint8)
buffers = []
for block in range(1, frames + 1):
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
    buffer.GetImage().Alloc(width, height, tarn.TnPixelMono8)
    data = buffer.GetImage().GetDataPointer().reshape(-1)
    data[:] = base
    data[:8] = np.frombuffer(block.to_bytes(8, "big"), np.uint8)
    buffer.SetBlockID(block)
    buffers.append(buffer)
    out.setdefault("queued", []).append(transmitter.QueueBuffer(buffer).GetCode())
    time.sleep(0.01)
time.sleep(1.0)
out["sent"] = [transmitter.GetBlocksTransmitted(), transmitter.GetPayloadBytesTransmitted(),
               transmitter.GetNumberOfResendRequests() > 0, relay.dropped > 0]
out["close"] = [transmitter.AbortQueuedBuffers(2000).GetCodeString(), transmitter.Close().GetCodeString()]
device.StopListening()
relay.running = False
out["received"] = receiver.communicate(timeout=30)[0]
''', timeout=90)
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
