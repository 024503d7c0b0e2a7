#!/usr/bin/env bash
# Turns the hardening suite's results into docs/hardening.md. Usage: write-report.sh RESULTS_DIR OUTPUT
set -euo pipefail
results=$1
output=$2
sum() { cat "$results"/*.tsv 2>/dev/null | awk -F'\t' -v key="$1" '{
    n = split($4, parts, ";"); for (i = 1; i <= n; i++) { split(parts[i], kv, "="); if (kv[1] == key) total += kv[2] } }
    END { print total + 0 }'; }
cases=$(cat "$results"/*.tsv 2>/dev/null | wc -l)
{
    echo "# Hardening"
    echo
    echo "Written by the hardening suite (\`ctest -L hardening\`, run by .ci/run) on $(date -u '+%Y-%m-%d %H:%M UTC'), under $(/usr/lib/wine/wine64 --version)."
    echo
    echo "| attacks tried | faults survived | launches under load | argument vectors round-tripped | launched with random vectors | files left behind |"
    echo "|---|---|---|---|---|---|"
    echo "| $(sum attacks) | $(sum faults) | $(sum launches) | $(sum vectors) | $(sum launched) | $(sum left) |"
    echo
    echo "| case | what was tried | what held |"
    echo "|---|---|---|"
    cat "$results"/*.tsv 2>/dev/null | sort | awk -F'\t' '{ printf "| %s | %s | %s |\n", $1, $2, $3 }'
    echo
    echo "$cases cases recorded. Access lists are accepted but not kept by Wine: that only Administrators can"
    echo "touch the secure directory can be verified on real Windows alone."
} >"$output"
cat "$output"
