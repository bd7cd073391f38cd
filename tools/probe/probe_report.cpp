// ravoprobe report TRACE [--html FILE | --pcap FILE]: a trace of
// ravotrace.dll summed up per process and per connection, or rebuilt as a
// capture, by the report library (tools/report).
#include "probe.h"  // first: it brings winsock2.h before windows.h
#include "capture.h"
#include "probe_version.h"
#include "report.h"

int CommandReport(const ProbeOptions* o)
{
    if (o->htmlPath && o->pcapPath) {
        fprintf(stderr, "ravoprobe report: --html and --pcap are two reports: ask for one at a time\n");
        return PROBE_USAGE;
    }
    // Much output: buffered, written at the end (main leaves it unbuffered).
    setvbuf(stdout, NULL, _IOFBF, 1 << 16);
    if (o->pcapPath)
        return WriteTraceCaptureFile(o->argv[0], o->pcapPath, "ravoprobe " RAVOPROBE_VERSION) ? PROBE_OK
                                                                                             : PROBE_FAILED;
    return ReportTraceFile(o->argv[0], o->htmlPath) ? PROBE_OK : PROBE_FAILED;
}
