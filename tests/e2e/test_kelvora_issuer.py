"""`kelvora issuer` in a real terminal: in the serial mode its commands go through the daemon's
command queue to the simulated UPS; in the SNMP mode it sets the control objects on the test
agent itself. The screens are compared with the ones their row and column positions describe."""

import os
import signal
import subprocess
import time

import pytest

from kelvora_env import Daemon, binary, wait_until
from snmp_agent import UPS
from tmux_screen import Canvas, Tmux, differences

KELVORA = binary("KELVORA", "linux", "console", "kelvora")
TITLE = "(Kelvora) UPS COMMAND CENTER, Ver. 2.1"
NO_CHOICE = "\tPress the letter of your choice.\t\t\t"
PROCEED = "Press [p] to proceed, [Esc] to cancel"
SERIAL_MENU = ["[s]  10 Seconds Test\t\t\t", "[b]  Test until Battery Low\t\t",
               "[t]  Test for a Specified Time Period\t", "[c]  Cancel Test Command\t\t",
               "\t\t\t\t\t", "[n]  Shut Down UPS \t\t\t", "[a]  Cancel Shut Down Command\t\t",
               "\t\t\t\t\t", "[r]  Redraw\t\t\t\t", "[q]  Quit\t\t\t\t"]
SNMP_MENU = ["[s]  Shut Down UPS\t            [f]  Flash and Beep",
             "[c]  Cancel Shut Down Command\t    [i]  Test Indicators",
             "[o]  Turn On UPS\t\t\t\t\t", "\t\t\t\t\t\t\t", "[u]  Reboot UPS\t\t\t\t\t",
             "[l]  Put UPS to Sleep\t\t\t\t\t", "[m]  Simulate Power Fail\t\t\t\t",
             "[b]  Conserve Battery\t\t\t\t\t", "\t\t\t\t\t\t\t",
             "[d]  Diagnostic Self Test              [r]  Redraw\t",
             "[t]  Test Run Time Calibration         [q]  Quit\t"]
SLEEP_TIME = UPS + ".5.2.11.0"
SLEEP = UPS + ".6.2.3.0"
# A pass waits up to 3.3 s for a key; the SNMP mode adds its reads.
PASS = 15


@pytest.fixture
def term(root):
    opened = []

    def open_terminal(command, wrapper=()):
        # The status survives the screen, so that a test can read how the command ended.
        line = " ".join([*wrapper, command]) + "; echo rc=$?; sleep 60"
        t = Tmux(line, env=root.env())
        opened.append(t)
        return t

    yield open_terminal
    for t in opened:
        t.kill()


def frame(menu):
    c = Canvas().box(13, 79, 2, 0).box(9, 79, 15, 0)
    c.put(0, 1, TITLE)
    for i, line in enumerate(menu):
        c.put(3 + i, 6, line)
    return c.put(16, 2, NO_CHOICE)


def assert_screen(rows, expected):
    diff = differences(rows, expected.rows())
    assert not diff, "screen differs:\n" + "\n".join(diff)
    # The clock ends at column 76: "YYYY-MM-DD, HH:MM Ddd." is 22 characters.
    assert rows[1][55] == "2" and rows[1][76] == "." and rows[1][77:].strip() == "", rows[1]


def at(rows, row, col, length):
    return rows[row][col:col + length]


def ended(t):
    return t.wait_text("rc=0", PASS)


# --- serial mode ------------------------------------------------------------------------------

def test_serial_timed_test_goes_through_the_queue_to_the_ups(root, ups, running, term):
    t = term(f"{KELVORA} issuer")
    rows = t.wait_text("[q]  Quit", PASS)
    assert_screen(rows, frame(SERIAL_MENU))

    # The daemon is held while the queue is looked at, so that it cannot take the text first.
    os.kill(running.proc.pid, signal.SIGSTOP)
    try:
        t.keys("t")
        t.wait_text("Duration of Self Test", PASS)
        for _ in range(4):
            t.keys("+")
        rows = t.wait_for(lambda rows: at(rows, 17, 33, 2) == "05", PASS, "the duration 05")
        expected = frame(SERIAL_MENU).put(16, 2, "\tTest for <n> minutes.\t\t\t\t\t")
        expected.put(17, 8, "Duration of Self Test :   0 Minutes").put(17, 33, "05")
        expected.put(19, 8, "\t Press  [+] to increase,\t\t")
        expected.put(20, 8, "      \t\t[-] to decrease duration of Self Test ")
        expected.put(22, 15, PROCEED)
        assert_screen(rows, expected)
        assert root.queue_info("command")[1] == 0

        t.keys("p")
        rows = t.wait_for(lambda rows: PROCEED not in rows[22], PASS, "the command sent")
        assert_screen(rows, frame(SERIAL_MENU))
        wait_until(lambda: root.queue_info("command")[1] == 1, 5, "the command on the queue")
        text = root.receive("command", 9)
        assert text == "c05"
        root.send("command", 9, text)  # back for the daemon
    finally:
        os.kill(running.proc.pid, signal.SIGCONT)
    ups.wait_for_command("T05\r", timeout=20)

    t.keys("q")
    ended(t)


