#!/usr/bin/env bash
# A tiny consumer project uses add_setup_launcher() both ways: through the installed package
# (find_package(SetupLauncher)) and through add_subdirectory() of the sources. Each is configured and built
# with no Wine on PATH and must stamp with a native launcher-stamp (the package's, or one the sources build),
# producing ProductSetup.exe that carries the payload, the icon, the version and its strings, signed by the
# SIGN_COMMAND (osslsigncode, a throwaway certificate, its password in the environment and in no build file;
# a wrong one fails naming the signer, showing none); the launcher must run the payload and return its exit
# code. As a subdirectory, the sources keep the consumer's build type and warnings, build no tests and take
# no cpack of the consumer's. Given PACKAGE (an unpacked release archive), the first project uses it, and
# the second doesn't run.
# Usage: cmake-consumer-test.sh SOURCE_DIR BUILD_DIR [PACKAGE]
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
export CONSUMER_SIGNING_PASSWORD="kro-secret-$$-$RANDOM"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Consumer Test Signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
        -passout env:CONSUMER_SIGNING_PASSWORD || fail "openssl could not make the certificate"
signing=(-DCONSUMER_PKCS12="$work/cert.p12")
# Configured and built with the system's own folders on PATH only: no Wine there.
no_wine=(env PATH=/usr/local/bin:/usr/bin:/bin)

# check NAME EXE PREFIX TOOL: the launcher the consumer built, stamped by the native TOOL.
check() {
    local name=$1 exe=$2 prefix=$3 tool=$4 build_dir
    build_dir=$(dirname "$exe")
    if [ ! -f "$exe" ]; then
        fail "$name: no $exe"
        return
    fi
    grep -qa "$tag" "$exe" || fail "$name: the launcher does not carry the payload"
    local strings
    strings=$(strings -el "$exe")
    for text in "Consumer Product" "Consumer Company" "4.5.6.7" "ProductSetup.exe" "Setup Launcher" \
        "Built by the consumer" "Consumer Company 2026"; do
        grep -qxF "$text" <<<"$strings" || fail "$name: the version block lacks '$text'"
    done
    grep -qF "$tool --payload" "$build_dir/build.ninja" || fail "$name: not stamped by $tool"
    ! grep -q SETUP_LAUNCHER_WINE "$build_dir/CMakeCache.txt" || fail "$name: looked for Wine"
    osslsigncode verify -CAfile "$work/cert.pem" -in "$exe" >/dev/null 2>&1 || fail "$name: the signature does not verify"
    local release
    release=$("$tool" --version)
    "$tool" inspect --json "$exe" | grep -q "^{\"file\":\"[^\"]*\",\"launcher\":\"${release#* }\",\"signed\":true," ||
        fail "$name: inspect does not see the release and the signature: $("$tool" inspect --json "$exe")"
    local report=$work/$name-report.txt
    DEMO_INSTALLER_REPORT=$(windows "$report") "$wine_run" "$prefix" "$exe" /exit=23
    local status=$?
    [ "$status" = 23 ] || fail "$name: the launcher returned $status, not the payload's 23"
    [ -f "$report" ] || fail "$name: the payload did not run"
}

# 1. The installed package (with the native tool this build installs), or PACKAGE, in a project that enables
# no language: only the tool runs.
package=${3:-$work/prefix}
if [ -z "${3:-}" ] && ! cmake --install "$build" --prefix "$package" >"$work/install.log" 2>&1; then
    fail "install failed: $(tail -n 5 "$work/install.log")"
elif ! "${no_wine[@]}" cmake -S "$work/project" -B "$work/package" -G Ninja -DCMAKE_PREFIX_PATH="$package" \
    -DCONSUMER_PAYLOAD="$work/installer.exe" "${signing[@]}" >"$work/package.log" 2>&1; then
    fail "find_package: configure failed: $(tail -n 5 "$work/package.log")"
elif ! "${no_wine[@]}" cmake --build "$work/package" >>"$work/package.log" 2>&1; then
    fail "find_package: build failed: $(tail -n 5 "$work/package.log")"
else
    check package "$work/package/ProductSetup.exe" "$build/wineprefix" "$package/bin/launcher-stamp"
    # Signing with a wrong password fails naming the signer and its exit code, and shows no password.
    rm "$work/package/ProductSetup.exe"
    ! CONSUMER_SIGNING_PASSWORD="kro-wrong-$$" "${no_wine[@]}" cmake --build "$work/package" >"$work/failed.log" 2>&1 ||
        fail "a wrong password signed"
    tr -s ' \n' ' ' <"$work/failed.log" | grep -qF "signing ProductSetup.exe failed: osslsigncode exited with 255" ||
        fail "the failed signing does not name the signer and its exit code: $(cat "$work/failed.log")"
    ! grep -qF -e kro-wrong- -e "$CONSUMER_SIGNING_PASSWORD" "$work/failed.log" || fail "a password is shown"
    [ ! -e "$work/package/ProductSetup.exe" ] || fail "the failed signing left a launcher"
fi
[ -z "${3:-}" ] || { finish "consumer of $package"; exit; }

# 2. The sources as a subdirectory, with the launcher's toolchain: they build the native tool too.
if ! "${no_wine[@]}" cmake -S "$work/project" -B "$work/subdirectory" -G Ninja \
    --toolchain "$source/cmake/mingw-w64-x86_64.cmake" -DSETUP_LAUNCHER_SOURCE="$source" \
    -DCONSUMER_PAYLOAD="$work/installer.exe" "${signing[@]}" >"$work/subdirectory.log" 2>&1; then
    fail "add_subdirectory: configure failed: $(tail -n 5 "$work/subdirectory.log")"
elif ! "${no_wine[@]}" cmake --build "$work/subdirectory" --target product-setup >>"$work/subdirectory.log" 2>&1; then
    fail "add_subdirectory: build failed: $(tail -n 5 "$work/subdirectory.log")"
else
    check subdirectory "$work/subdirectory/ProductSetup.exe" "$build/wineprefix" \
        "$work/subdirectory/setup-launcher/native-stamp/bin/launcher-stamp"
    for setting in CMAKE_BUILD_TYPE:STRING= KRO_WARNINGS_AS_ERRORS:BOOL=OFF KRO_BUILD_TESTS:BOOL=OFF; do
        grep -qx "$setting" "$work/subdirectory/CMakeCache.txt" || fail "add_subdirectory: not $setting"
    done
    [ ! -e "$work/subdirectory/CPackConfig.cmake" ] || fail "add_subdirectory: the launcher took the project's cpack"
fi
! grep -rlF "$CONSUMER_SIGNING_PASSWORD" "$work/package" "$work/subdirectory" || fail "a build file holds the password"

finish "consumer projects"
