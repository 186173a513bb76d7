"""Torvane protecting a machine on its own: the agent against the simulated UPS on a
pseudo-terminal, its configuration in a registry tree of the test's own, its outside programs
beside it. The wall clock runs ten times faster for the agent (libfaketime; its timers keep
real time), so a minute of countdown takes six seconds."""

import os
import pathlib
import shutil
import signal
import struct
import subprocess
import tempfile
import time

import pytest

from kelvora_env import binary, find_faketime, wait_until
from upssim_client import Upssim

TORVANE = binary("TORVANE", "windows", "service", "Torvane")
UPSREC = binary("UPSREC", "tools", "upsrec", "upsrec")
FAKETIME = find_faketime()
assert FAKETIME, "libfaketime is not installed"

AC_FAILURE, AC_RESTORED, BATTERY_LOW, SYSTEM_SHUTDOWN = 0x6D, 0x6E, 0x6F, 0x71


class Agent:
    def __init__(self, place, ups):
        self.place = place
        self.ups = ups
        self.registry = place / "registry"
        self.home = place / "home"
        self.home.mkdir()
        self.mark = place / "powered-off"
        self.proc = None
        self.err = None

    def env(self):
        env = dict(os.environ, TORVANE_REGISTRY=str(self.registry), TORVANE_HOME=str(self.home),
                   TORVANE_COM1=self.ups.link, TORVANE_UTMP=str(self.place / "no-utmp"),
                   TORVANE_POWEROFF=f"/usr/bin/touch {self.mark}")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return env

    def configure(self, **fields):
        values = dict(upsType=0, comPort=0, acFailDelay=1, batteryLowDelay=1, upsOffDelay=60,
                      closeApps=0, showWarnings=0)
        values.update(fields)
        subprocess.run([UPSREC, "set", "config", *(f"{k}={v}" for k, v in values.items())],
                       env=self.env(), check=True, capture_output=True, timeout=30)

    def start(self, fast=True):
        env = self.env()
        if fast:
            env.update(LD_PRELOAD=FAKETIME, FAKETIME="+0 x10", FAKETIME_NO_CACHE="1",
                       FAKETIME_DONT_FAKE_MONOTONIC="1")
        self.err = open(self.place / "torvane.err", "wb")
        self.proc = subprocess.Popen([TORVANE], env=env, stdin=subprocess.DEVNULL,
                                     stdout=self.err, stderr=subprocess.STDOUT)
        self.ups.wait_for_command("Q1\r", timeout=30)
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


@pytest.fixture
def site():
    place = pathlib.Path(tempfile.mkdtemp(prefix="tv", dir="/tmp"))
    sim = Upssim(place).start()
    agent = Agent(place, sim)
    yield agent
    agent.stop()
    sim.stop()
    shutil.rmtree(place, ignore_errors=True)


def test_a_utility_failure_is_logged_counted_down_and_ends_in_the_shutdown(site):
    site.configure(acFailDelay=1, upsOffDelay=60)
    site.start()
    site.ups.wait_for_command("F\r", timeout=30)
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")
    assert site.events()[0] == (AC_FAILURE, 2)  # a warning
    # Sixty agent seconds later: the UPS is told to switch off after a minute, no restart
    # (it comes back with the utility), then the system goes down.
    site.ups.wait_for_command("S01\r", timeout=40)
    wait_until(lambda: site.mark.exists(), 40, "Brenvik's shutdown command")
    assert site.event_ids()[-1] == SYSTEM_SHUTDOWN
    assert site.proc.poll() is None, "the agent stays until the system takes it down"


def test_power_back_before_the_deadline_stops_the_countdown(site):
    site.configure(acFailDelay=2)
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")
    site.ups.ctl("utility", "ok")
    wait_until(lambda: AC_RESTORED in site.event_ids(), 20, "the restored record")
    time.sleep(15)  # past the old deadline (two agent minutes = 12 s)
    assert not site.mark.exists()
    assert not any(c.startswith("S") for c in site.ups.commands())


def test_battery_low_shuts_down_at_once(site):
    site.configure(acFailDelay=30, upsOffDelay=120)
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")
    site.ups.ctl("battery", "low")
    site.ups.wait_for_command("S02\r", timeout=30)
    wait_until(lambda: site.mark.exists(), 40, "Brenvik's shutdown command")
    ids = site.event_ids()
    assert ids.index(BATTERY_LOW) < ids.index(SYSTEM_SHUTDOWN)


def test_a_second_agent_does_not_start_and_sigterm_ends_the_first(site):
    site.configure()
    site.start(fast=False)
    second = subprocess.run([TORVANE], env=site.env(), capture_output=True, text=True, timeout=30)
    assert second.returncode == 1
    assert "another agent is running" in second.stderr
    site.proc.send_signal(signal.SIGHUP)
    time.sleep(1)
    assert site.proc.poll() is None, "a hang-up does not stop the protection"
    site.proc.send_signal(signal.SIGTERM)
    assert site.proc.wait(30) == 0


def test_a_ups_link_that_dies_mid_countdown_still_ends_in_the_shutdown(site):
    # Three agent minutes: the UPS counts as disconnected (after five missed polls, ten seconds)
    # long before the deadline.
    site.configure(acFailDelay=3, upsOffDelay=60)
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")
    site.ups.stop()  # the cable is pulled: the pseudo-terminal hangs up
    wait_until(lambda: site.mark.exists(), 60, "the shutdown although the UPS fell silent")
    assert site.event_ids()[-1] == SYSTEM_SHUTDOWN
