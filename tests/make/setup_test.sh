#!/bin/sh
# What a newcomer meets from `make run` and `make test`, with nothing
# installed and nothing built: a copy of the Makefile and tools/ runs against
# fake apt-get, dpkg-query, id, sudo, update-rc.d, deb-systemd-helper, cmake
# and game.
# - `make run`'s install is only what building and playing need, told in one
#   line; `make test`'s keeps every service from starting while apt-get runs
#   (a policy-rc.d answering 101, the machine's own put back after) and
#   disables OpenSSH's server and nginx after it; with everything there,
#   nothing runs.
# - Not root and without sudo: one line naming what to run as root, failing.
# - The build says one line, its chatter kept in build/release/build.log; a
#   failing build shows its error and names the log.
# - The game's Ctrl-C status ends `make run` normally, a real failure fails;
#   in a tmux pane, Ctrl-C at the game ends `make run` with status 0 and no
#   error from make.
# - The README says what a fresh machine needs before `make run`.
# Exits 77 (skipped) after the rest where tmux is missing.
# Usage: setup_test.sh SOURCE_DIR

set -u
source=${1:?usage: setup_test.sh SOURCE_DIR}
make=$(command -v make) || { echo "FAIL: no make"; exit 1; }
unset MAKEFLAGS MFLAGS MAKELEVEL

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/skyrazor-setup.XXXXXX")
socket="skyrazor-setup-$$"
trap 'tmux -L "$socket" kill-server >/dev/null 2>&1; rm -rf "$work"' EXIT
src="$work/src"
mkdir -p "$src/tools" "$work/bin" "$work/sudo"
cp "$source/Makefile" "$src/"
cp "$source/tools/install-build-deps.sh" "$source/tools/quiet-build" "$src/tools/"

# The fakes; what they are asked is logged in $work/calls.
fake() {
  printf '#!/bin/sh\n%s\n' "$2" >"$1"
  chmod +x "$1"
}
fake "$work/bin/dpkg-query" '[ -n "${INSTALLED:-}" ] && printf "install ok installed"; exit 0'
fake "$work/bin/id" 'echo "${FAKE_UID:-0}"'
fake "$work/bin/apt-get" "echo \"apt-get \$*\" >>'$work/calls'
case \$* in *install*)
  [ -x '$work/policy-rc.d' ] && sh '$work/policy-rc.d' ssh start
  echo \"policy says \$? while DEBIAN_FRONTEND=\$DEBIAN_FRONTEND\" >>'$work/calls' ;;
esac"
fake "$work/bin/update-rc.d" "echo \"update-rc.d \$*\" >>'$work/calls'"
fake "$work/bin/deb-systemd-helper" "echo \"deb-systemd-helper \$*\" >>'$work/calls'"
fake "$work/sudo/sudo" "echo sudo >>'$work/calls'; exec \"\$@\""
# Only these real tools are on the install's PATH, so that no real sudo is.
for tool in bash sh env grep mkdir tail tee chmod rm mv cat dirname; do
  ln -s "$(command -v "$tool")" "$work/bin/$tool"
done

# install TARGET: the install step alone, as a user of FAKE_UID; its output in
# $work/out, its status in $status.
install() {
  : >"$work/calls"
  PATH="$fake_path" SKYRAZOR_POLICY_RC_D="$work/policy-rc.d" "$src/tools/install-build-deps.sh" "$1" \
    >"$work/out" 2>&1
  status=$?
}
installed_list() { sed -n 's/^apt-get install -y -qq --no-install-recommends //p' "$work/calls"; }
one_line() { [ "$(wc -l <"$work/out")" -eq 1 ] || fail "$1 says more than one line: $(cat "$work/out")"; }

fake_path="$work/bin"
FAKE_UID=0 install run
list=$(installed_list)
[ $status -eq 0 ] && [ "$list" = "cmake g++ make pkg-config libncurses-dev libboost-dev libsystemd-dev" ] ||
  fail "make run's install ($status) is '$list', not just what building and playing need"
one_line "make run's install"
grep -q "cmake g++ make" "$work/out" || fail "make run's install does not name its packages: $(cat "$work/out")"
grep -q "^policy says" "$work/calls" || fail "make run's install did not run"
grep -q "policy says 101" "$work/calls" && fail "make run's install holds services back, with no server in it"

fake "$work/policy-rc.d" "# the machine's own"
cp "$work/policy-rc.d" "$work/own-policy"
fake_path="$work/sudo:$work/bin"
FAKE_UID=1000 install test
for package in libgtest-dev tmux openssh-server nginx python3-prometheus-client; do
  installed_list | grep -qw "$package" || fail "make test does not install $package: $(installed_list)"
done
grep -q "^sudo" "$work/calls" || fail "make test's install as a user does not go through sudo"
grep -qx "policy says 101 while DEBIAN_FRONTEND=noninteractive" "$work/calls" ||
  fail "apt-get installs OpenSSH's server with services free to start: $(cat "$work/calls")"
