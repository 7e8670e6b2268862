// The process's cards: where the user last dropped one, and the window
// class they share. Guarded by
// moduleLock; the module's attach step sets moduleInstance.
#pragma once

#include <windows.h>

#include "draw/module_lock.h"

namespace kestrine {

extern HINSTANCE moduleInstance;

// Guarded by moduleLock.
extern bool savedPositionValid;
extern POINT savedPosition;
extern bool windowClassRegistered;
}  // namespace kestrine
