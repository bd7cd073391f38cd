// The report built from the trace as a list of headings, lines and tables,
// so that the text and the page show the same figures.
#include "report_building.h"
#include "percentiles.h"
#include <algorithm>
#include <stdarg.h>
#include <string.h>

// A process with more connections shows this many one by one and sums up
// the rest, so that a host connecting per query still gets a short report.
enum { SHOWN_CONNECTIONS = 20 };

std::string Format(const char* format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string ClockText(double wallMs, bool withDate)
{
    ULONGLONG units = (ULONGLONG)(wallMs + 0.5) * 10000 + FILETIME_1970;
    FILETIME wall = {(DWORD)units, (DWORD)(units >> 32)};
    SYSTEMTIME t = {};
    FileTimeToSystemTime(&wall, &t);
    std::string clock = Format("%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return withDate ? Format("%04u-%02u-%02u ", t.wYear, t.wMonth, t.wDay) + clock : clock;
}

std::string CountText(long long n)
{
    std::string digits = Format("%lld", n), out;
    for (size_t i = 0; i < digits.size(); i++) {
        if (i && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-')
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string Text(const char* at, int length)
{
    return std::string(at, length);
}

ReportItem* Add(Building* b, ReportItemKind kind, int level, const std::string& text)
{
    ReportItem item = {};
    item.kind = kind;
    item.level = level;
    item.text = text;
    item.process = -1;
    b->r->push_back(item);
    return &b->r->back();
}

ReportItem* AddTable(Building* b, const char* const* header, int columns, unsigned numeric)
{
    ReportItem* t = Add(b, ITEM_TABLE, 0, "");
    t->columns = columns;
    t->numeric = numeric;
    t->cells.assign(header, header + columns);
    return t;
}

void AddRow(ReportItem* table, const std::string* row, const std::string* links)
{
    if (links && table->links.empty())
        table->links.resize(table->cells.size());
    if (!table->links.empty()) {
        for (int col = 0; col < table->columns; col++)
            table->links.push_back(links ? links[col] : "");
    }
    table->cells.insert(table->cells.end(), row, row + table->columns);
}

std::string ProcessName(const TracedProcess& p)
{
    return Format("%lu at ", p.pid) + StampText(p.firstLine, false);
}

std::string ProcessAnchor(int process)
{
    return Format("p%d", process + 1);
}

// The anchors of a process's parts: a connection's, the other connections
// summed up, the calls outside connections.
static std::string ConnectionAnchor(const TracedConnection& c)
{
    return ProcessAnchor(c.process) + Format("-c%d", c.number);
}

static std::string OthersAnchor(int process)
{
    return ProcessAnchor(process) + "-others";
}

static std::string OutsideAnchor(int process)
{
    return ProcessAnchor(process) + "-outside";
}

static bool ShownAlone(const Building* b, const TracedConnection& c)
{
    return b->shown[c.process][c.number - 1];
}

std::string Where(const Building* b, const TracedCall& c)
{
    if (c.connection < 0)
        return "outside connections";
    const TracedConnection& in = b->t->connections[c.connection];
    return Format("connection %d", in.number) + (ShownAlone(b, in) ? "" : ", among the other connections");
}

std::string PlaceAnchor(const Building* b, const TracedCall& c)
{
    if (c.connection < 0)
        return OutsideAnchor(c.process);
    const TracedConnection& in = b->t->connections[c.connection];
    return ShownAlone(b, in) ? ConnectionAnchor(in) : OthersAnchor(c.process);
}

static bool MovesData(int kind)
{
    return kind == RAVO_INDEX(_netsend) || kind == RAVO_INDEX(_netread);
}

// Count, bytes and nearest-rank durations of each kind of call that ended.
static void AddKindTable(Building* b, const std::vector<int>& calls)
{
    static const char* const header[] = {"call", "count", "bytes", "total ms", "median ms", "95th % ms", "max ms"};
    ReportItem* t = AddTable(b, header, 7, 0x7e);
    std::vector<double> times;
    // The connection's own calls first, in the order a host makes them.
    const int own[] = {RAVO_INDEX(_netopen), RAVO_INDEX(_netsend), RAVO_INDEX(_netread), RAVO_INDEX(_netclose)};
    int order[RAVO_EXPORT_COUNT], n = 0;
    for (int kind : own)
        order[n++] = kind;
    for (int kind = 0; kind < RAVO_EXPORT_COUNT; kind++)
        if (std::find(own, own + 4, kind) == own + 4)
            order[n++] = kind;
    for (int kind : order) {
        times.clear();
        double total = 0;
        long long bytes = 0;
        for (int i : calls) {
            const TracedCall& c = b->t->calls[i];
            if (c.read.kind != kind || c.neverEnded)
                continue;
            times.push_back(c.durationMs);
            total += c.durationMs;
            bytes += MovesData(kind) && c.read.result > 0 ? c.read.result : 0;
        }
        if (times.empty())
            continue;
        int count = (int)times.size();
        SortTimes(times.data(), count);
        const std::string row[] = {RAVO_EXPORT_LIST[kind].name, CountText(count),
                                   MovesData(kind) ? CountText(bytes) : "-", Format("%.3f", total),
                                   Format("%.3f", NearestRank(times.data(), count, 50)),
                                   Format("%.3f", NearestRank(times.data(), count, 95)),
                                   Format("%.3f", NearestRank(times.data(), count, 100))};
        AddRow(t, row);
    }
    if (t->cells.size() == 7)
        b->r->pop_back();  // no call of these ended
}

// Like calls: the same call with the same arguments and the same kind of
// outcome (data moved, or the same result and error).
static bool Alike(const TracedCall& x, const TracedCall& y)
{
    const TraceCallRead &a = x.read, &b = y.read;
    if (a.kind != b.kind || x.neverEnded || y.neverEnded || a.code != b.code || a.callLength != b.callLength ||
        strncmp(a.call, b.call, a.callLength) != 0)
        return false;
    return MovesData(a.kind) && a.result > 0 ? b.result > 0 : a.result == b.result;
}

// One line for a run of like calls: "649 x _netread, 8192-byte buffer, ...".
static std::string RunText(const Building* b, const std::vector<int>& calls, size_t first, size_t count)
{
    const TracedCall& c = b->t->calls[calls[first]];
    const TraceCallRead& r = c.read;
    if (count == 1)
        return c.neverEnded ? Text(r.call, r.callLength) + ": never ended" : c.body;
    double low = c.durationMs, high = c.durationMs;
    long long bytes = 0;
    for (size_t i = first; i < first + count; i++) {
        const TracedCall& other = b->t->calls[calls[i]];
        low = std::min(low, other.durationMs);
        high = std::max(high, other.durationMs);
        bytes += other.read.result > 0 ? other.read.result : 0;
    }
    const char* name = RAVO_EXPORT_LIST[r.kind].name;
    std::string text = Format("%d x ", (int)count);
    if (r.kind == RAVO_INDEX(_netread) && r.result > 0)
        text += Format("%s, %ld-byte buffer, %s bytes in", name, r.asked, CountText(bytes).c_str());
    else if (r.kind == RAVO_INDEX(_netsend) && r.result > 0)
        text += Format("%s, %ld bytes each, %s bytes out", name, r.asked, CountText(bytes).c_str());
    else
        text += Text(r.call, r.callLength) + Format(" = %ld", r.result);
    if (r.code)
        text += Format(", code %ld ", r.code) + Text(r.codeName, r.codeNameLength);
    return text + Format(", %.3f-%.3f ms", low, high);
}

static void AddRunTable(Building* b, const std::vector<int>& calls)
{
    static const char* const header[] = {"started", "calls in order, like calls run together"};
    ReportItem* t = AddTable(b, header, 2, 0);
    for (size_t first = 0, count; first < calls.size(); first += count) {
        for (count = 1; first + count < calls.size() &&
                        Alike(b->t->calls[calls[first]], b->t->calls[calls[first + count]]);
             count++) {
        }
        const std::string row[] = {StartStamp(b->t->calls[calls[first]]), RunText(b, calls, first, count)};
        AddRow(t, row);
    }
}

// How long a connection was open: the drop-in's own figure from its summary
// line, else from its first call's start to the close's end, or to the
// process's last line when it never closed.
static double OpenMs(const Building* b, const TracedConnection& c)
{
    double from = b->t->calls[c.calls.front()].startMs;
    return c.summed ? c.summary.openMs : (c.closed ? c.closedMs : b->t->processes[c.process].lastMs) - from;
}

static bool HasTrouble(const Building* b, const TracedConnection& c)
{
    for (int i : c.calls)
        if (TroubleOf(b->t->calls[i]) != TROUBLE_NONE)
            return true;
    return false;
}

// Which of a process's connections (by position) it shows one by one: all,
// or beyond SHOWN_CONNECTIONS those with an error, a close by the server or
// a call that never ended first, then the longest open.
static std::vector<bool> ConnectionsShown(const Building* b, const TracedProcess& p)
{
    size_t n = p.connections.size();
    std::vector<bool> shown(n, n <= SHOWN_CONNECTIONS);
    if (n <= SHOWN_CONNECTIONS)
        return shown;
    std::vector<size_t> ranked(n);
    for (size_t k = 0; k < n; k++)
        ranked[k] = k;
    std::stable_sort(ranked.begin(), ranked.end(), [b, &p](size_t i, size_t j) {
        const TracedConnection &x = b->t->connections[p.connections[i]], &y = b->t->connections[p.connections[j]];
        bool xTrouble = HasTrouble(b, x), yTrouble = HasTrouble(b, y);
        return xTrouble != yTrouble ? xTrouble : OpenMs(b, x) > OpenMs(b, y);
    });
    for (size_t k = 0; k < SHOWN_CONNECTIONS; k++)
        shown[ranked[k]] = true;
    return shown;
}

// The connections not shown one by one, summed up together.
// The connections of process index not shown one by one, summed up together.
static void AddOtherConnections(Building* b, int index)
{
    const TracedProcess& p = b->t->processes[index];
    std::vector<int> calls;
    std::vector<double> openTimes;
    for (size_t k = 0; k < p.connections.size(); k++) {
        if (b->shown[index][k])
            continue;
        const TracedConnection& c = b->t->connections[p.connections[k]];
        calls.insert(calls.end(), c.calls.begin(), c.calls.end());
        openTimes.push_back(OpenMs(b, c));
    }
    int n = (int)openTimes.size();
    if (!n)
        return;
    SortTimes(openTimes.data(), n);
    Add(b, ITEM_HEADING, 3, Format("the other %s connections, together", CountText(n).c_str()))->anchor =
        OthersAnchor(index);
    Add(b, ITEM_TEXT, 0, Format("above, %d connections are shown one by one: first those with an error, a close by "
                                "the server or a call that never ended, then those open longest",
                                (int)SHOWN_CONNECTIONS));
    Add(b, ITEM_TEXT, 0,
        Format("open min / median / 95th percentile / max = %.3f / %.3f / %.3f / %.3f ms (nearest rank)",
               NearestRank(openTimes.data(), n, 0), NearestRank(openTimes.data(), n, 50),
               NearestRank(openTimes.data(), n, 95), NearestRank(openTimes.data(), n, 100)));
    AddKindTable(b, calls);
}

// The connection's _netclose that ended, or NULL.
static const TracedCall* CloseOf(const Building* b, const TracedConnection& c)
{
    for (int i : c.calls)
        if (b->t->calls[i].read.kind == RAVO_INDEX(_netclose) && !b->t->calls[i].neverEnded)
            return &b->t->calls[i];
    return NULL;
}

static void AddConnection(Building* b, const TracedConnection& c)
{
    const TracedCall* open = c.openCall >= 0 ? &b->t->calls[c.openCall] : NULL;
    const TracedCall& first = b->t->calls[c.calls.front()];
    std::string title = Format("connection %d", c.number);
    if (c.socket >= 0)
        title += Format(": socket %ld", c.socket);
    if (open && open->read.peer)
        title += ", " + Text(open->read.peer, open->read.peerLength);
    Add(b, ITEM_HEADING, 3, title)->anchor = ConnectionAnchor(c);
    std::string opened = open ? "opened " + StartStamp(*open) + " by " + Text(open->read.call, open->read.callLength)
                              : "opened before the trace began; first seen " + StartStamp(first);
    const TracedCall* close = CloseOf(b, c);
    if (open && open->neverEnded)
        Add(b, ITEM_TEXT, 0, "the open never ended: " + opened);
    else if (open && c.socket < 0)
        Add(b, ITEM_TEXT, 0,
            Format("the open failed after %.3f ms: code %ld ", open->durationMs, open->read.code) +
                Text(open->read.codeName, open->read.codeNameLength) + " (" + opened + ")");
    else if (close)
        Add(b, ITEM_TEXT, 0, Format("open %.3f ms: ", OpenMs(b, c)) + opened + ", closed " + EndStamp(*close));
    else
        Add(b, ITEM_TEXT, 0, Format("still open at the process's last line, %.3f ms later: ", OpenMs(b, c)) + opened);
    for (int i : c.calls) {
        CallTrouble trouble = TroubleOf(b->t->calls[i]);
        if (trouble == TROUBLE_CLOSED || trouble == TROUBLE_RESET) {
            const TracedCall& end = b->t->calls[i];
            Add(b, ITEM_TEXT, 0, Format("%s at %s (line %d): ", TroubleName(trouble), EndStamp(end).c_str(),
                                        end.lineNumber) + end.body);
            break;
        }
    }
    AddKindTable(b, c.calls);
    AddRunTable(b, c.calls);
}

// The calls that took longest, those that never ended among them by the
// span they are shown waiting.
static void AddSlowest(Building* b, const TracedProcess& p)
{
    const Trace* trace = b->t;
    std::vector<int> calls = p.calls;
    size_t n = std::min(calls.size(), (size_t)10);
    std::partial_sort(calls.begin(), calls.begin() + n, calls.end(),
                      [trace](int x, int y) { return trace->calls[x].durationMs > trace->calls[y].durationMs; });
    Add(b, ITEM_HEADING, 3, n == 10 ? "the ten slowest calls" : "the slowest calls");
    if (!n) {
        Add(b, ITEM_TEXT, 0, "none: the process made no call");
        return;
    }
    static const char* const header[] = {"started", "ended", "ms", "where", "call"};
    ReportItem* t = AddTable(b, header, 5, 0x4);
    for (size_t i = 0; i < n; i++) {
        const TracedCall& c = trace->calls[calls[i]];
        const std::string row[] = {
            StartStamp(c), c.neverEnded ? "no end line" : EndStamp(c),
            c.neverEnded ? Format("%s %.0f", WaitedAtLeast(c) ? "at least" : "at most", c.durationMs)
                         : Format("%.3f", c.durationMs),
            Where(b, c), c.neverEnded ? Text(c.read.call, c.read.callLength) + ": " + WaitedText(c) : c.body};
        AddRow(t, row);
    }
}

static void AddErrors(Building* b, const TracedProcess& p)
{
    std::vector<long> codes;
    std::vector<int> counts, firsts;
    for (int i : p.calls) {
        long code = b->t->calls[i].read.code;
        if (!code)
            continue;
        size_t at = std::find(codes.begin(), codes.end(), code) - codes.begin();
        if (at == codes.size()) {
            codes.push_back(code);
            counts.push_back(0);
            firsts.push_back(i);
        }
        counts[at]++;
    }
    Add(b, ITEM_HEADING, 3, "errors by code");
    if (codes.empty()) {
        Add(b, ITEM_TEXT, 0, "none: no call reported an error code");
        return;
    }
    static const char* const header[] = {"code", "name", "count", "first", "where", "call"};
    ReportItem* t = AddTable(b, header, 6, 0x5);
    for (size_t i = 0; i < codes.size(); i++) {
        const TracedCall& c = b->t->calls[firsts[i]];
        const TraceCallRead& r = c.read;
        const std::string row[] = {Format("%ld", r.code), r.codeNameLength ? Text(r.codeName, r.codeNameLength) : "?",
                                   CountText(counts[i]), StartStamp(c), Where(b, c), c.body};
        AddRow(t, row);
    }
}

static void AddNeverEnded(Building* b, const TracedProcess& p)
{
    Add(b, ITEM_HEADING, 3, "calls that never ended");
    static const char* const header[] = {"started", "line", "where", "call", "then"};
    ReportItem* t = AddTable(b, header, 5, 0x2);
    for (int i : p.calls) {
        const TracedCall& c = b->t->calls[i];
        if (!c.neverEnded)
            continue;
        const std::string row[] = {StartStamp(c), Format("%d", c.lineNumber), Where(b, c),
                                   Text(c.read.call, c.read.callLength), "no end line; " + WaitedText(c)};
        AddRow(t, row);
    }
    if (t->cells.size() == 5) {
        b->r->pop_back();
        Add(b, ITEM_TEXT, 0, "none: every call that started ended");
    }
}

static void AddProcess(Building* b, int index)
{
    const TracedProcess& p = b->t->processes[index];
    Add(b, ITEM_HEADING, 2,
        "process " + ProcessName(p) + ": " + (p.header ? p.header : "its first line is not in the trace"))->anchor =
        ProcessAnchor(index);
    Add(b, ITEM_TEXT, 0,
        Format("traced %s to %s (%.3f ms): %s call%s on %d thread%s, %s connection%s",
               StampText(p.firstLine, true).c_str(), StampText(p.lastLine, false).c_str(), p.lastMs - p.firstMs,
               CountText(p.calls.size()).c_str(), p.calls.size() == 1 ? "" : "s", (int)p.threads.size(),
               p.threads.size() == 1 ? "" : "s",
               CountText(p.connections.size()).c_str(), p.connections.size() == 1 ? "" : "s"));
    if (p.stopped)
        Add(b, ITEM_TEXT, 0, Format("%s: later calls are not in the trace", p.stopped));
    Add(b, ITEM_TIMELINE, 0, "")->process = index;
    for (size_t k = 0; k < p.connections.size(); k++)
        if (b->shown[index][k])
            AddConnection(b, b->t->connections[p.connections[k]]);
    AddOtherConnections(b, index);
    std::vector<int> outside;
    for (int i : p.calls)
        if (b->t->calls[i].connection < 0)
            outside.push_back(i);
    if (!outside.empty()) {
        Add(b, ITEM_HEADING, 3, "calls outside connections")->anchor = OutsideAnchor(index);
        AddKindTable(b, outside);
        AddRunTable(b, outside);
    }
    Add(b, ITEM_HISTOGRAM, 0, "")->process = index;
    AddSlowest(b, p);
    AddErrors(b, p);
    AddNeverEnded(b, p);
}

static void AddNote(Building* b, const LeftOut& out, const char* why)
{
    if (out.count)
        Add(b, ITEM_NOTE, 0,
            Format("%d line%s left out (the first is line %d: \"%s\"): %s", out.count, out.count == 1 ? "" : "s",
                   out.firstLine, out.first.c_str(), why));
}

void BuildReport(const Trace* t, Report* r)
{
    Building building = {t, r, {}}, *b = &building;
    for (const TracedProcess& p : t->processes)
        b->shown.push_back(ConnectionsShown(b, p));
    Add(b, ITEM_HEADING, 1, Format("trace %s", t->path));
    std::string span = t->processes.empty() ? ""
                                            : ", from " + StampText(t->processes[0].firstLine, true) + " to " +
                                                  StampText(t->lastStamped, true);
    Add(b, ITEM_TEXT, 0,
        Format("%s lines: %d process%s, %s call%s, %s data row%s", CountText(t->lines).c_str(),
               (int)t->processes.size(), t->processes.size() == 1 ? "" : "es", CountText(t->calls.size()).c_str(),
               t->calls.size() == 1 ? "" : "s", CountText(t->dataRows).c_str(), t->dataRows == 1 ? "" : "s") + span);
    if (t->interleaved)
        Add(b, ITEM_TEXT, 0, "the processes' lines are interleaved (they ran at the same time): each process is "
                             "reported on its own");
    if (t->cutLine)
        Add(b, ITEM_NOTE, 0, Format("line %d is cut short: the file ends inside it (was the trace still being "
                                    "written, or copied while it was?); it is left out", t->cutLine));
    AddNote(b, t->older, "the drop-in's older line format, which has no date, process or start lines; trace the "
                         "host again with this release's ravotrace.dll");
    AddNote(b, t->stable, "written with [Trace] Stable=1, whose placeholders carry no times; trace again "
                          "without Stable=1 to report");
    AddNote(b, t->unknown, "not a line of ravotrace.dll's trace");
    if (!t->processes.empty())
        AddOverview(b);
    for (size_t i = 0; i < t->processes.size(); i++)
        AddProcess(b, (int)i);
}
