"""Child programs of test_triggers.py. The isolated fixture runs each in a
network namespace of its own: triggers_child.py NAME."""

import pathlib
import subprocess

import child
from child import out

# aravis's GObject receiver, run by the system's Python.
GRAB = pathlib.Path(__file__).resolve().parent.parent / "aravis_grab.py"


if child.NAME == "triggered_source_in_a_device":
    import threading
    import devices
    import tarn_edge_313 as edge, _tarn_edge_313 as module
    import tarn_receive_313 as rx

    def outcome(call, *args):
        try:
            return str(call(*args))
        except Exception as error:
            return [type(error).__name__, str(error)]

    class Source(devices.TriggeredSource):
        """Builds TriggerMode through the base, and tries the protected
        operations as a program may: another one, null objects, and the same one
        from another thread while the forwarded call runs."""
        def __init__(self):
            super().__init__()
            self.protected = []
        def CreateTriggerMode(self, registers, factory):
            call = module.TnStreamingChannelSourceTrigger_CreateTriggerMode
            self.protected.append(outcome(call, self, registers, factory))
            self.protected.append(outcome(module.TnStreamingChannelSourceTrigger_CreateTriggerSelector, self, registers,
                                          factory))
            self.protected.append(outcome(call, self, None, factory))
            self.protected.append(outcome(call, self, registers, None))
            other = threading.Thread(target=lambda: self.protected.append(outcome(call, self, None, None)))
            other.start()
            other.join()

    source = Source()
    source.AddSource(edge.TRIGGER_SOURCE_USER, "User")
    device = devices.started(source)
    out["owned"] = [buffer.this.own() for buffer in source.buffers]
    out["outside"] = [outcome(getattr(module, "TnStreamingChannelSourceTrigger_" + name), target, None, None)
                      for name in ("CreateTriggerMode", "CreateTriggerSoftware") for target in (source, source.this)]
    client = rx.TnDeviceGEV()
    client.Connect("127.0.0.1")
    features = client.GetParameters()
    out["features"] = [features.SetEnumValue("TriggerMode", "On")[0].GetCodeString(),
                       features.SetEnumValue("TriggerSource", "Software")[0].GetCodeString(),
                       features.GetEnumValueString("TriggerSelector")[1]]
    out["mode"] = [source.GetMode(), source.frames.GetState()]
    for _ in range(3):
        features.ExecuteCommand("TriggerSoftware")
    out["fired"] = source.fired
    out["protected"] = source.protected
    client.Disconnect()
    device.Stop()
    out["freed"] = [getattr(source, "freed", False), [buffer.this.own() for buffer in source.buffers]]


if child.NAME == "software_triggers_from_aravis":
    import zlib
    import devices
    source = devices.TriggeredSource()
    device = devices.started(source)
    grab = subprocess.run(["/usr/bin/python3", "-I", str(GRAB), "127.0.0.1",
                           "--software-triggers", "3"], capture_output=True, text=True, timeout=60)
    out["lines"] = grab.stdout.splitlines()
    out["errors"] = grab.stderr[-1000:]
    out["fired"] = len(source.fired)
    out["sent"] = [zlib.crc32(devices.pattern(32, 16, block).tobytes()) for block in (1, 2, 3)]
    device.Stop()
