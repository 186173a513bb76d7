"""The agent's outside programs, run as the agent runs them: Tessvar warns every logged-in
terminal (and no device the login records merely name), Brenvik runs the configured shutdown
command without a shell."""

import os
import pathlib
import subprocess
import tempfile

import pytest

from kelvora_env import Terminal, binary, utmp_record

TESSVAR = binary("TESSVAR", "windows", "service", "Tessvar")
BRENVIK = binary("BRENVIK", "windows", "service", "Brenvik")


@pytest.fixture
def place():
    with tempfile.TemporaryDirectory(prefix="tv", dir="/tmp") as d:
        yield pathlib.Path(d)


def test_tessvar_writes_the_text_to_every_logged_in_terminal_only(place):
    terms = [Terminal(), Terminal()]
    outsider = Terminal()
    try:
        records = [utmp_record(t.line, "alice") for t in terms]
        # A record without a user, one that climbs out of /dev, and one naming a regular file.
        records += [utmp_record(outsider.line, ""), utmp_record("../" + str(place / "f")[1:], "eve")]
        (place / "f").write_text("")
        (place / "utmp").write_bytes(b"".join(records))
        env = dict(os.environ, TORVANE_UTMP=str(place / "utmp"))
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        # The agent hands the text over as one command line; escape sequences never get through.
        rc = subprocess.run([TESSVAR, "Attention! Utility Power Failure!\x1b[2J", "Now."], env=env,
                            timeout=10).returncode
        assert rc == 0
        for t in terms:
            # \r\n, which the terminal turns into \r\r\n: a line of its own on any terminal.
            assert t.text() == "\r\nAttention! Utility Power Failure!?[2J Now.\r\n"
        assert outsider.text() == ""
        assert (place / "f").read_text() == ""
    finally:
        for t in terms + [outsider]:
            t.close()


def test_tessvar_without_login_records_still_ends(place):
    env = dict(os.environ, TORVANE_UTMP=str(place / "missing"))
    assert subprocess.run([TESSVAR, "hello"], env=env, timeout=10).returncode == 0
    assert subprocess.run([TESSVAR], env=env, timeout=10).returncode == 0


def test_brenvik_runs_the_shutdown_command_without_a_shell(place):
    mark = place / "mark"
    script = place / "poweroff"
    script.write_text(f"#!/bin/sh\necho \"$@\" >> {mark}\nexit 3\n")
    script.chmod(0o755)
    env = dict(os.environ, TORVANE_POWEROFF=f"{script} --now ;touch {place}/injected")
    assert subprocess.run([BRENVIK], env=env, timeout=10).returncode == 3
    assert mark.read_text() == f"--now ;touch {place}/injected\n"
    assert not (place / "injected").exists()

    env["TORVANE_POWEROFF"] = str(place / "no-such-command")
    run = subprocess.run([BRENVIK], env=env, timeout=10, capture_output=True, text=True)
    assert run.returncode == 127
    assert "cannot run" in run.stderr
