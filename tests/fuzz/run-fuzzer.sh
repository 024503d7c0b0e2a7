#!/usr/bin/env bash
# A bounded fuzzing run, as ctest runs it: RUNS inputs from a fixed seed, starting from the checked-in seed
# corpus. New inputs and any crash go into WORK, never into the source tree.
# Usage: run-fuzzer.sh FUZZER SEEDS WORK RUNS
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 runs=$4
rm -rf "$work"
mkdir -p "$work/corpus"
exec "$fuzzer" -runs="$runs" -seed=1 -max_len=65536 -rss_limit_mb=1024 -artifact_prefix="$work/" \
    "$work/corpus" "$seeds"
