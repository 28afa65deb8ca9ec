#!/usr/bin/env bash
# Runs every test: the client layer natively under ASan + UBSan, then the
# whole Windows tree under Wine, then the end-to-end tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

echo "== native tree (sanitizers)"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

echo "== fuzz smoke (libFuzzer, clang, ASan + UBSan)"
bash scripts/fuzz.sh 8

echo "== windows tree (Wine)"
cmake --preset windows >/dev/null
cmake --build --preset windows
# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
trap wine_session_stop EXIT
wine_session_start "$root/build/windows"
ctest --preset windows

echo "== release tree and installer"
bash scripts/package.sh

if [[ -d tests/e2e ]] && compgen -G "tests/e2e/test_*.py" >/dev/null; then
  echo "== end to end (Wine, Xvfb)"
  ORVALIN_BUILD_DIR="$root/build/windows" /usr/bin/python3 -m pytest -q \
    -p no:cacheprovider tests/e2e
fi
