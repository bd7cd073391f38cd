// ravoprobe report: the trace's lines read into processes, connections and
// calls. Line ends become NULs, so every record points into the text. Each
// process is read on its own, whatever other processes' lines come between.
#include "probe_report.h"
#include <algorithm>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

Trace trace;
const char* callNames[RAVO_EXPORT_COUNT];
int kindOpen, kindSend, kindRead, kindClose;

// A start line still waiting for its end line.
struct PendingStart {
    long tid;
    const char* call;
    int callLength;
    double atMs;
    const char* line;
    int lineNumber;
    int connection;  // a data call's connection when it started
};

// A process whose trace goes on: its calls in flight and its open sockets.
struct LiveProcess {
    long pid;
    int process;
    std::vector<PendingStart> pending;
    std::vector<int> openConnections;
};
static std::vector<LiveProcess> liveProcesses;

// The kinds by name from the module's export list, not from names typed here.
static void ListCallKinds(void)
{
    for (int i = 0; i < RAVO_EXPORT_COUNT; i++)
        callNames[i] = RAVO_EXPORT_LIST[i].name;
    kindOpen = RAVO_INDEX(_netopen);
    kindSend = RAVO_INDEX(_netsend);
    kindRead = RAVO_INDEX(_netread);
    kindClose = RAVO_INDEX(_netclose);
}

// The kind of "NAME(...", or -1.
static int KindOf(const char* call)
{
    const char* open = strchr(call, '(');
    for (int i = 0; open && i < RAVO_EXPORT_COUNT; i++)
        if (strlen(callNames[i]) == (size_t)(open - call) && strncmp(call, callNames[i], open - call) == 0)
            return i;
    return -1;
}

