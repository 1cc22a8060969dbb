"""Memory a caller asks for: nothing is committed before it is written, and a
request beyond what the machine holds fails at once, with nothing changed.

Each case runs in a child process whose address space is capped, so that a
build that commits what it allocates fails the test instead of taking the
machine's memory."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

GiB = 1 << 30
MiB = 1 << 20


def machine_bytes():
    fields = {}
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            name, value = line.split(":")
            fields[name] = int(value.split()[0]) * 1024
    return fields["MemTotal"] + fields["SwapTotal"]


def run_capped(code, limit):
    program = textwrap.dedent('''
        import json, resource
        def status(name):
            with open("/proc/self/status") as lines:
                return next(int(line.split()[1]) * 1024 for line in lines if line.startswith(name + ":"))
        resource.setrlimit(resource.RLIMIT_AS, (CAP, CAP))
        import tarn_base_313 as tarn, tarn_receive_313 as rx
        out = {}
    ''').replace("CAP", str(limit)) + textwrap.dedent(code) + '\nprint("RESULT " + json.dumps(out))\n'
    path = os.pathsep.join(os.path.abspath(p) for p in sys.path if p)
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=120,
                          env={**os.environ, "PYTHONPATH": path})
    lines = [line for line in done.stdout.splitlines() if line.startswith("RESULT ")]
    assert done.returncode == 0 and lines, done.stdout + done.stderr
    return json.loads(lines[-1][len("RESULT "):])


def test_buffers_and_images_commit_only_what_is_written():
    out = run_capped('''
        start = status("VmRSS")
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
        out["alloc"] = buffer.Alloc(GIB).IsOK()
        view = buffer.GetDataPointer()
        out["zero"] = int(view[0]) + int(view[GIB // 2]) + int(view[-1])
        view[GIB // 3] = 7
        out["written"] = int(buffer.GetDataPointer()[GIB // 3])
        image = tarn.TnBuffer().GetImage()
        out["image"] = image.Alloc(32768, 32768, tarn.TnPixelMono8).IsOK()
        out["image_zero"] = int(image.GetDataPointer()[-1, -1])
        out["grown"] = status("VmHWM") - start
        buffer.Free()
    '''.replace("GIB", str(GiB)), 4 * GiB)
    assert out["alloc"] and out["image"]
    assert (out["zero"], out["written"], out["image_zero"]) == (0, 7, 0)
    assert out["grown"] < 64 * MiB


def test_pipeline_buffers_beyond_the_machine_fail_at_once():
    beyond = machine_bytes() // MiB + 1
    out = run_capped('''
        start = status("VmHWM")
        pipeline = rx.TnPipeline(None)
        assert pipeline.GetBufferSize() == MIB
        out["thousand"] = pipeline.SetBufferCount(1000).GetCode()
        out["count"] = pipeline.GetBufferCount()
        out["grown"] = status("VmHWM") - start
        refused = pipeline.SetBufferCount(BEYOND)
        out["beyond"] = refused.GetCode()
        out["after"] = pipeline.GetBufferCount()
        out["beyond_grown"] = status("VmHWM") - start
        pipeline.SetBufferSize(0xFFFFFFFF)
        out["large"] = pipeline.SetBufferCount(BEYOND // 4096 + 8).GetCode()
        out["last"] = pipeline.GetBufferCount()
    '''.replace("MIB", str(MiB)).replace("BEYOND", str(beyond)), GiB + GiB // 2)
    import tarn_base_313 as tarn

    assert (out["thousand"], out["count"]) == (tarn.TN_OK, 1000)
    assert out["grown"] < 64 * MiB
    assert out["beyond"] == out["large"] == tarn.TN_NOT_ENOUGH_MEMORY
    assert out["after"] == out["last"] == 1000
    assert out["beyond_grown"] < 64 * MiB


def test_a_started_pipeline_commits_only_what_its_stream_fills_next(isolated):
    out = isolated('''
import tarn_receive_313 as rx
def status(name):
    with open("/proc/self/status") as lines:
        return next(int(line.split()[1]) * 1024 for line in lines if line.startswith(name + ":"))
stream = rx.TnStreamRTP()
assert stream.Open("127.0.0.1", 0).IsOK()
pipeline = rx.TnPipeline(stream)
pipeline.SetBufferSize(16 << 20)
start = status("VmHWM")
out["count"] = pipeline.SetBufferCount(stream.GetQueuedBufferMaximum()).GetCodeString()
out["start"] = pipeline.Start().GetCodeString()
out["queued"] = stream.GetQueuedBufferCount()
out["grown"] = status("VmHWM") - start
pipeline.Stop()
del pipeline
stream.Close()
''')
    # 64 buffers of 16 MiB wait in the stream; the memory of those it fills
    # next (a quarter of a GiB) is faulted in ahead of its receiver.
    assert (out["count"], out["start"], out["queued"]) == ("OK", "OK", 64)
    assert out["grown"] < 400 * MiB
