"""GenDC containers built by a Python source, streamed by the software device
and received by the receive module, each test in a network namespace of its
own: the containers arrive as GenDC buffers byte for byte, our walk and the
independent reader agree on every one, the streaming mode switches to raw
data and back, and the transmitter sends a container alike; through a lossy
relay a container is complete and equal or reported failed, and complete
once lost packets are resent."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("gendc_streaming_child.py")


def test_containers_arrive_whole_and_the_mode_switches_to_raw_data(isolated):
    out = isolated(CHILD, "containers_arrive_whole_and_the_mode_switches_to_raw_data", timeout=120)
    assert out["setup"] == ["On", True, []]
    assert out["gendc"] == [60, [], True]
    (complete, failed), raw_type = out["raw"]
    assert out["off"] == "OK" and complete == [[raw_type, True]] * 5 and failed == []
    assert out["again"] == [[[True] * 6] * 5, []]
    assert out["modes"] == [False, True]
    assert out["transmitted"] == ["OK", "OK", 9999, [True] * 6]
    assert out["kept"] == "refused"


def test_lost_packets_fail_the_container_or_are_resent(isolated):
    out = isolated(CHILD, "lost_packets_fail_the_container_or_are_resent", timeout=120)
    assert out["offered"] is True
    assert out["resent"] == [40, [], True, True]
    count, equal, codes, dropped = out["lossy"]
    assert count == 40 and equal and dropped > 0
    assert codes == ["MISSING_PACKETS"], codes
