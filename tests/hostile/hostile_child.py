"""One child process of the hostile-call test: calls every function of one
extension module with hostile argument tuples.

    hostile_child.py run MODULE PROGRESS REPORT FUNCTION TUPLE
    hostile_child.py describe MODULE FUNCTION TUPLE

`run` starts at the given function and tuple positions and goes on to the end
of the function table. Before each call it writes the two positions into the
16-byte file PROGRESS (mapped, so that writing costs no system call): after a
crash or a hang the parent reads there which call it was, and starts a new
child behind it. A SystemError is written to REPORT as one JSON line and the
run goes on. `describe` prints the argument tuple at the given positions.

Each function gets fresh objects, so that what one function's calls destroy
or change does not reach the next function. The objects are kept until the
child ends (it ends with os._exit): a borrowed object stays valid, as the
rules for borrowed objects ask, because its owner is never collected first.
"""

import importlib
import json
import math
import mmap
import os
import pathlib
import random
import re
import resource
import struct
import sys
import zlib

import numpy as np

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

import figures  # noqa: E402

sys.path.insert(0, str(HERE.parent / "gendc"))
import gendc_packing  # noqa: E402

XML = HERE.parent / "data" / "genicam" / "camera.xml"

# Functions that wait on the network for the detection timeout: they are
# called, but never with an object of the class as `self`, so that only their
# argument handling runs. Their own behaviour is tested in a network namespace.
# The same holds for device functions that find a device by its name first:
# they never get a name (a string) as their first argument either.
NETWORK_FUNCTIONS = {
    "TnSystem_Find": "searches the network for the detection timeout",
    "TnSystem_FindDevice": "searches the network until the device answers or the timeout ends",
    "TnSystem_DiscoverSessions": "listens for session announcements for the detection timeout",
    "TnDevice_CreateAndConnect": "searches the network for the device a name gives, then connects",
    "TnDevice_Connect": "searches the network for the device a name gives, then connects",
    "TnDeviceGEV_Connect": "searches the network for the device a name gives, then connects",
    "TnDeviceU3V_Connect": "searches for the device a name gives, then connects",
    "TnDeviceGEV_GetAccessType": "asks the device at an address, waiting for its answer",
    "TnDeviceGEV_SetIPConfiguration": "searches the network for the device with the MAC address",
    "TnDeviceVexmoorProtocol_SetIPConfiguration": "searches for the device with the MAC address",
    "TnDeviceGEV_NegotiatePacketSize": "waits for test packets of the connected device",
    # The edge module's software device runs once per child, shared by every
    # function: what would stop it (and so free the registers the pool holds)
    # or wait on it never gets it.
    "ITnVirtualDeviceGEV_Stop": "stops the shared device, whose registers the pool holds",
    "ITnVirtualDeviceGEV_Start": "binds the GigE Vision port on an interface the MAC address names",
    "TnSoftDeviceGEV_Start": "binds the GigE Vision port on an interface the MAC address names",
    "ITnRegisterMap_Lock": "waits for the register map's lock, which an earlier call may hold",
}

# Modules whose proxy classes a module's objects use: imported first, so that
# the module's own proxy classes are the ones registered last.
DEPENDENCIES = {"_tarn_receive_313": ["tarn_base_313"], "_tarn_edge_313": ["tarn_base_313"]}

BASELINES = (0, "Width")
RANDOM_TUPLES = 150
# Address space of a child: allocations as large as the extreme sizes ask for
# fail at once instead of filling the machine's memory.
ADDRESS_SPACE = 3 << 30


class Junk:
    """A plain class: registered as a proxy class it yields objects without methods."""


class Refusing:
    """A class whose instances cannot be made: registered as a proxy class,
    every object the modules return of that type fails to become a proxy."""

    def __new__(cls, *args, **kwargs):
        raise RuntimeError("no instances")


class BadDestroy:
    __swig_destroy__ = 5


def scalars():
    return [
        None, True, False, 0, 1, -1, 3, 255, 256, 65535, 65536, 2**31 - 1, 2**31, -2**31, -2**31 - 1,
        2**32 - 1, 2**32, 2**63 - 1, 2**63, -2**63, -2**63 - 1, 2**64, 10**40, 0.0, -0.5, 1.5, 1e308, -1e308,
        3.5e38, math.nan, math.inf, -math.inf, 1 + 2j, "", "Width", "PixelFormat", "Mono8", "Gain", "a\0b",
        "\udc80", "\U0001F600", "x" * 5000, b"", b"ab\0cd", bytearray(b"abcd"), memoryview(b"abcd"), [], [1, 2, 3],
        (1,), {}, {"a": 1}, object(), Junk, Junk(), int, Refusing, BadDestroy, len, Ellipsis, NotImplemented,
    ]


