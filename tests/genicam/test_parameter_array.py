"""The parameter array: lookups, down-casts and the name-keyed shortcuts."""

import itertools
import struct

import numpy as np
import pytest

from conftest import MONO8, MONO16, be32


def test_lookup_by_position_and_name(tarn, array):
    count = array.GetCount()
    assert count > 10
    kinds = {type(array.Get(i)).__name__ for i in range(count)}
    assert {"TnGenInteger", "TnGenFloat", "TnGenEnum", "TnGenBoolean", "TnGenCommand", "TnGenString",
            "TnGenRegister"} <= kinds
    assert array.Get(count) is None
    assert isinstance(array.Get("Width"), tarn.TnGenInteger)
    assert isinstance(array["ExposureTime"], tarn.TnGenFloat)
    assert array.Get("NoSuchFeature") is None and array["NoSuchFeature"] is None
    assert array[True].GetName()[1] == array.Get(1).GetName()[1]
    for key in (-1, 4294967296, 1.5, b"Width"):
        with pytest.raises(TypeError) as error:
            array[key]
        assert str(error.value) == "Argument 2: failed to create TnString from Python string"


def test_dispatch_failures(tarn, base, array):
    with pytest.raises(TypeError) as error:
        base.TnGenParameterArray_Get(array)
    assert str(error.value) == (
        "Wrong number or type of arguments for overloaded function 'TnGenParameterArray_Get'.\n"
        "  Possible C/C++ prototypes are:\n"
        "    TnGenParameterArray::Get(uint32_t)\n"
        "    TnGenParameterArray::Get(TnString const &)\n")
    with pytest.raises(TypeError) as error:
        base.TnGenParameterArray_Get(array, 0, 1)
    assert str(error.value).startswith("TnGenParameterArray_Get expected at most 2 arguments, got 3\n"
                                       "Additional information:\nWrong number or type")
    with pytest.raises(TypeError, match=r"TnGenParameterArray::operator \[\]\(uint32_t\)"):
        base.TnGenParameterArray___getitem__(tarn.TnString("x"), 0)
    with pytest.raises(TypeError) as error:
        base.TnGenParameterArray_SetEnumValue(array, "PixelFormat")
    assert "TnGenParameterArray::SetEnumValue(TnString const &,TnString const &)\n" \
           "    TnGenParameterArray::SetEnumValue(TnString const &,int64_t)\n" in str(error.value)


def test_typed_getters_name_their_class(tarn, array):
    assert isinstance(array.GetInteger("Width"), tarn.TnGenInteger)
    assert array.GetInteger("ExposureTime") is None
    assert isinstance(array.GetFloat("ExposureTime"), tarn.TnGenFloat)
    assert isinstance(array.GetEnum("PixelFormat"), tarn.TnGenEnum)
    assert isinstance(array.GetBoolean("ReverseX"), tarn.TnGenBoolean)
    assert isinstance(array.GetCommand("AcquisitionStart"), tarn.TnGenCommand)
    assert isinstance(array.GetString("DeviceUserID"), tarn.TnGenString)
    assert isinstance(array.GetRegister("LUTValues"), tarn.TnGenRegister)
    assert array.GetRegister("Width") is None


def test_value_shortcuts(tarn, hooks, array):
    result, value = array.GetIntegerValue("Width")
    assert result.IsOK() and value == 640
    assert array.SetIntegerValue("Width", 1024).IsOK()
    assert hooks.ReadPort(array, 0x100, 4) == be32(1024)
    assert array.GetFloatValue("ExposureTime")[1] == pytest.approx(100.0)
    assert array.SetFloatValue("ExposureTime", 30).IsOK()  # an int passes as 30.0
    assert array.GetFloatValue("ExposureTime")[1] == pytest.approx(30.0)
    assert array.GetBooleanValue("ReverseX")[1] is False
    assert array.SetBooleanValue("ReverseX", True).IsOK()
    assert hooks.ReadPort(array, 0x10C, 4) == be32(1)
    assert array.GetStringValue("DeviceUserID")[1] == "cam-1"
    result, echoed = array.SetStringValue("DeviceUserID", "left")
    assert result.IsOK() and echoed == "left"
    assert array.GetEnumValueInt("PixelFormat")[1] == MONO8
    assert array.GetEnumValueString("PixelFormat")[1] == "Mono8"
    assert isinstance(array.SetEnumValue("PixelFormat", MONO16), tarn.TnResult)
    assert array.GetEnumValueString("PixelFormat")[1] == "Mono16"
    result, echoed = array.SetEnumValue("PixelFormat", "Mono8")
    assert result.IsOK() and echoed == "Mono8"
    assert array.ExecuteCommand("AcquisitionStart").IsOK()
    assert hooks.ReadPort(array, 0x110, 4) == be32(1)


