#!/usr/bin/env bash
# Installs the Debian packages the game needs to build and test, when any is missing.
# With "windows": also what the Windows build needs (MinGW-w64, GoogleTest's
# source, and Wine to run the tests). With "fuzz": clang and its runtime
# libraries (libFuzzer and the sanitizers) for the fuzz targets. With "deb":
# the tools that build, check and try out the Debian package (dpkg-buildpackage,
# debhelper, lintian, appstreamcli, man, and fakeroot for a build user that is
# not root).
set -euo pipefail
packages=(cmake g++ make pkg-config libncurses-dev libasio-dev libgtest-dev libgmock-dev libbenchmark-dev tmux
  openssh-server openssh-client)
if [ "${1:-}" = windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64)
fi
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi
if [ "${1:-}" = deb ]; then
  packages+=(build-essential dpkg-dev debhelper lintian appstream man-db fakeroot)
fi
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing missing build dependencies: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
