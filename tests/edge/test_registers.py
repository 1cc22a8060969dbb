"""Registers, the register map, the factories and the register event sink
from Python: value access in every form, the forms and messages of the
factories' functions (called where the device hands the factories out), the
map's lock, and the sink's defaults and base calls."""

import pathlib
import sys

CHILD = pathlib.Path(__file__).resolve().with_name("registers_child.py")


def test_factories_registers_and_map(isolated):
    out = isolated(CHILD, "factories_registers_and_map")
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
    string = "Argument 2: failed to create TnString from Python string"
    assert out["write forms"][:4] == ["OK", 5, "OK", "abc"]
    assert out["write forms"][4:7] == [["TypeError", string]] * 3
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
    out = isolated(CHILD, "map_and_registers_kept_past_stop_and_the_device")
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
