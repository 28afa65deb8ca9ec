#!/usr/bin/env bash
# Runs every benchmark and prints its figures as tables: codec throughput
# and channel round trips natively (the bench preset), then the profile
# photo's peak memory, the keychain's cost and the start-up legs under Wine
# (the windows tree).
#   bash scripts/bench.sh
# ORVALIN_BENCH_DIR and ORVALIN_BUILD_DIR choose other build folders (by
# default build/bench and build/windows); ORVALIN_BENCH_RUNS the number of
# Wine start-up runs (5).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bench_dir=${ORVALIN_BENCH_DIR:-$root/build/bench}
windows_dir=${ORVALIN_BUILD_DIR:-$root/build/windows}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

bash scripts/setup.sh

echo "== building (bench preset, windows tree)" >&2
cmake --preset bench -B "$bench_dir" >/dev/null
cmake --build "$bench_dir" -j2 --target codec_bench channel_bench >&2
cmake --preset windows -B "$windows_dir" >/dev/null
cmake --build "$windows_dir" -j2 >&2

echo "== native benchmarks (a few minutes)" >&2
for bench in codec_bench channel_bench; do
  "$bench_dir/bench/$bench" --benchmark_repetitions=3 \
    --benchmark_min_time=0.3 --benchmark_format=json \
    --benchmark_out="$out/$bench.json" --benchmark_out_format=json \
    >/dev/null
done

# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
trap 'wine_session_stop; rm -rf "$out"' EXIT
wine_session_start "$windows_dir"
echo "== profile photo under Wine" >&2
"$windows_dir/wine-exec" "$windows_dir/bundle/profile_photo_memory.exe" \
  >"$out/photo.txt"
echo "== keychain under Wine" >&2
"$windows_dir/wine-exec" "$windows_dir/bundle/keychain_cost.exe" \
  >"$out/keychain.txt"
echo "== start-up legs under Wine" >&2
/usr/bin/python3 bench/wine_startup.py --build-dir "$windows_dir" \
  --runs "${ORVALIN_BENCH_RUNS:-5}" >"$out/startup.txt"

echo
echo "Figures from $(hostname) with $(nproc) cores at $(date -u '+%F %R') UTC;"
echo "a shared machine: compare the ratios, which were measured side by side."
echo
/usr/bin/python3 bench/report.py "$out/codec_bench.json" \
  "$out/channel_bench.json"
echo "Profile photo, 10 MiB file answered under Wine (peak above baseline)"
awk '/_multiple/ { printf "  %-28s %sx the file size\n", $1, $2 }' \
  "$out/photo.txt"
sed -n 's/^note: /  note: /p' "$out/photo.txt"
echo "  target: at most 2x"
echo
echo "Keychain under Wine: write (replacing a value of the same size) and read,"
echo "median of 31 (creds: the credentials one value takes)"
sed 's/^/  /' "$out/keychain.txt"
echo
cat "$out/startup.txt"
