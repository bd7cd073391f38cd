// The trace's lines read into processes, connections and calls. Line ends
// become NULs, so every record points into the text. Each process is read
// on its own, whatever other processes' lines come between.
#include "report.h"
#include <algorithm>
#include <string.h>

// A start line still waiting for its end line.
struct PendingStart {
    DWORD tid;
    TraceCallRead read;
    double atMs;
    const char* line;
    int lineNumber;
    int connection;  // a data call's connection when it started
};

// A process whose trace goes on: its calls in flight and its open sockets.
struct LiveProcess {
    DWORD pid;
    int process;
    std::vector<PendingStart> pending;
    std::vector<int> openConnections;
};

// What the reading keeps between lines.
struct Reading {
    Trace* t;
    std::vector<LiveProcess> live;
    DWORD lastPid;
    int rowsOf;  // the call that the rows that follow belong to, or -1
};

static void Leave(LeftOut* out, const char* line, int number)
{
    if (out->count++ == 0) {
        out->firstLine = number;
        out->first.assign(line, strnlen(line, 100));
    }
}

static int NewConnection(Reading* r, LiveProcess* o, long socket, int openCall)
{
    TracedProcess* p = &r->t->processes[o->process];
    TracedConnection c = {};
    c.process = o->process;
    c.number = (int)p->connections.size() + 1;
    c.socket = socket;
    c.openCall = openCall;
    r->t->connections.push_back(c);
    p->connections.push_back((int)r->t->connections.size() - 1);
    return (int)r->t->connections.size() - 1;
}

// The open connection of a socket; one opened before the trace began when
// the trace has not seen it open.
static int ConnectionOf(Reading* r, LiveProcess* o, long socket)
{
    for (int c : o->openConnections)
        if (r->t->connections[c].socket == socket)
            return c;
    int c = NewConnection(r, o, socket, -1);
    o->openConnections.push_back(c);
    return c;
}

static void Forget(Reading* r, LiveProcess* o, long socket)
{
    for (size_t i = 0; i < o->openConnections.size(); i++)
        if (r->t->connections[o->openConnections[i]].socket == socket)
            o->openConnections.erase(o->openConnections.begin() + i--);
}

// Files the call under its process and connection.
static void AddCall(Reading* r, LiveProcess* o, TracedCall* c, int connection)
{
    Trace* t = r->t;
    int index = (int)t->calls.size();
    if (c->read.kind == RAVO_INDEX(_netopen)) {
        bool opened = c->read.result >= 0 && !c->neverEnded;
        if (opened)
            Forget(r, o, c->read.result);
        connection = NewConnection(r, o, opened ? c->read.result : -1, index);
        if (opened)
            o->openConnections.push_back(connection);
    } else if (c->read.socket >= 0 && connection < 0) {
        connection = ConnectionOf(r, o, c->read.socket);
    }
    if (c->read.kind == RAVO_INDEX(_netclose) && connection >= 0 && !c->neverEnded) {
        t->connections[connection].closed = true;
        t->connections[connection].closedMs = c->endMs;
        Forget(r, o, c->read.socket);
    }
    c->process = o->process;
    c->connection = connection;
    c->firstRow = (int)t->rows.size();
    t->processes[o->process].calls.push_back(index);
    if (connection >= 0)
        t->connections[connection].calls.push_back(index);
    t->calls.push_back(*c);
    r->rowsOf = c->neverEnded ? -1 : index;
}

// The local time a stamped line gives, as written (to the millisecond).
static double StampMs(const char* line)
{
    TraceLineRead l;
    ReadTraceLine(line, &l);
    return l.wallMs;
}

