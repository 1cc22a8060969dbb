"""The edge module's start-up: its function table class by class, its
constants in their order, its type records and its place beside the other two
modules in any order of import."""

import itertools
import pathlib
import re
import subprocess
import sys

import numpy
import pytest

import figures
from children import child_env

CHILD = pathlib.Path(__file__).resolve().with_name("edge_startup_child.py")


BASE_CLASSES = figures.classes_of("base_functions.txt")
CORE = figures.CORE_CLASSES
EDGE_CLASSES = figures.classes_of("edge_functions.txt")

# Functions of each class by calling form: (VARARGS, NOARGS, O).
EDGE_FORMS = {
    "ITnUserSetNotify": (2, 0, 4), "ITnVirtualDeviceGEVInfo": (10, 0, 15), "ITnVirtualDeviceGEVStatistics": (0, 0, 22),
    "ITnMessageChannel": (1, 0, 3), "ITnVirtualDeviceGEVEventSink": (9, 0, 4), "ITnVirtualDeviceGEV": (6, 0, 8),
    "ITnSoftDeviceGEV": (4, 0, 2), "TnSoftDeviceGEV": (12, 1, 8), "ITnTransmitterGEV": (2, 0, 5),
    "TnTransmitterGEV": (13, 1, 26), "TnVirtualDeviceGEV": (11, 1, 9), "TnFPSStabilizer": (2, 1, 4),
    "ITnRegisterEventSink": (6, 0, 4), "ITnRegisterInfo": (1, 0, 8), "ITnRegister": (9, 0, 3),
    "ITnRegisterStore": (1, 0, 2), "ITnRegisterMap": (3, 0, 4), "ITnRegisterFactory": (3, 0, 2),
    "ITnGenApiFactory": (46, 0, 2), "ITnStreamingChannelSource": (18, 0, 19),
    "ITnSWStreamingChannelSource": (5, 0, 8), "ITnSWStreamingChannelSourceGenDC": (3, 0, 6),
    "TnStreamingChannelSourceDefault": (18, 0, 17), "ITnTriggerSelector": (3, 0, 10),
    "TnTriggerSelectorDefault": (5, 0, 9), "TnTriggerSelectorAcquisitionStart": (3, 0, 4),
    "TnTriggerSelectorFrameStart": (2, 0, 4), "TnTriggerSelectorLineStart": (3, 0, 4),
    "ITnTriggerCallback": (2, 0, 4), "TnStreamingChannelSourceTrigger": (14, 0, 10),
}
MODULE_FUNCTIONS = {"VARARGS": 292, "NOARGS": 6, "O": 343}
ENUMERATIONS = {"TnAccessType", "TnActionAckStatusEnum", "TnGenAccessMode", "TnGenCache", "TnGenEndianness",
                "TnGenNameSpace", "TnGenRefresh", "TnGenRepresentation", "TnGenSign", "TnGenType", "TnGenVisibility",
                "TnPayloadType", "TnPixelType"}
BOUND = set(CORE) | set(EDGE_FORMS)

