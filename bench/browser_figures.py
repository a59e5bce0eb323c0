#!/usr/bin/python3
"""The browser's seat, measured on loopback (127.0.0.1) only.

    /usr/bin/python3 bench/browser_figures.py PATH/TO/skyrazor [--loads 20]
        [--seconds 10] [--json FILE]

Starts `skyrazor --serve 127.0.0.1:PORT` in a directory of its own, and a
room in a two-person battle: its room host and pilot 2 are clients in this
process, speaking the wire protocol over TCP, walking the menus as the load
benchmark's terminals do and then pressing a key every 150-450 ms each.

1. The page: its bytes as served at /, and gzip'd for reference.
2. Watch link to picture: headless Chromium (Selenium) opens /w/ROOM --loads
   times, each after about:blank. A script put in before the page's own
   (DevTools' Page.addScriptToEvaluateOnNewDocument) notes, on the page's own
   clock (performance.now(), from the navigation's start), when the
   WebSocket opened, when the Welcome and the first Whole screen arrived,
   when the first animation frame after that picture had run (the page
   draws its picture on the canvas in an animation frame) and when the
   next one began (the drawn canvas painted by then).
3. Bytes per battle frame: a watcher over TCP and one over the page's
   WebSocket (a raw client here: handshake, masked frames out, every byte
   in counted with its WebSocket framing) sit in the same room for
   --seconds of battle, with the pilots flying and firing, and again
   without fire; each screen message is one battle frame's change.

Prints the figures and, with --json, writes them to FILE. Stops by itself;
every wait is bounded.
"""

import base64
import gzip
import json
import os
import random
import select
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

VERSION = 5
HELLO, WELCOME, REFUSAL, KEYS, WHOLE, CHANGES, PING, PONG, GOODBYE = range(1, 10)
PILOT, WATCHER = 1, 2
GAME_SPEED_MS = 50.0


def text_field(text):
    data = text.encode("ascii")
    return bytes([len(data)]) + data


def frame(kind, payload):
    return struct.pack(">IB", len(payload) + 1, kind) + payload


def hello(role, room):
    return frame(HELLO, b"SKYRAZOR" + struct.pack(">HB", VERSION, role) + text_field("") +
                 text_field(room) + bytes([0]) + text_field(""))


def percentile(values, share):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    index = min(len(ordered) - 1, max(0, int(round(share * (len(ordered) - 1)))))
    return ordered[index]


