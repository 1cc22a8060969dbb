"""A software device with RTP (and TCP) enabled, in a network namespace of its
own: the base module's session discovery finds its SAP announcement, and both
the receive module's RTP stream and GStreamer's receiving pipelines take its
frames whole, from the multicast group and over TCP; a source's H.264 access
units reach the receive module whole and decode."""

import pathlib
import shutil
import subprocess

import pytest

CHILD = pathlib.Path(__file__).resolve().with_name("rtp_device_child.py")


def test_rtp_channel_is_announced_and_received_over_udp_and_tcp(isolated, tmp_path):
    if shutil.which("gst-launch-1.0") is None or subprocess.run(
            ["gst-inspect-1.0", "rtpvrawdepay"], capture_output=True).returncode != 0:
        pytest.skip("GStreamer's gst-launch-1.0 and rtpvrawdepay are not installed")
    out = isolated(CHILD, "rtp_channel_is_announced_and_received_over_udp_and_tcp", tmp_path, timeout=120)
    assert out["feature"] is True
    assert ["SoftDevice stream 0", "239.255.0.1", 5004] in out["sessions"]
    for kind in ("udp", "tcp"):
        good, failed = out["ours"][kind]
        assert good == 4 and failed <= 1, kind
        frames, whole = out["gstreamer"][kind]
        assert frames >= 10 and whole == frames - 1, kind


def test_rtp_channel_sends_h264_access_units(isolated):
    av = pytest.importorskip("av")
    try:
        av.CodecContext.create("libx264", "w")
    except Exception:
        pytest.skip("PyAV has no H.264 encoder here")
    out = isolated(CHILD, "rtp_channel_sends_h264_access_units", timeout=120)
    assert out["largest"] > 1500  # fragmented units among them
    assert out["received"] == 12 and out["failed"] <= 1
    assert out["same"] == 12 and out["pictures"] == 12
