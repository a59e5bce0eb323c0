#!/bin/bash
# The open ssh door: tools/skyrazor-server-ssh-setup makes a throwaway
# account and its drop-in for a loopback sshd of this test's own (PAM on, the
# global settings as permissive as Debian's), in front of a server of rooms
# run under a throwaway group whose ssh socket the account reaches through
# --group:
#   - bad options are refused with status 2; a second run changes nothing;
#     a setting the main configuration overrules is told;
#   - `ssh -t` with no key, no password and no typing (BatchMode) lands in the
#     lobby, a command asked for is not run, Ctrl-D leaves with status 0;
#     without a terminal the forced command says so;
#   - stdio and remote forwarding are refused; another account with an empty
#     password is refused by sshd, and su into the door's account from
#     another user gets no shell, not even with -s;
#   - --remove takes the account, its shell and the drop-in away, and a
#     second --remove changes nothing.
# Usage: ssh_door_test.sh PATH/TO/skyrazor. Exits 77 (skipped) unless root,
# or without tmux or OpenSSH's server and client.

set -u

binary=${1:?usage: ssh_door_test.sh PATH/TO/skyrazor}
case $binary in /*) ;; *) binary=$(pwd)/$binary ;; esac
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
setup=$tools/skyrazor-server-ssh-setup
sshd=/usr/sbin/sshd
if [ "$(id -u)" != 0 ]; then
  echo "the open ssh door makes a real account: skipping its test when not root"
  exit 77
fi
for program in "$sshd" ssh ssh-keygen useradd setpriv runuser; do
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "$program is not installed: skipping the open ssh door test"
    exit 77
  fi
done

. "$(dirname "$0")/../support/tmux_harness.sh"
tmux_harness skyrazor-ssh-door "the open ssh door test"
export LC_ALL=C.UTF-8
keep_panes=1
ssh_port=$((5700 + $$ % 24 * 2))
server_port=$((ssh_port + 1))
# Throwaway names, short enough for any account name: the door's, another
# account's with an empty password, the server's group.
door=skyd$$
other=skyo$$
group=skyg$$
made_accounts=
made_group=

stop_all() {
  tmux_ kill-server >/dev/null 2>&1
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "${sshd_pid:-}" ] && kill "$sshd_pid" 2>/dev/null && wait "$sshd_pid" 2>/dev/null
  for account in $made_accounts; do
    getent passwd "$account" >/dev/null && userdel -f "$account" 2>/dev/null
  done
  [ -n "$made_group" ] && getent group "$group" >/dev/null && groupdel "$group"
  tmux_harness_cleanup
}
trap stop_all EXIT

# A run killed outright (ctest's timeout) could not clean up: its door's
# shell is in a scratch folder of this test's, and its accounts and group
# carry the process id of a run no longer there.
getent passwd | while IFS=: read -r name _ _ _ _ _ login_shell; do
  case $name:$login_shell in
    skyd*:"${TMPDIR:-/tmp}"/skyrazor-ssh-door.*/door-shell) ;;
    *) continue ;;
  esac
  stale=${name#skyd}
  [ "$stale" != $$ ] && kill -0 "$stale" 2>/dev/null && continue
  echo "removing what a killed run left: $name"
  stale_work=$(dirname "$login_shell")
  for pid_file in "$stale_work/sshd.pid" "$stale_work/server.pid"; do
    stale_pid=$(cat "$pid_file" 2>/dev/null) || continue
    tr '\0' ' ' <"/proc/$stale_pid/cmdline" 2>/dev/null | grep -q -F "$stale_work/" && kill "$stale_pid"
  done
  tmux -L "skyrazor-ssh-door-$stale" kill-server >/dev/null 2>&1
  [ "$(getent group "skyg$stale" | cut -d: -f4)" = "$name" ] && stale_group=1 || stale_group=
  userdel -f "$name"
  [ -n "$stale_group" ] && groupdel "skyg$stale"
  getent passwd "skyo$stale" | grep -q ":Skyrazor ssh door test:" && userdel -f "skyo$stale"
  rm -rf "$stale_work"
done

for name in "$door" "$other"; do
  getent passwd "$name" >/dev/null && {
    echo "an account $name is there already: not touching it"
    exit 1
  }
done
getent group "$group" >/dev/null && {
  echo "a group $group is there already: not touching it"
  exit 1
}

# The door's account runs its login shell from here and reaches the server's
# socket here.
chmod 755 "$work"
shell=$work/door-shell
drop_in=$work/door.conf
setup_options=(--user "$door" --socket "$work/ssh.sock" --group "$group" --join "$tools/skyrazor-ssh-join"
  --game "$binary" --shell "$shell" --sshd-config "$drop_in" --main-config "$work/sshd_config")
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key" || exit 1
mkdir -p /run/sshd
# As Debian's: drop-ins first, PAM on, password logins, forwarding and X11
# allowed for everyone else; only the door's Match block shuts them.
cat >"$work/sshd_config" <<CONFIG
Include $drop_in
ListenAddress 127.0.0.1
HostKey $work/host_key
PidFile $work/sshd.pid
AllowUsers $door $other
PermitRootLogin no
UsePAM yes
KbdInteractiveAuthentication no
PasswordAuthentication yes
AllowTcpForwarding yes
X11Forwarding yes
PrintMotd no
PrintLastLog no
CONFIG

began=$(date +%s%N)

# --- Setting the door up --------------------------------------------------------
scenario=setup
for bad in "--port 70000" "--port 5151 --socket $work/ssh.sock" "--user Play" "--socket relative.sock" \
  "--frobnicate"; do
  # shellcheck disable=SC2086 # each a few words of options
  "$setup" $bad >"$work/bad.out" 2>&1
  status=$?
  [ $status = 2 ] || fail "'$bad' ended with status $status, not 2"
  grep -q '^usage: ' "$work/bad.out" || fail "'$bad' did not show the usage"
done
getent passwd "$door" >/dev/null && fail "bad options made the account"

groupadd "$group" && made_group=1
made_accounts=$door
"$setup" "${setup_options[@]}" >"$work/setup.out" 2>&1 || fail "the setup failed: $(cat "$work/setup.out")"
grep -q '^Next: reload sshd' "$work/setup.out" || fail "the setup did not say what next: $(cat "$work/setup.out")"
grep -q -e warning -e note "$work/setup.out" && fail "the setup warned: $(cat "$work/setup.out")"
[ "$(getent shadow "$door" | cut -d: -f2)" = "" ] || fail "the door's password is not empty"
[ "$(getent passwd "$door" | cut -d: -f7)" = "$shell" ] || fail "the door's shell is not $shell"
id -nG "$door" | grep -qw "$group" || fail "the door's account is not in $group"
snapshot() { cat "$drop_in" "$shell"; getent passwd "$door"; getent shadow "$door"; id -G "$door"; }
snapshot >"$work/first"
"$setup" "${setup_options[@]}" >"$work/again.out" 2>&1 || fail "the second setup failed: $(cat "$work/again.out")"
[ "$(cat "$work/again.out")" = "Nothing to change: the door of $door is as asked." ] ||
  fail "the second setup said: $(cat "$work/again.out")"
snapshot | cmp -s - "$work/first" || fail "the second setup changed something"
# A later line of the main configuration overrules the drop-in's MaxStartups.
{
  cat "$work/sshd_config"
  echo "MaxStartups 10:30:100"
} >"$work/overruled_config"
"$setup" "${setup_options[@]}" --main-config "$work/overruled_config" >"$work/overruled.out" 2>&1
grep -q "warning: sshd does not take these from $drop_in for $door: MaxStartups$" "$work/overruled.out" ||
  fail "an overruled MaxStartups was not told: $(cat "$work/overruled.out")"

if useradd --system --no-create-home --home-dir / --shell /usr/sbin/nologin \
  --comment "Skyrazor ssh door test" "$other"; then
  made_accounts="$door $other"
  passwd -q -d "$other" || fail "the other account's password was not emptied"
else
  fail "the other account was not made"
fi

# --- The server and sshd ------------------------------------------------------------
scenario=sshd
# Run under the throwaway group, whose members alone reach its socket.
setpriv --regid "$group" --clear-groups "$binary" --serve "127.0.0.1:$server_port" \
  --ssh-socket "$work/ssh.sock" 2>"$work/server.log" &
server_pid=$!
echo "$server_pid" >"$work/server.pid"
"$sshd" -D -e -f "$work/sshd_config" -p "$ssh_port" 2>"$work/sshd.log" &
sshd_pid=$!
wait_for_file "$work/sshd.pid" || fail "sshd did not start: $(cat "$work/sshd.log")"
wait_for_file "$work/server.log" || fail "the server did not start"

# No key, and BatchMode: nothing is ever typed or prompted for.
ssh_options=(-F /dev/null -p "$ssh_port" -o "UserKnownHostsFile=$work/known"
  -o StrictHostKeyChecking=accept-new -o BatchMode=yes -o PubkeyAuthentication=no -o LogLevel=ERROR)

# start_ssh NAME ARGS...: a pane, as start_game's, running ssh with ARGS.
start_ssh() {
  game=$binary
  binary=$(command -v ssh)
  rm -f "$work/game-wrapper"
  start_game "$@"
  rm -f "$work/game-wrapper"
  binary=$game
}

# --- Straight into the lobby -------------------------------------------------------
scenario=lobby
start_ssh lobby -t "${ssh_options[@]}" "$door@127.0.0.1" ls /
wait_for_text "SKYRAZOR  Rooms"
wait_for_text "p private room"
text_on_screen proc && fail "the command asked for was run"
grep -q "Accepted none for $door from 127.0.0.1" "$work/sshd.log" ||
  fail "sshd did not take the door's empty password with the none method"
grep -q "lobby: 127.0.0.1 (ssh) came in" "$work/server.log" ||
  fail "the server did not meet the player through its ssh socket"
keys C-d
wait_for_file "$dir/status" || fail "leaving the lobby did not end the session"
[ "$(cat "$dir/status" 2>/dev/null)" = 0 ] || fail "leaving the lobby ended with status $(cat "$dir/status")"

scenario=no-terminal
ssh -T "${ssh_options[@]}" "$door@127.0.0.1" ls / </dev/null >"$work/no-terminal.out" 2>&1
status=$?
[ $status = 1 ] || fail "without a terminal the session ended with status $status"
[ "$(cat "$work/no-terminal.out")" = \
  "skyrazor-ssh-join: the game needs a terminal: connect with ssh -t" ] ||
  fail "without a terminal the player was told: $(cat "$work/no-terminal.out")"

# --- Nothing else -------------------------------------------------------------------
scenario=forwarding
timeout 20 ssh "${ssh_options[@]}" -W "127.0.0.1:$server_port" "$door@127.0.0.1" </dev/null \
  >"$work/stdio.out" 2>&1
status=$?
[ $status = 255 ] && grep -q "refused local port forward: .* target 127.0.0.1 port $server_port" "$work/sshd.log" ||
  fail "a forwarding to the server's port was not refused (status $status): $(cat "$work/stdio.out")"
timeout 20 ssh "${ssh_options[@]}" -N -o ExitOnForwardFailure=yes \
  -R "127.0.0.1:$((server_port + 50)):127.0.0.1:$server_port" "$door@127.0.0.1" </dev/null \
  >"$work/remote.out" 2>&1
status=$?
[ $status = 255 ] && grep -q "remote port forwarding failed" "$work/remote.out" ||
  fail "a remote forwarding was not refused (status $status): $(cat "$work/remote.out")"

scenario=others
timeout 20 ssh "${ssh_options[@]}" "$other@127.0.0.1" true </dev/null >"$work/other.out" 2>&1
status=$?
[ $status = 255 ] && grep -q "Permission denied" "$work/other.out" ||
  fail "another account with an empty password was let in (status $status): $(cat "$work/other.out")"
# su takes the empty password through PAM, as login would; the shell refuses.
runuser -u nobody -- su -s /bin/sh "$door" -c id </dev/null >"$work/su.out" 2>&1 &&
  fail "su into the door's account succeeded"
grep -q "uid=" "$work/su.out" && fail "su into the door's account ran a command: $(cat "$work/su.out")"
grep -q "This account only opens Skyrazor's lobby" "$work/su.out" ||
  fail "su into the door's account was told: $(cat "$work/su.out")"

# --- Taking the door away ---------------------------------------------------------
scenario=remove
kill "$sshd_pid" && wait "$sshd_pid" 2>/dev/null
sshd_pid=
"$setup" "${setup_options[@]}" --remove >"$work/remove.out" 2>&1 ||
  fail "--remove failed: $(cat "$work/remove.out")"
getent passwd "$door" >/dev/null && fail "--remove left the account"
[ -e "$shell" ] && fail "--remove left the shell"
[ -e "$drop_in" ] && fail "--remove left the drop-in"
"$setup" "${setup_options[@]}" --remove >"$work/remove.out" 2>&1 ||
  fail "a second --remove failed: $(cat "$work/remove.out")"
grep -q '^Nothing to change' "$work/remove.out" || fail "a second --remove said: $(cat "$work/remove.out")"

echo "ran for $(elapsed_ms "$began") ms"
if [ $failures -ne 0 ]; then
  echo "$failures failure(s); sshd said:"
  sed 's/^/    | /' "$work/sshd.log"
  echo "the server said:"
  sed 's/^/    | /' "$work/server.log"
  exit 1
fi
echo "the open ssh door passed"
