#!/usr/bin/env bash
# The hardening cases that need the Linux side: a symbolic link planted in the secure directory (Wine's
# CreateSymbolicLinkW makes nothing), and TEMP on volumes that are too small or read-only (tmpfs mounts, which
# need root). Usage: linux-cases.sh WINE_RUN BUILD_DIR RESULTS_DIR
set -euo pipefail
wine_run=$1
build=$2
results=$3
prefix=$build/wineprefix-hardening
work=$build/hardening/linux
rm -rf "$work"
mkdir -p "$work"
mounts=()
cleanup() {
    for mount in "${mounts[@]}"; do umount "$mount" 2>/dev/null || true; done
    rm -f "$prefix/dosdevices/s:" "$prefix/dosdevices/r:"
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
# shellcheck source=../script-checks.sh
source "$(dirname "$0")/../script-checks.sh"

# The prefix and its TEMP (Wine gives programs started from Linux the prefix's own TEMP).
"$wine_run" "$prefix" "$build/bin/demo-installer.exe" >/dev/null
temp=$(ls -d "$prefix"/drive_c/users/*/Temp | head -n 1)

# 1. A link planted in the secure directory while the launcher holds the extracted installer.
outside=$work/outside
mkdir -p "$outside" "$work/pause"
printf precious >"$outside/keep.txt"
rm -f "$temp/vantor.log"
KRO_TEST_PAUSE_DIR=$(windows "$work/pause") KRO_TEST_PAUSE_AT=installer-written "$wine_run" "$prefix" "$build/bin/exit-code-runner.exe" \
    "$build/bin/setup-hooks.exe" /exit=3 >"$work/link-run.txt" 2>&1 &
runner=$!
for _ in $(seq 1 600); do [ -e "$work/pause/paused.txt" ] && break; sleep 0.1; done
child=$(cat "$work/pause/paused.txt" 2>/dev/null || true)
if [ -z "$child" ]; then
    fail "the launcher never paused"
else
    # C:\users\...\kroN.tmp\setup-hooks.exe -> the folder on the Linux side
    dir_win=${child%\\*}
    dir_unix="$prefix/drive_c/$(echo "${dir_win#C:\\}" | tr '\\' '/')"
    ln -s "$outside" "$dir_unix/planted-link"
    touch "$work/pause/continue"
fi
wait "$runner" || true
grep -q "exit code: 4294967295" "$work/link-run.txt" || fail "link in the secure directory: $(cat "$work/link-run.txt")"
grep -q "Secure directory is tempered, exiting..." "$temp/vantor.log" || fail "no tampering record"
[ "$(cat "$outside/keep.txt")" = precious ] || fail "the link's target was touched"
left_link=0
if [ -n "${dir_unix:-}" ] && [ -e "$dir_unix" ]; then
    # Windows removes the link itself; Wine cannot remove a Unix link to a folder through the Windows API.
    [ "$(ls -A "$dir_unix")" = planted-link ] || fail "more than the link is left: $(ls -A "$dir_unix")"
    left_link=1
    rm -rf "$dir_unix"
fi
printf 'link-in-secure-directory\t%s\t%s\t%s\n' \
    "a symbolic link to a folder with files, planted in the secure directory between extraction and the check" \
    "tampering reported, the installer never started, exit code -1, the link's target and its files untouched (Wine leaves the link itself, which it cannot remove)" \
    "attacks=1;left=0;wine-link-left=$left_link" >"$results/link-in-secure-directory.tsv"

# 2. TEMP on a 4 MiB volume, too small for the 160 MB payload; 3. TEMP on a read-only volume.
small=$work/small
readonly_volume=$work/readonly
mkdir -p "$small" "$readonly_volume"
if mount -t tmpfs -o size=4m tmpfs "$small" && mount -t tmpfs -o ro,size=1m tmpfs "$readonly_volume"; then
    mounts=("$small" "$readonly_volume")
    ln -sfn "$small" "$prefix/dosdevices/s:"
    ln -sfn "$readonly_volume" "$prefix/dosdevices/r:"
    large=$build/bin/setup-large.exe
    status=0
    "$wine_run" "$prefix" cmd /c "set TEMP=S:\\&& set TMP=S:\\&& $(windows "$large")" >/dev/null 2>&1 || status=$?
    [ "$status" = 255 ] || fail "full volume: exit status $status, expected 255 (-1)"
    grep -q "WriteFile(S:\\\\kro" "$small/vantor.log" || fail "full volume: no WriteFile record: $(tr -d '\r' <"$small/vantor.log" | tail -n 3)"
    grep -q "System error \[112\]" "$small/vantor.log" || fail "full volume: not reported as a full disk"
    [ -z "$(ls "$small" | grep -v '^vantor.log$' || true)" ] || fail "full volume: left behind: $(ls "$small")"
    status=0
    "$wine_run" "$prefix" cmd /c "set TEMP=R:\\&& set TMP=R:\\&& $(windows "$build/bin/setup.exe")" >/dev/null 2>&1 || status=$?
    [ "$status" = 255 ] || fail "read-only volume: exit status $status, expected 255 (-1)"
    [ -z "$(ls -A "$readonly_volume")" ] || fail "read-only volume: something was written"
    printf 'small-and-read-only-temp\t%s\t%s\t%s\n' \
        "TEMP on a 4 MiB volume (tmpfs) too small for the 160 MB payload; TEMP on a read-only volume" \
        "full: the write error recorded as a full disk, exit code -1, the temporary file and the directory removed; read-only: exit code -1, nothing written (the log can't be written either)" \
        "faults=2;left=0" >"$results/small-and-read-only-temp.tsv"
else
    fail "cannot mount tmpfs volumes (root is needed)"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "3 passed, 0 failed"