PAYLOAD_TYPES = [
    ("TnPayloadTypeUndefined", -1), ("TnPayloadTypeNone", 0), ("TnPayloadTypeImage", 1),
    ("TnPayloadTypeRawData", 2), ("TnPayloadTypeFile", 3), ("TnPayloadTypeChunkData", 4),
    ("TnPayloadTypeExtendedChunkData", 5), ("TnPayloadTypeJPEG", 6), ("TnPayloadTypeJPEG2000", 7),
    ("TnPayloadTypeH264", 8), ("TnPayloadTypeMultiZoneImage", 9), ("TnPayloadTypeMultiPart", 10),
    ("TnPayloadTypeGenDC", 11), ("TnPayloadTypeDeviceSpecificBase", 0x8000), ("TnPayloadTypeVexmoorCompressed", 0x80E7),
]
EDGE_GROUPS = [
    ("TnAccessUnknown", 0), ("TnAccessOpen", 1), ("TnAccessControl", 2), ("TnAccessExclusive", 3),
    ("TnAccessReadOnly", 4),
    ("TnActionAckStatusOK", 0), ("TnActionAckStatusLate", 1), ("TnActionAckStatusOverflow", 2),
    ("TnActionAckStatusNoRefTime", 3),
    ("TnUserSetStateSaveStart", 0), ("TnUserSetStateSaveCompleted", 1), ("TnUserSetStateLoadStart", 2),
    ("TnUserSetStateLoadCompleted", 3),
    ("TnScanTypeInvalid", -1), ("TnScanTypeArea", 0), ("TnScanTypeLine", 1), ("TnScanTypeArea3D", 2),
    ("TnScanTypeLine3D", 3),
    ("ITnTriggerSelector_State_Disabled", 0), ("ITnTriggerSelector_State_Enabled", 1),
    ("ITnTriggerSelector_State_Armed", 2), ("ITnTriggerSelector_State_Fired", 3),
    ("ITnTriggerSelector_State_OneShot", 4),
] + [(f"TRIGGER_SELECTOR_{name}", value) for value, name in enumerate(
    ["FRAMESTART", "ACQUISITIONSTART", "ACQUISITIONEND", "ACQUISITIONACTIVE", "FRAMEBURSTSTART", "FRAMEBURSTEND",
     "FRAMEBURSTACTIVE", "FRAMEEND", "FRAMEACTIVE", "LINESTART", "EXPOSURESTART", "EXPOSUREEND",
     "EXPOSUREACTIVE"])] + [
    ("TRIGGER_SELECTOR_LAST", 12), ("TRIGGER_MODE_OFF", 0), ("TRIGGER_MODE_ON", 1), ("TRIGGER_SOURCE_SOFTWARE", 0),
    ("TRIGGER_SOURCE_USER", 1),
]


def test_module_totals(edge, capsys):
    with capsys.disabled():
        print("\n" + figures.report(edge))
    assert dict(figures.form_counts(edge)) == MODULE_FUNCTIONS
    assert len(EDGE_GROUPS) == 41


def test_core_classes_are_the_base_modules(edge):
    table = [(f.name, f.form) for f in figures.functions(edge)]
    for owner in CORE:
        present = {f.name: f.form for f in figures.functions(edge) if f.name in dict(BASE_CLASSES[owner])}
        assert present == dict(BASE_CLASSES[owner]), owner
    core = sum(len(BASE_CLASSES[owner]) for owner in CORE)
    assert len(table) == core + sum(len(functions) for functions in EDGE_CLASSES.values())
    assert not hasattr(edge, "TnPixelTypeToString")


def test_edge_classes_functions_and_forms(edge):
    table = {f.name: f.form for f in figures.functions(edge)}
    for owner, functions in EDGE_CLASSES.items():
        forms = [form for _, form in functions]
        assert (forms.count("VARARGS"), forms.count("NOARGS"), forms.count("O")) == EDGE_FORMS[owner], owner
        for name, form in functions:
            assert table.get(name) == form, name
    assert set(EDGE_CLASSES) == set(EDGE_FORMS)
    noargs = sorted(name for name, form in table.items() if form == "NOARGS")
    assert noargs == sorted(["new_TnGenParameterArray", "new_TnGenParameterList", "new_TnSoftDeviceGEV",
                             "new_TnVirtualDeviceGEV", "new_TnTransmitterGEV", "new_TnFPSStabilizer"])


COUNT = re.compile(r"expected (\d+) arguments?, got")
ARGUMENT = re.compile(r"argument (\d+) of type '([^']*)'|Argument (\d+): failed to create TnString")
INDEX = re.compile(r"expected argument (\d+) of type int")
PROTOTYPE = re.compile(r"^\s+\w+::\w+\(([^)]*)\)$", re.M)
# Arguments after self that the error texts do not lead to.
GIVEN = {"ITnRegister_ReadBytes": (4,), "ITnRegisterFactory_AddRegisterAuto": ("Name", 4, 0, None)}
# Out-references that Python cannot make: the call fails on them either way.
UNREACHABLE = {"TnVirtualDeviceGEV_GetGEVSpecificationVersion", "ITnRegister_ReadFloat", "ITnRegister_ReadDouble"}


def sample(ed, kind):
    kind = kind.replace("const", "").strip()
    if kind.startswith("uint8_t") and kind.endswith("*"):
        return numpy.zeros(8, numpy.uint8)
    if kind == "TnString":
        return ed.TnString("x")
    if "TnString" in kind:
        return "x"
    if kind.endswith(("*", "&")):
        return None
    return {"bool": True, "double": 0.0, "float": 0.0}.get(kind, 0)


