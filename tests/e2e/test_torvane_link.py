"""Torvane's clients: control panels over TCP (the real upsrec client and raw sockets), the panel
on the same machine over copy-data, and UDP event clients, against the agent watching the
simulated UPS. A panel must see what the agent sees, command only once it has logged on, and
never hold the agent back from the shutdown."""

import json
import socket
import struct
import subprocess
import time

from agent_link import (BATTERY_LOW, BASIC, CONNECTED, COUNTDOWN, RATING, STATUS, UTILITY_FAILED,
                        WRONG_PASSWORD, Closed, LocalPanel, TcpPanel, UdpClient, archive_string,
                        datagram)
from kelvora_env import wait_until
from torvane_site import SYSTEM_SHUTDOWN, UPSREC, site  # noqa: F401 (the fixture)


def agent_rec(site, *words, password=None):
    args = [UPSREC, "--agent", site.listen, "--timeout", "10"]
    if password is not None:
        args += ["--password", password]
    return subprocess.run([*args, *words], env=site.env(), capture_output=True, text=True,
                          timeout=60)


def started(site, **config):
    site.configure(**config)
    site.start()
    site.ups.wait_for_command("F\r", timeout=30)  # connected: the rating has been asked
    wait_until(lambda: site.output().count("Torvane: running"), 10, "the agent's start")
    return site


def test_a_wrong_password_gets_46_and_the_connection_closes_while_the_right_one_logs_on(site):
    started(site, agentPassword="s3cret")
    panel = TcpPanel(site.tcp_port, site.listen)
    panel.logon("guess")
    data = b""
    panel.sock.settimeout(10)
    while chunk := panel.sock.recv(100):
        data += chunk
    assert data == struct.pack("<i", WRONG_PASSWORD)
    panel.close()

    wrong = agent_rec(site, "show", "config", password="guess")
    assert wrong.returncode == 1 and "password" in wrong.stderr.lower()

    panel = TcpPanel(site.tcp_port, site.listen)
    panel.logon("s3cret")
    seen = panel.codes_until(RATING, 10)
    # Connected, then the UPS's type, its identification, its rating.
    assert seen[0] == CONNECTED
    assert seen[-2:] == [BASIC, RATING]
    assert seen[1:-2] in ([35], [36])
    assert STATUS in panel.codes_until(STATUS, 10)
    panel.close()
    # The agent traces every message, but never a password, right or wrong.
    assert "Client send password: ********" in site.output()
    assert "s3cret" not in site.output() and "guess" not in site.output()


def test_before_the_password_a_client_can_neither_read_nor_command(site):
    started(site)
    for code in (3, 7, 18, 45):  # config, event log, beeper, close and shut down
        panel = TcpPanel(site.tcp_port, site.listen)
        panel.send(code)
        panel.sock.settimeout(10)
        assert panel.sock.recv(100) == b"", f"{code} before the password: dropped, unanswered"
        panel.close()
    time.sleep(3)
    assert "Q\r" not in site.ups.commands()
    assert not site.mark.exists()
    # An empty configured password lets any password in.
    panel = TcpPanel(site.tcp_port, site.listen)
    panel.logon("anything")
    assert panel.codes_until(CONNECTED, 10)[0] == CONNECTED
    panel.close()


def test_a_panel_reads_and_changes_the_agents_records_and_commands_the_ups(site):
    started(site, acFailDelay=7)
    shown = agent_rec(site, "--json", "show", "config")
    assert shown.returncode == 0, shown.stderr
    assert json.loads(shown.stdout)["acFailDelay"] == 7

    changed = agent_rec(site, "set", "config", "acFailDelay=3")
    assert changed.returncode == 0, changed.stderr
    stored = subprocess.run([UPSREC, "show", "config", "--json"], env=site.env(),
                            capture_output=True, text=True, timeout=30)
    assert json.loads(stored.stdout)["acFailDelay"] == 3, "saved in the registry"

    status = agent_rec(site, "--json", "show", "status")
    assert status.returncode == 0, status.stderr
    assert json.loads(status.stdout)["connected"] is True

    for words, line in ((["beeper"], "Q\r"), (["test10"], "T\r"), (["cancel"], "CT\r")):
        done = agent_rec(site, *words)
        assert done.returncode == 0, done.stderr
        site.ups.wait_for_command(line, timeout=15)

    # Every record the agent keeps comes back and decodes.
    for kind in ("msgtab", "schedule", "eventlog", "datalog", "closeinfo"):
        shown = agent_rec(site, "--json", "show", kind)
        assert shown.returncode == 0, (kind, shown.stderr)
        json.loads(shown.stdout)

    # A new configuration is applied at once: without a port the agent lets go of the UPS.
    assert agent_rec(site, "set", "config", "comPort=4").returncode == 0
    wait_until(lambda: json.loads(agent_rec(site, "--json", "show", "status").stdout)
               ["connected"] is False, 20, "the agent to let go of the UPS")


