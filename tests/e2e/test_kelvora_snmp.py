"""`kelvora status` on a UPS behind its SNMP agent: Debian's snmpd serving the simulated UPS in
a network namespace of the test's own, the console running in that namespace under tmux. The
remote display (agent typed in the menu) and the local display in SNMP mode (the agent in
kelvora.cfg, a vornd watching it) are compared with the screens their positions describe.

Each main-page pass waits three seconds by design, so the tests keep their passes few."""

import os
import time

import pytest

from kelvora_env import Daemon, binary, wait_until
from snmp_agent import UPS, Agent
from tmux_screen import Canvas, Tmux, differences, standout_at

KELVORA = binary("KELVORA", "linux", "console", "kelvora")
SYSTEM = f"{os.uname().sysname}[{os.uname().nodename}]"
SCALE = " |----|----|----|----|----|----|--"
LOW_FIGURES = " 70   80   90  100  110  120  130"
HIGH_FIGURES = "180  190  200  210  220  230  240"
PERCENT_FIGURES = " 0    20   40   60   80  100  120"
HERTZ_FIGURES = " 0    20   40   60   80   90  100"
MAIN_HINT = "[r]-Redraw, [m]-More, [q]-Quit"
MORE_HINT = "[r]-Redraw, [b]-Back, [q]-Quit"
NO_DATA_HINT = "Type 'r' to Redraw, Type 'q' to Quit."
BANNER = "<<System is About to Shut Down>>"
NA = "N/A         "

MODEL = UPS + ".1.1.1.0"
NAME = UPS + ".1.1.2.0"
TEMPERATURE = UPS + ".2.2.3.0"
LINE_VOLTAGE = UPS + ".3.2.1.0"
FAILURE_CAUSE = UPS + ".3.2.5.0"
LOAD = UPS + ".4.2.3.0"

# A pass lasts the 3-second pause plus up to 3.3 s of key wait; a silent agent adds the
# library's time-out (6 s a read). These leave room for two or three passes.
PASS = 20
SILENCE = 45


def at(rows, row, col, length):
    return rows[row][col:col + length]


def main_page(rows):
    return rows[23].rstrip().endswith(MAIN_HINT)


def no_data(rows):
    return rows[23].rstrip().endswith(NO_DATA_HINT) and at(rows, 3, 62, 12) == NA


@pytest.fixture
def screen(root, agent):
    """kelvora status in an 80 x 24 pane inside the agent's namespace."""
    if not root.path("vorn.ini").exists():
        root.write("vorn.ini", "")
    opened = []

    def open_screen():
        command = " ".join([*agent.netns.wrap(), KELVORA, "status"]) + "; sleep 60"
        t = Tmux(command, env=root.env())
        opened.append(t)
        t.wait_text("M O N I T O R   L O C A L")
        return t

    yield open_screen
    for t in opened:
        t.kill()


def open_remote(t, address, community="gazers"):
    t.keys("r")
    t.keys("i")
    t.type(address)
    t.keys("Enter")
    t.keys("c")
    t.type(community)
    t.keys("Enter")
    t.keys("Enter")


