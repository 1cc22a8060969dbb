"""Cost of reading an integer feature: through its parameter object and by
name through the parameter array, on a node map of a few hundred features,
beside the trivial wrapped call."""

import pathlib
import sys
import tempfile
import timeit

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "build" / "tests" / "python"))

import _tarn_base_313 as module  # noqa: E402
import tarn_base_313 as tarn  # noqa: E402
import tn_testhooks as hooks  # noqa: E402

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


if __name__ == "__main__":
    main()
