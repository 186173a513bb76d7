#!/usr/bin/python3
"""The UPS objects under .1.3.6.1.4.1.935.1.1.1 for snmpd's pass_persist, fed by upssim.

snmpd writes one request at a time on our standard input and reads one answer:
    PING                          -> PONG
    get / OID                     -> OID / TYPE / VALUE, or NONE
    getnext / OID                 -> the next object's OID / TYPE / VALUE, or NONE
    set / OID / "TYPE VALUE"      -> DONE, or an error word (not-writable, wrong-type, ...)
(one line each; "/" marks a line break). snmpd blocks on every answer, so every request gets
exactly one, whatever it holds, and nothing here may raise out of the loop.

The simulator's state file is read again for each request, so the agent shows what the serial
line would show at that moment; a history thread reads it as well, ten times a second, to keep
what a reading cannot tell (when the utility failed, the highest and lowest input seen). SETs
of the command objects go to the simulator's control socket; every SET, accepted or not, is
appended to the sets log. A test can replace or remove any object through the overrides file.

Standard library only: the agent must run wherever the tests run.
"""

import argparse
import json
import os
import select
import socket
import sys
import threading
import time

PREFIX = ".1.3.6.1.4.1.935.1.1.1."
INTEGER = "integer"
STRING = "string"

# snmpd reads each answer line into a 4096-byte buffer; a longer line would be split and
# the rest taken as the answer to the next request. Values are cut short of that.
MAX_VALUE = 4000
# A request line that never ends is not from snmpd; it is dropped once it is this long.
MAX_REQUEST_LINE = 65536
# snmpd sends a request in one write; a line that is not complete by then never will be
# (a SET of a type snmpd cannot format arrives without its last line feed).
LINE_WAIT = 1.0
HISTORY_PERIOD = 0.1
CONTROL_TIMEOUT = 2.0

# Settings the SNMP side keeps for itself (the simulator has no such fields), until the agent
# restarts.
DEFAULT_SHUTDOWN_DELAY = 60  # seconds
DEFAULT_SLEEP_TIME = 1  # minutes
REBOOT_RESTART = 10  # UPS seconds off during a reboot


class Reading:
    """One state file, taken apart; raises ValueError for anything not as upssim writes it."""

    def __init__(self, text):
        state = json.loads(text)
        status = state["status"]
        if not (status.startswith("(") and status.endswith("\r")):
            raise ValueError("status reply not framed")
        fields = status[1:-1].split(" ")
        if len(fields) != 8 or len(fields[7]) != 8 or set(fields[7]) - {"0", "1"}:
            raise ValueError("status reply not eight fields")
        (self.input, self.fault, self.output, self.load, self.frequency, self.battery,
         self.temperature) = (float(f) for f in fields[:7])
        bits = [b == "1" for b in fields[7]]
        (self.utility_fail, self.battery_low, self.boost, self.ups_failed, self.standby,
         self.test, self.shutdown, self.beeper) = bits
        self.output_on = state["output"] == "on"

        # "#Stavlen         SIM-1000   1.0       \r": company, model and version columns.
        model = state["model"]
        if not model.startswith("#") or len(model) < 38:
            raise ValueError("model reply too short")
        self.company = model[1:16].strip()
        self.model = model[17:27].strip()
        self.version = model[28:38].strip()
        # "#230.0 004 24.00 50.0\r"
        rating = state["rating"]
        if not rating.startswith("#"):
            raise ValueError("rating reply not framed")
        self.rated_voltage, self.rated_current, self.rated_battery, self.rated_frequency = (
            float(f) for f in rating[1:].strip().split(" "))


# Where warn() writes; snmpd gives its pass_persist children no usable standard error.
messages_path = None


def warn(text):
    line = f"{time.strftime('%H:%M:%S')} upsagent backend: {text}\n"
    try:
        if messages_path:
            with open(messages_path, "a", encoding="utf-8", errors="replace") as f:
                f.write(line)
        else:
            sys.stderr.write(line)
            sys.stderr.flush()
    except (OSError, ValueError):
        pass  # a message that cannot be written must not cost the answer


def tenths(value):
    return int(round(value * 10))