class Client:
    """A terminal over TCP, or the page's WebSocket: frames in and out, the
    picture kept, every received byte and message counted."""

    def __init__(self, port, role, room="", web=False, name=""):
        self.name = name
        self.web = web
        self.lock = threading.Condition()
        self.cols, self.rows = 80, 25
        self.chars = bytearray(b" " * 2000)
        self.welcome_room = None
        self.welcome_role = None
        self.pilot_seated = False
        self.closed = None
        self.bytes_in = 0
        self.counting = False
        # While counting: (arrival, type, bytes on the wire) per message.
        self.messages = []
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""
        self.fragments, self.fragment_wire, self.fragment_count = b"", 0, 0
        # Messages that came in fragments: (size, frames, wire bytes).
        self.fragmented = []
        if web:
            self._handshake(port)
        self.sock.settimeout(None)
        self.send(hello(role, room))
        threading.Thread(target=self._read, daemon=True).start()

    def _handshake(self, port):
        key = base64.b64encode(os.urandom(16)).decode()
        host = "127.0.0.1:%d" % port
        request = ("GET /ws HTTP/1.1\r\nHost: %s\r\nOrigin: http://%s\r\nUpgrade: websocket\r\n"
                   "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n"
                   "\r\n" % (host, host, key))
        self.sock.sendall(request.encode())
        answer = b""
        while b"\r\n\r\n" not in answer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError("the WebSocket handshake was cut short")
            answer += chunk
        head, _, rest = answer.partition(b"\r\n\r\n")
        if not head.startswith(b"HTTP/1.1 101"):
            raise RuntimeError("no WebSocket: " + head.split(b"\r\n")[0].decode())
        self.pending = rest
        self.handshake_bytes = len(head) + 4

    def send(self, data, opcode=2):
        if self.web:
            mask = os.urandom(4)
            length = len(data)
            head = bytes([0x80 | opcode])
            if length < 126:
                head += bytes([0x80 | length])
            else:
                head += bytes([0x80 | 126]) + struct.pack(">H", length)
            data = head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data))
        try:
            self.sock.sendall(data)
        except OSError:
            pass

    def keys(self, text):
        self.send(frame(KEYS, bytes([len(text)]) + text.encode()))

    def close(self):
        self.send(frame(GOODBYE, text_field("the measuring is over")))
        try:
            self.sock.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def _read(self):
        buffer = self.pending
        if buffer:
            self.bytes_in += len(buffer)
        while True:
            while True:
                try:
                    taken = self._take(buffer)
                except (RuntimeError, IndexError, struct.error) as fault:
                    with self.lock:
                        self.closed = str(fault)
                        self.lock.notify_all()
                    return
                if taken == 0:
                    break
                buffer = buffer[taken:]
            try:
                chunk = self.sock.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                with self.lock:
                    self.closed = self.closed or "the server closed the connection"
                    self.lock.notify_all()
                return
            now = time.monotonic()
            self.last_arrival = now
            with self.lock:
                self.bytes_in += len(chunk)
            buffer += chunk

    # One message from the front of `data`: how many bytes it took (0: more needed).
    def _take(self, data):
        if not self.web:
            if len(data) < 4:
                return 0
            length = struct.unpack(">I", data[:4])[0]
            if len(data) < 4 + length:
                return 0
            self._message(data[4], data[5:4 + length], 4 + length)
            return 4 + length
        if len(data) < 2:
            return 0
        opcode, length, at = data[0] & 0x0F, data[1] & 0x7F, 2
        if data[1] & 0x80:
            raise RuntimeError("the server masked a frame")
        if length == 126:
            if len(data) < 4:
                return 0
            length, at = struct.unpack(">H", data[2:4])[0], 4
        elif length == 127:
            if len(data) < 10:
                return 0
            length, at = struct.unpack(">Q", data[2:10])[0], 10
        if len(data) < at + length:
            return 0
        payload = data[at:at + length]
        final = bool(data[0] & 0x80)
        if opcode in (0, 2):
            # A message may come in fragments (continuation frames): its
            # wire bytes are all of theirs.
            if opcode == 2:
                self.fragments, self.fragment_wire, self.fragment_count = b"", 0, 0
            self.fragments += payload
            self.fragment_wire += at + length
            self.fragment_count += 1
            if final:
                whole = self.fragments
                if len(whole) < 5 or struct.unpack(">I", whole[:4])[0] != len(whole) - 4:
                    raise RuntimeError("a WebSocket message that is not one frame")
                if self.fragment_count > 1:
                    self.fragmented.append((len(whole), self.fragment_count, self.fragment_wire))
                self._message(whole[4], whole[5:], self.fragment_wire)
        elif opcode == 9:
            self.send(payload, opcode=10)
            self._note(-9, at + length)
        elif opcode == 8:
            with self.lock:
                self.closed = self.closed or "closed by the server"
                self.lock.notify_all()
        else:
            self._note(-opcode, at + length)
        return at + length

    def _note(self, kind, wire):
        if self.counting:
            self.messages.append((time.monotonic(), kind, wire))

    def _message(self, kind, payload, wire):
        self._note(kind, wire)
        with self.lock:
            if kind == WELCOME:
                role = payload[0]
                name_length = payload[5]
                self.welcome_role = role
                self.welcome_room = payload[6:6 + name_length].decode()
            elif kind == REFUSAL:
                self.closed = "refused: " + payload[2:].decode(errors="replace")
            elif kind == WHOLE:
                cols, rows = struct.unpack(">HH", payload[:4])
                self.cols, self.rows = cols, rows
                self.chars = bytearray(payload[9::3][:cols * rows])
            elif kind == CHANGES:
                count = struct.unpack(">H", payload[5:7])[0]
                at = 7
                for _ in range(count):
                    row, first, n = struct.unpack(">HHH", payload[at:at + 6])
                    at += 6
                    start = row * self.cols + first
                    self.chars[start:start + n] = payload[at:at + 3 * n:3]
                    at += 3 * n
            elif kind == PING:
                self.send(frame(PONG, payload))
            elif kind == GOODBYE:
                self.closed = "goodbye: " + payload[1:].decode(errors="replace")
            elif kind == 11:  # Room seats
                self.pilot_seated = payload[0] == 1
            self.lock.notify_all()

    def shows(self, text):
        wanted = text.encode()
        with self.lock:
            return any(wanted in bytes(self.chars[r * self.cols:(r + 1) * self.cols])
                       for r in range(self.rows))

    def wait_for(self, test, seconds, what):
        deadline = time.monotonic() + seconds
        with self.lock:
            while not test():
                if self.closed:
                    raise RuntimeError("%s: %s while waiting for %s" % (self.name, self.closed, what))
                left = deadline - time.monotonic()
                if left <= 0:
                    raise RuntimeError("%s: no %s within %.0f s" % (self.name, what, seconds))
                self.lock.wait(left)

    def wait_shows(self, text, seconds=10):
        deadline = time.monotonic() + seconds
        while not self.shows(text):
            with self.lock:
                if self.closed:
                    raise RuntimeError("%s: %s while waiting for %r" % (self.name, self.closed, text))
                left = deadline - time.monotonic()
                if left <= 0:
                    raise RuntimeError("%s: %r not shown within %.0f s" % (self.name, text, seconds))
                self.lock.wait(min(left, 0.2))


