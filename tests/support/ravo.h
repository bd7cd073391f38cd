// Loading the built module fresh for a test case and calling its exports
// through __stdcall pointers, as a host does.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include "buildpath.h"
#include "exports.h"

struct Ravo : RavoExports {
    HMODULE dll;     // what the host loaded
    HMODULE module;  // the module itself: dll, or the one behind the drop-in
};

// Loads build/ravowsok.dll anew (its state starts zeroed), resolves every
// export by name and intercepts the module's imports (see intercept.h).
// Returns false with a message when the module or an export is missing.
bool LoadRavo(Ravo* r);

// The trace run (CTest label "trace", RAVO_VIA_TRACE=1): LoadRavo loads the
// drop-in build/viatrace/ravowsok.dll in front of the module, and the profile
// keeps tracing on (Data=1) into the program's path + ".trace".
bool ViaTrace(void);
// Through the drop-in or not from now on, tracing into traceFile (NULL: the
// default); returns whether it was.
bool UseTrace(bool on, const char* traceFile);
const char* RavoPath(void);  // the module, or the drop-in

// Unloads the module completely so that the next LoadRavo starts afresh.
void UnloadRavo(Ravo* r);

// The host's connection record as the tests see it: 256 bytes whose five
// module fields sit at the offsets of ravowsok.h.
enum { CONN_SIZE = 256 };
struct TestConn {
    unsigned char bytes[CONN_SIZE];
};

// Fills the record with a pattern and sets the five fields to 0.
void InitConn(TestConn* conn);
LONG ConnField(const TestConn* conn, int offset);
void SetConnField(TestConn* conn, int offset, LONG value);
void SetConnCallback(TestConn* conn, RavoWaitCallback callback);
// True when every byte outside the five fields still holds the pattern.
bool ConnPatternKept(const TestConn* conn);

// Writes "quorvane.ini" in the Windows directory with the given lines of
// section [Environment] (NULL: remove the file; in the trace run, keep only
// section [Trace]). Returns its path.
const char* WriteProfile(const char* environmentLines);
void RemoveProfile(void);
