"""`kelvora` in a real terminal: the commands' output, and the live status screen on the UPS
simulator compared cell by cell with the screen its row and column positions describe."""

import os
import shlex
import shutil
import signal

import pytest

from kelvora_env import binary, wait_until
from tmux_screen import Canvas, Tmux, differences, standout_at

KELVORA = binary("KELVORA", "linux", "console", "kelvora")
# Called by its name through PATH, as an administrator would, so that the usage line fits a row.
PATH = f"{os.path.dirname(KELVORA)}:{os.environ.get('PATH', '/usr/bin:/bin')}"
SYSTEM = f"{os.uname().sysname}[{os.uname().nodename}]"
NOBODY = 65534
AS_NOBODY = f"setpriv --reuid={NOBODY} --regid={NOBODY} --clear-groups "
MODEL = "Stavlen         SIM-1000   1.0       "
SCALE = " |----|----|----|----|----|----|--"
LOW_FIGURES = " 70   80   90  100  110  120  130"
HIGH_FIGURES = "180  190  200  210  220  230  240"
PERCENT_FIGURES = " 0    20   40   60   80  100  120"
HERTZ_FIGURES = " 0    20   40   60   80   90  100"
# Rows and columns of the readings on the serial display.
LEFT_VALUES = {"type": (3, 23), "rating_voltage": (4, 23), "rating_current": (5, 23),
               "input_ac": (9, 23), "battery": (10, 23), "fault": (11, 23), "boost": (12, 23),
               "temperature": (13, 23), "self_test": (14, 23)}


@pytest.fixture
def term(root):
    opened = []

    def open_terminal(command="env 'PS1=$ ' bash --norc --noprofile", **env):
        t = Tmux(command, env=root.env(PATH=PATH, **env))
        opened.append(t)
        return t

    yield open_terminal
    for t in opened:
        t.kill()


def configure(root, **fields):
    """Configuration files without a daemon: the text file carries the values and the binary
    image may be empty (its fields then keep their defaults)."""
    root.write_config("/dev/null", **fields)
    if not root.path("vorn.ini").exists():
        root.write("vorn.ini", "")


def shell_output(t, line, timeout=30):
    """Runs a command line in the pane's shell; its output up to the printed exit status."""
    marker = "rc="
    t.run("clear")
    t.wait_for(lambda rows: rows[0].startswith("$") and not rows[1].strip(), 10, "a cleared pane")
    t.run(f"{line}; echo {marker}$?")
    rows = t.wait_for(lambda rows: any(r.startswith(marker) for r in rows), timeout, "the command to end")
    text = [r.rstrip() for r in rows]
    end = next(i for i, r in enumerate(text) if r.startswith(marker))
    return text[1:end], int(text[end][len(marker):])


def open_status(t, prefix=""):
    t.run(f"{prefix}kelvora status")
    t.wait_text("M O N I T O R   L O C A L")
    t.keys("Enter")
    return t.wait_text("Type 'r' to Redraw, Type 'q' to Quit.")


def at(rows, row, col, length):
    return rows[row][col:col + length]


def serial_frame(model):
    c = Canvas().box(21, 39, 2, 0).box(21, 40, 2, 39)
    c.put(0, 1, "(Kelvora) UPS Status Screen, Ver. 2.1").put(0, 42, model)
    c.put(23, 1, "System:").put(23, 9, SYSTEM).put(23, 41, "Type 'r' to Redraw, Type 'q' to Quit.")
    for row, text in [(3, "UPS Type          :"), (4, "UPS Rating Voltage:       Volt"),
                      (5, "UPS Rating Current:       Amp"), (6, "UPS Line Frequency:       Hz"),
                      (7, "Communication Port:"), (9, "   Input AC Power :"),
                      (10, "   Battery Status :"), (11, "   UPS Functioning:"),
                      (12, "   Boost/Buck     :"), (13, "   UPS Temperature:      C"),
                      (14, "   UPS Self-Test  :"), (16, "Count Down Function:"),
                      (17, "Scheduling Function:"), (18, "Next Shutdown Time : ---  --:--"),
                      (19, "Next Restart  Time : ---  --:--"), (20, "ACfail Shutdown Delay:      Min."),
                      (21, "UPS Turn Off Delay   :      Min.")]:
        c.put(row, 3, text)
    for row, text in [(3, " UPS Input Voltage:       Volt"), (4, SCALE), (5, LOW_FIGURES),
                      (7, " UPS Output Voltage:       Volt"), (8, SCALE), (9, LOW_FIGURES),
                      (11, " UPS Power Loading:    %"), (12, SCALE), (13, PERCENT_FIGURES),
                      (15, " UPS Battery Level:    %"), (16, SCALE), (17, PERCENT_FIGURES),
                      (19, " UPS Input Frequency:      Hz"), (20, SCALE), (21, HERTZ_FIGURES)]:
        c.put(row, 42, text)
    for row, col, text in [(16, 24, "ON "), (17, 24, "OFF"), (20, 26, " 5.0"), (21, 26, " 3.0")]:
        c.put(row, col, text)
    return c


