// The WinSock error numbers the module can report, with their names, their
// meanings in an administrator's words and the calls that usually report
// them. One table for the probe's explanations and the tracing drop-in's
// lines. Plain data and one look-up: it needs no C runtime.
#pragma once
#include <windows.h>

// The explanations are the probe's: it is built with RAVO_EXPLANATIONS. The
// tracing drop-in, built without, carries names only: EXPLAINED(texts), the
// last of a row, stands for the texts or for nothing.
#ifdef RAVO_EXPLANATIONS
#define EXPLAINED(...) __VA_ARGS__,
#else
#define EXPLAINED(...)
#endif

// The calls that can report an error, as bits: which errors each call
// usually gives decides which reading of a number comes first.
enum {
    AT_STARTUP = 1 << 0,
    AT_SELECT = 1 << 1,
    AT_SERVICE = 1 << 2,
    AT_HOST = 1 << 3,
    AT_SOCKET = 1 << 4,
    AT_NONBLOCK = 1 << 5,
    AT_SOCKOPT = 1 << 6,
    AT_CONNECT = 1 << 7,
    AT_BIND = 1 << 8,
    AT_SEND = 1 << 9,
    AT_RECV = 1 << 10,
    AT_CLOSE = 1 << 11,
    AT_ANY_CALL = AT_SELECT | AT_SERVICE | AT_HOST | AT_SOCKET | AT_NONBLOCK | AT_SOCKOPT | AT_CONNECT |
                  AT_BIND | AT_SEND | AT_RECV | AT_CLOSE,
    AT_LOOKUP = AT_SERVICE | AT_HOST,
    AT_DATA = AT_SEND | AT_RECV,
};

struct WinsockError {
    LONG code;
    const char* name;
    int usualAt;  // the calls that usually report it
#ifdef RAVO_EXPLANATIONS
    const char* meaning;
#endif
};

// The table's entry for a WinSock error number, or NULL.
const WinsockError* FindWinsockError(LONG code);
// The symbolic name of a WinSock error ("WSAECONNREFUSED"), or NULL.
const char* WinsockErrorName(LONG error);
