#!/usr/bin/env bash
# The release archives, as a consumer downloads them: cpack packs the Windows build's zip and this build's
# tar.gz; each has its name, its SHA-256 beside it, the package's files and its tool (the same stub in both)
# and a SHA256SUMS that checks them. The tar.gz, unpacked in an empty folder, serves a consumer project (no
# compiler, no Wine) whose launcher runs under Wine (cmake-consumer-test.sh).
# Usage: release-archive-test.sh SOURCE_DIR WINDOWS_BUILD HOST_BUILD
set -uo pipefail
source=$1
windows_build=$2
host_build=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=script-checks.sh
source "$source/tests/script-checks.sh"
release=$("$host_build/bin/launcher-stamp" --version)
release=${release#launcher-stamp }
mkdir "$work/unpacked"

# archive BUILD NAME EXTENSION TOOL: packs BUILD's archive, which must be NAME.EXTENSION and hold the package and
# TOOL, checks its sums and unpacks it into $work/unpacked/NAME.
archive() {
    local build=$1 name=$2 file=$2.$3 tool=$4 files
    if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/$name.log" 2>&1; then
        fail "$file: cpack failed: $(tail -n 3 "$work/$name.log")"
        return
    fi
    (cd "$work/out" && sha256sum --quiet -c "$file.sha256") || fail "$file: its .sha256 does not match"
    (cd "$work/unpacked" && cmake -E tar xf "$work/out/$file") || fail "$file: cannot be unpacked"
    files=$(cd "$work/unpacked/$name" && find . -type f | LC_ALL=C sort | xargs)
    [ "$files" = "./README.md ./SHA256SUMS ./$tool ./lib/SetupLauncher/setup-stub.exe $(printf '%s ' \
        ./lib/cmake/SetupLauncher/SetupLauncher{Config,ConfigVersion,Functions}.cmake | xargs)" ] ||
        fail "$file holds $files"
    (cd "$work/unpacked/$name" && sha256sum --quiet -c SHA256SUMS) || fail "$file: SHA256SUMS does not match"
}

zip=setup-launcher-$release-windows-x64
tgz=setup-launcher-$release-$(uname -s | tr '[:upper:]' '[:lower:]')-$(uname -m)
archive "$windows_build" "$zip" zip bin/launcher-stamp.exe
archive "$host_build" "$tgz" tar.gz bin/launcher-stamp
cmp -s "$work/unpacked/$zip/lib/SetupLauncher/setup-stub.exe" "$work/unpacked/$tgz/lib/SetupLauncher/setup-stub.exe" ||
    fail "the archives' stubs differ"
bash "$source/tests/cmake-consumer-test.sh" "$source" "$windows_build" "$work/unpacked/$tgz" ||
    fail "the consumer of $tgz.tar.gz failed"
finish "release archives"
