// The Windows SDK's <windows.h> as C++ sources meet it: the real header, then
// min and max as the function-like macros the SDK defines (mingw's defines
// them only in C). Only the syntax-only pass of the Windows sources uses it.
#pragma once

#include_next <windows.h>

#ifndef min
#define min(a, b) (((a) < (b)) ? (a) : (b))
#endif
#ifndef max
#define max(a, b) (((a) > (b)) ? (a) : (b))
#endif