def test_serial_command_reaches_a_restarted_daemon(root, ups, running, start_daemon, term):
    t = term(f"{KELVORA} issuer")
    t.wait_text("[q]  Quit", PASS)
    t.keys("c")
    t.wait_text("Cancel Test Command.", PASS)
    t.keys("p")
    ups.wait_for_command("CT\r", timeout=30)
    # A restarted daemon removes its queues and makes new ones: the screen must write to those.
    old = root.queue("command")
    assert running.stop() == 0
    start_daemon()
    wait_until(lambda: root.queue_info("command") is not None and root.queue("command") != old,
               30, "the new daemon's command queue")
    t.keys("s")
    t.wait_text("Test for 10 seconds then return to utility.", PASS)
    t.keys("p")
    ups.wait_for_command("T\r", timeout=30)
    t.keys("q")
    ended(t)


def test_screen_ends_when_its_terminal_goes_away(root, ups, running):
    t = Tmux(f"exec {KELVORA} issuer", env=root.env())
    try:
        t.wait_text("[q]  Quit", PASS)
        pid = int(t.tmux("display-message", "-p", "-t", "s", "#{pane_pid}").stdout.strip())
    finally:
        t.kill()

    def gone():
        try:
            with open(f"/proc/{pid}/stat") as f:
                return f.read().split(") ")[-1].startswith("Z")
        except FileNotFoundError:
            return True

    wait_until(gone, 15, "the screen to end with its terminal")


def test_without_a_daemon_the_screen_does_not_open(root):
    root.write_config("/dev/null")
    root.write("vorn.ini", "")
    done = subprocess.run([KELVORA, "issuer"], env=root.env(), capture_output=True, text=True,
                          timeout=30)
    assert done.returncode == 0
    assert done.stdout == "Initialize Daemon Process first by typing [kelvora start]\n\n"
    assert root.queue_info("command") is None  # nothing was queued for nobody


# --- SNMP mode --------------------------------------------------------------------------------

@pytest.fixture
def snmp_daemon(root, agent, start_daemon):
    root.write("shutdown.ini", "true\n")
    root.write_config("/dev/null", mode=1, ip=agent.peer)
    daemon = start_daemon(wrapper=tuple(agent.netns.wrap()))
    wait_until(lambda: root.queue_info("heartbeat") is not None, 30, "the daemon's queues")
    wait_until(lambda: root.path("vorn.ini").exists(), 30, "the daemon's vorn.ini")
    return daemon


def test_snmp_sleep_sets_the_sleep_time_then_the_command(root, agent, snmp_daemon, term):
    t = term(f"{KELVORA} issuer", wrapper=agent.netns.wrap())
    rows = t.wait_text("[q]  Quit", PASS)
    assert_screen(rows, frame(SNMP_MENU))
    before = len(agent.sets())

    t.keys("l")
    t.wait_text("Duration of Sleep", PASS)
    t.keys("+")
    t.keys("+")
    rows = t.wait_for(lambda rows: at(rows, 17, 33, 2) == "03", PASS, "the duration 03")
    expected = frame(SNMP_MENU).put(16, 2, "\tPut UPS to sleep.\t\t\t\t\t")
    expected.put(17, 8, "   Duration of Sleep  :   0 Minutes").put(17, 33, "03")
    expected.put(18, 8, "\t Press  [+] to increase,\t\t")
    expected.put(19, 8, "\t\t[-] to decrease Sleep Time              ")
    expected.put(21, 5, "UPS Status (").put(21, 18, "With Utility power.")
    expected.put(21, 37, "With output power.)").put(22, 15, PROCEED)
    assert_screen(rows, expected)
    assert len(agent.sets()) == before  # nothing is set before `p`

    t.keys("p")
    rows = t.wait_text("Last Command Successful", PASS)
    assert at(rows, 22, 15, 41) == "Last Command Successful" + " " * 18
    assert agent.sets()[before:] == [(SLEEP_TIME, "integer", "3"), (SLEEP, "integer", "2")]

    t.keys("q")
    ended(t)


def test_snmp_status_line_shows_a_failed_utility(root, agent, snmp_daemon, term):
    t = term(f"{KELVORA} issuer", wrapper=agent.netns.wrap())
    t.wait_text("[q]  Quit", PASS)
    agent.ups.ctl("utility", "fail")
    t.keys("d")
    t.wait_for(lambda rows: at(rows, 21, 18, 19) == "w/o  Utility power.", PASS,
               "the failed utility on the status line")
    t.keys("Escape")
    t.wait_for(lambda rows: PROCEED not in rows[22], PASS, "the selection dropped")
    assert not any(o == UPS + ".7.2.2.0" for o, _, _ in agent.sets())
    t.keys("q")
    ended(t)


def test_snmp_mode_without_an_agent_says_so(root, start_daemon):
    # A 127 address counts as no agent at all.
    root.write("shutdown.ini", "true\n")
    root.write_config("/dev/null", mode=1, ip="127.0.0.1")
    start_daemon()
    wait_until(lambda: root.queue_info("heartbeat") is not None, 30, "the daemon's queues")
    wait_until(lambda: root.path("vorn.ini").exists(), 30, "the daemon's vorn.ini")
    done = subprocess.run([KELVORA, "issuer"], env=root.env(), capture_output=True, text=True,
                          timeout=30)
    assert done.returncode == 0
    assert done.stdout == "Error......Exiting\n"