def arrays():
    read_only = np.zeros(64, np.uint8)
    read_only.flags.writeable = False
    return [
        np.zeros(64, np.uint8),
        np.arange(128, dtype=np.uint8)[::2],  # not contiguous
        read_only,
        np.zeros((8, 8), np.uint8),
        np.zeros((8, 8, 3), np.uint8),
        np.zeros((8, 16), np.uint8)[:, ::2],
        np.zeros((8, 8), np.uint8, order="F")[:, 1:],
        np.zeros(64, np.float64),
        np.zeros(64, np.uint16),
        np.zeros(8, np.int8),
        np.zeros((), np.uint8),
        np.zeros(0, np.uint8),
        np.zeros((2, 2, 2, 2), np.uint8),
        np.lib.stride_tricks.as_strided(np.zeros(8, np.uint8), shape=(2**33,), strides=(0,), writeable=False),
    ]


class Pools:
    """Makes the objects one function is called with."""

    def __init__(self, extension, proxy):
        self.extension = extension
        self.proxy = proxy
        self.kept = []
        self.infos = []
        self.shared = self._shared_objects()
        try:
            self.hooks = importlib.import_module("tn_testhooks")
        except ImportError:
            self.hooks = None

    def _shared_objects(self):
        """Interfaces and devices of a searched system (simulated devices and
        loopback, inside the network namespace): borrowed, and kept valid for
        the whole child, since their system is never handed to a function."""
        tarn = sys.modules.get("tarn_base_313", self.proxy)
        if not os.environ.get("HOSTILE_SEARCH") or not hasattr(tarn, "TnSystem"):
            return []
        system = tarn.TnSystem()
        system.SetDetectionTimeout(100)
        system.Find()
        self.kept.append(system)
        found = [system.GetInterface(i) for i in range(system.GetInterfaceCount())]
        self.infos = [system.GetDeviceInfo(i) for i in range(system.GetDeviceCount())]
        found += self.infos
        return [item for item in found if item is not None]

    def objects(self, name):
        """Fresh objects for one function: owned ones, borrowed ones from their
        getters, and pointer objects."""
        made = []
        tarn = self.proxy

        def add(maker):
            try:
                value = maker()
            except Exception:
                return None
            if value is not None:
                made.append(value)
            return value

        if hasattr(tarn, "TnString"):
            add(lambda: tarn.TnString("text"))
            add(lambda: tarn.TnResult(tarn.TN_TIMEOUT, "late"))
            add(lambda: tarn.TnLogger("hostile"))

            class Sink(tarn.TnLogSink):
                def Log(self, *args):
                    pass

            class FailingSink(tarn.TnLogSink):
                def Log(self, *args):
                    raise ValueError("refused")

            add(Sink)
            add(FailingSink)
        if hasattr(tarn, "TnBuffer"):
            self._buffers(tarn, add)
        if hasattr(tarn, "ITnGenericDataContainer") and any(k in name for k in ("GenDC", "Generic", "H264", "Buffer")):
            self._gendc(tarn, add)
        if hasattr(tarn, "TnSystem"):
            self._discovery(tarn, add)
        if self.hooks is not None and hasattr(tarn, "TnGenParameterArray"):
            self._genicam(tarn, add)
        if hasattr(tarn, "TnDevice") and ("Device" in name or "Updater" in name):
            self._devices(tarn, add)
        if hasattr(tarn, "TnSoftDeviceGEV"):
            self._edge(tarn, add)
        if hasattr(tarn, "TnBufferConverter") and ("Convert" in name or "Filter" in name):
            self._conversion(tarn, add)
        # A constructor without arguments of every other class.
        for name in sorted(vars(tarn)):
            cls = getattr(tarn, name)
            if isinstance(cls, type) and hasattr(cls, "thisown") and not any(type(m) is cls for m in made):
                add(cls)
        made += self.shared
        made += [item.this for item in made[:12] if hasattr(item, "this")]
        self.kept.append(made)
        return made

    def _buffers(self, tarn, add):
        buffer = add(lambda: tarn.TnBuffer(tarn.TnPayloadTypeImage))
        if buffer is not None:
            image = add(buffer.GetImage)
            if image is not None:
                image.Alloc(8, 8, tarn.TnPixelMono8)
                add(image.GetBuffer)
        raw = add(lambda: tarn.TnBuffer(tarn.TnPayloadTypeRawData))
        if raw is not None and add(raw.GetRawData) is not None:
            raw.GetRawData().Alloc(32)
        chunks = add(lambda: tarn.TnBuffer(tarn.TnPayloadTypeChunkData))
        if chunks is not None:
            data = add(chunks.GetChunkData)
            if data is not None:
                data.Alloc(64)
                data.AddChunk(7, b"abcd")
        multipart = add(lambda: tarn.TnBuffer(tarn.TnPayloadTypeMultiPart))
        if multipart is not None:
            container = add(multipart.GetMultiPartContainer)
            if container is not None:
                container.AddImagePart(tarn.TnMultiPart2DImage, 8, 8, tarn.TnPixelMono8)
                container.AddJPEGPart(tarn.TnMultiPartJPEGImage, 256, 1, 90000, 0)
                container.AddChunkPart(64, 3)
                container.AllocAllParts()
                for index in range(3):
                    part = add(lambda: container.GetPart(index))
                    if part is not None:
                        add(part.GetImage)
                        add(part.GetJPEG)
                        add(part.GetChunkData)
        attached = add(tarn.TnBuffer)
        if attached is not None:
            memory = np.zeros(64, np.uint8)
            self.kept.append(memory)
            attached.Attach(memory)

    def _conversion(self, tarn, add):
        """What the converter and the filters take: images of the types they
        read (Bayer, packed, YUV, RGB, one without memory), destinations
        (owned, attached and too small, not an image), and compressed buffers
        whole, cut short and damaged."""
        base = sys.modules.get("tarn_base_313")
        if base is None:
            return
        rng = np.random.default_rng(7)
        images = []
        for pixel_type, width, height in [(base.TnPixelBayerRG8, 33, 17), (base.TnPixelMono12p, 31, 5),
                                          (base.TnPixelYUV422_8, 9, 4), (base.TnPixelRGB8, 16, 16)]:
            image = add(base.TnBuffer)
            if image is not None and image.GetImage().Alloc(width, height, pixel_type).IsOK():
                view = image.GetDataPointer()
                view[:] = rng.integers(0, 256, view.size)
                images.append(image)
                add(image.GetImage)
        empty = add(base.TnBuffer)
        if empty is not None:
            empty.GetImage().Alloc(4, 4, base.TnPixelRGB8)
            empty.Free()
        owned = add(base.TnBuffer)
        if owned is not None:
            owned.GetImage().Alloc(1, 1, base.TnPixelRGB8)
        memory = np.zeros((2, 2, 3), np.uint8)
        self.kept.append(memory)
        attached = add(base.TnBuffer)
        if attached is not None:
            attached.GetImage().Attach(memory, base.TnPixelBGRa8)
        add(lambda: base.TnBuffer(base.TnPayloadTypeRawData))
        compressed = add(base.TnBuffer)
        if compressed is None or not images or not tarn.TnCompressionFilter().Execute(images[0], compressed)[0].IsOK():
            return
        whole = compressed.GetDataPointer()[: compressed.GetPayloadSize()].copy()
        for damage in ("cut", "flipped"):
            damaged = whole[:100].copy() if damage == "cut" else whole.copy()
            if damage == "flipped":
                damaged[rng.integers(80, damaged.size, 8)] ^= 0x10
            self.kept.append(damaged)
            buffer = add(lambda: base.TnBuffer(base.TnPayloadTypeVexmoorCompressed))
            if buffer is not None:
                buffer.Attach(damaged)

    def _gendc(self, tarn, add):
        """A buffer over a packed GenDC container and a manager's container
        (never freed), with every component, part, view and header of both."""
        memory = np.frombuffer(bytearray(gendc_packing.pack(gendc_packing.sample(4)).data), np.uint8)
        self.kept.append(memory)
        buffer = add(lambda: tarn.TnBuffer(tarn.TnPayloadTypeGenDC))
        containers = []
        if buffer is not None and buffer.Attach(memory).IsOK():
            containers.append(add(buffer.GetGenDC))
        if self.hooks is not None:
            manager = add(self.hooks.NewGenDCManager)
            built = manager.GetGenDC()
            component = built.GetComponent(built.AddComponent(tarn.TnComponentIntensity))
            component.AddPart(tarn.TnGenDCPart2DH264, 1)
            component.AddPart(tarn.TnGenDCPartMetadataGenICamChunk, 0)
            containers.append(add(manager.GetGenDC))
        for container in filter(None, containers):
            add(container.GetMutableHeader)
            for component in container:
                add(lambda: component)
                add(component.GetMutableHeader)
                for part in component:
                    add(lambda: part)
                    for getter in ("GetMutableHeader", "GetGenDCImage", "GetGenDCChunkData", "GetGenDCChunkWriter",
                                   "Get2DHeader", "GetH264Header", "GetGenICamChunkHeader", "Get1DHeader"):
                        add(getattr(part, getter))

    def _discovery(self, tarn, add):
        add(tarn.TnSystem)
        adapter = add(tarn.TnNetworkAdapter)
        if adapter is not None:
            add(adapter.Copy)
        info = add(tarn.TnDeviceInfoU3V)
        if info is not None:
            add(info.Copy)
        session = add(tarn.TnSessionInfo)
        if session is not None:
            add(lambda: session.mLocalAddress)
        add(tarn.IPConfig)

    def _devices(self, tarn, add):
        """Controllers (one connected to a simulated USB3 Vision device when
        the search found it), what they hand out, an adapter, sinks and
        observers (one of each that raises), an updater and a serial port.
        Made for the functions of those classes only: a connected controller
        keeps a thread, and the objects of every function live on."""
        gev = add(tarn.TnDeviceGEV)
        usb = add(tarn.TnDeviceU3V)
        if usb is not None:
            for info in self.infos:
                if usb.Connect(info).IsOK():
                    break
            add(usb.GetParameters)
            add(usb.GetCommunicationParameters)
            add(usb.GetType)
            add(lambda: tarn.TnDeviceAdapter(usb))
        if gev is not None:
            add(gev.GetAccessType)
            add(gev.GetClass)
            add(gev.GetCommunicationParameters)
            add(lambda: tarn.TnDeviceAdapter(gev))

        class Sink(tarn.TnDeviceEventSink):
            def OnEvent(self, *args):
                pass

        class FailingSink(tarn.TnDeviceEventSink):
            def OnCmdLinkRead(self, *args):
                raise ValueError("refused")

        class Observer(tarn.IUpdaterObserver):
            def UpdateProgressLabel(self, text):
                pass

            def UpdateProgressValue(self, value):
                raise ValueError("refused")

        add(Sink)
        add(FailingSink)
        add(Observer)
        add(lambda: tarn.TnGenFUUpdater("/nonexistent", "update.bin", None, "", False))
        add(tarn.TnDeviceSerialPort)

    def _edge(self, tarn, add):
        """Python sources, sinks, callbacks and notifications (one of each
        kind that raises), selectors, and what the shared running device
        hands out: its interface, information, statistics, messaging channel,
        register map, one of its registers, and factories kept past the
        callbacks that handed them out."""

        def answers(base, raising):
            def method(self, *args):
                if raising:
                    raise ValueError("refused")
                return None
            names = [n for n in dir(base) if n[:1].isupper() and callable(getattr(base, n))]
            return type("Hostile" + base.__name__, (base,), {n: method for n in names})

        for base in (tarn.ITnSWStreamingChannelSource, tarn.ITnSWStreamingChannelSourceGenDC,
                     tarn.ITnRegisterEventSink, tarn.ITnVirtualDeviceGEVEventSink, tarn.ITnUserSetNotify,
                     tarn.ITnTriggerCallback):
            add(answers(base, False))
            add(answers(base, True))
        add(lambda: answers(tarn.TnStreamingChannelSourceDefault, True)(64, 48))
        add(lambda: answers(tarn.TnStreamingChannelSourceTrigger, True)(0, 0x20000))
        for selector in (tarn.TnTriggerSelectorDefault, tarn.TnTriggerSelectorAcquisitionStart,
                         tarn.TnTriggerSelectorFrameStart, tarn.TnTriggerSelectorLineStart):
            add(selector)
        for item in self._shared_device(tarn):
            add(lambda: item)

    def _shared_device(self, tarn):
        """Starts the child's one software device on loopback (inside the
        network namespace only) and returns what it hands out."""
        if not os.environ.get("HOSTILE_SEARCH"):
            return []
        if not hasattr(self, "edge_shared"):
            kept = {}

            class Sink(tarn.ITnVirtualDeviceGEVEventSink):
                def OnCreateCustomRegisters(self, device, factory):
                    kept["device"], kept["factory"] = device, factory
                    factory.AddRegister("HostileReg", 0xA000, 4, tarn.TnGenAccessModeReadWrite)

                def OnCreateCustomGenApiFeatures(self, device, factory):
                    kept["features"] = factory

            sink = Sink()
            device = tarn.TnSoftDeviceGEV()
            device.RegisterEventSink(sink)
            self.kept.append((device, sink))
            self.edge_shared = []
            if device.Start("00:00:00:00:00:00").IsOK():
                registers = device.GetRegisterMap()
                self.edge_shared = [kept["device"], kept["factory"], kept["features"], device.GetInfo(),
                                    device.GetStatistics(), device.GetMessagingChannel(), registers,
                                    registers.GetRegisterByAddress(0xA000)]
        return self.edge_shared

    def _genicam(self, tarn, add):
        hooks = self.hooks
        array = add(lambda: hooks.LoadParameterArray(str(XML), 0x400))
        if array is None:
            return
        for name in ("Width", "ExposureTime", "PixelFormat", "ReverseX", "AcquisitionStart", "DeviceUserID",
                     "LUTValues", "GainSelector"):
            parameter = add(lambda: array.Get(name))
            if parameter is not None and name == "PixelFormat":
                add(lambda: parameter.GetEntryByIndex(0)[1])
            if parameter is not None and name == "GainSelector":
                add(lambda: parameter.GetSelectedParameters()[1])
        add(lambda: array.GetCategory(0))
        add(tarn.TnGenParameterList)
        add(lambda: tarn.TnGenStateStack(array))
        sink = add(hooks.NewCountingSink)
        pixel = add(lambda: hooks.MakeUint24(0x010203))
        if pixel is not None:
            add(lambda: pixel.PixelValue)
        if sink is not None:
            self.kept.append(sink)


