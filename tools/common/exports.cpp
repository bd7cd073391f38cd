// Resolving the module's exports by name and checking their ordinals.
#include "exports.h"
#include <stdio.h>
#include <string.h>

void ListRavoExports(RavoExports* out, RavoExportSlot* slots)
{
    const RavoExportSlot table[RAVO_EXPORT_COUNT] = {
        {"KybdBlockProc", 1, (FARPROC*)&out->kybdBlockProc},
        {"MouseBlockProc", 2, (FARPROC*)&out->mouseBlockProc},
        {"WEP", 3, (FARPROC*)&out->wep},
        {"_netclose", 4, (FARPROC*)&out->netclose},
        {"_netopen", 5, (FARPROC*)&out->netopen},
        {"_netread", 6, (FARPROC*)&out->netread},
        {"_netsend", 7, (FARPROC*)&out->netsend},
        {"_nettype", 8, (FARPROC*)&out->nettype},
        {"mcWSAHook", 9, (FARPROC*)&out->mcWSAHook},
    };
    memcpy(slots, table, sizeof table);
}

int ResolveRavoExports(HMODULE dll, RavoExports* out, char* problem, int problemSize)
{
    RavoExportSlot slots[RAVO_EXPORT_COUNT];
    memset(out, 0, sizeof *out);
    ListRavoExports(out, slots);
    int faults = 0, used = 0;
    if (problem && problemSize > 0)
        problem[0] = 0;
    for (int i = 0; i < RAVO_EXPORT_COUNT; i++) {
        FARPROC byName = GetProcAddress(dll, slots[i].name);
        *slots[i].address = byName;
        const char* fault = NULL;
        if (!byName)
            fault = "is missing";
        else if (GetProcAddress(dll, MAKEINTRESOURCEA(slots[i].ordinal)) != byName)
            fault = "does not stand at its ordinal";
        if (!fault)
            continue;
        faults++;
        if (problem && used < problemSize) {
            int n = _snprintf(problem + used, problemSize - used, "export %s (ordinal %d) %s\n", slots[i].name,
                              slots[i].ordinal, fault);
            used = n < 0 ? problemSize : used + n;
            problem[problemSize - 1] = 0;
        }
    }
    return faults;
}
