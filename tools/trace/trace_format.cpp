// Pieces of a trace line: milliseconds and error codes with their names.
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
