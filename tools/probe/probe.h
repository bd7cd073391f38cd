// ravoprobe: an administrator's probe of ravowsok.dll. It loads the module
// as a host does and calls only its exports; shared declarations of its
// commands.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include "exit_status.h"
#include "exports.h"
#include "percentiles.h"
#include "ravowsok.h"
#include "stages.h"

// The largest --count: the timing buffers hold this many times.
enum { MAX_COUNT = 100000 };

// The command line after the command's name, parsed once.
struct ProbeOptions {
    const char* dllPath;    // --dll PATH, or NULL: beside ravoprobe.exe
    DWORD timeoutMs;        // --timeout MS: longest wait for the server per step
    LONG interruptAfterMs;  // --interrupt-after MS, or -1
    bool bind;              // --bind: _netopen mode 2
    DWORD count;            // --count N: connects (open) or round trips (send)
    DWORD intervalMs;       // --interval MS between them
    bool quiet;             // --quiet: nothing printed, the exit status answers
    DWORD seconds;          // echo-server --seconds N
    bool once;              // echo-server --once
    DWORD delayMs;          // echo-server --delay MS
    const char* htmlPath;   // report --html FILE, or NULL
    const char* pcapPath;   // report --pcap FILE, or NULL
    int argc;               // the operands left (HOST, SERVICE, TEXT...)
    char** argv;
};

int CommandSettings(const ProbeOptions* o);
int CommandExplain(const ProbeOptions* o);
int CommandOpen(const ProbeOptions* o);
int CommandSend(const ProbeOptions* o);
int CommandEchoServer(const ProbeOptions* o);
int CommandVersion(const ProbeOptions* o);
int CommandServices(const ProbeOptions* o);
int CommandReport(const ProbeOptions* o);
// settings: the [Trace] section of the tracing drop-in (probe_trace.cpp).
// False when tracing is on but the trace file cannot be opened.
bool PrintTraceSettings(void);

// With FROM_SEND or FROM_READ (stages.h): the code is known not to be the
// host's callback value (see IsCallbackEndValue), so that reading is left out.
enum { NOT_FROM_CALLBACK = FROM_ANY + 1 };

// Prints every reading of a code that one of the exports in `from`
// reported, most likely first, each line starting with indent. Returns the
// number of readings that name a call of the module (0: none does).
int ExplainCode(LONG code, int from, const char* indent);

// The value ravoprobe's own wait callback returns for the end of a wait that
// it gave up on: WSAETIMEDOUT, so the module reports it as the error code.
enum { PROBE_TIMEOUT_END = WSAETIMEDOUT };

// True for the WinSock errors of a look-up that found no such name (or no
// name server answered): WSAHOST_NOT_FOUND to WSANO_DATA.
bool IsNameNotFound(LONG error);
// The exit status of a failed _netopen: PROBE_NO_NAME when the service or
// host look-up found no such name, PROBE_NO_ANSWER when the connect timed
// out, PROBE_FAILED otherwise.
int OpenFailureStatus(LONG code);

// Loads the module named by --dll, or ravowsok.dll beside ravoprobe.exe,
// and resolves its exports. Prints why when it cannot (once, not per
// export) and returns NULL; path gets the full path of what was loaded.
HMODULE LoadProbeModule(const ProbeOptions* o, RavoExports* x, char* path, int pathSize);
// Why LoadLibrary failed, in words, for the errors administrators meet.
const char* LoadErrorMeaning(DWORD error);
// Before the first _netopen: one warning line when mcBlockMode 3's library
// or routine does not load, so the module will fall back to pump mode.
void WarnOfPumpFallback(void);
// The path of the services file the socket library reads for service names.
void ServicesFilePath(char* path, int size);
// When service is a port number, which no look-up finds: a line that says
// how to name it (services, and open and send when the look-up failed).
void HintPortNumber(const char* service, const char* indent);

// The watchdog: a thread that closes the module's settings message box and,
// as a last resort, ends the process with PROBE_NO_ANSWER when a call
// outlives its time-out by WATCHDOG_GRACE_MS (the probe's wait callback
// normally ends waits first; nothing can end _netopen's blocking connect).
#define WATCHDOG_GRACE_MS 2000  // a define: the help shows it as text
struct ProbeWatch {
    volatile LONG armed;
    volatile LONG deadlineMs;  // on the NowMs clock
    const char* volatile what;
    DWORD timeoutMs;
    const char* host;  // of the connection, for the last words
    const char* service;
    HWND reportedBox;  // the message box already reported
};
void StartWatchdog(ProbeWatch* w, const char* host, const char* service);
void ArmWatch(ProbeWatch* w, const char* what, DWORD timeoutMs);
void DisarmWatch(ProbeWatch* w);

// Prints "min / median / 95th percentile / max" of n times (sorts them),
// each by nearest rank (percentiles.h), so the median is the one at rank
// ceil(n / 2), never a mean.
void PrintTimeSummary(const char* what, double* ms, int n);

// A number of ravowsok.h or of this header as text, for fixed texts.
#define TEXT_OF(x) #x
#define NUMBER_TEXT(x) TEXT_OF(x)

// Milliseconds since the first call, from the performance counter.
double NowMs(void);
// Prints bytes between quotes, with C escapes for what is not printable.
void PrintQuoted(const char* bytes, int length);
