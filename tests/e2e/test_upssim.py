"""The UPS simulator, driven like the daemon drives a UPS: a raw serial client on its link."""

import json
import os
import pathlib
import re
import select
import signal
import socket
import subprocess
import termios
import time
import tty

import pytest

from upssim_client import Upssim, UpssimError, binary

DEFAULT_STATUS = b"(230.0 230.0 230.0 021 50.0 2.27 25.0 00001001\r"
DEFAULT_MODEL = b"#Stavlen         SIM-1000   1.0       \r"
DEFAULT_RATING = b"#230.0 004 24.00 50.0\r"


class SerialPort:
    """Opens the link the way a monitoring program opens a serial port."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        attrs = termios.tcgetattr(self.fd)
        attrs[2] |= termios.CLOCAL | termios.CREAD
        attrs[4] = attrs[5] = termios.B2400
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)

    def close(self):
        os.close(self.fd)

    def send(self, data):
        os.write(self.fd, data)

    def read_until_cr(self, timeout=2.0):
        data = b""
        deadline = time.monotonic() + timeout
        while not data.endswith(b"\r"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                break
            data += os.read(self.fd, 256)
        return data

    def read_quiet(self, quiet=0.3, timeout=2.0):
        """Everything that arrives until the line stays quiet for `quiet` seconds."""
        data = b""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and select.select([self.fd], [], [], quiet)[0]:
            data += os.read(self.fd, 256)
        return data

    def query(self, cmd):
        self.send(cmd)
        return self.read_until_cr()


@pytest.fixture
def sim(tmp_path):
    with Upssim(tmp_path, time_scale=20, state_file=True) as ups:
        yield ups


@pytest.fixture
def port(sim):
    p = SerialPort(sim.link)
    yield p
    p.close()


def status_bits(sim):
    return sim.ctl("status")[38:46]


def cpu_seconds(pid):
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def pending_seconds(sim, kind):
    what, seconds = sim.ctl("pending").split()
    assert what == kind
    return int(seconds)


def wait_until(condition, timeout=5.0):
    """Seconds it took `condition` to become true; fails the test after `timeout`."""
    start = time.monotonic()
    while not condition():
        assert time.monotonic() - start < timeout, "condition never became true"
        time.sleep(0.01)
    return time.monotonic() - start


class TestQueries:
    def test_default_replies_are_exact_to_the_byte(self, sim, port):
        status = port.query(b"Q1\r")
        assert status == DEFAULT_STATUS and len(status) == 47
        assert status[38:46] == b"00001001" and status[46:] == b"\r"
        assert port.query(b"I\r") == DEFAULT_MODEL and len(DEFAULT_MODEL) == 39
        assert port.query(b"F\r") == DEFAULT_RATING and len(DEFAULT_RATING) == 22
        # The control socket reports the very same line, its CR written out.
        assert sim.ctl("status") == DEFAULT_STATUS[:-1].decode() + "\\r"

    def test_values_are_zero_padded_and_clamped_to_their_width(self, sim, port):
        for field, value in [("input", "5"), ("fault", "12345"), ("output", "-500"),
                             ("load", "5000"), ("frequency", "99.96"), ("battery", "9.999"),
                             ("temperature", "-5")]:
            sim.ctl("set", field, value)
        assert port.query(b"Q1\r") == b"(005.0 999.9 -99.9 999 99.9 10.0 -5.0 00001001\r"
        sim.ctl("set", "load", "-500")
        sim.ctl("set", "battery", "27")
        sim.ctl("set", "temperature", "-40")
        assert port.query(b"Q1\r")[19:38] == b"-99 99.9 27.0 -9.9 "
        sim.ctl("set", "battery", "100000")
        assert port.query(b"Q1\r")[28:32] == b"99.9"

        sim.ctl("set", "company", "A Very Long Company Name Ltd")
        sim.ctl("set", "model", "M 2")
        sim.ctl("set", "version", "0123456789ABC")
        assert port.query(b"I\r") == b"#A Very Long Com M 2        0123456789\r"
        for field, value in [("rated_voltage", "1e9"), ("rated_current", "12"),
                             ("rated_battery", "2"), ("rated_frequency", "60")]:
            sim.ctl("set", field, value)
        assert port.query(b"F\r") == b"#999.9 012 02.00 60.0\r"

    @pytest.mark.parametrize("on, off, position", [
        (("utility", "fail"), ("utility", "ok"), 38),
        (("battery", "low"), ("battery", "ok"), 39),
        (("boost", "on"), ("boost", "off"), 40),
        (("ups", "failed"), ("ups", "ok"), 41),
        (("test", "on"), ("test", "off"), 43),
    ])
    def test_control_switches_set_exactly_their_bit(self, sim, port, on, off, position):
        sim.ctl(*on)
        reply = port.query(b"Q1\r")
        expected = bytearray(DEFAULT_STATUS)
        expected[position] = ord("1")
        if on == ("utility", "fail"):
            expected[1:6] = b"000.0"  # no input voltage; the output stays on battery
        assert reply == bytes(expected)
        sim.ctl(*off)
        assert port.query(b"Q1\r") == DEFAULT_STATUS


class TestReplyModes:
    def test_broken_replies_look_as_announced(self, sim, port):
        sim.ctl("reply", "wrongfirst")
        assert port.query(b"Q1\r") == b"X" + DEFAULT_STATUS[1:]
        assert port.query(b"F\r") == b"X" + DEFAULT_RATING[1:]

        sim.ctl("reply", "toolong")
        reply = port.query(b"Q1\r")
        assert len(reply) == 81 and reply.endswith(b"\r")
        assert all(0x20 <= b <= 0x7E for b in reply[:-1])

        sim.ctl("reply", "garbage")
        replies = [port.query(b"I\r") for _ in range(5)]
        for reply in replies:
            assert reply.endswith(b"\r") and reply[:1] not in (b"(", b"#")
            assert all(0x20 <= b <= 0x7E for b in reply[:-1])
        assert len(set(replies)) > 1, "garbage is random, not one fixed text"

        sim.ctl("reply", "binary")
        for _ in range(3):
            port.send(b"Q1\r")
            reply = port.read_quiet()
            assert 2 <= len(reply) <= 60
            assert b"\r" not in reply and b"\x00" in reply and b"\xff" in reply

    def test_silent_and_nocr_hold_back_the_carriage_return(self, sim, port):
        sim.ctl("reply", "nocr")
        port.send(b"Q1\r")
        assert port.read_quiet() == DEFAULT_STATUS[:-1]
        sim.ctl("reply", "silent")
        port.send(b"Q1\rI\rF\r")
        assert port.read_quiet() == b""
        # Commands without a reply are still obeyed while the UPS keeps quiet.
        port.send(b"TL\r")
        sim.wait_for_command("TL\r")
        assert status_bits(sim)[5] == "1"
        sim.ctl("reply", "normal")
        assert port.query(b"Q1\r")[38:46] == b"00001101"


class TestTimers:
    def test_self_tests_run_for_their_scaled_time(self, sim, port):
        port.send(b"T\r")  # 10 s at scale 20
        sim.wait_for_command("T\r")
        assert port.query(b"Q1\r")[43:44] == b"1"
        elapsed = wait_until(lambda: status_bits(sim)[5] == "0")
        assert 0.3 < elapsed < 2.0

        port.send(b"TL\r")
        sim.wait_for_command("TL\r")
        time.sleep(0.7)  # longer than a short test: this one waits for the battery
        assert status_bits(sim)[5] == "1"
        sim.ctl("battery", "low")
        assert status_bits(sim) == "01001001"

        sim.ctl("battery", "ok")
        port.send(b"T01\r")  # 60 s at scale 20
        sim.wait_for_command("T01\r")
        time.sleep(1.0)
        assert status_bits(sim)[5] == "1"
        port.send(b"CT\r")
        sim.wait_for_command("CT\r")
        assert status_bits(sim)[5] == "0"

    def test_shutdown_switches_the_output_off_after_its_delay(self, sim, port):
        port.send(b"S.2R0000\r")  # 12 s at scale 20
        sim.wait_for_command("S.2R0000\r")
        assert port.query(b"Q1\r") == DEFAULT_STATUS[:44] + b"11\r"
        assert 9 <= pending_seconds(sim, "shutdown") <= 12
        assert sim.ctl("output") == "on"
        elapsed = wait_until(lambda: sim.ctl("output") == "off")
        assert 0.4 < elapsed < 2.0
        assert port.query(b"Q1\r") == b"(230.0 230.0 000.0 021 50.0 2.27 25.0 00001001\r"
        # R0000: off until the utility comes back.
        assert sim.ctl("pending") == "restart utility"
        sim.ctl("utility", "fail")
        time.sleep(0.3)
        assert sim.ctl("output") == "off"
        sim.ctl("utility", "ok")
        assert sim.ctl("output") == "on" and sim.ctl("pending") == "none"

    def test_restart_minutes_bring_the_output_back(self, tmp_path):
        with Upssim(tmp_path, time_scale=60) as sim:
            port = SerialPort(sim.link)
            port.send(b"S00R0001\r")  # off now, back 60 s (1 s scaled) later
            sim.wait_for_command("S00R0001\r")
            assert sim.ctl("output") == "off"
            assert 50 <= pending_seconds(sim, "restart") <= 60
            elapsed = wait_until(lambda: sim.ctl("output") == "on")
            assert 0.7 < elapsed < 3.0

            port.send(b"S00R0001\r")
            wait_until(lambda: sim.ctl("output") == "off")
            sim.ctl("utility", "fail")
            time.sleep(1.3)
            assert sim.ctl("output") == "off", "no restart without the utility"
            sim.ctl("utility", "ok")
            assert sim.ctl("output") == "on"
            port.close()

    def test_cancel_drops_a_pending_shutdown_and_restores_an_off_output(self, sim, port):
        port.send(b"S03\r")
        sim.wait_for_command("S03\r")
        assert 170 <= pending_seconds(sim, "shutdown") <= 180
        port.send(b"C\r")
        sim.wait_for_command("C\r")
        assert sim.ctl("pending") == "none" and status_bits(sim)[6] == "0"

        port.send(b"S.2\r")
        sim.wait_for_command("S.2\r")
        port.send(b"C\r")
        time.sleep(1.0)  # well past the 0.6 s the shutdown would have needed
        assert sim.ctl("output") == "on"

        port.send(b"S00\r")
        wait_until(lambda: sim.ctl("output") == "off")
        port.send(b"C\r")
        wait_until(lambda: sim.ctl("output") == "on")


class TestAgentRequests:
    """The requests an SNMP agent in front of the UPS passes on: commands a real unit takes
    from its network card, in UPS seconds like the serial ones."""

    @pytest.fixture
    def sim(self, tmp_path):
        with Upssim(tmp_path, time_scale=20, state_file=True,
                    args=["--control-log", str(tmp_path / "control.log")]) as ups:
            yield ups

    def test_shutdown_with_and_without_a_restart_time(self, sim, port):
        sim.ctl("shutdown", "12")  # 0.6 s scaled
        assert 9 <= pending_seconds(sim, "shutdown") <= 12
        assert status_bits(sim)[6] == "1"
        elapsed = wait_until(lambda: sim.ctl("output") == "off")
        assert 0.4 < elapsed < 2.0
        assert sim.ctl("pending") == "restart utility"

        sim.ctl("shutdown", "0", "20")  # off at once, back 1 s scaled later
        assert sim.ctl("output") == "off"
        assert 15 <= pending_seconds(sim, "restart") <= 20
        elapsed = wait_until(lambda: sim.ctl("output") == "on")
        assert 0.7 < elapsed < 2.0

        sim.ctl("shutdown", "0.5")  # fractions of a second are fine
        wait_until(lambda: sim.ctl("output") == "off", 1.0)
        # The same UPS on the serial line: C brings it back.
        port.send(b"C\r")
        wait_until(lambda: sim.ctl("output") == "on")

    def test_selftest_for_seconds_or_until_the_battery_is_low(self, sim):
        sim.ctl("selftest", "10")  # 0.5 s scaled
        assert status_bits(sim)[5] == "1"
        elapsed = wait_until(lambda: status_bits(sim)[5] == "0")
        assert 0.3 < elapsed < 2.0

        sim.ctl("selftest", "low")
        time.sleep(0.8)
        assert status_bits(sim)[5] == "1"
        sim.ctl("battery", "low")
        assert status_bits(sim)[5] == "0"
        sim.ctl("selftest", "low")
        assert status_bits(sim)[5] == "0", "a low battery ends such a test before it begins"

    def test_bad_arguments_are_refused_and_change_nothing(self, sim):
        for request in ["shutdown", "shutdown -1", "shutdown abc", "shutdown 1 2 3",
                        "shutdown 1e10", "shutdown nan", "shutdown 5 -5", "selftest",
                        "selftest 0", "selftest high", "selftest 5 6", "selftest -3"]:
            assert sim.request(request).startswith("error usage: "), request
        assert sim.ctl("pending") == "none" and status_bits(sim) == "00001001"

    def test_the_control_record_holds_what_the_socket_changed(self, sim, port, tmp_path):
        sim.ctl("utility", "fail")
        sim.ctl("status")
        sim.ctl("output")
        sim.ctl("pending")
        sim.request("shutdown soon")
        sim.ctl("selftest", "10")
        sim.ctl("set", "load", "40")
        sim.ctl("shutdown", "60", "120")
        port.send(b"CT\r")
        sim.wait_for_command("CT\r")
        lines = (tmp_path / "control.log").read_text().splitlines()
        for line in lines:
            assert re.fullmatch(r"\d{10,}\.\d{3}\t.*", line)
        assert [line.split("\t", 1)[1] for line in lines] == [
            "utility fail", "selftest 10", "set load 40", "shutdown 60 120"]
        # ...and the serial record only what came over the line.
        assert sim.commands() == ["CT\r"]


class TestSerialInput:
    def test_every_line_is_logged_escaped_and_appended(self, tmp_path):
        log = tmp_path / "upssim.log"
        log.write_text("1.000\tfrom an earlier run\\r\n")
        with Upssim(tmp_path) as sim:
            port = SerialPort(sim.link)
            port.send(b"Q1\r")
            port.send(b"A\\B\r")
            port.send(b"\x00\x7f\xff\n\r")
            sim.wait_for_command("\x00\x7f\xff\n\r")
            port.close()
        lines = log.read_text().splitlines()
        assert lines[0] == "1.000\tfrom an earlier run\\r"
        for line in lines[1:]:
            assert re.fullmatch(r"\d{10,}\.\d{3}\t.*", line)
            assert abs(float(line.split("\t")[0]) - time.time()) < 60
        assert [line.split("\t", 1)[1] for line in lines[1:]] == [
            "Q1\\r", "A\\\\B\\r", "\\x00\\x7f\\xff\\n\\r"]
        assert sim.commands()[1:] == ["Q1\r", "A\\B\r", "\x00\x7f\xff\n\r"]

    def test_line_feeds_split_writes_and_unknown_commands(self, sim, port):
        # A client ending lines with CR LF: the LF opens the next line and is ignored there.
        assert port.query(b"Q1\r\n") == DEFAULT_STATUS
        assert port.query(b"I\r") == DEFAULT_MODEL
        port.send(b"F")
        time.sleep(0.1)
        assert port.query(b"\r") == DEFAULT_RATING
        for cmd in (b"Q2\r", b"T00\r", b"S1\r", b"q1\r", b"\r"):
            port.send(cmd)
        sim.wait_for_command("\r")
        assert port.read_quiet() == b""
        assert status_bits(sim) == "00001001"
        assert sim.ctl("pending") == "none"

    def test_overlong_line_is_dropped_but_the_next_is_served(self, sim, port):
        port.send(b"Q" * 200 + b"\rQ1\r")
        assert port.read_until_cr() == DEFAULT_STATUS
        assert port.read_quiet() == b""
        edge = "Z" * 64 + "\r"  # 64 bytes before the CR still fit
        port.send(edge.encode())
        sim.wait_for_command(edge)
        assert sim.commands() == ["Q1\r", edge]

    def test_client_may_close_and_reopen_the_port(self, sim):
        for _ in range(3):
            port = SerialPort(sim.link)
            assert port.query(b"Q1\r") == DEFAULT_STATUS
            port.close()
        # With nobody on the line the simulator must idle, not spin on a hung-up terminal.
        before = cpu_seconds(sim.process.pid)
        time.sleep(0.5)
        assert cpu_seconds(sim.process.pid) - before < 0.2
        assert sim.process.poll() is None


class TestControl:
    def test_garbage_requests_get_errors_and_the_socket_keeps_working(self, sim):
        bad = [b"", b"   ", b"bogus", b"set load abc", b"set load 2.5", b"set battery nan",
               b"set nosuch 1", b"set input", b"utility maybe", b"utility fail now",
               b"reply loud", b"status please", b"\x00\xff\x01", b"x" * 1000]
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            s.connect(sim.socket_path)
            s.sendall(b"".join(line + b"\n" for line in bad) + b"output\n")
            answers = b""
            while answers.count(b"\n") < len(bad) + 1:
                answers += s.recv(4096)
        lines = answers.decode("latin-1").splitlines()
        assert len(lines) == len(bad) + 1
        assert all(line.startswith("error ") for line in lines[:-1]), lines
        assert lines[-1] == "ok on"
        assert sim.request("set battery 1e999").startswith("error ")

        # An endless request is refused as soon as it outgrows the buffer, newline or not.
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            s.connect(sim.socket_path)
            s.sendall(b"set company " + b"y" * 2000)
            assert s.recv(100) == b"error request too long\n"
            s.sendall(b"y" * 2000 + b"\nmodel\n")  # rest of it ignored up to its newline
            assert s.recv(100).startswith(b"error unknown request")
        assert sim.ctl("status").startswith("(230.0")
        assert status_bits(sim) == "00001001" and sim.process.poll() is None

    def test_clients_are_served_side_by_side(self, sim):
        conns = [socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) for _ in range(5)]
        try:
            for c in conns:
                c.settimeout(5)
                c.connect(sim.socket_path)
            for c in reversed(conns):
                c.sendall(b"output\n")
            assert [c.recv(100) for c in conns] == [b"ok on\n"] * 5
        finally:
            for c in conns:
                c.close()

    def test_ctl_mode_for_scripts(self, sim, tmp_path):
        def ctl(*words):
            return subprocess.run([binary(), "ctl", *words], capture_output=True, text=True,
                                  timeout=10)

        done = ctl(sim.socket_path, "utility", "fail")
        assert (done.returncode, done.stdout) == (0, "ok\n")
        assert ctl(sim.socket_path, "pending").stdout == "ok none\n"
        refused = ctl(sim.socket_path, "utility", "sideways")
        assert refused.returncode == 1 and refused.stdout.startswith("error ")
        assert ctl(str(tmp_path / "nowhere.sock"), "status").returncode == 1
        assert status_bits(sim)[0] == "1"

    def test_quit_and_sigterm_end_cleanly_and_remove_their_files(self, tmp_path):
        for how in ("quit", "sigterm"):
            ups = Upssim(tmp_path).start()
            if how == "quit":
                assert ups.request("quit") == "ok"
                ups.process.wait(5)
            else:
                ups.process.send_signal(signal.SIGTERM)
                ups.process.wait(5)
            assert ups.stop() == 0
            assert not os.path.lexists(ups.link) and not os.path.exists(ups.socket_path)

    def test_refuses_to_clobber_files_or_a_running_simulator(self, sim, tmp_path):
        other = tmp_path / "other"
        other.mkdir()
        with pytest.raises(UpssimError, match="another process is listening"):
            Upssim(other, args=["--control", sim.socket_path]).start()
        assert sim.ctl("output") == "on"

        precious = other / "ttyUPS"
        precious.write_text("not a terminal")
        with pytest.raises(UpssimError, match="not a symbolic link"):
            Upssim(other).start()
        assert precious.read_text() == "not a terminal"

    def test_state_file_follows_every_change(self, sim, port):
        path = pathlib.Path(sim.state_path)
        state = json.loads(path.read_text())
        assert state["status"] == DEFAULT_STATUS.decode()
        assert state["model"] == DEFAULT_MODEL.decode()
        assert state["rating"] == DEFAULT_RATING.decode()
        assert (state["bits"], state["output"], state["reply"]) == ("00001001", "on", "normal")
        assert list(state["flags"].values()) == [c == "1" for c in "00001001"]

        sim.ctl("utility", "fail")
        port.send(b"S00\r")
        wait_until(lambda: json.loads(path.read_text())["output"] == "off")
        state = json.loads(path.read_text())
        assert state["bits"] == "10001001" and state["flags"]["utility_fail"] is True
        assert state["status"] == "(000.0 230.0 000.0 021 50.0 2.27 25.0 10001001\r"
        assert not list(path.parent.glob("upssim.json.tmp*"))