def expected_main_page(address, community):
    """The remote main page of the simulated UPS on a 230 V line, everything normal."""
    c = Canvas().box(21, 39, 2, 0).box(21, 40, 2, 39)
    c.put(0, 1, "(Kelvora) UPS Status Screen, Ver. 2.1").put(0, 42, '"Stavlen""SIM-1000"')
    c.put(23, 1, "System:").put(23, 9, SYSTEM).put(23, 41, MAIN_HINT)
    labels = ["Ip Address       :", "Community Name   :", "     Input AC Power :",
              "     Battery Status :", "     Boost/Buck     :", "     UPS Temperature:",
              "     UPS Self-Test  :", " " * 21, "Time on Battery     :", "Battery Voltage     :",
              "Rating Voltage      :", "Last Spike          :", "Last Sag            :",
              "Last Failure Cause  :", "\t\t\t      ", "Next Shutdown Time :",
              "Next Restart Time  :", "ACfail Shutdown Delay:      Min.",
              "UPS Turn Off Delay   :      Min."]
    for i, label in enumerate(labels):
        c.put(3 + i, 3, label)
    c.put(3, 23, address).put(4, 23, community)
    for row, text in [(5, "Normal  "), (6, "Normal  "), (7, "OFF"), (8, "25.0 C "),
                      (9, "Stop       "), (11, "     0 Sec."), (12, "2.3 Volts"),
                      (13, "24.0 Volts"), (14, "230.0 Volts"), (15, "230.0 Volts"),
                      (16, "no transfer ")]:
        c.put(row, 25, text)
    c.put(18, 24, "---  --:--").put(19, 24, "---  --:--")
    for row, text in [(3, " UPS Input Voltage:       Volt"), (4, SCALE), (5, HIGH_FIGURES),
                      (7, " UPS Output Voltage:       Volt"), (8, SCALE), (9, HIGH_FIGURES),
                      (11, " UPS Power Loading:    %"), (12, SCALE), (13, PERCENT_FIGURES),
                      (15, " UPS Battery Level:    %"), (16, SCALE), (17, PERCENT_FIGURES),
                      (19, " UPS Input Frequency:      Hz"), (20, SCALE), (21, HERTZ_FIGURES)]:
        c.put(row, 42, text)
    c.put(3, 62, "230.0").put(7, 63, "230.0").put(11, 62, " 21").put(15, 62, "100")
    c.put(19, 64, "50.0")
    for row, cells in BARS.items():
        c.put(row, 43, " " * cells)
    return c


# (230 - 180) / 2 + 1 for the voltages, 21 / 4 + 1 for the load, 100 / 4 + 1 for the battery
# and 50 / 4 + 1 for the frequency.
BARS = {4: 26, 8: 26, 12: 6, 16: 26, 20: 13}


def assert_screen(actual, expected):
    diff = differences(actual, expected.rows())
    assert not diff, "screen differs:\n" + "\n".join(diff)


def assert_bars(t, bars):
    raw = t.standout_rows()
    for row, cells in bars.items():
        assert standout_at(raw[row], 43, cells), f"bar on row {row}"
        assert not standout_at(raw[row], 43 + cells, 1), f"bar on row {row} too long"


def assert_frame_intact(rows):
    for row in range(3, 22):
        assert (rows[row][0], rows[row][38], rows[row][39], rows[row][78]) == ("|",) * 4, row
    assert rows[22] == "+" + "-" * 37 + "++" + "-" * 38 + "+ "


# --- the remote display -------------------------------------------------------------------

def test_remote_display_shows_the_agents_ups_and_its_more_page(agent, screen):
    t = screen()
    open_remote(t, agent.peer)
    rows = t.wait_for(lambda rows: main_page(rows) and at(rows, 3, 62, 5) == "230.0", PASS,
                      "the main page")
    assert_screen(rows, expected_main_page(agent.peer, "gazers"))
    assert_bars(t, BARS)

    # 'm' opens the snapshot of what the agent has: the system group above the frame, the
    # rest in two columns under it, the fourth item below the right column.
    t.keys("m")
    rows = t.wait_for(lambda rows: rows[23].rstrip().endswith(MORE_HINT), PASS, "the more page")
    assert at(rows, 3, 2, 52) == 'System Contact    : "Kelvora tests <root@localhost>"'
    assert at(rows, 4, 2, 30) == 'System Name       : "upsagent"'
    assert at(rows, 5, 2, 32) == 'System Location   : "test bench"'
    assert rows[6] == "+" + "-" * 77 + "+ "
    assert at(rows, 7, 2, 32) == 'Date Made         : "03/18/2024"'
    assert at(rows, 8, 2, 34) == 'Serial #          : "KV2403180001"'
    assert at(rows, 21, 2, 21) == "Min. Ret. Cap.    : 0"
    assert at(rows, 7, 42, 21) == "Sensitivity       : 2"
    assert at(rows, 13, 42, 32) == 'Calib. Date       : "03/18/2024"'
    assert at(rows, 14, 42, 25) == 'Firmware rev.     : "1.0"'
    assert rows[15][40:78].strip() == ""

    t.keys("b")
    rows = t.wait_for(lambda rows: main_page(rows) and at(rows, 3, 62, 5) == "230.0", PASS,
                      "the main page again")
    assert at(rows, 16, 25, 12) == "no transfer "


