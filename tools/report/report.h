// The trace report, the library behind ravoprobe report: a trace of the
// drop-in ravotrace.dll read into processes, connections and calls (each
// line read with the trace's grammar, trace_grammar.h), and the report built
// from them, which the text and the page both render. Everything is passed
// along in these records; nothing is kept between two reports.
#pragma once
#include <stdio.h>
#include <string>
#include <vector>

#include "exports.h"
#include "trace_grammar.h"

// One call of the trace. Its texts point into the trace's text.
struct TracedCall {
    TraceCallRead read;       // its end line, as read (its start line's when it never ended)
    int process;
    int connection;           // -1: a call outside connections (_nettype, WEP, hooks)
    const char* startLine;    // its start line, stamp and all; NULL: a call that cannot block has none
    const char* endLine;      // its end line; NULL: it never ended
    const char* body;         // the end line after its stamp and "< "; the start's call when it never ended
    int lineNumber;           // of its end line (its start line when it never ended)
    double startMs, endMs;    // wall clock, in ms since 1970-01-01 (the trace's local time)
    double durationMs;
    int firstRow, rowCount;   // its rows of bytes (Data=1) in Trace::rows
    long shownBytes;          // the bytes those rows show
    long notShownBytes;       // "... N more bytes not shown"
    bool neverEnded;          // a start line whose end line never came
};

struct TracedConnection {
    int process;
    int number;               // 1, 2, ... within its process
    long socket;              // -1: the open failed or never ended
    int openCall;             // the _netopen, or -1: opened before the trace began
    bool closed;
    double closedMs;
    TraceSummary summary;     // the drop-in's summary line after the close
    bool summed;              // there was one
    std::vector<int> calls;   // in the order they started
};

struct TracedProcess {
    DWORD pid;
    const char* header;       // "HOST through MODULE" of its first line, or NULL
    double firstMs, lastMs;   // its first and last stamped line
    double clockBaseMs;       // wall clock minus the drop-in's own clock
    int lines;
    std::vector<DWORD> threads;
    std::vector<int> connections;
    std::vector<int> calls;   // every call, in the order they started
    const char* stopped;      // the "tracing stopped" line after its stamp, or NULL
};

// Lines the report could not use, by why.
struct LeftOut {
    int count;
    int firstLine;
    std::string first;        // the first such line, cut to a readable length
};

struct Trace {
    const char* path;
    int lines;
    int dataRows;             // Data=1 rows and their "not shown" lines
    std::vector<TracedCall> calls;
    std::vector<TracedConnection> connections;
    std::vector<TracedProcess> processes;
    std::vector<const char*> rows;  // the rows of bytes of the calls, in order
    bool interleaved;         // lines of several processes mixed
    int cutLine;              // the last line lacks its end (0: none)
    LeftOut older;            // the drop-in's older line format
    LeftOut stable;           // Stable=1: placeholders instead of times
    LeftOut unknown;          // anything else, also a line that does not read whole
};

// Reads the trace text (NUL-terminated; its line ends become NULs, so the
// records point into it) into t.
void ReadTrace(char* text, size_t size, Trace* t);

// What both renderings show, in order.
enum ReportItemKind {
    ITEM_HEADING,    // level 1: the trace, 2: a process, 3: a connection or a part
    ITEM_TEXT,
    ITEM_TABLE,      // cells row by row, the first row the header
    ITEM_NOTE,       // a line left out or a fault of the trace: stderr for the text, the page shows it
    ITEM_TIMELINE,   // the page only
    ITEM_HISTOGRAM,  // the page only: read durations
};
struct ReportItem {
    ReportItemKind kind;
    int level;
    std::string text;
    int columns;
    unsigned numeric;         // bit per column: right-aligned
    std::vector<std::string> cells;
    int process;
};
typedef std::vector<ReportItem> Report;

void BuildReport(const Trace* t, Report* r);
// Prints the report as text on stdout; notes go to stderr.
void PrintReportText(const Trace* t, const Report* r);
// Writes the page; false (said on stderr) when the file cannot be written.
bool WriteReportPage(const char* path, const Trace* t, const Report* r);
// The timeline and the histogram of a process, as inline SVG.
void WriteTimeline(FILE* page, const Trace* t, int process);
void WriteHistogram(FILE* page, const Trace* t, int process);
// Text made safe inside HTML.
void WriteEscaped(FILE* page, const char* text);

// The trace file's text, NUL-terminated (free it), or NULL when it cannot be
// read, is empty or is not text; each said on stderr.
char* ReadTraceText(const char* path, size_t* size);
// Reads the trace file and prints its report, and writes the page when
// htmlPath is not NULL. False when the trace cannot be read, holds nothing
// to report, has lines left out (the report covers the rest) or the page
// cannot be written; each said on stderr.
bool ReportTraceFile(const char* path, const char* htmlPath);

// "hh:mm:ss.mmm", or "YYYY-MM-DD hh:mm:ss.mmm" with the date.
std::string ClockText(double wallMs, bool withDate);
// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The prefix of every message on stderr.
#define REPORT_SAYS "ravoprobe report: "
