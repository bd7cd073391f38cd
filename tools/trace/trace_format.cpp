// Pieces of a trace line: times, durations and error codes with their names.
// wsprintfA has no floating point, and 64-bit division would need libgcc's
// helpers, so times are split into whole and thousandths in double.
#include "trace.h"
#include "winsock_errors.h"

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

// The stage offsets run in steps of 150: NET_ERR_STARTUP (or, for the
// data calls, NET_ERR_SELECT) 150, NET_ERR_SERVICE 300, and so on.
enum { STAGE_STEP = 150 };
static const char* const OPEN_STAGES[] = {"STARTUP", "SERVICE", "HOST", "SOCKET", "NONBLOCK", "SOCKOPT"};

void AppendCode(TraceLine* line, LONG code, CodeSource from)
{
    AppendText(line, " code %ld", code);
    // A bare error first: connect, bind, send, recv and closesocket add no
    // offset, and no bare error is also a staged one of the same call.
    int stages = from == FROM_OPEN ? 6 : from == FROM_DATA_CALL ? 1 : 0;
    for (int stage = 0; stage <= stages; stage++) {
        const char* name = WinsockErrorName(code - stage * STAGE_STEP);
        if (!name)
            continue;
        if (stage == 0)
            AppendText(line, " %s", name);
        else
            AppendText(line, " NET_ERR_%s+%s", from == FROM_OPEN ? OPEN_STAGES[stage - 1] : "SELECT", name);
        return;
    }
}
