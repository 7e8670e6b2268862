/* Calls the DLL through its import library and the package's header: prints
 * the interface version and the result of a call without points. */
#include <stdio.h>

#include "kestrine.h"

int main(void) {
    const int none = ShowKestrine(L"", NULL, NULL, NULL, NULL, 1, 0, 0, 1.0, 1, 0, 0);
    printf("%d %d\n", KestrineVersion(), none);
    return KestrineVersion() == KESTRINE_VERSION && none == KESTRINE_NO_CHART ? 0 : 1;
}
