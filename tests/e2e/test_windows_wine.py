"""The Windows build run under Wine, in a prefix of its own: Torvane.exe installs as a service
with its event source, reads its configuration from the Wine registry, watches the simulated UPS
through a Wine COM port mapped to the simulator's pseudo-terminal, serves a Linux client over
TCP and keeps its event file within its limit; upsrec.exe reads the records as upsrec does.

Needs the cross-built programs ($KELVORA_WINDOWS_BUILD, scripts/build-windows) and Wine. Without
them the tests are skipped, except in CI, where they must run."""

import json
import os
import pathlib
import shutil
import socket
import struct
import subprocess
import tempfile

import pytest

from kelvora_env import wait_until
from torvane_site import AC_FAILURE, UPSREC, free_port, loopback_address
from upssim_client import Upssim

WINDOWS_BUILD = os.environ.get("KELVORA_WINDOWS_BUILD", "")
PROGRAMS = ("Torvane", "Tessvar", "Morkelnt", "Brenvik", "upsrec")
EVENT_RECORD = 10
EVENT_FILE_LIMIT = 15001
MAX_EVENTS = (EVENT_FILE_LIMIT - 1 - 4) // EVENT_RECORD  # what the file holds before it is cut
KEPT_EVENTS = MAX_EVENTS * 3 // 4


def windows_programs():
    dist = pathlib.Path(WINDOWS_BUILD) / "dist"
    missing = [p for p in PROGRAMS if not (dist / f"{p}.exe").is_file()]
    why = None
    if not WINDOWS_BUILD:
        why = "no Windows build (KELVORA_WINDOWS_BUILD)"
    elif missing:
        why = f"the Windows build lacks {', '.join(missing)}"
    elif not shutil.which("wine"):
        why = "Wine is not installed"
    if why:
        if os.environ.get("CI") == "true":
            pytest.fail(why + ": CI runs these tests always")
        pytest.skip(why)
    return dist


class Wine:
    """A prefix of its own, with the programs copied into a folder of their own (their program
    directory, where the event file goes)."""

    def __init__(self, place, dist):
        self.place = place
        self.prefix = place / "prefix"
        self.programs = place / "programs"
        self.programs.mkdir()
        for p in PROGRAMS:
            shutil.copy(dist / f"{p}.exe", self.programs)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            self.env.pop(name, None)
        self.run("wineboot", "-i", timeout=180)
        # No screen here: the windows the agent makes for its messages need no display.
        self.run("reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null",
                 "/f")
        self.settle()

    def run(self, program, *args, timeout=60, check=True, env=None):
        # Output through files, not pipes: a program of the prefix that Wine starts on the way
        # (its service manager, device services) inherits them and would hold a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(["wine", program, *args], env=env or self.env, stdout=out,
                                  stderr=err, timeout=timeout, stdin=subprocess.DEVNULL).returncode
            out.seek(0)
            err.seek(0)
            done = subprocess.CompletedProcess(program, code, out.read(), err.read())
        if check and done.returncode != 0:
            raise AssertionError(f"wine {program} {args} ended with {done.returncode}: "
                                 f"{done.stdout!r} {done.stderr!r}")
        return done

    def program(self, name):
        return str(self.programs / f"{name}.exe")

    def settle(self):
        """Waits until the prefix has gone down by itself, its registry saved."""
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=120)

    def reg_query(self, key):
        done = self.run("reg", "query", key, check=False)
        return done.returncode, done.stdout.decode(errors="replace").replace("\r\n", "\n")

    def service_state(self):
        """What the service manager says of the agent's service."""
        done = self.run("sc", "query", "Torvane", check=False)
        return done.stdout.decode(errors="replace")

    def import_value(self, key, name, data):
        hex_bytes = ",".join(f"{b:02x}" for b in data)
        reg = self.place / "value.reg"
        reg.write_text("Windows Registry Editor Version 5.00\r\n\r\n"
                       f"[HKEY_LOCAL_MACHINE\\{key}]\r\n\"{name}\"=hex:{hex_bytes}\r\n")
        self.run("reg", "import", str(reg))

    def end(self):
        """Ends whatever still runs in the prefix (its registry is not saved)."""
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)


