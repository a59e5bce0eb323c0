#!/bin/sh
# Checks skyrazor-server's systemd units as they stand in debian/, without a
# package build: `systemd-analyze verify` finds nothing to say about the
# socket and the service (their ExecStart pointed at this build's game, since
# the packaged /usr/games/skyrazor need not exist here; Documentation='s
# manual page looked up in this build's doc/ when man is there), and the
# service's offline `systemd-analyze security` exposure is 1.5 or less.
# Skipped (77) without systemd-analyze.
# Usage: service_units_test.sh GAME SOURCE_DIR BUILD_DIR

set -u
game=${1:?usage: service_units_test.sh GAME SOURCE_DIR BUILD_DIR}
source=${2:?usage: service_units_test.sh GAME SOURCE_DIR BUILD_DIR}
build=${3:?usage: service_units_test.sh GAME SOURCE_DIR BUILD_DIR}
command -v systemd-analyze >/dev/null 2>&1 || { echo "SKIP: no systemd-analyze"; exit 77; }
# ExecStart= takes only a path from the root.
case $game in /*) ;; *) game="$(pwd)/$game" ;; esac

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
work=$(mktemp -d "${TMPDIR:-/tmp}/skyrazor-units.XXXXXX")
trap 'rm -rf "$work"' EXIT

units="$work/units"
mkdir -p "$units"
cp "$source/debian/skyrazor-server.socket" "$units/"
cp "$source/debian/skyrazor-server.skyrazor-server-ssh.socket" "$units/skyrazor-server-ssh.socket"
sed "s|^ExecStart=/usr/games/skyrazor |ExecStart=$game |" \
  "$source/debian/skyrazor-server.service" >"$units/skyrazor-server.service"
grep -q "^ExecStart=$game --serve \$SKYRAZOR_SERVER_OPTIONS\$" "$units/skyrazor-server.service" ||
  fail "the service does not start /usr/games/skyrazor --serve \$SKYRAZOR_SERVER_OPTIONS"

if command -v man >/dev/null 2>&1; then
  mkdir -p "$work/man/man6"
  mkdir -p "$work/man/man8"
  cp "$build/doc/skyrazor.6" "$work/man/man6/"
  cp "$source/debian/skyrazor-server-ssh-setup.8" "$work/man/man8/"
  manual="--man=yes"
else
  manual="--man=no"
fi
said=$(cd "$units" && MANPATH="$work/man" systemd-analyze verify "$manual" \
  skyrazor-server.socket skyrazor-server-ssh.socket skyrazor-server.service 2>&1) ||
  fail "systemd-analyze verify failed"
[ -z "$said" ] || fail "systemd-analyze verify: $said"

# --threshold counts in tenths of the exposure it prints.
security=$(systemd-analyze security --offline=true --threshold=15 \
  "$source/debian/skyrazor-server.service" 2>&1) ||
  fail "the service's exposure is above 1.5: $(echo "$security" | grep -v '✓')"
echo "$security" | grep 'Overall exposure level'

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "the server's units verify and the service's exposure is 1.5 or less"
