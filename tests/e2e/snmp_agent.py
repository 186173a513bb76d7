"""The UPS's SNMP agent for an end-to-end test: snmpd (tools/upsagent) in a network namespace
of the test's own, fed by upssim's state file.

    with Netns() as ns, Upssim(d, state_file=True) as ups:
        agent = Agent(ns, ups, d / "agent").start()
        ups.ctl("utility", "fail")
        assert agent.get(LINE_VOLTAGE) == "0"
        run(ns.wrap() + [vornd, ...])       # configured with agent.peer

The agent listens at a non-loopback address because the programs take any address that begins
with "127" for "no agent". Standard library only, so any test can import it.
"""

import ctypes
import itertools
import json
import os
import pathlib
import re
import signal
import subprocess
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
UPS = ".1.3.6.1.4.1.935.1.1.1"
LINE_VOLTAGE = UPS + ".3.2.1.0"
SYS_UPTIME = ".1.3.6.1.2.1.1.3.0"
STOP_TIMEOUT = 3.0

_NAME = re.compile(r"kvsnmp(\d+)x\d+")
_ESCAPE = re.compile(r"\\x([0-9a-f]{2})")
_counter = itertools.count()
_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1


def upsagent():
    """The agent launcher: $UPSAGENT, else the repository's."""
    return os.environ.get("UPSAGENT") or str(REPO / "tools" / "upsagent" / "upsagent")


def _die_with_parent():
    # Runs in the child before exec: if pytest itself is killed, its agents go with it.
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def _ip(*args):
    return subprocess.run(["ip", *args], capture_output=True, text=True, timeout=10)


class NetnsError(RuntimeError):
    """`ip netns` is not usable here (not root, no kernel support, no iproute2)."""


class AgentError(RuntimeError):
    """snmpd did not start or did not answer."""


class Netns:
    """A network namespace with `lo` up and `address` on it; everything that runs inside it
    is killed when it is deleted."""

    def __init__(self):
        n = next(_counter)
        self.name = f"kvsnmp{os.getpid()}x{n}"
        # Namespaces do not share addresses, so this only has to differ from test to test
        # for the logs to be readable.
        self.address = f"10.200.{(os.getpid() * 8 + n) % 254 + 1}.2"
        self.created = False

    def wrap(self):
        return ["ip", "netns", "exec", self.name]

    def create(self):
        _remove_orphans()
        for args in (["netns", "add", self.name],
                     ["-n", self.name, "link", "set", "lo", "up"],
                     ["-n", self.name, "addr", "add", f"{self.address}/24", "dev", "lo"]):
            try:
                done = _ip(*args)
            except (OSError, subprocess.TimeoutExpired) as e:
                done = subprocess.CompletedProcess(args, 1, "", str(e))
            if done.returncode != 0:
                self.delete()
                raise NetnsError(f"ip {' '.join(args)}: {done.stderr.strip()}")
            self.created = True
        return self

    def delete(self):
        if self.created:
            _delete_namespace(self.name)
            self.created = False

    def __enter__(self):
        return self.create()

    def __exit__(self, *exc):
        self.delete()


def _delete_namespace(name):
    # A namespace outlives its name while processes run in it: end them first.
    deadline = time.monotonic() + STOP_TIMEOUT
    while time.monotonic() < deadline:
        pids = [int(p) for p in _ip("netns", "pids", name).stdout.split() if p.isdigit()]
        if not pids:
            break
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.05)
    _ip("netns", "del", name)


def _remove_orphans():
    """Namespaces left by test processes that were killed before they could clean up."""
    try:
        listing = _ip("netns", "list").stdout
    except OSError:
        return
    for line in listing.splitlines():
        m = _NAME.fullmatch(line.split(" ")[0])
        if m and not os.path.exists(f"/proc/{m.group(1)}"):
            _delete_namespace(m.group(0))


