// A bound on the module's waits, which have no time limit of their own: a
// wait that runs past WAIT_LIMIT_MS has the poll it makes then failed with
// WSAETIMEDOUT, so the call returns and the case reports the overrun instead
// of hanging on a peer that never answers.
#pragma once
#include <winsock2.h>
#include <windows.h>

enum { WAIT_LIMIT_MS = 10000 };

struct WaitLimit {
    DWORD started;  // when the armed call began
    bool armed;
    bool exceeded;  // a call ran over since the record was zeroed
};

// Arms the limit for the _netsend or _netread about to be made; disarm it
// once the call has returned.
void ArmWaitLimit(WaitLimit* w);
void DisarmWaitLimit(WaitLimit* w);

// For the call observer (intercept.h), with every call's name: fails the
// select of an armed call that has run over, with a failed check. Returns
// true when it did.
bool EnforceWaitLimit(WaitLimit* w, const char* name);
