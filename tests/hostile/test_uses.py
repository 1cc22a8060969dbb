"""Objects in use by a call on another thread, destroyed or re-allocated
meanwhile: no memory is freed under a running call (uses_child.py, in child
processes and network namespaces of their own, with freed memory perturbed
so that a read of it shows)."""

import pathlib

import pytest

CHILD = pathlib.Path(__file__).resolve().parent / "uses_child.py"
PERTURBED = {"MALLOC_PERTURB_": "165", "PYTHONFAULTHANDLER": "1"}


def run(isolated, name, *arguments, timeout=180):
    return isolated(CHILD, name, *arguments, env=PERTURBED, timeout=timeout)


def test_conversions_and_filters_outlive_what_another_thread_destroys(isolated):
    """Each way of destroying or changing the source, the destination, the
    image given as source or the converter, by proxy method or module
    function, while Convert runs (three forms each): the call answers, a
    destroyed object refuses every call from then on, what is left is a
    working buffer. Filters the same."""
    out = run(isolated, "conversions")
    conversions = out["conversions"]
    for name, answers in conversions.items():
        for code, destination_alive, converter_alive in answers:
            assert code in ("OK", "INVALID_PARAMETER"), (name, code)
            assert destination_alive == (name != "destination deleted"), name
            assert converter_alive == (name != "converter deleted"), name
    assert all(["OK", True, True] in conversions[name] for name in ("destination freed", "source freed"))
    for name, code, output_refused in out["filters"]:
        assert code in ("OK", "INVALID_PARAMETER"), name
        assert output_refused == (name != "decompressing filter"), name


@pytest.mark.parametrize("rounds", [100000, 300000])
def test_buffers_changed_while_streams_and_transmitters_use_them(isolated, rounds):
    """The RTP program: buffers freed and re-allocated while queued, with
    retrievals and aborts on four other threads; the transmitter's buffers
    deleted, freed or re-allocated while the main thread queues one of
    them; a stream or a pipeline destroyed while a retrieval waits in it
    for good: it closes or stops first, and the retrieval answers."""
    out = run(isolated, "stream", rounds)
    assert out["stream"] == [rounds, True, "OK"]
    for ended, code, emptied in out["waits"]:
        assert ended and emptied and code in ("OK", "NO_MORE_ITEM", "ABORTED", "NOT_CONNECTED"), out["waits"]
    out = run(isolated, "transmitter")
    assert [way for way, _ in out["transmitter"]] == ["deleted", "freed", "re-allocated"] * 4
    for way, codes in out["transmitter"]:
        assert set(codes) <= {"OK", "BUSY", "INVALID_PARAMETER"}, (way, codes)


def test_payloads_and_views_handed_out_while_another_thread_deletes_the_buffer(isolated):
    """Every getter of a payload or a view, through proxy methods and module
    functions, while another thread deletes buffers: no call reads a buffer
    deleted under it."""
    out = run(isolated, "handed out", 1.5)["handed out"]
    assert out and all(out.values()), out


def test_a_transmitter_closed_on_two_threads_at_once(isolated):
    """Two closes at once, or a close and a deletion: both answer (the
    second once the first has closed), none waits for good. A transmitter
    destroyed while another thread deletes its queued buffers."""
    out = run(isolated, "closes", 200)
    ended, codes = out["closes"]
    assert ended and set(codes) <= {"OK", "STATE_ERROR"}, codes
    assert out["held"] == 50


def test_a_stream_that_goes_while_other_threads_control_its_pipeline(isolated):
    """Closed, deleted or dropped while two threads start, reset, stop and
    resize its pipeline: no pipeline thread is left running on a stream
    that went, no control call waits for one that ended, and the pipeline
    does not start again on what is left."""
    out = run(isolated, "pipelines", 90)["pipelines"]
    for name, codes in out.items():
        assert "ended" in codes and "hung" not in codes, (name, codes)
        assert set(codes) - {"ended"} <= {"OK", "NOT_CONNECTED", "STATE_ERROR", "start after: NOT_CONNECTED"}, \
            (name, codes)


def test_devices_destroyed_during_a_read_of_their_features(isolated):
    """A controller destroyed (delete_, or Free of one the factory made)
    while another thread's feature read is inside the device sink it calls,
    or from inside that sink on the reading thread itself: the read
    answers (NOT_CONNECTED when its own sink ended the controller), the
    controller and its parameters refuse every call at once."""
    out = run(isolated, "device")
    assert out["device"] == [[way, answer, [True, True]] for way, answer in
                             (("delete", "OK"), ("free", "OK"), ("delete inside", "NOT_CONNECTED"),
                              ("free inside", "NOT_CONNECTED"))]
    assert out["stop"] == "OK"


def test_changes_wait_for_a_call_of_another_thread_and_destruction_follows_it(isolated):
    """With a buffer kept in use by a call on another thread: every change
    of its memory waits until the call returns, and the call still reads
    the buffer as it was; delete_ empties the buffer's and its image's
    proxies at once and destroys the buffer only when the call returns.
    Inside a call of the same thread, changes raise RuntimeError and leave
    the buffer as it is; a delete_ there waits for the call."""
    out = run(isolated, "held")
    assert out["waited"] == {name: [False, 1000] for name in out["waited"]} and len(out["waited"]) == 7
    assert out["deleted"] == [[True, True], 777]
    assert [kind for kind, _ in out["inside"][:2]] == ["RuntimeError", "RuntimeError"]
    assert all("in use by a call this thread is making" in text for _, text in out["inside"][:2])
    assert out["inside"][2] == 100
    assert out["deleted inside"] == [None, True]
    assert out["inside away"] == ["RuntimeError", 100]


def test_ctrl_c_ends_a_wait_for_another_threads_call(isolated):
    out = run(isolated, "interrupted")
    assert out["interrupted"] == ["KeyboardInterrupt", 1000]
    assert out["after"] == [1000, None, 0]
