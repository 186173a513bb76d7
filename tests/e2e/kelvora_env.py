"""A private Kelvora root for one end-to-end test: its files, its message queues and a vornd
running in it. Standard library only (the queues are reached through libc with ctypes)."""

import ctypes
import glob
import os
import pathlib
import pty
import signal
import struct
import subprocess
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
DAEMON_ARG = " " * 12
BLANK = " " * 49
STATUS_OK = "(230.0 230.0 230.0 021 50.0 2.27 25.0 00001001\r"
MODEL_OK = "#Stavlen         SIM-1000   1.0       \r"
RATING_OK = "#230.0 004 24.00 50.0\r"
NO_RESPONSE = "UPS Adapter No Response!!, type [kelvora stop] to stop this process"

QUEUE_IDS = {"status": "1", "heartbeat": "2", "control": "3", "redraw": "4", "command": "5"}

_libc = ctypes.CDLL(None, use_errno=True)
_libc.ftok.argtypes = [ctypes.c_char_p, ctypes.c_int]
_libc.msgget.argtypes = [ctypes.c_int, ctypes.c_int]
_libc.msgsnd.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
_libc.msgrcv.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_long, ctypes.c_int]
_libc.msgrcv.restype = ctypes.c_ssize_t
_libc.msgctl.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_void_p]
IPC_NOWAIT = 0o4000
MSG_NOERROR = 0o10000
IPC_RMID = 0


class _MsgBuf(ctypes.Structure):
    _fields_ = [("mtype", ctypes.c_long), ("mtext", ctypes.c_char * 100)]


def binary(var, *default):
    return os.environ.get(var) or str(REPO.joinpath("build", *default))


