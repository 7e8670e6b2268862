#!/usr/bin/env bash
# Runs the card host's 120-DPI case in a Wine prefix of its own whose desktop
# reports LogPixels 120 (a copy of the project's prefix, made once), with its
# own X server and wineserver, so the shared prefix is never changed.
#   tests/dll/run_dpi120.sh path/to/card_host_test.exe
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exe=$1
base="${KESTRINE_WINEPREFIX:-$root/build/wineprefix}"
prefix="$root/build/wineprefix-120dpi"

# This script opens sessions of its own, not the caller's.
unset KESTRINE_WINE_SESSION WINEPREFIX
export KESTRINE_WINEPREFIX="$prefix"

(
    flock 9
    # The copy is made again when the project's prefix has been (another Wine,
    # other settings): the mark holds the ready mark of the prefix it copied.
    if [ ! -f "$prefix/.kestrine-120dpi" ] || ! cmp -s "$base/.kestrine-ready" "$prefix/.kestrine-120dpi"; then
        rm -rf "$prefix"
        if [ -f "$base/.kestrine-ready" ]; then
            # A copy is much quicker than a fresh prefix; the sockets and
            # locks of a running server are not part of it.
            mkdir -p "$prefix"
            (cd "$base" && tar --exclude=./wineserver -cf - .) | (cd "$prefix" && tar -xf -)
        fi
        "$root/scripts/wine-session.sh" --own-x wine reg add 'HKCU\Control Panel\Desktop' \
            /v LogPixels /t REG_DWORD /d 120 /f >/dev/null
        cp "$base/.kestrine-ready" "$prefix/.kestrine-120dpi" 2>/dev/null \
            || cp "$prefix/.kestrine-ready" "$prefix/.kestrine-120dpi"
    fi
) 9>"$prefix.setup-lock"

exec "$root/scripts/wine-session.sh" --own-x wine "$exe" --dll=kestrine.dll --gtest_brief=1 \
    --gtest_filter='Dpi120*'
