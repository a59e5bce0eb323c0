#!/bin/sh
# Installs the build into a staging folder and checks what lands there: the
# game in bin/ (games/ with the Debian layout), the manual page in man6/, the
# desktop entry in share/applications, the metainfo in share/metainfo and
# the ssh account's forced command, executable, in libexec/skyrazor;
# the page (configured into BUILD_DIR from SOURCE_DIR's template) renders
# without warnings, names the version --version prints and every option --help
# lists.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR

set -u
build=${1:?usage: install_test.sh BUILD_DIR SOURCE_DIR}
source=${2:?usage: install_test.sh BUILD_DIR SOURCE_DIR}
template="$source/doc/skyrazor.6.in"
page="$build/doc/skyrazor.6"

stage=$(mktemp -d "${TMPDIR:-/tmp}/skyrazor-install.XXXXXX")
trap 'rm -rf "$stage"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$stage.log" 2>&1 ||
  { fail "cmake --install failed"; cat "$stage.log"; }
rm -f "$stage.log"
binary=$(find "$stage/usr" -name skyrazor -type f)
case $binary in
  "$stage/usr/bin/skyrazor" | "$stage/usr/games/skyrazor") ;;
  *) fail "the game is not in bin/ or games/: '$binary'" ;;
esac
[ -x "$binary" ] || fail "the installed game is not executable"
[ -f "$stage/usr/share/man/man6/skyrazor.6" ] || fail "the manual page is not in man6/"
cmp -s "$page" "$stage/usr/share/man/man6/skyrazor.6" || fail "the installed page differs"
for file in applications/skyrazor.desktop metainfo/io.github.skyrazor.Skyrazor.metainfo.xml; do
  cmp -s "$source/data/${file#*/}" "$stage/usr/share/$file" || fail "share/$file is not installed"
done
forced="$stage/usr/libexec/skyrazor/skyrazor-ssh-join"
cmp -s "$source/tools/skyrazor-ssh-join" "$forced" && [ -x "$forced" ] ||
  fail "libexec/skyrazor/skyrazor-ssh-join is not installed as a program"

# The page is its template with the version filled in, the one the game prints.
version=$("$binary" --version | sed -n 's/^skyrazor //p')
[ -n "$version" ] || fail "--version prints no version"
sed "s/@PROJECT_VERSION@/$version/" "$template" | cmp -s - "$page" ||
  fail "the page is not its template with version '$version'"

# Every option of --help is in the page's synopsis or options.
for option in $("$binary" --help | grep -o -- '--[a-z-]*' | sort -u); do
  grep -qF -- "$(echo "$option" | sed 's/-/\\-/g')" "$page" || fail "$option is not in the page"
done
for section in NAME SYNOPSIS MODES CONTROLS OPTIONS "SCRIPTED RUNS" "RECORD AND REPLAY" \
  "EXIT STATUS" FILES; do
  grep -q "^\.SH \"*$section\"*\$" "$page" || fail "the page has no $section section"
done

if command -v groff >/dev/null 2>&1; then
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff warns: $warnings"
fi
if command -v man >/dev/null 2>&1; then
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "RECORD AND REPLAY" ||
    fail "man -l does not render the page"
fi

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "installed and the manual page reads"
