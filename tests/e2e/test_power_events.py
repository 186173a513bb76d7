"""The road of a power failure, end to end: vornd against the simulated UPS, warning two real
pseudo-terminals listed in its own login records, running e-mail, pager, pre-shutdown and
shutdown commands that only leave marks. The daemon's clock runs ten times faster (libfaketime),
so a minute of countdown takes six seconds; the daemon's logic is the real one."""

import os
import pathlib
import shutil
import tempfile
import time

import pytest

from kelvora_env import (Terminal, find_faketime, shutdown_soon, utmp_record, wait_until,
                         write_vorn_ini)

FAKETIME = find_faketime()
SPEED = 10
HOST = os.uname().nodename
AC_FAILS = "AC Power Fails! UPS provides power!"

# scripts/deps installs it; a missing library must fail the run, not shrink it.
assert FAKETIME, "libfaketime is not installed"


@pytest.fixture
def site(root, ups, start_daemon):
    """Everything a power failure touches, in the test's own root."""
    terms = [Terminal(), Terminal()]
    marks = pathlib.Path(tempfile.mkdtemp(prefix="km", dir="/tmp"))  # the commands stay short
    # Besides the two terminals: a record naming no terminal, and one without a user.
    records = [utmp_record(t.line, "alice") for t in terms]
    records += [utmp_record("null", "bob"), utmp_record(terms[0].line, "")]
    (root.dir / "utmp").write_bytes(b"".join(records))
    for name in ("email", "pager"):
        script = root.path(name)
        script.write_text(f"#!/bin/sh\necho \"$1\" >> {marks}/{name}\n")
        script.chmod(0o755)
    root.write("shutdown.ini", f"echo shutdown >> {marks}/order; touch {marks}/shutdown\n")

    class Site:
        pass

    s = Site()
    s.root, s.ups, s.terms, s.marks = root, ups, terms, marks

    def start(**config):
        root.write_config(ups.link, **config)
        daemon = start_daemon(KELVORA_UTMP=str(root.dir / "utmp"), LD_PRELOAD=FAKETIME,
                              FAKETIME=f"+0 x{SPEED}", FAKETIME_NO_CACHE="1")
        ups.wait_for_command("F\r", timeout=30)
        return daemon

    s.start = start
    s.mark = lambda name: (marks / name).read_text() if (marks / name).exists() else None
    yield s
    for t in terms:
        t.close()
    shutil.rmtree(marks, ignore_errors=True)


def test_ac_failure_warns_counts_down_and_shuts_system_and_ups_down(site):
    site.root.write("preshut.bat", f"  # comments and blank lines are skipped\n\n"
                                   f"echo preshut >> {site.marks}/order\n")
    daemon = site.start(acfail=1)
    site.ups.ctl("utility", "fail")
    for term in site.terms:
        wait_until(lambda: f"[{HOST}]{AC_FAILS} - " in term.text(), 10, "the warning on a terminal")
    wait_until(lambda: site.mark("email") == "1\n" and site.mark("pager") == "1\n", 10, "the scripts")
    assert f"{AC_FAILS} - " in site.root.read("vornlog")

    assert daemon.proc.wait(60) == 0
    assert site.mark("shutdown") is not None
    assert site.mark("order") == "preshut\nshutdown\n"
    assert "S03\r" in site.ups.commands()  # AC-fail shutdown: delay only, no restart
    text = site.terms[0].text()
    for expected in ("System will be shut down in  1 Minute!  ", "System will be shut down in 30 Seconds!!",
                     "System will be shut down in  1 Second!! ", "Preshut processes all done!",
                     "System Shutdown NOW! echo shutdown"):
        assert expected in text
    assert text.index("Preshut processes all done!") < text.index("System Shutdown NOW!")
    log = site.root.read("vornlog")
    assert "System will be shut down in  1 Minute!   - " in log
    assert "Seconds!!" not in log and "System Shutdown NOW!" not in log
    assert "<Kelvora> Daemon Process Stops!" in site.root.console_lines()
    assert all(site.root.queue_info(q) is None for q in ("status", "heartbeat", "control", "redraw", "command"))


