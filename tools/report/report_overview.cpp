// The report's first part: each process of the trace in one table, and one
// list of the errors, closes by the server and calls that never ended of
// them all, each with the line and the part of the report it is in.
#include "report_building.h"
#include <algorithm>
#include <string.h>

// The list names this many; the processes' parts have the rest.
enum { LISTED_TROUBLES = 100 };

// The program of a process's first line: "HOST through MODULE..." up to
// " through ".
static std::string ProgramOf(const TracedProcess& p)
{
    if (!p.header)
        return "(its first line is not in the trace)";
    std::string program(p.header, strstr(p.header, TRACE_THROUGH) - p.header);
    return strstr(p.header, TRACE_UNUSABLE) ? program + " (its real module cannot be used)" : program;
}

static void AddProcessTable(Building* b)
{
    static const char* const header[] = {"process", "last line",     "program",    "connections",
                                         "errors",  "server closes", "never ended"};
    ReportItem* t = AddTable(b, header, 7, 0x78);
    for (size_t k = 0; k < b->t->processes.size(); k++) {
        const TracedProcess& p = b->t->processes[k];
        int errors = 0, closes = 0, hangs = 0;
        for (int i : p.calls) {
            CallTrouble trouble = TroubleOf(b->t->calls[i]);
            errors += trouble == TROUBLE_ERROR;
            closes += trouble == TROUBLE_CLOSED || trouble == TROUBLE_RESET;
            hangs += trouble == TROUBLE_HANG;
        }
        bool sameDay = strncmp(p.firstLine, p.lastLine, strchr(p.firstLine, ' ') - p.firstLine) == 0;
        const std::string row[] = {ProcessName(p),
                                   StampText(p.lastLine, !sameDay),
                                   ProgramOf(p),
                                   CountText(p.connections.size()),
                                   CountText(errors),
                                   CountText(closes),
                                   CountText(hangs)};
        const std::string links[] = {ProcessAnchor((int)k), "", "", "", "", "", ""};
        AddRow(t, row, links);
    }
}

// The line a call's trouble is on: its end line, or the start line of a
// call that never ended.
static const char* TroubleLine(const TracedCall& c)
{
    return c.endLine ? c.endLine : c.startLine;
}

static void AddTroubles(Building* b)
{
    const Trace* trace = b->t;
    std::vector<int> troubles;
    for (size_t i = 0; i < trace->calls.size(); i++)
        if (TroubleOf(trace->calls[i]) != TROUBLE_NONE)
            troubles.push_back((int)i);
    std::stable_sort(troubles.begin(), troubles.end(),
                     [trace](int x, int y) { return trace->calls[x].lineNumber < trace->calls[y].lineNumber; });
    Add(b, ITEM_HEADING, 3, "errors, closes by the server and calls that never ended");
    if (troubles.empty()) {
        Add(b, ITEM_TEXT, 0, "none: no call reported an error code, the server closed no connection, and every "
                             "call that started ended");
        return;
    }
    static const char* const header[] = {"at", "what", "process", "where", "line", "call"};
    ReportItem* t = AddTable(b, header, 6, 0x10);
    for (size_t k = 0; k < troubles.size() && k < LISTED_TROUBLES; k++) {
        const TracedCall& c = trace->calls[troubles[k]];
        CallTrouble trouble = TroubleOf(c);
        const std::string row[] = {
            StampText(TroubleLine(c), false), TroubleName(trouble), ProcessName(trace->processes[c.process]),
            Where(b, c), Format("%d", c.lineNumber),
            trouble == TROUBLE_HANG ? Text(c.read.call, c.read.callLength) + ": " + WaitedText(c) : c.body};
        const std::string links[] = {"", "", ProcessAnchor(c.process), PlaceAnchor(b, c), "", ""};
        AddRow(t, row, links);
    }
    if (troubles.size() > LISTED_TROUBLES)
        Add(b, ITEM_TEXT, 0,
            Format("and %s more, not listed here: each process's part has its errors by code and its calls that "
                   "never ended", CountText(troubles.size() - LISTED_TROUBLES).c_str()));
}

void AddOverview(Building* b)
{
    Add(b, ITEM_HEADING, 2, "overview")->anchor = "overview";
    Add(b, ITEM_TEXT, 0, "processes by their id and the stamp of their first line, as their parts below are headed; "
                         "closes by the server are reads of 0 bytes and resets (10054)");
    AddProcessTable(b);
    AddTroubles(b);
}
