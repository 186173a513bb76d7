"""Torvane with a USB UPS (type 2, "Stav(USB)"): the agent reaches the UPS only through our helper
Lonavex, by copy-data messages in a run directory of the test's own, and Lonavex talks Q1 to the
simulated UPS on a pseudo-terminal that stands in for the USB-serial adapter. The agent's wall
clock runs ten times faster (libfaketime), so a minute of countdown takes six seconds."""

import os
import pathlib
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time

import pytest

from kelvora_env import binary, fast_agent_clock, wait_until
from torvane_site import free_port, loopback_address
from upssim_client import Upssim

TORVANE = binary("TORVANE", "windows", "service", "Torvane")
LONAVEX = str(pathlib.Path(TORVANE).with_name("Lonavex"))
UPSREC = binary("UPSREC", "tools", "upsrec", "upsrec")

AC_FAILURE, SYSTEM_SHUTDOWN = 0x6D, 0x71
HELPER_SOCKET = "Stavlen%20USB"


class UsbSite:
    def __init__(self):
        self.place = pathlib.Path(tempfile.mkdtemp(prefix="tvusb", dir="/tmp"))
        self.run = self.place / "run"
        self.home = self.place / "home"
        self.home.mkdir()
        self.mark = self.place / "powered-off"
        self.ups = Upssim(self.place).start()
        self.proc = None
        self.helper = None
        self.files = []
        self.listen = loopback_address()
        self.tcp_port = free_port(host=self.listen)
        self.udp_port = free_port(socket.SOCK_DGRAM, self.listen)

    def env(self):
        env = dict(os.environ, TORVANE_REGISTRY=str(self.place / "registry"),
                   TORVANE_HOME=str(self.home), TORVANE_RUNDIR=str(self.run),
                   TORVANE_USB_DEVICE=self.ups.link, TORVANE_UTMP=str(self.place / "no-utmp"),
                   TORVANE_POWEROFF=f"/usr/bin/touch {self.mark}", TORVANE_TRACE="1",
                   TORVANE_LISTEN=self.listen, TORVANE_TCP_PORT=str(self.tcp_port),
                   TORVANE_UDP_PORT=str(self.udp_port), TORVANE_NUT_LISTEN=self.listen,
                   TORVANE_HTTP_LISTEN=self.listen)
        # Nothing on the serial ports: a poll that reaches the UPS came through the helper.
        for n in range(1, 10):
            env.pop(f"TORVANE_COM{n}", None)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        env.pop("DISPLAY", None)
        return env

    def configure(self, **fields):
        values = dict(upsType=2, comPort=0, acFailDelay=1, batteryLowDelay=1, upsOffDelay=60,
                      closeApps=0, showWarnings=0)
        values.update(fields)
        subprocess.run([UPSREC, "set", "config", *(f"{k}={v}" for k, v in values.items())],
                       env=self.env(), check=True, capture_output=True, timeout=30)

    def log(self, name):
        f = open(self.place / name, "wb")
        self.files.append(f)
        return f

    def start(self):
        env = self.env()
        env.update(fast_agent_clock())
        out = self.log("torvane.err")
        self.proc = subprocess.Popen([TORVANE], env=env, stdin=subprocess.DEVNULL, stdout=out,
                                     stderr=subprocess.STDOUT)
        return self

    def start_helper(self):
        """A Lonavex of the test's own, before the agent comes."""
        out = self.log("lonavex.err")
        self.helper = subprocess.Popen([LONAVEX], env=self.env(), stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=subprocess.STDOUT)
        wait_until(lambda: (self.run / HELPER_SOCKET).exists(), 20, "Lonavex's endpoint")
        return self.helper

    def helper_pids(self):
        """Processes running our Lonavex binary."""
        pids = []
        for proc in pathlib.Path("/proc").iterdir():
            if not proc.name.isdigit():
                continue
            try:
                if os.readlink(proc / "exe") == os.path.realpath(LONAVEX):
                    pids.append(int(proc.name))
            except OSError:
                pass
        return pids

    def event_ids(self):
        path = self.home / "Torvane.evt"
        data = path.read_bytes() if path.exists() else b""
        return [struct.unpack_from("<I", data, at)[0] for at in range(4, len(data) - 9, 10)]

    def trace(self):
        path = self.place / "torvane.err"
        return path.read_text(errors="replace") if path.exists() else ""

    def polls(self):
        return self.ups.commands().count("Q1\r")

    def end(self):
        # Shown by pytest only when the test failed: what the agent said last, and where each
        # of its threads waits, for a hang that shows only on a busy machine.
        print("agent trace, last lines:\n" + "\n".join(self.trace().splitlines()[-60:]))
        if self.proc and self.proc.poll() is None:
            for task in sorted(pathlib.Path(f"/proc/{self.proc.pid}/task").glob("*")):
                try:
                    name = (task / "comm").read_text().strip()
                    wchan = (task / "wchan").read_text().strip()
                except OSError:
                    continue
                print(f"thread {task.name} {name}: {wchan}")
        for p in (self.proc, self.helper):
            if p and p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(30)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.ups.stop()
        for f in self.files:
            f.close()
        shutil.rmtree(self.place, ignore_errors=True)


