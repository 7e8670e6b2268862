// The module's attach and detach steps: the lock every layer shares, the
// instance the cards' window class is registered with, and the module pinned
// for the life of the process.

#include "dll/module_state.h"

#include "card/hand_over.h"

#include "card/card_registry.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"

namespace kestrine {

void attachModule(HINSTANCE instance) {
    moduleInstance = instance;
    InitializeCriticalSection(&moduleLock);
    moduleLockInitialized = true;
    if (instance != nullptr) {
        DisableThreadLibraryCalls(instance);
    }
    // Pin by an address inside this module's code, so that cards and their
    // UI threads outlive any FreeLibrary of the host. The result is not
    // needed: an unpinned module still works while the host keeps it loaded.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&attachModule), &pinned);
}

void detachModule(bool processTerminating) {
    // At process end other threads were killed mid-flight and may have held
    // the lock: touch nothing and let the system reclaim everything.
    if (processTerminating || !moduleLockInitialized) {
        return;
    }
    stopForgettingCardBases();
    stopRescues();
    DeleteCriticalSection(&moduleLock);
    moduleLockInitialized = false;
}

}  // namespace kestrine
