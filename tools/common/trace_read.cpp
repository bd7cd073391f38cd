// Reading the trace's lines (trace_grammar.h) for ravoprobe report: each
// line is read whole, with the phrases the drop-in writes it with, and one
// that does not read whole is not taken for what it resembles.
#include "trace_grammar.h"
#include "exports.h"
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

// Moves text past prefix when it starts with it.
static bool Skip(const char** text, const char* prefix)
{
    size_t n = strlen(prefix);
    if (strncmp(*text, prefix, n) != 0)
        return false;
    *text += n;
    return true;
}

// A decimal number (signed: a minus may come first); moves past it.
template <typename T> static bool Number(const char** text, T* value, bool sign = false)
{
    if (!isdigit((unsigned char)(*text)[sign && **text == '-']))
        return false;
    char* end;
    *value = (T)strtoll(*text, &end, 10);
    *text = end;
    return true;
}

// "M.MMM"; with " ms" after it: a duration.
static bool Ms(const char** text, double* ms, const char* unit = "")
{
    if (!isdigit((unsigned char)**text))
        return false;
    char* end;
    *ms = strtod(*text, &end);
    *text = end;
    return Skip(text, unit);
}

// count digits of s into *value.
static bool Digits(const char* s, int count, WORD* value)
{
    for (*value = 0; count-- > 0; s++) {
        if (!isdigit((unsigned char)*s))
            return false;
        *value = (WORD)(*value * 10 + (*s - '0'));
    }
    return true;
}

// "YYYY-MM-DD hh:mm:ss.mmm pid P tid T +S.SSS ": returns what follows, or
// NULL (also for a date that does not exist).
static const char* ReadStamp(const char* s, TraceStamp* r, double* wallMs)
{
    SYSTEMTIME* t = &r->at;
    if (!Digits(s, 4, &t->wYear) || s[4] != '-' || !Digits(s + 5, 2, &t->wMonth) || s[7] != '-' ||
        !Digits(s + 8, 2, &t->wDay) || s[10] != ' ' || !Digits(s + 11, 2, &t->wHour) || s[13] != ':' ||
        !Digits(s + 14, 2, &t->wMinute) || s[16] != ':' || !Digits(s + 17, 2, &t->wSecond) || s[19] != '.' ||
        !Digits(s + 20, 3, &t->wMilliseconds))
        return NULL;
    const char* at = s + 23;
    FILETIME wall;
    if (!Skip(&at, TRACE_PID) || !Number(&at, &r->pid) || !Skip(&at, TRACE_TID) || !Number(&at, &r->tid) ||
        !Skip(&at, TRACE_SINCE_LOAD) || !Ms(&at, &r->sinceLoadMs, " ") || !SystemTimeToFileTime(t, &wall))
        return NULL;
    *wallMs = (double)((((ULONGLONG)wall.dwHighDateTime << 32) | wall.dwLowDateTime) - FILETIME_1970) / 10000.0;
    return at;
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
        if (strncmp(p, " tid ", 5) == 0)
            return true;
    }
    if (strncmp(s, "DUMP ", 5) == 0)
        return true;
    for (p = s; isxdigit((unsigned char)*p); p++) {
    }
    return p - s >= 3 && p[0] == ':' && p[1] == ' ';
}

int TraceCallKind(const char* call)
{
    const char* open = strchr(call, '(');
    for (int i = 0; open && i < RAVO_EXPORT_COUNT; i++)
        if (strlen(RAVO_EXPORT_LIST[i].name) == (size_t)(open - call) &&
            strncmp(call, RAVO_EXPORT_LIST[i].name, open - call) == 0)
            return i;
    return -1;
}

// "\"TEXT\"" before end: moves past it.
static bool Quoted(const char** text, const char* end, const char** at, int* length)
{
    const char* close = **text == '"' ? (const char*)memchr(*text + 1, '"', end - *text - 1) : NULL;
    if (!close)
        return false;
    *at = *text + 1;
    *length = (int)(close - *at);
    *text = close + 1;
    return true;
}

// The arguments from args to end (the closing parenthesis).
static bool ReadArguments(const char* args, const char* end, TraceCallRead* c)
{
    long mode;
    if (c->kind == RAVO_INDEX(_netopen))
        return Quoted(&args, end, &c->host, &c->hostLength) && Skip(&args, TRACE_NEXT) &&
               Quoted(&args, end, &c->service, &c->serviceLength) && Skip(&args, TRACE_NEXT TRACE_MODE) &&
               Number(&args, &mode, true) && args == end;
    bool sending = c->kind == RAVO_INDEX(_netsend), closing = c->kind == RAVO_INDEX(_netclose);
    if (!sending && !closing && c->kind != RAVO_INDEX(_netread))
        return true;  // the hook procedures' and no arguments
    if (!Number(&args, &c->socket) || closing)
        return closing && args == end;
    return Skip(&args, TRACE_NEXT) && (sending || Skip(&args, TRACE_UP_TO)) && Number(&args, &c->asked) &&
           Skip(&args, TRACE_BYTES) && args == end;
}

