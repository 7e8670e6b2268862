#!/usr/bin/env bash
# Builds tests/tools/package_consumer against an unpacked release package with
# the cross toolchain given, then runs it under Wine from its build folder:
# find_package(Kestrine CONFIG), the header, the import library and the DLL
# all come from the package.
#   dist_consumer_test.sh kestrine-<version>-<arch>.zip toolchain.cmake [cmake]
set -euo pipefail
zip=$1
toolchain=$2
cmake=${3:-cmake}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
name=$(basename "$zip" .zip)

folder=$(mktemp -d /tmp/kestrine-consumer-test.XXXXXX)
trap 'rm -rf "$folder"' EXIT
unzip -q "$zip" -d "$folder"
"$cmake" -S "$root/tests/tools/package_consumer" -B "$folder/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKestrine_DIR="$folder/$name" >"$folder/configure.log" 2>&1 \
    || { cat "$folder/configure.log"; echo "FAIL: configuring against $name"; exit 1; }
"$cmake" --build "$folder/build" >"$folder/build.log" 2>&1 \
    || { cat "$folder/build.log"; echo "FAIL: building against $name"; exit 1; }

wine_cmd=(wine)
[ -n "${KESTRINE_WINE_SESSION:-}" ] || wine_cmd=("$root/scripts/wine-run")
cd "$folder/build"
set +e
output=$("${wine_cmd[@]}" ./consumer.exe)
rc=$?
set -e
output=${output//$'\r'/}
if [ "$rc" != 0 ] || [ "$output" != "100 -1" ]; then
    echo "FAIL: the consumer of $name gave exit $rc, output: $output"
    exit 1
fi
echo "ok: a project using find_package(Kestrine CONFIG) builds against $name and runs"
