#!/usr/bin/env bash
# Builds the release twice, one build after the other, from two copies of these sources at two paths, with
# the release commands (cmake --workflow --preset release-windows, then release-host), and compares
# setup-stub.exe, launcher-stamp.exe and the native launcher-stamp byte for byte, and the archives' SHA256SUMS:
# the same sources and toolchain must give the same files in any folder at any time. Ends with its time.
# Usage: scripts/check-reproducible.sh   (in a git checkout; copies the tracked files as they are now)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
start=$(date +%s)

# build COPY: the sources copied to COPY, and the release built there.
build() {
    mkdir -p "$1"
    (cd "$root" && git ls-files -z | tar --null -T - -cf -) | tar -xf - -C "$1"
    if ! (cd "$1" && cmake --workflow --preset release-windows && cmake --workflow --preset release-host) \
        >"$work/build.log" 2>&1; then
        tail -n 20 "$work/build.log"
        echo "check-reproducible: the release does not build in $1" >&2
        exit 1
    fi
}
first=$work/first
second=$work/second/copy/of/the/sources
build "$first"
build "$second"

# sums ARCHIVE: the SHA256SUMS it carries.
sums() { (mkdir -p "$work/sums" && cd "$work/sums" && cmake -E tar xf "$1" && cat ./*/SHA256SUMS && rm -r ./*/); }
differ=0
for file in build/release-windows/bin/setup-stub.exe build/release-windows/bin/launcher-stamp.exe \
    build/release-host/bin/launcher-stamp; do
    cmp "$first/$file" "$second/$file" || { echo "FAIL: $file differs"; differ=$((differ + 1)); }
done
for archive in "$first"/build/release-windows/setup-launcher-*.zip "$first"/build/release-host/setup-launcher-*.tar.gz; do
    [ "$(sums "$archive")" = "$(sums "$second/${archive#"$first"/}")" ] ||
        { echo "FAIL: the SHA256SUMS of ${archive##*/} differ"; differ=$((differ + 1)); }
done
echo "check-reproducible: $differ differences in the stub, both tools and the archives' sums, $(($(date +%s) - start)) s"
[ "$differ" -eq 0 ]