def assert_screen(actual, expected):
    diff = differences(actual, expected.rows())
    assert not diff, "screen differs:\n" + "\n".join(diff)


# --- the commands in a terminal -----------------------------------------------------------

@pytest.mark.parametrize("args,first", [("", "One argument needed!"),
                                        (" start stop", "Too many arguments!"),
                                        (" restart", "Argument error!")])
def test_wrong_arguments_show_the_usage(term, args, first):
    t = term()
    lines, rc = shell_output(t, "kelvora" + args)
    assert rc == 1
    assert lines == [first, "Usage: kelvora [start|stop|config|status|issuer|help]", "",
                     "  kelvora start   - Start the Daemon process",
                     "  kelvora stop    - Terminate Resident Daemon process",
                     "  kelvora config  - Modify Time Settings",
                     "  kelvora status  - Monitor UPS status",
                     "  kelvora issuer  - Send Commands to the UPS",
                     "  kelvora help    - Display Online User Manual"]


def test_start_twice_then_stop(root, ups, term):
    shutil.copy(binary("VORND", "linux", "daemon", "vornd"), root.path("vornd"))
    root.write("shutdown.ini", "true\n")
    root.write_config(ups.link)
    t = term()
    try:
        # The daemon it starts keeps the terminal as its output: send that to a file.
        assert shell_output(t, f"kelvora start >{root.dir.parent / 'daemon.out'} 2>&1") == ([], 0)
        ups.wait_for_command("F\r", timeout=30)
        lines, rc = shell_output(t, "kelvora start")
        assert (lines, rc) == (["<Kelvora> is currently running!"], 0)
        assert shell_output(t, "kelvora stop") == ([], 0)
        wait_until(lambda: root.queue_info("heartbeat") is None, 30, "the daemon to stop")
    finally:
        if root.queue_info("control") is not None:
            root.send("control", 5, "100")


def test_an_ordinary_user_may_watch_but_not_start(root, running, term):
    if os.geteuid() != 0:
        pytest.skip("needs root to act as another user")
    t = term()
    lines, rc = shell_output(t, AS_NOBODY + "kelvora start")
    assert (lines, rc) == (["", f"Sorry. You must login as super-user to run this program "
                                f"(User ID: {NOBODY})!!"], 0)
    open_status(t, AS_NOBODY)
    rows = t.wait_for(lambda rows: at(rows, 3, 62, 5) == "230.0", 20, "the input voltage")
    assert at(rows, 0, 42, 37) == MODEL
    t.keys("q")
    t.wait_for(lambda rows: any(r.startswith("$ ") and "status" not in r for r in rows[1:]), 10,
               "the prompt")


# --- the status screen --------------------------------------------------------------------

