#!/usr/bin/env bash
# Set-up, build and every test under Wine; ends with ctest's summary and its exit status.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset wine >/dev/null
cmake --build --preset wine
status=0
ctest --preset wine "$@" || status=$?
# Stop this build's wineserver so that nothing is left running.
WINEPREFIX="$PWD/build/wine/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
exit "$status"
