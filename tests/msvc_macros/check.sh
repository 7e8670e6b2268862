#!/bin/sh
# Syntax-only pass over every source that has <windows.h> in scope, with the
# SDK's min and max macros in force (tests/msvc_macros/windows.h): a bare
# std::min, std::max or numeric_limits<...>::max() fails here as it would
# with MSVC.  check.sh COMPILER SOURCE_DIR BINARY_DIR GTEST_INCLUDE
compiler=$1 root=$2 binary=$3 gtest=$4
cd "$root" || exit 2
failed=0
checked=0
for source in src/draw/*.cpp src/card/*.cpp src/dll/*.cpp tools/*/*.cpp tools/*.cpp \
              tests/card/*.cpp tests/draw/*.cpp tests/dll/*.cpp tests/tools/*.cpp; do
    [ -f "$source" ] || continue
    grep -qE '<windows\.h>|"(card|draw|dll)/|<gdiplus' "$source" || continue
    checked=$((checked + 1))
    case $source in tests/*) gtest_first=-DKESTRINE_WITH_GTEST ;; *) gtest_first= ;; esac
    if ! "$compiler" -std=c++17 -fsyntax-only -DUNICODE -D_UNICODE -DKESTRINE_STATIC \
            $gtest_first -I tests/msvc_macros -I src -I include -I tools/kestrine-show \
            -I tests/card -I tests/shared -I "$binary/generated" -I "$gtest" \
            -include tests/msvc_macros/standard_first.h "$source"; then
        echo "FAILS with the SDK's min and max macros: $source"
        failed=$((failed + 1))
    fi
done
# MSVC never defines __SSE2__; on x64 it says _M_X64, and the vector path of
# the curve code must still be taken.
if ! "$compiler" -std=c++17 -E -U__SSE2__ -D_M_X64 -I src src/core/curve_columns.cpp |
        grep -q '_mm_'; then
    echo "the curve code takes the plain path when only _M_X64 is defined"
    failed=$((failed + 1))
fi
echo "$checked sources checked, $failed failed"
[ "$checked" -gt 0 ] && [ "$failed" -eq 0 ]
