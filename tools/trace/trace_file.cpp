// The trace file: named by [Trace] File of the profile, created when missing
// and always appended to. Each line is one write, so a host killed mid-run
// loses nothing already traced.
#include "trace.h"
#include "../../src/diag/dump.h"
#include <stdarg.h>

static HANDLE traceFile;  // NULL: not tracing
static char tracePath[MAX_PATH];
static bool traceData;
// One line and its dump at a time: hosts that call from two threads at once
// must not get half lines.
static CRITICAL_SECTION lineLock;

void OpenTraceFile(void)
{
    GetPrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_FILE, "", tracePath, sizeof tracePath,
                             RAVO_PROFILE_FILE);
    if (!tracePath[0])
        return;
    // Append-only access: every write lands at the end, after the dump
    // writer's rows, which it appends through a handle of its own.
    traceFile = CreateFileA(tracePath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
    // A file that cannot be opened (missing folder, read-only, a folder)
    // leaves the drop-in passing calls on untraced.
    if (traceFile == INVALID_HANDLE_VALUE) {
        traceFile = NULL;
        return;
    }
    InitializeCriticalSection(&lineLock);
    traceData = GetPrivateProfileIntA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_DATA, 0, RAVO_PROFILE_FILE) != 0;
    dumpFileName = tracePath;
}

void CloseTraceFile(void)
{
    if (!traceFile)
        return;
    CloseHandle(traceFile);
    traceFile = NULL;
    DeleteCriticalSection(&lineLock);
}

bool TracingOn(void)
{
    return traceFile != NULL;
}

void AppendText(TraceLine* line, const char* format, ...)
{
    if (line->length >= LINE_LIMIT)
        return;
    va_list args;
    va_start(args, format);
    line->length += wvsprintfA(line->text + line->length, format, args);
    va_end(args);
}

void StartLine(TraceLine* line, LONGLONG start, const char* call)
{
    line->length = 0;
    AppendMs(line, start);
    AppendText(line, " tid %lu %s", GetCurrentThreadId(), call);
}

void WriteLine(TraceLine* line, const char* dumpTitle, const void* bytes, LONG count)
{
    if (line->length > LINE_LIMIT)
        line->length = LINE_LIMIT;
    line->text[line->length++] = '\r';
    line->text[line->length++] = '\n';
    EnterCriticalSection(&lineLock);
    DWORD written;
    WriteFile(traceFile, line->text, (DWORD)line->length, &written, NULL);
    // The dump writer's rows, titled with the call; it reports nothing.
    if (traceData && dumpTitle && count > 0)
        DumpMemory(dumpTitle, bytes, count, DUMP_ROWS);
    LeaveCriticalSection(&lineLock);
}
