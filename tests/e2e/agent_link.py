"""The agent's client links as a test speaks them: a control panel over TCP (messages read code
by code, the records the agent pushes on its own skipped field by field), the panel on the same
machine over copy-data (a Unix socket endpoint under the panel's title), and a UDP event client.
Written from the protocol page, not from the agent's code."""

import os
import socket
import struct
import time

CONNECTED, NOT_CONNECTED, STATUS, BASIC, RATING = 19, 20, 15, 16, 17
UTILITY_FAILED, BATTERY_LOW, COUNTDOWN, WRONG_PASSWORD = 23, 25, 27, 46
PANEL_TITLE = "Kelvora 2000 for Windows"
AGENT_TITLE = "Torvane 2000 for Windows"


def archive_string(text):
    data = text.encode("latin-1")
    if len(data) < 255:
        return bytes([len(data)]) + data
    return b"\xff" + struct.pack("<H", len(data)) + data


class Closed(Exception):
    """The agent closed the connection."""


class TcpPanel:
    def __init__(self, port, host="127.0.0.1", timeout=10.0):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.buffer = b""

    def close(self):
        self.sock.close()

    def send(self, code, payload=b""):
        self.sock.sendall(struct.pack("<i", code) + payload)

    def logon(self, password=""):
        self.send(1, archive_string(password))

    def _take(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise Closed()
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def _number(self):
        return struct.unpack("<i", self._take(4))[0]

    def _string(self):
        n = self._take(1)[0]
        if n == 255:
            n = struct.unpack("<H", self._take(2))[0]
            if n == 0xFFFF:
                n = struct.unpack("<I", self._take(4))[0]
        return self._take(n).decode("latin-1")

    def read(self):
        """(code, value): the seconds for a countdown, the raw status line for a status, the
        fields of the identification and the rating, None for the codes that carry nothing."""
        code = self._number()
        if code == COUNTDOWN:
            return code, self._number()
        if code == STATUS:
            self._take(8 * 4 + 1)
            return code, self._string()
        if code == BASIC:
            return code, [self._string() for _ in range(4)]
        if code == RATING:
            self._take(4 * 4)
            return code, self._string()
        return code, None

    def codes_until(self, wanted, timeout):
        """Every code read until `wanted` came (included); raises TimeoutError."""
        deadline = time.monotonic() + timeout
        seen = []
        while True:
            self.sock.settimeout(max(0.1, deadline - time.monotonic()))
            try:
                code, _ = self.read()
            except socket.timeout:
                raise TimeoutError(f"no {wanted} within {timeout} s; saw {seen}") from None
            seen.append(code)
            if code == wanted:
                return seen

    def quiet_for(self, seconds):
        """True when nothing at all arrives for that long."""
        self.sock.settimeout(seconds)
        try:
            return not self.sock.recv(1, socket.MSG_PEEK)
        except socket.timeout:
            return True


def copy_data_file(caption):
    """The socket file name of a caption, as the endpoints name theirs."""
    keep = set("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-")
    return "".join(c if c in keep else "%%%02X" % ord(c) for c in caption)


class LocalPanel:
    """A panel's window on this machine: an endpoint the agent sends to, and sends of its own."""

    MAGIC = 0x4B434431

    def __init__(self, run_dir):
        self.run_dir = run_dir
        self.path = os.path.join(run_dir, copy_data_file(PANEL_TITLE))
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        self.listener.bind(self.path)
        os.chmod(self.path, 0o600)
        self.listener.listen(8)
        self.answer = 1

    def close(self):
        self.listener.close()
        if os.path.exists(self.path):
            os.unlink(self.path)

    def send(self, code, payload=b""):
        """One copy-data message to the agent's frame; the handler's result."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as s:
            s.settimeout(10)
            s.connect(os.path.join(self.run_dir, copy_data_file(AGENT_TITLE)))
            caption = PANEL_TITLE.encode()
            s.send(struct.pack("<IIII", self.MAGIC, code, len(caption), len(payload)) + caption +
                   payload)
            answer = s.recv(16)
        return struct.unpack("<q", answer)[0] if len(answer) == 8 else None

    def receive(self, timeout):
        """(code, payload) of the agent's next message, or None within `timeout`."""
        self.listener.settimeout(timeout)
        try:
            conn, _ = self.listener.accept()
        except socket.timeout:
            return None
        with conn:
            conn.settimeout(timeout)
            data = conn.recv(70000)
            if len(data) < 16:
                return self.receive(timeout)  # a look-up only
            magic, code, caption_len, data_len = struct.unpack_from("<IIII", data)
            assert magic == self.MAGIC
            assert data[16:16 + caption_len] == AGENT_TITLE.encode()
            conn.send(struct.pack("<q", self.answer))
            return code, data[16 + caption_len:16 + caption_len + data_len]

    def codes_until(self, wanted, timeout):
        deadline = time.monotonic() + timeout
        seen = []
        while True:
            got = self.receive(max(0.1, deadline - time.monotonic()))
            if got is None:
                raise TimeoutError(f"no {wanted} within {timeout} s; saw {seen}")
            seen.append(got[0])
            if got[0] == wanted:
                return seen, got[1]


def datagram(kind, first, second=0):
    words = (210, kind, 8, first, second)
    check = 0
    for w in words:
        check ^= w
    return struct.pack("<6I", check, *words)


class UdpClient:
    def __init__(self, port, host="127.0.0.1"):
        self.port = port
        self.host = host
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((host, 0))

    def close(self):
        self.sock.close()

    def send(self, kind, first, second=0):
        self.sock.sendto(datagram(kind, first, second), (self.host, self.port))

    def receive(self, timeout):
        """(type, first, second, arrival) or None."""
        self.sock.settimeout(timeout)
        try:
            data, _ = self.sock.recvfrom(64)
        except socket.timeout:
            return None
        check, mark, kind, length, first, second = struct.unpack("<6I", data)
        assert (mark, length) == (210, 8) and check == mark ^ kind ^ length ^ first ^ second
        return kind, first, second, time.monotonic()
