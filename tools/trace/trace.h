// ravotrace.dll: a drop-in that stands between a host and ravowsok.dll and
// writes one line per call to a trace file. Declarations shared by its files.
#pragma once
#include <winsock.h>
#include <windows.h>

#include "exports.h"
#include "stages.h"
#include "ravowsok.h"

// --- trace_entry.cpp: the drop-in's own state and first use ----------------
struct DropIn {
    HINSTANCE self;
    LONGLONG loadedAt;  // performance counter when the drop-in was attached
    double msPerTick;
    DWORD frameSlot;    // TLS slot of the thread's innermost traced call
    CRITICAL_SECTION startLock;
    volatile LONG started;  // the real module is loaded and the trace open
};
extern DropIn dropIn;

// The real module's exports, or stand-ins that fail when it could not be
// used. Loads the module, reads the settings and opens the trace file on the
// first call of any export (never in the entry routine: loader lock), once,
// whichever thread comes first.
const RavoExports* UseRealModule(void);
// Performance counter ticks since the drop-in was loaded.
LONGLONG NowTicks(void);

// --- real_module.cpp: ravowsok-real.dll from the drop-in's own folder -------
// Loads it by full path and resolves its nine exports; on failure the
// stand-ins take their place and why is kept for the trace.
void LoadRealModule(void);
// Frees the real module (the drop-in is being unloaded).
void FreeRealModule(void);
extern const RavoExports* realModule;
extern char realModulePath[MAX_PATH];
extern char realModuleProblem[160];  // empty when the module is in use

// --- trace_file.cpp: the trace file ----------------------------------------
// Reads [Trace] of the profile and opens (or creates) the file to append.
void OpenTraceFile(void);
void CloseTraceFile(void);
// True when calls are traced: a File is set and could be opened.
bool TracingOn(void);

// One line of the trace, formatted piece by piece.
enum { LINE_LIMIT = 1024 };
struct TraceLine {
    char text[2 * LINE_LIMIT];  // wvsprintfA writes up to 1,024 characters per piece
    int length;
};
void StartLine(TraceLine* line, LONGLONG start, const char* call);
void AppendText(TraceLine* line, const char* format, ...);
// Writes the line (one write) and, with Data=1, a dump of count bytes.
void WriteLine(TraceLine* line, const char* dumpTitle, const void* bytes, LONG count);

// --- trace_format.cpp: pieces of a line ------------------------------------
// "M.MMM": ticks as milliseconds with three decimals.
void AppendMs(TraceLine* line, LONGLONG ticks);
// from: the export that reported the code (CodeSource, stages.h).
// " code N NAME": the WinSock name, with the stage's offset named too.
void AppendCode(TraceLine* line, LONG code, CodeSource from);

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
// ", wait: ..." for the line.
void AppendWaitShape(TraceLine* line, const WaitWatch* w);
