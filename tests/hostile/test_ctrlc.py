"""Ctrl-C is never lost in a callback: one that lands in a callback the SDK
runs on the main thread is raised by the SDK call that ran it (and not
reported as the callback's failure); a stop, close or destruction that
waits for another thread's callback ends on Ctrl-C at once, and the object
finishes ending by itself once the callback has returned (ctrlc_child.py)."""

import pathlib

import pytest

CHILD = pathlib.Path(__file__).resolve().parent / "ctrlc_child.py"


def run(isolated, mode, case):
    out = isolated(CHILD, mode, case, timeout=180)
    assert out.get("done"), out
    return out


@pytest.mark.parametrize("callback", ["register", "handler", "device-sink", "source", "user-set", "trigger",
                                      "pipeline-sink", "controller-sink"])
def test_ctrl_c_in_a_callback_on_the_main_thread_is_raised_by_the_call(isolated, callback):
    out = run(isolated, "inside", callback)
    # "handler": a signal whose handler of the program's own raises Stopped.
    assert out["raised"][0] == ("Stopped" if callback == "handler" else "KeyboardInterrupt"), out
    # The handler raised inside the callback, which the call did not run on.
    assert "not interrupted" not in out["calls"]
    assert "In method" not in out["stdout"], out["stdout"]  # no report of a failed callback
    assert out["again"] == "OK"


@pytest.mark.parametrize("case", ["device-stop", "device-delete", "device-drop", "source-stop", "pipeline-stop",
                                  "pipeline-delete", "stream-close", "controller-free"])
def test_an_end_waiting_for_another_threads_callback_ends_on_ctrl_c(isolated, case):
    out = run(isolated, "waiting", case)
    name, seconds = out["raised"]
    # SIGINT comes 0.3 s into the call; the callback would sleep a minute.
    assert name == "KeyboardInterrupt" and seconds < 10, out
    assert "In method" not in out["stdout"], out["stdout"]
    assert all(answer == "OK" for answer in out["after"]), out
    if case == "pipeline-stop":  # a start that waits for the stop ends on Ctrl-C too
        assert out["start"][0] == "KeyboardInterrupt" and out["start"][1] < 10, out
