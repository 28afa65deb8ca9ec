#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds
# (default 10), or until it has run the given number of inputs if that
# comes first, starting from the committed seed corpus. New inputs go to
# build/fuzz/corpus/<target>; a failing input (crash, leak, an input holding
# more memory than the allocation check in fuzz/fuzz_support.h allows for
# its size, or one taking longer than the per-input timeout) is left in
# build/fuzz/crashes and fails the run. Naming targets runs only those.
# FUZZ_WORKERS=N keeps N libFuzzer processes per target running on one
# shared corpus, so a slow target can use every core; the time is then the
# whole run's and the inputs are shared out among the processes.
#   bash scripts/fuzz.sh [seconds-per-target [inputs-per-target [target...]]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
runs=${2:--1}  # libFuzzer's -runs: -1 for no limit
shift $(( $# < 2 ? $# : 2 ))
targets=("$@")
workers=${FUZZ_WORKERS:-1}
# With several workers, no process runs longer than this: a long-lived one
# slows down (the round trip ran at half its first speed after half an
# hour), and a fresh one picks up the corpus the others have grown.
worker_seconds=600
if [ ${#targets[@]} -eq 0 ]; then
  for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi
# Seconds one input may take. Every well-formed or hostile message decodes
# in time linear in its size, milliseconds at libFuzzer's input sizes; the
# margin absorbs a loaded machine.
per_input_timeout=10
# Inputs grow to 1 MiB, enough for messages of many large blocks and for
# memory that grows faster than the message to show.
max_len=1048576
# The allocation check bounds each input's live bytes at
# kLiveBytesPerInputByte * size + kLiveBytesFixed (fuzz/fuzz_support.h),
# which at max_len comes to 384 MiB + 16 KiB, and fails the input before
# the allocation that would pass it. libFuzzer's own limits stay above
# that, so they never refuse what the check allows: one allocation up to
# the whole bound, and the process's RSS for that plus ASan's quarantine
# of freed blocks (256 MiB) and the corpus held in memory.
malloc_limit_mb=385
rss_limit_mb=2048

limits=(-max_len="$max_len" -timeout="$per_input_timeout"
  -rss_limit_mb="$rss_limit_mb" -malloc_limit_mb="$malloc_limit_mb")

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# A grown corpus keeps every input that once added a feature, many since
# covered by smaller ones; the large ones slow a run down. Keep only the
# inputs that add coverage before running on.
# The old corpus is set aside, not deleted, until the kept one is in its
# place, so a run stopped in between finds it again.
minimise() {
  local found="build/fuzz/corpus/$1" kept="build/fuzz/corpus/$1.kept"
  local old="build/fuzz/corpus/$1.old"
  if [ ! -d "$found" ] && [ -d "$old" ]; then mv "$old" "$found"; fi
  mkdir -p "$found"
  [ -n "$(ls -A "$found")" ] || return 0
  rm -rf "$kept" && mkdir -p "$kept"
  "build/fuzz/fuzz/${1}_fuzzer" -merge=1 "${limits[@]}" "$kept" "$found" \
    >"build/fuzz/$1.merge.log" 2>&1 || {
    echo "fuzz: cannot minimise the $1 corpus; see build/fuzz/$1.merge.log"
    exit 1
  }
  rm -rf "$old" && mv "$found" "$old" && mv "$kept" "$found" && rm -rf "$old"
}

mkdir -p build/fuzz/crashes
for name in "${targets[@]}"; do
  seeds="fuzz/corpus/$name"
  if [ ! -d "$seeds" ]; then
    echo "fuzz: no target $name (fuzz/corpus/$name)"
    exit 1
  fi
  found="build/fuzz/corpus/$name"
  log="build/fuzz/$name.log"
  fuzzer="$PWD/build/fuzz/fuzz/${name}_fuzzer"
  minimise "$name"
  echo "== fuzz $name for ${seconds}s$([ "$runs" -ge 0 ] && echo " or $runs inputs")$([ "$workers" -gt 1 ] && echo " in $workers workers")"
  status=0
  run=("$fuzzer" "${limits[@]}" -print_final_stats=1
    -artifact_prefix="$PWD/build/fuzz/crashes/${name}-"
    "$PWD/$found" "$PWD/$seeds")
  if [ "$workers" -gt 1 ]; then
    rounds=$(( seconds > worker_seconds ?
      (seconds + worker_seconds - 1) / worker_seconds : 1 ))
    each=$(( (seconds + rounds - 1) / rounds ))
    processes=$(( workers * rounds ))
    each_runs=$(( runs < 0 ? -1 : (runs + processes - 1) / processes ))
    # libFuzzer writes process J's output to fuzz-J.log in the working
    # folder, and copies each to its own output when the process ends.
    jobs="build/fuzz/$name.workers"
    rm -rf "$jobs" && mkdir -p "$jobs"
    (cd "$jobs" && "${run[@]}" -max_total_time="$each" -runs="$each_runs" \
      -jobs="$processes" -workers="$workers") >"$log" 2>&1 || status=$?
    awk '/^stat::number_of_executed_units:/ { n += $2 }
      END { print "executed by all workers: " n + 0 }' "$jobs"/fuzz-*.log
  else
    "${run[@]}" -max_total_time="$seconds" -runs="$runs" >"$log" 2>&1 ||
      status=$?
  fi
  grep -E '^(stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)|allocation check|==[0-9]+== ?ERROR|SUMMARY|Done)' \
    "$log" || true
  if [ "$status" -ne 0 ] || compgen -G "build/fuzz/crashes/${name}-*" >/dev/null; then
    echo "fuzz: $name failed (exit $status); see $log and build/fuzz/crashes/"
    exit 1
  fi
done
