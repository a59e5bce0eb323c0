#!/bin/bash
# One server of rooms over loopback, each terminal a tmux pane of 80x26 (the
# status line below the picture), recording every room:
#   - two rooms play two-person battles from start to end of the test, one
#     opened under a fresh name, one under a name of its own; every fault
#     below must leave them playing (their ships still move on a key) and
#     the server running;
#   - in a window of 25 rows, a new room's name shows over the picture's
#     bottom row until its host's first key, then again for three seconds
#     on Ctrl-G and when pilot 2 comes;
#   - in the room under test, the host and pilot 2 fly their own ships and a
#     watcher shows the same picture;
#   - garbage, an oversized hello and an oversized message on connections of
#     their own, each closed alone; pilot 2 flooding keys; the watcher
#     frozen a while, catching up once it reads again; a connection that
#     says nothing, and a joined terminal killed outright; a raw room host
#     flooding keys as fast as the wire takes them;
#   - a room's host leaving: pilot 2 moves up and drives the menus, and a
#     terminal that came to play moves up from watching to pilot 2; a room's
#     host killed mid-battle: pilot 2 still flies the right ship, and the
#     watcher stands in for the left one;
#   - a second server with --max-per-address 2 turns a third terminal away
#     with a readable reason;
#   - SIGTERM: every joined terminal says the server has stopped and exits
#     0, the server exits 0, and every room's recording replays.
# Usage: server_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without tmux.

set -u

binary=${1:?usage: server_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-server "the server test"
export LC_ALL=C.UTF-8  # for the line-drawing and shade glyphs in the panes
pane_rows=26
keep_panes=1
# Ports of this test's own, drawn so that two runs at once rarely meet.
try_port=$((48000 + $$ % 500 * 2))
log=$work/server.log
small_log=$work/small-server.log
recordings=$work/recordings

stop_servers() {
  if [ "$failures" -ne 0 ] && [ -f "$log" ]; then
    echo "the server said:"
    sed "s/^/    | /" "$log"
  fi
  for server_pid in ${server:-} ${small_server:-}; do
    kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  done
  tmux_harness_cleanup
}
trap stop_servers EXIT


# The server's log: how many lines match, and waiting for one more.
log_count() { grep -c -- "$1" "${2:-$log}"; }
log_has_more() { [ "$(log_count "$1" "${3:-$log}")" -gt "$2" ]; }
wait_for_log() {
  until_true "the server never logged '$1'" log_has_more "$1" "${2:-0}" "${3:-$log}"
}

server_alive() { kill -0 "$server" 2>/dev/null || fail "the server is gone"; }

# serve LOG OPTIONS...: a server on 127.0.0.1, logging into LOG, on the first
# port from $try_port on that no one else holds; sets $served (its process)
# and $served_port.
serve() {
  serve_log=$1
  shift
  for attempt in 1 2 3 4 5; do
    "$binary" --serve "127.0.0.1:$try_port" "$@" 2>"$serve_log" &
    served=$!
    until_true "the server neither started nor ended" serving_or_gone "$serve_log"
    served_port=$try_port
    try_port=$((48000 + (try_port - 48000 + 1) % 1000))
    grep -q "serving on 127.0.0.1:$served_port\$" "$serve_log" && return 0
    wait "$served"
    grep -q "Address already in use" "$serve_log" || break
  done
  fail "no server: $(cat "$serve_log")"
  exit 1
}
serving_or_gone() { grep -q "serving on" "$1" || gone "$served"; }

# Between scenarios: once one has failed, what follows would only wait out
# its timeouts on the wreck.
checkpoint() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s), given up after $(elapsed_ms "$began") ms"
    exit 1
  fi
}

# closed_within SECONDS FD: the server closes the connection on FD in time
# (with the bytes sent unread it may reset it, which ends the read as well).
closed_within() {
  timeout "$1" cat <&"$2" >/dev/null 2>&1
  [ $? != 124 ]
}

# The room a pane's status line names.
room_of() { status_row "$1" | sed -n 's/^Room \([^ ]*\) - .*/\1/p'; }
# told TEXT: the pane of $scenario, with its history and its long lines whole,
# has shown TEXT.
told() { tmux_ capture-pane -p -J -S - -t "$scenario" | grep -F -q -- "$1"; }
status_says() { status_row | grep -q -- "$1"; }
expect_status() { until_true "the status line never said '$1'" status_says "$1"; }


