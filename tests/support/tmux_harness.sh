# The common ground of the tests that play the game in a tmux pane; sourced.
#   tmux_harness NAME WHAT  skips the test (77) without tmux, else makes the
#                           scratch folder $work and a private tmux socket,
#                           both removed on the way out.
#   tmux_ ARGS...           tmux on that socket, with no user configuration.
#   fail MESSAGE            counts a failure of the current $scenario.
#   wait_for_file FILE      waits until FILE has content; false on a timeout.
#   wait_for_text TEXT      waits until the pane of $scenario shows TEXT;
#                           on a timeout a failure, with the screen shown.
#   screen_text, screen_colors, keys KEYS...   the pane of $scenario.
#   start_game NAME ARGS... a fresh pane of 80 columns and $pane_rows rows
#                           (default 25) playing $binary with ARGS in a UTF-8
#                           xterm; sets $scenario, $dir ($work/NAME) and $pid.
#                           At the end $dir/status holds the exit status and
#                           $dir/before, $dir/after the terminal's settings
#                           (stty -g) before and after the game, and the pane
#                           says "exit status N"; with $keep_panes set, the
#                           pane stays on the screen after it.
#   use NAME                the helpers act on NAME's pane from now on.
#   ship_row SIDE, ship_on_row SIDE ROW, expect_ship SIDE ROW  where a ship
#                           is in the picture of $scenario.
#   ends_with_goodbye [TEXT]  the game in the pane of $scenario said
#                           "skyrazor: TEXT" last and exited 0.
#   gone PID, elapsed_ms START  a process ended; the time since START.
#   picture [NAME]          the 25 rows of the game's picture in a pane (the
#                           pane of $scenario by default).
#   same_pictures PID NAME...  with the game PID frozen, the panes NAME all
#                           show its picture; the first pane's is left in
#                           $work/picture.
#   stop_and_keep_screen    freezes the game, keeps its picture in $dir/live,
#                           ends it with Ctrl-C and lets it go.
#   check_replay            the scripted run of $dir/recording ends on the
#                           picture kept in $dir/live.
# Waits give up after $patience tenths of a second (default 200).

tmux_harness() {
  if ! command -v tmux >/dev/null 2>&1; then
    echo "tmux is not installed: skipping $2"
    exit 77
  fi
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  socket="$1-$$"
  unset TMUX
  trap tmux_harness_cleanup EXIT
  trap 'exit 1' INT TERM HUP
  failures=0
}

tmux_() { tmux -L "$socket" -f /dev/null "$@"; }

tmux_harness_cleanup() {
  tmux_ kill-server >/dev/null 2>&1
  rm -rf "$work"
}

fail() {
  echo "FAIL [$scenario]: $*"
  failures=$((failures + 1))
}

patience=200

wait_for_file() {
  tries=0
  while [ ! -s "$1" ]; do
    tries=$((tries + 1))
    [ $tries -gt "$patience" ] && return 1
    sleep 0.1
  done
  return 0
}

screen_text() { tmux_ capture-pane -p -t "$scenario" 2>/dev/null; }
picture() { tmux_ capture-pane -p -t "${1:-$scenario}" 2>/dev/null | head -n 25; }
# The row below the picture, where a network game shows its status.
status_row() { tmux_ capture-pane -p -t "${1:-$scenario}" 2>/dev/null | sed -n 26p; }
screen_colors() { tmux_ capture-pane -p -e -t "$scenario" 2>/dev/null; }
keys() { tmux_ send-keys -t "$scenario" "$@"; }

# until_true WHAT COMMAND...: waits for COMMAND to succeed; a failure (WHAT)
# on a timeout.
until_true() {
  what=$1
  shift
  tries=0
  until "$@"; do
    tries=$((tries + 1))
    if [ $tries -gt "$patience" ]; then
      fail "$what; the screen was:"
      screen_text | sed 's/^/    | /'
      return 1
    fi
    sleep 0.1
  done
}

# ship_row left|right: the row of the left (>) or right (<) ship in the
# picture of $scenario; ship_on_row SIDE ROW, and expect_ship SIDE ROW (a
# failure on a timeout).
ship_row() {
  case $1 in
    left) picture | grep -n '^ │>' | cut -d: -f1 ;;
    right) picture | grep -n '<│$' | cut -d: -f1 ;;
  esac
}
ship_on_row() { [ "$(ship_row "$1")" = "$2" ]; }
expect_ship() { until_true "the $1 ship never reached row $2" ship_on_row "$1" "$2"; }

