#!/usr/bin/python3
"""A duel over a slow link, measured as its two pilots feel it, on loopback only.

    /usr/bin/python3 bench/duel_figures.py PATH/TO/skyrazor [--presses 40]
        [--round-trips 0,50,100,200] [--jitter-ms 20] [--cases host,server]
        [--seed 1] [--markdown FILE]

Each case plays the real program in pseudo-terminals of 80x25 (read with
pyte, Debian's python3-pyte) over tools/link-emulator, on 127.0.0.1:

  - host: `skyrazor --host` is pilot 1; `skyrazor --join` reaches it through
    one link emulator and is pilot 2;
  - server: `skyrazor --serve`, and two `skyrazor --join` terminals, each
    through a link emulator of its own: the room's host is pilot 1, the
    second pilot 2.

Every case is played at each round trip, once with the link steady and once
with a jitter of +-J ms on the round trip (+-J/2 each way, see
tools/link-emulator). Pilot 1 opens PVP-Mode, both type their names, and
after the countdown the pilots take turns: one key every 250-400 ms, up and
down about the row each ship started on (never against the edge), nobody
firing, so the battle never ends. A pilot presses again only once its last
move has shown at both terminals (or 3 s have passed: that press is counted
lost).

For every press it times, from the key written to the pilot's terminal:
  - own: until that terminal shows the pilot's ship on its new row;
  - other: until the other pilot's terminal shows it.
And, for each terminal, the frame period as its output shows it: with
nobody firing, a battle frame sends a terminal nothing unless a ship moved,
so the bursts of output (reads less than 5 ms apart are one) come some whole
number of frames apart. Each gap between bursts is counted as the nearest
whole number of frames of the game speed (--frame-ms, 50 by default: the
game's standard speed, which the benchmark never changes) and divided by it;
the table gives the median and the 10th-90th percentiles. At the host's
terminal that is the game's own period; at a joined one, what arrives there,
its link's jitter included.

When the program knows `--duel-log FILE` (its --help says so), each
terminal whose mode takes it (--host, --join: as the usage lines say, both
when they do not say) is started with one, and the lines `duel: frames=N
corrections=C deepest=D repairs=R` they wrote are summed per case (deepest:
the largest).

Prints a table and, with --markdown, writes it as Markdown to FILE. A case
that fails (a terminal ended, a screen never came) is told on standard error
with the folder of its logs, and played once more; a second failure ends the
run. Stops by itself: every wait is bounded, and every process it started is
ended.
"""

import argparse
import fcntl
import os
import pathlib
import random
import re
import selectors
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import time

try:
    import pyte
except ImportError:
    sys.exit("duel_figures.py needs pyte: apt install python3-pyte "
             "(tools/install-build-deps.sh bench)")

COLUMNS, ROWS = 80, 25
LEFT_SHIP_COLUMN, RIGHT_SHIP_COLUMN = 2, 39  # 0-based: '>' and '<' by the frame
LOWEST_PRESS_GAP, HIGHEST_PRESS_GAP = 0.250, 0.400
LOST_AFTER = 3.0
BURST_GAP = 0.005
JOIN_CODE = "DUEL42"
TITLE = "***   Skyrazor   ***"
EMULATOR = pathlib.Path(__file__).resolve().parent.parent / "tools" / "link-emulator"
DUEL_LOG_LINE = re.compile(
    r"duel: frames=(\d+) corrections=(\d+) deepest=(\d+) repairs=(\d+)")


class Failure(Exception):
    pass


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until_listening(port, deadline):
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return
        except OSError:
            time.sleep(0.05)
    raise Failure(f"nothing listened on 127.0.0.1:{port}")


def duel_log_modes(help_text):
    """Which of --host and --join take --duel-log, as --help's usage lines
    tell (a mode's line and the lines that carry it on); both when the
    option is told of but in no usage line; none when it is not told of."""
    if "--duel-log" not in help_text:
        return set()
    modes = set()
    in_usage = False
    mode = None
    for line in help_text.splitlines():
        words = line.split()
        if words[:1] == ["Usage:"]:
            words = words[1:]
        if words[:1] == ["skyrazor"]:
            mode = words[1] if len(words) > 1 else None
        elif not line.startswith(" "):
            mode = None
        if mode and "--duel-log" in line:
            in_usage = True
            if mode in ("--host", "--join"):
                modes.add(mode)
    return modes if in_usage else {"--host", "--join"}


