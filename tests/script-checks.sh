# Sourced by the test scripts: failures are counted, not fatal, so one run reports every broken check; and
# Linux paths are handed to Windows programs under Wine as drive Z: paths.
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# windows PATH: the Linux path as Wine's programs see it.
windows() { echo "Z:${1//\//\\}"; }
# finish NAME: the summary line, and the script's status.
finish() {
    echo "$1: $failures failures"
    [ "$failures" -eq 0 ]
}