def test_every_client_hears_a_utility_failure_and_the_countdown(site):
    started(site, acFailDelay=30)
    panel = TcpPanel(site.tcp_port, site.listen)
    panel.logon()
    panel.codes_until(RATING, 10)
    udp = UdpClient(site.udp_port, site.listen)
    udp.send(3, 0)  # alive
    assert udp.receive(5)[:2] == (10, 13)

    site.ups.ctl("utility", "fail")
    # The event, and its second copy about 900 ms later as it is not acknowledged.
    events = []
    while len(events) < 2:
        got = udp.receive(10)
        assert got, f"UDP events so far: {events}"
        if got[0] == 5 and got[1] == 1:
            events.append(got)
    assert 0.5 < events[1][3] - events[0][3] < 3.0

    assert UTILITY_FAILED in panel.codes_until(UTILITY_FAILED, 20)
    panel.sock.settimeout(20)
    while True:
        code, value = panel.read()
        if code == COUNTDOWN:
            assert 0 < value <= 30 * 60
            break
    panel.close()
    udp.close()


def test_the_shutdown_drops_every_client_first(site):
    started(site, acFailDelay=30, upsOffDelay=60)
    panel = TcpPanel(site.tcp_port, site.listen)
    panel.logon()
    panel.codes_until(RATING, 10)
    site.ups.ctl("utility", "fail")
    site.ups.ctl("battery", "low")
    panel.sock.settimeout(30)
    seen = []
    try:
        while True:
            seen.append(panel.read()[0])
    except Closed:
        pass
    assert BATTERY_LOW in seen
    wait_until(lambda: site.mark.exists(), 40, "Brenvik's shutdown command")
    assert SYSTEM_SHUTDOWN in site.event_ids()


def test_the_panel_on_this_machine_registers_asks_and_leaves(site):
    started(site)
    panel = LocalPanel(str(site.run))
    try:
        assert panel.send(1) == 1  # register
        seen, _ = panel.codes_until(RATING, 10)
        assert seen[0] == CONNECTED
        panel.send(3)  # the configuration
        _, config = panel.codes_until(4, 10)
        assert len(config) > 80
        panel.send(2)  # goodbye: nothing more comes
        time.sleep(0.5)
        while panel.receive(0.2):
            pass
        assert panel.receive(3) is None, "status after the goodbye"
        # A message that is no valid payload is refused, not acted on.
        assert panel.send(31, b"\x01") == 0
    finally:
        panel.close()


def test_hostile_clients_cost_the_agent_nothing(site):
    started(site, agentPassword="pw")
    # A password that announces a string far longer than any message may be.
    rogue = TcpPanel(site.tcp_port, site.listen)
    rogue.send(1, b"\xff\xff\xff" + struct.pack("<I", 0x7FFFFFFF))
    rogue.sock.settimeout(10)
    assert rogue.sock.recv(10) == b"", "dropped"
    rogue.close()
    # A crowd of connections that never log on: beyond the limit they are closed at once, and a
    # real panel still gets in once they have gone.
    crowd = [socket.create_connection((site.listen, site.tcp_port), timeout=10)
             for _ in range(40)]
    crowd[-1].settimeout(10)
    assert crowd[-1].recv(10) == b""
    for s in crowd:
        s.close()
    time.sleep(0.5)
    panel = TcpPanel(site.tcp_port, site.listen)
    panel.send(1, archive_string("pw"))
    assert panel.codes_until(CONNECTED, 10)[0] == CONNECTED
    panel.close()
    assert site.proc.poll() is None


