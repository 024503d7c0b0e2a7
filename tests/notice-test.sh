#!/usr/bin/env bash
# The "Execution Error" notice of a launcher started without elevation, in a real window under Xvfb: it appears,
# a screenshot is kept, the ERROR record is written only after OK is pressed, and the exit code is -1.
# Usage: notice-test.sh WINE_RUN BUILD_DIR
set -euo pipefail
wine_run=$1
build=$2
prefix=$build/wineprefix-gui
artifacts=$build/artifacts
mkdir -p "$artifacts"

display=:$((90 + $$ % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
output=$(mktemp)
cleanup() {
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -f "$output"
}
trap cleanup EXIT
export DISPLAY=$display

fail() {
    echo "FAIL: $*"
    exit 1
}

# The prefix's own temporary directory holds the launcher's log.
"$wine_run" "$prefix" "$build/bin/exit-code-runner.exe" "$build/bin/demo-installer.exe" >/dev/null
temp=$(ls -d "$prefix"/drive_c/users/*/Temp | head -n 1)
rm -f "$temp/vantor.log"

"$wine_run" "$prefix" "$build/bin/exit-code-runner.exe" --not-elevated "$build/bin/setup.exe" >"$output" 2>&1 &
runner=$!

window=
for _ in $(seq 1 600); do
    window=$(xdotool search --name "Execution Error" 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 "$runner" 2>/dev/null || break
    sleep 0.1
done
[ -n "$window" ] || fail "no window named \"Execution Error\" appeared; runner said: $(cat "$output")"
sleep 0.5
xwd -root -display "$display" | convert xwd:- "$artifacts/notice.png"
echo "screenshot: $artifacts/notice.png"

if [ -s "$temp/vantor.log" ]; then
    fail "a record was written while the notice was still open: $(cat "$temp/vantor.log")"
fi

xdotool key --window "$window" Return
wait "$runner" || true
grep -q "exit code: 4294967295" "$output" || fail "exit code: $(cat "$output")"
records=$(grep -c '^\[' "$temp/vantor.log" || true)
[ "$records" = 1 ] || fail "expected one record, found $records"
grep -q $'\tERROR: Administrator privileges are required to run this application, exiting.\r$' "$temp/vantor.log" \
    || fail "the record reads: $(cat "$temp/vantor.log")"
echo "1 passed, 0 failed"