def test_power_returns_before_the_deadline_again_and_again(site):
    daemon = site.start(acfail=5)
    pid = daemon.proc.pid
    fds = None
    for cycle in range(1, 4):
        site.ups.ctl("utility", "fail")
        wait_until(lambda: site.terms[1].text().count(AC_FAILS) == cycle, 10, "the failure warning")
        site.ups.ctl("utility", "ok")
        wait_until(lambda: site.terms[1].text().count("AC Power recovered!") == cycle, 10, "recovery")
        wait_until(lambda: site.mark("pager") == "1\n2\n" * cycle, 10, "the scripts' codes")
        time.sleep(0.5)
        # Every script was reaped and every log closed: nothing piles up over many events.
        children = [p for p in os.listdir("/proc") if p.isdigit() and _parent(p) == pid]
        assert [p for p in children if _state(p) == "Z"] == []
        now = len(os.listdir(f"/proc/{pid}/fd"))
        assert fds is None or now == fds
        fds = now
    text = site.terms[1].text()
    assert "Shutdown Stops! System Returns to Normal State!" in text
    assert daemon.alive()
    assert site.mark("shutdown") is None
    assert not any(c.startswith("S") for c in site.ups.commands())
    assert daemon.stop() == 0
    assert site.mark("shutdown") is None


def test_a_ups_that_falls_silent_during_the_countdown_does_not_stop_the_shutdown(site):
    daemon = site.start(acfail=1)
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILS in site.terms[0].text(), 10, "the failure warning")
    site.ups.ctl("reply", "silent")
    assert daemon.proc.wait(60) == 0
    assert site.mark("shutdown") is not None
    assert "S03\r" in site.ups.commands()  # sent all the same: the UPS may still be listening


def test_a_deadline_that_passes_while_reconnecting_still_shuts_down(site):
    daemon = site.start(acfail=2)
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILS in site.terms[0].text(), 10, "the failure warning")
    # A configuration change sends the daemon back to its connect loop, where it finds the UPS
    # silent and keeps trying: the countdown must end in the shutdown there too.
    site.ups.ctl("reply", "silent")
    site.root.send("control", 5, "010")
    assert daemon.proc.wait(60) == 0
    assert site.mark("shutdown") is not None
    assert "S03\r" in site.ups.commands()  # the port is opened again to tell the UPS
    assert all(site.root.queue_info(q) is None for q in ("status", "heartbeat", "control", "redraw", "command"))


def test_battery_low_shortens_the_deadline_and_a_hung_preshut_command_is_given_up(site):
    site.root.write("preshut.bat", f"sleep 100000\necho preshut >> {site.marks}/order\n")
    daemon = site.start(acfail=30, battlow=1)
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILS in site.terms[0].text(), 10, "the failure warning")
    site.ups.ctl("battery", "low")
    wait_until(lambda: "UPS Battery low!!" in site.terms[0].text(), 10, "the battery warning")
    wait_until(lambda: site.mark("email") == "1\n3\n", 10, "the battery-low code")
    # One minute on battery, then five minutes for the hung command (both ten times faster).
    assert daemon.proc.wait(80) == 0
    assert site.mark("order") == "preshut\nshutdown\n"
    assert "S03\r" in site.ups.commands()


def _parent(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return int(f.read().rsplit(")", 1)[1].split()[1])
    except OSError:
        return None


def _state(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return None


def test_scheduled_shutdown_sends_the_restart_time(site):
    # Shut down at a whole minute two to three (daemon) minutes from now, restart 540 minutes later.
    write_vorn_ini(site.root, site.ups.link, shutdown_soon(restart_after=540))
    daemon = site.start(acfail=5, schedule=1)
    wait_until(lambda: "Scheduled time to shutdown!" in site.terms[0].text(), 10, "the announcement")
    assert daemon.proc.wait(60) == 0
    # The UPS goes off three minutes after the command and is back 540 minutes after the
    # shutdown moment: 537 minutes after it went off.
    assert "S03R0537\r" in site.ups.commands()
    assert site.mark("shutdown") is not None
    assert site.mark("email") is None  # a scheduled shutdown is no power event