class Server:
    def __init__(self, binary):
        self.directory = tempfile.mkdtemp(prefix="skyrazor-browser-figures-")
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        self.port = probe.getsockname()[1]
        probe.close()
        self.process = subprocess.Popen(
            [binary, "--serve", "127.0.0.1:%d" % self.port, "--max-per-address", "1000000"],
            cwd=self.directory, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.ready = threading.Event()
        threading.Thread(target=self._log, daemon=True).start()
        if not self.ready.wait(10):
            self.stop()
            raise RuntimeError("the server never said where it serves")

    def _log(self):
        for line in self.process.stderr:
            self.lines.append(line.rstrip("\n"))
            if "serving on " in line:
                self.ready.set()

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.directory, ignore_errors=True)


class Battle:
    """A room in a two-person battle: the room host and pilot 2, pressing keys."""

    def __init__(self, port, fire):
        self.host = Client(port, PILOT, "", name="room host")
        self.host.wait_for(lambda: self.host.welcome_room is not None, 5, "welcome")
        self.room = self.host.welcome_room
        self.pilot = Client(port, PILOT, self.room, name="pilot 2")
        self.pilot.wait_for(lambda: self.pilot.welcome_room is not None, 5, "welcome")
        self.host.wait_shows("Skyrazor")
        self.host.keys("x")
        self.host.wait_shows("(5)Gallery")
        self.host.wait_for(lambda: self.host.pilot_seated, 5, "pilot 2 seated")
        self.host.keys("3")
        self.host.wait_shows("Pilot#1:")
        self.host.keys("Alice\r")
        self.pilot.wait_shows("Pilot#2:")
        self.pilot.keys("Bob\r")
        self.host.wait_shows("Shields(")
        self.pilot.wait_shows("Shields(")
        self.fire = fire
        self.stopping = threading.Event()
        self.presses = 0
        self.threads = [threading.Thread(target=self._press, args=(c, k, seed), daemon=True)
                        for c, k, seed in ((self.host, "esw" + ("a" if fire else ""), 1),
                                           (self.pilot, "plo" + ("k" if fire else ""), 2))]
        for thread in self.threads:
            thread.start()

    def _press(self, client, keys, seed):
        chance = random.Random(20261210 + seed)
        while not self.stopping.wait(chance.uniform(0.150, 0.450)):
            client.keys(chance.choice(keys))
            self.presses += 1

    def in_battle(self):
        return self.host.shows("Shields(") and not self.host.closed and not self.pilot.closed

    def stop(self):
        self.stopping.set()
        for thread in self.threads:
            thread.join(2)
        self.host.close()
        self.pilot.close()