# nudge SIDE PANE: the ship of SIDE, as seen in the pane of $scenario, moves
# a row towards the middle on a key typed at PANE ('e' up, 's' down).
nudge() {
  nudge_row=$(ship_row "$1")
  if [ -z "$nudge_row" ]; then
    fail "no $1 ship to move"
    return 1
  fi
  nudge_from=$scenario
  use "$2"
  if [ "$nudge_row" -lt 7 ]; then keys s; else keys e; fi
  use "$nudge_from"
  if [ "$nudge_row" -lt 7 ]; then
    expect_ship "$1" $((nudge_row + 1))
  else
    expect_ship "$1" $((nudge_row - 1))
  fi
}

# open_private_room: from the server's lobby, where --join without a room
# leads, a private room under a fresh name.
open_private_room() {
  wait_for_text "p private room"
  keys p
}

# start_room NAME ROOM HOSTNAME PILOTNAME: a room's host (ROOM empty: a room
# under a fresh name) and its pilot 2, in panes NAME-host and NAME-pilot, in
# a two-person battle; sets $room.
start_room() {
  start_game "$1-host" --join "$address" ${2:+--new-room "$2"}
  [ -n "$2" ] || open_private_room
  wait_for_text " - you host, no pilot 2 yet - round trip"
  room=$(room_of "$1-host")
  [ -n "$2" ] && [ "$room" != "$2" ] && fail "the room is '$room', not '$2'"
  start_game "$1-pilot" --join "$address" --room "$room"
  wait_for_text "Room $room - pilot 2 - round trip"
  use "$1-host"
  expect_status "Room $room - you host, pilot 2 here - round trip"
  open_two_person_match "$3"
  use "$1-pilot"
  wait_for_text "Enter your name Pilot#2:"
  keys "$4" Enter
  use "$1-host"
  wait_for_text "$4: Shields(100) HP(3) Weaptype(1)"
}

# The other rooms play on: in each, both ships move on their pilots' keys,
# and the server is still there.
others_play() {
  others_from=$scenario
  for other in alpha bravo; do
    use $other-host
    nudge left $other-host
    nudge right $other-pilot
  done
  if [ -f "$work/$others_from/pid" ]; then use "$others_from"; else scenario=$others_from; fi
  server_alive
}

began=$(date +%s%N)

# --- The server -------------------------------------------------------------------
scenario=server
serve "$log" --record-dir "$recordings"
server=$served
port=$served_port
address=127.0.0.1:$port

# --- Two other rooms, playing throughout ------------------------------------------
start_room alpha "" Ann Abe
alpha=$room
start_room bravo bravo Bea Ben
[ "$alpha" != bravo ] || fail "a fresh room took the name of another"
wait_for_log "room $alpha opened"
wait_for_log "room bravo: 127.0.0.1 joined as pilot 2"

# --- A new room's name in a window with no row to spare ---------------------------
# Over the picture's bottom row, so that it can be passed on, until the room's
# host presses its first key.
pane_rows=25
start_game narrow --join "$address"
pane_rows=26
open_private_room
wait_for_text " - you host, no pilot 2 yet - round trip"
picture | tail -n 1 | grep -q "^Room [0-9a-z]* - you host, no pilot 2 yet - " ||
  fail "the room's name was not on the bottom row: $(picture | tail -n 1)"
narrow_room=$(picture | tail -n 1 | sed -n 's/^Room \([0-9a-z]*\) - .*/\1/p')
keys x
wait_for_text "(5)Gallery"
name_hidden() { ! screen_text | grep -q " - you host, "; }
until_true "the room's name stayed over the picture" name_hidden
# Ctrl-G brings it up again for three seconds, and so does pilot 2's coming.
keys C-g
asked=$(date +%s%N)
wait_for_text "Room $narrow_room - you host, no pilot 2 yet - round trip"
until_true "the room's name stayed over the picture after Ctrl-G" name_hidden
waited=$(elapsed_ms "$asked")
echo "Ctrl-G showed the room's name for $waited ms"
[ "$waited" -ge 2500 ] && [ "$waited" -le 5500 ] ||
  fail "Ctrl-G showed the room's name for $waited ms"