// Where the next part starts (after ", " outside parentheses), or NULL.
static const char* NextPart(const char* s)
{
    for (int depth = 0; *s; s++) {
        if (*s == '(')
            depth++;
        else if (*s == ')')
            depth--;
        else if (depth <= 0 && strncmp(s, TRACE_NEXT, 2) == 0)
            return s + 2;
    }
    return NULL;
}

// "A.B.C.D:P", the port from 1 to 65535; moves past it.
static bool ReadAddress(const char** text, BYTE address[4], unsigned* port)
{
    long n;
    for (int i = 0; i < 4; i++) {
        if ((i && !Skip(text, ".")) || !Number(text, &n) || n > 255)
            return false;
        address[i] = (BYTE)n;
    }
    return Skip(text, ":") && Number(text, &n) && n >= 1 && n <= 65535 && (*port = (unsigned)n) != 0;
}

// One part after the result, from part to end.
static bool ReadPart(const char* part, const char* end, TraceCallRead* c)
{
    const char* at = part;
    if (Skip(&at, TRACE_CODE)) {
        if (!Number(&at, &c->code, true) || (at != end && *at != ' '))
            return false;
        c->codeName = at + (at < end);
        c->codeNameLength = (int)(end - c->codeName);
        return true;
    }
    bool connected = Skip(&at, TRACE_CONNECTED);
    if (connected && (!ReadAddress(&at, c->peerAddress, &c->peerPort) ||
                      (Skip(&at, TRACE_FROM) && !ReadAddress(&at, c->localAddress, &c->localPort)) || at != end))
        return false;
    if (connected || Skip(&at, TRACE_BOUND) || Skip(&at, TRACE_TO)) {
        c->connected |= connected;
        c->peer = part;
        c->peerLength = (int)(end - part);
        return true;
    }
    if (Ms(&at, &c->durationMs, TRACE_MS) && at == end)
        return (c->duration = part) != NULL;
    at = part;
    if (!Skip(&at, TRACE_WAIT) && !Skip(&at, TRACE_WAIT_END) && !Skip(&at, TRACE_REPLACED) && !Skip(&at, TRACE_URGENT))
        return false;
    c->wait = c->wait ? c->wait : part;
    return true;
}

// "NAME(ARGS)" and, on an end line, " = RESULT[ (WORDS)], PART, ...".
static bool ReadCall(const char* text, bool end, TraceCallRead* c)
{
    memset(c, 0, sizeof *c);
    c->socket = c->asked = -1;
    c->kind = TraceCallKind(text);
    c->call = text;
    const char* close = end ? strstr(text, TRACE_RESULT) : text + strlen(text) - 1;
    if (c->kind < 0 || !close || close < text || *close != ')')
        return false;
    c->callLength = (int)(close + 1 - text);
    if (!ReadArguments(strchr(text, '(') + 1, close, c))
        return false;
    if (!end)
        return true;
    const char* at = close + strlen(TRACE_RESULT);
    if (!Number(&at, &c->result, true))
        return false;
    if (at[0] == ' ' && at[1] == '(' && strchr(at, ')'))  // words where the number alone misleads
        at = strchr(at, ')') + 1;
    if (*at && !Skip(&at, TRACE_NEXT))
        return false;
    for (const char* part = *at ? at : NULL; part;) {
        const char* next = NextPart(part);
        if (!ReadPart(part, next ? next - 2 : part + strlen(part), c))
            return false;
        part = next;
    }
    return c->duration != NULL;  // every end line has its duration
}

// "N sends, B bytes out" and the like.
template <typename T>
static bool ReadCalls(const char** at, const char* call, const char* way, LONG* n, T* bytes)
{
    return Number(at, n) && Skip(at, " ") && Skip(at, call) && (*n == 1 || Skip(at, "s")) && Skip(at, TRACE_NEXT) &&
           Number(at, bytes) && Skip(at, TRACE_SUMMARY_BYTE) && (*bytes == 1 || Skip(at, "s")) && Skip(at, way);
}