# --- 1. The page -----------------------------------------------------------------------

def page_figures(port):
    url = "http://127.0.0.1:%d/" % port
    with urllib.request.urlopen(url, timeout=5) as answer:
        body = answer.read()
        headers = dict(answer.headers)
    # The page carries a fresh nonce each time; its size does not change.
    figures = {"bytes": len(body), "gzip_bytes": len(gzip.compress(body, 9)),
               "content_encoding": headers.get("Content-Encoding", "none"),
               "watch_link_bytes": len(urllib.request.urlopen(
                   "http://127.0.0.1:%d/w/ROOM" % port, timeout=5).read())}
    curl = shutil.which("curl")
    if curl:
        out = subprocess.run([curl, "-s", url], capture_output=True, timeout=10).stdout
        figures["curl_bytes"] = len(out)
    return figures


# --- 2. The watch link in Chromium ----------------------------------------------------

TIMING_SCRIPT = r"""
(function () {
  const times = (window.__skyrazorTimes = {});
  const OriginalSocket = window.WebSocket;
  const originalFrame = window.requestAnimationFrame.bind(window);
  let pictureIn = false;
  // The page draws in animation frames, whatever asked for the frame: the
  // first frame to run once the picture is in draws it whole, and its
  // callbacks' end is when the canvas holds it.
  let drawingFrame;
  window.requestAnimationFrame = function (callback) {
    return originalFrame(function (stamp) {
      if (pictureIn && times.drawing === undefined) {
        times.drawing = performance.now();
        drawingFrame = stamp;
        originalFrame(function () { times.painted = performance.now(); });
      }
      callback(stamp);
      if (stamp === drawingFrame) times.drawn = performance.now();
    });
  };
  function Socket(url, protocols) {
    const ws = protocols === undefined ? new OriginalSocket(url) : new OriginalSocket(url, protocols);
    times.socket = performance.now();
    ws.addEventListener("open", function () { times.open = performance.now(); });
    ws.addEventListener("message", function (event) {
      if (!(event.data instanceof ArrayBuffer)) return;
      const type = new Uint8Array(event.data)[4];
      if (type === 2 && times.welcome === undefined) times.welcome = performance.now();
      if (type === 5 && times.whole === undefined) {
        times.whole = performance.now();
        pictureIn = true;
      }
    });
    return ws;
  }
  Socket.prototype = OriginalSocket.prototype;
  for (const name of ["CONNECTING", "OPEN", "CLOSING", "CLOSED"]) Socket[name] = OriginalSocket[name];
  window.WebSocket = Socket;
})();
"""

READ_TIMES = r"""
const nav = performance.getEntriesByType("navigation")[0] || {};
const text = window.skyrazorScreenText ? window.skyrazorScreenText() : [];
return {times: window.__skyrazorTimes || {}, responseStart: nav.responseStart,
        responseEnd: nav.responseEnd, domContentLoaded: nav.domContentLoadedEventEnd,
        load: nav.loadEventEnd, transferSize: nav.transferSize,
        battle: text.some(function (line) { return line.indexOf("Shields(") >= 0; }),
        lines: text.length};
"""


