"""kelvora's forms for scripts, end to end: `status --once` and `status --json` against a daemon
polling the simulated UPS, and `test-notify` with scripts that leave marks. Output goes to
pipes, never to a terminal: that is how scripts and monitoring tools run them."""

import json
import os
import pathlib
import signal
import subprocess
import time

import pytest

from kelvora_env import REPO, binary, wait_until

KELVORA = binary("KELVORA", "linux", "console", "kelvora")
NOBODY = 65534
NO_DAEMON, NO_READING, STALE = 3, 4, 5


def kelvora(root, *args, user=None, env=None, timeout=30):
    prefix = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] if user else []
    r = subprocess.run([*prefix, KELVORA, *args], env=root.env(**(env or {})),
                       capture_output=True, stdin=subprocess.DEVNULL, timeout=timeout)
    return r.returncode, r.stdout.decode("utf-8"), r.stderr.decode("utf-8")


def once(root, **kw):
    rc, out, err = kelvora(root, "status", "--once", **kw)
    lines = out.splitlines()
    assert all(": " in line for line in lines), out
    return rc, dict(line.split(": ", 1) for line in lines), err


def as_json(root, **kw):
    rc, out, err = kelvora(root, "status", "--json", **kw)
    assert out.endswith("}\n") and out.count("\n") == 1, out
    return rc, json.loads(out), err


def text_of(value):
    """A JSON value as the text form prints it."""
    if value is None:
        return "N/A"
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


def assert_forms_agree(text, obj):
    assert list(text) == list(obj), "both forms carry the same keys in the same order"
    for key, value in obj.items():
        if isinstance(value, float) or key in ("updated_at", "reading_age_seconds"):
            continue  # 230.0 prints as 230.0 in both, but Python's str() of a float may differ
        assert text[key] == text_of(value), key


def q1_shows(root, text):
    return lambda: text in (root.read("kelvora.q1") or "")


# --- status --once / --json on a live daemon -------------------------------------------------

def test_once_and_json_show_what_the_ups_sends(root, ups, running):
    ups.ctl("set", "input", "221.7")
    wait_until(q1_shows(root, "(221.7 "), 10, "the daemon to write the new input voltage")

    rc, text, err = once(root)
    assert (rc, err) == (0, "")
    assert text["connected"] == "true"
    assert text["status"] == "OL"
    assert text["input_voltage_volts"] == "221.7"
    assert text["on_battery"] == "false"
    assert (text["manufacturer"], text["model"], text["firmware"]) == ("Stavlen", "SIM-1000", "1.0")
    assert text["rating_voltage_volts"] == "230.0" and text["rating_current_amperes"] == "4"
    assert text["daemon_running"] == "true" and text["daemon_pid"] == str(running.proc.pid)
    assert text["source"] == "serial"

    rc, obj, err = as_json(root)
    assert (rc, err) == (0, "")
    assert obj["input_voltage_volts"] == 221.7
    assert obj["status"] == "OL" and obj["on_battery"] is False and obj["connected"] is True
    assert isinstance(obj["load_percent"], (int, float)) and isinstance(obj["updated_at"], int)
    assert 0 <= obj["reading_age_seconds"] <= 5
    assert obj["battery_charge_percent"] is not None
    assert_forms_agree(text, obj)


def test_a_utility_failure_shows_on_battery(root, ups, running):
    ups.ctl("utility", "fail")
    wait_until(lambda: (root.read("kelvora.q1") or "x" * 40)[38] == "1", 10,
               "the utility-fail bit in the status file")
    rc, text, _ = once(root)
    assert rc == 0
    assert text["status"].split()[0] == "OB" and text["on_battery"] == "true"
    rc, obj, _ = as_json(root)
    assert rc == 0
    assert obj["status"].startswith("OB") and obj["on_battery"] is True
    ups.ctl("battery", "low")
    wait_until(lambda: as_json(root)[1]["battery_low"] is True, 10, "battery low in the report")
    assert as_json(root)[1]["status"].split()[:2] == ["OB", "LB"]


