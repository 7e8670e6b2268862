#!/usr/bin/env bash
# Tests the release package as a user meets it: unpacked into an empty folder,
# it holds exactly the shipped files (dist_contents_test.sh), and
# kestrine-show.exe runs from there under Wine (nothing missing beside it) and
# reports the interface version.
#   dist_package_test.sh build/win64/dist/kestrine-<version>-win64.zip
set -euo pipefail
zip=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
name=$(basename "$zip" .zip)

folder=$(mktemp -d /tmp/kestrine-dist-test.XXXXXX)
trap 'rm -rf "$folder"' EXIT
unzip -q "$zip" -d "$folder"

# What it holds is checked without Wine; here, that it runs.
bash "$root/tests/tools/dist_contents_test.sh" "$zip" >/dev/null

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
echo "ok: $name unpacks and its kestrine-show.exe --version prints 100"
