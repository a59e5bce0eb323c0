#!/usr/bin/python3
"""The server's web face in real browsers, on loopback. Headless Chromium
driven through Selenium:
  - finds a terminal's listed room on the lobby page;
  - watching that room, shows, cell for cell, the picture a terminal watching
    it shows: at the title, the menu, and through a two-person battle (its
    first frame, a ship moved, rockets in flight, a dust wall, the result);
  - as a phone (a 390x844 touch screen) opening the room's /r/ address, is
    seated as pilot 2: types its name in the page's field when the game asks
    for it, flies the right ship with its on-screen buttons, changes weapon
    and fires rocket volleys until the host's ship is down, and shows the
    host's own result picture;
  - while the battle plays, strangers are refused and the room plays on: a
    page of another site opening the server's WebSocket (403), a message
    over 1 KiB from the server's own page (closed with 1009), and a request
    that is not HTTP's GET;
  - the phone, its connection cut mid-battle, says so, and its Reconnect
    button seats it as pilot 2 again, flying the ship it kept.
When failing it keeps the phone's screenshots at the battle and at the result
and prints where, with what the terminals last showed.

Usage: browser_test.py PATH/TO/skyrazor. Exits 77 (skipped) without tmux,
Chromium, its driver or Selenium."""

import os
import http.server
import re
import shutil
import socket as sockets
import subprocess
import sys
import tempfile
import threading
import time
import traceback

PATIENCE = 20.0  # seconds any one wait may take
HOST, PHONE = "Ann", "Pixel"  # the pilots' names
ROCKET = "\u2194"  # how the game draws a rocket
DUST = "\u2591\u2592"  # the dust of a wall
ROCKETS = 4  # the rocket volley's place in the weapon cycle

started = time.monotonic()


def skip(why):
    print(f"skipping the browser test: {why}")
    sys.exit(77)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.keys import Keys
except ImportError:
    skip("Selenium is not installed")
for program in ("tmux", "chromium", "chromedriver"):
    if shutil.which(program) is None:
        skip(f"{program} is not installed")

binary = os.path.abspath(sys.argv[1])
work = tempfile.mkdtemp(prefix="skyrazor-browser.")
socket = f"skyrazor-browser-{os.getpid()}"
failures = []
phone_shots = {}  # moment -> the phone's screenshot (PNG), kept when failing


def step(what):
    print(f"{time.monotonic() - started:5.1f} s: {what}", flush=True)


def fail(what):
    print(f"FAIL: {what}", flush=True)
    failures.append(what)


class Stuck(Exception):
    """A wait that timed out: the story cannot go on from there."""


def poll(check, patience=PATIENCE, pause=0.1):
    deadline = time.monotonic() + patience
    while time.monotonic() < deadline:
        result = check()
        if result:
            return result
        time.sleep(pause)
    return None


def until(what, check, patience=PATIENCE, pause=0.1, show=None):
    """Waits for `check`; on a timeout a failure that ends the story, with
    `show` (a function) printing what was there."""
    result = poll(check, patience, pause)
    if not result:
        fail(what)
        if show:
            show()
        raise Stuck(what)
    return result


# ---- Terminals: tmux panes of 80x26, the status line below the picture ----

def tmux(*arguments):
    return subprocess.run(["tmux", "-L", socket, "-f", "/dev/null", *arguments],
                          capture_output=True, text=True, check=False).stdout


def pane(name, *arguments):
    """A terminal running the game; should the game end, its last words stay."""
    command = " ".join(["LANG=C.UTF-8", "LC_ALL=C.UTF-8", "TERM=xterm-256color", binary,
                        *arguments])
    tmux("new-session", "-d", "-x", "80", "-y", "26", "-s", name, command,
         ";", "set-option", "-w", "-t", name, "remain-on-exit", "on")


def keys(name, *typed):
    tmux("send-keys", "-t", name, *typed)


def picture(name):
    """The pane's 25 rows of the game's picture, trailing blanks dropped."""
    rows = tmux("capture-pane", "-p", "-t", name).split("\n")[:25]
    return [row.rstrip() for row in rows + [""] * (25 - len(rows))]


def shows(name, text):
    return text in "\n".join(picture(name))


def status_row(name):
    rows = tmux("capture-pane", "-p", "-t", name).split("\n")
    return rows[25] if len(rows) > 25 else ""


def ship_row(name, side):
    """The picture's row (1-based) of the left ('>') or right ('<') ship."""
    for number, row in enumerate(picture(name), 1):
        if row.startswith(" \u2502>") if side == "left" else row.endswith("<\u2502"):
            return number
    return None


