"""Figures of a loaded extension module: its function table, integer constants
and type records.

The function table is read through the function objects (each builtin function
points at its method definition, whose flags give the calling form); the type
records by walking the ring of type tables that all modules of the process
share through the capsule "swig_runtime_data4.type_pointer_capsule".
"""

import ctypes
import pathlib
import sys
import types
from collections import Counter
from dataclasses import dataclass, field

METH_VARARGS = 0x0001
METH_KEYWORDS = 0x0002
METH_NOARGS = 0x0004
METH_O = 0x0008

FORM_NAMES = {METH_VARARGS: "VARARGS", METH_NOARGS: "NOARGS", METH_O: "O"}


class _PyMethodDef(ctypes.Structure):
    _fields_ = [
        ("ml_name", ctypes.c_char_p),
        ("ml_meth", ctypes.c_void_p),
        ("ml_flags", ctypes.c_int),
        ("ml_doc", ctypes.c_char_p),
    ]


class _PyCFunctionObject(ctypes.Structure):
    # PyObject_HEAD, then the method definition.
    _fields_ = [
        ("ob_refcnt", ctypes.c_ssize_t),
        ("ob_type", ctypes.c_void_p),
        ("m_ml", ctypes.POINTER(_PyMethodDef)),
    ]


class _SwigCastInfo(ctypes.Structure):
    pass


class _SwigTypeInfo(ctypes.Structure):
    _fields_ = [
        ("name", ctypes.c_char_p),
        ("str", ctypes.c_char_p),
        ("dcast", ctypes.c_void_p),
        ("cast", ctypes.POINTER(_SwigCastInfo)),
        ("clientdata", ctypes.c_void_p),
        ("owndata", ctypes.c_int),
    ]


_SwigCastInfo._fields_ = [
    ("type", ctypes.POINTER(_SwigTypeInfo)),
    ("converter", ctypes.c_void_p),
    ("next", ctypes.POINTER(_SwigCastInfo)),
    ("prev", ctypes.POINTER(_SwigCastInfo)),
]


class _SwigModuleInfo(ctypes.Structure):
    pass


_SwigModuleInfo._fields_ = [
    ("types", ctypes.POINTER(ctypes.POINTER(_SwigTypeInfo))),
    ("size", ctypes.c_size_t),
    ("next", ctypes.POINTER(_SwigModuleInfo)),
    ("type_initial", ctypes.POINTER(ctypes.POINTER(_SwigTypeInfo))),
    ("cast_initial", ctypes.c_void_p),
    ("clientdata", ctypes.c_void_p),
]


class _SwigPyClientData(ctypes.Structure):
    _fields_ = [("klass", ctypes.py_object)]


class _DlInfo(ctypes.Structure):
    _fields_ = [
        ("dli_fname", ctypes.c_char_p),
        ("dli_fbase", ctypes.c_void_p),
        ("dli_sname", ctypes.c_char_p),
        ("dli_saddr", ctypes.c_void_p),
    ]


_libc = ctypes.CDLL(None)
_libc.dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(_DlInfo)]
_capsule_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_capsule_pointer.restype = ctypes.c_void_p
_capsule_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]

CAPSULE_NAME = "swig_runtime_data4.type_pointer_capsule"


@dataclass
class Function:
    name: str
    form: str
    doc: str | None


@dataclass
class TypeRecord:
    name: str
    readable: str
    casts: list = field(default_factory=list)
    proxy_class: type | None = None


def functions(module):
    """The module's function table, in table order."""
    table = []
    for name, value in module.__dict__.items():
        if isinstance(value, types.BuiltinFunctionType) and value.__self__ is module:
            definition = _PyCFunctionObject.from_address(id(value)).m_ml.contents
            flags = definition.ml_flags & ~METH_KEYWORDS
            table.append(Function(name, FORM_NAMES.get(flags, hex(flags)), value.__doc__))
    return table


def form_counts(module):
    """Number of functions per calling form."""
    return Counter(function.form for function in functions(module))


def constants(module):
    """The module's integer constants, in installation order."""
    return [(name, value) for name, value in module.__dict__.items() if type(value) is int]


