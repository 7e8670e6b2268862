#!/usr/bin/env bash
# A program that crashes under the project's Wine prefix must end by itself,
# with the debugger's backtrace on its standard error, rather than wait on a
# crash dialog that no one will ever dismiss and stall the test run. Its exit
# code is whatever the debugger leaves, so only the end and the report count.
#   crash_ends_test.sh path/to/wine-run path/to/crash_on_purpose.exe
set -uo pipefail
runner=$1
program=$2
output=$(timeout 50 "$runner" "$program" 2>&1)
rc=$?
if [ "$rc" = 124 ]; then
    echo "FAIL: the crashed program was still there after 50 s (a crash dialog waiting?)"
    echo "$output"
    exit 1
fi
if ! grep -q "Unhandled page fault" <<<"$output"; then
    echo "FAIL: the program did not crash as it should (exit code $rc)"
    echo "$output"
    exit 1
fi
if ! grep -q "^Backtrace:" <<<"$output"; then
    echo "FAIL: no backtrace from Wine's debugger"
    echo "$output"
    exit 1
fi
