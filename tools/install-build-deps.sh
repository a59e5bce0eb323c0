#!/usr/bin/env bash
# Installs the Debian packages one make target needs, when any is missing, and
# nothing more: playing a game never installs the test tools.
#   run      building and playing: cmake, g++, make, pkg-config, ncurses, Boost
#   test     also GoogleTest, tmux, OpenSSH's client and server, Chromium
#            with its driver and Selenium for the browser tests, and nginx,
#            openssl and curl for the test behind a TLS reverse proxy, and
#            Prometheus's Python client for the service test's metrics
#   bench    also Google Benchmark, and pyte to read the duel figures'
#            terminals
#   windows  also MinGW-w64, GoogleTest's source, Wine to run the tests, and
#            tmux to play them in a pane
#   fuzz     also clang and its runtime libraries (libFuzzer, the sanitizers)
#   deb      also what builds, checks and tries out the Debian package
#            (dpkg-buildpackage, debhelper, lintian, appstreamcli, man, and
#            fakeroot for a build user that is not root)
# It says in one line what it installs (apt-get's own output goes to
# build/install-deps.log, shown when it fails), through sudo when not root; a
# user without sudo is told in one line what to run as root.
# The tests want OpenSSH's server only for its sshd program, and nginx only for
# its program, which the ssh and nginx tests start on loopback themselves: they
# are installed with services forbidden to start (policy-rc.d), and their
# services are disabled afterwards, so that no sshd comes up on port 22 and no
# nginx on port 80, now or at the next boot.
set -euo pipefail
target=${1:-run}
packages=(cmake g++ make pkg-config libncurses-dev libboost-dev libsystemd-dev)
purpose="building and playing"
case $target in
  run) ;;
  test)
    packages+=(libgtest-dev libgmock-dev tmux openssh-client openssh-server chromium
      chromium-driver python3-selenium nginx openssl curl python3-prometheus-client)
    purpose="the tests"
    ;;
  bench)
    packages+=(libbenchmark-dev python3-pyte)
    purpose="the benchmarks"
    ;;
  windows)
    packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64 tmux)
    purpose="the Windows build and its tests"
    ;;
  fuzz)
    packages+=(clang libclang-rt-14-dev)
    purpose="the fuzz targets"
    ;;
  deb)
    packages+=(build-essential dpkg-dev debhelper lintian appstream man-db fakeroot)
    purpose="the Debian package"
    ;;
  *)
    echo "usage: $0 [run|test|bench|windows|fuzz|deb]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

# update-rc.d and friends live in sbin, which a plain `su` may leave off PATH.
export PATH="$PATH:/usr/sbin:/sbin"
source_dir=$(cd "$(dirname "$0")/.." && pwd)
with_server=false
with_ssh=false
with_nginx=false
note=""
for package in "${missing[@]}"; do
  case $package in
    openssh-server) with_server=true with_ssh=true ;;
    nginx) with_server=true with_nginx=true ;;
  esac
done
if $with_ssh && $with_nginx; then
  note=" (OpenSSH's server and nginx for their programs only: their services are neither started nor enabled)"
elif $with_ssh; then
  note=" (OpenSSH's server for its sshd program only: its service is neither started nor enabled)"
elif $with_nginx; then
  note=" (nginx for its program only: its service is neither started nor enabled)"
fi
apt_command="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  if $with_server; then
    echo "make $target needs ${missing[*]}, and sudo is not here: as root, run" \
      "$source_dir/tools/install-build-deps.sh $target (apt-get alone would start the servers it installs)"
  else
    echo "make $target needs ${missing[*]}, and sudo is not here: as root, run $apt_command"
  fi
  exit 1
fi

mkdir -p "$source_dir/build"
log="$source_dir/build/install-deps.log"
: >"$log"
echo "Installing what $purpose need: ${missing[*]}$note"

# While apt-get runs, a policy-rc.d that refuses every start (101) stands in
# for any the machine has, which is put back afterwards.
policy=${SKYRAZOR_POLICY_RC_D:-/usr/sbin/policy-rc.d}
kept_policy="$policy.skyrazor-kept"
put_policy_back() {
  "${as_root[@]}" rm -f "$policy"
  if [ -e "$kept_policy" ]; then
    "${as_root[@]}" mv "$kept_policy" "$policy"
  fi
}
if $with_server; then
  # A kept policy left by an interrupted run is the machine's own: keep it.
  if [ -e "$policy" ] && [ ! -e "$kept_policy" ]; then
    "${as_root[@]}" mv "$policy" "$kept_policy"
  fi
  trap put_policy_back EXIT
  printf '#!/bin/sh\n# Skyrazor is installing its build dependencies: no service starts.\nexit 101\n' |
    "${as_root[@]}" tee "$policy" >/dev/null
  "${as_root[@]}" chmod 755 "$policy"
fi

installed=true
"${as_root[@]}" apt-get update -qq >>"$log" 2>&1 &&
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >>"$log" 2>&1 || installed=false
if $with_ssh; then
  # Disables the sysvinit links and systemd's ssh.service alike (even after a
  # failure half-way, when the server may be in); Ubuntu listens through
  # ssh.socket instead.
  "${as_root[@]}" update-rc.d ssh disable >>"$log" 2>&1 || true
  "${as_root[@]}" deb-systemd-helper disable ssh.socket >>"$log" 2>&1 || true
fi
if $with_nginx; then
  # The same for nginx's links and nginx.service.
  "${as_root[@]}" update-rc.d nginx disable >>"$log" 2>&1 || true
fi
if ! $installed; then
  tail -n 20 "$log"
  echo "Installing failed; apt-get's whole output is $log"
  exit 1
fi