// A call that started and had not ended by untilLine: shown waiting from
// its start line's stamp to that line's.
static void AddNeverEnded(Reading* r, LiveProcess* o, const PendingStart* s, const char* untilLine,
                          WaitShownUntil until)
{
    TracedCall c = {};
    c.read = s->read;
    c.startLine = s->line;
    c.body = s->read.call;
    c.lineNumber = s->lineNumber;
    c.startMs = s->atMs;
    double untilMs = StampMs(untilLine);
    c.durationMs = std::max(untilMs - StampMs(s->line), 0.0);
    c.endMs = std::max(untilMs, c.startMs);  // that line's stamp, as the timeline's end shows it
    c.neverEnded = true;
    c.until = until;
    c.untilLine = untilLine;
    AddCall(r, o, &c, s->connection);
}

static void ReadStartLine(Reading* r, LiveProcess* o, const TraceLineRead* l, double atMs, const char* line,
                          int number)
{
    PendingStart s = {l->stamp.tid, l->call, atMs, line, number, -1};
    if (s.read.socket >= 0)
        s.connection = ConnectionOf(r, o, s.read.socket);
    o->pending.push_back(s);
    r->rowsOf = -1;
}

// An end line, or a call that cannot block, in one line.
static void ReadEndLine(Reading* r, LiveProcess* o, const TraceLineRead* l, double atMs, const char* line,
                        int number)
{
    TracedCall c = {};
    c.read = l->call;
    c.endLine = line;
    c.body = l->call.call;
    c.lineNumber = number;
    c.endMs = atMs;
    c.durationMs = l->call.durationMs;
    c.startMs = atMs - c.durationMs;
    int connection = -1;
    for (int i = (int)o->pending.size() - 1; l->call.hadStart && i >= 0; i--) {
        const PendingStart& s = o->pending[i];
        if (s.tid != l->stamp.tid || s.read.callLength != c.read.callLength ||
            strncmp(s.read.call, c.read.call, s.read.callLength) != 0)
            continue;
        // Calls nested in this one that it outlived never ended.
        for (int j = (int)o->pending.size() - 1; j > i; j--) {
            if (o->pending[j].tid == l->stamp.tid) {
                AddNeverEnded(r, o, &o->pending[j], line, UNTIL_OUTER_END);
                o->pending.erase(o->pending.begin() + j);
            }
        }
        c.startLine = o->pending[i].line;
        connection = o->pending[i].connection;
        o->pending.erase(o->pending.begin() + i);
        break;
    }
    AddCall(r, o, &c, connection);
}

// The drop-in's summary of a connection that just closed.
static void ReadSummary(Reading* r, LiveProcess* o, const TraceSummary* s)
{
    std::vector<int>& connections = r->t->processes[o->process].connections;
    for (int i = (int)connections.size() - 1; i >= 0; i--) {
        TracedConnection* c = &r->t->connections[connections[i]];
        if (c->socket == s->socket && c->closed) {
            c->summary = *s;
            c->summed = true;
            return;
        }
    }
}

// The process's trace is over: by a later process with its pid, whose first
// line is reusedBy, or by the trace's end (reusedBy NULL).
static void EndProcess(Reading* r, size_t open, const char* reusedBy)
{
    LiveProcess* o = &r->live[open];
    const TracedProcess& p = r->t->processes[o->process];
    WaitShownUntil until = p.stopped ? UNTIL_STOPPED : reusedBy ? UNTIL_PID_REUSED : UNTIL_TRACE_END;
    const char* untilLine = p.stopped ? p.lastLine : reusedBy ? reusedBy : r->t->lastStamped;
    for (const PendingStart& s : o->pending)
        AddNeverEnded(r, o, &s, untilLine, until);
    r->live.erase(r->live.begin() + open);
}

// The process a stamped line belongs to; a first line begins a new one (a
// process id can come back in a later process).
static LiveProcess* ProcessOf(Reading* r, const TraceLineRead* l, const char* line)
{
    DWORD pid = l->stamp.pid;
    bool starts = l->kind == TRACE_LINE_HEADER;
    for (size_t i = 0; i < r->live.size(); i++) {
        if (r->live[i].pid != pid)
            continue;
        if (!starts) {
            r->t->interleaved |= r->lastPid != pid;
            r->lastPid = pid;
            return &r->live[i];
        }
        EndProcess(r, i, line);
        break;
    }
    r->lastPid = pid;
    TracedProcess p = {};
    p.pid = pid;
    p.firstMs = l->wallMs;
    p.firstLine = line;
    p.clockBaseMs = l->wallMs - l->stamp.sinceLoadMs;
    if (starts)
        p.header = l->body + strlen(TRACE_HEADER);
    r->t->processes.push_back(p);
    LiveProcess o = {};
    o.pid = pid;
    o.process = (int)r->t->processes.size() - 1;
    r->live.push_back(o);
    return &r->live.back();
}

