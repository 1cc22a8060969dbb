"""A hostile GigE Vision camera for the tests: a GVCP responder on port 3956
of the namespace's loopback that serves whatever it is told. Its first-URL
register holds any text, its memory any description bytes (zipped or not),
and its discovery answer claims any address. It answers discovery, register
reads and writes, memory reads and writes, and grants control to one
controller at a time, which keeps it while it sends within the heartbeat
timeout.

    camera = HostileCamera(description=xml, zipped=True, claimed="224.0.0.1")
    ...
    camera.close()

Memory: the bootstrap registers from 0 to BOOTSTRAP_END, then the area at
AREA (where the description lies by default); a read or write outside both
answers GEV_STATUS_INVALID_ADDRESS. `camera.received` lists (code, the
destination address, the address it came from) of every command.
Subclasses may override `answer(code, payload, sender)` for other
behaviours. Run in a network namespace only; as a program it serves until
killed: hostile_camera.py [--url URL] [--claimed ADDRESS] [--zipped] FILE"""

import io
import ipaddress
import socket
import struct
import sys
import threading
import time
import zipfile

PORT = 3956
BOOTSTRAP_END = 0x10000
AREA = 0x100000
FIRST_URL, URL_SIZE = 0x0200, 512
PRIVILEGE, HEARTBEAT_TIMEOUT = 0x0A00, 0x0938
SUCCESS, NOT_IMPLEMENTED, INVALID_ADDRESS, ACCESS_DENIED = 0x0000, 0x8001, 0x8003, 0x8006
DISCOVERY, READREG, WRITEREG, READMEM, WRITEMEM = 0x0002, 0x0080, 0x0082, 0x0084, 0x0086
IP_PKTINFO = 8  # Linux's, which the socket module does not name


def zipped(data, name="hostile.xml"):
    """DATA as the only member, NAME, of a deflated zip archive."""
    archive = io.BytesIO()
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as writer:
        writer.writestr(name, data)
    return archive.getvalue()


def local_url(name, address, length):
    """The first-URL text of a description in the device's memory."""
    return f"Local:{name};{address:x};{length:x}"


