#!/usr/bin/python3
"""Writes the golden and deliberately broken files beside this script.

The bytes are built here with struct, straight from the record layouts, and not with the
library, so that a mistake in the library's encoder cannot hide in its own golden files.
Run it again only when a layout changes on purpose.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def num(v):
    return struct.pack("<i", v) if v < 0 else struct.pack("<I", v)


def string(s):
    b = s.encode("latin-1")
    if len(b) < 0xFF:
        return bytes([len(b)]) + b
    if len(b) < 0xFFFF:
        return b"\xff" + struct.pack("<H", len(b)) + b
    return b"\xff\xff\xff" + struct.pack("<I", len(b)) + b


def write(name, data, mode="wb"):
    with open(os.path.join(HERE, name), mode) as f:
        f.write(data)


config = b"".join([
    num(0), num(4), num(2400), num(0), num(0), num(30), num(10), num(1), num(120), num(0),
    string(""), num(0), num(30), num(1), num(1), num(0), num(30), num(0), num(0), string(""),
    num(1), string(""), num(1), num(1),
])
assert len(config) == 87
write("config_default.bin", config)
# A value cut inside field 7 (the utility-failure delay): six whole numbers and two bytes.
write("config_truncated.bin", config[:26])

texts = [
    "Attention! Utility Power Failure!", "Attention! UPS Battery Low!", "Utility Power Restored",
    "UPS Recovered from Low Battery", "Scheduled Shutdown Warning", "Scheduled Shutdown Aborted",
    "Attention! UPS Failure",
]
write("msgtab_default.bin", b"".join(string(t) + string("") * 3 for t in texts))

write("string_255.bin", string("x" * 255))
write("string_70000.bin", string("".join(chr(ord("a") + i % 26) for i in range(70000))))
# A string that claims 4 GB and carries three bytes.
write("string_hostile.bin", b"\xff\xff\xff" + struct.pack("<I", 0xFFFFFFFF) + b"abc")

# Event record: id (32), type (16), time (32).
def event(eid, etype, t):
    return struct.pack("<IHI", eid, etype, t)


T0 = 1700000000  # 2023-11-14 22:13:20 UTC
write("first_event.evt", num(1) + event(0x6D, 2, T0))
three = [event(0x6D, 2, T0), event(0x6E, 4, T0 + 60), event(0x71, 4, T0 + 120)]
write("three_events.evt", num(3) + b"".join(three))
# An append that died half-way through its record: the count already says 3.
write("torn_count_first.evt", num(3) + three[0] + three[1] + three[2][:4])
# An append that wrote its record but not its count.
write("count_behind.evt", num(2) + b"".join(three))


def sample(i):
    return struct.pack("<iiiiiiI", 2200 + i, 2210 + i, 350 + i, 100 - i, 251 + i, 600 - i,
                       T0 + 30 * i)


write("three_samples.dat", num(3) + b"".join(sample(i) for i in range(3)))

write("closeapp_two.ini", (
    "[Main]\r\nAppNumber=2\r\nApp0=Notepad\r\nApp1=Word Processor\r\nShowMsg=1\r\n\r\n"
    "[Notepad]\r\nTitle=Untitled - Notepad\r\nFileNumber=0\r\n\r\n"
    "[Word Processor]\r\nTitle=Report.doc\r\nFileNumber=3\r\n"
    "File0=C:\\Docs\\Report.doc\r\nFile1=C:\\Docs\\Budget.doc\r\nFile2=C:\\Temp\\~notes.doc\r\n"
).encode("latin-1"))
# Claims two billion applications in a file that names one.
write("closeapp_hostile.ini",
      b"[Main]\r\nAppNumber=2000000000\r\nApp0=Only\r\nShowMsg=1\r\n[Only]\r\nFileNumber=999999999\r\nFile0=a.txt\r\n")