class Agent:
    """snmpd with the UPS backend inside `netns`, showing the simulator `ups` (started with
    state_file=True). Its files live in `directory`: snmpd.conf, snmpd.log, backend.log (the
    backend's warnings), sets.log, overrides.json."""

    def __init__(self, netns, ups, directory, community="gazers", port=161):
        self.netns = netns
        self.ups = ups
        self.dir = pathlib.Path(directory)
        self.community = community
        self.port = port
        self.peer = netns.address if port == 161 else f"{netns.address}:{port}"
        self.sets_path = self.dir / "sets.log"
        self.overrides_path = self.dir / "overrides.json"
        self.log_path = self.dir / "snmpd.log"
        self.backend_log_path = self.dir / "backend.log"
        self.process = None
        self._overrides = {}

    def start(self, timeout=10):
        """Starts snmpd and returns once it answers; raises AgentError otherwise."""
        if not self.ups.state_path:
            raise AgentError("the agent needs an Upssim started with state_file=True")
        self.dir.mkdir(parents=True, exist_ok=True)
        cmd = [*self.netns.wrap(), upsagent(), "--dir", str(self.dir),
               "--address", f"{self.netns.address}:{self.port}", "--state", self.ups.state_path,
               "--control", self.ups.socket_path, "--community", self.community]
        with open(self.log_path, "ab") as log:
            # A session of its own: stop() can then reach the backend snmpd forked as well.
            self.process = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=log,
                                            stderr=subprocess.STDOUT, start_new_session=True,
                                            preexec_fn=_die_with_parent)
        deadline = time.monotonic() + timeout
        while self.get(SYS_UPTIME, timeout=0.2) is None:
            if self.process.poll() is not None or time.monotonic() > deadline:
                status = self.process.poll()
                self.stop()
                raise AgentError(f"snmpd at {self.peer} not answering (exit status {status}):\n"
                                 + self.log_path.read_text(errors="replace"))
            time.sleep(0.05)
        # The backend starts with the first UPS request; start it now, so that it follows
        # the simulator from here on (time on battery, spikes and sags).
        self.get(LINE_VOLTAGE)
        return self

    def stop(self):
        """Ends snmpd and its backend; the address gives no answer afterwards."""
        if self.process is None:
            return
        group = self.process.pid
        if self.process.poll() is None:
            os.killpg(group, signal.SIGTERM)
            try:
                self.process.wait(STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                os.killpg(group, signal.SIGKILL)
                self.process.wait()
        try:
            os.killpg(group, signal.SIGKILL)  # a backend that outlived snmpd
        except ProcessLookupError:
            pass
        self.process = None

    def restart(self):
        """A new snmpd and backend: the stored shutdown delay, sleep time and history are gone."""
        self.stop()
        return self.start()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # --- requests from inside the namespace -----------------------------------------------
    def snmp(self, tool, *operands, options=(), timeout=2.0):
        """Runs a net-snmp tool (snmpget, snmpset, snmpwalk...) against the agent: `options`
        go before the agent's address, `operands` (objects, types, values) after it."""
        cmd = [*self.netns.wrap(), tool, "-m", "", "-v1", "-c", self.community,
               "-t", str(timeout), "-r", "0", *options, f"udp:{self.netns.address}:{self.port}",
               *operands]
        return subprocess.run(cmd, capture_output=True, encoding="latin-1", timeout=timeout + 10)

    def get(self, oid, timeout=2.0):
        """The value as the programs' SNMP library prints it (integers as digits, strings in
        double quotes), or None when the agent gives none (no answer, or noSuchName)."""
        done = self.snmp("snmpget", oid, options=["-Oqv"], timeout=timeout)
        return done.stdout.rstrip("\n") if done.returncode == 0 else None

    def set(self, oid, value, kind="i", timeout=2.0):
        """snmpset of one object; kind is snmpset's type letter. The CompletedProcess."""
        return self.snmp("snmpset", oid, kind, str(value), options=["-Oqv"], timeout=timeout)

    # --- what the backend recorded --------------------------------------------------------
    def sets(self):
        """Every SET that reached the backend, oldest first, as (oid, type, value); the value
        as snmpd passed it (strings keep their double quotes)."""
        try:
            text = self.sets_path.read_text(encoding="ascii")
        except FileNotFoundError:
            return []
        found = []
        for line in text.splitlines():
            fields = line.split("\t")
            if len(fields) == 4:
                found.append(tuple(_ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), f)
                                   for f in fields[1:]))
        return found

    def wait_set(self, oid, value, timeout):
        """Waits until a SET of `oid` to `value` (compared as text) has reached the backend."""
        deadline = time.monotonic() + timeout
        while not any(o == oid and v == str(value) for o, _, v in self.sets()):
            if time.monotonic() >= deadline:
                raise TimeoutError(f"no SET {oid} = {value} within {timeout} s; "
                                   f"SETs so far: {self.sets()[-10:]!r}")
            time.sleep(0.05)

    # --- a hostile or broken agent --------------------------------------------------------
    def override(self, oid, type, value=""):
        """From the next request on, `oid` answers as `type` ("integer", "string", any other
        pass_persist type) with `value`, or is missing with type "NONE"."""
        self._overrides[oid] = [type, value]
        self._write_overrides()

    def clear_overrides(self):
        self._overrides = {}
        self._write_overrides()

    def _write_overrides(self):
        # Replaced in one rename, so the backend never reads half of it.
        temp = self.overrides_path.with_suffix(".tmp")
        temp.write_text(json.dumps(self._overrides))
        os.replace(temp, self.overrides_path)
