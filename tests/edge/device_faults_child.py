"""Child programs of test_device_faults.py. The isolated fixture runs each in a
network namespace of its own: device_faults_child.py NAME."""

import sys
import time

import child
from child import failure, out

import tarn_base_313 as tarn

import devices
import tarn_edge_313 as edge
import _tarn_edge_313 as module


if child.NAME == "raising_overrides_during_start_stop_and_destruction":
    class Sink(devices.DeviceSink):
        def OnCreateCustomRegisters(self, device, factory):
            raise ValueError("no registers")
        def OnControlChannelStop(self, device):
            raise KeyError("stop")

    class Source(devices.PatternSource):
        def CreateGenApiFeatures(self, registers, factory):
            raise RuntimeError("no features")
        def FreeBuffer(self, buffer):
            self.freed = getattr(self, "freed", 0) + 1
            super().FreeBuffer(buffer)
            raise ValueError("freed")

    source = Source()
    device = devices.started(source, Sink())
    # The start went through: nothing is pending, and the device serves.
    out["pending"] = sys.exc_info()[0] is None
    out["serves"] = device.GetInfo().GetModelName()
    out["stop"] = device.Stop().GetCodeString()
    out["freed"] = source.freed
    out["restart"] = device.Start(devices.LOOPBACK_MAC).GetCodeString()
    # Destroyed while running: the destructor stops the device, and what the
    # callbacks raise then is written, neither raised nor left pending.
    out["destroyed"] = [failure(module.delete_TnSoftDeviceGEV, device), sys.exc_info()[0] is None, source.freed]
    del device
    out["after"] = "alive"


if child.NAME == "proxies_handed_to_callbacks":
    kept = {}
    class Sink(devices.DeviceSink):
        def OnCreateCustomRegisters(self, device, factory):
            super().OnCreateCustomRegisters(device, factory)
            # Deleting what the device owns destroys nothing.
            for delete, proxy in ((module.delete_ITnVirtualDeviceGEV, device), (module.delete_ITnRegisterFactory, factory)):
                delete(proxy)
            kept["device"], kept["factory"] = device, factory
            kept["factory works"] = factory.AddRegister("TarnLate", devices.CUSTOM + 0x100, 4,
                                                        edge.TnGenAccessModeReadWrite).GetCodeString()
        def OnCreateCustomGenApiFeatures(self, device, factory):
            super().OnCreateCustomGenApiFeatures(device, factory)
            registers = device.GetRegisterMap()
            register = registers.GetRegisterByAddress(devices.CUSTOM)
            module.delete_ITnGenApiFactory(factory)
            module.delete_ITnRegisterMap(registers)
            module.delete_ITnRegister(register)
            kept["feature factory"] = factory
            factory.SetName("TarnLate")
            kept["features work"] = factory.CreateInteger(registers.GetRegisterByAddress(devices.CUSTOM + 0x100)).GetCodeString()

    class Persisting(devices.LimitSink):
        def PreWrite(self, register):
            kept["register"] = register
            return edge.TN_OK
        def Persist(self, register, store):
            kept["store"] = store
            return store.Persist(register, "")

    class Source(devices.PatternSource):
        def OnOpen(self, address, port):
            kept["address"] = address

    sink = Sink(features=True)
    sink.limit = Persisting()
    device = devices.started(Source(), sink, user_sets=1)
    out["running"] = [device.GetRegisterMap().GetRegisterCount() > 0, kept["factory works"], kept["features work"]]
    child.arv_tool("-a", "127.0.0.1", "control", "TarnInt=3", "UserSetSelector=UserSet1", "UserSetSave")
    # Kept past their call, the factories, register, store and string refuse
    # every use; the device proxy stays usable while the device lives.
    out["kept"] = {name: failure(call) for name, call in [
        ("factory", lambda: kept["factory"].AddRegister("X", 0xB000, 4, edge.TnGenAccessModeReadWrite)),
        ("feature factory", lambda: kept["feature factory"].SetName("X")),
        ("register", lambda: kept["register"].ReadInt()),
        ("store", lambda: kept["store"].Persist(None, "")),
    ]}
    out["device proxy"] = [kept["device"].GetInfo().GetModelName(), failure(module.delete_ITnVirtualDeviceGEV, kept["device"])]
    device.Stop()
    del device
    out["destroyed"] = failure(kept["device"].GetInfo)


