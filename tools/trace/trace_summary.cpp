// What each connection did, summed up on _netclose's line: how long it was
// open, the sends and reads with their bytes, and the time spent in them.
#include "trace.h"

// Connections open at once in one process that get a summary; past that a
// connection is traced as usual, without one.
enum { SUMMARY_SLOTS = 64 };

struct Summary {
    LONG socket;  // 0: a free slot (_netopen never returns socket 0 here)
    LONGLONG openedAt;
    LONG sends, reads;
    LONGLONG bytesOut, bytesIn;
    LONGLONG waited, longest;  // ticks spent in sends and reads
    bool longestSending;
    SYSTEMTIME longestAt;
};

static Summary summaries[SUMMARY_SLOTS];
// Calls on several threads may end at once: dropIn.summaryLock guards the
// slots.
static void Lock(void)
{
    EnterCriticalSection(&dropIn.summaryLock);
}

static void Unlock(void)
{
    LeaveCriticalSection(&dropIn.summaryLock);
}

static Summary* Find(LONG socket)
{
    for (int i = 0; i < SUMMARY_SLOTS; i++)
        if (summaries[i].socket == socket)
            return &summaries[i];
    return NULL;
}

void BeginSummary(LONG socket, LONGLONG openedAt)
{
    if (socket == 0 || socket == -1)
        return;
    Lock();
    Summary* s = Find(socket);  // a socket closed behind the drop-in's back
    if (!s)
        s = Find(0);
    if (s) {
        ZeroMemory(s, sizeof *s);
        s->socket = socket;
        s->openedAt = openedAt;
    }
    Unlock();
}

void AddToSummary(LONG socket, bool sending, LONG result, LONGLONG took, const SYSTEMTIME* startedAt)
{
    if (socket == 0)
        return;
    Lock();
    Summary* s = Find(socket);
    if (s) {
        if (sending)
            s->sends++;
        else
            s->reads++;
        if (result > 0)
            *(sending ? &s->bytesOut : &s->bytesIn) += result;
        s->waited += took;
        if (took >= s->longest) {
            s->longest = took;
            s->longestSending = sending;
            s->longestAt = *startedAt;
        }
    }
    Unlock();
}

// A count of 0 or more, of any size: wsprintfA has no 64-bit numbers and
// 64-bit division needs libgcc, so it goes through double in two halves.
static void AppendBig(TraceLine* line, LONGLONG n)
{
    double v = (double)n;
    LONG high = (LONG)(v / 1e9);
    LONG low = (LONG)(v - (double)high * 1e9);
    if (high)
        AppendText(line, "%ld%09ld", high, low);
    else
        AppendText(line, "%ld", low);
}

// "N sends, B bytes out": a count in the singular or plural, and its bytes.
static void AppendCalls(TraceLine* line, LONG n, const char* call, LONGLONG bytes, const char* way)
{
    AppendText(line, "%ld %s%s, ", n, call, n == 1 ? "" : "s");
    AppendBig(line, bytes);
    AppendText(line, " byte%s %s", bytes == 1 ? "" : "s", way);
}

void AppendSummary(TraceLine* line, LONG socket)
{
    Lock();
    Summary* found = socket ? Find(socket) : NULL;
    Summary s;
    if (found) {
        s = *found;
        found->socket = 0;
    }
    Unlock();
    if (!found)
        return;
    AppendText(line, "\r\n");
    AppendStamp(line);
    AppendText(line, "summary of socket ");
    AppendText(line, SocketFormat(), socket);
    AppendText(line, ": open ");
    AppendDuration(line, NowTicks() - s.openedAt);
    AppendText(line, "; ");
    AppendCalls(line, s.sends, "send", s.bytesOut, "out");
    AppendText(line, "; ");
    AppendCalls(line, s.reads, "read", s.bytesIn, "in");
    AppendText(line, "; waited ");
    AppendDuration(line, s.waited);
    AppendText(line, " in all");
    if (s.sends + s.reads) {
        AppendText(line, ", longest ");
        AppendDuration(line, s.longest);
        AppendText(line, " (%s at ", s.longestSending ? RAVO_NAME(_netsend) : RAVO_NAME(_netread));
        AppendClock(line, &s.longestAt);
        AppendText(line, ")");
    }
}
