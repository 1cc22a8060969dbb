"""Both GenICam engines over the same device memory: ours through the module,
the GenICam reference implementation (the `genicam` package) through a port
written in Python. A snapshot holds, for each feature of our array, what a
user interface reads of it: type, access (implemented, available, readable,
writable), value and enumeration entries; `compare` lists where two snapshots
disagree.

The memory reads zero everywhere, or the fixed pseudo-random pattern of the
test hooks' port: the byte at an address is the top byte of
address * 0x9E3779B97F4A7C15 + 0x632BE59BD9B4E019 in 64-bit arithmetic.
Writes are forgotten; the walk writes nothing."""

import math

import numpy

KINDS = ("type", "implemented", "available", "readable", "writable", "value", "entries")
ERROR = "error"


def pattern_bytes(address, length):
    addresses = numpy.uint64(address) + numpy.arange(length, dtype=numpy.uint64)
    mixed = addresses * numpy.uint64(0x9E3779B97F4A7C15) + numpy.uint64(0x632BE59BD9B4E019)
    return (mixed >> numpy.uint64(56)).astype(numpy.uint8).tobytes()


def reference_port(pattern):
    from genicam import genapi

    class Memory(genapi.AbstractPort):
        def is_open(self):
            return True

        def get_access_mode(self):
            return genapi.EAccessMode.RW

        def read(self, address, length):
            return pattern_bytes(address, length) if pattern else bytes(length)

        def write(self, address, value):
            pass

    return Memory()


def _float(value):
    return "nan" if isinstance(value, float) and math.isnan(value) else value


def _access_flags(mode):
    """The four flags of a GenApi access mode (NI, NA, WO, RO, RW)."""
    return {"implemented": mode != "NI", "available": mode not in ("NI", "NA"),
            "readable": mode in ("RO", "RW"), "writable": mode in ("WO", "RW")}


def _attempt(read):
    try:
        return read()
    except Exception:  # noqa: BLE001 - either engine's refusal is an outcome to compare
        return ERROR


# --- the reference -----------------------------------------------------------------

REFERENCE_TYPES = {"intfIInteger": "Integer", "intfIFloat": "Float", "intfIEnumeration": "Enumeration",
                   "intfIBoolean": "Boolean", "intfICommand": "Command", "intfIString": "String",
                   "intfIRegister": "Register"}


def _reference_type(node):
    from genicam import genapi

    return REFERENCE_TYPES.get(genapi.EInterfaceType(node.node.principal_interface_type).name, "Other")


def reference_load(path, pattern):
    """The reference's node map of a description over the memory, or None
    when the reference refuses the description."""
    from genicam import genapi

    node_map = genapi.NodeMap()
    try:
        node_map.load_xml_from_file(str(path))
    except Exception:  # noqa: BLE001 - a description the reference refuses
        return None, None
    port = reference_port(pattern)
    node_map.connect(port, "Device")
    return node_map, port


def reference_value(node, kind):
    if kind == "Enumeration":
        return (node.get_int_value(), node.to_string())
    if kind == "Command":
        return node.is_done()
    if kind == "Register":
        return bytes(node.get(node.length))
    if kind == "String":
        try:
            return node.value
        except UnicodeDecodeError as error:
            # The binding decodes text as UTF-8 only: compare the bytes read.
            return error.object.decode("utf-8", "surrogateescape")
    return _float(node.value)


def reference_snapshot(node_map, names):
    from genicam import genapi

    modes = {int(getattr(genapi.EAccessMode, mode)): mode for mode in ("NI", "NA", "WO", "RO", "RW")}
    snapshot = {}
    for name in names:
        try:
            node = node_map.get_node(name)
        except Exception:  # noqa: BLE001 - a node the reference does not have
            continue
        if node is None:
            continue
        record = {"type": _reference_type(node)}
        mode = _attempt(lambda: modes[int(node.get_access_mode())])
        record.update(_access_flags(mode) if mode != ERROR else dict.fromkeys(KINDS[1:5], ERROR))
        if record["readable"] is True and record["type"] != "Other":
            record["value"] = _attempt(lambda: reference_value(node, record["type"]))
        if record["type"] == "Enumeration":
            record["entries"] = _attempt(lambda: sorted(
                (entry.symbolic, entry.value, modes[int(entry.get_access_mode())] not in ("NI", "NA"))
                for entry in node.entries))
        snapshot[name] = record
    return snapshot


# --- ours ---------------------------------------------------------------------------


def our_snapshot(tarn, hooks, features):
    types = {tarn.TnGenTypeInteger: "Integer", tarn.TnGenTypeFloat: "Float", tarn.TnGenTypeEnum: "Enumeration",
             tarn.TnGenTypeBoolean: "Boolean", tarn.TnGenTypeCommand: "Command", tarn.TnGenTypeString: "String",
             tarn.TnGenTypeRegister: "Register"}

    def outcome(result):
        return result[1] if result[0].IsOK() else ERROR

    snapshot = {}
    for index in range(features.GetCount()):
        feature = features.Get(index)
        record = {"type": types.get(feature.GetType()[1], "Other")}
        for kind, getter in (("implemented", "IsImplemented"), ("available", "IsAvailable"),
                             ("readable", "IsReadable"), ("writable", "IsWritable")):
            record[kind] = outcome(getattr(feature, getter)())
        kind = record["type"]
        if record["readable"] is True and kind != "Other":
            if kind == "Enumeration":
                number, text = feature.GetValueInt(), feature.GetValueString()
                record["value"] = (number[1], text[1]) if number[0].IsOK() and text[0].IsOK() else ERROR
            elif kind == "Command":
                record["value"] = outcome(feature.IsDone())
            elif kind == "Register":
                record["value"] = _register_bytes(hooks, feature)
            else:
                record["value"] = _float(outcome(feature.GetValue()))
        if kind == "Enumeration":
            entries = []
            for entry_index in range(feature.GetEntriesCount()[1]):
                entry = feature.GetEntryByIndex(entry_index)[1]
                entries.append((entry.GetName()[1], entry.GetValue()[1], outcome(entry.IsAvailable())))
            record["entries"] = sorted(entries, key=lambda item: (item[0], item[1], str(item[2])))
        snapshot[feature.GetName()[1]] = record
    return snapshot


def _register_bytes(hooks, feature):
    result, length = feature.GetLength()
    if not result.IsOK():
        return ERROR
    memory = hooks.NewBytes(length)
    try:
        return hooks.BytesAt(memory, length) if feature.Get(memory, length).IsOK() else ERROR
    finally:
        hooks.DeleteBytes(memory)


# --- comparison ---------------------------------------------------------------------


def _same(kind, ours, reference):
    if kind == "value" and isinstance(ours, float) and isinstance(reference, float):
        return math.isclose(ours, reference, rel_tol=1e-9, abs_tol=1e-300)
    if kind == "entries" and isinstance(ours, list) and isinstance(reference, list):
        return sorted(map(str, ours)) == sorted(map(str, reference))
    return ours == reference


def compare(ours, reference):
    """(feature, kind, ours, reference) for each disagreement; the value and
    the entries count only where both engines read them."""
    found = []
    for name, record in ours.items():
        other = reference.get(name)
        if other is None:
            continue
        for kind in KINDS:
            if kind in ("value", "entries") and (kind not in record or kind not in other):
                continue
            if not _same(kind, record.get(kind), other.get(kind)):
                found.append((name, kind, record.get(kind), other.get(kind)))
    return found
