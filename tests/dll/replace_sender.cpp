// Helper of the end-to-end tests: another process that sends the card's private
// message (0x8011) with an arbitrary lParam to the first card window it finds, as
// foreign code could. Exit code: the card's answer; 100 no card; 101 no answer.
//   replace_sender.exe <lParam as hexadecimal>

#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    const unsigned long long lParam = argc > 1 ? std::strtoull(argv[1], nullptr, 16) : 0;
    HWND card = FindWindowW(L"KestrineWindow", nullptr);
    if (card == nullptr) {
        return 100;
    }
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(card, WM_APP + 0x11, 0, static_cast<LPARAM>(lParam),
                             SMTO_ABORTIFHUNG, 3000, &answer)) {
        return 101;
    }
    return static_cast<int>(answer);
}
