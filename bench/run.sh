#!/usr/bin/env bash
# The launcher's benchmark. Builds what it needs, then measures in one run, alternating the commands:
#   (a) the floor: copy the payload with the system's copy, start the copy, delete it;
#   (b) the launcher carrying the same payload;
#   (c) the peer: an uncompressed NSIS installer doing the same job;
#   (d) the least a conforming launcher can do: the payload as a read-only resource, one write, user32 for
#       one PeekMessageW, start, wait, delete;
# each with the 160 MB payload and with a tiny one. Measured twice: with wineserver and the measured commands
# sharing one core (steady), and unpinned, as users run it on several cores. Every run is checked: the payload
# ran (its marker file appeared) and its exit code (37) came back. First, what kind of machine this is: what
# writing the payload from a mapping costs against reading and writing it (bench/copy-ways.sh). Then the
# network branch's copy of the launcher's file alone: plain, and compared with the running program as the
# launcher does.
# Writes docs/performance.md from the run.
#   bench/run.sh [--rounds N]   (default 10)
#   bench/run.sh --smoke        (the tiny payload only, one round, no report: keeps the benchmark working)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

rounds=10
smoke=false
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        --smoke) smoke=true; rounds=1; shift ;;
        *) echo "usage: bench/run.sh [--rounds N] [--smoke]" >&2; exit 2 ;;
    esac
done

if ! $smoke; then
    bash scripts/setup.sh
    cmake --preset wine >/dev/null
fi
build=$root/build/wine
cmake --build "$build" --target bench launcher >/dev/null
prefix=$build/wineprefix-bench
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINESERVER=/usr/lib/wine/wineserver
wine=/usr/lib/wine/wine64
"$root/cmake/wine-run.sh" "$prefix" "$build/bin/bench-payload.exe" >/dev/null || true
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
# serve PIN...: (re)starts the persistent wineserver, run through PIN (taskset -c 0, or nothing).
serve() {
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    "$@" "$WINESERVER" -p </dev/null >/dev/null 2>&1
}
pin=(taskset -c 0)
serve "${pin[@]}"

work=$(mktemp -d)
marker_unix=$work/marker
export BENCH_MARKER="Z:${marker_unix//\//\\}"

# run NAME PROGRAM ARGS...: one checked, timed run; appends "NAME seconds" to $work/times.
run() {
    local name=$1
    shift
    rm -f "$marker_unix"
    # Every command starts without dirty pages left by the one before: 160 MB written a run makes the kernel
    # throttle whichever writer comes next, which would measure the order, not the commands.
    sync
    local start end status=0
    start=$(date +%s%N)
    "${pin[@]}" "$wine" "$@" </dev/null >/dev/null 2>&1 || status=$?
    end=$(date +%s%N)
    if [ "$status" != 37 ] || [ ! -e "$marker_unix" ]; then
        echo "FAIL: $name did not run its payload or lost its exit code (exit $status)" >&2
        exit 1
    fi
    echo "$name$suffix $(((end - start) / 1000))" >>"$work/times"
}

