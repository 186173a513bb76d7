"""The control panel's dialogs against the real agent watching the simulated UPS: what an
administrator changes in a dialog is what the agent stores, on the byte; the logs the dialogs show
are the agent's; the event list prints. Screenshots of each dialog are kept."""

import json
import os
import struct
import subprocess
import time

from kelvora_env import wait_until
from panel_site import ARTIFACTS, Panel, pytestmark, screen  # noqa: F401 (fixtures)
from torvane_site import UPSREC, free_port, site  # noqa: F401 (the fixture)

CONFIG, SCHEDULE, EVENT_LOG, DATA_LOG = 4, 11, 8, 13
AC_FAIL_DELAY_AT = 6 * 4  # the seventh number of the configuration record
NOBODY = 65534


def listen_where_the_panel_looks(site):
    """The panel reaches the agent on this machine at 127.0.0.1, on the agent's port."""
    site.extra_env["TORVANE_LISTEN"] = "127.0.0.1"
    site.listen = "127.0.0.1"
    site.tcp_port = free_port()


def config_bytes(site):
    found = [p for p in site.registry.rglob("*") if p.name == "config"
             and p.parent.name.lower() == "torvane"]
    assert len(found) == 1, found
    return found[0].read_bytes()


def agent_show(site, kind):
    shown = subprocess.run([UPSREC, "--agent", site.listen, "--timeout", "10", "--json", "show",
                            kind], env=site.env(), capture_output=True, text=True, timeout=60)
    assert shown.returncode == 0, shown.stderr
    return json.loads(shown.stdout)


def handled(panel, code):
    return int(panel.ask(f"handled {code}")[0])


def opened(panel, item, code):
    """Opens the icon bar's `item` and waits for the record it asks for."""
    before = handled(panel, code)
    panel.ask(f"open {item}")
    wait_until(lambda: handled(panel, code) > before, 20, f"record {code} for item {item}")


def shot(panel, name):
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    path = ARTIFACTS / f"dialog-{name}.png"
    panel.ask(f"dialog {name} {path}")
    assert path.stat().st_size > 5000
    return path


