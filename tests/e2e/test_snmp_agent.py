"""The test SNMP agent itself (tools/upsagent), asked with net-snmp's own snmpget and snmpset
from inside its namespace: the simulator seen through SNMP must be the one on the serial line,
because the daemon's and the console's SNMP tests trust it."""

import os
import pathlib
import subprocess
import time

import pytest

from snmp_agent import UPS, Netns, NetnsError, upsagent
from upssim_client import Upssim

MODEL = UPS + ".1.1.1.0"
NAME = UPS + ".1.1.2.0"
FIRMWARE = UPS + ".1.2.1.0"
BATTERY_STATUS = UPS + ".2.1.1.0"
TIME_ON_BATTERY = UPS + ".2.1.2.0"
CAPACITY = UPS + ".2.2.1.0"
BATTERY_VOLTAGE = UPS + ".2.2.2.0"
TEMPERATURE = UPS + ".2.2.3.0"
RATING_VOLTAGE = UPS + ".2.2.6.0"
LINE_VOLTAGE = UPS + ".3.2.1.0"
LAST_SPIKE = UPS + ".3.2.2.0"
LAST_SAG = UPS + ".3.2.3.0"
INPUT_FREQUENCY = UPS + ".3.2.4.0"
FAILURE_CAUSE = UPS + ".3.2.5.0"
OUTPUT_STATUS = UPS + ".4.1.1.0"
OUTPUT_VOLTAGE = UPS + ".4.2.1.0"
OUTPUT_FREQUENCY = UPS + ".4.2.2.0"
LOAD = UPS + ".4.2.3.0"
RATED_OUTPUT = UPS + ".5.2.1.0"
SHUTDOWN_DELAY = UPS + ".5.2.10.0"
SLEEP_TIME = UPS + ".5.2.11.0"
TURN_OFF = UPS + ".6.2.1.0"
REBOOT = UPS + ".6.2.2.0"
SLEEP = UPS + ".6.2.3.0"
TO_BATTERY = UPS + ".6.2.4.0"
LIGHTS_AND_BEEP = UPS + ".6.2.5.0"
TO_UTILITY = UPS + ".6.2.6.0"
SELF_TEST = UPS + ".7.2.2.0"
SELF_TEST_STATE = UPS + ".7.2.3.0"
CALIBRATE = UPS + ".7.2.6.0"
SYS_NAME = ".1.3.6.1.2.1.1.5.0"
BACKEND = pathlib.Path(upsagent()).with_name("backend.py")


def wait_for(condition, timeout=5.0, what="the agent"):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        time.sleep(0.05)


def control_record(agent):
    """What reached the simulator by its control socket, request by request."""
    path = agent.ups.directory / "control.log"
    if not path.exists():
        return []
    return [line.split("\t", 1)[1] for line in path.read_text().splitlines()]


def ups_requests(agent):
    # The tests' own switches (utility fail...) are in the record too; keep the agent's.
    return [r for r in control_record(agent) if r.split()[0] in ("shutdown", "selftest", "test")]


