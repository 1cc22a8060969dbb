"""Python-built software devices for the edge tests (and the demo): a source
that fills the default source's buffers with a pattern and remembers a
checksum of each frame, an event sink that records the device's events and
adds registers and features of every kind, and a register sink that refuses
large values; and the receive side's connection and stream. Imported
inside the tests' network namespaces."""

import collections
import socket
import threading
import time
import zlib

import numpy as np

import tarn_base_313
import tarn_edge_313 as edge

LOOPBACK_MAC = "00:00:00:00:00:00"
CUSTOM = 0x0000A000  # the custom registers' first address


def pattern(width, height, block, samples=1):
    """The frame a PatternSource sends as block `block`: (height, width), or
    (height, width, samples) for a pixel type of several samples."""
    rows = np.arange(height, dtype=np.uint32).reshape(-1, 1)
    columns = np.arange(width, dtype=np.uint32).reshape(1, -1)
    frame = ((rows * 3 + columns + block * 7) & 0xFF).astype(np.uint8)
    if samples == 1:
        return frame
    return np.stack([frame + np.uint8(40 * sample) for sample in range(samples)], axis=-1)


def connect(count=16, packet_size=0, address="127.0.0.1"):
    """The receive side: the device at `address` found and connected (with
    `packet_size`, its stream's packets take that size) and a stream opened
    on it with `count` buffers of its PayloadSize queued; (system, info,
    client, the client's features, stream, buffers)."""
    import tarn_receive_313 as rx

    system = tarn_base_313.TnSystem()
    system.SetDetectionTimeout(500)
    found, info = system.FindDevice(address)
    result, client = rx.TnDevice.CreateAndConnect(info)
    assert result.IsOK(), result.GetCodeString()
    features = client.GetParameters()
    if packet_size:
        assert features.SetIntegerValue("GevSCPSPacketSize", packet_size).IsOK()
    stream = rx.TnStreamGEV()
    assert stream.Open(info, 0).IsOK()
    buffers = [tarn_base_313.TnBuffer() for _ in range(count)]
    for buffer in buffers:
        buffer.Alloc(features.GetIntegerValue("PayloadSize")[1])
        stream.QueueBuffer(buffer)
    return system, info, client, features, stream, buffers


class BufferQueue:
    """The buffers the device queued to a Python source (`queue`, guarded by
    `changed`), which the source's subclass sets up."""

    def QueueBuffer(self, buffer):
        with self.changed:
            self.queue.append(buffer)
            self.changed.notify()
        return edge.TN_OK

    def next_queued(self):
        """The oldest queued buffer, or None after a short wait."""
        with self.changed:
            if not self.queue:
                self.changed.wait(0.02)
            return self.queue.popleft() if self.queue else None


class Frames(BufferQueue):
    """A source whose frames are Python's: each retrieved buffer is filled by
    the subclass's fill(buffer) and gets the next block id (1, 2, ...),
    `sent` maps block ids to what fill answered; `rate` paces the frames;
    after AbortQueuedBuffers the queued buffers come back aborted until
    streaming starts again."""

    def __init__(self, *args, rate=0):
        super().__init__(*args)
        self.queue, self.changed = collections.deque(), threading.Condition()
        self.rate, self.aborting, self.block, self.sent = rate, False, 0, {}

    def RetrieveBuffer(self, location):
        buffer = self.next_queued()
        if buffer is None:
            return edge.TN_TIMEOUT, None
        if self.aborting:
            return edge.TN_ABORTED, buffer
        if self.rate:
            time.sleep(1 / self.rate)
        self.block += 1
        self.sent[self.block] = self.fill(buffer)
        buffer.SetBlockID(self.block)
        return edge.TN_OK, buffer

    def AbortQueuedBuffers(self):
        with self.changed:
            self.aborting = True
            self.changed.notify()

    def OnStreamingStart(self):
        with self.changed:
            self.aborting = False