static bool ReadSummary(const char* at, TraceSummary* s)
{
    if (!Number(&at, &s->socket) || !Skip(&at, TRACE_SUMMARY_OPEN) || !Ms(&at, &s->openMs, TRACE_MS) ||
        !Skip(&at, "; ") || !ReadCalls(&at, TRACE_SUMMARY_SEND, TRACE_SUMMARY_OUT, &s->sends, &s->bytesOut) ||
        !Skip(&at, "; ") || !ReadCalls(&at, TRACE_SUMMARY_READ, TRACE_SUMMARY_IN, &s->reads, &s->bytesIn) ||
        !Skip(&at, TRACE_SUMMARY_WAITED) || !Ms(&at, &s->waitedMs, TRACE_MS) || !Skip(&at, TRACE_SUMMARY_IN_ALL))
        return false;
    s->longestMs = 0;
    return !*at || (Skip(&at, TRACE_SUMMARY_LONGEST) && Ms(&at, &s->longestMs, TRACE_MS " (") &&
                    at[strlen(at) - 1] == ')');
}

static int HexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A row: its way, its offset in 4 or 8 hex digits, up to 16 bytes in hex
// (blanks after the last), their text; or the count of the bytes not shown.
static TraceLineKind ReadRow(const char* at, TraceRowRead* r)
{
    if (Skip(&at, TRACE_ROWS_CUT))
        return Number(&at, &r->notShown) && Skip(&at, TRACE_ROWS_NOT_SHOWN RAVO_KEY_TRACE_DATA_BYTES "=") &&
                       strchr(at, ')') && !strchr(at, ')')[1]
                   ? TRACE_LINE_ROWS_CUT
                   : TRACE_LINE_UNKNOWN;
    r->out = Skip(&at, TRACE_ROW_OUT);
    if (!r->out && !Skip(&at, TRACE_ROW_IN))
        return TRACE_LINE_UNKNOWN;
    int digits = 0;
    for (r->offset = 0; HexDigit(at[digits]) >= 0; digits++)
        r->offset = r->offset * 16 + HexDigit(at[digits]);
    at += digits;
    if ((digits != 4 && digits != 8) || !Skip(&at, "  "))
        return TRACE_LINE_UNKNOWN;
    for (r->count = 0; r->count < TRACE_ROW_BYTES && HexDigit(at[0]) >= 0 && HexDigit(at[1]) >= 0 && at[2] == ' ';
         at += 3)
        r->bytes[r->count++] = (unsigned char)(HexDigit(at[0]) * 16 + HexDigit(at[1]));
    for (int blank = r->count; blank < TRACE_ROW_BYTES; blank++, at += 3)
        if (strncmp(at, "   ", 3) != 0)
            return TRACE_LINE_UNKNOWN;
    return r->count > 0 && *at == ' ' && strlen(at + 1) == (size_t)r->count ? TRACE_LINE_ROW : TRACE_LINE_UNKNOWN;
}

TraceLineKind ReadTraceLine(const char* line, TraceLineRead* r)
{
    if (!line[0])
        return r->kind = TRACE_LINE_EMPTY;
    if (strncmp(line, "    ", 4) == 0)
        return r->kind = ReadRow(line, &r->row);
    const char* at = r->body = ReadStamp(line, &r->stamp, &r->wallMs);
    if (!at)
        r->kind = strncmp(line, TRACE_STABLE_STAMP, strlen(TRACE_STABLE_STAMP)) == 0 ? TRACE_LINE_STABLE
                  : IsOlderFormat(line)                                             ? TRACE_LINE_OLDER
                                                                                    : TRACE_LINE_UNKNOWN;
    else if (Skip(&at, TRACE_HEADER))
        r->kind = strstr(at, TRACE_THROUGH) ? TRACE_LINE_HEADER : TRACE_LINE_UNKNOWN;
    else if (Skip(&at, TRACE_STOPPED))
        r->kind = TRACE_LINE_STOPPED;
    else if (Skip(&at, TRACE_SUMMARY))
        r->kind = ReadSummary(at, &r->summary) ? TRACE_LINE_SUMMARY : TRACE_LINE_UNKNOWN;
    else if (Skip(&at, TRACE_START))
        r->kind = ReadCall(at, false, &r->call) ? TRACE_LINE_START : TRACE_LINE_UNKNOWN;
    else {
        bool hadStart = Skip(&at, TRACE_END);
        r->kind = ReadCall(at, true, &r->call) ? TRACE_LINE_END : TRACE_LINE_UNKNOWN;
        r->call.hadStart = hadStart;
    }
    return r->kind;
}
