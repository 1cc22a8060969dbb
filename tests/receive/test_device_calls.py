"""Device control without a device: argument handling, value objects,
ownership, the event sink's and updater observer's forwarding, the adapter
and the serial port."""

import pathlib
import subprocess
import sys

import numpy as np
import pytest

from children import child_env


def message(call, *args):
    with pytest.raises(Exception) as raised:
        call(*args)
    return raised.type, str(raised.value)


def test_value_objects_are_freed_and_accepted(rx, receive):
    device = rx.TnDeviceGEV()
    kind, access, device_class = device.GetType(), device.GetAccessType(), device.GetClass()
    assert repr(kind).startswith("<Swig Object of type 'TnDeviceType *' at ")
    assert repr(access).startswith("<Swig Object of type 'TnAccessType *' at ")
    assert repr(device_class).startswith("<Swig Object of type 'TnDeviceClass *' at ")
    assert kind != 0 and not isinstance(access, int)
    # Connect takes the value object as it is; an int or None is no access type.
    result = device.Connect(None, access)
    assert result.GetCode() == rx.TN_INVALID_PARAMETER
    for wrong in (2, None):
        error, text = message(receive.TnDeviceGEV_Connect, device, None, wrong)
        assert error is TypeError and text.startswith("Wrong number or type of arguments for overloaded function "
                                                      "'TnDeviceGEV_Connect'.")
    assert "    TnDeviceGEV::Connect(TnString const &,TnAccessType)\n" in text
    # The static form writes into the object it is given.
    assert rx.TnDeviceGEV.GetAccessType("not an address", access).GetCode() == rx.TN_INVALID_PARAMETER
    assert device.GetAccessType.__doc__


def test_dropped_value_objects_print_nothing_and_free_their_cells(tmp_path):
    child = pathlib.Path(__file__).resolve().with_name("value_objects_child.py")
    done = subprocess.run([sys.executable, str(child)], capture_output=True, text=True, cwd=tmp_path,
                          env=child_env(), timeout=120)
    assert done.returncode == 0, done.stderr
    assert "memory leak" not in done.stdout
    # 900000 lost cells would be tens of megabytes.
    assert int(done.stdout.split()[-1]) < 4 << 20


def test_none_is_no_device(receive):
    for name, args in [("TnDevice_Connect", (None, "x")), ("TnDevice_IsConnected", None),
                       ("TnDeviceGEV_ReadRegister", (None, 0)), ("TnDeviceU3V_GetGUID", None),
                       ("TnDevice_ReadMemory", (None, 0, 4)), ("TnDeviceAdapter_IsConnected", None),
                       ("TnDeviceSerialPort_Close", None), ("TnGenFUUpdater_Start", None)]:
        function = getattr(receive, name)
        error, text = message(function, *args) if isinstance(args, tuple) else message(function, args)
        assert error is TypeError and text.startswith(f"in method '{name}', argument 1 of type"), text
    assert receive.TnDevice_Free(None) is None


def test_free_leaves_devices_python_owns(rx):
    device = rx.TnDeviceGEV()
    assert rx.TnDevice.Free(device) is None
    assert device.IsConnected() is False  # still there, still Python's
    assert rx.TnDevice.CreateAndConnect(None)[1] is None
    result, none = rx.TnDevice.CreateAndConnect(None)
    assert result.GetCode() == rx.TN_INVALID_PARAMETER and none is None