if child.NAME == "raising_register_sinks_fail_the_access_and_the_device_runs_on":
    class Raising(devices.LimitSink):
        def PreWrite(self, register):
            value = register.ReadInt()[1]
            if value == 13:
                raise ValueError("unlucky")
            return super().PreWrite(register)
        def PreRead(self, register):
            if self.refuse_reads:
                return edge.TN_STATE_ERROR
            return edge.TnResult()
        refuse_reads = False

    # Overrides that raise on the device's own threads: a controller's connect
    # and disconnect, and the user-set notification.
    class Connections(devices.DeviceSink):
        def OnApplicationConnect(self, device, address, port, access):
            raise ValueError("connect")
        def OnApplicationDisconnect(self, device):
            raise ValueError("disconnect")

    class Notify(edge.ITnUserSetNotify):
        def UserSetStateNotify(self, state, index):
            raise ValueError("user set")

    sink = Connections(features=True)
    sink.limit = Raising()
    notify = Notify()
    device = edge.TnSoftDeviceGEV()
    device.SetUserSetCount(1)
    device.SetUserSetNotify(notify)
    device.RegisterEventSink(sink)
    device.AddStream(devices.PatternSource())
    out["start"] = device.Start(devices.LOOPBACK_MAC).GetCodeString()
    register = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM)
    out["python"] = [register.Write(13).GetCodeString(), sys.exc_info()[0] is None, register.ReadInt()[1],
                     register.Write(12).GetCodeString(), register.ReadInt()[1]]
    out["tool"] = [child.arv_tool("-a", "127.0.0.1", "control", f"TarnInt={value}").stdout.strip() for value in (13, 14)]
    child.arv_tool("-a", "127.0.0.1", "control", "UserSetSelector=UserSet1", "UserSetSave")
    out["after user set"] = child.arv_tool("-a", "127.0.0.1", "control", "TarnInt").stdout.strip()
    sink.limit.refuse_reads = True
    out["refused read"] = [register.ReadInt()[0].GetCodeString(), register.ReadInt()[1]]
    out["stop"] = device.Stop().GetCodeString()


if child.NAME == "a_device_running_at_the_interpreters_exit":
    source = devices.PatternSource()
    device = devices.started(source, devices.DeviceSink())
    del source
    out["started"] = True


if child.NAME == "a_device_streaming_into_the_receive_module_at_the_interpreters_exit":
    import tarn_receive_313 as rx

    def work(count):
        total = 0
        for i in range(count):
            total += i
        return total

    class Source(devices.PatternSource):
        def RetrieveBuffer(self, location):
            work(3000)
            return super().RetrieveBuffer(location)

    class Sink(rx.TnPipelineEventSink):
        calls = 0
        def OnBufferReady(self, pipeline):
            self.calls += 1
            result, buffer, operation = pipeline.RetrieveNextBuffer(0)
            work(3000)
            if result.IsOK():
                pipeline.ReleaseBuffer(buffer)

    device = devices.started(Source(64, 48), devices.DeviceSink())
    device.GetInfo().SetSerialNumber("TARN0002")
    system = tarn.TnSystem()
    system.SetDetectionTimeout(500)
    found, info = system.FindDevice("TARN0002")
    client = rx.TnDeviceGEV()
    assert client.Connect(info).IsOK()
    features = client.GetParameters()
    stream = rx.TnStreamGEV()
    assert stream.Open(info, 0).IsOK()
    sink = Sink()
    pipeline = rx.TnPipeline(stream)
    pipeline.SetBufferSize(features.GetIntegerValue("PayloadSize")[1])
    assert pipeline.RegisterEventSink(sink).IsOK()
    assert pipeline.Start().IsOK()
    assert client.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort()).IsOK()
    assert features.Get("AcquisitionStart").Execute().IsOK()
    while sink.calls < 3:
        time.sleep(0.01)
    out["streamed"] = True


if child.NAME == "unusable_answers_are_reported":
    import tarn_receive_313  # noqa: F401  (the receive side of devices.connect)

    # What the source's RetrieveBuffer answers, one call each, before frames.
    answers = ["oops", None, 1.5, (edge.TN_OK, "x"), edge.TN_OK, (edge.TN_OK, tarn.TnBuffer())]

    class Source(devices.PatternSource):
        def RetrieveBuffer(self, location):
            return answers.pop(0) if answers else super().RetrieveBuffer(location)

    sink = devices.DeviceSink(features=True)
    sink.limit = type("Sink", (devices.LimitSink,), {"PreWrite": lambda self, register: None})()
    device = devices.started(Source(), sink)
    system, info, client, features, stream, buffers = devices.connect()
    out["write"] = features.SetIntegerValue("TarnInt", 5).GetCodeString()
    assert client.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort()).IsOK()
    assert features.Get("AcquisitionStart").Execute().IsOK()
    out["frame"] = [stream.RetrieveBuffer(5000)[0].GetCodeString(), len(answers)]
    features.Get("AcquisitionStop").Execute()
