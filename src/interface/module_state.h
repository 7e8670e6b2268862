// Process-wide state of the module: the globals that outlive a card, the one
// lock that guards them, and the reference-counted lifetime of GDI+.
#pragma once

#include <windows.h>

namespace kestrine {

extern HINSTANCE moduleInstance;
extern CRITICAL_SECTION moduleLock;
extern bool moduleLockInitialized;

// Guarded by moduleLock.
extern HWND currentWindow;
extern bool savedPositionValid;
extern POINT savedPosition;
extern bool windowClassRegistered;
extern int gdiplusUsers;
extern ULONG_PTR gdiplusToken;
// Windows of card threads that exist now, closing ones included; signalled
// through cardWindowsChanged whenever one goes.
extern int cardWindows;
extern CONDITION_VARIABLE cardWindowsChanged;

// Holds moduleLock for one scope.
class ModuleLockGuard {
public:
    ModuleLockGuard() { EnterCriticalSection(&moduleLock); }
    ~ModuleLockGuard() { LeaveCriticalSection(&moduleLock); }
    ModuleLockGuard(const ModuleLockGuard&) = delete;
    ModuleLockGuard& operator=(const ModuleLockGuard&) = delete;
};

// The loader's attach and detach steps; DllMain forwards to these, and test
// programs that link the Windows layer statically call them themselves.
void attachModule(HINSTANCE instance);
void detachModule(bool processTerminating);

// One reference per UI thread, first call at the thread's start and the
// matching release as its last step.
void acquireGdiplus();
void releaseGdiplus();

}  // namespace kestrine
