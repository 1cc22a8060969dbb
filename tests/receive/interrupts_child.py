"""Child programs of test_interrupts.py. The isolated fixture runs each in a
network namespace of its own: interrupts_child.py NAME."""

import os
import signal
import threading
import time

import child
from child import out

import tarn_base_313 as tarn


def fire_after(delay, number=signal.SIGINT):
    def run():
        time.sleep(delay)
        os.kill(os.getpid(), number)
    threading.Thread(target=run, daemon=True).start()


def interrupted(call, *args, expected=KeyboardInterrupt, delay=0.3):
    """Seconds from the call to the exception its handler raised; None when
    the call returned."""
    fire_after(delay)
    start = time.monotonic()
    try:
        call(*args)
    except expected:
        return time.monotonic() - start
    return None


if child.NAME == "stream_retrieval_ends_on_a_signal_and_keeps_its_buffer":
    import tarn_receive_313 as rx
    stream = rx.TnStreamRTP()
    assert stream.Open("127.0.0.1", 0).IsOK()
    buffer = tarn.TnBuffer()
    assert buffer.Alloc(1 << 16).IsOK()
    stream.QueueBuffer(buffer)

    # Other threads run while the call waits.
    ticks, busy = [0], [True]
    def count():
        while busy[0]:
            ticks[0] += 1
            time.sleep(0.001)
    counter = threading.Thread(target=count)
    counter.start()
    out["ended"] = [interrupted(stream.RetrieveBuffer), interrupted(stream.RetrieveBuffer, 60000)]
    busy[0] = False
    counter.join()
    out["ticks"] = ticks[0]
    out["queued"] = stream.GetQueuedBufferCount()

    # A handler of its own: its exception ends the wait. This one completes the
    # buffer the moment it raises: the interrupted call leaves it, and the next
    # retrieval gets it.
    class Stop(Exception):
        pass
    def abort_and_stop(*_):
        stream.AbortQueuedBuffers()
        raise Stop("stopped")
    signal.signal(signal.SIGUSR1, abort_and_stop)
    fire_after(0.3, signal.SIGUSR1)
    try:
        stream.RetrieveBuffer()
        out["race"] = "returned"
    except Stop as error:
        out["race"] = str(error)
    result, retrieved, operation = stream.RetrieveBuffer(1000)
    out["later"] = [result.GetCodeString(), retrieved == buffer, operation.GetCodeString()]

    # A handler that does not raise runs during the wait and leaves it alone.
    heard = []
    signal.signal(signal.SIGUSR2, lambda *_: heard.append(time.monotonic()))
    stream.QueueBuffer(buffer)
    fire_after(0.2, signal.SIGUSR2)
    start = time.monotonic()
    result = stream.RetrieveBuffer(1500)
    out["quiet"] = [result[0].GetCodeString(), heard[0] - start if heard else None, time.monotonic() - start]
    stream.AbortQueuedBuffers()
    stream.RetrieveBuffer(1000)
    out["closed"] = stream.Close().GetCodeString()


if child.NAME == "pipeline_and_transmitter_waits_end_on_a_signal":
    import socket
    import tarn_receive_313 as rx
    import tarn_edge_313 as ed
    stream = rx.TnStreamRTP()
    assert stream.Open("127.0.0.1", 0).IsOK()
    pipeline = rx.TnPipeline(stream)
    pipeline.SetBufferCount(4)
    out["start"] = pipeline.Start().GetCodeString()
    out["pipeline"] = interrupted(pipeline.RetrieveNextBuffer, 0xFFFFFFFF)
    out["stop"] = pipeline.Stop().GetCodeString()
    del pipeline
    stream.Close()

    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.bind(("127.0.0.1", 0))
    transmitter = ed.TnTransmitterGEV()
    out["open"] = transmitter.Open(ed.TnString("127.0.0.1"), receiver.getsockname()[1]).GetCodeString()
    # A block sent at 64 kbit/s: the abort waits for it to leave.
    transmitter.SetMaxPayloadThroughput(64000.0)
    block = tarn.TnBuffer(tarn.TnPayloadTypeRawData)
    block.Alloc(1 << 20)
    out["queue"] = transmitter.QueueBuffer(block).GetCodeString()
    time.sleep(0.1)
    out["abort"] = interrupted(transmitter.AbortQueuedBuffers, 60000)
    transmitter.Close()


if child.NAME == "discovery_connection_and_serial_reads_end_on_a_signal":
    import tarn_receive_313 as rx
    system = tarn.TnSystem()
    system.SetDetectionTimeout(30000)
    out["find"] = interrupted(system.Find)
    out["find_device"] = interrupted(system.FindDevice, "nowhere")
    device = rx.TnDeviceGEV()
    out["connect"] = interrupted(device.Connect, "127.0.0.1")
    out["connected"] = device.IsConnected()

    system.SetDetectionTimeout(100)
    result, info = system.FindDevice("SERIAL-0002")
    result, u3v = rx.TnDevice.CreateAndConnect(info)
    adapter = rx.TnDeviceAdapter(u3v)
    port = rx.TnDeviceSerialPort()
    out["port"] = port.Open(adapter, rx.TnDeviceSerial0).GetCodeString()
    out["read"] = interrupted(port.Read, 16, 60000)
    port.Close()
    rx.TnDevice.Free(u3v)
