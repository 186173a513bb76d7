"""The agent's NUT server, metrics endpoint and webhooks against hostile peers and at the edges
of its life: floods of connections from many loopback addresses, pipelined requests, NUL bytes,
lines too long, half-open and slow clients, password guesses spread over addresses, webhook
receivers that hang, and ports taken by another program. Through all of it the UPS keeps being
polled, a panel keeps hearing of power events, the shutdown comes when the battery runs low and
no sooner, and a stop ends the agent promptly."""

import signal
import socket
import threading
import time

from agent_link import STATUS, UTILITY_FAILED, TcpPanel
from kelvora_env import wait_until
from torvane_site import site  # noqa: F401 (the fixture)

# How long the agent's shutdown waits for logged-in NUT clients at most (frame_watchers.cpp).
SECONDARIES_WAIT = 15


def start(site, **config):
    values = dict(acFailDelay=2, turnUpsOff=0, shutdownWindows=1)
    values.update(config)
    site.configure(**values)
    site.start()
    site.ups.wait_for_command("I\r", timeout=30)
    return site


def polls(site):
    """The status requests the UPS has had so far."""
    return site.ups.commands().count("Q1\r")


def connect(site, port, source):
    s = socket.socket()
    s.bind((source, 0))
    s.settimeout(2)
    s.connect((site.listen, port))
    return s


class Attack:
    """Threads that keep at the agent until stopped; each works from addresses of its own."""

    def __init__(self):
        self.stopping = threading.Event()
        self.threads = []
        self.held = []
        self.received = {"nut": 0, "http": 0}

    def run(self, target, *args):
        t = threading.Thread(target=target, args=args, daemon=True)
        t.start()
        self.threads.append(t)

    def flood(self, site, kind, source, request):
        """Pipelined requests as fast as the agent answers them, connecting again when cut."""
        port = site.nut_port if kind == "nut" else site.http_port
        while not self.stopping.is_set():
            try:
                s = connect(site, port, source)
                with s:
                    while not self.stopping.is_set():
                        s.sendall(request)
                        data = s.recv(65536)
                        if not data:
                            break
                        self.received[kind] += len(data)
            except OSError:
                self.stopping.wait(0.05)

    def hold(self, site, port, source, count, opening, drip=b""):
        """`count` connections that say `opening` and then, once a second, `drip`."""
        mine = []
        for _ in range(count):
            try:
                s = connect(site, port, source)
                s.sendall(opening)
                mine.append(s)
            except OSError:
                pass
        self.held.extend(mine)
        while drip and not self.stopping.wait(1):
            for s in mine:
                try:
                    s.send(drip)
                except OSError:
                    pass

    def stop(self):
        self.stopping.set()
        for t in self.threads:
            t.join(5)
        for s in self.held:
            s.close()


