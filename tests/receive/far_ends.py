"""Python-built software GigE Vision devices as the far ends of the serial port
and the firmware updater: an event sink that adds a serial line echoing what
it is sent (the features of serial port Serial0), and one that adds the
standard file access features over files kept in Python. Imported inside the
tests' network namespaces."""

import threading

import tarn_edge_313 as edge

SERIAL = 0xB000  # the serial line's registers
FILES = 0xC000  # the file access registers
MESSAGE = 256  # bytes of a serial message register
CHUNK = 256  # bytes of the file access buffer
RW, RO = edge.TnGenAccessModeReadWrite, edge.TnGenAccessModeReadOnly


def read_bytes(register, count, offset=0):
    return register.ReadBytes(count, offset)[1].tobytes()


def write_bytes(register, data, offset=0):
    """Writes bytes through the register's 32-bit (big-endian) writes."""
    data = bytes(data) + bytes(-len(data) % 4)
    for at in range(0, len(data), 4):
        register.Write(int.from_bytes(data[at:at + 4], "big"), offset + at)


class Sink(edge.ITnRegisterEventSink):
    """Calls `before_read` before a register is read, `after_write` after it
    was written."""

    def __init__(self, before_read=None, after_write=None):
        super().__init__()
        self.before_read, self.after_write = before_read, after_write

    def PreRead(self, register):
        if self.before_read:
            self.before_read(register)
        return edge.TN_OK

    def PostWrite(self, register):
        if self.after_write:
            self.after_write(register)


class FarEnd(edge.ITnVirtualDeviceGEVEventSink):
    """Adds the registers of `REGISTERS` (name, offset, length, access, sink
    method names) and the features `features` makes; keeps the sinks."""

    BASE = 0
    REGISTERS = []

    def __init__(self):
        super().__init__()
        self.lock = threading.Lock()
        self.sinks = []
        self.registers = None
        self.resets = 0

    def OnCreateCustomRegisters(self, device, factory):
        for name, offset, length, access, before_read, after_write in self.REGISTERS:
            sink = Sink(before_read and getattr(self, before_read), after_write and getattr(self, after_write))
            self.sinks.append(sink)
            add = factory.AddByteArray if length > 4 else factory.AddRegister
            add(name, self.BASE + offset, length, access, sink)

    def OnCreateCustomGenApiFeatures(self, device, factory):
        self.registers = device.GetRegisterMap()
        self.features(factory)

    def register(self, offset):
        return self.registers.GetRegisterByAddress(self.BASE + offset)

    def create(self, factory, name, make, offset, *args, access=RW, entries=()):
        factory.SetName(name)
        factory.SetCategory("FarEnd")
        factory.SetCachable(edge.TnGenCacheNone)
        factory.SetAccessMode(access)
        for entry, value in entries:
            factory.AddEnumEntry(entry, value)
        make(self.register(offset), *args)

    def OnDeviceResetFull(self, device):
        self.resets += 1


class EchoLine(FarEnd):
    """Serial port Serial0 whose line sends back every byte it is sent; at
    most `capacity` bytes wait to go back. `taken` holds every byte the
    device took."""

    BASE = SERIAL
    REGISTERS = [("Serial0TransmitDataReg", 0x000, MESSAGE, RW, None, "transmit"),
                 ("Serial0ReceiveDataReg", 0x100, MESSAGE, RW, "present", "acknowledge"),
                 ("Serial0TransmitFreeReg", 0x200, 4, RO, "free", None),
                 ("Serial0ReceiveCountReg", 0x204, 4, RO, "count", None)]

    def __init__(self, capacity=1024):
        super().__init__()
        self.capacity = capacity
        self.waiting = bytearray()
        self.taken = bytearray()
        self.last = None  # the sequence number of the message taken last
        self.message = None  # (sequence number, bytes) not yet acknowledged
        self.sequence = 0

    def features(self, factory):
        self.create(factory, "Serial0TransmitData", factory.CreateRegister, 0x000)
        self.create(factory, "Serial0ReceiveData", factory.CreateRegister, 0x100)
        self.create(factory, "Serial0TransmitFree", factory.CreateInteger, 0x200, access=RO)
        self.create(factory, "Serial0ReceiveCount", factory.CreateInteger, 0x204, access=RO)

    def transmit(self, register):
        header = read_bytes(register, 8)
        sequence, count = int.from_bytes(header[:4], "big"), int.from_bytes(header[4:], "big")
        with self.lock:
            if sequence != self.last:
                self.last = sequence
                data = read_bytes(register, count, 8)
                self.taken += data
                self.waiting += data

    def present(self, register):
        with self.lock:
            if self.message is None and self.waiting:
                count = min(len(self.waiting), MESSAGE - 8)
                self.sequence += 1
                self.message = (self.sequence, bytes(self.waiting[:count]))
                del self.waiting[:count]
            sequence, data = self.message or (0, b"")
        write_bytes(register, sequence.to_bytes(4, "big") + len(data).to_bytes(4, "big") + data)

    def acknowledge(self, register):
        sequence = int.from_bytes(read_bytes(register, 4), "big")
        with self.lock:
            if self.message is not None and self.message[0] == sequence:
                self.message = None

    def free(self, register):
        with self.lock:
            register.Write(self.capacity - len(self.waiting))

    def count(self, register):
        with self.lock:
            register.Write(len(self.waiting) + (len(self.message[1]) if self.message else 0))


