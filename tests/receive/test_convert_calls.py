"""The converter's and the filters' functions as Python calls them: overload
dispatch and its messages, argument conversion, results and documentation."""

import numpy as np
import pytest

import figures
import imaging


def message(call, *args):
    with pytest.raises(Exception) as raised:
        call(*args)
    return raised.type, str(raised.value)


CONVERT = ["TnBufferConverter::Convert(TnBuffer const *,TnBuffer *,bool,bool)",
           "TnBufferConverter::Convert(TnBuffer const *,TnBuffer *,bool)",
           "TnBufferConverter::Convert(TnBuffer const *,TnBuffer *)",
           "TnBufferConverter::Convert(ITnImage const *,TnBuffer *,bool,bool)",
           "TnBufferConverter::Convert(ITnImage const *,TnBuffer *,bool)",
           "TnBufferConverter::Convert(ITnImage const *,TnBuffer *)"]


def overload(function, prototypes):
    return (f"Wrong number or type of arguments for overloaded function '{function}'.\n"
            "  Possible C/C++ prototypes are:\n" + "".join(f"    {p}\n" for p in prototypes))


def test_converter_dispatch_and_messages(rx, receive, tarn):
    constructor = overload("new_TnBufferConverter", ["TnBufferConverter::TnBufferConverter(int32_t)",
                                                      "TnBufferConverter::TnBufferConverter()"])
    for args in [(2**31,), (1.0,), ("2",), (1, 2)]:
        assert message(receive.new_TnBufferConverter, *args)[1].endswith(constructor)
    converter = rx.TnBufferConverter(-5)
    source = imaging.image_buffer(np.zeros(64, np.uint8), tarn.TnPixelMono8, 8, 8)
    destination = imaging.destination(tarn.TnPixelMono16)
    # Flags must be bools; at most five arguments.
    assert message(receive.TnBufferConverter_Convert, converter, source, destination, 1) == (
        TypeError, overload("TnBufferConverter_Convert", CONVERT))
    assert message(receive.TnBufferConverter_Convert, converter, source) == (
        TypeError, overload("TnBufferConverter_Convert", CONVERT))
    assert message(receive.TnBufferConverter_Convert, converter, source, destination, True, False, 6) == (
        TypeError, "TnBufferConverter_Convert expected at most 5 arguments, got 6\nAdditional information:\n" +
        overload("TnBufferConverter_Convert", CONVERT))
    # Three arguments are (True, False); the buffer comes back as a new proxy.
    result, out = receive.TnBufferConverter_Convert(converter, source, destination)
    assert result.IsOK() and out == destination and out is not destination
    assert type(out) is tarn.TnBuffer and type(result).__name__ == "TnResult"
    result, out = receive.TnBufferConverter_Convert(converter, source.GetImage(), destination, True, True)
    assert result.IsOK() and out == destination
    assert receive.TnBufferConverter_Convert(converter, None, destination, True)[1] is None
    # Single-form functions.
    assert receive.TnBufferConverter_IsConversionSupported(tarn.TnPixelMono8, tarn.TnPixelMono16) is True
    assert receive.TnBufferConverter_IsConversionSupported(tarn.TnPixelMono16, tarn.TnPixelMono10) is False
    for args, position in [(("x", 1), 1), ((1, 2**31), 2)]:
        expected = (f"in method 'TnBufferConverter_IsConversionSupported', argument {position} of type "
                    "'TnPixelType'")
        assert message(receive.TnBufferConverter_IsConversionSupported, *args)[1] == expected
    assert message(receive.TnBufferConverter_SetBayerFilter, converter, "3") == (
        TypeError, "in method 'TnBufferConverter_SetBayerFilter', argument 2 of type 'TnBayerFilterType'")
    assert message(receive.TnBufferConverter_SetBiColorFilter, converter, 2**31) == (
        OverflowError, "in method 'TnBufferConverter_SetBiColorFilter', argument 2 of type 'TnBiColorFilterType'")
    assert message(receive.TnBufferConverter_SetConversionThreadsPriority, converter, -1) == (
        OverflowError, "in method 'TnBufferConverter_SetConversionThreadsPriority', argument 2 of type 'uint32_t'")
    assert message(receive.TnBufferConverter_SetRGBFilter, converter, None) == (
        TypeError, "invalid null reference in method 'TnBufferConverter_SetRGBFilter', argument 2 of type "
                   "'TnBufferConverterRGBFilter &'")
    assert message(receive.TnBufferConverter_SetRGBFilter, converter, source) == (
        TypeError, "in method 'TnBufferConverter_SetRGBFilter', argument 2 of type 'TnBufferConverterRGBFilter &'")
    assert message(receive.TnBufferConverter_GetBayerFilter, None)[0] is TypeError
    assert receive.delete_TnBufferConverter(None) is None


