// ravoprobe report: reads a trace of the drop-in ravotrace.dll and tells
// where the time went, per process and per connection, as text and as a
// page. The records its files share: what the trace says, then the report
// built from it, which the text and the page both render.
#pragma once
#include <stdio.h>
#include <string>
#include <vector>

#include "exports.h"

// One call of the trace: read from its end line, or from its start line
// alone when it never ended.
struct TracedCall {
    int kind;                 // index in the module's export list
    int process;
    int connection;           // -1: a call outside connections (_nettype, WEP, hooks)
    double startMs, endMs;    // wall clock, in ms since 1970-01-01 (the trace's local time)
    double durationMs;
    long result;
    long code;                // 0: none
    std::string codeName;     // as the trace names it
    long socket;              // -1: none
    long asked;               // bytes a send offers or a read can take, -1: none
    const char* call;         // "_netread(100, up to 8192 bytes)", in the line
    int callLength;
    const char* body;         // the line after its stamp (and after "< ")
    const char* line;         // the whole trace line
    int lineNumber;
    bool neverEnded;          // a start line whose end line never came
};

struct TracedConnection {
    int process;
    int number;               // 1, 2, ... within its process
    long socket;              // -1: the open failed or never ended
    int openCall;             // the _netopen, or -1: opened before the trace began
    bool closed;
    double closedMs;
    double summaryOpenMs;     // "open D ms" of the drop-in's summary line, or -1
    std::vector<int> calls;   // in the order they started
};

struct TracedProcess {
    long pid;
    std::string header;       // "HOST through MODULE" of its first line, or empty
    double firstMs, lastMs;   // its first and last stamped line
    double clockBaseMs;       // wall clock minus the drop-in's own clock
    int lines;
    std::vector<long> threads;
    std::vector<int> connections;
    std::vector<int> calls;   // every call, in the order they started
    std::string stopped;      // the "tracing stopped" line, when there was one
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
    int dataRows;             // Data=1 rows, read past
    std::vector<TracedCall> calls;
    std::vector<TracedConnection> connections;
    std::vector<TracedProcess> processes;
    bool interleaved;         // lines of several processes mixed
    int cutLine;              // the last line lacks its end (0: none)
    LeftOut older;            // the drop-in's older line format
    LeftOut stable;           // Stable=1: placeholders instead of times
    LeftOut unknown;
};
extern Trace trace;
// The calls a trace names are the module's exports: their names by kind,
// and the kinds that open, send, read and close a connection.
extern const char* callNames[RAVO_EXPORT_COUNT];
extern int kindOpen, kindSend, kindRead, kindClose;

// Reads the trace text (NUL-terminated; its line ends become NULs, so the
// records point into it) into trace.
void ReadTrace(char* text, size_t size);

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
extern std::vector<ReportItem> reportItems;

// Builds reportItems from trace.
void BuildReport(void);
// Prints the report as text on stdout; notes go to stderr.
void PrintReportText(void);
// Writes the page; false (said on stderr) when the file cannot be written.
bool WriteReportPage(const char* path);
// The timeline and the histogram of a process, as inline SVG.
void WriteTimeline(FILE* page, int process);
void WriteHistogram(FILE* page, int process);
// Text made safe inside HTML.
void WriteEscaped(FILE* page, const char* text);

// "hh:mm:ss.mmm", or "YYYY-MM-DD hh:mm:ss.mmm" with the date.
std::string ClockText(double wallMs, bool withDate);
// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
