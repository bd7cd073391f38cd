// ravotrace.dll: a drop-in that stands between a host and ravowsok.dll and
// writes a line when each call that can block begins, and one when each call
// ends, to a trace file. Declarations shared by its files.
#pragma once
#include <winsock.h>
#include <windows.h>

#include "exports.h"
#include "trace_grammar.h"
#include "trace_settings.h"
#include "ravowsok.h"

// --- trace_entry.cpp: the drop-in's own state and first use ----------------
struct DropIn {
    HINSTANCE self;
    LONGLONG loadedAt;  // performance counter when the drop-in was attached
    double msPerTick;
    DWORD processId;
    DWORD frameSlot;    // TLS slot of the thread's innermost traced call
    CRITICAL_SECTION startLock;
    CRITICAL_SECTION summaryLock;  // the connections' summaries
    volatile LONG started;  // the real module is loaded and the trace open
};
extern DropIn dropIn;

// The real module's exports, or stand-ins that fail when it could not be
// used. Loads the module, reads the settings and opens the trace file on the
// first call of any export (never in the entry routine: loader lock), once,
// whichever thread comes first.
const RavoExports* UseRealModule(void);
// Performance counter ticks since the drop-in was loaded, and ticks as
// milliseconds.
LONGLONG NowTicks(void);
double TicksMs(LONGLONG ticks);

// --- real_module.cpp: ravowsok-real.dll from the drop-in's own folder -------
// Loads it by full path and resolves its exports; on failure the
// stand-ins take their place and why is kept for the trace.
void LoadRealModule(void);
// Frees the real module (the drop-in is being unloaded).
void FreeRealModule(void);
extern const RavoExports* realModule;
extern char realModulePath[MAX_PATH];
extern char realModuleProblem[160];  // empty when the module is in use

// --- trace_file.cpp: the trace file and its settings -------------------------
extern TraceSettings traceSettings;
// Reads [Trace] of the profile and opens (or creates) the file to append.
void OpenTraceFile(void);
void CloseTraceFile(void);
// True while calls are traced: a File is set, could be opened, and has
// neither failed a write nor reached MaxSizeMB.
bool TracingOn(void);

// Begins a line (trace_grammar.h) with its stamp: wall-clock time, process,
// thread and milliseconds since load, all of now; the local time goes to
// now too when it is not NULL.
void StartLine(TraceLine* line, bool stable, SYSTEMTIME* now = NULL);
// The stamp alone, for a second line in the same buffer.
void AppendNowStamp(TraceLine* line, bool stable, SYSTEMTIME* now = NULL);
// Writes the line (CR LF added) and, when bytes is not NULL and Data=1, the
// rows of count bytes that went out or came in, in one write.
void WriteLine(TraceLine* line, bool stable, bool out = false, const void* bytes = NULL, LONG count = 0);

// --- trace_peer.cpp: where _netopen went, from WinSock at run time -----------
// ", connected to A.B.C.D:P from A.B.C.D:P" (the peer, then the host's own
// end; in bind mode "bound to A.B.C.D:P") for an open socket; for a
// failed open ", to A.B.C.D:P" or ", to port P", as far as is known without
// a look-up of the host name.
void AppendWhere(TraceLine* line, LONG socket, const char* hostName, const char* serviceName, long mode, bool stable);

// --- trace_summary.cpp: what each connection did -----------------------------
// A socket that _netopen returned starts a summary; each send and read adds
// to it; _netclose adds it as a second line to its own and forgets the
// socket.
void BeginSummary(LONG socket, LONGLONG openedAt);
void AddToSummary(LONG socket, bool sending, LONG result, LONGLONG took, const SYSTEMTIME* startedAt);
void AppendSocketSummary(TraceLine* line, LONG socket, bool stable);

// --- trace_wait.cpp: watching the wait of a send or read --------------------
// One traced _netsend or _netread on this thread. While it runs, the
// drop-in's callback stands in the host's record (when the host has one of
// its own) and counts what passes through it.
struct WaitWatch {
    WaitWatch* outer;  // the call this one is nested in, on this thread
    volatile LONG* record;
    RavoWaitCallback hostCallback;  // 0: the host has none, its field is left alone
    bool watching;          // our callback stands in the record
    bool replacedByHost;    // the host put another value in the field during the call
    LONG calls[3];          // by phase: end, first, again
    LONG leftToModule;      // turns the host's callback answered 0
    LONG endAnswer;
    LONG interruptPending;  // interruptRequest was non-zero at the last look
    bool urgentTaken;       // the module took the request for the urgent byte
};
void BeginWatch(WaitWatch* w, void* record);
void EndWatch(WaitWatch* w);
// ", wait: ..." for the line; nothing when the socket was ready at once or
// the wait could not be watched.
void AppendWaitShape(TraceLine* line, const WaitWatch* w, bool stable);