def refusal_of_none_self(ed, function, name):
    """Calls the function with None as self and, for the other arguments,
    values that pass their conversion as the error texts name them; returns
    what ends the call."""
    args, tried, overloads = [None, *GIVEN.get(name, ())], set(), []
    for _ in range(40):
        try:
            function(*args)
        except Exception as error:
            text = str(error)
            found, count, prototypes = ARGUMENT.search(text), COUNT.search(text), PROTOTYPE.findall(text)
            position = int(found.group(1) or found.group(3)) - 1 if found else 0
            index = int(INDEX.search(text).group(1)) if INDEX.search(text) else 0
            if 0 < index < len(args) and args[index] != 0:
                args[index] = 0
            elif position > 0 and (position, found.group(0)) not in tried:
                tried.add((position, found.group(0)))
                args[position] = "x" if found.group(3) else sample(ed, found.group(2))
            elif count and int(count.group(1)) != len(args):
                args = [None] * int(count.group(1))
            elif prototypes and len(overloads) < len(prototypes) and name not in GIVEN:
                overloads.append(prototypes[len(overloads)])
                args = [None] + [sample(ed, kind) for kind in overloads[-1].split(",") if kind]
            else:
                return error
        else:
            return "returned"
    return "no end"


def test_none_as_self_is_refused(ed, edge):
    for owner, functions in EDGE_CLASSES.items():
        for name, _ in functions:
            if re.match(r"(new|delete|disown)_|.*_swig(register|init)$", name):
                continue
            error = refusal_of_none_self(ed, getattr(edge, name), name)
            assert isinstance(error, TypeError), (name, error)
            if name not in UNREACHABLE:
                assert re.search(r"argument 1 of type '(const )?\w+ (const )?\*'", str(error)), (name, error)


DOCUMENTED = 491
EXACT_DOCS = {
    "ITnVirtualDeviceGEVStatistics_Reset": "Resets all counters to zero.",
    "delete_ITnVirtualDeviceGEVStatistics": "Virtual destructor.",
    "delete_ITnVirtualDeviceGEVEventSink": "Virtual destructor.",
    "delete_ITnTransmitterGEV": "Virtual destructor.",
    "new_TnVirtualDeviceGEV": "Constructor.", "delete_TnVirtualDeviceGEV": "Destructor.",
    "new_TnFPSStabilizer": "Constructor.", "delete_TnFPSStabilizer": "Destructor.",
    "TnFPSStabilizer_Reset": "Resets the history.",
}


def test_documentation_strings(edge):
    table = figures.functions(edge)
    documented = {f.name for f in table if f.doc}
    assert len(documented) == DOCUMENTED and len(table) - len(documented) == 150
    binding = [f.name for f in table if f.name.endswith(("_swigregister", "_swiginit"))]
    assert len(binding) == 72 and not documented & set(binding)
    for name, text in EXACT_DOCS.items():
        assert getattr(edge, name).__doc__ == text, name
    # Classes whose functions are documented apart from the binding functions,
    # and those with further functions left undocumented.
    undocumented = {owner: sorted(name for name, _ in functions if name not in documented and name not in binding)
                    for owner, functions in EDGE_CLASSES.items()}
    assert undocumented.pop("TnTransmitterGEV") == sorted(name for name, _ in EDGE_CLASSES["TnTransmitterGEV"]
                                                          if name not in binding)
    assert undocumented.pop("ITnSWStreamingChannelSourceGenDC") == sorted(
        f"{kind}_ITnSWStreamingChannelSourceGenDC" for kind in ("new", "delete", "disown"))
    assert undocumented.pop("ITnVirtualDeviceGEVEventSink") == [
        "disown_ITnVirtualDeviceGEVEventSink", "new_ITnVirtualDeviceGEVEventSink"]
    assert undocumented.pop("ITnUserSetNotify") == ["disown_ITnUserSetNotify", "new_ITnUserSetNotify"]
    assert not any(undocumented.values()), undocumented
    assert edge.delete_ITnUserSetNotify.__doc__ == "Virtual destructor."
    # The manufacturer information is 48 bytes wide, in its getter's and its
    # setter's text.
    for name in ("GetManufacturerInformation", "SetManufacturerInformation"):
        assert "48 bytes" in getattr(edge, "ITnVirtualDeviceGEVInfo_" + name).__doc__