def test_an_agent_without_a_ups_says_so_at_once(site):
    site.configure(comPort=4)  # no port: nothing to connect to
    site.start(ready=None)
    wait_until(lambda: site.output().count("Torvane: running"), 10, "the agent's start")
    panel = TcpPanel(site.tcp_port, site.listen)
    panel.logon()
    assert panel.codes_until(20, 10) == [20]
    panel.close()
    shown = agent_rec(site, "--json", "show", "status")
    assert shown.returncode == 0, shown.stderr
    doc = json.loads(shown.stdout)
    assert doc["connected"] is False and doc["status"] is None


# A panel run inside the namespace as a program of its own, from `source`: logs on, sends the
# codes, and prints the first code it got within three seconds.
PANEL_IN_NAMESPACE = r"""
import socket, struct, sys, time
source, target, port, password = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
s = socket.socket()
s.bind((source, 0))
s.connect((target, port))
p = password.encode()
s.sendall(struct.pack("<i", 1) + bytes([len(p)]) + p)
for code in sys.argv[5:]:
    s.sendall(struct.pack("<i", int(code)))
data = b""
until = time.monotonic() + 3
try:
    while (left := until - time.monotonic()) > 0:
        s.settimeout(left)
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
except socket.timeout:
    pass
print(struct.unpack_from("<i", data)[0] if len(data) >= 4 else "nothing")
"""


NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def panel_from(netns, source, site, password, *codes, user=()):
    done = subprocess.run([*netns.wrap(), *user, "/usr/bin/python3", "-c", PANEL_IN_NAMESPACE, source,
                           netns.address, str(site.tcp_port), password, *map(str, codes)],
                          capture_output=True, text=True, timeout=30)
    assert done.returncode == 0, done.stderr
    return done.stdout.strip()


def test_without_a_password_only_root_on_this_machine_may_change_anything(site, netns):
    other = netns.address.rsplit(".", 1)[0] + ".3"  # another host, as the agent sees it
    subprocess.run([*netns.wrap(), "ip", "addr", "add", f"{other}/24", "dev", "lo"], check=True)
    site.extra_env["TORVANE_LISTEN"] = netns.address
    site.configure()
    site.start(wrapper=netns.wrap())
    site.ups.wait_for_command("F\r", timeout=30)

    # From elsewhere: watching is open, the beeper and the shutdown are not.
    assert panel_from(netns, other, site, "", 18, 45) == str(CONNECTED)
    time.sleep(5)  # two polls: a beeper command would have gone out by now
    assert "Q\r" not in site.ups.commands()
    assert not site.mark.exists()
    # From this machine, but as an ordinary user: the same.
    assert panel_from(netns, netns.address, site, "", 18, 45, user=NOBODY) == str(CONNECTED)
    time.sleep(5)
    assert "Q\r" not in site.ups.commands()
    assert not site.mark.exists()
    # upsrec tells such a user that the change was not taken, and nothing changed.
    refused = subprocess.run([*netns.wrap(), *NOBODY, UPSREC, "--agent",
                              f"{netns.address}:{site.tcp_port}", "--timeout", "10", "set",
                              "config", "acFailDelay=7"],
                             capture_output=True, text=True, timeout=60)
    assert refused.returncode != 0
    assert "did not take the change" in refused.stderr
    shown = subprocess.run([UPSREC, "show", "config", "--json"], env=site.env(),
                           capture_output=True, text=True, timeout=30, check=True)
    assert json.loads(shown.stdout)["acFailDelay"] != 7
    # Root on this machine may.
    assert panel_from(netns, netns.address, site, "", 18) == str(CONNECTED)
    site.ups.wait_for_command("Q\r", timeout=15)


def test_with_a_password_another_host_may_command_and_repeated_guesses_are_slowed(site, netns):
    other = netns.address.rsplit(".", 1)[0] + ".3"
    subprocess.run([*netns.wrap(), "ip", "addr", "add", f"{other}/24", "dev", "lo"], check=True)
    site.extra_env["TORVANE_LISTEN"] = netns.address
    site.configure(agentPassword="pw")
    site.start(wrapper=netns.wrap())
    site.ups.wait_for_command("F\r", timeout=30)
    assert panel_from(netns, other, site, "pw", 18) == str(CONNECTED)
    site.ups.wait_for_command("Q\r", timeout=15)
    # Three wrong guesses are answered at once; the fourth waits a second.
    for _ in range(3):
        assert panel_from(netns, other, site, "guess") == str(WRONG_PASSWORD)
    started_at = time.monotonic()
    assert panel_from(netns, other, site, "guess") == str(WRONG_PASSWORD)
    assert time.monotonic() - started_at >= 1.0


