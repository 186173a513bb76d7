"""Torvane's reactions beyond the bare shutdown, end to end: closing applications and the
administrator's program before the shutdown, warning boxes, e-mail through a real SMTP server,
a page through a "modem" on a pseudo-terminal, a scheduled self-test, and the demo and SEC links.
The agent's wall clock runs ten times faster (see test_torvane.py); its timers keep real time."""

import json
import os
import pathlib
import pty
import re
import select
import subprocess
import termios
import time
import tty

import pytest

from kelvora_env import REPO, wait_until
from torvane_site import (AC_FAILURE, AC_RESTORED, BATTERY_LOW, MAIL_SENT, PAGER_FAILED,
                          PAGER_SENT, SELF_TEST, SYSTEM_SHUTDOWN, TORVANE, end_site, make_site,
                          site)  # noqa: F401 (the fixture)

# The outside programs are built beside the agent.
MORKELNT = os.environ.get("MORKELNT") or str(pathlib.Path(TORVANE).parent / "Morkelnt")
FAIL_TEXT = "Attention! Utility Power Failure!"
RESTORED_TEXT = "Utility Power Restored"


def script(path, body):
    path.write_text("#!/bin/sh\n" + body)
    path.chmod(0o755)
    return path


def records(path):
    """The NUL-ended records a stand-in appended to `path`."""
    if not path.exists():
        return []
    return path.read_bytes().decode().split("\0")[:-1]


def lines(path):
    return path.read_text().splitlines() if path.exists() else []


# --- closing applications and the administrator's program --------------------------------------

def fake_desktop(site):
    """A display with two windows besides the agent's, reached through a wmctrl of our own that
    closes a window by dropping its line."""
    bin_dir = site.place / "bin"
    bin_dir.mkdir()
    windows = site.place / "windows"
    windows.write_text("0x01000001  0 host Torvane 2000 for Windows\n"
                       "0x02000001  0 host notes.txt - Editor\n"
                       "0x03000001 -1 N/A  Mail\n")
    script(bin_dir / "wmctrl", f"""W={windows}
echo "$@" >> {site.place}/wmctrl.log
if [ "$1" = -l ]; then cat "$W"; exit 0; fi
if [ "$1" = -i ] && [ "$2" = -c ]; then grep -v "^$3 " "$W" > "$W.new"; mv "$W.new" "$W"; fi
""")
    site.extra_env.update(DISPLAY=":99", PATH=f"{bin_dir}:{os.environ['PATH']}")


def test_the_countdown_closes_applications_once_then_runs_the_program_then_shuts_down(site):
    order = site.place / "order"
    fake_desktop(site)
    # A stand-in that notes each start, does the real Morkelnt's work, and notes its end.
    script(site.home / "Morkelnt", f"""printf '%s\\0' "$*" >> {site.place}/morkelnt.log
{MORKELNT} "$@"
echo morkelnt >> {order}
""")
    program = script(site.place / "before-shutdown", f"""for w in "$@"; do printf '%s\\0' "$w"; done > {site.place}/args
echo program >> {order}
""")
    site.extra_env["TORVANE_POWEROFF"] = str(script(site.place / "poweroff", f"""echo poweroff >> {order}
touch {site.mark}
"""))
    site.configure(acFailDelay=1, closeApps=1, runProgram=1,
                   programCmdLine=f"{program} a;touch {site.place}/injected $HOME |x")
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: site.mark.exists(), 60, "the shutdown after the countdown")
    time.sleep(6)  # another agent minute: a countdown that stays at 0 closes nothing again
    assert records(site.place / "morkelnt.log") == ["Torvane 2000 for Windows"]
    assert lines(order) == ["morkelnt", "program", "poweroff"]
    # No shell: the metacharacters arrive as words of their own and run nothing.
    assert records(site.place / "args") == ["a;touch", f"{site.place}/injected", "$HOME", "|x"]
    assert not (site.place / "injected").exists()
    # The applications were asked to close, the agent's own window was left, and the report
    # waits in the program directory to be shown.
    assert "-i -c 0x01000001" not in lines(site.place / "wmctrl.log")
    report = (site.home / "CLOSEAPP.INI").read_text()
    assert "AppNumber=2" in report and "ShowMsg=1" in report
    assert "Title=notes.txt - Editor" in report and "Title=Mail" in report
    assert site.event_ids()[-1] == SYSTEM_SHUTDOWN


