#!/bin/bash
# A duel over a slow link: the host in one tmux pane, its pilot 2 and a
# watcher in panes of their own, both joined through tools/link-emulator,
# which adds a round trip of 200 ms on loopback. The host's status line shows
# that round trip. Pilot 1 and pilot 2 each move, pilot 2 takes rockets and
# wins (one hit point each, set on the options screen). On the result screen
# the three panes show the same picture, and the host's recording, played
# headless, ends on it too: what each terminal saw late is still the one
# game. Both pilots' terminals played it as a duel, with no repair. Usage: duel_link_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without
# tmux or /usr/bin/python3 (the link emulator's).

set -u

binary=${1:?usage: duel_link_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac
emulator=$(cd "$(dirname "$0")/../../tools" && pwd)/link-emulator

. "$(dirname "$0")/../support/tmux_harness.sh"
if [ ! -x /usr/bin/python3 ]; then
  echo "/usr/bin/python3 is not installed: skipping the duel link test"
  exit 77
fi
tmux_harness skyrazor-duel-link "the duel link test"
export LC_ALL=C.UTF-8  # for the line-drawing and shade glyphs in the panes
pane_rows=26
keep_panes=1
# Ports of this test's own, drawn so that two runs at once rarely meet.
try_port=$((47000 + $$ % 500 * 2))

stop_link() {
  [ -n "${link:-}" ] && kill "$link" 2>/dev/null && wait "$link" 2>/dev/null
  tmux_harness_cleanup
}
trap stop_link EXIT

hosting_or_gone() { text_on_screen "To join:" || [ -s "$dir/status" ]; }

# host: a recorded host on the first port from $try_port on that is free;
# sets $port.
host() {
  for attempt in 1 2 3 4 5; do
    port=$try_port
    try_port=$((try_port + 1))
    start_game host --host "127.0.0.1:$port" --code Sky42 --record "$work/host/recording" \
      --duel-log "$work/host-duel.log"
    until_true "the host neither listened nor ended" hosting_or_gone || exit 1
    text_on_screen "To join: skyrazor --join 127.0.0.1:$port" && return 0
    tmux_ kill-session -t host
    rm -f "$dir/status" "$dir/pid"
  done
  fail "no port to host on"
  exit 1
}

# The round trip the host's status line shows, in whole milliseconds.
round_trip_ms() { status_row host | sed -n 's/.* round trip \([0-9]*\).*/\1/p'; }
link_shown() { [ "$(round_trip_ms)" ] && [ "$(round_trip_ms)" -ge 200 ]; }

# The panes' 25 rows of picture, all alike.
same_everywhere() {
  picture host >"$work/host-picture"
  for pane in pilot watcher; do
    picture $pane >"$work/$pane-picture"
    cmp -s "$work/host-picture" "$work/$pane-picture" || return 1
  done
}

began=$(date +%s%N)
host
host_pid=$pid
"$emulator" --listen 127.0.0.1:0 --to "127.0.0.1:$port" --delay-ms 200 --lifetime-s 170 \
  --ready-file "$work/link-port" --log >"$work/link.log" 2>&1 &
link=$!
wait_for_file "$work/link-port" || {
  fail "the link emulator did not start: $(cat "$work/link.log")"
  exit 1
}
linked=127.0.0.1:$(cat "$work/link-port")

start_game pilot --join "$linked" --code sky42 --duel-log "$work/pilot-duel.log"
start_game watcher --watch "$linked" --code SKY42
use host
wait_for_text " ms - 1 watcher"
until_true "the host's round trip stayed under 200 ms: '$(status_row host)'" link_shown

# One hit point each: pilot 2's first volley ends it.
keys x
wait_for_text "(5)Gallery"
keys 4
wait_for_text "GAME-CONFIG"
keys "50 1 1 100 100 1 1 12 12 19 19" Enter
wait_for_text "***   Skyrazor   ***"
open_two_person_match Alice
use pilot
wait_for_text "Enter your name Pilot#2:"
keys Bob Enter
for pane in host pilot watcher; do
  use $pane
  wait_for_text "Bob: Shields(100) HP(1) Weaptype(1)"
done

# Pilot 1 goes down two rows, then pilot 2 follows it there with rockets.
use host
row=$(ship_row left)
keys s s
expect_ship left $((row + 2))
use pilot
keys o o o
wait_for_text "Bob: Shields(100) HP(1) Weaptype(4)"
target=$((row + 2))
moves=$((target - $(ship_row right)))
while [ $moves -gt 0 ]; do keys l; moves=$((moves - 1)); done
while [ $moves -lt 0 ]; do keys p; moves=$((moves + 1)); done
expect_ship right $target
use host
expect_ship right $target
use pilot
keys k
for pane in host pilot watcher; do
  use $pane
  wait_for_text "***   Bob   ***"
done
use host
until_true "the three panes do not show the same result" same_everywhere
if [ $failures -ne 0 ]; then
  for pane in host pilot watcher; do
    [ -f "$work/$pane-picture" ] || continue
    echo "the $pane showed:"
    sed 's/^/    | /' "$work/$pane-picture"
  done
fi
stop_and_keep_screen
check_replay
# Both terminals played the battle themselves, and never drifted apart.
for log in host-duel pilot-duel; do
  grep -q "duel: frames=[1-9][0-9]* .* repairs=0" "$work/$log.log" ||
    fail "no duel without repairs in the $log log: $(cat "$work/$log.log" 2>&1)"
done

echo "ran for $(elapsed_ms "$began") ms"
if [ $failures -ne 0 ]; then
  echo "the link said:"
  sed 's/^/    | /' "$work/link.log"
  echo "$failures failure(s)"
  exit 1
fi
echo "the duel over a slow link ended alike everywhere"
