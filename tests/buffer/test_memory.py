"""Memory a caller asks for: nothing is committed before it is written, and a
request beyond what the machine holds fails at once, with nothing changed.

Each case runs in a child process whose address space is capped, so that a
build that commits what it allocates fails the test instead of taking the
machine's memory."""

import pathlib
import sys

import pytest

from children import run_child
from machine import machine_bytes

CHILD = pathlib.Path(__file__).resolve().with_name("memory_child.py")

GiB = 1 << 30
MiB = 1 << 20


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
    out = isolated(CHILD, "a_started_pipeline_commits_only_what_its_stream_fills_next", 16 * MiB, 0, "size")
    # 64 buffers of 16 MiB wait in the stream; the memory of those it fills
    # next (a quarter of a GiB) is faulted in ahead of its receiver.
    assert (out["count"], out["start"], out["queued"]) == ("OK", "OK", 64)
    assert out["grown"] < 400 * MiB


def test_a_pool_beyond_the_machine_is_refused_whichever_is_set_first(isolated):
    size = 2 * GiB
    beyond = machine_bytes() // size + 1
    program = "a_started_pipeline_commits_only_what_its_stream_fills_next"
    # Counted first, the buffers are 1 MiB; the size that makes them too many
    # returns nothing, and Start refuses the pool before it allocates any of it.
    out = isolated(CHILD, program, size, beyond, "count")
    assert (out["count"], out["start"], out["pool"], out["running"]) == ("OK", "NOT_ENOUGH_MEMORY", beyond, False)
    assert f"Start: the pipeline's buffers ({beyond} x {size} bytes)" in out["why"]["start"]
    assert out["grown"] < 64 * MiB
    # Sized first, the count is refused and the pool keeps its 16 buffers.
    out = isolated(CHILD, program, size, beyond, "size")
    assert (out["count"], out["pool"]) == ("NOT_ENOUGH_MEMORY", 16)
    assert f"SetBufferCount: the pipeline's buffers ({beyond} x {size} bytes)" in out["why"]["count"]
    assert out["start"] == "OK" or "Start: the pipeline's buffers (16 x " in out["why"]["start"]
    assert out["grown"] < 64 * MiB or 16 * size <= machine_bytes()


def test_a_started_pipeline_of_buffers_larger_than_the_window_commits_only_the_window(isolated):
    out = isolated(CHILD, "a_started_pipeline_commits_only_what_its_stream_fills_next", GiB, 4,
                   "count")
    # 4 buffers of 1 GiB wait in the stream: a quarter of a GiB of the first
    # is faulted in ahead of the receiver, not the whole of it.
    assert (out["count"], out["start"], out["queued"]) == ("OK", "OK", 4)
    assert out["grown"] < 400 * MiB


def test_a_size_set_while_running_is_refused_by_the_next_release(isolated):
    beyond = machine_bytes() // 0xFFFFFFFF + 1
    out = isolated(CHILD, "a_size_beyond_the_machine_is_refused_by_the_next_release", beyond)
    # The buffer comes back unchanged, and the refusal says what could not be had.
    code, description, size = out["released"]
    assert code == "NOT_ENOUGH_MEMORY" and size == 256
    assert f"ReleaseBuffer: the pipeline's buffers ({beyond} x 4294967295 bytes)" in description
    # The pool runs on in its memory, and takes the size of the blocks again.
    assert out["next"] == ["OK", "OK", 2] and out["again"] == ["OK", 256]
    assert out["grown"] < 64 * MiB
