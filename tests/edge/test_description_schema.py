"""The GenICam description a software device serves validates against the
GenApi 1.1 schema: for a bare device, for one with a streaming source and its
chunks, and for one with every kind of feature the feature factory makes
(selectors, enumerations, formulas, converters, chunk and event mappings,
user sets, triggers, features of two sources). The schema comes from aravis's
installed tools, which carry it in their resources; xmllint checks it. A
reference the schema cannot admit fails the device's Start instead."""

import glob
import pathlib
import shutil
import subprocess

import pytest

HERE = pathlib.Path(__file__).resolve().parent
SCHEMA = "/org/aravis/GenApiSchema_Version_1_1.xsd"


@pytest.fixture(scope="module")
def schema(tmp_path_factory):
    """The GenApi 1.1 schema, extracted from whichever installed aravis file
    carries it."""
    for program in ("gresource", "xmllint"):
        if shutil.which(program) is None:
            pytest.skip(f"{program} is not installed (Debian packages libglib2.0-bin, libxml2-utils)")
    for carrier in sorted(glob.glob("/usr/lib/*/libaravis-0.8.so*")) + sorted(glob.glob("/usr/bin/arv-*-0.8")):
        listed = subprocess.run(["gresource", "list", carrier], capture_output=True, text=True)
        if SCHEMA in listed.stdout.split():
            path = tmp_path_factory.mktemp("schema") / "GenApiSchema_Version_1_1.xsd"
            path.write_bytes(subprocess.run(["gresource", "extract", carrier, SCHEMA], capture_output=True,
                                            check=True).stdout)
            return path
    pytest.skip("no installed aravis file carries the GenApi 1.1 schema (Debian package aravis-tools)")


def invalid(schema, path):
    """xmllint's complaints about a description, or "" when it validates."""
    done = subprocess.run(["xmllint", "--noout", "--schema", str(schema), str(path)], capture_output=True, text=True)
    return "" if done.returncode == 0 else done.stderr


def test_served_descriptions_validate(isolated, schema, tmp_path):
    out = isolated(f'''
sys.path.insert(0, {str(HERE)!r})
import pathlib
import devices
import tarn_edge_313 as edge
folder = pathlib.Path({str(tmp_path)!r})

def serve(name, sources=(), sink=None, user_sets=0):
    device = edge.TnSoftDeviceGEV()
    device.SetUserSetCount(user_sets)
    device.SetGenDCEnabled(True)
    device.SetRTPProtocolEnabled(True)
    if sink is not None:
        device.RegisterEventSink(sink)
    for source in sources:
        device.AddStream(source)
    started = device.Start(devices.LOOPBACK_MAC)
    out[name] = [started.GetCodeString(), started.GetDescription()]
    (folder / (name + ".xml")).write_text(device.GetGenICamXMLFile()[1] or "")
    device.Stop()
    if sink is not None:
        out[name].append([item for item, result in sink.results
                          if not (result[0] if isinstance(result, tuple) else result).IsOK()])

serve("bare")
serve("source", [devices.PatternSource(64, 48)])
triggered = devices.TriggeredSource()
acquisition = edge.TnTriggerSelectorAcquisitionStart()
triggered.AddSelector(edge.TRIGGER_SELECTOR_ACQUISITIONSTART, acquisition)
triggered.AddSource(edge.TRIGGER_SOURCE_USER, "User")
serve("every kind", [triggered, devices.PatternSource(64, 48)], devices.EveryKindSink(), user_sets=2)
''')
    assert out["bare"] == ["OK", ""]
    assert out["source"] == ["OK", ""]
    assert out["every kind"] == ["OK", "", []]
    for name in ("bare", "source", "every kind"):
        assert invalid(schema, tmp_path / f"{name}.xml") == "", name


def test_references_the_schema_cannot_admit(isolated):
    """A selector must select by an integer value, and a reference that
    needs a value cannot name a string: the device's Start says which
    feature is at fault. A command or boolean where a number is needed is
    named through its register."""
    out = isolated(f'''
sys.path.insert(0, {str(HERE)!r})
import devices
import tarn_edge_313 as edge

class Sink(devices.DeviceSink):
    def __init__(self, fault):
        super().__init__(features=True)
        self.fault = fault
    def OnCreateCustomGenApiFeatures(self, device, factory):
        super().OnCreateCustomGenApiFeatures(device, factory)
        factory.SetName("TarnFaulty")
        if self.fault == "selector":
            factory.AddSelected("TarnFloat")
        else:
            factory.SetPIsAvailable("TarnText")
        factory.AddVariable("TarnCommand")
        factory.CreateIntSwissKnife("TarnCommand + 1")

for fault in ("selector", "availability"):
    device = edge.TnSoftDeviceGEV()
    device.RegisterEventSink(Sink(fault))
    started = device.Start(devices.LOOPBACK_MAC)
    out[fault] = [started.GetCodeString(), started.GetDescription()]
    device.Stop()
''')
    assert out["selector"] == ["GENICAM_XML_ERROR", "feature 'TarnFaulty': its selector 'TarnFloat' is a Float, but "
                                                    "only integers, enumerations and booleans select"]
    assert out["availability"] == ["GENICAM_XML_ERROR", "feature 'TarnFaulty': its pIsAvailable names 'TarnText', a "
                                                        "String, where it needs a number value"]