def sum_duel_logs(paths):
    """The duel lines of the files that exist: frames, corrections and
    repairs summed, deepest the largest; None when no file had one."""
    totals = None
    for path in paths:
        try:
            text = pathlib.Path(path).read_text(errors="replace")
        except OSError:
            continue
        for match in DUEL_LOG_LINE.finditer(text):
            frames, corrections, deepest, repairs = map(int, match.groups())
            if totals is None:
                totals = {"frames": 0, "corrections": 0, "deepest": 0, "repairs": 0}
            totals["frames"] += frames
            totals["corrections"] += corrections
            totals["deepest"] = max(totals["deepest"], deepest)
            totals["repairs"] += repairs
    return totals


class Terminal:
    """The program in a pseudo-terminal of 80x25, its screen kept by pyte."""

    def __init__(self, name, arguments, work):
        self.name = name
        self.screen = pyte.Screen(COLUMNS, ROWS)
        self.stream = pyte.ByteStream(self.screen)
        self.master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
        environment = dict(os.environ, TERM="xterm-256color", LANG="C.UTF-8",
                           LC_ALL="C.UTF-8")
        self.process = subprocess.Popen(
            arguments, stdin=slave, stdout=slave, stderr=slave, env=environment,
            cwd=work, start_new_session=True, close_fds=True,
            preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(slave)
        os.set_blocking(self.master, False)
        self.rows = (None, None)
        self.bursts = []
        self.last_read = None
        self.closed = False

    def take(self, now):
        """Reads what the program wrote; False once it is gone."""
        try:
            data = os.read(self.master, 65536)
        except BlockingIOError:
            return True
        except OSError:
            data = b""
        if not data:
            self.closed = True
            return False
        if self.last_read is None or now - self.last_read > BURST_GAP:
            self.bursts.append(now)
        self.last_read = now
        self.stream.feed(data)
        self.rows = (self.ship_row(LEFT_SHIP_COLUMN, ">"), self.ship_row(RIGHT_SHIP_COLUMN, "<"))
        return True

    def ship_row(self, column, glyph):
        buffer = self.screen.buffer
        for row in range(1, ROWS - 1):
            if buffer[row][column].data == glyph:
                return row
        return None

    def last_words(self):
        return " | ".join(line.rstrip() for line in self.screen.display if line.strip())

    def shows(self, text):
        return any(text in line for line in self.screen.display)

    def type(self, text):
        os.write(self.master, text.encode())

    def end(self):
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGINT)
                self.process.wait(timeout=5)
            except (OSError, subprocess.TimeoutExpired):
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(timeout=5)
        os.close(self.master)


class Duel:
    """The processes of one case, and the reading of their terminals."""

    def __init__(self, binary, work, duel_logs):
        self.binary = binary
        self.work = work
        self.duel_logs = duel_logs
        self.log_paths = []
        self.terminals = []
        self.others = []
        self.selector = selectors.DefaultSelector()

    def program(self, name, *arguments):
        command = [self.binary, *arguments]
        if arguments[0] in self.duel_logs:
            path = os.path.join(self.work, f"{name}.duel-log")
            self.log_paths.append(path)
            command += ["--duel-log", path]
        terminal = Terminal(name, command, self.work)
        self.terminals.append(terminal)
        self.selector.register(terminal.master, selectors.EVENT_READ, terminal)
        return terminal

    def background(self, name, command):
        log = open(os.path.join(self.work, f"{name}.log"), "wb")
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT, cwd=self.work,
                                   start_new_session=True)
        log.close()
        self.others.append(process)
        return process

    def link(self, name, to_port, delay_ms, jitter_ms, seed):
        ready = os.path.join(self.work, f"{name}.port")
        self.background(name, [str(EMULATOR), "--listen", "127.0.0.1:0",
                               "--to", f"127.0.0.1:{to_port}", "--delay-ms", str(delay_ms),
                               "--jitter-ms", str(jitter_ms), "--seed", str(seed),
                               "--lifetime-s", "900", "--ready-file", ready, "--log"])
        deadline = time.monotonic() + 10
        while not os.path.exists(ready):
            if time.monotonic() > deadline:
                raise Failure(f"the link emulator {name} did not start")
            time.sleep(0.02)
        return int(pathlib.Path(ready).read_text())

    def pump(self, seconds, watch=None):
        """Reads the terminals for up to SECONDS; WATCH(now) is called after
        every read and ends the wait early when it answers True."""
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            for key, _ in self.selector.select(left):
                terminal = key.data
                now = time.monotonic()
                if not terminal.take(now):
                    self.selector.unregister(terminal.master)
                    raise Failure(f"the {terminal.name} terminal ended: {terminal.last_words()}")
                if watch is not None and watch(now):
                    return True

    def wait_for(self, terminal, text, seconds=30):
        if terminal.shows(text):
            return
        if not self.pump(seconds, lambda now: terminal.shows(text)):
            raise Failure(f"'{text}' never showed at the {terminal.name} terminal; "
                          f"it showed: {terminal.last_words()}")

    def end(self):
        for terminal in self.terminals:
            if terminal.process.poll() is None:
                try:
                    self.selector.unregister(terminal.master)
                except (KeyError, ValueError):
                    pass
                terminal.end()
        for process in self.others:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.selector.close()


