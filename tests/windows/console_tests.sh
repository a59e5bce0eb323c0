#!/bin/sh
# Runs the tests that need a console window (WindowsConsole*) under Wine with
# a pseudo-terminal as their standard input, which Wine turns into a console.
# Their report goes to a file, not through the console, and is printed after.
# Usage: console_tests.sh WINE-RUN WINE-PREFIX PATH/TO/skyrazor_tests.exe
set -u
wine_run=${1:?usage: console_tests.sh WINE-RUN WINE-PREFIX TESTS.exe}
prefix=${2:?}
tests=${3:?}

report=$(mktemp "${TMPDIR:-/tmp}/skyrazor-console-tests.XXXXXX")
trap 'rm -f "$report"' EXIT
# script(1) gives the pseudo-terminal and passes the exit status on.
script -qec "'$wine_run' '$prefix' '$tests' --gtest_filter='WindowsConsole*' --gtest_color=no \
  >'$report' 2>&1" /dev/null </dev/null >/dev/null
status=$?
cat "$report"
exit $status