def class_of(proxy, name):
    """The proxy class a function belongs to: the longest prefix of its name
    that names a class of the proxy module."""
    parts = name.split("_")
    for end in range(len(parts) - 1, 0, -1):
        candidate = getattr(proxy, "_".join(parts[:end]), None)
        if isinstance(candidate, type):
            return candidate
    return None


def is_a(value, cls):
    """Whether a value is an object of the class, as a proxy or as a pointer
    object of it or of a class derived from it."""
    if cls is None:
        return False
    return isinstance(value, cls) or (type(value).__name__ == "SwigPyObject" and cls.__name__ in repr(value))


def names_something(value):
    """Whether a value passes for a name or an address (a string)."""
    return isinstance(value, str) or "TnString" in type(value).__name__ or (
        type(value).__name__ == "SwigPyObject" and "TnString" in repr(value))


COUNT = re.compile(r"expected (?:at most |at least )?(\d+) arguments, got 12")


def most_arguments(function, form):
    if form == "O":
        return 1
    if form == "NOARGS":
        return 0
    try:
        function(*([None] * 12))
    except Exception as error:
        found = COUNT.search(str(error))
        if found:
            return int(found.group(1))
    return 8


class Plan:
    """The argument tuples of every function, made the same way each time."""

    def __init__(self, extension, proxy):
        self.extension = extension
        self.proxy = proxy
        self.functions = [f for f in figures.functions(extension)]
        self.pools = Pools(extension, proxy)
        self.restore = [(getattr(extension, f.name), getattr(proxy, f.name[: -len("_swigregister")], None))
                        for f in self.functions if f.name.endswith("_swigregister")]

    def tuples(self, index):
        entry = self.functions[index]
        function = getattr(self.extension, entry.name)
        objects = self.pools.objects(entry.name)
        values = scalars() + arrays() + objects
        most = most_arguments(function, entry.form)
        cls = class_of(self.proxy, entry.name)
        if entry.name.startswith(("new_", "delete_", "disown_")) or entry.name.endswith(("_swigregister", "_swiginit")):
            cls = None
        selves = [o for o in objects if cls is not None and isinstance(o, cls)][:3]
        prefixes = [[s] for s in selves] or [[]]
        rng = random.Random(zlib.crc32(entry.name.encode()))
        tuples = []
        for length in range(most + 2):
            tuples += [(None,) * length, (object(),) * length, (0,) * length]
        if most >= 1:
            for value in values:
                for baseline in BASELINES:
                    tuples.append((value,) + (baseline,) * (most - 1))
        for prefix in prefixes:
            for position in range(len(prefix), most):
                for value in values:
                    for baseline in BASELINES:
                        args = prefix + [baseline] * (most - len(prefix))
                        args[position] = value
                        tuples.append(tuple(args))
        for _ in range(RANDOM_TUPLES if most else 0):
            length = rng.randint(0, most + 1)
            first = [rng.choice(selves)] if selves and rng.random() < 0.7 else []
            args = first + [rng.choice(values + list(BASELINES)) for _ in range(max(length - len(first), 0))]
            tuples.append(tuple(args))
        # With hostile proxy classes registered: the calls that reach the SDK
        # and return objects, in lists too.
        hostile = []
        for prefix in prefixes:
            for length in range(len(prefix), most + 1):
                for baseline in (0, 1, "Width", True, None):
                    hostile.append(tuple(prefix + [baseline] * (length - len(prefix))))
        if entry.name in NETWORK_FUNCTIONS:
            owner = class_of(self.proxy, entry.name)
            tuples = [t for t in tuples if not (t and (is_a(t[0], owner) or names_something(t[0])))]
            hostile = []
        return function, tuples, hostile

    def calls(self, index):
        """The function and its calls: (argument tuple, registration mode),
        the mode None for the plain registry, "all" with Refusing registered
        for every type, "results" with Refusing for every type but TnResult."""
        function, tuples, hostile = self.tuples(index)
        calls = [(args, None) for args in tuples]
        calls += [(args, "all") for args in hostile] + [(args, "results") for args in hostile]
        return function, calls

    def register(self, cls, keep_results):
        for register, _ in self.restore:
            if keep_results and register.__name__ == "TnResult_swigregister":
                continue
            register(cls)

    def put_back(self):
        for register, original in self.restore:
            if original is not None:
                register(original)


