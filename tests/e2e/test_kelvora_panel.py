"""Kelvora, the control panel, against the real agent watching the simulated UPS: on a screen of
its own (Xvfb) it connects to the agent on this machine and shows what the UPS does; in a network
namespace it watches a remote agent that wants a password. Screenshots of every tab are kept."""

from kelvora_env import wait_until
from panel_site import ARTIFACTS, Panel, pytestmark, screen  # noqa: F401 (fixtures)
from torvane_site import free_port, site  # noqa: F401 (the fixture)


def test_the_panel_shows_the_local_agent_and_a_utility_failure(site, screen):
    site.extra_env["TORVANE_LISTEN"] = "127.0.0.1"
    site.tcp_port = free_port()
    site.configure(acFailDelay=30)
    site.start()
    site.ups.wait_for_command("F\r", timeout=30)
    panel = Panel(site.place, dict(site.env(), DISPLAY=screen.display, QT_QPA_PLATFORM="xcb"))
    try:
        state = panel.wait(lambda s: s["connected"] and s["company"], "the panel to connect")
        assert state["labels"]["connection"] == {"text": "UPS和電腦連線", "enabled": True}
        assert state["labels"]["utility"]["text"] == "市電正常"
        site.ups.ctl("utility", "fail")
        state = panel.wait(lambda s: s["messages"] and s["messages"][0].endswith("  Power Fail"),
                           "Power Fail on top of the message list")
        assert state["labels"]["utility"]["text"] == "市電中斷"
        assert state["acFailPicture"]
        assert state["pictureMode"] in (2, 5)
        panel.wait(lambda s: s["countdownClock"] != "00:00:00", "the countdown", 20)
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        for tab, name in enumerate(("meter", "digital", "picture", "chart")):
            path = ARTIFACTS / f"panel-{name}.png"
            panel.ask(f"shot {tab} {path}")
            assert path.stat().st_size > 10000
        site.ups.ctl("utility", "ok")
        state = panel.wait(lambda s: s["messages"][0].endswith("  Power Normal"), "Power Normal")
        assert state["onBatteryClock"] == "00:00:00"
        assert not state["labels"]["onBattery"]["enabled"]
    finally:
        panel.close()


def test_the_panel_watches_a_remote_agent_with_its_password(site, netns):
    site.extra_env["TORVANE_LISTEN"] = netns.address
    site.configure(agentPassword="s3cret")
    site.start(wrapper=netns.wrap())
    site.ups.wait_for_command("F\r", timeout=30)
    env = dict(site.env(), QT_QPA_PLATFORM="offscreen")
    panel = Panel(site.place, env, wrapper=netns.wrap())
    try:
        panel.ask(f"select 1 {netns.address} guess")
        wait_until(lambda: site.output().count("Client send wrong password"), 20,
                   "the agent to refuse the guess")
        assert not panel.state()["connected"]
        panel.ask(f"select 1 {netns.address} s3cret")
        state = panel.wait(lambda s: s["connected"] and s["company"], "the remote agent")
        assert state["labels"]["connection"]["text"] == "UPS和電腦連線"
    finally:
        panel.close()


def test_the_panel_on_the_agents_machine_may_use_copy_data(site):
    site.configure(acFailDelay=30)
    site.start()
    site.ups.wait_for_command("F\r", timeout=30)
    env = dict(site.env(), QT_QPA_PLATFORM="offscreen")
    panel = Panel(site.place, env, args=("--copy-data",))
    try:
        state = panel.wait(lambda s: s["connected"] and s["company"], "the panel to register")
        assert state["linked"]
        site.ups.ctl("utility", "fail")
        panel.wait(lambda s: s["messages"] and s["messages"][0].endswith("  Power Fail"),
                   "Power Fail by copy-data")
        # The agent goes: the panel hears it close and waits for the next one.
        site.stop()
        state = panel.wait(lambda s: not s["linked"], "the panel to let go")
        assert any(m.endswith("  Local Agent Closed") for m in state["messages"])
    finally:
        panel.close()
