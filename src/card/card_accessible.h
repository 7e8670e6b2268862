// The card as screen readers see it: an IAccessible for its client area,
// served on WM_GETOBJECT, and the WinEvents that announce it and its changes.
// Nothing is loaded or created until a client asks: oleacc, ole32 and
// oleaut32 are loaded at run time on the first WM_GETOBJECT, and COM is
// initialised on the card's thread only then.
#pragma once

#include <windows.h>

#include "core/card_description.h"

namespace kestrine {

// WM_GETOBJECT: the card's object for OBJID_CLIENT; DefWindowProcW for every
// other object id, and when the system's accessibility libraries are missing.
LRESULT answerAccessibilityQuery(HWND window, WPARAM wParam, LPARAM lParam);

// At WM_NCDESTROY, the window's last message: the window's object stops
// reading the card, its clients are cut off (each call fails with
// RPC_E_DISCONNECTED), and the window's reference is dropped. Between
// WM_DESTROY and then, the object finds no record (WM_DESTROY detaches it)
// and reads nothing freed. The object
// itself lives on until its last client lets it go.
void disconnectCardAccessible(HWND window);

// EVENT_SYSTEM_ALERT for the card's client area: screen readers announce
// the card as it first appears.
void announceCardShown(HWND window);

// EVENT_OBJECT_NAMECHANGE and EVENT_OBJECT_VALUECHANGE, each only when the
// newer record changed it.
void announceCardTextChanges(HWND window, const CardTextChanges& changes);

// Held by a card's UI thread for its whole run: as the thread ends, COM is
// uninitialised if a WM_GETOBJECT initialised it here.
class CardThreadAccessibility {
public:
    CardThreadAccessibility() = default;
    ~CardThreadAccessibility();
    CardThreadAccessibility(const CardThreadAccessibility&) = delete;
    CardThreadAccessibility& operator=(const CardThreadAccessibility&) = delete;
};

}  // namespace kestrine
