// A trace file read and reported as a whole: what cannot be read is said on
// stderr, and the report covers the rest.
#include "report.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>

// The trace's bytes, NUL-terminated, or NULL (said why).
static char* ReadWholeTrace(const char* path, size_t* size)
{
    FILE* file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, REPORT_SAYS "cannot open the trace %s: %s\n", path, strerror(errno));
        return NULL;
    }
    fseek(file, 0, SEEK_END);
    long length = ftell(file);
    fseek(file, 0, SEEK_SET);
    char* text = length >= 0 ? (char*)malloc((size_t)length + 1) : NULL;
    if (!text) {
        fprintf(stderr, REPORT_SAYS "the trace %s (%ld bytes) is too large to read at once\n", path, length);
    } else if (fread(text, 1, (size_t)length, file) != (size_t)length) {
        fprintf(stderr, REPORT_SAYS "reading the trace %s failed: %s\n", path, strerror(errno));
        free(text);
        text = NULL;
    } else {
        text[length] = 0;
        *size = (size_t)length;
    }
    fclose(file);
    return text;
}

// A trace is text: NUL bytes at its start mean another kind of file.
static bool LooksBinary(const char* text, size_t size)
{
    return memchr(text, 0, size < 4096 ? size : 4096) != NULL;
}

// The trace read and reported, once it is known to be text.
static bool ReportText(const char* path, char* text, size_t size, const char* htmlPath)
{
    Trace t = {};
    t.path = path;
    ReadTrace(text, size, &t);
    Report r;
    BuildReport(&t, &r);
    if (t.processes.empty()) {
        for (const ReportItem& item : r)  // only the notes: why nothing could be read
            if (item.kind == ITEM_NOTE)
                fprintf(stderr, REPORT_SAYS "%s: %s\n", path, item.text.c_str());
        fprintf(stderr, REPORT_SAYS "%s holds no line of the current trace format: nothing to report\n", path);
        return false;
    }
    PrintReportText(&t, &r);
    fflush(stdout);
    if (htmlPath && !WriteReportPage(htmlPath, &t, &r))
        return false;
    return !t.cutLine && !t.older.count && !t.stable.count && !t.unknown.count;
}

char* ReadTraceText(const char* path, size_t* size)
{
    char* text = ReadWholeTrace(path, size);
    if (!text)
        return NULL;
    if (*size == 0)
        fprintf(stderr, REPORT_SAYS "the trace %s is empty: nothing was traced (is [Trace] File set, and did the "
                                    "host call the module?)\n", path);
    else if (LooksBinary(text, *size))
        fprintf(stderr, REPORT_SAYS "%s is not a trace: it holds binary data (NUL bytes)%s\n", path,
                (unsigned char)text[0] == 0xff && (unsigned char)text[1] == 0xfe
                    ? "; it looks saved as UTF-16: save it as ANSI text again" : "");
    else
        return text;
    free(text);
    return NULL;
}

bool ReportTraceFile(const char* path, const char* htmlPath)
{
    size_t size = 0;
    char* text = ReadTraceText(path, &size);
    if (!text)
        return false;
    bool reported = ReportText(path, text, size, htmlPath);
    free(text);
    return reported;
}
