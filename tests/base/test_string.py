import traceback

import pytest


def test_text_survives_both_forms(tarn):
    text = tarn.TnString("Zürich ☃")
    copy = tarn.TnString(text)
    assert copy == text
    assert text.GetUnicode() == "Zürich ☃"
    assert text.GetAscii() == "Zürich ☃"
    assert str(text) == "Zürich ☃"
    assert text.GetLength() == 8
    assert tarn.TnString().GetLength() == 0


def test_comparison_is_case_sensitive(tarn):
    text = tarn.TnString("Mono8")
    assert text == "Mono8"
    assert not text == "mono8"
    assert text != "mono8"
    assert text == tarn.TnString("Mono8")
    assert not text != tarn.TnString("Mono8")


def test_in_place_addition_returns_the_joined_text(tarn, base):
    text = tarn.TnString("ab")
    original = text
    text += tarn.TnString("cd")
    assert text == "abcd"
    assert isinstance(text, str)
    assert original.this.own()  # the proxy keeps its string and ownership
    assert original.GetAscii() == "abcd"
    assert base.TnString___iadd__(original, "ef") == "abcdef"
    with pytest.raises(TypeError) as error:
        base.TnString___iadd__(original, 5)
    assert str(error.value) == "Argument 2: failed to create TnString from Python string"
    with pytest.raises(TypeError, match="invalid null reference"):
        base.TnString___iadd__(original, None)
    assert original.GetAscii() == "abcdef"


def test_counted_constructor(tarn):
    assert tarn.TnString("abcdef", 3).GetAscii() == "abc"
    assert tarn.TnString("ab", 100).GetAscii() == "ab"
    with pytest.raises(TypeError, match="overloaded function 'new_TnString'"):
        tarn.TnString("abc", 4294967296)


def test_overload_message_on_bad_arguments(tarn):
    with pytest.raises(TypeError) as error:
        tarn.TnString(5)
    assert str(error.value) == (
        "Wrong number or type of arguments for overloaded function 'new_TnString'.\n"
        "  Possible C/C++ prototypes are:\n"
        "    TnString::TnString()\n"
        "    TnString::TnString(TnString const &)\n"
        "    TnString::TnString(char const *)\n"
        "    TnString::TnString(char const *,unsigned int)\n"
        "    TnString::TnString(wchar_t const *)\n")
    with pytest.raises(TypeError) as error:
        tarn.TnString("a", 1, 2)
    assert str(error.value).startswith(
        "new_TnString expected at most 2 arguments, got 3\nAdditional information:\n"
        "Wrong number or type of arguments for overloaded function 'new_TnString'.")


def test_null_text(tarn):
    null = tarn.TnString(None)
    assert null.GetAscii() is None
    assert null.GetUnicode() is None
    assert null == None  # noqa: E711 - a null text equals the null wide text
    assert null != ""


def test_undecodable_bytes_come_back_as_surrogates(tarn):
    text = tarn.TnString("a\udcff\udcc3b")  # escaped bytes 0xFF and a lone 0xC3
    assert text.GetAscii() == "a\udcff\udcc3b"
    assert text.GetAscii().encode("utf-8", "surrogateescape") == b"a\xff\xc3b"
    assert text.GetLength() == 4


def test_embedded_null_is_refused_not_cut(tarn, base):
    text = tarn.TnString("x")
    with pytest.raises(TypeError, match="Argument 2: failed to create TnString from Python string"):
        base.TnString___iadd__(text, "a\0b")
    assert text.GetAscii() == "x"


def test_refused_strings_keep_the_message_and_note_the_type_given(tarn):
    # The message is the documented text alone: what was given and what is
    # taken travel as the exception's note, which a traceback prints.
    failed = ": failed to create TnString from Python string"
    takes = "takes str or TnString, not "
    for call, position, note in [(lambda: tarn.TnSystem().FindDevice(b"CAM-0042"), 2, takes + "bytes"),
                                 (lambda: tarn.TnSystem().FindDevice(42), 2, takes + "int"),
                                 (lambda: tarn.TnGenParameterArray().SetStringValue("DeviceUserID", b"x"), 3,
                                  takes + "bytes"),
                                 (lambda: tarn.TnString("x").__iadd__("a\0b"), 2, "the str holds a null character")]:
        with pytest.raises(TypeError) as error:
            call()
        assert str(error.value) == "Argument %d%s" % (position, failed)
        assert error.value.__notes__ == [note]
        assert traceback.format_exception(error.value)[-1] == note + "\n"
