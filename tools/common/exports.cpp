// Resolving the module's exports by name and checking their ordinals.
#include "exports.h"
#include <stdio.h>
#include <string.h>

int ResolveRavoExports(HMODULE dll, RavoExports* out, char* problem, int problemSize)
{
    memset(out, 0, sizeof *out);
    int faults = 0, used = 0;
    if (problem && problemSize > 0)
        problem[0] = 0;
    for (int i = 0; i < RAVO_EXPORT_COUNT; i++) {
        const RavoExportInfo* e = &RAVO_EXPORT_LIST[i];
        FARPROC byName = GetProcAddress(dll, e->name);
        *RavoExportField(out, i) = byName;
        const char* fault = NULL;
        if (!byName)
            fault = "is missing";
        else if (GetProcAddress(dll, MAKEINTRESOURCEA(e->ordinal)) != byName)
            fault = "does not stand at its ordinal";
        if (!fault)
            continue;
        faults++;
        if (problem && used < problemSize) {
            int n = _snprintf(problem + used, problemSize - used, "export %s (ordinal %d) %s\n", e->name, e->ordinal,
                              fault);
            used = n < 0 ? problemSize : used + n;
            problem[problemSize - 1] = 0;
        }
    }
    return faults;
}
