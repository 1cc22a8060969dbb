"""The base module's start-up: function table, constants, shared type table
and the numpy import."""

import pathlib
import sys

import pytest

import figures

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"

# Every finished class with its functions in table order and their calling
# forms, and the module's figures.
CLASSES = figures.classes_of("base_functions.txt")
FIGURES = figures.figures_of("base_figures.txt")
MODULE_FUNCTIONS = FIGURES["form"]


def test_module_figures_against_the_totals(base, capsys):
    counts = figures.form_counts(base)
    with capsys.disabled():
        print("\n" + figures.report(base))
    assert {form: counts[form] for form in MODULE_FUNCTIONS} == MODULE_FUNCTIONS
    assert sum(counts.values()) == sum(MODULE_FUNCTIONS.values())  # no other calling form
    assert len(figures.type_records(base)) == FIGURES["type-records"]


def test_class_counts():
    assert {owner: len(functions) for owner, functions in CLASSES.items()} == FIGURES["class"]


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
    assert len(expected) == FIGURES["constants"]
    assert figures.constants(base) == [(name, value) for _, name, value in expected]
    assert base.TN_OK == 0
    assert base.TNPIXELCUSTOM == -2147483648
    assert base.TNPIXELCOLORMASK == -16777216
    assert base.TN_PENDING == 65535
    assert _group_sizes(expected) == FIGURES["constant-groups"]


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
