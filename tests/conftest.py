import os
import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = pathlib.Path(os.environ.get("TARN_BUILD_DIR", ROOT / "build"))

# The figures tool, and the test hooks module that only the build tree has.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import netns  # noqa: E402
from children import run_child  # noqa: E402
# Under CI a skipped test fails the run.
from ci_skips import pytest_make_collect_report, pytest_runtest_makereport  # noqa: E402,F401
sys.path.insert(0, str(BUILD / "tests" / "python"))
if not any(pathlib.Path(p, "tarn_base_313.py").exists() for p in sys.path if p):
    sys.path.insert(0, str(BUILD / "python"))



# The modules share one type table, and a type's Python class is the one of the
# module that registered it last: an object that the base module hands out comes
# as the edge module's proxy once the edge module is imported. The tests of each
# module check its own classes, so they run in import order: the base module's
# first, then the receive module's, the edge module's last.
_MODULE_ORDER = {"receive": 1, "edge": 2}


def pytest_collection_modifyitems(items):
    def rank(item):
        parts = pathlib.Path(str(item.fspath)).relative_to(ROOT / "tests").parts
        return _MODULE_ORDER.get(parts[0], 0) if len(parts) > 1 else 0

    items.sort(key=rank)

@pytest.fixture(scope="session")
def tarn():
    import tarn_base_313

    return tarn_base_313


@pytest.fixture(scope="session")
def base():
    import _tarn_base_313

    return _tarn_base_313


@pytest.fixture(scope="session")
def hooks(tarn):
    import tn_testhooks

    return tn_testhooks


@pytest.fixture
def import_with_broken_numpy(tmp_path):
    """Imports a module in a child process whose numpy serves no array
    interface; the child's output (what it printed, and standard error)."""
    fake = tmp_path / "numpy"
    (fake / "_core").mkdir(parents=True)
    (fake / "__init__.py").write_text("")
    (fake / "_core" / "__init__.py").write_text("")
    (fake / "_core" / "_multiarray_umath.py").write_text("_ARRAY_API = 'not a capsule'\n")
    program = pathlib.Path(__file__).resolve().with_name("broken_numpy_child.py")

    def run(module):
        paths = [str(tmp_path)] + [os.path.abspath(p) for p in sys.path if p]
        return subprocess.run([sys.executable, str(program), str(tmp_path), module], capture_output=True, text=True,
                              env={"PYTHONPATH": os.pathsep.join(paths)})

    return run


@pytest.fixture(scope="session")
def rx():
    import tarn_receive_313

    return tarn_receive_313


@pytest.fixture(scope="session")
def receive():
    import _tarn_receive_313

    return _tarn_receive_313


FAKE_CAMERA = "arv-fake-gv-camera-0.8"

NAMESPACES = netns.available()


@pytest.fixture
def isolated():
    """Runs a child program in a network namespace of its own, with only
    loopback up, so that searches never reach the host's network: a file
    beside the tests (a *_child.py, which starts by importing child.py) with
    its arguments. The program fills the dict `out`; the fixture returns it,
    with what the program printed under "stdout". The program finds the
    modules, the test hooks and the figures tool as the tests do."""
    if not NAMESPACES:
        pytest.skip("network namespaces are not available here")

    def run(program, *arguments, env=None, timeout=60):
        return run_child(netns.command([sys.executable, str(program), *map(str, arguments)]), env, timeout)

    return run


def need_fake_camera():
    if shutil.which(FAKE_CAMERA) is None:
        pytest.skip(f"{FAKE_CAMERA} is not installed (Debian package aravis-tools)")


@pytest.fixture
def fake_camera():
    """Skips unless the independent peer's fake GigE Vision camera is
    installed; a child program starts it with child.start_fake_camera()."""
    need_fake_camera()
