"""The UPS simulator's SEC dialect, driven over its link the way the agent's SEC poll drives it.

Replies are read back with the agent's rules, written out again here: field N is the text after
the N-th comma, column 5 is the first data character.
"""

import os
import select
import subprocess
import time
import tty

import pytest

from upssim_client import Upssim, binary

QUERIES = ["ST1", "ST2", "ST3", "ST5", "STR", "NOM", "MAN", "MOD", "VER"]
DEFAULT_REPLIES = {
    "ST1": b"^D0220,0,0,0,0,1000,23,0,25",
    "ST2": b"^D0120,1,500,2300",
    "ST3": b"^D0160,500,1,2300,210",
    "ST5": b"^D0150,0,0,0,0,0,0,0",
    "STR": b"^D0010",
    "NOM": b"^D026230,50,230,50,1000,800,5,2",
    "MAN": b"^D007Stavlen",
    "MOD": b"^D008SIM-1000",
    "VER": b"^D0031.0",
}


class SecPort:
    """A raw client on the link; SEC replies have no terminator, so a reply is what arrives
    until the line goes quiet."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)

    def close(self):
        os.close(self.fd)

    def send(self, data):
        os.write(self.fd, data)

    def read_quiet(self, quiet=0.25, timeout=2.0):
        data = b""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and select.select([self.fd], [], [], quiet)[0]:
            data += os.read(self.fd, 256)
        return data

    def ask(self, message):
        self.send(message)
        return self.read_quiet()

    def query(self, name):
        return self.ask(b"^P003" + name.encode())

    def setting(self, body):
        return self.ask(b"^S%03d" % len(body) + body.encode())


def field(reply, index):
    """The agent's reading of field `index` of a data reply."""
    data = reply[5:5 + int(reply[2:5])]
    parts = data.split(b",")
    return int(parts[index]) if index < len(parts) and parts[index] else 0


@pytest.fixture
def sim(tmp_path):
    with Upssim(tmp_path, time_scale=20, args=["--dialect", "sec"]) as ups:
        yield ups


@pytest.fixture
def port(sim):
    p = SecPort(sim.link)
    yield p
    p.close()


def wait_until(condition, timeout=5.0):
    start = time.monotonic()
    while not condition():
        assert time.monotonic() - start < timeout, "condition never became true"
        time.sleep(0.02)
    return time.monotonic() - start


