// reporttrace FILE [bulk|per-query]: writes a large trace for timing
// ravoprobe report (bench/report_trace.sh runs it), every line written with
// the trace's grammar (tools/common/trace_grammar.h), as the drop-in writes
// them, so that the two cannot drift:
//   bulk       one process of ten connections, each a run of 8-byte sends
//              answered by 20 reads of 8192 bytes with their Data=1 rows
//              (DataBytes=256), ending in a read that never ended
//   per-query  one process that connects for each query: 37,000
//              connections of an open, a send, a read and a close, each
//              with its summary (no data rows)
#include "exports.h"
#include "trace_grammar.h"
#include <stdio.h>
#include <string.h>

enum { DATA_BYTES = 256, READ_BYTES = 8192 };

// The trace being written: the drop-in's clock and the connection's figures.
struct Maker {
    FILE* out;
    ULONGLONG startedAt;  // the wall clock at load, in FILETIME units
    double t;             // ms since load
    SYSTEMTIME at;        // of the last stamp
    TraceLine line;
    TraceSummary summary;
    double openedAt;       // of the connection
    bool data;             // Data=1: rows of the bytes sent and read
    char written[4096];    // the line and its rows, at most DATA_BYTES of bytes
};

static void Stamp(Maker* m)
{
    ULARGE_INTEGER at;
    at.QuadPart = m->startedAt + (ULONGLONG)(m->t * 10000.0);
    FILETIME time = {at.LowPart, at.HighPart};
    TraceStamp s = {};
    FileTimeToSystemTime(&time, &s.at);
    m->at = s.at;
    s.pid = 268;
    s.tid = 272;
    s.sinceLoadMs = m->t;
    m->line.length = 0;
    AppendStamp(&m->line, &s, false);
}

// The line with CR LF, and the rows of count bytes that went out or came in.
static void Put(Maker* m, bool out = false, LONG count = 0)
{
    static BYTE bytes[READ_BYTES];
    if (!bytes[0])
        for (int i = 0; i < READ_BYTES; i++)
            bytes[i] = "SELECT 1"[i % 8];
    AppendText(&m->line, "\r\n");
    memcpy(m->written, m->line.text, m->line.length);
    int length = count > 0 ? AppendRows(m->written, m->line.length, out, bytes, count, DATA_BYTES) : m->line.length;
    fwrite(m->written, 1, length, m->out);
}

// One call that can block: its start line, ms later its end line with the
// result (a socket for _netopen), the peer of an open and the rows of a
// data call.
static void Call(Maker* m, int kind, const char* args, LONG result, double ms)
{
    const char* name = RAVO_EXPORT_LIST[kind].name;
    Stamp(m);
    AppendCallStart(&m->line, name, args);
    Put(m);
    SYSTEMTIME startedAt = m->at;
    m->t += ms;
    Stamp(m);
    AppendCallEnd(&m->line, true, name, args);
    AppendText(&m->line, "%ld", result);
    if (kind == RAVO_INDEX(_netopen)) {
        static const BYTE peer[4] = {10, 1, 2, 3}, host[4] = {10, 1, 2, 4};
        static unsigned hostPort = 49152;
        AppendConnected(&m->line, peer, 47107, host, hostPort, false);
        hostPort = hostPort == 65535 ? 49152 : hostPort + 1;
        m->summary = TraceSummary();
        m->summary.socket = result;
        m->openedAt = m->t - ms;
    }
    AppendText(&m->line, TRACE_NEXT);
    AppendDuration(&m->line, ms, false);
    bool sending = kind == RAVO_INDEX(_netsend);
    if (sending || kind == RAVO_INDEX(_netread)) {
        *(sending ? &m->summary.sends : &m->summary.reads) += 1;
        *(sending ? &m->summary.bytesOut : &m->summary.bytesIn) += result;
        m->summary.waitedMs += ms;
        if (ms >= m->summary.longestMs) {
            m->summary.longestMs = ms;
            m->summary.longestSending = sending;
            m->summary.longestAt = startedAt;
        }
    }
    Put(m, sending, m->data && (sending || kind == RAVO_INDEX(_netread)) ? result : 0);
    if (kind == RAVO_INDEX(_netclose)) {
        m->summary.openMs = m->t - m->openedAt;
        Stamp(m);
        AppendSummary(&m->line, &m->summary, false);
        Put(m);
    }
    m->t += 0.05;
}

static void Open(Maker* m, LONG socket, double ms)
{
    char args[TRACE_ARGS_SIZE];
    OpenArgs(args, "10.1.2.3", "ravotest7", 0);
    Call(m, RAVO_INDEX(_netopen), args, socket, ms);
}

static void Data(Maker* m, bool sending, LONG socket, LONG length, LONG result, double ms)
{
    char args[TRACE_ARGS_SIZE];
    DataArgs(args, socket, length, sending, false);
    Call(m, sending ? RAVO_INDEX(_netsend) : RAVO_INDEX(_netread), args, result, ms);
}

static void Close(Maker* m, LONG socket, double ms)
{
    char args[TRACE_ARGS_SIZE];
    SocketArgs(args, socket, false);
    Call(m, RAVO_INDEX(_netclose), args, 0, ms);
}

int main(int argc, char** argv)
{
    bool perQuery = argc == 3 && strcmp(argv[2], "per-query") == 0;
    if (argc < 2 || argc > 3 || (argc == 3 && !perQuery && strcmp(argv[2], "bulk") != 0)) {
        fprintf(stderr, "usage: reporttrace FILE [bulk|per-query]\n");
        return 2;
    }
    static Maker m;
    m.out = fopen(argv[1], "wb");
    if (!m.out) {
        fprintf(stderr, "reporttrace: cannot write %s\n", argv[1]);
        return 1;
    }
    setvbuf(m.out, NULL, _IOFBF, 1 << 16);
    SYSTEMTIME load = {2026, 12, 3, 9, 5, 31, 0, 0};
    FILETIME loadTime;
    SystemTimeToFileTime(&load, &loadTime);
    m.startedAt = ((ULONGLONG)loadTime.dwHighDateTime << 32) | loadTime.dwLowDateTime;
    m.t = 1.0;
    m.data = !perQuery;
    Stamp(&m);
    AppendHeader(&m.line, "C:\\host\\host.exe", "C:\\host\\ravowsok-real.dll", "", false);
    Put(&m);
    if (perQuery) {
        for (int q = 0; q < 37000; q++) {
            LONG socket = 100 + 4 * (q % 50);
            Open(&m, socket, 1.0);
            Data(&m, true, socket, 8, 8, 0.2);
            Data(&m, false, socket, READ_BYTES, 100, 0.7);
            Close(&m, socket, 0.1);
        }
    } else {
        const int rounds = 870, perConnection = rounds / 10;
        LONG socket = 100;
        for (int r = 0; r < rounds; r++) {
            socket = 100 + 4 * (r * 10 / rounds);
            if (r % perConnection == 0)
                Open(&m, socket, 2.5);
            Data(&m, true, socket, 8, 8, 0.2);
            for (int i = 0; i < 20; i++)
                Data(&m, false, socket, READ_BYTES, READ_BYTES, 1.2 + (i * 7 + r) % 30 / 10.0);
            if ((r + 1) % perConnection == 0 && r + 1 < rounds)
                Close(&m, socket, 0.3);
        }
        char args[TRACE_ARGS_SIZE];
        DataArgs(args, socket, READ_BYTES, false, false);
        Stamp(&m);
        AppendCallStart(&m.line, RAVO_NAME(_netread), args);
        Put(&m);
    }
    return fclose(m.out) == 0 ? 0 : 1;
}