start_game narrow-pilot --join "$address" --room "$narrow_room"
wait_for_text "Room $narrow_room - pilot 2 - round trip"
use narrow
wait_for_text "Room $narrow_room - you host, pilot 2 here - round trip"
until_true "pilot 2's coming stayed over the picture" name_hidden
for pane in narrow narrow-pilot; do
  use $pane
  keys C-c
  wait_for_file "$dir/status" || fail "the narrow room's $pane did not leave"
done

checkpoint

# --- The room under test: host, pilot 2 and a watcher -------------------------------
start_room duel duel Dan Dot
start_game duel-watcher --watch "$address" --room duel
wait_for_text "Room duel - watching - 1 watcher - round trip"
use duel-host
expect_status "Room duel - you host, pilot 2 here - 1 watcher - round trip"
expect_ship left 7
nudge left duel-host
nudge right duel-pilot
# Pilot 2's keys fly the right ship only.
left_before=$(ship_row left)
use duel-pilot
keys o
use duel-host
wait_for_text "Dot: Shields(100) HP(3) Weaptype(2)"
ship_on_row left "$left_before" || fail "pilot 2's key moved the host's ship"
text_on_screen "Dan: Shields(100) HP(3) Weaptype(1)" || fail "pilot 2's key changed the host's weapon"
same_pictures "$server" duel-host duel-pilot duel-watcher
others_play
echo "rooms playing after $(elapsed_ms "$began") ms"

checkpoint

# --- Faults, each on its own ----------------------------------------------------------
# A connection that says nothing is let go by the hello's timer; it waits in
# the background while the other faults go on.
silent_since=$(date +%s%N)
(
  exec 5<>"/dev/tcp/127.0.0.1/$port"
  timeout 10 cat <&5 >/dev/null 2>&1
  echo $? >"$work/silent.status"
  elapsed_ms "$silent_since" >"$work/silent.waited"
) &
silent=$!

checkpoint

# Random bytes, then an oversized hello: each connection is closed, alone.
scenario=garbage
drops=$(log_count "dropped before its answer")
exec 3<>"/dev/tcp/127.0.0.1/$port"
head -c 512 /dev/urandom >&3
closed_within 8 3 || fail "the garbage's connection was not closed"
exec 3<&-
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf '\177\377\377\377\001SKYRAZOR' >&3
closed_within 5 3 || fail "the oversized hello's connection was not closed"
exec 3<&-
wait_for_log "dropped before its answer" $((drops + 1))
use duel-host
others_play

checkpoint

# A watcher of the room under test that sends a message claiming 2 GiB.
scenario=oversized
exec 4<>"/dev/tcp/127.0.0.1/$port"
printf '\0\0\0\024\001SKYRAZOR\000\005\002\000\004duel\000\000' >&4
wait_for_log "room duel: 127.0.0.1 joined as watcher" 1
leaving=$(log_count "room duel: 127.0.0.1 left as watcher")
printf '\177\377\377\377' >&4
closed_within 5 4 || fail "the oversized message's connection was not closed"
exec 4<&-
wait_for_log "room duel: 127.0.0.1 left as watcher" "$leaving"
use duel-watcher
expect_status "Room duel - watching - 1 watcher - round trip"
use duel-host
nudge left duel-host
others_play

checkpoint

# Pilot 2 floods the room with keys (its weapon, over and over): the room
# plays on, the host's ship still answers, and pilot 2 keeps its seat.
scenario=flood
use duel-pilot
keys -l "$(printf 'o%.0s' $(seq 3000))"
use duel-host
weapon_changes() { ! text_on_screen "Dot: Shields(100) HP(3) Weaptype(2)"; }
until_true "pilot 2's flood never reached its weapon" weapon_changes
nudge left duel-host
others_play
use duel-pilot
expect_status "Room duel - pilot 2 - 1 watcher - round trip"
grep -q "room duel: 127.0.0.1 left as pilot 2" "$log" && fail "the flooding pilot was let go"

