"""Child programs of test_rtp_receive.py. The isolated fixture runs each in a
network namespace of its own: rtp_receive_child.py NAME."""

import os
import socket
import subprocess
import tempfile
import threading
import time

import child
from child import out

import tarn_base_313 as tarn

import numpy as np
import tarn_receive_313 as rx

child.loopback_multicast()
WIDTH, HEIGHT, CYCLE = 320, 240, 8


def make_frames(repeats):
    random = np.random.default_rng(7)
    frames = [random.integers(0, 256, (HEIGHT, WIDTH, 3), dtype=np.uint8) for _ in range(CYCLE)]
    for index, frame in enumerate(frames):
        frame.reshape(-1)[:2] = (index, 255 - index)
    path = os.path.join(tempfile.mkdtemp(), "frames.rgb")
    with open(path, "wb") as file:
        for _ in range(repeats):
            for frame in frames:
                file.write(frame.tobytes())
    return frames, path


def sender(path, sink, rate=30):
    return subprocess.Popen(["gst-launch-1.0", "-q", "filesrc", f"location={path}", "!", "rawvideoparse",
                             f"width={WIDTH}", f"height={HEIGHT}", "format=rgb", f"framerate={rate}/1", "!",
                             "rtpvrawpay", "!", *sink], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def receive(stream, count, timeout=20.0, total=None):
    """Buffers of the stream until `count` came complete (or `total` came at
    all): (ok images as arrays, failed operation results)."""
    buffers = []
    for _ in range(16):
        buffer = tarn.TnBuffer()
        buffer.Alloc(WIDTH * HEIGHT * 3)
        buffers.append(buffer)
        assert stream.QueueBuffer(buffer).GetCode() == rx.TN_PENDING
    good, failed = [], []
    deadline = time.time() + timeout
    while len(good) < count and len(good) + len(failed) < (total or count) and time.time() < deadline:
        result, buffer, operation = stream.RetrieveBuffer(500)
        if buffer is None:
            continue
        if operation.IsOK():
            image = buffer.GetImage()
            assert (image.GetWidth(), image.GetHeight(), image.GetPixelType()) == (WIDTH, HEIGHT, rx.TnPixelRGB8)
            good.append(image.GetDataPointer().copy())
        else:
            failed.append(operation.GetCodeString())
        stream.QueueBuffer(buffer)
    stream.Close()
    return good, failed


def identify(frames, images):
    """The cycle position of each image, checking it equals that frame."""
    positions = []
    for image in images:
        index = int(image.reshape(-1)[0])
        assert index < CYCLE and np.array_equal(image, frames[index]), "a complete buffer holds other bytes"
        positions.append(index)
    return positions


if child.NAME == "raw_video_over_unicast_multicast_and_tcp":
    frames, path = make_frames(2)
    out["modes"] = {}

    # Unicast: the stream on a free port, GStreamer sending there.
    stream = rx.TnStreamRTP()
    assert stream.PrepareFor(WIDTH, HEIGHT, rx.TnPixelRGB8).IsOK()
    assert stream.Open("127.0.0.1", 0).IsOK()
    port = stream.GetLocalPort()
    gst = sender(path, ["udpsink", "host=127.0.0.1", f"port={port}"])
    good, failed = receive(stream, 2 * CYCLE)
    gst.wait(20)
    out["modes"]["unicast"] = [identify(frames, good), failed]

    # Multicast: a group's data port, joined on loopback.
    stream = rx.TnStreamRTP()
    assert stream.PrepareFor(WIDTH, HEIGHT, rx.TnPixelRGB8).IsOK()
    assert stream.Open("239.255.12.34", 5004, "127.0.0.1").IsOK()
    out["group"] = [stream.GetMulticastIPAddress(), stream.GetLocalPort()]
    gst = sender(path, ["udpsink", "host=239.255.12.34", "port=5004", "multicast-iface=lo", "auto-multicast=true"])
    good, failed = receive(stream, 2 * CYCLE)
    gst.wait(20)
    out["modes"]["multicast"] = [identify(frames, good), failed]

    # A pipeline keeps the stream supplied, as on any stream.
    stream = rx.TnStreamRTP()
    assert stream.PrepareFor(WIDTH, HEIGHT, rx.TnPixelRGB8).IsOK()
    assert stream.Open("127.0.0.1", 0).IsOK()
    pipeline = rx.TnPipeline(stream)
    pipeline.SetBufferSize(WIDTH * HEIGHT * 3)
    assert pipeline.Start().IsOK()
    gst = sender(path, ["udpsink", "host=127.0.0.1", f"port={stream.GetLocalPort()}"])
    good, failed = [], []
    deadline = time.time() + 20
    while len(good) < CYCLE and time.time() < deadline:
        result, buffer, operation = pipeline.RetrieveNextBuffer(500)
        if buffer is None:
            continue
        (good if operation.IsOK() else failed).append(buffer.GetImage().GetDataPointer().copy())
        pipeline.ReleaseBuffer(buffer)
    pipeline.Stop()
    stream.Close()
    gst.wait(20)
    out["modes"]["pipeline"] = [identify(frames, good), len(failed)]

    # TCP: GStreamer serves the packets with a length before each; the stream
    # connects once the server listens, and may come in mid-frame.
    frames, path = make_frames(12)
    gst = sender(path, ["rtpstreampay", "!", "tcpserversink", "host=127.0.0.1", "port=5006"])
    stream = rx.TnStreamRTP()
    assert stream.PrepareFor(WIDTH, HEIGHT, rx.TnPixelRGB8).IsOK()
    for attempt in range(100):
        if stream.OpenTCP("127.0.0.1", 5006).IsOK():
            break
        time.sleep(0.05)
    out["server"] = [stream.GetTCPServerIPAddress(), stream.GetTCPServerPort()]
    # The frame the connection cut into may fail: one more frame is taken then.
    good, failed = receive(stream, CYCLE, total=CYCLE + 1)
    gst.kill()
    out["modes"]["tcp"] = [identify(frames, good), failed]


if child.NAME == "lossy_relay_fails_buffers_never_fills_them_wrong":
    frames, path = make_frames(3)
    stream = rx.TnStreamRTP()
    assert stream.PrepareFor(WIDTH, HEIGHT, rx.TnPixelRGB8).IsOK()
    assert stream.Open("127.0.0.1", 0).IsOK()
    target = stream.GetLocalPort()
    # The relay drops one packet in 400 and swaps some neighbours: the stream
    # sees holes, which fail their frames, and reordering, which does not.
    relay = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    relay.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16 << 20)  # a frame's burst
    relay.bind(("127.0.0.1", 0))
    relay.settimeout(3)
    forward = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    counts = {"in": 0, "dropped": 0}
    def run():
        held = None
        try:
            while True:
                packet = relay.recv(65536)
                counts["in"] += 1
                if counts["in"] % 400 == 0:
                    counts["dropped"] += 1
                    continue
                if counts["in"] % 97 == 0 and held is None:
                    held = packet
                    continue
                forward.sendto(packet, ("127.0.0.1", target))
                if held is not None:
                    forward.sendto(held, ("127.0.0.1", target))
                    held = None
        except socket.timeout:
            pass
    thread = threading.Thread(target=run)
    thread.start()
    gst = sender(path, ["udpsink", "host=127.0.0.1", f"port={relay.getsockname()[1]}"])
    good, failed = receive(stream, 3 * CYCLE, timeout=8, total=3 * CYCLE)
    gst.wait(20)
    thread.join()
    identify(frames, good)
    out.update(good=len(good), failed=failed, dropped=counts["dropped"])


