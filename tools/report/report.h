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

// How far a call that never ended is shown waiting: up to a line that
// bounds it.
enum WaitShownUntil {
    UNTIL_TRACE_END,   // the trace's last line: it waited at least that long
    UNTIL_STOPPED,     // its process's stop line (MaxSizeMB): at least that long
    UNTIL_PID_REUSED,  // the first line of a later process with its pid: at most that long
    UNTIL_OUTER_END,   // the end line of the call it was made within: at most that long
};

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
    WaitShownUntil until;     // when it never ended: up to which line it is shown,
    const char* untilLine;    // and that line; its duration is the span between the stamps
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
    const char* firstLine;    // those two lines, stamps as written
    const char* lastLine;
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
    const char* lastStamped;  // the trace's last stamped line
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
    std::string anchor;       // a heading's name on the page, which links lead to
    int columns;
    unsigned numeric;         // bit per column: right-aligned
    std::vector<std::string> cells;
    std::vector<std::string> links;  // per cell, the anchor it leads to on the page ("": none), or empty
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

// What a call's lines say beyond its own result (report_calls.cpp).
enum CallTrouble {
    TROUBLE_NONE,
    TROUBLE_ERROR,   // an error code other than a reset
    TROUBLE_CLOSED,  // a read of 0: the server closed the connection (also a reset under Wine 8)
    TROUBLE_RESET,   // code 10054 WSAECONNRESET: the server reset the connection
    TROUBLE_HANG,    // it never ended
};
CallTrouble TroubleOf(const TracedCall& c);
// The trouble as the report names it: "error", "closed by the server", ...
const char* TroubleName(CallTrouble trouble);
// The stamp of a trace line as written: "hh:mm:ss.mmm", with the date
// "YYYY-MM-DD hh:mm:ss.mmm".
std::string StampText(const char* line, bool withDate);
// When a call started and ended, as its lines' stamps say: a call that
// cannot block has one line, whose stamp is both; an end line without its
// start line gives a start worked out from its duration.
std::string StartStamp(const TracedCall& c);
std::string EndStamp(const TracedCall& c);
// How long a call that never ended was waiting, and by which line: "still
// waiting at 16:58:41.204, the trace's last line: at least 2.5 s".
std::string WaitedText(const TracedCall& c);
// True when that span is the least it waited (its end never came), false
// when it is the most (a later line shows it was over by then).
bool WaitedAtLeast(const TracedCall& c);

// "hh:mm:ss.mmm", or "YYYY-MM-DD hh:mm:ss.mmm" with the date: a time the
// report works out (the timeline's ticks), not one the trace wrote.
std::string ClockText(double wallMs, bool withDate);
// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The prefix of every message on stderr.
#define REPORT_SAYS "ravoprobe report: "