# A room of its own whose host, a raw connection, sends keys as fast as the
# wire takes them (4096 messages of 64) and leaves: its game takes what it
# holds room for and ends when the room empties; the others never notice.
scenario=raw-flood
{
  printf '\0\0\0\102\004\100'
  printf 'o%.0s' $(seq 64)
} >"$work/keys"
for doubling in $(seq 12); do cat "$work/keys" "$work/keys" >"$work/more-keys" && mv "$work/more-keys" "$work/keys"; done
exec 8<>"/dev/tcp/127.0.0.1/$port"
printf '\0\0\0\025\001SKYRAZOR\000\005\001\000\005flood\001\000' >&8
wait_for_log "room flood: 127.0.0.1 joined as host"
timeout 10 cat "$work/keys" >&8 2>/dev/null || fail "the server did not take the flood of keys"
exec 8<&-
wait_for_log "room flood: 127.0.0.1 left as host"
wait_for_log "room flood closed"
use duel-host
nudge left duel-host
others_play

checkpoint

# The watcher stops reading for three seconds: nobody else waits for it, and
# it catches up when it reads again.
scenario=stall
leaving=$(log_count "room duel: 127.0.0.1 left as watcher")
use duel-watcher
watcher=$pid
kill -STOP "$watcher"
stalled=$(date +%s%N)
use duel-host
nudge left duel-host
stall_left=$((3000 - $(elapsed_ms "$stalled")))
[ $stall_left -gt 0 ] && sleep "$((stall_left / 1000)).$(printf %03d $((stall_left % 1000)))"
kill -CONT "$watcher"
echo "a watcher was stalled for $(elapsed_ms "$stalled") ms"
# The other rooms are looked at only now: on a loaded machine, looking takes
# long enough that the stall would outlast the silence a server allows.
others_play
use duel-watcher
expect_status "Room duel - watching - 1 watcher - round trip"
same_pictures "$server" duel-host duel-watcher
[ "$(log_count "room duel: 127.0.0.1 left as watcher")" -gt "$leaving" ] &&
  fail "the stalled watcher was let go: $(grep "left as watcher" "$log" | tail -n 1)"

checkpoint

# A joined terminal killed outright: its room sees it leave.
scenario=killed
leaving=$(log_count "room duel: 127.0.0.1 left as watcher")
start_game duel-victim --watch "$address" --room duel
wait_for_text "Room duel - watching - 2 watchers - round trip"
kill -KILL "$pid"
wait_for_log "room duel: 127.0.0.1 left as watcher" "$leaving"
use duel-host
expect_status "Room duel - you host, pilot 2 here - 1 watcher - round trip"
nudge left duel-host
others_play

checkpoint

scenario=silent
wait "$silent"
silent_status=$(cat "$work/silent.status" 2>/dev/null)
[ -n "$silent_status" ] && [ "$silent_status" != 124 ] || fail "the silent connection was not closed"
waited=$(cat "$work/silent.waited" 2>/dev/null)
grep -q "127.0.0.1 dropped before its answer (sent no hello in time)" "$log" ||
  fail "the silent connection's end was not logged"
echo "a silent connection was let go after $waited ms"
[ "${waited:-99999}" -le 7000 ] || fail "the silent connection was let go only after $waited ms"
others_play

checkpoint

# --- A room's host leaves -----------------------------------------------------------
start_game handover-host --join "$address" --new-room handover
wait_for_text "Room handover - you host, no pilot 2 yet - round trip"
start_game handover-pilot --join "$address" --room handover
wait_for_text "Room handover - pilot 2 - round trip"
# A third that came to play watches until a seat is free.
start_game handover-third --join "$address" --room handover
wait_for_text "Room handover - watching - 1 watcher - round trip"
use handover-host
keys C-c
wait_for_file "$dir/status" || fail "the room's host did not leave"
[ "$(cat "$dir/status" 2>/dev/null)" = 130 ] || fail "the room's host left with status $(cat "$dir/status")"
use handover-pilot
expect_status "Room handover - you host, pilot 2 here - round trip"
wait_for_log "room handover: 127.0.0.1 moved up to host"
use handover-third
expect_status "Room handover - pilot 2 - round trip"
wait_for_log "room handover: 127.0.0.1 moved up to pilot 2"
use handover-pilot
keys x
wait_for_text "(5)Gallery"
keys 5
wait_for_text "GALLERY"
others_play

