#!/usr/bin/env bash
# The binaries a release ships name none of the build's own folders (the sources, the build, the folder each
# binary was built in), in narrow or UTF-16 text, and every Windows image carries the time stamp
# SOURCE_DATE_EPOCH (0 where it is not set), not the time of its build.
# Usage: shipped-binaries-test.sh SOURCE_DIR BUILD_DIR BINARY...
set -uo pipefail
source=$1
build=$2
shift 2
# shellcheck source=script-checks.sh
source "$(dirname "$0")/script-checks.sh"

for binary in "$@"; do
    folders=("$source" "$build" "$(dirname "$(dirname "$binary")")")
    texts=$( (strings -a "$binary" && strings -a -el "$binary") 2>/dev/null) || fail "$binary: cannot be read"
    for folder in "${folders[@]}"; do
        found=$(grep -cF "$folder" <<<"$texts")
        [ "$found" -eq 0 ] || fail "$binary names $folder $found times, for example: $(grep -m1 -F "$folder" <<<"$texts")"
    done
    if [ "$(head -c 2 "$binary")" = MZ ]; then
        header=$(od -An -tu4 -j 60 -N 4 "$binary" | tr -d ' ')
        stamp=$(od -An -tu4 -j $((header + 8)) -N 4 "$binary" | tr -d ' ')
        [ "$stamp" = "${SOURCE_DATE_EPOCH:-0}" ] || fail "$binary: time stamp $stamp, not ${SOURCE_DATE_EPOCH:-0}"
    fi
done
finish "$# shipped binaries"