def test_a_stopped_daemon_gives_its_own_status_and_no_readings(root, ups, running):
    assert running.stop() == 0
    rc, text, err = once(root)
    assert rc == NO_DAEMON
    assert "not running" in err and str(root.dir) in err
    assert text["connected"] == "false" and text["input_voltage_volts"] == "N/A"
    rc, obj, err = as_json(root)
    assert rc == NO_DAEMON and "not running" in err
    assert obj["connected"] is False and obj["status"] is None and obj["input_voltage_volts"] is None
    assert obj["daemon_running"] is False


def test_no_daemon_ever_and_an_empty_root(root):
    rc, obj, err = as_json(root)
    assert rc == NO_DAEMON and obj["updated_at"] is None and "not running" in err


def test_a_daemon_that_stopped_writing_is_stale(root, ups, running):
    os.kill(running.proc.pid, signal.SIGSTOP)  # it still holds its lock, but writes nothing
    try:
        past = time.time() - 120
        os.utime(root.path("kelvora.q1"), (past, past))
        rc, obj, err = as_json(root)
        assert rc == STALE, err
        assert "stale" in err and obj["connected"] is False and obj["input_voltage_volts"] is None
        assert 115 <= obj["reading_age_seconds"] <= 200
    finally:
        os.kill(running.proc.pid, signal.SIGCONT)
    wait_until(lambda: as_json(root)[0] == 0, 10, "a fresh reading again")


@pytest.mark.parametrize("make", ["fifo", "directory", "empty", "zeroed", "blank"])
def test_a_status_file_that_is_no_reading(root, ups, running, make):
    os.kill(running.proc.pid, signal.SIGSTOP)  # so that it does not rewrite the file meanwhile
    try:
        path = root.path("kelvora.q1")
        path.unlink()
        if make == "fifo":
            os.mkfifo(path)
        elif make == "directory":
            path.mkdir()
        else:
            path.write_bytes({"empty": b"", "zeroed": bytes(48), "blank": b" " * 49}[make])
        rc, obj, err = as_json(root, timeout=10)  # a FIFO must not make it wait
        assert rc == NO_READING, err
        assert obj["connected"] is False and obj["status"] is None
        assert err.startswith("kelvora: ") and err.count("\n") == 1
    finally:
        os.kill(running.proc.pid, signal.SIGCONT)


def test_an_ordinary_user_sees_the_daemon_by_its_heartbeats(root, ups, running):
    if os.geteuid() != 0:
        pytest.skip("needs root to act as another user")
    rc, obj, err = as_json(root, user=NOBODY)
    assert (rc, err) == (0, "")
    assert obj["daemon_running"] is True and obj["daemon_pid"] is None
    assert obj["input_voltage_volts"] == 230.0
    assert running.stop() == 0
    rc, obj, _ = as_json(root, user=NOBODY)
    assert rc == NO_DAEMON and obj["daemon_running"] is False
    assert root.queue_info("heartbeat") is None, "looking leaves no queue behind"


@pytest.mark.parametrize("args", [("status", "--bogus"), ("status", "--once", "-x"),
                                  ("test-notify", "now")])
def test_usage_errors_of_the_script_forms(root, args):
    rc, out, err = kelvora(root, *args)
    assert rc == 2 and out == ""
    assert "kelvora status --json" in err and "kelvora test-notify" in err


def test_the_screen_form_with_a_word_is_still_too_many_arguments(root):
    rc, out, _ = kelvora(root, "status", "once")
    assert rc == 1 and out.startswith("Too many arguments!\n")


def test_json_in_snmp_mode_asks_the_agent(root, agent, start_daemon):
    """The daemon reaches the UPS through its agent, in a network namespace: the report asks
    the agent itself, from the same namespace, as the status screen does."""
    root.write("shutdown.ini", "true\n")
    root.write_config("/dev/null", mode=1, ip=agent.peer)
    start_daemon(wrapper=tuple(agent.netns.wrap()))
    agent.ups.ctl("set", "input", "221.7")
    in_ns = [*agent.netns.wrap(), KELVORA, "status", "--json"]

    def report():
        r = subprocess.run(in_ns, env=root.env(), capture_output=True, timeout=60)
        return r.returncode, json.loads(r.stdout)

    wait_until(lambda: report()[0] == 0, 60, "a report with the agent's reading")
    rc, obj = report()
    assert obj["source"] == "snmp" and obj["connected"] is True
    assert obj["input_voltage_volts"] == 221.7 and obj["status"] == "OL"
    agent.ups.ctl("utility", "fail")
    wait_until(lambda: report()[1]["on_battery"] is True, 30, "the utility failure")
    rc, obj = report()
    assert rc == 0 and obj["status"].startswith("OB") and obj["input_voltage_volts"] == 0.0


