// ravoprobe settings, the part about the tracing drop-in: whether a
// ravotrace.dll installed as ravowsok.dll would trace, and where to. Read
// with the same section, keys and defaults as the drop-in.
#include "probe.h"
#include "trace_settings.h"
#include <stdio.h>
#include <string.h>

bool PrintTraceSettings(void)
{
    char file[MAX_PATH];
    GetPrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_FILE, "", file, sizeof file, RAVO_PROFILE_FILE);
    if (!file[0]) {
        printf("tracing:       off ([%s] sets no %s): a ravotrace.dll installed as ravowsok.dll passes\n"
               "               every call on and writes nothing\n",
               RAVO_TRACE_SECTION, RAVO_KEY_TRACE_FILE);
        return true;
    }
    TraceSettings t;
    ReadTraceSettings(&t);
    printf("tracing:       on, when ravotrace.dll stands in as ravowsok.dll (%s beside it):\n"
           "               a line as each call that can block begins and as each call ends, appended to\n"
           "               %s\n",
           RAVO_TRACE_REAL_MODULE, file);
    if (t.data)
        printf("  %s=1: the bytes of every send and read, at most %s=%ld of each\n", RAVO_KEY_TRACE_DATA,
               RAVO_KEY_TRACE_DATA_BYTES, t.dataBytes);
    else
        printf("  %s=0: no bytes\n", RAVO_KEY_TRACE_DATA);
    if (t.maxSizeMB)
        printf("  %s=%ld: tracing stops once the file holds %ld MiB\n", RAVO_KEY_TRACE_MAX_SIZE, t.maxSizeMB,
               t.maxSizeMB);
    else
        printf("  %s=0: no limit: the file grows until you delete it\n", RAVO_KEY_TRACE_MAX_SIZE);
    if (t.stable)
        printf("  %s=1: placeholders for times, ids and addresses (for comparing traces)\n",
               RAVO_KEY_TRACE_STABLE);
    // Opened as the drop-in opens it, but never created here.
    HANDLE h = CreateFileA(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD error = GetLastError();
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        printf("  trace file:  exists and can be appended to\n");
    } else if (error == ERROR_FILE_NOT_FOUND) {
        printf("  trace file:  missing; the drop-in creates it on the first call\n");
    } else {
        printf("  trace file:  cannot be opened (error %lu%s): the drop-in will trace nothing\n", error,
               error == ERROR_PATH_NOT_FOUND ? ", the folder does not exist" : "");
        return false;
    }
    return true;
}
