"""Torvane as a service: -i, -v and -u against the agent's registry, the --service mode that
systemd's unit runs (status over the notification socket, SIGTERM as the stop request), and the
capacity line that program mode shows in place of a tray icon."""

import os
import re
import signal
import socket
import subprocess

from kelvora_env import wait_until
from torvane_site import AC_FAILURE, TORVANE, site  # noqa: F401 (the fixture)

SERVICE_KEY = "SYSTEM/CurrentControlSet/Services/Torvane"
SOURCE_KEY = "SYSTEM/CurrentControlSet/Services/EventLog/Application/Torvane"


def switch(site, arg):
    return subprocess.run([TORVANE, arg], env=site.env(), capture_output=True, text=True,
                          timeout=30)


def test_install_version_and_remove_keep_the_service_keys(site):
    first = switch(site, "-v")
    assert first.returncode == 0
    assert first.stdout == "Torvane Version 1.0\nThe service is not installed\n"

    assert switch(site, "-i").stdout == "Torvane installed\n"
    image = (site.registry / SERVICE_KEY / "ImagePath").read_bytes()
    # An expandable string is kept with its terminator, as Windows keeps it.
    assert image == os.path.realpath(TORVANE).encode() + b"\0"
    assert (site.registry / SOURCE_KEY / "TypesSupported").read_bytes() == b"\x07\0\0\0"
    assert (site.registry / SOURCE_KEY / "EventMessageFile").read_bytes() == image
    assert (site.registry / SERVICE_KEY / "Start").read_bytes() == b"\x03\0\0\0"
    assert switch(site, "-i").stdout == "Torvane is already installed\n"
    assert switch(site, "-v").stdout.endswith("The service is currently installed\n")

    removed = switch(site, "-u")
    assert removed.stdout.startswith("Torvane removed. (You must delete the file (")
    assert not (site.registry / SERVICE_KEY).exists()
    # The event viewer still needs the texts of what the service logged.
    assert (site.registry / SOURCE_KEY / "TypesSupported").exists()
    assert switch(site, "-u").stdout == "Torvane is not installed\n"
    assert switch(site, "-x").returncode == 2


def test_service_mode_tells_systemd_it_runs_protects_and_stops_on_sigterm(site):
    notify = site.place / "notify"
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    listener.bind(str(notify))
    listener.settimeout(30)
    try:
        site.extra_env["NOTIFY_SOCKET"] = str(notify)
        site.configure(acFailDelay=30)
        site.start(args=["--service"])
        assert listener.recv(256).startswith(b"READY=1\n")
        # As a service it protects the machine exactly as in the foreground.
        site.ups.wait_for_command("F\r", timeout=30)
        site.ups.ctl("utility", "fail")
        wait_until(lambda: AC_FAILURE in site.event_ids(), 20, "the AC-failure record")

        site.proc.send_signal(signal.SIGHUP)
        site.proc.send_signal(signal.SIGTERM)
        assert listener.recv(256) == b"STOPPING=1"
        assert site.proc.wait(30) == 0
        # Program mode's capacity line does not appear in the journal of a service.
        assert "UPS Capacity" not in site.output()
    finally:
        listener.close()


def test_program_mode_shows_the_capacity_when_it_changes(site):
    site.configure()
    site.start(fast=False)
    wait_until(lambda: "UPS Capacity: " in site.output(), 20, "the capacity line")
    lines = re.findall(r"Torvane: UPS Capacity: (\d+)%", site.output())
    assert lines and 0 <= int(lines[0]) <= 100
    # Refreshed every fifth second, but written only when it changes.
    site.ups.wait_for_command("Q1\r", timeout=30)
    count = len(lines)
    subprocess.run(["sleep", "11"], check=True)
    later = re.findall(r"Torvane: UPS Capacity: (\d+)%", site.output())
    assert len(later) >= count
    assert all(a != b for a, b in zip(later, later[1:])), later
