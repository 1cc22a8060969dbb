"""Objects a running software device calls back (register sinks, the user-set
notification, trigger callbacks, device event sinks, sources) dropped from
Python while GigE Vision clients make the device call them: deleted through
the module, losing their last reference, or dropping themselves from inside
their own call. Neither a crash nor a hang (lifetime_child.py, in a child
process and a network namespace of its own)."""

import pathlib
import signal
import subprocess
import sys

import pytest

import netns
from children import child_env

CHILD = pathlib.Path(__file__).resolve().parent / "lifetime_child.py"


@pytest.mark.parametrize("kind", ["register-sink", "user-set-notify", "trigger-callback", "device-sink", "source"])
def test_dropped_while_called(kind):
    if not netns.available():
        pytest.skip("network namespaces are not available here")
    env = child_env()
    try:
        done = subprocess.run(netns.command([sys.executable, str(CHILD), kind, "2"]), capture_output=True,
                              text=True, timeout=120, env=env)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"{kind}: no end within 120 s\n{(expired.stderr or b'')[-2000:]}")
    status = done.returncode
    assert status == 0, (f"crash ({signal.Signals(-status).name})" if status < 0 else f"exit status {status}") + \
        "\n" + done.stderr[-3000:]
    rounds, calls = map(int, done.stdout.split()[-2:])
    assert rounds > 3
    assert calls > 0 or kind == "source"
