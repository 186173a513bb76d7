"""The agent's NUT server against the tools people already run: upsc reads the simulated UPS
through a utility failure and a low battery, the protocol answers a raw client as NUT clients
expect, a network primary's FSD takes the agent down, and upsmon as a secondary on another
machine (a network namespace behind a veth pair) follows the agent's own shutdown, which waits
for it to log out, though never for long."""

import itertools
import os
import shutil
import signal
import socket
import subprocess
import time

import pytest

from kelvora_env import wait_until
from torvane_site import site  # noqa: F401 (the fixture)

UPSC = shutil.which("upsc") or "/usr/bin/upsc"
UPSMON = "/lib/nut/upsmon"  # the program itself: /usr/sbin/upsmon is Debian's wrapper
# How long the agent's shutdown waits for the secondaries at most (frame_watchers.cpp).
SECONDARIES_WAIT = 15

_counter = itertools.count()


def upsc(site, var=None):
    """{variable: value} from upsc, or the one value asked for."""
    args = [UPSC, f"ups@{site.nut_host}:{site.nut_port}"] + ([var] if var else [])
    done = subprocess.run(args, capture_output=True, text=True, timeout=10)
    if var:
        return done.stdout.strip() if done.returncode == 0 else None
    assert done.returncode == 0, done.stderr
    return dict(line.split(": ", 1) for line in done.stdout.splitlines() if ": " in line)


class NutClient:
    """One connection speaking the protocol by hand, as a test's own secondary or primary."""

    def __init__(self, host, port):
        self.sock = socket.create_connection((host, port), timeout=10)
        self.file = self.sock.makefile("rwb")

    def send(self, text):
        self.file.write(text.encode())
        self.file.flush()

    def line(self):
        return self.file.readline().decode().rstrip("\n")

    def ask(self, request):
        self.send(request + "\n")
        return self.line()

    def ask_list(self, request):
        self.send(request + "\n")
        lines = [self.line()]
        while lines[-1] and not lines[-1].startswith(("END LIST", "ERR")):
            lines.append(self.line())
        return lines

    def log_in(self, user, password):
        assert self.ask(f"USERNAME {user}") == "OK"
        assert self.ask(f"PASSWORD {password}") == "OK"
        assert self.ask("LOGIN ups") == "OK"

    def closed_by_server(self):
        try:
            return self.sock.recv(1) == b""
        except ConnectionResetError:
            return True

    def close(self):
        self.file.close()
        self.sock.close()


def status_words(site):
    value = upsc(site, "ups.status")
    return set(value.split()) if value else set()


def started(site, **config):
    site.configure(**config)
    site.nut_host = site.extra_env.get("TORVANE_NUT_LISTEN", site.listen)
    site.start()
    # The identification is the last the agent asks for.
    site.ups.wait_for_command("I\r", timeout=30)
    wait_until(lambda: upsc(site, "ups.mfr"), 20, "the UPS's maker from the agent")
    return site


def test_upsc_reads_the_ups_through_a_utility_failure_and_a_low_battery(site):
    # A long grace: the failure is watched, and the low battery's shutdown does not matter here.
    started(site, acFailDelay=30, upsOffDelay=600)
    site.ups.ctl("set", "input", "221.7")
    wait_until(lambda: upsc(site, "input.voltage") == "221.7", 20, "the new input voltage")
    values = upsc(site)
    assert values["ups.status"] == "OL"
    assert values["device.type"] == "ups"
    assert values["ups.mfr"] == values["device.mfr"] == "Stavlen"
    assert values["ups.model"] == "SIM-1000"
    assert values["ups.firmware"] == "1.0"
    assert values["input.frequency"] == "50.0"
    assert values["input.voltage.nominal"] == "230.0"
    for name in ("battery.charge", "battery.voltage", "output.voltage", "ups.load",
                 "ups.temperature"):
        float(values[name])  # a plain decimal number, as NUT's clients parse it
    listing = subprocess.run([UPSC, "-l", f"{site.nut_host}:{site.nut_port}"],
                             capture_output=True, text=True, timeout=10)
    assert listing.stdout.split() == ["ups"]

    site.ups.ctl("utility", "fail")
    wait_until(lambda: status_words(site) == {"OB"}, 20, "ups.status OB")
    site.ups.ctl("battery", "low")
    # The agent acts on the low battery at once: the forced shutdown may already show.
    wait_until(lambda: status_words(site) - {"FSD"} == {"OB", "LB"}, 20, "ups.status OB LB")


