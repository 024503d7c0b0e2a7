#!/usr/bin/env bash
# The release archives as a consumer gets them, packed by cpack from the Windows build (zip) and this one
# (tar.gz): names, SHA-256 beside each, files (the same stub in both), SHA256SUMS; the tar.gz unpacked in an
# empty folder serves a consumer project with no compiler and no Wine (cmake-consumer-test.sh).
# Usage: release-archive-test.sh SOURCE_DIR WINDOWS_BUILD HOST_BUILD
set -uo pipefail
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=script-checks.sh
source "$source/tests/script-checks.sh"
release=$("$3/bin/launcher-stamp" --version)
zip=setup-launcher-${release#* }-windows-x64
tgz=setup-launcher-${release#* }-$(uname -s | tr '[:upper:]' '[:lower:]')-$(uname -m)

# archive BUILD NAME EXTENSION TOOL: BUILD packs NAME.EXTENSION holding the package and TOOL, checked and
# unpacked into $work/NAME.
archive() {
    cpack --config "$1/CPackConfig.cmake" -B "$work/out" >"$work/$2.log" 2>&1 || fail "$2: $(tail -n 3 "$work/$2.log")"
    (cd "$work/out" && sha256sum --quiet -c "$2.$3.sha256") || fail "$2.$3: its .sha256 does not match"
    (cd "$work" && cmake -E tar xf "out/$2.$3") || fail "$2.$3 cannot be unpacked"
    local files
    files=$(cd "$work/$2" && find . -type f | LC_ALL=C sort | xargs)
    [ "$files" = "./README.md ./SHA256SUMS ./$4 ./lib/SetupLauncher/setup-stub.exe $(printf '%s ' \
        ./lib/cmake/SetupLauncher/SetupLauncher{Config,ConfigVersion,Functions,Sign}.cmake | xargs)" ] ||
        fail "$2.$3 holds $files"
    (cd "$work/$2" && sha256sum --quiet -c SHA256SUMS) || fail "$2.$3: SHA256SUMS does not match"
}

archive "$2" "$zip" zip bin/launcher-stamp.exe
archive "$3" "$tgz" tar.gz bin/launcher-stamp
cmp -s "$work/$zip/lib/SetupLauncher/setup-stub.exe" "$work/$tgz/lib/SetupLauncher/setup-stub.exe" ||
    fail "the archives' stubs differ"
bash "$source/tests/cmake-consumer-test.sh" "$source" "$2" "$work/$tgz" || fail "the consumer of $tgz failed"
finish "release archives"
