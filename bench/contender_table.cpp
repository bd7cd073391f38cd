// The contenders, one row each. The copies of the module and the drop-in
// that rows load are made by the build (bench/CMakeLists.txt).
#include "bench.h"
#include "idle_routine.h"
#include <stdio.h>
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
    {.name = "plain", .transport = PLAIN, .reference = "module", .floor = true, .waitsLong = true},
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
    // Both again against a server that works a moment on each request: its
    // answer comes about 1 ms later, past the first polls of every wait.
    {.name = "module (1 ms peer)", .transport = VIA_EXPORTS, .library = "ravowsok.dll", .workloads = ROUND_TRIPS,
     .echoMode = PEER_MODE_ECHO_LATE},
    {.name = "ravoidle (1 ms peer)", .transport = VIA_EXPORTS, .library = "viaidle\\ravowsok.dll",
     .settings = {IDLE_ROUTINE_SETTINGS}, .setUp = UseIdleRoutine, .workloads = ROUND_TRIPS,
     .echoMode = PEER_MODE_ECHO_LATE, .reference = "module (1 ms peer)"},
    // What blocking on the socket itself costs there, as libpq and FreeTDS do.
    {.name = "plain (1 ms peer)", .transport = PLAIN, .workloads = ROUND_TRIPS, .echoMode = PEER_MODE_ECHO_LATE,
     .reference = "module (1 ms peer)", .floor = true},
};
const int contenderCount = sizeof contenders / sizeof contenders[0];
static_assert(sizeof contenders / sizeof contenders[0] <= MAX_CONTENDERS, "raise MAX_CONTENDERS");

// Rows left out by --only.
static bool leftOut[MAX_CONTENDERS];

bool ChooseContenders(const char* names)
{
    for (int c = 0; c < contenderCount; c++)
        leftOut[c] = true;
    for (const char* name = names; *name;) {
        const char* end = strchr(name, ',');
        size_t length = end ? (size_t)(end - name) : strlen(name);
        int found = -1;
        for (int c = 0; c < contenderCount; c++)
            if (strlen(contenders[c].name) == length && strncmp(contenders[c].name, name, length) == 0)
                found = c;
        if (found < 0) {
            printf("--only: no contender is called \"%.*s\"; they are:", (int)length, name);
            for (int c = 0; c < contenderCount; c++)
                printf("%s \"%s\"", c ? "," : "", contenders[c].name);
            printf("\n");
            return false;
        }
        leftOut[found] = false;
        name += length + (end ? 1 : 0);
    }
    return true;
}

bool Chosen(int who)
{
    return !leftOut[who];
}

int ContenderIndex(const char* name)
{
    for (int c = 0; c < contenderCount; c++)
        if (strcmp(contenders[c].name, name) == 0)
            return c;
    return -1;
}

bool Runs(int who, Workload w)
{
    return !leftOut[who] && (contenders[who].workloads >> w) & 1;
}
