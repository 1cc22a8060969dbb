"""A Python sink dropped on one thread while the SDK calls it from others, as
fast as it can, for the given seconds: prints the rounds and the calls that
reached a sink being destroyed.

    forwarding_lifetime_child.py SECONDS"""

import collections
import sys
import threading
import time

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
