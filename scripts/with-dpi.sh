#!/usr/bin/env bash
# Runs a command in a Wine session whose desktop reports the given DPI
# (LogPixels), on a copy of the project's prefix made once per DPI.
#   scripts/with-dpi.sh 192 wine build/win64/kestrine_bench.exe
set -euo pipefail
dpi=$1
shift
exec "$(dirname "${BASH_SOURCE[0]}")/with-prefix-copy.sh" "${dpi}dpi" \
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f -- "$@"
