/* Crashes at once, for the test that a program crashing under the project's
 * Wine prefix ends by itself instead of waiting for someone to dismiss a
 * crash dialog, which would stall a test run until its time-out. */
#include <stdio.h>

int main(void) {
    volatile int* nowhere = NULL;
    fputs("crashing on purpose\n", stderr);
    fflush(stderr);
    *nowhere = 1;
    return 0;
}
