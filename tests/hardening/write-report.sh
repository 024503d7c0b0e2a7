#!/usr/bin/env bash
# Turns the hardening suite's results into its report. Usage: write-report.sh RESULTS_DIR OUTPUT
# Every figure comes from the rows the cases wrote about what they observed; a case that wrote no row is
# listed as not run, and the step fails when a case recorded a failure, so a report can't claim what the run
# did not see.
set -euo pipefail
results=$1
output=$2
expected=(payload-swap dll-planting log-links name-squatting faults load arguments temp-re-pointed
    clean-up-swap link-in-secure-directory small-and-read-only-temp)
missing=()
for name in "${expected[@]}"; do
    [ -f "$results/$name.tsv" ] || missing+=("$name")
done
sum() { cat "$results"/*.tsv 2>/dev/null | awk -F'\t' -v key="$1" '{
    n = split($4, parts, ";"); for (i = 1; i <= n; i++) { split(parts[i], kv, "="); if (kv[1] == key) total += kv[2] } }
    END { print total + 0 }'; }
{
    echo "# Hardening"
    echo
    echo "Written from the hardening suite's observations (\`ctest -L hardening\`; \`bash scripts/refresh-hardening-report.sh\` copies it here) on $(date -u '+%Y-%m-%d %H:%M UTC'), under $(/usr/lib/wine/wine64 --version)."
    echo
    echo "| attacks tried | faults survived | launches under load | argument vectors round-tripped | files left behind |"
    echo "|---|---|---|---|---|"
    echo "| $(sum attacks) | $(sum faults) | $(sum launches) | $(sum vectors) | $(sum left) |"
    echo
    echo "| case | what was tried | what held | counts |"
    echo "|---|---|---|---|"
    cat "$results"/*.tsv 2>/dev/null | sort | awk -F'\t' '{ printf "| %s | %s | %s | %s |\n", $1, $2, $3, $4 }'
    for name in "${missing[@]}"; do
        echo "| $name | | not run in this run | |"
    done
    echo
    echo "Access lists are accepted but not kept by Wine: that only Administrators can touch the secure"
    echo "directory can be verified on real Windows alone."
} >"$output"
cat "$output"
if cat "$results"/*.tsv 2>/dev/null | cut -f3 | grep -q '^FAILED'; then
    echo "a case failed: see the rows marked FAILED" >&2
    exit 1
fi
