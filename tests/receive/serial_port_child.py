"""Child programs of test_serial_port.py. The isolated fixture runs each in a
network namespace of its own: serial_port_child.py NAME."""

import pathlib
import sys
import time

import child
from child import out

import tarn_base_313 as tarn


if child.NAME == "echo_line_progress_statistics_and_a_lost_device":
    import threading
    import numpy as np
    import tarn_receive_313 as rx
    system = tarn.TnSystem()
    system.SetDetectionTimeout(100)
    result, info = system.FindDevice("SERIAL-0001")
    result, device = rx.TnDevice.CreateAndConnect(info)
    adapter = rx.TnDeviceAdapter(device)
    out["supported"] = [rx.TnDeviceSerialPort.IsSupported(adapter, port) for port in range(-1, 10)]
    port = rx.TnDeviceSerialPort()
    # An open port keeps its adapter: this one lives as long as the port is open.
    out["open"] = [port.Open(adapter, rx.TnDeviceSerialBulk0).GetCodeString(),
                   port.Open(rx.TnDeviceAdapter(device), rx.TnDeviceSerial0).GetCodeString()]

    # 4096 bytes at 115200 baud: the write waits for the line, and another
    # thread sees it progress.
    data = (np.arange(4096) * 7 % 251).astype(np.uint8)
    seen, writing = set(), True
    def watch():
        while writing:
            result, written, total = port.GetWriteProgress()
            if result.IsOK():
                seen.add((written, total))
    watcher = threading.Thread(target=watch)
    watcher.start()
    result, written = port.Write(data)
    writing = False
    watcher.join()
    out["write"] = [result.GetCodeString(), written, port.GetWriteProgress()[1:]]
    out["progress"] = len([pair for pair in seen if 0 < pair[0] < 4096 and pair[1] == 4096])
    back = []
    while sum(len(part) for part in back) < len(data):
        result, chunk, count = port.Read(4096, 2000)
        if not result.IsOK():
            break
        back.append(chunk[:count].copy())
    out["echo"] = bool(np.array_equal(np.concatenate(back), data))
    out["statistics"] = [port.GetBytesSent(), port.GetBytesReceived()]

    # bytes, a bytearray and memoryviews (of every second byte, of 16-bit words)
    # go as their bytes.
    words = np.array([0x4241, 0x4443], dtype="<u2")
    sent = [b"hello", bytearray(b" tarn"), memoryview(b"-x-y-z")[1::2], memoryview(words)]
    out["bytes"] = [port.Write(item)[1] for item in sent]
    echoed = b""
    while len(echoed) < 17:
        result, chunk, count = port.Read(64, 2000)
        if not result.IsOK():
            break
        echoed += chunk[:count].tobytes()
    out["bytes back"] = echoed.decode()
    port.ResetStatistics()

    # A full receive buffer keeps the newest bytes.
    port.SetRxBufferSize(100)
    device.GetParameters().SetIntegerValue("Serial0BaudRate", 1000000)
    port.Write(data[:1000])
    for _ in range(200):
        if port.GetBytesReceived() == 1000:
            break
        time.sleep(0.01)
    result, kept, count = port.Read(200, 100)
    out["newest"] = [port.GetBytesReceived(), count, bool(np.array_equal(kept[:count], data[900:1000]))]

    # The device goes.
    device.Disconnect()
    out["lost"] = [port.Write([1, 2, 3])[0].GetCodeString(), port.Read(4, 500)[0].GetCodeString(),
                   port.IsOpened(), port.Close().GetCodeString(), port.Close().GetCodeString()]
    # Opened through the module function on an adapter nobody else keeps: the
    # port keeps it while open.
    import gc, _tarn_receive_313 as receive
    device.Connect(info)
    out["kept"] = [receive.TnDeviceSerialPort_Open(port, rx.TnDeviceAdapter(device), rx.TnDeviceSerial0).GetCodeString()]
    gc.collect()
    result, written = port.Write(data[:64])
    back = []
    while sum(len(part) for part in back) < 64:
        result, chunk, count = port.Read(64, 2000)
        if not result.IsOK():
            break
        back.append(chunk[:count].copy())
    out["kept"] += [written, bool(back) and bool(np.array_equal(np.concatenate(back), data[:64])),
                    port.Close().GetCodeString()]
    # A port still open when the program ends is closed first.
    left_open = rx.TnDeviceSerialPort()
    out["left open"] = left_open.Open(adapter, rx.TnDeviceSerial1).GetCodeString()


if child.NAME == "a_software_device_is_a_far_end":
    import numpy as np
    import tarn_receive_313 as rx
    import tarn_edge_313 as edge
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "edge"))
    import devices, far_ends
    line = far_ends.EchoLine()
    device = devices.started(sink=line)
    client = rx.TnDeviceGEV()
    client.Connect("127.0.0.1")
    adapter = rx.TnDeviceAdapter(client)
    out["supported"] = [rx.TnDeviceSerialPort.IsSupported(adapter, port) for port in range(3)]
    port = rx.TnDeviceSerialPort()
    out["open"] = port.Open(adapter, rx.TnDeviceSerial0).GetCodeString()
    data = (np.arange(3000) % 253).astype(np.uint8)
    result, written = port.Write(data)
    out["write"] = [result.GetCodeString(), written]
    back = bytearray()
    while len(back) < len(data):
        result, chunk, count = port.Read(4096, 2000)
        if not result.IsOK():
            break
        back += chunk[:count].tobytes()
    out["echo"] = [bytes(back) == data.tobytes(), bytes(line.taken) == data.tobytes()]
    # The device stops: a write finds it lost.
    communication = client.GetCommunicationParameters()
    communication.SetIntegerValue("AnswerTimeout", 50)
    communication.SetIntegerValue("CommandRetryCount", 0)
    device.Stop()
    out["lost"] = port.Write(data[:10])[0].GetCodeString()
    port.Close()
