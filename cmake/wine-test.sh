#!/usr/bin/env bash
# Runs a Windows test program under Wine: wine-test.sh WINE PROGRAM.exe [ARGS...]
#
# Now and then Wine ends a process before the program in it has run at all: no line
# on its standard output, a failure status. Such a run is started once more; when the
# second ends the same way it is reported as a Wine start failure. A program that
# wrote anything has run, and its status stands as it is: a test that ran and failed
# is never run again. A program that writes its results to a file of its own names it
# in ONYX_WINE_TEST_OUTPUT; that file then counts as its output.
set -uo pipefail

output=$(mktemp "${TMPDIR:-/tmp}/onyx-wine-test.XXXXXX")
trap 'rm -f "$output"' EXIT

results=${ONYX_WINE_TEST_OUTPUT:-}
for attempt in 1 2; do
    [ -z "$results" ] || rm -f "$results"
    "$@" >"$output"
    status=$?
    [ -z "$results" ] || cat "$results" >>"$output" 2>/dev/null
    cat "$output"
    if [ "$status" -eq 0 ] || [ -s "$output" ]; then
        exit "$status"
    fi
    if [ "$attempt" -eq 1 ]; then
        echo "wine-test.sh: $2 ended with status $status before writing anything; starting it once more" >&2
    fi
done
echo "wine-test.sh: Wine start failure: $2 ended twice with status $status before writing anything" >&2
exit "$status"
