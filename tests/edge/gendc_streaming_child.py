"""Child programs of test_gendc_streaming.py. The isolated fixture runs each in
a network namespace of its own: gendc_streaming_child.py NAME."""

import pathlib
import sys
import zlib

import child
from child import out

import tarn_base_313 as tarn

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "gendc"))
import devices  # noqa: E402
import tarn_edge_313 as edge  # noqa: E402
import tarn_receive_313 as rx  # noqa: E402
from gendc_packing import agrees_with_independent_reader  # noqa: E402

# Through a lossy relay the source streams slower.
RATE = 200 if child.NAME == "lost_packets_fail_the_container_or_are_resent" else 1000

source = devices.GenDCSource(rate=RATE)
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


if child.NAME == "containers_arrive_whole_and_the_mode_switches_to_raw_data":
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

    stream.Close()
    client.Disconnect()
    device.Stop()

    # The manager the source kept goes with the device: calls are refused.
    manager = source.manager
    del device
    import gc; gc.collect()
    try:
        manager.GetTotalPayloadSize()
        out["kept"] = "answered"
    except TypeError:
        out["kept"] = "refused"


if child.NAME == "lost_packets_fail_the_container_or_are_resent":
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

    stream.Close()
    client.Disconnect()
    device.Stop()
