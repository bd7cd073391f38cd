// ravoprobe report TRACE [--html FILE]: a trace of ravotrace.dll summed up
// per process and per connection. What cannot be read is said on stderr and
// gives exit status 1; the report covers the rest.
#include "probe.h"
#include "probe_report.h"
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The trace's bytes, NUL-terminated, or NULL (said why).
static char* ReadWholeTrace(const char* path, size_t* size)
{
    FILE* file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, "ravoprobe report: cannot open the trace %s: %s\n", path, strerror(errno));
        return NULL;
    }
    fseek(file, 0, SEEK_END);
    long length = ftell(file);
    fseek(file, 0, SEEK_SET);
    char* text = length >= 0 ? (char*)malloc((size_t)length + 1) : NULL;
    if (!text) {
        fprintf(stderr, "ravoprobe report: the trace %s (%ld bytes) is too large to read at once\n", path, length);
    } else if (fread(text, 1, (size_t)length, file) != (size_t)length) {
        fprintf(stderr, "ravoprobe report: reading the trace %s failed: %s\n", path, strerror(errno));
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

int CommandReport(const ProbeOptions* o)
{
    const char* path = o->argv[0];
    size_t size = 0;
    char* text = ReadWholeTrace(path, &size);
    if (!text)
        return PROBE_FAILED;
    if (size == 0) {
        fprintf(stderr, "ravoprobe report: the trace %s is empty: nothing was traced (is [Trace] File set, and "
                        "did the host call the module?)\n", path);
        return PROBE_FAILED;
    }
    if (LooksBinary(text, size)) {
        fprintf(stderr, "ravoprobe report: %s is not a trace: it holds binary data (NUL bytes)%s\n", path,
                (unsigned char)text[0] == 0xff && (unsigned char)text[1] == 0xfe
                    ? "; it looks saved as UTF-16: save it as ANSI text again" : "");
        return PROBE_FAILED;
    }
    // Much output: buffered, written at the end (main leaves it unbuffered).
    setvbuf(stdout, NULL, _IOFBF, 1 << 16);
    trace.path = path;
    ReadTrace(text, size);
    BuildReport();
    bool leftOut = trace.cutLine || trace.older.count || trace.stable.count || trace.unknown.count;
    if (trace.processes.empty()) {
        for (const ReportItem& item : reportItems)  // only the notes: why nothing could be read
            if (item.kind == ITEM_NOTE)
                fprintf(stderr, "ravoprobe report: %s: %s\n", path, item.text.c_str());
        fprintf(stderr, "ravoprobe report: %s holds no line of the current trace format: nothing to report\n", path);
        return PROBE_FAILED;
    }
    PrintReportText();
    fflush(stdout);
    if (o->htmlPath && !WriteReportPage(o->htmlPath))
        return PROBE_FAILED;
    return leftOut ? PROBE_FAILED : PROBE_OK;
}