def wait_until(predicate, timeout, what, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


class Root:
    """The directory vornd and kelvora see as their root, with a console file beside it."""

    def __init__(self, directory):
        self.dir = pathlib.Path(directory) / "root"
        self.dir.mkdir(mode=0o755)
        os.chmod(directory, 0o755)  # an unprivileged user's ftok() must reach the root
        self.console = pathlib.Path(directory) / "console"
        self.console.write_text("")
        self.stdout = pathlib.Path(directory) / "vornd.out"

    def path(self, name):
        return self.dir / name

    def read(self, name):
        p = self.path(name)
        return p.read_bytes().decode("latin-1") if p.exists() else None

    def write(self, name, text):
        self.path(name).write_text(text)

    def write_config(self, comport, **fields):
        values = {"acfail": 5, "battlow": 1, "turnoff": "3.0", "rating": "0.0", "comport": comport,
                  "turnoff_ups": 1, "schedule": 0, "countdown": 1, "mode": 0,
                  "ip": "127.0.0.1", "community": "gazers"}
        values.update(fields)
        self.write("kelvora.cfg", "".join(f"[{v}]\n" for v in values.values()))

    def env(self, **extra):
        env = dict(os.environ)
        env.update(KELVORA_ROOT=str(self.dir), KELVORA_CONSOLE=str(self.console),
                   KELVORA_UTMP=str(self.dir / "no-utmp"))
        env.update(extra)
        return env

    # --- message queues -------------------------------------------------------------------
    def key(self, queue):
        return _libc.ftok(str(self.dir).encode(), ord(QUEUE_IDS[queue]))

    def queue_info(self, queue):
        """(mode, message count, owner uid) of the queue, or None when it does not exist."""
        key = self.key(queue)
        with open("/proc/sysvipc/msg") as f:
            next(f)
            for line in f:
                cols = line.split()
                if int(cols[0]) == key:
                    return int(cols[2], 8) & 0o777, int(cols[4]), int(cols[7])
        return None

    def queue(self, queue):
        q = _libc.msgget(self.key(queue), 0)
        if q < 0:
            raise AssertionError(f"the {queue} queue does not exist")
        return q

    def send(self, queue, mtype, text):
        buf = _MsgBuf(mtype, text.encode())
        if _libc.msgsnd(self.queue(queue), ctypes.byref(buf), len(text), IPC_NOWAIT) != 0:
            raise OSError(ctypes.get_errno(), f"msgsnd on the {queue} queue")

    def receive(self, queue, mtype=0):
        buf = _MsgBuf()
        n = _libc.msgrcv(self.queue(queue), ctypes.byref(buf), 100, mtype, IPC_NOWAIT | MSG_NOERROR)
        return None if n < 0 else buf.mtext[:n].decode("latin-1")

    def drain(self, queue):
        texts = []
        while (t := self.receive(queue)) is not None:
            texts.append(t)
        return texts

    def kill_strays(self):
        """Kills what still runs in this root (a daemon that `kelvora start` left behind when a
        test failed half-way): it ignores the polite signals by design."""
        mine = f"KELVORA_ROOT={self.dir}".encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if mine in f.read().split(b"\0"):
                        os.kill(int(pid), signal.SIGKILL)
            except OSError:
                pass

    def remove_queues(self):
        for name in QUEUE_IDS:
            q = _libc.msgget(self.key(name), 0)
            if q >= 0:
                _libc.msgctl(q, IPC_RMID, None)

    # --- output ---------------------------------------------------------------------------
    def console_lines(self):
        return self.console.read_text(errors="replace").splitlines()

    def output(self):
        return self.stdout.read_text(errors="replace") if self.stdout.exists() else ""


class Daemon:
    """vornd in a root, stopped the way an administrator stops it (or killed at the end)."""

    def __init__(self, root, args=(DAEMON_ARG,), wrapper=(), **env):
        self.root = root
        self.out = open(root.stdout, "ab")
        self.proc = subprocess.Popen([*wrapper, binary("VORND", "linux", "daemon", "vornd"), *args],
                                     env=root.env(**env), stdout=self.out, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)

    def alive(self):
        return self.proc.poll() is None

    def wait_output(self, text, timeout=30):
        wait_until(lambda: text in self.root.output(), timeout, f"vornd to print {text!r}")

    def stop(self, timeout=60):
        """Sends the stop request and returns the exit status."""
        self.root.send("control", 5, "100")
        return self.proc.wait(timeout)

    def kill(self):
        if self.alive():
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()
        self.out.close()


def utmp_record(line, user, pid=1):
    """One 384-byte login record of the C library's layout."""
    head = struct.pack("<hxxi32s4s32s256s", 7, pid, line.encode(), b"ts", user.encode(), b"")
    return head + bytes(384 - len(head))


class Terminal:
    """A pseudo-terminal a user is logged in on: what the daemon writes to it can be read."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        os.set_blocking(self.master, False)
        self.line = os.ttyname(self.slave)[len("/dev/"):]
        self.seen = b""

    def text(self):
        try:
            while chunk := os.read(self.master, 4096):
                self.seen += chunk
        except (BlockingIOError, OSError):
            pass
        return self.seen.decode(errors="replace").replace("\r\n", "\n")

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def find_faketime(threaded=False):
    """libfaketime wherever this machine's architecture keeps it. A program of several threads
    gets its synchronised build: the plain one keeps its state in unguarded globals, and a
    thread may read a time made of two others' halves."""
    name = "libfaketimeMT.so.1" if threaded else "libfaketime.so.1"
    for pattern in (f"/usr/lib/*/faketime/{name}", f"/usr/lib/faketime/{name}"):
        found = sorted(glob.glob(pattern))
        if found:
            return found[0]
    return None


def fast_agent_clock():
    """The environment that runs the agent's wall clock ten times faster while its timers,
    on the monotonic clock, keep real time. The speed never changes, so the library may keep
    what it parsed."""
    library = find_faketime(threaded=True)
    assert library, "libfaketime is not installed"
    # libfaketime fakes timer file descriptors even when the monotonic clock is left alone;
    # this one, ahead of it, hands them to the kernel untouched.
    real_timers = binary("REAL_TIMERFD", "tests", "e2e", "real_timerfd.so")
    assert os.path.exists(real_timers), f"{real_timers} is not built"
    return dict(LD_PRELOAD=f"{real_timers}:{library}", FAKETIME="+0 x10",
                FAKETIME_DONT_FAKE_MONOTONIC="1")


def write_vorn_ini(root, comport, days):
    """vorn.ini with the schedule on: `days` maps a C weekday (0 Sunday) to
    (restart hour, restart minute, shutdown hour, shutdown minute)."""
    head = struct.pack("<hhff30s30s30shhxxiii", 5, 1, 3.0, 0.0, comport.encode(), b"127.0.0.1",
                       b"gazers", 1, 1, 0, 1, 0)
    week = b"".join(struct.pack("<iiii", *days.get(d, (-1, -1, -1, -1))) for d in range(7))
    root.path("vorn.ini").write_bytes(head + week)


def shutdown_soon(restart_after):
    """A schedule that shuts down at a whole minute two to three minutes from now and restarts
    `restart_after` minutes after that moment."""
    at = (int(time.time()) + 120) // 60 * 60 + 60
    days = {}
    for when, slot in ((at, (2, 3)), (at + restart_after * 60, (0, 1))):
        t = time.localtime(when)
        entry = list(days.get((t.tm_wday + 1) % 7, (-1, -1, -1, -1)))
        entry[slot[0]], entry[slot[1]] = t.tm_hour, t.tm_min
        days[(t.tm_wday + 1) % 7] = tuple(entry)
    return days