class PatternSource(Frames, edge.TnStreamingChannelSourceDefault):
    """The default source's geometry and buffers; each retrieved buffer holds
    pattern(width, height, block), and `sent` maps block ids to the CRC-32
    of the frame's bytes. Mono8, or RGB8 (three samples) with `rgb`. With
    `units` (H.264 access units in Annex B form) each buffer carries the
    next unit instead, as an H.264 payload (zero bytes after it), and `sent`
    maps block ids to the unit's CRC-32."""

    def __init__(self, width=64, height=48, buffers=8, rate=0, rgb=False, units=None):
        super().__init__(width, height, edge.TnPixelRGB8 if rgb else edge.TnPixelMono8, buffers, rate=rate)
        self.samples = 3 if rgb else 1
        self.units = units
        self.widths = []

    def fill(self, buffer):
        if self.units:
            unit = self.units[(self.block - 1) % len(self.units)]
            buffer.Reset(tarn_base_313.TnPayloadTypeH264)
            memory = buffer.GetDataPointer()
            memory[:] = 0
            memory[:len(unit)] = np.frombuffer(unit, dtype=np.uint8)
            return zlib.crc32(unit)
        # The device sends each buffer's image as it is: after a client
        # changed the geometry, the buffer's image takes the new one.
        width = edge.TnStreamingChannelSourceDefault.GetWidth(self)
        height = edge.TnStreamingChannelSourceDefault.GetHeight(self)
        image = buffer.GetImage()
        if (image.GetWidth(), image.GetHeight()) != (width, height):
            image.Alloc(width, height, edge.TnStreamingChannelSourceDefault.GetPixelType(self))
        frame = pattern(width, height, self.block, self.samples)
        image.GetDataPointer()[...] = frame
        return zlib.crc32(frame.tobytes())

    def SetWidth(self, width):
        self.widths.append(width)
        return edge.TnStreamingChannelSourceDefault.SetWidth(self, width)


class LimitSink(edge.ITnRegisterEventSink):
    """Refuses writes of values above 100; records every value written."""

    def __init__(self):
        super().__init__()
        self.writes = []
        self.persisted = []

    def PreWrite(self, register):
        result, value = register.ReadInt()
        self.writes.append(value)
        return edge.TN_INVALID_PARAMETER if value > 100 else edge.TN_OK

    def Persist(self, register, store):
        self.persisted.append(register.GetName())
        return store.Persist(register, "")


# The custom registers: name, offset from CUSTOM, length, byte array.
REGISTERS = [("TarnIntReg", 0, 4, False), ("TarnFloatReg", 4, 4, False), ("TarnTextReg", 8, 16, True),
             ("TarnBoolReg", 24, 4, False), ("TarnCommandReg", 28, 4, False), ("TarnEnumReg", 32, 4, False),
             ("TarnBlobReg", 36, 8, True)]