@pytest.fixture
def usb():
    site = UsbSite()
    yield site
    site.end()


def test_the_agent_polls_through_its_helper_and_shuts_the_ups_down_through_it(usb):
    usb.configure(acFailDelay=1, upsOffDelay=60)
    usb.start()
    # The agent started Lonavex; the rating and identity queries come through it as well.
    usb.ups.wait_for_command("F\r", timeout=40)
    usb.ups.wait_for_command("I\r", timeout=40)
    assert len(usb.helper_pids()) == 1
    # The run directory is the agent's: nobody else may write in it.
    assert usb.run.stat().st_mode & 0o022 == 0
    assert (usb.run / HELPER_SOCKET).stat().st_mode & 0o077 == 0
    usb.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in usb.event_ids(), 20, "the AC-failure record")
    # A minute of agent time later the UPS gets the shut-down command through the helper.
    usb.ups.wait_for_command("S01\r", timeout=40)
    wait_until(lambda: usb.mark.exists(), 40, "Brenvik's shutdown command")
    assert usb.event_ids()[-1] == SYSTEM_SHUTDOWN
    # The agent ends the helper it started.
    usb.proc.send_signal(signal.SIGTERM)
    assert usb.proc.wait(30) == 0
    wait_until(lambda: not usb.helper_pids(), 10, "Lonavex to end with the agent")
    assert not (usb.run / HELPER_SOCKET).exists()


def test_a_helper_that_answers_already_is_used_and_one_that_dies_is_replaced(usb):
    usb.configure(acFailDelay=30)
    ours = usb.start_helper()
    usb.start()
    usb.ups.wait_for_command("I\r", timeout=40)
    assert usb.helper_pids() == [ours.pid], "the agent started a second helper"
    # The UPS answering through the helper: a utility failure reaches the event log.
    usb.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in usb.event_ids(), 20, "the AC-failure record")

    ours.kill()
    ours.wait()
    # The agent notices its helper is gone, starts its own, and the polls go on.
    wait_until(lambda: [p for p in usb.helper_pids() if p != ours.pid], 40, "a new Lonavex")
    before = usb.polls()
    wait_until(lambda: usb.polls() > before + 1, 30, "polls through the new helper")
    assert usb.proc.poll() is None


def test_a_silent_ups_counts_as_missed_answers_and_one_miss_is_no_reconnection(usb):
    usb.configure(acFailDelay=30)
    usb.start()
    usb.ups.wait_for_command("I\r", timeout=40)
    wait_until(lambda: "UPS have been connected" in usb.trace(), 20, "the connection")
    pids = usb.helper_pids()
    # One unanswered poll is tolerated: the UPS stays connected, and its next answer is no new
    # connection.
    usb.ups.ctl("reply", "silent")
    wait_until(lambda: "Default tolerance count: 1" in usb.trace(), 20, "a missed answer")
    usb.ups.ctl("reply", "normal")
    before = usb.polls()
    wait_until(lambda: usb.polls() > before + 2, 30, "polls after the miss")
    assert usb.trace().count("UPS have been connected") == 1
    # Four in a row: disconnected, though the helper itself runs on.
    usb.ups.ctl("reply", "silent")
    wait_until(lambda: "UPS disconnected" in usb.trace(), 30, "the disconnection")
    assert usb.helper_pids() == pids
    usb.ups.ctl("reply", "normal")
    wait_until(lambda: usb.trace().count("UPS have been connected") == 2, 30, "the reconnection")
    usb.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in usb.event_ids(), 20, "the AC-failure record")
