"""The agent's HTTP endpoint against the simulated UPS: /metrics read by curl and by Prometheus's
own parser, /status.json agreeing with it, the endpoint on loopback unless told otherwise, and
a crowd of idle connections from one address unable to keep anybody else out."""

import json
import os
import pathlib
import socket
import subprocess
import time

from prometheus_client.parser import text_string_to_metric_families

from kelvora_env import wait_until
from torvane_site import free_port, site  # noqa: F401 (the fixture)

# The agent's caps (watch/http/http_service.h): in all, and from one address.
MAX_CONNECTIONS, MAX_PER_ADDRESS = 128, 32
IDLE_SECONDS = 10


def fetch(host, port, path):
    """(headers in lower case, body) of one GET by curl."""
    out = subprocess.run(["curl", "-sS", "-i", "--max-time", "10", f"http://{host}:{port}{path}"],
                         capture_output=True, check=True, timeout=20).stdout
    head, _, body = out.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    assert lines[0].startswith("HTTP/1.1 200"), lines[0]
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    assert int(headers["content-length"]) == len(body)
    return headers, body.decode("utf-8")


def metrics(site):
    """{(sample name, frozen labels): value} of the agent's /metrics, parsed by prometheus_client,
    and the page's families by name."""
    headers, text = fetch(site.listen, site.http_port, "/metrics")
    assert headers["content-type"] == "text/plain; version=0.0.4; charset=utf-8"
    assert headers["cache-control"] == "no-store"
    samples, families = {}, {}
    for family in text_string_to_metric_families(text):
        families[family.name] = family
        for sample in family.samples:
            samples[(sample.name, tuple(sorted(sample.labels.items())))] = sample.value
    return samples, families


def value(samples, name, **labels):
    return samples.get((name, tuple(sorted(labels.items()))))


def status_json(site):
    headers, text = fetch(site.listen, site.http_port, "/status.json")
    assert headers["content-type"] == "application/json"
    return json.loads(text)


def test_metrics_show_what_the_ups_says_and_follow_a_utility_failure(site):
    # A long grace before the countdown: the failure is watched, never acted on here.
    site.configure(acFailDelay=30, upsOffDelay=600)
    site.start()
    site.ups.ctl("set", "input", "221.7")
    # The identification, once the agent asked for it; its padding trimmed.
    wait_until(lambda: value(metrics(site)[0], "kelvora_ups_info", manufacturer="Stavlen",
                             model="SIM-1000", firmware="1.0") == 1, 40,
               "the UPS's identification on /metrics")
    wait_until(lambda: value(metrics(site)[0], "kelvora_ups_input_voltage_volts") == 221.7, 30,
               "the new input voltage on /metrics")
    samples, families = metrics(site)
    assert value(samples, "kelvora_ups_connected") == 1
    assert value(samples, "kelvora_ups_status", flag="OL") == 1
    assert value(samples, "kelvora_ups_status", flag="OB") == 0
    for flag in ("OL", "OB", "LB", "CAL", "BOOST", "TRIM", "BYPASS", "OFF", "FSD"):
        assert value(samples, "kelvora_ups_status", flag=flag) is not None, flag
    assert families["kelvora_events"].type == "counter"
    assert value(samples, "kelvora_events_total", event="utility_failure") == 0
    assert families["kelvora_ups_battery_voltage_volts"].type == "gauge"
    assert value(samples, "kelvora_agent_uptime_seconds") >= 0
    state = status_json(site)
    assert state["connected"] is True
    assert state["input_voltage_volts"] == 221.7
    assert state["status"] == "OL"
    assert state["manufacturer"].strip() == "Stavlen"
    assert state["battery_charge_percent"] == value(samples, "kelvora_ups_battery_charge_percent")
    assert state["load_percent"] == value(samples, "kelvora_ups_load_percent")

    site.ups.ctl("utility", "fail")
    wait_until(lambda: value(metrics(site)[0], "kelvora_ups_status", flag="OB") == 1, 30,
               "OB on /metrics")
    wait_until(lambda: value(metrics(site)[0], "kelvora_events_total",
                             event="utility_failure") == 1, 30,
               "the utility failure counted on /metrics")
    samples, _ = metrics(site)
    assert value(samples, "kelvora_ups_status", flag="OL") == 0
    state = status_json(site)
    assert state["on_battery"] is True
    assert state["status"].split()[0] == "OB"
    assert state["events"]["utility_failure"] == 1
    # Counted once, however often it is read.
    time.sleep(3)
    assert value(metrics(site)[0], "kelvora_events_total", event="utility_failure") == 1