def test_battery_low_ends_a_closing_that_hangs_and_shuts_down_at_once(site):
    # A Morkelnt that never ends and does not even heed a request to (an ignored signal stays
    # ignored across exec), and a program that must not run once the battery is low.
    script(site.home / "Morkelnt", f"""echo $$ >> {site.place}/morkelnt.pid
trap '' TERM
exec sleep 600
""")
    program = script(site.place / "before-shutdown", f"touch {site.place}/program-ran\n")
    site.configure(acFailDelay=1, closeApps=1, runProgram=1, programCmdLine=str(program),
                   upsOffDelay=120)
    site.start()
    site.ups.ctl("utility", "fail")
    pids = site.place / "morkelnt.pid"
    wait_until(lambda: pids.exists() and pids.read_text().strip(), 60, "Morkelnt to start")
    assert not site.mark.exists()
    site.ups.ctl("battery", "low")
    wait_until(lambda: site.mark.exists(), 60, "the shutdown at once")
    pid = int(pids.read_text().split()[0])
    wait_until(lambda: not pathlib.Path(f"/proc/{pid}").exists(), 30, "Morkelnt to be ended")
    assert lines(pids) == [str(pid)], "started once"
    assert not (site.place / "program-ran").exists()
    assert "S02\r" in site.ups.commands()


def test_morkelnt_without_a_display_reports_nothing_closed_and_ends(tmp_path):
    env = dict(os.environ, TORVANE_HOME=str(tmp_path))
    env.pop("DISPLAY", None)
    (tmp_path / "CLOSEAPP.INI").write_text("[Main]\r\nAppNumber=1\r\nApp0=Old\r\nShowMsg=0\r\n")
    assert subprocess.run([MORKELNT, "Torvane", "2000", "for", "Windows"], env=env,
                          timeout=30).returncode == 0
    report = (tmp_path / "CLOSEAPP.INI").read_text()
    assert "AppNumber=0" in report and "ShowMsg=1" in report and "App0" not in report


def test_morkelnt_gives_up_on_a_desktop_that_hangs(tmp_path):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    script(bin_dir / "wmctrl", "exec sleep 600\n")
    env = dict(os.environ, TORVANE_HOME=str(tmp_path), DISPLAY=":99",
               PATH=f"{bin_dir}:{os.environ['PATH']}")
    started = time.monotonic()
    assert subprocess.run([MORKELNT, "Torvane 2000 for Windows"], env=env,
                          timeout=120).returncode == 0
    assert time.monotonic() - started < 60
    assert "ShowMsg=1" in (tmp_path / "CLOSEAPP.INI").read_text()


# --- warning boxes ------------------------------------------------------------------------------

def recording_tessvar(site):
    log = site.place / "tessvar.log"
    script(site.home / "Tessvar", f"printf '%s\\0' \"$*\" >> {log}\n")
    return log


def test_warning_boxes_show_the_countdown_and_the_restore(site):
    log = recording_tessvar(site)
    site.configure(acFailDelay=2, showWarnings=1, warnRepeat=600)
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: records(log), 30, "the countdown box")
    site.ups.ctl("utility", "ok")
    wait_until(lambda: RESTORED_TEXT in records(log), 30, "the restore box")
    boxes = records(log)
    assert re.fullmatch(re.escape(FAIL_TEXT) + r"\n\nTime remaining: 00:0[12]:\d\d", boxes[0])
    assert boxes[-1] == RESTORED_TEXT
    assert not site.mark.exists()


def test_no_box_at_all_with_warning_boxes_off(site):
    log = recording_tessvar(site)
    site.configure(acFailDelay=1, showWarnings=0)
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: site.mark.exists(), 60, "the shutdown after the countdown")
    site.ups.ctl("utility", "ok")
    wait_until(lambda: AC_RESTORED in site.event_ids(), 30, "the restored record")
    time.sleep(2)
    assert not log.exists()


# --- e-mail -------------------------------------------------------------------------------------

@pytest.fixture
def mail_server(tmp_path):
    proc = subprocess.Popen(["/usr/bin/python3", str(REPO / "tests" / "service" / "smtp_recorder.py"),
                             str(tmp_path)], stdin=subprocess.DEVNULL)
    try:
        port = wait_until(lambda: (tmp_path / "port").exists() and (tmp_path / "port").read_text(),
                          30, "the mail server")
        yield int(port), tmp_path / "mails.jsonl"
    finally:
        proc.terminate()
        proc.wait(30)


