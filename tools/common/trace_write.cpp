// Writing the trace's lines (trace_grammar.h). wsprintfA has no floating
// point, and 64-bit division would need libgcc's helpers, so times and
// counts are split into whole parts in double: the drop-in links this
// without a C runtime.
#include "trace_grammar.h"
#include "exports.h"
#include <stdarg.h>

void AppendText(TraceLine* line, const char* format, ...)
{
    if (line->length >= LINE_LIMIT)
        return;
    va_list args;
    va_start(args, format);
    line->length += wvsprintfA(line->text + line->length, format, args);
    va_end(args);
}

void AppendStamp(TraceLine* line, const TraceStamp* s, bool stable)
{
    if (stable)
        return AppendText(line, TRACE_STABLE_STAMP);
    AppendText(line, "%04u-%02u-%02u ", s->at.wYear, s->at.wMonth, s->at.wDay);
    AppendClock(line, &s->at, false);
    AppendText(line, TRACE_PID "%lu" TRACE_TID "%lu" TRACE_SINCE_LOAD, s->pid, s->tid);
    AppendMs(line, s->sinceLoadMs);
    AppendText(line, " ");
}

void AppendMs(TraceLine* line, double ms)
{
    if (ms < 0)
        ms = 0;
    LONG whole = (LONG)ms;
    AppendText(line, "%ld.%03ld", whole, (LONG)((ms - (double)whole) * 1000.0));
}

void AppendDuration(TraceLine* line, double ms, bool stable)
{
    if (stable)
        AppendText(line, TRACE_STABLE_MS);
    else
        AppendMs(line, ms);
    AppendText(line, TRACE_MS);
}

void AppendClock(TraceLine* line, const SYSTEMTIME* t, bool stable)
{
    if (stable)
        AppendText(line, TRACE_STABLE_CLOCK);
    else
        AppendText(line, "%02u:%02u:%02u.%03u", t->wHour, t->wMinute, t->wSecond, t->wMilliseconds);
}

void AppendNumber(TraceLine* line, LONG n, const char* placeholder, bool stable)
{
    if (stable)
        AppendText(line, "%s", placeholder);
    else
        AppendText(line, "%ld", n);
}

