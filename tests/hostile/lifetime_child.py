"""Drops one kind of Python object that a running software device calls back
while the device (driven by GigE Vision clients on other threads) calls it,
over and over for the given seconds; prints the rounds and the calls that
reached the objects. Some objects are deleted through the module, some lose
their last reference, some drop themselves from inside their own call.

    lifetime_child.py KIND SECONDS    (in a network namespace)"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "edge"))

import devices  # noqa: E402
import gvcp  # noqa: E402
import tarn_edge_313 as edge  # noqa: E402
import tarn_receive_313 as rx  # noqa: E402

KIND, SECONDS = sys.argv[1], float(sys.argv[2])
USER_SET_SELECTOR, USER_SET_SAVE = 0xF0000008, 0xF0000010
SOFTWARE_TRIGGER = 0x20000 + 0xC
calls = [0]
held = set()  # objects that drop themselves when called


def drop(item, rounds):
    """Drops item three ways in turn."""
    if rounds % 3 == 0:
        type(item).__swig_destroy__(item)
    elif rounds % 3 == 1:
        held.add(item)


def called(item):
    calls[0] += 1
    held.discard(item)  # the last reference, from inside the call


class RegisterSink(edge.ITnRegisterEventSink):
    def PostWrite(self, register):
        called(self)


class Notify(edge.ITnUserSetNotify):
    def UserSetStateNotify(self, state, index):
        called(self)
        return edge.TN_OK


class Callback(edge.ITnTriggerCallback):
    def TriggerCallbackMethod(self, selector):
        called(self)


class DeviceSink(devices.DeviceSink):
    def OnApplicationConnect(self, *arguments):
        called(self)


def going(rounds):
    """Whether another round runs: for the given seconds, and at least four
    rounds (every way of dropping, both sources), however slow the machine,
    within a minute more."""
    now = time.monotonic()
    return now < deadline or rounds < 4 and now < deadline + 60


def attach_repeatedly(attach, make):
    rounds = 0
    while going(rounds):
        item = make()
        attach(item)
        time.sleep(0.001)
        drop(item, rounds)
        del item
        rounds += 1
    return rounds


def stream_once(source):
    """Streams from a started device for a moment, and drops the source meanwhile."""
    device = devices.started(source)
    client, stream = rx.TnDeviceGEV(), rx.TnStreamGEV()
    assert client.Connect("127.0.0.1").IsOK()
    stream.Open("127.0.0.1", 0)
    client.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort())
    client.GetParameters().ExecuteCommand("AcquisitionStart")
    time.sleep(0.03)
    type(source).__swig_destroy__(source)
    time.sleep(0.03)
    client.Disconnect()
    stream.Close()
    assert device.Stop().IsOK()


deadline = time.monotonic() + SECONDS
rounds = 0
if KIND == "register-sink":
    device = devices.started(None, devices.DeviceSink(features=True))
    register = device.GetRegisterMap().GetRegisterByAddress(devices.CUSTOM + 4)
    clients = gvcp.Clients((devices.CUSTOM + 4, 3))
    rounds = attach_repeatedly(register.AddEventSink, RegisterSink)
elif KIND == "user-set-notify":
    device = devices.started(None, None, user_sets=1)
    clients = gvcp.Clients((USER_SET_SELECTOR, 1), (USER_SET_SAVE, 1))
    rounds = attach_repeatedly(device.SetUserSetNotify, Notify)
elif KIND == "trigger-callback":
    source = devices.TriggeredSource()
    device = devices.started(source)
    clients = gvcp.Clients((SOFTWARE_TRIGGER, 1))
    rounds = attach_repeatedly(lambda item: source.AddSelectorTriggerCallback(edge.TRIGGER_SELECTOR_FRAMESTART, item),
                               Callback)
elif KIND == "device-sink":
    while going(rounds):
        sink = DeviceSink()
        device = devices.started(None, sink)
        clients = gvcp.Clients((gvcp.PRIVILEGE, 0), (gvcp.PRIVILEGE, 2), count=1)
        time.sleep(0.02)
        drop(sink, rounds)
        del sink
        time.sleep(0.02)
        clients.join()
        assert device.Stop().IsOK()
        rounds += 1
    clients = gvcp.Clients(count=0)
elif KIND == "source":
    while going(rounds):
        stream_once(devices.PatternSource(64, 48) if rounds % 2 else devices.TriggeredSource())
        rounds += 1
    clients = gvcp.Clients(count=0)
clients.join()
held.clear()
print(rounds, calls[0], flush=True)