class DeviceSink(edge.ITnVirtualDeviceGEVEventSink):
    """Records the device's events; with `features` it adds a register of
    each kind and a feature of each kind on them: TarnInt (limited by a
    LimitSink), TarnFloat, TarnText, TarnBool, TarnCommand, TarnEnum (Low,
    High), TarnBlob, the SwissKnifes TarnDouble and TarnRatio and the
    converter TarnMilli."""

    def __init__(self, features=False):
        super().__init__()
        self.features = features
        self.limit = LimitSink()
        self.events = []
        self.results = []
        self.changed = threading.Condition()

    def record(self, *event):
        with self.changed:
            self.events.append(event)
            self.changed.notify_all()

    def wait_for(self, name, count=1, timeout=5.0):
        with self.changed:
            return self.changed.wait_for(lambda: sum(e[0] == name for e in self.events) >= count, timeout)

    def OnApplicationConnect(self, device, address, port, access):
        self.record("connect", address.GetAscii(), port, access)

    def OnApplicationDisconnect(self, device):
        self.record("disconnect")

    def OnControlChannelStart(self, device, mac, address, mask, gateway, port):
        self.record("start", mac.GetAscii(), address.GetAscii(), port)

    def OnControlChannelStop(self, device):
        self.record("stop")

    def OnCreateCustomRegisters(self, device, factory):
        self.record("registers")
        if not self.features:
            return
        for name, offset, length, array in REGISTERS:
            add = factory.AddByteArray if array else factory.AddRegister
            sink = self.limit if name == "TarnIntReg" else None
            self.results.append((name, add(name, CUSTOM + offset, length, edge.TnGenAccessModeReadWrite, sink)))
        self.results.append(("TarnAutoReg", factory.AddRegisterAuto("TarnAutoReg", 4, edge.TnGenAccessModeReadOnly,
                                                                    None)[0]))

    def OnCreateCustomGenApiFeatures(self, device, factory):
        self.record("features")
        if not self.features:
            return
        registers = device.GetRegisterMap()

        def register(offset):
            return registers.GetRegisterByAddress(CUSTOM + offset)

        def create(name, make, *args):
            factory.SetName(name)
            factory.SetCategory("TarnControl")
            self.results.append((name, make(*args)))

        factory.SetStreamable(True)
        create("TarnInt", factory.CreateInteger, register(0), 0, 1000)
        factory.SetUnit("ms")
        create("TarnFloat", factory.CreateFloat, register(4), 0.0, 100.0)
        create("TarnText", factory.CreateString, register(8))
        create("TarnBool", factory.CreateBoolean, register(24))
        create("TarnCommand", factory.CreateCommand, register(28))
        factory.AddEnumEntry("Low", 1)
        factory.AddEnumEntry("High", 2, "High level")
        create("TarnEnum", factory.CreateEnum, register(32))
        create("TarnBlob", factory.CreateRegister, register(36))
        factory.AddVariable("TarnInt")
        create("TarnDouble", factory.CreateIntSwissKnife, "TarnInt * 2")
        factory.AddVariable("TarnFloat")
        create("TarnRatio", factory.CreateFloatSwissKnife, "TarnFloat / 2")
        create("TarnMilli", factory.CreateIntConverter, "TarnInt", "TO * 1000", "FROM / 1000")


