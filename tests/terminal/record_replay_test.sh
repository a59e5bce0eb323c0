#!/bin/sh
# Records live sessions of the real binary in a detached tmux pane of 80x25
# and checks that each recording, played back as a scripted run with
# --limit 0, ends on the very screen the live session ended on. Each session
# is frozen (SIGSTOP) to read its screen, then ended with Ctrl-C (SIGINT) and
# let go, so the screen read is the last one it showed.
# Covers every mode of the main menu, keys typed during the countdown, two
# keys in one battle frame and a typed line with Backspace; then --replay
# shows a recording at speed in the pane, says when it is over, and stops
# at a key.
# Usage: record_replay_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without tmux.

set -u

binary=${1:?usage: record_replay_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-record "the record and replay test"
patience=100  # tenths of a second

# start NAME ARGUMENTS...: a fresh pane running the game, given time to start.
start() {
  start_game "$@"
  sleep 0.5
}

record() {
  start "$1" --record "$work/$1/recording"
}

# Two-person battle: names typed with a Backspace, a key during the
# countdown (the battle starts some 6 s after the names), two keys sent at
# once in battle, frozen mid-battle.
record pvp
keys x; sleep 0.4; keys 3; sleep 0.4
keys Alx BSpace ice Space Bob Enter
sleep 1.2; keys e
sleep 5.8; keys ea; sleep 0.05; keys pk
sleep 1
stop_and_keep_screen
check_replay
grep -qx 'type Alice Bob' "$dir/recording" || fail "the typed line is not recorded as edited"
grep -A1 -x 'key e' "$dir/recording" | grep -qx 'key a' ||
  { fail "the two keys of one frame are not recorded at one time"; cat "$dir/recording"; }

# Against the computer: a name and a level typed, then a battle.
record computer
keys x; sleep 0.3; keys 2; sleep 0.3
keys Ace Enter; sleep 0.3; keys 3 Enter
sleep 7; keys wa; sleep 1.5
stop_and_keep_screen
check_replay

# Arcade: a new run, the pilot's name, into its first battle.
record arcade
keys x; sleep 0.3; keys 1; sleep 0.3; keys 2; sleep 0.3
keys Ace Enter
sleep 7; keys a; sleep 1
stop_and_keep_screen
check_replay

# Options: answers typed at the prompts, stopped at one of them halfway.
record options
keys x; sleep 0.3; keys 4; sleep 0.5
keys 2 Enter; sleep 0.5
stop_and_keep_screen
check_replay

# Gallery: pages turned by keys, stopped at a page.
record gallery
keys x; sleep 0.3; keys 5; sleep 0.5; keys x; sleep 0.5
stop_and_keep_screen
check_replay

# --replay: the two-person recording at four times the speed, to its end.
cp "$work/pvp/recording" "$work/pvp.script"
start replay --replay "$work/pvp.script" --speed 4
if wait_for_text "End of the replay"; then
  tmux_ capture-pane -p -t "$scenario" | head -n 24 >"$dir/shown"
  head -n 24 "$work/pvp/live" | diff - "$dir/shown" >/dev/null ||
    fail "the replay did not show the recorded end"
  keys q
  wait_for_file "$dir/status" || fail "a key did not end the replay"
  [ "$(cat "$dir/status" 2>/dev/null)" = 0 ] || fail "exit status $(cat "$dir/status")"
fi
tmux_ kill-session -t "$scenario" >/dev/null 2>&1

# --replay at real speed, stopped by a key in the countdown.
start replay_stopped --replay "$work/pvp.script"
wait_for_text "Alice"
sleep 0.5
keys q
wait_for_file "$dir/status" || fail "a key did not stop the replay"
[ "$(cat "$dir/status" 2>/dev/null)" = 0 ] || fail "exit status $(cat "$dir/status")"
tmux_ kill-session -t "$scenario" >/dev/null 2>&1

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all record and replay sessions passed"
