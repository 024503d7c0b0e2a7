#!/usr/bin/env bash
# launcher-stamp's speed, for bench/run.sh: the native tool (build/host) stamping PAYLOAD into the stub
# against a plain cp of PAYLOAD, and the Windows tool doing the same under Wine (its start included), ROUNDS
# times alternating, each run checked and started without dirty pages left by the one before, everything on
# one core. PAYLOAD's bytes are first written out in full: the benchmark pads its payload with a hole, which
# cp skips and an installer doesn't have. Prints a Markdown block for docs/performance.md.
# Usage: bench/stamp-speed.sh ROUNDS PAYLOAD WINDOWS_BUILD   (WINEPREFIX and WINESERVER set by the caller)
set -euo pipefail
rounds=$1
payload=$2
build=$3
root=$(cd "$(dirname "$0")/.." && pwd)
wine=/usr/lib/wine/wine64

cmake --preset host >/dev/null
cmake --build --preset host --target launcher-stamp >/dev/null
native=$root/build/host/bin/launcher-stamp
stub=$build/bin/setup-stub.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/out.exe
cp --sparse=never "$2" "$work/payload.exe"
payload=$work/payload.exe
z() { echo "Z:${1//\//\\}"; }

# timed NAME COMMAND...: one run into $out, checked; appends "NAME microseconds" to $work/times.
timed() {
    local name=$1 start end
    shift
    rm -f "$out"
    sync
    start=$(date +%s%N)
    taskset -c 0 "$@" </dev/null >/dev/null 2>&1 || { echo "FAIL: $name failed" >&2; exit 1; }
    end=$(date +%s%N)
    [ -s "$out" ] || { echo "FAIL: $name wrote nothing" >&2; exit 1; }
    echo "$name $(((end - start) / 1000))" >>"$work/times"
}
copy=(cp "$payload" "$out")
stamp=("$native" --payload "$payload" --output "$out" "$stub")
windows=("$wine" "$build/bin/launcher-stamp.exe" --payload "$(z "$payload")" --output "$(z "$out")" "$(z "$stub")")
timed warmup "${copy[@]}"; timed warmup "${stamp[@]}"; timed warmup "${windows[@]}"
for ((i = 0; i < rounds; i++)); do
    timed cp "${copy[@]}"
    timed native "${stamp[@]}"
    timed windows "${windows[@]}"
done

median() {
    grep "^$1 " "$work/times" | awk '{print $2}' | sort -n |
        awk '{ v[NR] = $1 } END { printf "%.3f", ((NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1e6 }'
}
cp_s=$(median cp)
native_s=$(median native)
windows_s=$(median windows)
ratio() { awk -v a="$1" -v b="$cp_s" 'BEGIN { printf "%.2f", a / b }'; }

echo "Stamping the payload ($(stat -c %s "$payload") bytes, no holes) into the stub, $rounds rounds alternating, medians (\`bench/stamp-speed.sh\`):

| command | median s | × cp | goal |
|---|---|---|---|
| \`cp\` of the payload | $cp_s | 1.00 | |
| native \`launcher-stamp\` (build/host) | $native_s | $(ratio "$native_s") | at most 1.2 |
| \`launcher-stamp.exe\` under Wine, its start included | $windows_s | $(ratio "$windows_s") | |"
