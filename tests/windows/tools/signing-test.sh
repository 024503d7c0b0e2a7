#!/usr/bin/env bash
# The release round trip on Linux: stamp the stub, sign the result with a throwaway self-signed certificate
# (osslsigncode), verify the signature and the launcher's release, run the signed launcher and get its payload's exit code back; then
# stamp the signed launcher again, which warns that the signature is gone, and check that it is. Stamping
# warns of an unsigned payload, and not of a signed one.
# Usage: signing-test.sh WINE_RUN BUILD_DIR
set -uo pipefail
wine_run=$1
build=$2
prefix=$build/wineprefix
work=$(mktemp -d "$build/signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
# shellcheck source=../../script-checks.sh
source "$(dirname "$0")/../../script-checks.sh"
stamp() { "$wine_run" "$prefix" "$build/bin/launcher-stamp.exe" "$@"; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Setup Launcher Test Signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 ||
    { echo "FAIL: openssl could not make the certificate"; exit 1; }

unsigned_warning="launcher-stamp: warning: PAYLOAD carries no Authenticode signature"
stamp --payload "$(windows "$build/bin/demo-installer.exe")" --file-version 3.1.0.7 \
    --output "$(windows "$work/stamped.exe")" "$(windows "$build/bin/setup-stub.exe")" >"$work/stamp.log" 2>&1 ||
    fail "stamping failed: $(cat "$work/stamp.log")"
grep -qF "$unsigned_warning" "$work/stamp.log" || fail "no warning of the unsigned payload: $(cat "$work/stamp.log")"

osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Demo Installer" -h sha256 \
    -in "$build/bin/demo-installer.exe" -out "$work/signed-installer.exe" >/dev/null 2>&1 ||
    fail "osslsigncode could not sign the payload"
stamp --payload "$(windows "$work/signed-installer.exe")" --output "$(windows "$work/signed-payload.exe")" \
    "$(windows "$build/bin/setup-stub.exe")" >"$work/signed-payload.log" 2>&1 ||
    fail "stamping the signed payload failed: $(cat "$work/signed-payload.log")"
! grep -qF "$unsigned_warning" "$work/signed-payload.log" || fail "a signed payload is taken for unsigned"

if ! osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Setup Launcher" -h sha256 \
    -in "$work/stamped.exe" -out "$work/signed.exe" >"$work/sign.log" 2>&1; then
    fail "osslsigncode could not sign the stamped launcher: $(tail -n 3 "$work/sign.log")"
fi
if ! osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.log" 2>&1; then
    fail "the signature does not verify: $(tail -n 5 "$work/verify.log")"
fi
# The signed launcher still says which release of the launcher it is: the tool's own.
release=$(stamp --version)
stamp inspect "$(windows "$work/signed.exe")" | grep -qx "launcher: ${release#launcher-stamp }" ||
    fail "inspect does not show the signed launcher's release ${release#launcher-stamp }"

# The signed launcher runs its payload and passes the exit code on.
report=$work/report.txt
DEMO_INSTALLER_REPORT=$(windows "$report") "$wine_run" "$prefix" "$work/signed.exe" /exit=42 "two words"
status=$?
[ "$status" = 42 ] || fail "the signed launcher returned $status, not the payload's 42"
grep -q "^arg=two words" "$report" 2>/dev/null || fail "the payload did not run: no report"

# Stamping the signed launcher again drops the signature, and says so.
stamp --payload "$(windows "$build/bin/demo-installer.exe")" \
    --output "$(windows "$work/restamped.exe")" "$(windows "$work/signed.exe")" >"$work/restamp.log" 2>&1
status=$?
[ "$status" = 0 ] || fail "restamping the signed launcher failed ($status): $(cat "$work/restamp.log")"
grep -qF "launcher-stamp: warning: LAUNCHER was signed; the signature does not survive stamping: sign OUT again" \
    "$work/restamp.log" || fail "no warning that the signature is gone: $(cat "$work/restamp.log")"
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/restamped.exe" >/dev/null 2>&1; then
    fail "the restamped launcher still verifies"
fi
rm -f "$report"
DEMO_INSTALLER_REPORT=$(windows "$report") "$wine_run" "$prefix" "$work/restamped.exe" /exit=7
status=$?
[ "$status" = 7 ] && [ -e "$report" ] || fail "the restamped launcher returned $status or did not run its payload"

finish "signing round trip"
