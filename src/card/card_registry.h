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
// Card windows that exist now, closing ones included, counted by the window
// procedure as each is created and destroyed; cardWindowsChanged is signalled
// whenever one goes, and as a starting card is cancelled.
extern int cardWindows;
extern CONDITION_VARIABLE cardWindowsChanged;

// Takes moduleLock; wakes the waiters on cardWindowsChanged when one goes.
void countCardWindow(int change);

}  // namespace kestrine