def test_a_utility_failure_mails_every_recipient(site, mail_server):
    port, mails = mail_server
    site.upsrec("msgtab", address0="ops@example.com;boss@example.com", address1="low@example.com")
    site.configure(acFailDelay=30, emailOn=1, mailServer=f"127.0.0.1:{port}")
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: site.event_ids().count(MAIL_SENT) == 2, 60, "two mails sent")
    sent = [json.loads(line) for line in lines(mails)]
    assert sorted(m["to"][0] for m in sent) == ["boss@example.com", "ops@example.com"]
    for m in sent:
        assert f"Subject:{FAIL_TEXT}\r\n" in m["content"]
        assert m["content"].rstrip("\r\n").endswith(" " + FAIL_TEXT)
    assert site.events()[0] == (AC_FAILURE, 2)
    assert site.events().count((MAIL_SENT, 4)) == 2


# --- pager --------------------------------------------------------------------------------------

class Modem:
    """The other end of a pseudo-terminal the agent takes for its modem's COM port."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave, termios.TCSANOW)
        self.path = os.ttyname(self.slave)
        self.seen = b""

    def read(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                break
            if not chunk:
                break
            self.seen += chunk
        return self.seen

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def test_battery_low_waits_for_the_page_before_the_shutdown(site):
    modem = Modem()
    try:
        site.extra_env["TORVANE_COM2"] = modem.path
        site.upsrec("msgtab", number1="5551234", code1="911")
        site.configure(acFailDelay=30, pagerOn=1, pagerPort=1, upsOffDelay=120)
        site.start()
        site.ups.ctl("utility", "fail")
        # Kind 0 has no number: that page fails at once and leaves the modem alone.
        wait_until(lambda: PAGER_FAILED in site.event_ids(), 30, "the failed page of kind 0")
        site.ups.ctl("battery", "low")
        wait_until(lambda: b"ATDT" in modem.read(), 30, "the dial command")
        assert modem.read().startswith(b"ate0\r")
        # The modem is given its time to dial before the machine goes down.
        assert not site.mark.exists()
        wait_until(lambda: site.mark.exists(), 90, "the shutdown after the page")
        assert modem.read() == b"ate0\rATDT5551234,,,,911\r"
        ids = site.event_ids()
        assert ids.index(BATTERY_LOW) < ids.index(PAGER_SENT) < ids.index(SYSTEM_SHUTDOWN)
    finally:
        modem.close()


# --- scheduled self-test ------------------------------------------------------------------------

def test_a_scheduled_self_test_starts_once_when_its_time_comes(site):
    # Two agent minutes from now, a one-off ten-second test.
    site.upsrec("schedule", **{"0.event": 2, "0.frequency": 0, "0.testLength": 0,
                               "0.time": int(time.time()) + 120})
    site.configure()
    site.start()
    wait_until(lambda: SELF_TEST in site.event_ids(), 60, "the self-test record")
    time.sleep(15)  # past the end of the test (real seconds at the simulator) and on
    assert site.event_ids().count(SELF_TEST) == 1
    # One test command, repeated at most the three times an unanswered command is.
    tests = [c for c in site.ups.commands() if re.fullmatch(r"T(L|\d\d)?\r", c)]
    assert tests and set(tests) == {"T\r"} and len(tests) <= 3, tests


# --- demo and SEC links -------------------------------------------------------------------------

def test_the_demo_link_replays_its_file(site):
    header = [f"demo header line {n}" for n in range(1, 10)]
    normal = "(230.0 230.0 230.0 021 50.0 2.27 25.0 00001001"
    failed = "(000.0 000.0 230.0 021 50.0 2.27 25.0 10001001"
    demo = header + ["#Stavlen         DEMO-1000  1.0       ", "skipped",
                     "#230.0 004 24.00 50.0"] + [normal] * 3 + [failed] * 40
    (site.home / "demo.txt").write_text("\r\n".join(demo) + "\r\n")
    site.configure(upsType=1, dataLogOn=1, dataLogInterval=1)
    site.start(ready=None)
    wait_until(lambda: AC_FAILURE in site.event_ids(), 60, "the AC-failure record of the demo")
    assert site.ups.commands() == [], "a demo touches no UPS"
    assert (site.home / "Torvane.dat").exists()


def test_the_sec_dialect_is_polled_and_reports_a_utility_failure():
    site = make_site(args=("--dialect", "sec"))
    try:
        site.configure(upsType=3)
        site.start(ready="^P003ST1")
        site.ups.wait_for_command("^P003VER", timeout=30)
        site.ups.ctl("utility", "fail")
        wait_until(lambda: AC_FAILURE in site.event_ids(), 30, "the AC-failure record")
        assert site.events()[0] == (AC_FAILURE, 2)
    finally:
        end_site(site)