def browser_figures(port, room, loads):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # A headless tab counts as hidden: these keep it as a visible tab in
    # the foreground would be, its timers and animation frames unthrottled.
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,800",
                     "--disable-extensions", "--no-first-run", "--disable-dev-shm-usage",
                     "--disable-renderer-backgrounding", "--disable-background-timer-throttling",
                     "--disable-backgrounding-occluded-windows"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(10)
    version = driver.capabilities.get("browserVersion", "?")
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": TIMING_SCRIPT})
    url = "http://127.0.0.1:%d/w/%s" % (port, room)
    loadsSeen = []
    try:
        for _ in range(loads):
            driver.get("about:blank")
            driver.get(url)
            deadline = time.monotonic() + 5
            while True:
                seen = driver.execute_script(READ_TIMES)
                if seen["times"].get("painted") is not None or time.monotonic() > deadline:
                    break
                time.sleep(0.02)
            loadsSeen.append(seen)
    finally:
        driver.quit()
    return version, loadsSeen


def raw_watch_times(port, room, loads):
    """The server's share: a raw WebSocket client's connect to its 101, its
    Welcome and its first Whole screen, in ms, `loads` times."""
    seen = []
    for _ in range(loads):
        start = time.monotonic()
        client = Client(port, WATCHER, room, web=True, name="raw WebSocket watcher")
        upgraded = time.monotonic()
        client.wait_for(lambda: client.welcome_room is not None, 5, "welcome")
        welcomed = time.monotonic()
        client.wait_shows("Shields(")
        pictured = time.monotonic()
        client.close()
        seen.append([1000.0 * (t - start) for t in (upgraded, welcomed, pictured)])
        time.sleep(0.1)
    return seen


# --- 3. Bytes per battle frame --------------------------------------------------------

def frame_bytes(port, seconds, fire):
    battle = Battle(port, fire)
    tcp = Client(port, WATCHER, battle.room, name="TCP watcher")
    web = Client(port, WATCHER, battle.room, web=True, name="WebSocket watcher")
    for watcher in (tcp, web):
        watcher.wait_for(lambda w=watcher: w.welcome_room is not None, 5, "welcome")
        watcher.wait_shows("Shields(")
    time.sleep(1.0)  # past the joining's whole pictures
    before = {w: w.bytes_in for w in (tcp, web)}
    for watcher in (tcp, web):
        watcher.counting = True
    start = time.monotonic()
    time.sleep(seconds)
    for watcher in (tcp, web):
        watcher.counting = False
    elapsed = time.monotonic() - start
    still = battle.in_battle()
    figures = {"fire": fire, "seconds": elapsed, "frames": elapsed * 1000.0 / GAME_SPEED_MS,
               "battle_on_throughout": still, "presses": battle.presses}
    for label, watcher in (("tcp", tcp), ("websocket", web)):
        screens = [wire for _, kind, wire in watcher.messages if kind in (WHOLE, CHANGES)]
        total = watcher.bytes_in - before[watcher]
        figures[label] = {
            "screen_messages": len(screens),
            "screen_bytes": sum(screens),
            "per_screen_message_median": statistics.median(screens) if screens else 0,
            "per_screen_message_max": max(screens) if screens else 0,
            "per_screen_message_mean": statistics.mean(screens) if screens else 0,
            "all_bytes": total,
            "all_bytes_per_frame": total / figures["frames"],
            "other_messages": len(watcher.messages) - len(screens),
            "fragmented_messages": watcher.fragmented[:5],
        }
    for client in (tcp, web):
        client.close()
    battle.stop()
    time.sleep(0.5)
    return figures


