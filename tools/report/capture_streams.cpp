// The trace's connections as TCP streams, call by call in the trace's
// order: a three-way handshake at each _netopen that connected, a segment
// for each _netsend and _netread that moved bytes (several where one packet
// cannot hold them), the server's FIN where a read got 0 bytes, its RST for
// a reset, a FIN exchange at _netclose. Each packet has its call's time and
// carries its trace line; sequence numbers follow the calls' byte counts,
// whatever the rows show of them.
#include "capture.h"
#include <algorithm>
#include <string.h>

// Made-up host ends, for traces that do not name the host's own: ports from
// here on, one per connection.
enum { FIRST_MADE_UP_PORT = 1024, MADE_UP_PORTS = 65536 - FIRST_MADE_UP_PORT };
// TEST-NET-1 (RFC 5737): an address no host has, for a host end made up
// beside a server that is not on loopback.
static const unsigned char DOCUMENTATION_ADDRESS[4] = {192, 0, 2, 1};

struct Stream {
    bool live;       // its handshake is written, and it was neither reset nor closed
    bool serverFin;  // the server's FIN is written (a read got 0 bytes)
    bool noted;      // left out, and said so
    TcpEnd host, server;
};

// The capture being made.
struct Making {
    const Trace* t;
    PcapWriter* w;
    CaptureAccount* a;
    std::vector<Stream> streams;      // by connection
    std::vector<int> interfaceOf;     // by process; -1: none written yet
    std::vector<bool> hasData;        // by process: rows of bytes (Data=1)
    int interfaces, madeUp;
    std::string packet;
    std::vector<unsigned char> bytes;  // those a call's rows show
};

static void Note(NotCaptured* n, const TracedCall& c)
{
    if (n->count++ == 0)
        n->first = &c;
}

static std::string LineComment(const TracedCall& c)
{
    return Format("line %d: %s", c.lineNumber, c.body);
}

static int InterfaceOf(Making* m, int process)
{
    if (m->interfaceOf[process] < 0) {
        const TracedProcess& p = m->t->processes[process];
        std::string name = Format("pid %lu", p.pid);
        PcapInterface(m->w, name, p.header ? Format("process %lu: %s", p.pid, p.header) : "process " + name);
        m->interfaceOf[process] = m->interfaces++;
        m->a->processes++;
    }
    return m->interfaceOf[process];
}

// One packet from the host's end (or the server's) of the call's stream.
static void Send(Making* m, const TracedCall& c, bool fromHost, int flags, double atMs, const std::string& comment,
                 const unsigned char* payload = NULL, size_t captured = 0, size_t length = 0)
{
    Stream* s = &m->streams[c.connection];
    size_t wire = fromHost ? TcpSegment(&m->packet, &s->host, &s->server, flags, payload, captured, length)
                           : TcpSegment(&m->packet, &s->server, &s->host, flags, payload, captured, length);
    PcapPacket(m->w, InterfaceOf(m, c.process), atMs, m->packet, wire, comment);
    m->a->packets++;
}

static void MakeUpHostEnd(Making* m, Stream* s)
{
    int k = m->madeUp++;
    memcpy(s->host.address, s->server.address[0] == 127 ? s->server.address : DOCUMENTATION_ADDRESS, 4);
    s->host.address[3] = (unsigned char)(s->host.address[3] + k / MADE_UP_PORTS);
    s->host.port = FIRST_MADE_UP_PORT + k % MADE_UP_PORTS;
}

static void Open(Making* m, const TracedCall& c)
{
    Stream* s = &m->streams[c.connection];
    memcpy(s->server.address, c.read.peerAddress, 4);
    s->server.port = c.read.peerPort;
    if (c.read.localPort) {
        memcpy(s->host.address, c.read.localAddress, 4);
        s->host.port = c.read.localPort;
    } else {
        MakeUpHostEnd(m, s);
    }
    // Initial sequence numbers: any will do, and these differ per connection.
    s->host.seq = ((unsigned long)c.connection + 1) * 2654435761UL & 0xffffffff;
    s->server.seq = (s->host.seq ^ 0x5bd1e995UL) & 0xffffffff;
    std::string comment = LineComment(c);
    Send(m, c, true, TCP_SYN, c.startMs, comment);
    Send(m, c, false, TCP_SYN | TCP_ACK, c.endMs, comment);
    Send(m, c, true, TCP_ACK, c.endMs, comment);
    s->live = true;
    m->a->connections++;
}

// The bytes the call's rows show, read again from the rows.
static void ShownBytes(Making* m, const TracedCall& c)
{
    m->bytes.clear();
    TraceLineRead l;
    for (int i = 0; i < c.rowCount; i++)
        if (ReadTraceLine(m->t->rows[c.firstRow + i], &l) == TRACE_LINE_ROW)
            m->bytes.insert(m->bytes.end(), l.row.bytes, l.row.bytes + l.row.count);
}