def test_the_serial_display_shows_every_value_in_its_place(root, ups, running, term):
    ups.ctl("set", "input", "110.0")
    ups.ctl("set", "battery", "26.0")
    wait_until(lambda: (root.read("kelvora.q1") or "").startswith("(110.0"), 20, "the new readings")
    t = term()
    open_status(t)
    rows = t.wait_for(lambda rows: at(rows, 3, 62, 5) == "110.0" and MODEL in rows[0], 20, "the readings")

    c = serial_frame(MODEL)
    c.put(3, 23, "Standby").put(4, 23, "230.0").put(5, 23, "  4")
    c.put(6, 23, " " * 8).put(6, 24, "50.0").put(6, 29, "Hz")
    c.put(7, 23, ups.link[:15])
    c.put(9, 23, "Normal  ").put(10, 23, "Normal  ").put(11, 23, "Normal").put(12, 23, "OFF")
    c.put(13, 23, "25.0").put(14, 23, "Stop       ")
    c.put(18, 24, "---  --:--").put(19, 24, "---  --:--")
    c.put(3, 62, "110.0").put(4, 43, " " * 21)                      # (110 - 70) / 2 + 1
    c.put(7, 63, "230.0").put(8, 43, " " * 26).put(9, 42, HIGH_FIGURES)  # (230 - 180) / 2 + 1
    c.put(11, 62, " 21").put(12, 43, " " * 6)
    c.put(15, 62, " 88").put(16, 43, " " * 23)  # 26.0 V on a 24 V standby battery
    c.put(19, 64, "50.0").put(20, 43, " " * 13)
    assert_screen(rows, c)

    raw = t.standout_rows()
    for row, cells in [(4, 21), (8, 26), (12, 6), (16, 23), (20, 13)]:
        assert standout_at(raw[row], 43, cells), f"bar on row {row}"
        assert not standout_at(raw[row], 43 + cells, 1), f"bar on row {row} too long"
    assert not standout_at(raw[9], 23, 8)


def test_a_utility_failure_blinks_and_shows_the_banner(root, ups, running, term):
    t = term()
    open_status(t)
    t.wait_for(lambda rows: at(rows, 9, 23, 8) == "Normal  ", 20, "a normal input")
    assert at(t.rows(), 15, 4, 32).strip() == ""
    ups.ctl("utility", "fail")
    rows = t.wait_for(lambda rows: at(rows, 9, 23, 8) == "AC FAILS", 20, "AC FAILS")
    rows = t.wait_for(lambda rows: at(rows, 15, 4, 32) == "<<System is About to Shut Down>>", 20,
                      "the banner")
    # Blinking: in standout on every other pass, so within a few passes both phases are seen.
    phases = set()
    wait_until(lambda: phases.add(standout_at(t.standout_rows()[9], 23, 8)) or len(phases) == 2, 20,
               "AC FAILS in standout and plain", interval=0.3)
    ups.ctl("utility", "ok")
    t.wait_for(lambda rows: at(rows, 9, 23, 8) == "Normal  " and not at(rows, 15, 4, 32).strip(), 20,
               "the alarm to clear")


def test_a_blanked_status_file_shows_na(root, ups, running, term):
    t = term()
    open_status(t)
    t.wait_for(lambda rows: at(rows, 3, 62, 5) == "230.0", 20, "the readings")
    ups.ctl("reply", "silent")
    wait_until(lambda: root.read("kelvora.q1") == " " * 49, 30, "the daemon to blank the status file")
    rows = t.wait_for(lambda rows: at(rows, 3, 62, 3) == "N/A", 20, "N/A")
    for name, (row, col) in LEFT_VALUES.items():
        if name in ("rating_voltage", "rating_current"):
            continue  # the rating file is not blanked while the UPS is silent
        assert at(rows, row, col, 3) == "N/A", name
    assert at(rows, 13, 26, 3) == "   "  # the unit "C" is wiped
    for row, col in [(3, 62), (7, 63), (11, 62), (15, 62), (19, 64)]:
        assert at(rows, row, col, 3) == "N/A", (row, col)
    assert at(rows, 3, 65, 7) == " " * 7  # "Volt" is wiped
    raw = t.standout_rows()
    for row in (4, 8, 12, 16, 20):
        assert not standout_at(raw[row], 43, 1), f"no bar on row {row}"
    ups.ctl("reply", "normal")
    t.wait_for(lambda rows: at(rows, 3, 62, 5) == "230.0", 40, "the readings to come back")


def test_garbage_in_the_status_file_shows_na(root, term):
    configure(root)
    root.path("kelvora.q1").write_bytes(b"(2\x1b[2J\x07 \xff\xfe 229.8 0\x1b\x08 50.1 1.\x9b 25.0 0\x0e00x000\r")
    root.path("kelvora.mdl").write_bytes(b"#\x1b[31mred\x1b]0;title\x07\r")
    t = term()
    rows = open_status(t)
    rows = t.wait_for(lambda rows: at(rows, 19, 64, 4) == "50.1", 20, "the one good reading")
    assert at(rows, 3, 62, 3) == "N/A"
    assert at(rows, 11, 62, 3) == "N/A"
    assert at(rows, 9, 23, 3) == "N/A"
    assert at(rows, 7, 63, 5) == "229.8"
    assert at(rows, 0, 42, 13) == " [31mred ]0;t"
    # The frame is intact: no byte of the file moved the cursor or cleared anything.
    for row in range(3, 22):
        assert rows[row][0] == "|" and rows[row][38] == "|" and rows[row][39] == "|" and rows[row][78] == "|"


