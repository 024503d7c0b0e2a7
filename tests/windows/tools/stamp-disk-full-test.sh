#!/usr/bin/env bash
# launcher-stamp on a volume that fills up while it writes: exit code 1, the system's reason, and neither OUT
# nor its temporary file left behind. The volume is a small tmpfs mount, which needs root. Runs the Windows
# tool of BUILD_DIR under Wine, or NATIVE_TOOL on BUILD_DIR's stub when it is given.
# Usage: stamp-disk-full-test.sh WINE_RUN BUILD_DIR [NATIVE_TOOL]
set -uo pipefail
wine_run=$1
build=$2
native=${3:-}
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: mounting the small volume needs root"
    exit 77
fi
work=$(mktemp -d "$build/disk-full.XXXXXX")
small=$work/small
mkdir -p "$small"
cleanup() {
    umount "$small" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=../../script-checks.sh
source "$(dirname "$0")/../../script-checks.sh"

# Smaller than the stub and the payload together.
mount -t tmpfs -o size=1m tmpfs "$small" || { echo "FAIL: cannot mount a tmpfs"; exit 1; }
stamp() { "$wine_run" "$build/wineprefix" "$build/bin/launcher-stamp.exe" "$@"; }
reason="^launcher-stamp: error: .*WriteFile failed.*\[112\]"
if [ -n "$native" ]; then
    stamp() { "$native" "$@"; }
    windows() { echo "$1"; }
    reason="^launcher-stamp: error: (write|copy_file_range)\(.*\) failed: system error 28 "
fi
stamp --payload "$(windows "$build/bin/demo-installer.exe")" --output "$(windows "$small/setup.exe")" \
    "$(windows "$build/bin/setup-stub.exe")" >"$work/output.txt" 2>&1
status=$?
[ "$status" = 1 ] || fail "exit code $status, not 1: $(cat "$work/output.txt")"
grep -qE "$reason" "$work/output.txt" ||
    fail "no disk-full message: $(cat "$work/output.txt")"
[ -z "$(ls -A "$small")" ] || fail "left behind on the full volume: $(ls -A "$small")"
finish "disk full"
