"""Nothing grows over thousands of starts and stops: every object kind that
starts threads or sessions, made anew each cycle or started again, leaves
the process as it found it after a warm-up (growth_child.py): no resident
memory, C heap or Python objects kept per cycle. Soft devices started
again and controllers connected again keep the register map or parameter
array of an earlier cycle only while the program holds one of its objects."""

import pathlib

import pytest

CHILD = pathlib.Path(__file__).resolve().parent / "growth_child.py"

# Cycles per kind: enough that a leak of 1 KB a cycle stands well above what
# the allocator's bookkeeping varies by, and all of them within a minute or
# so on a loaded machine.
CYCLES = {"soft-device": 1000, "soft-device-again": 1000, "virtual-device": 10000, "transmitter": 10000,
          "controller": 100, "controller-again": 100, "stream": 300, "pipeline": 200, "serial-port": 10000}


@pytest.mark.parametrize("kind", list(CYCLES))
def test_nothing_grows_over_cycles(isolated, tmp_path, kind):
    devices = tmp_path / "devices.ini"
    devices.write_text("[u3v]\nmodel = EX-1\nguid = SERIAL-0001\n")
    cycles = CYCLES[kind]
    # Without the allocator's per-thread caches: a worker thread that stays
    # between the two counts keeps up to a few hundred KB of freed blocks,
    # which malloc counts as in use, once and not per cycle.
    env = {"TARN_SIMULATED_DEVICES": str(devices), "GLIBC_TUNABLES": "glibc.malloc.tcache_count=0"}
    out = isolated(CHILD, kind, cycles, env=env, timeout=240)
    assert "OK" in out["answers"] and all(answer in ("OK", True) for answer in out["answers"]), out["answers"]
    figures = out["figures"]
    assert figures["heap"] <= 64 * 1024 + 64 * cycles, figures
    assert figures["blocks"] <= 200 + cycles // 100, figures
    assert figures["resident"] <= 4 * 1024 * 1024 + 256 * cycles, figures
