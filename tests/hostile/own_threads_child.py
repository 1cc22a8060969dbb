"""Objects that call Python on their own threads (or inside their own Start,
Stop, reads and writes), ended or stopped from inside such a call: deleted
through the module, dropped (their last reference), freed by their factory,
stopped, closed or disconnected; then started, connected or opened again.
A worker thread does every step while the main thread sleeps in one
blocking call (a socket's recv, which runs no Python until it returns), so
nothing can wait for the main thread.

    own_threads_child.py KIND CALLBACK    (in a network namespace)

Every action of KIND (ACTIONS) is done in turn by the first call of the
callback named CALLBACK; out[action] records what the steps answered, and
out["error"] what the worker raised."""

import collections
import os
import socket
import sys
import threading
import time
import traceback

import child
from child import failure, out

import tarn_base_313 as tarn

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, os.pardir, "edge"), os.path.join(HERE, os.pardir, "receive")]
import devices  # noqa: E402
import gvcp  # noqa: E402
import tarn_edge_313 as edge  # noqa: E402
import tarn_receive_313 as rx  # noqa: E402

KIND, CALLBACK = child.NAME, child.ARGUMENTS[0]
ACTIONS = {"soft-device": ["delete", "drop", "stop"], "device": ["delete", "drop", "free", "disconnect"],
           "serial-port": ["delete", "drop", "close", "free-device"], "updater": ["delete", "drop", "detach"]}
W, H, MAC = 64, 48, devices.LOOPBACK_MAC
objects = {}  # what the actions end, by name
round = None  # the action under way: {"action", "done", answers...}


def code(result):
    return result.GetCodeString()


def act(name):
    """The callback NAME runs: the first one of the round's kind acts."""
    if name != CALLBACK or round is None or round["done"].is_set():
        return
    action, target = round["action"], KIND if round["action"] != "free-device" else "device"
    if action == "delete":
        type(objects[target]).__swig_destroy__(objects[target])
        round["emptied"] = failure(getattr(objects[target], EMPTIED[target])) is not None
    elif action == "drop":
        objects[target] = None
    elif action in ("free", "free-device"):
        rx.TnDevice.Free(objects[target])
    elif action == "detach":
        objects[target].Detach(observer)
    else:  # stop, disconnect, close
        ended = objects[target]
        round[action] = code(getattr(ended, {"disconnect": "Disconnect", "stop": "Stop"}.get(action, "Close"))())
        round["open after"] = ended.IsOpened() if action == "close" else None
    if KIND == "soft-device":
        # A stop or an end waits for this call: what it lets go of stays
        # while the call waits here (long enough for an end that did not
        # wait to have freed it).
        round["freed inside"] = source.freed.wait(2 if CALLBACK in PROGRAM_THREAD else 0.2)
    round["done"].set()


# The software device's callbacks that run on the program's thread (inside
# a register write, a Start or a Stop of the worker).
PROGRAM_THREAD = {"python-write", "registers", "control-start", "control-stop"}
EMPTIED = {"soft-device": "GetInfo", "device": "GetParameters", "serial-port": "IsOpened", "updater": "IsDone"}


def stream_frame():
    """A client takes a frame from the software device: the answers."""
    client, stream = rx.TnDeviceGEV(), rx.TnStreamGEV()
    answers = [code(client.Connect("127.0.0.1")), code(stream.Open("127.0.0.1", 0))]
    client.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort())
    kept = child.queue_buffers(stream, 4, W * H)
    client.GetParameters().ExecuteCommand("AcquisitionStart")
    answers.append(code(stream.RetrieveBuffer(5000)[2]))
    client.GetParameters().ExecuteCommand("AcquisitionStop")
    stream.Close(), client.Disconnect()
    return answers


def waited(event, what):
    assert event.wait(60), f"no {what}"


# The software device, and its callbacks.

