"""upsrec against real registry trees and log files in private temporary directories.

The expected bytes are built here with struct from the record layouts, never by the tool itself.
"""
import calendar
import json
import os
import pathlib
import struct
import subprocess

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
UPSREC = os.environ.get("UPSREC", str(REPO / "build" / "tools" / "upsrec" / "upsrec"))
DATA = REPO / "tests" / "ups_lib" / "data"
KEY = pathlib.Path("Software", "Stavlen", "Torvane")


def num(v):
    return struct.pack("<i", v)


def string(s):
    b = s.encode("latin-1")
    if len(b) < 0xFF:
        return bytes([len(b)]) + b
    if len(b) < 0xFFFF:
        return b"\xff" + struct.pack("<H", len(b)) + b
    return b"\xff\xff\xff" + struct.pack("<I", len(b)) + b


def config_bytes(**changes):
    fields = dict(upsType=0, comPort=4, baudRate=2400, reserved1=0, dataLogOn=0, dataLogInterval=30,
                  acFailDelay=10, batteryLowDelay=1, upsOffDelay=120, runProgram=0, programCmdLine="",
                  reserved2=0, scheduleWarnTime=30, closeApps=1, shutdownWindows=1, showWarnings=0,
                  warnRepeat=30, emailOn=0, pagerOn=0, mailServer="", pagerPort=1, agentPassword="",
                  turnUpsOff=1, showLastShutdown=1)
    fields.update(changes)
    return b"".join(string(v) if isinstance(v, str) else num(v) for v in fields.values())


@pytest.fixture
def env(tmp_path):
    e = dict(os.environ)
    e["TORVANE_REGISTRY"] = str(tmp_path / "registry")
    e["TORVANE_HOME"] = str(tmp_path / "home")
    e["TZ"] = "UTC"
    (tmp_path / "home").mkdir()
    return e


def run(env, *args, stdin=b""):
    return subprocess.run([UPSREC, *args], input=stdin, capture_output=True, env=env, timeout=30)


def registry(env):
    return pathlib.Path(env["TORVANE_REGISTRY"])


def test_defaults_are_the_golden_records(env):
    r = run(env, "defaults", "config")
    assert r.returncode == 0, r.stderr
    assert r.stdout == config_bytes()
    assert len(r.stdout) == 87
    assert r.stdout == (DATA / "config_default.bin").read_bytes()
    assert run(env, "defaults", "msgtab").stdout == (DATA / "msgtab_default.bin").read_bytes()
    assert run(env, "defaults", "schedule").stdout == b"\0\0\0\0"
    # Reading defaults back through standard input gives the documented values.
    shown = json.loads(run(env, "show", "config", "-", "--json", stdin=config_bytes()).stdout)
    assert shown["comPort"] == 4 and shown["baudRate"] == 2400 and shown["programCmdLine"] == ""
    assert list(shown)[0] == "upsType" and len(shown) == 24


def test_show_hand_made_event_file(env, tmp_path):
    records = [(0x6D, 2, 1700000000), (0x6F, 2, 1700000100), (0x77, 4, 1700000200), (0x99, 1, 5)]
    evt = tmp_path / "Torvane.evt"
    evt.write_bytes(num(len(records)) + b"".join(struct.pack("<IHI", *r) for r in records))
    r = run(env, "show", "eventlog", str(evt))
    assert r.returncode == 0, r.stderr
    lines = r.stdout.decode().splitlines()
    assert lines == [
        "2023-11-14 22:13:20  Warning  0x6d  AC Failure",
        "2023-11-14 22:15:00  Warning  0x6f  UPS Battery Low",
        "2023-11-14 22:16:40  Information  0x77  UPS Failure",
        "1970-01-01 00:00:05  Error  0x99  (unknown event)",
    ]
    j = json.loads(run(env, "show", "eventlog", str(evt), "--json").stdout)
    assert j["count"] == 4
    assert [(x["eventId"], x["type"], x["time"]) for x in j["records"]] == records
    assert j["records"][0]["text"] == "AC Failure"
    # Without FILE the log comes from the program directory.
    (pathlib.Path(env["TORVANE_HOME"]) / "Torvane.evt").write_bytes(evt.read_bytes())
    assert run(env, "show", "eventlog").stdout == r.stdout


def test_show_torn_log_reports_and_shows_whole_records(env, tmp_path):
    r = run(env, "show", "eventlog", str(DATA / "torn_count_first.evt"), "--json")
    assert r.returncode == 0
    assert json.loads(r.stdout)["count"] == 2
    assert b"interrupted append" in r.stderr
    # Showing never repairs or otherwise writes the file.
    assert (DATA / "torn_count_first.evt").stat().st_size == 28


