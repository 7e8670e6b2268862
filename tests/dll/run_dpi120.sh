#!/usr/bin/env bash
# Runs the card host's 120-DPI case in a Wine prefix of its own whose desktop
# reports LogPixels 120 (a copy of the project's prefix, made once), with its
# own X server and wineserver, so the shared prefix is never changed.
#   tests/dll/run_dpi120.sh path/to/card_host_test.exe
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exec "$root/scripts/with-dpi.sh" 120 wine "$1" --dll=kestrine.dll --gtest_brief=1 \
    --gtest_filter='Dpi120*'
