# Shared by the package's shell tests: a check prints "ok: ..." or "FAILED: ...", and the
# script ends with the count of failures and exits non-zero when there were any.
#   source checks.sh; check DESCRIPTION COMMAND...; ...; finish
failures=0
check() { # check DESCRIPTION COMMAND [ARGS...]: passes when the command succeeds
    local description="$1"; shift
    if "$@"; then
        echo "ok: $description"
    else
        echo "FAILED: $description"
        failures=$((failures + 1))
    fi
}
finish() {
    echo "$failures failed"
    [[ $failures -eq 0 ]]
}
