"""vornd on the edges of its life: a line that dies and comes back, a reconnect that finds
nothing, files that are directories, FIFOs, zeroed or on a full disk, and queues that vanish
under it. The simulator and the daemon are the real programs."""

import ctypes
import os
import subprocess
import time

import pytest

from kelvora_env import BLANK, STATUS_OK, _libc, wait_until

AC_FAILS = "AC Power Fails! UPS provides power!"
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def q1_seen(root):
    return (root.read("kelvora.q1") or "")[:47]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def test_a_reconnect_that_finds_nothing_blanks_what_the_console_shows(root, ups, running):
    wait_until(lambda: q1_seen(root) == STATUS_OK, 10, "the status file")
    # The port goes away while the daemon reconnects after a configuration change: the status
    # files must not go on showing a healthy UPS.
    root.write_config("/nonexistent/ttyUPS")
    root.send("control", 5, "010")
    wait_until(lambda: (root.read("kelvora.q1") or "")[:49] == BLANK, 20, "the blanked status file")
    assert root.read("kelvora.mdl") == BLANK and root.read("kelvora.rtg") == BLANK
    assert running.stop() == 0


def test_a_dead_line_is_paced_and_reopened_when_the_ups_comes_back(root, ups, running):
    pid = running.proc.pid
    ups.stop()  # the adapter is unplugged: writes fail, the line hangs up
    time.sleep(1)
    cpu, lines = cpu_seconds(pid), len(root.console_lines())
    time.sleep(10)
    # Never spin: a failed attempt still takes its second, and the console is not flooded.
    assert cpu_seconds(pid) - cpu < 1.0
    assert len(root.console_lines()) - lines < 20
    assert (root.read("kelvora.q1") or "")[:49] == BLANK

    # Plugged in again on the same path: the daemon opens it afresh and polls again.
    polls = ups.commands().count("Q1\r")
    ups.start()
    wait_until(lambda: ups.commands().count("Q1\r") > polls + 1, 40, "polls on the new line")
    running.wait_output("UPS Reconnected!!", timeout=30)
    wait_until(lambda: q1_seen(root) == STATUS_OK, 20, "the status file again")
    assert running.stop() == 0


def test_monitoring_goes_on_when_the_status_file_cannot_be_written(root, ups, start_daemon):
    root.path("kelvora.q1").mkdir()
    root.write("shutdown.ini", "true\n")
    root.write_config(ups.link)
    daemon = start_daemon()
    ups.wait_for_command("F\r", timeout=30)
    ups.ctl("utility", "fail")
    daemon.wait_output(AC_FAILS, timeout=30)
    assert "<Kelvora> Can not write the UPS status file!" in root.console_lines()
    assert daemon.stop() == 0


def test_zeroed_files_count_as_empty_and_fifos_never_hang_the_daemon(root, ups, start_daemon):
    # What a crash can leave: a shutdown file of NUL bytes, a half-written configuration.
    root.path("shutdown.ini").write_bytes(b"\0" * 512 + b"\n")
    root.write("vorn.ini.tmpAb12Cd", "half a configuration")
    # What a mistake can leave: FIFOs in place of files the daemon opens (without a writer
    # or reader, a plain open of each would wait for ever).
    for name in ("busy", "vornlog", "vornd.dbg"):
        os.mkfifo(root.path(name))
    root.write_config(ups.link)
    daemon = start_daemon()
    daemon.wait_output("Shutdown file empty or not found!", timeout=20)
    assert "Can not open Busy Flag" in root.output()
    assert not root.path("vorn.ini.tmpAb12Cd").exists()
    time.sleep(3)
    # Nothing to shut the system down with: no monitoring that would end in running nothing.
    assert "F\r" not in ups.commands()

    root.write("shutdown.ini", "true\n")
    ups.wait_for_command("F\r", timeout=30)
    wait_until(lambda: ups.commands().count("Q1\r") >= 5, 30, "polls past the debug switch")
    assert daemon.stop() == 0


def test_a_full_disk_does_not_suspend_monitoring(root, ups, start_daemon):
    if os.geteuid() != 0:
        pytest.skip("needs root to mount a small file system")
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k,mode=0755", "tmpfs", str(root.dir)],
                   check=True)
    daemon = None
    try:
        root.write("shutdown.ini", "true\n")
        root.write_config(ups.link)
        filler = root.path("filler")
        fd = os.open(filler, os.O_WRONLY | os.O_CREAT)
        try:
            while os.write(fd, b"\0" * 4096):
                pass
        except OSError:
            pass
        finally:
            os.close(fd)
        daemon = start_daemon()
        # vorn.ini cannot be written: the daemon says so and monitors all the same.
        ups.wait_for_command("F\r", timeout=30)
        daemon.wait_output("Configuration Error!", timeout=10)
        assert not root.path("vorn.ini").exists()
        ups.ctl("utility", "fail")
        daemon.wait_output(AC_FAILS, timeout=30)
        # Space again: the write it kept retrying succeeds.
        filler.unlink()
        wait_until(lambda: root.path("vorn.ini").exists() and root.path("vorn.ini").stat().st_size == 232,
                   20, "vorn.ini")
        assert daemon.stop() == 0
    finally:
        if daemon:
            daemon.kill()
        root.remove_queues()
        subprocess.run(["umount", "-l", str(root.dir)], check=False)


def test_queues_put_back_after_a_failed_send_keep_a_pending_command(root, ups, running):
    # While the UPS is silent a poll takes seconds; a command queued during it must survive the
    # re-creation of the status queue that someone removed meanwhile.
    ups.ctl("reply", "silent")
    polls = ups.commands().count("Q1\r")
    wait_until(lambda: ups.commands().count("Q1\r") > polls, 10, "a poll under way")
    assert _libc.msgctl(root.queue("status"), 0, None) == 0  # IPC_RMID
    root.send("command", 9, "a")
    wait_until(lambda: root.queue_info("status") is not None, 30, "the status queue again")
    ups.wait_for_command("T\r", timeout=40)
    assert running.stop() == 0
