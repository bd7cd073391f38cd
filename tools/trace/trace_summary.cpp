// What each connection did, summed up on _netclose's line: how long it was
// open, the sends and reads with their bytes, and the time spent in them.
#include "trace.h"

// Connections open at once in one process that get a summary; past that a
// connection is traced as usual, without one.
enum { SUMMARY_SLOTS = 64 };

// The figures of the summary line, with times in ticks until it is written.
struct Summary {
    TraceSummary s;  // s.socket 0: a free slot (_netopen never returns socket 0 here)
    LONGLONG openedAt;
    LONGLONG waited, longest;  // ticks spent in sends and reads
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
        if (summaries[i].s.socket == socket)
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
        s->s.socket = socket;
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
            s->s.sends++;
        else
            s->s.reads++;
        if (result > 0)
            *(sending ? &s->s.bytesOut : &s->s.bytesIn) += result;
        s->waited += took;
        if (took >= s->longest) {
            s->longest = took;
            s->s.longestSending = sending;
            s->s.longestAt = *startedAt;
        }
    }
    Unlock();
}

void AppendSocketSummary(TraceLine* line, LONG socket, bool stable)
{
    Lock();
    Summary* found = socket ? Find(socket) : NULL;
    Summary s;
    if (found) {
        s = *found;
        found->s.socket = 0;
    }
    Unlock();
    if (!found)
        return;
    AppendText(line, "\r\n");
    AppendNowStamp(line, stable);
    s.s.openMs = TicksMs(NowTicks() - s.openedAt);
    s.s.waitedMs = TicksMs(s.waited);
    s.s.longestMs = TicksMs(s.longest);
    AppendSummary(line, &s.s, stable);
}
