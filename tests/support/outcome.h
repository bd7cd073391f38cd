// One _netsend or _netread of a session's socket as the host makes it, with
// the session's own record, and what the call gave back. Each wait is
// bounded by the session's wait limit.
#pragma once
#include "session.h"

struct CallOutcome {
    LONG result;
    LONG error;  // the error code the call wrote; JUNK when it wrote none
};

CallOutcome SendOnSession(Session* t, const char* data, LONG length);
CallOutcome ReadOnSession(Session* t, char* buffer, LONG size);
