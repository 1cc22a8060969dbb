"""Under CI a skipped test fails the run; elsewhere it stays a skip."""

import os
import pathlib
import subprocess
import sys

TESTS = pathlib.Path(__file__).resolve().parent.parent


def test_a_skip_fails_under_ci_only(tmp_path):
    sample = pathlib.Path(__file__).resolve().with_name("ci_sample_child.py")
    (tmp_path / "test_sample.py").write_text(sample.read_text())

    def run(ci):
        environment = {key: value for key, value in os.environ.items() if key != "CI"}
        if ci is not None:
            environment["CI"] = ci
        environment["PYTHONPATH"] = str(TESTS)
        return subprocess.run([sys.executable, "-m", "pytest", "-p", "ci_skips", "-q", "-rfs", "-p", "no:cacheprovider",
                               str(tmp_path)], capture_output=True, text=True, cwd=tmp_path, env=environment)

    quiet = run(None)
    assert quiet.returncode == 0 and "1 passed, 2 skipped, 1 xfailed" in quiet.stdout, quiet.stdout
    for value in ("true", "TRUE"):
        strict = run(value)
        assert strict.returncode == 1 and "1 failed, 1 passed, 1 xfailed, 1 error" in strict.stdout, strict.stdout
        assert "skipped under CI, where every test must run: Skipped: no peer here" in strict.stdout
        assert "no namespace here" in strict.stdout
    assert run("false").returncode == 0
