// What the parts of the report share while it is built (report_build.cpp,
// report_overview.cpp): the trace, the report so far, and the ways to add to
// it and to name what it shows.
#pragma once
#include "report.h"

struct Building {
    const Trace* t;
    Report* r;
    std::vector<std::vector<bool>> shown;  // per process, by position: its connections shown one by one
};

ReportItem* Add(Building* b, ReportItemKind kind, int level, const std::string& text);
ReportItem* AddTable(Building* b, const char* const* header, int columns, unsigned numeric);
// A row of table->columns cells; links: the anchor each cell leads to ("":
// none), or NULL.
void AddRow(ReportItem* table, const std::string* row, const std::string* links = NULL);
// A count with thousands separated: 5,316,608.
std::string CountText(long long n);
std::string Text(const char* at, int length);
// A process as its heading names it: "32 at 16:58:39.120", its process id
// and its first line's stamp, which tell apart processes that share an id.
std::string ProcessName(const TracedProcess& p);
// Where a call is reported, "connection 2" or "outside connections", and
// the anchor of that part on the page; the anchor of a process's part.
std::string Where(const Building* b, const TracedCall& c);
std::string PlaceAnchor(const Building* b, const TracedCall& c);
std::string ProcessAnchor(int process);
// The trace-wide part first: each process, and the errors, closes by the
// server and calls that never ended of them all.
void AddOverview(Building* b);
