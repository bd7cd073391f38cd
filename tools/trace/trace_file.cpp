// The trace file: named by [Trace] File of the profile, created when missing
// and always appended to. Each line (with its rows of bytes) is one write,
// so a host killed mid-run loses nothing already traced.
#include "trace.h"

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

void StartLine(TraceLine* line, bool stable, SYSTEMTIME* now)
{
    line->length = 0;
    AppendNowStamp(line, stable, now);
}

void AppendNowStamp(TraceLine* line, bool stable, SYSTEMTIME* now)
{
    TraceStamp s;
    GetLocalTime(&s.at);
    if (now)
        *now = s.at;
    s.pid = dropIn.processId;
    s.tid = GetCurrentThreadId();
    s.sinceLoadMs = TicksMs(NowTicks());
    AppendStamp(line, &s, stable);
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

void WriteLine(TraceLine* line, bool stable, bool out, const void* bytes, LONG count)
{
    if (line->length > LINE_LIMIT)
        line->length = LINE_LIMIT;
    line->text[line->length++] = '\r';
    line->text[line->length++] = '\n';
    // With Data=1 the rows follow the line in one buffer from the heap; when
    // none can be had, they are left out.
    char* text = line->text;
    int length = line->length;
    if (traceSettings.data && bytes && count > 0) {
        char* rows = (char*)HeapAlloc(GetProcessHeap(), 0, length + RowsSize(count, traceSettings.dataBytes));
        if (rows) {
            CopyMemory(rows, line->text, length);
            length = AppendRows(rows, length, out, (const BYTE*)bytes, count, traceSettings.dataBytes);
            text = rows;
        }
    }
    EnterCriticalSection(&lineLock);
    if (!stopped) {
        if (PastSizeLimit(length)) {
            TraceLine last;
            StartLine(&last, stable);
            AppendStopped(&last, traceSettings.maxSizeMB);
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
