#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix belongs to the build tree. It is created on first use (under a lock, since ctest runs tests in
# parallel) and served by one persistent wineserver, so later starts cost milliseconds, not seconds. Its drive
# N: is the folder "network" beside the prefix and reports itself as a network drive.
set -euo pipefail

prefix=$1
shift

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINESERVER=/usr/lib/wine/wineserver
wine=/usr/lib/wine/wine64

if [ ! -f "$prefix/.ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/.ready" ]; then
            "$wine" wineboot --init >/dev/null 2>&1 || true
            network="$(dirname "$prefix")/network"
            mkdir -p "$network"
            ln -sfn "$network" "$prefix/dosdevices/n:"
            "$wine" reg add 'HKLM\Software\Wine\Drives' /v n: /t REG_SZ /d network /f >/dev/null 2>&1
            # The drive types are read when the server's services start: restart them.
            "$WINESERVER" -k || true
            "$WINESERVER" -w || true
            touch "$prefix/.ready"
        fi
    ) 9>"$prefix.lock"
fi

# A persistent server outlives the single test; 'wineserver -k' (run at the end of the test command) stops it.
"$WINESERVER" -p </dev/null >/dev/null 2>&1 || true

# Wine may start helper processes (services, the desktop) from the program it runs; they inherit its standard
# handles and outlive it. So the program writes into files, not into the caller's pipes: a pipe held open by a
# helper would make ctest wait for ever.
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
"$wine" "$@" </dev/null >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit "$status"