def pilot(name, who):
    """(shields, hit points, weapon) of the pilot called `who`, as shown."""
    found = re.search(re.escape(who) + r": Shields\((\d+)\) HP\((\d+)\) Weaptype\((\d+)\)",
                      "\n".join(picture(name)))
    return tuple(int(n) for n in found.groups()) if found else None


def walled(rows):
    """The left ship's dust wall stands over the arena's first column."""
    return all(len(row) > 2 and row[2] in DUST for row in rows[2:11])


# ---- Browsers ----

def chromium(profile, phone=False):
    options = Options()
    for argument in ("--headless=new", "--no-sandbox", "--window-size=1280,800",
                     f"--user-data-dir={work}/{profile}"):
        options.add_argument(argument)
    if phone:
        options.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 3, "touch": True},
            "userAgent": "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 "
                         "(KHTML, like Gecko) Chrome/124.0 Mobile Safari/537.36"})
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


# Put in before the page's own script: the page's WebSockets, for the test
# to cut as a lost connection would.
KEEP_SOCKETS = r"""
(function () {
  const Original = window.WebSocket;
  const kept = (window.__keptSockets = []);
  function Socket(url, protocols) {
    const ws = protocols === undefined ? new Original(url) : new Original(url, protocols);
    kept.push(ws);
    return ws;
  }
  Socket.prototype = Original.prototype;
  for (const name of ["CONNECTING", "OPEN", "CLOSING", "CLOSED"]) Socket[name] = Original[name];
  window.WebSocket = Socket;
})();
"""

# Opens a WebSocket, sends `size` bytes if asked once it is open, and answers
# with how it ended: "open" (still open after 3 s) or "closed CODE".
SOCKET_FATE = r"""
const [url, size, done] = arguments;
const ws = new WebSocket(url);
ws.binaryType = "arraybuffer";
const timer = setTimeout(function () { done("open"); ws.close(); }, 3000);
ws.onopen = function () { if (size > 0) ws.send(new Uint8Array(size)); };
ws.onclose = function (event) { clearTimeout(timer); done("closed " + event.code); };
"""


def screen_text(browser):
    lines = browser.execute_script(
        "return window.skyrazorScreenText ? window.skyrazorScreenText() : null")
    return [line.rstrip() for line in lines] if lines else None


def same_picture(browser, name, moment, showing):
    """The browser comes to show the pane's picture, one showing `showing`
    (a text in it, or a test of its rows). The pane is read between two
    looks at the browser, so that a picture changing every frame is caught
    too once both are at the same frame."""
    wanted = showing if callable(showing) else lambda rows: showing in "\n".join(rows)

    def agree():
        before = screen_text(browser)
        seen = picture(name)
        after = screen_text(browser)
        return wanted(seen) and seen in (before, after)

    def show():
        print("terminal:\n" + "\n".join(picture(name)))
        print("browser:\n" + "\n".join(screen_text(browser) or []))
    until(f"the browser never showed the terminal's picture at {moment}", agree, pause=0.02, show=show)


def press(phone, key):
    phone.find_element("css selector", f'#pad button[data-key="{key}"]').click()


def shoot(phone, moment):
    phone_shots[moment] = phone.get_screenshot_as_png()


# ---- The story ----

def serve():
    log = os.path.join(work, "server.log")
    for attempt in range(5):
        port = 47000 + (os.getpid() + attempt * 7) % 900
        server = subprocess.Popen([binary, "--serve", f"127.0.0.1:{port}"],
                                  stderr=open(log, "w"))
        deadline = time.monotonic() + PATIENCE
        while time.monotonic() < deadline and server.poll() is None:
            if "serving on" in open(log).read():
                return server, port
            time.sleep(0.05)
        server.kill()
        server.wait()
    skip("no free port for the server")


def open_listed_room(port):
    """A terminal opens a listed room from its lobby; another watches it."""
    pane("host", "--join", f"127.0.0.1:{port}")
    until("the host's lobby never showed", lambda: shows("host", "q quick match"))
    keys("host", "n")
    room = until("the new room's name never showed",
                 lambda: (re.match(r"Room (\S+) - you host", status_row("host")) or [None, None])[1])
    pane("watcher", "--watch", f"127.0.0.1:{port}", "--room", room)
    until("the terminal watcher never showed the title", lambda: shows("watcher", "Skyrazor"))
    return room


