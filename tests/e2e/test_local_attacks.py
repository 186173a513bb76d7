"""What an ordinary user on the same machine can do to the daemon through its message queues,
and what they must not achieve: make the administrator's `kelvora start` and `kelvora stop`
misjudge whether a daemon runs, get a second daemon started, or take a queue from the daemon.

The attacker runs as nobody, a small program that reaches the queues through libc like the
harness does. Needs root (to act as another user)."""

import itertools
import os
import pathlib
import shutil
import subprocess
import time

import pytest

from kelvora_env import DAEMON_ARG, QUEUE_IDS, _libc, binary, wait_until

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="needs root to act as another user")

NOBODY = 65534
KELVORA = binary("KELVORA", "linux", "console", "kelvora")
VORND = binary("VORND", "linux", "daemon", "vornd")
_runs = itertools.count()
MODES = {"status": 0o644, "heartbeat": 0o644, "control": 0o600, "redraw": 0o644, "command": 0o600}

# The attacker. "drain KEY": receive every heartbeat the moment it is sent (a blocked receiver
# is handed a message before anyone else may look). "spin KEY...": create the keys, over and
# over, with a mode that lets everyone in. "fake KEY": create the heartbeat queue before the
# daemon does and keep it full of the daemon's "still alive" heartbeat.
ATTACKER = r"""
import ctypes, sys, time
libc = ctypes.CDLL(None, use_errno=True)
libc.msgget.argtypes = [ctypes.c_int, ctypes.c_int]
libc.msgsnd.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
libc.msgrcv.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_long, ctypes.c_int]
libc.msgrcv.restype = ctypes.c_ssize_t
IPC_CREAT, IPC_NOWAIT, MSG_NOERROR = 0o1000, 0o4000, 0o10000

class Buf(ctypes.Structure):
    _fields_ = [("mtype", ctypes.c_long), ("mtext", ctypes.c_char * 100)]

what, keys = sys.argv[1], [int(k) for k in sys.argv[2:]]
buf = Buf()
if what == "drain":
    print("ready", flush=True)
    while True:
        q = libc.msgget(keys[0], 0)
        if q < 0 or libc.msgrcv(q, ctypes.byref(buf), 100, 0, MSG_NOERROR) < 0:
            time.sleep(0.001)  # no queue yet, or it was removed under us
elif what == "spin":
    for k in keys:
        libc.msgget(k, IPC_CREAT | 0o666)
    print("ready", flush=True)
    while True:
        for k in keys:
            libc.msgget(k, IPC_CREAT | 0o666)
elif what == "fake":
    beat, ready = Buf(4, b"axy"), False
    while True:
        q = libc.msgget(keys[0], IPC_CREAT | 0o666)
        if q >= 0:
            while libc.msgsnd(q, ctypes.byref(beat), 3, IPC_NOWAIT) == 0:
                pass  # full: the oldest heartbeats are as good as fresh ones
        if not ready:
            print("ready", flush=True)
            ready = True
        time.sleep(0.05)
"""