def test_failed_shortcuts_give_none(tarn, array):
    for getter in (array.GetIntegerValue, array.GetFloatValue, array.GetBooleanValue, array.GetStringValue,
                   array.GetEnumValueInt, array.GetEnumValueString):
        result, value = getter("Missing")
        assert result.GetCode() == tarn.TN_NOT_FOUND and value is None
    result, value = array.GetIntegerValue("ExposureTime")  # another type
    assert result.GetCode() == tarn.TN_NOT_FOUND and value is None
    result, echoed = array.SetEnumValue("PixelFormat", "NoSuchEntry")
    assert result.IsFailure() and echoed is None
    assert array.SetIntegerValue("Width", 17).IsFailure()  # not a multiple of the increment
    assert array.SetIntegerValue("Width", 8192).IsFailure()  # above the maximum
    assert array.GetIntegerValue("Width")[1] == 640
    assert array.SetFloatValue("DeviceTemperature", 20.0).IsFailure()  # read-only


def test_ranges_are_tuples(tarn, array):
    result, low, high = array.GetIntegerRange("Width")
    assert result.IsOK() and (low, high) == (16, 4096)
    assert isinstance(array.GetIntegerRange("Width"), tuple)
    assert isinstance(array.GetIntegerValue("Width"), list)
    result, low, high = array.GetFloatRange("ExposureTime")
    assert (low, high) == (10.0, 1000000.0)
    assert array.GetFloatRange("Missing")[1:] == (None, None)


def test_setter_argument_conversions(base, array):
    for value, kind in ((2 ** 63, OverflowError), (1.5, TypeError)):
        with pytest.raises(kind) as error:
            array.SetIntegerValue("Width", value)
        assert str(error.value) == "in method 'TnGenParameterArray_SetIntegerValue', argument 3 of type 'int64_t'"
    with pytest.raises(TypeError) as error:
        array.SetBooleanValue("ReverseX", 1)
    assert str(error.value) == "in method 'TnGenParameterArray_SetBooleanValue', argument 3 of type 'bool'"
    with pytest.raises(TypeError, match="argument 3 of type 'double'"):
        array.SetFloatValue("Gain", 10 ** 400)
    with pytest.raises(TypeError) as error:
        array.SetEnumValue("PixelFormat", 2 ** 63)
    assert str(error.value) == "Argument 3: failed to create TnString from Python string"
    with pytest.raises(TypeError, match="Argument 2: failed to create TnString"):
        array.GetIntegerValue(7)
    with pytest.raises(TypeError, match="Argument 3: failed to create TnString"):
        array.SetStringValue("DeviceUserID", 3)
    with pytest.raises(TypeError, match="argument 1 of type 'TnGenParameterArray const \\*'"):
        base.TnGenParameterArray_GetCount(array.Get(0))


