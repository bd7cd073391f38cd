// How an error code of ravowsok.dll reads: the stages of its calls with the
// header's offsets, one decoder for the probe and the tracing drop-in, and
// the rule for the host's callback value. No C runtime: the drop-in links it.
#pragma once
#include "winsock_errors.h"

enum CodeSource {  // the exports that report codes, as bits
    FROM_OPEN = 1,
    FROM_SEND = 2,
    FROM_READ = 4,
    FROM_CLOSE = 8,  // the result of _netclose
    FROM_DATA_CALL = FROM_SEND | FROM_READ,
    FROM_ANY = FROM_OPEN | FROM_DATA_CALL | FROM_CLOSE,
};

struct Stage {
    int call;                // its AT_ bit
    int from;                // the exports that make it
    LONG offset;             // added to its WinSock error; -1: reported bare
    const char* offsetName;  // NULL when bare
#ifdef RAVO_EXPLANATIONS
    const char* what;        // what failed (empty when bare)
    const char* where;       // the call in its export
    const char* hint;        // what an administrator can check (lines), or NULL
#endif
};
enum { STAGE_COUNT = 12 };
extern const Stage STAGES[STAGE_COUNT];

struct CodeReading {
    const Stage* stage;  // NULL: bare
    const WinsockError* error;
    bool usual;          // the call usually reports the error
};
enum { MAX_READINGS = STAGE_COUNT + 1 };

// Every reading of code from the exports of `from`, most likely first: the
// usual ones, then the others, each in stage order with the bare one last.
int ReadCode(LONG code, int from, CodeReading* out);

// True when a _netsend or _netread code is the host's callback's end value:
// the wait's end call answered it, above WAIT_RESULT_ERROR_ABOVE (a smaller
// answer lets the call go on).
bool IsCallbackEndValue(LONG code, bool endPhaseCalled, LONG endAnswer);