class EveryKindSink(DeviceSink):
    """DeviceSink's features, and on further registers every other kind the
    feature factory makes: a selector selecting a feature of its own and a
    device-managed one, float converters, chunk and event mappings,
    invalidators, availability and lock references (of features and of an
    entry), limits by reference, polling, representations, visibility,
    categories with display names, and commands used in formulas."""

    EXTRA = CUSTOM + 0x100  # Selector, Selected, Gain, Ratio, Mode, Exposure, MinLimit

    def __init__(self):
        super().__init__(features=True)

    def OnCreateCustomRegisters(self, device, factory):
        super().OnCreateCustomRegisters(device, factory)
        for index, name in enumerate(["TarnSelectorReg", "TarnSelectedReg", "TarnGainReg", "TarnRatioReg",
                                      "TarnModeReg", "TarnExposureReg", "TarnMinReg"]):
            self.results.append((name, factory.AddRegister(name, self.EXTRA + 4 * index, 4,
                                                           edge.TnGenAccessModeReadWrite, None)))

    def OnCreateCustomGenApiFeatures(self, device, factory):
        super().OnCreateCustomGenApiFeatures(device, factory)
        registers = device.GetRegisterMap()

        def register(index):
            return registers.GetRegisterByAddress(self.EXTRA + 4 * index)

        def create(name, make, *args):
            factory.SetName(name)
            factory.SetCategory("TarnControl\\TarnMore", "More of Tarn")
            self.results.append((name, make(*args)))

        factory.AddEnumEntry("First", 0)
        factory.AddEnumEntry("Second", 1, "The second", edge.TnGenNameSpaceCustom)
        create("TarnSelector", factory.CreateEnum, register(0))
        factory.AddSelected("TarnSelector")
        factory.SetRepresentation(edge.TnGenRepresentationHexNumber)
        create("TarnSelected", factory.CreateInteger, register(1), 0, 255)
        factory.SetUnit("dB")
        factory.SetPollingTime(500)
        factory.SetVisibility(edge.TnGenVisibilityExpert)
        factory.AddInvalidator("TarnSelector")
        create("TarnGain", factory.CreateFloat, register(2), -10.0, 10.0)
        factory.SetPIsAvailable("TarnBool")
        factory.SetPIsLocked("TarnDouble")
        factory.SetRepresentation(edge.TnGenRepresentationLogarithmic)
        create("TarnGainScaled", factory.CreateFloatConverter, "TarnGain", "TO * 10", "FROM / 10")
        factory.SetPMin("TarnMinLimit")
        factory.SetPMax("TarnDouble")
        create("TarnRatioLimited", factory.CreateInteger, register(3))
        create("TarnMinLimit", factory.CreateInteger, register(6), 0, 10)
        factory.AddEnumEntry("Off", 0)
        factory.AddEnumEntry("On", 1)
        create("TarnMode", factory.CreateEnum, register(4))
        factory.SetTLLocked(True)
        factory.SetStreamable(True)
        factory.SetAccessMode(edge.TnGenAccessModeReadWrite)
        create("TarnExposure", factory.CreateFloat, register(5), 1.0, 1000.0)
        factory.AddVariable("TarnCommand")
        factory.AddVariable("TarnEnum")
        factory.AddVariable("TarnBool")
        create("TarnCommandDone", factory.CreateIntSwissKnife, "(TarnCommand = 0) && (TarnEnum > 0) && TarnBool")
        factory.MapChunk(0x4000, 0, 4, edge.TnGenEndiannessLittle)
        create("TarnChunkCounter", factory.CreateInteger)
        factory.MapChunk(0x4000, 4, 4, edge.TnGenEndiannessBig)
        create("TarnChunkGain", factory.CreateFloat)
        factory.MapChunk(0x4000, 8, 8)
        create("TarnChunkText", factory.CreateString)
        factory.MapEvent(0x9001, 0, 4)
        create("TarnEventValue", factory.CreateInteger)
        factory.MapEvent(0x9001, 4, 1, edge.TnGenEndiannessBig, False)
        factory.AddEnumEntry("Low", 1)
        factory.AddEnumEntry("High", 2)
        create("TarnEventLevel", factory.CreateEnum)
        factory.MapEvent(0x9002, 0, 4)
        create("TarnEventFlag", factory.CreateBoolean)
        self.results += [
            ("AddSelectedTo", factory.AddSelectedTo("TriggerSelector", "TarnMode")),
            ("AddInvalidatorTo", factory.AddInvalidatorTo("PixelFormat", "TarnSelector")),
            ("SetPIsAvailableFor", factory.SetPIsAvailableFor("TarnEnum", "TarnBool")),
            ("SetPIsAvailableForEnumEntry", factory.SetPIsAvailableForEnumEntry("TarnMode", "On", "TarnBool")),
            ("SetPIsLockedFor", factory.SetPIsLockedFor("TarnText", "TarnBool")),
        ]


