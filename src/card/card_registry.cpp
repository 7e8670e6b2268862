// Storage of the process's card state.

#include "card/card_registry.h"

namespace kestrine {

HINSTANCE moduleInstance = nullptr;
bool savedPositionValid = false;
POINT savedPosition = {0, 0};
bool windowClassRegistered = false;
int cardWindows = 0;
CONDITION_VARIABLE cardWindowsChanged = CONDITION_VARIABLE_INIT;

void countCardWindow(int change) {
    {
        ModuleLockGuard lock;
        cardWindows += change;
    }
    if (change < 0) {
        WakeAllConditionVariable(&cardWindowsChanged);
    }
}

}  // namespace kestrine
