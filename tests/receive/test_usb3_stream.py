import pathlib
"""The USB3 Vision stream: its calling forms and messages, and frames of a
simulated USB3 Vision device through a pipeline into numpy."""

import pytest

CHILD = pathlib.Path(__file__).resolve().with_name("usb3_stream_child.py")

U3V_OPEN = [
    "TnStreamU3V::Open(TnDeviceInfo const *)",
    "TnStreamU3V::Open(TnDeviceInfo const *,uint16_t,uint32_t,uint32_t,uint32_t)",
    "TnStreamU3V::Open(TnDeviceInfo const *,uint16_t,uint32_t,uint32_t)",
    "TnStreamU3V::Open(TnDeviceInfo const *,uint16_t,uint32_t)",
    "TnStreamU3V::Open(TnDeviceInfo const *,uint16_t)",
    "TnStreamU3V::Open(TnString const &)",
    "TnStreamU3V::Open(TnString const &,uint16_t,uint32_t,uint32_t,uint32_t)",
    "TnStreamU3V::Open(TnString const &,uint16_t,uint32_t,uint32_t)",
    "TnStreamU3V::Open(TnString const &,uint16_t,uint32_t)",
    "TnStreamU3V::Open(TnString const &,uint16_t)",
]


def message(call, *args):
    with pytest.raises(Exception) as raised:
        call(*args)
    return raised.type, str(raised.value)


def test_usb3_stream_forms_and_messages(rx, receive, tarn):
    stream = rx.TnStreamU3V()
    info = tarn.TnDeviceInfoU3V()
    overload = (TypeError, "Wrong number or type of arguments for overloaded function 'TnStreamU3V_Open'.\n"
                           "  Possible C/C++ prototypes are:\n" + "".join(f"    {p}\n" for p in U3V_OPEN))
    for args in [(info, 65536), (info, 0, -1), (info, 0, 64, 2**32), (info, 0, 1.5)]:
        assert message(receive.TnStreamU3V_Open, stream, *args) == overload, args
    assert message(receive.TnStreamU3V_Open, stream) == overload
    for args in [(5,), (5, 0), (stream,)]:
        assert message(receive.TnStreamU3V_Open, stream, *args) == (
            TypeError, "Argument 2: failed to create TnString from Python string"), args
    error, text = message(receive.TnStreamU3V_Open, stream, info, 0, 64, 512, 64, 1)
    assert text.startswith("TnStreamU3V_Open expected at most 6 arguments, got 7\nAdditional information:\n")
    # None is no stream, before the SDK is called.
    for name, args in [("TnStreamU3V_GetGUID", None), ("TnStreamU3V_GetType", None),
                       ("TnStreamU3V_Open", (None, info, 0))]:
        error, text = message(getattr(receive, name), *args) if args else message(getattr(receive, name), args)
        assert error is TypeError and text.startswith(f"in method '{name}', argument 1 of type 'TnStreamU3V"), text
    assert message(receive.TnStreamU3V_GetGUID, rx.TnStreamGEV()) == (
        TypeError, "in method 'TnStreamU3V_GetGUID', argument 1 of type 'TnStreamU3V *'")
    assert message(receive.TnStreamU3V_GetType, rx.TnStreamGEV()) == (
        TypeError, "in method 'TnStreamU3V_GetType', argument 1 of type 'TnStreamU3V const *'")
    assert receive.delete_TnStreamU3V(None) is None
    # Without a simulated device of that name the stream does not open; the
    # stream base and the pipeline take the stream.
    assert stream.Open(info, 0, 16).GetCode() == rx.TN_NOT_FOUND
    assert stream.Open(tarn.TnDeviceInfoGEV()).GetCode() == rx.TN_INVALID_PARAMETER
    assert stream.GetType() == rx.TnStream.GetType(stream) == rx.TnStreamTypeU3V
    assert stream.GetGUID() == "" and rx.TnStream.IsOpen(stream) is False
    assert rx.TnPipeline(stream).GetBufferCount() > 0


SIMULATED = """
[controller]
name = sim0

[u3v]
vendor = Example Vision
model = EX-1
serial = 1234
guid = EXAMPLE-0001
controller = sim0
"""


def test_simulated_device_frames_through_a_pipeline_into_numpy(isolated, tmp_path):
    devices = tmp_path / "devices.ini"
    devices.write_text(SIMULATED)
    out = isolated(CHILD, "simulated_device_frames_through_a_pipeline_into_numpy", env={"TARN_SIMULATED_DEVICES": str(devices)})
    assert out["stream"] == ["OK", "TnStreamU3V", "EXAMPLE-0001"]
    assert out["busy"] == "BUSY"
    assert out["received"] is True
    assert out["frames"] == [[240, 320], "uint16", True, 0]
    assert out["statistics"][0] >= 8 and out["statistics"][1] == 0
    assert out["defaults"] == [16, 512, 64]
