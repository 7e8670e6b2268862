#!/usr/bin/env bash
# Runs a command in a Wine session whose desktop reports the given DPI
# (LogPixels), with its own X server and wineserver. The prefix is a copy of
# the project's, made once per DPI, so the shared prefix is never changed.
#   scripts/with-dpi.sh 192 wine build/win64/kestrine_bench.exe
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dpi=$1
shift
base="${KESTRINE_WINEPREFIX:-$root/build/wineprefix}"
prefix="$root/build/wineprefix-${dpi}dpi"

# This script opens sessions of its own, not the caller's.
unset KESTRINE_WINE_SESSION WINEPREFIX
export KESTRINE_WINEPREFIX="$prefix"

if [ ! -f "$base/.kestrine-ready" ]; then
    # Makes the project's prefix first, so that the copy below has one.
    KESTRINE_WINEPREFIX="$base" "$root/scripts/wine-session.sh" --own-x true
fi
(
    flock 9
    # The copy is made again when the project's prefix has been (another Wine,
    # other settings): the mark holds the ready mark of the prefix it copied.
    mark="$prefix/.kestrine-${dpi}dpi"
    if [ ! -f "$mark" ] || ! cmp -s "$base/.kestrine-ready" "$mark"; then
        rm -rf "$prefix"
        # A copy is much quicker than a fresh prefix; the sockets and locks
        # of a running server are not part of it.
        mkdir -p "$prefix"
        (cd "$base" && tar --exclude=./wineserver -cf - .) | (cd "$prefix" && tar -xf -)
        "$root/scripts/wine-session.sh" --own-x wine reg add 'HKCU\Control Panel\Desktop' \
            /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
        cp "$base/.kestrine-ready" "$mark"
    fi
) 9>"$prefix.setup-lock"

exec "$root/scripts/wine-session.sh" --own-x "$@"
