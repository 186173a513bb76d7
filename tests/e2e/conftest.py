import os
import shutil
import tempfile

import pytest

from kelvora_env import RATING_OK, Daemon, Root, wait_until
from snmp_agent import Agent, Netns, NetnsError
from upssim_client import Upssim


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """Keeps each phase's report on the test, so that a fixture can tell a failed test."""
    outcome = yield
    report = outcome.get_result()
    setattr(item, "rep_" + report.when, report)


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "agent_time_scale(x): run the `agent` fixture's simulator with --time-scale x")


@pytest.fixture
def root():
    # Outside pytest's private tree, so that an unprivileged user can reach it (ftok).
    top = tempfile.mkdtemp(prefix="kr", dir="/tmp")
    r = Root(top)
    yield r
    r.kill_strays()
    r.remove_queues()
    shutil.rmtree(top, ignore_errors=True)


@pytest.fixture
def ups():
    # The daemon keeps its port path in a 29-character field: keep the link's path short.
    short = tempfile.mkdtemp(prefix="kv", dir="/tmp")
    try:
        with Upssim(short) as sim:
            yield sim
    finally:
        shutil.rmtree(short, ignore_errors=True)


@pytest.fixture
def start_daemon(root):
    started = []

    def start(*args, **kwargs):
        d = Daemon(root, *args, **kwargs)
        started.append(d)
        return d

    yield start
    for d in started:
        d.kill()


@pytest.fixture
def running(root, ups, start_daemon):
    """A daemon polling the simulator, past its first poll and the model and rating queries."""
    root.write("shutdown.ini", "true\n")
    root.write_config(ups.link)
    daemon = start_daemon()
    ups.wait_for_command("F\r", timeout=30)
    wait_until(lambda: root.read("kelvora.rtg") == RATING_OK, 10, "the rating file")
    return daemon


@pytest.fixture
def netns():
    """A network namespace of the test's own; deleted, with whatever runs in it, at the end."""
    if os.geteuid() != 0:
        pytest.skip("network namespaces need root")
    try:
        ns = Netns().create()
    except NetnsError as e:
        pytest.skip(f"ip netns is not usable here: {e}")
    try:
        yield ns
    finally:
        ns.delete()


@pytest.fixture
def agent(request, netns):
    """The UPS's SNMP agent, answering at `agent.peer` inside `netns`; `agent.ups` is its
    simulator (time scale from an agent_time_scale mark, else real time), which records what
    the agent asked of it in control.log beside its other files."""
    mark = request.node.get_closest_marker("agent_time_scale")
    short = tempfile.mkdtemp(prefix="ka", dir="/tmp")
    try:
        record = ["--control-log", os.path.join(short, "control.log")]
        with Upssim(short, time_scale=mark.args[0] if mark else None, state_file=True,
                    args=record) as sim:
            with Agent(netns, sim, os.path.join(short, "agent")) as started:
                yield started
    finally:
        shutil.rmtree(short, ignore_errors=True)