class Press:
    def __init__(self, pilot, key, target, at):
        self.pilot = pilot
        self.key = key
        self.target = target
        self.at = at
        self.seen = {}
        self.unseen = set()


def play_presses(duel, pilots, presses_each, chooser):
    """Pilots take turns pressing; each pilot is (terminal, side, up, down).
    Returns every press with the times its move showed at each terminal."""
    homes = []
    for terminal, side, _, _ in pilots:
        home = terminal.rows[side]
        if home is None or home <= 2:
            raise Failure(f"no room to move the {'left' if side == 0 else 'right'} ship "
                          f"from row {home}")
        homes.append(home)
    terminals = [pilot[0] for pilot in pilots]
    done = []
    pending = [None, None]
    counts = [0, 0]

    def settle(now):
        for index, press in enumerate(pending):
            if press is None:
                continue
            side = pilots[index][1]
            for terminal in terminals:
                if (terminal.name not in press.seen and terminal.name not in press.unseen
                        and terminal.rows[side] == press.target):
                    press.seen[terminal.name] = now - press.at
            if (len(press.seen) + len(press.unseen) == len(terminals)
                    or now - press.at > LOST_AFTER):
                done.append(press)
                pending[index] = None

    turn = 0
    next_at = time.monotonic() + 0.5
    while counts[0] < presses_each or counts[1] < presses_each:
        if counts[turn] >= presses_each:
            turn = 1 - turn
        # This pilot's last move must have shown everywhere first.
        while pending[turn] is not None:
            duel.pump(0.05, lambda now: (settle(now), pending[turn] is None)[1])
            settle(time.monotonic())
        wait = next_at - time.monotonic()
        if wait > 0:
            duel.pump(wait, lambda now: (settle(now), False)[1])
        terminal, side, up, down = pilots[turn]
        # From where the ship stands, so that a lost move is not counted twice.
        going_up = terminal.rows[side] >= homes[turn]
        target = terminal.rows[side] + (-1 if going_up else 1)
        press = Press(turn, up if going_up else down, target, time.monotonic())
        # A terminal already showing that row (behind by a lost move) cannot time it.
        for other in terminals:
            if other.rows[side] == target:
                press.unseen.add(other.name)
        terminal.type(press.key)
        pending[turn] = press
        counts[turn] += 1
        next_at = press.at + chooser.uniform(LOWEST_PRESS_GAP, HIGHEST_PRESS_GAP)
        turn = 1 - turn
    deadline = time.monotonic() + LOST_AFTER + 0.5
    while any(pending) and time.monotonic() < deadline:
        duel.pump(0.05, lambda now: (settle(now), not any(pending))[1])
        settle(time.monotonic())
    return done


def start_battle(duel, first, second):
    """From the title at FIRST (pilot 1's terminal) to both ships in the
    arena at both terminals."""
    for terminal in (first, second):
        duel.wait_for(terminal, TITLE)
    first.type("x")
    duel.wait_for(first, "(5)Gallery")
    first.type("3")
    duel.wait_for(first, "Enter your name Pilot#1:")
    first.type("Alice\r")
    duel.wait_for(second, "Enter your name Pilot#2:")
    second.type("Bob\r")
    for terminal in (first, second):
        duel.wait_for(terminal, "Shields(", 20)
    both_ships = lambda now: all(None not in terminal.rows for terminal in (first, second))
    if not both_ships(0) and not duel.pump(20, both_ships):
        raise Failure("the ships never showed at both terminals")
    # Past the countdown: the battle takes keys once the picture has settled.
    duel.pump(1.0, lambda now: False)


