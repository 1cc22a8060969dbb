"""A Python sink dropped on one thread while the SDK calls it from others, as
fast as it can: no call reaches the sink once its destruction has begun,
neither its half-destroyed forwarding object nor its Python object being
deallocated (which an override that keeps its object, say in a queue of
events, would bring back to life only to have it freed under it). Runs in a
child process with a time limit."""

import os
import signal
import subprocess
import sys

import pytest

CHILD = r"""
import collections, sys, threading, time
import tarn_receive_313 as rx

pipeline = rx.TnPipeline(rx.TnStreamGEV())
pipeline.SetBufferSize(16)
kept = collections.deque(maxlen=64)
late = []

class Sink(rx.TnPipelineEventSink):
    def __init__(self):
        super().__init__()
        self.alive = True

    def OnBufferCreated(self, pipeline, buffer):
        if not self.__dict__.get("alive"):
            late.append(1)
        kept.append(self)

    OnBufferDeleted = OnBufferCreated

stop = threading.Event()

def resize():  # each change of the count reaches the sinks once per buffer
    count = 1
    while not stop.is_set():
        count = 33 - count
        pipeline.SetBufferCount(count)

workers = [threading.Thread(target=resize) for _ in range(2)]
for worker in workers:
    worker.start()
sinks = []
rounds = 0
deadline = time.monotonic() + float(sys.argv[1])
while time.monotonic() < deadline:
    sinks.append(Sink())
    pipeline.RegisterEventSink(sinks[-1])
    sinks.pop()  # the last reference but those the calls in progress keep
    rounds += 1
stop.set()
for worker in workers:
    worker.join()
kept.clear()
print(rounds, len(late), flush=True)
"""


def test_sinks_dropped_while_called():
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(os.path.abspath(p) for p in sys.path if p)}
    try:
        done = subprocess.run([sys.executable, "-c", CHILD, "3"], capture_output=True, text=True, timeout=120,
                              env=env)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"no end within 120 s\n{(expired.stderr or b'')[-2000:]}")
    status = done.returncode
    assert status == 0, (f"crash ({signal.Signals(-status).name})" if status < 0 else f"exit status {status}") + \
        "\n" + done.stderr[-3000:]
    rounds, late = map(int, done.stdout.split())
    assert rounds > 100
    assert late == 0, f"{late} calls reached sinks being destroyed\n{done.stdout}"
    assert "In method" not in done.stdout
