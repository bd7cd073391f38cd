// IdleTurn: the routine the module calls on each of its idle turns in block
// mode 3 (mcUserFunc=IdleTurn, mcUserDll naming this library).
#include "idle.h"

// When the last call returned, and when the wait it belonged to began.
static LONGLONG lastReturn, waitBegan;

// A WM_QUIT this routine put back, still waiting for the host's own loop.
static BOOL quitPutBack;

// Takes the next message off the thread's queue. A WM_QUIT is the host's
// own loop's to find: it goes back at once, and nothing more is taken until
// the host has taken it, since the queue hands a pending quit out before
// anything else (under Wine, looking past it with filters lost it). The
// module's hooks swallow the user's keyboard and mouse messages as they are
// taken.
static BOOL TakeMessage(MSG* msg)
{
    if (quitPutBack && PeekMessageA(msg, NULL, WM_QUIT, WM_QUIT, PM_NOREMOVE)) {
        // What came meanwhile counts as seen, or it would end every slice
        // at once (a look that finds the quit leaves it unseen under Wine).
        GetQueueStatus(QS_ALLINPUT);
        return FALSE;
    }
    quitPutBack = FALSE;
    if (!PeekMessageA(msg, NULL, 0, 0, PM_REMOVE))
        return FALSE;
    if (msg->message != WM_QUIT)
        return TRUE;
    PostQuitMessage((int)msg->wParam);
    quitPutBack = TRUE;
    return FALSE;
}

static BOOL DispatchOne(void)
{
    MSG msg;
    if (!TakeMessage(&msg))
        return FALSE;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return TRUE;
}

// IdleTurn: no arguments, no result. Dispatches at most one message, as
// pump mode does. With the queue empty, it returns at once during the first
// IDLE_POLL_WINDOW_US of a wait; later it blocks for up to one slice, and
// dispatches the message that ended the slice early, if one did.
extern "C" __declspec(dllexport) void IdleTurn(void)
{
    LONGLONG now = NowTicks();
    if (now - lastReturn > idleTicks.newWaitGap)
        waitBegan = now;
    if (!DispatchOne() && now - waitBegan >= idleTicks.pollWindow && WaitOneSlice())
        DispatchOne();
    lastReturn = NowTicks();
}
