"""`kelvora config` in a real terminal: the editor's screen, its save to both files and the
messages that make a running daemon and a running status screen take the change."""

import os
import struct

import pytest

from kelvora_env import binary, wait_until
from tmux_screen import Canvas, Tmux, differences, standout_at

KELVORA = binary("KELVORA", "linux", "console", "kelvora")
GRID_COLS = (20, 23, 27, 30, 34, 37, 41, 44, 48, 51, 55, 58, 62, 65)
COUNTDOWN_4 = "System will be shut down in  4 Minutes! "


@pytest.fixture
def term(root):
    opened = []

    def open_terminal(command):
        t = Tmux(command, env=root.env())
        opened.append(t)
        return t

    yield open_terminal
    for t in opened:
        t.kill()


def open_config(root, term):
    t = term(f"{KELVORA} config; echo rc=$?; sleep 60")
    t.wait_text("[q] Quit.")
    return t


def editor_screen(comport, acfail=" 5.0"):
    """The whole screen of the defaults in serial mode, clock row aside."""
    c = Canvas().box(19, 79, 2, 0)
    c.put(0, 1, "(Kelvora) UPS Configuration Utility, Ver. 2.1")
    c.put(3, 9, "[d] System Shutdown Delay Time When AC Power Failed:      Min.").put(3, 62, acfail)
    c.put(4, 9, "[b] System Shutdown Delay Time When Battery Low    :      Min.").put(4, 62, " 1.0")
    c.put(5, 9, "[u] UPS Turn Off Delay Time                        :      Min.").put(5, 62, " 3.0")
    c.put(6, 9, "[v] Battery Rating Voltage(if not provided by UPS) :  --- Volt.")
    c.put(7, 9, "[c] Communication Port:").put(7, 33, comport)
    c.put(9, 9, "[n] Shutdown Count Down Display:").put(9, 42, "ON ")
    c.put(10, 9, "[l] Scheduling Function        :").put(10, 42, "OFF")
    c.put(11, 9, "[a] Turn off UPS after System Shutdown:").put(11, 49, "YES")
    c.put(12, 9, "[t] Time Scheduling(hh:mm)")
    c.put(14, 9, "            Sun.   Mon.   Tue.   Wed.   Thu.   Fri.   Sat.")
    c.put(15, 9, "Start-Up:    :      :      :      :      :      :      :  ")
    c.put(16, 9, "Shutdown:    :      :      :      :      :      :      :  ")
    for col in GRID_COLS:
        c.put(15, col, "--").put(16, col, "--")
    c.put(17, 9, "[k] <<Change UPS Monitoring>> ").put(17, 39, "Monitor UPS from local serial port")
    c.put(18, 9, "[s] Save Configuration. ")
    c.put(19, 9, "[q] Quit. ")
    c.put(21, 9, "Press the letters in brackets to select items.         ")
    c.put(22, 9, "Press [+], [-], or [i], [m] to change values.\t\t ")
    c.put(23, 9, "Press [r] to redraw screen.")
    return c


def assert_screen(rows, expected):
    rows = list(rows)
    clock = rows[1]
    assert clock[:55].strip() == "" and clock[55:66].endswith(",") and clock[76] == ".", clock
    rows[1] = expected.rows()[1]
    diff = differences(rows, expected.rows())
    assert not diff, "screen differs:\n" + "\n".join(diff)


def test_a_saved_delay_reaches_both_files_the_daemon_and_a_status_screen(root, ups, running, term):
    status = term(f"{KELVORA} status")
    status.wait_text("M O N I T O R   L O C A L")
    status.keys("Enter")
    status.wait_for(lambda rows: rows[20][26:30] == " 5.0", 20, "the status screen's AC-fail delay")

    t = open_config(root, term)
    assert_screen(t.rows(), editor_screen(ups.link))
    t.keys("d", "-")
    t.wait_for(lambda rows: rows[3][62:66] == " 4.0", 10, "the new delay")
    t.keys("s")
    rows = t.wait_text("(Save Completed!)")
    assert standout_at(t.standout_rows()[18], 35, 17)
    expected = editor_screen(ups.link, acfail=" 4.0").put(18, 35, "(Save Completed!)")
    assert_screen(rows, expected)

    # Both files, on the byte: the text file's first line and the image's first field.
    wait_until(lambda: "[4]" in (root.read("kelvora.cfg") or ""), 5, "kelvora.cfg")
    cfg = root.read("kelvora.cfg").splitlines()
    assert cfg[0] == "AC Fail Delay         ( 1 ... 1440 min. )  : [4]"
    assert cfg[1] == "Batt Low Delay        ( 1 ... 10 min.   )  : [1]"
    image = root.path("vorn.ini").read_bytes()
    assert len(image) == 232
    assert struct.unpack_from("<hh", image, 0) == (4, 1)

    status.wait_for(lambda rows: rows[20][26:30] == " 4.0", 10, "the status screen to reread")

    # The daemon took the new delay: the next failure counts down from four minutes.
    ups.ctl("utility", "fail")
    wait_until(lambda: COUNTDOWN_4 in (root.read("vornlog") or ""), 20, "a four-minute countdown")
    ups.ctl("utility", "ok")

    t.keys("q")
    t.wait_text("rc=0")