def test_chunk_data(tarn, array):
    counter = struct.pack(">I", 77)
    image = b"\x11" * 16 + struct.pack(">II", 1, 16)  # the image travels as the first chunk
    payload = np.frombuffer(image + counter + struct.pack(">II", 0x4001, 4), dtype=np.uint8).copy()
    assert array.AttachDataChunks(payload).IsOK()
    payload[:] = 0  # the array keeps what it read at attach time
    assert array.GetIntegerValue("ChunkFrameCounter")[1] == 77
    assert array.DetachDataChunks().IsOK()
    assert array.GetIntegerValue("ChunkFrameCounter")[0].IsFailure()
    # Converted input: a list is copied into a temporary that dies after the call.
    assert array.AttachDataChunks(list(counter) + [0, 0, 0x40, 0x01, 0, 0, 0, 4]).IsOK()
    assert array.GetIntegerValue("ChunkFrameCounter")[1] == 77
    strided = np.zeros(2 * payload.size, np.uint8)
    strided[::2] = np.frombuffer(image + counter + struct.pack(">II", 0x4001, 4), dtype=np.uint8)
    assert array.AttachDataChunks(strided[::2]).IsOK()  # copied into a contiguous temporary
    assert array.GetIntegerValue("ChunkFrameCounter")[1] == 77
    with pytest.raises(TypeError) as error:
        array.AttachDataChunks("seventy-seven")
    assert str(error.value) == ("in method 'TnGenParameterArray_AttachDataChunks', argument 2 takes bytes, bytearray, "
                                "memoryview or a uint8 array, not str")
    bad = np.array([1, 2, 3, 0, 0, 0, 9, 0, 0, 1, 0], dtype=np.uint8)  # the tag claims more than there is
    assert array.AttachDataChunks(bad).GetCode() == tarn.TN_INVALID_DATA_FORMAT
    assert array.AttachDataChunks(np.zeros(0, np.uint8)).GetCode() == tarn.TN_INVALID_PARAMETER
    with pytest.raises(TypeError) as error:
        array.AttachDataChunks(np.zeros((2, 2), np.uint8))
    assert str(error.value) == "Array must have 1 dimensions.  Given array has 2 dimensions"


def test_services(tarn, hooks, array):
    assert array.GetAccessMode() == tarn.TnGenAccessModeReadWrite
    assert repr(array.GetNodeMap()).startswith("<Swig Object of type 'TN_GENAPI_NS::INodeMap *' at")
    assert array.GetIntegerValue("Width")[1] == 640
    hooks.WritePort(array, 0x100, be32(320))
    assert array.GetIntegerValue("Width")[1] == 640  # cached
    assert array.InvalidateCache().IsOK()
    assert array.GetIntegerValue("Width")[1] == 320
    assert array.Poll().IsOK()


def test_categories(tarn, array):
    assert array.GetCategoryCount() >= 6
    category = array.GetCategory("ImageFormatControl")
    assert isinstance(category, tarn.TnGenCategory)
    assert category.GetDisplayName()[1] == "Image Format Control"
    assert category.GetNameSpace()[1] == tarn.TnGenNameSpaceStandard
    assert category.IsImplemented()[1] is True
    assert category.IsVisible(tarn.TnGenVisibilityBeginner)[1] is True
    assert array.GetCategory(array.GetCategoryCount()) is None
    assert array.GetCategory("Missing") is None
    assert array.Get("Width").GetCategory()[1] == "ImageFormatControl"
    with pytest.raises(OverflowError, match="argument 2 of type 'TnGenVisibility'"):
        category.IsVisible(2 ** 31)
    assert repr(category.GetNode()).startswith("<Swig Object of type 'TN_GENAPI_NS::INode *'")


def test_empty_array(tarn):
    empty = tarn.TnGenParameterArray()
    assert empty.GetCount() == 0 and empty.GetCategoryCount() == 0
    assert empty.Get(0) is None and empty.Get("Width") is None
    assert empty.GetIntegerValue("Width")[0].GetCode() == tarn.TN_NOT_FOUND


def test_loops_over_features_and_lists_end(tarn, array):
    # A loop gives each item once, in order, and stops, though indexing
    # answers None past the end; `in` asks by name (arrays) or for the item
    # itself (lists). The loops are bounded: an endless one fails them.
    count = array.GetCount()
    names = [feature.GetName()[1] for feature in itertools.islice(array, count + 1)]
    assert names == [array.Get(index).GetName()[1] for index in range(count)]
    assert len(array) == count and array[count] is None
    assert "Width" in array and tarn.TnString("Width") in array and "NoSuchFeature" not in array
    assert array.Get("Height") in array and 3 not in array
    items = tarn.TnGenParameterList()
    items.Add(array.Get("Width"))
    items.Add(array.Get("PixelFormat"))
    assert [item.GetName()[1] for item in itertools.islice(items, 3)] == ["Width", "PixelFormat"]
    assert len(items) == 2 and items[2] is None
    assert array.Get("PixelFormat") in items and array.Get("Height") not in items and "Width" not in items
    for empty in (tarn.TnGenParameterArray(), tarn.TnGenParameterList()):
        assert list(itertools.islice(empty, 1)) == [] and len(empty) == 0 and "Width" not in empty
