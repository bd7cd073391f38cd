// The library's entry routine: the clock, the slice timer and the
// per-thread records.
#include "idle.h"

IdleTicks idleTicks;

LONGLONG NowTicks(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Microseconds to ticks through a double: 64-bit division would need
// libgcc's helpers, which a library without a runtime does not have.
static LONGLONG Ticks(double perMicrosecond, int microseconds)
{
    return (LONGLONG)(perMicrosecond * microseconds);
}

// Entry routine. At attach only what is safe under the loader lock: the
// clock's rate, a timer object, thread-local slots and a lock. A thread's
// event goes when the thread ends. When freed by FreeLibrary (only while no
// wrapper of ours stands in an import table: then the library keeps itself
// loaded) the rest is closed; at process exit the system takes it down.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD reason, LPVOID atExit)
{
    if (reason == DLL_PROCESS_ATTACH) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        double perMicrosecond = (double)frequency.QuadPart / 1e6;
        idleTicks.pollWindow = Ticks(perMicrosecond, IDLE_POLL_WINDOW_US);
        idleTicks.newWaitGap = Ticks(perMicrosecond, IDLE_NEW_WAIT_GAP_US);
        OpenSliceTimer();
        OpenPollRecords();
        OpenThreadEvents();
    } else if (reason == DLL_THREAD_DETACH) {
        CloseThreadEvent();
    } else if (reason == DLL_PROCESS_DETACH && !atExit) {
        CloseThreadEvents();
        ClosePollRecords();
        CloseSliceTimer();
    }
    return TRUE;
}
