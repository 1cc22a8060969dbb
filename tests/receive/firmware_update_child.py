"""Child programs of test_firmware_update.py. The isolated fixture runs each in
a network namespace of its own: firmware_update_child.py NAME ARGUMENTS
(a_good_file_...: the update file's folder and name; files_that_do_not_fit_...:
the folders and names of the files, by kind, in JSON)."""

import json
import pathlib
import sys
import time

import child
from child import out

import tarn_base_313 as tarn

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "edge"))
import tarn_receive_313 as rx  # noqa: E402
import devices  # noqa: E402
import far_ends  # noqa: E402

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


if child.NAME == "a_good_file_reaches_the_device_and_observers_break_nothing":
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

    updater = rx.TnGenFUUpdater(*child.ARGUMENTS, info, "updated-1", True)
    recorder, raising, leaving, incomplete = Recorder(), Recorder(fail=True), Recorder(updater), Incomplete()
    out["result"] = run(updater, [raising, incomplete, leaving, recorder])
    out["calls"] = recorder.calls
    out["raising"] = raising.calls == recorder.calls
    out["leaving"] = leaving.calls
    out["stored"] = bytes(store.files["Firmware"]).hex()
    out["operations"] = sorted({operation for operation, *_ in store.operations})
    out["reset"] = store.resets
    result, info = system.FindDevice("127.0.0.1")
    out["identifier"] = info.GetUserDefinedName()


if child.NAME == "files_that_do_not_fit_write_nothing":
    out["results"] = {kind: run(rx.TnGenFUUpdater(path, name, info, "", False))[0]
                       for kind, (path, name) in json.loads(child.ARGUMENTS[0]).items()}
    out["operations"] = store.operations
    out["stored"] = {name: len(data) for name, data in store.files.items()}