def test_factory_and_connect_messages(receive, rx):
    error, text = message(receive.TnDevice_CreateAndConnect, 5)
    assert text == ("Wrong number or type of arguments for overloaded function 'TnDevice_CreateAndConnect'.\n"
                    "  Possible C/C++ prototypes are:\n"
                    "    TnDevice::CreateAndConnect(TnDeviceInfo const *,TnResult *)\n"
                    "    TnDevice::CreateAndConnect(TnString const &,TnResult *)\n")
    error, text = message(receive.TnDevice_CreateAndConnect, None, None)
    assert text.startswith("TnDevice_CreateAndConnect expected at most 1 arguments, got 2\nAdditional information:")
    device = rx.TnDeviceGEV()
    assert message(receive.TnDevice_Connect, device, 5) == (
        TypeError, "Argument 2: failed to create TnString from Python string")
    assert message(receive.TnDeviceU3V_Connect, rx.TnDeviceU3V(), 5) == (
        TypeError, "Argument 2: failed to create TnString from Python string")
    error, text = message(receive.TnDevice_StreamEnable, device, -1)
    assert "    TnDevice::StreamEnable(uint32_t)\n    TnDevice::StreamEnable()\n" in text
    assert device.StreamEnable().GetCode() == rx.TN_NOT_CONNECTED
    error, text = message(receive.TnDeviceGEV_WriteRegister, device, 0, 1, 0)
    assert text.startswith("Wrong number or type of arguments for overloaded function 'TnDeviceGEV_WriteRegister'.")
    assert message(receive.TnDeviceGEV_ReadRegister, device, 2**63) == (
        OverflowError, "in method 'TnDeviceGEV_ReadRegister', argument 2 of type 'int64_t'")
    error, text = message(receive.TnDeviceGEV_SetIPConfiguration, 5, "1.2.3.4")
    assert text.startswith("Wrong number or type of arguments for overloaded function 'TnDeviceGEV_SetIPConfiguration'")
    assert message(receive.TnDeviceGEV_SetIPConfiguration, "00:01:02:03:04:05", 5) == (
        TypeError, "Argument 2: failed to create TnString from Python string")
    assert message(receive.TnDevice_SetHeartbeatThreadPriority, device, -1) == (
        OverflowError, "in method 'TnDevice_SetHeartbeatThreadPriority', argument 2 of type 'uint32_t'")
    assert message(receive.TnDevice_RegisterEventSink, device, 5) == (
        TypeError, "in method 'TnDevice_RegisterEventSink', argument 2 of type 'TnDeviceEventSink *'")


def test_unconnected_results_and_shapes(rx):
    device = rx.TnDeviceGEV()
    result, value = device.ReadRegister(0)
    assert result.GetCode() == rx.TN_NOT_CONNECTED and value is None
    assert isinstance(device.GetUniqueID(), tuple) and device.GetUniqueID()[1] is None
    assert device.GetDefaultGenICamXMLFilename()[1] is None
    result, data = device.ReadMemory(0, 4)
    assert result.GetCode() == rx.TN_NOT_CONNECTED and data.shape == (4,) and data.dtype == np.uint8
    assert device.WriteMemory(0, [1, 2, 3, 4]).GetCode() == rx.TN_NOT_CONNECTED
    assert device.GetParameters() is None
    settings = device.GetCommunicationParameters()
    assert settings.GetIntegerValue("AnswerTimeout")[1] > 0
    assert device.GetPayloadSize() == 0 and device.GetIPAddress() == "" and device.GetMACAddress() == ""
    assert device.WaitForMessagingChannelIdle(10).IsOK()
    assert device.SetInterruptQueueThreadPriority(7).IsOK() and device.GetInterruptQueueThreadPriority() == 7
    assert rx.TnDeviceU3V().GetGUID() == ""
    assert device.Disconnect().GetCode() != rx.TN_OK


def test_memory_counts_and_data(rx, receive):
    device = rx.TnDeviceGEV()
    assert message(receive.TnDevice_ReadMemory, device, 0, 2.5) == (
        TypeError, "Int dimension expected.  'float' given.")
    assert message(receive.TnDevice_ReadMemory, device, 0, None)[1] == "Int dimension expected.  'Python None' given."
    assert message(receive.TnDevice_ReadMemory, device, 0, "4")[1] == "Int dimension expected.  'unknown type' given."
    assert message(receive.TnDevice_ReadMemory, device, 0, b"4")[1] == "Int dimension expected.  'string' given."
    for count in (-1, 2**31, 2**64):
        assert message(receive.TnDevice_ReadMemory, device, 0, count)[0] is OverflowError
    assert receive.TnDevice_ReadMemory(device, 0, True)[1].shape == (1,)
    assert message(receive.TnDevice_WriteMemory, device, 0, np.zeros((2, 2), np.uint8)) == (
        TypeError, "Array must have 1 dimensions.  Given array has 2 dimensions")
    assert message(receive.TnDevice_ReadMemory, device, 2**63, 4) == (
        OverflowError, "in method 'TnDevice_ReadMemory', argument 2 of type 'int64_t'")


