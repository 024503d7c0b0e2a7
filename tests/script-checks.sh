# Sourced by the test scripts: failures are counted, not fatal, so one run reports every broken check.
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# finish NAME: the summary line, and the script's status.
finish() {
    echo "$1: $failures failures"
    [ "$failures" -eq 0 ]
}
