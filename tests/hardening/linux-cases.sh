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

# A case's row holds what it observed: each observation is recorded as held or, failing, as failed.
held=()
failed=()
observe() { # observe DESCRIPTION CONDITION...
    local what=$1
    shift
    if "$@"; then held+=("$what"); else failed+=("$what"); fail "$what"; fi
}
row() { # row NAME TRIED COUNTS
    local outcome
    if [ ${#failed[@]} -eq 0 ]; then
        outcome=$(printf '%s; ' "${held[@]}")
    else
        outcome="FAILED: $(printf '%s; ' "${failed[@]}")"
    fi
    printf '%s\t%s\t%s\t%s\n' "$1" "$2" "${outcome%; }" "$3" >"$results/$1.tsv"
    held=()
    failed=()
}

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
observe "exit code -1" grep -q "exit code: 4294967295" "$work/link-run.txt"
observe "tampering reported" grep -q "Secure directory is tempered, exiting..." "$temp/vantor.log"
observe "the link's target and its files untouched" test "$(cat "$outside/keep.txt")" = precious
left=0
if [ -n "${dir_unix:-}" ] && [ -e "$dir_unix" ]; then
    # Windows removes the link itself; Wine cannot remove a Unix link to a folder through the Windows API.
    left=$(ls -A "$dir_unix" | wc -l)
    observe "nothing but the link left (Wine cannot remove a Unix link)" test "$(ls -A "$dir_unix")" = planted-link
    rm -rf "$dir_unix"
fi
row link-in-secure-directory \
    "a symbolic link to a folder with files, planted in the secure directory between extraction and the check" \
    "attacks=1;left=$left"

# 2. The launcher on N: changed in place from the server's side after its start (no share mode binds that
# writer). Wine maps read-only sections from the file: only a writable one shows what Windows shows for all.
share=$build/network/edited-$$
mkdir -p "$share" "$work/edit"
cp "$build/bin/setup-hooks.exe" "$share/"
rm -f "$temp/vantor.log"
KRO_TEST_PAUSE_DIR=$(windows "$work/edit") KRO_TEST_PAUSE_AT=directory-created "$wine_run" "$prefix" \
    "$build/bin/exit-code-runner.exe" "N:\\edited-$$\\setup-hooks.exe" /exit=3 >"$work/edit-run.txt" 2>&1 &
runner=$!
for _ in $(seq 1 600); do [ -e "$work/edit/paused.txt" ] && break; sleep 0.1; done
data=$((16#$(x86_64-w64-mingw32-objdump -h "$share/setup-hooks.exe" | awk '$2 == ".data" { print $6 }')))
byte=$(od -An -tu1 -j "$data" -N1 "$share/setup-hooks.exe" | tr -d ' ')
printf "$(printf '\\%03o' $((255 - byte)))" | dd of="$share/setup-hooks.exe" bs=1 seek="$data" conv=notrunc 2>/dev/null
touch "$work/edit/continue"
wait "$runner" || true
observe "exit code -1" grep -q "exit code: 4294967295" "$work/edit-run.txt"
observe "the difference named" grep -q "is not the program that runs: it differs in section .data at offset 0x0" "$temp/vantor.log"
observe "the copy never started" test "$(grep -c "Created \[.*\] directory" "$temp/vantor.log")" = 1
rm -rf "$share"
row share-edited-in-place "the launcher on N: changed in place from the server's side after its start" "attacks=1"

# 3. TEMP on a 4 MiB volume, too small for the 160 MB payload; 4. TEMP on a read-only volume.
small=$work/small
readonly_volume=$work/readonly
mkdir -p "$small" "$readonly_volume"
if mount -t tmpfs -o size=4m tmpfs "$small" && mount -t tmpfs -o ro,size=1m tmpfs "$readonly_volume"; then
    mounts=("$small" "$readonly_volume")
    ln -sfn "$small" "$prefix/dosdevices/s:"
    ln -sfn "$readonly_volume" "$prefix/dosdevices/r:"
    # Wine's mount manager learns of new drives when its server starts: without it they have no kernel name,
    # and the launcher would rightly pass them over for another folder.
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -w 2>/dev/null || true
    large=$build/bin/setup-large.exe
    status=0
    "$wine_run" "$prefix" cmd /c "set TEMP=S:\\&& set TMP=S:\\&& $(windows "$large")" >/dev/null 2>&1 || status=$?
    observe "full: exit code -1" test "$status" = 255
    observe "full: the write error recorded as a full disk" grep -q "WriteFile(S:\\\\kro.*System error \[112\]" "$small/vantor.log"
    left_small=$(ls "$small" | grep -vc '^vantor.log$' || true)
    observe "full: the temporary file and the directory removed" test "$left_small" = 0
    status=0
    "$wine_run" "$prefix" cmd /c "set TEMP=R:\\&& set TMP=R:\\&& $(windows "$build/bin/setup.exe")" >/dev/null 2>&1 || status=$?
    observe "read-only: refused there, the run works in the next place (the installer's exit code 0)" \
        test "$status" = 0
    left_readonly=$(ls -A "$readonly_volume" | wc -l)
    observe "read-only: nothing written (the log can't be written either)" test "$left_readonly" = 0
    row small-and-read-only-temp \
        "TEMP on a 4 MiB volume (tmpfs) too small for the 160 MB payload; TEMP on a read-only volume" \
        "faults=2;left=$((left_small + left_readonly))"
else
    fail "cannot mount tmpfs volumes (root is needed)"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "4 passed, 0 failed"
