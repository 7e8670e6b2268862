# Cross toolchain: Windows x86 (32-bit) with the mingw-w64 posix-threads compilers.
# Programs built here run under Wine through scripts/wine-run, which CTest uses
# as the emulator so that `ctest` in build/win32 works like a native test run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
# Remakes the import library of the __stdcall exports (cmake/windows_layer.cmake).
set(CMAKE_DLLTOOL ${TOOLCHAIN_PREFIX}-dlltool)

# SSE2 arithmetic, as on x86-64, instead of the x87 unit: doubles rounded the
# same way in every expression (x87 keeps 80-bit intermediates, so one formula
# computed in two places can round differently, and the frame layers rely on
# equal results), the curve reduction's vector path, and conversions to 32-bit
# integers without switching the x87 control word (64-bit ones still switch
# it: 32-bit SSE2 has no such instruction). Every x86 processor that
# Windows 8 or later runs on has SSE2. The stack is realigned where 16-byte
# data needs it, since x86 callers (hosts, CreateThread) promise only 4 bytes.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