def test_quit_warns_once_about_unsaved_changes(root, term):
    root.write_config("/dev/ttyS1")
    t = open_config(root, term)
    before = root.read("kelvora.cfg")
    t.keys("n")
    t.wait_for(lambda rows: rows[9][42:45] == "OFF", 10, "the countdown off")
    t.keys("q")
    rows = t.wait_text("(Press [q] again to quit without saving!)")
    assert rows[19][19:60] == "(Press [q] again to quit without saving!)"
    assert standout_at(t.standout_rows()[19], 19, 41)
    t.keys("q")
    t.wait_text("rc=0")
    assert root.read("kelvora.cfg") == before


def test_snmp_fields_cut_on_save_and_an_address_must_start_with_a_digit(root, term):
    root.write_config("/dev/ttyS1")
    t = open_config(root, term)
    t.keys("k")
    t.wait_text("[o] Community Name   :")
    t.keys("o")
    t.type("abcdefghijklm")
    t.keys("Enter")
    t.keys("p")
    t.type("ups.example.org")
    t.keys("Enter")
    t.wait_for(lambda rows: rows[8][33:48] == "ups.example.org", 10, "the typed address")
    t.keys("s")
    t.wait_text("(Save Completed!)")
    rows = t.wait_for(lambda rows: rows[7][33:47] == "abcdefgh      ", 10, "the reread community")
    assert rows[8][33:43] == "127.0.0.1 "
    assert rows[6][9:74].strip() == "", "no battery rating in SNMP mode"
    assert rows[17][39:68] == "Monitor local UPS SNMP agent "
    cfg = root.read("kelvora.cfg").splitlines()
    assert cfg[8].endswith("[1]") and cfg[9].endswith("[127.0.0.1]") and cfg[10].endswith("[abcdefgh]")
    t.keys("q")
    t.wait_text("rc=0")


def test_the_schedule_grid_and_a_start_up_too_close_to_its_shutdown(root, term):
    root.write_config("/dev/ttyS1", schedule=1)
    t = open_config(root, term)
    t.keys("t")
    t.wait_text("[r]-right, [l]-left, [u]-up, [d]-down to move cursor.")
    # Sunday's start-up 00:00, then its shutdown 00:00: inside the three-minute turn-off delay.
    t.keys("+", "r", "+", "d", "l", "+", "r", "+")
    t.wait_for(lambda rows: rows[16][20:25] == "00:00", 10, "the shutdown cells")
    t.keys("Enter")
    rows = t.wait_text("(Start Time Too Close to Shutdown Time!)")
    assert rows[12][36:76] == "(Start Time Too Close to Shutdown Time!)"
    assert standout_at(t.standout_rows()[12], 36, 40)
    expected = editor_screen("/dev/ttyS1").put(10, 42, "ON ")
    expected.put(12, 36, "(Start Time Too Close to Shutdown Time!)")
    expected.put(15, 20, "00").put(15, 23, "00").put(16, 20, "00").put(16, 23, "00")
    expected.put(21, 9, "Press [+], [-], or [i], [m] to change values.          ")
    expected.put(22, 9, "[r]-right, [l]-left, [u]-up, [d]-down to move cursor.  ")
    expected.put(23, 9, "Press [Enter] to exit.     ")
    assert_screen(rows, expected)

    # Four minutes after the shutdown is far enough: the start-up minute goes to 04.
    t.keys("u", "+", "+", "+", "+", "Enter")
    rows = t.wait_text("Press the letters in brackets to select items.")
    assert rows[15][20:25] == "00:04"
    assert rows[12][36:76].strip() == ""
    t.keys("s")
    t.wait_text("(Save Completed!)")
    image = root.path("vorn.ini").read_bytes()
    assert struct.unpack_from("<iiii", image, 120) == (0, 4, 0, 0)
    t.keys("q")
    t.wait_text("rc=0")


def test_missing_files_and_a_save_made_elsewhere(root, term):
    # A text file written by hand and no vorn.ini yet: the pair is written from the text's values.
    root.write_config("/dev/ttyS1", acfail=7, countdown=0)
    t = open_config(root, term)
    assert root.path("vorn.ini").stat().st_size == 232
    rows = t.rows()
    assert rows[3][62:66] == " 7.0" and rows[9][42:45] == "OFF"
    assert root.read("kelvora.cfg").splitlines()[0].endswith("[7]")
    # Another administrator saves while this screen is open: the first [s] says so.
    root.write_config("/dev/ttyS9", acfail=30)
    t.keys("d", "+", "+", "s")
    t.wait_text("(Changed elsewhere! [s] overwrites)")
    assert "[30]" in root.read("kelvora.cfg")
    t.keys("s")
    t.wait_text("(Save Completed!)")
    assert root.read("kelvora.cfg").splitlines()[0].endswith("[9]"), "this screen's 7 + 2"
    t.keys("q")
    t.wait_text("rc=0")