static bool Starts(const char* text, const char* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

static bool Digits(const char* s, int count, int* value)
{
    *value = 0;
    for (int i = 0; i < count; i++) {
        if (!isdigit((unsigned char)s[i]))
            return false;
        *value = *value * 10 + (s[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to a date of the Gregorian calendar.
static long DaysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    long era = (y >= 0 ? y : y - 399) / 400;
    long yearOfEra = y - era * 400;
    long dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// "YYYY-MM-DD hh:mm:ss.mmm pid P tid T +S.SSS ": returns what follows, or
// NULL when the line has no such stamp.
static const char* ReadStamp(const char* s, double* wallMs, long* pid, long* tid, double* clockMs)
{
    int y, mo, d, h, mi, sec, ms;
    if (!Digits(s, 4, &y) || s[4] != '-' || !Digits(s + 5, 2, &mo) || s[7] != '-' || !Digits(s + 8, 2, &d) ||
        s[10] != ' ' || !Digits(s + 11, 2, &h) || s[13] != ':' || !Digits(s + 14, 2, &mi) || s[16] != ':' ||
        !Digits(s + 17, 2, &sec) || s[19] != '.' || !Digits(s + 20, 3, &ms) || !Starts(s + 23, " pid ") ||
        !isdigit((unsigned char)s[28]))
        return NULL;
    char* end;
    *pid = strtol(s + 28, &end, 10);
    if (!Starts(end, " tid ") || !isdigit((unsigned char)end[5]))
        return NULL;
    *tid = strtol(end + 5, &end, 10);
    if (!Starts(end, " +") || !isdigit((unsigned char)end[2]))
        return NULL;
    *clockMs = strtod(end + 2, &end);
    if (*end != ' ')
        return NULL;
    *wallMs = (double)DaysFromCivil(y, mo, d) * 86400000.0 + h * 3600000.0 + mi * 60000.0 + sec * 1000.0 + ms;
    return end + 1;
}

// The line format of earlier releases of the drop-in: "26.901 tid 272 ...",
// and its dump writer's "DUMP ..." titles and "000: ..." rows.
static bool IsOlderFormat(const char* s)
{
    const char* p = s;
    while (isdigit((unsigned char)*p))
        p++;
    if (p > s && *p == '.' && isdigit((unsigned char)p[1])) {
        for (p++; isdigit((unsigned char)*p); p++) {
        }
        if (Starts(p, " tid "))
            return true;
    }
    if (Starts(s, "DUMP "))
        return true;
    for (p = s; isxdigit((unsigned char)*p); p++) {
    }
    return p - s >= 3 && p[0] == ':' && p[1] == ' ';
}

static void Leave(LeftOut* out, const char* line, int number)
{
    if (out->count++ == 0) {
        out->firstLine = number;
        out->first.assign(line, strnlen(line, 100));
    }
}

// Where the next ", " outside parentheses starts the next part, or NULL.
static const char* NextPart(const char* s)
{
    for (int depth = 0; *s; s++) {
        if (*s == '(')
            depth++;
        else if (*s == ')')
            depth--;
        else if (depth <= 0 && s[0] == ',' && s[1] == ' ')
            return s + 2;
    }
    return NULL;
}

// "D.DDD ms", the whole part.
static bool IsDuration(const char* part, const char* end)
{
    if (end - part < 4 || !isdigit((unsigned char)*part) || strncmp(end - 3, " ms", 3) != 0)
        return false;
    for (const char* p = part; p < end - 3; p++)
        if (!isdigit((unsigned char)*p) && *p != '.')
            return false;
    return true;
}

// "R[ (words)], code C NAME, ..., D.DDD ms, ...": the result, the error and
// the duration, which every end line has.
static bool ReadOutcome(const char* text, TracedCall* c)
{
    char* end;
    c->result = strtol(text, &end, 10);
    if (end == text)
        return false;
    bool timed = false;
    for (const char* part = NextPart(end); part;) {
        const char* next = NextPart(part);
        const char* partEnd = next ? next - 2 : part + strlen(part);
        if (Starts(part, "code ")) {
            c->code = strtol(part + 5, &end, 10);
            if (*end == ' ' && end < partEnd)
                c->codeName.assign(end + 1, partEnd - end - 1);
        } else if (IsDuration(part, partEnd)) {
            c->durationMs = strtod(part, NULL);
            timed = true;
        }
        part = next;
    }
    return timed;
}

// A data call's socket and the bytes it offers or can take.
static void ReadArguments(TracedCall* c)
{
    if (c->kind != kindSend && c->kind != kindRead && c->kind != kindClose)
        return;
    const char* args = strchr(c->call, '(') + 1;
    char* end;
    c->socket = strtol(args, &end, 10);
    if (end == args)
        c->socket = -1;
    if (c->kind != kindClose && Starts(end, ", ")) {
        end += 2;
        if (Starts(end, "up to "))
            end += 6;
        c->asked = strtol(end, NULL, 10);
    }
}

static int NewConnection(LiveProcess* o, long socket, int openCall)
{
    TracedProcess* p = &trace.processes[o->process];
    TracedConnection c = {};
    c.process = o->process;
    c.number = (int)p->connections.size() + 1;
    c.socket = socket;
    c.openCall = openCall;
    c.summaryOpenMs = -1;
    trace.connections.push_back(c);
    p->connections.push_back((int)trace.connections.size() - 1);
    return (int)trace.connections.size() - 1;
}

// The open connection of a socket; one opened before the trace began when
// the trace has not seen it open.
static int ConnectionOf(LiveProcess* o, long socket)
{
    for (int c : o->openConnections)
        if (trace.connections[c].socket == socket)
            return c;
    int c = NewConnection(o, socket, -1);
    o->openConnections.push_back(c);
    return c;
}

static void Forget(LiveProcess* o, long socket)
{
    for (size_t i = 0; i < o->openConnections.size(); i++)
        if (trace.connections[o->openConnections[i]].socket == socket)
            o->openConnections.erase(o->openConnections.begin() + i--);
}

// Files the call under its process and connection.
static void AddCall(LiveProcess* o, TracedCall* c, int connection)
{
    int index = (int)trace.calls.size();
    if (c->kind == kindOpen) {
        bool opened = c->result >= 0 && !c->neverEnded;
        if (opened)
            Forget(o, c->result);
        connection = NewConnection(o, opened ? c->result : -1, index);
        if (opened)
            o->openConnections.push_back(connection);
    } else if (c->socket >= 0 && connection < 0) {
        connection = ConnectionOf(o, c->socket);
    }
    if (c->kind == kindClose && connection >= 0 && !c->neverEnded) {
        trace.connections[connection].closed = true;
        trace.connections[connection].closedMs = c->endMs;
        Forget(o, c->socket);
    }
    c->connection = connection;
    trace.processes[o->process].calls.push_back(index);
    if (connection >= 0)
        trace.connections[connection].calls.push_back(index);
    trace.calls.push_back(*c);
}

// A call that started and had not ended when its process's trace did.
static void AddNeverEnded(LiveProcess* o, const PendingStart* s, double untilMs)
{
    TracedCall c = {};
    c.kind = KindOf(s->call);
    c.process = o->process;
    c.socket = c.asked = -1;
    c.startMs = s->atMs;
    c.endMs = untilMs;
    c.durationMs = untilMs - s->atMs;
    c.call = c.body = s->call;
    c.callLength = s->callLength;
    c.line = s->line;
    c.lineNumber = s->lineNumber;
    c.neverEnded = true;
    ReadArguments(&c);
    AddCall(o, &c, s->connection);
}

static void ReadStartLine(LiveProcess* o, long tid, const char* call, double atMs, const char* line, int number)
{
    TracedCall probe = {};
    probe.kind = KindOf(call);
    if (probe.kind < 0) {
        Leave(&trace.unknown, line, number);
        return;
    }
    probe.call = call;
    probe.socket = -1;
    ReadArguments(&probe);
    PendingStart s = {tid, call, (int)strlen(call), atMs, line, number, -1};
    if (probe.socket >= 0)
        s.connection = ConnectionOf(o, probe.socket);
    o->pending.push_back(s);
}

// An end line ("< " dropped) or a call that cannot block, in one line.
static bool ReadCallLine(LiveProcess* o, long tid, const char* text, double atMs, const char* line, int number,
                         bool hasStart)
{
    const char* equals = strstr(text, ") = ");
    TracedCall c = {};
    c.kind = KindOf(text);
    if (c.kind < 0 || !equals || !ReadOutcome(equals + 4, &c))
        return false;
    c.process = o->process;
    c.socket = c.asked = -1;
    c.call = c.body = text;
    c.callLength = (int)(equals + 1 - text);
    c.line = line;
    c.lineNumber = number;
    c.endMs = atMs;
    c.startMs = atMs - c.durationMs;
    ReadArguments(&c);
    int connection = -1;
    for (int i = (int)o->pending.size() - 1; hasStart && i >= 0; i--) {
        PendingStart s = o->pending[i];
        if (s.tid != tid || s.callLength != c.callLength || strncmp(s.call, text, s.callLength) != 0)
            continue;
        // Calls nested in this one that it outlived never ended.
        for (int j = (int)o->pending.size() - 1; j > i; j--) {
            if (o->pending[j].tid == tid) {
                AddNeverEnded(o, &o->pending[j], atMs);
                o->pending.erase(o->pending.begin() + j);
            }
        }
        connection = s.connection;
        o->pending.erase(o->pending.begin() + i);
        break;
    }
    AddCall(o, &c, connection);
    return true;
}

// "summary of socket S: open D.DDD ms; ...": the drop-in's own open time.
static void ReadSummary(LiveProcess* o, const char* text)
{
    long socket = strtol(text, NULL, 10);
    const char* open = strstr(text, ": open ");
    std::vector<int>& connections = trace.processes[o->process].connections;
    for (int i = (int)connections.size() - 1; open && i >= 0; i--) {
        TracedConnection* c = &trace.connections[connections[i]];
        if (c->socket == socket && c->closed) {
            c->summaryOpenMs = strtod(open + 7, NULL);
            return;
        }
    }
}

static void EndProcess(size_t open)
{
    LiveProcess* o = &liveProcesses[open];
    double lastMs = trace.processes[o->process].lastMs;
    for (const PendingStart& s : o->pending)
        AddNeverEnded(o, &s, lastMs);
    liveProcesses.erase(liveProcesses.begin() + open);
}

// The process a stamped line belongs to; a start line begins a new one (a
// process id can come back in a later process).
static LiveProcess* ProcessOf(long pid, const char* body, double wallMs, double clockMs)
{
    static long lastPid = -1;
    bool starts = Starts(body, "--- trace of ");
    for (size_t i = 0; i < liveProcesses.size(); i++) {
        if (liveProcesses[i].pid != pid)
            continue;
        if (!starts) {
            trace.interleaved |= lastPid != pid;
            lastPid = pid;
            return &liveProcesses[i];
        }
        EndProcess(i);
        break;
    }
    lastPid = pid;
    TracedProcess p = {};
    p.pid = pid;
    p.firstMs = wallMs;
    p.clockBaseMs = wallMs - clockMs;
    if (starts)
        p.header = body + strlen("--- trace of ");
    trace.processes.push_back(p);
    LiveProcess o = {};
    o.pid = pid;
    o.process = (int)trace.processes.size() - 1;
    liveProcesses.push_back(o);
    return &liveProcesses.back();
}

static void ReadLine(const char* line, int number)
{
    if (line[0] == 0)
        return;  // the older dump writer's spacing
    if (Starts(line, "    ")) {
        trace.dataRows++;
        return;
    }
    double wallMs, clockMs;
    long pid, tid;
    const char* body = ReadStamp(line, &wallMs, &pid, &tid, &clockMs);
    if (!body) {
        Leave(Starts(line, "YYYY-MM-DD ") ? &trace.stable : IsOlderFormat(line) ? &trace.older : &trace.unknown,
              line, number);
        return;
    }
    LiveProcess* o = ProcessOf(pid, body, wallMs, clockMs);
    TracedProcess* p = &trace.processes[o->process];
    double atMs = p->clockBaseMs + clockMs;
    p->lines++;
    p->lastMs = atMs;
    bool known = false;
    for (long t : p->threads)
        known |= t == tid;
    if (!known)
        p->threads.push_back(tid);
    if (Starts(body, "--- trace of "))
        return;
    if (Starts(body, "--- tracing stopped"))
        p->stopped = body + 4;
    else if (Starts(body, "> "))
        ReadStartLine(o, tid, body + 2, atMs, line, number);
    else if (Starts(body, "summary of socket "))
        ReadSummary(o, body + strlen("summary of socket "));
    else if (!ReadCallLine(o, tid, Starts(body, "< ") ? body + 2 : body, atMs, line, number, Starts(body, "< ")))
        Leave(&trace.unknown, line, number);
}

static void SortByStart(std::vector<int>* calls)
{
    std::stable_sort(calls->begin(), calls->end(),
                     [](int a, int b) { return trace.calls[a].startMs < trace.calls[b].startMs; });
}

void ReadTrace(char* text, size_t size)
{
    ListCallKinds();
    char* end = text + size;
    int number = 0;
    for (char* at = text; at < end;) {
        number++;
        char* newline = (char*)memchr(at, '\n', end - at);
        if (!newline) {
            trace.cutLine = number;  // the file ends inside it: the rest is not there to read
            break;
        }
        *newline = 0;
        char* line = at;
        at = newline + 1;
        if (newline > line && newline[-1] == '\r')
            newline[-1] = 0;
        if (*line == '\r')
            line++;  // the older dump writer ends its rows LF CR
        ReadLine(line, number);
    }
    trace.lines = number;
    while (!liveProcesses.empty())
        EndProcess(liveProcesses.size() - 1);
    for (TracedProcess& p : trace.processes)
        SortByStart(&p.calls);
    for (TracedConnection& c : trace.connections)
        SortByStart(&c.calls);
}
