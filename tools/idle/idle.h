// ravoidle.dll: the idle routine for block mode 3 that waits without
// keeping a core busy. Shared by its few files.
#pragma once
#include <windows.h>

#include "idle_routine.h"

// The routine's numbers in ticks of the performance counter, set at attach.
struct IdleTicks {
    LONGLONG pollWindow;
    LONGLONG newWaitGap;
};
extern IdleTicks idleTicks;

LONGLONG NowTicks(void);

// The slice timer: a high-resolution waitable timer where the system has
// one. Opened at attach, closed when the library is freed.
void OpenSliceTimer(void);
void CloseSliceTimer(void);

// Blocks for at most one slice, ending early when input or a message
// arrives for the thread. Returns TRUE when it ended for input or a message.
BOOL WaitOneSlice(void);
