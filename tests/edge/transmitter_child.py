"""Child programs of test_transmitter.py. The isolated fixture runs each in a
network namespace of its own: transmitter_child.py NAME RECEIVER
(RECEIVER: the SDK's stream receiver tool, tn_gvsp_receive)."""

import subprocess
import time

import child
from child import out

import tarn_base_313 as tarn


if child.NAME == "sends_python_buffers_with_loss_and_resend":
    import devices
    import numpy as np
    import tarn_edge_313 as edge
    width, height, frames = 256, 128, 24

    receiver = subprocess.Popen([child.ARGUMENTS[0], "--listen", "50123", "-W", str(width), "-H", str(height),
                                 "--verify-all", "-q", "-d", "20", "--idle-exit", "1", "--resend-to", "127.0.0.1:3956"],
                                stdout=subprocess.PIPE, text=True)
    transmitter = edge.TnTransmitterGEV()
    device = edge.TnVirtualDeviceGEV()
    out["device"] = [device.SetModelName("Tarn Transmitter").GetCodeString(), device.AddTransmitterGEV(transmitter).GetCodeString(),
                     device.StartListening(edge.TnString("127.0.0.1")).GetCodeString(),
                     device.SetModelName("busy").GetCodeString()]
    relay = devices.Relay(50123, 53)
    relay.start()
    time.sleep(0.3)
    out["open"] = [transmitter.SetPacketSize(1500).GetCodeString(),
                   transmitter.Open(edge.TnString("127.0.0.1"), relay.port).GetCodeString(),
                   transmitter.IsOpen(), transmitter.GetDestinationIPAddress(),
                   transmitter.SetMaxPayloadThroughput(200e6).GetCodeString()]
    # fastcam's pattern: bytes 0..7 the block id, byte i after them (i % line + i // line) & 0xFF.
    index = np.arange(width * height, dtype=np.uint64)
    base = ((index % width + index // width) & 0xFF).astype(np.uint8)
    buffers = []
    for block in range(1, frames + 1):
        buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
        buffer.GetImage().Alloc(width, height, tarn.TnPixelMono8)
        data = buffer.GetImage().GetDataPointer().reshape(-1)
        data[:] = base
        data[:8] = np.frombuffer(block.to_bytes(8, "big"), np.uint8)
        buffer.SetBlockID(block)
        buffers.append(buffer)
        out.setdefault("queued", []).append(transmitter.QueueBuffer(buffer).GetCode())
        time.sleep(0.01)
    time.sleep(1.0)
    out["sent"] = [transmitter.GetBlocksTransmitted(), transmitter.GetPayloadBytesTransmitted(),
                   transmitter.GetNumberOfResendRequests() > 0, relay.dropped > 0]
    out["close"] = [transmitter.AbortQueuedBuffers(2000).GetCodeString(), transmitter.Close().GetCodeString()]
    device.StopListening()
    relay.running = False
    out["received"] = receiver.communicate(timeout=30)[0]
