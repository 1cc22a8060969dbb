"""Streams and pipelines receiving from devices, each test in a network
namespace of its own and with each kind of data receiver (the packet ring and
the socket): the aravis fake camera (beside aravis's own client), with and
without its packet loss; the SDK's stream sender with loss, reordering,
duplicates and resend; the C test camera with loss, with and without resend,
and large frames at a high rate; and the ways a program ends its streams and
pipelines, sinks that stop or fail, and exits (stream_receive_child.py)."""

import json
import os
import pathlib
import shutil
import socket
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("TARN_BUILD_DIR", ROOT / "build"))
TOOLS = BUILD / "sdk" / "gev" / "tools"
SENDER = TOOLS / "tn_gvsp_send"
FASTCAM = TOOLS / "fastcam"
ARAVIS_GRAB = pathlib.Path(__file__).resolve().parent.parent / "aravis_grab.py"
SYSTEM_PYTHON = "/usr/bin/python3"
CHILD = pathlib.Path(__file__).resolve().parent / "stream_receive_child.py"

RECEIVERS = {"PacketRing": 0, "UserMode": 1}  # their TnDataReceiverType values


def packet_ring_available():
    try:
        socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, 0).close()
        return True
    except PermissionError:
        return False


@pytest.fixture(params=list(RECEIVERS))
def receiver(request):
    """The stream's DataReceiver; a test of the packet ring where none can be
    opened is skipped, and fails under CI, which runs as root."""
    if request.param == "PacketRing" and not packet_ring_available():
        if os.environ.get("CI") == "true":
            pytest.fail("no packet ring can be opened (it needs CAP_NET_RAW)")
        pytest.skip("no packet ring can be opened (it needs CAP_NET_RAW)")
    return request.param


@pytest.fixture
def run_child(isolated):
    """isolated() for a program of stream_receive_child.py, which finds the
    tools; RECEIVER (when given) is the data receiver its streams ask for."""
    def run(name, *arguments, receiver=None, timeout=120):
        env = {"TARN_TEST_TOOLS": str(TOOLS), **({"TARN_TEST_RECEIVER": receiver} if receiver else {})}
        return isolated(CHILD, name, *arguments, env=env, timeout=timeout)

    return run


@pytest.fixture
def streaming(run_child, receiver):
    """run_child() with the receiver asked for; checks that the stream took it."""
    def run(name, *arguments, timeout=120):
        out = run_child(name, *arguments, receiver=receiver, timeout=timeout)
        assert out.get("receiver") == RECEIVERS[receiver], out.get("receiver")
        return out

    return run


def fastcam(arguments):
    if not FASTCAM.exists():
        pytest.skip("the C test camera is not built (its sources lie beside the checkout)")
    return arguments


def sender(arguments):
    if not SENDER.exists():
        pytest.skip("the stream sender tool is not built")
    return arguments


def test_fake_camera_frames_equal_what_aravis_receives(streaming, fake_camera, tmp_path):
    if not pathlib.Path(SYSTEM_PYTHON).exists() or subprocess_fails(
            [SYSTEM_PYTHON, "-c", "import gi; gi.require_version('Aravis', '0.8')"]):
        pytest.skip("aravis's GObject binding (gir1.2-aravis-0.8) is not installed")
    grab = [SYSTEM_PYTHON, str(ARAVIS_GRAB), "127.0.0.1", "3", str(tmp_path)]
    out = streaming("fake_camera_frames_equal_what_aravis_receives", json.dumps(grab), tmp_path)
    width, height = out["size"]
    assert out["aravis"][:2] == [str(width), str(height)] and len(out["aravis"]) == 5, out["aravis errors"]
    assert out["same as aravis"] and out["aravis pattern"]
    ids = [frame[2] for frame in out["frames"]]
    assert all(later > earlier or earlier > 65000 for earlier, later in zip(ids, ids[1:])), ids
    for frame in out["frames"]:
        assert frame[:2] == ["OK", "OK"] and frame[3:] == [width, height, True, True], frame


def test_fake_camera_through_a_pipeline_with_a_python_sink(streaming, fake_camera):
    out = streaming("fake_camera_through_a_pipeline_with_a_python_sink")
    assert out["start"] == "OK" and out["in time"] and out["own thread"] and out["one state"]
    assert out["given"][0] >= 1 and out["given"][0] == out["given"][1], out["given"]
    assert len(out["frames"]) >= 6
    assert all(ok and pattern for _, ok, pattern in out["frames"]), out["frames"]


