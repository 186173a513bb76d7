import shutil
import tempfile

import pytest

from kelvora_env import RATING_OK, Daemon, Root, wait_until
from upssim_client import Upssim


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