class History:
    """What the UPS has been through since the agent started, as the readings showed it."""

    def __init__(self):
        self.lock = threading.Lock()
        self.on_battery_since = None  # time.monotonic() when the utility was seen failing
        self.failed_once = False
        self.highest = None  # input volts; a blackout's 000.0 is no sag
        self.lowest = None

    def observe(self, r, now):
        with self.lock:
            if r.utility_fail:
                if self.on_battery_since is None:
                    self.on_battery_since = now
                self.failed_once = True
            else:
                self.on_battery_since = None
                self.highest = r.input if self.highest is None else max(self.highest, r.input)
                self.lowest = r.input if self.lowest is None else min(self.lowest, r.input)

    def seconds_on_battery(self, now):
        with self.lock:
            return 0 if self.on_battery_since is None else int(now - self.on_battery_since)


class View:
    """What the rows read: one reading, the history and the stored settings."""

    def __init__(self, reading, history, settings, now):
        self.r = reading
        self.h = history
        self.settings = settings
        self.now = now

    def output_status(self):
        if not self.r.output_on:
            return 5
        if self.r.utility_fail or self.r.test:  # a self-test runs the load from the battery
            return 3
        return 4 if self.r.boost else 2

    def spike(self):
        return tenths(self.h.highest if self.h.highest is not None else self.r.input)

    def sag(self):
        return tenths(self.h.lowest if self.h.lowest is not None else self.r.input)


def idle(_):
    """What a command object reads: 1, nothing in progress."""
    return 1


# The readable objects, by identifier under PREFIX (all scalars).
OBJECTS = {
    "1.1.1.0": (STRING, lambda v: v.r.model),  # model, from the model reply's model column
    "1.1.2.0": (STRING, lambda v: v.r.company),  # name: the company column
    "1.2.1.0": (STRING, lambda v: v.r.version),  # firmware revision: the version column
    "1.2.2.0": (STRING, lambda v: "03/18/2024"),  # date made: the simulator has none
    "1.2.3.0": (STRING, lambda v: "KV2403180001"),  # serial number, likewise made up
    "1.2.4.0": (STRING, lambda v: "upsagent 1.0"),  # agent revision: this backend's
    "2.1.1.0": (INTEGER, lambda v: 3 if v.r.battery_low else 2),  # battery status, 3 = low
    "2.1.2.0": (INTEGER, lambda v: v.h.seconds_on_battery(v.now)),  # since the utility failed
    "2.1.3.0": (STRING, lambda v: "03/18/2024"),  # battery replace date
    "2.2.1.0": (INTEGER, lambda v: 20 if v.r.battery_low else 100),  # capacity, percent
    "2.2.2.0": (INTEGER, lambda v: tenths(v.r.battery)),  # battery voltage as the reply shows it
    "2.2.3.0": (INTEGER, lambda v: tenths(v.r.temperature)),  # degrees C, tenths
    "2.2.5.0": (INTEGER, lambda v: 1),  # battery replace flag: 1, no need
    "2.2.6.0": (INTEGER, lambda v: tenths(v.r.rated_battery)),  # rating voltage, tenths
    "2.2.7.0": (INTEGER, lambda v: 0),  # battery current: not measured
    "3.1.1.0": (INTEGER, lambda v: 1),  # input phase: single
    "3.2.1.0": (INTEGER, lambda v: tenths(v.r.input)),  # line voltage; 000.0 once failed
    "3.2.2.0": (INTEGER, View.spike),  # last spike: highest input seen, tenths
    "3.2.3.0": (INTEGER, View.sag),  # last sag: lowest input seen while the utility was there
    "3.2.4.0": (INTEGER, lambda v: tenths(v.r.frequency)),  # input frequency, tenths
    "3.2.5.0": (INTEGER, lambda v: 4 if v.h.failed_once else 1),  # last cause: blackout / none
    "4.1.1.0": (INTEGER, View.output_status),  # 2 line, 3 battery, 4 boost, 5 off
    "4.1.2.0": (INTEGER, lambda v: 1),  # output phase: single
    "4.2.1.0": (INTEGER, lambda v: tenths(v.r.output) if v.r.output_on else 0),  # output volts
    "4.2.2.0": (INTEGER, lambda v: tenths(v.r.frequency) if v.r.output_on else 0),  # output Hz
    "4.2.3.0": (INTEGER, lambda v: int(v.r.load)),  # load, percent
    "5.1.1.0": (INTEGER, lambda v: 2),  # devices attached
    "5.2.1.0": (INTEGER, lambda v: int(round(v.r.rated_voltage))),  # rated output, whole volts
    "5.2.2.0": (INTEGER, lambda v: int(round(v.r.rated_voltage * 1.15))),  # high transfer volts
    "5.2.3.0": (INTEGER, lambda v: int(round(v.r.rated_voltage * 0.85))),  # low transfer volts
    "5.2.4.0": (INTEGER, lambda v: 1 if v.r.beeper else 0),  # alarm flag: the beeper bit
    "5.2.5.0": (INTEGER, lambda v: 30),  # alarm timer, seconds
    "5.2.6.0": (INTEGER, lambda v: 0),  # minimum return capacity, percent
    "5.2.7.0": (INTEGER, lambda v: 2),  # sensitivity: medium
    "5.2.8.0": (INTEGER, lambda v: 2),  # low-battery run time, minutes
    "5.2.9.0": (INTEGER, lambda v: 0),  # return delay, seconds
    "5.2.10.0": (INTEGER, lambda v: v.settings["5.2.10.0"]),  # shutdown delay (writable)
    "5.2.11.0": (INTEGER, lambda v: v.settings["5.2.11.0"]),  # sleep time (writable)
    "6.1.1.0": (INTEGER, idle),  # sleep on battery
    "6.2.1.0": (INTEGER, idle),  # turn off
    "6.2.2.0": (INTEGER, idle),  # reboot
    "6.2.3.0": (INTEGER, idle),  # sleep
    "6.2.4.0": (INTEGER, idle),  # switch to battery
    "6.2.5.0": (INTEGER, idle),  # lights and beep
    "6.2.6.0": (INTEGER, idle),  # switch back to utility
    "7.2.1.0": (INTEGER, lambda v: 1),  # diagnostics schedule
    "7.2.2.0": (INTEGER, idle),  # start the ten-second self-test
    "7.2.3.0": (INTEGER, lambda v: 4 if v.r.test else 2),  # self-test state, 4 = in progress
    "7.2.4.0": (INTEGER, lambda v: 1),  # last diagnostics: passed
    "7.2.5.0": (INTEGER, idle),  # lights test
    "7.2.6.0": (INTEGER, idle),  # calibration
    "7.2.7.0": (INTEGER, lambda v: 1),  # calibration result: passed
    "7.2.8.0": (STRING, lambda v: "03/18/2024"),  # calibration date
}

