"""Child programs of test_rtp_device.py. The isolated fixture runs each in a
network namespace of its own: rtp_device_child.py NAME [FOLDER]
(FOLDER: where GStreamer's receivers write the frames they took)."""

import subprocess
import time

import child
from child import out

import tarn_base_313 as tarn


if child.NAME == "rtp_channel_is_announced_and_received_over_udp_and_tcp":
    import os, signal, zlib
    import numpy as np
    import devices
    import tarn_edge_313 as edge
    import tarn_receive_313 as rx

    child.loopback_multicast()
    W, H = 160, 120
    source = devices.PatternSource(W, H, rgb=True, rate=40)
    device = edge.TnSoftDeviceGEV()
    assert device.SetRTPProtocolEnabled(True).IsOK() and device.SetTCPTransportEnabled(True).IsOK()
    assert device.AddStream(source).IsOK()
    assert device.Start(devices.LOOPBACK_MAC).IsOK()
    out["feature"] = 'Name="StreamProtocol"' in device.GetGenICamXMLFile()[1]

    # The announcement, as the base module's discovery sees it.
    system = tarn.TnSystem()
    system.SetDetectionTimeout(1500)
    sessions = []
    for index in range(system.DiscoverSessions()):
        info = tarn.TnSessionInfo()
        assert system.GetSessionInfo(index, info).IsOK()
        sessions.append([info.mName.GetAscii(), info.mAddress.GetAscii(), info.mPort])
    out["sessions"] = sessions
    name, group, port = sessions[0]

    def sent(frame):
        return zlib.crc32(frame.tobytes()) in source.sent.values()

    def ours(open_stream, count=4):
        stream = rx.TnStreamRTP()
        assert stream.PrepareFor(W, H, rx.TnPixelRGB8).IsOK()
        assert open_stream(stream).IsOK()
        buffers = child.queue_buffers(stream, 8, W * H * 3)
        good, failed = 0, 0
        deadline = time.time() + 10
        while good < count and time.time() < deadline:
            result, buffer, operation = stream.RetrieveBuffer(500)
            if buffer is None:
                continue
            if operation.IsOK():
                assert sent(buffer.GetImage().GetDataPointer()), "a complete frame holds other bytes"
                good += 1
            else:
                failed += 1
            stream.QueueBuffer(buffer)
        stream.Close()
        return [good, failed]

    out["ours"] = {"udp": ours(lambda stream: stream.Open(group, port, "127.0.0.1")),
                   "tcp": ours(lambda stream: stream.OpenTCP("127.0.0.1", port))}

    # GStreamer's receiver, from the group and over TCP, writes the frames it
    # depayloads to a file.
    caps = ("application/x-rtp,media=video,clock-rate=90000,encoding-name=RAW,sampling=RGB,depth=(string)8,"
            f"width=(string){W},height=(string){H},colorimetry=(string)BT601-5,payload=96")
    receivers = {
        "udp": ["udpsrc", f"address={group}", f"port={port}", "multicast-iface=lo", f"caps={caps}"],
        "tcp": ["tcpclientsrc", "host=127.0.0.1", f"port={port}", "!", "application/x-rtp-stream,encoding-name=RAW",
                "!", "rtpstreamdepay", "!", caps],
    }
    out["gstreamer"] = {}
    for kind, front in receivers.items():
        path = os.path.join(child.ARGUMENTS[0], kind + ".rgb")
        gst = subprocess.Popen(["gst-launch-1.0", "-q", *front, "!", "rtpvrawdepay", "!", "filesink",
                                f"location={path}", "buffer-mode=2"], stderr=subprocess.PIPE)
        time.sleep(1.5)
        gst.send_signal(signal.SIGINT)
        gst.wait(10)
        data = np.fromfile(path, dtype=np.uint8)
        frames = data[: len(data) // (W * H * 3) * W * H * 3].reshape(-1, H, W, 3)
        # The first frame may be one the receiver came into halfway.
        out["gstreamer"][kind] = [len(frames), sum(sent(frame) for frame in frames[1:])]
    assert device.Stop().IsOK()


if child.NAME == "rtp_channel_sends_h264_access_units":
    import zlib
    import av
    import numpy as np
    import devices
    import tarn_edge_313 as edge
    import tarn_receive_313 as rx

    child.loopback_multicast()
    # Access units that each decode on their own (every picture a key frame with
    # its parameter sets), some large enough for fragments.
    encoder = av.CodecContext.create("libx264", "w")
    encoder.width, encoder.height, encoder.pix_fmt = 320, 240, "yuv420p"
    encoder.options = {"preset": "ultrafast", "tune": "zerolatency", "x264-params": "keyint=1:repeat-headers=1"}
    random = np.random.default_rng(3)
    units = []
    for index in range(6):
        picture = random.integers(0, 256, (240, 320, 3), dtype=np.uint8)
        frame = av.VideoFrame.from_ndarray(picture, format="rgb24").reformat(format="yuv420p")
        units += [bytes(packet) for packet in encoder.encode(frame)]
    units += [bytes(packet) for packet in encoder.encode(None)]
    source = devices.PatternSource(320, 240, rgb=True, rate=60, units=units)
    device = edge.TnSoftDeviceGEV()
    assert device.SetRTPProtocolEnabled(True).IsOK()
    assert device.AddStream(source).IsOK()
    assert device.Start(devices.LOOPBACK_MAC).IsOK()
    stream = rx.TnStreamRTP()
    assert stream.PrepareForH264().IsOK()
    assert stream.Open("239.255.0.1", 5004, "127.0.0.1").IsOK()
    buffers = child.queue_buffers(stream, 8, 1 << 20)
    received, failed = [], 0
    deadline = time.time() + 10
    while len(received) < 12 and time.time() < deadline:
        result, buffer, operation = stream.RetrieveBuffer(500)
        if buffer is None:
            continue
        if operation.IsOK():
            received.append(bytes(buffer.GetDataPointer()[:buffer.GetAcquiredSize()]))
        else:
            failed += 1
        stream.QueueBuffer(buffer)
    stream.Close()
    assert device.Stop().IsOK()
    # Each unit as it came: the source's unit with 4-byte start codes.
    sent = set(source.sent.values())
    def normal(unit):
        return unit.replace(b"\x00\x00\x00\x01", b"\x00\x00\x01")
    decoder = av.CodecContext.create("h264", "r")
    pictures = sum(len(decoder.decode(av.Packet(unit))) for unit in received) + len(decoder.decode(None))
    out.update(received=len(received), failed=failed, pictures=pictures,
               same=sum(zlib.crc32(normal(unit)) in {zlib.crc32(normal(u)) for u in units} for unit in received),
               largest=max(len(unit) for unit in units))