class TestQueries:
    def test_default_replies_are_exact_and_carry_their_length(self, sim, port):
        for name in QUERIES:
            reply = port.query(name)
            assert reply == DEFAULT_REPLIES[name], name
            assert int(reply[2:5]) == len(reply) - 5
        assert port.query("XYZ") == b"^0"
        assert port.ask(b"^P004ST12") == b"^0", "a query name is three letters"
        assert sim.commands()[:2] == ["^P003ST1", "^P003ST2"]

    def test_readings_are_scaled_as_the_agent_reads_them(self, sim, port):
        for name, value in [("capacity", "45.5"), ("battery", "27.12"), ("temperature", "31"),
                            ("input", "221.5"), ("output", "219"), ("load", "57"),
                            ("frequency", "49.9"), ("fault", "198.6")]:
            sim.ctl("set", name, value)
        st1 = port.query("ST1")
        assert (field(st1, 5), field(st1, 6), field(st1, 8)) == (455, 2712, 31)
        st2 = port.query("ST2")
        assert (field(st2, 2), field(st2, 3)) == (499, 2215)
        st3 = port.query("ST3")
        assert (field(st3, 3), field(st3, 4)) == (2190, 570)
        assert port.query("NOM")[5:9] == b"199,"
        # Below 10 V a client takes the number as tenths, so that is what goes out.
        sim.ctl("set", "battery", "2.27")
        assert field(port.query("ST1"), 6) == 23
        sim.ctl("set", "company", "A" * 60)
        assert port.query("MAN") == b"^D040" + b"A" * 40

    @pytest.mark.parametrize("switch, query, expected", [
        (("utility", "fail"), "ST2", b"^D0090,1,500,0"),
        (("utility", "fail"), "ST3", b"^D0161,500,1,2300,210"),
        (("utility", "fail"), "ST5", b"^D0150,1,0,0,0,0,0,0"),
        (("battery", "low"), "ST1", b"^D0220,1,0,0,0,1000,23,0,25"),
        (("battery", "low"), "ST5", b"^D0150,0,1,0,0,0,0,0"),
        (("ups", "failed"), "ST1", b"^D0220,2,0,0,0,1000,23,0,25"),
        (("ups", "failed"), "ST5", b"^D0151,0,0,0,0,0,0,0"),
        (("test", "on"), "STR", b"^D0012"),
        (("test", "on"), "ST5", b"^D0150,0,0,0,0,0,0,1"),
        (("beeper", "off"), "NOM", b"^D026230,50,230,50,1000,800,5,1"),
    ])
    def test_the_simulated_state_drives_the_replies(self, sim, port, switch, query, expected):
        sim.ctl(*switch)
        assert port.query(query) == expected
        sim.ctl(switch[0], {"fail": "ok", "low": "ok", "failed": "ok", "on": "off",
                            "off": "on"}[switch[1]])
        assert port.query(query) == DEFAULT_REPLIES[query]

    def test_output_source_tells_boost_from_buck(self, sim, port):
        sim.ctl("boost", "on")
        sim.ctl("set", "input", "200")
        assert port.query("ST3")[5:6] == b"4"
        sim.ctl("set", "input", "250")
        assert port.query("ST3")[5:6] == b"3"


class TestSettings:
    def test_shutdown_group_of_the_agent_switches_off_and_back(self, sim, port):
        # What the agent sends for a 12-second shut-down with a restore time.
        for body in ["ATR1", "SDA1", "RWD12", "PSD12"]:
            assert port.setting(body) == b"^1", body
        assert sim.ctl("pending").startswith("shutdown ")
        assert field(port.query("ST5"), 6) == 1
        wait_until(lambda: sim.ctl("output") == "off")  # 0.6 s at scale 20
        st3 = port.query("ST3")
        assert st3[5:6] == b"7" and field(st3, 3) == 0
        wait_until(lambda: sim.ctl("output") == "on")
        assert port.query("ST3") == DEFAULT_REPLIES["ST3"]

    def test_a_plain_shutdown_waits_for_the_utility_and_can_be_cancelled(self, sim, port):
        assert port.setting("PSD600") == b"^1"
        assert port.setting("PSD-1") == b"^1"
        assert sim.ctl("pending") == "none"
        sim.ctl("utility", "fail")
        assert port.setting("PSD2") == b"^1"
        wait_until(lambda: sim.ctl("output") == "off")
        assert sim.ctl("pending") == "restart utility"
        sim.ctl("utility", "ok")
        wait_until(lambda: sim.ctl("output") == "on")

    def test_tests_run_and_stop_as_asked(self, sim, port):
        assert port.setting("TST2") == b"^1"  # 10 s at scale 20
        assert port.query("STR") == b"^D0012"
        wait_until(lambda: port.query("STR") == b"^D0010", timeout=3)
        assert port.setting("TST1") == b"^1"
        time.sleep(1.0)
        assert port.query("STR") == b"^D0012", "the general test outlasts the quick one"
        assert port.setting("TST-1") == b"^1"
        assert port.query("STR") == b"^D0010"
        assert port.setting("TST3") == b"^1"
        assert port.query("STR") == b"^D0012"
        sim.ctl("battery", "low")
        assert port.query("STR") == b"^D0010"

    def test_the_beeper_setting_is_field_seven_of_nom(self, sim, port):
        assert port.setting("NOM,,,,,,,1") == b"^1"
        assert sim.ctl("status")[45] == "0"
        assert field(port.query("NOM"), 7) == 1
        assert port.setting("NOM,,,,,,,2") == b"^1"
        assert sim.ctl("status")[45] == "1"
        assert port.setting("NOM,,,,,,,3") == b"^1"
        assert sim.ctl("status")[45] == "0"
        assert port.setting("NOM,,,,,,,4") == b"^1"
        assert sim.ctl("status")[45] == "1"

    @pytest.mark.parametrize("body", ["NOM240,,,,,,,2", "NOM,,,,,,,5", "NOM,,,,,,,2,9", "TST9",
                                      "TST", "PSDabc", "PSD-2", "PSD100000", "RWD", "ATR2",
                                      "SDA10", "XYZ1", "PS"])
    def test_settings_it_cannot_take_are_refused_and_change_nothing(self, sim, port, body):
        before = sim.ctl("status")
        assert port.setting(body) == b"^0"
        assert sim.ctl("status") == before
        assert sim.ctl("pending") == "none"


