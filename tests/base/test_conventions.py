"""Rules every wrapper follows: argument counts and types, None as `self`,
comparison fall-backs, destruction, proxy-class registration, output lists
and the pointer-object machinery."""

import pathlib

import pytest

import figures

XML = pathlib.Path(__file__).resolve().parent.parent / "data" / "genicam" / "camera.xml"
COMPARISONS = ("___eq__", "___ne__", "___lt__", "___le__", "___gt__", "___ge__")


def test_argument_count_messages(base, tarn):
    logger = tarn.TnLogger("counts")
    with pytest.raises(TypeError, match=r"takes exactly one argument \(0 given\)"):
        base.TnString_GetAscii()
    with pytest.raises(TypeError) as error:
        base.TnLogger_SetLogPriority(logger)
    assert str(error.value) == "TnLogger_SetLogPriority expected 2 arguments, got 1"
    with pytest.raises(TypeError) as error:
        base.TnLogger_SetLogPriority(logger, 1, 2)
    assert str(error.value) == "TnLogger_SetLogPriority expected 2 arguments, got 3"
    with pytest.raises(TypeError) as error:
        base.TnLogger_LogInfo(logger, "f", 1, "fn")
    assert str(error.value) == "TnLogger_LogInfo expected 5 arguments, got 4"
    with pytest.raises(TypeError, match="swiginit expected 2 arguments, got 1"):
        base.TnString_swiginit(tarn.TnString())


def test_integer_range_and_kind(base, tarn):
    logger = tarn.TnLogger("ranges")
    message = "in method 'TnLogger_SetLogPriority', argument 2 of type 'int32_t'"
    with pytest.raises(OverflowError) as error:
        base.TnLogger_SetLogPriority(logger, 2147483648)
    assert str(error.value) == message
    with pytest.raises(TypeError) as error:
        base.TnLogger_SetLogPriority(logger, 1.0)
    assert str(error.value) == message
    base.TnLogger_SetLogPriority(logger, -2147483648)
    assert logger.GetLogPriority() == -2147483648
    base.TnLogger_SetLogPriority(logger, True)  # bool counts as an int
    assert logger.GetLogPriority() == 1
    # In an overload dispatcher an out-of-range int fails the overload tests.
    with pytest.raises(TypeError, match="Wrong number or type of arguments for overloaded function 'new_TnString'"):
        tarn.TnString("abc", -1)
    with pytest.raises(OverflowError, match="argument 2 of type 'uint32_t'"):
        tarn.TnResult().SetCode(4294967296)


def test_char_pointer_arguments(base, tarn):
    logger = tarn.TnLogger("chars")
    with pytest.raises(TypeError) as error:
        base.TnLogger_LogInfo(logger, b"bytes", 1, "fn", "msg")
    assert str(error.value) == "in method 'TnLogger_LogInfo', argument 2 of type 'char const *'"
    with pytest.raises(TypeError, match="argument 3 of type 'int'"):
        base.TnLogger_LogInfo(logger, "f", "1", "fn", "msg")
    with pytest.raises(TypeError, match="argument 5 of type 'char const \\*'"):
        base.TnLogger_LogInfo(logger, "f", 1, "fn", "\udc80")
    base.TnLogger_LogInfo(logger, None, 1, None, None)


def test_none_is_no_self(base, tarn):
    with pytest.raises(TypeError) as error:
        base.TnString_GetAscii(None)
    assert str(error.value) == "in method 'TnString_GetAscii', argument 1 of type 'TnString const *'"
    for call in (lambda: base.TnString___iadd__(None, "x"), lambda: base.TnResult_SetCode(None, 1),
                 lambda: base.TnLogger_LogInfo(None, "f", 1, "fn", "m"),
                 lambda: base.TnLogSink_Log(None, 1, "a", 2, "b", "c", "d"),
                 lambda: base.TnPixelTypeToString(None), lambda: base.uint24_t_PixelValue_get(None)):
        with pytest.raises(TypeError):
            call()
    for destroy in (base.delete_TnString, base.delete_TnResult, base.delete_TnLogger, base.delete_TnLogSink,
                    base.delete_uint24_t):
        assert destroy(None) is None


