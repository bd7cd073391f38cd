// A waitable timer that keeps time finer than the system's timer tick,
// for waits of about a millisecond: ravoidle.dll's slices and the
// benchmark's late peer. Neither ever changes the machine-wide tick.
#pragma once
#include <windows.h>

// A high-resolution waitable timer (CreateWaitableTimerExW with its
// high-resolution flag, Windows 10 1803 and later), or NULL where the
// system has none: the caller then falls back in its own way.
HANDLE OpenFineTimer(void);
// Sets the timer to fire once, microseconds from now. FALSE when it cannot.
BOOL StartFineTimer(HANDLE timer, int microseconds);
