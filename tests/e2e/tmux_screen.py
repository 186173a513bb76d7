"""A terminal for end-to-end tests of the curses screens: a private tmux server with one
80 x 24 pane, keys sent with send-keys and the screen read with capture-pane. Also the canvas
on which a test builds the screen it expects from row and column positions.

Standard library only."""

import itertools
import os
import re
import subprocess
import time

ROWS, COLS = 24, 80
_counter = itertools.count()


class Tmux:
    """One tmux server of its own (no user configuration) running `command` in its only pane."""

    def __init__(self, command, env=None, width=COLS, height=ROWS):
        self.name = f"kelvoratest{os.getpid()}x{next(_counter)}"
        self.base = ["tmux", "-L", self.name, "-f", "/dev/null"]
        env = dict(env or os.environ)
        env.pop("TMUX", None)
        env["TERM"] = "xterm"  # only for the client that starts the server; the pane gets "screen"
        subprocess.run(self.base + ["new-session", "-d", "-s", "s", "-x", str(width), "-y", str(height),
                                    command], env=env, check=True, timeout=10)
        self.socket = self.tmux("display-message", "-p", "#{socket_path}").stdout.strip()

    def tmux(self, *args):
        return subprocess.run(self.base + list(args), capture_output=True, text=True, timeout=10)

    def keys(self, *keys):
        """Key names as tmux knows them: "Enter", "C-c", or single characters."""
        self.tmux("send-keys", "-t", "s", *keys)

    def type(self, text):
        self.tmux("send-keys", "-t", "s", "-l", text)

    def run(self, line):
        """Types a shell command line and presses Enter."""
        self.type(line)
        self.keys("Enter")

    def rows(self):
        """The 24 rows of the pane, each padded to 80 columns."""
        out = self.tmux("capture-pane", "-p", "-t", "s").stdout
        lines = out.split("\n")[:ROWS]
        lines += [""] * (ROWS - len(lines))
        return [line.ljust(COLS) for line in lines]

    def text(self):
        return "\n".join(row.rstrip() for row in self.rows())

    def standout_rows(self):
        """The raw rows with attributes: standout shows as ESC[7m."""
        out = self.tmux("capture-pane", "-p", "-e", "-t", "s").stdout
        return out.split("\n")[:ROWS]

    def wait_for(self, predicate, timeout, what):
        """Polls the screen until predicate(rows) is true; returns the rows."""
        deadline = time.monotonic() + timeout
        while True:
            rows = self.rows()
            if predicate(rows):
                return rows
            if time.monotonic() > deadline:
                screen = "\n".join(r.rstrip() for r in rows)
                raise AssertionError(f"timed out after {timeout} s waiting for {what}; screen:\n{screen}")
            time.sleep(0.2)

    def wait_text(self, text, timeout=20):
        return self.wait_for(lambda rows: any(text in r for r in rows), timeout, repr(text))

    def pane_alive(self):
        out = self.tmux("list-panes", "-t", "s", "-F", "#{pane_dead}")
        return out.returncode == 0 and out.stdout.strip() == "0"

    def kill(self):
        self.tmux("kill-server")
        if self.socket:  # a killed server leaves its socket behind
            try:
                os.unlink(self.socket)
            except OSError:
                pass


def standout_at(raw_row, col, length):
    """Whether the `length` visible characters from `col` of a row captured with -e are all in
    standout. Escape sequences take no columns."""
    pos, on, cells = 0, False, []
    i = 0
    while i < len(raw_row):
        if raw_row[i] == "\x1b":
            m = re.match(r"\x1b\[([0-9;]*)m", raw_row[i:])
            if m:
                codes = [c for c in m.group(1).split(";") if c != ""] or ["0"]
                for code in codes:
                    if code == "7":
                        on = True
                    elif code in ("0", "27"):
                        on = False
                i += m.end()
                continue
        cells.append(on)
        pos += 1
        i += 1
    cells += [False] * (COLS - len(cells))
    return all(cells[col:col + length])


class Canvas:
    """A 24 x 80 screen of blanks on which texts are put at (row, column); tabs advance to the
    next multiple of eight with blanks, as curses writes them."""

    def __init__(self):
        self.grid = [[" "] * COLS for _ in range(ROWS)]

    def put(self, row, col, text):
        for ch in text:
            if ch == "\t":
                while True:
                    self.grid[row][col] = " "
                    col += 1
                    if col % 8 == 0:
                        break
            else:
                self.grid[row][col] = ch
                col += 1
        return self

    def box(self, height, width, top, left):
        edge = "+" + "-" * (width - 2) + "+"
        self.put(top, left, edge)
        for row in range(top + 1, top + height - 1):
            self.put(row, left, "|")
            self.put(row, left + width - 1, "|")
        self.put(top + height - 1, left, edge)
        return self

    def rows(self):
        return ["".join(r) for r in self.grid]


def differences(actual, expected, skip=(1,)):
    """Rows that differ, as readable lines; the clock row is skipped."""
    out = []
    for i, (a, e) in enumerate(zip(actual, expected)):
        if i in skip:
            continue
        if a.rstrip() != e.rstrip():
            out.append(f"row {i:2}:\n  got      [{a.rstrip()}]\n  expected [{e.rstrip()}]")
    return out
