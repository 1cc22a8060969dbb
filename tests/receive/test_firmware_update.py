"""Firmware updates of a Python-built software GigE Vision device that keeps
the files its file access features receive: a good update file reaches it
byte for byte, files that do not fit write nothing, and observers that raise,
lack a method or detach themselves break nothing."""

import io
import pathlib
import zipfile
import zlib

HERE = pathlib.Path(__file__).resolve().parent
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


PRELUDE = f'''
sys.path.insert(0, {str(HERE)!r})
sys.path.insert(0, {str(HERE.parent / "edge")!r})
import tarn_receive_313 as rx
import devices, far_ends
store = far_ends.FileStore()
device = devices.started(sink=store)
device.GetInfo().SetModelName("TarnCam-1")
system = tarn.TnSystem()
system.SetDetectionTimeout(300)
result, info = system.FindDevice("127.0.0.1")

def run(updater, observers=()):
    for observer in observers:
        updater.Attach(observer)
    updater.Start()
    while not updater.IsDone():
        time.sleep(0.01)
    for observer in observers:
        updater.Detach(observer)
    result = updater.GetResult()
    return [result.GetCodeString(), result.GetDescription()]
'''


def test_a_good_file_reaches_the_device_and_observers_break_nothing(isolated, tmp_path):
    path, name = update_file(tmp_path / "update.zip")
    out = isolated(PRELUDE + f'''
class Recorder(rx.IUpdaterObserver):
    def __init__(self, updater=None, fail=False):
        super().__init__()
        self.updater, self.fail, self.calls = updater, fail, []
    def UpdateProgressLabel(self, text):
        self.calls.append(text)
    def UpdateProgressValue(self, value):
        self.calls.append(value)
        if self.fail:
            raise ValueError("observer failure")
        if self.updater is not None and value > 0:
            self.updater.Detach(self)  # from its own call, on the update's thread

class Incomplete(rx.IUpdaterObserver):
    def UpdateProgressLabel(self, text):
        pass

updater = rx.TnGenFUUpdater({path!r}, {name!r}, info, "updated-1", True)
recorder, raising, leaving, incomplete = Recorder(), Recorder(fail=True), Recorder(updater), Incomplete()
out["result"] = run(updater, [raising, incomplete, leaving, recorder])
out["calls"] = recorder.calls
out["raising"] = raising.calls == recorder.calls
out["leaving"] = leaving.calls
out["stored"] = bytes(store.files["Firmware"]) == {FIRMWARE!r}
out["operations"] = sorted({{operation for operation, *_ in store.operations}})
out["reset"] = store.resets
result, info = system.FindDevice("127.0.0.1")
out["identifier"] = info.GetUserDefinedName()
''')
    assert out["result"] == ["OK", ""]
    labels = [call for call in out["calls"] if isinstance(call, str)]
    values = [call for call in out["calls"] if isinstance(call, int)]
    assert labels == ["Checking the update file", "Connecting to the device", "Writing the firmware",
                      "Verifying the firmware", "Resetting the device", "Update done"]
    assert values[0] == 0 and values[-1] == 100 and values == sorted(values) and len(values) > 10
    assert out["raising"] is True
    assert out["leaving"] == ["Checking the update file", 0, "Connecting to the device", 5]
    assert out["stored"] is True
    assert out["operations"] == ["Close", "Open", "Read", "Write"]
    assert out["reset"] == 1
    assert out["identifier"] == "updated-1"
    assert out["stdout"].count("In method 'UpdateProgressValue': ValueError") == len(values)


def test_files_that_do_not_fit_write_nothing(isolated, tmp_path):
    files = {"model": update_file(tmp_path / "other.zip", models="TarnCam-9"),
             "truncated": update_file(tmp_path / "cut.zip", cut=40),
             "checksum": update_file(tmp_path / "crc.zip", crc=zlib.crc32(FIRMWARE) ^ 1),
             "missing": (str(tmp_path), "none.zip")}
    out = isolated(PRELUDE + f'''
out["results"] = {{kind: run(rx.TnGenFUUpdater(path, name, info, "", False))[0]
                   for kind, (path, name) in {files!r}.items()}}
out["operations"] = store.operations
out["stored"] = {{name: len(data) for name, data in store.files.items()}}
''')
    assert out["results"] == {"model": "NOT_SUPPORTED", "truncated": "INVALID_DATA_FORMAT",
                              "checksum": "CORRUPTED_DATA", "missing": "CANNOT_OPEN_FILE"}
    assert out["operations"] == [] and out["stored"] == {"Firmware": 0, "Config": 0}
