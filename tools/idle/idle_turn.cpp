// IdleTurn: the routine the module calls on each of its idle turns in block
// mode 3 (mcUserFunc=IdleTurn, mcUserDll naming this library).
#include "idle.h"

// Where the polls cannot be seen: when the last call returned, and when
// the wait it belonged to began.
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
        // What came meanwhile counts as seen, or it would end every wait
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

// A turn that knows the module's last poll: the first turns of a wait
// return at once; later ones block on the socket (read waits) or for a
// slice (write waits, or when the socket cannot be waited on). The queue is
// looked at first every time: a host's callback that peeks at it between
// the module's poll and this turn could leave a message that no longer
// counts as new, which the wait would not wake for.
static void TurnOnPoll(PollSeen poll)
{
    if (DispatchOne() || poll.direction == POLL_NONE || poll.pollsInWait <= IDLE_POLLING_TURNS)
        return;
    Woke woke = poll.direction == POLL_READ ? WaitForReadable(poll.s, !poll.blockedBefore) : WOKE_NOT_WAITED;
    NoteTurnEnded(woke);
    if (woke == WOKE_NOT_WAITED)
        woke = WaitOneSlice() ? WOKE_MESSAGE : WOKE_NOT_WAITED;
    // The message that ended the wait is dispatched now, not a poll later.
    if (woke == WOKE_MESSAGE)
        DispatchOne();
}

// A turn that cannot see the polls guesses: a call long after the last one
// returned begins a new wait, whose first moments only poll.
static void TurnByTime(void)
{
    LONGLONG now = NowTicks();
    if (now - lastReturn > idleTicks.newWaitGap)
        waitBegan = now;
    if (!DispatchOne() && now - waitBegan >= idleTicks.pollWindow && WaitOneSlice())
        DispatchOne();
}

// IdleTurn: no arguments, no result. Dispatches at most one message, as
// pump mode does; with the queue empty, waits as above.
extern "C" __declspec(dllexport) void IdleTurn(void)
{
    if (WatchCaller(__builtin_return_address(0)))
        TurnOnPoll(LastPoll());
    else
        TurnByTime();
    lastReturn = NowTicks();
}