class TestFraming:
    def test_messages_are_split_by_their_length_only(self, sim, port):
        # Split over two writes, answered once whole.
        port.send(b"^P00")
        assert port.read_quiet() == b""
        assert port.ask(b"3ST2") == DEFAULT_REPLIES["ST2"]
        # Two in one write, answered in order; noise and line ends around them ignored.
        assert port.ask(b"\r\nxx^P003STR^P003VER\r") == DEFAULT_REPLIES["STR"] + DEFAULT_REPLIES["VER"]
        # A message cut short by the next one is dropped; the next one counts.
        assert port.ask(b"^P003S^P003MAN") == DEFAULT_REPLIES["MAN"]
        # A header that is not one, or that announces more than the UPS can hold.
        assert port.ask(b"^PX03ST1") == b""
        assert port.ask(b"^Q003ST1") == b""
        assert port.ask(b"^S999" + b"A" * 40) == b""
        assert port.query("ST1") == DEFAULT_REPLIES["ST1"]
        assert "^P003S" not in sim.commands()

    def test_each_dialect_ignores_the_other(self, tmp_path):
        with Upssim(tmp_path, args=["--dialect", "sec"]) as ups:
            p = SecPort(ups.link)
            assert p.ask(b"Q1\r") == b""
            p.close()
        with Upssim(tmp_path) as ups:
            p = SecPort(ups.link)
            assert p.ask(b"^P003ST2") == b""
            p.close()
        bad = subprocess.run([binary(), "--link", str(tmp_path / "x"), "--dialect", "megatec"],
                             capture_output=True, text=True, timeout=10)
        assert bad.returncode == 2 and "--dialect must be q1 or sec" in bad.stderr


class TestReplyModes:
    def test_broken_replies_in_the_sec_dialect(self, sim, port):
        right = DEFAULT_REPLIES["ST1"]
        sim.ctl("reply", "silent")
        assert port.query("ST1") == b""
        assert port.setting("TST1") == b"", "even an acknowledgement is held back"
        assert port.query("STR") == b"", "but the setting was obeyed"
        sim.ctl("reply", "normal")
        assert port.query("STR") == b"^D0012"

        sim.ctl("reply", "nocr")
        assert port.query("ST1") == right[:-1]
        sim.ctl("reply", "toolong")
        reply = port.query("ST1")
        assert len(reply) == 80 and reply.startswith(right)
        sim.ctl("reply", "wrongfirst")
        assert port.query("ST1") == b"X" + right[1:]
        sim.ctl("reply", "garbage")
        for _ in range(5):
            reply = port.query("ST1")
            assert len(reply) == len(right) and reply[:1] != b"^" and reply[1:2] != b"D"
        sim.ctl("reply", "binary")
        reply = port.query("ST1")
        assert 2 <= len(reply) <= 60 and b"\x00" in reply
