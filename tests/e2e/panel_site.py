"""The control panel as the end-to-end tests run it: the real panel through its test driver
(tests/gui/panel/panel_driver.cpp), answering line by line, on an X server of the test's own."""

import json
import os
import pathlib
import subprocess

import pytest

from kelvora_env import wait_until

DRIVER = os.environ.get("PANEL_DRIVER")
pytestmark = pytest.mark.skipif(not DRIVER, reason="the control panel is not built")
ARTIFACTS = pathlib.Path(os.environ.get("KELVORA_ARTIFACTS",
                                        pathlib.Path(os.environ.get("KELVORA_BUILD", "/tmp"))
                                        / "artifacts")) / "panel"


class Screen:
    """An X server of the test's own."""

    def __init__(self):
        read, write = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0",
                                      "1024x768x24", "-nolisten", "tcp"], pass_fds=(write,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            self.display = ":" + f.readline().strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Panel:
    def __init__(self, place, env, wrapper=(), args=()):
        runtime = place / "runtime"
        runtime.mkdir(mode=0o700, exist_ok=True)
        env = dict(env, KELVORA_PANEL_REGISTRY=str(place / "panel-registry"),
                   XDG_RUNTIME_DIR=str(runtime), LANG="C.UTF-8")
        self.proc = subprocess.Popen([*wrapper, DRIVER, *args], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True, bufsize=1)

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        answers = []
        while True:
            got = self.proc.stdout.readline()
            assert got, "the panel ended"
            got = got.rstrip("\n")
            if got == "ok":
                return answers
            assert not got.startswith("error"), got
            answers.append(got)

    def state(self):
        return json.loads(self.ask("state")[0])

    def wait(self, check, what, timeout=30):
        wait_until(lambda: check(self.state()), timeout, what)
        return self.state()

    def close(self):
        if self.proc.poll() is None:
            try:
                self.ask("quit")
            except (AssertionError, BrokenPipeError):
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()


@pytest.fixture
def screen():
    s = Screen()
    yield s
    s.stop()
