"""The receive module's start-up: its function table class by class, its
constants, its type records and its place beside the base module."""

import pathlib
import subprocess
import sys
from collections import Counter

import pytest

import figures
from children import child_env

CHILD = pathlib.Path(__file__).resolve().with_name("receive_startup_child.py")


BASE_CLASSES = figures.classes_of("base_functions.txt")
# The receive module's own copies of the core and GenICam classes: the base
# module's functions, but for the pixel-type functions and uint24_t.
CORE = figures.CORE_CLASSES
DEVICE_CLASSES = figures.classes_of("receive_functions.txt")
DEVICE_COUNTS = {"TnDeviceEventSink": 11, "TnDevice": 28, "TnDeviceGEV": 16, "TnDeviceU3V": 6,
                 "TnDeviceVexmoorProtocol": 3, "ITnDeviceAdapter": 33, "TnDeviceAdapter": 35,
                 "TnDeviceSerialPort": 21, "IUpdaterObserver": 7, "TnGenFUUpdater": 9,
                 "TnStream": 17, "TnStreamGEV": 21, "TnStreamRTP": 17, "TnStreamU3V": 7, "TnPipeline": 21,
                 "TnPipelineEventSink": 12, "TnBufferConverter": 14, "TnBufferConverterRGBFilter": 18, "ITnFilter": 7,
                 "TnCompressionFilter": 11, "TnDecompressionFilter": 11}

# The whole module: 515 functions (242 VARARGS, 11 NOARGS, 262 O) and 82
# type records.
MODULE_FUNCTIONS = {"VARARGS": 242, "NOARGS": 11, "O": 262}
# The converter's, the filters' and the RTP stream's own figures.
CLASS_FORMS = {"TnBufferConverter": {"VARARGS": 8, "O": 6},
               "TnBufferConverterRGBFilter": {"VARARGS": 8, "O": 9, "NOARGS": 1},
               "ITnFilter": {"VARARGS": 4, "O": 3},
               "TnCompressionFilter": {"VARARGS": 6, "O": 4, "NOARGS": 1},
               "TnDecompressionFilter": {"VARARGS": 5, "O": 5, "NOARGS": 1},
               "TnStreamRTP": {"VARARGS": 5, "O": 11, "NOARGS": 1}}

RECEIVE_GROUPS = [
    ("TnEncodingUnknown", -1), ("TnEncodingPTC1", 0),
    ("TnBayerFilterSimple", 1), ("TnBayerFilter3X3", 2),
    ("TnBiColorFilter1X2", 1), ("TnBiColorFilter1X3", 2),
    ("TnStreamTypeUnknown", -1), ("TnStreamTypeGEV", 0), ("TnStreamTypeU3V", 1), ("TnStreamTypeRTP", 2),
    ("TnDataReceiverTypeUnknown", -1), ("TnDataReceiverTypeTarnDriver", 0), ("TnDataReceiverTypeUserMode", 1),
    ("TnDataReceiverTypeTCP", 2), ("TnDataReceiverTypeGEVDriverDMA", 3),
    ("TnDeviceSerialInvalid", -1), ("TnDeviceSerial0", 0), ("TnDeviceSerial1", 1),
] + [(f"TnDeviceSerialBulk{n}", n + 2) for n in range(8)]

# The module's 82 type records.
TYPE_RECORDS = """_p_ITnDeviceAdapter _p_ITnDeviceEventSink _p_ITnFilter _p_ITnImage _p_IUpdaterObserver
_p_TN_GENAPI_NS__INode _p_TN_GENAPI_NS__INodeMap _p_TnAccessType _p_TnBayerFilterType _p_TnBiColorFilterType
_p_TnBuffer _p_TnBufferConverter _p_TnBufferConverterRGBFilter _p_TnCompressionFilter _p_TnDataReceiverType
_p_TnDecompressionFilter _p_TnDevice _p_TnDeviceAdapter _p_TnDeviceClass _p_TnDeviceEventSink _p_TnDeviceGEV
_p_TnDeviceInfo _p_TnDeviceVexmoorProtocol _p_TnDeviceSerial _p_TnDeviceSerialPort _p_TnDeviceSerialPortEchoSink
_p_TnDeviceType _p_TnDeviceU3V _p_TnEncodingEnum _p_TnGenAccessMode _p_TnGenBoolean _p_TnGenCache _p_TnGenCategory
_p_TnGenCommand _p_TnGenEndianness _p_TnGenEnum _p_TnGenEnumEntry _p_TnGenEventSink _p_TnGenFUUpdater
_p_TnGenFloat _p_TnGenInteger _p_TnGenNameSpace _p_TnGenParameter _p_TnGenParameterArray _p_TnGenParameterList
_p_TnGenRefresh _p_TnGenRegister _p_TnGenRepresentation _p_TnGenSign _p_TnGenStateStack _p_TnGenString
_p_TnGenType _p_TnGenVisibility _p_TnLogSink _p_TnLogger _p_TnPipeline _p_TnPipelineEventSink _p_TnPixelType
_p_TnResult _p_TnSessionInfoSDP _p_TnStream _p_TnStreamEventSink _p_TnStreamGEV _p_TnStreamRTP _p_TnStreamType
_p_TnStreamU3V _p_TnString _p_TnStringList _p_bool _p_char _p_double _p_int _p_long_long _p_p_TnBuffer
_p_p_TnGenEnumEntry _p_short _p_signed_char _p_unsigned_char _p_unsigned_int _p_unsigned_long_long
_p_unsigned_short _p_wchar_t""".split()


