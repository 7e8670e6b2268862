#!/usr/bin/env bash
# Runs a command in a Wine session whose prefix reports Windows 10, with its
# own X server and wineserver. A fresh Wine 8 prefix reports Windows 7, which
# Node.js 18 and later refuse to start on. The prefix is a copy of the
# project's, made once, so the shared prefix is never changed.
#   scripts/with-win10.sh wine build/node/win-x64/node.exe script.js
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
base="${KESTRINE_WINEPREFIX:-$root/build/wineprefix}"
prefix="$root/build/wineprefix-win10"

# This script opens sessions of its own, not the caller's.
unset KESTRINE_WINE_SESSION WINEPREFIX
export KESTRINE_WINEPREFIX="$prefix"

if [ ! -f "$base/.kestrine-ready" ]; then
    KESTRINE_WINEPREFIX="$base" "$root/scripts/wine-session.sh" --own-x true
fi
(
    flock 9
    # Made again when the project's prefix has been (another Wine, other
    # settings): the mark holds the ready mark of the prefix it copied.
    mark="$prefix/.kestrine-win10"
    if [ ! -f "$mark" ] || ! cmp -s "$base/.kestrine-ready" "$mark"; then
        rm -rf "$prefix"
        mkdir -p "$prefix"
        (cd "$base" && tar --exclude=./wineserver -cf - .) | (cd "$prefix" && tar -xf -)
        "$root/scripts/wine-session.sh" --own-x wine winecfg -v win10 >/dev/null 2>&1
        cp "$base/.kestrine-ready" "$mark"
    fi
) 9>"$prefix.setup-lock"

exec "$root/scripts/wine-session.sh" --own-x "$@"