class HostileCamera:
    def __init__(self, description=b"", url=None, zipped_description=False, claimed="127.0.0.1",
                 serial="HOSTILE1", heartbeat_ms=3000):
        """Serves DESCRIPTION (bytes; zipped first when ZIPPED_DESCRIPTION) at
        AREA, and URL as the first URL (bytes or text, at most 512 bytes;
        by default a Local: URL of the description), claiming the address
        CLAIMED in its discovery answer."""
        if zipped_description:
            description = zipped(description)
        if url is None:
            url = local_url("hostile.zip" if zipped_description else "hostile.xml", AREA, len(description))
        self.bootstrap = bytearray(BOOTSTRAP_END)
        self.area = bytearray(description) + bytes(-len(description) % 4)
        self.set_url(url)
        self.claimed = claimed
        self.serial = serial
        struct.pack_into(">IIHH6sII", self.bootstrap, 0, 0x00010002, 0x80000000, 0, 0,
                         b"\x02\x00\x00\x00\x00\x01", 0x7, 0x4)
        self.set_claimed(claimed)
        for offset, size, text in ((0x48, 32, "Hostile"), (0x68, 32, "Camera"), (0x88, 32, "1.0"),
                                   (0xD8, 16, serial), (0xE8, 16, serial)):
            self.bootstrap[offset:offset + size] = text.encode()[:size].ljust(size, b"\0")
        struct.pack_into(">I", self.bootstrap, 0x0904, 1)  # one stream channel, no message channel
        struct.pack_into(">I", self.bootstrap, 0x0934, 0x2)  # write memory
        struct.pack_into(">I", self.bootstrap, HEARTBEAT_TIMEOUT, heartbeat_ms)
        self.controller = None  # (host, port) holding the privilege
        self.last_heard = 0.0
        self.received = []
        self.lock = threading.Lock()
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        self.socket.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        self.socket.bind(("0.0.0.0", PORT))
        self.socket.settimeout(0.1)
        self.join_group(claimed)
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def set_url(self, url):
        """The first-URL register's bytes, NUL-padded (a URL of 512 bytes has no NUL)."""
        url = url.encode() if isinstance(url, str) else bytes(url)
        self.bootstrap[FIRST_URL:FIRST_URL + URL_SIZE] = url[:URL_SIZE].ljust(URL_SIZE, b"\0")

    def set_claimed(self, claimed):
        """The address the discovery answer and the current-IP register claim."""
        struct.pack_into(">I", self.bootstrap, 0x24, int(ipaddress.IPv4Address(claimed)))
        struct.pack_into(">I", self.bootstrap, 0x34, 0xFF000000)

    def join_group(self, address):
        """Listens on the multicast group ADDRESS too, if it is one, so that
        commands sent there are seen (where the namespace routes multicast)."""
        if ipaddress.IPv4Address(address).is_multicast:
            try:
                self.socket.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                                       socket.inet_aton(address) + socket.inet_aton("127.0.0.1"))
            except OSError:
                pass

    def sent_to(self, address):
        """How many commands came addressed to ADDRESS."""
        with self.lock:
            return sum(1 for _, destination, _ in self.received if destination == address)

    def run(self):
        while self.running:
            try:
                data, ancillary, _, sender = self.socket.recvmsg(2048, 64)
            except (socket.timeout, OSError):
                continue
            if len(data) < 8 or data[0] != 0x42:
                continue
            _, flags, code, length, request = struct.unpack(">BBHHH", data[:8])
            destination = None
            for level, kind, value in ancillary:
                if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(value) >= 12:
                    destination = socket.inet_ntoa(value[8:12])
            with self.lock:
                self.received.append((code, destination, sender[0]))
                answer = self.answer(code, data[8:8 + length], sender)
            if answer is not None and (flags & 0x01 or code == DISCOVERY):
                status, payload = answer
                self.socket.sendto(struct.pack(">HHHH", status, code + 1, len(payload), request) + payload, sender)

    def answer(self, code, payload, sender):
        """(status, payload) of the answer to a command, or None for none."""
        now = time.monotonic()
        heartbeat = struct.unpack_from(">I", self.bootstrap, HEARTBEAT_TIMEOUT)[0] / 1000
        if self.controller is not None and now - self.last_heard > heartbeat:
            self.controller = None
            struct.pack_into(">I", self.bootstrap, PRIVILEGE, 0)
        if sender == self.controller:
            self.last_heard = now
        if code == DISCOVERY:
            return SUCCESS, bytes(self.bootstrap[:0xF8])
        if code == READREG:
            values = b""
            for (address,) in struct.iter_unpack(">I", payload[:len(payload) // 4 * 4]):
                data = self.read(address, 4)
                if data is None:
                    return INVALID_ADDRESS, values
                values += data
            return SUCCESS, values
        if code == READMEM and len(payload) >= 8:
            address, _, count = struct.unpack(">IHH", payload[:8])
            data = self.read(address, count)
            return (INVALID_ADDRESS, b"") if data is None else (SUCCESS, payload[:4] + data)
        if code == WRITEREG:
            for index, (address, value) in enumerate(struct.iter_unpack(">II", payload[:len(payload) // 8 * 8])):
                status = self.write(address, struct.pack(">I", value), sender)
                if status != SUCCESS:
                    return status, struct.pack(">HH", 0, index)
            return SUCCESS, struct.pack(">HH", 0, len(payload) // 8)
        if code == WRITEMEM and len(payload) >= 4:
            status = self.write(struct.unpack(">I", payload[:4])[0], payload[4:], sender)
            return status, struct.pack(">HH", 0, 0 if status else 1)
        return NOT_IMPLEMENTED, b""

    def region(self, address, count):
        """The bytearray holding COUNT bytes at ADDRESS and their offset in it."""
        if address + count <= BOOTSTRAP_END:
            return self.bootstrap, address
        if AREA <= address and address + count <= AREA + len(self.area):
            return self.area, address - AREA
        return None, 0

    def read(self, address, count):
        memory, offset = self.region(address, count)
        return None if memory is None else bytes(memory[offset:offset + count])

    def write(self, address, data, sender):
        if address == PRIVILEGE:
            value = struct.unpack(">I", data[:4])[0]
            if self.controller not in (None, sender):
                return ACCESS_DENIED
            self.controller, self.last_heard = (sender, time.monotonic()) if value & 0x3 else (None, 0.0)
        elif sender != self.controller:
            return ACCESS_DENIED
        memory, offset = self.region(address, len(data))
        if memory is None:
            return INVALID_ADDRESS
        memory[offset:offset + len(data)] = data
        return SUCCESS

    def close(self):
        self.running = False
        self.thread.join()
        self.socket.close()


if __name__ == "__main__":
    import argparse
    parser = argparse.ArgumentParser(description="A hostile GigE Vision camera (in a network namespace only).")
    parser.add_argument("file", help="the description's bytes")
    parser.add_argument("--url", help="the first URL (by default a Local: URL of the description)")
    parser.add_argument("--claimed", default="127.0.0.1", help="the address the discovery answer claims")
    parser.add_argument("--zipped", action="store_true", help="serve the description zipped")
    arguments = parser.parse_args()
    with open(arguments.file, "rb") as source:
        camera = HostileCamera(source.read(), arguments.url, arguments.zipped, arguments.claimed)
    try:
        camera.thread.join()
    except KeyboardInterrupt:
        camera.close()
        sys.exit(0)
