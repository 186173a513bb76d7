"""The Debian packages, built by cpack from this build tree and installed with apt on a machine
of their own (package_root.py): what each holds, lintian's word on them, the units, the man
pages, both editions run as their units run them, the log rotation, an upgrade from the
previous release and the purge."""

import json
import os
import pathlib
import re
import shlex
import subprocess
import time

import pytest

from kelvora_env import binary, wait_until
from package_root import PackageRoot

BUILD = pathlib.Path(os.environ.get("KELVORA_BUILD") or binary("KELVORA_BUILD"))
UPSSIM = binary("UPSSIM", "tools", "upssim", "upssim")
DAEMON_ARG = " " * 12

KELVORA_CONFFILES = {"/etc/kelvora/email", "/etc/kelvora/pager", "/etc/kelvora/preshut.bat",
                     "/etc/kelvora/shutdown.ini", "/etc/logrotate.d/kelvora"}
TORVANE_CONFFILES = {"/etc/default/torvane"}
MAN_PAGES = {"kelvora": ["man8/vornd.8", "man8/kelvora.8", "man5/vorn.ini.5", "man5/kelvora.cfg.5"],
             "torvane": ["man8/Torvane.8", "man8/upsrec.8"],
             "kelvora-panel": ["man1/Kelvora.1"]}
AC_FAILS = "AC Power Fails! UPS provides power!"
AC_BACK = "AC Power recovered!"


def run(*argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, check=True, timeout=600, **kwargs)


def repack(deb, version, out_dir):
    """The same package under another version: the release before this one, for the upgrade.
    Its notification scripts differ from this release's, as conffiles do between releases."""
    tree = out_dir / (deb.stem + ".tree")
    run("dpkg-deb", "-R", str(deb), str(tree))
    control = tree / "DEBIAN" / "control"
    control.write_text(re.sub(r"(?m)^Version: .*$", f"Version: {version}", control.read_text()))
    for script in ("email", "pager"):
        path = tree / "etc" / "kelvora" / script
        if path.exists():
            path.write_text(path.read_text() + f"# {script} as the release before this one had it\n")
    sums = tree / "DEBIAN" / "md5sums"
    if sums.exists():
        listed = [line.split(None, 1)[1] for line in sums.read_text().splitlines()]
        sums.write_text(run("md5sum", *listed, cwd=tree).stdout)
    name = deb.name.split("_")[0]
    target = out_dir / f"{name}_{version}_amd64.deb"
    run("dpkg-deb", "--root-owner-group", "-b", str(tree), str(target))
    return target


@pytest.fixture(scope="module")
def packages(tmp_path_factory):
    out = tmp_path_factory.mktemp("packages")
    run("cpack", "-G", "DEB", "--config", str(BUILD / "CPackConfig.cmake"), "-B", str(out))
    debs = {p.name.split("_")[0]: p for p in out.glob("*.deb")}
    assert set(debs) == {"kelvora", "torvane", "kelvora-panel"}, sorted(debs)
    previous = out / "previous"
    previous.mkdir()
    for deb in debs.values():
        repack(deb, "2.0-1", previous)
    os.chmod(out, 0o755)
    return out, debs


@pytest.fixture
def machine(packages):
    out, _ = packages
    root = PackageRoot(out, shared=sorted({str(BUILD), str(pathlib.Path(UPSSIM).parent)}))
    yield root
    root.close()


def install(machine, *names, directory="/mnt/packages"):
    debs = [f"{directory}/{n}" for n in names]
    # An administrator's changed conffile is kept where the new release changed it too.
    return machine.run("apt-get", "install", "-y", "--no-install-recommends",
                       "-o", "Dpkg::Options::=--force-confdef",
                       "-o", "Dpkg::Options::=--force-confold", *debs)


def current(packages, *names):
    _, debs = packages
    return [debs[n].name for n in names]


def contents(deb):
    """{path: (mode text, link target or None)} of a package's files."""
    listing = run("dpkg-deb", "-c", str(deb)).stdout.splitlines()
    files = {}
    for line in listing:
        mode, _, _, _, _, rest = line.split(None, 5)
        path, _, target = rest.partition(" -> ")
        files[path[1:].rstrip("/") or "/"] = (mode, target or None)
    return files


def control_file(deb, name):
    return run("dpkg-deb", "-I", str(deb), name).stdout


def unit_command(machine, unit, key):
    """The words of a unit's ExecStart= or ExecStop= line, as systemd splits them."""
    text = machine.path(f"/lib/systemd/system/{unit}").read_text()
    line = re.search(rf"(?m)^{key}=(.*)$", text).group(1)
    return shlex.split(line)


