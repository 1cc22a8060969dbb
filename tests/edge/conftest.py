import pytest


@pytest.fixture(scope="session")
def ed():
    import tarn_edge_313

    return tarn_edge_313


@pytest.fixture(scope="session")
def edge():
    import _tarn_edge_313

    return _tarn_edge_313
