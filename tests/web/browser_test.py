#!/usr/bin/python3
"""The server's web face in a real browser, on loopback: headless Chromium
driven through Selenium finds a terminal's listed room on the lobby page,
and a browser watching it shows, cell for cell, the picture a terminal
watching it shows, at the title and again at the menu.

Usage: browser_test.py PATH/TO/skyrazor. Exits 77 (skipped) without tmux,
Chromium, its driver or Selenium."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

PATIENCE = 20.0  # seconds any one wait may take


def skip(why):
    print(f"skipping the browser test: {why}")
    sys.exit(77)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
except ImportError:
    skip("Selenium is not installed")
for program in ("tmux", "chromium", "chromedriver"):
    if shutil.which(program) is None:
        skip(f"{program} is not installed")

binary = os.path.abspath(sys.argv[1])
work = tempfile.mkdtemp(prefix="skyrazor-browser.")
socket = f"skyrazor-browser-{os.getpid()}"
failures = []


def fail(what):
    print(f"FAIL: {what}")
    failures.append(what)


def until(what, check):
    deadline = time.monotonic() + PATIENCE
    while time.monotonic() < deadline:
        result = check()
        if result:
            return result
        time.sleep(0.1)
    fail(what)
    return None


def tmux(*arguments):
    return subprocess.run(["tmux", "-L", socket, "-f", "/dev/null", *arguments],
                          capture_output=True, text=True, check=False).stdout


def pane(name, *arguments):
    command = " ".join(["LANG=C.UTF-8", "LC_ALL=C.UTF-8", "TERM=xterm-256color", binary,
                        *arguments])
    tmux("new-session", "-d", "-x", "80", "-y", "26", "-s", name, command)


def picture(name):
    """The pane's 25 rows of the game's picture, trailing blanks dropped."""
    rows = tmux("capture-pane", "-p", "-t", name).split("\n")[:25]
    return [row.rstrip() for row in rows + [""] * (25 - len(rows))]


def status_row(name):
    rows = tmux("capture-pane", "-p", "-t", name).split("\n")
    return rows[25] if len(rows) > 25 else ""


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


server, port = serve()
browser = None
try:
    # A terminal opens a listed room from its lobby; another watches it.
    pane("host", "--join", f"127.0.0.1:{port}")
    until("the host's lobby never showed", lambda: "q quick match" in "\n".join(picture("host")))
    tmux("send-keys", "-t", "host", "n")
    room = until("the new room's name never showed",
                 lambda: (re.match(r"Room (\S+) - you host", status_row("host")) or [None, None])[1])
    pane("watcher", "--watch", f"127.0.0.1:{port}", "--room", room)
    until("the terminal watcher never showed the title",
          lambda: "Skyrazor" in "\n".join(picture("watcher")))

    options = Options()
    for argument in ("--headless=new", "--no-sandbox", "--window-size=1280,800",
                     f"--user-data-dir={work}/chromium"):
        options.add_argument(argument)
    browser = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)

    browser.get(f"http://127.0.0.1:{port}/")
    until("the lobby page never listed the terminal's room",
          lambda: room in browser.find_element("tag name", "body").text)

    browser.get(f"http://127.0.0.1:{port}/w/{room}")

    def browser_picture():
        lines = browser.execute_script(
            "return window.skyrazorScreenText ? window.skyrazorScreenText() : null")
        return [line.rstrip() for line in lines] if lines else None

    def same_picture():
        shown = browser_picture()
        return shown is not None and shown == picture("watcher") and shown

    for moment, key in (("the title", None), ("the menu", "x")):
        if key:
            tmux("send-keys", "-t", "host", key)
            until(f"the terminal watcher never left {moment}'s wait",
                  lambda: "(5)Gallery" in "\n".join(picture("watcher")))
        if not until(f"the browser never showed the terminal watcher's picture at {moment}",
                     same_picture):
            print("terminal:\n" + "\n".join(picture("watcher")))
            print("browser:\n" + "\n".join(browser_picture() or []))
finally:
    if browser is not None:
        browser.quit()
    tmux("kill-server")
    server.terminate()
    server.wait(timeout=10)
    if failures:
        print(open(os.path.join(work, "server.log")).read())
    shutil.rmtree(work, ignore_errors=True)

if failures:
    print(f"{len(failures)} failure(s)")
    sys.exit(1)
print("the browser test passed")
