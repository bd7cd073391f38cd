// Pieces of a trace line: times, durations and error codes with their names.
// wsprintfA has no floating point, and 64-bit division would need libgcc's
// helpers, so times are split into whole and thousandths in double.
#include "trace.h"

void AppendMs(TraceLine* line, LONGLONG ticks)
{
    double ms = (double)ticks * dropIn.msPerTick;
    if (ms < 0)
        ms = 0;
    LONG whole = (LONG)ms;
    LONG thousandths = (LONG)((ms - (double)whole) * 1000.0);
    AppendText(line, "%ld.%03ld", whole, thousandths);
}

void AppendDuration(TraceLine* line, LONGLONG ticks)
{
    if (traceSettings.stable)
        AppendText(line, "D ms");
    else {
        AppendMs(line, ticks);
        AppendText(line, " ms");
    }
}

void AppendClock(TraceLine* line, const SYSTEMTIME* t)
{
    if (traceSettings.stable)
        AppendText(line, "hh:mm:ss.mmm");
    else
        AppendText(line, "%02u:%02u:%02u.%03u", t->wHour, t->wMinute, t->wSecond, t->wMilliseconds);
}

const char* SocketFormat(void)
{
    return traceSettings.stable ? "S" : "%ld";
}

// The most likely reading of the code, as ravoprobe explain lists it first.
void AppendCode(TraceLine* line, LONG code, CodeSource from)
{
    AppendText(line, " code %ld", code);
    CodeReading readings[MAX_READINGS];
    if (ReadCode(code, from, readings) == 0)
        return;
    const CodeReading* r = &readings[0];
    if (r->stage)
        AppendText(line, " %s+%s", r->stage->offsetName, r->error->name);
    else
        AppendText(line, " %s", r->error->name);
}
