#!/usr/bin/env bash
# Reads the export table of a built kestrine.dll with the cross objdump: it
# names exactly ShowKestrine, CloseKestrine and KestrineVersion, undecorated
# (no _ prefix, no @n suffix), on x86 as on x86-64. Needs no Wine.
#   export_names_test.sh OBJDUMP kestrine.dll
set -euo pipefail
objdump=$1
dll=$2
names=$("$objdump" -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' \
        | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | LC_ALL=C sort)
expected=$'CloseKestrine\nKestrineVersion\nShowKestrine'
if [ "$names" != "$expected" ]; then
    echo "FAIL: $dll exports:"; echo "$names"; echo "expected:"; echo "$expected"
    exit 1
fi
echo "ok: $(basename "$dll") exports exactly $(echo "$names" | tr '\n' ' ')"
