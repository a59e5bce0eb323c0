#!/bin/sh
# Plays the real binary in a detached tmux pane of 80x25 and checks what a
# player sees and what the terminal is left with:
#   - the title, the main menu, colours, the arena's line-drawing glyphs (in a
#     UTF-8 locale) and typed names with a Backspace;
#   - no CPU used while the menu waits for a key;
#   - Ctrl-C, SIGTERM, SIGHUP, a crash and Ctrl-D each end the game with the
#     expected status, and `stty -g` of the pane's terminal is afterwards what
#     it was before; keys typed as the game ends do not reach the shell;
#   - what cannot be played on is refused with one line and status 1: input
#     that is not a terminal (empty, closed, a pipe) and a terminal that
#     cannot place the cursor (TERM=dumb);
#   - a recording that cannot be written is told on the screen at once, and
#     on the way out with status 2;
#   - the terminal under stress: the window resized at a prompt and during a
#     battle, a window smaller than the arena, Ctrl-C during the countdown,
#     SIGHUP during a battle, the window closed during a battle and input
#     each leave the terminal restored and no game behind.
# Usage: terminal_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without tmux.

set -u

binary=${1:?usage: terminal_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-terminal "the terminal test"
if [ ! -x "$binary" ]; then
  echo "not an executable: $binary"
  exit 1
fi

# The pane runs this wrapper: it notes the terminal's settings, runs the game
# (writing its process id first), and notes the settings and the exit status
# after it. Ctrl-C reaches the whole foreground group; the wrapper only waits.
cat >"$work/wrapper" <<WRAPPER
#!/bin/sh
dir=\$1
stty -g >"\$dir/before"
trap : INT
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=xterm-256color
case \$2 in
  tty) sh -c 'echo \$\$ >"\$1/pid"; exec "\$0"' "$binary" "\$dir" ;;
  dumb) TERM=dumb sh -c 'echo \$\$ >"\$1/pid"; exec "\$0"' "$binary" "\$dir" ;;
  full) sh -c 'echo \$\$ >"\$1/pid"; exec "\$0" --record /dev/full' "$binary" "\$dir" ;;
  empty) sh -c 'echo \$\$ >"\$1/pid"; exec "\$0" </dev/null' "$binary" "\$dir" ;;
  closed) sh -c 'echo \$\$ >"\$1/pid"; exec "\$0" <&-' "$binary" "\$dir" ;;
  fifo) sh -c 'echo \$\$ >"\$1/pid"; exec "\$0" <"\$1/input"' "$binary" "\$dir" ;;
esac 2>"\$dir/errors"
status=\$?
stty -g >"\$dir/after"
# Whatever is left unread on the terminal would reach the shell now.
stty -icanon min 0 time 2
dd bs=64 count=1 of="\$dir/leftover" 2>/dev/null
stty "\$(cat "\$dir/before")"
echo \$status >"\$dir/status.part" && mv "\$dir/status.part" "\$dir/status"
WRAPPER

# start NAME [tty|dumb|full|empty|closed|fifo] [COLUMNS ROWS]: a fresh pane
# running the game (dumb: with TERM=dumb; full: recording to /dev/full;
# fifo: standard input from the named pipe NAME/input).
start() {
  scenario=$1
  dir="$work/$1"
  mkdir -p "$dir"
  if [ "${2:-tty}" = fifo ]; then
    mkfifo "$dir/input"
  fi
  tmux_ new-session -d -x "${3:-80}" -y "${4:-25}" -s "$scenario" \
    "sh '$work/wrapper' '$dir' ${2:-tty}" || {
    fail "tmux could not start a session"
    return 1
  }
  wait_for_file "$dir/pid" || {
    fail "the game did not start"
    return 1
  }
  pid=$(cat "$dir/pid")
}

# Polls up to 20 s (sanitizer builds on a busy machine start slowly).

# finish EXPECTED-STATUS: the game is gone, with that status ("nonzero" for
# any failure), and the terminal's settings are back.
finish() {
  wait_for_file "$dir/status" || {
    fail "the game did not end"
    kill -KILL "$pid" 2>/dev/null
    return 1
  }
  status=$(cat "$dir/status")
  if [ "$1" = nonzero ]; then
    [ "$status" -ne 0 ] || fail "exit status 0, expected a failure"
  elif [ "$status" != "$1" ]; then
    fail "exit status $status, expected $1"
  fi
  if kill -0 "$pid" 2>/dev/null; then
    fail "the game (pid $pid) is still running"
  fi
  if ! cmp -s "$dir/before" "$dir/after"; then
    fail "terminal settings not restored: before '$(cat "$dir/before")' after '$(cat "$dir/after")'"
  fi
}

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# --- A player's session: title, menu, names, battle, Ctrl-C ------------------
if start play; then
  wait_for_text "***   Skyrazor   ***"
  # An arrow key is no key press; Escape is one, and comes through on its own.
  keys Up
  sleep 0.5
  screen_text | grep -F -q "***   Skyrazor   ***" || fail "an arrow key passed the title"
  keys Escape
  wait_for_text "Welcome Pilots! Where do u want to go?"
  wait_for_text "(5)Gallery"
  # Bright white text on black: 16 colours come through.
  screen_colors | grep -q "$(printf '\033')\[97m" || fail "no bright white (SGR 97) in the menu"

  if [ -r "/proc/$pid/stat" ]; then
    before=$(cpu_ticks "$pid")
    sleep 2
    after=$(cpu_ticks "$pid")
    echo "CPU at the main menu: $((after - before)) ticks in 2 s"
    [ $((after - before)) -le 1 ] || fail "the menu burns CPU: $((after - before)) ticks in 2 s"
  fi

  keys 7 Enter  # not menu choices
  keys 3
  wait_for_text "Enter your name Pilot#1:"
  keys Alicx BSpace
  keys "e Bob" Enter
  if wait_for_text "┌──────"; then
    wait_for_text "└──────"
    wait_for_text "Alice: Shields"
    screen_text | grep -q "^ │>  *<│" || fail "no ships between the arena's side lines"
    esc=$(printf '\033')
    screen_colors | grep -q "${esc}\[92m>" || fail "pilot 1's ship is not bright green"
    screen_colors | grep -q "${esc}\[91m<" || fail "pilot 2's ship is not bright red"
  fi
  keys C-c
  finish 130
