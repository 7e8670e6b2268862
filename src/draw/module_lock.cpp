// The module lock's storage; attachModule initializes it, detachModule deletes it.

#include "draw/module_lock.h"

namespace kestrine {

CRITICAL_SECTION moduleLock;
bool moduleLockInitialized = false;

}  // namespace kestrine
