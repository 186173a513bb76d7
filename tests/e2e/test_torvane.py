"""Torvane protecting a machine on its own: the agent against the simulated UPS on a
pseudo-terminal, its configuration in a registry tree of the test's own, its outside programs
beside it. The wall clock runs ten times faster for the agent (libfaketime; its timers keep
real time), so a minute of countdown takes six seconds."""

import signal
import subprocess
import time

from kelvora_env import wait_until
from torvane_site import (AC_FAILURE, AC_RESTORED, BATTERY_LOW, SYSTEM_SHUTDOWN, TORVANE,
                          site)  # noqa: F401 (the fixture)


def test_a_utility_failure_is_logged_counted_down_and_ends_in_the_shutdown(site):
    site.configure(acFailDelay=1, upsOffDelay=60)
    site.start()
    site.ups.wait_for_command("F\r", timeout=30)
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")
    assert site.events()[0] == (AC_FAILURE, 2)  # a warning
    # Sixty agent seconds later: the UPS is told to switch off after a minute, no restart
    # (it comes back with the utility), then the system goes down.
    site.ups.wait_for_command("S01\r", timeout=40)
    wait_until(lambda: site.mark.exists(), 40, "Brenvik's shutdown command")
    assert site.event_ids()[-1] == SYSTEM_SHUTDOWN
    assert site.proc.poll() is None, "the agent stays until the system takes it down"


def test_power_back_before_the_deadline_stops_the_countdown(site):
    site.configure(acFailDelay=2)
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")
    site.ups.ctl("utility", "ok")
    wait_until(lambda: AC_RESTORED in site.event_ids(), 20, "the restored record")
    time.sleep(15)  # past the old deadline (two agent minutes = 12 s)
    assert not site.mark.exists()
    assert not any(c.startswith("S") for c in site.ups.commands())


def test_battery_low_shuts_down_at_once(site):
    site.configure(acFailDelay=30, upsOffDelay=120)
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")
    site.ups.ctl("battery", "low")
    site.ups.wait_for_command("S02\r", timeout=30)
    wait_until(lambda: site.mark.exists(), 40, "Brenvik's shutdown command")
    ids = site.event_ids()
    assert ids.index(BATTERY_LOW) < ids.index(SYSTEM_SHUTDOWN)


def test_a_second_agent_does_not_start_and_sigterm_ends_the_first(site):
    site.configure()
    site.start(fast=False)
    second = subprocess.run([TORVANE], env=site.env(), capture_output=True, text=True, timeout=30)
    assert second.returncode == 1
    assert "another agent is running" in second.stderr
    site.proc.send_signal(signal.SIGHUP)
    time.sleep(1)
    assert site.proc.poll() is None, "a hang-up does not stop the protection"
    site.proc.send_signal(signal.SIGTERM)
    assert site.proc.wait(30) == 0


def test_a_ups_link_that_dies_mid_countdown_still_ends_in_the_shutdown(site):
    # Three agent minutes: the UPS counts as disconnected (after five missed polls, ten seconds)
    # long before the deadline.
    site.configure(acFailDelay=3, upsOffDelay=60)
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")
    site.ups.stop()  # the cable is pulled: the pseudo-terminal hangs up
    wait_until(lambda: site.mark.exists(), 60, "the shutdown although the UPS fell silent")
    assert site.event_ids()[-1] == SYSTEM_SHUTDOWN


def test_a_ups_that_falls_silent_mid_countdown_is_still_switched_off_as_for_a_utility_failure(site):
    # Its replies stop (a broken receive wire) but it still hears: the switch-off must carry no
    # restart time, as for any utility failure, not the "none scheduled" 9999 minutes that would
    # keep it off for a week once the power is back.
    site.configure(acFailDelay=3, upsOffDelay=60)
    site.start()
    site.ups.ctl("utility", "fail")
    wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")
    site.ups.ctl("reply", "silent")
    site.ups.wait_for_command("S01\r", timeout=60)
    wait_until(lambda: site.mark.exists(), 40, "the shutdown although the UPS fell silent")
    assert not [c for c in site.ups.commands() if c.startswith("S01R")]
