#!/bin/bash
# Strangers meeting at a server of rooms over loopback, each terminal a tmux
# pane of 80x26 (the status line below the picture):
#   - a room opened with --new-room is private: no lobby lists it;
#   - two strangers in their lobbies each press q within a second: the first
#     opens a listed room and hosts it, the second is seated in it as pilot 2,
#     and they play a two-person battle, each flying their own ship;
#   - a third terminal finds the duel in its lobby by the pilots' names and
#     hit points, watches it with w and shows the same picture;
#   - Ctrl-D leaves a lobby with status 0 and the terminal as it was.
# Usage: lobby_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without tmux.

set -u

binary=${1:?usage: lobby_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-lobby "the lobby test"
export LC_ALL=C.UTF-8
pane_rows=26
try_port=$((49000 + $$ % 500 * 2))
log=$work/server.log

stop_server() {
  if [ "$failures" -ne 0 ] && [ -f "$log" ]; then
    echo "the server said:"
    sed "s/^/    | /" "$log"
  fi
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  tmux_harness_cleanup
}
trap stop_server EXIT

serving_or_gone() { grep -q "serving on" "$log" || gone "$server"; }
for attempt in 1 2 3 4 5; do
  "$binary" --serve "127.0.0.1:$try_port" 2>"$log" &
  server=$!
  until_true "the server neither started nor ended" serving_or_gone
  grep -q "serving on 127.0.0.1:$try_port\$" "$log" && break
  wait "$server"
  server=
  grep -q "Address already in use" "$log" || break
  try_port=$((try_port + 1))
done
[ -n "$server" ] || {
  fail "no server: $(cat "$log")"
  exit 1
}
address=127.0.0.1:$try_port
began=$(date +%s%N)

status_says() { status_row | grep -q -- "$1"; }
expect_status() { until_true "the status line never said '$1'" status_says "$1"; }
room_of() { status_row "$1" | sed -n 's/^Room \([^ ]*\) - .*/\1/p'; }
in_lobby() { wait_for_text "q quick match"; }

# --- A private room, never listed --------------------------------------------------
scenario=hidden
start_game hidden --join "$address" --new-room hidden-duel
expect_status "Room hidden-duel - you host, no pilot 2 yet"

# --- Two strangers press q within a second of each other ----------------------------
start_game ann --join "$address"
in_lobby
text_on_screen "hidden-duel" && fail "a room opened with --new-room is listed"
start_game bob --join "$address"
in_lobby
use ann
keys q
sleep 0.5
use bob
pressed=$(date +%s%N)
keys q
expect_status " - pilot 2 - round trip"
echo "the second stranger was seated $(elapsed_ms "$pressed") ms after pressing q"
room=$(room_of bob)
use ann
expect_status "Room $room - you host, pilot 2 here"
grep -q "room $room opened (listed)" "$log" || fail "quick match's room was not listed"

# --- They play a two-person battle, each flying their own ship ------------------------
open_two_person_match Ann
use bob
wait_for_text "Enter your name Pilot#2:"
keys Bob Enter
use ann
wait_for_text "Bob: Shields(100) HP(3) Weaptype(1)"
expect_ship left 7
nudge_row() { if [ "$1" -lt 7 ]; then echo s; else echo e; fi; }
flies() {
  side=$1
  pilot=$2
  use ann
  row=$(ship_row "$side")
  key=$(nudge_row "$row")
  use "$pilot"
  keys "$key"
  use ann
  if [ "$key" = s ]; then expect_ship "$side" $((row + 1)); else expect_ship "$side" $((row - 1)); fi
}
flies left ann
flies right bob

# --- A third finds the duel by its pilots and watches it -----------------------------
start_game cy --join "$address"
wait_for_text "Ann (3) vs Bob (3)"
text_on_screen "hidden-duel" && fail "the lobby lists a private room"
keys w
expect_status "Room $room - watching"
same_pictures "$server" ann bob cy
flies right bob
same_pictures "$server" ann bob cy

# --- Leaving a lobby ------------------------------------------------------------------
start_game dee --join "$address"
in_lobby
keys C-d
wait_for_file "$dir/status" || fail "the lobby did not let its player go"
[ "$(cat "$dir/status")" = 0 ] || fail "leaving the lobby ended with status $(cat "$dir/status")"
cmp -s "$dir/before" "$dir/after" || fail "the lobby left the terminal's settings changed"

echo "ran for $(elapsed_ms "$began") ms"
if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "the lobby passed"