args=(/quiet "INSTALLDIR=C:\\Program Files\\Bench\\")
sizes=(tiny)
$smoke || sizes=(large tiny)
# measure: every variant, every size, the rounds alternating; times are named SIZE-VARIANT plus $suffix.
measure() {
    for size in "${sizes[@]}"; do
        payload=$build/bench/payload-$size.exe
        floor=("$build/bin/bench-floor.exe" "Z:${payload//\//\\}" "${args[@]}")
        launcher=("$build/bin/setup-$size.exe" "${args[@]}")
        peer=("$build/bench/peer-$size.exe" "${args[@]}")
        minimum=("$build/bin/bench-minimum-$size.exe" "${args[@]}")
        # Warm-up: the page cache holds every file before anything is measured.
        run warmup "${floor[@]}"; run warmup "${launcher[@]}"; run warmup "${peer[@]}"; run warmup "${minimum[@]}"
        for ((i = 0; i < rounds; i++)); do
            run "$size-floor" "${floor[@]}"
            run "$size-launcher" "${launcher[@]}"
            run "$size-peer" "${peer[@]}"
            run "$size-minimum" "${minimum[@]}"
        done
    done
}
# measure_copy: the network branch's copy of the launcher file alone, each run a new process (pinned), modes
# alternating: plain, compared with the running program chunk by chunk as it is read (as the launcher does),
# compared in a pass of its own after the copy. Times are named SIZE-copy-MODE.
measure_copy() {
    local out=$work/copy-times
    for size in "${sizes[@]}"; do
        for ((i = 0; i < rounds; i++)); do
            for mode in copy compare after; do
                rm -f "$out"
                sync
                if ! taskset -c 0 "$wine" "$build/bin/bench-copy-check-$size.exe" "$mode" "Z:${out//\//\\}" \
                    </dev/null >/dev/null 2>&1; then
                    echo "FAIL: bench-copy-check-$size.exe $mode failed" >&2
                    exit 1
                fi
                awk -v size="$size" '{ print size "-copy-" $1, $2 }' "$out" >>"$work/times"
            done
        done
    done
}
suffix=""
measure
measure_copy
if ! $smoke; then
    pin=()
    serve
    suffix="-unpinned"
    measure
    pin=(taskset -c 0)
    serve "${pin[@]}"
    suffix=""
fi

