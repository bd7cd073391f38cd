// ravoprobe report: the report built from the trace as a list of headings,
// lines and tables, so that the text and the page show the same figures.
#include "probe.h"
#include "probe_report.h"
#include <algorithm>
#include <stdarg.h>
#include <string.h>

std::vector<ReportItem> reportItems;

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
    long long ms = (long long)(wallMs + 0.5);
    long days = (long)(ms / 86400000), inDay = (long)(ms % 86400000);
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
    long z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097, dayOfEra = z - era * 146097;
    long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100), mp = (5 * dayOfYear + 2) / 153;
    long d = dayOfYear - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9, y = yearOfEra + era * 400 + (m <= 2);
    std::string clock = Format("%02ld:%02ld:%02ld.%03ld", inDay / 3600000, inDay / 60000 % 60, inDay / 1000 % 60,
                               inDay % 1000);
    return withDate ? Format("%04ld-%02ld-%02ld ", y, m, d) + clock : clock;
}

// A count with thousands separated: 5,316,608.
static std::string CountText(long long n)
{
    std::string digits = Format("%lld", n), out;
    for (size_t i = 0; i < digits.size(); i++) {
        if (i && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-')
            out += ',';
        out += digits[i];
    }
    return out;
}

static ReportItem* Add(ReportItemKind kind, int level, const std::string& text)
{
    ReportItem item = {};
    item.kind = kind;
    item.level = level;
    item.text = text;
    item.process = -1;
    reportItems.push_back(item);
    return &reportItems.back();
}

static ReportItem* AddTable(const char* title, const char* const* header, int columns, unsigned numeric)
{
    ReportItem* t = Add(ITEM_TABLE, 0, title);
    t->columns = columns;
    t->numeric = numeric;
    t->cells.assign(header, header + columns);
    return t;
}

static std::string Where(const TracedCall& c)
{
    return c.connection < 0 ? "outside connections" : Format("connection %d", trace.connections[c.connection].number);
}

static bool MovesData(const TracedCall& c)
{
    return c.kind == kindSend || c.kind == kindRead;
}

// Count, bytes and nearest-rank durations of each kind of call that ended.
static void AddKindTable(const std::vector<int>& calls)
{
    static const char* const header[] = {"call", "count", "bytes", "total ms", "median ms", "95th % ms", "max ms"};
    ReportItem* t = AddTable("", header, 7, 0x7e);
    std::vector<double> times;
    // The connection's own calls first, in the order a host makes them.
    int order[RAVO_EXPORT_COUNT] = {kindOpen, kindSend, kindRead, kindClose}, n = 4;
    for (int kind = 0; kind < RAVO_EXPORT_COUNT; kind++)
        if (kind != kindOpen && kind != kindSend && kind != kindRead && kind != kindClose)
            order[n++] = kind;
    for (int kind : order) {
        times.clear();
        double total = 0;
        long long bytes = 0;
        for (int i : calls) {
            const TracedCall& c = trace.calls[i];
            if (c.kind != kind || c.neverEnded)
                continue;
            times.push_back(c.durationMs);
            total += c.durationMs;
            bytes += MovesData(c) && c.result > 0 ? c.result : 0;
        }
        if (times.empty())
            continue;
        int n = (int)times.size();
        SortTimes(times.data(), n);
        const std::string row[] = {callNames[kind], CountText(n),
                                   kind == kindSend || kind == kindRead ? CountText(bytes) : "-",
                                   Format("%.3f", total), Format("%.3f", NearestRank(times.data(), n, 50)),
                                   Format("%.3f", NearestRank(times.data(), n, 95)),
                                   Format("%.3f", NearestRank(times.data(), n, 100))};
        t->cells.insert(t->cells.end(), row, row + 7);
    }
    if (t->cells.size() == 7)
        reportItems.pop_back();  // no call of these ended
}

// Like calls: the same call with the same arguments and the same kind of
// outcome (data moved, or the same result and error).
static bool Alike(const TracedCall& a, const TracedCall& b)
{
    if (a.kind != b.kind || a.neverEnded || b.neverEnded || a.code != b.code || a.callLength != b.callLength ||
        strncmp(a.call, b.call, a.callLength) != 0)
        return false;
    return MovesData(a) && a.result > 0 ? b.result > 0 : a.result == b.result;
}

// One line for a run of like calls: "649 x _netread, 8192-byte buffer, ...".
static std::string RunText(const std::vector<int>& calls, size_t first, size_t count)
{
    const TracedCall& c = trace.calls[calls[first]];
    if (count == 1)
        return c.neverEnded ? std::string(c.call, c.callLength) + ": never ended" : c.body;
    double low = c.durationMs, high = c.durationMs;
    long long bytes = 0;
    for (size_t i = first; i < first + count; i++) {
        const TracedCall& r = trace.calls[calls[i]];
        low = std::min(low, r.durationMs);
        high = std::max(high, r.durationMs);
        bytes += r.result > 0 ? r.result : 0;
    }
    std::string text = Format("%d x ", (int)count);
    if (c.kind == kindRead && c.result > 0)
        text += Format("%s, %ld-byte buffer, %s bytes in", callNames[c.kind], c.asked, CountText(bytes).c_str());
    else if (c.kind == kindSend && c.result > 0)
        text += Format("%s, %ld bytes each, %s bytes out", callNames[c.kind], c.asked, CountText(bytes).c_str());
    else
        text += std::string(c.call, c.callLength) + Format(" = %ld", c.result);
    if (c.code)
        text += Format(", code %ld %s", c.code, c.codeName.c_str());
    return text + Format(", %.3f-%.3f ms", low, high);
}

static void AddRunTable(const std::vector<int>& calls)
{
    static const char* const header[] = {"started", "calls in order, like calls run together"};
    ReportItem* t = AddTable("", header, 2, 0);
    for (size_t first = 0, count; first < calls.size(); first += count) {
        for (count = 1; first + count < calls.size() &&
                        Alike(trace.calls[calls[first]], trace.calls[calls[first + count]]);
             count++) {
        }
        t->cells.push_back(ClockText(trace.calls[calls[first]].startMs, false));
        t->cells.push_back(RunText(calls, first, count));
    }
}

// "connected to A.B.C.D:PORT" and the like, from the open's end line.
static std::string PeerOf(const TracedCall& open)
{
    for (const char* what : {"connected to ", "bound to "}) {
        const char* at = strstr(open.body + open.callLength, what);
        if (at)
            return ", " + std::string(at, strcspn(at, ","));
    }
    return "";
}

// How long a connection was open: the drop-in's own figure from its summary
// line, else from its first call's start to the close's end, or to the
// process's last line when it never closed.
static double OpenMs(const TracedConnection& c)
{
    double from = trace.calls[c.calls.front()].startMs;
    return c.summaryOpenMs >= 0 ? c.summaryOpenMs : (c.closed ? c.closedMs : trace.processes[c.process].lastMs) - from;
}

static bool HasTrouble(const TracedConnection& c)
{
    for (int i : c.calls)
        if (trace.calls[i].code || trace.calls[i].neverEnded)
            return true;
    return false;
}

// Which of a process's connections (by position) it shows one by one: all,
// or beyond SHOWN_CONNECTIONS those with an error or a call that never
// ended first, then the longest open.
static std::vector<bool> ConnectionsShown(const TracedProcess& p)
{
    size_t n = p.connections.size();
    std::vector<bool> shown(n, n <= SHOWN_CONNECTIONS);
    if (n <= SHOWN_CONNECTIONS)
        return shown;
    std::vector<size_t> ranked(n);
    for (size_t k = 0; k < n; k++)
        ranked[k] = k;
    std::stable_sort(ranked.begin(), ranked.end(), [&p](size_t a, size_t b) {
        const TracedConnection &x = trace.connections[p.connections[a]], &y = trace.connections[p.connections[b]];
        bool xTrouble = HasTrouble(x), yTrouble = HasTrouble(y);
        return xTrouble != yTrouble ? xTrouble : OpenMs(x) > OpenMs(y);
    });
    for (size_t k = 0; k < SHOWN_CONNECTIONS; k++)
        shown[ranked[k]] = true;
    return shown;
}

// The connections not shown one by one, summed up together.
static void AddOtherConnections(const TracedProcess& p, const std::vector<bool>& shown)
{
    std::vector<int> calls;
    std::vector<double> openTimes;
    for (size_t k = 0; k < p.connections.size(); k++) {
        if (shown[k])
            continue;
        const TracedConnection& c = trace.connections[p.connections[k]];
        calls.insert(calls.end(), c.calls.begin(), c.calls.end());
        openTimes.push_back(OpenMs(c));
    }
    int n = (int)openTimes.size();
    if (!n)
        return;
    SortTimes(openTimes.data(), n);
    Add(ITEM_HEADING, 3, Format("the other %s connections, together", CountText(n).c_str()));
    Add(ITEM_TEXT, 0, Format("above, %d connections are shown one by one: first those with an error or a call "
                             "that never ended, then those open longest", (int)SHOWN_CONNECTIONS));
    Add(ITEM_TEXT, 0, Format("open min / median / 95th percentile / max = %.3f / %.3f / %.3f / %.3f ms (nearest rank)",
                             NearestRank(openTimes.data(), n, 0), NearestRank(openTimes.data(), n, 50),
                             NearestRank(openTimes.data(), n, 95), NearestRank(openTimes.data(), n, 100)));
    AddKindTable(calls);
}

static void AddConnection(const TracedConnection& c)
{
    const TracedCall* open = c.openCall >= 0 ? &trace.calls[c.openCall] : NULL;
    const TracedCall& first = trace.calls[c.calls.front()];
    std::string title = Format("connection %d", c.number);
    if (c.socket >= 0)
        title += Format(": socket %ld", c.socket);
    Add(ITEM_HEADING, 3, title + (open ? PeerOf(*open) : ""));
    std::string opened = open ? "opened " + ClockText(open->startMs, false) + " by " +
                                    std::string(open->call, open->callLength)
                              : "opened before the trace began; first seen " + ClockText(first.startMs, false);
    if (open && open->neverEnded)
        Add(ITEM_TEXT, 0, "the open never ended: " + opened);
    else if (open && c.socket < 0)
        Add(ITEM_TEXT, 0, Format("the open failed after %.3f ms: code %ld %s (", open->durationMs, open->code,
                                 open->codeName.c_str()) + opened + ")");
    else if (c.closed)
        Add(ITEM_TEXT, 0, Format("open %.3f ms: ", OpenMs(c)) + opened + ", closed " + ClockText(c.closedMs, false));
    else
        Add(ITEM_TEXT, 0, Format("still open at the process's last line, %.3f ms later: ", OpenMs(c)) + opened);
    AddKindTable(c.calls);
    AddRunTable(c.calls);
}

static void AddSlowest(const TracedProcess& p)
{
    std::vector<int> ended;
    for (int i : p.calls)
        if (!trace.calls[i].neverEnded)
            ended.push_back(i);
    size_t n = std::min(ended.size(), (size_t)10);
    std::partial_sort(ended.begin(), ended.begin() + n, ended.end(),
                      [](int a, int b) { return trace.calls[a].durationMs > trace.calls[b].durationMs; });
    Add(ITEM_HEADING, 3, n == 10 ? "the ten slowest calls" : "the slowest calls");
    static const char* const header[] = {"started", "ended", "ms", "where", "call"};
    ReportItem* t = AddTable("", header, 5, 0x4);
    for (size_t i = 0; i < n; i++) {
        const TracedCall& c = trace.calls[ended[i]];
        const std::string row[] = {ClockText(c.startMs, false), ClockText(c.endMs, false),
                                   Format("%.3f", c.durationMs), Where(c), c.body};
        t->cells.insert(t->cells.end(), row, row + 5);
    }
}

static void AddErrors(const TracedProcess& p)
{
    std::vector<long> codes;
    std::vector<int> counts, firsts;
    for (int i : p.calls) {
        long code = trace.calls[i].code;
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
    Add(ITEM_HEADING, 3, "errors by code");
    if (codes.empty()) {
        Add(ITEM_TEXT, 0, "none: no call reported an error code");
        return;
    }
    static const char* const header[] = {"code", "name", "count", "first", "where", "call"};
    ReportItem* t = AddTable("", header, 6, 0x5);
    for (size_t i = 0; i < codes.size(); i++) {
        const TracedCall& c = trace.calls[firsts[i]];
        const char* known = WinsockErrorName(c.code);
        const std::string row[] = {Format("%ld", c.code), !c.codeName.empty() ? c.codeName : known ? known : "?",
                                   CountText(counts[i]), ClockText(c.startMs, false), Where(c), c.body};
        t->cells.insert(t->cells.end(), row, row + 6);
    }
}

static void AddNeverEnded(const TracedProcess& p)
{
    Add(ITEM_HEADING, 3, "calls that never ended");
    static const char* const header[] = {"started", "line", "where", "call", "then"};
    ReportItem* t = AddTable("", header, 5, 0x2);
    for (int i : p.calls) {
        const TracedCall& c = trace.calls[i];
        if (!c.neverEnded)
            continue;
        std::string then = p.stopped.empty()
                               ? Format("no end line; the process's trace goes on %.3f ms after it", c.durationMs)
                               : "no end line; tracing stopped before it could end";
        const std::string row[] = {ClockText(c.startMs, false), Format("%d", c.lineNumber),
                                   Where(c), std::string(c.call, c.callLength), then};
        t->cells.insert(t->cells.end(), row, row + 5);
    }
    if (t->cells.size() == 5) {
        reportItems.pop_back();
        Add(ITEM_TEXT, 0, "none: every call that started ended");
    }
}

static void AddProcess(int index)
{
    const TracedProcess& p = trace.processes[index];
    Add(ITEM_HEADING, 2, Format("process %ld: ", p.pid) +
                             (p.header.empty() ? "its first line is not in the trace" : p.header));
    Add(ITEM_TEXT, 0, Format("traced %s to %s (%.3f ms): %s calls on %d thread%s, %s connection%s",
                             ClockText(p.firstMs, true).c_str(), ClockText(p.lastMs, false).c_str(),
                             p.lastMs - p.firstMs, CountText(p.calls.size()).c_str(), (int)p.threads.size(),
                             p.threads.size() == 1 ? "" : "s", CountText(p.connections.size()).c_str(),
                             p.connections.size() == 1 ? "" : "s"));
    if (!p.stopped.empty())
        Add(ITEM_TEXT, 0, p.stopped + ": later calls are not in the trace");
    Add(ITEM_TIMELINE, 0, "")->process = index;
    std::vector<bool> shown = ConnectionsShown(p);
    for (size_t k = 0; k < p.connections.size(); k++)
        if (shown[k])
            AddConnection(trace.connections[p.connections[k]]);
    AddOtherConnections(p, shown);
    std::vector<int> outside;
    for (int i : p.calls)
        if (trace.calls[i].connection < 0)
            outside.push_back(i);
    if (!outside.empty()) {
        Add(ITEM_HEADING, 3, "calls outside connections");
        AddKindTable(outside);
        AddRunTable(outside);
    }
    Add(ITEM_HISTOGRAM, 0, "")->process = index;
    AddSlowest(p);
    AddErrors(p);
    AddNeverEnded(p);
}

static void AddNote(const LeftOut& out, const char* why)
{
    if (out.count)
        Add(ITEM_NOTE, 0, Format("%d line%s left out (the first is line %d: \"%s\"): %s", out.count,
                                 out.count == 1 ? "" : "s", out.firstLine, out.first.c_str(), why));
}

void BuildReport(void)
{
    Add(ITEM_HEADING, 1, Format("trace %s", trace.path));
    Add(ITEM_TEXT, 0, Format("%s lines: %d process%s, %s calls, %s data rows", CountText(trace.lines).c_str(),
                             (int)trace.processes.size(), trace.processes.size() == 1 ? "" : "es",
                             CountText(trace.calls.size()).c_str(), CountText(trace.dataRows).c_str()));
    if (trace.interleaved)
        Add(ITEM_TEXT, 0, "the processes' lines are interleaved (they ran at the same time): each process is "
                          "reported on its own");
    if (trace.cutLine)
        Add(ITEM_NOTE, 0, Format("line %d is cut short: the file ends inside it (was the trace still being "
                                 "written, or copied while it was?); it is left out", trace.cutLine));
    AddNote(trace.older, "the drop-in's older line format, which has no date, process or start lines; trace the "
                         "host again with this release's ravotrace.dll");
    AddNote(trace.stable, "written with [Trace] Stable=1, whose placeholders carry no times; trace again "
                          "without Stable=1 to report");
    AddNote(trace.unknown, "not a line of ravotrace.dll's trace");
    for (size_t i = 0; i < trace.processes.size(); i++)
        AddProcess((int)i);
}