def test_wrong_self_type(base, tarn):
    with pytest.raises(TypeError) as error:
        base.TnString_GetLength(tarn.TnResult())
    assert str(error.value) == "in method 'TnString_GetLength', argument 1 of type 'TnString const *'"
    with pytest.raises(TypeError, match="argument 1 of type 'TnString \\*'"):
        base.TnString___str__(42)


def test_comparisons_fall_back_to_notimplemented(base, tarn):
    assert base.TnString___eq__(tarn.TnString("a"), 1) is NotImplemented
    assert base.TnResult___eq__(tarn.TnResult(), "OK") is NotImplemented
    assert base.TnResult___ne__(tarn.TnResult(), -1) is NotImplemented
    assert (tarn.TnString("a") == 1) is False
    assert (tarn.TnString("a") != [1]) is True
    # Every comparison, whatever the count: NotImplemented and no error left.
    selves = {"TnString": tarn.TnString("a"), "TnResult": tarn.TnResult(), "TnBuffer": tarn.TnBuffer()}
    names = [f.name for f in figures.functions(base) if f.name.endswith(COMPARISONS)]
    assert sorted(names) == ["TnBuffer___eq__", "TnResult___eq__", "TnResult___ne__", "TnString___eq__",
                             "TnString___ne__"]
    for name in names:
        self = selves[name.split("___")[0]]
        for args in ((), (self,), (self, self, self), (self, 1, 2), (self,) * 9, (None,) * 3):
            assert getattr(base, name)(*args) is NotImplemented, (name, len(args))


def test_new_returns_owning_pointer_objects(base, tarn):
    pointer = base.new_TnString("x")
    assert type(pointer).__name__ == "SwigPyObject"
    assert pointer.own()
    assert repr(pointer).startswith("<Swig Object of type 'TnString *' at 0x")
    proxy = tarn.TnString.__new__(tarn.TnString)
    base.TnString_swiginit(proxy, pointer)
    assert proxy.GetAscii() == "x"
    with pytest.raises(TypeError, match="Attempt to append a non SwigPyObject"):
        base.TnString_swiginit(proxy, 1)


def test_delete_disowns_before_destroying(base, tarn):
    text = tarn.TnString("gone")
    base.delete_TnString(text)
    assert not text.this.own()
    del text  # the pointer object no longer owns anything: no second destruction


def test_delete_destroys_only_what_its_pointer_object_owns(base, tarn):
    for destroy in (f.name for f in figures.functions(base) if f.name.startswith("delete_")):
        assert getattr(base, destroy)(None) is None, destroy
    # Borrowed objects stay whole: the buffer of an image, a record's string.
    buffer = tarn.TnBuffer()
    image = buffer.GetImage()
    assert image.Alloc(4, 4, tarn.TnPixelMono8).IsOK()
    base.delete_TnBuffer(image.GetBuffer())
    session = tarn.TnSessionInfo()
    session.mName = tarn.TnString("stream")
    base.delete_TnString(session.mName)
    assert buffer.GetImage().GetWidth() == 4 and session.mName.GetAscii() == "stream"
    # An owned object is destroyed once; its emptied proxy is refused like None.
    text = tarn.TnString("once")
    base.delete_TnString(text)
    base.delete_TnString(text)
    with pytest.raises(TypeError, match="^in method 'TnString_GetAscii', argument 1 of type 'TnString const \\*'$"):
        text.GetAscii()
    # A payload interface's destructor leaves even an owned buffer alone.
    owner = tarn.TnBuffer()
    base.delete_ITnChunkData(owner)
    assert owner.this.own() and owner.Alloc(8).IsOK()
    # Copies of discovery objects are detached and owned by their proxies.
    copy = tarn.TnDeviceInfoGEV().Copy()
    assert copy.this.own()
    base.delete_TnDeviceInfo(copy)
    assert not copy.this.own()


