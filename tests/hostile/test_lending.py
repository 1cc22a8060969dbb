"""Objects Python and the SDK lend each other, let go of too early: the
programs that used to end in freed memory run to their end, and each kind of
lent object is dropped or destroyed, in every order, through proxy methods
and module functions, while streams, pipelines and devices run
(lending_child.py, in child processes and network namespaces of their own).
Neither a crash, a hang nor a frame read from freed memory."""

import gc
import pathlib
import signal
import struct
import subprocess
import sys

import pytest

import netns
from children import child_env

HERE = pathlib.Path(__file__).resolve().parent
CHILD = HERE / "lending_child.py"


def run(argv, timeout=120, env=None):
    if not netns.available():
        pytest.skip("network namespaces are not available here")
    try:
        done = subprocess.run(netns.command(argv), capture_output=True, text=True, timeout=timeout,
                              env=child_env(env))
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"no end within {timeout} s\n{(expired.stderr or b'')[-2000:]}")
    status = done.returncode
    assert status == 0, (f"crash ({signal.Signals(-status).name})" if status < 0 else f"exit status {status}") + \
        "\n" + done.stdout[-1000:] + done.stderr[-3000:]
    return done.stdout


@pytest.mark.parametrize("kind", ["stream-buffers", "pipeline-buffers", "payloads", "selectors", "transmitters"])
def test_lent_objects_let_go_of_early(kind):
    """Rounds run; frames (packets, trigger callbacks) checked; calls through
    destroyed objects refused (none is destroyed under a transmitter)."""
    rounds, checked, refused = map(int, run([sys.executable, str(CHILD), kind, "2"]).split()[-3:])
    assert rounds > 10 and checked > 0
    assert (refused > 0) == (kind != "transmitters")


# The programs of the report (let_go_child.py) and what each prints.
OUTPUTS = {"retrieved_under_the_queued_name": "[0, 1, 2, 3]", "kept_past_its_pipeline": "[0, 1, 2, 3]",
           "released_from_a_pool_that_shrank": "[0, 0, True, True, 'INVALID_PARAMETER']\n[256, 4]",
           "kept_by_a_sink_past_its_pipeline": "[256]", "a_selector_not_kept": "['OK', 'OK']",
           "converted_into_a_buffer_no_longer_named": "[768, 768, 768]"}


@pytest.mark.parametrize("name", sorted(OUTPUTS))
def test_programs_that_let_go_early_run_to_their_end(name):
    # Freed memory is filled with garbage at once, so that reading it fails.
    out = run([sys.executable, str(HERE / "let_go_child.py"), name], timeout=60, env={"MALLOC_PERTURB_": "165"})
    assert OUTPUTS[name] in out, out


def test_borrowed_proxies_keep_their_owner_and_refuse_once_it_is_destroyed(tarn, base):
    """A payload, part or record handed out by a method keeps what owns it,
    whether the method was called on a proxy or through the module function
    with a proxy or a bare pointer object, and still reports that it owns
    nothing; destroyed explicitly, the owner takes them with it: they
    refuse every call."""
    def made():
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
        buffer.GetImage().Alloc(8, 4, tarn.TnPixelMono8)
        buffer.GetImage().GetDataPointer()[:] = 9
        return buffer

    images = [made().GetImage(), base.TnBuffer_GetImage(made()), base.TnBuffer_GetImage(made().this)]
    header = tarn.GenDCContainerHeader()
    flags = header.Flags
    del header
    gc.collect()
    assert [int(image.GetDataPointer().sum()) for image in images] == [9 * 32] * 3
    assert [image.thisown for image in images] == [False] * 3 and flags.Value == 0
    buffer = made()
    image, raw = buffer.GetImage(), base.TnBuffer_GetImage(buffer).this
    again = image.GetDataPointer  # a method of the image, bound
    base.delete_TnBuffer(buffer)
    for call in (image.GetWidth, again, lambda: base.ITnImage_GetWidth(raw), buffer.GetSize):
        with pytest.raises(TypeError):
            call()


def test_python_cannot_take_over_what_an_owner_keeps(tarn):
    """A borrowed buffer (of its image) refuses to be owned, whichever way it
    is asked: its owner would destroy it a second time. Owned proxies still
    give their ownership up and take it back."""
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
    buffer.GetImage().Alloc(4, 4, tarn.TnPixelMono8)
    borrowed = buffer.GetImage().GetBuffer()
    for take in (lambda: setattr(borrowed, "thisown", True), borrowed.this.acquire, lambda: borrowed.this.own(1)):
        with pytest.raises(ValueError, match="cannot own it"):
            take()
    borrowed.thisown = False
    assert borrowed.thisown is False and borrowed.this.own() is False
    buffer.thisown = False
    buffer.thisown = True
    buffer.this.acquire()
    assert buffer.thisown is True
    del borrowed
    gc.collect()
    assert buffer.GetSize() == 16


def test_parameters_keep_their_array_and_refuse_once_it_is_destroyed(hooks, base):
    camera = str(HERE.parent / "data" / "genicam" / "camera.xml")
    features = hooks.LoadParameterArray(camera, 0x400)
    assert hooks.WritePort(features, 0x100, struct.pack(">I", 640))
    width, also = features.Get("Width"), base.TnGenParameterArray_Get(features.this, "Width")
    del features
    gc.collect()
    assert width.GetValue()[1] == also.GetValue()[1] == 640 and not width.thisown
    features = hooks.LoadParameterArray(camera, 0x400)
    height = features.Get("Height")
    base.delete_TnGenParameterArray(features)
    with pytest.raises(TypeError):
        height.GetValue()


def test_lists_keep_the_owners_of_their_items(isolated):
    """A list of parameters, filled by the program or by the SDK, keeps the
    device its items belong to until it lets go of them (Clear, its end)."""
    out = isolated(HERE / "lists_child.py", "lists_keep_the_owners_of_their_items", env={"MALLOC_PERTURB_": "165"})
    assert out["dropped"] == [32, "SoftDevice", None, 64] and out["cleared"] == [0, True]
    assert out["selected"] == [32, ["UserSetLoad", "UserSetSave"]] and out["selected gone"]
    assert out["freed"] == [32, "TypeError", "SoftDevice"] and out["freed gone"]