def test_rgb_filter_values(rx, receive, tarn):
    colour = rx.TnBufferConverterRGBFilter()
    assert (colour.GetGainR(), colour.GetGainG(), colour.GetGainB(), colour.GetOffsetR()) == (1.0, 1.0, 1.0, 0)
    receive.TnBufferConverterRGBFilter_SetGainG(colour, 2)
    assert colour.GetGainG() == 2.0 and type(colour.GetGainG()) is float
    for value in (10**400, "1", None):
        assert message(receive.TnBufferConverterRGBFilter_SetGainR, colour, value) == (
            TypeError, "in method 'TnBufferConverterRGBFilter_SetGainR', argument 2 of type 'double'")
    assert message(receive.TnBufferConverterRGBFilter_SetOffsetR, colour, 2**31)[1] == (
        "in method 'TnBufferConverterRGBFilter_SetOffsetR', argument 2 of type 'int32_t'")
    assert message(receive.TnBufferConverterRGBFilter_WhiteBalance, colour, 5) == (
        TypeError, "in method 'TnBufferConverterRGBFilter_WhiteBalance', argument 2 of type 'TnBuffer *'")
    colour.SetOffsetB(-7)
    assert colour.Reset() is None and colour.GetGainG() == 1.0 and colour.GetOffsetB() == 0


def test_filter_functions(rx, receive, tarn):
    compressor, decompressor = rx.TnCompressionFilter(), rx.TnDecompressionFilter()
    for owner, self_ in [("ITnFilter", compressor), ("TnCompressionFilter", compressor),
                         ("TnDecompressionFilter", decompressor)]:
        assert message(getattr(receive, f"{owner}_GetThreadsPriority"), self_, None) == (
            TypeError, f"invalid null reference in method '{owner}_GetThreadsPriority', argument 2 of type "
                       "'uint32_t &'")
        assert message(getattr(receive, f"{owner}_GetThreadsPriority"), self_, 3) == (
            TypeError, f"in method '{owner}_GetThreadsPriority', argument 2 of type 'uint32_t &'")
        assert message(getattr(receive, f"{owner}_Execute"), self_, 5, None) == (
            TypeError, f"in method '{owner}_Execute', argument 2 of type 'TnBuffer const *'")
        assert message(getattr(receive, f"{owner}_Execute"), self_, None, 5) == (
            TypeError, f"in method '{owner}_Execute', argument 3 of type 'TnBuffer *'")
        assert message(getattr(receive, f"{owner}_SetThreadCount"), self_, -1) == (
            OverflowError, f"in method '{owner}_SetThreadCount', argument 2 of type 'uint32_t'")
        result, out = getattr(receive, f"{owner}_Execute")(self_, None, None)
        assert result.GetCode() == rx.TN_INVALID_PARAMETER and out is None
    assert message(receive.ITnFilter_GetThreadCount, 5) == (
        TypeError, "in method 'ITnFilter_GetThreadCount', argument 1 of type 'ITnFilter const *'")
    assert message(receive.TnCompressionFilter_Execute, decompressor, None, None) == (
        TypeError, "in method 'TnCompressionFilter_Execute', argument 1 of type 'TnCompressionFilter *'")
    assert message(receive.TnCompressionFilter_SetEncoding, compressor, 1.5) == (
        TypeError, "in method 'TnCompressionFilter_SetEncoding', argument 2 of type 'TnEncodingEnum'")
    assert compressor.SetEncoding(7).GetCode() == rx.TN_NOT_SUPPORTED
    assert message(receive.TnDecompressionFilter_IsCompressed, 5) == (
        TypeError, "in method 'TnDecompressionFilter_IsCompressed', argument 1 of type 'TnBuffer const *'")
    assert message(receive.TnDecompressionFilter_GetOutputFormatFor, 5) == (
        TypeError, "in method 'TnDecompressionFilter_GetOutputFormatFor', argument 1 of type 'TnBuffer const *'")
    assert message(receive.TnDecompressionFilter_GetOutputFormatFor, (tarn.TnBuffer(),))[0] is TypeError
    result, *values = receive.TnDecompressionFilter_GetOutputFormatFor(tarn.TnBuffer())
    assert values == [0, 0, 0] and not result.IsOK()
    assert not hasattr(receive, "new_ITnFilter") and not hasattr(receive, "ITnFilter_swiginit")
    with pytest.raises(AttributeError):
        rx.ITnFilter()


def test_documentation(receive):
    names = {owner: functions for owner, functions in figures.classes_of("receive_functions.txt").items()
             if owner in ("TnBufferConverter", "TnBufferConverterRGBFilter", "ITnFilter", "TnCompressionFilter",
                          "TnDecompressionFilter")}
    for owner, functions in names.items():
        for name, _ in functions:
            doc = getattr(receive, name).__doc__
            if name.endswith(("_swigregister", "_swiginit")):
                assert doc is None, name
            else:
                assert doc and doc.strip(), name
    assert receive.TnBufferConverter_Convert.__doc__.lstrip("\n").splitlines()[0] == (
        "Convert(*args) -> TnResult, TnBuffer")
