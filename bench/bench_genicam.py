"""Our GenICam engine beside the GenICam reference implementation (the
`genicam` package), both from Python in the same run:

- integer reads on a node map of a few hundred features: a cached read
  (TnGenInteger_GetValue against the reference's `value`), an uncached one
  (a register the host does not cache: every read goes to the port, ours a
  memory port, the reference's the Python port its binding takes), and a
  read by name; beside the trivial wrapped call;
- every description of the shared corpus: load, and load plus a full walk
  (every feature's access and value, enumeration entries, categories) over
  a device whose registers read zero, ms per file."""

import os
import pathlib
import sys
import tempfile
import time
import timeit

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "build" / "tests" / "python"))
sys.path.insert(0, str(ROOT / "tests" / "genicam"))

import _tarn_base_313 as module  # noqa: E402
import tarn_base_313 as tarn  # noqa: E402
import tn_testhooks as hooks  # noqa: E402
from agreement import reference_port  # noqa: E402
from corpus import corpus_directory  # noqa: E402

FEATURES = 300


def node_map_xml(count, cachable="WriteThrough"):
    nodes = []
    for i in range(count):
        nodes.append(
            f'<Integer Name="Feature{i}"><pValue>Feature{i}Reg</pValue><Min>0</Min><Max>1000000</Max></Integer>'
            f'<IntReg Name="Feature{i}Reg"><Address>{4 * i}</Address><Length>4</Length><AccessMode>RW</AccessMode>'
            f'<pPort>Device</pPort><Cachable>{cachable}</Cachable><Endianess>BigEndian</Endianess></IntReg>')
    return ('<RegisterDescription ModelName="Bench" VendorName="Tarn" SchemaMajorVersion="1" SchemaMinorVersion="1"'
            ' SchemaSubMinorVersion="0" MajorVersion="1" MinorVersion="0" SubMinorVersion="0"'
            ' ProductGuid="11111111-1111-1111-1111-111111111111" VersionGuid="11111111-1111-1111-1111-111111111112"'
            ' StandardNameSpace="None" xmlns="http://www.genicam.org/GenApi/Version_1_1">'
            + "".join(nodes) + '<Port Name="Device"/></RegisterDescription>')


def per_call(statement, namespace, number=100_000, repeat=5):
    return min(timeit.repeat(statement, globals=namespace, number=number, repeat=repeat)) / number * 1e9


def best_ms(action, repeat=3):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return min(times) * 1e3


def load_average():
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


# --- ours --------------------------------------------------------------------------


def our_load(path):
    features = hooks.LoadZeroParameterArray(str(path))
    assert features is not None, f"{path} does not load"
    return features


def our_walk(features):
    """Reads every feature as a user interface would: type, access, value."""
    for index in range(features.GetCount()):
        feature = features.Get(index)
        feature.GetType(), feature.IsImplemented(), feature.IsAvailable(), feature.IsReadable()
        feature.IsWritable()
        if isinstance(feature, (tarn.TnGenInteger, tarn.TnGenFloat, tarn.TnGenBoolean, tarn.TnGenString)):
            feature.GetValue()
        elif isinstance(feature, tarn.TnGenEnum):
            feature.GetValueString()
            for entry in range(feature.GetEntriesCount()[1]):
                feature.GetEntryByIndex(entry)[1].IsAvailable()
    for index in range(features.GetCategoryCount()):
        features.GetCategory(index).IsImplemented()


# --- the reference -----------------------------------------------------------------


def reference_load(path=None, text=None):
    from genicam import genapi

    node_map = genapi.NodeMap()
    if text is not None:
        node_map.load_xml_from_string(text)
    else:
        node_map.load_xml_from_file(str(path))
    port = reference_port(False)
    node_map.connect(port, "Device")
    return node_map, port