if child.NAME == "h264_access_units_decode_to_the_frames_sent":
    import av
    stream = rx.TnStreamRTP()
    assert stream.PrepareForH264().IsOK()
    assert stream.Open("127.0.0.1", 0).IsOK()
    buffers = child.queue_buffers(stream, 8, 1 << 20)
    # Small packets, so that the pictures go as FU-A fragments; parameter sets
    # with each key frame, aggregated in STAP-A.
    gst = subprocess.Popen([
        "gst-launch-1.0", "-q", "videotestsrc", "num-buffers=40", "pattern=ball", "!",
        "video/x-raw,width=320,height=240,framerate=60/1", "!",
        "x264enc", "tune=zerolatency", "speed-preset=ultrafast", "key-int-max=15", "!",
        "rtph264pay", "mtu=600", "config-interval=-1", "aggregate-mode=zero-latency", "!",
        "udpsink", "host=127.0.0.1", f"port={stream.GetLocalPort()}"], stderr=subprocess.PIPE)
    units, failed = [], []
    deadline = time.time() + 20
    while len(units) + len(failed) < 40 and time.time() < deadline:
        result, buffer, operation = stream.RetrieveBuffer(500)
        if buffer is None:
            continue
        if operation.IsOK():
            assert buffer.GetPayloadType() == tarn.TnPayloadTypeH264
            units.append(bytes(buffer.GetDataPointer()[:buffer.GetAcquiredSize()]))
        else:
            failed.append(operation.GetCodeString())
        stream.QueueBuffer(buffer)
    gst.wait(20)
    stream.Close()
    decoder = av.CodecContext.create("h264", "r")
    pictures = 0
    for unit in units:
        assert unit.startswith(b"\x00\x00\x00\x01")
        pictures += len(decoder.decode(av.Packet(unit)))  # an error raises
    pictures += len(decoder.decode(None))
    out.update(units=len(units), failed=failed, pictures=pictures)