@pytest.fixture(scope="module")
def wine():
    dist = windows_programs()
    place = pathlib.Path(tempfile.mkdtemp(prefix="wn", dir="/tmp"))
    w = Wine(place, dist)
    yield w
    w.end()
    shutil.rmtree(place, ignore_errors=True)


def test_install_makes_a_service_the_manager_starts_and_stops_and_remove_undoes_it(wine):
    torvane = wine.program("Torvane")
    done = wine.run(torvane, "-i")
    assert b"installed" in done.stdout + done.stderr
    code, service = wine.reg_query(r"HKLM\SYSTEM\CurrentControlSet\Services\Torvane")
    assert code == 0, service
    # The manager starts the program in service mode, quoted for a path with blanks.
    image = next(line for line in service.splitlines() if "ImagePath" in line)
    assert "--service" in image and '"' in image
    code, source = wine.reg_query(
        r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Torvane")
    assert code == 0, source
    assert "TypesSupported" in source and "0x7" in source
    message_file = next(line for line in source.splitlines() if "EventMessageFile" in line)
    assert "Torvane.exe" in message_file
    # The message table the event source points at is in the program: its entries are UTF-16
    # lines, while the agent's own copies of the texts are narrow and without a line end.
    image_bytes = pathlib.Path(wine.programs / "Torvane.exe").read_bytes()
    for text in ("AC Failure\n", "UPS Battery Low\n", "Debug: %1\n", "UPS Failure\n"):
        assert text.encode("utf-16-le") in image_bytes, text

    # Started and stopped by the service control manager: the dispatcher, the control handler
    # and the status reports. A service takes its environment from the system's, in the
    # registry; and Wine ends its services once no other program of the prefix runs, so a
    # shell is kept open meanwhile.
    listen = loopback_address()
    port = free_port(host=listen)
    system_env = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"
    settings = {"TORVANE_LISTEN": listen, "TORVANE_TCP_PORT": str(port),
                "TORVANE_UDP_PORT": str(free_port(socket.SOCK_DGRAM, listen)),
                "TORVANE_NUT_LISTEN": listen, "TORVANE_HTTP_LISTEN": listen}
    for name, value in settings.items():
        wine.run("reg", "add", system_env, "/v", name, "/d", value, "/f")
    wine.settle()
    shell = subprocess.Popen(["wine", "cmd"], env=wine.env, stdin=subprocess.PIPE,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        assert b"started successfully" in wine.run("net", "start", "Torvane", timeout=120).stdout
        assert "RUNNING" in wine.service_state()
        wait_until(lambda: accepts(listen, port), 60, "the service's record link")
        assert b"stopped successfully" in wine.run("net", "stop", "Torvane", timeout=120).stdout
        state = wine.service_state()
        assert "STOPPED" in state and "WIN32_EXIT_CODE    : 0" in state, state
    finally:
        for name in settings:
            wine.run("reg", "delete", system_env, "/v", name, "/f", check=False)
        shell.stdin.close()
        shell.wait(60)
    wine.settle()

    assert wine.run(torvane, "-v").returncode == 0
    wine.run(torvane, "-u")
    code, _ = wine.reg_query(r"HKLM\SYSTEM\CurrentControlSet\Services\Torvane")
    assert code != 0, "the service is still there after -u"


def accepts(host, port):
    try:
        with socket.create_connection((host, port), timeout=2):
            return True
    except OSError:
        return False


def linux_records(place, **config):
    """The configuration as the Linux upsrec writes it: its registry tree and the value's bytes."""
    registry = place / "linux-registry"
    env = dict(os.environ, TORVANE_REGISTRY=str(registry))
    subprocess.run([UPSREC, "set", "config", *(f"{k}={v}" for k, v in config.items())], env=env,
                   check=True, capture_output=True, timeout=30)
    files = [p for p in registry.rglob("*") if p.is_file() and p.name.lower() == "config"]
    assert len(files) == 1, files
    return env, files[0].read_bytes()


def event_ids(path):
    data = path.read_bytes() if path.exists() else b""
    count = struct.unpack_from("<I", data)[0] if len(data) >= 4 else 0
    return count, [struct.unpack_from("<I", data, at)[0]
                   for at in range(4, len(data) - EVENT_RECORD + 1, EVENT_RECORD)]


def test_the_agent_watches_a_ups_on_com1_serves_a_linux_client_and_keeps_its_event_file(wine):
    place = wine.place
    linux_env, config = linux_records(place, upsType=0, comPort=0, baudRate=2400, acFailDelay=5,
                                      upsOffDelay=120, closeApps=0, showWarnings=0)
    wine.import_value(r"Software\Stavlen\Torvane", "config", config)

    # upsrec.exe reads the value from the Wine registry and prints what upsrec prints.
    windows = wine.run(wine.program("upsrec"), "show", "config").stdout.decode()
    linux = subprocess.run([UPSREC, "show", "config"], env=linux_env, capture_output=True,
                           text=True, timeout=30, check=True).stdout
    assert windows.replace("\r\n", "\n") == linux

    # A full event file: the next event replaces it by its newest records, then is added.
    old = struct.pack("<IHI", 0x69, 4, 1000000)
    evt = wine.programs / "Torvane.evt"
    evt.write_bytes(struct.pack("<I", MAX_EVENTS) + old * MAX_EVENTS)

    (place / "ups").mkdir()
    ups = Upssim(place / "ups").start()
    # Wine makes its COM ports from this key when it starts (a link made by hand is replaced):
    # the prefix is let go down, saving its registry, and comes up again with the agent.
    wine.run("reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", ups.link, "/f")
    wine.settle()

    listen = loopback_address()
    port = free_port(host=listen)
    env = dict(wine.env, TORVANE_LISTEN=listen, TORVANE_TCP_PORT=str(port),
               TORVANE_UDP_PORT=str(free_port(socket.SOCK_DGRAM, listen)),
               TORVANE_NUT_LISTEN=listen, TORVANE_HTTP_LISTEN=listen,
               TORVANE_POWEROFF="cmd /c echo off")
    log = open(place / "torvane.out", "wb")
    agent = subprocess.Popen(["wine", wine.program("Torvane")], env=env, stdin=subprocess.DEVNULL,
                             stdout=log, stderr=subprocess.STDOUT)
    try:
        ups.wait_for_command("Q1\r", timeout=90)
        ups.wait_for_command("F\r", timeout=60)

        # The Linux client logs on and decodes the state the agent sends at once.
        status = subprocess.run([UPSREC, "--agent", f"{listen}:{port}", "--timeout", "20",
                                 "--json", "show", "status"], capture_output=True, text=True,
                                timeout=90)
        assert status.returncode == 0, status.stderr
        assert json.loads(status.stdout)["connected"] is True, status.stdout

        ups.ctl("utility", "fail")
        wait_until(lambda: AC_FAILURE in event_ids(evt)[1][-1:], 60, "the AC-failure record")
        count, ids = event_ids(evt)
        assert count == len(ids) == KEPT_EVENTS + 1
        assert ids[-1] == AC_FAILURE and set(ids[:-1]) == {0x69}
        assert evt.stat().st_size < EVENT_FILE_LIMIT
        assert agent.poll() is None, "the agent ended"
        # The window the local panel's copy-data link needs was made.
        assert "could not be made" not in (place / "torvane.out").read_text(errors="replace")
    finally:
        agent.kill()
        wine.end()
        agent.wait(30)
        log.close()
        ups.stop()
        print((place / "torvane.out").read_text(errors="replace")[-4000:])
