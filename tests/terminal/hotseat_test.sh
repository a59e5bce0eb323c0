#!/bin/bash
# Two-person battles at a host that nobody has joined, each terminal a tmux
# pane of 80x26 (the status line below the picture):
#   - the host, recording, plays PVP-Mode alone: both names are typed at its
#     keyboard and its keys fly both ships, as at one terminal; a pilot who
#     joins during that battle does not take the right ship, its keys change
#     nothing, until the next two-person match, where it types pilot 2's
#     name and flies the right ship; the host's recording says when nobody
#     was at pilot 2's keyboard and replays to the picture the host ended on;
#   - a server's room host with no pilot 2 plays PVP-Mode alone the same way,
#     and the room's recording replays to the picture it ended on.
# Usage: hotseat_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without tmux.

set -u

binary=${1:?usage: hotseat_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-hotseat "the hot-seat test"
export LC_ALL=C.UTF-8  # for the line-drawing and shade glyphs in the panes
pane_rows=26
keep_panes=1
# Ports of this test's own, drawn so that two runs at once rarely meet.
address=127.0.0.1:$((5450 + $$ % 48))
server_address=127.0.0.1:$((5500 + $$ % 48))
log=$work/server.log

stop_server() {
  if [ -n "${server:-}" ]; then
    kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  fi
  tmux_harness_cleanup
}
trap stop_server EXIT

pilot_seated() { status_row | grep -q '^Pilot 2 at'; }

began=$(date +%s%N)

# --- A host alone, then joined -------------------------------------------------
start_game host --host "$address" --code Sky42 --record "$work/host/recording"
host=$pid
wait_for_text "To join: skyrazor --join $address --code SKY42"
# Pilot 2 with one hit point, so that one volley of rockets ends the battle.
keys x
wait_for_text "(5)Gallery"
keys 4
wait_for_text "GAME-CONFIG"
keys "50 3 1 100 100 1 1 12 12 19 19" Enter
wait_for_text "***   Skyrazor   ***"
open_two_person_match Alice
wait_for_text "Enter your name Pilot#2:"
keys Bob Enter
wait_for_text "Bob: Shields(100) HP(1) Weaptype(1)"

# Pilot 2's letters at the host fly the right ship.
keys p
expect_ship right 6
ship_on_row left 7 || fail "pilot 2's key moved pilot 1's ship"

# Joining mid-battle seats the pilot, but the right ship stays the host's.
start_game pilot --join "$address" --code sky42
wait_for_text "Pilot 2 at $address"
use host
until_true "the pilot never took pilot 2's seat" pilot_seated
use pilot
keys l l
sleep 0.5
use host
ship_on_row right 6 || fail "the pilot who joined mid-battle flew the right ship"
keys l
expect_ship right 7
for weapon in 2 3 4; do
  keys w
  wait_for_text "Alice: Shields(100) HP(3) Weaptype($weapon)"
done
keys a
wait_for_text "***   Alice   ***"
wait_for_text "***   Skyrazor   ***"

# The next two-person match is the joined pilot's.
open_two_person_match Carol
use pilot
wait_for_text "Enter your name Pilot#2:"
keys Dave Enter
use host
wait_for_text "Dave: Shields(100) HP(1) Weaptype(1)"
use pilot
keys e
use host
expect_ship right 6
keys p
expect_ship left 6
ship_on_row right 6 || fail "the host's p moved the right ship with pilot 2 seated"
stop_and_keep_screen
check_replay
grep -q '^keyboard2 away$' "$dir/recording" || fail "the recording does not say nobody was there"
grep -q '^keyboard2 here$' "$dir/recording" || fail "the recording does not say the pilot came"
use pilot
wait_for_file "$dir/status" || fail "the pilot did not end with the host"

# --- A server's room host alone ----------------------------------------------
"$binary" --serve "$server_address" --record-dir "$work/recordings" 2>"$log" &
server=$!
serving() { grep -q "serving on $server_address\$" "$log"; }
until_true "the server did not start: $(cat "$log")" serving
start_game roomhost --join "$server_address"
# From the server's lobby, a private room.
wait_for_text "p private room"
keys p
wait_for_text "***   Skyrazor   ***"
open_two_person_match Ann
wait_for_text "Enter your name Pilot#2:"
keys Ben Enter
wait_for_text "Ben: Shields(100) HP(3) Weaptype(1)"
keys p
expect_ship right 6
ship_on_row left 7 || fail "pilot 2's key moved pilot 1's ship"
stop_and_keep_screen
recorded() { grep -q "recorded in '" "$log"; }
until_true "the room's recording was not finished: $(cat "$log")" recorded
cp "$(sed -n "s/.*recorded in '\(.*\)'\$/\1/p" "$log" | head -n 1)" "$dir/recording"
check_replay
grep -q '^keyboard2 away$' "$dir/recording" || fail "the room's recording does not say nobody was there"
kill -TERM "$server"
wait "$server" || fail "the server did not end well: $(cat "$log")"
server=

echo "over after $(elapsed_ms "$began") ms"
[ "$failures" -eq 0 ] || exit 1
exit 0