def unit_environment(machine, unit):
    text = machine.path(f"/lib/systemd/system/{unit}").read_text()
    env = {}
    for line in re.findall(r"(?m)^Environment=(.*)$", text):
        env.update(word.split("=", 1) for word in shlex.split(line))
    return env


def start_ups(machine):
    proc = machine.start(UPSSIM, "--link", "/tmp/ttyUPS", "--control", "/tmp/upssim.sock",
                         "--log", "/tmp/upssim.log")
    wait_until(lambda: machine.path("/tmp/upssim.sock").exists(), 30, "the simulator")
    return proc


def ups(machine, *words):
    machine.run(UPSSIM, "ctl", "/tmp/upssim.sock", *words)


# --- what the packages hold ---------------------------------------------------------------------

def test_each_package_holds_its_edition_with_its_conffiles_and_dependencies(packages):
    _, debs = packages
    kelvora, torvane, panel = (contents(debs[n]) for n in ("kelvora", "torvane", "kelvora-panel"))
    for path in ("/usr/sbin/vornd", "/usr/sbin/kelvora", "/lib/systemd/system/vornd.service",
                 "/etc/kelvora/email", "/etc/kelvora/pager", "/etc/kelvora/preshut.bat",
                 "/etc/kelvora/shutdown.ini", "/etc/logrotate.d/kelvora",
                 "/usr/share/kelvora/help/textroot.txt", "/usr/share/doc/kelvora/copyright",
                 "/usr/share/doc/kelvora/changelog.Debian.gz"):
        assert path in kelvora, path
    # `kelvora start` runs the daemon and `kelvora help` reads the texts under the root.
    assert kelvora["/etc/kelvora/vornd"][1] == "/usr/sbin/vornd"
    assert kelvora["/etc/kelvora/help"][1] == "/usr/share/kelvora/help"
    assert kelvora["/usr/sbin/vornd"][0] == "-rwxr-xr-x"
    # vorn.ini and kelvora.cfg are the daemon's to write: a package that shipped them would
    # replace an administrator's settings on an upgrade.
    assert not {"/etc/kelvora/vorn.ini", "/etc/kelvora/kelvora.cfg"} & set(kelvora)

    # The agent finds its outside programs beside its executable: all of them in one place,
    # with the command in /usr/sbin a link into it.
    for program in ("Torvane", "Tessvar", "Brenvik", "Morkelnt", "Morkel95", "Lonavex"):
        assert torvane[f"/usr/lib/torvane/{program}"][0] == "-rwxr-xr-x", program
    assert torvane["/usr/sbin/Torvane"][1] == "../lib/torvane/Torvane"
    assert "/usr/sbin/upsrec" in torvane
    # The registry holds the agent's password.
    assert torvane["/var/lib/torvane"][0] == "drwxr-x---"
    assert torvane["/var/lib/torvane/registry"][0] == "drwxr-x---"
    assert "/usr/bin/Kelvora" in panel and "/usr/share/applications/kelvora-panel.desktop" in panel

    for name, pages in MAN_PAGES.items():
        files = contents(debs[name])
        for page in pages:
            assert f"/usr/share/man/{page}.gz" in files, page
    # No file belongs to two packages.
    owned = [set(p for p, (mode, _) in c.items() if not mode.startswith("d"))
             for c in (kelvora, torvane, panel)]
    assert not (owned[0] & owned[1]) and not (owned[0] & owned[2]) and not (owned[1] & owned[2])

    assert set(control_file(debs["kelvora"], "conffiles").split()) == KELVORA_CONFFILES
    assert set(control_file(debs["torvane"], "conffiles").split()) == TORVANE_CONFFILES
    depends = {n: run("dpkg-deb", "-f", str(d), "Depends").stdout for n, d in debs.items()}
    assert "libsnmp40" in depends["kelvora"] and "libncurses" in depends["kelvora"]
    assert "init-system-helpers" in depends["kelvora"]
    assert "init-system-helpers" in depends["torvane"]
    assert "libqt6widgets6" in depends["kelvora-panel"]


def test_lintian_finds_no_error(packages):
    _, debs = packages
    done = subprocess.run(["lintian", "--pedantic", *map(str, debs.values())], capture_output=True,
                          text=True, timeout=600)
    findings = [line for line in done.stdout.splitlines() if re.match(r"[EWIPX]: ", line)]
    print("lintian:\n" + "\n".join(findings))
    assert not [line for line in findings if line.startswith("E: ")]
    assert done.returncode in (0, 1), done.stderr  # 1: findings of any level, reported above


# --- installed ----------------------------------------------------------------------------------

