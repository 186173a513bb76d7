"""A status screen that outlives the daemon's queues: the daemon removes its queues when it
stops and makes new ones when it starts, and replaces any that an ordinary user's screen made
before it. A configuration change announced on the new redraw queue must still reach a screen
that was open all along, at once and not only at the screen's periodic re-read."""

import os

import pytest

from kelvora_env import binary, wait_until
from tmux_screen import Tmux

KELVORA = binary("KELVORA", "linux", "console", "kelvora")
PATH = f"{os.path.dirname(KELVORA)}:{os.environ.get('PATH', '/usr/bin:/bin')}"
NOBODY = 65534
AS_NOBODY = f"setpriv --reuid={NOBODY} --regid={NOBODY} --clear-groups "
# Well within two passes of the screen; its periodic re-read comes only every twelve (about 40 s).
AT_ONCE = 8
ACFAIL = (20, 26, 4)  # row, column and width of the AC-fail delay


@pytest.fixture
def term(root):
    opened = []

    def open_terminal():
        t = Tmux("env 'PS1=$ ' bash --norc --noprofile", env=root.env(PATH=PATH))
        opened.append(t)
        return t

    yield open_terminal
    for t in opened:
        t.kill()


def open_status(t, prefix=""):
    t.run(f"{prefix}kelvora status")
    t.wait_text("M O N I T O R   L O C A L")
    t.keys("Enter")
    t.wait_text("Type 'r' to Redraw, Type 'q' to Quit.")


def acfail(rows):
    row, col, width = ACFAIL
    return rows[row][col:col + width]


def daemon_started(root, start_daemon, starts):
    """Starts a daemon and waits until its queues are made and emptied (the `starts`-th time
    in this root): what is sent before that could be emptied with them."""
    daemon = start_daemon()
    wait_until(lambda: root.output().count("Initial Config Complete") == starts, 20,
               "the daemon to make its queues")
    return daemon


def assert_changes_show_at_once(root, ups, t):
    """Two changes, each announced on the redraw queue. Both must show within AT_ONCE seconds:
    the screen's periodic re-read could explain one of them, never both."""
    for minutes, shown in ((120, " 120"), (30, "30.0")):
        root.write_config(ups.link, acfail=minutes)
        root.send("redraw", 5, "010")
        t.wait_for(lambda rows: acfail(rows) == shown, AT_ONCE,
                   f"the AC-fail delay {shown!r}")


def test_a_screen_open_across_a_restart_shows_a_change_at_once(root, ups, running, start_daemon,
                                                                term):
    t = term()
    open_status(t)
    t.wait_for(lambda rows: acfail(rows) == " 5.0", 20, "the AC-fail delay")
    old_redraw = root.queue("redraw")

    assert running.stop(30) == 0
    daemon_started(root, start_daemon, starts=2)
    assert root.queue("redraw") != old_redraw  # the old queue is gone with the old daemon
    assert_changes_show_at_once(root, ups, t)
    assert t.pane_alive()


def test_an_ordinary_users_screen_follows_the_daemons_queues(root, ups, start_daemon, term):
    if os.geteuid() != 0:
        pytest.skip("needs root to act as another user")
    root.write("shutdown.ini", "true\n")
    root.write_config(ups.link)
    root.write("vorn.ini", "")  # the text file carries the values
    t = term()
    open_status(t, AS_NOBODY)
    t.wait_for(lambda rows: acfail(rows) == " 5.0", 20, "the AC-fail delay")
    assert root.queue_info("redraw")[2] == NOBODY  # no daemon yet: the screen made the queues

    daemon_started(root, start_daemon, starts=1)
    assert root.queue_info("redraw")[2] == 0  # the daemon's own in their place
    assert_changes_show_at_once(root, ups, t)
