// A user idle routine library for the block-mode tests: counts its calls and
// notes whether the module's input hooks were installed during each one.
#include <windows.h>

static volatile LONG idleCalls;
static volatile LONG idleCallsWithHooks;
static LONG (*hooksProbe)(void);

extern "C" __declspec(dllexport) void TestIdle(void)
{
    InterlockedIncrement(&idleCalls);
    if (hooksProbe && hooksProbe())
        InterlockedIncrement(&idleCallsWithHooks);
}

extern "C" __declspec(dllexport) LONG TestIdleCalls(void)
{
    return idleCalls;
}

extern "C" __declspec(dllexport) LONG TestIdleCallsWithHooks(void)
{
    return idleCallsWithHooks;
}

// The test program tells the library how to see whether hooks are installed.
extern "C" __declspec(dllexport) void TestIdleReset(LONG (*probe)(void))
{
    idleCalls = 0;
    idleCallsWithHooks = 0;
    hooksProbe = probe;
}
