#!/usr/bin/env bash
# Every executable the build made is a 64-bit PE32+ image that imports Windows system DLLs only (the runtime is
# linked statically: no libstdc++, libgcc or winpthread DLLs). Each LAUNCHER also carries both run-from-swap
# flags (Windows loads it whole at the start from a share or removable media) and imports no K32 function
# (kernel32 has them from Windows 7 on: an older loader refuses an image that imports one).
# Usage: check-executables.sh OBJDUMP BIN_DIR [LAUNCHER...]
set -uo pipefail
objdump=$1
bin=$2
shift 2
allowed='^(kernel32|advapi32|msvcrt|user32|ntdll|shell32|ole32|version|imagehlp)\.dll$'

failures=0
count=0
for exe in "$bin"/*.exe; do
    count=$((count + 1))
    headers=$("$objdump" -p "$exe") || { echo "FAIL $exe: objdump failed"; failures=$((failures + 1)); continue; }
    if ! grep -q 'file format pei-x86-64' <<<"$headers" || ! grep -qE '^Magic[[:space:]]+020b' <<<"$headers"; then
        echo "FAIL $exe: not a PE32+ x86-64 image"
        failures=$((failures + 1))
    fi
    while read -r dll; do
        if ! grep -qiE "$allowed" <<<"$dll"; then
            echo "FAIL $exe imports $dll"
            failures=$((failures + 1))
        fi
    done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
done

for launcher in "$@"; do
    headers=$("$objdump" -p "$launcher")
    if [ "$(grep -cE '^[[:space:]]*copy to swap file if on (removable|network) media$' <<<"$headers")" != 2 ]; then
        echo "FAIL $launcher lacks a run-from-swap flag" && failures=$((failures + 1))
    fi
    if grep -E '[[:space:]]K32[A-Za-z0-9]+$' <<<"$headers"; then
        echo "FAIL $launcher imports the K32 functions above" && failures=$((failures + 1))
    fi
done

if [ "$count" -eq 0 ]; then
    echo "FAIL no executables in $bin"
    exit 1
fi
echo "$count executables checked, $failures problems"
[ "$failures" -eq 0 ]