class FixedSource:
    """What a source of Python's own fixed geometry (width x height Mono8, no
    chunks, changes refused) answers; the buffers it gave (`buffers`) are
    owned again once the device frees them."""

    def GetWidth(self):
        return self.width

    def GetHeight(self):
        return self.height

    def GetOffsetX(self):
        return 0

    GetOffsetY = GetChunksSize = GetOffsetX

    def GetPayloadSize(self):
        return self.width * self.height

    def GetPixelType(self):
        return edge.TnPixelMono8

    def GetWidthInfo(self):
        return (self.width, self.width, 1)

    def GetHeightInfo(self):
        return (self.height, self.height, 1)

    def GetScanType(self):
        return edge.TnScanTypeArea

    def GetChunkModeActive(self):
        return False

    def GetChunkEnable(self, chunk):
        return False

    def GetSupportedPixelType(self, index):
        return (edge.TN_OK, edge.TnPixelMono8) if index == 0 else (edge.TN_INVALID_PARAMETER, 0)

    def GetSupportedChunk(self, index):
        return (edge.TN_INVALID_PARAMETER, 0, "")

    def SetWidth(self, value):
        return edge.TN_NOT_SUPPORTED

    SetHeight = SetOffsetX = SetOffsetY = SetPixelType = SetChunkModeActive = SetWidth

    def SetChunkEnable(self, chunk, enabled):
        return edge.TN_NOT_SUPPORTED

    def OnOpen(self, address, port):
        pass

    def OnClose(self):
        pass

    def FreeBuffer(self, buffer):
        for kept in self.buffers:
            if kept == buffer:
                kept.this.acquire()
        self.freed = True


class TriggeredSource(FixedSource, BufferQueue, edge.TnStreamingChannelSourceTrigger):
    """A triggered source of Python's own geometry (32 x 16 Mono8) and four
    buffers, each retrieved frame holding pattern(32, 16, block); a
    frame-start selector (`frames`) with a callback that records the fired
    selectors' names and states (`fired`)."""

    class Callback(edge.ITnTriggerCallback):
        def __init__(self):
            super().__init__()
            self.fired = []

        def TriggerCallbackMethod(self, selector):
            self.fired.append([selector.GetName(), selector.GetState()])

    def __init__(self):
        super().__init__(0, 0x20000)
        self.buffers, self.queue, self.changed, self.block = [], collections.deque(), threading.Condition(), 0
        self.width, self.height = 32, 16
        self.frames = edge.TnTriggerSelectorFrameStart()
        self.callback = self.Callback()
        self.AddSelector(edge.TRIGGER_SELECTOR_FRAMESTART, self.frames)
        self.AddSelectorTriggerCallback(edge.TRIGGER_SELECTOR_FRAMESTART, self.callback)

    @property
    def fired(self):
        return self.callback.fired

    def AllocBuffer(self):
        if len(self.buffers) == 4:
            return None
        buffer = tarn_base_313.TnBuffer(tarn_base_313.TnPayloadTypeImage)
        buffer.GetImage().Alloc(32, 16, tarn_base_313.TnPixelMono8)
        self.buffers.append(buffer)
        return buffer

    def RetrieveBuffer(self, location):
        buffer = self.next_queued()
        if buffer is None:
            return (edge.TN_TIMEOUT, None)
        self.block += 1
        buffer.GetImage().GetDataPointer()[:, :] = pattern(32, 16, self.block)
        return (edge.TN_OK, buffer)

    def AbortQueuedBuffers(self):
        pass


