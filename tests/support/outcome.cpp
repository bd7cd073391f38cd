// The data calls behind outcome.h.
#include "outcome.h"

CallOutcome SendOnSession(Session* t, const char* data, LONG length)
{
    CallOutcome o = {0, JUNK};
    ArmWaitLimit(&t->limit);
    o.result = t->r._netsend(t->s, data, length, &o.error, &t->conn);
    DisarmWaitLimit(&t->limit);
    return o;
}

CallOutcome ReadOnSession(Session* t, char* buffer, LONG size)
{
    CallOutcome o = {0, JUNK};
    ArmWaitLimit(&t->limit);
    o.result = t->r._netread(t->s, buffer, size, &o.error, &t->conn);
    DisarmWaitLimit(&t->limit);
    return o;
}
