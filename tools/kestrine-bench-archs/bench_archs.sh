#!/usr/bin/env bash
# kestrine_bench of the x86-64 and the x86 build, run alternately in one Wine
# session (so that both meet the same machine, load and X server), printed as
# one table: each row's median return and first frame for each architecture,
# one figure per round. Where the kernel runs no 32-bit programs the x86
# columns say that they were not run. Run inside a Wine session:
#   scripts/wine-session.sh --own-x tools/kestrine-bench-archs/bench_archs.sh build/win64 build/win32 [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
win64=$1
win32=$2
rounds=${3:-2}
folder=$(mktemp -d /tmp/kestrine-bench-archs.XXXXXX)
trap 'rm -rf "$folder"' EXIT

x86=0
if "$root/scripts/runs-x86.sh"; then x86=1; fi
for round in $(seq "$rounds"); do
    wine "$win64/kestrine_bench.exe" >"$folder/x86-64.$round"
    if [ "$x86" = 1 ]; then wine "$win32/kestrine_bench.exe" >"$folder/x86.$round"; fi
done

sed -n 1p "$folder/x86-64.1"
# A row: its name in the first 32 columns, then runs, median return, max
# return and median first frame.
figures() {  # figures ARCH COLUMN ROW-NAME: the column of that row, each round
    local arch=$1 column=$2 name=$3 round values=()
    for round in $(seq "$rounds"); do
        if [ ! -f "$folder/$arch.$round" ]; then echo "not run"; return; fi
        values+=("$(awk -v name="$name" -v c="$column" \
                    'substr($0, 1, 32) == sprintf("%-32s", name) { split(substr($0, 33), f, " "); print f[c] }' \
                    "$folder/$arch.$round")")
    done
    local IFS=/
    echo "${values[*]}"
}
printf '%-32s %-17s %-17s %-19s %-19s\n' "ShowKestrine (ms, each round)" "x86-64 return" "x86 return" \
    "x86-64 1st frame" "x86 1st frame"
awk '/ return (ok|SLOW)/ { print substr($0, 1, 32) }' "$folder/x86-64.1" | sed 's/ *$//' |
while IFS= read -r name; do
    printf '%-32s %-17s %-17s %-19s %-19s\n' "$name" "$(figures x86-64 2 "$name")" "$(figures x86 2 "$name")" \
        "$(figures x86-64 4 "$name")" "$(figures x86 4 "$name")"
done
if [ "$x86" = 0 ]; then
    echo "x86 rows not run: this machine's kernel runs no 32-bit programs"
fi
