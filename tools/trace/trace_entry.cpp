// The drop-in's entry routine and its first use.
#include "trace.h"

DropIn dropIn;

// Entry routine. At attach only what is safe under the loader lock: the
// clock, the process id, the TLS slot and the locks. When the drop-in is unloaded by
// FreeLibrary it frees the real module and closes the trace, so that a fresh
// load starts afresh; at process exit the system takes all of it down, and
// other threads may have died holding the locks, so nothing is touched.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID atExit)
{
    if (reason == DLL_PROCESS_ATTACH) {
        dropIn.self = instance;
        LARGE_INTEGER frequency, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&now);
        dropIn.loadedAt = now.QuadPart;
        dropIn.msPerTick = 1000.0 / (double)frequency.QuadPart;
        dropIn.frameSlot = TlsAlloc();
        dropIn.processId = GetCurrentProcessId();
        InitializeCriticalSection(&dropIn.startLock);
        InitializeCriticalSection(&dropIn.summaryLock);
    } else if (reason == DLL_PROCESS_DETACH && !atExit) {
        FreeRealModule();
        CloseTraceFile();
        if (dropIn.frameSlot != TLS_OUT_OF_INDEXES)
            TlsFree(dropIn.frameSlot);
        DeleteCriticalSection(&dropIn.startLock);
        DeleteCriticalSection(&dropIn.summaryLock);
    }
    return TRUE;
}

LONGLONG NowTicks(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart - dropIn.loadedAt;
}

double TicksMs(LONGLONG ticks)
{
    return (double)ticks * dropIn.msPerTick;
}

// Writes the line that opens a process's trace: the host and the real
// module in use, and why that cannot be used when it cannot.
static void TraceStart(void)
{
    if (!TracingOn())
        return;
    char host[MAX_PATH];
    GetModuleFileNameA(NULL, host, sizeof host);
    TraceLine line;
    bool stable = traceSettings.stable;
    StartLine(&line, stable);
    AppendHeader(&line, host, realModulePath, realModuleProblem, stable);
    WriteLine(&line, stable);
}

const RavoExports* UseRealModule(void)
{
    if (dropIn.started)
        return realModule;
    // The host's last error is its own: the loading below must not change it.
    DWORD lastError = GetLastError();
    EnterCriticalSection(&dropIn.startLock);
    if (!dropIn.started) {
        LoadRealModule();
        OpenTraceFile();
        TraceStart();
        InterlockedExchange(&dropIn.started, 1);
    }
    LeaveCriticalSection(&dropIn.startLock);
    SetLastError(lastError);
    return realModule;
}