# min median max in seconds for one name
stats() {
    grep "^$1 " "$work/times" | awk '{print $2}' | sort -n | awk '
        { v[NR] = $1 }
        END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
              printf "%.3f %.3f %.3f", v[1] / 1e6, m / 1e6, v[NR] / 1e6 }'
}
median() { stats "$1" | awk '{print $2}'; }
minimum() { stats "$1" | awk '{print $1}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

table="| variant | min s | median s | max s |
|---|---|---|---|"
for size in "${sizes[@]}"; do
    for kind in floor launcher peer minimum; do
        for pinning in "" -unpinned; do
            grep -q "^$size-$kind$pinning " "$work/times" || continue
            read -r lo mid hi <<<"$(stats "$size-$kind$pinning")"
            table+=$'\n'"| $size $kind${pinning:+, unpinned} | $lo | $mid | $hi |"
        done
    done
done
tiny_ratio=$(ratio "$(median tiny-launcher)" "$(median tiny-minimum)")
copy_table="| the network branch's copy | min ms | median ms | against the plain copy (medians, minimums) |
|---|---|---|---|"
for size in "${sizes[@]}"; do
    for mode in copy compare after; do
        read -r lo mid hi <<<"$(stats "$size-copy-$mode")"
        copy_table+=$'\n'"| $size, $mode | $(awk -v v="$lo" 'BEGIN { printf "%.0f", v * 1000 }') | \
$(awk -v v="$mid" 'BEGIN { printf "%.0f", v * 1000 }') | \
$(ratio "$(median "$size-copy-$mode")" "$(median "$size-copy-copy")"), \
$(ratio "$(minimum "$size-copy-$mode")" "$(minimum "$size-copy-copy")") |"
    done
done

if $smoke; then
    echo "$table"
    echo "tiny-b/tiny-d = $tiny_ratio"
    echo "$copy_table"
    bash bench/copy-ways.sh 1 "$build/bench/payload-tiny.exe" "$build"
    bash bench/stamp-speed.sh 1 "$build/bench/payload-tiny.exe" "$build"
    echo "1 passed, 0 failed"
    rm -rf "$work"
    exit 0
fi

# ratio_row LABEL SIZE-DIVIDEND SIZE-DIVISOR GOAL: one row of the ratios' table, pinned and unpinned, by
# medians (which the goal judges) and by minimums: the fastest runs are the least disturbed by the shared
# machine.
ratio_row() {
    local label=$1 dividend=$2 divisor=$3 goal=$4 pinning met by_median
    for pinning in "" -unpinned; do
        by_median=$(ratio "$(median "$dividend$pinning")" "$(median "$divisor$pinning")")
        met=""
        [ -z "$goal" ] || met=$(awk -v r="$by_median" -v g="$goal" 'BEGIN { print (r <= g) ? "yes" : "**no**" }')
        echo "| $label${pinning:+, unpinned} | $by_median | $(ratio "$(minimum "$dividend$pinning")" \
            "$(minimum "$divisor$pinning")") | ${goal:+at most $goal} | $met |"
    done
}
ratios="| ratio | medians | minimums | goal (medians) | met |
|---|---|---|---|---|
$(ratio_row "b/a, large payload" large-launcher large-floor 1.25)
$(ratio_row "b/c, large payload" large-launcher large-peer 0.3)
$(ratio_row "tiny-b/tiny-d" tiny-launcher tiny-minimum 1.10)
$(ratio_row "b/d, large payload" large-launcher large-minimum "")"
# What kind of machine this is, and what each way of moving the payload gave on it.
{
    read -r machine_kind
    copy_ways=$(cat)
} < <(bash bench/copy-ways.sh "$rounds" "$build/bench/payload-large.exe" "$build")

# Phases of (b) and (d), in milliseconds from the command's start (medians of the rounds): (b) from its log's
# timestamps, (d) from its trace build. Both clocks are the system's wall clock.
temp_unix=$(ls -d "$prefix"/drive_c/users/*/Temp | head -n 1)
trace_unix=$work/trace
export BENCH_TRACE_FILE="Z:${trace_unix//\//\\}"
: >"$work/phases"
for size in "${sizes[@]}"; do
    for ((i = 0; i < rounds; i++)); do
        rm -f "$temp_unix/vantor.log"
        sync
        start=$(date +%s%N)
        taskset -c 0 "$wine" "$build/bin/setup-$size.exe" "${args[@]}" </dev/null >/dev/null 2>&1 || true
        end=$(date +%s%N)
        tr -d '\r' <"$temp_unix/vantor.log" | awk -v start="$start" -v end="$end" -v size="$size" '
            /^\[/ { split($0, f, /[\[,]/); stamp = f[2] }
            /^\t/ { sub(/^\t/, ""); name = ""
                if ($0 ~ /^TRACE: Created \[.*\] directory$/ && !dir++) name = "directory created"
                else if ($0 ~ /^TRACE: Created \[.*\] file$/) name = "installer file created"
                else if ($0 ~ /^TRACE: Deleted \[.*\.exe\] file$/) name = "installer ended and deleted"
                else if ($0 ~ /^TRACE: Deleted \[.*\] directory$/) name = "directory removed"
                if (name != "") { gsub("/", "-", stamp); cmd = "date -d \"" stamp "\" +%s%N"; cmd | getline ns; close(cmd)
                    printf "%s launcher %s %.1f\n", size, name, (ns - start) / 1e6 } }
            END { printf "%s launcher process ended %.1f\n", size, (end - start) / 1e6 }' >>"$work/phases"
        rm -f "$trace_unix"
        sync
        start=$(date +%s%N)
        taskset -c 0 "$wine" "$build/bin/bench-minimum-trace-$size.exe" "${args[@]}" </dev/null >/dev/null 2>&1 || true
        end=$(date +%s%N)
        awk -v start="$start" -v end="$end" -v size="$size" '
            { printf "%s minimum %s %.1f\n", size, $1, $2 / 1000 - start / 1e6 }
            END { printf "%s minimum process ended %.1f\n", size, (end - start) / 1e6 }' "$trace_unix" >>"$work/phases"
    done
done
phase_table="| payload | program | step | ms from the command's start (median) |
|---|---|---|---|"
while read -r size program step; do
    value=$(grep -F "$size $program $step " "$work/phases" | awk '{print $NF}' | sort -n | awk '
        { v[NR] = $1 } END { printf "%.0f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
    phase_table+=$'\n'"| $size | $program | $step | $value |"
done < <(awk '{ size = $1; program = $2; $1 = ""; $2 = ""; $NF = ""; sub(/^  /, ""); sub(/ $/, "");
                 key = size " " program " " $0; if (!seen[key]++) print key }' "$work/phases")

# peak_kib FIELD COMMAND...: the peak of /proc/PID/status FIELD (in KiB) of the process COMMAND runs as (Wine
# runs a program in the process it was started as), sampled every 5 ms.
peak_kib() {
    local field=$1 peak=0 value
    shift
    taskset -c 0 "$@" </dev/null >/dev/null 2>&1 &
    local pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        value=$(awk -v f="$field:" '$1 == f {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
        [ "${value:-0}" -gt "$peak" ] && peak=$value
        sleep 0.005
    done
    wait "$pid" || true
    echo "$peak"
}

# Peak private (anonymous) memory of the launcher process during one more large run.
rm -f "$marker_unix"
peak_kb=$(peak_kib RssAnon "$wine" "$build/bin/setup-large.exe")
# Stamping the large payload into the stub: the tool's peak resident memory (private and mapped together)
# against the payload's size.
stamped=$work/stamped.exe
stamp_kb=$(peak_kib VmHWM "$wine" "$build/bin/launcher-stamp.exe" \
    --payload "Z:${build//\//\\}\\bench\\payload-large.exe" --output "Z:${stamped//\//\\}" \
    "Z:${build//\//\\}\\bin\\setup-stub.exe")
[ -s "$stamped" ] || { echo "FAIL: launcher-stamp wrote no launcher" >&2; exit 1; }
peak_mib=$(awk -v k="$peak_kb" 'BEGIN { printf "%.1f", k / 1024 }')
stub_bytes=$(stat -c %s "$build/bin/setup-stub.exe")
stub_kib=$(awk -v b="$stub_bytes" 'BEGIN { printf "%.0f", b / 1024 }')
payload_bytes=$(stat -c %s "$build/bench/payload-large.exe")
stamp_mib=$(awk -v k="$stamp_kb" 'BEGIN { printf "%.1f", k / 1024 }')
stamp_ratio=$(awk -v k="$stamp_kb" -v b="$payload_bytes" 'BEGIN { printf "%.2f", k * 1024 / b }')
# launcher-stamp's time against cp's: a block of its own.
stamp_speed=$(bash bench/stamp-speed.sh "$rounds" "$build/bench/payload-large.exe" "$build")

report="# Performance

$machine_kind

Written by \`bench/run.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'): $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $($wine --version), $rounds rounds alternating, warm cache; once with wineserver and the measured command pinned to one core, once unpinned (as users run it).

Payload: a program that exits at once, padded to $payload_bytes bytes (large) or as it is (tiny). Each time is one whole command started from Linux, Wine's process start included.

- (a) floor: the system's copy of the payload, the copy started and waited for, then deleted
- (b) the launcher carrying the payload (every check, log record and clean-up included)
- (c) the peer: an uncompressed NSIS installer (amd64-unicode, silent, admin) extracting the same payload to its plugins folder, running it with the same arguments and passing its exit code on
- (d) the least a conforming launcher can do (bench/BenchMinimum.cpp): the payload as resource 100 in a page-aligned, read-only section, one \`WriteFile\` of it into a folder of its own in TEMP, user32 loaded by full path for one \`PeekMessageW\`, the payload started from that folder with the command line's tail, waited for, then the file and the folder deleted (retried a millisecond apart)

$table

$ratios

(d) stays the reference of the least a conforming launcher does, its payload written with one \`WriteFile\` straight from its mapped resource (the launcher reads its payload from its own held file instead): b/d is everything else the launcher does, and how the two ways of writing compare on this machine.

Where the time goes: each step's end, from the start of the command (Wine's process start included), for (b) from the timestamps of its log records (milliseconds), for (d) from its trace build.

$phase_table

The network branch's copy of the launcher with the large payload, timed alone (bench/BenchCopyCheck.cpp: a program carrying the payload holds its own file and copies it into a working directory from that handle, a new process each run, pinned): plain (copy), compared with the running program chunk by chunk as each is read (compare, what the launcher does; goal: at most 1.10 times the plain copy), and compared in a pass of its own over the written copy (after).

$copy_table

| memory and size | value | goal |
|---|---|---|
| launcher's peak private (anonymous) memory, large payload | $peak_mib MiB | under 32 MiB |
| stub (the launcher without payload) | $stub_kib KiB ($stub_bytes bytes) | under 1 MiB |
| launcher-stamp's peak resident memory, stamping the large payload | $stamp_mib MiB ($stamp_ratio × the payload) | at most 1.2 × the payload |

$copy_ways

$stamp_speed
"
mkdir -p docs
echo "$report" >docs/performance.md
echo "$report"
rm -rf "$work"
