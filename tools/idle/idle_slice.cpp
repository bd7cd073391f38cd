// One slice of blocking: until input or a message arrives for the thread, or
// the slice is over.
#include "idle.h"  // first: WinSock 2 before windows.h
#include "fine_timer.h"

// Everything that makes a message for PeekMessage: input, posted and sent
// messages, timers, paints, hot keys.
static const DWORD WAKE_FOR = QS_ALLINPUT;

static HANDLE sliceTimer;

// The timer fires once per slice. Where CreateWaitableTimerExW or its
// high-resolution flag is missing (before Windows 10 1803), there is no
// timer, and the slice is the wait's own 1 ms time-out, which Windows
// rounds up to its timer tick (15.6 ms unless a program made it finer).
// The machine-wide tick is never changed here.
void OpenSliceTimer(void)
{
    sliceTimer = OpenFineTimer();
}

void CloseSliceTimer(void)
{
    if (sliceTimer)
        CloseHandle(sliceTimer);
    sliceTimer = NULL;
}

BOOL WaitOneSlice(void)
{
    // Flags 0, not MWMO_INPUTAVAILABLE: the routine has just looked at the
    // queue, so only what arrives from now on ends the slice, and a message
    // left in the queue on purpose (a pending WM_QUIT) cannot make it spin.
    enum { TIMEOUT_MS = (IDLE_SLICE_US + 999) / 1000 };
    if (StartFineTimer(sliceTimer, IDLE_SLICE_US)) {
        // The time-out only backs the timer up. A timer left running when a
        // message ends the slice early is reset by the next slice's setting.
        return MsgWaitForMultipleObjectsEx(1, &sliceTimer, 2 * TIMEOUT_MS, WAKE_FOR, 0) == WAIT_OBJECT_0 + 1;
    }
    return MsgWaitForMultipleObjectsEx(0, NULL, TIMEOUT_MS, WAKE_FOR, 0) == WAIT_OBJECT_0;
}
