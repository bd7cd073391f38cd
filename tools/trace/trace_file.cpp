// The trace file: named by [Trace] File of the profile, created when missing
// and always appended to. Each line (with its rows of bytes) is one write,
// so a host killed mid-run loses nothing already traced.
#include "trace.h"
#include <stdarg.h>

TraceSettings traceSettings;
static HANDLE traceFile;      // NULL: not tracing
static volatile LONG stopped;  // a write failed, or MaxSizeMB was reached
// One line at a time: hosts that call from two threads at once must not get
// half lines.
static CRITICAL_SECTION lineLock;

void OpenTraceFile(void)
{
    char path[MAX_PATH];
    GetPrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_FILE, "", path, sizeof path, RAVO_PROFILE_FILE);
    if (!path[0])
        return;
    // Append-only access: every write lands at the end, also when other
    // processes trace into the same file.
    traceFile = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
    // A file that cannot be opened (missing folder, read-only, a folder)
    // leaves the drop-in passing calls on untraced.
    if (traceFile == INVALID_HANDLE_VALUE) {
        traceFile = NULL;
        return;
    }
    InitializeCriticalSection(&lineLock);
    ReadTraceSettings(&traceSettings);
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
    return traceFile != NULL && !stopped;
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

void StartLine(TraceLine* line, SYSTEMTIME* now)
{
    line->length = 0;
    AppendStamp(line, now);
}

void AppendStamp(TraceLine* line, SYSTEMTIME* now)
{
    SYSTEMTIME local;
    if (!now)
        now = &local;
    GetLocalTime(now);
    if (traceSettings.stable) {
        AppendText(line, "YYYY-MM-DD hh:mm:ss.mmm pid P tid T +MS ");
        return;
    }
    LONGLONG sinceLoad = NowTicks();
    AppendText(line, "%04u-%02u-%02u ", now->wYear, now->wMonth, now->wDay);
    AppendClock(line, now);
    AppendText(line, " pid %lu tid %lu +", dropIn.processId, GetCurrentThreadId());
    AppendMs(line, sinceLoad);
    AppendText(line, " ");
}

// Whether the file would pass MaxSizeMB with length more bytes. Other
// processes may write the same file, so its size is asked each time.
static bool PastSizeLimit(int length)
{
    if (!traceSettings.maxSizeMB)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(traceFile, &size))
        return false;
    return size.QuadPart + length > (LONGLONG)traceSettings.maxSizeMB * 1024 * 1024;
}

// Writes under the lock. A failed or short write (disk full, the folder
// gone) stops the tracing quietly: the host never waits on its trace.
static void WriteLocked(const char* text, int length)
{
    DWORD written;
    if (!WriteFile(traceFile, text, (DWORD)length, &written, NULL) || written != (DWORD)length)
        InterlockedExchange(&stopped, 1);
}

void WriteLine(TraceLine* line, bool out, const void* bytes, LONG count)
{
    if (line->length > LINE_LIMIT)
        line->length = LINE_LIMIT;
    line->text[line->length++] = '\r';
    line->text[line->length++] = '\n';
    int size;
    char* text = traceSettings.data && bytes ? RowsBuffer(line, count, &size) : line->text;
    int length = line->length;
    if (text != line->text) {
        CopyMemory(text, line->text, line->length);
        length = AppendRows(text, length, out, (const BYTE*)bytes, count);
    }
    EnterCriticalSection(&lineLock);
    if (!stopped) {
        if (PastSizeLimit(length)) {
            TraceLine last;
            StartLine(&last);
            AppendText(&last, "--- tracing stopped: the trace file reached %s=%ld\r\n", RAVO_KEY_TRACE_MAX_SIZE,
                       traceSettings.maxSizeMB);
            WriteLocked(last.text, last.length);
            InterlockedExchange(&stopped, 1);
        } else {
            WriteLocked(text, length);
        }
    }
    LeaveCriticalSection(&lineLock);
    if (text != line->text)
        HeapFree(GetProcessHeap(), 0, text);
}
