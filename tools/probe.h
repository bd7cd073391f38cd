// ravoprobe: an administrator's probe of ravowsok.dll. It loads the module
// as a host does and calls only its exports; shared declarations of its
// commands.
#pragma once
#include <winsock2.h>
#include <windows.h>

// Exit statuses of every command.
enum {
    PROBE_OK = 0,
    PROBE_FAILED = 1,     // the network operation failed (explained)
    PROBE_USAGE = 2,      // bad command line
    PROBE_NO_MODULE = 3,  // ravowsok.dll or one of its exports missing
};

// The command line after the command's name, parsed once.
struct ProbeOptions {
    const char* dllPath;    // --dll PATH, or NULL: beside ravoprobe.exe
    DWORD timeoutMs;        // --timeout MS: longest wait for the server per step
    LONG interruptAfterMs;  // --interrupt-after MS, or -1
    bool bind;              // --bind: _netopen mode 2
    DWORD seconds;          // echo-server --seconds N
    bool once;              // echo-server --once
    DWORD delayMs;          // echo-server --delay MS
    int argc;               // the operands left (HOST, SERVICE, TEXT...)
    char** argv;
};

int CommandSettings(const ProbeOptions* o);
int CommandExplain(const ProbeOptions* o);
int CommandOpen(const ProbeOptions* o);
int CommandSend(const ProbeOptions* o);
int CommandEchoServer(const ProbeOptions* o);

// Which export reported a code; narrows the readings of ExplainCode.
enum {
    FROM_OPEN = 1,
    FROM_SEND = 2,
    FROM_READ = 4,
    FROM_CLOSE = 8,  // the result of _netclose
    FROM_ANY = FROM_OPEN | FROM_SEND | FROM_READ | FROM_CLOSE,
};

// Prints every reading of a code that one of the exports in `from`
// reported, most likely first, each line starting with indent. Returns the
// number of readings that name a call of the module (0: none does).
int ExplainCode(LONG code, int from, const char* indent);
// The symbolic name of a WinSock error, or NULL.
const char* WinsockErrorName(LONG error);

// The value ravoprobe's own wait callback returns for the end of a wait that
// it gave up on: WSAETIMEDOUT, so the module reports it as the error code.
enum { PROBE_TIMEOUT_END = 10060 };

// Milliseconds since the first call, from the performance counter.
double NowMs(void);
// Prints bytes between quotes, with C escapes for what is not printable.
void PrintQuoted(const char* bytes, int length);
