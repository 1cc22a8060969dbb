"""Firmware updates of a Python-built software GigE Vision device that keeps
the files its file access features receive: a good update file reaches it
byte for byte, files that do not fit write nothing, and observers that raise,
lack a method or detach themselves break nothing."""

import io
import json
import pathlib
import zipfile
import zlib

CHILD = pathlib.Path(__file__).resolve().with_name("firmware_update_child.py")

FIRMWARE = bytes((i * 13 + 5) % 256 for i in range(3000))


def update_file(path, firmware=FIRMWARE, models="TarnCam-1, TarnCam-2", crc=None, cut=0):
    """Writes an update file: a zip archive with the manifest and the data."""
    archive = io.BytesIO()
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as members:
        members.writestr("manifest.txt", f"format = 1\nmodels = {models}\nversion = 2.0.1\nfirmware = data.bin\n"
                                         f"crc32 = {zlib.crc32(firmware) if crc is None else crc:08x}\n")
        members.writestr("data.bin", firmware)
    data = archive.getvalue()
    path.write_bytes(data[:len(data) - cut])
    return str(path.parent), path.name


def test_a_good_file_reaches_the_device_and_observers_break_nothing(isolated, tmp_path):
    path, name = update_file(tmp_path / "update.zip")
    out = isolated(CHILD, "a_good_file_reaches_the_device_and_observers_break_nothing", path, name)
    assert out["result"] == ["OK", ""]
    labels = [call for call in out["calls"] if isinstance(call, str)]
    values = [call for call in out["calls"] if isinstance(call, int)]
    assert labels == ["Checking the update file", "Connecting to the device", "Writing the firmware",
                      "Verifying the firmware", "Resetting the device", "Update done"]
    assert values[0] == 0 and values[-1] == 100 and values == sorted(values) and len(values) > 10
    assert out["raising"] is True
    assert out["leaving"] == ["Checking the update file", 0, "Connecting to the device", 5]
    assert bytes.fromhex(out["stored"]) == FIRMWARE
    assert out["operations"] == ["Close", "Open", "Read", "Write"]
    assert out["reset"] == 1
    assert out["identifier"] == "updated-1"
    assert out["stdout"].count("In method 'UpdateProgressValue': ValueError") == len(values)


def test_files_that_do_not_fit_write_nothing(isolated, tmp_path):
    files = {"model": update_file(tmp_path / "other.zip", models="TarnCam-9"),
             "truncated": update_file(tmp_path / "cut.zip", cut=40),
             "checksum": update_file(tmp_path / "crc.zip", crc=zlib.crc32(FIRMWARE) ^ 1),
             "missing": (str(tmp_path), "none.zip")}
    out = isolated(CHILD, "files_that_do_not_fit_write_nothing", json.dumps(files))
    assert out["results"] == {"model": "NOT_SUPPORTED", "truncated": "INVALID_DATA_FORMAT",
                              "checksum": "CORRUPTED_DATA", "missing": "CANNOT_OPEN_FILE"}
    assert out["operations"] == [] and out["stored"] == {"Firmware": 0, "Config": 0}