class Source(devices.BufferQueue, edge.TnStreamingChannelSourceDefault):
    def __init__(self):
        super().__init__(W, H, edge.TnPixelMono8, 4)
        self.queue, self.changed, self.frames, self.freed = collections.deque(), threading.Condition(), 0, \
            threading.Event()

    def RetrieveBuffer(self, location):
        buffer = self.next_queued()
        if buffer is None:
            return edge.TN_TIMEOUT, None
        self.frames += 1
        if self.frames == 3:
            act("retrieve")
        return edge.TN_OK, buffer

    def OnStreamingStart(self):
        act("streaming-start")

    def AbortQueuedBuffers(self):
        pass

    def FreeBuffer(self, buffer):
        edge.TnStreamingChannelSourceDefault.FreeBuffer(self, buffer)
        self.freed.set()


class Sink(edge.ITnVirtualDeviceGEVEventSink):
    def OnApplicationConnect(self, *arguments):
        act("connect")

    def OnApplicationDisconnect(self, device):
        act("disconnect"), act("expire")

    def OnControlChannelStart(self, *arguments):
        act("control-start")

    def OnControlChannelStop(self, device):
        if round is not None:
            round["stopping"].set()
        act("control-stop")

    def OnCreateCustomRegisters(self, device, factory):
        factory.AddRegister("TarnOwnReg", devices.CUSTOM, 4, edge.TnGenAccessModeReadWrite, register_sink)
        act("registers")


class RegisterSink(edge.ITnRegisterEventSink):
    def PostWrite(self, register):
        act("postwrite"), act("python-write")


class Notify(edge.ITnUserSetNotify):
    def UserSetStateNotify(self, state, index):
        act("userset")
        return edge.TN_OK


class Trigger(edge.ITnTriggerCallback):
    def TriggerCallbackMethod(self, selector):
        act("trigger")


def written(*writes):
    """A controller's writes (address, value), with the control privilege."""
    def write():
        client = gvcp.Client()
        for address, value in ((gvcp.PRIVILEGE, 2),) + writes:
            client.write(address, value)
        round["kept"] = client  # silent from now on
    return write


def streamed():
    client, stream = rx.TnDeviceGEV(), rx.TnStreamGEV()
    client.Connect("127.0.0.1"), stream.Open("127.0.0.1", 0)
    client.SetStreamDestination(stream.GetLocalIPAddress(), stream.GetLocalPort())
    round["kept"] = [client, stream, child.queue_buffers(stream, 8, W * H)]
    client.GetParameters().ExecuteCommand("AcquisitionStart")


def connected(disconnect):
    client = rx.TnDeviceGEV()
    client.Connect("127.0.0.1")
    if disconnect:
        client.Disconnect()
    round["kept"] = client


SOFT_TRIGGERS = {
    "connect": lambda: connected(False), "disconnect": lambda: connected(True),
    "expire": written((gvcp.HEARTBEAT_TIMEOUT, 500)), "postwrite": written((devices.CUSTOM, 5)),
    "userset": written((0xF0000008, 1), (0xF0000010, 1)), "trigger": written((0x20000 + 0xC, 1)),
    "retrieve": streamed, "streaming-start": streamed,
    "python-write": lambda: round.update(write=code(objects["soft-device"].GetRegisterMap()
                                                    .GetRegisterByAddress(devices.CUSTOM).Write(5))),
    "registers": lambda: round.update(start=code(objects["soft-device"].Start(MAC))),
    "control-start": lambda: round.update(start=code(objects["soft-device"].Start(MAC))),
    "control-stop": lambda: round.update(stopped=code(objects["soft-device"].Stop())),
}