cmp -s "$work/policy-rc.d" "$work/own-policy" || fail "the machine's own policy-rc.d is not put back"
sed -n '/^policy says/,$p' "$work/calls" | grep -qx "update-rc.d ssh disable" ||
  fail "OpenSSH's server is left enabled: $(cat "$work/calls")"
sed -n '/^policy says/,$p' "$work/calls" | grep -qx "update-rc.d nginx disable" ||
  fail "nginx is left enabled: $(cat "$work/calls")"
one_line "make test's install"
grep -q "openssh-server" "$work/out" || fail "make test's install does not say what it installs: $(cat "$work/out")"

INSTALLED=1 install test
[ $status -eq 0 ] && [ ! -s "$work/out" ] && [ ! -s "$work/calls" ] ||
  fail "with everything there, the install ($status) says '$(cat "$work/out")' and calls '$(cat "$work/calls")'"

fake_path="$work/bin"
FAKE_UID=1000 install run
[ $status -ne 0 ] || fail "without sudo, the install ends well"
one_line "without sudo, the install"
grep -q "as root, run apt-get update && apt-get install -y --no-install-recommends cmake g++ make" "$work/out" ||
  fail "without sudo, the install does not say what to run as root: $(cat "$work/out")"
[ -s "$work/calls" ] && fail "without sudo, the install called $(cat "$work/calls")"

# The README takes a fresh machine to the folder before `make run`.
sed -n '/^## Set up and play/,/make run/p' "$source/README.md" >"$work/setup"
grep -q "apt install git make" "$work/setup" && grep -q "git clone" "$work/setup" ||
  fail "the README does not say what a fresh machine needs before make run"

# The build, with a cmake that talks as much as the real one.
fake "$work/bin/cmake" 'case $* in
  --build*) i=1; while [ $i -le 30 ]; do echo "[ $((i * 3))%] Building CXX object part$i.cpp.o"; i=$((i + 1)); done
    [ -n "${BROKEN:-}" ] && { echo "part31.cpp:1: error: the hull is missing"; exit 1; } ;;
  *) i=1; while [ $i -le 15 ]; do echo "-- Looking for thing $i"; i=$((i + 1)); done ;;
esac; exit 0'
PATH="$work/bin:$PATH" "$make" --no-print-directory -C "$src" -o deps build >"$work/out" 2>&1
status=$?
[ $status -eq 0 ] || fail "the build fails ($status): $(cat "$work/out")"
one_line "the build"
grep -q "Building CXX object part30" "$src/build/release/build.log" || fail "the build's log lacks its chatter"
BROKEN=1 PATH="$work/bin:$PATH" "$make" --no-print-directory -C "$src" -o deps build >"$work/out" 2>&1
status=$?
[ $status -ne 0 ] && grep -q "error: the hull is missing" "$work/out" && grep -q "build/release/build.log" "$work/out" ||
  fail "a failing build ($status) does not show its error and log: $(cat "$work/out")"

# The game: Ctrl-C (130) is its normal way out.
mkdir -p "$src/build/release"
fake "$src/build/release/skyrazor" 'echo "game on"; exit "${ENDING:-0}"'
for ending in 0 130 1; do
  ENDING=$ending "$make" --no-print-directory -C "$src" -o build run >"$work/out" 2>&1
  status=$?
  case $ending in
    1) [ $status -ne 0 ] || fail "make run ends well when the game fails" ;;
    *) [ $status -eq 0 ] && ! grep -q Error "$work/out" ||
      fail "make run fails ($status) when the game ends with $ending: $(cat "$work/out")" ;;
  esac
done

if ! command -v tmux >/dev/null 2>&1; then
  echo "tmux is not installed: skipping Ctrl-C at the game in a pane ($failures failure(s) before)"
  [ $failures -eq 0 ] && exit 77
  exit 1
fi
# Ctrl-C reaches the whole foreground job: the game, and make unless the game
# is a job of its own.
fake "$src/build/release/skyrazor" 'trap "exit 130" INT; echo "game on"; sleep 30'
unset TMUX
tmux -L "$socket" -f /dev/null new-session -d -x 80 -y 12 "env PS1='$ ' bash --norc --noprofile -i" ||
  fail "tmux does not start"
tmux -L "$socket" send-keys "$make --no-print-directory -C '$src' -o build run; echo \"make ended: \$?\"" Enter
pane() { tmux -L "$socket" capture-pane -p; }
tries=0
until pane | grep -q "^game on"; do
  tries=$((tries + 1))
  [ $tries -gt 100 ] && { fail "the game does not start under make run: $(pane)"; break; }
  sleep 0.1
done
tmux -L "$socket" send-keys C-c
tries=0
# The typed line says "make ended: $?" too; only the echo's number ends the wait.
until pane | grep -q "make ended: [0-9]\|Error"; do
  tries=$((tries + 1))
  [ $tries -gt 50 ] && break
  sleep 0.1
done
pane | grep -q "make ended: 0$" && ! pane | grep -q Error ||
  fail "Ctrl-C at the game does not end make run normally: $(pane)"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "make run installs, builds and plays as a newcomer expects"
