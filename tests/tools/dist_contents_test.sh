#!/usr/bin/env bash
# What each release package holds, checked without Wine so that the x86
# package is checked on every machine: exactly the shipped files, the same in
# every architecture's package, with the DLL and program of that package's
# own architecture and the license and export list a user needs.
#   dist_contents_test.sh kestrine-<version>-win64.zip [kestrine-<version>-win32.zip ...]
set -euo pipefail
expected="KestrineConfig.cmake
KestrineConfigVersion.cmake
LICENSE
README.md
docs/building-on-windows.md
docs/card-from-script.png
docs/card-high-contrast.png
docs/card-hover.png
docs/card.png
docs/contributing.md
docs/kestrine-show.md
docs/performance.md
docs/threading.md
kestrine-show.exe
kestrine.def
kestrine.dll
kestrine.h
libkestrine.dll.a"
for zip in "$@"; do
    [ -f "$zip" ] || { echo "FAIL: $zip is not built"; exit 1; }
    name=$(basename "$zip" .zip)
    case "$name" in
        *-win64) format=pei-x86-64 ;;
        *-win32) format=pei-i386 ;;
        *) echo "FAIL: $name names no architecture"; exit 1 ;;
    esac
    folder=$(mktemp -d /tmp/kestrine-dist-contents.XXXXXX)
    trap 'rm -rf "$folder"' EXIT
    unzip -q "$zip" -d "$folder"
    actual=$(cd "$folder" && find . -type f | sed "s|^\./$name/||" | LC_ALL=C sort)
    if [ "$actual" != "$expected" ]; then
        echo "FAIL: $name holds"; echo "$actual"; echo "expected"; echo "$expected"
        exit 1
    fi
    for program in kestrine.dll kestrine-show.exe; do
        objdump -f "$folder/$name/$program" 2>/dev/null | grep -q "file format $format" ||
            { echo "FAIL: $name/$program is not $format"; exit 1; }
    done
    grep -q "Copyright (c) 2026 The Kestrine authors" "$folder/$name/LICENSE" ||
        { echo "FAIL: $name/LICENSE lacks the copyright line"; exit 1; }
    grep -q "^EXPORTS" "$folder/$name/kestrine.def" || { echo "FAIL: $name/kestrine.def has no EXPORTS"; exit 1; }
    rm -rf "$folder"
    echo "ok: $name holds the $(echo "$expected" | wc -l) shipped files, programs $format"
done