def soft_device_round():
    global source
    device = objects["soft-device"] = edge.TnSoftDeviceGEV()
    device.SetUserSetCount(1), device.SetUserSetNotify(notify), device.RegisterEventSink(sink)
    device.AddStream(source := Source())
    if CALLBACK == "trigger":
        triggered = devices.TriggeredSource()
        triggered.AddSelectorTriggerCallback(edge.TRIGGER_SELECTOR_FRAMESTART, trigger)
        device.AddStream(triggered)
    if CALLBACK not in ("registers", "control-start"):
        assert device.Start(MAC).IsOK()
    del device
    try:
        SOFT_TRIGGERS[CALLBACK]()
    except TimeoutError:
        pass  # a device that ended answers no more
    if round["action"] == "stop":
        # The stop completes once the callback returned; a Start while it
        # goes on waits for it.
        device = objects["soft-device"]
        if CALLBACK in ("registers", "control-stop"):  # no stop while it starts or stops
            waited(round["done"], f"{CALLBACK} call")
            device.Stop()
        else:
            waited(round["stopping"], "stop")
        round["restart"] = code(device.Start(MAC))
    waited(round["done"], f"{CALLBACK} call")
    if round["action"] != "stop":
        if CALLBACK != "registers":
            waited(source.freed, "end of the device")
        device = objects["soft-device"] = devices.started(Source())  # another on the same port
    round["streams"] = stream_frame()
    round["stop again"] = code(device.Stop())


# A controller of the receive module, and its event sinks.

class ClientSink(rx.TnDeviceEventSink):
    def OnEvent(self, *arguments):
        act("event")

    def OnEventGenICam(self, *arguments):
        act("event-genicam")

    def OnLinkDisconnected(self, device):
        act("link-lost")

    def OnCmdLinkRead(self, pair):
        act("read")

    def OnCmdLinkWrite(self, pair):
        act("write")


def device_round():
    released = soft_sink.events.count(("disconnect",)) + 1
    result, info = system.FindDevice("127.0.0.1")
    if round["action"] == "free":
        result, client = rx.TnDevice.CreateAndConnect(info)
    else:
        client = rx.TnDeviceGEV()
        client.Connect(info)
    client.RegisterEventSink(client_sink)
    objects["device"] = client
    if CALLBACK == "link-lost":
        soft.Stop()
    elif CALLBACK in ("read", "write"):
        features = client.GetParameters()
        features.InvalidateCache()
        round["call"] = code(features.GetIntegerValue("GevHeartbeatTimeout")[0] if CALLBACK == "read" else
                             features.SetIntegerValue("GevHeartbeatTimeout", 3000))
        del features
    del client
    for attempt in range(100 if CALLBACK.startswith("event") else 0):
        if round["done"].wait(0.05):
            break
        soft.GetMessagingChannel().FireEvent(0x9001, bytes(8))
    waited(round["done"], f"{CALLBACK} call")
    if CALLBACK == "link-lost":
        assert soft.Start(MAC).IsOK()
    else:  # the controller's end gives the device's control back
        assert soft_sink.wait_for("disconnect", released, 60), "no end of the controller"
    if round["action"] == "disconnect":
        round["again"] = [code(objects["device"].Connect(info)),
                          code(objects["device"].GetParameters().GetIntegerValue("Width")[0])]
        objects["device"].Disconnect()
    else:
        result, client = rx.TnDevice.CreateAndConnect(info)
        round["again"] = [code(result), code(client.GetParameters().GetIntegerValue("Width")[0])]
        rx.TnDevice.Free(client)


# Serial ports: the device's sink hears the reads of the port's thread.

class PollerSink(rx.TnDeviceEventSink):
    def OnCmdLinkRead(self, pair):
        if threading.current_thread().ident not in python_threads:
            act("poll")


