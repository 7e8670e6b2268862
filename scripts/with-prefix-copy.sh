#!/usr/bin/env bash
# Runs a command in a Wine session on a copy of the project's prefix that one
# setup command has changed (its own X server and wineserver). The copy is
# made once per name, so the shared prefix is never changed, and made again
# when the project's prefix has been (another Wine, other settings).
#   scripts/with-prefix-copy.sh NAME SETUP... -- COMMAND...
# SETUP runs inside a session on the fresh copy, e.g.
#   scripts/with-prefix-copy.sh win10 wine winecfg -v win10 -- wine node.exe x.js
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
name=$1
shift
setup=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    setup+=("$1")
    shift
done
if [ $# -eq 0 ] || [ ${#setup[@]} -eq 0 ]; then
    echo "usage: $0 NAME SETUP... -- COMMAND..." >&2
    exit 2
fi
shift
base="${KESTRINE_WINEPREFIX:-$root/build/wineprefix}"
prefix="$root/build/wineprefix-$name"

# This script opens sessions of its own, not the caller's.
unset KESTRINE_WINE_SESSION WINEPREFIX
export KESTRINE_WINEPREFIX="$prefix"

if [ ! -f "$base/.kestrine-ready" ]; then
    # Makes the project's prefix first, so that the copy below has one.
    KESTRINE_WINEPREFIX="$base" "$root/scripts/wine-session.sh" --own-x true
fi
(
    flock 9
    # The mark holds the ready mark of the prefix the copy was made from.
    mark="$prefix/.kestrine-$name"
    if [ ! -f "$mark" ] || ! cmp -s "$base/.kestrine-ready" "$mark"; then
        rm -rf "$prefix"
        # A copy is much quicker than a fresh prefix; the sockets and locks
        # of a running server are not part of it.
        mkdir -p "$prefix"
        (cd "$base" && tar --exclude=./wineserver -cf - .) | (cd "$prefix" && tar -xf -)
        "$root/scripts/wine-session.sh" --own-x "${setup[@]}" >/dev/null 2>&1
        cp "$base/.kestrine-ready" "$mark"
    fi
) 9>"$prefix.setup-lock"

exec "$root/scripts/wine-session.sh" --own-x "$@"