def test_floods_and_held_connections_leave_the_poll_the_panels_and_the_shutdown_alone(site):
    start(site)
    attack = Attack()
    nut_request = (b"LIST VAR ups\nGET VAR ups ups.status\n\0\0GET\0VAR\n"
                   b'GET DESC ups "x\\"y"\nFSD ups\n') * 20
    try:
        for i in range(3):
            attack.run(attack.flood, site, "nut", f"127.8.0.{i + 1}", nut_request)
        for i in range(2):
            attack.run(attack.flood, site, "http", f"127.8.2.{i + 1}",
                       b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n" * 10)
        # Logged in (anyone may), with half a line too long pending: the NUT server is full.
        for i in range(16):
            attack.run(attack.hold, site, site.nut_port, f"127.8.1.{i + 1}", 16,
                       b"USERNAME u\nPASSWORD p\nLOGIN ups\n" + b"A" * 500)
        # Heads sent a byte a second, never finished.
        for i in range(4):
            attack.run(attack.hold, site, site.http_port, f"127.8.3.{i + 1}", 32,
                       b"GET /metrics HTTP/1.1\r\n", b"X")
        time.sleep(2)
        before = polls(site)
        # A machine that shares the UPS still gets a place, and keeps it.
        secondary = connect(site, site.nut_port, "127.8.9.1")
        secondary.settimeout(10)
        lines = secondary.makefile("rwb")
        lines.write(b"USERNAME mon\nPASSWORD pw\nLOGIN ups\n")
        lines.flush()
        assert [lines.readline() for _ in range(3)] == [b"OK\n"] * 3

        def secondary_status():
            lines.write(b"GET VAR ups ups.status\n")
            lines.flush()
            return lines.readline().decode()

        assert secondary_status().startswith('VAR ups ups.status "OL')
        time.sleep(8)
        # The UPS is asked every two seconds whatever the load.
        assert polls(site) - before >= 3, site.ups.commands()[-10:]
        assert attack.received["nut"] > 0 and attack.received["http"] > 0
        panel = TcpPanel(site.tcp_port, site.listen)
        panel.logon("")
        panel.codes_until(STATUS, 10)
        # FSD without the primary's part, and all that flood, shut nothing down.
        assert not site.mark.exists()
        site.ups.ctl("utility", "fail")
        panel.codes_until(UTILITY_FAILED, 15)
        site.ups.ctl("battery", "low")
        low = time.monotonic()
        wait_until(lambda: "FSD" in secondary_status(), 15, "FSD told to the secondary")
        # The logged-in peers hold the shutdown for their time and no longer.
        wait_until(lambda: site.mark.exists(), SECONDARIES_WAIT + 15, "the agent's shutdown")
        assert time.monotonic() - low < SECONDARIES_WAIT + 10
        assert "NUT client(s) still logged in" in site.output()
        assert "FSD from a NUT client" not in site.output()
        assert site.proc.poll() is None
        panel.close()
    finally:
        attack.stop()


def test_password_guesses_spread_over_many_loopback_addresses_are_paced(site):
    site.extra_env.update(TORVANE_NUT_USER="admin", TORVANE_NUT_PASSWORD="s3cret")
    start(site)
    guesses = 0
    begin = time.monotonic()
    while time.monotonic() - begin < 4:
        # A new address for every guess, since one gets only three at once.
        source = f"127.7.{guesses // 250 % 250}.{guesses % 250 + 1}"
        try:
            with connect(site, site.nut_port, source) as s:
                s.settimeout(1)
                f = s.makefile("rwb")
                f.write(b"USERNAME admin\nPASSWORD guess%d\nPRIMARY ups\n" % guesses)
                f.flush()
                replies = [f.readline() for _ in range(3)]
                assert replies[2] == b"ERR ACCESS-DENIED\n", replies
        except socket.timeout:
            pass  # a guess that waits its turn is given up, as a guesser would
        guesses += 1
    # A burst of 16, then about one a second: nothing like the thousands connecting allows.
    assert 16 <= guesses < 60, guesses
    # The right password is never held up.
    with connect(site, site.nut_port, "127.7.255.1") as s:
        s.settimeout(2)
        f = s.makefile("rwb")
        f.write(b"USERNAME admin\nPASSWORD s3cret\nPRIMARY ups\n")
        f.flush()
        assert [f.readline() for _ in range(3)][2] == b"OK PRIMARY-GRANTED\n"


def hanging_receiver():
    """A webhook receiver that takes every connection and never answers."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    held = []

    def serve():
        while True:
            try:
                conn, _ = server.accept()
            except OSError:
                return
            held.append(conn)

    threading.Thread(target=serve, daemon=True).start()
    return server, held


def test_a_stop_with_clients_connected_and_a_webhook_hanging_ends_promptly(site):
    server, held = hanging_receiver()
    site.extra_env["TORVANE_WEBHOOKS"] = f"http://127.0.0.1:{server.getsockname()[1]}/hook"
    start(site, acFailDelay=60)
    clients = []
    try:
        for i in range(8):
            s = connect(site, site.nut_port, f"127.6.0.{i + 1}")
            s.sendall(b"USERNAME u\nPASSWORD p\nLOGIN ups\nLIST VAR ups\n" * 4)
            clients.append(s)
            h = connect(site, site.http_port, f"127.6.1.{i + 1}")
            h.sendall(b"GET /metrics HTTP/1.1\r\nHost:")
            clients.append(h)
        site.ups.ctl("utility", "fail")
        wait_until(lambda: held, 20, "the webhook's post")
        stopped = time.monotonic()
        site.proc.send_signal(signal.SIGTERM)
        site.proc.wait(20)
        # Well inside the service manager's 20 s.
        assert time.monotonic() - stopped < 5
        assert site.proc.returncode == 0
        assert not site.mark.exists()
    finally:
        for s in clients:
            s.close()
        server.close()
        for conn in held:
            conn.close()


def test_taken_ports_and_a_hanging_webhook_do_not_hold_the_shutdown(site):
    server, held = hanging_receiver()
    site.extra_env["TORVANE_WEBHOOKS"] = f"http://127.0.0.1:{server.getsockname()[1]}/hook"
    squatters = []
    for port in (site.nut_port, site.http_port):
        s = socket.socket()
        s.bind((site.listen, port))
        s.listen(1)
        squatters.append(s)
    try:
        start(site)
        begun = time.monotonic()
        site.ups.ctl("utility", "fail")
        wait_until(lambda: held, 20, "the webhook's post")
        site.ups.ctl("battery", "low")
        low = time.monotonic()
        wait_until(lambda: site.mark.exists(), 20, "the agent's shutdown")
        # Nobody logged in, so nothing is waited for; the webhook goes on its own thread.
        assert time.monotonic() - low < 10
        for s in squatters:
            s.close()

        def listening():
            try:
                for port in (site.nut_port, site.http_port):
                    socket.create_connection((site.listen, port), timeout=1).close()
                return True
            except OSError:
                return False

        # Tried again every minute, and said once.
        wait_until(listening, 80 - (time.monotonic() - begun), "the ports bound again")
        out = site.output()
        assert out.count("Torvane: no NUT server: cannot listen on") == 1, out
        assert out.count("Torvane: no metrics endpoint:") == 1, out
    finally:
        for s in squatters:
            s.close()
        server.close()
        for conn in held:
            conn.close()