# Stored settings: identifier -> (lowest, highest) a SET may give.
SETTINGS = {
    "5.2.10.0": (0, 5940),  # shutdown delay, seconds (99 minutes, as the serial S command)
    "5.2.11.0": (0, 9999),  # sleep time, minutes (as the serial R field)
}


def _sleep_request(s):
    return f"shutdown {s['5.2.10.0']} {s['5.2.11.0'] * 60}"


# Command objects: identifier -> the control request that does it to the simulator, or None
# for a command with nothing the simulator could show (it is still logged).
COMMANDS = {
    "6.1.1.0": lambda s: f"shutdown {s['5.2.10.0']}",  # sleep on battery: off, no timed return
    "6.2.1.0": lambda s: f"shutdown {s['5.2.10.0']}",  # turn off after the delay, no restart
    "6.2.2.0": lambda s: f"shutdown {s['5.2.10.0']} {REBOOT_RESTART}",  # off, back shortly
    "6.2.3.0": _sleep_request,  # off after the delay, back after the sleep time
    "6.2.4.0": lambda s: "test on",  # switch to battery: a test until told otherwise
    "6.2.5.0": None,  # lights and beep
    "6.2.6.0": lambda s: "test off",  # back to utility: end that test
    "7.2.2.0": lambda s: "selftest 10",  # ten-second self-test
    "7.2.5.0": None,  # lights test
    "7.2.6.0": lambda s: "selftest low",  # calibration: discharge until the battery is low
}
GO = 2  # the value that makes a command object act

OVERRIDE_TYPES = {"integer", "unsigned", "gauge", "counter", "timeticks", "objectid",
                  "ipaddress", "string"}


def oid_key(oid):
    """A dotted identifier as a tuple for ordering; ValueError when it is not one."""
    parts = oid.strip().lstrip(".").split(".")
    if len(parts) > 128 or not all(p.isascii() and p.isdigit() and len(p) <= 10 for p in parts):
        raise ValueError(f"not a dotted identifier: {oid[:80]!r}")
    return tuple(int(p) for p in parts)


