// The nine exports of ravowsok.dll resolved by name, for the tests, the
// probe and the benchmark: every program that loads the module as a host
// does goes through this one resolver.
#pragma once
#include <windows.h>

#include "ravowsok.h"

struct RavoExports {
    NetOpenFn netopen;
    NetSendFn netsend;
    NetReadFn netread;
    NetCloseFn netclose;
    NetTypeFn nettype;
    WepFn wep;
    HookProcFn kybdBlockProc;
    HookProcFn mouseBlockProc;
    BlockingHookFn mcWSAHook;
};

// One export: its name, the ordinal it must stand at, and its address once
// resolved.
struct RavoExportSlot {
    const char* name;
    int ordinal;
    FARPROC* address;
};
enum { RAVO_EXPORT_COUNT = 9 };

// Fills slots (RAVO_EXPORT_COUNT of them, in ordinal order) with the names,
// ordinals and the addresses of the fields of out.
void ListRavoExports(RavoExports* out, RavoExportSlot* slots);

// Resolves every export of dll by name into out (a missing one stays NULL).
// Returns the number of exports that are missing or whose ordinal leads
// elsewhere; problem (when not NULL) gets one line per fault.
int ResolveRavoExports(HMODULE dll, RavoExports* out, char* problem, int problemSize);
