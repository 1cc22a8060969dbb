import pathlib
"""RTP streams from GStreamer's senders, each test in a network namespace of its
own: raw video over unicast (by hand and through a pipeline), multicast and
TCP with the frames equal to what the sender was given, a lossy relay whose damage shows only as failed buffers,
and H.264 access units that decode to the frames sent."""

import shutil

import pytest

CHILD = pathlib.Path(__file__).resolve().with_name("rtp_receive_child.py")

GST = "gst-launch-1.0"

# Frames the tests give GStreamer, and how they are told apart: frame k of a
# cycle of CYCLE starts with the bytes k, 255 - k; every frame is otherwise
# random (the same seed in the sender's file and the check).


def needs_gstreamer(*elements):
    if shutil.which(GST) is None:
        pytest.skip("GStreamer's gst-launch-1.0 is not installed (Debian package gstreamer1.0-tools)")
    import subprocess
    for element in elements:
        if subprocess.run(["gst-inspect-1.0", element], capture_output=True).returncode != 0:
            pytest.skip(f"GStreamer's {element} is not installed")


def test_raw_video_over_unicast_multicast_and_tcp(isolated):
    needs_gstreamer("rawvideoparse", "rtpvrawpay", "udpsink", "rtpstreampay", "tcpserversink")
    out = isolated(CHILD, "raw_video_over_unicast_multicast_and_tcp", timeout=120)
    for mode in ("unicast", "multicast"):
        positions, failed = out["modes"][mode]
        assert positions == list(range(8)) * 2 and failed == [], mode
    assert out["group"] == ["239.255.12.34", 5004]
    assert out["modes"]["pipeline"] == [list(range(8)), 0]
    positions, failed = out["modes"]["tcp"]
    # Consecutive frames of the cycle; only the one the connection cut into may fail.
    assert len(positions) == 8 and all((b - a) % 8 == 1 for a, b in zip(positions, positions[1:]))
    assert len(failed) <= 1
    assert out["server"] == ["127.0.0.1", 5006]


def test_lossy_relay_fails_buffers_never_fills_them_wrong(isolated):
    needs_gstreamer("rawvideoparse", "rtpvrawpay", "udpsink")
    out = isolated(CHILD, "lossy_relay_fails_buffers_never_fills_them_wrong", timeout=120)
    assert out["dropped"] > 0
    # A frame whose last packet went with nothing after it ends by timeout.
    assert out["failed"] and set(out["failed"]) <= {"MISSING_PACKETS", "TIMEOUT"}
    # Each dropped packet costs at most its frame; every other frame came whole.
    assert out["good"] + len(out["failed"]) >= 3 * 8 - 1
    assert len(out["failed"]) <= out["dropped"] and out["good"] >= 3 * 8 - out["dropped"] - 1


def test_h264_access_units_decode_to_the_frames_sent(isolated):
    needs_gstreamer("videotestsrc", "x264enc", "rtph264pay", "udpsink")
    pytest.importorskip("av")
    out = isolated(CHILD, "h264_access_units_decode_to_the_frames_sent", timeout=120)
    assert out["failed"] == []
    assert out["units"] == 40 and out["pictures"] == 40