def canonical(oid):
    """The identifier as snmpd writes it: a leading dot, no leading zeros."""
    return "." + ".".join(str(n) for n in oid_key(oid))


def escape(text):
    """Backslash and anything outside printable ASCII as \\xNN, so a log line stays a line."""
    return "".join(c if " " <= c <= "~" and c != "\\" else f"\\x{ord(c):02x}" for c in text)


def clean_value(text):
    # A line feed would end the answer early and leave its rest for the next request.
    return str(text).replace("\n", " ").replace("\r", " ")[:MAX_VALUE]


class Overrides:
    """The overrides file: {"OID": [TYPE, VALUE]}, TYPE "NONE" hiding the object."""

    def __init__(self, path):
        self.path = path
        self.signature = None
        self.table = {}

    def current(self):
        try:
            st = os.stat(self.path)
        except OSError:
            self.signature, self.table = None, {}
            return self.table
        signature = (st.st_ino, st.st_mtime_ns, st.st_size)
        if signature != self.signature:
            self.signature = signature
            self.table = self._load()
        return self.table

    def _load(self):
        try:
            with open(self.path, encoding="utf-8") as f:
                raw = json.load(f)
            table = {}
            for oid, entry in raw.items():
                kind, value = entry[0], entry[1] if len(entry) > 1 else ""
                if kind != "NONE" and kind not in OVERRIDE_TYPES:
                    raise ValueError(f"{oid}: unknown type {kind!r}")
                table[canonical(oid)] = (kind, clean_value(value))
            return table
        except Exception as e:  # noqa: BLE001 - a broken file means no overrides, not no agent
            warn(f"overrides ignored: {e}")
            return {}