def test_remote_display_blinks_a_failure_without_a_banner_and_outlives_its_agent(agent, screen):
    t = screen()
    open_remote(t, agent.peer)
    t.wait_for(main_page, PASS, "the main page")
    agent.ups.ctl("utility", "fail")
    rows = t.wait_for(lambda rows: at(rows, 5, 25, 8) == "AC FAILS", PASS, "AC FAILS")
    assert at(rows, 3, 62, 5) == "0.0  "

    # In standout on every other pass; the remote display never warns of this machine's
    # shutdown, whatever the UPS says.
    phases = set()

    def both_phases():
        raw = t.standout_rows()
        rows = t.rows()
        assert at(rows, 17, 4, 32).strip() == "", "a banner on the remote display"
        if at(rows, 5, 25, 8) == "AC FAILS":
            phases.add(standout_at(raw[5], 25, 8))
        return len(phases) == 2

    wait_until(both_phases, 2 * PASS, "AC FAILS in both blink phases", interval=0.3)

    agent.stop()
    rows = t.wait_for(no_data, SILENCE, "the no-data screen")
    for row in (5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16):
        assert at(rows, row, 25, 12) == NA, row
    assert at(rows, 3, 23, len(agent.peer)) == agent.peer
    agent.start()
    # The first pass with data again rereads every row, the slow ones too.
    rows = t.wait_for(lambda rows: main_page(rows) and at(rows, 8, 25, 7) == "25.0 C ", SILENCE,
                      "data again")
    assert at(rows, 5, 25, 8) == "AC FAILS"
    assert at(rows, 16, 25, 12) != NA


def test_a_hostile_agent_stays_inside_the_frame(agent, screen):
    agent.override(NAME, "string", "x" * 2000)
    agent.override(MODEL, "string", "y" * 2000)
    agent.override(TEMPERATURE, "string", "hot")      # a string where a number belongs
    agent.override(FAILURE_CAUSE, "NONE")             # an object the agent does not have
    agent.override(LOAD, "integer", "2147483647")
    t = screen()
    open_remote(t, agent.peer)
    rows = t.wait_for(lambda rows: main_page(rows) and at(rows, 3, 62, 5) == "230.0", PASS,
                      "the main page")
    assert at(rows, 0, 42, 38) == '"' + "x" * 37
    assert "x" not in rows[1] and "y" not in rows[1]
    assert at(rows, 8, 25, 12) == NA
    assert at(rows, 16, 25, 12) == NA
    assert at(rows, 11, 62, 10) == "2147483647"
    assert_frame_intact(rows)
    assert_bars(t, {12: 32})  # the load's bar stops at the meter's end

    # A line voltage of the wrong type is no line voltage: no data at all.
    agent.override(LINE_VOLTAGE, "string", "2300")
    t.wait_for(no_data, PASS, "the no-data screen")
    agent.clear_overrides()
    rows = t.wait_for(lambda rows: main_page(rows) and at(rows, 16, 25, 12) == "no transfer ",
                      PASS, "data again")
    assert at(rows, 0, 42, 38).rstrip() == '"Stavlen""SIM-1000"'


