"""A minimal GigE Vision control client for the tests: register reads and
writes on one UDP socket whose port the test knows, and a message channel
socket that acknowledges the device's events."""

import socket
import struct
import threading

PORT = 3956
HEARTBEAT_TIMEOUT = 0x0938
PRIVILEGE = 0x0A00
MESSAGE_PORT = 0x0B00
MESSAGE_DESTINATION = 0x0B10


class Client:
    def __init__(self, address="127.0.0.1"):
        self.address = address
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.settimeout(1.0)
        self.port = self.socket.getsockname()[1]
        self.request = 0

    def command(self, code, payload):
        self.request = self.request % 0xFFFF + 1
        header = struct.pack(">BBHHH", 0x42, 0x01, code, len(payload), self.request)
        self.socket.sendto(header + payload, (self.address, PORT))
        while True:
            data, _ = self.socket.recvfrom(2048)
            status, answer, length, request = struct.unpack(">HHHH", data[:8])
            if request == self.request and answer != 0x0089:  # not a pending answer
                return status, data[8:8 + length]

    def write(self, address, value):
        status, _ = self.command(0x0082, struct.pack(">II", address, value))
        return status

    def read(self, address):
        status, payload = self.command(0x0080, struct.pack(">I", address))
        return status, (struct.unpack(">I", payload[:4])[0] if status == 0 else None)

    def write_memory(self, address, data):
        """A WRITEMEM command of DATA as it is, whatever its length: the status."""
        status, _ = self.command(0x0086, struct.pack(">I", address) + data)
        return status

    def read_memory(self, address, count):
        """A READMEM command of COUNT bytes: the status and the bytes."""
        status, payload = self.command(0x0084, struct.pack(">IHH", address, 0, count))
        return status, payload[4:]

    def close(self):
        self.socket.close()



class Clients:
    """Threads that repeat GigE Vision writes (address, value) to the device
    at 127.0.0.1, with the control privilege, until joined; one that
    restarts drops its controller, which takes control again."""

    def __init__(self, *writes, count=2):
        self.stop = threading.Event()
        self.threads = [threading.Thread(target=self.run, args=(writes,)) for _ in range(count)]
        for thread in self.threads:
            thread.start()

    def run(self, writes):
        while not self.stop.is_set():
            client = Client()
            try:
                client.write(PRIVILEGE, 2)
                while not self.stop.is_set():
                    for address, value in writes:
                        client.write(address, value)
            except TimeoutError:
                pass
            client.close()

    def join(self):
        self.stop.set()
        for thread in self.threads:
            thread.join()


class Messages:
    """Receives the device's events on a port of its own and acknowledges
    them; `events` lists (event id, data) in order of arrival."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.settimeout(0.1)
        self.port = self.socket.getsockname()[1]
        self.events = []
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while self.running:
            try:
                data, sender = self.socket.recvfrom(2048)
            except socket.timeout:
                continue
            _, _, code, length, request = struct.unpack(">BBHHH", data[:8])
            body = data[8:8 + length]
            event = struct.unpack(">H", body[2:4])[0]
            self.events.append((event, body[16:] if code == 0x00C2 else b""))
            self.socket.sendto(struct.pack(">HHHH", 0, code + 1, 0, request), sender)

    def close(self):
        self.running = False
        self.thread.join()
        self.socket.close()
