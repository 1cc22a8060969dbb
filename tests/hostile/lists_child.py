"""Child program of test_lending.py: lists of parameters that the program
fills, and that the SDK fills for it, with parameters of a device's features,
the device then dropped or freed (run with MALLOC_PERTURB_).

    lists_child.py NAME    (in a network namespace)"""

import gc
import os
import sys

import child
from child import failure, out

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "edge"))

import tarn_base_313 as tarn  # noqa: E402
import tarn_receive_313 as rx  # noqa: E402

import devices  # noqa: E402

if child.NAME == "lists_keep_the_owners_of_their_items":
    sink = devices.DeviceSink()
    device = devices.started(devices.PatternSource(), sink)

    def connected():
        client = rx.TnDeviceGEV()
        assert client.Connect("127.0.0.1").IsOK()
        return client

    def scribble():
        """Fills freed memory with other bytes."""
        gc.collect()
        return [bytearray(b"\x5a" * (1 << 20)) for _ in range(32)]

    def disconnected(count):
        """Whether the device saw COUNT controllers go."""
        gc.collect()
        return sink.wait_for("disconnect", count, timeout=10)

    # Filled by the program: the list keeps the device until cleared.
    client = connected()
    chosen = tarn.TnGenParameterList()
    for name in ("DeviceModelName", None, "Width"):
        chosen.Add(name and client.GetParameters().Get(name))
    del client
    out["dropped"] = [len(scribble()), chosen[0].GetValue()[1], chosen[1], chosen.GetItem(2).GetValue()[1]]
    chosen.Clear()
    out["cleared"] = [chosen.GetSize(), disconnected(1)]
    # Filled by the SDK: a selector's selected parameters.
    client = connected()
    result, selected = client.GetParameters().Get("UserSetSelector").GetSelectedParameters()
    del client
    out["selected"] = [len(scribble()), sorted(selected[i].GetName()[1] for i in range(selected.GetSize()))]
    del selected
    out["selected gone"] = disconnected(2)
    # Freed by its factory: the device lives on until the list goes.
    result, client = rx.TnDevice.CreateAndConnect(tarn.TnSystem().FindDevice("127.0.0.1")[1])
    kept = tarn.TnGenParameterList()
    kept.Add(client.GetParameters().Get("DeviceModelName"))
    rx.TnDevice.Free(client)
    out["freed"] = [len(scribble()), failure(client.GetParameters)[0], kept.GetFirst().GetValue()[1]]
    del kept
    out["freed gone"] = disconnected(3)
    device.Stop()
