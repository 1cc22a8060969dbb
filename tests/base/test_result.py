import pytest


def test_constructors(tarn):
    assert tarn.TnResult().IsOK()
    described = tarn.TnResult(5, "five")
    assert (described.GetCode(), described.GetDescription(), described.HasDescription()) == (5, "five", True)
    with_os = tarn.TnResult(5, 7)
    assert (with_os.GetCode(), with_os.GetOSCode(), with_os.HasDescription()) == (5, 7, False)
    full = tarn.TnResult(tarn.TN_FILE_ERROR, 2, tarn.TnString("missing"))
    assert (full.GetCode(), full.GetOSCode(), full.GetDescription()) == (16, 2, "missing")
    copy = tarn.TnResult(full)
    assert copy.GetDescription() == "missing" and copy == full
    assert tarn.TnResult(4294967295).GetCode() == 4294967295


def test_dispatch_failures(tarn):
    with pytest.raises(TypeError) as error:
        tarn.TnResult(5, 1.0)
    assert str(error.value) == "Argument 2: failed to create TnString from Python string"
    with pytest.raises(TypeError) as error:
        tarn.TnResult(5, 4294967296)
    assert str(error.value) == "Argument 2: failed to create TnString from Python string"
    with pytest.raises(TypeError) as error:
        tarn.TnResult(1, 2, 3)
    assert str(error.value) == "Argument 3: failed to create TnString from Python string"
    for arguments in ((-1,), (None,), ("OK",), (-1, 2)):
        with pytest.raises(TypeError, match="Wrong number or type of arguments for overloaded function 'new_TnResult'"):
            tarn.TnResult(*arguments)
    with pytest.raises(OverflowError) as error:
        tarn.TnResult().SetCode(-1)
    assert str(error.value) == "in method 'TnResult_SetCode', argument 2 of type 'uint32_t'"


def test_states(tarn):
    ok, pending, failed = tarn.TnResult(tarn.TN_OK), tarn.TnResult(tarn.TN_PENDING), tarn.TnResult(tarn.TN_ABORTED)
    assert [ok.IsOK(), ok.IsSuccess(), ok.IsPending(), ok.IsFailure()] == [True, True, False, False]
    assert [pending.IsOK(), pending.IsSuccess(), pending.IsPending(), pending.IsFailure()] == [False, True, True, False]
    assert [failed.IsOK(), failed.IsSuccess(), failed.IsFailure()] == [False, False, True]
    assert tarn.TnResult(tarn.TN_AUTO_ABORTED) != failed


def test_comparison(tarn):
    result = tarn.TnResult(tarn.TN_TIMEOUT)
    assert result == tarn.TN_TIMEOUT
    assert result == tarn.TnResult(tarn.TN_TIMEOUT, "other text")
    assert result != tarn.TN_OK
    assert not result == "TIMEOUT"
    assert result != "TIMEOUT"
    with pytest.raises(TypeError):
        hash(result) if False else {result: 1}  # proxies with __eq__ are unhashable


def test_code_strings_and_setters(tarn):
    result = tarn.TnResult(tarn.TN_NOT_FOUND)
    assert result.GetCodeString() == "NOT_FOUND"
    assert result.GetInternalCode() == tarn.TN_NOT_FOUND
    result.SetCode(tarn.TN_BUSY)
    assert result.GetCodeString() == "BUSY"
    assert not result.HasDescription() and result.GetDescription() == ""
    result.SetDescription("device busy")
    assert result.GetDescription() == "device busy"
    with pytest.raises(TypeError, match="Argument 2: failed to create TnString from Python string"):
        result.SetDescription(3)


def test_in_place_or_combines_and_keeps_one_owner(tarn, base):
    result = tarn.TnResult()
    before = result
    result |= tarn.TnResult(tarn.TN_TIMEOUT)
    assert result.GetCode() == tarn.TN_TIMEOUT
    assert result.this.own() and not before.this.own()
    result |= tarn.TnResult(tarn.TN_BUSY)
    assert result.GetCode() == tarn.TN_TIMEOUT  # the first failure stays
    with pytest.raises(TypeError) as error:
        base.TnResult___ior__(result, 1)
    assert str(error.value) == "in method 'TnResult___ior__', argument 2 of type 'TnResult const &'"
    with pytest.raises(TypeError) as error:
        base.TnResult___ior__(result, None)
    assert str(error.value) == "invalid null reference in method 'TnResult___ior__', argument 2 of type 'TnResult const &'"


def test_results_and_strings_print_readably(tarn, base):
    assert repr(tarn.TnResult(tarn.TN_TIMEOUT, "no answer")) == "<TnResult TIMEOUT: no answer>"
    assert str(tarn.TnResult()) == "<TnResult OK>"
    assert repr(tarn.TnResult(tarn.TN_ABORTED, "")) == "<TnResult ABORTED>"
    assert repr(tarn.TnResult(0x3039)) == "<TnResult UNKNOWN 0x3039>"
    assert repr(tarn.TnString("Kamera Süd")) == "TnString('Kamera Süd')"
    assert str(tarn.TnString("Kamera Süd")) == "Kamera Süd"
    # A destroyed object says so instead of failing.
    gone = tarn.TnResult(tarn.TN_TIMEOUT)
    base.delete_TnResult(gone)
    assert repr(gone) == "<TnResult, freed>"