void AppendAddress(TraceLine* line, const BYTE address[4], unsigned port, bool stable)
{
    if (stable)
        AppendText(line, TRACE_STABLE_ADDRESS);
    else
        AppendText(line, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    if (port) {
        AppendText(line, ":");
        AppendNumber(line, (LONG)port, TRACE_STABLE_PORT, stable);
    }
}

void AppendConnected(TraceLine* line, const BYTE peer[4], unsigned peerPort, const BYTE* local, unsigned localPort,
                     bool stable)
{
    AppendText(line, TRACE_NEXT TRACE_CONNECTED);
    AppendAddress(line, peer, peerPort, stable);
    if (!local)
        return;
    AppendText(line, TRACE_FROM);
    AppendAddress(line, local, localPort, stable);
}

void AppendCode(TraceLine* line, LONG code, CodeSource from)
{
    AppendText(line, TRACE_CODE "%ld", code);
    CodeReading readings[MAX_READINGS];
    if (ReadCode(code, from, readings) == 0)
        return;
    const CodeReading* r = &readings[0];
    if (r->stage)
        AppendText(line, " %s+%s", r->stage->offsetName, r->error->name);
    else
        AppendText(line, " %s", r->error->name);
}

void OpenArgs(char* out, const char* host, const char* service, long mode)
{
    wsprintfA(out, "\"%.200s\", \"%.200s\", " TRACE_MODE "%ld", host, service, mode);
}

void DataArgs(char* out, LONG socket, LONG length, bool sending, bool stable)
{
    out += SocketArgs(out, socket, stable);
    wsprintfA(out, TRACE_NEXT "%s%ld" TRACE_BYTES, sending ? "" : TRACE_UP_TO, length);
}

int SocketArgs(char* out, LONG socket, bool stable)
{
    return stable ? wsprintfA(out, TRACE_STABLE_SOCKET) : wsprintfA(out, "%ld", socket);
}

void AppendCallStart(TraceLine* line, const char* name, const char* args)
{
    AppendText(line, TRACE_START "%s(%s)", name, args);
}

void AppendCallEnd(TraceLine* line, bool hadStart, const char* name, const char* args)
{
    AppendText(line, "%s%s(%s" TRACE_RESULT, hadStart ? TRACE_END : "", name, args);
}

void AppendHeader(TraceLine* line, const char* host, const char* module, const char* problem, bool stable)
{
    if (stable)
        host = module = TRACE_STABLE_PATH;
    AppendText(line, TRACE_HEADER "%s" TRACE_THROUGH "%s", host, module);
    if (problem[0]) {
        AppendText(line, TRACE_UNUSABLE "%s; %s fails with ", problem, RAVO_NAME(_netopen));
        AppendCode(line, NET_ERR_STARTUP + WSASYSNOTREADY, FROM_OPEN);
    }
}

void AppendStopped(TraceLine* line, LONG maxSizeMB)
{
    AppendText(line, TRACE_STOPPED "%s=%ld\r\n", RAVO_KEY_TRACE_MAX_SIZE, maxSizeMB);
}

// "N sends, B bytes out": a count in the singular or plural, and its bytes
// (of any size, in two halves).
static void AppendCalls(TraceLine* line, LONG n, const char* call, LONGLONG bytes, const char* way)
{
    AppendText(line, "%ld %s%s" TRACE_NEXT, n, call, n == 1 ? "" : "s");
    double v = (double)bytes;
    LONG high = (LONG)(v / 1e9), low = (LONG)(v - (double)high * 1e9);
    if (high)
        AppendText(line, "%ld%09ld", high, low);
    else
        AppendText(line, "%ld", low);
    AppendText(line, TRACE_SUMMARY_BYTE "%s%s", bytes == 1 ? "" : "s", way);
}

void AppendSummary(TraceLine* line, const TraceSummary* s, bool stable)
{
    AppendText(line, TRACE_SUMMARY);
    AppendNumber(line, s->socket, TRACE_STABLE_SOCKET, stable);
    AppendText(line, TRACE_SUMMARY_OPEN);
    AppendDuration(line, s->openMs, stable);
    AppendText(line, "; ");
    AppendCalls(line, s->sends, TRACE_SUMMARY_SEND, s->bytesOut, TRACE_SUMMARY_OUT);
    AppendText(line, "; ");
    AppendCalls(line, s->reads, TRACE_SUMMARY_READ, s->bytesIn, TRACE_SUMMARY_IN);
    AppendText(line, TRACE_SUMMARY_WAITED);
    AppendDuration(line, s->waitedMs, stable);
    AppendText(line, TRACE_SUMMARY_IN_ALL);
    if (!s->sends && !s->reads)
        return;
    AppendText(line, TRACE_SUMMARY_LONGEST);
    AppendDuration(line, s->longestMs, stable);
    AppendText(line, " (%s at ", s->longestSending ? RAVO_NAME(_netsend) : RAVO_NAME(_netread));
    AppendClock(line, &s->longestAt, stable);
    AppendText(line, ")");
}

// --- Rows of bytes, formatted by hand: a bulk transfer runs through here,
// and wsprintfA per byte would cost more than the transfer.
enum {
    ROW_CHARS = 8 + 8 + 2 + 3 * TRACE_ROW_BYTES + 1 + TRACE_ROW_BYTES + 2,  // way, offset, hex, text, CR LF
    TAIL_CHARS = 96,                                                        // "... N more bytes not shown"
};

static const char HEX[] = "0123456789abcdef";

int RowsSize(LONG count, LONG dataBytes)
{
    return ((count < dataBytes ? count : dataBytes) + TRACE_ROW_BYTES - 1) / TRACE_ROW_BYTES * ROW_CHARS + TAIL_CHARS;
}

int AppendRows(char* buffer, int at, bool out, const BYTE* bytes, LONG count, LONG dataBytes)
{
    LONG shown = count < dataBytes ? count : dataBytes;
    int digits = shown > 0x10000 ? 8 : 4;
    char* end = buffer + at;
    for (LONG offset = 0; offset < shown; offset += TRACE_ROW_BYTES) {
        LONG inRow = shown - offset < TRACE_ROW_BYTES ? shown - offset : (LONG)TRACE_ROW_BYTES;
        for (const char* way = out ? TRACE_ROW_OUT : TRACE_ROW_IN; *way; way++)
            *end++ = *way;
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
            *end++ = HEX[(offset >> shift) & 15];
        *end++ = ' ';
        *end++ = ' ';
        for (LONG i = 0; i < TRACE_ROW_BYTES; i++) {
            BYTE b = bytes[offset + i < shown ? offset + i : 0];
            end[0] = i < inRow ? HEX[b >> 4] : ' ';
            end[1] = i < inRow ? HEX[b & 15] : ' ';
            end[2] = ' ';
            end += 3;
        }
        *end++ = ' ';
        for (LONG i = 0; i < inRow; i++) {
            BYTE b = bytes[offset + i];
            *end++ = b >= 0x20 && b < 0x7f ? (char)b : '.';
        }
        *end++ = '\r';
        *end++ = '\n';
    }
    if (shown < count)
        end += wsprintfA(end, TRACE_ROWS_CUT "%ld" TRACE_ROWS_NOT_SHOWN "%s=%ld)\r\n", count - shown,
                         RAVO_KEY_TRACE_DATA_BYTES, dataBytes);
    return (int)(end - buffer);
}
