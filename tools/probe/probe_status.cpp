// ravoprobe's exit statuses for what the module reported: a name that is
// wrong and a server that never answered apart from the other failures.
#include "probe.h"

bool IsNameNotFound(LONG error)
{
    return error >= WSAHOST_NOT_FOUND && error <= WSANO_DATA;
}

int OpenFailureStatus(LONG code)
{
    if (IsNameNotFound(code - NET_ERR_SERVICE) || IsNameNotFound(code - NET_ERR_HOST))
        return PROBE_NO_NAME;
    // The socket library's own connect time-out: nothing answered the address.
    if (code == WSAETIMEDOUT)
        return PROBE_NO_ANSWER;
    return PROBE_FAILED;
}
