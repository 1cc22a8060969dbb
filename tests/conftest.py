import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = pathlib.Path(os.environ.get("TARN_BUILD_DIR", ROOT / "build"))

# The figures tool, and the test hooks module that only the build tree has.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(BUILD / "tests" / "python"))
if not any(pathlib.Path(p, "tarn_base_313.py").exists() for p in sys.path if p):
    sys.path.insert(0, str(BUILD / "python"))


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