def test_apt_installs_them_with_their_units_enabled_and_verified_and_their_pages(machine, packages):
    install(machine, *current(packages, "kelvora", "torvane", "kelvora-panel"))
    for name, expected in (("kelvora", KELVORA_CONFFILES), ("torvane", TORVANE_CONFFILES)):
        listed = machine.run("dpkg-query", "-W", "-f", "${Conffiles}", name).stdout
        assert {line.split()[0] for line in listed.strip().splitlines()} == expected
    for unit in ("vornd.service", "torvane.service"):
        link = machine.path(f"/etc/systemd/system/sysinit.target.wants/{unit}")
        assert os.readlink(link) == f"/lib/systemd/system/{unit}"
    verified = machine.run("systemd-analyze", "verify", "/lib/systemd/system/vornd.service",
                           "/lib/systemd/system/torvane.service", check=False)
    assert verified.returncode == 0 and not verified.stderr.strip(), verified.stderr
    for pages in MAN_PAGES.values():
        for page in pages:
            name, section = page.split("/")[1].rsplit(".", 1)
            found = machine.run("man", "-w", section, name).stdout.strip()
            assert found == f"/usr/share/man/{page}.gz"
            shown = machine.run("man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", found,
                                env={"MANROFFSEQ": "", "MANWIDTH": "80"})
            assert shown.stdout and not shown.stderr, (page, shown.stderr)
    # The help texts reach the console through the root's link.
    assert machine.run("cat", "/etc/kelvora/help/textroot.txt").stdout
    # dpkg's view matches what was shipped, file by file.
    assert machine.run("dpkg", "--verify", "kelvora", "torvane", "kelvora-panel").stdout == ""


def test_the_daemon_runs_and_stops_as_its_unit_says_and_its_log_rotates(machine, packages):
    install(machine, *current(packages, "kelvora"))
    start_ups(machine)
    machine.path("/etc/kelvora/shutdown.ini").write_text("touch /tmp/powered-off\n")
    machine.path("/etc/kelvora/kelvora.cfg").write_text(
        "[5]\n[1]\n[3.0]\n[0.0]\n[/tmp/ttyUPS]\n[1]\n[0]\n[1]\n[0]\n[127.0.0.1]\n[gazers]\n")
    machine.path("/etc/kelvora/vornlog").write_text("an old line - Mon Jan  1 00:00:00 2026\n")
    env = {"KELVORA_CONSOLE": "/tmp/console", "KELVORA_UTMP": "/tmp/no-utmp"}
    start = unit_command(machine, "vornd.service", "ExecStart")
    assert start == ["/usr/sbin/vornd", DAEMON_ARG]
    daemon = machine.start(*start, env=env, log=machine.top / "vornd.out")
    try:
        wait_until(lambda: (machine.path("/etc/kelvora/kelvora.q1").exists() and
                            machine.path("/etc/kelvora/kelvora.q1").read_bytes()[:1] == b"("),
                   30, "the daemon to poll the UPS")
        # The reason the unit stops it with "kelvora stop": the usual signal does not end it.
        machine.signal("vornd", "TERM")
        time.sleep(1)
        assert daemon.poll() is None

        ups(machine, "utility", "fail")
        log = machine.path("/etc/kelvora/vornlog")
        wait_until(lambda: AC_FAILS in log.read_text(), 30, "the failure in the event log")
        ups(machine, "utility", "ok")
        wait_until(lambda: AC_BACK in log.read_text(), 30, "the recovery in the event log")

        machine.run("logrotate", "-f", "-s", "/tmp/logrotate.state", "/etc/logrotate.d/kelvora")
        rotated = machine.path("/etc/kelvora/vornlog.1").read_text()
        assert rotated.startswith("an old line") and AC_BACK in rotated
        assert log.read_text() == "" and (log.stat().st_mode & 0o777) == 0o644
        # The daemon opens the log for every line: the next warning lands in the new one.
        ups(machine, "utility", "fail")
        wait_until(lambda: AC_FAILS in log.read_text(), 30, "the failure in the new log")
        ups(machine, "utility", "ok")
        wait_until(lambda: AC_BACK in log.read_text(), 30, "the recovery in the new log")

        stop = unit_command(machine, "vornd.service", "ExecStop")
        assert stop == ["/usr/sbin/kelvora", "stop"]
        machine.run(*stop, env=env)
        assert daemon.wait(15) == 0
        assert not machine.path("/tmp/powered-off").exists()
    finally:
        if daemon.poll() is None:
            daemon.kill()
            daemon.wait()


