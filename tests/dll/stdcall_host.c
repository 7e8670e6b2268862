/* An x86 host that calls each export of kestrine.dll the way VBA, .NET and
 * ctypes.WinDLL do: through a __stdcall pointer from GetProcAddress, with the
 * arguments pushed by hand, and checks that the stack pointer after the call
 * is where it was before the pushes (the callee took its arguments off). A
 * function built with the caller-cleans convention would leave 52 bytes
 * behind for ShowKestrine. Exit code 0 when every check held. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char* what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) failures++;
}

/* Pushes count 32-bit words (args[0] nearest the return address, as the
 * convention lays them out), calls fn and reports how far the stack pointer
 * moved across push and call together; the stack is put back either way. */
static int callCounted(FARPROC fn, const DWORD* args, DWORD count, int* moved) {
    int result;
    DWORD n = count;
    __asm__ volatile(
        "movl %%esp, %%edi\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n"
        "1:\n\t"
        "pushl -4(%%esi,%%ecx,4)\n\t"
        "decl %%ecx\n\t"
        "jnz 1b\n"
        "2:\n\t"
        "call *%%edx\n\t"
        "movl %%esp, %%ecx\n\t"
        "subl %%edi, %%ecx\n\t"
        "movl %%edi, %%esp\n\t"
        : "=a"(result), "+c"(n), "+d"(fn), "+S"(args)
        :
        : "edi", "memory", "cc");
    *moved = (int)n;
    return result;
}

static HWND ownCard(void) {
    HWND window = NULL;
    while ((window = FindWindowExW(NULL, window, L"KestrineWindow", NULL)) != NULL) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) return window;
    }
    return NULL;
}

/* ShowKestrine's 52 bytes: five texts, three ints, a double in two words,
 * an int and two colours. */
static int show(FARPROC fn, const wchar_t* series, int* moved) {
    const double seconds = 0.5;
    DWORD secondsWords[2];
    memcpy(secondsWords, &seconds, sizeof seconds);
    const DWORD args[13] = {(DWORD)(UINT_PTR)series, (DWORD)(UINT_PTR)L"Stack", (DWORD)(UINT_PTR)L"x86",
                            (DWORD)(UINT_PTR)L"+1", (DWORD)(UINT_PTR)L"n", 1, 0, 0,
                            secondsWords[0], secondsWords[1], 1, 0xFFFFFFFFu, 0xFFFFFFFFu};
    return callCounted(fn, args, 13, moved);
}

int main(void) {
    HMODULE module = LoadLibraryW(L"kestrine.dll");
    check(module != NULL, "kestrine.dll loads");
    if (module == NULL) return 1;
    FARPROC showFn = GetProcAddress(module, "ShowKestrine");
    FARPROC closeFn = GetProcAddress(module, "CloseKestrine");
    FARPROC versionFn = GetProcAddress(module, "KestrineVersion");
    check(showFn && closeFn && versionFn, "the three undecorated names resolve");
    if (!showFn || !closeFn || !versionFn) return 1;

    int moved = -1;
    check(callCounted(versionFn, NULL, 0, &moved) == 100, "KestrineVersion returns 100");
    check(moved == 0, "KestrineVersion leaves the stack pointer where it was");

    moved = -1;
    check(show(showFn, L"", &moved) == -1, "ShowKestrine reads all its arguments: no points gives -1");
    check(moved == 0, "ShowKestrine (no chart) takes its 52 bytes of arguments off the stack");

    moved = -1;
    check(show(showFn, L"0:0;1:5;2:3", &moved) == 0, "ShowKestrine opens a card");
    check(moved == 0, "ShowKestrine (new card) takes its 52 bytes of arguments off the stack");
    for (int waited = 0; ownCard() == NULL && waited < 10000; waited += 20) Sleep(20);
    check(ownCard() != NULL, "the card's window appears");

    moved = -1;
    check(callCounted(closeFn, NULL, 0, &moved) == 1, "CloseKestrine asks the one card to close");
    check(moved == 0, "CloseKestrine leaves the stack pointer where it was");
    for (int waited = 0; ownCard() != NULL && waited < 10000; waited += 20) Sleep(20);
    check(ownCard() == NULL, "the card goes");

    printf("%d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