def test_fake_camera_packet_loss_fails_frames_never_corrupts_them(streaming, fake_camera):
    # The fake camera drops 3 packets in a thousand and ignores resend requests: a frame
    # of about 225 packets then completes about half the time, so 40 frames hold both kinds.
    out = streaming("fake_camera_packet_loss", 3)
    complete, failed, wrong = out["counts"]
    assert wrong == 0
    assert failed > 0 and complete > 0 and out["lost"] > 0


def test_sender_loss_reordering_and_duplicates_never_give_wrong_bytes(streaming):
    out = streaming("sender_loss_reordering_and_duplicates", sender(
        "-t 127.0.0.1:50100 -s 320x200 -p 1500 -n 80 -B 20000000 -l 15 --reorder 30 --duplicate 20 -q"))
    assert out["wrong"] == 0
    assert out["complete"] > 20 and out["failed"] > 5
    assert out["codes"] == ["MISSING_PACKETS"]
    assert all(value > 0 for value in out["statistics"]), out["statistics"]


def test_timeouts_and_small_buffers_say_why(run_child):
    out = run_child("timeouts_and_small_buffers", sender("-t 127.0.0.1:50102 -s 320x200 -p 1500 -n 3 -B 20000000 -q"))
    assert out["silent"] == ["TIMEOUT", "RetrieveBuffer: no buffer was done within 200 ms; no packet has come to "
                                        "127.0.0.1:50102, where the stream listens: is the device streaming there?"]
    code, failure, description, block = out["small"]
    assert [code, failure] == ["OK", "BUFFER_TOO_SMALL"]
    assert description == f"block {block} needs at least 64000 bytes; the buffer has 1000"
    assert out["heard"] == ["TIMEOUT", "RetrieveBuffer: no buffer was done within 200 ms"]
    description, port = out["rtp"]
    assert description == (f"RetrieveBuffer: no buffer was done within 150 ms; no packet has come to 127.0.0.1:{port}, "
                           "where the stream listens: is the sender sending there?")


def test_resend_against_the_sender_completes_every_frame(streaming):
    # The sender serves resends on the control port, where the stream asks.
    # A busy machine keeps the receive thread and the sender waiting tens of
    # milliseconds at a time, and the receiver then takes a backlog of blocks
    # at once: the sender keeps all its blocks (a device keeping a few would
    # have dropped them before the requests came), answers may take long, and
    # every block may be assembled at once (else the oldest ones would fail
    # before their requests went out). Checking a frame takes longer than
    # sending one: every block has a buffer of its own (else the buffers the
    # program has not given back would leave later blocks none: dropped).
    out = streaming("resend_against_the_sender", sender(
        "-t 127.0.0.1:50101 -s 320x200 -p 1500 -n 60 -B 20000000 -l 30 -R -c 3956 --retain 60 -k 66 -q"))
    assert out["offered"] is False
    assert out["bad"] == [] and sorted(out["ids"]) == list(range(1, 61))  # a resent block may end after a later one
    assert out["recovered"] > 0 and out["requests"] > 0 and out["dropped"] == 0


def test_a_block_shorter_than_its_leader_and_trailer_describe_is_never_ok(streaming):
    # Before, the quarter block came back OK as 64x16, the previous block's
    # pixels from byte 256 on.
    fastcam("")
    whole, quarter, fewer_lines = streaming("blocks_shorter_than_they_describe")["blocks"]
    assert whole == ["OK", "", 64, 16, 1024, [1]]
    assert quarter[:2] == ["MISSING_PACKETS",
                           "block 2 ended after 256 of the 1024 bytes its leader and trailer describe"]
    assert fewer_lines == ["OK", "", 64, 4, 256, [3]]


@pytest.mark.parametrize("resend", [True, False])
def test_fastcam_loss_with_and_without_resend(streaming, resend):
    camera = fastcam("-s 640x480 -r 100 -l 20" + (" -R" if resend else ""))
    out = streaming("fastcam_through_a_pipeline", camera, 1500, 640, 80)
    complete, failed, wrong = out["counts"]
    assert wrong == 0
    if resend:
        assert failed == 0 and complete == 80
        assert out["resend"][0] is True and out["resend"][1] > 0
    else:
        assert failed > 10
        assert out["resend"] == [False, 0]


