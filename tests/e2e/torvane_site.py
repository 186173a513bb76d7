"""What the agent's end-to-end tests share: Torvane in a place of its own (registry tree,
program directory, a harmless shutdown command), its records written with upsrec, its event log
read back, and the simulated UPS on a pseudo-terminal."""

import os
import pathlib
import random
import shutil
import signal
import socket
import struct
import subprocess
import tempfile

import pytest

from kelvora_env import binary, fast_agent_clock
from upssim_client import Upssim

TORVANE = binary("TORVANE", "windows", "service", "Torvane")
UPSREC = binary("UPSREC", "tools", "upsrec", "upsrec")

AC_FAILURE, AC_RESTORED, BATTERY_LOW, SYSTEM_SHUTDOWN = 0x6D, 0x6E, 0x6F, 0x71
SELF_TEST, PAGER_FAILED, MAIL_FAILED, PAGER_SENT, MAIL_SENT = 0x72, 0x73, 0x74, 0x75, 0x76


def loopback_address():
    """An address of the loopback network no other agent of these tests listens on: with a port
    that was free a moment ago alone, two agents started at once could share it, and one test
    would talk to the other's agent."""
    return "127.%d.%d.%d" % (random.randrange(1, 255), random.randrange(256),
                             random.randrange(1, 255))


def free_port(kind=socket.SOCK_STREAM, host="127.0.0.1"):
    """A port nothing listens on now at `host`, for an agent of its own."""
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


class Agent:
    def __init__(self, place, ups):
        self.place = place
        self.ups = ups
        self.registry = place / "registry"
        self.home = place / "home"
        self.home.mkdir()
        self.mark = place / "powered-off"
        self.run = place / "run"  # the copy-data endpoints
        self.run.mkdir(mode=0o755)
        self.listen = loopback_address()
        self.tcp_port = free_port(host=self.listen)
        self.udp_port = free_port(socket.SOCK_DGRAM, self.listen)
        # The NUT protocol and the HTTP endpoint, on the agent's own loopback address too.
        self.nut_port = free_port(host=self.listen)
        self.http_port = free_port(host=self.listen)
        self.extra_env = {}
        self.proc = None
        self.err = None

    def env(self):
        env = dict(os.environ, TORVANE_REGISTRY=str(self.registry), TORVANE_HOME=str(self.home),
                   TORVANE_COM1=self.ups.link, TORVANE_UTMP=str(self.place / "no-utmp"),
                   TORVANE_POWEROFF=f"/usr/bin/touch {self.mark}", TORVANE_RUNDIR=str(self.run),
                   TORVANE_LISTEN=self.listen, TORVANE_TCP_PORT=str(self.tcp_port),
                   TORVANE_UDP_PORT=str(self.udp_port), TORVANE_NUT_LISTEN=self.listen,
                   TORVANE_NUT_PORT=str(self.nut_port), TORVANE_HTTP_LISTEN=self.listen,
                   TORVANE_HTTP_PORT=str(self.http_port), TORVANE_TRACE="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        env.pop("DISPLAY", None)
        env.update(self.extra_env)
        return env

    def upsrec(self, kind, **fields):
        subprocess.run([UPSREC, "set", kind, *(f"{k}={v}" for k, v in fields.items())],
                       env=self.env(), check=True, capture_output=True, timeout=30)

    def configure(self, **fields):
        values = dict(upsType=0, comPort=0, acFailDelay=1, batteryLowDelay=1, upsOffDelay=60,
                      closeApps=0, showWarnings=0)
        values.update(fields)
        self.upsrec("config", **values)

    def start(self, fast=True, ready="Q1\r", args=(), wrapper=()):
        """Starts the agent; `ready` is the first command it must send the UPS (None: no wait);
        `wrapper` runs it, as `ip netns exec NAME` does."""
        env = self.env()
        if fast:
            env.update(fast_agent_clock())
        self.err = open(self.place / "torvane.err", "wb")
        self.proc = subprocess.Popen([*wrapper, TORVANE, *args], env=env, stdin=subprocess.DEVNULL,
                                     stdout=self.err, stderr=subprocess.STDOUT)
        if ready is not None:
            self.ups.wait_for_command(ready, timeout=30)
        return self

    def events(self):
        """(id, type) of every record of Torvane.evt."""
        path = self.home / "Torvane.evt"
        data = path.read_bytes() if path.exists() else b""
        records = []
        for at in range(4, len(data) - 9, 10):
            ev, ty, _ = struct.unpack_from("<IHI", data, at)
            records.append((ev, ty))
        return records

    def event_ids(self):
        return [ev for ev, _ in self.events()]

    def output(self):
        path = self.place / "torvane.err"
        return path.read_text(errors="replace") if path.exists() else ""

    def show_state(self):
        """Printed when a test failed: what the agent said last and where each of its threads waits, for a hang that shows only on a
        busy machine."""
        print("agent output, last lines:\n" + "\n".join(self.output().splitlines()[-80:]))
        if not self.proc or self.proc.poll() is not None:
            return
        gdb = shutil.which("gdb")
        if gdb:
            try:
                stacks = subprocess.run([gdb, "-p", str(self.proc.pid), "-batch", "-nx",
                                         "-ex", "thread apply all bt"],
                                        capture_output=True, text=True, timeout=60)
                print(stacks.stdout[-20000:])
                return
            except subprocess.TimeoutExpired:
                pass
        for task in sorted(pathlib.Path(f"/proc/{self.proc.pid}/task").glob("*")):
            try:
                name = (task / "comm").read_text().strip()
                wchan = (task / "wchan").read_text().strip()
            except OSError:
                continue
            print(f"thread {task.name} {name}: {wchan}")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.err:
            self.err.close()


def make_site(args=()):
    place = pathlib.Path(tempfile.mkdtemp(prefix="tv", dir="/tmp"))
    sim = Upssim(place, args=args).start()
    return Agent(place, sim)


def end_site(agent, failed=False):
    if failed:
        agent.show_state()
    agent.stop()
    agent.ups.stop()
    shutil.rmtree(agent.place, ignore_errors=True)


@pytest.fixture
def site(request):
    agent = make_site()
    yield agent
    report = getattr(request.node, "rep_call", None)
    end_site(agent, failed=report is None or report.failed)
