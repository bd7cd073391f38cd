// Loading the built module fresh for a test case and calling its exports
// through __stdcall pointers, as a host does.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include "buildpath.h"
#include "exports.h"

struct Ravo : RavoExports {
    HMODULE dll;
};

// Loads build/ravowsok.dll anew (its state starts zeroed), resolves every
// export by name and intercepts its imports (see intercept.h). Returns false
// with a message when the module or an export is missing.
bool LoadRavo(Ravo* r);

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
// section [Environment] (NULL: remove the file). Returns its path.
const char* WriteProfile(const char* environmentLines);
void RemoveProfile(void);
