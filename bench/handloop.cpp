// The floor: one wait made of exactly the platform calls the module's wait
// makes, written straight through with nothing around them. A 10-microsecond
// select until ready; on each turn that is not ready, the idle routine, with
// the keyboard and mouse thread hooks put on at the first such turn and
// taken off when the wait is over.
#include "bench.h"

unsigned long handPolls, handWaits;
static bool pumpMessages = true;
static HINSTANCE selfHandle;  // owner of the hook procedure, found once as the module does

bool QuietBlockMode(int blockMode)
{
    return blockMode == BLOCK_MODE_QUIET || blockMode == BLOCK_MODE_QUIET2;
}

void SetUpHandLoop(int blockMode)
{
    // The quiet modes idle with an empty routine; every other mode pumps.
    pumpMessages = !QuietBlockMode(blockMode);
    selfHandle = GetModuleHandleA(NULL);
}

LRESULT CALLBACK SwallowInput(int, WPARAM, LPARAM)
{
    return 1;
}

static void PumpOne(void)
{
    MSG msg;
    if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        return;
    if (msg.message == WM_QUIT) {
        PostQuitMessage((int)msg.wParam);
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

int HandWait(SOCKET s, int direction)
{
    HHOOK keyboard = NULL, mouse = NULL;
    bool hooked = false;
    int error = 0;
    handWaits++;
    for (;;) {
        fd_set readSet, writeSet, exceptSet;
        FD_ZERO(&readSet);
        FD_ZERO(&writeSet);
        FD_ZERO(&exceptSet);
        fd_set* wanted = direction == NET_WAIT_READ ? &readSet : &writeSet;
        FD_SET(s, wanted);
        struct timeval pollTime = {0, 10};
        handPolls++;
        if (select(0, &readSet, &writeSet, &exceptSet, &pollTime) == SOCKET_ERROR) {
            error = WSAGetLastError();
            break;
        }
        if (FD_ISSET(s, wanted))
            break;
        if (!hooked) {
            DWORD thread = GetCurrentThreadId();
            keyboard = SetWindowsHookExA(WH_KEYBOARD, SwallowInput, selfHandle, thread);
            mouse = SetWindowsHookExA(WH_MOUSE, SwallowInput, selfHandle, thread);
            hooked = true;
        }
        if (pumpMessages)
            PumpOne();
    }
    if (hooked) {
        UnhookWindowsHookEx(keyboard);
        UnhookWindowsHookEx(mouse);
    }
    return error;
}