def make_sink(rx, calls):
    class Sink(rx.TnDeviceEventSink):
        def OnEvent(self, device, event, channel, block, timestamp, data):
            calls.append(("OnEvent", event, channel, block, timestamp, bytes(data)))
            # The base's own implementation, once: no recursion.
            rx.TnDeviceEventSink.OnEvent(self, device, event, channel, block, timestamp, data)

        def OnCmdLinkRead(self, pair):
            calls.append(("OnCmdLinkRead", bytes(pair[0]), pair[1]))

    return Sink()


def test_disowned_sinks_live_with_their_forwarding_objects(rx, receive):
    import gc
    import weakref

    calls = []
    sink = make_sink(rx, calls)
    alive = weakref.ref(sink)
    receive.disown_TnDeviceEventSink(sink)
    receive.disown_TnDeviceEventSink(sink)  # a second time: nothing more
    forwarding = sink.this
    del sink
    gc.collect()
    assert alive() is not None
    receive.TnDeviceEventSink_OnEvent(forwarding, None, 1, 2, 3, 4, [9])
    assert calls == [("OnEvent", 1, 2, 3, 4, b"\x09")]
    receive.delete_TnDeviceEventSink(alive())
    gc.collect()
    assert alive() is None


def test_event_sink_upcalls(rx, receive):
    calls = []
    sink = make_sink(rx, calls)
    sink.OnEvent(None, 0x9001, 0xFFFF, 2**64 - 1, 5, [1, 2, 3])
    sink.OnCmdLinkRead((np.arange(4, dtype=np.uint8), -8))
    assert calls == [("OnEvent", 0x9001, 0xFFFF, 2**64 - 1, 5, b"\x01\x02\x03"),
                     ("OnCmdLinkRead", b"\x00\x01\x02\x03", -8)]
    plain = rx.TnDeviceEventSink()
    assert plain.OnCmdLinkWrite(([5, 6], 3)) is None and receive.disown_TnDeviceEventSink(plain) is None
    name = "TnDeviceEventSink_OnCmdLinkRead"
    function = receive.TnDeviceEventSink_OnCmdLinkRead
    assert message(function, plain, [[1], 2]) == (TypeError, f"Error: {name} requires tuple argument")
    assert message(function, plain, ([1],)) == (
        TypeError, f"Error: {name} requires a tuple with two elements as an argument")
    assert message(function, plain, ([1], "2")) == (
        TypeError, f"Error: {name} requires an integer as the second tuple element")
    assert message(function, plain, (object(), 2)) == (
        TypeError, f"Error: {name} requires a numpy array as the first tuple element")
    assert message(function, 5, ([1], 2)) == (TypeError, f"in method '{name}', argument 1 of type "
                                                         "'TnDeviceEventSink *'")
    assert message(receive.TnDeviceEventSink_OnEvent, plain, None, 65536, 0, 0, 0, []) == (
        OverflowError, "in method 'TnDeviceEventSink_OnEvent', argument 3 of type 'uint16_t'")
    assert message(receive.TnDeviceEventSink_OnEvent, plain, None, 1, 0, 0, 0, np.zeros((2, 2), np.uint8)) == (
        TypeError, "Array must have 1 dimensions.  Given array has 2 dimensions")
    assert message(receive.TnDeviceEventSink_OnEvent, plain, None, 1, 0, -1, 0, [])[0] is OverflowError


