#!/usr/bin/env bash
# A tiny consumer project uses add_setup_launcher() both ways: through the installed package
# (find_package(SetupLauncher)) and through add_subdirectory() of the sources. Each build must produce
# ProductSetup.exe carrying the payload, the icon and the version, and the launcher must run the payload and
# return its exit code.
# Usage: cmake-consumer-test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source=$1
build=$2
wine_run=$source/cmake/wine-run.sh
work=$(mktemp -d "$build/consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
# shellcheck source=script-checks.sh
source "$source/tests/script-checks.sh"

# The payload is the demo installer with a tag appended (it still runs), so the tag shows it inside.
tag="kro-consumer-$$-$RANDOM"
cp "$build/bin/demo-installer.exe" "$work/installer.exe"
printf '%s' "$tag" >>"$work/installer.exe"
cp -r "$source/tests/consumer" "$work/project"
cp "$source/src/windows/wrappers/wrapper4wrapper/resources/launcher.ico" "$work/project/release.ico"

# check NAME EXE PREFIX: the launcher the consumer built.
check() {
    local name=$1 exe=$2 prefix=$3
    if [ ! -f "$exe" ]; then
        fail "$name: no $exe"
        return
    fi
    grep -qa "$tag" "$exe" || fail "$name: the launcher does not carry the payload"
    local strings
    strings=$(strings -el "$exe")
    for text in "Consumer Product" "Consumer Company" "4.5.6.7" "ProductSetup.exe" "Setup Launcher"; do
        grep -qxF "$text" <<<"$strings" || fail "$name: the version block lacks '$text'"
    done
    local report=$work/$name-report.txt
    DEMO_INSTALLER_REPORT=$(windows "$report") "$wine_run" "$prefix" "$exe" /exit=23
    local status=$?
    [ "$status" = 23 ] || fail "$name: the launcher returned $status, not the payload's 23"
    [ -f "$report" ] || fail "$name: the payload did not run"
}

# 1. The installed package, in a project that enables no language: only the tool runs, under the Wine that
# the package finds itself (in the build's prefix, which is ready).
if ! cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
    fail "install failed: $(tail -n 5 "$work/install.log")"
elif ! cmake -S "$work/project" -B "$work/package" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DCONSUMER_PAYLOAD="$work/installer.exe" >"$work/package.log" 2>&1; then
    fail "find_package: configure failed: $(tail -n 5 "$work/package.log")"
elif ! WINEPREFIX=$build/wineprefix WINEDEBUG=-all cmake --build "$work/package" >>"$work/package.log" 2>&1; then
    fail "find_package: build failed: $(tail -n 5 "$work/package.log")"
else
    check package "$work/package/ProductSetup.exe" "$build/wineprefix"
fi

# 2. The sources as a subdirectory, with the launcher's toolchain: its emulator runs the tool.
if ! cmake -S "$work/project" -B "$work/subdirectory" -G Ninja --toolchain "$source/cmake/mingw-w64-x86_64.cmake" \
    -DSETUP_LAUNCHER_SOURCE="$source" -DCONSUMER_PAYLOAD="$work/installer.exe" >"$work/subdirectory.log" 2>&1; then
    fail "add_subdirectory: configure failed: $(tail -n 5 "$work/subdirectory.log")"
elif ! cmake --build "$work/subdirectory" --target product-setup >>"$work/subdirectory.log" 2>&1; then
    fail "add_subdirectory: build failed: $(tail -n 5 "$work/subdirectory.log")"
else
    check subdirectory "$work/subdirectory/ProductSetup.exe" "$work/subdirectory/wineprefix"
    WINEPREFIX=$work/subdirectory/wineprefix /usr/lib/wine/wineserver -k 2>/dev/null || true
fi

finish "consumer projects"