def host_case(duel, delay_ms, jitter_ms, seed):
    port = free_port()
    host = duel.program("pilot 1", "--host", f"127.0.0.1:{port}", "--code", JOIN_CODE)
    duel.wait_for(host, "To join:")
    link_port = duel.link("link", port, delay_ms, jitter_ms, seed)
    pilot = duel.program("pilot 2", "--join", f"127.0.0.1:{link_port}", "--code", JOIN_CODE)
    return host, pilot


def server_case(duel, delay_ms, jitter_ms, seed):
    port = free_port()
    duel.background("server", [duel.binary, "--serve", f"127.0.0.1:{port}"])
    wait_until_listening(port, time.monotonic() + 15)
    first_link = duel.link("link 1", port, delay_ms, jitter_ms, seed)
    second_link = duel.link("link 2", port, delay_ms, jitter_ms, seed + 1)
    room = f"duel{seed % 100000}"
    first = duel.program("pilot 1", "--join", f"127.0.0.1:{first_link}", "--new-room", room)
    # The room must be open before the second terminal asks for it.
    duel.wait_for(first, TITLE)
    second = duel.program("pilot 2", "--join", f"127.0.0.1:{second_link}", "--room", room)
    return first, second


def quantile(values, fraction):
    ordered = sorted(values)
    if not ordered:
        return None
    position = fraction * (len(ordered) - 1)
    low = int(position)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (position - low)


def frame_periods(terminal, start, end, frame_ms):
    """The frame period as the terminal's bursts of output show it: each gap
    between bursts in the battle counted as a whole number of frames of the
    game speed (FRAME_MS), and divided by it. The median, and the 10th and
    90th percentiles; None without enough bursts."""
    times = [at * 1000 for at in terminal.bursts if start <= at <= end]
    periods = []
    for earlier, later in zip(times, times[1:]):
        frames = max(1, round((later - earlier) / frame_ms))
        periods.append((later - earlier) / frames)
    if len(periods) < 5:
        return None
    return quantile(periods, 0.5), quantile(periods, 0.1), quantile(periods, 0.9)


def measure_case(binary, kind, delay_ms, jitter_ms, presses, seed, duel_logs, frame_ms):
    work = tempfile.mkdtemp(prefix="skyrazor-duel-")
    duel = Duel(binary, work, duel_logs)
    chooser = random.Random(seed)
    try:
        first, second = (host_case if kind == "host" else server_case)(
            duel, delay_ms, jitter_ms, seed)
        start_battle(duel, first, second)
        began = time.monotonic()
        done = play_presses(duel, [(first, 0, "e", "s"), (second, 1, "p", "l")], presses,
                            chooser)
        ended = time.monotonic()
    except Failure as failure:
        raise Failure(f"{kind}, round trip {delay_ms} ms, jitter +-{jitter_ms} ms: {failure} "
                      f"(the case's files are in {work})")
    finally:
        duel.end()
    figures = {"case": kind, "round_trip": delay_ms, "jitter": jitter_ms}
    for index, (own, other) in enumerate(((first, second), (second, first))):
        mine = [press for press in done if press.pilot == index]
        own_times = [press.seen[own.name] * 1000 for press in mine if own.name in press.seen]
        other_times = [press.seen[other.name] * 1000 for press in mine if other.name in press.seen]
        figures[f"pilot{index + 1}"] = {
            "presses": len(mine),
            "lost": sum(1 for press in mine if len(press.seen) < 2),
            "own": (quantile(own_times, 0.5), quantile(own_times, 0.9)),
            "other": (quantile(other_times, 0.5), quantile(other_times, 0.9)),
            "period": frame_periods(own, began, ended, frame_ms),
        }
    figures["duel_log"] = sum_duel_logs(duel.log_paths)
    shutil.rmtree(work, ignore_errors=True)
    return figures


def pair(values):
    low, high = values
    if low is None:
        return "-"
    return f"{low:.0f} / {high:.0f}"


def period(values):
    if values is None:
        return "-"
    middle, low, high = values
    return f"{middle:.1f} ({low:.1f}-{high:.1f})"


