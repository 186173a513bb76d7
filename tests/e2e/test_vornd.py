"""vornd against the simulated UPS on a pseudo-terminal, in a private root."""

import os
import subprocess
import time

import pytest

from kelvora_env import (BLANK, DAEMON_ARG, MODEL_OK, NO_RESPONSE, RATING_OK, STATUS_OK, _libc,
                         binary, wait_until)

DEFAULT_CFG = (
    "AC Fail Delay         ( 1 ... 1440 min. )  : [5]\n"
    "Batt Low Delay        ( 1 ... 10 min.   )  : [1]\n"
    "Turn Off UPS Delay    ( 0.2 ... 10 min. )  : [3.0]\n"
    "Battery Rating        ( 12.0 ... 96.0 v )  : [0.0]\n"
    "UPS Comport           ( /dev/xxttyxx    )  : [/dev/ttyS1]\n"
    "Turn Off UPS?         ( 0 - no, 1 - yes )  : [1]\n"
    "Schedule Function     ( 0 - off, 1 - on )  : [0]\n"
    "Countdown Function    ( 0 - off, 1 - on )  : [1]\n"
    "Communication Mode    ( 0-Port, 1-SNMP  )  : [0]\n"
    "SNMP IP Address       ( xxx.xxx.xxx.xxx )  : [127.0.0.1]\n"
    "SNMP Community Name   ( e.g. gazers     )  : [gazers]\n")


def q1_seen(root):
    """The status reply in the status file (written at offset 0 over what was there)."""
    return (root.read("kelvora.q1") or "")[:47]


@pytest.mark.parametrize("args", [(), ("x",), (DAEMON_ARG, DAEMON_ARG), (" " * 11,)])
def test_without_the_daemon_argument_only_the_busy_flag_is_written(root, start_daemon, args):
    daemon = start_daemon(args=args)
    assert daemon.proc.wait(10) == 0
    assert root.read("busy") == "PortIdle"
    assert sorted(p.name for p in root.dir.iterdir()) == ["busy"]
    assert all(root.queue_info(q) is None for q in ("status", "heartbeat", "control", "command"))


def test_first_start_writes_default_files_and_stops_while_the_ups_is_unreachable(root, start_daemon):
    root.write("shutdown.ini", "true\n")
    daemon = start_daemon()
    wait_until(lambda: root.read("kelvora.cfg"), 10, "kelvora.cfg")
    assert root.read("kelvora.cfg") == DEFAULT_CFG
    ini = root.path("vorn.ini").read_bytes()
    assert len(ini) == 232 and ini[120:] == b"\xff" * 112
    # No UPS on the default ports: the daemon keeps trying, beats its heart, and still obeys.
    wait_until(lambda: root.queue_info("heartbeat")[1] > 0, 10, "a heartbeat")
    assert root.queue_info("control")[0] == 0o600
    assert root.queue_info("command")[0] == 0o600
    assert root.queue_info("status")[0] == 0o644
    started = time.monotonic()
    assert daemon.stop(timeout=60) == 0
    assert time.monotonic() - started < 30
    assert "Daemon Process Stops!" in root.output()
    assert all(root.queue_info(q) is None for q in ("status", "heartbeat", "control", "redraw", "command"))
    assert "<Kelvora> Start Running!" in root.console_lines()


def test_polls_and_publishes_the_replies_in_files_and_on_the_status_queue(root, ups, running):
    wait_until(lambda: q1_seen(root) == STATUS_OK, 10, "the status file")
    assert root.read("kelvora.mdl") == MODEL_OK
    assert root.read("kelvora.rtg") == RATING_OK
    assert root.read("busy") == "PortIdle"
    assert ups.commands()[:4] == ["Q1\r", "Q1\r", "I\r", "F\r"]

    root.drain("status")
    wait_until(lambda: root.queue_info("status")[1] >= 3, 10, "status messages")
    assert [root.receive("status", t) for t in (1, 2, 3)] == [STATUS_OK, MODEL_OK, RATING_OK]
    assert set(root.drain("heartbeat")) <= {"abc", "axy"}
    # Nobody reads the queues here, and yet they never grow past their limits.
    time.sleep(4)
    assert root.queue_info("status")[1] <= 10 and root.queue_info("heartbeat")[1] <= 6

    # The simulator's readings reach the status file.
    ups.ctl("utility", "fail")
    wait_until(lambda: q1_seen(root)[38] == "1", 10, "the utility-fail bit")
    assert q1_seen(root).startswith("(000.0 ")

    # The debug switch echoes every reply.
    root.write("vornd.dbg", "debug")
    daemon = running
    daemon.wait_output("<VORND DEBUG> (000.0", timeout=25)  # looked for every ten polls
    assert daemon.stop() == 0
    assert root.read("kelvora.q1") == BLANK
    assert root.read("kelvora.mdl") == BLANK and root.read("kelvora.rtg") == BLANK