def test_show_data_log_from_program_directory(env):
    home = pathlib.Path(env["TORVANE_HOME"])
    (home / "Torvane.dat").write_bytes((DATA / "three_samples.dat").read_bytes())
    j = json.loads(run(env, "show", "datalog", "--json").stdout)
    assert [x["inputVoltage"] for x in j["records"]] == [2200, 2201, 2202]
    assert j["records"][2]["time"] == 1700000060


def test_set_config_changes_only_the_named_fields(env):
    value = registry(env) / KEY / "config"
    r = run(env, "set", "config", "comPort=0", "agentPassword=letmein", "programCmdLine=C:\\UPS\\pre.bat")
    assert r.returncode == 0, r.stderr
    assert value.read_bytes() == config_bytes(comPort=0, agentPassword="letmein",
                                              programCmdLine="C:\\UPS\\pre.bat")
    # Reserved fields and everything else keep what was stored, even odd values.
    value.write_bytes(config_bytes(reserved1=-5, reserved2=0x1234, mailServer="m" * 300))
    assert run(env, "set", "config", "acFailDelay=3").returncode == 0
    assert value.read_bytes() == config_bytes(reserved1=-5, reserved2=0x1234, mailServer="m" * 300,
                                              acFailDelay=3)


def test_set_msgtab_and_schedule_from_json(env, tmp_path):
    doc = tmp_path / "m.json"
    doc.write_text(json.dumps({"kinds": [{"kind": 1, "address": "ops@example.org"},
                                         {"kind": 6, "text": "UPS broke"}]}))
    assert run(env, "set", "msgtab", "--json", str(doc), "number0=5551234").returncode == 0
    shown = json.loads(run(env, "show", "msgtab", "--json").stdout)["kinds"]
    assert shown[1]["address"] == "ops@example.org"
    assert shown[6]["text"] == "UPS broke"
    assert shown[0]["number"] == "5551234"
    assert shown[0]["text"] == "Attention! Utility Power Failure!"

    sched = tmp_path / "s.json"
    sched.write_text(json.dumps({"entries": [
        {"event": 1, "frequency": 3, "time": "2024-01-31 22:00"},
        {"event": 2, "frequency": 2, "testLength": -1, "time": 1700000000}]}))
    assert run(env, "set", "schedule", "--json", str(sched)).returncode == 0
    stored = (registry(env) / KEY / "Schedule").read_bytes()
    assert stored == (num(2) + struct.pack("<HHiI", 1, 3, 0, 1706738400) +
                      struct.pack("<HHiI", 2, 2, -1, 1700000000))
    # The JSON that show prints is accepted back unchanged.
    printed = run(env, "show", "schedule", "--json").stdout
    (tmp_path / "again.json").write_bytes(printed)
    assert run(env, "set", "schedule", "--json", str(tmp_path / "again.json")).returncode == 0
    assert (registry(env) / KEY / "Schedule").read_bytes() == stored
    assert run(env, "set", "schedule", "remove=0").returncode == 0
    assert (registry(env) / KEY / "Schedule").read_bytes()[:4] == num(1)


@pytest.mark.parametrize("args, stdin, message", [
    (["show", "nothing"], b"", b"unknown KIND"),
    (["frobnicate", "config"], b"", b"unknown command"),
    (["show", "config", "-"], (DATA / "config_truncated.bin").read_bytes(), b"not a valid record"),
    (["show", "config", "-"], config_bytes() + b"x", b"unexpected bytes"),
    (["show", "status", "-"], num(1) * 8 + b"\x01" + (DATA / "string_hostile.bin").read_bytes()[:7],
     b"not a valid record"),
    (["show", "datalog", "-"], b"\xff\xff\xff\x7f", b"not a valid record list"),
    (["show", "eventlog", "/nonexistent/x.evt"], b"", b"no such file"),
    (["show", "status"], b"", b"needs a FILE"),
    (["defaults", "eventlog"], b"", b"defaults is for"),
    (["set", "config"], b"", b"nothing to change"),
    (["set", "config", "comPort=9"], b"", b"outside 0..4"),
    (["set", "config", "baudRate=fast"], b"", b"not a whole number"),
    (["set", "config", "noSuchField=1"], b"", b"no field"),
    (["set", "config", "programCmdLine=" + "p" * 301], b"", b"longer than 300"),
    (["set", "msgtab", "text7=x"], b"", b"textN"),
    (["set", "schedule", "5.time=1"], b"", b"outside 0..0"),
    (["set", "schedule", "0.time=2024-13-01 00:00"], b"", b"no month 13"),
    (["set", "schedule", "0.time=2024-01-01 10:00 pm"], b"", b"neither seconds"),
    (["set", "config", "--json", "-"], b"{not json", b"not valid JSON"),
    (["set", "config", "--json", "-"], b'{"comPort": "two"}', b"expected a whole number"),
])
def test_bad_input_is_a_clear_error(env, args, stdin, message):
    r = run(env, *args, stdin=stdin)
    assert r.returncode == 1
    assert r.stderr.startswith(b"upsrec: ")
    assert message in r.stderr, r.stderr
    # Nothing was stored by a failed command.
    assert not (registry(env) / KEY).exists()


