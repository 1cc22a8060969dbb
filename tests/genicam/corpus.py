"""Where the shared corpus of real cameras' GenICam descriptions lies: beside
the repository (<repository>/../shared/genicam-corpus/xml, or beside a folder
above it for checkouts nested deeper), or where TARN_GENICAM_CORPUS points."""

import os
import pathlib

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent


def corpus_directory():
    override = os.environ.get("TARN_GENICAM_CORPUS")
    if override:
        return pathlib.Path(override)
    for folder in list(ROOT.parents)[:3]:
        candidate = folder / "shared" / "genicam-corpus" / "xml"
        if candidate.is_dir():
            return candidate
    return ROOT.parent / "shared" / "genicam-corpus" / "xml"
