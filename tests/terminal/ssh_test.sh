#!/bin/bash
# A player joins over plain ssh: a loopback sshd of this test's own (its own
# configuration, host key and authorized key) whose key forces
# tools/skyrazor-ssh-join, each terminal a tmux pane of 80x26:
#   - without a terminal the forced command says so and fails; a command asked
#     for is not run, the game's join is: it asks for the code naming the
#     host, asks again after a wrong one, and after the third ends the
#     session;
#   - `ssh -t` with the code seats pilot 2, who types a name and flies the
#     right ship, the two panes showing the same picture; when the host ends,
#     the ssh pane says so and the session ends with status 0;
#   - against a server of rooms through its ssh socket (a second key, whose
#     forced command leads to the server's lobby): a bad room name typed
#     after r is told there, p opens a private room whose host is the ssh
#     pane, a second ssh pane from another loopback address types its name
#     after r and flies pilot 2, each held to its own address (the server
#     takes one terminal an address); a room that is not there is refused
#     by name in the lobby, which Ctrl-D leaves with status 0; when the
#     server stops, both sessions end with its goodbye, status 0.
# Usage: ssh_test.sh PATH/TO/skyrazor. Exits 77 (skipped) without tmux or
# OpenSSH's server and client.

set -u

binary=${1:?usage: ssh_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac
forced_command=$(cd "$(dirname "$0")/../../tools" && pwd)/skyrazor-ssh-join
sshd=/usr/sbin/sshd
for program in "$sshd" ssh ssh-keygen; do
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "$program is not installed: skipping the ssh test"
    exit 77
  fi
done

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-ssh "the ssh test"
export LC_ALL=C.UTF-8
pane_rows=26
keep_panes=1
# Ports of this test's own: sshd's, the duel's and the server's.
ssh_port=$((5600 + $$ % 24 * 3))
game_port=$((ssh_port + 1))
server_port=$((ssh_port + 2))
user=$(id -un)

stop_sshd() {
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null
  [ -n "${sshd_pid:-}" ] && kill "$sshd_pid" 2>/dev/null && wait "$sshd_pid" 2>/dev/null
  tmux_harness_cleanup
}
trap stop_sshd EXIT

# --- The server -----------------------------------------------------------------
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key" || exit 1
ssh-keygen -q -t ed25519 -N '' -f "$work/player_key" || exit 1
ssh-keygen -q -t ed25519 -N '' -f "$work/rooms_key" || exit 1
{
  printf 'restrict,pty,command="SKYRAZOR_SSH_PORT=%s SKYRAZOR_GAME='%s' LC_ALL=C.UTF-8 %s" %s\n' \
    "$game_port" "$binary" "$forced_command" "$(cat "$work/player_key.pub")"
  printf 'restrict,pty,command="SKYRAZOR_GAME='%s' LC_ALL=C.UTF-8 %s --socket %s" %s\n' \
    "$binary" "$forced_command" "$work/ssh.sock" "$(cat "$work/rooms_key.pub")"
} >"$work/authorized_keys"
root_login=no
if [ "$(id -u)" = 0 ]; then
  root_login=forced-commands-only
  # sshd run as root wants its privilege separation folder.
  mkdir -p /run/sshd
fi
cat >"$work/sshd_config" <<CONFIG
ListenAddress 127.0.0.1
HostKey $work/host_key
PidFile $work/sshd.pid
AuthorizedKeysFile $work/authorized_keys
AllowUsers $user
PermitRootLogin $root_login
StrictModes no
UsePAM no
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitTTY yes
AllowTcpForwarding no
AllowAgentForwarding no
X11Forwarding no
PermitTunnel no
PrintMotd no
PrintLastLog no
CONFIG
"$sshd" -D -e -f "$work/sshd_config" -p "$ssh_port" 2>"$work/sshd.log" &
sshd_pid=$!
scenario=sshd
wait_for_file "$work/sshd.pid" || {
  echo "sshd did not start:"
  cat "$work/sshd.log"
  exit 1
}

ssh_options=(-p "$ssh_port" -i "$work/player_key" -o "UserKnownHostsFile=$work/known"
  -o StrictHostKeyChecking=accept-new -o BatchMode=yes -o LogLevel=ERROR -F /dev/null)

# start_ssh NAME ARGS...: a pane, as start_game's, running ssh with ARGS.
start_ssh() {
  game=$binary
  binary=$(command -v ssh)
  [ -f "$work/game-wrapper" ] && mv "$work/game-wrapper" "$work/game-wrapper.game"
  start_game "$@"
  mv "$work/game-wrapper" "$work/game-wrapper.ssh"
  [ -f "$work/game-wrapper.game" ] && mv "$work/game-wrapper.game" "$work/game-wrapper"
  binary=$game
}


# pilot_two_flies HOST PILOT: from the title at HOST to a two-person battle
# with pilot 2 named at PILOT, whose e moves the right ship; on HOST after.
pilot_two_flies() {
  use "$1"
  open_two_person_match Alice
  use "$2"
  wait_for_text "Enter your name Pilot#2:"
  keys Bob Enter
  use "$1"
  wait_for_text "Bob: Shields(100) HP(3) Weaptype(1)"
  row=$(ship_row right)
  use "$2"
  keys e
  use "$1"
  until_true "pilot 2's e did not move the right ship" ship_on_row right $((row - 1))
}

began=$(date +%s%N)

# --- No terminal, a command asked for -----------------------------------------------
scenario=no-terminal
ssh -T "${ssh_options[@]}" "$user@127.0.0.1" </dev/null >"$work/no-terminal.out" 2>&1
status=$?
[ $status = 1 ] || fail "without a terminal the session ended with status $status"
[ "$(cat "$work/no-terminal.out")" = \
  "skyrazor-ssh-join: the game needs a terminal: connect with ssh -t" ] ||
  fail "without a terminal the player was told: $(cat "$work/no-terminal.out")"

start_game host --host "127.0.0.1:$game_port" --code SSHCODE
host=$pid
wait_for_text "To join: skyrazor --join 127.0.0.1:$game_port --code SSHCODE"

start_ssh command -t "${ssh_options[@]}" "$user@127.0.0.1" ls /
prompt="Join code for 127.0.0.1:$game_port:"
wait_for_text "$prompt"
text_on_screen proc && fail "the command asked for was run"
for try in 1 2 3; do
  asked_again() { [ "$(screen_text | grep -c -F -- "$prompt")" -gt "$try" ]; }
  keys WRONG$try Enter
  [ $try = 3 ] || until_true "a wrong code was not asked again" asked_again
done
wait_for_file "$dir/status" || fail "the session did not end"
wait_for_text "skyrazor: the host refused: Wrong join code"
[ "$(cat "$dir/status")" = 1 ] || fail "wrong codes ended the session with status $(cat "$dir/status")"
text_on_screen proc && fail "the command asked for was run"

# --- Pilot 2 over ssh ------------------------------------------------------------
start_ssh pilot -t "${ssh_options[@]}" "$user@127.0.0.1"
wait_for_text "$prompt"
keys sshcode Enter
wait_for_text "Pilot 2 at 127.0.0.1:$game_port - round trip"
use host
wait_for_text "Pilot 2 at 127.0.0.1"
pilot_two_flies host pilot
same_pictures "$host" host pilot
keys C-c
wait_for_file "$dir/status" || fail "the host did not end"

use pilot
wait_for_file "$dir/status" || fail "the ssh session did not end"
until_true "the ssh pane did not end with the host's goodbye" ends_with_goodbye ||
  sed 's/^/    | /' "$dir/last_words"
cmp -s "$dir/before" "$dir/after" || fail "ssh left the terminal's settings changed"

# --- A server of rooms over ssh ------------------------------------------------------
scenario=server
"$binary" --serve "127.0.0.1:$server_port" --ssh-socket "$work/ssh.sock" --max-per-address 1 \
  2>"$work/server.log" &
server_pid=$!
wait_for_file "$work/server.log" || fail "the server did not start"
room_options=(-p "$ssh_port" -i "$work/rooms_key" "${ssh_options[@]:4}")

# Straight into the server's lobby, where r asks for a room's name.
start_ssh room-host -t "${room_options[@]}" "$user@127.0.0.1"
wait_for_text "p private room"
keys r "no such;room" Enter
wait_for_text "A room's name is 1 to 32 letters, digits, '-' or '_'."
keys p
wait_for_text " - you host, no pilot 2 yet - round trip"
room=$(status_row | sed -n 's/^Room \([A-Za-z0-9_-]*\) - .*/\1/p')
[ -n "$room" ] || fail "the new room's name was not shown: $(status_row)"

start_ssh room-pilot -t -b 127.0.0.2 "${room_options[@]}" "$user@127.0.0.1"
wait_for_text "p private room"
keys r "$room" Enter
wait_for_text "Room $room - pilot 2 - round trip"
pilot_two_flies room-host room-pilot
grep -q "room $room: 127.0.0.2 (ssh) joined as pilot 2" "$work/server.log" ||
  fail "the server did not log pilot 2's joining from its own address"

# A mistyped room is told in the lobby, which stays until the player leaves.
start_ssh room-typo -t -b 127.0.0.3 "${room_options[@]}" "$user@127.0.0.1"
wait_for_text "p private room"
keys r "${room}x" Enter
wait_for_text "The server refused: There is no room ${room}x"
keys C-d
wait_for_file "$dir/status" || fail "the session with a mistyped room did not end"
[ "$(cat "$dir/status")" = 0 ] || fail "leaving the lobby ended with status $(cat "$dir/status")"

kill -TERM "$server_pid"
wait "$server_pid"
status=$?
server_pid=
[ $status = 0 ] || fail "the server stopped with status $status"
for pane in room-host room-pilot; do
  use "$pane"
  wait_for_file "$dir/status" || fail "the ssh session did not end"
  until_true "the ssh pane did not end with the server's goodbye" \
    ends_with_goodbye "the server has stopped" || sed 's/^/    | /' "$dir/last_words"
done

echo "ran for $(elapsed_ms "$began") ms"
if [ $failures -ne 0 ]; then
  echo "$failures failure(s); sshd said:"
  sed 's/^/    | /' "$work/sshd.log"
  exit 1
fi
echo "the game over ssh passed"
