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

CHILD = pathlib.Path(__file__).resolve().with_name("description_schema_child.py")

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
    out = isolated(CHILD, "served_descriptions_validate", tmp_path)
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
    out = isolated(CHILD, "references_the_schema_cannot_admit")
    assert out["selector"] == ["GENICAM_XML_ERROR", "feature 'TarnFaulty': its selector 'TarnFloat' is a Float, but "
                                                    "only integers, enumerations and booleans select"]
    assert out["availability"] == ["GENICAM_XML_ERROR", "feature 'TarnFaulty': its pIsAvailable names 'TarnText', a "
                                                        "String, where it needs a number value"]