def test_values_are_left_out_while_the_ups_is_silent(site):
    site.configure(acFailDelay=30, upsOffDelay=600)
    site.start()
    wait_until(lambda: value(metrics(site)[0], "kelvora_ups_input_voltage_volts") is not None,
               30, "the input voltage on /metrics")
    site.ups.stop()  # the cable is pulled
    wait_until(lambda: value(metrics(site)[0], "kelvora_ups_connected") == 0, 60,
               "the UPS counted as gone")
    samples, families = metrics(site)
    assert "kelvora_ups_input_voltage_volts" not in families
    assert "kelvora_ups_battery_charge_percent" not in families
    assert value(samples, "kelvora_ups_status", flag="OL") == 0
    assert status_json(site)["input_voltage_volts"] is None


def listening_addresses(pid):
    """The (address, port) of every TCP socket `pid` listens on, from /proc."""
    inodes = set()
    for fd in pathlib.Path(f"/proc/{pid}/fd").iterdir():
        try:
            target = os.readlink(fd)
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    found = []
    for table, size in (("tcp", 4), ("tcp6", 16)):
        for line in pathlib.Path(f"/proc/net/{table}").read_text().splitlines()[1:]:
            fields = line.split()
            local, state, inode = fields[1], fields[3], fields[9]
            if state != "0A" or inode not in inodes:  # 0A: LISTEN
                continue
            address, port = local.split(":")
            raw = bytes.fromhex(address)
            if size == 4:
                text = socket.inet_ntop(socket.AF_INET, raw[::-1])
            else:
                words = b"".join(raw[i:i + 4][::-1] for i in range(0, 16, 4))
                text = socket.inet_ntop(socket.AF_INET6, words)
            found.append((text, int(port, 16)))
    return found


def other_addresses():
    """This machine's IPv4 addresses off the loopback interface."""
    out = subprocess.run(["ip", "-4", "-o", "addr", "show"], capture_output=True, text=True,
                         check=True).stdout
    return [line.split()[3].split("/")[0] for line in out.splitlines()
            if line.split()[1] != "lo"]


def test_the_endpoint_is_on_loopback_unless_told_otherwise(site):
    port = free_port(host="127.0.0.1")
    site.extra_env["TORVANE_HTTP_PORT"] = str(port)
    told = site.env

    def untold():
        env = told()
        env.pop("TORVANE_HTTP_LISTEN", None)
        return env

    site.env = untold
    site.configure()
    site.start()
    wait_until(lambda: ("127.0.0.1", port) in listening_addresses(site.proc.pid), 30,
               "the endpoint listening")
    assert [a for a in listening_addresses(site.proc.pid) if a[1] == port] == [("127.0.0.1", port)]
    fetch("127.0.0.1", port, "/")
    for address in ["127.0.0.2", *other_addresses()]:
        with socket.socket() as s:
            s.settimeout(5)
            assert s.connect_ex((address, port)) != 0, f"served on {address}"


def connect_from(source, host, port):
    s = socket.socket()
    s.settimeout(5)
    s.bind((source, 0))
    s.connect((host, port))
    return s


def closed_at_once(s, within=2.0):
    """True when the server closes `s` (EOF or reset) within `within` seconds, sending nothing."""
    s.settimeout(within)
    try:
        return s.recv(1) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


