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
mkdir -p "$seeds/script_run" "$seeds/typed_line" "$seeds/wire_decoder" "$seeds/battle_state" \
  "$build/corpus/script_run" "$build/corpus/typed_line" "$build/corpus/wire_decoder" \
  "$build/corpus/battle_state" "$build/findings"

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

# The wire decoder target starts from both ends of a sound conversation.
# The first byte is the size of the pieces the bytes arrive in (0: all at
# once); then the messages, each its length prefix, type byte and payload.
wire="$seeds/wire_decoder"
{
  printf '\000'
  printf '\000\000\000\022\001SKYRAZOR\000\005\001\002ab\000\000\000'  # hello: a pilot, code "ab"
  printf '\000\000\000\004\004\002pl'                           # keys "pl"
  printf '\000\000\000\011\007\000\000\000\000\000\000\000\052'  # ping
  printf '\000\000\000\005\011\003bye'                          # goodbye
} >"$wire/to-host"
{
  printf '\001'
  printf '\000\000\000\007\002\001\000\120\000\031\000'  # welcome: a pilot, 80x25, no room
  # A whole 2x2 screen, its cursor bottom right as a block, then its cells.
  printf '\000\000\000\026\005\000\002\000\002\000\001\000\001\144'
  printf 'A\000\007B\000\037 \000\007\333\000\116'
  # Screen changes: the cursor top left, one run of one cell in row 1.
  printf '\000\000\000\021\006\000\000\000\000\031\000\001\000\001\000\000\000\001x\000\014'
  printf '\000\000\000\011\010\000\000\000\000\000\000\000\052'  # pong
  printf '\000\000\000\004\003\001\001x'                       # refusal
} >"$wire/to-client"
# A lobby: its hello and the rows it shows, and the server's answer.
{
  printf '\000'
  printf '\000\000\000\020\001SKYRAZOR\000\005\004\000\000\000\000'  # hello: a lobby
  printf '\000\000\000\004\014\000\000\024'                      # view: rows 0 to 19
} >"$wire/to-server-lobby"
{
  printf '\003'
  printf '\000\000\000\007\002\004\000\120\000\031\000'  # welcome: a lobby
  # One listed room, "duel": Ann vs Bob at 3 and 2, pilot 2 seated, 1 watcher.
  printf '\000\000\000\040\015\000\001\001\000\000\004duel\001\003Ann\003Bob'
  printf '\003\002\000\000\000\000\000\001\000\000\000\005'
} >"$wire/to-lobby"
# A duel: a pilot's terminal of version 6, its keys and checksums, and what
# the host sends it (the battle's start, the other pilot's keys, a repair,
# the battle's end).
{
  printf '\000'
  printf '\000\000\000\022\001SKYRAZOR\000\006\001\002ab\000\000\000'  # hello: a pilot
  printf '\000\000\000\014\017\000\000\000\001\000\024\002\001a\000\000'  # keys of frames 1-2
  printf '\000\000\000\016\020\000\000\000\001\002\336\255\276\357\001\002\003\004'  # checksums
} >"$wire/to-host-duel"
{
  printf '\002'
  printf '\000\000\000\007\002\001\000\120\000\031\000'  # welcome: a pilot, 80x25, no room
  printf '\000\000\000\015\016\001\000\010\000\000\000\000\000\003abc'  # start: ship 1
  printf '\000\000\000\014\017\000\000\000\001\000\000\002\000\000\001z'  # keys of frames 1-2
  printf '\000\000\000\011\021\000\000\000\002\000\002xy'   # repair after frame 2
  printf '\000\000\000\005\022\000\000\000\002'            # over after 2 frames
} >"$wire/to-pilot-duel"
# Two whole screens of the largest picture, 100x54, every cell differing
# between them: the changes a peer is then sent need several messages.
# Each cell is given as printf writes it: its byte, then its attribute's two.
wholeScreen() {
  printf '\000\000\077\122\005\000\144\000\066\000\000\000\000\031'
  cell=0
  while [ $cell -lt 5400 ]; do
    printf "$1"
    cell=$((cell + 1))
  done
}
{
  printf '\000'
  wholeScreen 'A\000\007'
  wholeScreen 'B\000\036'
} >"$wire/largest-pictures"

# The battle state target builds its sound states itself from the seed in
# its first four bytes; its seeds are a few seeds, unchanged and changed.
printf '\000\000\000\001' >"$seeds/battle_state/sound"
printf '\000\001\000\002\000\007\000' >"$seeds/battle_state/one-byte"
printf '\000\000\000\003\000\011\377\000\030\001' >"$seeds/battle_state/two-bytes"

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
run wire_decoder -dict="$source/fuzz/wire.dict" -max_len=40000
run battle_state -max_len=600
exit $status
