"""Child programs of test_registers.py. The isolated fixture runs each in a
network namespace of its own: registers_child.py NAME."""

import child
from child import out

import devices
import tarn_edge_313 as edge
import _tarn_edge_313 as module


def outcome(call, *args):
    try:
        value = call(*args)
    except Exception as error:
        return [type(error).__name__, str(error)]
    return value.GetCodeString() if isinstance(value, edge.TnResult) else value


if child.NAME == "factories_registers_and_map":
    import numpy as np
    class Sink(devices.DeviceSink):
        def OnCreateCustomRegisters(self, device, factory):
            super().OnCreateCustomRegisters(device, factory)
            context = edge.TnString("context")
            self.context = context
            out["factory"] = [
                outcome(factory.AddRegister, "TarnContext", 0xB000, 4, edge.TnGenAccessModeReadWrite, None, context),
                outcome(factory.AddRegister, "TarnOdd", 0xB100, 4, 999),
                outcome(factory.AddRegister, "TarnSame", 0xB000, 4, edge.TnGenAccessModeReadWrite),
                outcome(factory.AddRegister, 5, 0xB200, 4, edge.TnGenAccessModeReadWrite),
                outcome(module.ITnRegisterFactory_AddRegister, factory, "TarnFour", 0xB200, 4)[1].split("\n")[0],
                outcome(module.ITnRegisterFactory_AddRegister, factory, "TarnDict", 0xB200, 4, edge.TnGenAccessModeReadWrite, None, {})[1].split("\n")[0],
                outcome(factory.AddByteArray, "TarnBytes", 0xB300, 8, edge.TnGenAccessModeReadWrite),
                [outcome(lambda: factory.AddRegisterAuto("TarnAuto2", 4, edge.TnGenAccessModeReadWrite, None)[0]),
                 factory.AddRegisterAuto("TarnAuto3", 3, edge.TnGenAccessModeReadWrite, None)[1]],
                outcome(module.ITnRegisterFactory_AddRegisterAuto, factory, "TarnNoSink", 4, edge.TnGenAccessModeReadWrite)[1].split("\n")[0],
            ]
        def OnCreateCustomGenApiFeatures(self, device, factory):
            super().OnCreateCustomGenApiFeatures(device, factory)
            register = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM)
            out["features"] = [
                outcome(factory.SetCategory, 5), outcome(module.ITnGenApiFactory_SetCategory, factory)[1].split("\n")[0],
                outcome(module.ITnGenApiFactory_MapChunk, factory, 1, -4, 4)[1].split("\n")[0], outcome(module.ITnGenApiFactory_MapEvent, factory, 0x9000, 0, 4, 0, 1)[1].split("\n")[0],
                outcome(module.ITnGenApiFactory_AddEnumEntry, factory, "Entry", 2**32)[1].split("\n")[0], outcome(factory.SetAccessMode, 2**31),
                outcome(factory.SetPollingTime, -1), outcome(factory.SetTLLocked, 1), outcome(module.ITnGenApiFactory_SetName, factory),
                outcome(module.ITnGenApiFactory_CreateInteger, factory, register, 0)[1].split("\n")[0], outcome(module.ITnGenApiFactory_CreateInteger, factory, register, 0, 2**63)[1].split("\n")[0],
                outcome(module.ITnGenApiFactory_CreateBoolean, factory, 5)[1].split("\n")[0], outcome(module.ITnGenApiFactory_CreateIntSwissKnife, factory),
                outcome(factory.AddSelectedTo, "PixelFormat", 7), outcome(factory.SetPIsAvailableForEnumEntry, "A", "B", 4),
                outcome(factory.CreateInteger), outcome(factory.CreateEnum, None),
            ]
            factory.SetName("TarnBytesFeature")
            out["features"].append(outcome(factory.CreateIntSwissKnife, ""))
            factory.SetName("TarnFloatRange")
            out["features"].append(outcome(factory.CreateFloat, register, 10, 0.5))
            factory.SetName("TarnSelected")
            factory.SetCategory("TarnControl", "Tarn's own")
            factory.AddInvalidator("TarnInt")
            out["features"].append(outcome(factory.CreateInteger, device.GetRegisterMap().GetRegisterByAddress(0xB000)))

    sink = Sink(features=True)
    device = devices.started(devices.PatternSource(), sink)
    registers = device.GetRegisterMap()
    out["map"] = [registers.GetRegisterCount() > 20, registers.GetRegisterByIndex(registers.GetRegisterCount()),
                  outcome(registers.GetRegisterByIndex, -1), registers.GetRegisterByAddress(0xB180),
                  outcome(registers.Lock), outcome(registers.Lock, 0), outcome(module.ITnRegisterMap_Lock, registers, -1)[1].split("\n")[0]]
    registers.Release()
    registers.Release()
    context = registers.GetRegisterByAddress(0xB000)
    out["context"] = [repr(context.GetContext()).startswith("<Swig Object of type 'void *'"),
                      registers.GetRegisterByAddress(devices.CUSTOM).GetContext()]
    integer = registers.GetRegisterByAddress(devices.CUSTOM)
    out["info"] = [integer.GetName(), integer.GetAddress() == devices.CUSTOM, integer.GetLength(), integer.IsWritable(),
                   integer.IsReadable(), integer.IsArrayOfBytes()]
    text = registers.GetRegisterByAddress(devices.CUSTOM + 8)
    out["write forms"] = [outcome(integer.Write, 5), integer.ReadInt()[1], outcome(text.Write, "abc"), text.ReadString()[1],
                          outcome(integer.Write, -1), outcome(integer.Write, 1.5), outcome(integer.Write, b"x"),
                          outcome(text.Write, 7, 4), text.ReadInt(4)[1], outcome(module.ITnRegister_Write, text, b"ab", 2)[1].split("\n")[0],
                          outcome(module.ITnRegister_Write, integer)[1].split("\n")[0]]
    result, data = text.ReadBytes(8)
    out["bytes"] = [type(out).__name__, result.GetCodeString(), data.dtype.name, data.tolist(),
                    text.ReadBytes(0)[1].shape, outcome(text.ReadBytes, 4.0), outcome(text.ReadBytes, "4"),
                    integer.ReadBytes(8, 0)[0].GetCodeString(), isinstance(integer.ReadBytes(4), list),
                    outcome(text.ReadBytes, b"4")]
    floating = registers.GetRegisterByAddress(devices.CUSTOM + 4)
    out["floats"] = [outcome(floating.WriteFloat, 2.5), outcome(floating.WriteFloat, 1e39), outcome(floating.WriteDouble, 1e39),
                     outcome(floating.ReadFloat, None), outcome(module.ITnRegister_ReadFloat, floating)]
    out["sinks"] = [outcome(integer.AddEventSink, None), outcome(integer.RemoveEventSink, sink.limit),
                    outcome(integer.RemoveEventSink, sink.limit), outcome(integer.AddEventSink, 5)]
    out["failed read"] = integer.ReadInt(8)[0].GetCodeString(), integer.ReadInt(8)[1]
    out["stop"] = device.Stop().GetCodeString()
    out["lock stopped"] = device.GetRegisterMap()