HEADINGS = ["case", "round trip", "pilot 1 own", "pilot 1 at pilot 2", "pilot 2 own",
            "pilot 2 at pilot 1", "frame period at pilot 1", "frame period at pilot 2", "lost",
            "duel log"]


def table_rows(results):
    rows = []
    for figures in results:
        one, two = figures["pilot1"], figures["pilot2"]
        link = f"{figures['round_trip']} ms"
        if figures["jitter"]:
            link += f" +-{figures['jitter']}"
        log = figures["duel_log"]
        log_text = "-" if log is None else (
            f"frames {log['frames']}, corrections {log['corrections']}, "
            f"deepest {log['deepest']}, repairs {log['repairs']}")
        rows.append([figures["case"], link, pair(one["own"]), pair(one["other"]),
                     pair(two["own"]), pair(two["other"]), period(one["period"]),
                     period(two["period"]), f"{one['lost'] + two['lost']}/"
                     f"{one['presses'] + two['presses']}", log_text])
    return rows


def plain_table(rows):
    widths = [max(len(str(row[column])) for row in [HEADINGS] + rows)
              for column in range(len(HEADINGS))]
    lines = []
    for row in [HEADINGS] + rows:
        lines.append("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)))
    return "\n".join(lines)


def markdown_table(rows):
    lines = ["| " + " | ".join(HEADINGS) + " |", "|" + "---|" * len(HEADINGS)]
    for row in rows:
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines) + "\n"


def parse_options():
    parser = argparse.ArgumentParser(
        description="Key to screen for both pilots of a duel over an emulated link "
        "(loopback only).")
    parser.add_argument("binary", help="the skyrazor program")
    parser.add_argument("--presses", type=int, default=40,
                        help="presses per pilot per case (default 40)")
    parser.add_argument("--round-trips", default="0,50,100,200",
                        help="round trips the link adds, in ms (default 0,50,100,200)")
    parser.add_argument("--jitter-ms", type=float, default=20,
                        help="the jittery runs' round-trip jitter, +-ms (default 20; "
                        "0 plays each link once, steady)")
    parser.add_argument("--cases", default="host,server",
                        help="host, server or both (default host,server)")
    parser.add_argument("--frame-ms", type=float, default=50,
                        help="the game speed's frame period, to count the frames "
                        "between bursts of output (default 50, the standard speed)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the key gaps and jitter")
    parser.add_argument("--markdown", metavar="FILE", help="also write the table as Markdown")
    options = parser.parse_args()
    options.binary = os.path.abspath(options.binary)
    options.round_trips = [int(value) for value in options.round_trips.split(",") if value]
    options.cases = [value for value in options.cases.split(",") if value]
    if any(case not in ("host", "server") for case in options.cases):
        parser.error("--cases takes host and server")
    return options


def main():
    options = parse_options()
    helped = subprocess.run([options.binary, "--help"], capture_output=True, text=True,
                            timeout=10)
    duel_logs = duel_log_modes(helped.stdout + helped.stderr)
    jitters = [0] + ([options.jitter_ms] if options.jitter_ms else [])
    results = []
    case_number = 0
    for kind in options.cases:
        for delay in options.round_trips:
            for jitter in jitters:
                case_number += 1
                jitter_shown = int(jitter) if float(jitter).is_integer() else jitter
                print(f"{kind}, round trip {delay} ms, jitter +-{jitter_shown} ms ...",
                      file=sys.stderr, flush=True)
                # A case that fails is told and played once more; its files
                # (the links' and the server's logs) are kept.
                for attempt in (1, 2):
                    try:
                        results.append(measure_case(
                            options.binary, kind, delay, jitter_shown, options.presses,
                            options.seed * 1000 + case_number, duel_logs, options.frame_ms))
                        break
                    except Failure as failure:
                        if attempt == 2:
                            raise
                        print(f"duel_figures.py: {failure}; once more", file=sys.stderr,
                              flush=True)
    rows = table_rows(results)
    print("Key to screen, median / p90 ms, from the key written to a pilot's terminal:")
    print(plain_table(rows))
    if not duel_logs:
        print("(the program has no --duel-log: no duel figures)")
    if options.markdown:
        pathlib.Path(options.markdown).write_text(markdown_table(rows))


if __name__ == "__main__":
    try:
        main()
    except Failure as failure:
        sys.exit(f"duel_figures.py: {failure}")
