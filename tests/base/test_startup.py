"""The base module's start-up: function table, constants, shared type table
and the numpy import."""

import pathlib
import sys

import pytest

import figures

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


def expected_functions():
    """Every finished class with its functions in table order and their
    calling forms."""
    classes = {}
    for line in (DATA / "base_functions.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            owner, name, form = line.split()
            classes.setdefault(owner, []).append((name, form))
    return classes


CLASSES = expected_functions()
COUNTS = {"TnString": 11, "TnResult": 19, "TnPixelType": 7, "TnLogger": 11, "TnLogSink": 6, "uint24_t": 6,
          "TnGenParameterArray": 36, "TnGenParameterList": 11, "TnGenStateStack": 9, "TnGenEventSink": 3,
          "TnGenParameter": 27, "TnGenInteger": 8, "TnGenFloat": 7, "TnGenEnum": 8, "TnGenEnumEntry": 10,
          "TnGenBoolean": 3, "TnGenString": 4, "TnGenCommand": 3, "TnGenRegister": 4, "TnGenCategory": 10,
          "TnBuffer": 67, "ITnChunkData": 15, "TnChunkData": 7, "TnRawData": 7, "ITnImage": 14, "TnImage": 24,
          "ITnImageJPEG": 7, "ITnMultiPartSection": 14, "ITnMultiPartContainerReader": 4,
          "ITnMultiPartContainerWriter": 14, "ITnMultiPartContainer": 2,
          "GenDCContainerFlagsGroup": 6, "GenDCContainerVariableFieldsGroup": 6, "GenDCContainerHeaderBase": 36,
          "GenDCContainerHeader": 7, "GenDCFlowTableHeader": 18, "GenDCFlowTable": 7, "GenDCComponentFlagsGroup": 6,
          "GenDCComponentHeaderBase": 32, "GenDCComponentHeader": 7, "GenDCPartFlagsGroup": 6,
          "GenDCPartHeaderBase": 22, "GenDCPartHeader": 4, "GenDCPartHeader1DBase": 14, "GenDCPartHeader1D": 4,
          "GenDCPartHeaderGenICamChunk": 4, "GenDCPartHeaderGenICamXML": 4, "GenDCPartHeader2DBase": 14,
          "GenDCPartHeader2D": 4, "GenDCPartHeaderJPEG": 4, "GenDCPartHeaderJPEG2000": 4,
          "GenDCInfoTypeSpecificH264": 20, "GenDCInfoTypeSpecificJPEG": 4, "GenDCPartHeaderH264": 6,
          "TnGenDCPartMetadataFields": 14, "TnGenDCPart1DFields": 14, "TnGenDCPart2DFields": 14,
          "TnGenDCPartH264Fields": 20, "H264Flags": 16, "ITnGenericDataContainer": 11, "ITnGenDCManager": 5,
          "ITnGenericDataComponent": 20, "ITnGenericDataPart": 29, "ITnGenDCImage": 13, "ITnGenDCChunkData": 10,
          "ITnGenDCChunkWriter": 4,
          "TnSystem": 20, "TnInterface": 12, "TnNetworkAdapter": 11, "TnUSBHostController": 9, "TnDeviceInfo": 16,
          "TnDeviceInfoGEV": 21, "TnDeviceInfoVexmoorProtocol": 14, "TnDeviceInfoUSB": 5, "TnDeviceInfoU3V": 24,
          "TnSessionInfo": 12, "IPConfig": 8}

MODULE_FUNCTIONS = {"VARARGS": 305, "NOARGS": 39, "O": 595}
MODULE_TYPE_RECORDS = 124


def test_module_figures_against_the_totals(base, capsys):
    counts = figures.form_counts(base)
    with capsys.disabled():
        print("\n" + figures.report(base))
    assert {form: counts[form] for form in MODULE_FUNCTIONS} == MODULE_FUNCTIONS
    assert sum(counts.values()) == 939
    assert len(figures.type_records(base)) == MODULE_TYPE_RECORDS


def test_class_counts():
    assert {owner: len(functions) for owner, functions in CLASSES.items()} == COUNTS


def expected_constants():
    rows = []
    for line in (DATA / "base_constants.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            group, name, value = line.split()
            rows.append((int(group), name, int(value)))
    return rows


def test_function_table_starts_with_the_core_classes(base):
    table = [(f.name, f.form) for f in figures.functions(base)]
    assert table[:3] == [("new_TnString", "VARARGS"), ("delete_TnString", "O"), ("TnString___iadd__", "VARARGS")]
    core = [entry for owner in ("TnString", "TnResult") for entry in CLASSES[owner]]
    assert table[: len(core)] == core


@pytest.mark.parametrize("prefix", sorted(CLASSES))
def test_each_class_has_its_functions(base, prefix):
    names = {name for name, _ in CLASSES[prefix]}
    present = {f.name: f.form for f in figures.functions(base) if f.name in names}
    assert present == dict(CLASSES[prefix])


def test_functions_carry_documentation(base):
    assert "*Overload 1:*" in base.new_TnString.__doc__
    assert base.TnPixelTypeToString.__doc__.strip()


def test_constants_names_values_and_order(base):
    expected = expected_constants()
    assert len(expected) == 549
    assert figures.constants(base) == [(name, value) for _, name, value in expected]
    assert base.TN_OK == 0
    assert base.TNPIXELCUSTOM == -2147483648
    assert base.TNPIXELCOLORMASK == -16777216
    assert base.TN_PENDING == 65535
    assert [count for count in _group_sizes(expected)] == [37, 24, 251, 6, 44, 15, 13, 126, 33]


def _group_sizes(rows):
    sizes = {}
    for group, _, _ in rows:
        sizes[group] = sizes.get(group, 0) + 1
    return [sizes[g] for g in sorted(sizes)]


def test_module_keeps_no_other_constant_objects(base):
    values = [v for k, v in vars(base).items() if not k.startswith("__")]
    assert all(callable(v) or type(v) is int for v in values)


def test_type_table_is_shared_through_the_capsule(base, tarn, hooks):
    runtime = sys.modules["swig_runtime_data4"]
    assert type(runtime.type_pointer_capsule).__name__ == "PyCapsule"
    assert figures.ring_size() >= 2
    records = figures.type_records(base)
    names = [r.name for r in records]
    assert names == sorted(names)
    by_name = {r.name: r for r in records}
    assert by_name["_p_TnString"].readable == "TnString *"
    assert by_name["_p_TnString"].proxy_class is tarn.TnString
    # An object made by another module of the ring gets this module's proxy
    # class and is accepted by its functions.
    value = hooks.MakeUint24(0x030201)
    assert isinstance(value, tarn.uint24_t)
    assert hooks.Uint24Value(tarn.uint24_t(value)) == 0x030201


def test_failed_numpy_import_raises_importerror(import_with_broken_numpy):
    done = import_with_broken_numpy("_tarn_base_313")
    assert done.stdout.strip() == "ImportError: numpy.core.multiarray failed to import"
    assert "_ARRAY_API" in done.stderr  # numpy's own message, printed first
