#!/bin/sh
# Checks the Debian packages that `make deb` built into DEB_DIR: their version
# is the project's, lintian has nothing to say about them, and installed with
# dpkg into a throwaway root (not this machine's) skyrazor holds the game in
# /usr/games, which prints its version, the ssh account's forced command, a
# manual page that man renders, the desktop entry and valid AppStream
# metainfo; skyrazor-server holds the server's units, its settings and the ssh
# door's setup script, and its maintainer scripts enable the socket but not
# the service and never run the setup script; purged, they leave nothing but
# dpkg's own files.
# Usage: deb_test.sh DEB_DIR SOURCE_DIR

set -u
deb_dir=${1:?usage: deb_test.sh DEB_DIR SOURCE_DIR}
source=${2:?usage: deb_test.sh DEB_DIR SOURCE_DIR}
# dpkg looks for ldconfig and friends on the PATH.
PATH=$PATH:/usr/sbin:/sbin
export PATH

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
finish() {
  if [ $failures -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
  fi
  echo "the packages are lintian clean, install, play their version, read, enable the socket alone and purge"
  exit 0
}

version=$(sed -n 's/^project(skyrazor VERSION \([0-9][0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
deb="$deb_dir/skyrazor_${version}_$(dpkg --print-architecture).deb"
server_deb="$deb_dir/skyrazor-server_${version}_all.deb"
for package in "$deb" "$server_deb"; do
  [ -f "$package" ] || { fail "no package $package (make deb)"; finish; }
  [ "$(dpkg-deb -f "$package" Version)" = "$version" ] || fail "$package's version is not $version"
done
tags=$(lintian "$deb" "$server_deb" 2>&1 | grep -v '^running with root privileges is not recommended!$')
[ -z "$tags" ] || fail "lintian: $tags"

# As root dpkg installs into the throwaway root directly, otherwise under
# fakeroot. The root has no shell of its own, so skyrazor-server's maintainer
# scripts run outside it (chrootless) with DPKG_ROOT naming it, as
# deb-systemd-helper understands; systemctl and deb-systemd-invoke are
# stand-ins that only log, so that this machine's systemd is never touched.
work=$(mktemp -d "${TMPDIR:-/tmp}/skyrazor-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
for tool in systemctl deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$tool" "$work/systemd.log" >"$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done
dpkg_root() {
  if [ "$(id -u)" -eq 0 ]; then
    PATH="$work/bin:$PATH" dpkg --root="$root" --force-script-chrootless --log="$work/dpkg.log" "$@"
  else
    PATH="$work/bin:$PATH" fakeroot dpkg --force-not-root --root="$root" --force-script-chrootless \
      --log="$work/dpkg.log" "$@"
  fi
}
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
# systemd's own directories, which deb-systemd-helper uses and leaves, as
# they are on any machine with systemd.
mkdir -p "$root/etc/systemd/system" "$root/var/lib/systemd"
: >"$root/var/lib/dpkg/status"
: >"$root/var/lib/dpkg/available"
listing() { (cd "$root" && find . ! -path './var/lib/dpkg/*' | sort); }
listing >"$work/before"

# The root has no libraries: the game's dependencies are this machine's.
dpkg_root --force-depends --install "$deb" "$server_deb" >"$work/install.log" 2>&1 ||
  { fail "dpkg --install failed"; cat "$work/install.log"; }
for package in skyrazor skyrazor-server; do
  [ "$(dpkg-query --root="$root" -W -f='${Status}' $package 2>/dev/null)" = "install ok installed" ] ||
    fail "$package is not installed in the throwaway root"
done

game="$root/usr/games/skyrazor"
[ -x "$game" ] || fail "no /usr/games/skyrazor"
[ "$("$game" --version 2>&1)" = "skyrazor $version" ] || fail "/usr/games/skyrazor --version is not $version"

# The forced command is there, and without a terminal refuses readably.
forced="$root/usr/libexec/skyrazor/skyrazor-ssh-join"
if [ -x "$forced" ]; then
  refusal=$(SKYRAZOR_GAME="$game" "$forced" </dev/null 2>&1)
  [ "$refusal" = "skyrazor-ssh-join: the game needs a terminal: connect with ssh -t" ] ||
    fail "the packaged forced command without a terminal said: $refusal"
else
  fail "no /usr/libexec/skyrazor/skyrazor-ssh-join"
fi

page="$root/usr/share/man/man6/skyrazor.6.gz"
if [ -f "$page" ]; then
  rendered=$(MANWIDTH=80 man -l "$page" 2>&1)
  echo "$rendered" | grep -q "RECORD AND REPLAY" || fail "man -l does not render the page"
  echo "$rendered" | grep -q "skyrazor $version" || fail "the page does not name version $version"
else
  fail "no usr/share/man/man6/skyrazor.6.gz"
fi

entry="$root/usr/share/applications/skyrazor.desktop"
[ -f "$entry" ] || fail "no usr/share/applications/skyrazor.desktop"
for line in Exec=skyrazor Terminal=true 'Categories=Game;ActionGame;'; do
  grep -qxF "$line" "$entry" 2>/dev/null || fail "the desktop entry has no $line"
done
metainfo="$root/usr/share/metainfo/io.github.skyrazor.Skyrazor.metainfo.xml"
if [ ! -f "$metainfo" ]; then
  fail "no usr/share/metainfo/io.github.skyrazor.Skyrazor.metainfo.xml"
elif ! appstreamcli validate --no-net "$metainfo" >"$work/validate.log" 2>&1; then
  fail "appstreamcli validate: $(cat "$work/validate.log")"
fi
grep -q '^License: Expat$' "$root/usr/share/doc/skyrazor/copyright" 2>/dev/null ||
  fail "usr/share/doc/skyrazor/copyright does not give the licence"

. "$source/tests/package/deb_server_checks.sh"

dpkg_root --purge skyrazor-server skyrazor >"$work/purge.log" 2>&1 ||
  { fail "dpkg --purge failed"; cat "$work/purge.log"; }
for package in skyrazor skyrazor-server; do
  dpkg-query --root="$root" -W $package >/dev/null 2>&1 && fail "$package is still known to dpkg"
done
listing >"$work/after"
cmp -s "$work/before" "$work/after" ||
  fail "the purge left: $(comm -13 "$work/before" "$work/after" | tr '\n' ' ')"
finish
