"""The receive road's demonstration: the picture it saves holds a whole frame
of the fake camera's pattern."""

import pathlib
import shutil
import subprocess
import sys

import numpy as np
import pytest

import netns
from children import child_env, few_failed_and_counted

DEMO = pathlib.Path(__file__).resolve().parents[2] / "examples" / "demo_receive.py"


def test_the_demo_saves_a_frame_of_the_fake_cameras_pattern(tmp_path):
    image = pytest.importorskip("PIL.Image")
    if shutil.which("arv-fake-gv-camera-0.8") is None or not netns.available():
        pytest.skip("needs network namespaces and the fake camera (Debian aravis-tools)")
    picture = tmp_path / "frame.png"
    done = subprocess.run([sys.executable, str(DEMO), str(picture)], capture_output=True, text=True, timeout=120,
                          env=child_env())
    assert done.returncode == 0, done.stdout + done.stderr
    assert "saved" in done.stdout and few_failed_and_counted(done.stdout), done.stdout
    pixels = np.asarray(image.open(picture))
    height, width = pixels.shape
    # Pixel (x, y) of block n is (x + y + n) % 255: the top left pixel tells n.
    expected = (np.add.outer(np.arange(height), np.arange(width)) + int(pixels[0, 0])) % 255
    assert (pixels == expected).all()
