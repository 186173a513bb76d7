"""vornd watching a UPS through its SNMP agent: Debian's real snmpd in a network namespace of
the test's own (at a non-loopback address: loopback counts as no agent), serving the simulated
UPS, so that a utility failure set in the simulator reaches the daemon the way a network card
would pass it on, and the daemon's SETs reach the simulator. The daemon runs in the namespace
with its clock ten times faster (libfaketime)."""

import os
import shutil
import tempfile
import time

import pytest

from kelvora_env import find_faketime, shutdown_soon, wait_until, write_vorn_ini

FAKETIME = find_faketime()
SPEED = 10
AC_FAILS = "AC Power Fails! UPS provides power!"
NO_DATA = "SNMP Agent unable to get data from the UPS"
NO_SESSION = "Cannot Initialize the SNMP Session!!"
RECONNECTED = "UPS Reconnected!!"

UPS = ".1.3.6.1.4.1.935.1.1.1"
LINE_VOLTAGE = UPS + ".3.2.1.0"
BATTERY_STATUS = UPS + ".2.1.1.0"
SHUTDOWN_DELAY = UPS + ".5.2.10.0"
SLEEP_TIME = UPS + ".5.2.11.0"
TURN_OFF = UPS + ".6.2.1.0"
SLEEP = UPS + ".6.2.3.0"

assert FAKETIME, "libfaketime is not installed"


@pytest.fixture
def site(root, agent, start_daemon):
    marks = tempfile.mkdtemp(prefix="k", dir="/tmp")  # short: it goes into 29-character fields
    root.write("shutdown.ini", f"touch {marks}/shutdown\n")

    class Site:
        pass

    s = Site()
    s.root, s.agent, s.ups, s.marks = root, agent, agent.ups, marks

    def start(**config):
        config.setdefault("mode", 1)
        config.setdefault("ip", agent.peer)
        root.write_config("/dev/null", **config)
        return start_daemon(wrapper=tuple(agent.netns.wrap()), LD_PRELOAD=FAKETIME,
                            FAKETIME=f"+0 x{SPEED}", FAKETIME_NO_CACHE="1")

    s.start = start
    s.mark = lambda name: os.path.exists(os.path.join(marks, name))
    s.sets = lambda: [(oid, value) for oid, _type, value in agent.sets()]
    yield s
    shutil.rmtree(marks, ignore_errors=True)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_ac_failure_at_the_agent_ends_in_the_off_command(site):
    daemon = site.start(acfail=1, turnoff="0.2")
    site.ups.ctl("utility", "fail")
    daemon.wait_output(AC_FAILS, 30)
    assert daemon.proc.wait(60) == 0
    assert site.mark("shutdown")
    out = site.root.output()
    assert "No restart time !" in out and "failed to" not in out
    # The delay first, in whole seconds (0.2 minutes), then the off command.
    sets = site.sets()
    assert sets == [(SHUTDOWN_DELAY, "12"), (TURN_OFF, "2")]
    assert site.ups.ctl("pending").startswith("shutdown")  # the simulator counts down


def test_scheduled_shutdown_puts_the_ups_to_sleep_for_the_restart_time(site):
    write_vorn_ini(site.root, "/dev/null", shutdown_soon(restart_after=540))
    daemon = site.start(acfail=5, schedule=1)
    daemon.wait_output("Scheduled time to shutdown!", 60)
    assert daemon.proc.wait(60) == 0
    assert site.mark("shutdown")
    # Back 540 minutes after the shutdown moment: 537 after the UPS goes off, three minutes on.
    assert "put ups to sleep 537" in site.root.output()
    assert site.sets() == [(SHUTDOWN_DELAY, "180"), (SLEEP_TIME, "537"), (SLEEP, "2")]


def test_a_silent_agent_is_reported_sparingly_and_monitoring_resumes_when_it_returns(site):
    daemon = site.start()
    time.sleep(2)
    assert NO_DATA not in site.root.output() and NO_SESSION not in site.root.output()
    site.agent.stop()
    daemon.wait_output(NO_DATA, 30)
    cpu_before = cpu_seconds(daemon.proc.pid)
    time.sleep(10)  # a hundred daemon seconds without an agent
    # Paced, not spinning; and throttled: the first report, then one in fifteen.
    assert cpu_seconds(daemon.proc.pid) - cpu_before < 1.0
    out = site.root.output()
    assert 1 <= out.count(NO_DATA) + out.count(NO_SESSION) <= 10
    assert f"<Kelvora> {NO_DATA}" in site.root.console_lines()

    site.agent.start()
    daemon.wait_output(RECONNECTED, 30)
    site.ups.ctl("utility", "fail")
    daemon.wait_output(AC_FAILS, 30)
    site.ups.ctl("utility", "ok")
    daemon.wait_output("AC Power recovered!", 30)
    assert daemon.stop() == 0
    assert not site.mark("shutdown")


@pytest.mark.parametrize("reload", [False, True], ids=["polling", "reconnecting"])
def test_an_agent_lost_during_the_countdown_still_ends_in_the_shutdown(site, reload):
    daemon = site.start(acfail=1)
    site.ups.ctl("utility", "fail")
    daemon.wait_output(AC_FAILS, 30)
    site.agent.stop()
    if reload:
        # A configuration change sends the daemon to its connect loop, where the agent is gone.
        site.root.send("control", 5, "010")
    assert daemon.proc.wait(90) == 0
    assert site.mark("shutdown")
    out = site.root.output()
    # Told all the same, in case the agent still listens; nobody answered.
    assert "No restart time !" in out and "failed to issue UPS off command" in out
    assert all(site.root.queue_info(q) is None
               for q in ("status", "heartbeat", "control", "redraw", "command"))


def test_values_of_the_wrong_type_never_become_a_power_event(site):
    # Text where the line voltage belongs would read as 0: a utility failure.
    site.agent.override(LINE_VOLTAGE, "string", "0")
    daemon = site.start(acfail=1)
    # Refused already by the check that the agent answers at all.
    daemon.wait_output(NO_SESSION, 30)
    time.sleep(3)
    assert AC_FAILS not in site.root.output() and RECONNECTED not in site.root.output()

    # A huge battery status text made of 3s is no low battery either.
    site.agent.clear_overrides()
    site.agent.override(BATTERY_STATUS, "string", "3" * 2000)
    site.ups.ctl("utility", "fail")
    daemon.wait_output(AC_FAILS, 30)
    time.sleep(3)
    assert "UPS Battery low!!" not in site.root.output()
    site.ups.ctl("utility", "ok")
    daemon.wait_output("AC Power recovered!", 30)
    assert daemon.stop() == 0


@pytest.mark.parametrize("case", ["loopback", "shell-address", "shell-community"])
def test_an_agent_that_is_none_is_never_reached(site, case):
    ip, community = {
        "loopback": ("127.0.0.1", "gazers"),
        "shell-address": (f";touch {site.marks}/p", "gazers"),
        "shell-community": (site.agent.peer, f"$(touch {site.marks}/p)"),
    }[case]
    daemon = site.start(ip=ip, community=community)
    site.ups.ctl("utility", "fail")
    wait_until(lambda: site.root.output().count(NO_SESSION) >= 2, 30, "the report repeated")
    out = site.root.output()
    assert AC_FAILS not in out and RECONNECTED not in out
    assert not site.mark("p")  # nothing went through a shell
    assert daemon.stop() == 0