def ask(s, path="/metrics"):
    """One keep-alive GET on `s`; the status code."""
    s.settimeout(5)
    s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(65536)
        assert chunk, "closed before the answer"
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = int([line.split(b":")[1] for line in head.split(b"\r\n")
                  if line.lower().startswith(b"content-length:")][0])
    while len(body) < length:
        chunk = s.recv(65536)
        assert chunk, "closed in the body"
        body += chunk
    return int(head.split(b" ")[1])


def test_idle_connections_from_one_address_keep_nobody_else_out(site):
    site.configure()
    site.start()
    wait_until(lambda: value(metrics(site)[0], "kelvora_ups_connected") == 1, 30, "the UPS")
    crowd = "127.77.%d.%d" % (os.getpid() % 250, 1 + time.time_ns() % 250)
    start = time.monotonic()
    sockets = [connect_from(crowd, site.listen, site.http_port) for _ in range(200)]
    try:
        time.sleep(1)  # for the agent to take them all
        held = [s for s in sockets if not closed_at_once(s, 0.05)]
        # The rest were closed at once; only the address's share stays.
        assert len(held) == MAX_PER_ADDRESS
        # Somebody else is served at once, by curl too.
        assert ask(connect_from("127.78.0.1", site.listen, site.http_port)) == 200
        fetch(site.listen, site.http_port, "/status.json")
        # The ones that got in keep working, one after the other.
        for s in held[:MAX_PER_ADDRESS // 2]:
            assert ask(s) == 200
        # The idle others lose their place at the deadline, as a slow one would.
        idle = held[MAX_PER_ADDRESS // 2:]
        for s in idle:
            assert closed_at_once(s, IDLE_SECONDS + 5)
        assert time.monotonic() - start >= IDLE_SECONDS - 1
        # And the address may come back.
        assert ask(connect_from(crowd, site.listen, site.http_port)) == 200
    finally:
        for s in sockets:
            s.close()


def test_connections_from_many_addresses_are_capped_in_all(site):
    site.configure()
    site.start()
    wait_until(lambda: value(metrics(site)[0], "kelvora_ups_connected") == 1, 30, "the UPS")
    sockets = [connect_from("127.79.%d.%d" % (i // 250, 1 + i % 250), site.listen,
                            site.http_port) for i in range(200)]
    try:
        # Each answered once, so that all of them are surely in before the count.
        held = []
        for s in sockets:
            try:
                if ask(s, "/") == 200:
                    held.append(s)
            except (AssertionError, ConnectionError, socket.timeout):
                pass
        assert len(held) == MAX_CONNECTIONS
        newcomer = connect_from("127.80.0.1", site.listen, site.http_port)
        assert closed_at_once(newcomer)
        for s in held[:10]:
            assert ask(s) == 200
    finally:
        for s in sockets:
            s.close()


def test_a_slow_or_malformed_client_gets_nothing_but_its_refusal(site):
    site.configure()
    site.start()
    wait_until(lambda: value(metrics(site)[0], "kelvora_ups_connected") == 1, 30, "the UPS")
    with socket.create_connection((site.listen, site.http_port), timeout=5) as s:
        s.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\nX: " + b"a" * 9000 + b"\r\n\r\n")
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
        assert data.startswith(b"HTTP/1.1 431 ")
        assert b"Connection: close" in data
    with socket.create_connection((site.listen, site.http_port), timeout=5) as s:
        s.sendall(b"POST /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
        data = s.recv(65536)
        assert data.startswith(b"HTTP/1.1 405 ")
        assert b"Allow: GET, HEAD" in data
    with socket.create_connection((site.listen, site.http_port), timeout=5) as s:
        s.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n")  # and never the blank line
        start = time.monotonic()
        s.settimeout(IDLE_SECONDS + 5)
        assert s.recv(1) == b""
        assert IDLE_SECONDS - 1 <= time.monotonic() - start <= IDLE_SECONDS + 3
