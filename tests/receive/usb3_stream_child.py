"""Child programs of test_usb3_stream.py. The isolated fixture runs each in a
network namespace of its own: usb3_stream_child.py NAME."""

import child
from child import out

import tarn_base_313 as tarn


if child.NAME == "simulated_device_frames_through_a_pipeline_into_numpy":
    import threading
    import numpy as np
    import tarn_receive_313 as rx
    system = tarn.TnSystem()
    system.SetDetectionTimeout(100)
    result, info = system.FindDevice("EXAMPLE-0001")
    result, device = rx.TnDevice.CreateAndConnect(info)
    features = device.GetParameters()
    features.SetIntegerValue("Width", 320)
    features.SetIntegerValue("Height", 240)
    features.SetEnumValue("PixelFormat", "Mono16")
    features.SetFloatValue("AcquisitionFrameRate", 200.0)

    result, stream = rx.TnStream.CreateAndOpen(info)
    out["stream"] = [result.GetCodeString(), type(stream).__name__, stream.GetGUID()]
    out["busy"] = rx.TnStreamU3V().Open("EXAMPLE-0001", 0).GetCodeString()

    class Frames(rx.TnPipelineEventSink):
        def __init__(self):
            super().__init__()
            self.frames, self.failed, self.done = [], 0, threading.Event()
        def OnBufferReady(self, pipeline):
            result, buffer, operation = pipeline.RetrieveNextBuffer(0)
            if result.IsOK():
                if operation.IsOK():
                    self.frames.append((buffer.GetBlockID(), buffer.GetImage().GetDataPointer().copy()))
                else:
                    self.failed += 1
                pipeline.ReleaseBuffer(buffer)
            if len(self.frames) >= 8:
                self.done.set()

    sink = Frames()
    pipeline = rx.TnPipeline(stream)
    pipeline.SetBufferSize(features.GetIntegerValue("PayloadSize")[1])
    pipeline.RegisterEventSink(sink)
    pipeline.Start()
    features.Get("AcquisitionStart").Execute()
    out["received"] = sink.done.wait(10)
    features.Get("AcquisitionStop").Execute()
    pipeline.Stop()

    line = np.arange(320 * 2)
    expected = {}
    for block, frame in sink.frames:
        rows = np.arange(240).reshape(-1, 1)
        bytes_ = ((line + 3 * rows + 7 * block) & 0xFF).astype(np.uint8)
        expected[block] = bool(np.array_equal(frame, bytes_.view(np.uint16)))
    out["frames"] = [sink.frames[0][1].shape, str(sink.frames[0][1].dtype), all(expected.values()), sink.failed]
    parameters = stream.GetParameters()
    out["statistics"] = [parameters.GetIntegerValue(name)[1] for name in ("BlocksCompleted", "BlocksFailed")]
    rx.TnStream.Free(stream)
    # The transfer settings left out take their defaults.
    stream = rx.TnStreamU3V()
    stream.Open(info, 0, 16)
    parameters = stream.GetParameters()
    out["defaults"] = [stream.GetQueuedBufferMaximum()] + [parameters.GetIntegerValue(name)[1] for name in
                                                           ("SmallImageThreshold", "MaximumPendingRequests")]
    stream.Close()
    rx.TnDevice.Free(device)