@pytest.fixture
def attacker(root):
    started = []

    def start(what, *queues):
        keys = [str(root.key(q)) for q in queues]
        p = subprocess.Popen(["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
                              "/usr/bin/python3", "-c", ATTACKER, what, *keys],
                             stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        started.append(p)
        assert p.stdout.readline() == "ready\n", "the attacker did not start"
        return p

    yield start
    for p in started:
        p.kill()
        p.wait()
        p.stdout.close()


def kelvora(root, *args, timeout=30):
    """Runs root's kelvora with output to a file of its own: a daemon it starts keeps that file
    as its standard output, and must not write into what a later run prints."""
    out = root.dir.parent / f"kelvora{next(_runs)}.out"
    with open(out, "wb") as f:
        rc = subprocess.run([KELVORA, *args], env=root.env(), stdout=f, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL, timeout=timeout).returncode
    return rc, out.read_text()


def daemons(root):
    """Pids of the vornd processes running in this root."""
    mine = f"KELVORA_ROOT={root.dir}".encode()
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            comm = pathlib.Path(f"/proc/{pid}/comm").read_text().strip()
            state = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
            env = pathlib.Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if comm == "vornd" and state != "Z" and mine in env:
            pids.append(int(pid))
    return sorted(pids)


def holds(predicate, seconds):
    """Whether predicate stays true for `seconds` (for what must not happen shortly after)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not predicate():
            return False
        time.sleep(0.1)
    return predicate()


def queue_ids(root):
    return {name: root.queue(name) for name in QUEUE_IDS}


def owner(root, queue):
    info = root.queue_info(queue)
    return info and info[2]


def owned_by_the_daemon(root):
    """Every queue exists, belongs to root and has the daemon's mode; else what differs."""
    wrong = {}
    for name, mode in MODES.items():
        info = root.queue_info(name)
        if info is None or (info[0], info[2]) != (mode, 0):
            wrong[name] = info and (oct(info[0]), info[2])
    return wrong


@pytest.fixture
def installed(root, ups):
    """A root as `kelvora start` expects it: the daemon beside its configuration."""
    shutil.copy(VORND, root.path("vornd"))
    root.write("shutdown.ini", "true\n")
    root.write_config(ups.link)
    return root


def start_with_kelvora(root, ups, polls=1):
    """Root's `kelvora start`; returns the daemon's pid once it has queried the UPS."""
    rc, out = kelvora(root, "start")
    # What the daemon prints as it starts may be in the file already.
    assert rc == 0 and "is currently running!" not in out, out
    wait_until(lambda: ups.commands().count("F\r") >= polls, 30, "the daemon to query the rating")
    pids = wait_until(lambda: daemons(root), 10, "the daemon process")
    assert len(pids) == 1
    return pids[0]


def stop_with_kelvora(root):
    assert kelvora(root, "stop") == (0, "")
    wait_until(lambda: not daemons(root), 30, "the daemon to end")
    assert all(root.queue_info(name) is None for name in QUEUE_IDS), "queues left behind"


def test_a_drained_heartbeat_does_not_start_a_second_daemon(installed, ups, attacker):
    root = installed
    pid = start_with_kelvora(root, ups)
    before = queue_ids(root)
    attacker("drain", "heartbeat")
    assert kelvora(root, "start") == (0, "<Kelvora> is currently running!\n")
    assert holds(lambda: daemons(root) == [pid], 1), f"daemons: {daemons(root)}"
    assert queue_ids(root) == before
    stop_with_kelvora(root)


def test_a_drained_heartbeat_does_not_keep_the_daemon_from_stopping(installed, ups, attacker):
    root = installed
    start_with_kelvora(root, ups)
    attacker("drain", "heartbeat")
    stop_with_kelvora(root)  # the daemon ends and removes its queues


def test_a_second_daemon_in_the_same_root_leaves_the_first_alone(root, running):
    before = queue_ids(root)
    root.send("redraw", 5, "001")  # waits for a screen: the daemon never reads it
    out = root.dir.parent / "second.out"
    with open(out, "wb") as f:
        second = subprocess.Popen([VORND, DAEMON_ARG], env=root.env(), stdout=f,
                                  stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    try:
        rc = second.wait(10)
    except subprocess.TimeoutExpired:
        rc = "still running"
    finally:
        second.kill()
        second.wait()
    assert (rc, out.read_text()) == (1, "<Kelvora> is currently running!\n")
    assert queue_ids(root) == before
    assert root.queue_info("redraw")[1] == 1
    assert running.alive()
    # What decides is a lock on a file nobody else may open, let alone lock or remove.
    st = os.stat(root.path("vornd.lock"))
    assert (st.st_mode & 0o7777, st.st_uid) == (0o600, 0)
    assert running.stop(30) == 0


def test_queues_recreated_by_a_user_in_a_loop_never_stay_theirs(root, ups, start_daemon, attacker):
    root.write("shutdown.ini", "true\n")
    root.write_config(ups.link)
    attacker("spin", *QUEUE_IDS)
    # The race is lost or won in microseconds: a few starts make a lost queue all but certain
    # where the daemon can lose one.
    for trial in range(1, 6):
        assert owner(root, "control") == NOBODY  # the attacker is there first
        daemon = start_daemon()
        wait_until(lambda: root.output().count("Initial Config Complete") == trial, 20,
                   f"start {trial} of the daemon")
        assert owned_by_the_daemon(root) == {}, f"start {trial}"
        assert daemon.stop(30) == 0
        wait_until(lambda: owner(root, "control") == NOBODY, 5, "the attacker's queues")


@pytest.mark.parametrize("ran_before", [False, True], ids=["fresh root", "after a first start"])
def test_a_faked_heartbeat_does_not_keep_the_daemon_from_starting(installed, ups, attacker,
                                                                   ran_before):
    root = installed
    # A fresh installation has no lock file yet; after a first start it has one that no daemon
    # holds. Neither may leave the decision to a queue any user can fill.
    if ran_before:
        start_with_kelvora(root, ups)
        stop_with_kelvora(root)
    assert root.path("vornd.lock").exists() == ran_before

    attacker("fake", "heartbeat")
    _, waiting, uid = root.queue_info("heartbeat")
    assert uid == NOBODY and waiting > 0
    pid = start_with_kelvora(root, ups, polls=2 if ran_before else 1)
    # The daemon replaced the user's queue with its own.
    assert owned_by_the_daemon(root) == {}
    root.send("control", 5, "100")
    wait_until(lambda: pid not in daemons(root), 30, "the daemon to end")


# --- what the administrator may do to a running daemon, by haste or by hand --------------------


def test_a_stop_given_while_the_daemon_starts_up_is_obeyed(installed, ups):
    root = installed
    # The daemon holds its lock before its queues stand: a stop in between is meant for it.
    for pause in (0, 0.002, 0.004, 0.008, 0.012, 0.02):
        assert kelvora(root, "start")[0] == 0
        time.sleep(pause)
        rc, out = kelvora(root, "stop")
        if out == "<Kelvora> is not running!\n":  # too early even for the lock: ask again
            wait_until(lambda: daemons(root), 10, "the daemon process")
            time.sleep(0.5)
            rc, out = kelvora(root, "stop")
        assert (rc, out) == (0, "")
        wait_until(lambda: not daemons(root), 60, f"the daemon to stop ({pause} s after start)")


def test_a_deleted_lock_file_is_put_back_by_the_running_daemon(installed, ups):
    root = installed
    pid = start_with_kelvora(root, ups)
    os.unlink(root.path("vornd.lock"))  # thought stale by an administrator
    wait_until(lambda: root.path("vornd.lock").exists(), 30, "the lock file again")
    assert kelvora(root, "start") == (0, "<Kelvora> is currently running!\n")
    assert holds(lambda: daemons(root) == [pid], 1), f"daemons: {daemons(root)}"
    stop_with_kelvora(root)


def test_a_removed_control_queue_is_put_back_and_the_daemon_stays_stoppable(installed, ups):
    root = installed
    start_with_kelvora(root, ups)
    for name in ("control", "command"):
        old = root.queue(name)
        assert _libc.msgctl(old, 0, None) == 0  # IPC_RMID, as ipcrm does
        wait_until(lambda: root.queue_info(name) is not None and root.queue(name) != old, 30,
                   f"the {name} queue again")
    root.send("command", 9, "a")
    ups.wait_for_command("T\r", timeout=20)
    stop_with_kelvora(root)
