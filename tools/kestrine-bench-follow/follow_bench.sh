#!/usr/bin/env bash
# Benchmark of a live card: kestrine-show --follow on a file that a writer
# grows by 10 lines every 10 ms for 30 s. Reports the card updates per second
# (from kestrine-show's closing count), the card's frames per second (counted
# by kestrine_test.dll, which the run loads as its kestrine.dll) and the CPU
# share of the kestrine-show process and of the wineserver. Runs inside a
# Wine session (scripts/wine-session.sh).
#   follow_bench.sh build/win64 [seconds]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-30}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

folder=$(mktemp -d /tmp/kestrine-follow-bench.XXXXXX)
pid=""
trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$folder"' EXIT
cp "$build/kestrine-show.exe" "$folder/kestrine-show.exe"
cp "$build/kestrine_test.dll" "$folder/kestrine.dll"
hz=$(getconf CLK_TCK)

# The wineserver of this session's prefix (other sessions may run their own):
# it works in a folder named server-DEV-INODE after the prefix folder.
own_wineserver() {
    local name p
    name=server-$(printf '%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
    for p in $(pgrep wineserver); do
        if [ "$(basename "$(readlink "/proc/$p/cwd")")" = "$name" ]; then
            echo "$p"
            return 0
        fi
    done
    return 0
}

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
cards() { xwininfo -root -tree | grep -c '"Kestrine": ("kestrine-show.exe"' || true; }

run() {
    local every=$1
    rm -f "$folder/pnl.txt" "$folder/frames.txt"
    printf '0,0\n' > "$folder/pnl.txt"
    KESTRINE_TEST_FRAME_REPORT=$(wine winepath -w "$folder/frames.txt") \
        wine "$folder/kestrine-show.exe" --series-file "$(wine winepath -w "$folder/pnl.txt")" --follow \
        --every "$every" --numeric-x --no-animation --title Bench --value-format '{y}' \
        2> "$folder/err.txt" &
    pid=$!
    for _ in $(seq 300); do
        [ "$(cards)" = 1 ] && break
        sleep 0.1
    done
    [ "$(cards)" = 1 ] || { echo "no card appeared"; cat "$folder/err.txt"; exit 1; }
    local server
    server=$(own_wineserver)
    local show_start server_start
    show_start=$(cpu_ticks "$pid")
    server_start=$([ -n "$server" ] && cpu_ticks "$server" || echo 0)
    # The writer: 10 lines every 10 ms on an absolute schedule, flushed each time.
    python3 - "$folder/pnl.txt" "$seconds" <<'PY'
import sys, time, random
path, seconds = sys.argv[1], float(sys.argv[2])
y, x = 0, 1
start = time.monotonic()
with open(path, "a") as out:
    tick = 0
    while time.monotonic() - start < seconds:
        lines = []
        for _ in range(10):
            y += random.randint(-100, 100)
            lines.append(f"{x},{y}\n")
            x += 1
        out.write("".join(lines))
        out.flush()
        tick += 1
        delay = start + tick * 0.01 - time.monotonic()
        if delay > 0:
            time.sleep(delay)
PY
    local show_end server_end
    show_end=$(cpu_ticks "$pid")
    server_end=$([ -n "$server" ] && cpu_ticks "$server" || echo 0)
    wine "$folder/kestrine-show.exe" --close > /dev/null
    wait "$pid"
    pid=""
    local lines frames summary updates
    lines=$(($(wc -l < "$folder/pnl.txt") - 1))
    frames=$(cat "$folder/frames.txt" 2> /dev/null || echo "?")
    summary=$(tail -n 1 "$folder/err.txt")
    updates=$(sed -n 's/.*points, \([0-9]*\) card update.*/\1/p' <<< "$summary")
    awk -v every="$every" -v s="$seconds" -v lines="$lines" -v updates="$updates" -v frames="$frames" \
        -v show=$((show_end - show_start)) -v server=$((server_end - server_start)) -v hz="$hz" \
        'BEGIN { printf "%8d %8.0f %10d %9.1f %9.1f %10.1f%% %10.1f%%\n", every, s, lines,
                 updates / s, frames / s, 100 * show / hz / s, 100 * server / hz / s }'
}

printf '%8s %8s %10s %9s %9s %11s %11s\n' "every ms" "seconds" "lines" "updates/s" "frames/s" \
    "show CPU" "server CPU"
run 200
run 20
