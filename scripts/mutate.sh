#!/usr/bin/env bash
# Plants the faults listed in scripts/mutants.txt one at a time, rebuilds what
# each needs, runs the tests that cover it and prints KILLED or SURVIVED per
# fault and a score. Every file is put back, whatever happens.
#   bash scripts/mutate.sh [--list] [--no-baseline] [FOLDER|ID|GLOB ...]
# FOLDER is client, services, runner or win; ids may use shell wildcards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
journal="$root/build/mutate/journal"

# A driver killed outright leaves its journal behind: each entry is a
# planted file and the saved original, put back here.
restore_from_journal() {
  [[ -d "$journal" ]] || return 0
  local saved
  for saved in "$journal"/*.orig; do
    [[ -e "$saved" ]] || continue
    local target
    target=$(<"${saved%.orig}.path")
    cp "$saved" "$root/$target"
    rm -f "$saved" "${saved%.orig}.path"
    echo "mutate: restored $target from the journal" >&2
  done
}

restore_from_journal
for argument in "$@"; do
  if [[ "$argument" == --list || "$argument" == -h || "$argument" == --help ]]; then
    exec python3 scripts/mutate.py "$@"
  fi
done

# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
on_exit() {
  restore_from_journal
  wine_session_stop
}
trap on_exit EXIT
if [[ -f build/windows/build.ninja ]] || cmake --preset windows >/dev/null; then
  wine_session_start "$root/build/windows"
fi
# In the background so that a signal reaches this shell at once; the driver
# restores its file on SIGINT and SIGTERM, the EXIT trap covers the rest.
python3 scripts/mutate.py "$@" &
driver=$!
trap 'kill -INT "$driver" 2>/dev/null; wait "$driver"; exit 130' INT
trap 'kill -TERM "$driver" 2>/dev/null; wait "$driver"; exit 143' TERM
status=0
wait "$driver" || status=$?
exit "$status"