fi

# --- Signals from outside --------------------------------------------------------
if start sigterm; then
  wait_for_text "Skyrazor"
  kill -TERM "$pid"
  finish 143
fi

if start sighup; then
  wait_for_text "Skyrazor"
  keys x
  wait_for_text "(1)Arcade"
  kill -HUP "$pid"
  finish 129
fi

if start crash; then
  wait_for_text "Skyrazor"
  kill -SEGV "$pid"
  finish nonzero
fi

# --- The end of input ----------------------------------------------------------
if start ctrl-d; then
  wait_for_text "Skyrazor"
  keys x
  wait_for_text "(1)Arcade"
  keys C-d
  finish 0
fi

if start ctrl-d-at-prompt; then
  wait_for_text "Skyrazor"
  keys x 3
  wait_for_text "Enter your name Pilot#1:"
  keys Al C-d
  finish 0
fi

# Keys typed while the game is held and then ended are not left to the shell.
if start typeahead; then
  wait_for_text "Skyrazor"
  keys x
  wait_for_text "(1)Arcade"
  kill -STOP "$pid"
  keys ak
  sleep 0.3
  kill -INT "$pid"
  kill -CONT "$pid"
  finish 130
  [ ! -s "$dir/leftover" ] || fail "keys left for the shell: '$(cat "$dir/leftover")'"
fi

# --- What cannot be played on ------------------------------------------------
refused() {
  finish 1
  grep -q -F -- "$1" "$dir/errors" || fail "no '$1' on standard error: '$(cat "$dir/errors")'"
}

if start empty-input empty; then
  refused "standard input is not a terminal"
fi

if start closed-input closed; then
  refused "standard input is not a terminal"
fi

if start dumb-terminal dumb; then
  refused "cannot place the cursor"
fi

# --- A recording that cannot be written ----------------------------------------
if start recording-fails full; then
  wait_for_text "Recording failed (No space left on device)"
  keys x
  wait_for_text "(1)Arcade"
  keys C-c
  finish 2
  grep -q -x -F "skyrazor: cannot write the recording '/dev/full': No space left on device" \
    "$dir/errors" || fail "the failed recording is not told on the way out: '$(cat "$dir/errors")'"
fi

# --- The terminal under stress -------------------------------------------------
# Five games at once, so that their countdowns (6.3 s each) pass together.
stressed="resize small countdown hangup window-closed"
for name in $stressed; do
  case $name in
    small) start "$name" tty 30 8 ;;  # narrower and lower than the arena
    *) start "$name" ;;
  esac
done
for name in $stressed; do
  use "$name"
  wait_for_text "Skyrazor" && keys x
done
for name in $stressed; do
  use "$name"
  wait_for_text "(1)Arcade" && keys 3
done
for name in $stressed; do
  use "$name"
  wait_for_text "Pilot#1:" || continue
  if [ "$name" = resize ]; then
    # The window changes size while the name is being typed.
    tmux_ resize-window -t "$scenario" -x 50 -y 12
    keys Al
    sleep 0.3
    tmux_ resize-window -t "$scenario" -x 100 -y 30
    keys "ice Bob" Enter
  else
    keys "Alice Bob" Enter
  fi
done

use countdown
if wait_for_text "GET READY"; then
  keys C-c
fi
finish 130

use resize
if wait_for_text "Alice: Shields"; then
  # Mid-battle: smaller than the arena, down to a single cell, and back.
  for size in "60 20" "30 8" "1 1" "80 25"; do
    set -- $size
    tmux_ resize-window -t "$scenario" -x "$1" -y "$2"
    keys a
    sleep 0.3
  done
  wait_for_text "└──────" && wait_for_text "Alice: Shields"
fi
keys C-c
finish 130

use small
if wait_for_text "Shields("; then  # the status lines wrap and scroll there
  keys a e a
  sleep 0.5
fi
keys C-c
finish 130

use hangup
if wait_for_text "Alice: Shields"; then
  kill -HUP "$pid"
fi
finish 129

# Closing the window takes the terminal away too: what is left to check is
# that the game does not stay behind.
use window-closed
if wait_for_text "Alice: Shields"; then
  tmux_ kill-session -t "$scenario"
  tries=0
  while kill -0 "$pid" 2>/dev/null && [ $tries -lt 100 ]; do
    tries=$((tries + 1))
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    fail "the game (pid $pid) is still running after its window closed"
    kill -KILL "$pid" 2>/dev/null
  fi
fi

# Keys from a pipe are no keyboard either: scripted runs are for that.
if start piped-input fifo; then
  exec 3>"$dir/input"
  refused "use --script FILE"
  exec 3>&-
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "terminal test passed"
