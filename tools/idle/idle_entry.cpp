// The library's entry routine: the clock and the slice timer.
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
// clock's rate and a timer object. When freed by FreeLibrary the timer is
// closed; at process exit the system takes it down.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID atExit)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        double perMicrosecond = (double)frequency.QuadPart / 1e6;
        idleTicks.pollWindow = Ticks(perMicrosecond, IDLE_POLL_WINDOW_US);
        idleTicks.newWaitGap = Ticks(perMicrosecond, IDLE_NEW_WAIT_GAP_US);
        OpenSliceTimer();
    } else if (reason == DLL_PROCESS_DETACH && !atExit) {
        CloseSliceTimer();
    }
    return TRUE;
}