# ends_with_goodbye [TEXT]: the pane of $scenario, with its history (its end
# notice may have scrolled it), last said "skyrazor: TEXT" (by default the
# host's goodbye), kept in $dir/last_words, and the game exited 0. (With many
# panes ending at once, tmux may show a dead pane without the last line its
# process wrote, the wrapper's "exit status": the status file tells that.)
ends_with_goodbye() {
  tmux_ capture-pane -p -S - -t "$scenario" |
    grep -v -e '^$' -e '^Pane is dead' -e '^exit status ' | tail -n 1 >"$dir/last_words"
  [ "$(cat "$dir/last_words")" = "skyrazor: ${1:-the host has ended the game}" ] &&
    [ "$(cat "$dir/status" 2>/dev/null)" = 0 ]
}

# gone PID: the process has ended. elapsed_ms START: milliseconds since
# START, a $(date +%s%N).
gone() { ! kill -0 "$1" 2>/dev/null; }
elapsed_ms() { echo $((($(date +%s%N) - $1) / 1000000)); }

text_on_screen() { screen_text | grep -F -q -- "$1"; }
wait_for_text() { until_true "'$1' never appeared" text_on_screen "$1"; }

# open_two_person_match NAME: from the title of $scenario to pilot 2's
# name prompt, pilot 1 named NAME.
open_two_person_match() {
  keys x
  wait_for_text "(5)Gallery"
  keys 3
  wait_for_text "Enter your name Pilot#1:"
  keys "$1" Enter
}

start_game() {
  scenario=$1
  dir="$work/$1"
  shift
  mkdir -p "$dir"
  if [ ! -f "$work/game-wrapper" ]; then
    cat >"$work/game-wrapper" <<WRAPPER
#!/bin/sh
dir=\$1
shift
stty -g >"\$dir/before"
trap : INT
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=xterm-256color
sh -c 'echo \$\$ >"\$0/pid"; exec "\$@"' "\$dir" "$binary" "\$@"
status=\$?
stty -g >"\$dir/after"
echo "exit status \$status"
echo \$status >"\$dir/status.part" && mv "\$dir/status.part" "\$dir/status"
WRAPPER
  fi
  remain=off
  [ -n "${keep_panes:-}" ] && remain=on
  tmux_ new-session -d -x 80 -y "${pane_rows:-25}" -s "$scenario" \
    sh "$work/game-wrapper" "$dir" "$@" \; set-option -w -t "$scenario" remain-on-exit $remain || {
    fail "tmux could not start a session"
    return 1
  }
  wait_for_file "$dir/pid" || fail "the game did not start"
  pid=$(cat "$dir/pid")
}

use() {
  scenario=$1
  dir="$work/$1"
  pid=$(cat "$dir/pid")
}

# A picture caught between the game's drawing it and sending it on is never
# sent while the game is frozen: the game then runs a moment and is frozen
# again.
same_pictures() {
  same_game=$1
  shift
  for attempt in 1 2 3 4 5; do
    kill -STOP "$same_game"
    sleep 0.3
    picture "$1" >"$work/picture"
    same_differs=
    for same_pane in "$@"; do
      picture "$same_pane" >"$work/other-picture"
      if ! cmp -s "$work/picture" "$work/other-picture"; then
        same_differs=$same_pane
        cp "$work/other-picture" "$work/differing-picture"
      fi
    done
    kill -CONT "$same_game"
    [ -z "$same_differs" ] && return 0
    sleep 0.05
  done
  fail "the pane $same_differs does not show the picture of $1:"
  diff "$work/picture" "$work/differing-picture" | sed 's/^/    | /'
  return 1
}

stop_and_keep_screen() {
  kill -STOP "$pid"
  sleep 0.3
  picture >"$dir/live"
  kill -INT "$pid"
  kill -CONT "$pid"
  wait_for_file "$dir/status" || fail "the game did not end"
  tmux_ kill-session -t "$scenario" >/dev/null 2>&1
}

check_replay() {
  "$binary" --script "$dir/recording" --limit 0 >"$dir/replayed" 2>"$dir/errors" ||
    fail "the recording did not play: $(cat "$dir/errors")"
  head -n 1 "$dir/replayed" | grep -q '^@@ end ' || fail "no end dump"
  tail -n 25 "$dir/replayed" >"$dir/replayed_end"
  if ! diff "$dir/live" "$dir/replayed_end" >"$dir/difference"; then
    fail "the replay ended on another screen:"
    cat "$dir/difference"
    cat "$dir/recording"
  fi
}
