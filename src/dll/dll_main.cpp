// The loader's entry callback of kestrine.dll. Only the DLL links this file;
// test programs link the Windows layer statically and attach it themselves.

#include <windows.h>

#include "dll/module_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        kestrine::attachModule(instance);
        break;
    case DLL_PROCESS_DETACH:
        // A non-null reserved pointer means the process is ending.
        kestrine::detachModule(reserved != nullptr);
        break;
    default:
        break;
    }
    return TRUE;
}
