"""Every python block of README.md runs to its end as a reader would run it:
alone, in a fresh interpreter, in a network namespace of its own, from an
empty directory, with the modules as an installation has them (the test
hooks of the build tree out of reach). A block that needs a device starts
one itself."""

import os
import pathlib
import re
import signal
import subprocess
import sys

import pytest

import netns

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"


def python_blocks():
    """(line of the opening fence, code) of each python block."""
    blocks = []
    for match in re.finditer(r"^```python\n(.*?)^```$", README.read_text(), re.MULTILINE | re.DOTALL):
        blocks.append((README.read_text().count("\n", 0, match.start()) + 1, match.group(1)))
    return blocks


BLOCKS = python_blocks()


def test_the_readme_has_its_examples():
    assert len(BLOCKS) >= 10


@pytest.mark.parametrize("code", [code for _, code in BLOCKS], ids=[f"line{line}" for line, _ in BLOCKS])
def test_readme_block_runs(tarn, tmp_path, code):
    if not netns.available():
        pytest.skip("network namespaces are not available here")
    modules = pathlib.Path(tarn.__file__).resolve().parent
    environment = {key: value for key, value in os.environ.items() if not key.startswith(("PYTHON", "TARN_"))}
    environment["PYTHONPATH"] = str(modules)
    output = tmp_path / "output"
    # A session of its own: the peers a block starts (and leaves behind if
    # it fails) end with it.
    with open(output, "w") as out:
        block = subprocess.Popen(netns.command([sys.executable, "-c", code]), cwd=tmp_path, env=environment,
                                 stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            returncode = block.wait(timeout=120)
        except subprocess.TimeoutExpired:
            returncode = "a timeout"
        finally:
            try:
                os.killpg(block.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            block.wait()
    if returncode != 0:
        pytest.fail(f"the block ended with {returncode}:\n{output.read_text()[-4000:]}")
