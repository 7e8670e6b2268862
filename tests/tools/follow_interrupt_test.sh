#!/usr/bin/env bash
# Ctrl+C in the terminal of a live card: under Wine the terminal's SIGINT
# becomes the console's Ctrl+C event, which must close the card and end
# kestrine-show --follow with 0 instead of killing it. (Wine ends a program
# without a handler with 0 too; the closing count of points and skipped lines
# is what only the program's own ending writes.)
#   follow_interrupt_test.sh build/win64/kestrine-show.exe
set -euo pipefail
show=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
run=("$root/scripts/wine-run")

folder=$(mktemp -d /tmp/kestrine-interrupt-test.XXXXXX)
pid=""
trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$folder"' EXIT
printf '0,0\noops\n60,500\n' > "$folder/pnl.txt"

cards() { xwininfo -root -tree | grep -c '"Kestrine": ("kestrine-show.exe"' || true; }

"${run[@]}" "$show" --series-file "$(wine winepath -w "$folder/pnl.txt")" --follow 2> "$folder/err.txt" &
pid=$!
for _ in $(seq 200); do
    [ "$(cards)" = 1 ] && break
    sleep 0.1
done
[ "$(cards)" = 1 ] || { echo "FAIL: no card appeared"; cat "$folder/err.txt"; exit 1; }

kill -INT "$pid"
status=0
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: still running 10 s after Ctrl+C"
    exit 1
fi
wait "$pid" || status=$?
pid=""
[ "$status" = 0 ] || { echo "FAIL: exit code $status after Ctrl+C"; cat "$folder/err.txt"; exit 1; }
[ "$(cards)" = 0 ] || { echo "FAIL: the card outlived its program"; exit 1; }
grep -q 'pnl.txt: 2 points, 1 card update, 1 line skipped' "$folder/err.txt" ||
    { echo "FAIL: ended without its own ending"; cat "$folder/err.txt"; exit 1; }
echo "ok: Ctrl+C closed the card, exit 0"
