// How an error code of ravowsok.dll reads: the stages of its calls with the
// offsets ravowsok.h gives them, one decoder for the probe's explanations and
// the tracing drop-in's lines, and the rule for the host's callback value.
// No C runtime: the drop-in links it.
#pragma once
#include "winsock_errors.h"

// Which export reported a code, as bits: it narrows the readings.
enum CodeSource {
    FROM_OPEN = 1,
    FROM_SEND = 2,
    FROM_READ = 4,
    FROM_CLOSE = 8,  // the result of _netclose
    FROM_DATA_CALL = FROM_SEND | FROM_READ,
    FROM_ANY = FROM_OPEN | FROM_DATA_CALL | FROM_CLOSE,
};

// A call of the module that can fail.
struct Stage {
    int call;                // its AT_ bit (winsock_errors.h)
    int from;                // the exports that make it
    LONG offset;             // added to its WinSock error; -1: reported bare
    const char* offsetName;  // the header's name of the offset; NULL when bare
#ifdef RAVO_EXPLANATIONS
    const char* what;        // what failed (empty when bare)
    const char* where;       // the call and the export that makes it
    const char* hint;        // what an administrator can check, or NULL
#endif
};
enum { STAGE_COUNT = 12 };
extern const Stage STAGES[STAGE_COUNT];

// One way to read a code: a stage's offset plus a WinSock error, or the bare
// error of the calls that add no offset.
struct CodeReading {
    const Stage* stage;  // NULL: bare
    const WinsockError* error;
    bool usual;          // the call (or one of the bare calls) usually reports it
};
enum { MAX_READINGS = STAGE_COUNT + 1 };

// Every reading of code as a failure of a call that an export of `from`
// (CodeSource bits) makes, the usual ones first, each group in stage order
// with the bare reading last. Returns how many (at most MAX_READINGS).
int ReadCode(LONG code, int from, CodeReading* out);

// True when a code of _netsend or _netread is the host's callback's end
// value: the wait called the callback with WAIT_PHASE_END, it answered this
// code, and the code is above WAIT_RESULT_ERROR_ABOVE (a smaller answer lets
// the call go on, so the code is then the call's own).
bool IsCallbackEndValue(LONG code, bool endPhaseCalled, LONG endAnswer);
