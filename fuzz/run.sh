#!/bin/sh
# Runs each fuzz target for a bounded time, seeded from the scripted-run
# tests. Usage: fuzz/run.sh BUILD-DIR [SECONDS-PER-TARGET]
# Keeps each target's growing corpus in BUILD-DIR/corpus/TARGET and writes
# whatever makes a target fail to BUILD-DIR/findings/; exits 1 if any did.
set -u
build=${1:?usage: fuzz/run.sh BUILD-DIR [SECONDS]}
seconds=${2:-60}
source=$(cd "$(dirname "$0")/.." && pwd)
scripts="$source/tests/scripts"
seeds="$build/seeds"

rm -rf "$seeds"
mkdir -p "$seeds/script_run" "$seeds/typed_line" "$build/corpus/script_run" \
  "$build/corpus/typed_line" "$build/findings"

# The scripted-run target starts from the test scripts themselves.
cp "$scripts"/*.script "$seeds/script_run/"

# The typed-line target starts from their typed lines (escapes left as
# written), read as passwords (3), options (4), names and levels (5, 6) and
# as plain words, numbers and characters (0, 1, 2).
for script in "$scripts"/*.script; do
  name=$(basename "$script" .script)
  lines=$(sed -n 's/^type //p' "$script")
  [ -n "$lines" ] || continue
  for program in 3 4 56 012; do
    printf '%s\n%s\n' "$program" "$lines" >"$seeds/typed_line/$name-$program"
  done
done

status=0
run() {
  target=$1
  shift
  echo "== fuzzing $target for $seconds s"
  if ! "$build/skyrazor_${target}_fuzzer" "$@" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
    "$build/corpus/$target" "$seeds/$target"; then
    echo "FAILED: $target found a fault; the input is in $build/findings/"
    status=1
  fi
}
run script_run -dict="$source/fuzz/script.dict" -max_len=8192
run typed_line -max_len=4096
exit $status
