"""Messages for wrong arguments: the dispatchers written by hand speak as the
generated ones do, and a wrong `self` is named with the type each function
states, const or not, whatever the SDK method's own constness."""

import pytest

OVERLOADED = "Wrong number or type of arguments for overloaded function '{0}'.\n  Possible C/C++ prototypes are:\n"

# Dispatchers over a const and a non-const form, written by hand, with their
# greatest argument count and their class.
HAND_WRITTEN = [
    ("ITnMultiPartContainerReader_GetPart", 2, "ITnMultiPartContainerReader"),
    ("ITnImage_GetDataPointer", 1, "ITnImage"),
    ("ITnImageJPEG_GetDataPointer", 1, "ITnImageJPEG"),
    ("ITnMultiPartSection_GetDataPointer", 1, "ITnMultiPartSection"),
    ("TnBuffer_GetDataPointer", 1, "TnBuffer"),
    ("TnBuffer_GetImage", 1, "TnBuffer"),
    ("TnBuffer_GetRawData", 1, "TnBuffer"),
    ("TnBuffer_GetChunkData", 1, "TnBuffer"),
    ("TnBuffer_GetMultiPartContainer", 1, "TnBuffer"),
    ("TnBuffer_GetGenDC", 1, "TnBuffer"),
    ("TnBuffer_GetH264AccessUnit", 1, "TnBuffer"),
    ("TnBuffer_GetVexmoorCompressed", 1, "TnBuffer"),
]


def message(call):
    with pytest.raises(TypeError) as error:
        call()
    return str(error.value)


def test_generated_dispatcher_reference(base):
    """What SWIG's own dispatchers print, which the hand-written ones follow."""
    text = message(lambda: base.TnImage_SetEOFByLineCount(*range(9)))
    assert text == ("TnImage_SetEOFByLineCount expected at most 2 arguments, got 9\nAdditional information:\n"
                    + OVERLOADED.format("TnImage_SetEOFByLineCount")
                    + "    TnImage::SetEOFByLineCount(bool)\n    TnImage::SetEOFByLineCount()\n")
    assert message(lambda: base.TnImage_SetEOFByLineCount(None)) == \
        "in method 'TnImage_SetEOFByLineCount', argument 1 of type 'TnImage *'"


def test_get_part_messages(base, tarn):
    prototypes = ("    ITnMultiPartContainerReader::GetPart(uint32_t) const\n"
                  "    ITnMultiPartContainerReader::GetPart(uint32_t)\n")
    overloaded = OVERLOADED.format("ITnMultiPartContainerReader_GetPart") + prototypes
    assert message(lambda: base.ITnMultiPartContainerReader_GetPart(*range(9))) == (
        "ITnMultiPartContainerReader_GetPart expected at most 2 arguments, got 9\nAdditional information:\n"
        + overloaded)
    container = tarn.TnBuffer(tarn.TnPayloadTypeMultiPart).GetMultiPartContainer()
    for args in ((container, -1), (container, 2**32), (container, "0"), (container,), (tarn.TnString("x"), 0)):
        assert message(lambda: base.ITnMultiPartContainerReader_GetPart(*args)) == overloaded
    assert container.GetPart(0) is None


@pytest.mark.parametrize("name, most, owner", HAND_WRITTEN)
def test_hand_written_dispatchers(base, tarn, name, most, owner):
    function = getattr(base, name)
    text = message(lambda: function(*range(9)))
    assert text.startswith(f"{name} expected at most {most} arguments, got 9\nAdditional information:\n"
                           + OVERLOADED.format(name))
    assert text.count("\n    ") == 2  # the two forms
    # None passes the overload test as a null `self`, and is then refused.
    index = (0,) * (most - 1)
    assert message(lambda: function(None, *index)) == f"in method '{name}', argument 1 of type '{owner} *'"
    assert message(lambda: function(tarn.TnResult(), *index)) == text.split("Additional information:\n")[1]


