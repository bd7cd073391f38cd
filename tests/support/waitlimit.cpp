// The wait limit behind waitlimit.h.
#include "waitlimit.h"
#include "check.h"
#include "intercept.h"
#include <string.h>

void ArmWaitLimit(WaitLimit* w)
{
    w->started = GetTickCount();
    w->armed = true;
}

void DisarmWaitLimit(WaitLimit* w)
{
    w->armed = false;
}

bool EnforceWaitLimit(WaitLimit* w, const char* name)
{
    if (!w->armed || strcmp(name, "select") != 0 || GetTickCount() - w->started <= WAIT_LIMIT_MS)
        return false;
    w->armed = false;
    w->exceeded = true;
    CHECK(false, "a wait lasted over %d ms; its poll was failed to end it", WAIT_LIMIT_MS);
    // The observer runs before the call is carried out: this very poll fails.
    InjectFailure("select", 1, SOCKET_ERROR, WSAETIMEDOUT);
    return true;
}