checkpoint

# --- A room's host vanishes mid-battle -----------------------------------------------
# Nobody's ship changes hands: pilot 2 flies the right ship on, and the
# terminal that came third stands in for the left one.
start_room midway midway Mia Max
start_game midway-third --join "$address" --room midway
wait_for_text "Room midway - watching - 1 watcher - round trip"
kill -KILL "$(cat "$work/midway-host/pid")"
wait_for_log "room midway: 127.0.0.1 moved up to host"
use midway-pilot
expect_status "Room midway - pilot 2 - round trip"
nudge right midway-pilot
nudge left midway-third
others_play

checkpoint

# --- At most two terminals from one address -------------------------------------------
scenario=per-address
serve "$small_log" --max-per-address 2
small_server=$served
small_port=$served_port
exec 6<>"/dev/tcp/127.0.0.1/$small_port" 7<>"/dev/tcp/127.0.0.1/$small_port"
start_game refused --join "127.0.0.1:$small_port"
wait_for_file "$dir/status" || fail "the third terminal was not turned away"
# Turned away before it could tell a server from a host, it names the address.
until_true "the third terminal was not told why" told \
  "skyrazor: 127.0.0.1:$small_port refused: Too many terminals from your address (at most 2 at a time)"
[ "$(cat "$dir/status" 2>/dev/null)" = 1 ] || fail "the third terminal ended with status $(cat "$dir/status")"
exec 6<&- 7<&-
kill -TERM "$small_server"
wait "$small_server"
status=$?
small_server=
[ $status = 0 ] || fail "the second server ended with status $status"
others_play

checkpoint

# --- Stopping -------------------------------------------------------------------------
scenario=stop
joined="alpha-host alpha-pilot bravo-host bravo-pilot duel-host duel-pilot duel-watcher handover-pilot handover-third midway-pilot midway-third"
kill -TERM "$server"
wait "$server"
status=$?
server=
[ $status = 0 ] || fail "the server ended with status $status"
grep -q "stopping: terminated (SIGTERM)" "$log" || fail "the server did not log why it stopped"
tail -n 1 "$log" | grep -q " stopped$" || fail "the server's last line is '$(tail -n 1 "$log")'"
for pane in $joined; do
  use $pane
  wait_for_file "$dir/status" || fail "the terminal did not end"
  [ "$(cat "$dir/status" 2>/dev/null)" = 0 ] || fail "the terminal ended with status $(cat "$dir/status")"
  until_true "the pane did not end with the server's goodbye" \
    ends_with_goodbye "the server has stopped" ||
    { sed "s/^/    last words | /" "$dir/last_words"; tmux_ capture-pane -p -S - -t "$scenario" | cat -A | grep -v '^\$$' | sed "s/^/    history | /"; }
  cmp -s "$dir/before" "$dir/after" || fail "the terminal's settings were left changed"
done
for name in "$alpha" bravo duel handover flood; do
  grep -q "room $name closed" "$log" || fail "room $name was not closed"
done
grep -q "room duel closed ([0-9]* battle frames; period median" "$log" ||
  fail "the room under test said nothing of its battle frames"

# Every room's recording replays to its end, the battles' with their pilots.
scenario=replay
for name in "$alpha:Ann:Abe" bravo:Bea:Ben duel:Dan:Dot handover:: flood::; do
  room=${name%%:*}
  pilots=${name#*:}
  script=$recordings/$room.script
  if [ ! -s "$script" ]; then
    fail "no recording of room $room"
    continue
  fi
  "$binary" --script "$script" --limit 0 >"$work/$room.replayed" 2>"$work/$room.errors" ||
    fail "room $room's recording did not play: $(cat "$work/$room.errors")"
  head -n 1 "$work/$room.replayed" | grep -q '^@@ end ' || fail "room $room's replay has no end dump"
  if [ "$pilots" != : ]; then
    for pilot in ${pilots%:*} ${pilots#*:}; do
      tail -n 25 "$work/$room.replayed" | grep -q "$pilot: Shields(" ||
        fail "room $room's replay did not end in its battle of $pilot"
    done
  fi
done

echo "ran for $(elapsed_ms "$began") ms"
if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "the server of rooms passed"