def test_the_protocol_as_clients_see_it_and_a_network_primarys_fsd(site):
    site.extra_env.update(TORVANE_NUT_USER="upsadmin", TORVANE_NUT_PASSWORD="pass word")
    started(site, acFailDelay=30, upsOffDelay=600, shutdownWindows=1)
    c = NutClient(site.nut_host, site.nut_port)
    assert c.ask("VER") == "Torvane agent - NUT network protocol 1.3"
    assert c.ask("NETVER") == "1.3"
    assert c.ask_list("LIST UPS") == [
        "BEGIN LIST UPS", 'UPS ups "UPS watched by the Torvane agent"', "END LIST UPS"]
    assert c.ask("GET UPSDESC ups") == 'UPSDESC ups "UPS watched by the Torvane agent"'
    assert c.ask_list("LIST CMD ups") == ["BEGIN LIST CMD ups", "END LIST CMD ups"]
    assert c.ask_list("LIST RW ups") == ["BEGIN LIST RW ups", "END LIST RW ups"]
    assert c.ask("GET TYPE ups input.voltage") == "TYPE ups input.voltage NUMBER"
    assert c.ask("GET DESC ups ups.status") == 'DESC ups ups.status "UPS status"'
    assert c.ask("GET VAR ups no.such") == "ERR VAR-NOT-SUPPORTED"
    assert c.ask("GET VAR other ups.status") == "ERR UNKNOWN-UPS"
    assert c.ask("STARTTLS") == "ERR FEATURE-NOT-CONFIGURED"
    assert c.ask("LOGIN ups") == "ERR USERNAME-REQUIRED"

    # A guess is refused, and FSD needs the primary's part granted.
    guess = NutClient(site.nut_host, site.nut_port)
    guess.log_in("upsadmin", "password")
    assert guess.ask("PRIMARY ups") == "ERR ACCESS-DENIED"
    assert guess.ask("FSD ups") == "ERR ACCESS-DENIED"
    assert guess.ask("GET NUMLOGINS ups") == "NUMLOGINS ups 1"
    assert guess.ask("LOGOUT") == "OK Goodbye"
    assert guess.closed_by_server()

    # A line no client sends: refused, and the connection closed.
    flood = NutClient(site.nut_host, site.nut_port)
    flood.send("GET VAR ups " + "x" * 600 + "\n")
    assert flood.line() == "ERR INVALID-ARGUMENT"
    assert flood.closed_by_server()
    assert not site.mark.exists()

    c.send('USERNAME upsadmin\nPASSWORD "pass word"\nLOGIN ups\n')
    assert [c.line() for _ in range(3)] == ["OK", "OK", "OK"]
    assert c.ask("MASTER ups") == "OK MASTER-GRANTED"
    assert c.ask("FSD ups") == "OK FSD-SET"
    wait_until(lambda: "FSD" in status_words(site), 20, "FSD in ups.status")
    # The primary logs out once it has told everybody, as upsmon does; then this system goes.
    assert c.ask("LOGOUT") == "OK Goodbye"
    wait_until(lambda: site.mark.exists(), 40, "the agent's shutdown after FSD")
    assert "FSD from a NUT client" in site.output()


class Veth:
    """Another machine for upsmon: a network namespace joined to this one by a veth pair, this
    side at `host`, the namespace at `guest`."""

    def __init__(self):
        n = next(_counter)
        tag = f"{os.getpid() % 100000}{n}"
        self.name = f"tvnut{tag}"
        self.outside = f"tvn{tag}a"
        self.inside = f"tvn{tag}b"
        net = f"10.{210 + os.getpid() % 40}.{(os.getpid() // 40 + n) % 250 + 1}"
        self.host, self.guest = f"{net}.1", f"{net}.2"

    def wrap(self):
        return ["ip", "netns", "exec", self.name]

    def create(self):
        steps = [["netns", "add", self.name],
                 ["link", "add", self.outside, "type", "veth", "peer", "name", self.inside,
                  "netns", self.name],
                 ["addr", "add", f"{self.host}/24", "dev", self.outside],
                 ["link", "set", self.outside, "up"],
                 ["-n", self.name, "addr", "add", f"{self.guest}/24", "dev", self.inside],
                 ["-n", self.name, "link", "set", self.inside, "up"],
                 ["-n", self.name, "link", "set", "lo", "up"]]
        for step in steps:
            done = subprocess.run(["ip", *step], capture_output=True, text=True, timeout=10)
            if done.returncode != 0:
                self.delete()
                pytest.skip(f"ip {' '.join(step)}: {done.stderr.strip()}")
        return self

    def delete(self):
        pids = subprocess.run(["ip", "netns", "pids", self.name], capture_output=True,
                              text=True, timeout=10).stdout.split()
        for pid in pids:
            try:
                os.kill(int(pid), signal.SIGKILL)
            except (ProcessLookupError, ValueError):
                pass
        # The pair goes with either end.
        subprocess.run(["ip", "link", "del", self.outside], capture_output=True, timeout=10)
        subprocess.run(["ip", "netns", "del", self.name], capture_output=True, timeout=10)


