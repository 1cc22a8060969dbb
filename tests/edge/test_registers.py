"""Registers, the register map, the factories and the register event sink
from Python: value access in every form, the forms and messages of the
factories' functions (called where the device hands the factories out), the
map's lock, and the sink's defaults and base calls."""

import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
PRELUDE = f'''
sys.path.insert(0, {str(HERE)!r})
import devices
import tarn_edge_313 as edge, _tarn_edge_313 as module
def outcome(call, *args):
    try:
        value = call(*args)
    except Exception as error:
        return [type(error).__name__, str(error)]
    return value.GetCodeString() if isinstance(value, edge.TnResult) else value
'''


def test_factories_registers_and_map(isolated):
    out = isolated(PRELUDE + '''
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
            outcome(module.ITnRegisterFactory_AddRegister, factory, "TarnFour", 0xB200, 4)[1].split("\\n")[0],
            outcome(module.ITnRegisterFactory_AddRegister, factory, "TarnDict", 0xB200, 4, edge.TnGenAccessModeReadWrite, None, {})[1].split("\\n")[0],
            outcome(factory.AddByteArray, "TarnBytes", 0xB300, 8, edge.TnGenAccessModeReadWrite),
            [outcome(lambda: factory.AddRegisterAuto("TarnAuto2", 4, edge.TnGenAccessModeReadWrite, None)[0]),
             factory.AddRegisterAuto("TarnAuto3", 3, edge.TnGenAccessModeReadWrite, None)[1]],
            outcome(module.ITnRegisterFactory_AddRegisterAuto, factory, "TarnNoSink", 4, edge.TnGenAccessModeReadWrite)[1].split("\\n")[0],
        ]
    def OnCreateCustomGenApiFeatures(self, device, factory):
        super().OnCreateCustomGenApiFeatures(device, factory)
        register = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM)
        out["features"] = [
            outcome(factory.SetCategory, 5), outcome(module.ITnGenApiFactory_SetCategory, factory)[1].split("\\n")[0],
            outcome(module.ITnGenApiFactory_MapChunk, factory, 1, -4, 4)[1].split("\\n")[0], outcome(module.ITnGenApiFactory_MapEvent, factory, 0x9000, 0, 4, 0, 1)[1].split("\\n")[0],
            outcome(module.ITnGenApiFactory_AddEnumEntry, factory, "Entry", 2**32)[1].split("\\n")[0], outcome(factory.SetAccessMode, 2**31),
            outcome(factory.SetPollingTime, -1), outcome(factory.SetTLLocked, 1), outcome(module.ITnGenApiFactory_SetName, factory),
            outcome(module.ITnGenApiFactory_CreateInteger, factory, register, 0)[1].split("\\n")[0], outcome(module.ITnGenApiFactory_CreateInteger, factory, register, 0, 2**63)[1].split("\\n")[0],
            outcome(module.ITnGenApiFactory_CreateBoolean, factory, 5)[1].split("\\n")[0], outcome(module.ITnGenApiFactory_CreateIntSwissKnife, factory),
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
              outcome(registers.Lock), outcome(registers.Lock, 0), outcome(module.ITnRegisterMap_Lock, registers, -1)[1].split("\\n")[0]]
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
                      outcome(text.Write, 7, 4), text.ReadInt(4)[1], outcome(module.ITnRegister_Write, text, b"ab", 2)[1].split("\\n")[0],
                      outcome(module.ITnRegister_Write, integer)[1].split("\\n")[0]]
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
''')
    factory = out["factory"]
    # The access mode reaches the SDK unchanged, which refuses 999.
    assert factory[:3] == ["OK", "GENERIC_ERROR", "GENERIC_ERROR"]
    assert factory[3] == ["TypeError", "Argument 2: failed to create TnString from Python string"]
    overload = "Wrong number or type of arguments for overloaded function 'ITnRegisterFactory_"
    assert factory[4] == overload + "AddRegister'." and factory[5] == overload + "AddRegister'."
    assert factory[6] == "OK" and factory[7] == ["OK", None] and factory[8] == overload + "AddRegisterAuto'."
    features = out["features"]
    assert features[0] == ["TypeError", "Argument 2: failed to create TnString from Python string"]
    overload = "Wrong number or type of arguments for overloaded function 'ITnGenApiFactory_"
    assert features[1:5] == [overload + "SetCategory'.", overload + "MapChunk'.", overload + "MapEvent'.",
                             overload + "AddEnumEntry'."]
    assert features[5] == ["OverflowError", "in method 'ITnGenApiFactory_SetAccessMode', argument 2 of type 'TnGenAccessMode'"]
    assert features[6] == ["OverflowError", "in method 'ITnGenApiFactory_SetPollingTime', argument 2 of type 'uint32_t'"]
    assert features[7] == ["TypeError", "in method 'ITnGenApiFactory_SetTLLocked', argument 2 of type 'bool'"]
    assert features[8] == ["TypeError", "ITnGenApiFactory_SetName expected 2 arguments, got 1"]
    assert features[9:12] == [overload + "CreateInteger'."] * 2 + [overload + "CreateBoolean'."]
    assert features[12] == ["TypeError", "ITnGenApiFactory_CreateIntSwissKnife expected 2 arguments, got 1"]
    assert features[13] == ["TypeError", "Argument 3: failed to create TnString from Python string"]
    assert features[14] == ["TypeError", "Argument 4: failed to create TnString from Python string"]
    assert features[15:] == ["NOT_INITIALIZED", "NOT_INITIALIZED", "INVALID_PARAMETER", "INVALID_PARAMETER", "OK"]
    assert out["map"][0] is True and out["map"][1] is None and out["map"][2][0] == "OverflowError"
    # The lock is not recursive: a second Lock waits for the first Release.
    assert out["map"][3:6] == [None, "OK", "TIMEOUT"]
    assert out["map"][6] == "Wrong number or type of arguments for overloaded function 'ITnRegisterMap_Lock'."
    assert out["context"] == [True, None]
    assert out["info"] == ["TarnIntReg", True, 4, True, True, False]
    string = ["TypeError", "Argument 2: failed to create TnString from Python string"]
    assert out["write forms"][:4] == ["OK", 5, "OK", "abc"]
    assert out["write forms"][4:7] == [string] * 3
    assert out["write forms"][7:9] == ["OK", 7]
    assert out["write forms"][9:] == ["Wrong number or type of arguments for overloaded function 'ITnRegister_Write'."] * 2
    assert out["bytes"][1:4] == ["OK", "uint8", [97, 98, 99, 0, 0, 0, 0, 7]]
    assert out["bytes"][4] == [0]
    assert out["bytes"][5] == ["TypeError", "Int dimension expected.  'float' given."]
    # numpy's words: a str is of "unknown type", "string" names bytes.
    assert out["bytes"][6] == ["TypeError", "Int dimension expected.  'unknown type' given."]
    assert out["bytes"][7:9] == ["INVALID_PARAMETER", True]
    assert out["bytes"][9] == ["TypeError", "Int dimension expected.  'string' given."]
    assert out["floats"][:3] == ["OK", ["OverflowError", "in method 'ITnRegister_WriteFloat', argument 2 of type 'float'"],
                                 "OK"]
    assert out["floats"][3] == ["TypeError", "invalid null reference in method 'ITnRegister_ReadFloat', argument 2 of type "
                                             "'float &'"]
    assert out["floats"][4] == ["TypeError", "ITnRegister_ReadFloat expected 2 arguments, got 1"]
    assert out["sinks"][:3] == ["INVALID_PARAMETER", "OK", "INVALID_PARAMETER"]
    assert out["sinks"][3] == ["TypeError", "in method 'ITnRegister_AddEventSink', argument 2 of type 'ITnRegisterEventSink *'"]
    assert out["failed read"] == ["INVALID_PARAMETER", None]
    assert out["stop"] == "OK" and out["lock stopped"] is None