def test_damaged_registry_value_is_never_overwritten(env):
    value = registry(env) / KEY / "config"
    value.parent.mkdir(parents=True)
    damaged = (DATA / "config_truncated.bin").read_bytes()
    value.write_bytes(damaged)
    r = run(env, "set", "config", "comPort=1")
    assert r.returncode == 1 and b"damaged" in r.stderr
    assert value.read_bytes() == damaged
    assert run(env, "show", "config").returncode == 1


def test_record_too_large_for_a_registry_value_is_refused(env, tmp_path):
    # Stored, the agent would read it back as missing and run on the defaults (no port).
    value = registry(env) / KEY / "config"
    assert run(env, "set", "config", "comPort=0").returncode == 0
    before = value.read_bytes()
    doc = tmp_path / "big.json"
    doc.write_text(json.dumps({"mailServer": "m" * 1_100_000}))
    r = run(env, "set", "config", "--json", str(doc))
    assert r.returncode == 1
    assert b"1048576" in r.stderr and b"not changed" in r.stderr, r.stderr
    assert value.read_bytes() == before
    entries = [{"event": 1, "frequency": 0, "time": i} for i in range(90_000)]
    doc.write_text(json.dumps({"entries": entries}))
    r = run(env, "set", "schedule", "--json", str(doc))
    assert r.returncode == 1 and b"1048576" in r.stderr, r.stderr
    assert not (registry(env) / KEY / "Schedule").exists()


def oversized_value(path, record):
    path.write_bytes(record + b"\0" * (1024 * 1024 + 1 - len(record)))


def looping_value(path, record):
    path.symlink_to(path.name)


@pytest.mark.parametrize("make", [oversized_value, looping_value])
@pytest.mark.parametrize("kind, name, record", [
    ("config", "config", config_bytes(comPort=2, mailServer="m" * 1_100_000)),
    ("msgtab", "msgTab", (DATA / "msgtab_default.bin").read_bytes()),
    ("schedule", "Schedule", num(1) + struct.pack("<HHiI", 1, 1, 0, 1700000000)),
], ids=["config", "msgtab", "schedule"])
def test_unreadable_registry_value_is_never_overwritten(env, make, kind, name, record):
    value = registry(env) / KEY / name
    value.parent.mkdir(parents=True)
    make(value, record)
    before = os.readlink(value) if value.is_symlink() else value.read_bytes()
    change = {"config": "comPort=0", "msgtab": "text0=x", "schedule": "0.time=1"}[kind]
    r = run(env, "set", kind, change)
    assert r.returncode == 1
    assert b"cannot be read" in r.stderr and b"not changed" in r.stderr, r.stderr
    assert (os.readlink(value) if value.is_symlink() else value.read_bytes()) == before
    # Showing it is an error too, not the defaults.
    r = run(env, "show", kind)
    assert r.returncode == 1 and b"cannot be read" in r.stderr, r.stderr
    assert r.stdout == b""


def test_registry_keys_compare_without_case(env):
    # A tree written by someone who spelled the key differently is the same key.
    odd = registry(env) / "SOFTWARE" / "stavlen" / "TORVANE"
    odd.mkdir(parents=True)
    (odd / "CONFIG").write_bytes(config_bytes(upsType=1))
    j = json.loads(run(env, "show", "config", "--json").stdout)
    assert j["upsType"] == 1
    assert run(env, "set", "config", "upsType=3").returncode == 0
    assert (odd / "CONFIG").read_bytes() == config_bytes(upsType=3)
    assert sorted(p.name for p in registry(env).iterdir()) == ["SOFTWARE"]


def test_closeinfo_show_leaves_the_report_unshown(env, tmp_path):
    ini = tmp_path / "CLOSEAPP.INI"
    ini.write_bytes((DATA / "closeapp_two.ini").read_bytes())
    j = json.loads(run(env, "show", "closeinfo", str(ini), "--json").stdout)
    assert j == {"applications": ["Notepad", "Word Processor"],
                 "files": [[], ["C:\\Docs\\Report.doc", "C:\\Docs\\Budget.doc", "C:\\Temp\\~notes.doc"]]}
    assert b"ShowMsg=1" in ini.read_bytes()


