// The nine exports of ravowsok.dll resolved by name, for the tests, the
// probe, the benchmark and the tracing drop-in: every program that loads the
// module as a host does goes through the one list of ravowsok.h.
#pragma once
#include <windows.h>
#include <type_traits>

#include "ravowsok.h"

// The exports' addresses, one field per export in ordinal order: field
// ordinal - 1 of RAVO_EXPORTS.
struct RavoExports {
    HookProcFn kybdBlockProc;
    HookProcFn mouseBlockProc;
    WepFn wep;
    NetCloseFn netclose;
    NetOpenFn netopen;
    NetReadFn netread;
    NetSendFn netsend;
    NetTypeFn nettype;
    BlockingHookFn mcWSAHook;
};

struct RavoExportInfo {  // an export's name and ordinal, from RAVO_EXPORTS
    const char* name;
    int ordinal;
};
#define RAVO_EXPORT_INFO(name, ordinal, argumentBytes, type) {#name, ordinal},
#define RAVO_EXPORT_ONE(name, ordinal, argumentBytes, type) +1
enum { RAVO_EXPORT_COUNT = 0 RAVO_EXPORTS(RAVO_EXPORT_ONE) };
inline constexpr RavoExportInfo RAVO_EXPORT_LIST[RAVO_EXPORT_COUNT] = {RAVO_EXPORTS(RAVO_EXPORT_INFO)};
static_assert(sizeof(RavoExports) == RAVO_EXPORT_COUNT * sizeof(FARPROC), "RavoExports: one field per export");
// Each line names the pointer type of the header's declaration (the module's
// link checks the argument bytes: its export table names name@bytes).
#define RAVO_EXPORT_TYPE_CHECK(name, ordinal, argumentBytes, type) \
    static_assert(std::is_same<decltype(&name), type>::value, #name ": pointer type");
RAVO_EXPORTS(RAVO_EXPORT_TYPE_CHECK)

// The field of out that holds the export of RAVO_EXPORT_LIST[i].
inline FARPROC* RavoExportField(RavoExports* out, int i)
{
    return (FARPROC*)out + (RAVO_EXPORT_LIST[i].ordinal - 1);
}

// Resolves every export of dll by name into out (a missing one stays NULL).
// Returns the number of exports that are missing or whose ordinal leads
// elsewhere; problem (when not NULL) gets one line per fault.
int ResolveRavoExports(HMODULE dll, RavoExports* out, char* problem, int problemSize);
