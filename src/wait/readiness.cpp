// Readiness wait: short select polls with idle turns in between.
#include "readiness.h"
#include "input_hooks.h"

static const char INTERRUPT_BYTE = 'B';

HeldQuit heldQuit;

LONG PollSocket(SOCKET s, LONG direction)
{
    fd_set readSet, writeSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    fd_set* wanted = direction == NET_WAIT_READ ? &readSet : &writeSet;
    FD_SET(s, wanted);

    struct timeval pollTime = {0, 10};
    // The first argument is ignored by WinSock.
    if (select(0, &readSet, &writeSet, &exceptSet, &pollTime) == SOCKET_ERROR)
        return WSAGetLastError() + NET_ERR_SELECT;
    return FD_ISSET(s, wanted) ? 1 : 0;
}

LONG SendInterrupt(SOCKET s)
{
    // The urgent byte goes out in blocking mode; the results of the two mode
    // switches are not needed, the byte is sent either way.
    u_long nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    int sent = send(s, &INTERRUPT_BYTE, 1, MSG_OOB);
    LONG result = sent == SOCKET_ERROR ? WSAGetLastError() : sent;
    nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    return result;
}

// Finds our own exported hook procedures once per process. They are taken
// from the module's own export table, not by address, so that the hooks run
// the very entries KybdBlockProc and MouseBlockProc (ordinals 1 and 2) that
// hosts and tools resolve by name.
static void LookUpHookProcedures(void)
{
    if (moduleState.keyboardProc)
        return;
    // Going through a no-argument routine type marks the cast as intended.
    typedef void (*AnyProc)(void);
    HINSTANCE self = moduleState.moduleHandle;
    moduleState.keyboardProc = (HOOKPROC)(AnyProc)GetProcAddress(self, "KybdBlockProc");
    moduleState.mouseProc = (HOOKPROC)(AnyProc)GetProcAddress(self, "MouseBlockProc");
}

// Runs the module's own idle turn: input hooks on, then the idle routine.
static LONG RunOwnIdleTurn(ConnBlock* conn, LONG hooksInstalled)
{
    if (!hooksInstalled)
        hooksInstalled = InstallInputHooks(conn);
    moduleState.idleRoutine();
    return hooksInstalled;
}

LONG WaitForSocket(SOCKET s, LONG direction, ConnBlock* conn)
{
    LookUpHookProcedures();

    // A window procedure run by our pump may wait on another connection:
    // each wait holds, and posts back, only the quits it took itself.
    HeldQuit outerQuit = heldQuit;
    heldQuit.taken = 0;

    // Whether the hooks are in is kept as the result of the routine that last
    // put them on (1) or took them off (0), so it cannot drift from what was
    // done on turns where the callback took them off.
    LONG hooksInstalled = 0;
    LONG phase = WAIT_PHASE_FIRST;
    LONG result;
    while ((result = PollSocket(s, direction)) == 0) {
        if (conn->interruptRequest) {
            SendInterrupt(s);
            conn->interruptRequest = 0;
        }
        if (conn->waitCallback) {
            // The host's callback always runs without our hooks.
            if (hooksInstalled)
                hooksInstalled = RemoveInputHooks(conn);
            LONG handled = conn->waitCallback(phase);
            phase = WAIT_PHASE_AGAIN;
            if (handled == 0)
                hooksInstalled = RunOwnIdleTurn(conn, hooksInstalled);
        } else {
            hooksInstalled = RunOwnIdleTurn(conn, hooksInstalled);
        }
    }
    if (hooksInstalled)
        RemoveInputHooks(conn);

    // The host's end value decides what a wait it took part in reports.
    if (phase != WAIT_PHASE_FIRST && conn->waitCallback)
        result = conn->waitCallback(WAIT_PHASE_END);

    if (heldQuit.taken)
        PostQuitMessage(heldQuit.exitCode);
    heldQuit = outerQuit;
    return result;
}
