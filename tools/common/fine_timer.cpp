// A high-resolution waitable timer (fine_timer.h). Calls KERNEL32 only, so
// that ravoidle.dll, which has no C runtime, can hold it too.
#include "fine_timer.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

HANDLE OpenFineTimer(void)
{
    typedef HANDLE(WINAPI * CreateTimerExFn)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
    typedef void (*AnyProc)(void);  // marks the cast from FARPROC as intended
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    CreateTimerExFn createTimer =
        kernel ? (CreateTimerExFn)(AnyProc)GetProcAddress(kernel, "CreateWaitableTimerExW") : NULL;
    return createTimer ? createTimer(NULL, NULL, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS) : NULL;
}

BOOL StartFineTimer(HANDLE timer, int microseconds)
{
    LARGE_INTEGER due;
    due.QuadPart = -(LONGLONG)microseconds * 10;  // relative, in 100 ns units
    return timer && SetWaitableTimer(timer, &due, 0, NULL, NULL, FALSE);
}
