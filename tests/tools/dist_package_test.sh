#!/usr/bin/env bash
# Tests the release package as a user meets it: unpacked into an empty folder,
# it holds exactly the shipped files, and kestrine-show.exe runs from there
# under Wine (nothing missing beside it) and reports the interface version.
#   dist_package_test.sh build/win64/dist/kestrine-<version>-win64.zip
set -euo pipefail
zip=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
name=$(basename "$zip" .zip)

folder=$(mktemp -d /tmp/kestrine-dist-test.XXXXXX)
trap 'rm -rf "$folder"' EXIT
unzip -q "$zip" -d "$folder"

expected="$name/KestrineConfig.cmake
$name/KestrineConfigVersion.cmake
$name/LICENSE
$name/README.md
$name/kestrine-show.exe
$name/kestrine.def
$name/kestrine.dll
$name/kestrine.h
$name/libkestrine.dll.a"
actual=$(cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
    echo "FAIL: the package holds"; echo "$actual"; echo "expected"; echo "$expected"
    exit 1
fi
grep -q "Copyright (c) 2026 The Kestrine authors" "$folder/$name/LICENSE" || {
    echo "FAIL: LICENSE lacks the copyright line"; exit 1; }
grep -q "^EXPORTS" "$folder/$name/kestrine.def" || { echo "FAIL: kestrine.def has no EXPORTS"; exit 1; }

wine_cmd=(wine)
[ -n "${KESTRINE_WINE_SESSION:-}" ] || wine_cmd=("$root/scripts/wine-run")
cd "$folder/$name"
set +e
output=$("${wine_cmd[@]}" ./kestrine-show.exe --version)
rc=$?
set -e
output=${output//$'\r'/}
if [ "$rc" != 0 ] || [ "$output" != 100 ]; then
    echo "FAIL: kestrine-show.exe --version from the unpacked package gave exit $rc, output: $output"
    exit 1
fi
echo "ok: $name unpacks to $(echo "$expected" | wc -l) files and kestrine-show.exe --version prints 100"
