"""Parameters: the common base, typed parameters, entries, lists, the state
stack and update sinks."""

import pytest

from conftest import MONO8, MONO16, be32, bef


def test_base_functions_on_typed_parameters(tarn, base, array):
    width = array.Get("Width")
    assert width.GetName() == [width.GetName()[0], "Width"]
    assert width.GetDisplayName()[1] == "Width"
    assert width.GetToolTip()[1] == "Width of the image."
    assert width.GetDescription()[1].startswith("Width of the image provided")
    assert width.GetType()[1] == tarn.TnGenTypeInteger
    assert width.GetNameSpace()[1] == tarn.TnGenNameSpaceStandard
    assert width.GetVisibility()[1] == tarn.TnGenVisibilityBeginner
    assert width.ToString()[1] == "640"
    assert width.FromString("320").IsOK() and width.ToString()[1] == "320"
    for predicate in ("IsImplemented", "IsAvailable", "IsReadable", "IsWritable"):
        assert getattr(width, predicate)()[1] is True
    assert array.Get("DeviceTemperature").IsWritable()[1] is False
    assert width.IsVisible(tarn.TnGenVisibilityGuru)[1] is True
    assert width.IsVisible(7)[0] is not None  # any level reaches the SDK
    assert array.Get("PixelFormat").GetType()[1] == tarn.TnGenTypeEnum
    assert array.Get("LUTValues").GetNameSpace()[1] == tarn.TnGenNameSpaceCustom
    assert base.TnGenParameter_GetName(array.Get("ExposureTime"))[1] == "ExposureTime"


def test_base_argument_checks(tarn, base, array):
    width = array.Get("Width")
    entry = array.Get("PixelFormat").GetEntryByIndex(0)[1]
    with pytest.raises(TypeError) as error:
        base.TnGenParameter_GetName(entry)
    assert str(error.value) == "in method 'TnGenParameter_GetName', argument 1 of type 'TnGenParameter const *'"
    with pytest.raises(OverflowError, match="argument 2 of type 'TnGenVisibility'"):
        width.IsVisible(2 ** 31)
    with pytest.raises(TypeError, match="argument 2 of type 'TnGenVisibility'"):
        width.IsVisible("Guru")
    with pytest.raises(TypeError, match="argument 2 of type 'bool'"):
        width.SetUpdatesEnabled(1)
    assert width.SetUpdatesEnabled(False) is None and width.GetUpdatesEnabled() is False
    with pytest.raises(TypeError, match="Argument 2: failed to create TnString"):
        width.FromString(5)
    with pytest.raises(TypeError, match="argument 1 of type 'TnGenParameter const \\*'"):
        base.TnGenParameter_GetName(None)
    assert repr(width.GetNode()).startswith("<Swig Object of type 'TN_GENAPI_NS::INode *' at")


def test_results_stay_what_they_were_whatever_the_calls_after(tarn, base, array):
    """A call's result is the caller's own: one still held keeps its value,
    and so does one given an attribute or a weak reference, or whose pointer
    object is held, when dropped; one dropped comes back whole."""
    import weakref

    width = array.Get("Width")
    kept = width.GetValue()[0]
    failed = width.SetValue(-1)
    assert kept.IsOK() and not failed.IsOK() and failed.HasDescription()
    assert width.GetValue()[0].IsOK() and kept.IsOK() and not failed.IsOK()

    marked = width.SetValue(-1)
    marked.note = "mine"
    del marked
    assert not hasattr(width.GetValue()[0], "note")
    watched = width.SetValue(-1)
    alive = weakref.ref(watched)
    del watched
    assert width.GetValue()[0].IsOK()
    assert alive() is None or not alive().IsOK()
    pointer = width.SetValue(-1).this
    assert width.GetValue()[0].IsOK() and not base.TnResult_IsOK(pointer)

    dropped = width.SetValue(-1)
    del dropped
    again = width.GetValue()[0]
    assert again.IsOK() and not again.HasDescription() and again.this.own()


def test_selectors(tarn, hooks, array):
    selector = array.Get("GainSelector")
    assert selector.IsSelector()[1] is True
    result, selected = selector.GetSelectedParameters()
    assert result.IsOK() and isinstance(selected, tarn.TnGenParameterList) and selected.this.own()
    assert [selected.GetItem(i).GetName()[1] for i in range(selected.GetSize())] == ["Gain"]
    result, selecting = array.Get("Gain").GetSelectingParameters()
    assert [selecting[i].GetName()[1] for i in range(selecting.GetSize())] == ["GainSelector"]
    assert array.Get("Width").GetSelectedParameters()[1].GetSize() == 0
    assert array.GetFloatValue("Gain")[1] == pytest.approx(1.5)
    assert array.SetEnumValue("GainSelector", "Red")[0].IsOK()
    assert array.GetFloatValue("Gain")[1] == pytest.approx(3.0)


