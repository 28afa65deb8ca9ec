#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds
# (default 10), starting from the committed seed corpus. New inputs go to
# build/fuzz/corpus/<target>; a crash leaves its input in build/fuzz/crashes.
#   bash scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

mkdir -p build/fuzz/crashes
for seeds in fuzz/corpus/*/; do
  name=$(basename "$seeds")
  found="build/fuzz/corpus/$name"
  mkdir -p "$found"
  echo "== fuzz $name for ${seconds}s"
  "build/fuzz/fuzz/${name}_fuzzer" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/crashes/${name}-" "$found" "$seeds" \
    2>&1 | grep -E '^(stat::number_of_executed_units|stat::new_units_added|==[0-9]+==ERROR|SUMMARY|Done)' || true
  if compgen -G "build/fuzz/crashes/${name}-*" >/dev/null; then
    echo "fuzz: $name found a failing input:" build/fuzz/crashes/"${name}"-*
    exit 1
  fi
done
