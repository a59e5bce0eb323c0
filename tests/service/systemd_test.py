#!/usr/bin/python3
"""The server as systemd runs it, on loopback: started by
systemd-socket-activate with a listening socket passed and no address of its
own, it
  - tells READY=1 on the notification socket once it serves;
  - answers on the passed socket (the listed rooms as JSON);
  - tells WATCHDOG=1 again and again while it serves, as WATCHDOG_USEC asks;
  - shows /metrics to this machine in Prometheus's text format, and refuses
    a browser its trusted proxy forwards from elsewhere;
  - takes, on a passed local socket (the ssh entrance's), a lobby's hello
    that names its player's own address, and believes it;
  - on SIGTERM tells STOPPING=1 and ends with status 0.
And without an address and without passed sockets it says so and ends with
status 2.

Usage: systemd_test.py PATH/TO/skyrazor. Exits 77 (skipped) without
systemd-socket-activate or python3-prometheus-client."""

import http.client
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

PATIENCE = 15.0  # seconds any one wait may take
WATCHDOG_SECONDS = 1.0


def skip(why):
    print(f"skipping the service test: {why}")
    sys.exit(77)


def fail(why):
    print(f"FAIL: {why}")
    raise SystemExit(1)


ACTIVATE = shutil.which("systemd-socket-activate") or "/usr/bin/systemd-socket-activate"
if not os.access(ACTIVATE, os.X_OK):
    skip("systemd-socket-activate is missing")
