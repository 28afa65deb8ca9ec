#!/usr/bin/env bash
# Builds the release bundle and the signed per-user installer, then prints
# the MSI's path, version and size, whether it carries the app's engine
# (real) or the development stand-ins (dev), and whether it is real- or
# test-signed.
#   bash scripts/package.sh [--version a.b.c.d] [--out DIR] [--build-dir DIR]
# --version builds at another version than the product's (to try an
# upgrade); --out puts the MSI and its symbols elsewhere than
# <build-dir>/package; the tree is build/release unless --build-dir says.
# Environment (see the README):
#   ORVALIN_ENGINE_DIR          the app's flutter_windows.dll, the two plugin
#                               libraries and data/; unset: stand-ins, -dev
#   ORVALIN_SIGN_PFX            code-signing certificate (.pfx); unset: a
#   ORVALIN_SIGN_PFX_PASSWORD   throwaway test certificate signs
#   ORVALIN_SIGN_TIMESTAMP_URL  timestamp server for real signing (optional)
#   ORVALIN_SIGN_CA_FILE        root to verify against, when the system's
#                               CA bundle lacks it (optional)
#   ORVALIN_APPROVED_AUTH_URL_PREFIX  the sign-in base the app opens; needed
#                               with ORVALIN_ENGINE_DIR, else the
#                               development base
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."
root=$PWD
absolute() { (cd "$here" && realpath -m "$1"); }

build=$root/build/release
version=''
out=''
while (($#)); do
  case $1 in
    --version) version=$2 ;;
    --out) out=$(absolute "$2") ;;
    --build-dir) build=$(absolute "$2") ;;
    *) echo "package: unknown argument $1 (see scripts/package.sh)" >&2
       exit 2 ;;
  esac
  shift 2
done
engine=''
if [[ -n ${ORVALIN_ENGINE_DIR:-} ]]; then
  engine=$(absolute "$ORVALIN_ENGINE_DIR")
fi
# A package with the app's engine is one users get: it must sign in against
# the production service, and only it may carry a real signature.
auth_base=${ORVALIN_APPROVED_AUTH_URL_PREFIX:-}
if [[ -n $engine && -z $auth_base ]]; then
  echo "package: a package with the app's engine (ORVALIN_ENGINE_DIR) needs" \
    "its sign-in base: set ORVALIN_APPROVED_AUTH_URL_PREFIX" >&2
  exit 1
fi
if [[ -z $engine && -n ${ORVALIN_SIGN_PFX:-} ]]; then
  echo "package: a real certificate (ORVALIN_SIGN_PFX) does not sign a" \
    "development package: it carries the stand-ins (ORVALIN_ENGINE_DIR" \
    "unset)" >&2
  exit 1
fi
if [[ -n $auth_base ]]; then
  auth_setting=(-DORVALIN_APPROVED_AUTH_URL_PREFIX="$auth_base")
else
  # The cache's own default, the development base.
  auth_setting=(-UORVALIN_APPROVED_AUTH_URL_PREFIX)
fi
# The build runs elsewhere: every path is taken from where this was started.
for variable in ORVALIN_SIGN_PFX ORVALIN_SIGN_CA_FILE; do
  if [[ -n ${!variable:-} ]]; then
    export "$variable=$(absolute "${!variable}")"
  fi
done

bash scripts/setup.sh

echo "== configuring the release tree ($build)"
# Every setting is passed each time, and the cache starts afresh, so an
# earlier run's choice (or a tree configured for another compiler before the
# release toolchain changed) never lingers in it.
if ! log=$(cmake --preset release -B "$build" --fresh \
    -DORVALIN_VERSION="$version" \
    -DORVALIN_ENGINE_DIR="$engine" "${auth_setting[@]}" \
    -DORVALIN_PACKAGE_OUT="${out:-$build/package}" 2>&1); then
  echo "$log" >&2
  echo "package: configuring the release tree failed" >&2
  exit 1
fi
echo "== building the release bundle and the MSI"
cmake --build "$build" -j2 --target msi

declare -A info
while IFS='=' read -r key value; do
  info[$key]=$value
done <"$build/installer/package.env"
size=$(stat -c %s "${info[MSI]}")
echo
echo "MSI:      ${info[MSI]}"
echo "version:  ${info[VERSION]}"
echo "size:     $size bytes ($(numfmt --to=iec-i --suffix=B "$size"))"
if [[ ${info[ENGINE]} == dev ]]; then
  echo "engine:   dev (the development stand-ins; ORVALIN_ENGINE_DIR unset)"
else
  echo "engine:   real (from $engine)"
fi
if [[ ${info[SIGNING]} == test ]]; then
  echo "signed:   test-signed (a throwaway certificate; ORVALIN_SIGN_PFX unset)"
else
  echo "signed:   real-signed ($ORVALIN_SIGN_PFX)"
fi
if [[ -n $auth_base ]]; then
  echo "auth:     ${info[AUTH_BASE]} (ORVALIN_APPROVED_AUTH_URL_PREFIX)"
else
  echo "auth:     ${info[AUTH_BASE]} (the development base;" \
    "ORVALIN_APPROVED_AUTH_URL_PREFIX unset)"
fi
echo "symbols:  ${info[SYMBOLS]}"