def test_integer_and_float(tarn, base, hooks, array):
    width, exposure = array.GetInteger("Width"), array.GetFloat("ExposureTime")
    assert [width.GetMin()[1], width.GetMax()[1], width.GetIncrement()[1]] == [16, 4096, 16]
    assert width.GetRepresentation()[1] == tarn.TnGenRepresentationLinear or width.GetRepresentation()[0].IsOK()
    assert width.GetUnit()[1] == "px"
    assert width.SetValue(True).IsFailure()  # True is 1: below the minimum
    with pytest.raises(OverflowError, match="argument 2 of type 'int64_t'"):
        width.SetValue(2 ** 63)
    with pytest.raises(TypeError, match="argument 2 of type 'int64_t'"):
        width.SetValue(1.0)
    assert exposure.GetRepresentation()[1] == tarn.TnGenRepresentationLogarithmic
    assert exposure.GetUnit()[1] == "us"
    assert (exposure.GetMin()[1], exposure.GetMax()[1]) == (10.0, 1000000.0)

    class Precise(float):
        pass

    assert exposure.SetValue(Precise(250.0)).IsOK() and exposure.GetValue()[1] == pytest.approx(250.0)
    assert hooks.ReadPort(array, 0x12C, 4) == be32(2500)
    with pytest.raises(TypeError, match="argument 2 of type 'double'"):
        exposure.SetValue(10 ** 400)
    with pytest.raises(TypeError) as error:
        base.TnGenFloat_GetValue(width)
    assert str(error.value) == "in method 'TnGenFloat_GetValue', argument 1 of type 'TnGenFloat const *'"
    temperature = array.GetFloat("DeviceTemperature")
    assert temperature.GetValue()[1] == pytest.approx(36.5)
    assert temperature.SetValue(1.0).IsFailure()


def test_integer_extremes(tarn, hooks, tmp_path):
    xml = tmp_path / "wide.xml"
    xml.write_text(
        '<RegisterDescription ModelName="M" VendorName="V" SchemaMajorVersion="1" SchemaMinorVersion="1"'
        ' SchemaSubMinorVersion="0" MajorVersion="1" MinorVersion="0" SubMinorVersion="0" ProductGuid="0"'
        ' VersionGuid="0" StandardNameSpace="None" xmlns="http://www.genicam.org/GenApi/Version_1_1">'
        '<IntReg Name="Wide"><Address>0</Address><Length>8</Length><AccessMode>RW</AccessMode>'
        '<pPort>Device</pPort><Sign>Signed</Sign><Endianess>LittleEndian</Endianess></IntReg>'
        '<Port Name="Device"/></RegisterDescription>')
    wide = hooks.LoadParameterArray(str(xml), 8)
    assert wide.SetIntegerValue("Wide", -2 ** 63).IsOK()
    assert wide.GetIntegerValue("Wide")[1] == -2 ** 63
    assert hooks.ReadPort(wide, 0, 8) == b"\0" * 7 + b"\x80"


def test_enumeration(tarn, base, array):
    pixel_format = array.GetEnum("PixelFormat")
    assert pixel_format.GetValueInt() == [pixel_format.GetValueInt()[0], MONO8]
    assert pixel_format.GetValueString()[1] == "Mono8"
    assert pixel_format.SetValue(MONO16).IsOK() and pixel_format.GetValueString()[1] == "Mono16"
    assert pixel_format.SetValue("RGB8").IsOK() and pixel_format.GetValueInt()[1] == 0x02180014
    assert pixel_format.SetValue(tarn.TnString("Mono8")).IsOK()
    assert pixel_format.SetValue("Nope").IsFailure()
    for bad in (2.5, 2 ** 64):
        with pytest.raises(TypeError) as error:
            pixel_format.SetValue(bad)
        assert str(error.value) == "Argument 2: failed to create TnString from Python string"
    with pytest.raises(TypeError) as error:
        base.TnGenEnum_SetValue(pixel_format, 1, 2)
    assert str(error.value).startswith("TnGenEnum_SetValue expected at most 2 arguments, got 3\nAdditional information:\n"
                                       "Wrong number or type of arguments for overloaded function 'TnGenEnum_SetValue'.")
    with pytest.raises(TypeError) as error:
        base.TnGenEnum_SetValue(array.Get("Width"), 1)
    assert str(error.value) == (
        "Wrong number or type of arguments for overloaded function 'TnGenEnum_SetValue'.\n"
        "  Possible C/C++ prototypes are:\n    TnGenEnum::SetValue(int64_t)\n    TnGenEnum::SetValue(TnString const &)\n")
    assert pixel_format.GetEntriesCount()[1] == 3
    result, entry = pixel_format.GetEntryByIndex(0)
    assert isinstance(entry, tarn.TnGenEnumEntry) and entry.GetName()[1] == "Mono8"
    assert entry.GetDisplayName()[1] == "Mono 8" and entry.GetValue()[1] == MONO8
    assert entry.IsAvailable()[1] is True
    assert entry.GetNameSpace()[1] == tarn.TnGenNameSpaceStandard
    assert pixel_format.GetEntryByValue(0x02180014)[1].GetVisibility()[1] == tarn.TnGenVisibilityExpert
    assert pixel_format.GetEntryByName("Mono16")[1].GetValue()[1] == MONO16
    assert pixel_format.GetEntryByName("Nope")[1] is None
    assert pixel_format.GetEntryByIndex(3)[1] is None
    with pytest.raises(OverflowError, match="'TnGenEnum_GetEntryByIndex', argument 2 of type 'int64_t'"):
        pixel_format.GetEntryByIndex(2 ** 63)
    with pytest.raises(OverflowError, match="'TnGenEnumEntry_IsVisible', argument 2 of type 'TnGenVisibility'"):
        entry.IsVisible(2 ** 31)