@pytest.fixture
def veth():
    if os.geteuid() != 0:
        pytest.skip("network namespaces need root")
    if not os.path.exists(UPSMON):
        pytest.skip("upsmon is not installed")
    machine = Veth().create()
    try:
        yield machine
    finally:
        machine.delete()


def start_upsmon(site, veth, shutdown_seconds):
    """upsmon as a secondary inside the namespace, with its own configuration and state. Its
    shutdown command takes `shutdown_seconds`, as a machine saving its work, then touches the
    returned file."""
    conf = site.place / "nut"
    conf.mkdir()
    flag = site.place / "secondary-shut-down"
    command = conf / "shutdown"
    command.write_text(f"#!/bin/sh\nsleep {shutdown_seconds}\nexec /usr/bin/touch {flag}\n")
    command.chmod(0o755)
    (conf / "upsmon.conf").write_text(
        f"MONITOR ups@{veth.host}:{site.nut_port} 1 monuser secondarypass secondary\n"
        "MINSUPPLIES 1\n"
        f'SHUTDOWNCMD "{command}"\n'
        "POLLFREQ 1\nPOLLFREQALERT 1\nDEADTIME 15\nFINALDELAY 0\n"
        f"POWERDOWNFLAG {conf}/killpower\n")
    os.chmod(conf / "upsmon.conf", 0o600)
    env = dict(os.environ, NUT_CONFPATH=str(conf), NUT_STATEPATH=str(conf),
               NUT_ALTPIDPATH=str(conf))
    # upsmon keeps its PID file under /run/nut whatever it is told: a /run of its own keeps it
    # away from the system's and from any other upsmon. -p: the process that holds the login
    # runs the shutdown command itself, and so stays logged in until it is done, as a machine
    # going down does.
    private_run = 'mount -t tmpfs -o size=1m tmpfs /run && mkdir /run/nut && exec "$@"'
    log = open(site.place / "upsmon.log", "wb")
    proc = subprocess.Popen([*veth.wrap(), "sh", "-c", private_run, "sh", UPSMON, "-D", "-p"],
                            env=env, stdin=subprocess.DEVNULL, stdout=log,
                            stderr=subprocess.STDOUT)
    log.close()
    return proc, flag


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def test_an_upsmon_secondary_follows_the_agent_down_and_is_waited_for(site, veth):
    site.extra_env["TORVANE_NUT_LISTEN"] = veth.host
    # The UPS is left on, so that nothing but the secondaries holds this system's shutdown.
    started(site, acFailDelay=30, turnUpsOff=0, shutdownWindows=1)
    upsmon, flag = start_upsmon(site, veth, shutdown_seconds=4)
    try:
        watcher = NutClient(veth.host, site.nut_port)
        wait_until(lambda: watcher.ask("GET NUMLOGINS ups") == "NUMLOGINS ups 1", 20,
                   "upsmon's login")
        assert watcher.ask_list("LIST CLIENT ups") == [
            "BEGIN LIST CLIENT ups", f"CLIENT ups {veth.guest}", "END LIST CLIENT ups"]
        site.ups.ctl("utility", "fail")
        wait_until(lambda: "OB" in status_words(site), 20, "ups.status OB")
        site.ups.ctl("battery", "low")
        wait_until(lambda: flag.exists(), 40, "upsmon's shutdown command")
        wait_until(lambda: site.mark.exists(), 40, "the agent's own shutdown")
        # The agent went down after the secondary, not before: it waited for the logout.
        assert site.mark.stat().st_mtime >= flag.stat().st_mtime
        assert "still logged in" not in site.output()
        assert "forced shutdown" in (site.place / "upsmon.log").read_text()
    finally:
        stop(upsmon)


def test_a_secondary_that_never_logs_out_holds_the_shutdown_only_so_long(site):
    started(site, acFailDelay=30, turnUpsOff=0, shutdownWindows=1)
    stubborn = NutClient(site.nut_host, site.nut_port)
    stubborn.log_in("monuser", "pw")
    site.ups.ctl("utility", "fail")
    wait_until(lambda: "OB" in status_words(site), 20, "ups.status OB")
    site.ups.ctl("battery", "low")
    wait_until(lambda: "FSD" in status_words(site), 20, "FSD in ups.status")
    told = time.monotonic()
    wait_until(lambda: site.mark.exists(), SECONDARIES_WAIT + 25, "the agent's own shutdown")
    waited = time.monotonic() - told
    # It did wait (the system would otherwise go down within seconds), and then went anyway.
    assert waited > SECONDARIES_WAIT - 5, waited
    assert "1 NUT client(s) still logged in" in site.output()
    stubborn.close()