def _library_of(address):
    info = _DlInfo()
    if address and _libc.dladdr(address, ctypes.byref(info)) and info.dli_fname:
        return info.dli_fname.decode()
    return None


def _ring():
    runtime = sys.modules.get("swig_runtime_data4")
    if runtime is None:
        return []
    start = ctypes.cast(_capsule_pointer(runtime.type_pointer_capsule, CAPSULE_NAME.encode()),
                        ctypes.POINTER(_SwigModuleInfo))
    tables, current = [], start
    while True:
        tables.append(current.contents)
        current = current.contents.next
        if ctypes.addressof(current.contents) == ctypes.addressof(start.contents):
            return tables


def _record(pointer):
    info = pointer.contents
    casts = []
    cast = info.cast
    while cast:
        source = cast.contents.type.contents.name.decode()
        if source != info.name.decode():  # every record lists itself first
            casts.append(source)
        cast = cast.contents.next
    proxy = None
    if info.clientdata:
        proxy = _SwigPyClientData.from_address(info.clientdata).klass
    return TypeRecord(info.name.decode(), info.str.decode() if info.str else "", casts, proxy)


def type_records(module):
    """The module's type records, as resolved in the shared ring (so a record
    shared with another module carries the casts of all of them)."""
    path = module.__file__
    for table in _ring():
        first = ctypes.cast(table.type_initial, ctypes.POINTER(ctypes.c_void_p))[0]
        if _library_of(first) == path:
            return [_record(table.types[i]) for i in range(table.size)]
    raise LookupError(f"no type table of {path} in the shared ring")


def ring_size():
    """Number of type tables in the shared ring."""
    return len(_ring())


def class_functions(module, prefix):
    """The functions of one class: TnString gives new_TnString, delete_TnString,
    TnString_* and the like."""
    names = (f"new_{prefix}", f"delete_{prefix}", f"disown_{prefix}")
    return [f for f in functions(module) if f.name in names or f.name.startswith(prefix + "_")]


def report(module):
    """A short text of the module's figures."""
    counts = form_counts(module)
    records = type_records(module)
    lines = [
        f"{module.__name__}: {sum(counts.values())} functions "
        f"({counts['VARARGS']} VARARGS, {counts['NOARGS']} NOARGS, {counts['O']} O), "
        f"{len(constants(module))} constants, {len(records)} type records",
    ]
    return "\n".join(lines)


if __name__ == "__main__":
    import importlib

    for name in sys.argv[1:] or ["_tarn_base_313"]:
        print(report(importlib.import_module(name)))


DATA = pathlib.Path(__file__).resolve().parent / "data"

# The core and GenICam classes that the receive and edge modules carry as
# their own copies of the base module's.
CORE_CLASSES = ["TnString", "TnResult", "TnLogger", "TnLogSink", "TnGenEventSink", "TnGenParameter", "TnGenInteger",
                "TnGenFloat", "TnGenEnumEntry", "TnGenEnum", "TnGenBoolean", "TnGenString", "TnGenCommand",
                "TnGenRegister", "TnGenCategory", "TnGenParameterList", "TnGenParameterArray", "TnGenStateStack"]


def classes_of(filename):
    """The functions of a module's classes as listed in tests/data/FILENAME:
    {class: [(function, calling form), ...]} in table order."""
    classes = {}
    for line in (DATA / filename).read_text().splitlines():
        if line and not line.startswith("#"):
            owner, name, form = line.split()
            classes.setdefault(owner, []).append((name, form))
    return classes


def figures_of(filename):
    """The figures listed in tests/data/FILENAME, one a line "kind name
    figure..." ("-" for no name): {kind: {name: figure}} for one figure a
    line, {kind: [figures]} for a nameless line of several."""
    table = {}
    for line in (DATA / filename).read_text().splitlines():
        if line and not line.startswith("#"):
            kind, name, *values = line.split()
            numbers = [int(value) for value in values]
            if name == "-":
                table[kind] = numbers if len(numbers) > 1 else numbers[0]
            else:
                table.setdefault(kind, {})[name] = numbers[0]
    return table