static void Data(Making* m, const TracedCall& c, bool fromHost)
{
    ShownBytes(m, c);
    size_t length = (size_t)c.read.result, shown = std::min(m->bytes.size(), length);
    size_t segments = (length + TCP_MOST_PAYLOAD - 1) / TCP_MOST_PAYLOAD;
    std::string comment = LineComment(c);
    for (size_t at = 0, i = 1; at < length; at += TCP_MOST_PAYLOAD, i++) {
        size_t part = std::min((size_t)TCP_MOST_PAYLOAD, length - at);
        size_t captured = at < shown ? std::min(part, shown - at) : 0;
        Send(m, c, fromHost, TCP_PSH | TCP_ACK, c.endMs,
             segments == 1 ? comment : comment + Format(" (segment %u of %u)", (unsigned)i, (unsigned)segments),
             captured ? m->bytes.data() + at : NULL, captured, part);
    }
    *(fromHost ? &m->a->bytesOut : &m->a->bytesIn) += (long long)length;
}

static void Close(Making* m, const TracedCall& c, Stream* s)
{
    std::string comment = LineComment(c);
    Send(m, c, true, TCP_FIN | TCP_ACK, c.startMs, comment);
    if (s->serverFin) {
        Send(m, c, false, TCP_ACK, c.endMs, comment);
    } else {
        Send(m, c, false, TCP_FIN | TCP_ACK, c.endMs, comment);
        Send(m, c, true, TCP_ACK, c.endMs, comment);
    }
    s->live = false;
}

// What a data call that moved no bytes ends: a read of 0 bytes is the
// server's FIN, a reset its RST; other failures send nothing.
static void DataEnd(Making* m, const TracedCall& c, Stream* s, bool sending)
{
    if (c.read.code == WSAECONNRESET) {
        Send(m, c, false, TCP_RST | TCP_ACK, c.endMs, LineComment(c));
        s->live = false;
    } else if (!sending && c.read.result == 0 && c.read.code == 0 && !s->serverFin) {
        std::string comment = LineComment(c);
        Send(m, c, false, TCP_FIN | TCP_ACK, c.endMs, comment);
        Send(m, c, true, TCP_ACK, c.endMs, comment);
        s->serverFin = true;
    }
}

static void Take(Making* m, const TracedCall& c)
{
    if (c.connection < 0 || !m->hasData[c.process])
        return;
    if (c.neverEnded)
        return Note(&m->a->neverEnded, c);
    int kind = c.read.kind;
    if (kind == RAVO_INDEX(_netopen)) {
        if (c.read.result < 0)
            Note(&m->a->failedOpens, c);
        else if (!c.read.connected)
            Note(&m->a->boundOpens, c);
        else
            Open(m, c);
        return;
    }
    Stream* s = &m->streams[c.connection];
    if (m->t->connections[c.connection].openCall < 0 && !s->noted) {
        s->noted = true;
        Note(&m->a->openedBefore, c);
    }
    if (!s->live)
        return;
    bool sending = kind == RAVO_INDEX(_netsend), data = sending || kind == RAVO_INDEX(_netread);
    if (data && c.read.result > 0)
        Data(m, c, sending);
    else if (data)
        DataEnd(m, c, s, sending);
    else if (kind == RAVO_INDEX(_netclose) && (c.read.result == 0 || c.read.result == -1))
        Close(m, c, s);  // -1: closed, but releasing WinSock failed
}

// Whether the process was traced with Data=1: no call that moved bytes
// lacks its rows (or its count of the bytes not shown).
static bool HasRows(const Trace* t, const TracedProcess& p)
{
    for (int i : p.calls) {
        const TracedCall& c = t->calls[i];
        bool moved = (c.read.kind == RAVO_INDEX(_netsend) || c.read.kind == RAVO_INDEX(_netread)) && !c.neverEnded &&
                     c.read.result > 0;
        if (moved && c.rowCount == 0 && c.notShownBytes == 0)
            return false;
    }
    return true;
}

static std::string SectionComment(const char* tracePath, int madeUp)
{
    std::string text = Format("Rebuilt by ravoprobe report from the trace %s, written with Data=1 by "
                              RAVO_TRACE_DESCRIPTION ". The packets are made from the trace's calls and rows of "
                              "bytes, not captured: MSS, windows, acknowledgements and retransmissions are not the "
                              "network's. "
                              "Times are the trace's local times, stored as UTC. A call whose bytes the trace cut "
                              "(DataBytes) gives packets that hold the bytes shown and keep the call's length.",
                              tracePath);
    if (madeUp)
        text += Format(" The host's ports are made up for %d connection%s, whose _netopen line does not name the "
                       "host's own end (a trace of an earlier drop-in): one port per connection from %d on.",
                       madeUp, madeUp == 1 ? "" : "s", FIRST_MADE_UP_PORT);
    return text;
}

void WriteCapture(const Trace* t, const char* tracePath, const char* application, PcapWriter* w,
                  CaptureAccount* account)
{
    Making m = {t, w, account, std::vector<Stream>(t->connections.size()),
                std::vector<int>(t->processes.size(), -1), {}, 0, 0, {}, {}};
    for (size_t p = 0; p < t->processes.size(); p++) {
        m.hasData.push_back(HasRows(t, t->processes[p]));
        if (!m.hasData.back())
            account->withoutData.push_back((int)p);
    }
    int madeUp = 0;
    for (const TracedConnection& c : t->connections)
        madeUp += c.openCall >= 0 && m.hasData[c.process] && t->calls[c.openCall].read.connected &&
                  !t->calls[c.openCall].neverEnded && !t->calls[c.openCall].read.localPort;
    PcapSection(w, SectionComment(tracePath, madeUp), application);
    for (const TracedCall& c : t->calls)
        Take(&m, c);
    account->madeUpPorts = m.madeUp;
}