def test_fastcam_large_frames_at_a_high_rate_arrive_whole(streaming):
    out = streaming("fastcam_through_a_pipeline", fastcam("-s 4096x3072 -r 40 -R"), 9000, 4096, "2s")
    complete, failed, wrong = out["counts"]
    assert complete >= 50 and failed == 0 and wrong == 0 and out["dropped"] == 0


def test_fastcam_packet_size_changed_while_streaming_is_followed(streaming):
    # Smaller, jumbo, then ordinary packets again, the stream open all along.
    out = streaming("fastcam_packet_size_changed_while_streaming", fastcam("-s 320x200 -r 100"))
    assert out["codes"] == [["OK"] * 6] * 4


def test_the_receive_thread_priority_is_the_socket_receivers_alone(streaming, receiver):
    # A priority set applies while the socket takes the data: at once for the
    # socket, never for the packet ring, and once an automatic receiver turns
    # from the ring to the socket (for jumbo packets).
    send = sender("-t 127.0.0.1:50102 -s 320x200 -p 9000 -n 3 -r 50 -q")
    out = streaming("receive_thread_priority", send)
    if receiver == "PacketRing":
        assert out["set"] == "OK" and out["got"] == 10 and out["real-time"] == 0
        assert out["automatic"] == [0, 0, 1, 1 if out["privileged"] else 0]
    elif out["privileged"]:
        assert out["set"] == "OK" and out["got"] == 10 and out["real-time"] == 1
    else:
        assert out["set"] == "THREAD_ERROR" and out["got"] == 0 and out["real-time"] == 0


def test_without_the_privilege_a_stream_receives_through_its_socket(run_child):
    # A process that may not open packet sockets (no CAP_NET_RAW) gets the
    # socket; asked for the ring, the opening fails.
    if shutil.which("setpriv") is None or os.geteuid() != 0:
        if os.environ.get("CI") == "true":
            pytest.fail("dropping CAP_NET_RAW needs root and setpriv (util-linux)")
        pytest.skip("dropping CAP_NET_RAW needs root and setpriv (util-linux)")
    out = run_child("without_the_privilege", sender("-t 127.0.0.1:50103 -s 320x200 -p 1500 -n 20 -B 20000000 -q"))
    assert out.get("automatic") == RECEIVERS["UserMode"], out
    assert out["good"] >= 18 and out["ring"] == "NOT_SUPPORTED", out  # a busy machine may lose a frame


# ---------------------------------------------------------------- endings

def test_sinks_stop_and_fail_on_every_thread(streaming):
    out = streaming("sinks_stop_and_fail_on_every_thread",
                    sender("-t 127.0.0.1:50102 -s 320x200 -p 1500 -r 200 -d 20 -q"))
    assert out["stop inside"] == "OK" and out["started inside"] is False
    assert out["stopped by the sink"] and out["started after"] is False and out["again"] == "OK"
    assert out["calls"] == ["OK"] * 4
    lines = out["stdout"].split("--- calls\n")[1].split("--- done\n")[0].splitlines()
    for line in ["In method 'OnBufferCreated': ValueErrorcreated", "In method 'OnStart': RuntimeErrorstart",
                 "In method 'OnReset': RuntimeErrorreset", "In method 'OnStop': RuntimeErrorstop",
                 "In method 'OnBufferDeleted': KeyError'deleted'"]:
        assert line in lines, lines
    assert all(line.startswith("In method '") for line in lines)


def test_streams_and_pipelines_end_in_any_order(streaming):
    out = streaming("streams_and_pipelines_end_in_any_order",
                    sender("-t 127.0.0.1:50102 -s 320x200 -p 1500 -r 200 -d 20 -q"))
    assert out["running"] == "OK"
    assert out["after the stream"] == [False, "NOT_CONNECTED", "NOT_CONNECTED"]
    assert out["buffers"] == [320 * 200] * 4
    assert out["queued"] == 2 and out["still receives"] == ["OK", True]
    assert out["factory"] == ["TnStreamGEV", "OK"] and out["freed"] == [False, "NOT_CONNECTED"]


def test_a_program_that_exits_with_a_running_pipeline_ends(run_child):
    out = run_child("exits_with_a_running_pipeline", sender("-t 127.0.0.1:50102 -s 320x200 -p 1500 -r 500 -d 30 -q"),
                    timeout=200)
    for name, (code, printed, errors) in out["results"].items():
        assert printed and code == (3 if name == "sys_exit" else 0), (name, code, errors)


def subprocess_fails(command):
    return subprocess.run(command, capture_output=True).returncode != 0
