"""What the agent's end-to-end tests share: Torvane in a place of its own (registry tree,
program directory, a harmless shutdown command), its records written with upsrec, its event log
read back, and the simulated UPS on a pseudo-terminal."""

import os
import pathlib
import shutil
import signal
import struct
import subprocess
import tempfile

import pytest

from kelvora_env import binary, find_faketime
from upssim_client import Upssim

TORVANE = binary("TORVANE", "windows", "service", "Torvane")
UPSREC = binary("UPSREC", "tools", "upsrec", "upsrec")
FAKETIME = find_faketime()
assert FAKETIME, "libfaketime is not installed"

AC_FAILURE, AC_RESTORED, BATTERY_LOW, SYSTEM_SHUTDOWN = 0x6D, 0x6E, 0x6F, 0x71
SELF_TEST, PAGER_FAILED, MAIL_FAILED, PAGER_SENT, MAIL_SENT = 0x72, 0x73, 0x74, 0x75, 0x76


class Agent:
    def __init__(self, place, ups):
        self.place = place
        self.ups = ups
        self.registry = place / "registry"
        self.home = place / "home"
        self.home.mkdir()
        self.mark = place / "powered-off"
        self.extra_env = {}
        self.proc = None
        self.err = None

    def env(self):
        env = dict(os.environ, TORVANE_REGISTRY=str(self.registry), TORVANE_HOME=str(self.home),
                   TORVANE_COM1=self.ups.link, TORVANE_UTMP=str(self.place / "no-utmp"),
                   TORVANE_POWEROFF=f"/usr/bin/touch {self.mark}")
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

    def start(self, fast=True, ready="Q1\r"):
        """Starts the agent; `ready` is the first command it must send the UPS (None: no wait)."""
        env = self.env()
        if fast:
            env.update(LD_PRELOAD=FAKETIME, FAKETIME="+0 x10", FAKETIME_NO_CACHE="1",
                       FAKETIME_DONT_FAKE_MONOTONIC="1")
        self.err = open(self.place / "torvane.err", "wb")
        self.proc = subprocess.Popen([TORVANE], env=env, stdin=subprocess.DEVNULL,
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


def end_site(agent):
    agent.stop()
    agent.ups.stop()
    shutil.rmtree(agent.place, ignore_errors=True)


@pytest.fixture
def site():
    agent = make_site()
    yield agent
    end_site(agent)