def test_figures_so_far(receive, capsys):
    counts = figures.form_counts(receive)
    with capsys.disabled():
        print("\n" + figures.report(receive))
    assert {form: counts[form] for form in MODULE_FUNCTIONS} == MODULE_FUNCTIONS
    assert len(TYPE_RECORDS) == 82


def test_core_classes_are_the_base_modules(receive):
    table = [(f.name, f.form) for f in figures.functions(receive)]
    core = [entry for owner in ("TnString", "TnResult") for entry in BASE_CLASSES[owner]]
    assert table[: len(core)] == core
    for owner in CORE:
        names = {name for name, _ in BASE_CLASSES[owner]}
        present = {f.name: f.form for f in figures.functions(receive) if f.name in names}
        assert present == dict(BASE_CLASSES[owner]), owner
    assert not hasattr(receive, "TnPixelTypeToString")
    assert not hasattr(receive, "new_uint24_t")


def test_device_classes_functions_and_forms(receive):
    assert {owner: len(functions) for owner, functions in DEVICE_CLASSES.items()} == DEVICE_COUNTS
    table = [(f.name, f.form) for f in figures.functions(receive)]
    device = [entry for functions in DEVICE_CLASSES.values() for entry in functions]
    core = sum(len(BASE_CLASSES[owner]) for owner in CORE)
    assert len(table) == core + len(device)
    assert sorted(table[core:]) == sorted(device)
    noargs = [name for name, form in table if form == "NOARGS"]
    assert sorted(noargs) == sorted(["new_TnGenParameterArray", "new_TnGenParameterList", "new_TnDeviceGEV",
                                     "new_TnDeviceU3V", "new_TnDeviceSerialPort", "new_TnStreamGEV",
                                     "new_TnStreamRTP", "new_TnStreamU3V", "new_TnBufferConverterRGBFilter",
                                     "new_TnCompressionFilter", "new_TnDecompressionFilter"])
    for owner, forms in CLASS_FORMS.items():
        assert dict(Counter(form for _, form in DEVICE_CLASSES[owner])) == forms, owner


def test_constants_names_values_and_order(receive, base):
    shared = [(name, value) for name, value in figures.constants(base)][: 37 + 24 + 251 + 6 + 44]
    assert figures.constants(receive) == shared + RECEIVE_GROUPS
    assert len(figures.constants(receive)) == 388
    # The device type, device class and access type cross as value objects:
    # no constants of theirs here.
    for name in ("TnDeviceTypeGEV", "TnDeviceClassTransmitter", "TnAccessControl", "TnPayloadTypeImage"):
        assert not hasattr(receive, name)


def test_type_records(receive):
    records = {r.name: r for r in figures.type_records(receive)}
    assert set(records) == set(TYPE_RECORDS)
    assert set(records["_p_TnDevice"].casts) == {"_p_TnDeviceGEV", "_p_TnDeviceU3V"}
    assert {"_p_TnStreamGEV", "_p_TnStreamRTP", "_p_TnStreamU3V"} <= set(records["_p_TnStream"].casts)
    assert records["_p_TnSessionInfoSDP"].proxy_class is None
    for base in ("_p_ITnDeviceAdapter", "_p_TnDeviceEventSink", "_p_TnGenEventSink"):
        assert "_p_TnDeviceAdapter" in records[base].casts
    assert records["_p_TnDeviceVexmoorProtocol"].casts == []
    for derived in ("_p_TnCompressionFilter", "_p_TnDecompressionFilter"):
        assert records["_p_ITnFilter"].casts.count(derived) == 1
    for value in ("_p_TnDeviceType", "_p_TnDeviceClass", "_p_TnAccessType"):
        assert records[value].proxy_class is None


@pytest.mark.parametrize("order", [("tarn_receive_313", "tarn_base_313"), ("tarn_base_313", "tarn_receive_313")])
def test_import_in_either_order_from_any_directory(order, tmp_path):
    done = subprocess.run([sys.executable, str(CHILD), *order], cwd=tmp_path, capture_output=True, text=True,
                          env=child_env(), timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == f"imported {order[0]} {order[1]}"
    assert "memory leak" not in done.stdout + done.stderr


def test_failed_numpy_import_raises_importerror(import_with_broken_numpy):
    done = import_with_broken_numpy("_tarn_receive_313")
    assert done.stdout.strip() == "ImportError: numpy.core.multiarray failed to import"
    assert "_ARRAY_API" in done.stderr