def test_constants_names_values_and_order(edge, base):
    shared = figures.constants(base)
    result_to_log = shared[:37 + 24 + 251 + 6]
    genicam = shared[37 + 24 + 251 + 6: 37 + 24 + 251 + 6 + 44]
    assert shared[37 + 24 + 251 + 6 + 44: 37 + 24 + 251 + 6 + 44 + 15] == PAYLOAD_TYPES
    assert figures.constants(edge) == PAYLOAD_TYPES + result_to_log + genicam + EDGE_GROUPS
    assert edge.TRIGGER_SELECTOR_LAST == edge.TRIGGER_SELECTOR_EXPOSUREACTIVE == 12


def test_type_records_and_class_relations(edge):
    records = {r.name: r for r in figures.type_records(edge)}
    assert set(records["_p_ITnVirtualDeviceGEV"].casts) == {"_p_ITnSoftDeviceGEV", "_p_TnSoftDeviceGEV"}
    assert records["_p_ITnSoftDeviceGEV"].casts == ["_p_TnSoftDeviceGEV"]
    assert records["_p_ITnTransmitterGEV"].casts == ["_p_TnTransmitterGEV"]
    assert records["_p_TnVirtualDeviceGEV"].casts == []
    assert set(records["_p_ITnSWStreamingChannelSource"].casts) == {
        "_p_ITnSWStreamingChannelSourceGenDC", "_p_TnStreamingChannelSourceDefault", "_p_TnStreamingChannelSourceTrigger"}
    assert "_p_TnStreamingChannelSourceTrigger" in records["_p_ITnRegisterEventSink"].casts
    assert records["_p_ITnRegisterInfo"].casts == ["_p_ITnRegister"]
    assert set(records["_p_ITnTriggerSelector"].casts) >= {"_p_TnTriggerSelectorDefault", "_p_TnTriggerSelectorLineStart"}
    for unbound in ("_p_TnBuffer", "_p_ITnGenDCManager", "_p_TnVirtualDeviceLib__IActionHandler",
                    "_p_TN_GENAPI_NS__INode", "_p_TN_GENAPI_NS__INodeMap"):
        assert unbound in records
    # Access types cross as ints, not as value objects.
    assert records["_p_TnAccessType"].proxy_class is None
    assert len(records) == 82
    enumerations = {name for name in records if name[3:] in ENUMERATIONS}
    assert enumerations == {"_p_" + name for name in ENUMERATIONS}
    bound = {name for name, record in records.items() if name.startswith("_p_") and name[3:] in BOUND}
    assert len(bound) == 48
    plain = {"_p_p_TnBuffer", "_p_p_TnGenEnumEntry"} | {"_p_" + name.replace(" ", "_") for name in (
        "bool", "char", "double", "float", "int", "long long", "short", "signed char", "unsigned char",
        "unsigned int", "unsigned long long", "unsigned short", "void", "wchar_t")}
    assert plain <= set(records)


ORDERS = list(itertools.permutations(["tarn_edge_313", "tarn_base_313", "tarn_receive_313"]))


def test_import_in_any_order(tmp_path):
    for order in ORDERS:
        done = subprocess.run([sys.executable, str(CHILD), "import_in_any_order", *order], cwd=tmp_path, capture_output=True, text=True,
                              env=child_env(), timeout=60)
        assert done.returncode == 0, (order, done.stderr)
        assert done.stdout.strip() == "imported " + " ".join(order)
        assert "memory leak" not in done.stdout + done.stderr


def test_objects_of_base_types_are_bare_before_the_base_module(tmp_path):
    done = subprocess.run([sys.executable, str(CHILD), "bare_before_base"], cwd=tmp_path, capture_output=True, text=True,
                          env=child_env(), timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "<Swig Object of type 'TnBuffer *'"


def test_failed_numpy_import_raises_importerror(import_with_broken_numpy):
    done = import_with_broken_numpy("_tarn_edge_313")
    assert done.stdout.strip() == "ImportError: numpy.core.multiarray failed to import"
    assert "_ARRAY_API" in done.stderr
