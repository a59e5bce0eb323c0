#!/bin/sh
# Checks the zip for Windows players: it holds exactly skyrazor.exe,
# README-Windows.txt and LICENSE.txt, the two texts with CRLF line ends, and
# the skyrazor.exe unpacked from it plays a scripted run to the title under
# Wine.
# Usage: zip_test.sh WINE-RUN WINE-PREFIX ZIP SCRIPTS_DIR

set -u
wine_run=${1:?usage: zip_test.sh WINE-RUN WINE-PREFIX ZIP SCRIPTS_DIR}
prefix=${2:?}
zip=${3:?}
scripts=${4:?}

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/skyrazor-zip.XXXXXX")
trap 'rm -rf "$work"' EXIT
[ -f "$zip" ] || { echo "FAIL: no $zip"; exit 1; }

entries=$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')
[ "$entries" = "LICENSE.txt README-Windows.txt skyrazor.exe " ] ||
  fail "the zip holds '$entries', not LICENSE.txt, README-Windows.txt and skyrazor.exe"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip") || fail "the zip does not unpack"

cr=$(printf '\r')
for text in README-Windows.txt LICENSE.txt; do
  if [ ! -s "$work/unpacked/$text" ]; then
    fail "$text is missing or empty"
  elif grep -qv "$cr\$" "$work/unpacked/$text"; then
    fail "$text has lines without CRLF"
  fi
done
for words in Ctrl-C --help "1  Arcade" "e up, s down, w next weapon, a fire" LICENSE.txt; do
  grep -qF -- "$words" "$work/unpacked/README-Windows.txt" 2>/dev/null ||
    fail "README-Windows.txt does not say '$words'"
done
grep -q "MIT License" "$work/unpacked/LICENSE.txt" 2>/dev/null || fail "LICENSE.txt is not the licence"

# The script is beside the exe, so that Wine needs no host path for it.
cp "$scripts/end_at_title.script" "$work/unpacked/"
(cd "$work/unpacked" && "$wine_run" "$prefix" ./skyrazor.exe --script end_at_title.script) \
  >"$work/out" 2>"$work/err"
status=$?
[ $status -eq 0 ] || fail "skyrazor.exe from the zip exits with $status: $(cat "$work/err")"
cmp -s "$work/out" "$scripts/end_at_title.expected" ||
  fail "skyrazor.exe from the zip does not play the title: $(head -c 300 "$work/out")"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "the zip holds the game, its readme and the licence, and the game plays"