class FileStore(FarEnd):
    """The standard file access features over the files Firmware and
    Config; `operations` records each executed operation (name, file,
    offset, length)."""

    BASE = FILES
    NAMES = ["Firmware", "Config"]
    OPERATIONS = ["Open", "Close", "Read", "Write"]
    REGISTERS = [("FileSelectorReg", 0x00, 4, RW, None, None), ("FileOperationSelectorReg", 0x04, 4, RW, None, None),
                 ("FileOpenModeReg", 0x08, 4, RW, None, None), ("FileOperationExecuteReg", 0x0C, 4, RW, None, "execute"),
                 ("FileAccessOffsetReg", 0x10, 4, RW, None, None), ("FileAccessLengthReg", 0x14, 4, RW, None, None),
                 ("FileOperationStatusReg", 0x18, 4, RO, None, None), ("FileOperationResultReg", 0x1C, 4, RO, None, None),
                 ("FileAccessBufferReg", 0x100, CHUNK, RW, None, None)]

    def __init__(self):
        super().__init__()
        self.files = {name: bytearray() for name in self.NAMES}
        self.operations = []

    def features(self, factory):
        self.create(factory, "FileSelector", factory.CreateEnum, 0x00,
                    entries=[(name, value) for value, name in enumerate(self.NAMES)])
        self.create(factory, "FileOperationSelector", factory.CreateEnum, 0x04,
                    entries=[(name, value) for value, name in enumerate(self.OPERATIONS)])
        self.create(factory, "FileOpenMode", factory.CreateEnum, 0x08, entries=[("Read", 0), ("Write", 1)])
        self.create(factory, "FileOperationExecute", factory.CreateCommand, 0x0C)
        self.create(factory, "FileAccessOffset", factory.CreateInteger, 0x10, 0, 2**31 - 1)
        self.create(factory, "FileAccessLength", factory.CreateInteger, 0x14, 0, CHUNK)
        self.create(factory, "FileOperationStatus", factory.CreateEnum, 0x18, access=RO,
                    entries=[("Success", 0), ("Failure", 1)])
        self.create(factory, "FileOperationResult", factory.CreateInteger, 0x1C, access=RO)
        self.create(factory, "FileAccessBuffer", factory.CreateRegister, 0x100)

    def execute(self, register):
        value = lambda offset: self.register(offset).ReadInt()[1]
        name, operation = self.NAMES[value(0x00)], self.OPERATIONS[value(0x04)]
        offset, length = value(0x10), value(0x14)
        stored = self.files[name]
        moved = 0
        if operation == "Open" and value(0x08) == 1:
            stored.clear()
        elif operation == "Write":
            stored[offset:offset + length] = read_bytes(self.register(0x100), length)
            moved = length
        elif operation == "Read":
            data = stored[offset:offset + length]
            write_bytes(self.register(0x100), data)
            moved = len(data)
        self.operations.append((operation, name, offset, length))
        self.register(0x18).Write(0)
        self.register(0x1C).Write(moved)