@pytest.mark.parametrize("text", [
    "2024-01-31 22:00junk", "2024-01-31 22:00:00x", "2024-01-31 22:00 ", "2024-01-31T22:00",
    "2024-02-30 10:00", "2023-02-29 10:00", "2024-04-31 10:00", "2024-00-10 10:00",
    "2024-01-01 24:00", "2024-01-01 23:60", "2024-01-01 23:59:60", "2024-01-01 -1:00",
    "2024-01-01 10:-5", "2024-01--1 10:00", "2024-01-01 +1:00", "1969-12-31 23:59",
    "2106-02-08 00:00",
])
def test_impossible_or_malformed_times_are_refused(env, text):
    r = run(env, "set", "schedule", "0.event=1", "0.frequency=0", "0.time=" + text)
    assert r.returncode == 1, (text, r.stderr)
    assert r.stderr.startswith(b"upsrec: time: "), r.stderr
    assert not registry(env).exists()


def test_valid_times_are_stored_as_given(env):
    for text, fields in [("2024-02-29 23:59:59", (2024, 2, 29, 23, 59, 59)),
                         ("2024-1-5 9:07", (2024, 1, 5, 9, 7, 0)),
                         ("2106-02-07 06:28:15", (2106, 2, 7, 6, 28, 15))]:
        assert run(env, "set", "schedule", "0.event=1", "0.time=" + text).returncode == 0, text
        # The schedule's key has always been spelled SoftWare.
        stored = (registry(env) / "SoftWare" / "Stavlen" / "Torvane" / "Schedule").read_bytes()
        assert struct.unpack("<I", stored[-4:])[0] == calendar.timegm(fields + (0, 0, 0)), text


def test_local_time_skipped_by_a_summer_time_change_is_refused(env):
    env["TZ"] = "CET-1CEST,M3.5.0,M10.5.0/3"
    r = run(env, "set", "schedule", "0.event=1", "0.time=2024-03-31 02:30")
    assert r.returncode == 1 and b"time" in r.stderr, r.stderr
    assert run(env, "set", "schedule", "0.event=1", "0.time=2024-03-31 03:30").returncode == 0


def test_closeinfo_names_are_shown_escaped(env, tmp_path):
    ini = tmp_path / "CLOSEAPP.INI"
    ini.write_bytes(b"[Main]\r\nAppNumber=1\r\nApp0=Ev\x1b[2Jil\r\nShowMsg=1\r\n"
                    b"[Ev\x1b[2Jil]\r\nFileNumber=2\r\nFile0=\x1b]0;owned\x07.doc\r\n"
                    b"File1=\"C:\\b c.xls\"\r\n")
    r = run(env, "show", "closeinfo", str(ini))
    assert r.returncode == 0, r.stderr
    assert b"\x1b" not in r.stdout and b"\x07" not in r.stdout
    assert r.stdout.decode().splitlines() == [
        '"Ev\\x1b[2Jil"', '  "\\x1b]0;owned\\x07.doc"', '  "C:\\\\b c.xls"']


@pytest.mark.parametrize("kind, name, largest", [
    ("eventlog", "Torvane.evt", 15000),
    ("datalog", "Torvane.dat", 40960),
])
def test_log_files_larger_than_the_agent_writes_are_refused(env, tmp_path, kind, name, largest):
    fine = tmp_path / "fine"
    fine.write_bytes(num(0) + b"\0" * (largest - 4))  # whole records or not, it is read
    assert run(env, "show", kind, str(fine)).returncode == 0
    big = tmp_path / name
    big.write_bytes(num(0) + b"\0" * (largest - 3))
    for where in ([str(big)], []):
        if not where:
            big.rename(pathlib.Path(env["TORVANE_HOME"]) / name)
        r = run(env, "show", kind, *where)
        assert r.returncode == 1, r.stderr
        assert b"larger than" in r.stderr and str(largest).encode() in r.stderr, r.stderr
        assert r.stdout == b""
    r = run(env, "show", kind, "-", stdin=num(0) + b"\0" * (largest - 3))
    assert r.returncode == 1 and b"larger than" in r.stderr, r.stderr
    # A huge file is refused without being read.
    huge = tmp_path / "huge"
    with open(huge, "wb") as f:
        f.truncate(60 * 1000 * 1000)
    r = run(env, "show", kind, str(huge), "--json")
    assert r.returncode == 1 and b"larger than" in r.stderr, r.stderr


def test_record_files_larger_than_the_agent_writes_are_refused(env, tmp_path):
    big = tmp_path / "big"
    big.write_bytes(config_bytes() + b"\0" * (1024 * 1024 + 1 - 87))
    r = run(env, "show", "config", str(big))
    assert r.returncode == 1 and b"larger than" in r.stderr and b"1048576" in r.stderr, r.stderr
    ini = tmp_path / "CLOSEAPP.INI"
    ini.write_bytes(b"[Main]\r\nAppNumber=0\r\n" + b";" * (4 * 1024 * 1024))
    r = run(env, "show", "closeinfo", str(ini))
    assert r.returncode == 1 and b"larger than" in r.stderr and b"4194304" in r.stderr, r.stderr

