// The exports of ravowsok.dll resolved by name, for the tests, the probe,
// the benchmark and the tracing drop-in: every program that loads the
// module as a host does goes through the one list of ravowsok.h.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <type_traits>

#include "ravowsok.h"

// The exports' addresses, one field per line of RAVO_EXPORTS, named as the
// export and in its order: field i is RAVO_EXPORT_LIST[i].
#define RAVO_EXPORT_FIELD(name, ordinal, argumentBytes, type) type name;
struct RavoExports {
    RAVO_EXPORTS(RAVO_EXPORT_FIELD)
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

// An export's place in RAVO_EXPORT_LIST, by its name (RAVO_INDEX(_netopen)),
// and its name as text: a name that is no export does not compile.
#define RAVO_INDEX(exportName) ((int)(offsetof(RavoExports, exportName) / sizeof(FARPROC)))
#define RAVO_NAME(exportName) (RAVO_EXPORT_LIST[RAVO_INDEX(exportName)].name)

// The field of out that holds the export of RAVO_EXPORT_LIST[i].
inline FARPROC* RavoExportField(RavoExports* out, int i)
{
    return (FARPROC*)out + i;
}

// Resolves every export of dll by name into out (a missing one stays NULL).
// Returns the number of exports that are missing or whose ordinal leads
// elsewhere; problem (when not NULL) gets one line per fault.
int ResolveRavoExports(HMODULE dll, RavoExports* out, char* problem, int problemSize);
