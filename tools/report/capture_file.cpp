// ravoprobe report TRACE --pcap FILE: the trace read, its capture written
// beside FILE and moved into its place once whole, so that an existing FILE
// is replaced whole or not at all; what went in and what did not, on stdout.
#include "capture.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>

static void PrintNotCaptured(const NotCaptured& n)
{
    if (n.count)
        printf("not in the capture: %d %s (%s); the first, line %d: %s\n", n.count, n.count == 1 ? n.what : n.whats,
               n.why, n.first->lineNumber, n.first->body);
}

static void PrintAccount(const Trace* t, const char* capturePath, const CaptureAccount* a)
{
    printf("capture %s: %d TCP stream%s (one per connection), %d packets, %lld bytes out, %lld bytes in, from %d "
           "process%s\n",
           capturePath, a->connections, a->connections == 1 ? "" : "s", a->packets, a->bytesOut, a->bytesIn,
           a->processes, a->processes == 1 ? "" : "es");
    if (a->madeUpPorts)
        printf("made up: the host's port of %d connection%s (their _netopen lines do not name the host's own end)\n",
               a->madeUpPorts, a->madeUpPorts == 1 ? "" : "s");
    for (const NotCaptured* n : {&a->failedOpens, &a->boundOpens, &a->neverEnded, &a->openedBefore})
        PrintNotCaptured(*n);
    for (int i : a->withoutData) {
        const TracedProcess& p = t->processes[i];
        printf("not in the capture: process %lu%s%s: its calls moved bytes that no rows show (traced with Data=0)\n",
               p.pid, p.header ? ", " : "", p.header ? p.header : "");
    }
}

// The capture written whole to a file beside capturePath, then moved into
// its place; false (said why, nothing left behind) when it cannot be.
static bool WriteWhole(const Trace* t, const char* capturePath, const char* application, CaptureAccount* a)
{
    char full[MAX_PATH], trace[MAX_PATH];
    if (!GetFullPathNameA(capturePath, MAX_PATH, full, NULL) || !GetFullPathNameA(t->path, MAX_PATH, trace, NULL)) {
        fprintf(stderr, REPORT_SAYS "cannot write the capture %s: its path or the trace's is too long\n", capturePath);
        return false;
    }
    if (lstrcmpiA(full, trace) == 0) {
        fprintf(stderr, REPORT_SAYS "the capture %s would replace the trace: name another file\n", capturePath);
        return false;
    }
    std::string partial = Format("%s.%lu.partial", full, GetCurrentProcessId());
    PcapWriter w = {fopen(partial.c_str(), "wb"), {}};
    if (!w.out) {
        fprintf(stderr, REPORT_SAYS "cannot write the capture %s: %s\n", capturePath, strerror(errno));
        return false;
    }
    setvbuf(w.out, NULL, _IOFBF, 1 << 16);
    WriteCapture(t, trace, application, &w, a);
    bool written = !ferror(w.out);
    if (fclose(w.out) != 0 || !written) {
        fprintf(stderr, REPORT_SAYS "writing the capture %s failed: %s\n", capturePath, strerror(errno));
    } else if (!MoveFileExA(partial.c_str(), full, MOVEFILE_REPLACE_EXISTING)) {
        fprintf(stderr, REPORT_SAYS "cannot put the capture in place of %s (error %lu: is it a folder, or open in "
                        "another program?)\n", capturePath, GetLastError());
    } else {
        return true;
    }
    DeleteFileA(partial.c_str());
    return false;
}

bool WriteTraceCaptureFile(const char* tracePath, const char* capturePath, const char* application)
{
    size_t size = 0;
    char* text = ReadTraceText(tracePath, &size);
    if (!text)
        return false;
    Trace t = {};
    t.path = tracePath;
    ReadTrace(text, size, &t);
    CaptureAccount a = {};
    a.failedOpens = {"failed open", "failed opens", "no connection", 0, NULL};
    a.boundOpens = {"open in bind mode", "opens in bind mode", "no peer", 0, NULL};
    a.neverEnded = {"call that never ended", "calls that never ended", "no end line", 0, NULL};
    a.openedBefore = {"connection opened before the trace began", "connections opened before the trace began",
                      "its _netopen is not in the trace", 0, NULL};
    bool written = false;
    if (!t.dataRows)
        fprintf(stderr, REPORT_SAYS "%s has no rows of bytes to make packets of: trace the host again with [Trace] "
                        "Data=1 (and DataBytes at least the host's largest send or read, for whole packets); no "
                        "capture written\n", tracePath);
    else
        written = WriteWhole(&t, capturePath, application, &a);
    if (written) {
        Report r;
        BuildReport(&t, &r);
        for (const ReportItem& item : r)  // lines left out: the capture holds the rest
            if (item.kind == ITEM_NOTE)
                fprintf(stderr, REPORT_SAYS "%s: %s\n", tracePath, item.text.c_str());
        PrintAccount(&t, capturePath, &a);
    }
    free(text);
    return written && !t.cutLine && !t.older.count && !t.stable.count && !t.unknown.count;
}