def reference_walk(loaded):
    """Reads every node's access and, where readable, value (an enumeration's
    as text; its entries are nodes of their own)."""
    from genicam import genapi

    node_map, _port = loaded
    readable = (genapi.EAccessMode.RO, genapi.EAccessMode.RW)
    valued = {int(genapi.EInterfaceType.intfIInteger), int(genapi.EInterfaceType.intfIFloat),
              int(genapi.EInterfaceType.intfIBoolean), int(genapi.EInterfaceType.intfIString)}
    enumeration = int(genapi.EInterfaceType.intfIEnumeration)
    for node in node_map.nodes:
        try:
            if node.get_access_mode() not in readable:
                continue
            kind = node.node.principal_interface_type
            if kind in valued:
                node.value
            elif kind == enumeration:
                node.to_string()
        except Exception:  # noqa: BLE001 - a value the reference cannot read
            pass


# --- figures -------------------------------------------------------------------------


def read_rows():
    with tempfile.TemporaryDirectory() as folder:
        arrays, nodes = {}, {}
        for kind, cachable in (("cached", "WriteThrough"), ("uncached", "NoCache")):
            path = pathlib.Path(folder, f"{kind}.xml")
            path.write_text(node_map_xml(FEATURES, cachable))
            arrays[kind] = hooks.LoadParameterArray(str(path), 4 * FEATURES)
            nodes[kind] = reference_load(text=path.read_text())
    name = f"Feature{FEATURES // 2}"
    namespace = {"module": module, "text": tarn.TnString("x"), "name": name, "array": arrays["cached"],
                 "cached": arrays["cached"].GetInteger(name), "uncached": arrays["uncached"].GetInteger(name),
                 "reference": nodes["cached"][0], "cached_node": nodes["cached"][0].get_node(name),
                 "uncached_node": nodes["uncached"][0].get_node(name)}
    rows = [
        ("trivial call: TnString_GetLength(text)", "module.TnString_GetLength(text)", None),
        ("cached integer read: TnGenInteger_GetValue / value", "module.TnGenInteger_GetValue(cached)",
         "cached_node.value"),
        ("uncached integer read (NoCache register)", "module.TnGenInteger_GetValue(uncached)", "uncached_node.value"),
        (f"read by name, {arrays['cached'].GetCount()} features", "module.TnGenParameterArray_GetIntegerValue(array, name)",
         "reference.get_node(name).value"),
    ]
    print(f"{'':<58} {'ours':>10} {'reference':>10}   (ns per call)")
    for label, ours, reference in rows:
        theirs = f"{per_call(reference, namespace):10.1f}" if reference else f"{'':>10}"
        print(f"{label:<58} {per_call(ours, namespace):10.1f} {theirs}")


def corpus_rows():
    files = sorted(corpus_directory().glob("*.xml"))
    if not files:
        print(f"(no GenICam corpus at {corpus_directory()}: set TARN_GENICAM_CORPUS)")
        return
    print(f"{'corpus file (ms per file, best of 3)':<40} {'load':>8} {'ref':>8} {'+walk':>8} {'ref':>8}  features")
    totals = [0.0, 0.0, 0.0, 0.0]
    for path in files:
        try:
            reference_load(path)
        except Exception:  # noqa: BLE001 - a description the reference refuses
            figures = [best_ms(lambda: our_load(path)), None, best_ms(lambda: our_walk(our_load(path))), None]
        else:
            figures = [best_ms(lambda: our_load(path)), best_ms(lambda: reference_load(path)),
                       best_ms(lambda: our_walk(our_load(path))),
                       best_ms(lambda: reference_walk(reference_load(path)))]
            totals = [total + figure for total, figure in zip(totals, figures)]
        cells = " ".join(f"{figure:8.1f}" if figure is not None else f"{'refused':>8}" for figure in figures)
        print(f"{path.name:<40} {cells}  {our_load(path).GetCount()}")
    print(f"{'total where both load':<40} {' '.join(f'{total:8.1f}' for total in totals)}")


def main():
    print(f"load average before: {load_average()}")
    read_rows()
    corpus_rows()
    print(f"load average after: {load_average()}")


if __name__ == "__main__":
    main()
