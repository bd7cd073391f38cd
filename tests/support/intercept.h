// Interception of the module's imports by patching its import address
// table. Every patched call is recorded in order with up to three of its
// arguments and its result; a call can be made to fail (a result and a
// WinSock error) or be served by a test's own routine; otherwise it goes to
// the real function. MessageBoxA is always intercepted and never shows a box.
#pragma once
#include <winsock2.h>
#include <windows.h>

struct CallRecord {
    const char* name;  // the import's name, e.g. "select"
    LONG arg[3];       // the first arguments that matter for the call
    LONG result;
};

// Patches every import of dll that the tests know; keeps the real addresses.
void InterceptModule(HMODULE dll);
// Clears the log, the injected failures, the overrides and the observer.
void ResetIntercepts(void);

// The call log since the last ClearCallLog (or ResetIntercepts).
void ClearCallLog(void);
int CallLogSize(void);
const CallRecord* CallAt(int index);
int CallCount(const char* name);
// Index in the log of the nth (1-based) call of name, or -1.
int CallIndex(const char* name, int nth);
// The value WSAGetLastError gave the module at its last logged call, or -1.
LONG LastErrorRead(void);
// The names of the calls logged, separated by spaces (for messages).
const char* CallLogText(void);
// Stop logging when false (long soaks); counters still run.
void SetCallLogging(bool on);

// Makes the nth (1-based, counted from now) call of name return result with
// the WinSock error set to wsaError, without calling the real function.
// nth 0 fails every call from now on.
void InjectFailure(const char* name, int nth, LONG result, int wsaError);

// Serves every later call of name with a routine of the same signature.
void OverrideCall(const char* name, void* routine);
// The real function behind an import (for overrides that forward).
void* RealFunction(const char* name);

// Called before every intercepted call is carried out (on the calling thread).
typedef void (*CallObserver)(const char* name, const LONG* args);
void SetCallObserver(CallObserver observer);

// What the intercepted MessageBoxA was shown.
struct MessageBoxSeen {
    int count;
    HWND owner;
    char text[256];
    char caption[64];
    UINT style;
};
extern MessageBoxSeen messageBoxSeen;
