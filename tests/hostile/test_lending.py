"""Objects Python and the SDK lend each other, let go of too early: the
programs that used to end in freed memory run to their end, and each kind of
lent object is dropped or destroyed, in every order, through proxy methods
and module functions, while streams, pipelines and devices run
(lending_child.py, in child processes and network namespaces of their own).
Neither a crash, a hang nor a frame read from freed memory."""

import gc
import os
import pathlib
import signal
import struct
import subprocess
import sys
import textwrap

import pytest

import netns

HERE = pathlib.Path(__file__).resolve().parent
CHILD = HERE / "lending_child.py"
ENV = {**os.environ, "PYTHONPATH": os.pathsep.join(os.path.abspath(p) for p in sys.path if p)}


def run(argv, timeout=120, env=None):
    if not netns.available():
        pytest.skip("network namespaces are not available here")
    try:
        done = subprocess.run(netns.command(argv), capture_output=True, text=True, timeout=timeout,
                              env={**ENV, **(env or {})})
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


# The programs of the report: a buffer retrieved under the name of the one
# queued, a buffer kept past its pipeline, a selector given to a module
# function and not kept.
RTP = '''
import socket, struct, subprocess, time
subprocess.run(["ip", "link", "set", "lo", "up"])
import tarn_base_313 as tarn, tarn_receive_313 as rx
W, H = 64, 4
s = rx.TnStreamRTP(); s.PrepareFor(W, H, tarn.TnPixelMono8); s.Open("127.0.0.1", 40124)

def send(timestamp=1000):
    tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    for y in range(H):
        tx.sendto(struct.pack(">BBHII", 0x80, (0x80 if y == H - 1 else 0) | 96, timestamp // 1000 * H + y, timestamp, 7)
                  + struct.pack(">HHHH", 0, W, y, 0) + bytes([y]) * W, ("127.0.0.1", 40124))
'''
PROGRAMS = {
    "retrieved under the queued name": RTP + '''
buffer = tarn.TnBuffer(); buffer.Alloc(W * H); s.QueueBuffer(buffer)
send()
result, buffer, operation = s.RetrieveBuffer(2000)
print(buffer.GetImage().GetDataPointer()[:, 0].tolist())
''',
    "kept past its pipeline": RTP + '''
pipeline = rx.TnPipeline(s); pipeline.SetBufferSize(W * H); pipeline.Start()
time.sleep(0.2)
send()
result, buffer = pipeline.RetrieveNextBuffer(2000)[:2]
pipeline.Stop(); del pipeline
print(buffer.GetImage().GetDataPointer()[:, 0].tolist())
''',
    "released from a pool that shrank": RTP + '''
import _tarn_base_313 as base
pipeline = rx.TnPipeline(s); pipeline.SetBufferSize(W * H); pipeline.SetBufferCount(4); pipeline.Start()
time.sleep(0.2)
send()
buffer = pipeline.RetrieveNextBuffer(2000)[1]
send(2000)
other = pipeline.RetrieveNextBuffer(2000)[1]
image = buffer.GetImage()
pipeline.SetBufferCount(1)  # two held: they go as they are released
pipeline.ReleaseBuffer(buffer)
junk = [bytes(range(256)) * 4 for _ in range(4000)]  # freed memory is used again
print([buffer.GetSize(), base.TnBuffer_GetSize(buffer), base.TnBuffer_GetImage(buffer).GetDataPointer() is None,
       image.GetDataPointer() is None, pipeline.ReleaseBuffer(buffer).GetCodeString()])
pipeline.SetBufferCount(4)  # the pool takes it back
print([buffer.GetSize(), pipeline.GetBufferCount()])
''',
    "kept by a sink past its pipeline": RTP + '''
class Sink(rx.TnPipelineEventSink):
    def __init__(self):
        super().__init__()
        self.made = []

    def OnBufferCreated(self, pipeline, buffer):
        self.made.append(buffer)

sink = Sink()
pipeline = rx.TnPipeline(s); pipeline.SetBufferSize(W * H); pipeline.RegisterEventSink(sink); pipeline.Start()
del pipeline
junk = [bytes(range(256)) * 4 for _ in range(4000)]
print(sorted({buffer.GetSize() for buffer in sink.made}))
''',
    "a selector not kept": f'''
import subprocess, sys
subprocess.run(["ip", "link", "set", "lo", "up"])
sys.path.insert(0, {str(HERE.parent / "edge")!r})
import devices, _tarn_edge_313, tarn_edge_313 as edge
source = devices.TriggeredSource()
_tarn_edge_313.TnStreamingChannelSourceTrigger_AddSelector(source, edge.TRIGGER_SELECTOR_FRAMESTART,
                                                           edge.TnTriggerSelectorFrameStart())
device = edge.TnSoftDeviceGEV()
device.AddStream(source)
print([device.Start(devices.LOOPBACK_MAC).GetCodeString(), device.Stop().GetCodeString()])
''',
}
OUTPUTS = {"retrieved under the queued name": "[0, 1, 2, 3]", "kept past its pipeline": "[0, 1, 2, 3]",
           "released from a pool that shrank": "[0, 0, True, True, 'INVALID_PARAMETER']\n[256, 4]",
           "kept by a sink past its pipeline": "[256]", "a selector not kept": "['OK', 'OK']"}


@pytest.mark.parametrize("name", sorted(PROGRAMS))
def test_programs_that_let_go_early_run_to_their_end(name):
    # Freed memory is filled with garbage at once, so that reading it fails.
    out = run([sys.executable, "-c", textwrap.dedent(PROGRAMS[name])], timeout=60, env={"MALLOC_PERTURB_": "165"})
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