class Backend:
    def __init__(self, state_path, control_path, sets_path, overrides_path):
        self.state_path = state_path
        self.control_path = control_path
        self.sets_path = sets_path
        self.overrides = Overrides(overrides_path)
        self.history = History()
        self.settings = {"5.2.10.0": DEFAULT_SHUTDOWN_DELAY, "5.2.11.0": DEFAULT_SLEEP_TIME}

    def read_state(self):
        """The current reading, recorded in the history; None when the file is missing or
        half-written (the simulator replaces it atomically, but anyone may write there)."""
        try:
            with open(self.state_path, encoding="utf-8") as f:
                reading = Reading(f.read(65536))
        except Exception:  # noqa: BLE001 - whatever is in there, it is not a state we can show
            return None
        self.history.observe(reading, time.monotonic())
        return reading

    def watch(self):
        while True:
            self.read_state()
            time.sleep(HISTORY_PERIOD)

    # -- requests -------------------------------------------------------------------------

    def value(self, oid, reading, overrides):
        """(type, text) of one full identifier, or None when it has no value now."""
        if oid in overrides:
            kind, text = overrides[oid]
            return None if kind == "NONE" else (kind, text)
        if not oid.startswith(PREFIX) or oid[len(PREFIX):] not in OBJECTS or reading is None:
            return None
        kind, read = OBJECTS[oid[len(PREFIX):]]
        view = View(reading, self.history, self.settings, time.monotonic())
        return kind, clean_value(read(view))

    def get(self, oid):
        try:
            oid = canonical(oid)
        except ValueError:
            return "NONE"
        found = self.value(oid, self.read_state(), self.overrides.current())
        return "NONE" if found is None else f"{oid}\n{found[0]}\n{found[1]}"

    def getnext(self, oid):
        try:
            after = oid_key(oid)
        except ValueError:
            return "NONE"
        reading, overrides = self.read_state(), self.overrides.current()
        candidates = {PREFIX + o for o in OBJECTS} | set(overrides)
        for candidate in sorted(candidates, key=oid_key):
            if oid_key(candidate) <= after:
                continue
            found = self.value(candidate, reading, overrides)
            if found is not None:
                return f"{candidate}\n{found[0]}\n{found[1]}"
        return "NONE"

    def set(self, oid, typed_value):
        kind, _, text = typed_value.strip().partition(" ")
        self.log_set(oid, kind, text)
        try:
            short = canonical(oid)
        except ValueError:
            return "not-writable"
        short = short[len(PREFIX):] if short.startswith(PREFIX) else None
        if short not in SETTINGS and short not in COMMANDS:
            return "not-writable"
        if kind != INTEGER:
            return "wrong-type"
        try:
            number = int(text)
        except ValueError:
            return "wrong-value"
        if short in SETTINGS:
            low, high = SETTINGS[short]
            if not low <= number <= high:
                return "wrong-value"
            self.settings[short] = number
            return "DONE"
        if number != GO:
            return "wrong-value"
        request = COMMANDS[short]
        if request is None:
            return "DONE"
        return "DONE" if self.tell_simulator(request(self.settings)) else "commit-failed"

    def log_set(self, oid, kind, text):
        line = f"{time.time():.3f}\t{escape(oid)}\t{escape(kind)}\t{escape(text)}\n"
        try:
            fd = os.open(self.sets_path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
            try:
                os.write(fd, line.encode("ascii"))
            finally:
                os.close(fd)
        except OSError as e:
            warn(f"sets log: {e}")

    def tell_simulator(self, request):
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.settimeout(CONTROL_TIMEOUT)
                s.connect(self.control_path)
                s.sendall(request.encode("ascii") + b"\n")
                answer = b""
                while not answer.endswith(b"\n") and len(answer) < 4096:
                    chunk = s.recv(4096)
                    if not chunk:
                        break
                    answer += chunk
        except OSError as e:
            warn(f"{request!r}: {e}")
            return False
        if answer.rstrip(b"\n") != b"ok":
            warn(f"{request!r}: {answer!r}")
            return False
        return True


class LineReader:
    """Lines from a descriptor, with a time limit for the lines after a request's first."""

    def __init__(self, fd):
        self.fd = fd
        self.buffer = b""
        self.eof = False
        self.overlong = None  # the start of a line being thrown away, up to its line feed

    def line(self, wait=None):
        """The next line without its line feed (an over-long one cut to its start); None at
        the end of input, or when `wait` seconds pass with nothing more (then whatever came
        is the line)."""
        while b"\n" not in self.buffer:
            if len(self.buffer) > MAX_REQUEST_LINE:
                if self.overlong is None:
                    self.overlong = self.buffer[:80]
                self.buffer = b""
            if self.eof or (wait is not None and
                            not select.select([self.fd], [], [], wait)[0]):
                rest = self.overlong if self.overlong is not None else self.buffer
                self.buffer, self.overlong = b"", None
                return rest.decode("latin-1") if rest else None
            chunk = os.read(self.fd, 4096)
            if chunk:
                self.buffer += chunk
            else:
                self.eof = True
        line, _, self.buffer = self.buffer.partition(b"\n")
        if self.overlong is not None:
            line, self.overlong = self.overlong, None
        return line.decode("latin-1").rstrip("\r")


def serve(backend, reader, out):
    def answer(text):
        os.write(out, (text + "\n").encode("latin-1"))

    while True:
        command = reader.line()
        if command is None:
            return
        command = command.strip()
        try:
            if command == "PING":
                answer("PONG")
            elif command in ("get", "getnext"):
                oid = reader.line(LINE_WAIT)
                if oid is None:
                    answer("NONE")
                else:
                    answer(backend.get(oid) if command == "get" else backend.getnext(oid))
            elif command == "set":
                oid = reader.line(LINE_WAIT)
                value = reader.line(LINE_WAIT) if oid is not None else None
                answer("not-writable" if value is None else backend.set(oid, value))
            elif command:
                # Not from snmpd; if anyone waits for an answer, this is the harmless one.
                answer("NONE")
        except Exception as e:  # one bad request must not end the agent's UPS
            warn(f"{command!r}: {e!r}")
            answer("commit-failed" if command == "set" else "NONE")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--state", required=True, help="upssim's --state-file")
    parser.add_argument("--control", required=True, help="upssim's control socket")
    parser.add_argument("--sets", required=True, help="log of every SET")
    parser.add_argument("--overrides", required=True, help="JSON overrides file")
    parser.add_argument("--messages", help="where to append warnings (default: stderr)")
    args = parser.parse_args()
    global messages_path
    messages_path = args.messages
    backend = Backend(args.state, args.control, args.sets, args.overrides)
    threading.Thread(target=backend.watch, daemon=True).start()
    try:
        serve(backend, LineReader(sys.stdin.fileno()), sys.stdout.fileno())
    except (BrokenPipeError, KeyboardInterrupt):
        pass  # snmpd has gone


if __name__ == "__main__":
    main()
