#!/usr/bin/env bash
# scripts/bin/wine against a folder of stand-in loaders, so that the choice is
# checked on machines without 32-bit Wine too: a 64-bit program must never go
# to the 32-bit loader (which would start it as a separate process), a 32-bit
# one must, the loader must replace the script (same PID), and WINELOADER must
# name the loader that runs.
#   wine_loader_test.sh path/to/scripts/bin/wine
set -euo pipefail
wine=$1
folder=$(mktemp -d /tmp/kestrine-loader-test.XXXXXX)
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/lib"
for name in wine wine64; do
    printf '#!/bin/sh\necho "%s pid=$$ loader=$WINELOADER args=$*"\n' "$name" >"$folder/lib/$name"
    chmod +x "$folder/lib/$name"
done

# A PE file as far as the loader choice reads it: the DOS header's pointer at
# 0x3c to "PE\0\0", the file header, then the optional header's magic.
pe() {
    { printf 'MZ'; head -c 58 /dev/zero; printf '\x80\x00\x00\x00'; head -c 64 /dev/zero
      printf 'PE\0\0'; head -c 20 /dev/zero; printf "$2"; head -c 200 /dev/zero; } >"$1"
}
pe "$folder/x64.exe" '\x0b\x02'
pe "$folder/x86.exe" '\x0b\x01'
printf 'MZ not a program' >"$folder/short.exe"

fails=0
expect() {  # expect LOADER PROGRAM [args...]
    local want=$1 out pid
    shift
    out=$(KESTRINE_WINE_LIBDIR="$folder/lib" "$wine" "$@" & wait $!; echo "started=$!")
    pid=$(sed -n 's/^started=//p' <<<"$out")
    if ! grep -qx "$want pid=$pid loader=$folder/lib/$want args=$*" <<<"$out"; then
        echo "FAIL: wine $* should run $want as the same process, got:"; echo "$out"
        fails=$((fails + 1))
    fi
}
expect wine64 "$folder/x64.exe" --flag "two words"
expect wine "$folder/x86.exe" --flag
expect wine64 wineboot -i
expect wine64 "$folder/short.exe"
expect wine64 "$folder/missing.exe"

# A 64-bit-only Wine runs everything with its one loader.
rm "$folder/lib/wine"
expect wine64 "$folder/x64.exe"
expect wine64 "$folder/x86.exe"

[ "$fails" = 0 ] || exit 1
echo "ok: 64-bit programs and Wine's commands go to wine64, 32-bit ones to wine, in the same process"