if child.NAME == "map_and_registers_kept_past_stop_and_the_device":
    import gc, weakref
    kept = {}
    class Sink(devices.DeviceSink):
        def OnCreateCustomGenApiFeatures(self, device, factory):
            super().OnCreateCustomGenApiFeatures(device, factory)
            kept["from callback"] = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM)

    def uses(registers, register):
        return [outcome(registers.GetRegisterCount) > 0, outcome(lambda: registers.GetRegisterByAddress(devices.CUSTOM).GetName()),
                outcome(registers.Lock, 0), outcome(register.GetName), outcome(register.GetAddress) == devices.CUSTOM,
                outcome(lambda: list(register.ReadInt())[1]), outcome(register.Write, 9),
                outcome(register.AddEventSink, devices.LimitSink()), outcome(lambda: register.ReadBytes(4)[0])]

    sink = Sink(features=True)
    device = devices.started(devices.PatternSource(64, 48), sink)
    registers = device.GetRegisterMap()
    register = registers.GetRegisterByIndex([registers.GetRegisterByIndex(i).GetAddress() for i in range(registers.GetRegisterCount())].index(devices.CUSTOM))
    out["running"] = [outcome(register.Write, 7), outcome(registers.Lock, 0)]
    registers.Release()
    writes = len(sink.limit.writes)
    device.Stop()
    out["stopped"] = uses(registers, register) + [len(sink.limit.writes) - writes]
    out["callback"] = outcome(kept["from callback"].GetName)
    device.Start(devices.LOOPBACK_MAC)
    fresh = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM)
    out["restarted"] = [outcome(fresh.Write, 5), outcome(lambda: list(fresh.ReadInt())[1])] + uses(registers, register)
    # Dropped while its map and registers live, the device lives on under them,
    # and goes once they are gone.
    alive = weakref.ref(device)
    del device, fresh
    gc.collect()
    out["dropped"] = [alive() is not None] + uses(registers, register)
    del registers, register
    kept.clear()
    gc.collect()
    out["gone"] = alive() is None

    # Destroyed explicitly under them: every call through them is refused.
    device = devices.started(devices.PatternSource(64, 48), Sink(features=True))
    registers = device.GetRegisterMap()
    register = registers.GetRegisterByAddress(devices.CUSTOM)
    device.Stop()
    old = register
    device.Start(devices.LOOPBACK_MAC)
    register = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM)
    module.delete_TnSoftDeviceGEV(device)
    out["destroyed"] = [outcome(registers.GetRegisterCount), outcome(register.ReadInt), outcome(old.GetName),
                        outcome(kept["from callback"].Write, 3), outcome(device.GetRegisterMap)]
