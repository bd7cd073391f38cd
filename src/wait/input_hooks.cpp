// Input blocking: the two exported hook procedures and their installation.
#include "input_hooks.h"

enum { KEY_REPEAT_TOP_BIT = 0x8000 };

static void Beep(void)
{
    MessageBeep(0xFFFFFFFF);
}

// KybdBlockProc (1): discards every keyboard message and beeps unless bit 15
// of the key information is set. That is the top bit of the repeat count,
// not the key-up flag, so a key release beeps like the press. Returns 1.
extern "C" long __stdcall KybdBlockProc(int, unsigned int, long keyInfo)
{
    if (!(keyInfo & KEY_REPEAT_TOP_BIT))
        Beep();
    return 1;
}

// MouseBlockProc (2): discards every mouse message; beeps on button presses
// and double-clicks, stays silent on releases, moves and the rest. Returns 1.
extern "C" long __stdcall MouseBlockProc(int, unsigned int message, long)
{
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
        Beep();
        break;
    }
    return 1;
}

LONG InstallInputHooks(ConnBlock* conn)
{
    DWORD thread = GetCurrentThreadId();
    conn->keyboardHook = SetWindowsHookExA(WH_KEYBOARD, moduleState.keyboardProc,
                                           moduleState.moduleHandle, thread);
    conn->mouseHook = SetWindowsHookExA(WH_MOUSE, moduleState.mouseProc,
                                        moduleState.moduleHandle, thread);
    return 1;
}

LONG RemoveInputHooks(ConnBlock* conn)
{
    UnhookWindowsHookEx((HHOOK)conn->keyboardHook);
    UnhookWindowsHookEx((HHOOK)conn->mouseHook);
    return 0;
}
