#!/bin/bash
# The network game over loopback, each terminal a tmux pane of 80x26 (the
# status line below the picture):
#   - a hosted two-person battle, recorded, flown from two terminals to pilot
#     2's win while a third watches: the three panes show the same picture at
#     the name prompt, in battle and on the result screen, and each status
#     line says who is where; the recording replays to that result screen;
#     when the host ends, the joined and watching terminals say so, exit 0
#     and leave the terminal as they found it;
#   - meanwhile a wrong join code is refused before the terminal is taken,
#     the second one from the same address only after a delay; Ctrl-G at
#     either terminal never reaches the game (nor its recording);
#   - in a second battle, won by pilot 1: garbage and an oversized length on
#     connections of their own change nothing for the game or its pilot; a
#     pilot frozen mid-battle is let go once silent for 5 s; a pilot joining
#     mid-battle, and one joining after that one's pane was closed, is shown
#     the picture at once and flies the right ship. That one is asked for
#     the code, naming the host, asked again after a wrong one, and says it
#     is connecting while the host holds the answer back; it and the host
#     play at 80x25, with no row below the picture, where pilot 2's coming
#     shows over the picture's bottom row for three seconds.
# Usage: network_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without tmux.

set -u

binary=${1:?usage: network_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-network "the network test"
export LC_ALL=C.UTF-8  # for the line-drawing and shade glyphs in the panes
pane_rows=26
keep_panes=1
# Two ports of this test's own, drawn so that two runs at once rarely meet.
port=$((5350 + $$ % 24 * 2))
address=127.0.0.1:$port
second_address=127.0.0.1:$((port + 1))

# status_row: the line below the picture in the pane of $scenario.

expect_status_row() {
  status_row | grep -q -- "$1" || fail "the status line is '$(status_row)', not '$1'"
}
pilot_seated() { status_row | grep -q '^Pilot 2 at'; }
no_watcher() { ! status_row | grep -q watcher; }


# A dust wall stands before the left ship while the host's pilot recovers
# from a hit, and wipes out every projectile that comes near.
left_wall_stands() { picture | grep -q '^ │.[░▒]'; }
no_left_wall() { ! left_wall_stands; }

# ended_by_host: the pane of $scenario has said that the host ended the
# game, exited 0 and left the terminal's settings as they were.
ended_by_host() {
  wait_for_file "$dir/status" || {
    fail "the terminal did not end"
    return 1
  }
  # The pane may show the wrapper's last line a moment after its status file.
  until_true "the pane did not end with the host's goodbye" ends_with_goodbye ||
    sed 's/^/    | /' "$dir/last_words"
  cmp -s "$dir/before" "$dir/after" ||
    fail "terminal settings not restored: before '$(cat "$dir/before")' after '$(cat "$dir/after")'"
}


# lines_at_least COUNT TEXT: at least COUNT lines of the pane of $scenario
# hold TEXT.
lines_at_least() { [ "$(screen_text | grep -c -F -- "$2")" -ge "$1" ]; }
# The picture's bottom row, not the status over it.
status_gone() { ! picture | tail -n 1 | grep -q "Pilot 2 at"; }

# join_at_80x25 NAME: pilot 2 joins the second host in a pane of 80x25, the
# host's made so too, asked for the code; sets $scenario to the host's pane.
join_at_80x25() {
  tmux_ resize-window -t host2 -x 80 -y 25
  pane_rows=25
  start_game "$1" --join "$second_address"
  pane_rows=26
  wait_for_text "Join code for $second_address:"
  keys NOPE Enter
  wait_for_text "skyrazor: the host refused: Wrong join code"
  until_true "the code was not asked again" lines_at_least 2 "Join code for $second_address:"
  keys SKY42 Enter
  # Held back a second after the wrong code: the third try at connecting.
  until_true "it did not say it was connecting" \
    lines_at_least 3 "Connecting to $second_address..."
  # Both terminals show pilot 2's coming over the picture a while.
  wait_for_text "Pilot 2 at $second_address - round trip"
  use host2
  wait_for_text "Pilot 2 at 127.0.0.1 - round trip"
  shown=$(date +%s%N)
  until_true "pilot 2's coming stayed over the host's picture" status_gone
  waited=$(elapsed_ms "$shown")
  echo "pilot 2's coming showed over the picture for $waited ms"
  [ "$waited" -ge 1500 ] && [ "$waited" -le 5000 ] ||
    fail "pilot 2's coming showed over the picture for $waited ms"
  use "$1"
  until_true "pilot 2's seat stayed over its picture" status_gone
  use host2
}

began=$(date +%s%N)

# --- A battle to its result ----------------------------------------------------
start_game host --host "$address" --code Sky42 --record "$work/host/recording"
host=$pid
wait_for_text "To join: skyrazor --join $address --code SKY42"
start_game pilot --join "$address" --code sky42
start_game watcher --watch "$address" --code SKY42
use host
wait_for_text " ms - 1 watcher"
expect_status_row "^Pilot 2 at 127\.0\.0\.1 - round trip .* ms - 1 watcher$"
use pilot
wait_for_text "Pilot 2 at $address - round trip"
expect_status_row "^Pilot 2 at $address - round trip"
use watcher
wait_for_text "Watching $address - round trip"
expect_status_row "^Watching $address - round trip"

use host
open_two_person_match Alice
use pilot
wait_for_text "Enter your name Pilot#2:"
same_pictures "$host" host pilot watcher
keys Bob Enter

# During the countdown, terminals with wrong codes.
# Refused before the terminal is touched: it needs none.
"$binary" --join "$address" --code WRONG </dev/null >"$work/wrong.out" 2>"$work/wrong.err"
status=$?
[ $status = 1 ] || fail "a wrong code ended with status $status"
[ -s "$work/wrong.out" ] && fail "a wrong code wrote to the terminal: $(od -c "$work/wrong.out" | head -n 3)"
[ "$(cat "$work/wrong.err")" = "skyrazor: the host refused: Wrong join code" ] ||
  fail "a wrong code was told: $(cat "$work/wrong.err")"
asked=$(date +%s%N)
"$binary" --join "$address" --code WRONG </dev/null >/dev/null 2>"$work/wrong.err"
waited=$(elapsed_ms "$asked")
grep -q "Wrong join code" "$work/wrong.err" || fail "a second wrong code was told: $(cat "$work/wrong.err")"
echo "a second wrong code was refused after $waited ms"
[ "$waited" -ge 900 ] || fail "a second wrong code was refused after only $waited ms"

use host
wait_for_text "Bob: Shields(100) HP(3) Weaptype(1)"

# Each pilot flies their own ship from their own terminal.
keys s
expect_ship left 8
keys w
wait_for_text "Alice: Shields(100) HP(3) Weaptype(2)"
use pilot
keys e
use host
expect_ship right 6
ship_on_row left 8 || fail "pilot 2's key moved pilot 1's ship"
same_pictures "$host" host pilot watcher
keys e
expect_ship left 7
# Ctrl-G is the terminals' own, as Ctrl-L is: the game never sees it, from
# the host's keyboard or from pilot 2's (the recording shows, below).
keys C-g
use pilot
keys C-g s w w w
use host
expect_ship right 7
wait_for_text "HP(3) Weaptype(4)"

# Pilot 2's rockets, a volley each time the host's dust wall is down.
for hit_points in 2 1; do
  until_true "the dust wall stayed" no_left_wall
  use pilot
  keys a
  use host
  wait_for_text "HP($hit_points) Weaptype(2)"
  until_true "no dust wall rose" left_wall_stands
done
until_true "the dust wall stayed" no_left_wall
use pilot
keys a
use host
wait_for_text "***   Bob   ***"
wait_for_text "U WIN!"
same_pictures "$host" host pilot watcher
stop_and_keep_screen
check_replay
grep -F -q '\x07' "$dir/recording" && fail "Ctrl-G reached the game: $(grep -F '\x07' "$dir/recording")"
use pilot
ended_by_host
use watcher
ended_by_host
echo "first battle over after $(elapsed_ms "$began") ms"

# --- A second host: garbage, pilots frozen, dropped and rejoining --------------
start_game host2 --host "$second_address" --code Sky42
host=$pid
wait_for_text "To join: skyrazor --join $second_address"

start_game pilot2 --join "$second_address" --code sky42
use host2
wait_for_text "Pilot 2 at 127.0.0.1"
# Pilot 2 with one hit point, so that pilot 1 wins with one volley.
keys x
wait_for_text "(5)Gallery"
keys 4
wait_for_text "GAME-CONFIG"
keys "50 3 1 100 100 1 1 12 12 19 19" Enter
wait_for_text "***   Skyrazor   ***"
open_two_person_match Ann
use pilot2
wait_for_text "Enter your name Pilot#2:"
keys Ben Enter
use host2
wait_for_text "Ben: Shields(100) HP(1) Weaptype(1)"

# Garbage before a hello, and an oversized length from a watcher, are each
# the end of their own connection only.
exec 3<>"/dev/tcp/127.0.0.1/$((port + 1))"
printf '\0\0\0\5\356garbage' >&3
exec 4<>"/dev/tcp/127.0.0.1/$((port + 1))"
printf '\0\0\0\025\001SKYRAZOR\000\005\002\005SKY42\000\000\000' >&4
wait_for_text "1 watcher"
printf '\177\377\377\377' >&4
timeout 5 cat <&3 >/dev/null || fail "the garbage's connection was not closed"
timeout 5 cat <&4 >/dev/null || fail "the oversized message's connection was not closed"
exec 3<&- 4<&-
until_true "the watcher with the oversized message stayed" no_watcher
use pilot2
keys e
use host2
expect_ship right 6
expect_status_row "^Pilot 2 at 127\.0\.0\.1 - round trip"
same_pictures "$host" host2 pilot2

# A pilot that stops answering is let go once it has been silent for 5 s.
use pilot2
kill -STOP "$pid"
frozen=$(date +%s%N)
use host2
wait_for_text "To join: skyrazor --join $second_address"
waited=$(elapsed_ms "$frozen")
echo "a frozen pilot was let go after $waited ms"
[ "$waited" -le 7000 ] || fail "a frozen pilot was let go only after $waited ms"
kill -CONT "$(cat "$work/pilot2/pid")"
use pilot2
wait_for_file "$dir/status" || fail "the pilot let go did not end"
cmp -s "$dir/before" "$dir/after" || fail "the pilot let go left the terminal changed"

# A pilot joining mid-battle sees the battle at once and flies the right
# ship; so does the one after it, once its pane is closed.
for newcomer in pilot3 pilot4; do
  if [ $newcomer = pilot3 ]; then
    start_game $newcomer --join "$second_address" --code SKY42
    wait_for_text "Pilot 2 at $second_address"
    use host2
    until_true "$newcomer never took pilot 2's seat" pilot_seated
  else
    join_at_80x25 $newcomer
  fi
  same_pictures "$host" host2 $newcomer
  use $newcomer
  row=$(ship_row right)
  keys s
  use host2
  expect_ship right $((row + 1))
  same_pictures "$host" host2 $newcomer
  if [ $newcomer = pilot3 ]; then
    tmux_ kill-pane -t pilot3
    until_true "the closed pane's pilot is still there" gone "$(cat "$work/pilot3/pid")"
    wait_for_text "To join: skyrazor --join $second_address"
  fi
done

# Pilot 1 lines up with pilot 2 and wins.
keys w w w
wait_for_text "Ann: Shields(100) HP(3) Weaptype(4)"
row=$(ship_row right)
moves=$((row - $(ship_row left)))
while [ $moves -gt 0 ]; do keys s; moves=$((moves - 1)); done
while [ $moves -lt 0 ]; do keys e; moves=$((moves + 1)); done
expect_ship left "$row"
keys a
wait_for_text "***   Ann   ***"
same_pictures "$host" host2 pilot4
keys C-c
use pilot4
ended_by_host

echo "ran for $(elapsed_ms "$began") ms"
if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all network sessions passed"
