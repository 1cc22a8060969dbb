"""GenDC containers built by a Python source, streamed by the software device
and received by the receive module, each test in a network namespace of its
own: the containers arrive as GenDC buffers byte for byte, our walk and the
independent reader agree on every one, the streaming mode switches to raw
data and back, and the transmitter sends a container alike; through a lossy
relay a container is complete and equal or reported failed, and complete
once lost packets are resent."""

import pathlib

HERE = pathlib.Path(__file__).resolve().parent

SETUP = f'''
import sys, zlib
sys.path.insert(0, {str(HERE)!r})
sys.path.insert(0, {str(HERE.parent / "gendc")!r})
import devices
import tarn_edge_313 as edge
import tarn_receive_313 as rx
from gendc_packing import agrees_with_independent_reader

source = devices.GenDCSource(rate=1000)
device = edge.TnSoftDeviceGEV()
assert device.SetGenDCEnabled(True).IsOK() and device.AddStream(source).IsOK()
assert device.Start(devices.LOOPBACK_MAC).IsOK()
system, info, client, features, stream, buffers = devices.connect()
payload = features.GetIntegerValue("PayloadSize")[1]

def check(buffer):
    """What a received GenDC buffer holds against what the source sent."""
    block, data, container = buffer.GetBlockID(), buffer.GetDataPointer()[:buffer.GetPayloadSize()], buffer.GetGenDC()
    agrees_with_independent_reader(data, container)
    images = [part.GetGenDCImage().GetDataPointer() for part in container[0]]
    chunk = container[1][0].GetGenDCChunkData().GetChunkRawDataByID(source.CHUNK).tobytes()
    return [bool(check) for check in (
        buffer.GetPayloadType() == tarn.TnPayloadTypeGenDC, zlib.crc32(data) == source.sent[block],
        container.IsValid(), images[0].dtype == "uint8" and (images[0] == devices.pattern(64, 48, block)).all(),
        images[1].dtype == "uint16" and (images[1] == source.pattern16(32, 24, block)).all(),
        int.from_bytes(chunk, "little") == block)]

def receive(count, port=None, inspect=check, after=0):
    """Streams until `count` blocks after block `after` came (earlier ones,
    still on their way, are left out): the complete ones' inspections, and
    the failed ones' codes."""
    assert client.SetStreamDestination(stream.GetLocalIPAddress(), port or stream.GetLocalPort()).IsOK()
    assert features.Get("AcquisitionStart").Execute().IsOK()
    complete, failed = [], []
    while len(complete) + len(failed) < count:
        result, buffer, operation = stream.RetrieveBuffer(3000)
        assert result.IsOK(), result.GetCodeString()
        if buffer.GetBlockID() <= after:
            pass
        elif operation.IsOK():
            complete.append(inspect(buffer))
        else:
            failed.append(operation.GetCodeString())
        stream.QueueBuffer(buffer)
    features.Get("AcquisitionStop").Execute()
    while stream.RetrieveBuffer(300)[0].IsOK():
        pass
    for buffer in buffers:
        stream.QueueBuffer(buffer)
    return complete, failed
'''

END = '''
stream.Close()
client.Disconnect()
device.Stop()
'''


def test_containers_arrive_whole_and_the_mode_switches_to_raw_data(isolated):
    out = isolated(SETUP + '''
out["setup"] = [features.GetEnumValueString("GenDCStreamingMode")[1], payload == source.manager.GetTotalPayloadSize(),
                list(source.modes)]
complete, failed = receive(60)
out["gendc"] = [len(complete), failed, all(all(checks) for checks in complete)]
out["off"] = features.SetEnumValue("GenDCStreamingMode", "Off")[0].GetCodeString()
raw = lambda buffer: [buffer.GetPayloadType(), zlib.crc32(buffer.GetDataPointer()[:buffer.GetPayloadSize()])
                      == source.sent[buffer.GetBlockID()]]
out["raw"] = receive(5, inspect=raw, after=source.block), tarn.TnPayloadTypeRawData
features.SetEnumValue("GenDCStreamingMode", "On")
out["again"] = receive(5, after=source.block)
out["modes"] = source.modes
# The transmitter sends a GenDC buffer as a GenDC block too, to a stream of
# its own.
transmitter, sent, apart = edge.TnTransmitterGEV(), tarn.TnBuffer(tarn.TnPayloadTypeGenDC), rx.TnStreamGEV()
assert sent.AttachGenDCManager(source.manager).IsOK()
source.sent[9999] = source.write(sent, 9999)
sent.SetBlockID(9999)
held = tarn.TnBuffer()
held.Alloc(payload)
assert apart.Open(info, 0).IsOK()
apart.QueueBuffer(held)
assert transmitter.Open(edge.TnString("127.0.0.1"), apart.GetLocalPort()).IsOK()
assert transmitter.QueueBuffer(sent).IsOK()
result, buffer, operation = apart.RetrieveBuffer(3000)
out["transmitted"] = [result.GetCodeString(), operation.GetCodeString(), buffer.GetBlockID(), check(buffer)]
transmitter.Close()
apart.Close()
''' + END + '''
# The manager the source kept goes with the device: calls are refused.
manager = source.manager
del device
import gc; gc.collect()
try:
    manager.GetTotalPayloadSize()
    out["kept"] = "answered"
except TypeError:
    out["kept"] = "refused"
''', timeout=120)
    assert out["setup"] == ["On", True, []]
    assert out["gendc"] == [60, [], True]
    (complete, failed), raw_type = out["raw"]
    assert out["off"] == "OK" and complete == [[raw_type, True]] * 5 and failed == []
    assert out["again"] == [[[True] * 6] * 5, []]
    assert out["modes"] == [False, True]
    assert out["transmitted"] == ["OK", "OK", 9999, [True] * 6]
    assert out["kept"] == "refused"


def test_lost_packets_fail_the_container_or_are_resent(isolated):
    out = isolated(SETUP.replace("rate=1000", "rate=200") + '''
relay = devices.Relay(stream.GetLocalPort(), 7, 8)
relay.start()
parameters = stream.GetParameters()
out["offered"] = parameters.GetBooleanValue("RequestMissingPackets")[1]
complete, failed = receive(40, relay.port)
out["resent"] = [len(complete), failed, all(all(checks) for checks in complete),
                 parameters.GetIntegerValue("PacketsRecovered")[1] > 0]
assert parameters.SetBooleanValue("RequestMissingPackets", False).IsOK()
complete, failed = receive(40, relay.port, after=source.block)
out["lossy"] = [len(complete) + len(failed), all(all(checks) for checks in complete), sorted(set(failed)),
               relay.dropped]
relay.running = False
''' + END, timeout=120)
    assert out["offered"] is True
    assert out["resent"] == [40, [], True, True]
    count, equal, codes, dropped = out["lossy"]
    assert count == 40 and equal and dropped > 0
    assert codes == ["MISSING_PACKETS"], codes
