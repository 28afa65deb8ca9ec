#!/usr/bin/env bash
# Builds the Windows bundle and runs Orvalin AI under Wine with the
# development stand-in engine.
#
#   bash scripts/run.sh [arguments for the app]
#
# On a desktop (DISPLAY set) the window simply opens; close it to finish.
# Without a display, or with ORVALIN_HEADLESS=1, it runs a short guided tour
# on a virtual screen instead (tools/orvalin_dev/tour.py): it plays the
# Dart side, waits for the first frame, saves a screenshot, signs in once
# through a stand-in browser, shows what crossed the channels and closes the
# window.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# Another tree may be named, e.g. ORVALIN_BUILD_DIR=build/mine.
build=$(realpath -m "${ORVALIN_BUILD_DIR:-$root/build/windows}")
bundle="$build/bundle"

step() { printf '\n== %s\n' "$*"; }

step "Checking the tools (scripts/setup.sh)"
bash scripts/setup.sh

step "Building the Windows bundle (cmake preset \"windows\")"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j2 --target orvalin_ai standin standin_browser \
  host_probe
echo "bundle: $bundle"

headless=0
if [[ -z "${DISPLAY:-}" || "${ORVALIN_HEADLESS:-0}" == 1 ]]; then
  headless=1
  unset DISPLAY  # the Wine session starts a virtual screen (Xvfb)
fi

step "Starting Wine (prefix $build/wineprefix)"
# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
trap wine_session_stop EXIT
wine_session_start "$build"
echo "display: $DISPLAY"

if ((headless == 0)); then
  step "Opening Orvalin AI; close its window to finish"
  set +e
  (cd "$bundle" && wine ./orvalin_ai.exe "$@")
  code=$?
  set -e
  echo "Orvalin AI ended with exit code $code"
  exit "$code"
fi

step "No display: guided run on a virtual screen"
ORVALIN_BUILD_DIR="$build" ORVALIN_SCREENSHOT="$build/screenshot.png" \
  PYTHONPATH="$root/tools" /usr/bin/python3 -m orvalin_dev.tour "$@"
