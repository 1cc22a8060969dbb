"""Cost of reading an integer feature: through its parameter object and by
name through the parameter array, on a node map of a few hundred features,
beside the trivial wrapped call; and the cost of loading the largest real
camera description of the shared corpus and walking all its features (type,
access, value, enumeration entries, categories) over a device whose registers
read zero, beside parsing the same file with Python's own XML parser."""

import pathlib
import sys
import tempfile
import time
import timeit
import xml.etree.ElementTree

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "build" / "tests" / "python"))
sys.path.insert(0, str(ROOT / "tests" / "genicam"))

import _tarn_base_313 as module  # noqa: E402
import tarn_base_313 as tarn  # noqa: E402
import tn_testhooks as hooks  # noqa: E402
from corpus import corpus_directory  # noqa: E402

FEATURES = 300


def node_map_xml(count):
    nodes = []
    for i in range(count):
        nodes.append(
            f'<Integer Name="Feature{i}"><pValue>Feature{i}Reg</pValue><Min>0</Min><Max>1000000</Max></Integer>'
            f'<IntReg Name="Feature{i}Reg"><Address>{4 * i}</Address><Length>4</Length><AccessMode>RW</AccessMode>'
            f'<pPort>Device</pPort><Cachable>WriteThrough</Cachable><Endianess>BigEndian</Endianess></IntReg>')
    return ('<RegisterDescription ModelName="Bench" VendorName="Tarn" SchemaMajorVersion="1" SchemaMinorVersion="1"'
            ' SchemaSubMinorVersion="0" MajorVersion="1" MinorVersion="0" SubMinorVersion="0" ProductGuid="0"'
            ' VersionGuid="0" StandardNameSpace="None" xmlns="http://www.genicam.org/GenApi/Version_1_1">'
            + "".join(nodes) + '<Port Name="Device"/></RegisterDescription>')


def per_call(statement, namespace, number=200_000, repeat=5):
    return min(timeit.repeat(statement, globals=namespace, number=number, repeat=repeat)) / number * 1e9


def walk(features):
    """Reads every feature as a user interface would: type, access, value."""
    for index in range(features.GetCount()):
        feature = features.Get(index)
        feature.GetType(), feature.IsImplemented(), feature.IsAvailable(), feature.IsWritable()
        if isinstance(feature, (tarn.TnGenInteger, tarn.TnGenFloat, tarn.TnGenBoolean, tarn.TnGenString)):
            feature.GetValue()
        elif isinstance(feature, tarn.TnGenEnum):
            feature.GetValueString()
            for entry in range(feature.GetEntriesCount()[1]):
                feature.GetEntryByIndex(entry)[1].IsAvailable()
    for index in range(features.GetCategoryCount()):
        features.GetCategory(index).IsImplemented()


def best_ms(action, repeat=7):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return min(times) * 1e3


def corpus_rows():
    files = sorted(corpus_directory().glob("*.xml"), key=lambda path: path.stat().st_size)
    if not files:
        print(f"(no GenICam corpus at {corpus_directory()}: set TARN_GENICAM_CORPUS)")
        return
    largest = files[-1]
    text = largest.read_bytes()
    features = hooks.LoadZeroParameterArray(str(largest))
    label = f"{largest.name} ({len(text) // 1024} KiB, {features.GetCount()} features)"
    load = best_ms(lambda: hooks.LoadZeroParameterArray(str(largest)))
    walked = best_ms(lambda: walk(hooks.LoadZeroParameterArray(str(largest))))
    reference = best_ms(lambda: xml.etree.ElementTree.fromstring(text))
    print(f"{'load ' + label:<70} {load:9.1f} ms")
    print(f"{'load and walk it':<70} {walked:9.1f} ms")
    print(f"{'reference: xml.etree parse of the same file':<70} {reference:9.1f} ms")


def main():
    with tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False) as xml:
        xml.write(node_map_xml(FEATURES))
    array = hooks.LoadParameterArray(xml.name, 4 * FEATURES)
    pathlib.Path(xml.name).unlink()
    name = f"Feature{FEATURES // 2}"
    namespace = {"module": module, "array": array, "feature": array.GetInteger(name), "name": name,
                 "text": tarn.TnString("x")}
    rows = [
        ("TnString_GetLength(text) (trivial call)", "module.TnString_GetLength(text)"),
        ("TnGenInteger_GetValue(feature)", "module.TnGenInteger_GetValue(feature)"),
        (f"TnGenParameterArray_GetIntegerValue(array, name), {array.GetCount()} features",
         "module.TnGenParameterArray_GetIntegerValue(array, name)"),
    ]
    for label, statement in rows:
        print(f"{label:<70} {per_call(statement, namespace):9.1f} ns/call")
    corpus_rows()


if __name__ == "__main__":
    main()
