// ravoprobe report TRACE [--html FILE]: a trace of ravotrace.dll summed up
// per process and per connection by the report library (tools/report).
#include "probe.h"
#include "report.h"

int CommandReport(const ProbeOptions* o)
{
    // Much output: buffered, written at the end (main leaves it unbuffered).
    setvbuf(stdout, NULL, _IOFBF, 1 << 16);
    return ReportTraceFile(o->argv[0], o->htmlPath) ? PROBE_OK : PROBE_FAILED;
}
