"""A test module that test_ci_runs.py runs under pytest as test_sample.py: a
test that passes, two that skip, and one that is known to fail."""

import pytest


def test_runs():
    pass


def test_lacks_a_peer():
    pytest.skip("no peer here")


@pytest.mark.skipif(True, reason="no namespace here")
def test_lacks_a_namespace():
    pass


@pytest.mark.xfail(reason="known")
def test_known_failure():
    assert False