# A wrong `self` (an object of another class) for a representative set of the
# functions of each subsystem: the class's type as each function names it.
SELF_TYPES = [
    # core types
    ("TnString_GetAscii", 1, "TnString const *"),
    ("TnString___str__", 1, "TnString *"),
    ("TnResult_GetCode", 1, "TnResult const *"),
    ("TnResult_SetCode", 2, "TnResult *"),
    ("TnLogger_GetLogPriority", 1, "TnLogger const *"),
    ("TnLogger_SetLogPriority", 2, "TnLogger *"),
    ("uint24_t_PixelValue_get", 1, "uint24_t *"),
    # GenICam parameters
    ("TnGenParameterArray_GetCount", 1, "TnGenParameterArray const *"),
    ("TnGenParameterArray_Poll", 1, "TnGenParameterArray *"),
    ("TnGenParameterList_GetSize", 1, "TnGenParameterList const *"),
    ("TnGenParameterList_Add", 2, "TnGenParameterList *"),
    ("TnGenStateStack_SetIntegerValue", 3, "TnGenStateStack *"),
    ("TnGenParameter_GetName", 1, "TnGenParameter const *"),
    ("TnGenParameter_GetNode", 1, "TnGenParameter *"),
    ("TnGenParameter_FromString", 2, "TnGenParameter *"),
    ("TnGenInteger_GetIncrement", 1, "TnGenInteger const *"),
    ("TnGenFloat_SetValue", 2, "TnGenFloat *"),
    ("TnGenEnum_GetValueInt", 1, "TnGenEnum *"),
    ("TnGenEnum_GetValueString", 1, "TnGenEnum *"),
    ("TnGenEnum_GetEntriesCount", 1, "TnGenEnum const *"),
    ("TnGenEnum_GetEntryByName", 2, "TnGenEnum const *"),
    ("TnGenEnumEntry_GetValue", 1, "TnGenEnumEntry const *"),
    ("TnGenBoolean_GetValue", 1, "TnGenBoolean const *"),
    ("TnGenString_SetValue", 2, "TnGenString *"),
    ("TnGenCommand_IsDone", 1, "TnGenCommand *"),
    ("TnGenRegister_GetLength", 1, "TnGenRegister const *"),
    ("TnGenCategory_GetNode", 1, "TnGenCategory *"),
    ("TnGenCategory_GetName", 1, "TnGenCategory const *"),
    ("TnGenEventSink_OnParameterUpdate", 2, "TnGenEventSink *"),
    # buffers, images, chunks and multipart
    ("TnBuffer_GetSize", 1, "TnBuffer const *"),
    ("TnBuffer_IsLargeLeaderTrailerEnabled", 1, "TnBuffer const *"),
    ("TnBuffer_Alloc", 2, "TnBuffer *"),
    ("TnBuffer_GetChunkCount", 1, "TnBuffer *"),
    ("ITnChunkData_HasChunks", 1, "ITnChunkData const *"),
    ("ITnChunkData_ResetChunks", 1, "ITnChunkData *"),
    ("TnRawData_GetPayloadLength", 1, "TnRawData const *"),
    ("TnRawData_Free", 1, "TnRawData *"),
    ("TnImage_Free", 1, "TnImage *"),
    ("ITnMultiPartContainerWriter_AddJPEGPart", 6, "ITnMultiPartContainerWriter *"),
    # discovery
    ("TnSystem_GetInterface", 2, "TnSystem const *"),
    ("TnSystem_Find", 1, "TnSystem *"),
    ("TnNetworkAdapter_GetIPAddress", 2, "TnNetworkAdapter const *"),
    ("delete_TnInterface", 1, "TnInterface *"),
    ("TnDeviceInfoU3V_GetSpeed", 1, "TnDeviceInfoU3V const *"),
    ("delete_TnDeviceInfoU3V", 1, "TnDeviceInfoU3V *"),
    ("TnSessionInfo_mPort_set", 2, "TnSessionInfo *"),
    ("IPConfig_mIPAddress_get", 1, "TnSystemLib::IPConfig *"),
]


def test_self_types(base, tarn):
    for name, count, expected in SELF_TYPES:
        wrong = tarn.TnResult() if name.startswith("TnSessionInfo") else tarn.TnSessionInfo()
        args = (wrong,) + (0,) * (count - 1)
        assert message(lambda: getattr(base, name)(*args)) == \
            f"in method '{name}', argument 1 of type '{expected}'", name
