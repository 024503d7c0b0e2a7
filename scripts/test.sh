#!/usr/bin/env bash
# Set-up, the builds and every test: the Windows build under Wine, launcher-stamp built natively (build/host)
# and in its sanitizer configuration with the fuzz targets (build/host-sanitize), and the release built twice
# from two copies of the sources and compared (scripts/check-reproducible.sh). Ends with each ctest's
# summary, a line that adds them up, and a failing status if any test failed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The native tool first: the Windows build stamps with it and installs it in the package.
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset wine -DKRO_NATIVE_STAMP="$PWD/build/host/bin/launcher-stamp" >/dev/null
cmake --build --preset wine
cmake --preset host-sanitize >/dev/null
cmake --build --preset host-sanitize

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
status=0
for preset in wine host host-sanitize; do
    ctest --preset "$preset" "$@" 2>&1 | tee "$logs/$preset" || status=1
done
# Stop this build's wineserver so that nothing is left running.
WINEPREFIX="$PWD/build/wine/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
bash scripts/check-reproducible.sh || status=1

cat "$logs"/* | awk '
    / tests passed, [0-9]+ tests failed out of / { failed += $4; total += $NF }
    END { printf "%d passed, %d failed\n", total - failed, failed }'
exit "$status"
