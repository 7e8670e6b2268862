#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and nothing when it is
# all there already (so `make test` can call it every time, quietly).
set -euo pipefail

packages=(
    cmake make g++ googletest libbenchmark-dev
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
    wine wine64 xvfb xauth x11-utils xdotool imagemagick
    fonts-ipafont-gothic fonts-liberation2
    zip unzip
)

# 32-bit Wine for the x86 DLL's tests, only where the kernel runs 32-bit
# programs: elsewhere wine32's loader, which Debian's wine wrapper prefers
# once it is installed, would fail every Wine program, 64-bit ones included.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
x86=0
if "$here/runs-x86.sh"; then
    x86=1
    packages+=(wine32:i386)
fi

# npm fetches Node.js for Windows for the Node.js host test; Debian's only
# where the machine has no npm of its own.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if [ "$x86" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
