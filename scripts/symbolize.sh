#!/usr/bin/env bash
# Prints the stack of a crash from a minidump the host wrote:
#   bash scripts/symbolize.sh [--all-threads] DUMP [SYMBOL_DIR...]
# SYMBOL_DIR: folders holding the shipped modules (matched to the dump by
# name, size and time stamp) and their .debug files; without any, the build
# trees' bundles and the symbol folders beside their packages.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Debian's python3 carries python3-pefile (scripts/setup.sh).
python=/usr/bin/python3
[[ -x $python ]] || python=python3
PYTHONPATH="$root/tools${PYTHONPATH:+:$PYTHONPATH}" \
  exec "$python" -m orvalin_dev.symbolize "$@"
