#!/usr/bin/env bash
# The release pipelines' interface, exactly as the README gives it:
#   cmake -S . -B DIR -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake -DKRO_BUILD_TESTS=OFF -DLAUNCHER_PAYLOAD=...
#   cmake --build DIR && cmake --install DIR --prefix PREFIX
# A payload empty, missing (a relative one is taken from cmake's folder) or without "MZ", and tests without
# GoogleTest, stop the configure saying what to do; a good payload ends in DIR/bin/<LAUNCHER_OUTPUT_NAME>.exe,
# a release build that installs. Usage: build-interface-test.sh SOURCE_DIR PAYLOAD
set -uo pipefail
source=$1
payload=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=script-checks.sh
source "$source/tests/script-checks.sh"
configure() {
    (cd "$work" && cmake -S "$source" -B "$work/$1" -G Ninja --toolchain "$source/cmake/mingw-w64-x86_64.cmake" \
        -DKRO_BUILD_TESTS=OFF "${@:2}" >"$work/$1.log" 2>&1)
}

printf 'not a program' >"$work/text.exe"
# refused NAME MESSAGE ARGUMENTS...: configuring with the arguments stops with the message (CMake wraps it).
refused() {
    if configure "$1" "${@:3}"; then
        fail "$1: configured"
    elif ! tr -s ' \n' ' ' <"$work/$1.log" | grep -qF "$2"; then
        fail "$1: no clear message: $(tail -n 5 "$work/$1.log")"
    fi
}
refused empty "LAUNCHER_PAYLOAD is empty: give the installer's path, or leave the option out (-U LAUNCHER_PAYLOAD) for the demo installer" \
    -DLAUNCHER_PAYLOAD=
refused missing "LAUNCHER_PAYLOAD does not exist: '$work/none.exe'" -DLAUNCHER_PAYLOAD=none.exe
refused text "LAUNCHER_PAYLOAD is not a Windows executable (it does not start with \"MZ\"): '$work/text.exe'" \
    -DLAUNCHER_PAYLOAD="$work/text.exe"
refused googletest "GoogleTest sources not found at $work/none: configure with -DKRO_BUILD_TESTS=OFF to build without the tests" \
    -DKRO_BUILD_TESTS=ON -DKRO_GOOGLETEST_DIR="$work/none"
# A build tree configured before an empty payload was an error holds one as its default: it gets the demo.
mkdir "$work/earlier"
printf '%s\n' '//Absolute path of the installer that the launcher carries (empty: the demo installer)' \
    'LAUNCHER_PAYLOAD:FILEPATH=' >"$work/earlier/CMakeCache.txt"
configure earlier || fail "an earlier build tree stops: $(tail -n 5 "$work/earlier.log")"

# A real program with a tag appended (it still runs), so that the tag shows the payload inside the launcher.
tag="kro-build-interface-$$-$RANDOM"
cp "$payload" "$work/installer.exe"
printf '%s' "$tag" >>"$work/installer.exe"
if ! configure good -DLAUNCHER_PAYLOAD="$work/installer.exe" -DLAUNCHER_OUTPUT_NAME=product-setup; then
    fail "a good payload did not configure: $(tail -n 5 "$work/good.log")"
elif ! cmake --build "$work/good" >"$work/build.log" 2>&1; then
    fail "the build failed: $(tail -n 5 "$work/build.log")"
elif ! grep -qa "$tag" "$work/good/bin/product-setup.exe"; then
    fail "no $work/good/bin/product-setup.exe carrying the payload"
elif ! cmake --install "$work/good" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
    fail "the build does not install: $(tail -n 5 "$work/install.log")"
fi
grep -qx CMAKE_BUILD_TYPE:STRING=Release "$work/good/CMakeCache.txt" || fail "not a release build"
for file in bin/launcher-stamp.exe bin/launcher-stamp lib/SetupLauncher/setup-stub.exe \
    lib/cmake/SetupLauncher/SetupLauncherSign.cmake; do
    [ -f "$work/prefix/$file" ] || fail "not installed: $file"
done
finish "build interface"