def run(module_name, progress_path, report_path, start_function, start_tuple):
    if not os.environ.get("TARN_SANITIZED"):  # a sanitizer's shadow memory exceeds any such limit
        resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE, ADDRESS_SPACE))
    import faulthandler

    faulthandler.enable()
    for dependency in DEPENDENCIES.get(module_name, []):
        importlib.import_module(dependency)
    extension = importlib.import_module(module_name)
    proxy = importlib.import_module(module_name.lstrip("_"))
    plan = Plan(extension, proxy)
    progress = open(progress_path, "r+b")
    position = mmap.mmap(progress.fileno(), 16)
    report = open(report_path, "a")
    for index in range(start_function, len(plan.functions)):
        struct.pack_into("<qq", position, 0, index, -1)
        function, calls = plan.calls(index)
        first = start_tuple if index == start_function else 0
        registered = None
        for number in range(first, len(calls)):
            args, mode = calls[number]
            if mode != registered:
                plan.put_back()
                if mode is not None:
                    plan.register(Refusing, mode == "results")
                registered = mode
            struct.pack_into("<qq", position, 0, index, number)
            try:
                function(*args)
            except SystemError as error:
                report.write(json.dumps({"function": plan.functions[index].name, "tuple": number,
                                         "args": safe_repr(args) + NOTES[mode], "message": str(error)}) + "\n")
                report.flush()
            except Exception:
                pass
        plan.put_back()
    struct.pack_into("<qq", position, 0, len(plan.functions), 0)
    position.flush()
    report.close()
    sys.stdout.flush()
    os._exit(0)


