// What each platform call of a wait costs on its own, to read the figures
// by: under Wine most of them are a round trip to the Wine server.
#include "bench.h"
#include "loopback.h"
#include <stdio.h>

// Mean microseconds per repetition of `what` on the idle socket s.
static double Time(CallCostKind what, SOCKET s, int repetitions)
{
    HINSTANCE self = GetModuleHandleA(NULL);
    double start = Seconds();
    for (int i = 0; i < repetitions; i++) {
        switch (what) {
        case COST_SELECT_IDLE:
        case COST_SELECT_READY: {
            fd_set readSet, writeSet, exceptSet;
            FD_ZERO(&readSet);
            FD_ZERO(&writeSet);
            FD_ZERO(&exceptSet);
            FD_SET(s, what == COST_SELECT_IDLE ? &readSet : &writeSet);
            struct timeval pollTime = {0, 10};
            select(0, &readSet, &writeSet, &exceptSet, &pollTime);
            break;
        }
        case COST_HOOKS: {
            DWORD thread = GetCurrentThreadId();
            HHOOK keyboard = SetWindowsHookExA(WH_KEYBOARD, SwallowInput, self, thread);
            HHOOK mouse = SetWindowsHookExA(WH_MOUSE, SwallowInput, self, thread);
            UnhookWindowsHookEx(keyboard);
            UnhookWindowsHookEx(mouse);
            break;
        }
        default: {
            MSG msg;
            PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);
            break;
        }
        }
    }
    return (Seconds() - start) / repetitions * 1e6;
}

bool MeasureCallCosts(u_short port, Results* r)
{
    SOCKET idle = ConnectLoopback(port);
    const char echoMode = PEER_MODE_ECHO;
    if (idle == INVALID_SOCKET || send(idle, &echoMode, 1, 0) != 1) {
        printf("call costs: cannot connect to the echo peer on port %u: WSA error %d\n", port, WSAGetLastError());
        if (idle != INVALID_SOCKET)
            closesocket(idle);
        return false;
    }
    for (int what = 0; what < COST_COUNT; what++) {
        Progress("call costs");
        r->callCost[what] = Time((CallCostKind)what, idle, 2000);
    }
    closesocket(idle);
    return true;
}
