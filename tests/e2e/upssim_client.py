"""Runs the UPS simulator for an end-to-end test and talks to its control socket.

    with Upssim(tmp_path, time_scale=10) as ups:
        daemon = start_daemon(port=ups.link)
        ups.ctl("utility", "fail")
        ups.wait_for_command("Q1\r", timeout=5)

Standard library only, so any test can import it.
"""

import os
import pathlib
import re
import select
import signal
import socket
import subprocess
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
READY_TIMEOUT = 5.0
STOP_TIMEOUT = 3.0

_ESCAPE = re.compile(r"\\(r|n|\\|x[0-9a-fA-F]{2})")


def binary():
    """The simulator to run: $UPSSIM, else the default build tree's."""
    return os.environ.get("UPSSIM") or str(REPO / "build" / "tools" / "upssim" / "upssim")


def unescape(text):
    """A logged command back as the raw bytes it was, one character per byte."""

    def one(m):
        code = m.group(1)
        if code == "r":
            return "\r"
        if code == "n":
            return "\n"
        if code == "\\":
            return "\\"
        return chr(int(code[1:], 16))

    return _ESCAPE.sub(one, text)


class UpssimError(RuntimeError):
    """The simulator did not start, or a control request was refused."""


class Upssim:
    """One simulator process with its link, socket and log inside `directory`."""

    def __init__(self, directory, time_scale=None, state_file=False, args=()):
        self.directory = pathlib.Path(directory)
        self.link = str(self.directory / "ttyUPS")
        self.socket_path = str(self.directory / "upssim.sock")
        self.log_path = str(self.directory / "upssim.log")
        self.stderr_path = str(self.directory / "upssim.err")
        self.state_path = str(self.directory / "upssim.json") if state_file else None
        self.time_scale = time_scale
        self.extra_args = list(args)
        self.process = None
        self.pts = None

    def command_line(self):
        cmd = [binary(), "--link", self.link, "--control", self.socket_path, "--log", self.log_path]
        if self.state_path:
            cmd += ["--state-file", self.state_path]
        if self.time_scale is not None:
            cmd += ["--time-scale", str(self.time_scale)]
        return cmd + self.extra_args

    def start(self):
        with open(self.stderr_path, "wb") as err:
            # stderr goes to a file: a pipe nobody reads could fill up and stall the simulator.
            self.process = subprocess.Popen(
                self.command_line(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err
            )
        line = self._read_ready_line()
        m = re.fullmatch(r"upssim: ready (.+) -> (/dev/pts/\d+)\n", line)
        if not m or m.group(1) != self.link:
            self._fail(f"unexpected first line {line!r}")
        self.pts = m.group(2)
        return self

    def _read_ready_line(self):
        out = self.process.stdout
        data = b""
        deadline = time.monotonic() + READY_TIMEOUT
        while not data.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0:
                self._fail(f"no ready line within {READY_TIMEOUT} s")
            if select.select([out], [], [], left)[0]:
                chunk = os.read(out.fileno(), 256)
                if not chunk:
                    self._fail("exited before it was ready")
                data += chunk
        return data.decode("utf-8", "replace")

    def _fail(self, what):
        self.stop()
        err = pathlib.Path(self.stderr_path).read_text(errors="replace")
        raise UpssimError(f"upssim {what}; exit status {self.process.returncode}; stderr:\n{err}")

    def stop(self):
        """SIGTERM, then SIGKILL after a grace period; returns the exit status."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process.stdout:
            self.process.stdout.close()
        return self.process.returncode

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def request(self, line, timeout=5.0):
        """Sends one raw request line and returns the raw answer line (no raising)."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(timeout)
            s.connect(self.socket_path)
            s.sendall(line.encode("latin-1") + b"\n")
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
        return answer.decode("latin-1").rstrip("\n")

    def ctl(self, *words):
        """Sends the words as one request; returns the data after "ok" ("" for a bare "ok")."""
        answer = self.request(" ".join(words))
        if answer == "ok":
            return ""
        if answer.startswith("ok "):
            return answer[3:]
        raise UpssimError(f"{' '.join(words)!r}: {answer!r}")

    def commands(self):
        """Every command received so far, as raw strings with real carriage returns."""
        try:
            text = pathlib.Path(self.log_path).read_text(encoding="ascii")
        except FileNotFoundError:
            return []
        return [unescape(line.split("\t", 1)[1]) for line in text.splitlines() if "\t" in line]

    def wait_for_command(self, cmd, timeout=5.0):
        """Waits until `cmd` (raw, e.g. "Q1\\r") has been received; raises TimeoutError."""
        deadline = time.monotonic() + timeout
        while True:
            seen = self.commands()
            if cmd in seen:
                return
            if time.monotonic() >= deadline:
                raise TimeoutError(f"{cmd!r} not received within {timeout} s; received {seen[-10:]!r}")
            time.sleep(0.05)
