#!/usr/bin/env bash
# The native launcher-stamp and the Windows one (under Wine) write the same bytes for the same inputs: plain,
# with an icon, versions and strings (non-ASCII among them), restamped, and the payload extracted again.
# Usage: same-bytes-test.sh NATIVE_TOOL WINDOWS_BUILD SOURCE_DIR
set -uo pipefail
native=$1
build=$2
source=$3
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=../../script-checks.sh
source "$source/tests/script-checks.sh"
icon=$source/src/windows/wrappers/wrapper4wrapper/resources/launcher.ico

# both NAME ARGS...: runs each tool with the arguments, in which @ stands for the output (native/NAME.exe and
# windows/NAME.exe: OUT's name is in it) and paths are Linux paths; fails unless both succeed with equal outputs.
mkdir "$work/native" "$work/windows"
both() {
    local name=$1 args=() windows_args=() arg
    shift
    for arg in "$@"; do
        case $arg in
            @) args+=("$work/native/$name.exe"); windows_args+=("$(windows "$work/windows/$name.exe")") ;;
            /*) args+=("$arg"); windows_args+=("$(windows "$arg")") ;;
            *) args+=("$arg"); windows_args+=("$arg") ;;
        esac
    done
    "$native" "${args[@]}" >"$work/$name.native.log" 2>&1 || fail "$name: the native tool failed: $(cat "$work/$name.native.log")"
    "$source/cmake/wine-run.sh" "$build/wineprefix" "$bin/launcher-stamp.exe" "${windows_args[@]}" \
        >"$work/$name.windows.log" 2>&1 || fail "$name: the Windows tool failed: $(cat "$work/$name.windows.log")"
    cmp -s "$work/native/$name.exe" "$work/windows/$name.exe" || fail "$name: the tools wrote different bytes"
}

both plain --payload "$bin/demo-installer.exe" --output @ "$bin/setup-stub.exe"
both branded --payload "$bin/demo-installer.exe" --icon "$icon" --file-version 4.5.6.7 --product-version 4.5.0.0 \
    --version-string "ProductName=Acmé ✓ Product" --version-string "Comments=second line" --output @ "$bin/setup-stub.exe"
both restamped --payload "$bin/elevation-probe.exe" --force --output @ "$work/native/branded.exe"
both extracted extract --output @ "$work/native/branded.exe"
cmp -s "$work/native/extracted.exe" "$bin/demo-installer.exe" || fail "extract: not the payload"
finish "same bytes"
