#!/usr/bin/env bash
# The release pipelines' interface, exactly as the README gives it:
#   cmake -S . -B DIR -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake -DLAUNCHER_PAYLOAD=/abs/installer.exe
#   cmake --build DIR --target launcher
# A payload that is missing or does not start with "MZ" stops the configure with a message naming it; a good
# one ends in DIR/bin/<LAUNCHER_OUTPUT_NAME>.exe carrying it. Usage: build-interface-test.sh SOURCE_DIR PAYLOAD
set -uo pipefail
source=$1
payload=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=script-checks.sh
source "$source/tests/script-checks.sh"
configure() {
    cmake -S "$source" -B "$work/$1" -G Ninja --toolchain "$source/cmake/mingw-w64-x86_64.cmake" \
        -DKRO_BUILD_TESTS=OFF -DKRO_BUILD_BENCH=OFF "${@:2}" >"$work/$1.log" 2>&1
}

printf 'not a program' >"$work/text.exe"
# A real program with a tag appended (it still runs), so that the tag shows the payload inside the launcher.
tag="kro-build-interface-$$-$RANDOM"
cp "$payload" "$work/installer.exe"
printf '%s' "$tag" >>"$work/installer.exe"
if configure missing -DLAUNCHER_PAYLOAD="$work/none.exe"; then
    fail "a missing payload configured"
elif ! grep -q "LAUNCHER_PAYLOAD must name an existing installer by absolute path" "$work/missing.log" ||
     ! grep -q "'$work/none.exe'" "$work/missing.log"; then
    fail "no clear message for a missing payload: $(tail -n 5 "$work/missing.log")"
fi
if configure text -DLAUNCHER_PAYLOAD="$work/text.exe"; then
    fail "a payload without MZ configured"
elif ! grep -q "LAUNCHER_PAYLOAD is not a Windows executable (it does not start with \"MZ\")" "$work/text.log" ||
     ! grep -q "'$work/text.exe'" "$work/text.log"; then
    fail "no clear message for a payload without MZ: $(tail -n 5 "$work/text.log")"
fi

if ! configure good -DLAUNCHER_PAYLOAD="$work/installer.exe" -DLAUNCHER_OUTPUT_NAME=product-setup; then
    fail "a good payload did not configure: $(tail -n 5 "$work/good.log")"
elif ! cmake --build "$work/good" --target launcher >"$work/build.log" 2>&1; then
    fail "the launcher did not build: $(tail -n 5 "$work/build.log")"
elif [ ! -f "$work/good/bin/product-setup.exe" ]; then
    fail "no $work/good/bin/product-setup.exe"
elif ! grep -qa "$tag" "$work/good/bin/product-setup.exe"; then
    fail "the launcher does not carry the payload"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "3 passed, 0 failed"
