#!/usr/bin/env bash
# Node.js for Windows as a host of the DLL, under Wine: fetches node.exe and
# koffi (scripts/node-for-windows.sh), then in a Windows 10 prefix runs the
# checks of node_host_test.js and the example examples/node/kestrine-card.js,
# whose card must appear on the X screen and be gone when it ends.
#   tests/node/node_host_test.sh x64|x86 BUILD_DIR
# Fails, saying why, when the npm registry cannot be reached.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

if [ "${1:-}" = --inside-session ]; then
    node_dir=$2 dll=$3 out=$4
    winpath() { wine winepath -w "$1" 2>/dev/null; }
    node=$node_dir/node.exe
    export NODE_PATH WINEDEBUG=-all
    NODE_PATH=$(winpath "$node_dir/node_modules")
    dll_w=$(winpath "$dll")
    # node.exe under Wine cannot write to a pipe (EBADF): its output goes to
    # files, shown afterwards.
    status=0
    wine "$node" "$(winpath "$root/tests/node/node_host_test.js")" "$dll_w" \
        >"$out/checks.txt" 2>&1 </dev/null || status=$?
    cat "$out/checks.txt"
    [ "$status" = 0 ] || { echo "node_host_test: the checks exited $status" >&2; exit 1; }

    echo "-- the example, examples/node/kestrine-card.js"
    wine "$node" "$(winpath "$root/examples/node/kestrine-card.js")" "$dll_w" \
        >"$out/example.txt" 2>&1 </dev/null &
    example=$!
    seen=0
    for _ in $(seq 100); do
        if xwininfo -root -tree 2>/dev/null | grep -q '"Kestrine"'; then seen=1; break; fi
        kill -0 "$example" 2>/dev/null || break
        sleep 0.1
    done
    status=0
    wait "$example" || status=$?
    cat "$out/example.txt"
    failed=0
    [ "$status" = 0 ] || { echo "FAIL the example exited $status" >&2; failed=1; }
    [ "$seen" = 1 ] || { echo "FAIL the example's card did not appear on the X screen" >&2; failed=1; }
    for line in 'KestrineVersion: 100' 'ShowKestrine: 0' 'update 5: ShowKestrine: 0' 'CloseKestrine: 1'; do
        grep -qxF "$line" <(tr -d '\r' <"$out/example.txt") ||
            { echo "FAIL the example did not print \"$line\"" >&2; failed=1; }
    done
    sleep 0.5
    if xwininfo -root -tree 2>/dev/null | grep -q '"Kestrine"'; then
        echo "FAIL a card is still on the X screen after the example" >&2; failed=1
    fi
    exit "$failed"
fi

arch=${1:?usage: node_host_test.sh x64|x86 BUILD_DIR}
build=$(cd "${2:?usage: node_host_test.sh x64|x86 BUILD_DIR}" && pwd)
node_dir=$("$root/scripts/node-for-windows.sh" "$arch")
out=$build/node-test
mkdir -p "$out"
exec "$root/scripts/with-win10.sh" "$0" --inside-session "$node_dir" "$build/kestrine.dll" "$out"
