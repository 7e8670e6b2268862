#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit x86 programs, 1 when it does not. Some
# kernels (and some hypervisors' guests) run 64-bit code only: there a 32-bit
# loader fails with "Exec format error", and Debian's wine wrapper, which
# prefers the 32-bit loader once wine32 is installed, then fails every Wine
# program, 64-bit ones too. Checked with a 96-byte i386 ELF program that only
# exits with status 42, so it needs no 32-bit library.
set -u
probe=$(mktemp /tmp/kestrine-x86-probe.XXXXXX)
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment at 0x08048000, then the code at 0x08048054:
# mov ebx, 42; mov eax, 1 (exit); int 0x80.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"
printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00' >>"$probe"
printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
printf '\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >>"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? = 42 ]