// A row of bytes, or the count of those not shown, after its call's line.
static void ReadRow(Reading* r, const TraceLineRead* l, const char* line)
{
    r->t->dataRows++;
    if (r->rowsOf < 0)
        return;
    TracedCall* c = &r->t->calls[r->rowsOf];
    if (l->kind == TRACE_LINE_ROWS_CUT) {
        c->notShownBytes = l->row.notShown;
        return;
    }
    r->t->rows.push_back(line);
    c->rowCount++;
    c->shownBytes += l->row.count;
}

static void ReadLine(Reading* r, const char* line, int number)
{
    Trace* t = r->t;
    TraceLineRead l;
    switch (ReadTraceLine(line, &l)) {
    case TRACE_LINE_EMPTY:
        return;  // the older dump writer's spacing
    case TRACE_LINE_ROW:
    case TRACE_LINE_ROWS_CUT:
        ReadRow(r, &l, line);
        return;
    case TRACE_LINE_STABLE:
        Leave(&t->stable, line, number);
        return;
    case TRACE_LINE_OLDER:
        Leave(&t->older, line, number);
        return;
    case TRACE_LINE_UNKNOWN:
        Leave(&t->unknown, line, number);
        r->rowsOf = -1;
        return;
    default:
        break;
    }
    r->rowsOf = -1;  // rows follow only the end line of their call
    LiveProcess* o = ProcessOf(r, &l, line);
    TracedProcess* p = &t->processes[o->process];
    double atMs = p->clockBaseMs + l.stamp.sinceLoadMs;
    p->lines++;
    p->lastMs = atMs;
    p->lastLine = t->lastStamped = line;
    if (std::find(p->threads.begin(), p->threads.end(), l.stamp.tid) == p->threads.end())
        p->threads.push_back(l.stamp.tid);
    if (l.kind == TRACE_LINE_STOPPED)
        p->stopped = l.body + 4;  // after "--- "
    else if (l.kind == TRACE_LINE_START)
        ReadStartLine(r, o, &l, atMs, line, number);
    else if (l.kind == TRACE_LINE_END)
        ReadEndLine(r, o, &l, atMs, line, number);
    else if (l.kind == TRACE_LINE_SUMMARY)
        ReadSummary(r, o, &l.summary);
}

static void SortByStart(const Trace* t, std::vector<int>* calls)
{
    std::stable_sort(calls->begin(), calls->end(),
                     [t](int a, int b) { return t->calls[a].startMs < t->calls[b].startMs; });
}

void ReadTrace(char* text, size_t size, Trace* t)
{
    Reading r = {t, {}, (DWORD)-1, -1};
    char* end = text + size;
    int number = 0;
    for (char* at = text; at < end;) {
        number++;
        char* newline = (char*)memchr(at, '\n', end - at);
        if (!newline) {
            t->cutLine = number;  // the file ends inside it: the rest is not there to read
            break;
        }
        *newline = 0;
        char* line = at;
        at = newline + 1;
        if (newline > line && newline[-1] == '\r')
            newline[-1] = 0;
        if (*line == '\r')
            line++;  // the older dump writer ends its rows LF CR
        ReadLine(&r, line, number);
    }
    t->lines = number;
    while (!r.live.empty())
        EndProcess(&r, r.live.size() - 1, NULL);
    for (TracedProcess& p : t->processes)
        SortByStart(t, &p.calls);
    for (TracedConnection& c : t->connections)
        SortByStart(t, &c.calls);
}
