#!/bin/sh
# Plays skyrazor.exe under Wine in a detached tmux pane of 80x25 (Wine gives
# it a console on the pane's terminal) and checks what a player sees:
#   - the title, the main menu, the gallery's pages (the rocket's glyph), a
#     typed name with a Backspace, the countdown and a two-person battle, with
#     the box-drawing frame, the ships and their colours;
#   - no CPU used while the menu waits for a key, and nothing sent to the
#     terminal while nothing in the battle moves (no flicker);
#   - Ctrl-C in battle ends the game with Windows' status for it, and the
#     pane's terminal settings are afterwards as before.
# (Ctrl-Z cannot be tried here: on Wine's terminal console it stops the
# process as on any terminal; the unit tests type it into a console instead.)
# Usage: console_session_test.sh WINE-RUN WINE-PREFIX PATH/TO/skyrazor.exe
# Exits 77 (skipped) without tmux.

set -u

wine_run=${1:?usage: console_session_test.sh WINE-RUN WINE-PREFIX PATH/TO/skyrazor.exe}
prefix=${2:?}
binary=${3:?}

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-windows-console "the Windows console session test"
patience=300  # tenths of a second

# The pane runs this wrapper: it notes the terminal's settings, runs the game
# under Wine (writing its process id first), and notes the settings and the
# exit status after it. Ctrl-C reaches the whole foreground group (Wine turns
# it into the console's Ctrl-C for the game); the wrapper only waits.
cat >"$work/wrapper" <<WRAPPER
#!/bin/sh
dir=\$1
stty -g >"\$dir/before"
trap : INT
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=xterm-256color
sh -c 'echo \$\$ >"\$1/pid"; exec "\$0" "\$2" "\$3"' "$wine_run" "\$dir" "$prefix" "$binary"
status=\$?
stty -g >"\$dir/after"
echo \$status >"\$dir/status.part" && mv "\$dir/status.part" "\$dir/status"
WRAPPER

# start NAME: a fresh pane running the game.
start() {
  scenario=$1
  dir="$work/$1"
  mkdir -p "$dir"
  tmux_ new-session -d -x 80 -y 25 -s "$scenario" "sh '$work/wrapper' '$dir'" || {
    fail "tmux could not start a session"
    return 1
  }
  wait_for_file "$dir/pid" || {
    fail "the game did not start"
    return 1
  }
  pid=$(cat "$dir/pid")
}

# Polls up to 30 s (Wine makes its prefix on first use).

# finish EXPECTED-STATUS: the game is gone, with that status, and the
# terminal's settings are back.
finish() {
  wait_for_file "$dir/status" || {
    fail "the game did not end"
    kill -KILL "$pid" 2>/dev/null
    return 1
  }
  status=$(cat "$dir/status")
  [ "$status" = "$1" ] || fail "exit status $status, expected $1"
  if ! cmp -s "$dir/before" "$dir/after"; then
    fail "terminal settings not restored: before '$(cat "$dir/before")' after '$(cat "$dir/after")'"
  fi
}

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# --- A player's session: title, menu, gallery, names, countdown, battle, Ctrl-C
if start play; then
  wait_for_text "***   Skyrazor   ***"
  # Escape is a key press. (That an arrow key is none is checked by the
  # console unit tests: on Wine's terminal console an arrow arrives as an
  # escape sequence that Wine now and then splits, turning it into Escape.)
  keys Escape
  wait_for_text "Welcome Pilots! Where do u want to go?"
  wait_for_text "(5)Gallery"
  esc=$(printf '\033')
  screen_colors | grep -q "${esc}\[97m" || fail "no bright white (SGR 97) in the menu"

  if [ -r "/proc/$pid/stat" ]; then
    before=$(cpu_ticks "$pid")
    sleep 2
    after=$(cpu_ticks "$pid")
    echo "CPU at the main menu: $((after - before)) ticks in 2 s"
    [ $((after - before)) -le 2 ] || fail "the menu burns CPU: $((after - before)) ticks in 2 s"
  fi

  # The gallery: a cover and six pages, a key each, then the title again.
  keys 5
  wait_for_text "GALLERY"
  keys x
  wait_for_text "This light space-fighter"
  keys 1 2 3 4
  if wait_for_text "Nr.4: Rocket"; then
    screen_text | grep -q "^   ↔     ↔" || fail "the rockets are not drawn as ↔ (code page 437's 0x1D)"
    screen_colors | grep -q "${esc}\[92m *↔" || fail "pilot 1's rocket is not bright green"
    screen_colors | grep -q "${esc}\[91m *↔" || fail "pilot 2's rocket is not bright red"
  fi
  keys 5
  wait_for_text "Nr.5: Ion"
  keys x
  wait_for_text "***   Skyrazor   ***"
  keys x
  wait_for_text "(5)Gallery"

  keys 7  # not a menu choice
  keys 3
  wait_for_text "Enter your name Pilot#1:"
  keys Alicx BSpace
  keys "e Bob" Enter
  wait_for_text "GET READY >>> Alice VS Bob <<< GET READY"
  if wait_for_text "┌──────"; then
    wait_for_text "└──────"
    wait_for_text "Alice: Shields(100)"
    screen_text | grep -q "^ │>  *<│" || fail "no ships between the arena's side lines"
    screen_colors | grep -q "${esc}\[92m>" || fail "pilot 1's ship is not bright green"
    screen_colors | grep -q "${esc}\[91m<" || fail "pilot 2's ship is not bright red"

    # Nothing moves: nothing is sent. Then a shot: only its cells are.
    tmux_ pipe-pane -t "$scenario" -o "cat >>'$dir/idle'"
    sleep 1.5
    tmux_ pipe-pane -t "$scenario"
    idle=$(wc -c <"$dir/idle" 2>/dev/null || echo 0)
    [ "$idle" -le 64 ] || fail "an idle battle sent $idle bytes in 1.5 s: it is being redrawn"
    tmux_ pipe-pane -t "$scenario" -o "cat >>'$dir/shot'"
    keys a
    sleep 1.5
    tmux_ pipe-pane -t "$scenario"
    shot=$(wc -c <"$dir/shot" 2>/dev/null || echo 0)
    echo "Sent to the terminal: $idle bytes idle, $shot bytes for a shot crossing the arena"
    [ "$shot" -gt 0 ] || fail "the shot was never drawn"
    [ "$shot" -le 8000 ] || fail "a shot crossing the arena sent $shot bytes: whole redraws?"
  fi
  keys C-c
  # Windows' status for Ctrl-C, 0xC000013A, of which the shell sees the low byte.
  finish 58
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "Windows console session test passed"
