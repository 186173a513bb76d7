"""A machine of its own for the packages: this one's file system seen through a copy-on-write
overlay, in private mount, IPC, PID and network namespaces, entered with chroot. What is
installed there (dpkg's database, /etc, /usr, /var) changes in the overlay alone and vanishes
with it; the machine's own packages satisfy the dependencies, so `apt-get install ./x.deb`
works there as on a fresh Debian system that has them. No init runs: the maintainer scripts
find no systemd and start nothing, and the tests start the programs the way the units do."""

import os
import pathlib
import shutil
import signal
import subprocess
import tempfile
import time

SETUP = r"""
set -eu
top=$1
packages=$2
shift 2
mount -t tmpfs -o mode=0755 overlay-space "$top"
mkdir "$top/upper" "$top/work" "$top/merged"
mount -t overlay overlay -o "lowerdir=/,upperdir=$top/upper,workdir=$top/work" "$top/merged"
m=$top/merged
mount -t proc proc "$m/proc"
mount --rbind /sys "$m/sys"
# Devices of its own: the basic ones and a pseudo-terminal instance for the simulated UPS, none
# of the machine's serial ports or consoles.
mount -t tmpfs -o mode=0755 dev "$m/dev"
for name in null zero full random urandom tty; do
    touch "$m/dev/$name"
    mount --bind "/dev/$name" "$m/dev/$name"
done
mkdir "$m/dev/pts" "$m/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$m/dev/pts"
ln -s pts/ptmx "$m/dev/ptmx"
# No systemd on this "machine": a fresh /run, so the scripts never reach the real one.
mount -t tmpfs -o mode=0755 run "$m/run"
mount -t tmpfs -o mode=1777 tmp "$m/tmp"
mkdir -p "$m/mnt/packages"
mount --bind "$packages" "$m/mnt/packages"
# The build trees the tests run programs from, wherever they are (under /tmp in CI).
for shared in "$@"; do
    mkdir -p "$m$shared"
    mount --bind "$shared" "$m$shared"
done
ip link set lo up
echo ready
exec sleep infinity
"""


class PackageRoot:
    def __init__(self, packages, shared=()):
        self.top = pathlib.Path(tempfile.mkdtemp(prefix="pkgroot", dir="/tmp"))
        self.holder = subprocess.Popen(
            ["unshare", "--mount", "--ipc", "--net", "--pid", "--fork", "--propagation", "private",
             "bash", "-c", SETUP, "setup", str(self.top), str(packages), *map(str, shared)],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.holder.stdout.readline()
        if line.strip() != "ready":
            self.holder.kill()
            raise AssertionError("the package root could not be set up: " + self.holder.stderr.read())
        # The namespaces are those of the shell's child that unshare forked.
        try:
            self.pid = self._child_of(self.holder.pid)
        except AssertionError:
            self.holder.kill()
            raise
        self.merged = self.top / "merged"

    @staticmethod
    def _child_of(pid):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            children = pathlib.Path(f"/proc/{pid}/task/{pid}/children").read_text().split()
            if children:
                return int(children[0])
            time.sleep(0.05)
        raise AssertionError("unshare started no child")

    def _enter(self):
        return ["nsenter", "-t", str(self.pid), "-m", "-i", "-n", "-p", "chroot",
                str(self.merged)]

    def _command(self, argv, env):
        """argv run inside with a clean environment of its own plus `env`."""
        full_env = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                    "LANG": "C.UTF-8", "HOME": "/root", "DEBIAN_FRONTEND": "noninteractive"}
        full_env.update(env or {})
        return [*self._enter(), "/usr/bin/env", "-i",
                *(f"{k}={v}" for k, v in full_env.items()), *argv]

    def run(self, *argv, env=None, check=True, timeout=300):
        """Runs argv inside; the completed process (text output)."""
        done = subprocess.run(self._command(argv, env), capture_output=True, text=True,
                              timeout=timeout)
        if check and done.returncode != 0:
            raise AssertionError(f"{argv} exited {done.returncode}:\n{done.stdout}\n{done.stderr}")
        return done

    def start(self, *argv, env=None, log=None):
        """Starts argv inside without waiting; its output goes to `log` (a host path)."""
        if log is None:
            return subprocess.Popen(self._command(argv, env), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        with open(log, "wb") as out:
            return subprocess.Popen(self._command(argv, env), stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT)

    def signal(self, program, name):
        """Sends signal `name` (TERM, KILL, ...) to every process of `program` inside."""
        self.run("pkill", f"-{name}", "-x", program)

    def path(self, inside):
        """The host's view of a path inside (for reading and writing files there)."""
        return (pathlib.Path(f"/proc/{self.pid}/root") / str(self.merged).lstrip("/") /
                inside.lstrip("/"))

    def close(self):
        if self.holder.poll() is None:
            # The namespace's first process takes every other one in it along.
            os.kill(self.pid, signal.SIGKILL)
            self.holder.wait(30)
        # The mounts lived in the private namespace and went with it; the directory is empty.
        shutil.rmtree(self.top, ignore_errors=True)