try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    skip("python3-prometheus-client is missing")


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Notifications:
    """The datagrams the server sends to NOTIFY_SOCKET, one at a time."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.socket.bind(path)

    def await_line(self, wanted, patience=PATIENCE):
        deadline = time.monotonic() + patience
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                fail(f"no {wanted} within {patience} s")
            self.socket.settimeout(left)
            try:
                message = self.socket.recv(4096).decode()
            except socket.timeout:
                continue
            if wanted in message.split("\n"):
                return message

    def count(self, wanted, seconds):
        seen = 0
        deadline = time.monotonic() + seconds
        while (left := deadline - time.monotonic()) > 0:
            self.socket.settimeout(left)
            try:
                seen += wanted in self.socket.recv(4096).decode().split("\n")
            except socket.timeout:
                break
        return seen


def connect_when_listening(port):
    deadline = time.monotonic() + PATIENCE
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=PATIENCE)
        except ConnectionRefusedError:
            if time.monotonic() > deadline:
                fail(f"nothing listens on port {port}")
            time.sleep(0.05)


def read_all(connection):
    answer = b""
    while chunk := connection.recv(4096):
        answer += chunk
    connection.close()
    return answer.decode()


def get(port, path, forwarded_for=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=PATIENCE)
    headers = {"X-Forwarded-For": forwarded_for} if forwarded_for else {}
    connection.request("GET", path, headers=headers)
    answer = connection.getresponse()
    body = answer.read().decode()
    connection.close()
    return answer.status, answer.getheader("Content-Type"), body


EXPECTED_FAMILIES = {
    "skyrazor_rooms": "gauge",
    "skyrazor_seats": "gauge",
    "skyrazor_lobbies": "gauge",
    "skyrazor_refusals": "counter",
    "skyrazor_room_frame_period_seconds": "histogram",
    "skyrazor_sent_bytes": "counter",
    "process_cpu_seconds": "counter",
    "process_resident_memory_bytes": "gauge",
    "process_start_time_seconds": "gauge",
}


def check_metrics(port):
    status, kind, body = get(port, "/metrics")
    if status != 200:
        fail(f"/metrics from 127.0.0.1 answered {status}")
    if kind != "text/plain; version=0.0.4; charset=utf-8":
        fail(f"/metrics came as {kind}")
    families = {family.name: family for family in text_string_to_metric_families(body)}
    for name, wanted in EXPECTED_FAMILIES.items():
        if name not in families:
            fail(f"/metrics has no {name}: {sorted(families)}")
        if families[name].type != wanted:
            fail(f"{name} is a {families[name].type}, not a {wanted}")
    reasons = {sample.labels.get("reason") for sample in families["skyrazor_refusals"].samples}
    for reason in ("room_full", "no_such_room", "per_address_limit", "origin_refused"):
        if reason not in reasons:
            fail(f"skyrazor_refusals_total has no reason {reason}: {sorted(reasons)}")
    status, _, _ = get(port, "/metrics", forwarded_for="203.0.113.9")
    if status != 403:
        fail(f"/metrics forwarded by the trusted proxy for 203.0.113.9 answered {status}")
    status, _, _ = get(port, "/metrics", forwarded_for="198.51.100.7")
    if status != 200:
        fail(f"/metrics forwarded for the allowed 198.51.100.7 answered {status}")


def serve_activated(skyrazor, work):
    port = free_port()
    notifications = Notifications(os.path.join(work, "notify"))
    log = open(os.path.join(work, "server.log"), "w+")
    environment = dict(os.environ, NOTIFY_SOCKET=os.path.join(work, "notify"),
                       WATCHDOG_USEC=str(int(WATCHDOG_SECONDS * 1e6)))
    environment.pop("WATCHDOG_PID", None)
    server = subprocess.Popen(
        [ACTIVATE, "-l", f"127.0.0.1:{port}", "-l", os.path.join(work, "ssh.sock"), "-E", "NOTIFY_SOCKET", "-E", "WATCHDOG_USEC",
         "-E", "ASAN_OPTIONS", "-E", "UBSAN_OPTIONS",
         skyrazor, "--serve", "--trust-proxy", "127.0.0.1", "--metrics-from", "198.51.100.7"],
        env=environment, stdout=log, stderr=subprocess.STDOUT)
    try:
        # systemd-socket-activate starts the server at the first connection,
        # which waits on the passed socket until the server serves it.
        first = connect_when_listening(port)
        ready = notifications.await_line("READY=1")
        if (f"STATUS=serving on the sockets systemd passed (port {port}), and for ssh on the "
                "local socket systemd passed") not in ready:
            fail(f"READY=1 came with {ready!r}")
        first.sendall(b"GET /rooms.json HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        answer = read_all(first)
        if not answer.startswith("HTTP/1.1 200") or not answer.endswith("\r\n\r\n[]"):
            fail(f"/rooms.json on the passed socket answered {answer!r}")
        beats = notifications.count("WATCHDOG=1", 2.5 * WATCHDOG_SECONDS)
        if beats < 4:
            fail(f"only {beats} WATCHDOG=1 in {2.5 * WATCHDOG_SECONDS} s")
        check_metrics(port)
        ssh_player_comes_in(os.path.join(work, "ssh.sock"), log)
        server.send_signal(signal.SIGTERM)
        notifications.await_line("STOPPING=1")
        status = server.wait(timeout=PATIENCE)
        if status != 0:
            fail(f"the server ended with status {status} after SIGTERM")
    except BaseException:
        server.kill()
        server.wait(timeout=PATIENCE)
        log.seek(0)
        print("the server's log:\n" + log.read())
        raise


def ssh_player_comes_in(path, log):
    """The ssh entrance's passed local socket takes a lobby's hello that says
    where its player came from, and the server believes it."""
    hello = (b"SKYRAZOR" + bytes([0, 5, 4, 0, 0, 0]) + bytes([len(b"203.0.113.5")]) +
             b"203.0.113.5")
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as entrance:
        entrance.settimeout(PATIENCE)
        entrance.connect(path)
        entrance.sendall(struct.pack(">IB", len(hello) + 1, 1) + hello)
        welcome = entrance.recv(5)
        if len(welcome) < 5 or welcome[4] != 2:
            fail(f"the ssh entrance answered a lobby's hello with {welcome!r}")
    deadline = time.monotonic() + PATIENCE
    while time.monotonic() < deadline:
        log.seek(0)
        if "lobby: 203.0.113.5 (ssh) came in" in log.read():
            return
        time.sleep(0.05)
    fail("the server never logged the ssh player's own address")


def refuse_without_sockets(skyrazor):
    environment = {key: value for key, value in os.environ.items()
                   if not key.startswith("LISTEN_")}
    ended = subprocess.run([skyrazor, "--serve"], env=environment, capture_output=True,
                           text=True, timeout=PATIENCE)
    if ended.returncode != 2 or "systemd" not in ended.stderr or ended.stderr.count("\n") != 1:
        fail(f"--serve without sockets ended {ended.returncode}: {ended.stderr!r}")


def main():
    if len(sys.argv) != 2:
        print("usage: systemd_test.py PATH/TO/skyrazor")
        return 2
    skyrazor = os.path.abspath(sys.argv[1])
    refuse_without_sockets(skyrazor)
    with tempfile.TemporaryDirectory(prefix="skyrazor-service-") as work:
        serve_activated(skyrazor, work)
    print("service test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
