"""Private network namespaces for tests that search the network: only
loopback, brought up, so that nothing reaches the host's adapters."""

import shutil
import subprocess


def available():
    if shutil.which("unshare") is None or shutil.which("ip") is None:
        return False
    return subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode == 0


def command(argv):
    """argv run in a namespace of its own with loopback up."""
    return ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$0" "$@"', *argv]
