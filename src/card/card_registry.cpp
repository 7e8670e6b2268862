// Storage of the process's card state.

#include "card/card_registry.h"

namespace kestrine {

HINSTANCE moduleInstance = nullptr;
bool savedPositionValid = false;
POINT savedPosition = {0, 0};
bool windowClassRegistered = false;

}  // namespace kestrine
