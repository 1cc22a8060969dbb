"""Python implementations of every overridable class of the three modules
that misbehave: methods missing, raising, returning wrong types or calling
protected operations, forwarding objects over plain objects and over Python
objects that are gone. Called through the module functions, and attached to
running log dispatch, updaters, devices, pipelines, software devices and
their sources (override_child.py). A crash, a hang or a SystemError fails;
the forwarding rules name what went wrong.

Each part runs in a child process with a time limit; what needs the network
runs in a namespace of its own."""

import json
import pathlib
import signal
import subprocess
import sys

import pytest

import netns
from children import child_env

CHILD = pathlib.Path(__file__).resolve().parent / "override_child.py"
MODULES = ["tarn_base_313", "tarn_receive_313", "tarn_edge_313"]
SECONDS = 300
# Overridable classes whose Python implementations are meant to define every
# operation: one that leaves an operation out lacks the method.
DEFINED_BY_PYTHON = {"IUpdaterObserver", "ITnUserSetNotify"}


def run(mode, module, isolated=False):
    argv = [sys.executable, str(CHILD), mode, module]
    if isolated:
        if not netns.available():
            pytest.skip("network namespaces are not available here")
        argv = netns.command(argv)
    env = child_env()
    try:
        done = subprocess.run(argv, capture_output=True, text=True, timeout=SECONDS, env=env)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"{mode} {module}: no end within {SECONDS} s\n{(expired.stderr or b'')[-2000:]}")
    status = done.returncode
    fault = f"crash ({signal.Signals(-status).name})" if status < 0 else f"exit status {status}"
    assert status == 0, f"{mode} {module}: {fault}\n{done.stderr[-3000:]}"
    reports = [line for line in done.stdout.splitlines() if line.startswith("REPORT ")]
    return json.loads(reports[-1][len("REPORT "):]) if reports else {}


@pytest.mark.parametrize("module", MODULES)
def test_forwarded_calls(module):
    report = run("forward", module)
    assert report, "the child reported nothing"
    for name, kinds in report.items():
        gone = set(kinds["gone"].values())
        uninitialized = f"RuntimeError: 'self' uninitialized, maybe you forgot to call {name}.__init__."
        assert uninitialized in gone, (name, gone)
        assert {answer for answer in gone if answer.startswith("RuntimeError")} <= {uninitialized} | {
            f"RuntimeError: accessing protected member {operation}" for operation in kinds["gone"]}, (name, gone)
        assert any(answer.startswith("AttributeError: 'types.SimpleNamespace' object has no attribute ")
                   for answer in kinds["namespace"].values()), (name, kinds["namespace"])
        if name in DEFINED_BY_PYTHON:
            assert kinds["missing"] == {operation: f"AttributeError: 'Missing{name}' object has no attribute "
                                                   f"'{operation}'" for operation in kinds["missing"]}


@pytest.mark.parametrize("module", MODULES)
def test_attached_to_what_runs(module):
    report = run("running", module, isolated=True)
    if module == "tarn_receive_313":
        failures = report["updater"]
        assert ("an updater observer failed: SWIG director method error. Method in class IUpdaterObserver doesn't "
                "exist, undefined UpdateProgressLabel") in failures
        assert "an updater observer failed: 'self' uninitialized, maybe you forgot to call IUpdaterObserver.__init__." \
            in failures
    if module == "tarn_edge_313":
        assert len(report["devices"]) == 4 * 6
        # After the device's Start, outside any forwarded call.
        assert report["outside"] == ["RuntimeError: accessing protected member CreateTriggerMode"] * 6
