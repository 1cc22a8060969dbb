import json
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import netns

FAKE_CAMERA = "arv-fake-gv-camera-0.8"

NAMESPACES = netns.available()


@pytest.fixture
def isolated():
    """Runs Python code in a network namespace of its own, with only loopback
    up, so that searches never reach the host's network. The code fills the
    dict `out`; the fixture returns it."""
    if not NAMESPACES:
        pytest.skip("network namespaces are not available here")

    def run(code, env=None, timeout=60):
        program = textwrap.dedent('''
            import json, subprocess, sys, time
            subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
            import tarn_base_313 as tarn
            out = {}
            try:
        ''') + textwrap.indent(textwrap.dedent(code), "    ") + textwrap.dedent('''
            finally:
                print("RESULT " + json.dumps(out))
        ''')
        done = subprocess.run(["unshare", "-n", sys.executable, "-c", program], capture_output=True, text=True,
                              timeout=timeout, env={**os.environ, **(env or {})})
        lines = [line for line in done.stdout.splitlines() if line.startswith("RESULT ")]
        assert done.returncode == 0 and lines, done.stdout + done.stderr
        return json.loads(lines[-1][len("RESULT "):])

    return run


@pytest.fixture
def fake_camera_code():
    """Code that starts the independent peer's fake GigE Vision camera in the
    namespace (as `camera`) and waits until it listens."""
    if shutil.which(FAKE_CAMERA) is None:
        pytest.skip(f"{FAKE_CAMERA} is not installed (Debian package aravis-tools)")
    return f'''
camera = subprocess.Popen(["{FAKE_CAMERA}", "-i", "127.0.0.1", "-s", "TNTEST1"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
time.sleep(1.0)
'''