class GenDCSource(FixedSource, Frames, edge.ITnSWStreamingChannelSourceGenDC):
    """A GenDC source: an intensity component with a 2-D part per image
    (pixel type, width, height; each in a flow of its own) and a metadata
    component with a GenICam chunk part (in the flow after them). Each
    retrieved container holds pattern(width, height, block) in the Mono8
    parts and pattern16 in the 16-bit ones, and one chunk 0x4242 with the
    block id; `sent` maps block ids to the CRC-32 of the container's bytes.
    With `refill` False the parts are filled once, at allocation, and each
    container only gets its chunk; `rate` paces the frames."""

    CHUNK = 0x4242
    IMAGES = [(edge.TnPixelMono8, 64, 48), (tarn_base_313.TnPixelMono16, 32, 24)]

    def __init__(self, images=IMAGES, buffers=8, refill=True, rate=0):
        super().__init__(rate=rate)
        self.images, self.count, self.refill, self.buffers = images, buffers, refill, []
        self.width, self.height = images[0][1:]
        self.manager, self.mode, self.modes = None, True, []

    @staticmethod
    def pattern16(width, height, block):
        return pattern(width, height, block).astype(np.uint16) * 257 + np.uint16(block & 0xFFFF)

    def frame(self, pixel, width, height, block):
        return (pattern if pixel == edge.TnPixelMono8 else self.pattern16)(width, height, block)

    def AssignGenDCManager(self, manager):
        self.manager = manager

    def SetupGenDCContainer(self):
        container = self.manager.GetGenDC()
        intensity = container[container.AddComponent(tarn_base_313.TnComponentIntensity)]
        meta = container[container.AddComponent(tarn_base_313.TnComponentMetadata)]
        for flow, (pixel, width, height) in enumerate(self.images):
            header = intensity[intensity.AddPart(tarn_base_313.TnGenDCPart2D, flow)].Get2DHeader()
            header.Format, header.SizeX, header.SizeY = pixel, width, height
        chunk = meta[meta.AddPart(tarn_base_313.TnGenDCPartMetadataGenICamChunk, len(self.images))]
        chunk.GetMutableHeader().DataSize = 32  # room for the chunks

    def GetGenDCStreamingMode(self):
        return self.mode

    def SetGenDCStreamingMode(self, enabled):
        self.modes.append(enabled)
        self.mode = enabled
        return edge.TN_OK

    def write(self, buffer, block):
        """Fills buffer's container as block `block`; its bytes' CRC-32."""
        laid = buffer.GetGenDC()
        if self.refill or block == 0:
            for part, image in zip(laid[0], self.images):
                part.GetGenDCImage().GetDataPointer()[:] = self.frame(*image, block)
        writer = laid[1][0].GetGenDCChunkWriter()
        writer.ResetChunks()
        writer.AddChunk(self.CHUNK, block.to_bytes(8, "little"))
        return zlib.crc32(buffer.GetDataPointer()[:buffer.GetPayloadSize()])

    def AllocBuffer(self):
        if len(self.buffers) == self.count:
            return None
        buffer = tarn_base_313.TnBuffer(tarn_base_313.TnPayloadTypeGenDC)
        assert buffer.AttachGenDCManager(self.manager).IsOK()
        self.write(buffer, 0)
        self.buffers.append(buffer)
        return buffer

    def fill(self, buffer):
        return self.write(buffer, self.block)

    def GetTxNumBuffersToUse(self):
        return edge.TN_OK, self.count

    def GetPayloadSize(self):
        return self.manager.GetTotalPayloadSize()

    def OnStreamingStop(self):
        pass


class Relay(threading.Thread):
    """Forwards a stream's datagrams to `target` (a port of 127.0.0.1),
    dropping every `every`-th payload packet of `format` (3 plain, 8 GenDC)
    sent for the first time; resent ones (a status) always go through. It
    listens on `port`."""

    def __init__(self, target, every, format=3):
        super().__init__(daemon=True)
        self.target, self.every, self.format, self.dropped, self.running = target, every, format, 0, True
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.settimeout(0.05)
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.port = self.socket.getsockname()[1]

    def run(self):
        count = 0
        while self.running:
            try:
                data = self.socket.recv(65536)
            except socket.timeout:
                continue
            if len(data) > 4 and data[4] & 0x0F == self.format and data[:2] == bytes(2):
                count += 1
                if count % self.every == 0:
                    self.dropped += 1
                    continue
            self.socket.sendto(data, ("127.0.0.1", self.target))


def started(source=None, sink=None, user_sets=0):
    """A device with the source and the sink, started on loopback."""
    device = edge.TnSoftDeviceGEV()
    if user_sets:
        device.SetUserSetCount(user_sets)
    if sink is not None:
        assert device.RegisterEventSink(sink).IsOK()
    if source is not None:
        assert device.AddStream(source).IsOK()
    result = device.Start(LOOPBACK_MAC)
    assert result.IsOK(), (result.GetCodeString(), result.GetDescription())
    return device