def watch_title_and_menu(watcher, port, room):
    watcher.get(f"http://127.0.0.1:{port}/")
    until("the lobby page never listed the terminal's room",
          lambda: room in watcher.find_element("tag name", "body").text)
    watcher.get(f"http://127.0.0.1:{port}/w/{room}")
    same_picture(watcher, "watcher", "the title", "Skyrazor")
    keys("host", "x")
    until("the terminal watcher never showed the menu", lambda: shows("watcher", "(5)Gallery"))
    same_picture(watcher, "watcher", "the menu", "(5)Gallery")


def seat_phone(phone, port, room):
    phone.get(f"http://127.0.0.1:{port}/r/{room}")
    until("the host never saw pilot 2 seated", lambda: "pilot 2 here" in status_row("host"))
    until("the phone never said it flies the right ship",
          lambda: "pilot 2, right ship" in phone.find_element("id", "status").text)
    until("the phone never showed its buttons",
          lambda: phone.find_element("css selector", '#pad button[data-key="k"]').is_displayed())


def name_the_pilots(phone):
    """The host picks the two-person match and types its name; the phone
    types pilot 2's in the field the page shows while the game asks."""
    keys("host", "3")
    until("the host was never asked its name", lambda: shows("host", "Enter your name Pilot#1:"))
    keys("host", HOST, "Enter")
    until("the phone was never asked pilot 2's name",
          lambda: "Enter your name Pilot#2:" in "\n".join(screen_text(phone) or []))
    line = phone.find_element("id", "line")
    until("the phone showed no field to type in", line.is_displayed)
    line.send_keys(PHONE)
    line.send_keys(Keys.ENTER)
    # The controls screen and the countdown come first: some seven seconds.
    until("the battle never began with the phone's pilot",
          lambda: pilot("host", PHONE) == (100, 3, 1))
    until("the phone's field stayed after the name", lambda: not line.is_displayed())


def fly_right_ship(phone, key, step):
    row = ship_row("host", "right")
    press(phone, key)
    until(f"the right ship never moved from row {row} with the phone's '{key}'",
          lambda: ship_row("host", "right") == row + step,
          show=lambda: print("\n".join(picture("host"))))
    if poll(lambda: ship_row("host", "right") != row + step, patience=0.5):
        fail(f"one press of '{key}' moved the right ship on past row {row + step}")


def pick_rockets(phone):
    for weapon in range(1, ROCKETS):
        press(phone, "o")
        until(f"the phone's weapon button never moved on from weapon {weapon}",
              lambda: (pilot("host", PHONE) or (0, 0, 0))[2] == weapon + 1)


def host_down():
    return shows("host", "CONGRATULATIONS")


def shoot_the_host_down(phone, watcher):
    """Rocket volleys along the host's row, each fired as the host's shields
    come back behind its dust wall (about one a frame from none): a volley
    takes about 38 frames to cross and lands just after the wall drops. The
    last hit point lost is never shown: the result comes in its place."""
    for volley in range(5):
        hit_points = (pilot("host", HOST) or (0, 0))[1]
        until("the host's shields never came back",
              lambda: host_down() or (pilot("host", HOST) or (0,))[0] >= 75)
        if host_down():
            return
        press(phone, "k")
        step(f"the phone fired volley {volley + 1}")
        if volley == 0:
            same_picture(watcher, "watcher", "a rocket volley in flight", ROCKET)
        poll(lambda: host_down() or (pilot("host", HOST) or (0, 0))[1] < hit_points, patience=5.0)
        if volley == 0:
            until("the host's dust wall never showed", lambda: walled(picture("host")))
            same_picture(watcher, "watcher", "the host's dust wall", walled)
    fail("five volleys did not bring the host down")
    raise Stuck("the battle went on")


def battle(phone, watcher, port):
    name_the_pilots(phone)
    step("the battle began")
    same_picture(watcher, "watcher", "the battle's first frame", f"{PHONE}: Shields(100)")
    same_picture(phone, "host", "the battle's first frame on the phone", f"{PHONE}: Shields(100)")
    if ship_row("host", "left") != 7 or ship_row("host", "right") != 7:
        fail("the ships did not start on row 7")
    fly_right_ship(phone, "p", -1)
    same_picture(watcher, "watcher", "the right ship moved", f"{PHONE}: Shields(")
    fly_right_ship(phone, "l", +1)
    reconnect_to_the_seat(phone)
    step("the phone lost its connection and took its seat again")
    stranger = chromium("stranger")
    try:
        strangers_refused(stranger, phone, port)
    finally:
        stranger.quit()
    step("strangers were refused while the room played on")
    pick_rockets(phone)
    shoot(phone, "battle")
    step("the phone flew the right ship and picked the rockets")
    shoot_the_host_down(phone, watcher)
    step("the host's ship is down")
    winner = f"***   {PHONE}   ***"
    until("the host never reached the result", host_down)
    if not shows("host", winner):
        fail(f"the result did not name {PHONE}:\n" + "\n".join(picture("host")))
    same_picture(phone, "host", "the result on the phone", winner)
    shoot(phone, "result")
    same_picture(watcher, "watcher", "the result", winner)
    step("the phone and the browser watcher showed the result")


