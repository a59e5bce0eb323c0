#!/bin/sh
# A network game between the native game and skyrazor.exe under Wine (which
# gives it a console on its tmux pane's terminal), over loopback, each
# terminal in a pane of 80x26, so that its status line shows below the
# 80x25 picture:
#   - the native game hosts; skyrazor.exe joins as pilot 2 and watches. The
#     host picks the two-person game, each pilot's name is typed at its own
#     terminal, and in the battle pilot 2 moves, switches weapons and fires
#     from Wine's keyboard (e/s/w/a) and pilot 1 moves from the host's. Both
#     Windows terminals show the host's picture row for row, and the right
#     ship moves. Ctrl-C at the host ends the game: both say so on a line of
#     their own and exit with status 0.
#   - skyrazor.exe hosts and the native game joins as pilot 2: how to join,
#     then pilot 2's arrival, on the Windows host's status line; pilot 2's name
#     typed in while the Windows host waits for it; Ctrl-C at the Windows host
#     ends the game at the joined terminal too.
# Usage: network_session_test.sh WINE-RUN WINE-PREFIX PATH/TO/skyrazor.exe \
#          PATH/TO/NATIVE/skyrazor PORT   (PORT and the one after it are used)
# Exits 77 (skipped) without tmux.

set -u

wine_run=${1:?usage: network_session_test.sh WINE-RUN WINE-PREFIX skyrazor.exe NATIVE-skyrazor PORT}
prefix=${2:?}
exe=${3:?}
native=${4:?}
port=${5:?}

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-windows-network "the Windows network session test"
patience=300 # tenths of a second: Wine is slow to start

if [ ! -x "$native" ]; then
  echo "FAIL: no native game at $native to play against (make build makes it)"
  exit 1
fi

# Each pane runs this wrapper: it writes the game's process id, runs it and
# writes its exit status. Ctrl-C reaches the whole foreground group; the
# wrapper only waits. It stays once the game is gone, keeping the pane with
# the game's last words on it until the test ends the tmux server.
cat >"$work/wrapper" <<'WRAPPER'
#!/bin/sh
dir=$1
shift
trap : INT
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=xterm-256color
sh -c 'echo $$ >"$0/pid"; exec "$@"' "$dir" "$@"
echo $? >"$dir/status.part" && mv "$dir/status.part" "$dir/status"
exec sleep 600
WRAPPER

# start NAME COMMAND...: a fresh pane of that name running COMMAND.
start() {
  scenario=$1
  shift
  mkdir -p "$work/$scenario"
  tmux_ new-session -d -x 80 -y 26 -s "$scenario" sh "$work/wrapper" "$work/$scenario" "$@" ||
    fail "tmux could not start a session"
}
start_exe() {
  name=$1
  shift
  start "$name" "$wine_run" "$prefix" "$exe" "$@"
}

# on NAME: the pane the harness's waits and keys go to.
on() { scenario=$1; }

# same_picture A B: waits until panes A and B show the same 25 picture rows.
same_picture() {
  tries=0
  until [ "$(picture "$1")" = "$(picture "$2")" ]; do
    tries=$((tries + 1))
    if [ $tries -gt "$patience" ]; then
      fail "$2 never showed $1's picture; $1 (<) and $2 (>) differ:"
      picture "$1" >"$work/picture-a"
      picture "$2" >"$work/picture-b"
      diff "$work/picture-a" "$work/picture-b" | sed 's/^/    | /'
      return 1
    fi
    sleep 0.1
  done
}

# row_of NAME PATTERN: the first row (from 1) of the pane matching PATTERN.
row_of() { tmux_ capture-pane -p -t "$1" 2>/dev/null | grep -n -m 1 -- "$2" | cut -d: -f1; }
pilot1='^ │>'
pilot2='<│$'

# wait_for_row NAME PATTERN ROW: waits until PATTERN is first on that row.
wait_for_row() {
  tries=0
  until [ "$(row_of "$1" "$2")" = "$3" ]; do
    tries=$((tries + 1))
    if [ $tries -gt "$patience" ]; then
      fail "'$2' never reached row $3 of $1; it is on row '$(row_of "$1" "$2")' of:"
      picture "$1" | sed 's/^/    | /'
      return 1
    fi
    sleep 0.1
  done
}

# finish NAME STATUS: the game in that pane, if it was started, has ended
# with that status.
finish() {
  scenario=$1
  [ -d "$work/$1" ] || return 1
  if ! wait_for_file "$work/$1/status"; then
    fail "the game did not end"
    kill -KILL "$(cat "$work/$1/pid")" 2>/dev/null
    return 1
  fi
  status=$(cat "$work/$1/status")
  [ "$status" = "$2" ] || fail "exit status $status, expected $2"
}