class TestReadings:
    def test_every_reading_comes_from_the_simulator_at_the_moment_of_asking(self, agent):
        expected = {LINE_VOLTAGE: "2300", BATTERY_STATUS: "2", CAPACITY: "100",
                    BATTERY_VOLTAGE: "23", TEMPERATURE: "250", RATING_VOLTAGE: "240",
                    INPUT_FREQUENCY: "500", OUTPUT_STATUS: "2", OUTPUT_VOLTAGE: "2300",
                    OUTPUT_FREQUENCY: "500", LOAD: "21", SELF_TEST_STATE: "2",
                    RATED_OUTPUT: "230", FAILURE_CAUSE: "1", TIME_ON_BATTERY: "0",
                    MODEL: '"SIM-1000"', NAME: '"Stavlen"', FIRMWARE: '"1.0"',
                    SYS_NAME: '"upsagent"'}
        assert {oid: agent.get(oid) for oid in expected} == expected

        for field, value in [("input", "241.3"), ("output", "228.6"), ("load", "55"),
                             ("temperature", "31.5"), ("frequency", "59.9"),
                             ("model", "BIG-3000"), ("company", "Othermade")]:
            agent.ups.ctl("set", field, value)
        assert [agent.get(o) for o in (LINE_VOLTAGE, OUTPUT_VOLTAGE, LOAD, TEMPERATURE,
                                       INPUT_FREQUENCY, OUTPUT_FREQUENCY, MODEL, NAME)] == [
            "2413", "2286", "55", "315", "599", "599", '"BIG-3000"', '"Othermade"']
        agent.ups.ctl("boost", "on")
        assert agent.get(OUTPUT_STATUS) == "4"

    def test_utility_failure_and_battery_low(self, agent):
        ups = agent.ups
        for volts in ("251.0", "201.5", "230.0"):
            ups.ctl("set", "input", volts)
            time.sleep(0.3)  # the history looks ten times a second; nobody asks the agent
        ups.ctl("utility", "fail")
        assert [agent.get(o) for o in (LINE_VOLTAGE, OUTPUT_STATUS, FAILURE_CAUSE)] == [
            "0", "3", "4"]
        time.sleep(1.3)
        assert 1 <= int(agent.get(TIME_ON_BATTERY)) <= 3
        ups.ctl("battery", "low")
        assert (agent.get(BATTERY_STATUS), agent.get(CAPACITY)) == ("3", "20")

        ups.ctl("utility", "ok")
        ups.ctl("battery", "ok")
        assert [agent.get(o) for o in (LINE_VOLTAGE, TIME_ON_BATTERY, OUTPUT_STATUS,
                                       BATTERY_STATUS, CAPACITY)] == ["2300", "0", "2", "2", "100"]
        assert agent.get(FAILURE_CAUSE) == "4", "the last failure stays the last failure"
        # The blackout's 000.0 is no sag.
        assert (agent.get(LAST_SPIKE), agent.get(LAST_SAG)) == ("2510", "2015")

    def test_missing_or_half_written_state_file_means_no_ups_objects(self, agent):
        state = pathlib.Path(agent.ups.state_path)
        good = state.read_text()
        state.write_text(good[: len(good) // 2])
        assert agent.get(LINE_VOLTAGE) is None
        assert agent.get(SYS_NAME) == '"upsagent"', "snmpd itself still answers"
        agent.ups.ctl("set", "load", "30")  # the simulator writes the file afresh
        wait_for(lambda: agent.get(LOAD) == "30")
        state.unlink()
        assert agent.get(LOAD) is None
        agent.ups.ctl("set", "load", "31")
        wait_for(lambda: agent.get(LOAD) == "31")


class TestCommands:
    @pytest.mark.agent_time_scale(20)
    def test_turn_off_after_the_stored_delay(self, agent):
        assert agent.set(SHUTDOWN_DELAY, 12).returncode == 0
        assert agent.get(SHUTDOWN_DELAY) == "12"
        assert agent.set(TURN_OFF, 2).returncode == 0
        assert agent.sets() == [(SHUTDOWN_DELAY, "integer", "12"), (TURN_OFF, "integer", "2")]
        assert ups_requests(agent) == ["shutdown 12"]
        kind, seconds = agent.ups.ctl("pending").split()
        assert kind == "shutdown" and 9 <= int(seconds) <= 12
        assert agent.get(OUTPUT_STATUS) == "2", "not before the delay"
        wait_for(lambda: agent.get(OUTPUT_STATUS) == "5", 3)
        assert (agent.get(OUTPUT_VOLTAGE), agent.get(OUTPUT_FREQUENCY)) == ("0", "0")
        assert agent.ups.ctl("pending") == "restart utility", "turn off has no restart time"

    @pytest.mark.agent_time_scale(60)
    def test_sleep_and_reboot_come_back(self, agent):
        agent.set(SHUTDOWN_DELAY, 6)  # 0.1 s scaled
        agent.set(SLEEP_TIME, 1)  # 60 UPS seconds, 1 s scaled
        assert agent.set(SLEEP, 2).returncode == 0
        assert ups_requests(agent) == ["shutdown 6 60"]
        wait_for(lambda: agent.ups.ctl("output") == "off", 2)
        off = time.monotonic()
        wait_for(lambda: agent.get(OUTPUT_STATUS) == "2", 4)
        assert 0.7 < time.monotonic() - off < 3.0

        assert agent.set(REBOOT, 2).returncode == 0  # off after the delay, back 10 UPS s later
        wait_for(lambda: agent.ups.ctl("output") == "off", 2)
        wait_for(lambda: agent.ups.ctl("output") == "on", 2)
        assert ups_requests(agent) == ["shutdown 6 60", "shutdown 6 10"]

    @pytest.mark.agent_time_scale(20)
    def test_tests_calibration_and_the_battery_switch(self, agent):
        agent.set(SELF_TEST, 2)
        assert agent.get(SELF_TEST_STATE) == "4"
        wait_for(lambda: agent.get(SELF_TEST_STATE) == "2", 3, "the 10 s test to end")

        agent.set(CALIBRATE, 2)
        time.sleep(0.8)  # longer than a short test: calibration runs until the battery is low
        assert agent.get(SELF_TEST_STATE) == "4"
        agent.ups.ctl("battery", "low")
        assert agent.get(SELF_TEST_STATE) == "2"
        agent.ups.ctl("battery", "ok")

        agent.set(TO_BATTERY, 2)
        time.sleep(0.8)
        assert (agent.get(OUTPUT_STATUS), agent.get(SELF_TEST_STATE)) == ("3", "4")
        agent.set(TO_UTILITY, 2)
        assert (agent.get(OUTPUT_STATUS), agent.get(SELF_TEST_STATE)) == ("2", "2")
        assert agent.set(LIGHTS_AND_BEEP, 2).returncode == 0
        assert ups_requests(agent) == ["selftest 10", "selftest low", "test on", "test off"]

    def test_refused_sets_change_nothing_and_are_recorded_all_the_same(self, agent):
        before = agent.get(SHUTDOWN_DELAY)
        refused = [(SHUTDOWN_DELAY, "s", "12", "badValue"),  # wrong type
                   (SHUTDOWN_DELAY, "i", "-1", "badValue"),  # out of range
                   (SLEEP_TIME, "i", "10000", "badValue"),
                   (TURN_OFF, "i", "3", "badValue"),  # commands take 2
                   (LINE_VOLTAGE, "i", "0", "noSuchName")]  # read-only (v1 has no notWritable)
        for oid, kind, value, reason in refused:
            done = agent.set(oid, value, kind)
            assert done.returncode != 0 and reason in done.stderr, (oid, done.stderr)
        assert agent.get(SHUTDOWN_DELAY) == before
        assert agent.sets() == [(SHUTDOWN_DELAY, "string", '"12"'),
                                (SHUTDOWN_DELAY, "integer", "-1"), (SLEEP_TIME, "integer", "10000"),
                                (TURN_OFF, "integer", "3"), (LINE_VOLTAGE, "integer", "0")]
        assert ups_requests(agent) == [] and agent.ups.ctl("pending") == "none"

        # An object the agent does not have never reaches the backend: snmpd asks for it first.
        assert "noSuchName" in agent.set(UPS + ".9.9.0", 2).stderr
        assert len(agent.sets()) == 5

        agent.ups.stop()
        assert "genErr" in agent.set(TURN_OFF, 2).stderr, "no simulator, no command done"
        assert agent.sets()[-1] == (TURN_OFF, "integer", "2")
        assert "'shutdown 60'" in agent.backend_log_path.read_text(), "and the agent says why"


class TestHostileAgent:
    def test_overrides_replace_and_remove_objects(self, agent):
        agent.override(MODEL, "string", "M" * 2000)
        agent.override(LINE_VOLTAGE, "string", "2300")
        agent.override(BATTERY_STATUS, "NONE")
        agent.override(LOAD, "integer", -7)
        assert agent.get(MODEL) == '"' + "M" * 2000 + '"'
        assert agent.get(LINE_VOLTAGE) == '"2300"'
        assert agent.get(BATTERY_STATUS) is None
        assert agent.get(LOAD) == "-7"
        assert agent.get(TIME_ON_BATTERY) == "0", "the neighbours still answer"
        walk = agent.snmp("snmpwalk", UPS + ".2.1", options=["-On"]).stdout.splitlines()
        assert [line.split(" = ")[0] for line in walk] == [TIME_ON_BATTERY, UPS + ".2.1.3.0"]

        agent.clear_overrides()
        assert [agent.get(o) for o in (MODEL, LINE_VOLTAGE, BATTERY_STATUS, LOAD)] == [
            '"SIM-1000"', "2300", "2", "21"]

    def test_backend_survives_garbage_on_its_input(self, tmp_path):
        # The backend snmpd runs, fed by hand: nothing it reads may end it, and every request
        # gets exactly one answer, or snmpd would wait for ever or take one for the next.
        sets = tmp_path / "sets.log"
        with Upssim(tmp_path, state_file=True) as ups:
            proc = subprocess.Popen(
                ["/usr/bin/python3", str(BACKEND), "--state", ups.state_path,
                 "--control", str(tmp_path / "none.sock"), "--sets", str(sets),
                 "--overrides", str(tmp_path / "overrides.json")],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            garbage = [b"\x00\xff\x01 nonsense", b"x" * 100000,
                       b"get", b"not.an.oid",
                       b"get", UPS.encode() + b".99999999999.0",
                       b"getnext", b"9" * 5000,
                       b"set", LINE_VOLTAGE.encode(), b"integer",
                       b"set", b"\xc3\x28", b'string "\t"',
                       b"PING", b"get", LINE_VOLTAGE.encode()]
            try:
                out, _ = proc.communicate(b"\n".join(garbage) + b"\n", timeout=30)
            finally:
                proc.kill()
        assert out.decode().splitlines() == [
            "NONE", "NONE", "NONE", "NONE", "NONE", "not-writable", "not-writable",
            "PONG", LINE_VOLTAGE, "integer", "2300"]
        assert proc.returncode == 0, "the end of its input ends it quietly"
        assert [line.split("\t")[1:] for line in sets.read_text().splitlines()] == [
            [LINE_VOLTAGE, "integer", ""], ["\\xc3(", "string", '"\\x09"']]


class TestLifecycle:
    def test_stop_gives_no_answer_and_restart_answers_again(self, agent):
        agent.set(SHUTDOWN_DELAY, 30)
        agent.stop()
        assert agent.get(LINE_VOLTAGE, timeout=0.5) is None
        assert agent.get(SYS_NAME, timeout=0.5) is None
        assert not _processes_in(agent.netns.name), "snmpd or its backend outlived stop()"
        agent.restart()
        assert agent.get(LINE_VOLTAGE) == "2300"
        assert agent.get(SHUTDOWN_DELAY) == "60", "a new agent starts from its defaults"

    def test_deleting_the_namespace_ends_what_runs_in_it(self):
        if os.geteuid() != 0:
            pytest.skip("network namespaces need root")
        try:
            ns = Netns().create()
        except NetnsError as e:
            pytest.skip(str(e))
        try:
            sleeper = subprocess.Popen([*ns.wrap(), "sleep", "60"])
            wait_for(lambda: _processes_in(ns.name), 5, "sleep to start")
            assert ns.address.startswith("10.200.") and ns.address.endswith(".2")
            addresses = subprocess.run([*ns.wrap(), "ip", "-o", "addr", "show", "lo"],
                                       capture_output=True, text=True).stdout
            assert f"inet {ns.address}/24" in addresses
        finally:
            ns.delete()
        assert sleeper.wait(5) == -9
        assert ns.name not in subprocess.run(["ip", "netns", "list"], capture_output=True,
                                             text=True).stdout


def _processes_in(name):
    return subprocess.run(["ip", "netns", "pids", name], capture_output=True,
                          text=True).stdout.split()