def test_register_sink_defaults_and_base_calls(ed, edge):
    plain = ed.ITnRegisterEventSink()
    assert plain.PreRead(None).GetCode() == ed.TN_OK and plain.Persist(None, None).GetCode() == ed.TN_NOT_IMPLEMENTED

    class Sink(ed.ITnRegisterEventSink):
        def PreRead(self, register):
            self.reads = getattr(self, "reads", 0) + 1
            return ed.ITnRegisterEventSink.PreRead(self, register)

        def PreWrite(self, register):
            return "x"

        def PostWrite(self, register):
            return 5

    sink = Sink()
    assert edge.ITnRegisterEventSink_PreRead(sink.this, None).GetCode() == ed.TN_OK and sink.reads == 1
    assert edge.ITnRegisterEventSink_Persist(sink, None, None).GetCode() == 1540
    try:
        edge.ITnRegisterEventSink_PreWrite(sink.this, None)
    except TypeError as error:
        assert str(error) == "SWIG director type mismatch in method PreWrite with output value of type 'TnResult'"
    assert edge.ITnRegisterEventSink_PostWrite(sink.this, None) is None
    count = sys.getrefcount(sink)
    edge.disown_ITnRegisterEventSink(sink)
    edge.disown_ITnRegisterEventSink(sink)
    assert sys.getrefcount(sink) == count + 1
    for function, position, kind in [("ITnRegisterEventSink_PreRead", 2, "ITnRegister *"),
                                     ("ITnRegisterEventSink_Persist", 3, "ITnRegisterStore *")]:
        arguments = [sink, None, None][:3 if "Persist" in function else 2]
        arguments[position - 1] = 5
        try:
            getattr(edge, function)(*arguments)
        except TypeError as error:
            assert str(error) == f"in method '{function}', argument {position} of type '{kind}'"


def test_map_and_registers_kept_past_stop_and_the_device(isolated):
    out = isolated(PRELUDE + '''
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
''')
    assert out["running"] == ["OK", "OK"]
    # After Stop: lookups, names and last values answer; the lock, writes
    # and sink changes are refused; no sink runs.
    after = [True, "TarnIntReg", "STATE_ERROR", "TarnIntReg", True, 7, "STATE_ERROR", "STATE_ERROR", "OK"]
    assert out["stopped"] == after + [0]
    assert out["callback"] == "TarnIntReg"
    assert out["restarted"] == ["OK", 5] + after
    assert out["dropped"] == [True] + after and out["gone"]
    for error in out["destroyed"]:
        assert error[0] == "TypeError", out["destroyed"]
