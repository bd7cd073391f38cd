// What a call's lines tell beyond its result: the stamps as the trace wrote
// them, whether the server ended the connection or the call never ended,
// and for how long such a call is known to have waited.
#include "report.h"
#include <string.h>

CallTrouble TroubleOf(const TracedCall& c)
{
    const TraceCallRead& r = c.read;
    bool dataCall = r.kind == RAVO_INDEX(_netsend) || r.kind == RAVO_INDEX(_netread);
    if (c.neverEnded)
        return TROUBLE_HANG;
    if (dataCall && r.code == WSAECONNRESET)
        return TROUBLE_RESET;
    if (r.code)
        return TROUBLE_ERROR;
    // The drop-in's "= 0 (the server closed the connection)"; Wine 8 also
    // reads a reset so (Wine 10 reports 10054).
    return r.kind == RAVO_INDEX(_netread) && r.result == 0 ? TROUBLE_CLOSED : TROUBLE_NONE;
}

const char* TroubleName(CallTrouble trouble)
{
    switch (trouble) {
    case TROUBLE_ERROR: return "error";
    case TROUBLE_CLOSED: return "closed by the server";
    case TROUBLE_RESET: return "reset by the server";
    case TROUBLE_HANG: return "never ended";
    default: return "";
    }
}

// A stamp is "YYYY-MM-DD hh:mm:ss.mmm" up to the process id.
std::string StampText(const char* line, bool withDate)
{
    const char* clock = strchr(line, ' ') + 1;
    const char* pid = strstr(line, TRACE_PID);
    return withDate ? std::string(line, pid - line) : std::string(clock, pid - clock);
}

std::string StartStamp(const TracedCall& c)
{
    if (c.startLine)
        return StampText(c.startLine, false);
    return c.read.hadStart ? ClockText(c.startMs, false) : StampText(c.endLine, false);
}

std::string EndStamp(const TracedCall& c)
{
    return c.endLine ? StampText(c.endLine, false) : "";
}

bool WaitedAtLeast(const TracedCall& c)
{
    return c.until == UNTIL_TRACE_END || c.until == UNTIL_STOPPED;
}

std::string WaitedText(const TracedCall& c)
{
    std::string at = StampText(c.untilLine, false), by;
    switch (c.until) {
    case UNTIL_TRACE_END: by = "still waiting at " + at + ", the trace's last line"; break;
    case UNTIL_STOPPED: by = "still waiting at " + at + ", when tracing stopped"; break;
    case UNTIL_PID_REUSED: by = "over by " + at + ", when a new process took its process id"; break;
    case UNTIL_OUTER_END: by = "left behind at " + at + ", when the call it was made within ended"; break;
    }
    std::string span = c.durationMs < 1000 ? Format("%.0f ms", c.durationMs) : Format("%.1f s", c.durationMs / 1000);
    return by + (WaitedAtLeast(c) ? ": at least " : ": at most ") + span;
}
