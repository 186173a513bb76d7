"""The fast clock the agent's tests run under: its wall clock ten times faster, its timers on
the monotonic clock in real time. An event loop whose timer file descriptor is bent by the
time-shifting library sleeps forever once a timer falls due while it works, so the tests would
hang at random on a busy machine."""

import os
import subprocess
import sys

from kelvora_env import fast_agent_clock

PROBE = r"""
import ctypes, os, select, struct, time
libc = ctypes.CDLL(None, use_errno=True)
CLOCK_MONOTONIC, TFD_TIMER_ABSTIME = 1, 1

class TimerSetting(ctypes.Structure):
    _fields_ = [("interval_s", ctypes.c_long), ("interval_ns", ctypes.c_long),
                ("value_s", ctypes.c_long), ("value_ns", ctypes.c_long)]

def fires_after(flags, seconds, nanoseconds):
    fd = libc.timerfd_create(CLOCK_MONOTONIC, 0)
    setting = TimerSetting(0, 0, seconds, nanoseconds)
    assert libc.timerfd_settime(fd, flags, ctypes.byref(setting), None) == 0
    start = time.monotonic()
    while time.monotonic() - start < 3:
        if select.select([fd], [], [], 0.05)[0]:
            os.close(fd)
            return time.monotonic() - start
    os.close(fd)
    return None

wall, start = time.time(), time.monotonic()
while time.monotonic() - start < 0.2:
    pass
print(time.time() - wall, fires_after(TFD_TIMER_ABSTIME, 0, 1), fires_after(0, 0, 400_000_000))
"""


def test_the_wall_clock_runs_fast_and_timers_keep_real_time():
    env = dict(os.environ, **fast_agent_clock())
    out = subprocess.run([sys.executable, "-c", PROBE], env=env, capture_output=True, text=True,
                         timeout=60, check=True).stdout.split()
    wall, due_now, relative = (float(v) if v != "None" else None for v in out)
    assert 1.5 < wall < 3, f"0.2 s took {wall} s on the wall clock"
    assert due_now is not None and due_now < 0.5, "a timer due now never fired"
    assert relative is not None and 0.35 < relative < 2, f"a 0.4 s timer fired after {relative}"
