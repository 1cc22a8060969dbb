"""Rules every wrapper follows: argument counts and types, None as `self`,
comparison fall-backs and the pointer-object machinery."""

import pytest


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