def test_the_agent_runs_as_its_unit_says_with_its_programs_and_files_in_place(machine, packages):
    install(machine, *current(packages, "torvane"))
    start_ups(machine)
    # The administrator's steps: the port in /etc/default/torvane, the records with upsrec
    # (which finds the agent's registry by itself), then the service.
    defaults = machine.path("/etc/default/torvane")
    defaults.write_text(defaults.read_text() + "TORVANE_COM1=/tmp/ttyUPS\n"
                        "TORVANE_POWEROFF=touch /tmp/powered-off\nTORVANE_UTMP=/tmp/no-utmp\n")
    machine.run("upsrec", "set", "config", "upsType=0", "comPort=0", "batteryLowDelay=1",
                "upsOffDelay=60")
    assert machine.path("/var/lib/torvane/registry").is_dir()
    env = unit_environment(machine, "torvane.service")
    for line in defaults.read_text().splitlines():
        if line and not line.startswith("#"):
            env.update([line.split("=", 1)])
    start = unit_command(machine, "torvane.service", "ExecStart")
    assert start == ["/usr/sbin/Torvane", "--service"]
    agent = machine.start(*start, env=env, log=machine.top / "torvane.out")
    try:
        def status():
            done = machine.run("upsrec", "--agent", "127.0.0.1", "--json", "show", "status",
                               check=False)
            return done.returncode == 0 and json.loads(done.stdout).get("connected") is True
        wait_until(status, 60, "the agent to answer with its UPS connected")
        # A low battery on a utility failure shuts down at once: the shutdown program is found
        # beside the agent in /usr/lib/torvane.
        ups(machine, "utility", "fail")
        ups(machine, "battery", "low")
        wait_until(lambda: machine.path("/tmp/powered-off").exists(), 90, "the shutdown")
        # Its logs are in its home, where upsrec, run from /usr/sbin, reads them by itself.
        assert machine.path("/var/lib/torvane/Torvane.evt").exists()
        events = machine.run("upsrec", "show", "eventlog").stdout
        assert "System shutdown." in events
        machine.signal("Torvane", "TERM")
        assert agent.wait(20) == 0
    finally:
        if agent.poll() is None:
            agent.kill()
            agent.wait()


# --- upgrade and purge --------------------------------------------------------------------------

def test_an_upgrade_keeps_what_the_administrator_changed_and_a_purge_takes_the_rest(machine,
                                                                                   packages):
    names = ("kelvora", "torvane")
    install(machine, *(f"{n}_2.0-1_amd64.deb" for n in names), directory="/mnt/packages/previous")
    cfg = machine.path("/etc/kelvora/kelvora.cfg")
    settings = "[10]\n[2]\n[1.5]\n[24.0]\n[/dev/ttyUSB0]\n[1]\n[0]\n[1]\n[0]\n[10.0.0.7]\n[ups]\n"
    cfg.write_text(settings)
    ini = machine.path("/etc/kelvora/vorn.ini")
    ini.write_bytes(bytes(range(232)))
    email = machine.path("/etc/kelvora/email")
    email.write_text(email.read_text().replace('MAIL_TO="${MAIL_TO:-root}"',
                                               'MAIL_TO="${MAIL_TO:-ops@example.com}"'))
    machine.run("upsrec", "set", "config", "acFailDelay=7")
    record = machine.path("/var/lib/torvane/registry").rglob("*")
    registry = {p: p.read_bytes() for p in record if p.is_file()}
    assert registry

    install(machine, *current(packages, *names))
    for name in names:
        assert machine.run("dpkg-query", "-W", "-f", "${Version}", name).stdout == "2.1-1"
    assert cfg.read_text() == settings
    assert ini.read_bytes() == bytes(range(232))
    # Changed by the administrator and by the new release: the administrator's is kept. Changed
    # by the release alone: the new one is installed.
    assert "ops@example.com" in email.read_text()
    deb = shlex.quote(str(packages[1]["kelvora"]))
    shipped = run("sh", "-c", f"dpkg-deb --fsys-tarfile {deb} | tar -xOf - ./etc/kelvora/pager").stdout
    assert machine.path("/etc/kelvora/pager").read_text() == shipped
    assert {p: p.read_bytes() for p in registry} == registry
    assert "acFailDelay 7" in re.sub(r"\s+", " ", machine.run("upsrec", "show", "config").stdout)
    assert machine.path("/etc/systemd/system/sysinit.target.wants/vornd.service").is_symlink()

    # Removed, the settings stay for a later install; purged, nothing of them is left.
    machine.run("dpkg", "--remove", *names)
    assert cfg.exists() and email.exists() and machine.path("/var/lib/torvane/registry").exists()
    assert not machine.path("/usr/sbin/vornd").exists()
    machine.run("dpkg", "--purge", *names)
    assert not machine.path("/etc/kelvora").exists()
    assert not machine.path("/var/lib/torvane").exists()
    assert not machine.path("/etc/default/torvane").exists()
    assert not machine.path("/etc/systemd/system/sysinit.target.wants/vornd.service").exists()