NOTES = {None: "", "all": " with refusing proxy classes registered",
         "results": " with refusing proxy classes registered, but for TnResult"}


def safe_repr(args):
    parts = []
    for value in args:
        try:
            text = repr(value)
        except Exception:
            text = f"<{type(value).__name__}>"
        if isinstance(value, np.ndarray):
            text = f"ndarray(shape={value.shape}, dtype={value.dtype}, flags={value.flags.c_contiguous}/{value.flags.writeable})"
        parts.append(text[:120])
    return "(" + ", ".join(parts) + ")"


def describe(module_name, function_index, tuple_index):
    for dependency in DEPENDENCIES.get(module_name, []):
        importlib.import_module(dependency)
    extension = importlib.import_module(module_name)
    proxy = importlib.import_module(module_name.lstrip("_"))
    plan = Plan(extension, proxy)
    _, calls = plan.calls(function_index)
    name = plan.functions[function_index].name
    if tuple_index < 0:
        print(f"{name}: while making its objects or counting its arguments")
    else:
        args, mode = calls[tuple_index]
        print(f"{name}{safe_repr(args)}{NOTES[mode]}")
    sys.stdout.flush()
    os._exit(0)


if __name__ == "__main__":
    if sys.argv[1] == "run":
        run(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]), int(sys.argv[6]))
    else:
        describe(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
