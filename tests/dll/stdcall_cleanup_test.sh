#!/usr/bin/env bash
# The x86 DLL's exports clean up their own arguments, as __stdcall callers
# expect: every ret of ShowKestrine pops its twelve arguments' 52 bytes (five
# pointers, six 4-byte integers and one double), and the two exports without
# arguments return with a plain ret. A cdecl export, or a miscounted one,
# would leave every x86 host's stack off after each call. Read from the
# disassembly of the function each export names; needs no Wine.
#   stdcall_cleanup_test.sh OBJDUMP build/win32/kestrine.dll
set -euo pipefail
objdump=$1
dll=$2
[ -f "$dll" ] || { echo "FAIL: $dll is not built"; exit 1; }

headers=$("$objdump" -p "$dll")
grep -q 'file format pei-i386' <<<"$headers" || { echo "FAIL: $dll is not an x86 DLL"; exit 1; }
base=$(awk '/^ImageBase/ {print $2; exit}' <<<"$headers")

# The export's RVA by its index in the address table, then its name.
rva_of() {
    local index
    index=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
            sed -n "s/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\] $1\$/\1/p")
    [ -n "$index" ] || return 1
    sed -n '/^Export Address Table -- /,/^$/p' <<<"$headers" |
        sed -n "s/^[[:space:]]*\[[[:space:]]*$index\] +base\[[[:space:]]*[0-9]*\] \([0-9a-f]*\) Export RVA/\1/p"
}

fails=0
check() {  # check EXPORT EXPECTED-RET
    local name=$1 want=$2 rva start body rets
    rva=$(rva_of "$name") || { echo "FAIL: $name is not exported"; fails=$((fails + 1)); return; }
    start=$(printf '%x' $((0x$base + 0x$rva)))
    # From the export's own symbol to the next symbol: the function's body.
    body=$("$objdump" -d --no-show-raw-insn --start-address=0x$start --stop-address=$((0x$start + 0x10000)) "$dll" |
           awk -v start="$start" '
               /^[0-9a-f]+ <.*>:$/ { n = $1; sub(/^0+/, "", n); if (seen) ended = 1; else seen = n == start; next }
               seen && !ended')
    if [ -z "$body" ]; then
        echo "FAIL: no function symbol at $name's address 0x$start (a stripped DLL?)"
        fails=$((fails + 1)); return
    fi
    rets=$(grep -oE '[[:space:]]ret[lw]?([[:space:]]+\$0x[0-9a-f]+)?[[:space:]]*$' <<<"$body" |
           sed -E 's/^[[:space:]]+//; s/[[:space:]]+$//; s/^ret[lw]?/ret/; s/[[:space:]]+/ /g' | LC_ALL=C sort -u)
    if [ "$rets" != "$want" ]; then
        echo "FAIL: $name returns with '${rets//$'\n'/', '}', expected '$want'"
        fails=$((fails + 1)); return
    fi
    echo "ok: $name returns with $want"
}
check ShowKestrine 'ret $0x34'
check CloseKestrine 'ret'
check KestrineVersion 'ret'
[ "$fails" = 0 ]
