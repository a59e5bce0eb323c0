#!/bin/sh
# The window is a view onto the game's 80x25 picture. Plays the real binary
# in a tmux pane, records each session, and checks in every state of the game
# (title, menu, prompt, countdown, battle, result, gallery):
#   - shrunk below the arena (30x10, or 12x4 at the menu), the window shows
#     the picture's top-left part unwrapped, and its bottom row says that the
#     window is too small;
#   - grown back to 80x25, the window shows the game's whole picture cell for
#     cell: frozen there, the pane equals the end of the recording's replay;
#   - Ctrl-L paints the picture again over whatever else reached the terminal;
#   - the cursor shows at a name prompt and is hidden in battle.
# Usage: window_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without tmux.

set -u

binary=${1:?usage: window_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-window "the window test"
patience=150


# record NAME: a fresh 80x25 pane playing the game, recorded.
record() {
  start_game "$1" --record "$work/$1/recording"
  wait_for_text "Skyrazor"
}

size() {
  tmux_ resize-window -t "$scenario" -x "$1" -y "$2"
  sleep 0.4
}

# shrink COLUMNS ROWS [still]: the window made small; the notice on its
# bottom row, and with "still" (a picture that does not move) the rows above
# it equal to the picture's top-left part.
shrink() {
  size "$1" "$2"
  kill -STOP "$pid"
  sleep 0.2
  tmux_ capture-pane -p -t "$scenario" >"$dir/small"
  kill -CONT "$pid"
  if [ "$1" -ge 11 ]; then
    tail -n 1 "$dir/small" | grep -q -e "too small" -e "Needs 80x25" ||
      { fail "no notice at $1x$2:"; sed 's/^/    | /' "$dir/small"; }
  fi
  if [ "${3:-}" = still ]; then
    echo "$(($2 - 1)) $1" >"$dir/small_view"
  fi
}

# The game frozen at 80x25, its pane kept, then ended; the recording's
# scripted run must end on the kept screen, and so must a shrunk view.
check_picture() {
  size 80 25
  stop_and_keep_screen
  "$binary" --script "$dir/recording" --limit 0 | tail -n 25 >"$dir/picture"
  diff "$dir/picture" "$dir/live" >"$dir/difference" ||
    { fail "the window does not show the game's picture:"; cat "$dir/difference"; }
  if [ -s "$dir/small_view" ]; then
    read -r rows columns <"$dir/small_view"
    head -n "$rows" "$dir/picture" | LC_ALL=C.UTF-8 sed -E "s/^(.{0,$columns}).*/\\1/; s/ *\$//" \
      >"$dir/picture_part"
    head -n "$rows" "$dir/small" | sed 's/ *$//' | diff "$dir/picture_part" - >"$dir/difference" ||
      { fail "the small window is not the picture's top left:"; cat "$dir/difference"; }
  fi
}

cursor_shown() { tmux_ display -p -t "$scenario" '#{cursor_flag}'; }

record title
shrink 30 10 still
check_picture

record menu
keys x
wait_for_text "(5)Gallery"
shrink 12 4 still
size 80 25
# Another program writes over the game; Ctrl-L paints the game again.
printf '\033[3;2HSTRAY TEXT\033[20;60Hmore' >"$(tmux_ display -p -t "$scenario" '#{pane_tty}')"
sleep 0.2
screen_text | grep -q "STRAY TEXT" || fail "the stray text did not reach the pane"
keys C-l
sleep 0.3
check_picture

record prompt
keys x 3
wait_for_text "Pilot#1:"
sleep 0.3
[ "$(cursor_shown)" = 1 ] || fail "no cursor at the name prompt"
shrink 30 10 still
check_picture

record countdown
keys x 3
wait_for_text "Pilot#1:"
keys "Alice Bob" Enter
wait_for_text "GET READY"
shrink 30 10
check_picture

record battle
keys x 3
wait_for_text "Pilot#1:"
keys "Alice Bob" Enter
wait_for_text "Alice: Shields"
[ "$(cursor_shown)" = 0 ] || fail "the cursor shows in battle"
keys w a
shrink 30 10
keys p k
shrink 1 1
check_picture

# Options give a battle that ends at once: pilot 2 with one hit point and
# weak shields, a strong laser for pilot 1, ten milliseconds a frame.
record result
keys x 4
wait_for_text "Gamespeed"
keys "10 5 1 10 10 0 0 120 3 9 39" Enter
wait_for_text "Skyrazor"
keys x 3
wait_for_text "Pilot#1:"
keys "Alice Bob" Enter
wait_for_text "Alice: Shields"
keys w
sleep 0.1
for shot in 1 2 3 4 5 6 7 8 9 10; do keys a; sleep 0.05; done
wait_for_text "U WIN!"
shrink 30 10 still
check_picture

record gallery
keys x 5
sleep 0.4
keys x
sleep 0.4
shrink 30 10 still
check_picture

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "window test passed"