def test_the_dialogs_change_what_the_agent_keeps_and_show_its_logs(site, screen):
    listen_where_the_panel_looks(site)
    # A data-log sample every 3 s (the agent's clock runs ten times faster).
    site.configure(acFailDelay=30, dataLogOn=1, dataLogInterval=30)
    site.start()
    site.ups.wait_for_command("F\r", timeout=30)
    site.ups.ctl("utility", "fail")
    wait_until(lambda: 0x6D in site.event_ids(), 20, "the AC-failure record")
    site.ups.ctl("utility", "ok")
    wait_until(lambda: 0x6E in site.event_ids(), 20, "the AC-restored record")
    panel = Panel(site.place, dict(site.env(), DISPLAY=screen.display, QT_QPA_PLATFORM="xcb"))
    try:
        panel.wait(lambda s: s["connected"], "the panel to connect")

        # The AC-fail delay, changed in the configuration dialog: the agent's stored record
        # differs in those four bytes and nowhere else.
        before = config_bytes(site)
        assert struct.unpack_from("<i", before, AC_FAIL_DELAY_AT)[0] == 30
        opened(panel, 1, CONFIG)
        shot(panel, "config")
        panel.ask("set acFailDelay 45")
        assert panel.ask("press config 確定") == []
        wait_until(lambda: config_bytes(site) != before, 20, "the agent to store the change")
        after = config_bytes(site)
        expected = bytearray(before)
        struct.pack_into("<i", expected, AC_FAIL_DELAY_AT, 45)
        assert after == bytes(expected)
        assert agent_show(site, "config")["acFailDelay"] == 45

        # A value the dialog does not accept never leaves it.
        opened(panel, 1, CONFIG)
        panel.ask("set batteryLowDelay 0")
        assert panel.ask("press config 確定") == ["refused Please enter an integer between 1 and 600."]
        time.sleep(2)
        assert config_bytes(site) == after
        panel.ask("press config 取消")

        # A scheduled shutdown added in the schedule dialog reaches the agent's schedule.
        opened(panel, 2, SCHEDULE)
        panel.ask("add 2033/05/20 22:30 1 0")
        shot(panel, "schedule")
        panel.ask("press schedule 儲存")
        wanted = int(time.mktime((2033, 5, 20, 22, 30, 0, 0, 0, -1)))
        wait_until(lambda: any(e["event"] == 1 and e["time"] == wanted
                               for e in agent_show(site, "schedule")["entries"]), 20,
                   "the shutdown in the agent's schedule")

        # The event list shows the agent's events and prints them.
        opened(panel, 4, EVENT_LOG)
        rows = json.loads(panel.ask("rows events")[0])
        assert "AC Failure" in rows and "AC Power Restored" in rows, rows
        shot(panel, "events")
        pdf = ARTIFACTS / "events.pdf"
        panel.ask(f"print {pdf}")
        wait_until(lambda: pdf.exists() and pdf.stat().st_size > 1000, 20, "the printed list")
        text = subprocess.run(["pdftotext", "-layout", str(pdf), "-"], capture_output=True,
                              text=True, timeout=60, check=True).stdout
        assert "AC Failure" in text and "Event" in text, text[:2000]
        subprocess.run(["pdftoppm", "-png", "-r", "50", "-f", "1", "-l", "1", str(pdf),
                        str(ARTIFACTS / "events-page")], check=True, timeout=60)
        assert list(ARTIFACTS.glob("events-page*.png"))

        # The data list shows the agent's samples, and its clear empties the agent's log.
        wait_until(lambda: agent_show(site, "datalog")["records"], 30, "a sample to show")
        # The next sample a minute away, so that the cleared log stays empty while we look.
        subprocess.run([UPSREC, "--agent", site.listen, "--timeout", "10", "set", "config",
                        "dataLogInterval=600"], env=site.env(), check=True, timeout=60)
        opened(panel, 3, DATA_LOG)
        assert json.loads(panel.ask("rows datalist")[0])
        shot(panel, "datalist")
        panel.ask("press datalist 清除")
        wait_until(lambda: not agent_show(site, "datalog")["records"], 20,
                   "the agent's data log to be cleared")
        assert json.loads(panel.ask("rows datalist")[0]) == []

        opened(panel, 5, EVENT_LOG)
        shot(panel, "calendar")
        panel.ask("open 6")
        shot(panel, "control")
    finally:
        panel.close()



def test_a_panel_that_may_only_watch_keeps_watching_after_a_save(site):
    """Without a password only root and the agent's own user may change it: an ordinary user's
    panel is shown the configuration, its save is not taken, and it stays connected."""
    listen_where_the_panel_looks(site)
    site.configure(acFailDelay=30)
    site.start()
    site.ups.wait_for_command("F\r", timeout=30)
    before = config_bytes(site)
    own = site.place / "watcher"
    (own / "runtime").mkdir(parents=True)
    for path in (own, own / "runtime"):
        os.chown(path, NOBODY, NOBODY)
    (own / "runtime").chmod(0o700)
    site.place.chmod(0o755)
    env = dict(site.env(), QT_QPA_PLATFORM="offscreen", HOME=str(own))
    panel = Panel(own, env, wrapper=("setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}",
                                     "--clear-groups"))
    try:
        panel.wait(lambda s: s["connected"], "the watcher's panel to connect")
        opened(panel, 1, CONFIG)
        panel.ask("set acFailDelay 45")
        assert panel.ask("press config 確定") == []
        wait_until(lambda: "Refused code 4 from a client that may only watch" in site.output(),
                   20, "the agent to refuse the record")
        assert config_bytes(site) == before
        state = panel.state()
        assert state["linked"] and state["connected"], state
    finally:
        panel.close()
