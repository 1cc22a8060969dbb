"""Memory a caller asks for: nothing is committed before it is written, and a
request beyond what the machine holds fails at once, with nothing changed.

Each case runs in a child process whose address space is capped, so that a
build that commits what it allocates fails the test instead of taking the
machine's memory."""

import pathlib
import sys

import pytest

from children import run_child

CHILD = pathlib.Path(__file__).resolve().with_name("memory_child.py")

GiB = 1 << 30
MiB = 1 << 20


def machine_bytes():
    fields = {}
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            name, value = line.split(":")
            fields[name] = int(value.split()[0]) * 1024
    return fields["MemTotal"] + fields["SwapTotal"]


def run_capped(name, limit, *arguments):
    """The child program NAME run with its address space capped at LIMIT
    bytes: the dict it filled."""
    return run_child([sys.executable, str(CHILD), name, str(limit), *map(str, arguments)], timeout=120)


def test_buffers_and_images_commit_only_what_is_written():
    out = run_capped("buffers_and_images_commit_only_what_is_written", 4 * GiB)
    assert out["alloc"] and out["image"]
    assert (out["zero"], out["written"], out["image_zero"]) == (0, 7, 0)
    assert out["grown"] < 64 * MiB


def test_pipeline_buffers_beyond_the_machine_fail_at_once():
    beyond = machine_bytes() // MiB + 1
    out = run_capped("pipeline_buffers_beyond_the_machine_fail_at_once", GiB + GiB // 2, beyond)
    import tarn_base_313 as tarn

    assert (out["thousand"], out["count"]) == (tarn.TN_OK, 1000)
    assert out["grown"] < 64 * MiB
    assert out["beyond"] == out["large"] == tarn.TN_NOT_ENOUGH_MEMORY
    assert out["after"] == out["last"] == 1000
    assert out["beyond_grown"] < 64 * MiB


def test_a_started_pipeline_commits_only_what_its_stream_fills_next(isolated):
    out = isolated(CHILD, "a_started_pipeline_commits_only_what_its_stream_fills_next")
    # 64 buffers of 16 MiB wait in the stream; the memory of those it fills
    # next (a quarter of a GiB) is faulted in ahead of its receiver.
    assert (out["count"], out["start"], out["queued"]) == ("OK", "OK", 64)
    assert out["grown"] < 400 * MiB