# --- test-notify ---------------------------------------------------------------------------

def script(root, name, body):
    path = root.path(name)
    path.write_text("#!/bin/sh\n" + body)
    path.chmod(0o755)
    return path


def test_notify_runs_each_script_with_the_test_code(root, ups, running):
    marks = root.dir.parent
    script(root, "email", f'echo "$#:$1" > {marks}/email.arg\necho to-stdout\n')
    script(root, "pager", f'echo "$#:$1" > {marks}/pager.arg\nexit 3\n')
    before = root.queue_info("control")
    rc, out, err = kelvora(root, "test-notify")
    assert (rc, out) == (1, "email: sent\npager: failed: exit status 3\n")
    assert "to-stdout" in err, "a script's output goes to standard error"
    assert (marks / "email.arg").read_text() == "1:0\n"
    assert (marks / "pager.arg").read_text() == "1:0\n"
    # The daemon went on as before: still running, its queues untouched.
    assert running.alive() and root.queue_info("control") == before
    assert as_json(root)[0] == 0


def test_notify_a_missing_or_unrunnable_channel(root):
    marks = root.dir.parent
    script(root, "email", f'echo "$1" > {marks}/email.arg\n')
    rc, out, _ = kelvora(root, "test-notify")
    assert (rc, out) == (0, "email: sent\npager: not configured\n")
    root.path("pager").write_text("#!/bin/sh\nexit 0\n")  # not executable
    assert kelvora(root, "test-notify")[:2] == (0, "email: sent\npager: not configured\n")
    script(root, "pager", "kill -9 $$\n")
    assert kelvora(root, "test-notify")[:2] == (1, "email: sent\npager: failed: killed by signal 9\n")
    root.path("pager").write_bytes(b"\x7fELF not really")
    root.path("pager").chmod(0o755)
    rc, out, _ = kelvora(root, "test-notify")
    assert rc == 1 and out.startswith("email: sent\npager: failed: cannot run: ")


def test_notify_with_nothing_configured_fails(root):
    rc, out, err = kelvora(root, "test-notify")
    assert (rc, out) == (1, "email: not configured\npager: not configured\n")
    assert "email" in err


def test_notify_needs_the_super_user(root):
    if os.geteuid() != 0:
        pytest.skip("needs root to act as another user")
    marks = root.dir.parent
    script(root, "email", f"touch {marks}/sent\n")
    rc, out, err = kelvora(root, "test-notify", user=NOBODY)
    assert rc == 1 and out == "" and "super-user" in err
    assert not (marks / "sent").exists()


@pytest.mark.parametrize("name,env,expect", [
    ("email", {"MAIL_TO": "ops@example.org"}, "Subject: ["),
    ("pager", {"PAGER_TO": "pager@example.org"}, "Subject: UPS: TEST")])
def test_the_shipped_scripts_send_a_test_notice(root, tmp_path, name, env, expect):
    """The package's scripts with a stand-in sendmail that keeps what it is given."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    kept = tmp_path / "mail"
    (bin_dir / "sendmail").write_text(f"#!/bin/sh\ncat > {kept}\n")
    (bin_dir / "sendmail").chmod(0o755)
    shipped = REPO / "packaging" / name
    root.path(name).write_bytes(shipped.read_bytes())
    root.path(name).chmod(0o755)
    rc, out, _ = kelvora(root, "test-notify",
                         env=dict(env, PATH=f"{bin_dir}:/usr/bin:/bin"))
    assert f"{name}: sent\n" in out
    mail = kept.read_text()
    assert expect in mail and "test" in mail.lower()
    assert "event 0" not in mail.lower() and "EVENT 0" not in mail