def test_silence_blanks_the_files_and_an_answer_reconnects(root, ups, running):
    wait_until(lambda: q1_seen(root) == STATUS_OK, 10, "the status file")
    ups.ctl("reply", "silent")
    wait_until(lambda: root.read("kelvora.q1") == BLANK, 20, "the blanked status file")
    assert root.read("kelvora.mdl") == BLANK and root.read("kelvora.rtg") == BLANK
    wait_until(lambda: NO_RESPONSE in root.output(), 20, "the no-response message")

    before = len(ups.commands())
    ups.ctl("reply", "normal")
    running.wait_output("UPS Reconnected!!", timeout=30)
    wait_until(lambda: root.read("kelvora.mdl") == MODEL_OK, 20, "the model file again")
    wait_until(lambda: root.read("kelvora.rtg") == RATING_OK, 10, "the rating file again")
    wait_until(lambda: q1_seen(root) == STATUS_OK, 10, "the status file again")
    assert {"I\r", "F\r"} <= set(ups.commands()[before:])
    assert "<Kelvora> UPS Reconnected!!" in root.console_lines()
    # Throttled: one no-response message per fifteen, however long the silence.
    assert root.output().count(NO_RESPONSE) <= 2


@pytest.mark.parametrize("letter,sent", [("a", "T\r"), ("b", "TL\r"), ("c05", "T05\r"),
                                         ("d", "S.2R0000\r"), ("e", "C\r"), ("f", "CT\r")])
def test_issuer_letters_reach_the_ups_as_commands(root, ups, running, letter, sent):
    root.send("command", 9, letter)
    ups.wait_for_command(sent, timeout=15)
    report = {"a": "Ten Seconds Self Test", "b": "Test Until Battery Low",
              "c05": "Test for a Specified Time Period", "d": "UPS Shutting Down NOW!",
              "e": "Cancel the Shutdown Command",
              "f": "Cancel all test activity and connect utility to output immediately"}[letter]
    running.wait_output(report, timeout=5)


def test_unknown_or_malformed_issuer_letters_send_nothing(root, ups, running):
    for text in ("z", "c", "c5", "cxx"):
        root.send("command", 9, text)
    wait_until(lambda: root.queue_info("command")[1] == 0, 20, "the commands to be taken")
    time.sleep(2)
    assert set(ups.commands()) <= {"Q1\r", "I\r", "F\r"}


def test_garbage_from_the_ups_never_crashes_or_hangs_the_daemon(root, ups, running):
    for mode in ("garbage", "nocr", "toolong", "binary", "wrongfirst"):
        ups.ctl("reply", mode)
        polls = len(ups.commands())
        wait_until(lambda: len(ups.commands()) >= polls + 2, 20, f"two polls in {mode} mode")
        assert running.alive(), mode
        assert root.read("kelvora.q1") == BLANK, mode
    assert "input buffer overflow" in root.output()
    ups.ctl("reply", "normal")
    running.wait_output("UPS Reconnected!!", timeout=30)
    wait_until(lambda: q1_seen(root) == STATUS_OK, 10, "the status file again")
    assert running.stop() == 0


def test_an_ordinary_user_cannot_stop_the_daemon_or_command_the_ups(root, ups, running):
    if os.geteuid() != 0:
        pytest.skip("needs root to act as another user")
    script = (
        "import sys; sys.path.insert(0, sys.argv[1]);"
        "from kelvora_env import Root; import pathlib;"
        "r = Root.__new__(Root); r.dir = pathlib.Path(sys.argv[2]);"
        "fails = 0\n"
        "for q, t, text in (('control', 5, '100'), ('command', 9, 'd')):\n"
        "    try: r.send(q, t, text)\n"
        "    except OSError: fails += 1\n"
        "sys.exit(0 if fails == 2 else 1)")
    user = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                           "/usr/bin/python3", "-c", script, os.path.dirname(__file__), str(root.dir)],
                          capture_output=True, text=True, timeout=30)
    assert user.returncode == 0, user.stderr
    time.sleep(3)
    assert running.alive()
    assert "S.2R0000\r" not in ups.commands()


def test_falls_back_to_ttyS2_and_remembers_it(tmp_path, root, ups, start_daemon):
    if os.geteuid() != 0:
        pytest.skip("needs root for a private mount namespace")
    # In a private mount namespace /dev is a fresh tmpfs holding only what the daemon needs,
    # with the simulator's pseudo-terminal standing at /dev/ttyS2.
    real = tmp_path / "realdev"
    real.mkdir()
    setup = (f"mount --rbind /dev {real} && mount -t tmpfs tmpfs /dev && mkdir /dev/pts && "
             f"mount --rbind {real}/pts /dev/pts && ln -s {real}/null /dev/null && "
             f"ln -s {ups.pts} /dev/ttyS2 && exec \"$0\" \"$@\"")
    root.write("shutdown.ini", "true\n")
    root.write_config("/nonexistent/ttyUPS")
    daemon = start_daemon(wrapper=("unshare", "-m", "sh", "-c", setup))
    ups.wait_for_command("F\r", timeout=60)
    wait_until(lambda: "[/dev/ttyS2]" in (root.read("kelvora.cfg") or ""), 10, "the remembered port")
    assert root.read("kelvora.mdl") == MODEL_OK
    assert daemon.stop() == 0


def test_a_stop_request_left_by_a_killed_daemon_does_not_end_the_next_one(root, ups, start_daemon):
    # A service stop that timed out: the request was sent, the daemon killed before it read it.
    queue = _libc.msgget(root.key("control"), 0o1000 | 0o600)  # IPC_CREAT
    assert queue >= 0
    root.send("control", 5, "100")
    time.sleep(1.1)  # sent before the next daemon takes its lock
    root.write("shutdown.ini", "true\n")
    root.write_config(ups.link)
    daemon = start_daemon()
    ups.wait_for_command("F\r", timeout=30)
    assert daemon.alive()
    # One sent to it is obeyed as always.
    assert daemon.stop(timeout=60) == 0
