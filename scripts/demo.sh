#!/usr/bin/env bash
# Builds setup.exe around the demo installer and runs it under Wine with sample arguments (one with a space,
# one ending in a backslash). Shows what the demo installer received, the launcher's full 32-bit exit code and
# the log records of the run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset wine >/dev/null
cmake --build --preset wine --target launcher exit-code-runner
build=$PWD/build/wine
run() { "$PWD/cmake/wine-run.sh" "$build/wineprefix" "$@"; }

# Wine gives its programs the prefix's own TEMP; the launcher logs there.
run "$build/bin/demo-installer.exe" >/dev/null
temp=$(ls -d "$build"/wineprefix/drive_c/users/*/Temp | head -n 1)
rm -f "$temp/vantor.log"
report=$(mktemp)
trap 'rm -f "$report"' EXIT

echo "== running: setup.exe \"two words\" \"INSTALLDIR=C:\\Program Files\\Demo\\\" /exit=3010"
status=0
DEMO_INSTALLER_REPORT="Z:${report//\//\\}" run "$build/bin/exit-code-runner.exe" "$build/bin/setup.exe" \
    "two words" 'INSTALLDIR=C:\Program Files\Demo\' /exit=3010 || status=$?
echo
echo "== what the demo installer received (its report)"
# Values are escaped in the report (\\ for a backslash); shown plain here.
grep -v '^parentModule=' "$report" | sed 's/\\\\/\\/g' || echo "(no report: the installer did not run)"
echo
echo "== the launcher's log records ($temp/vantor.log)"
cat "$temp/vantor.log" | tr -d '\r'
WINEPREFIX="$build/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
echo
echo "(the Linux shell sees only the low 8 bits of the exit code: $status)"
