// The readiness wait that runs before every send and receive.
#pragma once
#include "../transport/module.h"

// A WM_QUIT that the pump idle routine took off the queue during the wait in
// progress. The queue hands a pending quit out before timers, paints and
// input, so posting it back at once would make every later turn take it
// again and handle nothing else; the wait posts it back once, as it ends.
struct HeldQuit {
    LONG taken;
    int exitCode;  // of the latest quit taken
};
extern HeldQuit heldQuit;

// Polls once for 10 microseconds. Returns 1 ready, 0 not ready, or the
// socket library's error + NET_ERR_SELECT when select fails.
LONG PollSocket(SOCKET s, LONG direction);

// Sends the urgent byte "B". Returns 1, or the socket library's error.
LONG SendInterrupt(SOCKET s);

// Waits until s is ready in the direction given, running idle turns between
// polls. Returns 1 when ready and the host's callback never ran, the poll's
// error code when the poll failed and the callback never ran, otherwise the
// callback's value for WAIT_PHASE_END. Callers treat a result above 20 as
// the operation's error code. A quit the pump took during the wait is posted
// again, once, before it returns.
LONG WaitForSocket(SOCKET s, LONG direction, ConnBlock* conn);
