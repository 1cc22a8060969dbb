"""The build on a machine with aravis's development package but not what its
pkg-config flags require (Debian's libaravis-dev without libusb-1.0-0-dev):
the project configures, and leaves aravis's benchmark client out instead of
failing to compile it."""

import os
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
TOOLS = pathlib.Path(sys.executable).parent

HALF_INSTALLED = """prefix=/nonexistent/usr
includedir=${prefix}/include
Name: Aravis
Description: aravis, without what it requires
Version: 0.8.26
Requires.private: tarn-absent-package
Libs: -L${prefix}/lib -laravis-0.8
Cflags: -I${includedir}/aravis-0.8
"""


def test_a_half_installed_aravis_leaves_its_client_out(tmp_path):
    (tmp_path / "aravis-0.8.pc").write_text(HALF_INSTALLED)
    environment = {**os.environ, "PKG_CONFIG_PATH": str(tmp_path)}
    cmake = [str(TOOLS / "cmake")]
    build = str(tmp_path / "build")
    configure = subprocess.run(cmake + ["-S", str(ROOT), "-B", build, "-G", "Ninja", "-DTARN_BUILD_TESTS=ON",
                                        f"-DCMAKE_MAKE_PROGRAM={TOOLS / 'ninja'}", f"-DPython_EXECUTABLE={sys.executable}"],
                               capture_output=True, text=True, env=environment)
    assert configure.returncode == 0, configure.stdout + configure.stderr
    assert "aravis-0.8 is installed, but a program of it does not build" in configure.stdout
    targets = subprocess.run(cmake + ["--build", build, "--target", "help"], capture_output=True, text=True).stdout
    assert "tn_bench_device" in targets and "arv_bench_device" not in targets