def test_observer_forwarding(rx, capsys):
    with pytest.raises(RuntimeError, match="accessing abstract class or protected constructor"):
        rx.IUpdaterObserver()

    class Observer(rx.IUpdaterObserver):
        def __init__(self, fail):
            super().__init__()
            self.fail = fail
            self.calls = []

        def UpdateProgressLabel(self, text):
            self.calls.append(text)

        def UpdateProgressValue(self, percent):
            self.calls.append(percent)
            if self.fail:
                raise ValueError("x")

    observers = [Observer(False), Observer(True)]
    updater = rx.TnGenFUUpdater("/nonexistent", "update.bin", None, "", False)
    for observer in observers:
        updater.Attach(observer)
    updater.Start()
    for _ in range(500):
        if updater.IsDone():
            break
        import time
        time.sleep(0.01)
    assert updater.IsDone() and updater.GetResult().GetCode() == rx.TN_INVALID_PARAMETER
    for observer in observers:
        updater.Detach(observer)
        assert observer.calls == ["Checking the update file", 0, "Update failed", 100]
    assert capsys.readouterr().out.count("In method 'UpdateProgressValue': ValueErrorx\n") == 2
    with pytest.raises(RuntimeError, match="SWIG director pure virtual method called "
                                           "IUpdaterObserver::UpdateProgressLabel"):
        rx.IUpdaterObserver.UpdateProgressLabel(observers[0], "text")


def test_updater_arguments(receive, rx):
    error, text = message(receive.new_TnGenFUUpdater, "a", "b", None, "c")
    assert text == "new_TnGenFUUpdater expected 5 arguments, got 4"
    assert message(receive.new_TnGenFUUpdater, rx.TnString("a"), "b", None, "", False) == (
        TypeError, "in method 'new_TnGenFUUpdater', argument 1 of type 'char const *'")
    assert message(receive.new_TnGenFUUpdater, "a", "b", None, "", 1) == (
        TypeError, "in method 'new_TnGenFUUpdater', argument 5 of type 'bool'")


def test_adapter(rx, receive):
    device = rx.TnDeviceGEV()
    adapter = rx.TnDeviceAdapter(device)
    result, value = adapter.ReadRegister(0)
    assert result.GetCode() != rx.TN_OK and value is None
    assert isinstance(adapter.GetUniqueID(), tuple)
    assert receive.ITnDeviceAdapter_IsConnected(adapter) is False
    assert adapter.IsGenIntegerInNodeMap("Width") is False
    assert adapter.GetGenStringValue("DeviceID", rx.TnString()).GetCode() == rx.TN_NOT_FOUND
    assert message(receive.TnDeviceAdapter_GetGenStringValue, adapter, "DeviceID", None) == (
        TypeError, "invalid null reference in method 'TnDeviceAdapter_GetGenStringValue', argument 3 of type "
                   "'TnString &'")
    assert message(receive.TnDeviceAdapter_ReadMemory, adapter, np.zeros(4, np.uint8), 0, 4) == (
        TypeError, "in method 'TnDeviceAdapter_ReadMemory', argument 2 of type 'uint8_t *'")
    assert message(receive.TnDeviceAdapter_WaitForMessagingChannelIdle, adapter, -1)[0] is OverflowError
    assert message(receive.TnDeviceAdapter_SetGenBooleanValue, adapter, "ReverseX", 1) == (
        TypeError, "in method 'TnDeviceAdapter_SetGenBooleanValue', argument 3 of type 'bool'")
    assert adapter.ReadMemory(None, 0, 4).GetCode() == rx.TN_NOT_CONNECTED
    # It is a device event sink (registered already) and a parameter update sink.
    assert device.RegisterEventSink(adapter).GetCode() == rx.TN_INVALID_PARAMETER
    # An adapter outlives its device as a disconnected one.
    del device
    assert adapter.IsConnected() is False and adapter.GetUniqueID()[0].GetCode() == rx.TN_NOT_CONNECTED
    del adapter