def other_site():
    """A page of another site on loopback: a plain file server's."""
    with open(os.path.join(work, "index.html"), "w") as page:
        page.write("<!DOCTYPE html><title>elsewhere</title>")
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    handler = lambda *args: Quiet(*args, directory=work)
    site = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=site.serve_forever, daemon=True).start()
    return site


def room_plays_on(phone):
    """The room's battle still moves: the phone's pilot can still fly."""
    fly_right_ship(phone, "l", +1)
    fly_right_ship(phone, "p", -1)


def strangers_refused(stranger, phone, port):
    site = other_site()
    try:
        stranger.get(f"http://127.0.0.1:{site.server_port}/index.html")
        fate = stranger.execute_async_script(SOCKET_FATE, f"ws://127.0.0.1:{port}/ws", 0)
        if not fate.startswith("closed"):
            fail(f"a page of another site opened the server's WebSocket ({fate})")
    finally:
        site.shutdown()
        site.server_close()
    stranger.get(f"http://127.0.0.1:{port}/")
    fate = stranger.execute_async_script(SOCKET_FATE, f"ws://127.0.0.1:{port}/ws", 2000)
    if fate != "closed 1009":
        fail(f"a 2000-byte message from the server's own page ended as '{fate}', not closed with 1009")
    with sockets.create_connection(("127.0.0.1", port), timeout=PATIENCE) as connection:
        connection.sendall(b"BREW /w/pot HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        answer = connection.recv(100).decode("ascii", "replace")
        if not answer.startswith("HTTP/1.1 405"):
            fail(f"a request that is not GET was answered '{answer.splitlines()[0] if answer else ''}'")
    room_plays_on(phone)


def reconnect_to_the_seat(phone):
    phone.execute_script("window.__keptSockets.forEach(function (ws) { ws.close(); });")
    until("the phone never said its connection was lost",
          lambda: phone.find_element("id", "lost").is_displayed())
    until("the host never saw pilot 2 leave", lambda: "no pilot 2 yet" in status_row("host"))
    phone.find_element("id", "reconnect").click()
    until("the host never saw pilot 2 back", lambda: "pilot 2 here" in status_row("host"))
    until("the phone never took pilot 2's seat again",
          lambda: "pilot 2, right ship" in phone.find_element("id", "status").text and
          not phone.find_element("id", "lost").is_displayed())
    room_plays_on(phone)


def keep_evidence(phone):
    for name in ("host", "watcher"):
        print(f"the {name}'s terminal last showed:\n" + tmux("capture-pane", "-p", "-t", name))
    if phone is not None:
        try:
            shoot(phone, "failure")
        except Exception as error:  # the browser may be what failed
            print(f"no screenshot of the phone at the failure: {error}")
    for moment, png in phone_shots.items():
        path = os.path.join(work, f"phone-{moment}.png")
        with open(path, "wb") as out:
            out.write(png)
        print(f"the phone at {moment}: {path}")


server, port = serve()
watcher = phone = None
try:
    room = open_listed_room(port)
    watcher = chromium("watcher")
    watch_title_and_menu(watcher, port, room)
    step(f"a browser watched room {room} at the title and the menu")
    phone = chromium("phone", phone=True)
    phone.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": KEEP_SOCKETS})
    seat_phone(phone, port, room)
    step("the phone is seated as pilot 2")
    battle(phone, watcher, port)
except Stuck:
    pass
except Exception as error:  # a browser or its driver gave up: a failure, with the evidence
    traceback.print_exc()
    fail(f"{type(error).__name__}: {error}")
finally:
    if failures:
        keep_evidence(phone)
    for browser in (watcher, phone):
        if browser is not None:
            browser.quit()
    tmux("kill-server")
    server.terminate()
    server.wait(timeout=10)
    for profile in ("watcher", "phone", "stranger"):
        shutil.rmtree(os.path.join(work, profile), ignore_errors=True)
    if failures:
        print("the server said:\n" + open(os.path.join(work, "server.log")).read())
        print(f"kept {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)

print(f"ran for {time.monotonic() - started:.1f} s")
if failures:
    print(f"{len(failures)} failure(s)")
    sys.exit(1)
print("the browser test passed")