def test_a_client_that_asks_and_closes_its_side_still_gets_its_answers(site):
    started(site)
    panel = TcpPanel(site.tcp_port, site.listen)
    panel.logon()
    panel.send(3)  # the configuration, and nothing more to say
    panel.sock.shutdown(socket.SHUT_WR)
    seen = panel.codes_until(4, 10)
    assert seen[0] == CONNECTED and seen[-1] == 4
    panel.sock.settimeout(20)
    while True:  # then the agent closes, without waiting for the next status
        try:
            panel.read()
        except Closed:
            break
    panel.close()


def test_a_panel_that_logs_on_during_an_alarm_hears_the_alarms_first(site):
    started(site, acFailDelay=30)
    site.ups.ctl("utility", "fail")  # (a low battery would shut the machine down at once)
    wait_until(lambda: site.output().count("UPS ac fail"), 20, "the agent to see the failure")
    panel = TcpPanel(site.tcp_port, site.listen)
    panel.logon()
    seen = panel.codes_until(RATING, 10)
    assert seen[:2] == [CONNECTED, UTILITY_FAILED]
    assert seen[2] in (35, 36)
    assert seen[-2:] == [BASIC, RATING]
    panel.close()


def test_an_event_client_datagram_with_one_byte_changed_is_ignored(site):
    started(site)
    udp = UdpClient(site.udp_port, site.listen)
    good = datagram(3, 0)
    for at in range(len(good)):
        damaged = bytearray(good)
        damaged[at] ^= 0x01
        udp.sock.sendto(bytes(damaged), (site.listen, site.udp_port))
    assert udp.receive(1) is None
    udp.sock.sendto(good, (site.listen, site.udp_port))
    assert udp.receive(5)[:2] == (10, 13)
    udp.close()


def config_record(**values):
    """A configuration record's bytes in field order, from the agent's defaults and `values`."""
    fields = [("upsType", 0), ("comPort", 4), ("baudRate", 2400), ("reserved1", 0),
              ("dataLogOn", 0), ("dataLogInterval", 30), ("acFailDelay", 10),
              ("batteryLowDelay", 1), ("upsOffDelay", 120), ("runProgram", 0),
              ("programCmdLine", ""), ("reserved2", 0), ("scheduleWarnTime", 30),
              ("closeApps", 1), ("shutdownWindows", 1), ("showWarnings", 0), ("warnRepeat", 30),
              ("emailOn", 0), ("pagerOn", 0), ("mailServer", ""), ("pagerPort", 1),
              ("agentPassword", ""), ("turnUpsOff", 1), ("showLastShutdown", 1)]
    out = b""
    for name, default in fields:
        value = values.get(name, default)
        out += archive_string(value) if isinstance(value, str) else struct.pack("<i", value)
    return out


def test_a_record_with_a_value_out_of_range_is_not_stored_whoever_sends_it(site):
    started(site, acFailDelay=7)
    comport = json.loads(agent_rec(site, "--json", "show", "config").stdout)["comPort"]
    panel = TcpPanel(site.tcp_port, host=site.listen)
    panel.logon("")
    panel.codes_until(CONNECTED, 20)
    for bad in (dict(batteryLowDelay=0), dict(acFailDelay=2881), dict(warnRepeat=1),
                dict(programCmdLine="x" * 301)):
        panel.send(4, config_record(**{"comPort": comport, "acFailDelay": 3, **bad}))
    # A schedule (count, then event, frequency, test length, time) with an event of no kind.
    panel.send(11, struct.pack("<iHHiI", 1, 7, 0, 0, int(time.time()) + 3600))
    panel.send(4, config_record(comPort=comport, acFailDelay=5))  # and one that is fine
    wait_until(lambda: json.loads(agent_rec(site, "--json", "show", "config").stdout)
               ["acFailDelay"] == 5, 20, "the good record")
    trace = site.output()
    assert trace.count("Configuration refused:") == 4, trace[-2000:]
    assert "batteryLowDelay 0 is outside 1..600" in trace
    assert "Schedule refused: entry 1: event 7" in trace
    assert json.loads(agent_rec(site, "--json", "show", "schedule").stdout) == {"entries": []}
    panel.close()