def main():
    if len(sys.argv) < 2:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    binary = os.path.realpath(sys.argv[1])
    loads, seconds, out = 20, 10.0, None
    arguments = sys.argv[2:]
    while arguments:
        option, value = arguments[0], arguments[1]
        arguments = arguments[2:]
        if option == "--loads":
            loads = int(value)
        elif option == "--seconds":
            seconds = float(value)
        elif option == "--json":
            out = value
        else:
            raise SystemExit("unknown option " + option)
    results = {"when": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
               "cpus": os.cpu_count()}
    with open("/proc/cpuinfo") as info:
        results["model"] = next((l.split(":", 1)[1].strip() for l in info
                                 if l.startswith("model name")), "?")
    server = Server(binary)
    try:
        page = page_figures(server.port)
        results["page"] = page
        print("The page at /: %d bytes as served (curl: %s, Content-Encoding %s), %d gzip'd "
              "(level 9); /w/ROOM %d bytes; goal at most 65536: %s" %
              (page["bytes"], page.get("curl_bytes", "?"), page["content_encoding"],
               page["gzip_bytes"], page["watch_link_bytes"],
               "met" if page["bytes"] <= 65536 else "MISSED"))
        sys.stdout.flush()

        battle = Battle(server.port, fire=False)
        version, seen = browser_figures(server.port, battle.room, loads)
        raw = raw_watch_times(server.port, battle.room, loads)
        still = battle.in_battle()
        battle.stop()
        drawn = [s["times"]["drawn"] for s in seen if s["times"].get("drawn") is not None]
        results["browser"] = {"chromium": version, "loads": seen, "battle_on_throughout": still,
                              "raw_websocket_ms": raw}

        def line(what, values):
            values = [v for v in values if v is not None]
            if not values:
                return "  %-44s none" % what
            return "  %-44s median %6.1f, p95 %6.1f, max %6.1f ms (%d)" % (
                what, statistics.median(values), percentile(values, 0.95), max(values),
                len(values))
        print("Watch link to the first whole picture, headless Chromium %s, %d loads of /w/%s "
              "(from the navigation's start):" % (version, len(seen), battle.room))
        for what, key in (("page's response in", "responseEnd"),
                          ("DOMContentLoaded done", "domContentLoaded")):
            print(line(what, [s.get(key) for s in seen]))
        for what, key in (("WebSocket made", "socket"), ("WebSocket open", "open"),
                          ("Welcome in", "welcome"), ("first Whole screen in", "whole"),
                          ("its animation frame began", "drawing"),
                          ("picture drawn (its animation frame ran)", "drawn"),
                          ("next animation frame (painted by then)", "painted")):
            print(line(what, [s["times"].get(key) for s in seen]))
        print("  load event done %s; battle picture shown in %d of %d loads; the battle on "
              "throughout: %s; transfer sizes %s" %
              (line("", [s.get("load") for s in seen]).strip(),
               sum(1 for s in seen if s["battle"]), len(seen), still,
               sorted({s.get("transferSize") for s in seen})))
        print("The server's share, a raw WebSocket client here (from its connect):")
        for index, what in enumerate(("WebSocket open (101 read)", "Welcome in",
                                      "first Whole screen in")):
            print(line(what, [r[index] for r in raw]))
        print("  goal under 150 ms (picture drawn, max): %s" %
              ("met" if drawn and len(drawn) == len(seen) and max(drawn) < 150 else "MISSED"))
        sys.stdout.flush()

        results["frames"] = []
        for fire in (True, False):
            figures = frame_bytes(server.port, seconds, fire)
            results["frames"].append(figures)
            print("Bytes per battle frame over %.1f s (%.0f frames at %.0f ms), pilots %s; the "
                  "battle on throughout: %s:" %
                  (figures["seconds"], figures["frames"], GAME_SPEED_MS,
                   "flying and firing" if fire else "flying, not firing",
                   figures["battle_on_throughout"]))
            for label in ("tcp", "websocket"):
                f = figures[label]
                print("  %-9s %4d screen messages, per message median %5.1f, mean %5.1f, max %4d "
                      "bytes; all bytes in %6d, %5.1f per frame (with %d other messages)" %
                      (label, f["screen_messages"], f["per_screen_message_median"],
                       f["per_screen_message_mean"], f["per_screen_message_max"], f["all_bytes"],
                       f["all_bytes_per_frame"], f["other_messages"]))
            sys.stdout.flush()
    finally:
        server.stop()
    results["server_log_tail"] = server.lines[-5:]
    if out:
        with open(out, "w") as handle:
            json.dump(results, handle, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
