#!/usr/bin/env bash
# Every executable the build made is a 64-bit PE32+ image that imports Windows system DLLs only (the runtime is
# linked statically: no libstdc++, libgcc or winpthread DLLs). Each LAUNCHER also carries both run-from-swap
# flags: Windows loads it whole at the start from a share or removable media.
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
    for flag in 'copy to swap file if on removable media' 'copy to swap file if on network media'; do
        if ! grep -q "^[[:space:]]*$flag\$" <<<"$headers"; then
            echo "FAIL $launcher lacks the header flag: $flag"
            failures=$((failures + 1))
        fi
    done
done

if [ "$count" -eq 0 ]; then
    echo "FAIL no executables in $bin"
    exit 1
fi
echo "$count executables checked, $failures problems"
[ "$failures" -eq 0 ]
