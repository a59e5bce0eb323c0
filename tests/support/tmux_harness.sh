# The common ground of the tests that play the game in a tmux pane; sourced.
#   tmux_harness NAME WHAT  skips the test (77) without tmux, else makes the
#                           scratch folder $work and a private tmux socket,
#                           both removed on the way out.
#   tmux_ ARGS...           tmux on that socket, with no user configuration.
#   fail MESSAGE            counts a failure of the current $scenario.

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
