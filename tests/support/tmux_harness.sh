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
#   start_game NAME ARGS... a fresh 80x25 pane playing $binary with ARGS in a
#                           UTF-8 xterm; sets $scenario, $dir ($work/NAME) and
#                           $pid; $dir/status holds the exit status at the end.
#   stop_and_keep_screen    freezes the game, keeps its pane in $dir/live, ends
#                           it with Ctrl-C and lets it go.
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
screen_colors() { tmux_ capture-pane -p -e -t "$scenario" 2>/dev/null; }
keys() { tmux_ send-keys -t "$scenario" "$@"; }

wait_for_text() {
  tries=0
  until screen_text | grep -F -q -- "$1"; do
    tries=$((tries + 1))
    if [ $tries -gt "$patience" ]; then
      fail "'$1' never appeared; the screen was:"
      screen_text | sed 's/^/    | /'
      return 1
    fi
    sleep 0.1
  done
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
trap : INT
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=xterm-256color
sh -c 'echo \$\$ >"\$0/pid"; exec "\$@"' "\$dir" "$binary" "\$@"
echo \$? >"\$dir/status.part" && mv "\$dir/status.part" "\$dir/status"
WRAPPER
  fi
  tmux_ new-session -d -x 80 -y 25 -s "$scenario" sh "$work/game-wrapper" "$dir" "$@" || {
    fail "tmux could not start a session"
    return 1
  }
  wait_for_file "$dir/pid" || fail "the game did not start"
  pid=$(cat "$dir/pid")
}

stop_and_keep_screen() {
  kill -STOP "$pid"
  sleep 0.3
  tmux_ capture-pane -p -t "$scenario" >"$dir/live"
  kill -INT "$pid"
  kill -CONT "$pid"
  wait_for_file "$dir/status" || fail "the game did not end"
  tmux_ kill-session -t "$scenario" >/dev/null 2>&1
}
