"""`kelvora help` in a real 80 x 24 terminal with the real manual copied into the root: every
screen of a walk through the tree compared whole, cell by cell, with the screen that the row
and column positions describe."""

import os
import re
import shutil
import time

import pytest

from kelvora_env import REPO, binary
from tmux_screen import Canvas, Tmux, differences

KELVORA = binary("KELVORA", "linux", "console", "kelvora")
PATH = f"{os.path.dirname(KELVORA)}:{os.environ.get('PATH', '/usr/bin:/bin')}"
MANUAL = REPO / "linux" / "help"
NOBODY = 65534
TITLE = "(Kelvora) UPS ONLINE HELP, Ver. 2.1"
CLOCK = re.compile(r"\d{4}-\d\d-\d\d, \d\d:\d\d (Sun|Mon|Tue|Wed|Thu|Fri|Sat)\.")

B_CONTENTS = ("Press the corresponding letters or numbers to know more about the",
              "      topics listed on your screen.                              ",
              "Press [q] to quit                                                ")
B_INTRO = ("Press the corresponding numbers to know more about the topics    ",
           "      listed on your screen.                                     ",
           "Press [q] to quit,  [p] for Previous Menu                        ")
B_TEXT = (" \t[n] - Next Page       \t\t\t\t          ",
          "\t[p] - Previous Page                                       ",
          "\t[q] - Quit \t\t                                  ")
LP_TEXT = (" \t\t\t      \t\t\t\t\t  ",
           "\t[p] - Previous Page                                       ",
           "\t[q] - Quit \t\t                                  ")


@pytest.fixture
def term(root):
    opened = []

    def open_terminal(**env):
        t = Tmux("env 'PS1=$ ' bash --norc --noprofile", env=root.env(PATH=PATH, **env))
        opened.append(t)
        return t

    yield open_terminal
    for t in opened:
        t.kill()


@pytest.fixture
def manual(root):
    """The real manual, as scripts/demo and the install rule put it: <root>/help/*.txt."""
    help_dir = root.path("help")
    help_dir.mkdir(mode=0o755)
    for f in MANUAL.glob("*.txt"):
        shutil.copy(f, help_dir / f.name)
    return help_dir


def pages(path):
    """The pages of 17 lines the viewer shows for a manual file (its lines all fit a slot)."""
    lines = path.read_text().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    assert all(len(line) <= 74 for line in lines), path
    out = [lines[i:i + 17] for i in range(0, len(lines), 17)] or [[]]
    if len(lines) % 17 == 16:
        out.append([])  # the read that met the end of file filled the 17th slot
    return out


def screen(lines, footer):
    c = Canvas()
    for i, line in enumerate(lines):
        c.put(3 + i, 3, line)
    c.put(0, 1, TITLE)
    for i, text in enumerate(footer):
        c.put(21 + i, 9, text)
    c.box(19, 79, 2, 0)
    return c


def clock_ok(row):
    """The clock alone on row 1, its last character at column 76 (it starts at 77 - length)."""
    m = CLOCK.search(row)
    return m is not None and m.end() == 77 and not row[:m.start()].strip() and not row[77:].strip()


def expect(t, expected, what, timeout=15):
    """Waits until the pane shows exactly `expected` (clock row apart, checked on its own)."""
    want = expected.rows()
    deadline = time.monotonic() + timeout
    while True:
        rows = t.rows()
        diff = differences(rows, want)
        if not diff and clock_ok(rows[1]):
            return rows
        if time.monotonic() > deadline:
            if not clock_ok(rows[1]):
                diff.append(f"row  1: clock not in place: [{rows[1].rstrip()}]")
            raise AssertionError(f"{what}: screen differs:\n" + "\n".join(diff))
        time.sleep(0.2)


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


def start_help(t, prefix=""):
    t.run("clear")
    t.wait_for(lambda rows: rows[0].startswith("$") and not rows[1].strip(), 10, "a cleared pane")
    t.run(f"{prefix}kelvora help; echo rc=$?")


def wait_exit(t, timeout=15):
    rows = t.wait_for(lambda rows: any(r.startswith("rc=") for r in rows), timeout, "kelvora to end")
    return next(int(r.strip()[3:]) for r in rows if r.startswith("rc="))


def contents(manual):
    return screen(pages(manual / "textroot.txt")[0], B_CONTENTS)


# --- the walk through the tree -------------------------------------------------------------

def test_the_contents_screen_whole(root, manual, term):
    t = term()
    start_help(t)
    rows = expect(t, contents(manual), "the contents")
    # The frame stands over rows 2 to 20 and the footer below it: spot checks of the layout
    # that the whole-screen comparison above already covers.
    assert rows[2] == "+" + "-" * 77 + "+ "
    assert rows[20] == "+" + "-" * 77 + "+ "
    assert rows[0].startswith(" " + TITLE)
    t.keys("q")
    assert wait_exit(t) == 0


