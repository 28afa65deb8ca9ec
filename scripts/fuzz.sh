#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds
# (default 10), starting from the committed seed corpus. New inputs go to
# build/fuzz/corpus/<target>; a failing input (crash, leak, out of memory,
# or one input taking longer than the per-input timeout) is left in
# build/fuzz/crashes and fails the run.
#   bash scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
# Seconds one input may take. Every well-formed or hostile message decodes
# in time linear in its size, milliseconds at libFuzzer's input sizes; the
# margin absorbs a loaded machine.
per_input_timeout=10

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

mkdir -p build/fuzz/crashes
for seeds in fuzz/corpus/*/; do
  name=$(basename "$seeds")
  found="build/fuzz/corpus/$name"
  log="build/fuzz/$name.log"
  mkdir -p "$found"
  echo "== fuzz $name for ${seconds}s"
  status=0
  "build/fuzz/fuzz/${name}_fuzzer" -max_total_time="$seconds" \
    -timeout="$per_input_timeout" -rss_limit_mb=2048 -malloc_limit_mb=512 \
    -print_final_stats=1 -artifact_prefix="build/fuzz/crashes/${name}-" \
    "$found" "$seeds" >"$log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added|==[0-9]+== ?ERROR|SUMMARY|Done)' \
    "$log" || true
  if [ "$status" -ne 0 ] || compgen -G "build/fuzz/crashes/${name}-*" >/dev/null; then
    echo "fuzz: $name failed (exit $status); see $log and build/fuzz/crashes/"
    exit 1
  fi
done