def test_boolean_string_command_register(tarn, base, hooks, array):
    reverse = array.GetBoolean("ReverseX")
    assert reverse.GetValue()[1] is False
    with pytest.raises(TypeError) as error:
        reverse.SetValue(1)
    assert str(error.value) == "in method 'TnGenBoolean_SetValue', argument 2 of type 'bool'"
    assert reverse.SetValue(True).IsOK() and reverse.GetValue()[1] is True

    user_id = array.GetString("DeviceUserID")
    assert user_id.GetValue()[1] == "cam-1" and user_id.GetMaxLength()[1] == 16
    assert user_id.SetValue(tarn.TnString("right")).IsOK()
    assert isinstance(user_id.SetValue("north"), tarn.TnResult)
    assert hooks.ReadPort(array, 0x140, 6) == b"north\0"
    assert user_id.SetValue("x" * 17).IsFailure()  # longer than the register
    with pytest.raises(TypeError, match="Argument 2: failed to create TnString"):
        user_id.SetValue(5)

    start = array.GetCommand("AcquisitionStart")
    assert start.Execute().IsOK()
    assert hooks.ReadPort(array, 0x110, 4) == be32(1)
    assert start.IsDone()[0].IsOK()

    lut = array.GetRegister("LUTValues")
    assert lut.GetLength()[1] == 8
    memory = hooks.NewBytes(8)
    try:
        assert lut.Get(memory, 8).IsOK()
        assert hooks.BytesAt(memory, 8) == bytes(range(8))
        hooks.SetBytes(memory, 0, 0xAA)
        assert lut.Set(memory, 8).IsOK()
        assert hooks.ReadPort(array, 0x160, 2) == b"\xaa\x01"
        assert lut.Get(memory, 9).IsFailure()  # never past the register
        assert lut.Set(memory, 9).IsFailure()
        assert lut.Get(None, 0).GetCode() is not None
        assert lut.Get(None, 4).IsFailure()
    finally:
        hooks.DeleteBytes(memory)
    with pytest.raises(TypeError) as error:
        lut.Get(bytearray(8), 8)
    assert str(error.value) == "in method 'TnGenRegister_Get', argument 2 of type 'uint8_t *'"
    with pytest.raises(TypeError, match="'TnGenRegister_Set', argument 2 of type 'uint8_t const \\*'"):
        lut.Set(b"12345678", 8)
    with pytest.raises(OverflowError, match="'TnGenRegister_Set', argument 3 of type 'int64_t'"):
        lut.Set(None, 2 ** 63)


def test_parameter_list(tarn, base, array):
    items = tarn.TnGenParameterList()
    assert items.GetSize() == 0 and items.GetFirst() is None
    items.Add(array.Get("Width"))
    items.Add(array.Get("PixelFormat"))
    assert items.GetSize() == 2
    assert isinstance(items.GetItem(0), tarn.TnGenInteger) and isinstance(items[1], tarn.TnGenEnum)
    assert items.GetItem(2) is None
    assert isinstance(items.GetNext(), tarn.TnGenInteger)  # a walk without GetFirst starts at the first
    assert isinstance(items.GetNext(), tarn.TnGenEnum)
    assert items.GetNext() is None
    assert isinstance(items.GetFirst(), tarn.TnGenInteger)
    items.GetNext()
    items.Add(array.Get("ExposureTime"))  # resets the walk
    assert isinstance(items.GetNext(), tarn.TnGenInteger)
    with pytest.raises(OverflowError, match="'TnGenParameterList_GetItem', argument 2 of type 'uint32_t'"):
        items.GetItem(-1)
    with pytest.raises(TypeError, match="'TnGenParameterList___getitem__', argument 2 of type 'uint32_t'"):
        items[1.5]
    entry = array.GetEnum("PixelFormat").GetEntryByIndex(0)[1]
    for wrong in (entry, array.GetCategory(0)):
        with pytest.raises(TypeError, match="'TnGenParameterList_Add', argument 2 of type 'TnGenParameter \\*'"):
            items.Add(wrong)
    items.Clear()
    assert items.GetSize() == 0


