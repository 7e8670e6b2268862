// The module: its attach and detach steps, which set up the lock and the card
// state of the layers below for the life of the process.
#pragma once

#include <windows.h>

namespace kestrine {

// The loader's attach and detach steps; DllMain forwards to these, and test
// programs that link the Windows layer statically call them themselves.
void attachModule(HINSTANCE instance);
void detachModule(bool processTerminating);

}  // namespace kestrine
