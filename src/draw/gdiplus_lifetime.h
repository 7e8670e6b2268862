// The reference-counted lifetime of GDI+ shared by every card's UI thread:
// started with the first user, shut down (with what belongs to that GDI+
// instance) when the last one leaves.
#pragma once

#include <windows.h>

namespace kestrine {

// Guarded by moduleLock.
extern int gdiplusUsers;
extern ULONG_PTR gdiplusToken;

// One reference per UI thread, first call at the thread's start and the
// matching release as its last step.
void acquireGdiplus();
void releaseGdiplus();

// The module's detach step, before the lock goes: no timer of this file may
// fire after it.
void stopForgettingCardBases();

}  // namespace kestrine
