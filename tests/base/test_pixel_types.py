import pytest

FUNCTIONS = ("TnPixelTypeGetBitsPerPixel", "TnPixelTypeGetPixelSize", "TnPixelTypeGetPixelBitCount",
             "TnPixelTypeGetBitsPerComponent", "TnPixelTypeIsPixelColor", "TnPixelTypeIsPixelHighRes",
             "TnPixelTypeToString")


def test_properties(tarn):
    assert tarn.TnPixelTypeGetBitsPerPixel(tarn.TnPixelRGB8) == 24
    assert tarn.TnPixelTypeGetBitsPerPixel(tarn.TnPixelMono10Packed) == 12
    assert tarn.TnPixelTypeGetBitsPerComponent(tarn.TnPixelMono10Packed) == 10
    assert tarn.TnPixelTypeGetPixelSize(tarn.TnPixelRGBa16) == 64
    assert tarn.TnPixelTypeGetPixelBitCount(tarn.TnPixelRGBa16) == 64
    assert tarn.TnPixelTypeIsPixelColor(tarn.TnPixelBayerGR8) is True
    assert tarn.TnPixelTypeIsPixelColor(tarn.TnPixelYCbCr422_8) is True
    assert tarn.TnPixelTypeIsPixelColor(tarn.TnPixelMono16) is False
    assert tarn.TnPixelTypeIsPixelHighRes(tarn.TnPixelMono12p) is True
    assert tarn.TnPixelTypeIsPixelHighRes(tarn.TnPixelBGR8) is False


def test_names_of_installed_codes(tarn, base):
    codes = {name: value for name, value in vars(base).items() if name.startswith("TnPixel")
             and type(value) is int}
    assert len(codes) == 251
    for name, code in codes.items():
        assert tarn.TnPixelTypeToString(code) == name[len("TnPixel"):]
    assert tarn.TnPixelTypeToString(tarn.TnPixelRGB10p) == "RGB10p"
    assert tarn.TnPixelTypeToString(tarn.TnPixelBayerBG10p) == "BayerBG10p"


def test_custom_codes_are_negative(tarn):
    assert tarn.TnPixelTypeToString(tarn.TNPIXELCUSTOM) == "Custom 0x80000000"
    assert tarn.TnPixelTypeGetBitsPerPixel(tarn.TNPIXELCUSTOM | 0x00100001) == 16
    with pytest.raises(OverflowError) as error:
        tarn.TnPixelTypeToString(2147483648)
    assert str(error.value) == "in method 'TnPixelTypeToString', argument 1 of type 'TnPixelType'"


@pytest.mark.parametrize("name", FUNCTIONS)
def test_argument_checks(base, name):
    function = getattr(base, name)
    with pytest.raises(TypeError) as error:
        function("Mono8")
    assert str(error.value) == f"in method '{name}', argument 1 of type 'TnPixelType'"
    with pytest.raises(OverflowError):
        function(-2147483649)


def test_uint24_value(tarn, base, hooks):
    source = hooks.MakeUint24(0xA1B2C3)
    target = hooks.MakeUint24(0)
    bytes_of_source = base.uint24_t_PixelValue_get(source)
    assert repr(bytes_of_source).startswith("<Swig Object of type 'unsigned char *' at")
    base.uint24_t_PixelValue_set(target, bytes_of_source)
    assert hooks.Uint24Value(target) == 0xA1B2C3
    copy = tarn.uint24_t(source)
    assert copy.this.own() and hooks.Uint24Value(copy) == 0xA1B2C3
    with pytest.raises(TypeError) as error:
        base.uint24_t_PixelValue_set(target, None)
    assert str(error.value) == "invalid null reference in variable 'PixelValue' of type 'uint8_t [3]'"
    for wrong in (b"abc", 1, [1, 2, 3]):
        with pytest.raises(TypeError) as error:
            base.uint24_t_PixelValue_set(target, wrong)
        assert str(error.value) == "in method 'uint24_t_PixelValue_set', argument 2 of type 'uint8_t [3]'"
    with pytest.raises(TypeError) as error:
        base.new_uint24_t(None)
    assert str(error.value) == "invalid null reference in method 'new_uint24_t', argument 1 of type 'uint24_t const &'"
    with pytest.raises(TypeError) as error:
        base.new_uint24_t(5)
    assert str(error.value) == "in method 'new_uint24_t', argument 1 of type 'uint24_t const &'"
