"""Views keep the memory they show: arrays over SDK memory stay readable,
and show what was written, after their buffer, image, part or container
lets the memory go, and attached arrays stay alive while the SDK object
holds them (kept_views_child.py, each program in a process of its own, with
freed memory filled with garbage at once)."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("kept_views_child.py")
PERTURBED = {"MALLOC_PERTURB_": "165", "PYTHONFAULTHANDLER": "1"}


def test_the_reported_programs_read_what_they_wrote(isolated):
    out = isolated(CHILD, "the_reported_programs", env=PERTURBED)
    assert out["kept"] == [1, 1, 1]  # past del, Free and Alloc
    assert out["converted"] == [0, 0, 0]  # each frame the converter re-allocated for
    assert out["attached"] == 0
    assert out["streamed"] == ["OK", [3, 4, 5, 6]]


def test_every_view_outlives_its_owner(isolated):
    """Buffers, images, chunks (in the buffer and in chunk memory), parts (in
    the buffer and of their own), JPEG data, GenDC parts, images and chunks,
    and the arrays Detach returns, each past Free, Alloc, Reset, delete_ and
    the proxy dropped."""
    views = isolated(CHILD, "every_view_kept_past_its_owner", env=PERTURBED)["views"]
    assert len(views) == 25
    assert {name: result for name, result in views.items() if result != [True, True]} == {}


def test_attached_arrays_live_as_long_as_the_sdk_holds_them(isolated):
    out = isolated(CHILD, "attached_arrays_dropped_by_the_caller", env=PERTURBED)
    # Answer, [alive, read, pinned] while attached, [alive, read] after the
    # SDK let go while a view remains, gone with the view.
    wanted = ["OK", [True, True, True], [True, True], True]
    assert len(out["attached"]) == 30
    assert {name: result for name, result in out["attached"].items() if result != wanted} == {}


def test_views_of_views_keep_the_memory(isolated):
    out = isolated(CHILD, "views_of_views", env=PERTURBED)
    assert out["derived"] == [True] * 6 and out["holds"] == [True] * 5
    assert out["flags"] == [True, True, True, "|u1", [32, 64, 3]]
    assert out["attached view"] == [77, 128]


def test_queued_buffers_are_filled_in_place_and_pools_let_go_safely(isolated):
    out = isolated(CHILD, "a_kept_view_of_a_queued_buffer_shows_the_newest_frame", env=PERTURBED)
    # A kept view shows the newest frame, in the same memory (nothing copied).
    assert out["frames"] == [[10, 11, 12, 13], [50, 51, 52, 53], True]
    assert out["pool"] == ["OK", True, [90, 91, 92, 93], True]


def test_views_handed_to_overrides_outlive_the_call(isolated):
    out = isolated(CHILD, "views_handed_to_overrides", env=PERTURBED)
    assert [out["start"], out["connect"], out["reads"], out["kept"]] == ["OK", "OK", True, True]