def test_delete_through_a_base_without_a_virtual_destructor_is_refused(base, tarn):
    # Freed through the base, a derived object would be freed as the base's size.
    for destroy, kinds in ((base.delete_GenDCPartHeaderBase, ("JPEG", "")),
                           (base.delete_GenDCPartHeader, ("1D", "2D", "GenICamXML", "JPEG", "JPEG2000"))):
        for kind in kinds:
            header = getattr(tarn, "GenDCPartHeader" + kind)()
            with pytest.raises(TypeError, match=f"a 'GenDCPartHeader{kind} \\*' is destroyed only by the delete "
                                                "function of its own class"):
                destroy(header)
            assert header.this.own()
    for destroy, derived in ((base.delete_GenDCFlowTableHeader, tarn.GenDCFlowTable),
                             (base.delete_TnGenDCPart2DFields, tarn.TnGenDCPartH264Fields)):
        kept = derived()
        with pytest.raises(TypeError, match="destructor is not virtual"):
            destroy(kept)
        assert kept.this.own()
        getattr(base, "delete_" + derived.__name__)(kept)
        assert not kept.this.own()
    header = tarn.GenDCPartHeaderBase()
    base.delete_GenDCPartHeaderBase(header)
    assert not header.this.own()


def test_in_place_or_leaves_self_usable(base, tarn):
    result = tarn.TnResult()
    base.TnResult___ior__(result, tarn.TnResult(tarn.TN_TIMEOUT))  # the combined proxy is dropped at once
    assert not result.this.own() and result.GetCode() == tarn.TN_TIMEOUT
    pointer = base.new_TnResult()
    combined = base.TnResult___ior__(pointer, tarn.TnResult(tarn.TN_BUSY))
    assert combined.this.own() and combined.GetCode() == tarn.TN_BUSY
    with pytest.raises(TypeError, match="argument 1 of type 'TnResult const \\*'"):
        base.TnResult_GetCode(pointer)  # a bare pointer object that gave its object away is emptied
    assert not base.TnResult___ior__(result, tarn.TnResult()).this.own()  # no ownership to pass on


class Refusing:
    """A class that cannot make instances."""

    def __new__(cls, *args):
        raise LookupError("no instances")


def test_proxy_class_registration(base, tarn, hooks):
    for bad in (None, 5, "TnString", tarn.TnString("x"), len):
        with pytest.raises(TypeError, match="^swigregister expected a class, got "):
            base.TnString_swigregister(bad)

    class BadDestroy:
        __swig_destroy__ = "delete"

    with pytest.raises(TypeError, match="__swig_destroy__ is a module function, got BadDestroy"):
        base.TnString_swigregister(BadDestroy)
    session = tarn.TnSessionInfo()
    assert type(session.mName) is tarn.TnString  # the registry is unchanged
    # Objects that cannot become proxies end the call with the class's error,
    # also inside output lists.
    features = hooks.LoadParameterArray(str(XML), 0x400)
    pixel_format = features.Get("PixelFormat")
    base.TnGenEnumEntry_swigregister(Refusing)
    base.TnGenParameterList_swigregister(Refusing)
    try:
        with pytest.raises(LookupError):
            pixel_format.GetEntryByIndex(0)
        with pytest.raises(LookupError):
            pixel_format.GetSelectedParameters()
        base.TnResult_swigregister(Refusing)
        with pytest.raises(LookupError):
            features.GetIntegerValue("Width")
    finally:
        for name in ("TnGenEnumEntry", "TnGenParameterList", "TnResult"):
            getattr(base, name + "_swigregister")(getattr(tarn, name))
    assert type(pixel_format.GetEntryByIndex(0)[1]) is tarn.TnGenEnumEntry
