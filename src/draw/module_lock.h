// The module's one lock. It guards every piece of process-wide state, from the
// drawing layer's card bases and UI font up to the cards and the hand-over, so
// it sits in the lowest Windows layer; the module's attach step creates it.
#pragma once

#include <windows.h>

namespace kestrine {

extern CRITICAL_SECTION moduleLock;
extern bool moduleLockInitialized;

// Holds moduleLock for one scope.
class ModuleLockGuard {
public:
    ModuleLockGuard() { EnterCriticalSection(&moduleLock); }
    ~ModuleLockGuard() { LeaveCriticalSection(&moduleLock); }
    ModuleLockGuard(const ModuleLockGuard&) = delete;
    ModuleLockGuard& operator=(const ModuleLockGuard&) = delete;
};

}  // namespace kestrine