def test_serial_port(rx, receive):
    port = rx.TnDeviceSerialPort()
    result, written = port.Write([1, 2, 3])
    assert result.GetCode() == rx.TN_NOT_CONNECTED and written == 0
    result, data, read = port.Read(16, 100)
    assert data.shape == (16,) and read == 0
    assert message(receive.TnDeviceSerialPort_Read, port, 16.0, 1) == (
        TypeError, "Int dimension expected.  'float' given.")
    assert message(receive.TnDeviceSerialPort_Read, port, -1, 1)[0] is OverflowError
    assert message(receive.TnDeviceSerialPort_Read, port, 16) == (
        TypeError, "TnDeviceSerialPort_Read expected 3 arguments, got 2")
    assert message(receive.TnDeviceSerialPort_Read, port, 16, -1) == (
        OverflowError, "in method 'TnDeviceSerialPort_Read', argument 5 of type 'uint32_t'")
    assert message(receive.TnDeviceSerialPort_Write, port, np.zeros((2, 2), np.uint8))[0] is TypeError
    adapter = rx.TnDeviceAdapter(rx.TnDeviceGEV())
    assert port.Open(adapter, 10).GetCode() != rx.TN_OK
    assert message(receive.TnDeviceSerialPort_Open, port, adapter, 2**31) == (
        OverflowError, "in method 'TnDeviceSerialPort_Open', argument 3 of type 'TnDeviceSerial'")
    assert rx.TnDeviceSerialPort.RegisterEchoSink(None).GetCode() == rx.TN_INVALID_PARAMETER
    assert rx.TnDeviceSerialPort.IsSupported(adapter, rx.TnDeviceSerial0) is False
    assert port.GetWriteProgress()[0].GetCode() == rx.TN_STATE_ERROR
    assert port.SetRxBufferSize(64).IsOK() and port.GetRxBufferSize() == [port.GetRxBufferSize()[0], 64]


def test_sinks_dropped_while_registered(rx):
    import gc

    device = rx.TnDeviceGEV()
    sink = make_sink(rx, [])
    assert device.RegisterEventSink(sink).IsOK()
    adapter = rx.TnDeviceAdapter(device)
    del sink
    gc.collect()
    # The device let go of the sink as it went; destroying the device now
    # tells its adapter, and nothing else.
    del device
    gc.collect()
    assert adapter.IsConnected() is False


def test_observers_dropped_while_attached(rx):
    import gc
    import time

    class Observer(rx.IUpdaterObserver):
        def UpdateProgressLabel(self, text):
            pass

        def UpdateProgressValue(self, value):
            pass

    updater = rx.TnGenFUUpdater("/nonexistent", "update.bin", None, "", False)
    observer = Observer()
    updater.Attach(observer)
    del observer
    gc.collect()
    updater.Start()  # the updater no longer knows the observer
    for _ in range(500):
        if updater.IsDone():
            break
        time.sleep(0.01)
    assert updater.GetResult().GetCode() == rx.TN_INVALID_PARAMETER


def test_byte_arguments_name_what_they_take(rx, receive):
    takes = "takes bytes, bytearray, memoryview or a uint8 array, not "
    device, port = rx.TnDeviceGEV(), rx.TnDeviceSerialPort()
    features = rx.TnGenParameterArray()
    calls = [(lambda data: device.WriteMemory(0xE8, data), "in method 'TnDevice_WriteMemory', argument 3 "),
             (lambda data: port.Write(data), "in method 'TnDeviceSerialPort_Write', argument 2 ")]
    for call, where in calls:
        for wrong, kind in [("tarn", "str"), (None, "NoneType"), (5, "int"), (1.5, "float"), (["a"], "list")]:
            assert message(call, wrong) == (TypeError, where + takes + kind)
        # What they take answers (the device is not connected).
        for data in (b"tarn", bytearray(b"tarn"), memoryview(b"tarn"), np.zeros(4, np.uint8), [1, 2, 3, 4]):
            assert call(data) is not None
        assert message(call, [300])[0] is OverflowError
    assert message(features.AttachDataChunks, "chunks") == (
        TypeError, "in method 'TnGenParameterArray_AttachDataChunks', argument 2 " + takes + "str")