def test_walk_down_to_a_text_page_through_it_and_back(root, manual, term):
    text1_3 = pages(manual / "text1_3.txt")
    assert len(text1_3) >= 2, "text1_3.txt must have more than one page for this walk"
    last = len(text1_3) - 1
    t = term()
    start_help(t)
    expect(t, contents(manual), "the contents")

    t.keys("1")
    sub_menu = screen(pages(manual / "text_m1.txt")[0], B_INTRO)
    expect(t, sub_menu, "window 2 (text_m1.txt)")

    t.keys("3")
    expect(t, screen(text1_3[0], B_TEXT), "text1_3.txt page 0")
    for page in range(1, last + 1):
        t.keys("n")
        expect(t, screen(text1_3[page], LP_TEXT if page == last else B_TEXT),
               f"text1_3.txt page {page}")
    t.keys("n")  # the last page stays
    time.sleep(3.5)
    expect(t, screen(text1_3[last], LP_TEXT), "text1_3.txt after n on the last page", timeout=1)

    for page in range(last - 1, -1, -1):
        t.keys("p")
        expect(t, screen(text1_3[page], B_TEXT), f"text1_3.txt back on page {page}")

    t.keys("p")  # p on page 0: back to the sub-menu
    expect(t, sub_menu, "back in window 2")
    t.keys("p")  # and from the sub-menu to the contents
    expect(t, contents(manual), "back in the contents")
    t.keys("q")
    assert wait_exit(t) == 0


@pytest.mark.parametrize("key,menu,topic_key,topic", [
    ("2", "text_m2.txt", "2", "text2_2.txt"),
    ("3", "text_m3.txt", "5", "text3_5.txt"),
    ("4", "text_m4.txt", "1", "text4_1.txt"),
])
def test_the_other_sub_menus(root, manual, term, key, menu, topic_key, topic):
    t = term()
    start_help(t)
    expect(t, contents(manual), "the contents")
    t.keys(key)
    menu_screen = screen(pages(manual / menu)[0], B_INTRO)
    expect(t, menu_screen, menu)
    t.keys(topic_key)
    topic_pages = pages(manual / topic)
    expect(t, screen(topic_pages[0], B_TEXT if len(topic_pages) > 1 else LP_TEXT), topic)
    t.keys("p")
    expect(t, menu_screen, f"back in {menu}")
    t.keys("q")
    assert wait_exit(t) == 0


@pytest.mark.parametrize("key,topic", [("5", "text5.txt"), ("6", "text6.txt"),
                                       ("7", "text7.txt"), ("a", "textapa.txt"),
                                       ("b", "textapb.txt"), ("c", "textapc.txt")])
def test_contents_topics_and_p_back_to_the_contents(root, manual, term, key, topic):
    t = term()
    start_help(t)
    expect(t, contents(manual), "the contents")
    t.keys(key)
    topic_pages = pages(manual / topic)
    expect(t, screen(topic_pages[0], B_TEXT if len(topic_pages) > 1 else LP_TEXT), topic)
    t.keys("p")
    expect(t, contents(manual), f"back from {topic}")
    t.keys("Escape")  # Esc ends the viewer like q
    assert wait_exit(t) == 0


def test_a_missing_topic_leaves_the_screen_as_it_was(root, manual, term):
    (manual / "text7.txt").unlink()
    os.mkfifo(manual / "text6.txt.fifo")
    (manual / "text6.txt").unlink()
    os.rename(manual / "text6.txt.fifo", manual / "text6.txt")  # a FIFO never blocks the viewer
    t = term()
    start_help(t)
    expect(t, contents(manual), "the contents")
    t.keys("7")
    t.keys("6")
    time.sleep(3.5)
    expect(t, contents(manual), "the contents after keys of missing topics", timeout=1)
    t.keys("5")  # the other keys still work
    topic_pages = pages(manual / "text5.txt")
    expect(t, screen(topic_pages[0], B_TEXT), "text5.txt")
    t.keys("q")
    assert wait_exit(t) == 0


# --- without the contents ------------------------------------------------------------------

def test_a_missing_contents_file_ends_at_once(root, term):
    t = term()
    assert shell_output(t, "kelvora help") == (["", "error.....exiting"], 0)


def test_a_contents_file_that_is_a_fifo_counts_as_missing(root, term):
    root.path("help").mkdir(mode=0o755)
    os.mkfifo(root.path("help") / "textroot.txt")
    t = term()
    assert shell_output(t, "kelvora help", timeout=10) == (["", "error.....exiting"], 0)


def test_an_ordinary_user_may_read_the_manual(root, manual, term):
    if os.geteuid() != 0:
        pytest.skip("needs root to act as another user")
    t = term()
    start_help(t, f"setpriv --reuid={NOBODY} --regid={NOBODY} --clear-groups ")
    expect(t, contents(manual), "the contents for nobody")
    t.keys("q")
    assert wait_exit(t) == 0
