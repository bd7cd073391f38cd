// The contenders, one row each. The copies of the module and the drop-in
// that rows load are made by the build (bench/CMakeLists.txt).
#include "bench.h"
#include "idle_routine.h"
#include <string.h>

// Block mode 3 with ravoidle.dll's routine; the library's name is the set-up's.
#define IDLE_ROUTINE_SETTINGS \
    {RAVO_PROFILE_SECTION, RAVO_KEY_BLOCK_MODE, "3"}, {RAVO_PROFILE_SECTION, RAVO_KEY_USER_FUNC, RAVO_IDLE_FUNC}

const Contender contenders[] = {
    // The module alone, as the profile beside the benchmark leaves it.
    {.name = "module", .transport = VIA_EXPORTS, .library = "ravowsok.dll", .waitsLong = true},
    // The floor of the design, and plain blocking calls: the module's time
    // is given over theirs.
    {.name = "hand loop", .transport = HAND_LOOP, .reference = "module", .floor = true},
    {.name = "plain", .transport = PLAIN, .reference = "module", .floor = true},
    // The tracing drop-in in front of the module: tracing off (what leaving
    // it in place costs a host), lines only, lines and bytes.
    {.name = "ravotrace", .transport = VIA_EXPORTS, .library = "viatrace\\ravowsok.dll", .reference = "module"},
    {.name = "trace on", .transport = VIA_EXPORTS, .library = "bench-trace-lines\\ravowsok.dll",
     .settings = {{RAVO_TRACE_SECTION, RAVO_KEY_TRACE_DATA, "0"}}, .traceFile = "bench-trace-lines.trace",
     .reference = "module"},
    {.name = "trace data", .transport = VIA_EXPORTS, .library = "bench-trace-data\\ravowsok.dll",
     .settings = {{RAVO_TRACE_SECTION, RAVO_KEY_TRACE_DATA, "1"}}, .traceFile = "bench-trace-data.trace",
     .reference = "module"},
    // A copy of the module idling with ravoidle.dll in block mode 3.
    {.name = "ravoidle", .transport = VIA_EXPORTS, .library = "viaidle\\ravowsok.dll",
     .settings = {IDLE_ROUTINE_SETTINGS}, .setUp = UseIdleRoutine, .reference = "module", .waitsLong = true},
};
const int contenderCount = sizeof contenders / sizeof contenders[0];
static_assert(sizeof contenders / sizeof contenders[0] <= MAX_CONTENDERS, "raise MAX_CONTENDERS");

int ContenderIndex(const char* name)
{
    for (int c = 0; c < contenderCount; c++)
        if (strcmp(contenders[c].name, name) == 0)
            return c;
    return -1;
}

bool Runs(int who, Workload w)
{
    return (contenders[who].workloads >> w) & 1;
}
