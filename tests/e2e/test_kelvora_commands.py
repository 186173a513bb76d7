"""kelvora's commands that open no screen: start, stop, the debug switches and the usage."""

import os
import shutil
import subprocess

import pytest

from kelvora_env import binary, wait_until

USAGE_TAIL = (
    " [start|stop|config|status|issuer|help]\n\n"
    "  kelvora start   - Start the Daemon process\t\n"
    "  kelvora stop    - Terminate Resident Daemon process\t\n"
    "  kelvora config  - Modify Time Settings \t\n"
    "  kelvora status  - Monitor UPS status\t\n"
    "  kelvora issuer  - Send Commands to the UPS\t\n"
    "  kelvora help    - Display Online User Manual\t\n")


def kelvora(root, *args, user=None, timeout=30):
    """Runs kelvora with output to a file: a daemon it starts keeps its standard output."""
    out = root.dir.parent / "kelvora.out"
    prefix = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] if user else []
    with open(out, "wb") as f:
        rc = subprocess.run([*prefix, binary("KELVORA", "linux", "console", "kelvora"), *args],
                            env=root.env(), stdout=f, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL, timeout=timeout).returncode
    return rc, out.read_text()


@pytest.mark.parametrize("args,first", [((), "One argument needed!"),
                                        (("start", "stop"), "Too many arguments!"),
                                        (("restart",), "Argument error!")])
def test_wrong_arguments_print_the_usage_and_fail(root, args, first):
    rc, out = kelvora(root, *args)
    assert rc == 1
    assert out == first + "\nUsage: " + binary("KELVORA", "linux", "console", "kelvora") + USAGE_TAIL


def test_start_twice_then_stop(root, ups):
    shutil.copy(binary("VORND", "linux", "daemon", "vornd"), root.path("vornd"))
    root.write("shutdown.ini", "true\n")
    root.write_config(ups.link)
    rc, _ = kelvora(root, "start")
    assert rc == 0
    ups.wait_for_command("F\r", timeout=30)  # the daemon it started polls the UPS
    rc, out = kelvora(root, "start")
    assert (rc, out) == (0, "<Kelvora> is currently running!\n")

    assert kelvora(root, "stop") == (0, "")
    wait_until(lambda: root.queue_info("heartbeat") is None, 30, "the daemon to remove its queues")
    rc, out = kelvora(root, "stop")
    assert (rc, out) == (0, "<Kelvora> is not running!\n")


def test_start_reports_a_daemon_that_cannot_run(root):
    rc, out = kelvora(root, "start")
    assert rc == 0
    wait_until(lambda: "Error! Daemon program fails!" in (root.dir.parent / "kelvora.out").read_text(),
               5, "the failure message")


@pytest.mark.parametrize("command,file,word,title,state", [
    ("startdebugvornd", "vornd.dbg", "debug", "|  VORND Daemon Process Debugger  |", "Started"),
    ("stopdebugvornd", "vornd.dbg", "nodebug", "|  VORND Daemon Process Debugger  |", "Stopped"),
    ("startdebugstatus", "status.dbg", "debug", "| Kelvora Status Screen Debugger  |", "Started"),
    ("stopdebugstatus", "status.dbg", "nodebug", "| Kelvora Status Screen Debugger  |", "Stopped")])
def test_debug_switches_write_the_word_and_show_the_box(root, command, file, word, title, state):
    rc, out = kelvora(root, command)
    assert rc == 0
    assert root.read(file) == word
    assert out == ("\n _________________________________\n|                                 |\n" + title +
                   f"\n|               Debugger {state}  |\n|_________________________________|\n\n")


def test_ordinary_users_may_not_start_or_stop(root):
    if os.geteuid() != 0:
        pytest.skip("needs root to act as another user")
    for command in ("start", "stop", "startdebugvornd"):
        rc, out = kelvora(root, command, user=65534)
        assert rc == 0
        assert out == ("\nSorry. You must login as super-user to run this program "
                       "(User ID: 65534)!!\n")
    assert root.read("vornd.dbg") is None