def test_a_configuration_change_on_the_redraw_queue_shows_at_once(root, term):
    configure(root)
    t = term()
    open_status(t)
    t.wait_for(lambda rows: at(rows, 20, 26, 4) == " 5.0", 20, "the AC-fail delay")
    configure(root, acfail=120, countdown=0)
    root.send("redraw", 5, "010")
    rows = t.wait_for(lambda rows: at(rows, 20, 26, 4) == " 120", 10, "the new AC-fail delay")
    assert at(rows, 16, 24, 3) == "OFF"


def test_quits_on_q_only_and_leaves_the_terminal_sane(root, term):
    configure(root)
    t = term()
    open_status(t)
    t.keys("C-c")
    t.keys("C-\\")
    t.wait_text("Type 'r' to Redraw, Type 'q' to Quit.")
    t.tmux("send-keys", "-t", "s", "r")  # a redraw on the way, and still on screen afterwards
    rows = t.wait_text("Type 'r' to Redraw, Type 'q' to Quit.")
    assert "ACfail Shutdown Delay" in rows[20]
    t.keys("q")
    lines, rc = shell_output(t, "stty -a")
    settings = " ".join(lines).replace(";", " ").split()
    assert rc == 0
    for flag in ("icanon", "echo", "isig", "icrnl"):
        assert flag in settings and f"-{flag}" not in settings, flag
    assert settings[settings.index("min") + 2] == "1"


def test_without_a_configuration_it_says_so_and_ends(root, term):
    t = term()
    t.run("kelvora status")
    t.wait_text("M O N I T O R   L O C A L")
    t.keys("Enter")
    t.wait_text(f"{root.path('vorn.ini')} not found!")


def test_the_remote_display_shows_no_data_for_now(root, term):
    configure(root)
    t = term()
    t.run("kelvora status")
    t.wait_text("M O N I T O R   R E M O T E")
    t.keys("i")  # nothing to edit while the local UPS is selected
    t.type("9")
    t.keys("r")
    t.wait_text("[i] IP Address     : 127.0.0.1")
    t.keys("i")
    t.type("abc")
    t.keys("Enter")
    rows = t.wait_text("[i] IP Address     : 127.0.0.1")
    t.keys("i")
    t.type("10.0.0.7")
    t.keys("BSpace")
    t.type("8")
    t.keys("Enter")
    t.wait_text("[i] IP Address     : 10.0.0.8")
    t.keys("c")
    t.type("x" * 25)
    t.keys("Enter")
    rows = t.wait_text("[c] Community Name : " + "x" * 19)
    assert "x" * 20 not in rows[16]
    t.keys("Enter")
    rows = t.wait_text("Ip Address       :")
    assert at(rows, 3, 23, 8) == "10.0.0.8"
    assert at(rows, 4, 23, 19) == "x" * 19
    for row in (5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16):
        assert at(rows, row, 25, 3) == "N/A", row
    t.keys("q")
    t.wait_for(lambda rows: rows[-1].strip() == "" and any(r.startswith("$ ") for r in rows[1:]), 10,
               "the prompt")


def process_gone(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def test_a_hung_up_terminal_ends_the_screen(root, term):
    configure(root)
    t = term("exec kelvora status")
    t.wait_text("M O N I T O R   L O C A L")
    t.keys("Enter")
    t.wait_text("Type 'r' to Redraw, Type 'q' to Quit.")
    pid = int(t.tmux("list-panes", "-t", "s", "-F", "#{pane_pid}").stdout.strip())
    t.kill()  # the pane's terminal goes away; SIGHUP itself is ignored by the screen
    try:
        wait_until(lambda: process_gone(pid), 15, "the screen to end")
    finally:
        if not process_gone(pid):
            os.kill(pid, signal.SIGKILL)


def test_input_that_is_no_terminal_ends_the_screen(root, term):
    configure(root)
    t = term()
    lines, rc = shell_output(t, "kelvora status </dev/null >/dev/null", timeout=10)
    assert (lines, rc) == ([], 0)
