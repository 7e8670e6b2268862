// The process's cards: where the user last dropped one,
// how many windows exist, and the window class they share. Guarded by
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
// Windows of card threads that exist now, closing ones included, and places
// taken for windows about to be made; signalled through cardWindowsChanged
// whenever one goes, and as a starting card is cancelled.
extern int cardWindows;
extern CONDITION_VARIABLE cardWindowsChanged;

}  // namespace kestrine
