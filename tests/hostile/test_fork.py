"""A forked child (os.fork, and a multiprocessing worker of the fork start
method) inherits a streaming software device, controllers, streams of
every kind, a pipeline, a serial port, a transmitter with its virtual
device, a firmware updater and a converter, one thread waiting in
RetrieveBuffer: what it inherited answers that it belongs to the parent,
its exit, deletes and disconnects neither hang nor crash nor end the
parent's sessions, and what the child makes works (fork_child.py)."""

import pathlib

import pytest

CHILD = pathlib.Path(__file__).resolve().parent / "fork_child.py"

SIMULATED = """
[controller]
name = sim0

[u3v]
vendor = Example Vision
model = EX-1
serial = 1234
guid = EXAMPLE-0001
controller = sim0
"""

FAILED = "STATE_ERROR"


@pytest.mark.parametrize("how, action", [("fork", "exit"), ("fork", "use"), ("fork", "delete"),
                                         ("fork", "disconnect"), ("multiprocessing", "use"),
                                         ("multiprocessing", "delete"), ("multiprocessing", "disconnect")])
def test_a_forked_child_leaves_what_it_inherited_to_its_parent(isolated, tmp_path, how, action):
    devices = tmp_path / "devices.ini"
    devices.write_text(SIMULATED)
    out = isolated(CHILD, how, action, env={"TARN_SIMULATED_DEVICES": str(devices)}, timeout=240)
    assert out["end"] in ("exited 0", 0), out["end"]
    answers = out["child"]
    assert answers["own"] == {"found": "OK", "converter": "OK", "stream": ["OK", "OK"],
                              "transmitter": ["OK", "OK"]}
    if action == "use":
        assert "belongs to the parent process" in answers.pop("description")
        assert answers.pop("connected") == [False, False]
        assert answers.pop("transmitter") == [FAILED, False]
        assert answers.pop("updater") == [True, FAILED]
        assert answers.pop("converter") == "OK"  # on the calling thread, the workers gone
        assert answers.pop("device") == [FAILED] * 3
        for name, answer in answers.items():
            if name != "own":
                assert answer in (FAILED, [FAILED, FAILED]), name
    elif action == "disconnect":
        assert {answer for name, answer in answers.items() if name not in ("own", "stopped")} == {FAILED}
        assert answers["stopped"] == [FAILED, FAILED]
    # The parent keeps its sessions, its streams and its threads.
    parent = out["parent"]
    assert parent.pop("frames") >= 3 and out["before"] >= 2
    assert parent == {"width": "OK", "connected": [True, True], "serial": "OK", "transmitter": "OK",
                      "converter": "OK"}
    assert out["waiter"] is False