# ended_by_host NAME: the joined game said why it ended, on a line of its own.
ended_by_host() {
  on "$1"
  wait_for_text "the host has ended the game" &&
    { tmux_ capture-pane -p -t "$1" | grep -q -x "skyrazor: the host has ended the game" ||
      fail "the host's ending is not on a line of its own"; }
}

# Each game goes on only while all is well: after a failure it is ended at
# once, so that a broken build fails in a bounded time.

# shot_on NAME ROW: waits until a shot shows on that row of the arena.
shot_on() {
  tries=0
  until tmux_ capture-pane -p -t "$1" | sed -n "$2p" | grep -q "│ *[^ ].*<│"; do
    tries=$((tries + 1))
    if [ $tries -gt "$patience" ]; then
      fail "pilot 2's shot never showed at the host"
      return 1
    fi
    sleep 0.1
  done
}

# --- The native game hosts; skyrazor.exe joins as pilot 2 and watches --------------
hosted_natively() {
  on host
  wait_for_text "To join: skyrazor --join 127.0.0.1:$port --code SKYNET" || return
  start_exe join --join "127.0.0.1:$port" --code skynet # codes compare in either case
  start_exe watch --watch "127.0.0.1:$port" --code SKYNET
  on host
  patience=600 # Wine may be making its prefix, on first use
  wait_for_text "Pilot 2 at 127.0.0.1 - round trip" && wait_for_text " - 1 watcher"
  joined=$?
  patience=300
  [ $joined -eq 0 ] || return
  on join
  wait_for_text "***   Skyrazor   ***" || return
  status_row join | grep -q "^Pilot 2 at 127.0.0.1:$port - round trip" ||
    fail "no pilot's status line below the picture: '$(status_row join)'"
  on watch
  wait_for_text "***   Skyrazor   ***" || return
  status_row watch | grep -q "^Watching 127.0.0.1:$port - round trip" ||
    fail "no watcher's status line below the picture: '$(status_row watch)'"

  on host
  keys x
  wait_for_text "Welcome Pilots! Where do u want to go?" || return
  keys 3
  on join
  wait_for_text "Enter your name Pilot#1:" || return
  on host
  keys Alice Enter
  on join
  wait_for_text "Enter your name Pilot#2:" || return
  keys Bob Enter
  on host
  wait_for_text "GET READY >>> Alice VS Bob <<< GET READY" &&
    wait_for_text "Bob: Shields(100) HP(3) Weaptype(1)" || return
  same_picture host join && same_picture host watch || return
  start1=$(row_of host "$pilot1")
  start2=$(row_of host "$pilot2")
  # Pilot 2 moves up twice from Wine; pilot 1 stays.
  on join
  keys e e
  wait_for_row host "$pilot2" $((start2 - 2)) && same_picture host join || return
  [ "$(row_of host "$pilot1")" = "$start1" ] || fail "pilot 2's keys moved pilot 1's ship"
  # Pilot 1 moves down from the host.
  on host
  keys s
  wait_for_row host "$pilot1" $((start1 + 1)) || return
  [ "$(row_of host "$pilot2")" = $((start2 - 2)) ] || fail "pilot 1's key moved pilot 2's ship"
  # Pilot 2 takes the next weapon and fires it along its row.
  on join
  keys w
  on host
  wait_for_text "Bob: Shields(100) HP(3) Weaptype(2)" || return
  on join
  keys a
  shot_on host $((start2 - 2)) && same_picture host join && same_picture host watch
}

start host "$native" --host "127.0.0.1:$port" --code SKYNET
hosted_natively
on host
keys C-c
finish host 130
finish join 0 && ended_by_host join
finish watch 0 && ended_by_host watch

# --- skyrazor.exe hosts; the native game joins as pilot 2 -------------------------
hosted_on_windows() {
  on winehost
  wait_for_text "To join: skyrazor --join 127.0.0.1:$port --code SKYNET" || return
  start nativejoin "$native" --join "127.0.0.1:$port" --code SKYNET
  on winehost
  wait_for_text "Pilot 2 at 127.0.0.1 - round trip" || return
  keys x
  wait_for_text "Welcome Pilots! Where do u want to go?" || return
  keys 3
  wait_for_text "Enter your name Pilot#1:" || return
  keys Alice Enter
  on nativejoin
  wait_for_text "Enter your name Pilot#2:" || return
  keys Bob Enter
  on winehost
  wait_for_text "GET READY >>> Alice VS Bob <<< GET READY" && same_picture winehost nativejoin
}

port=$((port + 1))
start_exe winehost --host "127.0.0.1:$port" --code SKYNET
hosted_on_windows
on winehost
keys C-c
# Windows' status for Ctrl-C, 0xC000013A, of which the shell sees the low byte.
finish winehost 58
finish nativejoin 0 && ended_by_host nativejoin

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "Windows network session test passed"
