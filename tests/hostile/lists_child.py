"""Child programs of test_lending.py's lists: lists of parameters that the
program fills (and that the SDK fills for it) with parameters borrowed from
a device's features, the device then dropped or freed.

    lists_child.py NAME    (in a network namespace, with MALLOC_PERTURB_)"""

import gc
import os
import sys

import child
from child import failure, out

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "edge"))

import tarn_base_313 as tarn  # noqa: E402
import tarn_edge_313 as edge  # noqa: E402, F401
import tarn_receive_313 as rx  # noqa: E402

import devices  # noqa: E402


def scribble():
    """Fills freed memory with other objects' bytes."""
    gc.collect()
    return [bytearray(b"\x5a" * (1 << 20)) for _ in range(32)]


if child.NAME == "lists_keep_the_owners_of_their_items":
    sink = devices.DeviceSink()
    device = devices.started(devices.PatternSource(), sink)

    def connected():
        client = rx.TnDeviceGEV()
        assert client.Connect("127.0.0.1").IsOK()
        return client

    def disconnected(count):
        """Whether the device has seen COUNT controllers go."""
        gc.collect()
        return sink.wait_for("disconnect", count, timeout=10)

    # A list the program fills, its items' device dropped: the list keeps
    # it, and lets go of it when cleared.
    client = connected()
    chosen = tarn.TnGenParameterList()
    chosen.Add(client.GetParameters().Get("DeviceModelName"))
    chosen.Add(None)
    chosen.Add(client.GetParameters().Get("Width"))
    del client
    junk = scribble()
    out["dropped"] = [chosen[0].GetValue()[1], chosen[1], chosen.GetItem(2).GetValue()[1], chosen.GetSize()]
    chosen.Clear()
    out["cleared"] = [chosen.GetSize(), disconnected(1)]

    # The lists the SDK fills: the selected parameters of a selector.
    client = connected()
    result, selected = client.GetParameters().Get("UserSetSelector").GetSelectedParameters()
    del client
    junk = scribble()
    out["selected"] = [result.GetCodeString(), sorted(selected[i].GetName()[1] for i in range(selected.GetSize()))]
    del selected
    out["selected gone"] = disconnected(2)

    # A device its factory frees while a list holds one of its parameters:
    # it lives on until the list goes.
    result, client = rx.TnDevice.CreateAndConnect(tarn.TnSystem().FindDevice("127.0.0.1")[1])
    assert result.IsOK()
    kept = tarn.TnGenParameterList()
    kept.Add(client.GetParameters().Get("DeviceModelName"))
    rx.TnDevice.Free(client)
    junk = scribble()
    out["freed"] = [failure(client.GetParameters)[0], kept.GetFirst().GetValue()[1]]
    del kept
    out["freed gone"] = disconnected(3)
    del junk
    device.Stop()
