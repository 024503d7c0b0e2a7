#!/usr/bin/env bash
# What moving the payload into a new file costs on this machine, for bench/run.sh: bench-copy.exe writes
# PAYLOAD's bytes into a new file in TEMP each way a launcher could (straight from a mapping of it, or read
# and written through a buffer: its size, the sequential-scan hint, the output's size set up front, a second
# buffer read ahead), ROUNDS times alternating, each run in a process of its own on one core and started
# without dirty pages left by the one before. The first way against the launcher's tells what kind of machine
# this is: how much more a page fault costs here than a read. Prints that sentence on its first line, then a
# Markdown table of every way.
# Usage: bench/copy-ways.sh ROUNDS PAYLOAD WINDOWS_BUILD   (WINEPREFIX and WINESERVER set by the caller)
set -euo pipefail
rounds=$1
build=$3
wine=/usr/lib/wine/wine64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Every byte written out: the benchmark pads its payload with a hole, which reads without touching memory.
cp --sparse=never "$2" "$work/payload.exe"
bytes=$(stat -c %s "$work/payload.exe")
source_path="Z:${work//\//\\}\\payload.exe"
target_path="Z:${work//\//\\}\\copy.exe"

# The launcher's way first, the mapping second: their ratio is the machine's kind.
ways=(read:1024 map read:256 read:4096 read:16384 read:1024:sequential read:1024:end-of-file
      read:1024:allocation read:1024:read-ahead)
for ((i = 0; i <= rounds; i++)); do  # round 0 warms the page cache
    for way in "${ways[@]}"; do
        sync
        us=$(taskset -c 0 "$wine" "$build/bin/bench-copy.exe" "$source_path" "$target_path" "$way" </dev/null |
             tr -d '\r') || { echo "FAIL: bench-copy $way failed" >&2; exit 1; }
        [ "$i" = 0 ] || echo "$way $us" >>"$work/times"
    done
done

# median WAY: its median in ms, or what the system answered where it refused the way.
median() {
    if grep -q "^$1 unsupported" "$work/times"; then
        grep -m1 "^$1 unsupported" "$work/times" | cut -d' ' -f2-
        return
    fi
    grep "^$1 " "$work/times" | awk '{print $2}' | sort -n |
        awk '{ v[NR] = $1 } END { printf "%.1f", ((NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1e3 }'
}
base=$(median "${ways[0]}")
ratio() { awk -v a="$1" -v b="$base" 'BEGIN { if (a + 0 > 0) printf "%.2f", a / b }'; }
mapped=$(median map)
echo "Machine kind: writing the $bytes-byte payload into a new file straight from a mapping of it takes $(ratio "$mapped") times as long as reading and writing it through a 1 MiB buffer ($mapped ms against $base ms; medians of $rounds rounds under Wine, one core, \`bench/copy-ways.sh\`). Where this ratio is high, every page fault is dear, and a launcher that writes from its mapped image pays it for each of the payload's $((bytes / 4096)) pages."
echo "
Each way of moving the payload into a new file in TEMP (created, written, closed and deleted; \`bench-copy.exe SOURCE TARGET WAY\`), medians of $rounds rounds alternating:

| way | median ms | × read:1024 |
|---|---|---|"
for way in "${ways[@]}"; do
    echo "| \`$way\` | $(median "$way") | $(ratio "$(median "$way")") |"
done