class _Loopback:
    """The agent's namespace seen at its loopback address."""

    def __init__(self, netns):
        self.name, self.address, self.wrap = netns.name, "127.0.0.1", netns.wrap


def test_an_agent_at_a_127_address_is_never_asked(agent, screen, tmp_path):
    # A real agent answers there, so only the address rule keeps the display from it.
    with Agent(_Loopback(agent.netns), agent.ups, tmp_path / "loopback", port=16161) as local:
        assert local.get(LINE_VOLTAGE) == "2300"
        t = screen()
        open_remote(t, "127.0.0.1:16161")
        rows = t.wait_for(no_data, PASS, "the no-data screen")
        assert at(rows, 3, 23, 15) == "127.0.0.1:16161"
        deadline = time.monotonic() + 10  # three passes or so
        while time.monotonic() < deadline:
            assert not main_page(t.rows()), "data from an agent at a 127 address"
            time.sleep(0.5)


# --- the local display in SNMP mode -------------------------------------------------------

def test_local_snmp_mode_follows_daemon_configuration_and_mode(root, agent, screen):
    root.write("shutdown.ini", "true\n")
    root.write_config("/dev/null", mode=1, ip=agent.peer)
    daemon = Daemon(root, wrapper=tuple(agent.netns.wrap()))
    try:
        wait_until(lambda: root.queue_info("heartbeat") is not None, 30, "the daemon's queues")
        t = screen()
        t.keys("Enter")
        rows = t.wait_for(lambda rows: main_page(rows) and at(rows, 3, 62, 5) == "230.0", PASS,
                          "the main page")
        assert at(rows, 3, 23, len(agent.peer)) == agent.peer
        assert at(rows, 4, 23, 6) == "gazers"
        assert at(rows, 20, 26, 4) == " 5.0" and at(rows, 21, 26, 4) == " 3.0"
        assert at(rows, 17, 4, 32).strip() == ""

        # Locally a failure is this machine's business: the banner blinks with it.
        agent.ups.ctl("utility", "fail")
        t.wait_for(lambda rows: at(rows, 5, 25, 8) == "AC FAILS" and at(rows, 17, 4, 32) == BANNER,
                   PASS, "AC FAILS with the banner")
        agent.ups.ctl("utility", "ok")
        t.wait_for(lambda rows: at(rows, 5, 25, 8) == "Normal  " and at(rows, 17, 4, 32).strip() == "",
                   PASS, "the utility back")

        # A changed agent address reaches the screen through the redraw queue: a 127 address
        # is no agent, and the old address brings the data back. The screen takes one message
        # a pass: the daemon's redraw requests after its warnings go first.
        wait_until(lambda: root.queue_info("redraw")[1] == 0, 3 * PASS, "an empty redraw queue")
        root.write_config("/dev/null", mode=1, ip="127.0.0.1")
        root.send("redraw", 5, "010")
        rows = t.wait_for(lambda rows: no_data(rows) and at(rows, 3, 23, 10) == "127.0.0.1 ",
                          PASS, "no data from 127.0.0.1")
        root.write_config("/dev/null", mode=1, ip=agent.peer)
        root.send("redraw", 5, "010")
        t.wait_for(lambda rows: main_page(rows) and at(rows, 8, 25, 7) == "25.0 C ", PASS,
                   "data from the agent again")

        # Without the daemon there is nothing to show, though the agent answers.
        assert daemon.stop() == 0
        t.wait_for(no_data, PASS, "the no-data screen without the daemon")
        assert agent.get(LINE_VOLTAGE) == "2300"

        # Back to the serial mode: its display, without the SNMP model text.
        root.write_config("/dev/null", mode=0, ip=agent.peer)
        root.send("redraw", 5, "010")
        rows = t.wait_for(lambda rows: at(rows, 3, 3, 19) == "UPS Type          :", PASS,
                          "the serial display")
        assert rows[0][42:].strip() == ""
    finally:
        daemon.kill()
