/* A minimal C host of kestrine.dll, linked with its import library: shows a
 * card, hands it new data, closes it, and checks each result on the way.
 * Exit code 0 when everything behaved as kestrine.h promises, 1 otherwise. */
#include <windows.h>

#include <stdio.h>

#include "kestrine.h"

static int failures = 0;

static void check(int ok, const char* what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) failures++;
}

/* The card window of this process, or NULL. Cards are top-level windows of
 * the class "KestrineWindow", created on the card's own thread. */
static HWND ownCard(void) {
    HWND window = NULL;
    while ((window = FindWindowExW(NULL, window, L"KestrineWindow", NULL)) != NULL) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) return window;
    }
    return NULL;
}

/* ShowKestrine returns once the card's thread has started; the window comes
 * a moment later. Waits up to timeoutMs for the card to be there (or gone). */
static HWND waitForCard(int present, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    HWND card = ownCard();
    while ((card != NULL) != present && GetTickCount64() < deadline) {
        Sleep(20);
        card = ownCard();
    }
    return card;
}

int main(void) {
    HWND first;
    HWND second;
    int result;

    check(KestrineVersion() == KESTRINE_VERSION, "KestrineVersion() is 100");
    check(ShowKestrine(NULL, NULL, NULL, NULL, NULL, 0, 0, 1, 1.5, 1, 0, 0) == KESTRINE_NO_CHART,
          "a null series is refused with KESTRINE_NO_CHART");

    /* Seconds on the x axis, no auto-close, animated for one second, default colours. */
    result = ShowKestrine(L"0:0;600:1200;1200:800;1800:2500;2400:3100", L"Today's P&L",
                          L"09:00 - 09:40", L"+3,100", L"5 trades", 0, 0, 1, 1.0, 1,
                          0xFFFFFFFFu, 0xFFFFFFFFu);
    check(result == KESTRINE_OK, "ShowKestrine opens a card");
    first = waitForCard(1, 20000);
    check(first != NULL, "the card window appears");

    /* A second call while the card is open redraws that same window. */
    result = ShowKestrine(L"0:0;1:-150;2:-80;3:-720", L"Loss by trade", L"3 trades", L"-720",
                          NULL, 1, 0, 0, 0.3, 0, RGB(0x38, 0xD9, 0x96), RGB(0xFF, 0x5A, 0x67));
    check(result == KESTRINE_OK, "ShowKestrine hands new data to the open card");
    Sleep(300);
    second = ownCard();
    check(second != NULL && second == first, "the same window shows the new data");

    check(CloseKestrine() == 1, "CloseKestrine asks the one card to close");
    check(waitForCard(0, 10000) == NULL, "the card is gone");
    check(CloseKestrine() == 0, "CloseKestrine with no card returns 0");

    printf("%s\n", failures == 0 ? "host-c: all good" : "host-c: FAILED");
    return failures == 0 ? 0 : 1;
}