def test_state_stack_restores_in_reverse(tarn, base, array):
    stack = tarn.TnGenStateStack(array)
    assert isinstance(stack.SetIntegerValue("Width", 320), tarn.TnResult)
    assert stack.SetIntegerValue("Width", 160).IsOK()
    assert stack.SetFloatValue("ExposureTime", 50).IsOK()
    assert stack.SetBooleanValue("ReverseX", True).IsOK()
    result, echoed = stack.SetStringValue("DeviceUserID", "temp")
    assert result.IsOK() and echoed == "temp"
    assert isinstance(stack.SetEnumValue("PixelFormat", MONO16), tarn.TnResult)
    assert stack.SetEnumValue("PixelFormat", "RGB8")[1] == "RGB8"
    assert stack.SetEnumValue("Missing", "RGB8") [1] is None
    assert stack.SetIntegerValue("Missing", 1).GetCode() == tarn.TN_NOT_FOUND
    with pytest.raises(TypeError, match="Argument 3: failed to create TnString"):
        stack.SetEnumValue("PixelFormat", 2 ** 63)
    with pytest.raises(TypeError, match="'TnGenStateStack_SetBooleanValue', argument 3 of type 'bool'"):
        stack.SetBooleanValue("ReverseX", 0)
    assert array.GetIntegerValue("Width")[1] == 160
    del stack  # restores what the stack changed
    assert array.GetIntegerValue("Width")[1] == 640
    assert array.GetFloatValue("ExposureTime")[1] == pytest.approx(100.0)
    assert array.GetBooleanValue("ReverseX")[1] is False
    assert array.GetStringValue("DeviceUserID")[1] == "cam-1"
    assert array.GetEnumValueString("PixelFormat")[1] == "Mono8"


def test_state_stack_refuses_what_is_no_array(tarn, base):
    with pytest.raises(TypeError) as error:
        tarn.TnGenStateStack(tarn.TnGenParameterList())
    assert str(error.value) == "in method 'new_TnGenStateStack', argument 1 of type 'TnGenParameterArray *'"
    with pytest.raises(TypeError) as error:
        base.new_TnGenStateStack(None)
    assert str(error.value) == "invalid null reference in method 'new_TnGenStateStack', argument 1 of type 'TnGenParameterArray *'"


def test_update_sinks(tarn, base, hooks, array):
    width = array.Get("Width")
    sink = hooks.NewCountingSink()
    try:
        assert width.RegisterEventSink(sink).IsOK()
        assert width.SetValue(320).IsOK()
        assert hooks.CountingSinkUpdates(sink) >= 1
        width.SetUpdatesEnabled(False)
        before = hooks.CountingSinkUpdates(sink)
        width.SetValue(640)
        assert hooks.CountingSinkUpdates(sink) == before
        width.SetUpdatesEnabled(True)
        base.TnGenEventSink_OnParameterUpdate(sink, width)  # calls the sink's own operation
        assert hooks.CountingSinkUpdates(sink) == before + 1
        assert width.UnregisterEventSink(sink).IsOK()
        width.SetValue(320)
        assert hooks.CountingSinkUpdates(sink) == before + 1
        assert width.RegisterEventSink(None).IsFailure()
        with pytest.raises(TypeError, match="'TnGenEventSink_OnParameterUpdate', argument 2 of type 'TnGenParameter \\*'"):
            base.TnGenEventSink_OnParameterUpdate(sink, 3)
        base.delete_TnGenEventSink(sink)  # leaves the SDK's sink alone
        assert hooks.CountingSinkUpdates(sink) == before + 1
    finally:
        hooks.DeleteCountingSink(sink)

    class NotASink(tarn.TnGenEventSink):
        def OnParameterUpdate(self, parameter):
            raise AssertionError("never called by the SDK")

    with pytest.raises(TypeError, match="'TnGenParameter_RegisterEventSink', argument 2 of type 'TnGenEventSink \\*'"):
        width.RegisterEventSink(object())