def serial_round():
    result, objects["device"] = rx.TnDevice.CreateAndConnect(info)
    objects["serial-port"] = rx.TnDeviceSerialPort()
    adapter = rx.TnDeviceAdapter(objects["device"])
    objects["serial-port"].Open(adapter, rx.TnDeviceSerial0)
    objects["device"].RegisterEventSink(poller_sink)
    waited(round["done"], "read of the port's thread")
    port = objects["serial-port"] if round["action"] in ("close", "free-device") else rx.TnDeviceSerialPort()
    if round["action"] == "free-device":  # the port lost its device; closed, it opens on another
        round["close"] = code(port.Close())
        # The device freed on the port's thread gives its control back once
        # that call has returned (a loaded machine may take a while).
        for attempt in range(600):
            result, objects["device"] = rx.TnDevice.CreateAndConnect(info)
            if result.IsOK():
                break
            if objects["device"] is not None:
                rx.TnDevice.Free(objects["device"])
            time.sleep(0.1)
        round["connect"] = code(result)
        adapter = rx.TnDeviceAdapter(objects["device"])
    back = [code(port.Open(adapter, rx.TnDeviceSerial0)), code(port.Write(b"tarn")[0]), b""]
    for attempt in range(20):
        if len(back[2]) < 4:
            result, data, count = port.Read(4, 1000)
            back[2] += bytes(data[:count])
    round["again"] = back[:2] + [back[2].decode(errors="replace"), code(port.Close())]
    rx.TnDevice.Free(objects["device"])


# The firmware updater and its observer.

class Observer(rx.IUpdaterObserver):
    late = 0  # calls once the observer acted

    def UpdateProgressLabel(self, text):
        self.late += round is None or round["done"].is_set()

    def UpdateProgressValue(self, value):
        self.late += round is None or round["done"].is_set()
        if value >= 10:
            act("progress")


def updater_round():
    resets = store.resets
    objects["updater"] = rx.TnGenFUUpdater(folder, name, info, "", True)
    objects["updater"].Attach(observer)
    objects["updater"].Start()
    waited(round["done"], "observer call")
    for attempt in range(600):  # the update goes on to its end: the device's reset
        if store.resets == resets:
            time.sleep(0.1)
    round["updated"] = store.resets > resets and bytes(store.files["Firmware"]) == firmware
    round["late calls"], observer.late = observer.late, 0
    again = rx.TnGenFUUpdater(folder, name, info, "", False)
    again.Start()
    while not again.IsDone():
        time.sleep(0.05)
    round["again"] = code(again.GetResult())


if KIND == "soft-device":
    sink, register_sink, notify, trigger = Sink(), RegisterSink(), Notify(), Trigger()
elif KIND == "device":
    soft = devices.started(devices.TriggeredSource(), soft_sink := devices.EveryKindSink())
    system, client_sink = tarn.TnSystem(), ClientSink()
elif KIND == "serial-port":
    system, poller_sink = tarn.TnSystem(), PollerSink()
    system.SetDetectionTimeout(100)
    info = system.FindDevice("SERIAL-0001")[1]
    python_threads = {threading.main_thread().ident}
elif KIND == "updater":
    import far_ends

    store, system, observer = far_ends.FileStore(), tarn.TnSystem(), Observer()
    soft = devices.started(sink=store)
    soft.GetInfo().SetModelName("TarnCam-1")
    info = system.FindDevice("127.0.0.1")[1]
    folder, name = os.environ["TARN_UPDATE_FILE"].rsplit("/", 1)
    firmware = bytes.fromhex(os.environ["TARN_FIRMWARE"])
ROUNDS = {"soft-device": soft_device_round, "device": device_round, "serial-port": serial_round,
          "updater": updater_round}


def work():
    global round
    if KIND == "serial-port":
        python_threads.add(threading.get_ident())
    for action in ACTIONS[KIND]:
        round = {"action": action, "done": threading.Event(), "stopping": threading.Event()}
        ROUNDS[KIND]()
        out[action] = {key: value for key, value in round.items() if key not in ("action", "done", "stopping", "kept")}
        round = None


wake, sleeper = socket.socketpair()


def run():
    try:
        work()
    except BaseException:
        out["error"] = traceback.format_exc()
    finally:
        wake.send(b"!")


threading.Thread(target=run, daemon=True).start()
sleeper.recv(1)  # the main thread sleeps in one call until the worker ends
out["rounds"] = [action for action in ACTIONS[KIND] if action in out]
